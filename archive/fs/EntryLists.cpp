// Lists of a camera's archive files and of the index entries of several
// channels between two local times, for the drives channel reader and the
// native export.

#include <boost/lexical_cast.hpp>

#include "archive/fs/FileSystem.h"

namespace {

// Unix milliseconds of a local time argument; an empty stamp is converted as
// it is (1970), any other re-expressed with today's zone offset first.
uint64_t UnixMsOfArgument(const TSS& t) {
    const uint64_t archive = t.IsEmpty() ? t.ToUtcMilliseconds() : t.NormalizeLocalTime().ToUtcMilliseconds();
    return archive >= kArchiveUnixOffsetMs ? archive - kArchiveUnixOffsetMs : 0;
}

}  // namespace

void FileSystem::GetEntries(int camera, const TSS& from, const TSS& to, std::vector<std::string>& paths) {
    std::shared_ptr<VindaraFileSystem::Dir> dir = GetCameraDir(camera, false);
    if (!dir) return;
    dir->ForEachEntry(UnixMsOfArgument(from), UnixMsOfArgument(to), [&](const VindaraFileSystem::DirEntry& entry) {
        paths.push_back(GetEntryFilePath(camera, entry, kVideoLetter));
        return true;
    });
}

void FileSystem::CollectIndexEntries(const std::vector<std::string>& channels, const TSS& from, const TSS& to,
                                     std::map<std::string, std::vector<IndexEntry>>& entries) {
    const uint64_t begin = UnixMsOfArgument(from);
    const uint64_t end = UnixMsOfArgument(to);
    for (const std::string& text : channels) {
        const int camera = boost::lexical_cast<int>(text);
        std::shared_ptr<VindaraFileSystem::Dir> dir = GetCameraDir(camera, false);
        if (!dir) continue;
        // The directory is walked before m_volumesLock is taken: hour loading
        // inside the walk takes the volume lock itself.
        std::vector<VindaraFileSystem::DirEntry> found;
        dir->ForEachEntry(begin, end, [&found](const VindaraFileSystem::DirEntry& entry) {
            found.push_back(entry);
            return true;
        });
        SyncLock lock(m_volumesLock);
        for (const auto& entry : found) {
            if (entry.volumeIndex >= m_volumes.size()) continue;
            // The same key for every entry of one hour folder of one volume.
            const std::string key =
                m_volumes[entry.volumeIndex].GetFilePath(1, 0, FormatEntryDate(entry.date), kVideoLetter);
            entries[key].push_back(IndexEntry{entry, camera});
        }
    }
}
