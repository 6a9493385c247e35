#pragma once

// Reads the test recordings of tests/data: RIFF wave files of 16-bit mono PCM at 8000 Hz, as
// eSpeak NG and SoX write them, for example
//   espeak-ng -v cmn -s 160 --stdout "你好，请在提示音后留言。" |
//     sox -t wav - -r 8000 -b 16 -c 1 speech_cmn_8k.wav sinc 300-3400

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace telvox::test {

inline std::uint32_t littleEndian(const char *bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | static_cast<std::uint8_t>(bytes[i]);
    return value;
}

// The samples of the "data" chunk; empty when the file is missing or not such a wave file.
inline std::vector<std::int16_t> readLineWav(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) || std::memcmp(bytes.data() + 8, "WAVE", 4))
        return {};
    bool linePcm = false;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const char *chunk = bytes.data() + at;
        const std::size_t size = std::min<std::size_t>(littleEndian(chunk + 4, 4), bytes.size() - at - 8);
        if (!std::memcmp(chunk, "fmt ", 4) && size >= 16) // PCM, mono, 8000 Hz, 16 bits
            linePcm = littleEndian(chunk + 8, 2) == 1 && littleEndian(chunk + 10, 2) == 1
                && littleEndian(chunk + 12, 4) == 8000 && littleEndian(chunk + 22, 2) == 16;
        if (!std::memcmp(chunk, "data", 4)) {
            std::vector<std::int16_t> samples(linePcm ? size / 2 : 0);
            for (std::size_t i = 0; i < samples.size(); ++i)
                samples[i] = static_cast<std::int16_t>(littleEndian(chunk + 8 + 2 * i, 2));
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

} // namespace telvox::test
