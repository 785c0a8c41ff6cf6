#pragma once

// Byte layout of an archive video file (all integers little-endian):
//
//   [archive id header]   8 bytes, only when the writer records an archive id:
//                         int32 0x0000FFFF (FF FF 00 00), int32 archive id
//   frame records         back to back from the data start (8 with the header,
//                         else 0); each is a VideoFrame::SerializeFile record
//   [index blob]          L bytes, 1 <= L <= 0xA00000, ends at size - 21
//   [index trailer]       16 bytes at size - 21:
//                           int32  L
//                           int32  stored index type (2 written, 1 read only)
//                           uint32 magic 0xFAFAFAFA
//                           uint32 ArchiveCrc32 of the 12 bytes above
//   frame count           int32 at size - 5
//   close flag            uint8 at size - 1 (0 or 1)
//
// A file without index blob and index trailer ends with its last frame record
// followed directly by the frame count and close flag; it is read by walking
// the frame records. A file is readable only with a frame count of 1..100000
// and a close flag of 0 or 1.

#include "archive/files/FramesIndex.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

constexpr int32_t kArchiveIdHeaderMark = 0x0000FFFF;
constexpr int64_t kArchiveIdHeaderSize = 8;
constexpr int64_t kVideoFileTrailerSize = 21;   // index trailer + count + flag
constexpr int64_t kIndexTrailerSize = 16;
constexpr int64_t kCountAndFlagSize = 5;
constexpr uint32_t kIndexTrailerMagic = 0xFAFAFAFAu;
constexpr int32_t kMaxIndexBlobSize = 0xA00000;
constexpr uint32_t kMaxFileFrameCount = 100000;

// Stored index types of the trailer.
constexpr int32_t kStoredIndexBinary = 1;   // boost binary archive, read only
constexpr int32_t kStoredIndexPortable = 2; // portable binary archive, as written

// Reader type keys (the value of IFramesReader::GetReaderType).
enum ReaderTypeKey : int {
    kReaderNull = 0,            // file rejected / NullFramesReader
    kReaderCached = 1,          // no usable index: FramesReaderCached
    kReaderIndexedSimple = 2,   // boost binary index
    kReaderIndexedPortable = 3, // portable binary index
};

// The 16 bytes at size - 21.
struct IndexTrailer {
    int32_t blobLength = 0;
    int32_t storedType = 0;
    uint32_t magic = 0;
    uint32_t checksum = 0;

    // A trailer for a blob of `blobLength` bytes with its checksum filled in.
    static IndexTrailer Make(int32_t blobLength, int32_t storedType);
    static IndexTrailer Parse(const uint8_t* bytes16);
    std::array<uint8_t, 16> Bytes() const;

    // The checksum over the first 12 bytes as they would be stored.
    uint32_t ComputeChecksum() const;
    // Magic and checksum right, and the blob fits in front of the trailer.
    bool IsValidFor(int64_t fileSize) const;
};

// Frame count and close flag validity shared by every reader.
bool IsValidFileTrailer(uint64_t frameCount, uint32_t closeFlag);

// Reader key of a stored index type (1 -> 2, 2 -> 3); nullopt for others.
std::optional<int> ReaderKeyForStoredType(int32_t storedType);

namespace platform {
class File;
}

// Appends the final data of a finished file at its end, in this order: the
// index blob (portable form), the index trailer (L, type 2, magic, checksum)
// in one write, the frame count, the close flag. Raises
// platform::FileException for a file error and
// boost::archive::archive_exception when the index cannot be serialised; the
// recorder catches both. L is not checked against kMaxIndexBlobSize (the
// recorder's frame limit keeps it far below).
void AppendVideoFileFinalData(platform::File& file, int32_t frameCount, uint8_t closeFlag, const FramesIndex& index);

// Reader key for a file from its size and last 21 bytes: 0 for a file of at
// most 4 bytes or one that cannot be opened, 1 for a file without a valid
// index trailer, else the key of the stored type (0 when unknown).
int detectVideoFileType(const std::string& path);
// The same for a file already opened (a closed one gives 0); reads through
// positional reads, so the file's position is left alone.
int detectVideoFileType(const platform::File& file);
