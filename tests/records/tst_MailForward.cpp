// Mail forwarding against a real SMTP server (aiosmtpd) on the loopback interface.

#include "audio/RecordingFile.h"
#include "platform/codec/truespeech/TrueSpeechEncoder.h"
#include "records/MailAttachment.h"
#include "records/MailForward.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "support/SmtpSink.h"
#include "support/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <opusfile.h>

#include <algorithm>
#include <cmath>

using namespace telvox;
using namespace telvox::test;

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

struct Rig : test::ProgramFolder
{
    QString recordings = dir.file("waveFiles");

    Rig() { QDir().mkpath(recordings); }

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
        return std::make_unique<MailForwarder>(MailForwarder::Services{texts, status, store, names}, o);
    }
    QString speechRecording(const QString &name = kRecording)
    {
        QFile::copy(qEnvironmentVariable("TELVOX_SOURCE_DIR") + "/tests/data/speech_en_female_8k.wav", recordings + "/" + name);
        return recordings + "/" + name;
    }
};

} // namespace

class tst_MailForward : public QObject
{
    Q_OBJECT
private slots:
    // The language, an unknown caller, a conversation; which kinds go out. (The options and the
    // owner-only password file: tst_ForwardAndBlockWindows, through the setup frame.)
    void composingAndKinds()
    {
        Rig rig;
        ForwardOptions o = rig.options(25);
        Texts chinese(rig.table, 1000);
        const ForwardJob m = composeForwardJob(chinese, o, rig.recordings, QStringLiteral("M2026-12-04~08-30-15~UNKNOWN.wav"),
                                               QString(), -1);
        QVERIFY2(m.subject.startsWith(QStringLiteral("与 未知来电者 的通话，2026-12-04 08:30")), qPrintable(m.subject));
        QVERIFY(!m.body.contains(QStringLiteral("线路")));
        o.kinds = QStringLiteral("AM");
        QVERIFY(o.forwards(QLatin1Char('M')) && !o.forwards(QLatin1Char('O')));
        o.to.clear();
        QVERIFY(!o.forwards(QLatin1Char('A'))); // nowhere to send it

        // Headers are 7-bit, also for a subject whose only non-ASCII letters are Latin-1 ones.
        const QString latin1 = QStringLiteral("Anruf von Jürgen Müller");
        const QByteArray mime = buildMimeMessage(QStringLiteral("me@example.org"), {QStringLiteral("you@example.org")},
                                                 latin1, QStringLiteral("x"), QStringLiteral("a.wav"), "audio/wav",
                                                 QByteArray(8, 'a'), QDateTime(QDate(2026, 12, 4), QTime(8, 30), Qt::UTC));
        const QByteArray headers = mime.left(mime.indexOf("\r\n\r\n"));
        QVERIFY(std::all_of(headers.begin(), headers.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
        const QByteArray word = QRegularExpression(QStringLiteral("Subject: =\\?UTF-8\\?B\\?([^?]+)\\?="))
                                    .match(QString::fromLatin1(headers)).captured(1).toLatin1();
        QCOMPARE(QString::fromUtf8(QByteArray::fromBase64(word)), latin1);
    }

    // Over STARTTLS with login: a PCM and a TrueSpeech recording (decoded by our own decoder)
    // arrive as Ogg Opus that lasts as long and is as loud as the recording; with the WAV
    // option the original file is attached. The files on disk stay as they are.
    void deliversPlayableAttachmentsOverStartTlsWithLogin()
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
        // A TrueSpeech recording made by our own encoder from the speech sample.
        const auto pcm = readRecordingAudio(path);
        QVERIFY(pcm);
        truespeech::EncoderStream encoder;
        std::vector<std::uint8_t> frames;
        encoder.write(pcm->samples, frames);
        encoder.flush(frames);
        const QString tsName = QStringLiteral("A2026-12-05~09-00-00~5550000.wav");
        QByteArray tsFile = waveHeader(OutputFormat::TrueSpeech, static_cast<std::uint32_t>(frames.size()));
        tsFile.append(reinterpret_cast<const char *>(frames.data()), static_cast<qsizetype>(frames.size()));
        QVERIFY(test::writeBytes(rig.recordings + "/" + tsName, tsFile));
        const QString wavName = QStringLiteral("A2026-12-05~09-05-00.wav");
        rig.speechRecording(wavName);

        for (const bool attachWav : {false, true}) {
            ForwardOptions o = rig.options(sink.port(), MailSecurity::StartTls);
            std::tie(o.user, o.password, o.caFile) = std::tuple(QStringLiteral("alice"), QStringLiteral("s3cret"), cert);
            o.attachWav = attachWav;
            auto forwarder = rig.forwarder(o);
            forwarder->start();
            QVERIFY(forwarder->recordingListed(rig.recordings, attachWav ? wavName : kRecording, 0));
            QVERIFY(attachWav || forwarder->recordingListed(rig.recordings, tsName, 2));
            QTRY_COMPARE_WITH_TIMEOUT(sink.received(), attachWav ? 3 : 2, 60000);
            QTRY_COMPARE(forwarder->queuedCount(), 0);
        }
        QHash<QString, QJsonObject> mails, attachments; // by the attachment's name
        for (int k = 1; k <= 3; ++k) {
            const QJsonObject a = sink.message(k).value("attachments").toArray().at(0).toObject();
            mails.insert(a.value("filename").toString(), sink.message(k));
            attachments.insert(a.value("filename").toString(), a);
        }
        const QJsonObject m = mails.value("A2026-12-04~08-30-15~5551234.opus");
        const qint64 seconds = (pcm->lengthMs() + 500) / 1000;
        QCOMPARE(m.value("subject").toString(), QStringLiteral("Message from Alice Wong, 2026-12-04 08:30, %1:%2")
                                                    .arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0')));
        QVERIFY(m.value("tls").toBool() && m.value("rcpt").toArray().size() == 2);
        for (const char *fact : {"Caller: Alice Wong (5551234)", "Date and time: 2026-12-04 08:30:15", "Line: Line0"})
            QVERIFY2(m.value("text").toString().contains(QLatin1String(fact)), qPrintable(m.value("text").toString()));
        QCOMPARE(attachments.value("A2026-12-04~08-30-15~5551234.opus").value("type").toString(), QStringLiteral("audio/ogg"));
        compareWithRecording(test::readAll(attachments.value("A2026-12-04~08-30-15~5551234.opus").value("path").toString()), *pcm);
        const auto decodedTrueSpeech = readRecordingAudio(rig.recordings + "/" + tsName);
        QVERIFY(decodedTrueSpeech && decodedTrueSpeech->wasTrueSpeech);
        compareWithRecording(test::readAll(attachments.value("A2026-12-05~09-00-00~5550000.opus").value("path").toString()),
                             *decodedTrueSpeech);
        QVERIFY(mails.value(wavName).value("subject").toString().startsWith("Message from unknown caller, 2026-12-05 09:05"));
        QCOMPARE(attachments.value(wavName).value("type").toString(), QStringLiteral("audio/wav"));
        QCOMPARE(test::readAll(attachments.value(wavName).value("path").toString()), test::readAll(rig.recordings + "/" + wavName));
        QCOMPARE(test::readAll(path), before);
        QCOMPARE(test::readAll(rig.recordings + "/" + tsName), tsFile);
        QVERIFY(rig.statusTexts().contains("mail to me@example.org, partner@example.org sent: " + m.value("subject").toString()));
    }

    // Nobody answers, the program ends with the mail queued (a recording that cannot be read is
    // set aside); at the next start the server first refuses it (its second failure: the pause
    // doubles), then accepts it on the retry.
    void queuedAtExitThenRefusedThenAccepted()
    {
        Rig rig;
        rig.speechRecording();
        const QString unreadable = QStringLiteral("A2026-12-04~09-00-00.wav");
        QVERIFY(test::writeBytes(rig.recordings + "/" + unreadable, "RIFF...."));
        const int port = freePort(); // nobody listens there yet
        {
            auto forwarder = rig.forwarder(rig.options(port));
            QSignalSpy failed(forwarder.get(), &MailForwarder::mailFailed);
            forwarder->start();
            QVERIFY(forwarder->recordingListed(rig.recordings, unreadable));
            QVERIFY(forwarder->recordingListed(rig.recordings, kRecording));
            QTRY_VERIFY_WITH_TIMEOUT(failed.count() >= 2, 60000);
            QVERIFY(rig.statusTexts().contains(
                QStringLiteral("mail not sent, the recording cannot be read: %1: not a wave file").arg(unreadable)));
            QVERIFY(rig.statusTexts().last().startsWith("mail to me@example.org, partner@example.org failed: "));
        }
        QCOMPARE(rig.store.mailJobs().size(), 1);
        QCOMPARE(rig.store.mailJobs(true).size(), 1); // the unreadable one, set aside

        SmtpSink sink(rig.dir.file("server"));
        QVERIFY(sink.start({QStringLiteral("--refuse"), QStringLiteral("1")}, port));
        auto next = rig.forwarder(rig.options(port));
        QSignalSpy failed(next.get(), &MailForwarder::mailFailed);
        next->start();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 60000);
        QVERIFY2(rig.statusTexts().contains(QStringLiteral("mail to me@example.org, partner@example.org failed: "
                                                            "server said 451 4.3.0 mailbox busy, try later; next try in 2 s")),
                 qPrintable(rig.statusTexts().join('\n')));
        QTRY_COMPARE_WITH_TIMEOUT(sink.received(), 1, 60000);
        QVERIFY(sink.message(1).value("subject").toString().startsWith(QStringLiteral("Message from Alice Wong")));
        QTRY_COMPARE(next->queuedCount(), 0);
        QCOMPARE(failed.count(), 1);
    }

    // A permanent refusal (550) ends the tries for that message: one attempt only, though the
    // retry pace is a second; the job stays in the queue marked failed, and the user is told.
    // A temporary refusal of the other message is still retried.
    void permanentRefusalStopsTheRetries()
    {
        Rig rig;
        rig.speechRecording();
        SmtpSink sink(rig.dir.file("server"));
        QVERIFY(sink.start({QStringLiteral("--refuse-for-good")}));
        auto forwarder = rig.forwarder(rig.options(sink.port()));
        QSignalSpy refused(forwarder.get(), &MailForwarder::mailRefused);
        forwarder->start();
        QVERIFY(forwarder->recordingListed(rig.recordings, kRecording));
        QTRY_COMPARE_WITH_TIMEOUT(refused.count(), 1, 60000);
        const QString said = QStringLiteral("mail to me@example.org, partner@example.org refused for good: server said "
                                            "550 5.1.1 no such mailbox; kept in the queue, marked failed, not tried again");
        QCOMPARE(refused.at(0).at(0).toString(), said);
        QVERIFY2(rig.statusTexts().contains(said), qPrintable(rig.statusTexts().join('\n')));
        QTest::qWait(3500); // three retries would have come by now
        QCOMPARE(test::readAll(rig.dir.file("server/refused.log")), QByteArray("refused\n"));
        QCOMPARE(forwarder->queuedCount(), 0);
        QCOMPARE(rig.store.mailJobs(true).size(), 1);
        QVERIFY(rig.store.mailJobs(true).at(0).lastError.startsWith("550 5.1.1"));
        forwarder.reset();
        // The next start leaves it alone too.
        auto next = rig.forwarder(rig.options(sink.port()));
        next->start();
        QTest::qWait(1500);
        QCOMPARE(test::readAll(rig.dir.file("server/refused.log")), QByteArray("refused\n"));
    }

    // The queue lives in the store: a restart keeps to the time of the next try (no mail
    // before it, unless the password changes), sends each waiting mail once, and a start
    // after that sends nothing again.
    void aRestartResumesTheQueueExactly()
    {
        Rig rig;
        const QStringList names{kRecording, "A2026-12-04~09-00-00~5550001.wav", "A2026-12-04~09-30-00.wav"};
        for (const QString &name : names)
            rig.speechRecording(name);
        const int port = freePort(); // nobody listens there yet
        ForwardOptions o = rig.options(port);
        o.retrySeconds = 600;
        {
            auto forwarder = rig.forwarder(o);
            QSignalSpy failed(forwarder.get(), &MailForwarder::mailFailed);
            forwarder->start();
            for (const QString &name : names)
                QVERIFY(forwarder->recordingListed(rig.recordings, name));
            QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 3, 60000);
        }
        for (const MailJobState &j : rig.store.mailJobs())
            QVERIFY(j.attempts == 1 && j.nextTry > QDateTime::currentDateTimeUtc().addSecs(500));

        SmtpSink sink(rig.dir.file("server"));
        QVERIFY(sink.start({}, port));
        auto next = rig.forwarder(o);
        next->start();
        QTest::qWait(1500);
        QCOMPARE(sink.received(), 0); // their next try is ten minutes away
        next->setPassword(QString());
        QTRY_COMPARE_WITH_TIMEOUT(sink.received(), 3, 60000);
        QTRY_COMPARE(next->queuedCount(), 0);
        next.reset();
        auto third = rig.forwarder(o);
        third->start();
        QTest::qWait(1500);
        QCOMPARE(sink.received(), 3);
        QStringList subjects;
        for (int k = 1; k <= 3; ++k)
            subjects << sink.message(k).value("subject").toString().section(',', 0, 0);
        QCOMPARE(subjects, (QStringList{"Message from Alice Wong", "Message from 5550001", "Message from unknown caller"}));
    }

    // An earlier version's queue folder moves into the store once: waiting jobs wait, those it
    // had given up stay given up; found again (a kill before the folder's rename) it adds
    // nothing; the waiting ones are then sent once.
    void anOldQueueFolderMovesIntoTheStoreOnce()
    {
        Rig rig;
        rig.speechRecording();
        const QString queue = rig.dir.file("MailQueue");
        QVERIFY(QDir().mkpath(queue + "/failed"));
        const auto job = [&](const QString &subject) {
            return QJsonDocument(QJsonObject{{"recording", rig.recordings + "/" + kRecording},
                                             {"to", QJsonArray{"me@example.org"}},
                                             {"subject", subject},
                                             {"body", "b"},
                                             {"attachment", "a.opus"},
                                             {"wav", false}})
                .toJson();
        };
        QVERIFY(test::writeBytes(queue + "/20261204083015000-0001.job", job("first")));
        QVERIFY(test::writeBytes(queue + "/20261204083016000-0002.job", job("second")));
        QVERIFY(test::writeBytes(queue + "/20261204083016000-0002.eml", "prepared"));
        QVERIFY(test::writeBytes(queue + "/20261203000000000-0001.failed", job("refused")));
        QVERIFY(test::writeBytes(queue + "/failed/20261202000000000-0001.job", job("unreadable")));
        QVERIFY(test::writeBytes(queue + "/notes.job", "not a job"));
        QCOMPARE(migrateMailQueue(rig.store, queue), 4);
        QVERIFY(!QFile::exists(queue) && QFile::exists(queue + ".migrated/20261204083015000-0001.job"));
        QCOMPARE(rig.store.mailJobs().size(), 2);
        QCOMPARE(rig.store.mailJobs(true).size(), 2);
        QVERIFY(QDir().rename(queue + ".migrated", queue));
        QCOMPARE(migrateMailQueue(rig.store, queue), 0);
        QVERIFY(!QFile::exists(queue) && QFile::exists(queue + ".migrated"));
        QCOMPARE(migrateMailQueue(rig.store, queue), 0); // no folder: nothing to do

        SmtpSink sink(rig.dir.file("server"));
        QVERIFY(sink.start({}));
        auto forwarder = rig.forwarder(rig.options(sink.port()));
        forwarder->start();
        QTRY_COMPARE_WITH_TIMEOUT(sink.received(), 2, 60000);
        QTRY_COMPARE(forwarder->queuedCount(), 0);
        QCOMPARE(sink.message(1).value("subject").toString(), QStringLiteral("first"));
        QCOMPARE(sink.message(2).value("subject").toString(), QStringLiteral("second"));
        QTest::qWait(1000);
        QCOMPARE(sink.received(), 2);
        QCOMPARE(rig.store.mailJobs(true).size(), 2);
    }
};

QTEST_GUILESS_MAIN(tst_MailForward)
#include "tst_MailForward.moc"
