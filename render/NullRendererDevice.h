#pragma once
// A device that accepts every call and draws nothing: its first Create makes
// it ready, every present succeeds, its textures hold no image and give no
// buffer. Used without a display (windowless runs, tests).

#include <atomic>

#include "render/RendererDevice.h"

namespace render {

class NullTexture : public ITexture {
public:
    void Release() override {}
    void Restore() override {}
    uchar* GetBuffer(const QSize&, int&, bool) override { return nullptr; }
    void Commit() override {}
    void ReadPixels(const QRect&, uchar*, int) override {}
    QRectF GetSourceRect() override { return QRectF(0, 0, 0, 0); }
    QSize GetImageSize() override { return QSize(-1, -1); }
    bool SupportsPlanar() override { return false; }
    void Update(const uchar*, const QSize&, int, const std::vector<QRect>*) override {}
};

class NullRendererDevice : public IRendererDevice {
public:
    bool IsReady() override { return m_ready; }
    void Create(QWidget*, const QSize&, bool& created) override
    {
        m_ready = true;
        created = true;
    }
    void Resize(const QSize&) override {}
    std::string GetDescription() override { return std::string(); }
    void BeginScene() override {}
    void EndScene() override {}
    void SetBlendMode(int) override {}
    void SetViewport(const QRect&) override {}
    void DrawQuad(const QRectF&, const QRectF&, std::uint32_t, int) override {}
    void DrawStrip(const void*, int) override {}
    void ConvertVertices(const std::vector<MeshVertex>&, std::vector<std::uint8_t>& out) override { out.clear(); }
    void CopyToBackBuffer(const QRect&) override {}
    bool Present(const QRect&) override { return true; }
    void ReadPixels(const QRect&, uchar*, int) override {}
    TexturePtr CreateTexture(const QSize& granularity, bool smooth) override;
    void SetTexture(TexturePtr, bool) override {}
    void PushState() override {}
    void PopState() override {}
    void SetTransform(const Matrix4x4&, int) override {}

private:
    std::atomic<bool> m_ready{false};
};

}  // namespace render
