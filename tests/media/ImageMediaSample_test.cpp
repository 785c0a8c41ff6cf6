// The values an in-memory sample keeps with its picture.

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "media/MediaSample.h"
#include "render/Titles.h"

TEST(ImageMediaSample, KeepsTheValuesOfItsPicture) {
    render::ImageMediaSample sample;
    EXPECT_EQ(sample.GetTitles(), nullptr);
    EXPECT_EQ(sample.GetTimeOffset(), 0);
    EXPECT_FALSE(sample.IsSigned());
    auto titles = boost::make_shared<render::Titles>();
    sample.SetTitles(titles);
    sample.SetTimeOffset(-7200);
    sample.SetSigned(true);
    sample.SetTime(1234);
    EXPECT_EQ(sample.GetTitles(), titles);
    EXPECT_EQ(sample.GetTimeOffset(), -7200);
    EXPECT_TRUE(sample.IsSigned());
    EXPECT_EQ(sample.GetTime(), 1234);
}
