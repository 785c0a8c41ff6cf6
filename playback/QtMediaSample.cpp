#include "playback/QtMediaSample.h"

#include <QPainter>
#include <QTransform>

#include "base/VideoFrame.h"

namespace playback {

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

QImage QtMediaSample::ComposeImage(int rotation) const
{
    if (!HasImage())
        return QImage();
    const int quarterTurns = ((rotation % 360) + 360) % 360;
    const QImage turned = quarterTurns == 0 ? m_image : m_image.transformed(QTransform().rotate(quarterTurns));
    QImage composed(turned.size(), QImage::Format_RGB32);
    composed.fill(Qt::black);
    QPainter painter(&composed);
    painter.drawImage(0, 0, turned);
    painter.end();
    return composed;
}

}  // namespace playback
