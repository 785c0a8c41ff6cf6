#include "media/VideoSourceInterfaces.h"

namespace filters {

int64_t FrameTimeMs(const VideoFrame& frame)
{
    return static_cast<int64_t>(frame.m_tssTime.ToUtcMilliseconds()) - static_cast<int64_t>(kArchiveUnixOffsetMs);
}

}  // namespace filters
