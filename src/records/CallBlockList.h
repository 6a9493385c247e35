#pragma once

#include "core/UserFileProblems.h"
#include "records/MessageStore.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

namespace telvox {

class SettingsStore;

// What caller ID said about a caller.
enum class CallerKind {
    Number,      // a number was delivered
    Withheld,    // the caller withheld it ("P", private, anonymous)
    Unavailable, // none came (out of area, not subscribed, no caller ID at all)
};

// One line of a block or allow list: a number, a prefix ("0900*"), or one of the words for a
// withheld or an unavailable number, with an optional label after a tab.
struct BlockEntry
{
    enum class Kind { Number, Prefix, Withheld, Unavailable };
    Kind kind = Kind::Number;
    QString digits; // the number (or prefix) reduced to digits and a leading "+"
    QString text;   // the entry as written
    QString label;

    bool matches(CallerKind caller, const QString &number) const;
};

// A number as lists compare it: digits only, with a leading "+" kept; blanks, dashes, dots and
// brackets dropped. Anything else (letters) leaves the number as it is, trimmed.
QString comparableNumber(const QString &number);

// Parses list text: one entry a line, "#" starts a comment (whole line or the rest of a line),
// an optional label after a tab. Blank lines are skipped; so is a line that is no entry, or a
// prefix without a digit that would match every caller ("*"), each reported in `problems`.
std::vector<BlockEntry> parseBlockList(const QString &text, LineProblems *problems = nullptr);
// One line of a list file for an entry.
QString blockListLine(const QString &entry, const QString &label);

// The options of section "Blocking" in the settings store.
struct BlockingOptions
{
    bool blockWithheld = false;   // "Withheld": block withheld numbers
    bool phonebookOnly = false;   // "PhonebookOnly": block every caller not in the phonebook
    bool notice = false;          // "Notice": answer and play the refusal prompt before hanging up
    int sipReject = 603;          // "SipReject": how a SIP line refuses, 603 Decline or 486 Busy Here
};
BlockingOptions readBlockingOptions(const SettingsStore &settings);
void writeBlockingOptions(SettingsStore &settings, const BlockingOptions &options);

// The prompt a blocked caller hears when the option is on, in the program folder.
inline QString blockedPromptName() { return QStringLiteral("blocked.wav"); }

// One call turned away, as the message store's call records ("Blocked") keep it; the last
// MessageStore::kBlockedCallsKept are kept.
struct BlockedCall
{
    QDateTime when;
    QString number; // the number, or the words for a withheld or unavailable one
    QString label;
};
inline constexpr int kBlockedCallsKept = MessageStore::kBlockedCallsKept;
bool appendBlockedCall(MessageStore &store, const BlockedCall &call);
// Newest first.
std::vector<BlockedCall> readBlockedCalls(const MessageStore &store);

// Earlier versions kept blocked calls in "BlockedCalls.txt" in the program folder, one line
// "yyyy-MM-dd HH:mm:ss<TAB>number<TAB>label", newest last.
inline QString blockedCallsFileName() { return QStringLiteral("BlockedCalls.txt"); }
// Moves that file's calls into the store in one transaction; only after its commit is the file
// renamed to "BlockedCalls.txt.migrated". A kill between the two adds nothing the next time.
// Returns how many calls were moved (0 when there was no file), or -1 when the store or the
// rename failed (the file then stays and the next start tries again); `error` says why.
int migrateBlockedCalls(MessageStore &store, const QString &programFolder, QString *error = nullptr);

// The outcome for one caller.
struct BlockDecision
{
    enum class Reason { None, Listed, Withheld, NotInPhonebook };
    bool blocked = false;
    Reason reason = Reason::None;
    QString label; // the label of the block-list entry that matched
};

// The block list ("BlockList.txt") and the allow list ("AllowList.txt") of the program folder,
// with the blocking options. The allow list always wins; then the block list; then the options.
class CallBlockList
{
public:
    static QString blockFileName() { return QStringLiteral("BlockList.txt"); }
    static QString allowFileName() { return QStringLiteral("AllowList.txt"); }

    explicit CallBlockList(QString programFolder, BlockingOptions options = {});

    // Reads both files again (missing files are empty lists). The lines left out of each are
    // in blockProblems() and allowProblems() afterwards.
    void reload();
    const LineProblems &blockProblems() const { return m_blockProblems; }
    const LineProblems &allowProblems() const { return m_allowProblems; }
    void setOptions(const BlockingOptions &options) { m_options = options; }
    const BlockingOptions &options() const { return m_options; }

    BlockDecision check(CallerKind caller, const QString &number, bool inPhonebook) const;

    const std::vector<BlockEntry> &blocked() const { return m_block; }
    const std::vector<BlockEntry> &allowed() const { return m_allow; }

    // Adds one entry to the end of a list file (the file is created when missing) and reloads.
    bool appendEntry(bool toBlockList, const QString &entry, const QString &label);

    QString folder() const { return m_folder; }
    QString blockFile() const;
    QString allowFile() const;

private:
    QString m_folder;
    BlockingOptions m_options;
    std::vector<BlockEntry> m_block;
    std::vector<BlockEntry> m_allow;
    LineProblems m_blockProblems;
    LineProblems m_allowProblems;
};

} // namespace telvox
