#include "base/frames/FormatTags.h"

#include <cstring>

#include "base/Log.h"
#include "base/VideoFrame.h"

namespace {

// The four tag bytes as one little-endian word (byte 1 lowest).
constexpr uint32_t Tag(const char (&s)[5])
{
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

uint32_t LoadU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void StoreU32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

enum class KeyRule
{
    Never,
    Always,
    FlagBeforeTag,  // the byte in front of the tag is non-zero
    Vndr07,         // (data[20] & 3) == 1
    Wxwl,           // (word at 24 & 0x3000000) == 0x1000000
    Wl70,           // (word at 24 & 0x1000000) != 0
};

struct CodeInfo
{
    const char* name;
    int family;
    KeyRule key;
    bool inter;
};

// Codes 30, 32 and '7' to '{' have entries; every other code falls back to
// the defaults of CodeOf.
CodeInfo InfoOf(int32_t code)
{
    switch (code) {
    case 30: return {"", FamilyCodecPack, KeyRule::Always, false};
    case ' ': return {"", FamilyPicture, KeyRule::Always, false};
    case '7': return {"MJPEG", FamilyPicture, KeyRule::Always, false};
    case '8': return {"MPEG4", FamilyCodecPack, KeyRule::FlagBeforeTag, true};
    case '9': return {"JP2K", FamilyPicture, KeyRule::Always, false};
    case ':': return {"", FamilyCodecPack, KeyRule::Never, false};
    case ';': return {"MxPEG", FamilyPicture, KeyRule::FlagBeforeTag, true};
    case '<': return {"BOSCH", FamilyCodecPack, KeyRule::FlagBeforeTag, true};
    case '=': return {"XVID", FamilyCodecPack, KeyRule::Always, true};
    case '>': return {"H263", FamilyCodecPack, KeyRule::FlagBeforeTag, true};
    case '?': return {"H264", FamilyCodecPack, KeyRule::FlagBeforeTag, true};
    case '@': return {"I264", FamilyCodecPack, KeyRule::FlagBeforeTag, true};
    case 'A': return {"VNDR.0.6", FamilyCodecPack, KeyRule::FlagBeforeTag, true};
    case 'B': return {"H264SVC", FamilyCodecPack, KeyRule::FlagBeforeTag, true};
    case 'C': return {"H264SVC-T", FamilyCodecPack, KeyRule::FlagBeforeTag, true};
    case 'D': return {"H265", FamilyCodecPack, KeyRule::FlagBeforeTag, true};
    case 'E': return {"VWV", FamilyCodecPack, KeyRule::FlagBeforeTag, false};
    case 'F': return {"MPEG2", FamilyCodecPack, KeyRule::FlagBeforeTag, true};
    case 'n':
    case 'o': return {"VNDR.0.7", FamilyWavelet, KeyRule::Vndr07, false};
    case 'v':
    case 'w': return {"WXWL", FamilyWavelet, KeyRule::Wxwl, false};
    case 'z':
    case '{': return {"WL70", FamilyWavelet, KeyRule::Wl70, false};
    default: break;
    }
    // Codes without a codec of their own: 'G' to 'c' belong to the codec
    // pack, the unused wavelet slots to the wavelet family.
    int family;
    if ((code >= 'i' && code <= 'm') || (code >= 'p' && code <= 'u'))
        family = FamilyWavelet;
    else if (code == 'h' || code == 'x' || code == 'y' || code > '{')
        family = FamilyNone;
    else
        family = FamilyCodecPack; // below 'h', negative and 0 included
    return {"", family, KeyRule::Never, false};
}

bool IsCompressedWithData(const VideoFrame* frame)
{
    return frame != nullptr && frame->m_nFormat == FrameFormatCompressed &&
           frame->m_pData != nullptr;
}

} // namespace

int32_t ParseVideoFormatTag(const uint8_t* data, uint32_t length)
{
    if (data == nullptr || length < 5)
        return 0;
    const uint8_t* tag = data + length - 4;
    const uint32_t word = LoadU32(tag);
    switch (word) {
    case Tag("JPEG"):
    case Tag("JPG1"): return '7';
    case Tag("MPG4"): return '8';
    case Tag("JP2K"): return '9';
    case Tag("BSCH"): return '<';
    case Tag("XVID"): return '=';
    case Tag("H263"): return '>';
    case Tag("H264"): return '?';
    case Tag("I264"): return '@';
    case Tag("IHIK"): return 'A';
    case Tag("S264"): return 'B';
    case Tag("T264"): return 'C';
    case Tag("H265"): return 'D';
    case Tag("MPG2"): return 'F';
    default: break;
    }
    if ((word >> 8) == (Tag("xPNG") >> 8))
        return ':';
    if ((word & 0xFFFFFF) == (Tag("I+vx") & 0xFFFFFF))
        return int32_t(tag[3]) - 48;
    return 0;
}

int32_t GetVideoFormat(const uint8_t* data, const uint32_t* length)
{
    const int32_t code = ParseVideoFormatTag(data, length != nullptr ? *length : 0);
    if (code == 0)
        QOR_LOG_ERROR(getDefaultDebugInstance(),
                      "[DECOMPRESSOR] Video format version is undefined or not supported yet.");
    return code;
}

int32_t GetVideoFrameFormat(const VideoFrame* frame)
{
    if (frame == nullptr || frame->m_nFormat != FrameFormatCompressed)
        return 0;
    const int32_t code = GetVideoFormat(frame->m_pData, &frame->m_cbData);
    if (code == 0) {
        getDefaultDebugInstance()->Warning(
            "[DECOMPRESSOR] Couldn't find version information in VideoFrame slaveId=%s; chan=%d; "
            "format=%d; fileId=%s; frameNumber=%d; tssTime=%s",
            frame->m_strName.c_str(), frame->m_nChan, frame->m_nFormat, frame->m_sFileId.c_str(),
            frame->m_nFrameNumber, frame->m_tssTime.ToString().c_str());
    }
    return code;
}

const char* GetVideoFormatName(int32_t code) { return InfoOf(code).name; }

int GetVideoFormatCodeFamily(int32_t code) { return InfoOf(code).family; }

int GetVideoFormatFamily(const VideoFrame* frame)
{
    if (frame == nullptr || frame->m_nFormat != FrameFormatCompressed)
        return FamilyPicture;
    return InfoOf(GetVideoFormat(frame->m_pData, &frame->m_cbData)).family;
}

bool IsInterFrameCode(int32_t code) { return InfoOf(code).inter; }

int IsKeyFrame(const VideoFrame* frame)
{
    if (!IsCompressedWithData(frame))
        return 0;
    const uint8_t* data = frame->m_pData;
    const uint32_t size = frame->m_cbData;
    const int32_t code = GetVideoFormat(data, &size);
    if (code == 0)
        return 0;
    // A non-zero code means size >= 5; the wavelet rules read the frame header,
    // and a frame too short to hold it is not a key frame.
    switch (InfoOf(code).key) {
    case KeyRule::Never: return 0;
    case KeyRule::Always: return 1;
    case KeyRule::FlagBeforeTag: return data[size - 5] != 0 ? 1 : 0;
    case KeyRule::Vndr07: return size > 20 && (data[20] & 3) == 1 ? 1 : 0;
    case KeyRule::Wxwl: return size >= 28 && (LoadU32(data + 24) & 0x3000000) == 0x1000000 ? 1 : 0;
    case KeyRule::Wl70: return size >= 28 && (LoadU32(data + 24) & 0x1000000) != 0 ? 1 : 0;
    }
    return 0;
}

int IsInterFrameFormat(const VideoFrame* frame)
{
    if (!IsCompressedWithData(frame))
        return 0;
    return IsInterFrameCode(ParseVideoFormatTag(frame->m_pData, frame->m_cbData)) ? 1 : 0;
}

boost::intrusive_ptr<VideoFrame> MakeFrameWithKeyHeader(const VideoFrame* keyFrame,
                                                       const VideoFrame* frame)
{
    if (frame == nullptr)
        return {};
    // Adopt the constructor's reference.
    boost::intrusive_ptr<VideoFrame> joined(new VideoFrame(), false);
    joined->CopyHeader(*frame);
    joined->m_bColor = frame->m_bColor;
    joined->m_nFormat = frame->m_nFormat;
    joined->m_nWidth = frame->m_nWidth;
    joined->m_nHeight = frame->m_nHeight;
    joined->m_cbCompressed = frame->m_cbCompressed;
    joined->m_cbData = 0;

    const int32_t code = GetVideoFrameFormat(frame);
    uint32_t keyLength = 0;   // key frame bytes to put in front (without its tag)
    uint32_t flagOffset = 0;  // where the complex-frame flag goes
    uint32_t flagBits = 0;
    bool flag16 = false;
    if (keyFrame == nullptr || keyFrame->m_pData == nullptr || keyFrame->m_cbData < 8)
        return joined;
    const uint32_t word = LoadU32(keyFrame->m_pData + 4);
    switch (code) {
    case 'n':
    case 'o':
        keyLength = word;
        flagOffset = 20;
        flagBits = 0x100;
        flag16 = true;
        break;
    case 'v':
    case 'w':
        keyLength = word & 0xFFFFFF;
        flagOffset = 24;
        flagBits = 0x3000000;
        break;
    case 'z':
    case '{':
        keyLength = word;
        flagOffset = 24;
        flagBits = 0x3000000;
        break;
    default:
        return joined;
    }
    // The length word comes from the file: it must lie inside the key frame.
    if (keyLength == 0 || uint64_t{keyLength} + 4 > keyFrame->m_cbData)
        return joined;
    const uint64_t total = uint64_t{keyLength} + 4 + frame->m_cbData;
    if (total + 16 > UINT32_MAX || total < flagOffset + 4)
        return joined;
    if (!joined->AllocData(static_cast<uint32_t>(total + 16)))
        throw std::bad_alloc();
    joined->m_cbData = static_cast<uint32_t>(total);
    uint8_t* out = joined->m_pData;
    std::memcpy(out, keyFrame->m_pData, keyLength + 4);
    if (frame->m_cbData > 0 && frame->m_pData != nullptr)
        std::memcpy(out + keyLength + 4, frame->m_pData, frame->m_cbData);
    if (flag16) {
        out[flagOffset + 1] |= uint8_t(flagBits >> 8);
    } else {
        StoreU32(out + flagOffset, LoadU32(out + flagOffset) | flagBits);
    }
    return joined;
}
