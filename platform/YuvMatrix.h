#pragma once
// How the Y, U and V samples of a picture map to RGB.

namespace platform {

// Bt601Video: studio-range BT.601 (luma 16..235, chroma 16..240 about 128),
// the default for pictures that say nothing else. Bt709Video: studio-range
// BT.709. Bt601Full: full-range BT.601 (luma 0..255, as in JPEG).
enum class YuvMatrix { Bt601Video, Bt709Video, Bt601Full };

// The conversion's factors: R = y (Y - yOffset) + rv (V - 128),
// G = y (Y - yOffset) - gu (U - 128) - gv (V - 128), B = y (Y - yOffset) +
// bu (U - 128), each on the 0..255 scale.
struct YuvFactors {
    double y, rv, gu, gv, bu;
    int yOffset;
};

constexpr YuvFactors Factors(YuvMatrix matrix)
{
    switch (matrix) {
    case YuvMatrix::Bt709Video:
        return {255.0 / 219, 1.5748 * 255 / 224, 0.1873 * 255 / 224, 0.4681 * 255 / 224, 1.8556 * 255 / 224, 16};
    case YuvMatrix::Bt601Full: return {1.0, 1.402, 0.344136, 0.714136, 1.772, 0};
    case YuvMatrix::Bt601Video: break;
    }
    return {255.0 / 219, 1.402 * 255 / 224, 0.344136 * 255 / 224, 0.714136 * 255 / 224, 1.772 * 255 / 224, 16};
}

}  // namespace platform
