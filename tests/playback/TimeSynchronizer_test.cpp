#include "playback/TimeSynchronizer.h"

#include <future>
#include <memory>

#include <gtest/gtest.h>

#include "PlaybackTestSupport.h"
#include "playback/Clocks.h"

using playbacktest::Eventually;
using playbacktest::SimTicks;

namespace {

class SynchronizerTest : public ::testing::Test {
protected:
    SimTicks ticks;
    std::shared_ptr<utils::Clock> inner = std::make_shared<utils::Clock>(ticks.Source());
    std::shared_ptr<utils::WaitableClock> clock = std::make_shared<utils::WaitableClock>(inner);
    filters::TimeSynchronizer sync{clock};

    void AdvanceTo(int64_t t) {
        while (clock->GetTime() < t) ticks.Advance(1);
        clock->Poke();
    }
    static bool Ready(std::future<void>& f) {
        return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }
    static bool Finishes(std::future<void>& f) {
        return f.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    }
    // The thread of the call is blocked in a turn wait or on the clock:
    // nothing changes for a while.
    static bool Blocked(std::future<void>& f) {
        return f.wait_for(std::chrono::milliseconds(30)) == std::future_status::timeout;
    }
};

}  // namespace

TEST_F(SynchronizerTest, SingleClientOnlySleepsUntilItsFrameIsDue) {
    const int c = sync.CreateClient();
    ASSERT_EQ(c, 0);
    const int64_t t0 = clock->GetTime();
    sync.Resume(c);
    auto f = std::async(std::launch::async, [&] { sync.WaitClientTime(c, 100, 140, false); });
    ASSERT_TRUE(Eventually([&] { return clock->WaiterCount() == 1; }));
    EXPECT_EQ(clock->EarliestWakeTime(), t0 + 100);
    AdvanceTo(t0 + 99);
    EXPECT_TRUE(Blocked(f));
    AdvanceTo(t0 + 100);
    ASSERT_TRUE(Finishes(f));
    EXPECT_EQ(sync.GetClientTime(c), 100);
}

TEST_F(SynchronizerTest, PauseResumeAndResetOfTheMasterMoveTheTimeLine) {
    const int a = sync.CreateClient();
    const int b = sync.CreateClient();
    sync.Reset(a, 5000);
    EXPECT_EQ(sync.GetStartPosition(), 5000);
    sync.Resume(a);
    sync.Resume(b);
    AdvanceTo(clock->GetTime() + 300);
    EXPECT_EQ(sync.GetClientTime(a), 300);

    // Another client's commands leave the time line alone.
    sync.Reset(b, 9000);
    sync.Pause(b);
    sync.Resume(b);
    EXPECT_EQ(sync.GetStartPosition(), 5000);
    EXPECT_EQ(sync.GetClientTime(a), 300);

    sync.Pause(a);
    sync.Pause(a);  // already paused: nothing changes
    AdvanceTo(clock->GetTime() + 10000);
    EXPECT_EQ(sync.GetClientTime(a), 300);
    sync.Resume(a);
    sync.Resume(a);
    EXPECT_EQ(sync.GetClientTime(a), 300);
    AdvanceTo(clock->GetTime() + 50);
    EXPECT_EQ(sync.GetClientTime(a), 350);
    EXPECT_EQ(sync.GetClientTime(b), 350);

    sync.Reset(a, 7000);
    EXPECT_EQ(sync.GetClientTime(a), 0);
    sync.Pause(a);
    sync.Reset(a, 8000);
    AdvanceTo(clock->GetTime() + 100);
    EXPECT_EQ(sync.GetClientTime(a), 0);  // paused: frozen at the new start
}

TEST_F(SynchronizerTest, PausingTheMasterEndsEveryPendingClockWait) {
    const int a = sync.CreateClient();
    const int b = sync.CreateClient();
    sync.Resume(a);
    sync.Resume(b);
    auto fa = std::async(std::launch::async, [&] { sync.SetClientTime(a, 1000, 1040, false); });
    auto fb = std::async(std::launch::async, [&] { sync.SetClientTime(b, 1000, 1033, false); });
    ASSERT_TRUE(Eventually([&] { return clock->WaiterCount() == 2; }));
    sync.Pause(a);
    EXPECT_TRUE(Finishes(fa));
    EXPECT_TRUE(Finishes(fb));
}

TEST_F(SynchronizerTest, LateFrameUnderOrderedPacingPullsPlayTimeBack) {
    const int c = sync.CreateClient();
    sync.Resume(c);
    AdvanceTo(clock->GetTime() + 500);
    sync.WaitClientTime(c, 200, 240, false);  // due already after the pull-back
    EXPECT_EQ(sync.GetClientTime(c), 200);
    AdvanceTo(clock->GetTime() + 30);
    EXPECT_EQ(sync.GetClientTime(c), 230);
    AdvanceTo(clock->GetTime() + 30);
    EXPECT_EQ(sync.GetClientTime(c), 240);  // limited by the next frame
}

TEST_F(SynchronizerTest, OrderedPlayTimeIsZeroWhileAClientHasNotReported) {
    const int a = sync.CreateClient();
    const int b = sync.CreateClient();
    sync.Resume(a);
    sync.Resume(b);
    AdvanceTo(clock->GetTime() + 100);
    // b has not reported (current and next 0): a waits for b's turn.
    auto fa = std::async(std::launch::async, [&] { sync.WaitClientTime(a, 40, 80, false); });
    EXPECT_TRUE(Blocked(fa));
    EXPECT_EQ(sync.GetClientTime(a), 0);
    // A finished client no longer holds the others back.
    sync.SetClientFinished(b);
    ASSERT_TRUE(Finishes(fa));  // late: presented at once, play time pulled back
    EXPECT_EQ(sync.GetClientTime(a), 40);
}

TEST_F(SynchronizerTest, OrderedClientsPresentInTheOrderOfTheirTimes) {
    const int a = sync.CreateClient();
    const int b = sync.CreateClient();
    sync.Resume(a);
    sync.Resume(b);
    const int64_t base = clock->GetTime();
    // b reports first but its frame is later: it waits for a's turn.
    auto fb = std::async(std::launch::async, [&] { sync.WaitClientTime(b, 60, 100, false); });
    auto fa1 = std::async(std::launch::async, [&] {
        // a reports while b sleeps for its turn: a is the earliest and goes.
        sync.WaitClientTime(a, 40, 80, false);
    });
    ASSERT_TRUE(Eventually([&] { return clock->WaiterCount() == 1; }));
    EXPECT_EQ(clock->EarliestWakeTime(), base + 40);
    EXPECT_FALSE(Ready(fb));
    AdvanceTo(base + 40);
    ASSERT_TRUE(Finishes(fa1));
    // a's next frame (80) is after b's: a wakes b and waits its own turn.
    auto fa2 = std::async(std::launch::async, [&] { sync.WaitClientTime(a, 80, 120, false); });
    ASSERT_TRUE(Eventually([&] { return clock->WaiterCount() == 1 && clock->EarliestWakeTime() == base + 60; }));
    AdvanceTo(base + 60);
    ASSERT_TRUE(Finishes(fb));
    EXPECT_TRUE(Blocked(fa2));
    // b finishes without reporting again: a must not wait for it.
    sync.SetClientFinished(b);
    ASSERT_TRUE(Eventually([&] { return clock->WaiterCount() == 1 && clock->EarliestWakeTime() == base + 80; }));
    AdvanceTo(base + 80);
    ASSERT_TRUE(Finishes(fa2));
}

TEST_F(SynchronizerTest, PausedOrFinishedClientsNeverWaitForTheirTurn) {
    const int a = sync.CreateClient();
    const int b = sync.CreateClient();
    sync.Resume(a);
    sync.Resume(b);
    const int64_t base = clock->GetTime();
    // b is the earliest (next 0 after resuming), so a waits for its turn...
    auto fa = std::async(std::launch::async, [&] { sync.WaitClientTime(a, 40, 80, false); });
    EXPECT_TRUE(Blocked(fa));
    // ...until it is paused itself.
    sync.Pause(a);
    ASSERT_TRUE(Finishes(fa));
    // A paused client reports without waiting (and its clock wait returns
    // at once: pausing the master disabled waiting).
    sync.WaitClientTime(a, 50, 90, false);
    // A finished client does not wait for its turn either: it goes
    // straight to the clock although a (current 0) is earlier.
    sync.Resume(a);
    auto fb = std::async(std::launch::async, [&] { sync.WaitClientTime(b, 100, 100, true); });
    ASSERT_TRUE(Eventually([&] { return clock->WaiterCount() == 1; }));
    EXPECT_EQ(clock->EarliestWakeTime(), base + 100);
    sync.Pause(a);
    ASSERT_TRUE(Finishes(fb));
}

TEST_F(SynchronizerTest, FastPlayHoldsBackTheClientAheadOfALaggingOne) {
    const int a = sync.CreateClient();
    const int b = sync.CreateClient();
    sync.Resume(a);
    sync.Resume(b);
    const int64_t base = clock->GetTime();
    AdvanceTo(base + 200);
    // a sets the reference time to 200 and sleeps until its frame at 240.
    auto fa = std::async(std::launch::async, [&] { sync.SetClientTime(a, 240, 280, false); });
    ASSERT_TRUE(Eventually([&] { return clock->WaiterCount() == 1; }));
    EXPECT_EQ(sync.GetReferenceTime(), 200);
    // b's next frame (100) lies behind the reference time: the next
    // reporter whose next time is ahead holds until b catches up.
    sync.SetClientTime(b, 60, 100, false);  // late: returns at once
    AdvanceTo(base + 240);
    ASSERT_TRUE(Finishes(fa));
    auto fa2 = std::async(std::launch::async, [&] { sync.SetClientTime(a, 280, 320, false); });
    EXPECT_TRUE(Blocked(fa2));
    EXPECT_EQ(clock->WaiterCount(), 0u);
    // b reports past the reference time: a is released.
    auto fb = std::async(std::launch::async, [&] { sync.SetClientTime(b, 260, 300, false); });
    ASSERT_TRUE(Eventually([&] { return clock->WaiterCount() == 2; }));
    EXPECT_EQ(sync.GetReferenceTime(), 240);
    AdvanceTo(base + 280);
    ASSERT_TRUE(Finishes(fb));
    ASSERT_TRUE(Finishes(fa2));
}

TEST_F(SynchronizerTest, FastPlayWaitersLookAgainWhenTimesChange) {
    const int x = sync.CreateClient();
    const int y = sync.CreateClient();
    const int z = sync.CreateClient();
    for (int c : {x, y, z}) sync.Resume(c);
    const int64_t base = clock->GetTime();
    // Every client has shown a frame whose next one is at 17.
    for (int c : {x, y, z}) sync.SetClientTime(c, 0, 17, false);

    // x waits for y (17 < 50), y for z (17 < 60)...
    auto fx = std::async(std::launch::async, [&] { sync.SetClientTime(x, 50, 90, false); });
    EXPECT_TRUE(Blocked(fx));
    auto fy = std::async(std::launch::async, [&] { sync.SetClientTime(y, 60, 80, false); });
    EXPECT_TRUE(Blocked(fy));
    // ...and z's report (it waits for x: 90 < 100) ends both reasons: x and
    // y go on to the clock instead of all three waiting for each other.
    auto fz = std::async(std::launch::async, [&] { sync.SetClientTime(z, 100, 120, false); });
    ASSERT_TRUE(Eventually([&] { return clock->WaiterCount() == 2; }));
    EXPECT_EQ(clock->EarliestWakeTime(), base + 50);
    AdvanceTo(base + 60);
    ASSERT_TRUE(Finishes(fx));
    ASSERT_TRUE(Finishes(fy));
    EXPECT_TRUE(Blocked(fz));
    // x moves past z's frame: z goes.
    sync.SetClientFinished(y);
    auto fx2 = std::async(std::launch::async, [&] { sync.SetClientTime(x, 90, 130, false); });
    ASSERT_TRUE(Eventually([&] { return clock->WaiterCount() == 2; }));
    AdvanceTo(base + 100);
    ASSERT_TRUE(Finishes(fx2));
    ASSERT_TRUE(Finishes(fz));
}

TEST_F(SynchronizerTest, OrderedClientsTiedForTheirTurnAllGoOnTheLastReport) {
    const int a = sync.CreateClient();
    const int b = sync.CreateClient();
    const int c = sync.CreateClient();
    for (int x : {a, b, c}) sync.Resume(x);
    const int64_t base = clock->GetTime();
    // a and b report frame 40 while c (current 0) has not: they wait.
    auto fa = std::async(std::launch::async, [&] { sync.WaitClientTime(a, 40, 80, false); });
    auto fb = std::async(std::launch::async, [&] { sync.WaitClientTime(b, 40, 80, false); });
    EXPECT_TRUE(Blocked(fa));
    EXPECT_TRUE(Blocked(fb));
    EXPECT_EQ(clock->WaiterCount(), 0u);
    // c's report of the same time sends all three to the clock at once, not
    // one more with each later report.
    auto fc = std::async(std::launch::async, [&] { sync.WaitClientTime(c, 40, 80, false); });
    ASSERT_TRUE(Eventually([&] { return clock->WaiterCount() == 3; })) << sync.Describe();
    EXPECT_EQ(clock->EarliestWakeTime(), base + 40);
    AdvanceTo(base + 40);
    ASSERT_TRUE(Finishes(fa));
    ASSERT_TRUE(Finishes(fb));
    ASSERT_TRUE(Finishes(fc));
}

TEST_F(SynchronizerTest, OnlyTheFirstFrameOfARunSetsTheTimeLineBack) {
    const int c = sync.CreateClient();
    sync.Resume(c);
    // The run's first frame past its start comes 300 ms late: the time line
    // starts at it.
    AdvanceTo(clock->GetTime() + 500);
    EXPECT_FALSE(sync.IsAnchored());
    sync.WaitClientTime(c, 200, 240, false);
    EXPECT_TRUE(sync.IsAnchored());
    EXPECT_EQ(sync.GetPlayTime(c), 200);
    // A later late frame is presented at once and the time line stays with
    // the clock (the pin catches up by skipping).
    AdvanceTo(clock->GetTime() + 300);
    sync.WaitClientTime(c, 240, 280, false);
    EXPECT_EQ(sync.GetPlayTime(c), 500);
    AdvanceTo(clock->GetTime() + 20);
    EXPECT_EQ(sync.GetPlayTime(c), 520);
    // Pause and resume start a new run: its first frame may set the time
    // line back again.
    sync.Pause(c);
    sync.Resume(c);
    EXPECT_FALSE(sync.IsAnchored());
    AdvanceTo(clock->GetTime() + 100);
    sync.WaitClientTime(c, 560, 600, false);
    EXPECT_EQ(sync.GetPlayTime(c), 560);
}

TEST_F(SynchronizerTest, AClientFarBehindTheClockHoldsNobodyBack) {
    const int a = sync.CreateClient();
    const int b = sync.CreateClient();
    sync.Resume(a);
    sync.Resume(b);
    const int64_t base = clock->GetTime();
    auto fa = std::async(std::launch::async, [&] { sync.WaitClientTime(a, 40, 80, false); });
    auto fb = std::async(std::launch::async, [&] { sync.WaitClientTime(b, 40, 80, false); });
    ASSERT_TRUE(Eventually([&] { return clock->WaiterCount() == 2; }));
    AdvanceTo(base + 40);
    ASSERT_TRUE(Finishes(fa));
    ASSERT_TRUE(Finishes(fb));
    // b does not report its next frame. While it is less than a frame period
    // behind the clock, a waits for its turn...
    AdvanceTo(base + 60);
    auto fa2 = std::async(std::launch::async, [&] { sync.WaitClientTime(a, 80, 120, false); });
    EXPECT_TRUE(Blocked(fa2));
    // ...once it is further behind, a keeps to the clock without it.
    AdvanceTo(base + 81);
    ASSERT_TRUE(Finishes(fa2)) << sync.Describe();
    EXPECT_EQ(sync.GetPlayTime(a), 81);
}
