#pragma once
// Block kernels of the 8-bit inverse DCT; every kernel gives the bytes of the
// portable one. The caller has checked the arguments.

#include <cstdint>

namespace primitives_detail {

#if defined(__x86_64__)
// 8 x 8 samples from 64 dequantised coefficients in natural order.
void InverseDct8uSse2(const std::int16_t* dequantised, std::uint8_t* destination, std::int32_t step);
// The same from coefficients and quantisers (each product's low 16 bits).
void InverseDctDequant8uSse2(const std::int16_t* coefficients, const std::uint16_t* table, std::uint8_t* destination,
                             std::int32_t step);
// Two blocks of 64 coefficients one after the other, both dequantised by
// `table`, to 16 x 8 samples (the first block on the left).
void InverseDctDequant8uPairAvx2(const std::int16_t* coefficients, const std::uint16_t* table,
                                 std::uint8_t* destination, std::int32_t step);
#endif

}  // namespace primitives_detail
