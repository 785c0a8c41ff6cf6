#include "imaging/primitives/Yuv420ToRgb.h"

#include <cstddef>

#include "imaging/primitives/CpuDispatch.h"
#include "imaging/primitives/detail/Yuv420Kernels.h"

// The conversion: with u = U - 128 and v = V - 128, each chroma pair gives,
// in 1/16 of a level,
//   Rv = floor(v x 13075 / 512), Gu = floor(u x 3209 / 512),
//   Gv = floor(v x 6660 / 512), Bu = floor(u x 16525 / 512)
// and every pixel of its 2x2 block with luma Y the scaled luma
//   L = floor((Y - 16) x 9539 / 512)
// (each the high half of a 16 x 16-bit product of 128 x the centred sample),
//   R = clamp((L + Rv + 8) >> 4), G = clamp((L - (Gu + Gv) + 8) >> 4),
//   B = clamp((L + Bu + 8) >> 4).
// When the number of chroma pairs in a row is odd, the last pair is computed
// in 16.16 fixed point instead:
//   R = clamp((76309 (Y - 16) + 104597v + 32768) >> 16),
//   G = clamp((76309 (Y - 16) - 25675u - 53279v + 32768) >> 16),
//   B = clamp((76309 (Y - 16) + 132201u + 32768) >> 16),
// which differs from the main form by at most one level. These are the
// inverse of BT.601 YCbCr in video range (what decoders of camera and media
// streams deliver): luma scaled by 255/219, chroma by 255/224 with the JFIF
// weights 1.402, 0.344136, 0.714136 and 1.772. Neutral chroma gives grey
// round((Y - 16) x 255 / 219).

namespace primitives_detail {
namespace {

void Yuv420RowPairPortable(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                           const std::uint8_t* v, std::uint8_t* d0, std::uint8_t* d1, std::int32_t n, bool bgr)
{
    ConvertPairsTail(y0, y1, u, v, d0, d1, 0, n, bgr);
}

template <Yuv420RowPairKernel Kernel>
PrimitiveStatus ConvertYuv420(const std::uint8_t* const planes[3], const std::int32_t steps[3], std::uint8_t* dst,
                              std::int32_t dstStep, ImageSize size, bool bgr)
{
    // A null step array would be read below; it is refused with the other
    // null arrays rather than crashing the decode thread.
    if (planes == nullptr || steps == nullptr || dst == nullptr)
        return PrimitiveStatusCode::NullPointer;
    if (size.width <= 0 || size.height <= 0)
        return PrimitiveStatusCode::BadSize;
    if (planes[0] == nullptr || planes[1] == nullptr || planes[2] == nullptr)
        return PrimitiveStatusCode::NullPointer;

    const std::int32_t pairs = size.width / 2;
    const std::int32_t rowPairs = size.height / 2;
    const std::ptrdiff_t yStep = steps[0];
    const std::ptrdiff_t outStep = dstStep;
    if (pairs > 0) {
        for (std::int32_t i = 0; i < rowPairs; ++i) {
            const std::uint8_t* y0 = planes[0] + 2 * i * yStep;
            std::uint8_t* d0 = dst + 2 * i * outStep;
            Kernel(y0, y0 + yStep, planes[1] + i * static_cast<std::ptrdiff_t>(steps[1]),
                   planes[2] + i * static_cast<std::ptrdiff_t>(steps[2]), d0, d0 + outStep, pairs, bgr);
        }
    }
    return (size.width & 1) != 0 || (size.height & 1) != 0 ? PrimitiveStatusCode::OddSize
                                                           : PrimitiveStatusCode::Ok;
}

using ConvertFunction = PrimitiveStatus(const std::uint8_t* const[3], const std::int32_t[3], std::uint8_t*,
                                        std::int32_t, ImageSize, bool);

constexpr ConvertFunction* kPortable = &ConvertYuv420<&Yuv420RowPairPortable>;
#if defined(__x86_64__) || defined(__i386__)
constexpr ConvertFunction* kSse = &ConvertYuv420<&Yuv420RowPairSse2>;
constexpr ConvertFunction* kAvx2 = &ConvertYuv420<&Yuv420RowPairAvx2>;
#else
constexpr ConvertFunction* kSse = kPortable;
constexpr ConvertFunction* kAvx2 = kPortable;
#endif

constexpr CpuDispatchTable<ConvertFunction> kTable = {kPortable, kPortable, kSse, kSse, kSse, kAvx2};

}  // namespace
}  // namespace primitives_detail

PrimitiveStatus ConvertYuv420ToRgb8uP3C3(const std::uint8_t* const planes[3], const std::int32_t steps[3],
                                         std::uint8_t* dst, std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(primitives_detail::kTable, planes, steps, dst, dstStep, size, false);
}

PrimitiveStatus ConvertYuv420ToBgrx8uP3C4(const std::uint8_t* const planes[3], const std::int32_t steps[3],
                                          std::uint8_t* dst, std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(primitives_detail::kTable, planes, steps, dst, dstStep, size, true);
}
