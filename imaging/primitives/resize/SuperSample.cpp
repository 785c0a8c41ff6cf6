#include "imaging/primitives/resize/detail/SuperSample.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "imaging/primitives/AlignedMemory.h"
#include "imaging/primitives/VectorOps.h"

namespace resize_detail {

namespace {

constexpr double kGuard = 0.0000001;

template <int Layout>
constexpr int Channels()
{
    return Layout == 1 ? 1 : Layout;
}

template <typename T>
const T* RowAt(const T* origin, std::int32_t stepBytes, std::int64_t row)
{
    return reinterpret_cast<const T*>(reinterpret_cast<const std::uint8_t*>(origin) +
                                      static_cast<std::ptrdiff_t>(row) * stepBytes);
}

}  // namespace

template <typename T, int Layout>
void SumRows(const T* first, std::int32_t stepBytes, std::int32_t n, std::int32_t k, RowSum<T>* out,
             std::int32_t stride)
{
    constexpr int channels = Channels<Layout>();
    const std::ptrdiff_t pixel = Layout == 3 ? stride : channels;
    for (std::int32_t p = 0; p < n; ++p)
        for (int c = 0; c < channels; ++c)
            out[pixel * p + c] = RowSum<T>{0};
    for (std::int32_t row = 0; row < k; ++row) {
        const T* s = RowAt(first, stepBytes, row);
        for (std::int32_t p = 0; p < n; ++p)
            for (int c = 0; c < channels; ++c)
                out[pixel * p + c] += static_cast<RowSum<T>>(s[pixel * p + c]);
    }
}

void SumRowWindow_32f(const float* src, std::int32_t stepBytes, std::uint32_t groups, std::uint32_t rows, float* dst)
{
    if (groups == 0)
        return;
    SumRows<float, 4>(src, stepBytes, static_cast<std::int32_t>(groups), static_cast<std::int32_t>(rows), dst, 4);
}

namespace {

// Sixteen sums at a time: a block of fixed length over pointers that do not
// alias is one the compiler turns into whole-register adds, where a loop of
// unknown length over a byte pointer (which may alias anything) stays one
// sample an iteration.
inline void SetBlock16(std::uint16_t* __restrict acc, const std::uint8_t* __restrict s)
{
    for (int k = 0; k < 16; ++k)
        acc[k] = s[k];
}

inline void AddBlock16(std::uint16_t* __restrict acc, const std::uint8_t* __restrict s)
{
    for (int k = 0; k < 16; ++k)
        acc[k] = static_cast<std::uint16_t>(acc[k] + s[k]);
}

}  // namespace

void PortableWholeBoxes::SumRows16(const std::uint8_t* first, std::int32_t stepBytes, std::int32_t rows,
                                   std::int32_t n, std::uint16_t* acc)
{
    const std::int32_t blocks = n / 16 * 16;
    for (std::int32_t i = 0; i < blocks; i += 16)
        SetBlock16(acc + i, first + i);
    for (std::int32_t i = blocks; i < n; ++i)
        acc[i] = first[i];
    for (std::int32_t r = 1; r < rows; ++r) {
        const std::uint8_t* s = RowAt(first, stepBytes, r);
        for (std::int32_t i = 0; i < blocks; i += 16)
            AddBlock16(acc + i, s + i);
        for (std::int32_t i = blocks; i < n; ++i)
            acc[i] = static_cast<std::uint16_t>(acc[i] + s[i]);
    }
}

namespace {

inline std::uint8_t RoundWholeBox(std::uint32_t sum, const WholeBoxRounding& rounding)
{
    return static_cast<std::uint8_t>(((sum + rounding.offset) * rounding.multiplier) >> (16 + rounding.shift));
}

}  // namespace

void PortableWholeBoxes::Collapse1(const std::uint16_t* acc, std::int32_t width, std::int32_t mx,
                                   const WholeBoxRounding& rounding, std::uint8_t* out)
{
    if (mx == 2) {
        for (std::int32_t m = 0; m < width; ++m)
            out[m] = RoundWholeBox(std::uint32_t{acc[2 * m]} + acc[2 * m + 1], rounding);
        return;
    }
    if (mx == 3) {
        for (std::int32_t m = 0; m < width; ++m)
            out[m] = RoundWholeBox(std::uint32_t{acc[3 * m]} + acc[3 * m + 1] + acc[3 * m + 2], rounding);
        return;
    }
    for (std::int32_t m = 0; m < width; ++m) {
        std::uint32_t sum = 0;
        for (std::int32_t j = 0; j < mx; ++j)
            sum += acc[static_cast<std::ptrdiff_t>(m) * mx + j];
        out[m] = RoundWholeBox(sum, rounding);
    }
}

void PortableWholeBoxes::Collapse4(const std::uint16_t* acc, std::int32_t width, std::int32_t mx,
                                   const WholeBoxRounding& rounding, std::uint8_t* out)
{
    for (std::int32_t m = 0; m < width; ++m)
        for (int c = 0; c < 4; ++c) {
            std::uint32_t sum = 0;
            for (std::int32_t j = 0; j < mx; ++j)
                sum += acc[4 * (static_cast<std::ptrdiff_t>(m) * mx + j) + c];
            out[4 * m + c] = RoundWholeBox(sum, rounding);
        }
}

namespace {

// The integer rounding of whole boxes of `area` samples that gives, for every
// sum 0..255 x area, the routine's trunc(clamp(sum x norm + 0.5)); false when
// the sums do not fit 16 bits or no multiplier matches every sum (a tie that
// the double product rounds down, say), and the routine keeps its own path.
bool FindWholeBoxRounding(std::int64_t area, double norm, WholeBoxRounding* rounding)
{
    const std::int64_t top = 255 * area;
    if (area < 1 || top + area > 65535)
        return false;
    for (std::int32_t shift = 0; shift < 16; ++shift) {
        const auto multiplier = static_cast<std::int64_t>(std::ceil(std::ldexp(1.0, 16 + shift) / area));
        if (multiplier > 65535)
            break;
        for (const std::int64_t offset : {area / 2, (area - 1) / 2}) {
            bool matches = true;
            for (std::int64_t sum = 0; sum <= top && matches; ++sum) {
                const double v = std::min(std::max(static_cast<double>(sum) * norm + 0.5, 0.0), 255.0);
                matches = ((sum + offset) * multiplier) >> (16 + shift) == static_cast<std::int32_t>(v);
            }
            if (matches) {
                *rounding = {static_cast<std::uint16_t>(offset), static_cast<std::uint16_t>(multiplier), shift};
                return true;
            }
        }
    }
    return false;
}

// Kind 0 for 8-bit samples of one or four channels in 16-bit sums: the
// vertical pass sums each box's rows over the columns the boxes cover
// (columns past E repeat column E - 1, rows past the region its last row),
// the horizontal pass adds mx accumulator pixels per destination pixel.
// Returns false, having written nothing, when the sums could not be held or
// rounded so; true with *status otherwise.
template <int Layout, class RowAdd>
bool SuperSampleWholeBoxes8u(const std::uint8_t* src, std::uint8_t* dst, std::int32_t srcStep,
                             std::int32_t dstStep, std::int32_t e, std::int32_t width, std::int32_t height, double a,
                             double b, double norm, std::int32_t regionRows, PrimitiveStatus* status)
{
    constexpr int channels = Layout;
    const auto mx = static_cast<std::int64_t>(std::floor(a));
    const auto my = static_cast<std::int64_t>(std::floor(b));
    WholeBoxRounding rounding{};
    if (mx < 1 || my < 1 || !FindWholeBoxRounding(mx * my, norm, &rounding))
        return false;
    const std::int64_t covered = mx * width;  // accumulator pixels the boxes cover
    const std::int64_t accBytes = (covered * channels + 32) * static_cast<std::int64_t>(sizeof(std::uint16_t));
    if (accBytes > std::numeric_limits<std::int32_t>::max())
        return false;
    auto* acc = static_cast<std::uint16_t*>(AlignedMalloc(static_cast<std::int32_t>(accBytes)));
    if (acc == nullptr) {
        *status = PrimitiveStatusCode::NoMemory;
        return true;
    }
    const std::int64_t read = std::min<std::int64_t>(e, covered);
    const auto samples = static_cast<std::int32_t>(read * channels);
    const std::int64_t lastRow = regionRows - 1;
    std::int64_t row = 0;
    for (std::int32_t y = 0; y < height; ++y, row += my) {
        const std::int64_t inside = std::clamp<std::int64_t>(regionRows - row, 0, my);
        if (inside > 0) {
            const std::uint8_t* first = RowAt(src, srcStep, row);
            if constexpr (requires { RowAdd::SumRows16; })
                RowAdd::SumRows16(first, srcStep, static_cast<std::int32_t>(inside), samples, acc);
            else
                PortableWholeBoxes::SumRows16(first, srcStep, static_cast<std::int32_t>(inside), samples, acc);
        } else {
            std::fill(acc, acc + samples, std::uint16_t{0});
        }
        if (inside < my) {
            const std::uint8_t* s = RowAt(src, srcStep, lastRow);
            const auto extra = static_cast<std::uint32_t>(my - inside);
            for (std::int32_t i = 0; i < samples; ++i)
                acc[i] = static_cast<std::uint16_t>(acc[i] + extra * s[i]);
        }
        for (std::int64_t p = read; p < covered; ++p)
            for (int c = 0; c < channels; ++c)
                acc[p * channels + c] = acc[(read - 1) * channels + c];

        auto* out = reinterpret_cast<std::uint8_t*>(dst) + static_cast<std::ptrdiff_t>(y) * dstStep;
        if constexpr (Layout == 1) {
            PortableWholeBoxes::Collapse1(acc, width, static_cast<std::int32_t>(mx), rounding, out);
        } else if constexpr (requires { RowAdd::Collapse4; }) {
            RowAdd::Collapse4(acc, width, static_cast<std::int32_t>(mx), rounding, out);
        } else {
            PortableWholeBoxes::Collapse4(acc, width, static_cast<std::int32_t>(mx), rounding, out);
        }
    }
    AlignedFree(acc);
    *status = PrimitiveStatusCode::Ok;
    return true;
}

}  // namespace

namespace {

// The taps of the boxes (see ColumnTaps); false when they cannot be held.
bool BuildColumnTaps(const ColumnBox* boxes, std::int32_t width, std::int32_t e, std::int32_t** index,
                     double** weight, ColumnTaps* taps)
{
    std::int64_t count = 0;
    for (std::int32_t m = 0; m < width; ++m) {
        const ColumnBox& box = boxes[m];
        count = std::max<std::int64_t>(count, (box.hasHead ? 1 : 0) + (box.to - box.from) + (box.repeat > 0 ? 1 : 0) +
                                                  (box.hasTail ? 1 : 0));
    }
    const std::int64_t entries = std::max<std::int64_t>(count, 1) * width;
    if (count > 64 || entries * static_cast<std::int64_t>(sizeof(double)) > std::numeric_limits<std::int32_t>::max())
        return false;
    *index = static_cast<std::int32_t*>(AlignedMalloc(static_cast<std::int32_t>(entries * sizeof(std::int32_t))));
    *weight = static_cast<double*>(AlignedMalloc(static_cast<std::int32_t>(entries * sizeof(double))));
    if (*index == nullptr || *weight == nullptr)
        return false;
    for (std::int32_t m = 0; m < width; ++m) {
        const ColumnBox& box = boxes[m];
        std::int64_t k = 0;
        auto add = [&](std::int64_t element, double w) {
            (*index)[k * width + m] = static_cast<std::int32_t>(element);
            (*weight)[k * width + m] = w;
            ++k;
        };
        if (box.hasHead)
            add(box.head, box.headWeight);
        for (std::int64_t i = box.from; i < box.to; ++i)
            add(i, 1.0);
        if (box.repeat > 0)
            add(e - 1, static_cast<double>(box.repeat));
        if (box.hasTail)
            add(box.tail, box.tailWeight);
        const std::int32_t first = k > 0 ? (*index)[m] : 0;
        while (k < count)
            add(first, 0.0);
    }
    *taps = ColumnTaps{static_cast<std::int32_t>(count), width, *index, *weight};
    return true;
}

}  // namespace

// Fills boxes for the destination columns (see the routine).
void PlanColumns(ColumnBox* boxes, std::int32_t width, std::int32_t e, double a, bool fractional)
{
    const auto mx = static_cast<std::int64_t>(std::floor(a));
    const std::int64_t last = e - 1;
    auto whole = [&](ColumnBox& box, std::int64_t from, std::int64_t count) {
        const std::int64_t end = from + count;
        box.from = std::min(from, std::int64_t{e});
        box.to = std::min(end, std::int64_t{e});
        box.repeat = std::max<std::int64_t>(0, end - std::max(from, std::int64_t{e}));
    };
    if (!fractional) {
        for (std::int32_t m = 0; m < width; ++m) {
            ColumnBox& box = boxes[m];
            box = ColumnBox{};
            whole(box, m * mx, mx);
        }
        return;
    }
    double fraction = a - static_cast<double>(mx);
    std::int64_t o = mx;
    boxes[0] = ColumnBox{};
    whole(boxes[0], 0, mx);
    boxes[0].hasTail = fraction != 0.0;
    boxes[0].tail = std::min(mx, last);
    boxes[0].tailWeight = fraction;
    for (std::int32_t m = 1; m < width; ++m) {
        ColumnBox& box = boxes[m];
        box = ColumnBox{};
        const double rest = 1.0 - fraction;
        const double u = a - rest;
        const auto count = static_cast<std::int64_t>(std::floor(u + kGuard));
        box.hasHead = true;
        box.head = std::min(o, last);
        box.headWeight = rest;
        whole(box, o + 1, count);
        fraction = u - static_cast<double>(count);
        o = o + count + 1;
        box.hasTail = fraction > kGuard;
        box.tail = std::min(o, last);
        box.tailWeight = fraction;
    }
}

void PortableSpanBoxes::WeightedRows16(const std::uint8_t* const* rows, const std::uint16_t* weights,
                                       std::int32_t count, std::int32_t n, std::uint16_t* acc)
{
    if (count == 0) {
        std::fill(acc, acc + n, std::uint16_t{0});
        return;
    }
    for (std::int32_t i = 0; i < n; ++i)
        acc[i] = static_cast<std::uint16_t>(weights[0] * rows[0][i]);
    for (std::int32_t k = 1; k < count; ++k) {
        const std::uint8_t* s = rows[k];
        const std::uint32_t w = weights[k];
        for (std::int32_t i = 0; i < n; ++i)
            acc[i] = static_cast<std::uint16_t>(acc[i] + w * s[i]);
    }
}

void PortableSpanBoxes::CollapseSpan4(const std::uint16_t* acc, const std::int32_t* start,
                                      const std::uint16_t* weights, std::int32_t width,
                                      const WholeBoxRounding& rounding, std::uint8_t* out)
{
    for (std::int32_t m = 0; m < width; ++m) {
        const std::uint16_t* p = acc + 4 * static_cast<std::ptrdiff_t>(start[m]);
        const std::uint32_t w0 = weights[8 * m];
        const std::uint32_t w1 = weights[8 * m + 4];
        for (int c = 0; c < 4; ++c)
            out[4 * m + c] = RoundWholeBox(w0 * p[c] + w1 * p[4 + c], rounding);
    }
}

namespace {

// One source row a destination row adds, with its weight.
struct RowTap {
    std::int64_t row;
    double weight;
};

// The rows each destination row adds, in the routine's order (rows past the
// region as its last row, once, with the weight times their number):
// taps[y x perRow + k] for k < counts[y]. False when a row needs more than
// perRow taps.
bool PlanRows(RowTap* taps, std::int32_t* counts, std::int32_t perRow, std::int32_t height, double b,
              std::int64_t regionRows, bool fractionalRows)
{
    const auto my = static_cast<std::int64_t>(std::floor(b));
    const std::int64_t lastRow = regionRows - 1;
    std::int64_t row = 0;
    double carried = 0.0;
    for (std::int32_t y = 0; y < height; ++y) {
        RowTap* out = taps + static_cast<std::ptrdiff_t>(y) * perRow;
        std::int32_t n = 0;
        bool fits = true;
        auto add = [&](std::int64_t from, std::int64_t count, double weight) {
            const std::int64_t inside = std::clamp<std::int64_t>(regionRows - from, 0, count);
            const std::int64_t needed = inside + (inside < count ? 1 : 0);
            if (n + needed > perRow) {
                fits = false;
                return;
            }
            for (std::int64_t r = 0; r < inside; ++r)
                out[n++] = {from + r, weight};
            if (inside < count)
                out[n++] = {lastRow, weight * static_cast<double>(count - inside)};
        };
        if (!fractionalRows) {
            add(row, my, 1.0);
            row += my;
        } else if (y == 0) {
            add(row, my, 1.0);
            row += my;
            carried = b - static_cast<double>(my);
            if (carried != 0.0)
                add(row, 1, carried);
        } else {
            const double rest = 1.0 - carried;
            if (rest > kGuard) {
                add(row, 1, rest);
                ++row;
            }
            const double u = b - rest;
            const auto whole = static_cast<std::int64_t>(std::floor(u + kGuard));
            add(row, whole, 1.0);
            row += whole;
            carried = u - static_cast<double>(whole);
            if (carried > kGuard)
                add(row, 1, carried);
        }
        if (!fits)
            return false;
        counts[y] = n;
    }
    return true;
}

// w x 2^q as a whole number in 1..65535 (0 for w = 0), or -1 when it is not
// one.
std::int64_t ScaledWeight(double w, int q)
{
    const double v = std::ldexp(w, q);
    if (!(v >= 0.0) || v > 65535.0 || v != std::floor(v))
        return -1;
    return static_cast<std::int64_t>(v);
}

// The smallest q <= 8 that scales every weight to a whole number, or -1.
template <typename Weights>
int DyadicExponent(std::int64_t count, Weights&& weightAt)
{
    for (int q = 0; q <= 8; ++q) {
        bool whole = true;
        for (std::int64_t i = 0; i < count && whole; ++i)
            whole = ScaledWeight(weightAt(i), q) >= 0;
        if (whole)
            return q;
    }
    return -1;
}

// The working memory of the span path, freed together.
struct SpanBlocks {
    RowTap* rowTaps = nullptr;
    std::int32_t* rowCounts = nullptr;
    const std::uint8_t** rowPointers = nullptr;
    std::uint16_t* rowWeights = nullptr;
    ColumnBox* boxes = nullptr;
    std::int32_t* start = nullptr;
    std::uint16_t* columnWeights = nullptr;
    std::uint16_t* acc = nullptr;
    ~SpanBlocks()
    {
        AlignedFree(rowTaps);
        AlignedFree(rowCounts);
        AlignedFree(rowPointers);
        AlignedFree(rowWeights);
        AlignedFree(boxes);
        AlignedFree(start);
        AlignedFree(columnWeights);
        AlignedFree(acc);
    }
};

template <typename T>
T* AllocateArray(std::int64_t count)
{
    const std::int64_t bytes = std::max<std::int64_t>(count, 1) * static_cast<std::int64_t>(sizeof(T));
    if (bytes > std::numeric_limits<std::int32_t>::max())
        return nullptr;
    return static_cast<T*>(AlignedMalloc(static_cast<std::int32_t>(bytes)));
}

// Fractional kinds of four-channel 8-bit samples with dyadic weights, boxes
// at most two accumulator pixels wide (factors 1/1.5, 1/1.25 and the like):
// the same sums as the float routine, exactly, in 16 bits. Returns false,
// having written nothing, when the weights are not dyadic, a box is wider,
// the sums could not be held in 16 bits or rounded so, or memory ran out (the
// float routine then runs and reports it); true with *status otherwise.
template <class RowAdd>
bool SuperSampleSpans8u(const std::uint8_t* src, std::uint8_t* dst, std::int32_t srcStep, std::int32_t dstStep,
                        std::int32_t e, std::int32_t width, std::int32_t height, double a, double b, double norm,
                        std::int32_t regionRows, bool fractionalRows, bool fractionalColumns, PrimitiveStatus* status)
{
    using Spans = std::conditional_t<requires { RowAdd::CollapseSpan4; }, RowAdd, PortableSpanBoxes>;
    // Wider boxes span more than two pixels, taller ones cannot be summed in
    // 16 bits: nothing to plan.
    if (a > 2.0 || b > 128.0)
        return false;
    const auto my = static_cast<std::int64_t>(std::floor(b));
    const std::int32_t perRow = static_cast<std::int32_t>(std::min<std::int64_t>(my + 5, 1 << 20));
    SpanBlocks blocks;
    blocks.rowTaps = AllocateArray<RowTap>(std::int64_t{height} * perRow);
    blocks.rowCounts = AllocateArray<std::int32_t>(height);
    blocks.rowPointers = AllocateArray<const std::uint8_t*>(perRow);
    blocks.rowWeights = AllocateArray<std::uint16_t>(std::int64_t{height} * perRow);
    blocks.boxes = AllocateArray<ColumnBox>(width);
    blocks.start = AllocateArray<std::int32_t>(width);
    blocks.columnWeights = AllocateArray<std::uint16_t>(8 * std::int64_t{width});
    blocks.acc = AllocateArray<std::uint16_t>(4 * (std::int64_t{e} + 1));
    if (blocks.rowTaps == nullptr || blocks.rowCounts == nullptr || blocks.rowPointers == nullptr ||
        blocks.rowWeights == nullptr || blocks.boxes == nullptr || blocks.start == nullptr ||
        blocks.columnWeights == nullptr || blocks.acc == nullptr)
        return false;
    if (!PlanRows(blocks.rowTaps, blocks.rowCounts, perRow, height, b, regionRows, fractionalRows))
        return false;
    PlanColumns(blocks.boxes, width, e, a, fractionalColumns);

    // Row weights.
    const int qy = DyadicExponent(std::int64_t{height} * perRow, [&](std::int64_t i) {
        return (i % perRow) < blocks.rowCounts[i / perRow] ? blocks.rowTaps[i].weight : 0.0;
    });
    if (qy < 0)
        return false;
    std::int64_t rowTotal = 0;
    for (std::int32_t y = 0; y < height; ++y) {
        std::int64_t total = 0;
        for (std::int32_t k = 0; k < blocks.rowCounts[y]; ++k) {
            const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(y) * perRow + k;
            const std::int64_t w = ScaledWeight(blocks.rowTaps[at].weight, qy);
            blocks.rowWeights[at] = static_cast<std::uint16_t>(w);
            total += w;
        }
        rowTotal = std::max(rowTotal, total);
    }

    // Column spans: each box's taps merged per accumulator pixel; the pixels
    // of a box are consecutive (the repeated last column and clamped edges
    // merge into column E - 1).
    const int qx = DyadicExponent(std::int64_t{width} * 4, [&](std::int64_t i) {
        const ColumnBox& box = blocks.boxes[i / 4];
        switch (i % 4) {
        case 0:
            return box.hasHead ? box.headWeight : 0.0;
        case 1:
            return box.hasTail ? box.tailWeight : 0.0;
        case 2:
            return static_cast<double>(box.repeat);
        default:
            return 1.0;
        }
    });
    if (qx < 0)
        return false;
    std::int64_t columnTotal = 0;
    for (std::int32_t m = 0; m < width; ++m) {
        const ColumnBox& box = blocks.boxes[m];
        std::int64_t lo = std::numeric_limits<std::int64_t>::max();
        std::int64_t hi = -1;
        auto see = [&](std::int64_t element) {
            lo = std::min(lo, element);
            hi = std::max(hi, element);
        };
        if (box.hasHead)
            see(box.head);
        if (box.from < box.to) {
            see(box.from);
            see(box.to - 1);
        }
        if (box.repeat > 0)
            see(e - 1);
        if (box.hasTail)
            see(box.tail);
        if (hi < 0)
            lo = hi = 0;  // an empty box: weights 0
        if (hi - lo > 1 || lo < 0 || hi >= e)
            return false;
        std::int64_t w[2] = {0, 0};
        if (box.hasHead)
            w[box.head - lo] += ScaledWeight(box.headWeight, qx);
        for (std::int64_t i = box.from; i < box.to; ++i)
            w[i - lo] += ScaledWeight(1.0, qx);
        if (box.repeat > 0)
            w[e - 1 - lo] += ScaledWeight(static_cast<double>(box.repeat), qx);
        if (box.hasTail)
            w[box.tail - lo] += ScaledWeight(box.tailWeight, qx);
        if (w[0] + w[1] > 65535)
            return false;
        columnTotal = std::max(columnTotal, w[0] + w[1]);
        blocks.start[m] = static_cast<std::int32_t>(lo);
        for (int c = 0; c < 4; ++c) {
            blocks.columnWeights[8 * m + c] = static_cast<std::uint16_t>(w[0]);
            blocks.columnWeights[8 * m + 4 + c] = static_cast<std::uint16_t>(w[1]);
        }
    }

    // Every sum is at most 255 x the largest box's scaled area; its rounding
    // must match the routine's for each of them.
    WholeBoxRounding rounding{};
    const std::int64_t area = std::max<std::int64_t>(rowTotal * columnTotal, 1);
    if (!FindWholeBoxRounding(area, std::ldexp(norm, -(qx + qy)), &rounding))
        return false;

    const std::int32_t samples = 4 * e;
    std::fill(blocks.acc + samples, blocks.acc + samples + 4, std::uint16_t{0});
    for (std::int32_t y = 0; y < height; ++y) {
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(y) * perRow;
        for (std::int32_t k = 0; k < blocks.rowCounts[y]; ++k)
            blocks.rowPointers[k] = RowAt(src, srcStep, blocks.rowTaps[at + k].row);
        Spans::WeightedRows16(blocks.rowPointers, blocks.rowWeights + at, blocks.rowCounts[y], samples, blocks.acc);
        Spans::CollapseSpan4(blocks.acc, blocks.start, blocks.columnWeights, width, rounding,
                             dst + static_cast<std::ptrdiff_t>(y) * dstStep);
    }
    *status = PrimitiveStatusCode::Ok;
    return true;
}

}  // namespace

// The routine. Vertical pass: the accumulator row receives the source rows
// under the destination row's box (whole rows with weight 1, the shared rows
// at the box edges with their covered fraction; each weighted sample is the
// double product rounded to float; rows past the region repeat its last row).
// Horizontal pass: each destination sample adds its box of accumulator
// elements in order in double (64-bit integers for kind 0), the head and tail
// elements weighted in double, then stores trunc(sum x norm + 0.5), or the
// float sum x norm for float samples.
template <typename T, int Layout, int Kind, class RowAdd>
PrimitiveStatus SuperSampleKind(const T* src, T* dst, std::int32_t srcStep, std::int32_t dstStep, std::int32_t e,
                                std::int32_t width, std::int32_t height, double a, double b, double norm,
                                std::int32_t stride, std::int32_t regionRows)
{
    if constexpr (Kind == 0 && std::is_same_v<T, std::uint8_t> && (Layout == 1 || Layout == 4)) {
        PrimitiveStatus status = PrimitiveStatusCode::Ok;
        if (SuperSampleWholeBoxes8u<Layout, RowAdd>(src, dst, srcStep, dstStep, e, width, height, a, b, norm,
                                                    regionRows, &status))
            return status;
    }
    if constexpr (Kind != 0 && std::is_same_v<T, std::uint8_t> && Layout == 4) {
        PrimitiveStatus status = PrimitiveStatusCode::Ok;
        if (SuperSampleSpans8u<RowAdd>(src, dst, srcStep, dstStep, e, width, height, a, b, norm, regionRows,
                                       Kind != 2, Kind >= 2, &status))
            return status;
    }
    constexpr bool kIntegerSums = Kind == 0 && std::is_integral_v<T>;
    using Acc = std::conditional_t<Kind == 0, RowSum<T>, float>;
    using Sum = std::conditional_t<kIntegerSums, std::uint64_t, double>;
    constexpr int channels = Channels<Layout>();
    const std::int32_t pixel = Layout == 3 ? stride : channels;
    const bool packed = pixel == channels;

    const std::int64_t accBytes = static_cast<std::int64_t>(e) * pixel * static_cast<std::int64_t>(sizeof(Acc));
    const std::int64_t planBytes = static_cast<std::int64_t>(width) * static_cast<std::int64_t>(sizeof(ColumnBox));
    if (accBytes > std::numeric_limits<std::int32_t>::max() || planBytes > std::numeric_limits<std::int32_t>::max())
        return PrimitiveStatusCode::NoMemory;
    auto* acc = static_cast<Acc*>(AlignedMalloc(static_cast<std::int32_t>(accBytes)));
    auto* boxes = static_cast<ColumnBox*>(AlignedMalloc(static_cast<std::int32_t>(planBytes)));
    if (acc == nullptr || boxes == nullptr) {
        AlignedFree(acc);
        AlignedFree(boxes);
        return PrimitiveStatusCode::NoMemory;
    }
    PlanColumns(boxes, width, e, a, Kind == 2 || Kind == 3);
    // One-channel float accumulators collapse from taps where the slot has a
    // vector body for it.
    std::int32_t* tapIndex = nullptr;
    double* tapWeight = nullptr;
    ColumnTaps taps{0, 0, nullptr, nullptr};
    bool tapped = false;
    if constexpr (Layout == 1 && !kIntegerSums && std::is_same_v<T, std::uint8_t> &&
                  requires { RowAdd::CollapseOne; })
        tapped = BuildColumnTaps(boxes, width, e, &tapIndex, &tapWeight, &taps);

    const auto my = static_cast<std::int64_t>(std::floor(b));
    const std::int64_t lastRow = regionRows - 1;
    const std::int32_t samples = e * pixel;

    // Adds count rows from row (those past the region as the last row, once,
    // with the weight times their number) into the float accumulator.
    // The first row added into a cleared accumulator is written instead
    // (0 + x is x) where the slot's adders can write.
    constexpr bool kWriteFirst = requires { RowAdd::WholeFirst; };
    bool fresh = false;  // the accumulator holds nothing yet and was not cleared
    auto addRows = [&](std::int64_t row, std::int64_t count, double weight) {
        if constexpr (!std::is_same_v<Acc, float>) {
            return;
        } else {
            const std::int64_t inside = std::clamp<std::int64_t>(regionRows - row, 0, count);
            for (std::int64_t r = 0; r < inside + (inside < count ? 1 : 0); ++r) {
                const bool past = r == inside;
                const T* s = RowAt(src, srcStep, past ? lastRow : row + r);
                const double w = past ? weight * static_cast<double>(count - inside) : weight;
                if (packed) {
                    if constexpr (kWriteFirst) {
                        if (fresh) {
                            fresh = false;
                            if (w == 1.0)
                                RowAdd::WholeFirst(s, samples, acc);
                            else
                                RowAdd::WeightedFirst(s, samples, w, acc);
                            continue;
                        }
                    }
                    if (w == 1.0)
                        RowAdd::Whole(s, samples, acc);
                    else
                        RowAdd::Weighted(s, samples, w, acc);
                } else {
                    for (std::int32_t p = 0; p < e; ++p)
                        for (int c = 0; c < channels; ++c)
                            acc[pixel * p + c] += static_cast<float>(static_cast<double>(s[pixel * p + c]) * w);
                }
            }
        }
    };

    std::int64_t row = 0;    // current source row
    double carried = 0.0;    // covered fraction of the current row (fractional b)
    for (std::int32_t y = 0; y < height; ++y) {
        // Vertical pass.
        if constexpr (Kind == 0) {
            const std::int64_t inside = std::clamp<std::int64_t>(regionRows - row, 0, my);
            if (inside > 0)
                SumRows<T, Layout>(RowAt(src, srcStep, row), srcStep, e, static_cast<std::int32_t>(inside), acc,
                                   stride);
            else
                ZeroBytes_x3(acc, static_cast<std::int32_t>(accBytes));
            if (inside < my) {
                const T* s = RowAt(src, srcStep, lastRow);
                const auto extra = static_cast<Acc>(my - inside);
                for (std::int32_t p = 0; p < e; ++p)
                    for (int c = 0; c < channels; ++c)
                        acc[pixel * p + c] += extra * static_cast<Acc>(s[pixel * p + c]);
            }
            row += my;
        } else {
            if (kWriteFirst && packed)
                fresh = true;
            else
                ZeroBytes_x3(acc, static_cast<std::int32_t>(accBytes));
            if constexpr (Kind == 2) {
                addRows(row, my, 1.0);
                row += my;
            } else if (y == 0) {
                addRows(row, my, 1.0);
                row += my;
                carried = b - static_cast<double>(my);
                if (carried != 0.0)
                    addRows(row, 1, carried);
            } else {
                const double rest = 1.0 - carried;
                if (rest > kGuard) {
                    addRows(row, 1, rest);
                    ++row;
                }
                const double u = b - rest;
                const auto whole = static_cast<std::int64_t>(std::floor(u + kGuard));
                addRows(row, whole, 1.0);
                row += whole;
                carried = u - static_cast<double>(whole);
                if (carried > kGuard)
                    addRows(row, 1, carried);
            }
            if (fresh) {
                fresh = false;
                ZeroBytes_x3(acc, static_cast<std::int32_t>(accBytes));
            }
        }

        // Horizontal pass.
        T* out = reinterpret_cast<T*>(reinterpret_cast<std::uint8_t*>(dst) + static_cast<std::ptrdiff_t>(y) * dstStep);
        if constexpr (Layout == 4 && !kIntegerSums && requires { RowAdd::CollapseFour; }) {
            RowAdd::CollapseFour(boxes, width, acc, e, norm, out);
            continue;
        }
        if constexpr (Layout == 1 && !kIntegerSums && std::is_same_v<T, std::uint8_t> &&
                      requires { RowAdd::CollapseOne; }) {
            if (tapped) {
                RowAdd::CollapseOne(taps, acc, norm, out);
                continue;
            }
        }
        for (std::int32_t m = 0; m < width; ++m) {
            const ColumnBox& box = boxes[m];
            T* o = out + static_cast<std::ptrdiff_t>(pixel) * m;
            for (int c = 0; c < channels; ++c) {
                Sum sum{0};
                if constexpr (!kIntegerSums) {
                    if (box.hasHead)
                        sum = box.headWeight * static_cast<double>(acc[pixel * box.head + c]);
                }
                for (std::int64_t i = box.from; i < box.to; ++i)
                    sum += static_cast<Sum>(acc[pixel * i + c]);
                if (box.repeat > 0)
                    sum += static_cast<Sum>(box.repeat) * static_cast<Sum>(acc[pixel * (e - 1) + c]);
                if constexpr (!kIntegerSums) {
                    if (box.hasTail)
                        sum += box.tailWeight * static_cast<double>(acc[pixel * box.tail + c]);
                }
                if constexpr (std::is_integral_v<T>) {
                    // Branch-free clamp (minsd/maxsd); the sums are finite.
                    const double v = std::min(std::max(static_cast<double>(sum) * norm + 0.5, 0.0),
                                              static_cast<double>(std::numeric_limits<T>::max()));
                    o[c] = static_cast<T>(static_cast<std::int32_t>(v));
                } else {
                    o[c] = static_cast<T>(static_cast<double>(sum) * norm);
                }
            }
        }
    }
    AlignedFree(tapWeight);
    AlignedFree(tapIndex);
    AlignedFree(boxes);
    AlignedFree(acc);
    return PrimitiveStatusCode::Ok;
}

template <typename T, int Layout, class RowAdd>
PrimitiveStatus SuperSample(const void* src, void* dst, std::int32_t srcStep, std::int32_t dstStep, std::int32_t e,
                            std::int32_t width, std::int32_t height, double a, double b, double norm,
                            std::int32_t stride, std::int32_t kind, std::int32_t regionRows)
{
    const auto* s = static_cast<const T*>(src);
    auto* d = static_cast<T*>(dst);
    switch (kind) {
    case 0:
        return SuperSampleKind<T, Layout, 0, RowAdd>(s, d, srcStep, dstStep, e, width, height, a, b, norm, stride,
                                                     regionRows);
    case 1:
        return SuperSampleKind<T, Layout, 1, RowAdd>(s, d, srcStep, dstStep, e, width, height, a, b, norm, stride,
                                                     regionRows);
    case 2:
        return SuperSampleKind<T, Layout, 2, RowAdd>(s, d, srcStep, dstStep, e, width, height, a, b, norm, stride,
                                                     regionRows);
    default:
        return SuperSampleKind<T, Layout, 3, RowAdd>(s, d, srcStep, dstStep, e, width, height, a, b, norm, stride,
                                                     regionRows);
    }
}

#define GAVEX_SUPER_SAMPLE(T, LAYOUT)                                                                               \
    template void SumRows<T, LAYOUT>(const T*, std::int32_t, std::int32_t, std::int32_t, RowSum<T>*, std::int32_t); \
    template PrimitiveStatus SuperSample<T, LAYOUT, PortableRowAdd<T>>(const void*, void*, std::int32_t, std::int32_t, std::int32_t,   \
                                                    std::int32_t, std::int32_t, double, double, double,             \
                                                    std::int32_t, std::int32_t, std::int32_t);
GAVEX_SUPER_SAMPLE(std::uint8_t, 1)
GAVEX_SUPER_SAMPLE(std::uint16_t, 1)
GAVEX_SUPER_SAMPLE(float, 1)
GAVEX_SUPER_SAMPLE(std::uint8_t, 3)
GAVEX_SUPER_SAMPLE(std::uint16_t, 3)
GAVEX_SUPER_SAMPLE(float, 3)
GAVEX_SUPER_SAMPLE(std::uint8_t, 4)
GAVEX_SUPER_SAMPLE(std::uint16_t, 4)
GAVEX_SUPER_SAMPLE(float, 4)
#undef GAVEX_SUPER_SAMPLE

namespace {
constexpr SuperSampleTable kPortableSuperSample = {SuperSample8uC1, SuperSample16uC1, SuperSample32fC1,
                                                   SuperSample8uC3, SuperSample16uC3, SuperSample32fC3,
                                                   SuperSample8uC4, SuperSample16uC4, SuperSample32fC4};
#if defined(__x86_64__) || defined(__i386__)
// The 8-bit members with vector row adders; the others stay portable.
template <class RowAdd>
constexpr SuperSampleTable WithRowAdd()
{
    SuperSampleTable table = kPortableSuperSample;
    table[0] = &SuperSample<std::uint8_t, 1, RowAdd>;
    table[3] = &SuperSample<std::uint8_t, 3, RowAdd>;
    table[6] = &SuperSample<std::uint8_t, 4, RowAdd>;
    return table;
}
constexpr SuperSampleTable kSse2SuperSample = WithRowAdd<RowAdd8uSse2>();
constexpr SuperSampleTable kAvx2SuperSample = WithRowAdd<RowAdd8uAvx2>();
#else
constexpr const SuperSampleTable& kSse2SuperSample = kPortableSuperSample;
constexpr const SuperSampleTable& kAvx2SuperSample = kPortableSuperSample;
#endif
}  // namespace

const std::array<const SuperSampleTable*, kCpuVariantCount> kSuperSampleTables = {
    &kPortableSuperSample, &kPortableSuperSample, &kSse2SuperSample,
    &kSse2SuperSample,     &kSse2SuperSample,     &kAvx2SuperSample};

}  // namespace resize_detail
