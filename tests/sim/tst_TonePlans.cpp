#include "sim/tones/TonePlans.h"

#include <QFile>
#include <QTest>

using namespace telvox::sim;

namespace {
const std::string kHeader = "country,kind,frequencies_hz,cadence_ms,source\n";
}

class tst_TonePlans : public QObject
{
    Q_OBJECT
private slots:
    // The compiled-in table is the whole resource file (a row it cannot parse would leave it
    // empty), and every country has all four tones, each with its source.
    void builtInTableIsTheWholeFile()
    {
        QFile file(qEnvironmentVariable("TELVOX_SOURCE_DIR") + "/resources/tones/tones.csv");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const TonePlans &plans = TonePlans::builtIn();
        QCOMPARE(plans.all().size(), std::size_t(file.readAll().count('\n') - 1));
        QCOMPARE(plans.all().size(), 4 * plans.countries().size());
        for (const std::string &country : plans.countries())
            for (const ToneKind kind : {ToneKind::Dial, ToneKind::Ringback, ToneKind::Busy, ToneKind::Congestion})
                QVERIFY2(plans.find(country, kind) && !plans.find(country, kind)->source.empty(), country.c_str());
    }

    void notations()
    {
        TonePlanError error;
        const std::optional<TonePlans> plans = TonePlans::parse(kHeader + "A,busy,480+620,250/250,a\n"
                                                                          "B,ringback,400*16,1000/2000,a\n"
                                                                          "C,dial,412.5,continuous,a\n"
                                                                          "D,ringback,425,400/200/400/2000,\"ITU, \"\"E.180\"\"\"\r\n",
                                                                &error);
        QVERIFY2(plans && plans->all().size() == 4, error.message.c_str());
        const std::span<const TonePlan> p = plans->all();
        QVERIFY(p[0].mix == TonePlan::Mix::Sum && p[0].frequenciesHz == std::vector<double>({480, 620}));
        QVERIFY(p[1].mix == TonePlan::Mix::Modulated && p[1].frequenciesHz == std::vector<double>({400, 16}));
        QVERIFY(p[2].mix == TonePlan::Mix::Single && p[2].frequenciesHz == std::vector<double>({412.5}));
        QVERIFY(p[2].continuous() && !p[0].continuous());
        QCOMPARE(p[3].cadenceMs, std::vector<int>({400, 200, 400, 2000}));
        QCOMPARE(p[3].source, std::string("ITU, \"E.180\""));
    }

    void faultsAreReportedWithTheirLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("message");
        const QString header = QString::fromStdString(kHeader), good = "A,busy,425,500/500,s\n";
        QTest::newRow("no header") << good << 1 << "header";
        QTest::newRow("empty") << QString() << 0 << "empty";
        QTest::newRow("unknown kind") << header + good + "A,hold,425,500/500,s\n" << 3 << "unknown kind \"hold\"";
        QTest::newRow("odd cadence") << header + "A,busy,425,500/500/500,s\n" << 2 << "on/off pairs";
        QTest::newRow("zero duration") << header + "A,busy,425,500/0,s\n" << 2 << "bad cadence";
        QTest::newRow("bad frequency") << header + "A,busy,4x5,500/500,s\n" << 2 << "bad frequency";
        QTest::newRow("half a sum") << header + "A,busy,480+,500/500,s\n" << 2 << "bad frequency";
        QTest::newRow("four fields") << header + "A,busy,425,500/500\n" << 2 << "expected 5 fields";
        QTest::newRow("open quote") << header + "A,busy,425,500/500,\"s\n" << 2 << "quoting";
        QTest::newRow("no country") << header + ",busy,425,500/500,s\n" << 2 << "no country";
        QTest::newRow("second row") << header + good + "\n" + "a,busy,400,500/500,t\n" << 4 << "second busy row";
    }
    void faultsAreReportedWithTheirLine()
    {
        QFETCH(QString, text);
        QFETCH(int, line);
        QFETCH(QString, message);
        TonePlanError error;
        QVERIFY(!TonePlans::parse(text.toStdString(), &error));
        QCOMPARE(error.line, line);
        QVERIFY2(QString::fromStdString(error.message).contains(message), error.message.c_str());
    }

    void findByCountryAndKind()
    {
        const TonePlan *busy = TonePlans::builtIn().find("united kingdom", ToneKind::Busy);
        QVERIFY(busy && busy->country == "United Kingdom" && busy->kind == ToneKind::Busy);
        QCOMPARE(TonePlans::builtIn().find("Atlantis", ToneKind::Busy), nullptr);
        QCOMPARE(toneKindFromName("congestion"), std::optional(ToneKind::Congestion));
        QCOMPARE(toneKindFromName("Busy"), std::nullopt);
        QCOMPARE(toneKindName(ToneKind::Ringback), std::string_view("ringback"));
    }
};

QTEST_GUILESS_MAIN(tst_TonePlans)
#include "tst_TonePlans.moc"
