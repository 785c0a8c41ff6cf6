#include "archive/files/FrameCodecs.h"

#include <mutex>

#include "base/frames/FormatTags.h"

namespace FrameCodecs {
namespace {

struct Factories {
    std::mutex lock;
    DecompressorFactory decompressor;
    CompressorFactory compressor;
};

Factories& Installed() {
    static Factories factories;
    return factories;
}

}  // namespace

void SetDecompressorFactory(DecompressorFactory factory) {
    std::lock_guard<std::mutex> lock(Installed().lock);
    Installed().decompressor = std::move(factory);
}

void SetCompressorFactory(CompressorFactory factory) {
    std::lock_guard<std::mutex> lock(Installed().lock);
    Installed().compressor = std::move(factory);
}

std::unique_ptr<IFrameDecompressor> CreateDecompressor() {
    DecompressorFactory factory;
    {
        std::lock_guard<std::mutex> lock(Installed().lock);
        factory = Installed().decompressor;
    }
    return factory ? factory() : nullptr;
}

std::unique_ptr<IFrameCompressor> CreateCompressor() {
    CompressorFactory factory;
    {
        std::lock_guard<std::mutex> lock(Installed().lock);
        factory = Installed().compressor;
    }
    return factory ? factory() : nullptr;
}

int CodecVersionFromName(const std::string& name) {
    if (name.empty()) return 0;
    for (int code = 1; code < 256; ++code)
        if (name == GetVideoFormatName(code)) return code;
    return 0;
}

}  // namespace FrameCodecs
