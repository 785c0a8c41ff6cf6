// Ring cleaning and the age-limited deletion of old records. Both choose
// records, take them out of the camera directories, and hand them to the
// common removal (files, index files, fast index, free space).
//
// Record ages are measured in one clock: the current UTC time against the
// record's UTC begin.

#include "archive/fs/RingCleaning.h"

#include <chrono>

#include <boost/format.hpp>

#include "archive/fs/FileSystem.h"
#include "archive/fs/RecordCommands.h"
#include "archive/fs/RemoveRecords.h"
#include "base/Log.h"
#include "base/Utilities.h"

namespace {

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

uint64_t NowUnixMs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

using DirPtr = std::shared_ptr<VindaraFileSystem::Dir>;

}  // namespace

int64_t RecordAgeHours(uint64_t nowUnixMs, uint64_t beginUnixMs) {
    if (beginUnixMs >= nowUnixMs) return 0;
    return static_cast<int64_t>((nowUnixMs - beginUnixMs) / kMsPerHour);
}

void FileSystem::SetRetentionRule(int camera, const RetentionRule& rule) {
    SyncLock lock(m_dirsLock);
    m_retention[camera] = rule;
}

std::vector<std::pair<int, std::shared_ptr<VindaraFileSystem::Dir>>> FileSystem::CopyCameraDirs() {
    std::vector<std::pair<int, DirPtr>> dirs;
    SyncLock lock(m_dirsLock);
    for (const auto& item : m_dirs) dirs.emplace_back(item.first, item.second);
    return dirs;
}

RetentionRule FileSystem::GetRetentionRule(int camera) {
    SyncLock lock(m_dirsLock);
    return m_retention[camera];
}

int FileSystem::deleteOtherFile() {
    static const int kAllVolumes = -1;
    Log()->Message(boost::format("[FS] %1%::deleteOtherFile[volume = %2%] starting ...") % m_name % kAllVolumes);
    CalcTime timer("[FILESYSTEM][RING]", 1, "<><><><><><><>[FILESYSTEM][RING] Ring cleaning procedure.");

    uint8_t next = 0;
    if (FindRecordVolume(next) && next != m_recordVolume) {
        Log()->Message(boost::format("[FS] %1%::deleteOtherFile[volume = %2%] switch to next volume %3% ...") % m_name %
                       kAllVolumes % int(next));
        return next;
    }

    // Stage 1: the oldest hour of unprotected records. The directories are
    // walked outside m_dirsLock: their own locks come first.
    Log()->Message(boost::format("[FS] %1%::deleteOtherFile[volume = %2%] stage 1 (search what to delete) ...") %
                   m_name % kAllVolumes);
    const auto searchStart = std::chrono::steady_clock::now();
    const uint64_t now = NowUnixMs();
    const auto dirs = CopyCameraDirs();
    VindaraFileSystem::DirEntry preferred = VindaraFileSystem::DirEntry::Empty();
    VindaraFileSystem::DirEntry fallback = VindaraFileSystem::DirEntry::Empty();
    for (const auto& [camera, dir] : dirs) {
        const int minKeep = GetRetentionRule(camera).minKeepHours;
        dir->ForEachVolumeEntry(-1, [&](const VindaraFileSystem::DirEntry& entry) {
            if (entry.isProtected) return true;
            if (RecordAgeHours(now, entry.begin) >= minKeep && (!preferred.IsSet() || entry.Hour() < preferred.Hour()))
                preferred = entry;
            if (!fallback.IsSet() || entry.Hour() < fallback.Hour()) {
                fallback = entry;
                return false;
            }
            return entry.Hour() == fallback.Hour();
        });
    }
    const int64_t searchMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - searchStart).count();
    const VindaraFileSystem::DirEntry candidate = preferred.IsSet() ? preferred : fallback;

    // Stage 2: every camera's unprotected records of that hour leave the
    // directories.
    Log()->Message(boost::format("[FS] %1%::deleteOtherFile stage 2[volume = %2%] (delete from cache)...") % m_name %
                   kAllVolumes);
    const auto cacheStart = std::chrono::steady_clock::now();
    VolumeDeletions deletions;
    if (candidate.IsSet()) {
        const int32_t oldest = candidate.Hour();
        const int64_t current = static_cast<int64_t>(now / kMsPerHour);
        for (const auto& [camera, dir] : dirs) {
            const int minKeep = GetRetentionRule(camera).minKeepHours;
            std::vector<VindaraFileSystem::DirEntry> collected;
            dir->ForEachVolumeEntry(-1, [&](const VindaraFileSystem::DirEntry& entry) {
                if (entry.isProtected) return true;
                if (minKeep != 0 && current - entry.Hour() < minKeep && entry.Hour() == oldest) return false;
                if (entry.Hour() == oldest) collected.push_back(entry);
                return entry.Hour() <= oldest;
            });
            if (collected.empty()) continue;
            for (const auto& entry : collected) dir->RemoveEntry(entry);
            {
                SyncLock lock(m_volumesLock);
                for (const auto& entry : collected) {
                    try {
                        deletions.Add(entry, GetArchiveFilePath(camera, entry, false, kVideoLetter));
                    } catch (const std::invalid_argument&) {
                    }
                }
            }
            SendArchDelete(UnixMsToLocalTss(candidate.begin), camera, 0, 0);
        }
    }
    if (deletions.Empty()) {
        Log()->Message(boost::format("[FS] %1% nothing to delete. Exit.") % m_name);
        return -1;
    }
    const int64_t cacheMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - cacheStart).count();

    // Stage 3: the files, then the indexes.
    Log()->Message(boost::format("[FS] %1%::deleteOtherFile stage 3[volume = %2%] (delete files from HDD )...") % m_name %
                   kAllVolumes);
    const int64_t diskMs = TimeIt([this, &deletions] {
        ForEachDeletionVolume(deletions, [this](uint8_t v, const VolumeDeletion& part) { DeleteVolumeFiles(v, part); });
    });
    const int64_t totalMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - cacheStart).count() +
        searchMs;
    Log()->Message(boost::format("[FS] %1%::deleteOtherFile[volume = %2%] - delete %3% files during %4% ms. "
                                 "searchToDeleteDuration = %5% ms, deleteCacheDuration = %6% ms, deleteHDDDuration = "
                                 "%7% ms. Update index duration %8% ms.") %
                   m_name % kAllVolumes % deletions.FileCount() % totalMs % searchMs % cacheMs % diskMs % 0);
    ForEachDeletionVolume(deletions, [this](uint8_t v, const VolumeDeletion& part) { UpdateVolumeIndexes(v, part); });

    if (FindRecordVolume(next) && next != m_recordVolume) {
        Log()->Message(boost::format("[FS] %1%::deleteOtherFile[volume = %2%] switch to next volume %3% ...") % m_name %
                       kAllVolumes % int(next));
        return next;
    }
    int result = -1;
    uint64_t latest = 0;
    for (const auto& [volume, part] : deletions.volumes) {
        if (part.files.empty()) continue;
        const uint64_t begin = part.files.front().first.begin;
        if (result < 0 || begin > latest) {
            result = volume;
            latest = begin;
        }
    }
    return result;
}

void FileSystem::deleteNoMore() {
    SyncLock driveLock(m_recordDriveLock);
    if (IsInitializing() || GetVolumePaths().empty()) return;
    {
        SyncLock lock(m_dirsLock);
        bool anyAgeLimit = false;
        for (const auto& rule : m_retention)
            if (rule.second.maxAgeHours > 0) anyAgeLimit = true;
        if (!anyAgeLimit) return;
    }

    const auto start = std::chrono::steady_clock::now();
    const uint64_t now = NowUnixMs();
    Log()->Message(boost::format("[FS] %1%::deleteNoMore starting ...") % m_name);
    Log()->Message(boost::format("[FS] %1%::deleteNoMore stage 1 (delete from cache)...") % m_name);
    VolumeDeletions deletions;
    const size_t volumeCount = GetVolumeCount();
    for (const auto& [camera, dir] : CopyCameraDirs()) {
        const RetentionRule rule = GetRetentionRule(camera);
        if (rule.maxAgeHours == 0) continue;
        uint64_t reference = now;
        if (!rule.ageFromNow) {
            const VindaraFileSystem::DirEntry last = dir->GetLastEntry();
            if (last.IsSet()) reference = last.end;
        }
        for (size_t v = 0; v < volumeCount && v < 256; ++v) {
            std::vector<VindaraFileSystem::DirEntry> collected;
            dir->ForEachVolumeEntry(static_cast<int>(v), [&](const VindaraFileSystem::DirEntry& entry) {
                if (entry.isProtected) return true;
                const double age =
                    entry.begin >= reference ? 0.0 : static_cast<double>(reference - entry.begin) / 3600000.0;
                if (age > rule.maxAgeHours) {
                    collected.push_back(entry);
                    return true;
                }
                return false;
            });
            for (const auto& entry : collected) dir->RemoveEntry(entry);
            SyncLock lock(m_volumesLock);
            for (const auto& entry : collected) {
                try {
                    deletions.Add(entry, GetArchiveFilePath(camera, entry, false, kVideoLetter));
                } catch (const std::invalid_argument&) {
                }
            }
        }
    }
    const int64_t cacheMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    int64_t diskMs = 0;
    if (!deletions.Empty()) {
        Log()->Message(boost::format("[FS] %1%::deleteNoMore stage 2 (delete from HDD)...") % m_name);
        diskMs = TimeIt([this, &deletions] {
            ForEachDeletionVolume(deletions,
                                  [this](uint8_t v, const VolumeDeletion& part) { DeleteVolumeFiles(v, part); });
        });
        ForEachDeletionVolume(deletions, [this](uint8_t v, const VolumeDeletion& part) { UpdateVolumeIndexes(v, part); });
    }
    const int64_t totalMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    Log()->Message(boost::format("[FS] %1%::deleteNoMore - deleted %2% files during %3% ms. deleteFromCacheDuration = "
                                 "%4% ms, deleteHDDDuration = %5% ms.") %
                   m_name % deletions.FileCount() % totalMs % cacheMs % diskMs);
}
