// The decompressor front's guards and choice of decompressor, without
// decoding pictures.
#include <gtest/gtest.h>

#include "MediaTestSupport.h"
#include "media/Decompressor.h"
#include "media/DecompressorImpl.h"

using namespace mediatest;

namespace {

class RecordingDecompressor : public CDecompressor
{
public:
    std::vector<int> created;

protected:
    std::unique_ptr<DecompressFormat> CreateDecompressor(int code) override
    {
        created.push_back(code);
        // The fallback for every code: these tests never load the add-on.
        return std::make_unique<CDecompressorImpl>();
    }
};

struct GeometryCase {
    const char* what;
    int width;
    int height;
    int color;
    int format;
    bool accepted;
};

const GeometryCase kGeometry[] = {
    {"largest width", 12288, 100, 1, 1, true},
    {"width one too large", 12289, 100, 1, 1, false},
    {"height of -1", 100, -1, 1, 1, true},
    {"height below -1", 100, -2, 1, 1, false},
    {"width of -1", -1, 100, 1, 1, true},
    {"height one too large", 100, 12289, 1, 1, false},
    {"negative colour flag", 100, 100, -1, 1, false},
    {"format -3", 100, 100, 1, -3, true},
    {"format below -3", 100, 100, 1, -4, false},
};

} // namespace

TEST(DecompressorFront, RefusesImpossibleGeometryBeforeChoosingADecompressor)
{
    UseRegistry("front", "");
    for (const GeometryCase& g : kGeometry) {
        SCOPED_TRACE(g.what);
        RecordingDecompressor decompressor;
        VideoFramePtr frame = MakeCompressedFrame({1, 2, 3}, "I+v\x94", false, true, g.width, g.height);
        frame->m_bColor = g.color;
        frame->m_nFormat = g.format;
        EXPECT_EQ(decompressor.Decompress(frame.get(), 0), nullptr);
        EXPECT_EQ(decompressor.created.size(), g.accepted && g.format == 1 ? 1u : 0u);
    }
}

TEST(DecompressorFront, ChoosesADecompressorPerCodeChange)
{
    UseRegistry("front", "");
    struct Step {
        const char* tag;
        int code; // 0: no code, the current decompressor stays
    };
    const Step steps[] = {
        {"none", 0},      // no code before any: the empty decompressor, no switch
        {"H264", '?'}, {"H264", '?'},
        {"I+v\x9e", 'n'}, // a wavelet code
        {"H264", '?'},
        {"I+v ", -16},    // a code below every known one
        {"I+v\x94", 'd'},
    };
    RecordingDecompressor decompressor;
    std::vector<int> expected;
    for (const Step& step : steps) {
        VideoFramePtr frame = MakeCompressedFrame({1, 2, 3}, step.tag, false, true, 64, 64);
        EXPECT_EQ(decompressor.Decompress(frame.get(), 0), nullptr) << step.tag;
        if (step.code != 0 && (expected.empty() || expected.back() != step.code))
            expected.push_back(step.code);
    }
    EXPECT_EQ(decompressor.created, expected);
}

TEST(DecompressorFront, KeepsTheLastFrameNumberOfCountedStreams)
{
    UseRegistry("front", "");
    RecordingDecompressor decompressor;
    VideoFramePtr frame = MakeCompressedFrame({1, 2, 3}, "I+v\x94", false, true, 64, 64);
    frame->m_nFrameNumber = 41;
    frame->m_nTotalFrames = 0;
    decompressor.Decompress(frame.get(), 0);
    EXPECT_EQ(decompressor.GetLastFrameNumber(), 0);
    frame->m_nTotalFrames = 100;
    decompressor.Decompress(frame.get(), 0);
    EXPECT_EQ(decompressor.GetLastFrameNumber(), 41);
}

TEST(DecompressorFallback, YieldsNoPictureForAnyCode)
{
    UseRegistry("front", "");
    CDecompressorImpl fallback;
    for (const char* tag : {"H264", "I+v\x9e", "I+v\xaa", "I+v\x94", "I+v "}) {
        VideoFramePtr frame = MakeCompressedFrame({1, 2, 3}, tag, false, true, 64, 64);
        int status = -1;
        EXPECT_EQ(fallback.Decompress(frame.get(), 0, status), nullptr) << tag;
    }
}
