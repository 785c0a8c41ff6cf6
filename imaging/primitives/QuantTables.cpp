#include "imaging/primitives/QuantTables.h"

#include "imaging/primitives/BitDepth.h"
#include "imaging/primitives/VectorOps.h"
#include "imaging/primitives/detail/UniformTable.h"

const std::int32_t NaturalToZigzag[64] = {
    0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42, 3,  8,  12, 17, 25, 30,
    41, 43, 9,  11, 18, 24, 31, 40, 44, 53, 10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38,
    46, 51, 55, 60, 21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63,
};

namespace primitives_detail {
namespace {

using Status = PrimitiveStatus;
namespace Code = PrimitiveStatusCode;

Status ScaleByQuality(std::uint8_t table[64], std::int32_t quality)
{
    if (table == nullptr)
        return Code::NullPointer;
    if (quality <= 0)
        return Code::BadArgument;
    const std::int32_t factor = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    for (int i = 0; i < 64; ++i) {
        const std::int32_t b = (factor * table[i] + 50) / 100;
        table[i] = static_cast<std::uint8_t>(b >= 255 ? 255 : b <= 0 ? 1 : b);
    }
    return Code::Ok;
}

Status ZigzagToNatural(const std::int16_t source[64], std::int16_t destination[64])
{
    if (source == nullptr || destination == nullptr)
        return Code::NullPointer;
    for (int k = 0; k < 64; ++k)
        destination[k] = source[NaturalToZigzag[k]];
    return Code::Ok;
}

// Widens the raw bytes and reorders them to natural order.
Status RawToNatural(const std::uint8_t raw[64], std::uint16_t natural[64])
{
    std::int16_t wide[64];
    Status status = ConvertImage8uTo16sC1_x3(raw, 8, wide, 16, {8, 8});
    if (status != Code::Ok)
        return status;
    return ZigzagToNatural(wide, reinterpret_cast<std::int16_t*>(natural));
}

Status DivideConstant(std::uint16_t constant, std::uint16_t* values, std::int32_t length)
{
    if (values == nullptr)
        return Code::NullPointer;
    if (length <= 0)
        return Code::BadSize;
    bool zeroSeen = false;
    for (std::int32_t i = 0; i < length; ++i)
        zeroSeen = zeroSeen || values[i] == 0;
    if (constant == 0) {
        ZeroVector16s_x3(reinterpret_cast<std::int16_t*>(values), length);
        return zeroSeen ? Code::DivisorZero : Code::Ok;
    }
    for (std::int32_t i = 0; i < length; ++i) {
        const std::uint32_t x = values[i];
        if (x == 0) {
            values[i] = 65535;
            continue;
        }
        if (x == 1) {
            values[i] = constant;
            continue;
        }
        std::uint32_t q = constant / x;
        const std::uint32_t twiceRest = 2 * (constant % x);
        if (twiceRest > x || (twiceRest == x && (q & 1) != 0))
            ++q;
        values[i] = static_cast<std::uint16_t>(q > 32767 ? 32767 : q);
    }
    return zeroSeen ? Code::DivisorZero : Code::Ok;
}

Status ForwardTable(const std::uint8_t raw[64], std::uint16_t forward[64])
{
    if (raw == nullptr || forward == nullptr)
        return Code::NullPointer;
    const Status status = RawToNatural(raw, forward);
    if (status != Code::Ok)
        return status;
    return DivideConstant(32768, forward, 64);
}

Status InverseTable(const std::uint8_t raw[64], std::uint16_t inverse[64])
{
    if (raw == nullptr || inverse == nullptr)
        return Code::NullPointer;
    return RawToNatural(raw, inverse);
}

constexpr auto kScale = UniformTable<Status(std::uint8_t*, std::int32_t)>(&ScaleByQuality);
constexpr auto kForward = UniformTable<Status(const std::uint8_t*, std::uint16_t*)>(&ForwardTable);
constexpr auto kInverse = UniformTable<Status(const std::uint8_t*, std::uint16_t*)>(&InverseTable);
constexpr auto kZigzag = UniformTable<Status(const std::int16_t*, std::int16_t*)>(&ZigzagToNatural);
constexpr auto kDivide = UniformTable<Status(std::uint16_t, std::uint16_t*, std::int32_t)>(&DivideConstant);

}  // namespace
}  // namespace primitives_detail

PrimitiveStatus ScaleQuantTableByQuality8u(std::uint8_t table[64], std::int32_t quality)
{
    return DispatchCall(primitives_detail::kScale, table, quality);
}

PrimitiveStatus InitForwardQuantTable8u(const std::uint8_t raw[64], std::uint16_t forward[64])
{
    return DispatchCall(primitives_detail::kForward, raw, forward);
}

PrimitiveStatus InitInverseQuantTable8u(const std::uint8_t raw[64], std::uint16_t inverse[64])
{
    return DispatchCall(primitives_detail::kInverse, raw, inverse);
}

PrimitiveStatus ZigzagToNatural8x8_16s(const std::int16_t source[64], std::int16_t destination[64])
{
    return DispatchCall(primitives_detail::kZigzag, source, destination);
}

PrimitiveStatus DivideConstantByVector16uInPlace(std::uint16_t constant, std::uint16_t* values, std::int32_t length)
{
    return DispatchCall(primitives_detail::kDivide, constant, values, length);
}
