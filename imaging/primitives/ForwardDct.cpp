#include "imaging/primitives/ForwardDct.h"

#include <cmath>
#include <cstddef>

#include "imaging/primitives/detail/ForwardDctKernels.h"
#include "imaging/primitives/detail/UniformTable.h"

// The 8-bit transform is an exact integer procedure, not an approximation of
// the DCT formula to be met loosely: encoded files depend on every
// coefficient. It works in signed 16-bit lanes with saturating sums, the high
// halves of 16 x 16-bit products and multiply-add of 16-bit pairs into 32-bit
// sums, the operations a 128-bit vector unit offers.

namespace primitives_detail {
namespace {

using Status = PrimitiveStatus;
namespace Code = PrimitiveStatusCode;

inline std::int16_t Sat(std::int32_t v)
{
    return static_cast<std::int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}
inline std::int16_t Add(std::int16_t a, std::int16_t b) { return Sat(a + b); }
inline std::int16_t Sub(std::int16_t a, std::int16_t b) { return Sat(a - b); }
inline std::int16_t Shl(std::int16_t a, int n)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(a) << n));
}
inline std::int16_t MulHigh(std::int16_t a, std::int32_t k)
{
    return static_cast<std::int16_t>((a * k) >> 16);
}
inline std::int16_t OrOne(std::int16_t a) { return static_cast<std::int16_t>(a | 1); }

// P / 32768 rounded to nearest, ties to even, saturated. c is a 16-bit value
// and t at most 65535, so |P| and |P| + 32767 fit 32 unsigned bits; adding
// 16383 plus the lowest bit of the quotient rounds ties to even.
inline std::int16_t Quantise(std::int32_t c, std::uint32_t t)
{
    const std::uint32_t magnitude = static_cast<std::uint32_t>(c < 0 ? -c : c) * t;
    const std::uint32_t q = (magnitude + 16383u + ((magnitude >> 15) & 1u)) >> 15;
    const std::int32_t limited = q > 32767u ? (c < 0 && q >= 32768u ? 32768 : 32767) : static_cast<std::int32_t>(q);
    return static_cast<std::int16_t>(c < 0 ? -limited : limited);
}

}  // namespace

void ForwardDct8uPortable(const std::uint8_t* source, std::int32_t step, std::int16_t* out,
                          const std::uint16_t* table)
{
    // The column pass, written as loops over the eight columns so that the
    // compiler may run them eight lanes at a time.
    std::int16_t block[64];
    std::int16_t x[8][8];
    for (int y = 0; y < 8; ++y)
        for (int c = 0; c < 8; ++c)
            x[y][c] = static_cast<std::int16_t>(source[static_cast<std::ptrdiff_t>(y) * step + c] - 128);
    for (int c = 0; c < 8; ++c) {
        const std::int16_t t1 = Shl(Add(x[1][c], x[6][c]), 3);
        const std::int16_t t2 = Shl(Add(x[2][c], x[5][c]), 3);
        const std::int16_t sa = Add(x[0][c], x[7][c]);
        const std::int16_t sb = Add(x[3][c], x[4][c]);
        const std::int16_t a = Shl(Sub(sa, sb), 3);
        const std::int16_t b = Shl(Add(sa, sb), 3);
        const std::int16_t p = Sub(t1, t2);
        const std::int16_t q = Add(t1, t2);
        block[0 * 8 + c] = Add(b, q);
        block[4 * 8 + c] = Sub(b, q);
        block[2 * 8 + c] = OrOne(Add(MulHigh(p, 27146), a));
        block[6 * 8 + c] = OrOne(Sub(MulHigh(a, 27146), p));
    }
    for (int c = 0; c < 8; ++c) {
        const std::int16_t e = Shl(Sub(x[1][c], x[6][c]), 4);
        const std::int16_t f = Shl(Sub(x[2][c], x[5][c]), 4);
        const std::int16_t g = OrOne(MulHigh(Add(e, f), 23170));
        const std::int16_t h = MulHigh(Sub(e, f), 23170);
        const std::int16_t m = Shl(Sub(x[3][c], x[4][c]), 3);
        const std::int16_t j1 = Add(m, h);
        const std::int16_t j2 = Sub(m, h);
        const std::int16_t o = Shl(Sub(x[0][c], x[7][c]), 3);
        const std::int16_t o1 = Add(o, g);
        const std::int16_t o2 = Sub(o, g);
        block[1 * 8 + c] = OrOne(Add(MulHigh(j1, 13036), o1));
        block[7 * 8 + c] = Sub(MulHigh(o1, 13036), j1);
        block[3 * 8 + c] = Sub(o2, Add(MulHigh(j2, -21746), j2));
        block[5 * 8 + c] = Add(Add(MulHigh(o2, -21746), o2), j2);
    }
    // The row pass, as loops over the eight rows (each row's weights from
    // its group), the same integer sums in the same order.
    constexpr std::int32_t R = 524288;
    struct Weights {
        std::int32_t w4[8], w1[8], w2[8], w3[8], w5[8], w6[8], w7[8];
    };
    static constexpr Weights kWeights = [] {
        Weights w{};
        for (int r = 0; r < 8; ++r) {
            const RowWeights& g = kRowWeightGroups[kRowWeightGroup[r]];
            w.w4[r] = g.w4;
            w.w1[r] = g.w1;
            w.w2[r] = g.w2;
            w.w3[r] = g.w3;
            w.w5[r] = g.w5;
            w.w6[r] = g.w6;
            w.w7[r] = g.w7;
        }
        return w;
    }();
    std::int32_t C[8][8];  // C[k][r]
    for (int r = 0; r < 8; ++r) {
        const std::int16_t* z = block + 8 * r;
        const std::int32_t s0 = Add(z[0], z[7]), s1 = Add(z[1], z[6]), s2 = Add(z[2], z[5]), s3 = Add(z[3], z[4]);
        const std::int32_t d0 = Sub(z[0], z[7]), d1 = Sub(z[1], z[6]), d2 = Sub(z[2], z[5]), d3 = Sub(z[3], z[4]);
        const std::int32_t w4 = kWeights.w4[r], w1 = kWeights.w1[r], w2 = kWeights.w2[r], w3 = kWeights.w3[r];
        const std::int32_t w5 = kWeights.w5[r], w6 = kWeights.w6[r], w7 = kWeights.w7[r];
        C[0][r] = R + (w4 * s0 + w4 * s1) + (w4 * s2 + w4 * s3);
        C[1][r] = R + (w1 * d0 + w3 * d1) + (w5 * d2 + w7 * d3);
        C[2][r] = R + (-w6 * s2 - w2 * s3) + (w2 * s0 + w6 * s1);
        C[3][r] = R + (-w1 * d2 - w5 * d3) + (w3 * d0 - w7 * d1);
        C[4][r] = R + (w4 * s0 - w4 * s1) + (-w4 * s2 + w4 * s3);
        C[5][r] = R + (w5 * d0 - w1 * d1) + (w7 * d2 + w3 * d3);
        C[6][r] = R + (w2 * s2 - w6 * s3) + (w6 * s0 - w2 * s1);
        C[7][r] = R + (w3 * d2 - w1 * d3) + (w7 * d0 - w5 * d1);
    }
    for (int r = 0; r < 8; ++r)
        for (int k = 0; k < 8; ++k)
            out[8 * r + k] = Quantise(Sat(C[k][r] >> 20), table[8 * r + k]);
}

namespace {

Status Dct8u(const std::uint8_t* source, std::int32_t step, std::int16_t* out, const std::uint16_t* table)
{
    if (source == nullptr || out == nullptr)
        return Code::NullPointer;
    if (step <= 0)
        return Code::BadStep;
    if (table == nullptr)
        return Code::NullPointer;
    ForwardDct8uPortable(source, step, out, table);
    return Code::Ok;
}

#if defined(__x86_64__)
Status Dct8uSse2(const std::uint8_t* source, std::int32_t step, std::int16_t* out, const std::uint16_t* table)
{
    if (source == nullptr || out == nullptr)
        return Code::NullPointer;
    if (step <= 0)
        return Code::BadStep;
    if (table == nullptr)
        return Code::NullPointer;
    ForwardDct8uSse2(source, step, out, table);
    return Code::Ok;
}
Status Dct8uAvx2(const std::uint8_t* source, std::int32_t step, std::int16_t* out, const std::uint16_t* table)
{
    if (source == nullptr || out == nullptr)
        return Code::NullPointer;
    if (step <= 0)
        return Code::BadStep;
    if (table == nullptr)
        return Code::NullPointer;
    ForwardDct8uAvx2(source, step, out, table);
    return Code::Ok;
}
#else
constexpr auto Dct8uSse2 = Dct8u;
constexpr auto Dct8uAvx2 = Dct8u;
#endif

// Post-scale p(u) x p(v), computed in double and rounded to float.
struct PostScale {
    float factor[64];
    PostScale()
    {
        const double p[8] = {0.3535533906, 0.2354948506, 0.2705980501, 0.2777851165,
                             0.3535533906, 0.4157348062, 0.6532814824, 1.1839125629};
        for (int v = 0; v < 8; ++v)
            for (int u = 0; u < 8; ++u)
                factor[8 * v + u] = static_cast<float>(p[u] * p[v]);
    }
};
const PostScale kPostScale;

inline void Transform1d(float* c, std::ptrdiff_t stride)
{
    const float c0 = c[0], c1 = c[stride], c2 = c[2 * stride], c3 = c[3 * stride];
    const float c4 = c[4 * stride], c5 = c[5 * stride], c6 = c[6 * stride], c7 = c[7 * stride];
    const float s07 = c0 + c7, d07 = c0 - c7, s16 = c1 + c6, d16 = c1 - c6;
    const float s25 = c2 + c5, d25 = c2 - c5, s34 = c3 + c4, d34 = c3 - c4;
    const float e0 = s16 + s25, e1 = s16 - s25, f0 = s07 + s34, f1 = s07 - s34;
    const float z = (e1 + f1) * 0.70710677f;
    const float t10 = d34 + d25, t11 = d25 + d16, t12 = d16 + d07;
    const float A = 0.41421357f * t10 + t12;
    const float B = t10 - 0.41421357f * t12;
    const float C = 0.76536685f * t11;
    const float D = 1.0823922f * d07;
    const float E = C + D;
    const float F = D - C;
    c[0] = e0 + f0;
    c[4 * stride] = f0 - e0;
    c[2 * stride] = f1 + z;
    c[6 * stride] = f1 - z;
    c[stride] = A + E;
    c[7 * stride] = E - A;
    c[3 * stride] = F - B;
    c[5 * stride] = B + F;
}

Status Dct16u(const std::uint16_t* source, std::int32_t step, std::int16_t* out, const float* table)
{
    if (source == nullptr || out == nullptr)
        return Code::NullPointer;
    if (step <= 0)
        return Code::BadStep;
    if (table == nullptr)
        return Code::NullPointer;
    float block[64];
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(source);
    for (int y = 0; y < 8; ++y) {
        const auto* row = reinterpret_cast<const std::uint16_t*>(bytes + static_cast<std::ptrdiff_t>(y) * step);
        for (int x = 0; x < 8; ++x)
            block[8 * y + x] = static_cast<float>(static_cast<std::int16_t>(row[x])) - 2048.0f;
    }
    for (int y = 0; y < 8; ++y)
        Transform1d(block + 8 * y, 1);
    for (int x = 0; x < 8; ++x)
        Transform1d(block + x, 8);
    for (int i = 0; i < 64; ++i) {
        const float v = block[i] * kPostScale.factor[i] * table[i];
        // nearbyint rounds ties to even in the default rounding mode.
        const float r = std::nearbyint(v);
        out[i] = static_cast<std::int16_t>(r <= -32768.0f ? -32768 : r >= 32767.0f ? 32767 : static_cast<int>(r));
    }
    return Code::Ok;
}

using Dct8Function = Status(const std::uint8_t*, std::int32_t, std::int16_t*, const std::uint16_t*);
using Dct16Function = Status(const std::uint16_t*, std::int32_t, std::int16_t*, const float*);

constexpr CpuDispatchTable<Dct8Function> kDct8 = {&Dct8u, &Dct8u, &Dct8uSse2, &Dct8uSse2, &Dct8uSse2, &Dct8uAvx2};
constexpr auto kDct16 = UniformTable<Dct16Function>(&Dct16u);

}  // namespace
}  // namespace primitives_detail

PrimitiveStatus ForwardDctQuant8x8From8u(const std::uint8_t* source, std::int32_t sourceStep,
                                         std::int16_t* destination, const std::uint16_t* table)
{
    return DispatchCall(primitives_detail::kDct8, source, sourceStep, destination, table);
}

PrimitiveStatus ForwardDctQuant8x8From16u(const std::uint16_t* source, std::int32_t sourceStep,
                                          std::int16_t* destination, const float* table)
{
    return DispatchCall(primitives_detail::kDct16, source, sourceStep, destination, table);
}
