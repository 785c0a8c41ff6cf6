#include "render/RendererPin.h"

#include <algorithm>
#include <cmath>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/make_shared.hpp>

#include "config/ApplicationTexts.h"
#include "config/QApplicationSettings.h"
#include "base/PtimeConversion.h"
#include "base/VideoFrame.h"
#include "render/BasicRenderer.h"
#include "render/Dewarper.h"
#include "render/ImagePlacement.h"

namespace render {

namespace {

using Guard = boost::lock_guard<boost::mutex>;

}  // namespace

// --- RendererPin ----------------------------------------------------------------

RendererPin::RendererPin(BasicRenderer* renderer, int index)
    : m_renderer(renderer), m_index(index), m_titles(boost::make_shared<Titles>(index))
{
}

void RendererPin::OnSample()
{
    m_updated = true;
    m_renderer->InvalidatePin(*this);
}

QRectF RendererPin::GetViewRect() const
{
    return m_viewRect;
}

QRectF RendererPin::GetImageRect() const
{
    return m_imageRect;
}

QRect RendererPin::GetRect() const
{
    return m_rect;
}

QSize RendererPin::GetDisplaySize() const
{
    const std::uint64_t packed = m_displaySize;
    return QSize(static_cast<std::int32_t>(packed >> 32), static_cast<std::int32_t>(packed & 0xFFFFFFFFu));
}

void RendererPin::SetDisplaySize(const QSize& size)
{
    m_displaySize = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(size.width())) << 32) |
                    static_cast<std::uint32_t>(size.height());
}

void RendererPin::SetRotation(int degrees)
{
    m_rotation = degrees;
}

// --- MediaSample ----------------------------------------------------------------

uchar* MediaSample::GetBuffer(const QSize& size, int& bytesPerLine, bool planar)
{
    return m_texture ? m_texture->GetBuffer(size, bytesPerLine, planar) : nullptr;
}

void MediaSample::Commit()
{
    if (m_texture)
        m_texture->Commit();
}

void MediaSample::SetYuvMatrix(platform::YuvMatrix matrix)
{
    if (m_texture)
        m_texture->SetYuvMatrix(matrix);
}

bool MediaSample::AcceptFrame(VideoFrame* frame)
{
    ReleaseVideoFrame(frame);
    return false;
}

bool MediaSample::SupportsPlanar()
{
    return m_texture && m_texture->SupportsPlanar();
}

// --- MediaSamplePin ---------------------------------------------------------------

MediaSamplePin::MediaSamplePin(BasicRenderer* renderer, int index) : RendererPin(renderer, index)
{
    const std::wstring format = TimestampFormat().toStdWString();
    // The locale owns the facet.
    m_timeLocale = std::locale(std::locale(), new boost::posix_time::wtime_facet(format.c_str()));
    m_timeStream.imbue(m_timeLocale);
    m_sample.SetTexture(renderer->GetDevice()->CreateTexture(QSize(16, 16),
                                                             QApplicationSettings::Instance().Antialiasing));
}

MediaSamplePin::~MediaSamplePin() = default;

void MediaSamplePin::OnSample()
{
    m_hasFrame = true;
    m_renderer->InvalidatePin(*this);
    m_updated = true;
    UpdateTimeTitle(m_sample.GetTime());
}

void MediaSamplePin::UpdateTimeTitle(std::int64_t time)
{
    m_timeStream.str(std::wstring());
    m_timeStream << utils::ShiftPtime(utils::PtimeFromMilliseconds(time), m_sample.GetTimeOffset());
    m_titles->SetTitleText(1, m_timeStream.str());
}

void MediaSamplePin::SetRect(const QRect& rect)
{
    Guard lock(m_renderer->GetLock());
    m_rect = rect;
    m_viewRect = ConstrainViewRect(m_viewRect);
}

void MediaSamplePin::SetViewRect(const QRectF& rect)
{
    Guard lock(m_renderer->GetLock());
    m_viewRect = ConstrainViewRect(rect);
}

QSizeF MediaSamplePin::FrameDisplaySize(const TexturePtr& texture) const
{
    QSize frame = texture ? texture->GetImageSize() : QSize(-1, -1);
    if (const Dewarper* d = GetDewarper(); d != nullptr && m_displayMode == 1)
        frame = d->position == 1 ? QSize(8, 3) : 3 * m_rect.width() >= 16 * m_rect.height() ? QSize(16, 3) : QSize(4, 3);
    return FitAspect(QSizeF(m_rect.width(), m_rect.height()), frame, m_rotation);
}

Dewarper* MediaSamplePin::GetDewarper() const
{
    return m_lens != 0 ? m_dewarper.get() : nullptr;
}

void MediaSamplePin::SetDewarping(int lens, int position, int display, const QRectF& circle)
{
    {
        Guard lock(m_renderer->GetLock());
        if (lens == m_lens &&
            (lens == 0 || (m_dewarper && position == m_dewarper->position && display == m_displayMode)))
            return;
        m_lens = lens;
        if (lens != 0) {
            if (!m_dewarper)
                m_dewarper = std::make_unique<Dewarper>();
            m_dewarper->lens = lens;
            m_dewarper->position = position;
            m_dewarper->circle = circle;
            m_dewarper->rebuild = true;
            m_displayMode = display;
        }
    }
    SetViewRect(QRectF(0, 0, 1, 1));
    m_renderer->InvalidateRect(GetRect());
}

QRectF MediaSamplePin::ConstrainViewRect(const QRectF& v)
{
    const TexturePtr texture = m_sample.GetTexture();
    if (!texture || m_rect.isEmpty())
        return v;
    const Dewarper* d = GetDewarper();
    if (d != nullptr)
        m_imageRect = QRectF(0, 0, m_rect.width(), m_rect.height());
    const QSizeF f = FrameDisplaySize(texture);
    QRectF base(m_rect);
    if (d != nullptr) {
        base = QRectF(QPointF(0, 0), f);
        base.moveCenter(QRectF(m_rect).center());
    }
    const QSizeF z(v.width() * f.width(), v.height() * f.height());
    SetDisplaySize(QSize(static_cast<int>(std::lround(z.width())), static_cast<int>(std::lround(z.height()))));
    if (d != nullptr && m_displayMode == 0)
        return d->ConstrainView(m_rect, v);
    const QRectF m(base.topLeft() + QPointF(v.left() * base.width(), v.top() * base.height()),
                   base.topLeft() + QPointF(v.right() * base.width(), v.bottom() * base.height()));
    QRectF img(QPointF(0, 0), z);
    img.moveCenter(m.center());
    QRectF vis(QPointF(0, 0), QSizeF(std::min<double>(m_rect.width(), z.width()),
                                     std::min<double>(m_rect.height(), z.height())));
    vis.moveCenter(base.center());
    const QPointF lo(std::min(0.0, vis.left() - img.left()), std::min(0.0, vis.top() - img.top()));
    const QPointF hi(vis.right() - img.right(), vis.bottom() - img.bottom());
    QPointF shift(std::max(lo.x(), hi.x()), std::max(lo.y(), hi.y()));
    // A ring panorama may leave a gap at the sides.
    if (d != nullptr && d->position != 1)
        shift.setX(0);
    if (d == nullptr)
        m_imageRect = img.translated(shift.x() - m_rect.left(), shift.y() - m_rect.top());
    if (base.width() <= 0 || base.height() <= 0)
        return v;
    return v.translated(shift.x() / base.width(), shift.y() / base.height());
}

QPointF MediaSamplePin::MapToFrame(const QPointF& point, const QRectF& view, int c) const
{
    if (const Dewarper* d = GetDewarper()) {
        if (m_displayMode == 0) {
            const double t = c == 0 ? 0.0 : c == 1 ? 1.0 : std::clamp((view.width() - 1) * 2, 0.0, 1.0);
            return d->MapPoint(point, m_rect, view, t);
        }
        QRectF box(QPointF(0, 0), FrameDisplaySize(TexturePtr()));
        box.moveCenter(QRectF(m_rect).center());
        return QPointF((m_rect.left() + point.x() - box.x()) / box.width(),
                       (m_rect.top() + point.y() - box.y()) / box.height());
    }
    return QPointF(point.x() / m_rect.width(), point.y() / m_rect.height());
}

QRectF MediaSamplePin::ComputeZoomRect(const QPointF& from, const QPointF& to, const QSizeF& size)
{
    Guard lock(m_renderer->GetLock());
    const QRectF view = m_viewRect;
    const double w = view.width();
    const int c = size.width() == w ? (w >= 1.5 ? 1 : 0) : (size.width() < 1.5 || w < 1.5 ? 2 : 0);
    const QPointF a = MapToFrame(from, view, c);
    if (const Dewarper* d = GetDewarper(); d != nullptr && m_displayMode == 0)
        return d->ZoomSearch(m_rect, view, size, from, to,
                             [&](const QPointF& p, const QRectF& v) { return MapToFrame(p, v, c); });
    const QPointF b = MapToFrame(to, view, c);
    return QRectF(b.x() - (a.x() - view.x()) / view.width() * size.width(),
                  b.y() - (a.y() - view.y()) / view.height() * size.height(), size.width(), size.height());
}

}  // namespace render
