#pragma once
// The player's renderer: picks its device from the settings, makes one media
// sample pin per channel and draws each pin's frame with the watermark of
// signed files and its shade, then the overlay layer. After each pass it
// tells the titles processor which channels' titles changed.

#include <atomic>

#include <QString>

#include "render/BasicRenderer.h"

namespace render {

class Dewarper;

// Told on the render thread that a channel's titles changed.
class ITitlesProcessor {
public:
    virtual ~ITitlesProcessor() {}
    virtual void TitlesChanged(int channel) = 0;
};

// The scene drawn over the channels (the controls layer); it takes the
// output's size whenever the geometry is set, on the GUI thread.
class ISceneLayer {
public:
    virtual ~ISceneLayer() {}
    virtual void Resize(const QSize& size) = 0;
};

// 1 the Direct3D 9 device, 0 OpenGL, any other value the null device.
DevicePtr CreateRendererDevice(int render);

class Renderer : public BasicRenderer {
public:
    // Over the device of the Render setting.
    Renderer();
    // Over a given device (tools, tests).
    explicit Renderer(const DevicePtr& device);
    ~Renderer() override;

    QRectF ComputeZoomRect(int index, const QPointF& from, const QPointF& to, const QSizeF& size) override;
    // A new picture redraws only its pin's rectangle.
    void InvalidatePin(const RendererPin& pin) override { InvalidatePinRect(pin); }

    // The processor told of changed titles; null for none. It must outlive
    // the render thread or be unset first.
    void SetTitlesProcessor(ITitlesProcessor* processor) { m_titlesProcessor = processor; }
    // The layer resized with the output; null for none. It must outlive the
    // renderer or be unset first.
    void SetLayer(ISceneLayer* layer) { m_layer = layer; }
    ISceneLayer* GetLayer() const { return m_layer; }
    // 0: no fade; otherwise the alpha taken from a frame drawn over its
    // underlay. The output is redrawn.
    void SetPrevFrameAlpha(int alpha);
    int GetPrevFrameAlpha() const { return m_prevFrameAlpha; }
    // The folder whose "Resources" folder holds the background and the
    // watermark images; the application directory unless set before Start.
    void SetResourceRoot(const QString& root) { m_resourceRoot = root; }

protected:
    RendererPinPtr CreatePin(int index) override;
    void Draw(const QRect& area) override;
    void LoadResources() override;
    void RenderFrame() override;
    void GeometryChanged(const QRect& geometry) override;

private:
    void DrawPin(MediaSamplePin& pin, const QRect& area);
    bool DrawPinSample(MediaSamplePin& pin, const TexturePtr& texture, int alpha);
    void DrawDewarped(MediaSamplePin& pin, const TexturePtr& texture, Dewarper& dewarper);
    void UpdateDewarper(Dewarper& dewarper, const TexturePtr& texture);

    std::atomic<int> m_prevFrameAlpha{0};
    TexturePtr m_watermarkTexture;
    std::atomic<ITitlesProcessor*> m_titlesProcessor{nullptr};
    QString m_resourceRoot;
    ISceneLayer* m_layer = nullptr;  // GUI thread only
};

}  // namespace render
