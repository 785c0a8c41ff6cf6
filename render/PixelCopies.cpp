#include "render/PixelCopies.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "imaging/primitives/ImageCopy.h"

namespace render {

namespace {

// Every step-th byte of a row (count bytes out); the halving step has a
// vector loop. Reads stay within the step x count bytes of the row.
void TakeEvery(const std::uint8_t* in, std::uint8_t* out, int count, int step)
{
    if (step == 2) {
        int i = 0;
#ifdef __SSE2__
        // The even bytes of 32 source bytes, 16 at a time: mask each 16-bit
        // lane to its low byte and pack.
        const __m128i low = _mm_set1_epi16(0x00FF);
        for (; i + 16 <= count; i += 16) {
            const __m128i a = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i)), low);
            const __m128i b = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i + 16)), low);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
        }
#endif
        for (; i < count; ++i)
            out[i] = in[2 * i];
        return;
    }
    for (int i = 0; i < count; ++i)
        out[i] = in[static_cast<std::ptrdiff_t>(i) * step];
}

// The failures of these copies carry fixed texts (std::exception has none).
class CopyError : public std::exception {
public:
    explicit CopyError(const char* text) : m_text(text) {}
    const char* what() const noexcept override { return m_text; }

private:
    const char* m_text;
};

}  // namespace

void HalveRows(const std::uint8_t* top, const std::uint8_t* bottom, std::uint8_t* out, int count)
{
    int i = 0;
#ifdef __SSE2__
    // Per 16-bit lane: its low byte plus its high byte, for both rows; the
    // sum of four plus two, shifted, fits a byte again.
    const __m128i low = _mm_set1_epi16(0x00FF);
    const __m128i two = _mm_set1_epi16(2);
    auto pairs = [&](const std::uint8_t* row) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
        return _mm_add_epi16(_mm_and_si128(v, low), _mm_srli_epi16(v, 8));
    };
    for (; i + 16 <= count; i += 16) {
        const __m128i a = _mm_srli_epi16(
            _mm_add_epi16(_mm_add_epi16(pairs(top + 2 * i), pairs(bottom + 2 * i)), two), 2);
        const __m128i b = _mm_srli_epi16(
            _mm_add_epi16(_mm_add_epi16(pairs(top + 2 * i + 16), pairs(bottom + 2 * i + 16)), two), 2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
    }
#endif
    for (; i < count; ++i)
        out[i] = static_cast<std::uint8_t>((top[2 * i] + top[2 * i + 1] + bottom[2 * i] + bottom[2 * i + 1] + 2) >> 2);
}

void HalvePlane(const std::uint8_t* src, int srcPitch, std::uint8_t* dst, int dstPitch, const QSize& dstSize)
{
    for (int y = 0; y < dstSize.height(); ++y) {
        const std::uint8_t* top = src + static_cast<std::ptrdiff_t>(2 * y) * srcPitch;
        HalveRows(top, top + srcPitch, dst + static_cast<std::ptrdiff_t>(y) * dstPitch, dstSize.width());
    }
}

void CopyRect32(const std::uint8_t* src, int srcPitch, std::uint8_t* dst, int dstPitch, const QRect& rect,
                const QPoint& at)
{
    const std::uint8_t* from = src + static_cast<std::ptrdiff_t>(rect.top()) * srcPitch + rect.left() * 4;
    std::uint8_t* to = dst + static_cast<std::ptrdiff_t>(at.y()) * dstPitch + at.x() * 4;
    const ImageSize size{rect.right() - rect.left() + 1, rect.bottom() - rect.top() + 1};
    if (CopyImage8uC4(from, srcPitch, to, dstPitch, size) != 0)
        throw CopyError("CopyImage8uC4 error");
}

void CopyImagePlanes(const PlaneSet& source, const QSize& sourceSize, std::uint8_t* dst, int pitch, int planeHeight,
                     const QSize& copySize)
{
    if (dst == nullptr || copySize.width() < 1 || copySize.height() < 1)
        return;
    const bool decimate = sourceSize != copySize;
    // A copy size above the source size keeps whole pixels (factor 1).
    const int xs = decimate ? std::max(1, sourceSize.width() / copySize.width()) : 1;
    const int ys = decimate ? std::max(1, sourceSize.height() / copySize.height()) : 1;
    const QSize geometry(pitch, planeHeight);
    std::uint8_t* plane = dst;
    for (int k = 0; k < 3; ++k) {
        const int d = k == 0 ? 1 : 2;
        const QSize target = geometry / d;
        const int targetPitch = target.width();
        const int targetRows = target.height();
        // Whole source samples only: nothing is read past the planes the
        // caller describes.
        const QSize from(sourceSize.width() / d, sourceSize.height() / d);
        if (source.planes[k] == nullptr) {
            const int rows = std::min((copySize / d).height(), targetRows);
            if (rows > 0 && targetPitch > 0)
                std::memset(plane, 128, static_cast<std::size_t>(targetPitch) * rows);
        } else if (decimate) {
            const int rows = std::min(from.height() / ys, targetRows);
            const int columns = std::min(from.width() / xs, targetPitch);
            for (int j = 0; j < rows; ++j) {
                const std::uint8_t* in = source.planes[k] + static_cast<std::ptrdiff_t>(j) * ys * source.pitches[k];
                TakeEvery(in, plane + static_cast<std::ptrdiff_t>(j) * targetPitch, columns, xs);
            }
        } else {
            const ImageSize size{std::min(from.width(), targetPitch), std::min(from.height(), targetRows)};
            if (size.width > 0 && size.height > 0 &&
                CopyImage8uC1(source.planes[k], source.pitches[k], plane, targetPitch, size) != 0)
                throw CopyError("CopyImage8uC1 error");
        }
        plane += static_cast<std::ptrdiff_t>(targetPitch) * targetRows;
    }
}

void FillOpaqueBlack(std::uint8_t* dst, int pitch, const QSize& size)
{
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(dst + static_cast<std::ptrdiff_t>(y) * pitch);
        std::fill(row, row + size.width(), 0xFF000000u);
    }
}

QRectF ImageSourceRect(const QSize& imageSize, const QSize& textureSize)
{
    if (textureSize.width() < 1 || textureSize.height() < 1 || imageSize.width() < 1)
        return QRectF(0, 0, 0, 0);
    return QRectF(0, 0, static_cast<double>(imageSize.width()) / textureSize.width(),
                  static_cast<double>(imageSize.height()) / textureSize.height());
}

void FlipRows(std::uint8_t* image, const QSize& size)
{
    const std::size_t row = static_cast<std::size_t>(std::max(0, size.width())) * 4;
    if (row == 0 || size.height() < 2)
        return;
    std::vector<std::uint8_t> temporary(row);
    for (int i = 0; i < size.height() / 2; ++i) {
        std::uint8_t* a = image + row * i;
        std::uint8_t* b = image + row * (size.height() - 1 - i);
        std::memcpy(temporary.data(), a, row);
        std::memcpy(a, b, row);
        std::memcpy(b, temporary.data(), row);
    }
}

}  // namespace render
