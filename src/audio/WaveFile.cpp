#include "audio/WaveFile.h"

#include "core/Texts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <vector>

namespace telvox {

namespace {

std::uint16_t u16(QByteArrayView b, qsizetype at) { return qFromLittleEndian<std::uint16_t>(b.data() + at); }
std::uint32_t u32(QByteArrayView b, qsizetype at) { return qFromLittleEndian<std::uint32_t>(b.data() + at); }

} // namespace

std::optional<WaveData> parseWave(QByteArrayView bytes)
{
    if (bytes.size() < 12 || bytes.first(4) != "RIFF" || bytes.sliced(8, 4) != "WAVE")
        return std::nullopt;
    // The RIFF size may be wrong (a recorder killed before it wrote it); trust the file length.
    const qsizetype end = bytes.size();
    qsizetype pos = 12;
    std::optional<WaveFormat> format;
    std::optional<QByteArray> data;
    while (pos + 8 <= end && !(format && data)) {
        const QByteArrayView id = bytes.sliced(pos, 4);
        const std::uint32_t size = u32(bytes, pos + 4);
        const qsizetype body = pos + 8;
        const qsizetype available = end - body;
        if (id == "fmt ") {
            if (size < 16 || available < 16)
                return std::nullopt;
            WaveFormat f;
            f.formatTag = u16(bytes, body);
            f.channels = u16(bytes, body + 2);
            f.samplesPerSec = u32(bytes, body + 4);
            f.avgBytesPerSec = u32(bytes, body + 8);
            f.blockAlign = u16(bytes, body + 12);
            f.bitsPerSample = u16(bytes, body + 14);
            if (size >= 18 && available >= 18) {
                f.extraSize = u16(bytes, body + 16);
                const qsizetype extra = std::min<qsizetype>({qsizetype(f.extraSize), qsizetype(size) - 18, available - 18});
                if (extra > 0)
                    f.extra = bytes.sliced(body + 18, extra).toByteArray();
            }
            format = f;
        } else if (id == "data") {
            data = bytes.sliced(body, std::min<qsizetype>(qsizetype(size), available)).toByteArray();
        }
        // Next chunk: sizes are padded to an even number of bytes.
        const qsizetype next = body + qsizetype(size) + (size & 1u);
        if (next <= pos)
            break;
        pos = next;
    }
    if (!format || !data)
        return std::nullopt;
    return WaveData{*format, *data};
}

std::optional<WaveData> readWaveFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Prompts are seconds long; refuse anything absurd rather than exhaust memory.
    constexpr qint64 limit = 256LL * 1024 * 1024;
    if (file.size() > limit)
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    return parseWave(bytes);
}

PromptProblem promptProblem(const WaveFormat &f)
{
    if (f.formatTag != 1 || f.channels == 0 || f.channels > 8 || (f.bitsPerSample != 8 && f.bitsPerSample != 16))
        return PromptProblem::Format;
    if (f.samplesPerSec < kMinPromptRate || f.samplesPerSec > kMaxPromptRate)
        return PromptProblem::Rate;
    return PromptProblem::None;
}

std::optional<QByteArray> toLineFormat(const WaveData &wave)
{
    const WaveFormat &f = wave.format;
    if (promptProblem(f) != PromptProblem::None)
        return std::nullopt;
    if (f.isLinePcm())
        return QByteArray(wave.data.constData(), wave.data.size() & ~qsizetype(1));

    // One frame mixed down to mono, read straight from the data: nothing in between is kept,
    // so the memory used is the result's only.
    const int bytesPerSample = f.bitsPerSample / 8;
    const qsizetype frameBytes = qsizetype(bytesPerSample) * f.channels;
    const qsizetype frames = wave.data.size() / frameBytes;
    const auto *raw = reinterpret_cast<const unsigned char *>(wave.data.constData());
    const auto mono = [&](qsizetype i) {
        double sum = 0;
        for (int c = 0; c < f.channels; ++c) {
            const unsigned char *p = raw + i * frameBytes + qsizetype(c) * bytesPerSample;
            sum += bytesPerSample == 1 ? (int(p[0]) - 128) * 256.0 : double(qFromLittleEndian<std::int16_t>(p));
        }
        return sum / f.channels;
    };

    // Resample to 8000 Hz by linear interpolation (prompts are speech; 8 kHz is the line's
    // rate). The rate is at least 4000 Hz, so there are at most two samples out per frame in.
    const double step = double(f.samplesPerSec) / 8000.0;
    const auto outCount = static_cast<qsizetype>(double(frames) / step);
    QByteArray out(outCount * 2, Qt::Uninitialized);
    for (qsizetype n = 0; n < outCount; ++n) {
        const double x = double(n) * step;
        const auto i = static_cast<qsizetype>(x);
        const double frac = x - double(i);
        const double a = mono(i);
        const double b = i + 1 < frames ? mono(i + 1) : a;
        const double v = std::clamp(a + (b - a) * frac, -32768.0, 32767.0);
        qToLittleEndian<std::int16_t>(static_cast<std::int16_t>(std::lround(v)), out.data() + n * 2);
    }
    return out;
}

LinePrompt readLinePrompt(const QString &path)
{
    LinePrompt prompt;
    if (path.isEmpty() || !QFile::exists(path))
        return prompt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return prompt;
    file.close();
    const auto wave = readWaveFile(path);
    if (!wave) {
        prompt.problem = PromptProblem::NotWave;
        return prompt;
    }
    prompt.claimedRate = wave->format.samplesPerSec;
    prompt.problem = promptProblem(wave->format);
    if (prompt.problem == PromptProblem::None)
        prompt.audio = toLineFormat(*wave);
    return prompt;
}

QString promptRefusedText(const Texts &texts, const QString &fileName, PromptProblem problem,
                          std::uint32_t claimedRate, bool defaultUsed)
{
    QString why;
    switch (problem) {
    case PromptProblem::Rate:
        why = texts.LoadText(1823).arg(claimedRate);
        break;
    case PromptProblem::Format:
        why = texts.LoadText(1824);
        break;
    case PromptProblem::NotWave:
    case PromptProblem::None:
        why = texts.LoadText(1825);
        break;
    }
    // One pass over the text: a '%' in the file name stays as it is.
    return texts.LoadText(defaultUsed ? 1821 : 1822).arg(fileName, why);
}

QString builtInPromptFor(const QString &path)
{
    const QString name = QFileInfo(path).fileName().toLower();
    if (name == QLatin1String("greeting.wav") || name == QLatin1String("legal.wav") || name == QLatin1String("blocked.wav"))
        return QStringLiteral(":/telvox/prompts/") + name;
    return QString();
}

} // namespace telvox
