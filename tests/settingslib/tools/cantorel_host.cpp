// Loads libCantorel64.so the way the player's start-up does and asks it once
// for the culture directory.
//
//   cantorel_host <program folder>
//
// The library is loaded by name first (the loader's own search), else from
// the program folder or one of its three parents. GetCultureDirectoryW is
// called with a 260-character buffer and the program folder. Prints
//   result <code>
//   directory <culture directory, UTF-8>      (when the code is 0)
//   library <path of the loaded library>
// and exits with 0 when the code is 0, else 1. 520 stands for a missing
// library or export.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "settingslib/Cantorel64.h"

namespace {

constexpr const char* kLibraryName = "libCantorel64.so";
constexpr unsigned kMissingLibrary = 520;

std::u16string Widen(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        char32_t cp = c;
        int n = 1;
        if (c >= 0xF0) { cp = c & 0x07; n = 4; }
        else if (c >= 0xE0) { cp = c & 0x0F; n = 3; }
        else if (c >= 0xC0) { cp = c & 0x1F; n = 2; }
        for (int k = 1; k < n && i + static_cast<size_t>(k) < s.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + static_cast<size_t>(k)]) & 0x3F);
        i += static_cast<size_t>(n);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string Narrow(const char16_t* s) {
    std::string out;
    for (; *s; ++s) {
        char32_t cp = *s;
        if (cp >= 0xD800 && cp <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[1] - 0xDC00);
            ++s;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

// The folder itself and up to three parents; empty when the library is in
// none of them.
std::string FindLibraryUpwards(std::string folder) {
    for (int level = 0; level < 4 && !folder.empty(); ++level) {
        const std::string candidate =
            folder + (folder.back() == '/' ? "" : "/") + kLibraryName;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0) return candidate;
        if (folder.back() == '/') folder.pop_back();
        const size_t slash = folder.rfind('/');
        folder.resize(slash == std::string::npos ? 0 : slash);
    }
    return std::string();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <program folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    void* library = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const std::string path = FindLibraryUpwards(folder);
        if (!path.empty()) library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    auto getCultureDirectory = library ? reinterpret_cast<GetCultureDirectoryWFn>(
                                             ::dlsym(library, "GetCultureDirectoryW"))
                                       : nullptr;
    if (!getCultureDirectory) {
        std::printf("result %u\n", kMissingLibrary);
        if (library) ::dlclose(library);
        return 1;
    }

    char16_t directory[260] = {};
    const std::u16string start = Widen(folder);
    const uint32_t result = getCultureDirectory(directory, 260, start.c_str());
    std::printf("result %u\n", result);
    if (result == 0) std::printf("directory %s\n", Narrow(directory).c_str());
    Dl_info info {};
    if (::dladdr(reinterpret_cast<void*>(getCultureDirectory), &info) && info.dli_fname)
        std::printf("library %s\n", info.dli_fname);
    ::dlclose(library);
    return result == 0 ? 0 : 1;
}
