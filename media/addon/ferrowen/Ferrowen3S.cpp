// libFerrowen3S140321.so: the 7.1 wavelet codec (frames of WxwlFrame.h with a
// 32-bit length), linked by the player.
#include <new>

#include "WxwlFrame.h"

#define FERROWEN_EXPORT extern "C" __attribute__((visibility("default")))

using namespace ferrowen;

namespace {

constexpr Generation k71{0xFFFFFFFF, 0, 4};

struct Downscaler {
    int level = 0;
};

} // namespace

FERROWEN_EXPORT void* DLL_WXW3CodecOpenEx(const uint8_t* description, int width, int* error)
{
    return WxwlOpen(k71, description, width, error);
}

FERROWEN_EXPORT void DLL_WXW3CodecClose(void* handle) { delete static_cast<WxwlCodec*>(handle); }

FERROWEN_EXPORT void DLL_WXW3SetEncDefault(int32_t* parameters) { WxwlSetDefault(parameters); }
FERROWEN_EXPORT void DLL_WXW3SetDecDefault(int32_t* parameters) { WxwlSetDefault(parameters); }

FERROWEN_EXPORT int DLL_WXW3CodecEncode(void* handle, const FerrowenPlanes* planes, uint8_t* out,
                                        const int32_t* parameters)
{
    return WxwlEncode(static_cast<WxwlCodec*>(handle), planes, out, parameters);
}

FERROWEN_EXPORT uint32_t DLL_WXW3CodecDecode(void* handle, const FerrowenPlanes* planes,
                                             const uint8_t* frame, const int32_t* parameters)
{
    return WxwlDecode(static_cast<WxwlCodec*>(handle), planes, frame, parameters);
}

FERROWEN_EXPORT void* DLL_WXW3CodecOpenDS(const uint8_t* frame, int level, int* error)
{
    if (frame == nullptr || Load32(frame) != 0xFFFFFFFF || level < 1 ||
        level > int(Load32(frame + 24) & 7)) {
        if (error)
            *error = 1;
        return nullptr;
    }
    auto* d = new (std::nothrow) Downscaler;
    if (d)
        d->level = level;
    if (error)
        *error = d ? 0 : 1;
    return d;
}

FERROWEN_EXPORT void DLL_WXW3CodecCloseDS(void* handle) { delete static_cast<Downscaler*>(handle); }

FERROWEN_EXPORT int DLL_WXW3CodecDownscale(void* handle, uint8_t* buffer, int* status)
{
    if (handle == nullptr) {
        if (status)
            *status = 1;
        return 0;
    }
    return WxwlDownscale(k71, buffer, static_cast<Downscaler*>(handle)->level, status);
}
