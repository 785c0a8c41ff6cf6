#include "media/Decoder.h"

#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <boost/format.hpp>

#include "base/Log.h"
#include "base/frames/FormatTags.h"
#include "imaging/primitives/ImageCopy.h"
#include "imaging/primitives/Yuv420ToRgb.h"
#include "media/Decompressor.h"
#include "render/IMediaSample.h"
#include "render/PixelCopies.h"
#include "media/FFmpegPicture.h"
#include "media/VideoSourceInterfaces.h"

namespace filters {

namespace {

// Decompressors by decoder; shared by every decoding thread.
struct DecoderRegistry {
    std::recursive_mutex lock;
    std::map<const Decoder*, std::shared_ptr<CDecompressor>> map;
};

DecoderRegistry& Registry()
{
    static DecoderRegistry registry;
    return registry;
}

CDecompressor* GetDecompressor(const Decoder* decoder)
{
    DecoderRegistry& registry = Registry();
    std::lock_guard<std::recursive_mutex> guard(registry.lock);
    auto& entry = registry.map[decoder];
    if (!entry)
        entry = std::make_shared<CDecompressor>();
    // A new stream follows: forget the codec state (Reset also sets the last
    // frame number to -1).
    entry->Reset();
    return entry.get();
}

// A picture being written into a sample: its buffer, committed only once the
// whole picture is in it (a conversion that throws commits nothing).
class SampleBuffer {
public:
    SampleBuffer(render::IMediaSample& sample, int32_t w, int32_t h, int32_t& pitch, bool planar)
        : m_sample(sample)
    {
        int bytesPerLine = 0;
        m_data = sample.GetBuffer(QSize(w, h), bytesPerLine, planar);
        pitch = bytesPerLine;
    }
    uint8_t* Data() const { return m_data; }
    void Commit() { m_sample.Commit(); }

private:
    render::IMediaSample& m_sample;
    uint8_t* m_data = nullptr;
};

// Studio-range BT.601 unless the stream says full range or BT.709.
platform::YuvMatrix MatrixOf(const AVFrame& picture)
{
    const auto format = static_cast<AVPixelFormat>(picture.format);
    if (picture.color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P)
        return platform::YuvMatrix::Bt601Full;
    if (picture.colorspace == AVCOL_SPC_BT709)
        return platform::YuvMatrix::Bt709Video;
    return platform::YuvMatrix::Bt601Video;
}

int32_t Reduction(bool planar, int32_t w, TargetSize size)
{
    if (planar && size.width > 0 && size.height > 0 && w / size.width > 1)
        return w / size.width;
    return 1;
}

int32_t Reduced(int32_t value, int32_t reduction)
{
    return static_cast<int32_t>(std::floor(static_cast<double>(value) / reduction + 0.5));
}

}  // namespace

Decoder::Decoder() = default;

Decoder::~Decoder()
{
    if (m_decompressor != nullptr) {
        DecoderRegistry& registry = Registry();
        std::lock_guard<std::recursive_mutex> guard(registry.lock);
        // The last entry stays until the application's exit clears it.
        if (registry.map.size() > 1)
            registry.map.erase(this);
    }
}

void Decoder::ClearDecompressors()
{
    DecoderRegistry& registry = Registry();
    std::lock_guard<std::recursive_mutex> guard(registry.lock);
    registry.map.clear();
}

size_t Decoder::DecompressorCount()
{
    DecoderRegistry& registry = Registry();
    std::lock_guard<std::recursive_mutex> guard(registry.lock);
    return registry.map.size();
}

VideoFramePtr Decoder::Decompress(VideoFrame* frame)
{
    if (frame == nullptr)
        return {};
    if (frame->m_nFormat == FrameFormatCompressed) {
        if (m_decompressor == nullptr)
            m_decompressor = GetDecompressor(this);
        return m_decompressor->Decompress(frame, 0);
    }
    return VideoFramePtr(frame);
}

VideoFramePtr Decoder::Drain()
{
    return m_decompressor ? m_decompressor->Drain(0) : VideoFramePtr();
}

VideoFramePtr Decoder::Decode(VideoFrame* frame, render::IMediaSample* target, bool halveHeight,
                              TargetSize targetSize)
{
    VideoFramePtr out = Decompress(frame);
    if (frame != nullptr)
        Present(out, *frame, target, halveHeight, targetSize);
    else
        getDefaultDebugInstance()->Message("NULL frame from decompressor!");
    return out;
}

void Decoder::Present(const VideoFramePtr& out, const VideoFrame& frame, render::IMediaSample* target,
                      bool halveHeight, TargetSize targetSize)
{
    if (!out || out->m_pData == nullptr || target == nullptr) {
        getDefaultDebugInstance()->Message("NULL frame from decompressor!");
        return;
    }
    const int64_t time = FrameTimeMs(frame);
    if ((out->m_nFormat == FrameFormatYuv420 || out->m_nFormat == FrameFormatYuv422OrGray) && out->m_bColor != 0) {
        intrusive_ptr_add_ref(out.get());
        if (target->AcceptFrame(out.get())) {
            target->SetTime(time);
            return;
        }
    }
    const int factor = halveHeight && out->m_nWidth > 640 && out->m_nWidth < 2 * out->m_nHeight ? 2 : 1;
    if (out->m_nFormat == FrameFormatFFmpegPicture) {
        const auto* holder = reinterpret_cast<const FFmpegPictureHolder*>(out->m_pData);
        if (holder->ready && holder->picture != nullptr)
            ConvertPicture(*holder->picture, *target, factor, targetSize);
    } else {
        ConvertFrame(*out, *target, factor, targetSize);
    }
    target->SetTime(time);
}

void Decoder::ConvertFrame(const VideoFrame& out, render::IMediaSample& target, int factor, TargetSize targetSize)
{
    const int32_t w = out.m_nWidth;
    const int32_t fullHeight = out.m_nHeight;
    const int32_t h = fullHeight / factor;
    if (w <= 0 || h <= 0)
        return;
    // The planes lie packed in the frame's data (4:2:0, or 4:2:2 and grey for
    // format 0), or are the decoder's own, each with its pitch.
    PicturePlanes picture;
    if (!out.GetPicturePlanes(picture)) {
        getDefaultDebugInstance()->Warning("Decoded frame %dx%d holds %u bytes, too few for its planes", w,
                                           fullHeight, out.m_cbData);
        return;
    }
    const uint8_t* planes[3] = {picture.data[0], nullptr, nullptr};
    int32_t steps[3] = {picture.pitch[0] * factor, 0, 0};
    if (picture.count == 3) {
        // The second chroma plane (V) goes first: the order the colour
        // conversion and the YV12 layout take. 4:2:2 has a chroma row per
        // luma row: every second one is taken.
        const int32_t every = out.m_nFormat == FrameFormatYuv422OrGray ? 2 : 1;
        planes[1] = picture.data[2];
        planes[2] = picture.data[1];
        steps[1] = picture.pitch[2] * factor * every;
        steps[2] = picture.pitch[1] * factor * every;
    }
    target.SetYuvMatrix(platform::YuvMatrix::Bt601Video);
    ConvertPlanes(planes, steps, w, h, target.SupportsPlanar(), target, targetSize);
}

void Decoder::ConvertPlanes(const uint8_t* planes[3], int32_t steps[3], int32_t w, int32_t h, bool planar,
                            render::IMediaSample& target, TargetSize targetSize)
{
    const int32_t reduction = Reduction(planar, w, targetSize);
    const int32_t lockedW = Reduced(w, reduction);
    const int32_t lockedH = Reduced(h, reduction);
    int32_t pitch = 0;
    SampleBuffer buffer(target, lockedW, lockedH, pitch, planar);
    if (buffer.Data() == nullptr)
        return;
    if (planar) {
        render::PlaneSet set;
        for (int k = 0; k < 3; ++k) {
            set.planes[k] = planes[k];
            set.pitches[k] = steps[k];
        }
        render::CopyImagePlanes(set, QSize(w, h), buffer.Data(), pitch, lockedH, QSize(lockedW, lockedH));
        buffer.Commit();
        return;
    }
    if (planes[1] == nullptr || planes[2] == nullptr) {
        EnsureCacheBuffer(static_cast<size_t>(w) * h / 4);
        planes[1] = planes[2] = m_cacheBuffer.data();
        steps[1] = steps[2] = w / 2;
    }
    // The planes come in the order of the renderer's planar pictures (Y, V,
    // U); the conversion takes Y, U, V and writes the sample's byte order.
    const uint8_t* yuv[3] = {planes[0], planes[2], planes[1]};
    const int32_t yuvSteps[3] = {steps[0], steps[2], steps[1]};
    const PrimitiveStatus status = ConvertYuv420ToBgrx8uP3C4(yuv, yuvSteps, buffer.Data(), pitch, ImageSize{w, h});
    // OddSize is a warning: the even part was converted.
    if (status < 0)
        throw std::runtime_error("Error converting YUV to RGB");
    buffer.Commit();
}

void Decoder::ConvertPicture(const AVFrame& picture, render::IMediaSample& target, int factor,
                             TargetSize targetSize)
{
    const int32_t w = picture.width;
    const int32_t h = picture.height / factor;
    if (w <= 0 || h <= 0 || picture.data[0] == nullptr)
        return;
    const auto format = static_cast<AVPixelFormat>(picture.format);
    switch (format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_GRAY8:
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P: {
        const int c = format == AV_PIX_FMT_YUV422P || format == AV_PIX_FMT_YUVJ422P ? 2 : 1;
        const uint8_t* planes[3] = {picture.data[0], picture.data[2], picture.data[1]};
        int32_t steps[3] = {picture.linesize[0] * factor, picture.linesize[2] * factor * c,
                            picture.linesize[1] * factor * c};
        if (format == AV_PIX_FMT_GRAY8 || planes[1] == nullptr || planes[2] == nullptr)
            planes[1] = planes[2] = nullptr;
        target.SetYuvMatrix(MatrixOf(picture));
        ConvertPlanes(planes, steps, w, h, target.SupportsPlanar(), target, targetSize);
        return;
    }
    default:
        break;
    }

    int32_t pitch = 0;
    SampleBuffer buffer(target, w, h, pitch, false);
    uint8_t* dst = buffer.Data();
    if (dst == nullptr)
        return;
    const int32_t srcStep = picture.linesize[0] * factor;
    switch (format) {
    case AV_PIX_FMT_BGR24:
        // Already in the sample's byte order.
        if (CopyImage8uC3AC4(picture.data[0], srcStep, dst, pitch, ImageSize{w, h}) < 0)
            throw std::runtime_error("Error converting BGR24 to RGB32");
        break;
    case AV_PIX_FMT_RGB24: {
        // Red and blue change places; the fourth byte is left as it is.
        static constexpr int32_t kOrder[4] = {2, 1, 0, 4};
        if (SwapChannels8uC3C4(picture.data[0], srcStep, dst, pitch, ImageSize{w, h}, kOrder, 0) < 0)
            throw std::runtime_error("Error converting RGB24 to RGB32");
        break;
    }
    case AV_PIX_FMT_RGB555LE:
        for (int32_t y = 0; y < h; ++y) {
            const auto* src = reinterpret_cast<const uint8_t*>(picture.data[0] + static_cast<ptrdiff_t>(y) * srcStep);
            auto* row = reinterpret_cast<uint32_t*>(dst + static_cast<ptrdiff_t>(y) * pitch);
            for (int32_t x = 0; x < w; ++x) {
                const uint32_t p = static_cast<uint32_t>(src[2 * x]) | (static_cast<uint32_t>(src[2 * x + 1]) << 8);
                row[x] = ((p & 0x7C00u) << 9) | ((p & 0x3E0u) << 6) | ((p & 0x1Fu) << 3);
            }
        }
        break;
    case AV_PIX_FMT_GBRP: {
        const uint8_t* planes[3] = {picture.data[0], picture.data[2], picture.data[1]};
        ConvertGbrpToRgb32(planes, srcStep, w, h, dst, pitch);
        break;
    }
    default:
        // Nothing is drawn for other formats.
        return;
    }
    buffer.Commit();
}

void Decoder::ConvertGbrpToRgb32(const uint8_t* const planes[3], int32_t step, int32_t w, int32_t h, uint8_t* dst,
                                 int32_t pitch)
{
    EnsureCacheBuffer(static_cast<size_t>(w) * h * 3);
    if (CopyImage8uP3C3(planes, step, m_cacheBuffer.data(), w * 3, ImageSize{w, h}) < 0)
        throw std::runtime_error("Error convert from planar to channels format");
    // Planes were passed G, R, B: destination B, G, R, 0.
    static constexpr int32_t kOrder[4] = {2, 0, 1, 3};
    if (SwapChannels8uC3C4(m_cacheBuffer.data(), w * 3, dst, pitch, ImageSize{w, h}, kOrder, 0) < 0)
        throw std::runtime_error("Error swap channels for RGB32");
}

void Decoder::EnsureCacheBuffer(size_t size)
{
    if (size == 0)
        throw std::invalid_argument((boost::format("Error create cache buffer. Invalid size = %1%") % size).str());
    if (m_cacheBuffer.size() < size)
        m_cacheBuffer.assign(size, 0x80);
}

std::string GetVideoFrameCodecName(const VideoFrame* frame)
{
    if (frame == nullptr)
        return {};
    const char* name = GetVideoFormatName(GetVideoFrameFormat(frame));
    return name != nullptr ? name : std::string();
}

}  // namespace filters
