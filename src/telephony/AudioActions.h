#pragma once

namespace telvox {

// The audio operations the call flow invokes on a line (the audio engine carries them out).
// Each takes the line number 0..3.
class AudioActions
{
public:
    virtual ~AudioActions() = default;

    // Plays "Greeting.wav" to the line and enables Timer3 of the line, which waits for the end.
    virtual void PlayGreeting(int line) = 0;
    // Plays the refusal prompt "blocked.wav" to a blocked caller and enables Timer3 of the
    // line, which hangs up at its end.
    virtual void PlayBlockedNotice(int line) = 0;
    // Plays "legal.wav" to the line; its end starts the recording with mode "M".
    virtual void PlayLegalNotice(int line) = 0;
    // Starts capturing the call; reads the line's mode and callerId for the file name and sets
    // recState to 1 (a dialled call keeps 2).
    virtual void StartLineRecording(int line) = 0;
    // Stops the capture of the line; the capture then finishes and the file is written.
    virtual void waveInReset(int line) = 0;
    // Ends the capture of the line at once and keeps nothing of it (a dialled call that was
    // never answered).
    virtual void abandonCapture(int line) = 0;
    // Stops and closes the line's prompt output.
    virtual void ClosePromptOutput(int line) = 0;
};

} // namespace telvox
