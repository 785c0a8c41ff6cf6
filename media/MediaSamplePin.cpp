#include "media/MediaSamplePin.h"

#include "media/MediaSample.h"
#include "media/MediaSampleTitles.h"

namespace render {

MediaSamplePin::MediaSamplePin(std::shared_ptr<IMediaSample> sample) : m_sample(std::move(sample)) {}

void MediaSamplePin::SetTargetSize(int32_t width, int32_t height) {
    m_width = width;
    m_height = height;
}

void MediaSamplePin::SetTitles(const boost::shared_ptr<Titles>& titles) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_titles = titles;
}

boost::shared_ptr<Titles> MediaSamplePin::GetTitles() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_titles.lock();
}

void MediaSamplePin::SetRedrawRequest(std::function<void()> request) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_redraw = std::move(request);
}

void MediaSamplePin::FrameReady() {
    m_newFrame = true;
    ++m_frameReady;
    std::function<void()> redraw;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        redraw = m_redraw;
    }
    if (redraw) redraw();
}

}  // namespace render
