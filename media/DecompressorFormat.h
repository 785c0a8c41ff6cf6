// DecompressFormat: the decoder of one family of format codes, driven by
// CDecompressor (Decompressor.h), which keeps one per stream and replaces it
// when the format code changes.
//
// A DecompressFormat is used by one thread at a time (CDecompressor's lock)
// and reports failures by a null result; it never throws to its caller.
#pragma once

#include "base/VideoFrame.h"

class DecompressFormat
{
public:
    virtual ~DecompressFormat() = default;

    // Decodes a compressed frame (not taken over). Returns a new decoded frame
    // (the caller holds its one reference) or null. `width` is the width the
    // caller wants (0: full size); `status` is set to 0 on success.
    virtual VideoFramePtr Decompress(VideoFrame* frame, int width, int& status) = 0;
    // A compressed frame reduced towards `width` in the compressed domain, or
    // the same frame with one more reference.
    virtual VideoFramePtr ExtractWidth(VideoFrame* frame, int width) = 0;
    // Codec add-on only: a scalable H.264 frame as a plain H.264 frame.
    virtual VideoFramePtr ConvertToH264(VideoFrame* frame, int width) = 0;
    // Forgets decoder state between streams.
    virtual void Reset() = 0;
    // The stream has ended: the next picture the decoder still holds (a new
    // frame the caller holds one reference of), or null when none is left.
    // Frames after it start a new stream. Decoders that hold nothing back
    // keep this default.
    virtual VideoFramePtr Drain(int /*width*/) { return nullptr; }
    // Releases the codec objects; the next frame makes them anew.
    virtual void FreeMemory() = 0;
    // The m_nFormat of the frames produced.
    virtual int GetOutputFormat() = 0;
    int GetKind() const { return m_kind; }

protected:
    int m_kind = 0;
};

// The decompressor of a CDecompressor that has seen no format code yet.
class CDecompressorEmpty final : public DecompressFormat
{
public:
    VideoFramePtr Decompress(VideoFrame*, int, int&) override { return nullptr; }
    VideoFramePtr ExtractWidth(VideoFrame*, int) override { return nullptr; }
    VideoFramePtr ConvertToH264(VideoFrame*, int) override { return nullptr; }
    void Reset() override {}
    void FreeMemory() override {}
    int GetOutputFormat() override { return 0; }
};
