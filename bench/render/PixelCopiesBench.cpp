// The renderer's plane copy of a 1080p YV12 frame beside memcpy of the same
// bytes, and its halving form beside libswscale's point scaling of the same
// planes. Each iteration times ours and the reference on the same data; the
// counter "ratio" is ours / reference (below 1: ours is faster).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "render/PixelCopies.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct Frame {
    std::vector<std::uint8_t> y = std::vector<std::uint8_t>(kWidth * kHeight);
    std::vector<std::uint8_t> v = std::vector<std::uint8_t>(kWidth * kHeight / 4);
    std::vector<std::uint8_t> u = std::vector<std::uint8_t>(kWidth * kHeight / 4);
    std::vector<std::uint8_t> dst = std::vector<std::uint8_t>(kWidth * kHeight * 3 / 2);
    std::vector<std::uint8_t> ref = std::vector<std::uint8_t>(kWidth * kHeight * 3 / 2);
    Frame()
    {
        for (std::size_t i = 0; i < y.size(); ++i)
            y[i] = static_cast<std::uint8_t>(i * 7);
        for (std::size_t i = 0; i < v.size(); ++i) {
            v[i] = static_cast<std::uint8_t>(i * 3);
            u[i] = static_cast<std::uint8_t>(i * 5);
        }
    }
    render::PlaneSet Planes() const
    {
        render::PlaneSet set;
        set.planes[0] = y.data();
        set.planes[1] = v.data();
        set.planes[2] = u.data();
        set.pitches[0] = kWidth;
        set.pitches[1] = set.pitches[2] = kWidth / 2;
        return set;
    }
};

Frame& Shared()
{
    static Frame frame;
    return frame;
}

using Clock = std::chrono::steady_clock;

template <typename Ours, typename Reference>
void Compare(benchmark::State& state, Ours ours, Reference reference, std::int64_t bytes)
{
    double oursSeconds = 0, referenceSeconds = 0;
    for (auto _ : state) {
        const auto a = Clock::now();
        ours();
        benchmark::ClobberMemory();
        const auto b = Clock::now();
        reference();
        benchmark::ClobberMemory();
        const auto c = Clock::now();
        const double seconds = std::chrono::duration<double>(b - a).count();
        oursSeconds += seconds;
        referenceSeconds += std::chrono::duration<double>(c - b).count();
        state.SetIterationTime(seconds);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["reference_us"] =
        benchmark::Counter(referenceSeconds * 1e6 / static_cast<double>(state.iterations()));
    state.counters["ratio"] = benchmark::Counter(referenceSeconds > 0 ? oursSeconds / referenceSeconds : 0);
}

void BM_CopyImagePlanes_vs_Memcpy(benchmark::State& state)
{
    Frame& f = Shared();
    const render::PlaneSet planes = f.Planes();
    Compare(
        state,
        [&] { render::CopyImagePlanes(planes, QSize(kWidth, kHeight), f.dst.data(), kWidth, kHeight, QSize(kWidth, kHeight)); },
        [&] {
            std::memcpy(f.ref.data(), f.y.data(), f.y.size());
            std::memcpy(f.ref.data() + f.y.size(), f.v.data(), f.v.size());
            std::memcpy(f.ref.data() + f.y.size() + f.v.size(), f.u.data(), f.u.size());
        },
        kWidth * kHeight * 3 / 2);
}
BENCHMARK(BM_CopyImagePlanes_vs_Memcpy)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_CopyImagePlanesHalving_vs_SwsPoint(benchmark::State& state)
{
    Frame& f = Shared();
    const render::PlaneSet planes = f.Planes();
    SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth / 2, kHeight / 2,
                                     AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr);
    if (sws == nullptr) {
        state.SkipWithError("libswscale refused the point scaler");
        return;
    }
    const int half = kWidth / 2;
    const std::uint8_t* srcPlanes[3] = {f.y.data(), f.u.data(), f.v.data()};
    const int srcStrides[3] = {kWidth, kWidth / 2, kWidth / 2};
    std::uint8_t* dstPlanes[3] = {f.ref.data(), f.ref.data() + half * (kHeight / 2) * 5 / 4,
                                  f.ref.data() + half * (kHeight / 2)};
    const int dstStrides[3] = {half, half / 2, half / 2};
    Compare(
        state,
        [&] { render::CopyImagePlanes(planes, QSize(kWidth, kHeight), f.dst.data(), half, kHeight / 2, QSize(half, kHeight / 2)); },
        [&] { sws_scale(sws, srcPlanes, srcStrides, 0, kHeight, dstPlanes, dstStrides); },
        kWidth * kHeight * 3 / 8);
    sws_freeContext(sws);
}
BENCHMARK(BM_CopyImagePlanesHalving_vs_SwsPoint)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
