// Crashes on purpose after the start-up values are set up, so that a test can
// look at what the crash handler leaves behind.
//
//   crash_child <dump folder> <log socket> <version> <how>
//
// how: "segv" (invalid write), "abort", "overflow" (stack overflow), or
// "fsize" (segv with a 64-byte file size limit, so the dump cannot be
// written). Before crashing it writes "<app>.log" with one line into the
// dump folder.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/resource.h>

#include "base/MiniDumper.h"
#include "base/ProcessValues.h"

namespace {

volatile int* g_nowhere = nullptr;
volatile bool g_deeper = true;

int Recurse(int depth)
{
    volatile char pad[1024];
    pad[0] = char(depth);
    return (g_deeper ? Recurse(depth + 1) : 0) + pad[0];
}

} // namespace

int main(int argc, char** argv)
{
    InitProcessValues();
    if (argc != 5)
        return 2;
    // No core files from the test runs.
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);

    SetMiniDumpDirectory(argv[1]);
    SetCrashSystemLogPath(argv[2]);
    SetCrashFileVersion(argv[3]);
    const std::string how = argv[4];

    const std::string logPath = std::string(argv[1]) + "/" + GetCrashApplicationName() + ".log";
    if (std::FILE* log = std::fopen(logPath.c_str(), "w")) {
        std::fputs("last log line\n", log);
        std::fclose(log);
    }

    if (how == "fsize") {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit small{64, 64};
        setrlimit(RLIMIT_FSIZE, &small);
    }
    if (how == "abort")
        std::abort();
    if (how == "overflow")
        return Recurse(0);
    *g_nowhere = 1;
    return 0;
}
