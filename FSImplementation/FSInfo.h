#pragma once
// The drives worth offering as archive sources, and the "|"-joined path
// lists in which several sources travel as one string.
//
// A drive here is a mounted volume (QStorageInfo). Pseudo and memory-backed
// file systems (proc, sysfs, tmpfs, devtmpfs, cgroup, ramfs and the other
// kernel interfaces) cannot hold a recorder archive and are not offered;
// every other type is (disk, removable, network, optical, and overlay, which
// is the root of a container). There is no floppy test on this platform.
//
// Stateless; call on any thread.

#include <string>
#include <vector>

namespace Storage {

class FSInfo {
public:
    // The volume mounted at `root` (a mount point) may hold an archive.
    static bool isValidDrive(const std::string& root);
    // Whether a file-system type (as the kernel names it) may hold an archive.
    static bool isAllowedFileSystemType(const std::string& type);
    // Roots of the valid mounted volumes that hold a "VIDEO" folder, each
    // ending in '/', in the order the system lists its mounts.
    static std::vector<std::string> getArchiveDrives();
    // Of the given roots, those that are valid drives and hold a "VIDEO"
    // folder (roots are taken with a trailing '/').
    static std::vector<std::string> selectArchiveDrives(const std::vector<std::string>& roots);

    // Split at every "|", keeping empty items ("" gives one empty item).
    static std::vector<std::string> splitPaths(const std::string& list);
    // The items with "|" between them; no items give "".
    static std::string joinPaths(const std::vector<std::string>& items);
};

}  // namespace Storage
