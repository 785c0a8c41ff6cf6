// Two archive channels (25 and 30 frames per second, the second with an
// hour's gap) through the whole chain: folder front end, decoding source,
// time-converting source, source pin and pin thread, into recording renderer
// pins, on one waitable clock running on simulated time.
//
// A driver thread moves simulated time to the earliest sleeper's wake time
// whenever somebody sleeps on the clock. Under ordered pacing only the pin
// whose frame is earliest sleeps on the clock, the others wait for their
// turn, so every frame is presented exactly when it is due.

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "FSImplementation/VindaraFileSystemFactory.h"
#include "PlaybackTestSupport.h"
#include "media/DecompressedVideoSource.h"
#include "media/MediaSample.h"
#include "support/RendererPinHost.h"
#include "media/TimeConversion.h"
#include "playback/Clocks.h"
#include "playback/SourcePin.h"
#include "playback/TimeConverterSource.h"
#include "playback/TimeSynchronizer.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"

using playbacktest::Eventually;
using playbacktest::SimTicks;

namespace {

constexpr int64_t kHourMs = 3'600'000;

struct Presented {
    int64_t clockTime;
    int64_t frameTime;  // archive ms
    bool timed;         // presented while playing (not flushed by a pause)
};

// The codec add-on's folder in a registry of the test's own.
void UseProjectAddon(const std::string& folder) {
    std::ofstream out(folder + "/machine.reg", std::ios::trunc);
    out << "[SOFTWARE\\GavexSoft\\Addons\\Brastel1]\n"
        << "\"Modules\"=\"" << GAVEX_ADDON_DIR << "\"\n";
    out.close();
    setenv("GAVEX_REGISTRY_DIR", folder.c_str(), 1);
}

class ChannelsOnOneClock : public ::testing::Test {
protected:
    struct Channel {
        std::vector<int64_t> frames;  // archive times
        std::shared_ptr<filters::VindaraSourcePin> pin;
        std::unique_ptr<testsupport::RendererPinHost> host;
        boost::shared_ptr<render::MediaSamplePin> renderer;
        std::unique_ptr<filters::SourcePin> thread;
        std::mutex lock;
        std::vector<Presented> presented;
    };

    testsupport::ArchiveTempDir dir;
    SimTicks ticks;
    std::shared_ptr<utils::Clock> inner = std::make_shared<utils::Clock>(ticks.Source());
    std::shared_ptr<utils::WaitableClock> clock = std::make_shared<utils::WaitableClock>(inner);
    std::shared_ptr<filters::TimeSynchronizer> sync = std::make_shared<filters::TimeSynchronizer>(clock);
    std::shared_ptr<utils::TimeConverter> converter = std::make_shared<utils::TimeConverter>();
    boost::shared_ptr<Storage::IVindaraFileSystem> frontEnd;
    Channel channels[2];
    std::atomic<bool> playing{false};
    std::atomic<bool> stopDriver{false};
    std::thread driver;

    void SetUp() override {
        if (std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
        testsupport::MakeFolders(dir.Path() + "/registry");
        UseProjectAddon(dir.Path() + "/registry");
        const int64_t t0 = testsupport::LocalUnixMs(2024, 3, 5, 10, 0, 0);
        WriteChannel(1, 1, t0, 50, 40);                // 25 fps, 2 s
        WriteChannel(2, 2, t0 + 10, 45, 33);           // 30 fps, 1.5 s...
        WriteChannel(2, 3, t0 + kHourMs, 45, 33);      // ...and again an hour later
        for (int c = 0; c < 2; ++c) std::sort(channels[c].frames.begin(), channels[c].frames.end());

        frontEnd = Storage::CreateVindaraFileSystem(dir.Path() + "/archive");
        ASSERT_TRUE(frontEnd);
        frontEnd->Initialize(false);
        boost::shared_ptr<filters::IVideoSource> sources[2];
        std::vector<const utils::IntervalList*> lists;
        for (int c = 0; c < 2; ++c) {
            sources[c] = filters::CreateArchiveChannelSource(frontEnd, std::to_wstring(c + 1));
            ASSERT_TRUE(sources[c]);
            lists.push_back(&sources[c]->GetPeriods());
        }
        ASSERT_EQ(sources[1]->GetPeriods().size(), 2u);
        converter->BuildArchivePeriods(lists);
        converter->RebuildContinuous();
        std::string shown;
        for (int c = 0; c < 2; ++c)
            for (const auto& p : sources[c]->GetPeriods())
                shown += std::to_string(c) + ":" + std::to_string(p.start - t0) + "+" + std::to_string(p.length) + " ";
        ASSERT_EQ(converter->GetArchivePeriods().size(), 2u) << shown;  // the hour is folded out

        for (int c = 0; c < 2; ++c) {
            Channel& ch = channels[c];
            ch.pin = std::make_shared<filters::VindaraSourcePin>();
            ch.pin->SetSource(boost::make_shared<filters::TimeConverterSource>(sources[c], converter), sync, "test");
            ch.host = std::make_unique<testsupport::RendererPinHost>();
            ch.renderer = ch.host->Pin();
            ch.host->onFrame = [this, &ch] {
                std::lock_guard<std::mutex> lock(ch.lock);
                ch.presented.push_back({clock->GetTime(), ch.renderer->GetSample().GetTime(), playing.load()});
            };
            ch.thread = std::make_unique<filters::SourcePin>(ch.pin);
            ch.thread->SetRendererPin(ch.renderer);
        }
        driver = std::thread([this] { Drive(); });
    }

    void TearDown() override {
        for (auto& ch : channels) ch.thread.reset();
        stopDriver = true;
        if (driver.joinable()) driver.join();
    }

    void WriteChannel(int camera, uint32_t fileId, int64_t start, int count, int64_t step) {
        const std::string work = dir.Path() + "/work" + std::to_string(fileId);
        testsupport::MakeFolders(work);
        auto frames = testsupport::GenerateH264Frames(work, count, start, step, 10);
        ASSERT_EQ(frames.size(), size_t(count));
        for (const auto& f : frames) channels[camera - 1].frames.push_back(f.unixMs);
        const std::string path = dir.Path() + "/archive/" + testsupport::ArchiveFileName(camera, fileId);
        testsupport::WriteFileBytes(path, testsupport::BuildArchiveFile(frames));
        // A folder takes a file's period from its creation and write times
        // when they differ; a write time before the creation makes it read
        // the period from the frames, as for a copied file.
        std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 365));
    }

    // Moves simulated time to the earliest sleeper's wake time, once the
    // sleepers stayed the same for 20 ms: a channel still handing its last
    // frame to the renderer must reach its own wait before time moves on. A
    // channel left without a processor for longer is overtaken by the clock
    // and, as a late pin does, skips to the frame due; on a loaded machine a
    // shorter wait made that happen in the middle of the run.
    void Drive() {
        size_t seenCount = 0;
        int64_t seenWake = -1;
        int quiet = 0;
        while (!stopDriver) {
            const size_t count = clock->WaiterCount();
            const int64_t wake = count > 0 ? clock->EarliestWakeTime() : -1;
            if (count > 0 && count == seenCount && wake == seenWake) {
                if (++quiet >= 200) {
                    while (clock->GetTime() < wake) ticks.Advance(1);
                    clock->Poke();
                    quiet = 0;
                }
            } else {
                seenCount = count;
                seenWake = wake;
                quiet = 0;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }

    int64_t Continuous(int64_t archive) const { return converter->ArchiveToContinuous(archive); }

    bool AllIdle() {
        return std::all_of(std::begin(channels), std::end(channels),
                           [](Channel& ch) { return ch.thread->GetState() == filters::SourcePin::kIdle; });
    }

    // Every client resumes before any pin thread runs, so that the first
    // frames are ordered among all channels.
    void Play() {
        playing = true;
        for (auto& ch : channels) ch.pin->Resume();
        for (auto& ch : channels) ch.thread->SetState(filters::SourcePin::kRun, false);
    }
    void Pause() {
        playing = false;
        for (auto& ch : channels) {
            ch.pin->Pause();
            ch.thread->SetState(filters::SourcePin::kRun, true);
        }
        ASSERT_TRUE(Eventually([&] { return AllIdle(); }));
    }
    void SeekAll(int64_t t) {
        for (auto& ch : channels) ch.thread->Seek(t);
        ASSERT_TRUE(Eventually([&] { return AllIdle(); }));
    }
    std::vector<Presented> Take(int c) {
        std::lock_guard<std::mutex> lock(channels[c].lock);
        return std::exchange(channels[c].presented, {});
    }
    // The frame a channel shows at continuous time t.
    int64_t FrameAt(int c, int64_t t) const {
        int64_t best = channels[c].frames.front();
        for (int64_t f : channels[c].frames)
            if (Continuous(f) <= t) best = f;
        return best;
    }
};

}  // namespace

TEST_F(ChannelsOnOneClock, PlayPauseSeekAndStepKeepTheChannelsInStep) {
    const int64_t start = converter->GetContinuousPeriods().front().start;
    ASSERT_EQ(start, 0);
    const int64_t clockAtStart = clock->GetTime();
    Play();

    // Pause near 1 s of play, keep the clock running for a minute, resume.
    ASSERT_TRUE(Eventually([&] { return channels[0].pin->GetCurrentTime() >= 1000; }));
    Pause();
    const int64_t pausedAt = channels[0].pin->GetCurrentTime();
    ticks.Advance(60'000);
    EXPECT_EQ(channels[0].pin->GetCurrentTime(), pausedAt);
    Play();
    ASSERT_TRUE(Eventually([&] { return AllIdle(); }));

    // Both channels ran to their ends; the 25 fps one ended first and the
    // other played on across the folded hour.
    for (int c = 0; c < 2; ++c) {
        const std::vector<Presented> p = Take(c);
        ASSERT_FALSE(p.empty());
        EXPECT_EQ(p.back().frameTime, channels[c].frames.back()) << c;
        std::vector<int64_t> shown;
        for (const auto& x : p) shown.push_back(x.frameTime);
        EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end())) << c;
        EXPECT_EQ(std::adjacent_find(shown.begin(), shown.end()), shown.end()) << c << ": a frame shown twice";
        EXPECT_EQ(shown.size(), channels[c].frames.size()) << c << ": every frame shown once";
        // On schedule: before the pause at clockAtStart + continuous time,
        // after it one minute later; one tick of tolerance.
        for (const auto& x : p) {
            if (!x.timed) continue;
            const int64_t ideal = clockAtStart + Continuous(x.frameTime) - start;
            const int64_t late = x.clockTime - ideal;
            EXPECT_TRUE(std::abs(late) <= 1 || std::abs(late - 60'000) <= 1)
                << "channel " << c << " frame " << x.frameTime << " off by " << late;
        }
    }
    EXPECT_GT(Continuous(channels[1].frames.back()), Continuous(channels[0].frames.back()) + 1000);
    EXPECT_LT(Continuous(channels[1].frames.back()), 4000);  // the hour is not waited through

    // A seek lands every channel on its frame at that time.
    Pause();
    Take(0);
    Take(1);
    for (int64_t t : {1017, 2600, 500}) {
        SeekAll(t);
        for (int c = 0; c < 2; ++c) {
            const std::vector<Presented> p = Take(c);
            ASSERT_FALSE(p.empty()) << t;
            EXPECT_EQ(p.back().frameTime, FrameAt(c, t)) << "channel " << c << " at " << t;
        }
    }

    // Steps move the master one frame either way.
    const std::vector<int64_t>& f0 = channels[0].frames;
    const size_t at = size_t(std::find(f0.begin(), f0.end(), FrameAt(0, 500)) - f0.begin());
    SeekAll(channels[0].thread->GetAdjacentFrameTime(true));
    EXPECT_EQ(Take(0).back().frameTime, f0[at + 1]);
    Take(1);
    SeekAll(channels[0].thread->GetAdjacentFrameTime(false));
    EXPECT_EQ(Take(0).back().frameTime, f0[at]);

    // Fast play with frame skipping: a channel that starts late lies more
    // than 50 ms behind the common time line and jumps to it.
    SeekAll(0);
    Take(0);
    Take(1);
    for (auto& ch : channels) ch.pin->SetSkipFrames(true);
    clock->SetRate(4.0);
    playing = true;
    for (auto& ch : channels) ch.pin->Resume();
    channels[0].thread->SetState(filters::SourcePin::kRun, false);
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard<std::mutex> lock(channels[0].lock);
        return !channels[0].presented.empty() && Continuous(channels[0].presented.back().frameTime) >= 400;
    }));
    const int64_t reference = sync->GetReferenceTime();
    EXPECT_GE(reference, 360);
    channels[1].thread->SetState(filters::SourcePin::kRun, false);
    ASSERT_TRUE(Eventually([&] { return AllIdle(); }));
    const std::vector<Presented> late = Take(1);
    ASSERT_FALSE(late.empty());
    EXPECT_GE(Continuous(late.front().frameTime), reference - 40) << "the late channel did not jump";
    EXPECT_EQ(late.back().frameTime, channels[1].frames.back());
    for (int c = 0; c < 2; ++c) {
        std::vector<int64_t> shown;
        for (const auto& x : c == 1 ? late : Take(0)) shown.push_back(x.frameTime);
        EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end())) << c;
    }
}
