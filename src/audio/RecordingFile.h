#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>

#include <cstdint>

class QIODevice;

namespace telvox {

// Output format of recordings ("WaveFileFormat"): PCM 8 kHz 16-bit mono, or TrueSpeech.
enum class OutputFormat { Pcm = 0, TrueSpeech = 1 };

// "WaveFileFormat" as stored: "1" is TrueSpeech; "0" and anything else record PCM.
OutputFormat outputFormatFromSetting(const QString &value);

// Local date and time as "yyyy-mm-dd~hh-mm-ss".
QString RecordingTimeStamp(const QDateTime &when);

// The caller part of a recording name made safe for the file system: "" stays "", otherwise
// "~" and the number with separators, "..", control characters and characters that other
// file systems refuse replaced by "_", at most 64 characters. `callerPart` is "" or "~number".
QString safeCallerPart(const QString &callerPart);

// mode letter + time stamp + caller part + ".wav", e.g. "A2026-12-04~08-30-15~5551234.wav".
QString recordingName(QChar mode, const QDateTime &when, const QString &callerPart);

// The wave header written before L bytes of audio: 44 bytes for PCM, 90 for TrueSpeech.
QByteArray waveHeader(OutputFormat format, std::uint32_t dataLength);

// A recording shorter than this (header and data) is discarded.
constexpr int kMinimumRecordingBytes = 5000;
// The working file is copied in blocks of this size, never held whole in memory.
constexpr int kCopyBlockBytes = 5120;

// Writes `header`, then copies what is left of `in` to `out` in blocks of kCopyBlockBytes
// (`onBlock` hears each block's size). A working file that ends early keeps what was copied.
// Returns whether every write succeeded.
bool copyAfterHeader(QIODevice &in, QIODevice &out, const QByteArray &header,
                     const std::function<void(qint64)> &onBlock = {});

// How the end of a recording went (RecordingJournal::finish).
struct WriteOutcome
{
    enum class Status { Written, TooShort, Failed };
    Status status = Status::Failed;
    QString fileName; // the name written (differs from the wanted one after a name clash)
};

} // namespace telvox
