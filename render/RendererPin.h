#pragma once
// The renderer's end of one played channel: where it is drawn, how the frame
// sits in it (view rectangle for zoom and pan, rotation, shade) and its title
// overlays. MediaSamplePin receives decoded frames through its MediaSample,
// which writes into a device texture.
//
// Threads: OnSample and the sample's buffer operations run on a source pin's
// thread; drawing reads the pin on the render thread with the renderer lock
// held; SetRect and SetViewRect run on the GUI thread. The geometry fields
// are written under the renderer lock and the shade and rotation are atomic,
// so the render thread never sees them torn.

#include <atomic>
#include <memory>
#include <cstdint>
#include <locale>
#include <sstream>

#include <QRect>
#include <QRectF>
#include <QSize>

#include "render/IMediaSample.h"
#include "render/RendererDevice.h"
#include "render/Titles.h"

namespace render {

class BasicRenderer;
class Dewarper;

class RendererPin {
public:
    RendererPin(BasicRenderer* renderer, int index);
    virtual ~RendererPin() {}

    // A frame arrived: sets the updated flag and invalidates the output.
    virtual void OnSample();
    virtual TexturePtr GetTexture() { return TexturePtr(); }
    virtual TexturePtr GetUnderlayTexture() { return TexturePtr(); }
    virtual void SetViewRect(const QRectF& rect) = 0;
    virtual void SetRect(const QRect& rect) = 0;

    TitlesPtr GetTitles() const { return m_titles; }
    int GetIndex() const { return m_index; }

    // Geometry (see the class comment for the threads).
    QRectF GetViewRect() const;
    QRectF GetImageRect() const;
    QRect GetRect() const;
    // Any thread (source pins ask for pictures of this size).
    QSize GetDisplaySize() const;
    int GetRotation() const { return m_rotation; }
    void SetRotation(int degrees);
    int GetShade() const { return m_shade; }
    void SetShade(int value) { m_shade = value; }
    bool IsUpdated() const { return m_updated; }

protected:
    BasicRenderer* m_renderer;
    // Written under the renderer lock.
    QRectF m_viewRect{0, 0, 1, 1};
    QRectF m_imageRect{0, 0, 0, 0};
    void SetDisplaySize(const QSize& size);
    // Width in the high half, height in the low half, so readers on other
    // threads see both from one write.
    std::atomic<std::uint64_t> m_displaySize{0xFFFFFFFFFFFFFFFFull};
    QRect m_rect;  // null until placed
    std::atomic<int> m_rotation{0};
    const int m_index;
    std::atomic<int> m_shade{0};
    TitlesPtr m_titles;
    std::atomic<bool> m_updated{false};
};

using RendererPinPtr = boost::shared_ptr<RendererPin>;

// The renderer's sample: buffers are the pin texture's.
class MediaSample : public IMediaSample {
public:
    uchar* GetBuffer(const QSize& size, int& bytesPerLine, bool planar) override;
    void Commit() override;
    void SetTime(std::int64_t time) override { m_time = time; }
    std::int64_t GetTime() override { return m_time; }
    // The pin owns its titles.
    void SetTitles(const boost::shared_ptr<Titles>&) override {}
    void SetSigned(bool isSigned) override { m_signed = isSigned ? 1 : 0; }
    bool IsSigned() const { return m_signed != 0; }
    bool AcceptFrame(VideoFrame* frame) override;
    bool SupportsPlanar() override;
    void SetTimeOffset(int seconds) override { m_timeOffset = seconds; }
    int GetTimeOffset() override { return m_timeOffset; }
    void SetYuvMatrix(platform::YuvMatrix matrix) override;

    TexturePtr GetTexture() const { return m_texture; }
    void SetTexture(const TexturePtr& texture) { m_texture = texture; }

private:
    TexturePtr m_texture;
    std::atomic<std::int64_t> m_time{0};
    std::atomic<int> m_signed{0};
    std::atomic<int> m_timeOffset{0};
};

class MediaSamplePin : public RendererPin {
public:
    // Creates the sample's texture through the renderer's device (16 x 16
    // granularity, smoothing from the Antialiasing setting).
    MediaSamplePin(BasicRenderer* renderer, int index);
    ~MediaSamplePin() override;

    void OnSample() override;
    TexturePtr GetTexture() override { return m_sample.GetTexture(); }
    TexturePtr GetUnderlayTexture() override { return m_sample.GetTexture(); }
    void SetViewRect(const QRectF& rect) override;
    void SetRect(const QRect& rect) override;

    MediaSample& GetSample() { return m_sample; }
    bool HasFrame() const { return m_hasFrame; }
    void ClearHasFrame() { m_hasFrame = false; }

    // Title 1 becomes the time in the sample's time zone.
    void UpdateTimeTitle(std::int64_t time);
    // The frame's display size inside the pin (aspect and rotation applied).
    QSizeF FrameDisplaySize(const TexturePtr& texture) const;
    // The view rectangle to keep for V: an image smaller than the pin is
    // centred, a zoomed image never leaves a gap at the pin's edges. Updates
    // the image rectangle and the display size (renderer lock held).
    QRectF ConstrainViewRect(const QRectF& view);
    // The view rectangle of `size` that shows at `to` the frame point that
    // the current view shows at `from` (pin-local pixels).
    QRectF ComputeZoomRect(const QPointF& from, const QPointF& to, const QSizeF& size);

    // Dewarping from the channel's camera settings (GUI thread): lens 0 is
    // off; a change marks the meshes for rebuilding from the next frame and
    // resets the view. A new circle alone changes nothing.
    void SetDewarping(int lens, int position, int display, const QRectF& circle);
    // The dewarper while dewarping is on, else null (renderer lock held).
    Dewarper* GetDewarper() const;
    // 0 view, 1 panorama.
    int GetDisplayMode() const { return m_displayMode; }

private:
    // The frame point under a pin point for a view; c picks the dewarped
    // view's blend of sphere and plane (0 sphere, 1 plane, 2 by zoom).
    QPointF MapToFrame(const QPointF& point, const QRectF& view, int c) const;

    MediaSample m_sample;
    std::locale m_timeLocale;
    std::wostringstream m_timeStream;
    std::atomic<bool> m_hasFrame{false};
    // Written under the renderer lock.
    int m_lens = 0;
    int m_displayMode = 0;
    std::unique_ptr<Dewarper> m_dewarper;
};

}  // namespace render
