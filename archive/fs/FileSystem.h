#pragma once
// The recorder archive engine: the volumes of one set of drives, the
// per-camera record directories built from the volumes' record index files,
// the archive's channel settings, and the record queries the front ends ask.
//
// Life of an engine: construct (reads its registry values, starts the poll
// thread), Init with a drive set (synchronously, or on a worker thread when a
// completion callback is given), queries, destruction (waits for a running
// initialisation). Errors are logged and emitted through ErrorReported; no
// operation throws except GetVolumePath on a bad index.
//
// Lock order: m_recordDriveLock before m_dirsLock before m_volumesLock;
// m_initLock and m_readersLock each before m_volumesLock. A camera
// directory's own lock may be held while m_dirsLock or m_volumesLock is
// taken (hour loading); m_volumesLock is never held while a directory is
// walked.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include <boost/date_time/gregorian/gregorian_types.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/signals2/signal.hpp>
#include <boost/thread/thread.hpp>

#include "archive/files/ArchiveSettings.h"
#include "archive/files/FileReader.h"
#include "archive/files/FileRecorder.h"
#include "archive/files/Dir.h"
#include "archive/files/Titles.h"
#include "archive/files/Volume.h"
#include "archive/fs/IPlayer.h"
#include "archive/fs/IndexFile.h"
#include "archive/fs/RecorderIds.h"
#include "base/Locks.h"

namespace QorLog {
class CDebug;
}
namespace ThreadRoutines {
class PollTimeoutThread;
}
class TaskThreadGroup;
class VolumeFreeSizeChecker;
namespace QorStatistics {
class CPerformanceFramesCounter;
}

// Records shared by the tasks of one index load or rebuild run; defined with
// the index start-up code.
struct IndexLoadTask;
struct RebuildTask;
// Shared by the per-volume tasks of one on-demand hour load (IndexFile.h).
struct HourLoadTask;
// Deletion lists of one removal run (RemoveRecords.h).
struct VolumeDeletion;
struct VolumeDeletions;
// Bookmark records (Bookmarks.h) and the receiver of archive change messages (ChangeMessages.h).
class Bookmark;
class ChannelsBookmark;
class IArchiveMessageSink;

// Volume index (position in the engine's volume list) -> archive folder.
using VolumePathMap = std::map<uint8_t, std::string>;
using VolumePath = std::pair<uint8_t, std::string>;

// Runs `task` once per volume, every run ended before returning. The calling
// thread runs the first volume's task itself and one thread is started for
// each further volume, so that separate drives are read at the same time.
// A task's exception reaches the caller once all have ended (the first in
// volume order).
void ForEachVolumeInParallel(const VolumePathMap& volumes, const std::function<void(const VolumePath&)>& task);
// The same, one volume after the other on the calling thread: for work too
// small to pay for starting a thread.
void ForEachVolumeInTurn(const VolumePathMap& volumes, const std::function<void(const VolumePath&)>& task);

// "C:\,,D:\,C:\" -> {"C:\", "D:\"}: split at commas, empty items dropped.
std::set<std::string> ParseDriveList(const std::string& text);
// The set joined with ",".
std::string JoinDriveList(const std::set<std::string>& drives);

// Per-camera deletion limits (the recording side; nothing here sets any).
struct RetentionRule {
    int minKeepHours = 0;
    int maxAgeHours = 0;
    bool ageFromNow = false;
};

class FileSystem : public QOR_FS::IPlayer,
                   public VindaraFileSystem::ITitlesOwner,
                   public IFileReaderOwner,
                   public IRecorderOwner {
public:
    // State handed to the completion callback of an asynchronous Init.
    enum EInitializeState {
        InitRefused = 0,   // another initialisation is running; roots empty
        InitDone = 1,      // at least one volume came up
        InitNoVolume = 2,  // no volume came up
    };
    using ProgressCallback = std::function<void(int percent)>;
    using CompletionCallback = std::function<void(int state, const std::set<std::string>& roots)>;
    using DayEntry = std::pair<boost::posix_time::ptime, boost::posix_time::ptime>;

    FileSystem();
    virtual ~FileSystem();
    FileSystem(const FileSystem&) = delete;
    FileSystem& operator=(const FileSystem&) = delete;

    // --- initialisation -------------------------------------------------
    // folderMode non-zero: every drive path is itself an archive folder;
    // zero: the archive folder is the drive's "VIDEO" folder.
    // Returns true at once when `drives` is not empty and equals the current
    // set. With a completion callback the work runs on a worker thread and the
    // call returns false; the callback later gets InitDone or InitNoVolume
    // with the volume roots (InitRefused at once when an initialisation is
    // running). Without one, returns whether at least one volume came up.
    // The progress callback gets whole percentages as they change, on the
    // initialising thread or, while several volumes are rebuilt, on their
    // worker threads, one at a time.
    bool Init(const std::set<std::string>& drives, ProgressCallback progress = {},
              CompletionCallback completion = {}, int folderMode = 0);
    bool IsInitializing() const;
    // Drops readers, workers, volumes and titles (not the directories).
    void ClearAll();
    // Empties the record directories and the hour-detail cache.
    void ClearCameraDirs();

    // --- channels and volumes ---------------------------------------------
    // Camera ids with a record directory, below the first face-capture id,
    // ascending, appended.
    void GetCameraIds(std::vector<int>& ids) const;
    // The channel's settings record; a default record with that id when the
    // archive settings do not name it.
    ChannelInfo GetChannelInfo(int camera) const;
    std::string GetChannelName(int camera) const;
    std::string GetName() const override { return m_name; }
    size_t GetVolumeCount() const;
    // The archive folder of a volume; std::out_of_range for a bad index.
    std::string GetVolumePath(int volumeIndex) const;
    VolumePathMap GetVolumePaths() const;
    int GetRecordVolume() const override { return m_recordVolume; }
    std::set<std::string> GetDrives() const;

    // Hours outside [first, last] (local hour numbers: day number x 24 +
    // hour) are not loaded at start-up; special values leave that end open.
    void SetHourWindow(const std::pair<boost::posix_time::ptime, boost::posix_time::ptime>& period);
    std::pair<int, int> GetHourWindow() const { return {m_firstHour, m_lastHour}; }

    // --- record directories and queries -----------------------------------
    std::shared_ptr<VindaraFileSystem::Dir> GetCameraDir(int camera, bool create);
    std::shared_ptr<VindaraFileSystem::Dir> GetCameraDir(int camera) override { return GetCameraDir(camera, false); }
    // Path of the entry's archive file with `letter` in its extension; the
    // copy under PROTECTED for protected entries; empty for an unknown volume.
    std::string GetEntryFilePath(int camera, const VindaraFileSystem::DirEntry& entry, char letter) override;
    // The newest set entry of all cameras; an empty entry when there is none.
    VindaraFileSystem::DirEntry GetNewestEntry();

    // "last": date and time of the newest record's begin; a date: one line
    // "begin end +|-\n" per record of that local day; empty: one line per
    // local day with records. Times carry milliseconds when withMs is set.
    // The handle is released before returning. Empty for an unknown camera.
    std::string FindRecordTime(const std::string& slaveId, int camera, const char* request, int withMs,
                               std::shared_ptr<void> handle = {}) override;
    // Local calendar days holding records, ascending, appended.
    void GetRecordHours(int camera, std::vector<boost::gregorian::date>& days);
    void GetRecordDays(int camera, std::vector<boost::gregorian::date>& days) { GetRecordHours(camera, days); }
    // Records of a local day as UTC (begin, end - 1 us), appended.
    void GetDayEntries(int camera, const boost::gregorian::date& day, std::vector<DayEntry>& entries);

    // --- player interface -----------------------------------------------------
    int StartPlay(const std::string& slaveId, int camera, ReceiverPtr receiver, int crossFiles, int rateLimit,
                  int value, int noWait, int direction) override;
    int StopPlay(const std::string& slaveId, int camera) override;
    void SetSpeed(const std::string& slaveId, int camera, double speed) override;
    int SetReaderEvent(const std::string& slaveId, int camera) override;
    int ResetReaderEvent(const std::string& slaveId, int camera) override;
    bool DeleteRecords(int camera, const boost::posix_time::ptime& from, const boost::posix_time::ptime& to) override;
    int DeleteCurrentFile(const std::string& slaveId, int camera) override;
    std::string GetBookmarks(int camera) override;
    int ExecuteCommand(const std::string& slaveId, VideoFrame* frame, unsigned code, ReceiverPtr receiver,
                       int passwordCrc, int mode, std::string* error) override;
    std::string GetFilePath(const std::string& slaveId, int camera, std::string& timeText) override;
    void SetReaderToken(const std::string& slaveId, const std::string& unused, int camera,
                        const std::string& token) override;

    // --- channel readers ------------------------------------------------------
    // The reader of (slave id, camera), created when missing; never null.
    std::shared_ptr<FileReader> GetReader(const std::string& slaveId, int camera);
    // The nearest-frame read; (found, not-found text).
    std::pair<bool, std::string> ReadFrameNearest(const std::string& slaveId, VideoFrame* frame, unsigned code,
                                                  ReceiverPtr receiver, int passwordCrc, int mode);
    // Closes the file in every reader that has it open.
    void StopReadingFile(const std::string& path);
    // Stops and drops every reader.
    void ClearReaders();
    size_t GetReaderCount() const;
    // The play information of the reader of (empty slave id, camera), created
    // when missing; valid while the reader stays in the engine.
    Storage::IPlayInfo* GetPlayInfo(int camera);
    bool RemoveFile(const char* path, int64_t beginS, int64_t endS) override;
    bool GetPFrameMode() const override { return m_pFrameMode; }
    // Record commands of ExecuteCommand.
    bool DeleteRecord(VideoFrame* frame);
    bool BookmarkRecords(const std::string& slaveId, VideoFrame* frame, bool add, bool protect);
    bool ProtectRecord(const std::string& slaveId, VideoFrame* frame, bool protect);

    // --- entry lists ------------------------------------------------------------
    // Appends the archive file path of every record of the camera between two
    // local times (the PROTECTED copy for protected records).
    void GetEntries(int camera, const TSS& from, const TSS& to, std::vector<std::string>& paths);
    // For each channel text (decimal; boost::bad_lexical_cast ends the call
    // otherwise) adds its records between two local times under a key naming
    // their volume and hour folder.
    void CollectIndexEntries(const std::vector<std::string>& channels, const TSS& from, const TSS& to,
                             std::map<std::string, std::vector<IndexEntry>>& entries);

    // --- record index files --------------------------------------------------
    // Appends the entries of one .idx file to `out`. false: the file cannot be
    // opened or is empty, its version is below the minimum, an entry time is
    // invalid or a camera id is cut short (entries read before stay in out);
    // true at the end of the file or for an unknown version word.
    bool LoadIndex(uint8_t volumeIndex, const std::string& path, std::vector<IndexEntry>& out);
    // LoadIndex of the file `name` in the folder open as dirFd (AT_FDCWD: name
    // is a path), whose entries get `date`; `path` names it in messages.
    // knownRegular: a listing said it is a regular file. `buffer` is scratch
    // space kept between calls.
    bool LoadIndexFrom(uint8_t volumeIndex, int dirFd, const char* name, bool knownRegular, const std::string& path,
                       uint64_t date, std::vector<IndexEntry>& out, std::vector<uint8_t>& buffer);
    // Writes a whole file in the newest version; false on failure.
    bool SaveIndexFile(const std::string& path, const std::vector<IndexEntry>& entries);
    // Appends one entry to an existing hour file (the recorder's write when it
    // closes an archive file): nothing when the file is missing or a re-index
    // marker (.ndx) lies beside it. Holds m_indexFilesLock.
    bool AppendIndexEntry(const std::string& indexPath, const IndexEntry& entry);
    // Lowest version word LoadIndex accepts (INDEX_VERSION_2 after Init).
    void SetMinIndexVersion(int version) { m_minIndexVersion = version; }
    int GetMinIndexVersion() const { return m_minIndexVersion; }
    // One camera's entries of an hour (Unix hour number) from the given
    // volumes, through the hour-detail cache.
    void LoadHourDetail(int camera, int hour, const VolumePathMap& volumes, VindaraFileSystem::DirEntrySet& entries,
                        VindaraFileSystem::VolumeCounts& counts);
    void LoadHourIndex(HourLoadTask& task, const VolumePath& volume);
    // "DDMMYYHH" of every local hour a Unix hour number overlaps, each once,
    // in time order (none before 1970).
    std::vector<std::string> HourIndexNames(int hour) const;
    // Adds loaded entries to their cameras' directories; appends to
    // cameraHours each (camera, Unix hour) of the entries once, in order.
    void AddEntriesToDirs(const std::vector<IndexEntry>& entries, std::vector<std::pair<int, int>>& cameraHours);

    // --- index start-up (loading, rebuilding, checks) --------------------------
    // Run by every initialisation between the volume set-up and the titles.
    void InitIndexes();
    void RebuildIndexes(const std::set<uint8_t>& failed);
    std::map<uint8_t, bool> LoadIndexes();
    void LoadVolumeIndexes(IndexLoadTask& task, const VolumePath& volume);
    void RebuildVolumeIndexes(RebuildTask& task, const VolumePath& volume);
    // Both checks run only when the registry value CheckLostFolders is 1;
    // the forms with `enabled` take that decision from a caller that read it.
    bool CheckEmptyFolders();
    bool CheckEmptyFolders(bool enabled);
    bool CheckLostIndexFiles();
    bool CheckLostIndexFiles(bool enabled);
    // Hours new to a camera are appended to the volume's fast index unless
    // `appendFastIndex` is false (a rebuild writes the whole fast index once
    // its hour folders are done).
    bool ReindexFolder(uint8_t volumeIndex, const std::string& folder, bool writeIndex, uint64_t* counter,
                       bool indexOnly, bool appendFastIndex = true);
    void RemoveChannelsWithoutRecords(const std::vector<int>& cameraIds);
    // Writes a volume's fast index from what the directories hold for it.
    void SaveFastIndex(uint8_t volumeIndex);

    // --- settings and progress --------------------------------------------------
    void SaveSettings();
    const Settings& GetSettings() const { return m_settings; }
    void SetProgress(double percent);
    double GetProgress() const { return m_progress; }
    bool IsAdaptivePlayer() const { return m_adaptivePlayer; }
    bool UsesFastIndex() const { return m_useFastIndex; }
    int GetWriteBufferSize() const override { return m_writeBufferSize; }
    int GetFreeDriveTestTime() const { return m_getFreeDriveTestTime; }
    int GetFirstFaceCaptureId() const override { return m_firstFaceCaptureId; }
    QorLog::CDebug* GetLogger() const { return m_logger.get(); }

    // --- periodic work ---------------------------------------------------------
    // Once a second on the poll thread: starts the age-limited deletion at
    // local hh:m0:00.
    void OnPollTimer();
    // Age-limited deletion of old records by the retention rules (none are
    // ever set by this program, so it finds no work).
    void deleteNoMore();
    void OnMountStateChanged(const std::string& path, bool mounted);

    // --- record housekeeping (bookmarks, protection, deletion, ring cleaning) ---
    std::shared_ptr<VindaraFileSystem::Dir> FindCameraDir(int camera) { return GetCameraDir(camera, false); }
    std::string GetArchiveFilePath(int camera, const VindaraFileSystem::DirEntry& entry, bool protectedPlace,
                                   char letter);
    bool ProtectEntry(const std::string& slaveId, int camera, VindaraFileSystem::DirEntry& entry, bool protect);
    bool MoveArchiveFile(int camera, const VindaraFileSystem::DirEntry& entry, bool protect, char letter,
                         bool keepOnStaleSource);
    void SetProtectedMarker(int camera, const VindaraFileSystem::DirEntry& entry, bool protect);
    void UpdateIndexFiles(const std::vector<IndexEntry>& entries, bool remove);
    void WriteBookmarkFile(int camera, const Bookmark& bookmark, bool add);
    std::map<int, std::shared_ptr<ChannelsBookmark>> LoadBookmarks();
    bool DeleteCameraRecords(int camera, uint64_t beginMs, uint64_t lengthMs);
    void DeleteVolumeFiles(uint8_t volumeIndex, const VolumeDeletion& deletion);
    void UpdateVolumeIndexes(uint8_t volumeIndex, const VolumeDeletion& deletion);
    void RemoveHour(uint8_t volumeIndex, const std::string& hourFolder);
    int deleteOtherFile();
    bool FindRecordVolume(uint8_t& volumeIndex);
    bool ChangeRecordDrive(bool force) override;
    static int64_t TimeIt(const std::function<void()>& call);
    void SendArchDelete(const TSS& recordTime, int camera, int64_t rangeStartMs, int64_t rangeEndMs);
    // The receiver of archive change messages; none by default.
    void SetMessageSink(std::shared_ptr<IArchiveMessageSink> sink);
    // Audio lines of a channel: the microphones of its recorder (given to it
    // now when it exists, else when it is created), named in DELETE_FILE.
    void SetChannelAudioMics(int camera, const std::vector<std::string>& mics);
    void SetRetentionRule(int camera, const RetentionRule& rule);
    void SetRecordVolume(int volumeIndex);

    // --- recorders ------------------------------------------------------------
    // The recorder of (camera, name), created when missing and `create` is
    // set (never without volumes). Empty while an initialisation runs or when
    // the recorders' lock stays busy for 1000 ms.
    std::shared_ptr<FileRecorder> GetRecorder(int camera, bool create, const std::string& name);
    // Drops every recorder (each finishes its open file).
    void ClearRecorders();
    size_t GetRecorderCount() const;
    // What a new recorder of the camera gets: the codec of raw frames and the
    // archive id written into its files (0: none). Stands in for the
    // channel's settings message.
    void SetChannelRecordSettings(int camera, int codecId, const std::string& codecName, int32_t passwordCrc);
    // IRecorderOwner.
    qormisc::CriticalSection& GetRecordingLock() override { return m_recordingLock; }
    void AddRecordedEntry(int channel, const VindaraFileSystem::DirEntry& entry,
                          const std::string& archiveFolder) override;
    bool AppendRecordIndexEntry(const std::string& indexPath, int channel, const VindaraFileSystem::DirEntry& entry,
                                const std::string& destination) override;
    void RemoveRecordedEntry(int channel, const VindaraFileSystem::DirEntry& entry) override;
    bool HasMessageSink() const override { return GetMessageSink() != nullptr; }
    void SendRecorderMessage(const Event& message, int kind) override;
    void OnFileRecorded(int channel, const std::string& path, const TSS& begin, const TSS& end) override;
    void CountFrameOut(const VideoFrame* frame) override;
    void OnRecorderQueue(int channel, size_t length) override;
    void OnTempFileMoveFailed(int channel, const std::string& temporaryPath, const std::string& destination,
                              unsigned long systemError) override;

    // Locks, reached by tests that drive the lock-order situations.
    qormisc::CriticalSection& DirsLockForTesting() { return m_dirsLock; }
    qormisc::CriticalSection& VolumesLockForTesting() { return m_volumesLock; }

    // --- signals ----------------------------------------------------------------
    boost::signals2::signal<void(const std::string& path, bool mounted)> MountStateChanged;
    boost::signals2::signal<void(int channel, const char* temporaryPath, const char* destination,
                                 unsigned long systemError)>
        TempFileMoveFailed;
    // Engine errors; channel -1 for errors not tied to a channel.
    boost::signals2::signal<void(int channel, const char* text, unsigned long code)> ErrorReported;
    boost::signals2::signal<void(const std::string& text)> RecordDriveChanged;
    boost::signals2::signal<void(uint64_t percent)> RebuildProgressChanged;

private:
    bool DoInit();
    void RunAsyncInit();
    std::set<std::string> InitDrives(const std::set<std::string>& drives);
    void SetInitializing(bool value);
    // Logs an error line and emits it through ErrorReported.
    void ReportError(int line, int channel, const std::string& logText, const std::string& signalText,
                     unsigned long code);

    uint32_t m_forceIndexRebuild = 0;
    std::vector<Volume> m_volumes;
    std::shared_ptr<QorStatistics::CPerformanceFramesCounter> m_framesIn;
    std::shared_ptr<QorStatistics::CPerformanceFramesCounter> m_framesOut;
    mutable qormisc::CriticalSection m_dirsLock;
    qormisc::CriticalSection m_indexFilesLock;
    qormisc::CriticalSection m_recordingLock;
    mutable qormisc::CriticalSection m_volumesLock;
    qormisc::CriticalSection m_initLock;
    mutable qormisc::CriticalSection m_readersLock;
    std::map<std::string, std::shared_ptr<FileReader>> m_readers;  // guarded by m_readersLock
    qormisc::CriticalSection m_recordDriveLock;
    std::map<int, RetentionRule> m_retention;
    Settings m_settings;
    std::map<int, std::shared_ptr<VindaraFileSystem::Dir>> m_dirs;
    mutable std::mutex m_drivesLock;
    std::set<std::string> m_drives;
    ProgressCallback m_progressCallback;
    CompletionCallback m_completionCallback;
    double m_progress = 0;
    double m_progressStep = 0;
    int m_recordVolume = 0;
    int m_minIndexVersion = INDEX_VERSION_2;
    int m_getFreeDriveTestTime = 0;
    std::unique_ptr<QorLog::CDebug> m_logger;
    std::mutex m_hourIndexCacheLock;
    std::map<std::string, std::vector<IndexEntry>> m_hourIndexCache;
    std::string m_name;
    int m_folderMode = 0;
    int m_firstHour = 0;
    int m_lastHour = 2147483647;
    std::unique_ptr<TaskThreadGroup> m_taskGroup;
    std::shared_ptr<VindaraFileSystem::TitlesManager> m_titles;
    bool m_adaptivePlayer = true;
    bool m_pFrameMode = false;
    int m_firstFaceCaptureId = 50000;
    int m_writeBufferSize = 1;
    bool m_useFastIndex = true;
    mutable std::mutex m_initializingLock;
    bool m_initializing = false;
    boost::thread m_initThread;
    std::shared_ptr<VolumeFreeSizeChecker> m_freeSizeChecker;
    // The engine as the hour loaders of its directories reach it: cleared by
    // the destructor (after running loads end), so a directory that a caller
    // keeps beyond the engine's life loads nothing more instead of calling
    // into a destroyed object.
    struct LoaderLink {
        std::shared_mutex mutex;  // shared by loads, exclusive to clear
        FileSystem* engine = nullptr;
    };
    std::shared_ptr<LoaderLink> m_loaderLink;
    std::unique_ptr<ThreadRoutines::PollTimeoutThread> m_pollThread;

    // Record housekeeping.
    std::shared_ptr<IArchiveMessageSink> GetMessageSink() const;
    void SendDeleteFile(int channel, const std::string& path);
    void SendFileDeleted(int channel, const std::string& path, int64_t beginS, int64_t endS);
    std::vector<std::pair<int, std::shared_ptr<VindaraFileSystem::Dir>>> CopyCameraDirs();
    RetentionRule GetRetentionRule(int camera);
    std::mutex m_bookmarksLock;
    bool m_bookmarksDirty = true;                                  // guarded by m_bookmarksLock
    std::map<int, std::shared_ptr<ChannelsBookmark>> m_bookmarks;  // guarded by m_bookmarksLock
    mutable std::mutex m_messageSinkLock;
    std::shared_ptr<IArchiveMessageSink> m_messageSink;    // guarded by m_messageSinkLock
    std::map<int, std::vector<std::string>> m_audioMics;  // guarded by m_messageSinkLock
    std::atomic<bool> m_clearingRecorders{false};

    // Recorders by MakeRecorderKey; every wait on the lock is at most 1000 ms.
    struct RecordSettings {
        int codecId = 0;
        std::string codecName;
        int32_t passwordCrc = 0;
    };
    mutable std::timed_mutex m_recordersMutex;
    std::map<std::string, std::shared_ptr<FileRecorder>> m_recorders;  // guarded by m_recordersMutex
    std::map<int, RecordSettings> m_recordSettings;                    // guarded by m_recordersMutex
};

