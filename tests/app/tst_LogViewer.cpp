#include "support/Files.h"
#include "support/ProgramFolder.h"
#include "ui/UiFakes.h"
#include "ui/WidgetPrompts.h"
#include "ui/frmViewLog.h"

#include <QListWidget>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

namespace {

// The day logs of 2026-12-01 (one line) and of today, 2026-12-04, open and written to.
struct Fixture : ProgramFolder
{
    Fixture()
        : ProgramFolder(QDateTime(QDate(2026, 12, 4), QTime(9, 0)))
    {
        writeBytes(dir.file("LogFiles/26-12-01.txt"), "10:00:00 old line\r\n");
        status.OpenDayLog();
        status.AddStatus(QString("today"));
        window = std::make_unique<frmViewLog>(frmViewLog::Services{texts, status, prompts, printer});
    }
    // Selects the file and shows it; the lines shown.
    QStringList show(const QString &name)
    {
        const auto items = window->File1()->findItems(name, Qt::MatchExactly);
        if (items.size() == 1)
            window->File1()->setCurrentItem(items[0]);
        window->Command1_Click();
        return itemTexts(window->List1());
    }
    RecordingPrinter printer;
    std::unique_ptr<frmViewLog> window;
};

} // namespace

class tst_LogViewer : public QObject
{
    Q_OBJECT
private slots:
    void showsAndPrintsTheChosenDayWhileTodayGoesOn()
    {
        Fixture f;
        QCOMPARE(f.window->windowTitle(), QString("View Log Files"));
        QCOMPARE(f.window->File1()->count(), 2);
        f.window->cmdPrintLog_Click(); // nothing shown: nothing to print
        QCOMPARE(f.prompts.shown.size(), 1);
        QCOMPARE(f.prompts.shown[0].text, QString("Please Select Log File"));
        QCOMPARE(f.prompts.shown[0].title, QString("View Log Files"));
        QCOMPARE(f.prompts.shown[0].icon, MessageIcon::Information);
        QVERIFY(f.show("none").isEmpty()); // nothing selected: nothing shown, no message
        QCOMPARE(f.prompts.shown.size(), 1);
        QCOMPARE(f.show("26-12-01.txt"), QStringList({"10:00:00 old line"}));
        f.window->cmdPrintLog_Click();
        QCOMPARE(f.printer.jobs, QList<QStringList>({{"10:00:00 old line"}}));
        QCOMPARE(f.show("26-12-04.txt"), QStringList({"09:00:00 today"}));
        f.status.AddStatus(QString("after viewing"));
        QCOMPARE(readAll(f.dir.file("LogFiles/26-12-04.txt")), QByteArray("09:00:00 today\r\n09:00:00 after viewing\r\n"));
    }

    void deleteRefusesTodayAndRemovesOlderFiles()
    {
        Fixture f;
        f.show("26-12-04.txt");
        f.window->mmuDelete_Click();
        QCOMPARE(f.prompts.shown.size(), 1);
        QCOMPARE(f.prompts.shown[0].icon, MessageIcon::Critical);
        QCOMPARE(f.prompts.shown[0].title, QString("Telvox"));
        QCOMPARE(f.prompts.shown[0].text, QString("File already open"));
        QVERIFY(QFile::exists(f.dir.file("LogFiles/26-12-04.txt")));
        QVERIFY(f.status.isChannelOpen());
        f.show("26-12-01.txt");
        f.window->mmuDelete_Click();
        QVERIFY(!QFile::exists(f.dir.file("LogFiles/26-12-01.txt")));
        QCOMPARE(f.window->File1()->count(), 1);
    }

    void withoutAPrinterTheLinesGoToAPdfFile()
    {
        if (!QPrinterInfo::defaultPrinter().isNull())
            QSKIP("a default printer is installed");
        ScratchDir dir;
        QtPrinter printer(dir.path());
        QVERIFY(!printer.printLines({}, "empty").printed);
        QStringList lines;
        for (int i = 0; i < 150; ++i) // more than one page
            lines << QString("10:00:%1 Line0 Ring...").arg(i % 60, 2, 10, QChar('0'));
        const PrintOutcome outcome = printer.printLines(lines, "Status");
        QVERIFY(outcome.printed);
        QVERIFY(outcome.pdfFile.startsWith(dir.path()));
        const QByteArray bytes = readAll(outcome.pdfFile);
        QVERIFY(bytes.startsWith("%PDF"));
        // One page object per page; 150 lines do not fit on one page.
        const auto pages = QString::fromLatin1(bytes).count(QRegularExpression("/Type\\s*/Page(?!s)"));
        QVERIFY2(pages >= 2, qPrintable(QString::number(pages)));
    }
};

QTEST_MAIN(tst_LogViewer)
#include "tst_LogViewer.moc"
