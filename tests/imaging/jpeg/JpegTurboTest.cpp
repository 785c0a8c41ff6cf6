// The encoder against libjpeg-turbo and FFmpeg: table bytes, scan data,
// decodability, quality and size.
#include <gtest/gtest.h>

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "EncodeHelpers.h"
#include "support/TempDir.h"

using namespace jpeg_test;

namespace {

// Runs a shell command; its exit status.
int RunCommand(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& s)
{
    return "'" + s + "'";
}

// A decoded picture and whether TurboJPEG warned.
struct Decoded {
    bool ok = false;
    bool warning = false;
    std::string error;
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;  // grey or RGB
};

Decoded DecodeTurbo(const std::vector<std::uint8_t>& jpeg, bool grey)
{
    Decoded d;
    tjhandle handle = tjInitDecompress();
    int subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), &d.width, &d.height,
                            &subsampling, &colourspace) != 0) {
        d.error = tjGetErrorStr2(handle);
        tjDestroy(handle);
        return d;
    }
    const int format = grey ? TJPF_GRAY : TJPF_RGB;
    d.pixels.resize(static_cast<std::size_t>(d.width) * d.height * tjPixelSize[format]);
    const int rc = tjDecompress2(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), d.pixels.data(),
                                 d.width, 0, d.height, format, TJFLAG_ACCURATEDCT);
    if (rc != 0) {
        d.warning = tjGetErrorCode(handle) == TJERR_WARNING;
        d.error = tjGetErrorStr2(handle);
    }
    d.ok = rc == 0;
    tjDestroy(handle);
    return d;
}

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        sum += d * d;
    }
    const double mse = sum / static_cast<double>(a.size());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// A test picture made by the ffmpeg tool as raw planar 4:2:0 or RGB.
std::vector<std::uint8_t> MakePicture(const gavex_test::TempDir& dir, int width, int height, const char* pixelFormat)
{
    const std::string out = dir / (std::string("pic_") + std::to_string(width) + "x" + std::to_string(height) + "_" +
                                   pixelFormat + ".raw");
    // The source renders even sizes only; odd ones are cropped from it.
    const int sourceWidth = (width + 1) & ~1, sourceHeight = (height + 1) & ~1;
    const std::string command = std::string(GAVEX_FFMPEG) + " -v error -y -f lavfi -i testsrc2=size=" +
                                std::to_string(sourceWidth) + "x" + std::to_string(sourceHeight) +
                                ":rate=1 -frames:v 1 -vf format=rgb24,crop=" + std::to_string(width) + ":" +
                                std::to_string(height) + ":0:0 -f rawvideo -pix_fmt " + pixelFormat + " " + Quote(out);
    EXPECT_EQ(RunCommand(command), 0) << command;
    return gavex_test::ReadFileBytes(out);
}

// What the ffmpeg tool says while decoding the picture ("exit N" when it
// fails), object addresses removed; empty when it decodes without a word.
std::string FfmpegSays(const gavex_test::TempDir& dir, const std::vector<std::uint8_t>& jpeg, const std::string& name)
{
    const std::string path = dir / name;
    gavex_test::WriteFileBytes(path, jpeg);
    const std::string log = dir / (name + ".log");
    const int rc = RunCommand(std::string(GAVEX_FFMPEG) + " -v warning -i " + Quote(path) + " -f null - 2> " +
                              Quote(log));
    const auto bytes = gavex_test::ReadFileBytes(log);
    std::string said(bytes.begin(), bytes.end());
    for (std::size_t at = said.find(" @ 0x"); at != std::string::npos; at = said.find(" @ 0x", at)) {
        const std::size_t close = said.find(']', at);
        said.erase(at, close == std::string::npos ? std::string::npos : close - at);
    }
    return rc == 0 ? said : "exit " + std::to_string(rc) + ": " + said;
}

// TurboJPEG's file of the same pixels.
std::vector<std::uint8_t> TurboCompress(const std::vector<std::uint8_t>& pixels, int width, int height, bool grey,
                                        int subsampling, int quality)
{
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(handle, pixels.data(), width, 0, height, grey ? TJPF_GRAY : TJPF_RGB, &out, &size,
                               grey ? TJSAMP_GRAY : subsampling, quality, TJFLAG_ACCURATEDCT);
    std::vector<std::uint8_t> bytes;
    if (rc == 0)
        bytes.assign(out, out + size);
    tjFree(out);
    tjDestroy(handle);
    return bytes;
}

std::vector<std::uint8_t> DqtSegment(const std::vector<std::uint8_t>& jpeg, int id)
{
    std::size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF && jpeg[i + 1] != 0xDA) {
        const std::size_t length = static_cast<std::size_t>(jpeg[i + 2]) << 8 | jpeg[i + 3];
        // One table per segment in both writers.
        if (jpeg[i + 1] == 0xDB && (jpeg[i + 4] & 15) == id)
            return std::vector<std::uint8_t>(jpeg.begin() + static_cast<std::ptrdiff_t>(i),
                                             jpeg.begin() + static_cast<std::ptrdiff_t>(i + 2 + length));
        i += 2 + length;
    }
    return {};
}

}  // namespace

TEST(JpegTurbo, QuantTablesEqualCjpegBaseline)
{
    gavex_test::TempDir dir("jpegdqt");
    const int w = 16, h = 16;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = static_cast<std::uint8_t>(i * 7);
    std::vector<std::uint8_t> ppm;
    const std::string header = "P6\n16 16\n255\n";
    ppm.assign(header.begin(), header.end());
    ppm.insert(ppm.end(), rgb.begin(), rgb.end());
    gavex_test::WriteFileBytes(dir / "in.ppm", ppm);

    for (int quality : {1, 10, 50, 75, 95, 100}) {
        SCOPED_TRACE("quality " + std::to_string(quality));
        const std::string out = dir / ("q" + std::to_string(quality) + ".jpg");
        ASSERT_EQ(RunCommand(std::string(GAVEX_CJPEG) + " -baseline -quality " + std::to_string(quality) + " -outfile " +
                      Quote(out) + " " + Quote(dir / "in.ppm")),
                  0);
        const auto reference = gavex_test::ReadFileBytes(out);
        EncodeOptions options;
        options.quality = quality;
        const Encoded ours = EncodePixels(rgb.data(), w * 3, {w, h}, 3, JpegColorRgb, JpegSampling444, options);
        ASSERT_EQ(ours.status, 0);
        for (int id : {0, 1}) {
            const auto expected = DqtSegment(reference, id);
            ASSERT_FALSE(expected.empty());
            EXPECT_EQ(DqtSegment(ours.bytes, id), expected) << "table " << id << ": " << Hex(expected, 80);
        }
    }
}

namespace {

struct ScanCase {
    const char* name;
    int width, height;
    int restart;  // our interval; jpegtran gets the same in MCUs
};

Encoded EncodeKind(const std::string& kind, const std::vector<std::uint8_t>& data, int w, int h, int restart)
{
    EncodeOptions options;
    options.restartInterval = restart;
    if (kind == "grey") {
        options.jpegColour = JpegColorGrey;
        options.jpegSampling = JpegSampling444;
        return EncodePixels(data.data(), w, {w, h}, 1, JpegColorGrey, JpegSampling444, options);
    }
    if (kind == "planar") {
        const std::uint8_t* planes[3] = {data.data(), data.data() + w * h, data.data() + w * h + (w / 2) * (h / 2)};
        const std::int32_t steps[3] = {w, w / 2, w / 2};
        return EncodePlanes(planes, steps, {w, h}, options);
    }
    return EncodePixels(data.data(), w * 3, {w, h}, 3, JpegColorRgb, JpegSampling444, options);
}

}  // namespace

class JpegTurboScan : public ::testing::TestWithParam<std::tuple<std::string, int>> {};

TEST_P(JpegTurboScan, ScanDataEqualsJpegtran)
{
    const std::string kind = std::get<0>(GetParam());
    const int restart = std::get<1>(GetParam());
    gavex_test::TempDir dir("jpegscan");
    const int w = 96, h = 48;
    std::mt19937 rng(5);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(w) * h * 3);
    // Smooth gradients with noise: every category and run length appears.
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>((i % 251) + (rng() % 24));
    const Encoded plain = EncodeKind(kind, data, w, h, 0);
    ASSERT_EQ(plain.status, 0);
    gavex_test::WriteFileBytes(dir / "ours.jpg", plain.bytes);
    const std::string restartOption = restart != 0 ? " -restart " + std::to_string(restart) + "B" : "";
    ASSERT_EQ(RunCommand(std::string(GAVEX_JPEGTRAN) + " -copy none" + restartOption + " -outfile " +
                  Quote(dir / "tran.jpg") + " " + Quote(dir / "ours.jpg")),
              0);
    const auto reference = ScanData(gavex_test::ReadFileBytes(dir / "tran.jpg"));
    const Encoded ours = restart != 0 ? EncodeKind(kind, data, w, h, restart) : plain;
    ASSERT_EQ(ours.status, 0);
    const auto scan = ScanData(ours.bytes);
    ASSERT_FALSE(reference.empty());
    EXPECT_EQ(scan.size(), reference.size());
    EXPECT_TRUE(scan == reference) << "ours " << Hex(scan) << "\njpegtran " << Hex(reference);
}

INSTANTIATE_TEST_SUITE_P(Kinds, JpegTurboScan,
                         ::testing::Combine(::testing::Values("grey", "planar", "rgb"), ::testing::Values(0, 2)),
                         [](const auto& info) {
                             return std::get<0>(info.param) + "_restart" + std::to_string(std::get<1>(info.param));
                         });

// Our pictures decode in TurboJPEG without warnings and in the ffmpeg tool
// with no more words than TurboJPEG's own file of the same pixels draws (it
// warns "EOI missing" for the tiny scans of a one-column picture either way),
// at the quality TurboJPEG reaches (or above 40 dB, where a tiny picture's
// differences stop meaning anything).
TEST(JpegTurbo, FfmpegPicturesDecodeWithoutWarnings)
{
    gavex_test::TempDir dir("jpegdecode");
    struct Size {
        int w, h;
    };
    for (const Size s : {Size{1920, 1080}, Size{17, 9}, Size{33, 1}, Size{1, 33}, Size{31, 17}}) {
        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
        const auto rgb = MakePicture(dir, s.w, s.h, "rgb24");
        ASSERT_EQ(rgb.size(), static_cast<std::size_t>(s.w) * s.h * 3);
        struct Sampling {
            JpegSampling ours;
            int theirs;
        };
        for (const Sampling sampling : {Sampling{JpegSampling420, TJSAMP_420}, Sampling{JpegSampling422, TJSAMP_422},
                                        Sampling{JpegSampling444, TJSAMP_444}}) {
            SCOPED_TRACE("sampling " + std::to_string(sampling.ours));
            EncodeOptions options;
            options.jpegSampling = sampling.ours;
            const Encoded ours = EncodePixels(rgb.data(), s.w * 3, {s.w, s.h}, 3, JpegColorRgb, JpegSampling444,
                                              options);
            ASSERT_EQ(ours.status, 0);
            const auto theirs = TurboCompress(rgb, s.w, s.h, false, sampling.theirs, 75);
            ASSERT_FALSE(theirs.empty());
            const Decoded d = DecodeTurbo(ours.bytes, false);
            const Decoded t = DecodeTurbo(theirs, false);
            ASSERT_TRUE(d.ok && t.ok) << d.error;
            EXPECT_FALSE(d.warning) << d.error;
            EXPECT_EQ(d.width, s.w);
            EXPECT_EQ(d.height, s.h);
            EXPECT_GT(Psnr(d.pixels, rgb), std::min(Psnr(t.pixels, rgb) - 0.5, 40.0));
            EXPECT_EQ(FfmpegSays(dir, ours.bytes, "ours.jpg"), FfmpegSays(dir, theirs, "theirs.jpg"));
        }
        // Planar 4:2:0 with chroma planes of half the size, rounded down (at
        // least one sample).
        const int cw = s.w / 2 > 0 ? s.w / 2 : 1, ch = s.h / 2 > 0 ? s.h / 2 : 1;
        std::vector<std::uint8_t> y(static_cast<std::size_t>(s.w) * s.h), u(cw * ch, 90), v(cw * ch, 170);
        for (std::size_t i = 0; i < y.size(); ++i)
            y[i] = rgb[3 * i + 1];
        const std::uint8_t* planes[3] = {y.data(), u.data(), v.data()};
        const std::int32_t steps[3] = {s.w, cw, cw};
        const Encoded planar = EncodePlanes(planes, steps, {s.w, s.h}, EncodeOptions{});
        ASSERT_EQ(planar.status, 0);
        const Decoded d = DecodeTurbo(planar.bytes, false);
        EXPECT_TRUE(d.ok && !d.warning) << d.error;
        const auto theirsRgb = TurboCompress(rgb, s.w, s.h, false, TJSAMP_420, 75);
        EXPECT_EQ(FfmpegSays(dir, planar.bytes, "planar.jpg"), FfmpegSays(dir, theirsRgb, "theirs.jpg"));
        EncodeOptions grey;
        grey.jpegColour = JpegColorGrey;
        grey.jpegSampling = JpegSampling444;
        const Encoded g = EncodePixels(y.data(), s.w, {s.w, s.h}, 1, JpegColorGrey, JpegSampling444, grey);
        ASSERT_EQ(g.status, 0);
        const Decoded dg = DecodeTurbo(g.bytes, true);
        EXPECT_TRUE(dg.ok && !dg.warning) << dg.error;
        const auto theirsGrey = TurboCompress(y, s.w, s.h, true, TJSAMP_GRAY, 75);
        const Decoded tg = DecodeTurbo(theirsGrey, true);
        ASSERT_TRUE(tg.ok);
        EXPECT_GT(Psnr(dg.pixels, y), std::min(Psnr(tg.pixels, y) - 0.5, 40.0));
        EXPECT_EQ(FfmpegSays(dir, g.bytes, "grey.jpg"), FfmpegSays(dir, theirsGrey, "theirsgrey.jpg"));
    }
}

TEST(JpegTurbo, FullHdQualityAndSizeMatchTurboJpeg)
{
    gavex_test::TempDir dir("jpegpsnr");
    const int w = 1920, h = 1080;
    const auto yuv = MakePicture(dir, w, h, "yuv420p");
    ASSERT_EQ(yuv.size(), static_cast<std::size_t>(w) * h * 3 / 2);
    const std::uint8_t* planes[3] = {yuv.data(), yuv.data() + w * h, yuv.data() + w * h + w * h / 4};
    const std::int32_t steps[3] = {w, w / 2, w / 2};
    for (int quality : {50, 75, 90}) {
        SCOPED_TRACE("quality " + std::to_string(quality));
        EncodeOptions options;
        options.quality = quality;
        const Encoded ours = EncodePlanes(planes, steps, {w, h}, options);
        ASSERT_EQ(ours.status, 0);

        tjhandle compressor = tjInitCompress();
        unsigned char* reference = nullptr;
        unsigned long referenceSize = 0;
        const int strides[3] = {w, w / 2, w / 2};
        ASSERT_EQ(tjCompressFromYUVPlanes(compressor, planes, w, strides, h, TJSAMP_420, &reference, &referenceSize,
                                          quality, TJFLAG_ACCURATEDCT),
                  0);
        std::vector<std::uint8_t> theirs(reference, reference + referenceSize);
        tjFree(reference);
        tjDestroy(compressor);

        const Decoded a = DecodeTurbo(ours.bytes, false);
        const Decoded b = DecodeTurbo(theirs, false);
        ASSERT_TRUE(a.ok && b.ok);
        // The reference picture: the same planes decoded through the same
        // colour conversion.
        tjhandle converter = tjInitDecompress();
        std::vector<std::uint8_t> source(static_cast<std::size_t>(w) * h * 3);
        ASSERT_EQ(tjDecodeYUVPlanes(converter, planes, strides, TJSAMP_420, source.data(), w, 0, h, TJPF_RGB, 0), 0);
        tjDestroy(converter);
        const double psnrOurs = Psnr(a.pixels, source);
        const double psnrTheirs = Psnr(b.pixels, source);
        EXPECT_NEAR(psnrOurs, psnrTheirs, 0.1);
        const double scanOurs = static_cast<double>(ScanData(ours.bytes).size());
        const double scanTheirs = static_cast<double>(ScanData(theirs).size());
        EXPECT_NEAR(scanOurs / scanTheirs, 1.0, 0.02) << scanOurs << " vs " << scanTheirs;
        RecordProperty("psnr_q" + std::to_string(quality),
                       std::to_string(psnrOurs) + " vs " + std::to_string(psnrTheirs));
    }
}

TEST(JpegTurbo, RandomBlackAndWhiteAtQuality100EncodesAndDecodes)
{
    const int w = 256, h = 128;
    std::mt19937 rng(11);
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
    for (std::size_t i = 0; i < rgb.size(); i += 3)
        rgb[i] = rgb[i + 1] = rgb[i + 2] = (rng() & 1) != 0 ? 255 : 0;
    EncodeOptions options;
    options.quality = 100;
    for (const JpegColor colour : {JpegColorYCbCr, JpegColorRgb}) {
        options.jpegColour = colour;
        options.jpegSampling = colour == JpegColorRgb ? JpegSampling444 : JpegSampling420;
        const Encoded ours = EncodePixels(rgb.data(), w * 3, {w, h}, 3, JpegColorRgb, JpegSampling444, options);
        ASSERT_EQ(ours.status, 0);
        const Decoded d = DecodeTurbo(ours.bytes, false);
        EXPECT_TRUE(d.ok && !d.warning) << d.error;
    }
}

TEST(JpegTurbo, OddSizesGiveTheSameBytesWhateverTheHeapHolds)
{
    gavex_test::TempDir dir("jpegperturb");
    const std::string tool = std::string(GAVEX_TEST_TOOLS_DIR) + "/jpeg_encode_tool";
    for (const char* kind : {"grey", "planar", "rgb"}) {
        for (const char* size : {"17 9", "33 1", "1 1", "31 17"}) {
            SCOPED_TRACE(std::string(kind) + " " + size);
            for (const char* perturb : {"85", "170"}) {
                ASSERT_EQ(RunCommand(std::string("MALLOC_PERTURB_=") + perturb + " " + Quote(tool) + " " + size + " " + kind +
                              " > " + Quote(dir / (std::string("out") + perturb))),
                          0);
            }
            const auto a = gavex_test::ReadFileBytes(dir / "out85");
            const auto b = gavex_test::ReadFileBytes(dir / "out170");
            ASSERT_FALSE(a.empty());
            EXPECT_TRUE(a == b);
        }
    }
}

namespace {

Encoded EncodeMode(const std::vector<std::uint8_t>& pixels, ImageSize size, std::int32_t channels, JpegColor source,
                   JpegMode mode, JpegColor colour, JpegSampling sampling, std::int32_t restart)
{
    Encoded result;
    result.bytes.assign(static_cast<std::size_t>(size.width) * size.height * 8 + 65536, 0);
    CMemBuffOutput out;
    out.AttachBuffer(result.bytes.data(), static_cast<std::int32_t>(result.bytes.size()));
    CJPEGEncoder encoder;
    encoder.SetSource(pixels.data(), size.width * channels, size, channels, source, JpegSampling444, 8);
    encoder.SetDestination(&out);
    result.status = encoder.SetParams(mode, colour, sampling, restart, 0, 85);
    if (result.status == 0)
        result.status = encoder.WriteHeader();
    if (result.status == 0)
        result.status = encoder.WriteData();
    result.bytes.resize(static_cast<std::size_t>(out.Position()));
    return result;
}

int CountMarkers(const std::vector<std::uint8_t>& jpeg, std::uint8_t code)
{
    int n = 0;
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == code)
            ++n;
    return n;
}

TEST(JpegTurbo, OurProgressiveFilesDecodeToOurBaselinePictures)
{
    gavex_test::TempDir dir("jpegprog");
    struct Case {
        int width, height;
        bool grey;
        JpegSampling sampling;
        std::int32_t restart;
    };
    const Case cases[] = {{96, 64, false, JpegSampling420, 0},
                          {45, 29, false, JpegSampling422, 3},
                          {37, 21, true, JpegSampling444, 0},
                          {64, 48, false, JpegSampling444, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const auto pixels = MakePicture(dir, c.width, c.height, c.grey ? "gray" : "rgb24");
        const std::int32_t channels = c.grey ? 1 : 3;
        const JpegColor source = c.grey ? JpegColorGrey : JpegColorRgb;
        const JpegColor colour = c.grey ? JpegColorGrey : JpegColorYCbCr;
        const Encoded baseline = EncodeMode(pixels, {c.width, c.height}, channels, source, JpegModeBaseline, colour,
                                            c.sampling, c.restart);
        const Encoded progressive = EncodeMode(pixels, {c.width, c.height}, channels, source, JpegModeProgressive,
                                               colour, c.sampling, c.restart);
        ASSERT_EQ(baseline.status, 0);
        ASSERT_EQ(progressive.status, 0);
        EXPECT_EQ(CountMarkers(progressive.bytes, 0xDA), c.grey ? 6 : 10);
        // Each scan but the DC refinement has tables of its own: the first
        // DC scan one per table id (luma, chroma), each AC scan one.
        EXPECT_EQ(CountMarkers(progressive.bytes, 0xC4), c.grey ? 5 : 10);
        const Decoded a = DecodeTurbo(baseline.bytes, c.grey);
        const Decoded b = DecodeTurbo(progressive.bytes, c.grey);
        ASSERT_TRUE(a.ok) << a.error;
        ASSERT_TRUE(b.ok) << b.error;
        EXPECT_EQ(a.pixels, b.pixels);
    }
}

}  // namespace
