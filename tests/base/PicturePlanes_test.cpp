// Decoded pictures whose planes are the decoder's own (handed over by
// reference, each plane in its own block with its own row pitch) and the
// packed pictures of our own buffers: the planes readers see, and the packed
// bytes every copy, store and record gets.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/VideoFrame.h"
#include "base/frames/Mff.h"
#include "platform/Archive.h"
#include "platform/File.h"

namespace {

constexpr uint8_t kPadding = 0xEE;

// The byte a test picture holds at column x of row y of plane k.
uint8_t Sample(int k, int x, int y)
{
    return uint8_t(k * 71 + y * 13 + x * 3 + 1);
}

struct Shape
{
    const char* model;
    int32_t width;
    int32_t height;
    int planes;
    int32_t chromaWidth;
    int32_t chromaRows;
};

std::ostream& operator<<(std::ostream& out, const Shape& s)
{
    return out << s.model << ' ' << s.width << 'x' << s.height;
}

// Odd sizes round the chroma planes up, as decoders lay them out.
const Shape kShapes[] = {
    {"YUV420", 8, 6, 3, 4, 3},
    {"YUV420", 7, 5, 3, 4, 3},
    {"YUV422", 6, 4, 3, 3, 4},
    {"GRAY", 5, 3, 1, 0, 0},
};

// A decoder's picture: every plane in a block of its own, rows `extra` bytes
// longer than the picture, the padding filled with kPadding.
class PitchedPicture final : public MFF::IPlanarBuffer
{
public:
    PitchedPicture(const Shape& shape, int32_t extra, bool* destroyed = nullptr)
        : m_shape(shape), m_destroyed(destroyed)
    {
        for (int k = 0; k < shape.planes; ++k) {
            m_pitch[k] = Width(k) + extra;
            m_memory[k].assign(size_t(m_pitch[k]) * size_t(Rows(k)), kPadding);
            for (int32_t y = 0; y < Rows(k); ++y)
                for (int32_t x = 0; x < Width(k); ++x)
                    m_memory[k][size_t(y) * size_t(m_pitch[k]) + size_t(x)] = Sample(k, x, y);
            m_size[k] = uint32_t(m_memory[k].size());
        }
    }

    int32_t Width(int k) const { return k == 0 ? m_shape.width : m_shape.chromaWidth; }
    int32_t Rows(int k) const { return k == 0 ? m_shape.height : m_shape.chromaRows; }

    // The picture packed plane after plane.
    std::vector<uint8_t> Packed() const
    {
        std::vector<uint8_t> bytes;
        for (int k = 0; k < m_shape.planes; ++k)
            for (int32_t y = 0; y < Rows(k); ++y)
                for (int32_t x = 0; x < Width(k); ++x)
                    bytes.push_back(Sample(k, x, y));
        return bytes;
    }

    void* QueryContract(const char* name) override
    {
        const std::string n = name ? name : "";
        return n == "IPINT2::IContract" || n == "MFF::IMultimediaBuffer" || n == "MFF::IPlanarBuffer"
                   ? static_cast<MFF::IPlanarBuffer*>(this)
                   : nullptr;
    }
    uint64_t GetTimestamp() override { return 0; }
    const char* GetFormat() override { return m_shape.model; }
    int32_t GetType() override { return MFF::BufferPlanar; }
    void Destroy() override
    {
        if (m_destroyed)
            *m_destroyed = true;
        delete this;
    }
    uint8_t* GetPlane0() override { return Plane(0); }
    uint8_t* GetPlane1() override { return Plane(1); }
    uint8_t* GetPlane2() override { return Plane(2); }
    uint32_t GetPlaneSize0() override { return m_size[0]; }
    uint32_t GetPlaneSize1() override { return m_size[1]; }
    uint32_t GetPlaneSize2() override { return m_size[2]; }
    int32_t GetPlaneValue0() override { return m_pitch[0]; }
    int32_t GetPlaneValue1() override { return m_pitch[1]; }
    int32_t GetPlaneValue2() override { return m_pitch[2]; }
    int32_t GetWidth() override { return m_shape.width; }
    int32_t GetHeight() override { return m_shape.height; }

    uint8_t* Plane(int k) { return m_memory[k].empty() ? nullptr : m_memory[k].data(); }

    Shape m_shape;
    bool* m_destroyed;
    std::vector<uint8_t> m_memory[3];
    int32_t m_pitch[3] = {};
    uint32_t m_size[3] = {};

private:
    ~PitchedPicture() = default;
};

VideoFramePtr FrameOf(MFF::IMultimediaBuffer* buffer)
{
    VideoFramePtr frame(new VideoFrame(std::string("cam"), 3), false);
    frame->AttachBuffer(buffer);
    return frame;
}

std::vector<uint8_t> Stored(VideoFrame& frame)
{
    platform::MemFile file;
    {
        platform::Archive ar(file, platform::Archive::store);
        frame.Serialize(ar);
    }
    return file.TakeBytes();
}

std::vector<uint8_t> Recorded(VideoFrame& frame)
{
    platform::MemFile file;
    frame.SerializeFile(file, false);
    return file.TakeBytes();
}

// The same frame with the picture packed in owned memory.
VideoFramePtr PackedTwin(const VideoFrame& frame, const std::vector<uint8_t>& packed)
{
    VideoFramePtr twin(new VideoFrame(), false);
    twin->CopyHeader(frame);
    twin->m_bColor = frame.m_bColor;
    twin->m_nFormat = frame.m_nFormat;
    twin->m_nWidth = frame.m_nWidth;
    twin->m_nHeight = frame.m_nHeight;
    EXPECT_TRUE(twin->AllocData(uint32_t(packed.size())));
    if (!packed.empty())
        std::memcpy(twin->m_pData, packed.data(), packed.size());
    return twin;
}

class PicturePlanesTest : public ::testing::TestWithParam<Shape>
{
};

TEST_P(PicturePlanesTest, ReadersSeeTheDecodersPlanesAndCopiesGetThePackedPicture)
{
    const Shape& shape = GetParam();
    bool destroyed = false;
    auto* picture = new PitchedPicture(shape, 9, &destroyed);
    const std::vector<uint8_t> packed = picture->Packed();
    {
        VideoFramePtr frame = FrameOf(picture);
        EXPECT_FALSE(frame->IsContiguous());
        EXPECT_EQ(frame->m_cbData, packed.size()) << "the size of the picture packed";
        EXPECT_EQ(frame->m_pData, picture->Plane(0));

        PicturePlanes planes;
        ASSERT_TRUE(frame->GetPicturePlanes(planes));
        ASSERT_EQ(planes.count, shape.planes);
        for (int k = 0; k < shape.planes; ++k) {
            EXPECT_EQ(planes.data[k], picture->Plane(k)) << "plane " << k;
            EXPECT_EQ(planes.pitch[k], picture->Width(k) + 9) << "plane " << k;
            EXPECT_EQ(planes.width[k], picture->Width(k)) << "plane " << k;
            EXPECT_EQ(planes.rows[k], picture->Rows(k)) << "plane " << k;
        }

        std::vector<uint8_t> scratch;
        const uint8_t* data = frame->ContiguousData(scratch);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(std::vector<uint8_t>(data, data + frame->m_cbData), packed);

        VideoFramePtr copy(new VideoFrame(*frame, true), false);
        EXPECT_TRUE(copy->IsContiguous());
        EXPECT_EQ(copy->m_bOwnData, 1);
        ASSERT_EQ(copy->m_cbData, packed.size());
        EXPECT_EQ(std::vector<uint8_t>(copy->m_pData, copy->m_pData + copy->m_cbData), packed);

        // Stored and recorded, the picture is what a packed frame stores.
        VideoFramePtr twin = PackedTwin(*frame, packed);
        EXPECT_EQ(Stored(*frame), Stored(*twin));
        EXPECT_EQ(Recorded(*frame), Recorded(*twin));
        EXPECT_FALSE(destroyed);
    }
    EXPECT_TRUE(destroyed) << "the last reference destroys the decoder's picture";
}

INSTANTIATE_TEST_SUITE_P(Shapes, PicturePlanesTest, ::testing::ValuesIn(kShapes));

TEST(PicturePlanes, PlanesThatClaimTooLittleMemoryAreNeverRead)
{
    struct Case
    {
        const char* what;
        int plane;
        bool shortSize; // else a pitch below the row's width
    };
    const Case cases[] = {
        {"luma one byte short", 0, true},
        {"second chroma plane one byte short", 2, true},
        {"luma pitch below the width", 0, false},
        {"first chroma pitch below the width", 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto* picture = new PitchedPicture(kShapes[0], 4);
        if (c.shortSize)
            picture->m_size[c.plane] = uint32_t(picture->m_pitch[c.plane]) * uint32_t(picture->Rows(c.plane) - 1) +
                                       uint32_t(picture->Width(c.plane)) - 1;
        else
            picture->m_pitch[c.plane] = picture->Width(c.plane) - 1;
        VideoFramePtr frame = FrameOf(picture);
        PicturePlanes planes;
        EXPECT_FALSE(frame->GetPicturePlanes(planes));
        EXPECT_EQ(planes.count, 0);
        std::vector<uint8_t> scratch;
        EXPECT_EQ(frame->ContiguousData(scratch), nullptr);
        VideoFramePtr copy(new VideoFrame(*frame, true), false);
        EXPECT_EQ(copy->m_pData, nullptr);
        EXPECT_EQ(copy->m_cbData, 0u);
        // Stored without its picture: the size field is 0 and nothing follows.
        VideoFramePtr empty = PackedTwin(*frame, {});
        empty->m_cbData = 0;
        EXPECT_EQ(Stored(*frame), Stored(*empty));
    }
}

TEST(PicturePlanes, OurOwnPlanarBufferIsOneBlock)
{
    MFF::MultimediaFrameFactory factory(MFF::GetFrameAllocator());
    MFF::IPlanarBuffer* buffer = factory.CreatePlanarBuffer("YUV420", 16, 4, 4, 4, 2, 2, 0, 4, 4);
    ASSERT_NE(buffer, nullptr);
    for (uint32_t i = 0; i < 24; ++i)
        buffer->GetPlane0()[i] = uint8_t(i);
    VideoFramePtr frame = FrameOf(buffer);
    EXPECT_TRUE(frame->IsContiguous());
    EXPECT_EQ(frame->m_cbData, 24u);
    std::vector<uint8_t> scratch;
    EXPECT_EQ(frame->ContiguousData(scratch), frame->m_pData);
    EXPECT_TRUE(scratch.empty());
    PicturePlanes planes;
    ASSERT_TRUE(frame->GetPicturePlanes(planes));
    EXPECT_EQ(planes.data[1], frame->m_pData + 16);
    EXPECT_EQ(planes.data[2], frame->m_pData + 20);
    EXPECT_EQ(planes.pitch[1], 2);
}

TEST(PicturePlanes, OnlyAFactoryThatSaysSoTakesPitchedPlanes)
{
    MFF::MultimediaFrameFactory plain(MFF::GetFrameAllocator());
    MFF::MultimediaFrameFactory pitched(MFF::GetFrameAllocator(), true);
    EXPECT_EQ(plain.QueryContract(MFF::kPitchedPlanesContract), nullptr);
    EXPECT_EQ(pitched.QueryContract(MFF::kPitchedPlanesContract),
              static_cast<MFF::IMultimediaFrameFactory*>(&pitched));
    EXPECT_NE(pitched.QueryContract("MFF::IMultimediaFrameFactory"), nullptr);
}

TEST(PicturePlanes, CompressedFramesHaveNoPlanes)
{
    VideoFramePtr frame(new VideoFrame(), false);
    ASSERT_TRUE(frame->AllocData(8));
    frame->m_nFormat = FrameFormatCompressed;
    frame->m_nWidth = 2;
    frame->m_nHeight = 2;
    PicturePlanes planes;
    EXPECT_FALSE(frame->GetPicturePlanes(planes));
    EXPECT_TRUE(frame->IsContiguous());
    std::vector<uint8_t> scratch;
    EXPECT_EQ(frame->ContiguousData(scratch), frame->m_pData);
}

} // namespace
