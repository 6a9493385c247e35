#pragma once

#include <QString>
#include <QStringList>

namespace telvox {

enum class MessageIcon { None, Critical, Question, Exclamation, Information };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageResult { Ok, Cancel, Yes, No };

// Message boxes. Windows and procedures show every message through this interface, so that
// the program can show real dialogs and tests can read each text, icon and title and answer
// in advance.
class UserPrompts
{
public:
    virtual ~UserPrompts() = default;
    virtual MessageResult messageBox(const QString &text, MessageIcon icon, const QString &title,
                                     MessageButtons buttons = MessageButtons::Ok) = 0;
};

// Result of a print job.
struct PrintOutcome
{
    bool printed = false; // false: nothing was printed (empty document or failure)
    QString pdfFile;      // set when no printer exists and the lines went to a PDF file
    QString error;        // set when printing failed
};

// Text printing: one printed line per given line, on the default printer.
class Printer
{
public:
    virtual ~Printer() = default;
    virtual PrintOutcome printLines(const QStringList &lines, const QString &documentName) = 0;
};

} // namespace telvox
