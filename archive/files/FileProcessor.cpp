#include "archive/files/FileProcessor.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "archive/files/FailureReports.h"
#include "base/Log.h"
#include "base/Registry.h"

namespace {

constexpr const char* kVideoKey = "SOFTWARE\\QOR\\Vindara\\Video";

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

uint32_t CappedFrames(const std::string& text, uint32_t def) {
    uint32_t value = text.empty() ? def : static_cast<uint32_t>(std::strtol(text.c_str(), nullptr, 10));
    return value > 99999u ? 100000u : value;
}

int32_t IntOr(const std::string& text, int32_t def) {
    return text.empty() ? def : static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

}  // namespace

FileProcessor::FileProcessor(int camera, IFileProcessorOwner* owner, const std::vector<Volume>& volumes)
    : m_volumes(volumes), m_nChan(camera), m_fileSystem(owner) {}

VindaraFileSystem::DirEntry FileProcessor::EmptyEntry() {
    VindaraFileSystem::DirEntry e;
    e.fileId = 0xFFFFFFFFu;
    return e;
}

void FileProcessor::Close(bool /*flag*/) {
    Log()->Message("%s::Close() this = %p", GetLogPrefix().c_str(), static_cast<const void*>(this));
    SaveFile();
    ClearCurrentEntry();
}

std::string FileProcessor::GetLogPrefix() const {
    const std::string name = m_fileSystem ? m_fileSystem->GetName() : std::string();
    return "[FILESYSTEM][" + name + "][" + GetTypeName() + "]";
}

void FileProcessor::LogException(const platform::FileException& e, const char* operation) const {
    const std::string name = m_fileSystem ? m_fileSystem->GetName() : std::string();
    FailureReports::LogErrorLine(FailureReports::ExceptionText(name, operation, e));
}

std::string FileProcessor::FormatDateFolder(const TSS& d) {
    if (d.IsEmpty() || !d.IsValidDate() || d.wYear == 9999) return std::string();
    unsigned year = d.wYear;
    if (year >= 2000)
        year -= 2000;
    else if (year >= 1951)
        year -= 1900;
    char text[32];
    std::snprintf(text, sizeof text, "%.2u-%.2u-%.2u", static_cast<unsigned>(d.wDay), static_cast<unsigned>(d.wMonth),
                  year);
    return text;
}

std::string FileProcessor::GetFilePath(int64_t fileId, const char* dateFolder) const {
    SyncLock lock(m_volumesLock);
    if (m_volumeIndex < 0 || static_cast<size_t>(m_volumeIndex) >= m_volumes.size()) return std::string();
    std::string folder;
    if (dateFolder) {
        folder = dateFolder;
    } else if (fileId >= 0) {
        TSS today;
        today.SetLocalNow();
        folder = FormatDateFolder(today);
    }
    return m_volumes[static_cast<size_t>(m_volumeIndex)].GetFilePath(m_nChan, fileId, folder, kVideoLetter);
}

std::string FileProcessor::GetProtectedFilePath(int64_t fileId) const {
    SyncLock lock(m_volumesLock);
    if (m_volumeIndex < 0 || static_cast<size_t>(m_volumeIndex) >= m_volumes.size()) return std::string();
    const TSS entryTime = TSS::FromUtc(m_currentEntry.date + kArchiveUnixOffsetMs);
    return m_volumes[static_cast<size_t>(m_volumeIndex)].GetProtectedFilePath(m_nChan, fileId, entryTime,
                                                                               kVideoLetter);
}

std::string FileProcessor::GetWritingFilePath(const std::string& suffix) const {
    SyncLock lock(m_volumesLock);
    if (m_volumeIndex < 0 || static_cast<size_t>(m_volumeIndex) >= m_volumes.size()) return std::string();
    return m_volumes[static_cast<size_t>(m_volumeIndex)].GetWritingFilePath(m_nChan, suffix);
}

TSS FileProcessor::GetFileCreationTime(int64_t fileId, const std::string& dateFolder) const {
    SyncLock lock(m_volumesLock);
    if (m_volumeIndex < 0 || static_cast<size_t>(m_volumeIndex) >= m_volumes.size()) return TSS{};
    return m_volumes[static_cast<size_t>(m_volumeIndex)].GetFileCreationTime(m_nChan, fileId, dateFolder);
}

size_t FileProcessor::GetVolumeCount() const {
    SyncLock lock(m_volumesLock);
    return m_volumes.size();
}

void FileProcessor::SetVolumeIndex(int index) {
    SyncLock lock(m_volumesLock);
    m_volumeIndex = index;
}

int FileProcessor::GetVolumeIndex() const {
    SyncLock lock(m_volumesLock);
    return m_volumeIndex;
}

RecorderLimits MakeRecorderLimits(const std::string& maxFrames, const std::string& maxFramesFaceCapture,
                                  const std::string& indexUpdateAttempts, const std::string& fileSizeTimeLimit) {
    RecorderLimits limits;
    limits.maxFrames = CappedFrames(maxFrames, limits.maxFrames);
    limits.maxFramesFaceCapture = CappedFrames(maxFramesFaceCapture, limits.maxFramesFaceCapture);
    limits.indexUpdateAttempts = IntOr(indexUpdateAttempts, limits.indexUpdateAttempts);
    limits.fileSizeTimeLimit = IntOr(fileSizeTimeLimit, limits.fileSizeTimeLimit);
    return limits;
}

const RecorderLimits& GetRecorderLimits() {
    static const RecorderLimits limits = [] {
        RegistryKey key(kVideoKey);
        return MakeRecorderLimits(key.ReadString("MaxFrames", "", 32), key.ReadString("MaxFramesFaceCapture", "", 32),
                                  key.ReadString("IndexUpdateAttempts", "", 32),
                                  key.ReadString("FileSizeTimeLimit", "", 32));
    }();
    return limits;
}

bool GetCorrectFrameNumber() {
    static const bool value = [] {
        bool on = true;
        {
            RegistryKey key(kVideoKey);
            on = key.ReadInt("CorrectFrameNumber", 1) != 0;
        }
        RegistryKey writable(kVideoKey, true);
        if (!writable.IsOpen()) writable.Create(kVideoKey);
        writable.WriteInt("CorrectFrameNumber", on ? 1 : 0);
        return on;
    }();
    return value;
}
