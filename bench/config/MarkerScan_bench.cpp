// The portable-player marker search over a 50 MiB file, as a whole program,
// beside `grep -c -F` looking for the same marker in the same file. Reports
// both throughputs and ours / grep.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "config/QApplicationSettings.h"
#include "support/TempDir.h"

namespace {

double Seconds(const std::string& command)
{
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) == -1)
        std::abort();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_MarkerScanBesideGrep(benchmark::State& state)
{
    gavex_test::TempDir dir("markerbench");
    const std::string path = dir / "player.exe";
    const size_t size = 50u << 20;
    std::vector<uint8_t> bytes(size);
    uint32_t x = 12345;
    for (uint8_t& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    // The marker near the end of the window: both searches read it all.
    const size_t at = size - 200;
    std::copy(kEmbeddedVideoMarker, kEmbeddedVideoMarker + kEmbeddedVideoMarkerSize, bytes.begin() + at);
    gavex_test::WriteFileBytes(path, bytes);

    const std::string ours = std::string(GAVEX_MARKER_SCAN) + " '" + path + "' > /dev/null";
    const std::string grep = std::string("grep -c -F '") + kEmbeddedVideoMarker + "' '" + path + "' > /dev/null";
    Seconds(ours);  // warm the page cache
    Seconds(grep);
    double oursTotal = 0;
    double grepTotal = 0;
    for (auto _ : state) {
        const double o = Seconds(ours);
        grepTotal += Seconds(grep);
        oursTotal += o;
        state.SetIterationTime(o);
    }
    const double mib = static_cast<double>(size) / (1 << 20) * static_cast<double>(state.iterations());
    state.counters["ours_MiBps"] = mib / oursTotal;
    state.counters["grep_MiBps"] = mib / grepTotal;
    state.counters["ours_over_grep"] = (mib / oursTotal) / (mib / grepTotal);
    state.SetBytesProcessed(static_cast<int64_t>(size) * state.iterations());
}
BENCHMARK(BM_MarkerScanBesideGrep)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace
