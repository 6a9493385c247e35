// The registry of line backends: which backend carries the lines, in which order they are
// asked, what they said on the way, and the limits of their options.

#include "core/Settings.h"
#include "core/Texts.h"
#include "core/VirtualEventLoop.h"
#include "platform/telephony/LineBackends.h"
#include "support/FakeShell.h"

#include <QTest>

using namespace telvox;

namespace {

// A backend that only records that it was built.
class Stub final : public LineBackend
{
public:
    TelephonyService &service() override { std::abort(); }
    WaveDeviceProvider &waveDevices() override { std::abort(); }
};

// "name:probe:builds[:option]", e.g. "sip:1:0" has lines but fails to build.
LineBackendFactory factory(const QString &shape, QStringList *asked)
{
    const QStringList part = shape.split(QLatin1Char(':'));
    LineBackendFactory f;
    f.name = part[0];
    const bool probe = part[1] == QLatin1String("1");
    const bool builds = part[2] == QLatin1String("1");
    if (part.size() > 3)
        f.options.push_back({part[3], QStringLiteral("v"), QString(), 2, QStringLiteral("at most two")});
    f.probe = [probe](const LineBackendContext &) { return probe; };
    f.create = [name = f.name, builds, asked](const LineBackendContext &, QStringList &notes)
        -> std::unique_ptr<LineBackend> {
        *asked << name;
        notes << name + QStringLiteral(" said");
        return builds ? std::make_unique<Stub>() : nullptr;
    };
    return f;
}

} // namespace

class tst_LineBackends : public QObject
{
    Q_OBJECT

private slots:
    void build_data()
    {
        QTest::addColumn<QStringList>("backends");
        QTest::addColumn<QString>("givenOption");
        QTest::addColumn<QString>("carrier");
        QTest::addColumn<QStringList>("asked");
        QTest::newRow("first with lines") << QStringList{"sip:0:1", "modem:1:1", "virtual:1:1"} << ""
                                          << "modem" << QStringList{"modem"};
        QTest::newRow("failure falls through")
            << QStringList{"sip:1:0", "modem:1:0", "virtual:1:1"} << "" << "virtual"
            << QStringList{"sip", "modem", "virtual"};
        QTest::newRow("option first") << QStringList{"sip:1:1", "modem:1:1:modem", "virtual:1:1"} << "modem"
                                      << "modem" << QStringList{"modem"};
        QTest::newRow("option, then the order")
            << QStringList{"sip:1:1", "modem:1:0:modem", "virtual:1:1"} << "modem" << "sip"
            << QStringList{"modem", "sip"};
        QTest::newRow("none builds") << QStringList{"sip:1:0", "virtual:0:1"} << "" << ""
                                     << QStringList{"sip"};
    }
    void build()
    {
        QFETCH(QStringList, backends);
        QFETCH(QString, givenOption);
        QFETCH(QString, carrier);
        QFETCH(QStringList, asked);
        test::ScratchDir dir;
        VirtualEventLoop loop;
        SettingsStore settings(dir.file("telvox.ini"), dir.file("settings.txt"));
        const Texts texts(builtInStrings(), 0);
        QStringList seen;
        LineBackendRegistry registry;
        for (const QString &shape : backends)
            registry.add(factory(shape, &seen));
        LineBackendContext context{loop, settings, texts, {}, {}, {}};
        if (!givenOption.isEmpty())
            context.options.insert(givenOption, {QStringLiteral("x")});
        const LineBackendRegistry::Built built = registry.build(context);
        QCOMPARE(built.name, carrier);
        QCOMPARE(built.backend != nullptr, !carrier.isEmpty());
        QCOMPARE(seen, asked);
        QStringList said;
        for (const QString &name : asked)
            said << name + " said";
        QCOMPARE(built.notes, said);
    }

    void optionLimits()
    {
        QStringList seen;
        LineBackendRegistry registry;
        registry.add(factory("modem:1:1:modem", &seen));
        QCOMPARE(registry.options().size(), std::size_t(1));
        QCOMPARE(registry.checkOptions({{"modem", {"a", "b"}}}), QString());
        QCOMPARE(registry.checkOptions({{"modem", {"a", "b", "c"}}}), QString("at most two: --modem was given 3 times"));
    }
};

QTEST_GUILESS_MAIN(tst_LineBackends)
#include "tst_LineBackends.moc"
