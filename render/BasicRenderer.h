#pragma once
// The renderer core: the drawing device, the pins of the played channels and
// the render thread. Every 16 ms the thread (re)creates the device when it is
// not ready, otherwise redraws only the invalidated part of the output,
// presents it and serves a pending frame capture. Other threads only
// invalidate rectangles, replace pixels of the controls-layer texture or
// change pin state; they never draw.
//
// Derived classes supply the pins, the per-pin drawing, the layer and the
// resources, and must call Stop() in their destructors (the render thread
// calls their virtual operations).
//
// Locks: the renderer lock guards the device's drawing calls, the pin lists,
// both regions, the capture request and the pins' geometry; it is taken
// before any texture lock. DeviceCreated handlers run on the render thread
// with the renderer lock held and must not call operations that take it.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <QImage>
#include <QRect>
#include <QRectF>
#include <boost/signals2/signal.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include "render/GraphicArea.h"
#include "render/RendererDevice.h"
#include "render/RendererPin.h"

class QWidget;

namespace render {

// The per-channel view of the renderer. Indices must be valid.
class IChannelManager {
public:
    virtual ~IChannelManager() {}
    virtual int GetCount() = 0;
    virtual int GetShade(int index) = 0;
    virtual void SetShade(int index, int value) = 0;
    virtual QRectF GetViewRect(int index) = 0;
    virtual void SetViewRect(int index, const QRectF& rect) = 0;
    virtual QRectF GetImageRect(int index) = 0;
    virtual QRectF ComputeZoomRect(int index, const QPointF& from, const QPointF& to, const QSizeF& size) = 0;
};

// A pending snapshot of the output. Its fields are guarded by the renderer
// lock.
class FrameCapture {
public:
    // Posts a request for rect and waits (releasing `lock`) until a scene
    // drawn after the request was read into the image. Returns a null image
    // when the read-back failed, when the render loop stopped, or when the
    // device stayed lost for longer than a bounded wait.
    QImage Capture(boost::unique_lock<boost::mutex>& lock, const QRect& rect, const std::atomic<bool>& running,
                   IRendererDevice& device);
    // Render thread, after the back-buffer copy: serves the request when a
    // scene was drawn since it was posted.
    void OnFramePresented(IRendererDevice& device);
    // A scene was drawn.
    void SetRendered() { m_rendered = true; }
    // Ends a waiting request with a null image (the loop stops).
    void Abandon();

private:
    bool m_rendered = false;
    boost::condition_variable m_condition;
    QRect m_rect;
    uchar* m_bits = nullptr;
    int m_bytesPerLine = 0;
    bool m_failed = false;
};

class BasicRenderer : public IGraphicArea, public IChannelManager {
public:
    explicit BasicRenderer(const DevicePtr& device);
    ~BasicRenderer() override;
    BasicRenderer(const BasicRenderer&) = delete;
    BasicRenderer& operator=(const BasicRenderer&) = delete;

    // Emitted on the render thread each time a restore made a new device.
    boost::signals2::signal<void()> DeviceCreated;
    // Emitted on the render thread when making the device threw.
    boost::signals2::signal<void()> DeviceError;

    // GUI thread. Prepares the window for the device (best before its
    // platform window exists), starts the render thread for it and waits
    // until the first device restore has completed (successfully or not).
    // No effect while running.
    void Start(QWidget* window, const QRect& geometry);
    // Stops and joins the render thread; a waiting capture gets a null image.
    void Stop();
    bool IsRunning() const { return m_running; }

    void SetGeometry(const QRect& geometry);
    QRect GetGeometry();
    // Adds the rectangle to the region redrawn by the next pass; no effect
    // while the device is not ready.
    void InvalidateRect(const QRect& rect);
    virtual void InvalidateAll();
    // A new picture of the pin, any thread: here the whole output is drawn
    // again (InvalidateAll, which subclasses may watch); the renderer of the
    // main window draws only the pin's rectangle (InvalidatePinRect).
    virtual void InvalidatePin(const RendererPin&) { InvalidateAll(); }
    // The pin's rectangle is drawn again (the whole output while it has
    // none).
    void InvalidatePinRect(const RendererPin& pin);
    // The controls layer's pixels (premultiplied ARGB) for its texture.
    void Update(const uchar* bits, const QSize& size, int bytesPerLine,
                const std::vector<QRect>* dirtyRects) override;
    // A picture of rect drawn after the call; null when the device is not
    // ready (see FrameCapture::Capture).
    QImage RenderToImage(const QRect& rect);
    std::string GetDeviceDescription();
    DevicePtr GetDevice() const { return m_device; }
    boost::mutex& GetLock() { return m_lock; }

    RendererPinPtr AddPin();
    void RemoveAllPins();
    RendererPinPtr GetPin(int index);
    // Exchanges the pin of `index` with the last pin of the draw list, so it
    // is drawn on top; the former last pin takes its place. No effect for an
    // index without pin.
    void DrawPinLast(int index);
    // Pin indices in the order the render thread draws them.
    std::vector<int> GetDrawOrder();

    int GetCount() override;
    int GetShade(int index) override;
    void SetShade(int index, int value) override;
    QRectF GetViewRect(int index) override;
    void SetViewRect(int index, const QRectF& rect) override;
    QRectF GetImageRect(int index) override;

protected:
    virtual RendererPinPtr CreatePin(int index) = 0;
    virtual void SetRect(const QRect& geometry);
    // Draws the pins and the layer inside area (renderer lock held).
    virtual void Draw(const QRect& area);
    // Uploads the images of the base textures (renderer lock held).
    virtual void LoadResources();
    virtual void RenderFrame();
    virtual void OnRenderThreadExit();
    // After SetGeometry, on the caller's thread, without the renderer lock.
    virtual void GeometryChanged(const QRect& /*geometry*/) {}

    // Drawing helpers for Draw (render thread, renderer lock held).
    void DrawLayer(const QRect& area);
    void DrawTexture(const TexturePtr& texture, const QRectF& target, const QRectF& source, std::uint32_t colour,
                     int rotation, bool smooth);
    void FillRect(const QRectF& rect, std::uint32_t colour);
    bool DrawSampleTexture(RendererPin& pin, const TexturePtr& texture, int alpha);

    const DevicePtr m_device;
    boost::mutex m_lock;
    std::vector<RendererPinPtr> m_pins;
    std::vector<RendererPinPtr> m_drawList;
    TexturePtr m_baseTextures[2];
    TexturePtr m_layerTexture;
    QRect m_geometry;  // null (0, 0)-(-1, -1) until set
    QWidget* m_window = nullptr;

private:
    void RenderLoop();
    void RestoreDevice();
    void CreateTextures();
    void DrawScene();
    void DrawBackground(const QRect& geometry, const TexturePtr& texture);
    void NotifyInitialised();
    void WaitInitialised();
    void LoseRegions();

    boost::thread m_thread;
    std::atomic<bool> m_running{false};
    // A pass threw: the next pass restores the device although it reports
    // ready.
    std::atomic<bool> m_restoreNeeded{false};
    QRect m_presentRegion;  // null when empty
    QRect m_invalidRegion;
    boost::mutex m_stateLock;
    boost::condition_variable m_stateCondition;
    bool m_initialised = false;
    FrameCapture m_capture;
};

}  // namespace render
