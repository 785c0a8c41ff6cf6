#include <array>
#include <cmath>
#include <cstdint>

#include "imaging/primitives/resize/detail/LanczosKernels.h"

namespace resize_detail {
namespace {

std::array<float, 302> MakeLanczosKernelTable()
{
    std::array<float, 302> table{};
    const double pi = 3.14159265358979323846;
    table[0] = 1.0f;
    for (int i = 1; i <= 300; ++i) {
        // sin(pi x) leaves a few ulps at the zeros; the window is 0 there.
        if (i % 100 == 0)
            continue;
        const double x = i / 100.0;
        const double sinc = std::sin(pi * x) / (pi * x);
        const double lobe = std::sin(pi * x / 3.0) / (pi * x / 3.0);
        table[static_cast<std::size_t>(i)] = static_cast<float>(sinc * lobe);
    }
    return table;
}

}  // namespace

const float* LanczosKernelTable()
{
    static const std::array<float, 302> table = MakeLanczosKernelTable();
    return table.data();
}

void BuildLanczosWeights(const float* fractions, std::int32_t n, float* out, const float* table)
{
    for (std::int32_t p = 0; p < n; ++p) {
        const float t = fractions[p];
        float w[6];
        for (int k = 0; k < 6; ++k) {
            const float distance = std::fabs(static_cast<float>(k - 2) - t);
            const float d = (distance < 3.0f ? distance : 3.0f) * 100.0f;
            const auto i = static_cast<std::int32_t>(d);
            w[k] = table[i] + (d - static_cast<float>(i)) * (table[i + 1] - table[i]);
        }
        const float sum = ((((w[0] + w[1]) + w[2]) + w[3]) + w[4]) + w[5];
        for (int k = 0; k < 6; ++k)
            out[6 * p + k] = w[k] / sum;
    }
}

}  // namespace resize_detail
