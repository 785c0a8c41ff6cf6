#pragma once
// Text titles recorded with the video: per channel, named streams of
// time-stamped text nodes. Each archive video file may have a titles file
// beside it (the same name with 't' in place of the '_' after the dot: ._05
// -> .t05) holding the titles of the file's span as a wide XML archive:
//
//   Streams                 Count (streams), then Count x Stream
//   Streams/Stream          Id (wide text), Count (nodes), Count x Node
//   Streams/Stream/Node     Timestamp (ISO basic "YYYYMMDDTHHMMSS[.ffffff]",
//                           or "not-a-date-time", "+infinity", "-infinity"),
//                           Text (wide text)
//
// The frames readers load a file's titles when they open it and read the
// text in effect at each frame; the titles manager of an archive engine
// writes changed titles into the titles files of the files that cover them.

#include <cstdint>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "archive/files/Dir.h"

namespace VindaraFileSystem {

using TitleTime = boost::posix_time::ptime;  // UTC, microsecond resolution

struct TitleNode {
    std::wstring text;
    bool changed = false;  // not written to a titles file yet
};

struct TitleRange {
    TitleTime begin;
    TitleTime end;
};

struct TitlesStream {
    std::map<TitleTime, TitleNode> nodes;
    bool changed = false;

    // The spans of changed nodes as sorted disjoint ranges (merged into
    // `ranges`): a run of changed nodes ends at the next unchanged node, a run
    // still open at the end ends at max(its start, now). Re-derives `changed`.
    void CollectChangedRanges(std::vector<TitleRange>& ranges, const TitleTime& now);
};

// Where the titles manager writes: the engine that owns it implements this.
class ITitlesOwner {
public:
    // The camera's directory, or null (never created here).
    virtual std::shared_ptr<Dir> GetCameraDir(int camera) = 0;
    // The titles file path (letter 't') of an entry of the camera.
    virtual std::string GetEntryFilePath(int camera, const DirEntry& entry, char letter) = 0;

protected:
    ~ITitlesOwner() = default;
};

// The titles of one channel, shared by the manager and the frames readers.
// Every member function takes the channel's mutex (recursive, so the file
// functions below may be called with it held).
class ChannelTitles {
public:
    ChannelTitles() = default;
    explicit ChannelTitles(int32_t channel) : channelId(channel) {}

    // Text of the first stream (smallest id) in effect at `time`: its last
    // node not after `time`, narrowed; "" when there is none.
    std::string GetText(const TitleTime& time) const;
    std::string GetText(uint64_t unixMs) const;
    // Stores a text at a time (replacing one at the same time) as changed.
    void AddText(const std::wstring& streamId, const TitleTime& time, const std::wstring& text);
    void Clear();
    // Clear, then load the titles file (missing or malformed: empty or part).
    void Reload(const std::string& titlesPath);
    // Writes the titles of every file that covers a changed range, then drops
    // nodes no longer needed. Nodes whose files could not all be written stay
    // changed for the next round.
    void SaveChanged(ITitlesOwner& owner, const TitleTime& now);

    size_t StreamCount() const;
    std::shared_ptr<TitlesStream> FindStream(const std::wstring& id) const;
    bool HasChanges() const;

    std::map<std::wstring, std::shared_ptr<TitlesStream>> streams;
    mutable std::recursive_mutex mutex;
    int32_t channelId = 0;
    TitleTime keepFrom{boost::gregorian::date(1970, 1, 1)};
};

// "._05" -> ".t05"; "" when the path has no "._".
std::string TitlesFilePathFor(const std::string& videoPath);

// Writes the channel's titles over [begin, end] (the node in effect at begin,
// then every node up to end + 1 us). The file is written beside the target
// and renamed over it, so a failed write leaves the old file; returns
// whether the file is in place. Written nodes keep their changed flags: the
// caller clears them (see ChannelTitles::SaveChanged). Takes the mutex.
bool SaveTitlesFile(ChannelTitles& channel, const std::string& path, const TitleTime& begin, const TitleTime& end);
// Merges a titles file into the channel; missing file: nothing; malformed:
// what was read before the fault stays. Loaded nodes are not changed.
void LoadTitlesFile(ChannelTitles& channel, const std::string& path);

// Keeps the titles of one archive engine's channels and writes changed ones
// every 10 seconds on its worker thread. The worker starts with the first
// channel asked for: a manager that holds no titles has nothing to write, so
// making one (as every archive initialisation does) starts no thread.
class TitlesManager {
public:
    // The owner must outlive the manager (or call Stop first).
    explicit TitlesManager(ITitlesOwner* owner, int periodMs = 10000);
    ~TitlesManager();
    TitlesManager(const TitlesManager&) = delete;
    TitlesManager& operator=(const TitlesManager&) = delete;

    // The titles of channel 0, created empty on first use. The first call
    // starts the worker (not after Stop).
    std::shared_ptr<ChannelTitles> GetChannelTitles();
    std::shared_ptr<ChannelTitles> GetChannelTitles(int32_t channel);
    // Ends the worker, then saves whatever is still changed and empties the
    // channels. Idempotent.
    void Stop();
    // One save round now (what the worker does on each time-out).
    void SaveAll();

private:
    class Worker;
    void Run();
    void StartWorker();

    ITitlesOwner* m_owner;
    int m_periodMs;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_running = true;
    std::map<int32_t, std::shared_ptr<ChannelTitles>> m_channels;
    std::mutex m_workerLock;  // taken before m_mutex, never inside it
    std::unique_ptr<Worker> m_worker;  // guarded by m_workerLock
};

}  // namespace VindaraFileSystem
