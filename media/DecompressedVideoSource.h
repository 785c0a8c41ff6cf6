#pragma once
// filters::DecompressedVideoSource decodes the frames of another source (the
// inner source, in practice a FileSystemSource) ahead of playback on a thread
// of its own and keeps them in a bounded queue, so that the consumer reads
// decoded frames without waiting for the codec. After a seek it decodes from
// the preceding key frame but hands out only the frames from the one at the
// requested time.
//
// Modes: passive (after construction and PreviousFrame): the thread sleeps
// and the source answers time queries and backward steps through the inner
// source; active (after Seek): the thread keeps up to N frames decoded.
//
// Threads: the decoding thread and one consumer thread. The lock guards the
// queues and flags and every use of the inner source's position; the codec
// runs outside it. Forwarded operations (names, periods, play information,
// titles, camera settings) reach the inner source without the lock; the
// title operations never move it.
//
// Failures: an exception from the codec skips that frame; one from the inner
// source is logged and ends the stream. Nothing waits on frames that will
// never come: when the inner source ends, every wait ends.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <boost/shared_ptr.hpp>

#include "media/Decoder.h"
#include "media/VideoSourceInterfaces.h"

namespace Storage {
class IVindaraFileSystem;
}

namespace filters {

class DecompressedVideoSource : public IVideoSource {
public:
    // Starts passive with its decoding thread running. queueLength <= 0 takes
    // the application's decode-ahead setting.
    explicit DecompressedVideoSource(const boost::shared_ptr<IVideoSource>& inner, int32_t queueLength = 0);
    ~DecompressedVideoSource() override;
    DecompressedVideoSource(const DecompressedVideoSource&) = delete;
    DecompressedVideoSource& operator=(const DecompressedVideoSource&) = delete;

    const std::wstring& GetName() const override { return m_inner->GetName(); }
    const std::wstring& GetId() const override { return m_inner->GetId(); }
    const std::vector<RecordPeriod>& GetPeriods() const override { return m_inner->GetPeriods(); }
    int64_t GetCurrentTime() override;
    int64_t GetNextTime() override;
    VideoFrame* GetCurrentFrame() override;
    VideoFrame* NextFrame() override;
    VideoFrame* PreviousFrame() override;
    void Seek(int64_t timeMs) override;
    bool IsAtEnd() override;
    Storage::IPlayInfo* GetPlayInfo() override { return m_inner->GetPlayInfo(); }
    bool GetSampleFlag() override { return m_inner->GetSampleFlag(); }
    void SetTitles(const boost::shared_ptr<render::Titles>& titles) override { m_inner->SetTitles(titles); }
    // Titles of the frame at the head of the queue (the one presented).
    void UpdateTitles() override;
    const CameraViewSettings& GetCameraSettings() const override { return m_inner->GetCameraSettings(); }
    const FrameInfo* GetFrameInfo() override;
    int32_t GetTimeShift() override { return m_inner->GetTimeShift(); }
    const MediaInfo* GetMediaInfo() override { return m_inner->GetMediaInfo(); }

    int32_t GetQueueLength() const { return m_queueLength; }
    // Frames decoded now (tests and statistics).
    size_t GetQueuedCount();

private:
    using Lock = std::unique_lock<std::mutex>;

    void Run();
    bool Active() const { return m_startTime != 0; }
    bool Ready() const { return Active() && !m_decoded.empty(); }
    bool Ready2();
    // Nothing more will be queued until the next seek.
    bool Exhausted() const { return m_atEnd && m_decoded.empty(); }
    // The inner source failed: log and end the stream.
    void InnerFailed(const char* what);
    // The next picture the decoder holds back at the end of the stream; null
    // when none is left.
    VideoFramePtr DrainDecoder();
    // Drains the decoder and discards what it held (a seek).
    void DropHeldPictures();

    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_running = true;
    bool m_atEnd = false;
    bool m_restart = false;
    boost::shared_ptr<IVideoSource> m_inner;
    Decoder m_decoder;
    std::deque<VideoFramePtr> m_decoded;
    std::deque<VideoFramePtr> m_compressed;
    int64_t m_startTime = 0;
    FrameInfo m_info;
    int32_t m_queueLength;
    std::thread m_thread;  // last: starts when everything above exists
};

// The head of an archive channel's chain: a DecompressedVideoSource over a
// new FileSystemSource. Empty (and logged) for a damaged archive; other
// errors, "Cannot create channel" among them, propagate.
boost::shared_ptr<IVideoSource> CreateArchiveChannelSource(
    const boost::shared_ptr<Storage::IVindaraFileSystem>& frontEnd, const std::wstring& id);

}  // namespace filters
