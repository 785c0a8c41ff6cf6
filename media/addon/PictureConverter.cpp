#include "media/addon/PictureConverter.h"

#include <cstdint>
#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "media/addon/AddonLog.h"

namespace harnway {

namespace {

constexpr size_t kMaxPending = 16;

struct FormatDecoder {
    const char* format;
    AVCodecID id;
};

// Input names as the program's format tags call them.
constexpr FormatDecoder kDecoders[] = {
    {"MJPEG", AV_CODEC_ID_MJPEG},      {"MPEG4", AV_CODEC_ID_MPEG4},
    {"XVID", AV_CODEC_ID_MPEG4},       {"JP2K", AV_CODEC_ID_JPEG2000},
    {"MxPEG", AV_CODEC_ID_MXPEG},      {"H263", AV_CODEC_ID_H263},
    {"H264", AV_CODEC_ID_H264},        {"H265", AV_CODEC_ID_HEVC},
    {"MPEG2", AV_CODEC_ID_MPEG2VIDEO},
};

std::string ErrorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// Copies `rows` rows of `bytes` bytes from a strided plane into a packed one.
void CopyPlane(uint8_t* target, const uint8_t* source, int sourceStride, int bytes, int rows)
{
    if (sourceStride == bytes) {
        std::memcpy(target, source, size_t(bytes) * size_t(rows));
        return;
    }
    for (int y = 0; y < rows; ++y)
        std::memcpy(target + size_t(y) * size_t(bytes), source + ptrdiff_t(y) * sourceStride,
                    size_t(bytes));
}

// A decoded picture handed out by reference: the decoder's own planes, kept
// alive by the picture's references to them until the host destroys it.
class PictureByReference final : public MFF::IPlanarBuffer
{
public:
    // `frame` is taken over; `sizes` are the bytes readable from each plane's
    // start.
    PictureByReference(AVFrame* frame, const char* format, uint64_t timestamp, int planes,
                       const uint32_t (&sizes)[3])
        : m_frame(frame), m_format(format), m_timestamp(timestamp), m_planes(planes)
    {
        for (int k = 0; k < 3; ++k)
            m_sizes[k] = k < planes ? sizes[k] : 0;
    }

    void* QueryContract(const char* name) override
    {
        for (const char* contract : {"IPINT2::IContract", "QOR8::IContract",
                                     "MFF::IMultimediaBuffer", "MFF::IPlanarBuffer"})
            if (name && std::strcmp(name, contract) == 0)
                return static_cast<MFF::IPlanarBuffer*>(this);
        return nullptr;
    }
    uint64_t GetTimestamp() override { return m_timestamp; }
    const char* GetFormat() override { return m_format; }
    int32_t GetType() override { return MFF::BufferPlanar; }
    void Destroy() override { delete this; }
    uint8_t* GetPlane0() override { return Plane(0); }
    uint8_t* GetPlane1() override { return Plane(1); }
    uint8_t* GetPlane2() override { return Plane(2); }
    uint32_t GetPlaneSize0() override { return m_sizes[0]; }
    uint32_t GetPlaneSize1() override { return m_sizes[1]; }
    uint32_t GetPlaneSize2() override { return m_sizes[2]; }
    int32_t GetPlaneValue0() override { return Pitch(0); }
    int32_t GetPlaneValue1() override { return Pitch(1); }
    int32_t GetPlaneValue2() override { return Pitch(2); }
    int32_t GetWidth() override { return m_frame->width; }
    int32_t GetHeight() override { return m_frame->height; }

private:
    ~PictureByReference() { av_frame_free(&m_frame); }
    uint8_t* Plane(int k) const { return k < m_planes ? m_frame->data[k] : nullptr; }
    int32_t Pitch(int k) const { return k < m_planes ? m_frame->linesize[k] : 0; }

    AVFrame* m_frame;
    const char* m_format;
    uint64_t m_timestamp;
    int m_planes;
    uint32_t m_sizes[3];
};

// Bytes readable from `plane` to the end of the frame's buffer that holds it;
// 0 when no buffer of the frame holds it.
uint32_t ReadableFrom(const AVFrame* frame, const uint8_t* plane)
{
    for (const AVBufferRef* buffer : frame->buf) {
        if (!buffer || !plane || plane < buffer->data || plane >= buffer->data + buffer->size)
            continue;
        const size_t left = size_t(buffer->data + buffer->size - plane);
        return left > UINT32_MAX ? UINT32_MAX : uint32_t(left);
    }
    return 0;
}

} // namespace

int DecoderIdForFormat(const char* format)
{
    if (!format)
        return AV_CODEC_ID_NONE;
    for (const FormatDecoder& d : kDecoders)
        if (std::strcmp(d.format, format) == 0)
            return d.id;
    return AV_CODEC_ID_NONE;
}

PictureConverter::PictureConverter(MFF::IMultimediaFrameFactory* factory)
    : m_factory(factory),
      m_byReference(factory && factory->QueryContract(MFF::kPitchedPlanesContract) != nullptr)
{
}

PictureConverter::~PictureConverter()
{
    Close();
    av_packet_free(&m_packet);
    av_buffer_unref(&m_packetBuffer);
}

void PictureConverter::Release()
{
    delete this;
}

bool PictureConverter::IsSupported(MFF::ICompressedBuffer* input, int32_t)
{
    return input && DecoderIdForFormat(input->GetFormat()) != AV_CODEC_ID_NONE;
}

bool PictureConverter::Open(const char* format)
{
    Close();
    m_format = format;
    m_unsupported = true;
    const auto id = AVCodecID(DecoderIdForFormat(format));
    const AVCodec* codec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    if (!codec) {
        Log(QOR8::LogError, "[HARNWAY] No decoder for format \"%s\"", format);
        return false;
    }
    m_context = avcodec_alloc_context3(codec);
    if (!m_context)
        return false;
    // One thread: every compressed frame must come out as its picture at once,
    // and frame threading would hold pictures back.
    m_context->thread_count = 1;
    const int error = avcodec_open2(m_context, codec, nullptr);
    if (error < 0) {
        Log(QOR8::LogError, "[HARNWAY] Cannot open decoder %s: %s", codec->name,
            ErrorText(error).c_str());
        avcodec_free_context(&m_context);
        return false;
    }
    if (!m_packet)
        m_packet = av_packet_alloc();
    if (!m_packet) {
        avcodec_free_context(&m_context);
        return false;
    }
    m_unsupported = false;
    Log(QOR8::LogMessage, "[HARNWAY] Decoding %s through %s", format, codec->name);
    return true;
}

void PictureConverter::Close()
{
    for (AVFrame* frame : m_pending)
        av_frame_free(&frame);
    m_pending.clear();
    avcodec_free_context(&m_context);
    sws_freeContext(m_scaler);
    m_scaler = nullptr;
}

void PictureConverter::Reset()
{
    for (AVFrame* frame : m_pending)
        av_frame_free(&frame);
    m_pending.clear();
    if (m_context)
        avcodec_flush_buffers(m_context);
}

bool PictureConverter::DrainDecoder()
{
    for (;;) {
        AVFrame* frame = av_frame_alloc();
        if (!frame)
            return false;
        const int error = avcodec_receive_frame(m_context, frame);
        if (error < 0) {
            av_frame_free(&frame);
            return error == AVERROR(EAGAIN) || error == AVERROR_EOF;
        }
        m_pending.push_back(frame);
        // One picture leaves per frame that comes in; a stream that makes more
        // (a broken one) must not pile them up.
        while (m_pending.size() > kMaxPending) {
            av_frame_free(&m_pending.front());
            m_pending.pop_front();
        }
    }
}

bool PictureConverter::SendPacket(const uint8_t* data, uint32_t size, uint64_t timestamp, bool key)
{
    // libavcodec reads a little past the end of a packet: decode from a
    // padded copy, never from the frame's own bytes. The copy is a counted
    // buffer the decoder can keep without copying it again; it is reused
    // when the decoder has let go of it.
    const size_t needed = size_t(size) + AV_INPUT_BUFFER_PADDING_SIZE;
    if (!m_packetBuffer || size_t(m_packetBuffer->size) < needed ||
        !av_buffer_is_writable(m_packetBuffer)) {
        av_buffer_unref(&m_packetBuffer);
        m_packetBuffer = av_buffer_alloc(needed + needed / 4);
        if (!m_packetBuffer)
            return false;
    }
    std::memcpy(m_packetBuffer->data, data, size);
    std::memset(m_packetBuffer->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    av_packet_unref(m_packet);
    m_packet->buf = av_buffer_ref(m_packetBuffer);
    if (!m_packet->buf)
        return false;
    m_packet->data = m_packetBuffer->data;
    m_packet->size = int(size);
    m_packet->pts = int64_t(timestamp);
    m_packet->dts = AV_NOPTS_VALUE;
    m_packet->flags = key ? AV_PKT_FLAG_KEY : 0;

    int error = avcodec_send_packet(m_context, m_packet);
    if (error == AVERROR(EAGAIN)) {
        if (!DrainDecoder())
            return false;
        error = avcodec_send_packet(m_context, m_packet);
    }
    av_packet_unref(m_packet);
    if (error < 0) {
        Log(QOR8::LogWarning, "[HARNWAY] %s frame of %u bytes rejected: %s", m_format.c_str(),
            size, ErrorText(error).c_str());
        return false;
    }
    return DrainDecoder();
}

MFF::IMultimediaBuffer* PictureConverter::MakePicture(AVFrame* frame)
{
    MFF::IMultimediaBuffer* out = nullptr;
    if (m_byReference)
        out = PictureOf(frame);
    if (!out) {
        out = CopyOf(frame);
        av_frame_free(&frame);
    }
    return out;
}

MFF::IMultimediaBuffer* PictureConverter::PictureOf(AVFrame*& frame)
{
    const auto format = AVPixelFormat(frame->format);
    const bool grey = format == AV_PIX_FMT_GRAY8;
    const bool is420 = format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
    const bool is422 = format == AV_PIX_FMT_YUV422P || format == AV_PIX_FMT_YUVJ422P;
    if ((!grey && !is420 && !is422) || frame->width <= 0 || frame->height <= 0)
        return nullptr;
    const int planes = grey ? 1 : 3;
    const int chromaWidth = (frame->width + 1) / 2;
    const int chromaRows = is422 ? frame->height : (frame->height + 1) / 2;
    uint32_t sizes[3] = {};
    for (int k = 0; k < planes; ++k) {
        const int width = k == 0 ? frame->width : chromaWidth;
        const int rows = k == 0 ? frame->height : chromaRows;
        sizes[k] = ReadableFrom(frame, frame->data[k]);
        // Only planes that lie wholly inside the frame's buffers go out.
        if (frame->linesize[k] < width ||
            uint64_t(sizes[k]) < uint64_t(frame->linesize[k]) * uint64_t(rows - 1) + uint64_t(width))
            return nullptr;
    }
    const uint64_t timestamp =
        frame->best_effort_timestamp == AV_NOPTS_VALUE ? 0 : uint64_t(frame->best_effort_timestamp);
    try {
        auto* picture = new PictureByReference(frame, grey ? "GRAY" : is422 ? "YUV422" : "YUV420",
                                               timestamp, planes, sizes);
        frame = nullptr;
        return picture;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

MFF::IMultimediaBuffer* PictureConverter::CopyOf(const AVFrame* frame)
{
    const int width = frame->width;
    const int height = frame->height;
    if (width <= 0 || height <= 0)
        return nullptr;
    const uint64_t timestamp =
        frame->best_effort_timestamp == AV_NOPTS_VALUE ? 0 : uint64_t(frame->best_effort_timestamp);
    const auto format = AVPixelFormat(frame->format);

    if (format == AV_PIX_FMT_GRAY8) {
        const uint32_t size0 = uint32_t(width) * uint32_t(height);
        MFF::IPlanarBuffer* out = m_factory->CreatePlanarBuffer("GRAY", size0, 0, 0, width, 0, 0,
                                                                timestamp, width, height);
        if (out)
            CopyPlane(out->GetPlane0(), frame->data[0], frame->linesize[0], width, height);
        return out;
    }

    const bool is420 = format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
    const bool is422 = format == AV_PIX_FMT_YUV422P || format == AV_PIX_FMT_YUVJ422P;
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = is422 ? height : (height + 1) / 2;
    const uint32_t size0 = uint32_t(width) * uint32_t(height);
    const uint32_t sizeC = uint32_t(chromaWidth) * uint32_t(chromaHeight);
    MFF::IPlanarBuffer* out =
        m_factory->CreatePlanarBuffer(is422 ? "YUV422" : "YUV420", size0, sizeC, sizeC, width,
                                      chromaWidth, chromaWidth, timestamp, width, height);
    if (!out)
        return nullptr;
    uint8_t* planes[3] = {out->GetPlane0(), out->GetPlane1(), out->GetPlane2()};

    if (is420 || is422) {
        CopyPlane(planes[0], frame->data[0], frame->linesize[0], width, height);
        CopyPlane(planes[1], frame->data[1], frame->linesize[1], chromaWidth, chromaHeight);
        CopyPlane(planes[2], frame->data[2], frame->linesize[2], chromaWidth, chromaHeight);
        return out;
    }

    // Any other layout (4:4:4, 4:1:1, deeper samples, semi-planar) is brought
    // to 4:2:0.
    m_scaler = sws_getCachedContext(m_scaler, width, height, format, width, height,
                                    AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!m_scaler) {
        Log(QOR8::LogError, "[HARNWAY] Cannot convert pictures of format %s",
            av_get_pix_fmt_name(format));
        out->Destroy();
        return nullptr;
    }
    int strides[3] = {width, chromaWidth, chromaWidth};
    sws_scale(m_scaler, frame->data, frame->linesize, 0, height, planes, strides);
    return out;
}

MFF::IMultimediaBuffer* PictureConverter::Convert(MFF::ICompressedBuffer* input, int32_t)
{
    if (!input || !m_factory)
        return nullptr;
    const char* format = input->GetFormat();
    if (!format)
        return nullptr;
    if (m_format != format) {
        Open(format);
    }
    if (m_unsupported || !m_context)
        return nullptr;
    const uint8_t* data = input->GetData();
    const uint32_t size = input->GetSize();
    if (size == 0) {
        // End of the stream: what the decoder holds back (a reordering codec's
        // last picture) is taken out, and the decoder starts afresh.
        if (avcodec_send_packet(m_context, nullptr) >= 0)
            DrainDecoder();
        avcodec_flush_buffers(m_context);
    } else {
        if (!data || size > uint32_t(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE))
            return nullptr;
        SendPacket(data, size, input->GetTimestamp(), input->GetKeyFrameFlag() != 0);
    }
    if (m_pending.empty())
        return nullptr;
    AVFrame* frame = m_pending.front();
    m_pending.pop_front();
    return MakePicture(frame);
}

} // namespace harnway
