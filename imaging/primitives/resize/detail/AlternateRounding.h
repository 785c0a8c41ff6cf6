#pragma once
// The integer conversion of the alternate filter set: a single-precision sum
// widened to double, 0.5000001 added (for a signed sample that is not
// positive: 0.0000001 and then 0.5 subtracted), truncated toward zero and
// saturated. Halves therefore round up (signed: away from zero), and so does
// a value up to about 1e-7 below a half. The clamp is taken in floating point
// before the truncation, so a sum beyond the 32-bit range saturates to the
// end it lies on and one that is not a number gives 0.

#include <cstdint>

namespace resize_detail {

template <typename Dest, int Min, int Max>
struct RoundHalfUpDouble {
    using Sample = Dest;
    using Real = float;
    static Dest Convert(float v)
    {
        if (v != v)
            return 0;
        const double x = v;
        const double r = (Min < 0 && !(x > 0.0)) ? (x - 0.0000001) - 0.5 : x + 0.5000001;
        if (r >= static_cast<double>(Max))
            return static_cast<Dest>(Max);
        if (r <= static_cast<double>(Min))
            return static_cast<Dest>(Min);
        return static_cast<Dest>(static_cast<std::int32_t>(r));
    }
};

using AltTo8u = RoundHalfUpDouble<std::uint8_t, 0, 255>;
using AltTo16u = RoundHalfUpDouble<std::uint16_t, 0, 65535>;
using AltTo16s = RoundHalfUpDouble<std::int16_t, -32768, 32767>;

}  // namespace resize_detail
