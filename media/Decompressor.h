// CDecompressor: the front through which every compressed frame is decoded.
// It keeps one decompressor for the format code of the frames it is given and
// replaces it (with all its decoder state) when a frame of another code
// arrives:
//   '7' to 'c'          the codec add-on (CDecompressorBrastel)
//   'n' 'o' 'v' 'w' 'z' '{'  the wavelet decompressors (DecompressorWavelet.h)
//   anything else       CDecompressorImpl, which yields no pictures
//
// One CDecompressor may be shared by threads: selection, decoding and the
// last-frame-number store run under its lock.
#pragma once

#include <memory>
#include <string>

#include "base/Locks.h"
#include "base/VideoFrame.h"
#include "media/DecompressorFormat.h"

class CDecompressor
{
public:
    // Largest width or height accepted; -1 is accepted too.
    static constexpr int32_t kMaxDimension = 12288;

    CDecompressor();
    virtual ~CDecompressor();

    CDecompressor(const CDecompressor&) = delete;
    CDecompressor& operator=(const CDecompressor&) = delete;

    // The decoded frame (the caller holds its one reference), or null. Frames
    // of impossible geometry (a width or height outside -1..12288, a negative
    // colour flag, a format below -3) are refused without logging. `width` is
    // the width the caller wants (0: full size).
    VideoFramePtr Decompress(VideoFrame* frame, int width);

    // Forgets the decoder state and sets the last frame number to -1 (a new
    // stream follows).
    void Reset();
    // The stream has ended: the next picture the decoder still holds back
    // (the caller holds its one reference), or null when none is left. Call
    // until null; the frames that follow start a new stream.
    VideoFramePtr Drain(int width);

    int GetLastFrameNumber() const;
    void SetLastFrameNumber(int frameNumber);
    // Format code of the current decompressor; 0 before the first coded frame.
    int GetCurrentFormat() const;
    // Handed to every codec add-on decompressor made from now on.
    void SetPreferredCodec(const std::string& name);

protected:
    // The decompressor for a format code. Overridden by tests to watch the
    // switches.
    virtual std::unique_ptr<DecompressFormat> CreateDecompressor(int code);

private:
    // False when the frame has no format code (nothing changes).
    bool SelectDecompressor(VideoFrame* frame);

    int m_nCurrentFormat = 0;
    std::string m_preferredCodec;
    int m_nLastFrameNumber = 0;
    std::unique_ptr<DecompressFormat> m_decompressor;
    mutable qormisc::CriticalSection m_lock;
};
