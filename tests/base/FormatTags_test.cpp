// Frame format tags: every tag form, the code table (names, families,
// key-frame rules, predicted frames) and the joining of a difference frame
// to its key frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/VideoFrame.h"
#include "base/frames/FormatTags.h"

namespace {

using Bytes = std::vector<uint8_t>;

// `body` bytes of filler (0x11) followed by the four tag bytes.
Bytes Tagged(const std::string& tag, size_t body = 1)
{
    Bytes b(body, 0x11);
    for (char c : tag)
        b.push_back(uint8_t(c));
    return b;
}

VideoFramePtr Compressed(const Bytes& data)
{
    VideoFramePtr f(new VideoFrame(), false);
    f->m_nFormat = 1;
    if (!data.empty()) {
        EXPECT_TRUE(f->AllocData(uint32_t(data.size())));
        std::memcpy(f->m_pData, data.data(), data.size());
    }
    return f;
}

std::string Data(const VideoFrame& f)
{
    return f.m_pData ? std::string(reinterpret_cast<const char*>(f.m_pData), f.m_cbData) : "";
}

TEST(FormatTags, EveryTagForm)
{
    struct Case
    {
        std::string tag;
        int32_t code;
    };
    const Case cases[] = {
        {"JPEG", '7'},
        {"JPG1", '7'},
        {"JPG2", 0},
        {"MPG4", '8'},
        {"JP2K", '9'},
        {"xPNG", ':'},
        {"\x89PNG", ':'},
        {"BSCH", '<'},
        {"XVID", '='},
        {"H263", '>'},
        {"H264", '?'},
        {"I264", '@'},
        {"IHIK", 'A'},
        {"S264", 'B'},
        {"T264", 'C'},
        {"H265", 'D'},
        {"MPG2", 'F'},
        {"I+v\x9e", 'n'},
        {"I+v\x9f", 'o'},
        {"I+v\xa6", 'v'},
        {"I+v\xa7", 'w'},
        {"I+v\xaa", 'z'},
        {"I+v\xab", '{'},
        {"I+v\x6b", ';'},
        {"I+v\x75", 'E'},
        {"I+vN", 30},
        {"I+vP", 32},
        {"I+v0", 0},
        {"I+v ", -16},
        {"h264", 0},
        {"ABCD", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag);
        const Bytes data = Tagged(c.tag);
        EXPECT_EQ(ParseVideoFormatTag(data.data(), uint32_t(data.size())), c.code);
    }
    // The tag needs at least one byte in front of it.
    const Bytes bare = Tagged("H264", 0);
    EXPECT_EQ(ParseVideoFormatTag(bare.data(), 4), 0);
    EXPECT_EQ(ParseVideoFormatTag(nullptr, 10), 0);
}

TEST(FormatTags, CodeTable)
{
    struct Case
    {
        int32_t code;
        const char* name;
        int family;
        bool inter;
    };
    const Case cases[] = {
        {30, "", 3, false},        {' ', "", 1, false},         {'7', "MJPEG", 1, false},
        {'8', "MPEG4", 3, true},   {'9', "JP2K", 1, false},     {':', "", 3, false},
        {';', "MxPEG", 1, true},   {'<', "BOSCH", 3, true},     {'=', "XVID", 3, true},
        {'>', "H263", 3, true},    {'?', "H264", 3, true},      {'@', "I264", 3, true},
        {'A', "VNDR.0.6", 3, true}, {'B', "H264SVC", 3, true},  {'C', "H264SVC-T", 3, true},
        {'D', "H265", 3, true},    {'E', "VWV", 3, false},      {'F', "MPEG2", 3, true},
        {'G', "", 3, false},       {'c', "", 3, false},         {'d', "", 3, false},
        {'h', "", 0, false},       {'i', "", 2, false},         {'m', "", 2, false},
        {'n', "VNDR.0.7", 2, false}, {'o', "VNDR.0.7", 2, false}, {'p', "", 2, false},
        {'u', "", 2, false},       {'v', "WXWL", 2, false},     {'w', "WXWL", 2, false},
        {'x', "", 0, false},       {'y', "", 0, false},         {'z', "WL70", 2, false},
        {'{', "WL70", 2, false},   {'|', "", 0, false},         {0, "", 3, false},
        {-16, "", 3, false},       {'6', "", 3, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_STREQ(GetVideoFormatName(c.code), c.name);
        EXPECT_EQ(GetVideoFormatCodeFamily(c.code), c.family);
        EXPECT_EQ(IsInterFrameCode(c.code), c.inter);
    }
}

TEST(FormatTags, FrameLevelQueries)
{
    VideoFramePtr h264 = Compressed(Tagged("H264"));
    EXPECT_EQ(GetVideoFrameFormat(h264.get()), '?');
    EXPECT_EQ(IsInterFrameFormat(h264.get()), 1);
    EXPECT_EQ(GetVideoFormatFamily(h264.get()), 3);

    VideoFramePtr decoded = Compressed(Tagged("H264"));
    decoded->m_nFormat = -3;
    EXPECT_EQ(GetVideoFrameFormat(decoded.get()), 0);
    EXPECT_EQ(IsInterFrameFormat(decoded.get()), 0);
    EXPECT_EQ(IsKeyFrame(decoded.get()), 0);
    EXPECT_EQ(GetVideoFormatFamily(decoded.get()), 1);

    VideoFramePtr noData = Compressed({});
    EXPECT_EQ(IsInterFrameFormat(noData.get()), 0);
    EXPECT_EQ(IsKeyFrame(noData.get()), 0);
    EXPECT_EQ(GetVideoFrameFormat(nullptr), 0);
    EXPECT_EQ(IsKeyFrame(nullptr), 0);
}

// Wavelet frame of `size` bytes: byte 20 and the word at 24 set, then the tag.
Bytes Wavelet(uint8_t tagByte, uint8_t byte20, uint32_t word24, size_t size = 40)
{
    Bytes b(size - 4, 0);
    if (size > 24)
        b[20] = byte20;
    if (size >= 32)
        for (int i = 0; i < 4; ++i)
            b[24 + i] = uint8_t(word24 >> (8 * i));
    b.insert(b.end(), {'I', '+', 'v', tagByte});
    return b;
}

TEST(FormatTags, KeyFrameRules)
{
    struct Case
    {
        const char* name;
        Bytes data;
        int key;
    };
    Bytes flagged = Tagged("H264");
    flagged[0] = 1;
    Bytes unflagged = Tagged("H264");
    unflagged[0] = 0;
    Bytes xvid = Tagged("XVID");
    xvid[0] = 0;
    const Case cases[] = {
        {"MJPEG always", Tagged("JPEG"), 1},
        {"code 30 always", Tagged("I+vN"), 1},
        {"blank code always", Tagged("I+vP"), 1},
        {"H264 flag set", flagged, 1},
        {"H264 flag clear", unflagged, 0},
        {"XVID whatever its flag", xvid, 1},
        {"PNG never", Tagged("xPNG"), 0},
        {"unknown never", Tagged("ABCD"), 0},
        {"codec slot G never", Tagged("I+v\x77"), 0},
        {"VNDR.0.7 key", Wavelet(0x9E, 0x05, 0), 1},
        {"VNDR.0.7 difference", Wavelet(0x9E, 0x02, 0), 0},
        {"VNDR.0.7 too short", Wavelet(0x9E, 0, 0, 12), 0},
        {"WXWL key", Wavelet(0xA6, 0, 0x01000000), 1},
        {"WXWL complex", Wavelet(0xA6, 0, 0x03000000), 0},
        {"WXWL difference", Wavelet(0xA7, 0, 0x02000000), 0},
        {"WL70 key", Wavelet(0xAA, 0, 0x03000000), 1},
        {"WL70 difference", Wavelet(0xAB, 0, 0x02000000), 0},
        {"WL70 too short", Wavelet(0xAA, 0, 0, 26), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsKeyFrame(Compressed(c.data).get()), c.key);
    }
}

// A key frame whose length word (offset 4) is `lengthWord`, `size` bytes long.
Bytes KeyFrame(uint8_t tagByte, uint32_t lengthWord, size_t size)
{
    Bytes b(size - 4);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = uint8_t(0x40 + i);
    for (int i = 0; i < 4; ++i)
        b[4 + i] = uint8_t(lengthWord >> (8 * i));
    b.insert(b.end(), {'I', '+', 'v', tagByte});
    return b;
}

TEST(FormatTags, JoiningADifferenceFrameToItsKeyFrame)
{
    struct Case
    {
        const char* name;
        uint8_t tag;
        uint32_t lengthWord;
        uint32_t joinedKeyBytes; // 0: no data
        size_t flagOffset;
        uint32_t flagBits;       // OR-ed into the 16-bit (n, o) or 32-bit word
        bool flag16;
    };
    const Case cases[] = {
        {"VNDR.0.7", 0x9E, 36, 40, 20, 0x100, true},
        {"WXWL keeps the low 24 bits", 0xA6, 0x07000024, 40, 24, 0x3000000, false},
        {"WL70 whole word", 0xAA, 36, 40, 24, 0x3000000, false},
        {"zero length word", 0xAA, 0, 0, 0, 0, false},
        {"length beyond the key frame", 0xAA, 37, 0, 0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VideoFramePtr key = Compressed(KeyFrame(c.tag, c.lengthWord, 40));
        Bytes diffData = Wavelet(c.tag, 0, 0x02000000, 32);
        VideoFramePtr diff = Compressed(diffData);
        diff->m_nFrameNumber = 12;
        diff->m_nWidth = 352;

        VideoFramePtr joined = MakeFrameWithKeyHeader(key.get(), diff.get());
        ASSERT_TRUE(joined);
        EXPECT_EQ(joined->GetRefCount(), 1);
        EXPECT_EQ(joined->m_nFrameNumber, 12);
        EXPECT_EQ(joined->m_nWidth, 352);
        EXPECT_EQ(joined->m_nFormat, 1);
        if (c.joinedKeyBytes == 0) {
            EXPECT_EQ(joined->m_pData, nullptr);
            continue;
        }
        Bytes expected(key->m_pData, key->m_pData + c.joinedKeyBytes);
        expected.insert(expected.end(), diffData.begin(), diffData.end());
        if (c.flag16) {
            expected[c.flagOffset + 1] |= uint8_t(c.flagBits >> 8);
        } else {
            expected[c.flagOffset + 3] |= uint8_t(c.flagBits >> 24);
        }
        EXPECT_EQ(Data(*joined), std::string(expected.begin(), expected.end()));
        EXPECT_EQ(joined->m_bOwnData, 1);
    }

    // Formats without a key header give the copy without data.
    VideoFramePtr h264 = Compressed(Tagged("H264"));
    VideoFramePtr copy = MakeFrameWithKeyHeader(h264.get(), h264.get());
    EXPECT_EQ(copy->m_pData, nullptr);
    EXPECT_EQ(copy->m_cbData, 0u);
}

} // namespace
