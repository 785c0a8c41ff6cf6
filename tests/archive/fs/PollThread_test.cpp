// The engine's poll thread and the test delay.

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "ProcessLogCapture.h"
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

        // A pause of an hour: destruction must interrupt it (the watchdog
        // ends a test that hangs here), and nothing runs afterwards.
        thread->SetPeriod(3600LL * 1000000);
        thread.reset();
        const int after = runs;
        EXPECT_FALSE(other);
        EXPECT_GE(after, 3);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(runs, after);
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
    enginetest::ProcessLogCapture log;
    if (!log.active) GTEST_SKIP() << "the process logger was set up earlier in this process";
    const auto start = std::chrono::steady_clock::now();
    { TestDelay delay(1); }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(990));
    const int stretched = log.Find("[FS][TestDelay] 1 seconds.");
    ASSERT_GE(stretched, 0);
    const int slept = log.Find("[FS][TestDelay] additional sleep ", stretched);
    ASSERT_GT(slept, stretched);
    EXPECT_GT(log.Find("[FS][TestDelay] complete.", slept), slept);

    // Work that took longer than the delay is not stretched further: the
    // destructor then only logs its end.
    const int from = static_cast<int>(log.Lines().size());
    { TestDelay none(0); }
    const int noDelay = log.Find("[FS][TestDelay] 0 seconds.", from);
    ASSERT_GE(noDelay, 0);
    EXPECT_EQ(log.Find("additional sleep", noDelay), -1);
    EXPECT_GT(log.Find("[FS][TestDelay] complete.", noDelay), noDelay);
}

// The ids of this process's threads now.
std::set<std::string> ThreadIds() {
    std::set<std::string> ids;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') ids.insert(entry->d_name);
        ::closedir(dir);
    }
    return ids;
}

// None of `threads` is left (threads that were joined are gone at once; this
// allows for the kernel's own bookkeeping).
bool AllGone(const std::set<std::string>& threads) {
    for (int i = 0; i < 500; ++i) {
        const std::set<std::string> now = ThreadIds();
        bool any = false;
        for (const std::string& id : threads) any = any || now.count(id) != 0;
        if (!any) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(FileSystemPoll, EngineDestructionEndsItsPollThread) {
    enginetest::WriteMachineRegistry("");
    enginetest::RunOrAbort("engine destruction", [] {
        // A first engine starts the process-wide workers that outlive it.
        std::make_unique<FileSystem>().reset();
        const std::set<std::string> before = ThreadIds();
        auto engine = std::make_unique<FileSystem>();
        std::set<std::string> started;
        for (const std::string& id : ThreadIds())
            if (before.count(id) == 0) started.insert(id);
        EXPECT_FALSE(started.empty());  // its poll thread at least
        engine->OnPollTimer();
        engine.reset();
        EXPECT_TRUE(AllGone(started)) << started.size() << " threads of the engine";
    });
}

}  // namespace
