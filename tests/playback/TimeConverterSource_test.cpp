#include "playback/TimeConverterSource.h"

#include <stdexcept>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "PlaybackTestSupport.h"
#include "media/TimeConversion.h"

using playbacktest::ScriptedSource;

namespace {

std::shared_ptr<utils::TimeConverter> ConverterOf(const filters::IVideoSource& source) {
    auto converter = std::make_shared<utils::TimeConverter>();
    converter->BuildArchivePeriods({&source.GetPeriods()});
    converter->RebuildContinuous();
    return converter;
}

}  // namespace

TEST(TimeConverterSource, RefusesEmptyArguments) {
    auto inner = boost::make_shared<ScriptedSource>(std::vector<int64_t>{1000}, std::vector<filters::RecordPeriod>{{1000, 40}});
    auto converter = ConverterOf(*inner);
    for (int k = 0; k < 2; ++k) {
        try {
            filters::TimeConverterSource s(k == 0 ? nullptr : inner, k == 1 ? nullptr : converter);
            FAIL() << k;
        } catch (const std::exception& e) {
            EXPECT_STREQ(e.what(), "Invalid arguments");
        }
    }
}

TEST(TimeConverterSource, ReportsContinuousTimesAndSeeksInArchiveTime) {
    const std::vector<filters::RecordPeriod> periods{{1000, 1000}, {5000, 1000}};
    auto inner = boost::make_shared<ScriptedSource>(std::vector<int64_t>{1000, 1500, 3000, 5500, 5999}, periods);
    auto converter = ConverterOf(*inner);
    filters::TimeConverterSource source(inner, converter);
    EXPECT_EQ(&source.GetPeriods(), &converter->GetContinuousPeriods());

    struct Case {
        int64_t seek;          // continuous
        int64_t innerSeek;     // archive
        int64_t current, next; // continuous
    };
    const Case cases[] = {
        {1500, 5500, 1500, 1999},
        {1000, 5000, 0, 0},      // before the frame at 5500: the inner source stays at 3000 (gap)
        {999, 2000, 500, 999},   // the frame at 1500; its next one (3000) lies in the gap
        {0, 1000, 0, 500},
        {1999, 6000, 1999, 1999},
    };
    for (const auto& c : cases) {
        source.Seek(c.seek);
        EXPECT_EQ(inner->lastSeek.load(), c.innerSeek) << c.seek;
        if (c.seek == 1000) {
            EXPECT_EQ(inner->GetCurrentTime(), 3000);
            EXPECT_EQ(source.GetCurrentTime(), 999);
            continue;
        }
        EXPECT_EQ(source.GetCurrentTime(), c.current) << c.seek;
        EXPECT_EQ(source.GetNextTime(), c.next) << c.seek;
    }
    // Frames keep their archive stamps; the rest is forwarded.
    source.Seek(1500);
    EXPECT_EQ(filters::FrameTimeMs(*source.GetCurrentFrame()), 5500);
    EXPECT_EQ(source.GetTimeShift(), 3600);
    EXPECT_TRUE(source.GetSampleFlag());
    EXPECT_FALSE(source.IsAtEnd());
    EXPECT_EQ(filters::FrameTimeMs(*source.NextFrame()), 5999);
    EXPECT_TRUE(source.IsAtEnd());
}

TEST(TimeConverterSource, EmptySourcesAndConvertersReportZero) {
    auto empty = boost::make_shared<ScriptedSource>(std::vector<int64_t>{}, std::vector<filters::RecordPeriod>{{1000, 1000}});
    filters::TimeConverterSource a(empty, ConverterOf(*empty));
    EXPECT_EQ(a.GetNextTime(), 0);  // no next frame
    EXPECT_EQ(a.GetCurrentTime(), 0);

    auto inner = boost::make_shared<ScriptedSource>(std::vector<int64_t>{5500}, std::vector<filters::RecordPeriod>{{5000, 1000}});
    filters::TimeConverterSource b(inner, std::make_shared<utils::TimeConverter>());
    EXPECT_EQ(b.GetCurrentTime(), 0);
    EXPECT_EQ(b.GetNextTime(), 0);
    EXPECT_TRUE(b.GetPeriods().empty());
    b.Seek(1234);
    EXPECT_EQ(inner->lastSeek.load(), 0);
}
