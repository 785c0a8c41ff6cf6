#include "render/D3DRendererDevice.h"

#include <algorithm>
#include <cmath>
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
#include "imaging/primitives/YuvToBgra.h"
#include "imaging/primitives/resize/Resize.h"
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

// size pixels at dst set to one 0xAARRGGBB colour.
void FillColour(std::uint8_t* dst, int pitch, const QSize& size, std::uint32_t colour)
{
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(dst + static_cast<std::ptrdiff_t>(y) * pitch);
        std::fill(row, row + size.width(), colour);
    }
}

void DebugOutput(const char* text)
{
    qDebug().noquote() << text;
}

}  // namespace

// The presented picture of a window: the software device's front image,
// written by the render thread's presents and painted by the window's GUI
// thread, both under the device's front lock. Painting reads the pixels in
// place: nothing is copied or converted on the way but into the window.
struct SoftwareFront {
    d3d::DevicePtr device;
    std::atomic<bool> presented{false};

    // Paints region (window coordinates) from the picture; returns the part
    // the picture does not hold.
    QRegion Paint(QPainter& painter, const QRegion& region)
    {
        if (!presented)
            return region;
        std::lock_guard<std::mutex> lock(device->FrontLock());
        const QSize size = device->FrontSize();
        const QRect whole(QPoint(0, 0), size);
        // A view of the front buffer, not a copy (32-bit pixels, opaque).
        const QImage view(device->Front().data(), size.width(), size.height(), size.width() * 4,
                          QImage::Format_RGB32);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        for (const QRect& rect : region & whole)
            painter.drawImage(rect.topLeft(), view, rect);
        return region - whole;
    }
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
        QPainter painter(widget);
        m_front->Paint(painter, static_cast<QPaintEvent*>(event)->region());
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

void D3DTexture::TakeChanges()
{
    const std::vector<QRect> taken = TakeDirty();
    if (taken.empty())
        return;
    std::lock_guard<std::mutex> lock(m_lock);
    m_pending.insert(m_pending.end(), taken.begin(), taken.end());
    // Changes that wait long for an upload (the direct paths never ask for
    // one) merge into one rectangle, so the list stays short.
    if (m_pending.size() > 16) {
        QRect all;
        for (const QRect& r : m_pending)
            all |= r;
        m_pending.assign(1, all);
    }
}

bool D3DTexture::DrawPlanar(const QRect& source, const QSize& size, const QRect& visible, std::uint8_t* dst,
                            int dstPitch, bool smooth, std::vector<std::uint8_t>& scratch)
{
    TakeChanges();
    const platform::YuvMatrix matrix = GetYuvMatrix();
    std::lock_guard<std::mutex> lock(m_lock);
    const QSize image = ImageSizeLocked();
    if (!PlanarLocked() || image.width() < 1 || image.height() < 1 || size.isEmpty() ||
        !QRect(QPoint(0, 0), image).contains(source) || !QRect(QPoint(0, 0), size).contains(visible))
        return false;
    const std::size_t row = static_cast<std::size_t>(size.width()) * 4;
    auto copyVisible = [&] {
        for (int y = 0; y < visible.height(); ++y)
            std::memcpy(dst + static_cast<std::ptrdiff_t>(y) * dstPitch,
                        m_drawn.pixels.data() + row * static_cast<std::size_t>(visible.top() + y) +
                            static_cast<std::size_t>(visible.left()) * 4,
                        static_cast<std::size_t>(visible.width()) * 4);
    };
    // Counted under the lock with the buffer: a commit during the drawing
    // below changes the count and is drawn again next time.
    const std::uint64_t commits = CommitCount();
    if (m_drawn.commits == commits && m_drawn.source == source && m_drawn.size == size && m_drawn.smooth == smooth &&
        m_drawn.matrix == matrix) {
        copyVisible();
        return true;
    }
    const int pitch = BufferSizeLocked().width();
    const int chromaPitch = pitch / 2;
    const uchar* y = BufferData();
    const uchar* v = y + static_cast<std::ptrdiff_t>(pitch) * image.height();
    const uchar* u = y + static_cast<std::ptrdiff_t>(pitch) * image.height() * 5 / 4;
    const std::uint8_t* planes[3];
    std::int32_t steps[3];
    if (source.size() == size && source.x() % 2 == 0 && source.y() % 2 == 0) {
        // Unscaled: converted from the buffer itself.
        planes[0] = y + static_cast<std::ptrdiff_t>(source.y()) * pitch + source.x();
        planes[1] = u + static_cast<std::ptrdiff_t>(source.y() / 2) * chromaPitch + source.x() / 2;
        planes[2] = v + static_cast<std::ptrdiff_t>(source.y() / 2) * chromaPitch + source.x() / 2;
        steps[0] = pitch;
        steps[1] = steps[2] = chromaPitch;
    } else {
        const int w = size.width(), h = size.height();
        const int cw = (w + 1) / 2, ch = (h + 1) / 2;
        const int lumaStep = (w + 15) & ~15, chromaStep = (cw + 15) & ~15;
        const QSize chromaImage((image.width() + 1) / 2, (image.height() + 1) / 2);
        const int cx = source.x() / 2, cy = source.y() / 2;
        const QRect chromaSource(cx, cy, (source.x() + source.width() + 1) / 2 - cx,
                                 (source.y() + source.height() + 1) / 2 - cy);
        // A picture shrunk to half or less is first halved by 2 x 2 means (a
        // cheap pass that reads each sample once), then resized from there.
        const bool halve = smooth && w * 2 <= source.width() && h * 2 <= source.height() && source.width() >= 4 &&
                           source.height() >= 4;
        const int halfStep = (source.width() / 2 + 15) & ~15, halfChromaStep = (chromaSource.width() / 2 + 15) & ~15;
        const std::size_t halfNeed = halve ? static_cast<std::size_t>(halfStep) * (source.height() / 2) +
                                                 2 * static_cast<std::size_t>(halfChromaStep) * (chromaSource.height() / 2)
                                           : 0;
        const std::size_t outNeed = static_cast<std::size_t>(lumaStep) * h + 2 * static_cast<std::size_t>(chromaStep) * ch;
        if (scratch.size() < outNeed + halfNeed)
            scratch.resize(outNeed + halfNeed);
        std::uint8_t* out[3] = {scratch.data(), scratch.data() + static_cast<std::size_t>(lumaStep) * h,
                                scratch.data() + static_cast<std::size_t>(lumaStep) * h +
                                    static_cast<std::size_t>(chromaStep) * ch};
        std::uint8_t* half[3] = {scratch.data() + outNeed,
                                 scratch.data() + outNeed + static_cast<std::size_t>(halfStep) * (source.height() / 2),
                                 scratch.data() + outNeed + static_cast<std::size_t>(halfStep) * (source.height() / 2) +
                                     static_cast<std::size_t>(halfChromaStep) * (chromaSource.height() / 2)};
        struct Plane {
            const uchar* from;
            QSize whole;
            int step;
            QRect rect;
            QSize to;
            int toStep;
        };
        const Plane jobs[3] = {{y, image, pitch, source, size, lumaStep},
                               {u, chromaImage, chromaPitch, chromaSource, QSize(cw, ch), chromaStep},
                               {v, chromaImage, chromaPitch, chromaSource, QSize(cw, ch), chromaStep}};
        for (int k = 0; k < 3; ++k) {
            Plane job = jobs[k];
            if (halve) {
                const QSize halved(job.rect.width() / 2, job.rect.height() / 2);
                const int step = k == 0 ? halfStep : halfChromaStep;
                HalvePlane(job.from + static_cast<std::ptrdiff_t>(job.rect.y()) * job.step + job.rect.x(), job.step,
                           half[k], step, halved);
                if (halved == job.to) {
                    planes[k] = half[k];
                    steps[k] = step;
                    continue;
                }
                job.from = half[k];
                job.whole = halved;
                job.step = step;
                job.rect = QRect(QPoint(0, 0), halved);
            }
            const double fx = static_cast<double>(job.to.width()) / job.rect.width();
            const double fy = static_cast<double>(job.to.height()) / job.rect.height();
            // Shrinking by more than half averages what each pixel covers
            // (interpolation would skip samples); milder scaling
            // interpolates; unsmoothed pictures take the nearest sample.
            const std::int32_t mode = !smooth                   ? ResizeMode::Nearest
                                      : fx <= 0.5 && fy <= 0.5 ? ResizeMode::SuperSample
                                                               : ResizeMode::Linear;
            const ImageRect roi{job.rect.x(), job.rect.y(), job.rect.width(), job.rect.height()};
            if (ResizePlane_8u_C1R(job.from, ImageSize{job.whole.width(), job.whole.height()}, job.step, roi, out[k],
                                   job.toStep, ImageSize{job.to.width(), job.to.height()}, fx, fy, mode) < 0)
                return false;
            planes[k] = out[k];
            steps[k] = job.toStep;
        }
    }
    // The whole picture is made, kept, and its visible part copied.
    m_drawn.pixels.resize(row * static_cast<std::size_t>(size.height()));
    m_drawn.commits = ~0ull;
    if (ConvertYuv420ToBgra8uP3C4M(planes, steps, m_drawn.pixels.data(), static_cast<std::int32_t>(row),
                                   ImageSize{size.width(), size.height()}, matrix) < 0)
        return false;
    copyVisible();
    m_drawn.commits = commits;
    m_drawn.source = source;
    m_drawn.size = size;
    m_drawn.smooth = smooth;
    m_drawn.matrix = matrix;
    return true;
}

namespace {

// Premultiplied pixels over dst: src + dst (255 - a) / 255 per channel; a
// transparent source leaves dst as it is, an opaque one replaces it.
void BlendRun(const std::uint32_t* in, std::uint32_t* out, std::size_t count)
{
    std::size_t c = 0;
    while (c < count) {
        // Overlays are mostly empty: four transparent pixels at a time.
        if (c + 4 <= count && (in[c] | in[c + 1] | in[c + 2] | in[c + 3]) == 0) {
            c += 4;
            continue;
        }
        const std::uint32_t p = in[c];
        const std::uint32_t a = p >> 24;
        if (a == 255) {
            out[c] = p;
        } else if (p != 0) {
            const std::uint32_t keep = 255 - a, old = out[c];
            std::uint32_t result = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                const std::uint32_t value = ((p >> shift) & 0xFF) + (((old >> shift) & 0xFF) * keep + 127) / 255;
                result |= std::min<std::uint32_t>(value, 255) << shift;
            }
            out[c] = result;
        }
        ++c;
    }
}

}  // namespace

bool D3DTexture::DrawPacked(const std::vector<int>& columns, const std::vector<int>& rows, std::uint8_t* dst,
                            int dstPitch, bool blend)
{
    TakeChanges();
    std::lock_guard<std::mutex> lock(m_lock);
    const QSize buffer = BufferSizeLocked();
    if (PlanarLocked() || buffer.width() < 1 || buffer.height() < 1)
        return false;
    const std::size_t pitch = static_cast<std::size_t>(buffer.width()) * 4;
    // Unscaled columns (an overlay of the window's size) are read in a run.
    bool run = !columns.empty();
    for (std::size_t c = 1; c < columns.size() && run; ++c)
        run = columns[c] == columns[0] + static_cast<int>(c);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const auto* in = reinterpret_cast<const std::uint32_t*>(BufferData() + pitch * static_cast<std::size_t>(rows[r]));
        auto* out = reinterpret_cast<std::uint32_t*>(dst + static_cast<std::ptrdiff_t>(r) * dstPitch);
        if (!blend) {
            if (run) {
                std::memcpy(out, in + columns[0], columns.size() * 4);
                continue;
            }
            for (std::size_t c = 0; c < columns.size(); ++c)
                out[c] = in[columns[c]];
            continue;
        }
        if (run) {
            BlendRun(in + columns[0], out, columns.size());
            continue;
        }
        // Premultiplied colour over what is there: src + dst (255 - a) / 255.
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const std::uint32_t p = in[columns[c]];
            const std::uint32_t a = p >> 24;
            if (a == 255) {
                out[c] = p;
                continue;
            }
            if (p == 0)
                continue;
            const std::uint32_t keep = 255 - a, old = out[c];
            std::uint32_t result = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                const std::uint32_t value = ((p >> shift) & 0xFF) + (((old >> shift) & 0xFF) * keep + 127) / 255;
                result |= std::min<std::uint32_t>(value, 255) << shift;
            }
            out[c] = result;
        }
    }
    return true;
}

d3d::TexturePtr D3DTexture::GetDeviceTexture(bool smooth)
{
    TakeChanges();
    const QSize buffer = BufferSize();
    const bool planar = IsPlanar();
    std::lock_guard<std::mutex> lock(m_lock);
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
    m_staging->SetYuvMatrix(GetYuvMatrix());
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
    // The scene is drawn straight into the back buffer: presents copy it to
    // the front and leave it as it was, so what is not redrawn stays, and a
    // scene of its own would only add a copy of every presented pixel.
    Check(m_device->GetBackBuffer(m_scene));
    d3d::RenderState& state = m_device->State();
    state.destBlend = d3d::Blend::InvSrcAlpha;
    state.maxAnisotropy = m_device->GetDeviceCaps().maxAnisotropy;
    state.colorArg1 = d3d::Arg::Texture;
    state.alphaArg1 = d3d::Arg::Texture;
    // The sampler starts unfiltered; the filter state follows it. Nothing is
    // selected on the new or reset device.
    m_filter = false;
    m_bound = false;
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
    m_scissor = QRect();
    Check(m_device->SetRenderTarget(m_scene));
    Check(m_device->BeginScene());
}

void D3DRendererDevice::EndScene()
{
    Check(m_device->EndScene());
}

void D3DRendererDevice::SetBlendMode(int mode)
{
    m_blendMode = mode;
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
    m_projectionOfViewport = true;
}

bool D3DRendererDevice::DrawQuadDirect(const QRectF& target, const QRectF& source, std::uint32_t colour)
{
    if (!m_viewIdentity || !m_projectionOfViewport || !m_scene || m_viewport.width() < 1 || m_viewport.height() < 1)
        return false;
    // The pixels whose centres the quad covers, as the rasteriser decides
    // (the quad is drawn half a pixel up and left, left and top edges in).
    const int x0 = static_cast<int>(std::ceil(target.left() - 0.5));
    const int x1 = static_cast<int>(std::ceil(target.left() + target.width() - 0.5));
    const int y0 = static_cast<int>(std::ceil(target.top() - 0.5));
    const int y1 = static_cast<int>(std::ceil(target.top() + target.height() - 0.5));
    if (x0 >= x1 || y0 >= y1)
        return true;
    // The part inside the viewport and the scissor (viewport pixels).
    QRect clip(0, 0, m_viewport.width(), m_viewport.height());
    if (!m_scissor.isNull())
        clip &= m_scissor.translated(-m_viewport.topLeft());
    const int cx0 = std::max(x0, clip.left()), cy0 = std::max(y0, clip.top());
    const int cx1 = std::min(x1, clip.right() + 1), cy1 = std::min(y1, clip.bottom() + 1);
    if (cx0 >= cx1 || cy0 >= cy1)
        return true;
    const int pitch = m_scene->Pitch();
    std::uint8_t* dst = m_scene->Bits() + static_cast<std::ptrdiff_t>(m_viewport.top() + cy0) * pitch +
                        static_cast<std::ptrdiff_t>(m_viewport.left() + cx0) * 4;
    const QSize size(cx1 - cx0, cy1 - cy0);
    if (!m_selected) {
        if (m_blendMode != 0)
            return false;
        FillColour(dst, pitch, size, colour);
        return true;
    }
    auto* texture = dynamic_cast<D3DTexture*>(m_selected.get());
    if (texture == nullptr)
        return false;
    const QSize buffer = texture->BufferSize();
    const QSize image = texture->GetImageSize();
    if (buffer.width() < 1 || buffer.height() < 1 || image.width() < 1 || image.height() < 1) {
        // A texture without an image is transparent black: it replaces with
        // nothing, and covers nothing when blended premultiplied.
        if (m_blendMode == 1)
            return false;
        if (m_blendMode == 0)
            FillColour(dst, pitch, size, 0);
        return true;
    }
    if (texture->IsPlanar()) {
        // Opaque pictures only: a picture faded over another is blended by
        // the rasteriser.
        if (!(m_blendMode == 0 || (m_blendMode == 1 && colour >> 24 == 255)))
            return false;
        const double sx = source.x() * buffer.width(), sy = source.y() * buffer.height();
        const double sw = source.width() * buffer.width(), sh = source.height() * buffer.height();
        const QRect texels(static_cast<int>(std::lround(sx)), static_cast<int>(std::lround(sy)),
                           static_cast<int>(std::lround(sw)), static_cast<int>(std::lround(sh)));
        // Whole texels only (a zoomed view may start inside one).
        const double slack = 0.01;
        if (std::abs(sx - texels.x()) > slack || std::abs(sy - texels.y()) > slack ||
            std::abs(sw - texels.width()) > slack || std::abs(sh - texels.height()) > slack || texels.isEmpty())
            return false;
        return texture->DrawPlanar(texels, QSize(x1 - x0, y1 - y0), QRect(QPoint(cx0 - x0, cy0 - y0), size), dst,
                                   pitch, m_selectedSmooth, m_scratch);
    }
    if (m_selectedSmooth || m_blendMode == 1)
        return false;
    // Point sampling at each pixel's centre, wrapping like the device.
    auto texel = [](double t, int extent) {
        const double wrapped = t - std::floor(t);
        return std::min(extent - 1, static_cast<int>(wrapped * extent));
    };
    m_columns.resize(static_cast<std::size_t>(size.width()));
    for (int i = 0; i < size.width(); ++i)
        m_columns[static_cast<std::size_t>(i)] =
            texel(source.x() + (cx0 + i + 0.5 - target.left()) / target.width() * source.width(), buffer.width());
    m_rows.resize(static_cast<std::size_t>(size.height()));
    for (int i = 0; i < size.height(); ++i)
        m_rows[static_cast<std::size_t>(i)] =
            texel(source.y() + (cy0 + i + 0.5 - target.top()) / target.height() * source.height(), buffer.height());
    return texture->DrawPacked(m_columns, m_rows, dst, pitch, m_blendMode == 2);
}

void D3DRendererDevice::DrawQuad(const QRectF& target, const QRectF& source, std::uint32_t colour, int rotation)
{
    if (((rotation / 90) % 4 + 4) % 4 == 0 && DrawQuadDirect(target, source, colour))
        return;
    BindDeviceTexture();
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
    BindDeviceTexture();
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
    if (m_device->GetBackBuffer(back) != d3d::Result::Ok) {
        DebugOutput("StretchRect failed");
        return;
    }
    // The scene is the back buffer (see Create): nothing to copy.
    if (back == m_scene)
        return;
    if (m_device->StretchRect(m_scene, &rect, back, &rect, d3d::Filter::None) != d3d::Result::Ok)
        DebugOutput("StretchRect failed");
}

void D3DRendererDevice::AttachWindow(QWidget* window)
{
    m_window = window;
    if (window == nullptr)
        return;
    auto front = std::make_shared<SoftwareFront>();
    front->device = m_device;
    std::atomic_store(&m_front, front);
    // The painter lives on the window's thread; installed from there. A
    // native surface (no Qt paint engine) paints itself through PaintFront.
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
    if (!front || !front->presented)
        return QImage();
    std::lock_guard<std::mutex> lock(front->device->FrontLock());
    const QSize size = front->device->FrontSize();
    return QImage(front->device->Front().data(), size.width(), size.height(), size.width() * 4, QImage::Format_RGB32)
        .copy();
}

QRegion D3DRendererDevice::PaintFront(QPainter& painter, const QRegion& region) const
{
    const std::shared_ptr<SoftwareFront> front = std::atomic_load(&m_front);
    return front ? front->Paint(painter, region) : region;
}

bool D3DRendererDevice::Present(const QRect& rect)
{
    if (m_device->Present(rect) != d3d::Result::Ok) {
        m_ready = false;
        return false;
    }
    if (!m_front)
        return m_ready;
    const QRect updated = rect & QRect(QPoint(0, 0), m_device->FrontSize());
    m_front->presented = true;
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
    m_selected = std::move(texture);
    m_selectedSmooth = smooth;
    m_bound = false;
}

void D3DRendererDevice::BindDeviceTexture()
{
    if (m_bound)
        return;
    d3d::TexturePtr deviceTexture;
    if (auto* ours = dynamic_cast<D3DTexture*>(m_selected.get())) {
        deviceTexture = ours->GetDeviceTexture(m_selectedSmooth);
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
    m_bound = true;
}

void D3DRendererDevice::PushState()
{
    m_savedProjection = m_projection;
    m_savedView = m_view;
    m_savedViewport = m_viewport;
    m_savedViewIdentity = m_viewIdentity;
    m_savedProjectionOfViewport = m_projectionOfViewport;
}

void D3DRendererDevice::PopState()
{
    SetTransform(m_savedProjection, 1);
    SetTransform(m_savedView, 0);
    ApplyViewport(m_savedViewport);
    m_viewIdentity = m_savedViewIdentity;
    m_projectionOfViewport = m_savedProjectionOfViewport;
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
        m_projectionOfViewport = false;
    } else {
        m_device->SetViewTransform(transposed);
        m_view = matrix;
        m_viewIdentity = matrix == kIdentity;
    }
}

}  // namespace render
