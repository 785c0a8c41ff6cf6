#include "support/FfmpegFrameCodecs.h"

#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "base/VideoFrame.h"
#include "base/frames/FormatTags.h"
#include "support/TempDir.h"

namespace testsupport {
namespace {

struct CodecContext {
    AVCodecContext* ctx = nullptr;
    ~CodecContext() { avcodec_free_context(&ctx); }
};

struct Frame {
    AVFrame* frame = av_frame_alloc();
    ~Frame() { av_frame_free(&frame); }
};

struct Packet {
    AVPacket* packet = av_packet_alloc();
    ~Packet() { av_packet_free(&packet); }
};

// The planes of `frame` converted to one 4:2:0 block.
std::vector<uint8_t> ToYuv420(const AVFrame* frame) {
    const int w = frame->width, h = frame->height;
    std::vector<uint8_t> out(static_cast<size_t>(w * h + 2 * ((w / 2) * (h / 2))));
    // JPEG's full-range planes are taken as they are (the compressor stores
    // the pictures it is given without a range change).
    AVPixelFormat format = static_cast<AVPixelFormat>(frame->format);
    if (format == AV_PIX_FMT_YUVJ420P) format = AV_PIX_FMT_YUV420P;
    if (format == AV_PIX_FMT_YUVJ422P) format = AV_PIX_FMT_YUV422P;
    if (format == AV_PIX_FMT_YUVJ444P) format = AV_PIX_FMT_YUV444P;
    SwsContext* sws = sws_getContext(w, h, format, w, h, AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr);
    if (!sws) return {};
    uint8_t* planes[4] = {out.data(), out.data() + w * h, out.data() + w * h + (w / 2) * (h / 2), nullptr};
    int strides[4] = {w, w / 2, w / 2, 0};
    sws_scale(sws, frame->data, frame->linesize, 0, h, planes, strides);
    sws_freeContext(sws);
    return out;
}

class JpegCompressor final : public FrameCodecs::IFrameCompressor {
public:
    void Init(int, int version) override {
        m_version = version;
        m_keyRequest = 1;
        m_periodicKey = version >= 33 ? 1 : 0;
    }

    int Compress(const uint8_t* picture, int, int width, int height, int color, int, int layout) override {
        if (!picture || width <= 0 || height <= 0 || color == 0) return 0;
        const bool planes420 = layout == 1;
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
        if (!codec) return 0;
        CodecContext c;
        c.ctx = avcodec_alloc_context3(codec);
        c.ctx->width = width;
        c.ctx->height = height;
        c.ctx->pix_fmt = planes420 ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUVJ422P;
        c.ctx->time_base = AVRational{1, 25};
        c.ctx->flags |= AV_CODEC_FLAG_QSCALE;
        if (avcodec_open2(c.ctx, codec, nullptr) < 0) return 0;
        Frame f;
        f.frame->width = width;
        f.frame->height = height;
        f.frame->format = c.ctx->pix_fmt;
        f.frame->quality = FF_QP2LAMBDA * 2;
        const int chromaHeight = planes420 ? height / 2 : height;
        f.frame->data[0] = const_cast<uint8_t*>(picture);
        f.frame->data[1] = f.frame->data[0] + width * height;
        f.frame->data[2] = f.frame->data[1] + (width / 2) * chromaHeight;
        f.frame->linesize[0] = width;
        f.frame->linesize[1] = f.frame->linesize[2] = width / 2;
        Packet p;
        if (avcodec_send_frame(c.ctx, f.frame) < 0 || avcodec_receive_packet(c.ctx, p.packet) < 0) return 0;
        m_output.assign(p.packet->data, p.packet->data + p.packet->size);
        m_output.insert(m_output.end(), {'J', 'P', 'E', 'G'});
        return static_cast<int>(m_output.size());
    }

    const uint8_t* GetOutput() const override { return m_output.data(); }
    int GetKeyRequest() const override { return m_keyRequest; }
    void SetKeyRequest(int value) override { m_keyRequest = value; }
    int GetPeriodicKey() const override { return m_periodicKey; }
    int GetVersion() const override { return m_version; }

private:
    std::vector<uint8_t> m_output;
    int m_keyRequest = 0;
    int m_periodicKey = 0;
    int m_version = 0;
};

class Decompressor final : public FrameCodecs::IFrameDecompressor {
public:
    VideoFramePtr Decompress(VideoFrame* frame, int) override {
        if (!frame || frame->m_nFormat != FrameFormatCompressed || !frame->m_pData) return nullptr;
        const int code = ParseVideoFormatTag(frame->m_pData, frame->m_cbData);
        AVCodecID id;
        uint32_t trailer;
        if (code == '?') {
            id = AV_CODEC_ID_H264;
            trailer = 5;  // key byte and tag
        } else if (code == '7') {
            id = AV_CODEC_ID_MJPEG;
            trailer = 4;
        } else {
            return nullptr;
        }
        if (!m_codec.ctx || m_id != id) {
            avcodec_free_context(&m_codec.ctx);
            const AVCodec* codec = avcodec_find_decoder(id);
            if (!codec) return nullptr;
            m_codec.ctx = avcodec_alloc_context3(codec);
            m_codec.ctx->thread_count = 1;
            m_codec.ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
            if (avcodec_open2(m_codec.ctx, codec, nullptr) < 0) return nullptr;
            m_id = id;
        }
        Packet p;
        if (av_new_packet(p.packet, static_cast<int>(frame->m_cbData - trailer)) < 0) return nullptr;
        std::memcpy(p.packet->data, frame->m_pData, frame->m_cbData - trailer);
        if (avcodec_send_packet(m_codec.ctx, p.packet) < 0) return nullptr;
        Frame decoded;
        if (avcodec_receive_frame(m_codec.ctx, decoded.frame) < 0) return nullptr;
        const std::vector<uint8_t> planes = ToYuv420(decoded.frame);
        if (planes.empty()) return nullptr;
        VideoFramePtr out(new VideoFrame(*frame, false), false);
        out->m_pData = nullptr;
        out->m_bOwnData = 0;
        out->m_cbData = 0;
        if (!out->AllocData(static_cast<uint32_t>(planes.size()))) return nullptr;
        std::memcpy(out->m_pData, planes.data(), planes.size());
        out->m_cbData = static_cast<uint32_t>(planes.size());
        out->m_nWidth = decoded.frame->width;
        out->m_nHeight = decoded.frame->height;
        out->m_nFormat = FrameFormatYuv420;
        out->m_bColor = 1;
        return out;
    }

private:
    CodecContext m_codec;
    AVCodecID m_id = AV_CODEC_ID_NONE;
};

}  // namespace

std::unique_ptr<FrameCodecs::IFrameCompressor> MakeFfmpegJpegCompressor() { return std::make_unique<JpegCompressor>(); }

std::unique_ptr<FrameCodecs::IFrameDecompressor> MakeFfmpegDecompressor() { return std::make_unique<Decompressor>(); }

ScopedTestCodecs::ScopedTestCodecs(bool compressor, bool decompressor) {
    if (compressor) FrameCodecs::SetCompressorFactory(&MakeFfmpegJpegCompressor);
    if (decompressor) FrameCodecs::SetDecompressorFactory(&MakeFfmpegDecompressor);
}

ScopedTestCodecs::~ScopedTestCodecs() {
    FrameCodecs::SetCompressorFactory({});
    FrameCodecs::SetDecompressorFactory({});
}

std::vector<std::vector<uint8_t>> GenerateYuv420Pictures(const std::string& workDir, int count, int width,
                                                          int height) {
    const std::string out = workDir + "/raw.yuv";
    const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc=size=" +
                            std::to_string(width) + "x" + std::to_string(height) + ":rate=5 -frames:v " +
                            std::to_string(count) + " -pix_fmt yuv420p -f rawvideo " + out + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return {};
    const std::vector<uint8_t> bytes = gavex_test::ReadFileBytes(out);
    const size_t size = static_cast<size_t>(width * height + 2 * (width / 2) * (height / 2));
    std::vector<std::vector<uint8_t>> pictures;
    for (size_t at = 0; at + size <= bytes.size(); at += size)
        pictures.emplace_back(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + size));
    return pictures;
}

std::vector<uint8_t> DecodeJpegToYuv420(const uint8_t* data, size_t size, int& width, int& height) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    if (!codec) return {};
    CodecContext c;
    c.ctx = avcodec_alloc_context3(codec);
    if (avcodec_open2(c.ctx, codec, nullptr) < 0) return {};
    Packet p;
    if (av_new_packet(p.packet, static_cast<int>(size)) < 0) return {};
    std::memcpy(p.packet->data, data, size);
    Frame f;
    if (avcodec_send_packet(c.ctx, p.packet) < 0 || avcodec_receive_frame(c.ctx, f.frame) < 0) return {};
    width = f.frame->width;
    height = f.frame->height;
    return ToYuv420(f.frame);
}

}  // namespace testsupport
