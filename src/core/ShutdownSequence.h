#pragma once

namespace telvox {

// What the shutdown asks of the window and the subsystems. Every step's result is ignored.
class ShutdownHooks
{
public:
    virtual ~ShutdownHooks() = default;
    virtual void releaseWindowRegion() {}
    // Sends a media-control command ("close MyMedia" ends any playback).
    virtual void mediaCommand(const char *command) { (void)command; }
    virtual void closeLogChannel() {}
    // lineClose on every line whose handle is not 0.
    virtual void closeOpenLines() {}
    virtual void lineShutdown() {}
    virtual void disableLogTimer() {}
    virtual void unloadWindows() {}
    virtual void endProcess() {}
};

// The shutdown sequence, always carried to the end. Calls in progress are not dropped first:
// closing the lines ends them, and ending the process releases the rest.
inline void runShutdownSequence(ShutdownHooks &hooks)
{
    hooks.releaseWindowRegion();
    hooks.mediaCommand("close MyMedia");
    hooks.closeLogChannel();
    hooks.closeOpenLines();
    hooks.lineShutdown();
    hooks.disableLogTimer();
    hooks.unloadWindows();
    hooks.endProcess();
}

} // namespace telvox
