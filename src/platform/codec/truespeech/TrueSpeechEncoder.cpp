#include "TrueSpeechEncoder.h"

#include "EncoderDsp.h"
#include "PitchSearch.h"
#include "PulseSearch.h"
#include "TrueSpeechDecoder.h"
#include "TrueSpeechTables.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace telvox::truespeech {

using namespace enc;

namespace {

constexpr int kHalfSamples = 2 * kSubframeSamples;

// LPC analysis window: 40 samples of the previous frame, the frame, and the look-ahead.
constexpr int kWindowPast = 40;
constexpr int kWindowLength = kWindowPast + Encoder::kInputSamples;
constexpr int kWindowPeak = kWindowPast + 180; // rises up to frame sample 180, then falls

// Weighting filter A(z/0.9) / A(z/0.7). (With 0.6 in the denominator the noise followed the
// formants a little more, at 0.15 dB less segmental SNR.)
constexpr double kGammaNum = 0.9;
constexpr double kGammaDen = 0.7;
constexpr double kLagWindowHz = 60.0;

// Base lags tried in closed loop per half frame: the open-loop estimate and the runner-up
// (or the estimate's neighbour four lags up).
constexpr int kBaseCandidates = 2;
// A second base lag is dropped after the half's first subframe when its weighted error there
// exceeds the first base lag's by this factor (1.5: 8 % less work, no loss of segmental SNR).
constexpr double kGiveUpRatio = 1.5;
// Mean power below which a half frame counts as near silence: an RMS of 30, -61 dBFS.
constexpr float kSilentPower = 30.0f * 30.0f;

// Levinson-Durbin in the A(z) = 1 + sum a_m z^-m convention. Returns false when r[0] <= 0.
bool levinson(const std::array<double, kOrder + 1>& r, std::array<double, kOrder>& a,
              std::array<double, kOrder>& k)
{
    a.fill(0);
    k.fill(0);
    double err = r[0];
    if (!(err > 0))
        return false;
    for (int i = 0; i < kOrder; ++i) {
        double acc = r[i + 1];
        for (int j = 0; j < i; ++j)
            acc += a[j] * r[i - j];
        double ki = -acc / err;
        ki = std::clamp(ki, -0.9995, 0.9995);
        k[i] = ki;
        std::array<double, kOrder> old = a;
        for (int j = 0; j < i; ++j)
            a[j] = old[j] + ki * old[i - 1 - j];
        a[i] = ki;
        err *= 1.0 - ki * ki;
        if (err <= 0)
            break;
    }
    return true;
}

// Nearest codebook entry of a reflection coefficient, measured in the arcsine domain, which
// resolves coefficients near +-1 more finely. (Choosing among the two nearest entries of k1..k4
// by the spectral distortion of the decoder's integer filter gained nothing measurable: the
// closed-loop searches make up for the small differences.)
int quantiseReflection(int i, double k)
{
    static constexpr const std::int16_t* books[kOrder] = {
        tables::ts_cb_0, tables::ts_cb_1, tables::ts_cb_2, tables::ts_cb_3,
        tables::ts_cb_4, tables::ts_cb_5, tables::ts_cb_6, tables::ts_cb_7,
    };
    // The codebooks' arcsines, worked out once.
    static const auto arcsines = [] {
        std::array<std::vector<double>, kOrder> table;
        for (int n = 0; n < kOrder; ++n) {
            for (int j = 0; j < (1 << kReflectionBits[n]); ++j)
                table[n].push_back(std::asin(books[n][j] / 32768.0));
        }
        return table;
    }();
    const int size = 1 << kReflectionBits[i];
    const double target = std::asin(std::clamp(k, -1.0, 1.0));
    int best = 0;
    double bestDist = 1e30;
    for (int j = 0; j < size; ++j) {
        const double d = std::abs(arcsines[i][j] - target);
        if (d < bestDist) {
            bestDist = d;
            best = j;
        }
    }
    return best;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Encoder state

struct Encoder::State
{
    SynthesisState synth;           // the local decoder
    WeightingMemory errorMemory;    // W applied to speech minus synthesis
    WeightingMemory speechMemory;   // W applied to speech
    std::array<double, kOrder + 1> prevR{1, 0, 0, 0, 0, 0, 0, 0, 0}; // previous normalised autocorrelation
    std::array<float, kWindowPast> past{};                        // speech before the frame
    std::array<float, kPitchHistory + kFrameSamples> wsp{};       // weighted speech, frame at the end
    std::array<double, kWindowLength> window{};

    State()
    {
        // Asymmetric window: a raised-cosine rise to the peak, a quarter-cosine fall after it.
        for (int i = 0; i < kWindowLength; ++i) {
            if (i < kWindowPeak)
                window[i] = 0.54 - 0.46 * std::cos(std::numbers::pi * i / kWindowPeak);
            else
                window[i] = std::cos(0.5 * std::numbers::pi * (i - kWindowPeak) / (kWindowLength - kWindowPeak));
        }
    }
};

namespace {

// Per-subframe search context: everything that stays fixed while the candidates of a half are
// tried.
struct SubframeSetup
{
    const float* speech; // 60 samples
    Weighting w;
};

// The part of the state that a trial changes.
struct Trial
{
    SynthesisState synth;
    WeightingMemory errorMemory;
    FrameFields fields;
    double error = 0;
};

// Weighted target of a subframe: weighted speech minus the weighted zero-input response of
// synthesis and post-filter from the trial's state.
Vec subframeTarget(const Trial& t, const Filter& f, int k1, const SubframeSetup& setup)
{
    std::array<std::int16_t, kOrder> m1 = t.synth.m1;
    SynthesisState copy = t.synth;
    const Subframe zir = postFilter(copy, f, k1, synthesize(m1, f, Subframe{}));
    Vec diff, x;
    for (int i = 0; i < N; ++i)
        diff[i] = setup.speech[i] - zir[i];
    WeightingMemory mem = t.errorMemory;
    weight(setup.w, mem, diff.data(), x.data(), N);
    return x;
}

// Encodes subframe q of a trial with the given LTP choice and filter against the target x;
// advances the trial's state. The response and its correlations depend only on the filter, so
// the caller works them out once for all the base lags it tries.
void encodeSubframe(Trial& t, int q, const LtpChoice& ltp, const Filter& f, int k1, const SubframeSetup& setup,
                    const ResponseCorrelation& response, const Vec& x)
{
    Vec t2 = x;
    if (ltp.code != kNoLtp) {
        for (int i = 0; i < N; ++i)
            t2[i] -= ltp.response[i];
    }
    const PulseChoice pulses = searchPulses(t2, response);
    t.fields.ltp[q] = std::uint8_t(ltp.code);
    packPulses(pulses, t.fields, q);

    // Commit through the decoder's arithmetic.
    const auto u = pulseVector(t.fields.pos[q], t.fields.amp[q], t.fields.gain[q]);
    const Subframe e = updateHistory(t.synth.hist, ltp.v, u);
    const Subframe out = postFilter(t.synth, f, k1, synthesize(t.synth.m1, f, e));
    Vec err, werr;
    for (int i = 0; i < N; ++i)
        err[i] = setup.speech[i] - out[i];
    weight(setup.w, t.errorMemory, err.data(), werr.data(), N);
    t.error += dot(werr.data(), werr.data());
}

// The lag and tap pair of an LTP choice, whatever the base lag (-1: no prediction).
int absoluteLtp(const LtpChoice& ltp, int base)
{
    return ltp.code == kNoLtp ? -1 : (base + ltp.code / 25) * 25 + ltp.code % 25;
}

// The interpolation flag of a frame: whether the first two subframes' speech is predicted
// better (smaller residual energy) by the interpolated filters or by the previous frame's.
// Trying both flags in closed loop doubled the first half's cost for about 0.07 dB.
bool chooseInterpolation(const Filter& cur, const Filter& prev, std::span<const float, Encoder::kInputSamples> samples,
                         const std::array<float, kWindowPast>& past)
{
    double energy[2];
    for (int flag = 0; flag < 2; ++flag) {
        const auto filters = subframeFilters(cur, prev, flag != 0);
        double e = 0;
        for (int n = 0; n < kHalfSamples; ++n) {
            const Filter& f = filters[n / N];
            double acc = samples[n];
            for (int j = 0; j < kOrder; ++j) {
                const int i = n - 1 - j;
                acc -= f[j] / 4096.0 * (i >= 0 ? samples[i] : past[kWindowPast + i]);
            }
            e += acc * acc;
        }
        energy[flag] = e;
    }
    return energy[1] < energy[0];
}

} // namespace

Encoder::Encoder()
    : m_state(std::make_unique<State>())
{
}

Encoder::~Encoder() = default;
Encoder::Encoder(Encoder&&) noexcept = default;
Encoder& Encoder::operator=(Encoder&&) noexcept = default;

void Encoder::reset()
{
    m_state = std::make_unique<State>();
}

FrameFields Encoder::encodeFrame(std::span<const float, kInputSamples> samples)
{
    State& st = *m_state;

    // LPC analysis.
    std::array<double, kWindowLength> windowed;
    for (int i = 0; i < kWindowLength; ++i) {
        const float x = i < kWindowPast ? st.past[i] : samples[i - kWindowPast];
        windowed[i] = x * st.window[i];
    }
    std::array<double, kOrder + 1> r{};
    for (int lag = 0; lag <= kOrder; ++lag) {
        double acc = 0;
        for (int i = lag; i < kWindowLength; ++i)
            acc += windowed[i] * windowed[i - lag];
        r[lag] = acc;
    }
    if (r[0] < 1.0) {
        r.fill(0);
        r[0] = 1.0;
    }
    for (int lag = 1; lag <= kOrder; ++lag) {
        const double w = 2 * std::numbers::pi * kLagWindowHz * lag / kSampleRate;
        r[lag] *= std::exp(-0.5 * w * w) / r[0];
    }
    r[0] = 1.0001;

    std::array<double, kOrder> a, k;
    levinson(r, a, k);
    FrameFields fields;
    for (int i = 0; i < kOrder; ++i)
        fields.ki[i] = std::uint8_t(quantiseReflection(i, k[i]));
    const std::array<std::int16_t, kOrder> kq = reflectionCoefficients(fields.ki);
    const Filter cur = predictorCoefficients(kq);

    // Weighting filters per subframe from the autocorrelation interpolated between the previous
    // and this frame's analysis (whose window peaks near sample 180).
    std::array<SubframeSetup, kSubframes> setups;
    static constexpr std::array<double, kSubframes> kCurrentShare{0.375, 0.625, 0.875, 1.0};
    for (int q = 0; q < kSubframes; ++q) {
        std::array<double, kOrder + 1> rq;
        for (int i = 0; i <= kOrder; ++i)
            rq[i] = kCurrentShare[q] * r[i] + (1 - kCurrentShare[q]) * st.prevR[i];
        std::array<double, kOrder> aq, kk;
        levinson(rq, aq, kk);
        double g1 = 1, g2 = 1;
        for (int j = 0; j < kOrder; ++j) {
            g1 *= kGammaNum;
            g2 *= kGammaDen;
            setups[q].w.num[j] = float(aq[j] * g1);
            setups[q].w.den[j] = float(aq[j] * g2);
        }
        setups[q].speech = samples.data() + q * N;
    }

    // Weighted speech of the frame, for the open-loop pitch.
    std::memmove(st.wsp.data(), st.wsp.data() + kFrameSamples, kPitchHistory * sizeof(float));
    for (int q = 0; q < kSubframes; ++q)
        weight(setups[q].w, st.speechMemory, setups[q].speech, st.wsp.data() + kPitchHistory + q * N, N);

    Trial committed{st.synth, st.errorMemory, fields, 0};
    committed.fields.interpolate = chooseInterpolation(cur, st.synth.prev, samples, st.past);
    const auto filters = subframeFilters(cur, st.synth.prev, committed.fields.interpolate);
    const std::array<ResponseCorrelation, kSubframes> responses{
        ResponseCorrelation(impulseResponse(filters[0], setups[0].w, kq[0])),
        ResponseCorrelation(impulseResponse(filters[1], setups[1].w, kq[0])),
        ResponseCorrelation(impulseResponse(filters[2], setups[2].w, kq[0])),
        ResponseCorrelation(impulseResponse(filters[3], setups[3].w, kq[0])),
    };

    for (int half = 0; half < 2; ++half) {
        const auto lags = openLoopPitch(st.wsp.data() + kPitchHistory + half * kHalfSamples);
        // A near-silent half (weighted-speech correlation meaningless, no audible error to
        // save) gets only the open-loop estimate.
        float power = 0;
        for (int n = 0; n < kHalfSamples; ++n)
            power += samples[half * kHalfSamples + n] * samples[half * kHalfSamples + n];
        const int maxBases = power < kSilentPower * kHalfSamples ? 1 : kBaseCandidates;
        std::array<int, kBaseCandidates> bases{};
        int baseCount = 0;
        auto addBase = [&](int b) {
            b = std::clamp(b, 0, kMaxBasePlusFine - 4);
            if (baseCount < maxBases && std::find(bases.begin(), bases.begin() + baseCount, b) == bases.begin() + baseCount)
                bases[baseCount++] = b;
        };
        addBase(baseFor(lags[0]));
        if (lags[1] >= 0)
            addBase(baseFor(lags[1]));
        addBase(baseFor(lags[0]) + 4);

        // The first subframe of the half starts from the same state whatever the base lag: when
        // two base lags lead to the same prediction (often none at all), its pulses and state
        // are the same too.
        const int first = 2 * half;
        const Vec firstTarget = subframeTarget(committed, filters[first], kq[0], setups[first]);
        Trial best, firstDone;
        best.error = -1;
        int firstLtp = -2;
        double firstError0 = 0;
        for (int b = 0; b < baseCount; ++b) {
            const LtpChoice ltp = searchLtp(committed.synth.hist, bases[b], firstTarget, responses[first].h);
            Trial t;
            if (absoluteLtp(ltp, bases[b]) == firstLtp) {
                t = firstDone;
                t.fields.ltp[first] = std::uint8_t(ltp.code);
            } else {
                t = committed;
                encodeSubframe(t, first, ltp, filters[first], kq[0], setups[first], responses[first], firstTarget);
                firstDone = t;
                firstLtp = absoluteLtp(ltp, bases[b]);
            }
            (half == 0 ? t.fields.lagA : t.fields.lagB) = std::uint8_t(bases[b]);
            // A base lag whose first subframe already matches 50 % worse than the first
            // candidate's is given up: it practically never wins the half.
            const double firstError = t.error - committed.error;
            if (b == 0)
                firstError0 = firstError;
            else if (firstError > kGiveUpRatio * firstError0)
                continue;
            const Vec target = subframeTarget(t, filters[first + 1], kq[0], setups[first + 1]);
            const LtpChoice second = searchLtp(t.synth.hist, bases[b], target, responses[first + 1].h);
            encodeSubframe(t, first + 1, second, filters[first + 1], kq[0], setups[first + 1], responses[first + 1], target);
            if (best.error < 0 || t.error < best.error)
                best = t;
        }
        committed = best;
    }

    st.synth = committed.synth;
    st.synth.prev = cur;
    st.errorMemory = committed.errorMemory;
    st.prevR = r;
    std::copy(samples.begin() + kFrameSamples - kWindowPast, samples.begin() + kFrameSamples, st.past.begin());
    return committed.fields;
}

// ---------------------------------------------------------------------------------------------
// Stream

namespace {

// DC blocker y[n] = x[n] - x[n-1] + R y[n-1], cut-off about 6 Hz. A steeper high-pass (hum
// removal at 60-80 Hz) shifts the phase of a low voice's fundamental so much that the waveform
// match, which is what the analysis by synthesis optimises, loses 2-3 dB.
constexpr double kDcPole = 0.995;

} // namespace

EncoderStream::EncoderStream()
{
    m_buffer.reserve(Encoder::kInputSamples);
}

float EncoderStream::removeDc(float x)
{
    const double y = x - m_hpX + kDcPole * m_hpY;
    m_hpX = x;
    m_hpY = y;
    return float(y);
}

void EncoderStream::encodeBufferedFrame(std::uint8_t* out)
{
    const FrameFields fields = m_encoder.encodeFrame(std::span<const float, Encoder::kInputSamples>(m_buffer.data(), Encoder::kInputSamples));
    const FrameBytes bytes = pack(fields);
    std::memcpy(out, bytes.data(), kFrameBytes);
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + kFrameSamples);
}

EncoderStream::Progress EncoderStream::write(std::span<const std::int16_t> samples, std::span<std::uint8_t> out)
{
    Progress progress;
    const std::size_t maxFrames = out.size() / kFrameBytes;
    std::size_t frames = 0;
    while (true) {
        const std::size_t need = Encoder::kInputSamples - m_buffer.size();
        const std::size_t left = samples.size() - progress.samplesUsed;
        if (left < need) {
            for (std::size_t i = 0; i < left; ++i)
                m_buffer.push_back(removeDc(samples[progress.samplesUsed + i]));
            progress.samplesUsed += left;
            break;
        }
        if (frames == maxFrames)
            break;
        for (std::size_t i = 0; i < need; ++i)
            m_buffer.push_back(removeDc(samples[progress.samplesUsed + i]));
        progress.samplesUsed += need;
        encodeBufferedFrame(out.data() + frames * kFrameBytes);
        ++frames;
    }
    progress.bytesWritten = frames * kFrameBytes;
    return progress;
}

void EncoderStream::write(std::span<const std::int16_t> samples, std::vector<std::uint8_t>& out)
{
    const std::size_t frames = (m_buffer.size() + samples.size()) / kFrameSamples + 1;
    const std::size_t start = out.size();
    out.resize(start + frames * kFrameBytes);
    const Progress p = write(samples, std::span<std::uint8_t>(out.data() + start, frames * kFrameBytes));
    out.resize(start + p.bytesWritten);
}

std::size_t EncoderStream::flushBytes() const
{
    return (m_buffer.size() + kFrameSamples - 1) / kFrameSamples * kFrameBytes;
}

std::size_t EncoderStream::flush(std::span<std::uint8_t> out)
{
    const std::size_t bytes = flushBytes();
    if (out.size() < bytes)
        return 0;
    std::size_t real = m_buffer.size();
    std::size_t written = 0;
    while (real > 0) {
        // Zeros after the DC blocker: zeros before it would make a step of any offset.
        m_buffer.resize(Encoder::kInputSamples, 0.0f);
        encodeBufferedFrame(out.data() + written);
        written += kFrameBytes;
        real = real > std::size_t(kFrameSamples) ? real - kFrameSamples : 0;
    }
    reset();
    return written;
}

void EncoderStream::flush(std::vector<std::uint8_t>& out)
{
    const std::size_t start = out.size();
    out.resize(start + flushBytes());
    flush(std::span<std::uint8_t>(out.data() + start, out.size() - start));
}

void EncoderStream::reset()
{
    m_encoder.reset();
    m_buffer.clear();
    m_hpX = m_hpY = 0;
}

std::size_t EncoderStream::maxBytesFor(std::size_t samples)
{
    // At most kInputSamples - 1 samples are held between calls.
    const std::size_t total = samples + Encoder::kInputSamples - 1;
    return (total + kFrameSamples - 1) / kFrameSamples * kFrameBytes;
}

} // namespace telvox::truespeech
