#include "ui/WidgetPrompts.h"

#include "core/ProgramModule.h"

#include <QFontMetrics>
#include <QApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTextStream>

namespace telvox {

MessageResult WidgetPrompts::messageBox(const QString &text, MessageIcon icon, const QString &title,
                                        MessageButtons buttons)
{
    const MessageResult fallback = buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel
        ? MessageResult::Yes
        : MessageResult::Ok;
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        if (!m_written || !m_written(text))
            QTextStream(stderr) << title << ": " << text << Qt::endl;
        return fallback;
    }
    // Over the window the user is working in: a question asked by a dialog opens on top of that
    // dialog, never behind the other windows.
    // The modal window in front (a dialog, or a progress over it) owns the message; only
    // without one is it the program's main window's.
    QWidget *owner = QApplication::activeModalWidget();
    if (!owner)
        owner = m_parent;
    if (!owner)
        owner = QApplication::activeWindow();
    QMessageBox box(owner);
    box.setWindowTitle(title);
    box.setText(text);
    // A short message makes a narrow box; keep it wide enough for its whole title.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout())) {
        const int titleWidth = box.fontMetrics().horizontalAdvance(title) + 160;
        grid->addItem(new QSpacerItem(titleWidth, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(),
                      0, 1, grid->columnCount());
    }
    switch (icon) {
    case MessageIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    case MessageIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MessageIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MessageIcon::None: break;
    }
    switch (buttons) {
    case MessageButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case MessageButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MessageButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MessageButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Cancel: return MessageResult::Cancel;
    case QMessageBox::Yes: return MessageResult::Yes;
    case QMessageBox::No: return MessageResult::No;
    default: return MessageResult::Ok;
    }
}

PrintOutcome QtPrinter::printLines(const QStringList &lines, const QString &documentName)
{
    PrintOutcome outcome;
    if (lines.isEmpty())
        return outcome;
    // Qt Print Support lives in a module of its own (core/ProgramModule.h), loaded now.
    using Entry = bool (*)(const char *, const QStringList &, const QString &, const QString &, PrintOutcome &);
    QString error;
    const auto entry = reinterpret_cast<Entry>(
        programModuleSymbol(kPrintModuleFile, kPrintModuleOverride, kPrintModuleEntry, &error));
    if (!entry) {
        outcome.error = QStringLiteral("printing is not available (%1)").arg(error);
        return outcome;
    }
    if (!entry(programModuleBuild(), lines, documentName, m_pdfFolder, outcome))
        outcome.error = QStringLiteral("printing is not available (a print module of another build)");
    return outcome;
}

} // namespace telvox
