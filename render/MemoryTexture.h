#pragma once
// The system-memory half of a texture: the growing pixel buffer, the image
// size, the dirty rectangles and the copies in and out. Device textures
// derive from it and upload what TakeDirty hands them.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "render/RendererDevice.h"

namespace render {

class MemoryTexture : public ITexture {
public:
    MemoryTexture(const QSize& granularity, bool planar);

    void Release() override {}
    void Restore() override {}
    uchar* GetBuffer(const QSize& imageSize, int& bytesPerLine, bool planar) override;
    void Commit() override;
    // Reads 32-bit pixels of a packed image; pixels outside the image, and
    // every pixel of a planar image, read as opaque black.
    void ReadPixels(const QRect& rect, uchar* dst, int bytesPerLine) override;
    QRectF GetSourceRect() override;
    QSize GetImageSize() override;
    bool SupportsPlanar() override { return m_supportsPlanar; }
    void SetYuvMatrix(platform::YuvMatrix matrix) override { m_matrix = matrix; }
    platform::YuvMatrix GetYuvMatrix() const { return m_matrix; }
    // Copies each dirty rectangle, clipped to the image, into the 32-bit
    // buffer and marks it dirty. Throws std::exception "CopyImage8uC4 error"
    // when a copy fails.
    void Update(const uchar* bits, const QSize& size, int bytesPerLine,
                const std::vector<QRect>* dirtyRects) override;

    // What changed since the last call (image rectangles), emptied.
    std::vector<QRect> TakeDirty();
    // The buffer as it stands: size in pixels, layout and bytes.
    QSize BufferSize();
    bool IsPlanar();
    std::vector<uchar> Bytes();
    // Pictures committed so far (a benchmark tells new pictures by it).
    std::uint64_t CommitCount() const { return m_commits; }

protected:
    // The buffer's first byte and layout; m_lock held.
    uchar* BufferData() { return m_buffer.data(); }
    QSize BufferSizeLocked() const { return m_bufferSize; }
    QSize ImageSizeLocked() const { return m_imageSize; }
    bool PlanarLocked() const { return m_planar; }

    std::mutex m_lock;  // guards everything below but the matrix

private:
    const QSize m_granularity;
    const bool m_supportsPlanar;
    QSize m_bufferSize{0, 0};
    QSize m_imageSize{-1, -1};
    bool m_planar = false;
    std::vector<uchar> m_buffer;
    std::vector<QRect> m_dirty;
    std::atomic<std::uint64_t> m_commits{0};
    std::atomic<platform::YuvMatrix> m_matrix{platform::YuvMatrix::Bt601Video};
};

}  // namespace render
