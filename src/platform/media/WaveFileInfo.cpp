#include "platform/media/WaveFileInfo.h"

#include <QFile>
#include <QtEndian>

namespace telvox {

namespace {

std::uint32_t le32(const char *p) { return qFromLittleEndian<std::uint32_t>(p); }
std::uint16_t le16(const char *p) { return qFromLittleEndian<std::uint16_t>(p); }

} // namespace

WaveFileInfo readWaveFileInfo(const QString &path)
{
    WaveFileInfo info;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return info;
    info.fileBytes = file.size();
    char riff[12];
    if (file.read(riff, 12) != 12 || qstrncmp(riff, "RIFF", 4) != 0 || qstrncmp(riff + 8, "WAVE", 4) != 0)
        return info;

    bool haveFormat = false;
    qint64 pos = 12;
    while (pos + 8 <= info.fileBytes) {
        char head[8];
        if (!file.seek(pos) || file.read(head, 8) != 8)
            return info;
        const qint64 size = le32(head + 4);
        const qint64 body = pos + 8;
        if (qstrncmp(head, "fmt ", 4) == 0) {
            if (size < 14)
                return info;
            char fmt[16] = {};
            const qint64 want = qMin<qint64>(size, 16);
            if (file.read(fmt, want) != want)
                return info;
            info.formatTag = le16(fmt);
            info.channels = le16(fmt + 2);
            info.samplesPerSec = le32(fmt + 4);
            info.avgBytesPerSec = le32(fmt + 8);
            info.blockAlign = le16(fmt + 12);
            info.bitsPerSample = want >= 16 ? le16(fmt + 14) : 0;
            haveFormat = info.channels != 0 && info.avgBytesPerSec != 0;
        } else if (qstrncmp(head, "data", 4) == 0) {
            info.dataOffset = body;
            info.dataBytes = qMax<qint64>(0, qMin(size, info.fileBytes - body));
            info.valid = haveFormat;
            return info;
        }
        pos = body + size + (size & 1); // chunks are padded to an even length
    }
    return info;
}

} // namespace telvox
