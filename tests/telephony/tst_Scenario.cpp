// The scenario file format: what it reads and how it reports mistakes.

#include "sim/exchange/Scenario.h"

#include <QTest>

using namespace telvox;
using namespace telvox::sim;

class tst_Scenario : public QObject
{
    Q_OBJECT
private slots:
    void readsEveryStatement()
    {
        const QString text = QStringLiteral(
            "# comment\n"
            "country \"Germany\"\n"
            "devices 6\n"
            "device 1 name \"Data \\\"Modem\\\"\" modes 0x14 open-error ALLOCATED\n"
            "device 2 status-error 80000048\n"
            "init-error NODRIVER\n"
            "hangup-tone reorder\n"
            "setting \"Config\" \"Rings\" \"3\"   # trailing comment\n"
            "phonebook \"Anna\" \"555\"\n"
            "at 12.5s line 1 digits \"1#\"\n"
            "at 0 line 0 call number \"5\\x01\\xFF\" name \"N\" cid before cadence 400/200/400/2000 rings 4 giveup idle pickup-after 2 audio tone busy\n"
            "at 1500ms line 0 hangup silent\n"
            "at 2000 line 2 outgoing answer-after 3s audio talk 9\n"
            "at 2000 line 2 dial \"123\"\n"
            "at 2500 line 3 click answer\n"
            "end 1m\n");
        ScenarioError error;
        // "1m" is not a time: the parser must say so at its column.
        QVERIFY(!parseScenario(text, &error));
        QCOMPARE(error.pos.line, 16);
        QCOMPARE(error.pos.column, 5);

        const auto s = parseScenario(QString(text).replace("end 1m", "end 60s\nexpect sequence \"a\" \"b\""), &error);
        QVERIFY2(s, qPrintable(error.message));
        QCOMPARE(s->exchange.country, std::string("Germany"));
        QCOMPARE(s->exchange.devices.size(), std::size_t(6));
        QCOMPARE(s->exchange.devices[1].name, QByteArray("Data \"Modem\""));
        QCOMPARE(s->exchange.devices[1].mediaModes, 0x14u);
        QCOMPARE(s->exchange.devices[1].openResult, LineErr::Allocated);
        QCOMPARE(s->exchange.devices[2].statusMessagesResult, LineErr::OperationFailed);
        QCOMPARE(s->exchange.initializeResult, LineErr::NoDriver);
        QCOMPARE(s->hangUpTone, HangUpTone::Reorder);
        QCOMPARE(s->settings.size(), std::size_t(1));
        QCOMPARE(s->phoneBook.at(0).number, QByteArray("555"));
        QCOMPARE(s->endMs, 60000);
        QCOMPARE(s->expectations.at(0).items, (QStringList{"a", "b"}));
        // Steps are sorted by time, keeping the file order for equal times.
        QCOMPARE(s->steps.size(), std::size_t(6));
        const ScenarioStep &call = s->steps[0];
        QCOMPARE(call.action, ScenarioStep::Action::Call);
        QCOMPARE(call.number, QByteArray("5\x01\xFF"));
        QCOMPARE(call.callerIdTiming, CallerIdTiming::BeforeFirstRing);
        QCOMPARE(call.cadenceMs, (std::vector<int>{400, 200, 400, 2000}));
        QCOMPARE(call.rings, 4);
        QVERIFY(call.giveUpWithIdle);
        QCOMPARE(call.pickUpAfterRing, 2);
        QCOMPARE(call.audio.kind, AudioSpec::Kind::Tone);
        QCOMPARE(s->steps[1].hangUp, FarEndHangUp::Silent);
        QCOMPARE(s->steps[2].action, ScenarioStep::Action::Outgoing);
        QCOMPARE(s->steps[2].answerAfterMs, 3000);
        QCOMPARE(s->steps[2].audio.seed, 9u);
        QCOMPARE(s->steps[3].action, ScenarioStep::Action::Dial);
        QCOMPARE(s->steps[4].action, ScenarioStep::Action::ClickAnswer);
        QCOMPARE(s->steps[5].atMs, 12500);
        QCOMPARE(s->steps[5].text, QString("1#"));
    }

    void readsTimesFilesAndWindows()
    {
        ScenarioError error;
        const auto s = parseScenario(
            "start \"2026-03-01 23:59:50\"\n"
            "file \"Rings.txt\" \"2,00:00:00-23:59:59,1\\r\\n\"\n"
            "expect audio-at 1.5s \"PlayGreeting 0\"\n"
            "expect status-at 900..1.2s \"Line0 Ring...\"\n"
            "expect file \"A*.wav\"\n"
            "expect file \"A*.wav\" bytes 16000..20000\n"
            "expect file \"callerid.txt\" \"555\"\n",
            &error);
        QVERIFY2(s, qPrintable(error.message));
        QCOMPARE(s->start, QDateTime(QDate(2026, 3, 1), QTime(23, 59, 50)));
        QCOMPARE(s->files.size(), std::size_t(1));
        QCOMPARE(s->files[0].bytes, QByteArray("2,00:00:00-23:59:59,1\r\n"));
        const auto &e = s->expectations;
        QCOMPARE(e[0].kind, Expectation::Kind::AudioAt);
        QCOMPARE(e[0].fromMs, 1500);
        QCOMPARE(e[0].toMs, 1500);
        QCOMPARE(e[1].kind, Expectation::Kind::StatusAt);
        QCOMPARE(e[1].fromMs, 900);
        QCOMPARE(e[1].toMs, 1200);
        QVERIFY(!e[2].hasContent && e[2].minBytes == -1);
        QCOMPARE(e[3].minBytes, 16000);
        QCOMPARE(e[3].maxBytes, 20000);
        QVERIFY(e[4].hasContent && e[4].c == "555");
        // Without a start the clock begins at its default.
        QVERIFY(!parseScenario("devices 1", &error)->start.isValid());

        // What the far end heard, a PIN, a steady tone.
        const auto heard = parseScenario("pin \"4711\"\n"
                                         "at 0 line 0 audio sine 700\n"
                                         "expect heard-tone 62s..160s 700\n"
                                         "expect no-heard-tone 0..1s 1300 line 2\n",
                                         &error);
        QVERIFY2(heard, qPrintable(error.message));
        QCOMPARE(heard->pin, QString("4711"));
        QCOMPARE(heard->steps[0].audio.kind, AudioSpec::Kind::Sine);
        QCOMPARE(heard->steps[0].audio.hz, 700);
        const auto &h = heard->expectations;
        QVERIFY(h[0].kind == Expectation::Kind::HeardTone && h[0].fromMs == 62000 && h[0].toMs == 160000 && h[0].hz == 700
                && h[0].line == 0);
        QVERIFY(h[1].kind == Expectation::Kind::NoHeardTone && h[1].hz == 1300 && h[1].line == 2);
        QVERIFY(!parseScenario("devices 1", &error)->pin);
    }

    void reportsLineAndColumn_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown statement") << "\n  ring 3" << 2 << 3 << "unknown statement";
        QTest::newRow("unclosed quote") << "setting \"Config" << 1 << 9 << "not closed";
        QTest::newRow("bad escape") << "setting \"a\\q\" \"b\" \"c\"" << 1 << 11 << "unknown escape";
        QTest::newRow("missing value") << "setting \"a\" \"b\"" << 1 << 16 << "expected a value";
        QTest::newRow("word for quoted") << "setting Config \"b\" \"c\"" << 1 << 9 << "double quotes";
        QTest::newRow("bad time") << "at soon line 0 pickup" << 1 << 4 << "expected a time";
        QTest::newRow("line out of range") << "at 0 line 99 pickup" << 1 << 11 << "between 0 and 15";
        QTest::newRow("no such device") << "devices 2\nat 0 line 3 pickup" << 2 << 1 << "line 3 has no device";
        QTest::newRow("unknown action") << "at 0 line 0 ring" << 1 << 13 << "unknown action";
        QTest::newRow("odd cadence") << "at 0 line 0 call cadence 100/200/300" << 1 << 26 << "pairs";
        QTest::newRow("bad digit") << "at 0 line 0 digits \"12x\"" << 1 << 23 << "touch-tone";
        QTest::newRow("extra word") << "at 0 line 0 pickup now" << 1 << 20 << "unexpected";
        QTest::newRow("unknown country") << "country \"Atlantis\"" << 1 << 9 << "no tone plan";
        QTest::newRow("unknown error code") << "init-error NOPE" << 1 << 12 << "unknown error code";
        QTest::newRow("unknown expectation") << "expect miracle" << 1 << 8 << "unknown expectation";
        QTest::newRow("start without seconds") << "start \"2026-03-01 23:59\"" << 1 << 7 << "date and time";
        QTest::newRow("window backwards") << "expect audio-at 2s..1s \"x\"" << 1 << 17 << "window";
        QTest::newRow("bytes backwards") << "expect file \"a\" bytes 9..3" << 1 << 23 << "range";
        QTest::newRow("file length word") << "expect file \"a\" size 3" << 1 << 17 << "or bytes";
        QTest::newRow("pin unquoted") << "pin 4711" << 1 << 5 << "PIN in double quotes";
        QTest::newRow("tone too high") << "expect heard-tone 1s..2s 5000" << 1 << 26 << "between 100 and 3900";
        QTest::newRow("heard-tone line word") << "expect heard-tone 1s..2s 700 on 1" << 1 << 30 << "line";
    }
    void reportsLineAndColumn()
    {
        QFETCH(QString, text);
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(QString, message);
        ScenarioError error;
        QVERIFY(!parseScenario(text, &error));
        QCOMPARE(error.pos.line, line);
        QCOMPARE(error.pos.column, column);
        QVERIFY2(error.message.contains(message), qPrintable(error.message));
        QVERIFY(formatScenarioError("x.scn", error).startsWith(QString("x.scn:%1:%2: ").arg(line).arg(column)));
    }
};

QTEST_GUILESS_MAIN(tst_Scenario)
#include "tst_Scenario.moc"
