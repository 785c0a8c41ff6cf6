// YUV 4:2:0 to 4-byte RGB: our conversion in each processor slot at
// 1920x1080, and ours (the slot this processor dispatches to) beside
// libswscale's YUV420P to RGB0 and libyuv's I420ToABGR (the same byte order:
// R, G, B, then a fourth byte) on the same buffers at 1920x1080 and 720x576,
// timed in the same iterations (counters: the times and the ratios).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}
#ifdef GAVEX_HAVE_LIBYUV
#include <libyuv/convert_argb.h>
#endif

#include "imaging/primitives/AlignedMemory.h"
#include "imaging/primitives/CpuDispatch.h"
#include "imaging/primitives/Yuv420ToRgb.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// Planes as the decoder gets them from FFmpeg: 32-byte aligned rows.
struct Buffers {
    std::uint8_t* y = AllocateAligned8(kWidth * kHeight);
    std::uint8_t* u = AllocateAligned8(kWidth * kHeight / 4);
    std::uint8_t* v = AllocateAligned8(kWidth * kHeight / 4);
    std::uint8_t* rgb = AllocateAligned8(kWidth * kHeight * 4);

    Buffers()
    {
        std::mt19937 rng(7);
        for (int i = 0; i < kWidth * kHeight; ++i)
            y[i] = static_cast<std::uint8_t>(rng());
        for (int i = 0; i < kWidth * kHeight / 4; ++i) {
            u[i] = static_cast<std::uint8_t>(rng());
            v[i] = static_cast<std::uint8_t>(rng());
        }
    }
    ~Buffers()
    {
        FreeAligned(y);
        FreeAligned(u);
        FreeAligned(v);
        FreeAligned(rgb);
    }
};

Buffers& Shared()
{
    static Buffers buffers;
    return buffers;
}

void BM_Yuv420ToRgbx_Ours(benchmark::State& state)
{
    const auto slot = static_cast<std::int32_t>(state.range(0));
    const std::int32_t saved = CpuVariantIndex.load();
    if (!SetCpuVariantIndex(slot)) {
        state.SkipWithError("slot not supported by this processor");
        return;
    }
    Buffers& b = Shared();
    const std::uint8_t* planes[3] = {b.y, b.u, b.v};
    const std::int32_t steps[3] = {kWidth, kWidth / 2, kWidth / 2};
    for (auto _ : state) {
        benchmark::DoNotOptimize(ConvertYuv420ToRgb8uP3C3(planes, steps, b.rgb, kWidth * 4, {kWidth, kHeight}));
        benchmark::ClobberMemory();
    }
    CpuVariantIndex.store(saved);
    state.SetLabel(CpuVariantCode(slot));
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight * 4);
}
BENCHMARK(BM_Yuv420ToRgbx_Ours)->Arg(0)->Arg(2)->Arg(5)->Unit(benchmark::kMicrosecond);

void BM_Yuv420ToRgbx_VsReferences(benchmark::State& state)
{
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    Buffers& b = Shared();
    SwsContext* sws = sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height, AV_PIX_FMT_RGB0,
                                     SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (sws == nullptr) {
        state.SkipWithError("sws_getContext failed");
        return;
    }
    const std::uint8_t* const planes[3] = {b.y, b.u, b.v};
    const int steps[3] = {width, width / 2, width / 2};
    std::uint8_t* const out[1] = {b.rgb};
    const int outSteps[1] = {width * 4};
    double ours = 0, theirs = 0, yuv = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(ConvertYuv420ToRgb8uP3C3(planes, steps, b.rgb, width * 4, {width, height}));
        benchmark::ClobberMemory();
        const auto t1 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(sws_scale(sws, planes, steps, 0, height, out, outSteps));
        benchmark::ClobberMemory();
        const auto t2 = std::chrono::steady_clock::now();
#ifdef GAVEX_HAVE_LIBYUV
        benchmark::DoNotOptimize(libyuv::I420ToABGR(b.y, width, b.u, width / 2, b.v, width / 2, b.rgb, width * 4,
                                                    width, height));
        benchmark::ClobberMemory();
#endif
        const auto t3 = std::chrono::steady_clock::now();
        const double o = std::chrono::duration<double>(t1 - t0).count();
        state.SetIterationTime(o);
        ours += o;
        theirs += std::chrono::duration<double>(t2 - t1).count();
        yuv += std::chrono::duration<double>(t3 - t2).count();
    }
    sws_freeContext(sws);
    const double n = static_cast<double>(state.iterations());
    state.counters["ours_us"] = ours / n * 1e6;
    state.counters["swscale_us"] = theirs / n * 1e6;
    state.counters["ratio_swscale"] = theirs > 0 ? ours / theirs : 0;
#ifdef GAVEX_HAVE_LIBYUV
    state.counters["libyuv_us"] = yuv / n * 1e6;
    state.counters["ratio_libyuv"] = yuv > 0 ? ours / yuv : 0;
#endif
    state.SetBytesProcessed(state.iterations() * width * height * 4);
}
BENCHMARK(BM_Yuv420ToRgbx_VsReferences)
    ->Args({kWidth, kHeight})
    ->Args({720, 576})
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime();

}  // namespace
