#pragma once

// Counts this process's flushes to the disk (fsync, fdatasync) by standing in for the C
// library's functions in the test program: the program's own code and the libraries it loads
// (SQLite) reach these. Include it in one source file of a test program only.
#include <atomic>

#include <dlfcn.h>
#include <unistd.h>

namespace telvox::test {

inline std::atomic<int> g_diskFlushes{0};

inline int diskFlushes() { return g_diskFlushes.load(); }

template <typename Fn>
Fn realFunction(const char *name)
{
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

} // namespace telvox::test

extern "C" int fsync(int fd)
{
    static const auto real = telvox::test::realFunction<int (*)(int)>("fsync");
    ++telvox::test::g_diskFlushes;
    return real(fd);
}

extern "C" int fdatasync(int fd)
{
    static const auto real = telvox::test::realFunction<int (*)(int)>("fdatasync");
    ++telvox::test::g_diskFlushes;
    return real(fd);
}
