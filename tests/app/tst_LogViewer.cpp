#include "core/Texts.h"
#include "core/VirtualEventLoop.h"
#include "records/StatusLog.h"
#include "support/FakeShell.h"
#include "ui/WidgetPrompts.h"
#include "ui/frmViewLog.h"

#include <QPrinterInfo>
#include <QRegularExpression>

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTest>

using namespace telvox;
using namespace telvox::test;

class tst_LogViewer : public QObject
{
    Q_OBJECT
private:
    struct Fixture
    {
        Fixture()
        {
            table.loadBuiltIn();
            QDir().mkpath(dir.file("LogFiles"));
            QFile old(dir.file("LogFiles/26-12-01.txt"));
            if (old.open(QIODevice::WriteOnly))
                old.write("10:00:00 old line\r\n");
            old.close();
            log.OpenDayLog();
            log.AddStatus(QString("today"));
            viewerPtr = std::make_unique<frmViewLog>(frmViewLog::Services{texts, log, prompts, printer});
        }
        void select(const QString &name)
        {
            const auto items = viewer().File1()->findItems(name, Qt::MatchExactly);
            QVERIFY(items.size() == 1);
            viewer().File1()->setCurrentItem(items[0]);
        }
        QStringList shown() const
        {
            QStringList out;
            for (int r = 0; r < viewer().List1()->count(); ++r)
                out << viewer().List1()->item(r)->text();
            return out;
        }
        ScratchDir dir;
        StringTable table;
        Texts texts{table, 0};
        VirtualEventLoop loop{QDateTime(QDate(2026, 12, 4), QTime(9, 0))};
        StatusListModel list;
        StatusLog log{loop, dir.file("LogFiles"), list};
        ScriptedPrompts prompts;
        RecordingPrinter printer;
        std::unique_ptr<frmViewLog> viewerPtr;
        frmViewLog &viewer() const { return *viewerPtr; }
    };

private slots:
    void displayShowsFilesIncludingToday()
    {
        Fixture f;
        QCOMPARE(f.viewer().windowTitle(), QString("View Log Files"));
        QCOMPARE(f.viewer().File1()->count(), 2);
        f.viewer().Command1_Click(); // nothing selected: nothing shown, no message
        QVERIFY(f.shown().isEmpty());
        QVERIFY(f.prompts.shown.isEmpty());
        f.select("26-12-01.txt");
        f.viewer().Command1_Click();
        QCOMPARE(f.shown(), QStringList({"10:00:00 old line"}));
        f.select("26-12-04.txt");
        f.viewer().Command1_Click();
        QCOMPARE(f.shown(), QStringList({"09:00:00 today"}));
        f.log.AddStatus(QString("after viewing"));
        QFile today(f.dir.file("LogFiles/26-12-04.txt"));
        QVERIFY(today.open(QIODevice::ReadOnly));
        QCOMPARE(today.readAll(), QByteArray("09:00:00 today\r\n09:00:00 after viewing\r\n"));
    }

    void deleteRefusesTodayAndRemovesOlderFiles()
    {
        Fixture f;
        f.select("26-12-04.txt");
        f.viewer().mmuDelete_Click();
        QCOMPARE(f.prompts.shown.size(), 1);
        QCOMPARE(f.prompts.shown[0].icon, MessageIcon::Critical);
        QCOMPARE(f.prompts.shown[0].title, QString("Telvox"));
        QCOMPARE(f.prompts.shown[0].text, QString("File already open"));
        QVERIFY(QFile::exists(f.dir.file("LogFiles/26-12-04.txt")));
        QVERIFY(f.log.isChannelOpen());

        f.select("26-12-01.txt");
        f.viewer().mmuDelete_Click();
        QVERIFY(!QFile::exists(f.dir.file("LogFiles/26-12-01.txt")));
        QCOMPARE(f.viewer().File1()->count(), 1);
    }

    void printNeedsDisplayedLines()
    {
        Fixture f;
        f.viewer().cmdPrintLog_Click();
        QCOMPARE(f.prompts.shown.size(), 1);
        QCOMPARE(f.prompts.shown[0].text, QString("Please Select Log File"));
        QCOMPARE(f.prompts.shown[0].title, QString("View Log Files"));
        QCOMPARE(f.prompts.shown[0].icon, MessageIcon::Information);
        QCOMPARE(f.printer.jobs.size(), 0);
        f.select("26-12-01.txt");
        f.viewer().Command1_Click();
        f.viewer().cmdPrintLog_Click();
        QCOMPARE(f.printer.jobs, QList<QStringList>({{"10:00:00 old line"}}));
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
        QFile pdf(outcome.pdfFile);
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        const QByteArray bytes = pdf.readAll();
        QVERIFY(bytes.startsWith("%PDF"));
        // One page object per page; 150 lines do not fit on one page.
        const QString text = QString::fromLatin1(bytes);
        const auto pages = text.count(QRegularExpression("/Type\\s*/Page(?!s)"));
        QVERIFY2(pages >= 2, qPrintable(QString::number(pages)));
    }
};

QTEST_MAIN(tst_LogViewer)
#include "tst_LogViewer.moc"
