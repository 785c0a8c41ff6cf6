// Fuzz target over the JPEG decoder and the buffer decompressor: any input
// must end in a status, without reading or writing outside its buffers and
// without an unbounded allocation.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/jpeg/JpegDecoder.h"
#include "imaging/jpeg/JpegFrameDecompressor.h"

namespace {

// Destinations are bounded so that a header's claim cannot make the target
// allocate without limit; the decoder itself refuses frames above 1 GiB.
constexpr std::int64_t kMaxPixels = 4096 * 4096;

void DecodeWithDecoder(const std::uint8_t* data, std::int32_t size, std::int32_t scale, JpegColor colour)
{
    CMemBuffInput input;
    if (input.AttachBuffer(data, size) != 0)
        return;
    CJPEGDecoder decoder;
    decoder.Clean();
    if (decoder.SetSource(&input) != 0)
        return;
    std::int32_t width = 0, height = 0, components = 0, precision = 0;
    JpegColor imageColour = JpegColorOther;
    JpegSampling sampling = JpegSamplingOther;
    if (decoder.ReadHeader(&width, &height, &components, &imageColour, &sampling, &precision) != 0)
        return;
    if (static_cast<std::int64_t>(width) * height > kMaxPixels)
        return;
    const ImageSize scaled = CJPEGDecoder::ScaledSize({width, height}, scale);
    const std::int32_t channels = colour == JpegColorOther ? components
                                  : colour == JpegColorGrey  ? 1
                                  : colour == JpegColorBgra  ? 4
                                                             : 3;
    const std::int32_t bytes = precision > 8 ? 2 : 1;
    const std::int32_t step = scaled.width * channels * bytes;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(step) * scaled.height);
    if (decoder.SetDestination(pixels.data(), step, scaled, channels, colour, JpegSampling444, precision, scale) != 0)
        return;
    decoder.ReadData();
}

void DecodeWithDecompressor(const std::uint8_t* data, std::int32_t size, std::int32_t target)
{
    JpegFrameDecompressor decompressor;
    std::int32_t width = 0, height = 0, format = 0;
    std::uint8_t probe[16];
    decompressor.Decompress(data, size, probe, sizeof(probe), &width, &height, &format, target);
    if (width <= 0 || height <= 0 || static_cast<std::int64_t>(width) * height > kMaxPixels)
        return;
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(width) * height * 2);
    decompressor.Decompress(data, size, frame.data(), static_cast<std::int32_t>(frame.size()), &width, &height,
                            &format, target);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2 || size > (1u << 24))
        return 0;
    // The last byte chooses the scale and the destination colour; the stream
    // is the rest.
    const std::uint8_t choice = data[size - 1];
    const auto length = static_cast<std::int32_t>(size - 1);
    const JpegColor colours[4] = {JpegColorRgb, JpegColorGrey, JpegColorOther, JpegColorBgra};
    DecodeWithDecoder(data, length, choice & 3, colours[(choice >> 2) & 3]);
    DecodeWithDecompressor(data, length, (choice >> 4) * 16);
    return 0;
}
