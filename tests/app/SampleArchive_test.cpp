// The sample archive of scripts/play.sh opens with its four channels.

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/CommandLine.h"
#include "config/QApplicationSettings.h"
#include "media/SourceConfiguration.h"
#include "support/TempDir.h"

namespace {

TEST(SampleArchive, OpensWithFourChannels)
{
    gavex_test::TempDir dir("sample");
    const std::string root = dir / "archive";
    ASSERT_EQ(std::system((std::string(GAVEX_SAMPLE_ARCHIVE_TOOL) + " '" + root + "' > /dev/null").c_str()), 0);

    // As the player starts with --source: the live settings name it.
    const CommandLineResult parsed = ParseCommandLine("Gavex_player --source \"" + root + "\"");
    ASSERT_FALSE(parsed.rejected);
    QApplicationSettings& settings = QApplicationSettings::Instance();
    EXPECT_EQ(settings.Live.SourceMode, ISourceConfiguration::DRIVES);
    EXPECT_EQ(settings.GetSourcePaths(), root);

    SourceConfiguration config{parsed.options};
    ASSERT_TRUE(config.GetFileSystem());
    const auto sources = config.GetVideoSources();
    ASSERT_EQ(sources.size(), 4u);
    std::vector<std::wstring> ids;
    for (const auto& source : sources) {
        ids.push_back(source->GetId());
        EXPECT_FALSE(source->GetPeriods().empty());
        source->Seek(0);
        EXPECT_NE(source->GetCurrentFrame(), nullptr) << "a frame to show";
    }
    EXPECT_EQ(ids, (std::vector<std::wstring>{L"1", L"2", L"3", L"4"}));
}

}  // namespace
