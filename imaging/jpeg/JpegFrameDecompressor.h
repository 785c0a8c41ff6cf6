#pragma once
// JpegFrameDecompressor: a JPEG image held in memory back into the frame
// layouts of the buffer compressor (0 grey, 1 planar 4:2:0, 2 planar 4:2:2),
// at full size or reduced to 1/2, 1/4 or 1/8; JpegDecompressorFacade owns
// one.
//
// Frame layouts: planes stored without gaps, Y w x h, then U and V of
// w/2 x h/2 (4:2:0) or w/2 x h (4:2:2), halves rounded toward zero.

#include <cstdint>
#include <memory>

#include "imaging/jpeg/JpegDecoder.h"

class JpegFrameDecompressor {
public:
    JpegFrameDecompressor();
    virtual ~JpegFrameDecompressor();
    JpegFrameDecompressor(const JpegFrameDecompressor&) = delete;
    JpegFrameDecompressor& operator=(const JpegFrameDecompressor&) = delete;

    // Returns the bytes of planes written into destination, or 0. width,
    // height and format are in/out: the caller passes the geometry and
    // layout it has buffers for; when the image needs others (or a different
    // scale than the previous decode) they are written back, nothing is
    // decoded and 0 is returned, and the caller calls again. targetWidth 0
    // decodes at full size, otherwise at the largest reduction that keeps the
    // width at least targetWidth. Every failure leaves the destination
    // untouched.
    std::int32_t Decompress(const std::uint8_t* jpeg, std::int32_t length, std::uint8_t* destination,
                            std::int32_t capacity, std::int32_t* width, std::int32_t* height, std::int32_t* format,
                            std::int32_t targetWidth);

private:
    std::uint8_t* GetOutputBuffer(std::int64_t size);

    std::uint8_t* output_ = nullptr;
    std::int64_t outputCapacity_ = 0;
    std::int32_t previousScale_ = 0;
    std::unique_ptr<CJPEGDecoder> decoder_;
};

class JpegDecompressorFacade {
public:
    JpegDecompressorFacade();
    virtual ~JpegDecompressorFacade();
    JpegDecompressorFacade(const JpegDecompressorFacade&) = delete;
    JpegDecompressorFacade& operator=(const JpegDecompressorFacade&) = delete;

    virtual std::int32_t Decompress(const std::uint8_t* jpeg, std::int32_t length, std::uint8_t* destination,
                                    std::int32_t capacity, std::int32_t* width, std::int32_t* height,
                                    std::int32_t* format, std::int32_t targetWidth);

private:
    std::unique_ptr<JpegFrameDecompressor> decompressor_;
};
