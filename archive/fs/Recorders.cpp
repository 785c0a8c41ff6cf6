// The engine's recorders: creation on demand, the calls they make back into
// the engine when they finish files, and their removal.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>

#include <boost/format.hpp>

#include "archive/files/FastIndex.h"
#include "archive/fs/ChangeMessages.h"
#include "archive/fs/FileSystem.h"
#include "archive/fs/IndexFile.h"
#include "base/Log.h"
#include "base/PerfCounters.h"
#include "platform/Dir.h"

namespace {

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

}  // namespace

std::shared_ptr<FileRecorder> FileSystem::GetRecorder(int camera, bool create, const std::string& name) {
    if (IsInitializing()) return nullptr;
    std::unique_lock<std::timed_mutex> recorders(m_recordersMutex, std::chrono::milliseconds(1000));
    if (!recorders.owns_lock()) return nullptr;
    const std::string key = MakeRecorderKey(camera, name);
    auto found = m_recorders.find(key);
    if (found != m_recorders.end()) return found->second;

    std::shared_ptr<FileRecorder> recorder;
    {
        SyncLock volumes(m_volumesLock);
        if (m_volumes.empty() || !create) return nullptr;
        recorder = std::make_shared<FileRecorder>(camera, this, m_volumes, name);
    }
    recorder->VolumeStateChanged.connect([this](int channel, bool available) {
        if (auto sink = GetMessageSink()) sink->OnRecorderNotification(channel, available ? 1 : 0);
    });
    m_recorders[key] = recorder;
    SaveSettings();
    recorder->SetVolumeIndex(m_recordVolume);
    auto settings = m_recordSettings.find(camera);
    if (settings != m_recordSettings.end()) {
        recorder->SetCodecName(settings->second.codecId, settings->second.codecName.c_str());
        recorder->SetPasswordCrc(settings->second.passwordCrc);
    }
    {
        std::lock_guard<std::mutex> lock(m_messageSinkLock);
        auto mics = m_audioMics.find(camera);
        if (mics != m_audioMics.end()) recorder->SetAudioMics(mics->second);
    }
    return recorder;
}

void FileSystem::ClearRecorders() {
    {
        SyncLock lock(m_volumesLock);
        m_clearingRecorders = true;
    }
    std::map<std::string, std::shared_ptr<FileRecorder>> dropped;
    {
        std::lock_guard<std::timed_mutex> recorders(m_recordersMutex);
        dropped.swap(m_recorders);
    }
    // Destroyed outside the lock: finishing a file calls back into the engine.
    dropped.clear();
    SyncLock lock(m_volumesLock);
    m_clearingRecorders = false;
}

size_t FileSystem::GetRecorderCount() const {
    std::lock_guard<std::timed_mutex> recorders(m_recordersMutex);
    return m_recorders.size();
}

void FileSystem::SetChannelRecordSettings(int camera, int codecId, const std::string& codecName, int32_t passwordCrc) {
    std::lock_guard<std::timed_mutex> recorders(m_recordersMutex);
    m_recordSettings[camera] = RecordSettings{codecId, codecName, passwordCrc};
}

void FileSystem::AddRecordedEntry(int channel, const VindaraFileSystem::DirEntry& entry,
                                  const std::string& archiveFolder) {
    SyncLock lock(m_dirsLock);
    const std::shared_ptr<VindaraFileSystem::Dir> dir = GetCameraDir(channel, true);
    if (!dir) return;
    const int32_t hour = static_cast<int32_t>(entry.begin / 3600000ULL);
    const bool known = dir->HasHourOnVolume(hour, entry.volumeIndex);
    dir->AddEntry(entry);
    if (!known && !archiveFolder.empty()) AppendFastIndexEntry(archiveFolder, FastIndexHourEntry{0, channel, hour});
}

bool FileSystem::AppendRecordIndexEntry(const std::string& indexPath, int channel,
                                        const VindaraFileSystem::DirEntry& entry, const std::string& destination) {
    static std::atomic<uint64_t> updates{0};
    static std::atomic<uint64_t> failures{0};
    std::string marker = indexPath;
    if (marker.size() >= 4) marker.replace(marker.size() - 4, 4, ".ndx");
    // A missing hour file, or one being re-indexed, takes no entry.
    if (!platform::PathExists(indexPath) || platform::PathExists(marker)) return false;
    const int attempts = std::max(1, GetRecorderLimits().indexUpdateAttempts);
    int failed = 0;
    int error = 0;
    bool written = false;
    for (int attempt = 0; attempt < attempts && !written; ++attempt) {
        errno = 0;
        written = AppendIndexEntry(indexPath, IndexEntry{entry, channel});
        if (written) break;
        error = errno;
        ++failed;
        if (!platform::PathExists(indexPath)) break;
    }
    const uint64_t total = ++updates;
    if (written) {
        if (failed > 0)
            Log()->Warning("%s:: Concurrent access to the index file \"%s\". File was opened from %d attempt.",
                           m_name.c_str(), indexPath.c_str(), failed);
        return true;
    }
    const uint64_t lost = ++failures;
    const std::string text =
        str(boost::format("%s:: Entry \"%s\" was lost cause of access error %d to the index file \"%s\". "
                          "Index update failed %05.2f%%") %
            m_name % destination % error % indexPath % (100.0 * double(lost) / double(total)));
    ReportError(__LINE__, channel, text, text, static_cast<unsigned long>(error));
    return false;
}

void FileSystem::RemoveRecordedEntry(int channel, const VindaraFileSystem::DirEntry& entry) {
    {
        SyncLock lock(m_dirsLock);
        if (auto dir = GetCameraDir(channel, false)) dir->RemoveEntry(entry);
    }
    UpdateIndexFiles({IndexEntry{entry, channel}}, true);
}

void FileSystem::SendRecorderMessage(const Event& message, int kind) {
    if (auto sink = GetMessageSink()) sink->OnMessage(message, kind);
}

void FileSystem::OnFileRecorded(int channel, const std::string& path, const TSS& begin, const TSS& end) {
    if (auto sink = GetMessageSink()) sink->OnFileRecorded(channel, path.c_str(), begin, end);
}

void FileSystem::CountFrameOut(const VideoFrame* frame) {
    if (m_framesOut) m_framesOut->AddFrame(frame);
}

void FileSystem::OnRecorderQueue(int channel, size_t length) {
    if (auto sink = GetMessageSink()) sink->OnRecorderQueue(channel, length);
}

void FileSystem::OnTempFileMoveFailed(int channel, const std::string& temporaryPath, const std::string& destination,
                                      unsigned long systemError) {
    TempFileMoveFailed(channel, temporaryPath.c_str(), destination.c_str(), systemError);
}
