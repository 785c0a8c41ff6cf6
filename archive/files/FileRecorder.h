#pragma once
// The file recorder: writes the archive video files of one channel (and one
// sub-channel id) of an archive engine. Frames arrive in a queue; the
// recording thread takes them one by one, re-encodes them where needed,
// appends each as an archive frame record to the current file with its frame
// index entry, and starts a new file when a limit is met. Finishing a file
// appends the index and trailer, gives the file its final name in its hour
// folder (through MoveFilesThread when it was written in the temporary
// writing folder), and adds its record index, directory and fast-index
// entries. Reads of the file being written answer nearest-frame requests.
//
// The newest frame with data stays in the queue until a further entry
// arrives, so the writer knows whether it is the last of a run; an entry
// without data (a control entry) ends the run: with a source name it
// finishes the file, without one it discards it.
//
// Lock order: m_fileLock, then the owner's recording lock; the volume lock
// of the processor part and the owner's own locks are taken last and alone.

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/signals2/signal.hpp>

#include "archive/files/Dir.h"
#include "archive/files/FileBuffered.h"
#include "archive/files/FileProcessor.h"
#include "archive/files/FramesIndex.h"
#include "base/Locks.h"
#include "base/Thread.h"
#include "base/VideoFrame.h"

class Event;
class FileRecorder;
namespace FrameCodecs {
class IFrameCompressor;
class IFrameDecompressor;
}  // namespace FrameCodecs
namespace QorStatistics {
class CPerformanceFramesCounter;
}

// What a recorder needs of the archive engine that owns it.
class IRecorderOwner : public IFileProcessorOwner {
public:
    // Serialises file creation, finishing and block writes of all recorders.
    virtual qormisc::CriticalSection& GetRecordingLock() = 0;
    // Megabytes per write step of a memory-file save.
    virtual int GetWriteBufferSize() const = 0;
    virtual int GetFirstFaceCaptureId() const = 0;
    virtual int GetRecordVolume() const = 0;
    // The record-drive check (forced after a full disk).
    virtual bool ChangeRecordDrive(bool force) = 0;
    // A finished file's record: into the channel's directory and, for an hour
    // new to the channel on that volume, the volume's fast index.
    virtual void AddRecordedEntry(int channel, const VindaraFileSystem::DirEntry& entry,
                                  const std::string& archiveFolder) = 0;
    // Appends the record index entry of the file at `destination` to an
    // existing hour index file, trying IndexUpdateAttempts times; false when
    // it was not written (no file, a re-index marker, an access error: the
    // last is logged as a lost entry with the running failure percentage).
    virtual bool AppendRecordIndexEntry(const std::string& indexPath, int channel,
                                        const VindaraFileSystem::DirEntry& entry, const std::string& destination) = 0;
    // Takes back a record whose file did not reach its destination.
    virtual void RemoveRecordedEntry(int channel, const VindaraFileSystem::DirEntry& entry) = 0;
    // Messages for the attached message sink (kind 1 for reactions and
    // recording errors, 0 for ARCH_NEW); false when no sink is attached.
    virtual bool HasMessageSink() const = 0;
    virtual void SendRecorderMessage(const Event& message, int kind) = 0;
    virtual void OnFileRecorded(int channel, const std::string& path, const TSS& begin, const TSS& end) = 0;
    virtual void CountFrameOut(const VideoFrame* frame) = 0;
    // The queue length the recording thread saw when it took an entry.
    virtual void OnRecorderQueue(int channel, size_t length) = 0;
    virtual void OnTempFileMoveFailed(int channel, const std::string& temporaryPath, const std::string& destination,
                                      unsigned long systemError) = 0;

protected:
    ~IRecorderOwner() = default;
};

// Moves files finished in the temporary writing folder into the archive on
// its own thread.
class MoveFilesThread : public Thread {
public:
    struct Job {
        std::string destination;
        VindaraFileSystem::DirEntry entry;  // taken back when the move fails
        TSS end{};                          // the file's times once it is in place
    };

    explicit MoveFilesThread(FileRecorder* recorder);
    ~MoveFilesThread() override;

    bool Run() override;
    // Queues a numbered temporary file; starts the thread when it is not
    // running.
    void Add(const std::string& numberedPath, Job job);
    // Files waiting to be moved.
    size_t Pending() const;
    qormisc::CriticalSection& GetLock() { return m_moveLock; }
    // Test seam: while held, the thread leaves the waiting files alone.
    void HoldForTesting(bool hold) { m_held = hold; }

private:
    std::atomic<bool> m_held{false};
    std::map<std::string, Job> m_moveMap;  // numbered temporary path -> job
    mutable qormisc::CriticalSection m_moveLock;
    FileRecorder* m_recorder;
};

// A file moved into its destination, replacing an existing one there. Within
// one file system a rename; across file systems a copy to a temporary name
// beside the destination, renamed over it, then the source removed. Returns
// 0 or the errno of the failure (nothing changed at the destination then).
int MoveFileReplacing(const std::string& source, const std::string& destination);

class FileRecorder : public FileProcessor, public Thread {
public:
    // Cause names of file errors by cause number ("Unknown" beyond 14).
    static const char* FileErrorCauseName(int cause);

    FileRecorder(int channel, IRecorderOwner* owner, const std::vector<Volume>& volumes,
                 const std::string& subChannelId);
    ~FileRecorder() override;

    // --- FileProcessor ---
    const char* GetTypeName() const override { return "RECORDER"; }
    // At least one frame written to the current file.
    bool IsOpen() const override { return m_frameCount != 0; }
    // Finishes the current file; flag is its close flag.
    void Close(bool flag) override;
    void SaveFile() override;

    // --- Thread ---
    bool Run() override;

    // --- input and settings ---
    // Appends an entry (one reference taken). An entry without data is a
    // control entry.
    void Enqueue(VideoFrame* frame);
    size_t QueueLength() const;
    // An empty name is stored as "Corvane". Returns 1.
    int SetCodecName(int codecId, const char* name);
    int SetAudioMics(const std::vector<std::string>& mics);
    std::vector<std::string> GetAudioMics() const;
    void SetPasswordCrc(int32_t crc) { m_passwordCrc = crc; }
    // Raised by the engine when it changes the record volume.
    void SetDriveChanged() { m_driveChanged = 1; }
    bool IsDriveChanged() const { return m_driveChanged != 0; }
    bool IsVolumeLost() const { return m_volumeLost; }
    const std::string& GetSubChannelId() const { return m_subChannelId; }
    const std::string& GetCodecName() const { return m_codecName; }

    // --- the recording steps, also driven directly by tests ---
    bool WriteFrame(VideoFrame* frame, bool last);
    bool createNextFile(bool restart, const TSS& time);
    bool CheckTempWritingDir();
    void UpdateHourFolder(const TSS& time);
    // Fills `frame` (whose m_sFileId holds "<word> <date> <time>") with the
    // frame of the file being written at or after that time; true when the
    // frame then holds data.
    bool ReadFrameOfCurrentFile(VideoFrame* frame);
    // Throws platform::FileException when the file did not move (it stays at
    // the source then). A file of the temporary writing folder is queued for
    // the move thread under a numbered name.
    void MoveToArchive(const std::string& source, const std::string& destination,
                       const VindaraFileSystem::DirEntry& entry);

    uint32_t GetFrameCount() const { return m_frameCount; }
    uint32_t GetFileNumber() const { return static_cast<uint32_t>(m_fileNumber); }
    const std::string& GetHourFolder() const { return m_hourFolder; }
    std::string GetWritingPath() const { return GetWritingFilePath(m_subChannelId); }
    // The destination of file `number` in the current hour folder.
    std::string GetDestinationPath(int64_t number) const;
    MoveFilesThread& GetMoveThread() { return m_moveThread; }
    IRecorderOwner* GetRecorderOwner() const { return m_owner; }
    int GetChannel() const { return m_nChan; }

    // Test seams: the limits (normally the start-up settings), the
    // millisecond tick, the bound on disk-full retries of one frame.
    void SetLimits(const RecorderLimits& limits) { m_limits = limits; }
    void SetTickSource(std::function<uint32_t()> ticks) { m_ticks = std::move(ticks); }
    void SetDiskFullAttempts(int attempts) { m_diskFullAttempts = attempts; }
    // Replaces the disk file (tests inject failing files); only while no
    // file is open.
    void SetDiskFile(std::unique_ptr<CFileBuffered> file) { m_file = std::move(file); }

    // (channel, available): false when the volume became unusable, true when
    // it is usable again.
    boost::signals2::signal<void(int, bool)> VolumeStateChanged;

    // Process-wide number of the next temporary-folder move (".0", ".1", ...).
    static uint32_t NextRenameNumberForTesting();
    static void ResetRenameCounterForTesting();

private:
    void closeInternal(bool flag);
    bool FinishFile(bool flag, bool& finalDataWritten);
    bool WriteFinalData(platform::File& file, uint32_t count, uint8_t flag);
    void ReserveDestinationFile(std::string& path);
    platform::File* GetCurrentFile();
    bool FileIsOpen();
    bool VolumeUsable() const;
    void MarkVolumeLost();
    uint32_t Ticks() const;
    uint32_t FrameLimit() const;
    void SendEvent(const std::string& action, const std::string& text);
    void SendAudioStart(bool restart, const TSS& time);
    void SendAudioStop(const std::string& source, const std::string& destination, bool withMs);
    std::string EventType() const;
    void KeepFailedFile(const std::string& source, const char* why);
    void doReadFrame(VideoFrame* frame, platform::File& file);
    bool CompressPicture(VideoFramePtr& w, bool keyFlag, bool last);
    VideoFramePtr PrepareFormat100(VideoFrame* received, int32_t receivedNumber, VideoFramePtr w, bool last, bool& ok);

    IRecorderOwner* m_owner;
    MoveFilesThread m_moveThread;
    mutable qormisc::CriticalSection m_fileLock;
    mutable qormisc::CriticalSection m_queueLock;
    uint64_t m_maxQueueLength = 0;
    std::unique_ptr<CFileBuffered> m_file;
    std::string m_writingPath;
    bool m_useMemFile = false;
    bool m_optimizeMemory = true;
    std::unique_ptr<platform::MemFile> m_memFile;
    std::vector<uint8_t> m_keptBuffer;
    int32_t m_writeBufferSize = 1;
    uint32_t m_frameCount = 0;
    FramesIndex m_index;
    std::string m_codecName;
    int32_t m_codecId = 0;
    std::unique_ptr<FrameCodecs::IFrameCompressor> m_compressor;
    std::unique_ptr<FrameCodecs::IFrameDecompressor> m_decompressor;
    std::unique_ptr<FrameCodecs::IFrameCompressor> m_mjpegCompressor;
    std::list<VideoFramePtr> m_queue;
    TSS m_timeStart{};
    TSS m_timeEnd{};
    int32_t m_keyHeaderNeeded = 0;
    VideoFramePtr m_keyFrame;
    uint32_t m_openTick = 0;
    std::shared_ptr<QorStatistics::CPerformanceFramesCounter> m_framesIn;
    std::shared_ptr<QorStatistics::CPerformanceFramesCounter> m_framesOut;
    double m_lastSaveSpeed = 0;
    mutable qormisc::CriticalSection m_keyFrameLock;
    qormisc::CriticalSection m_keyFrameLock2;
    std::vector<std::string> m_audioMics;
    std::atomic<bool> m_volumeLost{false};
    std::atomic<int32_t> m_driveChanged{0};
    int32_t m_partFrameNumber = 0;
    int32_t m_partHeadLength = 0;
    std::vector<uint8_t> m_partHead;
    int32_t m_audioFileOpen = 0;
    int32_t m_formatCode = 0;
    int32_t m_nWritingQueueSize = 0;
    std::string m_subChannelId;
    std::string m_lastHourFolder;
    platform::MemFile m_record{0x100000};  // the record being written, reused
    uint64_t m_recordsEnd = 0;  // file position after the last whole record
    bool m_saveFailed = false;  // the memory file did not reach its destination
    RecorderLimits m_limits;
    std::function<uint32_t()> m_ticks;
    int m_diskFullAttempts = 10;
};
