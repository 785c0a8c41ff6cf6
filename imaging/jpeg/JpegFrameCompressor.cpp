#include "imaging/jpeg/JpegFrameCompressor.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "imaging/jpeg/JpegEncoder.h"
#include "imaging/jpeg/JpegStreams.h"
#include "imaging/primitives/AlignedMemory.h"
#include "imaging/primitives/resize/Resize.h"

namespace {

constexpr int kModeGrey = 0;
constexpr int kMode420 = 1;
constexpr int kMode422 = 2;

bool Aligned16(const void* p) { return (reinterpret_cast<std::uintptr_t>(p) & 15) == 0; }

}  // namespace

JpegFrameCompressor::~JpegFrameCompressor()
{
    ReleaseFrameBuffers();
    AlignedFree(m_output);
}

bool JpegFrameCompressor::PrepareFrameBuffers(int width, int height, int mode)
{
    if (m_encoder && mode == m_mode && width == m_width && height == m_height)
        return true;
    ReleaseFrameBuffers();
    const std::int64_t lumaBytes = std::int64_t(width) * height;
    const std::int64_t chromaBytes = std::int64_t(height) * ((width + 3) / 4);
    if (lumaBytes > INT32_MAX)
        return false;
    m_luma = static_cast<std::uint8_t*>(AlignedMalloc(static_cast<std::int32_t>(lumaBytes)));
    if (!m_luma)
        return false;
    if (mode != kModeGrey) {
        m_cb = static_cast<std::uint8_t*>(AlignedMalloc(static_cast<std::int32_t>(chromaBytes)));
        m_cr = static_cast<std::uint8_t*>(AlignedMalloc(static_cast<std::int32_t>(chromaBytes)));
        if (!m_cb || !m_cr) {
            ReleaseFrameBuffers();
            return false;
        }
    }
    m_encoder = new (std::nothrow) CJPEGEncoder();
    if (!m_encoder) {
        ReleaseFrameBuffers();
        return false;
    }
    m_mode = mode;
    m_width = width;
    m_height = height;
    return true;
}

void JpegFrameCompressor::ReleaseFrameBuffers()
{
    AlignedFree(m_luma);
    AlignedFree(m_cb);
    AlignedFree(m_cr);
    m_luma = m_cb = m_cr = nullptr;
    delete m_encoder;
    m_encoder = nullptr;
    m_mode = m_width = m_height = 0;
}

std::uint8_t* JpegFrameCompressor::GetOutputBuffer(std::int32_t size)
{
    if (m_output && m_outputCapacity >= size)
        return m_output;
    AlignedFree(m_output);
    m_output = static_cast<std::uint8_t*>(AlignedMalloc(size));
    m_outputCapacity = m_output ? size : 0;
    return m_output;
}

std::int32_t JpegFrameCompressor::Encode(const std::uint8_t* luma, const std::uint8_t* cb, const std::uint8_t* cr,
                                         int channels, std::int32_t outputSize, int quality)
{
    std::uint8_t* output = GetOutputBuffer(outputSize);
    if (!output)
        return JpegStatusCode::NoMemory;
    const ImageSize size{m_width, m_height};
    JpegStatus status;
    JpegColor colour;
    JpegSampling sampling;
    if (channels == 1) {
        colour = JpegColorGrey;
        sampling = JpegSampling444;
        status = m_encoder->SetSource(luma, m_width, size, 1, colour, sampling, 8);
    } else {
        colour = JpegColorYCbCr;
        sampling = JpegSampling420;
        const std::uint8_t* planes[4] = {luma, cb, cr, nullptr};
        const std::int32_t steps[4] = {m_width, m_width / 2, m_width / 2, 0};
        status = m_encoder->SetSourcePlanar(planes, steps, size, 3, colour, sampling, 8);
    }
    if (status != 0)
        return status;
    CMemBuffOutput stream;
    status = stream.AttachBuffer(output, outputSize);
    if (status == 0)
        status = m_encoder->SetDestination(&stream);
    if (status == 0)
        status = m_encoder->SetParams(JpegModeBaseline, colour, sampling, 0, 0, quality);
    if (status == 0)
        status = m_encoder->WriteHeader();
    if (status == 0)
        status = m_encoder->WriteData();
    const std::int32_t total = m_encoder->Writer().Total();
    // The encoder keeps a pointer to the stream, which ends here.
    m_encoder->SetDestination(nullptr);
    return status != 0 ? status : total;
}

int JpegFrameCompressor::Compress(int mode, const std::uint8_t* frame, std::uint8_t* destination, int capacity,
                                  int width, int height, int quality)
{
    if (!frame || !destination || capacity <= 0)
        return 0;
    // Only the three layouts exist; another mode would encode chroma buffers
    // that nothing filled.
    if (mode != kModeGrey && mode != kMode420 && mode != kMode422)
        return 0;
    if (width <= 0 || height <= 0 || !PrepareFrameBuffers(width, height, mode))
        return 0;

    const std::int32_t lumaBytes = width * height;
    const std::uint8_t* luma = frame;
    if (!Aligned16(frame)) {
        std::memcpy(m_luma, frame, static_cast<std::size_t>(lumaBytes));
        luma = m_luma;
    }

    const std::uint8_t* cb = m_cb;
    const std::uint8_t* cr = m_cr;
    if (mode != kModeGrey) {
        const int cw = width / 2;
        const int ch = height / 2;
        const int sourceHeight = mode == kMode420 ? height / 2 : height;
        const std::uint8_t* u = frame + lumaBytes;
        const std::uint8_t* v = u + std::int64_t(cw) * sourceHeight;
        if (mode == kMode420) {
            // The nearest-neighbour resampling at factors 1.0 would copy the
            // planes unchanged; the encoder reads them in place instead.
            if (cw <= 0 || ch <= 0)
                return 0;
            cb = u;
            cr = v;
        } else {
            const ImageRect roi{0, 0, cw, sourceHeight};
            const double xFactor = double(cw) / double(cw);
            const double yFactor = double(ch) / double(sourceHeight);
            ResizePlane_8u_C1R(u, {cw, sourceHeight}, cw, roi, m_cb, cw, {cw, ch}, xFactor, yFactor, 1);
            if (ResizePlane_8u_C1R(v, {cw, sourceHeight}, cw, roi, m_cr, cw, {cw, ch}, xFactor, yFactor, 1) != 0)
                return 0;
        }
    }

    const int channels = mode != kModeGrey ? 3 : 1;
    std::int64_t outputSize = std::int64_t(channels) * width * height;
    if (outputSize < 1024)
        outputSize = 4096;
    std::int32_t n = Encode(luma, cb, cr, channels, static_cast<std::int32_t>(outputSize), quality);
    // A noisy frame at a high quality can code to more than channels x width
    // x height bytes: grow the block once to just past the caller's capacity
    // (a larger image could not be handed back anyway) and encode again.
    if ((n == JpegStatusCode::BufferExhausted || n == JpegStatusCode::ShortWrite) && outputSize <= capacity)
        n = Encode(luma, cb, cr, channels, capacity + 1, quality);
    if (n <= 0 || n > capacity)
        return 0;
    std::memcpy(destination, m_output, static_cast<std::size_t>(n));
    return n;
}

JpegCompressorFacade::JpegCompressorFacade() : m_compressor(new JpegFrameCompressor()) {}

JpegCompressorFacade::~JpegCompressorFacade() { delete m_compressor; }

int JpegCompressorFacade::Compress(int mode, const std::uint8_t* frame, std::uint8_t* destination, int capacity,
                                   int width, int height, int quality)
{
    return m_compressor->Compress(mode, frame, destination, capacity, width, height, quality);
}
