// Wrappers of the wavelet codec libraries (media/FerrowenContract.h):
//   3.5  wavelet::Wavelet3   libFerrowen3_64.so, opened by name
//   6.5  wavelet::WxWl3      libFerrowen7_64.so, opened by name
//   7.1  wavelet::Wavelet71  libFerrowen3S140321.so, linked
// They own the frame header fields the program reads and writes (guard,
// lengths, flags, sizes, the tag "I+v" and its code byte); the payload is the
// library's. A codec object belongs to one picture size and output format and
// is used by one caller at a time.
//
// Pictures are one block: Y (width x height), then U, then V; V starts at 5/4
// of the luma area for 4:2:0 (output format -3), at 3/2 otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "media/CompressionRates.h"
#include "media/FerrowenContract.h"

namespace wavelet {

// Halvings that bring a stream width towards a wanted width: 0 when the
// wanted width is 0 or not below the stream width, else floor(log2(W / w))
// (integer division first).
int ReductionLevel(int streamWidth, int wantedWidth);

class Wavelet
{
public:
    Wavelet(int width, int height, int outputFormat)
        : m_width(width), m_height(height), m_outputFormat(outputFormat)
    {
    }
    virtual ~Wavelet() = default;
    Wavelet(const Wavelet&) = delete;
    Wavelet& operator=(const Wavelet&) = delete;

    // Decodes a frame (the caller has checked its lengths) into `picture`
    // (null: the decoder state only). Returns the decoded width | height << 16,
    // 0 on failure.
    virtual uint32_t Decompress(const uint8_t* frameHeader, uint8_t* picture, int level) = 0;
    // Encodes a picture into `out`, which holds at least width x height x 2 +
    // 64 bytes; returns the frame's length with its tag, 0 on failure.
    virtual int Compress(uint8_t* picture, uint8_t* out, int qualityIndex, int colour, int key,
                         int extra) = 0;
    virtual int GetLevels() = 0;

    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    int GetOutputFormat() const { return m_outputFormat; }

protected:
    // The plane record of a picture of this codec's size and output format
    // (a null picture gives null planes).
    FerrowenPlanes MakePlanes(const uint8_t* picture) const;

    int m_width;
    int m_height;
    int m_outputFormat;
    std::unique_ptr<uint8_t[]> m_work;
};

class Library;

// 3.5. Construction throws std::runtime_error (after logging) for a size that
// is not a multiple of 4 or a library that does not load.
class Wavelet3 final : public Wavelet
{
public:
    Wavelet3(int width, int height, int outputFormat, int type);
    ~Wavelet3() override;

    uint32_t Decompress(const uint8_t* frameHeader, uint8_t* picture, int level) override;
    int Compress(uint8_t* picture, uint8_t* out, int qualityIndex, int colour, int key,
                 int extra) override;
    int GetLevels() override;

    // The checksum test of a 3.5 frame of `size` bytes; logs why it fails.
    static bool CheckCRC(const uint8_t* frameHeader, uint32_t size);
    // The quality the encoder uses for a picture (low-resolution marker
    // already read: `row` -1 when the picture has none).
    int ChooseQuality(int row, int qualityIndex) const;

    const uint8_t* StreamRecord() const { return m_record; }

private:
    std::unique_ptr<LowResolutionTable35> m_quality;
    void* m_handle = nullptr;
    uint8_t m_record[64] = {};
    bool m_lowResolution = false;
    std::unique_ptr<Library> m_library;
    struct Functions;
    std::unique_ptr<Functions> m_fn;
};

// The codec, or null when its construction fails. The decompressors use type
// 10; the frame compressor the code minus 100.
Wavelet3* CreateWavelet3(int width, int height, int outputFormat, int type);

// 6.5.
class WxWl3 final : public Wavelet
{
public:
    WxWl3(int width, int height, int outputFormat);
    ~WxWl3() override;

    // Level is the reduction level (halvings).
    uint32_t Decompress(const uint8_t* frameHeader, uint8_t* picture, int level) override;
    int Compress(uint8_t* picture, uint8_t* out, int qualityIndex, int colour, int key,
                 int extra) override;
    int GetLevels() override;

    // Reduces a frame of `available` bytes towards `width` in the compressed
    // domain: the reduced frame with its tag in `out`, and its length; 0 when
    // nothing was reduced.
    int Downscale(const uint8_t* frameHeader, uint32_t available, std::vector<uint8_t>& out,
                  int width);

    bool IsLoaded() const;
    const uint8_t* StreamDescription() const { return m_description.get(); }
    const CompressionRates65* Rates() const { return m_rates.get(); }

private:
    bool Open(const uint8_t* description, int& error);

    std::unique_ptr<Library> m_library;
    void* m_handle = nullptr;
    std::unique_ptr<uint8_t[]> m_description;
    int32_t m_encoderParameters[8] = {};
    int m_frameCounter = 0;
    std::unique_ptr<CompressionRates65> m_rates;
    struct Functions;
    std::unique_ptr<Functions> m_fn;
};

class Wavelet71encoder;

// 7.1 encoding; 7.1 frames are decoded through Wavelet71decoder.
class Wavelet71 final : public Wavelet
{
public:
    Wavelet71(int width, int height, int encoderFlag, int outputFormat);
    ~Wavelet71() override;

    uint32_t Decompress(const uint8_t*, uint8_t*, int) override { return 0; }
    int Compress(uint8_t* picture, uint8_t* out, int qualityIndex, int colour, int key,
                 int extra) override;
    int GetLevels() override { return 0; }

    const CompressionRates71* Rates() const { return m_rates.get(); }

private:
    std::unique_ptr<Wavelet71encoder> m_encoder;
    int m_encoderType = -1;
    std::unique_ptr<CompressionRates71> m_rates;
    int m_encoderFlag;
};

class Wavelet71encoder
{
public:
    // type: 0 grey, 1 4:2:0, 2 (and any other) 4:2:2.
    Wavelet71encoder(int width, int height, int flag, int type);
    virtual ~Wavelet71encoder();
    // Returns the frame's length with its tag, 0 on failure. Difference
    // frames are coded at four times the rate.
    int Encode(const uint8_t* picture, uint8_t* out, int rate, int key);
    const uint8_t* StreamDescription() const { return m_buffer.get(); }

private:
    void* m_handle = nullptr;
    int m_width;
    int m_height;
    int m_type;
    std::unique_ptr<uint8_t[]> m_buffer;
    int m_frameCounter = 0;
};

class Wavelet71decoder
{
public:
    explicit Wavelet71decoder(const uint8_t* frameHeader);
    virtual ~Wavelet71decoder();
    bool IsOpen() const { return m_handle != nullptr; }
    // Decodes at the reduction level of `width` (capped at the frame's
    // levels); the result as the library gives it, 0 on failure.
    uint32_t Decode(const uint8_t* frameHeader, uint8_t* picture, int width);

private:
    void* m_handle = nullptr;
};

class Wavelet71downscaler
{
public:
    Wavelet71downscaler(const uint8_t* frameHeader, int level);
    virtual ~Wavelet71downscaler();
    int GetLevel() const { return m_level; }
    // Reduces the frame in `buffer` in place; its new length, 0 on failure.
    int Downscale(uint8_t* buffer);

private:
    void* m_handle = nullptr;
    int m_level;
};

} // namespace wavelet
