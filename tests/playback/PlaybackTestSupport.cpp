#include "PlaybackTestSupport.h"

#include <algorithm>
#include <cstring>

#include <QCoreApplication>

#include "base/Tss.h"

namespace playbacktest {

QCoreApplication* Application()
{
    static int argc = 1;
    static char name[] = "playback-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app =
        QCoreApplication::instance() != nullptr ? QCoreApplication::instance() : new QCoreApplication(argc, argv);
    return app;
}

ClockDriver::ClockDriver(SimTicks& ticks, std::shared_ptr<utils::WaitableClock> clock, int quietPolls)
    : m_ticks(ticks), m_clock(std::move(clock))
{
    m_thread = std::thread([this, quietPolls] {
        size_t seenCount = 0;
        int64_t seenWake = -1;
        int quiet = 0;
        while (!m_stop) {
            const size_t count = m_clock->WaiterCount();
            const int64_t wake = count > 0 ? m_clock->EarliestWakeTime() : -1;
            if (count > 0 && count == seenCount && wake == seenWake && ++quiet >= quietPolls) {
                while (m_clock->GetTime() < wake && !m_stop)
                    m_ticks.Advance(1);
                m_clock->Poke();
                quiet = 0;
            } else if (count != seenCount || wake != seenWake) {
                seenCount = count;
                seenWake = wake;
                quiet = 0;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
}

ClockDriver::~ClockDriver()
{
    m_stop = true;
    m_thread.join();
}

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

VideoFramePtr MakeTimedFrame(int64_t timeMs, int width, int height) {
    VideoFramePtr frame(new VideoFrame("", 0), false);
    frame->m_nWidth = width;
    frame->m_nHeight = height;
    frame->m_nFormat = 0;
    frame->m_bColor = 0;
    const uint32_t size = uint32_t(width * height);
    frame->AllocData(size);
    frame->m_cbData = size;
    std::memset(frame->m_pData, 0x40, size);
    frame->m_tssTime = TSS::FromUtc(uint64_t(timeMs + 11644473600000LL));
    frame->m_llTime = timeMs;
    return frame;
}

ScriptedSource::ScriptedSource(const std::vector<int64_t>& times, std::vector<filters::RecordPeriod> periods)
    : m_times(times), m_periods(std::move(periods)) {
    for (int64_t t : m_times) m_frames.push_back(MakeTimedFrame(t));
    m_info.codec = "H264";
    m_info.compressedSize = 2048;
}

int64_t ScriptedSource::GetCurrentTime() { return m_times.empty() ? 0 : m_times[m_index]; }

int64_t ScriptedSource::GetNextTime() {
    if (m_times.empty()) return 0;
    return m_index + 1 < m_times.size() ? m_times[m_index + 1] : m_times[m_index];
}

VideoFrame* ScriptedSource::GetCurrentFrame() { return m_frames.empty() ? nullptr : m_frames[m_index].get(); }

VideoFrame* ScriptedSource::NextFrame() {
    if (m_index + 1 >= m_frames.size()) return nullptr;
    return m_frames[++m_index].get();
}

VideoFrame* ScriptedSource::PreviousFrame() {
    if (m_frames.empty()) return nullptr;
    if (m_index > 0) --m_index;
    return m_frames[m_index].get();
}

void ScriptedSource::Seek(int64_t timeMs) {
    ++seeks;
    lastSeek = timeMs;
    auto it = std::upper_bound(m_times.begin(), m_times.end(), timeMs);
    m_index = it == m_times.begin() ? 0 : size_t(it - m_times.begin()) - 1;
}

bool ScriptedSource::IsAtEnd() { return m_times.empty() || m_index + 1 >= m_times.size(); }

const filters::FrameInfo* ScriptedSource::GetFrameInfo() {
    m_info.keyFrame = keyEvery > 0 && m_index % size_t(keyEvery) == 0;
    return &m_info;
}

}  // namespace playbacktest
