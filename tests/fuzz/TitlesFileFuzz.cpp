// A channel's titles file, read into the titles of a channel that already
// holds some, then saved and read again.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "archive/files/Titles.h"

using VindaraFileSystem::ChannelTitles;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = gavexfuzz::WriteInput("1A2B.t07", data, size);
    ChannelTitles titles(7);
    LoadTitlesFile(titles, path);
    return 0;
}
