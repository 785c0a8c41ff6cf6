#include "media/FrameCodecsInstall.h"

#include <memory>

#include "archive/files/FrameCodecs.h"
#include "media/Decompressor.h"

namespace {

class MediaDecompressor final : public FrameCodecs::IFrameDecompressor {
public:
    VideoFramePtr Decompress(VideoFrame* frame, int width) override { return m_decompressor.Decompress(frame, width); }

private:
    CDecompressor m_decompressor;
};

}  // namespace

void InstallMediaFrameCodecs() {
    FrameCodecs::SetDecompressorFactory([] { return std::make_unique<MediaDecompressor>(); });
}
