#pragma once
// Record index files: INDEX/DDMMYYHH.idx lists the archive video files of one
// hour folder (all cameras) so that the engine can build its record
// directories without opening any video file.
//
// Layout (little-endian, unsigned, no padding, no entry count):
//   u32 version word, then entries up to the end of the file; a trailing
//   piece shorter than a whole entry is ignored.
//
//   version  entry body                               camera id   entry size
//   0xAAFF   begin s, end s, file id (u32 each), u8   u16         15
//   0xAB00   as 0xAAFF + begin ms, end ms (u32 each)  u16         23
//   0xAB01   as 0xAB00                                u32         25
//
//   begin s / end s: whole seconds since 1970-01-01 UTC; begin ms / end ms:
//   the millisecond remainders (0..999); file id: the hexadecimal number in
//   the archive file's name; u8: the volume the entry was written on (a
//   reader replaces it by the volume it read the file from).
// Every writer here writes 0xAB01.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "archive/files/Dir.h"

inline constexpr uint32_t INDEX_VERSION_1 = 0xAAFF;
inline constexpr uint32_t INDEX_VERSION_2 = 0xAB00;
inline constexpr uint32_t INDEX_VERSION_3 = 0xAB01;

// One record of an index file: the directory entry and its camera.
struct IndexEntry {
    VindaraFileSystem::DirEntry entry;
    int32_t cameraId = 0;
};

// Size of an entry's body (without the camera id) for a version word.
inline size_t IndexBodySize(uint32_t version) { return version == INDEX_VERSION_1 ? 13 : 21; }
inline size_t IndexCameraIdSize(uint32_t version) { return version == INDEX_VERSION_3 ? 4 : 2; }

// The bytes of one entry in the newest version (body and u32 camera id).
void AppendIndexEntryBytes(std::vector<uint8_t>& out, const IndexEntry& entry);
// A whole file: the version word 0xAB01 and every entry.
std::vector<uint8_t> EncodeIndexFile(const std::vector<IndexEntry>& entries);

// "25052213" -> "25-05-22 13": the hour folder of an index file name (the
// first eight characters are used; shorter names give "").
std::string IndexNameToHourFolder(const std::string& name);
// "25-05-22 13" -> "25052213.idx".
std::string HourFolderToIndexName(const std::string& hourFolder);
// The date of every entry of an index file: Unix milliseconds of the start of
// the local hour its name gives ("25052213.idx"); 0 for a name that is none.
uint64_t IndexFileDate(const std::string& fileName);

// Shared by the per-volume tasks of one on-demand hour load.
struct HourLoadTask {
    std::vector<std::string> hourNames;  // DDMMYYHH of each local hour the UTC hour overlaps
    int camera = 0;
    int hour = 0;  // Unix hour number the records are loaded for
    VindaraFileSystem::DirEntrySet* entries = nullptr;  // the camera directory's entries
    VindaraFileSystem::VolumeCounts* counts = nullptr;  // volume -> entries of the camera found
    std::mutex mutex;                                   // guards entries, counts and total
    uint64_t total = 0;
};
