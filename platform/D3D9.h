#pragma once
// A software device shaped like the Direct3D 9 calls the renderer makes:
// surfaces, textures with mip levels, a fixed-function triangle rasteriser
// (transforms with clipping, fans and strips, point and bilinear sampling,
// two blend modes), StretchRect with YV12 to ARGB conversion, a windowed
// copy-swap Present into a front image, and device loss.
//
// There is no hardware adapter: creating a HAL device fails and only the
// reference type exists. Objects of the default pool belong to the device
// generation they were made in; Reset fails while any of them is alive and
// starts a new generation. A lost device refuses Present until Reset.
// Rectangles are QRect (inclusive edges). Not thread-safe: one thread drives
// a device.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <QRect>
#include <QSize>

#include "platform/YuvMatrix.h"

namespace platform::d3d9 {

enum class Result { Ok, DeviceLost, DeviceNotReset, InvalidCall, NotAvailable };

enum class DeviceType { Hal = 1, Ref = 2 };

enum class Format : std::uint32_t {
    Unknown = 0,
    A8R8G8B8 = 21,
    X8R8G8B8 = 22,
    YV12 = 0x32315659,  // FOURCC "YV12"
};

enum class Pool { Default, SystemMem };

enum Usage : std::uint32_t {
    UsageNone = 0,
    UsageRenderTarget = 0x1,
    UsageDynamic = 0x200,
    UsageAutoGenMipMap = 0x400,
};

enum class Filter { None, Point, Linear, Anisotropic };

enum class Primitive { TriangleStrip = 5, TriangleFan = 6 };

enum class Blend { One, SrcAlpha, InvSrcAlpha };

enum class Arg { Diffuse, Texture };

// Vertex of the one vertex format: position, 0xAARRGGBB colour, texture
// coordinate (24 bytes).
struct Vertex {
    float x, y, z;
    std::uint32_t diffuse;
    float u, v;
};
static_assert(sizeof(Vertex) == 24);

struct SurfaceDesc {
    Format format = Format::Unknown;
    Pool pool = Pool::Default;
    std::uint32_t usage = UsageNone;
    int width = 0;
    int height = 0;
};

struct LockedRect {
    int pitch = 0;
    std::uint8_t* bits = nullptr;
};

struct Caps {
    DeviceType deviceType = DeviceType::Ref;
    int maxAnisotropy = 16;
};

struct DisplayMode {
    int width = 1920;
    int height = 1080;
    Format format = Format::X8R8G8B8;
};

struct PresentParameters {
    int backBufferWidth = 0;  // 0: the window's size
    int backBufferHeight = 0;
    Format backBufferFormat = Format::Unknown;
    bool windowed = false;
    // The window's client size, taken for a width or height of 0.
    QSize windowSize;
};

class Device;

// Converts rect (inclusive edges) of YV12 planes (luma pitch `pitch`, chroma
// at pitch / 2, one chroma sample per 2 x 2 luma) to 32-bit pixels (B, G, R,
// 255) at dst with the factors of `matrix` (studio range expanded to 0..255
// unless the matrix is full range).
void ConvertYV12(const std::uint8_t* y, const std::uint8_t* v, const std::uint8_t* u, int pitch, const QRect& rect,
                 std::uint8_t* dst, int dstPitch, YuvMatrix matrix = YuvMatrix::Bt601Video);

// Pixels of one surface: 32-bit (B, G, R, A bytes) or YV12 (Y, then V and U
// at half pitch and height).
class Surface {
public:
    Surface(const SurfaceDesc& desc, unsigned generation);
    const SurfaceDesc& GetDesc() const { return m_desc; }
    // rect null: the whole surface. Fails on a surface of a past generation
    // and on a rectangle outside the surface.
    Result LockRect(LockedRect& locked, const QRect* rect);
    Result UnlockRect();

    // For the device and its textures.
    int Pitch() const;
    std::uint8_t* Bits() { return m_bytes.data(); }
    const std::uint8_t* Bits() const { return m_bytes.data(); }
    unsigned Generation() const { return m_generation; }
    std::uint32_t Pixel(int x, int y) const;
    // How a YV12 surface's samples become RGB (StretchRect).
    YuvMatrix GetYuvMatrix() const { return m_matrix; }
    void SetYuvMatrix(YuvMatrix matrix) { m_matrix = matrix; }

private:
    SurfaceDesc m_desc;
    YuvMatrix m_matrix = YuvMatrix::Bt601Video;
    unsigned m_generation;
    std::vector<std::uint8_t> m_bytes;
    bool m_locked = false;
};

using SurfacePtr = std::shared_ptr<Surface>;

class Texture {
public:
    Texture(const SurfaceDesc& desc, int levels, unsigned generation);
    int GetLevelCount() const { return static_cast<int>(m_levels.size()); }
    Result GetSurfaceLevel(int level, SurfacePtr& surface);
    Result LockRect(int level, LockedRect& locked, const QRect* rect);
    Result UnlockRect(int level);
    // Rebuilds levels 1 and up from level 0 (2 x 2 box filter).
    void GenerateMipSubLevels();
    const SurfacePtr& Level(int level) const { return m_levels[static_cast<std::size_t>(level)]; }
    unsigned Generation() const { return m_generation; }
    std::uint32_t Usage() const { return m_usage; }

private:
    std::vector<SurfacePtr> m_levels;
    unsigned m_generation;
    std::uint32_t m_usage;
};

using TexturePtr = std::shared_ptr<Texture>;

// Fixed-function state the renderer sets.
struct RenderState {
    bool alphaBlend = false;
    Blend srcBlend = Blend::One;
    Blend destBlend = Blend::One;  // set by the renderer to InvSrcAlpha
    Arg colorArg1 = Arg::Texture;
    Arg alphaArg1 = Arg::Texture;
    Filter magFilter = Filter::Point;
    Filter minFilter = Filter::Point;
    Filter mipFilter = Filter::None;
    int maxAnisotropy = 1;
};

class Device {
public:
    Device(const PresentParameters& params, const DisplayMode& mode);

    Result TestCooperativeLevel() const;
    Result Reset(const PresentParameters& params);
    Result GetBackBuffer(SurfacePtr& surface) const;
    Caps GetDeviceCaps() const { return Caps{}; }

    Result CreateRenderTarget(int width, int height, Format format, SurfacePtr& surface);
    Result CreateOffscreenPlainSurface(int width, int height, Format format, Pool pool, SurfacePtr& surface);
    // levels 0: a full chain down to 1 x 1.
    Result CreateTexture(int width, int height, int levels, std::uint32_t usage, Format format, Pool pool,
                         TexturePtr& texture);

    Result SetRenderTarget(const SurfacePtr& surface);
    Result BeginScene();
    Result EndScene();
    RenderState& State() { return m_state; }
    // Row-vector matrices (v' = v M), row r column c at r * 4 + c.
    void SetViewTransform(const float matrix[16]);
    void SetProjectionTransform(const float matrix[16]);
    Result SetViewport(const QRect& rect);
    Result SetTexture(const TexturePtr& texture);
    Result DrawPrimitiveUP(Primitive type, int primitiveCount, const void* vertices, int stride);

    // 32-bit to 32-bit (point or linear scaling) and YV12 to 32-bit (the
    // source surface's YUV matrix, alpha 255). A texture's level 0 as target
    // regenerates its mip levels when made with UsageAutoGenMipMap.
    Result StretchRect(const SurfacePtr& source, const QRect* sourceRect, const SurfacePtr& target,
                       const QRect* targetRect, Filter filter, const TexturePtr& owner = nullptr);
    Result GetRenderTargetData(const SurfacePtr& renderTarget, const SurfacePtr& systemSurface);
    // Copies rect of the back buffer into the front image; a lost device
    // answers DeviceLost.
    Result Present(const QRect& rect);

    // The front image: 32-bit pixels of the back buffer's size. The sink, when
    // set, is told each presented rectangle under the front lock.
    std::mutex& FrontLock() { return m_frontLock; }
    const std::vector<std::uint8_t>& Front() const { return m_front; }
    QSize FrontSize() const { return m_frontSize; }
    void SetPresentSink(std::function<void(const QRect&)> sink) { m_sink = std::move(sink); }

    // Loses the device as a display change would: Present fails, and
    // TestCooperativeLevel answers DeviceLost until AllowReset, then
    // DeviceNotReset until Reset.
    void LoseDevice(bool resettable);
    void AllowReset();
    // Default-pool objects of the current generation still alive.
    int LiveDefaultObjects();

private:
    void Register(const std::shared_ptr<void>& object);
    void DrawTriangle(const Vertex* const corners[3]);
    bool Current(unsigned generation) const { return generation == m_generation; }

    DisplayMode m_mode;
    unsigned m_generation = 1;
    enum class Lost { No, Waiting, NotReset } m_lost = Lost::No;
    SurfacePtr m_backBuffer;
    SurfacePtr m_target;
    TexturePtr m_texture;
    bool m_inScene = false;
    RenderState m_state;
    float m_view[16];
    float m_projection[16];
    QRect m_viewport;
    std::vector<std::weak_ptr<void>> m_defaultObjects;
    std::mutex m_frontLock;
    std::vector<std::uint8_t> m_front;
    QSize m_frontSize;
    std::function<void(const QRect&)> m_sink;
};

using DevicePtr = std::shared_ptr<Device>;

class Direct3D {
public:
    Result GetAdapterDisplayMode(DisplayMode& mode) const;
    // Only the reference type exists.
    Result CreateDevice(DeviceType type, const PresentParameters& params, DevicePtr& device);
    Result CheckDeviceFormat(DeviceType type, Format adapterFormat, std::uint32_t usage, Format format) const;

    // For tests: no device of any type, no YV12 conversion.
    bool refAvailable = true;
    bool yv12Available = true;
    // The last device made.
    DevicePtr lastDevice;
};

using Direct3DPtr = std::shared_ptr<Direct3D>;

// The SDK version argument is accepted and ignored.
Direct3DPtr Direct3DCreate9(unsigned sdkVersion);

}  // namespace platform::d3d9
