#include "FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace gavexfuzz {

namespace {

struct Folder {
    Folder() {
        char pattern[] = "/tmp/gavex_fuzz_XXXXXX";
        if (char* made = ::mkdtemp(pattern)) path = made;
        std::filesystem::create_directories(path + "/reg");
        ::setenv("GAVEX_REGISTRY_DIR", (path + "/reg").c_str(), 1);
    }
    ~Folder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

}  // namespace

const std::string& WorkDir() {
    static Folder folder;
    return folder.path;
}

std::string WriteInput(const std::string& name, const uint8_t* data, size_t size) {
    const std::string path = WorkDir() + "/" + name;
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size > 0) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}

}  // namespace gavexfuzz
