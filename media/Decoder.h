#pragma once
// filters::Decoder turns the frames a source delivers into pictures: it
// decompresses compressed archive frames through a CDecompressor and converts
// decoded pictures (planar YUV frames of the archive decoders, FFmpeg
// pictures of the media-file source) into a renderer or snapshot sample,
// planar YV12 or 32-bit B, G, R, X pixels (see render/IMediaSample.h).
//
// The CDecompressor objects live in a process-wide registry keyed by the
// decoder, so a decoder's codec state survives between frames; the registry
// keeps the last entry until ClearDecompressors (application exit).
//
// A decoder is used by one thread at a time; the registry has its own lock.

#include <cstdint>
#include <string>
#include <vector>

#include "base/VideoFrame.h"

class CDecompressor;
struct AVFrame;

namespace render {
class IMediaSample;
}

namespace filters {

struct TargetSize {
    int32_t width = 0;   // <= 0: no size asked
    int32_t height = 0;
};

class Decoder {
public:
    Decoder();
    virtual ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // The decoded frame of a compressed frame (null when it does not decode);
    // any other frame itself. The result carries a reference of the caller's.
    VideoFramePtr Decompress(VideoFrame* frame);
    // At the end of the stream: the next picture the decompressor still holds
    // back, or null when none is left (CDecompressor::Drain).
    VideoFramePtr Drain();

    // Decompress, then draw the picture into target (when given) and stamp
    // the target with the frame's time. halveHeight keeps only the first
    // field of interlaced-size pictures (width above 640 and below twice the
    // height). A planar target at least twice narrower than the picture gets
    // every n-th pixel and row. Returns the decompressed frame.
    // Throws std::runtime_error / std::invalid_argument when a conversion
    // fails; the target is then left uncommitted.
    VideoFramePtr Decode(VideoFrame* frame, render::IMediaSample* target, bool halveHeight, TargetSize targetSize);
    // The second half of Decode: draws `out`, the decompressed picture of
    // `frame`, into target and stamps it with the frame's time. A player
    // decompresses a frame ahead and draws it only when it is due: the
    // target is what is on screen, and an early picture would replace the
    // one still showing.
    void Present(const VideoFramePtr& out, const VideoFrame& frame, render::IMediaSample* target, bool halveHeight,
                 TargetSize targetSize);

    // Empties the registry of decompressors.
    static void ClearDecompressors();
    // Entries in the registry.
    static size_t DecompressorCount();

    CDecompressor* GetCurrentDecompressor() const { return m_decompressor; }

private:
    void ConvertFrame(const VideoFrame& out, render::IMediaSample& target, int factor, TargetSize targetSize);
    void ConvertPicture(const AVFrame& picture, render::IMediaSample& target, int factor, TargetSize targetSize);
    void ConvertPlanes(const uint8_t* planes[3], int32_t steps[3], int32_t w, int32_t h, bool planar,
                       render::IMediaSample& target, TargetSize targetSize);
    void ConvertGbrpToRgb32(const uint8_t* const planes[3], int32_t step, int32_t w, int32_t h, uint8_t* dst,
                            int32_t pitch);
    void EnsureCacheBuffer(size_t size);

    CDecompressor* m_decompressor = nullptr;  // owned by the registry
    std::vector<uint8_t> m_cacheBuffer;       // neutral chroma and planar RGB packing; grows only
};

// Codec name of a compressed frame; empty for a null frame.
std::string GetVideoFrameCodecName(const VideoFrame* frame);

}  // namespace filters
