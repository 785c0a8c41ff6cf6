// Paths and folder listings.
//
// Paths are UTF-8, joined with '/', never case-folded and never limited in
// length. Archive folders written on Windows may differ in case from what the
// code names ("VIDEO" on disk as "video"); FindChildNoCase bridges that.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct DirEntry {
    std::string name;          // last component only
    bool isDirectory = false;
    std::uint64_t size = 0;    // bytes, 0 for folders
    std::int64_t modifiedUnixMs = 0;
    // Creation time where the file system keeps one, else 0.
    std::int64_t createdUnixMs = 0;
};

// a + '/' + b, without doubling a separator; an empty side gives the other.
std::string JoinPath(std::string_view a, std::string_view b);
// The last component ("c" of "a/b/c", "c" of "a/b/c/").
std::string FileNamePart(std::string_view path);
// Everything before the last component, without the trailing '/'.
std::string ParentPath(std::string_view path);

// Orders names as a Windows folder listing does: by their upper-cased UTF-16
// units; names that differ only in case are ordered by their bytes.
int CompareNamesWindowsOrder(std::string_view a, std::string_view b);
bool EqualsNoCase(std::string_view a, std::string_view b);

// Entries of a folder without "." and "..", in CompareNamesWindowsOrder
// order. Sets *ok to false (and returns nothing) when the folder cannot be
// read. Symbolic links are followed for the kind and size.
std::vector<DirEntry> ListDirectory(const std::string& dir, bool* ok = nullptr);

// The actual name of the child of dir that matches name, exactly when such a
// child exists, else the first one (in listing order) equal to it without
// regard to case. Nothing when there is none.
std::optional<std::string> FindChildNoCase(const std::string& dir, std::string_view name);

bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
// mkdir -p; true when the folder exists afterwards.
bool CreateDirectories(const std::string& path);

}  // namespace platform
