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

// A picture of the same geometry is written over the last one without a
// clearing pass; a new geometry or layout starts from zeros.
TEST(ImageMediaSample, ClearsOnlyForANewGeometry) {
    render::ImageMediaSample sample(true);
    int pitch = 0;
    struct Step {
        int width, height;
        bool planar;
        bool keepsLast;  // the bytes of the last picture are still there
        int pitch;
        size_t bytes;
    };
    const Step steps[] = {
        {5, 4, false, false, 20, 80},
        {5, 4, false, true, 20, 80},
        {5, 4, true, false, 6, 6 * 4 * 3 / 2 + 6},
        {5, 4, true, true, 6, 6 * 4 * 3 / 2 + 6},
        {7, 4, true, false, 8, 8 * 4 * 3 / 2 + 8},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height) + (s.planar ? " planar" : " packed"));
        uchar* p = sample.GetBuffer(QSize(s.width, s.height), pitch, s.planar);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(pitch, s.pitch);
        ASSERT_EQ(sample.Bytes().size(), s.bytes);
        EXPECT_EQ(p[0], s.keepsLast ? 0xAB : 0);
        EXPECT_EQ(p[s.bytes - 1], s.keepsLast ? 0xCD : 0);
        p[0] = 0xAB;
        p[s.bytes - 1] = 0xCD;
    }
    EXPECT_EQ(sample.GetBuffer(QSize(0, 4), pitch, false), nullptr);
    render::ImageMediaSample packedOnly(false);
    EXPECT_EQ(packedOnly.GetBuffer(QSize(4, 4), pitch, true), nullptr);
}
