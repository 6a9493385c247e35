// Mail forwarding against a real SMTP server (aiosmtpd) on the loopback interface.

#include "audio/RecordingFile.h"
#include "core/Settings.h"
#include "core/Texts.h"
#include "core/VirtualEventLoop.h"
#include "platform/codec/truespeech/TrueSpeechEncoder.h"
#include "records/MailAttachment.h"
#include "records/MailForward.h"
#include "records/StatusLog.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "support/SmtpSink.h"
#include "support/StatusTexts.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <opusfile.h>

#include <cmath>

using namespace telvox;
using telvox::test::ScratchDir;
using telvox::test::SmtpSink;
using telvox::test::freePort;

namespace {

const QString kRecording = QStringLiteral("A2026-12-04~08-30-15~5551234.wav");

struct Decoded
{
    std::vector<std::int16_t> samples;
    int rate = 0;
    double lengthMs() const { return rate ? 1000.0 * double(samples.size()) / rate : 0; }
};

Decoded decodeOggOpus(const QByteArray &bytes)
{
    Decoded d;
    int error = 0;
    OggOpusFile *file = op_open_memory(reinterpret_cast<const unsigned char *>(bytes.constData()),
                                       static_cast<std::size_t>(bytes.size()), &error);
    if (!file)
        return d;
    d.rate = 48000;
    std::vector<opus_int16> buffer(5760);
    for (;;) {
        const int n = op_read(file, buffer.data(), static_cast<int>(buffer.size()), nullptr);
        if (n <= 0)
            break;
        d.samples.insert(d.samples.end(), buffer.begin(), buffer.begin() + n);
    }
    op_free(file);
    return d;
}

double rmsDb(const std::vector<std::int16_t> &samples)
{
    double sum = 0;
    for (const std::int16_t s : samples)
        sum += double(s) * s;
    return samples.empty() ? -200 : 10 * std::log10(sum / double(samples.size()) + 1e-9);
}

// The decoded attachment lasts as long as the recording and is about as loud.
void compareWithRecording(const QByteArray &attachment, const RecordingAudio &recording)
{
    const Decoded decoded = decodeOggOpus(attachment);
    QVERIFY2(!decoded.samples.empty(), "the attachment does not decode as Ogg Opus");
    QVERIFY2(std::abs(decoded.lengthMs() - double(recording.lengthMs())) < 30,
             qPrintable(QStringLiteral("%1 ms against %2 ms").arg(decoded.lengthMs()).arg(recording.lengthMs())));
    const double level = rmsDb(decoded.samples);
    const double original = rmsDb(recording.samples);
    qInfo("attachment %.1f ms / recording %lld ms; level %.2f dB / %.2f dB", decoded.lengthMs(),
          static_cast<long long>(recording.lengthMs()), level, original);
    QVERIFY2(std::abs(level - original) < 1.5, qPrintable(QStringLiteral("%1 dB against %2 dB").arg(level).arg(original)));
}

struct Rig
{
    ScratchDir dir;
    VirtualEventLoop loop;
    SettingsStore settings{dir.file("telvox.ini"), dir.file("settings.txt")};
    StringTable table;
    Texts texts{table, 0};
    StatusListModel statusList;
    StatusLog status{loop, dir.file("LogFiles"), statusList};
    QString recordings = dir.file("waveFiles");
    QString queue = dir.file("MailQueue");

    Rig()
    {
        table.loadBuiltIn();
        QDir().mkpath(recordings);
    }

    ForwardOptions options(int port, MailSecurity security = MailSecurity::None) const
    {
        ForwardOptions o;
        o.enabled = true;
        o.to = {QStringLiteral("me@example.org"), QStringLiteral("partner@example.org")};
        o.host = QStringLiteral("127.0.0.1");
        o.port = port;
        o.security = security;
        o.retrySeconds = 1;
        return o;
    }
    std::unique_ptr<MailForwarder> forwarder(const ForwardOptions &o)
    {
        auto names = [](const QString &number) {
            return number == QLatin1String("5551234") ? QStringLiteral("Alice Wong") : QString();
        };
        return std::make_unique<MailForwarder>(MailForwarder::Services{texts, status, queue, names}, o);
    }
    QString speechRecording(const QString &name = kRecording)
    {
        const QString path = QDir(recordings).filePath(name);
        QFile::copy(qEnvironmentVariable("TELVOX_SOURCE_DIR") + QStringLiteral("/tests/data/speech_en_female_8k.wav"), path);
        return path;
    }
    QStringList statusTexts() const { return test::statusTexts(statusList); }
};

} // namespace

class tst_MailForward : public QObject
{
    Q_OBJECT
private slots:
    void subjectAndBodyTellWhoWhenHowLongAndTheLine()
    {
        Rig rig;
        rig.speechRecording();
        ForwardOptions o = rig.options(25);
        const auto audio = readRecordingAudio(QDir(rig.recordings).filePath(kRecording));
        QVERIFY(audio);
        const ForwardJob job = composeForwardJob(rig.texts, o, rig.recordings, kRecording, QStringLiteral("Alice Wong"), 1);
        const QString duration = QStringLiteral("%1:%2").arg((audio->lengthMs() + 500) / 1000 / 60).arg(
            (audio->lengthMs() + 500) / 1000 % 60, 2, 10, QLatin1Char('0'));
        QCOMPARE(job.subject, QStringLiteral("Message from Alice Wong, 2026-12-04 08:30, ") + duration);
        QVERIFY(job.body.contains(QStringLiteral("Caller: Alice Wong (5551234)")));
        QVERIFY(job.body.contains(QStringLiteral("Date and time: 2026-12-04 08:30:15")));
        QVERIFY(job.body.contains(QStringLiteral("Line: Line1")));
        QCOMPARE(job.attachmentName, QStringLiteral("A2026-12-04~08-30-15~5551234.opus"));

        // Simplified Chinese, an unknown caller, a conversation.
        Texts chinese(rig.table, 1000);
        const ForwardJob m = composeForwardJob(chinese, o, rig.recordings, QStringLiteral("M2026-12-04~08-30-15~UNKNOWN.wav"),
                                               QString(), -1);
        QVERIFY2(m.subject.startsWith(QStringLiteral("与 未知来电者 的通话，2026-12-04 08:30")), qPrintable(m.subject));
        QVERIFY(!m.body.contains(QStringLiteral("线路")));

        // Only the kinds chosen are forwarded, and only with somewhere to send them.
        o.kinds = QStringLiteral("A");
        QVERIFY(o.forwards(QLatin1Char('A')));
        QVERIFY(!o.forwards(QLatin1Char('M')));
        o.to.clear();
        QVERIFY(!o.forwards(QLatin1Char('A')));
    }

    void deliversAPlayableOpusAttachmentOverStartTlsWithLogin()
    {
        Rig rig;
        const QString cert = rig.dir.file("cert.pem");
        const QString key = rig.dir.file("key.pem");
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                       QStringLiteral("-nodes"), QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert,
                       QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                       QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1")});
        QVERIFY(openssl.waitForFinished(60000));
        QCOMPARE(openssl.exitCode(), 0);
        SmtpSink sink(rig.dir.file("server"));
        QVERIFY(sink.start({QStringLiteral("--cert"), cert, QStringLiteral("--key"), key, QStringLiteral("--user"),
                            QStringLiteral("alice"), QStringLiteral("--password"), QStringLiteral("s3cret")}));
        const QString path = rig.speechRecording();
        const QByteArray before = test::readAll(path);

        ForwardOptions o = rig.options(sink.port(), MailSecurity::StartTls);
        o.user = QStringLiteral("alice");
        o.password = QStringLiteral("s3cret");
        o.caFile = cert;
        auto forwarder = rig.forwarder(o);
        forwarder->start();
        QVERIFY(forwarder->recordingListed(rig.recordings, kRecording, 0));
        QTRY_COMPARE_WITH_TIMEOUT(sink.received(), 1, 60000);

        const QJsonObject m = sink.message(1);
        QVERIFY(m.value("tls").toBool());
        QVERIFY2(m.value("subject").toString().startsWith(QStringLiteral("Message from Alice Wong, 2026-12-04 08:30, ")),
                 qPrintable(m.value("subject").toString()));
        QCOMPARE(m.value("rcpt").toArray().size(), 2);
        QVERIFY(m.value("text").toString().contains(QStringLiteral("Line: Line0")));
        const QJsonArray attachments = m.value("attachments").toArray();
        QCOMPARE(attachments.size(), 1);
        const QJsonObject a = attachments.at(0).toObject();
        QCOMPARE(a.value("type").toString(), QStringLiteral("audio/ogg"));
        QCOMPARE(a.value("filename").toString(), QStringLiteral("A2026-12-04~08-30-15~5551234.opus"));
        const auto recording = readRecordingAudio(path);
        QVERIFY(recording);
        compareWithRecording(test::readAll(a.value("path").toString()), *recording);

        QCOMPARE(test::readAll(path), before); // the recording itself is untouched
        QTRY_COMPARE(forwarder->queuedCount(), 0);
        QTRY_VERIFY(rig.statusTexts().contains(
            QStringLiteral("mail to me@example.org, partner@example.org sent: ") + m.value("subject").toString()));
    }

    void trueSpeechRecordingIsDecodedForTheAttachmentAndWavIsSentAsItIs()
    {
        Rig rig;
        SmtpSink sink(rig.dir.file("server"));
        QVERIFY(sink.start());
        // A TrueSpeech recording made by our own encoder from the speech sample.
        const auto pcm = readRecordingAudio(qEnvironmentVariable("TELVOX_SOURCE_DIR") + "/tests/data/speech_en_female_8k.wav");
        QVERIFY(pcm && pcm->sampleRate == 8000);
        truespeech::EncoderStream encoder;
        std::vector<std::uint8_t> frames;
        encoder.write(pcm->samples, frames);
        encoder.flush(frames);
        const QString name = QStringLiteral("A2026-12-05~09-00-00~5550000.wav");
        const QString path = QDir(rig.recordings).filePath(name);
        QByteArray file = waveHeader(OutputFormat::TrueSpeech, static_cast<std::uint32_t>(frames.size()));
        file.append(reinterpret_cast<const char *>(frames.data()), static_cast<qsizetype>(frames.size()));
        QVERIFY(test::writeBytes(path, file));
        // A second recording, sent as the original wave file.
        rig.speechRecording(QStringLiteral("A2026-12-05~09-05-00.wav"));

        auto forwarder = rig.forwarder(rig.options(sink.port()));
        forwarder->start();
        QVERIFY(forwarder->recordingListed(rig.recordings, name, 2));
        QTRY_COMPARE_WITH_TIMEOUT(sink.received(), 1, 60000);
        const QJsonObject a = sink.message(1).value("attachments").toArray().at(0).toObject();
        const auto decodedTrueSpeech = readRecordingAudio(path);
        QVERIFY(decodedTrueSpeech && decodedTrueSpeech->wasTrueSpeech);
        compareWithRecording(test::readAll(a.value("path").toString()), *decodedTrueSpeech);
        QCOMPARE(test::readAll(path), file);
        forwarder.reset();

        ForwardOptions wav = rig.options(sink.port());
        wav.attachWav = true;
        forwarder = rig.forwarder(wav);
        forwarder->start();
        QVERIFY(forwarder->recordingListed(rig.recordings, QStringLiteral("A2026-12-05~09-05-00.wav")));
        QTRY_COMPARE_WITH_TIMEOUT(sink.received(), 2, 60000);
        const QJsonObject w = sink.message(2);
        QVERIFY2(w.value("subject").toString().startsWith(QStringLiteral("Message from unknown caller, 2026-12-05 09:05")),
                 qPrintable(w.value("subject").toString()));
        const QJsonObject wa = w.value("attachments").toArray().at(0).toObject();
        QCOMPARE(wa.value("type").toString(), QStringLiteral("audio/wav"));
        QCOMPARE(test::readAll(wa.value("path").toString()),
                 test::readAll(QDir(rig.recordings).filePath(QStringLiteral("A2026-12-05~09-05-00.wav"))));
    }

    void refusedMailIsRetriedAndThenAccepted()
    {
        Rig rig;
        SmtpSink sink(rig.dir.file("server"));
        QVERIFY(sink.start({QStringLiteral("--refuse"), QStringLiteral("1")}));
        rig.speechRecording();
        ForwardOptions o = rig.options(sink.port());
        o.to = {QStringLiteral("me@example.org")};
        auto forwarder = rig.forwarder(o);
        QSignalSpy failed(forwarder.get(), &MailForwarder::mailFailed);
        forwarder->start();
        QVERIFY(forwarder->recordingListed(rig.recordings, kRecording));
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 60000);
        QVERIFY2(rig.statusTexts().contains(QStringLiteral(
                     "mail to me@example.org failed: server said 451 4.3.0 mailbox busy, try later; next try in 1 s")),
                 qPrintable(rig.statusTexts().join('\n')));
        QCOMPARE(forwarder->queuedCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(sink.received(), 1, 60000);
        QTRY_COMPARE(forwarder->queuedCount(), 0);
        QCOMPARE(failed.count(), 1);
    }

    void mailsQueuedAtExitAreSentAtTheNextStart()
    {
        Rig rig;
        rig.speechRecording();
        const int port = freePort(); // nobody listens there yet
        {
            auto forwarder = rig.forwarder(rig.options(port));
            QSignalSpy failed(forwarder.get(), &MailForwarder::mailFailed);
            forwarder->start();
            QVERIFY(forwarder->recordingListed(rig.recordings, kRecording));
            QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 60000);
            QVERIFY(rig.statusTexts().last().startsWith(
                QStringLiteral("mail to me@example.org, partner@example.org failed: ")));
        } // the program ends with the mail still queued
        QCOMPARE(QDir(rig.queue).entryList({QStringLiteral("*.job")}, QDir::Files).size(), 1);

        SmtpSink sink(rig.dir.file("server"));
        QVERIFY(sink.start({}, port));
        auto next = rig.forwarder(rig.options(port));
        next->start();
        QTRY_COMPARE_WITH_TIMEOUT(sink.received(), 1, 60000);
        QVERIFY(sink.message(1).value("subject").toString().startsWith(QStringLiteral("Message from Alice Wong")));
        QTRY_COMPARE(next->queuedCount(), 0);
    }

    void aRecordingThatCannotBeReadIsSetAside()
    {
        Rig rig;
        QVERIFY(test::writeBytes(QDir(rig.recordings).filePath(kRecording), "RIFF...."));
        auto forwarder = rig.forwarder(rig.options(freePort()));
        QSignalSpy failed(forwarder.get(), &MailForwarder::mailFailed);
        forwarder->start();
        QVERIFY(forwarder->recordingListed(rig.recordings, kRecording));
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 30000);
        QCOMPARE(rig.statusTexts().last(),
                 QStringLiteral("mail not sent, the recording cannot be read: %1: not a wave file").arg(kRecording));
        QCOMPARE(forwarder->queuedCount(), 0);
        QCOMPARE(QDir(rig.queue + "/failed").entryList({QStringLiteral("*.job")}, QDir::Files).size(), 1);
    }

    void optionsRoundTripAndThePasswordFileIsOwnerOnly()
    {
        Rig rig;
        ForwardOptions o = rig.options(2525, MailSecurity::ImplicitTls);
        o.user = QStringLiteral("alice");
        o.password = QStringLiteral("pä55 word");
        o.kinds = QStringLiteral("AM");
        QVERIFY(writeForwardOptions(rig.settings, rig.dir.path(), o));
        const QString passwordFile = rig.dir.file(forwardPasswordFileName());
        QCOMPARE(QFile::permissions(passwordFile) & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(!test::readAll(rig.dir.file("telvox.ini")).contains("55 word"));
        const ForwardOptions back = readForwardOptions(rig.settings, rig.dir.path());
        QCOMPARE(back.to, o.to);
        QCOMPARE(back.port, 2525);
        QCOMPARE(back.security, MailSecurity::ImplicitTls);
        QCOMPARE(back.password, o.password);
        QCOMPARE(back.kinds, QStringLiteral("AM"));
        QVERIFY(back.enabled);
    }
};

QTEST_GUILESS_MAIN(tst_MailForward)
#include "tst_MailForward.moc"
