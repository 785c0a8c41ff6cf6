#pragma once
// Vector kernels of the 8-bit linear filters (SSE2 in every vector slot, AVX2
// in the AVX2 slot). Each gives the bits of its portable twin in
// LinearKernels.h.

#include <cstdint>

#include "imaging/primitives/resize/detail/LinearFilter.h"

#if defined(__x86_64__) || defined(__i386__)
#define GAVEX_RESIZE_HAS_SIMD 1

namespace resize_detail {

void LinearRowKernel_8u_C1_Sse2(const std::uint8_t* src, std::int32_t n, std::int32_t stride,
                                const std::int32_t* columns, const std::int16_t* weights, std::int16_t* out);
void LinearRowKernel_8u_C4_Sse2(const std::uint8_t* src, std::int32_t n, std::int32_t stride,
                                const std::int32_t* columns, const std::int16_t* weights, std::int16_t* out);
void LinearColumnKernel_8u_Sse2(std::uint8_t* dst, std::int32_t count, std::int32_t w, const std::int16_t* upper,
                                const std::int16_t* lower);

struct Linear8uSse2Kernels : PortableLinearKernels<RowQ14Byte, ColumnQ14Byte> {
    static constexpr auto* Row1 = &LinearRowKernel_8u_C1_Sse2;
    static constexpr auto* Row4 = &LinearRowKernel_8u_C4_Sse2;
    static constexpr auto* Column = &LinearColumnKernel_8u_Sse2;
};

// AVX2 (slot 5): one- and four-channel rows and column blends.
void LinearRowKernel_8u_C4_Avx2(const std::uint8_t* src, std::int32_t n, std::int32_t stride,
                                const std::int32_t* columns, const std::int16_t* weights, std::int16_t* out);
void LinearColumnKernel_8u_Avx2(std::uint8_t* dst, std::int32_t count, std::int32_t w, const std::int16_t* upper,
                                const std::int16_t* lower);

// Two source rows over the same columns and weights into two buffers: the
// bits of two LinearRowKernel_8u_C4_Avx2 calls.
void LinearRowPairKernel_8u_C4_Avx2(const std::uint8_t* first, const std::uint8_t* second, std::int32_t n,
                                    std::int32_t stride, const std::int32_t* columns, const std::int16_t* weights,
                                    std::int16_t* firstOut, std::int16_t* secondOut);

void LinearRowKernel_8u_C1_Avx2(const std::uint8_t* src, std::int32_t n, std::int32_t stride,
                                const std::int32_t* columns, const std::int16_t* weights, std::int16_t* out);

struct Linear8uAvx2Kernels : Linear8uSse2Kernels {
    static constexpr auto* Row1 = &LinearRowKernel_8u_C1_Avx2;
    static constexpr auto* Row4 = &LinearRowKernel_8u_C4_Avx2;
    static constexpr auto* Row4Pair = &LinearRowPairKernel_8u_C4_Avx2;
    static constexpr auto* Column = &LinearColumnKernel_8u_Avx2;
};

}  // namespace resize_detail

#else
#define GAVEX_RESIZE_HAS_SIMD 0
#endif
