// The resize drivers against libswscale on the same frame: linear beside
// SWS_BILINEAR, super-sampling beside SWS_AREA, cubic beside SWS_BICUBIC and
// Lanczos beside SWS_LANCZOS for RGBA pixels, and the 8-bit plane entry
// beside GRAY8; and the four-tap and extended Lanczos 8u four-channel filters,
// called with tables built here (cubic and Lanczos weights), beside
// SWS_BICUBIC and SWS_LANCZOS. Each iteration runs ours and the reference
// once, one thread; the reported time is ours, with counters ours_ms, ref_ms
// and ratio (ours / reference, below 1 means ours is faster). Last, the
// alternate filter set's 8u four-channel members beside their primary twins.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "imaging/primitives/CpuDispatch.h"
#include "imaging/primitives/AlignedMemory.h"
#include "imaging/primitives/resize/Resize.h"
#include "imaging/primitives/resize/detail/LanczosKernels.h"
#include "imaging/primitives/resize/detail/ResizeFilters.h"

namespace {

constexpr int kSrcWidth = 1920;
constexpr int kSrcHeight = 1080;

struct Frame {
    std::vector<std::uint8_t> src;
    std::vector<std::uint8_t> dst;
    Frame(int channels, int dstWidth, int dstHeight)
        : src(static_cast<std::size_t>(kSrcWidth) * kSrcHeight * channels),
          dst(static_cast<std::size_t>(dstWidth) * dstHeight * channels)
    {
        std::uint32_t x = 12345;
        for (auto& b : src) {
            x = x * 1103515245u + 12345u;
            b = static_cast<std::uint8_t>(x >> 16);
        }
    }
};

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// args: slot, destination width, destination height, mode (2, 4, 8 or 16), channels (1 or 4)
void BM_Resize(benchmark::State& state)
{
    const auto slot = static_cast<std::int32_t>(state.range(0));
    const int dw = static_cast<int>(state.range(1));
    const int dh = static_cast<int>(state.range(2));
    const auto mode = static_cast<std::int32_t>(state.range(3));
    const int channels = static_cast<int>(state.range(4));
    const std::int32_t saved = CpuVariantIndex.load();
    if (!SetCpuVariantIndex(slot)) {
        state.SkipWithError("slot not supported by this processor");
        return;
    }
    Frame frame(channels, dw, dh);
    const AVPixelFormat format = channels == 4 ? AV_PIX_FMT_RGBA : AV_PIX_FMT_GRAY8;
    const int flags = mode == ResizeMode::Linear    ? SWS_BILINEAR
                      : mode == ResizeMode::Cubic   ? SWS_BICUBIC
                      : mode == ResizeMode::Lanczos ? SWS_LANCZOS
                                                    : SWS_AREA;
    SwsContext* sws = sws_getContext(kSrcWidth, kSrcHeight, format, dw, dh, format, flags, nullptr, nullptr, nullptr);
    if (sws == nullptr) {
        state.SkipWithError("libswscale refused the conversion");
        CpuVariantIndex.store(saved);
        return;
    }
    const double xFactor = static_cast<double>(dw) / kSrcWidth;
    const double yFactor = static_cast<double>(dh) / kSrcHeight;
    const std::uint8_t* srcPlanes[4] = {frame.src.data(), nullptr, nullptr, nullptr};
    const int srcStrides[4] = {kSrcWidth * channels, 0, 0, 0};
    std::uint8_t* dstPlanes[4] = {frame.dst.data(), nullptr, nullptr, nullptr};
    const int dstStrides[4] = {dw * channels, 0, 0, 0};

    double ours = 0.0;
    double reference = 0.0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        PrimitiveStatus status;
        if (channels == 1) {
            status = ResizePlane_8u_C1R(frame.src.data(), {kSrcWidth, kSrcHeight}, kSrcWidth,
                                        {0, 0, kSrcWidth, kSrcHeight}, frame.dst.data(), dw, {dw, dh}, xFactor,
                                        yFactor, mode);
        } else {
            ImageRect roi{0, 0, kSrcWidth, kSrcHeight};
            status = mode != ResizeMode::SuperSample
                         ? ResizeInterpolated(frame.src.data(), kSrcWidth, kSrcHeight, kSrcWidth * 4, &roi,
                                              frame.dst.data(), dw * 4, {dw, dh}, xFactor, yFactor, 4, 4,
                                              ResizeSampleType::U8, false, mode)
                         : ResizeSuperSample(frame.src.data(), {kSrcWidth, kSrcHeight}, kSrcWidth * 4, &roi,
                                             frame.dst.data(), dw * 4, {dw, dh}, xFactor, yFactor, 4, 4,
                                             ResizeSampleType::U8, false);
        }
        const auto t1 = std::chrono::steady_clock::now();
        sws_scale(sws, srcPlanes, srcStrides, 0, kSrcHeight, dstPlanes, dstStrides);
        const auto t2 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(status);
        benchmark::ClobberMemory();
        ours += Seconds(t1 - t0);
        reference += Seconds(t2 - t1);
        state.SetIterationTime(Seconds(t1 - t0));
    }
    sws_freeContext(sws);
    CpuVariantIndex.store(saved);
    const auto n = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = 1000.0 * ours / n;
    state.counters["ref_ms"] = 1000.0 * reference / n;
    state.counters["ratio"] = reference > 0.0 ? ours / reference : 0.0;
    state.SetLabel(std::string(CpuVariantCode(slot)) + (channels == 4 ? " RGBA" : " GRAY8") +
                   (mode == ResizeMode::Linear    ? " linear/SWS_BILINEAR"
                    : mode == ResizeMode::Cubic   ? " cubic/SWS_BICUBIC"
                    : mode == ResizeMode::Lanczos ? " Lanczos/SWS_LANCZOS"
                                                  : " super-sampling/SWS_AREA"));
}

void Cases(benchmark::internal::Benchmark* b)
{
    for (int slot : {0, 5})
        for (int mode : {ResizeMode::Linear, ResizeMode::SuperSample, ResizeMode::Cubic, ResizeMode::Lanczos})
            for (int channels : {4, 1}) {
                b->Args({slot, 1280, 720, mode, channels});
                b->Args({slot, 352, 288, mode, channels});
            }
}
BENCHMARK(BM_Resize)->Apply(Cases)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Filters the driver never selects, on caller-built tables.

struct FreeBlock {
    void operator()(void* p) const { AlignedFree(p); }
};
using AlignedBlock = std::unique_ptr<void, FreeBlock>;

AlignedBlock Allocate(std::size_t bytes)
{
    return AlignedBlock(AlignedMalloc(static_cast<std::int32_t>(bytes)));
}

// Index and weight tables for n destination positions over a source extent:
// the index kept `before` taps from the first pixel and `after` from the last.
struct Axis {
    std::vector<std::int32_t> index;
    AlignedBlock weights;
};

Axis BuildAxis(int n, int extent, int unit, bool lanczos)
{
    const int taps = lanczos ? 6 : 4;
    const int before = lanczos ? 2 : 1;
    Axis axis;
    axis.weights = Allocate(static_cast<std::size_t>(n) * taps * sizeof(float));
    auto* w = static_cast<float*>(axis.weights.get());
    for (int i = 0; i < n; ++i) {
        const double p = n > 1 ? i * (extent - 1.0) / (n - 1.0) : 0.0;
        const int j = std::clamp(static_cast<int>(p), before, extent - taps + before);
        axis.index.push_back(j * unit);
        const float t = static_cast<float>(p - j);
        if (lanczos) {
            resize_detail::BuildLanczosWeights(&t, 1, w + 6 * i, resize_detail::LanczosKernelTable());
        } else {
            w[4 * i + 0] = -t * (t - 1) * (t - 2) / 6;
            w[4 * i + 1] = (t + 1) * (t - 1) * (t - 2) / 2;
            w[4 * i + 2] = -(t + 1) * t * (t - 2) / 2;
            w[4 * i + 3] = (t + 1) * t * (t - 1) / 6;
        }
    }
    return axis;
}

// args: slot, 0 four-tap / 1 extended Lanczos
void BM_ResizeUnselected(benchmark::State& state)
{
    const auto slot = static_cast<std::int32_t>(state.range(0));
    const bool lanczos = state.range(1) != 0;
    const int dw = 1280;
    const int dh = 720;
    if (!IsCpuVariantSupported(slot)) {
        state.SkipWithError("slot not supported by this processor");
        return;
    }
    Frame frame(4, dw, dh);
    SwsContext* sws = sws_getContext(kSrcWidth, kSrcHeight, AV_PIX_FMT_RGBA, dw, dh, AV_PIX_FMT_RGBA,
                                     lanczos ? SWS_LANCZOS : SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (sws == nullptr) {
        state.SkipWithError("libswscale refused the conversion");
        return;
    }
    const Axis rows = BuildAxis(dh, kSrcHeight, kSrcWidth * 4, lanczos);
    const Axis columns = BuildAxis(dw, kSrcWidth, 4, lanczos);
    AlignedBlock buffers[6];
    void* b[6];
    for (int k = 0; k < 6; ++k) {
        buffers[k] = Allocate(static_cast<std::size_t>(dw) * 4 * sizeof(float) + 64);
        b[k] = buffers[k].get();
    }
    const auto& set = resize_detail::kResizeFilterSets[static_cast<std::size_t>(slot)]->primary;
    const std::uint8_t* srcPlanes[4] = {frame.src.data(), nullptr, nullptr, nullptr};
    const int srcStrides[4] = {kSrcWidth * 4, 0, 0, 0};
    std::uint8_t* dstPlanes[4] = {frame.dst.data(), nullptr, nullptr, nullptr};
    const int dstStrides[4] = {dw * 4, 0, 0, 0};

    double ours = 0.0;
    double reference = 0.0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        if (lanczos)
            set.extendedLanczos[0](frame.src.data(), frame.dst.data(), kSrcWidth * 4, dw * 4, dw, dh,
                                   rows.index.data(), columns.index.data(), rows.weights.get(),
                                   columns.weights.get(), b[0], b[1], b[2], b[3], b[4], b[5], 4, 4);
        else
            set.fourTap[0](frame.src.data(), frame.dst.data(), kSrcWidth * 4, dw * 4, dw, dh, rows.index.data(),
                           columns.index.data(), rows.weights.get(), columns.weights.get(), b[0], b[1], b[2], b[3],
                           4, 4);
        const auto t1 = std::chrono::steady_clock::now();
        sws_scale(sws, srcPlanes, srcStrides, 0, kSrcHeight, dstPlanes, dstStrides);
        const auto t2 = std::chrono::steady_clock::now();
        benchmark::ClobberMemory();
        ours += Seconds(t1 - t0);
        reference += Seconds(t2 - t1);
        state.SetIterationTime(Seconds(t1 - t0));
    }
    sws_freeContext(sws);
    const auto n = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = 1000.0 * ours / n;
    state.counters["ref_ms"] = 1000.0 * reference / n;
    state.counters["ratio"] = reference > 0.0 ? ours / reference : 0.0;
    state.SetLabel(std::string(CpuVariantCode(slot)) +
                   (lanczos ? " ResizeLanczosExt_8u_Cn/SWS_LANCZOS RGBA" : " ResizeFourTap_8u_Cn/SWS_BICUBIC RGBA"));
}
BENCHMARK(BM_ResizeUnselected)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({5, 0})
    ->Args({5, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// The alternate filter set beside its primary twins: each family's 8u
// four-channel member, the same frame and tables, 1920x1080 to 1280x720, in
// one processor slot. Linear, cubic and Lanczos go through the driver over
// either set; four-tap and extended Lanczos take tables built here. Counters
// ours_ms (alternate), ref_ms (primary twin) and ratio (alternate / twin).

enum AlternateFamily { kAltLinear, kAltCubic, kAltLanczos, kAltFourTap, kAltLanczosExt };

// args: slot, family
void BM_ResizeAlternate(benchmark::State& state)
{
    const auto slot = static_cast<std::int32_t>(state.range(0));
    const auto family = static_cast<int>(state.range(1));
    const int dw = 1280;
    const int dh = 720;
    const std::int32_t saved = CpuVariantIndex.load();
    if (!SetCpuVariantIndex(slot)) {
        state.SkipWithError("slot not supported by this processor");
        return;
    }
    Frame frame(4, dw, dh);
    const bool lanczos = family == kAltLanczosExt;
    const Axis rows = BuildAxis(dh, kSrcHeight, kSrcWidth * 4, lanczos);
    const Axis columns = BuildAxis(dw, kSrcWidth, 4, lanczos);
    AlignedBlock buffers[6];
    void* b[6];
    for (int k = 0; k < 6; ++k) {
        buffers[k] = Allocate(static_cast<std::size_t>(dw) * 4 * sizeof(float) + 64);
        b[k] = buffers[k].get();
    }
    const auto& sets = *resize_detail::kResizeFilterSets[static_cast<std::size_t>(slot)];
    auto run = [&](const resize_detail::ResizeFilterSet& set) {
        const auto t0 = std::chrono::steady_clock::now();
        if (family == kAltFourTap) {
            set.fourTap[0](frame.src.data(), frame.dst.data(), kSrcWidth * 4, dw * 4, dw, dh, rows.index.data(),
                           columns.index.data(), rows.weights.get(), columns.weights.get(), b[0], b[1], b[2], b[3],
                           4, 4);
        } else if (family == kAltLanczosExt) {
            set.extendedLanczos[0](frame.src.data(), frame.dst.data(), kSrcWidth * 4, dw * 4, dw, dh,
                                   rows.index.data(), columns.index.data(), rows.weights.get(),
                                   columns.weights.get(), b[0], b[1], b[2], b[3], b[4], b[5], 4, 4);
        } else {
            const std::int32_t mode = family == kAltLinear  ? ResizeMode::Linear
                                      : family == kAltCubic ? ResizeMode::Cubic
                                                            : ResizeMode::Lanczos;
            ImageRect roi{0, 0, kSrcWidth, kSrcHeight};
            const PrimitiveStatus status = resize_detail::ResizeInterpolatedWithSet(
                set, frame.src.data(), kSrcWidth, kSrcHeight, kSrcWidth * 4, &roi, frame.dst.data(), dw * 4, {dw, dh},
                static_cast<double>(dw) / kSrcWidth, static_cast<double>(dh) / kSrcHeight, 4, 4, ResizeSampleType::U8,
                false, mode);
            benchmark::DoNotOptimize(status);
        }
        benchmark::ClobberMemory();
        return Seconds(std::chrono::steady_clock::now() - t0);
    };
    double ours = 0.0;
    double reference = 0.0;
    for (auto _ : state) {
        const double alternate = run(sets.alternate);
        reference += run(sets.primary);
        ours += alternate;
        state.SetIterationTime(alternate);
    }
    CpuVariantIndex.store(saved);
    const auto n = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = 1000.0 * ours / n;
    state.counters["ref_ms"] = 1000.0 * reference / n;
    state.counters["ratio"] = reference > 0.0 ? ours / reference : 0.0;
    const char* names[] = {" ResizeLinear_8u_Cn_alt/ResizeLinear_8u_Cn", " ResizeCubic_8u_Cn_alt/ResizeCubic_8u_Cn",
                           " ResizeLanczos_8u_Cn_alt/ResizeLanczos_8u_Cn",
                           " ResizeFourTap_8u_Cn_alt/ResizeFourTap_8u_Cn",
                           " ResizeLanczosExt_8u_Cn_alt/ResizeLanczosExt_8u_Cn"};
    state.SetLabel(std::string(CpuVariantCode(slot)) + names[family] + " RGBA");
}

void AlternateCases(benchmark::internal::Benchmark* b)
{
    for (int slot : {0, 5})
        for (int family = kAltLinear; family <= kAltLanczosExt; ++family)
            b->Args({slot, family});
}
BENCHMARK(BM_ResizeAlternate)->Apply(AlternateCases)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
