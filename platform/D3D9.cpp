#include "platform/D3D9.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

namespace platform::d3d9 {

namespace {

bool Packed(Format f) { return f == Format::A8R8G8B8 || f == Format::X8R8G8B8; }

struct Colour {
    float b, g, r, a;  // 0..1
};

Colour Unpack(std::uint32_t p)
{
    return {static_cast<float>(p & 0xFF) / 255.f, static_cast<float>((p >> 8) & 0xFF) / 255.f,
            static_cast<float>((p >> 16) & 0xFF) / 255.f, static_cast<float>(p >> 24) / 255.f};
}

// Rounds half away from zero, as lround does, without the library call: the
// fraction of a float below 256 is exact.
std::uint32_t Channel(float v)
{
    const float x = std::clamp(v, 0.f, 1.f) * 255.f;
    const auto whole = static_cast<std::uint32_t>(x);
    return whole + (x - static_cast<float>(whole) >= 0.5f ? 1u : 0u);
}

std::uint32_t Pack(const Colour& c)
{
    return Channel(c.b) | Channel(c.g) << 8 | Channel(c.r) << 16 | Channel(c.a) << 24;
}

Colour Mix(const Colour& x, const Colour& y, float t)
{
    return {x.b + (y.b - x.b) * t, x.g + (y.g - x.g) * t, x.r + (y.r - x.r) * t, x.a + (y.a - x.a) * t};
}

// A vertex in clip space with the attributes the rasteriser interpolates.
struct ClipVertex {
    std::array<float, 4> pos;  // x, y, z, w
    std::array<float, 6> attr;  // b, g, r, a, u, v
};

ClipVertex Lerp(const ClipVertex& a, const ClipVertex& b, float t)
{
    ClipVertex out;
    for (int i = 0; i < 4; ++i)
        out.pos[i] = a.pos[i] + (b.pos[i] - a.pos[i]) * t;
    for (int i = 0; i < 6; ++i)
        out.attr[i] = a.attr[i] + (b.attr[i] - a.attr[i]) * t;
    return out;
}

// Distance of a clip-space point inside plane `plane` (positive inside):
// -w <= x <= w, -w <= y <= w, 0 <= z <= w, w above a small epsilon.
float PlaneDistance(const ClipVertex& v, int plane)
{
    const auto& p = v.pos;
    switch (plane) {
    case 0: return p[3] + p[0];
    case 1: return p[3] - p[0];
    case 2: return p[3] + p[1];
    case 3: return p[3] - p[1];
    case 4: return p[2];
    case 5: return p[3] - p[2];
    default: return p[3] - 1e-6f;
    }
}

std::vector<ClipVertex> Clip(std::vector<ClipVertex> polygon)
{
    for (int plane = 0; plane < 7 && !polygon.empty(); ++plane) {
        std::vector<ClipVertex> out;
        for (std::size_t i = 0; i < polygon.size(); ++i) {
            const ClipVertex& a = polygon[i];
            const ClipVertex& b = polygon[(i + 1) % polygon.size()];
            const float da = PlaneDistance(a, plane);
            const float db = PlaneDistance(b, plane);
            if (da >= 0)
                out.push_back(a);
            if ((da >= 0) != (db >= 0))
                out.push_back(Lerp(a, b, da / (da - db)));
        }
        polygon.swap(out);
    }
    return polygon;
}

float Wrap(float t)
{
    return t - std::floor(t);
}

Colour Texel(const Surface& s, int x, int y)
{
    const int w = s.GetDesc().width;
    const int h = s.GetDesc().height;
    x = ((x % w) + w) % w;
    y = ((y % h) + h) % h;
    return Unpack(s.Pixel(x, y));
}

Colour SampleLevel(const Surface& s, float u, float v, bool linear)
{
    const int w = s.GetDesc().width;
    const int h = s.GetDesc().height;
    if (!linear)
        return Texel(s, static_cast<int>(std::floor(Wrap(u) * w)), static_cast<int>(std::floor(Wrap(v) * h)));
    const float x = Wrap(u) * w - 0.5f;
    const float y = Wrap(v) * h - 0.5f;
    const int x0 = static_cast<int>(std::floor(x));
    const int y0 = static_cast<int>(std::floor(y));
    const float fx = x - x0;
    const float fy = y - y0;
    const Colour top = Mix(Texel(s, x0, y0), Texel(s, x0 + 1, y0), fx);
    const Colour bottom = Mix(Texel(s, x0, y0 + 1), Texel(s, x0 + 1, y0 + 1), fx);
    return Mix(top, bottom, fy);
}

float Factor(Blend blend, float srcAlpha)
{
    switch (blend) {
    case Blend::One: return 1.f;
    case Blend::SrcAlpha: return srcAlpha;
    case Blend::InvSrcAlpha: return 1.f - srcAlpha;
    }
    return 1.f;
}

}  // namespace

// ---- Surface ----

Surface::Surface(const SurfaceDesc& desc, unsigned generation) : m_desc(desc), m_generation(generation)
{
    const std::size_t area = static_cast<std::size_t>(desc.width) * static_cast<std::size_t>(desc.height);
    m_bytes.assign(desc.format == Format::YV12 ? area * 3 / 2 : area * 4, 0);
}

int Surface::Pitch() const
{
    return m_desc.format == Format::YV12 ? m_desc.width : m_desc.width * 4;
}

std::uint32_t Surface::Pixel(int x, int y) const
{
    std::uint32_t p;
    std::memcpy(&p, m_bytes.data() + static_cast<std::size_t>(y) * Pitch() + static_cast<std::size_t>(x) * 4, 4);
    return p;
}

// ---- Texture ----

Texture::Texture(const SurfaceDesc& desc, int levels, unsigned generation)
    : m_generation(generation), m_usage(desc.usage)
{
    SurfaceDesc level = desc;
    for (int i = 0; levels == 0 || i < levels; ++i) {
        m_levels.push_back(std::make_shared<Surface>(level, generation));
        if (level.width == 1 && level.height == 1)
            break;
        level.width = std::max(1, level.width / 2);
        level.height = std::max(1, level.height / 2);
    }
}

Result Texture::GetSurfaceLevel(int level, SurfacePtr& surface)
{
    if (level < 0 || level >= GetLevelCount())
        return Result::InvalidCall;
    surface = m_levels[static_cast<std::size_t>(level)];
    return Result::Ok;
}

Result Texture::LockRect(int level, LockedRect& locked, const QRect* rect)
{
    if (level < 0 || level >= GetLevelCount())
        return Result::InvalidCall;
    return m_levels[static_cast<std::size_t>(level)]->LockRect(locked, rect);
}

Result Texture::UnlockRect(int level)
{
    if (level < 0 || level >= GetLevelCount())
        return Result::InvalidCall;
    return m_levels[static_cast<std::size_t>(level)]->UnlockRect();
}

void Texture::GenerateMipSubLevels()
{
    for (std::size_t i = 1; i < m_levels.size(); ++i) {
        Surface& src = *m_levels[i - 1];
        Surface& dst = *m_levels[i];
        const int sw = src.GetDesc().width;
        const int sh = src.GetDesc().height;
        for (int y = 0; y < dst.GetDesc().height; ++y)
            for (int x = 0; x < dst.GetDesc().width; ++x) {
                const int x0 = std::min(2 * x, sw - 1), x1 = std::min(2 * x + 1, sw - 1);
                const int y0 = std::min(2 * y, sh - 1), y1 = std::min(2 * y + 1, sh - 1);
                const Colour c = Mix(Mix(Unpack(src.Pixel(x0, y0)), Unpack(src.Pixel(x1, y0)), 0.5f),
                                     Mix(Unpack(src.Pixel(x0, y1)), Unpack(src.Pixel(x1, y1)), 0.5f), 0.5f);
                const std::uint32_t p = Pack(c);
                std::memcpy(dst.Bits() + static_cast<std::size_t>(y) * dst.Pitch() + static_cast<std::size_t>(x) * 4,
                            &p, 4);
            }
    }
}

Result Surface::LockRect(LockedRect& locked, const QRect* rect)
{
    const QRect whole(0, 0, m_desc.width, m_desc.height);
    const QRect r = rect != nullptr ? *rect : whole;
    if (m_locked || r.isEmpty() || !whole.contains(r))
        return Result::InvalidCall;
    if (m_desc.format == Format::YV12 && rect != nullptr && r != whole)
        return Result::InvalidCall;
    m_locked = true;
    locked.pitch = Pitch();
    locked.bits = m_bytes.data() + static_cast<std::size_t>(r.top()) * Pitch() +
                  static_cast<std::size_t>(r.left()) * (Packed(m_desc.format) ? 4 : 1);
    return Result::Ok;
}

Result Surface::UnlockRect()
{
    if (!m_locked)
        return Result::InvalidCall;
    m_locked = false;
    return Result::Ok;
}

// ---- Device ----

Device::Device(const PresentParameters& params, const DisplayMode& mode) : m_mode(mode)
{
    static const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::memcpy(m_view, identity, sizeof m_view);
    std::memcpy(m_projection, identity, sizeof m_projection);
    Reset(params);
}

void Device::Register(const std::shared_ptr<void>& object)
{
    m_defaultObjects.push_back(object);
}

int Device::LiveDefaultObjects()
{
    m_defaultObjects.erase(std::remove_if(m_defaultObjects.begin(), m_defaultObjects.end(),
                                          [](const std::weak_ptr<void>& w) { return w.expired(); }),
                           m_defaultObjects.end());
    return static_cast<int>(m_defaultObjects.size());
}

Result Device::TestCooperativeLevel() const
{
    switch (m_lost) {
    case Lost::No: return Result::Ok;
    case Lost::Waiting: return Result::DeviceLost;
    case Lost::NotReset: return Result::DeviceNotReset;
    }
    return Result::Ok;
}

void Device::LoseDevice(bool resettable)
{
    m_lost = resettable ? Lost::NotReset : Lost::Waiting;
}

void Device::AllowReset()
{
    if (m_lost == Lost::Waiting)
        m_lost = Lost::NotReset;
}

Result Device::Reset(const PresentParameters& params)
{
    if (m_lost == Lost::Waiting)
        return Result::DeviceLost;
    // The renderer's own references to the old targets are dropped below;
    // any other default-pool object still held makes the reset fail.
    m_target.reset();
    m_texture.reset();
    const SurfacePtr oldBack = std::move(m_backBuffer);
    if (LiveDefaultObjects() > 0) {
        m_backBuffer = oldBack;
        return Result::InvalidCall;
    }
    const int w = params.backBufferWidth > 0 ? params.backBufferWidth : std::max(1, params.windowSize.width());
    const int h = params.backBufferHeight > 0 ? params.backBufferHeight : std::max(1, params.windowSize.height());
    ++m_generation;
    SurfaceDesc desc;
    desc.format = params.backBufferFormat == Format::Unknown ? m_mode.format : params.backBufferFormat;
    desc.usage = UsageRenderTarget;
    desc.width = w;
    desc.height = h;
    m_backBuffer = std::make_shared<Surface>(desc, m_generation);
    m_target = m_backBuffer;
    m_viewport = QRect(0, 0, w, h);
    m_lost = Lost::No;
    m_inScene = false;
    m_state = RenderState{};
    {
        std::lock_guard<std::mutex> lock(m_frontLock);
        m_frontSize = QSize(w, h);
        m_front.assign(static_cast<std::size_t>(w) * h * 4, 0);
    }
    return Result::Ok;
}

Result Device::GetBackBuffer(SurfacePtr& surface) const
{
    surface = m_backBuffer;
    return surface ? Result::Ok : Result::InvalidCall;
}

Result Device::CreateRenderTarget(int width, int height, Format format, SurfacePtr& surface)
{
    if (width < 1 || height < 1 || !Packed(format))
        return Result::InvalidCall;
    SurfaceDesc desc{format, Pool::Default, UsageRenderTarget, width, height};
    surface = std::make_shared<Surface>(desc, m_generation);
    Register(surface);
    return Result::Ok;
}

Result Device::CreateOffscreenPlainSurface(int width, int height, Format format, Pool pool, SurfacePtr& surface)
{
    if (width < 1 || height < 1 || (format == Format::YV12 && (width % 2 != 0 || height % 2 != 0)))
        return Result::InvalidCall;
    SurfaceDesc desc{format, pool, UsageNone, width, height};
    surface = std::make_shared<Surface>(desc, m_generation);
    if (pool == Pool::Default)
        Register(surface);
    return Result::Ok;
}

Result Device::CreateTexture(int width, int height, int levels, std::uint32_t usage, Format format, Pool pool,
                             TexturePtr& texture)
{
    if (width < 1 || height < 1 || levels < 0 || !Packed(format))
        return Result::InvalidCall;
    SurfaceDesc desc{format, pool, usage, width, height};
    texture = std::make_shared<Texture>(desc, levels, m_generation);
    if (pool == Pool::Default)
        Register(texture);
    return Result::Ok;
}

Result Device::SetRenderTarget(const SurfacePtr& surface)
{
    if (!surface || !Current(surface->Generation()) || !Packed(surface->GetDesc().format))
        return Result::InvalidCall;
    m_target = surface;
    return Result::Ok;
}

Result Device::BeginScene()
{
    if (m_inScene)
        return Result::InvalidCall;
    m_inScene = true;
    return Result::Ok;
}

Result Device::EndScene()
{
    if (!m_inScene)
        return Result::InvalidCall;
    m_inScene = false;
    return Result::Ok;
}

void Device::SetViewTransform(const float matrix[16])
{
    std::memcpy(m_view, matrix, sizeof m_view);
}

void Device::SetProjectionTransform(const float matrix[16])
{
    std::memcpy(m_projection, matrix, sizeof m_projection);
}

Result Device::SetViewport(const QRect& rect)
{
    if (!m_target || rect.isEmpty() || !QRect(0, 0, m_target->GetDesc().width, m_target->GetDesc().height).contains(rect))
        return Result::InvalidCall;
    m_viewport = rect;
    return Result::Ok;
}

Result Device::SetTexture(const TexturePtr& texture)
{
    if (texture && !Current(texture->Generation()))
        return Result::InvalidCall;
    m_texture = texture;
    return Result::Ok;
}

Result Device::DrawPrimitiveUP(Primitive type, int primitiveCount, const void* vertices, int stride)
{
    if (!m_inScene || !m_target || primitiveCount < 1 || vertices == nullptr || stride < 24)
        return Result::InvalidCall;
    const auto* bytes = static_cast<const std::uint8_t*>(vertices);
    std::vector<Vertex> v(static_cast<std::size_t>(primitiveCount) + 2);
    for (std::size_t i = 0; i < v.size(); ++i)
        std::memcpy(&v[i], bytes + i * static_cast<std::size_t>(stride), sizeof(Vertex));
    for (int p = 0; p < primitiveCount; ++p) {
        const auto i = static_cast<std::size_t>(p);
        const Vertex* corners[3];
        if (type == Primitive::TriangleFan) {
            corners[0] = &v[0];
            corners[1] = &v[i + 1];
            corners[2] = &v[i + 2];
        } else {
            corners[0] = &v[i];
            corners[1] = &v[i + 1];
            corners[2] = &v[i + 2];
        }
        DrawTriangle(corners);
    }
    return Result::Ok;
}

void Device::DrawTriangle(const Vertex* const corners[3])
{
    // World is identity: clip = (x, y, z, 1) View Projection.
    float vp[16];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            float s = 0;
            for (int k = 0; k < 4; ++k)
                s += m_view[r * 4 + k] * m_projection[k * 4 + c];
            vp[r * 4 + c] = s;
        }
    std::vector<ClipVertex> polygon;
    for (int i = 0; i < 3; ++i) {
        const Vertex& in = *corners[i];
        const float p[4] = {in.x, in.y, in.z, 1.f};
        ClipVertex out;
        for (int c = 0; c < 4; ++c)
            out.pos[c] = p[0] * vp[c] + p[1] * vp[4 + c] + p[2] * vp[8 + c] + p[3] * vp[12 + c];
        const Colour d = Unpack(in.diffuse);
        out.attr = {d.b, d.g, d.r, d.a, in.u, in.v};
        polygon.push_back(out);
    }
    polygon = Clip(std::move(polygon));
    if (polygon.size() < 3)
        return;

    // Screen position and perspective-divided attributes.
    // Positions snap to 1/256 pixel, so that edge functions evaluated in
    // double are exact and an edge shared by two triangles gives each pixel
    // to exactly one of them.
    struct ScreenVertex {
        double x, y;
        float invW;
        std::array<float, 6> attr;  // attribute / w
    };
    std::vector<ScreenVertex> screen;
    for (const ClipVertex& c : polygon) {
        const float invW = 1.f / c.pos[3];
        ScreenVertex s;
        const double x = m_viewport.x() + (c.pos[0] * invW + 1.0) * 0.5 * m_viewport.width();
        const double y = m_viewport.y() + (1.0 - c.pos[1] * invW) * 0.5 * m_viewport.height();
        s.x = std::round(x * 256) / 256;
        s.y = std::round(y * 256) / 256;
        s.invW = invW;
        for (int i = 0; i < 6; ++i)
            s.attr[static_cast<std::size_t>(i)] = c.attr[static_cast<std::size_t>(i)] * invW;
        screen.push_back(s);
    }

    Surface& target = *m_target;
    const QRect bounds = m_viewport & QRect(0, 0, target.GetDesc().width, target.GetDesc().height);
    const Texture* texture = m_texture.get();
    const RenderState& st = m_state;

    for (std::size_t t = 1; t + 1 < screen.size(); ++t) {
        const ScreenVertex* tri[3] = {&screen[0], &screen[t], &screen[t + 1]};
        double area = (tri[1]->x - tri[0]->x) * (tri[2]->y - tri[0]->y) - (tri[2]->x - tri[0]->x) * (tri[1]->y - tri[0]->y);
        if (area == 0)
            continue;
        if (area < 0) {  // no culling: draw both windings the same way
            std::swap(tri[1], tri[2]);
            area = -area;
        }
        // Edge k runs from tri[k] to tri[k+1]; its function is positive inside.
        auto edge = [&](int k, double px, double py) {
            const ScreenVertex& a = *tri[k];
            const ScreenVertex& b = *tri[(k + 1) % 3];
            return (b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x);
        };
        // Top-left rule: pixels exactly on a top or left edge are drawn.
        auto owns = [&](int k) {
            const ScreenVertex& a = *tri[k];
            const ScreenVertex& b = *tri[(k + 1) % 3];
            const double dx = b.x - a.x, dy = b.y - a.y;
            return (dy == 0 && dx > 0) || dy < 0;
        };
        const double minX = std::min({tri[0]->x, tri[1]->x, tri[2]->x});
        const double maxX = std::max({tri[0]->x, tri[1]->x, tri[2]->x});
        const double minY = std::min({tri[0]->y, tri[1]->y, tri[2]->y});
        const double maxY = std::max({tri[0]->y, tri[1]->y, tri[2]->y});
        const int x0 = std::max(bounds.left(), static_cast<int>(std::ceil(minX)));
        const int x1 = std::min(bounds.right(), static_cast<int>(std::floor(maxX)));
        const int y0 = std::max(bounds.top(), static_cast<int>(std::ceil(minY)));
        const int y1 = std::min(bounds.bottom(), static_cast<int>(std::floor(maxY)));

        // Barycentric weights of (px, py): edge function of the opposite edge.
        // Attributes from `first` on (4: only the texture coordinates).
        auto weighted = [&](double e0, double e1, double e2, std::array<float, 6>& out, std::size_t first = 0) {
            const auto w0 = static_cast<float>(e1 / area);
            const auto w1 = static_cast<float>(e2 / area);
            const auto w2 = static_cast<float>(e0 / area);
            const float invW = w0 * tri[0]->invW + w1 * tri[1]->invW + w2 * tri[2]->invW;
            for (std::size_t i = first; i < 6; ++i)
                out[i] = (w0 * tri[0]->attr[i] + w1 * tri[1]->attr[i] + w2 * tri[2]->attr[i]) / invW;
        };
        auto attributes = [&](double px, double py, std::array<float, 6>& out) {
            weighted(edge(0, px, py), edge(1, px, py), edge(2, px, py), out);
        };

        // The level of detail matters only with mip levels or with filters
        // that differ between magnifying and minifying.
        const bool needLod = texture != nullptr && ((st.mipFilter != Filter::None && texture->GetLevelCount() > 1) ||
                                                    st.magFilter != st.minFilter);
        // Unblended point sampling of colour and alpha copies texels.
        const bool copyTexels = texture != nullptr && !needLod && st.magFilter == Filter::Point &&
                                st.colorArg1 == Arg::Texture && st.alphaArg1 == Arg::Texture && !st.alphaBlend;
        // Edge functions step by whole pixels: with positions on a 1/256
        // grid every step is exact, so stepping decides as evaluating does.
        double stepX[3];
        bool owned[3];
        for (int k = 0; k < 3; ++k) {
            stepX[k] = -(tri[(k + 1) % 3]->y - tri[k]->y);
            owned[k] = owns(k);
        }
        for (int py = y0; py <= y1; ++py) {
            double e[3];
            for (int k = 0; k < 3; ++k)
                e[k] = edge(k, x0, py);
            for (int px = x0; px <= x1; ++px, e[0] += stepX[0], e[1] += stepX[1], e[2] += stepX[2]) {
                const double fx = px, fy = py;
                bool inside = true;
                for (int k = 0; k < 3 && inside; ++k)
                    inside = e[k] > 0 || (e[k] == 0 && owned[k]);
                if (!inside)
                    continue;
                std::array<float, 6> a;
                weighted(e[0], e[1], e[2], a, copyTexels ? 4 : 0);
                std::uint8_t* out = target.Bits() + static_cast<std::size_t>(py) * target.Pitch() +
                                    static_cast<std::size_t>(px) * 4;
                if (copyTexels) {
                    const Surface& base = *texture->Level(0);
                    const int w = base.GetDesc().width, h = base.GetDesc().height;
                    const int tx = std::min(w - 1, static_cast<int>(Wrap(a[4]) * static_cast<float>(w)));
                    const int ty = std::min(h - 1, static_cast<int>(Wrap(a[5]) * static_cast<float>(h)));
                    std::memcpy(out, base.Bits() + static_cast<std::size_t>(ty) * base.Pitch() +
                                         static_cast<std::size_t>(tx) * 4,
                                4);
                    continue;
                }
                const Colour diffuse{a[0], a[1], a[2], a[3]};
                Colour tex = diffuse;
                if (texture != nullptr) {
                    const Surface& base = *texture->Level(0);
                    float lod = 0;
                    if (needLod) {
                        std::array<float, 6> ax, ay;
                        attributes(fx + 1, fy, ax);
                        attributes(fx, fy + 1, ay);
                        const float tw = static_cast<float>(base.GetDesc().width);
                        const float th = static_cast<float>(base.GetDesc().height);
                        const float dx = std::hypot((ax[4] - a[4]) * tw, (ax[5] - a[5]) * th);
                        const float dy = std::hypot((ay[4] - a[4]) * tw, (ay[5] - a[5]) * th);
                        lod = std::log2(std::max({dx, dy, 1e-6f}));
                    }
                    if (lod <= 0 || st.mipFilter == Filter::None || texture->GetLevelCount() == 1) {
                        const bool linear = (lod <= 0 ? st.magFilter : st.minFilter) != Filter::Point;
                        tex = SampleLevel(base, a[4], a[5], linear);
                    } else {
                        const bool linear = st.minFilter != Filter::Point;
                        const int top = texture->GetLevelCount() - 1;
                        const float clamped = std::min(lod, static_cast<float>(top));
                        const int l0 = static_cast<int>(std::floor(clamped));
                        const int l1 = std::min(l0 + 1, top);
                        const Colour c0 = SampleLevel(*texture->Level(l0), a[4], a[5], linear);
                        if (st.mipFilter == Filter::Point || l1 == l0) {
                            tex = c0;
                        } else {
                            tex = Mix(c0, SampleLevel(*texture->Level(l1), a[4], a[5], linear),
                                      clamped - static_cast<float>(l0));
                        }
                    }
                }
                Colour src = st.colorArg1 == Arg::Texture ? tex : diffuse;
                src.a = st.alphaArg1 == Arg::Texture ? tex.a : diffuse.a;
                if (st.alphaBlend) {
                    std::uint32_t old;
                    std::memcpy(&old, out, 4);
                    const Colour dst = Unpack(old);
                    const float sf = Factor(st.srcBlend, src.a), df = Factor(st.destBlend, src.a);
                    src = {src.b * sf + dst.b * df, src.g * sf + dst.g * df, src.r * sf + dst.r * df,
                           src.a * sf + dst.a * df};
                }
                const std::uint32_t p = Pack(src);
                std::memcpy(out, &p, 4);
            }
        }
    }
}

void ConvertYV12(const std::uint8_t* y, const std::uint8_t* v, const std::uint8_t* u, int pitch, const QRect& rect,
                 std::uint8_t* dst, int dstPitch, YuvMatrix matrix)
{
    // By tables of the factors' products (in 1/16 levels), and a saturation
    // table that spans every sum they can give; one set per matrix.
    struct Tables {
        int luma[256], red[256], greenU[256], greenV[256], blue[256];
        std::uint8_t saturate[16 * 1024];
    };
    auto make = [](YuvMatrix m) {
        auto k = std::make_unique<Tables>();
        const YuvFactors f = Factors(m);
        for (int i = 0; i < 256; ++i) {
            const double c = i - 128;
            k->luma[i] = static_cast<int>(std::lround(16 * f.y * (i - f.yOffset)));
            k->red[i] = static_cast<int>(std::lround(16 * f.rv * c));
            k->greenU[i] = static_cast<int>(std::lround(16 * f.gu * c));
            k->greenV[i] = static_cast<int>(std::lround(16 * f.gv * c));
            k->blue[i] = static_cast<int>(std::lround(16 * f.bu * c));
        }
        for (int i = 0; i < 16 * 1024; ++i)
            k->saturate[i] = static_cast<std::uint8_t>(std::clamp((i - 6 * 1024 + 8) >> 4, 0, 255));
        return k;
    };
    static const std::unique_ptr<Tables> all[3] = {make(YuvMatrix::Bt601Video), make(YuvMatrix::Bt709Video),
                                                   make(YuvMatrix::Bt601Full)};
    const Tables& tables = *all[static_cast<int>(matrix)];
    const std::uint8_t* saturate = tables.saturate + 6 * 1024;
    for (int ty = 0; ty < rect.height(); ++ty) {
        const int sy = rect.top() + ty;
        const std::uint8_t* yRow = y + static_cast<std::size_t>(sy) * pitch;
        const std::uint8_t* vRow = v + static_cast<std::size_t>(sy / 2) * (pitch / 2);
        const std::uint8_t* uRow = u + static_cast<std::size_t>(sy / 2) * (pitch / 2);
        std::uint8_t* out = dst + static_cast<std::ptrdiff_t>(ty) * dstPitch;
        // One chroma sample serves two pixels: its terms are looked up once.
        int chroma = -1, red = 0, green = 0, blue = 0;
        for (int tx = 0; tx < rect.width(); ++tx) {
            const int sx = rect.left() + tx;
            if (sx / 2 != chroma) {
                chroma = sx / 2;
                const int U = uRow[chroma], V = vRow[chroma];
                red = tables.red[V];
                green = -tables.greenU[U] - tables.greenV[V];
                blue = tables.blue[U];
            }
            const int Y = tables.luma[yRow[sx]];
            const std::uint32_t pixel = saturate[Y + blue] | static_cast<std::uint32_t>(saturate[Y + green]) << 8 |
                                        static_cast<std::uint32_t>(saturate[Y + red]) << 16 | 0xFF000000u;
            std::memcpy(out + tx * 4, &pixel, 4);
        }
    }
}

Result Device::StretchRect(const SurfacePtr& source, const QRect* sourceRect, const SurfacePtr& target,
                           const QRect* targetRect, Filter filter, const TexturePtr& owner)
{
    if (!source || !target || !Current(source->Generation()) || !Current(target->Generation()) ||
        source->GetDesc().pool != Pool::Default || target->GetDesc().pool != Pool::Default ||
        !Packed(target->GetDesc().format))
        return Result::InvalidCall;
    const QRect sWhole(0, 0, source->GetDesc().width, source->GetDesc().height);
    const QRect tWhole(0, 0, target->GetDesc().width, target->GetDesc().height);
    const QRect s = sourceRect != nullptr ? *sourceRect : sWhole;
    const QRect t = targetRect != nullptr ? *targetRect : tWhole;
    if (s.isEmpty() || t.isEmpty() || !sWhole.contains(s) || !tWhole.contains(t))
        return Result::InvalidCall;
    const bool yv12 = source->GetDesc().format == Format::YV12;
    const int pitch = source->Pitch();
    const std::uint8_t* y = source->Bits();
    const std::uint8_t* v = y + static_cast<std::size_t>(pitch) * sWhole.height();
    const std::uint8_t* u = v + static_cast<std::size_t>(pitch / 2) * (sWhole.height() / 2);
    const YuvFactors f = Factors(source->GetYuvMatrix());
    const struct {
        float y, rv, gu, gv, bu;
        int yOffset;
    } factors{static_cast<float>(f.y), static_cast<float>(f.rv), static_cast<float>(f.gu), static_cast<float>(f.gv),
              static_cast<float>(f.bu), f.yOffset};
    auto at = [&](float sx, float sy) -> Colour {
        const int ix = std::clamp(static_cast<int>(sx), s.left(), s.right());
        const int iy = std::clamp(static_cast<int>(sy), s.top(), s.bottom());
        if (!yv12)
            return Unpack(source->Pixel(ix, iy));
        const float Y = factors.y * static_cast<float>(y[static_cast<std::size_t>(iy) * pitch + ix] - factors.yOffset);
        const std::size_t c = static_cast<std::size_t>(iy / 2) * (pitch / 2) + ix / 2;
        const float V = static_cast<float>(v[c] - 128);
        const float U = static_cast<float>(u[c] - 128);
        return {(Y + factors.bu * U) / 255.f, (Y - factors.gu * U - factors.gv * V) / 255.f,
                (Y + factors.rv * V) / 255.f, 1.f};
    };
    if (!yv12 && s.size() == t.size()) {
        // Unscaled 32-bit copies keep every pixel as it is.
        for (int row = 0; row < t.height(); ++row)
            std::memmove(target->Bits() + static_cast<std::size_t>(t.top() + row) * target->Pitch() +
                             static_cast<std::size_t>(t.left()) * 4,
                         source->Bits() + static_cast<std::size_t>(s.top() + row) * source->Pitch() +
                             static_cast<std::size_t>(s.left()) * 4,
                         static_cast<std::size_t>(t.width()) * 4);
        if (owner && owner->GetLevelCount() > 1 && (owner->Usage() & UsageAutoGenMipMap) != 0 &&
            owner->Level(0) == target)
            owner->GenerateMipSubLevels();
        return Result::Ok;
    }
    if (yv12 && s.size() == t.size()) {
        ConvertYV12(y, v, u, pitch, s,
                    target->Bits() + static_cast<std::size_t>(t.top()) * target->Pitch() +
                        static_cast<std::size_t>(t.left()) * 4,
                    target->Pitch(), source->GetYuvMatrix());
        if (owner && owner->GetLevelCount() > 1 && (owner->Usage() & UsageAutoGenMipMap) != 0 &&
            owner->Level(0) == target)
            owner->GenerateMipSubLevels();
        return Result::Ok;
    }
    const float scaleX = static_cast<float>(s.width()) / static_cast<float>(t.width());
    const float scaleY = static_cast<float>(s.height()) / static_cast<float>(t.height());
    const bool linear = filter == Filter::Linear || filter == Filter::Anisotropic;
    for (int ty = 0; ty < t.height(); ++ty)
        for (int tx = 0; tx < t.width(); ++tx) {
            const float sx = static_cast<float>(s.left()) + (static_cast<float>(tx) + 0.5f) * scaleX;
            const float sy = static_cast<float>(s.top()) + (static_cast<float>(ty) + 0.5f) * scaleY;
            Colour c;
            if (linear && (scaleX != 1.f || scaleY != 1.f)) {
                const float fx = sx - 0.5f, fy = sy - 0.5f;
                const float ax = fx - std::floor(fx), ay = fy - std::floor(fy);
                c = Mix(Mix(at(std::floor(fx), std::floor(fy)), at(std::floor(fx) + 1, std::floor(fy)), ax),
                        Mix(at(std::floor(fx), std::floor(fy) + 1), at(std::floor(fx) + 1, std::floor(fy) + 1), ax),
                        ay);
            } else {
                c = at(sx, sy);
            }
            const std::uint32_t p = Pack(c);
            std::memcpy(target->Bits() + static_cast<std::size_t>(t.top() + ty) * target->Pitch() +
                            static_cast<std::size_t>(t.left() + tx) * 4,
                        &p, 4);
        }
    if (owner && owner->GetLevelCount() > 1 && (owner->Usage() & UsageAutoGenMipMap) != 0 &&
        owner->Level(0) == target)
        owner->GenerateMipSubLevels();
    return Result::Ok;
}

Result Device::GetRenderTargetData(const SurfacePtr& renderTarget, const SurfacePtr& systemSurface)
{
    if (!renderTarget || !systemSurface || !Current(renderTarget->Generation()) ||
        systemSurface->GetDesc().pool != Pool::SystemMem ||
        systemSurface->GetDesc().width != renderTarget->GetDesc().width ||
        systemSurface->GetDesc().height != renderTarget->GetDesc().height ||
        !Packed(systemSurface->GetDesc().format))
        return Result::InvalidCall;
    std::memcpy(systemSurface->Bits(), renderTarget->Bits(),
                static_cast<std::size_t>(renderTarget->Pitch()) * renderTarget->GetDesc().height);
    return Result::Ok;
}

Result Device::Present(const QRect& rect)
{
    if (m_lost != Lost::No)
        return Result::DeviceLost;
    const QRect r = rect & QRect(0, 0, m_backBuffer->GetDesc().width, m_backBuffer->GetDesc().height);
    std::lock_guard<std::mutex> lock(m_frontLock);
    for (int y = r.top(); y <= r.bottom() && !r.isEmpty(); ++y)
        std::memcpy(m_front.data() + (static_cast<std::size_t>(y) * m_frontSize.width() + r.left()) * 4,
                    m_backBuffer->Bits() + static_cast<std::size_t>(y) * m_backBuffer->Pitch() +
                        static_cast<std::size_t>(r.left()) * 4,
                    static_cast<std::size_t>(r.width()) * 4);
    if (m_sink && !r.isEmpty())
        m_sink(r);
    return Result::Ok;
}

// ---- Direct3D ----

Result Direct3D::GetAdapterDisplayMode(DisplayMode& mode) const
{
    mode = DisplayMode{};
    return Result::Ok;
}

Result Direct3D::CreateDevice(DeviceType type, const PresentParameters& params, DevicePtr& device)
{
    if (type != DeviceType::Ref || !refAvailable)
        return Result::NotAvailable;
    DisplayMode mode;
    GetAdapterDisplayMode(mode);
    device = std::make_shared<Device>(params, mode);
    lastDevice = device;
    return Result::Ok;
}

Result Direct3D::CheckDeviceFormat(DeviceType type, Format, std::uint32_t usage, Format format) const
{
    if (type != DeviceType::Ref || !refAvailable)
        return Result::NotAvailable;
    if (format == Format::YV12)
        return yv12Available && (usage & UsageRenderTarget) != 0 ? Result::Ok : Result::NotAvailable;
    return Packed(format) ? Result::Ok : Result::NotAvailable;
}

Direct3DPtr Direct3DCreate9(unsigned)
{
    return std::make_shared<Direct3D>();
}

}  // namespace platform::d3d9
