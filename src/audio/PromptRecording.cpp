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
    bool ok = out.write(waveHeader(OutputFormat::Pcm, static_cast<std::uint32_t>(length))) == 44;
    QByteArray block(kCopyBlockBytes, '\0');
    qint64 remaining = length;
    while (ok && remaining > 0) {
        const qint64 want = qMin<qint64>(remaining, kCopyBlockBytes);
        const qint64 got = in.read(block.data(), want);
        if (got <= 0)
            break; // the working file shrank under us: keep what was copied
        result.blocks << got;
        ok = out.write(block.constData(), got) == got;
        remaining -= got;
    }
    out.close();
    result.written = ok && out.error() == QFileDevice::NoError;
    return result;
}

} // namespace telvox
