// PhoneBook.txt as any bytes: fixed 128-byte records read back without reading past the file,
// in the locale's encoding, the check of its records agreeing with what the lists show.
#include "telephony/PhoneBookTable.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace telvox;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PhoneBook.txt"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    const std::vector<phonebook::Entry> all = phonebook::readRecords(path);
    if (all.size() != std::size_t(phonebook::kEntries))
        std::abort();
    const std::vector<phonebook::Entry> listed = phonebook::listedEntries(path);
    if (listed.size() > all.size())
        std::abort();
    (void)phonebook::checkRecords(path);
    // A record written from what was read fits its fixed size.
    for (const phonebook::Entry &e : listed) {
        if (phonebook::recordBytes(e.name, e.tele).size() != phonebook::kRecordBytes)
            std::abort();
    }
    return 0;
}
