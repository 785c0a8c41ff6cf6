// The sample archive of scripts/play.sh opens with its four channels, each
// a real job: 1280x720 at 25 frames per second, two recordings (two minutes,
// a half-minute gap, one minute) that decode from their first frame and from
// a key frame inside.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "app/CommandLine.h"
#include "config/QApplicationSettings.h"
#include "media/SourceConfiguration.h"
#include "support/ArchiveTree.h"
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
    const int64_t start = testsupport::LocalUnixMs(2024, 1, 15, 10, 0, 0);
    std::vector<std::wstring> ids;
    for (const auto& source : sources) {
        SCOPED_TRACE(std::string(source->GetId().begin(), source->GetId().end()));
        ids.push_back(source->GetId());
        const auto& periods = source->GetPeriods();
        ASSERT_EQ(periods.size(), 2u) << "two recordings with a gap";
        EXPECT_EQ(periods[0].start, start);
        EXPECT_EQ(periods[0].length, 120'000);
        EXPECT_EQ(periods[1].start, start + 150'000);
        EXPECT_EQ(periods[1].length, 60'000);
        // The first frame of the first recording, and one a few seconds into
        // the second (decoded from the key frame before it).
        for (const int64_t at : {int64_t(0), start + 150'000 + 5'200}) {
            source->Seek(at);
            const VideoFrame* frame = source->GetCurrentFrame();
            ASSERT_NE(frame, nullptr) << "a frame to show at " << at;
            EXPECT_EQ(frame->m_nWidth, 1280);
            EXPECT_EQ(frame->m_nHeight, 720);
            EXPECT_EQ(source->GetCurrentTime(), std::max(at, start));
            EXPECT_EQ(source->GetNextTime() - source->GetCurrentTime(), 40) << "25 frames a second";
        }
    }
    EXPECT_EQ(ids, (std::vector<std::wstring>{L"1", L"2", L"3", L"4"}));
}

}  // namespace
