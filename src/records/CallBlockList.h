#pragma once

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
// an optional label after a tab. Blank and unusable lines are skipped.
std::vector<BlockEntry> parseBlockList(const QString &text);
// One line of a list file for an entry.
QString blockListLine(const QString &entry, const QString &label);

// The options of section "Blocking" in the settings store.
struct BlockingOptions
{
    bool blockWithheld = false;   // "Withheld": block withheld numbers
    bool phonebookOnly = false;   // "PhonebookOnly": block every caller not in the phonebook
};
BlockingOptions readBlockingOptions(const SettingsStore &settings);
void writeBlockingOptions(SettingsStore &settings, const BlockingOptions &options);

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

    // Reads both files again (missing files are empty lists).
    void reload();
    void setOptions(const BlockingOptions &options) { m_options = options; }
    const BlockingOptions &options() const { return m_options; }

    BlockDecision check(CallerKind caller, const QString &number, bool inPhonebook) const;

    const std::vector<BlockEntry> &blocked() const { return m_block; }
    const std::vector<BlockEntry> &allowed() const { return m_allow; }

    // Adds one entry to the end of a list file (the file is created when missing) and reloads.
    bool appendEntry(bool toBlockList, const QString &entry, const QString &label);

    QString blockFile() const;
    QString allowFile() const;

private:
    QString m_folder;
    BlockingOptions m_options;
    std::vector<BlockEntry> m_block;
    std::vector<BlockEntry> m_allow;
};

} // namespace telvox
