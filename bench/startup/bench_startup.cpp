// Start-up CPU of telvox against its floor, a bare Qt window (three lists, twelve buttons), in
// one run: every iteration starts the bare window and then telvox, headless, each ended once
// loaded (--quit-after 0), and takes their CPU time (user + system, from wait4). The reported
// time is telvox's; the counters give both programs' mean CPU and the ratio (target: at most 3
// for a first start). bench/startup/measure_startup prints the same with medians, idle wake-ups
// and settings writes.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char **environ;

namespace {

namespace fs = std::filesystem;

// CPU seconds of `program --quit-after 0` run to its end; a negative value when it failed.
double startCpu(const std::string &program)
{
    std::vector<std::string> args{program, "--quit-after", "0"};
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, program.c_str(), &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (failed)
        return -1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A scratch TELVOX_HOME (and the runtime folder Qt wants) for the duration of a benchmark.
struct ScratchHome
{
    ScratchHome()
    {
        std::string pattern = (fs::temp_directory_path() / "telvox-bench-XXXXXX").string();
        root = mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
        fs::create_directories(root / "run");
        fs::permissions(root / "run", fs::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", (root / "run").c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    ~ScratchHome() { fs::remove_all(root); }
    void use(const std::string &name) const { setenv("TELVOX_HOME", (root / name).c_str(), 1); }
    fs::path root;
};

// What saving the first setup leaves in the store, a recordings folder: without it every start
// would open the first-run windows again (a headless first start cannot press Save).
void finishFirstSetup(const fs::path &home)
{
    const fs::path ini = home / "telvox.ini";
    std::ifstream in(ini);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.find("\nSaveFile=") != std::string::npos)
        return;
    const std::string line = "SaveFile=" + (home / "waveFiles").string() + "/\n";
    const std::size_t config = text.find("[Config]\n");
    if (config == std::string::npos)
        text = "[Config]\n" + line + "\n" + text;
    else
        text.insert(config + 9, line);
    std::ofstream(ini, std::ios::trunc) << text;
}

// `later`: every telvox start after the first in its folder (with the splash); else a first
// start in a fresh folder each time.
void startAgainstBareWindow(benchmark::State &state, bool later)
{
    ScratchHome home;
    if (later) {
        home.use("home");
        startCpu(TELVOX_PROGRAM);
        finishFirstSetup(home.root / "home");
    }
    double bare = 0, telvox = 0;
    int n = 0;
    for (auto _ : state) {
        const double b = startCpu(TELVOX_BARE_WINDOW);
        if (!later)
            home.use("home" + std::to_string(n));
        const double t = startCpu(TELVOX_PROGRAM);
        if (b < 0 || t < 0) {
            state.SkipWithError("a program did not start and end cleanly");
            return;
        }
        state.SetIterationTime(t);
        bare += b;
        telvox += t;
        ++n;
    }
    state.counters["bare_ms"] = 1000 * bare / n;
    state.counters["telvox_ms"] = 1000 * telvox / n;
    state.counters["ratio"] = telvox / bare;
}

void BM_FirstStart(benchmark::State &state) { startAgainstBareWindow(state, false); }
void BM_LaterStart(benchmark::State &state) { startAgainstBareWindow(state, true); }

} // namespace

BENCHMARK(BM_FirstStart)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LaterStart)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
