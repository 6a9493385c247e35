#include "app/UserFiles.h"

#include "core/TextFile.h"
#include "core/Texts.h"
#include "records/CallBlockList.h"
#include "records/MailForward.h"
#include "records/RingSchedule.h"
#include "records/StatusLog.h"
#include "telephony/PhoneBookTable.h"
#include "telephony/TelephonyCore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace telvox {

namespace {

QString readPassword(const QString &file)
{
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? QString::fromUtf8(in.readAll()) : QString();
}

} // namespace

UserFiles::UserFiles(Services services)
    : m_s(std::move(services))
{
}

UserFiles::~UserFiles() = default;

QString UserFiles::ringsFile() const { return QDir(m_s.programFolder).filePath(QStringLiteral("Rings.txt")); }

QString UserFiles::problemText(const QString &fileName, const LineProblem &problem) const
{
    const Texts &t = m_s.texts;
    // The line as written, shown on one line whatever bytes it holds.
    LineProblem p = problem;
    p.text = printableText(p.text);
    const QString line = QString::number(p.line);
    switch (p.fault) {
    case LineFault::Unreadable:
        return t.LoadText(1851).arg(fileName, p.text);
    case LineFault::MatchesEveryCaller:
        return t.LoadText(1840).arg(fileName, line, p.text, t.LoadText(1841));
    case LineFault::NotAnEntry:
        return t.LoadText(1840).arg(fileName, line, p.text, t.LoadText(1842));
    case LineFault::NotARingRule:
        return t.LoadText(1840).arg(fileName, line, p.text, t.LoadText(1843));
    case LineFault::BeyondRuleLimit:
        return t.LoadText(1840).arg(fileName, line, p.text, t.LoadText(1845));
    case LineFault::NeverAnswers:
        return t.LoadText(1844).arg(fileName, line, p.text);
    case LineFault::PartialRecord:
        return t.LoadText(1848).arg(fileName, line, t.LoadText(1849));
    case LineFault::NotAPhoneNumber:
        return t.LoadText(1848).arg(fileName, line, t.LoadText(1850).arg(p.text));
    }
    return QString();
}

void UserFiles::report(const QString &file, const LineProblems &problems)
{
    const QString fileName = QFileInfo(file).fileName();
    int named = 0;
    for (const LineProblem &p : problems) {
        if (named == kNamedProblems) {
            m_s.status.AddStatus(m_s.texts.LoadText(1839).arg(fileName).arg(problems.size() - named));
            break;
        }
        // A rule that would have turned every caller away must reach the user at once.
        if (p.fault == LineFault::MatchesEveryCaller || p.fault == LineFault::Unreadable)
            m_s.status.AddAlarm(problemText(fileName, p));
        else
            m_s.status.AddStatus(problemText(fileName, p));
        ++named;
    }
}

void UserFiles::reportLoaded()
{
    report(m_s.lists.blockFile(), m_s.lists.blockProblems());
    report(m_s.lists.allowFile(), m_s.lists.allowProblems());
    report(ringsFile(), m_s.rings.problems());
    report(QDir(m_s.programFolder).filePath(QStringLiteral("PhoneBook.txt")),
           phonebook::checkRecords(QDir(m_s.programFolder).filePath(QStringLiteral("PhoneBook.txt"))));
}

QStringList UserFiles::watchedFiles(const QString &folder)
{
    const QDir dir(folder);
    return {dir.filePath(CallBlockList::blockFileName()), dir.filePath(CallBlockList::allowFileName()),
            dir.filePath(QStringLiteral("Rings.txt")), dir.filePath(QStringLiteral("PhoneBook.txt")),
            dir.filePath(forwardPasswordFileName())};
}

void UserFiles::reread(const QString &file)
{
    const QString name = QFileInfo(file).fileName();
    const Texts &t = m_s.texts;
    if (file == m_s.lists.blockFile() || file == m_s.lists.allowFile()) {
        m_s.lists.reload();
        const bool block = file == m_s.lists.blockFile();
        const auto count = block ? m_s.lists.blocked().size() : m_s.lists.allowed().size();
        m_s.status.AddStatus(t.LoadText(1846).arg(name).arg(count));
        report(file, block ? m_s.lists.blockProblems() : m_s.lists.allowProblems());
    } else if (file == ringsFile()) {
        m_s.rings.LoadRingRules(file);
        m_s.status.AddStatus(t.LoadText(1846).arg(name).arg(m_s.rings.ruleCount()));
        report(file, m_s.rings.problems());
    } else if (QFileInfo(file).fileName() == QLatin1String("PhoneBook.txt")) {
        m_s.telephony.LoadPhoneBook();
        m_s.status.AddStatus(t.LoadText(1847).arg(name).arg(phonebook::listedEntries(file).size()));
        report(file, phonebook::checkRecords(file));
    } else {
        // The password itself is never shown.
        if (m_s.passwordChanged)
            m_s.passwordChanged(readPassword(file));
        m_s.status.AddStatus(t.LoadText(1852).arg(name));
    }
}

} // namespace telvox
