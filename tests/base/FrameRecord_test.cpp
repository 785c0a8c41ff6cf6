// The archive frame record (VideoFrame::SerializeFile) and the archive form
// of video and audio frames, pinned against hand-built bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "base/AudioFrame.h"
#include "base/VideoFrame.h"
#include "platform/Archive.h"
#include "platform/File.h"
#include "ByteDump.h"
#include "support/TempDir.h"

namespace {

using base_test::Bytes;

void Append(Bytes& out, std::initializer_list<uint8_t> bytes) { out.insert(out.end(), bytes); }
void Append32(Bytes& out, uint32_t v)
{
    Append(out, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}
void AppendText(Bytes& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }

// 2022-05-27 06:14:53.123, as stored.
const std::initializer_list<uint8_t> kTimeBytes = {0xE6, 0x07, 0x05, 0x00, 0x1B, 0x00, 0x06, 0x00,
                                                   0x0E, 0x00, 0x35, 0x00, 0x7B, 0x00, 0x00, 0x00};

// The record of the reference frame: colour 1 with bias -180, 640x480,
// compressed, five data bytes and the title "Hi!".
Bytes GoldenRecord()
{
    Bytes r;
    Append(r, {0xFF, 0xFF, 0xFF, 0xFF});  // header -1
    Append(r, kTimeBytes);
    Append(r, {0x44, 0x33, 0x22, 0x11});  // delay
    Append(r, {0x07, 0x00, 0x00, 0x00});  // frame number
    Append(r, {0x64, 0x00, 0x00, 0x00});  // total frames 100
    Append(r, {0x01, 0x00, 0x4C, 0xFF});  // colour 1, bias -180
    Append(r, {0x80, 0x02, 0x00, 0x00});  // width 640
    Append(r, {0xE0, 0x01, 0x00, 0x00});  // height 480
    Append(r, {0x01, 0x00, 0x00, 0x00});  // format 1
    Append(r, {0x05, 0x00, 0x00, 0x00});  // size 5
    AppendText(r, "ABCDE");
    Append(r, {0x03, 0x00, 0x00, 0x00});  // title length
    AppendText(r, "Hi!");
    return r;
}

TSS ReferenceTime()
{
    TSS t;
    t.wYear = 2022;
    t.wMonth = 5;
    t.wDay = 27;
    t.wHour = 6;
    t.wMinute = 14;
    t.wSecond = 53;
    t.dwMilliseconds = 123;
    return t;
}

VideoFramePtr ReferenceFrame()
{
    VideoFramePtr f(new VideoFrame("cam", 3), false);
    f->m_tssTime = ReferenceTime();
    f->m_lDelay = 0x11223344;
    f->m_nFrameNumber = 7;
    f->m_nTotalFrames = 100;
    f->m_bColor = 1;
    f->m_nBias = -180;
    f->m_nWidth = 640;
    f->m_nHeight = 480;
    f->m_nFormat = 1;
    EXPECT_TRUE(f->AllocData(5));
    std::memcpy(f->m_pData, "ABCDE", 5);
    f->m_strSubtitles = "Hi!";
    return f;
}

VideoFramePtr NewFrame() { return VideoFramePtr(new VideoFrame(), false); }

std::string DataOf(const VideoFrame& f)
{
    return f.m_pData != nullptr ? std::string(reinterpret_cast<const char*>(f.m_pData), f.m_cbData)
                                : std::string();
}

// Points the registry at an empty store of this test's own.
class FrameRecordTest : public ::testing::Test
{
protected:
    void SetUp() override { setenv("GAVEX_REGISTRY_DIR", m_dir.path().c_str(), 1); }
    void TearDown() override { unsetenv("GAVEX_REGISTRY_DIR"); }
    gavex_test::TempDir m_dir{"frames-record"};
};

TEST_F(FrameRecordTest, StoreWritesTheRecordByteForByte)
{
    VideoFramePtr f = ReferenceFrame();
    platform::MemFile mem;
    f->SerializeFile(mem, false);
    EXPECT_BYTES(GoldenRecord(), Bytes(mem.Data(), mem.Data() + mem.Size()));

    // A disk file gets the same bytes (written in one piece).
    const std::string path = m_dir / "record.bin";
    {
        platform::File file(path, platform::File::modeCreate | platform::File::modeWrite);
        f->SerializeFile(file, false);
        file.Close();
    }
    platform::File file(path, platform::File::modeRead);
    Bytes disk(file.GetLength());
    ASSERT_EQ(file.Read(disk.data(), disk.size()), disk.size());
    EXPECT_BYTES(GoldenRecord(), disk);
}

TEST_F(FrameRecordTest, StoreOf1000BytesAndThreeCharacterTitleIs1059Bytes)
{
    VideoFramePtr f = ReferenceFrame();
    f->FreeData();
    ASSERT_TRUE(f->AllocData(1000));
    std::memset(f->m_pData, 0x5A, 1000);
    f->m_strSubtitles = "abc";
    platform::MemFile mem;
    f->SerializeFile(mem, false);
    ASSERT_EQ(mem.Size(), 1059u);
    EXPECT_EQ(std::memcmp(mem.Data(), "\xFF\xFF\xFF\xFF", 4), 0);
    EXPECT_EQ(std::memcmp(mem.Data() + 1052, "\x03\0\0\0abc", 7), 0);
}

TEST_F(FrameRecordTest, LoadReadsEveryField)
{
    const Bytes golden = GoldenRecord();
    platform::MemFile mem{Bytes(golden)};
    VideoFramePtr f = NewFrame();
    f->m_llTime = 42; // not touched by the record reader
    f->SerializeFile(mem, true, true);

    EXPECT_EQ(f->m_tssTime, ReferenceTime());
    EXPECT_EQ(f->m_lDelay, 0x11223344);
    EXPECT_EQ(f->m_nFrameNumber, 7);
    EXPECT_EQ(f->m_nTotalFrames, 100);
    EXPECT_EQ(f->m_bColor, 1);
    EXPECT_EQ(f->m_nBias, -180);
    EXPECT_EQ(f->m_nWidth, 640);
    EXPECT_EQ(f->m_nHeight, 480);
    EXPECT_EQ(f->m_nFormat, 1);
    EXPECT_EQ(DataOf(*f), "ABCDE");
    EXPECT_EQ(f->m_bOwnData, 1);
    EXPECT_EQ(f->m_strSubtitles, "Hi!");
    EXPECT_EQ(f->m_llTime, 42);
    EXPECT_EQ(mem.GetPosition(), golden.size());
}

TEST_F(FrameRecordTest, SkippingTheBodyKeepsDataAndEndsAfterTheRecord)
{
    const Bytes golden = GoldenRecord();
    platform::MemFile mem{Bytes(golden)};
    VideoFramePtr f = NewFrame();
    ASSERT_TRUE(f->AllocData(2));
    std::memcpy(f->m_pData, "zz", 2);
    uint8_t* before = f->m_pData;

    f->SerializeFile(mem, true, false);
    EXPECT_EQ(f->m_pData, before);
    EXPECT_EQ(std::memcmp(f->m_pData, "zz", 2), 0);
    EXPECT_EQ(f->m_cbData, 5u);
    EXPECT_EQ(f->m_strSubtitles, "Hi!");
    EXPECT_EQ(mem.GetPosition(), golden.size());
}

TEST_F(FrameRecordTest, PlainHeaderRecordHasNoTitlePart)
{
    // A header-0 record followed directly by a full one.
    Bytes bytes = GoldenRecord();
    bytes.resize(52 + 5);
    std::memset(bytes.data(), 0, 4);
    const Bytes second = GoldenRecord();
    bytes.insert(bytes.end(), second.begin(), second.end());

    platform::MemFile mem{Bytes(bytes)};
    VideoFramePtr f = NewFrame();
    f->m_strSubtitles = "old";
    f->SerializeFile(mem, true, true);
    EXPECT_EQ(DataOf(*f), "ABCDE");
    EXPECT_EQ(f->m_strSubtitles, "old");
    EXPECT_EQ(mem.GetPosition(), 57u);

    f->SerializeFile(mem, true, true);
    EXPECT_EQ(f->m_strSubtitles, "Hi!");
    EXPECT_EQ(mem.GetPosition(), bytes.size());
}

TEST_F(FrameRecordTest, ColourWordWithoutBiasKeepsTheFramesBias)
{
    Bytes bytes = GoldenRecord();
    bytes[34] = 0;
    bytes[35] = 0;
    platform::MemFile mem{Bytes(bytes)};
    VideoFramePtr f = NewFrame();
    f->m_nBias = 60;
    f->SerializeFile(mem, true, true);
    EXPECT_EQ(f->m_bColor, 1);
    EXPECT_EQ(f->m_nBias, 60);
}

TEST_F(FrameRecordTest, TitleEndsAtItsFirstZeroByte)
{
    Bytes bytes = GoldenRecord();
    bytes[bytes.size() - 2] = 0; // "H\0!"
    platform::MemFile mem{Bytes(bytes)};
    VideoFramePtr f = NewFrame();
    f->SerializeFile(mem, true, true);
    EXPECT_EQ(f->m_strSubtitles, "H");
    EXPECT_EQ(mem.GetPosition(), bytes.size());
}

TEST_F(FrameRecordTest, LargestTitleIsAccepted)
{
    Bytes bytes = GoldenRecord();
    bytes.resize(52 + 5);
    Append32(bytes, VideoFrame::kMaxSubtitlesLength);
    bytes.resize(bytes.size() + VideoFrame::kMaxSubtitlesLength, 'x');
    platform::MemFile mem{std::move(bytes)};
    VideoFramePtr f = NewFrame();
    f->SerializeFile(mem, true, true);
    EXPECT_EQ(f->m_strSubtitles.size(), size_t(VideoFrame::kMaxSubtitlesLength));
}

struct BadValueCase
{
    const char* name;
    size_t offset;          // where the 32-bit value goes
    uint32_t value;
    const char* text;       // the archive error's text
};

TEST_F(FrameRecordTest, BadValuesRaiseTheArchiveErrorWithTheirText)
{
    const BadValueCase cases[] = {
        {"header", 0, 5, "VideoFrame bad file header = 0x5"},
        {"month", 4, 0x000D07E6, "VideoFrame bad tss"},
        {"hour", 10, 0x000E0018, "VideoFrame bad tss"},
        {"milliseconds", 16, 1000, "VideoFrame bad tss"},
        {"total frames", 28, 100001, "VideoFrame bad totalframes = 100001. Should be in range (0, 100000)"},
        {"negative total", 28, uint32_t(-1), "VideoFrame bad totalframes = -1. Should be in range (0, 100000)"},
        {"colour", 32, 2, "VideoFrame bad color = 2"},
        {"width", 36, uint32_t(-2), "VideoFrame bad width = -2"},
        {"height", 40, uint32_t(-2), "VideoFrame bad height = -2. Should be in range (0,3000)"},
        {"format", 44, 7, "VideoFrame bad format = 7"},
        {"title length", 57, 10485761, "VideoFrame bad subtitles len = 10485761"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = GoldenRecord();
        bytes[c.offset] = uint8_t(c.value);
        bytes[c.offset + 1] = uint8_t(c.value >> 8);
        bytes[c.offset + 2] = uint8_t(c.value >> 16);
        bytes[c.offset + 3] = uint8_t(c.value >> 24);
        platform::MemFile mem{std::move(bytes)};
        VideoFramePtr f = NewFrame();
        try {
            f->SerializeFile(mem, true, true);
            ADD_FAILURE() << "no error";
        } catch (const platform::ArchiveException& e) {
            EXPECT_EQ(e.m_cause, platform::ArchiveException::genericException);
            EXPECT_EQ(e.m_strFileName, c.text);
        }
    }
    // The formats that pass the record reader (no colour check here).
    for (int32_t format : {0, 1, -1, -3}) {
        Bytes bytes = GoldenRecord();
        bytes[32] = 0; // grey
        Bytes value;
        Append32(value, uint32_t(format));
        std::copy(value.begin(), value.end(), bytes.begin() + 44);
        platform::MemFile mem{std::move(bytes)};
        VideoFramePtr f = NewFrame();
        EXPECT_NO_THROW(f->SerializeFile(mem, true, true)) << format;
        EXPECT_EQ(f->m_nFormat, format);
    }
}

enum class Error { File, Archive };

struct TruncatedCase
{
    const char* name;
    size_t keep;  // bytes of the golden record left
    bool readBody;
    Error error;
};

TEST_F(FrameRecordTest, TruncatedRecordsAreErrorsNotShortFrames)
{
    const TruncatedCase cases[] = {
        {"empty file", 0, true, Error::File},
        {"inside header", 2, true, Error::File},
        {"inside time", 10, true, Error::File},
        {"inside size", 50, true, Error::File},
        {"data cut", 55, true, Error::Archive},
        {"data cut, skipping", 55, false, Error::Archive},
        {"no title length", 57, true, Error::File},
        {"title length cut", 59, false, Error::File},
        {"title cut", 62, true, Error::File},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = GoldenRecord();
        bytes.resize(c.keep);
        platform::MemFile mem{std::move(bytes)};
        VideoFramePtr f = NewFrame();
        bool fileError = false;
        bool archiveError = false;
        try {
            f->SerializeFile(mem, true, c.readBody);
        } catch (const platform::FileException& e) {
            fileError = true;
            EXPECT_EQ(e.m_cause, platform::FileException::genericException);
            EXPECT_EQ(e.m_lOsError, -1);
        } catch (const platform::ArchiveException&) {
            archiveError = true;
        }
        EXPECT_EQ(fileError, c.error == Error::File);
        EXPECT_EQ(archiveError, c.error == Error::Archive);
        if (c.readBody && c.keep < 57) {
            EXPECT_EQ(f->m_pData, nullptr) << "no frame with an unread tail";
        }
    }
}

TEST_F(FrameRecordTest, HugeStoredSizeIsAFormatErrorNotAnAllocation)
{
    Bytes bytes = GoldenRecord();
    bytes[48] = 0xF0;
    bytes[49] = 0xFF;
    bytes[50] = 0xFF;
    bytes[51] = 0xFF;
    for (bool readBody : {true, false}) {
        platform::MemFile mem{Bytes(bytes)};
        VideoFramePtr f = NewFrame();
        EXPECT_THROW(f->SerializeFile(mem, true, readBody), platform::ArchiveException);
        EXPECT_EQ(f->m_pData, nullptr);
    }
}

// --- archive form -------------------------------------------------------------

Bytes GoldenArchiveForm()
{
    Bytes r;
    Append(r, {3, 'c', 'a', 'm'});      // name
    Append(r, {3, 0, 0, 0});           // channel
    Append(r, {2, 'f', '1'});           // file id
    Append(r, kTimeBytes);
    Append(r, {0x44, 0x33, 0x22, 0x11});
    Append(r, {7, 0, 0, 0});
    Append(r, {100, 0, 0, 0});
    Append(r, {0x01, 0x00, 0x4C, 0xFF});
    Append(r, {0x80, 0x02, 0, 0});
    Append(r, {0xE0, 0x01, 0, 0});
    Append(r, {1, 0, 0, 0});
    Append(r, {5, 0, 0, 0});
    AppendText(r, "ABCDE");
    Append(r, {3, 'H', 'i', '!'});      // title
    return r;
}

TEST_F(FrameRecordTest, ArchiveFormStoresEveryFieldInOrder)
{
    VideoFramePtr f = ReferenceFrame();
    f->m_sFileId = "f1";
    platform::MemFile mem;
    {
        platform::Archive ar(mem, platform::Archive::store);
        f->Serialize(ar);
    }
    EXPECT_BYTES(GoldenArchiveForm(), Bytes(mem.Data(), mem.Data() + mem.Size()));
}

TEST_F(FrameRecordTest, ArchiveFormReadsTitleOnlyForAnObjectReadByClass)
{
    for (unsigned schema : {platform::Archive::kNoSchema, 2u}) {
        SCOPED_TRACE(schema);
        platform::MemFile mem{GoldenArchiveForm()};
        platform::Archive ar(mem, platform::Archive::load);
        ar.SetObjectSchema(schema);
        VideoFramePtr f = NewFrame();
        f->Serialize(ar);
        EXPECT_EQ(f->m_strName, "cam");
        EXPECT_EQ(f->m_nChan, 3);
        EXPECT_EQ(f->m_sFileId, "f1");
        EXPECT_EQ(f->m_nBias, -180);
        EXPECT_EQ(DataOf(*f), "ABCDE");
        EXPECT_EQ(f->m_llTime, int64_t(ReferenceTime().ToUtcMilliseconds() - kArchiveUnixOffsetMs));
        EXPECT_EQ(f->m_strSubtitles, schema == 2 ? "Hi!" : "");
    }
}

TEST_F(FrameRecordTest, ArchiveFormChecks)
{
    struct Case
    {
        const char* name;
        size_t offset;
        uint32_t value;
        const char* text; // null: passes
    };
    const size_t total = 4 + 4 + 3 + 16 + 8;
    const size_t color = total + 4;
    const size_t format = color + 12;
    const Case cases[] = {
        {"negative channel", 4, uint32_t(-1), "VideoFrame bad chan = -1"},
        {"total 100001 passes", total, 100001, nullptr},
        {"total -110000 passes", total, uint32_t(-110000), nullptr},
        {"total 110001", total, 110001, "VideoFrame bad totalframes = 110001"},
        {"colour 3", color, 3, "VideoFrame bad color = 3"},
        {"width -2", color + 4, uint32_t(-2), "VideoFrame bad width = -2"},
        {"height -2", color + 8, uint32_t(-2), "VideoFrame bad height = -2"},
        {"4:2:0 in grey", format, uint32_t(-3), "VideoFrame bad format/color = -3/0"},
        {"format 2", format, 2, "VideoFrame bad format = 2"},
        {"size beyond data", format + 4, 10, "No data in socket read(9) expected(10)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = GoldenArchiveForm();
        if (std::string(c.name).find("grey") != std::string::npos)
            bytes[color] = 0;
        for (int i = 0; i < 4; ++i)
            bytes[c.offset + i] = uint8_t(c.value >> (8 * i));
        platform::MemFile mem{std::move(bytes)};
        platform::Archive ar(mem, platform::Archive::load);
        VideoFramePtr f = NewFrame();
        if (c.text == nullptr) {
            // Accepted, and the record read whole: the value as stored and
            // the fields after it.
            ASSERT_NO_THROW(f->Serialize(ar));
            EXPECT_EQ(f->m_nTotalFrames, int32_t(c.value));
            EXPECT_EQ(f->m_nChan, 3);
            EXPECT_EQ(DataOf(*f), "ABCDE");
            continue;
        }
        try {
            f->Serialize(ar);
            ADD_FAILURE() << "no error";
        } catch (const platform::ArchiveException& e) {
            EXPECT_EQ(e.m_strFileName, c.text);
        }
    }
}

TEST_F(FrameRecordTest, ExtendedFrameAddsTextsAndBlock)
{
    VideoFrameEx out;
    out.m_tssTime = ReferenceTime();
    out.m_strText1 = "a";
    out.m_strText2 = "bc";
    out.m_pBlock = new uint8_t[3]{9, 8, 7};
    out.m_cbBlock = 3;
    platform::MemFile mem;
    {
        platform::Archive ar(mem, platform::Archive::store);
        out.Serialize(ar);
    }
    Bytes tail = {1, 'a', 2, 'b', 'c', 3, 0, 0, 0, 9, 8, 7};
    Bytes bytes(mem.Data(), mem.Data() + mem.Size());
    ASSERT_GT(bytes.size(), tail.size());
    EXPECT_BYTES(tail, Bytes(bytes.end() - tail.size(), bytes.end()));

    mem.SeekToBegin();
    platform::Archive ar(mem, platform::Archive::load);
    ar.SetObjectSchema(2);
    VideoFrameEx in;
    in.Serialize(ar);
    EXPECT_EQ(in.m_strText2, "bc");
    ASSERT_EQ(in.m_cbBlock, 3u);
    EXPECT_EQ(in.m_pBlock[2], 7);
}

// --- audio frames ---------------------------------------------------------------

Bytes GoldenAudio(unsigned schema)
{
    Bytes r;
    if (schema == 1) {
        for (uint8_t v : {1, 3, 4, 5, 6}) // A, C, D, E, F
            Append(r, {v, 0, 0, 0});
    } else {
        for (uint8_t v : {1, 3, 4, 2, 5}) // A, C, D, B, E
            Append(r, {v, 0, 0, 0});
        if (schema == 3)
            Append(r, kTimeBytes);
        Append(r, {'A', 'A', 'C', '1'});
        Append(r, {2, 'h', 'i'});
        Append(r, {6, 0, 0, 0}); // F
    }
    Append(r, {2, 0, 0, 0});
    Append(r, {0xAB, 0xCD});
    return r;
}

TEST_F(FrameRecordTest, AudioFrameStoresSchema3AndReadsEachSchema)
{
    AudioFramePtr a(new AudioFrame(), false);
    a->m_nA = 1;
    a->m_nB = 2;
    a->m_nC = 3;
    a->m_nD = 4;
    a->m_nE = 5;
    a->m_nF = 6;
    a->m_tssTime = ReferenceTime();
    std::memcpy(a->m_code, "AAC1", 4);
    a->m_strText = "hi";
    std::memcpy(a->AllocData(2), "\xAB\xCD", 2);
    platform::MemFile mem;
    {
        platform::Archive ar(mem, platform::Archive::store);
        a->Serialize(ar);
    }
    EXPECT_BYTES(GoldenAudio(3), Bytes(mem.Data(), mem.Data() + mem.Size()));

    for (unsigned schema : {1u, 2u, 3u}) {
        SCOPED_TRACE(schema);
        platform::MemFile in{GoldenAudio(schema)};
        platform::Archive ar(in, platform::Archive::load);
        ar.SetObjectSchema(schema);
        AudioFramePtr b(new AudioFrame(), false);
        b->Serialize(ar);
        EXPECT_EQ(b->m_nA, 1);
        EXPECT_EQ(b->m_nE, 5);
        EXPECT_EQ(b->m_nF, 6);
        EXPECT_EQ(b->m_nB, schema == 1 ? 0 : 2);
        EXPECT_EQ(b->m_strText, schema == 1 ? "" : "hi");
        EXPECT_EQ(b->m_tssTime == ReferenceTime(), schema == 3);
        ASSERT_EQ(b->m_cbData, 2u);
        EXPECT_EQ(b->m_pData[1], 0xCD);
        EXPECT_EQ(in.GetPosition(), in.GetLength());
    }

    // Not read by class: nothing is read.
    platform::MemFile in{GoldenAudio(3)};
    platform::Archive ar(in, platform::Archive::load);
    AudioFramePtr b(new AudioFrame(), false);
    b->Serialize(ar);
    EXPECT_EQ(in.GetPosition(), 0u);
}

} // namespace
