#include "telephony/LineCapture.h"

#include "core/MainTimers.h"
#include "telephony/AudioActions.h"
#include "telephony/LineTable.h"

namespace telvox {

int endLineCapture(int line, LineTable &lines, MainTimers &timers, AudioActions &audio)
{
    LineSlot &slot = lines[line];
    const int was = slot.recState;
    slot.recState = 0;
    slot.answerConfirmed = false;

    // A timer still pending would start a recording on a call that no longer exists, and
    // that capture would then run into the next call on the line.
    timers.Timer4[line].setEnabled(false);
    bool notice = false;
    for (TimerArray<4> *steps : {&timers.timPlayLegalO, &timers.timPlayGreetingExO, &timers.timPlayGreetingExM}) {
        notice = notice || (*steps)[line].isEnabled();
        (*steps)[line].setEnabled(false);
    }
    if (notice)
        audio.ClosePromptOutput(line);

    if (was == 2)
        audio.abandonCapture(line); // only analysed, never kept
    else if (was == 1)
        audio.waveInReset(line); // the capture finishes; its file is written
    return was;
}

bool answerDialledCall(int line, LineTable &lines, MainTimers &timers, AudioActions &audio, bool legalNoticeFirst)
{
    LineSlot &slot = lines[line];
    if (slot.recState != 2)
        return false;
    if (!legalNoticeFirst) {
        slot.recState = 1;
        return true;
    }
    // The legal notice needs the line's devices: this capture ends (nothing of it is kept),
    // then the notice plays and a new recording starts.
    audio.abandonCapture(line);
    timers.timPlayLegalO[line].setEnabled(true);
    return false;
}

} // namespace telvox
