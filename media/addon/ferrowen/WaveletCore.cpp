#include "WaveletCore.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace ferrowen {

uint32_t Load32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Load16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
void Store32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
void Store16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

int PlaneSizes(int layout, int width, int height, int widths[3], int heights[3])
{
    widths[0] = width;
    heights[0] = height;
    if (layout == kGrey) {
        widths[1] = widths[2] = heights[1] = heights[2] = 0;
        return 1;
    }
    widths[1] = widths[2] = width / 2;
    heights[1] = heights[2] = layout == k420 ? height / 2 : height;
    return 3;
}

namespace {

enum Error
{
    kOk = 0,
    kDamaged = 1,
    kNoReference = 2,
    kOutputTooLarge = 3,
};

int PlaneCount(int layout) { return layout == kGrey ? 1 : 3; }

// Visits the coefficients of the detail bands of level m (1 finest) of a
// plane in stream order, calling f(index into the Mallat array).
template <typename F>
void ForEachDetail(int stride, int width, int height, int m, F&& f)
{
    const int w0 = Halved(width, m - 1), h0 = Halved(height, m - 1);
    const int w1 = Halved(width, m), h1 = Halved(height, m);
    for (int y = 0; y < h0; ++y) {
        const int from = y < h1 ? w1 : 0;
        const size_t row = size_t(y) * size_t(stride);
        for (int x = from; x < w0; ++x)
            f(row + size_t(x));
    }
}

template <typename F>
void ForEachLow(int stride, int width, int height, int levels, F&& f)
{
    const int w = Halved(width, levels), h = Halved(height, levels);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            f(size_t(y) * size_t(stride) + size_t(x));
}

// The same visits row segment by row segment: f(index of the first, count).
template <typename F>
void ForEachDetailRow(int stride, int width, int height, int m, F&& f)
{
    const int w0 = Halved(width, m - 1), h0 = Halved(height, m - 1);
    const int w1 = Halved(width, m), h1 = Halved(height, m);
    for (int y = 0; y < h0; ++y) {
        const int from = y < h1 ? w1 : 0;
        if (w0 > from)
            f(size_t(y) * size_t(stride) + size_t(from), w0 - from);
    }
}

template <typename F>
void ForEachLowRow(int stride, int width, int height, int levels, F&& f)
{
    const int w = Halved(width, levels), h = Halved(height, levels);
    for (int y = 0; y < h; ++y)
        if (w > 0)
            f(size_t(y) * size_t(stride), w);
}

// One level of the forward S-transform over the top-left w x h region.
void Forward(int16_t* c, int stride, int w, int h, std::vector<int16_t>& scratch)
{
    const int lw = (w + 1) / 2, lh = (h + 1) / 2;
    scratch.resize(size_t(std::max(w, 1)) * size_t(std::max(h, 1)));
    int16_t* t = scratch.data();
    for (int y = 0; y < h; ++y) {
        int16_t* r = c + size_t(y) * size_t(stride);
        int16_t* o = t + size_t(y) * size_t(w);
        for (int i = 0; i < w / 2; ++i) {
            const int a = r[2 * i], b = r[2 * i + 1];
            o[i] = int16_t((a + b) >> 1);
            o[lw + i] = int16_t(a - b);
        }
        if (w & 1)
            o[lw - 1] = r[w - 1];
    }
    for (int i = 0; i < h / 2; ++i) {
        const int16_t* a = t + size_t(2 * i) * size_t(w);
        const int16_t* b = a + w;
        int16_t* lo = c + size_t(i) * size_t(stride);
        int16_t* hi = c + size_t(lh + i) * size_t(stride);
        for (int x = 0; x < w; ++x) {
            lo[x] = int16_t((a[x] + b[x]) >> 1);
            hi[x] = int16_t(a[x] - b[x]);
        }
    }
    if (h & 1)
        std::memcpy(c + size_t(lh - 1) * size_t(stride), t + size_t(h - 1) * size_t(w),
                    size_t(w) * sizeof(int16_t));
}

// One level of the inverse transform over the top-left w x h region.
void Inverse(int16_t* c, int stride, int w, int h, std::vector<int16_t>& scratch)
{
    const int lw = (w + 1) / 2, lh = (h + 1) / 2;
    scratch.resize(size_t(std::max(w, 1)) * size_t(std::max(h, 1)));
    int16_t* t = scratch.data();
    for (int i = 0; i < h / 2; ++i) {
        const int16_t* lo = c + size_t(i) * size_t(stride);
        const int16_t* hi = c + size_t(lh + i) * size_t(stride);
        int16_t* a = t + size_t(2 * i) * size_t(w);
        int16_t* b = a + w;
        for (int x = 0; x < w; ++x) {
            const int va = lo[x] + ((hi[x] + 1) >> 1);
            a[x] = int16_t(va);
            b[x] = int16_t(va - hi[x]);
        }
    }
    if (h & 1)
        std::memcpy(t + size_t(h - 1) * size_t(w), c + size_t(lh - 1) * size_t(stride),
                    size_t(w) * sizeof(int16_t));
    for (int y = 0; y < h; ++y) {
        const int16_t* r = t + size_t(y) * size_t(w);
        int16_t* o = c + size_t(y) * size_t(stride);
        for (int i = 0; i < w / 2; ++i) {
            const int va = r[i] + ((r[lw + i] + 1) >> 1);
            o[2 * i] = int16_t(va);
            o[2 * i + 1] = int16_t(va - r[lw + i]);
        }
        if (w & 1)
            o[w - 1] = r[lw - 1];
    }
}

int Quantise(int d, int step)
{
    return d >= 0 ? (d + step / 2) / step : -((-d + step / 2) / step);
}

void PutValue(std::vector<uint8_t>& raw, int q)
{
    if (q >= -127 && q <= 127) {
        raw.push_back(uint8_t(int8_t(q)));
    } else {
        raw.push_back(0x80);
        raw.push_back(uint8_t(q));
        raw.push_back(uint8_t(unsigned(q) >> 8));
    }
}

// Expands a raw chunk into exactly `count` values; false when it holds more
// or fewer.
bool ExpandValues(const std::vector<uint8_t>& raw, size_t count, std::vector<int16_t>& values)
{
    values.resize(count);
    const uint8_t* p = raw.data();
    const uint8_t* end = p + raw.size();
    size_t n = 0;
    while (p < end && n < count) {
        const int8_t b = int8_t(*p++);
        if (b != -128) {
            values[n++] = b;
            continue;
        }
        if (end - p < 2)
            return false;
        values[n++] = int16_t(uint16_t(p[0] | p[1] << 8));
        p += 2;
    }
    return n == count && p == end;
}

bool PackChunk(const std::vector<uint8_t>& raw, int deflateLevel, std::vector<uint8_t>& out)
{
    uLongf bound = compressBound(uLong(raw.size()));
    const size_t at = out.size();
    out.resize(at + 4 + bound);
    Store32(out.data() + at, uint32_t(raw.size()));
    if (compress2(out.data() + at + 4, &bound, raw.data(), uLong(raw.size()), deflateLevel) != Z_OK)
        return false;
    out.resize(at + 4 + bound);
    return true;
}

bool UnpackChunk(const uint8_t* chunk, size_t size, size_t maxRaw, std::vector<uint8_t>& raw)
{
    if (size < 4)
        return false;
    const uint32_t rawLength = Load32(chunk);
    if (rawLength > maxRaw)
        return false;
    raw.resize(rawLength);
    uLongf got = rawLength;
    if (rawLength == 0)
        return true;
    if (uncompress(raw.data(), &got, chunk + 4, uLong(size - 4)) != Z_OK || got != rawLength)
        return false;
    return true;
}

} // namespace

bool ReadPayloadInfo(const uint8_t* p, size_t size, PayloadInfo& info)
{
    if (p == nullptr || size < kPayloadHeader || p[0] != 'W')
        return false;
    info.layout = p[1];
    info.levels = p[2];
    info.key = p[3] == 1;
    if (info.layout > k422 || info.levels > kMaxLevels || p[3] > 1 || Load16(p + 4) == 0)
        return false;
    for (int i = 0; i < 3; ++i) {
        info.widths[i] = Load16(p + 8 + 2 * i);
        info.heights[i] = Load16(p + 14 + 2 * i);
    }
    const int planes = PlaneCount(info.layout);
    for (int i = 0; i < 3; ++i) {
        const bool used = i < planes;
        if (used != (info.widths[i] > 0 && info.heights[i] > 0))
            return false;
        if (!used && (info.widths[i] != 0 || info.heights[i] != 0))
            return false;
    }
    const size_t table = kPayloadHeader + 4 * size_t(info.levels + 1);
    if (size < table)
        return false;
    size_t total = table;
    for (int j = 0; j <= info.levels; ++j)
        total += Load32(p + kPayloadHeader + 4 * j);
    return total == size;
}

size_t ReducePayload(uint8_t* p, size_t size, int halvings)
{
    PayloadInfo info;
    if (!ReadPayloadInfo(p, size, info) || halvings < 0 || halvings > info.levels)
        return 0;
    if (halvings == 0)
        return size;
    const int levels = info.levels - halvings;
    const size_t oldTable = kPayloadHeader + 4 * size_t(info.levels + 1);
    const size_t newTable = kPayloadHeader + 4 * size_t(levels + 1);
    size_t kept = 0;
    for (int j = 0; j <= levels; ++j)
        kept += Load32(p + kPayloadHeader + 4 * j);
    std::memmove(p + newTable, p + oldTable, kept);
    p[2] = uint8_t(levels);
    for (int i = 0; i < 3; ++i) {
        if (info.widths[i] == 0)
            continue;
        Store16(p + 8 + 2 * i, uint16_t(Halved(info.widths[i], halvings)));
        Store16(p + 14 + 2 * i, uint16_t(Halved(info.heights[i], halvings)));
    }
    return newTable + kept;
}

bool PlaneCodec::Matches(int layout, int levels, const int widths[3], const int heights[3]) const
{
    if (layout != m_layout || levels != m_levels)
        return false;
    for (int i = 0; i < 3; ++i)
        if (m_planes[i].width != widths[i] || m_planes[i].height != heights[i])
            return false;
    return true;
}

void PlaneCodec::Reset(int layout, int levels, const int widths[3], const int heights[3])
{
    m_layout = layout;
    m_levels = levels;
    m_staleFinest = 0;
    for (int i = 0; i < 3; ++i) {
        m_planes[i].width = widths[i];
        m_planes[i].height = heights[i];
        m_planes[i].recon.assign(size_t(widths[i]) * size_t(heights[i]), 0);
    }
}

bool PlaneCodec::Encode(int layout, int levels, int width, int height,
                        const uint8_t* const planes[3], const int pitches[3], int step, bool key,
                        int deflateLevel, std::vector<uint8_t>& out)
{
    int widths[3], heights[3];
    if (layout < kGrey || layout > k422 || levels < 0 || levels > kMaxLevels || width < 2 ||
        height < 2 || width > 0xFFFF || height > 0xFFFF || step < 1 || step > 0xFFFF)
        return false;
    const int count = PlaneSizes(layout, width, height, widths, heights);
    if (!key && (!Matches(layout, levels, widths, heights) || m_staleFinest != 0))
        key = true; // no reference to code against
    if (key)
        Reset(layout, levels, widths, heights);

    const size_t start = out.size();
    out.resize(start + kPayloadHeader + 4 * size_t(levels + 1));
    uint8_t* h = out.data() + start;
    h[0] = 'W';
    h[1] = uint8_t(layout);
    h[2] = uint8_t(levels);
    h[3] = key ? 1 : 0;
    Store16(h + 4, uint16_t(step));
    Store16(h + 6, 0);
    for (int i = 0; i < 3; ++i) {
        Store16(h + 8 + 2 * i, uint16_t(widths[i]));
        Store16(h + 14 + 2 * i, uint16_t(heights[i]));
    }

    // Transform every plane into its own coefficient array.
    std::vector<int16_t> coefficients[3];
    for (int i = 0; i < count; ++i) {
        std::vector<int16_t>& c = coefficients[i];
        c.resize(size_t(widths[i]) * size_t(heights[i]));
        for (int y = 0; y < heights[i]; ++y) {
            const uint8_t* src = planes[i] + size_t(y) * size_t(pitches[i]);
            int16_t* dst = c.data() + size_t(y) * size_t(widths[i]);
            for (int x = 0; x < widths[i]; ++x)
                dst[x] = src[x];
        }
        for (int m = 1; m <= levels; ++m)
            Forward(c.data(), widths[i], Halved(widths[i], m - 1), Halved(heights[i], m - 1),
                    m_scratch);
    }

    std::vector<uint8_t> raw;
    for (int j = 0; j <= levels; ++j) {
        raw.clear();
        for (int i = 0; i < count; ++i) {
            const int16_t* c = coefficients[i].data();
            int16_t* r = m_planes[i].recon.data();
            if (j == 0) {
                ForEachLow(widths[i], widths[i], heights[i], levels, [&](size_t at) {
                    PutValue(raw, key ? c[at] - 128 : c[at] - r[at]);
                    r[at] = c[at];
                });
            } else {
                ForEachDetail(widths[i], widths[i], heights[i], levels + 1 - j, [&](size_t at) {
                    const int q = Quantise(c[at] - (key ? 0 : r[at]), step);
                    r[at] = int16_t((key ? 0 : r[at]) + q * step);
                    PutValue(raw, q);
                });
            }
        }
        const size_t before = out.size();
        if (!PackChunk(raw, deflateLevel, out))
            return false;
        Store32(out.data() + start + kPayloadHeader + 4 * j, uint32_t(out.size() - before));
    }
    return true;
}

bool PlaneCodec::Decode(const uint8_t* payload, size_t size, int halvings, const PlaneOut* out)
{
    m_error = kDamaged;
    PayloadInfo info;
    if (!ReadPayloadInfo(payload, size, info) || halvings < 0 || halvings > info.levels)
        return false;
    const int count = PlaneCount(info.layout);
    if (info.key) {
        Reset(info.layout, info.levels, info.widths, info.heights);
    } else if (!Matches(info.layout, info.levels, info.widths, info.heights) ||
               halvings < m_staleFinest) {
        // No reference, or one whose finer levels were skipped by reduced
        // decoding: nothing right can come out before the next key frame.
        m_layout = -1;
        m_error = kNoReference;
        return false;
    }
    if (out) {
        for (int i = 0; i < count; ++i) {
            if (out[i].width > Halved(info.widths[i], halvings) ||
                out[i].height > Halved(info.heights[i], halvings) || out[i].width < 0 ||
                out[i].height < 0) {
                m_error = kOutputTooLarge;
                return false;
            }
        }
    }
    const int step = Load16(payload + 4);
    const uint8_t* chunk = payload + kPayloadHeader + 4 * size_t(info.levels + 1);
    std::vector<uint8_t> raw;
    // The finest `halvings` levels are not read; their reference goes stale.
    const int chunks = info.levels - halvings;
    for (int j = 0; j <= chunks; ++j) {
        const uint32_t chunkSize = Load32(payload + kPayloadHeader + 4 * j);
        size_t values = 0;
        for (int i = 0; i < count; ++i) {
            const int w = info.widths[i], h = info.heights[i];
            const size_t outer = size_t(Halved(w, j == 0 ? info.levels : info.levels - j)) *
                                 size_t(Halved(h, j == 0 ? info.levels : info.levels - j));
            const size_t inner = j == 0 ? 0
                                        : size_t(Halved(w, info.levels + 1 - j)) *
                                              size_t(Halved(h, info.levels + 1 - j));
            values += outer - inner;
        }
        if (!UnpackChunk(chunk, chunkSize, values * 3, raw)) {
            m_layout = -1; // the reference is half updated: wait for a key frame
            return false;
        }
        // The coded values first, then each band row by row.
        if (!ExpandValues(raw, values, m_values)) {
            m_layout = -1; // the reference is half updated: wait for a key frame
            return false;
        }
        const int16_t* v = m_values.data();
        for (int i = 0; i < count; ++i) {
            int16_t* r = m_planes[i].recon.data();
            const int w = info.widths[i], h = info.heights[i];
            const auto apply = [&](size_t at, int n) {
                int16_t* row = r + at;
                if (j == 0 && info.key) {
                    for (int x = 0; x < n; ++x)
                        row[x] = int16_t(v[x] + 128);
                } else if (j == 0) {
                    for (int x = 0; x < n; ++x)
                        row[x] = int16_t(row[x] + v[x]);
                } else if (info.key) {
                    for (int x = 0; x < n; ++x)
                        row[x] = int16_t(v[x] * step);
                } else {
                    for (int x = 0; x < n; ++x)
                        row[x] = int16_t(row[x] + v[x] * step);
                }
                v += n;
            };
            if (j == 0)
                ForEachLowRow(w, w, h, info.levels, apply);
            else
                ForEachDetailRow(w, w, h, info.levels + 1 - j, apply);
        }
        chunk += chunkSize;
    }
    m_staleFinest = info.key ? halvings : std::max(m_staleFinest, halvings);
    m_error = kOk;
    if (!out)
        return true;

    for (int i = 0; i < count; ++i) {
        const int w = info.widths[i], h = info.heights[i];
        // Only the region the kept levels cover is transformed back.
        const int rw = Halved(w, halvings), rh = Halved(h, halvings);
        m_work.resize(m_planes[i].recon.size());
        for (int y = 0; y < rh; ++y)
            std::memcpy(m_work.data() + size_t(y) * size_t(w),
                        m_planes[i].recon.data() + size_t(y) * size_t(w), size_t(rw) * sizeof(int16_t));
        for (int m = info.levels; m > halvings; --m)
            Inverse(m_work.data(), w, Halved(w, m - 1), Halved(h, m - 1), m_scratch);
        const PlaneOut& o = out[i];
        for (int y = 0; y < o.height; ++y) {
            const int16_t* src = m_work.data() + size_t(y) * size_t(w);
            uint8_t* dst = o.data + size_t(y) * size_t(o.pitch);
            for (int x = 0; x < o.width; ++x)
                dst[x] = uint8_t(std::clamp<int>(src[x], 0, 255));
        }
    }
    return true;
}

} // namespace ferrowen
