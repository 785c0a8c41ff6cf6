#pragma once

// Builds whole archive trees on disk for tests and benchmarks: the archive
// folder of a drive (DRIVE/VIDEO or the drive itself), one folder per local
// hour "DD-MM-YY HH" holding the archive files "ID._CC", and the record index
// files INDEX/DDMMYYHH.idx of every hour, encoded here byte by byte from the
// stored layout (independently of the product's writer). Local time is the
// C library's (TZ).

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// One record of an index file as stored (any version).
struct IdxRecord {
    uint32_t beginS = 0;
    uint32_t endS = 0;
    uint32_t fileId = 0;
    uint8_t volume = 0;
    uint32_t beginMsPart = 0;  // not stored in version 0xAAFF
    uint32_t endMsPart = 0;    // not stored in version 0xAAFF
    uint32_t camera = 0;       // u16 in 0xAAFF and 0xAB00, u32 in 0xAB01
};

// The version word followed by every record in that version's layout.
std::vector<uint8_t> EncodeIdxFile(uint32_t version, const std::vector<IdxRecord>& records);

// "DD-MM-YY HH" and "DDMMYYHH" of the local hour holding a Unix ms time.
std::string LocalHourFolder(int64_t unixMs);
std::string LocalIndexName(int64_t unixMs);
// "1A2B._05"; cameras above 99: camera + 60 in upper-case hex ("1A2B._A0").
std::string ArchiveFileName(int camera, uint32_t fileId);
// Unix ms of a local date and time (C library mktime, DST decided by it).
int64_t LocalUnixMs(int year, int month, int day, int hour, int minute = 0, int second = 0, int ms = 0);

struct TreeRecord {
    int camera = 1;
    uint32_t fileId = 1;
    int64_t beginMs = 0;  // Unix ms
    int64_t endMs = 0;
};

class ArchiveTree {
public:
    // videoFolder: the archive folder is root/VIDEO, else root itself.
    explicit ArchiveTree(std::string root, bool videoFolder = true);

    const std::string& Root() const { return m_root; }
    std::string ArchiveFolder() const;
    std::string IndexFolder() const { return ArchiveFolder() + "/INDEX"; }

    // Creates the hour folder and a small placeholder archive file, and keeps
    // the record for WriteIndexes.
    void Add(const TreeRecord& record);
    // Writes INDEX/DDMMYYHH.idx for every hour folder that has records, in
    // the given version; the stored volume byte is `volumeByte`.
    void WriteIndexes(uint32_t version = 0xAB01, uint8_t volumeByte = 0);
    size_t RecordCount() const;

private:
    std::string m_root;
    bool m_videoFolder;
    std::map<std::string, std::vector<IdxRecord>> m_hours;  // hour folder -> records
};

// cameras x days x 24 hours x filesPerHour records of `fileMs` length each,
// from local midnight of the given day, spread over the drives round-robin
// by hour; returns the number of records.
size_t BuildSyntheticArchive(const std::vector<std::string>& drives, int cameras, int days, int filesPerHour,
                             int year, int month, int day);

// Writes the bytes to a file, creating missing folders.
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void MakeFolders(const std::string& path);

}  // namespace testsupport
