#pragma once

#include "sim/audio/SampleSource.h"

#include <QString>

#include <memory>
#include <vector>

namespace telvox::sim {

// A far end that plays a wave file once (16-bit PCM, mono, 8000 Hz) and then stays silent.
class WavFileSource final : public SampleSource
{
public:
    // Reads the file; nullptr (with `error` set) when it is not such a wave file.
    static std::unique_ptr<WavFileSource> open(const QString &path, QString *error = nullptr);

    void read(std::span<std::int16_t> out) override;
    std::size_t sampleCount() const { return m_samples.size(); }

private:
    std::vector<std::int16_t> m_samples;
    std::size_t m_position = 0;
};

} // namespace telvox::sim
