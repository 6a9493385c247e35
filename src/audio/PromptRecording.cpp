#include "audio/PromptRecording.h"

#include "audio/RecordingFile.h"

#include <QFile>

namespace telvox {

PromptWrite writePromptRecording(const QString &workingFile, const QString &target)
{
    PromptWrite result;
    QFile in(workingFile);
    if (!in.open(QIODevice::ReadOnly))
        return result;
    const qint64 length = in.size();
    if (length + 44 < kMinimumRecordingBytes)
        return result;
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return result;
    const bool ok = copyAfterHeader(in, out, waveHeader(OutputFormat::Pcm, static_cast<std::uint32_t>(length)),
                                    [&result](qint64 block) { result.blocks << block; });
    out.close();
    result.written = ok && out.error() == QFileDevice::NoError;
    return result;
}

} // namespace telvox
