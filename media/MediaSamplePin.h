#pragma once
// The renderer's pin of one channel, as the source pin sees it: the size the
// channel is shown at, the sample that receives its pictures, its titles set
// and the notice that the sample holds a new frame.
//
// Threads: the source pin's thread calls FrameReady and reads the target
// size; the renderer and the controller set the size and the callback.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

namespace render {

class IMediaSample;
class Titles;

class MediaSamplePin {
public:
    // The pin shares the sample with the renderer.
    explicit MediaSamplePin(std::shared_ptr<IMediaSample> sample);

    const std::shared_ptr<IMediaSample>& GetSample() const { return m_sample; }

    void SetTargetSize(int32_t width, int32_t height);
    int32_t GetTargetWidth() const { return m_width.load(); }
    int32_t GetTargetHeight() const { return m_height.load(); }

    // Kept as a weak reference: the channel's player owns the set.
    void SetTitles(const boost::shared_ptr<Titles>& titles);
    boost::shared_ptr<Titles> GetTitles() const;

    int32_t GetRotation() const { return m_rotation.load(); }
    void SetRotation(int32_t degrees) { m_rotation = degrees; }

    // The sample holds a new frame: counted, and the redraw request (when
    // set) is called on the caller's thread.
    void FrameReady();
    uint64_t GetFrameReadyCount() const { return m_frameReady.load(); }
    bool HasNewFrame() const { return m_newFrame.load(); }
    // The renderer took the frame.
    void ClearNewFrame() { m_newFrame = false; }
    void SetRedrawRequest(std::function<void()> request);

private:
    std::shared_ptr<IMediaSample> m_sample;
    std::atomic<int32_t> m_width{-1};
    std::atomic<int32_t> m_height{-1};
    std::atomic<int32_t> m_rotation{0};
    std::atomic<uint64_t> m_frameReady{0};
    std::atomic<bool> m_newFrame{false};
    mutable std::mutex m_lock;  // guards the titles and the request
    boost::weak_ptr<Titles> m_titles;
    std::function<void()> m_redraw;
};

}  // namespace render
