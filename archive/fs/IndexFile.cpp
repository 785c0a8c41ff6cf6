// Record index files: reading, writing, appending, the hour-detail cache and
// the plain per-volume load from .idx files.

#include "archive/fs/IndexFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <boost/format.hpp>

#include "archive/fs/FileSystem.h"
#include "base/Log.h"
#include "base/Tss.h"
#include "base/Utilities.h"
#include "platform/Dir.h"
#include "platform/File.h"

using VindaraFileSystem::DirEntry;

namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t GetU32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// An index lists the files of one hour, 25 bytes each: anything larger is
// not an index, whatever it holds.
constexpr off_t kMaxIndexFileSize = 64 * 1024 * 1024;

// Whole file into memory; false when it cannot be opened, is not a regular
// file, is empty or is larger than any index. `name` is opened relative to
// the folder `dirFd` (AT_FDCWD for a full path), without waiting for a writer
// of a FIFO. `knownRegular`: the folder listing said the entry is a regular
// file, so the file is not looked at before reading; a read shorter than
// asked then ends it (what a regular file gives at its end), and only a file
// that fills the buffer is asked its size. Otherwise the buffer is sized from
// the open file's own size, never from a seek (a folder or a device "seeks"
// to LONG_MAX). The file's bytes are the first `size` of `buffer`, which only
// ever grows, so that a buffer kept between calls is neither filled nor
// allocated again. A read error after a successful open throws the file
// exception.
bool ReadWholeFile(int dirFd, const char* name, bool knownRegular, const std::string& path,
                   std::vector<uint8_t>& buffer, size_t& size) {
    size = 0;
    const int fd = ::openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    size_t want = 0;  // 0: until the end of the file
    if (!knownRegular) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
        if (st.st_size <= 0 || st.st_size > kMaxIndexFileSize) return false;
        want = static_cast<size_t>(st.st_size);
    }
    constexpr size_t kFirstRead = 64 * 1024;
    const size_t need = want ? want : kFirstRead;
    if (buffer.size() < need) buffer.resize(need);
    size_t limit = want ? want : buffer.size();
    // A file that shrank since fstat gives what is left; one that grew gives
    // the size fstat saw.
    while (size < limit) {
        const ssize_t n = ::read(fd, buffer.data() + size, limit - size);
        if (n < 0) {
            if (errno == EINTR) continue;
            // The entry became a folder since it was listed.
            if (errno == EISDIR) return false;
            platform::FileException::ThrowErrno(errno, path);
        }
        if (n == 0) break;
        size += static_cast<size_t>(n);
        if (want) continue;
        if (size < limit) break;
        // The buffer is full: the file's size says how much more there is.
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxIndexFileSize) {
            size = 0;
            return false;
        }
        want = std::max(static_cast<size_t>(st.st_size), size);
        if (want == size) break;
        if (buffer.size() < want) buffer.resize(want);
        limit = want;
    }
    return size > 0;
}

// The INDEX folder of an archive folder, in the spelling found on disk.
std::string IndexFolderOf(const std::string& archiveFolder) {
    std::string exact = platform::JoinPath(archiveFolder, "INDEX");
    if (platform::IsDirectory(exact)) return exact;
    if (auto found = platform::FindChildNoCase(archiveFolder, "INDEX")) return platform::JoinPath(archiveFolder, *found);
    return exact;
}

}  // namespace

void AppendIndexEntryBytes(std::vector<uint8_t>& out, const IndexEntry& e) {
    PutU32(out, static_cast<uint32_t>(e.entry.begin / 1000));
    PutU32(out, static_cast<uint32_t>(e.entry.end / 1000));
    PutU32(out, e.entry.fileId);
    out.push_back(e.entry.volumeIndex);
    PutU32(out, static_cast<uint32_t>(e.entry.begin % 1000));
    PutU32(out, static_cast<uint32_t>(e.entry.end % 1000));
    PutU32(out, static_cast<uint32_t>(e.cameraId));
}

std::vector<uint8_t> EncodeIndexFile(const std::vector<IndexEntry>& entries) {
    std::vector<uint8_t> out;
    out.reserve(4 + 25 * entries.size());
    PutU32(out, INDEX_VERSION_3);
    for (const auto& e : entries) AppendIndexEntryBytes(out, e);
    return out;
}

std::string IndexNameToHourFolder(const std::string& name) {
    if (name.size() < 8) return std::string();
    // "DDMMYYHH..." -> "DD-MM-YY HH"; run for every index file at start-up.
    const char folder[] = {name[0], name[1], '-', name[2], name[3], '-', name[4], name[5], ' ', name[6], name[7]};
    return std::string(folder, sizeof folder);
}

std::string HourFolderToIndexName(const std::string& hourFolder) {
    std::string name;
    for (char c : hourFolder)
        if (c != '-' && c != ' ') name += c;
    return name + ".idx";
}

void ForEachVolumeInParallel(const VolumePathMap& volumes, const std::function<void(const VolumePath&)>& task) {
    if (volumes.empty()) return;
    std::vector<std::thread> threads;
    std::vector<std::exception_ptr> errors(volumes.size());
    threads.reserve(volumes.size() - 1);
    size_t i = 0;
    for (auto it = std::next(volumes.begin()); it != volumes.end(); ++it) {
        const VolumePath volume(it->first, it->second);
        std::exception_ptr* error = &errors[++i];
        threads.emplace_back([&task, volume, error] {
            try {
                task(volume);
            } catch (...) {
                *error = std::current_exception();
            }
        });
    }
    try {
        task(*volumes.begin());
    } catch (...) {
        errors[0] = std::current_exception();
    }
    for (auto& t : threads) t.join();
    // A task's failure reaches the caller as it would on one thread.
    for (auto& e : errors)
        if (e) std::rethrow_exception(e);
}

void ForEachVolumeInTurn(const VolumePathMap& volumes, const std::function<void(const VolumePath&)>& task) {
    std::exception_ptr first;
    for (const auto& v : volumes) {
        try {
            task(v);
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    }
    if (first) std::rethrow_exception(first);
}

uint64_t IndexFileDate(const std::string& fileName) {
    TSS hourStart;
    if (!hourStart.Parse(IndexNameToHourFolder(fileName).c_str())) return 0;
    const uint64_t archiveMs = hourStart.ToUtcMilliseconds();
    return archiveMs >= kArchiveUnixOffsetMs ? archiveMs - kArchiveUnixOffsetMs : 0;
}

bool FileSystem::LoadIndex(uint8_t volumeIndex, const std::string& path, std::vector<IndexEntry>& out) {
    std::vector<uint8_t> buffer;
    return LoadIndexFrom(volumeIndex, AT_FDCWD, path.c_str(), false, path,
                         IndexFileDate(platform::FileNamePart(path)), out, buffer);
}

bool FileSystem::LoadIndexFrom(uint8_t volumeIndex, int dirFd, const char* name, bool knownRegular,
                               const std::string& path, uint64_t date, std::vector<IndexEntry>& out,
                               std::vector<uint8_t>& buffer) {
    CalcTime timer("FileSystem::LoadIndex", 50, "Reading index file: \"" + path + "\" finished.");
    try {
        size_t size = 0;
        if (!ReadWholeFile(dirFd, name, knownRegular, path, buffer, size) || size < 4) return false;
        const uint8_t* const bytes = buffer.data();
        const uint32_t version = GetU32(bytes);
        if (static_cast<int32_t>(version) < m_minIndexVersion) return false;
        if (version != INDEX_VERSION_1 && version != INDEX_VERSION_2 && version != INDEX_VERSION_3) return true;
        const size_t bodySize = IndexBodySize(version);
        const size_t idSize = IndexCameraIdSize(version);
        size_t pos = 4;
        while (true) {
            if (size - pos < bodySize) return true;
            const uint8_t* p = bytes + pos;
            IndexEntry e;
            const uint64_t beginMsPart = version == INDEX_VERSION_1 ? 0 : GetU32(p + 13);
            const uint64_t endMsPart = version == INDEX_VERSION_1 ? 0 : GetU32(p + 17);
            e.entry.begin = uint64_t(GetU32(p)) * 1000 + beginMsPart;
            e.entry.end = uint64_t(GetU32(p + 4)) * 1000 + endMsPart;
            e.entry.fileId = GetU32(p + 8);
            pos += bodySize;
            // A millisecond field above 999 would carry into the seconds and
            // could wrap them when the entry is written back: refused as an
            // invalid time. That is the only way an entry time can be out of
            // range: the seconds are a 32-bit count, which always converts,
            // and local fields made from a UTC instant and a zone offset have
            // their hour, minute and second in range (no leap second shows as
            // :60, as a broken-down time of a "right/" zone would).
            if (beginMsPart > 999 || endMsPart > 999) {
                const int t1 = static_cast<int>(GetU32(p));
                const int t2 = static_cast<int>(GetU32(p + 4));
                ReportError(__LINE__, -1,
                            str(boost::format("[FS][LOAD_INDEX] Entry time is INVALID. time1=%8d, time2=%8d.") % t1 % t2),
                            str(boost::format("Index entry time is INVALID. time1=%8d, time2=%8d.") % t1 % t2),
                            static_cast<unsigned long>(-1));
                return false;
            }
            if (size - pos < idSize) {
                if (version == INDEX_VERSION_3)
                    ReportError(__LINE__, -1, "[FS][LOAD_INDEX] Failed to read index (INDEX_VERSION_3) (camera id).",
                                "Failed to read index (INDEX_VERSION_3) (camera id).", static_cast<unsigned long>(-1));
                else
                    ReportError(__LINE__, -1, "[FS][LOAD_INDEX] Failed to read index (camera id).",
                                "Failed to read index (camera id).", static_cast<unsigned long>(-1));
                return false;
            }
            e.cameraId = idSize == 4 ? static_cast<int32_t>(GetU32(bytes + pos))
                                     : static_cast<int32_t>(bytes[pos] | (bytes[pos + 1] << 8));
            pos += idSize;
            e.entry.volumeIndex = volumeIndex;
            e.entry.date = date;
            out.push_back(e);
        }
    } catch (const std::bad_alloc&) {
        ReportError(__LINE__, -1,
                    str(boost::format("[FS][LOAD_INDEX] %s:: out of memory while reading %s") % m_name % path),
                    str(boost::format("%s:: out of memory while reading %s") % m_name % path),
                    static_cast<unsigned long>(-1));
        return false;
    } catch (const platform::FileException& ex) {
        ReportError(__LINE__, -1,
                    str(boost::format("[FS][LOAD_INDEX] %s:: file exception (%d) OS(%ld) while reading %s") % m_name %
                        ex.m_cause % ex.m_lOsError % path),
                    str(boost::format("%s:: file exception (%d) OS(%ld) while reading %s") % m_name % ex.m_cause %
                        ex.m_lOsError % path),
                    static_cast<unsigned long>(ex.m_lOsError));
        return false;
    }
}

bool FileSystem::SaveIndexFile(const std::string& path, const std::vector<IndexEntry>& entries) {
    platform::File file;
    // An existing file is written over and then cut to the new length rather
    // than emptied first: the same bytes in the end, but a file emptied and
    // written again is flushed at once on close by some file systems (ext4's
    // replace-by-truncate rule), and an index is at least its version word.
    if (!file.Open(path, platform::File::modeCreate | platform::File::modeNoTruncate | platform::File::modeWrite |
                             platform::File::typeBinary))
        return false;
    try {
        const std::vector<uint8_t> bytes = EncodeIndexFile(entries);
        file.Write(bytes.data(), bytes.size());
        file.SetLength(bytes.size());
        file.Close();
        return true;
    } catch (const platform::FileException& ex) {
        ReportError(__LINE__, -1,
                    str(boost::format("[FILESYSTEM][INDEX] Saving index file [%s] failed. File: %s, Error: %d") % path %
                        ex.m_strFileName % ex.m_cause),
                    str(boost::format("Saving index file [%s] failed. File: %s, Error: %d") % path % ex.m_strFileName %
                        ex.m_cause),
                    static_cast<unsigned long>(-1));
    } catch (const platform::ArchiveException& ex) {
        ReportError(__LINE__, -1,
                    str(boost::format("[FILESYSTEM][INDEX] Saving index file [%s] failed. File: %s, Error: %d") % path %
                        ex.m_strFileName % ex.m_cause),
                    str(boost::format("Saving index file format [%s] failed. File: %s, Error: %d") % path %
                        ex.m_strFileName % ex.m_cause),
                    static_cast<unsigned long>(-1));
    }
    file.Abort();
    return false;
}

bool FileSystem::AppendIndexEntry(const std::string& indexPath, const IndexEntry& entry) {
    SyncLock lock(m_indexFilesLock);
    std::string marker = indexPath;
    if (marker.size() >= 4) marker.replace(marker.size() - 4, 4, ".ndx");
    if (!platform::PathExists(indexPath) || platform::PathExists(marker)) return false;
    const int fd = ::open(indexPath.c_str(), O_WRONLY);
    if (fd < 0) return false;
    std::vector<uint8_t> bytes;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end == 0) PutU32(bytes, INDEX_VERSION_3);
    AppendIndexEntryBytes(bytes, entry);
    const ssize_t written = end < 0 ? -1 : ::write(fd, bytes.data(), bytes.size());
    ::close(fd);
    return written == static_cast<ssize_t>(bytes.size());
}

std::vector<std::string> FileSystem::HourIndexNames(int hour) const {
    std::vector<std::string> names;
    if (hour < 0) return names;
    // The .idx files are named by local hour. Where the zone's offset is not
    // a whole hour (or a change of offset falls inside it), one UTC hour
    // overlaps two local hours: every quarter hour and the last millisecond
    // are looked at, which covers offsets in quarter hours.
    const uint64_t start = static_cast<uint64_t>(hour) * kMsPerHour + kArchiveUnixOffsetMs;
    for (uint64_t at = 0; at <= kMsPerHour; at += kMsPerHour / 4) {
        TSS local;
        local.FromUtcMilliseconds(start + std::min<uint64_t>(at, kMsPerHour - 1));
        if (local.IsEmpty()) continue;
        char name[16];
        std::snprintf(name, sizeof(name), "%02d%02d%02d%02d", local.wDay % 100, local.wMonth % 100, local.wYear % 100,
                      local.wHour % 100);
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    return names;
}

void FileSystem::LoadHourIndex(HourLoadTask& task, const VolumePath& volume) {
    uint64_t found = 0;
    for (const std::string& hourName : task.hourNames) {
        const std::string path = platform::JoinPath(IndexFolderOf(volume.second), hourName + ".idx");
        const auto start = std::chrono::steady_clock::now();
        std::vector<IndexEntry> entries;
        bool readDisk = false;
        {
            std::unique_lock<std::mutex> lock(m_hourIndexCacheLock);
            // Keyed by the path as it is: two volumes whose paths differ only
            // in case are different folders here.
            auto cached = m_hourIndexCache.find(path);
            if (cached == m_hourIndexCache.end()) {
                lock.unlock();
                LoadIndex(volume.first, path, entries);
                lock.lock();
                m_hourIndexCache[path] = entries;
                readDisk = true;
            } else {
                entries = cached->second;
            }
        }
        uint64_t local = 0;
        {
            std::lock_guard<std::mutex> lock(task.mutex);
            for (const auto& e : entries) {
                if (e.cameraId != task.camera) continue;
                ++local;
                // A local hour's file may hold the neighbouring UTC hour's
                // records too: they are kept (a set holds each once), and
                // counted by their own hour.
                task.entries->insert(e.entry);
                if (e.entry.Hour() == task.hour) ++found;
            }
        }
        if (readDisk) {
            const auto ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
            getDefaultDebugInstance()->Message(
                boost::format("[FILESYSTEM][%1%][INDEX] load detail index for cam %2% from '%3%'. Total indexes: %4%. "
                              "Load duration: %5% ms.") %
                m_name % task.camera % path % local % ms.count());
        }
    }
    std::lock_guard<std::mutex> lock(task.mutex);
    (*task.counts)[volume.first] = found;
    task.total += found;
}

void FileSystem::LoadHourDetail(int camera, int hour, const VolumePathMap& volumes,
                                VindaraFileSystem::DirEntrySet& entries, VindaraFileSystem::VolumeCounts& counts) {
    HourLoadTask task;
    task.camera = camera;
    task.hour = hour;
    task.entries = &entries;
    task.counts = &counts;
    try {
        if (hour < 0) throw std::out_of_range("the hour lies before 1970");
        task.hourNames = HourIndexNames(hour);
        if (task.hourNames.empty()) throw std::out_of_range("the hour has no local time");
        // One small index file a volume: not worth a thread.
        ForEachVolumeInTurn(volumes, [this, &task](const VolumePath& v) { LoadHourIndex(task, v); });
    } catch (const std::exception& ex) {
        QOR_LOG_ERROR(getDefaultDebugInstance(),
                      boost::format("[FILESYSTEM][%1%][INDEX] error loading index for hour: %2%. Error: '%3%'.") %
                          m_name % hour % ex.what());
    }
}

void FileSystem::AddEntriesToDirs(const std::vector<IndexEntry>& entries,
                                  std::vector<std::pair<int, int>>& cameraHours) {
    // One directory look-up and one lock per camera, not per entry. A file
    // holds the records of a few cameras: they are found by a linear look,
    // the last one first, with no node allocated per entry.
    std::vector<std::pair<int, std::vector<DirEntry>>> byCamera;
    size_t last = 0;
    const size_t first = cameraHours.size();
    for (const auto& e : entries) {
        if (last >= byCamera.size() || byCamera[last].first != e.cameraId) {
            last = 0;
            while (last < byCamera.size() && byCamera[last].first != e.cameraId) ++last;
            if (last == byCamera.size()) byCamera.emplace_back(e.cameraId, std::vector<DirEntry>());
        }
        byCamera[last].second.push_back(e.entry);
        const std::pair<int, int> cameraHour(e.cameraId, static_cast<int>(e.entry.begin / kMsPerHour));
        if (cameraHours.size() == first || cameraHours.back() != cameraHour) cameraHours.push_back(cameraHour);
    }
    std::sort(cameraHours.begin() + static_cast<std::ptrdiff_t>(first), cameraHours.end());
    cameraHours.erase(std::unique(cameraHours.begin() + static_cast<std::ptrdiff_t>(first), cameraHours.end()),
                      cameraHours.end());
    for (const auto& [camera, cameraEntries] : byCamera) GetCameraDir(camera, true)->AddEntries(cameraEntries);
}
