#include "records/CallBlockList.h"

#include "core/PrivateFiles.h"
#include "core/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace telvox {

namespace {

const QString kSection = QStringLiteral("Blocking");

bool isWithheldWord(const QString &w)
{
    return w == QLatin1String("anonymous") || w == QLatin1String("withheld") || w == QLatin1String("private")
           || w == QLatin1String("anonymous/withheld");
}

bool isUnavailableWord(const QString &w)
{
    return w == QLatin1String("unavailable") || w == QLatin1String("unknown") || w == QLatin1String("out of area");
}

QString readText(const QString &path, LineProblems *problems = nullptr)
{
    QFile file(path);
    // Only a plain file is read: a pipe or device put in its place would never end.
    if (QFileInfo::exists(path) && !QFileInfo(path).isFile()) {
        if (problems)
            problems->push_back(LineProblem{0, LineFault::Unreadable, systemReason(QFileInfo(path).isDir() ? EISDIR : EINVAL)});
        return QString();
    }
    if (!file.open(QIODevice::ReadOnly)) {
        // A missing list is an empty one; one that is there but cannot be read is news.
        if (problems && file.exists())
            problems->push_back(LineProblem{0, LineFault::Unreadable, file.errorString()});
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}

} // namespace

QString comparableNumber(const QString &number)
{
    const QString t = number.trimmed();
    QString out;
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t.at(i);
        if (c.isDigit())
            out += c;
        else if (c == QLatin1Char('+') && out.isEmpty())
            out += c;
        else if (c == QLatin1Char(' ') || c == QLatin1Char('-') || c == QLatin1Char('.') || c == QLatin1Char('(')
                 || c == QLatin1Char(')') || c == QLatin1Char('/'))
            continue;
        else
            return t;
    }
    return out;
}

bool BlockEntry::matches(CallerKind caller, const QString &number) const
{
    switch (kind) {
    case Kind::Withheld:
        return caller == CallerKind::Withheld;
    case Kind::Unavailable:
        return caller == CallerKind::Unavailable;
    case Kind::Prefix:
        return caller == CallerKind::Number && comparableNumber(number).startsWith(digits);
    case Kind::Number:
        break;
    }
    return caller == CallerKind::Number && comparableNumber(number) == digits;
}

namespace {

// A number or prefix as lists keep it: a leading "+" and at least one digit, nothing else.
bool isDialable(const QString &digits)
{
    const qsizetype first = digits.startsWith(QLatin1Char('+')) ? 1 : 0;
    if (digits.size() <= first)
        return false;
    for (qsizetype i = first; i < digits.size(); ++i) {
        if (!digits.at(i).isDigit())
            return false;
    }
    return true;
}

} // namespace

std::vector<BlockEntry> parseBlockList(const QString &text, LineProblems *problems)
{
    std::vector<BlockEntry> entries;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype index = 0; index < lines.size(); ++index) {
        QString line = lines.at(index);
        line.remove(QLatin1Char('\r'));
        const qsizetype hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0)
            line.truncate(hash);
        BlockEntry e;
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (tab >= 0) {
            e.label = line.mid(tab + 1).trimmed();
            line.truncate(tab);
        }
        e.text = line.trimmed();
        if (e.text.isEmpty())
            continue;
        const QString word = e.text.toLower().simplified();
        if (isWithheldWord(word)) {
            e.kind = BlockEntry::Kind::Withheld;
        } else if (isUnavailableWord(word)) {
            e.kind = BlockEntry::Kind::Unavailable;
        } else {
            QString number = e.text;
            if (number.endsWith(QLatin1Char('*'))) {
                e.kind = BlockEntry::Kind::Prefix;
                number.chop(1);
            }
            e.digits = comparableNumber(number);
            if (!isDialable(e.digits)) {
                // A prefix with no digit ("*", "-*", "(*", "+*") would take in every caller:
                // one slip of the keyboard must not turn every call away.
                const bool everyone = e.kind == BlockEntry::Kind::Prefix
                                      && (e.digits.isEmpty() || e.digits == QLatin1String("+"));
                if (problems)
                    problems->push_back(LineProblem{int(index) + 1,
                                                    everyone ? LineFault::MatchesEveryCaller : LineFault::NotAnEntry,
                                                    e.text});
                continue;
            }
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

QString blockListLine(const QString &entry, const QString &label)
{
    // A "#" would start a comment and a tab or line break would end the entry: neither stays.
    QString line = entry;
    line.remove(QLatin1Char('#'));
    line = line.simplified();
    QString l = label;
    l.remove(QLatin1Char('#'));
    l = l.simplified();
    return l.isEmpty() ? line : line + QLatin1Char('\t') + l;
}

BlockingOptions readBlockingOptions(const SettingsStore &settings)
{
    BlockingOptions o;
    o.blockWithheld = settings.ReadSetting(kSection, QStringLiteral("Withheld"), QStringLiteral("0")).trimmed()
                      == QLatin1String("1");
    o.phonebookOnly = settings.ReadSetting(kSection, QStringLiteral("PhonebookOnly"), QStringLiteral("0")).trimmed()
                      == QLatin1String("1");
    o.notice = settings.ReadSetting(kSection, QStringLiteral("Notice"), QStringLiteral("0")).trimmed()
               == QLatin1String("1");
    o.sipReject = settings.ReadSetting(kSection, QStringLiteral("SipReject")).trimmed() == QLatin1String("486") ? 486 : 603;
    return o;
}

void writeBlockingOptions(SettingsStore &settings, const BlockingOptions &o)
{
    settings.WriteSetting(kSection, QStringLiteral("Withheld"), o.blockWithheld ? QStringLiteral("1") : QStringLiteral("0"));
    settings.WriteSetting(kSection, QStringLiteral("PhonebookOnly"),
                                   o.phonebookOnly ? QStringLiteral("1") : QStringLiteral("0"));
    settings.WriteSetting(kSection, QStringLiteral("Notice"), o.notice ? QStringLiteral("1") : QStringLiteral("0"));
    settings.WriteSetting(kSection, QStringLiteral("SipReject"), QString::number(o.sipReject == 486 ? 486 : 603));
}

namespace {
const QString kStamp = QStringLiteral("yyyy-MM-dd HH:mm:ss");
} // namespace

bool appendBlockedCall(MessageStore &store, const BlockedCall &call)
{
    // Line breaks and tabs in the caller's text would only garble the views: blanks instead.
    const auto field = [](QString text) { return text.replace(QLatin1Char('\t'), QLatin1Char(' ')).simplified(); };
    return store.addCallRecord(QStringLiteral("Blocked"), field(call.number), call.when, field(call.label));
}

std::vector<BlockedCall> readBlockedCalls(const MessageStore &store)
{
    std::vector<BlockedCall> calls;
    const QList<CallRecord> records = store.callRecordEntries(QStringLiteral("Blocked"));
    for (auto it = records.crbegin(); it != records.crend(); ++it)
        calls.push_back(BlockedCall{it->when, it->number, it->label});
    return calls;
}

int migrateBlockedCalls(MessageStore &store, const QString &programFolder, QString *error)
{
    const QString path = QDir(programFolder).filePath(blockedCallsFileName());
    if (!QFileInfo::exists(path))
        return 0;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return -1;
    }
    QList<CallRecord> records;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    file.close();
    for (const QString &line : lines) {
        const QStringList f = line.split(QLatin1Char('\t'));
        const QDateTime when = QDateTime::fromString(f.value(0).trimmed(), kStamp);
        if (f.size() >= 2 && when.isValid())
            records << CallRecord{f[1].trimmed(), when, f.value(2).trimmed()};
    }
    const int moved = store.importCallRecords(QStringLiteral("Blocked"), records);
    if (moved < 0) {
        if (error)
            *error = store.errorText();
        return -1;
    }
    // Only now, with the store's commit on the disk, does the old file leave; a file of that
    // name from an earlier migration is replaced.
    const QString kept = path + QStringLiteral(".migrated");
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(kept).constData()) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    return moved;
}

CallBlockList::CallBlockList(QString programFolder, BlockingOptions options)
    : m_folder(std::move(programFolder))
    , m_options(options)
{
    reload();
}

QString CallBlockList::blockFile() const { return QDir(m_folder).filePath(blockFileName()); }
QString CallBlockList::allowFile() const { return QDir(m_folder).filePath(allowFileName()); }

void CallBlockList::reload()
{
    m_blockProblems.clear();
    m_allowProblems.clear();
    m_block = parseBlockList(readText(blockFile(), &m_blockProblems), &m_blockProblems);
    m_allow = parseBlockList(readText(allowFile(), &m_allowProblems), &m_allowProblems);
}

BlockDecision CallBlockList::check(CallerKind caller, const QString &number, bool inPhonebook) const
{
    BlockDecision d;
    for (const BlockEntry &e : m_allow) {
        if (e.matches(caller, number))
            return d;
    }
    for (const BlockEntry &e : m_block) {
        if (e.matches(caller, number)) {
            d.blocked = true;
            d.reason = BlockDecision::Reason::Listed;
            d.label = e.label;
            return d;
        }
    }
    if (caller == CallerKind::Withheld && m_options.blockWithheld) {
        d.blocked = true;
        d.reason = BlockDecision::Reason::Withheld;
    } else if (m_options.phonebookOnly && !(caller == CallerKind::Number && inPhonebook)) {
        d.blocked = true;
        d.reason = BlockDecision::Reason::NotInPhonebook;
    }
    return d;
}

bool CallBlockList::appendEntry(bool toBlockList, const QString &entry, const QString &label)
{
    const QString line = blockListLine(entry, label);
    if (line.trimmed().isEmpty())
        return false;
    const QString path = toBlockList ? blockFile() : allowFile();
    QFile file(path);
    const bool endsOpen = [&] {
        QFile probe(path);
        if (!probe.open(QIODevice::ReadOnly) || probe.size() == 0)
            return false;
        probe.seek(probe.size() - 1);
        return probe.read(1) != "\n";
    }();
    if (!file.open(QIODevice::Append))
        return false;
    const QByteArray bytes = (endsOpen ? QByteArray("\n") : QByteArray()) + line.toUtf8() + '\n';
    const bool ok = file.write(bytes) == bytes.size();
    file.close();
    reload();
    return ok;
}

} // namespace telvox
