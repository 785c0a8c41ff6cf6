// A record index file (.idx) of an archive volume as the engine reads it; the
// entries read are written back as the engine appends them.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "archive/fs/FileSystem.h"
#include "archive/fs/IndexFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FileSystem* engine = [] {
        gavexfuzz::WorkDir();  // the registry store in the private folder first
        return new FileSystem();
    }();
    const std::string path = gavexfuzz::WriteInput("25052213.idx", data, size);
    std::vector<IndexEntry> entries;
    engine->LoadIndex(0, path, entries);
    if (!entries.empty()) {
        const std::string copy = gavexfuzz::WriteInput("26052213.idx", nullptr, 0);
        for (const IndexEntry& e : entries) engine->AppendIndexEntry(copy, e);
        std::vector<IndexEntry> back;
        engine->LoadIndex(0, copy, back);
        if (back.size() != entries.size()) __builtin_trap();
    }
    return 0;
}
