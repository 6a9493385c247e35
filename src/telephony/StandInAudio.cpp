#include "telephony/StandInAudio.h"

#include "core/EventLoop.h"
#include "core/MainTimers.h"
#include "core/Texts.h"
#include "records/StatusLog.h"
#include "telephony/LineTable.h"

#include <QDir>
#include <QFile>

namespace telvox {

namespace {

// Little-endian fields of a byte array (the caller has checked the bounds).
quint32 le32(const QByteArray &b, qsizetype at)
{
    return quint32(uchar(b[at])) | quint32(uchar(b[at + 1])) << 8 | quint32(uchar(b[at + 2])) << 16
           | quint32(uchar(b[at + 3])) << 24;
}

// The file of that name in the folder, whatever the case of its letters.
QString findIgnoringCase(const QString &folder, const QString &name)
{
    const QDir dir(folder);
    const QStringList entries = dir.entryList(QDir::Files);
    for (const QString &entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return dir.filePath(entry);
    }
    return {};
}

} // namespace

StandInAudio::StandInAudio(EventLoop &loop, MainTimers &timers, StatusLog &status, const Texts &texts,
                           QString programFolder)
    : m_loop(loop)
    , m_timers(timers)
    , m_status(status)
    , m_texts(texts)
    , m_programFolder(std::move(programFolder))
{
    for (int n = 0; n < 4; ++n) {
        m_promptEnd[static_cast<std::size_t>(n)] = m_loop.createTimer(1000, [this, n] {
            // The output device reports the end of the buffer.
            m_promptEnd[static_cast<std::size_t>(n)]->setEnabled(false);
            if (m_table)
                (*m_table)[n].playing = false;
        });
    }
    // The end of the legal notice before a conversation is recorded.
    m_timers.timPlayGreetingExM.setHandler([this](int n) {
        if (!m_table || (*m_table)[n].playing)
            return;
        m_timers.timPlayGreetingExM[n].setEnabled(false);
        ClosePromptOutput(n);
        for (int i = 0; i < 4; ++i)
            m_loop.doEvents();
        (*m_table)[n].mode = QStringLiteral("M");
        StartLineRecording(n);
        m_status.AddStatus(QStringLiteral("Line") + QString::number(n) + m_texts.LoadText(1060));
    });
}

StandInAudio::~StandInAudio() { m_timers.timPlayGreetingExM.setHandler({}); }

void StandInAudio::trace(const QString &text)
{
    if (m_trace)
        m_trace(text);
}

int StandInAudio::waveDurationMs(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray bytes = file.read(1 << 20);
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return 0;
    quint32 byteRate = 0;
    qsizetype pos = 12;
    while (pos + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(pos, 4);
        const quint32 size = le32(bytes, pos + 4);
        if (id == "fmt " && pos + 20 <= bytes.size())
            byteRate = le32(bytes, pos + 16);
        if (id == "data")
            return byteRate == 0 ? 0 : static_cast<int>(static_cast<qint64>(size) * 1000 / byteRate);
        pos += 8 + static_cast<qsizetype>(size) + (size & 1);
    }
    return 0;
}

void StandInAudio::play(int line, const QString &file)
{
    const int ms = waveDurationMs(findIgnoringCase(m_programFolder, file));
    if (ms <= 0)
        return; // nothing to play: playing stays false
    (*m_table)[line].playing = true;
    Timer &end = *m_promptEnd[static_cast<std::size_t>(line)];
    end.setInterval(ms);
    end.setEnabled(true);
}

void StandInAudio::PlayGreeting(int line)
{
    trace(QStringLiteral("PlayGreeting %1").arg(line));
    if (!m_table || (*m_table)[line].playing)
        return;
    play(line, QStringLiteral("Greeting.wav"));
    m_timers.Timer3[line].setEnabled(true);
}

void StandInAudio::PlayLegalNotice(int line)
{
    trace(QStringLiteral("PlayLegalNotice %1").arg(line));
    if (!m_table || (*m_table)[line].playing)
        return;
    play(line, QStringLiteral("legal.wav"));
    m_timers.timPlayGreetingExM[line].setEnabled(true);
}

void StandInAudio::StartLineRecording(int line)
{
    if (!m_table)
        return;
    LineSlot &slot = (*m_table)[line];
    trace(QStringLiteral("StartLineRecording %1 %2%3").arg(line).arg(slot.mode, slot.callerId));
    if (slot.recState != 2)
        slot.recState = 1;
}

void StandInAudio::waveInReset(int line) { trace(QStringLiteral("waveInReset %1").arg(line)); }

void StandInAudio::ClosePromptOutput(int line)
{
    trace(QStringLiteral("ClosePromptOutput %1").arg(line));
    m_promptEnd[static_cast<std::size_t>(line)]->setEnabled(false);
    if (m_table)
        (*m_table)[line].playing = false;
}

} // namespace telvox
