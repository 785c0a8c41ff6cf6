// The frame index blobs an archive file carries in its trailer, in both
// stored forms. Damage is reported by exceptions; anything else is a finding.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <sstream>

#include "FuzzSupport.h"
#include "archive/files/FramesIndex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes = gavexfuzz::Text(data, size);
    for (const bool portable : {false, true}) {
        std::istringstream in(bytes);
        FramesIndex index;
        try {
            if (portable)
                LoadFramesIndexPortable(in, index);
            else
                LoadFramesIndexBinary(in, index);
            // What was read writes back.
            std::ostringstream out;
            SaveFramesIndex(index, out);
        } catch (const std::exception&) {
        }
    }
    return 0;
}
