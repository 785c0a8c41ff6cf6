// The engine's poll thread and the test delay.

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "archive/fs/FileSystem.h"
#include "archive/fs/PollThread.h"

namespace {

TEST(PollTimeoutThread, RunsRepeatedlyAndStopsDuringItsPause) {
    enginetest::RunOrAbort("poll thread", [] {
        std::atomic<int> runs{0};
        enginetest::Latch third;
        auto thread = std::make_unique<ThreadRoutines::PollTimeoutThread>();
        EXPECT_EQ(thread->GetPeriod(), 5000000);
        EXPECT_FALSE(thread->IsRunning());
        thread->SetPeriod(1000);
        thread->Start([&] {
            if (++runs == 3) third.Set();
        });
        EXPECT_TRUE(thread->IsRunning());
        ASSERT_TRUE(third.Wait());

        // A second start does not replace the running function.
        std::atomic<bool> other{false};
        thread->Start([&] { other = true; });

        // A pause of an hour: destruction must interrupt it.
        thread->SetPeriod(3600LL * 1000000);
        const int before = runs;
        thread.reset();
        EXPECT_FALSE(other);
        EXPECT_GE(runs, before);
    });
}

TEST(PollTimeoutThread, NegativePeriodMeansNoPause) {
    enginetest::RunOrAbort("poll thread without pause", [] {
        enginetest::Latch many;
        std::atomic<int> runs{0};
        ThreadRoutines::PollTimeoutThread thread(-5);
        thread.Start([&] {
            if (++runs == 100) many.Set();
        });
        ASSERT_TRUE(many.Wait());
    });
}

TEST(TestDelay, StretchesTheBlockToItsLength) {
    const auto start = std::chrono::steady_clock::now();
    { TestDelay delay(1); }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(990));

    // Work that took longer than the delay is not stretched further: the
    // destructor then only logs.
    { TestDelay none(0); }
}

TEST(FileSystemPoll, EngineDestructionEndsItsPollThread) {
    enginetest::WriteMachineRegistry("");
    enginetest::RunOrAbort("engine destruction", [] {
        auto engine = std::make_unique<FileSystem>();
        // Without retention rules the deletion finds nothing to do.
        engine->deleteNoMore();
        engine->OnPollTimer();
        engine.reset();
    });
}

}  // namespace
