// Random play, pause, seek, step and speed changes on four pins in real
// time. Fails only when something hangs (a command or the pin threads not
// coming to rest), never on timing.

#include <future>
#include <random>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "PlaybackTestSupport.h"
#include "media/MediaSample.h"
#include "support/RendererPinHost.h"
#include "media/TimeConversion.h"
#include "playback/Clocks.h"
#include "playback/SourcePin.h"
#include "playback/TimeConverterSource.h"
#include "playback/TimeSynchronizer.h"

using playbacktest::Eventually;
using playbacktest::ScriptedSource;

namespace {

struct Player {
    std::shared_ptr<filters::VindaraSourcePin> pin;
    std::unique_ptr<filters::SourcePin> thread;
    std::unique_ptr<testsupport::RendererPinHost> host;
    boost::shared_ptr<render::MediaSamplePin> renderer;
};

std::shared_ptr<filters::TimeSynchronizer> g_sync;
std::shared_ptr<utils::WaitableClock> g_clock;

void RunRandomSession(unsigned seed) {
    std::mt19937 random(seed);
    auto clock = std::make_shared<utils::WaitableClock>();
    auto sync = std::make_shared<filters::TimeSynchronizer>(clock);
    g_sync = sync;
    g_clock = clock;
    auto converter = std::make_shared<utils::TimeConverter>();

    // 25, 30, 12.5 and 50 frames per second; the third with a gap.
    const int64_t steps[] = {40, 33, 80, 20};
    std::vector<boost::shared_ptr<ScriptedSource>> sources;
    for (int c = 0; c < 4; ++c) {
        std::vector<int64_t> times;
        for (int64_t t = 1000; t < 4000; t += steps[c]) {
            if (c == 2 && t > 2000 && t < 3000) continue;
            times.push_back(t);
        }
        std::vector<filters::RecordPeriod> periods{{1000, times.back() - 1000 + 1}};
        if (c == 2) periods = {{1000, 1000}, {3040, times.back() - 3040 + 1}};
        sources.push_back(boost::make_shared<ScriptedSource>(times, periods));
    }
    std::vector<const utils::IntervalList*> lists;
    for (auto& s : sources) lists.push_back(&s->GetPeriods());
    converter->BuildArchivePeriods(lists);
    converter->RebuildContinuous();

    std::vector<Player> players(4);
    for (int c = 0; c < 4; ++c) {
        Player& p = players[size_t(c)];
        p.pin = std::make_shared<filters::VindaraSourcePin>();
        p.pin->SetSource(boost::make_shared<filters::TimeConverterSource>(sources[size_t(c)], converter), sync, "");
        p.host = std::make_unique<testsupport::RendererPinHost>(c % 2 == 0);
        p.renderer = p.host->Pin();
        p.thread = std::make_unique<filters::SourcePin>(p.pin);
        p.thread->SetRendererPin(p.renderer);
    }
    const int64_t duration = players[0].pin->GetDuration();

    // As the players controller does: a seek or step made while playing
    // pauses, seeks, pauses again and plays on.
    bool playing = false;
    auto pauseAll = [&] {
        for (auto& p : players) {
            p.pin->Pause();
            p.thread->SetState(filters::SourcePin::kRun, true);
        }
    };
    auto playAll = [&] {
        for (auto& p : players) p.thread->Resume();
    };
    auto seekAll = [&](int64_t t) {
        pauseAll();
        for (auto& p : players) p.thread->Seek(t);
        pauseAll();
        if (playing) playAll();
    };
    for (int op = 0; op < 200; ++op) {
        switch (random() % 6) {
        case 0:  // a second play does nothing
            if (!playing) playAll();
            playing = true;
            break;
        case 1:
            pauseAll();
            playing = false;
            break;
        case 2:
            seekAll(int64_t(random() % uint32_t(duration + 200)) - 100);
            break;
        case 3:  // step
            pauseAll();
            seekAll(players[0].thread->GetAdjacentFrameTime(random() % 2 == 0));
            break;
        case 4: {  // speed and frame skipping
            const double rates[] = {0.5, 1.0, 2.0, 4.0, 16.0};
            clock->SetRate(rates[random() % 5]);
            const bool skip = random() % 2 == 0;
            for (auto& p : players) p.pin->SetSkipFrames(skip);
            break;
        }
        case 5: {  // still images of the master
            render::ImageMediaSample first, second;
            pauseAll();
            players[0].thread->RenderFrameAt(&first, &second, int64_t(random() % uint32_t(duration)));
            if (playing) playAll();
            break;
        }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    }
    // Everything comes to rest once paused.
    for (auto& p : players) {
        p.pin->Pause();
        p.thread->SetState(filters::SourcePin::kRun, true);
    }
    for (auto& p : players)
        ASSERT_TRUE(Eventually([&] { return p.thread->GetState() == filters::SourcePin::kIdle; }));
}

}  // namespace

TEST(PlaybackStress, RandomCommandsOnFourPinsNeverHang) {
    for (unsigned seed : {1u, 2u, 3u}) {
        auto session = std::async(std::launch::async, [seed] { RunRandomSession(seed); });
        if (session.wait_for(std::chrono::seconds(120)) != std::future_status::ready) {
            ADD_FAILURE() << "a random session (seed " << seed << ") hung: " << g_sync->Describe() << " earliest wake "
                          << g_clock->EarliestWakeTime() << " rate " << g_clock->GetRate();
            std::_Exit(1);  // the hung threads cannot be joined
        }
        session.get();
        g_sync.reset();
        g_clock.reset();
    }
}
