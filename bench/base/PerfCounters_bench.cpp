// Cost of counting events and of scanning for the portable-player marker.
#include <benchmark/benchmark.h>

#include <vector>

#include "base/PatStr.h"
#include "base/PerfCounters.h"

namespace {

// One Add per frame is what the recorder pays; from several threads the
// atomic additions contend.
void BM_CounterAdd(benchmark::State& state)
{
    static QorStatistics::CPerformanceCounter* counter = nullptr;
    if (state.thread_index() == 0)
        counter = new QorStatistics::CPerformanceCounter(0.8);
    for (auto _ : state)
        counter->Add(1);
    if (state.thread_index() == 0) {
        benchmark::DoNotOptimize(counter->GetRate());
        delete counter;
        counter = nullptr;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CounterAdd)->Threads(1)->Threads(4);

// Bytes per second through the table search over data without the marker.
void BM_PatStrScan(benchmark::State& state)
{
    std::vector<uint8_t> marker(54);
    for (size_t i = 0; i < marker.size(); ++i)
        marker[i] = static_cast<uint8_t>(i * 37 + 11);
    std::vector<uint8_t> data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    CPatStr pattern(marker.data(), static_cast<int32_t>(marker.size()));
    for (auto _ : state) {
        pattern.Reset();
        benchmark::DoNotOptimize(pattern.FindEnd(data.data(), data.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_PatStrScan);

} // namespace
