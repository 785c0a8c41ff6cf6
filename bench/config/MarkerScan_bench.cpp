// The portable-player marker search over a 50 MiB file, beside glibc's memmem
// looking for the same marker in the same file mapped into memory, both in
// this process and going first by turns. Reports both throughputs and
// ours / memmem.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/support/BenchFiles.h"
#include "config/QApplicationSettings.h"
#include "support/TempDir.h"

namespace {

// The reference: map the file and find the marker with memmem; the marker's
// offset, 0 when it is not there.
int64_t FindWithMemmem(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    int64_t found = 0;
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
        const size_t size = static_cast<size_t>(st.st_size);
        void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped != MAP_FAILED) {
            const void* at = ::memmem(mapped, size, kEmbeddedVideoMarker, kEmbeddedVideoMarkerSize);
            if (at)
                found = static_cast<const char*>(at) - static_cast<const char*>(mapped);
            ::munmap(mapped, size);
        }
    }
    ::close(fd);
    return found;
}

void BM_MarkerScanBesideMemmem(benchmark::State& state)
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

    int64_t oursOffset = 0;
    int64_t theirOffset = 0;
    const auto ours = [&] {
        EmbeddedVideoKey key{};
        QApplicationSettings::FileContainVideo(path, oursOffset, key, false);
    };
    const auto reference = [&] { theirOffset = FindWithMemmem(path); };
    ours();  // warm the page cache
    reference();
    double oursTotal = 0;
    double theirTotal = 0;
    int64_t turn = 0;
    for (auto _ : state) {
        const auto [o, t] = benchfiles::TimeBothInTurn(turn++, ours, reference);
        if (oursOffset <= 0 || theirOffset != static_cast<int64_t>(at)) {
            state.SkipWithError("a search missed the marker");
            return;
        }
        oursTotal += o;
        theirTotal += t;
        state.SetIterationTime(o);
    }
    const double mib = static_cast<double>(size) / (1 << 20) * static_cast<double>(state.iterations());
    state.counters["ours_MiBps"] = mib / oursTotal;
    state.counters["memmem_MiBps"] = mib / theirTotal;
    state.counters["ratio"] = oursTotal / theirTotal;
    state.SetBytesProcessed(static_cast<int64_t>(size) * state.iterations());
}
BENCHMARK(BM_MarkerScanBesideMemmem)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
