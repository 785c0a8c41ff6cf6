#include "playback/QtMediaSample.h"

#include <QPainter>
#include <QTransform>

#include "config/QApplicationSettings.h"
#include "base/VideoFrame.h"

namespace playback {

namespace {

// The entry's text and rectangles placed in a picture rectangle.
render::TitleLayout LayoutFor(const SampleTitle& entry, const QRectF& picture)
{
    auto place = [&](const QRectF& r) {
        return QRectF(picture.x() + picture.width() * r.x(), picture.y() + picture.height() * r.y(),
                      picture.width() * r.width(), picture.height() * r.height());
    };
    render::TitleLayout out;
    out.text = entry.text;
    out.items = entry.items;
    if (out.items.empty()) {
        out.bounds = place(entry.placement);
        return out;
    }
    for (render::TitleItem& item : out.items) {
        item.rect = place(item.rect);
        out.bounds |= item.rect;
    }
    return out;
}

}  // namespace

QSize CorrectedPictureSize(const QSize& size)
{
    int width = size.width();
    int height = size.height();
    if (static_cast<double>(width) > 2.4 * static_cast<double>(height) && height > 4)
        height *= 2;
    if (width == 704 && height == 576)
        width = 768;
    return QSize(width, height);
}

uchar* QtMediaSample::GetBuffer(const QSize& size, int& bytesPerLine, bool planar)
{
    if (planar || size.isEmpty())
        return nullptr;
    if (m_image.size() != size || m_image.format() != QImage::Format_RGB32)
        m_image = QImage(size, QImage::Format_RGB32);
    if (m_image.isNull())
        return nullptr;
    m_committed = false;
    bytesPerLine = static_cast<int>(m_image.bytesPerLine());
    return m_image.bits();
}

bool QtMediaSample::AcceptFrame(VideoFrame* frame)
{
    ReleaseVideoFrame(frame);
    return false;
}

void QtMediaSample::SetTitles(const boost::shared_ptr<render::Titles>& titles)
{
    m_titles = titles;
    if (!titles)
        return;
    const QSize corrected = CorrectedPictureSize(m_image.size());
    const QRectF picture(0, 0, corrected.width(), corrected.height());
    const size_t count = titles->GetTitles().size();
    for (size_t n = 0; n < count; ++n) {
        SampleTitle entry;
        entry.title = titles->GetTitle(static_cast<unsigned>(n));
        entry.text = QString::fromStdWString(entry.title->GetText());
        entry.items = entry.title->GetItems();
        entry.placement = entry.title->GetPlacement();
        entry.title->Layout(entry.layout, picture);
        m_titleEntries.push_back(std::move(entry));
    }
}

QImage QtMediaSample::ComposeImage(int rotation) const
{
    if (!HasImage())
        return QImage();
    QImage result = m_image.copy();
    {
        // Keeps every colour and makes every pixel opaque.
        QPainter painter(&result);
        painter.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
        painter.fillRect(result.rect(), QBrush(QColor(0, 0, 0, 255), Qt::SolidPattern));
    }
    const QSize corrected = CorrectedPictureSize(result.size());
    if (corrected != result.size())
        result = result.scaled(corrected, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    if (QApplicationSettings::Instance().Live.ShowTitles.load() && m_titles) {
        const QRectF target(0, 0, result.width(), result.height());
        QPainter painter(&result);
        for (size_t n = 3; n < m_titleEntries.size(); ++n) {
            const SampleTitle& entry = m_titleEntries[n];
            if (entry.text.isEmpty() && entry.items.empty())
                continue;
            const render::TitlePtr title = m_titles->GetTitle(static_cast<unsigned>(n));
            if (!title->IsVisible())
                continue;
            const render::TitleLayout layout = LayoutFor(entry, target);
            title->Paint(painter, layout, target, layout.bounds, false);
        }
    }

    if (rotation != 0) {
        const QRect r = result.rect();
        QTransform transform;
        transform.translate((r.left() + r.right()) / 2, (r.top() + r.bottom()) / 2);
        transform.rotate(-rotation);
        result = result.transformed(transform, Qt::FastTransformation);
    }
    return result;
}

}  // namespace playback
