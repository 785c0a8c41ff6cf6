#pragma once
// The target into which a decoder writes one decoded frame.
//
// The decoder offers the frame object first (AcceptFrame); when the sample
// refuses it, the decoder asks SupportsPlanar, takes a buffer with GetBuffer,
// writes the whole picture, calls Commit, and then SetTime. The source pin
// then sets the time offset and the signed flag.
//
// Buffer layouts: planar YV12 (Y, then V, then U; for a picture of height H
// and bytesPerLine P, V starts at P x H and U at P x H x 5 / 4, each with
// pitch P / 2) or 32-bit pixels in memory order B, G, R, X.

#include <cstdint>

#include <QSize>
#include <QtGlobal>
#include <boost/shared_ptr.hpp>

#include "platform/YuvMatrix.h"

class VideoFrame;

namespace render {

class Titles;

class IMediaSample {
public:
    virtual ~IMediaSample() {}
    // Memory for a picture of size; null when there is none.
    virtual uchar* GetBuffer(const QSize& size, int& bytesPerLine, bool planar) = 0;
    // The picture in the buffer is complete.
    virtual void Commit() = 0;
    // Milliseconds since 1970-01-01 UTC of the picture.
    virtual void SetTime(std::int64_t time) = 0;
    virtual std::int64_t GetTime() = 0;
    // Title overlays that belong to the picture.
    virtual void SetTitles(const boost::shared_ptr<Titles>& titles) = 0;
    // The picture comes from a file whose signature check passed.
    virtual void SetSigned(bool isSigned) = 0;
    // Offers the decoded frame itself, with one reference that the sample
    // takes over: it keeps the frame and returns true, or releases the
    // reference and returns false (the decoder then writes the picture).
    virtual bool AcceptFrame(VideoFrame* frame) = 0;
    virtual bool SupportsPlanar() = 0;
    // Offset in seconds of the source's local time; 0: the computer's zone.
    virtual void SetTimeOffset(int seconds) = 0;
    virtual int GetTimeOffset() = 0;
    // How the planar picture's samples become RGB; said before the picture
    // is committed. Pictures that say nothing are studio-range BT.601.
    virtual void SetYuvMatrix(platform::YuvMatrix) {}
};

}  // namespace render
