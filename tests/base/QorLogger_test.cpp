// The logger handed to the codec add-on: its level table and the lines it
// makes of the add-on's calls.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <typeinfo>
#include <vector>

#include "CapturedLog.h"

#include "base/Log.h"
#include "base/QorLogger.h"

namespace fs = std::filesystem;

namespace {

class QorLoggerTest : public ::testing::Test
{
protected:
    std::vector<std::string> TakeLines() { return m_captured.TakeLines(); }

    // Debugger output only: every line reaches the sink as it is made.
    gavex_test::CapturedLog m_captured{"qorlogger", 4, "SOFTWARE\\QorLoggerTest"};
    QorLog::CDebug* const m_log = m_captured.logger();
};

// The kind of a caught line: 'E' error, 'W' warning, 'P' plain (trace and
// message lines look alike; the level decides whether they appear).
char KindOf(const std::string& line)
{
    if (line.find(" #* ERROR *# ") != std::string::npos)
        return 'E';
    if (line.find(" !WARNING! ") != std::string::npos)
        return 'W';
    return 'P';
}

} // namespace

TEST(QorLoggerLevels, SdkThresholdTable)
{
    const struct {
        int loggerLevel;
        uint32_t sdkLevel;
    } cases[] = {{4, 0}, {3, 1}, {2, 2}, {1, 3}, {0, 3}, {-1, 3}, {5, 3}, {100, 3}};
    for (const auto& c : cases)
        EXPECT_EQ(CQorLogger::SdkThresholdForLevel(c.loggerLevel), c.sdkLevel) << c.loggerLevel;
}

// Which add-on calls become which lines, for every logger level: one
// character per SDK level 0, 1, 2, 3 and an unknown level 7.
TEST_F(QorLoggerTest, CallsBecomeLinesByBothLevels)
{
    const struct {
        int loggerLevel;
        const char* kinds;
    } cases[] = {
        {5, "---E-"}, // the program logs everything, the add-on only errors
        {4, "PPWE-"},
        {3, "-PWE-"},
        {2, "--WE-"},
        {1, "---E-"},
        {0, "-----"},
        {-1, "-----"},
    };
    const uint32_t sdkLevels[] = {0, 1, 2, 3, 7};
    CQorLogger adapter(m_log);
    for (const auto& c : cases) {
        m_log->m_level = c.loggerLevel;
        EXPECT_EQ(adapter.GetLogLevel(), CQorLogger::SdkThresholdForLevel(c.loggerLevel));
        for (size_t i = 0; i < 5; ++i) {
            const std::string text = "add-on line " + std::to_string(sdkLevels[i]);
            adapter.Log(sdkLevels[i], text.c_str());
            const std::vector<std::string> lines = TakeLines();
            const char expected = c.kinds[i];
            if (expected == '-') {
                EXPECT_TRUE(lines.empty()) << "logger " << c.loggerLevel << ", sdk " << sdkLevels[i];
                continue;
            }
            ASSERT_EQ(lines.size(), 1u) << "logger " << c.loggerLevel << ", sdk " << sdkLevels[i];
            EXPECT_EQ(KindOf(lines[0]), expected) << lines[0];
            EXPECT_NE(lines[0].find(text), std::string::npos) << lines[0];
        }
    }
}

TEST_F(QorLoggerTest, TextsAreDataAndErrorsNameTheAdapter)
{
    CQorLogger adapter(m_log);
    adapter.Log(QOR8::LogMessage, "100% done %s %n");
    adapter.Log(QOR8::LogError, "decoder lost");
    const std::vector<std::string> lines = TakeLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(" 100% done %s %n\n"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" #* ERROR *# decoder lost (file:QorLogger line:73 ver:"), std::string::npos)
        << lines[1];
    adapter.Log(QOR8::LogError, nullptr);
    EXPECT_TRUE(TakeLines().empty());
}

TEST_F(QorLoggerTest, LogAtNamesItsOriginAndMasksPercentSigns)
{
    CQorLogger adapter(m_log);
    adapter.LogAt(QOR8::LogMessage, "codec", 12, "Init", "100% done");
    std::vector<std::string> lines = TakeLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" FILE:\\\\codec, LINE:12, FUNC:Init, 100* done\n"), std::string::npos)
        << lines[0];

    // A missing function name or text drops the call; a missing file name
    // leaves its place empty.
    adapter.LogAt(QOR8::LogMessage, "codec", 13, nullptr, "no function");
    adapter.LogAt(QOR8::LogMessage, "codec", 14, "Init", nullptr);
    EXPECT_TRUE(TakeLines().empty());
    adapter.LogAt(QOR8::LogWarning, nullptr, -1, "Run", "x");
    lines = TakeLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" !WARNING! FILE:\\\\, LINE:-1, FUNC:Run, x\n"), std::string::npos) << lines[0];

    // Below the threshold nothing is composed or logged.
    m_log->m_level = 3;
    adapter.LogAt(QOR8::LogTrace, "codec", 15, "Init", "trace");
    EXPECT_TRUE(TakeLines().empty());
}

TEST_F(QorLoggerTest, AnswersOnlyItsOwnContracts)
{
    CQorLogger& adapter = CQorLogger::Instance();
    EXPECT_EQ(&adapter, &CQorLogger::Instance());
    EXPECT_EQ(adapter.QueryContract(typeid(QOR8::IContract).name()), &adapter);
    EXPECT_EQ(adapter.QueryContract(typeid(QOR8::ILogger).name()), &adapter);
    EXPECT_EQ(adapter.QueryContractThunk(typeid(QOR8::ILogger).name()), &adapter);
    // The source spelling is not the run-time type name.
    EXPECT_EQ(adapter.QueryContract("QOR8::ILogger"), nullptr);
    EXPECT_EQ(adapter.QueryContract(typeid(CQorLogger).name()), nullptr);
    EXPECT_EQ(adapter.QueryContract(""), nullptr);
    EXPECT_EQ(adapter.QueryContract(nullptr), nullptr);
    // Through the contract the add-on sees (slot order of the interface).
    QOR8::ILogger* asSeen = static_cast<QOR8::ILogger*>(adapter.QueryContract(typeid(QOR8::ILogger).name()));
    EXPECT_EQ(asSeen, static_cast<QOR8::ILogger*>(&adapter));
}

TEST_F(QorLoggerTest, ProcessInstanceFollowsTheProcessLoggerLevel)
{
    QorLog::CDebug* process = getDefaultDebugInstance();
    const int saved = process->GetLevel();
    process->m_level = 4;
    EXPECT_EQ(CQorLogger::Instance().GetLogLevel(), 0u);
    process->m_level = 2;
    EXPECT_EQ(CQorLogger::Instance().GetLogLevel(), 2u);
    process->m_level = saved;
}
