#include "render/BasicRenderer.h"

#include <algorithm>
#include <exception>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "config/QApplicationSettings.h"
#include "base/Log.h"
#include "render/ImagePlacement.h"

namespace render {

namespace {

using Guard = boost::lock_guard<boost::mutex>;

constexpr long kPassMicroseconds = 16000;
// How long a capture waits for a device that is not ready before it gives up.
constexpr int kLostDeviceWaitMs = 2000;
constexpr int kCapturePollMs = 20;

// QRect() spans (0, 0) to (-1, -1): the null region.
const QRect kNoRegion;

bool IsValid(const QRect& r)
{
    return r.right() >= r.left() && r.bottom() >= r.top();
}

}  // namespace

// --- frame capture ------------------------------------------------------------

QImage FrameCapture::Capture(boost::unique_lock<boost::mutex>& lock, const QRect& rect,
                             const std::atomic<bool>& running, IRendererDevice& device)
{
    // One request at a time: a second caller waits for the first.
    while (m_bits != nullptr && running)
        m_condition.timed_wait(lock, boost::posix_time::milliseconds(kCapturePollMs));
    if (!running || rect.width() < 1 || rect.height() < 1)
        return QImage();
    QImage image(rect.width(), rect.height(), QImage::Format_RGB32);
    if (image.isNull())
        return QImage();
    // A device that fills nothing leaves black, not uninitialised memory.
    image.fill(0xFF000000u);
    m_rendered = false;
    m_failed = false;
    m_rect = rect;
    m_bits = image.bits();
    m_bytesPerLine = image.bytesPerLine();
    int lostMs = 0;
    while (m_bits != nullptr) {
        if (!running || lostMs >= kLostDeviceWaitMs) {
            m_bits = nullptr;
            m_condition.notify_all();
            return QImage();
        }
        if (!m_condition.timed_wait(lock, boost::posix_time::milliseconds(kCapturePollMs)))
            lostMs = device.IsReady() ? 0 : lostMs + kCapturePollMs;
    }
    return m_failed ? QImage() : image;
}

void FrameCapture::OnFramePresented(IRendererDevice& device)
{
    if (!m_rendered || m_bits == nullptr)
        return;
    try {
        device.ReadPixels(m_rect, m_bits, m_bytesPerLine);
    } catch (const std::exception& e) {
        getDefaultDebugInstance()->Warning("[RENDER] Frame capture failed: %s", e.what());
        m_failed = true;
    }
    m_bits = nullptr;
    m_condition.notify_all();
}

void FrameCapture::Abandon()
{
    if (m_bits == nullptr)
        return;
    m_bits = nullptr;
    m_failed = true;
    m_condition.notify_all();
}

// --- renderer -----------------------------------------------------------------

BasicRenderer::BasicRenderer(const DevicePtr& device) : m_device(device) {}

BasicRenderer::~BasicRenderer()
{
    Stop();
}

void BasicRenderer::Start(QWidget* window, const QRect& geometry)
{
    if (m_running)
        return;
    if (m_thread.joinable())
        m_thread.join();  // an earlier loop that ended by itself
    m_window = window;
    if (window != nullptr)
        m_device->PrepareWindow(window);
    SetGeometry(geometry);
    {
        Guard lock(m_stateLock);
        m_initialised = false;
    }
    // The first pass restores the device even when it is ready from an
    // earlier run: that restore is what Start waits for, and it binds the
    // device to the new render thread.
    m_restoreNeeded = true;
    m_running = true;
    m_thread = boost::thread(&BasicRenderer::RenderLoop, this);
    WaitInitialised();
}

void BasicRenderer::Stop()
{
    m_running = false;
    if (m_thread.joinable()) {
        m_thread.interrupt();
        m_thread.join();
    }
    Guard lock(m_stateLock);
    m_stateCondition.notify_all();
}

void BasicRenderer::SetGeometry(const QRect& geometry)
{
    {
        Guard lock(m_lock);
        SetRect(geometry);
        m_device->Resize(QSize(m_geometry.width(), m_geometry.height()));
        if (!m_device->IsReady())
            LoseRegions();
    }
    GeometryChanged(geometry);
}

QRect BasicRenderer::GetGeometry()
{
    Guard lock(m_lock);
    return m_geometry;
}

void BasicRenderer::SetRect(const QRect& geometry)
{
    m_geometry = geometry;
}

void BasicRenderer::InvalidateRect(const QRect& rect)
{
    Guard lock(m_lock);
    if (m_device->IsReady())
        m_invalidRegion |= rect;
}

void BasicRenderer::InvalidateAll()
{
    InvalidateRect(GetGeometry());
}

void BasicRenderer::InvalidatePinRect(const RendererPin& pin)
{
    Guard lock(m_lock);
    if (!m_device->IsReady())
        return;
    const QRect rect = pin.GetRect() & m_geometry;
    m_invalidRegion |= rect.isEmpty() ? m_geometry : rect;
}

void BasicRenderer::Update(const uchar* bits, const QSize& size, int bytesPerLine,
                           const std::vector<QRect>* dirtyRects)
{
    TexturePtr layer;
    {
        Guard lock(m_lock);
        layer = m_layerTexture;
    }
    if (!layer)
        return;
    layer->Update(bits, size, bytesPerLine, dirtyRects);
    InvalidateAll();
}

QImage BasicRenderer::RenderToImage(const QRect& rect)
{
    boost::unique_lock<boost::mutex> lock(m_lock);
    if (!m_device->IsReady() || !m_running)
        return QImage();
    m_invalidRegion |= m_geometry;
    return m_capture.Capture(lock, rect, m_running, *m_device);
}

std::string BasicRenderer::GetDeviceDescription()
{
    return m_device->GetDescription();
}

RendererPinPtr BasicRenderer::AddPin()
{
    Guard lock(m_lock);
    RendererPinPtr pin = CreatePin(static_cast<int>(m_pins.size()));
    m_pins.push_back(pin);
    m_drawList.push_back(pin);
    return pin;
}

void BasicRenderer::RemoveAllPins()
{
    Guard lock(m_lock);
    m_pins.clear();
    m_drawList.clear();
}

RendererPinPtr BasicRenderer::GetPin(int index)
{
    Guard lock(m_lock);
    return m_pins.at(static_cast<std::size_t>(index));
}

void BasicRenderer::DrawPinLast(int index)
{
    Guard lock(m_lock);
    auto found = std::find_if(m_drawList.begin(), m_drawList.end(),
                              [index](const RendererPinPtr& pin) { return pin->GetIndex() == index; });
    if (found != m_drawList.end())
        std::iter_swap(found, m_drawList.end() - 1);
}

std::vector<int> BasicRenderer::GetDrawOrder()
{
    Guard lock(m_lock);
    std::vector<int> order;
    for (const RendererPinPtr& pin : m_drawList)
        order.push_back(pin->GetIndex());
    return order;
}

int BasicRenderer::GetCount()
{
    Guard lock(m_lock);
    return static_cast<int>(m_pins.size());
}

int BasicRenderer::GetShade(int index)
{
    return GetPin(index)->GetShade();
}

void BasicRenderer::SetShade(int index, int value)
{
    GetPin(index)->SetShade(std::clamp(value, 0, 255));
    InvalidateAll();
}

QRectF BasicRenderer::GetViewRect(int index)
{
    Guard lock(m_lock);
    return m_pins.at(static_cast<std::size_t>(index))->GetViewRect();
}

void BasicRenderer::SetViewRect(int index, const QRectF& rect)
{
    GetPin(index)->SetViewRect(rect);
    InvalidateAll();
}

QRectF BasicRenderer::GetImageRect(int index)
{
    Guard lock(m_lock);
    return m_pins.at(static_cast<std::size_t>(index))->GetImageRect();
}

void BasicRenderer::Draw(const QRect&) {}

void BasicRenderer::LoadResources() {}

void BasicRenderer::OnRenderThreadExit() {}

void BasicRenderer::RenderLoop()
{
    // running was set by Start, before the thread began.
    while (m_running) {
        const boost::posix_time::ptime start = boost::posix_time::microsec_clock::universal_time();
        try {
            if (m_device->IsReady() && !m_restoreNeeded)
                RenderFrame();
            else
                RestoreDevice();
        } catch (const std::exception& e) {
            // A failed pass is handled like a lost device.
            getDefaultDebugInstance()->Warning("[RENDER] Render pass failed: %s", e.what());
            Guard lock(m_lock);
            LoseRegions();
            m_restoreNeeded = true;
        } catch (...) {
            getDefaultDebugInstance()->Warning("[RENDER] Render pass failed");
            Guard lock(m_lock);
            LoseRegions();
            m_restoreNeeded = true;
        }
        const boost::posix_time::ptime deadline = start + boost::posix_time::microseconds(kPassMicroseconds);
        if (m_running && boost::posix_time::microsec_clock::universal_time() < deadline) {
            try {
                boost::this_thread::sleep(deadline);
            } catch (const boost::thread_interrupted&) {
            }
        }
    }
    OnRenderThreadExit();
    Guard lock(m_lock);
    m_device->LeaveThread();
    m_capture.Abandon();
}

void BasicRenderer::RestoreDevice()
{
    bool failed = false;
    {
        Guard lock(m_lock);
        try {
            bool created = false;
            m_device->Create(m_window, QSize(m_geometry.width(), m_geometry.height()), created);
            if (!m_device->IsReady())
                return;
            if (created) {
                CreateTextures();
                DeviceCreated();
            }
            if (!m_layerTexture)
                m_layerTexture = m_device->CreateTexture(QSize(64, 64), false);
            m_restoreNeeded = false;
            // A reset reports no new device, so nobody else would redraw:
            // the whole output is drawn again (and a waiting capture served).
            m_invalidRegion |= m_geometry;
        } catch (const std::exception& e) {
            getDefaultDebugInstance()->Warning("[RENDER] Device creation failed: %s", e.what());
            failed = true;
        }
    }
    if (failed) {
        DeviceError();
        m_running = false;
    }
    NotifyInitialised();
}

void BasicRenderer::CreateTextures()
{
    for (TexturePtr& texture : m_baseTextures) {
        if (!texture)
            texture = m_device->CreateTexture(QSize(1, 1), false);
    }
    const QSize size = m_baseTextures[0]->GetImageSize();
    if (size.width() < 1 || size.height() < 1)
        LoadResources();
}

void BasicRenderer::RenderFrame()
{
    QRect presented = kNoRegion;
    {
        Guard lock(m_lock);
        DrawScene();
        if (IsValid(m_presentRegion)) {
            presented = m_presentRegion;
            m_device->CopyToBackBuffer(presented);
            m_presentRegion = kNoRegion;
            m_capture.OnFramePresented(*m_device);
        }
    }
    if (IsValid(presented) && !m_device->Present(presented)) {
        Guard lock(m_lock);
        LoseRegions();
    }
}

void BasicRenderer::DrawScene()
{
    if (!IsValid(m_invalidRegion))
        return;
    const QRect area = m_invalidRegion & m_geometry;
    m_invalidRegion = kNoRegion;
    if (!IsValid(area))
        return;
    m_presentRegion |= area;
    m_device->BeginScene();
    m_device->SetViewport(m_geometry);
    // Only the area is presented: nothing outside it need be drawn.
    m_device->SetScissor(area);
    m_device->SetBlendMode(0);
    DrawBackground(m_geometry, m_baseTextures[0]);
    Draw(area);
    m_device->EndScene();
    m_capture.SetRendered();
}

void BasicRenderer::DrawBackground(const QRect& geometry, const TexturePtr& texture)
{
    if (!texture)
        return;
    const QSize image = texture->GetImageSize();
    const double w = std::max(1, image.width());
    const double h = std::max(1, image.height());
    const QRectF target(geometry.left(), geometry.top(), geometry.width(), geometry.height());
    const QRectF source(0, 0, geometry.width() / w, geometry.height() / h);
    m_device->SetTexture(texture, false);
    m_device->DrawQuad(target, source, 0xFFFFFFFFu, 0);
}

void BasicRenderer::DrawLayer(const QRect& area)
{
    if (!m_layerTexture)
        return;
    m_device->SetViewport(area);
    m_device->SetBlendMode(2);
    const QRectF target = QRectF(m_geometry).translated(-area.left(), -area.top());
    DrawTexture(m_layerTexture, target, m_layerTexture->GetSourceRect(), 0xFFFFFFFFu, 0, false);
}

void BasicRenderer::DrawTexture(const TexturePtr& texture, const QRectF& target, const QRectF& source,
                                std::uint32_t colour, int rotation, bool smooth)
{
    m_device->SetTexture(texture, smooth);
    m_device->DrawQuad(target, source, colour, rotation);
}

void BasicRenderer::FillRect(const QRectF& rect, std::uint32_t colour)
{
    m_device->SetTexture(TexturePtr(), false);
    m_device->DrawQuad(rect, QRectF(0, 0, 0, 0), colour, 0);
}

bool BasicRenderer::DrawSampleTexture(RendererPin& pin, const TexturePtr& texture, int alpha)
{
    if (!texture)
        return false;
    m_device->SetBlendMode(alpha != 255 ? 1 : 0);
    const QRectF p(pin.GetRect());
    const QRectF v = pin.GetViewRect();
    const QRectF box(QPointF(p.left() + p.width() * v.x(), p.top() + p.height() * v.y()),
                     QPointF(p.left() + p.width() * (v.x() + v.width()), p.top() + p.height() * (v.y() + v.height())));
    ImagePlacement placement;
    PlaceImageClipped(box, texture->GetImageSize(), p, texture->GetSourceRect(), placement, pin.GetRotation());
    const std::uint32_t a = static_cast<std::uint32_t>(std::clamp(alpha, 0, 255)) << 24;
    m_device->SetTexture(texture, QApplicationSettings::Instance().Antialiasing);
    m_device->DrawQuad(placement.image, placement.texture, a | 0xFFFFFFu, pin.GetRotation());
    FillRect(placement.firstBar, a);
    FillRect(placement.secondBar, a);
    return true;
}

void BasicRenderer::NotifyInitialised()
{
    Guard lock(m_stateLock);
    m_initialised = true;
    m_stateCondition.notify_all();
}

void BasicRenderer::WaitInitialised()
{
    boost::unique_lock<boost::mutex> lock(m_stateLock);
    while (!m_initialised && m_running)
        m_stateCondition.wait(lock);
}

void BasicRenderer::LoseRegions()
{
    m_invalidRegion = kNoRegion;
    m_presentRegion = kNoRegion;
}

}  // namespace render
