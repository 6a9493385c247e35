#pragma once

// TrueSpeech encoder: analysis by synthesis around a bit-exact local decoder.
//
// Per frame of 240 samples (plus 40 samples of look-ahead):
//  - LPC analysis with an asymmetric window, quantisation of the eight reflection coefficients;
//  - the interpolation flag chosen by which filter set predicts the first half's speech better;
//  - per half frame (two subframes sharing a base lag): open-loop pitch on the weighted speech,
//    then for two base-lag candidates (one in near silence) a complete closed-loop encoding of
//    the two subframes; the candidate with the smallest perceptually weighted error is kept;
//  - per subframe: closed-loop search of the LTP code (fine lag and tap pair, or none), then a
//    search of the seven pulses (positions, 2-bit codes) and their common gain index;
//  - the chosen parameters are run through the decoder's own arithmetic, so the encoder's
//    memories always equal those of any conforming decoder.
// The error that all searches minimise is that of the decoder's final output, post-filter
// included, weighted by W(z) = A(z/0.9) / A(z/0.7). Matching the post-filtered output rather
// than the synthesis (the usual CELP choice) lets the encoder compensate the decoder's formant
// sharpening: the decoded sound follows the input more closely (segmental SNR of the decoded
// speech 2-3 dB higher) while the weighting still shapes the remaining noise under the formants.
// Every field the encoder emits lies in its legal range (see isLegal()).

#include "TrueSpeechFrame.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace telvox::truespeech {

/// Frame encoder. Input samples are floats on the 16-bit scale, free of DC.
class Encoder
{
public:
    /// Samples of the next frame that the analysis of a frame looks at.
    static constexpr int kLookahead = 40;
    static constexpr int kInputSamples = kFrameSamples + kLookahead;

    Encoder();
    ~Encoder();
    Encoder(Encoder&&) noexcept;
    Encoder& operator=(Encoder&&) noexcept;

    /// Encodes the frame held in the first 240 samples; the last 40 are the look-ahead.
    FrameFields encodeFrame(std::span<const float, kInputSamples> samples);
    /// Back to the state of a new stream.
    void reset();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

/// Encoding of a continuous stream of 8000 Hz 16-bit mono samples, delivered in pieces of any
/// size. Samples that do not yet complete a frame (with its look-ahead) are kept and encoded
/// together with the samples of later calls, so the bytes do not depend on how the signal was
/// cut into pieces. flush() ends the stream: it encodes what is left, padded with zeros.
class EncoderStream
{
public:
    EncoderStream();

    /// Result of a bounded write.
    struct Progress
    {
        std::size_t samplesUsed = 0;
        std::size_t bytesWritten = 0;
    };

    /// Takes all samples and appends every frame they complete to `out`.
    void write(std::span<const std::int16_t> samples, std::vector<std::uint8_t>& out);
    /// Writes at most out.size() / 32 frames into `out`. Samples that would complete a frame
    /// beyond that are not taken: samplesUsed tells how many were.
    Progress write(std::span<const std::int16_t> samples, std::span<std::uint8_t> out);
    /// Encodes the samples still held, padded with zeros to whole frames, appends them to `out`,
    /// and starts a new stream.
    void flush(std::vector<std::uint8_t>& out);
    /// Bounded flush; returns the bytes written. Nothing is written, and the held samples are
    /// kept, when `out` is too small for them.
    std::size_t flush(std::span<std::uint8_t> out);
    /// Drops held samples and starts a new stream.
    void reset();

    /// Samples received that are not yet part of an emitted frame.
    std::size_t pendingSamples() const { return m_buffer.size(); }
    /// Bytes flush() would write now.
    std::size_t flushBytes() const;
    /// The most bytes that write() plus flush() can produce after `samples` more samples,
    /// whatever is held now.
    static std::size_t maxBytesFor(std::size_t samples);

private:
    void encodeBufferedFrame(std::uint8_t* out);
    float removeDc(float x);

    Encoder m_encoder;
    std::vector<float> m_buffer; // DC-free samples not yet emitted; at most one frame + look-ahead
    double m_hpX = 0, m_hpY = 0; // DC blocker memory
};

} // namespace telvox::truespeech
