#include "media/WaveletEncoders.h"

#include <memory>

#include "imaging/jpeg/WaveletEncoderFactory.h"
#include "media/Wavelet.h"

namespace wavelet {

namespace {

class EncoderAdapter final : public IWaveletEncoder
{
public:
    explicit EncoderAdapter(std::unique_ptr<Wavelet> codec) : m_codec(std::move(codec)) {}
    int Encode(uint8_t* picture, uint8_t* out, int qualityIndex, int colour, int key,
               int extra) override
    {
        return m_codec->Compress(picture, out, qualityIndex, colour, key, extra);
    }

private:
    std::unique_ptr<Wavelet> m_codec;
};

std::unique_ptr<IWaveletEncoder> MakeEncoder(int version, int width, int height, int outputFormat,
                                             int variant)
{
    std::unique_ptr<Wavelet> codec;
    switch (version) {
    case 'n':
    case 'o':
        // 'n' pictures in 4:2:2 use the 4:2:2 stream, as 'o' does.
        codec.reset(CreateWavelet3(width, height, outputFormat,
                                   version == 'n' && outputFormat == -3 ? 10 : 11));
        break;
    case 'v':
    case 'w': {
        auto c = std::make_unique<WxWl3>(width, height, outputFormat);
        if (c->IsLoaded() && c->StreamDescription())
            codec = std::move(c);
        break;
    }
    case 'z':
    case '{':
        codec = std::make_unique<Wavelet71>(width, height, variant, outputFormat);
        break;
    default:
        break;
    }
    if (!codec)
        return nullptr;
    return std::make_unique<EncoderAdapter>(std::move(codec));
}

} // namespace

void RegisterWaveletEncoders() { RegisterWaveletEncoderMaker(&MakeEncoder); }

} // namespace wavelet
