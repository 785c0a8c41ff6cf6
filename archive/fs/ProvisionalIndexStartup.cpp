// Index start-up used while the full one (fast index, re-index markers,
// rebuilding and the lost-folder checks) is not part of the build: every
// volume's record index files are read as they are, nothing is written.

#if !__has_include("archive/fs/IndexStartup.h")

#include <boost/format.hpp>

#include "archive/fs/FileSystem.h"
#include "base/Log.h"

void FileSystem::InitIndexes() {
    ClearCameraDirs();
    const VolumePathMap volumes = GetVolumePaths();
    if (!volumes.empty()) {
        std::mutex totalLock;
        uint64_t total = 0;
        ForEachVolumeInParallel(volumes, [&](const VolumePath& v) {
            const uint64_t count = LoadVolumeFromIndexFiles(v.first, v.second);
            std::lock_guard<std::mutex> lock(totalLock);
            total += count;
        });
        std::vector<std::shared_ptr<VindaraFileSystem::Dir>> dirs;
        {
            SyncLock lock(m_dirsLock);
            for (auto& item : m_dirs) dirs.push_back(item.second);
        }
        // Every entry of every hour is in memory now.
        for (auto& dir : dirs) dir->SetAllHoursLoaded();
        getDefaultDebugInstance()->Message(boost::format("[FILESYSTEM][%1%][INDEX] Total indexes %2%.") % m_name % total);
    }
    m_progressStep = 40.0;
    SetProgress(m_progress + m_progressStep);
}

#endif
