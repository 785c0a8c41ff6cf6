// The logger handed to the codec add-on.
#include <gtest/gtest.h>

#include <typeinfo>

#include "MediaTestSupport.h"
#include "base/Log.h"
#include "media/QorLogger.h"

using namespace mediatest;

namespace {

class QorLoggerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UseRegistry("logger", "");
        LogCapture::Instance().Clear();
        m_savedLevel = getDefaultDebugInstance()->GetLevel();
    }
    void TearDown() override { getDefaultDebugInstance()->SetLevel(m_savedLevel); }

    static void SetLevel(int level) { getDefaultDebugInstance()->SetLevel(level); }

private:
    int m_savedLevel = 0;
};

} // namespace

TEST_F(QorLoggerTest, ThresholdFollowsTheProcessLoggerLevel)
{
    const struct {
        int loggerLevel;
        uint32_t sdkLevel;
    } cases[] = {{4, 0}, {3, 1}, {2, 2}, {1, 3}, {0, 3}, {-1, 3}, {5, 3}};
    for (const auto& c : cases) {
        SetLevel(c.loggerLevel);
        EXPECT_EQ(CQorLogger::Instance().GetLogLevel(), c.sdkLevel) << "logger level " << c.loggerLevel;
    }
}

TEST_F(QorLoggerTest, LinesBelowTheThresholdAreDropped)
{
    SetLevel(3);
    CQorLogger::Instance().Log(QOR8::LogTrace, "addon trace line");
    CQorLogger::Instance().Log(QOR8::LogMessage, "addon message line 100% done");
    CQorLogger::Instance().Log(QOR8::LogError, "addon error line");
    const std::string text = LogCapture::Instance().Text();
    EXPECT_EQ(text.find("addon trace line"), std::string::npos);
    // Texts are data: a '%' stays as it is.
    EXPECT_NE(text.find("addon message line 100% done"), std::string::npos) << text;
    EXPECT_NE(text.find("QorLogger"), std::string::npos) << text;
    EXPECT_NE(text.find("addon error line"), std::string::npos) << text;
}

TEST_F(QorLoggerTest, LogAtNamesItsOriginAndMasksFormatCharacters)
{
    SetLevel(4);
    CQorLogger::Instance().LogAt(QOR8::LogMessage, "codec", 12, "Init", "100% done");
    EXPECT_TRUE(LogCapture::Instance().Contains("FILE:\\\\codec, LINE:12, FUNC:Init, 100* done"))
        << LogCapture::Instance().Text();
    CQorLogger::Instance().LogAt(QOR8::LogMessage, "codec", 13, nullptr, "no function");
    EXPECT_FALSE(LogCapture::Instance().Contains("no function"));
}

TEST_F(QorLoggerTest, AnswersOnlyItsOwnContracts)
{
    CQorLogger& logger = CQorLogger::Instance();
    EXPECT_EQ(logger.QueryContract(typeid(QOR8::IContract).name()), &logger);
    EXPECT_EQ(logger.QueryContract(typeid(QOR8::ILogger).name()), &logger);
    EXPECT_EQ(logger.QueryContractThunk(typeid(QOR8::ILogger).name()), &logger);
    EXPECT_EQ(logger.QueryContract("QOR8::ILogger"), nullptr);
    EXPECT_EQ(logger.QueryContract(nullptr), nullptr);
}
