// The channel description of the source browser: its five lines, and the
// sources that have none.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "base/VideoFrame.h"
#include "gui/sources/VideoSequenceItemInfo.h"
#include "FakeSource.h"
#include "GuiTestApp.h"

namespace {

using guitest::FakeSource;

TEST(VideoSequenceItemInfo, FiveLinesOfAMediaFile)
{
    guitest::Application();
    const int64_t begin = 1551675967000;  // 2019-03-04 05:06:07 UTC
    const struct {
        std::vector<filters::RecordPeriod> periods;
        int offset;
        std::string text;
    } cases[] = {
        {{{begin, 3725000}},
         0,
         "Codec: h264\nResolution: 64x48\nBegin: 03/04/19 05:06:07\nEnd: 03/04/19 06:08:12\n"
         "Duration: 01:02:05 (h:m:s)"},
        // Hours are not wrapped; the offset moves both times.
        {{{begin, 3600000LL * 60}, {begin + 3600000LL * 61, 3600000LL * 40}},
         3600,
         "Codec: h264\nResolution: 64x48\nBegin: 03/04/19 06:06:07\nEnd: 03/08/19 11:06:07\n"
         "Duration: 100:00:00 (h:m:s)"},
        // Nothing recorded: both times are the epoch moved by the offset.
        {{}, -60, "Codec: h264\nResolution: 64x48\nBegin: 12/31/69 23:59:00\nEnd: 12/31/69 23:59:00\n"
                  "Duration: 00:00:00 (h:m:s)"},
    };
    for (const auto& c : cases) {
        auto source = boost::make_shared<FakeSource>(L"Gate", c.periods);
        source->media = filters::MediaInfo{"h264"};
        source->timeShift = c.offset;
        source->SetFrame(64, 48);
        EXPECT_EQ(VideoSequenceItemInfo(source).ToString(), c.text);
    }
}

TEST(VideoSequenceItemInfo, EmptyWithoutFrameOrMediaInformation)
{
    guitest::Application();
    auto archive = boost::make_shared<FakeSource>(L"Cam", std::vector<filters::RecordPeriod>{{0, 1000}});
    archive->SetFrame(64, 48);
    EXPECT_EQ(VideoSequenceItemInfo(archive).ToString(), "");  // archive channels carry no media information

    auto noFrame = boost::make_shared<FakeSource>(L"Gate", std::vector<filters::RecordPeriod>{{0, 1000}});
    noFrame->media = filters::MediaInfo{"h264"};
    EXPECT_EQ(VideoSequenceItemInfo(noFrame).ToString(), "");
}

}  // namespace
