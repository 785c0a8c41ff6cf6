// The fast index of an archive folder (INDEX/fastIndex.index).
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "archive/files/FastIndex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string archive = [] {
        const std::string folder = gavexfuzz::WorkDir() + "/archive";
        ::mkdir(folder.c_str(), 0755);
        ::mkdir((folder + "/INDEX").c_str(), 0755);
        return folder;
    }();
    gavexfuzz::WriteInput(std::string("archive/INDEX/") + kFastIndexFileName, data, size);
    uint64_t fileSize = 0;
    FastIndexMap hours;
    LoadFastIndex(archive, fileSize, hours);
    return 0;
}
