// The logger: settings from the registry store, levels, the line layout, the
// queue and its overflow notice, the writer thread, rotation and clean-up of
// the log files, the disk guard and two processes sharing one log.
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/format.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/Log.h"
#include "base/Registry.h"
#include "support/TempDir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using QorLog::CDebug;
using QorLog::DebugSettings;

constexpr const char kBase[] = "SOFTWARE\\LogTest";

using gavex_test::ReadFileString;
using gavex_test::WriteFileString;

// Lines of a log file without their CR LF ends.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
}

// Waits for a condition with a generous time-out; false when it never held.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 15000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string ArchiveStamp(int64_t secondsFromNow) {
    time_t t = std::time(nullptr) + secondsFromNow;
    struct tm tmv {};
    localtime_r(&t, &tmv);
    char text[80];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d-%02d-%02d", tmv.tm_year + 1900, tmv.tm_mon + 1,
                  tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
    return text;
}

// Every test gets its own folder and registry store. The Debug key holds a
// flush period of one hour, so the writer stays out of the way and the tests
// flush when they choose; tests of the writer itself lower it.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_regDir = m_dir / "reg";
        m_logDir = m_dir / "logs";
        fs::create_directories(m_regDir);
        fs::create_directories(m_logDir);
        setenv("GAVEX_REGISTRY_DIR", m_regDir.c_str(), 1);
        SetRegistry("[SOFTWARE\\LogTest\\Debug]\n\"DebugFlushPeriod\"=\"3600000\"\n");
    }

    void SetRegistry(const std::string& text) { WriteFileString(m_regDir + "/machine.reg", text); }

    std::unique_ptr<CDebug> Make(int level, int options = 1, int debugTime = 48, int debugSize = 100,
                                 int zipDays = 2) {
        DebugSettings s{debugTime, debugSize, zipDays, options, level, 8192, 4096};
        return std::make_unique<CDebug>(m_logDir, kBase, "", &s);
    }

    // Writes the queue and returns the whole log file.
    static std::string Flushed(CDebug& log) {
        EXPECT_TRUE(log.FlushAndCopy(nullptr));
        return ReadFileString(log.GetLogPath());
    }

    gavex_test::TempDir m_dir{"log"};
    std::string m_regDir;
    std::string m_logDir;
};

const char kPrefixPattern[] =
    R"(\[CPU=\d{4}\]\[PID=\d{8}\]:\[[A-Z_]+\]:\[TID=\d{8}(\(MAIN\))?\]:\[[A-Z_]+\] \[\d\d-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\])";

TEST_F(LogTest, LevelsEnableTheirCalls) {
    struct Case {
        int level;
        const char* expected;  // letters of the calls that reach the file
    } cases[] = {{-1, ""}, {0, ""}, {1, "wed"}, {2, "mwerd"}, {3, "tmwerd"}, {4, "tmwerd"}};
    for (const Case& c : cases) {
        SCOPED_TRACE("level " + std::to_string(c.level));
        fs::remove_all(m_logDir);
        fs::create_directories(m_logDir);
        auto log = Make(c.level);
        log->Trace("call-t");
        log->Message("call-m");
        log->Warning("call-w");
        QOR_LOG_ERROR(log.get(), "call-e");
        log->PrintRaw("call-r\n");
        log->Dump("call-d\n");
        std::string text = Flushed(*log);
        std::string seen;
        for (char k : std::string("tmwerd"))
            if (text.find(std::string("call-") + k) != std::string::npos) seen += k;
        EXPECT_EQ(seen, c.expected) << text;
    }
}

TEST_F(LogTest, LineLayouts) {
    auto log = Make(4);
    log->Message("plain %d", 1);
    log->Warning("careful %s", "now");
    ErrorSite{log.get(), "..\\..\\src\\Foo", "Mon Jan  1 00:00:00 2024", 12}.Report("boom %d", 7);
    log->PrintRaw("raw");
    std::vector<std::string> lines = Lines(Flushed(*log));
    ASSERT_EQ(lines.size(), 4u);
    const std::string p = kPrefixPattern;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(p + " plain 1"))) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(p + " !WARNING! careful now"))) << lines[1];
    EXPECT_TRUE(std::regex_match(
        lines[2], std::regex(p + R"( #\* ERROR \*# boom 7 \(file:Foo line:12 ver:Mon Jan  1 00:00:00 2024 memory:[1-9]\d* MB\))")))
        << lines[2];
    EXPECT_EQ(lines[3], "raw");
    // Written by the thread that built the logger.
    EXPECT_NE(lines[0].find("(MAIN)]"), std::string::npos);
}

TEST_F(LogTest, PrefixMarksOnlyTheConstructingThread) {
    auto log = Make(2);
    std::thread other([&] {
        // A lowered thread reads back as below normal (what Thread gives it).
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 5);
        log->Message("from-other");
    });
    other.join();
    log->Message("from-main");
    std::string text = Flushed(*log);
    std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].find("(MAIN)"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("]:[BELOW_NORMAL] ["), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("(MAIN)"), std::string::npos) << lines[1];
    // The prefix shows this process and the date of today.
    char pid[16];
    std::snprintf(pid, sizeof(pid), "[PID=%08d]", static_cast<int>(getpid()));
    EXPECT_NE(lines[1].find(pid), std::string::npos);
}

TEST(LogPriorityName, SharedTableOfThreadAndProcessPriorities) {
    struct Case {
        int value;
        const char* name;
    } cases[] = {{0, "NORMAL"},           {32, "NORMAL"},       {1, "ABOVE_NORMAL"}, {32768, "ABOVE_NORMAL"},
                 {2, "HIGHEST"},          {15, "TIME_CRITICAL"}, {64, "IDLE"},       {-15, "IDLE"},
                 {128, "HIGH"},           {256, "REALTIME"},    {16384, "BELOW_NORMAL"}, {-1, "BELOW_NORMAL"},
                 {-2, "LOWEST"},          {7, "UNKNOWN_PRIO.7"}, {-3, "UNKNOWN_PRIO.-3"}};
    for (const Case& c : cases) EXPECT_EQ(QorLog::PriorityName(c.value), c.name) << c.value;
}

TEST_F(LogTest, ErrorSiteMacroNamesThisFile) {
    auto log = Make(1);
    const int line = __LINE__ + 1;
    QOR_LOG_ERROR(log.get(), "failed %s", "here");
    std::string text = Flushed(*log);
    EXPECT_NE(text.find("failed here (file:Log_test.cpp line:" + std::to_string(line) + " ver:"), std::string::npos)
        << text;
}

// A finished line is data: '%' in an argument or a boost text stays as it is.
TEST_F(LogTest, ArgumentsAreNeverReadAsFormats) {
    auto log = Make(2);
    log->Message("%s", "100%s done %d %n");
    log->Message(boost::format("%1% of %2%") % 3 % "x%s%n");
    ErrorSite{log.get(), "f", "t", 1}.Report(boost::format("err %1%") % "50%d");
    std::vector<std::string> lines = Lines(Flushed(*log));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].ends_with(" 100%s done %d %n"));
    EXPECT_TRUE(lines[1].ends_with(" 3 of x%s%n"));
    EXPECT_NE(lines[2].find(" #* ERROR *# err 50%d (file:f line:1 ver:t "), std::string::npos);
}

TEST_F(LogTest, FilterKeepsMatchingLinesAndAllErrors) {
    SetRegistry("[SOFTWARE\\LogTest\\Debug]\n\"DebugFlushPeriod\"=\"3600000\"\n\"DebugLevel\"=\"3\"\n"
                "[SOFTWARE\\LogTest\\Debug\\test_base]\n\"Filter\"=\"[FS]\"\n");
    auto log = std::make_unique<CDebug>(m_logDir, kBase);
    ASSERT_EQ(log->GetFilter(), "[FS]");
    log->Message("[FS] kept message");
    log->Trace("[FS] kept trace");
    log->Warning("dropped warning");
    log->Message("dropped message");
    QOR_LOG_ERROR(log.get(), "error without tag");
    std::string text = Flushed(*log);
    EXPECT_EQ(Count(text, "kept"), 2u) << text;
    EXPECT_EQ(Count(text, "dropped"), 0u) << text;
    EXPECT_EQ(Count(text, "error without tag"), 1u) << text;
}

TEST_F(LogTest, LongLinesAndDebuggerOutput) {
    std::vector<std::string> debugOut;
    auto log = Make(2, 0x11);
    log->SetDebugOutputForTesting([&](const std::string& s) { debugOut.push_back(s); });
    const std::string long5000(5000, 'a');
    log->Message("%s", long5000.c_str());
    std::vector<std::string> lines = Lines(Flushed(*log));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(" " + long5000));
    ASSERT_EQ(debugOut.size(), 1u);
    EXPECT_EQ(debugOut[0].size(), 4096u);
    EXPECT_EQ(debugOut[0].back(), '\n');

    // Debugger output only: nothing reaches the file.
    debugOut.clear();
    auto quiet = Make(2, 0x10);
    quiet->SetDebugOutputForTesting([&](const std::string& s) { debugOut.push_back(s); });
    fs::remove(quiet->GetLogPath());
    quiet->Message("only on the debugger");
    EXPECT_TRUE(quiet->FlushAndCopy(nullptr));
    EXPECT_FALSE(fs::exists(quiet->GetLogPath()));
    ASSERT_EQ(debugOut.size(), 1u);
    EXPECT_TRUE(debugOut[0].ends_with(" only on the debugger\n"));
}

TEST_F(LogTest, OverflowNoticeCountsTheDroppedLines) {
    auto log = Make(2);
    ASSERT_EQ(log->GetQueueMaxLines(), 50000u);
    for (int i = 0; i < 50010; ++i) log->Message("line %d", i);
    EXPECT_EQ(log->GetQueuedLineCount(), 50001u);
    std::string text = Flushed(*log);
    const std::string notice = "\r\n##### Log queue overflow (max size:50000). 9 log lines skipped #####\r\n\r\n";
    ASSERT_TRUE(text.starts_with(notice)) << text.substr(0, 200);
    std::vector<std::string> lines = Lines(text.substr(notice.size()));
    ASSERT_EQ(lines.size(), 50001u);
    EXPECT_TRUE(lines.front().ends_with(" line 9"));
    EXPECT_TRUE(lines.back().ends_with(" line 50009"));

    // The count starts again after a flush.
    log->Message("after");
    std::string next = Flushed(*log);
    EXPECT_EQ(Count(next, "overflow"), 1u);
}

TEST_F(LogTest, DefaultSettingsAreWrittenBack) {
    SetRegistry("");
    auto log = std::make_unique<CDebug>(m_logDir, kBase);
    EXPECT_EQ(log->GetLevel(), 0);
    EXPECT_EQ(g_debugLevel.load(), 0);
    EXPECT_FALSE(log->HasWriter());
    log->Message("nothing");
    EXPECT_EQ(log->GetQueuedLineCount(), 0u);

    RegistryKey debugKey("SOFTWARE\\LogTest\\Debug", false, RegistryKey::kRead);
    ASSERT_TRUE(debugKey.IsOpen());
    std::map<std::string, std::string> texts = {{"DebugTime", "48"},          {"DebugSize", "100"},
                                                {"DebugZipDays", "2"},        {"DebugLevel", "0"},
                                                {"DebugQueueMaxLines", "50000"}, {"DebugFlushPeriod", "500"},
                                                {"DebugExtension", "log"}};
    for (const auto& [name, value] : texts) EXPECT_EQ(debugKey.ReadString(name), value) << name;
    EXPECT_EQ(debugKey.ReadDword("DebugBufferSize", 0), 8192u);
    EXPECT_EQ(debugKey.ReadDword("DebugOptions", 0), 1u);
    RegistryKey exeKey("SOFTWARE\\LogTest\\Debug\\test_base", false, RegistryKey::kRead);
    EXPECT_TRUE(exeKey.IsOpen());
}

TEST_F(LogTest, LevelIsLayered) {
    struct Case {
        const char* name;
        std::string registry;
        int level;
    } cases[] = {
        {"product key only", "[SOFTWARE\\LogTest]\n\"Debug\"=\"3\"\n", 3},
        {"Debug key over product key",
         "[SOFTWARE\\LogTest]\n\"Debug\"=\"3\"\n[SOFTWARE\\LogTest\\Debug]\n\"DebugLevel\"=\"1\"\n", 1},
        {"executable key over both",
         "[SOFTWARE\\LogTest]\n\"Debug\"=\"3\"\n[SOFTWARE\\LogTest\\Debug]\n\"DebugLevel\"=\"1\"\n"
         "[SOFTWARE\\LogTest\\Debug\\test_base]\n\"DebugLevel\"=\"4\"\n",
         4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetRegistry(c.registry + "[SOFTWARE\\LogTest\\Debug]\n\"DebugFlushPeriod\"=\"3600000\"\n");
        auto log = std::make_unique<CDebug>(m_logDir, kBase);
        EXPECT_EQ(log->GetLevel(), c.level);
        EXPECT_EQ(g_debugLevel.load(), c.level);
        log.reset();
    }
    // The product key's value is written into the Debug key.
    SetRegistry("[SOFTWARE\\LogTest]\n\"Debug\"=\"3\"\n");
    CDebug log(m_logDir, kBase);
    RegistryKey debugKey("SOFTWARE\\LogTest\\Debug", false, RegistryKey::kRead);
    EXPECT_EQ(debugKey.ReadString("DebugLevel"), "3");
}

TEST_F(LogTest, SettingsAreBroughtWithinBounds) {
    struct Case {
        const char* value;  // a registry line of the Debug key
        std::function<long long(const CDebug&)> get;
        long long expected;
    } cases[] = {
        {"\"DebugTime\"=\"10\"", [](const CDebug& l) { return l.GetDebugTime(); }, 48},
        {"\"DebugTime\"=\"0\"", [](const CDebug& l) { return l.GetDebugTime(); }, 0},
        {"\"DebugTime\"=\"72\"", [](const CDebug& l) { return l.GetDebugTime(); }, 72},
        {"\"DebugSize\"=\"5\"", [](const CDebug& l) { return l.GetDebugSize(); }, 100},
        {"\"DebugSize\"=\"0\"", [](const CDebug& l) { return l.GetDebugSize(); }, 0},
        {"\"DebugZipDays\"=\"1\"", [](const CDebug& l) { return l.GetDebugZipDays(); }, 2},
        {"\"DebugBufferSize\"=dword:00000032", [](const CDebug& l) { return l.GetBufferSize(); }, 8192},
        {"\"DebugBufferSize\"=dword:ffffff00", [](const CDebug& l) { return l.GetBufferSize(); }, 8192},
        {"\"DebugBufferSize\"=dword:7fffffff", [](const CDebug& l) { return l.GetBufferSize(); }, 1 << 20},
        {"\"DebugBufferSize\"=dword:00004000", [](const CDebug& l) { return l.GetBufferSize(); }, 16384},
        {"\"DebugQueueMaxLines\"=\"100\"", [](const CDebug& l) { return (long long)l.GetQueueMaxLines(); }, 50000},
        {"\"DebugQueueMaxLines\"=\"0\"", [](const CDebug& l) { return (long long)l.GetQueueMaxLines(); }, 0},
        {"\"DebugQueueMaxLines\"=\"-5\"", [](const CDebug& l) { return (long long)l.GetQueueMaxLines(); }, 2000000},
        {"\"DebugQueueMaxLines\"=\"2100000000\"", [](const CDebug& l) { return (long long)l.GetQueueMaxLines(); },
         2000000},
        {"\"DebugFlushPeriod\"=\"100\"", [](const CDebug& l) { return l.GetFlushPeriod(); }, 500},
        {"\"DebugOptions\"=dword:00000011", [](const CDebug& l) { return l.GetDebugOptions(); }, 0x11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        SetRegistry(std::string("[SOFTWARE\\LogTest\\Debug]\n") + c.value + "\n");
        CDebug log(m_logDir, kBase);
        EXPECT_EQ(c.get(log), c.expected);
    }
}

TEST_F(LogTest, DebugTimeZeroStartsANewLog) {
    const std::string path = m_logDir + "/test_base.log";
    WriteFileString(path, "old run\r\n");
    auto keep = Make(2, 1, 48);
    EXPECT_EQ(ReadFileString(path), "old run\r\n");
    keep.reset();
    auto fresh = Make(2, 1, 0);
    EXPECT_FALSE(fs::exists(path));
    fresh->Message("new run");
    EXPECT_EQ(Count(Flushed(*fresh), "run"), 1u);
}

// Default registry values give level 0 and no writer; once the level is
// raised, lines must reach the file while the program runs.
TEST_F(LogTest, WriterRunsOnceLoggingIsEnabled) {
    SetRegistry("");
    auto log = std::make_unique<CDebug>(m_logDir, kBase);
    ASSERT_EQ(log->GetLevel(), 0);
    ASSERT_FALSE(log->HasWriter());
    log->m_level = 4;  // as the application raises it
    log->Message("alive");
    EXPECT_TRUE(log->HasWriter());
    EXPECT_TRUE(WaitUntil([&] { return ReadFileString(log->GetLogPath()).find(" alive\r\n") != std::string::npos; }));
    // And at the end, what is left is written.
    log->Message("last words");
    log.reset();
    EXPECT_EQ(Count(ReadFileString(m_logDir + "/test_base.log"), "last words"), 1u);
}

TEST_F(LogTest, RotationBySizeMakesBackupThenGzipArchive) {
    auto log = Make(2, 1, 48, 0, 2);  // DebugSize 0: every flush rotates
    const std::string path = log->GetLogPath();
    log->Message("first batch");
    log->FlushAndCopy(nullptr);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(Count(ReadFileString(path + ".BAK"), "first batch"), 1u);

    log->Message("second batch");
    log->FlushAndCopy(nullptr);
    EXPECT_EQ(Count(ReadFileString(path + ".BAK"), "second batch"), 1u);
    std::vector<std::string> archives;
    for (const auto& e : fs::directory_iterator(m_logDir))
        if (e.path().extension() == ".GZ") archives.push_back(e.path().string());
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_TRUE(std::regex_match(fs::path(archives[0]).filename().string(),
                                 std::regex(R"(test_base\.log\.\d{4}-\d\d-\d\dT\d\d-\d\d-\d\d\.GZ)")))
        << archives[0];

    // An independent check of the archive: gzip itself.
    EXPECT_EQ(std::system(("gzip -t '" + archives[0] + "'").c_str()), 0);
    FILE* p = popen(("gzip -cd '" + archives[0] + "'").c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string unpacked;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), p)) > 0;) unpacked.append(buffer, n);
    EXPECT_EQ(pclose(p), 0);
    std::vector<std::string> lines = Lines(unpacked);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(" first batch"));
    EXPECT_TRUE(unpacked.ends_with("\r\n"));
}

TEST_F(LogTest, RotationByAge) {
    struct Case {
        int debugTime;
        int64_t hoursLater;
        bool rotated;
    } cases[] = {{48, 47, false}, {48, 49, true}, {0, 1000, false}, {72, 73, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE("DebugTime " + std::to_string(c.debugTime) + ", " + std::to_string(c.hoursLater) + " h");
        fs::remove_all(m_logDir);
        fs::create_directories(m_logDir);
        auto log = Make(2, 1, c.debugTime, 100);
        log->Message("started");
        log->FlushAndCopy(nullptr);
        ASSERT_TRUE(fs::exists(log->GetLogPath()));
        log->SetClockOffsetForTesting(c.hoursLater * 3600);
        log->Message("later");
        log->FlushAndCopy(nullptr);
        EXPECT_EQ(fs::exists(log->GetBackupPath()), c.rotated);
        EXPECT_EQ(fs::exists(log->GetLogPath()), !c.rotated);
    }
}

TEST_F(LogTest, OldArchivesAreRemovedAtTheNextCompression) {
    auto log = Make(2, 1, 48, 0, 2);
    const std::string path = log->GetLogPath();
    WriteFileString(path + ".BAK", "previous backup\r\n");
    struct Archive {
        std::string name;
        bool kept;
    } archives[] = {
        {path + "." + ArchiveStamp(-3 * 86400) + ".GZ", false},
        {path + "." + ArchiveStamp(-1 * 86400) + ".GZ", true},
        {path + "." + ArchiveStamp(2 * 86400) + ".GZ", true},  // clock was set back
        {path + ".notes.GZ", true},
        {path + ".2020-01-01T00-00-00.gz", true},  // not the archive pattern
    };
    for (const Archive& a : archives) WriteFileString(a.name, "x");
    log->Message("rotate now");
    log->FlushAndCopy(nullptr);
    for (const Archive& a : archives) EXPECT_EQ(fs::exists(a.name), a.kept) << a.name;
    size_t gz = 0;
    for (const auto& e : fs::directory_iterator(m_logDir)) gz += e.path().extension() == ".GZ";
    EXPECT_EQ(gz, 4u);  // three kept and the new one
}

TEST_F(LogTest, NoArchivesWhenZipDaysIsZero) {
    auto log = Make(2, 1, 48, 0, 0);
    const std::string path = log->GetLogPath();
    WriteFileString(path + ".BAK", "previous backup\r\n");
    log->Message("rotate now");
    log->FlushAndCopy(nullptr);
    EXPECT_EQ(Count(ReadFileString(path + ".BAK"), "rotate now"), 1u);
    for (const auto& e : fs::directory_iterator(m_logDir)) EXPECT_NE(e.path().extension(), ".GZ") << e.path();
}

TEST_F(LogTest, FlushThatLeavesAnEmptyLogDeletesIt) {
    auto log = Make(2);
    WriteFileString(log->GetLogPath(), "");
    log->Dump("");
    EXPECT_TRUE(log->FlushAndCopy(nullptr));
    EXPECT_FALSE(fs::exists(log->GetLogPath()));
}

// Without a folder from the caller the log goes to the registry's Path
// (created when missing); the scratch file of the write check is gone
// afterwards.
TEST_F(LogTest, LogFolderFromRegistryPath) {
    const std::string folder = m_logDir + "/from/registry";
    SetRegistry("[SOFTWARE\\LogTest\\Debug]\n\"DebugLevel\"=\"2\"\n\"DebugFlushPeriod\"=\"3600000\"\n\"Path\"=\"" +
                folder + "/\"\n");
    CDebug log("", kBase);
    EXPECT_EQ(log.GetLogPath(), folder + "/test_base.log");
    log.Message("in the registry's folder");
    EXPECT_TRUE(log.FlushAndCopy(nullptr));
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"test_base.log", "test_base.log.lock"}));
}

TEST_F(LogTest, DiskGuardDropsLinesAndWarnsOncePerShortage) {
    // The writer's own period is short here.
    SetRegistry("[SOFTWARE\\LogTest\\Debug]\n\"DebugFlushPeriod\"=\"500\"\n");
    std::atomic<uint64_t> freeMb{150};
    auto log = Make(0);
    log->SetFreeSpaceProbeForTesting([&](const std::string&) { return freeMb.load(); });
    log->SetLevel(2);
    log->Message("lost while short");
    const std::string path = log->GetLogPath();
    ASSERT_TRUE(WaitUntil([&] { return ReadFileString(path).find("INSUFFISIENT") != std::string::npos; }));
    log->Message("also lost");
    ASSERT_TRUE(WaitUntil([&] { return log->GetQueuedLineCount() == 0; }));
    freeMb = 500;
    log->Message("space is back");
    ASSERT_TRUE(WaitUntil([&] { return ReadFileString(path).find("space is back") != std::string::npos; }));
    std::string text = ReadFileString(path);
    EXPECT_TRUE(text.starts_with("\r\n\r\n\r\nINSUFFISIENT DISK SPACE!!!\r\n\r\n\r\n")) << text;
    EXPECT_EQ(Count(text, "INSUFFISIENT"), 1u);
    EXPECT_EQ(Count(text, "lost"), 0u);
}

// In a program of its own: the first call's arguments count, and what is
// still queued reaches the file when the process ends.
TEST_F(LogTest, ProcessLoggerIsCreatedOnceAndFlushedAtExit) {
    SetRegistry("[SOFTWARE\\LogTest\\Debug]\n\"DebugLevel\"=\"2\"\n\"DebugFlushPeriod\"=\"3600000\"\n\"Path\"=\"" +
                m_logDir + "\"\n");
    const std::string tool = std::string(GAVEX_TEST_TOOLS_DIR) + "/log_process_logger";
    FILE* p = popen(("'" + tool + "'").c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buffer[4096] = "";
    std::string out;
    for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), p)) > 0;) out.append(buffer, n);
    ASSERT_EQ(pclose(p), 0) << out;
    EXPECT_EQ(out, "same=1 path=" + m_logDir + "/log_process_logger.log\n");
    std::vector<std::string> lines = Lines(ReadFileString(m_logDir + "/log_process_logger.log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(" written at exit")) << lines[0];
}

TEST_F(LogTest, HeaderBanner) {
    auto log = Make(1);
    log->WriteHeader();
    std::vector<std::string> lines = Lines(Flushed(*log));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], std::string(117, '='));
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(CPU: \d+ x \S* \d+ MHz, RAM: \d+ MB)"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(Platform: OS: .+, VER: .+, BLD: .+, TYP: Linux, EDT: .+, MPS: .+\.)")))
        << lines[2];
    EXPECT_TRUE(std::regex_match(lines[3], std::regex(R"(Version:  \(\d\d-\d\d-\d\d \d\d:\d\d:\d\d\))"))) << lines[3];
    EXPECT_TRUE(std::regex_match(lines[4], std::regex(R"(Computer: .*, User: .*, Module: /.*/test_base)")))
        << lines[4];
    EXPECT_EQ(lines[5], std::string(117, '='));
}

// Two processes of one program append to one log file; the cross-process
// lock keeps every flushed batch whole.
TEST_F(LogTest, TwoProcessesKeepWholeBatches) {
    const std::string tool = std::string(GAVEX_TEST_TOOLS_DIR) + "/log_batch_writer";
    const int batches = 30;
    const int linesPerBatch = 600;  // about 90 KB: more than one write per batch
    std::vector<pid_t> children;
    for (const char* tag : {"A", "B"}) {
        std::vector<std::string> args = {tool, m_logDir, tag, std::to_string(batches), std::to_string(linesPerBatch)};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv.data(), environ), 0) << tool;
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }

    std::vector<std::string> lines = Lines(ReadFileString(m_logDir + "/log_batch_writer.log"));
    ASSERT_EQ(lines.size(), static_cast<size_t>(2 * batches * linesPerBatch));
    const std::regex pattern(R"(.* tag=([AB]) batch=(\d+) line=(\d+) x+)");
    std::map<std::string, int> runsSeen;
    size_t i = 0;
    while (i < lines.size()) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, pattern)) << lines[i];
        const std::string key = m[1].str() + m[2].str();
        // A batch is one unbroken run of its lines, in order.
        for (int k = 0; k < linesPerBatch; ++k, ++i) {
            std::smatch n;
            ASSERT_LT(i, lines.size());
            ASSERT_TRUE(std::regex_match(lines[i], n, pattern)) << lines[i];
            ASSERT_EQ(n[1].str() + n[2].str(), key) << "batch " << key << " broken at line " << i;
            ASSERT_EQ(std::stoi(n[3].str()), k);
        }
        ++runsSeen[key];
    }
    EXPECT_EQ(runsSeen.size(), static_cast<size_t>(2 * batches));
    for (const auto& [key, runs] : runsSeen) EXPECT_EQ(runs, 1) << key;
}

}  // namespace
