#pragma once

// Tone and silence analyser of the recorder: one call per captured buffer of line audio.
//
// What it does
//   For a buffer of 8000 Hz, 16-bit mono samples (normally one second) it answers three
//   questions that the stop-recording triggers turn into decisions:
//   - Is the buffer silent, measured against the caller's silence level?
//   - Is the buffer part of an interrupted call-progress tone (busy, reorder, congestion)?
//     Reported as two frame counts; see "Counts" below.
//   - Does the buffer keep one steady level (a ring-back tone) or does it move (speech)?
//     Reported as an eleven-value level profile; see "Level profile" below.
//   The function is pure: no state between calls, no clock, no allocation that outlives the
//   call, safe on any number of threads and for any buffer length, including 0. One second
//   costs about 0.3 ms of one core (bench/tonsig).
//
// Silence
//   The buffer's mean (the converter's DC offset) is removed, the buffer is cut into 20 ms
//   blocks and the RMS is taken over all blocks but the two loudest, so that a click or two
//   of up to 40 ms do not count as sound (buffers shorter than 200 ms keep every block). The
//   buffer is silent when that RMS, in 16-bit units, is below `silenceLevel`. A full-scale
//   square wave has an RMS of 32768, so the usual level of 100 is about -50 dBFS and the range
//   20..500 spans -64..-36 dBFS. An empty buffer is silent (nothing in it reaches the level).
//
// Counts (busy, reorder and congestion tones)
//   How: the signal is high-passed at 200 Hz and cut into 40 ms Hann-windowed frames every
//   20 ms; Goertzel filters at every 25 Hz from 250 to 750 Hz give each frame's share of
//   energy per bin. The mean spectrum of the frames whose energy sits in one or two narrow
//   peaks gives the buffer's reference tone: one frequency, or a pair such as 480+620 Hz.
//   A frame is "on" when at least 75 % of its energy lies within +-50 Hz of the reference
//   peaks, its own peaks are within 1.5 % of the reference frequencies and a pair keeps its
//   balance within 10 dB. It is "off" when it is at least 5 dB below the median on frame and
//   has no peak at any frequency within 12 dB of the on frames' peaks. Up to two unclassified
//   frames between an on and an off segment are the change-over itself.
//   The buffer is an interrupted tone when it holds at least four on frames, both on and off
//   segments, every segment lasts at most 0.86 s (segments not cut by the buffer's ends also
//   at least 0.1 s) and at most 20 % of its frames are left unexplained.
//   Result: `countB` is the number of frames, (n - 320) / 160 + 1 for n >= 320 samples, else
//   0; `countA` is the number of frames explained by the interrupted tone (on, off and
//   change-over frames), or 0 when the buffer is not an interrupted tone. Over two buffers,
//   (countA1 + countA2) / (countB1 + countB2) is the share of those two seconds that was an
//   interrupted in-band tone: close to 1 for every busy and congestion cadence, whatever its
//   duty cycle and its phase against the buffers, and far from 1 for speech, silence, steady
//   tones and ring-back. The counts do not depend on `silenceLevel`.
//   Limits:
//   - tone frequencies 300..700 Hz, a single tone or two added tones; at least -60 dBFS RMS
//     (`kToneFloorRms`);
//   - segments of 0.1..0.86 s: every busy and congestion cadence in use (0.165..0.75 s), with
//     up to 10 % cadence jitter. A ring-back pause (1.8 s and more) or a steady tone (dial
//     tone, the continuous number-unobtainable tone) never makes a buffer count;
//   - white noise down to 5 dB SNR (tone power while on over noise power, full band);
//   - speech over the tone stops the count while it lasts.
//
// Level profile (ring-back versus speech)
//   How: the signal is band-limited to about 250..900 Hz (second-order Butterworth high-pass
//   and low-pass) and the peak of each 20 ms block is taken. A window of four blocks (80 ms,
//   stepped by 20 ms) has as its level the highest of its four peaks: 80 ms spans a whole
//   period of every modulating frequency in use (16 Hz and up), so a modulated ring-back tone
//   keeps one level. A window whose RMS is below `silenceLevel` is quiet and has level 0; a
//   window that holds a quiet 20 ms block besides sound straddles the start or the end of the
//   sound, shows only part of it and is left out.
//   Result: `levelProfile[k]`, k = 0..10, is the k-th decile of the window levels, in 16-bit
//   units: [0] the lowest, [5] the median, [10] the highest. On a steady tone most values are
//   equal within a few per cent; on speech they spread over tens of dB. When a ring-back burst
//   fills less than half of the buffer the median falls on the quiet windows and [5] is 0. A
//   silent buffer gives an all-zero profile.
//   Limits: line noise above `silenceLevel` fills the pauses of the ring-back with unsteady
//   levels, so the level must be set above the line's noise; a buffer that is mostly pause
//   has 0 at [5] even when somebody speaks in it.
//
// The sixth argument is reserved; callers pass -1 (`kFbsDefault`) and other values are
// treated the same.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace telvox::tonsig {

inline constexpr int kSampleRate = 8000;
inline constexpr std::int32_t kFbsDefault = -1;
inline constexpr std::size_t kLevelProfileSize = 11;
inline constexpr double kToneFloorRms = 32.0; // about -60 dBFS

using LevelProfile = std::array<std::int32_t, kLevelProfileSize>;

// Analyses one buffer. Returns 1 when the buffer is silent, 0 otherwise; fills `countA`,
// `countB` and `levelProfile` as described above.
std::int32_t Fbs(std::span<const std::int16_t> samples,
                 std::int32_t &countA,
                 std::int32_t &countB,
                 std::int32_t silenceLevel,
                 std::int32_t reserved,
                 std::span<std::int32_t, kLevelProfileSize> levelProfile);

} // namespace telvox::tonsig
