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
//   call, safe on any number of threads and for any buffer length, including 0.
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
//   and low-pass) and cut into 20 ms blocks. The line's noise floor is the 10th percentile of
//   the blocks' band-limited RMS; a block holds sound when it is at least 6 dB above that floor,
//   at most 20 dB below the loudest block and not below `silenceLevel`. A buffer whose loudest
//   block is less than 9 dB above the floor keeps one level throughout (only hiss, or only
//   tone) and has nothing to judge. So a ring-back pause is quiet whatever the line's hiss
//   (measured with white noise up to 10 dB below the tone, bench/tonsig).
//   Windows of four blocks (80 ms, stepped by 20 ms) that hold sound in every block are judged;
//   one with a quiet block straddles the start or end of the sound and is left out. A window's
//   level is its band-limited RMS above the noise floor (its power less the floor's), so that
//   hiss does not flatten the level changes of speech. A window that lies in a stretch of the
//   buffer's tone (see Counts: frames with most of their energy in the reference peaks, at
//   their frequencies, for at least 0.26 s or up to an end of the buffer, or the on frames of
//   an interrupted tone) is part of a call-progress tone and counts at the median level of all
//   such windows: noise on the tone, a slow modulation and bursts of two levels do not move it.
//   Result: `levelProfile[k]`, k = 0..10, is the k-th decile of the judged windows' levels, in
//   16-bit units: [0] the lowest, [5] the median, [10] the highest. A ring-back or busy tone
//   gives (nearly) equal values; speech spreads them, even a single 0.5 s word in a buffer
//   that is otherwise pause. Fewer than five judged windows, a silent buffer and a buffer
//   without contrast give an all-zero profile.
//   Limits: a monotonous vowel of synthetic speech can keep one level for a second (the answer
//   is then seen a second later); a vowel whose harmonic holds a tone's frequency for 0.26 s
//   counts as tone.
//
// Cost: about 0.09 ms of one core per one-second buffer (bench/tonsig).
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
