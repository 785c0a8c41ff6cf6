#include "media/DecompressorWavelet.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "base/Log.h"
#include "media/DecompressorImpl.h"
#include "media/Wavelet.h"
#include "media/WaveletEncoders.h"

namespace {

constexpr uint32_t kSpare = 4112;     // bytes the libraries may write beyond a picture
constexpr uint32_t kHeader65 = 36;    // 6.5 and 7.1 frame header
constexpr uint32_t kHeader35 = 24;    // 3.5 header words read here
constexpr uint32_t kGuard = 0xFFFFFFFF;

QorLog::CDebug* Logger() { return getDefaultDebugInstance(); }

// The encoders reach the frame compressor as soon as the wavelet code is
// part of the program (the decompressor front pulls it in).
[[maybe_unused]] const bool kEncodersRegistered = (wavelet::RegisterWaveletEncoders(), true);

unsigned ObjectId(const void* object) { return unsigned(reinterpret_cast<uintptr_t>(object)); }

uint32_t Load32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Load16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

bool IsCompressedWithData(const VideoFrame* frame)
{
    return frame != nullptr && frame->m_nFormat == FrameFormatCompressed &&
           frame->m_pData != nullptr && frame->m_cbData > 4;
}

void LogFreeMemory(const void* object)
{
    Logger()->PrintRaw("FREEMEMORY in Decompressor (0x%08x) by thread %04d\n", ObjectId(object),
                       int(gettid()));
}

// A compressed frame copying the input's header with new data.
VideoFramePtr NewCompressedFrame(const VideoFrame& input, const std::vector<uint8_t>& data,
                                 uint32_t length)
{
    VideoFramePtr out(new VideoFrame(), false);
    out->CopyHeader(input);
    out->m_bColor = input.m_bColor;
    out->m_nFormat = FrameFormatCompressed;
    out->m_nWidth = Load16(data.data() + 28);
    out->m_nHeight = Load16(data.data() + 30);
    if (!out->AllocData(length + 4096))
        return nullptr;
    std::memcpy(out->m_pData, data.data(), length);
    out->m_cbData = length;
    return out;
}

} // namespace

void CompactPicture(uint8_t* picture, int W, int H, int w, int h, int mode)
{
    for (int r = 1; r < h; ++r)
        std::memmove(picture + size_t(r) * size_t(w), picture + size_t(r) * size_t(W), size_t(w));
    if (mode != 21 && mode != 22)
        return;
    const int rows = mode == 22 ? h / 2 : h;
    const size_t rowLength = size_t(w / 2), sourcePitch = size_t(W / 2);
    const size_t area = size_t(W) * size_t(H);
    uint8_t* to = picture + size_t(w) * size_t(h);
    const uint8_t* fromU = picture + area;
    const uint8_t* fromV = picture + (mode == 22 ? area * 5 / 4 : area * 3 / 2);
    for (const uint8_t* from : {fromU, fromV}) {
        for (int r = 0; r < rows; ++r) {
            std::memmove(to, from + size_t(r) * sourcePitch, rowLength);
            to += rowLength;
        }
    }
}

VideoFramePtr CWaveletDecompressorBase::NewPicture(const VideoFrame& input, uint64_t capacity,
                                                   const char* version)
{
    if (capacity > kMaxWaveletPicture) {
        QOR_LOG_ERROR(Logger(), "[%s] Picture of %llu bytes is too large. Camera: %d.", version,
                      (unsigned long long)capacity, input.m_nChan);
        return nullptr;
    }
    VideoFramePtr out(new VideoFrame(), false);
    out->CopyHeader(input);
    if (!out->AllocData(uint32_t(capacity)))
        return nullptr;
    return out;
}

bool CWaveletDecompressorBase::FinishPicture(VideoFrame& picture, const VideoFrame& input,
                                             double bytesPerPixel, bool grey)
{
    const uint64_t area = uint64_t(m_decodedWidth) * uint64_t(m_decodedHeight);
    const uint64_t size = uint64_t(double(area) * bytesPerPixel);
    if (grey && size > area)
        std::memset(picture.m_pData + area, 128, size_t(size - area));
    picture.m_nWidth = m_decodedWidth;
    picture.m_nHeight = m_decodedHeight;
    picture.m_nFormat = m_outputFormat;
    picture.m_bColor = m_outputFormat == FrameFormatYuv420 ? 1 : input.m_bColor;
    picture.m_cbData = uint32_t(size);
    return !GetDecompressorDebugSwitches().checkOutputFrame ||
           ProbeFrameBuffer(picture.m_pData, picture.m_cbData);
}

VideoFramePtr CWaveletDecompressorBase::DecompressHeaderFrame(VideoFrame* frame, int width, int& status,
                                                              const HeaderFrameNames& names)
{
    if (!IsCompressedWithData(frame))
        return nullptr;
    if (frame->m_cbData < kHeader65 + 4) {
        QOR_LOG_ERROR(Logger(), "%s Bad frame size %d (expected %d). Rejected. Camera: %d.", names.logTag,
                      int(frame->m_cbData), int(kHeader65 + 4), frame->m_nChan);
        return nullptr;
    }
    frame->m_nWidth = Load16(frame->m_pData + 28);
    frame->m_nHeight = Load16(frame->m_pData + 30);
    if (GetDecompressorDebugSwitches().checkInputFrame &&
        !ProbeFrameBuffer(frame->m_pData, frame->m_cbData)) {
        QOR_LOG_ERROR(Logger(),
                      "Invalid compressed buffer for frame %s, chan=%d, m_nHeight=%d, m_nWidth=%d, m_nFormat=%d, ver=%s",
                      frame->m_strName.c_str(), frame->m_nChan, frame->m_nHeight, frame->m_nWidth,
                      frame->m_nFormat, names.version);
        return nullptr;
    }
    if (frame->m_nWidth == 0 || frame->m_nHeight == 0)
        return nullptr;
    const double allocation = m_outputFormat == FrameFormatYuv420 ? 1.5 : 2.0;
    VideoFramePtr picture = NewPicture(
        *frame,
        uint64_t(double(uint64_t(frame->m_nWidth) * uint64_t(frame->m_nHeight)) * allocation) + kSpare,
        names.pictureName);
    if (!picture || !Decode(*frame, picture->m_pData, width) || m_decodedWidth == 0)
        return nullptr;
    const double d = m_outputFormat == FrameFormatYuv420 ? 1.5
                     : names.colourFromFrame ? double(frame->m_bColor + 1) : 2.0;
    if (!FinishPicture(*picture, *frame, d, m_colour == 0)) {
        QOR_LOG_ERROR(Logger(), "Invalid decompressed buffer for frame %s, chan=%d, m_nHeight=%d, m_nWidth=%d, m_nFormat=%d, ver=%s",
                      frame->m_strName.c_str(), frame->m_nChan, frame->m_nHeight, frame->m_nWidth,
                      frame->m_nFormat, names.version);
        return nullptr;
    }
    status = 0;
    return picture;
}

void CWaveletDecompressorBase::ForgetSizes()
{
    m_streamWidth = m_streamHeight = 0;
    m_decodedWidth = m_decodedHeight = 0;
    m_colour = 0;
}

// ---------------------------------------------------------------- 3.5

CDecompressWavelet35::CDecompressWavelet35(int outputFormat) : CWaveletDecompressorBase(outputFormat)
{
    Logger()->Trace("CDecompressorWavelet35 0x%08X created", ObjectId(this));
}

CDecompressWavelet35::~CDecompressWavelet35()
{
    FreeMemory();
    Logger()->Trace("CDecompressorWavelet35 0x%08X removed", ObjectId(this));
}

void CDecompressWavelet35::FreeMemory()
{
    LogFreeMemory(this);
    m_codec.reset();
    ForgetSizes();
}

VideoFramePtr CDecompressWavelet35::ExtractWidth(VideoFrame* frame, int)
{
    return VideoFramePtr(frame);
}

int CDecompressWavelet35::LevelForWidth(int levels, int W, int w)
{
    if (w == 0 || w >= W)
        return 0;
    int n = levels + 1;
    int divisor = 1;
    if (w < W - w + 1) {
        do {
            if (n < 1)
                break;
            --n;
            ++divisor;
        } while (w < W / divisor - w + 1);
    }
    n = std::max(n, 4);
    if (levels < n)
        n = 0;
    return n;
}

VideoFramePtr CDecompressWavelet35::Decompress(VideoFrame* frame, int width, int& status)
{
    if (frame == nullptr || frame->m_nFormat != FrameFormatCompressed)
        return nullptr;
    const DecompressorDebugSwitches& switches = GetDecompressorDebugSwitches();
    if (!IsCompressedWithData(frame))
        return nullptr;
    if (switches.checkInputFrame && !ProbeFrameBuffer(frame->m_pData, frame->m_cbData)) {
        QOR_LOG_ERROR(Logger(),
                      "[WAVELET][3.5] Invalid compressed buffer for frame %s, chan=%d, m_nHeight=%d, m_nWidth=%d, m_nFormat=%d",
                      frame->m_strName.c_str(), frame->m_nChan, frame->m_nHeight, frame->m_nWidth,
                      frame->m_nFormat);
        return nullptr;
    }
    // The stream size; a frame without one keeps the previous.
    int W = m_streamWidth, H = m_streamHeight;
    if (frame->m_nWidth != 0 && frame->m_nHeight != 0) {
        W = frame->m_nWidth;
        H = frame->m_nHeight;
    }
    if (!m_codec || W != m_streamWidth || H != m_streamHeight) {
        m_codec.reset(wavelet::CreateWavelet3(W, H, m_outputFormat, 10));
        if (!m_codec) {
            ForgetSizes();
            return nullptr;
        }
        m_streamWidth = W;
        m_streamHeight = H;
    }
    // Room for a colour picture whatever the frame claims: the library writes
    // what the data holds.
    const double allocation = m_outputFormat == FrameFormatYuv420 ? 1.5 : 2.0;
    VideoFramePtr picture =
        NewPicture(*frame, uint64_t(double(uint64_t(W) * uint64_t(H)) * allocation) + kSpare,
                   "WAVELET][3.5");
    if (!picture || !Decode(*frame, picture->m_pData, width) || m_decodedWidth == 0)
        return nullptr;
    const double d = m_outputFormat == FrameFormatYuv420 ? 1.5 : double(frame->m_bColor + 1);
    if (!FinishPicture(*picture, *frame, d, m_colour == 0)) {
        QOR_LOG_ERROR(Logger(), "[WAVELET][3.5] Invalid decompressed buffer for frame %s, chan=%d, m_nHeight=%d, m_nWidth=%d, m_nFormat=%d.",
                      frame->m_strName.c_str(), frame->m_nChan, frame->m_nHeight, frame->m_nWidth,
                      frame->m_nFormat);
        return nullptr;
    }
    status = 0;
    return picture;
}

bool CDecompressWavelet35::Decode(VideoFrame& frame, uint8_t* picture, int width)
{
    const uint8_t* data = frame.m_pData;
    const uint32_t size = frame.m_cbData;
    const int chan = frame.m_nChan;
    m_decodedWidth = m_decodedHeight = 0;
    if (size < kHeader35 + 4) {
        QOR_LOG_ERROR(Logger(), "[WAVELET][3.5] Bad frame size %d (expected %d). Rejected. Camera: %d.\n",
                      size >= 8 ? int(Load32(data + 4)) : 0, int(size - 4), chan);
        return false;
    }
    if (GetDecompressorDebugSwitches().checkCrc && !wavelet::Wavelet3::CheckCRC(data, size)) {
        QOR_LOG_ERROR(Logger(), "[WAVELET][3.5] Bad CRC. Camera: %d", chan);
        return false;
    }
    const int level = LevelForWidth(m_codec->GetLevels(), m_streamWidth, width);
    const uint16_t flags = Load16(data + 20);
    const uint32_t l1 = Load32(data + 4);
    uint32_t result = 0;
    bool grey = (flags & 4) != 0;
    if ((flags & 0x100) == 0) {
        if (uint64_t(l1) + 4 != size) {
            QOR_LOG_ERROR(Logger(), "[WAVELET][3.5] Bad frame size %d (expected %d). Rejected. Camera: %d.\n",
                          int(l1), int(size - 4), chan);
            return false;
        }
        result = m_codec->Decompress(data, picture, level);
    } else {
        // A complex frame: the key frame with its tag, then the difference frame.
        const uint64_t second = uint64_t(l1) + 4;
        const uint32_t l2 = second + kHeader35 + 4 <= size ? Load32(data + second + 4) : 0;
        if (second + kHeader35 + 4 > size || uint64_t(l1) + l2 != uint64_t(size) - 8) {
            QOR_LOG_ERROR(Logger(),
                          "[WAVELET][3.5] Bad complex frame size %d (expected %d). Rejected. Camera: %d.\n",
                          int(uint64_t(l1) + l2), int(size - 8), chan);
            return false;
        }
        if (m_codec->Decompress(data, nullptr, level) != 0)
            result = m_codec->Decompress(data + second, picture, level);
        grey = (Load16(data + second + 20) & 4) != 0;
    }
    const int w = int(result & 0xFFFF), h = int((result >> 16) & 0xFFFF);
    if (result == 0 || w > m_streamWidth || h > m_streamHeight) {
        QOR_LOG_ERROR(Logger(), "[WAVELET][3.5] Frame could not be decoded. Rejected. Camera: %d.", chan);
        return false;
    }
    m_decodedWidth = w;
    m_decodedHeight = h;
    // A frame whose data is grey gets grey chroma whatever its header says.
    m_colour = frame.m_bColor != 0 && !grey ? 1 : 0;
    if (m_colour && (w != m_streamWidth || h != m_streamHeight)) {
        // The library leaves each reduced chroma plane where the full-size one
        // starts; they go right behind the reduced luma.
        const size_t full = size_t(m_streamWidth) * size_t(m_streamHeight);
        const size_t area = size_t(w) * size_t(h);
        const size_t part = m_outputFormat == FrameFormatYuv420 ? 4 : 2;
        std::memmove(picture + area, picture + full, area / part);
        std::memmove(picture + area + area / part, picture + full + full / part, area / part);
    }
    return true;
}

// ---------------------------------------------------------------- 6.5 and 7.1 helpers

namespace {

struct WxwlFacts {
    uint32_t length = 0;
    uint32_t flags = 0;
    int width = 0;
    int height = 0;
    bool complex = false;
};

WxwlFacts ReadFacts(const uint8_t* header, uint32_t lengthMask)
{
    WxwlFacts f;
    f.length = Load32(header + 4) & lengthMask;
    f.flags = Load32(header + 24);
    f.width = Load16(header + 28);
    f.height = Load16(header + 30);
    f.complex = ((f.flags >> 24) & 3) == 3;
    return f;
}

// Checks the lengths of a plain or complex frame against its size; the
// offset of the part to decode into the picture.
bool CheckLengths(const VideoFrame& frame, uint32_t lengthMask, const char* prefix, uint32_t& second)
{
    const uint8_t* data = frame.m_pData;
    const uint32_t size = frame.m_cbData;
    const WxwlFacts first = ReadFacts(data, lengthMask);
    if (!first.complex) {
        second = 0;
        if (uint64_t(first.length) + 4 == size)
            return true;
        QOR_LOG_ERROR(Logger(), "[%s] Bad frame size %d (expected %d). Rejected. Camera: %d.", prefix,
                      int(first.length), int(size - 4), frame.m_nChan);
        return false;
    }
    const uint64_t at = uint64_t(first.length) + 4;
    const uint32_t l2 = at + kHeader65 <= size ? Load32(data + at + 4) & lengthMask : 0;
    if (at + kHeader65 + 4 > size || uint64_t(first.length) + l2 != uint64_t(size) - 8) {
        QOR_LOG_ERROR(Logger(), "[%s] Bad complex frame size %d (expected %d). Rejected. Camera: %d.",
                      prefix, int(uint64_t(first.length) + l2), int(size - 8), frame.m_nChan);
        return false;
    }
    const WxwlFacts next = ReadFacts(data + at, lengthMask);
    if (next.width != first.width || next.height != first.height ||
        (next.flags & 0x70) != (first.flags & 0x70)) {
        QOR_LOG_ERROR(Logger(), "[%s] Complex frame parts of different streams. Rejected. Camera: %d.",
                      prefix, frame.m_nChan);
        return false;
    }
    second = uint32_t(at);
    return true;
}

// A picture layout the output format cannot hold (a 4:2:2 frame in a 4:2:0
// picture would overrun it).
bool LayoutFits(uint32_t flags, bool grey, int outputFormat)
{
    if (grey)
        return true;
    return ((flags & 0x70) == 0x10) == (outputFormat == FrameFormatYuv420);
}

int CompactionMode(int colour, int outputFormat)
{
    if (!colour)
        return 0;
    return outputFormat == FrameFormatYuv420 ? 22 : 21;
}

} // namespace

// ---------------------------------------------------------------- 6.5

CDecompressorCorvane65::CDecompressorCorvane65(int outputFormat)
    : CWaveletDecompressorBase(outputFormat)
{
    Logger()->Trace("CDecompressorCorvane65 0x%08X created", ObjectId(this));
}

CDecompressorCorvane65::~CDecompressorCorvane65()
{
    FreeMemory();
    Logger()->Trace("CDecompressorCorvane65 0x%08X removed", ObjectId(this));
}

void CDecompressorCorvane65::FreeMemory()
{
    LogFreeMemory(this);
    m_codec.reset();
    ForgetSizes();
}

bool CDecompressorCorvane65::EnsureCodec(int width, int height)
{
    if (!m_codec || width != m_streamWidth || height != m_streamHeight) {
        m_codec = std::make_unique<wavelet::WxWl3>(width, height, m_outputFormat);
        m_streamWidth = width;
        m_streamHeight = height;
    }
    return m_codec->IsLoaded();
}

VideoFramePtr CDecompressorCorvane65::Decompress(VideoFrame* frame, int width, int& status)
{
    return DecompressHeaderFrame(frame, width, status, {"[WXWL]", "Corvane 6.5", "WXWL", true});
}

bool CDecompressorCorvane65::Decode(VideoFrame& frame, uint8_t* picture, int width)
{
    m_decodedWidth = m_decodedHeight = 0;
    const uint8_t* data = frame.m_pData;
    const int W = frame.m_nWidth, H = frame.m_nHeight;
    if (!EnsureCodec(W, H))
        return false;
    uint32_t second = 0;
    if (!CheckLengths(frame, 0xFFFFFF, "WXWL", second))
        return false;
    const WxwlFacts facts = ReadFacts(data, 0xFFFFFF);
    const bool grey = (facts.flags & 0x4000000) != 0 || (facts.flags & 0x70) == 0x20;
    if (!LayoutFits(facts.flags, grey, m_outputFormat)) {
        QOR_LOG_ERROR(Logger(), "[WXWL] Frame layout 0x%02X does not fit output format %d. Camera: %d.",
                      facts.flags & 0x70, m_outputFormat, frame.m_nChan);
        return false;
    }
    const int level = std::min(wavelet::ReductionLevel(W, width), int(facts.flags & 7));
    uint32_t result = 0;
    if (second != 0) {
        if (m_codec->Decompress(data, nullptr, level) != 0)
            result = m_codec->Decompress(data + second, picture, level);
    } else {
        result = m_codec->Decompress(data, picture, level);
    }
    const int w = W >> level, h = H >> level;
    if (result == 0 || result != (uint32_t(w) | uint32_t(h) << 16)) {
        QOR_LOG_ERROR(Logger(), "[WXWL] Frame could not be decoded. Rejected. Camera: %d.", frame.m_nChan);
        return false;
    }
    m_decodedWidth = w;
    m_decodedHeight = h;
    m_colour = frame.m_bColor != 0 && !grey ? 1 : 0;
    if (w != W || h != H)
        CompactPicture(picture, W, H, w, h, CompactionMode(m_colour, m_outputFormat));
    return true;
}

VideoFramePtr CDecompressorCorvane65::ExtractWidth(VideoFrame* frame, int width)
{
    if (frame == nullptr)
        return nullptr;
    if (!GetDecompressorDebugSwitches().extractWidth)
        return VideoFramePtr(frame);
    if (!IsCompressedWithData(frame) || frame->m_cbData < kHeader65 + 4)
        return nullptr;
    if (frame->m_nWidth > 600 && frame->m_nHeight < 400)
        width *= 2;
    if (frame->m_nWidth <= 0 || frame->m_nHeight <= 0 || !EnsureCodec(frame->m_nWidth, frame->m_nHeight))
        return VideoFramePtr(frame);
    uint32_t second = 0;
    if (!CheckLengths(*frame, 0xFFFFFF, "WXWL", second))
        return VideoFramePtr(frame);
    const uint8_t* data = frame->m_pData;
    std::vector<uint8_t> first;
    const uint32_t l1 = Load32(data + 4) & 0xFFFFFF;
    const int n1 = m_codec->Downscale(data, l1, first, width);
    if (n1 <= 0)
        return VideoFramePtr(frame);
    if (second == 0)
        return NewCompressedFrame(*frame, first, uint32_t(n1));
    std::vector<uint8_t> next;
    const uint32_t l2 = Load32(data + second + 4) & 0xFFFFFF;
    const int n2 = m_codec->Downscale(data + second, l2, next, width);
    if (n2 <= 0)
        return VideoFramePtr(frame);
    first.insert(first.end(), next.begin(), next.end());
    return NewCompressedFrame(*frame, first, uint32_t(n1 + n2));
}

// ---------------------------------------------------------------- 7.1

CDecompressorCorvane71::CDecompressorCorvane71(int outputFormat)
    : CWaveletDecompressorBase(outputFormat)
{
    Logger()->Trace("CDecompressorCorvane71 0x%08X created", ObjectId(this));
}

CDecompressorCorvane71::~CDecompressorCorvane71()
{
    FreeMemory();
    Logger()->Trace("CDecompressorCorvane71 0x%08X removed", ObjectId(this));
    m_downscaler.reset();
}

void CDecompressorCorvane71::FreeMemory()
{
    LogFreeMemory(this);
    m_codec.reset();
    m_codecWidth = m_codecHeight = 0;
    ForgetSizes();
}

VideoFramePtr CDecompressorCorvane71::Decompress(VideoFrame* frame, int width, int& status)
{
    return DecompressHeaderFrame(frame, width, status, {"[WAVELET71]", "Corvane 7.1", "WAVELET71", false});
}

bool CDecompressorCorvane71::DecodePart(const uint8_t* part, uint8_t* picture, int width)
{
    const uint32_t guard = Load32(part);
    if (guard != kGuard) {
        QOR_LOG_ERROR(Logger(), "[WAVWLET71] broken frame.");
        return false;
    }
    const int w = Load16(part + 28), h = Load16(part + 30);
    if (!m_codec || w != m_codecWidth || h != m_codecHeight) {
        m_codec = std::make_unique<wavelet::Wavelet71decoder>(part);
        m_codecWidth = w;
        m_codecHeight = h;
    }
    if (!m_codec->IsOpen())
        return false;
    return m_codec->Decode(part, picture, width) != 0;
}

bool CDecompressorCorvane71::Decode(VideoFrame& frame, uint8_t* picture, int width)
{
    m_decodedWidth = m_decodedHeight = 0;
    const uint8_t* data = frame.m_pData;
    const int W = frame.m_nWidth, H = frame.m_nHeight;
    m_streamWidth = W;
    m_streamHeight = H;
    uint32_t second = 0;
    if (!CheckLengths(frame, 0xFFFFFFFF, "WAVELET71", second))
        return false;
    const WxwlFacts facts = ReadFacts(data, 0xFFFFFFFF);
    const bool grey = (facts.flags & 0x70) == 0x20;
    if (!LayoutFits(facts.flags, grey, m_outputFormat)) {
        QOR_LOG_ERROR(Logger(), "[WAVELET71] Frame layout 0x%02X does not fit output format %d. Camera: %d.",
                      facts.flags & 0x70, m_outputFormat, frame.m_nChan);
        return false;
    }
    const int level = std::min(wavelet::ReductionLevel(W, width), int(facts.flags & 7));
    bool ok;
    if (second != 0)
        ok = DecodePart(data, nullptr, width) && DecodePart(data + second, picture, width);
    else
        ok = DecodePart(data, picture, width);
    if (!ok) {
        QOR_LOG_ERROR(Logger(), "[WAVELET71] Frame could not be decoded. Rejected. Camera: %d.", frame.m_nChan);
        return false;
    }
    m_decodedWidth = W >> level;
    m_decodedHeight = H >> level;
    m_colour = frame.m_bColor != 0 && !grey ? 1 : 0;
    if (m_decodedWidth != W || m_decodedHeight != H)
        CompactPicture(picture, W, H, m_decodedWidth, m_decodedHeight,
                       CompactionMode(m_colour, m_outputFormat));
    return true;
}

bool CDecompressorCorvane71::Reduce(const uint8_t* part, uint32_t length, int width,
                                    std::vector<uint8_t>& out)
{
    const WxwlFacts facts = ReadFacts(part, 0xFFFFFFFF);
    const int level = std::min(wavelet::ReductionLevel(facts.width, width), int(facts.flags & 7));
    if (level == 0 || Load32(part) != kGuard)
        return false;
    if (!m_downscaler || m_downscaler->GetLevel() != level)
        m_downscaler = std::make_unique<wavelet::Wavelet71downscaler>(part, level);
    std::vector<uint8_t> buffer(part, part + length);
    buffer.resize(size_t(length) + 4100);
    const int n = m_downscaler->Downscale(buffer.data());
    if (n <= 0 || uint32_t(n) > length)
        return false;
    const uint8_t tag[4] = {'I', '+', 'v', uint8_t(m_outputFormat == FrameFormatYuv420 ? 0xAA : 0xAB)};
    out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    out.insert(out.end(), tag, tag + 4);
    return true;
}

VideoFramePtr CDecompressorCorvane71::ExtractWidth(VideoFrame* frame, int width)
{
    if (frame == nullptr)
        return nullptr;
    if (!GetDecompressorDebugSwitches().extractWidth)
        return VideoFramePtr(frame);
    if (!IsCompressedWithData(frame) || frame->m_cbData < kHeader65 + 4)
        return nullptr;
    if (frame->m_nWidth > 600 && frame->m_nHeight < 400)
        width *= 2;
    uint32_t second = 0;
    if (!CheckLengths(*frame, 0xFFFFFFFF, "WAVELET71", second))
        return VideoFramePtr(frame);
    const uint8_t* data = frame->m_pData;
    std::vector<uint8_t> reduced;
    if (!Reduce(data, Load32(data + 4), width, reduced))
        return VideoFramePtr(frame);
    if (second != 0 && !Reduce(data + second, Load32(data + second + 4), width, reduced))
        return VideoFramePtr(frame);
    return NewCompressedFrame(*frame, reduced, uint32_t(reduced.size()));
}
