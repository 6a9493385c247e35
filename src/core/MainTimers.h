#pragma once

#include "core/EventLoop.h"

#include <memory>

namespace telvox {

// Every timer of the main window, with its design interval. All start disabled except timLog;
// the subsystems install their tick handlers. Per-line arrays have one element per line 0..3.
struct MainTimers
{
    explicit MainTimers(EventLoop &loop);

    TimerArray<4> Timer1;             // ring watch: ringing stopped early (interval from ringGap)
    TimerArray<4> Timer3;             // 500: waits for the end of the greeting, then the tone
    TimerArray<4> Timer4;             // 1000: a dialled call was connected: start recording
    TimerArray<4> timDropCall;        // 500: hangs up the line
    TimerArray<4> timTollSaver;       // 800: idle time after touch-tone digits
    TimerArray<4> timPlayLegalO;      // 350: prompt sequence step
    TimerArray<4> timPlayGreetingExO; // 500: prompt sequence step
    TimerArray<4> timPlayGreetingExM; // 500: end of the legal notice before a handset recording
    TimerArray<4> timChangeBuffer;    // 1: capture buffer exchange
    TimerArray<4> timWriteFile;       // 1000: recording file writing
    std::unique_ptr<Timer> timLog;    // enabled: once a day at 00:00:30, the daily log's switch
    std::unique_ptr<Timer> timPlayAll; // 2000: play all recordings one after another
    std::unique_ptr<Timer> tmMMTIMER; // 500: playback position display
    std::unique_ptr<Timer> tmPlay;    // 1000: playback progress
};

} // namespace telvox
