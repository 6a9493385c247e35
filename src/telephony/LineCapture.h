#pragma once

namespace telvox {

class AudioActions;
class LineTable;
struct MainTimers;

// Ends the line's part in a call that is over (disconnected, dropped, hung up, stopped by a
// detector or the touch-tone menu), whatever the line was doing:
// - nothing may start a recording for the call any more: the dialled-call start, the legal
//   notice steps and their end watches are disabled (a notice still playing is closed);
// - a capture in progress stops: a recording (recState 1) is finished and written, a dialled
//   call that was never answered (recState 2) is dropped without leaving a file (with
//   recState 0 no capture of the call runs: there is nothing to stop);
// - recState is 0, so the next call on the line starts from a clean line.
// Returns recState as it was before.
int endLineCapture(int line, LineTable &lines, MainTimers &timers, AudioActions &audio);

// A dialled call that was only being listened to (recState 2) was answered, as the stop
// triggers heard or as the far end's signalling says: the capture becomes the recording
// (recState 1) and true is returned. When the legal notice must be heard first, the capture
// ends unkept, the notice step starts (it records afterwards) and false is returned. Any
// other recState is left alone (false).
bool answerDialledCall(int line, LineTable &lines, MainTimers &timers, AudioActions &audio, bool legalNoticeFirst);

} // namespace telvox
