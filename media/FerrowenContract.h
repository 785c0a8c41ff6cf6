// The calling contract of the wavelet codec libraries (libFerrowen3_64.so for
// 3.5, libFerrowen7_64.so for 6.5, both opened at run time, and
// libFerrowen3S140321.so for 7.1, linked). The wrappers in media/Wavelet.h
// call them; the libraries under media/addon/ferrowen/ implement them.
//
// Frames: the wrapper writes or checks the fixed header fields; the library
// writes the rest and the frame length. A library never reads more of a frame
// than its length word says, and refuses a frame whose geometry differs from
// the codec it was opened for. Handles are used by one thread at a time.
#pragma once

#include <cstdint>

extern "C" {

// A picture in planes. A null `y` asks a decoder to update its state only (the
// key part of a complex frame). `pitch` is the luma row length in bytes; the
// chroma row length is half of it.
struct FerrowenPlanes {
    uint8_t* y;
    uint8_t* u;
    uint8_t* v;
    int32_t pitch;
    int32_t width;
    int32_t height;
    uint16_t reserved; // 0
};

// Parameter records of 6.5 and 7.1 (eight 32-bit fields).
enum FerrowenParam : int
{
    kFerrowenParamSize = 0,   // 32, set by the Set*Default calls
    kFerrowenParamLevel = 3,  // decode: reduction level (halvings)
    kFerrowenParamRate = 4,   // encode: compression rate (larger: smaller frames)
    kFerrowenParamExtra = 5,  // encode: caller's extra value
    kFerrowenParamCount = 8,
};

// 3.5 (libFerrowen3_64.so). The stream record is 64 bytes.
using FwVideoOpenFn = void* (*)(const uint8_t* streamRecord);
using FwVideoCloseFn = void (*)(void* handle);
using FwVideoLastErrorFn = int (*)(void* handle);
// Encodes into `out` (its 16-bit flags at 20 say key and grey); writes the
// length before the tag at offset 4 and the checksum at 8. Returns that length,
// 0 on failure.
using FwVideoEncodeFn = int (*)(void* handle, const FerrowenPlanes* planes, uint8_t* out,
                                int quality, int extra);
// As FwVideoEncodeFn with the frame type given (1 key, 0 difference).
using FwVideoEncodeExFn = int (*)(void* handle, const FerrowenPlanes* planes, uint8_t* out,
                                  int quality, int extra, int frameType);
// Decodes at level n (0 full size, else n = levels + 1 - halvings). `available`
// bounds the bytes read (0: as the frame's length word says). Returns the
// decoded width | height << 16, 0 on failure. Reduced luma rows are packed;
// each reduced chroma plane is packed at its full-size position.
using FwVideoDecodeFn = uint32_t (*)(void* handle, const FerrowenPlanes* planes,
                                     const uint8_t* frame, uint32_t available, int level);
using FwVideoDecodeExFn = uint32_t (*)(void* handle, const FerrowenPlanes* planes,
                                       const uint8_t* frame, uint32_t available, int level);
// Drops the finest `halvings` levels of a frame in place; returns its new
// length before the tag, 0 on failure.
using FwVideoTruncateFn = int (*)(uint8_t* frame, int halvings);

// 6.5 (libFerrowen7_64.so). The stream description is the 36-byte frame header.
using FwWxwlOpenFn = void* (*)(const uint8_t* description);
using FwWxwlOpenExFn = void* (*)(const uint8_t* description, int width, int* error);
using FwWxwlCloseFn = void (*)(void* handle);
using FwWxwlLastErrorFn = int (*)(void* handle);
using FwWxwlGetVersionFn = int (*)();
// Frames since the last key frame, -1 for a frame that is not 6.5.
using FwWxwlGetDiffFn = int (*)(const uint8_t* frame);
// Reduces a frame (its L bytes) in place by `level` halvings; returns the new
// length before the tag, 0 on failure.
using FwWxwlDownscaleFn = int (*)(uint8_t* frame, int level, int* error);
// Drops finest levels until the frame is at most `maxLength` bytes before the
// tag; returns the new length, 0 when it cannot.
using FwWxwlTruncateFn = int (*)(uint8_t* frame, int maxLength);
using FwWxwlSetDefaultFn = void (*)(int32_t* parameters);
// Returns the length before the tag, <= 0 on failure.
using FwWxwlEncodeFn = int (*)(void* handle, const FerrowenPlanes* planes, uint8_t* out,
                               const int32_t* parameters);
// Decodes at the level of the parameters, writing the reduced picture with
// the full-size row length and plane positions. Returns the decoded width |
// height << 16, 0 on failure.
using FwWxwlDecodeFn = uint32_t (*)(void* handle, const FerrowenPlanes* planes,
                                    const uint8_t* frame, const int32_t* parameters);

// 7.1 (libFerrowen3S140321.so, linked). Same meanings as 6.5.
void* DLL_WXW3CodecOpenEx(const uint8_t* description, int width, int* error);
void DLL_WXW3CodecClose(void* handle);
void DLL_WXW3SetEncDefault(int32_t* parameters);
int DLL_WXW3CodecEncode(void* handle, const FerrowenPlanes* planes, uint8_t* out,
                        const int32_t* parameters);
void DLL_WXW3SetDecDefault(int32_t* parameters);
uint32_t DLL_WXW3CodecDecode(void* handle, const FerrowenPlanes* planes, const uint8_t* frame,
                             const int32_t* parameters);
void* DLL_WXW3CodecOpenDS(const uint8_t* frame, int level, int* error);
void DLL_WXW3CodecCloseDS(void* handle);
// Reduces the frame in `buffer` in place; returns its new length before the
// tag, 0 on failure (`status` non-zero).
int DLL_WXW3CodecDownscale(void* handle, uint8_t* buffer, int* status);

} // extern "C"
