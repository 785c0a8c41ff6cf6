// How the codec add-on decompressor drives the add-on: what it hands over,
// and how it copes with converters that fail. Uses a stand-in add-on whose
// behaviour each test picks.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

#include "MediaTestSupport.h"
#include "base/ModuleDir.h"
#include "media/DecompressorBrastel.h"
#include "media/QorBrastel.h"

using namespace mediatest;

namespace {

const std::string kFakeLibrary = std::string(GAVEX_FAKE_ADDON_DIR) + "/libHarnway.so";

class FakeAddonTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UseRegistry("fake", GAVEX_FAKE_ADDON_DIR);
        LogCapture::Instance().Clear();
        setenv("FAKE_HARNWAY_MODE", "", 1);
    }
    void TearDown() override { unsetenv("FAKE_HARNWAY_MODE"); }

    static void SetMode(const char* mode) { setenv("FAKE_HARNWAY_MODE", mode, 1); }

    // The stand-in's record of calls since the last look; the library must be
    // loaded (by a live decompressor).
    static std::string Events()
    {
        void* handle = dlopen(kFakeLibrary.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (!handle)
            return "(not loaded)";
        auto events = reinterpret_cast<const char* (*)()>(dlsym(handle, "FakeHarnwayEvents"));
        std::string text = events ? events() : "(no record)";
        dlclose(handle);
        return text;
    }

    static VideoFramePtr Frame(const char* tag, bool keyFlag, size_t payload = 10)
    {
        return MakeCompressedFrame(std::vector<uint8_t>(payload, 0x42), tag, keyFlag, true, 16, 16);
    }
};

} // namespace

TEST_F(FakeAddonTest, LoadsFromTheAddonFolderAndHandsOverTheLogger)
{
    QorBrastel brastel("");
    EXPECT_TRUE(brastel.HasManager());
    EXPECT_EQ(brastel.GetLibraryPath(), kFakeLibrary);
    // Found through the add-on's own key: no folder is passed.
    EXPECT_EQ(Events(), "entry:(null):logger;");
    EXPECT_TRUE(LogCapture::Instance().Contains("Loaded Brastel manager library " + kFakeLibrary + "."));
}

// Without the add-on's key the library is looked for beside the program and
// in the folder above it; the entry point learns the folder it came from.
TEST_F(FakeAddonTest, FindsTheLibraryNearTheProgram)
{
    UseRegistry("nokey", "");
    const std::string parent = std::filesystem::path(misc_GetModuleDir()).parent_path().string();
    if (!std::filesystem::exists(parent + "/libHarnway.so"))
        GTEST_SKIP() << "the add-on is not in the program folder's parent";
    QorBrastel brastel("");
    EXPECT_TRUE(brastel.HasManager());
    EXPECT_EQ(brastel.GetLibraryPath(), parent + "/libHarnway.so");
    EXPECT_TRUE(LogCapture::Instance().Contains("Error (")) << LogCapture::Instance().Text();
}

TEST_F(FakeAddonTest, HandsOverThePayloadWithoutItsTail)
{
    // The key-flag byte is stripped for MPEG-4 and the codes from H.264 on;
    // an H.263 frame keeps its flag byte in the payload (its decoder skips it).
    const struct {
        const char* tag;
        bool keyFlag;
        const char* input;
        int payload;
    } cases[] = {
        {"H264", true, "H264", 10}, {"H265", true, "H265", 10}, {"MPG4", true, "MPEG4", 10},
        {"MPG2", true, "MPEG2", 10}, {"H263", true, "H263", 11}, {"XVID", false, "XVID", 10},
        {"JPEG", false, "MJPEG", 10}, {"JP2K", false, "JP2K", 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag);
        CDecompressorBrastel brastel("");
        Events();
        int status = -1;
        VideoFramePtr picture = brastel.Decompress(Frame(c.tag, c.keyFlag, 10).get(), 0, status);
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(picture->m_nFormat, FrameFormatYuv420);
        EXPECT_EQ(picture->m_nWidth, 16);
        EXPECT_EQ(Events(), std::string("create:YUV4xx:;convert:") + c.input + ":" +
                                std::to_string(c.payload) + ";");
    }
}

TEST_F(FakeAddonTest, ConverterThatThrowsIsReplacedAndTheNextFrameDecodes)
{
    SetMode("throw_once");
    CDecompressorBrastel brastel("");
    Events();
    int status = -1;
    EXPECT_EQ(brastel.Decompress(Frame("H264", true).get(), 0, status), nullptr);
    EXPECT_TRUE(LogCapture::Instance().Contains(
        "Brastel Exception while decoding H264 -> YUV4xx: decoder state lost"));
    EXPECT_TRUE(LogCapture::Instance().Contains(
        "Failed to convert media buffer from \"H264\" to \"YUV4xx\", width(0), using Brastel."));
    EXPECT_EQ(Events(), "create:YUV4xx:;convert:H264:10;release;");

    VideoFramePtr picture = brastel.Decompress(Frame("H264", true).get(), 0, status);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->m_pData[0], 1) << "the next frame goes to a fresh converter";
    EXPECT_EQ(Events(), "create:YUV4xx:;convert:H264:10;");
}

TEST_F(FakeAddonTest, CompositeResultGivesNoFrame)
{
    SetMode("composite");
    CDecompressorBrastel brastel("");
    int status = -1;
    EXPECT_EQ(brastel.Decompress(Frame("H264", true).get(), 0, status), nullptr);
    EXPECT_TRUE(LogCapture::Instance().Contains(
        "[BRASTEL][INIT][COMPOSITE] Created decompressor from H264 to YUV4xx. Resolution: 16 x 16"));
}

TEST_F(FakeAddonTest, UnsupportedPreferredCodecFallsBackToTheDefaultForGood)
{
    SetMode("unsupported");
    CDecompressorBrastel brastel("VendorCodec");
    Events();
    int status = -1;
    EXPECT_NE(brastel.Decompress(Frame("H264", true).get(), 0, status), nullptr);
    EXPECT_TRUE(LogCapture::Instance().Contains(
        "Stream is not supported by preferred codec VendorCodec. Codec will be set to default."));
    EXPECT_EQ(Events(),
              "create:YUV4xx:VendorCodec;supported;release;create:YUV4xx:;convert:H264:10;");
    EXPECT_NE(brastel.Decompress(Frame("H264", true).get(), 0, status), nullptr);
    EXPECT_EQ(Events(), "convert:H264:10;");
}

TEST_F(FakeAddonTest, ManagerWithoutTheNewerContractMakesConvertersTheOlderWay)
{
    SetMode("plain");
    CDecompressorBrastel brastel("VendorCodec");
    Events();
    int status = -1;
    EXPECT_NE(brastel.Decompress(Frame("MPG4", true).get(), 0, status), nullptr);
    EXPECT_EQ(Events(), "create:YUV4xx;supported;convert:MPEG4:10;");
}

TEST_F(FakeAddonTest, ResetAndFreeMemoryReachTheConverter)
{
    CDecompressorBrastel brastel("");
    int status = -1;
    brastel.Decompress(Frame("H264", true).get(), 0, status);
    Events();
    brastel.Reset();
    brastel.FreeMemory();
    EXPECT_EQ(Events(), "reset;release;");
    EXPECT_NE(brastel.Decompress(Frame("H264", true).get(), 0, status), nullptr);
    EXPECT_EQ(Events(), "create:YUV4xx:;convert:H264:10;");
}

TEST_F(FakeAddonTest, FramesWithoutAddonCodeOrPayloadNeverReachTheAddon)
{
    CDecompressorBrastel brastel("");
    Events();
    int status = -1;
    const struct {
        const char* what;
        VideoFramePtr frame;
    } cases[] = {
        {"no tag", Frame("none", false)},
        {"PNG tag (code without a name)", Frame("\x89PNG", false)},
        {"code above the add-on's range", Frame("I+v\x9e", false)},
        {"tail only", Frame("H264", true, 0)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(brastel.Decompress(c.frame.get(), 0, status), nullptr) << c.what;
    EXPECT_EQ(Events(), "");

    // A frame that is not compressed comes back as it is.
    VideoFramePtr decoded = Frame("H264", true);
    decoded->m_nFormat = FrameFormatYuv420;
    EXPECT_EQ(brastel.Decompress(decoded.get(), 0, status), decoded);
}
