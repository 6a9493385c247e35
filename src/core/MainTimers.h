#pragma once

#include "core/EventLoop.h"

#include <memory>

namespace telvox {

// The timers of the main window that are not a call's (those are each line's LineCall's), with
// their design intervals. All start disabled except timLog; the subsystems install their tick
// handlers. Per-line arrays have one element per line 0..3.
struct MainTimers
{
    explicit MainTimers(EventLoop &loop);

    TimerArray<4> timChangeBuffer;    // 1: capture buffer exchange
    TimerArray<4> timWriteFile;       // 1000: recording file writing
    std::unique_ptr<Timer> timLog;    // enabled: once a day at 00:00:30, the daily log's switch
    std::unique_ptr<Timer> timPlayAll; // 2000: play all recordings one after another
    std::unique_ptr<Timer> tmMMTIMER; // 500: playback position display
    std::unique_ptr<Timer> tmPlay;    // 1000: playback progress
};

} // namespace telvox
