#pragma once

#include "telephony/AudioActions.h"

#include <QString>

#include <array>
#include <functional>
#include <memory>

namespace telvox {

class EventLoop;
class LineTable;
class StatusLog;
class Texts;
class Timer;
struct MainTimers;

// Stands in for the audio engine until it exists, so that calls run their whole course: a
// prompt "plays" for as long as its wave file lasts (no sound reaches the line), a recording
// only marks the line as recording, and the end of the legal notice starts the recording with
// mode "M" as the prompt player will. Every request is reported to the trace handler.
class StandInAudio final : public AudioActions
{
public:
    StandInAudio(EventLoop &loop, MainTimers &timers, StatusLog &status, const Texts &texts, QString programFolder);
    ~StandInAudio() override;

    // The line table whose playing, mode and recState fields the requests change.
    void attach(LineTable &table) { m_table = &table; }
    void setTraceHandler(std::function<void(const QString &)> handler) { m_trace = std::move(handler); }

    void PlayGreeting(int line) override;
    void PlayLegalNotice(int line) override;
    void StartLineRecording(int line) override;
    void waveInReset(int line) override;
    void ClosePromptOutput(int line) override;

    // Playing time of a wave file in ms from its header; 0 when it cannot be read.
    static int waveDurationMs(const QString &path);

private:
    void play(int line, const QString &file);
    void trace(const QString &text);

    EventLoop &m_loop;
    MainTimers &m_timers;
    StatusLog &m_status;
    const Texts &m_texts;
    QString m_programFolder;
    LineTable *m_table = nullptr;
    std::array<std::unique_ptr<Timer>, 4> m_promptEnd;
    std::function<void(const QString &)> m_trace;
};

} // namespace telvox
