#include "imaging/primitives/ChromaRows.h"

#include "imaging/primitives/detail/UniformTable.h"

namespace primitives_detail {
namespace {

using Status = PrimitiveStatus;
namespace Code = PrimitiveStatusCode;

Status DownH2V2(const std::uint8_t* a, const std::uint8_t* b, std::int32_t length, std::uint8_t* out)
{
    if (a == nullptr || b == nullptr || out == nullptr)
        return Code::NullPointer;
    if (length <= 0)
        return Code::BadSize;
    for (std::int32_t k = 0; k < length / 2; ++k) {
        const int bias = (k & 1) != 0 ? 2 : 1;
        out[k] = static_cast<std::uint8_t>((a[2 * k] + a[2 * k + 1] + b[2 * k] + b[2 * k + 1] + bias) >> 2);
    }
    return Code::Ok;
}

Status DownH2V1(const std::uint8_t* s, std::int32_t length, std::uint8_t* out)
{
    if (s == nullptr || out == nullptr)
        return Code::NullPointer;
    if (length <= 0)
        return Code::BadSize;
    // Short rows end on bias 0 and alternate backwards from there, which
    // reverses the pattern for rows of 4, 8 and 12 samples.
    const int evenBias = length == 4 || length == 8 || length == 12 ? 1 : 0;
    for (std::int32_t k = 0; k < length / 2; ++k) {
        const int bias = (k & 1) != 0 ? 1 - evenBias : evenBias;
        out[k] = static_cast<std::uint8_t>((s[2 * k] + s[2 * k + 1] + bias) >> 1);
    }
    return Code::Ok;
}

Status UpH2V1(const std::uint8_t* s, std::int32_t n, std::uint8_t* out)
{
    if (s == nullptr || out == nullptr)
        return Code::NullPointer;
    if (n < 1)
        return Code::BadSize;
    if (n == 1) {
        out[0] = out[1] = s[0];
        return Code::Ok;
    }
    out[0] = s[0];
    out[1] = static_cast<std::uint8_t>((3 * s[0] + s[1] + 2) >> 2);
    for (std::int32_t j = 1; j < n - 1; ++j) {
        out[2 * j] = static_cast<std::uint8_t>((3 * s[j] + s[j - 1] + 1) >> 2);
        out[2 * j + 1] = static_cast<std::uint8_t>((3 * s[j] + s[j + 1] + 2) >> 2);
    }
    out[2 * n - 2] = static_cast<std::uint8_t>((3 * s[n - 1] + s[n - 2] + 1) >> 2);
    out[2 * n - 1] = s[n - 1];
    return Code::Ok;
}

Status UpH2V2(const std::uint8_t* p, const std::uint8_t* f, std::int32_t n, std::uint8_t* out)
{
    if (p == nullptr || f == nullptr || out == nullptr)
        return Code::NullPointer;
    if (n < 1)
        return Code::BadSize;
    auto c = [&](std::int32_t j) { return 3 * p[j] + f[j]; };
    if (n == 1) {
        out[0] = static_cast<std::uint8_t>((4 * c(0) + 8) >> 4);
        out[1] = static_cast<std::uint8_t>((4 * c(0) + 7) >> 4);
        return Code::Ok;
    }
    out[0] = static_cast<std::uint8_t>((4 * c(0) + 8) >> 4);
    out[1] = static_cast<std::uint8_t>((3 * c(0) + c(1) + 7) >> 4);
    for (std::int32_t j = 1; j < n - 1; ++j) {
        out[2 * j] = static_cast<std::uint8_t>((3 * c(j) + c(j - 1) + 8) >> 4);
        out[2 * j + 1] = static_cast<std::uint8_t>((3 * c(j) + c(j + 1) + 7) >> 4);
    }
    out[2 * n - 2] = static_cast<std::uint8_t>((3 * c(n - 1) + c(n - 2) + 8) >> 4);
    out[2 * n - 1] = static_cast<std::uint8_t>((4 * c(n - 1) + 7) >> 4);
    return Code::Ok;
}

using TwoRows = Status(const std::uint8_t*, const std::uint8_t*, std::int32_t, std::uint8_t*);
using OneRow = Status(const std::uint8_t*, std::int32_t, std::uint8_t*);

constexpr auto kDownH2V2 = UniformTable<TwoRows>(&DownH2V2);
constexpr auto kDownH2V1 = UniformTable<OneRow>(&DownH2V1);
constexpr auto kUpH2V2 = UniformTable<TwoRows>(&UpH2V2);
constexpr auto kUpH2V1 = UniformTable<OneRow>(&UpH2V1);

}  // namespace
}  // namespace primitives_detail

PrimitiveStatus DownsampleRowH2V2(const std::uint8_t* upper, const std::uint8_t* lower, std::int32_t length,
                                  std::uint8_t* dst)
{
    return DispatchCall(primitives_detail::kDownH2V2, upper, lower, length, dst);
}

PrimitiveStatus DownsampleRowH2V1(const std::uint8_t* src, std::int32_t length, std::uint8_t* dst)
{
    return DispatchCall(primitives_detail::kDownH2V1, src, length, dst);
}

PrimitiveStatus UpsampleRowH2V2(const std::uint8_t* nearer, const std::uint8_t* farther, std::int32_t length,
                                std::uint8_t* dst)
{
    return DispatchCall(primitives_detail::kUpH2V2, nearer, farther, length, dst);
}

PrimitiveStatus UpsampleRowH2V1(const std::uint8_t* src, std::int32_t length, std::uint8_t* dst)
{
    return DispatchCall(primitives_detail::kUpH2V1, src, length, dst);
}
