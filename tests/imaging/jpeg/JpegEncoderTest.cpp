#include <gtest/gtest.h>

#include <turbojpeg.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "EncodeHelpers.h"
#include "imaging/primitives/CpuDispatch.h"

using namespace jpeg_test;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Segment(const Bytes& jpeg, std::uint8_t code)
{
    const std::ptrdiff_t at = FindSegment(jpeg, code);
    if (at < 0)
        return {};
    const std::size_t length = static_cast<std::size_t>(jpeg[at + 2]) << 8 | jpeg[at + 3];
    return Bytes(jpeg.begin() + at, jpeg.begin() + at + 2 + static_cast<std::ptrdiff_t>(length));
}

void Append(Bytes& out, std::initializer_list<int> bytes)
{
    for (int b : bytes)
        out.push_back(static_cast<std::uint8_t>(b));
}

EncodeOptions GreyOptions(int quality = 75)
{
    EncodeOptions o;
    o.jpegColour = JpegColorGrey;
    o.jpegSampling = JpegSampling444;
    o.quality = quality;
    return o;
}

Bytes Noise(std::size_t n, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(64 + (i * 3) % 97 + rng() % 32);
    return b;
}

// A copy of a w x h plane grown to pw x ph by repeating its last column and
// row.
Bytes Extend(const Bytes& plane, int w, int h, int pw, int ph)
{
    Bytes out(static_cast<std::size_t>(pw) * ph);
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x)
            out[y * pw + x] = plane[std::min(y, h - 1) * w + std::min(x, w - 1)];
    return out;
}

}  // namespace

TEST(JpegEncoderHeader, GreyImageAtQuality50)
{
    const Bytes pixels(16 * 16, 100);
    const Encoded e = EncodePixels(pixels.data(), 16, {16, 16}, 1, JpegColorGrey, JpegSampling444, GreyOptions(50));
    ASSERT_EQ(e.status, 0);

    Bytes expected;
    Append(expected, {0xFF, 0xD8});
    Append(expected, {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x02, 0x00, 0x00, 0x01, 0x00, 0x01,
                      0x00, 0x00});
    const std::string banner = "Gavex Imglib JPEG encoder [2.4.1093] - Mar  3 2013";
    ASSERT_EQ(banner.size(), 50u);
    Append(expected, {0xFF, 0xFE, 0x00, 53});
    expected.insert(expected.end(), banner.begin(), banner.end());
    expected.push_back(0);
    // Table K.1 in zig-zag order.
    Append(expected, {0xFF, 0xDB, 0x00, 0x43, 0x00});
    Append(expected, {16, 11, 12, 14, 12, 10, 16, 14, 13, 14, 18, 17, 16, 19, 24, 40,  26, 24,  22,  22,  24, 49,
                      35, 37, 29, 40, 58, 51, 61, 60, 57, 51, 56, 55, 64, 72, 92, 78,  64, 68,  87,  69,  55, 56,
                      80, 109, 81, 87, 95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99});
    Append(expected, {0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x10, 0x00, 0x10, 0x01, 0x00, 0x11, 0x00});
    // Tables K.3 and K.5.
    Append(expected, {0xFF, 0xC4, 0x00, 0x1F, 0x00, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0});
    Append(expected, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    Append(expected, {0xFF, 0xC4, 0x00, 0xB5, 0x10, 0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D});
    expected.insert(expected.end(), kStandardAcLuminance.values, kStandardAcLuminance.values + 162);
    Append(expected, {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x00, 0x00, 0x00, 0x3F, 0x00});

    ASSERT_GT(e.bytes.size(), expected.size() + 2);
    EXPECT_EQ(Bytes(e.bytes.begin(), e.bytes.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected)
        << Hex(e.bytes, 400);
    EXPECT_EQ(Bytes(e.bytes.end() - 2, e.bytes.end()), (Bytes{0xFF, 0xD9}));
}

TEST(JpegEncoderHeader, ColourImagesDescribeTheirComponents)
{
    const Bytes rgb = Noise(32 * 16 * 3, 1);
    const Encoded e = EncodePixels(rgb.data(), 96, {32, 16}, 3, JpegColorRgb, JpegSampling444, EncodeOptions{});
    ASSERT_EQ(e.status, 0);
    EXPECT_EQ(Segment(e.bytes, 0xC0), (Bytes{0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x10, 0x00, 0x20, 0x03, 0x00, 0x22,
                                             0x00, 0x01, 0x11, 0x01, 0x02, 0x11, 0x01}));
    EXPECT_EQ(Segment(e.bytes, 0xDA), (Bytes{0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x00, 0x00, 0x01, 0x11, 0x02, 0x11, 0x00,
                                             0x3F, 0x00}));
    EXPECT_FALSE(Segment(e.bytes, 0xE0).empty());
    EXPECT_TRUE(Segment(e.bytes, 0xEE).empty());

    // RGB kept as RGB: Adobe segment with transform 0, one table for all.
    EncodeOptions asRgb;
    asRgb.jpegColour = JpegColorRgb;
    asRgb.jpegSampling = JpegSampling444;
    const Encoded r = EncodePixels(rgb.data(), 96, {32, 16}, 3, JpegColorRgb, JpegSampling444, asRgb);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(Segment(r.bytes, 0xEE),
              (Bytes{0xFF, 0xEE, 0x00, 0x0E, 'A', 'd', 'o', 'b', 'e', 0x00, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Segment(r.bytes, 0xC0), (Bytes{0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x10, 0x00, 0x20, 0x03, 0x00, 0x11,
                                             0x00, 0x01, 0x11, 0x00, 0x02, 0x11, 0x00}));
}

TEST(JpegEncoderHeader, QualityAbove100GivesTablesOfOnes)
{
    const Bytes pixels = Noise(64, 2);
    const Encoded a = EncodePixels(pixels.data(), 8, {8, 8}, 1, JpegColorGrey, JpegSampling444, GreyOptions(100));
    const Encoded b = EncodePixels(pixels.data(), 8, {8, 8}, 1, JpegColorGrey, JpegSampling444, GreyOptions(120));
    ASSERT_EQ(a.status, 0);
    ASSERT_EQ(b.status, 0);
    const Bytes dqt = Segment(a.bytes, 0xDB);
    ASSERT_EQ(dqt.size(), 69u);
    for (std::size_t i = 5; i < dqt.size(); ++i)
        EXPECT_EQ(dqt[i], 1);
    EXPECT_EQ(a.bytes, b.bytes);
}

TEST(JpegEncoderHeader, ExtendedAndProgressiveHeaders)
{
    Bytes pixels = Noise(16 * 16 * 2, 3);
    for (std::size_t i = 1; i < pixels.size(); i += 2)
        pixels[i] &= 0x0F;  // 12-bit samples, little-endian words
    Bytes block(65536);
    CMemBuffOutput out;
    out.AttachBuffer(block.data(), 65536);
    CJPEGEncoder extended;
    extended.SetSource(pixels.data(), 32, {16, 16}, 1, JpegColorGrey, JpegSampling444, 12);
    extended.SetDestination(&out);
    ASSERT_EQ(extended.SetParams(JpegModeExtended, JpegColorGrey, JpegSampling444, 0, 0, 50), 0);
    ASSERT_EQ(extended.WriteHeader(), 0);
    const Bytes header(block.begin(), block.begin() + out.Position());
    const Bytes dqt = Segment(header, 0xDB);
    ASSERT_EQ(dqt.size(), 133u);
    EXPECT_EQ(dqt[4], 0x10);
    EXPECT_EQ(dqt[5], 0);
    EXPECT_EQ(dqt[6], 16);  // 16-bit entries
    EXPECT_EQ(Segment(header, 0xC1), (Bytes{0xFF, 0xC1, 0x00, 0x0B, 12, 0x00, 0x10, 0x00, 0x10, 0x01, 0x00, 0x11, 0x00}));
    // Huffman tables from the image's own statistics.
    EXPECT_FALSE(Segment(header, 0xC4).empty());
    EXPECT_EQ(extended.WriteData(), 0);

    CMemBuffOutput out3;
    out3.AttachBuffer(block.data(), 65536);
    CJPEGEncoder progressive;
    progressive.SetSource(pixels.data(), 48, {16, 16}, 3, JpegColorRgb, JpegSampling444, 8);
    progressive.SetDestination(&out3);
    ASSERT_EQ(progressive.SetParams(JpegModeProgressive, JpegColorYCbCr, JpegSampling420, 0, 0, 75), 0);
    ASSERT_EQ(progressive.WriteHeader(), 0);
    const Bytes header3(block.begin(), block.begin() + out3.Position());
    EXPECT_FALSE(Segment(header3, 0xC2).empty());
    EXPECT_TRUE(Segment(header3, 0xC4).empty());

    CJPEGEncoder twoComponents;
    twoComponents.SetSource(pixels.data(), 32, {16, 16}, 2, JpegColorOther, JpegSampling444, 8);
    twoComponents.SetDestination(&out3);
    ASSERT_EQ(twoComponents.SetParams(JpegModeProgressive, JpegColorOther, JpegSampling444, 0, 0, 75), 0);
    EXPECT_EQ(twoComponents.WriteHeader(), -1);
}

// Baseline with optimised Huffman tables: still a baseline frame with at most
// two tables of each class, tables of its own, fewer bytes, and the very
// samples of the standard-table file in TurboJPEG (the coefficients are the
// same), with and without restarts.
TEST(JpegEncoderHuffman, OptimisedBaselineTablesCodeTheSameCoefficientsInFewerBytes)
{
    struct Case {
        const char* name;
        JpegColor colour;
        JpegSampling sampling;
        int channels;
        int restart;
        std::size_t tables;
    };
    const Case cases[] = {
        {"grey", JpegColorGrey, JpegSampling444, 1, 0, 2},
        {"grey, restarts", JpegColorGrey, JpegSampling444, 1, 3, 2},
        {"4:2:0", JpegColorYCbCr, JpegSampling420, 3, 0, 4},
        {"4:2:0, restarts", JpegColorYCbCr, JpegSampling420, 3, 2, 4},
        {"4:4:4 RGB", JpegColorRgb, JpegSampling444, 3, 0, 2},
    };
    const ImageSize size{61, 45};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes pixels = Noise(static_cast<std::size_t>(size.width) * size.height * c.channels, 9);
        const JpegColor source = c.channels == 1 ? JpegColorGrey : JpegColorRgb;
        EncodeOptions options;
        options.jpegColour = c.colour;
        options.jpegSampling = c.sampling;
        options.restartInterval = c.restart;
        const Encoded standard =
            EncodePixels(pixels.data(), size.width * c.channels, size, c.channels, source, c.sampling, options);
        options.optimiseHuffman = 1;
        const Encoded optimised =
            EncodePixels(pixels.data(), size.width * c.channels, size, c.channels, source, c.sampling, options);
        ASSERT_EQ(standard.status, 0);
        ASSERT_EQ(optimised.status, 0);
        EXPECT_FALSE(Segment(optimised.bytes, 0xC0).empty());
        EXPECT_LT(optimised.bytes.size(), standard.bytes.size());
        // Every DHT segment, and the class and id of each of its tables.
        std::vector<int> ids;
        std::size_t end = 2;
        for (std::ptrdiff_t at = FindSegment(optimised.bytes, 0xC4); at >= 0;
             at = FindSegment(optimised.bytes, 0xC4, end)) {
            end = static_cast<std::size_t>(at) + 2 +
                  (static_cast<std::size_t>(optimised.bytes[at + 2]) << 8 | optimised.bytes[at + 3]);
            for (std::size_t t = static_cast<std::size_t>(at) + 4; t < end;) {
                ids.push_back(optimised.bytes[t]);
                std::size_t count = 0;
                for (int k = 1; k <= 16; ++k)
                    count += optimised.bytes[t + k];
                t += 17 + count;
            }
        }
        ASSERT_EQ(ids.size(), c.tables);
        for (const int id : ids)
            EXPECT_LE(id & 0x0F, 1) << "table id " << id;
        EXPECT_NE(Segment(optimised.bytes, 0xC4), Segment(standard.bytes, 0xC4));

        const int format = c.channels == 1 ? TJPF_GRAY : TJPF_RGB;
        Bytes fromStandard(pixels.size()), fromOptimised(pixels.size());
        tjhandle handle = tjInitDecompress();
        EXPECT_EQ(tjDecompress2(handle, standard.bytes.data(), standard.bytes.size(), fromStandard.data(), size.width,
                                0, size.height, format, 0),
                  0);
        EXPECT_EQ(tjDecompress2(handle, optimised.bytes.data(), optimised.bytes.size(), fromOptimised.data(),
                                size.width, 0, size.height, format, 0),
                  0);
        tjDestroy(handle);
        EXPECT_EQ(fromOptimised, fromStandard);
    }
}

TEST(JpegEncoderRestarts, MarkersFollowEveryIntervalAndResetPredictors)
{
    // 40 x 8 grey: five MCUs of one flat value, so every restart interval of
    // two MCUs codes the same bytes when the predictor restarts at 0.
    const Bytes pixels(40 * 8, 200);
    EncodeOptions options = GreyOptions();
    options.restartInterval = 2;
    const Encoded e = EncodePixels(pixels.data(), 40, {40, 8}, 1, JpegColorGrey, JpegSampling444, options);
    ASSERT_EQ(e.status, 0);
    EXPECT_EQ(Segment(e.bytes, 0xDD), (Bytes{0xFF, 0xDD, 0x00, 0x04, 0x00, 0x02}));
    const Bytes scan = ScanData(e.bytes);
    std::vector<std::size_t> markers;
    for (std::size_t i = 0; i + 1 < scan.size(); ++i)
        if (scan[i] == 0xFF && scan[i + 1] != 0)
            markers.push_back(i);
    ASSERT_EQ(markers.size(), 2u);
    EXPECT_EQ(scan[markers[0] + 1], 0xD0);
    EXPECT_EQ(scan[markers[1] + 1], 0xD1);
    const Bytes first(scan.begin(), scan.begin() + static_cast<std::ptrdiff_t>(markers[0]));
    const Bytes second(scan.begin() + static_cast<std::ptrdiff_t>(markers[0]) + 2,
                       scan.begin() + static_cast<std::ptrdiff_t>(markers[1]));
    EXPECT_EQ(first, second);

    tjhandle handle = tjInitDecompress();
    Bytes decoded(40 * 8);
    EXPECT_EQ(tjDecompress2(handle, e.bytes.data(), e.bytes.size(), decoded.data(), 40, 0, 8, TJPF_GRAY, 0), 0);
    tjDestroy(handle);
    EXPECT_EQ(decoded, pixels);
}

TEST(JpegEncoderEdges, PaddingRepeatsTheLastColumnAndRow)
{
    struct Case {
        int w, h;
    };
    for (const Case c : {Case{17, 9}, Case{33, 1}, Case{1, 17}, Case{8, 8}}) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        const Bytes grey = Noise(static_cast<std::size_t>(c.w) * c.h, 4);
        const int pw = (c.w + 7) / 8 * 8, ph = (c.h + 7) / 8 * 8;
        const Bytes padded = Extend(grey, c.w, c.h, pw, ph);
        const Encoded a = EncodePixels(grey.data(), c.w, {c.w, c.h}, 1, JpegColorGrey, JpegSampling444, GreyOptions());
        const Encoded b = EncodePixels(padded.data(), pw, {pw, ph}, 1, JpegColorGrey, JpegSampling444, GreyOptions());
        ASSERT_EQ(a.status, 0);
        ASSERT_EQ(b.status, 0);
        EXPECT_EQ(ScanData(a.bytes), ScanData(b.bytes));

        // Planar 4:2:0: luma as above, chroma planes of half the size rounded
        // down, their last row and column repeated.
        const int cw = std::max(c.w / 2, 1), ch = std::max(c.h / 2, 1);
        const int qw = (c.w + 15) / 16 * 16, qh = (c.h + 15) / 16 * 16;
        const Bytes u = Noise(static_cast<std::size_t>(cw) * ch, 5), v = Noise(static_cast<std::size_t>(cw) * ch, 6);
        const Bytes yp = Extend(grey, c.w, c.h, qw, qh), up = Extend(u, cw, ch, qw / 2, qh / 2),
                    vp = Extend(v, cw, ch, qw / 2, qh / 2);
        const std::uint8_t* planes[3] = {grey.data(), u.data(), v.data()};
        const std::int32_t steps[3] = {c.w, cw, cw};
        const std::uint8_t* paddedPlanes[3] = {yp.data(), up.data(), vp.data()};
        const std::int32_t paddedSteps[3] = {qw, qw / 2, qw / 2};
        const Encoded p = EncodePlanes(planes, steps, {c.w, c.h}, EncodeOptions{});
        const Encoded q = EncodePlanes(paddedPlanes, paddedSteps, {qw, qh}, EncodeOptions{});
        ASSERT_EQ(p.status, 0);
        ASSERT_EQ(q.status, 0);
        EXPECT_EQ(ScanData(p.bytes), ScanData(q.bytes));
    }
}

TEST(JpegEncoderSources, ColourPairsConvertAsTheirPrimitives)
{
    const int w = 24, h = 16;
    const Bytes rgb = Noise(static_cast<std::size_t>(w) * h * 3, 7);
    Bytes bgr(rgb.size()), rgba(static_cast<std::size_t>(w) * h * 4);
    for (int i = 0; i < w * h; ++i) {
        bgr[3 * i] = rgb[3 * i + 2];
        bgr[3 * i + 1] = rgb[3 * i + 1];
        bgr[3 * i + 2] = rgb[3 * i];
        std::memcpy(&rgba[4 * i], &rgb[3 * i], 3);
        rgba[4 * i + 3] = 9;
    }
    const EncodeOptions ycc;
    const Encoded fromRgb = EncodePixels(rgb.data(), w * 3, {w, h}, 3, JpegColorRgb, JpegSampling444, ycc);
    const Encoded fromBgr = EncodePixels(bgr.data(), w * 3, {w, h}, 3, JpegColorBgr, JpegSampling444, ycc);
    ASSERT_EQ(fromRgb.status, 0);
    EXPECT_EQ(fromBgr.bytes, fromRgb.bytes);

    EncodeOptions keep;
    keep.jpegColour = JpegColorRgb;
    keep.jpegSampling = JpegSampling444;
    const Encoded rgbKept = EncodePixels(rgb.data(), w * 3, {w, h}, 3, JpegColorRgb, JpegSampling444, keep);
    const Encoded bgrKept = EncodePixels(bgr.data(), w * 3, {w, h}, 3, JpegColorBgr, JpegSampling444, keep);
    ASSERT_EQ(rgbKept.status, 0);
    EXPECT_EQ(bgrKept.bytes, rgbKept.bytes);

    const Encoded fromRgba = EncodePixels(rgba.data(), w * 4, {w, h}, 4, JpegColorRgba, JpegSampling444, ycc);
    ASSERT_EQ(fromRgba.status, 0);
    EncodeOptions toGrey = GreyOptions();
    const Encoded grey = EncodePixels(rgb.data(), w * 3, {w, h}, 3, JpegColorRgb, JpegSampling444, toGrey);
    ASSERT_EQ(grey.status, 0);
    EXPECT_EQ(Segment(grey.bytes, 0xC0)[9], 1);  // one component

    // Every one of them decodes in TurboJPEG close to the source.
    tjhandle handle = tjInitDecompress();
    for (const Encoded* e : {&fromRgb, &rgbKept, &fromRgba}) {
        Bytes decoded(rgb.size());
        ASSERT_EQ(tjDecompress2(handle, e->bytes.data(), e->bytes.size(), decoded.data(), w, 0, h, TJPF_RGB, 0), 0)
            << tjGetErrorStr2(handle);
        double error = 0;
        for (std::size_t i = 0; i < rgb.size(); ++i)
            error += std::abs(decoded[i] - rgb[i]);
        EXPECT_LT(error / static_cast<double>(rgb.size()), 12.0);
    }

    // CMYK kept, and as YCCK.
    Bytes cmyk(static_cast<std::size_t>(w) * h * 4);
    for (int i = 0; i < w * h; ++i) {
        for (int k = 0; k < 3; ++k)
            cmyk[4 * i + k] = static_cast<std::uint8_t>(255 - rgb[3 * i + k]);
        cmyk[4 * i + 3] = 30;
    }
    for (JpegColor target : {JpegColorCmyk, JpegColorYcck}) {
        EncodeOptions o;
        o.jpegColour = target;
        o.jpegSampling = JpegSampling444;
        const Encoded e = EncodePixels(cmyk.data(), w * 4, {w, h}, 4, JpegColorCmyk, JpegSampling444, o);
        ASSERT_EQ(e.status, 0);
        EXPECT_EQ(Segment(e.bytes, 0xEE).back(), target == JpegColorYcck ? 2 : 0);
        Bytes decoded(cmyk.size());
        ASSERT_EQ(tjDecompress2(handle, e.bytes.data(), e.bytes.size(), decoded.data(), w, 0, h, TJPF_CMYK, 0), 0)
            << tjGetErrorStr2(handle);
        double error = 0;
        for (std::size_t i = 0; i < cmyk.size(); ++i)
            error += std::abs(decoded[i] - cmyk[i]);
        EXPECT_LT(error / static_cast<double>(cmyk.size()), 12.0);
    }
    tjDestroy(handle);
}

TEST(JpegEncoderSources, PackedYuy2KeepsItsHalfWidthChroma)
{
    // A 4:2:2 YUY2 source of odd padding (width 20 in 32-pixel MCU rows).
    const int w = 20, h = 10;
    Bytes yuy2(static_cast<std::size_t>(w) * 2 * h);
    Bytes y(static_cast<std::size_t>(w) * h), u(static_cast<std::size_t>(w / 2) * h), v(u.size());
    for (int row = 0; row < h; ++row)
        for (int j = 0; j < w / 2; ++j) {
            // Smooth ramps: the comparison below measures placement, not
            // quantisation noise.
            std::uint8_t* p = &yuy2[(row * w / 2 + j) * 4];
            p[0] = static_cast<std::uint8_t>(60 + 8 * j + 3 * row);
            p[1] = static_cast<std::uint8_t>(90 + 3 * j + row);
            p[2] = static_cast<std::uint8_t>(64 + 8 * j + 3 * row);
            p[3] = static_cast<std::uint8_t>(160 - 2 * j + row);
            y[row * w + 2 * j] = p[0];
            y[row * w + 2 * j + 1] = p[2];
            u[row * (w / 2) + j] = p[1];
            v[row * (w / 2) + j] = p[3];
        }
    EncodeOptions o;
    o.jpegSampling = JpegSampling422;
    const Encoded e = EncodePixels(yuy2.data(), w * 2, {w, h}, 2, JpegColorYCbCr, JpegSampling422, o);
    ASSERT_EQ(e.status, 0);
    tjhandle handle = tjInitDecompress();
    std::vector<unsigned char> py(y.size()), pu(u.size()), pv(v.size());
    unsigned char* planes[3] = {py.data(), pu.data(), pv.data()};
    int strides[3] = {w, w / 2, w / 2};
    ASSERT_EQ(tjDecompressToYUVPlanes(handle, e.bytes.data(), e.bytes.size(), planes, w, strides, h, 0), 0)
        << tjGetErrorStr2(handle);
    tjDestroy(handle);
    for (std::size_t i = 0; i < y.size(); ++i)
        EXPECT_NEAR(py[i], y[i], 4) << i;
    for (std::size_t i = 0; i < u.size(); ++i) {
        EXPECT_NEAR(pu[i], u[i], 4) << i;
        EXPECT_NEAR(pv[i], v[i], 4) << i;
    }
}

TEST(JpegEncoderRefusals, StatusesOfTheIssues)
{
    const Bytes pixels(64 * 64 * 3, 90);
    CJPEGEncoder encoder;
    const std::uint8_t* planes[4] = {pixels.data(), pixels.data(), pixels.data(), nullptr};
    const std::int32_t steps[4] = {64, 32, 32, 0};
    EXPECT_EQ(encoder.SetSourcePlanar(planes, steps, {64, 64}, 3, JpegColorRgb, JpegSampling444, 8), -1);
    EXPECT_EQ(encoder.SetSourcePlanar(planes, steps, {64, 64}, 3, JpegColorRgb, JpegSampling420, 8), 0);

    encoder.SetSource(pixels.data(), 64, {64, 64}, 1, JpegColorGrey, JpegSampling444, 8);
    EXPECT_EQ(encoder.SetParams(JpegModeLossless, JpegColorGrey, JpegSampling444, 0, 0, 75), 0);
    // Lossless restarts fall at row starts only.
    EXPECT_EQ(encoder.SetParams(JpegModeLossless, JpegColorGrey, JpegSampling444, 10, 0, 75), -3);
    EXPECT_EQ(encoder.SetLosslessPredictor(8, 0), -3);
    EXPECT_EQ(encoder.SetParams(static_cast<JpegMode>(9), JpegColorGrey, JpegSampling444, 0, 0, 75), -3);
    EXPECT_EQ(encoder.SetParams(JpegModeBaseline, JpegColorGrey, JpegSampling444, 0, 0, -4), -2);
    EXPECT_EQ(encoder.SetParams(JpegModeBaseline, JpegColorGrey, JpegSampling444, 70000, 0, 75), -3);
    for (const ImageSize size : {ImageSize{0, 8}, ImageSize{8, 0}, ImageSize{65536, 8}, ImageSize{8, 65536}}) {
        encoder.SetSource(pixels.data(), 64, size, 1, JpegColorGrey, JpegSampling444, 8);
        EXPECT_EQ(encoder.SetParams(JpegModeBaseline, JpegColorGrey, JpegSampling444, 0, 0, 75), -3);
    }
    encoder.SetSource(pixels.data(), 64, {64, 64}, 1, JpegColorGrey, JpegSampling444, 12);
    EXPECT_EQ(encoder.SetParams(JpegModeBaseline, JpegColorGrey, JpegSampling444, 0, 0, 75), -3);

    // A colour pair without a conversion.
    const Encoded unsupported =
        EncodePixels(pixels.data(), 64, {64, 64}, 1, JpegColorGrey, JpegSampling444, EncodeOptions{});
    EXPECT_EQ(unsupported.status, -1);
}

TEST(JpegEncoderRefusals, TooSmallOutputBlockWritesNothingPastIt)
{
    const Bytes pixels = Noise(256 * 64 * 3, 12);
    for (std::int32_t capacity : {10, 500, 700, 3000}) {
        Bytes block(static_cast<std::size_t>(capacity) + 64, 0xA5);
        CMemBuffOutput out;
        out.AttachBuffer(block.data(), capacity);
        CJPEGEncoder encoder;
        encoder.SetSource(pixels.data(), 256 * 3, {256, 64}, 3, JpegColorRgb, JpegSampling444, 8);
        encoder.SetDestination(&out);
        ASSERT_EQ(encoder.SetParams(JpegModeBaseline, JpegColorYCbCr, JpegSampling420, 0, 0, 95), 0);
        JpegStatus status = encoder.WriteHeader();
        if (status == 0)
            status = encoder.WriteData();
        EXPECT_TRUE(status == -4 || status == -5) << "capacity " << capacity << ": " << status;
        for (std::size_t i = static_cast<std::size_t>(capacity); i < block.size(); ++i)
            ASSERT_EQ(block[i], 0xA5) << "capacity " << capacity;
    }
}

TEST(JpegEncoderSeries, OneEncoderServesImagesOneAfterAnother)
{
    // A second, larger image through the same encoder gives the bytes of a
    // fresh encoder.
    const Bytes small = Noise(16 * 16, 13), large = Noise(64 * 48, 14);
    Bytes block(1 << 20);
    CMemBuffOutput out;
    CJPEGEncoder encoder;
    for (int pass = 0; pass < 2; ++pass) {
        const Bytes& pixels = pass == 0 ? small : large;
        const int w = pass == 0 ? 16 : 64, h = pass == 0 ? 16 : 48;
        out.AttachBuffer(block.data(), static_cast<std::int32_t>(block.size()));
        encoder.SetSource(pixels.data(), w, {w, h}, 1, JpegColorGrey, JpegSampling444, 8);
        encoder.SetDestination(&out);
        ASSERT_EQ(encoder.SetParams(JpegModeBaseline, JpegColorGrey, JpegSampling444, 0, 0, 75), 0);
        ASSERT_EQ(encoder.WriteHeader(), 0);
        ASSERT_EQ(encoder.WriteData(), 0);
        EXPECT_EQ(encoder.Writer().Total(), out.Position());
        const Encoded fresh = EncodePixels(pixels.data(), w, {w, h}, 1, JpegColorGrey, JpegSampling444, GreyOptions());
        EXPECT_EQ(Bytes(block.begin(), block.begin() + out.Position()), fresh.bytes);
    }
}

TEST(JpegEncoderSeries, PortablePrimitivesGiveTheSameFile)
{
    const Bytes rgb = Noise(96 * 40 * 3, 15);
    const Encoded best = EncodePixels(rgb.data(), 96 * 3, {96, 40}, 3, JpegColorRgb, JpegSampling444, EncodeOptions{});
    const std::int32_t saved = CpuVariantIndex.load();
    ASSERT_TRUE(SetCpuVariantIndex(0));
    const Encoded portable =
        EncodePixels(rgb.data(), 96 * 3, {96, 40}, 3, JpegColorRgb, JpegSampling444, EncodeOptions{});
    CpuVariantIndex.store(saved);
    ASSERT_EQ(best.status, 0);
    EXPECT_EQ(portable.bytes, best.bytes);
}
