#include "archive/files/FrameCodecs.h"

#include <mutex>


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
    // Only the names a recorder's settings may carry; any other name leaves
    // the choice to CompressorVersion.
    if (name == "MJPEG") return 55;
    if (name == "Corvane 3.5") return 110;
    return 0;
}

}  // namespace FrameCodecs
