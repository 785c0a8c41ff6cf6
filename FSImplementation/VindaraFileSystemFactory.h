#pragma once
// Archive front ends: the player's view of an archive as a set of channels.
// The factory turns a source string (one path, or several joined with "|")
// into one of three front ends: one exported archive file, a folder tree of
// exported files, or the recorder's own archive on a set of drives (through
// the archive engine).
//
// Life of a front end: made by CreateVindaraFileSystem, optionally given a
// period (SetPeriod), opened once with Initialize, then asked for its
// channels and channel readers. Opening reports through two signals:
// ProgressSignal (percent) and CompleteSignal (a system_error whose code is 0
// on success). They are emitted on the thread calling Initialize, except for
// an asynchronous drives open, which reports later on the engine's worker.
//
// Paths keep the platform's '/' separators; folder and drive paths end in '/'.

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/signals2/signal.hpp>
#include <boost/system/system_error.hpp>
#include <boost/thread/recursive_mutex.hpp>

#include "FSImplementation/ChannelReader.h"
#include "archive/fs/IndexFile.h"

class FileSystem;

namespace Storage {

// The engine's index entries of a query, grouped under its keys.
using IndexEntryMap = std::map<std::string, std::vector<IndexEntry>>;

enum FileSystemType {
    Drives = 0,   // recorder archive volumes (VIDEO, INDEX, settings.xml or .volumes)
    Folder = 1,   // a folder of exported archive files
    File = 2,     // one exported archive video file
    Unknown = 3,  // the path could not be examined
};

class IVindaraFileSystem {
public:
    virtual ~IVindaraFileSystem() = default;

    virtual void Initialize(bool async) = 0;
    virtual bool IsOpened() = 0;
    // Channel ids as decimal text.
    virtual void GetChannels(std::vector<std::string>& ids) = 0;
    // The path (or "|"-joined drive paths) the front end was made with.
    virtual std::string GetPath() = 0;
    // A new, initialised reader of the channel; empty when the front end has
    // no such channel. Exceptions of the reader's construction and first read
    // reach the caller; a non-numeric id throws boost::bad_lexical_cast.
    virtual boost::shared_ptr<IChannelReader> CreateChannelReader(const std::string& id) = 0;
    // Index entries of the channels' records in the period, by archive file.
    virtual void GetIndexEntries(const std::vector<std::string>& ids, const boost::posix_time::time_period& period,
                                 IndexEntryMap& entries) = 0;
    virtual void WriteIndexFile(const std::string& path, const std::vector<IndexEntry>& entries) = 0;
    virtual void SetPeriod(const boost::posix_time::time_period& period) = 0;

    boost::signals2::signal<void(IVindaraFileSystem&, int)> ProgressSignal;
    boost::signals2::signal<void(IVindaraFileSystem&, boost::system::system_error&)> CompleteSignal;
};

// The shared open sequence of the three front ends.
class VindaraFSInitializer : public IVindaraFileSystem {
public:
    // Runs Open; on failure (any exception) reports progress 100 and the
    // failure; on success reports progress 100 and success unless the front
    // end opens asynchronously and async is set (it reports later itself).
    void Initialize(bool async) override;
    virtual void Open(bool async) = 0;
    virtual bool IsAsyncOpen() { return false; }

    // Emits CompleteSignal: code 0 on success, else the thread's last system
    // error (errno), or 13 when that is 0, in the system category.
    void ReportComplete(bool success, const std::string& message);
};

class VindaraFileFS : public VindaraFSInitializer {
public:
    explicit VindaraFileFS(const std::string& path);

    bool IsOpened() override { return !m_channelId.empty(); }
    void GetChannels(std::vector<std::string>& ids) override;
    std::string GetPath() override { return m_path; }
    boost::shared_ptr<IChannelReader> CreateChannelReader(const std::string& id) override;
    void GetIndexEntries(const std::vector<std::string>&, const boost::posix_time::time_period&,
                         IndexEntryMap&) override {}
    void WriteIndexFile(const std::string&, const std::vector<IndexEntry>&) override {}
    void SetPeriod(const boost::posix_time::time_period&) override {}
    // Throws std::runtime_error("Failed to open file") when the file does not
    // open as an archive video file.
    void Open(bool async) override;

private:
    std::string m_path;
    std::string m_channelId;
    boost::shared_ptr<VindaraSettingsLoader> m_settingsLoader;
};

class VindaraFolderFS : public VindaraFSInitializer {
public:
    // The path gets a trailing '/'.
    explicit VindaraFolderFS(const std::string& path);

    bool IsOpened() override { return !m_channels.empty(); }
    void GetChannels(std::vector<std::string>& ids) override;
    std::string GetPath() override { return m_path; }
    boost::shared_ptr<IChannelReader> CreateChannelReader(const std::string& id) override;
    void GetIndexEntries(const std::vector<std::string>&, const boost::posix_time::time_period&,
                         IndexEntryMap&) override {}
    void WriteIndexFile(const std::string&, const std::vector<IndexEntry>&) override {}
    void SetPeriod(const boost::posix_time::time_period&) override {}
    // Scans the folder tree; a file-system error throws out (its text becomes
    // the completion error's text).
    void Open(bool async) override;

    const std::map<std::string, FolderFileMap>& Channels() const { return m_channels; }

private:
    void ScanFolder(const std::string& folder);

    std::string m_path;
    std::map<std::string, FolderFileMap> m_channels;
    boost::shared_ptr<VindaraSettingsLoader> m_settingsLoader;
};

class VindaraDrivesFS : public VindaraFSInitializer {
public:
    // drives: volume paths joined with "|", each ending in '/'.
    VindaraDrivesFS(const std::string& drives, bool videoFolderRoot);
    ~VindaraDrivesFS() override;

    bool IsOpened() override { return m_opened; }
    void GetChannels(std::vector<std::string>& ids) override;
    std::string GetPath() override { return m_drives; }
    boost::shared_ptr<IChannelReader> CreateChannelReader(const std::string& id) override;
    void GetIndexEntries(const std::vector<std::string>& ids, const boost::posix_time::time_period& period,
                         IndexEntryMap& entries) override;
    void WriteIndexFile(const std::string& path, const std::vector<IndexEntry>& entries) override;
    void SetPeriod(const boost::posix_time::time_period& period) override { m_period = period; }
    // Asynchronous: starts the engine's initialisation on its worker and
    // returns. Synchronous: initialises before returning and throws
    // std::runtime_error when no volume came up.
    void Open(bool async) override;
    bool IsAsyncOpen() override { return true; }

    bool IsVideoFolderRoot() const { return m_videoFolderRoot; }
    const boost::shared_ptr<FileSystem>& GetFileSystem() const { return m_fileSystem; }

private:
    void OnComplete(IVindaraFileSystem& fs, boost::system::system_error& error);

    boost::recursive_mutex m_lock;
    std::atomic<bool> m_opened{false};
    std::string m_drives;
    boost::shared_ptr<FileSystem> m_fileSystem;
    bool m_videoFolderRoot;
    boost::posix_time::time_period m_period;
};

// Classifies one path (exactly as given).
FileSystemType GetFileSystemType(const std::string& path);
// The folder holds "INDEX", or else "settings.xml" (names matched without
// regard to case).
bool HasIndexOrSettings(const std::string& path);
// '/' appended unless the path is empty or already ends in one.
std::string WithTrailingSeparator(const std::string& path);
// The front end for a source string; empty when none could be made.
boost::shared_ptr<IVindaraFileSystem> CreateVindaraFileSystem(const std::string& source);

}  // namespace Storage
