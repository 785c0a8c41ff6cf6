#pragma once
// Vector bodies of the 8-bit cubic and Lanczos filters (SSE2, every vector
// slot): the one- and four-channel cubic row kernels and six-tap row
// routines, and the contiguous column kernels. Each gives the bits of its portable twin: the same single-
// precision operations in the same order, lane by lane.

#include <cstdint>

#include "imaging/primitives/resize/detail/CubicLanczosFilters.h"
#include "imaging/primitives/resize/detail/LinearKernelsSimd.h"

#if GAVEX_RESIZE_HAS_SIMD

namespace resize_detail {

void CubicRowKernel_8u_C1_Sse2(const std::uint8_t* src, std::int32_t n, std::int32_t stride,
                               const std::int32_t* columns, const float* weights, float* out);
void CubicRowKernel_8u_C4_Sse2(const std::uint8_t* src, std::int32_t n, std::int32_t stride,
                               const std::int32_t* columns, const float* weights, float* out);
void CubicColumnKernel_8u_Sse2(std::uint8_t* dst, std::int32_t count, const float* t, const float* b0,
                               const float* b1, const float* b2, const float* b3);
void SixTapRow_8u_C1_Sse2(const std::uint8_t* src, std::int32_t stride, const std::int32_t* columns,
                          const float* weights, float* out, std::int32_t n);
void SixTapRow_8u_C4_Sse2(const std::uint8_t* src, std::int32_t stride, const std::int32_t* columns,
                          const float* weights, float* out, std::int32_t n);
void SixTapColumn_8u_Sse2(std::uint8_t* dst, std::int32_t count, const float* w, const float* b0, const float* b1,
                          const float* b2, const float* b3, const float* b4, const float* b5);

struct Cubic8uSse2Kernels : PortableCubicKernels<std::uint8_t, CubicTo8u> {
    static constexpr auto* Row1 = &CubicRowKernel_8u_C1_Sse2;
    static constexpr auto* Row4 = &CubicRowKernel_8u_C4_Sse2;
    static constexpr auto* Column = &CubicColumnKernel_8u_Sse2;
};

// AVX2 (slot 5): one-channel cubic rows and cubic column blends.
void CubicRowKernel_8u_C1_Avx2(const std::uint8_t* src, std::int32_t n, std::int32_t stride,
                               const std::int32_t* columns, const float* weights, float* out);

// Two source rows over the same columns into two buffers: the bits of two
// CubicRowKernel_8u_C1_Avx2 calls.
void CubicRowPairKernel_8u_C1_Avx2(const std::uint8_t* first, const std::uint8_t* second, std::int32_t n,
                                   std::int32_t stride, const std::int32_t* columns, const float* weights,
                                   float* firstOut, float* secondOut);

void CubicColumnKernel_8u_Avx2(std::uint8_t* dst, std::int32_t count, const float* t, const float* b0,
                               const float* b1, const float* b2, const float* b3);

struct Cubic8uAvx2Kernels : Cubic8uSse2Kernels {
    static constexpr auto* Row1 = &CubicRowKernel_8u_C1_Avx2;
    static constexpr auto* Row1Pair = &CubicRowPairKernel_8u_C1_Avx2;
    static constexpr auto* Column = &CubicColumnKernel_8u_Avx2;
};

struct Lanczos8uSse2Kernels : PortableLanczosKernels<std::uint8_t, SixTapTo8u> {
    static constexpr auto* Row1 = &LanczosRowKernel<std::uint8_t, 1, &SixTapRow_8u_C1_Sse2>;
    static constexpr auto* Row4 = &LanczosRowKernel<std::uint8_t, 4, &SixTapRow_8u_C4_Sse2>;
    static constexpr auto* Column = &SixTapColumn_8u_Sse2;
};

// AVX2 (slot 5): one-channel six-tap rows and six-tap column blends.
void SixTapRow_8u_C1_Avx2(const std::uint8_t* src, std::int32_t stride, const std::int32_t* columns,
                          const float* weights, float* out, std::int32_t n);
void SixTapColumn_8u_Avx2(std::uint8_t* dst, std::int32_t count, const float* w, const float* b0, const float* b1,
                          const float* b2, const float* b3, const float* b4, const float* b5);

struct Lanczos8uAvx2Kernels : Lanczos8uSse2Kernels {
    static constexpr auto* Row1 = &LanczosRowKernel<std::uint8_t, 1, &SixTapRow_8u_C1_Avx2>;
    static constexpr auto* Column = &SixTapColumn_8u_Avx2;
};

}  // namespace resize_detail

#endif
