// The archive engine as a whole: construction, initialisation over a drive
// set, reset and shutdown, channels and volumes.

#include "archive/fs/FileSystem.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>

#include <boost/algorithm/string/join.hpp>
#include <boost/archive/archive_exception.hpp>
#include <boost/format.hpp>

#include "archive/files/VolumeFreeSizeChecker.h"
#include "archive/fs/PollThread.h"
#include "base/Log.h"
#include "base/PerfCounters.h"
#include "base/Registry.h"
#include "base/StringConv.h"
#include "base/Tss.h"
#include "base/Utilities.h"
#include "platform/Dir.h"

namespace {

constexpr const char* kVideoKey = "SOFTWARE\\QOR\\Vindara\\Video";
constexpr const char* kVideoTestKey = "SOFTWARE\\QOR\\Vindara\\Video\\Test";

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

// Local hour number (day number x 24 + hour) of a UTC instant.
int LocalHourNumber(const boost::posix_time::ptime& utc) {
    static const boost::posix_time::ptime epoch(boost::gregorian::date(1970, 1, 1));
    const int64_t unixMs = (utc - epoch).total_microseconds() / 1000;
    if (unixMs < 0) return 0;
    TSS local;
    local.FromUtcMilliseconds(static_cast<uint64_t>(unixMs) + kArchiveUnixOffsetMs);
    const int64_t hour = int64_t(local.DayNumber()) * 24 + local.wHour;
    return hour > INT_MAX ? INT_MAX : static_cast<int>(hour);
}

}  // namespace

std::set<std::string> ParseDriveList(const std::string& text) {
    std::set<std::string> drives;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        if (comma > start) drives.insert(text.substr(start, comma - start));
        start = comma + 1;
    }
    return drives;
}

std::string JoinDriveList(const std::set<std::string>& drives) { return boost::algorithm::join(drives, ","); }

FileSystem::FileSystem() : m_loaderLink(std::make_shared<LoaderLink>()) {
    m_loaderLink->engine = this;
    {
        RegistryKey key(kVideoKey, false, RegistryKey::kRead | RegistryKey::kWow64_32Key);
        m_adaptivePlayer = key.ReadInt("AdaptivePlayer", 1) > 0;
        m_pFrameMode = false;
        m_firstFaceCaptureId = 50000;
        m_writeBufferSize = key.ReadInt("WriteBufferSize", 1);
        m_useFastIndex = key.ReadInt("FastIndex", 1) > 0;
    }

    const QorLog::DebugSettings settings{87600, 100, 2, 1, 3, 8192, 4096};
    m_logger = std::make_unique<QorLog::CDebug>("", QorLog::kProductRootKey, ".", &settings);
    m_logger->WriteHeader();

    Log()->Message("[FS][%s] [WriteBufferSize] m_writeBufferSize = %d.", "", m_writeBufferSize);
    {
        // On a read-only store the write-back fails; the value read stays in
        // force and nothing else depends on the write.
        RegistryKey key(kVideoKey, true, RegistryKey::kAllAccess | RegistryKey::kWow64_32Key);
        if (!key.IsOpen() || !key.WriteInt("FastIndex", m_useFastIndex ? 1 : 0))
            Log()->Warning("[FS] Failed to store FastIndex in the registry.");
    }
    Log()->Message("[FS][%s] [FastIndex] m_useFastIndex = %s.", "", m_useFastIndex ? "true" : "false");

    m_taskGroup = std::make_unique<TaskThreadGroup>();
    m_framesIn = GetFramesCounter(str(boost::format("[%s][IN]") % m_name));
    m_framesOut = GetFramesCounter(str(boost::format("[%s][OUT]") % m_name));

    {
        RegistryKey key(kVideoTestKey, false, RegistryKey::kRead | RegistryKey::kWow64_32Key);
        m_getFreeDriveTestTime = key.ReadInt("getFreeDriveTestTime", 0);
    }
    Log()->Message("[FS][INIT] %s [TEST] m_getFreeDriveTestTime = %d seconds", m_name.c_str(), m_getFreeDriveTestTime);

    m_freeSizeChecker = VolumeFreeSizeChecker::GetInstance();
    m_freeSizeChecker->Subscribe(this, [this](const std::string& path, bool mounted) {
        OnMountStateChanged(path, mounted);
    });

    m_pollThread = std::make_unique<ThreadRoutines::PollTimeoutThread>(5000000);
    m_pollThread->SetPeriod(1000000);
    m_pollThread->Start([this] { OnPollTimer(); });
}

FileSystem::~FileSystem() {
    m_pollThread.reset();
    if (m_freeSizeChecker) m_freeSizeChecker->Unsubscribe(this);
    if (IsInitializing() || m_initThread.joinable()) m_initThread.join();
    g_debugLevel = 0;
    m_logger->Shutdown();
    ClearAll();
    {
        std::unique_lock<std::shared_mutex> lock(m_loaderLink->mutex);
        m_loaderLink->engine = nullptr;
    }
    ClearCameraDirs();
    Log()->Message("[FILESYSTEM][%s][EXIT]", m_name.c_str());
}

bool FileSystem::IsInitializing() const {
    std::lock_guard<std::mutex> lock(m_initializingLock);
    return m_initializing;
}

void FileSystem::SetInitializing(bool value) {
    std::lock_guard<std::mutex> lock(m_initializingLock);
    m_initializing = value;
}

std::set<std::string> FileSystem::GetDrives() const {
    std::lock_guard<std::mutex> lock(m_drivesLock);
    return m_drives;
}

bool FileSystem::Init(const std::set<std::string>& drives, ProgressCallback progress, CompletionCallback completion,
                      int folderMode) {
    if (!drives.empty() && GetDrives() == drives) return true;
    {
        std::lock_guard<std::mutex> lock(m_initializingLock);
        if (m_initializing) {
            if (completion) completion(InitRefused, {});
            return false;
        }
        m_initializing = true;
    }
    {
        std::lock_guard<std::mutex> lock(m_drivesLock);
        m_drives = drives;
    }
    SyncLock initLock(m_initLock);
    // The previous asynchronous run has released the lock, so its thread is
    // ending or gone.
    if (m_initThread.joinable()) m_initThread.join();
    m_progressCallback = std::move(progress);
    m_completionCallback = std::move(completion);
    m_minIndexVersion = INDEX_VERSION_2;
    m_folderMode = folderMode;
    m_forceIndexRebuild = 0;
    if (m_completionCallback) {
        m_initThread = boost::thread([this] { RunAsyncInit(); });
        return false;
    }
    Log()->Message("[FILESYSTEM][%s][INIT] Performing sync init of file system. Drives: '%s'.", m_name.c_str(),
                   JoinDriveList(drives).c_str());
    return DoInit();
}

void FileSystem::RunAsyncInit() {
    Log()->Message("[FILESYSTEM][%s][INIT] Performing async init of file system. Drives: '%s'.", m_name.c_str(),
                   JoinDriveList(GetDrives()).c_str());
    SyncLock initLock(m_initLock);
    DoInit();
}

bool FileSystem::DoInit() {
    const std::set<std::string> roots = InitDrives(GetDrives());
    if (roots.empty()) {
        std::lock_guard<std::mutex> lock(m_drivesLock);
        m_drives.clear();
    }
    if (m_completionCallback) m_completionCallback(roots.empty() ? InitNoVolume : InitDone, roots);
    SetInitializing(false);
    return !roots.empty();
}

std::set<std::string> FileSystem::InitDrives(const std::set<std::string>& drives) {
    ClearAll();
    m_progress = 0;
    m_progressStep = 0;

    std::set<std::pair<std::filesystem::file_time_type, std::string>> settingsFiles;
    {
        SyncLock volumesLock(m_volumesLock);
        for (const std::string& drive : drives) {
            // Paths keep their case: the file system is case-sensitive.
            Volume volume(m_name == "ARCH", drive, m_folderMode != 0);
            errno = 0;
            if (volume.CreateDirectories()) {
                m_volumes.push_back(volume);
                const std::string path = ArchiveSettingsPath(volume.GetPath());
                try {
                    if (std::filesystem::exists(path))
                        settingsFiles.emplace(std::filesystem::last_write_time(path), path);
                } catch (const std::filesystem::filesystem_error& ex) {
                    const std::string text =
                        str(boost::format("Filesystem exception in FileRecorder::Close: %s; path = %s") % ex.what() %
                            path);
                    ReportError(__LINE__, -1, text, text, static_cast<unsigned long>(-1));
                }
            } else {
                const unsigned long code = static_cast<unsigned long>(errno);
                Log()->Message("Can't create directory %s", drive.c_str());
                ErrorReported(-1, str(boost::format("Can't create directory: %s") % drive).c_str(), code);
            }
        }
        for (auto it = settingsFiles.rbegin(); it != settingsFiles.rend(); ++it) {
            const std::string& path = it->second;
            try {
                m_settings.Load(path);
                Log()->Message("[FS] File system settings loaded from: %s.", path.c_str());
            } catch (const boost::archive::archive_exception& ex) {
                const std::string text = str(boost::format("Failed to load filesystem settings: %s") % ex.what());
                ReportError(__LINE__, -1, text, text, static_cast<unsigned long>(-1));
            } catch (const std::exception& ex) {
                const std::string text = str(boost::format("Exception while loading filesystem settings: %s") % ex.what());
                ReportError(__LINE__, -1, text, text, static_cast<unsigned long>(-1));
            }
        }
        SetProgress(m_progress + 10);
    }

    InitIndexes();

    // The newest record is found before m_volumesLock is taken: the walk
    // takes m_dirsLock, which always comes first.
    const VindaraFileSystem::DirEntry newest = GetNewestEntry();
    m_titles = std::make_shared<VindaraFileSystem::TitlesManager>(this);

    std::set<std::string> roots;
    {
        SyncLock volumesLock(m_volumesLock);
        m_recordVolume = newest.volumeIndex;
        if (m_recordVolume < static_cast<int>(m_volumes.size())) {
            Volume& volume = m_volumes[m_recordVolume];
            const double freeGb = volume.UpdateFreeSpace(false) / 1024.0;
            RecordDriveChanged(str(boost::format("%s (%.2fGB free)") % volume.GetRootPath() % freeGb));
        }
        SetProgress(m_progress + 10);
        for (const auto& volume : m_volumes) roots.insert(volume.GetRootPath());
    }
    return roots;
}

VindaraFileSystem::DirEntry FileSystem::GetNewestEntry() {
    VindaraFileSystem::DirEntry result = VindaraFileSystem::DirEntry::Empty();
    SyncLock lock(m_dirsLock);
    for (auto& item : m_dirs) {
        auto& dir = item.second;
        if (dir->EntryCount() == 0 && dir->HourCount() == 0) continue;
        VindaraFileSystem::DirEntry last = VindaraFileSystem::DirEntry::Empty();
        dir->ForEachEntryBackward([&last](const VindaraFileSystem::DirEntry& e) {
            last = e;
            return false;
        });
        if (last.IsSet() && (!result.IsSet() || last.begin > result.begin)) result = last;
    }
    return result;
}

void FileSystem::ClearAll() {
    ClearReaders();
    ClearRecorders();
    m_taskGroup->Stop();
    {
        SyncLock lock(m_volumesLock);
        m_volumes.clear();
    }
    m_titles.reset();
}

void FileSystem::ClearCameraDirs() {
    {
        SyncLock lock(m_dirsLock);
        m_dirs.clear();
    }
    std::lock_guard<std::mutex> lock(m_hourIndexCacheLock);
    m_hourIndexCache.clear();
}

void FileSystem::SetProgress(double percent) {
    auto rounded = [](double v) { return v < 0 ? 0 : static_cast<int>(std::floor(v + 0.5)); };
    const int before = rounded(m_progress);
    m_progress = percent;
    const int after = rounded(percent);
    if (m_progressCallback && after != before) m_progressCallback(after);
}

void FileSystem::ReportError(int line, int channel, const std::string& logText, const std::string& signalText,
                             unsigned long code) {
    Log()->ErrorText(__FILE__, line, __TIMESTAMP__, logText);
    ErrorReported(channel, signalText.c_str(), code);
}

void FileSystem::SaveSettings() {
    SyncLock lock(m_volumesLock);
    for (const auto& volume : m_volumes) {
        const std::string path = ArchiveSettingsPath(volume.GetPath());
        try {
            m_settings.Save(path);
        } catch (const boost::archive::archive_exception& ex) {
            ReportError(__LINE__, -1, str(boost::format("Failed to save filesystem settings: %s.") % ex.what()),
                        str(boost::format("Failed to save filesystem settings: %s") % ex.what()),
                        static_cast<unsigned long>(-1));
        } catch (const std::exception& ex) {
            ReportError(__LINE__, -1, str(boost::format("Exception while saving filesystem settings: %s.") % ex.what()),
                        str(boost::format("Failed to save filesystem settings: %s") % ex.what()),
                        static_cast<unsigned long>(-1));
        }
    }
}

void FileSystem::OnMountStateChanged(const std::string& path, bool mounted) {
    if (m_name == "FS") MountStateChanged(path, mounted);
}

void FileSystem::GetCameraIds(std::vector<int>& ids) const {
    SyncLock lock(m_dirsLock);
    for (const auto& item : m_dirs)
        if (item.first < m_firstFaceCaptureId) ids.push_back(item.first);
}

ChannelInfo FileSystem::GetChannelInfo(int camera) const {
    SyncLock lock(m_volumesLock);
    return m_settings.GetChannelInfo(camera);
}

std::string FileSystem::GetChannelName(int camera) const { return WStringToString(GetChannelInfo(camera).name); }

size_t FileSystem::GetVolumeCount() const {
    SyncLock lock(m_volumesLock);
    return m_volumes.size();
}

std::string FileSystem::GetVolumePath(int volumeIndex) const {
    SyncLock lock(m_volumesLock);
    if (volumeIndex < 0 || volumeIndex >= static_cast<int>(m_volumes.size()))
        throw std::out_of_range("volume index out of range");
    return m_volumes[volumeIndex].GetPath();
}

VolumePathMap FileSystem::GetVolumePaths() const {
    VolumePathMap paths;
    SyncLock lock(m_volumesLock);
    for (size_t i = 0; i < m_volumes.size() && i < 256; ++i) paths[static_cast<uint8_t>(i)] = m_volumes[i].GetPath();
    return paths;
}

void FileSystem::SetHourWindow(const std::pair<boost::posix_time::ptime, boost::posix_time::ptime>& period) {
    m_firstHour = period.first.is_special() ? 0 : LocalHourNumber(period.first);
    m_lastHour = period.second.is_special() ? INT_MAX
                                            : LocalHourNumber(period.second + boost::posix_time::microseconds(1));
}

std::string FileSystem::GetEntryFilePath(int camera, const VindaraFileSystem::DirEntry& entry, char letter) {
    SyncLock lock(m_volumesLock);
    if (entry.volumeIndex >= m_volumes.size()) return std::string();
    const Volume& volume = m_volumes[entry.volumeIndex];
    if (entry.isProtected) {
        TSS hour;
        hour.FromUtcMilliseconds(entry.date + kArchiveUnixOffsetMs);
        return volume.GetProtectedFilePath(camera, entry.fileId, hour, letter);
    }
    return volume.GetFilePath(camera, entry.fileId, FormatEntryDate(entry.date), letter);
}
