#pragma once

#include "platform/shell/UserPrompts.h"

#include <QDir>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <deque>

namespace telvox::test {

// Message boxes answered in advance; every box shown is recorded for assertions.
class ScriptedPrompts final : public UserPrompts
{
public:
    struct Shown
    {
        QString text;
        MessageIcon icon;
        QString title;
        MessageButtons buttons;
    };

    MessageResult messageBox(const QString &text, MessageIcon icon, const QString &title,
                             MessageButtons buttons = MessageButtons::Ok) override
    {
        shown.append({text, icon, title, buttons});
        if (!answers.empty()) {
            const MessageResult r = answers.front();
            answers.pop_front();
            return r;
        }
        return buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel ? MessageResult::Yes
                                                                                          : MessageResult::Ok;
    }

    QStringList texts() const
    {
        QStringList out;
        for (const Shown &s : shown)
            out << s.text;
        return out;
    }

    QList<Shown> shown;
    std::deque<MessageResult> answers;
};

// Records print jobs instead of printing.
class RecordingPrinter final : public Printer
{
public:
    PrintOutcome printLines(const QStringList &lines, const QString &documentName) override
    {
        jobs.append(lines);
        names.append(documentName);
        PrintOutcome o;
        o.printed = !lines.isEmpty();
        o.pdfFile = pdfFileToReport;
        return o;
    }
    QList<QStringList> jobs;
    QStringList names;
    QString pdfFileToReport;
};

// A fresh, empty folder for one test case, under the test's scratch area.
class ScratchDir
{
public:
    ScratchDir()
        : m_dir(scratchRoot() + QStringLiteral("/case-XXXXXX"))
    {
    }
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }
    bool isValid() const { return m_dir.isValid(); }

private:
    static QString scratchRoot()
    {
        QString root = qEnvironmentVariable("TELVOX_TEST_TMP");
        if (root.isEmpty())
            root = QDir::tempPath() + QStringLiteral("/telvox-tests");
        QDir().mkpath(root);
        return root;
    }
    QTemporaryDir m_dir;
};

} // namespace telvox::test
