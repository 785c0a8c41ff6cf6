// Image placement, buffer growth, matrices and the pixel copies.

#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "render/ImagePlacement.h"
#include "render/Matrix.h"
#include "render/PixelCopies.h"

namespace {

TEST(GrowSize, CoversTheRequestInStepsAndNeverShrinks)
{
    struct Case {
        QSize current, requested, granularity, expected;
    };
    const Case cases[] = {
        {{640, 480}, {600, 400}, {256, 256}, {640, 480}},
        {{640, 480}, {700, 500}, {256, 256}, {768, 512}},
        {{-1, -1}, {720, 576}, {16, 16}, {720, 576}},
        {{-1, -1}, {721, 577}, {16, 16}, {736, 592}},
        {{640, 480}, {100, 500}, {1, 1}, {640, 500}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(render::GrowSize(c.current, c.requested, c.granularity), c.expected)
            << c.requested.width() << "x" << c.requested.height();
}

TEST(FitAspect, KeepsTheDisplayAspect)
{
    struct Case {
        QSize image;
        int rotation;
        QSizeF expected;
    };
    const Case cases[] = {
        {{704, 576}, 0, {800, 600}},     // PAL pixels shown as 4:3
        {{1920, 1080}, 0, {800, 450}},
        {{1920, 1080}, 90, {337.5, 600}},
        {{1920, 1080}, 270, {337.5, 600}},
        {{1920, 1080}, 180, {800, 450}},
        {{720, 288}, 0, {750, 600}},      // one field shown at full height
        {{0, 576}, 0, {800, 600}},        // no size yet: the whole target
        {{-1, -1}, 0, {800, 600}},
    };
    for (const Case& c : cases) {
        const QSizeF fit = render::FitAspect(QSizeF(800, 600), c.image, c.rotation);
        EXPECT_DOUBLE_EQ(fit.width(), c.expected.width()) << c.image.width() << "x" << c.image.height();
        EXPECT_DOUBLE_EQ(fit.height(), c.expected.height()) << c.image.width() << "x" << c.image.height();
    }
}

TEST(PlaceImage, CentresThePictureBetweenTwoBars)
{
    struct Case {
        QRectF target;
        QSize image;
        int rotation;
        QRectF image_, first, second;
    };
    const Case cases[] = {
        {{0, 0, 800, 600}, {1920, 1080}, 0, {0, 75, 800, 450}, {0, 0, 800, 75}, {0, 525, 800, 75}},
        {{100, 50, 800, 600}, {600, 600}, 0, {200, 50, 600, 600}, {100, 50, 100, 600}, {800, 50, 100, 600}},
        {{0, 0, 800, 600}, {1920, 1080}, 90, {231.25, 0, 337.5, 600}, {0, 0, 231.25, 600}, {568.75, 0, 231.25, 600}},
        {{0, 0, 800, 600}, {800, 600}, 0, {0, 0, 800, 600}, {0, 0, 0, 600}, {800, 0, 0, 600}},
    };
    for (const Case& c : cases) {
        render::ImagePlacement out;
        render::PlaceImage(c.target, c.image, out, c.rotation);
        EXPECT_EQ(out.image, c.image_);
        EXPECT_EQ(out.firstBar, c.first);
        EXPECT_EQ(out.secondBar, c.second);
    }
}

TEST(PlaceImageClipped, ShowsOnlyTheVisiblePartOfAZoomedPicture)
{
    // A 2x zoom of a 4:3 picture into an 800 x 600 pin: the box is twice the
    // pin, centred; the visible quarter is the middle of the texture.
    render::ImagePlacement out;
    render::PlaceImageClipped(QRectF(-400, -300, 1600, 1200), QSize(640, 480), QRectF(0, 0, 800, 600),
                              QRectF(0, 0, 0.5, 1), out, 0);
    EXPECT_EQ(out.image, QRectF(0, 0, 800, 600));
    EXPECT_EQ(out.texture, QRectF(0.125, 0.25, 0.25, 0.5));
    EXPECT_TRUE(out.firstBar.isEmpty());
    EXPECT_TRUE(out.secondBar.isEmpty());
}

render::Vector4 Apply(const render::Matrix4x4& m, const render::Vector4& v)
{
    render::Vector4 out{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out[r] += m[r * 4 + c] * v[c];
    return out;
}

void ExpectNear(const render::Vector4& actual, const render::Vector4& expected)
{
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(actual[i], expected[i], 1e-12) << "component " << i;
}

TEST(Matrices, OrthoBasisRotationAndFrustum)
{
    const render::Box box{{0, 0, -1000, 1}, {800, 600, 2000, 1}};
    const render::Matrix4x4 ortho = render::MakeOrthoMatrix(box, true);
    ExpectNear(Apply(ortho, {0, 0, 0, 1}), {-1, 1, 0, 1});
    ExpectNear(Apply(ortho, {800, 600, 0, 1}), {1, -1, 0, 1});
    ExpectNear(Apply(ortho, {400, 300, 1000, 1}), {0, 0, 1, 1});
    const render::Matrix4x4 up = render::MakeOrthoMatrix(box, false);
    ExpectNear(Apply(up, {0, 0, 0, 1}), {-1, -1, 0, 1});

    const render::Matrix4x4 identity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    EXPECT_EQ(render::MakeBasisMatrix({0, 0, 0, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}), identity);
    EXPECT_EQ(render::MakeRotationMatrix(render::Quaternion{0, 0, 0, 1}), identity);
    const render::Matrix4x4 moved = render::MakeBasisMatrix({5, 6, 7, 0}, {0, 1, 0, 0}, {0, 0, 1, 0});
    EXPECT_EQ(Apply(moved, {1, 0, 0, 1}), (render::Vector4{5, 6, 8, 1}));  // a x b = (1, 0, 0)

    // A quarter turn about z takes x to y.
    const double s = std::sqrt(0.5);
    const render::Vector4 turned = Apply(render::MakeRotationMatrix({0, 0, s, s}), {1, 0, 0, 1});
    EXPECT_NEAR(turned[0], 0, 1e-12);
    EXPECT_NEAR(turned[1], 1, 1e-12);

    // The box's near corners land on the corners of the clip volume.
    const render::Box window{{-4, -3, 10, 1}, {8, 6, 90, 1}};
    const render::Matrix4x4 frustum = render::MakeFrustumMatrix(window, 10);
    const render::Vector4 corner = Apply(frustum, {4, 3, -10, 1});
    EXPECT_NEAR(corner[0] / corner[3], 1, 1e-12);
    EXPECT_NEAR(corner[1] / corner[3], 1, 1e-12);
    EXPECT_NEAR(corner[2] / corner[3], -1, 1e-12);
}

// A YV12 picture of w x h with recognisable bytes per plane.
struct Planes {
    Planes(int w, int h) : width(w), height(h), y(w * h), v(w * h / 4), u(w * h / 4)
    {
        for (size_t i = 0; i < y.size(); ++i)
            y[i] = static_cast<uint8_t>(i % 251);
        for (size_t i = 0; i < v.size(); ++i) {
            v[i] = static_cast<uint8_t>(i % 13);
            u[i] = static_cast<uint8_t>(200 + i % 17);
        }
    }
    render::PlaneSet Set(bool chroma = true) const
    {
        render::PlaneSet set;
        set.planes[0] = y.data();
        set.planes[1] = chroma ? v.data() : nullptr;
        set.planes[2] = chroma ? u.data() : nullptr;
        set.pitches[0] = width;
        set.pitches[1] = set.pitches[2] = width / 2;
        return set;
    }
    int width, height;
    std::vector<uint8_t> y, v, u;
};

TEST(CopyImagePlanes, CopiesHalvesAndFillsAbsentPlanes)
{
    const Planes source(8, 4);
    const int pitch = 16, rows = 6;  // a larger buffer than the picture
    std::vector<uint8_t> dst(pitch * rows * 3 / 2 + 8, 0xEE);
    uint8_t* v = dst.data() + pitch * rows;
    uint8_t* u = v + (pitch / 2) * (rows / 2);

    render::CopyImagePlanes(source.Set(), QSize(8, 4), dst.data(), pitch, rows, QSize(8, 4));
    for (int j = 0; j < 4; ++j)
        EXPECT_EQ(0, std::memcmp(dst.data() + j * pitch, source.y.data() + j * 8, 8)) << "row " << j;
    EXPECT_EQ(dst[8], 0xEE) << "nothing past the row";
    EXPECT_EQ(0, std::memcmp(v + 8, source.v.data() + 4, 4));
    EXPECT_EQ(0, std::memcmp(u + 8, source.u.data() + 4, 4));

    std::fill(dst.begin(), dst.end(), 0xEE);
    render::CopyImagePlanes(source.Set(), QSize(8, 4), dst.data(), pitch, rows, QSize(4, 2));
    EXPECT_EQ(dst[0], source.y[0]);
    EXPECT_EQ(dst[1], source.y[2]);
    EXPECT_EQ(dst[3], source.y[6]);
    EXPECT_EQ(dst[4], 0xEE);
    EXPECT_EQ(dst[pitch], source.y[2 * 8]);
    EXPECT_EQ(dst[pitch + 1], source.y[2 * 8 + 2]);
    EXPECT_EQ(dst[2 * pitch], 0xEE) << "two rows";
    EXPECT_EQ(v[0], source.v[0]);
    EXPECT_EQ(v[1], source.v[2]);
    EXPECT_EQ(u[1], source.u[2]);

    std::fill(dst.begin(), dst.end(), 0xEE);
    render::CopyImagePlanes(source.Set(false), QSize(8, 4), dst.data(), pitch, rows, QSize(8, 4));
    EXPECT_EQ(0, std::memcmp(dst.data() + pitch, source.y.data() + 8, 8));
    for (int i = 0; i < (pitch / 2) * 2; ++i) {
        ASSERT_EQ(v[i], 128) << i;
        ASSERT_EQ(u[i], 128) << i;
    }
    EXPECT_EQ(v[(pitch / 2) * 2], 0xEE) << "only the copied rows";
}

TEST(CopyImagePlanes, HalvingWideRowsTakesEveryOtherByte)
{
    // Rows long enough for the vector loop and a tail.
    const Planes source(76, 8);
    const int pitch = 40, rows = 4;
    std::vector<uint8_t> dst(pitch * rows * 3 / 2, 0xEE);
    render::CopyImagePlanes(source.Set(), QSize(76, 8), dst.data(), pitch, rows, QSize(38, 4));
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 38; ++i)
            ASSERT_EQ(dst[j * pitch + i], source.y[(2 * j) * 76 + 2 * i]) << j << "," << i;
    EXPECT_EQ(dst[38], 0xEE);
    const uint8_t* v = dst.data() + pitch * rows;
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 19; ++i)
            ASSERT_EQ(v[j * (pitch / 2) + i], source.v[(2 * j) * 38 + 2 * i]) << j << "," << i;
}

TEST(CopyImagePlanes, NeverWritesPastTheDestination)
{
    const Planes source(32, 16);
    const int pitch = 8, rows = 4;
    std::vector<uint8_t> dst(pitch * rows * 3 / 2 + 16, 0xEE);
    render::CopyImagePlanes(source.Set(), QSize(32, 16), dst.data(), pitch, rows, QSize(32, 16));
    for (size_t i = pitch * rows * 3 / 2; i < dst.size(); ++i)
        ASSERT_EQ(dst[i], 0xEE) << i;
    EXPECT_EQ(0, std::memcmp(dst.data() + pitch, source.y.data() + 32, pitch));
}

TEST(PixelCopies, CopyRect32AndFlipRows)
{
    std::vector<uint32_t> src(4 * 3), dst(5 * 4, 0);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<uint32_t>(i);
    render::CopyRect32(reinterpret_cast<const uint8_t*>(src.data()), 16, reinterpret_cast<uint8_t*>(dst.data()), 20,
                       QRect(QPoint(1, 1), QPoint(2, 2)), QPoint(3, 2));
    EXPECT_EQ(dst[2 * 5 + 3], 5u);
    EXPECT_EQ(dst[2 * 5 + 4], 6u);
    EXPECT_EQ(dst[3 * 5 + 3], 9u);
    EXPECT_EQ(dst[3 * 5 + 2], 0u);

    render::FlipRows(reinterpret_cast<uint8_t*>(src.data()), QSize(4, 3));
    EXPECT_EQ(src[0], 8u);
    EXPECT_EQ(src[4], 4u);
    EXPECT_EQ(src[8], 0u);

    try {
        render::CopyRect32(nullptr, 16, reinterpret_cast<uint8_t*>(dst.data()), 20, QRect(0, 0, 1, 1), QPoint());
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "CopyImage8uC4 error");
    }
}

}  // namespace

// Each output sample is the rounded mean of its 2 x 2 block, for widths
// below, at and past the vector loop's 16 samples, with pitches wider than
// the rows; nothing right of the output row is written.
TEST(HalvePlane, RoundedMeansOfTwoByTwoBlocks)
{
    struct Case {
        int width;  // output samples per row
        int height;
    };
    for (const Case c : {Case{1, 1}, Case{15, 2}, Case{16, 3}, Case{17, 2}, Case{40, 3}}) {
        SCOPED_TRACE(c.width);
        const int srcPitch = 2 * c.width + 5, dstPitch = c.width + 3;
        std::vector<uint8_t> src(static_cast<size_t>(srcPitch) * 2 * c.height);
        for (size_t i = 0; i < src.size(); ++i)
            src[i] = static_cast<uint8_t>((i * 37 + i / 7) % 256);
        // A block of extremes and one whose sum needs rounding up.
        src[0] = src[1] = src[srcPitch] = src[srcPitch + 1] = 255;
        if (c.width > 1) {
            src[2] = src[3] = src[srcPitch + 2] = 1;
            src[srcPitch + 3] = 0;
        }
        std::vector<uint8_t> dst(static_cast<size_t>(dstPitch) * c.height, 0xEE);
        render::HalvePlane(src.data(), srcPitch, dst.data(), dstPitch, QSize(c.width, c.height));
        EXPECT_EQ(dst[0], 255);
        if (c.width > 1) {
            EXPECT_EQ(dst[1], 1) << "(1 + 1 + 1 + 0 + 2) / 4";
        }
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                const uint8_t* top = src.data() + 2 * y * srcPitch + 2 * x;
                const int mean = (top[0] + top[1] + top[srcPitch] + top[srcPitch + 1] + 2) / 4;
                ASSERT_EQ(dst[y * dstPitch + x], mean) << x << "," << y;
            }
            EXPECT_EQ(dst[y * dstPitch + c.width], 0xEE) << "row " << y;
        }
    }
}
