// Whole calls on a SIP line through the real call flow and audio engine, with Debian's
// baresip calling over the loopback interface in real time: baresip sends a spoken wave file
// as the caller's voice; the recording Telvox keeps is compared with it.
#include "BaresipPeer.h"
#include "audio/AudioEngine.h"
#include "audio/AudioStack.h"
#include "core/QtEventLoop.h"
#include "platform/media/VirtualMediaDevice.h"
#include "platform/telephony/sip/SipTelephony.h"
#include "records/MessageLists.h"
#include "support/AudioHarness.h"
#include "support/SignalWav.h"
#include "telephony/Dialler.h"
#include "telephony/TelephonyCore.h"

#include <QUdpSocket>

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <sys/resource.h>

#include <cmath>
#include <numbers>

using namespace telvox;
using namespace telvox::test;

namespace {

// Keeps Qt's events flowing until `predicate` holds; false once `ms` have passed without.
bool waitFor(const std::function<bool()> &predicate, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!predicate()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

constexpr double kGreetingHz = 440.0;

// A one-second 440 Hz greeting as a PCM wave file.
void writeGreeting(const QString &path)
{
    QByteArray pcm;
    for (int i = 0; i < 8000; ++i) {
        const auto v = static_cast<std::int16_t>(6000 * std::sin(2 * std::numbers::pi * kGreetingHz * i / 8000.0));
        pcm.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
    }
    QByteArray wav = "RIFF";
    const auto u32 = [](quint32 v) { return QByteArray(reinterpret_cast<const char *>(&v), 4); };
    const auto u16 = [](quint16 v) { return QByteArray(reinterpret_cast<const char *>(&v), 2); };
    wav += u32(quint32(36 + pcm.size())) + "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(8000) + u32(16000) + u16(2)
        + u16(16) + "data" + u32(quint32(pcm.size())) + pcm;
    writeBytes(path, wav);
}

double rms(const std::int16_t *x, std::size_t n)
{
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += double(x[i]) * x[i];
    return n ? std::sqrt(sum / double(n)) : 0.0;
}

// The best normalised correlation of `part` with `whole` over every lag, and that lag.
std::pair<double, std::size_t> bestMatch(const std::vector<std::int16_t> &whole, const std::int16_t *part,
                                         std::size_t n)
{
    double best = 0;
    std::size_t bestLag = 0;
    const double pn = rms(part, n) * std::sqrt(double(n));
    for (std::size_t lag = 0; lag + n <= whole.size(); ++lag) {
        double dot = 0;
        for (std::size_t i = 0; i < n; ++i)
            dot += double(whole[lag + i]) * part[i];
        const double wn = rms(whole.data() + lag, n) * std::sqrt(double(n));
        if (wn > 0 && pn > 0 && dot / (wn * pn) > best) {
            best = dot / (wn * pn);
            bestLag = lag;
        }
    }
    return {best, bestLag};
}

// The power of `hz` in `x` relative to its whole power (Goertzel), 0 .. 1.
double toneShare(const std::vector<std::int16_t> &x, double hz)
{
    if (x.empty())
        return 0;
    const double w = 2 * std::numbers::pi * hz / 8000.0;
    double s1 = 0, s2 = 0, total = 0;
    for (const std::int16_t v : x) {
        const double s0 = v + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
        total += double(v) * v;
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    return total > 0 ? 2 * power / (double(x.size()) * total) : 0;
}

// The largest share of `hz` in any half-second of `x`.
double bestToneShare(const std::vector<std::int16_t> &x, double hz)
{
    double best = 0;
    for (std::size_t at = 0; at + 4000 <= x.size(); at += 400)
        best = std::max(best, toneShare(std::vector<std::int16_t>(x.begin() + long(at), x.begin() + long(at) + 4000), hz));
    return best;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

sip::SipLineConfig loopbackLine()
{
    sip::SipLineConfig line;
    line.setup.listenAddress = QStringLiteral("127.0.0.1:0"); // a free port
    line.ringCadenceMs = {400, 600};
    return line;
}

// A wave file of the line format.
void writeLineWav(const QString &path, const std::vector<std::int16_t> &samples)
{
    QByteArray pcm(reinterpret_cast<const char *>(samples.data()), qsizetype(samples.size() * 2));
    QByteArray wav = "RIFF";
    const auto u32 = [](quint32 v) { return QByteArray(reinterpret_cast<const char *>(&v), 4); };
    const auto u16 = [](quint16 v) { return QByteArray(reinterpret_cast<const char *>(&v), 2); };
    wav += u32(quint32(36 + pcm.size())) + "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(8000) + u32(16000) + u16(2)
        + u16(16) + "data" + u32(quint32(pcm.size())) + pcm;
    writeBytes(path, wav);
}

void appendTone(std::vector<std::int16_t> &out, double f1, double f2, int ms)
{
    for (int i = 0; i < ms * 8; ++i)
        out.push_back(static_cast<std::int16_t>(5000 * (std::sin(2 * std::numbers::pi * f1 * i / 8000.0)
                                                        + std::sin(2 * std::numbers::pi * f2 * i / 8000.0))));
}

struct System
{
    explicit System(int rings, sip::SipLineConfig line = loopbackLine())
    {
        table.loadBuiltIn();
        QDir().mkpath(dir.file("LogFiles"));
        QDir().mkpath(dir.file("waveFiles"));
        QDir().mkpath(dir.file("tmp"));
        writeGreeting(dir.file("greeting.wav"));
        settings.WriteSetting("Config", "Line0", "1");
        settings.WriteSetting("Config", "Rings", QString::number(rings));
        // The learned ring gaps of a line whose rings come every second.
        for (int k = 1; k <= 6; ++k)
            settings.WriteSetting("Line0", QStringLiteral("Param%1").arg(k), "1500");
        status.OpenDayLog();

        sipLines = std::make_unique<sip::SipTelephony>(loop, std::vector<sip::SipLineConfig>{line});
        startFailure = sipLines->start();

        core = std::make_unique<TelephonyCore>(
            TelephonyServices{*sipLines, loop, settings, texts, status, prompts, timers, relay, dir.path()});
        core->setWindowChecks([] { return true; }, [] { return false; });
        audio = std::make_unique<AudioStack>(AudioStack::Services{loop, core->lineTable(), *sipLines, lists, status,
                                                                  texts, prompts, timers, speaker,
                                                                  [] { return false; }, dir.path()});
        audio->devices().addProvider(*sipLines);
        relay.setTarget(&audio->engine());
        audio->setFolders(dir.file("tmp") + "/", dir.file("waveFiles") + "/");
        audio->setOutputFormat(OutputFormat::Pcm);
        core->ResetLineHandles();
        core->InitTapi();
        core->setSetupOptions(readSetupOptions(settings));
        core->classifyDevices();
        core->setRingGaps(loadRingGaps(settings));
        core->OpenLines();
        audio->startTriggers(StopTriggerOptions{});
    }
    ~System()
    {
        audio.reset();
        core.reset();
        sipLines.reset();
    }
    QStringList recordings() const { return QDir(dir.file("waveFiles")).entryList(QDir::Files); }
    QString statusText() const { return statusList.lines().join('|'); }
    const LineSlot &slot() { return core->lineTable()[0]; }

    ScratchDir dir;
    QtEventLoop loop;
    StringTable table;
    Texts texts{table, 0};
    SettingsStore settings{dir.file("telvox.ini"), dir.file("settings.txt")};
    StatusListModel statusList;
    StatusLog status{loop, dir.file("LogFiles"), statusList};
    MainTimers timers{loop};
    ScriptedPrompts prompts;
    MessageLists lists{settings};
    VirtualMediaDevice speaker{loop};
    AudioActionsRelay relay;
    std::unique_ptr<sip::SipTelephony> sipLines;
    QString startFailure;
    std::unique_ptr<TelephonyCore> core;
    std::unique_ptr<AudioStack> audio;
};

QString speechFile() { return qEnvironmentVariable("TELVOX_SOURCE_DIR") + "/tests/data/speech_en_male_8k.wav"; }

} // namespace

class tst_SipCall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // CI installs the peer (scripts/setup); a missing one is a failure, not a skip.
        QVERIFY2(!baresipProgram().isEmpty(), "baresip is not installed: run scripts/setup (baresip-core)");
        QVERIFY2(!baresipModules().isEmpty(), "baresip's modules (g711.so) are missing: install baresip-core");
    }

    void answeredMessageIsRecordedFromTheCallersVoice()
    {
        System s(2);
        QVERIFY2(s.startFailure.isEmpty(), qPrintable(s.startFailure));
        QVERIFY(s.slot().hLine != 0);
        const QByteArray uri = s.sipLines->contactUri(0);
        QVERIFY2(uri.startsWith("sip:telvox@127.0.0.1:"), uri.constData());

        ScratchDir peerDir;
        BaresipCall call;
        call.target = QString::fromLatin1(uri);
        call.voiceWav = speechFile();
        call.quitAfterSeconds = 9;
        BaresipPeer peer(peerDir.path(), call);
        QVERIFY(peer.started());

        // Rings at the configured cadence, answered at the second.
        QVERIFY(waitFor([&] { return s.slot().hCall != 0; }, 8000));
        QElapsedTimer offered;
        offered.start();
        const double cpuBefore = cpuSeconds();
        QVERIFY(waitFor([&] { return s.slot().recState == 1; }, 10000));
        QCOMPARE(s.slot().mode, QStringLiteral("A"));
        QVERIFY2(offered.elapsed() > 300, "answered before the second ring");

        // baresip hangs up (BYE) when its voice file has been sent: the message ends and is listed.
        QVERIFY(waitFor([&] { return !s.recordings().isEmpty(); }, 15000));
        const double cpuCall = cpuSeconds() - cpuBefore;
        const double callSeconds = offered.elapsed() / 1000.0;
        QVERIFY(waitFor([&] { return s.slot().hCall == 0; }, 5000));
        const QStringList files = s.recordings();
        QCOMPARE(files.size(), 1);
        QVERIFY2(files[0].startsWith("A") && files[0].endsWith("~5551234.wav"), qPrintable(files[0]));
        QCOMPARE(s.lists.unreadEntries(), files);
        QVERIFY(s.statusText().contains("CallerID:5551234"));
        peer.finished(5000);
        const QString peerLog = peer.output();

        // What was recorded is the caller's voice: find each half-second piece of it in the
        // file sent, at one lag, at the level sent (G.711 keeps it within a decibel).
        const std::vector<std::int16_t> sent = readLineWav(speechFile().toStdString());
        const std::vector<std::int16_t> recorded
            = readLineWav(s.dir.file("waveFiles/" + files[0]).toStdString());
        QVERIFY2(recorded.size() > 8000, qPrintable(QString::number(recorded.size())));
        int matched = 0;
        int pieces = 0;
        double levelDb = 0;
        for (std::size_t at = 0; at + 4000 <= recorded.size(); at += 4000) {
            if (rms(recorded.data() + at, 4000) < 300)
                continue; // a pause in the speech, or after the file ended
            ++pieces;
            const auto [corr, lag] = bestMatch(sent, recorded.data() + at, 4000);
            if (corr > 0.9) {
                ++matched;
                levelDb += 20 * std::log10(rms(recorded.data() + at, 4000) / rms(sent.data() + lag, 4000));
            }
        }
        QVERIFY2(pieces >= 3, qPrintable(QString::number(pieces)));
        QVERIFY2(matched >= pieces - 1, qPrintable(QStringLiteral("%1 of %2").arg(matched).arg(pieces)));
        levelDb /= std::max(matched, 1);
        QVERIFY2(std::abs(levelDb) < 1.0, qPrintable(QString::number(levelDb)));

        // The caller heard the greeting, and the "*" came as a telephone event.
        QVERIFY2(peerLog.contains("received event: '*'"), qPrintable(peerLog.right(1500)));
        std::vector<std::int16_t> heard;
        for (const QString &file : peer.heardFiles()) {
            if (file.contains("dec"))
                heard = readLineWav(file.toStdString());
        }
        QVERIFY2(bestToneShare(heard, kGreetingHz) > 0.8,
                 qPrintable(QStringLiteral("%1 samples, %2").arg(heard.size()).arg(bestToneShare(heard, kGreetingHz))));

        const sip::JitterBuffer::Stats jb = s.sipLines->stack().media(0).rx.stats();
        qInfo("SIP call: %.1f s from the INVITE, CPU %.3f s (%.1f %% of one core); receive delay %.1f ms mean, "
              "send queue %.1f ms mean, %llu late, %llu concealed samples",
              callSeconds, cpuCall, 100 * cpuCall / callSeconds,
              jb.reads ? double(jb.delaySum) / double(jb.reads) / 8.0 : 0.0,
              s.sipLines->stack().media(0).meanSendingDelay() / 8.0,
              static_cast<unsigned long long>(jb.late), static_cast<unsigned long long>(jb.concealed));
    }

    // Touch tones the caller keys reach the call flow as RFC 4733 events.
    void callersTouchTonesArriveAsTelephoneEvents()
    {
        System s(1);
        QVERIFY2(s.startFailure.isEmpty(), qPrintable(s.startFailure));
        ScratchDir peerDir;
        BaresipCall call;
        call.target = QString::fromLatin1(s.sipLines->contactUri(0));
        call.voiceWav = speechFile();
        BaresipPeer peer(peerDir.path(), call);
        QVERIFY(peer.started());
        QVERIFY(waitFor([&] { return s.slot().recState == 1; }, 10000));
        QString digits;
        peer.command(QStringLiteral("/sndcode 47"));
        QVERIFY2(waitFor([&] {
                     digits += s.slot().digits;
                     return digits.contains(QLatin1String("47")) || s.slot().digits.contains(QLatin1String("47"));
                 }, 4000),
                 qPrintable(digits + QLatin1Char('|') + s.slot().digits));
    }

    // The caller gives up before the ring count (CANCEL): the line goes idle unanswered.
    void callerGivingUpLeavesTheLineIdleUnanswered()
    {
        System s(8);
        QVERIFY2(s.startFailure.isEmpty(), qPrintable(s.startFailure));
        ScratchDir peerDir;
        BaresipCall call;
        call.target = QString::fromLatin1(s.sipLines->contactUri(0));
        call.voiceWav = speechFile();
        call.quitAfterSeconds = 3;
        BaresipPeer peer(peerDir.path(), call);
        QVERIFY(peer.started());
        QVERIFY(waitFor([&] { return s.slot().hCall != 0; }, 8000));
        QVERIFY(waitFor([&] { return s.slot().hCall == 0; }, 8000));
        peer.finished(10000); // baresip waits for its CANCEL's transaction before it quits
        QVERIFY2(!peer.output().contains("Call established"), "the call was answered");
        QTest::qWait(500);
        QVERIFY(s.recordings().isEmpty());
        QCOMPARE(s.slot().recState, 0);
        // The line takes the next call.
        ScratchDir againDir;
        call.quitAfterSeconds = 2;
        BaresipPeer again(againDir.path(), call);
        QVERIFY(waitFor([&] { return s.slot().hCall != 0; }, 8000));
    }

    // A line without telephone events: touch tones travel in the audio both ways.
    void touchTonesInTheAudioWithoutTelephoneEvents()
    {
        sip::SipLineConfig line = loopbackLine();
        line.setup.telephoneEvents = false;
        System s(1, line);
        QVERIFY2(s.startFailure.isEmpty(), qPrintable(s.startFailure));
        // The caller's voice: two seconds of quiet, then "5" and "#" keyed.
        ScratchDir peerDir;
        std::vector<std::int16_t> voice(16000, 0);
        appendTone(voice, 770, 1336, 120);
        voice.insert(voice.end(), 800, 0);
        appendTone(voice, 941, 1477, 120);
        voice.insert(voice.end(), 16000, 0);
        writeLineWav(peerDir.file("keys.wav"), voice);
        BaresipCall call;
        call.target = QString::fromLatin1(s.sipLines->contactUri(0));
        call.voiceWav = peerDir.file("keys.wav");
        BaresipPeer peer(peerDir.path(), call);
        QVERIFY(peer.started());
        QString digits;
        QVERIFY2(waitFor([&] {
                     digits += s.slot().digits;
                     return digits.contains(QLatin1String("5#")) || s.slot().digits.contains(QLatin1String("5#"));
                 }, 12000),
                 qPrintable(digits + QLatin1Char('|') + s.slot().digits));
        QVERIFY(peer.finished(10000));
        // The caller heard the "*" as a tone: 941 Hz with 1209 Hz.
        std::vector<std::int16_t> heard;
        for (const QString &file : peer.heardFiles()) {
            if (file.contains("dec"))
                heard = readLineWav(file.toStdString());
        }
        std::vector<std::int16_t> window;
        double best = 0;
        for (std::size_t at = 0; at + 640 <= heard.size(); at += 160) {
            window.assign(heard.begin() + long(at), heard.begin() + long(at) + 640);
            best = std::max(best, std::min(toneShare(window, 941), toneShare(window, 1209)));
        }
        QVERIFY2(best > 0.3, qPrintable(QString::number(best)));
    }

    // Dialling out: the 200 OK is the answer; the conversation is recorded until the called
    // party hangs up.
    void dialledCallIsAnsweredAndRecorded()
    {
        System s(2);
        QVERIFY2(s.startFailure.isEmpty(), qPrintable(s.startFailure));
        quint16 port = 0;
        {
            QUdpSocket probe;
            probe.bind(QHostAddress::LocalHost, 0);
            port = probe.localPort();
        }
        ScratchDir peerDir;
        BaresipCall callee;
        callee.from = QStringLiteral("<sip:bob@127.0.0.1>");
        callee.voiceWav = speechFile();
        callee.listenPort = port;
        callee.quitAfterSeconds = 20;
        BaresipPeer peer(peerDir.path(), callee);
        QVERIFY(peer.started());
        QTest::qWait(700); // baresip binds its port
        Dialler dialler(Dialler::Services{*s.core, s.loop, s.settings, s.status, s.texts, s.timers, s.relay});
        QVERIFY(dialler.Dial(QStringLiteral("0"), QStringLiteral("bob@127.0.0.1:%1").arg(port)));
        QVERIFY2(waitFor([&] { return s.slot().recState == 2; }, 8000), qPrintable(s.statusText()));
        QCOMPARE(s.slot().mode, QStringLiteral("O"));
        // baresip's voice file ends, it hangs up: the recording is kept.
        QVERIFY(waitFor([&] { return !s.recordings().isEmpty(); }, 15000));
        QVERIFY(waitFor([&] { return s.slot().hCall == 0; }, 5000));
        const QStringList files = s.recordings();
        QVERIFY2(files.size() == 1 && files[0].startsWith("O"), qPrintable(files.join(',')));
        const std::vector<std::int16_t> recorded = readLineWav(s.dir.file("waveFiles/" + files[0]).toStdString());
        const std::vector<std::int16_t> sent = readLineWav(speechFile().toStdString());
        QVERIFY(recorded.size() > 16000);
        std::size_t loud = 0;
        while (loud + 4000 <= recorded.size() && rms(recorded.data() + loud, 4000) < 300)
            loud += 4000;
        QVERIFY(loud + 4000 <= recorded.size());
        QVERIFY2(bestMatch(sent, recorded.data() + loud, 4000).first > 0.9, "the recording is not the called party's voice");
    }
};

QTEST_GUILESS_MAIN(tst_SipCall)
#include "tst_SipCall.moc"
