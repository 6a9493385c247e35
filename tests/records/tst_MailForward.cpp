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

// The samples of an Ogg Opus file (48 kHz); empty when it does not decode.
std::vector<std::int16_t> decodeOggOpus(const QByteArray &bytes)
{
    std::vector<std::int16_t> samples;
    int error = 0;
    OggOpusFile *file = op_open_memory(reinterpret_cast<const unsigned char *>(bytes.constData()),
                                       static_cast<std::size_t>(bytes.size()), &error);
    std::vector<opus_int16> buffer(5760);
    for (int n = 0; file && (n = op_read(file, buffer.data(), int(buffer.size()), nullptr)) > 0;)
        samples.insert(samples.end(), buffer.begin(), buffer.begin() + n);
    if (file)
        op_free(file);
    return samples;
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
    const std::vector<std::int16_t> decoded = decodeOggOpus(attachment);
    const double ms = double(decoded.size()) / 48.0;
    const double level = rmsDb(decoded);
    const double original = rmsDb(recording.samples);
    const QString facts = QStringLiteral("attachment %1 ms, %2 dB; recording %3 ms, %4 dB")
                              .arg(ms).arg(level).arg(recording.lengthMs()).arg(original);
    qInfo("%s", qPrintable(facts));
    QVERIFY2(std::abs(ms - double(recording.lengthMs())) < 30 && std::abs(level - original) < 1.5, qPrintable(facts));
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
        o.to = QStringList{"me@example.org", "partner@example.org"};
        o.host = QStringLiteral("127.0.0.1");
        o.port = port;
        o.security = security;
        o.retrySeconds = 1;
        return o;
    }
    std::unique_ptr<MailForwarder> forwarder(const ForwardOptions &o)
    {
        auto names = [](const QString &number) { return number == "5551234" ? QStringLiteral("Alice Wong") : QString(); };
        return std::make_unique<MailForwarder>(MailForwarder::Services{texts, status, queue, names}, o);
    }
    QString speechRecording(const QString &name = kRecording)
    {
        QFile::copy(qEnvironmentVariable("TELVOX_SOURCE_DIR") + "/tests/data/speech_en_female_8k.wav", recordings + "/" + name);
        return recordings + "/" + name;
    }
    QStringList statusTexts() const { return test::statusTexts(statusList); }
};

} // namespace

class tst_MailForward : public QObject
{
    Q_OBJECT
private slots:
    // The language, an unknown caller, a conversation; which kinds go out; the options.
    void composingAndOptions()
    {
        Rig rig;
        ForwardOptions o = rig.options(2525, MailSecurity::ImplicitTls);
        Texts chinese(rig.table, 1000);
        const ForwardJob m = composeForwardJob(chinese, o, rig.recordings, QStringLiteral("M2026-12-04~08-30-15~UNKNOWN.wav"),
                                               QString(), -1);
        QVERIFY2(m.subject.startsWith(QStringLiteral("与 未知来电者 的通话，2026-12-04 08:30")), qPrintable(m.subject));
        QVERIFY(!m.body.contains(QStringLiteral("线路")));
        o.kinds = QStringLiteral("AM");
        QVERIFY(o.forwards(QLatin1Char('M')) && !o.forwards(QLatin1Char('O')));

        std::tie(o.user, o.password) = std::tuple(QStringLiteral("alice"), QStringLiteral("pä55 word"));
        QVERIFY(writeForwardOptions(rig.settings, rig.dir.path(), o));
        QCOMPARE(QFile::permissions(rig.dir.file(forwardPasswordFileName())) & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(!test::readAll(rig.dir.file("telvox.ini")).contains("55 word"));
        const ForwardOptions back = readForwardOptions(rig.settings, rig.dir.path());
        QVERIFY(back.enabled && back.to == o.to && back.port == 2525 && back.kinds == o.kinds);
        QCOMPARE(back.security, MailSecurity::ImplicitTls);
        QCOMPARE(back.password, o.password);
        o.to.clear();
        QVERIFY(!o.forwards(QLatin1Char('A'))); // nowhere to send it
    }

    void deliversAPlayableOpusAttachmentOverStartTlsWithLogin()
    {
        Rig rig;
        const QString cert = rig.dir.file("cert.pem");
        const QString key = rig.dir.file("key.pem");
        QProcess openssl;
        openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days",
                                  "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
        QVERIFY(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
        SmtpSink sink(rig.dir.file("server"));
        QVERIFY(sink.start({"--cert", cert, "--key", key, "--user", "alice", "--password", "s3cret"}));
        const QString path = rig.speechRecording();
        const QByteArray before = test::readAll(path);

        ForwardOptions o = rig.options(sink.port(), MailSecurity::StartTls);
        std::tie(o.user, o.password, o.caFile) = std::tuple(QStringLiteral("alice"), QStringLiteral("s3cret"), cert);
        auto forwarder = rig.forwarder(o);
        forwarder->start();
        QVERIFY(forwarder->recordingListed(rig.recordings, kRecording, 0));
        QTRY_COMPARE_WITH_TIMEOUT(sink.received(), 1, 60000);

        const QJsonObject m = sink.message(1);
        const auto recording = readRecordingAudio(path);
        QVERIFY(recording && m.value("tls").toBool());
        const qint64 seconds = (recording->lengthMs() + 500) / 1000;
        QCOMPARE(m.value("subject").toString(), QStringLiteral("Message from Alice Wong, 2026-12-04 08:30, %1:%2")
                                                    .arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0')));
        QCOMPARE(m.value("rcpt").toArray().size(), 2);
        const QString text = m.value("text").toString();
        for (const char *fact : {"Caller: Alice Wong (5551234)", "Date and time: 2026-12-04 08:30:15", "Line: Line0"})
            QVERIFY2(text.contains(QLatin1String(fact)), qPrintable(text));
        QCOMPARE(m.value("attachments").toArray().size(), 1);
        const QJsonObject a = m.value("attachments").toArray().at(0).toObject();
        QCOMPARE(a.value("type").toString(), QStringLiteral("audio/ogg"));
        QCOMPARE(a.value("filename").toString(), QStringLiteral("A2026-12-04~08-30-15~5551234.opus"));
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
        QVERIFY(pcm);
        truespeech::EncoderStream encoder;
        std::vector<std::uint8_t> frames;
        encoder.write(pcm->samples, frames);
        encoder.flush(frames);
        const QString name = QStringLiteral("A2026-12-05~09-00-00~5550000.wav");
        const QString path = rig.recordings + "/" + name;
        QByteArray file = waveHeader(OutputFormat::TrueSpeech, static_cast<std::uint32_t>(frames.size()));
        file.append(reinterpret_cast<const char *>(frames.data()), static_cast<qsizetype>(frames.size()));
        QVERIFY(test::writeBytes(path, file));
        const QString wavName = QStringLiteral("A2026-12-05~09-05-00.wav"); // sent as the original wave file
        rig.speechRecording(wavName);

        for (const bool attachWav : {false, true}) {
            ForwardOptions o = rig.options(sink.port());
            o.attachWav = attachWav;
            auto forwarder = rig.forwarder(o);
            forwarder->start();
            QVERIFY(forwarder->recordingListed(rig.recordings, attachWav ? wavName : name, 2));
            QTRY_COMPARE_WITH_TIMEOUT(sink.received(), attachWav ? 2 : 1, 60000);
            QTRY_COMPARE(forwarder->queuedCount(), 0);
        }
        const QJsonObject a = sink.message(1).value("attachments").toArray().at(0).toObject();
        const auto decodedTrueSpeech = readRecordingAudio(path);
        QVERIFY(decodedTrueSpeech && decodedTrueSpeech->wasTrueSpeech);
        compareWithRecording(test::readAll(a.value("path").toString()), *decodedTrueSpeech);
        QCOMPARE(test::readAll(path), file);
        const QJsonObject w = sink.message(2);
        QVERIFY2(w.value("subject").toString().startsWith(QStringLiteral("Message from unknown caller, 2026-12-05 09:05")),
                 qPrintable(w.value("subject").toString()));
        const QJsonObject wa = w.value("attachments").toArray().at(0).toObject();
        QCOMPARE(wa.value("type").toString(), QStringLiteral("audio/wav"));
        QCOMPARE(test::readAll(wa.value("path").toString()), test::readAll(rig.recordings + "/" + wavName));
    }

    // Nobody answers, the program ends with the mail queued; at the next start the server first
    // refuses it, then accepts it on the retry.
    void queuedAtExitThenRefusedThenAccepted()
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
        }
        QCOMPARE(QDir(rig.queue).entryList({QStringLiteral("*.job")}, QDir::Files).size(), 1);

        SmtpSink sink(rig.dir.file("server"));
        QVERIFY(sink.start({QStringLiteral("--refuse"), QStringLiteral("1")}, port));
        auto next = rig.forwarder(rig.options(port));
        QSignalSpy failed(next.get(), &MailForwarder::mailFailed);
        next->start();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 60000);
        QVERIFY2(rig.statusTexts().contains(QStringLiteral("mail to me@example.org, partner@example.org failed: "
                                                            "server said 451 4.3.0 mailbox busy, try later; next try in 1 s")),
                 qPrintable(rig.statusTexts().join('\n')));
        QTRY_COMPARE_WITH_TIMEOUT(sink.received(), 1, 60000);
        QVERIFY(sink.message(1).value("subject").toString().startsWith(QStringLiteral("Message from Alice Wong")));
        QTRY_COMPARE(next->queuedCount(), 0);
        QCOMPARE(failed.count(), 1);
    }

    void aRecordingThatCannotBeReadIsSetAside()
    {
        Rig rig;
        QVERIFY(test::writeBytes(rig.recordings + "/" + kRecording, "RIFF...."));
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
};

QTEST_GUILESS_MAIN(tst_MailForward)
#include "tst_MailForward.moc"
