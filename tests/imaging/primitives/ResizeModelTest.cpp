// The drivers on random images of every sample type and layout against
// straightforward double-precision models of the same mappings, and every
// processor slot against the portable bodies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "SlotSweep.h"
#include "ResizeTestSupport.h"
#include "imaging/primitives/resize/Resize.h"
#include "imaging/primitives/resize/detail/ResizeFilters.h"

namespace {

using namespace primitives_test;
using namespace resize_test;

constexpr double kGuard = 0.0000001;

struct Request {
    Layout layout;
    std::int32_t sampleType;
    std::int32_t mode;
    std::int32_t srcWidth, srcHeight;
    ImageRect roi;  // as given (may reach past the image)
    double xFactor, yFactor;
    ImageSize dstSize;
    bool bottomUp;
    int srcPad, dstPad;

    std::string Describe() const
    {
        return std::string(layout.name) + " type " + std::to_string(sampleType) + " mode " + std::to_string(mode) +
               " src " + std::to_string(srcWidth) + "x" + std::to_string(srcHeight) + " roi " +
               std::to_string(roi.x) + "," + std::to_string(roi.y) + " " + std::to_string(roi.width) + "x" +
               std::to_string(roi.height) + " factors " + std::to_string(xFactor) + "," + std::to_string(yFactor) +
               (bottomUp ? " bottom-up" : "");
    }
};

bool CubicOrLanczos(std::int32_t mode)
{
    return mode == ResizeMode::Cubic || mode == ResizeMode::Lanczos;
}

// Float samples of cubic and Lanczos requests lie in 0..1, where the model
// holds them to 1e-5.
double RandomSample(std::mt19937& rng, std::int32_t type, std::int32_t mode)
{
    if (type == 2 && CubicOrLanczos(mode))
        return static_cast<double>(rng() % 1000001) / 1e6;
    switch (type) {
    case 0:
        return static_cast<double>(rng() % 256);
    case 1:
        return static_cast<double>(rng() % 65536);
    default:
        return std::ldexp(static_cast<double>(static_cast<std::int32_t>(rng() % 200001) - 100000), -10);
    }
}

struct Outcome {
    PrimitiveStatus status = 0;
    Planes dst;
    std::vector<std::vector<std::uint8_t>> before;  // destination storage before the call
};

// Runs the request in the current slot on src; the destination starts as a
// canary pattern.
// With a filter set, the interpolating modes run the driver over that set.
Outcome Execute(const Request& r, Planes& src, const resize_detail::ResizeFilterSet* set = nullptr)
{
    Outcome run{0, Planes(r.dstSize.width, r.dstSize.height, r.sampleType, r.layout.SamplesPerPixel(), r.layout.Planes(),
                      r.dstPad, r.bottomUp),
            {}};
    for (auto& plane : run.dst.storage)
        for (std::size_t i = 0; i < plane.size(); ++i)
            plane[i] = static_cast<std::uint8_t>(0xA5 ^ (i * 29));
    run.before = run.dst.storage;
    ImageRect roi = r.roi;
    const void* source = r.layout.planar ? static_cast<const void*>(src.pointers.data())
                                         : static_cast<const void*>(src.pointers[0]);
    void* target = r.layout.planar ? static_cast<void*>(run.dst.pointers.data()) : static_cast<void*>(run.dst.pointers[0]);
    const std::int32_t channels = r.layout.planar ? 1 : r.layout.stride;
    if (r.mode == ResizeMode::SuperSample)
        run.status = ResizeSuperSample(source, {r.srcWidth, r.srcHeight}, src.step, &roi, target, run.dst.step,
                                       r.dstSize, r.xFactor, r.yFactor, channels, r.layout.layout, r.sampleType,
                                       r.layout.planar);
    else if (set != nullptr)
        run.status = resize_detail::ResizeInterpolatedWithSet(
            *set, source, r.srcWidth, r.srcHeight, src.step, &roi, target, run.dst.step, r.dstSize, r.xFactor,
            r.yFactor, channels, r.layout.layout, r.sampleType, r.layout.planar, r.mode);
    else
        run.status = ResizeInterpolated(source, r.srcWidth, r.srcHeight, src.step, &roi, target, run.dst.step,
                                        r.dstSize, r.xFactor, r.yFactor, channels, r.layout.layout, r.sampleType,
                                        r.layout.planar, r.mode);
    return run;
}

// --- models ----------------------------------------------------------------

struct AxisTap {
    int index;       // region-relative, first of the pair
    double weight;   // of the second sample
};

// Nearest: the sample under the destination sample's centre, kept inside the
// region.
int NearestIndex(int i, double factor, int region)
{
    return std::min(static_cast<int>(std::floor((i + 0.5) / factor + kGuard)), region - 1);
}

// Linear with corners aligned, Q14 (or float) weight of the second sample,
// the pair moved back at the image's last sample.
AxisTap LinearTap(int i, double factor, int region, int origin, int imageExtent, bool q14)
{
    const double scaled = region * factor;
    const double step = scaled > 1.0 ? (region - 1) / (scaled - 1.0) : 0.0;
    const double position = i * step;
    int k = static_cast<int>(std::floor(position + kGuard));
    double f = position - k;
    if (k > region - 1) {
        k = region - 1;
        f = 0.0;
    }
    if (origin + k == imageExtent - 1)
        return {k - 1, 1.0};
    if (q14)
        return {k, std::trunc(f * 16384.0 + kGuard) / 16384.0};
    return {k, static_cast<double>(static_cast<float>(f))};
}

// The mode the driver runs, lowered on the whole source's size.
std::int32_t EffectiveMode(const Request& r)
{
    std::int32_t mode = r.mode;
    if (mode == ResizeMode::SuperSample)
        return mode;
    if ((r.srcWidth < 8 || r.srcHeight < 8) && mode == ResizeMode::Lanczos)
        mode = ResizeMode::Cubic;
    if ((r.srcWidth < 4 || r.srcHeight < 4) && mode == ResizeMode::Cubic)
        mode = ResizeMode::Linear;
    if (r.srcWidth < 2 || r.srcHeight < 2)
        mode = ResizeMode::Nearest;
    return mode;
}

// Position of destination sample i with corners aligned: index (kept inside
// the region) and fraction.
AxisTap AlignedPosition(int i, double factor, int region)
{
    const double scaled = region * factor;
    const double step = scaled > 1.0 ? (region - 1) / (scaled - 1.0) : 0.0;
    const double position = i * step;
    const int k = static_cast<int>(std::floor(position + kGuard));
    if (k > region - 1)
        return {region - 1, 0.0};
    return {k, position - k};
}

// Cubic: four taps inside the image (absolute indices, first tap) and the
// Lagrange weights through -1, 0, 1, 2 at t.
struct CubicTaps {
    int first;
    double w[4];
};

CubicTaps CubicTap(int i, double factor, int region, int origin, int imageExtent)
{
    const AxisTap at = AlignedPosition(i, factor, region);
    const int a = origin + at.index;
    int second = a;
    double t = at.weight;
    if (a == imageExtent - 1) {
        second = a - 2;
        t = 2.0;
    } else if (a == 0) {
        second = 1;
        t = at.weight - 1.0;
    } else if (a == imageExtent - 2) {
        second = a - 1;
        t = at.weight + 1.0;
    }
    t = static_cast<float>(t);  // the tables hold floats
    return {second - 1,
            {-t * (t - 1) * (t - 2) / 6, (t + 1) * (t - 1) * (t - 2) / 2, -(t + 1) * t * (t - 2) / 2,
             (t + 1) * t * (t - 1) / 6}};
}

// The Lanczos window of three lobes, sampled every 0.01 and read with linear
// interpolation, in double precision.
double LanczosWindow(double distance)
{
    auto at = [](int i) {
        if (i == 0)
            return 1.0;
        if (i % 100 == 0 || i > 300)
            return 0.0;
        const double x = i / 100.0, pi = std::acos(-1.0);
        return std::sin(pi * x) / (pi * x) * std::sin(pi * x / 3) / (pi * x / 3);
    };
    const double d = std::min(distance, 3.0) * 100.0;
    const int i = static_cast<int>(d);
    return at(i) + (d - i) * (at(i + 1) - at(i));
}

// Lanczos: six taps from j - 2 (absolute indices, clamped to the image by the
// caller) and their normalised weights.
struct LanczosTaps {
    int first;
    double w[6];
};

LanczosTaps LanczosTap(int i, double factor, int region, int origin)
{
    const AxisTap at = AlignedPosition(i, factor, region);
    const double t = static_cast<float>(at.weight);
    LanczosTaps taps{origin + at.index - 2, {}};
    double sum = 0.0;
    for (int m = 0; m < 6; ++m)
        sum += taps.w[m] = LanczosWindow(std::abs(m - 2 - t));
    for (double& w : taps.w)
        w /= sum;
    return taps;
}

// Coverage of source sample j (region-relative) by the box [start, start +
// size) where samples at or past the region's end repeat its last sample.
double Coverage(int j, double start, double size, int region)
{
    auto overlap = [&](double lo, double hi) { return std::max(0.0, std::min(hi, start + size) - std::max(lo, start)); };
    if (j < region - 1)
        return overlap(j, j + 1.0);
    return overlap(j, 1e300);  // the last sample stands for everything past it
}

// Model value of destination sample (x, y), channel c, of one plane.
double Model(const Request& r, Planes& src, int plane, int x, int y, int c, const ImageRect& roi, bool* exactInteger)
{
    auto sample = [&](int sx, int sy) { return src.Get(plane, roi.x + sx, roi.y + sy, c); };
    // Absolute position, clamped to the image.
    auto imageSample = [&](int ax, int ay) {
        return src.Get(plane, std::clamp(ax, 0, r.srcWidth - 1), std::clamp(ay, 0, r.srcHeight - 1), c);
    };
    *exactInteger = false;
    const std::int32_t mode = EffectiveMode(r);
    if (mode == ResizeMode::Cubic) {
        const CubicTaps tx = CubicTap(x, r.xFactor, roi.width, roi.x, r.srcWidth);
        const CubicTaps ty = CubicTap(y, r.yFactor, roi.height, roi.y, r.srcHeight);
        double v = 0.0;
        for (int m = 0; m < 4; ++m)
            for (int n = 0; n < 4; ++n)
                v += ty.w[m] * tx.w[n] * src.Get(plane, tx.first + n, ty.first + m, c);
        return v;
    }
    if (mode == ResizeMode::Lanczos) {
        const LanczosTaps tx = LanczosTap(x, r.xFactor, roi.width, roi.x);
        const LanczosTaps ty = LanczosTap(y, r.yFactor, roi.height, roi.y);
        double v = 0.0;
        for (int m = 0; m < 6; ++m)
            for (int n = 0; n < 6; ++n)
                v += ty.w[m] * tx.w[n] * imageSample(tx.first + n, ty.first + m);
        return v;
    }
    if (mode == ResizeMode::Nearest) {
        *exactInteger = true;
        return sample(NearestIndex(x, r.xFactor, roi.width), NearestIndex(y, r.yFactor, roi.height));
    }
    if (mode == ResizeMode::Linear) {
        const bool q14 = r.sampleType != 2;
        const AxisTap tx = LinearTap(x, r.xFactor, roi.width, roi.x, r.srcWidth, q14);
        const AxisTap ty = LinearTap(y, r.yFactor, roi.height, roi.y, r.srcHeight, q14);
        auto row = [&](int sy) { return sample(tx.index, sy) * (1 - tx.weight) + sample(tx.index + 1, sy) * tx.weight; };
        return row(ty.index) * (1 - ty.weight) + row(ty.index + 1) * ty.weight;
    }
    // Area average.
    const double a = 1.0 / r.xFactor, b = 1.0 / r.yFactor;
    const bool integral = a - std::trunc(a) < kGuard && b - std::trunc(b) < kGuard;
    double sum = 0.0;
    const int columns = static_cast<int>(std::ceil((x + 1) * a)) + 1;
    const int rows = static_cast<int>(std::ceil((y + 1) * b)) + 1;
    for (int j = static_cast<int>(std::floor(y * b)); j < std::min(rows, roi.height); ++j) {
        const double cy = Coverage(j, y * b, b, roi.height);
        if (cy == 0.0)
            continue;
        for (int i = static_cast<int>(std::floor(x * a)); i < std::min(columns, roi.width); ++i) {
            const double cx = Coverage(i, x * a, a, roi.width);
            sum += cx * cy * sample(i, j);
        }
    }
    if (integral && r.sampleType != 2) {
        // Whole boxes: the integer sum converted by trunc(sum x norm + 0.5).
        *exactInteger = true;
        return std::trunc(std::round(sum) * (r.xFactor * r.yFactor) + 0.5);
    }
    return sum / (a * b);
}

double Tolerance(const Request& r, double value)
{
    if (r.sampleType == 2 && CubicOrLanczos(r.mode))
        return 1e-5;
    if (r.sampleType == 2)
        return 1e-3 * std::max(1.0, std::abs(value));
    return 1.0;
}

Request RandomRequest(std::mt19937& rng, const Layout& layout, std::int32_t type, std::int32_t mode)
{
    Request r{layout, type, mode, 0, 0, {}, 1.0, 1.0, {}, false, 0, 0};
    r.srcWidth = 1 + static_cast<int>(rng() % 67);
    r.srcHeight = 1 + static_cast<int>(rng() % 40);
    if (CubicOrLanczos(mode) && rng() % 4 != 0) {  // mostly sources that keep the mode
        r.srcWidth = 8 + static_cast<int>(rng() % 40);
        r.srcHeight = 8 + static_cast<int>(rng() % 33);
    }
    r.roi.x = static_cast<int>(rng() % r.srcWidth);
    r.roi.y = static_cast<int>(rng() % r.srcHeight);
    r.roi.width = 1 + static_cast<int>(rng() % (r.srcWidth + 3));
    r.roi.height = 1 + static_cast<int>(rng() % (r.srcHeight + 3));
    if (mode == ResizeMode::SuperSample) {
        const double factors[] = {1.0, 0.5, 0.25, 1.0 / 3.0, 0.4, 0.7, 0.3, 0.6, 0.55, 0.2};
        r.xFactor = factors[rng() % 10];
        r.yFactor = factors[rng() % 10];
    } else {
        const double factors[] = {1.0, 2.0, 0.5, 3.0, 0.75, 1.37, 0.3, 2.6, 0.9, 1.5};
        r.xFactor = factors[rng() % 10];
        r.yFactor = factors[rng() % 10];
    }
    r.dstSize = {1 + static_cast<int>(rng() % 120), 1 + static_cast<int>(rng() % 80)};
    r.bottomUp = rng() % 3 == 0;
    r.srcPad = static_cast<int>(rng() % 3) * 4;
    r.dstPad = static_cast<int>(rng() % 3) * 4;
    return r;
}

Planes RandomSource(std::mt19937& rng, const Request& r)
{
    Planes src(r.srcWidth, r.srcHeight, r.sampleType, r.layout.SamplesPerPixel(), r.layout.Planes(), r.srcPad,
               r.bottomUp);
    for (int p = 0; p < r.layout.Planes(); ++p)
        for (int y = 0; y < r.srcHeight; ++y)
            for (int x = 0; x < r.srcWidth; ++x)
                for (int c = 0; c < r.layout.SamplesPerPixel(); ++c)
                    src.Set(p, x, y, c, RandomSample(rng, r.sampleType, r.mode));
    return src;
}

// Checks one run against the model: extent written, everything else (alpha,
// padding, samples past the extent) as before.
void CheckAgainstModel(const Request& r, Planes& src, const Outcome& run)
{
    ImageRect roi = r.roi;
    roi.width = std::min(roi.width, r.srcWidth - roi.x);
    roi.height = std::min(roi.height, r.srcHeight - roi.y);
    const int w = ExpectedExtent(roi.width, r.xFactor, r.dstSize.width);
    const int h = ExpectedExtent(roi.height, r.yFactor, r.dstSize.height);
    if (w == 0 || h == 0) {
        ASSERT_EQ(run.status, PrimitiveStatusCode::ResizeBelowHalfPixel) << r.Describe();
        ASSERT_EQ(run.dst.storage, run.before) << r.Describe();
        return;
    }
    ASSERT_EQ(run.status, 0) << r.Describe();
    Planes& dst = const_cast<Planes&>(run.dst);
    // Everything outside the processed samples is unchanged: compare a copy
    // with the processed samples taken from before.
    auto expectedBytes = run.dst.storage;
    for (int p = 0; p < r.layout.Planes(); ++p) {
        const std::uint8_t* base = run.dst.storage[p].data();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < r.layout.Channels(); ++c) {
                    const std::ptrdiff_t at = dst.At(p, x, y, c) - base;
                    std::memcpy(expectedBytes[p].data() + at, run.before[p].data() + at, BytesOf(r.sampleType));
                    bool exact = false;
                    double model = Model(r, src, p, x, y, c, roi, &exact);
                    if (r.sampleType != 2)  // integers saturate
                        model = std::clamp(model, 0.0, r.sampleType == 0 ? 255.0 : 65535.0);
                    const double got = dst.Get(p, x, y, c);
                    if (exact)
                        ASSERT_EQ(got, model) << r.Describe() << " at " << x << "," << y << " channel " << c;
                    else
                        ASSERT_NEAR(got, model, Tolerance(r, model))
                            << r.Describe() << " at " << x << "," << y << " channel " << c;
                }
    }
    ASSERT_EQ(expectedBytes, run.before) << r.Describe() << ": wrote outside the processed samples";
}

class ResizeModel : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(ResizeModel, RandomImagesMatchModels)
{
    const std::int32_t mode = GetParam();
    std::mt19937 rng(1234 + mode);
    ScopedCpuVariant portable(0);
    for (const Layout& layout : kLayouts)
        for (std::int32_t type = 0; type < 3; ++type)
            for (int n = 0; n < 40; ++n) {
                const Request r = RandomRequest(rng, layout, type, mode);
                Planes src = RandomSource(rng, r);
                const Outcome run = Execute(r, src);
                CheckAgainstModel(r, src, run);
                if (HasFatalFailure())
                    return;
            }
}

TEST_P(ResizeModel, EverySlotMatchesPortableBodies)
{
    const std::int32_t mode = GetParam();
    std::mt19937 rng(99 + mode);
    for (const Layout& layout : kLayouts)
        for (std::int32_t type = 0; type < 3; ++type)
            for (int n = 0; n < 25; ++n) {
                Request r = RandomRequest(rng, layout, type, mode);
                // Wider images reach the vector blocks.
                if (n % 4 == 0) {
                    r.srcWidth = 300 + static_cast<int>(rng() % 67);
                    r.roi = {0, 0, r.srcWidth, r.srcHeight};
                    r.dstSize = {400, 60};
                }
                Planes src = RandomSource(rng, r);
                Outcome reference;
                {
                    ScopedCpuVariant portable(0);
                    reference = Execute(r, src);
                }
                for (std::int32_t slot : SupportedSlots()) {
                    ScopedCpuVariant variant(slot);
                    const Outcome run = Execute(r, src);
                    ASSERT_EQ(run.status, reference.status) << r.Describe() << " in " << SlotName(slot);
                    ASSERT_EQ(run.dst.storage, reference.dst.storage) << r.Describe() << " in " << SlotName(slot);
                }
            }
}

// The alternate set against its twins through the driver, on random images
// of every layout and the three driven sample types, destination widths 1 to
// 40: the alternate results meet the model and keep everything outside the
// processed samples; nearest and linear are the twins' bytes; elsewhere an
// integer sample differs by at most 1, and only where the unrounded value (the
// alternate 32f filter on the same samples) lies within a few single-precision
// units (at the scale of the sample range) of a half, and a float sample only
// in its last bits. Every processor
// slot gives the portable alternate bytes.
TEST_P(ResizeModel, AlternateSetIsTheTwinOfThePrimary)
{
    const std::int32_t mode = GetParam();
    if (mode == ResizeMode::SuperSample)
        return;
    std::mt19937 rng(777 + mode);
    ScopedCpuVariant portable(0);
    const auto& sets = *resize_detail::kResizeFilterSets[0];
    int differences = 0;
    for (const Layout& layout : kLayouts)
        for (std::int32_t type = 0; type < 3; ++type)
            for (int n = 0; n < 20; ++n) {
                Request r = RandomRequest(rng, layout, type, mode);
                r.dstSize.width = 1 + n * 39 / 19;
                Planes src = RandomSource(rng, r);
                const Outcome twin = Execute(r, src, &sets.primary);
                const Outcome alternate = Execute(r, src, &sets.alternate);
                CheckAgainstModel(r, src, alternate);
                if (HasFatalFailure())
                    return;
                for (std::int32_t slot : SupportedSlots()) {
                    const Outcome other =
                        Execute(r, src, &resize_detail::kResizeFilterSets[static_cast<std::size_t>(slot)]->alternate);
                    ASSERT_EQ(other.dst.storage, alternate.dst.storage) << r.Describe() << " in " << SlotName(slot);
                }
                if (mode == ResizeMode::Nearest || mode == ResizeMode::Linear) {
                    ASSERT_EQ(alternate.dst.storage, twin.dst.storage) << r.Describe();
                    continue;
                }
                if (alternate.status != 0)
                    continue;
                // The unrounded values: the same samples through the 32f filter.
                Request real = r;
                real.sampleType = 2;
                Planes realSrc(r.srcWidth, r.srcHeight, 2, r.layout.SamplesPerPixel(), r.layout.Planes(), r.srcPad,
                               r.bottomUp);
                for (int p = 0; p < r.layout.Planes(); ++p)
                    for (int y = 0; y < r.srcHeight; ++y)
                        for (int x = 0; x < r.srcWidth; ++x)
                            for (int c = 0; c < r.layout.SamplesPerPixel(); ++c)
                                realSrc.Set(p, x, y, c, src.Get(p, x, y, c));
                const Outcome values = Execute(real, realSrc, &sets.alternate);
                ImageRect roi = r.roi;
                roi.width = std::min(roi.width, r.srcWidth - roi.x);
                roi.height = std::min(roi.height, r.srcHeight - roi.y);
                const int w = ExpectedExtent(roi.width, r.xFactor, r.dstSize.width);
                const int h = ExpectedExtent(roi.height, r.yFactor, r.dstSize.height);
                // One channel (or a plane) narrower than 4 pixels: the
                // cubic twins compute every value one at a time too.
                if (mode == ResizeMode::Cubic && r.layout.Channels() == 1 && w < 4) {
                    ASSERT_EQ(alternate.dst.storage, twin.dst.storage) << r.Describe();
                }
                Planes& a = const_cast<Planes&>(alternate.dst);
                Planes& b = const_cast<Planes&>(twin.dst);
                Planes& v = const_cast<Planes&>(values.dst);
                for (int p = 0; p < r.layout.Planes(); ++p)
                    for (int y = 0; y < h; ++y)
                        for (int x = 0; x < w; ++x)
                            for (int c = 0; c < r.layout.Channels(); ++c) {
                                const double got = a.Get(p, x, y, c);
                                const double want = b.Get(p, x, y, c);
                                if (got == want)
                                    continue;
                                const std::string at = r.Describe() + " at " + std::to_string(x) + "," +
                                                       std::to_string(y) + " channel " + std::to_string(c);
                                if (type == 2) {
                                    ASSERT_LE(std::abs(got - want), 1e-6 * std::max(1.0, std::abs(want))) << at;
                                    continue;
                                }
                                ++differences;
                                ASSERT_EQ(std::abs(got - want), 1.0) << at;
                                const double value = v.Get(p, x, y, c);
                                // Units at the scale of the samples: the two
                                // passes round terms as large as the range.
                                const double range = type == 0 ? 255.0 : 65535.0;
                                const double units = std::ldexp(std::max(range, std::abs(value)), -23);
                                ASSERT_LE(std::abs(value - (std::floor(value) + 0.5)), 2e-7 + 16 * units)
                                    << at << ": unrounded " << value;
                            }
            }
    RecordProperty("integer samples that differ", differences);
}

INSTANTIATE_TEST_SUITE_P(Modes, ResizeModel,
                         ::testing::Values(ResizeMode::Nearest, ResizeMode::Linear, ResizeMode::SuperSample,
                                           ResizeMode::Cubic, ResizeMode::Lanczos),
                         [](const auto& info) {
                             return info.param == ResizeMode::Nearest  ? std::string("Nearest")
                                    : info.param == ResizeMode::Linear ? std::string("Linear")
                                    : info.param == ResizeMode::Cubic  ? std::string("Cubic")
                                    : info.param == ResizeMode::Lanczos ? std::string("Lanczos")
                                                                        : std::string("SuperSample");
                         });

// A planar image gives, plane for plane, what the one-channel call gives.
TEST(ResizePlanar, EqualsPerPlane)
{
    std::mt19937 rng(7);
    for (std::int32_t mode : {ResizeMode::Nearest, ResizeMode::Linear, ResizeMode::SuperSample, ResizeMode::Cubic,
                              ResizeMode::Lanczos})
        for (std::int32_t type = 0; type < 3; ++type) {
            const Layout p4{"P4", 1, 4, true};
            Request r = RandomRequest(rng, p4, type, mode);
            r.roi = {1, 1, r.srcWidth, r.srcHeight};
            r.srcWidth = std::max(r.srcWidth, 3);
            r.srcHeight = std::max(r.srcHeight, 3);
            Planes src = RandomSource(rng, r);
            const Outcome planar = Execute(r, src);
            for (int p = 0; p < 4; ++p) {
                Request one = r;
                one.layout = {"C1", 1, 1, false};
                Planes single(r.srcWidth, r.srcHeight, type, 1, 1, r.srcPad, r.bottomUp);
                std::copy(src.storage[p].begin(), src.storage[p].end(), single.storage[0].begin());
                const Outcome alone = Execute(one, single);
                ASSERT_EQ(alone.status, planar.status);
                EXPECT_EQ(alone.dst.storage[0], planar.dst.storage[p]) << one.Describe() << " plane " << p;
            }
        }
}

// The 16s linear filters, which no driver type reaches, against the model of
// the same tables.
TEST(ResizeLinear16s, MatchesModel)
{
    std::mt19937 rng(16);
    for (int channels : {1, 3, 4}) {
        const int sw = 23, sh = 9, dw = 37, dh = 14;
        std::vector<std::int16_t> src(static_cast<std::size_t>(sw) * sh * channels);
        for (auto& s : src)
            s = static_cast<std::int16_t>(static_cast<int>(rng() % 65536) - 32768);
        const double xf = static_cast<double>(dw) / sw, yf = static_cast<double>(dh) / sh;
        std::vector<std::int32_t> rows(dh), columns(dw);
        std::vector<std::int16_t> rowWeights(dh), columnWeights(2 * dw);
        for (int y = 0; y < dh; ++y) {
            const AxisTap t = LinearTap(y, yf, sh, 0, sh, true);
            rows[y] = t.index * sw * channels;
            rowWeights[y] = static_cast<std::int16_t>(std::lround(t.weight * 16384));
        }
        for (int x = 0; x < dw; ++x) {
            const AxisTap t = LinearTap(x, xf, sw, 0, sw, true);
            columns[x] = t.index * channels;
            const auto c = static_cast<std::int16_t>(std::lround(t.weight * 16384));
            columnWeights[2 * x] = static_cast<std::int16_t>(16384 - c);
            columnWeights[2 * x + 1] = c;
        }
        std::vector<std::int16_t> b1(channels * (dw + 4)), b2(channels * (dw + 4)), dst(dw * dh * channels);
        auto* filter = channels == 1 ? resize_detail::ResizeLinear_16s_C1 : resize_detail::ResizeLinear_16s_Cn;
        filter(src.data(), dst.data(), sw * channels, dw * channels, dw, dh, rows.data(), columns.data(),
               rowWeights.data(), columnWeights.data(), b1.data(), b2.data(), channels, channels);
        for (int y = 0; y < dh; ++y)
            for (int x = 0; x < dw; ++x)
                for (int c = 0; c < channels; ++c) {
                    const AxisTap tx = LinearTap(x, xf, sw, 0, sw, true), ty = LinearTap(y, yf, sh, 0, sh, true);
                    auto at = [&](int sx, int sy) { return static_cast<double>(src[(sy * sw + sx) * channels + c]); };
                    auto row = [&](int sy) { return at(tx.index, sy) * (1 - tx.weight) + at(tx.index + 1, sy) * tx.weight; };
                    const double model = row(ty.index) * (1 - ty.weight) + row(ty.index + 1) * ty.weight;
                    ASSERT_NEAR(dst[(y * dw + x) * channels + c], model, 1.0) << channels << " channels at " << x << "," << y;
                }
    }
}

// Images flush against both ends of guarded allocations, regions on every
// edge, every mode, type and layout: nothing outside the image is read.
TEST(ResizeGuarded, RegionsOnEveryEdge)
{
    std::mt19937 rng(5);
    const int w = 13, h = 9;
    const ImageRect regions[] = {{0, 0, w, h},     {w - 1, 0, 1, h}, {0, h - 1, w, 1},    {w - 1, h - 1, 1, 1},
                                 {0, 0, 1, 1},     {5, 3, 100, 100}, {w - 2, h - 2, 2, 2}};
    const double factors[][2] = {{1.0, 1.0}, {0.5, 0.5}, {2.0, 3.0}, {0.4, 0.6}, {0.14285714, 0.3}, {1.0 / 3, 0.25}};
    for (const Layout& layout : kLayouts)
        for (std::int32_t type = 0; type < 3; ++type)
            for (const bool bottomUp : {false, true})
                for (const auto flush : {GuardedBuffer::Flush::Start, GuardedBuffer::Flush::End}) {
                    const int rowBytes = w * layout.SamplesPerPixel() * BytesOf(type);
                    std::vector<std::unique_ptr<GuardedBuffer>> planes;
                    std::vector<const void*> pointers;
                    for (int p = 0; p < layout.Planes(); ++p) {
                        planes.push_back(std::make_unique<GuardedBuffer>(static_cast<std::size_t>(rowBytes) * h, flush));
                        for (std::size_t i = 0; i < planes.back()->size(); ++i)
                            planes.back()->data()[i] = static_cast<std::uint8_t>(rng() & 0x3F);
                        pointers.push_back(planes.back()->data() + (bottomUp ? rowBytes * (h - 1) : 0));
                    }
                    const std::int32_t step = bottomUp ? -rowBytes : rowBytes;
                    for (const auto& region : regions)
                        for (const auto& f : factors)
                            for (std::int32_t mode : {ResizeMode::Nearest, ResizeMode::Linear, ResizeMode::SuperSample,
                                                      ResizeMode::Cubic, ResizeMode::Lanczos}) {
                                const int dw = 40, dh = 30;
                                std::vector<std::vector<std::uint8_t>> out(
                                    layout.Planes(),
                                    std::vector<std::uint8_t>(static_cast<std::size_t>(dw) * dh * 4 * 4, 0));
                                std::vector<void*> targets;
                                for (auto& o : out)
                                    targets.push_back(o.data());
                                ImageRect roi = region;
                                const void* source = layout.planar ? static_cast<const void*>(pointers.data()) : pointers[0];
                                void* target = layout.planar ? static_cast<void*>(targets.data()) : targets[0];
                                const std::int32_t dstStep = dw * layout.SamplesPerPixel() * BytesOf(type);
                                const std::int32_t channels = layout.planar ? 1 : layout.stride;
                                PrimitiveStatus status;
                                if (mode == ResizeMode::SuperSample)
                                    status = ResizeSuperSample(source, {w, h}, step, &roi, target, dstStep, {dw, dh},
                                                               std::min(f[0], 1.0), std::min(f[1], 1.0), channels,
                                                               layout.layout, type, layout.planar);
                                else
                                    status = ResizeInterpolated(source, w, h, step, &roi, target, dstStep, {dw, dh},
                                                                f[0], f[1], channels, layout.layout, type, layout.planar,
                                                                mode);
                                EXPECT_TRUE(status == 0 || status == PrimitiveStatusCode::ResizeBelowHalfPixel)
                                    << layout.name << " mode " << mode << " status " << status;
                            }
                }
}

}  // namespace
