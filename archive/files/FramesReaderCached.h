#pragma once

// Reader of archive video files without a usable index: it walks the frame
// records from the data start and remembers, for every frame read so far,
// where its record ends and when it was taken, which frames are key frames
// (when built to cache them) and, per calendar day, the span of the file's
// frames there. Later accesses seek straight to a remembered frame.
//
// A record that cannot be read ends the walk: the frames before it stay
// readable, nothing after it is cached or returned.

#include "archive/files/FramesReader.h"

#include <functional>
#include <map>
#include <set>
#include <vector>

class FramesReaderCached : public FramesReader {
public:
    // cachePFrames: read every frame with its body and remember key frames.
    explicit FramesReaderCached(bool cachePFrames);

    bool ReadIndex(int32_t) override { return true; }
    void ClearIndex() override;

    int64_t ReadFrameAtTime(VideoFrame& frame, const TSS& time, bool needPFrame, bool withData) override;
    int64_t ReadFrame(VideoFrame& frame, uint64_t n, bool needPFrame, bool withData, double speed,
                      bool backward) override;
    // Time of a frame already read; throws std::out_of_range ("Index out of
    // bounds", logged) for a frame not read yet.
    TSS GetFrameTime(uint64_t n) override;
    RecordInterval GetRecordInterval(const TSS& time, bool beginOnly) override;
    int GetReaderType() const override { return 1; }
    int64_t ResetPlayClock() override { return 0; }

    size_t CachedFrameCount() const { return m_cache.size(); }

private:
    struct CachedFrameEntry {
        uint64_t endOffset; // file position just after the record
        TSS time;
    };
    struct DayLess {
        bool operator()(const TSS& a, const TSS& b) const { return TSS::IsEarlier(a, b); }
    };

    const CachedFrameEntry& GetCachedEntry(uint64_t n) const;
    uint64_t FrameStart(uint64_t n) const;
    uint64_t NextUncachedOffset() const;
    uint64_t FindPFrameLowerBound(uint64_t n) const;
    uint64_t FindCached(const TSS& time) const;
    // Reads the record at the current position as the next frame and
    // remembers it; false when it cannot be read.
    bool ReadNextFrame(VideoFrame& frame, bool withData);
    int64_t ReadCachedFrame(VideoFrame& frame, uint64_t n, bool needPFrame, bool withData);
    // Walks on from the first frame not read yet until the test holds or the
    // frame count is reached (with every frame read: reads the last one).
    // Returns the test of the last frame read, false when a read failed.
    bool ReadUntil(VideoFrame& frame, const std::function<bool(const VideoFrame&)>& test);
    void EndOpenDay();

    std::vector<CachedFrameEntry> m_cache;
    std::set<uint64_t> m_pFrames;
    std::map<TSS, RecordInterval, DayLess> m_intervals;
    bool m_cachePFrames;
    bool m_scanFailed = false;
};
