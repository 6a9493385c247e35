#include "telephony/PhoneBookTable.h"

#include "core/PrivateFiles.h"
#include "core/TextFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cerrno>

namespace telvox {

namespace phonebook {

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

QByteArray fieldBytes(const QString &text, int bytes)
{
    QStringEncoder toLocal(QStringEncoder::System);
    QByteArray out;
    out.reserve(bytes);
    qsizetype i = 0;
    while (i < text.size()) {
        // One character: a surrogate pair stays together.
        const qsizetype length = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QByteArray encoded = toLocal(QStringView(text).mid(i, length));
        if (out.size() + encoded.size() > bytes)
            break;
        out += encoded;
        i += length;
    }
    out.append(bytes - out.size(), ' ');
    return out;
}

QByteArray recordBytes(const QString &name, const QString &tele)
{
    QByteArray record = fieldBytes(name, kNameBytes) + fieldBytes(tele, kTeleBytes);
    record.append(kRecordBytes - record.size(), '\0');
    return record;
}

std::vector<Entry> readRecords(const QString &path, int count)
{
    std::vector<Entry> entries;
    QFile file(path);
    // Only a plain file is read: a pipe or device put in its place would never end.
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return entries;
    // Only the records asked for are read, however long the file is.
    const QByteArray data = file.read(qint64(count) * kRecordBytes);
    entries.resize(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        const QByteArray record = data.mid(qsizetype(k) * kRecordBytes, kRecordBytes);
        Entry &e = entries[static_cast<std::size_t>(k)];
        e.name = fieldText(record, 0, kNameBytes);
        e.tele = fieldText(record, kNameBytes, kTeleBytes);
    }
    return entries;
}

std::vector<Entry> listedEntries(const QString &path)
{
    std::vector<Entry> listed;
    for (Entry &e : readRecords(path)) {
        if (!e.tele.isEmpty())
            listed.push_back(std::move(e));
    }
    return listed;
}

bool writeRecord(QFile &file, int recordNumber, const QString &name, const QString &tele)
{
    if (recordNumber < 1 || !file.isWritable())
        return false;
    const qint64 offset = qint64(recordNumber - 1) * kRecordBytes;
    if (file.size() < offset && !file.resize(offset)) // the gap reads as empty slots
        return false;
    const QByteArray record = recordBytes(name, tele);
    return file.seek(offset) && file.write(record) == record.size() && file.flush();
}

bool rewrite(const QString &path, const QStringList &names, const QStringList &teles)
{
    if (!isWritable(path))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (qsizetype i = 0; i < names.size() && i < teles.size(); ++i)
        file.write(recordBytes(names.at(i), teles.at(i)));
    return file.commit();
}

LineProblems checkRecords(const QString &path)
{
    LineProblems problems;
    QFile file(path);
    if (QFileInfo::exists(path) && !QFileInfo(path).isFile()) {
        // A pipe or device put in its place would never end; a folder cannot be read.
        problems.push_back(LineProblem{0, LineFault::Unreadable, systemReason(QFileInfo(path).isDir() ? EISDIR : EINVAL)});
        return problems;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists())
            problems.push_back(LineProblem{0, LineFault::Unreadable, file.errorString()});
        return problems;
    }
    const qint64 size = file.size();
    if (size % kRecordBytes != 0 && size <= qint64(kEntries) * kRecordBytes)
        problems.push_back(LineProblem{int(size / kRecordBytes) + 1, LineFault::PartialRecord, QString()});
    const std::vector<Entry> records = readRecords(path);
    for (std::size_t k = 0; k < records.size(); ++k) {
        const QString tele = records[k].tele.trimmed();
        if (records[k].tele.isEmpty())
            continue; // an empty slot
        bool digit = false;
        for (const QChar c : tele)
            digit = digit || c.isDigit();
        if (!digit)
            problems.push_back(LineProblem{int(k) + 1, LineFault::NotAPhoneNumber,
                                           printableText(records[k].name.trimmed() + QLatin1Char(' ') + tele)});
    }
    return problems;
}

bool isWritable(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists())
        return info.isFile() && info.isWritable();
    return QFileInfo(info.absolutePath()).isWritable();
}

} // namespace phonebook

bool PhoneBookTable::LoadPhoneBook(const QString &path)
{
    if (!QFileInfo::exists(path))
        return false;
    std::vector<Entry> records = phonebook::readRecords(path);
    if (records.empty())
        return false; // exists but cannot be read: keep what the table holds
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        m_entries[i] = std::move(records[i]);
    return true;
}

} // namespace telvox
