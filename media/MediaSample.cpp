#include "media/MediaSample.h"

#include "base/VideoFrame.h"

namespace render {

uchar* ImageMediaSample::GetBuffer(const QSize& size, int& bytesPerLine, bool planar)
{
    if (size.width() <= 0 || size.height() <= 0 || (planar && !m_planar))
        return nullptr;
    // A picture of the last geometry is written whole over the last one: its
    // bytes are not cleared first. A new geometry starts from zeros, so that
    // padding the writer leaves alone is never an older picture's.
    const bool sameGeometry = m_bufferCount > 0 && m_width == size.width() && m_height == size.height() &&
                              m_bufferPlanar == planar;
    m_width = size.width();
    m_height = size.height();
    m_bufferPlanar = planar;
    // Planar: even pitch so that both chroma planes have whole rows.
    m_pitch = planar ? (m_width + 1) & ~1 : m_width * 4;
    const size_t bytes = planar ? static_cast<size_t>(m_pitch) * m_height * 3 / 2 + m_pitch
                                : static_cast<size_t>(m_pitch) * m_height;
    if (!sameGeometry)
        m_bytes.assign(bytes, 0);
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
