#pragma once
// A renderer device for tests: records every call as a line of text, keeps
// its textures' pixels in system memory (32-bit and YV12 buffers) and can be
// told to fail in the ways real devices do (creation throws or is refused,
// a present loses the device, a draw or read-back throws, a present waits
// for the test).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <QRect>
#include <QRectF>
#include <QSize>
#include <boost/make_shared.hpp>

#include "render/MemoryTexture.h"
#include "render/RendererDevice.h"

namespace testsupport {

inline std::string Text(const QRect& r)
{
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + "," + std::to_string(r.width()) + "x" +
           std::to_string(r.height());
}

inline std::string Text(const QRectF& r)
{
    auto n = [](double v) {
        std::string s = std::to_string(v);
        s.erase(s.find_last_not_of('0') + 1);
        if (!s.empty() && s.back() == '.')
            s.pop_back();
        return s;
    };
    return n(r.x()) + "," + n(r.y()) + "," + n(r.width()) + "x" + n(r.height());
}

// A texture without memory for pictures.
class FailingTexture : public render::MemoryTexture {
public:
    using MemoryTexture::MemoryTexture;
    uchar* GetBuffer(const QSize&, int&, bool) override { throw std::runtime_error("no memory for the picture"); }
};

class RecordingDevice : public render::IRendererDevice {
public:
    enum class CreateMode { New, Reset, NotReady, Throw };

    std::atomic<CreateMode> createMode{CreateMode::New};
    std::atomic<bool> supportsPlanar{true};
    std::atomic<int> drawQuadThrows{0};      // the next n DrawQuad calls throw
    std::atomic<bool> readPixelsThrows{false};
    std::atomic<int> presentFails{0};        // the next n presents lose the device
    std::atomic<bool> holdPresent{false};    // Present waits until ReleasePresent
    std::atomic<bool> buffersThrow{false};   // new textures throw from GetBuffer
    QSize backBuffer{0, 0};

    // Lines recorded so far.
    std::vector<std::string> Calls()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_calls;
    }
    void ClearCalls()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_calls.clear();
    }
    int Count(const std::string& prefix)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        int n = 0;
        for (const std::string& call : m_calls)
            n += call.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }
    // Polls until pred holds or the time is up; the result of pred.
    template <class Pred>
    static bool WaitFor(Pred pred, int milliseconds = 5000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    int Scenes() const { return m_scenes; }
    bool PresentWaiting() const { return m_presentWaiting; }
    // Lets a held Present return `result`.
    void ReleasePresent(bool result)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_presentResult = result;
        holdPresent = false;
        m_presentCondition.notify_all();
    }
    void Lose() { m_ready = false; }

    bool IsReady() override { return m_ready; }
    void Create(QWidget*, const QSize& size, bool& created) override
    {
        Record("Create " + std::to_string(size.width()) + "x" + std::to_string(size.height()));
        switch (createMode.load()) {
        case CreateMode::Throw:
            throw std::runtime_error("no device");
        case CreateMode::NotReady:
            return;
        case CreateMode::Reset:
            created = false;
            break;
        case CreateMode::New:
            created = true;
            break;
        }
        backBuffer = size;
        m_ready = true;
    }
    void Resize(const QSize& size) override
    {
        Record("Resize " + std::to_string(size.width()) + "x" + std::to_string(size.height()));
        if (size.width() > backBuffer.width() || size.height() > backBuffer.height())
            m_ready = false;
    }
    std::string GetDescription() override { return "recording device"; }
    void BeginScene() override
    {
        ++m_scenes;
        Record("BeginScene");
    }
    void EndScene() override { Record("EndScene"); }
    void SetBlendMode(int mode) override { Record("SetBlendMode " + std::to_string(mode)); }
    void SetViewport(const QRect& rect) override { Record("SetViewport " + Text(rect)); }
    void DrawQuad(const QRectF& target, const QRectF& source, std::uint32_t colour, int rotation) override
    {
        char c[16];
        std::snprintf(c, sizeof c, "%08X", colour);
        Record("DrawQuad " + Text(target) + " " + Text(source) + " " + c + " " + std::to_string(rotation));
        if (drawQuadThrows > 0) {
            --drawQuadThrows;
            throw std::runtime_error("draw failed");
        }
    }
    void DrawStrip(const void*, int byteCount) override { Record("DrawStrip " + std::to_string(byteCount)); }
    void ConvertVertices(const std::vector<render::MeshVertex>& vertices, std::vector<std::uint8_t>& out) override
    {
        out.assign(vertices.size() * 24, 0);
    }
    void CopyToBackBuffer(const QRect& rect) override { Record("CopyToBackBuffer " + Text(rect)); }
    bool Present(const QRect& rect) override
    {
        Record("Present " + Text(rect));
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_presentWaiting = true;
            m_presentCondition.wait(lock, [this] { return !holdPresent; });
            m_presentWaiting = false;
            if (!m_presentResult) {
                m_presentResult = true;
                m_ready = false;
                return false;
            }
        }
        if (presentFails > 0) {
            --presentFails;
            m_ready = false;
            return false;
        }
        return true;
    }
    // Every pixel reads as the number of the last scene begun (opaque).
    void ReadPixels(const QRect& rect, uchar* dst, int bytesPerLine) override
    {
        Record("ReadPixels " + Text(rect));
        if (readPixelsThrows)
            throw std::runtime_error("read-back failed");
        for (int y = 0; y < rect.height(); ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(dst + static_cast<std::ptrdiff_t>(y) * bytesPerLine);
            for (int x = 0; x < rect.width(); ++x)
                row[x] = 0xFF000000u | static_cast<std::uint32_t>(m_scenes.load());
        }
    }
    render::TexturePtr CreateTexture(const QSize& granularity, bool smooth) override
    {
        Record("CreateTexture " + std::to_string(granularity.width()) + "x" + std::to_string(granularity.height()) +
               (smooth ? " smooth" : ""));
        boost::shared_ptr<render::MemoryTexture> texture =
            buffersThrow ? boost::make_shared<FailingTexture>(granularity, supportsPlanar.load())
                         : boost::make_shared<render::MemoryTexture>(granularity, supportsPlanar.load());
        std::lock_guard<std::mutex> lock(m_lock);
        m_textures.push_back(texture);
        return texture;
    }
    void SetTexture(render::TexturePtr texture, bool smooth) override
    {
        Record(std::string("SetTexture ") + (texture ? "texture" : "none") + (smooth ? " smooth" : ""));
    }
    void PushState() override { Record("PushState"); }
    void PopState() override { Record("PopState"); }
    void SetTransform(const render::Matrix4x4&, int kind) override { Record("SetTransform " + std::to_string(kind)); }

    std::vector<boost::shared_ptr<render::MemoryTexture>> Textures()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_textures;
    }

private:
    void Record(const std::string& line)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_calls.push_back(line);
    }

    std::mutex m_lock;
    std::condition_variable m_presentCondition;
    std::vector<std::string> m_calls;
    std::vector<boost::shared_ptr<render::MemoryTexture>> m_textures;
    std::atomic<bool> m_ready{false};
    std::atomic<int> m_scenes{0};
    std::atomic<bool> m_presentWaiting{false};
    bool m_presentResult = true;
};

}  // namespace testsupport
