#pragma once
// One raw frame held in memory (an 8-bit grey plane, or planar YUV 4:2:0 or
// 4:2:2) to a baseline JPEG image in a caller's buffer.
//
// Frame layouts (rows without gaps, halves rounded toward zero):
//   mode 0 grey:   Y w x h
//   mode 1 4:2:0:  Y w x h, U (w/2) x (h/2), V (w/2) x (h/2)
//   mode 2 4:2:2:  Y w x h, U (w/2) x h,     V (w/2) x h
// 4:2:2 chroma is brought to 4:2:0 by taking its odd rows (nearest
// neighbour resampling), never by averaging; 4:2:0 chroma is read in place. Plane buffers and the encoder are kept
// while frames keep their mode and size; the output block only grows.

#include <cstdint>

class CJPEGEncoder;

class JpegFrameCompressor {
public:
    JpegFrameCompressor() = default;
    virtual ~JpegFrameCompressor();
    JpegFrameCompressor(const JpegFrameCompressor&) = delete;
    JpegFrameCompressor& operator=(const JpegFrameCompressor&) = delete;

    // The number of bytes of the JPEG image copied into destination, or 0
    // (null arguments, a capacity that is not positive or smaller than the
    // image, a mode other than 0..2, a failed resampling, allocation or
    // encoder step). The destination is untouched on failure.
    int Compress(int mode, const std::uint8_t* frame, std::uint8_t* destination, int capacity, int width, int height,
                 int quality);

    // The size of the encoder's output block (for tests of its growth).
    std::int32_t OutputCapacity() const { return m_outputCapacity; }

private:
    bool PrepareFrameBuffers(int width, int height, int mode);
    void ReleaseFrameBuffers();
    std::uint8_t* GetOutputBuffer(std::int32_t size);
    // Encodes the prepared planes into an output block of outputSize bytes;
    // the image size, or a negative JpegStatus.
    std::int32_t Encode(const std::uint8_t* luma, const std::uint8_t* cb, const std::uint8_t* cr, int channels,
                        std::int32_t outputSize, int quality);

    std::uint8_t* m_luma = nullptr;
    std::uint8_t* m_cb = nullptr;
    std::uint8_t* m_cr = nullptr;
    int m_mode = 0;
    int m_width = 0;
    int m_height = 0;
    std::uint8_t* m_output = nullptr;
    std::int32_t m_outputCapacity = 0;
    CJPEGEncoder* m_encoder = nullptr;
};

// The small polymorphic facade the frame compressor holds: owns one
// JpegFrameCompressor and forwards to it.
class JpegCompressorFacade {
public:
    JpegCompressorFacade();
    virtual ~JpegCompressorFacade();
    JpegCompressorFacade(const JpegCompressorFacade&) = delete;
    JpegCompressorFacade& operator=(const JpegCompressorFacade&) = delete;

    virtual int Compress(int mode, const std::uint8_t* frame, std::uint8_t* destination, int capacity, int width,
                         int height, int quality);

private:
    JpegFrameCompressor* m_compressor;
};
