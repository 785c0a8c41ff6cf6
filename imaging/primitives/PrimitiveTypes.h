#pragma once
// Conventions shared by every image primitive.
//
// A primitive is a plain function returning a PrimitiveStatus: 0 is success,
// a negative value an error (nothing was written unless the error lies in the
// data itself), a positive value a warning (the operation ran, or had nothing
// to do). Arguments are checked before any work: pointers first, then sizes,
// then steps, then the primitive's own parameters; the first failing check
// decides the status.
//
// An image or plane is passed as a pointer to its top-left sample, a row step
// in bytes (signed: the distance between the starts of two consecutive rows,
// possibly larger than the row) and an ImageSize in pixels passed by value.
// The caller owns every buffer; no primitive keeps a pointer after it returns.

#include <cstdint>

using PrimitiveStatus = std::int32_t;

namespace PrimitiveStatusCode {
inline constexpr PrimitiveStatus Ok = 0;
inline constexpr PrimitiveStatus CorruptData = -2;         // coefficient position outside 0..63
inline constexpr PrimitiveStatus BadArgument = -5;         // argument outside its allowed set
inline constexpr PrimitiveStatus BadSize = -6;             // width, height or length not positive
inline constexpr PrimitiveStatus OutOfRange = -7;          // value out of range
inline constexpr PrimitiveStatus NullPointer = -8;         // a required pointer is null
inline constexpr PrimitiveStatus NoMemory = -9;            // a working buffer could not be allocated
inline constexpr PrimitiveStatus BadStep = -14;            // a row step not positive
inline constexpr PrimitiveStatus BadInterpolation = -22;   // resize mode not supported
inline constexpr PrimitiveStatus BadResizeFactor = -23;    // resize factor not above zero
inline constexpr PrimitiveStatus BadShift = -32;           // negative bit shift
inline constexpr PrimitiveStatus BadChannelOrder = -60;    // negative channel index in an order table
inline constexpr PrimitiveStatus CodedBufferExhausted = -62;
inline constexpr PrimitiveStatus HuffmanRange = -63;
inline constexpr PrimitiveStatus BadHuffmanTable = -64;
inline constexpr PrimitiveStatus ResizeBelowHalfPixel = -201;

// Warnings.
inline constexpr PrimitiveStatus DivisorZero = 6;          // a quantiser of 0 was met
inline constexpr PrimitiveStatus RegionOutsideSource = 29; // nothing was done
inline constexpr PrimitiveStatus OddSize = 35;             // 4:2:0 data of odd size: the even part was processed
inline constexpr PrimitiveStatus UnsupportedCpu = 36;      // cache-size query on an unknown processor
inline constexpr PrimitiveStatus NoCacheSize = 37;         // cache-size query found no cache size
}  // namespace PrimitiveStatusCode

// Width then height, in pixels.
struct ImageSize {
    std::int32_t width;
    std::int32_t height;
};

// A region of an image, in pixels.
struct ImageRect {
    std::int32_t x;
    std::int32_t y;
    std::int32_t width;
    std::int32_t height;
};
