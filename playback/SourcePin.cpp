#include "playback/SourcePin.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/format.hpp>

#include "config/QApplicationSettings.h"
#include "base/Log.h"
#include "base/StringConv.h"
#include "base/Tss.h"
#include "base/VideoFrame.h"
#include "media/MediaSample.h"
#include "media/TimeConversion.h"
#include "media/VideoSourceInterfaces.h"
#include "playback/Clocks.h"
#include "playback/TimeSynchronizer.h"
#include "render/RendererPin.h"
#include "render/Titles.h"

namespace filters {

namespace pt = boost::posix_time;

namespace {

// A fast-playing pin this far behind the common time line jumps ahead.
constexpr int64_t kSkipBehindMs = 50;
// Skipped frames are logged at most this often.
constexpr int64_t kSkipLogIntervalUs = 1'000'000;

int64_t MonotonicUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

// ---- VindaraSourcePin ----

VindaraSourcePin::VindaraSourcePin() = default;
VindaraSourcePin::~VindaraSourcePin() = default;

void VindaraSourcePin::SetSource(const boost::shared_ptr<IVideoSource>& source,
                                 const std::shared_ptr<TimeSynchronizer>& synchronizer,
                                 const std::string& deviceText) {
    m_source = source;
    m_synchronizer = synchronizer ? synchronizer : std::make_shared<TimeSynchronizer>();
    m_clientIndex = m_synchronizer->CreateClient();
    m_deviceText = deviceText;
    if (m_source) Reset(true, 0);
    m_lastNextTime = m_lastFrameTime = 0;
}

void VindaraSourcePin::SeekSource(int64_t time) {
    const std::vector<RecordPeriod>& periods = m_source->GetPeriods();
    const int64_t first = periods.empty() ? 0 : periods.front().start;
    const int64_t last = periods.empty() ? 0 : utils::IntervalEnd(periods.back());
    m_position = time < first ? first : std::min(time, last);
    const int64_t next = m_source->GetNextTime();
    // A target inside the current frame's interval keeps the source where it is.
    if (!(next != 0 && m_position >= m_source->GetCurrentTime() && m_position < next))
        m_source->Seek(m_position);
    m_positioned = true;
}

void VindaraSourcePin::Reset(bool seek, int64_t time) {
    if (!m_source || !m_synchronizer) return;
    if (seek) SeekSource(time);
    m_pendingSeekTime = 0;
    m_pendingFrames = 0;
    m_synchronizer->Reset(m_clientIndex, m_position);
}

void VindaraSourcePin::Seek(int64_t time) {
    if (!m_source || !m_synchronizer) return;
    SeekSource(time);
    m_pendingSeekTime = 0;
    m_pendingFrames = 0;
    m_synchronizer->Reset(m_clientIndex, m_position);
    m_pendingSeekTime = time;
    m_pendingFrames = 1;
}

bool VindaraSourcePin::Pause() {
    if (!m_synchronizer) return false;
    const bool wasPaused = m_synchronizer->IsClientPaused(m_clientIndex);
    m_synchronizer->Pause(m_clientIndex);
    return !wasPaused;
}

bool VindaraSourcePin::Resume() {
    if (!m_synchronizer) return false;
    const bool wasPaused = m_synchronizer->IsClientPaused(m_clientIndex);
    m_synchronizer->Resume(m_clientIndex);
    m_pendingSeekTime = 0;
    m_pendingFrames = 0;
    return wasPaused;
}

int64_t VindaraSourcePin::GetCurrentTime() {
    if (!m_synchronizer) return 0;
    return m_synchronizer->GetStartPosition() + m_synchronizer->GetClientTime(m_clientIndex);
}

int64_t VindaraSourcePin::GetDuration() {
    if (!m_source) return 0;
    const std::vector<RecordPeriod>& periods = m_source->GetPeriods();
    if (periods.empty()) return 0;
    return utils::IntervalEnd(periods.back()) - periods.front().start;
}

int64_t VindaraSourcePin::GetAdjacentFrameTime(bool forward) {
    if (forward || !m_source) return m_lastNextTime;
    const std::vector<RecordPeriod>& periods = m_source->GetPeriods();
    int64_t previous = periods.empty() ? 0 : periods.front().start;
    int equal = 0;
    // Bounded: a source that never steps below the last frame cannot hold
    // the caller for ever.
    for (int step = 0; step < 100000; ++step) {
        m_source->PreviousFrame();
        const int64_t t = m_source->GetCurrentTime();
        if (t == previous && ++equal == 2) return t;
        if (t < m_lastFrameTime) return t;
        previous = t;
    }
    return m_source->GetCurrentTime();
}

bool VindaraSourcePin::TakeFrame(VideoFrame*& frame, int64_t& nextTime, bool& atEnd) {
    frame = m_source->GetCurrentFrame();
    bool moved = false;
    for (;;) {
        const int64_t t = m_source->GetCurrentTime();
        if ((t == m_lastNextTime && t != m_lastFrameTime) || m_positioned || moved) break;
        if (m_source->IsAtEnd()) return false;
        frame = m_source->NextFrame();
        moved = true;
    }
    m_positioned = false;
    if (!frame) return false;
    nextTime = m_source->GetNextTime();
    atEnd = m_source->IsAtEnd();
    return true;
}

bool VindaraSourcePin::SkipLateFrames(VideoFrame*& frame, int64_t& nextTime, bool& atEnd) {
    TimeSynchronizer& sync = *m_synchronizer;
    // Until the time line is set to the first frame of a run nothing is late.
    if (!sync.IsAnchored() || sync.IsClientPaused(m_clientIndex)) return true;
    const int64_t start = sync.GetStartPosition();
    int64_t skipped = 0;
    // A frame whose successor is due already would be out of date the
    // moment it is shown. Only strictly later successors count: a source
    // that repeats its last frame at the end does not loop here. The clock
    // is read again for every frame: a source that decodes as it moves on
    // takes time doing so.
    while (!atEnd && nextTime - start <= sync.GetPlayTime(m_clientIndex) && nextTime > m_source->GetCurrentTime()) {
        VideoFrame* following = m_source->NextFrame();
        if (!following) {
            CountSkipped(skipped);
            return false;
        }
        frame = following;
        nextTime = m_source->GetNextTime();
        atEnd = m_source->IsAtEnd();
        ++skipped;
    }
    CountSkipped(skipped);
    return true;
}

void VindaraSourcePin::CountSkipped(int64_t count) {
    if (count <= 0) return;
    m_skippedFrames += count;
    m_skippedSinceLog += count;
    const int64_t now = MonotonicUs();
    if (now - m_lastSkipLogUs < kSkipLogIntervalUs) return;
    getDefaultDebugInstance()->Message("SourcePin: %s is late, %lld frames skipped (%lld in all)",
                                       WStringToString(m_source->GetName()).c_str(),
                                       (long long)m_skippedSinceLog, (long long)m_skippedFrames.load());
    m_skippedSinceLog = 0;
    m_lastSkipLogUs = now;
}

int32_t VindaraSourcePin::ProcessNextFrame(render::IMediaSample* sample, const int32_t* targetSize) {
    if (!m_source || !m_synchronizer) return 2;
    try {
        return Process(sample, targetSize);
    } catch (...) {
        // The pin stops presenting: the others must not wait for it.
        m_synchronizer->SetClientFinished(m_clientIndex);
        throw;
    }
}

int32_t VindaraSourcePin::Process(render::IMediaSample* sample, const int32_t* targetSize) {
    TimeSynchronizer& sync = *m_synchronizer;
    const bool fast = m_skipFrames && sync.GetClock()->GetRate() > 1.0;
    const int64_t start = sync.GetStartPosition();
    VideoFrame* frame = nullptr;
    int64_t nextAbs = 0;
    bool atEnd = false;
    int64_t current = 0;
    if (fast) {
        const int64_t lag = std::max<int64_t>(m_lastNextTime - start, 0);
        const int64_t reference = sync.GetReferenceTime();
        if (!sync.IsClientPaused(m_clientIndex) && reference > lag + kSkipBehindMs) SeekSource(start + reference);
        if (!TakeFrame(frame, nextAbs, atEnd)) {
            sync.SetClientFinished(m_clientIndex);
            return 2;
        }
        // The pin's own schedule, but never beyond the frame it presents: a
        // seek back leaves lastNextTime ahead of the new frames, and a pin
        // reporting a current time past its next one would hold every other
        // pin back while they hold it back (none could ever go on).
        current = std::min(lag, m_source->GetCurrentTime() - start);
    } else {
        // Without it the other pins could wait for this one's turn for ever.
        if (!TakeFrame(frame, nextAbs, atEnd) || !SkipLateFrames(frame, nextAbs, atEnd)) {
            sync.SetClientFinished(m_clientIndex);
            return 2;
        }
        current = m_source->GetCurrentTime() - start;
    }
    const int64_t next = nextAbs - start;

    if (sync.IsClientPaused(m_clientIndex)) {
        if (m_pendingFrames > 0) {
            --m_pendingFrames;
        } else if (nextAbs > m_pendingSeekTime) {
            if (m_pendingSeekTime > 0) m_position = m_pendingSeekTime;
            // The source stays on the frame it was declined: the next call
            // presents it instead of stepping past it.
            m_positioned = true;
            return 2;
        }
    }

    // Decompressed now, before the turn; drawn into the sample only when
    // due: the sample's picture is the one on screen until then.
    const VideoFramePtr out = m_decoder.Decompress(frame);

    m_lastFrameTime = m_source->GetCurrentTime();
    m_lastNextTime = nextAbs;
    m_position = std::max(m_position, m_lastFrameTime);

    if (m_skipFrames && sync.GetClock()->GetRate() > 1.0)
        sync.SetClientTime(m_clientIndex, current, next, atEnd);
    else
        sync.WaitClientTime(m_clientIndex, current, next, atEnd);

    TargetSize size;
    if (targetSize) size = {targetSize[0], targetSize[1]};
    m_decoder.Present(out, *frame, sample, QApplicationSettings::Instance().Deinterlacing.load(), size);
    if (sample) sample->SetTimeOffset(m_source->GetTimeShift());

    if (m_titles && out) {
        const std::string text = QApplicationSettings::Instance().Debug.load() ? InformationText(*out) : std::string();
        m_titles->SetTitleText(2, StringToWString(text));
        m_source->UpdateTitles();
        if (sample) sample->SetSigned(m_source->GetSampleFlag());
    }
    return out ? 0 : 1;
}

std::string VindaraSourcePin::FormatTime(int64_t ms) {
    const pt::ptime t = utils::PtimeFromMilliseconds(ms);
    if (t.is_special()) return "not-a-date-time";
    const pt::time_duration d = t.time_of_day();
    char text[64];
    std::snprintf(text, sizeof text, "%s %02d:%02d:%02d.%06lld",
                  boost::gregorian::to_iso_extended_string(t.date()).c_str(), int(d.hours()),
                  int(d.minutes()), int(d.seconds()), (long long)(d.fractional_seconds()));
    return text;
}

std::string VindaraSourcePin::InformationText(const VideoFrame& out) {
    const FrameInfo* info = m_source->GetFrameInfo();
    if (!info) return std::string();
    m_maxCompressedSize = std::max(m_maxCompressedSize, info->compressedSize);
    m_frameRate.Add(1);
    m_byteRate.Add(info->compressedSize);
    ++m_framesSinceKey;
    if (info->keyFrame) {
        m_keyPeriod = m_framesSinceKey;
        m_framesSinceKey = 0;
    }
    const int32_t bias = out.m_nBias == VideoFrame::kZeroBias ? 0 : out.m_nBias;
    const int64_t plain = TSS::ToUnixMilliseconds(out.m_tssTime);
    const int64_t sourceTime = plain + int64_t(bias) * 60000;
    // The frame's instant in UTC, from its local stamp through the zone rules.
    const int64_t utcTime = FrameTimeMs(out);

    std::string text;
    text += (boost::format("Size: %1%x%2%") % out.m_nWidth % out.m_nHeight).str() + "\n";
    text += (boost::format("Codec: %1% ") % info->codec).str() + "\n";
    text += (boost::format("Frame: %1% / %2%") % (out.m_nFrameNumber + 1) % out.m_nTotalFrames).str() + "\n";
    text += (boost::format("Compressed size Cur/Max: %0.1f/%0.1f kBytes") % (info->compressedSize / 1024.0) %
             (m_maxCompressedSize / 1024.0)).str() + "\n";
    text += (boost::format("Uncompressed size: %0.1f kBytes") % (out.m_cbData / 1024.0)).str() + "\n";
    text += (boost::format("Fps: %1%") % m_frameRate.GetRate()).str() + "\n";
    text += (boost::format("Bitrate Avg/Max: %0.1f/%0.1f kBps") % (m_byteRate.GetRate() * 8 / 1024.0) %
             (m_byteRate.GetMaximum() * 8 / 1024.0)).str() + "\n";
    text += (boost::format("Key frame: %1%, period: %2%") % (info->keyFrame ? "Yes" : "No") % m_keyPeriod).str() + "\n";
    text += (boost::format("Timestamp UTC: %1%") % FormatTime(utcTime)).str() + "\n";
    text += (boost::format("Timestamp source: %1%") % FormatTime(sourceTime)).str() + "\n";
    return text + m_deviceText;
}

// ---- SourcePin ----

SourcePin::SourcePin(std::shared_ptr<ISourcePin> pin) : m_pin(std::move(pin)) {
    m_thread = std::thread([this] { Run(); });
}

SourcePin::~SourcePin() {
    if (m_pin) m_pin->Pause();
    SetState(kRun, true);
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_running = false;
        m_command.notify_all();
    }
    m_thread.join();
    m_rendererPin.reset();
    m_pin.reset();
}

void SourcePin::SetRendererPin(const boost::shared_ptr<render::MediaSamplePin>& pin) {
    std::lock_guard<std::recursive_mutex> lock(m_callLock);
    m_rendererPin = pin;
}

void SourcePin::SetState(int32_t state, bool wait) {
    std::unique_lock<std::mutex> lock(m_stateLock);
    m_state = state;
    if (state == kRun) ++m_runCommands;
    m_command.notify_all();
    if (!wait || !m_threadAlive) return;
    m_waitingForAck = true;
    m_done.wait(lock, [&] { return !m_waitingForAck || !m_threadAlive; });
}

int32_t SourcePin::GetState() {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_state;
}

void SourcePin::Resume() {
    {
        std::lock_guard<std::recursive_mutex> lock(m_callLock);
        m_pin->Resume();
    }
    SetState(kRun, false);
}

void SourcePin::Seek(int64_t time) {
    {
        std::lock_guard<std::recursive_mutex> lock(m_callLock);
        m_pin->Seek(time);
    }
    SetState(kRun, false);
}

int64_t SourcePin::GetAdjacentFrameTime(bool forward) {
    std::lock_guard<std::recursive_mutex> lock(m_callLock);
    return m_pin->GetAdjacentFrameTime(forward);
}

void SourcePin::RenderFrameAt(render::IMediaSample* first, render::IMediaSample* second, int64_t time) {
    std::lock_guard<std::recursive_mutex> lock(m_callLock);
    const int32_t none[2] = {-1, -1};
    const boost::shared_ptr<render::Titles> titles = m_rendererPin ? m_rendererPin->GetTitles() : nullptr;
    m_pin->Seek(time);
    m_pin->ProcessNextFrame(first, none);
    if (first) first->SetTitles(titles);
    const int64_t t = GetAdjacentFrameTime(true);
    m_pin->Seek(t);
    m_pin->ProcessNextFrame(second, none);
    if (second) second->SetTitles(titles);
}

int32_t SourcePin::ProcessOne() {
    boost::shared_ptr<render::MediaSamplePin> renderer;
    int32_t r = 3;
    {
        std::lock_guard<std::recursive_mutex> lock(m_callLock);
        renderer = m_rendererPin;
        if (m_pin && m_pin->HasSource() && renderer) {
            const QSize display = renderer->GetDisplaySize();
            int32_t size[2] = {display.width(), display.height()};
            if (QApplicationSettings::Instance().Antialiasing) size[0] = size[1] = -1;
            try {
                r = m_pin->ProcessNextFrame(&renderer->GetSample(), size);
            } catch (const std::exception& e) {
                QOR_LOG_ERROR(getDefaultDebugInstance(), "SourcePin: frame processing failed: %s", e.what());
                r = 3;
            } catch (...) {
                QOR_LOG_ERROR(getDefaultDebugInstance(), "SourcePin: frame processing failed");
                r = 3;
            }
        }
    }
    if (r == 0) renderer->OnSample();
    return r;
}

void SourcePin::Run() {
    std::unique_lock<std::mutex> lock(m_stateLock);
    while (m_running) {
        const uint64_t commands = m_runCommands;
        lock.unlock();
        const int32_t r = ProcessOne();
        lock.lock();
        if (r != 0 && r != 1 && commands == m_runCommands) {
            m_state = kIdle;
            m_command.notify_all();
        }
        m_waitingForAck = false;
        m_done.notify_all();
        m_command.wait(lock, [&] { return !m_running || m_state == kRun; });
    }
    m_threadAlive = false;
    m_done.notify_all();
}

}  // namespace filters
