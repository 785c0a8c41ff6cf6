#pragma once
// Sound of the active channel of a media-file playback, and playback time
// that follows it.
//
// The player owns an external clock and a waitable clock over it; the
// channels' synchronizer runs on that waitable clock. While sound plays, the
// audio thread reports the position of the sound actually played to the
// external clock, so pictures wait for the sound; otherwise the clock runs
// on its own. Requests name a file, the title of its audio stream, a start
// in the file and a duration; the thread decodes them one after another
// into two PCM buffers (one played, one filled) and feeds a sink.
//
// Sound that cannot play (a file that does not open, a sample format the
// player does not know, an output that cannot start or fails) is passed
// over and leaves the clock on its own time.

#include <atomic>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/FFmpegSource.h"
#include "playback/AudioSink.h"
#include "playback/Clocks.h"

namespace filters {

struct AudioRequest {
    std::string path;  // UTF-8; empty: no sound
    std::string streamTitle;  // empty: FFmpeg's best audio stream
    int64_t start = 0;  // ms from the start of the file
    int64_t duration = 0;  // ms

    // Two requests are the same when path and start are.
    bool operator==(const AudioRequest& other) const { return path == other.path && start == other.start; }
};

struct PcmBuffer {
    static constexpr int32_t kInitialSize = 0x20000;

    int32_t channels = 0;
    int32_t sampleRate = 0;
    int32_t bytesPerSample = 0;
    bool isSigned = false;
    std::vector<uint8_t> data = std::vector<uint8_t>(kInitialSize);
    int32_t readPosition = 0;
    int32_t writePosition = 0;
    // Ms of played sound at the buffer's first byte when it begins a file
    // (-1 otherwise): an output made for the buffer counts from there.
    int64_t outputStart = -1;

    AudioFormat Format() const { return {channels, sampleRate, bytesPerSample, isSigned}; }
    int32_t Pending() const { return writePosition - readPosition; }
    void Empty() { readPosition = writePosition = 0; }
};

struct AudioSegment {
    int64_t outputStart = 0;  // ms of played sound at which it begins
    int64_t length = 0;  // ms of sound in it
    int64_t mediaStart = 0;  // ms on the requests' time line
    int64_t requestedLength = 0;  // ms, the request's duration
};

// Interleaves planar float samples into signed 16 bits: value x 32767,
// truncated toward zero, clipped to the 16-bit range.
void ConvertPlanarFloatToS16(const float* const* planes, int32_t channels, int32_t count, int16_t* out);

// The audio stream of a media file, decoded into PCM buffers.
class AudioSource : public FFmpegSource {
public:
    int GetMediaType() const override { return 1; }

    // Decodes one packet of the stream into the buffer's write position.
    // False when no packet could be read.
    bool DecodePacket(PcmBuffer& buffer);

    bool IsExhausted() const { return m_currentPts >= m_endPts; }
    void MarkExhausted() { m_currentPts = m_endPts; }
    // False when the decoder's sample format is one the player cannot play.
    bool IsSupported() const { return m_supported; }
    int GetSampleFormat() const { return m_sampleFormat; }

    int32_t channels = 0;
    int32_t sampleRate = 0;
    int32_t bytesPerSample = 0;
    int32_t isSigned = 0;
    bool planarFloat = false;
    bool planar = false;

protected:
    void OnStreamReset() override;

private:
    // Stores the decoded frame in the buffer; false when it does not match
    // the stream's format.
    bool StoreFrame(PcmBuffer& buffer);

    bool m_supported = false;
    int m_sampleFormat = -1;
};

class AudioPlayer {
public:
    // The sink defaults to the system's sound output; `ticks` drives the
    // clock's own time. Without its thread (tests) the owner runs the passes
    // of the audio loop itself with RunPass.
    explicit AudioPlayer(std::unique_ptr<IAudioSink> sink = nullptr, utils::TickSource ticks = utils::MonotonicTick,
                         bool startThread = true);
    ~AudioPlayer();
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;

    std::shared_ptr<utils::WaitableClock> GetClock() const { return m_waitableClock; }
    std::shared_ptr<utils::ExternalClock> GetExternalClock() const { return m_externalClock; }

    // Queues the sound of `current` (then `next`); restarts the queue when
    // asked to or when `current` is not queued. An empty path asks for
    // silence: the clock then runs on its own.
    void Play(const AudioRequest& current, const AudioRequest& next, bool restart);
    void Stop();
    // 0.0 to 1.0; applied by the audio thread on its next pass.
    void SetVolume(double volume);
    double GetVolume() const { return m_volume; }

    // One pass of the audio loop without its sleep (players built without
    // their thread).
    void RunPass();

    // State of the audio thread, for tests driving RunPass.
    std::deque<AudioSegment> GetSegments() const { return m_segments; }
    int GetDecoderState() const { return m_decoderState; }
    size_t QueuedRequests();

private:
    void Run();
    int FillBuffer(PcmBuffer& buffer);
    bool OpenNextRequest();
    void Service();
    // False when the output cannot play the buffer.
    bool WriteToOutput(PcmBuffer& buffer);
    void ResetOutput();
    // Drops the sound being played after an output failure.
    void PassOver();

    std::unique_ptr<IAudioSink> m_sink;
    bool m_hasOutput = false;
    AudioFormat m_outputFormat;
    bool m_hasDevice = false;
    std::thread m_thread;
    std::atomic<bool> m_running{true};
    std::mutex m_lock;
    std::list<AudioRequest> m_requests;
    std::atomic<bool> m_resetRequested{false};
    int m_decoderState = 0;
    PcmBuffer m_buffers[2];
    int m_current = 0;
    bool m_requestTaken = false;
    std::shared_ptr<utils::ExternalClock> m_externalClock;
    std::shared_ptr<utils::WaitableClock> m_waitableClock;
    std::deque<AudioSegment> m_segments;
    // Where the next segment begins: kept apart from the segments, which
    // the service drops once played.
    int64_t m_nextOutputStart = 0;
    int64_t m_nextMediaStart = 0;
    int64_t m_processedBase = 0;
    bool m_processedBaseTaken = false;
    int64_t m_playedOffset = 0;  // played ms before the output's start
    bool m_sourceFresh = false;  // opened, nothing decoded yet
    std::atomic<double> m_volume{0.0};
    std::atomic<bool> m_volumeChanged{false};
    std::unique_ptr<AudioSource> m_source;
};

}  // namespace filters
