#pragma once
// A small recorder archive for the record housekeeping tests (local time zone
// UTC+2 while a fixture lives), all on 2024-03-05:
//   drive 0: camera 1  file 1  10:00:00, file 2  10:00:05   (hour 10)
//                      file 3  11:00:00                    (hour 11)
//            camera 2  file 4  10:30:00                    (hour 10)
//                      file 6  12:00:00                    (hour 12)
//   drive 1: camera 1  file 5  13:00:00                    (hour 13; only with two drives)
// Every file holds 20 frames 100 ms apart with a key frame every 10.

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "archive/files/Volume.h"
#include "archive/fs/FileSystem.h"
#include "base/Tss.h"
#include "base/VideoFrame.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"
#include "support/TempDir.h"

namespace housekeeping {

struct Record {
    int camera;
    uint32_t fileId;
    int drive;
    int64_t beginMs;  // Unix ms
};

inline int64_t At(int hour, int minute, int second, int ms = 0) {
    return testsupport::LocalUnixMs(2024, 3, 5, hour, minute, second, ms);
}

class Archive {
public:
    explicit Archive(bool twoDrives = false) {
        m_drives.push_back(m_tmp.path() + "/d0");
        if (twoDrives) m_drives.push_back(m_tmp.path() + "/d1");
        m_records = {{1, 1, 0, At(10, 0, 0)}, {1, 2, 0, At(10, 0, 5)}, {1, 3, 0, At(11, 0, 0)},
                     {2, 4, 0, At(10, 30, 0)}, {2, 6, 0, At(12, 0, 0)}};
        if (twoDrives) m_records.push_back({1, 5, 1, At(13, 0, 0)});
        for (size_t d = 0; d < m_drives.size(); ++d) {
            testsupport::ArchiveTree tree(m_drives[d]);
            for (const auto& r : m_records) {
                if (r.drive != static_cast<int>(d)) continue;
                tree.Add({r.camera, r.fileId, r.beginMs, r.beginMs + 1900});
                testsupport::WriteBytes(Path(r),
                                        testsupport::BuildArchiveFile(
                                            testsupport::MakeSyntheticFrames(20, r.beginMs, 100, 10, 64)));
            }
            tree.WriteIndexes(0xAB01, static_cast<uint8_t>(d));
        }
    }

    std::set<std::string> Drives() const { return {m_drives.begin(), m_drives.end()}; }
    std::string Folder(int drive = 0) const { return m_drives[drive] + "/VIDEO"; }
    std::string HourFolder(int64_t unixMs, int drive = 0) const {
        return Folder(drive) + "/" + testsupport::LocalHourFolder(unixMs);
    }
    std::string IndexFile(int64_t unixMs, int drive = 0) const {
        return Folder(drive) + "/INDEX/" + testsupport::LocalIndexName(unixMs) + ".idx";
    }
    const Record& Get(uint32_t fileId) const {
        for (const auto& r : m_records)
            if (r.fileId == fileId) return r;
        throw std::out_of_range("no such record");
    }
    // Where the record's video file lies in its hour folder.
    std::string Path(const Record& r) const {
        return HourFolder(r.beginMs, r.drive) + "/" + testsupport::ArchiveFileName(r.camera, r.fileId);
    }
    std::string Path(uint32_t fileId) const { return Path(Get(fileId)); }
    // Where its protected copy lies: PROTECTED/"DD-MM-YY HH ID._CC".
    std::string ProtectedPath(uint32_t fileId) const {
        const Record& r = Get(fileId);
        return Folder(r.drive) + "/PROTECTED/" + testsupport::LocalHourFolder(r.beginMs) + " " +
               testsupport::ArchiveFileName(r.camera, r.fileId);
    }
    const std::string& Root() const { return m_tmp.path(); }

private:
    enginetest::ScopedTimeZone m_zone{"GVX-2"};
    gavex_test::TempDir m_tmp{"housekeeping"};
    std::vector<std::string> m_drives;
    std::vector<Record> m_records;
};

// "time DD-MM-YY hh:mm:ss.mmm" of a Unix ms time in local time.
inline std::string TimeText(int64_t unixMs) {
    const TSS t = TSS::FromUtc(static_cast<uint64_t>(unixMs) + kArchiveUnixOffsetMs);
    char text[64];
    std::snprintf(text, sizeof text, "time %02u-%02u-%02u %02u:%02u:%02u.%03u", t.wDay, t.wMonth, t.wYear % 100,
                  t.wHour, t.wMinute, t.wSecond, t.dwMilliseconds);
    return text;
}

// Runs one command of the player interface with a command frame; the result,
// the frame's text afterwards in *text and the error text in *error.
inline int Command(FileSystem& engine, int camera, unsigned code, const std::string& request,
                   std::string* error = nullptr, int64_t* frameMs = nullptr, const std::string& slaveId = "") {
    VideoFramePtr frame(new VideoFrame("", camera), false);
    frame->m_sFileId = request;
    std::string failure;
    const int result = engine.ExecuteCommand(slaveId, frame.get(), code, {}, -1, 0, &failure);
    if (error) *error = failure;
    if (frameMs) *frameMs = static_cast<int64_t>(frame->m_tssTime.ToUtcMilliseconds() - kArchiveUnixOffsetMs);
    return result;
}

// The frame read at a time: its Unix ms, or -1 when the read failed.
inline int64_t ReadAt(FileSystem& engine, int camera, int64_t unixMs, const std::string& slaveId = "") {
    int64_t frameMs = -1;
    if (!Command(engine, camera, 8, TimeText(unixMs), nullptr, &frameMs, slaveId)) return -1;
    return frameMs;
}

// Begin times (Unix ms) of a camera's records in the engine's directory.
inline std::vector<int64_t> RecordBegins(FileSystem& engine, int camera) {
    std::vector<int64_t> begins;
    if (auto dir = engine.FindCameraDir(camera))
        dir->ForEachEntry(0, 0, [&begins](const VindaraFileSystem::DirEntry& e) {
            begins.push_back(static_cast<int64_t>(e.begin));
            return true;
        });
    return begins;
}

// (camera, begin s) of every record of an index file.
inline std::set<std::pair<int, int64_t>> IndexRecords(FileSystem& engine, const std::string& path) {
    std::vector<IndexEntry> entries;
    engine.LoadIndex(0, path, entries);
    std::set<std::pair<int, int64_t>> records;
    for (const auto& e : entries) records.emplace(e.cameraId, static_cast<int64_t>(e.entry.begin / 1000));
    return records;
}

// Replaces the process's volume thresholds for its lifetime: with `full`
// every mounted volume counts as full, else none does.
class ScopedVolumeThresholds {
public:
    explicit ScopedVolumeThresholds(bool full) : m_saved(GetVolumeSettings()) {
        VolumeSettings settings = m_saved;
        settings.freeMB = settings.archFreeMB = full ? 4000000000u : 0u;
        settings.freeMBCritical = 0;
        SetVolumeSettings(settings);
    }
    ~ScopedVolumeThresholds() { SetVolumeSettings(m_saved); }
    ScopedVolumeThresholds(const ScopedVolumeThresholds&) = delete;
    ScopedVolumeThresholds& operator=(const ScopedVolumeThresholds&) = delete;

private:
    VolumeSettings m_saved;
};

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

}  // namespace housekeeping
