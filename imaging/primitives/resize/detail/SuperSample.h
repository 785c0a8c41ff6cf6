#pragma once
// The super-sampling routines (box averaging for factors at most 1) and their
// row sums. One routine template over sample type, layout and ratio kind; the
// named members below are its instantiations.

#include <array>
#include <cstdint>
#include <type_traits>

#include "imaging/primitives/CpuDispatch.h"
#include "imaging/primitives/PrimitiveTypes.h"

namespace resize_detail {

// Layout: 1 one channel (or a plane), 3 three channels at a pixel stride of 3
// or 4 (the fourth sample neither read nor written), 4 four channels.

// Sums of whole rows: 64 bits for integer samples (no box can wrap them), float
// for float samples, added in row order starting from 0.
template <typename T>
using RowSum = std::conditional_t<std::is_integral_v<T>, std::uint64_t, float>;

// Writes (does not add), for each of the n pixels from first and each
// processed channel, the sum of the samples of k >= 1 consecutive rows
// stepBytes apart, at the pixel's slot (pixel p, channel c: p x stride + c;
// stride 1 for one channel, 4 for four).
template <typename T, int Layout>
void SumRows(const T* first, std::int32_t stepBytes, std::int32_t n, std::int32_t k, RowSum<T>* out,
             std::int32_t stride);

inline constexpr auto* SumRows8uC1 = &SumRows<std::uint8_t, 1>;
inline constexpr auto* SumRows16uC1 = &SumRows<std::uint16_t, 1>;
inline constexpr auto* SumRows32fC1 = &SumRows<float, 1>;
inline constexpr auto* SumRows8uC3 = &SumRows<std::uint8_t, 3>;
inline constexpr auto* SumRows16uC3 = &SumRows<std::uint16_t, 3>;
inline constexpr auto* SumRows32fC3 = &SumRows<float, 3>;
inline constexpr auto* SumRows8uC4 = &SumRows<std::uint8_t, 4>;
inline constexpr auto* SumRows16uC4 = &SumRows<std::uint16_t, 4>;
// The float four-channel member is SumRowWindow_32f below.

// For group q < groups and lane l < 4: dst[4q + l] = the sum over rows
// k < rows of the float at byte offset k x stepBytes + 16q + 4l, added in row
// order from 0. rows >= 1.
void SumRowWindow_32f(const float* src, std::int32_t stepBytes, std::uint32_t groups, std::uint32_t rows, float* dst);

// Ratio kinds: 0 both box sides integral, 1 only the vertical one fractional,
// 2 only the horizontal one, 3 both.
//
// Arguments: source at the region's first sample, destination, both steps in
// bytes, E (source pixels read per row, at most the region width), the
// destination extent W x H, the box sides a and b (at least 1), norm = 1 /
// (a x b), pixel stride (three-channel layout only), ratio kind, and the
// number of region rows. Rows and columns past the region repeat its last
// row and column (E - 1), so every W x H sample is written and nothing
// outside the region is read. Returns 0, or NoMemory (-9) when the
// accumulator cannot be allocated (nothing written).
using SuperSampleRoutine = PrimitiveStatus(const void* src, void* dst, std::int32_t srcStep, std::int32_t dstStep,
                                           std::int32_t e, std::int32_t width, std::int32_t height, double a,
                                           double b, double norm, std::int32_t stride, std::int32_t kind,
                                           std::int32_t regionRows);

// The box of one destination column over the accumulator row: an optional
// head element with a weight, whole elements [from, to), repeat more copies of
// the last element (columns past E repeat column E - 1), an optional tail
// element with a weight. The same for every destination row.
struct ColumnBox {
    std::int64_t head;
    double headWeight;
    std::int64_t from;
    std::int64_t to;
    std::int64_t repeat;
    std::int64_t tail;
    double tailWeight;
    bool hasHead;
    bool hasTail;
};

// How a routine adds one source row of n contiguous samples into the float
// accumulator: Whole adds each sample as a float, Weighted adds each sample
// times w computed in double and rounded to float. Vector sets must give the
// same bits.
template <typename T>
struct PortableRowAdd {
    static void Whole(const T* s, std::int32_t n, float* acc)
    {
        for (std::int32_t i = 0; i < n; ++i)
            acc[i] += static_cast<float>(s[i]);
    }
    static void Weighted(const T* s, std::int32_t n, double w, float* acc)
    {
        for (std::int32_t i = 0; i < n; ++i)
            acc[i] += static_cast<float>(static_cast<double>(s[i]) * w);
    }
};

// The boxes of fractional ratios as taps: for destination column m and tap
// k < count, the accumulator element index[k x width + m] with the weight
// weight[k x width + m]. Taps follow the routine's order of additions (head,
// whole elements, repeated last element, tail); a box with fewer taps ends in
// taps of weight 0 on its first element, which leave a double sum as it is.
struct ColumnTaps {
    std::int32_t count;
    std::int32_t width;
    const std::int32_t* index;
    const double* weight;
};

// Whole boxes of 8-bit samples (both sides integral, at most 256 samples a
// box) are summed in 16 bits: the sum of a box is the same integer as in the
// 64-bit accumulators, and (sum + offset) x multiplier >> (16 + shift) gives
// the routine's trunc(clamp(sum x norm + 0.5)) for every sum a box can have
// (the routine checks that before taking this path).
struct WholeBoxRounding {
    std::uint16_t offset;
    std::uint16_t multiplier;
    std::int32_t shift;
};

// Sums of whole boxes: SumRows16 writes, for i < n, acc[i] = the sum over
// rows r < rows (at least 1) of first[r x stepBytes + i]. Collapse1 and
// Collapse4 write width pixels of one and four channels, pixel m from the
// accumulator pixels m x mx .. m x mx + mx - 1, rounded as above.
struct PortableWholeBoxes {
    static void SumRows16(const std::uint8_t* first, std::int32_t stepBytes, std::int32_t rows, std::int32_t n,
                          std::uint16_t* acc);
    static void Collapse1(const std::uint16_t* acc, std::int32_t width, std::int32_t mx,
                          const WholeBoxRounding& rounding, std::uint8_t* out);
    static void Collapse4(const std::uint16_t* acc, std::int32_t width, std::int32_t mx,
                          const WholeBoxRounding& rounding, std::uint8_t* out);
};

// Fractional boxes whose weights are all multiples of 1/2^q (1.5, 1.25, 2.5
// ...) hold every row and box sum exactly, so 8-bit samples are summed in 16
// bits with the weights scaled to integers, and the exact sum S becomes the
// routine's trunc(clamp(S / 2^q x norm + 0.5)) through a WholeBoxRounding.
//
// WeightedRows16 writes acc[i] = the sum over k < count of weights[k] x
// rows[k][i] for i < n (0 when count is 0). CollapseSpan4 writes width pixels
// of four channels: pixel m from the span accumulator pixels start[m] and
// start[m] + 1 with weights[8m] and weights[8m + 4] (each weight stored four
// times, once per channel; a box of one pixel has 0 as its second weight,
// and acc must be readable one pixel past every start).
struct PortableSpanBoxes {
    static void WeightedRows16(const std::uint8_t* const* rows, const std::uint16_t* weights, std::int32_t count,
                               std::int32_t n, std::uint16_t* acc);
    static void CollapseSpan4(const std::uint16_t* acc, const std::int32_t* start, const std::uint16_t* weights,
                              std::int32_t width, const WholeBoxRounding& rounding, std::uint8_t* out);
};

// SSE2 row adders for 8-bit samples (x86 only).
struct RowAdd8uSse2 {
    static void Whole(const std::uint8_t* s, std::int32_t n, float* acc);
    static void Weighted(const std::uint8_t* s, std::int32_t n, double w, float* acc);
    static void SumRows16(const std::uint8_t* first, std::int32_t stepBytes, std::int32_t rows, std::int32_t n,
                          std::uint16_t* acc);
    static void Collapse4(const std::uint16_t* acc, std::int32_t width, std::int32_t mx,
                          const WholeBoxRounding& rounding, std::uint8_t* out);
};
// AVX2 adds, and the horizontal pass of four-channel float accumulators:
// each channel's sum in double in the routine's order, then
// trunc(clamp(sum x norm + 0.5)) for width pixels.
struct RowAdd8uAvx2 {
    static void Whole(const std::uint8_t* s, std::int32_t n, float* acc);
    static void Weighted(const std::uint8_t* s, std::int32_t n, double w, float* acc);
    // As Whole and Weighted into an accumulator of zeros, written without
    // reading it (it need not be cleared).
    static void WholeFirst(const std::uint8_t* s, std::int32_t n, float* acc);
    static void WeightedFirst(const std::uint8_t* s, std::int32_t n, double w, float* acc);
    static void CollapseFour(const ColumnBox* boxes, std::int32_t width, const float* acc, std::int32_t e, double norm,
                             std::uint8_t* out);
    // The horizontal pass of one-channel float accumulators from taps, four
    // destination samples a vector: trunc(clamp(sum x norm + 0.5)) of each.
    static void CollapseOne(const ColumnTaps& taps, const float* acc, double norm, std::uint8_t* out);
    static void SumRows16(const std::uint8_t* first, std::int32_t stepBytes, std::int32_t rows, std::int32_t n,
                          std::uint16_t* acc);
    static void Collapse4(const std::uint16_t* acc, std::int32_t width, std::int32_t mx,
                          const WholeBoxRounding& rounding, std::uint8_t* out);
    static void WeightedRows16(const std::uint8_t* const* rows, const std::uint16_t* weights, std::int32_t count,
                               std::int32_t n, std::uint16_t* acc);
    static void CollapseSpan4(const std::uint16_t* acc, const std::int32_t* start, const std::uint16_t* weights,
                              std::int32_t width, const WholeBoxRounding& rounding, std::uint8_t* out);
};

template <typename T, int Layout, class RowAdd = PortableRowAdd<T>>
PrimitiveStatus SuperSample(const void* src, void* dst, std::int32_t srcStep, std::int32_t dstStep, std::int32_t e,
                            std::int32_t width, std::int32_t height, double a, double b, double norm,
                            std::int32_t stride, std::int32_t kind, std::int32_t regionRows);

inline constexpr SuperSampleRoutine* SuperSample8uC1 = &SuperSample<std::uint8_t, 1>;
inline constexpr SuperSampleRoutine* SuperSample16uC1 = &SuperSample<std::uint16_t, 1>;
inline constexpr SuperSampleRoutine* SuperSample32fC1 = &SuperSample<float, 1>;
inline constexpr SuperSampleRoutine* SuperSample8uC3 = &SuperSample<std::uint8_t, 3>;
inline constexpr SuperSampleRoutine* SuperSample16uC3 = &SuperSample<std::uint16_t, 3>;
inline constexpr SuperSampleRoutine* SuperSample32fC3 = &SuperSample<float, 3>;
inline constexpr SuperSampleRoutine* SuperSample8uC4 = &SuperSample<std::uint8_t, 4>;
inline constexpr SuperSampleRoutine* SuperSample16uC4 = &SuperSample<std::uint16_t, 4>;
inline constexpr SuperSampleRoutine* SuperSample32fC4 = &SuperSample<float, 4>;

// Routines of one processor slot: index 3 x (0 for C1, 1 for C3, 2 for C4) +
// sample type (0 8u, 1 16u, 2 32f).
using SuperSampleTable = std::array<SuperSampleRoutine*, 9>;
extern const std::array<const SuperSampleTable*, kCpuVariantCount> kSuperSampleTables;

}  // namespace resize_detail
