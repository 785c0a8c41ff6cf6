#pragma once
// Block kernels of the 8-bit forward DCT; every kernel gives the bytes of the
// portable one. The caller has checked the arguments.

#include <cstdint>

namespace primitives_detail {

void ForwardDct8uPortable(const std::uint8_t* source, std::int32_t step, std::int16_t* out,
                          const std::uint16_t* table);
#if defined(__x86_64__)
void ForwardDct8uSse2(const std::uint8_t* source, std::int32_t step, std::int16_t* out, const std::uint16_t* table);
void ForwardDct8uAvx2(const std::uint8_t* source, std::int32_t step, std::int16_t* out, const std::uint16_t* table);
#endif

}  // namespace primitives_detail
