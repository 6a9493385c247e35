#pragma once

#include "sim/audio/SampleSource.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

namespace telvox::sim {

// A source that is built on its first read: for talkers that are costly to set up (the
// speech-like source calibrates its level over ten seconds of talk) and often never heard,
// such as the called party of every line of the virtual exchange. Reads give exactly what
// the built source gives.
class DeferredSource final : public SampleSource
{
public:
    using Factory = std::function<std::unique_ptr<SampleSource>()>;

    explicit DeferredSource(Factory make)
        : m_make(std::move(make))
    {
    }

    void read(std::span<std::int16_t> out) override
    {
        if (!m_source && m_make)
            m_source = std::exchange(m_make, nullptr)();
        if (m_source)
            m_source->read(out);
        else
            std::fill(out.begin(), out.end(), std::int16_t(0)); // a factory that gave nothing: silence
    }

    bool isBuilt() const { return bool(m_source); }

private:
    Factory m_make;
    std::unique_ptr<SampleSource> m_source;
};

} // namespace telvox::sim
