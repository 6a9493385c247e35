#pragma once

// Debian's baresip as the far end of a SIP line, on the loopback interface only: a private
// configuration in a scratch folder, the caller's voice from a wave file (the aufile source),
// and what it hears written to wave files (the sndfile module). It dials once started and
// quits (hanging up) after the given time.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace telvox::test {

inline QString baresipProgram() { return QStandardPaths::findExecutable(QStringLiteral("baresip")); }

inline QString baresipModules()
{
    for (const QString &dir : {QStringLiteral("/usr/lib/baresip/modules"),
                               QStringLiteral("/usr/lib/x86_64-linux-gnu/baresip/modules")}) {
        if (QFile::exists(dir + QStringLiteral("/g711.so")))
            return dir;
    }
    return {};
}

struct BaresipCall
{
    QString target;        // "sip:telvox@127.0.0.1:5070"; empty: baresip waits for a call and answers it
    QString voiceWav;      // what the caller says (8000 Hz mono 16-bit)
    QString from = QStringLiteral("\"Anna Caller\" <sip:5551234@127.0.0.1>");
    QString codecs = QStringLiteral("PCMU");
    int quitAfterSeconds = 10;
    quint16 listenPort = 0; // 0: any free port
};

class BaresipPeer
{
public:
    BaresipPeer(const QString &folder, const BaresipCall &call)
        : m_folder(folder)
    {
        QDir().mkpath(folder + QStringLiteral("/heard"));
        writeText(QStringLiteral("config"),
                  QStringLiteral("poll_method\t\tepoll\n"
                                 "sip_listen\t\t127.0.0.1:%4\n"
                                 "audio_source\t\taufile,%1\n"
                                 "audio_player\t\talsa,null\n"
                                 "audio_alert\t\talsa,null\n"
                                 "ausrc_srate\t\t8000\nauplay_srate\t\t8000\nausrc_channels\t\t1\nauplay_channels\t\t1\n"
                                 "rtp_ports\t\t40000-49999\n"
                                 "module_path\t\t%3\n"
                                 "module\t\t\tg711.so\nmodule\t\t\taufile.so\nmodule\t\t\talsa.so\nmodule\t\t\tsndfile.so\n"
                                 "module_app\t\taccount.so\nmodule_app\t\tmenu.so\nmodule\t\t\tstdio.so\n"
                                 "snd_path\t\t%2/heard\n")
                      .arg(call.voiceWav, folder, baresipModules(), QString::number(call.listenPort)));
        writeText(QStringLiteral("accounts"),
                  call.from + QStringLiteral(";regint=0;audio_codecs=%1%2\n")
                                  .arg(call.codecs, call.target.isEmpty() ? QStringLiteral(";answermode=auto") : QString()));
        writeText(QStringLiteral("contacts"), QString());
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setWorkingDirectory(folder);
        QStringList arguments{QStringLiteral("-f"), folder, QStringLiteral("-t"), QString::number(call.quitAfterSeconds)};
        if (!call.target.isEmpty())
            arguments << QStringLiteral("-e") << QStringLiteral("/dial ") + call.target;
        m_process.start(baresipProgram(), arguments);
    }
    ~BaresipPeer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(3000)) {
                m_process.kill();
                m_process.waitForFinished(2000);
            }
        }
    }
    bool started() { return m_process.waitForStarted(5000); }
    // A command as typed at baresip's console ("/sndcode 47#", "/hangup").
    void command(const QString &line) { m_process.write(line.toUtf8() + '\n'); }
    bool finished(int ms) { return m_process.waitForFinished(ms); }
    QString output() { return QString::fromLocal8Bit(m_process.readAll()); }
    // The wave files the sndfile module wrote of what the caller heard.
    QStringList heardFiles() const
    {
        QStringList files;
        for (const QString &name : QDir(m_folder + QStringLiteral("/heard")).entryList(QDir::Files))
            files << m_folder + QStringLiteral("/heard/") + name;
        return files;
    }

private:
    void writeText(const QString &name, const QString &text)
    {
        QFile file(m_folder + QLatin1Char('/') + name);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(text.toUtf8());
    }

    QString m_folder;
    QProcess m_process;
};

} // namespace telvox::test
