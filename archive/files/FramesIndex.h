#pragma once

// The in-file frame index of an archive video file and its two stored
// encodings (the index blob in front of the file's trailer).

#include <cstdint>
#include <iosfwd>
#include <vector>

// One frame of an archive video file.
struct FramesIndexEntry {
    uint64_t time = 0;   // frame time stamp, UTC milliseconds since 1970-01-01
    uint64_t offset = 0; // file offset at which the frame's record begins
    bool pFrame = false; // true for a frame decoding can start from (key frame)

    FramesIndexEntry() = default;
    FramesIndexEntry(uint64_t time_, uint64_t offset_, bool pFrame_)
        : time(time_)
        , offset(offset_)
        , pFrame(pFrame_)
    {
    }

    bool operator==(const FramesIndexEntry&) const = default;
};

using FramesIndex = std::vector<FramesIndexEntry>;

struct TSS;
// The entry of a frame with local time stamp `time` whose record begins at
// `offset`: time = TSS::ToUtcMilliseconds - 11644473600000.
FramesIndexEntry MakeFramesIndexEntry(const TSS& time, uint64_t offset, bool pFrame);

// Milliseconds between 1601-01-01 (archive clock) and 1970-01-01 (index clock).
constexpr uint64_t kUnixEpochArchiveMs = 11644473600000ull;

// Writes `index` as the portable binary blob (stored type 2): header, list
// class information, count, item version, entry class information before the
// first entry, then per entry time, offset and one raw key byte.
// Throws boost::archive::archive_exception (output_stream_error) when the
// stream refuses bytes.
void SaveFramesIndex(const FramesIndex& index, std::ostream& out);

// Decoders. Each empties `index` and appends entries as they are decoded; on
// an error the entries decoded so far stay and a
// boost::archive::archive_exception (or a class derived from it) is thrown.
// A count larger than the remaining bytes can hold is an input stream error
// raised before any entry is read or any memory reserved.
void LoadFramesIndexPortable(std::istream& in, FramesIndex& index); // stored type 2
void LoadFramesIndexBinary(std::istream& in, FramesIndex& index);   // stored type 1
