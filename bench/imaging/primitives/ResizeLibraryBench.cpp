// The resize entry points against the libraries a player would otherwise
// call, in this process on the same 1920x1080 frame: nearest, linear and
// super-sampling beside libyuv (ScalePlane for one channel, ARGBScale for
// four; kFilterNone, kFilterBilinear, kFilterBox, with the adjustments
// ReferenceFor describes so that libyuv computes what ours computes), and
// one-channel cubic and
// Lanczos beside libswscale GRAY8 (SWS_BICUBIC, SWS_LANCZOS). Every iteration
// runs both once, the side that goes first alternating, one thread. The
// reported time is ours; counters ours_ms and ref_ms are means, ratio_min and
// ratio_median the minimum and median over the iterations' pairs of
// ours / reference (below 1 means ours is faster).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#if GAVEX_HAVE_LIBYUV
#include <libyuv/scale.h>
#include <libyuv/scale_argb.h>
#endif

#include "imaging/primitives/CpuDispatch.h"
#include "imaging/primitives/resize/Resize.h"

namespace {

constexpr int kSrcWidth = 1920;
constexpr int kSrcHeight = 1080;

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// A camera-like frame: smooth gradients with some noise, so that no side
// gains from constant data.
std::vector<std::uint8_t> MakeFrame(int channels)
{
    std::vector<std::uint8_t> src(static_cast<std::size_t>(kSrcWidth) * kSrcHeight * channels);
    std::uint32_t x = 12345;
    for (int y = 0; y < kSrcHeight; ++y)
        for (int i = 0; i < kSrcWidth * channels; ++i) {
            x = x * 1103515245u + 12345u;
            src[static_cast<std::size_t>(y) * kSrcWidth * channels + i] =
                static_cast<std::uint8_t>((i / channels + y) / 12 + (i % channels) * 40 + ((x >> 16) & 15));
        }
    return src;
}

// Runs ours and the reference once per iteration, alternating which goes
// first, and reports the counters described above.
template <class Ours, class Reference>
void RunPairs(benchmark::State& state, Ours&& ours, Reference&& reference)
{
    std::vector<double> ratios;
    double oursTotal = 0.0;
    double referenceTotal = 0.0;
    bool oursFirst = true;
    for (auto _ : state) {
        double a = 0.0;
        double b = 0.0;
        auto timeOurs = [&] {
            const auto t0 = std::chrono::steady_clock::now();
            ours();
            benchmark::ClobberMemory();
            a = Seconds(std::chrono::steady_clock::now() - t0);
        };
        auto timeReference = [&] {
            const auto t0 = std::chrono::steady_clock::now();
            reference();
            benchmark::ClobberMemory();
            b = Seconds(std::chrono::steady_clock::now() - t0);
        };
        if (oursFirst) {
            timeOurs();
            timeReference();
        } else {
            timeReference();
            timeOurs();
        }
        oursFirst = !oursFirst;
        oursTotal += a;
        referenceTotal += b;
        if (b > 0.0)
            ratios.push_back(a / b);
        state.SetIterationTime(a);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = 1000.0 * oursTotal / n;
    state.counters["ref_ms"] = 1000.0 * referenceTotal / n;
    if (!ratios.empty()) {
        std::sort(ratios.begin(), ratios.end());
        state.counters["ratio_min"] = ratios.front();
        state.counters["ratio_median"] = ratios[ratios.size() / 2];
    }
}

PrimitiveStatus Ours(const std::vector<std::uint8_t>& src, std::vector<std::uint8_t>& dst, int dw, int dh,
                     int channels, std::int32_t mode)
{
    const double xFactor = static_cast<double>(dw) / kSrcWidth;
    const double yFactor = static_cast<double>(dh) / kSrcHeight;
    if (channels == 1)
        return ResizePlane_8u_C1R(src.data(), {kSrcWidth, kSrcHeight}, kSrcWidth, {0, 0, kSrcWidth, kSrcHeight},
                                  dst.data(), dw, {dw, dh}, xFactor, yFactor, mode);
    ImageRect roi{0, 0, kSrcWidth, kSrcHeight};
    if (mode == ResizeMode::SuperSample)
        return ResizeSuperSample(src.data(), {kSrcWidth, kSrcHeight}, kSrcWidth * 4, &roi, dst.data(), dw * 4,
                                 {dw, dh}, xFactor, yFactor, 4, 4, ResizeSampleType::U8, false);
    return ResizeInterpolated(src.data(), kSrcWidth, kSrcHeight, kSrcWidth * 4, &roi, dst.data(), dw * 4, {dw, dh},
                              xFactor, yFactor, 4, 4, ResizeSampleType::U8, false, mode);
}

const char* ModeName(std::int32_t mode)
{
    switch (mode) {
    case ResizeMode::Nearest:
        return "nearest";
    case ResizeMode::Linear:
        return "linear";
    case ResizeMode::SuperSample:
        return "super-sampling";
    case ResizeMode::Cubic:
        return "cubic";
    default:
        return "Lanczos";
    }
}

#if GAVEX_HAVE_LIBYUV
// libyuv lowers the filter it is asked for by the scale, and compares like
// with like only where it still computes what ours computes:
// - where a side shrinks by a whole odd factor (1920x1080 to 640x360 is 3:1)
//   its bilinear filter, planes and ARGB alike, becomes point sampling (the
//   positions land on source centres: one sample read of nine), and
//   ARGBScale point-samples even when asked for box (the top-left sample of
//   each 3 x 3 block); ScalePlane's box filter still averages all nine. For
//   linear the reference therefore gets a source one column and one row
//   smaller, so that it interpolates between two rows and two columns as
//   ours does (0.1% less work than the full frame); box averaging of one
//   channel keeps ScalePlane's box filter, and four channels are averaged as
//   the four planes of the same frame by that box filter.
// - box becomes bilinear where a side shrinks by at most 2 (1280x720): each
//   of our boxes then spans 1.5 samples, two taps an axis with fixed
//   weights, which is the work of its bilinear filter.
bool PointSamples(int from, int to)
{
    return from != to && from % to == 0 && (from / to) % 2 == 1;
}

struct Reference {
    libyuv::FilterMode filter;
    int srcWidth;   // of the frame given to libyuv
    int srcHeight;
    bool planes;    // four channels as four planes
};

Reference ReferenceFor(std::int32_t mode, int channels, int dw, int dh)
{
    const bool oddWhole = PointSamples(kSrcWidth, dw) || PointSamples(kSrcHeight, dh);
    if (mode == ResizeMode::Nearest)
        return {libyuv::kFilterNone, kSrcWidth, kSrcHeight, false};
    if (mode == ResizeMode::Linear)
        return {libyuv::kFilterBilinear, oddWhole ? kSrcWidth - 1 : kSrcWidth, oddWhole ? kSrcHeight - 1 : kSrcHeight,
                false};
    return {libyuv::kFilterBox, kSrcWidth, kSrcHeight, oddWhole && channels == 4};
}

const char* FilterName(libyuv::FilterMode filter)
{
    return filter == libyuv::kFilterNone ? "kFilterNone" : filter == libyuv::kFilterBilinear ? "kFilterBilinear"
                                                                                             : "kFilterBox";
}
#endif

// args: slot, destination width, destination height, mode (1, 2 or 8),
// channels (1 or 4)
void BM_ResizeVsLibyuv(benchmark::State& state)
{
#if GAVEX_HAVE_LIBYUV
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
    const std::vector<std::uint8_t> src = MakeFrame(channels);
    std::vector<std::uint8_t> ours(static_cast<std::size_t>(dw) * dh * channels);
    std::vector<std::uint8_t> theirs(ours.size());
    const Reference ref = ReferenceFor(mode, channels, dw, dh);
    // The planar reference's planes, split once outside the timing.
    std::vector<std::uint8_t> planes;
    std::vector<std::uint8_t> planeOut;
    if (ref.planes) {
        planes.resize(src.size());
        planeOut.resize(ours.size());
        const std::size_t area = static_cast<std::size_t>(kSrcWidth) * kSrcHeight;
        for (std::size_t i = 0; i < area; ++i)
            for (int c = 0; c < 4; ++c)
                planes[c * area + i] = src[4 * i + c];
    }
    RunPairs(
        state, [&] { benchmark::DoNotOptimize(Ours(src, ours, dw, dh, channels, mode)); },
        [&] {
            if (ref.planes) {
                const std::size_t area = static_cast<std::size_t>(kSrcWidth) * kSrcHeight;
                const std::size_t outArea = static_cast<std::size_t>(dw) * dh;
                for (int c = 0; c < 4; ++c)
                    libyuv::ScalePlane(planes.data() + c * area, kSrcWidth, kSrcWidth, kSrcHeight,
                                       planeOut.data() + c * outArea, dw, dw, dh, ref.filter);
            } else if (channels == 1) {
                libyuv::ScalePlane(src.data(), kSrcWidth, ref.srcWidth, ref.srcHeight, theirs.data(), dw, dw, dh,
                                   ref.filter);
            } else {
                libyuv::ARGBScale(src.data(), kSrcWidth * 4, ref.srcWidth, ref.srcHeight, theirs.data(), dw * 4, dw,
                                  dh, ref.filter);
            }
        });
    CpuVariantIndex.store(saved);
    state.SetLabel(std::string(CpuVariantCode(slot)) + " " + ModeName(mode) + " / " +
                   (ref.planes ? "4 x ScalePlane" : (channels == 1 ? "ScalePlane" : "ARGBScale")) + " " +
                   FilterName(ref.filter) +
                   (ref.srcWidth != kSrcWidth ? " " + std::to_string(ref.srcWidth) + "x" + std::to_string(ref.srcHeight)
                                              : std::string()));
#else
    state.SkipWithError("built without libyuv");
#endif
}

void LibyuvCases(benchmark::internal::Benchmark* b)
{
    for (int slot : {0, 5})
        for (int mode : {ResizeMode::Nearest, ResizeMode::Linear, ResizeMode::SuperSample})
            for (int channels : {1, 4}) {
                b->Args({slot, 1280, 720, mode, channels});
                b->Args({slot, 640, 360, mode, channels});
            }
}
BENCHMARK(BM_ResizeVsLibyuv)->Apply(LibyuvCases)->UseManualTime()->Unit(benchmark::kMillisecond);

// args: slot, destination width, destination height, mode (4 or 16)
void BM_ResizeVsSwscaleGray(benchmark::State& state)
{
    const auto slot = static_cast<std::int32_t>(state.range(0));
    const int dw = static_cast<int>(state.range(1));
    const int dh = static_cast<int>(state.range(2));
    const auto mode = static_cast<std::int32_t>(state.range(3));
    const std::int32_t saved = CpuVariantIndex.load();
    if (!SetCpuVariantIndex(slot)) {
        state.SkipWithError("slot not supported by this processor");
        return;
    }
    SwsContext* sws = sws_getContext(kSrcWidth, kSrcHeight, AV_PIX_FMT_GRAY8, dw, dh, AV_PIX_FMT_GRAY8,
                                     mode == ResizeMode::Cubic ? SWS_BICUBIC : SWS_LANCZOS, nullptr, nullptr,
                                     nullptr);
    if (sws == nullptr) {
        state.SkipWithError("libswscale refused the conversion");
        CpuVariantIndex.store(saved);
        return;
    }
    const std::vector<std::uint8_t> src = MakeFrame(1);
    std::vector<std::uint8_t> ours(static_cast<std::size_t>(dw) * dh);
    std::vector<std::uint8_t> theirs(ours.size());
    const std::uint8_t* srcPlanes[4] = {src.data(), nullptr, nullptr, nullptr};
    const int srcStrides[4] = {kSrcWidth, 0, 0, 0};
    std::uint8_t* dstPlanes[4] = {theirs.data(), nullptr, nullptr, nullptr};
    const int dstStrides[4] = {dw, 0, 0, 0};
    RunPairs(
        state, [&] { benchmark::DoNotOptimize(Ours(src, ours, dw, dh, 1, mode)); },
        [&] { sws_scale(sws, srcPlanes, srcStrides, 0, kSrcHeight, dstPlanes, dstStrides); });
    sws_freeContext(sws);
    CpuVariantIndex.store(saved);
    state.SetLabel(std::string(CpuVariantCode(slot)) + " " + ModeName(mode) + " / swscale GRAY8");
}

void SwscaleCases(benchmark::internal::Benchmark* b)
{
    for (int slot : {0, 5})
        for (int mode : {ResizeMode::Cubic, ResizeMode::Lanczos}) {
            b->Args({slot, 1280, 720, mode});
            b->Args({slot, 640, 360, mode});
        }
}
BENCHMARK(BM_ResizeVsSwscaleGray)->Apply(SwscaleCases)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
