// A SubRip file lying beside a media file: its cues, their start keys, texts
// and positions.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "media/Subtitles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = gavexfuzz::WriteInput("cues.srt", data, size);
    filters::BaseSubtitlesSource::EntryMap entries;
    filters::ParseSrtFile(path, entries);
    // A position is made of whole numbers: its size is never lost to NaN.
    for (const auto& cue : entries)
        if (std::isnan(cue.second.width) || std::isnan(cue.second.height)) __builtin_trap();
    return 0;
}
