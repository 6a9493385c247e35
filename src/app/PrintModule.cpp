// The print module (telvox-print.so): printing through Qt Print Support and the desktop's print
// dialog, opened on the first print, so that a start loads no print library. Its one exported
// entry point prints; a caller of another build gets nothing printed.
#include "core/ProgramModule.h"
#include "platform/shell/UserPrompts.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include <cstring>

namespace {

telvox::PrintOutcome printLines(const QStringList &lines, const QString &documentName, const QString &pdfFolder)
{
    telvox::PrintOutcome outcome;
    if (lines.isEmpty())
        return outcome;
    QPrinter printer(QPrinterInfo::defaultPrinter(), QPrinter::HighResolution);
    printer.setDocName(documentName);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString pdfFile = QDir(pdfFolder).filePath(QStringLiteral("Print-%1.pdf").arg(stamp));
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        // The desktop's print dialog: a printer, or a PDF file (offered first when no printer
        // is installed). Closing it prints nothing.
        if (QPrinterInfo::defaultPrinter().isNull()) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdfFile);
        }
        QWidget *owner = QApplication::activeModalWidget();
        if (!owner)
            owner = QApplication::activeWindow();
        QPrintDialog dialog(&printer, owner);
        dialog.setWindowTitle(documentName);
        if (dialog.exec() != QDialog::Accepted)
            return outcome;
        if (printer.outputFormat() == QPrinter::PdfFormat)
            outcome.pdfFile = printer.outputFileName();
    } else if (QPrinterInfo::defaultPrinter().isNull()) {
        outcome.pdfFile = pdfFile;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(outcome.pdfFile);
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        outcome.error = QStringLiteral("cannot start the print job");
        outcome.pdfFile.clear();
        return outcome;
    }
    const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
    const QFontMetrics metrics(painter.font(), &printer);
    const int lineHeight = metrics.lineSpacing();
    int y = metrics.ascent();
    for (const QString &line : lines) {
        if (y > page.height()) {
            printer.newPage();
            y = metrics.ascent();
        }
        painter.drawText(0, y, line);
        y += lineHeight;
    }
    outcome.printed = painter.end();
    return outcome;
}

} // namespace

extern "C" __attribute__((visibility("default"))) bool telvox_print_lines(const char *build, const QStringList &lines,
                                                                          const QString &documentName,
                                                                          const QString &pdfFolder,
                                                                          telvox::PrintOutcome &outcome)
{
    if (!build || std::strcmp(build, telvox::programModuleBuild()) != 0)
        return false;
    outcome = printLines(lines, documentName, pdfFolder);
    return true;
}
