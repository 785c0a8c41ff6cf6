// Small process services: the slow-block timer, path roots, free space, the
// worker-thread group, the folder chooser's status text and the start-up
// values.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <string>

#include <unistd.h>

#include <QCoreApplication>

#include "base/FolderChooser.h"
#include "base/Log.h"
#include "base/MiniDumper.h"
#include "base/ProcessValues.h"
#include "base/Registry.h"
#include "base/Utilities.h"
#include "support/TempDir.h"

namespace {

std::atomic<uint32_t> g_fakeNow{0};
uint32_t FakeNow() { return g_fakeNow.load(); }

TEST(CalcTime, WarnsOnlyWhenStrictlyOverItsThreshold)
{
    gavex_test::TempDir dir{"util"};
    const QorLog::DebugSettings settings{0, 100, 0, 1, 1, 8192, 4096};
    QorLog::CDebug log(dir.path(), "SOFTWARE\\QOR\\Vindara", ".", &settings);
    CalcTime::SetClockForTesting(&FakeNow);
    struct Case
    {
        const char* message;
        uint32_t start;
        uint32_t elapsed;
        bool warns;
    };
    // The last two wrap the 32-bit clock.
    const Case cases[] = {
        {"at threshold", 1000, 120, false},
        {"just over", 1000, 121, true},
        {"over across wrap", 0xFFFFFFF0u, 200, true},
        {"under across wrap", 0xFFFFFFF0u, 20, false},
    };
    for (const Case& c : cases) {
        g_fakeNow = c.start;
        CalcTime timer("Block", 120, c.message, &log);
        g_fakeNow = c.start + c.elapsed;
    }
    CalcTime::SetClockForTesting(nullptr);

    log.Flush();
    const std::string text = gavex_test::ReadFileString(log.GetLogPath());
    for (const Case& c : cases) {
        const std::string line = "------> CALCTIME(Block) " + std::to_string(c.elapsed) + " ms - " + c.message;
        EXPECT_EQ(text.find(line) != std::string::npos, c.warns) << line << "\nlog:\n" << text;
    }
}

TEST(Utilities, RootOfAPath)
{
    struct Case
    {
        const char* path;
        const char* root;
    };
    const Case cases[] = {
        {"C:\\VIDEO\\x", "C:\\"},
        {"/mnt/archive/VIDEO", "/"},
        {"\\\\server\\share\\folder\\f", "\\\\server\\share\\"},
        {"//server/share/folder", "//server/share/"},
        {"\\/server\\share", "\\/server\\share"},
        {"\\\\server", "\\\\server"},
        {"\\folder\\x", "\\"},
        {"plain", "plain"},
        {"", ""},
    };
    for (const auto& c : cases) {
        char out[kMaxPathChars];
        GetRootPath(c.path, out);
        EXPECT_STREQ(out, c.root) << c.path;
    }
    const std::string longPath(400, 'a');
    char out[kMaxPathChars];
    GetRootPath(longPath.c_str(), out);
    EXPECT_EQ(std::string(out).size(), kMaxPathChars - 1);
}

TEST(Utilities, FreeMegabytes)
{
    EXPECT_GT(GetDiskFreeMegabytes("/tmp"), 0u);
    EXPECT_EQ(GetDiskFreeMegabytes("/no/such/folder/here"), 0u);
    EXPECT_EQ(GetDiskFreeMegabytes(nullptr), 0u);
}

TEST(TaskThreadGroup, StopInterruptsAndJoinsEveryThread)
{
    TaskThreadGroup group;
    std::atomic<int> ended{0};
    std::promise<void> ran;
    std::future<void> taskRan = ran.get_future();
    for (int i = 0; i < 2; ++i)
        group.AddThread([&] {
            try {
                for (;;) {
                    boost::function<void()> task = group.TakeTask();
                    if (!task)
                        break;
                    task();
                }
            } catch (const boost::thread_interrupted&) {
            }
            ++ended;
        });
    group.AddTask([&] { ran.set_value(); });
    EXPECT_TRUE(group.IsRunning());
    EXPECT_EQ(group.GetThreadCount(), 2u);
    EXPECT_EQ(taskRan.wait_for(std::chrono::seconds(30)), std::future_status::ready);

    group.Stop();
    EXPECT_EQ(ended, 2);
    EXPECT_FALSE(group.IsRunning());
    EXPECT_EQ(group.GetThreadCount(), 0u);
    group.AddTask([] {});
    group.Stop(); // a second stop finds empty lists
    EXPECT_EQ(group.GetPendingTaskCount(), 0u);
}

TEST(FolderChooser, ConstructionAndStatusText)
{
    CFolderDialog dialog("Pick", "/tmp/start", nullptr, true);
    EXPECT_EQ(dialog.GetInitialFolder(), "/tmp/start");
    EXPECT_EQ(dialog.GetTitle(), "Pick");
    // Without a QApplication the dialog cancels at once.
    if (QCoreApplication::instance() == nullptr) {
        EXPECT_EQ(dialog.Browse(), CFolderDialog::IDCANCEL);
        EXPECT_EQ(dialog.GetSelectedPath(), "/tmp/start");
    }
    const std::string p35(35, 'p');
    EXPECT_EQ(CFolderDialog::ShortenForStatus(p35), p35);
    EXPECT_EQ(CFolderDialog::ShortenForStatus(p35 + "q"), p35 + "...");
}

TEST(ProcessValues, FfmpegThreadCountFromTheRegistry)
{
    gavex_test::TempDir dir{"util"};
    setenv("GAVEX_REGISTRY_DIR", dir.path().c_str(), 1);
    struct Case
    {
        const char* text; // null: value missing
        int32_t count;
    };
    for (const Case c : {Case{nullptr, 1}, Case{"", 1}, Case{"4", 4}, Case{"0", 0}}) {
        {
            RegistryKey key("SOFTWARE\\QOR\\Vindara\\Video", true);
            ASSERT_TRUE(key.IsOpen());
            if (c.text != nullptr)
                key.WriteString("FFTHREADCOUNT", c.text);
        }
        EXPECT_EQ(ReadFfmpegThreadCount(), c.count) << (c.text ? c.text : "missing");
    }
    unsetenv("GAVEX_REGISTRY_DIR");
}

TEST(ProcessValues, CrashSwitchesDefaultToOn)
{
    gavex_test::TempDir dir{"util"};
    setenv("GAVEX_REGISTRY_DIR", dir.path().c_str(), 1);
    EXPECT_EQ(ReadShowCrashMessage(), 1);
    EXPECT_TRUE(ReadReportWindowsLogEvent());
    EXPECT_TRUE(ReadFullDump());
    {
        RegistryKey key("SOFTWARE\\QOR\\Vindara", true);
        key.WriteString("ShowCrashMessage", "0");
        key.WriteString("ReportWindowsLogEvent", "");
        key.WriteString("FullDump", "0");
    }
    EXPECT_EQ(ReadShowCrashMessage(), 0);
    EXPECT_TRUE(ReadReportWindowsLogEvent());
    EXPECT_FALSE(ReadFullDump());
    unsetenv("GAVEX_REGISTRY_DIR");
}

} // namespace
