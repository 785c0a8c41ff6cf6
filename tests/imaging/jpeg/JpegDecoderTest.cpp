// The decoder against libjpeg-turbo's djpeg on files of cjpeg, jpegtran and
// our encoder, its header decisions, and hostile streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "EncodeHelpers.h"
#include "imaging/jpeg/JpegDecoder.h"
#include "imaging/jpeg/JpegFrameDecompressor.h"
#include "support/TempDir.h"

using namespace jpeg_test;

namespace {

int Shell(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

struct Picture {
    JpegStatus status = 0;
    std::int32_t width = 0, height = 0, components = 0, precision = 0;
    JpegColor colour = JpegColorOther;
    JpegSampling sampling = JpegSamplingOther;
    std::vector<std::uint8_t> pixels;
};

// Decodes to grey (one component) or RGB at a scale; a guard area after the
// destination must stay untouched.
Picture Decode(const std::vector<std::uint8_t>& jpeg, std::int32_t scale = 0, JpegColor want = JpegColorOther)
{
    Picture p;
    CMemBuffInput in;
    in.AttachBuffer(jpeg.data(), static_cast<std::int32_t>(jpeg.size()));
    CJPEGDecoder decoder;
    decoder.Clean();
    decoder.SetSource(&in);
    p.status = decoder.ReadHeader(&p.width, &p.height, &p.components, &p.colour, &p.sampling, &p.precision);
    if (p.status != 0)
        return p;
    const ImageSize size = CJPEGDecoder::ScaledSize({p.width, p.height}, scale);
    const JpegColor colour = want != JpegColorOther ? want : p.components == 1 ? JpegColorGrey : JpegColorRgb;
    const std::int32_t channels = colour == JpegColorGrey ? 1 : 3;
    const std::size_t bytes = static_cast<std::size_t>(size.width) * size.height * channels;
    p.pixels.assign(bytes + 64, 0xA5);
    p.status = decoder.SetDestination(p.pixels.data(), size.width * channels, size, channels, colour,
                                      JpegSampling444, p.precision, scale);
    if (p.status == 0)
        p.status = decoder.ReadData();
    for (std::size_t i = bytes; i < p.pixels.size(); ++i)
        EXPECT_EQ(p.pixels[i], 0xA5) << "written past the destination at " << i - bytes;
    p.pixels.resize(bytes);
    p.width = size.width;
    p.height = size.height;
    return p;
}

// djpeg's picture (PGM or PPM) of a file.
std::vector<std::uint8_t> Djpeg(const gavex_test::TempDir& dir, const std::vector<std::uint8_t>& jpeg,
                                const std::string& options)
{
    const std::string in = dir / "djpeg_in.jpg", out = dir / "djpeg_out.pnm";
    gavex_test::WriteFileBytes(in, jpeg);
    EXPECT_EQ(Shell(std::string(GAVEX_DJPEG) + " " + options + " -outfile " + Quote(out) + " " + Quote(in)), 0);
    auto bytes = gavex_test::ReadFileBytes(out);
    // Skip the header: magic, width, height, maxval, each followed by one
    // white-space byte.
    int fields = 0;
    std::size_t i = 0;
    while (i < bytes.size() && fields < 4) {
        while (i < bytes.size() && std::isspace(bytes[i]) == 0)
            ++i;
        ++fields;
        ++i;
    }
    return std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(std::min(i, bytes.size())),
                                     bytes.end());
}

std::vector<std::uint8_t> Cjpeg(const gavex_test::TempDir& dir, const std::string& source, const std::string& options)
{
    const std::string out = dir / "cjpeg_out.jpg";
    EXPECT_EQ(Shell(std::string(GAVEX_CJPEG) + " " + options + " -outfile " + Quote(out) + " " + Quote(source)), 0);
    return gavex_test::ReadFileBytes(out);
}

std::vector<std::uint8_t> Jpegtran(const gavex_test::TempDir& dir, const std::vector<std::uint8_t>& jpeg,
                                   const std::string& options)
{
    const std::string in = dir / "tran_in.jpg", out = dir / "tran_out.jpg";
    gavex_test::WriteFileBytes(in, jpeg);
    EXPECT_EQ(Shell(std::string(GAVEX_JPEGTRAN) + " " + options + " -outfile " + Quote(out) + " " + Quote(in)), 0);
    return gavex_test::ReadFileBytes(out);
}

// A test picture as a PPM file written by ffmpeg (odd sizes cropped).
std::string MakePpm(const gavex_test::TempDir& dir, int width, int height)
{
    const std::string out = dir / ("pic_" + std::to_string(width) + "x" + std::to_string(height) + ".ppm");
    const int w = (width + 1) & ~1, h = (height + 1) & ~1;
    EXPECT_EQ(Shell(std::string(GAVEX_FFMPEG) + " -v error -y -f lavfi -i testsrc2=size=" + std::to_string(w) + "x" +
                  std::to_string(h) + ":rate=1 -frames:v 1 -vf format=rgb24,crop=" + std::to_string(width) + ":" +
                  std::to_string(height) + ":0:0 -pix_fmt rgb24 " + Quote(out)),
              0);
    return out;
}

// Black-and-white noise, the hardest case for the entropy coder.
std::string MakeNoisePpm(const gavex_test::TempDir& dir, int width, int height)
{
    std::mt19937 rng(9);
    std::string ppm = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (int i = 0; i < width * height; ++i) {
        const char v = (rng() & 1) != 0 ? static_cast<char>(255) : 0;
        ppm.append(3, v);
    }
    const std::string path = dir / "noise.ppm";
    gavex_test::WriteFileString(path, ppm);
    return path;
}

int MaxDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    EXPECT_EQ(a.size(), b.size());
    int worst = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

double MeanDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    double sum = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        sum += std::abs(a[i] - b[i]);
    return a.empty() ? 0 : sum / static_cast<double>(a.size());
}

TEST(JpegDecoder, CjpegFilesDecodeLikeDjpeg)
{
    gavex_test::TempDir dir("jpegdec");
    const std::string picture = MakePpm(dir, 160, 96);
    const std::string odd = MakePpm(dir, 37, 29);
    const std::string noise = MakeNoisePpm(dir, 48, 40);
    struct Case {
        std::string source;
        std::string options;
        std::string djpeg = "-dct int";
    };
    const Case cases[] = {
        {picture, "-grayscale"},
        {picture, "-sample 2x2"},
        {picture, "-sample 2x1"},
        // Vertical-only reduction is up-sampled by repeating lines.
        {picture, "-sample 1x2", "-dct int -nosmooth"},
        {picture, "-sample 1x1 -quality 90"},
        {picture, "-sample 2x2 -restart 1"},
        {picture, "-sample 2x1 -restart 1B"},
        {picture, "-sample 2x2 -optimize"},
        {odd, "-sample 2x2"},
        {odd, "-sample 2x1 -quality 30"},
        {odd, "-grayscale"},
        {noise, "-quality 100 -sample 2x2"},
        {noise, "-quality 100 -sample 1x1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const auto jpeg = Cjpeg(dir, c.source, c.options);
        const Picture ours = Decode(jpeg);
        ASSERT_EQ(ours.status, 0);
        EXPECT_LE(MaxDifference(ours.pixels, Djpeg(dir, jpeg, c.djpeg)), 3);
    }
}

// Means of f x f groups of a full-size picture (partial groups at the
// right and bottom edges).
std::vector<std::uint8_t> BoxMeans(const std::vector<std::uint8_t>& full, int width, int height, int channels, int f)
{
    const int w = (width + f - 1) / f, h = (height + f - 1) / f;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h * channels);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c) {
                int sum = 0, n = 0;
                for (int j = y * f; j < std::min(height, y * f + f); ++j)
                    for (int i = x * f; i < std::min(width, x * f + f); ++i, ++n)
                        sum += full[(static_cast<std::size_t>(j) * width + i) * channels + c];
                out[(static_cast<std::size_t>(y) * w + x) * channels + c] = static_cast<std::uint8_t>((sum + n / 2) / n);
            }
    return out;
}

TEST(JpegDecoder, ScaledDecodingIsNearDjpegScale)
{
    gavex_test::TempDir dir("jpegdec");
    const std::string picture = MakePpm(dir, 160, 96);
    const std::string odd = MakePpm(dir, 37, 29);
    for (const std::string options : {"-sample 2x2", "-sample 1x1", "-grayscale", "-sample 2x1"})
        for (const std::string& source : {picture, odd}) {
            const auto jpeg = Cjpeg(dir, source, options);
            const Picture full = Decode(jpeg);
            ASSERT_EQ(full.status, 0);
            const int channels = full.components == 1 ? 1 : 3;
            for (int scale = 1; scale <= 3; ++scale) {
                SCOPED_TRACE(options + " scale " + std::to_string(scale) + " " + source);
                const Picture ours = Decode(jpeg, scale);
                ASSERT_EQ(ours.status, 0);
                const auto reference = Djpeg(dir, jpeg, "-dct int -scale 1/" + std::to_string(1 << scale));
                ASSERT_EQ(ours.pixels.size(), reference.size());
                // libjpeg-turbo reduces 2x1 chroma with a square transform
                // and up-samples it; ours transforms it to its own shape, so
                // there it is held to the means of the full-size picture,
                // at least as near as djpeg's.
                const auto means = BoxMeans(full.pixels, full.width, full.height, channels, 1 << scale);
                const double toDjpeg = MeanDifference(ours.pixels, reference);
                if (options == "-sample 2x1")
                    EXPECT_LE(MeanDifference(ours.pixels, means), MeanDifference(reference, means));
                else
                    EXPECT_LE(toDjpeg, 3.0);
            }
        }
}

TEST(JpegDecoder, OurFilesDecodeLikeDjpeg)
{
    gavex_test::TempDir dir("jpegdec");
    const std::string ppm = MakePpm(dir, 75, 45);
    const auto bytes = gavex_test::ReadFileBytes(ppm);
    const std::vector<std::uint8_t> rgb(bytes.end() - 75 * 45 * 3, bytes.end());
    for (const JpegSampling sampling : {JpegSampling444, JpegSampling422, JpegSampling420}) {
        EncodeOptions options;
        options.jpegSampling = sampling;
        options.restartInterval = sampling == JpegSampling422 ? 3 : 0;
        const Encoded encoded = EncodePixels(rgb.data(), 75 * 3, {75, 45}, 3, JpegColorRgb, JpegSampling444, options);
        ASSERT_EQ(encoded.status, 0);
        const Picture ours = Decode(encoded.bytes);
        ASSERT_EQ(ours.status, 0);
        EXPECT_LE(MaxDifference(ours.pixels, Djpeg(dir, encoded.bytes, "-dct int")), 3) << sampling;
    }
}

// A copy of a file without its DHT segments: the standard tables are used.
std::vector<std::uint8_t> WithoutDht(const std::vector<std::uint8_t>& jpeg)
{
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    std::size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF && jpeg[i + 1] != 0xDA) {
        const std::size_t length = static_cast<std::size_t>(jpeg[i + 2]) << 8 | jpeg[i + 3];
        if (jpeg[i + 1] != 0xC4)
            out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(i),
                       jpeg.begin() + static_cast<std::ptrdiff_t>(i + 2 + length));
        i += 2 + length;
    }
    out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(i), jpeg.end());
    return out;
}

TEST(JpegDecoder, LosslessTranscodesDecodeToIdenticalPixels)
{
    gavex_test::TempDir dir("jpegdec");
    const auto original = Cjpeg(dir, MakePpm(dir, 120, 72), "-sample 2x2");
    const Picture reference = Decode(original);
    ASSERT_EQ(reference.status, 0);
    for (const std::string options : {"-restart 1", "-optimize", "-restart 2 -optimize"}) {
        const Picture copy = Decode(Jpegtran(dir, original, options));
        ASSERT_EQ(copy.status, 0) << options;
        EXPECT_EQ(copy.pixels, reference.pixels) << options;
    }
    // cjpeg's default tables are those of Annex K.
    const Picture bare = Decode(WithoutDht(original));
    ASSERT_EQ(bare.status, 0);
    EXPECT_EQ(bare.pixels, reference.pixels);
}

// A single interleaved scan is decoded several MCUs to a call and its pixels
// are written while the scan goes on; a progressive copy of the same file
// (the same coefficients) takes the whole-image way. Both give the same
// bytes over samplings, odd sizes, restart intervals, output forms and
// scales, and over a stream long enough to be refilled many times (noise at
// quality 100, rich in 0xFF bytes). A stream cut inside its scan ends in the
// status of a stream that runs dry, whichever MCU the cut falls in.
TEST(JpegDecoder, RowByRowScansGiveTheBytesOfWholeImageDecoding)
{
    gavex_test::TempDir dir("jpegdec");
    const std::string picture = MakePpm(dir, 160, 96);
    const std::string odd = MakePpm(dir, 37, 29);
    const std::string wide = MakePpm(dir, 301, 35);
    const std::string noise = MakeNoisePpm(dir, 256, 160);
    struct Case {
        std::string source, options;
    };
    const Case cases[] = {
        {picture, "-sample 2x2"},
        {picture, "-sample 2x1 -restart 1"},
        {picture, "-sample 1x2 -restart 3B"},
        {picture, "-sample 1x1 -restart 7B"},
        {picture, "-grayscale -restart 5B"},
        {odd, "-sample 2x2 -restart 1B"},
        {odd, "-sample 2x1"},
        {odd, "-grayscale"},
        {wide, "-sample 2x2 -restart 2B"},
        {noise, "-quality 100 -sample 2x2"},
        {noise, "-quality 100 -sample 1x1 -restart 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source + " " + c.options);
        const auto baseline = Cjpeg(dir, c.source, c.options);
        const auto progressive = Jpegtran(dir, baseline, "-progressive");
        const bool grey = c.options.find("-grayscale") != std::string::npos;
        std::vector<JpegColor> forms{JpegColorGrey};
        if (!grey)
            forms.insert(forms.end(), {JpegColorRgb, JpegColorBgr});
        else
            forms.push_back(JpegColorRgb);
        for (const JpegColor form : forms)
            for (const std::int32_t scale : {0, 1, 3}) {
                SCOPED_TRACE("form " + std::to_string(form) + " scale " + std::to_string(scale));
                const Picture ours = Decode(baseline, scale, form);
                ASSERT_EQ(ours.status, 0);
                const Picture whole = Decode(progressive, scale, form);
                ASSERT_EQ(whole.status, 0);
                EXPECT_EQ(ours.pixels, whole.pixels);
            }
        // Cuts inside the entropy-coded data, from its first bytes to its
        // last.
        std::size_t scan = 0;
        for (std::size_t i = 0; i + 1 < baseline.size(); ++i)
            if (baseline[i] == 0xFF && baseline[i + 1] == 0xDA)
                scan = i + 2 + (static_cast<std::size_t>(baseline[i + 2]) << 8 | baseline[i + 3]);
        ASSERT_GT(scan, 0u);
        for (const double at : {0.02, 0.3, 0.77, 0.99}) {
            const auto cut = scan + static_cast<std::size_t>(at * static_cast<double>(baseline.size() - 2 - scan));
            const Picture truncated =
                Decode(std::vector<std::uint8_t>(baseline.begin(), baseline.begin() + static_cast<std::ptrdiff_t>(cut)));
            EXPECT_EQ(truncated.status, JpegStatusCode::BufferExhausted) << "cut at " << cut;
        }
    }
}

TEST(JpegDecoder, ProgressiveFilesDecodeLikeDjpeg)
{
    gavex_test::TempDir dir("jpegdec");
    const std::string picture = MakePpm(dir, 120, 72);
    const std::string odd = MakePpm(dir, 37, 29);
    const std::string noise = MakeNoisePpm(dir, 48, 40);
    struct Case {
        std::string source;
        std::string options;
    };
    const Case cases[] = {{picture, "-progressive -sample 2x2"},  {picture, "-progressive -grayscale"},
                          {odd, "-progressive -sample 2x1"},      {odd, "-progressive -sample 1x1 -restart 1"},
                          {noise, "-progressive -quality 100"},   {picture, "-progressive -optimize -quality 95"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const auto jpeg = Cjpeg(dir, c.source, c.options);
        const Picture ours = Decode(jpeg);
        ASSERT_EQ(ours.status, 0);
        EXPECT_LE(MaxDifference(ours.pixels, Djpeg(dir, jpeg, "-dct int")), 3);
        // The same coefficients as a sequential copy: identical pixels.
        const Picture sequential = Decode(Jpegtran(dir, jpeg, "-optimize"));
        ASSERT_EQ(sequential.status, 0);
        EXPECT_EQ(ours.pixels, sequential.pixels);
        const Picture quarter = Decode(jpeg, 2);
        ASSERT_EQ(quarter.status, 0);
        EXPECT_EQ(quarter.pixels, Decode(Jpegtran(dir, jpeg, "-optimize"), 2).pixels);
    }
    // jpegtran's progressive copy of a sequential file.
    const auto sequential = Cjpeg(dir, picture, "-sample 2x2");
    const Picture progressive = Decode(Jpegtran(dir, sequential, "-progressive"));
    ASSERT_EQ(progressive.status, 0);
    EXPECT_EQ(progressive.pixels, Decode(sequential).pixels);
}

// Hand-built streams: SOI, DQT, SOF, SOS header, data, EOI.
struct Builder {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(2, 0xFF);
    Builder() { bytes[1] = 0xD8; }
    Builder& Segment(std::uint8_t marker, const std::vector<std::uint8_t>& body)
    {
        const std::size_t length = body.size() + 2;
        bytes.push_back(0xFF);
        bytes.push_back(marker);
        bytes.push_back(static_cast<std::uint8_t>(length >> 8));
        bytes.push_back(static_cast<std::uint8_t>(length & 255));
        bytes.insert(bytes.end(), body.begin(), body.end());
        return *this;
    }
    Builder& Raw(const std::vector<std::uint8_t>& raw)
    {
        for (const std::uint8_t b : raw)
            bytes.push_back(b);
        return *this;
    }
};

std::vector<std::uint8_t> Dqt(std::uint8_t id = 0)
{
    std::vector<std::uint8_t> body{id};
    body.insert(body.end(), 64, 1);
    return body;
}

std::vector<std::uint8_t> Sof(std::uint16_t w, std::uint16_t h, const std::vector<std::uint8_t>& components)
{
    std::vector<std::uint8_t> body(6);
    body[0] = 8;
    body[1] = static_cast<std::uint8_t>(h >> 8);
    body[2] = static_cast<std::uint8_t>(h);
    body[3] = static_cast<std::uint8_t>(w >> 8);
    body[4] = static_cast<std::uint8_t>(w);
    body[5] = static_cast<std::uint8_t>(components.size() / 3);
    for (const std::uint8_t b : components)
        body.push_back(b);
    return body;
}

const std::vector<std::uint8_t> kSos1{1, 1, 0x00, 0, 63, 0};

TEST(JpegDecoder, HeaderDecisions)
{
    // A grey 8x8 block of DC 0 (standard tables: DC code 00, EOB 1010).
    const std::vector<std::uint8_t> grey =
        Builder().Segment(0xDB, Dqt()).Segment(0xC0, Sof(8, 8, {1, 0x22, 0})).Segment(0xDA, kSos1).Raw({0x28, 0xFF, 0xD9}).bytes;
    Picture p = Decode(grey);
    ASSERT_EQ(p.status, 0);
    EXPECT_EQ(p.colour, JpegColorGrey);
    EXPECT_EQ(p.sampling, JpegSampling444);  // 2x2 of one component read as 1x1
    EXPECT_EQ(p.pixels, std::vector<std::uint8_t>(64, 128));

    const std::vector<std::uint8_t> three{1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0};
    const auto plain = Builder().Segment(0xDB, Dqt()).Segment(0xC0, Sof(8, 8, three)).bytes;
    CJPEGDecoder decoder;
    std::int32_t w = 0, h = 0, n = 0, precision = 0;
    JpegColor colour = JpegColorOther;
    JpegSampling sampling = JpegSamplingOther;
    struct Case {
        std::vector<std::uint8_t> prefix;
        JpegColor colour;
    };
    std::vector<std::uint8_t> adobe0{'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 0};
    std::vector<std::uint8_t> adobe1 = adobe0;
    adobe1[11] = 1;
    const Case cases[] = {{{}, JpegColorYCbCr},
                          {Builder().Segment(0xEE, adobe0).bytes, JpegColorRgb},
                          {Builder().Segment(0xEE, adobe1).bytes, JpegColorYCbCr}};
    for (const Case& c : cases) {
        std::vector<std::uint8_t> stream = c.prefix.empty() ? std::vector<std::uint8_t>{0xFF, 0xD8} : c.prefix;
        stream.insert(stream.end(), plain.begin() + 2, plain.end());
        const auto sos = Builder().Segment(0xDA, {3, 1, 0, 2, 0, 3, 0, 0, 63, 0}).bytes;
        stream.insert(stream.end(), sos.begin() + 2, sos.end());
        CMemBuffInput in;
        in.AttachBuffer(stream.data(), static_cast<std::int32_t>(stream.size()));
        decoder.Clean();
        decoder.SetSource(&in);
        ASSERT_EQ(decoder.ReadHeader(&w, &h, &n, &colour, &sampling, &precision), 0);
        EXPECT_EQ(colour, c.colour);
        std::uint8_t pixel[192];
        EXPECT_EQ(decoder.SetDestination(pixel, 24, {8, 8}, 3, JpegColorRgb, JpegSampling444, 12, 0),
                  JpegStatusCode::BadParameter);
        EXPECT_EQ(decoder.SetDestination(pixel, 24, {8, 8}, 3, JpegColorRgb, JpegSampling444, 8, 0), 0);
        EXPECT_EQ(decoder.SetDestination(pixel, 24, {4, 8}, 3, JpegColorRgb, JpegSampling444, 8, 0), 0);
        EXPECT_EQ(decoder.ReadData(), JpegStatusCode::BadParameter) << "destination narrower than the image";
    }
}

TEST(JpegDecoder, HostileStreamsEndInANegativeStatus)
{
    gavex_test::TempDir dir("jpegdec");
    const auto valid = Cjpeg(dir, MakePpm(dir, 40, 24), "-sample 2x2 -restart 1");
    struct Case {
        std::string name;
        std::vector<std::uint8_t> stream;
        JpegStatus expected;  // 0: any negative status
    };
    std::vector<Case> cases;
    // Truncated at every segment boundary and inside the scan.
    for (std::size_t i = 2; i + 4 <= valid.size() && valid[i] == 0xFF;) {
        cases.push_back({"cut at " + std::to_string(i), std::vector<std::uint8_t>(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(i)), 0});
        cases.push_back({"cut at " + std::to_string(i + 3), std::vector<std::uint8_t>(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(i + 3)), 0});
        if (valid[i + 1] == 0xDA)
            break;
        i += 2 + (static_cast<std::size_t>(valid[i + 2]) << 8 | valid[i + 3]);
    }
    cases.push_back({"cut in scan", std::vector<std::uint8_t>(valid.begin(), valid.end() - static_cast<std::ptrdiff_t>(valid.size() / 4)), 0});
    const std::vector<std::uint8_t> one{1, 0x11, 0};
    const auto base = [] { return Builder().Segment(0xDB, Dqt()); };
    for (std::uint8_t length : {0, 1}) {
        auto b = base();
        b.Raw({0xFF, 0xC0, 0, length});
        cases.push_back({"SOF length " + std::to_string(length), b.bytes, JpegStatusCode::BadImageData});
    }
    cases.push_back({"DQT length huge", Builder().Raw({0xFF, 0xDB, 0xFF, 0xFF, 0}).bytes, 0});
    for (std::uint8_t id = 4; id < 16; ++id) {
        std::vector<std::uint8_t> dht{id, 1};
        dht.insert(dht.end(), 15, 0);
        dht.push_back(0);
        cases.push_back({"DHT id " + std::to_string(id), Builder().Segment(0xC4, dht).bytes,
                         JpegStatusCode::BadHuffmanTableSegment});
        cases.push_back({"DQT id " + std::to_string(id), Builder().Segment(0xDB, Dqt(id)).bytes,
                         JpegStatusCode::BadQuantTableSegment});
        cases.push_back({"SOF Tq " + std::to_string(id), base().Segment(0xC0, Sof(8, 8, {1, 0x11, id})).bytes,
                         JpegStatusCode::BadFrameHeader});
        cases.push_back({"SOS Td " + std::to_string(id),
                         base().Segment(0xC0, Sof(8, 8, one)).Segment(0xDA, {1, 1, static_cast<std::uint8_t>(id << 4), 0, 63, 0}).bytes,
                         JpegStatusCode::BadScanHeader});
    }
    for (std::uint8_t factors : {0x00, 0x50, 0x15, 0x01}) {
        const std::vector<std::uint8_t> three{1, factors, 0, 2, 0x11, 0, 3, 0x11, 0};
        cases.push_back({"factors " + std::to_string(factors), base().Segment(0xC0, Sof(8, 8, three)).bytes,
                         JpegStatusCode::BadFrameHeader});
    }
    {
        const std::vector<std::uint8_t> three{1, 0x31, 0, 2, 0x21, 0, 3, 0x11, 0};
        cases.push_back({"factors not dividing", base().Segment(0xC0, Sof(8, 8, three)).bytes,
                         JpegStatusCode::NotSupported});
    }
    cases.push_back({"65535x65535", base().Segment(0xC0, Sof(65535, 65535, {1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0})).bytes,
                     JpegStatusCode::BadFrameHeader});
    cases.push_back({"no SOF", base().Segment(0xDA, kSos1).Raw({0x28, 0xFF, 0xD9}).bytes, JpegStatusCode::BadImageData});
    cases.push_back({"SOF5", base().Segment(0xC5, Sof(8, 8, one)).bytes, JpegStatusCode::NotSupported});
    cases.push_back({"DRI length 5", base().Segment(0xDD, {0, 1, 0}).bytes, JpegStatusCode::BadRestartSegment});
    cases.push_back({"SOS id not in frame", base().Segment(0xC0, Sof(8, 8, one)).Segment(0xDA, {1, 7, 0, 0, 63, 0}).bytes,
                     JpegStatusCode::BadScanHeader});
    cases.push_back({"marker inside a block",
                     base().Segment(0xC0, Sof(16, 8, one)).Segment(0xDA, kSos1).Raw({0xFF, 0xD9}).bytes, 0});
    cases.push_back({"scan without EOI", base().Segment(0xC0, Sof(8, 8, one)).Segment(0xDA, kSos1).Raw({0x28}).bytes, 0});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Picture p = Decode(c.stream);
        if (c.expected != 0)
            EXPECT_EQ(p.status, c.expected);
        else
            EXPECT_LT(p.status, 0);
    }
}

TEST(JpegDecoder, DecoderServesImagesOfDifferentSizes)
{
    gavex_test::TempDir dir("jpegdec");
    const auto small = Cjpeg(dir, MakePpm(dir, 16, 16), "-sample 2x2");
    const auto large = Cjpeg(dir, MakePpm(dir, 96, 64), "-sample 1x1");
    CJPEGDecoder decoder;
    for (const auto* jpeg : {&small, &large, &small}) {
        CMemBuffInput in;
        in.AttachBuffer(jpeg->data(), static_cast<std::int32_t>(jpeg->size()));
        decoder.Clean();
        decoder.SetSource(&in);
        std::int32_t w = 0, h = 0, n = 0, precision = 0;
        JpegColor colour{};
        JpegSampling sampling{};
        ASSERT_EQ(decoder.ReadHeader(&w, &h, &n, &colour, &sampling, &precision), 0);
        std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
        ASSERT_EQ(decoder.SetDestination(rgb.data(), w * 3, {w, h}, 3, JpegColorRgb, JpegSampling444, 8, 0), 0);
        ASSERT_EQ(decoder.ReadData(), 0);
        EXPECT_EQ(rgb, Decode(*jpeg).pixels);
    }
}

}  // namespace

namespace {

// The components of a decoded image as they are (no conversion).
Picture DecodeComponents(const std::vector<std::uint8_t>& jpeg)
{
    Picture p;
    CMemBuffInput in;
    in.AttachBuffer(jpeg.data(), static_cast<std::int32_t>(jpeg.size()));
    CJPEGDecoder decoder;
    decoder.SetSource(&in);
    p.status = decoder.ReadHeader(&p.width, &p.height, &p.components, &p.colour, &p.sampling, &p.precision);
    if (p.status != 0)
        return p;
    const std::int32_t bytes = p.precision > 8 ? 2 : 1;
    const std::size_t size = static_cast<std::size_t>(p.width) * p.height * p.components * bytes;
    p.pixels.assign(size + 32, 0xA5);
    p.status = decoder.SetDestination(p.pixels.data(), p.width * p.components * bytes, {p.width, p.height},
                                      p.components, JpegColorOther, JpegSampling444, p.precision, 1);
    if (p.status == 0)
        p.status = decoder.ReadData();
    for (std::size_t i = size; i < p.pixels.size(); ++i)
        EXPECT_EQ(p.pixels[i], 0xA5);
    p.pixels.resize(size);
    return p;
}

TEST(JpegDecoder, FfmpegLosslessFilesDecodeToFfmpegSamples)
{
    gavex_test::TempDir dir("jpegdec");
    // ffmpeg's 4:4:4 files are plain T.81; its RGB files carry its own
    // reversible colour transform in 9-bit components and decode to 8-bit
    // RGB.
    for (const std::string format : {"yuv444p", "bgr24"})
        for (int predictor = 1; predictor <= 3; ++predictor) {
            SCOPED_TRACE(format + " predictor " + std::to_string(predictor));
            const bool rgb = format == "bgr24";
            const std::string jpg = dir / "lossless.jpg", raw = dir / "lossless.raw";
            ASSERT_EQ(Shell(std::string(GAVEX_FFMPEG) + " -v error -y -f lavfi -i testsrc2=size=46x32:rate=1 -frames:v 1 "
                          "-vf format=" + format + ",crop=45:31:0:0 "
                          "-pix_fmt " + format + " -c:v ljpeg -strict -1 -pred " + std::to_string(predictor) + " " +
                          Quote(jpg)),
                      0);
            // ffmpeg's samples: one plane per component, or packed RGB.
            const std::string outFormat = rgb ? "rgb24" : format;
            ASSERT_EQ(Shell(std::string(GAVEX_FFMPEG) + " -v error -y -i " + Quote(jpg) + " -f rawvideo -pix_fmt " +
                          outFormat + " " + Quote(raw)),
                      0);
            const auto samples = gavex_test::ReadFileBytes(raw);
            ASSERT_EQ(samples.size(), 45u * 31 * 3);
            const auto file = gavex_test::ReadFileBytes(jpg);
            const Picture ours = DecodeComponents(file);
            ASSERT_EQ(ours.status, 0);
            ASSERT_EQ(ours.components, 3);
            EXPECT_EQ(ours.precision, 8);
            const std::size_t n = 45 * 31;
            for (std::size_t i = 0; i < n; ++i)
                for (std::size_t c = 0; c < 3; ++c)
                    ASSERT_EQ(ours.pixels[i * 3 + c], rgb ? samples[i * 3 + c] : samples[c * n + i])
                        << "sample " << i << " component " << c;
            if (!rgb)
                continue;
            // The header says RGB, and the buffer decompressor takes it.
            CMemBuffInput in;
            ASSERT_EQ(in.AttachBuffer(file.data(), static_cast<std::int32_t>(file.size())), 0);
            CJPEGDecoder decoder;
            ASSERT_EQ(decoder.SetSource(&in), 0);
            std::int32_t w = 0, h = 0, components = 0, precision = 0;
            JpegColor colour = JpegColorOther;
            JpegSampling sampling = JpegSamplingOther;
            ASSERT_EQ(decoder.ReadHeader(&w, &h, &components, &colour, &sampling, &precision), 0);
            EXPECT_EQ(colour, JpegColorRgb);
            EXPECT_EQ(precision, 8);
            JpegFrameDecompressor decompressor;
            std::int32_t fw = 0, fh = 0, layout = 0;
            std::vector<std::uint8_t> frame(45 * 31 * 2);
            EXPECT_EQ(decompressor.Decompress(file.data(), static_cast<std::int32_t>(file.size()), frame.data(),
                                              static_cast<std::int32_t>(frame.size()), &fw, &fh, &layout, 0),
                      0);
            EXPECT_GT(decompressor.Decompress(file.data(), static_cast<std::int32_t>(file.size()), frame.data(),
                                              static_cast<std::int32_t>(frame.size()), &fw, &fh, &layout, 0),
                      0);
        }
}

}  // namespace

namespace {

// Our extended-process file of 16-bit samples.
std::vector<std::uint8_t> EncodeExtended(const std::vector<std::uint16_t>& samples, ImageSize size,
                                         std::int32_t channels, JpegColor colour, std::int32_t precision,
                                         std::int32_t restart)
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.width) * size.height * 8 + 65536);
    CMemBuffOutput out;
    out.AttachBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    CJPEGEncoder encoder;
    encoder.SetSource(reinterpret_cast<const std::uint8_t*>(samples.data()), size.width * channels * 2, size, channels,
                      colour, JpegSampling444, precision);
    encoder.SetDestination(&out);
    EXPECT_EQ(encoder.SetParams(JpegModeExtended, colour, JpegSampling444, restart, 1, 100), 0);
    EXPECT_EQ(encoder.WriteHeader(), 0);
    EXPECT_EQ(encoder.WriteData(), 0);
    bytes.resize(static_cast<std::size_t>(out.Position()));
    return bytes;
}

TEST(JpegDecoder, TwelveBitRoundTrip)
{
    for (const std::int32_t channels : {1, 3}) {
        SCOPED_TRACE(channels);
        const ImageSize size{45, 27};
        std::vector<std::uint16_t> samples(static_cast<std::size_t>(size.width) * size.height * channels);
        for (int y = 0; y < size.height; ++y)
            for (int x = 0; x < size.width; ++x)
                for (int c = 0; c < channels; ++c)
                    samples[(static_cast<std::size_t>(y) * size.width + x) * channels + c] =
                        static_cast<std::uint16_t>((x * 80 + y * 50 + c * 900 + (x * y) % 37) % 4096);
        const JpegColor colour = channels == 1 ? JpegColorGrey : JpegColorRgb;
        const auto jpeg = EncodeExtended(samples, size, channels, colour, 12, channels == 1 ? 2 : 0);
        ASSERT_GT(jpeg.size(), 100u);
        EXPECT_NE(FindSegment(jpeg, 0xC1), -1);
        const Picture back = DecodeComponents(jpeg);
        ASSERT_EQ(back.status, 0);
        ASSERT_EQ(back.precision, 12);
        ASSERT_EQ(back.pixels.size(), samples.size() * 2);
        int worst = 0;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const int decoded = back.pixels[2 * i] | back.pixels[2 * i + 1] << 8;
            worst = std::max(worst, std::abs(decoded - samples[i]));
        }
        // Quality 100 quantises by 1: the transforms' rounding only.
        EXPECT_LE(worst, 3);
    }
}

TEST(JpegDecoder, EightBitExtendedFilesDecodeLikeDjpeg)
{
    gavex_test::TempDir dir("jpegdec");
    const auto rgb = gavex_test::ReadFileBytes(MakePpm(dir, 40, 24));
    std::vector<std::uint8_t> pixels(rgb.end() - 40 * 24 * 3, rgb.end());
    std::vector<std::uint8_t> bytes(65536);
    CMemBuffOutput out;
    out.AttachBuffer(bytes.data(), 65536);
    CJPEGEncoder encoder;
    encoder.SetSource(pixels.data(), 40 * 3, {40, 24}, 3, JpegColorRgb, JpegSampling444, 8);
    encoder.SetDestination(&out);
    ASSERT_EQ(encoder.SetParams(JpegModeExtended, JpegColorYCbCr, JpegSampling420, 1, 0, 90), 0);
    ASSERT_EQ(encoder.WriteHeader(), 0);
    ASSERT_EQ(encoder.WriteData(), 0);
    bytes.resize(static_cast<std::size_t>(out.Position()));
    const Picture ours = Decode(bytes);
    ASSERT_EQ(ours.status, 0);
    EXPECT_LE(MaxDifference(ours.pixels, Djpeg(dir, bytes, "-dct int")), 3);
    // The coefficients of baseline, coded with the image's own tables: the
    // same picture in fewer bytes.
    EncodeOptions options;
    options.quality = 90;
    options.restartInterval = 1;
    const Encoded baseline = EncodePixels(pixels.data(), 40 * 3, {40, 24}, 3, JpegColorRgb, JpegSampling444, options);
    ASSERT_EQ(baseline.status, 0);
    EXPECT_EQ(ours.pixels, Decode(baseline.bytes).pixels);
    EXPECT_LT(bytes.size(), baseline.bytes.size());
}

}  // namespace

namespace {

std::vector<std::uint8_t> EncodeLossless(const std::uint8_t* samples, ImageSize size, std::int32_t channels,
                                         JpegColor colour, std::int32_t precision, std::int32_t predictor,
                                         std::int32_t restart)
{
    const std::int32_t bytes = precision > 8 ? 2 : 1;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(size.width) * size.height * channels * 5 + 65536);
    CMemBuffOutput stream;
    stream.AttachBuffer(out.data(), static_cast<std::int32_t>(out.size()));
    CJPEGEncoder encoder;
    encoder.SetSource(samples, size.width * channels * bytes, size, channels, colour, JpegSampling444, precision);
    encoder.SetDestination(&stream);
    EXPECT_EQ(encoder.SetParams(JpegModeLossless, colour, JpegSampling444, restart, 1, 100), 0);
    EXPECT_EQ(encoder.SetLosslessPredictor(predictor, 0), 0);
    EXPECT_EQ(encoder.WriteHeader(), 0);
    EXPECT_EQ(encoder.WriteData(), 0);
    out.resize(static_cast<std::size_t>(stream.Position()));
    return out;
}

TEST(JpegDecoder, OurLosslessFilesRoundTrip)
{
    gavex_test::TempDir dir("jpegdec");
    const ImageSize size{37, 23};
    std::mt19937 rng(12);
    for (const std::int32_t precision : {8, 16})
        for (const std::int32_t channels : {1, 3})
            for (std::int32_t predictor = 1; predictor <= 7; ++predictor) {
                SCOPED_TRACE("precision " + std::to_string(precision) + " channels " + std::to_string(channels) +
                             " predictor " + std::to_string(predictor));
                const std::int32_t bytes = precision > 8 ? 2 : 1;
                std::vector<std::uint8_t> samples(static_cast<std::size_t>(size.width) * size.height * channels * bytes);
                for (std::size_t i = 0; i < samples.size(); ++i)
                    samples[i] = static_cast<std::uint8_t>((i * 7 / 3) % 251 + (rng() % 5));
                const JpegColor colour = channels == 1 ? JpegColorGrey : JpegColorOther;
                const auto jpeg = EncodeLossless(samples.data(), size, channels, colour, precision, predictor,
                                                 predictor == 3 ? size.width * 5 : 0);
                EXPECT_NE(FindSegment(jpeg, 0xC3), -1);
                const Picture back = DecodeComponents(jpeg);
                ASSERT_EQ(back.status, 0);
                EXPECT_EQ(back.pixels, samples);
                if (precision == 8) {
                    // ffmpeg reads the 8-bit files to the same samples
                    // (three components without a colour marker as RGB).
                    const std::string jpg = dir / "ours.jpg", raw = dir / "ours.raw";
                    gavex_test::WriteFileBytes(jpg, jpeg);
                    const std::string format = channels == 1 ? "gray" : "rgb24";
                    ASSERT_EQ(Shell(std::string(GAVEX_FFMPEG) + " -v error -y -i " + Quote(jpg) +
                                    " -f rawvideo -pix_fmt " + format + " " + Quote(raw)),
                              0);
                    const auto decoded = gavex_test::ReadFileBytes(raw);
                    ASSERT_EQ(decoded.size(), samples.size());
                    for (std::size_t i = 0; i < samples.size(); ++i)
                        ASSERT_EQ(decoded[i], samples[i]) << "sample " << i;
                }
            }
}

// Grey lossless files of every predictor at 8, 12 and 16 bits decode in
// ffmpeg to the samples we encoded. The 16-bit picture spans the whole range
// with steps across 32768, where predictors 5 to 7 go wrong when samples are
// taken as signed numbers (ours would still round-trip, ffmpeg's would not).
TEST(JpegDecoder, LosslessGreyFilesDecodeInFfmpegToTheirSamples)
{
    gavex_test::TempDir dir("jpegdec");
    const ImageSize size{33, 19};
    std::mt19937 rng(5);
    for (const std::int32_t precision : {8, 12, 16}) {
        const std::int32_t top = (1 << precision) - 1;
        std::vector<std::uint8_t> samples(static_cast<std::size_t>(size.width) * size.height * (precision > 8 ? 2 : 1));
        for (std::int32_t y = 0; y < size.height; ++y)
            for (std::int32_t x = 0; x < size.width; ++x) {
                // A ramp over the full range, a band on either side of the
                // midpoint and some noise.
                std::int32_t v = (x * 2 + y) * top / (size.width * 2 + size.height);
                if ((x / 4 + y / 3) % 3 == 0)
                    v = (top + 1) / 2 + static_cast<std::int32_t>(rng() % 64) - 32;
                v = std::clamp(v + static_cast<std::int32_t>(rng() % 9) - 4, 0, top);
                const std::size_t at = static_cast<std::size_t>(y) * size.width + x;
                if (precision > 8) {
                    samples[at * 2] = static_cast<std::uint8_t>(v & 0xFF);
                    samples[at * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
                } else {
                    samples[at] = static_cast<std::uint8_t>(v);
                }
            }
        for (std::int32_t predictor = 1; predictor <= 7; ++predictor) {
            SCOPED_TRACE("precision " + std::to_string(precision) + " predictor " + std::to_string(predictor));
            const auto jpeg = EncodeLossless(samples.data(), size, 1, JpegColorGrey, precision, predictor, 0);
            const Picture back = DecodeComponents(jpeg);
            ASSERT_EQ(back.status, 0);
            EXPECT_EQ(back.pixels, samples);
            const std::string jpg = dir / "grey.jpg", raw = dir / "grey.raw";
            gavex_test::WriteFileBytes(jpg, jpeg);
            ASSERT_EQ(Shell(std::string(GAVEX_FFMPEG) + " -v error -y -i " + Quote(jpg) + " -f rawvideo -pix_fmt " +
                            (precision > 8 ? "gray16le " : "gray ") + Quote(raw)),
                      0);
            // ffmpeg gives 12-bit samples in the top bits of 16.
            const auto decoded = gavex_test::ReadFileBytes(raw);
            ASSERT_EQ(decoded.size(), samples.size());
            for (std::size_t i = 0; i < samples.size(); i += precision > 8 ? 2 : 1) {
                const std::int32_t want = precision > 8 ? (samples[i] | samples[i + 1] << 8) << (16 - precision)
                                                        : static_cast<std::int32_t>(samples[i]);
                const std::int32_t got =
                    precision > 8 ? decoded[i] | decoded[i + 1] << 8 : static_cast<std::int32_t>(decoded[i]);
                ASSERT_EQ(got, want) << "sample " << i / (precision > 8 ? 2 : 1);
            }
        }
    }
}

}  // namespace
