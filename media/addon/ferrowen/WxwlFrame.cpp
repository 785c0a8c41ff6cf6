#include "WxwlFrame.h"

#include <zlib.h>

#include <cstring>
#include <new>
#include <vector>

namespace ferrowen {

namespace {

enum Error
{
    kNone = 0,
    kBadArgument = 1,
    kBadGuard = 2,
    kDamagedFrame = 3,
    kWrongGeometry = 4,
    kDecodeFailed = 5,
    kTooLarge = 6,
};

uint32_t Adler(const uint8_t* data, size_t size)
{
    return uint32_t(adler32(adler32(0, nullptr, 0), data, uInt(size)));
}

// The payload of a frame, null when the frame is damaged.
uint8_t* Payload(const Generation& g, uint8_t* frame, size_t& size, int& error)
{
    if (Load32(frame) != 0xFFFFFFFF) {
        error = kBadGuard;
        return nullptr;
    }
    const uint32_t length = Load32(frame + 4) & g.lengthMask;
    if (length < kWxwlHeader || frame[12] != kWxwlHeader) {
        error = kDamagedFrame;
        return nullptr;
    }
    size = length - kWxwlHeader;
    if (Adler(frame + kWxwlHeader, size) != Load32(frame + 8)) {
        error = kDamagedFrame;
        return nullptr;
    }
    return frame + kWxwlHeader;
}

void StoreLength(const Generation& g, uint8_t* frame, uint32_t length)
{
    Store32(frame + 4, (Load32(frame + 4) & ~g.lengthMask) | (length & g.lengthMask));
}

} // namespace

int WxwlLayout(const Generation& g, uint32_t flags)
{
    if ((flags & 0x70) == 0x20 || (g.greyBit != 0 && (flags & g.greyBit) != 0))
        return kGrey;
    return (flags & 0x70) == 0x10 ? k420 : k422;
}

void WxwlSetDefault(int32_t* params)
{
    if (params == nullptr)
        return;
    std::memset(params, 0, sizeof(int32_t) * kFerrowenParamCount);
    params[kFerrowenParamSize] = int32_t(sizeof(int32_t) * kFerrowenParamCount);
    params[kFerrowenParamRate] = 8;
    params[kFerrowenParamExtra] = 6;
}

WxwlCodec* WxwlOpen(const Generation& g, const uint8_t* description, int width, int* error)
{
    int failure = kBadArgument;
    WxwlCodec* c = nullptr;
    if (description != nullptr) {
        const int w = Load16(description + 28), h = Load16(description + 30);
        const uint32_t flags = Load32(description + 24);
        if (Load32(description) != 0xFFFFFFFF)
            failure = kBadGuard;
        else if (description[12] != kWxwlHeader || w != width || w < 4 || h < 4)
            failure = kWrongGeometry;
        else if ((c = new (std::nothrow) WxwlCodec) != nullptr) {
            c->generation = g;
            c->width = w;
            c->height = h;
            c->levels = int(flags & 7);
            c->layout = WxwlLayout(g, flags);
            failure = kNone;
        }
    }
    if (error)
        *error = failure;
    return c;
}

int WxwlEncode(WxwlCodec* c, const FerrowenPlanes* planes, uint8_t* out, const int32_t* params)
{
    if (c == nullptr)
        return 0;
    if (planes == nullptr || planes->y == nullptr || out == nullptr || params == nullptr) {
        c->error = kBadArgument;
        return 0;
    }
    const uint32_t flags = Load32(out + 24);
    const bool key = ((flags >> 24) & 3) == 1;
    const int layout = WxwlLayout(c->generation, flags);
    if (layout != kGrey && (planes->u == nullptr || planes->v == nullptr)) {
        c->error = kBadArgument;
        return 0;
    }
    const uint8_t* src[3] = {planes->y, planes->u, planes->v};
    const int pitch = planes->pitch > 0 ? planes->pitch : c->width;
    const int pitches[3] = {pitch, pitch / 2, pitch / 2};
    const int rate = params[kFerrowenParamRate] > 0 ? params[kFerrowenParamRate] : 0;
    const int extra = params[kFerrowenParamExtra];
    const int deflateLevel = (flags & 0x100) ? 9 : (extra >= 1 && extra <= 9 ? extra : 6);
    std::vector<uint8_t> payload;
    if (!c->codec.Encode(layout, int(flags & 7), c->width, c->height, src, pitches,
                         1 + rate / c->generation.rateDivisor, key, deflateLevel, payload)) {
        c->error = kBadArgument;
        return 0;
    }
    // The caller's buffer holds twice the picture area and the header.
    const size_t length = kWxwlHeader + payload.size();
    if (length > size_t(c->width) * size_t(c->height) * 2 + kWxwlHeader ||
        length > c->generation.lengthMask) {
        c->error = kTooLarge;
        return 0;
    }
    std::memcpy(out + kWxwlHeader, payload.data(), payload.size());
    StoreLength(c->generation, out, uint32_t(length));
    Store32(out + 8, Adler(out + kWxwlHeader, payload.size()));
    c->error = kNone;
    return int(length);
}

uint32_t WxwlDecode(WxwlCodec* c, const FerrowenPlanes* planes, const uint8_t* frame,
                    const int32_t* params)
{
    if (c == nullptr)
        return 0;
    if (frame == nullptr || params == nullptr) {
        c->error = kBadArgument;
        return 0;
    }
    size_t size = 0;
    int error = kNone;
    const uint8_t* payload = Payload(c->generation, const_cast<uint8_t*>(frame), size, error);
    PayloadInfo info;
    if (payload == nullptr || !ReadPayloadInfo(payload, size, info)) {
        c->error = error != kNone ? error : kDamagedFrame;
        return 0;
    }
    const uint32_t flags = Load32(frame + 24);
    const int width = Load16(frame + 28), height = Load16(frame + 30);
    const int levels = int(flags & 7);
    // A reduced frame names its picture size rounded down; its bands keep the
    // size rounded up.
    if (width != c->width || height != c->height || info.widths[0] - width < 0 ||
        info.widths[0] - width > 1 || info.heights[0] - height < 0 ||
        info.heights[0] - height > 1 || info.levels != levels ||
        info.layout != WxwlLayout(c->generation, flags) ||
        (c->layout != kGrey && info.layout != kGrey && info.layout != c->layout)) {
        c->error = kWrongGeometry;
        return 0;
    }
    const int halvings = params[kFerrowenParamLevel];
    if (halvings < 0 || halvings > levels) {
        c->error = kBadArgument;
        return 0;
    }
    const int w = width >> halvings, h = height >> halvings;
    PlaneOut out[3];
    const bool withPicture = planes != nullptr && planes->y != nullptr;
    if (withPicture) {
        // The reduced picture keeps the full-size rows and plane positions.
        out[0] = {planes->y, width, w, h};
        if (info.layout != kGrey) {
            if (planes->u == nullptr || planes->v == nullptr) {
                c->error = kBadArgument;
                return 0;
            }
            const int ch = info.layout == k420 ? h / 2 : h;
            out[1] = {planes->u, width / 2, w / 2, ch};
            out[2] = {planes->v, width / 2, w / 2, ch};
        }
    }
    if (!c->codec.Decode(payload, size, halvings, withPicture ? out : nullptr)) {
        c->error = kDecodeFailed;
        return 0;
    }
    c->error = kNone;
    return uint32_t(w) | uint32_t(h) << 16;
}

int WxwlDownscale(const Generation& g, uint8_t* frame, int level, int* error)
{
    int failure = kBadArgument;
    int result = 0;
    if (frame != nullptr && level > 0) {
        size_t size = 0;
        failure = kNone;
        uint8_t* payload = Payload(g, frame, size, failure);
        const uint32_t flags = Load32(frame + 24);
        const size_t reduced = payload && level <= int(flags & 7) ? ReducePayload(payload, size, level) : 0;
        if (reduced == 0) {
            if (failure == kNone)
                failure = kDamagedFrame;
        } else {
            Store32(frame + 24, (flags & ~7u) | ((flags & 7) - uint32_t(level)));
            Store16(frame + 28, uint16_t(Load16(frame + 28) >> level));
            Store16(frame + 30, uint16_t(Load16(frame + 30) >> level));
            StoreLength(g, frame, uint32_t(kWxwlHeader + reduced));
            Store32(frame + 8, Adler(payload, reduced));
            result = int(kWxwlHeader + reduced);
        }
    }
    if (error)
        *error = result ? kNone : failure;
    return result;
}

} // namespace ferrowen
