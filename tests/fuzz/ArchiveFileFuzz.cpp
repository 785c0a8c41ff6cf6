// An archive video file as the player opens it: the reader chosen by the
// trailer (scanning, binary or portable index), frames read by number in both
// directions, by time, and the record interval. Reading errors are thrown as
// the platform's file and archive exceptions; anything else is a finding.
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "FuzzSupport.h"
#include "archive/files/DynamicFramesReader.h"
#include "base/VideoFrame.h"
#include "platform/File.h"

namespace {

// The time of frame n; the scanning reader knows only the frames it has read
// and says so with std::out_of_range (a file damaged before its last frame).
TSS FrameTime(IFramesReader& reader, uint64_t n) {
    try {
        return reader.GetFrameTime(n);
    } catch (const std::out_of_range&) {
        return TSS{};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = gavexfuzz::WriteInput("1A2B._07", data, size);
    // Both reader set-ups the program uses: bodies read lazily, and the
    // scanning reader that remembers key frames. Key frames are asked for
    // only from the latter, as the player does.
    for (const bool cachePFrames : {false, true}) {
        const bool key = cachePFrames;
        try {
            DynamicFramesReader reader(cachePFrames);
            if (!reader.Open(path, 0) || !reader.IsReady()) continue;
            const uint64_t count = reader.GetFrameCount();
            VideoFramePtr frame(new VideoFrame(), false);
            const uint64_t first = count < 16 ? count : 16;
            for (uint64_t n = 0; n < first; ++n) reader.ReadFrame(*frame, n, false, true, 1.0, false);
            if (count > 0) {
                reader.ReadFrame(*frame, count - 1, key, true, 1.0, true);
                reader.ReadFrame(*frame, count + 5, false, false, 1.0, false);
                const TSS begin = FrameTime(reader, 0);
                const TSS last = FrameTime(reader, count - 1);
                reader.ReadFrameAtTime(*frame, begin, false, true);
                reader.ReadFrameAtTime(*frame, last, key, false);
                TSS later = last;
                later.wYear = static_cast<uint16_t>(later.wYear + 1);
                reader.ReadFrameAtTime(*frame, later, false, false);
                reader.GetRecordInterval(begin, false);
            }
            reader.GetRecordInterval(TSS{}, false);
            reader.Close();
        } catch (const platform::Exception&) {
            // A damaged file is reported by these; the player skips it.
        }
    }
    return 0;
}
