#include "archive/files/FramesReaderCached.h"

#include "base/Log.h"
#include "base/VideoFrame.h"
#include "base/frames/FormatTags.h"

#include <algorithm>
#include <stdexcept>

// The scanning reader walks every record of the file: large blocks keep that
// to a few system calls per megabyte.
FramesReaderCached::FramesReaderCached(bool cachePFrames)
    : FramesReader(128 * 1024)
    , m_cachePFrames(cachePFrames)
{
}

void FramesReaderCached::ClearIndex()
{
    m_pFrames.clear();
    m_intervals.clear();
    m_cache.clear();
    m_scanFailed = false;
}

const FramesReaderCached::CachedFrameEntry& FramesReaderCached::GetCachedEntry(uint64_t n) const
{
    if (n >= m_cache.size()) {
        QOR_LOG_ERROR(getDefaultDebugInstance(), "%s, index = %d, size = %d", "Index out of bounds",
                      static_cast<int>(n), static_cast<int>(m_cache.size()));
        throw std::out_of_range("Index out of bounds");
    }
    return m_cache[n];
}

uint64_t FramesReaderCached::FrameStart(uint64_t n) const
{
    return n == 0 ? static_cast<uint64_t>(m_dataStart) : m_cache[n - 1].endOffset;
}

uint64_t FramesReaderCached::NextUncachedOffset() const
{
    return m_cache.empty() ? static_cast<uint64_t>(m_dataStart) : m_cache.back().endOffset;
}

uint64_t FramesReaderCached::FindPFrameLowerBound(uint64_t n) const
{
    if (!m_cachePFrames)
        throw std::logic_error("findPFrameLowerBound used without caching PFrames");
    auto it = m_pFrames.upper_bound(n);
    if (it == m_pFrames.begin())
        return 0;
    return *--it;
}

uint64_t FramesReaderCached::FindCached(const TSS& time) const
{
    const auto it = std::lower_bound(m_cache.begin(), m_cache.end(), time,
                                     [](const CachedFrameEntry& e, const TSS& t) { return TSS::IsEarlier(e.time, t); });
    return static_cast<uint64_t>(it - m_cache.begin());
}

TSS FramesReaderCached::GetFrameTime(uint64_t n)
{
    return GetCachedEntry(n).time;
}

bool FramesReaderCached::ReadNextFrame(VideoFrame& frame, bool withData)
{
    const uint64_t n = m_cache.size();
    if (m_scanFailed || !ReadFrameRecord(frame, n, withData || m_cachePFrames)) {
        // Nothing after an unreadable record is trusted; the day that was
        // open ends at the last frame read.
        m_scanFailed = true;
        EndOpenDay();
        return false;
    }
    if (m_cachePFrames && IsKeyFrame(&frame))
        m_pFrames.insert(n);
    m_cache.push_back({m_file.GetPosition(), frame.m_tssTime});

    const TSS day = frame.m_tssTime.DateOnly();
    const TSS prevDay = n == 0 ? day : m_cache[n - 1].time.DateOnly();
    const bool dayChanged = n != 0 && !IsSameArchiveTime(day, prevDay);
    if (n == 0 || dayChanged) {
        m_intervals[day] = {frame.m_tssTime, TSS{}};
        if (dayChanged)
            m_intervals[prevDay].end = m_cache[n - 1].time;
    }
    // The last frame of the file closes its day (also when it is the first
    // frame of that day).
    if (m_cache.size() == m_frameCount)
        m_intervals[day].end = frame.m_tssTime;
    return true;
}

void FramesReaderCached::EndOpenDay()
{
    if (m_cache.empty())
        return;
    auto it = m_intervals.find(m_cache.back().time.DateOnly());
    if (it != m_intervals.end() && it->second.end.IsEmpty())
        it->second.end = m_cache.back().time;
}

int64_t FramesReaderCached::ReadCachedFrame(VideoFrame& frame, uint64_t n, bool needPFrame, bool withData)
{
    if (needPFrame)
        n = FindPFrameLowerBound(n);
    if (!SeekTo(FrameStart(n)) || !ReadFrameRecord(frame, n, withData || m_cachePFrames))
        return -1;
    return static_cast<int64_t>(n);
}

bool FramesReaderCached::ReadUntil(VideoFrame& frame, const std::function<bool(const VideoFrame&)>& test)
{
    if (!SeekTo(NextUncachedOffset()))
        return false;
    if (m_cache.size() < m_frameCount) {
        do {
            if (!ReadNextFrame(frame, false))
                return false;
        } while (m_cache.size() < m_frameCount && !test(frame));
    } else {
        if (m_frameCount == 0 || !SeekTo(FrameStart(m_frameCount - 1))
            || !ReadFrameRecord(frame, m_frameCount - 1, m_cachePFrames))
            return false;
    }
    return test(frame);
}

int64_t FramesReaderCached::ReadFrame(VideoFrame& frame, uint64_t n, bool needPFrame, bool withData, double /*speed*/,
                                      bool /*backward*/)
{
    if (m_frameCount == 0)
        return -1;
    if (n >= m_frameCount)
        n = m_frameCount - 1;
    if (n < m_cache.size())
        return ReadCachedFrame(frame, n, needPFrame, withData);
    if (n > m_cache.size()) {
        // Walk up to frame n - 1 without bodies.
        ReadUntil(frame, [this, n](const VideoFrame&) { return m_cache.size() == n; });
        if (m_cache.size() != n)
            return -1;
    }
    if (!SeekTo(NextUncachedOffset()) || !ReadNextFrame(frame, withData))
        return -1;
    if (needPFrame && !IsKeyFrame(&frame))
        return ReadCachedFrame(frame, n, true, withData);
    return static_cast<int64_t>(n);
}

int64_t FramesReaderCached::ReadFrameAtTime(VideoFrame& frame, const TSS& time, bool needPFrame, bool withData)
{
    if (m_frameCount == 0)
        return -1;
    uint64_t i = FindCached(time);
    if (i >= m_frameCount)
        return static_cast<int64_t>(i);
    if (i < m_cache.size()) {
        if (i > 0 && TSS::IsLater(m_cache[i].time, time))
            --i;
        return ReadCachedFrame(frame, i, needPFrame, withData);
    }
    if (!ReadUntil(frame, [&time](const VideoFrame& f) { return !TSS::IsEarlier(f.m_tssTime, time); })) {
        // The file's readable frames end before the time.
        return static_cast<int64_t>(m_frameCount);
    }
    const uint64_t c = m_cache.size();
    const bool late = TSS::IsEarlier(time, frame.m_tssTime) && c > 1;
    if (!withData || m_cachePFrames) {
        if (late)
            return ReadCachedFrame(frame, c - 2, needPFrame, withData);
        if (!needPFrame || IsKeyFrame(&frame))
            return static_cast<int64_t>(c - 1);
        return ReadCachedFrame(frame, c - 1, needPFrame, withData);
    }
    return ReadCachedFrame(frame, late ? c - 2 : c - 1, needPFrame, withData);
}

RecordInterval FramesReaderCached::GetRecordInterval(const TSS& time, bool beginOnly)
{
    if (!time.IsValidDate()) {
        if (m_frameCount == 0)
            return {};
        VideoFramePtr scratch(new VideoFrame(), false);
        if (m_cache.empty())
            ReadFrame(*scratch, 0, false, false, 1.0, false);
        if (m_cache.empty()) {
            QOR_LOG_ERROR(getDefaultDebugInstance(), "FramesCache::GetRecordInterval archive error. Return empty interval");
            return {};
        }
        RecordInterval interval;
        interval.begin = m_cache.front().time;
        if (!beginOnly) {
            if (m_cache.size() < m_frameCount)
                ReadFrame(*scratch, m_frameCount - 1, false, false, 1.0, false);
            // A damaged file ends at its last readable frame.
            interval.end = m_cache.back().time;
        }
        return interval;
    }

    const TSS day = time.DateOnly();
    auto it = m_intervals.lower_bound(day);
    if (it != m_intervals.end() && IsSameArchiveTime(it->first, day) && !it->second.end.IsEmpty())
        return it->second;

    VideoFramePtr scratch(new VideoFrame(), false);
    if (beginOnly)
        ReadUntil(*scratch, [&day](const VideoFrame& f) { return !TSS::IsEarlier(f.m_tssTime.DateOnly(), day); });
    else
        ReadUntil(*scratch, [&day](const VideoFrame& f) { return TSS::IsLater(f.m_tssTime.DateOnly(), day); });
    it = m_intervals.find(day);
    return it != m_intervals.end() ? it->second : RecordInterval{};
}
