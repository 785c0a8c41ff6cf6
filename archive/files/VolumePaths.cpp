#include "archive/files/VolumePaths.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

namespace VolumePaths {

std::string Join(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (a.back() == '/') return a + b;
    return a + "/" + b;
}

std::string ChildNameNoCase(const std::string& dir, const std::string& name) {
    struct stat st;
    if (::stat(Join(dir, name).c_str(), &st) == 0) return name;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return name;
    std::string found = name;
    while (dirent* e = ::readdir(d)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

std::string ChildNoCase(const std::string& dir, const std::string& name) {
    return Join(dir, ChildNameNoCase(dir, name));
}

}  // namespace VolumePaths
