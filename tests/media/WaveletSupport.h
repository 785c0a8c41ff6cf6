// Pictures and frames for the wavelet tests: ffmpeg's testsrc2 pattern as raw
// planes (made once per process into the scratch folder), frames encoded
// through the frame compressor's factory, and picture comparison.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/VideoFrame.h"

namespace wavelettest {

// Frame `index` (0 to 7) of testsrc2 at the size in "yuv420p", "yuv422p" or
// "gray"; empty when ffmpeg is missing.
const std::vector<uint8_t>& TestPicture(const std::string& pixelFormat, int width, int height,
                                        int index);

// PSNR in dB of two byte blocks of the same size (99 when equal).
double Psnr(const uint8_t* a, const uint8_t* b, size_t size);

// A compressed frame holding `data` (its tag included).
VideoFramePtr CompressedFrame(const uint8_t* data, size_t size, int width, int height, int colour);

// Bytes per pixel of a planar picture of the format.
double BytesPerPixel(const std::string& pixelFormat);

} // namespace wavelettest
