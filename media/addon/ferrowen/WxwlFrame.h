// The 6.5 and 7.1 codecs: both frames start with the 36-byte stream
// description (guard, length, Adler-32 of the payload at 8, header length 36
// at 12, frames since the key frame at 20, flags at 24, width and height at 28
// and 30), followed by the payload of WaveletCore.h.
#pragma once

#include <cstdint>

#include "WaveletCore.h"
#include "media/FerrowenContract.h"

namespace ferrowen {

struct Generation {
    uint32_t lengthMask; // bits of the word at 4 that hold the length
    uint32_t greyBit;    // flag bit of a grey stream besides the grey layout
    int rateDivisor;     // quantiser step = 1 + rate / divisor
};

struct WxwlCodec {
    Generation generation{};
    int width = 0;
    int height = 0;
    int levels = 0;
    int layout = 0;
    int error = 0;
    PlaneCodec codec;
};

constexpr uint32_t kWxwlHeader = 36;

// The layout a description's flags name.
int WxwlLayout(const Generation& g, uint32_t flags);

WxwlCodec* WxwlOpen(const Generation& g, const uint8_t* description, int width, int* error);
int WxwlEncode(WxwlCodec* c, const FerrowenPlanes* planes, uint8_t* out, const int32_t* params);
uint32_t WxwlDecode(WxwlCodec* c, const FerrowenPlanes* planes, const uint8_t* frame,
                    const int32_t* params);
// Reduces a frame in place; the new length before the tag, 0 on failure.
int WxwlDownscale(const Generation& g, uint8_t* frame, int level, int* error);
void WxwlSetDefault(int32_t* params);

} // namespace ferrowen
