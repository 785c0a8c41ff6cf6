// The system-memory texture: buffer layouts and growth, layer updates and
// read-back.

#include <gtest/gtest.h>

#include "render/MemoryTexture.h"

namespace {

TEST(MemoryTexture, BuffersGrowByGranularityAndKeepTheirLayout)
{
    render::MemoryTexture texture(QSize(64, 64), true);
    EXPECT_EQ(texture.GetImageSize(), QSize(-1, -1));
    EXPECT_EQ(texture.GetSourceRect(), QRectF(0, 0, 0, 0));
    int pitch = 0;
    ASSERT_NE(texture.GetBuffer(QSize(100, 40), pitch, false), nullptr);
    EXPECT_EQ(pitch, 128 * 4);
    EXPECT_EQ(texture.BufferSize(), QSize(128, 64));
    EXPECT_EQ(texture.GetSourceRect(), QRectF(0, 0, 100.0 / 128, 40.0 / 64));
    ASSERT_NE(texture.GetBuffer(QSize(10, 10), pitch, true), nullptr);
    EXPECT_EQ(pitch, 128) << "never shrinks";
    EXPECT_EQ(texture.Bytes().size(), 128u * 64 * 3 / 2);
    EXPECT_EQ(texture.GetBuffer(QSize(0, 10), pitch, false), nullptr);

    render::MemoryTexture packedOnly(QSize(1, 1), false);
    EXPECT_EQ(packedOnly.GetBuffer(QSize(4, 4), pitch, true), nullptr);
}

TEST(MemoryTexture, UpdatesClipDirtyRectanglesToTheImage)
{
    render::MemoryTexture texture(QSize(1, 1), false);
    std::vector<quint32> image(8 * 4);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = 0xFF000000u | static_cast<quint32>(i);
    const std::vector<QRect> dirty{QRect(6, 2, 10, 10), QRect(-5, -5, 6, 6), QRect(20, 20, 2, 2)};
    texture.Update(reinterpret_cast<const uchar*>(image.data()), QSize(8, 4), 32, &dirty);
    EXPECT_EQ(texture.TakeDirty(), (std::vector<QRect>{QRect(6, 2, 2, 2), QRect(0, 0, 1, 1)}));

    std::vector<quint32> read(3 * 3, 0);
    texture.ReadPixels(QRect(6, 2, 3, 3), reinterpret_cast<uchar*>(read.data()), 12);
    EXPECT_EQ(read[0], image[2 * 8 + 6]);
    EXPECT_EQ(read[1], image[2 * 8 + 7]);
    EXPECT_EQ(read[2], 0xFF000000u) << "outside the image";
    EXPECT_EQ(read[3 + 1], image[3 * 8 + 7]);
    EXPECT_EQ(read[6], 0xFF000000u);
    texture.ReadPixels(QRect(1, 0, 1, 1), reinterpret_cast<uchar*>(read.data()), 12);
    EXPECT_EQ(read[0], 0u) << "not updated yet";

    texture.Update(reinterpret_cast<const uchar*>(image.data()), QSize(8, 4), 32, nullptr);
    EXPECT_EQ(texture.TakeDirty(), std::vector<QRect>{QRect(0, 0, 8, 4)});
}

}  // namespace
