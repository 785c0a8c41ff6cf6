#pragma once

// Builds archive video files for tests and benchmarks, byte by byte from the
// file layout, independently of the product's readers and codecs: frame
// records, the index blob in either stored form, the index trailer with its
// checksum, frame count and close flag, and an optional archive id header.
// Options damage single parts so tests can check how readers react.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace testsupport {

// One frame to store.
struct ArchiveFrame {
    int64_t unixMs = 0;        // frame time, UTC milliseconds since 1970
    std::vector<uint8_t> data; // compressed data as stored, format tag included
    bool key = false;          // key flag written into the index entry
    std::string subtitles;     // title text of the record
    bool subtitlePart = true;  // record header -1 (with subtitle part) or 0
};

// The fields of a record's 16-byte local time stamp.
struct LocalStamp {
    uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    uint32_t millisecond = 0;
};
// Local time of a Unix millisecond count through the C library (as the
// product's time stamps do on this platform).
LocalStamp LocalStampOf(int64_t unixMs);

enum class IndexForm { None, Binary, Portable };

struct ArchiveFileOptions {
    IndexForm index = IndexForm::Portable;
    std::optional<int32_t> archiveId;    // writes the 8-byte id header
    uint8_t closeFlag = 0;
    std::optional<uint32_t> frameCount;  // trailer count; default frames.size()
    std::optional<int32_t> storedType;   // stored index type; default by form
    bool badChecksum = false;            // trailer checksum off by one
    std::optional<int32_t> blobLength;   // trailer L; default the blob's size
    int64_t indexTimeShiftMs = 0;        // added to every index entry's time
    // Changes the encoded blob before it is written (damage tests).
    std::function<void(std::vector<uint8_t>&)> editBlob;
};

// Index entry as stored.
struct StoredEntry {
    uint64_t time = 0;
    uint64_t offset = 0;
    bool key = false;
};

// Codec video data helpers: payload, key byte (codecs with predicted frames),
// and the four-byte tag.
std::vector<uint8_t> MakeTaggedFrame(const std::vector<uint8_t>& payload, const char tag[4], bool keyByte);
std::vector<uint8_t> MakeH264Frame(const std::vector<uint8_t>& annexB, bool key); // tag "H264"
std::vector<uint8_t> MakeMjpegFrame(const std::vector<uint8_t>& jpeg);           // tag "JPEG"

// Encodings.
std::vector<uint8_t> EncodeFrameRecord(const ArchiveFrame& frame);
std::vector<uint8_t> EncodePortableInteger(int64_t value);
std::vector<uint8_t> EncodePortableIndexBlob(const std::vector<StoredEntry>& entries, uint8_t flagsByte = 0);
std::vector<uint8_t> EncodeBinaryIndexBlob(const std::vector<StoredEntry>& entries);
uint32_t ReferenceArchiveCrc(const uint8_t* data, size_t size);
std::array<uint8_t, 16> EncodeIndexTrailer(int32_t blobLength, int32_t storedType, bool badChecksum = false);

// A whole file. `entries`, when given, receives the index entries the file
// describes (before indexTimeShiftMs), whether or not an index is written.
std::vector<uint8_t> BuildArchiveFile(const std::vector<ArchiveFrame>& frames, const ArchiveFileOptions& options = {},
                                      std::vector<StoredEntry>* entries = nullptr);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);

// Simple synthetic frames: `count` frames from `startUnixMs`, `stepMs` apart,
// H.264-tagged with a key frame every `gop` frames, payload of `payloadSize`
// bytes derived from the frame number.
std::vector<ArchiveFrame> MakeSyntheticFrames(size_t count, int64_t startUnixMs, int64_t stepMs, size_t gop,
                                              size_t payloadSize);

// Real compressed video produced by the ffmpeg tool into `workDir`: testsrc
// frames at 160x120. Returns an empty list when ffmpeg is missing or fails.
// H.264 frames are access units in Annex B form (key = IDR), MJPEG frames are
// whole JPEG pictures (all key frames).
std::vector<ArchiveFrame> GenerateH264Frames(const std::string& workDir, int frameCount, int64_t startUnixMs,
                                             int64_t stepMs, int gop = 10);
// The same test picture at another size and rate of the test source. With
// headersOnEveryKey each key frame carries the stream's parameter sets, so
// that decoding can start at any key frame (a recorder's files).
struct H264Picture {
    int width = 160;
    int height = 120;
    int rate = 5;
    bool headersOnEveryKey = false;
};
std::vector<ArchiveFrame> GenerateH264Frames(const std::string& workDir, int frameCount, int64_t startUnixMs,
                                             int64_t stepMs, int gop, const H264Picture& picture);
std::vector<ArchiveFrame> GenerateMjpegFrames(const std::string& workDir, int frameCount, int64_t startUnixMs,
                                              int64_t stepMs);

// A fresh folder under the system's temporary folder, removed on destruction.
// Throws when the folder cannot be made, so that benchmarks stop too.
class ArchiveTempDir {
public:
    ArchiveTempDir();
    const std::string& Path() const { return m_dir.path(); }
    std::string File(const std::string& name) const { return m_dir / name; }

private:
    gavex_test::TempDir m_dir{"archive"};
};

} // namespace testsupport
