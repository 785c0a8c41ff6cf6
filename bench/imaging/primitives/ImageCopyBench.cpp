// The per-frame copies of the decoder and the textures against memcpy of the
// same bytes, in each processor slot.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/primitives/AlignedMemory.h"
#include "imaging/primitives/CpuDispatch.h"
#include "imaging/primitives/ImageCopy.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
// A texture row pitch wider than the frame row, as drivers hand out.
constexpr int kPitch = 4 * 2048;

struct Buffers {
    std::uint8_t* src = AllocateAligned8(kPitch * kHeight);
    std::uint8_t* dst = AllocateAligned8(kPitch * kHeight);
    Buffers()
    {
        for (int i = 0; i < kPitch * kHeight; ++i)
            src[i] = static_cast<std::uint8_t>(i * 7);
        std::memset(dst, 0, kPitch * kHeight);
    }
    ~Buffers()
    {
        FreeAligned(src);
        FreeAligned(dst);
    }
};

Buffers& Shared()
{
    static Buffers buffers;
    return buffers;
}

// Runs body with the slot of range(0) set, restoring the slot afterwards.
template <typename Body>
void InSlot(benchmark::State& state, Body body)
{
    const auto slot = static_cast<std::int32_t>(state.range(0));
    const std::int32_t saved = CpuVariantIndex.load();
    if (!SetCpuVariantIndex(slot)) {
        state.SkipWithError("slot not supported by this processor");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(body());
        benchmark::ClobberMemory();
    }
    CpuVariantIndex.store(saved);
    state.SetLabel(CpuVariantCode(slot));
}

void BM_Memcpy(benchmark::State& state)
{
    Buffers& b = Shared();
    const auto bytes = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        std::memcpy(b.dst, b.src, bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}
// Frame bytes: 4-byte 1080p, luma plane, one chroma plane, 3-byte 1080p.
BENCHMARK(BM_Memcpy)->Arg(kWidth * kHeight * 4)->Arg(kWidth * kHeight)->Arg(kWidth * kHeight / 4)
    ->Arg(kWidth * kHeight * 3)->Unit(benchmark::kMicrosecond);

void BM_CopyImage8uC4_Packed(benchmark::State& state)
{
    Buffers& b = Shared();
    InSlot(state, [&] { return CopyImage8uC4(b.src, 4 * kWidth, b.dst, 4 * kWidth, {kWidth, kHeight}); });
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight * 4);
}
BENCHMARK(BM_CopyImage8uC4_Packed)->Arg(0)->Arg(2)->Arg(5)->Unit(benchmark::kMicrosecond);

void BM_CopyImage8uC4_ToPitch(benchmark::State& state)
{
    Buffers& b = Shared();
    InSlot(state, [&] { return CopyImage8uC4(b.src, 4 * kWidth, b.dst, kPitch, {kWidth, kHeight}); });
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight * 4);
}
BENCHMARK(BM_CopyImage8uC4_ToPitch)->Arg(0)->Arg(2)->Arg(5)->Unit(benchmark::kMicrosecond);

void BM_CopyImage8uC1_Luma(benchmark::State& state)
{
    Buffers& b = Shared();
    InSlot(state, [&] { return CopyImage8uC1(b.src, kWidth, b.dst, 2048, {kWidth, kHeight}); });
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_CopyImage8uC1_Luma)->Arg(0)->Arg(2)->Arg(5)->Unit(benchmark::kMicrosecond);

void BM_CopyImage8uC1_Chroma(benchmark::State& state)
{
    Buffers& b = Shared();
    InSlot(state, [&] { return CopyImage8uC1(b.src, kWidth / 2, b.dst, 1024, {kWidth / 2, kHeight / 2}); });
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight / 4);
}
BENCHMARK(BM_CopyImage8uC1_Chroma)->Arg(0)->Arg(2)->Arg(5)->Unit(benchmark::kMicrosecond);

void BM_CopyImage8uC3AC4(benchmark::State& state)
{
    Buffers& b = Shared();
    InSlot(state, [&] { return CopyImage8uC3AC4(b.src, 3 * kWidth, b.dst, 4 * kWidth, {kWidth, kHeight}); });
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight * 4);
}
BENCHMARK(BM_CopyImage8uC3AC4)->Arg(0)->Arg(2)->Arg(5)->Unit(benchmark::kMicrosecond);

void BM_SwapChannels8uC3C4(benchmark::State& state)
{
    Buffers& b = Shared();
    static const std::int32_t order[4] = {2, 0, 1, 3};
    InSlot(state, [&] {
        return SwapChannels8uC3C4(b.src, 3 * kWidth, b.dst, 4 * kWidth, {kWidth, kHeight}, order, 0);
    });
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight * 4);
}
BENCHMARK(BM_SwapChannels8uC3C4)->Arg(0)->Arg(2)->Arg(5)->Unit(benchmark::kMicrosecond);

void BM_CopyImage8uP3C3(benchmark::State& state)
{
    Buffers& b = Shared();
    const std::uint8_t* planes[3] = {b.src, b.src + kWidth * kHeight, b.src + 2 * kWidth * kHeight};
    InSlot(state, [&] { return CopyImage8uP3C3(planes, kWidth, b.dst, 3 * kWidth, {kWidth, kHeight}); });
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight * 3);
}
BENCHMARK(BM_CopyImage8uP3C3)->Arg(0)->Arg(2)->Arg(5)->Unit(benchmark::kMicrosecond);

void BM_CopyImage8uC3P3(benchmark::State& state)
{
    Buffers& b = Shared();
    std::uint8_t* planes[3] = {b.dst, b.dst + kWidth * kHeight, b.dst + 2 * kWidth * kHeight};
    InSlot(state, [&] { return CopyImage8uC3P3(b.src, 3 * kWidth, planes, kWidth, {kWidth, kHeight}); });
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight * 3);
}
BENCHMARK(BM_CopyImage8uC3P3)->Arg(0)->Arg(2)->Arg(5)->Unit(benchmark::kMicrosecond);

void BM_CopyImage8uC4P4(benchmark::State& state)
{
    Buffers& b = Shared();
    std::uint8_t* planes[4] = {b.dst, b.dst + kWidth * kHeight, b.dst + 2 * kWidth * kHeight,
                               b.dst + 3 * kWidth * kHeight};
    InSlot(state, [&] { return CopyImage8uC4P4(b.src, 4 * kWidth, planes, kWidth, {kWidth, kHeight}); });
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight * 4);
}
BENCHMARK(BM_CopyImage8uC4P4)->Arg(0)->Arg(2)->Arg(5)->Unit(benchmark::kMicrosecond);

}  // namespace
