// The plane codec shared by the three wavelet libraries: an integer Haar
// (S-) transform of each plane over a number of levels, detail bands
// quantised by a step, every band written as bytes and packed with zlib, one
// zlib chunk per level so that the finest levels can be dropped without
// decoding (compressed-domain reduction). Difference frames code each
// coefficient against the previous frame's reconstruction, so encoder and
// decoder never drift apart.
//
// Payload layout (little-endian):
//   0  u8  'W'            4  u16 quantiser step
//   1  u8  layout         6  u16 0
//   2  u8  levels         8  u16 plane widths [3], u16 plane heights [3]
//   3  u8  1 key, 0 difference
//   20 u32 chunk sizes [levels + 1], then the chunks: chunk 0 the coarsest
//      low bands of every plane, chunk j the detail bands of level
//      levels + 1 - j (coarse to fine). A chunk is a u32 raw length and the
//      zlib stream of the raw bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ferrowen {

enum Layout : int
{
    kGrey = 0,
    k420 = 1,
    k422 = 2,
};

constexpr int kMaxLevels = 7;
constexpr size_t kPayloadHeader = 20;

// Where a decoder writes one plane: `width` x `height` pixels, rows `pitch`
// bytes apart.
struct PlaneOut {
    uint8_t* data = nullptr;
    int pitch = 0;
    int width = 0;
    int height = 0;
};

class PlaneCodec
{
public:
    // Appends a payload for the picture to `out`. `planes`/`pitches` give
    // luma and (unless grey) the two chroma planes of a width x height picture.
    // Returns false for a geometry the codec cannot hold.
    bool Encode(int layout, int levels, int width, int height, const uint8_t* const planes[3],
                const int pitches[3], int step, bool key, int deflateLevel,
                std::vector<uint8_t>& out);

    // Decodes a payload of `size` bytes, dropping the finest `halvings`
    // levels (whose reference then goes out of date). With `out` null only the
    // reference state is updated. The output planes must lie within the
    // reduced band sizes. False for a damaged payload, a difference frame
    // without a matching reference (or asking for levels skipped since the
    // key frame), or output that does not fit.
    bool Decode(const uint8_t* payload, size_t size, int halvings, const PlaneOut* out);

    // The most recent decode's failure reason (0 none).
    int LastError() const { return m_error; }

private:
    struct Plane {
        int width = 0;
        int height = 0;
        std::vector<int16_t> recon; // reconstructed coefficients (Mallat layout)
    };
    bool Matches(int layout, int levels, const int widths[3], const int heights[3]) const;
    void Reset(int layout, int levels, const int widths[3], const int heights[3]);

    int m_layout = -1;
    int m_levels = 0;
    int m_staleFinest = 0; // finest levels whose reference is out of date
    Plane m_planes[3];
    std::vector<int16_t> m_work;
    std::vector<int16_t> m_scratch;
    std::vector<int16_t> m_values;
    int m_error = 0;
};

// Facts read from a payload header; false when it is damaged.
struct PayloadInfo {
    int layout = 0;
    int levels = 0;
    bool key = false;
    int widths[3] = {};
    int heights[3] = {};
};
bool ReadPayloadInfo(const uint8_t* payload, size_t size, PayloadInfo& info);

// Drops the finest `halvings` levels of a payload in place; returns its new
// size, 0 when it is damaged or has fewer levels.
size_t ReducePayload(uint8_t* payload, size_t size, int halvings);

// Plane sizes of a picture of the layout (chroma halved across, and down for
// 4:2:0); the count of planes.
int PlaneSizes(int layout, int width, int height, int widths[3], int heights[3]);

// The band size after `halvings` halvings of a size.
inline int Halved(int size, int halvings)
{
    for (int i = 0; i < halvings; ++i)
        size = (size + 1) / 2;
    return size;
}

uint32_t Load32(const uint8_t* p);
uint16_t Load16(const uint8_t* p);
void Store32(uint8_t* p, uint32_t v);
void Store16(uint8_t* p, uint16_t v);

} // namespace ferrowen
