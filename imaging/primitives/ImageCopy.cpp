#include "imaging/primitives/ImageCopy.h"

#include <cstddef>
#include <cstring>

#include "imaging/primitives/CpuDispatch.h"
#include "imaging/primitives/detail/CopyKernels.h"

namespace primitives_detail {

void CopyRowPortable(const void* src, void* dst, std::size_t n, bool /*nonTemporal*/)
{
    std::memcpy(dst, src, n);
}

namespace {

using Status = PrimitiveStatus;
namespace Code = PrimitiveStatusCode;

inline Status CheckSize(ImageSize size)
{
    return size.width <= 0 || size.height <= 0 ? Code::BadSize : Code::Ok;
}

template <typename T>
inline const T* RowAt(const T* base, std::ptrdiff_t step, std::int32_t row)
{
    return reinterpret_cast<const T*>(reinterpret_cast<const std::uint8_t*>(base) + row * step);
}

template <typename T>
inline T* RowAt(T* base, std::ptrdiff_t step, std::int32_t row)
{
    return reinterpret_cast<T*>(reinterpret_cast<std::uint8_t*>(base) + row * step);
}

// Cache-bypassing stores pay only when the region cannot stay in the caches:
// above the copy threshold and at least as large as the largest cache the
// processor reports. Where the processor reports no size (every processor
// but Intel's), ordinary stores are kept: measured on a 1080p frame, streaming
// a region that fits the last-level cache costs up to five times the time of
// the C library's copy. The decision is the same for every row of one call.
bool StreamRegion(std::int64_t bytesWritten)
{
    if (bytesWritten <= kCopyStreamingThreshold)
        return false;
    std::int32_t cache = 0;
    return GetMaxCacheSize(&cache) == Code::Ok && bytesWritten >= cache;
}

template <CopyRowFunction Row>
Status CopyPlane(const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep, ImageSize size,
                 std::int32_t pixelBytes)
{
    if (src == nullptr || dst == nullptr)
        return Code::NullPointer;
    if (Status s = CheckSize(size); s != Code::Ok)
        return s;
    const std::size_t rowBytes = static_cast<std::size_t>(size.width) * pixelBytes;
    const std::size_t total = rowBytes * static_cast<std::size_t>(size.height);
    const bool stream = StreamRegion(static_cast<std::int64_t>(total));
    if (static_cast<std::size_t>(srcStep) == rowBytes && static_cast<std::size_t>(dstStep) == rowBytes) {
        Row(src, dst, total, stream);
        return Code::Ok;
    }
    for (std::int32_t y = 0; y < size.height; ++y)
        Row(RowAt(static_cast<const std::uint8_t*>(src), srcStep, y), RowAt(static_cast<std::uint8_t*>(dst), dstStep, y),
            rowBytes, stream);
    return Code::Ok;
}

template <CopyRowFunction Row>
Status Copy8uC4(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* dst, std::int32_t dstStep,
                ImageSize size)
{
    return CopyPlane<Row>(src, srcStep, dst, dstStep, size, 4);
}

template <CopyRowFunction Row>
Status Copy8uC1(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* dst, std::int32_t dstStep,
                ImageSize size)
{
    return CopyPlane<Row>(src, srcStep, dst, dstStep, size, 1);
}

template <CopyRowFunction Row>
Status Copy16uC1(const std::uint16_t* src, std::int32_t srcStep, std::uint16_t* dst, std::int32_t dstStep,
                 ImageSize size)
{
    return CopyPlane<Row>(src, srcStep, dst, dstStep, size, 2);
}

// ---- 3-byte to 4-byte pixels

using C3AC4Row = void (*)(const std::uint8_t*, std::uint8_t*, std::int32_t);

void CopyRow8uC3AC4Portable(const std::uint8_t* src, std::uint8_t* dst, std::int32_t w)
{
    for (std::int32_t x = 0; x < w; ++x) {
        dst[4 * x + 0] = src[3 * x + 0];
        dst[4 * x + 1] = src[3 * x + 1];
        dst[4 * x + 2] = src[3 * x + 2];
    }
}

template <C3AC4Row Row>
Status Copy8uC3AC4(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* dst, std::int32_t dstStep,
                   ImageSize size)
{
    if (src == nullptr || dst == nullptr)
        return Code::NullPointer;
    if (Status s = CheckSize(size); s != Code::Ok)
        return s;
    for (std::int32_t y = 0; y < size.height; ++y)
        Row(RowAt(src, srcStep, y), RowAt(dst, dstStep, y), size.width);
    return Code::Ok;
}

using SwapRow = void (*)(const std::uint8_t*, std::uint8_t*, std::int32_t, const std::int32_t*, std::uint8_t);

void SwapRow8uC3C4Portable(const std::uint8_t* src, std::uint8_t* dst, std::int32_t w, const std::int32_t order[4],
                           std::uint8_t fill)
{
    primitives_detail::SwapPixels8uC3C4(src, dst, 0, w, order, fill);
}

template <SwapRow Row>
Status Swap8uC3C4(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* dst, std::int32_t dstStep,
                  ImageSize size, const std::int32_t order[4], std::uint8_t fill)
{
    if (src == nullptr || dst == nullptr || order == nullptr)
        return Code::NullPointer;
    if (Status s = CheckSize(size); s != Code::Ok)
        return s;
    // A negative fourth entry would index before the pixel; it is refused like
    // the other three.
    for (int i = 0; i < 4; ++i)
        if (order[i] < 0)
            return Code::BadChannelOrder;
    for (std::int32_t y = 0; y < size.height; ++y)
        Row(RowAt(src, srcStep, y), RowAt(dst, dstStep, y), size.width, order, fill);
    return Code::Ok;
}

// ---- joins and splits

template <typename T, int N>
Status CheckPlanes(const T* const planes[N])
{
    for (int c = 0; c < N; ++c)
        if (planes[c] == nullptr)
            return Code::NullPointer;
    return Code::Ok;
}

// Row steps are byte counts and are not validated, so 16-bit rows may start
// on odd addresses: samples are moved with memcpy, which compiles to plain
// loads and stores.
template <typename T>
inline void MoveSample(T* to, const T* from)
{
    std::memcpy(to, from, sizeof(T));
}

template <typename T, int N>
void JoinRowPortable(const T* const planes[N], T* dst, std::int32_t w)
{
    for (std::int32_t x = 0; x < w; ++x)
        for (int c = 0; c < N; ++c)
            MoveSample(dst + N * x + c, planes[c] + x);
}

template <typename T, int N>
void SplitRowPortable(const T* src, T* const planes[N], std::int32_t w)
{
    for (int c = 0; c < N; ++c) {
        T* plane = planes[c];
        for (std::int32_t x = 0; x < w; ++x)
            MoveSample(plane + x, src + N * x + c);
    }
}

template <typename T, int N>
using JoinRowFunction = void (*)(const T* const planes[N], T* dst, std::int32_t w);

template <typename T, int N, JoinRowFunction<T, N> Row>
Status Join(const T* const planes[N], std::int32_t srcStep, T* dst, std::int32_t dstStep, ImageSize size)
{
    if (planes == nullptr || dst == nullptr)
        return Code::NullPointer;
    if (Status s = CheckPlanes<T, N>(planes); s != Code::Ok)
        return s;
    if (Status s = CheckSize(size); s != Code::Ok)
        return s;
    const std::int64_t rowBytes = static_cast<std::int64_t>(size.width) * sizeof(T);
    if (srcStep == rowBytes && dstStep == N * rowBytes) {
        Row(planes, dst, size.width * size.height);
        return Code::Ok;
    }
    for (std::int32_t y = 0; y < size.height; ++y) {
        const T* rows[N];
        for (int c = 0; c < N; ++c)
            rows[c] = RowAt(planes[c], srcStep, y);
        Row(rows, RowAt(dst, dstStep, y), size.width);
    }
    return Code::Ok;
}

template <typename T, int N>
using SplitRowFunction = void (*)(const T* src, T* const planes[N], std::int32_t w);

template <typename T, int N, SplitRowFunction<T, N> Row = &SplitRowPortable<T, N>>
Status Split(const T* src, std::int32_t srcStep, T* const planes[N], std::int32_t dstStep, ImageSize size)
{
    if (src == nullptr || planes == nullptr)
        return Code::NullPointer;
    for (int c = 0; c < N; ++c)
        if (planes[c] == nullptr)
            return Code::NullPointer;
    if (Status s = CheckSize(size); s != Code::Ok)
        return s;
    const std::int64_t rowBytes = static_cast<std::int64_t>(size.width) * sizeof(T);
    if (dstStep == rowBytes && srcStep == N * rowBytes) {
        Row(src, planes, size.width * size.height);
        return Code::Ok;
    }
    for (std::int32_t y = 0; y < size.height; ++y) {
        T* rows[N];
        for (int c = 0; c < N; ++c)
            rows[c] = RowAt(planes[c], dstStep, y);
        Row(RowAt(src, srcStep, y), rows, size.width);
    }
    return Code::Ok;
}

#if defined(__x86_64__) || defined(__i386__)
void JoinRow8uP3C3Vector(const std::uint8_t* const planes[3], std::uint8_t* dst, std::int32_t w)
{
    JoinRow8uP3C3Ssse3(planes[0], planes[1], planes[2], dst, w);
}

void SplitRow8uC3P3Vector(const std::uint8_t* src, std::uint8_t* const planes[3], std::int32_t w)
{
    SplitRow8uC3P3Ssse3(src, planes[0], planes[1], planes[2], w);
}

void SplitRow8uC4P4Vector(const std::uint8_t* src, std::uint8_t* const planes[4], std::int32_t w)
{
    SplitRow8uC4P4Ssse3(src, planes[0], planes[1], planes[2], planes[3], w);
}
#endif

// ---- tables

template <typename Function>
constexpr CpuDispatchTable<Function> Uniform(Function* f)
{
    return {f, f, f, f, f, f};
}

// Portable in slots 0-1, `vector` in the SSSE3 and SSE4.1 slots, `avx` in slot 5.
template <typename Function>
constexpr CpuDispatchTable<Function> Vectorised(Function* portable, Function* vector, Function* avx)
{
    return {portable, portable, vector, vector, vector, avx};
}

#if defined(__x86_64__) || defined(__i386__)
constexpr auto kCopy8uC4 = Vectorised<Status(const std::uint8_t*, std::int32_t, std::uint8_t*, std::int32_t, ImageSize)>(
    &Copy8uC4<&CopyRowPortable>, &Copy8uC4<&CopyRowStreamingSse2>, &Copy8uC4<&CopyRowStreamingAvx2>);
constexpr auto kCopy8uC1 = Vectorised<Status(const std::uint8_t*, std::int32_t, std::uint8_t*, std::int32_t, ImageSize)>(
    &Copy8uC1<&CopyRowPortable>, &Copy8uC1<&CopyRowStreamingSse2>, &Copy8uC1<&CopyRowStreamingAvx2>);
constexpr auto kCopy16uC1 =
    Vectorised<Status(const std::uint16_t*, std::int32_t, std::uint16_t*, std::int32_t, ImageSize)>(
        &Copy16uC1<&CopyRowPortable>, &Copy16uC1<&CopyRowStreamingSse2>, &Copy16uC1<&CopyRowStreamingAvx2>);
constexpr auto kCopy8uC3AC4 =
    Vectorised<Status(const std::uint8_t*, std::int32_t, std::uint8_t*, std::int32_t, ImageSize)>(
        &Copy8uC3AC4<&CopyRow8uC3AC4Portable>, &Copy8uC3AC4<&CopyRow8uC3AC4Ssse3>,
        &Copy8uC3AC4<&CopyRow8uC3AC4Avx2>);
constexpr auto kSwap8uC3C4 = Vectorised<Status(const std::uint8_t*, std::int32_t, std::uint8_t*, std::int32_t,
                                               ImageSize, const std::int32_t*, std::uint8_t)>(
    &Swap8uC3C4<&SwapRow8uC3C4Portable>, &Swap8uC3C4<&SwapRow8uC3C4Ssse3>, &Swap8uC3C4<&SwapRow8uC3C4Avx2>);
constexpr auto kJoin8uP3C3 =
    Vectorised<Status(const std::uint8_t* const[3], std::int32_t, std::uint8_t*, std::int32_t, ImageSize)>(
        &Join<std::uint8_t, 3, &JoinRowPortable<std::uint8_t, 3>>, &Join<std::uint8_t, 3, &JoinRow8uP3C3Vector>,
        &Join<std::uint8_t, 3, &JoinRow8uP3C3Vector>);
using SplitFunction8u3 = Status(const std::uint8_t*, std::int32_t, std::uint8_t* const[3], std::int32_t, ImageSize);
using SplitFunction8u4 = Status(const std::uint8_t*, std::int32_t, std::uint8_t* const[4], std::int32_t, ImageSize);
constexpr auto kSplit8uC3P3 = Vectorised<SplitFunction8u3>(&Split<std::uint8_t, 3>,
                                                           &Split<std::uint8_t, 3, &SplitRow8uC3P3Vector>,
                                                           &Split<std::uint8_t, 3, &SplitRow8uC3P3Vector>);
constexpr auto kSplit8uC4P4 = Vectorised<SplitFunction8u4>(&Split<std::uint8_t, 4>,
                                                           &Split<std::uint8_t, 4, &SplitRow8uC4P4Vector>,
                                                           &Split<std::uint8_t, 4, &SplitRow8uC4P4Vector>);
#else
constexpr auto kSplit8uC3P3 = Uniform(&Split<std::uint8_t, 3>);
constexpr auto kSplit8uC4P4 = Uniform(&Split<std::uint8_t, 4>);
constexpr auto kCopy8uC4 = Uniform(&Copy8uC4<&CopyRowPortable>);
constexpr auto kCopy8uC1 = Uniform(&Copy8uC1<&CopyRowPortable>);
constexpr auto kCopy16uC1 = Uniform(&Copy16uC1<&CopyRowPortable>);
constexpr auto kCopy8uC3AC4 = Uniform(&Copy8uC3AC4<&CopyRow8uC3AC4Portable>);
constexpr auto kSwap8uC3C4 = Uniform(&Swap8uC3C4<&SwapRow8uC3C4Portable>);
constexpr auto kJoin8uP3C3 = Uniform(&Join<std::uint8_t, 3, &JoinRowPortable<std::uint8_t, 3>>);
#endif

constexpr auto kJoin8uP4C4 = Uniform(&Join<std::uint8_t, 4, &JoinRowPortable<std::uint8_t, 4>>);
constexpr auto kJoin16uP3C3 = Uniform(&Join<std::uint16_t, 3, &JoinRowPortable<std::uint16_t, 3>>);
constexpr auto kJoin16uP4C4 = Uniform(&Join<std::uint16_t, 4, &JoinRowPortable<std::uint16_t, 4>>);
constexpr auto kSplit16uC3P3 = Uniform(&Split<std::uint16_t, 3>);
constexpr auto kSplit16uC4P4 = Uniform(&Split<std::uint16_t, 4>);

}  // namespace
}  // namespace primitives_detail

using namespace primitives_detail;

PrimitiveStatus CopyImage8uC4(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* dst, std::int32_t dstStep,
                              ImageSize size)
{
    return DispatchCall(kCopy8uC4, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus CopyImage8uC1(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* dst, std::int32_t dstStep,
                              ImageSize size)
{
    return DispatchCall(kCopy8uC1, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus CopyImage16uC1(const std::uint16_t* src, std::int32_t srcStep, std::uint16_t* dst,
                               std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kCopy16uC1, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus CopyImage8uC3AC4(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* dst,
                                 std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kCopy8uC3AC4, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus SwapChannels8uC3C4(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* dst,
                                   std::int32_t dstStep, ImageSize size, const std::int32_t order[4],
                                   std::uint8_t fill)
{
    return DispatchCall(kSwap8uC3C4, src, srcStep, dst, dstStep, size, order, fill);
}

PrimitiveStatus CopyImage8uP3C3(const std::uint8_t* const src[3], std::int32_t srcStep, std::uint8_t* dst,
                                std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kJoin8uP3C3, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus CopyImage8uP4C4(const std::uint8_t* const src[4], std::int32_t srcStep, std::uint8_t* dst,
                                std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kJoin8uP4C4, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus CopyImage16uP3C3(const std::uint16_t* const src[3], std::int32_t srcStep, std::uint16_t* dst,
                                 std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kJoin16uP3C3, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus CopyImage16uP4C4(const std::uint16_t* const src[4], std::int32_t srcStep, std::uint16_t* dst,
                                 std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kJoin16uP4C4, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus CopyImage8uC3P3(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* const dst[3],
                                std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kSplit8uC3P3, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus CopyImage8uC4P4(const std::uint8_t* src, std::int32_t srcStep, std::uint8_t* const dst[4],
                                std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kSplit8uC4P4, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus CopyImage16uC3P3(const std::uint16_t* src, std::int32_t srcStep, std::uint16_t* const dst[3],
                                 std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kSplit16uC3P3, src, srcStep, dst, dstStep, size);
}

PrimitiveStatus CopyImage16uC4P4(const std::uint16_t* src, std::int32_t srcStep, std::uint16_t* const dst[4],
                                 std::int32_t dstStep, ImageSize size)
{
    return DispatchCall(kSplit16uC4P4, src, srcStep, dst, dstStep, size);
}

void CopyRowBytes_x3(const void* src, void* dst, std::uint32_t n, bool nonTemporal)
{
#if defined(__x86_64__) || defined(__i386__)
    CopyRowStreamingSse2(src, dst, n, nonTemporal);
#else
    CopyRowPortable(src, dst, n, nonTemporal);
#endif
}
