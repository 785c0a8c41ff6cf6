// Removing deleted records from the volumes: their files, stale hour index
// files, emptied hour folders, the fast index and the cached free space.

#include "archive/fs/RemoveRecords.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <unistd.h>

#include <boost/format.hpp>

#include "archive/files/Volume.h"
#include "archive/files/VolumePaths.h"
#include "archive/fs/ChangeMessages.h"
#include "archive/fs/FileSystem.h"
#include "archive/fs/Reindex.h"
#include "base/Log.h"
#include "platform/Dir.h"

namespace {

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

// 0 on success, else errno.
int DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

bool IsUpperHex(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

}  // namespace

void VolumeDeletions::Add(const VindaraFileSystem::DirEntry& entry, const std::string& path) {
    VolumeDeletion& part = volumes[entry.volumeIndex];
    part.hours.insert(FormatEntryDate(entry.date));
    part.files.emplace_back(entry, path);
}

size_t VolumeDeletions::FileCount() const {
    size_t count = 0;
    for (const auto& item : volumes) count += item.second.files.size();
    return count;
}

void ForEachDeletionVolume(const VolumeDeletions& deletions,
                           const std::function<void(uint8_t, const VolumeDeletion&)>& task) {
    if (deletions.volumes.size() == 1) {
        task(deletions.volumes.begin()->first, deletions.volumes.begin()->second);
        return;
    }
    std::vector<std::thread> workers;
    workers.reserve(deletions.volumes.size());
    for (const auto& item : deletions.volumes)
        workers.emplace_back([&task, &item] { task(item.first, item.second); });
    for (auto& worker : workers) worker.join();
}

void RemoveFiles(const std::vector<std::string>& paths) {
    for (const auto& path : paths) {
        const int error = DeleteFile(path);
        if (error)
            Log()->Warning("[FILESYSTEM] Failed to remove file \"%s\". Error code: %d.", path.c_str(), error);
        else if (g_debugLevel > 1)
            Log()->Message("[FILESYSTEM] File \"%s\" removed.", path.c_str());
    }
}

bool IsArchiveFileName(const std::string& name, const std::string& hourFolder) {
    static const std::string kMarker = ".protected";
    std::string base = name;
    if (base.size() > kMarker.size() && base.compare(base.size() - kMarker.size(), kMarker.size(), kMarker) == 0)
        base.resize(base.size() - kMarker.size());
    const size_t dot = base.find('.');
    if (dot == std::string::npos || dot + 2 >= base.size()) return false;
    const std::string id = base.substr(0, dot);
    const char letter = base[dot + 1];
    if (!IsUpperHex(id) || id.size() > 8) return false;
    if (letter != kVideoLetter && letter != kSoundLetter && letter != kTitlesLetter) return false;
    const int camera = ParseChannelSuffix(base.substr(dot + 2));
    if (camera <= 0) return false;
    // The name must be exactly the one the volume gives this camera and id.
    static const Volume kLayout(false, "/", true);
    const std::string expected = platform::FileNamePart(
        kLayout.GetFilePath(camera, static_cast<int64_t>(std::strtoul(id.c_str(), nullptr, 16)), hourFolder, letter));
    return expected == base;
}

bool FileSystem::RemoveFile(const char* path, int64_t beginS, int64_t endS) {
    if (!path || !*path) return false;
    const std::string file = path;
    StopReadingFile(file);

    const size_t nameStart = file.find_last_of('/') == std::string::npos ? 0 : file.find_last_of('/') + 1;
    const size_t mark = file.find("._", nameStart);
    bool soundDeleted = false;
    if (mark != std::string::npos) {
        std::string companion = file;
        companion[mark + 1] = kSoundLetter;
        soundDeleted = DeleteFile(companion) == 0;
        companion[mark + 1] = kTitlesLetter;
        DeleteFile(companion);
    }
    const std::string suffix = mark == std::string::npos ? std::string() : file.substr(mark + 2);
    const int channel = suffix.empty() ? 0 : ParseChannelSuffix(suffix);
    if (!suffix.empty() && !soundDeleted) SendDeleteFile(channel, file);

    const int error = DeleteFile(file);
    if (error)
        Log()->Warning("[FILESYSTEM] Failed to remove file \"%s\" Error code: %d.", path, error);
    else if (g_debugLevel > 1)
        Log()->Message("[FILESYSTEM] File \"%s\" successfully removed.", path);
    if (!suffix.empty() && error == 0) SendFileDeleted(channel, file, beginS, endS);
    return error == 0;
}

void FileSystem::DeleteVolumeFiles(uint8_t /*volumeIndex*/, const VolumeDeletion& deletion) {
    for (const auto& [entry, path] : deletion.files)
        RemoveFile(path.c_str(), static_cast<int64_t>(entry.begin / 1000), static_cast<int64_t>(entry.end / 1000));
}

void FileSystem::UpdateVolumeIndexes(uint8_t volumeIndex, const VolumeDeletion& deletion) {
    for (const auto& hour : deletion.hours) {
        uint64_t counter = 0;
        if (ReindexFolder(volumeIndex, hour, true, &counter, true) && counter == 0) RemoveHour(volumeIndex, hour);
    }
    SaveFastIndex(volumeIndex);
    SyncLock lock(m_volumesLock);
    if (volumeIndex < m_volumes.size()) m_volumes[volumeIndex].UpdateFreeSpace(true);
}

void FileSystem::RemoveHour(uint8_t volumeIndex, const std::string& hourFolder) {
    std::string base;
    try {
        base = GetVolumePath(volumeIndex);
    } catch (const std::out_of_range&) {
        return;
    }
    const std::string indexName = HourFolderToIndexName(hourFolder);  // DDMMYYHH.idx
    const std::string stem = indexName.substr(0, indexName.size() - 4);
    const std::string indexFolder = VolumePaths::ChildNoCase(base, "INDEX");
    const std::string indexPath = platform::JoinPath(indexFolder, stem + ".idx");
    RemoveFiles({indexPath, platform::JoinPath(indexFolder, stem + ".ndx")});
    {
        std::lock_guard<std::mutex> lock(m_hourIndexCacheLock);
        for (auto it = m_hourIndexCache.begin(); it != m_hourIndexCache.end();)
            it = platform::EqualsNoCase(it->first, indexPath) ? m_hourIndexCache.erase(it) : std::next(it);
    }

    // Only the files the archive itself names go: anything else a user left
    // in the folder stays, and the folder with it.
    const std::string folder = platform::JoinPath(base, hourFolder);
    for (const auto& item : platform::ListDirectory(folder)) {
        if (item.isDirectory || !IsArchiveFileName(item.name, hourFolder)) continue;
        const std::string path = platform::JoinPath(folder, item.name);
        const int error = DeleteFile(path);
        if (error)
            Log()->Warning("[FILESYSTEM] Failed to remove file \"%s\". Error code: %d.", path.c_str(), error);
        else if (g_debugLevel > 1)
            Log()->Message("[FILESYSTEM] File: \"%s\" removed.", path.c_str());
    }
    if (::rmdir(folder.c_str()) != 0)
        Log()->Warning("[FILESYSTEM] Failed to remove directory \"%s\". Error code: %d.", folder.c_str(), errno);
    else if (g_debugLevel > 1)
        Log()->Message("[FILESYSTEM] Directory \"%s\" removed.", folder.c_str());
}

int64_t FileSystem::TimeIt(const std::function<void()>& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count() /
           1000;
}
