// Record volume choice and switching (FileSystem::ChangeRecordDrive and
// FileSystem::FindRecordVolume).

#include "archive/fs/RecordDrive.h"

#include <chrono>
#include <memory>

#include <boost/format.hpp>

#include "archive/files/Volume.h"
#include "archive/fs/FileSystem.h"
#include "archive/fs/PollThread.h"
#include "base/Log.h"
#include "platform/Dir.h"

namespace {

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

// Holds a lock that the owner may release and take again for a while; it is
// released on the way out whatever happens.
class HeldLock {
public:
    explicit HeldLock(qormisc::SyncObject& lock) : m_lock(lock) { m_lock.Lock(); }
    ~HeldLock() {
        if (m_held) m_lock.Unlock();
    }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    void Unlock() {
        m_lock.Unlock();
        m_held = false;
    }
    void Lock() {
        m_lock.Lock();
        m_held = true;
    }

private:
    qormisc::SyncObject& m_lock;
    bool m_held = true;
};

}  // namespace

bool IsRecordVolumeFull(Volume& volume) {
    if (!volume.IsMounted()) return false;
    return IsVolumeFull(volume.IsArchive(), volume.UpdateFreeSpace(false), GetVolumeSettings());
}

void FileSystem::SetRecordVolume(int volumeIndex) {
    SyncLock lock(m_volumesLock);
    m_recordVolume = volumeIndex;
}

bool FileSystem::FindRecordVolume(uint8_t& volumeIndex) {
    // Fullness is taken under m_volumesLock, the directories are asked after
    // it is released (a directory's lock comes first in the lock order).
    std::vector<bool> full;
    {
        SyncLock lock(m_volumesLock);
        for (size_t i = 0; i < m_volumes.size() && i < 256; ++i) full.push_back(IsRecordVolumeFull(m_volumes[i]));
    }
    const auto dirs = CopyCameraDirs();
    std::vector<bool> hasEntries(full.size(), false);
    for (size_t i = 0; i < full.size(); ++i) {
        for (const auto& item : dirs)
            if (item.second->HasVolumeEntries(static_cast<uint8_t>(i))) {
                hasEntries[i] = true;
                break;
            }
        if (hasEntries[i] && !full[i]) {
            volumeIndex = static_cast<uint8_t>(i);
            return true;
        }
    }
    for (size_t i = 0; i < full.size(); ++i)
        if (!hasEntries[i]) {
            volumeIndex = static_cast<uint8_t>(i);
            return true;
        }
    return false;
}

bool FileSystem::ChangeRecordDrive(bool force) {
    SyncLock driveLock(m_recordDriveLock);
    std::unique_ptr<TestDelay> delay;
    if (m_getFreeDriveTestTime != 0) delay = std::make_unique<TestDelay>(m_getFreeDriveTestTime);

    bool result = true;
    HeldLock volumes(m_volumesLock);
    for (;;) {
        if (m_clearingRecorders) break;
        if (m_recordVolume < 0 || m_recordVolume >= static_cast<int>(m_volumes.size())) {
            result = false;
            break;
        }
        Volume& current = m_volumes[m_recordVolume];
        if (!force && (!current.IsMounted() || !IsRecordVolumeFull(current))) break;
        if (!current.IsMounted() || !platform::IsDirectory(current.GetPath())) {
            result = false;
            break;
        }
        force = false;

        volumes.Unlock();
        const int next = deleteOtherFile();
        volumes.Lock();

        if (next != -1 && next != m_recordVolume && next < static_cast<int>(m_volumes.size())) {
            m_recordVolume = next;
            Volume& chosen = m_volumes[next];
            const int freeMB = chosen.UpdateFreeSpace(false);
            RecordDriveChanged(str(boost::format("%s (%.2fGB free)") % chosen.GetRootPath() % (freeMB / 1024.0)));
            const auto text =
                boost::format("[FILESYSTEM][CHANGE][DRIVE] Drive changed automatically to: %1%.") % chosen.GetRootPath();
            Log()->Message(text);
            if (m_logger) m_logger->Message(text);
            std::unique_lock<std::timed_mutex> recorders(m_recordersMutex, std::chrono::milliseconds(1000));
            if (recorders.owns_lock())
                for (auto& item : m_recorders) item.second->SetDriveChanged();
        }
        if (m_volumes.empty()) {
            Log()->Warning("[FILESYSTEM][VOLUME] No record disk available. Please check your settings.");
            ErrorReported(-1, "No record disk available. Please check your settings.", static_cast<unsigned long>(-1));
            result = false;
            break;
        }
        if (m_clearingRecorders) break;
        // Nothing deleted and nowhere to go: the volume stays full, and
        // checking again would never end.
        if (next == -1) {
            result = false;
            break;
        }
    }
    return result;
}
