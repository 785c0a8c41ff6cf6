#include "media/MediaSample.h"

#include "base/VideoFrame.h"

namespace render {

uchar* ImageMediaSample::GetBuffer(const QSize& size, int& bytesPerLine, bool planar)
{
    if (size.width() <= 0 || size.height() <= 0 || (planar && !m_planar))
        return nullptr;
    m_width = size.width();
    m_height = size.height();
    m_bufferPlanar = planar;
    if (planar) {
        // Even pitch so that both chroma planes have whole rows.
        m_pitch = (m_width + 1) & ~1;
        m_bytes.assign(static_cast<size_t>(m_pitch) * m_height * 3 / 2 + m_pitch, 0);
    } else {
        m_pitch = m_width * 4;
        m_bytes.assign(static_cast<size_t>(m_pitch) * m_height, 0);
    }
    bytesPerLine = m_pitch;
    ++m_bufferCount;
    return m_bytes.data();
}

bool ImageMediaSample::AcceptFrame(VideoFrame* frame)
{
    ReleaseVideoFrame(frame);
    return false;
}

}  // namespace render
