#include "imaging/primitives/InverseDct.h"

#include <cstddef>
#include <cstring>

#include "imaging/primitives/CpuDispatch.h"
#include "imaging/primitives/detail/ForwardDctKernels.h"
#include "imaging/primitives/detail/InverseDctKernels.h"

// The 8-bit transforms work in the operations of a 128-bit vector unit:
// 16-bit lanes with saturating sums, the high halves of 16 x 16-bit products
// and multiply-add of 16-bit pairs into wrapping 32-bit sums. Decoded images
// depend on every rounding, so the portable code follows them exactly.

namespace {

using Status = PrimitiveStatus;
namespace Code = PrimitiveStatusCode;
using primitives_detail::kRowWeightGroup;
using primitives_detail::kRowWeightGroups;
using primitives_detail::RowWeights;

inline std::int16_t Sat(std::int32_t v)
{
    return static_cast<std::int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}
inline std::int16_t Add(std::int16_t a, std::int16_t b) { return Sat(a + b); }
inline std::int16_t Sub(std::int16_t a, std::int16_t b) { return Sat(a - b); }
inline std::int16_t MulHigh(std::int16_t a, std::int32_t k) { return static_cast<std::int16_t>((a * k) >> 16); }
// A sum of 16 x 16-bit products in a 32-bit lane, wrapping like the vector
// unit's multiply-add.
inline std::int32_t Wrap(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }
inline std::uint8_t Clamp8(std::int16_t s)
{
    const std::int32_t v = s + 128;
    return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

inline void Dequantise(const std::int16_t* c, const std::uint16_t* table, std::int16_t* d)
{
    for (int i = 0; i < 64; ++i)
        d[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(c[i] * table[i]));
}

bool BadArguments(const void* coefficients, const void* destination, std::int32_t step, const void* table,
                  Status* status)
{
    if (coefficients == nullptr || destination == nullptr)
        *status = Code::NullPointer;
    else if (step <= 0)
        *status = Code::BadStep;
    else if (table == nullptr)
        *status = Code::NullPointer;
    else
        return false;
    return true;
}

constexpr std::int32_t kFullRounder[8] = {65536, 2901, 2260, 1704, 1024, 455, 512, 373};

// The odd part of the column pass shared by the three 8-bit transforms.
struct OddColumn {
    std::int16_t t4, t5, t6, t7;
};
// Sums that cannot leave 16 bits: the saturating ones give the same values.
inline std::int16_t AddExact(std::int16_t a, std::int16_t b) { return static_cast<std::int16_t>(a + b); }
inline std::int16_t SubExact(std::int16_t a, std::int16_t b) { return static_cast<std::int16_t>(a - b); }

template <bool Saturating>
inline OddColumn OddPartOf(std::int16_t r1, std::int16_t r3, std::int16_t r5, std::int16_t r7)
{
    const auto add = [](std::int16_t a, std::int16_t b) { return Saturating ? Add(a, b) : AddExact(a, b); };
    const auto sub = [](std::int16_t a, std::int16_t b) { return Saturating ? Sub(a, b) : SubExact(a, b); };
    const std::int16_t tp765 = add(r1, MulHigh(r7, 13036));
    const std::int16_t tp465 = sub(MulHigh(r1, 13036), r7);
    const std::int16_t tm765 = add(add(MulHigh(r5, -21746), r5), r3);
    const std::int16_t tm465 = sub(r5, add(MulHigh(r3, -21746), r3));
    OddColumn o;
    o.t7 = add(tp765, tm765);
    const std::int16_t tp65 = sub(tp765, tm765);
    const std::int16_t tm65 = sub(tp465, tm465);
    o.t4 = add(tp465, tm465);
    const std::int16_t u = add(tp65, tm65);
    o.t6 = add(u, MulHigh(u, -19195));
    const std::int16_t v = sub(tp65, tm65);
    o.t5 = add(MulHigh(v, -19195), v);
    return o;
}
inline OddColumn OddPart(std::int16_t r1, std::int16_t r3, std::int16_t r5, std::int16_t r7)
{
    return OddPartOf<true>(r1, r3, r5, r7);
}

// The column pass over the eight columns (column c of row y is zt[c][y]) and
// the level shift and clamp of the samples.
template <bool Saturating>
inline void ColumnPass(const std::int16_t (*zt)[8], std::uint8_t* destination, std::int32_t step)
{
    const auto add = [](std::int16_t a, std::int16_t b) { return Saturating ? Add(a, b) : AddExact(a, b); };
    const auto sub = [](std::int16_t a, std::int16_t b) { return Saturating ? Sub(a, b) : SubExact(a, b); };
    std::int16_t s[8][8];
    for (int c = 0; c < 8; ++c) {
        const std::int16_t* R = zt[c];
        const OddColumn o = OddPartOf<Saturating>(R[1], R[3], R[5], R[7]);
        const std::int16_t tp26 = add(R[2], MulHigh(R[6], 27146));
        const std::int16_t tm26 = sub(MulHigh(R[2], 27146), R[6]);
        const std::int16_t tp04 = add(R[0], R[4]);
        const std::int16_t tm04 = sub(R[0], R[4]);
        const std::int16_t t0 = add(tp04, tp26), t3 = sub(tp04, tp26);
        const std::int16_t t1 = add(tm04, tm26), t2 = sub(tm04, tm26);
        s[0][c] = add(t0, o.t7);
        s[1][c] = add(t1, o.t6);
        s[2][c] = add(t2, o.t5);
        s[3][c] = add(t3, o.t4);
        s[4][c] = sub(t3, o.t4);
        s[5][c] = sub(t2, o.t5);
        s[6][c] = sub(t1, o.t6);
        s[7][c] = sub(t0, o.t7);
    }
    for (int y = 0; y < 8; ++y) {
        std::uint8_t* line = destination + static_cast<std::ptrdiff_t>(y) * step;
        for (int c = 0; c < 8; ++c)
            line[c] = Clamp8(static_cast<std::int16_t>(s[y][c] >> 6));
    }
}

constexpr bool WeightsFitSixteenBits()
{
    for (const RowWeights& g : kRowWeightGroups)
        for (const std::int32_t w : {g.w4, g.w1, g.w2, g.w3, g.w5, g.w6, g.w7})
            if (w < -32768 || w > 32767)
                return false;
    return true;
}
static_assert(WeightsFitSixteenBits(), "the row pass multiplies 16-bit weights");

void Full8(const std::int16_t* d, std::uint8_t* destination, std::int32_t step)
{
    // The row pass as a loop over the eight rows (each row's weights from its
    // group), in 32-bit sums of products that wrap as the vector unit's
    // multiply-add does (unsigned arithmetic: the low 32 bits of the exact
    // sums). A row without coefficients gives its rounder alone, as these
    // sums do. zt[k][r]: output k of row r.
    // The weights fit 16 bits: each product is a widening 16 x 16-bit
    // multiply, which the compiler's vector code does in two instructions.
    struct Weights {
        std::int16_t w1[8], w2[8], w3[8], w4[8], w5[8], w6[8], w7[8];
        std::uint32_t rnd[8];
    };
    static constexpr Weights kWeights = [] {
        Weights w{};
        for (int r = 0; r < 8; ++r) {
            const RowWeights& g = kRowWeightGroups[kRowWeightGroup[r]];
            w.w1[r] = static_cast<std::int16_t>(g.w1);
            w.w2[r] = static_cast<std::int16_t>(g.w2);
            w.w3[r] = static_cast<std::int16_t>(g.w3);
            w.w4[r] = static_cast<std::int16_t>(g.w4);
            w.w5[r] = static_cast<std::int16_t>(g.w5);
            w.w6[r] = static_cast<std::int16_t>(g.w6);
            w.w7[r] = static_cast<std::int16_t>(g.w7);
            w.rnd[r] = static_cast<std::uint32_t>(kFullRounder[r]);
        }
        return w;
    }();
    // The exact product, then wrapping sums.
    const auto m = [](std::int16_t w, std::int16_t x) {
        return static_cast<std::uint32_t>(std::int32_t{w} * std::int32_t{x});
    };
    // Only the DC coded (most chroma blocks): the rows above give row 0 one
    // value and every other row its rounder, and every column is the same.
    // Positions 8..63 in one loop of a whole number of vectors.
    std::int32_t ac = d[1] | d[2] | d[3] | d[4] | d[5] | d[6] | d[7];
    for (int i = 8; i < 64; ++i)
        ac |= d[i];
    if (ac == 0) {
        std::int16_t R[8];
        R[0] = Sat(static_cast<std::int32_t>(m(kWeights.w4[0], d[0]) + kWeights.rnd[0]) >> 11);
        for (int r = 1; r < 8; ++r)
            R[r] = Sat(static_cast<std::int32_t>(kWeights.rnd[r]) >> 11);
        const OddColumn o = OddPart(R[1], R[3], R[5], R[7]);
        const std::int16_t tp26 = Add(R[2], MulHigh(R[6], 27146));
        const std::int16_t tm26 = Sub(MulHigh(R[2], 27146), R[6]);
        const std::int16_t tp04 = Add(R[0], R[4]);
        const std::int16_t tm04 = Sub(R[0], R[4]);
        const std::int16_t t0 = Add(tp04, tp26), t3 = Sub(tp04, tp26);
        const std::int16_t t1 = Add(tm04, tm26), t2 = Sub(tm04, tm26);
        const std::int16_t column[8] = {Add(t0, o.t7), Add(t1, o.t6), Add(t2, o.t5), Add(t3, o.t4),
                                        Sub(t3, o.t4), Sub(t2, o.t5), Sub(t1, o.t6), Sub(t0, o.t7)};
        for (int y = 0; y < 8; ++y)
            std::memset(destination + static_cast<std::ptrdiff_t>(y) * step,
                        Clamp8(static_cast<std::int16_t>(column[y] >> 6)), 8);
        return;
    }
    // The row sums, shifted: zt[k][r], output k of row r, before its
    // saturation to 16 bits.
    std::int32_t rows[8][8];
    for (int r = 0; r < 8; ++r) {
        const std::int16_t x0 = d[8 * r], x1 = d[8 * r + 1], x2 = d[8 * r + 2], x3 = d[8 * r + 3];
        const std::int16_t x4 = d[8 * r + 4], x5 = d[8 * r + 5], x6 = d[8 * r + 6], x7 = d[8 * r + 7];
        const std::int16_t w1 = kWeights.w1[r], w2 = kWeights.w2[r], w3 = kWeights.w3[r], w4 = kWeights.w4[r];
        const std::int16_t w5 = kWeights.w5[r], w6 = kWeights.w6[r], w7 = kWeights.w7[r];
        const std::uint32_t rnd = kWeights.rnd[r];
        const std::uint32_t a0 = (m(w4, x4) + m(w6, x6)) + (m(w4, x0) + m(w2, x2) + rnd);
        const std::uint32_t a1 = (0u - m(w4, x4) - m(w2, x6)) + (m(w4, x0) + m(w6, x2) + rnd);
        const std::uint32_t a2 = (m(w4, x0) - m(w6, x2)) + (0u - m(w4, x4) + m(w2, x6) + rnd);
        const std::uint32_t a3 = (m(w4, x0) - m(w2, x2)) + (m(w4, x4) - m(w6, x6) + rnd);
        const std::uint32_t b0 = (m(w1, x1) + m(w3, x3)) + (m(w5, x5) + m(w7, x7));
        const std::uint32_t b1 = (m(w3, x1) - m(w7, x3)) + (0u - m(w1, x5) - m(w5, x7));
        const std::uint32_t b2 = (m(w7, x5) + m(w3, x7)) + (m(w5, x1) - m(w1, x3));
        const std::uint32_t b3 = (m(w3, x5) - m(w1, x7)) + (m(w7, x1) - m(w5, x3));
        rows[0][r] = static_cast<std::int32_t>(a0 + b0) >> 11;
        rows[7][r] = static_cast<std::int32_t>(a0 - b0) >> 11;
        rows[1][r] = static_cast<std::int32_t>(a1 + b1) >> 11;
        rows[6][r] = static_cast<std::int32_t>(a1 - b1) >> 11;
        rows[2][r] = static_cast<std::int32_t>(a2 + b2) >> 11;
        rows[5][r] = static_cast<std::int32_t>(a2 - b2) >> 11;
        rows[3][r] = static_cast<std::int32_t>(a3 + b3) >> 11;
        rows[4][r] = static_cast<std::int32_t>(a3 - b3) >> 11;
    }
    // Row outputs inside -4096..4095 keep every sum of the column pass
    // inside 16 bits (each sample is at most about 7.5 times the largest
    // input), so neither pass saturates and both run on plain sums, with
    // the same values. Anything larger takes the saturating pass.
    std::uint32_t spread = 0;
    std::int16_t zt[8][8];
    for (int k = 0; k < 8; ++k)
        for (int r = 0; r < 8; ++r) {
            spread |= static_cast<std::uint32_t>(rows[k][r] + 4096);
            zt[k][r] = static_cast<std::int16_t>(rows[k][r]);
        }
    if (spread < 8192) {
        ColumnPass<false>(zt, destination, step);
        return;
    }
    for (int k = 0; k < 8; ++k)
        for (int r = 0; r < 8; ++r)
            zt[k][r] = Sat(rows[k][r]);
    ColumnPass<true>(zt, destination, step);
}

// Dequantisation and the full transform of checked arguments.
void Dequant8Portable(const std::int16_t* coefficients, const std::uint16_t* table, std::uint8_t* destination,
                      std::int32_t step)
{
    std::int16_t d[64];
    Dequantise(coefficients, table, d);
    Full8(d, destination, step);
}
using Dequant8Function = void(const std::int16_t*, const std::uint16_t*, std::uint8_t*, std::int32_t);
using Full8Function = void(const std::int16_t*, std::uint8_t*, std::int32_t);
#if defined(__x86_64__)
constexpr Dequant8Function* Dequant8Sse2 = &primitives_detail::InverseDctDequant8uSse2;
constexpr Full8Function* Full8Sse2 = &primitives_detail::InverseDct8uSse2;
#else
constexpr Dequant8Function* Dequant8Sse2 = &Dequant8Portable;
constexpr Full8Function* Full8Sse2 = &Full8;
#endif
constexpr CpuDispatchTable<Dequant8Function> kDequant8 = {&Dequant8Portable, &Dequant8Portable, Dequant8Sse2,
                                                          Dequant8Sse2,      Dequant8Sse2,      Dequant8Sse2};
constexpr CpuDispatchTable<Full8Function> kFull8 = {&Full8, &Full8, Full8Sse2, Full8Sse2, Full8Sse2, Full8Sse2};

template <Dequant8Function* Single>
void PairOf(const std::int16_t* coefficients, const std::uint16_t* table, std::uint8_t* destination,
            std::int32_t step)
{
    Single(coefficients, table, destination, step);
    Single(coefficients + 64, table, destination + 8, step);
}
#if defined(__x86_64__)
constexpr Dequant8Function* PairAvx2 = &primitives_detail::InverseDctDequant8uPairAvx2;
#else
constexpr Dequant8Function* PairAvx2 = &PairOf<&Dequant8Portable>;
#endif
constexpr CpuDispatchTable<Dequant8Function> kPair = {&PairOf<&Dequant8Portable>, &PairOf<&Dequant8Portable>,
                                                      &PairOf<Dequant8Sse2>,      &PairOf<Dequant8Sse2>,
                                                      &PairOf<Dequant8Sse2>,      PairAvx2};

Status Idct8uPair(const std::int16_t* coefficients, std::uint8_t* destination, std::int32_t step,
                  const std::uint16_t* table)
{
    Status status = Code::Ok;
    if (BadArguments(coefficients, destination, step, table, &status))
        return status;
    DispatchCall(kPair, coefficients, table, destination, step);
    return Code::Ok;
}

Status Idct8u(const std::int16_t* coefficients, std::uint8_t* destination, std::int32_t step,
              const std::uint16_t* table)
{
    Status status = Code::Ok;
    if (BadArguments(coefficients, destination, step, table, &status))
        return status;
    DispatchCall(kDequant8, coefficients, table, destination, step);
    return Code::Ok;
}

Status IdctCorner(const std::int16_t* coefficients, std::uint8_t* destination, std::int32_t step,
                  const std::uint16_t* table, int corner)
{
    Status status = Code::Ok;
    if (BadArguments(coefficients, destination, step, table, &status))
        return status;
    std::int16_t d[64] = {};
    for (int v = 0; v < corner; ++v)
        for (int u = 0; u < corner; ++u)
            d[8 * v + u] = static_cast<std::int16_t>(static_cast<std::uint16_t>(coefficients[8 * v + u] * table[8 * v + u]));
    DispatchCall(kFull8, static_cast<const std::int16_t*>(d), destination, step);
    return Code::Ok;
}

Status IdctDcOnly(const std::int16_t* coefficients, std::uint8_t* destination, std::int32_t step,
                  const std::uint16_t* table)
{
    Status status = Code::Ok;
    if (BadArguments(coefficients, destination, step, table, &status))
        return status;
    const std::int32_t v = coefficients[0] * static_cast<std::int32_t>(table[0]);
    const auto w = static_cast<std::int16_t>(static_cast<std::uint16_t>((v >> 3) + 128));
    const auto sample = static_cast<std::uint8_t>(w < 0 ? 0 : w >= 255 ? 255 : w);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            destination[static_cast<std::ptrdiff_t>(y) * step + x] = sample;
    return Code::Ok;
}

struct HalfWeights {
    std::int32_t a0, a2, a6, b1, b3, b5, b7, c1, c3, c5, c7;
};
constexpr HalfWeights kHalfWeights[4] = {
    {16384, 15137, 6270, 20995, 7373, -4926, -4176, 8697, -17799, 11893, -1730},
    {22725, 20995, 8697, 29121, 10226, -6833, -5793, 12063, -24688, 16496, -2399},
    {21407, 19777, 8192, 27432, 9633, -6436, -5457, 11363, -23256, 15539, -2260},
    {19266, 17799, 7373, 24688, 8669, -5793, -4911, 10226, -20929, 13985, -2034},
};
constexpr std::int32_t kHalfRounder[8] = {66560, 5802, 4520, 3408, 0, 910, 1024, 746};

Status Idct4x4(const std::int16_t* coefficients, std::uint8_t* destination, std::int32_t step,
               const std::uint16_t* table)
{
    Status status = Code::Ok;
    if (BadArguments(coefficients, destination, step, table, &status))
        return status;
    std::int16_t d[64];
    Dequantise(coefficients, table, d);
    std::int16_t o[8][4] = {};
    for (int r = 0; r < 8; ++r) {
        if (r == 4)
            continue;
        const HalfWeights& w = kHalfWeights[kRowWeightGroup[r]];
        const std::int16_t* x = d + 8 * r;
        const std::int64_t rnd = kHalfRounder[r];
        const std::int32_t e0 = Wrap((std::int64_t{w.a0} * x[0] + w.a2 * x[2]) + (-w.a6 * x[6]));
        const std::int32_t e1 = Wrap((std::int64_t{w.a0} * x[0] - w.a2 * x[2]) + (w.a6 * x[6]));
        const std::int32_t e2 = Wrap((std::int64_t{w.b1} * x[1] + w.b3 * x[3]) + (w.b5 * x[5] + w.b7 * x[7]));
        const std::int32_t e3 = Wrap((std::int64_t{w.c1} * x[1] + w.c3 * x[3]) + (w.c5 * x[5] + w.c7 * x[7]));
        o[r][0] = Sat(Wrap(std::int64_t{Wrap(e0 + rnd)} + e2) >> 12);
        o[r][1] = Sat(Wrap(std::int64_t{Wrap(e1 + rnd)} + e3) >> 12);
        o[r][2] = Sat(Wrap(std::int64_t{Wrap(e1 + rnd)} - e3) >> 12);
        o[r][3] = Sat(Wrap(std::int64_t{Wrap(e0 + rnd)} - e2) >> 12);
    }
    for (int m = 0; m < 4; ++m) {
        const OddColumn t = OddPart(o[1][m], o[3][m], o[5][m], o[7][m]);
        const std::int16_t tp26 = Add(o[2][m], MulHigh(o[6][m], 27146));
        const std::int16_t tm26 = Sub(MulHigh(o[2][m], 27146), o[6][m]);
        const std::int16_t s = Add(tm26, tp26);
        const std::int16_t d0 = Add(o[0][m], o[0][m]);
        const std::int16_t u1 = Add(s, d0), u2 = Sub(d0, s);
        const std::int16_t v1 = Add(t.t6, t.t7), v2 = Add(t.t5, t.t4);
        const std::int16_t out[4] = {Add(v1, u1), Add(v2, u2), Sub(u2, v2), Sub(u1, v1)};
        for (int y = 0; y < 4; ++y)
            destination[static_cast<std::ptrdiff_t>(y) * step + m] = Clamp8(static_cast<std::int16_t>(out[y] >> 6));
    }
    return Code::Ok;
}

struct QuarterWeights {
    std::int32_t w, a, b, c, d;
};
constexpr QuarterWeights kQuarterEven = {16384, 14846, -5213, 3483, -2953};
constexpr QuarterWeights kQuarterOuter = {22725, 20592, -7231, 4832, -4096};
constexpr QuarterWeights kQuarterInner = {19266, 17457, -6130, 4096, -3472};

Status Idct2x2(const std::int16_t* coefficients, std::uint8_t* destination, std::int32_t step,
               const std::uint16_t* table)
{
    Status status = Code::Ok;
    if (BadArguments(coefficients, destination, step, table, &status))
        return status;
    std::int16_t d[64];
    Dequantise(coefficients, table, d);
    struct Row {
        int index;
        const QuarterWeights* weights;
        std::int32_t rounder;
    };
    const Row rows[5] = {{0, &kQuarterEven, 67072}, {1, &kQuarterOuter, 5802}, {3, &kQuarterInner, 3408},
                         {5, &kQuarterInner, 910},  {7, &kQuarterOuter, 746}};
    std::int16_t o[8][2] = {};
    for (const Row& row : rows) {
        const std::int16_t* x = d + 8 * row.index;
        const QuarterWeights& w = *row.weights;
        const std::int32_t odd = Wrap((std::int64_t{w.a} * x[1] + w.b * x[3]) + (w.c * x[5] + w.d * x[7]));
        const std::int32_t even = Wrap(std::int64_t{w.w} * x[0] + row.rounder);
        o[row.index][0] = Sat(Wrap(std::int64_t{even} + odd) >> 12);
        o[row.index][1] = Sat(Wrap(std::int64_t{even} - odd) >> 12);
    }
    for (int m = 0; m < 2; ++m) {
        const std::int16_t r0 = o[0][m], r1 = o[1][m], r3 = o[3][m], r5 = o[5][m], r7 = o[7][m];
        const std::int16_t tm765 = Add(Add(MulHigh(r5, -21746), r5), r3);
        const std::int16_t tm465 = Sub(r5, Add(MulHigh(r3, -21746), r3));
        const std::int16_t tp465 = Sub(MulHigh(r1, 13036), r7);
        const std::int16_t tp765 = Add(r1, MulHigh(r7, 13036));
        const std::int16_t t7 = Add(tp765, tm765);
        const std::int16_t tp65 = Sub(tp765, tm765);
        const std::int16_t t4 = Add(tp465, tm465);
        const std::int16_t w = Add(tp65, MulHigh(tp65, -19195));
        const std::int16_t q = Add(Add(t7, t4), Add(w, w));
        const std::int16_t f = Add(Add(r0, r0), Add(r0, r0));
        destination[m] = Clamp8(static_cast<std::int16_t>(Add(f, q) >> 7));
        destination[step + m] = Clamp8(static_cast<std::int16_t>(Sub(f, q) >> 7));
    }
    return Code::Ok;
}

// q(u) x q(v), computed in double and rounded to float.
struct Prescale {
    float factor[64];
    Prescale()
    {
        const double q[8] = {0.3535533906, 0.9061274464, 0.4619397663, 0.7681777567,
                             0.3535533906, 0.5132799672, 0.1913417162, 0.1802399555};
        for (int v = 0; v < 8; ++v)
            for (int u = 0; u < 8; ++u)
                factor[8 * v + u] = static_cast<float>(q[u] * q[v]);
    }
};
const Prescale kPrescale;

// One-dimensional inverse transform of c[0], c[stride], ...; p the prescale
// factors (null: none).
inline void Inverse1d(float* c, std::ptrdiff_t stride, const float* p)
{
    float X[8];
    for (int k = 0; k < 8; ++k)
        X[k] = p != nullptr && k != 0 && k != 4 ? c[k * stride] * p[k] : c[k * stride];
    float e0 = X[0] + X[4], e1 = X[0] - X[4];
    if (p != nullptr) {
        e0 = e0 * p[0];
        e1 = e1 * p[0];
    }
    const float m35 = X[3] - X[5], p35 = X[3] + X[5], p17 = X[1] + X[7], m17 = X[1] - X[7];
    const float s = p35 + p17, dd = p17 - p35;
    const float g = 0.41421357f * m35 + m17, h = 0.41421357f * m17 - m35;
    const float s1 = 0.5411961f * s, dd1 = 0.76536685f * dd;
    const float g1 = g - s1, j = dd1 - g1, k = h - j;
    const float s26 = X[2] + X[6];
    const float d26 = 1.4142135f * (X[2] - X[6]) - s26;
    const float a0 = e0 + s26, a3 = e0 - s26, a1 = e1 + d26, a2 = e1 - d26;
    c[0] = a0 + s1;
    c[stride] = a1 + g1;
    c[2 * stride] = a2 + j;
    c[3 * stride] = a3 + k;
    c[4 * stride] = a3 - k;
    c[5 * stride] = a2 - j;
    c[6 * stride] = a1 - g1;
    c[7 * stride] = a0 - s1;
}

Status Idct16u(const std::int16_t* coefficients, std::uint16_t* destination, std::int32_t step, const float* table)
{
    Status status = Code::Ok;
    if (BadArguments(coefficients, destination, step, table, &status))
        return status;
    float block[64];
    for (int i = 0; i < 64; ++i)
        block[i] = static_cast<float>(coefficients[i]) * table[i];
    for (int v = 0; v < 8; ++v)
        Inverse1d(block + 8 * v, 1, kPrescale.factor + 8 * v);
    for (int x = 0; x < 8; ++x)
        Inverse1d(block + x, 8, nullptr);
    auto* bytes = reinterpret_cast<std::uint8_t*>(destination);
    for (int y = 0; y < 8; ++y) {
        auto* row = reinterpret_cast<std::uint16_t*>(bytes + static_cast<std::ptrdiff_t>(y) * step);
        for (int x = 0; x < 8; ++x) {
            const float s = block[8 * y + x] + 2048.0f;
            // Truncation toward zero, saturated to 16 bits, then clamped.
            const std::int32_t t = s <= -32768.0f ? -32768 : s >= 32767.0f ? 32767 : static_cast<std::int32_t>(s);
            row[x] = static_cast<std::uint16_t>(t < 0 ? 0 : t > 4095 ? 4095 : t);
        }
    }
    return Code::Ok;
}

}  // namespace

PrimitiveStatus InverseDctDequant8x8To8u(const std::int16_t coefficients[64], std::uint8_t* destination,
                                         std::int32_t destinationStep, const std::uint16_t* table)
{
    return Idct8u(coefficients, destination, destinationStep, table);
}

PrimitiveStatus InverseDctDequant8x8To8uPair(const std::int16_t coefficients[128], std::uint8_t* destination,
                                             std::int32_t destinationStep, const std::uint16_t* table)
{
    return Idct8uPair(coefficients, destination, destinationStep, table);
}

PrimitiveStatus InverseDctDequant8x8To8uLow4x4(const std::int16_t coefficients[64], std::uint8_t* destination,
                                               std::int32_t destinationStep, const std::uint16_t* table)
{
    return IdctCorner(coefficients, destination, destinationStep, table, 4);
}

PrimitiveStatus InverseDctDequant8x8To8uLow2x2(const std::int16_t coefficients[64], std::uint8_t* destination,
                                               std::int32_t destinationStep, const std::uint16_t* table)
{
    return IdctCorner(coefficients, destination, destinationStep, table, 2);
}

PrimitiveStatus InverseDctDequant8x8To8uDcOnly(const std::int16_t coefficients[64], std::uint8_t* destination,
                                               std::int32_t destinationStep, const std::uint16_t* table)
{
    return IdctDcOnly(coefficients, destination, destinationStep, table);
}

PrimitiveStatus InverseDctDequant8x8To4x4(const std::int16_t coefficients[64], std::uint8_t* destination,
                                          std::int32_t destinationStep, const std::uint16_t* table)
{
    return Idct4x4(coefficients, destination, destinationStep, table);
}

PrimitiveStatus InverseDctDequant8x8To2x2(const std::int16_t coefficients[64], std::uint8_t* destination,
                                          std::int32_t destinationStep, const std::uint16_t* table)
{
    return Idct2x2(coefficients, destination, destinationStep, table);
}

PrimitiveStatus InverseDctDequant8x8To16u(const std::int16_t coefficients[64], std::uint16_t* destination,
                                          std::int32_t destinationStep, const float* table)
{
    return Idct16u(coefficients, destination, destinationStep, table);
}
