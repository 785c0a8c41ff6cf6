#include "imaging/primitives/resize/detail/ResizeFilters.h"

#include <cstddef>
#include <cstring>

#include "imaging/primitives/resize/detail/CubicLanczosFilters.h"
#include "imaging/primitives/resize/detail/CubicLanczosSimd.h"
#include "imaging/primitives/resize/detail/ExtendedFilters.h"
#include "imaging/primitives/resize/detail/LinearKernelsSimd.h"

namespace resize_detail {

template <typename Element, int SamplesPerPixel>
std::int32_t ResizeNearest(const void* src, void* dst, std::int32_t dstStep, std::int32_t width, std::int32_t height,
                           const std::int32_t* rows, const std::int32_t* columns, std::int32_t pixelStride)
{
    // A pixel's processed samples move as one block (one load and one store
    // for up to eight bytes); a three-channel pixel at a stride of four leaves
    // its fourth sample alone.
    constexpr std::size_t kPixelBytes = sizeof(Element) * SamplesPerPixel;
    const auto* source = static_cast<const Element*>(src);
    auto* out = static_cast<Element*>(dst);
    const std::ptrdiff_t outPixel = SamplesPerPixel == 3 ? pixelStride : SamplesPerPixel;
    // Whole destination rows are written only when nothing between pixels
    // must be kept.
    const bool wholeRows = outPixel == SamplesPerPixel;
    for (std::int32_t i = 0; i < height; ++i) {
        Element* o = out + static_cast<std::ptrdiff_t>(i) * dstStep;
        if (wholeRows && i > 0 && rows[i] == rows[i - 1]) {
            // The same source row as the row above: copy that output row.
            std::memcpy(o, o - dstStep, static_cast<std::size_t>(width) * kPixelBytes);
            continue;
        }
        const Element* row = source + rows[i];
        std::int32_t c = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        if constexpr (kPixelBytes == 1) {
            // Single bytes gathered eight at a time into one store.
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(row);
            for (; c + 8 <= width; c += 8) {
                const std::uint64_t v =
                    std::uint64_t{bytes[columns[c]]} | std::uint64_t{bytes[columns[c + 1]]} << 8 |
                    std::uint64_t{bytes[columns[c + 2]]} << 16 | std::uint64_t{bytes[columns[c + 3]]} << 24 |
                    std::uint64_t{bytes[columns[c + 4]]} << 32 | std::uint64_t{bytes[columns[c + 5]]} << 40 |
                    std::uint64_t{bytes[columns[c + 6]]} << 48 | std::uint64_t{bytes[columns[c + 7]]} << 56;
                std::memcpy(o + c, &v, 8);
            }
        }
        if constexpr (kPixelBytes == 4) {
            if (wholeRows) {
                // Four-byte pixels two by two: the pair's offsets in one
                // 8-byte load, the two pixels in one 8-byte store. Loads are
                // what this loop spends its time on.
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(row);
                auto* target = reinterpret_cast<std::uint8_t*>(o);
                for (; c + 2 <= width; c += 2) {
                    std::uint64_t offsets;
                    std::memcpy(&offsets, columns + c, 8);
                    const auto first = static_cast<std::int32_t>(static_cast<std::uint32_t>(offsets));
                    const auto second = static_cast<std::int32_t>(static_cast<std::uint32_t>(offsets >> 32));
                    std::uint32_t a;
                    std::uint32_t b;
                    std::memcpy(&a, bytes + static_cast<std::ptrdiff_t>(first) * sizeof(Element), 4);
                    std::memcpy(&b, bytes + static_cast<std::ptrdiff_t>(second) * sizeof(Element), 4);
                    const std::uint64_t pair = std::uint64_t{a} | std::uint64_t{b} << 32;
                    std::memcpy(target + 4 * static_cast<std::ptrdiff_t>(c), &pair, 8);
                }
            }
        }
#endif
        for (; c + 4 <= width; c += 4) {
            const std::int32_t c0 = columns[c], c1 = columns[c + 1], c2 = columns[c + 2], c3 = columns[c + 3];
            std::memcpy(o + outPixel * c, row + c0, kPixelBytes);
            std::memcpy(o + outPixel * (c + 1), row + c1, kPixelBytes);
            std::memcpy(o + outPixel * (c + 2), row + c2, kPixelBytes);
            std::memcpy(o + outPixel * (c + 3), row + c3, kPixelBytes);
        }
        for (; c < width; ++c)
            std::memcpy(o + outPixel * c, row + columns[c], kPixelBytes);
    }
    return height;
}

template std::int32_t ResizeNearest<std::uint8_t, 1>(const void*, void*, std::int32_t, std::int32_t, std::int32_t,
                                                     const std::int32_t*, const std::int32_t*, std::int32_t);
template std::int32_t ResizeNearest<std::uint16_t, 1>(const void*, void*, std::int32_t, std::int32_t, std::int32_t,
                                                      const std::int32_t*, const std::int32_t*, std::int32_t);
template std::int32_t ResizeNearest<std::uint32_t, 1>(const void*, void*, std::int32_t, std::int32_t, std::int32_t,
                                                      const std::int32_t*, const std::int32_t*, std::int32_t);
template std::int32_t ResizeNearest<std::uint64_t, 1>(const void*, void*, std::int32_t, std::int32_t, std::int32_t,
                                                      const std::int32_t*, const std::int32_t*, std::int32_t);
template std::int32_t ResizeNearest<std::uint8_t, 3>(const void*, void*, std::int32_t, std::int32_t, std::int32_t,
                                                     const std::int32_t*, const std::int32_t*, std::int32_t);
template std::int32_t ResizeNearest<std::uint16_t, 3>(const void*, void*, std::int32_t, std::int32_t, std::int32_t,
                                                      const std::int32_t*, const std::int32_t*, std::int32_t);
template std::int32_t ResizeNearest<std::uint32_t, 3>(const void*, void*, std::int32_t, std::int32_t, std::int32_t,
                                                      const std::int32_t*, const std::int32_t*, std::int32_t);
template std::int32_t ResizeNearest<std::uint64_t, 3>(const void*, void*, std::int32_t, std::int32_t, std::int32_t,
                                                      const std::int32_t*, const std::int32_t*, std::int32_t);
template std::int32_t ResizeNearest<std::uint8_t, 4>(const void*, void*, std::int32_t, std::int32_t, std::int32_t,
                                                     const std::int32_t*, const std::int32_t*, std::int32_t);
template std::int32_t ResizeNearest<std::uint16_t, 4>(const void*, void*, std::int32_t, std::int32_t, std::int32_t,
                                                      const std::int32_t*, const std::int32_t*, std::int32_t);
template std::int32_t ResizeNearest<std::uint32_t, 4>(const void*, void*, std::int32_t, std::int32_t, std::int32_t,
                                                      const std::int32_t*, const std::int32_t*, std::int32_t);
template std::int32_t ResizeNearest<std::uint64_t, 4>(const void*, void*, std::int32_t, std::int32_t, std::int32_t,
                                                      const std::int32_t*, const std::int32_t*, std::int32_t);

// ---------------------------------------------------------------------------

#define GAVEX_LINEAR_FILTER(KERNELS, ONE)                                                                           \
    template void ResizeLinear<KERNELS, ONE>(const void*, void*, std::int32_t, std::int32_t, std::int32_t,        \
                                             std::int32_t, const std::int32_t*, const std::int32_t*, const void*, \
                                             const void*, void*, void*, std::int32_t, std::int32_t);
GAVEX_LINEAR_FILTER(Linear8uKernels, false)
GAVEX_LINEAR_FILTER(Linear8uKernels, true)
GAVEX_LINEAR_FILTER(Linear16uKernels, false)
GAVEX_LINEAR_FILTER(Linear16uKernels, true)
GAVEX_LINEAR_FILTER(Linear16sKernels, false)
GAVEX_LINEAR_FILTER(Linear16sKernels, true)
GAVEX_LINEAR_FILTER(Linear32fKernels, false)
GAVEX_LINEAR_FILTER(Linear32fKernels, true)
#if GAVEX_RESIZE_HAS_SIMD
GAVEX_LINEAR_FILTER(Linear8uSse2Kernels, false)
GAVEX_LINEAR_FILTER(Linear8uSse2Kernels, true)
GAVEX_LINEAR_FILTER(Linear8uAvx2Kernels, false)
GAVEX_LINEAR_FILTER(Linear8uAvx2Kernels, true)
#endif
#undef GAVEX_LINEAR_FILTER

// ---------------------------------------------------------------------------
// The filter sets of each processor slot.

namespace {

constexpr std::array<NearestFilter*, 15> kNearestTable = {
    ResizeNearest_8u_C3, ResizeNearest_16u_C3, ResizeNearest_32f_C3, ResizeNearest_16u_C3,
    ResizeNearest_8u_C1, ResizeNearest_16u_C1, ResizeNearest_32f_C1, ResizeNearest_16u_C1,
    ResizeNearest_8u_C4, ResizeNearest_16u_C4, ResizeNearest_32f_C4, ResizeNearest_16u_C4,
    ResizeNearest_64f_C1, ResizeNearest_64f_C3, ResizeNearest_64f_C4};

constexpr std::array<LinearFilter*, 8> kLinearTable = {
    ResizeLinear_8u_Cn, ResizeLinear_16u_Cn, ResizeLinear_32f_Cn, ResizeLinear_16s_Cn,
    ResizeLinear_8u_C1, ResizeLinear_16u_C1, ResizeLinear_32f_C1, ResizeLinear_16s_C1};

constexpr std::array<CubicFilter*, 6> kCubicTable = {ResizeCubic_8u_Cn, ResizeCubic_16u_Cn, ResizeCubic_32f_Cn,
                                                     ResizeCubic_8u_C1, ResizeCubic_16u_C1, ResizeCubic_32f_C1};

constexpr std::array<LanczosFilter*, 6> kLanczosTable = {ResizeLanczos_8u_Cn, ResizeLanczos_16u_Cn,
                                                         ResizeLanczos_32f_Cn, ResizeLanczos_8u_C1,
                                                         ResizeLanczos_16u_C1, ResizeLanczos_32f_C1};

constexpr std::array<LinearFilter*, 10> kExtendedLinearTable = {
    ResizeLinearExt_8u_Cn, ResizeLinearExt_16u_Cn, ResizeLinearExt_32f_Cn, ResizeLinearExt_16s_Cn,
    ResizeLinearExt_8u_C1, ResizeLinearExt_16u_C1, ResizeLinearExt_32f_C1, ResizeLinearExt_16s_C1,
    ResizeLinearExt_64f_C1, ResizeLinearExt_64f_Cn};

constexpr std::array<CubicFilter*, 10> kFourTapTable = {
    ResizeFourTap_8u_Cn, ResizeFourTap_16u_Cn, ResizeFourTap_32f_Cn, ResizeFourTap_16s_Cn, ResizeFourTap_8u_C1,
    ResizeFourTap_16u_C1, ResizeFourTap_32f_C1, ResizeFourTap_16s_C1, ResizeFourTap_64f_C1, ResizeFourTap_64f_Cn};

constexpr std::array<ExtendedLanczosFilter*, 10> kExtendedLanczosTable = {
    ResizeLanczosExt_8u_Cn,  ResizeLanczosExt_16u_Cn, ResizeLanczosExt_32f_Cn, ResizeLanczosExt_16s_Cn,
    ResizeLanczosExt_8u_C1,  ResizeLanczosExt_16u_C1, ResizeLanczosExt_32f_C1, ResizeLanczosExt_16s_C1,
    ResizeLanczosExt_64f_C1, ResizeLanczosExt_64f_Cn};

constexpr std::array<LinearFilter*, 8> kAltLinearTable = {
    ResizeLinear_8u_Cn_alt, ResizeLinear_16u_Cn_alt, ResizeLinear_32f_Cn_alt, ResizeLinear_16s_Cn_alt,
    ResizeLinear_8u_C1_alt, ResizeLinear_16u_C1_alt, ResizeLinear_32f_C1_alt, ResizeLinear_16s_C1_alt};

constexpr std::array<LinearFilter*, 10> kAltExtendedLinearTable = {
    ResizeLinearExt_8u_Cn_alt, ResizeLinearExt_16u_Cn_alt, ResizeLinearExt_32f_Cn_alt, ResizeLinearExt_16s_Cn_alt,
    ResizeLinearExt_8u_C1_alt, ResizeLinearExt_16u_C1_alt, ResizeLinearExt_32f_C1_alt, ResizeLinearExt_16s_C1_alt,
    ResizeLinearExt_64f_C1_alt, ResizeLinearExt_64f_Cn_alt};

constexpr std::array<CubicFilter*, 10> kAltFourTapTable = {
    ResizeFourTap_8u_Cn_alt,  ResizeFourTap_16u_Cn_alt, ResizeFourTap_32f_Cn_alt, ResizeFourTap_16s_Cn_alt,
    ResizeFourTap_8u_C1_alt,  ResizeFourTap_16u_C1_alt, ResizeFourTap_32f_C1_alt, ResizeFourTap_16s_C1_alt,
    ResizeFourTap_64f_C1_alt, ResizeFourTap_64f_Cn_alt};

constexpr std::array<ExtendedLanczosFilter*, 10> kAltExtendedLanczosTable = {
    ResizeLanczosExt_8u_Cn_alt,  ResizeLanczosExt_16u_Cn_alt, ResizeLanczosExt_32f_Cn_alt,
    ResizeLanczosExt_16s_Cn_alt, ResizeLanczosExt_8u_C1_alt,  ResizeLanczosExt_16u_C1_alt,
    ResizeLanczosExt_32f_C1_alt, ResizeLanczosExt_16s_C1_alt, ResizeLanczosExt_64f_C1_alt,
    ResizeLanczosExt_64f_Cn_alt};

constexpr std::array<CubicFilter*, 6> kAltCubicTable = {ResizeCubic_8u_Cn_alt, ResizeCubic_16u_Cn_alt,
                                                        ResizeCubic_32f_Cn_alt, ResizeCubic_8u_C1_alt,
                                                        ResizeCubic_16u_C1_alt, ResizeCubic_32f_C1_alt};

constexpr std::array<LanczosFilter*, 6> kAltLanczosTable = {ResizeLanczos_8u_Cn_alt, ResizeLanczos_16u_Cn_alt,
                                                            ResizeLanczos_32f_Cn_alt, ResizeLanczos_8u_C1_alt,
                                                            ResizeLanczos_16u_C1_alt, ResizeLanczos_32f_C1_alt};

constexpr ResizeFilterSets MakeSets(LinearFilter* linear8uCn, LinearFilter* linear8uC1, CubicFilter* cubic8uCn,
                                    CubicFilter* cubic8uC1, LanczosFilter* lanczos8uCn, LanczosFilter* lanczos8uC1)
{
    ResizeFilterSets sets{};
    sets.primary.nearest = kNearestTable;
    sets.primary.linear = kLinearTable;
    sets.primary.linear[0] = linear8uCn;
    sets.primary.linear[4] = linear8uC1;
    sets.primary.cubic = kCubicTable;
    sets.primary.lanczos = kLanczosTable;
    // The 8u extended linear members compute exactly as the 8u linear ones.
    sets.primary.extendedLinear = kExtendedLinearTable;
    sets.primary.extendedLinear[0] = linear8uCn;
    sets.primary.extendedLinear[4] = linear8uC1;
    sets.primary.fourTap = kFourTapTable;
    sets.primary.extendedLanczos = kExtendedLanczosTable;
    sets.primary.cubic[0] = cubic8uCn;
    sets.primary.cubic[3] = cubic8uC1;
    sets.primary.lanczos[0] = lanczos8uCn;
    sets.primary.lanczos[3] = lanczos8uC1;
    // The alternate set is scalar in every slot. Its nearest and linear
    // members give the bits of the portable primaries, which serve there.
    sets.alternate.nearest = kNearestTable;
    sets.alternate.linear = kAltLinearTable;
    sets.alternate.extendedLinear = kAltExtendedLinearTable;
    sets.alternate.fourTap = kAltFourTapTable;
    sets.alternate.extendedLanczos = kAltExtendedLanczosTable;
    sets.alternate.cubic = kAltCubicTable;
    sets.alternate.lanczos = kAltLanczosTable;
    return sets;
}

constexpr ResizeFilterSets kPortableSets =
    MakeSets(ResizeLinear_8u_Cn, ResizeLinear_8u_C1, ResizeCubic_8u_Cn, ResizeCubic_8u_C1, ResizeLanczos_8u_Cn,
             ResizeLanczos_8u_C1);
#if GAVEX_RESIZE_HAS_SIMD
constexpr ResizeFilterSets kSse2Sets =
    MakeSets(&ResizeLinear<Linear8uSse2Kernels, false>, &ResizeLinear<Linear8uSse2Kernels, true>,
             &ResizeCubic<Cubic8uSse2Kernels, false>, &ResizeCubic<Cubic8uSse2Kernels, true>,
             &ResizeLanczos<Lanczos8uSse2Kernels, false>, &ResizeLanczos<Lanczos8uSse2Kernels, true>);
constexpr ResizeFilterSets kAvx2Sets =
    MakeSets(&ResizeLinear<Linear8uAvx2Kernels, false>, &ResizeLinear<Linear8uAvx2Kernels, true>,
             &ResizeCubic<Cubic8uSse2Kernels, false>, &ResizeCubic<Cubic8uAvx2Kernels, true>,
             &ResizeLanczos<Lanczos8uAvx2Kernels, false>, &ResizeLanczos<Lanczos8uAvx2Kernels, true>);
#else
constexpr const ResizeFilterSets& kSse2Sets = kPortableSets;
constexpr const ResizeFilterSets& kAvx2Sets = kPortableSets;
#endif

}  // namespace

const std::array<const ResizeFilterSets*, kCpuVariantCount> kResizeFilterSets = {
    &kPortableSets, &kPortableSets, &kSse2Sets, &kSse2Sets, &kSse2Sets, &kAvx2Sets};

}  // namespace resize_detail
