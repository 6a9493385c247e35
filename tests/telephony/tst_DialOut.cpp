// The dialler window over the telephony core on the virtual exchange: dialling, dropping, the
// phonebook file behind its lists and the call records.

#include "core/Texts.h"
#include "support/CallRig.h"
#include "records/CallRecords.h"
#include "telephony/PhoneBookTable.h"
#include "ui/UiFakes.h"
#include "ui/frmDialOut.h"
#include "ui/frmDialRecords.h"
#include "ui/frmPBAdd.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace telvox;
using telvox::test::CallRig;
using telvox::test::writeBytes;

namespace {

QByteArray record(const QByteArray &name, const QByteArray &tele)
{
    return name.leftJustified(30, ' ') + tele.leftJustified(20, ' ') + QByteArray(78, '\0');
}

struct Rig
{
    QString bookPath() const { return f.dir.file("PhoneBook.txt"); }
    bool writeBook(const QByteArray &bytes) const { return writeBytes(bookPath(), bytes); }
    std::unique_ptr<frmDialOut> window()
    {
        return std::make_unique<frmDialOut>(frmDialOut::Services{*f.dialler, f.texts(), f.settings, f.prompts, modal,
                                                                 bookPath(), [this] { ++reloads; }});
    }
    static QStringList items(const QListWidget *list)
    {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->item(i)->text();
        return texts;
    }
    static void click(const frmDialOut &w, const char *button) { w.findChild<QPushButton *>(button)->click(); }

    CallRig f;
    test::ScriptedModal modal;
    int reloads = 0;
};

} // namespace

class tst_DialOut : public QObject
{
    Q_OBJECT
private slots:
    void enterDialsAndTheWatchResetsTheButtons()
    {
        Rig r;
        r.f.settings.WriteSetting("Config", "Last_CallerID", "5550101");
        auto w = r.window();
        QCOMPARE(w->Combo1()->currentText(), QString("0"));
        QCOMPARE(w->txtDialOut()->text(), QString("5550101"));
        w->txtDialOut()->setText(" 5551234 ");
        QTest::keyClick(w->txtDialOut(), Qt::Key_Return);
        QCOMPARE(w->txtDialOut()->text(), QString(" 5551234 ")); // the key never reached the box
        QCOMPARE(r.f.exchange->view(0).dialled, QString("5551234"));
        QVERIFY(!w->cmdDial()->isEnabled() && w->cmdDrop()->isEnabled() && !w->cmdExit()->isEnabled());
        QCOMPARE(r.f.slot(0).callerId, QString("~ 5551234 "));
        QVERIFY(r.f.slot(0).outgoing);
        QCOMPARE(r.f.statusTexts().last(), QString("Line0 正在拨号"));
        QCOMPARE(readCallRecords(r.f.store, "Made"), QStringList{"5551234"});

        // Closing the window while calling is refused; the caller-ID table is reloaded anyway.
        w->show();
        QVERIFY(!w->close() && w->isVisible());
        QCOMPARE(r.f.prompts.shown.last().text, QString("Please Drop The Call First"));
        QCOMPARE(r.f.prompts.shown.last().icon, MessageIcon::Critical);
        QCOMPARE(r.reloads, 1);

        r.f.loop.advance(3000); // connected; a second later the recording waits for the answer
        QCOMPARE(r.f.slot(0).recState, 2);
        QVERIFY(r.f.dialler->Timer1(0).isEnabled());
        r.f.loop.advance(3000);
        QVERIFY(w->cmdDrop()->isEnabled());
        r.f.core->call(0).requestCaptureStop(); // the recording is over
        r.f.loop.advance(1000);
        QVERIFY(!r.f.dialler->Timer1(0).isEnabled());
        QVERIFY(w->cmdDial()->isEnabled() && !w->cmdDrop()->isEnabled() && w->cmdExit()->isEnabled());
    }

    void dialRefusalsLeaveTheButtonsReady()
    {
        Rig r;
        auto w = r.window();
        w->txtDialOut()->setText(" 1 ");
        r.click(*w, "cmdBackword");
        QCOMPARE(w->txtDialOut()->text(), QString(""));
        w->cmdDial()->click();
        QVERIFY(r.f.exchange->view(0).dialled.isEmpty());
        QVERIFY(w->cmdDial()->isEnabled());
        QVERIFY(!r.f.statusTexts().join('|').contains("正在拨号"));

        w->txtDialOut()->setText("555");
        w->Combo1()->setEditText("2"); // not opened
        w->cmdDial()->click();
        QCOMPARE(r.f.prompts.shown.last().text, QString("No line: choose a line from 0 to 3 that is ticked in the setup"));
        w->Combo1()->setEditText("9");
        w->cmdDial()->click();
        QCOMPARE(r.f.prompts.shown.size(), 2);

        // The line carries an incoming call: the service refuses, nothing changes.
        w->Combo1()->setEditText("0");
        IncomingCall in;
        QVERIFY(r.f.exchange->placeIncomingCall(0, in));
        r.f.loop.advance(100);
        w->cmdDial()->click();
        QVERIFY(w->cmdDial()->isEnabled());
        QVERIFY(readCallRecords(r.f.store, "Made").isEmpty());
        QCOMPARE(r.f.prompts.shown.size(), 2);
    }

    void dropActsOnTheLineBoxAtThatMoment()
    {
        Rig r;
        auto w = r.window();
        w->txtDialOut()->setText("555");
        w->cmdDial()->click();
        w->Combo1()->setEditText("1");
        r.f.core->call(1).startRecording(CallKind::Handset);
        w->cmdDrop()->click();
        QCOMPARE(r.f.slot(1).recState, RecState::Idle);
        QVERIFY(r.f.requests.contains("waveInReset 1"));
        QVERIFY(r.f.timer(CallTimer::timDropCall, 1).isEnabled() && !r.f.timer(CallTimer::timDropCall, 0).isEnabled());
        QCOMPARE(r.f.statusTexts().last(), QString("@End of Recording"));
        QVERIFY(w->cmdDial()->isEnabled() && !w->cmdDrop()->isEnabled());
        r.f.loop.advance(1000); // dropping a line without a call is harmless
        QVERIFY(w->cmdExit()->isEnabled());
        w->Combo1_LostFocus();
        QCOMPARE(r.f.setting("Config", "DialOut"), QString("1"));
        QVERIFY(r.f.fileBytes("settings.txt").contains("Config@DialOut@1\r\n"));
    }

    void addedAndCutRecordsAreStoredByteForByte()
    {
        Rig r;
        QVERIFY(r.writeBook(record("Bob", "111") + QByteArray(128, '\0') + record("Cy", "                    ")));
        auto w = r.window();
        // The never-written slot is not listed; the blank telephone is.
        QCOMPARE(r.items(w->lstPBName()), QStringList({QString("Bob").leftJustified(30), QString("Cy").leftJustified(30)}));
        r.modal.answer = [](QDialog &d) {
            static_cast<frmPBAdd &>(d).Text1()->setText("Anna");
            static_cast<frmPBAdd &>(d).Text2()->setText("555");
            QVERIFY(static_cast<frmPBAdd &>(d).OKButton_Click());
        };
        r.click(*w, "cmdAdd");
        // Record 3 (right after the second listed entry) is replaced by the new entry.
        QCOMPARE(r.f.fileBytes("PhoneBook.txt"), record("Bob", "111") + QByteArray(128, '\0') + record("Anna", "555"));
        QCOMPARE(r.items(w->lstPBTele()).last(), QString("555").leftJustified(20));

        // Nothing is cut or stored without a word: typing goes to the name; a name of more
        // bytes than the record holds, no number, or letters in it are refused with a message
        // until corrected (letters cannot even be typed).
        const qsizetype messagesBefore = r.f.prompts.shown.size();
        r.modal.answer = [&r, messagesBefore](QDialog &d) {
            auto &editor = static_cast<frmPBAdd &>(d);
            d.show();
            QCOMPARE(d.focusWidget(), editor.Text1());
            QTest::keyClicks(d.focusWidget(), QString("N").repeated(35));
            QCOMPARE(editor.Text1()->text(), QString("N").repeated(35));
            QTest::keyClicks(editor.Text2(), "55a5");
            QCOMPARE(editor.Text2()->text(), QString("555"));
            QVERIFY(!editor.OKButton_Click()); // 35 bytes: more than 30
            editor.Text1()->setText("王小明王小明王小明"); // 27 bytes
            for (const char *bad : {"", "  ", "555-CALL"}) {
                editor.Text2()->setText(bad);
                QVERIFY(!editor.OKButton_Click());
                QCOMPARE(d.focusWidget(), editor.Text2());
            }
            QCOMPARE(r.f.prompts.shown.size(), messagesBefore + 4);
            QVERIFY(d.isVisible() || d.result() != QDialog::Accepted);
            editor.Text2()->setText("+49 (30) 555-1234#");
            QVERIFY(editor.OKButton_Click());
        };
        r.click(*w, "cmdAdd");
        const QByteArray fourth = r.f.fileBytes("PhoneBook.txt").mid(3 * 128);
        QCOMPARE(fourth, QString("王小明王小明王小明").toUtf8() + QByteArray(3, ' ') + QByteArray("+49 (30) 555-1234#")
                             + QByteArray(2, ' ') + QByteArray(78, '\0'));
        QVERIFY(r.items(w->lstPBName()).last().startsWith("王小明王小明王小明"));
        // Opened for a caller's number, the editor waits for the name.
        r.modal.answer = [](QDialog &d) {
            auto &editor = static_cast<frmPBAdd &>(d);
            editor.Text2()->setText("777");
            d.show();
            QCOMPARE(d.focusWidget(), editor.Text1());
            d.reject();
        };
        r.click(*w, "cmdAdd");

        r.modal.answer = [](QDialog &d) { d.reject(); };
        r.click(*w, "cmdAdd");
        QCOMPARE(r.f.fileBytes("PhoneBook.txt").size(), 4 * 128);
    }

    void selectAndDeleteKeepTheListsInStep()
    {
        Rig r;
        QVERIFY(r.writeBook(record("Ann", "111") + record("Bob", "222  ") + record("Cy", "333")));
        auto w = r.window();
        w->lstPBName()->setCurrentRow(1);
        QCOMPARE(w->lstPBTele()->currentRow(), 1);
        w->lstPBTele()->item(1)->setSelected(true);
        r.click(*w, "cmdSelect");
        QCOMPARE(w->txtDialOut()->text(), QString("222"));

        r.click(*w, "cmdDelete");
        QCOMPARE(r.f.fileBytes("PhoneBook.txt"), record("Ann", "111") + record("Cy", "333"));
        QCOMPARE(r.items(w->lstPBName()), QStringList({QString("Ann").leftJustified(30), QString("Cy").leftJustified(30)}));

        // A book that cannot be written (here a folder took its place, which no user, not even
        // the administrator, can write as a file): nothing is removed, the user is told.
        QVERIFY(QFile::rename(r.bookPath(), r.f.dir.file("saved.txt")));
        QVERIFY(QDir().mkdir(r.bookPath()));
        w->lstPBTele()->setCurrentRow(0);
        w->lstPBTele()->item(0)->setSelected(true);
        r.click(*w, "cmdDelete");
        QCOMPARE(w->lstPBTele()->count(), 2);
        QCOMPARE(r.f.prompts.shown.last().text, r.f.texts().LoadText(1401));
        r.modal.answer = [](QDialog &d) {
            QVERIFY(!static_cast<frmPBAdd &>(d).OKButton_Click());
            d.reject();
        };
        r.click(*w, "cmdAdd");
        QCOMPARE(r.f.prompts.shown.size(), 2);
        QCOMPARE(w->lstPBTele()->count(), 2);
    }

    void threeHundredEntriesAndDamagedBooks()
    {
        Rig r;
        QByteArray book;
        for (int i = 1; i <= 301; ++i)
            book += record("P" + QByteArray::number(i), QByteArray::number(1000 + i));
        QVERIFY(r.writeBook(book));
        PhoneBookTable table;
        QVERIFY(table.LoadPhoneBook(r.bookPath()));
        QCOMPARE(table.entry(299).tele.trimmed(), QString("1300"));
        QCOMPARE(phonebook::listedEntries(r.bookPath()).size(), std::size_t(300));

        // Cut in the middle of the second record's name, then garbage and a long tail.
        QVERIFY(r.writeBook(record("Ann", "111") + QByteArray("Bo")));
        QCOMPARE(phonebook::listedEntries(r.bookPath()).size(), std::size_t(1));
        QByteArray garbage(10 * 1024 * 1024, '\xff');
        for (int i = 0; i < garbage.size(); i += 7)
            garbage[i] = char(1 + i % 255); // no zero byte: every slot is listed
        QVERIFY(r.writeBook(garbage));
        QVERIFY(table.LoadPhoneBook(r.bookPath()));
        auto w = r.window();
        QCOMPARE(w->lstPBName()->count(), 300);
    }

    void recordsWindowDialsTheChosenNumber()
    {
        Rig r;
        // The eleventh number drops the first; the window lists the oldest first.
        QStringList made;
        for (int i = 1; i <= 11; ++i)
            AddMadeCall(r.f.store, made.emplace_back(QString::number(100 + i)));
        made.removeFirst();
        QCOMPARE(readCallRecords(r.f.store, "Made").first(), QString("102"));
        for (const char *number : {"A", "UNKNOWN", "C"})
            AddReceivedCall(r.f.store, number);
        // A number dialled again is listed once, where it was dialled last; a number of the
        // phonebook shows its name.
        AddMadeCall(r.f.store, "104");
        made.removeOne("104");
        made.removeFirst();
        made << "104";
        QVERIFY(r.writeBook(record("Anna Meyer", "105")));
        made.replace(made.indexOf("105"), "Anna Meyer (105)");
        auto w = r.window();
        w->Combo1()->setEditText("3");
        r.modal.answer = [&made, &r](QDialog &d) {
            auto &records = static_cast<frmDialRecords &>(d);
            // Each call shows its time after the number.
            const QDateTime when = r.f.store.callRecordEntries("Received").last().when;
            QVERIFY(when.isValid());
            QCOMPARE(records.lstReceived()->item(2)->text(), "C    " + QLocale().toString(when, QLocale::ShortFormat));
            const auto numbersOnly = [](const QListWidget *list) {
                QStringList out;
                for (const QString &item : Rig::items(list))
                    out << item.section("    ", 0, 0);
                return out;
            };
            QCOMPARE(numbersOnly(records.lstMade()), made);
            QCOMPARE(records.lstMade()->item(int(made.indexOf("Anna Meyer (105)")))->data(Qt::UserRole).toString(),
                     QString("105")); // what is dialled
            QCOMPARE(numbersOnly(records.lstReceived()), QStringList({"A", "UNKNOWN", "C"}));
            records.cmdReceived_Click(); // nothing selected: nothing happens
            QVERIFY(records.chosenNumber().isEmpty());
            records.lstReceived()->item(1)->setSelected(true);
            records.cmdReceived_Click();
        };
        r.click(*w, "cmdRecords");
        QCOMPARE(w->txtDialOut()->text(), QString("UNKNOWN"));
        QCOMPARE(r.f.prompts.shown.last().text, QString("No line: choose a line from 0 to 3 that is ticked in the setup")); // line 3 is not open
    }
};

QTEST_MAIN(tst_DialOut)
#include "tst_DialOut.moc"
