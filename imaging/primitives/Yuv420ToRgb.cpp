#include "imaging/primitives/Yuv420ToRgb.h"

#include <cstddef>

#include "imaging/primitives/CpuDispatch.h"
#include "imaging/primitives/detail/Yuv420Kernels.h"

// The conversion: with u = U - 128 and v = V - 128, each chroma pair gives,
// in 1/16 of a level,
//   Rv = floor(v x 9338 / 512), Gu = floor(u x 3227 / 512),
//   Gv = floor(v x 4759 / 512), Bu = floor(u x 16646 / 512)
// (the high halves of 16 x 16-bit products of 128 x u or 128 x v), and every
// pixel of its 2x2 block with luma Y
//   R = clamp((16Y + Rv + 8) >> 4), G = clamp((16Y - (Gu + Gv) + 8) >> 4),
//   B = clamp((16Y + Bu + 8) >> 4).
// When the number of chroma pairs in a row is odd, the last pair is computed
// in 16.16 fixed point instead:
//   R = clamp((65536Y + 74711v + 32768) >> 16),
//   G = clamp((65536Y - 25821u - 38076v + 32768) >> 16),
//   B = clamp((65536Y + 133169u + 32768) >> 16),
// which differs from the main form by at most one level. These are the
// inverse of analog YUV with BT.601 luma weights (R = Y + 1.140V,
// G = Y - 0.394U - 0.581V, B = Y + 2.032U), luma unscaled: not the JFIF
// YCbCr coefficients.

namespace primitives_detail {
namespace {

void Yuv420RowPairPortable(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                           const std::uint8_t* v, std::uint8_t* d0, std::uint8_t* d1, std::int32_t n)
{
    ConvertPairsTail(y0, y1, u, v, d0, d1, 0, n);
}

template <Yuv420RowPairKernel Kernel>
PrimitiveStatus ConvertYuv420(const std::uint8_t* const planes[3], const std::int32_t steps[3], std::uint8_t* dst,
                              std::int32_t dstStep, ImageSize size)
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
                   planes[2] + i * static_cast<std::ptrdiff_t>(steps[2]), d0, d0 + outStep, pairs);
        }
    }
    return (size.width & 1) != 0 || (size.height & 1) != 0 ? PrimitiveStatusCode::OddSize
                                                           : PrimitiveStatusCode::Ok;
}

using ConvertFunction = PrimitiveStatus(const std::uint8_t* const[3], const std::int32_t[3], std::uint8_t*,
                                        std::int32_t, ImageSize);

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
    return DispatchCall(primitives_detail::kTable, planes, steps, dst, dstStep, size);
}
