#pragma once
// A decoded-frame target over a QImage: the picture of a saved frame or of a
// source browser thumbnail. It takes packed 32-bit pictures only (the
// decoder converts to B, G, R, X for it).
//
// GUI thread (or the one thread that decodes into it); no lock.

#include <cstdint>
#include <vector>

#include <QImage>
#include <QRectF>

#include "render/IMediaSample.h"
#include "render/Titles.h"

namespace playback {

// A copy of one title of a titles set, taken when the titles were handed
// over: what ComposeImage draws, whatever the title holds by then.
struct SampleTitle {
    QString text;
    std::vector<render::TitleItem> items;  // rectangles relative to the picture
    QRectF placement;                      // the text box relative to the picture
    render::TitlePtr title;
    render::TitleLayout layout;  // laid out for the picture at hand-over
};

// The size a picture is shown at: half-height pictures (wider than 2.4 times
// their height, taller than 4 rows) get their height doubled, and 704x576
// PAL pictures, whose pixels are narrower than square, are widened to 768.
QSize CorrectedPictureSize(const QSize& size);

class QtMediaSample final : public render::IMediaSample {
public:
    uchar* GetBuffer(const QSize& size, int& bytesPerLine, bool planar) override;
    void Commit() override { m_committed = true; }
    void SetTime(std::int64_t time) override { m_time = time; }
    std::int64_t GetTime() override { return m_time; }
    // Keeps the set and appends a laid-out copy of each of its titles.
    void SetTitles(const boost::shared_ptr<render::Titles>& titles) override;
    void SetSigned(bool) override {}
    // Releases the frame: the decoder always writes into the buffer.
    bool AcceptFrame(VideoFrame* frame) override;
    bool SupportsPlanar() override { return false; }
    void SetTimeOffset(int seconds) override { m_timeOffset = seconds; }
    int GetTimeOffset() override { return m_timeOffset; }

    // True once a whole picture was written.
    bool HasImage() const { return m_committed && !m_image.isNull(); }
    QImage GetImage() const { return m_image.copy(); }
    const std::vector<SampleTitle>& GetTitleEntries() const { return m_titleEntries; }

    // The final picture: opaque, at its corrected size (CorrectedPictureSize),
    // with the recorded titles (index 3 and up) drawn in when the live
    // ShowTitles setting is on, turned by -rotation degrees about its centre.
    // Null without a whole picture.
    QImage ComposeImage(int rotation) const;

private:
    QImage m_image;
    bool m_committed = false;
    std::int64_t m_time = 0;
    std::vector<SampleTitle> m_titleEntries;
    boost::shared_ptr<render::Titles> m_titles;
    int m_timeOffset = 0;
};

}  // namespace playback
