#pragma once

#include "core/UserFileProblems.h"

#include <QString>
#include <QStringList>

#include <array>
#include <vector>

class QFile;

namespace telvox {

// PhoneBook.txt: fixed records of 128 bytes, record k at offset (k - 1) * 128. The name lies in
// bytes 0..29 and the telephone in bytes 30..49, each left-aligned and padded with blanks, in
// the locale's encoding; bytes 50..127 are zero. A record whose telephone bytes are all zero
// (also every record beyond the end of the file) is an empty slot.
namespace phonebook {

inline constexpr int kEntries = 300; // what the lists and the caller-ID table ever read
inline constexpr int kRecordBytes = 128;
inline constexpr int kNameBytes = 30;
inline constexpr int kTeleBytes = 20;

struct Entry
{
    QString name; // as stored, padding included
    QString tele; // as stored, padding included; empty for an empty slot
};

// `text` in the locale's encoding, cut to at most `bytes` bytes without splitting a character
// and padded with blanks to exactly `bytes` bytes.
QByteArray fieldBytes(const QString &text, int bytes);
// One whole record.
QByteArray recordBytes(const QString &name, const QString &tele);
// Records 1..`count` (fewer when the file cannot be read): entry i holds record i + 1, empty
// slots included. An absent or unreadable file gives no entries.
std::vector<Entry> readRecords(const QString &path, int count = kEntries);
// The entries the dialler lists: records 1..300 that are not empty slots, in file order.
std::vector<Entry> listedEntries(const QString &path);

// Writes record `recordNumber` (1-based) into the open file; a gap before it is filled with
// zero bytes, that is with empty slots. False when it cannot be written.
bool writeRecord(QFile &file, int recordNumber, const QString &name, const QString &tele);
// Replaces the whole file by one record per entry, in the given order, from record 1 on. The
// new content is complete on disk before it replaces the old one; on failure the old file is
// left as it was and false is returned.
bool rewrite(const QString &path, const QStringList &names, const QStringList &teles);
// What in the file cannot be used as a record: a file that ends inside a record (edited as
// text), a record whose telephone holds no digit, a file that cannot be read.
LineProblems checkRecords(const QString &path);
// Whether the file can be changed (it exists and is writable, or it can be created).
bool isWritable(const QString &path);

} // namespace phonebook

// The in-memory copy of the first 300 records that caller ID looks numbers up in.
class PhoneBookTable
{
public:
    static constexpr int kEntries = phonebook::kEntries;
    using Entry = phonebook::Entry;

    // Reads records 1..300 into entries 0..299 when the file exists (records beyond the end of
    // the file read as empty slots); when it does not exist the table keeps its content.
    // Returns whether the file was read.
    bool LoadPhoneBook(const QString &path);

    const Entry &entry(int index) const { return m_entries.at(static_cast<std::size_t>(index)); }

private:
    std::array<Entry, kEntries> m_entries{};
};

} // namespace telvox
