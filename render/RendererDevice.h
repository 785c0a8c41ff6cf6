#pragma once
// The drawing device of the renderer and its textures.
//
// Every device operation runs on the render thread with the renderer lock
// held, except IsReady, Resize and frame-pin CreateTexture (caller's thread,
// renderer lock held) and GetDescription (caller's thread, no lock). Failures
// are std::exception; Present reports a lost device by returning false, and
// Resize by becoming not ready.

#include <cstdint>
#include <string>
#include <vector>

#include <QRect>
#include <QRectF>
#include <QSize>
#include <boost/shared_ptr.hpp>

#include "platform/YuvMatrix.h"
#include "render/GraphicArea.h"
#include "render/Matrix.h"

class QWidget;

namespace render {

// Frees its device objects when the device is lost or reset (keeping its
// image size and system-memory pixels) and rebuilds them afterwards.
class IRestorableResource {
public:
    virtual ~IRestorableResource() {}
    virtual void Release() = 0;
    virtual void Restore() = 0;
};

// A texture with a system-memory buffer that grows and never shrinks.
//
// Buffer layouts (GetBuffer): 32-bit pixels, bytes per line = 4 x buffer
// width; planar YV12, bytes per line = buffer width, and for an image of
// height H the V plane at bytesPerLine x H and U at bytesPerLine x H x 5 / 4,
// each with half the bytes per line. The buffer is written on a source pin's
// thread while the render thread draws: textures lock it themselves.
class ITexture : public IRestorableResource, public IGraphicArea {
public:
    ~ITexture() override {}
    // Memory for an image of imageSize; null when there is none.
    virtual uchar* GetBuffer(const QSize& imageSize, int& bytesPerLine, bool planar) = 0;
    // The whole image changed; it is uploaded when the texture is next
    // selected or read back.
    virtual void Commit() = 0;
    // Copies rect of the image into dst as 32-bit pixels.
    virtual void ReadPixels(const QRect& rect, uchar* dst, int bytesPerLine) = 0;
    // The image's part of the texture in texture coordinates.
    virtual QRectF GetSourceRect() = 0;
    // The image size of the last GetBuffer; (-1, -1) before the first.
    virtual QSize GetImageSize() = 0;
    virtual bool SupportsPlanar() = 0;
    // How a planar image's samples become RGB (studio-range BT.601 until
    // said otherwise).
    virtual void SetYuvMatrix(platform::YuvMatrix) {}
};

using TexturePtr = boost::shared_ptr<ITexture>;

// A vertex of a dewarping mesh: x, y, z, w (0), u, v (0..1 of the frame
// image) and two trailing zeros; devices read x, y, z, u and v.
struct MeshVertex {
    double values[8] = {0, 0, 0, 0, 0, 0, 0, 0};
};

class IRendererDevice {
public:
    virtual ~IRendererDevice() {}
    // GUI thread, before the window's platform window exists: gives the
    // window what the device needs of it. False when the window cannot
    // serve the device any more.
    virtual bool PrepareWindow(QWidget*) { return true; }
    // The render thread ends: it lets go of what binds the device to it.
    virtual void LeaveThread() {}
    virtual bool IsReady() = 0;
    // Makes the device ready for the widget's window with a back buffer of
    // size. created becomes true for a new device (textures must be made or
    // reloaded), false for a reset; unchanged, and not ready, when the device
    // cannot be reset yet. Throws std::exception when no device can be made.
    virtual void Create(QWidget* window, const QSize& size, bool& created) = 0;
    virtual void Resize(const QSize& size) = 0;
    virtual std::string GetDescription() = 0;
    virtual void BeginScene() = 0;
    virtual void EndScene() = 0;
    // 0 replace; 1 blend with the draw colour's alpha; 2 premultiplied alpha
    // of the texture.
    virtual void SetBlendMode(int mode) = 0;
    // Viewport and an orthographic projection from (0, 0) at its top-left to
    // (width, height), y down.
    virtual void SetViewport(const QRect& rect) = 0;
    // Only rect (target pixels) of the scene need be drawn until the scene
    // ends; a device may draw more. A null rect: no limit.
    virtual void SetScissor(const QRect&) {}
    // Draws target with the current texture's source rectangle, modulated by
    // the ARGB colour. rotation (0, 90, 180, 270) turns the image inside the
    // target counter-clockwise: the target's top-left shows source corner
    // (rotation / 90) mod 4, counting top-left, top-right, bottom-right,
    // bottom-left.
    virtual void DrawQuad(const QRectF& target, const QRectF& source, std::uint32_t colour, int rotation) = 0;
    virtual void DrawStrip(const void* vertices, int byteCount) = 0;
    virtual void ConvertVertices(const std::vector<MeshVertex>& vertices, std::vector<std::uint8_t>& out) = 0;
    virtual void CopyToBackBuffer(const QRect& rect) = 0;
    // False when the device was lost (it is then not ready).
    virtual bool Present(const QRect& rect) = 0;
    // rect of the drawn scene into dst, top row first, QImage::Format_RGB32
    // memory order.
    virtual void ReadPixels(const QRect& rect, uchar* dst, int bytesPerLine) = 0;
    virtual TexturePtr CreateTexture(const QSize& granularity, bool smooth) = 0;
    // An empty texture draws untextured.
    virtual void SetTexture(TexturePtr texture, bool smooth) = 0;
    virtual void PushState() = 0;
    virtual void PopState() = 0;
    // kind 1: projection; kind 0: model-view transform.
    virtual void SetTransform(const Matrix4x4& matrix, int kind) = 0;
};

using DevicePtr = boost::shared_ptr<IRendererDevice>;

}  // namespace render
