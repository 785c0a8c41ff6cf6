#pragma once
// Index start-up of the archive engine: at every initialisation the record
// directories are loaded from the volumes' indexes (the fast index, else the
// hour index files and re-index markers), or the indexes are rebuilt from the
// archive video files: all volumes when a rebuild was asked for (registry
// value IndexRebuilding) or the lost-folder checks (CheckLostFolders) found a
// problem, else only the volumes whose indexes gave no record.
//
// Volumes are loaded and rebuilt on one thread each; the records below are
// shared by the tasks of one run and guarded as their comments say.
//
// Read-only media: every write made here (deleting stale index files and
// empty folders, writing index files and fast indexes) is skipped with a
// warning when the folder it would change is not writable; the records are
// still built in memory.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "archive/fs/FileSystem.h"

// Shared by the per-volume loading tasks of one LoadIndexes run.
struct IndexLoadTask {
    FileSystem* fileSystem = nullptr;
    std::mutex mutex;                // guards loaded and total
    std::map<uint8_t, bool> loaded;  // volume -> its indexes gave records
    uint64_t total = 0;              // items loaded on all volumes
};

// Shared by the per-volume rebuilding tasks of one RebuildIndexes run.
struct RebuildTask {
    FileSystem* fileSystem = nullptr;
    std::mutex countersMutex;  // guards the folder counters, the start gate and the progress calls
    uint64_t totalFolders = 0;  // hour folders found on all volumes of the run
    // Called under countersMutex with (done, total) after every hour folder
    // and once more when a volume has finished.
    std::function<void(uint64_t done, uint64_t total)> progress;
    uint64_t doneFolders = 0;
    // Volumes that have not counted their hour folders yet. Re-indexing waits
    // until every volume has counted, so the total is complete before the
    // first progress call and the percentage never falls back.
    size_t volumesCounting = 0;
    std::condition_variable counted;
    std::mutex entriesMutex;    // guards entriesTotal, the progress update and the PROTECTED re-indexing
    uint64_t entriesTotal = 0;  // files indexed from hour folders on all volumes
    double progressShare = 0;   // initialisation percent each volume adds
};

// The percentage reporter of a rebuild: whole percent of folders done,
// reported only when it changes; with no folder at all every call reports 0.
class RebuildProgress {
public:
    explicit RebuildProgress(std::function<void(uint64_t percent)> emit) : m_emit(std::move(emit)) {}
    void operator()(uint64_t done, uint64_t total);

private:
    std::function<void(uint64_t)> m_emit;
    uint64_t m_last = 0;
};

// "DD-MM-YY HH" exactly (two digits, '-', two digits, '-', two digits, a
// blank, two digits).
bool IsHourFolderName(const char* name);
// Hour folders of an archive folder, in listing order: folders whose name is
// an hour folder name (never INDEX or PROTECTED, nothing beginning with '.').
std::vector<std::string> ListHourFolders(const std::string& archiveFolder);
// The volume paths joined with ";".
std::string JoinPaths(const VolumePathMap& volumes);

// Registry switches under SOFTWARE\QOR\Vindara\Video (missing, empty or not a
// number: 0).
int ReadIndexRebuilding();
void WriteIndexRebuilding(int value);
int ReadCheckLostFolders();
