#include "media/MediaSamplePin.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "media/MediaSample.h"
#include "media/MediaSampleTitles.h"

TEST(MediaSamplePin, HoldsTheChannelsSizeSampleAndTitlesAndCountsFrames) {
    auto sample = std::make_shared<render::ImageMediaSample>(true);
    render::MediaSamplePin pin(sample);
    EXPECT_EQ(pin.GetSample(), sample);
    EXPECT_EQ(pin.GetTargetWidth(), -1);
    EXPECT_EQ(pin.GetTargetHeight(), -1);
    pin.SetTargetSize(320, 240);
    EXPECT_EQ(pin.GetTargetWidth(), 320);
    EXPECT_EQ(pin.GetTargetHeight(), 240);

    // The titles set belongs to the channel's player: the pin does not keep
    // it alive.
    auto titles = boost::make_shared<render::Titles>();
    pin.SetTitles(titles);
    EXPECT_EQ(pin.GetTitles(), titles);
    titles.reset();
    EXPECT_EQ(pin.GetTitles(), nullptr);

    int redraws = 0;
    pin.FrameReady();  // no redraw request yet
    pin.SetRedrawRequest([&] { ++redraws; });
    pin.FrameReady();
    EXPECT_EQ(pin.GetFrameReadyCount(), 2u);
    EXPECT_EQ(redraws, 1);
    EXPECT_TRUE(pin.HasNewFrame());
    pin.ClearNewFrame();
    EXPECT_FALSE(pin.HasNewFrame());
}

TEST(MediaSamplePin, SamplesKeepTheValuesOfTheirPicture) {
    render::ImageMediaSample sample;
    EXPECT_EQ(sample.GetTitles(), nullptr);
    EXPECT_EQ(sample.GetTimeShift(), 0);
    EXPECT_FALSE(sample.GetFlag());
    auto titles = boost::make_shared<render::Titles>();
    sample.SetTitles(titles);
    sample.SetTimeShift(-7200);
    sample.SetFlag(true);
    EXPECT_EQ(sample.GetTitles(), titles);
    EXPECT_EQ(sample.GetTimeShift(), -7200);
    EXPECT_TRUE(sample.GetFlag());
}
