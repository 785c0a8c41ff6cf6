#pragma once
// A decoded-picture target whose picture lives in its own memory (tests,
// thumbnails, tools). It never keeps frames offered whole: the decoder then
// writes the picture into it (layouts in render/IMediaSample.h).

#include <cstdint>
#include <vector>

#include "render/IMediaSample.h"

namespace render {

class ImageMediaSample : public IMediaSample {
public:
    explicit ImageMediaSample(bool planar = false) : m_planar(planar) {}

    uchar* GetBuffer(const QSize& size, int& bytesPerLine, bool planar) override;
    void Commit() override { ++m_commitCount; }
    void SetTime(std::int64_t time) override { m_time = time; }
    std::int64_t GetTime() override { return m_time; }
    void SetTitles(const boost::shared_ptr<Titles>& titles) override { m_titles = titles; }
    void SetSigned(bool isSigned) override { m_signed = isSigned; }
    bool AcceptFrame(VideoFrame* frame) override;
    bool SupportsPlanar() override { return m_planar; }
    void SetTimeOffset(int seconds) override { m_timeOffset = seconds; }
    int GetTimeOffset() override { return m_timeOffset; }

    // The picture of the last GetBuffer: its size, layout, pitch and bytes.
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    bool Planar() const { return m_bufferPlanar; }
    int32_t Pitch() const { return m_pitch; }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    int64_t Time() const { return m_time; }
    // Buffers handed out and pictures completed.
    int BufferCount() const { return m_bufferCount; }
    int CommitCount() const { return m_commitCount; }
    boost::shared_ptr<Titles> GetTitles() const { return m_titles; }
    bool IsSigned() const { return m_signed; }

private:
    bool m_planar;
    bool m_bufferPlanar = false;
    int m_bufferCount = 0;
    int m_commitCount = 0;
    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_pitch = 0;
    int64_t m_time = 0;
    int m_timeOffset = 0;
    bool m_signed = false;
    boost::shared_ptr<Titles> m_titles;
    std::vector<uint8_t> m_bytes;
};

}  // namespace render
