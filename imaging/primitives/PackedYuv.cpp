#include "imaging/primitives/PackedYuv.h"

#include <cstddef>

#include "imaging/primitives/detail/UniformTable.h"

namespace primitives_detail {
namespace {

using Status = PrimitiveStatus;
namespace Code = PrimitiveStatusCode;

inline std::ptrdiff_t Offset(std::int32_t row, std::int32_t step)
{
    return static_cast<std::ptrdiff_t>(row) * step;
}

Status Yuy2To420(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* const dst[3],
                 const std::int32_t steps[3], ImageSize size)
{
    // A null step array would be read; it is refused with the other arrays.
    if (src == nullptr || dst == nullptr || steps == nullptr || dst[0] == nullptr || dst[1] == nullptr ||
        dst[2] == nullptr)
        return Code::NullPointer;
    if (size.width < 2 || size.height < 2)
        return Code::BadSize;
    const std::int32_t pairs = size.width / 2;
    for (std::int32_t i = 0; i < size.height / 2; ++i) {
        for (int half = 0; half < 2; ++half) {
            const std::uint8_t* s = src + Offset(2 * i + half, srcStep);
            std::uint8_t* y = dst[0] + Offset(2 * i + half, steps[0]);
            for (std::int32_t j = 0; j < pairs; ++j) {
                y[2 * j] = s[4 * j];
                y[2 * j + 1] = s[4 * j + 2];
            }
        }
        const std::uint8_t* s = src + Offset(2 * i, srcStep);
        std::uint8_t* u = dst[1] + Offset(i, steps[1]);
        std::uint8_t* v = dst[2] + Offset(i, steps[2]);
        for (std::int32_t j = 0; j < pairs; ++j) {
            u[j] = s[4 * j + 1];
            v[j] = s[4 * j + 3];
        }
    }
    return Code::Ok;
}

Status Yuy2To422(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* const dst[3],
                 const std::int32_t steps[3], ImageSize size)
{
    if (src == nullptr || dst == nullptr || steps == nullptr || dst[0] == nullptr || dst[1] == nullptr ||
        dst[2] == nullptr)
        return Code::NullPointer;
    if (size.width < 2 || size.height < 1)
        return Code::BadSize;
    const std::int32_t pairs = size.width / 2;
    for (std::int32_t row = 0; row < size.height; ++row) {
        const std::uint8_t* s = src + Offset(row, srcStep);
        std::uint8_t* y = dst[0] + Offset(row, steps[0]);
        std::uint8_t* u = dst[1] + Offset(row, steps[1]);
        std::uint8_t* v = dst[2] + Offset(row, steps[2]);
        for (std::int32_t j = 0; j < pairs; ++j) {
            y[2 * j] = s[4 * j];
            u[j] = s[4 * j + 1];
            y[2 * j + 1] = s[4 * j + 2];
            v[j] = s[4 * j + 3];
        }
    }
    return Code::Ok;
}

Status Yuv422ToYuy2(const std::uint8_t* const src[3], const std::int32_t steps[3], std::uint8_t* dst,
                    std::int32_t dstStep, ImageSize size)
{
    if (src == nullptr || dst == nullptr || steps == nullptr || src[0] == nullptr || src[1] == nullptr ||
        src[2] == nullptr)
        return Code::NullPointer;
    if (size.width < 2 || size.height < 1)
        return Code::BadSize;
    const std::int32_t pairs = size.width / 2;
    for (std::int32_t row = 0; row < size.height; ++row) {
        const std::uint8_t* y = src[0] + Offset(row, steps[0]);
        const std::uint8_t* u = src[1] + Offset(row, steps[1]);
        const std::uint8_t* v = src[2] + Offset(row, steps[2]);
        std::uint8_t* d = dst + Offset(row, dstStep);
        for (std::int32_t j = 0; j < pairs; ++j) {
            d[4 * j] = y[2 * j];
            d[4 * j + 1] = u[j];
            d[4 * j + 2] = y[2 * j + 1];
            d[4 * j + 3] = v[j];
        }
    }
    return Code::Ok;
}

// Luma in halves of the vector form.
inline int VectorY2(const std::uint8_t* p)
{
    return ((9798 * p[0] + 19235 * p[1]) >> 14) + ((3736 * p[2]) >> 14);
}

// Luma of the per-block forms, in 16.16.
inline int FixedY(const std::uint8_t* p)
{
    return 19595 * p[0] + 38470 * p[1] + 7471 * p[2];
}

Status RgbTo420(const std::uint8_t* src, std::uint8_t* const dst[3], ImageSize size)
{
    if (src == nullptr || dst == nullptr)
        return Code::NullPointer;
    if (size.width <= 0 || size.height <= 0)
        return Code::BadSize;
    if (dst[0] == nullptr || dst[1] == nullptr || dst[2] == nullptr)
        return Code::NullPointer;
    const std::int32_t blocks = size.width / 2;
    const std::int32_t vectorBlocks = blocks / 8 * 8;
    const std::ptrdiff_t rowBytes = 3 * static_cast<std::ptrdiff_t>(size.width);
    for (std::int32_t i = 0; i < size.height / 2; ++i) {
        const std::uint8_t* r0 = src + 2 * i * rowBytes;
        const std::uint8_t* r1 = r0 + rowBytes;
        std::uint8_t* y0 = dst[0] + Offset(2 * i, size.width);
        std::uint8_t* y1 = y0 + size.width;
        std::uint8_t* u = dst[1] + Offset(i, blocks);
        std::uint8_t* v = dst[2] + Offset(i, blocks);
        for (std::int32_t j = 0; j < blocks; ++j) {
            const std::uint8_t* px[4] = {r0 + 6 * j, r0 + 6 * j + 3, r1 + 6 * j, r1 + 6 * j + 3};
            std::uint8_t* ys[4] = {y0 + 2 * j, y0 + 2 * j + 1, y1 + 2 * j, y1 + 2 * j + 1};
            const int sr = px[0][0] + px[1][0] + px[2][0] + px[3][0];
            const int sb = px[0][2] + px[1][2] + px[2][2] + px[3][2];
            if (j < vectorBlocks) {
                int sy2 = 0;
                for (int k = 0; k < 4; ++k) {
                    const int y2 = VectorY2(px[k]);
                    *ys[k] = static_cast<std::uint8_t>(y2 >> 1);
                    sy2 += y2;
                }
                u[j] = ClampByte(((((sb >> 1) - (sy2 >> 2)) * 16121) >> 16) + 128);
                v[j] = ClampByte(((((sr >> 1) - (sy2 >> 2)) * 28737) >> 16) + 128);
            } else {
                int syf = 0;
                for (int k = 0; k < 4; ++k) {
                    const int yf = FixedY(px[k]);
                    *ys[k] = static_cast<std::uint8_t>(yf >> 16);
                    syf += yf;
                }
                const int tb = (65536 * sb - syf + 131071) >> 16;
                const int tr = (65536 * sr - syf + 131071) >> 16;
                u[j] = static_cast<std::uint8_t>(((tb * 32244) >> 18) + 128);
                v[j] = ClampByte(((tr * 57475) >> 18) + 128);
            }
        }
    }
    return (size.width & 1) != 0 || (size.height & 1) != 0 ? Code::OddSize : Code::Ok;
}

// One row of `count` pixels of the 4:2:2 conversion.
void RgbTo422Row(const std::uint8_t* s, std::int32_t count, std::uint8_t* y, std::uint8_t* u, std::uint8_t* v)
{
    const std::int32_t pairs = count / 2;
    const std::int32_t vectorPairs = pairs / 8 * 8;
    for (std::int32_t j = 0; j < pairs; ++j) {
        const std::uint8_t* p0 = s + 6 * j;
        const std::uint8_t* p1 = p0 + 3;
        const int sr = p0[0] + p1[0];
        const int sb = p0[2] + p1[2];
        if (j < vectorPairs) {
            const int a = VectorY2(p0);
            const int b = VectorY2(p1);
            y[2 * j] = static_cast<std::uint8_t>(a >> 1);
            y[2 * j + 1] = static_cast<std::uint8_t>(b >> 1);
            const int sy2 = a + b;
            u[j] = ClampByte((((sb - (sy2 >> 1)) * 16121) >> 16) + 128);
            v[j] = ClampByte((((sr - (sy2 >> 1)) * 28737) >> 16) + 128);
        } else {
            const int a = FixedY(p0);
            const int b = FixedY(p1);
            y[2 * j] = static_cast<std::uint8_t>(a >> 16);
            y[2 * j + 1] = static_cast<std::uint8_t>(b >> 16);
            const int tb = (65536 * sb - (a + b) + 65535) >> 16;
            const int tr = (65536 * sr - (a + b) + 65535) >> 16;
            u[j] = static_cast<std::uint8_t>(((tb * 32244) >> 17) + 128);
            v[j] = ClampByte(((tr * 57475) >> 17) + 128);
        }
    }
    if ((count & 1) != 0) {
        const std::uint8_t* p = s + 3 * (count - 1);
        const int yq = 9798 * p[0] + 19235 * p[1] + 3736 * p[2];
        y[count - 1] = static_cast<std::uint8_t>(yq >> 15);
        u[pairs] = static_cast<std::uint8_t>((((32768 * p[2] - yq + 16383) >> 15) * 16121 >> 15) + 128);
        v[pairs] = ClampByte((((32768 * p[0] - yq + 32767) >> 15) * 28737 >> 15) + 128);
    }
}

Status RgbTo422(const std::uint8_t* src, std::uint8_t* const dst[3], ImageSize size)
{
    if (src == nullptr || dst == nullptr)
        return Code::NullPointer;
    if (size.width <= 0 || size.height <= 0)
        return Code::BadSize;
    if (dst[0] == nullptr || dst[1] == nullptr || dst[2] == nullptr)
        return Code::NullPointer;
    // Packed buffers of even width hold whole pixel pairs end to end, so a
    // large image is one long row.
    if (static_cast<std::int64_t>(size.width) * size.height >= 256 && (size.width & 1) == 0 &&
        static_cast<std::int64_t>(size.width) * size.height <= INT32_MAX) {
        RgbTo422Row(src, size.width * size.height, dst[0], dst[1], dst[2]);
        return Code::Ok;
    }
    const std::int32_t chroma = (size.width + 1) / 2;
    for (std::int32_t row = 0; row < size.height; ++row)
        RgbTo422Row(src + 3 * Offset(row, size.width), size.width, dst[0] + Offset(row, size.width),
                    dst[1] + Offset(row, chroma), dst[2] + Offset(row, chroma));
    return Code::Ok;
}

using Split = Status(const std::uint8_t*, std::int32_t, std::uint8_t* const[3], const std::int32_t[3], ImageSize);
using Join = Status(const std::uint8_t* const[3], const std::int32_t[3], std::uint8_t*, std::int32_t, ImageSize);
using FromRgb = Status(const std::uint8_t*, std::uint8_t* const[3], ImageSize);

constexpr auto kYuy2To420 = UniformTable<Split>(&Yuy2To420);
constexpr auto kYuy2To422 = UniformTable<Split>(&Yuy2To422);
constexpr auto kRgbTo420 = UniformTable<FromRgb>(&RgbTo420);
constexpr auto kRgbTo422 = UniformTable<FromRgb>(&RgbTo422);
constexpr auto kToYuy2 = UniformTable<Join>(&Yuv422ToYuy2);

}  // namespace
}  // namespace primitives_detail

PrimitiveStatus ConvertYuy2ToYCbCr420_8uC2P3(const std::uint8_t* src, std::int32_t srcStep,
                                             std::uint8_t* const dst[3], const std::int32_t dstSteps[3],
                                             ImageSize size)
{
    return DispatchCall(primitives_detail::kYuy2To420, src, srcStep, dst, dstSteps, size);
}

PrimitiveStatus ConvertYuy2ToYCbCr422_8uC2P3(const std::uint8_t* src, std::int32_t srcStep,
                                             std::uint8_t* const dst[3], const std::int32_t dstSteps[3],
                                             ImageSize size)
{
    return DispatchCall(primitives_detail::kYuy2To422, src, srcStep, dst, dstSteps, size);
}

PrimitiveStatus ConvertRgbToYuv420_8uC3P3(const std::uint8_t* src, std::uint8_t* const dst[3], ImageSize size)
{
    return DispatchCall(primitives_detail::kRgbTo420, src, dst, size);
}

PrimitiveStatus ConvertRgbToYuv422_8uC3P3(const std::uint8_t* src, std::uint8_t* const dst[3], ImageSize size)
{
    return DispatchCall(primitives_detail::kRgbTo422, src, dst, size);
}

PrimitiveStatus ConvertYCbCr422ToYuy2_8uP3C2(const std::uint8_t* const src[3], const std::int32_t srcSteps[3],
                                             std::uint8_t* dst, std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(primitives_detail::kToYuy2, src, srcSteps, dst, dstStep, size);
}
