// What the voice-modem backend reads from the modem: caller-ID reports in every form and in
// pieces (the parser through the line), the <DLE> events of a call (touch tones, hang-up, silence, line reversal), and
// modem output collected from manuals, logs and bug reports (fixtures/*.txt).

#include "ScriptedModem.h"

#include <QDir>
#include <QFile>

using namespace telvox;
using namespace telvox::modem;
using namespace telvox::test;

namespace {

// A fixture: a header of "key: value" lines naming its source and what it must give, "----",
// then the modem's lines (or, for a stream, its shielded codes written as <DLE>x).
struct Snippet
{
    QMap<QString, QString> fields;
    QList<QByteArray> body;
};

Snippet readSnippet(const QString &path)
{
    Snippet s;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return s;
    bool inBody = false;
    for (QByteArray line : file.readAll().split('\n')) {
        if (inBody)
            s.body << line.replace("<DLE>", "\x10").replace("<ETX>", "\x03");
        else if (line == "----")
            inBody = true;
        else if (const int colon = line.indexOf(':'); colon > 0)
            s.fields.insert(QString::fromUtf8(line.left(colon)), QString::fromUtf8(line.mid(colon + 1).trimmed()));
    }
    if (!s.body.isEmpty() && s.body.back().isEmpty())
        s.body.removeLast();
    return s;
}

std::uint32_t flagsByName(const QString &names)
{
    static const QMap<QString, std::uint32_t> known{{"address", CallPartyId::Address},
                                                    {"name", CallPartyId::Name},
                                                    {"blocked", CallPartyId::Blocked},
                                                    {"outofarea", CallPartyId::OutOfArea},
                                                    {"none", CallPartyId::Unknown}};
    std::uint32_t flags = 0;
    for (const QString &n : names.split(','))
        flags |= known.value(n);
    return flags;
}

// The caller ID the line holds for its current call.
LineCallInfo callInfo(Rig &rig)
{
    LineCallInfo info;
    rig.service->lineGetCallInfo(rig.modemLine().hCall(), info);
    return info;
}

} // namespace

class tst_ModemReports : public QObject
{
    Q_OBJECT

private slots:
    void callerIdReports_data()
    {
        QTest::addColumn<QList<QByteArray>>("pushes"); // sent one after another, 200 ms apart
        QTest::addColumn<QByteArray>("number");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("flags");
        QTest::addColumn<int>("rings");
        // The forms in fixtures/ (formatted before and after the first ring, SDMF, damaged packets,
        // P, O, CALLER NUMBER, MESG 03, rings only) are not repeated here.
        const QByteArray ring = "\r\nRING\r\n";
        const auto row = [](const char *name, QList<QByteArray> pushes, const char *number, const char *callerName,
                            const char *flags, int rings) {
            QTest::newRow(name) << pushes << QByteArray(number) << QByteArray(callerName) << QString::fromLatin1(flags)
                                << rings;
        };
        row("split across reads", {ring, "\r\nNM", "BR = 555", "1234\r", "\nNAME = ANNA\r\n"}, "5551234", "ANNA",
            "address,name", 1);
        row("out of area, a name with punctuation", {ring, "\r\nNAME = O'BRIEN-SMITH J.\r\nNMBR=O\r\n+VCID: 1\r\n"}, "",
            "O'BRIEN-SMITH J.", "name,outofarea", 1);
        row("name withheld (MESG 08)", {ring, "\r\nNMBR = 5551234\r\nMESG = 080150\r\n"}, "5551234", "", "address,blocked", 1);
        row("short hex ignored", {ring, "\r\n0401\r\n"}, "", "", "none", 1);
        row("mdmf hex", {ring, "\r\n80100108303332313134303502043535353101\r\n"}, "5551", "", "address", 1);
        row("mdmf hex, number in parameter 03", {ring, "\r\n800F01083033323131343035030335353533\r\n"}, "555", "",
            "address", 1);
        // Both number parameters in one packet: the calling number (02) wins over the dialable
        // directory number (03), whichever comes first.
        row("mdmf hex, 03 then 02", {ring, "\r\n80150108303332313134303503033939390204353535314B\r\n"}, "5551", "",
            "address", 1);
        row("mdmf hex, 02 then 03", {ring, "\r\n80150108303332313134303502043535353103033939394B\r\n"}, "5551", "",
            "address", 1);
        row("complex event packet", {"\x10X\r\nNMBR = 5550000\r\nNAME = BOB\r\n\x10.", "\x10R"}, "5550000", "BOB",
            "address,name", 1);
        // Reports in pieces: a name in a later packet, a number masked after it came.
        row("name in a later packet", {ring, "\r\nDATE = 0321\r\nNMBR = 5551234\r\n", "", "", "\r\nNAME = ANNA\r\n", ring},
            "5551234", "ANNA", "address,name", 2);
        row("number, then a hex packet with the name", {ring, "\r\nNMBR = 5551234\r\n800A0708414E4E41204D45593E\r\n"},
            "5551234", "ANNA MEY", "address,name", 1);
        row("number masked after it came", {ring, "\r\nNMBR = 5551234\r\nNMBR = O\r\n", "", "", "\r\nNMBR=P\r\n"},
            "5551234", "", "address", 1);
        row("NBR tag", {ring, "\r\nNBR = 5551234\r\n"}, "5551234", "", "address", 1);
        row("DDN tag", {ring, "\r\nDDN=5551234\r\n"}, "5551234", "", "address", 1);
        row("two tags on one line", {ring, "\r\nNAME=ANNA NMBR=5551234\r\n"}, "5551234", "ANNA", "address,name", 1);
        row("sdmf anonymous", {ring, "\r\n040930333231313430354122\r\n"}, "", "", "blocked", 1);
        row("numbers on the ring line", {"\r\nRING;5551234;5559876\r\n"}, "5551234", "", "address", 1);
    }

    void callerIdReports()
    {
        QFETCH(QList<QByteArray>, pushes);
        QFETCH(QByteArray, number);
        QFETCH(QByteArray, name);
        QFETCH(QString, flags);
        QFETCH(int, rings);
        Rig rig(test::conexantChip());
        for (const QByteArray &bytes : pushes) {
            rig.modem->push(bytes);
            rig.settle(200);
        }
        rig.settle(500);
        const auto ringEvents = rig.take(LINE_LINEDEVSTATE);
        QCOMPARE(int(ringEvents.size()), rings);
        for (int i = 0; i < rings; ++i)
            QCOMPARE(ringEvents[std::size_t(i)].p3, std::uint32_t(i + 1));
        const auto states = rig.take(LINE_CALLSTATE);
        QCOMPARE(states.size(), std::size_t{1});
        QCOMPARE(states[0].p1, LineCallState::Offering);
        const auto infos = rig.take(LINE_CALLINFO);
        QCOMPARE(infos.empty(), flags == QLatin1String("none"));
        if (!infos.empty()) {
            QVERIFY(infos[0].at >= states[0].at); // never before the call is offered
            QCOMPARE(infos[0].device, states[0].device);
        }
        const LineCallInfo info = callInfo(rig);
        QCOMPARE(info.callerIdNumber, number);
        QCOMPARE(info.callerIdName, name);
        QCOMPARE(info.callerIdFlags, flagsByName(flags));
    }

    void eventsOfACall_data()
    {
        QTest::addColumn<bool>("dialled");           // a dialled call, else an answered one
        QTest::addColumn<QList<QByteArray>>("codes"); // each followed by `gaps` ms
        QTest::addColumn<QList<int>>("gaps");
        QTest::addColumn<QString>("digits");
        QTest::addColumn<int>("ended"); // disconnections reported (never more than one)
        QTest::addColumn<int>("silence");
        // Touch tones: one digit per key press, however fast genuine presses follow each other;
        // a key held between <DLE>/ and <DLE>~ (or DEL) is one press.
        QTest::newRow("simple, fast repeats") << false << QList<QByteArray>{"\x10#", "\x10#", "\x10#", "\x10#"}
                                              << QList<int>{70, 40, 300, 100} << "####" << 0 << 0;
        QTest::newRow("shielded, held and repeated")
            << false << QList<QByteArray>{"\x10/\x10" "5\x10" "5\x10" "5\x10~", "\x10/\x10" "5\x10~"} << QList<int>{50, 50}
            << "55" << 0 << 0;
        QTest::newRow("shielded, two keys, DEL end")
            << false << QList<QByteArray>{"\x10/\x10" "2\x10" "2\x10" "3\x10~", QByteArray("\x10/\x10" "1\x10\x7F", 6)}
            << QList<int>{100, 100} << "231" << 0 << 0;
        // The modem's own silence reports are no hang-up; a loop-current drop is, reported once.
        QTest::newRow("silence reports") << false << QList<QByteArray>{"\x10s", "\x10q"} << QList<int>{500, 500} << ""
                                         << 0 << 2;
        QTest::newRow("loop current drop, then busy") << false << QList<QByteArray>{"\x10l\x10" "b"} << QList<int>{50}
                                                      << "" << 1 << 0;
        QTest::newRow("reversal on an answered call") << false << QList<QByteArray>{"\x10L"} << QList<int>{50} << "" << 0
                                                      << 0;
        // A dialled call: the called party answers with a line reversal, reported as "l" by some
        // chips; only a later interruption is the hang-up.
        QTest::newRow("dialled: answer reversal, then hang-up")
            << true << QList<QByteArray>{"\x10l", "\x10" "1", "\x10l"} << QList<int>{50, 50, 50} << "1" << 1 << 0;
    }

    void eventsOfACall()
    {
        QFETCH(bool, dialled);
        QFETCH(QList<QByteArray>, codes);
        QFETCH(QList<int>, gaps);
        QFETCH(QString, digits);
        QFETCH(int, ended);
        QFETCH(int, silence);
        Rig rig(test::conexantChip());
        HCall call = 0;
        if (dialled) {
            QVERIFY(rig.service->lineMakeCall(rig.line, call, "5551234", 0) > 0);
            rig.settle();
        } else {
            call = rig.answeredCall();
            rig.record();
        }
        QCOMPARE(rig.lastCallState(), LineCallState::Connected);
        rig.service->lineMonitorDigits(call, kDigitModeDtmf);
        for (int i = 0; i < codes.size(); ++i) {
            rig.modem->push((dialled ? QByteArray() : QByteArray(160, '\x55')) + codes[i]);
            rig.settle(gaps.value(i));
        }
        QCOMPARE(rig.digits(), digits);
        QCOMPARE(rig.count(LINE_CALLSTATE, LineCallState::Disconnected), ended);
        QCOMPARE(rig.modemLine().stats().silenceReports, silence);
    }

    void realModemOutput_data()
    {
        QTest::addColumn<QString>("path");
        const QDir dir(QStringLiteral(TELVOX_MODEM_FIXTURES));
        const QStringList files = dir.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name);
        QVERIFY2(files.size() >= 30, qPrintable(QString::number(files.size())));
        for (const QString &f : files)
            QTest::newRow(qPrintable(f)) << dir.filePath(f);
    }

    void realModemOutput()
    {
        QFETCH(QString, path);
        const Snippet s = readSnippet(path);
        QVERIFY2(s.fields.value("source").size() > 10, "every snippet names its source");
        const QString kind = s.fields.value("kind");
        if (kind == "vsm") {
            const auto choice = chooseVoiceFormat(parseVsmList(s.body));
            const QString cml = s.fields.value("expect.cml");
            QCOMPARE(choice.has_value(), cml != "none");
            if (choice) {
                QCOMPARE(QString::number(choice->cml), cml);
                const auto expected = parseFormatCode(cml + ':' + s.fields.value("expect.encoding"));
                QCOMPARE(int(choice->encoding), int(expected->encoding));
            }
            return;
        }
        if (kind == "ident") {
            ChipTable table;
            table.replies.insert("AT+FCLASS=?", "0,1,2,8");
            table.refused = {"ATI0", "ATI3", "AT+GMI"};
            for (const QByteArray &line : s.body) {
                const int arrow = line.indexOf(" => ");
                table.refused.removeAll(line.left(arrow));
                table.replies.insert(line.left(arrow), line.mid(arrow + 4));
            }
            Rig rig(table);
            QVERIFY(rig.modemLine().ready());
            QCOMPARE(rig.modemLine().profile().id, s.fields.value("expect.profile"));
            return;
        }
        Rig rig(test::conexantChip());
        if (kind == "cid") {
            for (const QByteArray &line : s.body) {
                rig.modem->push(line + "\r\n");
                rig.settle(100);
            }
            rig.modem->push("\r\nRING\r\n"); // the ring that follows
            rig.settle(500);
            QCOMPARE(int(rig.take(LINE_LINEDEVSTATE).size()), s.fields.value("expect.rings").toInt() + 1);
            const LineCallInfo info = callInfo(rig);
            QCOMPARE(QString::fromLatin1(info.callerIdNumber), s.fields.value("expect.number"));
            QCOMPARE(QString::fromLatin1(info.callerIdName), s.fields.value("expect.name"));
            QCOMPARE(info.callerIdFlags, flagsByName(s.fields.value("expect.flags")));
            return;
        }
        QCOMPARE(kind, QStringLiteral("stream"));
        const HCall call = rig.answeredCall();
        rig.service->lineMonitorDigits(call, kDigitModeDtmf);
        rig.record();
        for (const QByteArray &codes : s.body) {
            rig.modem->push(QByteArray(160, '\x55') + codes);
            rig.settle(100);
        }
        QCOMPARE(rig.digits(), s.fields.value("expect.digits"));
        QCOMPARE(rig.hasCallState(LineCallState::Disconnected), s.fields.value("expect.disconnected") == "yes");
    }
};

QTEST_GUILESS_MAIN(tst_ModemReports)
#include "tst_ModemReports.moc"
