#include "base/ModuleDir.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The system's wording for codes it does not know.
constexpr const char kUnknownPrefix[] = "Unknown error";

}  // namespace

std::string ModuleDirFromExecutablePath(const std::string& path) {
    // A separator at position 0 alone does not make a folder.
    size_t cut = path.find_last_of('/');
    if (cut == std::string::npos || cut == 0) return "error in misc_GetModuleDir1";
    return path.substr(0, cut);
}

std::string misc_GetModuleDir() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) return "error in misc_GetModuleDir";
    return ModuleDirFromExecutablePath(std::string(buffer, static_cast<size_t>(n)));
}

std::string GetSystemErrorMessage(int code) {
    char buffer[512];
    buffer[0] = '\0';
    // GNU strerror_r returns the text, which may or may not be in buffer.
    const char* text = strerror_r(code, buffer, sizeof(buffer));
    if (text == nullptr || *text == '\0') return std::string();
    if (std::strncmp(text, kUnknownPrefix, sizeof(kUnknownPrefix) - 1) == 0) return std::string();
    return text;
}
