// A 1920x1080 frame encoded as baseline JPEG at quality 75: ours beside
// TurboJPEG on the same buffers, from 4:2:0 planes (tjCompressFromYUVPlanes)
// and from RGB pixels (tjCompress2, 4:2:0). The *_Ratio benchmarks time both
// encoders in every iteration and report ours / TurboJPEG.
// JSIMD_FORCENONE=1 in the environment turns libjpeg-turbo's SIMD off.
#include <benchmark/benchmark.h>

#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "bench/support/BenchFiles.h"
#include "bench/support/PairRatios.h"
#include "imaging/jpeg/JpegEncoder.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kQuality = 75;

// A camera-like picture: smooth shading, edges and a little sensor noise.
struct Frame {
    std::vector<std::uint8_t> rgb = std::vector<std::uint8_t>(static_cast<std::size_t>(kWidth) * kHeight * 3);
    std::vector<std::uint8_t> y = std::vector<std::uint8_t>(static_cast<std::size_t>(kWidth) * kHeight);
    std::vector<std::uint8_t> u = std::vector<std::uint8_t>(static_cast<std::size_t>(kWidth / 2) * (kHeight / 2));
    std::vector<std::uint8_t> v = std::vector<std::uint8_t>(static_cast<std::size_t>(kWidth / 2) * (kHeight / 2));
    std::vector<std::uint8_t> out = std::vector<std::uint8_t>(static_cast<std::size_t>(kWidth) * kHeight * 4);

    Frame()
    {
        std::mt19937 rng(3);
        for (int row = 0; row < kHeight; ++row)
            for (int x = 0; x < kWidth; ++x) {
                const double shade = 128 + 60 * std::sin(x / 97.0) * std::cos(row / 53.0);
                const int edge = ((x / 160 + row / 120) & 1) != 0 ? 30 : -30;
                const int noise = static_cast<int>(rng() % 9) - 4;
                std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(row) * kWidth + x) * 3;
                for (int c = 0; c < 3; ++c) {
                    const int value = static_cast<int>(shade) + edge * (c == 1 ? 1 : -1) + noise + 20 * c;
                    p[c] = static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
                }
                y[static_cast<std::size_t>(row) * kWidth + x] = p[1];
            }
        for (int row = 0; row < kHeight / 2; ++row)
            for (int x = 0; x < kWidth / 2; ++x) {
                const std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(2 * row) * kWidth + 2 * x) * 3;
                u[static_cast<std::size_t>(row) * (kWidth / 2) + x] = static_cast<std::uint8_t>((p[2] + 128) / 2);
                v[static_cast<std::size_t>(row) * (kWidth / 2) + x] = static_cast<std::uint8_t>((p[0] + 128) / 2);
            }
    }
};

Frame& Shared()
{
    static Frame frame;
    return frame;
}

std::int32_t EncodeOurs(Frame& f, bool planar)
{
    CMemBuffOutput stream;
    stream.AttachBuffer(f.out.data(), static_cast<std::int32_t>(f.out.size()));
    CJPEGEncoder encoder;
    if (planar) {
        const std::uint8_t* planes[4] = {f.y.data(), f.u.data(), f.v.data(), nullptr};
        const std::int32_t steps[4] = {kWidth, kWidth / 2, kWidth / 2, 0};
        encoder.SetSourcePlanar(planes, steps, {kWidth, kHeight}, 3, JpegColorYCbCr, JpegSampling420, 8);
    } else {
        encoder.SetSource(f.rgb.data(), kWidth * 3, {kWidth, kHeight}, 3, JpegColorRgb, JpegSampling444, 8);
    }
    encoder.SetDestination(&stream);
    if (encoder.SetParams(JpegModeBaseline, JpegColorYCbCr, JpegSampling420, 0, 0, kQuality) != 0 ||
        encoder.WriteHeader() != 0 || encoder.WriteData() != 0)
        return 0;
    return encoder.Writer().Total();
}

unsigned long EncodeTurbo(tjhandle handle, Frame& f, bool planar)
{
    unsigned char* out = f.out.data();
    unsigned long size = f.out.size();
    int rc = 0;
    if (planar) {
        const unsigned char* planes[3] = {f.y.data(), f.u.data(), f.v.data()};
        const int strides[3] = {kWidth, kWidth / 2, kWidth / 2};
        rc = tjCompressFromYUVPlanes(handle, planes, kWidth, strides, kHeight, TJSAMP_420, &out, &size, kQuality,
                                     TJFLAG_NOREALLOC);
    } else {
        rc = tjCompress2(handle, f.rgb.data(), kWidth, 0, kHeight, TJPF_RGB, &out, &size, TJSAMP_420, kQuality,
                         TJFLAG_NOREALLOC);
    }
    return rc == 0 ? size : 0;
}

void BM_Jpeg_Ours(benchmark::State& state)
{
    Frame& f = Shared();
    const bool planar = state.range(0) != 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(EncodeOurs(f, planar));
    state.SetLabel(planar ? "planes 4:2:0" : "RGB to 4:2:0");
    state.counters["bytes"] = EncodeOurs(f, planar);
}
BENCHMARK(BM_Jpeg_Ours)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_Jpeg_TurboJpeg(benchmark::State& state)
{
    Frame& f = Shared();
    const bool planar = state.range(0) != 0;
    tjhandle handle = tjInitCompress();
    for (auto _ : state)
        benchmark::DoNotOptimize(EncodeTurbo(handle, f, planar));
    state.SetLabel(planar ? "planes 4:2:0" : "RGB to 4:2:0");
    state.counters["bytes"] = static_cast<double>(EncodeTurbo(handle, f, planar));
    tjDestroy(handle);
}
BENCHMARK(BM_Jpeg_TurboJpeg)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// Both encoders in each iteration, the side that goes first alternating; the
// counter "ratio" is ours / TurboJPEG over all iterations, ratio_min and
// ratio_median those of the iterations' pairs.
void BM_Jpeg_Ratio(benchmark::State& state)
{
    Frame& f = Shared();
    const bool planar = state.range(0) != 0;
    tjhandle handle = tjInitCompress();
    double ours = 0, theirs = 0;
    benchfiles::PairRatios ratios;
    std::int64_t turn = 0;
    for (auto _ : state) {
        const auto [a, b] = benchfiles::TimeBothInTurn(
            turn++, [&] { benchmark::DoNotOptimize(EncodeOurs(f, planar)); }, [&] { benchmark::DoNotOptimize(EncodeTurbo(handle, f, planar)); });
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
    state.SetLabel(planar ? "planes 4:2:0" : "RGB to 4:2:0");
}
BENCHMARK(BM_Jpeg_Ratio)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
