#include "render/Renderer.h"

#include <cmath>

#include <QImage>
#include <boost/make_shared.hpp>

#include "config/QApplicationSettings.h"
#include "config/ResourcePaths.h"
#include "render/D3DRendererDevice.h"
#include "render/Dewarper.h"
#include "render/NullRendererDevice.h"
#include "render/OGLRendererDevice.h"
#include "render/RendererPin.h"

namespace render {

namespace {

// Writes an image into a texture; a missing or unreadable file leaves the
// texture empty (the scene draws without it).
void UploadImage(IGraphicArea& texture, const QImage& image)
{
    if (image.isNull())
        return;
    texture.Update(image.constBits(), image.size(), image.bytesPerLine(), nullptr);
}

}  // namespace

DevicePtr CreateRendererDevice(int render)
{
    switch (render) {
    case 0: return boost::make_shared<OGLRendererDevice>();
    case 1: return boost::make_shared<D3DRendererDevice>();
    default: return boost::make_shared<NullRendererDevice>();
    }
}

Renderer::Renderer() : Renderer(CreateRendererDevice(QApplicationSettings::Instance().Render)) {}

Renderer::Renderer(const DevicePtr& device) : BasicRenderer(device), m_resourceRoot(ApplicationDirectory()) {}

Renderer::~Renderer()
{
    Stop();
    m_watermarkTexture.reset();
}

RendererPinPtr Renderer::CreatePin(int index)
{
    return boost::make_shared<MediaSamplePin>(this, index);
}

QRectF Renderer::ComputeZoomRect(int index, const QPointF& from, const QPointF& to, const QSizeF& size)
{
    const auto pin = boost::dynamic_pointer_cast<MediaSamplePin>(GetPin(index));
    return pin ? pin->ComputeZoomRect(from, to, size) : QRectF();
}

void Renderer::GeometryChanged(const QRect& geometry)
{
    if (m_layer != nullptr)
        m_layer->Resize(geometry.size());
}

void Renderer::SetPrevFrameAlpha(int alpha)
{
    m_prevFrameAlpha = alpha;
    InvalidateRect(GetGeometry());
}

void Renderer::LoadResources()
{
    UploadImage(*m_baseTextures[0], QImage(BackgroundImagePath(m_resourceRoot)).convertToFormat(QImage::Format_RGB32));
    m_watermarkTexture = m_device->CreateTexture(QSize(1, 1), false);
    UploadImage(*m_watermarkTexture, QImage(ResourcePath(m_resourceRoot, "Watermark.png"))
                                         .convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

void Renderer::Draw(const QRect& area)
{
    for (const RendererPinPtr& pin : m_drawList)
        if (auto* samplePin = dynamic_cast<MediaSamplePin*>(pin.get()))
            DrawPin(*samplePin, area);
    DrawLayer(area);
}

void Renderer::DrawPin(MediaSamplePin& pin, const QRect& area)
{
    const QRect rect = pin.GetRect();
    if (!rect.intersects(area))
        return;
    int alpha = 255;
    const int previous = m_prevFrameAlpha;
    if (previous != 0 && pin.HasFrame() && DrawPinSample(pin, pin.GetUnderlayTexture(), 255))
        alpha = 255 - previous;
    DrawPinSample(pin, pin.GetTexture(), alpha);
    if (pin.GetSample().IsSigned() && QApplicationSettings::Instance().Watermark && m_watermarkTexture) {
        const QSize size = m_watermarkTexture->GetImageSize();
        if (size.width() > 0 && size.height() > 0) {
            const QRectF target(rect.right() - size.width() - 10, rect.top() + 10, size.width(), size.height());
            m_device->SetBlendMode(2);
            DrawTexture(m_watermarkTexture, target, m_watermarkTexture->GetSourceRect(), 0xFFFFFFFFu, 0, false);
        }
    }
    if (const int shade = pin.GetShade(); shade != 0) {
        m_device->SetBlendMode(1);
        FillRect(QRectF(rect), static_cast<std::uint32_t>(shade) << 24);
    }
}

bool Renderer::DrawPinSample(MediaSamplePin& pin, const TexturePtr& texture, int alpha)
{
    if (Dewarper* dewarper = pin.GetDewarper(); dewarper != nullptr && texture) {
        DrawDewarped(pin, texture, *dewarper);
        return true;
    }
    return DrawSampleTexture(pin, texture, alpha);
}

void Renderer::UpdateDewarper(Dewarper& dewarper, const TexturePtr& texture)
{
    const QSize size = texture->GetImageSize();
    // A frame below 1 x 1 is no picture: the meshes wait for one.
    if (dewarper.lens == 0 || !dewarper.rebuild || size.width() < 1 || size.height() < 1)
        return;
    QImage frame(size, QImage::Format_RGB32);
    texture->ReadPixels(QRect(QPoint(0, 0), size), frame.bits(), frame.bytesPerLine());
    dewarper.Rebuild(frame, *m_device);
}

void Renderer::DrawDewarped(MediaSamplePin& pin, const TexturePtr& texture, Dewarper& dewarper)
{
    UpdateDewarper(dewarper, texture);
    const QRect r = pin.GetRect();
    static constexpr Matrix4x4 kIdentity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    m_device->PushState();
    m_device->SetViewport(r);
    m_device->SetTransform(kIdentity, 0);
    m_device->SetTexture(TexturePtr(), false);
    m_device->DrawQuad(QRectF(0, 0, r.width(), r.height()), QRectF(0, 0, 0, 0), 0xFF000000u, 0);
    const int mode = pin.GetDisplayMode();
    const std::vector<std::uint8_t>& buffer = dewarper.vertexBuffers[mode == 1 ? 1 : 0];
    if (!buffer.empty()) {
        m_device->SetBlendMode(0);
        m_device->SetTexture(texture, QApplicationSettings::Instance().Antialiasing);
        const QRectF v = pin.GetViewRect();
        const int bytes = static_cast<int>(buffer.size());
        if (mode == 0) {
            m_device->SetTransform(dewarper.ViewMatrix(r, v), 1);
            m_device->DrawStrip(buffer.data(), bytes);
        } else {
            const QSizeF f = pin.FrameDisplaySize(TexturePtr());
            const double fw = f.width(), fh = f.height();
            int rows = 2;
            double xs = 1, ys = 1;
            if (fh * 4 < fw) {
                rows = 1;
                xs = 0.5;
                ys = 2;
            }
            const double sx = v.width() * fw * xs, sy = -(v.width() * fh * ys);
            const double tx = (r.width() - fw) * 0.5 + (v.x() + v.width()) * fw;
            const double ty = (r.height() - fh) * 0.5 + v.y() * fh;
            auto place = [&](double x, double y) {
                const Matrix4x4 m{sx, 0, 0, x, 0, sy, 0, y, 0, 0, 1, 0, 0, 0, 0, 1};
                m_device->SetTransform(m, 0);
            };
            if (dewarper.position == 1) {
                place(tx, ty);
                m_device->DrawStrip(buffer.data(), bytes);
            } else if (sx > 0) {
                const double step = sx;
                const int first = static_cast<int>(std::floor(-tx / step)) + 1;
                const int last = static_cast<int>(std::floor(r.width() / step - tx / step)) + 1;
                const int half = bytes / 2;
                for (int j = first; j <= last; ++j)
                    for (int i = 0; i < rows; ++i) {
                        place(tx + j * step, ty + i * fh * 0.5 * v.width());
                        const bool second = (i + j + rows) % 2 != 0;
                        m_device->DrawStrip(buffer.data() + (second ? half : 0), half);
                    }
            }
        }
    }
    m_device->PopState();
}

void Renderer::RenderFrame()
{
    BasicRenderer::RenderFrame();
    ITitlesProcessor* processor = m_titlesProcessor;
    if (processor == nullptr)
        return;  // flags stay raised until someone is told
    std::vector<RendererPinPtr> pins;
    {
        boost::lock_guard<boost::mutex> lock(m_lock);
        pins = m_pins;
    }
    for (const RendererPinPtr& pin : pins) {
        const TitlesPtr titles = pin->GetTitles();
        if (titles && titles->TakeChanged())
            processor->TitlesChanged(pin->GetIndex());
    }
}

}  // namespace render
