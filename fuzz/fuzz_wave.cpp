// A prompt or recording file as any bytes: the RIFF reader never reads past the end, and what
// it accepts converts to the line's format within the bound the converter promises.
#include "audio/WaveFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace telvox;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const std::optional<WaveData> wave = parseWave(bytes);
    if (!wave)
        return 0;
    if (wave->data.size() > bytes.size())
        std::abort();
    const PromptProblem problem = promptProblem(wave->format);
    const std::optional<QByteArray> line = toLineFormat(*wave);
    // Whatever promptProblem() lets through converts, and nothing else does.
    if (line.has_value() != (problem == PromptProblem::None))
        std::abort();
    // At most two 16-bit samples out for each frame in (8-bit mono at 4000 Hz is the worst).
    if (line && (line->size() % 2 != 0 || line->size() > 4 * wave->data.size()))
        std::abort();
    return 0;
}
