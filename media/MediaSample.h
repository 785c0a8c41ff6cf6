#pragma once
// The picture target of a decoded frame, as the decoder sees it, and a plain
// in-memory implementation of it.
//
// Pixel layouts of a sample:
//  - packed: 4 bytes per pixel in memory order B, G, R, X (the renderer's
//    32-bit textures and QImage::Format_RGB32 on little-endian machines);
//  - planar YV12: the luma plane, then V, then U; for a picture of height H
//    and pitch P the V plane starts at P x H and U at P x H x 5 / 4, each
//    with pitch P / 2.
// The renderer's textures and the snapshot image implement this interface
// over their own memory; ImageMediaSample below keeps its picture in a
// vector (tests, thumbnails, tools).

#include <cstdint>
#include <mutex>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "base/VideoFrame.h"

namespace render {

class Titles;

class IMediaSample {
public:
    virtual ~IMediaSample() = default;

    // Memory for a picture of width x height in the given layout; `pitch`
    // receives the row step in bytes (of the luma plane when planar). Null
    // when the sample cannot hold such a picture. Every successful Lock is
    // paired with one Unlock.
    virtual uint8_t* Lock(int32_t width, int32_t height, int32_t& pitch, bool planar) = 0;
    virtual void Unlock() = 0;
    // Milliseconds since 1970 of the picture now in the sample.
    virtual void SetTime(int64_t timeMs) = 0;
    // Offers a whole decoded frame; the frame comes with one reference that
    // the sample takes over (it releases it when it does not keep the frame).
    // True when the sample kept the frame as its picture.
    virtual bool TakeFrame(VideoFrame* frame) = 0;
    // The sample takes planar YV12 pictures.
    virtual bool IsPlanar() const = 0;

    // Values stored with the picture for whoever shows it: the channel's
    // titles set, the recording's time shift (seconds) and the signature
    // flag of the recording.
    virtual void SetTitles(const boost::shared_ptr<Titles>& titles) { m_titles = titles; }
    virtual void SetTimeShift(int32_t seconds) { m_timeShift = seconds; }
    virtual void SetFlag(bool flag) { m_flag = flag; }
    boost::shared_ptr<Titles> GetTitles() const { return m_titles; }
    int32_t GetTimeShift() const { return m_timeShift; }
    bool GetFlag() const { return m_flag; }

private:
    boost::shared_ptr<Titles> m_titles;
    int32_t m_timeShift = 0;
    bool m_flag = false;
};

// A sample whose picture lives in its own memory. Never keeps frames offered
// whole: the decoder then converts them into the sample.
class ImageMediaSample : public IMediaSample {
public:
    explicit ImageMediaSample(bool planar = false) : m_planar(planar) {}

    uint8_t* Lock(int32_t width, int32_t height, int32_t& pitch, bool planar) override;
    void Unlock() override;
    void SetTime(int64_t timeMs) override { m_time = timeMs; }
    bool TakeFrame(VideoFrame* frame) override;
    bool IsPlanar() const override { return m_planar; }

    // Picture of the last Lock: its size, layout, pitch and bytes.
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    bool Planar() const { return m_lockedPlanar; }
    int32_t Pitch() const { return m_pitch; }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    int64_t Time() const { return m_time; }
    bool IsLocked() const { return m_locked; }
    int LockCount() const { return m_lockCount; }

private:
    bool m_planar;
    bool m_lockedPlanar = false;
    bool m_locked = false;
    int m_lockCount = 0;
    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_pitch = 0;
    int64_t m_time = 0;
    std::vector<uint8_t> m_bytes;
};

// Copies three 8-bit planes (Y and two chroma planes of a 4:2:0 picture of
// srcWidth x srcHeight, with their steps) into a locked YV12 sample of
// dstWidth x dstHeight at dstPitch. When the source is n times larger than
// the destination, every n-th pixel and row is taken. A null chroma plane is
// filled with 0x80. Throws std::runtime_error("CopyImage8uC1 error") when a
// plane copy fails.
void CopyImagePlanes(const uint8_t* const planes[3], const int32_t steps[3], int32_t srcWidth,
                     int32_t srcHeight, uint8_t* dst, int32_t dstPitch, int32_t dstWidth, int32_t dstHeight);

}  // namespace render
