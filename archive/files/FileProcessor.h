#pragma once
// Common base of the archive engine's per-camera file workers (the file
// reader and the file recorder): the camera, a private copy of the engine's
// volume list, the current volume, file and date folder, and the operations
// that turn a file id into a path on the current volume. It also builds the
// workers' log prefix and reports caught file errors.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "archive/files/Dir.h"
#include "archive/files/Volume.h"
#include "base/Locks.h"
#include "base/Tss.h"
#include "platform/File.h"

// What a file worker needs of the archive engine that owns it; the engine
// implements it and outlives its workers.
class IFileProcessorOwner {
public:
    // The engine's name, used in log prefixes (empty in this program).
    virtual std::string GetName() const = 0;

protected:
    ~IFileProcessorOwner() = default;
};

class FileProcessor {
public:
    // The volume list is copied; the owner is not owned.
    FileProcessor(int camera, IFileProcessorOwner* owner, const std::vector<Volume>& volumes);
    virtual ~FileProcessor() = default;
    FileProcessor(const FileProcessor&) = delete;
    FileProcessor& operator=(const FileProcessor&) = delete;

    // "FILEREADER" or "RECORDER".
    virtual const char* GetTypeName() const = 0;
    virtual bool IsOpen() const = 0;
    // Logs the close, calls SaveFile and empties the current entry.
    virtual void Close(bool flag);
    virtual void SaveFile() {}

    // "[FILESYSTEM][<engine name>][<type name>]"
    std::string GetLogPrefix() const;
    // One error line for a caught file error: "[FS] %s::%s() \"%s\" exception
    // \"%s\" [%u]", or the short form when the exception has no text.
    void LogException(const platform::FileException& e, const char* operation) const;
    void ReportException(const platform::FileException& e, const char* operation) const {
        LogException(e, operation);
    }

    // Paths on the current volume; empty when the current volume index is not
    // below the volume count. A null folder with a file id >= 0 means today's
    // local date folder "DD-MM-YY".
    std::string GetFilePath(int64_t fileId, const char* dateFolder) const;
    std::string GetProtectedFilePath(int64_t fileId) const;
    std::string GetWritingFilePath(const std::string& suffix) const;
    TSS GetFileCreationTime(int64_t fileId, const std::string& dateFolder) const;

    int GetCamera() const { return m_nChan; }
    IFileProcessorOwner* GetOwner() const { return m_fileSystem; }
    const VindaraFileSystem::DirEntry& GetCurrentEntry() const { return m_currentEntry; }
    void SetCurrentEntry(const VindaraFileSystem::DirEntry& entry) { m_currentEntry = entry; }
    // The empty current entry: times 0 and file id -1.
    static VindaraFileSystem::DirEntry EmptyEntry();
    void ClearCurrentEntry() { m_currentEntry = EmptyEntry(); }
    size_t GetVolumeCount() const;
    void SetVolumeIndex(int index);
    int GetVolumeIndex() const;

    // "DD-MM-YY" of a local date as the date folder of today is named; empty
    // for an all-zero or invalid date or the year 9999.
    static std::string FormatDateFolder(const TSS& localDate);

protected:
    std::vector<Volume> m_volumes;
    mutable qormisc::CriticalSection m_volumesLock;  // guards m_volumes and m_volumeIndex
    int32_t m_passwordCrc = 0;
    int32_t m_volumeIndex = 0;
    int32_t m_nChan = 0;
    int32_t m_fileNumber = 0;
    uint32_t m_maxFileNumber = 0;
    std::string m_hourFolder;
    uint8_t m_protected = 0;
    TSS m_currentFileStart{};
    IFileProcessorOwner* m_fileSystem = nullptr;
    VindaraFileSystem::DirEntry m_currentEntry = EmptyEntry();
};

// Start-up limits of the recorder, read once from SOFTWARE\QOR\Vindara\Video.
struct RecorderLimits {
    uint32_t maxFrames = 500;
    uint32_t maxFramesFaceCapture = 30;
    int32_t indexUpdateAttempts = 100;
    int32_t fileSizeTimeLimit = 0;  // seconds
};
// The registry texts ("" = missing) turned into limits: MaxFrames and
// MaxFramesFaceCapture of 100000 or more, compared unsigned, become 100000.
RecorderLimits MakeRecorderLimits(const std::string& maxFrames, const std::string& maxFramesFaceCapture,
                                  const std::string& indexUpdateAttempts, const std::string& fileSizeTimeLimit);
const RecorderLimits& GetRecorderLimits();

// The CorrectFrameNumber switch (default on): read on the first call and
// written back as 0 or 1.
bool GetCorrectFrameNumber();
