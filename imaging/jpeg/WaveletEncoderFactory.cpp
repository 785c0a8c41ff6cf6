#include "imaging/jpeg/WaveletEncoderFactory.h"

#include <mutex>

namespace wavelet {

namespace {

struct Registry {
    std::mutex lock;
    WaveletEncoderMaker maker;
};

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

} // namespace

void RegisterWaveletEncoderMaker(WaveletEncoderMaker maker)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    r.maker = std::move(maker);
}

bool IsWaveletVersion(int version)
{
    switch (version) {
    case 'n':
    case 'o':
    case 'v':
    case 'w':
    case 'z':
    case '{':
        return true;
    default:
        return false;
    }
}

std::unique_ptr<IWaveletEncoder> CreateWaveletEncoder(int version, int width, int height,
                                                      int outputFormat, int variant)
{
    if (!IsWaveletVersion(version))
        return nullptr;
    WaveletEncoderMaker maker;
    {
        Registry& r = TheRegistry();
        std::lock_guard<std::mutex> hold(r.lock);
        maker = r.maker;
    }
    return maker ? maker(version, width, height, outputFormat, variant) : nullptr;
}

} // namespace wavelet
