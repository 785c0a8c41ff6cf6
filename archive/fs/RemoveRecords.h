#pragma once
// Removal of deleted records: the records a deletion run took out of the
// camera directories, grouped by volume, and the helpers that remove their
// files and bring the volumes' indexes in line.

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "archive/files/Dir.h"

// One volume's part of a deletion run.
struct VolumeDeletion {
    // Hour folders ("DD-MM-YY HH") that lost records.
    std::set<std::string> hours;
    // The records and the paths of their video files, in deletion order.
    std::vector<std::pair<VindaraFileSystem::DirEntry, std::string>> files;
};

struct VolumeDeletions {
    std::map<uint8_t, VolumeDeletion> volumes;

    void Add(const VindaraFileSystem::DirEntry& entry, const std::string& path);
    bool Empty() const { return volumes.empty(); }
    size_t FileCount() const;
};

// Runs `task` for every volume of the run: on the calling thread when there
// is one volume, else on one thread per volume, all joined before returning.
void ForEachDeletionVolume(const VolumeDeletions& deletions,
                           const std::function<void(uint8_t, const VolumeDeletion&)>& task);

// Deletes each file; failures are logged and do not stop the rest.
void RemoveFiles(const std::vector<std::string>& paths);

// Whether `name` is a file name the archive itself gives inside an hour
// folder: a record's video, sound or titles file, or a protection marker.
bool IsArchiveFileName(const std::string& name, const std::string& hourFolder);
