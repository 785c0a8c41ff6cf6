#include "render/Renderer.h"

#include <QImage>
#include <boost/make_shared.hpp>

#include "app/core/QApplicationSettings.h"
#include "app/core/ResourcePaths.h"
#include "render/D3DRendererDevice.h"
#include "render/NullRendererDevice.h"
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
    case 0:  // no OpenGL device on this build: the software Direct3D device draws
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
    return DrawSampleTexture(pin, texture, alpha);
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
