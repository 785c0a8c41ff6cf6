// libFerrowen3_64.so: the 3.5 wavelet codec.
//
// Frame: 0 guard, 4 length L before the tag, 8 checksum (the 32-bit sum of the
// words from offset 24 to L, bit 31 cleared), 12 Adler-32 of the payload,
// 16 payload length, 20 the caller's 16-bit flags (bits 0-1 frame type, bit 2
// grey), 22 the payload (WaveletCore.h), zero bytes up to a multiple of 4.
#include <zlib.h>

#include <cstring>
#include <new>

#include "WaveletCore.h"
#include "media/FerrowenContract.h"

#define FERROWEN_EXPORT extern "C" __attribute__((visibility("default")))

using namespace ferrowen;

namespace {

constexpr uint32_t kRecordMagic = 0x00CAEC0D;
constexpr size_t kHeader = 22;

enum Error
{
    kNone = 0,
    kBadArgument = 1,
    kDamagedFrame = 2,
    kWrongGeometry = 3,
    kTooLarge = 4,
    kDecodeFailed = 5,
};

struct Codec35 {
    int width = 0;
    int height = 0;
    int levels = 0;
    int colourLayout = k422;
    int error = kNone;
    PlaneCodec codec;
};

uint32_t Checksum(const uint8_t* frame, uint32_t words)
{
    uint32_t sum = 0;
    for (uint32_t i = 6; i < words; ++i)
        sum += Load32(frame + 4 * i);
    return sum & 0x7FFFFFFF;
}

// Seals a frame whose payload of `payload` bytes follows the header.
uint32_t Seal(uint8_t* frame, size_t payload)
{
    size_t length = kHeader + payload;
    while (length % 4)
        frame[length++] = 0;
    Store32(frame + 4, uint32_t(length));
    Store32(frame + 12, uint32_t(adler32(adler32(0, nullptr, 0), frame + kHeader, uInt(payload))));
    Store32(frame + 16, uint32_t(payload));
    Store32(frame + 8, Checksum(frame, uint32_t(length / 4)));
    return uint32_t(length);
}

// The payload of a frame, or null when the frame is damaged.
const uint8_t* Payload(const uint8_t* frame, uint32_t available, size_t& size)
{
    if (frame == nullptr || available < 24 || Load32(frame) != 0xFFFFFFFF)
        return nullptr;
    const uint32_t length = Load32(frame + 4);
    size = Load32(frame + 16);
    if (length > available || length < kHeader || size > length - kHeader)
        return nullptr;
    if (adler32(adler32(0, nullptr, 0), frame + kHeader, uInt(size)) != Load32(frame + 12))
        return nullptr;
    return frame + kHeader;
}

int Encode(Codec35* c, const FerrowenPlanes* planes, uint8_t* out, int quality, int extra)
{
    if (c == nullptr || planes == nullptr || planes->y == nullptr || out == nullptr) {
        if (c)
            c->error = kBadArgument;
        return 0;
    }
    const uint16_t flags = Load16(out + 20);
    const bool key = (flags & 3) == 1;
    const int layout = (flags & 4) ? kGrey : c->colourLayout;
    if (layout != kGrey && (planes->u == nullptr || planes->v == nullptr)) {
        c->error = kBadArgument;
        return 0;
    }
    const uint8_t* src[3] = {planes->y, planes->u, planes->v};
    const int pitch = planes->pitch > 0 ? planes->pitch : c->width;
    const int pitches[3] = {pitch, pitch / 2, pitch / 2};
    const int step = 1 + (quality > 0 ? quality : 0) / 5;
    std::vector<uint8_t> payload;
    if (!c->codec.Encode(layout, c->levels, c->width, c->height, src, pitches, step, key,
                         extra >= 1 && extra <= 9 ? extra : 6, payload)) {
        c->error = kBadArgument;
        return 0;
    }
    // The caller's buffer holds twice the picture area and a header.
    if (payload.size() + kHeader + 8 > size_t(c->width) * size_t(c->height) * 2) {
        c->error = kTooLarge;
        return 0;
    }
    if (!key)
        out[20] = uint8_t(out[20] & ~3);
    std::memcpy(out + kHeader, payload.data(), payload.size());
    c->error = kNone;
    return int(Seal(out, payload.size()));
}

uint32_t Decode(Codec35* c, const FerrowenPlanes* planes, const uint8_t* frame, uint32_t available,
                int level)
{
    if (c == nullptr)
        return 0;
    if (frame == nullptr) {
        c->error = kBadArgument;
        return 0;
    }
    size_t size = 0;
    const uint8_t* payload = Payload(frame, available ? available : Load32(frame + 4), size);
    PayloadInfo info;
    if (payload == nullptr || !ReadPayloadInfo(payload, size, info)) {
        c->error = kDamagedFrame;
        return 0;
    }
    const int layout = (Load16(frame + 20) & 4) ? kGrey : c->colourLayout;
    if (info.layout != layout || info.levels != c->levels || info.widths[0] != c->width ||
        info.heights[0] != c->height) {
        c->error = kWrongGeometry;
        return 0;
    }
    // Level n keeps n - 1 of the levels + 1 resolutions below the full one.
    const int halvings = level == 0 ? 0 : c->levels + 1 - level;
    if (halvings < 0 || halvings > c->levels) {
        c->error = kBadArgument;
        return 0;
    }
    const int w = c->width >> halvings, h = c->height >> halvings;
    PlaneOut out[3];
    const bool withPicture = planes != nullptr && planes->y != nullptr;
    if (withPicture) {
        out[0] = {planes->y, w, w, h};
        if (layout != kGrey) {
            if (planes->u == nullptr || planes->v == nullptr) {
                c->error = kBadArgument;
                return 0;
            }
            const int ch = layout == k420 ? h / 2 : h;
            out[1] = {planes->u, w / 2, w / 2, ch};
            out[2] = {planes->v, w / 2, w / 2, ch};
        }
    }
    if (!c->codec.Decode(payload, size, halvings, withPicture ? out : nullptr)) {
        c->error = kDecodeFailed;
        return 0;
    }
    c->error = kNone;
    return uint32_t(w) | uint32_t(h) << 16;
}

} // namespace

FERROWEN_EXPORT void* DLL_VideoOpen(const uint8_t* record)
{
    if (record == nullptr || (Load32(record) & 0x00FFFFFF) != kRecordMagic)
        return nullptr;
    const uint16_t word = Load16(record + 4);
    const int width = Load16(record + 6), height = Load16(record + 10);
    const int levels = word & 7;
    if (width < 4 || height < 4 || levels < 1)
        return nullptr;
    auto* c = new (std::nothrow) Codec35;
    if (c == nullptr)
        return nullptr;
    c->width = width;
    c->height = height;
    c->levels = levels;
    c->colourLayout = (word & 0x10) ? k420 : k422;
    return c;
}

FERROWEN_EXPORT void DLL_VideoClose(void* handle) { delete static_cast<Codec35*>(handle); }

FERROWEN_EXPORT int DLL_VideoLastError(void* handle)
{
    return handle ? static_cast<Codec35*>(handle)->error : kBadArgument;
}

FERROWEN_EXPORT int DLL_VideoEncode(void* handle, const FerrowenPlanes* planes, uint8_t* out,
                                    int quality, int extra)
{
    return Encode(static_cast<Codec35*>(handle), planes, out, quality, extra);
}

FERROWEN_EXPORT int DLL_VideoEncodeEx(void* handle, const FerrowenPlanes* planes, uint8_t* out,
                                      int quality, int extra, int frameType)
{
    if (out == nullptr)
        return 0;
    Store16(out + 20, uint16_t((Load16(out + 20) & ~3) | (frameType & 3)));
    return Encode(static_cast<Codec35*>(handle), planes, out, quality, extra);
}

FERROWEN_EXPORT uint32_t DLL_VideoDecode(void* handle, const FerrowenPlanes* planes,
                                         const uint8_t* frame, uint32_t available, int level)
{
    return Decode(static_cast<Codec35*>(handle), planes, frame, available, level);
}

FERROWEN_EXPORT uint32_t DLL_VideoDecodeEx(void* handle, const FerrowenPlanes* planes,
                                           const uint8_t* frame, uint32_t available, int level)
{
    if (available == 0)
        return 0;
    return Decode(static_cast<Codec35*>(handle), planes, frame, available, level);
}

FERROWEN_EXPORT int DLL_VideoTruncate(uint8_t* frame, int halvings)
{
    size_t size = 0;
    uint8_t* payload = const_cast<uint8_t*>(Payload(frame, frame ? Load32(frame + 4) : 0, size));
    if (payload == nullptr)
        return 0;
    const size_t reduced = ReducePayload(payload, size, halvings);
    if (reduced == 0)
        return 0;
    return int(Seal(frame, reduced));
}
