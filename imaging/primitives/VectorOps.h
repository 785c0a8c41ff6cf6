#pragma once
// One-dimensional primitives: zero, copy, move and shift runs of values.
//
// A vector is a pointer and an element count; count x element size stays
// below 2^31. Copies take non-overlapping ranges; MoveVector8u any two.
// Checks, first failure decides, nothing written on a failure:
//   zeroes: destination null -8, n <= 0 -6;
//   copies and the move: source null -8, destination null -8, n <= 0 -6;
//   ShiftRightVector16sInPlace: values null -8, n <= 0 -6, shift < 0 -32;
//   ShiftLeftVector16s: shift 0 is CopyVector16s; shift >= 16 checks the source
//   (-8, although it is not read) and is ZeroVector16s; any other shift checks
//   source, destination (-8), n (-6), shift < 0 (-32).

#include <cstdint>

#include "imaging/primitives/PrimitiveTypes.h"

PrimitiveStatus ZeroVector8u(std::uint8_t* dst, std::int32_t n);
PrimitiveStatus CopyVector8u(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n);
PrimitiveStatus MoveVector8u(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n);
PrimitiveStatus ZeroVector16s(std::int16_t* dst, std::int32_t n);
PrimitiveStatus CopyVector16s(const std::int16_t* src, std::int16_t* dst, std::int32_t n);
// Destination value i = source value i shifted left, kept to 16 bits.
PrimitiveStatus ShiftLeftVector16s(const std::int16_t* src, std::int32_t shift, std::int16_t* dst, std::int32_t n);
// Arithmetic shift right (rounds toward minus infinity); 16 or more gives -1
// for negative values and 0 for the others; 0 changes nothing.
PrimitiveStatus ShiftRightVector16sInPlace(std::int32_t shift, std::int16_t* values, std::int32_t n);

// Bodies that other primitives call without dispatch (same contract).
PrimitiveStatus ZeroVector8u_x3(std::uint8_t* dst, std::int32_t n);
PrimitiveStatus CopyVector8u_x3(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n);
PrimitiveStatus ZeroVector16s_x3(std::int16_t* dst, std::int32_t n);

// n 32-bit values (float or integer row buffers); no dispatch entry.
// Null pointers -8, n < 1 -6, else 0.
PrimitiveStatus CopyVector32_x3(const void* src, void* dst, std::int32_t n);
// The same operation for the alternate resize filter set.
PrimitiveStatus CopyVector32_alt(const void* src, void* dst, std::int32_t n);

// Byte kernels; the callers guarantee the preconditions.
void ZeroBytes_x3(void* dst, std::int32_t n);                       // n >= 1
void CopyBytes_x3(const void* src, void* dst, std::int32_t n);      // n >= 0, no overlap
void MoveBytes_x3(const void* src, void* dst, std::uint32_t n);     // any overlap
