// Encodes a deterministic picture of the given size and writes the JPEG to
// stdout: "jpeg_encode_tool <width> <height> <grey|grey12|planar|rgb> [raw
// file]"; the raw file, when given, supplies the samples (grey12: 12-bit
// samples in little-endian words, written by the extended process).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imaging/jpeg/JpegEncoder.h"

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5)
        return 2;
    const int width = std::atoi(argv[1]);
    const int height = std::atoi(argv[2]);
    const char* kind = argv[3];
    const bool twelve = std::strcmp(kind, "grey12") == 0;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>((i * 37 + (i / 7) * 11) & 0xFF);
    if (argc == 5) {
        std::FILE* in = std::fopen(argv[4], "rb");
        if (in == nullptr)
            return 2;
        const std::size_t got = std::fread(pixels.data(), 1, pixels.size(), in);
        std::fclose(in);
        if (got == 0)
            return 2;
    }
    std::vector<std::uint8_t> out(65536 + pixels.size() * 4);
    CMemBuffOutput stream;
    stream.AttachBuffer(out.data(), static_cast<std::int32_t>(out.size()));
    CJPEGEncoder encoder;
    JpegStatus status = 0;
    if (twelve) {
        for (std::size_t i = 1; i < pixels.size(); i += 2)
            pixels[i] &= 0x0F;
        encoder.SetSource(pixels.data(), width * 2, {width, height}, 1, JpegColorGrey, JpegSampling444, 12);
        encoder.SetDestination(&stream);
        status = encoder.SetParams(JpegModeExtended, JpegColorGrey, JpegSampling444, 0, 0, 75);
    } else if (std::strcmp(kind, "grey") == 0) {
        encoder.SetSource(pixels.data(), width, {width, height}, 1, JpegColorGrey, JpegSampling444, 8);
        encoder.SetDestination(&stream);
        status = encoder.SetParams(JpegModeBaseline, JpegColorGrey, JpegSampling444, 0, 0, 75);
    } else if (std::strcmp(kind, "planar") == 0) {
        const std::uint8_t* planes[4] = {pixels.data(), pixels.data() + width * height,
                                         pixels.data() + width * height * 2, nullptr};
        const std::int32_t steps[4] = {width, width / 2 > 0 ? width / 2 : 1, width / 2 > 0 ? width / 2 : 1, 0};
        encoder.SetSourcePlanar(planes, steps, {width, height}, 3, JpegColorYCbCr, JpegSampling420, 8);
        encoder.SetDestination(&stream);
        status = encoder.SetParams(JpegModeBaseline, JpegColorYCbCr, JpegSampling420, 0, 0, 75);
    } else {
        encoder.SetSource(pixels.data(), width * 3, {width, height}, 3, JpegColorRgb, JpegSampling444, 8);
        encoder.SetDestination(&stream);
        status = encoder.SetParams(JpegModeBaseline, JpegColorYCbCr, JpegSampling420, 0, 0, 75);
    }
    if (status == 0)
        status = encoder.WriteHeader();
    if (status == 0)
        status = encoder.WriteData();
    if (status != 0) {
        std::fprintf(stderr, "status %d\n", status);
        return 1;
    }
    std::fwrite(out.data(), 1, static_cast<std::size_t>(stream.Position()), stdout);
    return 0;
}
