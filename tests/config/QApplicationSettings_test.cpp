// The least application settings: defaults and the title switches.

#include <gtest/gtest.h>

#include "config/ApplicationTexts.h"
#include "config/QApplicationSettings.h"

namespace {

TEST(QApplicationSettings, TitleSwitchesAreCreatedWithTheirFirstDefault)
{
    QApplicationSettings settings;
    EXPECT_TRUE(settings.Antialiasing);
    EXPECT_TRUE(settings.GetTitleEnabled(3, 2, true));
    auto table = settings.GetTitlesSettings();
    ASSERT_EQ(table.size(), 4u);
    EXPECT_TRUE(table[0].empty());
    ASSERT_EQ(table[3].size(), 3u);
    for (const TitleSetting& entry : table[3])
        EXPECT_TRUE(entry.Enabled);
    EXPECT_TRUE(settings.GetTitleEnabled(3, 2, false)) << "the first default stays";
    EXPECT_FALSE(settings.GetTitleEnabled(3, 5, false));
    EXPECT_EQ(settings.GetTitlesSettings()[3].size(), 6u);
    settings.SetTitleEnabled(3, 2, false);
    EXPECT_FALSE(settings.GetTitleEnabled(3, 2, true));
    EXPECT_THROW(settings.GetTitleEnabled(-1, 0, true), std::out_of_range);
}

TEST(QApplicationSettings, OneInstanceAndTheTimestampFormat)
{
    EXPECT_EQ(&QApplicationSettings::Instance(), &QApplicationSettings::Instance());
    EXPECT_EQ(TimestampFormat(), "%X\n %x");
}

}  // namespace
