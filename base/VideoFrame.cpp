// Archive frame record (little-endian, packed), one per frame in an archive
// video file:
//
//   offset  size  field
//        0     4  header: int32 -1; 0 marks a record without the title part
//        4    16  m_tssTime: u16 year, month, day, hour, minute, second,
//                 u32 milliseconds
//       20     4  m_lDelay
//       24     4  m_nFrameNumber
//       28     4  m_nTotalFrames
//       32     4  colour word: m_bColor in the low 16 bits, the low 16 bits of
//                 m_nBias in the high 16 (0 there: "keep the frame's bias")
//       36     4  m_nWidth
//       40     4  m_nHeight
//       44     4  m_nFormat
//       48     4  m_cbData (n)
//       52     n  data
//     52+n     4  title length s (int32)          only when the header is -1
//     56+n     s  title bytes, no terminator      only when the header is -1
//
// Records written here always carry the title part: 56 + n + s bytes.
#include "base/VideoFrame.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "base/Log.h"
#include "base/Registry.h"
#include "base/Utilities.h"
#include "base/frames/Mff.h"
#include "platform/Archive.h"
#include "platform/File.h"

namespace {

// The attached planar buffer when it is a picture by reference: one that is
// not our own packed buffer. Null for every other frame.
MFF::IPlanarBuffer* PlanesByReference(MFF::IMultimediaBuffer* buffer)
{
    if (buffer == nullptr || buffer->GetType() != MFF::BufferPlanar)
        return nullptr;
    auto* planar = static_cast<MFF::IPlanarBuffer*>(buffer->QueryContract("MFF::IPlanarBuffer"));
    if (planar == nullptr || dynamic_cast<MFF::PlanarBuffer*>(planar) != nullptr)
        return nullptr;
    return planar;
}

// Plane count and plane sizes of a w x h picture by reference: chroma rows
// half the luma width rounded up, and half the rows (also rounded up) for
// 4:2:0.
void ShapeByReference(int32_t format, int32_t color, int32_t w, int32_t h, PicturePlanes& planes)
{
    planes.width[0] = w;
    planes.rows[0] = h;
    planes.count = format == FrameFormatYuv422OrGray && color == 0 ? 1 : 3;
    if (planes.count == 1)
        return;
    const bool yuv422 = format == FrameFormatYuv422OrGray;
    for (int k = 1; k < 3; ++k) {
        planes.width[k] = (w + 1) / 2;
        planes.rows[k] = yuv422 ? h : (h + 1) / 2;
    }
}

uint64_t PackedSize(const PicturePlanes& planes)
{
    uint64_t size = 0;
    for (int k = 0; k < planes.count; ++k)
        size += uint64_t(planes.width[k]) * uint64_t(planes.rows[k]);
    return size;
}

// Copies the planes' picture bytes plane after plane, rows back to back.
void PackPlanes(const PicturePlanes& planes, uint8_t* out)
{
    for (int k = 0; k < planes.count; ++k) {
        const size_t width = size_t(planes.width[k]);
        const uint8_t* row = planes.data[k];
        for (int32_t y = 0; y < planes.rows[k]; ++y, row += planes.pitch[k], out += width)
            std::memcpy(out, row, width);
    }
}

constexpr int32_t kHeaderWithTitles = -1;
constexpr int32_t kHeaderPlain = 0;
constexpr uint32_t kCalcTimeThresholdMs = 120;
constexpr size_t kArchivePiece = 30720;

// Field offsets of the fixed part of the record.
enum RecordOffset : uint32_t
{
    OffHeader = 0,
    OffTime = 4,
    OffDelay = 20,
    OffFrameNumber = 24,
    OffTotalFrames = 28,
    OffColor = 32,
    OffWidth = 36,
    OffHeight = 40,
    OffFormat = 44,
    OffSize = 48,
};

int32_t LoadI32(const uint8_t* p)
{
    const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                       uint32_t(p[3]) << 24;
    return static_cast<int32_t>(v);
}

uint16_t LoadU16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

void StoreU32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

void StoreI32(uint8_t* p, int32_t v) { StoreU32(p, static_cast<uint32_t>(v)); }

void StoreU16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void StoreTss(uint8_t* p, const TSS& t)
{
    StoreU16(p + 0, t.wYear);
    StoreU16(p + 2, t.wMonth);
    StoreU16(p + 4, t.wDay);
    StoreU16(p + 6, t.wHour);
    StoreU16(p + 8, t.wMinute);
    StoreU16(p + 10, t.wSecond);
    StoreU32(p + 12, t.dwMilliseconds);
}

TSS LoadTss(const uint8_t* p)
{
    TSS t;
    t.wYear = LoadU16(p + 0);
    t.wMonth = LoadU16(p + 2);
    t.wDay = LoadU16(p + 4);
    t.wHour = LoadU16(p + 6);
    t.wMinute = LoadU16(p + 8);
    t.wSecond = LoadU16(p + 10);
    t.dwMilliseconds = static_cast<uint32_t>(LoadI32(p + 12));
    return t;
}

bool IsGoodTime(const TSS& t)
{
    return t.IsValidDate() && t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 59 &&
           t.dwMilliseconds <= 999;
}

int32_t ColorWord(int32_t color, int32_t bias)
{
    return static_cast<int32_t>((static_cast<uint32_t>(color) & 0xFFFF) |
                                (static_cast<uint32_t>(bias) << 16));
}

// Splits a stored colour word: a non-zero high half replaces the bias.
void SplitColorWord(int32_t word, int32_t& color, int32_t& bias)
{
    color = static_cast<int32_t>(static_cast<uint32_t>(word) & 0xFFFF);
    const int16_t high = static_cast<int16_t>(static_cast<uint32_t>(word) >> 16);
    if (high != 0)
        bias = high;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

[[noreturn]] void ThrowValueError(const std::string& text)
{
    throw platform::ArchiveException(platform::ArchiveException::genericException, text);
}

// A bad value in a record: logged as an error, then the archive error.
[[noreturn]] void ThrowRecordError(const std::string& text)
{
    QOR_LOG_ERROR(Log(), "Throwing exception cause is: %s", text.c_str());
    ThrowValueError(text);
}

// The same, logged as a warning.
[[noreturn]] void ThrowRecordWarning(const std::string& text)
{
    Log()->Warning("Throwing exception cause is: %s", text.c_str());
    ThrowValueError(text);
}

// The file ended inside the record.
[[noreturn]] void ThrowReadError(const platform::File& file)
{
    throw platform::FileException(platform::FileException::genericException, -1,
                                  file.GetFilePath());
}

// Reads until `count` bytes or the end of the file; returns the bytes read.
size_t ReadFully(platform::File& file, void* buffer, size_t count)
{
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const size_t n = file.Read(out + done, count - done);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

uint64_t BytesLeft(const platform::File& file)
{
    const uint64_t length = file.GetLength();
    const uint64_t position = file.GetPosition();
    return length > position ? length - position : 0;
}

// Resident memory of the process in megabytes; 0 when unknown.
unsigned long ProcessMegabytes()
{
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr)
        return 0;
    unsigned long pages = 0;
    unsigned long resident = 0;
    const int n = std::fscanf(f, "%lu %lu", &pages, &resident);
    std::fclose(f);
    if (n != 2)
        return 0;
    return static_cast<unsigned long>((uint64_t{resident} * 4096u) >> 20);
}

int32_t TickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int32_t>(static_cast<uint32_t>(uint64_t(ts.tv_sec) * 1000u +
                                                      uint64_t(ts.tv_nsec) / 1000000u));
}

// Time-zone bias taken once (minutes, UTC = local + bias).
constexpr int32_t kBiasUnset = INT32_MIN;
std::atomic<int32_t> g_frameBias{kBiasUnset};

int32_t CurrentSystemBias()
{
    const time_t now = time(nullptr);
    tm local{};
    if (localtime_r(&now, &local) == nullptr)
        return 0;
    return static_cast<int32_t>(-local.tm_gmtoff / 60);
}

// Whether disk stores write each record with one write ("WriteRaw", default
// on), read once per process.
bool BufferMode()
{
    static const bool mode = [] {
        RegistryKey key("SOFTWARE\\QOR\\Vindara\\Video", false, RegistryKey::kQueryValue);
        const bool on = key.ReadInt("WriteRaw", 1) > 0;
        Log()->Message("[VIDEOFRAME][Serialize][WriteRaw] m_bufferMode = %s.", on ? "true" : "false");
        return on;
    }();
    return mode;
}

std::string SlowStoreMessage(const char* prefix, int32_t chan, uint64_t recordLength)
{
    return std::string(prefix) + std::to_string(chan) + ". Frame size:" +
           std::to_string(recordLength / 1024) + "KB.";
}

} // namespace

// --- process-wide bias ---------------------------------------------------------

void SetFrameTimeZoneBias(int32_t biasMinutes) { g_frameBias.store(biasMinutes); }

int32_t GetFrameTimeZoneBias()
{
    int32_t bias = g_frameBias.load(std::memory_order_relaxed);
    if (bias == kBiasUnset) {
        // Not set up at start: take it now, once.
        int32_t expected = kBiasUnset;
        g_frameBias.compare_exchange_strong(expected, CurrentSystemBias());
        bias = g_frameBias.load();
    }
    return bias;
}

// --- construction and data -------------------------------------------------------

VideoFrame::VideoFrame() { InitNew(0); }

VideoFrame::VideoFrame(const std::string& name, int32_t chan) : m_strName(name) { InitNew(chan); }

void VideoFrame::InitNew(int32_t chan)
{
    m_tssTime.SetLocalNow();
    m_lDelay = TickCount();
    const int32_t bias = GetFrameTimeZoneBias();
    m_nBias = bias != 0 ? bias : kZeroBias;
    if (chan < 0)
        ThrowRecordError(Format("VideoFrame bad chan = %d", chan));
    m_nChan = chan;
    if (!IsGoodTime(m_tssTime))
        ThrowRecordError("VideoFrame bad tss");
}

VideoFrame::VideoFrame(VideoFrame& other, bool deep)
{
    if (deep) {
        CopyWithData(other);
        return;
    }
    CopyHeader(other);
    m_bColor = other.m_bColor;
    m_nFormat = other.m_nFormat;
    m_nWidth = other.m_nWidth;
    m_nHeight = other.m_nHeight;
    m_cbData = other.m_cbData;
    if (other.m_pBuffer != nullptr) {
        MFF::IMultimediaBuffer* buffer = other.m_pBuffer;
        other.m_pBuffer = nullptr;
        other.m_pData = nullptr;
        other.m_cbData = 0;
        other.m_bOwnData = 0;
        AttachBuffer(buffer);
    } else {
        m_pData = other.m_pData;
        m_bOwnData = 0;
    }
}

VideoFrame::~VideoFrame() { FreeData(); }

void VideoFrame::CopyHeader(const VideoFrame& other)
{
    if (&other == this)
        return;
    m_strName = other.m_strName;
    m_nChan = other.m_nChan;
    m_nFrameNumber = other.m_nFrameNumber;
    m_nTotalFrames = other.m_nTotalFrames;
    m_tssTime = other.m_tssTime;
    m_nBias = other.m_nBias;
    m_lDelay = other.m_lDelay;
    m_sFileId = other.m_sFileId;
    m_nExtra = other.m_nExtra;
    m_strSubtitles = other.m_strSubtitles;
    m_strExtra = other.m_strExtra;
    m_llTime = other.m_llTime;
}

void VideoFrame::CopyWithData(const VideoFrame& other)
{
    if (&other == this)
        return;
    m_nWidth = other.m_nWidth;
    m_nHeight = other.m_nHeight;
    FreeData();
    m_cbData = other.m_cbData;
    PicturePlanes planes;
    const bool byReference = !other.IsContiguous();
    if (byReference && (!other.GetPicturePlanes(planes) || PackedSize(planes) != other.m_cbData))
        m_cbData = 0; // planes that cannot be read give a frame without data
    if (other.m_pData != nullptr && m_cbData > 0) {
        void* p = MFF::GetFrameAllocator()->Allocate(m_cbData);
        if (p == nullptr)
            throw std::bad_alloc();
        if (byReference)
            PackPlanes(planes, static_cast<uint8_t*>(p));
        else
            std::memcpy(p, other.m_pData, m_cbData);
        m_pData = static_cast<uint8_t*>(p);
    }
    m_bOwnData = 1;
    CopyHeader(other);
    m_bColor = other.m_bColor;
    m_nFormat = other.m_nFormat;
}

bool VideoFrame::AllocData(uint32_t size)
{
    if (size == 0)
        return true;
    void* p = MFF::GetFrameAllocator()->Allocate(size);
    if (p == nullptr)
        return false;
    m_pData = static_cast<uint8_t*>(p);
    m_cbData = size;
    m_bOwnData = 1;
    m_pBuffer = nullptr;
    return true;
}

void VideoFrame::FreeData()
{
    if (m_bOwnData != 0 && m_pData != nullptr)
        MFF::GetFrameAllocator()->Free(m_pData);
    if (m_pBuffer != nullptr) {
        m_pBuffer->Destroy();
        m_pBuffer = nullptr;
    }
    m_pData = nullptr;
    m_bOwnData = 0;
}

void VideoFrame::AttachBuffer(MFF::IMultimediaBuffer* buffer)
{
    FreeData();
    m_pBuffer = buffer;
    if (buffer == nullptr)
        return;
    if (const uint64_t ts = buffer->GetTimestamp(); ts != 0)
        m_tssTime.FromUtcMilliseconds(ts + kArchiveUnixOffsetMs);

    const int32_t type = buffer->GetType();
    if (type == MFF::BufferCompressed) {
        if (auto* cb = static_cast<MFF::ICompressedBuffer*>(
                buffer->QueryContract("MFF::ICompressedBuffer"))) {
            m_nFormat = FrameFormatCompressed;
            m_pData = cb->GetData();
            m_cbData = cb->GetSize();
        }
        return;
    }
    if (type == MFF::BufferPlanar) {
        if (auto* pb = static_cast<MFF::IPlanarBuffer*>(buffer->QueryContract("MFF::IPlanarBuffer"))) {
            const char* model = pb->GetFormat();
            if (model != nullptr && std::strcmp(model, "YUV420") == 0) {
                m_nFormat = FrameFormatYuv420;
                m_bColor = 1;
            } else if (model != nullptr && std::strcmp(model, "YUV422") == 0) {
                m_nFormat = FrameFormatYuv422OrGray;
                m_bColor = 1;
            } else if (model != nullptr && std::strcmp(model, "GRAY") == 0) {
                m_nFormat = FrameFormatYuv422OrGray;
                m_bColor = 0;
            }
            m_nWidth = pb->GetWidth();
            m_nHeight = pb->GetHeight();
            m_pData = pb->GetPlane0();
            m_cbData = pb->GetPlaneSize0() + pb->GetPlaneSize1() + pb->GetPlaneSize2();
            if (PlanesByReference(buffer) != nullptr) {
                // The decoder's own planes: the frame's size is the packed
                // picture's (what a copy of it holds).
                PicturePlanes shape;
                ShapeByReference(m_nFormat, m_bColor, std::max(m_nWidth, 0), std::max(m_nHeight, 0), shape);
                const uint64_t packed = PackedSize(shape);
                m_cbData = packed <= UINT32_MAX ? uint32_t(packed) : 0;
            }
        }
        return;
    }
    QOR_LOG_ERROR(Log(), "[VIDEOFRAME] Unsupported MultimediaBuffer type: %d", type);
    buffer->Destroy();
    m_pBuffer = nullptr;
}

int64_t VideoFrame::GetTimestamp() const
{
    if (m_llTime != 0)
        return m_llTime;
    return static_cast<int64_t>(m_tssTime.ToUtcMilliseconds() - kArchiveUnixOffsetMs);
}

bool VideoFrame::GetPicturePlanes(PicturePlanes& planes) const
{
    planes = PicturePlanes{};
    if (m_pData == nullptr || m_nFormat == FrameFormatCompressed || m_nFormat == FrameFormatFFmpegPicture)
        return false;
    if (MFF::IPlanarBuffer* buffer = PlanesByReference(m_pBuffer)) {
        const int32_t w = buffer->GetWidth();
        const int32_t h = buffer->GetHeight();
        if (w <= 0 || h <= 0)
            return false;
        ShapeByReference(m_nFormat, m_bColor, w, h, planes);
        uint8_t* data[3] = {buffer->GetPlane0(), buffer->GetPlane1(), buffer->GetPlane2()};
        const int32_t pitch[3] = {buffer->GetPlaneValue0(), buffer->GetPlaneValue1(), buffer->GetPlaneValue2()};
        const uint32_t size[3] = {buffer->GetPlaneSize0(), buffer->GetPlaneSize1(), buffer->GetPlaneSize2()};
        for (int k = 0; k < planes.count; ++k) {
            // A plane is read only within the memory it claims.
            const uint64_t needed =
                uint64_t(pitch[k]) * uint64_t(planes.rows[k] - 1) + uint64_t(planes.width[k]);
            if (data[k] == nullptr || pitch[k] < planes.width[k] || size[k] < needed) {
                planes = PicturePlanes{};
                return false;
            }
            planes.data[k] = data[k];
            planes.pitch[k] = pitch[k];
        }
        return true;
    }

    const int32_t w = m_nWidth;
    const int32_t h = m_nHeight;
    if (w <= 0 || h <= 0)
        return false;
    // Packed: Y, then the two chroma planes, each as long as a quarter (4:2:0)
    // or a half (4:2:2) of the luma plane.
    const bool grey = m_nFormat == FrameFormatYuv422OrGray && m_bColor == 0;
    const bool yuv422 = m_nFormat == FrameFormatYuv422OrGray && m_bColor != 0;
    const size_t lumaSize = size_t(w) * size_t(h);
    const size_t chromaSize = yuv422 ? lumaSize / 2 : grey ? 0 : lumaSize / 4;
    if (m_cbData < lumaSize + 2 * chromaSize)
        return false;
    planes.count = grey ? 1 : 3;
    planes.data[0] = m_pData;
    planes.pitch[0] = planes.width[0] = w;
    planes.rows[0] = h;
    for (int k = 1; k < planes.count; ++k) {
        planes.data[k] = m_pData + lumaSize + (k - 1) * chromaSize;
        planes.pitch[k] = planes.width[k] = w / 2;
        planes.rows[k] = yuv422 ? h : h / 2;
    }
    return true;
}

bool VideoFrame::IsContiguous() const { return PlanesByReference(m_pBuffer) == nullptr; }

const uint8_t* VideoFrame::ContiguousData(std::vector<uint8_t>& scratch) const
{
    if (m_pData == nullptr)
        return nullptr;
    if (IsContiguous())
        return m_pData;
    PicturePlanes planes;
    if (!GetPicturePlanes(planes) || PackedSize(planes) != m_cbData)
        return nullptr;
    scratch.resize(m_cbData);
    PackPlanes(planes, scratch.data());
    return scratch.data();
}

bool ReleaseVideoFrame(VideoFrame* frame) { return frame != nullptr && frame->Release(); }

// --- archive form ----------------------------------------------------------------

void VideoFrame::Serialize(platform::Archive& ar)
{
    if (ar.IsStoring()) {
        uint8_t time[16];
        StoreTss(time, m_tssTime);
        ar << m_strName << m_nChan << m_sFileId;
        ar.Write(time, sizeof time);
        // A frame without data stores size 0, so the stream stays readable.
        std::vector<uint8_t> packed;
        const uint8_t* data = ContiguousData(packed);
        const uint32_t size = data != nullptr ? m_cbData : 0;
        ar << m_lDelay << m_nFrameNumber << m_nTotalFrames << ColorWord(m_bColor, m_nBias)
           << m_nWidth << m_nHeight << m_nFormat << static_cast<int32_t>(size);
        if (size > 0)
            ar.Write(data, size);
        ar << m_strSubtitles;
        return;
    }

    ar >> m_strName >> m_nChan;
    if (m_nChan < 0)
        ThrowValueError(Format("VideoFrame bad chan = %d", m_nChan));
    ar >> m_sFileId;
    uint8_t time[16];
    ar.Read(time, sizeof time);
    m_tssTime = LoadTss(time);
    if (!IsGoodTime(m_tssTime))
        ThrowValueError("VideoFrame bad tss");
    const uint64_t utc = m_tssTime.ToUtcMilliseconds();
    m_llTime = static_cast<int64_t>(utc - kArchiveUnixOffsetMs);
    m_tssTime.FromUtcMilliseconds(utc);

    ar >> m_lDelay >> m_nFrameNumber >> m_nTotalFrames;
    if (m_nTotalFrames < -110000 || m_nTotalFrames > 110000)
        ThrowValueError(Format("VideoFrame bad totalframes = %d", m_nTotalFrames));
    int32_t colorWord = 0;
    ar >> colorWord;
    SplitColorWord(colorWord, m_bColor, m_nBias);
    if (m_bColor != 0 && m_bColor != 1)
        ThrowValueError(Format("VideoFrame bad color = %d", m_bColor));
    ar >> m_nWidth;
    if (m_nWidth < -1)
        ThrowValueError(Format("VideoFrame bad width = %d", m_nWidth));
    ar >> m_nHeight;
    if (m_nHeight < -1)
        ThrowValueError(Format("VideoFrame bad height = %d", m_nHeight));
    ar >> m_nFormat;
    if (m_nFormat == FrameFormatYuv420 || m_nFormat == FrameFormatOtherColor) {
        if (m_bColor != 1)
            ThrowValueError(Format("VideoFrame bad format/color = %d/%d", m_nFormat, m_bColor));
    } else if (m_nFormat != FrameFormatYuv422OrGray && m_nFormat != FrameFormatCompressed) {
        ThrowValueError(Format("VideoFrame bad format = %d", m_nFormat));
    }

    int32_t size = 0;
    ar >> size;
    FreeData();
    m_cbData = 0;
    // A size beyond the stored bytes is damage, not a request for memory.
    if (static_cast<uint64_t>(static_cast<uint32_t>(size)) > ar.Remaining())
        ThrowValueError(Format("No data in socket read(%lu) expected(%lu)",
                               static_cast<unsigned long>(ar.Remaining()),
                               static_cast<unsigned long>(static_cast<uint32_t>(size))));
    const uint32_t wanted = static_cast<uint32_t>(size);
    if (wanted > 0 && !AllocData(wanted))
        ThrowValueError(Format("Out of memory. Can't allocate memory for VideoFrame size=%d", size));
    size_t done = 0;
    while (done < wanted) {
        const size_t piece = std::min<size_t>(kArchivePiece, wanted - done);
        const size_t n = ar.GetFile().Read(m_pData + done, piece);
        if (n == 0)
            break;
        done += n;
    }
    if (done < wanted) {
        FreeData();
        m_cbData = 0;
        ThrowValueError(Format("No data in socket read(%lu) expected(%lu)",
                               static_cast<unsigned long>(done), static_cast<unsigned long>(wanted)));
    }
    if (ar.GetObjectSchema() == kSchema)
        ar >> m_strSubtitles;
}

VideoFrameEx::~VideoFrameEx() { delete[] m_pBlock; }

void VideoFrameEx::Serialize(platform::Archive& ar)
{
    VideoFrame::Serialize(ar);
    if (ar.IsStoring()) {
        ar << m_strText1 << m_strText2 << static_cast<int32_t>(m_cbBlock);
        if (m_cbBlock != 0)
            ar.Write(m_pBlock, m_cbBlock);
        return;
    }
    ar >> m_strText1 >> m_strText2;
    int32_t length = 0;
    ar >> length;
    delete[] m_pBlock;
    m_pBlock = nullptr;
    m_cbBlock = 0;
    if (length == 0)
        return;
    const uint32_t wanted = static_cast<uint32_t>(length);
    if (wanted > ar.Remaining())
        ThrowValueError(Format("VideoFrameEx bad block length = %u", wanted));
    m_pBlock = new uint8_t[wanted];
    m_cbBlock = wanted;
    ar.Read(m_pBlock, wanted);
}

// --- archive frame record ----------------------------------------------------------

void VideoFrame::SerializeFile(platform::File& file, bool loading, bool readBody)
{
    if (!loading) {
        StoreFile(file);
        return;
    }

    uint8_t head[kRecordHeaderSize];
    const size_t got = ReadFully(file, head, sizeof head);
    // The fixed part is read in one go; each field is then taken in record
    // order, so a record cut inside a field fails at that field.
    auto need = [&](uint32_t end, const char* failure, bool warning) {
        if (got >= end)
            return;
        if (failure != nullptr) {
            if (warning)
                Log()->Warning("Throwing exception cause is: %s", failure);
            else
                QOR_LOG_ERROR(Log(), "Throwing exception cause is: %s", failure);
        }
        ThrowReadError(file);
    };

    need(OffTime, nullptr, false);
    const int32_t header = LoadI32(head + OffHeader);
    if (header != kHeaderWithTitles && header != kHeaderPlain) {
        const std::string text = Format("VideoFrame bad file header = 0x%0x", header);
        Log()->Warning("VideoFrame uncomplete serialization. Simply return from serialize cause is: %s",
                       text.c_str());
        ThrowValueError(text);
    }

    need(OffDelay, "can't read m_tssTime", true);
    m_tssTime = LoadTss(head + OffTime);
    if (!IsGoodTime(m_tssTime))
        ThrowRecordError("VideoFrame bad tss");

    need(OffFrameNumber, "can't read m_lDelay", false);
    m_lDelay = LoadI32(head + OffDelay);
    need(OffTotalFrames, "can't read m_nFrameNumber", true);
    m_nFrameNumber = LoadI32(head + OffFrameNumber);
    need(OffColor, "can't read m_nTotalFrames", false);
    m_nTotalFrames = LoadI32(head + OffTotalFrames);
    if (m_nTotalFrames < 0 || m_nTotalFrames > 100000)
        ThrowRecordError(Format("VideoFrame bad totalframes = %d. Should be in range (0, 100000)",
                                m_nTotalFrames));

    need(OffWidth, "can't read m_bColor", true);
    SplitColorWord(LoadI32(head + OffColor), m_bColor, m_nBias);
    if (m_bColor != 0 && m_bColor != 1)
        ThrowRecordError(Format("VideoFrame bad color = %d", m_bColor));

    need(OffHeight, "can't read m_nWidth", false);
    m_nWidth = LoadI32(head + OffWidth);
    if (m_nWidth < -1)
        ThrowRecordWarning(Format("VideoFrame bad width = %d", m_nWidth));
    need(OffFormat, "can't read m_nHeight", false);
    m_nHeight = LoadI32(head + OffHeight);
    if (m_nHeight < -1)
        ThrowRecordWarning(Format("VideoFrame bad height = %d. Should be in range (0,3000)", m_nHeight));
    need(OffSize, "can't read m_nFormat", false);
    m_nFormat = LoadI32(head + OffFormat);
    if (m_nFormat != FrameFormatYuv422OrGray && m_nFormat != FrameFormatCompressed &&
        m_nFormat != FrameFormatYuv420 && m_nFormat != FrameFormatOtherColor)
        ThrowRecordError(Format("VideoFrame bad format = %d", m_nFormat));
    need(kRecordHeaderSize, "can't read VideoFrame m_cbData", true);
    m_cbData = static_cast<uint32_t>(LoadI32(head + OffSize));

    LoadFileBody(file, readBody, header == kHeaderWithTitles);
}

void VideoFrame::LoadFileBody(platform::File& file, bool readBody, bool withSubtitles)
{
    const uint32_t size = m_cbData;
    // A size beyond the end of the file is damage: report it instead of
    // allocating it (or seeking past the end).
    const uint64_t left = BytesLeft(file);
    if (size > left)
        ThrowRecordError(Format("VideoFrame bad data size = %lu. Only %llu bytes left in the file",
                                static_cast<unsigned long>(size),
                                static_cast<unsigned long long>(left)));

    // The title length that follows the data is read together with it.
    uint8_t lengthBytes[4];
    bool haveLength = false;
    if (readBody) {
        FreeData();
        uint8_t* data = nullptr;
        const uint32_t extra = withSubtitles && uint64_t{size} + 4 <= left ? 4 : 0;
        if (size > 0) {
            data = static_cast<uint8_t*>(MFF::GetFrameAllocator()->Allocate(size + extra));
            if (data == nullptr)
                ThrowRecordError(Format("Out of memory. Process used %lu Mb. Can't allocate memory "
                                        "for VideoFrame size = %lu",
                                        ProcessMegabytes(), static_cast<unsigned long>(size)));
        }
        m_pData = data;
        m_bOwnData = 1;
        if (size > 0) {
            const size_t n = ReadFully(file, data, size_t{size} + extra);
            if (n < size) {
                // Never hand out a frame whose tail was not read.
                FreeData();
                if (n == 0) {
                    QOR_LOG_ERROR(Log(),
                                  "Throwing exception cause is: can't read VideoFrame m_pData. "
                                  "m_cbData = %lu",
                                  static_cast<unsigned long>(size));
                    ThrowReadError(file);
                }
                ThrowRecordError(Format("VideoFrame short data read = %lu. m_cbData = %lu",
                                        static_cast<unsigned long>(n),
                                        static_cast<unsigned long>(size)));
            }
            if (extra != 0 && n == size_t{size} + extra) {
                std::memcpy(lengthBytes, data + size, 4);
                haveLength = true;
            } else if (n > size) {
                // The file shrank while it was read: the position is no longer known.
                FreeData();
                ThrowRecordError(Format("VideoFrame short data read = %lu. m_cbData = %lu",
                                        static_cast<unsigned long>(n),
                                        static_cast<unsigned long>(size)));
            }
        }
    } else if (size > 0) {
        const uint64_t before = file.GetPosition();
        if (file.Seek(static_cast<int64_t>(size), platform::File::current) != before + size ||
            before + size == 0) {
            QOR_LOG_ERROR(Log(), "Throwing exception cause is: can't seek for skip VideoFrame body");
            ThrowReadError(file);
        }
    }

    if (!withSubtitles)
        return;
    if (!haveLength && ReadFully(file, lengthBytes, 4) != 4) {
        QOR_LOG_ERROR(Log(), "Throwing exception cause is: can't read sutitles length");
        ThrowReadError(file);
    }
    const int32_t length = LoadI32(lengthBytes);
    if (length > kMaxSubtitlesLength)
        ThrowRecordError(Format("VideoFrame bad subtitles len = %d", length));
    if (length <= 0)
        return;
    m_strSubtitles.resize(static_cast<size_t>(length));
    if (ReadFully(file, m_strSubtitles.data(), m_strSubtitles.size()) != m_strSubtitles.size()) {
        m_strSubtitles.clear();
        QOR_LOG_ERROR(Log(),
                      "Throwing exception cause is: can't read sutitles from archive. Subtitle "
                      "length=%d",
                      length);
        ThrowReadError(file);
    }
    if (const size_t zero = m_strSubtitles.find('\0'); zero != std::string::npos)
        m_strSubtitles.resize(zero);
}

void VideoFrame::StoreFile(platform::File& file)
{
    std::vector<uint8_t> packed;
    const uint8_t* data = ContiguousData(packed);
    const uint32_t n = data != nullptr ? m_cbData : 0;
    const uint32_t s = static_cast<uint32_t>(m_strSubtitles.size());
    const uint64_t recordLength = uint64_t{n} + s + 56;

    uint8_t head[kRecordHeaderSize];
    StoreI32(head + OffHeader, kHeaderWithTitles);
    StoreTss(head + OffTime, m_tssTime);
    StoreI32(head + OffDelay, m_lDelay);
    StoreI32(head + OffFrameNumber, m_nFrameNumber);
    StoreI32(head + OffTotalFrames, m_nTotalFrames);
    StoreI32(head + OffColor, ColorWord(m_bColor, m_nBias));
    StoreI32(head + OffWidth, m_nWidth);
    StoreI32(head + OffHeight, m_nHeight);
    StoreI32(head + OffFormat, m_nFormat);
    StoreU32(head + OffSize, n);
    uint8_t lengthBytes[4];
    StoreU32(lengthBytes, s);

    auto writeFields = [&] {
        file.Write(head, sizeof head);
        if (n > 0)
            file.Write(data, n);
        file.Write(lengthBytes, sizeof lengthBytes);
        if (s > 0)
            file.Write(m_strSubtitles.data(), s);
    };

    if (dynamic_cast<platform::MemFile*>(&file) != nullptr) {
        CalcTime timer("VideoFrame::Serialize", kCalcTimeThresholdMs,
                       SlowStoreMessage("[VIDEOFRAME][MEMFILE] FLUSHING video frame to disk takes "
                                        "too long. Camera id:",
                                        m_nChan, recordLength));
        writeFields();
        return;
    }

    CalcTime whole("VideoFrame::Serialize", kCalcTimeThresholdMs,
                   SlowStoreMessage("[VIDEOFRAME][CFILE] FLUSHING video frame to disk takes too "
                                    "long (serializing). Camera id:",
                                    m_nChan, recordLength));
    if (!BufferMode()) {
        CalcTime timer("VideoFrame::Serialize", kCalcTimeThresholdMs,
                       SlowStoreMessage("[VIDEOFRAME][CFILE][RAW] FLUSHING video frame to disk "
                                        "takes too long (save to file). Camera id:",
                                        m_nChan, recordLength));
        writeFields();
        return;
    }
    std::unique_ptr<uint8_t[]> record(recordLength <= SIZE_MAX
                                          ? new (std::nothrow) uint8_t[recordLength]
                                          : nullptr);
    if (record == nullptr) {
        const std::string text =
            Format("Out of memory. Can't allocate memory to save VideoFrame size = %d, m_nChan = "
                   "%d, m_nFrameNumber = %d, m_cbData = %d",
                   static_cast<int>(recordLength), m_nChan, m_nFrameNumber, static_cast<int>(n));
        QOR_LOG_ERROR(Log(), "[VIDEOFRAME] [Serialize] Throwing exception cause is: %s", text.c_str());
        ThrowValueError(text);
    }
    uint8_t* out = record.get();
    std::memcpy(out, head, sizeof head);
    out += sizeof head;
    if (n > 0)
        std::memcpy(out, data, n);
    out += n;
    std::memcpy(out, lengthBytes, sizeof lengthBytes);
    out += sizeof lengthBytes;
    if (s > 0)
        std::memcpy(out, m_strSubtitles.data(), s);

    CalcTime timer("VideoFrame::Serialize", kCalcTimeThresholdMs,
                   SlowStoreMessage("[VIDEOFRAME][CFILE] FLUSHING video frame to disk takes too "
                                    "long (save to file). Camera id:",
                                    m_nChan, recordLength));
    file.Write(record.get(), static_cast<size_t>(recordLength));
}
