#pragma once
// Row-pair kernels of the YUV 4:2:0 conversion. A kernel converts luma rows y0
// and y1 with chroma rows u and v into destination rows d0 and d1 for chroma
// pairs 0 .. n-1, writing R, G, B, 0 or (bgr) B, G, R, 0. All kernels give the
// same bytes as the portable one.

#include <cstdint>

namespace primitives_detail {

using Yuv420RowPairKernel = void (*)(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                                     const std::uint8_t* v, std::uint8_t* d0, std::uint8_t* d1, std::int32_t n,
                                     bool bgr);

// Coefficients in units of 1/8192 for the main form (applied to 128 x the
// centred sample as the high half of a 16 x 16-bit product, giving 1/16
// level)...
inline constexpr int kY = 9539;   // 255 / 219
inline constexpr int kRv = 13075;  // 1.402 x 255 / 224
inline constexpr int kGu = 3209;   // 0.344136 x 255 / 224
inline constexpr int kGv = 6660;   // 0.714136 x 255 / 224
inline constexpr int kBu = 16525;  // 1.772 x 255 / 224
// ...and in 16.16 fixed point for the last pair of an odd pair count.
inline constexpr int kYFixed = 76309;
inline constexpr int kRvFixed = 104597;
inline constexpr int kGuFixed = 25675;
inline constexpr int kGvFixed = 53279;
inline constexpr int kBuFixed = 132201;
// Black level of video luma.
inline constexpr int kLumaOffset = 16;

inline std::uint8_t ClampToByte(int value)
{
    return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// High 16 bits of the signed product (128 x c) x k: floor(c x k / 512).
inline int ScaledTerm(int centred, int k)
{
    return (centred * 128 * k) >> 16;
}

// Pairs [from, to) in the main 1/16-level form.
inline void ConvertPairsSixteenths(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                                   const std::uint8_t* v, std::uint8_t* d0, std::uint8_t* d1, std::int32_t from,
                                   std::int32_t to, bool bgr)
{
    for (std::int32_t j = from; j < to; ++j) {
        const int cu = u[j] - 128;
        const int cv = v[j] - 128;
        const int r = ScaledTerm(cv, kRv) + 8;
        const int g = 8 - (ScaledTerm(cu, kGu) + ScaledTerm(cv, kGv));
        const int b = ScaledTerm(cu, kBu) + 8;
        const std::uint8_t* rows[2] = {y0, y1};
        std::uint8_t* outs[2] = {d0, d1};
        for (int row = 0; row < 2; ++row) {
            for (int k = 0; k < 2; ++k) {
                const int luma = ScaledTerm(rows[row][2 * j + k] - kLumaOffset, kY);
                std::uint8_t* px = outs[row] + 8 * j + 4 * k;
                px[bgr ? 2 : 0] = ClampToByte((luma + r) >> 4);
                px[1] = ClampToByte((luma + g) >> 4);
                px[bgr ? 0 : 2] = ClampToByte((luma + b) >> 4);
                px[3] = 0;
            }
        }
    }
}

// Pair j in the 16.16 fixed-point form.
inline void ConvertPairFixed(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                             const std::uint8_t* v, std::uint8_t* d0, std::uint8_t* d1, std::int32_t j, bool bgr)
{
    const int cu = u[j] - 128;
    const int cv = v[j] - 128;
    const int r = kRvFixed * cv + 32768;
    const int g = 32768 - kGuFixed * cu - kGvFixed * cv;
    const int b = kBuFixed * cu + 32768;
    const std::uint8_t* rows[2] = {y0, y1};
    std::uint8_t* outs[2] = {d0, d1};
    for (int row = 0; row < 2; ++row) {
        for (int k = 0; k < 2; ++k) {
            const int luma = kYFixed * (rows[row][2 * j + k] - kLumaOffset);
            std::uint8_t* px = outs[row] + 8 * j + 4 * k;
            px[bgr ? 2 : 0] = ClampToByte((luma + r) >> 16);
            px[1] = ClampToByte((luma + g) >> 16);
            px[bgr ? 0 : 2] = ClampToByte((luma + b) >> 16);
            px[3] = 0;
        }
    }
}

// Finishes a row pair from pair `from` on: the main form up to the last pair,
// which takes the fixed-point form when n is odd.
inline void ConvertPairsTail(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                             const std::uint8_t* v, std::uint8_t* d0, std::uint8_t* d1, std::int32_t from,
                             std::int32_t n, bool bgr)
{
    const std::int32_t mainEnd = (n & 1) != 0 ? n - 1 : n;
    ConvertPairsSixteenths(y0, y1, u, v, d0, d1, from, mainEnd, bgr);
    if ((n & 1) != 0)
        ConvertPairFixed(y0, y1, u, v, d0, d1, n - 1, bgr);
}

#if defined(__x86_64__) || defined(__i386__)
// Vector kernels: 16-bit lanes, 8 (SSE2) or 16 (AVX2) chroma pairs a step.
void Yuv420RowPairSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                       const std::uint8_t* v, std::uint8_t* d0, std::uint8_t* d1, std::int32_t n, bool bgr);
void Yuv420RowPairAvx2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                       const std::uint8_t* v, std::uint8_t* d0, std::uint8_t* d1, std::int32_t n, bool bgr);
#endif

}  // namespace primitives_detail
