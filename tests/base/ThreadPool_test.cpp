#include "base/ThreadPool.h"

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// A gate that jobs wait on until the test opens it.
struct Gate {
    std::promise<void> promise;
    std::shared_future<void> future = promise.get_future().share();
    void Open() { promise.set_value(); }
};

TEST(ThreadPool, PostBlocksWhileEveryWorkerIsBusy) {
    thread_pool pool(3);
    EXPECT_EQ(pool.size(), 3u);
    Gate gate;
    std::atomic<int> started{0}, done{0};
    for (int i = 0; i < 3; ++i)
        pool.post([&, f = gate.future] {
            ++started;
            f.wait();
            ++done;
        });
    auto fourth = std::async(std::launch::async, [&] { pool.post([&] { ++done; }); });
    EXPECT_EQ(fourth.wait_for(50ms), std::future_status::timeout);  // all three workers busy
    gate.Open();
    EXPECT_EQ(fourth.wait_for(10s), std::future_status::ready);
    fourth.get();
    pool.wait();
    EXPECT_EQ(started.load(), 3);
    EXPECT_EQ(done.load(), 4);
}

TEST(ThreadPool, WaitReturnsWhenAllJobsRan) {
    thread_pool pool(2);
    pool.wait();  // idle: at once
    std::atomic<int> done{0};
    for (int i = 0; i < 20; ++i)
        pool.post([&] {
            std::this_thread::sleep_for(1ms);
            ++done;
        });
    pool.wait();
    EXPECT_EQ(done.load(), 20);
}

TEST(ThreadPool, FailingJobsStillFreeTheirWorker) {
    thread_pool pool(1);
    pool.post([] { throw std::runtime_error("job failed"); });
    pool.post([] { throw 42; });
    pool.post(thread_pool::job{});  // empty job
    std::atomic<bool> ran{false};
    pool.post([&] { ran = true; });
    pool.wait();
    EXPECT_TRUE(ran.load());
}

TEST(ThreadPool, DestructionLetsRunningJobsFinishAndRunsStopFunctions) {
    std::atomic<int> starts{0}, stops{0}, ran{0};
    Gate gate;
    std::promise<void> running;
    std::thread opener;
    {
        thread_pool pool(2, [&] { ++starts; }, [&] { ++stops; });
        pool.post([&, f = gate.future] {
            running.set_value();
            f.wait();
            ++ran;
        });
        running.get_future().wait();
        // Opened while the destructor below is already waiting for the job.
        opener = std::thread([&] {
            std::this_thread::sleep_for(20ms);
            gate.Open();
        });
    }
    opener.join();
    EXPECT_EQ(ran.load(), 1);
    EXPECT_EQ(starts.load(), 2);
    EXPECT_EQ(stops.load(), 2);

    // An idle pool ends at once after its workers' stop functions.
    std::atomic<int> idleStops{0};
    { thread_pool idle(3, {}, [&] { ++idleStops; }); }
    EXPECT_EQ(idleStops.load(), 3);
}

// A post still waiting for a worker when the pool stops returns and its job
// never runs.
TEST(ThreadPool, PostWaitingAtStopIsDropped) {
    std::atomic<int> ran{0};
    Gate gate;
    auto pool = std::make_unique<thread_pool>(1);
    std::promise<void> running;
    pool->post([&, f = gate.future] {
        running.set_value();
        f.wait();
    });
    running.get_future().wait();
    // The only worker is busy: a second post would block, so post from a
    // helper thread and let the destructor release it.
    auto blocked = std::async(std::launch::async, [&] { pool->post([&] { ++ran; }); });
    EXPECT_EQ(blocked.wait_for(20ms), std::future_status::timeout);
    auto destroyer = std::async(std::launch::async, [&] { pool.reset(); });
    EXPECT_EQ(blocked.wait_for(10s), std::future_status::ready);  // the stop releases the post
    gate.Open();
    destroyer.get();
    EXPECT_EQ(ran.load(), 0);
}

}  // namespace
