#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "imaging/primitives/AlignedMemory.h"
#include "imaging/primitives/CpuDispatch.h"
#include "imaging/primitives/resize/Resize.h"
#include "imaging/primitives/resize/detail/LanczosKernels.h"
#include "imaging/primitives/resize/detail/ResizeFilters.h"
#include "imaging/primitives/resize/detail/SuperSample.h"

namespace resize_detail {
namespace {

namespace Code = PrimitiveStatusCode;

// Absorbs the rounding of positions computed from factors: a position within
// this of the next integer counts as that integer.
constexpr double kGuard = 0.0000001;
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

struct Request {
    const void* src;
    std::int32_t srcWidth;
    std::int32_t srcHeight;
    std::int32_t srcStep;
    ImageRect* roi;
    void* dst;
    std::int32_t dstStep;
    ImageSize dstSize;
    double xFactor;
    double yFactor;
    std::int32_t channels;  // pixel stride
    std::int32_t layout;    // channels processed
    std::int32_t sampleType;
    bool planar;
};

int PlaneCount(const Request& r)
{
    return r.layout == 4 ? 4 : 3;
}

// Checks shared by both drivers, in their order.
PrimitiveStatus CheckRequest(const Request& r)
{
    if (r.src == nullptr || r.dst == nullptr)
        return Code::NullPointer;
    if (r.srcWidth <= 0 || r.srcHeight <= 0)
        return Code::BadSize;
    const ImageRect& roi = *r.roi;
    if (roi.x < 0 || roi.y < 0 || roi.width <= 0 || roi.height <= 0)
        return Code::BadSize;
    if (roi.x >= r.srcWidth || roi.y >= r.srcHeight)
        return Code::RegionOutsideSource;
    if (r.dstSize.width <= 0 || r.dstSize.height <= 0)
        return Code::BadSize;
    // Written so that a factor that is not a number fails too.
    if (!(r.xFactor > 0.0) || !(r.yFactor > 0.0))
        return Code::BadResizeFactor;
    return Code::Ok;
}

// The data description, and the plane pointers of planar data.
PrimitiveStatus CheckDescription(const Request& r)
{
    if (r.sampleType < 0 || r.sampleType > 2)
        return Code::BadArgument;
    const bool strideFits = r.layout == 1 ? r.channels == 1
                            : r.layout == 3 ? (r.channels == 3 || r.channels == 4)
                            : r.layout == 4 ? r.channels == 4
                                            : false;
    if (!strideFits && !r.planar)
        return Code::BadArgument;
    if (r.planar) {
        if (r.layout != 1 && r.layout != 3 && r.layout != 4)
            return Code::BadArgument;
        const auto* sources = static_cast<const void* const*>(r.src);
        auto* const* targets = static_cast<void* const*>(r.dst);
        for (int p = 0; p < PlaneCount(r); ++p)
            if (sources[p] == nullptr || targets[p] == nullptr)
                return Code::NullPointer;
    }
    return Code::Ok;
}

// Clips the region to the source without overflowing 32 bits.
void ClipRegion(const Request& r)
{
    ImageRect& roi = *r.roi;
    if (std::int64_t{roi.x} + roi.width > r.srcWidth)
        roi.width = r.srcWidth - roi.x;
    if (std::int64_t{roi.y} + roi.height > r.srcHeight)
        roi.height = r.srcHeight - roi.y;
}

// Destination extent along one axis: the scaled region, at most the given
// extent; compared in double before any conversion to an integer.
PrimitiveStatus DestinationExtent(std::int32_t region, double factor, std::int32_t given, std::int32_t* extent)
{
    const double guarded = static_cast<double>(region) * factor + kGuard;
    if (guarded >= given) {
        *extent = given;
        return Code::Ok;
    }
    const auto n = static_cast<std::int32_t>(guarded);
    if (n > 0) {
        *extent = n;
        return Code::Ok;
    }
    if (guarded < 0.5)
        return Code::ResizeBelowHalfPixel;
    *extent = 1;
    return Code::Ok;
}

PrimitiveStatus DestinationExtents(const Request& r, std::int32_t* width, std::int32_t* height)
{
    const PrimitiveStatus sw = DestinationExtent(r.roi->width, r.xFactor, r.dstSize.width, width);
    if (sw != Code::Ok)
        return sw;
    return DestinationExtent(r.roi->height, r.yFactor, r.dstSize.height, height);
}

int BytesPerSample(std::int32_t sampleType)
{
    return sampleType == 0 ? 1 : (sampleType == 1 ? 2 : 4);
}

// Source origin of the region (of one plane when planar).
const void* RegionOrigin(const void* base, const Request& r, std::int32_t pixelStride)
{
    const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(r.roi->y) * r.srcStep +
                                  static_cast<std::ptrdiff_t>(r.roi->x) * pixelStride * BytesPerSample(r.sampleType);
    return static_cast<const std::uint8_t*>(base) + offset;
}

// The working blocks of one call, all freed together.
class WorkBlocks {
public:
    WorkBlocks() = default;
    WorkBlocks(const WorkBlocks&) = delete;
    WorkBlocks& operator=(const WorkBlocks&) = delete;
    ~WorkBlocks()
    {
        for (int i = 0; i < count_; ++i)
            AlignedFree(blocks_[i]);
    }
    // Null (and the call fails) when the size does not fit 32 bits or the
    // allocation fails.
    template <typename T>
    T* Allocate(std::int64_t elements)
    {
        const std::int64_t bytes = elements * static_cast<std::int64_t>(sizeof(T));
        if (elements <= 0 || bytes > kInt32Max || count_ == kMaxBlocks)
            return nullptr;
        void* block = AlignedMalloc(static_cast<std::int32_t>(bytes));
        if (block != nullptr)
            blocks_[count_++] = block;
        return static_cast<T*>(block);
    }

private:
    static constexpr int kMaxBlocks = 16;
    void* blocks_[kMaxBlocks] = {};
    int count_ = 0;
};

// Source index of a destination position along an axis of the region, kept
// inside the region (a position past it, possible when an extent was raised
// to 1 or the guard rounded up, repeats the last row or column).
struct AxisIndex {
    std::int32_t index;
    double fraction;
};

AxisIndex IndexOf(double position, std::int32_t region)
{
    const double guarded = position + kGuard;
    if (!(guarded < region))
        return {region - 1, 0.0};
    const auto k = guarded < 0.0 ? 0 : static_cast<std::int32_t>(guarded);
    return {k, position - k};
}

// Nearest: index of the sample under the destination sample's centre.
void NearestAxis(std::int32_t count, double factor, std::int32_t region, std::int32_t multiplier, std::int32_t* out)
{
    for (std::int32_t i = 0; i < count; ++i)
        out[i] = IndexOf((i + 0.5) / factor, region).index * multiplier;
}

// Source step between destination samples when corners are aligned: the
// first and last destination samples lie on the region's first and last
// source samples (0 when the scaled region spans at most one sample).
double AlignedStep(std::int32_t region, double factor)
{
    const double scaled = static_cast<double>(region) * factor;
    return scaled > 1.0 ? (region - 1) / (scaled - 1.0) : 0.0;
}

// Linear, corners aligned. At the source image's last row or column the pair
// moves one back with all weight on the last sample, so both samples of a
// pair always lie inside the image.
template <typename Weight>
void LinearAxis(std::int32_t count, double factor, std::int32_t region, std::int32_t origin, std::int32_t imageExtent,
                std::int32_t multiplier, std::int32_t* out, Weight* weights, int weightsPerEntry)
{
    const double step = AlignedStep(region, factor);
    for (std::int32_t i = 0; i < count; ++i) {
        AxisIndex at = IndexOf(i * step, region);
        double weight;
        const bool last = std::int64_t{origin} + at.index == imageExtent - 1;
        if (last) {
            at.index -= 1;
            weight = 1.0;
        } else {
            weight = at.fraction;
        }
        out[i] = at.index * multiplier;
        if constexpr (std::is_same_v<Weight, float>) {
            weights[i] = static_cast<float>(weight);
        } else {
            const auto c = last ? 16384 : static_cast<std::int32_t>(weight * 16384.0 + kGuard);
            if (weightsPerEntry == 2) {
                weights[2 * i] = static_cast<std::int16_t>(16384 - c);
                weights[2 * i + 1] = static_cast<std::int16_t>(c);
            } else {
                weights[i] = static_cast<std::int16_t>(c);
            }
        }
    }
}

// Cubic, corners aligned. The stored index is the second of the four taps;
// near the image's edges the window moves inside the image and the position
// leaves [0, 1): f - 1 on the first row, f + 1 on the second-last, 2 on the
// last.
void CubicAxis(std::int32_t count, double factor, std::int32_t region, std::int32_t origin,
               std::int32_t imageExtent, std::int32_t multiplier, std::int32_t* out, float* positions)
{
    const double step = AlignedStep(region, factor);
    const std::int64_t last = imageExtent - 1;
    for (std::int32_t i = 0; i < count; ++i) {
        const AxisIndex at = IndexOf(i * step, region);
        const std::int64_t a = std::int64_t{origin} + at.index;
        std::int32_t stored = at.index;
        double position = at.fraction;
        if (a == last) {
            stored = at.index - 2;
            position = 2.0;
        } else if (a == 0) {
            stored = at.index + 1;
            position = at.fraction - 1.0;
        } else if (a == last - 1) {
            stored = at.index - 1;
            position = at.fraction + 1.0;
        }
        out[i] = stored * multiplier;
        positions[i] = static_cast<float>(position);
    }
}

// Lanczos, corners aligned: index and fraction, no edge adjustment (the
// filters clamp taps to the image).
void LanczosAxis(std::int32_t count, double factor, std::int32_t region, std::int32_t multiplier, std::int32_t* out,
                 float* fractions)
{
    const double step = AlignedStep(region, factor);
    for (std::int32_t i = 0; i < count; ++i) {
        const AxisIndex at = IndexOf(i * step, region);
        out[i] = at.index * multiplier;
        fractions[i] = static_cast<float>(at.fraction);
    }
}

std::int32_t LowerMode(std::int32_t mode, std::int32_t width, std::int32_t height)
{
    if ((width < 8 || height < 8) && mode == ResizeMode::Lanczos)
        mode = ResizeMode::Cubic;
    if ((width < 4 || height < 4) && mode == ResizeMode::Cubic)
        mode = ResizeMode::Linear;
    if (width < 2 || height < 2)
        mode = ResizeMode::Nearest;
    return mode;
}

PrimitiveStatus Interpolate(const ResizeFilterSet& filters, const Request& r, std::int32_t mode)
{
    PrimitiveStatus status = CheckRequest(r);
    if (status != Code::Ok)
        return status;
    if (mode != ResizeMode::Nearest && mode != ResizeMode::Linear && mode != ResizeMode::Cubic &&
        mode != ResizeMode::Lanczos)
        return Code::BadInterpolation;
    if ((status = CheckDescription(r)) != Code::Ok)
        return status;

    mode = LowerMode(mode, r.srcWidth, r.srcHeight);
    const std::int32_t t = r.sampleType;
    const bool oneChannel = r.planar || r.layout == 1;
    NearestFilter* nearest = nullptr;
    LinearFilter* linear = nullptr;
    CubicFilter* cubic = nullptr;
    LanczosFilter* lanczos = nullptr;
    if (mode == ResizeMode::Nearest)
        nearest = filters.nearest[static_cast<std::size_t>(oneChannel ? 4 + t : (r.layout == 4 ? 8 + t : t))];
    else if (mode == ResizeMode::Linear)
        linear = filters.linear[static_cast<std::size_t>(oneChannel ? 4 + t : t)];
    else if (mode == ResizeMode::Cubic)
        cubic = filters.cubic[static_cast<std::size_t>(oneChannel ? 3 + t : t)];
    else
        lanczos = filters.lanczos[static_cast<std::size_t>(oneChannel ? 3 + t : t)];
    if (nearest == nullptr && linear == nullptr && cubic == nullptr && lanczos == nullptr)
        return Code::BadInterpolation;  // a filter this build does not have

    ClipRegion(r);
    std::int32_t width = 0;
    std::int32_t height = 0;
    if ((status = DestinationExtents(r, &width, &height)) != Code::Ok)
        return status;

    const int shift = t == 0 ? 0 : (t == 1 ? 1 : 2);
    const std::int32_t srcElementStep = r.srcStep >> shift;
    const std::int32_t dstElementStep = r.dstStep >> shift;
    const std::int32_t pixelStride = oneChannel ? 1 : r.channels;
    const ImageRect& roi = *r.roi;
    // Offsets in the tables are 32-bit: a region whose farthest row or column
    // offset does not fit cannot be described.
    // Cubic windows near the edges move up to two rows or columns outside the
    // region.
    const std::int64_t reach = cubic != nullptr ? 2 : 0;
    if ((roi.height + reach) * std::abs(std::int64_t{srcElementStep}) > kInt32Max ||
        (roi.width + reach) * pixelStride > kInt32Max)
        return Code::NoMemory;

    WorkBlocks work;
    auto* rows = work.Allocate<std::int32_t>(height);
    auto* columns = work.Allocate<std::int32_t>(width);
    if (rows == nullptr || columns == nullptr)
        return Code::NoMemory;

    const void* rowWeights = nullptr;
    const void* columnWeights = nullptr;
    void* buffers[6] = {};
    if (nearest != nullptr) {
        NearestAxis(width, r.xFactor, roi.width, pixelStride, columns);
        NearestAxis(height, r.yFactor, roi.height, 1, rows);
        for (std::int32_t i = 0; i < height; ++i)
            rows[i] *= srcElementStep;
    } else if (cubic != nullptr || lanczos != nullptr) {
        const std::int64_t perPixel = oneChannel ? 1 : (r.layout == 3 ? 3 : 4);
        const std::int64_t bufferElements = perPixel * (std::int64_t{width} + 4);
        const int bufferCount = cubic != nullptr ? 4 : 6;
        for (int b = 0; b < bufferCount; ++b)
            if ((buffers[b] = work.Allocate<float>(bufferElements)) == nullptr)
                return Code::NoMemory;
        if (cubic != nullptr) {
            auto* rw = work.Allocate<float>(height);
            auto* cw = work.Allocate<float>(width);
            if (rw == nullptr || cw == nullptr)
                return Code::NoMemory;
            CubicAxis(width, r.xFactor, roi.width, roi.x, r.srcWidth, pixelStride, columns, cw);
            CubicAxis(height, r.yFactor, roi.height, roi.y, r.srcHeight, 1, rows, rw);
            rowWeights = rw;
            columnWeights = cw;
        } else {
            auto* rowFractions = work.Allocate<float>(height);
            auto* columnFractions = work.Allocate<float>(width);
            auto* rw = work.Allocate<float>(6 * std::int64_t{height});
            auto* cw = work.Allocate<float>(6 * std::int64_t{width});
            if (rowFractions == nullptr || columnFractions == nullptr || rw == nullptr || cw == nullptr)
                return Code::NoMemory;
            LanczosAxis(width, r.xFactor, roi.width, pixelStride, columns, columnFractions);
            LanczosAxis(height, r.yFactor, roi.height, 1, rows, rowFractions);
            BuildLanczosWeights(columnFractions, width, cw, LanczosKernelTable());
            BuildLanczosWeights(rowFractions, height, rw, LanczosKernelTable());
            rowWeights = rw;
            columnWeights = cw;
        }
        for (std::int32_t i = 0; i < height; ++i)
            rows[i] *= srcElementStep;
    } else {
        const std::int64_t perPixel = oneChannel ? 1 : (r.layout == 3 ? 3 : 4);
        const std::int64_t bufferElements = perPixel * (std::int64_t{width} + 4);
        if (t == 2) {
            auto* rw = work.Allocate<float>(height);
            auto* cw = work.Allocate<float>(width);
            buffers[0] = work.Allocate<float>(bufferElements);
            buffers[1] = work.Allocate<float>(bufferElements);
            if (rw == nullptr || cw == nullptr || buffers[0] == nullptr || buffers[1] == nullptr)
                return Code::NoMemory;
            LinearAxis(width, r.xFactor, roi.width, roi.x, r.srcWidth, pixelStride, columns, cw, 1);
            LinearAxis(height, r.yFactor, roi.height, roi.y, r.srcHeight, 1, rows, rw, 1);
            rowWeights = rw;
            columnWeights = cw;
        } else {
            auto* rw = work.Allocate<std::int16_t>(height);
            auto* cw = work.Allocate<std::int16_t>(2 * std::int64_t{width});
            buffers[0] = work.Allocate<std::int16_t>(bufferElements);
            buffers[1] = work.Allocate<std::int16_t>(bufferElements);
            if (rw == nullptr || cw == nullptr || buffers[0] == nullptr || buffers[1] == nullptr)
                return Code::NoMemory;
            LinearAxis(width, r.xFactor, roi.width, roi.x, r.srcWidth, pixelStride, columns, cw, 2);
            LinearAxis(height, r.yFactor, roi.height, roi.y, r.srcHeight, 1, rows, rw, 1);
            rowWeights = rw;
            columnWeights = cw;
        }
        for (std::int32_t i = 0; i < height; ++i)
            rows[i] *= srcElementStep;
    }

    auto run = [&](const void* source, void* target, std::int32_t stride, std::int32_t channels) {
        if (nearest != nullptr)
            nearest(source, target, dstElementStep, width, height, rows, columns, stride);
        else if (cubic != nullptr)
            cubic(source, target, srcElementStep, dstElementStep, width, height, rows, columns, rowWeights,
                  columnWeights, buffers[0], buffers[1], buffers[2], buffers[3], stride, channels);
        else if (lanczos != nullptr)
            lanczos(source, target, srcElementStep, dstElementStep, width, height, rows, columns, rowWeights,
                    columnWeights, buffers[0], buffers[1], buffers[2], buffers[3], buffers[4], buffers[5], roi.x,
                    roi.y, r.srcWidth - roi.x, r.srcHeight - roi.y, r.yFactor >= 1.0 ? 1 : 0, stride, channels);
        else
            linear(source, target, srcElementStep, dstElementStep, width, height, rows, columns, rowWeights,
                   columnWeights, buffers[0], buffers[1], stride, channels);
    };
    if (r.planar) {
        const auto* sources = static_cast<const void* const*>(r.src);
        auto* const* targets = static_cast<void* const*>(r.dst);
        for (int p = 0; p < PlaneCount(r); ++p)
            run(RegionOrigin(sources[p], r, 1), targets[p], 0, 0);
    } else {
        run(RegionOrigin(r.src, r, pixelStride), r.dst, pixelStride, r.layout);
    }
    return Code::Ok;
}

PrimitiveStatus SuperSampleImage(const SuperSampleTable& routines, const Request& r)
{
    PrimitiveStatus status = CheckRequest(r);
    if (status != Code::Ok)
        return status;
    // Boxes narrower than a sample cannot be averaged.
    if (r.xFactor > 1.0 || r.yFactor > 1.0)
        return Code::BadResizeFactor;
    if ((status = CheckDescription(r)) != Code::Ok)
        return status;

    ClipRegion(r);
    std::int32_t width = 0;
    std::int32_t height = 0;
    if ((status = DestinationExtents(r, &width, &height)) != Code::Ok)
        return status;

    const ImageRect& roi = *r.roi;
    const double a = 1.0 / r.xFactor;
    const double b = 1.0 / r.yFactor;
    const double norm = r.xFactor * r.yFactor;
    const double columnsRead = std::trunc(static_cast<double>(static_cast<float>(width + 1)) * a) + 1.0;
    const std::int32_t e = columnsRead >= roi.width ? roi.width : static_cast<std::int32_t>(columnsRead);
    double fx = a - std::trunc(a);
    if (fx < kGuard)
        fx = 0.0;
    const double fy = b - std::trunc(b);
    const bool rowsWhole = fy < kGuard;
    const std::int32_t kind = rowsWhole ? (fx == 0.0 ? 0 : 2) : (fx == 0.0 ? 1 : 3);

    const std::int32_t t = r.sampleType;
    if (r.planar) {
        SuperSampleRoutine* routine = routines[static_cast<std::size_t>(t)];
        const auto* sources = static_cast<const void* const*>(r.src);
        auto* const* targets = static_cast<void* const*>(r.dst);
        PrimitiveStatus result = Code::Ok;
        for (int p = 0; p < PlaneCount(r); ++p)
            if (routine(RegionOrigin(sources[p], r, 1), targets[p], r.srcStep, r.dstStep, e, width, height, a, b,
                        norm, 1, kind, roi.height) == Code::NoMemory)
                result = Code::NoMemory;
        return result;
    }
    const int group = r.layout == 1 ? 0 : (r.layout == 3 ? 1 : 2);
    SuperSampleRoutine* routine = routines[static_cast<std::size_t>(3 * group + t)];
    return routine(RegionOrigin(r.src, r, r.channels), r.dst, r.srcStep, r.dstStep, e, width, height, a, b, norm,
                   r.channels, kind, roi.height);
}

// ---------------------------------------------------------------------------
// The entry points of each processor slot.

template <int Slot>
PrimitiveStatus InterpolatedIn(const void* src, std::int32_t srcWidth, std::int32_t srcHeight, std::int32_t srcStep,
                               ImageRect* roi, void* dst, std::int32_t dstStep, ImageSize dstSize, double xFactor,
                               double yFactor, std::int32_t channels, std::int32_t layout, std::int32_t sampleType,
                               bool planar, std::int32_t mode)
{
    if (roi == nullptr)
        return Code::NullPointer;
    const Request request{src,     srcWidth, srcHeight, srcStep,  roi,    dst,        dstStep,
                          dstSize, xFactor,  yFactor,   channels, layout, sampleType, planar};
    return Interpolate(kResizeFilterSets[Slot]->primary, request, mode);
}

template <int Slot>
PrimitiveStatus SuperSampleIn(const void* src, ImageSize srcSize, std::int32_t srcStep, ImageRect* roi, void* dst,
                              std::int32_t dstStep, ImageSize dstSize, double xFactor, double yFactor,
                              std::int32_t channels, std::int32_t layout, std::int32_t sampleType, bool planar)
{
    if (roi == nullptr)
        return Code::NullPointer;
    const Request request{src,     srcSize.width, srcSize.height, srcStep,  roi,    dst,        dstStep,
                          dstSize, xFactor,       yFactor,        channels, layout, sampleType, planar};
    return SuperSampleImage(*kSuperSampleTables[Slot], request);
}

template <int Slot>
PrimitiveStatus ResizePlaneIn(const std::uint8_t* src, ImageSize srcSize, std::int32_t srcStep, const ImageRect& roi,
                              std::uint8_t* dst, std::int32_t dstStep, ImageSize dstSize, double xFactor,
                              double yFactor, std::int32_t mode)
{
    // The drivers clip a copy, never the caller's record.
    ImageRect region = roi;
    if (mode == ResizeMode::SuperSample && xFactor <= 1.0 && yFactor <= 1.0)
        return SuperSampleIn<Slot>(src, srcSize, srcStep, &region, dst, dstStep, dstSize, xFactor, yFactor, 1, 1,
                                   ResizeSampleType::U8, false);
    return InterpolatedIn<Slot>(src, srcSize.width, srcSize.height, srcStep, &region, dst, dstStep, dstSize, xFactor,
                                yFactor, 1, 1, ResizeSampleType::U8, false, mode);
}

using InterpolatedFunction = decltype(InterpolatedIn<0>);
using SuperSampleFunction = decltype(SuperSampleIn<0>);
using ResizePlaneFunction = decltype(ResizePlaneIn<0>);

constexpr CpuDispatchTable<InterpolatedFunction> kInterpolated = {
    &InterpolatedIn<0>, &InterpolatedIn<1>, &InterpolatedIn<2>, &InterpolatedIn<3>, &InterpolatedIn<4>,
    &InterpolatedIn<5>};
constexpr CpuDispatchTable<SuperSampleFunction> kSuperSample = {
    &SuperSampleIn<0>, &SuperSampleIn<1>, &SuperSampleIn<2>, &SuperSampleIn<3>, &SuperSampleIn<4>, &SuperSampleIn<5>};
constexpr CpuDispatchTable<ResizePlaneFunction> kResizePlane = {
    &ResizePlaneIn<0>, &ResizePlaneIn<1>, &ResizePlaneIn<2>, &ResizePlaneIn<3>, &ResizePlaneIn<4>, &ResizePlaneIn<5>};

}  // namespace

PrimitiveStatus ResizeInterpolatedWithSet(const ResizeFilterSet& filters, const void* src, std::int32_t srcWidth,
                                          std::int32_t srcHeight, std::int32_t srcStep, ImageRect* roi, void* dst,
                                          std::int32_t dstStep, ImageSize dstSize, double xFactor, double yFactor,
                                          std::int32_t channels, std::int32_t layout, std::int32_t sampleType,
                                          bool planar, std::int32_t mode)
{
    if (roi == nullptr)
        return Code::NullPointer;
    const Request request{src,     srcWidth, srcHeight, srcStep,  roi,    dst,        dstStep,
                          dstSize, xFactor,  yFactor,   channels, layout, sampleType, planar};
    return Interpolate(filters, request, mode);
}

}  // namespace resize_detail

PrimitiveStatus ResizePlane_8u_C1R(const std::uint8_t* src, ImageSize srcSize, std::int32_t srcStep,
                                   const ImageRect& roi, std::uint8_t* dst, std::int32_t dstStep, ImageSize dstSize,
                                   double xFactor, double yFactor, std::int32_t mode)
{
    return DispatchCall(resize_detail::kResizePlane, src, srcSize, srcStep, roi, dst, dstStep, dstSize, xFactor,
                        yFactor, mode);
}

PrimitiveStatus ResizeInterpolated(const void* src, std::int32_t srcWidth, std::int32_t srcHeight,
                                   std::int32_t srcStep, ImageRect* roi, void* dst, std::int32_t dstStep,
                                   ImageSize dstSize, double xFactor, double yFactor, std::int32_t channels,
                                   std::int32_t layout, std::int32_t sampleType, bool planar, std::int32_t mode)
{
    return DispatchCall(resize_detail::kInterpolated, src, srcWidth, srcHeight, srcStep, roi, dst, dstStep, dstSize,
                        xFactor, yFactor, channels, layout, sampleType, planar, mode);
}

PrimitiveStatus ResizeSuperSample(const void* src, ImageSize srcSize, std::int32_t srcStep, ImageRect* roi,
                                  void* dst, std::int32_t dstStep, ImageSize dstSize, double xFactor,
                                  double yFactor, std::int32_t channels, std::int32_t layout,
                                  std::int32_t sampleType, bool planar)
{
    return DispatchCall(resize_detail::kSuperSample, src, srcSize, srcStep, roi, dst, dstStep, dstSize, xFactor,
                        yFactor, channels, layout, sampleType, planar);
}
