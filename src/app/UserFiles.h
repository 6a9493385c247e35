#pragma once

#include "core/UserFileProblems.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace telvox {

class CallBlockList;
class EventLoop;
class RingSchedule;
class SettingsStore;
class StatusLog;
class TelephonyCore;
class Texts;

// The files the user edits by hand (BlockList.txt, AllowList.txt, Rings.txt, PhoneBook.txt)
// and the mail password file: what in them cannot be used is said in status lines naming the
// file, the line and the reason, and they are read again whenever they change while the
// program or the service runs ("BlockList.txt reread: 12 rules").
class UserFiles
{
public:
    struct Services
    {
        EventLoop &loop;
        StatusLog &status;
        const Texts &texts;
        QString programFolder;
        CallBlockList &lists;
        RingSchedule &rings;
        TelephonyCore &telephony;
        // The mail password file changed: its new content (mail forwarding uses it).
        std::function<void(const QString &password)> passwordChanged;
    };
    explicit UserFiles(Services services);
    ~UserFiles();

    // Status lines for what the files held at loading could not be used.
    void reportLoaded();
    // The files watched for changes (see FileWatch), in the program folder `folder`.
    static QStringList watchedFiles(const QString &folder);
    // Reads `file` (one of the watched ones) again and says so.
    void reread(const QString &file);

    // At most this many lines of one file are named; then how many more there are.
    static constexpr int kNamedProblems = 5;

    QString ringsFile() const;

private:
    void report(const QString &file, const LineProblems &problems);
    QString problemText(const QString &fileName, const LineProblem &problem) const;

    Services m_s;
};

} // namespace telvox
