#include "render/OGLRendererDevice.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <GL/gl.h>
#include <GL/glext.h>
#include <QDebug>
#include <QOpenGLContext>
#include <QWidget>
#include <QWindow>
#include <boost/format.hpp>
#include <boost/make_shared.hpp>

#include "platform/D3D9.h"
#include "render/GLHelper.h"
#include "render/ImagePlacement.h"
#include "render/PixelCopies.h"

namespace render {

namespace {

// Mip levels enough for any shrink (GL stops at the 1 x 1 level).
constexpr int kAllLevels = 1000;

// Process-wide entry points, reloaded after each context creation. Only the
// render thread calls them.
struct EntryPoints {
    void(APIENTRY* bindFramebufferEXT)(GLenum, GLuint) = nullptr;
    void(APIENTRY* deleteFramebuffersEXT)(GLsizei, const GLuint*) = nullptr;
    void(APIENTRY* genFramebuffersEXT)(GLsizei, GLuint*) = nullptr;
    GLenum(APIENTRY* checkFramebufferStatusEXT)(GLenum) = nullptr;
    void(APIENTRY* framebufferTexture2DEXT)(GLenum, GLenum, GLenum, GLuint, GLint) = nullptr;
    void(APIENTRY* addSwapHintRectWIN)(GLint, GLint, GLsizei, GLsizei) = nullptr;
    void(APIENTRY* programStringARB)(GLenum, GLenum, GLsizei, const void*) = nullptr;
    void(APIENTRY* bindProgramARB)(GLenum, GLuint) = nullptr;
    void(APIENTRY* genProgramsARB)(GLsizei, GLuint*) = nullptr;
    void(APIENTRY* deleteProgramsARB)(GLsizei, const GLuint*) = nullptr;
    void(APIENTRY* activeTextureARB)(GLenum) = nullptr;
    void(APIENTRY* clientActiveTextureARB)(GLenum) = nullptr;
    void(APIENTRY* multiTexCoord2dARB)(GLenum, GLdouble, GLdouble) = nullptr;
    void(APIENTRY* generateMipmap)(GLenum) = nullptr;
};

EntryPoints g_gl;

// Each entry point with the extension that must be named for it to count:
// GLX answers every name with a stub, present or not.
struct EntryPointSpec {
    const char* name;
    const char* extension;
    void** slot;
};

template <typename F>
void** Slot(F& f)
{
    return reinterpret_cast<void**>(&f);
}

const EntryPointSpec kEntryPoints[] = {
    {"glBindFramebufferEXT", "GL_EXT_framebuffer_object", Slot(g_gl.bindFramebufferEXT)},
    {"glDeleteFramebuffersEXT", "GL_EXT_framebuffer_object", Slot(g_gl.deleteFramebuffersEXT)},
    {"glGenFramebuffersEXT", "GL_EXT_framebuffer_object", Slot(g_gl.genFramebuffersEXT)},
    {"glCheckFramebufferStatusEXT", "GL_EXT_framebuffer_object", Slot(g_gl.checkFramebufferStatusEXT)},
    {"glFramebufferTexture2DEXT", "GL_EXT_framebuffer_object", Slot(g_gl.framebufferTexture2DEXT)},
    {"glAddSwapHintRectWIN", "GL_WIN_swap_hint", Slot(g_gl.addSwapHintRectWIN)},
    {"glProgramStringARB", "GL_ARB_fragment_program", Slot(g_gl.programStringARB)},
    {"glBindProgramARB", "GL_ARB_fragment_program", Slot(g_gl.bindProgramARB)},
    {"glGenProgramsARB", "GL_ARB_fragment_program", Slot(g_gl.genProgramsARB)},
    {"glDeleteProgramsARB", "GL_ARB_fragment_program", Slot(g_gl.deleteProgramsARB)},
    {"glActiveTextureARB", "GL_ARB_multitexture", Slot(g_gl.activeTextureARB)},
    {"glClientActiveTextureARB", "GL_ARB_multitexture", Slot(g_gl.clientActiveTextureARB)},
    {"glMultiTexCoord2dARB", "GL_ARB_multitexture", Slot(g_gl.multiTexCoord2dARB)},
    {"glGenerateMipmap", "GL_ARB_framebuffer_object", Slot(g_gl.generateMipmap)},
};

// YV12 to RGB with the factors of a matrix: Y, V and U on texture units 0, 1
// and 2 (luminance textures), the alpha of the fragment colour. Luma is
// expanded from its range first; chroma is centred on 128 / 255.
std::string YV12Program(platform::YuvMatrix matrix)
{
    const platform::YuvFactors f = platform::Factors(matrix);
    const double offset = -f.y * f.yOffset / 255.0;
    const double centre = -128.0 / 255.0;
    return (boost::format("!!ARBfp1.0\n"
                          "OUTPUT res = result.color;\n"
                          "TEMP y;\n"
                          "TEMP u;\n"
                          "TEMP v;\n"
                          "TEX y, fragment.texcoord[0], texture[0], 2D;\n"
                          "TEX v, fragment.texcoord[1], texture[1], 2D;\n"
                          "TEX u, fragment.texcoord[2], texture[2], 2D;\n"
                          "MAD y, y, {%1$.6f, %1$.6f, %1$.6f}, {%2$.6f, %2$.6f, %2$.6f};\n"
                          "ADD u, u, {%3$.6f, %3$.6f, %3$.6f};\n"
                          "ADD v, v, {%3$.6f, %3$.6f, %3$.6f};\n"
                          "MAD y, u, {0, %4$.6f, %5$.6f}, y;\n"
                          "MAD y, v, {%6$.6f, %7$.6f, 0}, y;\n"
                          "MOV y.a, fragment.color.a;\n"
                          "MOV res, y;\n"
                          "END\n") %
            f.y % offset % centre % -f.gu % f.bu % f.rv % -f.gv)
        .str();
}

// Whole, blank-separated names only: "GL_EXT_framebuffer_object" must not
// match "GL_EXT_framebuffer_object_extra".
bool Names(const std::string& extensions, const char* name)
{
    const std::size_t length = std::strlen(name);
    for (std::size_t at = extensions.find(name); at != std::string::npos; at = extensions.find(name, at + 1)) {
        const bool start = at == 0 || extensions[at - 1] == ' ';
        const bool end = at + length == extensions.size() || extensions[at + length] == ' ';
        if (start && end)
            return true;
    }
    return false;
}

std::string GLString(GLenum name)
{
    const GLubyte* text = glGetString(name);
    return text != nullptr ? reinterpret_cast<const char*>(text) : std::string();
}

// Texture matrices of the first `units` units scaled by (sx, sy); unit 0
// stays active and the model-view matrix current.
void ScaleTextureUnits(int units, double sx, double sy)
{
    glMatrixMode(GL_TEXTURE);
    for (int unit = units - 1; unit >= 0; --unit) {
        if (units > 1)
            g_gl.activeTextureARB(GL_TEXTURE0_ARB + unit);
        glLoadIdentity();
        glScaled(sx, sy, 1);
    }
    glMatrixMode(GL_MODELVIEW);
}

int NextPowerOfTwo(int value)
{
    int p = 1;
    while (p < value)
        p *= 2;
    return p;
}

// Reads rect (top-down coordinates, rows counted from the bottom of a target
// of `height`) from the current read buffer into dst, top row first.
int Divide(int value, int by)
{
    return (value + by - 1) / by;
}

// Side of the squares a packed texture tells blank (all zero) ones by.
constexpr int kTile = 32;

// Means of 4 x 4 blocks of rows r[0..3] into `count` pixels of dst, rounded
// half up; returns how many it wrote.
int QuarterRows(const uchar* const r[4], uchar* dst, int count)
{
    int done = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i eight = _mm_set1_epi32(8);
    for (; done + 4 <= count; done += 4) {
        __m128i lo = zero, hi = zero;
        for (int i = 0; i < 4; ++i) {
            const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r[i] + 4 * done));
            lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(row, zero));
            hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(row, zero));
        }
        // Column pairs, then pairs of pairs: four sums of 16 pixels.
        const __m128i pairs = _mm_packs_epi32(_mm_madd_epi16(lo, ones), _mm_madd_epi16(hi, ones));
        const __m128i quads = _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(pairs, ones), eight), 4);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(quads, zero), zero);
        const int four = _mm_cvtsi128_si32(bytes);
        std::memcpy(dst + done, &four, 4);
    }
#endif
    return done;
}

// The plane (size pixels, rows `pitch` bytes apart) shrunk by `by` (2 or
// 4) in both directions: each pixel the rounded mean of its by x by block
// (blocks at the right and bottom edges clipped to the plane). Rows of `out`
// are packed; out and sums keep their storage from picture to picture.
void ReducePlane(const uchar* plane, int pitch, const QSize& size, int by, std::vector<uchar>& out,
                 std::vector<std::uint16_t>& sums)
{
    const int w = size.width(), h = size.height();
    const int ow = Divide(w, by), oh = Divide(h, by);
    out.resize(static_cast<std::size_t>(ow) * oh);
    sums.resize(static_cast<std::size_t>(ow) * by);
    const int whole = w / by;
    for (int oy = 0; oy < oh; ++oy) {
        const int top = oy * by;
        const int rows = std::min(by, h - top);
        const uchar* line = plane + static_cast<std::ptrdiff_t>(top) * pitch;
        uchar* dst = out.data() + static_cast<std::ptrdiff_t>(oy) * ow;
        // Whole blocks through the vector bodies; what they leave, and
        // blocks cut by the edges, column sums below.
        int first = 0;
        if (rows == by && by == 2) {
            HalveRows(line, line + pitch, dst, whole);
            first = whole;
        } else if (rows == by) {
            const uchar* const r[4] = {line, line + pitch, line + 2 * pitch, line + 3 * pitch};
            first = QuarterRows(r, dst, whole);
        }
        std::uint16_t* sum = sums.data();
        for (int x = first * by; x < w; ++x) {
            unsigned total = 0;
            for (int y = 0; y < rows; ++y)
                total += line[static_cast<std::ptrdiff_t>(y) * pitch + x];
            sum[x] = static_cast<std::uint16_t>(total);
        }
        for (int ox = first; ox < ow; ++ox) {
            const int columns = std::min(by, w - ox * by);
            unsigned total = 0;
            for (int k = 0; k < columns; ++k)
                total += sum[ox * by + k];
            const unsigned count = static_cast<unsigned>(columns * rows);
            dst[ox] = static_cast<uchar>((total + count / 2) / count);
        }
    }
}

void ReadRows(const QRect& rect, int height, uchar* dst, int bytesPerLine)
{
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, bytesPerLine / 4);
    glReadPixels(rect.left(), height - rect.bottom() - 1, rect.width(), rect.height(), GL_BGRA, GL_UNSIGNED_BYTE,
                 dst);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    GLHelper::CheckError();
    std::vector<uchar> row(static_cast<std::size_t>(rect.width()) * 4);
    for (int top = 0, bottom = rect.height() - 1; top < bottom; ++top, --bottom) {
        uchar* a = dst + static_cast<std::ptrdiff_t>(top) * bytesPerLine;
        uchar* b = dst + static_cast<std::ptrdiff_t>(bottom) * bytesPerLine;
        std::memcpy(row.data(), a, row.size());
        std::memcpy(a, b, row.size());
        std::memcpy(b, row.data(), row.size());
    }
}

}  // namespace

// --- texture --------------------------------------------------------------------

OGLTexture::OGLTexture(const std::shared_ptr<OGLContextState>& context, const QSize& granularity, bool smooth)
    : m_context(context), m_granularity(granularity), m_smooth(smooth)
{
}

OGLTexture::~OGLTexture()
{
    std::lock_guard<std::mutex> lock(m_context->lock);
    if (!m_context->alive)
        return;  // the names went with their context
    if (m_frameBuffer != 0)
        m_context->frameBuffers.push_back(m_frameBuffer);
    for (unsigned name : m_names)
        if (name != 0)
            m_context->textures.push_back(name);
}

uchar* OGLTexture::GetBuffer(const QSize& imageSize, int& bytesPerLine, bool planar)
{
    if (imageSize.width() < 1 || imageSize.height() < 1 || (planar && !SupportsPlanar()))
        return nullptr;
    Layout(imageSize, true, planar);
    std::lock_guard<std::mutex> lock(m_lock);
    bytesPerLine = m_pitch;
    return m_buffer.data();
}

void OGLTexture::Commit()
{
    ++m_commits;
    Invalidate(nullptr);
}

void OGLTexture::ReadPixels(const QRect& rect, uchar* dst, int bytesPerLine)
{
    FillOpaqueBlack(dst, bytesPerLine, rect.size());
    std::lock_guard<std::mutex> lock(m_lock);
    const QRect inside = rect & QRect(QPoint(0, 0), m_imageSize);
    if (inside.isEmpty() || m_buffer.empty())
        return;
    uchar* out = dst + static_cast<std::ptrdiff_t>(inside.top() - rect.top()) * bytesPerLine +
                 (inside.left() - rect.left()) * 4;
    if (!m_planar) {
        CopyRect32(m_buffer.data(), m_pitch, out, bytesPerLine, inside, QPoint(0, 0));
        return;
    }
    const uchar* y = m_buffer.data();
    const uchar* v = y + static_cast<std::ptrdiff_t>(m_pitch) * m_imageSize.height();
    const uchar* u = y + static_cast<std::ptrdiff_t>(m_pitch) * m_imageSize.height() * 5 / 4;
    platform::d3d9::ConvertYV12(y, v, u, m_pitch, inside, out, bytesPerLine, m_matrix);
}

QRectF OGLTexture::GetSourceRect()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return ImageSourceRect(m_imageSize, m_textureSize);
}

QSize OGLTexture::GetImageSize()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_imageSize;
}

bool OGLTexture::SupportsPlanar()
{
    std::lock_guard<std::mutex> lock(m_context->lock);
    return m_context->alive && m_context->planarProgram;
}

void OGLTexture::Update(const uchar* bits, const QSize& size, int bytesPerLine, const std::vector<QRect>* dirtyRects)
{
    int pitch = 0;
    uchar* buffer = GetBuffer(size, pitch, false);
    if (buffer == nullptr || bits == nullptr)
        return;
    const QRect image(QPoint(0, 0), size);
    const QRect* rects = dirtyRects != nullptr ? dirtyRects->data() : &image;
    const std::size_t count = dirtyRects != nullptr ? dirtyRects->size() : 1;
    std::lock_guard<std::mutex> lock(m_lock);
    for (std::size_t i = 0; i < count; ++i) {
        // A rectangle reaching past the image would read past the caller's
        // bits and write past the buffer.
        const QRect r = rects[i] & image;
        if (r.isEmpty())
            continue;
        CopyRect32(bits, bytesPerLine, m_buffer.data(), m_pitch, r, r.topLeft());
        m_dirty.push_back(r);
    }
}

void OGLTexture::Layout(const QSize& imageSize, bool allocate, bool planar)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_imageSize = imageSize;
    QSize grown = GrowSize(m_bufferSize.width() < 0 ? QSize(0, 0) : m_bufferSize, imageSize, m_granularity);
    // Chroma lines are half the luma pitch: an odd pitch would cut off the
    // last chroma column of an odd width.
    if (planar && grown.width() % 2 != 0)
        grown.setWidth(grown.width() + 1);
    const bool formatChanged = planar != m_planar;
    if (grown != m_bufferSize || formatChanged) {
        m_bufferSize = grown;
        m_planar = planar;
        m_pitch = planar ? grown.width() : grown.width() * 4;
    }
    if (allocate) {
        const std::size_t area = static_cast<std::size_t>(m_bufferSize.width()) * m_bufferSize.height();
        const std::size_t bytes = planar ? area * 3 / 2 + m_bufferSize.height() : area * 4;
        if (m_buffer.size() < bytes)
            m_buffer.resize(bytes);
    }
    QSize wanted = m_bufferSize;
    bool powerOfTwo = false;
    {
        std::lock_guard<std::mutex> stateLock(m_context->lock);
        powerOfTwo = m_context->powerOfTwo;
    }
    if (powerOfTwo)
        wanted = QSize(NextPowerOfTwo(wanted.width()), NextPowerOfTwo(wanted.height()));
    const QSize expanded = m_textureSize.expandedTo(wanted);
    if (expanded != m_textureSize || formatChanged) {
        m_textureSize = expanded;
        m_uploaded = false;
    }
}

void OGLTexture::Invalidate(const std::vector<QRect>* rects)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (rects != nullptr)
        m_dirty.insert(m_dirty.end(), rects->begin(), rects->end());
    else
        m_dirty.assign(1, QRect(QPoint(0, 0), m_imageSize));
}

void OGLTexture::Bind(bool smooth)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_smooth = smooth;
    // Mip levels are made only for a draw that shrinks the picture by more
    // than half (UseMipLevels): making them costs a pass over the picture.
    const bool mipmaps = false;
    const int planes = m_planar ? 3 : 1;
    bool uploaded = false;
    for (int i = 0; i < planes; ++i) {
        if (m_names[i] == 0)
            glGenTextures(1, &m_names[i]);
        if (m_planar)
            g_gl.activeTextureARB(GL_TEXTURE0_ARB + i);
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, m_names[i]);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, smooth ? GL_LINEAR : GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                        mipmaps ? GL_LINEAR_MIPMAP_LINEAR : (smooth ? GL_LINEAR : GL_NEAREST));
        // Repeating would filter a picture's left and top edges with its
        // right and bottom ones (or the storage past them): a coloured line
        // at the left of every smoothed picture. Chroma planes sampled at a
        // quarter texel inside the edge show it most.
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        if (m_dirty.empty() && m_uploaded)
            continue;
        const uchar* buffer = m_buffer.empty() ? nullptr : m_buffer.data();
        if (m_planar) {
            // Chroma planes round up so that odd sizes keep their last column
            // and row; so do the planes of a reduced picture.
            const int d = i == 0 ? 1 : 2;
            const int r = m_reduction;
            const QSize texture(Divide(m_textureSize.width(), d * r), Divide(m_textureSize.height(), d * r));
            const QSize plane(Divide(m_imageSize.width(), d), Divide(m_imageSize.height(), d));
            const QSize image(Divide(plane.width(), r), Divide(plane.height(), r));
            const std::ptrdiff_t lumaBytes = static_cast<std::ptrdiff_t>(m_pitch) * m_imageSize.height();
            const std::ptrdiff_t offset = i == 0 ? 0 : (i == 1 ? lumaBytes : lumaBytes * 5 / 4);
            const uchar* source = buffer != nullptr ? buffer + offset : nullptr;
            int rowPixels = m_pitch / d;
            if (r > 1 && source != nullptr) {
                ReducePlane(source, rowPixels, plane, r, m_reduced, m_sums);
                source = m_reduced.data();
                rowPixels = image.width();
            }
            UploadPlane(GL_LUMINANCE, GL_LUMINANCE, texture, image, !m_uploaded, source, rowPixels, 1, nullptr);
        } else {
            // Storage specified anew holds nothing: the whole image goes up.
            const std::vector<QRect>* rects = m_dirty.empty() || !m_uploaded ? nullptr : &m_dirty;
            UploadPlane(GL_RGBA8, GL_BGRA, m_textureSize, m_imageSize, !m_uploaded, buffer, m_pitch / 4, 4, rects);
            if (buffer != nullptr)
                FindBlankTiles(rects);
        }
        uploaded = true;
    }
    m_dirty.clear();
    if (uploaded) {
        m_uploaded = true;
        m_levelsStale = true;
    }
    if (m_planar) {
        // Unit 0 stays active: the texture environment of later draws is
        // set there.
        g_gl.activeTextureARB(GL_TEXTURE0_ARB);
        glEnable(GL_FRAGMENT_PROGRAM_ARB);
        g_gl.bindProgramARB(GL_FRAGMENT_PROGRAM_ARB, m_context->programs[static_cast<int>(m_matrix.load())]);
    }
}

void OGLTexture::UseMipLevels(int levels)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_smooth || g_gl.generateMipmap == nullptr || !m_uploaded || levels < 1)
        return;
    const bool make = m_levelsStale || levels > m_levels;
    const int planes = m_planar ? 3 : 1;
    for (int i = 0; i < planes; ++i) {
        if (m_planar)
            g_gl.activeTextureARB(GL_TEXTURE0_ARB + i);
        glBindTexture(GL_TEXTURE_2D, m_names[i]);
        if (make) {
            // Levels past the last one made are never sampled.
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, levels);
            g_gl.generateMipmap(GL_TEXTURE_2D);
        }
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    }
    if (make) {
        m_levels = levels;
        m_levelsStale = false;
    }
    if (m_planar)
        g_gl.activeTextureARB(GL_TEXTURE0_ARB);
}

void OGLTexture::UploadPlane(int internalFormat, int format, const QSize& textureSize, const QSize& imageSize,
                             bool allocate, const uchar* source, int rowPixels, int bytesPerPixel,
                             const std::vector<QRect>* rects)
{
    if (allocate)
        glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, textureSize.width(), textureSize.height(), 0,
                     static_cast<GLenum>(format), GL_UNSIGNED_BYTE, nullptr);
    if (source == nullptr)
        return;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, rowPixels);
    const QRect image(QPoint(0, 0), imageSize);
    const QRect* first = rects != nullptr ? rects->data() : &image;
    const std::size_t count = rects != nullptr ? rects->size() : 1;
    for (std::size_t i = 0; i < count; ++i) {
        const QRect r = first[i] & image;
        if (r.isEmpty())
            continue;
        glTexSubImage2D(GL_TEXTURE_2D, 0, r.left(), r.top(), r.width(), r.height(), static_cast<GLenum>(format),
                        GL_UNSIGNED_BYTE,
                        source + static_cast<std::ptrdiff_t>(r.top()) * rowPixels * bytesPerPixel +
                            static_cast<std::ptrdiff_t>(r.left()) * bytesPerPixel);
        // Filtering reaches half a texel past the image: the texels beside
        // its right and bottom edges repeat the edge, so that the storage
        // beyond the image never bleeds in.
        const int w = imageSize.width(), h = imageSize.height();
        if (r.right() == w - 1 && textureSize.width() > w)
            glTexSubImage2D(GL_TEXTURE_2D, 0, w, r.top(), 1, r.height(), static_cast<GLenum>(format), GL_UNSIGNED_BYTE,
                            source + static_cast<std::ptrdiff_t>(r.top()) * rowPixels * bytesPerPixel +
                                static_cast<std::ptrdiff_t>(w - 1) * bytesPerPixel);
        if (r.bottom() == h - 1 && textureSize.height() > h)
            glTexSubImage2D(GL_TEXTURE_2D, 0, r.left(), h, r.width(), 1, static_cast<GLenum>(format), GL_UNSIGNED_BYTE,
                            source + static_cast<std::ptrdiff_t>(h - 1) * rowPixels * bytesPerPixel +
                                static_cast<std::ptrdiff_t>(r.left()) * bytesPerPixel);
        if (r.right() == w - 1 && r.bottom() == h - 1 && textureSize.width() > w && textureSize.height() > h)
            glTexSubImage2D(GL_TEXTURE_2D, 0, w, h, 1, 1, static_cast<GLenum>(format), GL_UNSIGNED_BYTE,
                            source + static_cast<std::ptrdiff_t>(h - 1) * rowPixels * bytesPerPixel +
                                static_cast<std::ptrdiff_t>(w - 1) * bytesPerPixel);
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
}

void OGLTexture::Unbind()
{
    const bool planar = IsPlanar();
    if (planar)
        glDisable(GL_FRAGMENT_PROGRAM_ARB);
    for (int i = planar ? 2 : 0; i >= 0; --i) {
        if (planar)
            g_gl.activeTextureARB(GL_TEXTURE0_ARB + i);
        glDisable(GL_TEXTURE_2D);
    }
}

void OGLTexture::BeginRender()
{
    if (m_frameBuffer != 0) {
        g_gl.bindFramebufferEXT(GL_FRAMEBUFFER_EXT, m_frameBuffer);
        return;
    }
    g_gl.genFramebuffersEXT(1, &m_frameBuffer);
    g_gl.bindFramebufferEXT(GL_FRAMEBUFFER_EXT, m_frameBuffer);
    g_gl.framebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, m_names[0], 0);
    if (g_gl.checkFramebufferStatusEXT(GL_FRAMEBUFFER_EXT) == GL_FRAMEBUFFER_COMPLETE_EXT)
        return;
    g_gl.bindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    g_gl.deleteFramebuffersEXT(1, &m_frameBuffer);
    m_frameBuffer = 0;
    qDebug().noquote() << "Cannot create framebuffer\r\n";
}

void OGLTexture::ReadRendered(const QRect& rect, uchar* dst, int bytesPerLine)
{
    if (m_frameBuffer == 0) {
        // The pass fell back to the window's surface.
        GLint drawn = GL_FRONT;
        glGetIntegerv(GL_DRAW_BUFFER, &drawn);
        glReadBuffer(static_cast<GLenum>(drawn));
        ReadRows(rect, m_imageSize.height(), dst, bytesPerLine);
        return;
    }
    g_gl.bindFramebufferEXT(GL_FRAMEBUFFER_EXT, m_frameBuffer);
    GLHelper::CheckError();
    glReadBuffer(GL_COLOR_ATTACHMENT0_EXT);
    ReadRows(rect, m_imageSize.height(), dst, bytesPerLine);
    g_gl.bindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    GLHelper::CheckError();
}

void OGLTexture::FindBlankTiles(const std::vector<QRect>* rects)
{
    const int columns = Divide(m_imageSize.width(), kTile), rows = Divide(m_imageSize.height(), kTile);
    if (m_tileColumns != columns || m_tileRows != rows || rects == nullptr) {
        m_tileColumns = columns;
        m_tileRows = rows;
        m_tileUsed.assign(static_cast<std::size_t>(columns) * rows, 1);
        rects = nullptr;
    }
    const QRect image(QPoint(0, 0), m_imageSize);
    const QRect* first = rects != nullptr ? rects->data() : &image;
    const std::size_t count = rects != nullptr ? rects->size() : 1;
    for (std::size_t i = 0; i < count; ++i) {
        const QRect r = first[i] & image;
        if (r.isEmpty())
            continue;
        for (int ty = r.top() / kTile; ty <= r.bottom() / kTile; ++ty)
            for (int tx = r.left() / kTile; tx <= r.right() / kTile; ++tx) {
                const QRect tile = QRect(tx * kTile, ty * kTile, kTile, kTile) & image;
                bool used = false;
                // Stops at the first pixel that is not zero: an opaque
                // picture costs a look at one pixel a tile.
                for (int y = tile.top(); y <= tile.bottom() && !used; ++y) {
                    const auto* line = reinterpret_cast<const std::uint32_t*>(
                        m_buffer.data() + static_cast<std::ptrdiff_t>(y) * m_pitch);
                    for (int x = tile.left(); x <= tile.right(); ++x)
                        if (line[x] != 0) {
                            used = true;
                            break;
                        }
                }
                m_tileUsed[static_cast<std::size_t>(ty) * columns + tx] = used ? 1 : 0;
            }
    }
}

bool OGLTexture::UsedRects(std::vector<QRect>& rects)
{
    std::lock_guard<std::mutex> lock(m_lock);
    rects.clear();
    if (m_planar || !m_uploaded || m_tileUsed.empty() ||
        m_tileColumns != Divide(m_imageSize.width(), kTile) || m_tileRows != Divide(m_imageSize.height(), kTile))
        return false;
    const QRect image(QPoint(0, 0), m_imageSize);
    for (int ty = 0; ty < m_tileRows; ++ty) {
        const std::uint8_t* row = m_tileUsed.data() + static_cast<std::ptrdiff_t>(ty) * m_tileColumns;
        for (int tx = 0; tx < m_tileColumns;) {
            if (row[tx] == 0) {
                ++tx;
                continue;
            }
            int end = tx;
            while (end < m_tileColumns && row[end] != 0)
                ++end;
            const QRect run(tx * kTile, ty * kTile, (end - tx) * kTile, kTile);
            // Rows of the same runs make one rectangle.
            if (!rects.empty() && rects.back().left() == run.left() && rects.back().width() == run.width() &&
                rects.back().bottom() + 1 == run.top())
                rects.back().setBottom(run.bottom());
            else
                rects.push_back(run);
            tx = end;
        }
    }
    for (QRect& r : rects)
        r &= image;
    return true;
}

bool OGLTexture::ShrinkBy(double shrink)
{
    std::lock_guard<std::mutex> lock(m_lock);
    // Only smoothed pictures: a nearest-sampled one shows its own pixels.
    const int wanted = !m_planar || !m_smooth ? 1 : (shrink >= 4 ? 4 : (shrink >= 2 ? 2 : 1));
    if (wanted == m_reduction)
        return false;
    m_reduction = wanted;
    // The storage changes size: the picture goes up again, whole.
    m_uploaded = false;
    m_dirty.assign(1, QRect(QPoint(0, 0), m_imageSize));
    return true;
}

int OGLTexture::Reduction()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_reduction;
}

bool OGLTexture::IsPlanar()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_planar;
}

bool OGLTexture::IsEmpty()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_imageSize.width() < 1 || m_imageSize.height() < 1;
}

bool OGLTexture::IsUploaded()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_uploaded;
}

bool OGLTexture::IsSmooth()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_smooth;
}

QSize OGLTexture::GetTextureSize()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_textureSize;
}

// --- device ---------------------------------------------------------------------

OGLRendererDevice::OGLRendererDevice() : OGLRendererDevice(Options()) {}

OGLRendererDevice::OGLRendererDevice(const Options& options)
    : m_options(options), m_state(std::make_shared<OGLContextState>())
{
}

OGLRendererDevice::~OGLRendererDevice()
{
    // No OpenGL call here: this may run on any thread. The context's objects
    // go with it.
    m_currentTexture.reset();
    m_frameBufferTexture.reset();
    {
        std::lock_guard<std::mutex> lock(m_state->lock);
        m_state->alive = false;
        m_state->textures.clear();
        m_state->frameBuffers.clear();
    }
    m_context.reset();
}

bool OGLRendererDevice::PrepareGLWindow(QWidget* widget)
{
    if (widget == nullptr)
        return false;
    widget->setAttribute(Qt::WA_NativeWindow);
    widget->setAttribute(Qt::WA_PaintOnScreen);
    widget->setAttribute(Qt::WA_NoSystemBackground);
    QWindow* window = widget->windowHandle();
    if (window == nullptr)
        return false;
    if (window->handle() == nullptr) {
        window->setSurfaceType(QSurface::OpenGLSurface);
        QSurfaceFormat format = QSurfaceFormat::defaultFormat();
        // Double buffered: the scene is drawn out of sight and only the part
        // that changed is shown. Presents follow the render passes' own
        // timing, never the display's refresh.
        format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
        format.setSwapInterval(0);
        window->setFormat(format);
    }
    widget->winId();
    return window->surfaceType() == QSurface::OpenGLSurface;
}

bool OGLRendererDevice::IsReady()
{
    return m_ready && m_context && m_context->isValid();
}

void OGLRendererDevice::LeaveThread()
{
    if (m_context && QOpenGLContext::currentContext() == m_context.get())
        m_context->doneCurrent();
}

void OGLRendererDevice::Create(QWidget* target, const QSize& size, bool& created)
{
    QWindow* window = target != nullptr ? target->windowHandle() : nullptr;
    // The old context's objects die with it; its textures must not queue
    // names for the new one.
    m_currentTexture.reset();
    m_frameBufferTexture.reset();
    {
        std::lock_guard<std::mutex> lock(m_state->lock);
        m_state->alive = false;
    }
    m_state = std::make_shared<OGLContextState>();
    m_context.reset();
    m_window = nullptr;
    m_ready = false;
    if (window == nullptr || window->handle() == nullptr || !window->supportsOpenGL())
        throw std::runtime_error("Cannot create OpenGL device");
    m_context = std::make_unique<QOpenGLContext>();
    QSurfaceFormat format = window->requestedFormat();
    format.setDepthBufferSize(24);
    format.setStencilBufferSize(8);
    m_context->setFormat(format);
    if (!m_context->create())
        throw std::runtime_error("Cannot create OpenGL device");
    if (!m_context->makeCurrent(window))
        throw std::runtime_error("OpenGL: can't make context current");
    m_window = window;
    {
        std::lock_guard<std::mutex> lock(m_descriptionLock);
        m_description.clear();
    }
    InitExtensions();
    Resize(size);
    const std::string extensions = GLString(GL_EXTENSIONS);
    m_state->powerOfTwo = m_options.powerOfTwo || !Names(extensions, "GL_ARB_texture_non_power_of_two");
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
    glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_ALPHA, GL_REPLACE);
    m_scenes = 0;
    m_presents = 0;
    // A back buffer only where the window has one; without, a sub-buffer
    // copy does nothing and a swap shows nothing.
    const bool doubleBuffered = window->format().swapBehavior() != QSurfaceFormat::SingleBuffer &&
                                m_context->format().swapBehavior() != QSurfaceFormat::SingleBuffer;
    m_copySubBuffer = nullptr;
    if (doubleBuffered && !m_options.noSubBufferCopy)
        FindSubBufferCopy();
    if (m_copySubBuffer != nullptr)
        m_path = PresentPath::SubBufferCopy;
    else if (doubleBuffered && g_gl.bindFramebufferEXT != nullptr)
        m_path = PresentPath::FrameBufferSwap;
    else
        m_path = PresentPath::FrontBuffer;
    if (m_path == PresentPath::FrameBufferSwap)
        m_frameBufferTexture = boost::make_shared<OGLTexture>(m_state, QSize(1, 1), false);
    const GLenum buffer = m_path == PresentPath::FrontBuffer ? GL_FRONT : GL_BACK;
    glDrawBuffer(buffer);
    glReadBuffer(buffer);
    GLHelper::CheckError();
    LoadProgram();
    m_ready = true;
    created = true;
}

void OGLRendererDevice::FindSubBufferCopy()
{
    m_display = nullptr;
    m_drawable = 0;
    m_copySubBuffer = nullptr;
    using CurrentDisplay = void* (*)();
    using CurrentDrawable = unsigned long (*)();
    using CurrentContext = void* (*)();
    using QueryContext = int (*)(void*, void*, int, int*);
    using QueryExtensions = const char* (*)(void*, int);
    using CopySubBuffer = void (*)(void*, unsigned long, int, int, int, int);
    const auto currentDisplay = reinterpret_cast<CurrentDisplay>(m_context->getProcAddress("glXGetCurrentDisplay"));
    const auto currentDrawable =
        reinterpret_cast<CurrentDrawable>(m_context->getProcAddress("glXGetCurrentDrawable"));
    const auto currentContext = reinterpret_cast<CurrentContext>(m_context->getProcAddress("glXGetCurrentContext"));
    const auto queryContext = reinterpret_cast<QueryContext>(m_context->getProcAddress("glXQueryContext"));
    const auto queryExtensions =
        reinterpret_cast<QueryExtensions>(m_context->getProcAddress("glXQueryExtensionsString"));
    if (currentDisplay == nullptr || currentDrawable == nullptr || currentContext == nullptr ||
        queryContext == nullptr || queryExtensions == nullptr)
        return;  // not GLX
    void* display = currentDisplay();
    const unsigned long drawable = currentDrawable();
    void* context = currentContext();
    constexpr int kGlxScreen = 0x800C;
    int screen = 0;
    if (display == nullptr || drawable == 0 || context == nullptr ||
        queryContext(display, context, kGlxScreen, &screen) != 0)
        return;
    const char* extensions = queryExtensions(display, screen);
    // GLX answers any name with a stub: only a named extension counts.
    if (extensions == nullptr || !Names(extensions, "GLX_MESA_copy_sub_buffer"))
        return;
    const auto copy = reinterpret_cast<CopySubBuffer>(m_context->getProcAddress("glXCopySubBufferMESA"));
    if (copy == nullptr)
        return;
    m_display = display;
    m_drawable = drawable;
    m_copySubBuffer = copy;
}

void OGLRendererDevice::InitExtensions()
{
    const std::string extensions = GLString(GL_EXTENSIONS);
    qDebug().noquote() << QString::fromStdString(GetDescription());
    qDebug().noquote() << "Extensions:\r\n";
    qDebug().noquote() << QString::fromStdString(extensions);
    for (const EntryPointSpec& entry : kEntryPoints) {
        *entry.slot = nullptr;
        const bool switchedOff =
            (m_options.noFrameBuffer && std::strstr(entry.name, "FramebufferEXT") != nullptr) ||
            (m_options.noProgram && std::strstr(entry.name, "ProgramARB") != nullptr) ||
            (m_options.noProgram && std::strstr(entry.name, "ProgramsARB") != nullptr);
        if (!switchedOff && Names(extensions, entry.extension))
            *entry.slot = reinterpret_cast<void*>(m_context->getProcAddress(entry.name));
        if (*entry.slot == nullptr)
            qDebug().noquote() << QString::fromStdString(
                (boost::format("Cannot load extension: %1%\r\n") % entry.name).str());
    }
}

void OGLRendererDevice::LoadProgram()
{
    m_state->planarProgram = false;
    if (g_gl.genProgramsARB == nullptr || g_gl.bindProgramARB == nullptr || g_gl.programStringARB == nullptr ||
        g_gl.activeTextureARB == nullptr || g_gl.clientActiveTextureARB == nullptr ||
        g_gl.multiTexCoord2dARB == nullptr)
        return;
    bool accepted = true;
    glEnable(GL_FRAGMENT_PROGRAM_ARB);
    g_gl.genProgramsARB(3, m_state->programs);
    for (const platform::YuvMatrix matrix :
         {platform::YuvMatrix::Bt601Video, platform::YuvMatrix::Bt709Video, platform::YuvMatrix::Bt601Full}) {
        const std::string text = YV12Program(matrix);
        g_gl.bindProgramARB(GL_FRAGMENT_PROGRAM_ARB, m_state->programs[static_cast<int>(matrix)]);
        g_gl.programStringARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB,
                              static_cast<GLsizei>(text.size()), text.data());
        GLint position = -1;
        glGetIntegerv(GL_PROGRAM_ERROR_POSITION_ARB, &position);
        if (position != -1) {
            const GLubyte* error = glGetString(GL_PROGRAM_ERROR_STRING_ARB);
            qDebug().noquote() << (error != nullptr ? reinterpret_cast<const char*>(error) : "");
            accepted = false;
        }
    }
    glDisable(GL_FRAGMENT_PROGRAM_ARB);
    if (glGetError() != GL_NO_ERROR)
        accepted = false;
    m_state->planarProgram = accepted;
}

void OGLRendererDevice::Resize(const QSize& size)
{
    m_size = size;
}

std::string OGLRendererDevice::GetDescription()
{
    std::lock_guard<std::mutex> lock(m_descriptionLock);
    if (m_description.empty() && m_context && QOpenGLContext::currentContext() == m_context.get())
        m_description = (boost::format("OpenGL renderer.\r\nVendor:%1%\r\nRenderer:%2%\r\nVersion:%3%") %
                         GLString(GL_VENDOR) % GLString(GL_RENDERER) % GLString(GL_VERSION))
                            .str();
    return m_description;
}

void OGLRendererDevice::BeginScene()
{
    // A render thread started again finds the context released by the last.
    if (!m_context)
        throw std::runtime_error("OpenGL: can't make context current");
    if (QOpenGLContext::currentContext() != m_context.get() &&
        (m_window == nullptr || !m_context->makeCurrent(m_window)))
        throw std::runtime_error("OpenGL: can't make context current");
    ++m_scenes;
    if (m_frameBufferTexture && m_size.width() > 0 && m_size.height() > 0) {
        m_frameBufferTexture->Layout(m_size, false, false);
        if (!m_frameBufferTexture->IsUploaded()) {
            m_frameBufferTexture->Invalidate(nullptr);
            m_frameBufferTexture->Bind(m_frameBufferTexture->IsSmooth());
            m_frameBufferTexture->Unbind();
            if (m_currentTexture == m_frameBufferTexture)
                m_currentTexture.reset();
        }
        m_frameBufferTexture->BeginRender();
    }
    std::vector<unsigned> frameBuffers, textures;
    {
        std::lock_guard<std::mutex> lock(m_state->lock);
        frameBuffers.swap(m_state->frameBuffers);
        textures.swap(m_state->textures);
    }
    if (!frameBuffers.empty() && g_gl.deleteFramebuffersEXT != nullptr)
        g_gl.deleteFramebuffersEXT(static_cast<GLsizei>(frameBuffers.size()), frameBuffers.data());
    if (!textures.empty())
        glDeleteTextures(static_cast<GLsizei>(textures.size()), textures.data());
    GLHelper::CheckError();
}

void OGLRendererDevice::EndScene()
{
    if (m_frameBufferTexture) {
        g_gl.bindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
        // After a swap the back buffer holds nothing defined: all of it is
        // drawn again from the scene the texture keeps.
        glDisable(GL_SCISSOR_TEST);
        SetBlendMode(0);
        ApplyViewport(QRect(0, 0, m_size.width(), m_size.height()), false);
        SetTexture(m_frameBufferTexture, false);
        DrawQuad(QRectF(0, 0, m_size.width(), m_size.height()), m_frameBufferTexture->GetSourceRect(), 0xFFFFFFFFu,
                 0);
    }
    glDisable(GL_SCISSOR_TEST);
}

void OGLRendererDevice::SetScissor(const QRect& rect)
{
    if (rect.isNull()) {
        glDisable(GL_SCISSOR_TEST);
        return;
    }
    // Rows count from the bottom, as the viewport's do.
    glScissor(rect.left(), m_size.height() - rect.bottom() - 1, rect.width(), rect.height());
    glEnable(GL_SCISSOR_TEST);
}

void OGLRendererDevice::SetBlendMode(int mode)
{
    m_blendMode = mode;
    if (mode == 0) {
        glDisable(GL_BLEND);
        return;
    }
    glEnable(GL_BLEND);
    glTexEnvi(GL_TEXTURE_ENV, GL_SRC0_ALPHA, mode == 2 ? GL_TEXTURE : GL_PRIMARY_COLOR);
    glBlendFunc(mode == 2 ? GL_ONE : GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void OGLRendererDevice::SetViewport(const QRect& rect)
{
    ApplyViewport(rect, true);
}

void OGLRendererDevice::ApplyViewport(const QRect& rect, bool flip)
{
    glViewport(rect.left(), flip ? m_size.height() - rect.bottom() - 1 : rect.top(), rect.width(), rect.height());
    Box box;
    box.origin = {0, 0, -2000, 0};
    box.size = {static_cast<double>(rect.width()), static_cast<double>(rect.height()), 2000, 0};
    SetTransform(MakeOrthoMatrix(box, flip), 1);
}

void OGLRendererDevice::DrawQuad(const QRectF& target, const QRectF& source, std::uint32_t argb, int rotation)
{
    // Quad colours are ARGB, as on the other devices; the helper hands its
    // colour's bytes to OpenGL from the lowest up as red, green, blue, alpha.
    const std::uint32_t colour = (argb & 0xFF00FF00u) | ((argb >> 16) & 0xFFu) | ((argb & 0xFFu) << 16);
    auto* texture = static_cast<OGLTexture*>(m_currentTexture.get());
    std::function<void(double, double)> step;
    if (texture != nullptr && texture->IsEmpty()) {
        // A texture without an image is transparent black, as the other
        // devices draw it: an empty overlay covers nothing.
        GLHelper::DrawQuad(target, source, 0, step, rotation);
        return;
    }
    // A smoothed video picture shrunk by half or more goes up shrunk by 2 or
    // 4 (a box filter on the processor, cheaper than making and sampling
    // mip levels every picture). What is still shrunk by more than half
    // samples mip levels: as many as the shrink reaches, no more (each
    // costs a pass over the picture).
    if (texture != nullptr) {
        const QSize size = texture->GetTextureSize();
        const bool turned = ((rotation / 90) % 2) != 0;
        const double across = std::abs(source.width()) * size.width();
        const double down = std::abs(source.height()) * size.height();
        const double w = turned ? target.height() : target.width(), h = turned ? target.width() : target.height();
        if (across > 0 && down > 0) {
            const double shrink = std::max(across / std::max(w, 1e-3), down / std::max(h, 1e-3));
            if (texture->ShrinkBy(shrink))
                texture->Bind(texture->IsSmooth());
            const double left = shrink / texture->Reduction();
            if (left > 2)
                texture->UseMipLevels(static_cast<int>(std::ceil(std::log2(left) - 1e-9)));
        }
    }
    // Drawn premultiplied, a pixel that is all zero leaves what is below it
    // as it was: the quad is drawn only where the picture has something (an
    // overlay over the whole output is mostly blank).
    if (texture != nullptr && m_blendMode == 2 && rotation == 0 && source.width() > 0 && source.height() > 0 &&
        target.width() > 0 && target.height() > 0 && texture->UsedRects(m_usedRects)) {
        const QSize size = texture->GetTextureSize();
        const double sx = target.width() / (source.width() * size.width());
        const double sy = target.height() / (source.height() * size.height());
        const QRectF shown(source.left() * size.width(), source.top() * size.height(), source.width() * size.width(),
                           source.height() * size.height());
        const auto coordinate = [](double u, double v) { glTexCoord2d(u, v); };
        for (const QRect& used : m_usedRects) {
            // A texel of margin: filtering reaches into the neighbours.
            const QRectF part = QRectF(used).adjusted(-1, -1, 1, 1) & shown;
            if (part.isEmpty())
                continue;
            const QRectF partTarget(target.left() + (part.left() - shown.left()) * sx,
                                    target.top() + (part.top() - shown.top()) * sy, part.width() * sx,
                                    part.height() * sy);
            const QRectF partSource(part.left() / size.width(), part.top() / size.height(),
                                    part.width() / size.width(), part.height() / size.height());
            GLHelper::DrawQuad(partTarget, partSource, colour, coordinate, 0);
        }
        return;
    }
    if (texture != nullptr && texture->IsPlanar())
        step = [](double u, double v) {
            for (GLenum unit = 0; unit < 3; ++unit)
                g_gl.multiTexCoord2dARB(GL_TEXTURE0_ARB + unit, u, v);
        };
    else if (texture != nullptr)
        step = [](double u, double v) { glTexCoord2d(u, v); };
    GLHelper::DrawQuad(target, source, colour, step, rotation);
}

void OGLRendererDevice::DrawStrip(const void* vertices, int byteCount)
{
    if (byteCount <= 0 || vertices == nullptr)
        return;
    glColor4ub(255, 255, 255, 255);
    GLHelper::CheckError();
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_DOUBLE, 64, vertices);
    auto* texture = static_cast<OGLTexture*>(m_currentTexture.get());
    // A mesh may shrink any part of the picture.
    if (texture != nullptr)
        texture->UseMipLevels(kAllLevels);
    const int units = texture == nullptr ? 0 : (texture->IsPlanar() ? 3 : 1);
    const auto* coordinates = static_cast<const std::uint8_t*>(vertices) + 32;
    for (int unit = 0; unit < units; ++unit) {
        if (g_gl.clientActiveTextureARB != nullptr)
            g_gl.clientActiveTextureARB(GL_TEXTURE0_ARB + unit);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_DOUBLE, 64, coordinates);
    }
    // Mesh coordinates span the frame image; the image fills only the
    // source rectangle of a texture that grew or was rounded up.
    const QRectF source = texture != nullptr ? texture->GetSourceRect() : QRectF();
    ScaleTextureUnits(units, source.width(), source.height());
    glDrawArrays(GL_TRIANGLE_STRIP, 0, byteCount / 64);
    ScaleTextureUnits(units, 1, 1);
    // The arrays point into the caller's memory: they must not outlive the
    // call.
    for (int unit = units - 1; unit >= 0; --unit) {
        if (g_gl.clientActiveTextureARB != nullptr)
            g_gl.clientActiveTextureARB(GL_TEXTURE0_ARB + unit);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    }
    glDisableClientState(GL_VERTEX_ARRAY);
    GLHelper::CheckError();
}

void OGLRendererDevice::ConvertVertices(const std::vector<MeshVertex>& vertices, std::vector<std::uint8_t>& out)
{
    static_assert(sizeof(MeshVertex) == 64, "a mesh vertex is eight doubles");
    out.resize(vertices.size() * sizeof(MeshVertex));
    if (!out.empty())
        std::memcpy(out.data(), vertices.data(), out.size());
}

bool OGLRendererDevice::Present(const QRect& rect)
{
    switch (m_path) {
    case PresentPath::SubBufferCopy: {
        const QRect area = rect & QRect(QPoint(0, 0), m_size);
        if (area.isEmpty())
            return true;
        // Rows count from the bottom; the copy flushes what was drawn.
        m_copySubBuffer(m_display, m_drawable, area.left(), m_size.height() - area.bottom() - 1, area.width(),
                        area.height());
        break;
    }
    case PresentPath::FrameBufferSwap:
        m_context->swapBuffers(m_window);
        break;
    case PresentPath::FrontBuffer:
        glFlush();
        break;
    }
    ++m_presents;
    return true;
}

void OGLRendererDevice::ReadPixels(const QRect& rect, uchar* dst, int bytesPerLine)
{
    if (rect.width() < 1 || rect.height() < 1)
        return;
    if (m_frameBufferTexture) {
        m_frameBufferTexture->ReadRendered(rect, dst, bytesPerLine);
        return;
    }
    // The scene was drawn into the back buffer (kept by sub-buffer copies)
    // or the front buffer: read the buffer drawn into, whichever it is.
    GLint drawn = GL_FRONT;
    glGetIntegerv(GL_DRAW_BUFFER, &drawn);
    glReadBuffer(static_cast<GLenum>(drawn));
    ReadRows(rect, m_size.height(), dst, bytesPerLine);
}

TexturePtr OGLRendererDevice::CreateTexture(const QSize& granularity, bool smooth)
{
    return boost::make_shared<OGLTexture>(m_state, granularity, smooth);
}

void OGLRendererDevice::SetTexture(TexturePtr texture, bool smooth)
{
    if (texture == m_currentTexture)
        return;
    if (m_currentTexture)
        static_cast<OGLTexture*>(m_currentTexture.get())->Unbind();
    m_currentTexture = texture;
    auto* selected = static_cast<OGLTexture*>(texture.get());
    if (selected != nullptr && !selected->IsEmpty())
        selected->Bind(smooth);
    GLHelper::CheckError();
}

void OGLRendererDevice::PushState()
{
    m_blendModes.push_back(m_blendMode);
    glPushAttrib(GL_ENABLE_BIT | GL_VIEWPORT_BIT | GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
}

void OGLRendererDevice::PopState()
{
    glPopAttrib();
    if (!m_blendModes.empty()) {
        m_blendMode = m_blendModes.back();
        m_blendModes.pop_back();
    }
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

void OGLRendererDevice::SetTransform(const Matrix4x4& matrix, int kind)
{
    glMatrixMode(kind == 1 ? GL_PROJECTION : GL_MODELVIEW);
    GLfloat m[16];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[c * 4 + r] = static_cast<GLfloat>(matrix[static_cast<std::size_t>(r * 4 + c)]);
    glLoadMatrixf(m);
}

bool OGLRendererDevice::HasEntryPoint(const char* name)
{
    for (const EntryPointSpec& entry : kEntryPoints)
        if (std::strcmp(entry.name, name) == 0)
            return *entry.slot != nullptr;
    return false;
}

}  // namespace render
