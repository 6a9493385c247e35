// A voice-modem program by other authors against the emulator: Debian's vgetty answers an
// emulated call on each chip profile, plays its greeting, beeps and records the caller's
// message through telvox-modemsim, on the emulator's pseudo-terminal. What the emulator does
// must be good enough for a program that was written for real chips.
//
// vgetty reads its configuration, spool and log folders from fixed system paths; it runs here
// in a private mount namespace with the test's own copies mounted over them (root only), and
// reaches the pseudo-terminal through a link under /dev, as it only opens devices there.

#include "EmulatedModems.h"
#include "support/Files.h"
#include "support/Peers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <unistd.h>

using telvox::test::EmulatedModems;
using telvox::test::readAll;
using telvox::test::writeBytes;
using telvox::test::waitFor;

namespace {

constexpr const char *kVgetty = "/usr/sbin/vgetty";
constexpr int kRmdHeader = 32; // "RMD1", modem type, compression, speed, bits, reserved

// Root mean square of 8-bit unsigned audio (128 = silence) from `from` to `to` (bytes).
double rmsOfUnsigned8(const QByteArray &audio, qsizetype from, qsizetype to)
{
    to = std::min(to, audio.size());
    if (to <= from)
        return 0;
    double sum = 0;
    for (qsizetype i = from; i < to; ++i) {
        const double v = (static_cast<unsigned char>(audio[i]) - 128) * 256.0;
        sum += v * v;
    }
    return std::sqrt(sum / double(to - from));
}

} // namespace

class tst_ModemPeer : public QObject
{
    Q_OBJECT

    QString m_skip; // why the test cannot run here

private slots:
    void initTestCase()
    {
        if (!QFileInfo(QString::fromLatin1(kVgetty)).isExecutable())
            m_skip = QStringLiteral("vgetty is not installed (Debian package mgetty-voice; scripts/setup installs it)");
        else if (QStandardPaths::findExecutable(QStringLiteral("pvftormd")).isEmpty()
                 || QStandardPaths::findExecutable(QStringLiteral("pvfsine")).isEmpty())
            m_skip = QStringLiteral("pvftormd/pvfsine are not installed (Debian package mgetty-pvftools; scripts/setup installs it)");
        else if (::geteuid() != 0)
            m_skip = QStringLiteral("vgetty's configuration and spool are fixed system paths: this test mounts its own "
                                    "over them in a private mount namespace, which needs root");
        else if (QProcess::execute(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("true")}) != 0)
            m_skip = QStringLiteral("cannot create a private mount namespace here (unshare -m refused)");
    }

    void vgettyAnswersAndRecords_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("driver");
        QTest::addColumn<int>("cml"); // the chip's 8-bit unsigned linear method
        QTest::newRow("conexant") << "conexant" << "forceV253subset" << 130;
        QTest::newRow("usr") << "usr" << "forceV253" << 128;
        QTest::newRow("usr-silence-ends") << "usr-silence-ends" << "forceV253" << 128;
        QTest::newRow("agere") << "agere" << "forceV253" << 128;
        QTest::newRow("generic") << "generic" << "forceV253" << 1;
    }

    void vgettyAnswersAndRecords()
    {
        if (!m_skip.isEmpty())
            TELVOX_SKIP_WITHOUT_PEER(m_skip);
        QFETCH(QString, profile);
        QFETCH(QString, driver);
        QFETCH(int, cml);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString spool = dir.filePath("spool");
        const QString log = dir.filePath("log");
        for (const QString &sub : {spool + "/incoming", spool + "/messages", log + "/mgetty"})
            QVERIFY(QDir().mkpath(sub));

        // The greeting: three seconds of 440 Hz in vgetty's own file format (8-bit unsigned).
        const QString pvf = dir.filePath("greeting.pvf");
        const QString greeting = spool + "/messages/standard.rmd";
        QCOMPARE(QProcess::execute("pvfsine", {"-F", "440", "-L", "3", "-8", pvf}), 0);
        QCOMPARE(QProcess::execute("pvftormd", {"V253modem", "8", pvf, greeting}), 0);
        const qint64 greetingBytes = QFileInfo(greeting).size() - kRmdHeader;
        QVERIFY(greetingBytes >= 23000);

        QByteArray conf = readAll(QStringLiteral(TELVOX_VGETTY_CONF));
        QVERIFY(!conf.isEmpty());
        conf.replace("@DRIVER@", driver.toLatin1()).replace("@CML@", QByteArray::number(cml));
        const QString confPath = dir.filePath("voice.conf");
        QVERIFY(writeBytes(confPath, conf));

        EmulatedModems sim(1, profile);
        const QString pty = QFileInfo(sim.portPath(0)).symLinkTarget();
        QVERIFY2(pty.startsWith("/dev/"), qPrintable(pty));
        // vgetty opens devices under /dev only: a link of our own, removed again at the end.
        const QString tty = QStringLiteral("ttyTVX%1%2").arg(::getpid() % 10000).arg(profile.left(1));
        const QString devLink = "/dev/" + tty;
        QFile::remove(devLink);
        QVERIFY(QFile::link(pty, devLink));
        struct Cleanup
        {
            QString link;
            QProcess *process = nullptr;
            ~Cleanup()
            {
                if (process && process->state() != QProcess::NotRunning) {
                    process->kill();
                    process->waitForFinished(3000);
                }
                QFile::remove(link);
                QFile::remove("/var/lock/LCK.." + QFileInfo(link).fileName());
            }
        };
        QProcess vgetty;
        Cleanup cleanup{devLink, &vgetty};

        const QString script = QStringLiteral("mount --bind '%1' /etc/mgetty/voice.conf && mount --bind '%2' /var/spool/voice "
                                              "&& mount --bind '%3' /var/log && exec %4 -x 6 %5")
                                   .arg(confPath, spool, log, QString::fromLatin1(kVgetty), tty);
        vgetty.setProcessChannelMode(QProcess::MergedChannels);
        vgetty.start(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"), script});
        QVERIFY(vgetty.waitForStarted(5000));
        const QString logFile = log + "/mgetty/vg_" + tty + ".log";
        const auto logText = [&] { return QString::fromLatin1(readAll(logFile)); };
        QVERIFY2(waitFor([&] { return logText().contains("waiting..."); }, 60000),
                 qPrintable(logText().right(3000) + vgetty.readAll()));

        // A caller with caller ID who talks, and hangs up without a word after a few seconds of
        // message: the line then carries the busy tone, nothing else says the call is over.
        sim.tell("at 0 line 0 call number \"5551234\" name \"ANNA\" cadence 1000/2000 audio talk");
        QVERIFY2(waitFor([&] { return logText().contains("recording voice file"); }, 60000), qPrintable(logText().right(4000)));
        QVERIFY(waitFor([&] { return sim.figure(0, "recorded") >= 3 * 8000; }, 15000));
        sim.tell("at 0 line 0 hangup silent");
        QElapsedTimer sinceHangUp;
        sinceHangUp.start();
        QVERIFY2(waitFor([&] { return logText().contains("<STOP RECORDING>"); }, 30000), qPrintable(logText().right(3000)));
        const qint64 endedAfterMs = sinceHangUp.elapsed();
        QVERIFY2(vgetty.waitForFinished(20000) || logText().contains("message keep"), qPrintable(logText().right(3000)));

        const QString text = logText();
        const qint64 played = sim.figure(0, "played");
        const qint64 holds = sim.figure(0, "holds");
        const QStringList recordings = QDir(spool + "/incoming").entryList({"*.rmd"}, QDir::Files);
        QCOMPARE(recordings.size(), 1);
        const QByteArray recording = readAll(spool + "/incoming/" + recordings[0]).mid(kRmdHeader);
        const double talk = rmsOfUnsigned8(recording, 4000, 16000);
        // One line for the record of the runs.
        qInfo("%s: greeting %lld of %lld bytes played (sender held back %lld times), recording %.1f s "
              "(caller's audio RMS %.0f), ended %.1f s after the silent hang-up, caller ID %s",
              qPrintable(profile), played, greetingBytes, holds, double(recording.size()) / 8000, talk,
              double(endedAfterMs) / 1000, text.contains("caller=5551234") ? "5551234 ANNA" : "missing");

        // The greeting arrived whole (the emulator holds the burst back instead of dropping it).
        QCOMPARE(played, greetingBytes);
        // The recording holds the caller's voice.
        QVERIFY2(recording.size() >= 3 * 8000, QByteArray::number(recording.size()));
        QVERIFY2(talk > 500, QByteArray::number(talk));
        // The silent hang-up ended it within ten seconds (busy tone reports).
        QVERIFY2(endedAfterMs <= 10000, QByteArray::number(endedAfterMs));
        QVERIFY(text.contains("BUSY_TONE") || text.contains("DIAL_TONE"));
        // Caller ID reached vgetty: in its log and in the recording's name.
        QVERIFY2(text.contains("caller=5551234") && text.contains("name='ANNA'"), qPrintable(text.right(2000)));
        QVERIFY(recordings[0].contains("5551234"));
    }
};

QTEST_GUILESS_MAIN(tst_ModemPeer)
#include "tst_ModemPeer.moc"
