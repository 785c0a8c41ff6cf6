#include "media/VideoSourceInterfaces.h"

namespace filters {

SourceSettings& GetSourceSettings()
{
    static SourceSettings settings;
    return settings;
}

int64_t FrameTimeMs(const VideoFrame& frame)
{
    return static_cast<int64_t>(frame.m_tssTime.ToUtcMilliseconds()) - static_cast<int64_t>(kArchiveUnixOffsetMs);
}

}  // namespace filters
