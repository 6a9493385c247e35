#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtEndian>

#include <cstdint>
#include <cstring>
#include <vector>

namespace telvox::test {

// The whole file, or nothing when it cannot be read.
inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Replaces the file with `bytes`; false unless all of them were written.
inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline quint32 le32(const QByteArray &bytes, qsizetype at) { return qFromLittleEndian<quint32>(bytes.constData() + at); }

// A PCM recording whose RIFF and data sizes agree with its length.
inline bool pcmHeaderFitsLength(const QByteArray &file)
{
    return file.size() >= 44 && le32(file, 4) == quint32(file.size() - 8) && le32(file, 40) == quint32(file.size() - 44);
}

// The samples after the 44 bytes of a PCM recording's header.
inline std::vector<std::int16_t> pcmSamples(const QByteArray &file)
{
    std::vector<std::int16_t> v(static_cast<std::size_t>(std::max<qsizetype>(0, file.size() - 44) / 2));
    std::memcpy(v.data(), file.constData() + 44, v.size() * 2);
    return v;
}

} // namespace telvox::test
