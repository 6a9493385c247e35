#pragma once

#include "platform/shell/UserPrompts.h"

#include <functional>

class QWidget;

namespace telvox {

// Message boxes as real dialogs. Without a screen to show them on (the offscreen platform of
// a headless run) the message is written to standard error, unless it was just written out as
// a status line, and answered with its default.
class WidgetPrompts final : public UserPrompts
{
public:
    explicit WidgetPrompts(QWidget *parent = nullptr)
        : m_parent(parent)
    {
    }
    void setParent(QWidget *parent) { m_parent = parent; }
    MessageResult messageBox(const QString &text, MessageIcon icon, const QString &title,
                             MessageButtons buttons = MessageButtons::Ok) override;
    void setAlreadyWritten(std::function<bool(const QString &)> written) { m_written = std::move(written); }

private:
    QWidget *m_parent;
    std::function<bool(const QString &)> m_written;
};

// Prints through the desktop's print dialog (a printer or a PDF file, a PDF file in `pdfFolder`
// offered first when no printer is installed). Without a screen: on the default printer, or
// with none installed into a PDF file in `pdfFolder`.
class QtPrinter final : public Printer
{
public:
    explicit QtPrinter(QString pdfFolder)
        : m_pdfFolder(std::move(pdfFolder))
    {
    }
    PrintOutcome printLines(const QStringList &lines, const QString &documentName) override;

private:
    QString m_pdfFolder;
};

} // namespace telvox
