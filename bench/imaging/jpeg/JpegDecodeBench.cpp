// A 1920x1080 4:2:0 baseline file at quality 75 (made by TurboJPEG, as cjpeg
// makes it) decoded by ours beside TurboJPEG: to planes (the buffer
// decompressor over tjDecompressToYUVPlanes) and to RGB (the decoder over
// tjDecompress2); the same for a progressive copy. BM_JpegDecode_Ratio times
// both in every iteration, the side that goes first alternating, and reports
// ours / TurboJPEG over all iterations (ratio) and the minimum and median of
// the iterations' pairs. GAVEX_PRIMITIVES_VARIANT=0 and JSIMD_FORCENONE=1 in
// the environment turn the vector bodies off on either side.
#include <benchmark/benchmark.h>

#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bench/support/BenchFiles.h"
#include "bench/support/PairRatios.h"
#include "imaging/jpeg/JpegDecoder.h"
#include "imaging/jpeg/JpegFrameDecompressor.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct Files {
    std::vector<std::uint8_t> baseline, progressive;
    Files()
    {
        std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kWidth) * kHeight * 3);
        std::mt19937 rng(3);
        for (int row = 0; row < kHeight; ++row)
            for (int x = 0; x < kWidth; ++x) {
                const double shade = 128 + 60 * std::sin(x / 97.0) * std::cos(row / 53.0);
                const int edge = ((x / 160 + row / 120) & 1) != 0 ? 30 : -30;
                const int noise = static_cast<int>(rng() % 9) - 4;
                for (int c = 0; c < 3; ++c) {
                    const int value = static_cast<int>(shade) + edge * (c == 1 ? 1 : -1) + noise + 20 * c;
                    rgb[(static_cast<std::size_t>(row) * kWidth + x) * 3 + c] =
                        static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
                }
            }
        for (const int flags : {TJFLAG_ACCURATEDCT, TJFLAG_ACCURATEDCT | TJFLAG_PROGRESSIVE}) {
            tjhandle handle = tjInitCompress();
            unsigned char* out = nullptr;
            unsigned long size = 0;
            tjCompress2(handle, rgb.data(), kWidth, 0, kHeight, TJPF_RGB, &out, &size, TJSAMP_420, 75, flags);
            (flags & TJFLAG_PROGRESSIVE ? progressive : baseline).assign(out, out + size);
            tjFree(out);
            tjDestroy(handle);
        }
    }
};

const Files& Shared()
{
    static const Files files;
    return files;
}

std::vector<std::uint8_t>& Output()
{
    static std::vector<std::uint8_t> out(static_cast<std::size_t>(kWidth) * kHeight * 3);
    return out;
}

void DecodeOurs(const std::vector<std::uint8_t>& jpeg, bool planes, JpegFrameDecompressor& decompressor)
{
    std::vector<std::uint8_t>& out = Output();
    if (planes) {
        std::int32_t w = kWidth, h = kHeight, format = 1;
        decompressor.Decompress(jpeg.data(), static_cast<std::int32_t>(jpeg.size()), out.data(),
                                static_cast<std::int32_t>(out.size()), &w, &h, &format, 0);
        return;
    }
    CMemBuffInput in;
    in.AttachBuffer(jpeg.data(), static_cast<std::int32_t>(jpeg.size()));
    CJPEGDecoder decoder;
    decoder.SetSource(&in);
    std::int32_t w = 0, h = 0, n = 0, p = 0;
    JpegColor colour{};
    JpegSampling sampling{};
    decoder.ReadHeader(&w, &h, &n, &colour, &sampling, &p);
    decoder.SetDestination(out.data(), w * 3, {w, h}, 3, JpegColorRgb, JpegSampling444, 8, 0);
    decoder.ReadData();
}

void DecodeTurbo(tjhandle handle, const std::vector<std::uint8_t>& jpeg, bool planes)
{
    std::vector<std::uint8_t>& out = Output();
    if (planes) {
        unsigned char* p[3] = {out.data(), out.data() + kWidth * kHeight,
                               out.data() + kWidth * kHeight + (kWidth / 2) * (kHeight / 2)};
        int strides[3] = {kWidth, kWidth / 2, kWidth / 2};
        tjDecompressToYUVPlanes(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), p, kWidth, strides,
                                kHeight, TJFLAG_ACCURATEDCT);
        return;
    }
    tjDecompress2(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), out.data(), kWidth, 0, kHeight,
                  TJPF_RGB, TJFLAG_ACCURATEDCT);
}

// Arg 0: 1 planes, 0 RGB; arg 1: 1 progressive.
void BM_JpegDecode_Ratio(benchmark::State& state)
{
    const bool planes = state.range(0) != 0;
    const auto& jpeg = state.range(1) != 0 ? Shared().progressive : Shared().baseline;
    JpegFrameDecompressor decompressor;
    std::int32_t w = 0, h = 0, format = 0;
    decompressor.Decompress(jpeg.data(), static_cast<std::int32_t>(jpeg.size()), Output().data(), 16, &w, &h,
                            &format, 0);
    tjhandle handle = tjInitDecompress();
    double ours = 0, theirs = 0;
    benchfiles::PairRatios ratios;
    std::int64_t turn = 0;
    for (auto _ : state) {
        const auto [a, b] = benchfiles::TimeBothInTurn(
            turn++, [&] { DecodeOurs(jpeg, planes, decompressor); }, [&] { DecodeTurbo(handle, jpeg, planes); });
        ours += a;
        theirs += b;
        ratios.Add(a, b);
    }
    tjDestroy(handle);
    const auto n = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = ours * 1000 / n;
    state.counters["turbo_ms"] = theirs * 1000 / n;
    state.counters["ratio"] = ours / theirs;
    ratios.Report(state);
    state.SetLabel(std::string(planes ? "planes" : "RGB") + (state.range(1) != 0 ? ", progressive" : ", baseline"));
}
BENCHMARK(BM_JpegDecode_Ratio)
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({0, 1})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

}  // namespace
