#pragma once
// Block kernels of the 8-bit inverse DCT; every kernel gives the bytes of the
// portable one. The caller has checked the arguments.

#include <cstdint>

namespace primitives_detail {

#if defined(__x86_64__)
// 8 x 8 samples from 64 dequantised coefficients in natural order.
void InverseDct8uSse2(const std::int16_t* dequantised, std::uint8_t* destination, std::int32_t step);
// The low 16 bits of each coefficient x quantiser.
void DequantiseSse2(const std::int16_t* coefficients, const std::uint16_t* table, std::int16_t* dequantised);
#endif

}  // namespace primitives_detail
