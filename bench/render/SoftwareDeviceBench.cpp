// Presented frames per second of the software Direct3D device: 1, 4 and 16
// channels of 1080p YV12, each frame committed again (so each is converted
// and uploaded), drawn into a grid over a 1920 x 1080 output, copied to the
// back buffer and presented. The reference on the same planes is libswscale
// converting each channel straight into its cell of a 32-bit picture (point
// scaling, as the device samples). Counter "ratio" is ours / reference
// (below 1: ours is faster); "fps" is our presented frames per second.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "bench/support/BenchFiles.h"
#include "render/D3DRendererDevice.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

using Clock = std::chrono::steady_clock;

void FillPlanes(std::uint8_t* bits, int pitch, int seed)
{
    benchfiles::FillTestPlanes(bits, pitch, kWidth, kHeight, seed);
}

void BM_SoftwareDevicePresent_vs_Sws(benchmark::State& state)
{
    const int channels = static_cast<int>(state.range(0));
    const int side = static_cast<int>(std::lround(std::sqrt(channels)));
    const int cellW = kWidth / side, cellH = kHeight / side;

    render::D3DRendererDevice device;
    bool created = false;
    device.Create(nullptr, QSize(kWidth, kHeight), created);
    std::vector<render::TexturePtr> textures;
    std::vector<std::uint8_t*> buffers;
    int pitch = 0;
    for (int c = 0; c < channels; ++c) {
        textures.push_back(device.CreateTexture(QSize(16, 16), false));
        buffers.push_back(textures.back()->GetBuffer(QSize(kWidth, kHeight), pitch, true));
        if (buffers.back() == nullptr) {
            state.SkipWithError("the device takes no planar frames");
            return;
        }
        FillPlanes(buffers.back(), pitch, c * 17);
    }
    SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, cellW, cellH, AV_PIX_FMT_BGRA, SWS_POINT,
                                     nullptr, nullptr, nullptr);
    if (sws == nullptr) {
        state.SkipWithError("libswscale refused the conversion");
        return;
    }
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(kWidth) * kHeight * 4);
    const QRect whole(0, 0, kWidth, kHeight);

    double oursSeconds = 0, referenceSeconds = 0;
    for (auto _ : state) {
        const auto a = Clock::now();
        device.BeginScene();
        device.SetViewport(whole);
        device.SetBlendMode(0);
        for (int c = 0; c < channels; ++c) {
            textures[static_cast<std::size_t>(c)]->Commit();
            device.SetTexture(textures[static_cast<std::size_t>(c)], false);
            device.DrawQuad(QRectF(c % side * cellW, c / side * cellH, cellW, cellH),
                            textures[static_cast<std::size_t>(c)]->GetSourceRect(), 0xFFFFFFFF, 0);
        }
        device.EndScene();
        device.CopyToBackBuffer(whole);
        device.Present(whole);
        const auto b = Clock::now();
        for (int c = 0; c < channels; ++c) {
            const std::uint8_t* y = buffers[static_cast<std::size_t>(c)];
            const std::uint8_t* planes[3] = {y, y + pitch * kHeight * 5 / 4, y + pitch * kHeight};
            const int strides[3] = {pitch, pitch / 2, pitch / 2};
            std::uint8_t* dst[1] = {picture.data() +
                                    (static_cast<std::size_t>(c / side * cellH) * kWidth + c % side * cellW) * 4};
            const int dstStrides[1] = {kWidth * 4};
            sws_scale(sws, planes, strides, 0, kHeight, dst, dstStrides);
        }
        benchmark::ClobberMemory();
        const auto c = Clock::now();
        const double seconds = std::chrono::duration<double>(b - a).count();
        oursSeconds += seconds;
        referenceSeconds += std::chrono::duration<double>(c - b).count();
        state.SetIterationTime(seconds);
    }
    sws_freeContext(sws);
    const double n = static_cast<double>(state.iterations());
    state.counters["fps"] = benchmark::Counter(oursSeconds > 0 ? n / oursSeconds : 0);
    state.counters["reference_fps"] = benchmark::Counter(referenceSeconds > 0 ? n / referenceSeconds : 0);
    state.counters["ratio"] = benchmark::Counter(referenceSeconds > 0 ? oursSeconds / referenceSeconds : 0);
}
BENCHMARK(BM_SoftwareDevicePresent_vs_Sws)->Arg(1)->Arg(4)->Arg(16)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
