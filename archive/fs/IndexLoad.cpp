// Loading the record directories from the volumes' indexes: the fast index
// when it is usable, else every hour index file within the hour window, with
// the hours under a re-index marker or with a broken index file re-indexed
// from their video files.

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <boost/format.hpp>

#include "archive/files/FastIndex.h"
#include "archive/files/VolumePaths.h"
#include "archive/fs/IndexStartup.h"
#include "archive/fs/Reindex.h"
#include "base/Log.h"
#include "base/Tss.h"
#include "platform/Dir.h"

namespace {

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The entries of a folder but "." and "..", in the order
// platform::ListDirectory gives; unlike it, no entry is looked at (start-up
// needs only the names of the index files and hour folders, and whether the
// listing calls a file regular). The folder stays open while the listing
// lives, so that its files can be opened relative to it.
class FolderListing {
public:
    struct Item {
        std::string name;
        bool regular = false;  // the listing says so; false when it does not know
    };
    explicit FolderListing(const std::string& folder) : m_dir(::opendir(folder.c_str())) {
        if (!m_dir) return;
        while (const dirent* e = ::readdir(m_dir))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                m_items.push_back(Item{e->d_name, e->d_type == DT_REG});
        std::sort(m_items.begin(), m_items.end(), [](const Item& a, const Item& b) {
            return platform::CompareNamesWindowsOrder(a.name, b.name) < 0;
        });
    }
    ~FolderListing() {
        if (m_dir) ::closedir(m_dir);
    }
    FolderListing(const FolderListing&) = delete;
    FolderListing& operator=(const FolderListing&) = delete;

    bool Ok() const { return m_dir != nullptr; }
    // The open folder; -1 when it could not be opened (the listing is empty).
    int Fd() const { return m_dir ? ::dirfd(m_dir) : -1; }
    const std::vector<Item>& Items() const { return m_items; }

private:
    DIR* m_dir;
    std::vector<Item> m_items;
};

}  // namespace

std::map<uint8_t, bool> FileSystem::LoadIndexes() {
    ClearCameraDirs();
    const VolumePathMap volumes = GetVolumePaths();
    IndexLoadTask task;
    task.fileSystem = this;
    if (volumes.empty()) return task.loaded;

    for (const auto& v : volumes) task.loaded[v.first] = false;
    const auto started = Clock::now();
    const std::string joined = JoinPaths(volumes);
    const auto startText = boost::format("[FILESYSTEM][%1%][INDEX] Loading indexes from '%2%.'") % m_name % joined;
    Log()->Message(startText);
    if (m_logger) m_logger->Message(startText);

    // A fast index is one small file a volume, read faster than a thread
    // starts; the hour index files are many, read from every drive at once.
    bool everyFastIndex = m_useFastIndex;
    for (const auto& v : volumes)
        everyFastIndex = everyFastIndex && platform::PathExists(FastIndexPath(v.second));
    const auto load = [this, &task](const VolumePath& v) { LoadVolumeIndexes(task, v); };
    if (everyFastIndex)
        ForEachVolumeInTurn(volumes, load);
    else
        ForEachVolumeInParallel(volumes, load);

    if (!m_useFastIndex) {
        std::vector<std::shared_ptr<VindaraFileSystem::Dir>> dirs;
        {
            SyncLock lock(m_dirsLock);
            for (const auto& item : m_dirs) dirs.push_back(item.second);
        }
        // Every entry is in memory: no hour is left for loading on demand.
        for (const auto& dir : dirs) dir->SetAllHoursLoaded();
    }

    const auto endText = boost::format("[FILESYSTEM][%1%][INDEX] Total index loading time: %2% ms. Total indexes %3% "
                                       "from volumes: '%4%'.") %
                         m_name % MsSince(started) % task.total % joined;
    Log()->Message(endText);
    if (m_logger) m_logger->Message(endText);

    std::vector<int> ids;
    GetCameraIds(ids);
    if (!ids.empty()) {
        SyncLock lock(m_volumesLock);
        RemoveChannelsWithoutRecords(ids);
    }
    return task.loaded;
}

void FileSystem::LoadVolumeIndexes(IndexLoadTask& task, const VolumePath& volume) {
    const uint8_t v = volume.first;
    const std::string& path = volume.second;
    auto started = Clock::now();

    if (m_useFastIndex) {
        uint64_t fileSize = 0;
        FastIndexMap hours;
        if (LoadFastIndex(path, fileSize, hours)) {
            const int64_t load = MsSince(started);
            started = Clock::now();
            uint64_t count = 0;
            for (const auto& [camera, cameraHours] : hours) {
                auto dir = GetCameraDir(camera, true);
                for (int32_t hour : cameraHours) dir->EnsureVolumeCount(hour, v);
                count += cameraHours.size();
            }
            const int64_t copy = MsSince(started);
            const double mb = static_cast<double>(fileSize) / 1048576.0;
            const double seconds = static_cast<double>(std::max<int64_t>(load + copy, 1)) / 1000.0;
            const auto text = boost::format("[FILESYSTEM][%1%][INDEX] fast index reading at '%2%' finished. Duration "
                                            "load: %3% ms, copy: %4% ms, total indexes: %5%, file size: %6$0.2f MB, "
                                            "speed: %7$0.2f MB/sec.") %
                              m_name % path % load % copy % count % mb % (mb / seconds);
            Log()->Message(text);
            if (m_logger) m_logger->Message(text);
            {
                std::lock_guard<std::mutex> lock(task.mutex);
                task.loaded[v] = true;
                task.total += count;
            }
            ReindexFolder(v, "PROTECTED", false, nullptr, false);
            return;
        }
    }

    // Parse path: the hour index files and re-index markers.
    const std::string indexFolder = VolumePaths::ChildNoCase(path, "INDEX");
    const bool writable = IsFolderWritable(path) && IsFolderWritable(indexFolder);
    bool warned = false;
    auto skipWrite = [&](const char* what, const std::string& target) {
        if (writable) return false;
        if (!warned)
            Log()->Warning("[FILESYSTEM][%s][INDEX] volume %s is read-only: index files and folders stay as they are.",
                           m_name.c_str(), path.c_str());
        warned = true;
        Log()->Trace("[FILESYSTEM][INDEX] read-only volume: %s \"%s\" skipped.", what, target.c_str());
        return true;
    };

    uint64_t count = 0;
    bool anyLoaded = false;
    bool outsideWindow = false;
    std::vector<std::string> reindex;
    std::vector<FastIndexHourEntry> fastList;
    std::set<std::pair<int, int>> fastSeen;
    auto addFast = [&](int camera, int hour) {
        if (fastSeen.emplace(camera, hour).second) fastList.push_back(FastIndexHourEntry{0, camera, hour});
    };

    // Whether an index file's hour folder exists is looked up in one listing
    // of the volume folder rather than asked of the file system per file.
    std::set<std::string> hourFolders;
    bool volumeListed = false;
    {
        const FolderListing volumeListing(path);
        volumeListed = volumeListing.Ok();
        for (const auto& item : volumeListing.Items()) hourFolders.insert(item.name);
    }
    const FolderListing indexListing(indexFolder);
    std::vector<IndexEntry> entries;
    std::vector<uint8_t> buffer;
    std::vector<std::pair<int, int>> cameraHours;
    for (const auto& item : indexListing.Items()) {
        const std::string& name = item.name;
        if (name.size() != 12) continue;
        const bool isIdx = name.find(".idx") != std::string::npos;
        const bool isNdx = name.find(".ndx") != std::string::npos;
        if (!isIdx && !isNdx) continue;

        const std::string folder = IndexNameToHourFolder(name);
        TSS hourTime;
        if (!hourTime.Parse(folder.c_str())) continue;
        const int64_t hourNumber = int64_t(hourTime.DayNumber()) * 24 + hourTime.wHour;
        if (hourNumber < m_firstHour || hourNumber > m_lastHour) {
            outsideWindow = true;
            continue;
        }

        const std::string folderPath = platform::JoinPath(path, folder);
        const std::string indexPath = platform::JoinPath(indexFolder, name);
        if (volumeListed ? hourFolders.count(folder) == 0 : !platform::PathExists(folderPath)) {
            Log()->Message("[FS][INDEX] no recordings for %s", folderPath.c_str());
            if (!skipWrite("removing", indexPath)) {
                const bool removed = ::unlink(indexPath.c_str()) == 0;
                Log()->Message("[FS][INDEX] removing index %s : %s, error=%d", indexPath.c_str(),
                               removed ? "OK" : "FAILED", removed ? 0 : errno);
            }
            continue;
        }

        bool ok = true;
        if (isIdx) {
            entries.clear();
            const uint64_t archiveMs = hourTime.ToUtcMilliseconds();
            const uint64_t date = archiveMs >= kArchiveUnixOffsetMs ? archiveMs - kArchiveUnixOffsetMs : 0;
            {
                SyncLock lock(m_indexFilesLock);
                // Opened relative to the listed folder, so that no path is
                // looked up again per file.
                ok = LoadIndexFrom(v, indexListing.Fd(), name.c_str(), item.regular, indexPath, date, entries,
                                   buffer);
            }
            cameraHours.clear();
            AddEntriesToDirs(entries, cameraHours);
            for (const auto& [camera, hour] : cameraHours) addFast(camera, hour);
            count += entries.size();
            anyLoaded = anyLoaded || !entries.empty();
            if (entries.empty()) {
                if (!ok && !skipWrite("removing broken", indexPath)) {
                    if (::unlink(indexPath.c_str()) == 0)
                        Log()->Message("[FILESYSTEM][INDEX] Broken index file \"%s\" removed.", indexPath.c_str());
                    else
                        Log()->Warning("[FILESYSTEM][INDEX] Failed to remove broken index file \"%s\". Error code: %d.",
                                       indexPath.c_str(), errno);
                }
                Log()->Warning("[FS] Failed to load any entry from index: %s", indexPath.c_str());
                if (platform::ListDirectory(folderPath).empty() && !skipWrite("removing", folderPath)) {
                    if (::rmdir(folderPath.c_str()) == 0) {
                        hourFolders.erase(folder);
                        Log()->Message("[FILESYSTEM][INDEX] Empty directory \"%s\" removed.", folderPath.c_str());
                    } else
                        Log()->Warning("[FILESYSTEM][INDEX] Failed to remove directory \"%s\". Error code: %d.",
                                       folderPath.c_str(), errno);
                }
            }
        }
        if (isNdx || !ok) reindex.push_back(folder);
    }

    {
        // A volume counts as loaded when any of its index files gave records;
        // one whose index files all lie outside the hour window was not
        // looked at and is not taken for broken.
        std::lock_guard<std::mutex> lock(task.mutex);
        task.loaded[v] = anyLoaded || outsideWindow;
    }

    for (const auto& folder : reindex) ReindexFolder(v, folder, false, nullptr, false);

    // Hours that only the re-indexing found go into the fast index as well,
    // so that the next start on the fast path still knows them.
    {
        std::vector<std::pair<int, std::shared_ptr<VindaraFileSystem::Dir>>> dirs;
        {
            SyncLock lock(m_dirsLock);
            for (const auto& item : m_dirs) dirs.emplace_back(item.first, item.second);
        }
        if (!reindex.empty())
            for (const auto& [camera, dir] : dirs)
                dir->ForEachHour(v, [&addFast, camera = camera](int32_t hour, const VindaraFileSystem::HourInfo& info) {
                    if (!info.counts.empty()) addFast(camera, hour);
                });
    }

    Log()->Message(boost::format("[FILESYSTEM][%1%][INDEX] Parsing index at '%2%' finished. Duration: %3% ms, total "
                                 "indexes: %4%.") %
                   m_name % path % MsSince(started) % count);
    const auto saveStarted = Clock::now();
    if (!skipWrite("fast index", FastIndexPath(path))) {
        // Hours outside the window were not read: a fast index written now
        // would hide them at the next start, so the volume keeps none.
        if (outsideWindow) {
            if (platform::PathExists(FastIndexPath(path))) DeleteFastIndex(path);
        } else {
            ::SaveFastIndex(path, fastList, m_writeBufferSize);
        }
    }
    Log()->Message(boost::format("[FILESYSTEM][%1%][INDEX] fast index saving at '%2%' finished. Duration: %3% ms, "
                                 "total indexes: %4%. Buffer: %5% MB.") %
                   m_name % path % MsSince(saveStarted) % fastList.size() % m_writeBufferSize);
    {
        std::lock_guard<std::mutex> lock(task.mutex);
        task.total += count;
    }
    ReindexFolder(v, "PROTECTED", false, nullptr, false);
}

void FileSystem::RemoveChannelsWithoutRecords(const std::vector<int>& cameraIds) {
    for (int32_t id : m_settings.GetChannelIds())
        if (std::find(cameraIds.begin(), cameraIds.end(), id) == cameraIds.end()) m_settings.RemoveChannel(id);
}
