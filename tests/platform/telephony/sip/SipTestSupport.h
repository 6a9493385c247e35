#pragma once

// What the SIP line tests share: waiting on Qt's events in real time, free loopback ports,
// Debian's baresip as the far end and kamailio as the registrar, and the audio measures the
// call tests judge by.
#include "platform/telephony/WaitFor.h"
#include "core/WaveHeader.h"
#include "support/FakeShell.h"
#include "support/Files.h"
#include "support/SignalWav.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QUdpSocket>

#include <cmath>
#include <functional>
#include <numbers>

namespace telvox::test {

inline quint16 freePort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// The folder of a Debian package's modules that holds `probe`; empty when not installed.
inline QString moduleFolder(const QString &package, const QString &probe)
{
    for (const QString &dir : {"/usr/lib/x86_64-linux-gnu/" + package + "/modules", "/usr/lib/" + package + "/modules"}) {
        if (QFile::exists(dir + '/' + probe))
            return dir;
    }
    return {};
}

// A program run until it ends or the object goes.
class Peer
{
public:
    ~Peer()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(2000);
        }
    }
    bool finished(int ms) { return process.waitForFinished(ms); }
    QString output() { return m_log += QString::fromLocal8Bit(process.readAll()); }

    QProcess process;
    ScratchDir dir;

private:
    QString m_log;
};

struct BaresipCall
{
    QString target;   // "sip:telvox@127.0.0.1:5070"; empty: baresip waits for a call
    QString voiceWav; // what it says (8000 Hz mono 16-bit)
    QString from = QStringLiteral("\"Anna Caller\" <sip:5551234@127.0.0.1>");
    QString account = QStringLiteral(";regint=0"); // ";auth_pass=secret;regint=60": it registers
    QString answerMode = QStringLiteral("auto");   // for a call to it: "auto", or "early" (183 with its audio)
    int quitAfterSeconds = 10;
    quint16 listenPort = 0; // 0: any free port
    QString listenHost = QStringLiteral("127.0.0.1"); // another loopback address plays a stranger
    QString codecs = QStringLiteral("PCMU");          // what it offers and takes ("G722", "opus,G722")
    QString certificate{}; // PEM key and certificate: it also listens for TLS, on listenPort + 1
};

// baresip on the loopback interface with a private configuration: its voice from a wave file
// (aufile), what it hears written to wave files (sndfile). It dials once started and quits
// (hanging up) after the given time.
class BaresipPeer : public Peer
{
public:
    explicit BaresipPeer(const BaresipCall &call)
    {
        QDir().mkpath(dir.file("heard"));
        writeBytes(dir.file("config"),
                   QStringLiteral("poll_method epoll\nsip_listen %5:%4\naudio_source aufile,%1\n"
                                  "audio_player alsa,null\naudio_alert alsa,null\nausrc_srate 8000\nauplay_srate 8000\n"
                                  "ausrc_channels 1\nauplay_channels 1\nrtp_ports 40000-49999\nmodule_path %3\n"
                                  "module g711.so\nmodule g722.so\nmodule opus.so\nmodule srtp.so\nmodule aufile.so\nmodule alsa.so\nmodule sndfile.so\n"
                                  "module_app account.so\nmodule_app menu.so\nmodule stdio.so\nsnd_path %2\n")
                       .arg(call.voiceWav, dir.file("heard"), modules(), QString::number(call.listenPort), call.listenHost)
                       .toUtf8());
        if (!call.certificate.isEmpty())
            writeBytes(dir.file("config"), readAll(dir.file("config")) + ("sip_certificate " + call.certificate + '\n').toUtf8());
        writeBytes(dir.file("accounts"),
                   (call.from + call.account + ";audio_codecs=" + call.codecs + ";answermode=" + call.answerMode + '\n').toUtf8());
        writeBytes(dir.file("contacts"), {});
        process.setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments{"-f", dir.path(), "-t", QString::number(call.quitAfterSeconds)};
        if (!call.target.isEmpty())
            arguments << "-e" << "/dial " + call.target;
        process.start(QStandardPaths::findExecutable("baresip"), arguments);
    }
    static QString modules() { return moduleFolder("baresip", "g711.so"); }
    // A command as typed at baresip's console ("/sndcode 47#", "/accept").
    void command(const QString &line) { process.write(line.toUtf8() + '\n'); }
    // What baresip heard (the sndfile module's file of the decoded audio).
    std::vector<std::int16_t> heard() const
    {
        for (const QString &name : QDir(dir.file("heard")).entryList({"*dec*"}, QDir::Files))
            return readLineWav(dir.file("heard/" + name).toStdString());
        return {};
    }
};

// kamailio on 127.0.0.1:port (UDP and TCP) with kamailio.cfg: the registrar of the account
// "telvox" (password "secret"), ringing every phone registered for it at once.
class Registrar : public Peer
{
public:
    explicit Registrar(quint16 port)
    {
        QString config = QString::fromUtf8(
            readAll(qEnvironmentVariable("TELVOX_SOURCE_DIR") + "/tests/platform/telephony/sip/kamailio.cfg"));
        config.replace("@PORT@", QString::number(port)).replace("@MODULES@", modules() + '/');
        writeBytes(dir.file("kamailio.cfg"), config.toUtf8());
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStandardPaths::findExecutable("kamailio"), {"-f", dir.file("kamailio.cfg"), "-DD", "-E", "-m", "16", "-M",
                                                                   "4", "-Y", dir.path(), "-P", dir.file("kamailio.pid")});
        m_ready = process.waitForStarted(5000) && waitFor([port] { // once it takes TCP connections
                      QTcpSocket probe;
                      probe.connectToHost(QHostAddress::LocalHost, port);
                      return probe.waitForConnected(100);
                  }, 8000);
    }
    static QString modules() { return moduleFolder("kamailio", "registrar.so"); }
    bool ready() const { return m_ready; }

private:
    bool m_ready = false;
};

// --- audio measures -------------------------------------------------------------------------

inline double rms(const std::int16_t *x, std::size_t n)
{
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += double(x[i]) * x[i];
    return n ? std::sqrt(sum / double(n)) : 0.0;
}

// The best normalised correlation of `part` with `whole` over every lag, and that lag.
inline std::pair<double, std::size_t> bestMatch(const std::vector<std::int16_t> &whole, const std::int16_t *part,
                                                std::size_t n)
{
    std::pair<double, std::size_t> best{0.0, 0};
    const double pn = rms(part, n) * std::sqrt(double(n));
    for (std::size_t lag = 0; lag + n <= whole.size(); ++lag) {
        double dot = 0;
        for (std::size_t i = 0; i < n; ++i)
            dot += double(whole[lag + i]) * part[i];
        const double wn = rms(whole.data() + lag, n) * std::sqrt(double(n));
        if (wn > 0 && pn > 0 && dot / (wn * pn) > best.first)
            best = {dot / (wn * pn), lag};
    }
    return best;
}

// The largest share of the power, in any window of `n` samples, that the weaker of `f1` and
// `f2` has (Goertzel), 0 .. 1.
inline double bestToneShare(const std::vector<std::int16_t> &x, std::size_t n, double f1, double f2)
{
    const auto share = [&](std::size_t at, double hz) {
        const double c = 2 * std::cos(2 * std::numbers::pi * hz / 8000.0);
        double s1 = 0, s2 = 0, total = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            s2 = std::exchange(s1, x[i] + c * s1 - s2);
            total += double(x[i]) * x[i];
        }
        return total > 0 ? 2 * (s1 * s1 + s2 * s2 - c * s1 * s2) / (double(n) * total) : 0;
    };
    double best = 0;
    for (std::size_t at = 0; at + n <= x.size(); at += 160)
        best = std::max(best, std::min(share(at, f1), share(at, f2)));
    return best;
}

inline void appendTone(std::vector<std::int16_t> &out, double f1, double f2, int ms, double amplitude = 5000)
{
    for (int i = 0; i < ms * 8; ++i)
        out.push_back(static_cast<std::int16_t>(amplitude * (std::sin(2 * std::numbers::pi * f1 * i / 8000.0)
                                                             + std::sin(2 * std::numbers::pi * f2 * i / 8000.0))));
}

// A wave file of the line format (8000 Hz mono 16-bit PCM).
inline void writeLineWav(const QString &path, const std::vector<std::int16_t> &samples)
{
    const QByteArray pcm(reinterpret_cast<const char *>(samples.data()), qsizetype(samples.size() * 2));
    writeBytes(path, pcmWaveHeader(1, 8000, 16, std::uint32_t(pcm.size())) + pcm);
}

inline QString speechFile() { return qEnvironmentVariable("TELVOX_SOURCE_DIR") + "/tests/data/speech_en_male_8k.wav"; }

} // namespace telvox::test
