// Sixteen channels played in real time on one waitable clock (time
// synchronizer, source pins, pin threads) beside a reference that paces the
// same channels with one thread each sleeping in
// clock_nanosleep(TIMER_ABSTIME) until each frame is due. Both decode every
// frame into a sample of their own before presenting it.
//
// Counters:
//   err_p50, err_p99    |presentation time - ideal time| of ours, as a
//                       fraction of the frame interval (40 ms); the ideal
//                       schedule is anchored at the run's median offset
//                       (reported as offset), since the synchronizer pulls
//                       its time line back to frames that start late
//   ref_err_p99         the same of the reference
//   p99_ratio           err_p99 / ref_err_p99
//   skew                spread of the channels' median errors, as a
//                       fraction of the frame interval
//   timer_cpu_s         processor time of the clock's timer thread
//   cpu_ratio           processor time of our run / the reference's run
//
// The run lasts GAVEX_BENCH_PLAYBACK_SECONDS seconds of play (3 by default;
// 10 for the figures quoted in reviews).
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>

#include "media/Decoder.h"
#include "media/MediaSample.h"
#include "support/RendererPinHost.h"
#include "playback/Clocks.h"
#include "playback/PlaybackTestSupport.h"
#include "playback/SourcePin.h"
#include "playback/TimeSynchronizer.h"

namespace {

constexpr int kChannels = 16;
constexpr int64_t kStart = 1'000'000;
constexpr double kIntervalNs = 40e6;

int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int PlaySeconds() {
    const char* s = std::getenv("GAVEX_BENCH_PLAYBACK_SECONDS");
    const int v = s ? std::atoi(s) : 3;
    return v > 0 ? v : 3;
}

// Frame times of channel c: 25 or 30 frames per second, phases spread.
std::vector<int64_t> ChannelTimes(int c, int seconds) {
    const int64_t step = c % 2 == 0 ? 40 : 33;
    std::vector<int64_t> t;
    for (int64_t x = kStart + (c * 7) % step; x < kStart + seconds * 1000; x += step) t.push_back(x);
    return t;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

struct Errors {
    std::vector<double> all;                   // |error - offset| in ns
    std::vector<std::vector<double>> signedBy;  // per channel, signed
    double offset = 0;                          // median signed error

    void Finish() {
        std::vector<double> every;
        for (const auto& c : signedBy) every.insert(every.end(), c.begin(), c.end());
        offset = Percentile(every, 0.5);
        for (double x : every) all.push_back(std::abs(x - offset));
    }
};

double Skew(const Errors& e) {
    std::vector<double> medians;
    for (const auto& c : e.signedBy)
        if (!c.empty()) medians.push_back(Percentile(c, 0.5));
    if (medians.empty()) return 0;
    return *std::max_element(medians.begin(), medians.end()) - *std::min_element(medians.begin(), medians.end());
}

Errors RunOurs(int seconds, double& timerCpu) {
    auto clock = std::make_shared<utils::WaitableClock>();
    auto sync = std::make_shared<filters::TimeSynchronizer>(clock);
    struct Channel {
        std::shared_ptr<filters::VindaraSourcePin> pin;
        std::unique_ptr<filters::SourcePin> thread;
        std::unique_ptr<testsupport::RendererPinHost> host;
        boost::shared_ptr<render::MediaSamplePin> renderer;
        std::vector<std::pair<int64_t, int64_t>> shown;  // (now ns, frame ms)
    };
    std::vector<Channel> channels(kChannels);
    std::atomic<int64_t> anchor{0};
    for (int c = 0; c < kChannels; ++c) {
        Channel& ch = channels[size_t(c)];
        auto source = boost::make_shared<playbacktest::ScriptedSource>(
            ChannelTimes(c, seconds), std::vector<filters::RecordPeriod>{{kStart, seconds * 1000}});
        ch.pin = std::make_shared<filters::VindaraSourcePin>();
        ch.pin->SetSource(source, sync, "");
        ch.host = std::make_unique<testsupport::RendererPinHost>();
        ch.renderer = ch.host->Pin();
        ch.host->onFrame = [&ch] { ch.shown.emplace_back(NowNs(), ch.renderer->GetSample().GetTime()); };
        ch.thread = std::make_unique<filters::SourcePin>(ch.pin);
        ch.thread->SetRendererPin(ch.renderer);
    }
    for (auto& ch : channels) ch.pin->Resume();
    anchor = NowNs();
    for (auto& ch : channels) ch.thread->SetState(filters::SourcePin::kRun, false);
    const int64_t end = NowNs() + int64_t(seconds + 2) * 1'000'000'000;
    while (NowNs() < end &&
           !std::all_of(channels.begin(), channels.end(), [](Channel& ch) { return ch.thread->GetState() == 1; }))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    timerCpu = clock->TimerThreadCpuSeconds();
    Errors e;
    for (auto& ch : channels) {
        ch.pin->Pause();
        ch.thread->SetState(filters::SourcePin::kRun, true);
        e.signedBy.emplace_back();
        for (const auto& [now, frame] : ch.shown)
            e.signedBy.back().push_back(double(now - anchor - (frame - kStart) * 1'000'000));
    }
    e.Finish();
    return e;
}

Errors RunReference(int seconds) {
    Errors e;
    e.signedBy.resize(kChannels);
    std::vector<std::thread> threads;
    const int64_t anchor = NowNs() + 20'000'000;
    for (int c = 0; c < kChannels; ++c) {
        threads.emplace_back([c, seconds, anchor, &e] {
            playbacktest::ScriptedSource source(ChannelTimes(c, seconds), {{kStart, seconds * 1000}});
            filters::Decoder decoder;
            render::ImageMediaSample sample(true);
            const filters::TargetSize none{-1, -1};
            std::vector<double>& out = e.signedBy[size_t(c)];
            for (VideoFrame* f = source.GetCurrentFrame(); f; f = source.NextFrame()) {
                decoder.Decode(f, &sample, false, none);
                const int64_t due = anchor + (sample.Time() - kStart) * 1'000'000;
                timespec ts{time_t(due / 1'000'000'000), long(due % 1'000'000'000)};
                while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
                }
                out.push_back(double(std::max<int64_t>(NowNs(), due) - due));
            }
        });
    }
    for (auto& t : threads) t.join();
    e.Finish();
    return e;
}

void BM_SixteenChannelsOnOneClock(benchmark::State& state) {
    const int seconds = PlaySeconds();
    for (auto _ : state) {
        double timerCpu = 0;
        const double cpu0 = ProcessCpuSeconds();
        const Errors ours = RunOurs(seconds, timerCpu);
        const double cpu1 = ProcessCpuSeconds();
        const Errors ref = RunReference(seconds);
        const double cpu2 = ProcessCpuSeconds();
        const double p99 = Percentile(ours.all, 0.99);
        const double refP99 = Percentile(ref.all, 0.99);
        state.counters["frames"] = double(ours.all.size());
        state.counters["err_p50"] = Percentile(ours.all, 0.5) / kIntervalNs;
        state.counters["err_p99"] = p99 / kIntervalNs;
        state.counters["ref_err_p50"] = Percentile(ref.all, 0.5) / kIntervalNs;
        state.counters["ref_err_p99"] = refP99 / kIntervalNs;
        state.counters["p99_ratio"] = refP99 > 0 ? p99 / refP99 : 0;
        state.counters["offset"] = ours.offset / kIntervalNs;
        state.counters["skew"] = Skew(ours) / kIntervalNs;
        state.counters["ref_skew"] = Skew(ref) / kIntervalNs;
        state.counters["timer_cpu_s"] = timerCpu;
        state.counters["cpu_s"] = cpu1 - cpu0;
        state.counters["ref_cpu_s"] = cpu2 - cpu1;
        state.counters["cpu_ratio"] = cpu2 > cpu1 ? (cpu1 - cpu0) / (cpu2 - cpu1) : 0;
    }
}
BENCHMARK(BM_SixteenChannelsOnOneClock)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
