// Media buffers: contract names, plane layout, allocation failures, and how a
// VideoFrame takes buffers over (AttachBuffer, shallow copies) and gives
// their memory back.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "base/VideoFrame.h"
#include "base/frames/Mff.h"
#include "platform/File.h"

namespace {

// Heap allocator that counts what is outstanding and can be told to fail.
class CountingAllocator final : public MFF::IAllocator
{
public:
    void* Allocate(uint32_t size) override
    {
        if (fail || size == 0)
            return nullptr;
        void* p = ::operator new(size);
        live.insert(p);
        return p;
    }
    void Free(void* p) override
    {
        if (p == nullptr)
            return;
        EXPECT_EQ(live.erase(p), 1u) << "freed a block it did not give";
        ::operator delete(p);
    }
    ~CountingAllocator() { EXPECT_TRUE(live.empty()) << live.size() << " blocks leaked"; }

    std::set<void*> live;
    bool fail = false;
};

TEST(Mff, ContractNamesOfEachBufferKind)
{
    CountingAllocator alloc;
    MFF::MultimediaFrameFactory factory(&alloc);
    MFF::IMultimediaBuffer* buffers[] = {
        factory.CreateCompressedBuffer("H264", 8, 0, 1),
        factory.CreateCompressedGeometryColorSpaceBuffer("H264", 8, 0, 1, 4, 5, 6),
        factory.CreateCompositeBuffer("X", 8, 1, 0, 2, 3),
        factory.CreatePlanarBuffer("YUV420", 16, 4, 4, 0, 0, 0, 0, 4, 4),
        factory.CreateAudioBuffer("PCM", 8, 0, 7),
    };
    const std::set<std::string> answers[] = {
        {"MFF::ICompressedBuffer"},
        {"MFF::ICompressedBuffer", "MFF::ICompressedGeometryColorSpaceBuffer"},
        {"MFF::ICompositeBuffer"},
        {"MFF::IPlanarBuffer"},
        {"MFF::IAudioBuffer"},
    };
    const char* interfaces[] = {"MFF::ICompressedBuffer", "MFF::ICompressedGeometryColorSpaceBuffer",
                                "MFF::ICompositeBuffer", "MFF::IPlanarBuffer", "MFF::IAudioBuffer",
                                "MFF::IMultimediaFrameFactory"};
    for (size_t i = 0; i < std::size(buffers); ++i) {
        MFF::IMultimediaBuffer* b = buffers[i];
        ASSERT_NE(b, nullptr);
        SCOPED_TRACE(b->GetType());
        EXPECT_EQ(b->QueryContract("IPINT2::IContract"), b);
        EXPECT_EQ(b->QueryContract("QOR8::IContract"), b);
        EXPECT_EQ(b->QueryContract("MFF::IMultimediaBuffer"), b);
        EXPECT_EQ(b->QueryContract("QOR8::IMultimediaBuffer"), nullptr);
        EXPECT_EQ(b->QueryContract(nullptr), nullptr);
        for (const char* name : interfaces)
            EXPECT_EQ(b->QueryContract(name) != nullptr, answers[i].count(name) == 1) << name;
        b->Destroy();
    }
    EXPECT_EQ(factory.QueryContract("MFF::IMultimediaFrameFactory"), &factory);
    EXPECT_EQ(factory.QueryContract("MFF::IPlanarBuffer"), nullptr);
}

TEST(Mff, ContractNameMatching)
{
    EXPECT_TRUE(MFF::ContractNameMatches("IPINT2::IContract", "IPINT2::IContract"));
    EXPECT_TRUE(MFF::ContractNameMatches("QOR8::IContract", "IPINT2::IContract"));
    EXPECT_FALSE(MFF::ContractNameMatches("IPINT2::IContract", "QOR8::IContract"));
    EXPECT_FALSE(MFF::ContractNameMatches("QOR8::IPlanarBuffer", "MFF::IPlanarBuffer"));
    EXPECT_FALSE(MFF::ContractNameMatches("QOR8::", "IPINT2::IContract"));
}

TEST(Mff, PlanarBufferPlanesFollowOneAnother)
{
    CountingAllocator alloc;
    MFF::MultimediaFrameFactory factory(&alloc);
    struct Case
    {
        uint32_t s0, s1, s2;
        bool plane1, plane2;
    };
    for (const Case c : {Case{100, 50, 25, true, true}, Case{100, 0, 25, false, false},
                         Case{100, 50, 0, true, false}}) {
        MFF::IPlanarBuffer* p = factory.CreatePlanarBuffer("YUV420", c.s0, c.s1, c.s2, 7, 8, 9,
                                                           1234, 10, 20);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->GetPlane1(), c.plane1 ? p->GetPlane0() + c.s0 : nullptr);
        EXPECT_EQ(p->GetPlane2(), c.plane2 ? p->GetPlane1() + c.s1 : nullptr);
        EXPECT_EQ(p->GetPlaneSize2(), c.s2);
        EXPECT_EQ(p->GetPlaneValue2(), 9);
        EXPECT_EQ(p->GetWidth(), 10);
        EXPECT_EQ(p->GetHeight(), 20);
        EXPECT_EQ(p->GetTimestamp(), 1234u);
        EXPECT_STREQ(p->GetFormat(), "YUV420");
        p->Destroy();
    }
}

TEST(Mff, AllocationRulesOfTheFactory)
{
    CountingAllocator alloc;
    MFF::MultimediaFrameFactory factory(&alloc);

    // A compressed buffer of size 0 is valid and has no data.
    MFF::ICompressedBuffer* empty = factory.CreateCompressedBuffer("H264", 0, 0, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->GetData(), nullptr);
    empty->Destroy();

    // Composite and audio buffers always allocate: size 0 fails.
    EXPECT_EQ(factory.CreateCompositeBuffer("X", 0, 1, 0, 2, 3), nullptr);
    EXPECT_EQ(factory.CreateAudioBuffer("PCM", 0, 0, 0), nullptr);

    // An allocator failure gives null from every creation, never an exception.
    alloc.fail = true;
    EXPECT_EQ(factory.CreateCompressedBuffer("H264", 8, 0, 0), nullptr);
    EXPECT_EQ(factory.CreateCompressedGeometryColorSpaceBuffer("H264", 8, 0, 0, 1, 2, 3), nullptr);
    EXPECT_EQ(factory.CreatePlanarBuffer("GRAY", 8, 0, 0, 0, 0, 0, 0, 1, 1), nullptr);
    EXPECT_EQ(factory.CreateCompositeBuffer("X", 8, 1, 0, 2, 3), nullptr);
    EXPECT_EQ(factory.CreateAudioBuffer("PCM", 8, 0, 0), nullptr);
}

TEST(Mff, SimpleAllocatorAndFrameAllocator)
{
    MFF::SimpleAllocator simple;
    EXPECT_EQ(simple.Allocate(0), nullptr);
    void* p = simple.Allocate(10);
    ASSERT_NE(p, nullptr);
    std::memset(p, 0, 10 + MFF::SimpleAllocator::kSlack); // the slack is usable
    simple.Free(p);
    simple.Free(nullptr);
    EXPECT_EQ(MFF::GetFrameAllocator(), MFF::GetFrameAllocator());
}

// --- VideoFrame over buffers --------------------------------------------------------

VideoFramePtr NewFrame() { return VideoFramePtr(new VideoFrame(), false); }

TEST(FrameBuffers, CompressedBufferBecomesTheFramesData)
{
    CountingAllocator alloc;
    MFF::MultimediaFrameFactory factory(&alloc);
    MFF::ICompressedBuffer* cb = factory.CreateCompressedBuffer("H264", 6, 0, 1);
    std::memcpy(cb->GetData(), "abcdef", 6);
    {
        VideoFramePtr f = NewFrame();
        ASSERT_TRUE(f->AllocData(3)); // freed by the attach
        const TSS before = f->m_tssTime;
        f->AttachBuffer(cb);
        EXPECT_EQ(f->m_nFormat, 1);
        EXPECT_EQ(f->m_pData, cb->GetData());
        EXPECT_EQ(f->m_cbData, 6u);
        EXPECT_EQ(f->m_bOwnData, 0);
        EXPECT_EQ(f->m_tssTime, before) << "a buffer without time stamp keeps the frame's";
        EXPECT_EQ(alloc.live.size(), 1u);
    }
    EXPECT_TRUE(alloc.live.empty()) << "the last release destroys the buffer";
}

TEST(FrameBuffers, BufferTimeStampBecomesTheFramesTime)
{
    CountingAllocator alloc;
    MFF::MultimediaFrameFactory factory(&alloc);
    TSS local;
    local.wYear = 2021;
    local.wMonth = 3;
    local.wDay = 4;
    local.wHour = 5;
    local.wMinute = 6;
    local.wSecond = 7;
    local.dwMilliseconds = 8;
    const uint64_t unixMs = local.ToUtcMilliseconds() - kArchiveUnixOffsetMs;
    VideoFramePtr f = NewFrame();
    f->AttachBuffer(factory.CreateCompressedBuffer("H264", 4, unixMs, 1));
    EXPECT_EQ(f->m_tssTime, local);
}

TEST(FrameBuffers, PlanarBufferByColourModel)
{
    struct Case
    {
        const char* model;
        int32_t format;
        int32_t color;
    };
    const Case cases[] = {
        {"YUV420", -3, 1},
        {"YUV422", 0, 1},
        {"GRAY", 0, 0},
        {"RGB24", 1, 1}, // unknown model: format and colour stay as they were
    };
    CountingAllocator alloc;
    MFF::MultimediaFrameFactory factory(&alloc);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        MFF::IPlanarBuffer* p = factory.CreatePlanarBuffer(c.model, 64, 16, 16, 0, 0, 0, 0, 8, 8);
        VideoFramePtr f = NewFrame();
        f->m_nFormat = 1;
        f->m_bColor = 1;
        f->AttachBuffer(p);
        EXPECT_EQ(f->m_nFormat, c.format);
        EXPECT_EQ(f->m_bColor, c.color);
        EXPECT_EQ(f->m_nWidth, 8);
        EXPECT_EQ(f->m_nHeight, 8);
        EXPECT_EQ(f->m_pData, p->GetPlane0());
        EXPECT_EQ(f->m_cbData, 96u);
    }
    EXPECT_TRUE(alloc.live.empty());
}

TEST(FrameBuffers, UnsupportedBufferIsDestroyedAndNotKept)
{
    CountingAllocator alloc;
    MFF::MultimediaFrameFactory factory(&alloc);
    VideoFramePtr f = NewFrame();
    f->AttachBuffer(factory.CreateAudioBuffer("PCM", 16, 0, 0));
    EXPECT_EQ(f->m_pBuffer, nullptr);
    EXPECT_EQ(f->m_pData, nullptr);
    EXPECT_TRUE(alloc.live.empty());
}

TEST(FrameBuffers, ShallowCopyTakesTheBufferOver)
{
    CountingAllocator alloc;
    MFF::MultimediaFrameFactory factory(&alloc);
    VideoFramePtr source = NewFrame();
    source->m_nFrameNumber = 9;
    source->AttachBuffer(factory.CreateCompressedBuffer("H264", 5, 0, 1));
    uint8_t* data = source->m_pData;

    VideoFramePtr copy(new VideoFrame(*source, false), false);
    EXPECT_EQ(copy->m_pData, data);
    EXPECT_EQ(copy->m_cbData, 5u);
    EXPECT_EQ(copy->m_nFrameNumber, 9);
    EXPECT_EQ(source->m_pData, nullptr);
    EXPECT_EQ(source->m_cbData, 0u);
    EXPECT_EQ(source->m_pBuffer, nullptr);
    source.reset();
    EXPECT_EQ(alloc.live.size(), 1u) << "the copy still holds the buffer";
    copy.reset();
    EXPECT_TRUE(alloc.live.empty());
}

TEST(FrameBuffers, ShallowCopyBorrowsAndDeepCopyOwns)
{
    VideoFramePtr source = NewFrame();
    ASSERT_TRUE(source->AllocData(4));
    std::memcpy(source->m_pData, "wxyz", 4);
    source->m_nFormat = 1;
    source->m_bColor = 1;
    source->m_strSubtitles = "t";

    VideoFramePtr shallow(new VideoFrame(*source, false), false);
    EXPECT_EQ(shallow->m_pData, source->m_pData);
    EXPECT_EQ(shallow->m_bOwnData, 0);

    VideoFramePtr deep(new VideoFrame(*source, true), false);
    EXPECT_NE(deep->m_pData, source->m_pData);
    EXPECT_EQ(deep->m_bOwnData, 1);
    EXPECT_EQ(std::memcmp(deep->m_pData, "wxyz", 4), 0);
    EXPECT_EQ(deep->m_strSubtitles, "t");
    EXPECT_EQ(deep->m_nFormat, 1);
    shallow.reset(); // must not free the lender's data
    EXPECT_EQ(std::memcmp(source->m_pData, "wxyz", 4), 0);
}

TEST(FrameBuffers, ConstructorRejectsANegativeChannel)
{
    try {
        VideoFrame f("cam", -1);
        ADD_FAILURE() << "no error";
    } catch (const platform::ArchiveException& e) {
        EXPECT_EQ(e.m_strFileName, "VideoFrame bad chan = -1");
    }
    VideoFramePtr f(new VideoFrame("cam", 2), false);
    EXPECT_EQ(f->GetRefCount(), 1);
    EXPECT_TRUE(f->m_tssTime.IsValidDate());
    EXPECT_NE(f->m_nBias, 0) << "a zero bias is stored as 10000";
    EXPECT_FALSE(ReleaseVideoFrame(nullptr));
    VideoFrame* raw = new VideoFrame();
    raw->AddRef();
    EXPECT_FALSE(ReleaseVideoFrame(raw));
    EXPECT_TRUE(ReleaseVideoFrame(raw));
}

} // namespace
