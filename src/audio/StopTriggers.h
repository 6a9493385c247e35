#pragma once

#include "core/LoadSequence.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>

namespace telvox {

class AudioEngine;
class LineTable;
class StatusLog;

// The decisions made on every captured buffer of a call: silence and the fast busy tone end
// the recording (and 500 ms later the drop timer hangs up), and on a dialled call that is not
// yet answered the end of the steady ring-back tone means the called party picked up.
class StopTriggers
{
public:
    struct Services
    {
        LineTable &lines;
        AudioEngine &audio;
        StatusLog &status;
        std::function<bool()> legalNotice; // chkLegal: play the legal notice before recording
    };

    StopTriggers(Services services, StopTriggerOptions options);

    // Installs itself as the audio engine's buffer analyser.
    void attach();
    // The detector step for one buffer of a slot.
    void analyse(int slot, std::span<const std::int16_t> samples);
    // A capture starts: the slot's silence run begins again.
    void captureStarted(int slot) { m_silenceRun.at(std::size_t(slot)) = 0; }

    int silenceRun(int slot) const { return m_silenceRun.at(std::size_t(slot)); }
    int busyRun(int slot) const { return m_busyRun.at(std::size_t(slot)); }

private:
    void stop(int slot, const QString &message);
    // The analysis heard the dialled call on `slot` answered.
    void answered(int slot);

    Services m_s;
    StopTriggerOptions m_options;
    std::array<int, 4> m_silenceRun{};
    std::array<int, 4> m_busyRun{};
    std::array<std::int32_t, 4> m_prevCountA{};
    std::array<std::int32_t, 4> m_prevCountB{};
};

} // namespace telvox
