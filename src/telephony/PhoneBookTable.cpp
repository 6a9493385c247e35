#include "telephony/PhoneBookTable.h"

#include <QFile>
#include <QStringDecoder>

namespace telvox {

namespace {

// A field of a record: its bytes up to the first zero byte, decoded from the locale's encoding.
QString fieldText(const QByteArray &record, int offset, int length)
{
    QByteArray bytes = record.mid(offset, length);
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    QStringDecoder fromLocal(QStringDecoder::System);
    return fromLocal(bytes);
}

} // namespace

bool PhoneBookTable::LoadPhoneBook(const QString &path)
{
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return false;
    for (Entry &e : m_entries) {
        const QByteArray record = file.read(kRecordBytes);
        e.name = fieldText(record, 0, kNameBytes);
        e.tele = fieldText(record, kNameBytes, kTeleBytes);
    }
    return true;
}

} // namespace telvox
