#pragma once

// Wave files built byte by byte, for the readers' tests: chunks, a "fmt " body, the RIFF frame,
// and the program's own prompts copied into a folder.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtEndian>

namespace telvox::test {

inline QByteArray le32Bytes(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

// A chunk: id, size, body, and the pad byte after an odd body.
inline QByteArray chunk(const char *id, const QByteArray &body)
{
    const QByteArray c = QByteArray(id, 4) + le32Bytes(quint32(body.size())) + body;
    return body.size() & 1 ? c + '\0' : c;
}

// A "fmt " body; with `extraBytes` >= 0 the extra size and that many bytes follow.
inline QByteArray fmtBody(quint16 tag, quint16 channels, quint32 rate, quint16 bits, int extraBytes = -1)
{
    QByteArray b(16, '\0');
    const auto align = static_cast<quint16>(channels * bits / 8);
    qToLittleEndian<quint16>(tag, b.data());
    qToLittleEndian<quint16>(channels, b.data() + 2);
    qToLittleEndian<quint32>(rate, b.data() + 4);
    qToLittleEndian<quint32>(rate * align, b.data() + 8);
    qToLittleEndian<quint16>(align, b.data() + 12);
    qToLittleEndian<quint16>(bits, b.data() + 14);
    if (extraBytes >= 0) {
        b.append(le32Bytes(quint32(extraBytes)).left(2));
        b.append(QByteArray(extraBytes, 'x'));
    }
    return b;
}

inline QByteArray riff(const QByteArray &chunks) { return "RIFF" + le32Bytes(quint32(chunks.size() + 4)) + "WAVE" + chunks; }

// Copies the program's built-in prompt `name` (greeting.wav, legal.wav) to `target`.
inline bool copyPrompt(const char *name, const QString &target)
{
    QFile::remove(target);
    return QFile::copy(QStringLiteral(":/telvox/prompts/") + name, target) // read-only, as resources are
           && QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
}

} // namespace telvox::test
