// Rebuilding the indexes of one volume from its archive video files, and the
// volume's fast index written from the record directories.

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <boost/format.hpp>

#include "archive/files/FastIndex.h"
#include "archive/files/VolumePaths.h"
#include "archive/fs/IndexStartup.h"
#include "archive/fs/Reindex.h"
#include "base/Log.h"
#include "base/ModuleDir.h"
#include "platform/Dir.h"

namespace {

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Counts the volume in at the start gate once, also when the task ends early.
class CountedGate {
public:
    explicit CountedGate(RebuildTask& task) : m_task(task) {}
    ~CountedGate() { Pass(false); }
    // Marks this volume counted and, when `wait`, waits for the others.
    void Pass(bool wait) {
        std::unique_lock<std::mutex> lock(m_task.countersMutex);
        if (!m_passed) {
            m_passed = true;
            if (m_task.volumesCounting > 0) --m_task.volumesCounting;
            if (m_task.volumesCounting == 0) m_task.counted.notify_all();
        }
        if (wait) m_task.counted.wait(lock, [this] { return m_task.volumesCounting == 0; });
    }

private:
    RebuildTask& m_task;
    bool m_passed = false;
};

struct IndexFolderItem {
    std::string name;
    bool regular = false;  // the listing says it is a regular file (not a link)
};

// The entries of the INDEX folder but "." and "..", in the order
// platform::ListDirectory gives; only the listing's own file types, no entry
// is looked at.
std::vector<IndexFolderItem> ListIndexFolder(const std::string& folder) {
    std::vector<IndexFolderItem> items;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return items;
    while (const dirent* e = ::readdir(dir))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            items.push_back(IndexFolderItem{e->d_name, e->d_type == DT_REG});
    ::closedir(dir);
    std::sort(items.begin(), items.end(), [](const IndexFolderItem& a, const IndexFolderItem& b) {
        return platform::CompareNamesWindowsOrder(a.name, b.name) < 0;
    });
    return items;
}

}  // namespace

bool IsHourFolderName(const char* name) {
    if (!name || std::strlen(name) != 11) return false;
    static const char kPattern[] = "99-99-99 99";
    for (size_t i = 0; i < 11; ++i) {
        if (kPattern[i] == '9' ? !IsDigit(name[i]) : name[i] != kPattern[i]) return false;
    }
    return true;
}

std::vector<std::string> ListHourFolders(const std::string& archiveFolder) {
    std::vector<std::string> folders;
    for (const auto& item : platform::ListDirectory(archiveFolder)) {
        if (!item.isDirectory || item.name.empty() || item.name[0] == '.') continue;
        if (item.name == "INDEX" || item.name == "PROTECTED") continue;
        if (IsHourFolderName(item.name.c_str())) folders.push_back(item.name);
    }
    return folders;
}

void FileSystem::RebuildVolumeIndexes(RebuildTask& task, const VolumePath& volume) {
    CountedGate gate(task);
    const uint8_t v = volume.first;
    const std::string& path = volume.second;
    Log()->Message("[FS] %s:: parsing volume %s...", m_name.c_str(), path.c_str());

    const std::string indexFolder = VolumePaths::ChildNoCase(path, "INDEX");
    const bool writable = IsFolderWritable(path) && IsFolderWritable(indexFolder);
    if (!writable)
        Log()->Warning("[FS][RE-INDEX] %s:: volume %s is read-only: its indexes are rebuilt in memory only.",
                       m_name.c_str(), path.c_str());

    const std::vector<std::string> folders = ListHourFolders(path);
    // Index files of the hour folders found are written again below: each is
    // emptied by its own rewrite rather than removed first, so that the
    // rewrite reuses the file instead of making a new one (making files is
    // what costs on file systems that skip recently freed inodes). One whose
    // rewrite does not happen is removed after it.
    std::set<std::string> kept;
    const auto removeIndexFile = [this](const std::string& file) {
        if (::unlink(file.c_str()) == 0) {
            Log()->Message("[FS][RE-INDEX] Index file: %s removed", file.c_str());
        } else {
            const int error = errno;
            ReportError(__LINE__, -1,
                        str(boost::format("[FS][RE-INDEX] Failed to delete index file: \"%s\", error code: %d.") %
                            file % error),
                        str(boost::format("Failed to delete index file: %s, error code: %d.") % file % error),
                        static_cast<unsigned long>(error));
        }
    };
    if (writable) {
        std::set<std::string> rewritten;
        for (const auto& folder : folders) rewritten.insert(HourFolderToIndexName(folder));
        DeleteFastIndex(path);
        for (const auto& item : ListIndexFolder(indexFolder)) {
            if (item.name.find(".ini") != std::string::npos) continue;
            // Only a plain file is written over: a link would be followed.
            if (item.regular && rewritten.count(item.name)) {
                kept.insert(item.name);
                continue;
            }
            removeIndexFile(platform::JoinPath(indexFolder, item.name));
        }
    }

    {
        std::lock_guard<std::mutex> lock(task.countersMutex);
        task.totalFolders += folders.size();
    }
    gate.Pass(true);

    uint64_t volumeEntries = 0;
    for (const auto& folder : folders) {
        uint64_t n = 0;
        // A writable volume gets its whole fast index after the loop: no
        // append per hour folder to the file that replaces it.
        const bool written = ReindexFolder(v, folder, writable, &n, false, !writable);
        if (!written && !kept.empty()) {
            const std::string name = HourFolderToIndexName(folder);
            if (kept.count(name)) removeIndexFile(platform::JoinPath(indexFolder, name));
        }
        if (n == 0 && writable) {
            const std::string folderPath = platform::JoinPath(path, folder);
            if (::rmdir(folderPath.c_str()) == 0)
                Log()->Message("[FS][RE-INDEX] Empty directory \"%s\" removed.", folderPath.c_str());
            else
                Log()->Warning("[FS][RE-INDEX] Failed to remove empty directory \"%s\". Error code: %d.",
                               folderPath.c_str(), errno);
        }
        {
            std::lock_guard<std::mutex> lock(task.countersMutex);
            if (task.progress) task.progress(task.doneFolders, task.totalFolders);
            ++task.doneFolders;
        }
        volumeEntries += n;
    }
    Log()->Message("[FS] %s:: parsing volume %s - finished. %u entries added.", m_name.c_str(), path.c_str(),
                   static_cast<unsigned>(volumeEntries));

    {
        std::lock_guard<std::mutex> lock(task.entriesMutex);
        task.entriesTotal += volumeEntries;
        SetProgress(m_progress + task.progressShare);
        uint64_t protectedCount = 0;
        ReindexFolder(v, "PROTECTED", false, &protectedCount, false);
        Log()->Message("[FS] %s:: parsing PROTECTED for volume %s - finished. %u entries added.", m_name.c_str(),
                       path.c_str(), static_cast<unsigned>(protectedCount));
    }

    if (writable) SaveFastIndex(v);

    std::lock_guard<std::mutex> lock(task.countersMutex);
    if (task.progress) task.progress(task.doneFolders, task.totalFolders);
}

void FileSystem::SaveFastIndex(uint8_t volumeIndex) {
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<std::pair<int, std::shared_ptr<VindaraFileSystem::Dir>>> dirs;
    {
        SyncLock lock(m_dirsLock);
        for (const auto& item : m_dirs) dirs.emplace_back(item.first, item.second);
    }
    // The directories are walked with m_dirsLock released: their own locks
    // come first in the engine's lock order.
    std::vector<FastIndexHourEntry> records;
    for (const auto& [camera, dir] : dirs)
        dir->ForEachHour(volumeIndex, [&records, camera = camera](int32_t hour, const VindaraFileSystem::HourInfo&) {
            records.push_back(FastIndexHourEntry{0, camera, hour});
        });
    const auto t1 = std::chrono::steady_clock::now();

    std::string folder;
    try {
        folder = GetVolumePath(volumeIndex);
    } catch (const std::out_of_range&) {
        return;
    }
    if (!IsFolderWritable(VolumePaths::ChildNoCase(folder, "INDEX"))) {
        Log()->Warning("[FILESYSTEM][%s][INDEX] read-only volume, fast index \"%s\" not written.", m_name.c_str(),
                       FastIndexPath(folder).c_str());
        return;
    }
    ::SaveFastIndex(folder, records, m_writeBufferSize);
    const auto t2 = std::chrono::steady_clock::now();
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    Log()->Message(boost::format("[FILESYSTEM][%1%][INDEX] fast index saving at '%2%' finished. Duration copy: %3% ms, "
                                 "save: %4% ms, total indexes: %5%. Buffer: %6% MB.") %
                   m_name % folder % duration_cast<milliseconds>(t1 - t0).count() %
                   duration_cast<milliseconds>(t2 - t1).count() % records.size() % m_writeBufferSize);
}
