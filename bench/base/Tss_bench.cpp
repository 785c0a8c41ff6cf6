// Time-stamp conversions run for every frame, index entry and query: measure
// both directions in cached and uncached time-zone mode, for frame-like
// (consecutive) times and for times scattered over years.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "base/Tss.h"
#include "platform/RegistryStore.h"

namespace {

constexpr std::uint64_t kStart = 13364301600000ULL;  // 2024-07-01 10:00 UTC in archive ms

// Switches the zone and the caching mode for one benchmark run; systemZone
// leaves TZ unset, so the zone comes from /etc/localtime as on a viewer
// station.
void Setup(bool cached, bool systemZone = false) {
    static std::string dir = [] {
        std::string tmpl = "/tmp/gavex-tss-bench-XXXXXX";
        return std::string(::mkdtemp(tmpl.data()));
    }();
    ::setenv("GAVEX_REGISTRY_DIR", dir.c_str(), 1);
    if (systemZone) ::unsetenv("TZ");
    else ::setenv("TZ", "Europe/Berlin", 1);
    platform::RegistryStore::Current()->SetValue(platform::RegistryScope::Machine, "SOFTWARE\\QOR\\Vindara\\Video",
                                                 "ApplyTZCachingFix", platform::RegistryValue::Text(cached ? "1" : "0"));
    TssTimeZone::Reset();
}

std::vector<std::uint64_t> Times(bool scattered) {
    std::vector<std::uint64_t> t(4096);
    std::mt19937_64 rng(7);
    for (std::size_t i = 0; i < t.size(); ++i)
        t[i] = scattered ? kStart + rng() % (10ULL * 365 * 86400000) : kStart + i * 40;  // 25 fps
    return t;
}

void BM_FromUtcMilliseconds(benchmark::State& state) {
    const bool cached = state.range(0) != 0;
    Setup(cached, state.range(2) != 0);
    const auto times = Times(state.range(1) != 0);
    std::size_t i = 0;
    for (auto _ : state) {
        TSS t;
        t.FromUtcMilliseconds(times[i++ & 4095]);
        benchmark::DoNotOptimize(t);
    }
}

void BM_ToUtcMilliseconds(benchmark::State& state) {
    const bool cached = state.range(0) != 0;
    Setup(cached, state.range(2) != 0);
    std::vector<TSS> stamps;
    for (std::uint64_t a : Times(state.range(1) != 0)) stamps.push_back(TSS::FromUtc(a));
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(stamps[i++ & 4095].ToUtcMilliseconds());
}

void BM_ToUnixMilliseconds(benchmark::State& state) {
    const TSS t = TSS::FromUtc(kStart);
    for (auto _ : state) benchmark::DoNotOptimize(t.ToUnixMilliseconds());
}

void BM_ToString(benchmark::State& state) {
    const TSS t = TSS::FromUtc(kStart);
    std::string s;
    for (auto _ : state) benchmark::DoNotOptimize(t.ToString(s, true, true));
}

void ZoneArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"cached", "scattered", "systemzone"});
    for (int zone : {0, 1})
        for (int scattered : {0, 1})
            for (int cached : {0, 1}) b->Args({cached, scattered, zone});
}
BENCHMARK(BM_FromUtcMilliseconds)->Apply(ZoneArgs);
BENCHMARK(BM_ToUtcMilliseconds)->Apply(ZoneArgs);
BENCHMARK(BM_ToUnixMilliseconds);
BENCHMARK(BM_ToString);

}  // namespace
