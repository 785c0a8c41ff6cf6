// The frame decoder's conversions into samples: field selection, planar
// reduction, grey and 4:2:2 frames, the packed FFmpeg pixel formats, and the
// order of the sample calls and nothing committed when a conversion fails.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "media/Decoder.h"
#include "media/FFmpegPicture.h"
#include "media/MediaSample.h"
#include "media/VideoSourceInterfaces.h"

namespace {

// A decoded frame of the archive decoders: format -3 (4:2:0) or 0 (4:2:2 with
// colour, grey without), planes filled with y, u, v.
VideoFramePtr MakePlanarFrame(int w, int h, int format, int color, uint8_t y, uint8_t u, uint8_t v)
{
    VideoFramePtr frame(new VideoFrame("", 0), false);
    frame->m_nWidth = w;
    frame->m_nHeight = h;
    frame->m_nFormat = format;
    frame->m_bColor = color;
    const size_t luma = static_cast<size_t>(w) * h;
    const size_t chroma = color == 0 ? 0 : format == 0 ? luma / 2 : luma / 4;
    frame->AllocData(static_cast<uint32_t>(luma + 2 * chroma));
    frame->m_cbData = static_cast<uint32_t>(luma + 2 * chroma);
    std::memset(frame->m_pData, y, luma);
    std::memset(frame->m_pData + luma, u, chroma);
    std::memset(frame->m_pData + luma + chroma, v, chroma);
    return frame;
}

struct FieldCase {
    int w, h;
    bool halve;
    int lockedHeight;
};

TEST(DecoderConvertTest, InterlacedSizesKeepOneFieldWhenAsked)
{
    const FieldCase cases[] = {
        {720, 576, true, 288},  {720, 576, false, 576}, {640, 480, true, 480},
        {1920, 540, true, 540}, {1920, 1080, true, 540},
    };
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " halve " << c.halve);
        filters::Decoder decoder;
        render::ImageMediaSample sample(false);
        VideoFramePtr frame = MakePlanarFrame(c.w, c.h, 0, 0, 100, 0, 0);
        decoder.Decode(frame.get(), &sample, c.halve, {});
        EXPECT_EQ(sample.Width(), c.w);
        EXPECT_EQ(sample.Height(), c.lockedHeight);
    }
}

TEST(DecoderConvertTest, NarrowPlanarTargetTakesEveryNthPixel)
{
    filters::Decoder decoder;
    render::ImageMediaSample sample(true);
    VideoFramePtr frame = MakePlanarFrame(1280, 720, -3, 1, 0, 60, 200);
    for (int x = 0; x < 1280; ++x)
        frame->m_pData[x] = static_cast<uint8_t>(x);  // first luma row: a ramp
    decoder.Decode(frame.get(), &sample, false, {300, 200});
    EXPECT_EQ(sample.Width(), 320);
    EXPECT_EQ(sample.Height(), 180);
    EXPECT_TRUE(sample.Planar());
    EXPECT_EQ(sample.Bytes()[1], 4);
    EXPECT_EQ(sample.Bytes()[10], 40);
    // YV12: V first, then U.
    const int pitch = sample.Pitch();
    EXPECT_EQ(sample.Bytes()[pitch * 180], 200);
    EXPECT_EQ(sample.Bytes()[pitch * 180 * 5 / 4], 60);
    EXPECT_EQ(sample.CommitCount(), 1);
}

// Logs the decoder's calls in order.
class CallLogSample : public render::ImageMediaSample {
public:
    using ImageMediaSample::ImageMediaSample;
    std::vector<std::string> calls;
    uchar* GetBuffer(const QSize& size, int& bytesPerLine, bool planar) override
    {
        calls.push_back(planar ? "GetBuffer planar" : "GetBuffer packed");
        return ImageMediaSample::GetBuffer(size, bytesPerLine, planar);
    }
    void Commit() override { calls.push_back("Commit"); }
    void SetTime(int64_t time) override { calls.push_back("SetTime " + std::to_string(time)); }
    bool AcceptFrame(VideoFrame* frame) override
    {
        calls.push_back("AcceptFrame");
        return ImageMediaSample::AcceptFrame(frame);
    }
    bool SupportsPlanar() override
    {
        calls.push_back("SupportsPlanar");
        return ImageMediaSample::SupportsPlanar();
    }
};

TEST(DecoderConvertTest, TheFrameIsOfferedFirstThenWrittenCommittedAndStamped)
{
    filters::Decoder decoder;
    CallLogSample sample(true);
    VideoFramePtr frame = MakePlanarFrame(64, 32, -3, 1, 120, 90, 200);
    const int64_t time = filters::FrameTimeMs(*frame);
    decoder.Decode(frame.get(), &sample, false, {});
    const std::vector<std::string> expected{"AcceptFrame", "SupportsPlanar", "GetBuffer planar", "Commit",
                                            "SetTime " + std::to_string(time)};
    EXPECT_EQ(sample.calls, expected);
}

TEST(DecoderConvertTest, GreyAndColourFramesToRgb)
{
    // 4:2:0 and 4:2:2 of the same colour give the same pixels; grey gets
    // neutral chroma (no cast).
    filters::Decoder decoder;
    render::ImageMediaSample s420, s422, grey;
    decoder.Decode(MakePlanarFrame(64, 32, -3, 1, 120, 90, 200).get(), &s420, false, {});
    decoder.Decode(MakePlanarFrame(64, 32, 0, 1, 120, 90, 200).get(), &s422, false, {});
    decoder.Decode(MakePlanarFrame(64, 32, 0, 0, 120, 0, 0).get(), &grey, false, {});
    ASSERT_EQ(s420.Bytes().size(), 64u * 32 * 4);
    EXPECT_EQ(s422.Bytes(), s420.Bytes());
    // Video-range BT.601 (Y 120, Cb 90, Cr 200: a red), in the sample's
    // byte order B, G, R.
    const uint8_t* p = s420.Bytes().data();
    EXPECT_EQ(p[0], 44);
    EXPECT_EQ(p[1], 78);
    EXPECT_EQ(p[2], 236);
    // Luma 16..235 spreads over 0..255.
    const uint8_t* g = grey.Bytes().data();
    EXPECT_EQ(g[0], 121);
    EXPECT_EQ(g[1], 121);
    EXPECT_EQ(g[2], 121);
}

TEST(DecoderConvertTest, FrameShorterThanItsPlanesIsNotRead)
{
    filters::Decoder decoder;
    render::ImageMediaSample sample;
    VideoFramePtr frame = MakePlanarFrame(64, 32, -3, 1, 1, 2, 3);
    frame->m_cbData = 64 * 32;  // the chroma planes are missing
    decoder.Decode(frame.get(), &sample, false, {});
    EXPECT_EQ(sample.BufferCount(), 0);
}

TEST(DecoderConvertTest, FailedConversionCommitsNothing)
{
    // One pixel wide: the neutral chroma buffer would be 0 bytes.
    filters::Decoder decoder;
    render::ImageMediaSample sample;
    VideoFramePtr frame = MakePlanarFrame(1, 2, 0, 0, 50, 0, 0);
    EXPECT_THROW(decoder.Decode(frame.get(), &sample, false, {}), std::invalid_argument);
    EXPECT_EQ(sample.BufferCount(), 1);
    EXPECT_EQ(sample.CommitCount(), 0) << "a half-written picture is never committed";
}

TEST(DecoderConvertTest, UncompressedFrameNeedsNoDecompressor)
{
    filters::Decoder decoder;
    VideoFramePtr frame = MakePlanarFrame(16, 16, -3, 1, 1, 2, 3);
    VideoFramePtr out = decoder.Decompress(frame.get());
    EXPECT_EQ(out.get(), frame.get());
    EXPECT_EQ(decoder.GetCurrentDecompressor(), nullptr);
    EXPECT_FALSE(decoder.Decompress(nullptr));
}

// FFmpeg pictures of the packed formats, through the picture holder.
struct PackedCase {
    const char* name;
    AVPixelFormat format;
    std::vector<uint8_t> first;  // bytes of the first source pixel (plane 0 for GBRP)
    uint8_t b, g, r;             // expected sample bytes 0..2
};

TEST(DecoderConvertTest, PackedPicturesBecomeBgrx)
{
    const PackedCase cases[] = {
        {"RGB24", AV_PIX_FMT_RGB24, {10, 20, 30}, 30, 20, 10},
        {"BGR24", AV_PIX_FMT_BGR24, {10, 20, 30}, 10, 20, 30},
        // 0x7C1F: full red and blue, no green.
        {"RGB555", AV_PIX_FMT_RGB555LE, {0x1F, 0x7C}, 0xF8, 0x00, 0xF8},
        {"GBRP", AV_PIX_FMT_GBRP, {}, 3, 1, 2},
    };
    for (const PackedCase& c : cases) {
        SCOPED_TRACE(c.name);
        AVFrame* picture = av_frame_alloc();
        picture->width = 4;
        picture->height = 2;
        picture->format = c.format;
        ASSERT_GE(av_frame_get_buffer(picture, 0), 0);
        if (c.format == AV_PIX_FMT_GBRP) {
            picture->data[0][0] = 1;  // G
            picture->data[1][0] = 3;  // B
            picture->data[2][0] = 2;  // R
        } else {
            std::memcpy(picture->data[0], c.first.data(), c.first.size());
        }
        filters::FFmpegPictureHolder holder{true, picture};
        VideoFramePtr frame(new VideoFrame("", 0), false);
        frame->m_nFormat = FrameFormatFFmpegPicture;
        frame->m_pData = reinterpret_cast<uint8_t*>(&holder);
        filters::Decoder decoder;
        render::ImageMediaSample sample(true);  // packed formats ignore a planar wish
        decoder.Decode(frame.get(), &sample, false, {});
        frame->m_pData = nullptr;
        ASSERT_FALSE(sample.Planar());
        EXPECT_EQ(sample.Bytes()[0], c.b);
        EXPECT_EQ(sample.Bytes()[1], c.g);
        EXPECT_EQ(sample.Bytes()[2], c.r);
        av_frame_free(&picture);
    }
}

}  // namespace

namespace {

VideoFramePtr UntaggedCompressedFrame()
{
    VideoFramePtr frame(new VideoFrame("", 0), false);
    frame->m_nFormat = FrameFormatCompressed;
    frame->m_nWidth = 16;
    frame->m_nHeight = 16;
    frame->AllocData(8);
    frame->m_cbData = 8;
    std::memset(frame->m_pData, 0, 8);
    return frame;
}

TEST(DecoderRegistryTest, EntriesLiveWithTheirDecodersAndTheLastOneStays)
{
    filters::Decoder::ClearDecompressors();
    auto first = std::make_unique<filters::Decoder>();
    auto second = std::make_unique<filters::Decoder>();
    VideoFramePtr frame = UntaggedCompressedFrame();
    EXPECT_FALSE(first->Decompress(frame.get()));
    EXPECT_FALSE(second->Decompress(frame.get()));
    EXPECT_NE(first->GetCurrentDecompressor(), nullptr);
    EXPECT_NE(first->GetCurrentDecompressor(), second->GetCurrentDecompressor());
    EXPECT_EQ(filters::Decoder::DecompressorCount(), 2u);
    first.reset();
    EXPECT_EQ(filters::Decoder::DecompressorCount(), 1u);
    second.reset();
    EXPECT_EQ(filters::Decoder::DecompressorCount(), 1u);
    filters::Decoder::ClearDecompressors();
    EXPECT_EQ(filters::Decoder::DecompressorCount(), 0u);
}

TEST(DecoderRegistryTest, MissingPictureIsLoggedAndReturned)
{
    filters::Decoder decoder;
    render::ImageMediaSample sample;
    VideoFramePtr frame = UntaggedCompressedFrame();
    EXPECT_FALSE(decoder.Decode(frame.get(), &sample, false, {}));
    EXPECT_EQ(sample.BufferCount(), 0);
    filters::Decoder::ClearDecompressors();
}

}  // namespace
