#pragma once

#include <QString>

#include <array>

namespace telvox {

// The in-memory copy of the first 300 records of PhoneBook.txt that caller ID looks numbers up
// in. The file holds fixed records of 128 bytes: the name in bytes 0..29 and the telephone in
// bytes 30..49, each left-aligned and padded with blanks, in the locale's encoding.
class PhoneBookTable
{
public:
    static constexpr int kEntries = 300;
    static constexpr int kRecordBytes = 128;
    static constexpr int kNameBytes = 30;
    static constexpr int kTeleBytes = 20;

    struct Entry
    {
        QString name; // as stored, padding included
        QString tele; // as stored, padding included; empty for a never-written slot
    };

    // Reads records 1..300 into entries 0..299 when the file exists (records beyond the end of
    // the file read as empty slots); when it does not exist the table keeps its content.
    // Returns whether the file was read.
    bool LoadPhoneBook(const QString &path);

    const Entry &entry(int index) const { return m_entries.at(static_cast<std::size_t>(index)); }

private:
    std::array<Entry, kEntries> m_entries{};
};

} // namespace telvox
