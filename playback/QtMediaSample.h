#pragma once
// A decoded-frame target over a QImage: the picture of a saved frame or a
// snapshot. It takes packed 32-bit pictures only.

#include <cstdint>

#include <QImage>

#include "render/IMediaSample.h"

namespace playback {

class QtMediaSample final : public render::IMediaSample {
public:
    uchar* GetBuffer(const QSize& size, int& bytesPerLine, bool planar) override;
    void Commit() override { m_committed = true; }
    void SetTime(std::int64_t time) override { m_time = time; }
    std::int64_t GetTime() override { return m_time; }
    void SetTitles(const boost::shared_ptr<render::Titles>&) override {}
    void SetSigned(bool isSigned) override { m_signed = isSigned; }
    bool AcceptFrame(VideoFrame* frame) override;
    bool SupportsPlanar() override { return false; }
    void SetTimeOffset(int seconds) override { m_timeOffset = seconds; }
    int GetTimeOffset() override { return m_timeOffset; }

    // True once a whole picture was written.
    bool HasImage() const { return m_committed && !m_image.isNull(); }
    QImage GetImage() const { return m_image.copy(); }
    // The picture for saving: turned by `rotation` degrees (clockwise) on a
    // black background. Null without a picture.
    QImage ComposeImage(int rotation) const;

private:
    QImage m_image;
    bool m_committed = false;
    std::int64_t m_time = 0;
    bool m_signed = false;
    int m_timeOffset = 0;
};

}  // namespace playback
