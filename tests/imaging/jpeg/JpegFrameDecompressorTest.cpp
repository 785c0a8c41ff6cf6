// The buffer decompressor: geometry negotiation, the three frame layouts,
// reduced sizes, and failures that leave the destination untouched.
#include <gtest/gtest.h>

#include <turbojpeg.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "imaging/jpeg/JpegDecoder.h"
#include "imaging/jpeg/JpegFrameDecompressor.h"
#include "support/TempDir.h"

namespace {

int Run(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::uint8_t> Cjpeg(const gavex_test::TempDir& dir, int width, int height, const std::string& options)
{
    const std::string ppm = dir / "in.ppm", out = dir / "out.jpg";
    const int w = (width + 1) & ~1, h = (height + 1) & ~1;
    EXPECT_EQ(Run(std::string(GAVEX_FFMPEG) + " -v error -y -f lavfi -i testsrc2=size=" + std::to_string(w) + "x" +
                  std::to_string(h) + ":rate=1 -frames:v 1 -vf format=rgb24,crop=" + std::to_string(width) + ":" +
                  std::to_string(height) + ":0:0 -pix_fmt rgb24 '" + ppm + "'"),
              0);
    EXPECT_EQ(Run(std::string(GAVEX_CJPEG) + " " + options + " -outfile '" + out + "' '" + ppm + "'"), 0);
    return gavex_test::ReadFileBytes(out);
}

struct Frame {
    std::int32_t bytes = 0;
    std::int32_t width = 0, height = 0, format = -1;
    std::vector<std::uint8_t> planes;
};

// Negotiates the geometry (the first call must report it), then decodes.
Frame Decompress(JpegFrameDecompressor& decompressor, const std::vector<std::uint8_t>& jpeg, std::int32_t target)
{
    Frame f;
    std::vector<std::uint8_t> scratch(16);
    EXPECT_EQ(decompressor.Decompress(jpeg.data(), static_cast<std::int32_t>(jpeg.size()), scratch.data(), 16,
                                      &f.width, &f.height, &f.format, target),
              0);
    const std::size_t size = static_cast<std::size_t>(f.width) * f.height * 2 + 64;
    f.planes.assign(size, 0xA5);
    f.bytes = decompressor.Decompress(jpeg.data(), static_cast<std::int32_t>(jpeg.size()), f.planes.data(),
                                      static_cast<std::int32_t>(size), &f.width, &f.height, &f.format, target);
    for (std::size_t i = static_cast<std::size_t>(std::max(f.bytes, 0)); i < size; ++i)
        EXPECT_EQ(f.planes[i], 0xA5) << "written past the frame at " << i;
    return f;
}

// TurboJPEG's planes of a file (full size), without gaps.
std::vector<std::uint8_t> TurboPlanes(const std::vector<std::uint8_t>& jpeg, int subsampling)
{
    tjhandle handle = tjInitDecompress();
    int w = 0, h = 0, sub = 0, space = 0;
    tjDecompressHeader3(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), &w, &h, &sub, &space);
    EXPECT_EQ(sub, subsampling);
    std::vector<std::vector<std::uint8_t>> planes(3);
    unsigned char* pointers[3] = {};
    int strides[3] = {};
    const int count = sub == TJSAMP_GRAY ? 1 : 3;
    for (int i = 0; i < count; ++i) {
        strides[i] = tjPlaneWidth(i, w, sub);
        planes[static_cast<std::size_t>(i)].resize(static_cast<std::size_t>(tjPlaneSizeYUV(i, w, 0, h, sub)));
        pointers[i] = planes[static_cast<std::size_t>(i)].data();
    }
    EXPECT_EQ(tjDecompressToYUVPlanes(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), pointers, w,
                                      strides, h, TJFLAG_ACCURATEDCT),
              0);
    tjDestroy(handle);
    // Crop to the frame's planes: Y w x h, chroma halves rounded toward zero.
    std::vector<std::uint8_t> out;
    for (int y = 0; y < h; ++y)
        out.insert(out.end(), planes[0].begin() + y * strides[0], planes[0].begin() + y * strides[0] + w);
    const int cw = w / 2, ch = sub == TJSAMP_420 ? h / 2 : h;
    for (int i = 1; i < count; ++i)
        for (int y = 0; y < ch; ++y)
            out.insert(out.end(), planes[static_cast<std::size_t>(i)].begin() + y * strides[i],
                       planes[static_cast<std::size_t>(i)].begin() + y * strides[i] + cw);
    return out;
}

int MaxDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, std::size_t n)
{
    int worst = 0;
    for (std::size_t i = 0; i < n; ++i)
        worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

TEST(JpegFrameDecompressor, PlanesMatchTurboJpegForEachLayout)
{
    gavex_test::TempDir dir("jpegframe");
    struct Case {
        int width, height;
        std::string options;
        std::int32_t format;
        int subsampling;
    };
    const Case cases[] = {{96, 64, "-sample 2x2", 1, TJSAMP_420}, {96, 64, "-sample 2x1", 2, TJSAMP_422},
                          {37, 29, "-sample 2x2", 1, TJSAMP_420}, {37, 29, "-sample 2x1 -restart 1", 2, TJSAMP_422},
                          {35, 17, "-grayscale", 0, TJSAMP_GRAY},
                          {96, 64, "-sample 2x2 -progressive", 1, TJSAMP_420},
                          {37, 29, "-sample 2x1 -progressive", 2, TJSAMP_422}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options + " " + std::to_string(c.width));
        const auto jpeg = Cjpeg(dir, c.width, c.height, c.options);
        JpegFrameDecompressor decompressor;
        const Frame f = Decompress(decompressor, jpeg, 0);
        EXPECT_EQ(f.format, c.format);
        ASSERT_EQ(f.width, c.width);
        ASSERT_EQ(f.height, c.height);
        const std::int32_t chroma = c.format == 0 ? 0 : (c.width / 2) * (c.format == 1 ? c.height / 2 : c.height);
        ASSERT_EQ(f.bytes, c.width * c.height + 2 * chroma);
        const auto turbo = TurboPlanes(jpeg, c.subsampling);
        ASSERT_EQ(turbo.size(), static_cast<std::size_t>(f.bytes));
        EXPECT_LE(MaxDifference(f.planes, turbo, turbo.size()), 2);
    }
}

TEST(JpegFrameDecompressor, QuarterWidthReportsTheGeometryThenDecodes)
{
    gavex_test::TempDir dir("jpegframe");
    const auto jpeg = Cjpeg(dir, 160, 96, "-sample 2x2");
    JpegFrameDecompressor decompressor;
    std::vector<std::uint8_t> frame(160 * 96 * 2, 0xA5);
    std::int32_t w = 160, h = 96, format = 1;
    // Full size first: the caller's geometry is right.
    ASSERT_EQ(decompressor.Decompress(jpeg.data(), static_cast<std::int32_t>(jpeg.size()), frame.data(),
                                      static_cast<std::int32_t>(frame.size()), &w, &h, &format, 0),
              160 * 96 * 3 / 2);
    // A quarter of the width: 0 and the new geometry, the frame untouched.
    std::fill(frame.begin(), frame.end(), 0xA5);
    ASSERT_EQ(decompressor.Decompress(jpeg.data(), static_cast<std::int32_t>(jpeg.size()), frame.data(),
                                      static_cast<std::int32_t>(frame.size()), &w, &h, &format, 40),
              0);
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 24);
    EXPECT_EQ(format, 1);
    EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](std::uint8_t b) { return b == 0xA5; }));
    ASSERT_EQ(decompressor.Decompress(jpeg.data(), static_cast<std::int32_t>(jpeg.size()), frame.data(),
                                      static_cast<std::int32_t>(frame.size()), &w, &h, &format, 40),
              40 * 24 * 3 / 2);
    // The planes are the decoder's planes at quarter size.
    CMemBuffInput in;
    in.AttachBuffer(jpeg.data(), static_cast<std::int32_t>(jpeg.size()));
    CJPEGDecoder decoder;
    decoder.SetSource(&in);
    std::int32_t W = 0, H = 0, n = 0, p = 0;
    JpegColor colour{};
    JpegSampling sampling{};
    ASSERT_EQ(decoder.ReadHeader(&W, &H, &n, &colour, &sampling, &p), 0);
    std::vector<std::uint8_t> planes(40 * 24 + 2 * 20 * 12);
    std::uint8_t* pointers[4] = {planes.data(), planes.data() + 960, planes.data() + 960 + 240, nullptr};
    const std::int32_t steps[4] = {40, 20, 20, 0};
    ASSERT_EQ(decoder.SetDestinationPlanar(pointers, steps, {40, 24}, 3, JpegColorYCbCr, JpegSampling420, 8, 2), 0);
    ASSERT_EQ(decoder.ReadData(), 0);
    EXPECT_TRUE(std::equal(planes.begin(), planes.end(), frame.begin()));
    // Back to full size: the scale changed again.
    EXPECT_EQ(decompressor.Decompress(jpeg.data(), static_cast<std::int32_t>(jpeg.size()), frame.data(),
                                      static_cast<std::int32_t>(frame.size()), &w, &h, &format, 0),
              0);
    EXPECT_EQ(w, 160);
}

TEST(JpegFrameDecompressor, OtherImagesGoThroughRgbTo420)
{
    gavex_test::TempDir dir("jpegframe");
    for (const std::string options : {"-sample 1x1", "-rgb", "-sample 1x2"}) {
        SCOPED_TRACE(options);
        const auto jpeg = Cjpeg(dir, 33, 21, options);
        JpegFrameDecompressor decompressor;
        const Frame f = Decompress(decompressor, jpeg, 0);
        EXPECT_EQ(f.format, 1);
        ASSERT_EQ(f.bytes, 33 * 21 + 2 * 16 * 10);
        // Luma near TurboJPEG's RGB picture converted by BT.601.
        tjhandle handle = tjInitDecompress();
        std::vector<std::uint8_t> rgb(33 * 21 * 3);
        ASSERT_EQ(tjDecompress2(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), rgb.data(), 33, 0, 21,
                                // Lines of a vertical-only reduction are repeated.
                                TJPF_RGB, TJFLAG_ACCURATEDCT | (options == "-sample 1x2" ? TJFLAG_FASTUPSAMPLE : 0)),
                  0);
        tjDestroy(handle);
        int worst = 0;
        for (int i = 0; i < 33 * 21; ++i) {
            const double y = 0.299 * rgb[3 * i] + 0.587 * rgb[3 * i + 1] + 0.114 * rgb[3 * i + 2];
            worst = std::max(worst, static_cast<int>(std::abs(y - f.planes[static_cast<std::size_t>(i)])));
        }
        EXPECT_LE(worst, 4);
    }
}

TEST(JpegFrameDecompressor, FailuresLeaveTheDestinationUntouched)
{
    gavex_test::TempDir dir("jpegframe");
    const auto jpeg = Cjpeg(dir, 64, 48, "-sample 2x2");
    const auto progressive = Cjpeg(dir, 64, 48, "-sample 2x2 -progressive");
    struct Case {
        std::string name;
        std::vector<std::uint8_t> stream;
        std::int32_t capacity;
    };
    const Case cases[] = {
        {"too small", jpeg, 64 * 48 * 3 / 2 - 1},
        {"truncated", std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(jpeg.size() / 2)),
         64 * 48 * 2},
        {"header only", std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + 100), 64 * 48 * 2},
        {"progressive cut after its first scans",
         std::vector<std::uint8_t>(progressive.begin(), progressive.begin() + static_cast<std::ptrdiff_t>(progressive.size() * 2 / 3)),
         64 * 48 * 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JpegFrameDecompressor decompressor;
        std::vector<std::uint8_t> frame(64 * 48 * 2, 0xA5);
        std::int32_t w = 64, h = 48, format = 1;
        EXPECT_EQ(decompressor.Decompress(c.stream.data(), static_cast<std::int32_t>(c.stream.size()), frame.data(),
                                          c.capacity, &w, &h, &format, 0),
                  0);
        EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](std::uint8_t b) { return b == 0xA5; }));
    }
    JpegDecompressorFacade facade;
    std::int32_t w = 0, h = 0, format = 0;
    EXPECT_EQ(facade.Decompress(nullptr, 10, nullptr, 0, &w, &h, &format, 0), 0);
}

}  // namespace

namespace {

TEST(JpegFrameDecompressor, PackedYuy2FromTheDecoderMatchesThe422Planes)
{
    gavex_test::TempDir dir("jpegframe");
    const auto jpeg = Cjpeg(dir, 64, 30, "-sample 2x1");
    JpegFrameDecompressor decompressor;
    const Frame f = Decompress(decompressor, jpeg, 0);
    ASSERT_EQ(f.format, 2);
    CMemBuffInput in;
    in.AttachBuffer(jpeg.data(), static_cast<std::int32_t>(jpeg.size()));
    CJPEGDecoder decoder;
    decoder.SetSource(&in);
    std::int32_t w = 0, h = 0, n = 0, p = 0;
    JpegColor colour{};
    JpegSampling sampling{};
    ASSERT_EQ(decoder.ReadHeader(&w, &h, &n, &colour, &sampling, &p), 0);
    std::vector<std::uint8_t> yuy2(static_cast<std::size_t>(w) * h * 2);
    ASSERT_EQ(decoder.SetDestination(yuy2.data(), w * 2, {w, h}, 2, JpegColorYCbCr, JpegSampling422, 8, 0), 0);
    ASSERT_EQ(decoder.ReadData(), 0);
    const std::size_t luma = static_cast<std::size_t>(w) * h, chroma = static_cast<std::size_t>(w / 2) * h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::size_t at = (static_cast<std::size_t>(y) * w + x) * 2;
            ASSERT_EQ(yuy2[at], f.planes[static_cast<std::size_t>(y) * w + x]);
            const std::size_t c = static_cast<std::size_t>(y) * (w / 2) + x / 2;
            ASSERT_EQ(yuy2[at + 1], f.planes[luma + (x % 2 == 0 ? 0 : chroma) + c]);
        }
}

}  // namespace
