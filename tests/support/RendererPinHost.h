#pragma once
// A renderer over the recording device with one frame pin, for tests of the
// code that decodes frames into a renderer pin. onFrame runs on the thread
// that reports each frame (the source pin's), after the picture and its time
// are in the pin's sample.

#include <atomic>
#include <functional>

#include <boost/make_shared.hpp>

#include "render/BasicRenderer.h"
#include "support/RecordingDevice.h"

namespace testsupport {

class RendererPinHost : public render::BasicRenderer {
public:
    // planar: whether the pin's texture takes YV12 buffers; failing: its
    // buffers throw (no memory for a picture).
    explicit RendererPinHost(bool planar = true, bool failing = false) : BasicRenderer(MakeDevice(planar, failing))
    {
        m_pin = boost::dynamic_pointer_cast<render::MediaSamplePin>(AddPin());
    }
    ~RendererPinHost() override { Stop(); }

    const boost::shared_ptr<render::MediaSamplePin>& Pin() const { return m_pin; }
    // Frames the pin reported.
    int Frames() const { return m_frames; }
    // Set before frames arrive.
    std::function<void()> onFrame;

    void InvalidateAll() override
    {
        ++m_frames;
        if (onFrame)
            onFrame();
        BasicRenderer::InvalidateAll();
    }
    QRectF ComputeZoomRect(int, const QPointF& from, const QPointF& to, const QSizeF& size) override
    {
        return m_pin->ComputeZoomRect(from, to, size);
    }

protected:
    render::RendererPinPtr CreatePin(int index) override
    {
        return boost::make_shared<render::MediaSamplePin>(this, index);
    }

private:
    static render::DevicePtr MakeDevice(bool planar, bool failing)
    {
        auto device = boost::make_shared<RecordingDevice>();
        device->supportsPlanar = planar;
        device->buffersThrow = failing;
        return device;
    }

    boost::shared_ptr<render::MediaSamplePin> m_pin;
    std::atomic<int> m_frames{0};
};

}  // namespace testsupport
