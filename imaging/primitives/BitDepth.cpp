#include "imaging/primitives/BitDepth.h"

#include <cstddef>

#include "imaging/primitives/CpuDispatch.h"

namespace {

namespace Code = PrimitiveStatusCode;

template <typename Src, typename Dst>
PrimitiveStatus CheckConversion(const Src* src, std::int32_t srcStep, const Dst* dst, std::int32_t dstStep,
                                ImageSize size)
{
    if (src == nullptr || dst == nullptr)
        return Code::NullPointer;
    if (size.width <= 0 || size.height <= 0)
        return Code::BadSize;
    if (srcStep <= 0 || dstStep <= 0)
        return Code::BadStep;
    return Code::Ok;
}

// Runs `row` over each row, or once over the whole region when both images
// are packed (no padding between rows).
template <typename Src, typename Dst, typename Row>
void ForEachRow(const Src* src, std::int32_t srcStep, Dst* dst, std::int32_t dstStep, ImageSize size, Row row)
{
    if (static_cast<std::size_t>(srcStep) == size.width * sizeof(Src) &&
        static_cast<std::size_t>(dstStep) == size.width * sizeof(Dst)) {
        row(src, dst, static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height));
        return;
    }
    const auto* s = reinterpret_cast<const std::uint8_t*>(src);
    auto* d = reinterpret_cast<std::uint8_t*>(dst);
    for (std::int32_t y = 0; y < size.height; ++y)
        row(reinterpret_cast<const Src*>(s + static_cast<std::ptrdiff_t>(y) * srcStep),
            reinterpret_cast<Dst*>(d + static_cast<std::ptrdiff_t>(y) * dstStep), static_cast<std::size_t>(size.width));
}

PrimitiveStatus Convert16uTo8uBody(const std::uint16_t* src, std::int32_t srcStep, std::uint8_t* dst,
                                   std::int32_t dstStep, ImageSize size)
{
    if (PrimitiveStatus s = CheckConversion(src, srcStep, dst, dstStep, size); s != Code::Ok)
        return s;
    ForEachRow(src, srcStep, dst, dstStep, size, [](const std::uint16_t* s, std::uint8_t* d, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            d[i] = static_cast<std::uint8_t>(s[i] > 255 ? 255 : s[i]);
    });
    return Code::Ok;
}

PrimitiveStatus AndConstantBody(std::int32_t constant, std::uint16_t* image, std::int32_t step, ImageSize size)
{
    if (image == nullptr)
        return Code::NullPointer;
    if (step <= 0)
        return Code::BadStep;
    if (size.width <= 0 || size.height <= 0)
        return Code::BadSize;
    const auto mask = static_cast<std::uint16_t>(constant & 0xFFFF);
    auto* base = reinterpret_cast<std::uint8_t*>(image);
    for (std::int32_t y = 0; y < size.height; ++y) {
        auto* row = reinterpret_cast<std::uint16_t*>(base + static_cast<std::ptrdiff_t>(y) * step);
        for (std::int32_t x = 0; x < size.width; ++x)
            row[x] = static_cast<std::uint16_t>(row[x] & mask);
    }
    return Code::Ok;
}

template <typename Function>
constexpr CpuDispatchTable<Function> Uniform(Function* f)
{
    return {f, f, f, f, f, f};
}

constexpr auto kWiden = Uniform(&ConvertImage8uTo16sC1_x3);
constexpr auto kNarrow = Uniform(&Convert16uTo8uBody);
constexpr auto kAnd = Uniform(&AndConstantBody);

}  // namespace

PrimitiveStatus ConvertImage8uTo16sC1_x3(const std::uint8_t* src, std::int32_t srcStep, std::int16_t* dst,
                                         std::int32_t dstStep, ImageSize size)
{
    if (PrimitiveStatus s = CheckConversion(src, srcStep, dst, dstStep, size); s != Code::Ok)
        return s;
    ForEachRow(src, srcStep, dst, dstStep, size, [](const std::uint8_t* s, std::int16_t* d, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            d[i] = static_cast<std::int16_t>(s[i]);
    });
    return Code::Ok;
}

PrimitiveStatus ConvertImage8uTo16sC1(const std::uint8_t* src, std::int32_t srcStep, std::int16_t* dst,
                                      std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kWiden, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus ConvertImage16uTo8uC1(const std::uint16_t* src, std::int32_t srcStep, std::uint8_t* dst,
                                      std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kNarrow, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus AndImageConstant16uC1(std::int32_t constant, std::uint16_t* image, std::int32_t step, ImageSize size)
{
    return DispatchCall(kAnd, constant, image, step, size);
}
