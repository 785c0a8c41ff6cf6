// libFerrowen7_64.so: the 6.5 wavelet codec (frames of WxwlFrame.h with a
// 24-bit length; bit 26 of the flags marks a grey stream).
#include "WxwlFrame.h"

#define FERROWEN_EXPORT extern "C" __attribute__((visibility("default")))

using namespace ferrowen;

namespace {
constexpr Generation k65{0xFFFFFF, 0x4000000, 2};
}

FERROWEN_EXPORT void* DLL_WXWLCodecOpenEx(const uint8_t* description, int width, int* error)
{
    return WxwlOpen(k65, description, width, error);
}

FERROWEN_EXPORT void* DLL_WXWLCodecOpen(const uint8_t* description)
{
    return description ? WxwlOpen(k65, description, Load16(description + 28), nullptr) : nullptr;
}

FERROWEN_EXPORT void DLL_WXWLCodecClose(void* handle) { delete static_cast<WxwlCodec*>(handle); }

FERROWEN_EXPORT int DLL_WXWLCodecLastError(void* handle)
{
    return handle ? static_cast<WxwlCodec*>(handle)->error : -1;
}

FERROWEN_EXPORT int DLL_WXWLCodecGetVersion() { return 0x00060500; }

FERROWEN_EXPORT int DLL_WXWLCodecGetDiff(const uint8_t* frame)
{
    if (frame == nullptr || Load32(frame) != 0xFFFFFFFF)
        return -1;
    return int(Load32(frame + 20));
}

FERROWEN_EXPORT int DLL_WXWLCodecDownscale(uint8_t* frame, int level, int* error)
{
    return WxwlDownscale(k65, frame, level, error);
}

FERROWEN_EXPORT int DLL_WXWLCodecTruncate(uint8_t* frame, int maxLength)
{
    if (frame == nullptr || Load32(frame) != 0xFFFFFFFF)
        return 0;
    int length = int(Load32(frame + 4) & k65.lengthMask);
    while (length > maxLength) {
        int error = 0;
        length = WxwlDownscale(k65, frame, 1, &error);
        if (length == 0)
            return 0;
    }
    return length;
}

FERROWEN_EXPORT void DLL_WXWLSetEncDefault(int32_t* parameters) { WxwlSetDefault(parameters); }
FERROWEN_EXPORT void DLL_WXWLSetDecDefault(int32_t* parameters) { WxwlSetDefault(parameters); }

FERROWEN_EXPORT int DLL_WXWLCodecEncode(void* handle, const FerrowenPlanes* planes, uint8_t* out,
                                        const int32_t* parameters)
{
    return WxwlEncode(static_cast<WxwlCodec*>(handle), planes, out, parameters);
}

FERROWEN_EXPORT uint32_t DLL_WXWLCodecDecode(void* handle, const FerrowenPlanes* planes,
                                             const uint8_t* frame, const int32_t* parameters)
{
    return WxwlDecode(static_cast<WxwlCodec*>(handle), planes, frame, parameters);
}
