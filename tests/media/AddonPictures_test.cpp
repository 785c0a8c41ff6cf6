// Pictures the codec add-on hands out by reference: the decoder's own planes
// with their pitches. They must show, copy and store exactly as the packed
// copies the add-on makes for a host that does not take them, and must stay
// readable after their decompressor is gone.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "MediaTestSupport.h"
#include "base/frames/Mff.h"
#include "media/Decoder.h"
#include "media/Decompressor.h"
#include "media/DecompressorBrastel.h"
#include "media/MediaSample.h"
#include "media/QorBrastel.h"

using namespace mediatest;

namespace {

struct StreamCase {
    const char* name;
    const char* encoder;
    const char* args;
    const char* tag;
    bool keyFlag;
    int width;
    int height;
    bool halve;       // the decoder keeps one field of an interlaced size
    bool byReference; // the add-on decodes it and hands its pictures out by reference
};

std::ostream& operator<<(std::ostream& out, const StreamCase& c)
{
    return out << c.name;
}

const StreamCase kStreams[] = {
    {"H264", "libx264", "-bf 0 -g 3 -pix_fmt yuv420p", "H264", true, 176, 144, false, true},
    {"H264Interlaced", "libx264", "-bf 0 -g 3 -pix_fmt yuv420p", "H264", true, 704, 576, true, true},
    {"MJPEG422", "mjpeg", "-pix_fmt yuvj422p", "JPG1", false, 176, 144, false, false},
};

constexpr int kFrames = 4;

std::vector<Packet> Encode(const StreamCase& c)
{
    const std::string path = ScratchDir() + "/pictures_" + c.name + (c.keyFlag ? ".h264" : ".mjpeg");
    if (!EncodeTestPattern(path, c.width, c.height, kFrames, c.encoder, c.args))
        return {};
    return ReadPackets(path);
}

VideoFramePtr Compressed(const StreamCase& c, const Packet& packet)
{
    return MakeCompressedFrame(packet.data, c.tag, c.keyFlag, packet.key, c.width, c.height);
}

class AddonPicturesTest : public ::testing::TestWithParam<StreamCase>
{
protected:
    void SetUp() override
    {
        UseProjectAddon();
        if (!HasEncoder(GetParam().encoder))
            GTEST_SKIP() << "ffmpeg has no encoder " << GetParam().encoder;
        m_packets = Encode(GetParam());
        if (m_packets.size() != size_t(kFrames))
            GTEST_SKIP() << "ffmpeg could not make the stream";
    }

    std::vector<Packet> m_packets;
};

// The decoder's pictures show as their packed copies show, on an RGB and on a
// planar target.
TEST_P(AddonPicturesTest, PicturesShowAsTheirPackedCopies)
{
    const StreamCase& c = GetParam();
    CDecompressor decompressor;
    for (const Packet& packet : m_packets) {
        VideoFramePtr compressed = Compressed(c, packet);
        VideoFramePtr picture = decompressor.Decompress(compressed.get(), 0);
        ASSERT_TRUE(picture);
        if (c.byReference) {
            EXPECT_FALSE(picture->IsContiguous()) << "the decoder's picture is handed out, not copied";
        }
        VideoFramePtr copy(new VideoFrame(*picture, true), false);
        ASSERT_TRUE(copy->IsContiguous());
        ASSERT_EQ(copy->m_cbData, picture->m_cbData);
        for (const bool planar : {false, true}) {
            SCOPED_TRACE(planar ? "planar target" : "RGB target");
            render::ImageMediaSample fromPicture(planar), fromCopy(planar);
            filters::Decoder decoder;
            decoder.Decode(picture.get(), &fromPicture, c.halve, filters::TargetSize{});
            decoder.Decode(copy.get(), &fromCopy, c.halve, filters::TargetSize{});
            ASSERT_EQ(fromPicture.CommitCount(), 1);
            EXPECT_EQ(fromPicture.Height(), c.halve ? c.height / 2 : c.height);
            EXPECT_EQ(fromPicture.Width(), fromCopy.Width());
            EXPECT_EQ(fromPicture.Height(), fromCopy.Height());
            EXPECT_TRUE(fromPicture.Bytes() == fromCopy.Bytes());
        }
    }
}

// What the add-on hands out by reference holds, packed, the bytes of the copy
// it makes for a host whose factory does not take pitched planes.
TEST_P(AddonPicturesTest, PitchedAndPackedHandOutsHoldTheSamePicture)
{
    const StreamCase& c = GetParam();
    if (!c.byReference)
        GTEST_SKIP() << "not decoded by the add-on";
    QorBrastel byReference(""), copying("");
    MFF::MultimediaFrameFactory pitchedFactory(MFF::GetFrameAllocator(), true);
    MFF::MultimediaFrameFactory packedFactory(MFF::GetFrameAllocator());
    MFF::MultimediaFrameFactory inputs(MFF::GetFrameAllocator());
    int64_t time = 1600000000000;
    for (const Packet& packet : m_packets) {
        auto* input = inputs.CreateCompressedBuffer(c.tag, uint32_t(packet.data.size()), uint64_t(time += 40),
                                                    packet.key ? 1 : 0);
        ASSERT_NE(input, nullptr);
        std::memcpy(input->GetData(), packet.data.data(), packet.data.size());
        MFF::IMultimediaBuffer* pitched =
            byReference.Convert(input, CDecompressorBrastel::kPlanarOutput, &pitchedFactory, 0);
        MFF::IMultimediaBuffer* packed =
            copying.Convert(input, CDecompressorBrastel::kPlanarOutput, &packedFactory, 0);
        input->Destroy();
        ASSERT_TRUE(pitched && packed);
        EXPECT_EQ(pitched->GetTimestamp(), packed->GetTimestamp());
        EXPECT_STREQ(pitched->GetFormat(), packed->GetFormat());
        EXPECT_NE(dynamic_cast<MFF::PlanarBuffer*>(static_cast<MFF::IPlanarBuffer*>(
                      packed->QueryContract("MFF::IPlanarBuffer"))),
                  nullptr)
            << "a host that does not say so gets our own packed buffers";
        VideoFramePtr a(new VideoFrame(), false), b(new VideoFrame(), false);
        a->AttachBuffer(pitched);
        b->AttachBuffer(packed);
        EXPECT_FALSE(a->IsContiguous());
        EXPECT_TRUE(b->IsContiguous());
        EXPECT_EQ(PictureMd5(*a), PictureMd5(*b));
        EXPECT_EQ(a->m_cbData, b->m_cbData);
    }
}

// Pictures live on in frames after the decompressor, its converter and its
// hold on the add-on's library are gone.
TEST_P(AddonPicturesTest, PicturesOutliveTheirDecompressor)
{
    const StreamCase& c = GetParam();
    std::vector<VideoFramePtr> pictures;
    std::vector<std::string> md5s;
    {
        auto decompressor = std::make_unique<CDecompressor>();
        for (const Packet& packet : m_packets) {
            VideoFramePtr compressed = Compressed(c, packet);
            VideoFramePtr picture = decompressor->Decompress(compressed.get(), 0);
            ASSERT_TRUE(picture);
            md5s.push_back(PictureMd5(*picture));
            pictures.push_back(picture);
        }
        decompressor.reset();
    }
    for (size_t i = 0; i < pictures.size(); ++i) {
        EXPECT_EQ(PictureMd5(*pictures[i]), md5s[i]) << "picture " << i;
        render::ImageMediaSample sample;
        filters::Decoder decoder;
        decoder.Decode(pictures[i].get(), &sample, false, filters::TargetSize{});
        EXPECT_EQ(sample.CommitCount(), 1);
    }
    pictures.clear();
}

INSTANTIATE_TEST_SUITE_P(Streams, AddonPicturesTest, ::testing::ValuesIn(kStreams),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
