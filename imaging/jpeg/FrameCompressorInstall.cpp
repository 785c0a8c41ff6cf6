// CCompressor behind the archive writers' codec interface.
#include <memory>

#include "archive/files/FrameCodecs.h"
#include "imaging/jpeg/Compressor.h"

namespace {

class FrameCompressor final : public FrameCodecs::IFrameCompressor {
public:
    // Built for MJPEG; the writers always Init before their first frame.
    FrameCompressor() : m_compressor(55) {}

    void Init(int mode, int version) override { m_compressor.Init(mode, version); }
    int Compress(const std::uint8_t* picture, int codecSetting, int width, int height, int color, int key,
                 int layout) override
    {
        return m_compressor.Compress(picture, codecSetting, width, height, color, key, layout);
    }
    const std::uint8_t* GetOutput() const override { return m_compressor.outputBuffer; }
    int GetKeyRequest() const override { return m_compressor.keyFrameNeeded; }
    void SetKeyRequest(int value) override { m_compressor.keyFrameNeeded = value; }
    int GetPeriodicKey() const override { return m_compressor.codecEnabled; }
    int GetVersion() const override { return m_compressor.GetVersion(); }

private:
    CCompressor m_compressor;
};

}  // namespace

std::unique_ptr<FrameCodecs::IFrameCompressor> MakeFrameCompressor() { return std::make_unique<FrameCompressor>(); }

void InstallFrameCompressor() { FrameCodecs::SetCompressorFactory(&MakeFrameCompressor); }
