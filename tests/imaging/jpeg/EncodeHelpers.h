#pragma once
// Encoding helpers of the JPEG tests: run the encoder over memory, and find
// segments in the result.

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/jpeg/JpegEncoder.h"

namespace jpeg_test {

struct Encoded {
    JpegStatus status = 0;
    std::vector<std::uint8_t> bytes;
};

struct EncodeOptions {
    JpegColor jpegColour = JpegColorYCbCr;
    JpegSampling jpegSampling = JpegSampling420;
    std::int32_t quality = 75;
    std::int32_t restartInterval = 0;
    std::int32_t optimiseHuffman = 0;
};

// Pixel-order source of `channels` interleaved bytes per pixel.
inline Encoded EncodePixels(const std::uint8_t* data, std::int32_t step, ImageSize size, std::int32_t channels,
                            JpegColor sourceColour, JpegSampling sourceSampling, const EncodeOptions& options,
                            std::int32_t capacity = 0)
{
    Encoded result;
    const std::int32_t cap = capacity > 0 ? capacity : 65536 + size.width * size.height * 8;
    result.bytes.assign(static_cast<std::size_t>(cap), 0);
    CMemBuffOutput out;
    out.AttachBuffer(result.bytes.data(), cap);
    CJPEGEncoder encoder;
    encoder.SetSource(data, step, size, channels, sourceColour, sourceSampling, 8);
    encoder.SetDestination(&out);
    result.status = encoder.SetParams(JpegModeBaseline, options.jpegColour, options.jpegSampling,
                                      options.restartInterval, options.optimiseHuffman, options.quality);
    if (result.status == 0)
        result.status = encoder.WriteHeader();
    if (result.status == 0)
        result.status = encoder.WriteData();
    result.bytes.resize(static_cast<std::size_t>(out.Position()));
    return result;
}

// Planar source: Y, Cb, Cr at the given steps (chroma already sampled).
inline Encoded EncodePlanes(const std::uint8_t* const planes[3], const std::int32_t steps[3], ImageSize size,
                            const EncodeOptions& options, std::int32_t capacity = 0)
{
    Encoded result;
    const std::int32_t cap = capacity > 0 ? capacity : 65536 + size.width * size.height * 8;
    result.bytes.assign(static_cast<std::size_t>(cap), 0);
    CMemBuffOutput out;
    out.AttachBuffer(result.bytes.data(), cap);
    CJPEGEncoder encoder;
    const std::uint8_t* p4[4] = {planes[0], planes[1], planes[2], nullptr};
    const std::int32_t s4[4] = {steps[0], steps[1], steps[2], 0};
    result.status = encoder.SetSourcePlanar(p4, s4, size, 3, JpegColorYCbCr, JpegSampling420, 8);
    encoder.SetDestination(&out);
    if (result.status == 0)
        result.status = encoder.SetParams(JpegModeBaseline, options.jpegColour, options.jpegSampling,
                                          options.restartInterval, options.optimiseHuffman, options.quality);
    if (result.status == 0)
        result.status = encoder.WriteHeader();
    if (result.status == 0)
        result.status = encoder.WriteData();
    result.bytes.resize(static_cast<std::size_t>(out.Position()));
    return result;
}

// Offset of the first marker FF code at or after `from` in the header part
// (segments walked by length until SOS), or of the code anywhere when
// scanning entropy data; -1 when absent.
inline std::ptrdiff_t FindSegment(const std::vector<std::uint8_t>& jpeg, std::uint8_t code, std::size_t from = 2)
{
    std::size_t i = from;
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF) {
        if (jpeg[i + 1] == code)
            return static_cast<std::ptrdiff_t>(i);
        if (jpeg[i + 1] == 0xDA)
            return -1;
        i += 2 + (static_cast<std::size_t>(jpeg[i + 2]) << 8 | jpeg[i + 3]);
    }
    return -1;
}

// The entropy-coded data: from after the SOS segment to the EOI marker.
inline std::vector<std::uint8_t> ScanData(const std::vector<std::uint8_t>& jpeg)
{
    std::size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF) {
        const std::size_t length = static_cast<std::size_t>(jpeg[i + 2]) << 8 | jpeg[i + 3];
        if (jpeg[i + 1] == 0xDA) {
            const std::size_t start = i + 2 + length;
            if (jpeg.size() < start + 2)
                return {};
            return std::vector<std::uint8_t>(jpeg.begin() + static_cast<std::ptrdiff_t>(start), jpeg.end() - 2);
        }
        i += 2 + length;
    }
    return {};
}

inline std::string Hex(const std::vector<std::uint8_t>& bytes, std::size_t limit = 64)
{
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
        s += ' ';
    }
    return s;
}

}  // namespace jpeg_test
