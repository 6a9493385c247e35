#include "audio/SpeechVoice.h"

#include <espeak-ng/speak_lib.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace telvox {

namespace {

// The entry points of libespeak-ng that are used, looked up once per process: the engine
// keeps its state per process, not per object.
struct Espeak
{
    void *handle = nullptr;
    int rate = 0;
    decltype(&espeak_Initialize) initialize = nullptr;
    decltype(&espeak_SetSynthCallback) setCallback = nullptr;
    decltype(&espeak_SetVoiceByName) setVoice = nullptr;
    decltype(&espeak_Synth) synth = nullptr;
};

Espeak &engine()
{
    static Espeak e;
    return e;
}

int collect(short *wav, int count, espeak_EVENT *events)
{
    if (wav && count > 0 && events)
        static_cast<std::vector<std::int16_t> *>(events->user_data)->insert(
            static_cast<std::vector<std::int16_t> *>(events->user_data)->end(), wav, wav + count);
    return 0; // go on
}

} // namespace

bool SpeechVoice::load()
{
    if (m_tried)
        return m_loaded;
    m_tried = true;
    Espeak &e = engine();
    if (!e.handle) {
        void *handle = dlopen("libespeak-ng.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            m_error = QString::fromLocal8Bit(dlerror());
            return false;
        }
        e.initialize = reinterpret_cast<decltype(e.initialize)>(dlsym(handle, "espeak_Initialize"));
        e.setCallback = reinterpret_cast<decltype(e.setCallback)>(dlsym(handle, "espeak_SetSynthCallback"));
        e.setVoice = reinterpret_cast<decltype(e.setVoice)>(dlsym(handle, "espeak_SetVoiceByName"));
        e.synth = reinterpret_cast<decltype(e.synth)>(dlsym(handle, "espeak_Synth"));
        if (!e.initialize || !e.setCallback || !e.setVoice || !e.synth) {
            m_error = QStringLiteral("libespeak-ng lacks an expected function");
            dlclose(handle);
            return false;
        }
        e.rate = e.initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, 0);
        if (e.rate <= 0) {
            m_error = QStringLiteral("libespeak-ng could not start (espeak-ng-data missing?)");
            dlclose(handle);
            return false;
        }
        e.setCallback(&collect);
        e.handle = handle;
    }
    m_loaded = true;
    return true;
}

std::optional<QByteArray> SpeechVoice::render(const QString &text, SpeechLanguage language)
{
    const QString key = voiceName(language) + QLatin1Char('\n') + text;
    if (const auto cached = m_cache.constFind(key); cached != m_cache.constEnd())
        return *cached;
    if (!load())
        return std::nullopt;
    Espeak &e = engine();
    if (e.setVoice(voiceName(language).toLatin1().constData()) != EE_OK) {
        m_error = QStringLiteral("libespeak-ng has no voice %1").arg(voiceName(language));
        return std::nullopt;
    }
    const QByteArray utf8 = text.toUtf8();
    std::vector<std::int16_t> samples;
    const espeak_ERROR result = e.synth(utf8.constData(), static_cast<size_t>(utf8.size()) + 1, 0, POS_CHARACTER, 0,
                                        espeakCHARS_UTF8, nullptr, &samples);
    if (result != EE_OK || samples.empty()) {
        m_error = QStringLiteral("libespeak-ng could not speak the text");
        return std::nullopt;
    }
    const std::vector<std::int16_t> line = resampleToLine(samples, e.rate);
    const QByteArray pcm(reinterpret_cast<const char *>(line.data()), static_cast<qsizetype>(line.size() * 2));
    if (m_cache.size() >= kCacheEntries)
        m_cache.clear();
    m_cache.insert(key, pcm);
    return pcm;
}

std::vector<std::int16_t> resampleToLine(std::span<const std::int16_t> samples, int fromRate)
{
    constexpr int kLineRate = 8000;
    constexpr double kCutoff = 3600.0;
    constexpr int kHalfTaps = 16;
    if (fromRate <= 0 || samples.empty())
        return {};
    const double step = double(fromRate) / kLineRate;
    const auto count = static_cast<std::size_t>(double(samples.size()) / step);
    const double fc = kCutoff / fromRate; // cycles per input sample
    std::vector<std::int16_t> out(count);
    for (std::size_t n = 0; n < count; ++n) {
        const double t = double(n) * step;
        const auto centre = static_cast<std::int64_t>(t);
        double sum = 0;
        double weight = 0;
        for (std::int64_t k = centre - kHalfTaps + 1; k <= centre + kHalfTaps; ++k) {
            const double x = t - double(k);
            // A windowed sinc (Hann) centred on the output instant.
            const double sinc = x == 0 ? 2 * fc : std::sin(2 * std::numbers::pi * fc * x) / (std::numbers::pi * x);
            const double window = 0.5 + 0.5 * std::cos(std::numbers::pi * x / kHalfTaps);
            const double h = sinc * window;
            weight += h;
            if (k >= 0 && k < std::int64_t(samples.size()))
                sum += h * samples[static_cast<std::size_t>(k)];
        }
        const double v = weight != 0 ? sum / weight : 0;
        out[n] = static_cast<std::int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
    }
    return out;
}

} // namespace telvox
