// Start-up checks for hour folders that hold nothing or have lost their
// index file (switched on by the registry value CheckLostFolders = 1).

#include <unistd.h>

#include <cerrno>

#include "archive/files/VolumePaths.h"
#include "archive/fs/IndexStartup.h"
#include "archive/fs/Reindex.h"
#include "base/Log.h"
#include "platform/Dir.h"

namespace {

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

// Nothing but "." and "..", or not listable at all.
bool IsEmptyFolder(const std::string& folder) {
    bool ok = true;
    const auto entries = platform::ListDirectory(folder, &ok);
    return !ok || entries.empty();
}

// Removes an empty hour folder; a read-only volume keeps it (with a warning).
void RemoveEmptyFolder(const std::string& archiveFolder, const std::string& folder) {
    if (!IsFolderWritable(archiveFolder)) {
        Log()->Warning("[FILESYSTEM][INIT] Read-only volume: empty directory \"%s\" kept.", folder.c_str());
        return;
    }
    if (::rmdir(folder.c_str()) == 0)
        Log()->Message("[FILESYSTEM][INIT] Empty directory \"%s\" removed.", folder.c_str());
    else
        Log()->Warning("[FILESYSTEM][INIT] Failed to remove empty directory \"%s\". Error code: %d.", folder.c_str(),
                       errno);
}

}  // namespace

bool FileSystem::CheckEmptyFolders() { return CheckEmptyFolders(ReadCheckLostFolders() == 1); }

bool FileSystem::CheckEmptyFolders(bool enabled) {
    if (!enabled) {
        Log()->Message("[FILESYSTEM] Skip checking empty directories.");
        return false;
    }
    Log()->Message("[FILESYSTEM] Start checking empty directories.");
    bool found = false;
    {
        SyncLock lock(m_volumesLock);
        for (const auto& volume : m_volumes) {
            const std::string archiveFolder = volume.GetPath();
            for (const auto& name : ListHourFolders(archiveFolder)) {
                const std::string folder = platform::JoinPath(archiveFolder, name);
                if (!IsEmptyFolder(folder)) continue;
                found = true;
                RemoveEmptyFolder(archiveFolder, folder);
            }
        }
    }
    Log()->Message("[FILESYSTEM] Stop checking empty directories.");
    return found;
}

bool FileSystem::CheckLostIndexFiles() { return CheckLostIndexFiles(ReadCheckLostFolders() == 1); }

bool FileSystem::CheckLostIndexFiles(bool enabled) {
    if (!enabled) {
        Log()->Message("[FILESYSTEM] Skip checking lost index files.");
        return true;
    }
    Log()->Message("[FILESYSTEM] Start checking lost index files.");
    bool result = true;
    {
        SyncLock lock(m_volumesLock);
        for (const auto& volume : m_volumes) {
            const std::string archiveFolder = volume.GetPath();
            const std::string indexFolder = VolumePaths::ChildNoCase(archiveFolder, "INDEX");
            for (const auto& name : ListHourFolders(archiveFolder)) {
                if (platform::PathExists(platform::JoinPath(indexFolder, HourFolderToIndexName(name)))) continue;
                const std::string folder = platform::JoinPath(archiveFolder, name);
                if (!IsEmptyFolder(folder)) {
                    Log()->Message("[FILESYSTEM] No index file found for \"%s\". Re-Index will be made.",
                                   folder.c_str());
                    result = false;
                } else {
                    RemoveEmptyFolder(archiveFolder, folder);
                }
            }
        }
    }
    Log()->Message("[FILESYSTEM] Stop checking lost index files.");
    return result;
}
