// Re-indexing one folder of a volume from its archive video files.

#include "archive/fs/Reindex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>
#include <stdexcept>

#include <boost/format.hpp>

#include "archive/files/DynamicFramesReader.h"
#include "archive/files/FastIndex.h"
#include "archive/files/FramesReaderFile.h"
#include "archive/files/FramesReaderIndexed.h"
#include "archive/files/Volume.h"
#include "archive/files/VolumePaths.h"
#include "archive/fs/FileSystem.h"
#include "base/Log.h"
#include "base/Tss.h"
#include "base/VideoFrame.h"
#include "platform/Dir.h"
#include "platform/File.h"

namespace {

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

constexpr uint64_t kDayMs = 24 * uint64_t(kMsPerHour);
constexpr size_t kProtectedPrefix = 12;  // "DD-MM-YY HH "

struct FileTimes {
    bool hasBirth = false;
    uint64_t birth = 0;
    uint64_t modified = 0;
};

FileTimes StatFileTimes(const std::string& path) {
    FileTimes times;
    struct statx stx;
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &stx) != 0) return times;
    auto ms = [](const statx_timestamp& t) {
        return t.tv_sec < 0 ? 0 : static_cast<uint64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
    };
    if (stx.stx_mask & STATX_MTIME) times.modified = ms(stx.stx_mtime);
    if ((stx.stx_mask & STATX_BTIME) && (stx.stx_btime.tv_sec != 0 || stx.stx_btime.tv_nsec != 0)) {
        times.hasBirth = true;
        times.birth = ms(stx.stx_btime);
    }
    return times;
}

bool InHour(uint64_t t, uint64_t hourStart) {
    return hourStart != 0 && t >= hourStart && t < hourStart + uint64_t(kMsPerHour);
}

// Unix ms of the start of the local hour an hour folder name stands for; 0
// when the text is no hour folder name.
uint64_t HourStartOf(const std::string& hourFolder) {
    TSS local;
    if (!ParseHourFolderName(hourFolder, local)) return 0;
    const uint64_t archiveMs = local.ToUtcMilliseconds();
    return archiveMs > kArchiveUnixOffsetMs ? archiveMs - kArchiveUnixOffsetMs : 0;
}

// The record end when the frames gave the begin: the last frame, else a
// last-write time that can belong to this file, else the begin itself.
uint64_t PlausibleEnd(uint64_t begin, bool hasLast, uint64_t last, uint64_t modified) {
    if (hasLast && last >= begin) return last;
    if (modified >= begin && modified - begin <= kDayMs) return modified;
    return begin;
}

}  // namespace

int ParseChannelSuffix(const std::string& text) {
    if (text.size() == 2 && std::isdigit(static_cast<unsigned char>(text[0])) &&
        std::isdigit(static_cast<unsigned char>(text[1])))
        return (text[0] - '0') * 10 + (text[1] - '0');
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 16) - 60);
}

namespace {

// Read-ahead for the first record's header: one small read at the start.
constexpr size_t kTimesBlock = 4096;

// A file as a listing of its open folder gave it.
struct ListedFile {
    int dirFd = -1;
    const std::string* name = nullptr;
    uint64_t size = 0;
};

void OpenForTimes(FramesReaderFile& file, const std::string& path, const ListedFile* listed = nullptr) {
    platform::FileException openError(platform::FileException::none, 0, path);
    const bool opened = listed ? file.OpenAt(listed->dirFd, *listed->name, path, listed->size, &openError)
                               : file.Open(path, platform::File::modeRead | platform::File::typeBinary, &openError);
    if (!opened) throw openError;
}

// The first record of an open file, read through its block buffer (header
// only).
struct FirstRecord {
    uint64_t unixMs = 0;
    uint64_t offset = 0;
    uint64_t end = 0;
    TSS time;
};

FirstRecord ReadFirstRecord(FramesReaderFile& file, const std::string& path) {
    // An archive id header (0x0000FFFF, id) comes before the first record.
    uint8_t head[4] = {};
    const size_t got = file.Read(head, sizeof head);
    const bool idHeader = got == 4 && head[0] == 0xFF && head[1] == 0xFF && head[2] == 0 && head[3] == 0;
    FirstRecord first;
    first.offset = idHeader ? 8 : 0;
    file.Seek(static_cast<int64_t>(first.offset), platform::File::begin);
    VideoFramePtr frame(new VideoFrame(), false);
    frame->SerializeFile(file, true, false);
    const int64_t t = frame->GetTimestamp();
    if (t <= 0) platform::ArchiveException::Throw(platform::ArchiveException::genericException, path);
    first.unixMs = static_cast<uint64_t>(t);
    first.end = file.GetPosition();
    first.time = frame->m_tssTime;
    return first;
}

bool UnixMsOfLastFrame(const TSS& last, uint64_t& unixMs) {
    if (!last.IsValidDate()) return false;
    const uint64_t archiveMs = last.ToUtcMilliseconds();
    if (archiveMs <= kArchiveUnixOffsetMs) return false;
    unixMs = archiveMs - kArchiveUnixOffsetMs;
    return true;
}

// The last frame's time through a full reader; `opened` (open at path) is
// taken over when given.
bool LastFrameTimeOf(const std::string& path, FramesReaderFile* opened, uint64_t& unixMs) {
    try {
        DynamicFramesReader reader(false);
        if (!(opened ? reader.Open(path, 0, *opened) : reader.Open(path, 0))) return false;
        const uint64_t count = reader.GetFrameCount();
        if (count == 0) return false;
        const TSS last = reader.GetFrameTime(count - 1);
        reader.Close();
        return UnixMsOfLastFrame(last, unixMs);
    } catch (...) {
        return false;
    }
}

// The last frame's time of a file open at path whose first record is known:
// from the file's end when its index tells, else through a full reader
// (which takes the file over).
bool LastFrameTimeOf(const std::string& path, FramesReaderFile& file, const FirstRecord& first, uint64_t& unixMs) {
    if (const std::optional<TSS> last = IndexedLastFrameTime(file, first.offset, first.end, first.time)) {
        try {
            return UnixMsOfLastFrame(*last, unixMs);
        } catch (...) {
            return false;
        }
    }
    return LastFrameTimeOf(path, &file, unixMs);
}

}  // namespace

uint64_t ReadFirstFrameTime(const std::string& path) {
    FramesReaderFile file(kTimesBlock);
    OpenForTimes(file, path);
    return ReadFirstRecord(file, path).unixMs;
}

bool ReadLastFrameTime(const std::string& path, uint64_t& unixMs) {
    FramesReaderFile file(kTimesBlock);
    FirstRecord first;
    try {
        OpenForTimes(file, path);
        first = ReadFirstRecord(file, path);
    } catch (...) {
        // No readable first record: the full reader decides on its own.
        return LastFrameTimeOf(path, nullptr, unixMs);
    }
    return LastFrameTimeOf(path, file, first, unixMs);
}

namespace {

ArchiveFileTimes ResolveWithTimes(const std::string& path, uint64_t hourStartUnixMs, const FileTimes& times,
                                  const ListedFile* listed = nullptr) {
    ArchiveFileTimes result;
    if (times.hasBirth && InHour(times.birth, hourStartUnixMs)) {
        result.begin = times.birth;
        result.end = times.modified;
        result.source = ArchiveTimeSource::FileTimes;
        return result;
    }
    try {
        // One open serves both times.
        FramesReaderFile file(kTimesBlock);
        OpenForTimes(file, path, listed);
        const FirstRecord first = ReadFirstRecord(file, path);
        result.begin = first.unixMs;
        uint64_t last = 0;
        const bool hasLast = LastFrameTimeOf(path, file, first, last);
        result.end = PlausibleEnd(result.begin, hasLast, last, times.modified);
        result.source = ArchiveTimeSource::Frames;
        return result;
    } catch (const std::bad_alloc&) {
        result.errorKind = 1;
        result.error = "out of memory";
    } catch (const platform::FileException& ex) {
        result.errorKind = 2;
        result.error = ex.GetErrorMessage();
    } catch (const platform::ArchiveException& ex) {
        result.errorKind = 3;
        result.error = ex.GetErrorMessage();
    } catch (const std::exception& ex) {
        result.errorKind = 3;
        result.error = ex.what();
    }
    // The file stays in the records: with the time the folder vouches for.
    result.source = ArchiveTimeSource::Fallback;
    if (InHour(times.modified, hourStartUnixMs))
        result.begin = times.modified;
    else if (hourStartUnixMs != 0)
        result.begin = hourStartUnixMs;
    else
        result.begin = times.hasBirth ? times.birth : times.modified;
    result.end = PlausibleEnd(result.begin, false, 0, times.modified);
    return result;
}

}  // namespace

ArchiveFileTimes ResolveArchiveFileTimes(const std::string& path, uint64_t hourStartUnixMs) {
    return ResolveWithTimes(path, hourStartUnixMs, StatFileTimes(path));
}

namespace {

FileTimes ListedTimes(int64_t createdUnixMs, int64_t modifiedUnixMs) {
    FileTimes times;
    times.hasBirth = createdUnixMs > 0;
    times.birth = times.hasBirth ? static_cast<uint64_t>(createdUnixMs) : 0;
    times.modified = modifiedUnixMs > 0 ? static_cast<uint64_t>(modifiedUnixMs) : 0;
    return times;
}

}  // namespace

ArchiveFileTimes ResolveArchiveFileTimes(const std::string& path, uint64_t hourStartUnixMs, int64_t createdUnixMs,
                                         int64_t modifiedUnixMs) {
    return ResolveWithTimes(path, hourStartUnixMs, ListedTimes(createdUnixMs, modifiedUnixMs));
}

ArchiveFileTimes ResolveArchiveFileTimes(int dirFd, const std::string& name, const std::string& path,
                                         uint64_t hourStartUnixMs, int64_t createdUnixMs, int64_t modifiedUnixMs,
                                         uint64_t size) {
    const ListedFile listed{dirFd, &name, size};
    return ResolveWithTimes(path, hourStartUnixMs, ListedTimes(createdUnixMs, modifiedUnixMs), &listed);
}

bool IsFolderWritable(const std::string& folder) {
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
    struct statvfs vfs;
    if (::statvfs(folder.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY)) return false;
    return ::access(folder.c_str(), W_OK) == 0;
}

bool FileSystem::ReindexFolder(uint8_t volumeIndex, const std::string& folder, bool writeIndex, uint64_t* counter,
                               bool indexOnly, bool appendFastIndex) {
    const auto started = std::chrono::steady_clock::now();
    std::string volumePath;
    try {
        volumePath = GetVolumePath(volumeIndex);
    } catch (const std::out_of_range&) {
        QOR_LOG_ERROR(Log(), "[FS][RE-INDEX] %s:: no volume %d to re-index \"%s\".", m_name.c_str(), int(volumeIndex),
                      folder.c_str());
        return false;
    }
    const bool isProtected = folder == "PROTECTED";
    const std::string folderPath = isProtected ? VolumePaths::ChildNoCase(volumePath, "PROTECTED")
                                               : platform::JoinPath(volumePath, folder);
    const std::string indexFolder = VolumePaths::ChildNoCase(volumePath, "INDEX");
    const uint64_t folderHourStart = isProtected ? 0 : HourStartOf(folder);

    std::vector<IndexEntry> entries;
    std::set<uint64_t> seen;
    uint64_t count = 0;
    // Hours new to a camera's directory, added to the fast index in one
    // append after the listing.
    std::vector<FastIndexHourEntry> newHours;
    int indexFolderWritable = -1;  // checked once, when first needed
    const auto indexWritable = [&] {
        if (indexFolderWritable < 0) indexFolderWritable = IsFolderWritable(indexFolder) ? 1 : 0;
        return indexFolderWritable == 1;
    };

    // The folder stays open while its files are read, so that each is opened
    // by its name in it rather than by its whole path.
    struct FolderFd {
        int fd;
        ~FolderFd() {
            if (fd >= 0) ::close(fd);
        }
    } folderFd{::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    for (const auto& item : platform::ListDirectory(folderPath)) {
        const std::string& name = item.name;
        if (item.isDirectory) continue;
        const size_t suffix = name.find("._");
        if (suffix == std::string::npos) continue;
        if (isProtected && name.size() <= kProtectedPrefix) continue;

        const std::string hourText = isProtected ? name.substr(0, 11) : folder;
        const int camera = ParseChannelSuffix(name.substr(suffix + 2));
        const int64_t fileId =
            std::strtol(name.c_str() + (isProtected ? kProtectedPrefix : 0), nullptr, 16);

        // Only the exact name the volume gives this camera and id is taken;
        // the check comes first so that strays are never opened.
        if (!isProtected) {
            SyncLock lock(m_volumesLock);
            if (volumeIndex >= m_volumes.size()) break;
            if (platform::FileNamePart(m_volumes[volumeIndex].GetFilePath(camera, fileId, folder, kVideoLetter)) != name)
                continue;
        }
        if (!isProtected && !seen.insert((uint64_t(uint32_t(camera)) << 32) + uint64_t(fileId)).second) continue;

        const std::string filePath = platform::JoinPath(folderPath, name);
        const uint64_t hourStart = isProtected ? HourStartOf(hourText) : folderHourStart;
        const ArchiveFileTimes times =
            folderFd.fd >= 0 ? ResolveArchiveFileTimes(folderFd.fd, name, filePath, hourStart, item.createdUnixMs,
                                                       item.modifiedUnixMs, item.size)
                             : ResolveArchiveFileTimes(filePath, hourStart, item.createdUnixMs, item.modifiedUnixMs);
        if (times.source == ArchiveTimeSource::Fallback) {
            static const char* const kKinds[] = {"FORMAT", "MEMORY", "FILE", "FORMAT"};
            QOR_LOG_ERROR(Log(), "[FS] %s:: File %s not read, exception %s", m_name.c_str(), filePath.c_str(),
                          times.error.substr(0, 1024).c_str());
            ErrorReported(-1,
                          str(boost::format("%s::%s File: %s not read, exception: %s") % m_name %
                              kKinds[times.errorKind & 3] % filePath % times.error.substr(0, 1024))
                              .c_str(),
                          static_cast<unsigned long>(-1));
        }

        IndexEntry record;
        record.cameraId = camera;
        record.entry.begin = times.begin;
        record.entry.end = times.end;
        record.entry.fileId = static_cast<uint32_t>(fileId);
        record.entry.volumeIndex = volumeIndex;
        record.entry.isProtected = isProtected ? 1 : 0;
        record.entry.fileSize = item.size;
        record.entry.date = hourStart;

        if (isProtected) {
            if (!indexOnly) {
                auto dir = GetCameraDir(camera, true);
                // The protected copy's record replaces the one stored.
                if (!dir->AddEntry(record.entry)) {
                    dir->RemoveEntry(record.entry);
                    dir->AddEntry(record.entry);
                }
            }
        } else if (!indexOnly) {
            const int32_t hour = record.entry.Hour();
            auto dir = GetCameraDir(camera, true);
            const bool had = dir->HasHourOnVolume(hour, volumeIndex);
            dir->AddEntry(record.entry);
            if (!had) newHours.push_back(FastIndexHourEntry{0, camera, hour});
        }
        if (writeIndex) entries.push_back(record);
        ++count;
    }

    // A read-only volume keeps its fast index; the loading and rebuilding
    // tasks say so once per volume.
    if (appendFastIndex && !newHours.empty() && indexWritable()) AppendFastIndexEntries(volumePath, newHours);

    std::string baseName;
    for (char c : folder)
        if (c != '-' && c != ' ') baseName += c;
    const std::string indexPath = platform::JoinPath(indexFolder, baseName + ".idx");

    SyncLock lock(m_indexFilesLock);
    if (writeIndex) {
        if (!indexWritable()) {
            Log()->Warning("[FS][RE-INDEX] %s:: read-only volume, index file \"%s\" not written.", m_name.c_str(),
                           indexPath.c_str());
            return false;
        }
        if (!SaveIndexFile(indexPath, entries)) return false;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    Log()->Trace("[FS][RE-INDEX] %s:: \tfinished building index %s. %u files parsed. Time %f sec.", m_name.c_str(),
                 baseName.c_str(), static_cast<unsigned>(count), seconds);
    if (counter) *counter += count;
    return true;
}
