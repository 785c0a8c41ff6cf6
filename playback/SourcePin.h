#pragma once
// The end of a playback chain that faces the renderer. VindaraSourcePin takes
// frames from a video source (in continuous time), keeps their presentation
// in step with the other channels as one client of a shared synchronizer and
// decodes each into the renderer pin's sample. SourcePin is the thread that
// drives one such pin.
//
// Times of the pin are continuous times of the gapless time line.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include <boost/shared_ptr.hpp>

#include "media/Decoder.h"
#include "playback/RateMeter.h"

class VideoFrame;

namespace render {
class IMediaSample;
class MediaSamplePin;
class Titles;
}  // namespace render

namespace filters {

class IVideoSource;
class TimeSynchronizer;

class ISourcePin {
public:
    virtual ~ISourcePin() = default;
    virtual bool HasSource() = 0;
    virtual void Reset(bool seek, int64_t time) = 0;
    // targetSize: width, height; -1 for none. Returns 0 when a frame was
    // decoded into the sample, 1 when a frame gave no picture, 2 when there
    // is nothing to present.
    virtual int32_t ProcessNextFrame(render::IMediaSample* sample, const int32_t* targetSize) = 0;
    virtual int64_t GetCurrentTime() = 0;
    virtual int64_t GetDuration() = 0;
    virtual int64_t GetAdjacentFrameTime(bool forward) = 0;
    virtual void Seek(int64_t time) = 0;
    // True when the pin was not paused before.
    virtual bool Pause() = 0;
    // True when the pin was paused before.
    virtual bool Resume() = 0;
};

class VindaraSourcePin : public ISourcePin {
public:
    VindaraSourcePin();
    ~VindaraSourcePin() override;

    // An empty synchronizer gets one of the pin's own (over its own clock).
    void SetSource(const boost::shared_ptr<IVideoSource>& source,
                   const std::shared_ptr<TimeSynchronizer>& synchronizer, const std::string& deviceText);
    boost::shared_ptr<IVideoSource> GetSource() const { return m_source; }
    const std::shared_ptr<TimeSynchronizer>& GetSynchronizer() const { return m_synchronizer; }
    int GetClientIndex() const { return m_clientIndex; }

    void SetSkipFrames(bool skip) { m_skipFrames = skip; }
    void SetTitles(const boost::shared_ptr<render::Titles>& titles) { m_titles = titles; }

    bool HasSource() override { return bool(m_source); }
    void Reset(bool seek, int64_t time) override;
    int32_t ProcessNextFrame(render::IMediaSample* sample, const int32_t* targetSize) override;
    int64_t GetCurrentTime() override;
    int64_t GetDuration() override;
    int64_t GetAdjacentFrameTime(bool forward) override;
    void Seek(int64_t time) override;
    bool Pause() override;
    bool Resume() override;

    int64_t GetPosition() const { return m_position; }
    // Frames passed over because they were already out of date (the pin came
    // late to them): counted over the pin's life.
    int64_t GetSkippedFrames() const { return m_skippedFrames.load(); }

private:
    void SeekSource(int64_t time);
    bool TakeFrame(VideoFrame*& frame, int64_t& nextTime, bool& atEnd);
    // Playing late: moves past every frame whose successor is due already, so
    // that the one presented is the one due now. False when the source ran
    // out meanwhile.
    bool SkipLateFrames(VideoFrame*& frame, int64_t& nextTime, bool& atEnd);
    void CountSkipped(int64_t count);
    int32_t Process(render::IMediaSample* sample, const int32_t* targetSize);
    std::string InformationText(const VideoFrame& out);
    std::string FormatTime(int64_t ms);

    boost::shared_ptr<IVideoSource> m_source;
    bool m_positioned = false;
    int64_t m_position = 0;
    int64_t m_lastNextTime = 0;
    int64_t m_lastFrameTime = 0;
    std::shared_ptr<TimeSynchronizer> m_synchronizer;
    int m_clientIndex = 0;
    std::atomic<bool> m_skipFrames{false};  // set by the controller while the thread plays
    int64_t m_pendingSeekTime = 0;
    int32_t m_pendingFrames = 0;
    boost::shared_ptr<render::Titles> m_titles;
    Decoder m_decoder;
    RateMeter m_frameRate;
    RateMeter m_byteRate;
    int32_t m_maxCompressedSize = 0;
    std::string m_deviceText;
    int32_t m_framesSinceKey = 0;
    int32_t m_keyPeriod = 0;
    std::atomic<int64_t> m_skippedFrames{0};
    int64_t m_skippedSinceLog = 0;
    int64_t m_lastSkipLogUs = 0;
};

// The thread that drives one source pin: in the run state it pulls frames
// back to back (the pacing is the synchronizer's wait inside the pin) and
// hands them to the renderer pin; it goes idle when the pin has nothing to
// deliver. Every call into the pin runs under one recursive lock.
class SourcePin {
public:
    enum State : int32_t { kRun = 0, kIdle = 1 };

    explicit SourcePin(std::shared_ptr<ISourcePin> pin);
    // Pauses the pin, lets the thread finish its pass, then joins it.
    virtual ~SourcePin();
    SourcePin(const SourcePin&) = delete;
    SourcePin& operator=(const SourcePin&) = delete;

    void SetRendererPin(const boost::shared_ptr<render::MediaSamplePin>& pin);
    // With wait, returns once the thread completed a pass of its loop (at
    // once when the thread has ended).
    void SetState(int32_t state, bool wait);
    int32_t GetState();
    void Resume();
    void Seek(int64_t time);
    int64_t GetAdjacentFrameTime(bool forward);
    // Still images of the frame at `time` and of the one after it. Decoder
    // errors reach the caller.
    void RenderFrameAt(render::IMediaSample* first, render::IMediaSample* second, int64_t time);

    const std::shared_ptr<ISourcePin>& GetPin() const { return m_pin; }

private:
    void Run();
    int32_t ProcessOne();

    std::recursive_mutex m_callLock;
    std::shared_ptr<ISourcePin> m_pin;
    std::mutex m_stateLock;
    std::condition_variable m_command;
    std::condition_variable m_done;
    bool m_running = true;
    bool m_threadAlive = true;
    int32_t m_state = kIdle;
    // Counts the commands to run: a pass that found nothing to deliver only
    // idles the thread when no such command came while it ran (a resume or
    // a seek during a declined pass must still be served).
    uint64_t m_runCommands = 0;
    bool m_waitingForAck = false;
    boost::shared_ptr<render::MediaSamplePin> m_rendererPin;
    std::thread m_thread;  // last: starts when everything above exists
};

}  // namespace filters
