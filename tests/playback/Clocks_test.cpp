#include "playback/Clocks.h"

#include <cmath>
#include <future>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "PlaybackTestSupport.h"

using playbacktest::Eventually;
using playbacktest::SimTicks;

TEST(Clock, CountsForwardAcrossTheTickWrap) {
    SimTicks ticks;
    ticks.now = 0xFFFFFF00u;
    utils::Clock clock(ticks.Source());
    const int64_t start = clock.GetTime();
    EXPECT_EQ(start, int64_t(0xFFFFFF00u));
    ticks.Advance(0x80);
    EXPECT_EQ(clock.GetTime(), start + 0x80);
    ticks.Advance(0x100);  // wraps to 0x80
    EXPECT_EQ(ticks.now.load(), 0x80u);
    EXPECT_EQ(clock.GetTime(), start + 0x180);
    EXPECT_EQ(clock.GetTime(), start + 0x180);  // a fold is not counted twice
    ticks.Advance(20);
    EXPECT_EQ(clock.GetTime(), start + 0x194);
}

TEST(Clock, RatesAreClampedAndApplyFromTheCallWithoutAJump) {
    struct Case {
        double rate;
        double stored;
        int64_t advanceOf1000;
    };
    const Case cases[] = {
        {0.0, 0.001, 1},
        {-1.0, 0.001, 1},
        {std::numeric_limits<double>::quiet_NaN(), 0.001, 1},
        {0.5, 0.5, 500},
        {5000.0, 1000.0, 1000000},
        {1000.0, 1000.0, 1000000},
        {2.0, 2.0, 2000},
    };
    for (const auto& c : cases) {
        SimTicks ticks;
        utils::Clock clock(ticks.Source());
        ticks.Advance(300);
        const int64_t before = clock.GetTime();
        clock.SetRate(c.rate);
        EXPECT_EQ(clock.GetRate(), c.stored) << c.rate;
        EXPECT_EQ(clock.GetTime(), before) << c.rate;
        ticks.Advance(1000);
        EXPECT_EQ(clock.GetTime(), before + c.advanceOf1000) << c.rate;
    }
}

TEST(ExternalClock, FollowsReportsAndFoldsAtEveryModeChange) {
    enum Op { Advance, Report, Internal, Rate };
    struct Step {
        Op op;
        int64_t arg;
        int64_t expect;
    };
    const Step steps[] = {
        {Advance, 30, 30},    // internal: the inner clock's pace
        {Report, 0, 30},      // external from here: stands still
        {Advance, 50, 30},
        {Report, 40, 70},
        {Report, 100, 130},
        {Advance, 500, 130},
        {Internal, 0, 130},   // internal again: continues from there
        {Advance, 20, 150},
        {Report, 500, 150},
        {Report, 450, 100},   // a lower report moves time backwards
        {Rate, 2, 100},       // a rate change returns to internal mode
        {Advance, 10, 120},
    };
    SimTicks ticks;
    utils::ExternalClock clock(ticks.Source());
    EXPECT_EQ(clock.GetTime(), 0);
    int n = 0;
    for (const auto& s : steps) {
        switch (s.op) {
        case Advance: ticks.Advance(uint32_t(s.arg)); break;
        case Report: clock.SetExternalTime(s.arg); break;
        case Internal: clock.UseInternalTime(); break;
        case Rate: clock.SetRate(double(s.arg)); break;
        }
        EXPECT_EQ(clock.GetTime(), s.expect) << "step " << n;
        ++n;
    }
    EXPECT_EQ(clock.GetRate(), 2.0);
}

namespace {

struct SimWaitable {
    SimTicks ticks;
    std::shared_ptr<utils::Clock> inner = std::make_shared<utils::Clock>(ticks.Source());
    std::unique_ptr<utils::WaitableClock> clock = std::make_unique<utils::WaitableClock>(inner);

    void AdvanceTo(int64_t t) {
        while (clock->GetTime() < t) ticks.Advance(1);
        clock->Poke();
    }
};

}  // namespace

TEST(WaitableClock, ReturnsAtOnceWhenReachedOrDisabled) {
    SimWaitable w;
    const int64_t now = w.clock->GetTime();
    w.clock->WaitUntil(now + 1000);  // waiting starts disabled
    w.clock->SetWaitingEnabled(true);
    w.clock->WaitUntil(now);
    w.clock->WaitUntil(now - 5);
    EXPECT_EQ(w.clock->WaiterCount(), 0u);
}

TEST(WaitableClock, EqualWakeTimesWakeInOnePassInArrivalOrder) {
    SimWaitable w;
    w.clock->SetWaitingEnabled(true);
    const int64_t now = w.clock->GetTime();
    std::mutex lock;
    std::vector<std::thread::id> woken;
    w.clock->SetWakeObserver([&](std::thread::id id) {
        std::lock_guard<std::mutex> g(lock);
        woken.push_back(id);
    });
    const int64_t wakeTimes[] = {now + 10, now + 10, now + 5, now + 10};
    std::vector<std::thread> threads;
    std::vector<std::thread::id> ids;
    for (int64_t t : wakeTimes) {
        const size_t before = w.clock->WaiterCount();
        threads.emplace_back([&w, t] { w.clock->WaitUntil(t); });
        ids.push_back(threads.back().get_id());
        ASSERT_TRUE(Eventually([&] { return w.clock->WaiterCount() == before + 1; }));
    }
    EXPECT_EQ(w.clock->EarliestWakeTime(), now + 5);

    w.AdvanceTo(now + 5);
    ASSERT_TRUE(Eventually([&] { return w.clock->WaiterCount() == 3; }));
    const uint64_t passes = w.clock->TimerPasses();
    w.ticks.Advance(5);
    {
        // One look at the clock wakes all three.
        w.clock->Poke();
        ASSERT_TRUE(Eventually([&] { return w.clock->WaiterCount() == 0; }));
    }
    for (auto& t : threads) t.join();
    EXPECT_GE(w.clock->TimerPasses(), passes + 1);
    std::lock_guard<std::mutex> g(lock);
    const std::vector<std::thread::id> expected{ids[2], ids[0], ids[1], ids[3]};
    EXPECT_EQ(woken, expected);
}

TEST(WaitableClock, DisablingAndDestroyingWakeEverySleeper) {
    for (bool destroy : {false, true}) {
        SimWaitable w;
        w.clock->SetWaitingEnabled(true);
        const int64_t now = w.clock->GetTime();
        std::vector<std::future<void>> sleepers;
        utils::WaitableClock* clock = w.clock.get();
        for (int k = 0; k < 3; ++k) {
            sleepers.push_back(std::async(std::launch::async, [clock, now, k] { clock->WaitUntil(now + 1000000 * (k + 1)); }));
        }
        ASSERT_TRUE(Eventually([&] { return w.clock->WaiterCount() == 3; }));
        if (destroy) w.clock.reset();
        else w.clock->SetWaitingEnabled(false);
        for (auto& s : sleepers)
            ASSERT_EQ(s.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "destroy " << destroy;
        if (!destroy) {
            w.clock->WaitUntil(now + 5);  // disabled: returns at once
            EXPECT_EQ(w.clock->WaiterCount(), 0u);
        }
    }
}

TEST(WaitableClock, FollowsTheInnerClockAtItsRate) {
    SimWaitable w;
    w.clock->SetWaitingEnabled(true);
    w.clock->SetRate(4.0);
    EXPECT_EQ(w.inner->GetRate(), 4.0);
    EXPECT_EQ(w.clock->GetRate(), 4.0);
    const int64_t now = w.clock->GetTime();
    auto sleeper = std::async(std::launch::async, [&] { w.clock->WaitUntil(now + 400); });
    ASSERT_TRUE(Eventually([&] { return w.clock->WaiterCount() == 1; }));
    w.ticks.Advance(99);  // 396 ms of clock time
    w.clock->Poke();
    EXPECT_EQ(sleeper.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    w.ticks.Advance(1);
    w.clock->Poke();
    ASSERT_EQ(sleeper.wait_for(std::chrono::seconds(20)), std::future_status::ready);
}

TEST(WaitableClock, WakesOnTimeOnTheMonotonicClock) {
    // A real clock: the timer thread's own sleeps wake the waiter.
    utils::WaitableClock clock;
    clock.SetWaitingEnabled(true);
    const int64_t start = clock.GetTime();
    clock.WaitUntil(start + 30);
    EXPECT_GE(clock.GetTime(), start + 30);
}
