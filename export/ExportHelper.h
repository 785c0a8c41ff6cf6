#pragma once
// The file copier of the native exports. A task lists its files (with
// their destinations), marker files to create and stale files to remove;
// Copy checks the free space first, copies file by file with progress
// steps and keeps the channels of the copied archive files.
//
// Nothing a task writes is visible under its own name before the whole task
// has succeeded: every copy and marker is written to a temporary name
// beside its place and renamed in at the end. A failure or a cancel removes
// the temporary files and the folders the task created, and leaves every
// file that was in the destination before as it was.
//
// Used by one thread at a time (the engine's worker).

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <boost/filesystem/path.hpp>
#include <boost/signals2/signal.hpp>

namespace Storage {

struct ExportTask;

// The temporary name a file is written under until its task succeeds.
std::string ExportTempPath(const std::string& path);

class ExportHelper : public boost::signals2::signal<void(double, const Storage::ExportTask&)> {
public:
    // Adds the pair, and the pair of companion ".w" files when the source's
    // companion exists.
    void AddFile(const boost::filesystem::path& source, const boost::filesystem::path& destination);
    // Creates the folder with its parents, recording those it created.
    void CreateFolders(const boost::filesystem::path& folder);
    // Allocation unit of the volume holding the path (its nearest existing
    // ancestor).
    static uint64_t getClusterSize(const boost::filesystem::path& path);
    uint64_t RequiredSpace() const;
    // Copies the lists and empties them (all but channelSet); throws on
    // failure after cleaning up.
    void Copy(const Storage::ExportTask& task);

    std::vector<std::pair<boost::filesystem::path, boost::filesystem::path>> copyPairs;
    std::vector<std::string> filesToCreate;
    // Removed once the task's files are in place; never on failure.
    std::vector<std::string> filesToRemove;
    std::vector<std::string> createdFiles;
    std::vector<std::string> createdFolders;  // deepest first
    std::set<int> channelSet;                 // kept across the tasks of a batch

private:
    void Clear();
    void CleanUp(const std::vector<std::string>& temporaries);
};

// The nearest existing folder at or above the path.
boost::filesystem::path ExistingAncestor(const boost::filesystem::path& path);
// Space available to this process on the volume of the path.
uint64_t AvailableSpace(const boost::filesystem::path& path);

}  // namespace Storage
