// The frame compressor and the JPEG buffer compressor under it: archive
// frames against the encoder's own output and libjpeg-turbo / libpng, the
// settings it reads and writes, codec reuse and key flags, and the YUV dump.

#include "imaging/jpeg/Compressor.h"

#include <png.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <latch>
#include <mutex>
#include <stdexcept>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "EncodeHelpers.h"
#include "archive/files/FrameCodecs.h"
#include "base/Log.h"
#include "base/Registry.h"
#include "imaging/jpeg/JpegFrameCompressor.h"
#include "imaging/jpeg/WaveletEncoderFactory.h"
#include "platform/File.h"
#include "platform/RegistryStore.h"
#include "support/TempDir.h"

namespace {

using platform::RegistryScope;
using platform::RegistryStore;
using platform::RegistryValue;

const char* const kVideo = "SOFTWARE\\QOR\\Vindara\\Video";
const char* const kDebug = "SOFTWARE\\QOR\\Vindara\\Debug";
const char* const kMjpeg = "SOFTWARE\\QOR\\Vindara\\Video\\MJPEG";

enum class Layout { Grey, Yuv420, Yuv422 };

// A frame of the layout with smooth planes and a little noise, in a block
// that leaves room for an unaligned start.
struct Frame {
    Frame(Layout layout, int width, int height, unsigned seed = 1) : layout(layout), width(width), height(height)
    {
        const int cw = width / 2;
        const int chromaRows = layout == Layout::Yuv420 ? height / 2 : height;
        const std::size_t chroma = layout == Layout::Grey ? 0 : std::size_t(cw) * chromaRows;
        storage.resize(std::size_t(width) * height + 2 * chroma + 64);
        std::mt19937 random(seed);
        std::uint8_t* p = Data();
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                *p++ = std::uint8_t((x * 255 / (width > 1 ? width - 1 : 1) + y * 3 + random() % 16) & 0xFF);
        for (std::size_t i = 0; i < 2 * chroma; ++i)
            *p++ = std::uint8_t(100 + (i * 7 + random() % 8) % 56);
    }
    std::uint8_t* Data() { return storage.data() + offset; }
    std::uint8_t* Y() { return Data(); }
    std::uint8_t* U() { return Data() + std::size_t(width) * height; }
    std::uint8_t* V()
    {
        return U() + std::size_t(width / 2) * (layout == Layout::Yuv420 ? height / 2 : height);
    }
    int Colour() const { return layout == Layout::Grey ? 0 : 1; }
    int ChromaCode() const { return layout == Layout::Yuv420 ? 1 : 2; }

    Layout layout;
    int width, height;
    std::size_t offset = 32;  // 16-byte aligned in a vector's block; 33 is not
    std::vector<std::uint8_t> storage;
};

// What the encoder itself makes of the frame's planes (4:2:2: its odd chroma
// rows).
std::vector<std::uint8_t> EncoderBytes(Frame& f, int quality)
{
    jpeg_test::EncodeOptions options;
    options.quality = quality;
    if (f.layout == Layout::Grey) {
        options.jpegColour = JpegColorGrey;
        options.jpegSampling = JpegSampling444;
        return jpeg_test::EncodePixels(f.Y(), f.width, {f.width, f.height}, 1, JpegColorGrey, JpegSampling444,
                                       options)
            .bytes;
    }
    const int cw = f.width / 2, ch = f.height / 2;
    std::vector<std::uint8_t> u(std::size_t(cw) * ch + 64), v(u.size());
    for (int j = 0; j < ch; ++j) {
        const int row = f.layout == Layout::Yuv420 ? j : 2 * j + 1;
        std::memcpy(&u[std::size_t(j) * cw], f.U() + std::size_t(row) * cw, std::size_t(cw));
        std::memcpy(&v[std::size_t(j) * cw], f.V() + std::size_t(row) * cw, std::size_t(cw));
    }
    const std::uint8_t* planes[3] = {f.Y(), u.data(), v.data()};
    const std::int32_t steps[3] = {f.width, cw, cw};
    return jpeg_test::EncodePlanes(planes, steps, {f.width, f.height}, options).bytes;
}

bool DecodesInTurbo(const std::uint8_t* jpeg, std::size_t size, int width, int height)
{
    tjhandle handle = tjInitDecompress();
    int w = 0, h = 0, sub = 0, space = 0;
    bool ok = tjDecompressHeader3(handle, jpeg, static_cast<unsigned long>(size), &w, &h, &sub, &space) == 0 &&
              w == width && h == height;
    if (ok) {
        std::vector<std::uint8_t> grey(std::size_t(w) * h);
        ok = tjDecompress2(handle, jpeg, static_cast<unsigned long>(size), grey.data(), w, 0, h, TJPF_GRAY, 0) == 0;
    }
    tjDestroy(handle);
    return ok;
}

std::vector<std::uint8_t> ReadPngGrey(const std::uint8_t* data, std::size_t size, int& width, int& height)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size))
        return {};
    image.format = PNG_FORMAT_GRAY;
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
        return {};
    width = int(image.width);
    height = int(image.height);
    return pixels;
}

// Every case gets a settings store of its own.
class CompressorTest : public ::testing::Test {
protected:
    CompressorTest()
    {
        ::setenv("GAVEX_REGISTRY_DIR", m_dir.path().c_str(), 1);
        m_store = RegistryStore::Current();
    }
    ~CompressorTest() override
    {
        wavelet::RegisterWaveletEncoderMaker({});
        ::unsetenv("GAVEX_REGISTRY_DIR");
    }
    void Put(const char* key, const char* name, const char* text)
    {
        ASSERT_TRUE(m_store->SetValue(RegistryScope::Machine, key, name, RegistryValue::Text(text)));
    }
    std::string Stored(const char* key, const char* name)
    {
        RegistryKey k(key, false, RegistryKey::kRead);
        return k.ReadString(name, "");
    }

    gavex_test::TempDir m_dir{"compressor"};
    std::shared_ptr<RegistryStore> m_store;
};

struct FrameCase {
    const char* name;
    Layout layout;
    int width, height;
    bool aligned;
};

class CompressorFrames : public CompressorTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(CompressorFrames, MjpegFramesAreTheEncodersImageTaggedJpegAndPngFramesHoldTheLumaPlane)
{
    const FrameCase& c = GetParam();
    Frame f(c.layout, c.width, c.height);
    if (!c.aligned)
        f.offset = 33;
    Frame copy = f;  // the same samples, read after compression
    if (!c.aligned) {
        copy.offset = 32;
        std::memmove(copy.Data(), f.storage.data() + 33, f.storage.size() - 64);
    }
    const std::vector<std::uint8_t> before(f.storage);

    CCompressor mjpeg(55);
    const int n = mjpeg.Compress(f.Data(), 2, f.width, f.height, f.Colour(), 0, f.ChromaCode());
    ASSERT_GT(n, 4);
    EXPECT_EQ(std::memcmp(mjpeg.outputBuffer + n - 4, "JPEG", 4), 0);
    const std::vector<std::uint8_t> jpeg(mjpeg.outputBuffer, mjpeg.outputBuffer + n - 4);
    EXPECT_EQ(jpeg, EncoderBytes(copy, 80));
    EXPECT_TRUE(DecodesInTurbo(jpeg.data(), jpeg.size(), f.width, f.height));
    EXPECT_EQ(f.storage, before) << "the caller's frame is only read";

    CCompressor png(58);
    const int m = png.Compress(f.Data(), 2, f.width, f.height, f.Colour(), 0, f.ChromaCode());
    ASSERT_GT(m, 3);
    EXPECT_EQ(std::memcmp(png.outputBuffer + m - 3, "PNG", 3), 0);
    int w = 0, h = 0;
    const auto grey = ReadPngGrey(png.outputBuffer, std::size_t(m - 3), w, h);
    ASSERT_EQ(w, f.width);
    ASSERT_EQ(h, f.height);
    EXPECT_EQ(grey, std::vector<std::uint8_t>(copy.Y(), copy.Y() + std::size_t(f.width) * f.height));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, CompressorFrames,
    ::testing::Values(FrameCase{"grey_1080p", Layout::Grey, 1920, 1080, true},
                      FrameCase{"grey_17x9", Layout::Grey, 17, 9, false},
                      FrameCase{"grey_33x18", Layout::Grey, 33, 18, true},
                      FrameCase{"grey_2x2", Layout::Grey, 2, 2, true},
                      FrameCase{"yuv420_1080p", Layout::Yuv420, 1920, 1080, false},
                      FrameCase{"yuv420_17x9", Layout::Yuv420, 17, 9, true},
                      FrameCase{"yuv420_33x18", Layout::Yuv420, 33, 18, false},
                      FrameCase{"yuv420_2x2", Layout::Yuv420, 2, 2, true},
                      FrameCase{"yuv422_1080p", Layout::Yuv422, 1920, 1080, true},
                      FrameCase{"yuv422_17x9", Layout::Yuv422, 17, 9, false},
                      FrameCase{"yuv422_33x18", Layout::Yuv422, 33, 18, true},
                      FrameCase{"yuv422_2x2", Layout::Yuv422, 2, 2, false}),
    [](const ::testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.name); });

TEST_F(CompressorTest, QualityTableDefaultsAreStoredAndIndexesAreClamped)
{
    Put(kMjpeg, "quality_0", "90");
    Put(kMjpeg, "quality_5", "33");
    Frame f(Layout::Yuv420, 64, 48);
    auto jpegOf = [&](int index) {
        CCompressor c(55);
        const int n = c.Compress(f.Data(), index, f.width, f.height, 1, 0, 1);
        return n > 4 ? std::vector<std::uint8_t>(c.outputBuffer, c.outputBuffer + n - 4) : std::vector<std::uint8_t>();
    };
    EXPECT_EQ(jpegOf(3), EncoderBytes(f, 60));
    EXPECT_EQ(Stored(kMjpeg, "quality_3"), "60");
    EXPECT_EQ(Stored(kMjpeg, "quality_1"), "100");
    EXPECT_EQ(Stored(kMjpeg, "quality_0"), "90") << "a set value is left alone";
    EXPECT_EQ(jpegOf(7), EncoderBytes(f, 33));
    EXPECT_EQ(jpegOf(-1), EncoderBytes(f, 90));
}

TEST_F(CompressorTest, QualityTableIsCreatedInTheUserStoreWhenTheMachineStoreIsReadOnly)
{
    Put(kVideo, "Unrelated", "1");
    const std::string machine = m_store->Path(RegistryScope::Machine);
    ASSERT_EQ(::chmod(machine.c_str(), 0444), 0);
    Frame f(Layout::Grey, 16, 16);
    CCompressor c(55);
    EXPECT_GT(c.Compress(f.Data(), 4, 16, 16, 0, 0, 0), 4);
    EXPECT_EQ(m_store->GetValue(RegistryScope::User, kMjpeg, "quality_4"), RegistryValue::Text("40"));
    EXPECT_FALSE(m_store->GetValue(RegistryScope::Machine, kMjpeg, "quality_4").has_value());
}

TEST_F(CompressorTest, VersionsFromTheCallerAndFromCompressorVersion)
{
    struct Case {
        const char* setting;  // null: no value
        int given;
        int version;
        int enabled;
    };
    for (const Case& c : {Case{nullptr, 0, 110, 1}, Case{"", 0, 110, 1}, Case{"58", 0, 58, 1}, Case{"124", 0, 110, 1},
                          Case{nullptr, 124, 110, 1}, Case{nullptr, 122, 110, 1}, Case{nullptr, 123, 123, 1},
                          Case{nullptr, 32, 32, 0}, Case{nullptr, 33, 33, 1}}) {
        if (c.setting)
            Put(kVideo, "CompressorVersion", c.setting);
        else
            m_store->DeleteValue(RegistryScope::Machine, kVideo, "CompressorVersion");
        CCompressor compressor(c.given);
        EXPECT_EQ(compressor.GetVersion(), c.version) << (c.setting ? c.setting : "-") << " " << c.given;
        EXPECT_EQ(compressor.codecEnabled, c.enabled) << c.given;
        EXPECT_EQ(compressor.keyFrameNeeded, 1);
    }
}

TEST(CodecVersionFromName, OnlyTheExactNamesOfTheTable)
{
    EXPECT_EQ(CodecVersionFromName("MJPEG"), 55);
    EXPECT_EQ(CodecVersionFromName("Corvane 3.5"), 110);
    EXPECT_EQ(CodecVersionFromName("mjpeg"), 0);
    EXPECT_EQ(CodecVersionFromName("H264"), 0);
    EXPECT_EQ(CodecVersionFromName(""), 0);
    EXPECT_EQ(CodecVersionFromName(nullptr), 0);
    // The archive writers reach the same table.
    EXPECT_EQ(FrameCodecs::CodecVersionFromName("Corvane 3.5"), 110);
}

TEST_F(CompressorTest, GeometryOutOfRangeFailsWithoutTouchingTheCodec)
{
    Frame f(Layout::Grey, 32, 32);
    CCompressor c(55);
    ASSERT_GT(c.Compress(f.Data(), 2, 32, 32, 0, 0, 0), 0);
    c.keyFrameNeeded = 0;
    std::uint8_t* const buffer = c.outputBuffer;
    for (auto [w, h] : {std::pair{0, 32}, std::pair{32, 0}, std::pair{-1, 32}, std::pair{32, -1},
                        std::pair{12289, 32}, std::pair{32, 12289}})
        EXPECT_EQ(c.Compress(f.Data(), 2, w, h, 0, 0, 0), 0) << w << "x" << h;
    EXPECT_EQ(c.Compress(nullptr, 2, 32, 32, 0, 0, 0), 0);
    EXPECT_EQ(c.outputBuffer, buffer);
    EXPECT_EQ(c.GetWidth(), 32);
    EXPECT_EQ(c.keyFrameNeeded, 0);
}

// Records what the compressor hands a wavelet encoder.
struct SeenEncode {
    int version, width, height, outputFormat, quality, colour, key;
};

class FakeWavelet : public wavelet::IWaveletEncoder {
public:
    FakeWavelet(std::vector<SeenEncode>* seen, SeenEncode made) : m_seen(seen), m_made(made) {}
    int Encode(std::uint8_t*, std::uint8_t* out, int quality, int colour, int key, int) override
    {
        SeenEncode s = m_made;
        s.quality = quality;
        s.colour = colour;
        s.key = key;
        m_seen->push_back(s);
        std::memcpy(out, "WAVE", 4);
        return 4;
    }

private:
    std::vector<SeenEncode>* m_seen;
    SeenEncode m_made;
};

TEST_F(CompressorTest, EqualFramesReuseTheCodecWithTheCallersKeyAndAChangeRaisesKeyFrameNeeded)
{
    std::vector<SeenEncode> seen;
    int made = 0;
    wavelet::RegisterWaveletEncoderMaker([&](int version, int w, int h, int format, int) {
        ++made;
        return std::make_unique<FakeWavelet>(&seen, SeenEncode{version, w, h, format, 0, 0, 0});
    });
    Frame f(Layout::Yuv420, 64, 48);
    CCompressor c(110);
    c.Init(1, 110);
    EXPECT_EQ(c.Compress(f.Data(), 3, 64, 48, 1, 0, 1), 4);
    c.keyFrameNeeded = 0;
    EXPECT_EQ(c.Compress(f.Data(), 3, 64, 48, 1, 0, 1), 4);
    EXPECT_EQ(c.keyFrameNeeded, 0);
    EXPECT_EQ(made, 1);
    EXPECT_EQ(c.Compress(f.Data(), 4, 64, 48, 1, 0, 1), 4);  // another quality index
    EXPECT_EQ(c.keyFrameNeeded, 1);
    EXPECT_EQ(made, 2);
    c.Init(0, 110);  // key-flag mode 0: encoders always get a key request
    EXPECT_EQ(c.Compress(f.Data(), 4, 64, 48, 1, 0, 1), 4);
    EXPECT_EQ(c.Compress(f.Data(), 4, 64, 48, 1, 0, 1), 4);
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].key, 1);
    EXPECT_EQ(seen[1].key, 0);
    EXPECT_EQ(seen[2].key, 1);
    EXPECT_EQ(seen[4].key, 1);
    EXPECT_EQ(seen[0].outputFormat, -3);
    EXPECT_EQ(seen[0].quality, 3);
    EXPECT_EQ(seen[0].version, 110);

    // A grey frame is a 4:2:2 mark.
    EXPECT_EQ(c.Compress(f.Data(), 4, 64, 48, 0, 0, 0), 4);
    EXPECT_EQ(seen.back().outputFormat, 0);
}

// An encoder that fails by throwing.
class ThrowingWavelet : public wavelet::IWaveletEncoder {
public:
    explicit ThrowingWavelet(bool framework) : m_framework(framework) {}
    int Encode(std::uint8_t*, std::uint8_t*, int, int, int, int) override
    {
        if (m_framework)
            throw platform::FileException(platform::FileException::diskFull, 28, "dump.yuv");
        throw std::runtime_error("codec fault");
    }

private:
    bool m_framework;
};

TEST_F(CompressorTest, ExceptionsBecomeFailuresAndOnlyNonFrameworkOnesAreLogged)
{
    // The process logger copies its lines to the capture below.
    Put(kDebug, "DebugLevel", "4");
    ASSERT_TRUE(m_store->SetValue(RegistryScope::Machine, kDebug, "DebugOptions", RegistryValue::Number(0xf0)));
    std::mutex lock;
    std::string lines;
    getDefaultDebugInstance()->SetDebugOutputForTesting([&](const std::string& line) {
        std::lock_guard<std::mutex> hold(lock);
        lines += line;
    });
    bool framework = true;
    wavelet::RegisterWaveletEncoderMaker(
        [&](int, int, int, int, int) { return std::make_unique<ThrowingWavelet>(framework); });
    Frame f(Layout::Grey, 32, 32);
    {
        CCompressor c(111);
        EXPECT_EQ(c.Compress(f.Data(), 1, 32, 32, 0, 1, 0), 0);
    }
    framework = false;
    {
        CCompressor c(111);
        EXPECT_EQ(c.Compress(f.Data(), 1, 32, 32, 0, 1, 0), 0);
    }
    getDefaultDebugInstance()->Shutdown();
    std::lock_guard<std::mutex> hold(lock);
    const auto first = lines.find("[COMPRESS] Failed to compress image.");
    ASSERT_NE(first, std::string::npos) << lines;
    EXPECT_EQ(lines.find("[COMPRESS] Failed to compress image.", first + 1), std::string::npos) << lines;
    EXPECT_NE(lines.find("(file:Comp line:"), std::string::npos) << lines;
    getDefaultDebugInstance()->SetDebugOutputForTesting({});
}

TEST_F(CompressorTest, WaveletVersionsWithoutAnEncoderGiveZero)
{
    Frame f(Layout::Yuv420, 64, 48);
    for (int version : {110, 111, 118, 123, 100, 60}) {
        CCompressor c(version);
        EXPECT_EQ(c.Compress(f.Data(), 3, 64, 48, 1, 1, 1), 0) << version;
    }
    for (int version : {0 + 32, 120, 125}) {
        CCompressor c(version);
        EXPECT_EQ(c.Compress(f.Data(), 3, 64, 48, 1, 1, 1), 0) << version;
    }
}

TEST_F(CompressorTest, DumpYuvWritesEveryFrameIntoAFileNamedAfterItsGeometry)
{
    Put(kDebug, "DumpYUV", "1");
    const auto cwd = std::filesystem::current_path();
    gavex_test::TempDir dumps("dumps");
    std::filesystem::current_path(dumps.path());
    {
        Frame f(Layout::Yuv420, 640, 480);
        CCompressor c(55);
        EXPECT_GT(c.Compress(f.Data(), 2, 640, 480, 1, 0, 1), 0);
        EXPECT_GT(c.Compress(f.Data(), 2, 640, 480, 1, 0, 1), 0);
        Frame g(Layout::Yuv422, 640, 480);
        EXPECT_GT(c.Compress(g.Data(), 2, 640, 480, 1, 0, 2), 0);
        // An odd-sized 4:2:0 frame holds 153 + 2 x 8 x 4 bytes; the dump's
        // 153 + 76 are filled up with zeros, never read past the frame.
        Frame odd(Layout::Yuv420, 17, 9);
        std::fill(odd.Data() + 153 + 64, odd.storage.data() + odd.storage.size(), std::uint8_t(0xEE));
        EXPECT_GT(c.Compress(odd.Data(), 2, 17, 9, 1, 0, 1), 0);
    }
    std::filesystem::current_path(cwd);
    EXPECT_EQ(std::filesystem::file_size(dumps.path() + "/640x480_22_chunk-0.yuv"), 2u * 460800u);
    EXPECT_EQ(std::filesystem::file_size(dumps.path() + "/640x480_21_chunk-1.yuv"), 614400u);
    std::ifstream oddDump(dumps.path() + "/17x9_22_chunk-2.yuv", std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(oddDump)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 229u);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 217, bytes.end()), std::vector<std::uint8_t>(12, 0));
}

TEST_F(CompressorTest, NoisyFullHdGreyFrameAtQualityIndexZeroSucceeds)
{
    Frame f(Layout::Grey, 1920, 1080);
    std::mt19937 random(7);
    for (int i = 0; i < 1920 * 1080; ++i)
        f.Data()[i] = std::uint8_t(random());
    CCompressor c(55);
    const int n = c.Compress(f.Data(), 0, 1920, 1080, 0, 0, 0);
    ASSERT_GT(n, 1920 * 1080) << "noise at all-ones tables codes to more than a byte a pixel";
    EXPECT_TRUE(DecodesInTurbo(c.outputBuffer, std::size_t(n - 4), 1920, 1080));
}

TEST_F(CompressorTest, FirstMjpegFramesOnEightThreadsShareOneTable)
{
    Frame f(Layout::Yuv420, 96, 64);
    const std::vector<std::uint8_t> expected = EncoderBytes(f, 40);
    std::vector<std::vector<std::uint8_t>> results(8);
    std::latch start(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            CCompressor c(55);
            start.arrive_and_wait();
            const int n = c.Compress(f.Data(), 4, 96, 64, 1, 0, 1);
            if (n > 4)
                results[std::size_t(t)].assign(c.outputBuffer, c.outputBuffer + n - 4);
        });
    for (auto& t : threads)
        t.join();
    for (const auto& r : results)
        EXPECT_EQ(r, expected);
}

TEST(JpegFrameCompressor, OutputBlockSizesAndCapacity)
{
    struct Case {
        int mode, width, height;
        std::int32_t block;
    };
    for (const Case& c : {Case{0, 2, 2, 4096}, Case{0, 31, 33, 4096}, Case{0, 32, 32, 1024},
                          Case{1, 36, 36, 3888}, Case{0, 64, 64, 4096}}) {
        Frame f(c.mode == 0 ? Layout::Grey : Layout::Yuv420, c.width, c.height);
        std::vector<std::uint8_t> out(1 << 20);
        JpegFrameCompressor compressor;
        const int n = compressor.Compress(c.mode, f.Data(), out.data(), int(out.size()), c.width, c.height, 50);
        EXPECT_GT(n, 0);
        EXPECT_EQ(compressor.OutputCapacity(), c.block) << c.width << "x" << c.height;
    }

    Frame f(Layout::Grey, 64, 64);
    JpegFrameCompressor compressor;
    std::vector<std::uint8_t> out(100000, 0xAB);
    const int n = compressor.Compress(0, f.Data(), out.data(), int(out.size()), 64, 64, 90);
    ASSERT_GT(n, 0);
    std::vector<std::uint8_t> small(std::size_t(n - 1), 0xAB);
    EXPECT_EQ(compressor.Compress(0, f.Data(), small.data(), n - 1, 64, 64, 90), 0);
    EXPECT_EQ(small, std::vector<std::uint8_t>(std::size_t(n - 1), 0xAB)) << "nothing copied";
    EXPECT_EQ(compressor.Compress(0, f.Data(), out.data(), n, 64, 64, 90), n);
    EXPECT_EQ(compressor.Compress(0, nullptr, out.data(), n, 64, 64, 90), 0);
    EXPECT_EQ(compressor.Compress(0, f.Data(), nullptr, n, 64, 64, 90), 0);
    EXPECT_EQ(compressor.Compress(0, f.Data(), out.data(), 0, 64, 64, 90), 0);
    EXPECT_EQ(compressor.Compress(3, f.Data(), out.data(), n, 64, 64, 90), 0) << "no such layout";
}

TEST_F(CompressorTest, WritersReachTheCompressorThroughTheInstallPoint)
{
    InstallFrameCompressor();
    auto codec = FrameCodecs::CreateCompressor();
    FrameCodecs::SetCompressorFactory({});
    ASSERT_TRUE(codec);
    codec->Init(1, FrameCodecs::CodecVersionFromName("MJPEG"));
    EXPECT_EQ(codec->GetVersion(), 55);
    EXPECT_EQ(codec->GetKeyRequest(), 1);
    EXPECT_EQ(codec->GetPeriodicKey(), 1);
    Frame f(Layout::Yuv420, 48, 32);
    const int n = codec->Compress(f.Data(), 2, 48, 32, 1, 1, 1);
    ASSERT_GT(n, 4);
    EXPECT_EQ(std::vector<std::uint8_t>(codec->GetOutput(), codec->GetOutput() + n - 4), EncoderBytes(f, 80));
    codec->SetKeyRequest(0);
    EXPECT_EQ(codec->GetKeyRequest(), 0);
}

}  // namespace
