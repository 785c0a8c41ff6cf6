#include "media/FFmpegSource.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <boost/format.hpp>

#include "base/Log.h"
#include "base/ProcessValues.h"
#include "config/QApplicationSettings.h"

namespace filters {

const std::vector<std::string> kAttachedVideoFormats = {"avi", "matroska,webm"};

namespace {

constexpr int kIoBufferSize = 32768;

QorLog::CDebug* Log()
{
    return getDefaultDebugInstance();
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string TagText(uint32_t tag)
{
    char buffer[AV_FOURCC_MAX_STRING_SIZE] = {};
    av_fourcc_make_string(buffer, tag);
    return buffer;
}

int ReadFunc(void* opaque, uint8_t* buffer, int size)
{
    auto* attached = static_cast<FFmpegSource::AttachedFile*>(opaque);
    const size_t count = std::fread(buffer, 1, static_cast<size_t>(size), attached->file);
    if (count > 0)
        return static_cast<int>(count);
    if (std::feof(attached->file))
        return AVERROR_EOF;
    av_log(nullptr, AV_LOG_FATAL, "ReadFunc: fread error\n");
    return -1;
}

int64_t SeekFunc(void* opaque, int64_t offset, int whence)
{
    auto* attached = static_cast<FFmpegSource::AttachedFile*>(opaque);
    std::FILE* file = attached->file;
    if (whence & AVSEEK_SIZE) {
        const off_t position = ftello(file);
        if (fseeko(file, 0, SEEK_END) != 0) {
            av_log(nullptr, AV_LOG_FATAL, "SeekFunc: fseek(1) error\n");
            return -1;
        }
        const int64_t size = static_cast<int64_t>(ftello(file)) - attached->offset;
        if (fseeko(file, position, SEEK_SET) != 0) {
            av_log(nullptr, AV_LOG_FATAL, "SeekFunc: fseek(2) error\n");
            return -1;
        }
        return size;
    }
    whence &= ~AVSEEK_FORCE;
    // Positions from the start are relative to the appended video.
    const int64_t base = whence == SEEK_SET ? attached->offset : 0;
    if (fseeko(file, static_cast<off_t>(offset + base), whence) != 0) {
        av_log(nullptr, AV_LOG_FATAL, "SeekFunc: fseek(3) error\n");
        return -1;
    }
    return static_cast<int64_t>(ftello(file)) - attached->offset;
}

}  // namespace

void InitFFmpeg()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // FFmpeg 5 registers its formats itself; the input formats are listed
        // once in the trace log.
        void* state = nullptr;
        while (const AVInputFormat* format = av_demuxer_iterate(&state))
            Log()->Trace("%s | %s", format->name, format->long_name ? format->long_name : "");
    });
}

// --- FFmpegSource -------------------------------------------------------------

FFmpegSource::FFmpegSource()
{
    FFmpegSource::Close();
    InitFFmpeg();
    m_frame = av_frame_alloc();
}

FFmpegSource::~FFmpegSource()
{
    FFmpegSource::Close();
    av_frame_free(&m_frame);
}

bool FFmpegSource::Open(const std::string& path, const std::string& title)
{
    if (m_formatContext != nullptr && path == m_path && title == m_streamTitle) {
        m_endPts = m_fullEndPts;
        return true;
    }
    Close();

    const size_t dot = path.rfind('.');
    // A portable player: named ".exe", or the file whose carried video the
    // start-up found, whatever its name.
    const bool executable = (dot != std::string::npos && path.find('/', dot) == std::string::npos &&
                             Upper(path.substr(dot)) == ".EXE") ||
                            path == QApplicationSettings::Instance().GetEmbeddedVideoPath();
    if (executable) {
        m_formatContext = OpenAttachedIO(path);
    } else if (avformat_open_input(&m_formatContext, path.c_str(), nullptr, nullptr) < 0) {
        m_formatContext = nullptr;
    }
    if (m_formatContext != nullptr) {
        avformat_find_stream_info(m_formatContext, nullptr);
        if (OpenStream(title)) {
            m_path = path;
            m_streamTitle = title;
            return true;
        }
    }
    Close();
    return false;
}

std::string FFmpegSource::ReadStreamTitle(const AVStream* stream)
{
    const AVDictionaryEntry* entry = av_dict_get(stream->metadata, "title", nullptr, 0);
    return entry != nullptr && entry->value != nullptr ? entry->value : std::string();
}

std::string FFmpegSource::GetFormatMetadata(const std::string& key) const
{
    if (m_formatContext == nullptr)
        return {};
    const AVDictionaryEntry* entry = av_dict_get(m_formatContext->metadata, key.c_str(), nullptr, 0);
    return entry != nullptr && entry->value != nullptr ? entry->value : std::string();
}

bool FFmpegSource::OpenStream(const std::string& title)
{
    const auto type = static_cast<AVMediaType>(GetMediaType());
    if (!title.empty()) {
        for (unsigned i = 0; i < m_formatContext->nb_streams; ++i) {
            AVStream* stream = m_formatContext->streams[i];
            if (stream->codecpar->codec_type != type || ReadStreamTitle(stream) != title)
                continue;
            if (stream->codecpar->codec_id == AV_CODEC_ID_NONE && SelectPassThroughStream(static_cast<int>(i)))
                return true;
            FixCodecIdFromTag(stream);
            if (const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id))
                return OpenCodec(static_cast<int>(i), decoder);
        }
        return false;
    }
    const AVCodec* decoder = nullptr;
    int index = av_find_best_stream(m_formatContext, type, -1, -1, &decoder, 0);
    if (index < 0) {
        index = av_find_default_stream_index(m_formatContext);
        decoder = nullptr;
        if (index >= 0 && index < static_cast<int>(m_formatContext->nb_streams)) {
            AVStream* stream = m_formatContext->streams[index];
            // The default stream may be of another type (an audio-only file
            // asked for video): such a stream is not ours.
            if (stream->codecpar->codec_type != type && stream->codecpar->codec_type != AVMEDIA_TYPE_UNKNOWN &&
                stream->codecpar->codec_id != AV_CODEC_ID_NONE)
                return false;
            if (stream->codecpar->codec_id == AV_CODEC_ID_NONE && SelectPassThroughStream(index))
                return true;
            FixCodecIdFromTag(stream);
            decoder = avcodec_find_decoder(stream->codecpar->codec_id);
        }
    }
    if (decoder == nullptr)
        return false;
    return OpenCodec(index, decoder);
}

bool FFmpegSource::SelectPassThroughStream(int index)
{
    AVStream* stream = m_formatContext->streams[index];
    if (TagText(stream->codecpar->codec_tag) != "VLMR")
        return false;
    m_streamIndex = index;
    m_passThrough = true;
    m_endPts = m_fullEndPts = stream->duration;
    return true;
}

void FFmpegSource::FixCodecIdFromTag(AVStream* stream)
{
    const std::string tag = TagText(stream->codecpar->codec_tag);
    if (tag == "HEVC")
        stream->codecpar->codec_id = AV_CODEC_ID_HEVC;
    else if (tag == "MXPG")
        stream->codecpar->codec_id = AV_CODEC_ID_MXPEG;
}

bool FFmpegSource::OpenCodec(int index, const AVCodec* decoder)
{
    m_streamIndex = index;
    if (index < 0 || decoder == nullptr)
        return false;
    AVStream* stream = m_formatContext->streams[index];
    avcodec_free_context(&m_codecContext);
    m_codecContext = avcodec_alloc_context3(decoder);
    if (m_codecContext == nullptr || avcodec_parameters_to_context(m_codecContext, stream->codecpar) < 0)
        return false;
    m_codecContext->pkt_timebase = stream->time_base;
    m_codecContext->thread_count = std::max(1, static_cast<int>(g_ffmpegThreadCount));
    if (avcodec_open2(m_codecContext, decoder, nullptr) < 0)
        return false;
    m_codecName = Upper(decoder->name);

    m_endPts = stream->duration;
    if (m_endPts < 0 || m_endPts == AV_NOPTS_VALUE) {
        m_endPts = m_formatContext->duration == AV_NOPTS_VALUE
                       ? -1
                       : static_cast<int64_t>(std::floor(static_cast<double>(m_formatContext->duration) *
                                                             stream->time_base.den / stream->time_base.num /
                                                             1000000.0 +
                                                         0.5));
        if (m_endPts < 0) {
            Log()->Warning(boost::format("Not set duration in the stream. streamIndex:[%1%], Codec:[%2%]") %
                           m_streamIndex % m_codecName);
            FindEndFromPackets();
            if (avformat_seek_file(m_formatContext, m_streamIndex, 0, 0, 0, 0) < 0)
                av_seek_frame(m_formatContext, m_streamIndex, 0, AVSEEK_FLAG_BYTE);
        }
    }
    m_fullEndPts = m_endPts;
    m_currentPts = 0;
    OnStreamReset();
    return true;
}

void FFmpegSource::FindEndFromPackets()
{
    AVPacket* packet = av_packet_alloc();
    int64_t step = 10000000;
    m_endPts = 0;
    while (step > 0) {
        avformat_seek_file(m_formatContext, m_streamIndex, 0, step, step, 0);
        int64_t last = 0;
        bool stamped = false;
        bool any = false;
        while (av_read_frame(m_formatContext, packet) >= 0) {
            if (packet->stream_index == m_streamIndex) {
                any = true;
                if (packet->dts != AV_NOPTS_VALUE) {
                    last = packet->dts;
                    stamped = true;
                }
            }
            av_packet_unref(packet);
        }
        m_endPts = last;
        if (m_endPts > 0)
            break;
        // No packet of the stream carries a time stamp: no earlier start
        // point will give one, and the length stays unknown (0).
        if (any && !stamped)
            break;
        step /= 10;
    }
    av_packet_free(&packet);
}

int64_t FFmpegSource::PtsToMilliseconds(int64_t pts) const
{
    if (m_streamIndex < 0 || m_formatContext == nullptr)
        return 0;
    const AVRational tb = m_formatContext->streams[m_streamIndex]->time_base;
    return static_cast<int64_t>(std::floor(static_cast<double>(pts) * 1000.0 * tb.num / tb.den + 0.5));
}

int64_t FFmpegSource::MillisecondsToPts(double ms) const
{
    if (m_streamIndex < 0 || m_formatContext == nullptr)
        return 0;
    const AVRational tb = m_formatContext->streams[m_streamIndex]->time_base;
    return static_cast<int64_t>(std::floor(tb.den * ms / tb.num / 1000.0 + 0.5));
}

int32_t FFmpegSource::FrameDurationPts() const
{
    if (m_streamIndex < 0 || m_formatContext == nullptr)
        return 0;
    const AVStream* stream = m_formatContext->streams[m_streamIndex];
    const AVRational rate = stream->r_frame_rate;
    const AVRational tb = stream->time_base;
    if (rate.num <= 0 || rate.den <= 0 || tb.num <= 0)
        return 0;
    return static_cast<int32_t>(std::floor(static_cast<double>(rate.den) * tb.den / rate.num / tb.num + 0.5));
}

int64_t FFmpegSource::GetStreamFrameCount() const
{
    if (m_streamIndex < 0 || m_formatContext == nullptr)
        return 0;
    return m_formatContext->streams[m_streamIndex]->nb_frames;
}

bool FFmpegSource::HasBestStream(int mediaType) const
{
    return m_formatContext != nullptr &&
           av_find_best_stream(m_formatContext, static_cast<AVMediaType>(mediaType), -1, -1, nullptr, 0) >= 0;
}

void FFmpegSource::LimitDuration(int64_t ms)
{
    const int64_t current = PtsToMilliseconds(m_currentPts);
    if (ms < PtsToMilliseconds(m_endPts) - current)
        m_endPts = MillisecondsToPts(static_cast<double>(current + ms));
}

std::string FFmpegSource::GetCodecName() const
{
    return m_passThrough ? std::string("VLMR") : m_codecName;
}

void FFmpegSource::SeekDemuxer(int64_t target)
{
    if (m_codecContext != nullptr)
        avcodec_flush_buffers(m_codecContext);
    // The key frame at or before the target, however far back it lies: a
    // window around the target would land after it in long key-frame
    // intervals, and the frames up to the target would be lost.
    avformat_seek_file(m_formatContext, m_streamIndex, std::numeric_limits<int64_t>::min(), target, target,
                       AVSEEK_FLAG_BACKWARD);
}

void FFmpegSource::Seek(double ms)
{
    if (!IsOpen())
        return;
    const int64_t target = MillisecondsToPts(ms);
    if (target == m_currentPts)
        return;
    SeekDemuxer(target);
    // The demuxer's own decoding time stamp is not public in FFmpeg 5: after
    // a seek no packet has been read yet, so the position is the target.
    m_currentPts = target;
}

void FFmpegSource::Close()
{
    m_path.clear();
    m_streamTitle.clear();
    avcodec_free_context(&m_codecContext);
    if (m_formatContext != nullptr)
        avformat_close_input(&m_formatContext);
    ReleaseIo();
    m_endPts = m_fullEndPts = m_currentPts = 0;
    m_streamIndex = AVERROR_STREAM_NOT_FOUND;
    m_passThrough = false;
    m_codecName.clear();
}

void FFmpegSource::ReleaseIo()
{
    if (m_ioContext != nullptr) {
        // The I/O context owns its buffer (FFmpeg may have replaced it).
        av_freep(&m_ioContext->buffer);
        avio_context_free(&m_ioContext);
    }
    if (m_attached.file != nullptr)
        std::fclose(m_attached.file);
    m_attached = AttachedFile{};
}

AVFormatContext* FFmpegSource::OpenAttachedIO(const std::string& path)
{
    int64_t offset = 0;
    EmbeddedVideoKey digest{};
    // Paths compare as they are: file names are case-sensitive here.
    if (QApplicationSettings::Instance().GetEmbeddedVideoPath() == path)
        QApplicationSettings::Instance().GetEmbeddedVideo(offset, digest, {});
    else
        QApplicationSettings::FileContainVideo(path, offset, digest, false);

    ReleaseIo();
    m_attached.offset = offset;
    m_attached.file = std::fopen(path.c_str(), "rb");
    if (m_attached.file == nullptr) {
        av_log(nullptr, AV_LOG_FATAL, "_wfopen error\n");
        m_attached.offset = 0;
        return nullptr;
    }
    for (const std::string& name : kAttachedVideoFormats) {
        const AVInputFormat* format = av_find_input_format(name.c_str());
        if (format == nullptr) {
            av_log(nullptr, AV_LOG_FATAL, "OpenAttachedIO: av_find_input_format error\n");
            ReleaseIo();
            return nullptr;
        }
        if (fseeko(m_attached.file, static_cast<off_t>(m_attached.offset), SEEK_SET) != 0) {
            ReleaseIo();
            av_log(nullptr, AV_LOG_FATAL, "fseek error 1\n");
            return nullptr;
        }
        auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
        if (buffer == nullptr)
            break;
        m_ioContext = avio_alloc_context(buffer, kIoBufferSize, 0, &m_attached, ReadFunc, nullptr, SeekFunc);
        if (m_ioContext == nullptr) {
            av_free(buffer);
            break;
        }
        m_ioContext->seekable = AVIO_SEEKABLE_NORMAL;
        AVFormatContext* context = avformat_alloc_context();
        if (context == nullptr)
            break;
        context->flags |= AVFMT_FLAG_CUSTOM_IO;
        context->pb = m_ioContext;
        if (avformat_open_input(&context, "", format, nullptr) >= 0)
            return context;
        // avformat_open_input freed the context; the I/O context is ours.
        av_log(nullptr, AV_LOG_FATAL, "OpenAttachedIO: avformat_open_input error\n");
        av_freep(&m_ioContext->buffer);
        avio_context_free(&m_ioContext);
    }
    ReleaseIo();
    return nullptr;
}

// --- FFmpegVideoSource -------------------------------------------------------

FFmpegVideoSource::FFmpegVideoSource() : m_received(av_frame_alloc()), m_pending(av_packet_alloc())
{
    m_holder.picture = m_frame;
}

FFmpegVideoSource::~FFmpegVideoSource()
{
    av_frame_free(&m_received);
    av_packet_free(&m_pending);
}

void FFmpegVideoSource::Close()
{
    FFmpegSource::Close();
    Reset();
    m_width = m_height = -1;
    m_rawPacket.clear();
}

void FFmpegVideoSource::Reset()
{
    m_current = PacketInfo{};
    m_currentPts = 0;
    m_atEnd = false;
    m_holder.ready = false;
    m_packetQueue.clear();
    m_draining = false;
    if (m_pending != nullptr)
        av_packet_unref(m_pending);
    if (m_frame != nullptr)
        av_frame_unref(m_frame);
}

bool FFmpegVideoSource::ReceivePicture()
{
    if (m_codecContext == nullptr || m_received == nullptr)
        return false;
    // Into a frame of its own: the current picture stays intact when the
    // decoder has nothing more.
    if (avcodec_receive_frame(m_codecContext, m_received) < 0)
        return false;
    av_frame_unref(m_frame);
    av_frame_move_ref(m_frame, m_received);
    return true;
}

bool FFmpegVideoSource::ReadNextFrame()
{
    if (!IsOpen()) {
        m_atEnd = true;
        return false;
    }
    AVPacket* packet = av_packet_alloc();
    bool ready = false;
    bool ended = false;
    while (!ready && !ended) {
        // A decoder may hold pictures from packets already sent.
        if (!m_passThrough && ReceivePicture()) {
            ready = true;
            break;
        }
        if (!m_passThrough && m_pending->size > 0) {
            // A packet the full decoder refused earlier goes in first.
            if (avcodec_send_packet(m_codecContext, m_pending) == AVERROR(EAGAIN))
                continue;
            av_packet_unref(m_pending);
        }
        if (m_draining) {
            // Drained and nothing more: packets that did not decode leave
            // their entries behind; they are dropped so the stream ends.
            m_packetQueue.clear();
            ended = true;
            break;
        }
        const int read = av_read_frame(m_formatContext, packet);
        if (read >= 0 && packet->stream_index != m_streamIndex) {
            av_packet_unref(packet);
            continue;
        }
        if (read >= 0) {
            const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (pts != AV_NOPTS_VALUE && pts >= 0)
                m_packetQueue.push_back(PacketInfo{pts, packet->size, (packet->flags & AV_PKT_FLAG_KEY) != 0});
        }
        if (read < 0 && (m_passThrough || m_packetQueue.empty())) {
            ended = true;
            break;
        }
        if (m_passThrough) {
            m_rawPacket.assign(packet->data, packet->data + packet->size);
            if (m_width < 0 || m_height < 0) {
                const AVCodecParameters* par = m_formatContext->streams[m_streamIndex]->codecpar;
                m_width = par->width;
                m_height = par->height;
            }
            ready = true;
        } else if (read < 0) {
            avcodec_send_packet(m_codecContext, nullptr);
            m_draining = true;
        } else {
            const int sent = avcodec_send_packet(m_codecContext, packet);
            if (sent == AVERROR(EAGAIN)) {
                // The decoder is full: the packet waits until a picture has
                // been taken out.
                av_packet_unref(m_pending);
                av_packet_move_ref(m_pending, packet);
            }
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);

    if (ready && !m_packetQueue.empty()) {
        if (m_passThrough) {
            m_current = m_packetQueue.front();
            m_currentPts = m_current.pts;
            m_holder.ready = m_packetQueue.back().key || m_holder.ready;
            if (m_packetQueue.size() > 1)
                m_packetQueue.pop_front();
        } else {
            // Pictures leave the decoder in presentation order, packets
            // enter it in decoding order: the picture's own time stamp picks
            // its entry. A picture without one (AVI keeps decoding times
            // only, and the decoder's guess is the last packet's decoding
            // time, B-frames behind) is the earliest time still queued.
            auto it = m_packetQueue.begin();
            int64_t stamp = m_frame->best_effort_timestamp;
            if (m_frame->pts == AV_NOPTS_VALUE) {
                it = std::min_element(m_packetQueue.begin(), m_packetQueue.end(),
                                      [](const PacketInfo& a, const PacketInfo& b) { return a.pts < b.pts; });
                stamp = it->pts;
            } else if (stamp != AV_NOPTS_VALUE) {
                auto found = std::find_if(m_packetQueue.begin(), m_packetQueue.end(),
                                          [stamp](const PacketInfo& p) { return p.pts == stamp; });
                if (found != m_packetQueue.end())
                    it = found;
            }
            m_current = *it;
            if (stamp != AV_NOPTS_VALUE && it->pts != stamp)
                m_current.pts = stamp;
            m_currentPts = m_current.pts;
            m_holder.ready = true;
            m_packetQueue.erase(it);
        }
    } else if (ready && !m_passThrough) {
        // A picture whose packet carried no usable time stamp.
        const int64_t stamp = m_frame->best_effort_timestamp;
        m_current = PacketInfo{stamp != AV_NOPTS_VALUE ? stamp : m_currentPts, 0, m_frame->key_frame != 0};
        m_currentPts = m_current.pts;
        m_holder.ready = true;
    }
    m_atEnd = !ready;
    return ready;
}

int64_t FFmpegVideoSource::NextFrameTime() const
{
    if (!m_packetQueue.empty()) {
        if (m_passThrough)
            return m_packetQueue.front().pts;
        int64_t next = std::numeric_limits<int64_t>::max();
        for (const PacketInfo& p : m_packetQueue)
            next = std::min(next, p.pts);
        return next;
    }
    return std::min(m_currentPts + FrameDurationPts(), m_endPts - 1);
}

void FFmpegVideoSource::Seek(double ms)
{
    if (!IsOpen())
        return;
    const int64_t target = MillisecondsToPts(ms);
    if (target != m_currentPts || !m_holder.ready) {
        SeekDemuxer(target);
        Reset();
    }
    while (!m_atEnd) {
        if (m_holder.ready && (m_passThrough || NextFrameTime() > target))
            break;
        ReadNextFrame();
    }
}

}  // namespace filters
