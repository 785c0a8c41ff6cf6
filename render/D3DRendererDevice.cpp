#include "render/D3DRendererDevice.h"

#include <cstring>
#include <stdexcept>

#include <QCoreApplication>
#include <QDebug>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QWidget>
#include <boost/format.hpp>
#include <boost/make_shared.hpp>

#include "base/Log.h"
#include "render/ImagePlacement.h"
#include "render/PixelCopies.h"

namespace render {

namespace d3d = platform::d3d9;

namespace {

constexpr Matrix4x4 kIdentity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// A failed device call: a std::exception with no text of its own.
void Check(d3d::Result result)
{
    if (result != d3d::Result::Ok)
        throw std::exception();
}

void DebugOutput(const char* text)
{
    qDebug().noquote() << text;
}

}  // namespace

// The presented picture of a window, shared by the device (render thread)
// and the window's painter (GUI thread).
struct SoftwareFront {
    std::mutex lock;
    QImage image;
};

namespace {

// Paints the window from its front image; the window's own paint handler
// does not run.
class FrontPainter : public QObject {
public:
    FrontPainter(std::shared_ptr<SoftwareFront> front, QWidget* window) : QObject(window), m_front(std::move(front))
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        const QRect rect = static_cast<QPaintEvent*>(event)->rect();
        QPainter painter(widget);
        std::lock_guard<std::mutex> lock(m_front->lock);
        if (!m_front->image.isNull())
            painter.drawImage(rect, m_front->image, rect);
        return true;
    }

private:
    const std::shared_ptr<SoftwareFront> m_front;
};

}  // namespace

// ---- D3DTexture ----

D3DTexture::D3DTexture(D3DRendererDevice* device, const QSize& granularity, bool smooth)
    : MemoryTexture(granularity, true), m_device(device), m_smooth(smooth)
{
}

void D3DTexture::Release()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_texture.reset();
    m_staging.reset();
    m_createdSize = QSize(-1, -1);
}

void D3DTexture::Restore()
{
    if (BufferSize().width() > 0)
        Commit();
}

void D3DTexture::Detach()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_device = nullptr;
    m_texture.reset();
    m_staging.reset();
    m_createdSize = QSize(-1, -1);
}

bool D3DTexture::SupportsPlanar()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_device != nullptr && m_device->SupportsYV12();
}

uchar* D3DTexture::GetBuffer(const QSize& imageSize, int& bytesPerLine, bool planar)
{
    if (planar && !SupportsPlanar())
        return nullptr;
    return MemoryTexture::GetBuffer(imageSize, bytesPerLine, planar);
}

bool D3DTexture::IsSmooth()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_smooth;
}

d3d::TexturePtr D3DTexture::GetDeviceTexture(bool smooth)
{
    const std::vector<QRect> taken = TakeDirty();
    const QSize buffer = BufferSize();
    const bool planar = IsPlanar();
    std::lock_guard<std::mutex> lock(m_lock);
    m_pending.insert(m_pending.end(), taken.begin(), taken.end());
    if (m_pending.empty() || m_device == nullptr || !m_device->m_device)
        return m_texture;
    d3d::Device& device = *m_device->m_device;
    if (!m_texture || m_createdSize != buffer || smooth != m_smooth || planar != m_createdPlanar) {
        m_smooth = smooth;
        m_texture.reset();
        m_staging.reset();
        m_createdSize = QSize(-1, -1);
        const std::uint32_t usage = (planar || smooth ? d3d::UsageRenderTarget : d3d::UsageDynamic) |
                                    (smooth ? d3d::UsageAutoGenMipMap : d3d::UsageNone);
        Check(device.CreateTexture(buffer.width(), buffer.height(), smooth ? 0 : 1, usage, d3d::Format::A8R8G8B8,
                                   d3d::Pool::Default, m_texture));
        m_createdSize = buffer;
        m_createdPlanar = planar;
        if (planar || smooth)
            Check(device.CreateOffscreenPlainSurface(buffer.width(), buffer.height(),
                                                     planar ? d3d::Format::YV12 : d3d::Format::A8R8G8B8,
                                                     d3d::Pool::Default, m_staging));
    }
    if (planar || m_smooth) {
        UploadThroughSurface(m_pending);
    } else {
        const QRect created(QPoint(0, 0), m_createdSize);
        for (const QRect& dirty : m_pending) {
            if (!created.contains(dirty.topLeft()))
                continue;
            const QRect r = dirty & created;
            d3d::LockedRect locked;
            Check(m_texture->LockRect(0, locked, &r));
            CopyRect32(BufferData(), buffer.width() * 4, locked.bits, locked.pitch, r, QPoint(0, 0));
            Check(m_texture->UnlockRect(0));
        }
    }
    m_pending.clear();
    return m_texture;
}

void D3DTexture::UploadThroughSurface(const std::vector<QRect>& dirty)
{
    d3d::LockedRect locked;
    Check(m_staging->LockRect(locked, nullptr));
    const QRect first = dirty.front() & QRect(QPoint(0, 0), m_createdSize);
    if (m_createdPlanar) {
        const int pitch = m_createdSize.width();
        const int h = first.height();
        const uchar* buffer = BufferData();
        PlaneSet planes;
        planes.planes[0] = buffer;
        planes.planes[1] = buffer + static_cast<std::ptrdiff_t>(pitch) * h;
        planes.planes[2] = buffer + static_cast<std::ptrdiff_t>(pitch) * h * 5 / 4;
        planes.pitches[0] = pitch;
        planes.pitches[1] = pitch / 2;
        planes.pitches[2] = pitch / 2;
        CopyImagePlanes(planes, QSize(first.width(), h), locked.bits, locked.pitch, m_createdSize.height(),
                        QSize(first.width(), h));
    } else if (!first.isEmpty()) {
        CopyRect32(BufferData(), m_createdSize.width() * 4, locked.bits, locked.pitch, first, QPoint(0, 0));
    }
    Check(m_staging->UnlockRect());
    d3d::SurfacePtr level;
    Check(m_texture->GetSurfaceLevel(0, level));
    Check(m_device->m_device->StretchRect(m_staging, nullptr, level, nullptr, d3d::Filter::Point, m_texture));
}

void D3DTexture::ReadPixels(const QRect& rect, uchar* dst, int bytesPerLine)
{
    GetDeviceTexture(IsSmooth());
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_texture || m_device == nullptr)
        return;
    const QRect r = rect & QRect(QPoint(0, 0), m_createdSize);
    if (r.isEmpty())
        return;
    uchar* to = dst + static_cast<std::ptrdiff_t>(r.top() - rect.top()) * bytesPerLine + (r.left() - rect.left()) * 4;
    d3d::LockedRect locked;
    if (!m_staging) {
        Check(m_texture->LockRect(0, locked, &r));
        CopyRect32(locked.bits, locked.pitch, to, bytesPerLine, QRect(QPoint(0, 0), r.size()), QPoint(0, 0));
        Check(m_texture->UnlockRect(0));
        return;
    }
    d3d::Device& device = *m_device->m_device;
    d3d::SurfacePtr surface;
    Check(device.CreateOffscreenPlainSurface(m_createdSize.width(), m_createdSize.height(), d3d::Format::A8R8G8B8,
                                             d3d::Pool::Default, surface));
    Check(device.StretchRect(m_staging, nullptr, surface, nullptr, d3d::Filter::Point));
    Check(surface->LockRect(locked, nullptr));
    CopyRect32(locked.bits, locked.pitch, to, bytesPerLine, r, QPoint(0, 0));
    Check(surface->UnlockRect());
}

// ---- D3DRendererDevice ----

D3DRendererDevice::D3DRendererDevice(d3d::Direct3DPtr d3d)
    : m_d3d(d3d ? std::move(d3d) : d3d::Direct3DCreate9(32)),
      m_view(kIdentity),
      m_projection(kIdentity),
      m_savedView(kIdentity),
      m_savedProjection(kIdentity),
      m_viewport(0, 0, 0, 0),
      m_savedViewport(0, 0, 0, 0)
{
}

D3DRendererDevice::~D3DRendererDevice()
{
    for (const auto& weak : m_resources)
        if (const auto resource = weak.lock())
            if (auto* texture = dynamic_cast<D3DTexture*>(resource.get()))
                texture->Detach();
    m_resources.clear();
    m_scene.reset();
    m_empty.reset();
    m_device.reset();
    m_d3d.reset();
}

d3d::PresentParameters D3DRendererDevice::BuildPresentParameters(QWidget* window) const
{
    d3d::PresentParameters params;
    d3d::DisplayMode mode;
    if (m_d3d->GetAdapterDisplayMode(mode) == d3d::Result::Ok) {
        params.backBufferFormat = mode.format;
        params.windowed = true;
    }
    if (window != nullptr)
        params.windowSize = window->size();
    return params;
}

void D3DRendererDevice::Create(QWidget* window, const QSize& size, bool& created)
{
    if (!m_device) {
        d3d::PresentParameters params = BuildPresentParameters(window);
        if (params.windowSize.isEmpty())
            params.windowSize = size;
        if (m_d3d->CreateDevice(d3d::DeviceType::Hal, params, m_device) != d3d::Result::Ok &&
            m_d3d->CreateDevice(d3d::DeviceType::Ref, params, m_device) != d3d::Result::Ok) {
            m_device.reset();
            throw std::runtime_error("Create device error!");
        }
        CheckYV12Support();
        AttachWindow(window);
        created = true;
    } else {
        const d3d::Result level = m_device->TestCooperativeLevel();
        if (level != d3d::Result::Ok && level != d3d::Result::DeviceNotReset)
            return;
        PurgeResources();
        for (const auto& weak : m_resources)
            if (const auto resource = weak.lock())
                resource->Release();
        m_scene.reset();
        m_empty.reset();
        d3d::PresentParameters params = BuildPresentParameters(window);
        const QSize backBuffer = ComputeBackBufferSize(size);
        params.backBufferWidth = backBuffer.width();
        params.backBufferHeight = backBuffer.height();
        Check(m_device->Reset(params));
        for (const auto& weak : m_resources)
            if (const auto resource = weak.lock())
                resource->Restore();
        created = false;
    }
    d3d::SurfacePtr back;
    Check(m_device->GetBackBuffer(back));
    const d3d::SurfaceDesc desc = back->GetDesc();
    back.reset();
    Check(m_device->CreateRenderTarget(desc.width, desc.height, desc.format, m_scene));
    d3d::RenderState& state = m_device->State();
    state.destBlend = d3d::Blend::InvSrcAlpha;
    state.maxAnisotropy = m_device->GetDeviceCaps().maxAnisotropy;
    state.colorArg1 = d3d::Arg::Texture;
    state.alphaArg1 = d3d::Arg::Texture;
    // The sampler starts unfiltered; the filter state follows it.
    m_filter = false;
    m_ready = true;
    DebugOutput("Device created");
}

QSize D3DRendererDevice::ComputeBackBufferSize(const QSize& requested) const
{
    QSize current(-1, -1);
    d3d::SurfacePtr back;
    if (m_device && m_device->GetBackBuffer(back) == d3d::Result::Ok)
        current = QSize(back->GetDesc().width, back->GetDesc().height);
    return GrowSize(current, requested, QSize(256, 256));
}

void D3DRendererDevice::Resize(const QSize& size)
{
    d3d::SurfacePtr back;
    if (!m_device || m_device->GetBackBuffer(back) != d3d::Result::Ok)
        return;
    if (ComputeBackBufferSize(size) != QSize(back->GetDesc().width, back->GetDesc().height))
        m_ready = false;
}

std::string D3DRendererDevice::GetDescription()
{
    const bool hal = m_device && m_device->GetDeviceCaps().deviceType == d3d::DeviceType::Hal;
    return (boost::format("Direct3D 9.0 %1% renderer.") % (hal ? "HAL" : "REF")).str();
}

void D3DRendererDevice::CheckYV12Support()
{
    d3d::DisplayMode mode;
    m_d3d->GetAdapterDisplayMode(mode);
    for (const d3d::DeviceType type : {d3d::DeviceType::Hal, d3d::DeviceType::Ref}) {
        const bool supported = m_d3d->CheckDeviceFormat(type, mode.format, d3d::UsageRenderTarget,
                                                        d3d::Format::YV12) == d3d::Result::Ok;
        getDefaultDebugInstance()->Message("IDirectD3D helper format: Usage devtype[%i] adapterFormat[%i] "
                                           "supportedYUV[%i] ",
                                           static_cast<int>(type), static_cast<int>(mode.format), supported ? 1 : 0);
        if (supported) {
            m_yv12 = true;
            return;
        }
    }
}

void D3DRendererDevice::PurgeResources()
{
    std::erase_if(m_resources, [](const boost::weak_ptr<IRestorableResource>& w) { return w.expired(); });
}

void D3DRendererDevice::BeginScene()
{
    Check(m_device->SetRenderTarget(m_scene));
    Check(m_device->BeginScene());
}

void D3DRendererDevice::EndScene()
{
    Check(m_device->EndScene());
}

void D3DRendererDevice::SetBlendMode(int mode)
{
    d3d::RenderState& state = m_device->State();
    state.alphaBlend = mode != 0;
    if (mode != 0) {
        state.alphaArg1 = mode == 2 ? d3d::Arg::Texture : d3d::Arg::Diffuse;
        state.srcBlend = mode == 2 ? d3d::Blend::One : d3d::Blend::SrcAlpha;
    }
}

void D3DRendererDevice::ApplyViewport(const QRect& rect)
{
    m_viewport = rect;
    // A viewport never set (the null rectangle) leaves the device's own.
    if (rect.width() > 0 && rect.height() > 0)
        Check(m_device->SetViewport(rect));
}

void D3DRendererDevice::SetViewport(const QRect& rect)
{
    ApplyViewport(rect);
    Box box;
    box.origin = {0, 0, -1000, 0};
    box.size = {static_cast<double>(rect.width()), static_cast<double>(rect.height()), 2000, 0};
    SetTransform(MakeOrthoMatrix(box, true), 1);
}

void D3DRendererDevice::DrawQuad(const QRectF& target, const QRectF& source, std::uint32_t colour, int rotation)
{
    const float x = static_cast<float>(target.x()) - 0.5f, y = static_cast<float>(target.y()) - 0.5f;
    const float w = static_cast<float>(target.width()), h = static_cast<float>(target.height());
    const float positions[4][2] = {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}};
    const float u = static_cast<float>(source.x()), v = static_cast<float>(source.y());
    const float tw = static_cast<float>(source.width()), th = static_cast<float>(source.height());
    const float corners[4][2] = {{u, v}, {u + tw, v}, {u + tw, v + th}, {u, v + th}};
    const int r = ((rotation / 90) % 4 + 4) % 4;
    d3d::Vertex vertices[4];
    for (int k = 0; k < 4; ++k) {
        const int c = (k + r) % 4;
        vertices[k] = {positions[k][0], positions[k][1], 1.f, colour, corners[c][0], corners[c][1]};
    }
    Check(m_device->DrawPrimitiveUP(d3d::Primitive::TriangleFan, 2, vertices, sizeof(d3d::Vertex)));
}

void D3DRendererDevice::DrawStrip(const void* vertices, int byteCount)
{
    if (m_sourceSize == QSizeF(1, 1)) {
        Check(m_device->DrawPrimitiveUP(d3d::Primitive::TriangleStrip, byteCount / 24 - 2, vertices, 24));
        return;
    }
    // Mesh coordinates span the frame image; the image fills only the
    // source rectangle of a texture whose buffer grew past it.
    const std::size_t count = static_cast<std::size_t>(byteCount) / sizeof(d3d::Vertex);
    m_scaledStrip.resize(count);
    std::memcpy(m_scaledStrip.data(), vertices, count * sizeof(d3d::Vertex));
    for (d3d::Vertex& v : m_scaledStrip) {
        v.u *= static_cast<float>(m_sourceSize.width());
        v.v *= static_cast<float>(m_sourceSize.height());
    }
    Check(m_device->DrawPrimitiveUP(d3d::Primitive::TriangleStrip, static_cast<int>(count) - 2, m_scaledStrip.data(),
                                    24));
}

void D3DRendererDevice::ConvertVertices(const std::vector<MeshVertex>& vertices, std::vector<std::uint8_t>& out)
{
    out.resize(vertices.size() * sizeof(d3d::Vertex));
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const double* m = vertices[i].values;
        const d3d::Vertex v{static_cast<float>(m[0]), static_cast<float>(m[1]), static_cast<float>(m[2]),
                            0xFFFF00FFu,          static_cast<float>(m[4]), static_cast<float>(m[5])};
        std::memcpy(out.data() + i * sizeof v, &v, sizeof v);
    }
}

void D3DRendererDevice::CopyToBackBuffer(const QRect& rect)
{
    d3d::SurfacePtr back;
    if (m_device->GetBackBuffer(back) != d3d::Result::Ok ||
        m_device->StretchRect(m_scene, &rect, back, &rect, d3d::Filter::None) != d3d::Result::Ok)
        DebugOutput("StretchRect failed");
}

void D3DRendererDevice::AttachWindow(QWidget* window)
{
    m_window = window;
    if (window == nullptr)
        return;
    std::atomic_store(&m_front, std::make_shared<SoftwareFront>());
    // The painter lives on the window's thread; installed from there. A
    // native surface (no Qt paint engine) paints itself from FrontImage.
    QMetaObject::invokeMethod(
        window,
        [front = m_front, target = QPointer<QWidget>(window)] {
            if (target && !target->testAttribute(Qt::WA_PaintOnScreen)) {
                target->setAttribute(Qt::WA_OpaquePaintEvent);
                target->installEventFilter(new FrontPainter(front, target));
            }
        },
        Qt::QueuedConnection);
}

QImage D3DRendererDevice::FrontImage() const
{
    const std::shared_ptr<SoftwareFront> front = std::atomic_load(&m_front);
    if (!front)
        return QImage();
    std::lock_guard<std::mutex> lock(front->lock);
    return front->image;
}

bool D3DRendererDevice::Present(const QRect& rect)
{
    if (m_device->Present(rect) != d3d::Result::Ok) {
        m_ready = false;
        return false;
    }
    if (!m_front)
        return m_ready;
    QRect updated;
    {
        std::lock_guard<std::mutex> deviceLock(m_device->FrontLock());
        std::lock_guard<std::mutex> lock(m_front->lock);
        const QSize size = m_device->FrontSize();
        if (m_front->image.size() != size) {
            m_front->image = QImage(size, QImage::Format_RGB32);
            m_front->image.fill(Qt::black);
        }
        updated = rect & QRect(QPoint(0, 0), size);
        for (int y = updated.top(); y <= updated.bottom() && !updated.isEmpty(); ++y)
            std::memcpy(m_front->image.scanLine(y) + updated.left() * 4,
                        m_device->Front().data() + (static_cast<std::size_t>(y) * size.width() + updated.left()) * 4,
                        static_cast<std::size_t>(updated.width()) * 4);
    }
    // The window may be destroyed on its own thread at any time: only the
    // guard is copied here, and the update is queued on the application,
    // which outlives every window.
    const QPointer<QWidget> target = m_window;
    QCoreApplication* const application = QCoreApplication::instance();
    if (!updated.isEmpty() && target && application != nullptr)
        QMetaObject::invokeMethod(
            application, [target, updated] {
                if (target)
                    target->update(updated);
            },
            Qt::QueuedConnection);
    return m_ready;
}

void D3DRendererDevice::ReadPixels(const QRect& rect, uchar* dst, int bytesPerLine)
{
    if (!m_ready)
        return;
    const d3d::SurfaceDesc desc = m_scene->GetDesc();
    d3d::SurfacePtr copy;
    Check(m_device->CreateOffscreenPlainSurface(desc.width, desc.height, desc.format, d3d::Pool::SystemMem, copy));
    Check(m_device->GetRenderTargetData(m_scene, copy));
    d3d::LockedRect locked;
    Check(copy->LockRect(locked, &rect));
    CopyRect32(locked.bits, locked.pitch, dst, bytesPerLine, QRect(QPoint(0, 0), rect.size()), QPoint(0, 0));
    Check(copy->UnlockRect());
}

TexturePtr D3DRendererDevice::CreateTexture(const QSize& granularity, bool smooth)
{
    auto texture = boost::make_shared<D3DTexture>(this, granularity, smooth);
    m_resources.push_back(boost::weak_ptr<IRestorableResource>(texture));
    return texture;
}

void D3DRendererDevice::SetTexture(TexturePtr texture, bool smooth)
{
    m_sourceSize = QSizeF(1, 1);
    if (texture) {
        const QRectF source = texture->GetSourceRect();
        if (source.width() > 0 && source.height() > 0)
            m_sourceSize = source.size();
    }
    d3d::TexturePtr deviceTexture;
    if (auto* ours = dynamic_cast<D3DTexture*>(texture.get())) {
        deviceTexture = ours->GetDeviceTexture(smooth);
        const bool textureSmooth = ours->IsSmooth();
        if (textureSmooth != m_filter) {
            d3d::RenderState& state = m_device->State();
            state.magFilter = textureSmooth ? d3d::Filter::Anisotropic : d3d::Filter::Point;
            state.minFilter = state.magFilter;
            state.mipFilter = textureSmooth ? d3d::Filter::Linear : d3d::Filter::None;
            m_filter = textureSmooth;
        }
        if (!deviceTexture) {
            if (!m_empty)
                Check(m_device->CreateTexture(1, 1, 1, d3d::UsageDynamic, d3d::Format::A8R8G8B8, d3d::Pool::Default,
                                              m_empty));
            deviceTexture = m_empty;
        }
    }
    Check(m_device->SetTexture(deviceTexture));
}

void D3DRendererDevice::PushState()
{
    m_savedProjection = m_projection;
    m_savedView = m_view;
    m_savedViewport = m_viewport;
}

void D3DRendererDevice::PopState()
{
    SetTransform(m_savedProjection, 1);
    SetTransform(m_savedView, 0);
    ApplyViewport(m_savedViewport);
}

void D3DRendererDevice::SetTransform(const Matrix4x4& matrix, int kind)
{
    float transposed[16];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            transposed[r * 4 + c] = static_cast<float>(matrix[static_cast<std::size_t>(c * 4 + r)]);
    if (kind == 1) {
        m_device->SetProjectionTransform(transposed);
        m_projection = matrix;
    } else {
        m_device->SetViewTransform(transposed);
        m_view = matrix;
    }
}

}  // namespace render
