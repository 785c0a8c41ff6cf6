#pragma once
// The fast index of a volume: INDEX/fastIndex.index lists, per camera, the
// hours (UTC hour numbers since 1970) in which the volume holds recordings,
// so that the archive opens without reading every record index file.
//
// Layout (little-endian, no padding):
//   header, 106 bytes: "FAST_INDEX" (10 bytes, no terminator), u64 version 2,
//                      u64 creation time (UTC ms since 1970), 80 zero bytes;
//   entries, 9 bytes each, in the order written:
//                      u8 reserved (0), i32 camera id, i32 hour number.
// The same camera and hour may appear more than once; readers collect sets.
// A trailing partial entry (an append cut short) is ignored.
//
// Callers serialise the operations per volume; nothing here locks.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

struct FastIndexHourEntry {
    uint8_t reserved = 0;
    int32_t cameraId = 0;
    int32_t hour = 0;
};

inline constexpr const char* kFastIndexFileName = "fastIndex.index";
inline constexpr size_t kFastIndexHeaderSize = 106;
inline constexpr size_t kFastIndexEntrySize = 9;
inline constexpr uint64_t kFastIndexVersion = 2;

using FastIndexMap = std::map<int32_t, std::set<int32_t>>;

// archiveFolder/INDEX/fastIndex.index (an existing INDEX folder is found
// whatever the case of its name).
std::string FastIndexPath(const std::string& archiveFolder);

// The 106 header bytes with the given creation time.
std::vector<uint8_t> BuildFastIndexHeader(uint64_t createdUnixMs);
void AppendFastIndexEntryBytes(std::vector<uint8_t>& out, const FastIndexHourEntry& entry);
// Sizes of the pieces a save writes the entry block in.
std::vector<size_t> FastIndexChunkSizes(size_t total, int chunkSizeMb);

// Rewrites the file; an empty list deletes it. The entries go out as one
// block, or in pieces of chunkSizeMb MiB when the block is at least that big
// (chunkSizeMb <= 0: one block). Failures are logged.
void SaveFastIndex(const std::string& archiveFolder, const std::vector<FastIndexHourEntry>& entries,
                   int chunkSizeMb);
// Appends one entry, writing a header first into an empty file. false when
// the file cannot be opened or the entry was not written in full.
bool AppendFastIndexEntry(const std::string& archiveFolder, const FastIndexHourEntry& entry);
// Appends several entries with one write, as AppendFastIndexEntry.
bool AppendFastIndexEntries(const std::string& archiveFolder, const std::vector<FastIndexHourEntry>& entries);
// Adds every entry to `hours` (camera -> hour numbers). false for a missing
// file or one whose header is not "FAST_INDEX" version 2.
bool LoadFastIndex(const std::string& archiveFolder, uint64_t& fileSize, FastIndexMap& hours);
bool DeleteFastIndex(const std::string& archiveFolder);
