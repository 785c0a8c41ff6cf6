#include "imaging/jpeg/Compressor.h"

#include <png.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "archive/files/FrameCodecs.h"
#include "base/Log.h"
#include "base/Registry.h"
#include "base/YuvDump.h"
#include "imaging/jpeg/JpegFrameCompressor.h"
#include "imaging/jpeg/WaveletEncoderFactory.h"
#include "platform/File.h"

namespace {

constexpr const char* kVideoKey = "SOFTWARE\\QOR\\Vindara\\Video";
constexpr const char* kDebugKey = "SOFTWARE\\QOR\\Vindara\\Debug";
constexpr const char* kMjpegKey = "SOFTWARE\\QOR\\Vindara\\Video\\MJPEG";
constexpr int kMjpeg = 55;
constexpr int kPng = 58;
constexpr int kDefaultVersion = 110;
constexpr int kMaxSide = 0x3000;
constexpr int kQualityLevels = 6;

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

// The compressor's error lines name the source the log readers know.
#define COMPRESSOR_ERROR(...) (ErrorSite{Log(), "src/Comp", __TIMESTAMP__, __LINE__}.Report(__VA_ARGS__))

int ReadNumber(const char* keyPath, const char* name, int def)
{
    RegistryKey key(keyPath, false, RegistryKey::kRead | RegistryKey::kWow64_32Key);
    const std::string text = key.ReadString(name, "");
    if (text.empty())
        return def;
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

std::atomic<std::int16_t> g_dumpYuv{0};

struct QualityTable {
    std::once_flag loaded;
    int quality[kQualityLevels] = {};
};

QualityTable g_qualityTable;

void LoadMjpegQualityTable(QualityTable& table)
{
    for (int i = 0; i < kQualityLevels; ++i) {
        const int def = (600 - 100 * i) / 5;
        RegistryKey key(kMjpegKey, true, RegistryKey::kAllAccess | RegistryKey::kWow64_32Key);
        const std::string name = "quality_" + std::to_string(i);
        const std::string text = key.ReadString(name, "");
        const int value = text.empty() ? def : static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
        if (value == def)
            key.WriteInt(name, def);
        table.quality[i] = value;
    }
}

// Where libpng's blocks go: the output buffer, less room for the tag.
struct PngSink {
    std::uint8_t* cursor;
    std::uint8_t* end;
};

void WritePngBlock(png_structp png, png_bytep data, png_size_t length)
{
    auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    if (length > static_cast<std::size_t>(sink->end - sink->cursor))
        png_error(png, "output buffer full");
    std::memcpy(sink->cursor, data, length);
    sink->cursor += length;
}

void FlushPng(png_structp) {}

// The JPEG quality of a quality index (clamped to 0..5). The table is filled
// once per process; every thread waits for the one fill.
int MjpegQuality(int qualityIndex)
{
    QualityTable& table = g_qualityTable;
    std::call_once(table.loaded, [&table] { LoadMjpegQualityTable(table); });
    if (qualityIndex < 0)
        qualityIndex = 0;
    if (qualityIndex > kQualityLevels - 1)
        qualityIndex = kQualityLevels - 1;
    return table.quality[qualityIndex];
}

}  // namespace

CCompressor::CCompressor(int version) { Init(0, version); }

CCompressor::~CCompressor()
{
    ReleaseCodec();
    delete m_jpeg;
    DeleteYuvDumper(&m_dumper);
}

void CCompressor::Init(int keyFlagMode, int version)
{
    delete m_jpeg;
    m_jpeg = nullptr;
    keyFrameNeeded = 1;
    m_keyFlagMode = keyFlagMode;
    if (version == 0)
        version = ReadNumber(kVideoKey, "CompressorVersion", kDefaultVersion);
    if (version == 122 || version == 124)
        version = kDefaultVersion;
    Log()->Trace("Creating compressor ver %d...", version);
    g_dumpYuv = static_cast<std::int16_t>(ReadNumber(kDebugKey, "DumpYUV", 0));
    codecEnabled = version >= 33 ? 1 : 0;
    m_version = version;
    ReleaseCodec();
    m_width = m_height = m_colour = m_qualityIndex = m_chromaMark = 0;
    DeleteYuvDumper(&m_dumper);
    m_dumper = new YuvDumper();
}

void CCompressor::ReleaseCodec()
{
    m_wavelet.reset();
    delete[] outputBuffer;
    outputBuffer = nullptr;
    m_outputSize = 0;
    delete[] m_rowBuffer;
    m_rowBuffer = nullptr;
}

int CCompressor::Compress(const std::uint8_t* frame, int qualityIndex, int width, int height, int colour,
                          int keyFrame, int chromaCode)
{
    try {
        return CompressFrame(frame, qualityIndex, width, height, colour, keyFrame, chromaCode);
    } catch (const platform::Exception&) {
        return 0;
    } catch (const std::bad_alloc&) {
        return 0;
    } catch (...) {
        COMPRESSOR_ERROR("[COMPRESS] Failed to compress image.");
        return 0;
    }
}

int CCompressor::CompressFrame(const std::uint8_t* frame, int qualityIndex, int width, int height, int colour,
                               int keyFrame, int chromaCode)
{
    if (width <= 0 || width > kMaxSide || height <= 0 || height > kMaxSide || frame == nullptr)
        return 0;
    if (g_dumpYuv != 0 && m_dumper)
        DumpFrame(frame, width, height, colour, chromaCode);

    const int chromaMark = chromaCode == 1 ? -3 : 0;
    int key = keyFrame;
    if (width != m_width || height != m_height || colour != m_colour || qualityIndex != m_qualityIndex ||
        chromaMark != m_chromaMark || outputBuffer == nullptr) {
        m_qualityIndex = qualityIndex;
        ReleaseCodec();
        m_width = width;
        m_height = height;
        m_colour = colour;
        m_chromaMark = chromaMark;
        if (!CreateCodec())
            return 0;
        keyFrameNeeded = 1;
        key = 1;
    }

    if (m_version == kMjpeg) {
        const int quality = MjpegQuality(qualityIndex);
        if (!m_jpeg)
            m_jpeg = new JpegCompressorFacade();
        const int mode = colour == 0 ? 0 : (chromaCode == 1 ? 1 : 2);
        // The whole output buffer but the tag: (colour + 1) x width x height x 2
        // alone leaves no room for the headers of a small frame.
        const std::int64_t capacity = m_outputSize - 4;
        const int n = m_jpeg->Compress(mode, frame, outputBuffer, static_cast<int>(capacity), width, height, quality);
        if (n == 0)
            return 0;
        std::memcpy(outputBuffer + n, "JPEG", 4);
        return n + 4;
    }
    if (m_version == kPng)
        return CompressPng(frame);
    if (codecEnabled == 0 || !m_wavelet)
        return 0;
    m_waveletInput.assign(frame, frame + PictureBytes(width, height, colour, chromaCode));
    return m_wavelet->Encode(m_waveletInput.data(), outputBuffer, qualityIndex, colour,
                             m_keyFlagMode != 0 ? key : 1, 5);
}

std::size_t CCompressor::PictureBytes(int width, int height, int colour, int chromaCode)
{
    const std::size_t luma = std::size_t(width) * std::size_t(height);
    if (colour == 0)
        return luma;
    return luma + 2 * std::size_t(width / 2) * std::size_t(chromaCode == 1 ? height / 2 : height);
}

void CCompressor::DumpFrame(const std::uint8_t* frame, int width, int height, int colour, int chromaCode)
{
    const int a = colour ? 2 : 0;
    const int b = colour ? (chromaCode == 1 ? 2 : 1) : 0;
    // The dump writer takes width x height x 2 / (a x b) chroma bytes, more
    // than an odd-sized frame holds: such a frame is dumped zero-padded.
    std::size_t dumped = std::size_t(width) * std::size_t(height);
    if (a > 0 && b > 0)
        dumped += std::size_t(width) * std::size_t(height) * 2 / std::size_t(a * b);
    const std::size_t held = PictureBytes(width, height, colour, chromaCode);
    if (dumped <= held) {
        m_dumper->DumpYuvFrame(frame, width, height, a, b);
        return;
    }
    std::vector<std::uint8_t> padded(dumped, 0);
    std::memcpy(padded.data(), frame, held);
    m_dumper->DumpYuvFrame(padded.data(), width, height, a, b);
}

bool CCompressor::CreateCodec()
{
    if (m_version == kMjpeg || m_version == kPng) {
        const std::int64_t rowBytes = std::int64_t(m_width) * m_height * 3 + 4096;
        m_rowBuffer = new (std::nothrow) std::uint8_t[static_cast<std::size_t>(rowBytes)];
        if (!m_rowBuffer)
            COMPRESSOR_ERROR("[COMPRESS] Failed to allocate the row buffer of %dx%d frames.", m_width, m_height);
    } else if (codecEnabled) {
        m_wavelet = wavelet::CreateWaveletEncoder(m_version, m_width, m_height, m_chromaMark, m_version == 124 ? 1 : 0);
    }
    // Any non-zero colour flag means three planes.
    m_outputSize = std::int64_t(m_colour != 0 ? 2 : 1) * m_width * m_height * 2 + 4096;
    outputBuffer = new std::uint8_t[static_cast<std::size_t>(m_outputSize)];
    Log()->Trace("Created compressor ver(%d)", m_version);
    return true;
}

int CCompressor::CompressPng(const std::uint8_t* frame)
{
    if (!m_rowBuffer)
        return 0;
    const std::size_t stride = static_cast<std::size_t>(m_width);
    std::memcpy(m_rowBuffer, frame, stride * static_cast<std::size_t>(m_height));
    std::vector<png_bytep> rows(static_cast<std::size_t>(m_height));
    for (int y = 0; y < m_height; ++y)
        rows[static_cast<std::size_t>(y)] = m_rowBuffer + stride * static_cast<std::size_t>(y);

    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return 0;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return 0;
    }
    // Only read after a normal return from libpng.
    PngSink sink{outputBuffer, outputBuffer + m_outputSize - 3};
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return 0;
    }
    png_set_write_fn(png, &sink, &WritePngBlock, &FlushPng);
    png_set_IHDR(png, info, static_cast<png_uint_32>(m_width), static_cast<png_uint_32>(m_height), 8,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    const std::int64_t n = sink.cursor - outputBuffer;
    std::memcpy(outputBuffer + n, "PNG", 3);
    return static_cast<int>(n + 3);
}

int CodecVersionFromName(const char* name) { return name ? FrameCodecs::CodecVersionFromName(name) : 0; }

void DeleteYuvDumper(YuvDumper** dumper)
{
    if (!dumper)
        return;
    delete *dumper;
    *dumper = nullptr;
}
