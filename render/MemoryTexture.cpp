#include "render/MemoryTexture.h"

#include <cstring>

#include "render/ImagePlacement.h"
#include "render/PixelCopies.h"

namespace render {

MemoryTexture::MemoryTexture(const QSize& granularity, bool planar)
    : m_granularity(granularity), m_supportsPlanar(planar)
{
}

uchar* MemoryTexture::GetBuffer(const QSize& imageSize, int& bytesPerLine, bool planar)
{
    if (imageSize.width() < 1 || imageSize.height() < 1 || (planar && !m_supportsPlanar))
        return nullptr;
    std::lock_guard<std::mutex> lock(m_lock);
    const QSize grown = GrowSize(m_bufferSize, imageSize, m_granularity);
    if (grown != m_bufferSize || planar != m_planar) {
        m_bufferSize = grown;
        m_planar = planar;
        const std::size_t area = static_cast<std::size_t>(grown.width()) * grown.height();
        m_buffer.assign(planar ? area * 3 / 2 : area * 4, 0);
    }
    m_imageSize = imageSize;
    bytesPerLine = planar ? m_bufferSize.width() : m_bufferSize.width() * 4;
    return m_buffer.data();
}

void MemoryTexture::Commit()
{
    ++m_commits;
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_imageSize.width() > 0)
        m_dirty.assign(1, QRect(QPoint(0, 0), m_imageSize));
}

void MemoryTexture::ReadPixels(const QRect& rect, uchar* dst, int bytesPerLine)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const QRect inside = m_planar ? QRect() : rect & QRect(QPoint(0, 0), m_imageSize);
    FillOpaqueBlack(dst, bytesPerLine, rect.size());
    if (inside.isEmpty())
        return;
    CopyRect32(m_buffer.data(), m_bufferSize.width() * 4,
               dst + static_cast<std::ptrdiff_t>(inside.top() - rect.top()) * bytesPerLine +
                   (inside.left() - rect.left()) * 4,
               bytesPerLine, inside, QPoint(0, 0));
}

QRectF MemoryTexture::GetSourceRect()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return ImageSourceRect(m_imageSize, m_bufferSize);
}

QSize MemoryTexture::GetImageSize()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_imageSize;
}

void MemoryTexture::Update(const uchar* bits, const QSize& size, int bytesPerLine,
                           const std::vector<QRect>* dirtyRects)
{
    int pitch = 0;
    uchar* buffer = GetBuffer(size, pitch, false);
    if (buffer == nullptr || bits == nullptr)
        return;
    std::lock_guard<std::mutex> lock(m_lock);
    const QRect image(QPoint(0, 0), size);
    const std::vector<QRect> whole{image};
    for (const QRect& dirty : dirtyRects != nullptr ? *dirtyRects : whole) {
        // A rectangle reaching past the image would read past the caller's
        // bits and write past the buffer.
        const QRect r = dirty & image;
        if (r.isEmpty())
            continue;
        CopyRect32(bits, bytesPerLine, buffer, pitch, r, r.topLeft());
        m_dirty.push_back(r);
    }
}

std::vector<QRect> MemoryTexture::TakeDirty()
{
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<QRect> dirty;
    dirty.swap(m_dirty);
    return dirty;
}

QSize MemoryTexture::BufferSize()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bufferSize;
}

bool MemoryTexture::IsPlanar()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_planar;
}

std::vector<uchar> MemoryTexture::Bytes()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_buffer;
}

}  // namespace render
