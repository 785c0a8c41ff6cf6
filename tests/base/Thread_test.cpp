#include "base/Thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "base/Log.h"
#include "platform/RegistryStore.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

// Waits up to a generous limit for a condition another thread makes true.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::string ThreadComm(std::uint32_t tid) {
    std::ifstream f("/proc/self/task/" + std::to_string(tid) + "/comm");
    std::string s;
    std::getline(f, s);
    return s;
}

// A worker whose passes are scripted by the test.
class Worker : public Thread {
public:
    ~Worker() override { Stop(); }
    bool Run() override {
        int n = ++runs;
        if (onRun) return onRun(n);
        std::this_thread::sleep_for(1ms);
        return true;
    }
    void AfterRun() override { ++afterRuns; }
    void OnStart() override {
        startedOn = CurrentThreadId();
        ++starts;
    }
    void OnStop() override { ++stops; }

    std::function<bool(int)> onRun;
    std::atomic<int> runs{0}, afterRuns{0}, starts{0}, stops{0};
    std::atomic<std::uint32_t> startedOn{0};
};

TEST(Thread, StopWithoutAThreadReturnsFalse) {
    Worker w;
    EXPECT_FALSE(w.Stop());
    EXPECT_FALSE(w.Stop(true));
    EXPECT_EQ(w.Resume(), -1);
    EXPECT_FALSE(w.SetPriority(Thread::PriorityAboveNormal));
    EXPECT_FALSE(w.IsRunning());
    EXPECT_STREQ(w.GetName(), "class Thread");
}

TEST(Thread, StartsSuspendedUntilResumed) {
    Worker w;
    ASSERT_TRUE(w.Start(Thread::kCreateSuspended, 0, "SuspendedWorkerWithALongName"));
    EXPECT_TRUE(w.IsRunning());
    EXPECT_NE(w.GetThreadId(), 0u);
    std::this_thread::sleep_for(20ms);  // held at the gate: nothing may run meanwhile
    EXPECT_EQ(w.starts.load(), 0);
    EXPECT_EQ(w.Resume(), 1);
    EXPECT_EQ(w.Resume(), 0);
    ASSERT_TRUE(WaitUntil([&] { return w.runs.load() > 2; }));
    EXPECT_EQ(w.startedOn.load(), w.GetThreadId());
    EXPECT_EQ(ThreadComm(w.GetThreadId()), "SuspendedWorker");  // cut to 15 bytes
    EXPECT_STREQ(w.GetName(), "SuspendedWorkerWithALongName");
    EXPECT_TRUE(w.SetPriority(Thread::PriorityBelowNormal));
    EXPECT_TRUE(w.SetPriority(Thread::PriorityTimeCritical));  // best effort
    EXPECT_FALSE(w.Start());  // one thread per object
    EXPECT_TRUE(w.Stop());
    EXPECT_FALSE(w.IsRunning());
    EXPECT_EQ(w.starts.load(), 1);
    EXPECT_EQ(w.stops.load(), 1);
    EXPECT_EQ(w.afterRuns.load(), w.runs.load());
}

TEST(Thread, StoppingASuspendedThreadSkipsRun) {
    Worker w;
    ASSERT_TRUE(w.Start(Thread::kCreateSuspended));
    EXPECT_TRUE(w.Stop());
    EXPECT_EQ(w.starts.load(), 1);
    EXPECT_EQ(w.runs.load(), 0);
    EXPECT_EQ(w.stops.load(), 1);
    EXPECT_FALSE(w.Stop());
}

TEST(Thread, EndsByItselfAndCanStartAgain) {
    Worker w;
    w.onRun = [](int n) { return n < 3; };
    ASSERT_TRUE(w.Start(0, 65536, "ShortLived"));
    ASSERT_TRUE(WaitUntil([&] { return !w.IsRunning(); }));
    EXPECT_EQ(w.runs.load(), 3);
    EXPECT_EQ(w.afterRuns.load(), 2);
    EXPECT_EQ(w.stops.load(), 1);
    EXPECT_FALSE(w.Stop());

    w.runs = 0;
    ASSERT_TRUE(w.Start());
    ASSERT_TRUE(WaitUntil([&] { return !w.IsRunning(); }));
    EXPECT_EQ(w.runs.load(), 3);
    EXPECT_EQ(w.starts.load(), 2);
}

TEST(Thread, StopWaitsForThePassInProgress) {
    Worker w;
    std::promise<void> inRun;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    w.onRun = [&](int n) {
        if (n == 1) {
            inRun.set_value();
            released.wait();
        }
        return true;
    };
    ASSERT_TRUE(w.Start());
    inRun.get_future().wait();
    auto stopped = std::async(std::launch::async, [&] { return w.Stop(); });
    EXPECT_EQ(stopped.wait_for(50ms), std::future_status::timeout);
    // A second start neither creates a thread nor cancels the pending stop.
    EXPECT_FALSE(w.Start(0, 0, "Second"));
    EXPECT_STREQ(w.GetName(), "class Thread");
    release.set_value();
    EXPECT_TRUE(stopped.get());
    EXPECT_EQ(w.runs.load(), 1);       // the request is seen before the next pass
    EXPECT_EQ(w.afterRuns.load(), 1);  // the finished pass completes normally
    EXPECT_EQ(w.stops.load(), 1);
}

TEST(Thread, StopFromTheThreadItselfDoesNotWait) {
    Worker w;
    std::promise<bool> result;
    w.onRun = [&](int n) {
        if (n == 1) result.set_value(w.Stop());
        return true;
    };
    ASSERT_TRUE(w.Start());
    auto f = result.get_future();
    ASSERT_EQ(f.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(f.get());
    ASSERT_TRUE(WaitUntil([&] { return !w.IsRunning(); }));
    EXPECT_EQ(w.runs.load(), 1);
    EXPECT_EQ(w.stops.load(), 1);
}

// Deletes itself on its own thread when it ends.
class SelfDeleting : public Thread {
public:
    SelfDeleting(std::promise<std::uint32_t>& deletedOn, std::atomic<int>& stops)
        : m_deletedOn(deletedOn), m_stops(stops) {
        SetAutoDelete(true);
    }
    ~SelfDeleting() override {
        Stop();  // on its own thread: must not wait for itself
        m_deletedOn.set_value(CurrentThreadId());
    }
    bool Run() override { return ++m_runs < 2; }
    void OnStop() override { ++m_stops; }

private:
    std::promise<std::uint32_t>& m_deletedOn;
    std::atomic<int>& m_stops;
    int m_runs = 0;
};

TEST(Thread, AutoDeleteDestroysTheObjectOnItsOwnThread) {
    std::promise<std::uint32_t> deletedOn;
    std::atomic<int> stops{0};
    auto* t = new SelfDeleting(deletedOn, stops);
    ASSERT_TRUE(t->Start());
    const std::uint32_t tid = t->GetThreadId();
    auto f = deletedOn.get_future();
    ASSERT_EQ(f.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(f.get(), tid);
    // The thread may still be inside set_value of the test's promise: it must
    // have left before the promise goes.
    EXPECT_TRUE(WaitUntil([&] { return ThreadComm(tid).empty(); }));
    EXPECT_EQ(stops.load(), 1);
}

TEST(Thread, ForcedStopAbandonsAThreadThatDoesNotEnd) {
    Thread::SetForcedStopPassesForTesting(20);  // 200 ms instead of 10 s
    const unsigned abandonedBefore = Thread::AbandonedExitsForTesting();
    std::promise<void> inRun;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    auto w = std::make_unique<Worker>();
    w->onRun = [&, released](int) {
        inRun.set_value();
        released.wait();  // stuck until the test lets it go
        return true;
    };
    ASSERT_TRUE(w->Start());
    inRun.get_future().wait();
    EXPECT_TRUE(w->Stop(true));
    EXPECT_FALSE(w->IsRunning());
    EXPECT_FALSE(w->Stop());
    EXPECT_EQ(w->stops.load(), 0);
    const int runsBefore = w->runs.load();
    // Once its pass returns, the abandoned thread leaves without touching the
    // object again: AfterRun, OnStop and further passes do not happen.
    release.set_value();
    ASSERT_TRUE(WaitUntil([&] { return Thread::AbandonedExitsForTesting() > abandonedBefore; }));
    EXPECT_EQ(w->runs.load(), runsBefore);
    EXPECT_EQ(w->afterRuns.load(), 0);
    EXPECT_EQ(w->stops.load(), 0);
    w.reset();
    Thread::SetForcedStopPassesForTesting(0);
}

// The abandonment is reported at error level through the process logger.
TEST(Thread, ForcedStopLogsTheAbandonedThread) {
    gavex_test::TempDir dir{"thread"};
    ::setenv("GAVEX_REGISTRY_DIR", dir.path().c_str(), 1);
    auto store = platform::RegistryStore::Current();
    store->SetValue(platform::RegistryScope::Machine, "SOFTWARE\\QOR\\Vindara\\Debug", "DebugOptions",
                    platform::RegistryValue::Number(0x10));  // debugger output only
    store->SetValue(platform::RegistryScope::Machine, "SOFTWARE\\QOR\\Vindara\\Debug", "DebugLevel",
                    platform::RegistryValue::Text("1"));
    QorLog::CDebug* log = getDefaultDebugInstance();
    if ((log->GetDebugOptions() & 0xF0) == 0 || log->GetLevel() < 1) {
        ::unsetenv("GAVEX_REGISTRY_DIR");
        GTEST_SKIP() << "the process logger was set up earlier in this process";
    }
    std::mutex linesLock;
    std::vector<std::string> lines;
    log->SetDebugOutputForTesting([&](const std::string& s) {
        std::lock_guard<std::mutex> lock(linesLock);
        lines.push_back(s);
    });

    Thread::SetForcedStopPassesForTesting(5);
    std::promise<void> inRun, release;
    std::shared_future<void> released = release.get_future().share();
    Worker w;
    w.onRun = [&, released](int n) {
        if (n == 1) {
            inRun.set_value();
            released.wait();
        }
        return true;
    };
    ASSERT_TRUE(w.Start());
    const std::uint32_t tid = w.GetThreadId();
    inRun.get_future().wait();
    EXPECT_TRUE(w.Stop(true));
    release.set_value();
    // The abandoned thread still runs the test's function and waits on the
    // test's promise: it must have left before they go.
    EXPECT_TRUE(WaitUntil([&] { return ThreadComm(tid).empty(); }));
    Thread::SetForcedStopPassesForTesting(0);
    log->SetDebugOutputForTesting(nullptr);
    ::unsetenv("GAVEX_REGISTRY_DIR");

    char expected[96];
    std::snprintf(expected, sizeof expected, "Abnormal thread (%04u) termination by thread %04u", tid, CurrentThreadId());
    int found = 0;
    for (const std::string& line : lines) found += line.find(expected) != std::string::npos;
    EXPECT_EQ(found, 1) << (lines.empty() ? std::string("no lines") : lines.back());
}

TEST(Thread, ForcedStopOfAWillingThreadIsAnOrdinaryStop) {
    Worker w;
    ASSERT_TRUE(w.Start());
    ASSERT_TRUE(WaitUntil([&] { return w.runs.load() > 0; }));
    const unsigned abandonedBefore = Thread::AbandonedExitsForTesting();
    EXPECT_TRUE(w.Stop(true));
    EXPECT_EQ(w.stops.load(), 1);
    EXPECT_EQ(Thread::AbandonedExitsForTesting(), abandonedBefore);
}

TEST(SetThreadName, NamesOtherThreadsAndCutsWholeCharacters) {
    Worker w;
    ASSERT_TRUE(w.Start());
    // Nine two-byte letters: the cut keeps seven (14 bytes) rather than split one.
    SetThreadName(w.GetThreadId(), "\xD0\x90\xD0\x91\xD0\x92\xD0\x93\xD0\x94\xD0\x95\xD0\x96\xD0\x97\xD0\x98");
    EXPECT_EQ(ThreadComm(w.GetThreadId()), "\xD0\x90\xD0\x91\xD0\x92\xD0\x93\xD0\x94\xD0\x95\xD0\x96");
    SetThreadName(w.GetThreadId(), "");  // nothing
    SetThreadName(0, "x");
    EXPECT_EQ(ThreadComm(w.GetThreadId()), "\xD0\x90\xD0\x91\xD0\x92\xD0\x93\xD0\x94\xD0\x95\xD0\x96");
    w.Stop();
}

}  // namespace
