#pragma once

// Readers of files that carry a frame index in front of their trailer: they
// load the index at open and seek straight to any frame.

#include "archive/files/FramesIndex.h"
#include "archive/files/FramesReader.h"

#include <iosfwd>
#include <optional>

class FramesReaderFile;

class FramesReaderIndexed : public FramesReader {
public:
    // Reads the index blob (length at size - 21, 1..0xA00000 bytes ending at
    // size - 21) and decodes it; a decoding error is logged and the entries
    // decoded before it are kept. The frame count becomes the smaller of the
    // trailer's count and the entry count. True when any entry was read.
    bool ReadIndex(int32_t wantedId) override;
    void ClearIndex() override { m_index.clear(); }

    int64_t ReadFrameAtTime(VideoFrame& frame, const TSS& time, bool needPFrame, bool withData) override;
    // n beyond the count reads the last frame. Above speed 2.0 the reader
    // fast-plays: it jumps to the last key frame before the time the play
    // clock has advanced to (backward: from the last frame back). Forward
    // fast play returns the frame count - 1 once no key frame follows.
    int64_t ReadFrame(VideoFrame& frame, uint64_t n, bool needPFrame, bool withData, double speed,
                      bool backward) override;
    TSS GetFrameTime(uint64_t n) override;
    RecordInterval GetRecordInterval(const TSS& time, bool beginOnly) override;
    int64_t ResetPlayClock() override;

    const FramesIndex& GetIndex() const { return m_index; }

protected:
    // Decodes the blob into m_index (appending as it goes); throws the
    // archive errors of the codec.
    virtual void DeserializeIndex(std::istream& in) = 0;

    FramesIndex::const_iterator FindEntry(const TSS& time) const;

    FramesIndex m_index;
    uint64_t m_playClockStart = 0; // UTC milliseconds since 1601
};

// Index in the boost binary form (stored type 1).
class FramesReaderIndexedSimple : public FramesReaderIndexed {
public:
    int GetReaderType() const override { return 2; }

protected:
    void DeserializeIndex(std::istream& in) override;
};

// Index in the portable binary form (stored type 2, what the recorder
// writes). After decoding, the index is rebased onto the first frame's own
// time stamp: when the first entry's time differs from the time of the record
// it points to, every entry is shifted by the difference (the entries of
// files recorded across a time-zone change are off by the change).
class FramesReaderIndexedPortable : public FramesReaderIndexed {
public:
    int GetReaderType() const override { return 3; }

protected:
    void DeserializeIndex(std::istream& in) override;

private:
    void RebaseIndex();
};

// The time an indexed reader opened on `file` would give for its last frame
// (GetFrameTime(GetFrameCount() - 1)), taken from the file's end alone: the
// trailer and the index blob, in one read when the index is small. The first
// frame's record (at firstOffset, ending at firstEnd, stamped firstTime) is
// the one the portable index is rebased onto. Empty when only a full open can
// tell: no valid index trailer, a trailer the reader refuses, an index that
// does not decode whole, or a first entry pointing elsewhere. Never throws.
std::optional<TSS> IndexedLastFrameTime(const FramesReaderFile& file, uint64_t firstOffset, uint64_t firstEnd,
                                        const TSS& firstTime);
