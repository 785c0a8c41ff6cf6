#pragma once
// The Direct3D 9 device and its textures, over the software device of
// platform/D3D9.h.
//
// The scene is drawn into an offscreen render target of the back buffer's
// size; each pass copies the redrawn rectangle to the back buffer and
// presents only that rectangle. The back buffer grows in steps of 256 pixels
// and never shrinks. Textures keep their pixels in system memory and upload
// what changed when they are next selected; planar YV12 frames are converted
// by the device (StretchRect from a YV12 surface). On device loss the
// textures drop their device objects and re-upload from their buffers after
// the reset.

#include <atomic>
#include <memory>
#include <vector>

#include <QImage>
#include <QRegion>
#include <QPointer>
#include <boost/weak_ptr.hpp>

#include "platform/D3D9.h"
#include "render/MemoryTexture.h"
#include "render/RendererDevice.h"

class QPainter;

namespace render {

class D3DRendererDevice;
struct SoftwareFront;

class D3DTexture : public MemoryTexture {
public:
    D3DTexture(D3DRendererDevice* device, const QSize& granularity, bool smooth);

    void Release() override;
    void Restore() override;
    // Reads back what the device holds (uploading pending changes first).
    void ReadPixels(const QRect& rect, uchar* dst, int bytesPerLine) override;
    // The device's answer, asked at each call: a texture may be made before
    // the device probes YV12.
    bool SupportsPlanar() override;
    uchar* GetBuffer(const QSize& imageSize, int& bytesPerLine, bool planar) override;

    // Uploads pending changes, (re)creating the device objects when the
    // buffer grew, its layout or the smooth flag changed. Throws
    // std::exception when a device call fails.
    platform::d3d9::TexturePtr GetDeviceTexture(bool smooth);
    bool IsSmooth();

    // Drawing straight from the system-memory buffer, bypassing the device
    // texture (which is then brought up to date only when next asked for).
    // Both write 32-bit pixels at dst; false when the buffer's layout is not
    // the one asked for.
    //
    // The image's whole texels `source` (inside the image) of a planar
    // image, scaled to size by the resize primitives (nearest samples unless
    // smooth; area averages when shrinking by more than half, else linear)
    // and converted with the image's matrix.
    // Only `visible` (inside size, pixels relative to the picture's top-left)
    // is written, at dst.
    bool DrawPlanar(const QRect& source, const QSize& size, const QRect& visible, std::uint8_t* dst, int dstPitch,
                    bool smooth, std::vector<std::uint8_t>& scratch);
    // A 32-bit image sampled at texel columns and rows (wrapping as the
    // device's point sampling does); premultiplied blending over dst when
    // blend, else a copy.
    bool DrawPacked(const std::vector<int>& columns, const std::vector<int>& rows, std::uint8_t* dst, int dstPitch,
                    bool blend);
    // The device is gone: nothing is made through it any more.
    void Detach();

private:
    void UploadThroughSurface(const std::vector<QRect>& dirty);
    // Moves changes made since the last upload to the pending list (m_lock
    // held by the caller is not needed: it takes it).
    void TakeChanges();

    D3DRendererDevice* m_device;  // null once detached
    platform::d3d9::TexturePtr m_texture;
    platform::d3d9::SurfacePtr m_staging;
    QSize m_createdSize{-1, -1};
    bool m_createdPlanar = false;
    bool m_smooth;
    std::vector<QRect> m_pending;  // taken from the buffer, not yet uploaded
    // The last picture DrawPlanar made, redrawn as it is while neither the
    // picture nor the way it is drawn changed (a pass redraws every
    // channel, most of them unchanged).
    struct Drawn {
        std::uint64_t commits = ~0ull;
        QRect source;
        QSize size;
        bool smooth = false;
        platform::YuvMatrix matrix = platform::YuvMatrix::Bt601Video;
        std::vector<std::uint8_t> pixels;
    } m_drawn;
};

class D3DRendererDevice : public IRendererDevice {
public:
    // d3d: the Direct3D object to use; a new one when null.
    explicit D3DRendererDevice(platform::d3d9::Direct3DPtr d3d = nullptr);
    ~D3DRendererDevice() override;

    bool IsReady() override { return m_ready; }
    void Create(QWidget* window, const QSize& size, bool& created) override;
    void Resize(const QSize& size) override;
    // "Direct3D 9.0 REF renderer." here: no hardware device exists.
    std::string GetDescription() override;
    void BeginScene() override;
    void EndScene() override;
    void SetBlendMode(int mode) override;
    void SetViewport(const QRect& rect) override;
    // The direct paths draw only inside it; the rasteriser draws whole.
    void SetScissor(const QRect& rect) override { m_scissor = rect; }
    void DrawQuad(const QRectF& target, const QRectF& source, std::uint32_t colour, int rotation) override;
    void DrawStrip(const void* vertices, int byteCount) override;
    void ConvertVertices(const std::vector<MeshVertex>& vertices, std::vector<std::uint8_t>& out) override;
    void CopyToBackBuffer(const QRect& rect) override;
    // Copies the rectangle to the window's front image and has the GUI thread
    // paint it; the window's own painting never reaches the renderer.
    bool Present(const QRect& rect) override;
    void ReadPixels(const QRect& rect, uchar* dst, int bytesPerLine) override;
    TexturePtr CreateTexture(const QSize& granularity, bool smooth) override;
    void SetTexture(TexturePtr texture, bool smooth) override;
    void PushState() override;
    void PopState() override;
    void SetTransform(const Matrix4x4& matrix, int kind) override;

    // The back buffer size a request needs (it only grows, by 256 pixels).
    QSize ComputeBackBufferSize(const QSize& requested) const;
    bool SupportsYV12() const { return m_yv12; }
    // A copy of the picture presented so far (RGB32, the back buffer's
    // size); null before the first present.
    QImage FrontImage() const;
    // For a window that paints itself (one with Qt::WA_PaintOnScreen), GUI
    // thread: paints region from the presented picture in place, copying
    // nothing else; returns the part the picture does not hold (all of it
    // before the first present).
    QRegion PaintFront(QPainter& painter, const QRegion& region) const;
    // The software device (null before the first Create).
    platform::d3d9::DevicePtr Device() const { return m_device; }

private:
    friend class D3DTexture;
    void ApplyViewport(const QRect& rect);
    // The selected texture on the device, uploaded (the general rasteriser
    // reads it there).
    void BindDeviceTexture();
    // Draws an axis-aligned quad without the rasteriser when nothing but
    // scaling, conversion, copying or premultiplied blending is asked for;
    // false when the quad needs the rasteriser.
    bool DrawQuadDirect(const QRectF& target, const QRectF& source, std::uint32_t colour);
    void PurgeResources();
    void CheckYV12Support();
    platform::d3d9::PresentParameters BuildPresentParameters(QWidget* window) const;
    void AttachWindow(QWidget* window);

    platform::d3d9::Direct3DPtr m_d3d;
    platform::d3d9::DevicePtr m_device;
    platform::d3d9::SurfacePtr m_scene;
    // Selected for a texture that holds no image yet: transparent black, so
    // an empty overlay covers nothing.
    platform::d3d9::TexturePtr m_empty;
    std::atomic<bool> m_ready{false};
    std::vector<boost::weak_ptr<IRestorableResource>> m_resources;
    Matrix4x4 m_view;
    Matrix4x4 m_projection;
    Matrix4x4 m_savedView;
    Matrix4x4 m_savedProjection;
    QRect m_viewport;
    QRect m_savedViewport;
    QRect m_scissor;  // null: none
    // Guarded: the render thread presents after the window may be gone.
    QPointer<QWidget> m_window;
    std::shared_ptr<SoftwareFront> m_front;
    bool m_filter = true;
    // The selected texture's source rectangle size, which scales mesh
    // coordinates, and the scaled copy of the last strip.
    QSizeF m_sourceSize{1, 1};
    std::vector<platform::d3d9::Vertex> m_scaledStrip;
    // The texture selected by SetTexture; put on the device only when the
    // rasteriser draws with it.
    TexturePtr m_selected;
    bool m_selectedSmooth = false;
    bool m_bound = true;
    int m_blendMode = 0;
    // The view transform is the identity and the projection the one
    // SetViewport made: quads map straight to pixels.
    bool m_viewIdentity = true;
    bool m_projectionOfViewport = false;
    bool m_savedViewIdentity = true;
    bool m_savedProjectionOfViewport = false;
    // Working memory of the direct paths, kept from pass to pass.
    std::vector<std::uint8_t> m_scratch;
    std::vector<int> m_columns;
    std::vector<int> m_rows;
    std::atomic<bool> m_yv12{false};  // read by producers' threads
};

}  // namespace render
