#pragma once
// Demultiplexing and decoding over FFmpeg for ordinary media files (AVI,
// Matroska, MP4, ASF, FLV, MOV ...) and for video appended behind a portable
// player's executable.
//
// FFmpegSource opens a file, selects one stream of its media type by stream
// title or by FFmpeg's choice, opens that stream's decoder (a codec context of
// its own, filled from the stream's codec parameters), converts between the
// stream's time stamps and milliseconds, seeks, and knows where the stream
// ends. A stream whose codec tag reads "VLMR" carries our own compressed
// video, which FFmpeg cannot decode: it is selected in pass-through mode and
// its packets travel undecoded.
//
// Lifecycle: Open, then seeks and reads any number of times, then another
// Open, Close or destruction. Open never throws; a failed Open leaves the
// source closed. One thread at a time uses a source.
//
// Video behind an executable (a path ending in ".exe", any letter case) is
// read in place through FFmpeg custom I/O from the byte after the marker and
// digest to the end of the file; the I/O context owns its av_malloc'ed buffer
// and both are released when the container is closed.

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "media/FFmpegPicture.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVCodec;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct AVStream;

namespace filters {

// Process-wide FFmpeg set-up; runs once, later calls do nothing.
void InitFFmpeg();

// Input formats tried, in order, for video behind an executable.
extern const std::vector<std::string> kAttachedVideoFormats;

class FFmpegSource {
public:
    FFmpegSource();
    virtual ~FFmpegSource();
    FFmpegSource(const FFmpegSource&) = delete;
    FFmpegSource& operator=(const FFmpegSource&) = delete;

    // AVMediaType the source selects.
    virtual int GetMediaType() const = 0;
    virtual void Seek(double ms);
    virtual void Close();

    // True when the file is open with a stream selected. The same path and
    // title as the open ones only restore an end lowered by LimitDuration.
    bool Open(const std::string& path, const std::string& title);

    int64_t PtsToMilliseconds(int64_t pts) const;
    int64_t MillisecondsToPts(double ms) const;
    // Lowers the end to `ms` after the current position (never raises it).
    void LimitDuration(int64_t ms);
    // "VLMR" in pass-through, else the decoder's name upper-cased.
    std::string GetCodecName() const;
    // Container metadata (keys match without regard to case); empty when absent.
    std::string GetFormatMetadata(const std::string& key) const;
    static std::string ReadStreamTitle(const AVStream* stream);

    bool IsOpen() const { return m_formatContext != nullptr && m_streamIndex >= 0; }
    bool IsPassThrough() const { return m_passThrough; }
    int GetStreamIndex() const { return m_streamIndex; }
    int64_t GetEndPts() const { return m_endPts; }
    int64_t GetFullEndPts() const { return m_fullEndPts; }
    int64_t GetCurrentPts() const { return m_currentPts; }
    const std::string& GetPath() const { return m_path; }
    int64_t GetAttachedOffset() const { return m_attached.offset; }
    // Frame duration in stream time-base units (0 when unknown).
    int32_t FrameDurationPts() const;
    // The selected stream's frame count as the container gives it (0 unknown).
    int64_t GetStreamFrameCount() const;
    // Whether FFmpeg finds a best stream of that AVMediaType in the open file.
    bool HasBestStream(int mediaType) const;

protected:
    // Called at the end of a successful OpenCodec.
    virtual void OnStreamReset() {}
    virtual bool OpenStream(const std::string& title);
    virtual void FindEndFromPackets();

    bool OpenCodec(int index, const AVCodec* decoder);
    void FixCodecIdFromTag(AVStream* stream);
    bool SelectPassThroughStream(int index);
    // avformat_seek_file on the selected stream around target (stream units).
    void SeekDemuxer(int64_t target);

    bool m_passThrough = false;
    std::string m_path;
    std::string m_streamTitle;
    AVFormatContext* m_formatContext = nullptr;
    AVCodecContext* m_codecContext = nullptr;
    AVFrame* m_frame = nullptr;
    int m_streamIndex = -1;
    int64_t m_endPts = 0;
    int64_t m_fullEndPts = 0;
    int64_t m_currentPts = 0;
    std::string m_codecName;

public:
    // The file behind a custom I/O context; the I/O callbacks get its address.
    struct AttachedFile {
        std::FILE* file = nullptr;
        int64_t offset = 0;  // first byte of the appended video
    };

private:
    // Opens the container of video appended to an executable; null on failure
    // (each failure logged through FFmpeg's log).
    AVFormatContext* OpenAttachedIO(const std::string& path);
    void ReleaseIo();

    AttachedFile m_attached;
    AVIOContext* m_ioContext = nullptr;
};

// Delivers the frames of a video stream one by one.
class FFmpegVideoSource : public FFmpegSource {
public:
    struct PacketInfo {
        int64_t pts = 0;
        int32_t size = 0;
        bool key = false;
    };

    FFmpegVideoSource();
    ~FFmpegVideoSource() override;

    int GetMediaType() const override { return 0; }
    // Positions on the last frame at or before ms (from the preceding key
    // frame). At the end of the stream the last frame stays current.
    void Seek(double ms) override;
    void Close() override;

    // Moves to the next frame; false when the stream has nothing more (atEnd).
    bool ReadNextFrame();
    // Time stamp (stream units) of the frame after the current one.
    int64_t NextFrameTime() const;

    bool IsAtEnd() const { return m_atEnd; }
    // Packets read ahead whose pictures have not been handed out yet.
    size_t GetQueuedPacketCount() const { return m_packetQueue.size(); }
    bool IsFrameReady() const { return m_holder.ready; }
    const PacketInfo& GetCurrent() const { return m_current; }
    // The decoded picture holder (m_pData of a FrameFormatFFmpegPicture frame).
    FFmpegPictureHolder* GetPictureHolder() { return &m_holder; }
    // Pass-through: the current packet's bytes and the stream's picture size.
    const std::vector<uint8_t>& GetRawPacket() const { return m_rawPacket; }
    int32_t GetWidth() const { return m_width; }
    int32_t GetHeight() const { return m_height; }

protected:
    void OnStreamReset() override { Reset(); }
    void Reset();

private:
    bool ReceivePicture();

    bool m_atEnd = false;
    FFmpegPictureHolder m_holder;
    std::deque<PacketInfo> m_packetQueue;
    PacketInfo m_current;
    int32_t m_width = -1;
    int32_t m_height = -1;
    std::vector<uint8_t> m_rawPacket;
    bool m_draining = false;  // the demuxer ended; the decoder is being drained
    AVFrame* m_received;      // decoder output before it becomes the current picture
    AVPacket* m_pending;      // a packet the decoder could not take yet
};

}  // namespace filters
