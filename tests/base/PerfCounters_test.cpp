// Event-rate counters over a clock the test drives.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include <boost/intrusive_ptr.hpp>

#include "base/Messages.h"
#include "base/PerfCounters.h"
#include "base/VideoFrame.h"

using namespace QorStatistics;

namespace {

constexpr uint64_t kSecond = 1000000000ull; // clock ticks (ns)

std::atomic<uint64_t> g_now{0};
std::atomic<uint64_t> g_stepPerRead{0};
std::atomic<bool> g_clockFails{false};

bool TestClock(uint64_t& value)
{
    if (g_clockFails.load())
        return false;
    value = g_now.fetch_add(g_stepPerRead.load());
    return true;
}

class PerfCountersTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_now = 5 * kSecond;
        g_stepPerRead = 0;
        g_clockFails = false;
        SetPerformanceClockForTesting(&TestClock);
    }
    void TearDown() override { SetPerformanceClockForTesting(nullptr); }

    static void At(double seconds) { g_now = 5 * kSecond + static_cast<uint64_t>(seconds * 1e9); }
};

boost::intrusive_ptr<Msg> NewMsg()
{
    // The message's creation reference is handed to the pointer.
    return boost::intrusive_ptr<Msg>(new React(), false);
}

} // namespace

TEST_F(PerfCountersTest, FirstSecondGivesThePlainRate)
{
    CPerformanceCounter counter(0.8);
    EXPECT_EQ(counter.GetLastUpdate(), 5 * kSecond);
    for (int i = 0; i < 24; ++i) {
        At(i * 0.04);
        counter.Add(1);
    }
    // Exactly the interval is not more than the interval: still pending.
    At(1.0);
    counter.Add(0);
    EXPECT_EQ(counter.GetRate(), 0.0);
    EXPECT_EQ(counter.GetPending(), 24);

    At(1.25);
    counter.Add(1);
    EXPECT_NEAR(counter.GetRate(), 25 / 1.25, 1e-9);
    EXPECT_EQ(counter.GetPending(), 0);
    EXPECT_EQ(counter.GetTotal(), 25);

    boost::intrusive_ptr<Msg> msg = NewMsg();
    counter.FillStatistics(msg);
    EXPECT_EQ(msg->GetParam("value"), "20");
    EXPECT_EQ(msg->GetRefCount(), 1); // the call's copy of the pointer is gone
}

TEST_F(PerfCountersTest, NewerIntervalsWeighLessAsTheTotalGrows)
{
    CPerformanceCounter counter(0.8);
    counter.Add(1000);
    counter.Update(5 * kSecond + kSecond);
    EXPECT_DOUBLE_EQ(counter.GetRate(), 1000.0);

    At(1.5); // within the interval: Add only counts
    counter.Add(500);
    counter.Update(5 * kSecond + 2 * kSecond);
    const double w = 0.8 + 0.2 / 1000;
    EXPECT_DOUBLE_EQ(counter.GetRate(), 500 * w + (1 - w) * 1000.0);
    EXPECT_EQ(counter.GetTotal(), 1500);

    // Nothing added: the rate decays by the same rule.
    At(3.5);
    counter.RefreshIfDue();
    const double w2 = 0.8 + 0.2 / 1500;
    EXPECT_DOUBLE_EQ(counter.GetRate(), (1 - w2) * (500 * w + (1 - w) * 1000.0));

    // An update at the clock value of the last one cannot take a rate.
    const double before = counter.GetRate();
    At(3.6);
    counter.Add(7);
    counter.Update(counter.GetLastUpdate());
    EXPECT_EQ(counter.GetRate(), before);
    EXPECT_EQ(counter.GetPending(), 7);
}

TEST_F(PerfCountersTest, AnUnreadableClockOnlyCounts)
{
    CPerformanceCounter counter(0.8);
    g_clockFails = true;
    At(10);
    counter.Add(3);
    counter.RefreshIfDue();
    EXPECT_EQ(counter.GetPending(), 3);
    EXPECT_EQ(counter.GetRate(), 0.0);
    g_clockFails = false;
    counter.Add(1);
    EXPECT_EQ(counter.GetTotal(), 4);
}

TEST_F(PerfCountersTest, FramesCounterStartsCountingAtTheFirstFill)
{
    CPerformanceFramesCounter counter;
    EXPECT_EQ(counter.GetFrameCount(), -1);
    EXPECT_EQ(counter.Frames().GetSmoothing(), 0.8);
    EXPECT_EQ(counter.Bytes().GetSmoothing(), 0.8);

    VideoFrame frame;
    frame.m_cbData = 1000;
    counter.AddFrame(&frame);
    counter.AddFrame(nullptr); // a frame of 0 bytes
    EXPECT_EQ(counter.GetFrameCount(), -1);
    EXPECT_EQ(counter.Frames().GetPending(), 2);
    EXPECT_EQ(counter.Bytes().GetPending(), 1000);

    boost::intrusive_ptr<Msg> first = NewMsg();
    counter.FillStatistics(first);
    EXPECT_EQ(first->GetParam("count"), "-1");
    EXPECT_EQ(first->GetParam("fps"), "0");
    EXPECT_EQ(counter.GetFrameCount(), 0);

    At(2);
    frame.m_cbData = 3000;
    counter.AddFrame(&frame); // updates both counters: 3 frames, 4000 bytes in 2 s
    counter.AddFrame(&frame);
    counter.CountFrame();     // counted by its owner without the rate counters
    boost::intrusive_ptr<Msg> second = NewMsg();
    counter.FillStatistics(second);
    EXPECT_EQ(second->GetParam("count"), "3");
    EXPECT_EQ(second->GetParam("fps"), "1.5");
    EXPECT_EQ(second->GetParam("bps"), "2000");
    EXPECT_EQ(counter.GetFrameCount(), 0);
}

TEST_F(PerfCountersTest, RacingAddersNeverCountAnEventTwice)
{
    // Every clock read moves the clock on by 1 ms: updates happen often and
    // concurrently.
    g_stepPerRead = kSecond / 1000;
    CPerformanceCounter counter(0.8);
    constexpr int kThreads = 4;
    constexpr int kAdds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&counter] {
            for (int i = 0; i < kAdds; ++i)
                counter.Add(1);
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(counter.GetTotal() + counter.GetPending(), kThreads * kAdds);
    EXPECT_GT(counter.GetTotal(), 0);
    EXPECT_TRUE(std::isfinite(counter.GetRate()));
}

TEST_F(PerfCountersTest, CountersByNameAreOwnedByTheirCallers)
{
    auto first = GetFramesCounter("[][IN]");
    auto second = GetFramesCounter("[][IN]");
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second); // every call makes a new counter
    EXPECT_EQ(FindFramesCounter("[][IN]"), second);
    EXPECT_EQ(FindFramesCounter("[][OUT]"), nullptr);
    EXPECT_EQ(second->GetFrameCount(), -1);
    second.reset();
    EXPECT_EQ(FindFramesCounter("[][IN]"), nullptr); // the map does not keep it alive
    EXPECT_EQ(first.use_count(), 1);
}
