#pragma once
// Quantisation tables and the zig-zag order of ITU-T T.81 (Figure A.6).
//
// A raw table holds 64 8-bit quantisers in zig-zag order (as in a DQT
// segment); the transforms read natural (row-major) order. The forward table
// holds reciprocals 32768 / q rounded to nearest (32768 for q = 1), the
// inverse table the quantisers themselves.

#include <cstdint>

#include "imaging/primitives/PrimitiveTypes.h"

// For each natural index k, the zig-zag position of that coefficient.
extern const std::int32_t NaturalToZigzag[64];

// In place: factor 5000 / quality below 50, else 200 - 2 x quality; each
// entry becomes (factor x entry + 50) / 100 truncated, clamped to 1..255.
// Table null -8; quality <= 0 -5 (table unchanged).
PrimitiveStatus ScaleQuantTableByQuality8u(std::uint8_t table[64], std::int32_t quality);

// Raw or forward null -8. A quantiser of 0 gives 65535 at its place and the
// warning 6 (DivisorZero); the rest of the table is still built.
PrimitiveStatus InitForwardQuantTable8u(const std::uint8_t raw[64], std::uint16_t forward[64]);

// Raw or inverse null -8.
PrimitiveStatus InitInverseQuantTable8u(const std::uint8_t raw[64], std::uint16_t inverse[64]);

// destination[k] = source[NaturalToZigzag[k]]; the buffers must differ.
// Source or destination null -8.
PrimitiveStatus ZigzagToNatural8x8_16s(const std::int16_t source[64], std::int16_t destination[64]);

// In place, each value x becomes constant / x rounded to nearest (ties to
// even), saturated to 32767, except that x = 1 gives the constant and x = 0
// gives 65535 with the warning 6. A constant of 0 zeroes every value (still
// 6 when a value was 0). Values null -8; length <= 0 -6.
PrimitiveStatus DivideConstantByVector16uInPlace(std::uint16_t constant, std::uint16_t* values, std::int32_t length);
