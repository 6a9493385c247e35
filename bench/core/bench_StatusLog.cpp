// Cost of one AddStatus call (stamp, list insertion, line written to the day's file) while
// the status list already holds many lines.
#include "core/VirtualEventLoop.h"
#include "core/Settings.h"
#include "records/StatusLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace telvox;

static void BM_AddStatus(benchmark::State &state)
{
    QTemporaryDir dir;
    VirtualEventLoop loop;
    StatusListModel list;
    StatusLog log(loop, dir.path(), list);
    log.OpenDayLog();
    QStringList existing;
    for (int i = 0; i < state.range(0); ++i)
        existing << QStringLiteral("09:00:00 Line0 Ring... %1").arg(i);
    list.append(existing);
    const QString message = QStringLiteral("Line2 Start Recording");
    for (auto _ : state) {
        log.AddStatus(message);
        loop.advance(1);
    }
    state.counters["lines_at_end"] = static_cast<double>(list.rowCount());
}
BENCHMARK(BM_AddStatus)->Arg(10000)->Arg(100)->Unit(benchmark::kMicrosecond);

static void BM_SettingsRead(benchmark::State &state)
{
    QTemporaryDir dir;
    SettingsStore store(dir.filePath("t.ini"), dir.filePath("settings.txt"));
    for (int i = 0; i < 50; ++i)
        store.WriteSetting(QStringLiteral("Data"), QStringLiteral(" %1").arg(i), QStringLiteral("A2026-01-05~09-00-%1.wav").arg(i));
    for (auto _ : state)
        benchmark::DoNotOptimize(store.ReadSetting(QStringLiteral("data"), QStringLiteral(" 49")));
}
BENCHMARK(BM_SettingsRead)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
