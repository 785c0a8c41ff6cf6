#include "imaging/primitives/VectorOps.h"

#include <cstring>

#include "imaging/primitives/CpuDispatch.h"

// The byte kernels lean on the C library: its memset, memcpy and memmove
// already pick their stores (including cache-bypassing ones for runs larger
// than the caches) from the processor they run on, which is what the vector
// builds of these kernels would do by hand.

void ZeroBytes_x3(void* dst, std::int32_t n)
{
    std::memset(dst, 0, static_cast<std::size_t>(n));
}

void CopyBytes_x3(const void* src, void* dst, std::int32_t n)
{
    if (n > 0)
        std::memcpy(dst, src, static_cast<std::size_t>(n));
}

void MoveBytes_x3(const void* src, void* dst, std::uint32_t n)
{
    if (src != dst)
        std::memmove(dst, src, n);
}

namespace {

namespace Code = PrimitiveStatusCode;

PrimitiveStatus CheckCopy(const void* src, const void* dst, std::int32_t n)
{
    if (src == nullptr || dst == nullptr)
        return Code::NullPointer;
    return n <= 0 ? Code::BadSize : Code::Ok;
}

PrimitiveStatus CheckZero(const void* dst, std::int32_t n)
{
    if (dst == nullptr)
        return Code::NullPointer;
    return n <= 0 ? Code::BadSize : Code::Ok;
}

PrimitiveStatus MoveVector8uBody(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n)
{
    if (PrimitiveStatus s = CheckCopy(src, dst, n); s != Code::Ok)
        return s;
    MoveBytes_x3(src, dst, static_cast<std::uint32_t>(n));
    return Code::Ok;
}

PrimitiveStatus CopyVector16sBody(const std::int16_t* src, std::int16_t* dst, std::int32_t n)
{
    if (PrimitiveStatus s = CheckCopy(src, dst, n); s != Code::Ok)
        return s;
    CopyBytes_x3(src, dst, 2 * n);
    return Code::Ok;
}

PrimitiveStatus ShiftLeftVector16sBody(const std::int16_t* src, std::int32_t shift, std::int16_t* dst,
                                       std::int32_t n)
{
    if (shift == 0)
        return CopyVector16sBody(src, dst, n);
    if (shift >= 16) {
        if (src == nullptr)
            return Code::NullPointer;
        return ZeroVector16s_x3(dst, n);
    }
    if (PrimitiveStatus s = CheckCopy(src, dst, n); s != Code::Ok)
        return s;
    if (shift < 0)
        return Code::BadShift;
    for (std::int32_t i = 0; i < n; ++i)
        dst[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint16_t>(src[i]) << shift));
    return Code::Ok;
}

PrimitiveStatus ShiftRightVector16sInPlaceBody(std::int32_t shift, std::int16_t* values, std::int32_t n)
{
    if (PrimitiveStatus s = CheckZero(values, n); s != Code::Ok)
        return s;
    if (shift < 0)
        return Code::BadShift;
    if (shift == 0)
        return Code::Ok;
    const int bits = shift > 15 ? 15 : shift;  // 16 or more leaves only the sign
    for (std::int32_t i = 0; i < n; ++i)
        values[i] = static_cast<std::int16_t>(values[i] >> bits);
    return Code::Ok;
}

template <typename Function>
constexpr CpuDispatchTable<Function> Uniform(Function* f)
{
    return {f, f, f, f, f, f};
}

constexpr auto kZero8u = Uniform(&ZeroVector8u_x3);
constexpr auto kCopy8u = Uniform(&CopyVector8u_x3);
constexpr auto kMove8u = Uniform(&MoveVector8uBody);
constexpr auto kZero16s = Uniform(&ZeroVector16s_x3);
constexpr auto kCopy16s = Uniform(&CopyVector16sBody);
constexpr auto kShiftLeft16s = Uniform(&ShiftLeftVector16sBody);
constexpr auto kShiftRight16s = Uniform(&ShiftRightVector16sInPlaceBody);

}  // namespace

PrimitiveStatus ZeroVector8u_x3(std::uint8_t* dst, std::int32_t n)
{
    if (PrimitiveStatus s = CheckZero(dst, n); s != Code::Ok)
        return s;
    ZeroBytes_x3(dst, n);
    return Code::Ok;
}

PrimitiveStatus CopyVector8u_x3(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n)
{
    if (PrimitiveStatus s = CheckCopy(src, dst, n); s != Code::Ok)
        return s;
    CopyBytes_x3(src, dst, n);
    return Code::Ok;
}

PrimitiveStatus ZeroVector16s_x3(std::int16_t* dst, std::int32_t n)
{
    if (PrimitiveStatus s = CheckZero(dst, n); s != Code::Ok)
        return s;
    ZeroBytes_x3(dst, 2 * n);
    return Code::Ok;
}

PrimitiveStatus CopyVector32_x3(const void* src, void* dst, std::int32_t n)
{
    if (PrimitiveStatus s = CheckCopy(src, dst, n); s != Code::Ok)
        return s;
    CopyBytes_x3(src, dst, 4 * n);
    return Code::Ok;
}

PrimitiveStatus CopyVector32_alt(const void* src, void* dst, std::int32_t n)
{
    return CopyVector32_x3(src, dst, n);
}

PrimitiveStatus ZeroVector8u(std::uint8_t* dst, std::int32_t n)
{
    return DispatchCall(kZero8u, dst, n);
}

PrimitiveStatus CopyVector8u(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n)
{
    return DispatchCall(kCopy8u, src, dst, n);
}

PrimitiveStatus MoveVector8u(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n)
{
    return DispatchCall(kMove8u, src, dst, n);
}

PrimitiveStatus ZeroVector16s(std::int16_t* dst, std::int32_t n)
{
    return DispatchCall(kZero16s, dst, n);
}

PrimitiveStatus CopyVector16s(const std::int16_t* src, std::int16_t* dst, std::int32_t n)
{
    return DispatchCall(kCopy16s, src, dst, n);
}

PrimitiveStatus ShiftLeftVector16s(const std::int16_t* src, std::int32_t shift, std::int16_t* dst, std::int32_t n)
{
    return DispatchCall(kShiftLeft16s, src, shift, dst, n);
}

PrimitiveStatus ShiftRightVector16sInPlace(std::int32_t shift, std::int16_t* values, std::int32_t n)
{
    return DispatchCall(kShiftRight16s, shift, values, n);
}
