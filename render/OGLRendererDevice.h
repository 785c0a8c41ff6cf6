#pragma once
// The OpenGL device and its textures: the fixed-function pipeline with the
// texture-combine environment, extension entry points loaded at run time,
// YV12 frames converted by an ARB fragment program from three luminance
// textures.
//
// The window must carry an OpenGL, double-buffered surface before its
// platform window exists (PrepareGLWindow, GUI thread). Create makes the
// context current on the calling thread (the render thread) and every other
// operation runs there. A pass draws only the area that changed (the
// scissor) and Present shows only that area, in one of three ways, the first
// the driver allows:
//  - sub-buffer copy (GLX_MESA_copy_sub_buffer): the scene is drawn straight
//    into the back buffer, which keeps everything drawn before; Present
//    copies the area to the window. No swap, no second drawing of the scene.
//  - frame-buffer objects: the scene is drawn into the frame-buffer texture,
//    which keeps it; EndScene draws that texture over the whole back buffer
//    (its contents are undefined after a swap) and Present swaps.
//  - neither: the scene is drawn into the front buffer and Present flushes.
// Nothing is painted through the widget.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "render/RendererDevice.h"

class QOpenGLContext;
class QWindow;

namespace render {

// What textures share with the context that made them: its features and the
// names they gave up, deleted by the device on the render thread at the next
// BeginScene. Once the context is gone (device destroyed or context
// replaced) it is dead and takes nothing more: the names died with it.
struct OGLContextState {
    std::mutex lock;  // guards alive and the lists
    bool alive = true;
    std::vector<unsigned> textures;
    std::vector<unsigned> frameBuffers;
    // Written by Create before any texture of the context exists.
    bool powerOfTwo = false;
    bool planarProgram = false;
    // The YV12 programs, by platform::YuvMatrix.
    unsigned programs[3] = {0, 0, 0};
};

class OGLTexture : public ITexture {
public:
    OGLTexture(const std::shared_ptr<OGLContextState>& context, const QSize& granularity,
               bool smooth);
    ~OGLTexture() override;

    void Release() override {}
    void Restore() override {}
    uchar* GetBuffer(const QSize& imageSize, int& bytesPerLine, bool planar) override;
    void Commit() override;
    // Reads the texture's own memory buffer (planar images converted on the
    // processor), so no frame buffer is switched and no OpenGL call is made;
    // pixels outside the image read as opaque black.
    void ReadPixels(const QRect& rect, uchar* dst, int bytesPerLine) override;
    QRectF GetSourceRect() override;
    QSize GetImageSize() override;
    bool SupportsPlanar() override;
    void SetYuvMatrix(platform::YuvMatrix matrix) override { m_matrix = matrix; }
    void Update(const uchar* bits, const QSize& size, int bytesPerLine,
                const std::vector<QRect>* dirtyRects) override;

    // Lays the buffer (when allocate) and the texture storage out for an image.
    void Layout(const QSize& imageSize, bool allocate, bool planar);
    // Marks rectangles (or the whole image) for upload at the next Bind.
    void Invalidate(const std::vector<QRect>* rects);
    // Enables the texture unit(s), uploads what is dirty and, for planar
    // images, enables the YV12 program.
    void Bind(bool smooth);
    // Bound and smooth: makes mip levels 1 to `levels` of what was uploaded
    // (when they are out of date or fewer) and filters through them.
    void UseMipLevels(int levels);
    void Unbind();
    // Directs drawing into the texture through its frame buffer; falls back
    // to the window's frame buffer when one cannot be completed.
    void BeginRender();
    // Frame-buffer texture: reads rect of what was drawn into it, top row
    // first.
    void ReadRendered(const QRect& rect, uchar* dst, int bytesPerLine);

    // A planar, smoothed picture about to be drawn shrunk by `shrink`: picks
    // the reduction its uploads use (1, 2 or 4). True when that changed, and
    // the picture must be bound again to go up anew.
    bool ShrinkBy(double shrink);
    // The reduction of what was uploaded last (1: the picture as it is).
    int Reduction();
    // A packed picture: the image rectangles that hold a pixel that is not
    // all zero, as uploaded (bounds of blank-or-not squares). False when not
    // known (planar, nothing uploaded).
    bool UsedRects(std::vector<QRect>& rects);
    // Pictures committed so far (a benchmark tells new pictures by it).
    std::uint64_t CommitCount() const { return m_commits; }
    bool IsPlanar();
    bool IsEmpty();
    bool IsUploaded();
    bool IsSmooth();
    QSize GetTextureSize();

private:
    // Tells which squares of the dirty rectangles (all when null) are blank;
    // m_lock held.
    void FindBlankTiles(const std::vector<QRect>* rects);
    void UploadPlane(int internalFormat, int format, const QSize& textureSize, const QSize& imageSize, bool allocate,
                     const uchar* source, int rowPixels, int bytesPerPixel, const std::vector<QRect>* rects);

    const std::shared_ptr<OGLContextState> m_context;
    QSize m_textureSize{-1, -1};
    QSize m_imageSize{-1, -1};
    QSize m_bufferSize{-1, -1};
    const QSize m_granularity;
    int m_pitch = 0;
    std::vector<uchar> m_buffer;
    std::vector<QRect> m_dirty;
    std::mutex m_lock;
    bool m_uploaded = false;
    bool m_levelsStale = true;
    int m_levels = 0;  // mip levels made past the picture
    int m_reduction = 1;
    std::vector<uchar> m_reduced;        // a reduced plane, packed
    std::vector<std::uint16_t> m_sums;  // column sums of the rows of a block
    std::vector<std::uint8_t> m_tileUsed;  // by square, rows first
    int m_tileColumns = 0;
    int m_tileRows = 0;
    unsigned m_names[3] = {0, 0, 0};
    unsigned m_frameBuffer = 0;
    bool m_planar = false;
    bool m_smooth;
    std::atomic<platform::YuvMatrix> m_matrix{platform::YuvMatrix::Bt601Video};
    std::atomic<std::uint64_t> m_commits{0};
};

class OGLRendererDevice : public IRendererDevice {
public:
    // Switches that turn features off although the driver has them.
    struct Options {
        bool noFrameBuffer = false;
        bool noProgram = false;
        bool powerOfTwo = false;
        // Present swaps (or flushes the front buffer) even where the driver
        // copies parts of the back buffer.
        bool noSubBufferCopy = false;
    };

    // How the scene reaches the window (see above).
    enum class PresentPath { SubBufferCopy, FrameBufferSwap, FrontBuffer };

    OGLRendererDevice();
    explicit OGLRendererDevice(const Options& options);
    ~OGLRendererDevice() override;

    // GUI thread, before the widget's platform window exists (before it is
    // shown or its winId asked): gives the widget a native window with an
    // OpenGL, single-buffered surface that Qt never paints, and creates the
    // platform window. False when the platform window existed already with
    // another surface (Create will then fail).
    static bool PrepareGLWindow(QWidget* widget);
    bool PrepareWindow(QWidget* widget) override { return PrepareGLWindow(widget); }

    bool IsReady() override;
    // Releases the context from the render thread, so that it can be
    // destroyed, or made current again by a later render thread.
    void LeaveThread() override;
    // Throws std::exception "Cannot create OpenGL device" when no context can
    // be made for the window, "OpenGL: can't make context current" when it
    // cannot be made current. Always reports created.
    void Create(QWidget* window, const QSize& size, bool& created) override;
    void Resize(const QSize& size) override;
    std::string GetDescription() override;
    void BeginScene() override;
    void EndScene() override;
    void SetBlendMode(int mode) override;
    void SetViewport(const QRect& rect) override;
    // The scissor test, over the scene and its copy to the window.
    void SetScissor(const QRect& rect) override;
    void DrawQuad(const QRectF& target, const QRectF& source, std::uint32_t colour, int rotation) override;
    void DrawStrip(const void* vertices, int byteCount) override;
    void ConvertVertices(const std::vector<MeshVertex>& vertices, std::vector<std::uint8_t>& out) override;
    void CopyToBackBuffer(const QRect&) override {}
    bool Present(const QRect& rect) override;
    void ReadPixels(const QRect& rect, uchar* dst, int bytesPerLine) override;
    TexturePtr CreateTexture(const QSize& granularity, bool smooth) override;
    void SetTexture(TexturePtr texture, bool smooth) override;
    void PushState() override;
    void PopState() override;
    void SetTransform(const Matrix4x4& matrix, int kind) override;

    // The context of the last Create (null before it); for callers that make
    // their own context current in between.
    QOpenGLContext* Context() const { return m_context.get(); }
    bool HasFrameBufferTexture() const { return static_cast<bool>(m_frameBufferTexture); }
    bool SupportsPlanarProgram() const { return m_state->planarProgram; }
    bool UsesPowerOfTwo() const { return m_state->powerOfTwo; }
    PresentPath GetPresentPath() const { return m_path; }
    // Scenes begun and presents that reached the window (copies, swaps or
    // flushes) since Create: a pass with nothing changed adds to neither.
    std::uint64_t SceneCount() const { return m_scenes; }
    std::uint64_t PresentCount() const { return m_presents; }
    // The entry point was named by GL_EXTENSIONS and loaded (render thread).
    static bool HasEntryPoint(const char* name);

private:
    void InitExtensions();
    void LoadProgram();
    void ApplyViewport(const QRect& rect, bool flip);
    // Looks for the sub-buffer copy of the current drawable (render thread).
    void FindSubBufferCopy();

    const Options m_options;
    std::unique_ptr<QOpenGLContext> m_context;
    QWindow* m_window = nullptr;  // the surface the context was made current on
    bool m_ready = false;
    QSize m_size{-1, -1};
    std::shared_ptr<OGLContextState> m_state;
    boost::shared_ptr<OGLTexture> m_frameBufferTexture;
    std::string m_description;
    std::mutex m_descriptionLock;
    TexturePtr m_currentTexture;
    int m_blendMode = 0;
    std::vector<int> m_blendModes;  // saved by PushState
    std::vector<QRect> m_usedRects;  // kept from draw to draw
    PresentPath m_path = PresentPath::FrontBuffer;
    // The GLX display and drawable of the sub-buffer copy, and its entry
    // point (X11 types kept out of this header).
    void* m_display = nullptr;
    unsigned long m_drawable = 0;
    void (*m_copySubBuffer)(void*, unsigned long, int, int, int, int) = nullptr;
    std::atomic<std::uint64_t> m_scenes{0};
    std::atomic<std::uint64_t> m_presents{0};
};

}  // namespace render
