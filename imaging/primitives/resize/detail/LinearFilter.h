#pragma once
// The body of the linear filters: one two-buffer walk over the destination
// rows, and the portable kernel set. Included by the files that instantiate
// filters (and by tests that watch the walk through their own kernel set).

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "imaging/primitives/resize/detail/LinearKernels.h"
#include "imaging/primitives/resize/detail/ResizeFilters.h"

namespace resize_detail {

template <class Kernels, bool OneChannel>
void ResizeLinear(const void* src, void* dst, std::int32_t srcStep, std::int32_t dstStep, std::int32_t width,
                  std::int32_t height, const std::int32_t* rows, const std::int32_t* columns, const void* rowWeights,
                  const void* columnWeights, void* buffer1, void* buffer2, std::int32_t pixelStride,
                  std::int32_t channels)
{
    using Sample = typename Kernels::Sample;
    using Buffer = typename Kernels::Buffer;
    using Weight = typename Kernels::Weight;
    using RowWeight = typename Kernels::RowWeight;
    const auto* source = static_cast<const Sample*>(src);
    auto* out = static_cast<Sample*>(dst);
    const auto* weights = static_cast<const Weight*>(columnWeights);
    const auto* rowWeight = static_cast<const RowWeight*>(rowWeights);

    const int perPixel = OneChannel ? 1 : (channels == 3 ? 3 : 4);
    const bool alphaKept = !OneChannel && pixelStride != channels;

    auto interpolate = [&](std::ptrdiff_t offset, Buffer* buffer) {
        const Sample* row = source + offset;
        if (perPixel == 1)
            Kernels::Row1(row, width, pixelStride, columns, weights, buffer);
        else if (perPixel == 3)
            Kernels::Row3(row, width, pixelStride, columns, weights, buffer);
        else
            Kernels::Row4(row, width, pixelStride, columns, weights, buffer);
    };

    // The two buffers rotate: U holds the upper source row of the current
    // pair, D the lower. An offset lies beyond another when it is further in
    // the direction of the step (a step of 0 counts as backwards).
    const std::ptrdiff_t s = srcStep;
    auto beyond = [s](std::ptrdiff_t a, std::ptrdiff_t b) { return s > 0 ? a > b : a < b; };
    auto* upper = static_cast<Buffer*>(buffer1);
    auto* lower = static_cast<Buffer*>(buffer2);
    interpolate(rows[0], lower);
    std::ptrdiff_t last = s > 0 ? std::ptrdiff_t{rows[0]} - 1 : std::ptrdiff_t{rows[0]} + 1;
    for (std::int32_t i = 0; i < height; ++i) {
        const std::ptrdiff_t r = rows[i];
        if (beyond(r, last)) {
            std::swap(upper, lower);
            bool done = false;
            if constexpr (requires { Kernels::Row4Pair; }) {
                // Both rows of the pair are new: one pass over the columns.
                if (perPixel == 4 && beyond(r, last + s)) {
                    Kernels::Row4Pair(source + r + s, source + r, width, pixelStride, columns, weights, lower, upper);
                    done = true;
                }
            }
            if (!done) {
                interpolate(r + s, lower);
                if (beyond(r, last + s))
                    interpolate(r, upper);
            }
            last = r;
        }
        Sample* o = out + static_cast<std::ptrdiff_t>(i) * dstStep;
        if (alphaKept)
            Kernels::ColumnAC4(o, width, rowWeight[i], upper, lower);
        else
            Kernels::Column(o, width * perPixel, rowWeight[i], upper, lower);
    }
}

template <class RowPolicy, class ColumnPolicy>
struct PortableLinearKernels {
    using Sample = typename RowPolicy::Sample;
    using Buffer = typename RowPolicy::Buffer;
    using Weight = typename RowPolicy::Weight;
    // Q14 row weights are stored as int16, float ones as float.
    using RowWeight = std::conditional_t<sizeof(typename ColumnPolicy::Weight) == 4 &&
                                             std::is_integral_v<typename ColumnPolicy::Weight>,
                                         std::int16_t, typename ColumnPolicy::Weight>;
    static constexpr auto* Row1 = &LinearRowKernel<RowPolicy, 1>;
    static constexpr auto* Row3 = &LinearRowKernel<RowPolicy, 3>;
    static constexpr auto* Row4 = &LinearRowKernel<RowPolicy, 4>;
    static constexpr auto* Column = &LinearColumnKernel<ColumnPolicy, false>;
    static constexpr auto* ColumnAC4 = &LinearColumnKernel<ColumnPolicy, true>;
};

}  // namespace resize_detail
