#include "imaging/jpeg/JpegFrameDecompressor.h"

#include <climits>
#include <cstring>

#include "imaging/primitives/AlignedMemory.h"
#include "imaging/primitives/PackedYuv.h"

namespace {

enum FrameLayout : std::int32_t { LayoutGrey = 0, Layout420 = 1, Layout422 = 2 };

// Copies the top-left width x height of a plane.
void CopyPlane(const std::uint8_t* src, std::int64_t srcStep, std::uint8_t* dst, std::int32_t width,
               std::int32_t height)
{
    for (std::int32_t y = 0; y < height; ++y)
        std::memcpy(dst + static_cast<std::int64_t>(y) * width, src + y * srcStep, static_cast<std::size_t>(width));
}

}  // namespace

JpegFrameDecompressor::JpegFrameDecompressor() : decoder_(std::make_unique<CJPEGDecoder>()) {}

JpegFrameDecompressor::~JpegFrameDecompressor()
{
    AlignedFree(output_);
}

std::uint8_t* JpegFrameDecompressor::GetOutputBuffer(std::int64_t size)
{
    if (output_ != nullptr && outputCapacity_ >= size)
        return output_;
    AlignedFree(output_);
    output_ = nullptr;
    outputCapacity_ = 0;
    if (size <= 0 || size > INT32_MAX)
        return nullptr;
    output_ = static_cast<std::uint8_t*>(AlignedMalloc(static_cast<std::int32_t>(size)));
    if (output_ != nullptr)
        outputCapacity_ = size;
    return output_;
}

std::int32_t JpegFrameDecompressor::Decompress(const std::uint8_t* jpeg, std::int32_t length,
                                               std::uint8_t* destination, std::int32_t capacity,
                                               std::int32_t* width, std::int32_t* height, std::int32_t* format,
                                               std::int32_t targetWidth)
{
    if (jpeg == nullptr || length <= 0 || destination == nullptr || width == nullptr || height == nullptr ||
        format == nullptr || targetWidth < 0)
        return 0;
    CMemBuffInput input;
    if (input.AttachBuffer(jpeg, length) != 0)
        return 0;
    CJPEGDecoder& decoder = *decoder_;
    decoder.Clean();
    std::int32_t W = 0, H = 0, channels = 0, precision = 0;
    JpegColor colour = JpegColorOther;
    JpegSampling sampling = JpegSamplingOther;
    if (decoder.SetSource(&input) != 0 || decoder.ReadHeader(&W, &H, &channels, &colour, &sampling, &precision) != 0)
        return 0;

    std::int32_t scale = 0, divider = 1;
    if (targetWidth != 0) {
        const auto r = static_cast<std::int32_t>(static_cast<float>(W) / static_cast<float>(targetWidth));
        scale = r >= 8 ? 3 : r >= 4 ? 2 : r >= 2 ? 1 : 0;
        divider = 1 << scale;
    }
    std::int32_t layout = Layout420;
    if (colour == JpegColorGrey)
        layout = LayoutGrey;
    else if (colour == JpegColorYCbCr && sampling == JpegSampling422)
        layout = Layout422;
    const std::int32_t w = W / divider, h = H / divider;
    if (*width != w || *height != h || *format != layout || scale != previousScale_) {
        *width = w;
        *height = h;
        *format = layout;
        previousScale_ = scale;
        decoder.Clean();
        return 0;
    }
    if (w < 1 || h < 1 || channels > 3 || precision != 8)
        return 0;
    const std::int64_t luma = std::int64_t{w} * h;
    const std::int32_t cw = w / 2, ch = layout == Layout420 ? h / 2 : h;
    const std::int64_t chroma = std::int64_t{cw} * ch;
    const std::int64_t required = layout == LayoutGrey ? luma : luma + 2 * chroma;
    if (required > capacity)
        return 0;

    // The decoder writes its scaled size (sides rounded up); the frame takes
    // the top-left w x h of it.
    const ImageSize scaled = CJPEGDecoder::ScaledSize({W, H}, scale);
    const std::int64_t plane = std::int64_t{scaled.width} * scaled.height;
    if (layout == LayoutGrey) {
        std::uint8_t* buffer = GetOutputBuffer(plane);
        if (buffer == nullptr ||
            decoder.SetDestination(buffer, scaled.width, scaled, 1, JpegColorGrey, JpegSampling444, 8, scale) != 0 ||
            decoder.ReadData() != 0)
            return 0;
        CopyPlane(buffer, scaled.width, destination, w, h);
        return static_cast<std::int32_t>(required);
    }
    if (colour == JpegColorYCbCr && (sampling == JpegSampling420 || sampling == JpegSampling422)) {
        // Even sides at full scale: the decoder's planes are the frame's.
        if (scaled.width == w && scaled.height == h && w % 2 == 0 && (layout == Layout422 || h % 2 == 0)) {
            std::uint8_t* planes[4] = {destination, destination + luma, destination + luma + chroma, nullptr};
            const std::int32_t steps[4] = {w, cw, cw, 0};
            if (decoder.SetDestinationPlanar(planes, steps, scaled, 3, JpegColorYCbCr, sampling, 8, scale) != 0 ||
                decoder.ReadData() != 0)
                return 0;
            return static_cast<std::int32_t>(required);
        }
        std::uint8_t* buffer = GetOutputBuffer(3 * plane);
        if (buffer == nullptr)
            return 0;
        std::uint8_t* planes[4] = {buffer, buffer + plane, buffer + 2 * plane, nullptr};
        const std::int32_t steps[4] = {scaled.width, scaled.width, scaled.width, 0};
        if (decoder.SetDestinationPlanar(planes, steps, scaled, 3, JpegColorYCbCr, sampling, 8, scale) != 0 ||
            decoder.ReadData() != 0)
            return 0;
        CopyPlane(planes[0], scaled.width, destination, w, h);
        CopyPlane(planes[1], scaled.width, destination + luma, cw, ch);
        CopyPlane(planes[2], scaled.width, destination + luma + chroma, cw, ch);
        return static_cast<std::int32_t>(required);
    }
    // Any other image: packed RGB rows of an even size (the last column and
    // row repeated), converted to the frame's planes.
    const std::int32_t ew = (w + 1) & ~1, eh = (h + 1) & ~1;
    const std::int64_t rgbBytes = 3 * std::int64_t{scaled.width} * (scaled.height + 1);
    const std::int64_t evenLuma = std::int64_t{ew} * eh;
    const std::int64_t evenChroma = std::int64_t{ew / 2} * (layout == Layout420 ? eh / 2 : eh);
    std::uint8_t* buffer = GetOutputBuffer(rgbBytes + 3 * std::int64_t{ew} * eh + evenLuma + 2 * evenChroma);
    if (buffer == nullptr)
        return 0;
    const JpegColor to = colour == JpegColorOther ? JpegColorOther : JpegColorRgb;
    if (decoder.SetDestination(buffer, 3 * scaled.width, scaled, 3, to, JpegSampling444, 8, scale) != 0 ||
        decoder.ReadData() != 0)
        return 0;
    std::uint8_t* packed = buffer + rgbBytes;
    for (std::int32_t y = 0; y < eh; ++y) {
        const std::uint8_t* src = buffer + std::int64_t{std::min(y, h - 1)} * 3 * scaled.width;
        std::uint8_t* dst = packed + std::int64_t{y} * 3 * ew;
        std::memcpy(dst, src, static_cast<std::size_t>(3 * w));
        if (ew != w)
            std::memcpy(dst + 3 * w, src + 3 * (w - 1), 3);
    }
    std::uint8_t* yuv = packed + 3 * std::int64_t{ew} * eh;
    std::uint8_t* const yuvPlanes[3] = {yuv, yuv + evenLuma, yuv + evenLuma + evenChroma};
    const ImageSize even{ew, eh};
    const PrimitiveStatus status = layout == Layout422 ? ConvertRgbToYuv422_8uC3P3(packed, yuvPlanes, even)
                                                       : ConvertRgbToYuv420_8uC3P3(packed, yuvPlanes, even);
    if (status != 0)
        return 0;
    CopyPlane(yuvPlanes[0], ew, destination, w, h);
    CopyPlane(yuvPlanes[1], ew / 2, destination + luma, cw, ch);
    CopyPlane(yuvPlanes[2], ew / 2, destination + luma + chroma, cw, ch);
    return static_cast<std::int32_t>(required);
}

JpegDecompressorFacade::JpegDecompressorFacade() : decompressor_(std::make_unique<JpegFrameDecompressor>()) {}

JpegDecompressorFacade::~JpegDecompressorFacade() = default;

std::int32_t JpegDecompressorFacade::Decompress(const std::uint8_t* jpeg, std::int32_t length,
                                                std::uint8_t* destination, std::int32_t capacity,
                                                std::int32_t* width, std::int32_t* height, std::int32_t* format,
                                                std::int32_t targetWidth)
{
    return decompressor_->Decompress(jpeg, length, destination, capacity, width, height, format, targetWidth);
}
