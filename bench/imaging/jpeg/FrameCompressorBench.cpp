// A 1920x1080 4:2:0 frame through the frame compressor (quality index 2,
// JPEG quality 80, tag included) beside TurboJPEG's tjCompressFromYUVPlanes at
// quality 80 on the same planes. BM_FrameCompressor_Ratio times both in every
// iteration and reports ours / TurboJPEG.
#include <benchmark/benchmark.h>

#include <turbojpeg.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "imaging/jpeg/Compressor.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kQualityIndex = 2;
constexpr int kQuality = 80;  // the default of quality index 2

// Y, U and V in one block, as the archive engine hands frames over.
struct Frame {
    std::vector<std::uint8_t> yuv = std::vector<std::uint8_t>(std::size_t(kWidth) * kHeight * 3 / 2);
    std::vector<std::uint8_t> out = std::vector<std::uint8_t>(std::size_t(kWidth) * kHeight * 4);

    Frame()
    {
        std::mt19937 rng(3);
        std::uint8_t* y = yuv.data();
        for (int row = 0; row < kHeight; ++row)
            for (int x = 0; x < kWidth; ++x) {
                const double shade = 128 + 60 * std::sin(x / 97.0) * std::cos(row / 53.0);
                const int edge = ((x / 160 + row / 120) & 1) != 0 ? 30 : -30;
                const int value = int(shade) + edge + int(rng() % 9) - 4;
                *y++ = std::uint8_t(value < 0 ? 0 : value > 255 ? 255 : value);
            }
        std::uint8_t* c = U();
        for (int plane = 0; plane < 2; ++plane)
            for (int row = 0; row < kHeight / 2; ++row)
                for (int x = 0; x < kWidth / 2; ++x)
                    *c++ = std::uint8_t(128 + 40 * std::sin((x + plane * 50) / 41.0) * std::cos(row / 37.0));
    }
    std::uint8_t* U() { return yuv.data() + std::size_t(kWidth) * kHeight; }
    std::uint8_t* V() { return U() + std::size_t(kWidth / 2) * (kHeight / 2); }
};

Frame& Shared()
{
    static Frame frame;
    return frame;
}

// The compressor reads its qualities from the settings store: a private,
// empty one gives the defaults.
CCompressor& Compressor()
{
    static CCompressor* compressor = [] {
        static std::string dir = "/tmp/gavex-bench-registry-XXXXXX";
        if (::mkdtemp(dir.data())) {
            ::setenv("GAVEX_REGISTRY_DIR", dir.c_str(), 1);
            // The store is the run's own: gone when the run ends.
            std::atexit([] {
                std::error_code ignored;
                std::filesystem::remove_all(dir, ignored);
            });
        }
        return new CCompressor(55);
    }();
    return *compressor;
}

int CompressOurs(Frame& f) { return Compressor().Compress(f.yuv.data(), kQualityIndex, kWidth, kHeight, 1, 0, 1); }

unsigned long CompressTurbo(tjhandle handle, Frame& f)
{
    unsigned char* out = f.out.data();
    unsigned long size = f.out.size();
    const unsigned char* planes[3] = {f.yuv.data(), f.U(), f.V()};
    const int strides[3] = {kWidth, kWidth / 2, kWidth / 2};
    return tjCompressFromYUVPlanes(handle, planes, kWidth, strides, kHeight, TJSAMP_420, &out, &size, kQuality,
                                   TJFLAG_NOREALLOC) == 0
               ? size
               : 0;
}

void BM_FrameCompressor_Ratio(benchmark::State& state)
{
    Frame& f = Shared();
    tjhandle handle = tjInitCompress();
    using Clock = std::chrono::steady_clock;
    Clock::duration ours{}, theirs{};
    int bytes = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        bytes = CompressOurs(f);
        benchmark::DoNotOptimize(bytes);
        const auto t1 = Clock::now();
        benchmark::DoNotOptimize(CompressTurbo(handle, f));
        const auto t2 = Clock::now();
        ours += t1 - t0;
        theirs += t2 - t1;
    }
    if (bytes == 0)
        state.SkipWithError("the frame compressor failed");
    state.counters["bytes"] = bytes;
    state.counters["turbo_bytes"] = double(CompressTurbo(handle, f));
    tjDestroy(handle);
    const double n = double(state.iterations());
    state.counters["ours_ms"] = std::chrono::duration<double, std::milli>(ours).count() / n;
    state.counters["turbo_ms"] = std::chrono::duration<double, std::milli>(theirs).count() / n;
    state.counters["ratio"] =
        std::chrono::duration<double>(ours).count() / std::chrono::duration<double>(theirs).count();
}
BENCHMARK(BM_FrameCompressor_Ratio)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
