#pragma once
// Block kernels of the 8-bit forward DCT; every kernel gives the bytes of the
// portable one. The caller has checked the arguments.

#include <cstdint>

namespace primitives_detail {

// Row-pass weights, one group per row index (rows 0 and 4, 1 and 7, 2 and 6,
// 3 and 5): 2^14 x K x sqrt(2) cos(k pi / 16), rounded, with K 1, sqrt(2)
// cos(pi / 16), sqrt(2) cos(2 pi / 16), sqrt(2) cos(3 pi / 16).
struct RowWeights {
    std::int32_t w4, w1, w2, w3, w5, w6, w7;
};
inline constexpr RowWeights kRowWeightGroups[4] = {
    {16384, 22725, 21407, 19266, 12873, 8867, 4520},
    {22725, 31521, 29692, 26722, 17855, 12299, 6270},
    {21407, 29692, 27969, 25172, 16819, 11585, 5906},
    {19266, 26722, 25172, 22654, 15137, 10426, 5315},
};
inline constexpr int kRowWeightGroup[8] = {0, 1, 2, 3, 0, 3, 2, 1};

void ForwardDct8uPortable(const std::uint8_t* source, std::int32_t step, std::int16_t* out,
                          const std::uint16_t* table);
#if defined(__x86_64__)
void ForwardDct8uSse2(const std::uint8_t* source, std::int32_t step, std::int16_t* out, const std::uint16_t* table);
void ForwardDct8uAvx2(const std::uint8_t* source, std::int32_t step, std::int16_t* out, const std::uint16_t* table);
#endif

}  // namespace primitives_detail
