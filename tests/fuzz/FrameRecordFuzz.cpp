// Frame records: the object form of video, extended video and audio frames
// (as messages carry them) and the record form of archive files. Bad values
// are archive exceptions, a record cut short a file exception.
#include <cstddef>
#include <cstdint>
#include <span>

#include "FuzzSupport.h"
#include "base/AudioFrame.h"
#include "base/VideoFrame.h"
#include "platform/Archive.h"
#include "platform/File.h"

namespace {

template <class Frame>
void LoadObjectForm(const uint8_t* data, size_t size) {
    platform::MemFile file{std::span<const uint8_t>(data, size)};
    platform::Archive ar(file, platform::Archive::load);
    Frame* frame = new Frame();
    try {
        frame->Serialize(ar);
    } catch (const platform::Exception&) {
    }
    frame->Release();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LoadObjectForm<VideoFrame>(data, size);
    LoadObjectForm<VideoFrameEx>(data, size);
    LoadObjectForm<AudioFrame>(data, size);

    platform::MemFile file{std::span<const uint8_t>(data, size)};
    VideoFramePtr frame(new VideoFrame(), false);
    for (const bool body : {true, false}) {
        file.Seek(0, platform::File::begin);
        try {
            while (file.GetPosition() < file.GetLength()) frame->SerializeFile(file, true, body);
        } catch (const platform::Exception&) {
        }
    }
    return 0;
}
