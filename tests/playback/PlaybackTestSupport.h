#pragma once
// Shared pieces of the playback tests: a simulated millisecond counter for
// the clocks, a wait that fails on a hang instead of blocking the suite,
// and a scripted in-memory video source.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/VideoFrame.h"
#include "media/VideoSourceInterfaces.h"
#include "playback/AudioSink.h"
#include "playback/Clocks.h"
#include "support/SilentSink.h"

class QCoreApplication;

namespace playbacktest {

// A tick counter that only moves when the test moves it.
struct SimTicks {
    std::atomic<uint32_t> now{1000};
    utils::TickSource Source() {
        return [this] { return now.load(); };
    }
    void Advance(uint32_t ms) { now += ms; }
};

// The test program's application object, made on first use.
QCoreApplication* Application();

using testsupport::SilentSink;

// On its own thread, moves the simulated ticks to the earliest sleeper's
// wake time, so that frames come exactly when due. With `quietPolls`, only
// once the sleepers stayed the same for that many polls (0.1 ms apart): a
// channel still decoding or handing a frame over must reach its own wait
// before time moves on.
class ClockDriver {
public:
    ClockDriver(SimTicks& ticks, std::shared_ptr<utils::WaitableClock> clock, int quietPolls = 0);
    ~ClockDriver();
    ClockDriver(const ClockDriver&) = delete;
    ClockDriver& operator=(const ClockDriver&) = delete;

private:
    SimTicks& m_ticks;
    std::shared_ptr<utils::WaitableClock> m_clock;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Polls `done` until it holds; false after `limit` (a hang, not a timing
// assertion: the limit is far beyond anything the code needs).
bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20));

// A planar grey picture stamped with `timeMs` (UTC ms since 1970).
VideoFramePtr MakeTimedFrame(int64_t timeMs, int width = 8, int height = 8);

// Frames at the given times, in order; seeks land on the last frame not
// after the target. Counts the calls a pin makes.
class ScriptedSource : public filters::IVideoSource {
public:
    ScriptedSource(const std::vector<int64_t>& times, std::vector<filters::RecordPeriod> periods);

    // The name is also the identifier.
    void SetName(std::wstring name) { m_name = std::move(name); }
    const std::wstring& GetName() const override { return m_name; }
    const std::wstring& GetId() const override { return m_name; }
    const std::vector<filters::RecordPeriod>& GetPeriods() const override { return m_periods; }
    int64_t GetCurrentTime() override;
    int64_t GetNextTime() override;
    VideoFrame* GetCurrentFrame() override;
    VideoFrame* NextFrame() override;
    VideoFrame* PreviousFrame() override;
    void Seek(int64_t timeMs) override;
    bool IsAtEnd() override;
    Storage::IPlayInfo* GetPlayInfo() override { return nullptr; }
    bool GetSampleFlag() override { return true; }
    void SetTitles(const boost::shared_ptr<render::Titles>&) override {}
    void UpdateTitles() override { ++updateTitles; }
    const filters::CameraViewSettings& GetCameraSettings() const override { return m_camera; }
    const filters::FrameInfo* GetFrameInfo() override;
    int32_t GetTimeShift() override { return 3600; }

    std::atomic<int> seeks{0};
    std::atomic<int64_t> lastSeek{-1};
    std::atomic<int> updateTitles{0};
    int keyEvery = 25;  // key frames in the frame information

private:
    std::wstring m_name = L"scripted";
    std::vector<int64_t> m_times;
    std::vector<VideoFramePtr> m_frames;
    std::vector<filters::RecordPeriod> m_periods;
    filters::CameraViewSettings m_camera;
    filters::FrameInfo m_info;
    size_t m_index = 0;
};

}  // namespace playbacktest
