// The decompressors of the wavelet codes (through the wrappers of
// media/Wavelet.h):
//   'n' / 'o'  CDecompressWavelet35     (3.5)
//   'v' / 'w'  CDecompressorCorvane65   (6.5)
//   'z' / '{'  CDecompressorCorvane71   (7.1)
// The first code of each pair gives planar 4:2:0 pictures (output format -3),
// the second the other planar layout (0). A wanted width below the stream's
// makes the library decode fewer levels; the reduced picture is then packed
// tightly. A complex frame (a key frame followed by a difference frame) is
// decoded in its two parts.
//
// Every failure gives null and, where it has one, an error line; the
// decompressor stays usable. Lengths from frame data are checked against the
// frame's size before they are used.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "media/DecompressorFormat.h"

namespace wavelet {
class Wavelet3;
class WxWl3;
class Wavelet71decoder;
class Wavelet71downscaler;
} // namespace wavelet

// Largest picture a wavelet decompressor allocates (bytes).
constexpr uint64_t kMaxWaveletPicture = 512ull << 20;

// Moves a picture decoded at a reduced size (w x h) written with the
// full-size row length and plane positions (W x H) into a tight picture, in
// place. Mode 22: 4:2:0 chroma, 21: 4:2:2 chroma, 0: luma only.
void CompactPicture(uint8_t* picture, int W, int H, int w, int h, int mode);

class CWaveletDecompressorBase : public DecompressFormat
{
public:
    VideoFramePtr ConvertToH264(VideoFrame*, int) override { return nullptr; }
    void Reset() override {}
    int GetOutputFormat() override { return m_outputFormat; }

    int GetStreamWidth() const { return m_streamWidth; }
    int GetStreamHeight() const { return m_streamHeight; }
    int GetDecodedWidth() const { return m_decodedWidth; }
    int GetDecodedHeight() const { return m_decodedHeight; }

protected:
    explicit CWaveletDecompressorBase(int outputFormat) : m_outputFormat(outputFormat) {}
    // A new picture frame for the input's header: `capacity` bytes, or null
    // (logged) when that is more than a picture may take.
    VideoFramePtr NewPicture(const VideoFrame& input, uint64_t capacity, const char* version);
    // Fills in the decoded size, the picture size and grey chroma; false when
    // the output probe fails.
    bool FinishPicture(VideoFrame& picture, const VideoFrame& input, double bytesPerPixel, bool grey);
    void ForgetSizes();

    // The names a 6.5 or 7.1 decompressor logs and tags its pictures with.
    struct HeaderFrameNames {
        const char* logTag;       // "[WXWL]"
        const char* version;      // "Corvane 6.5"
        const char* pictureName;  // "WXWL"
        bool colourFromFrame;     // picture bytes per pixel from the frame's colour flag
    };
    // Decompress of the generations whose frames carry their size at 28 and
    // 30: checks, picture allocation, Decode, probe of the result.
    VideoFramePtr DecompressHeaderFrame(VideoFrame* frame, int width, int& status, const HeaderFrameNames& names);
    virtual bool Decode(VideoFrame& frame, uint8_t* picture, int width) = 0;

    int m_streamWidth = 0;
    int m_streamHeight = 0;
    int m_decodedWidth = 0;
    int m_decodedHeight = 0;
    int m_colour = 0;
    int m_outputFormat;
};

class CDecompressWavelet35 final : public CWaveletDecompressorBase
{
public:
    explicit CDecompressWavelet35(int outputFormat);
    ~CDecompressWavelet35() override;

    VideoFramePtr Decompress(VideoFrame* frame, int width, int& status) override;
    // 3.5 frames are not reduced in the compressed domain.
    VideoFramePtr ExtractWidth(VideoFrame* frame, int width) override;
    void FreeMemory() override;

    // The library level for a wanted width (0: full size); `levels` is the
    // codec's number of levels.
    static int LevelForWidth(int levels, int streamWidth, int wantedWidth);

private:
    bool Decode(VideoFrame& frame, uint8_t* picture, int width) override;

    std::unique_ptr<wavelet::Wavelet3> m_codec;
};

class CDecompressorCorvane65 final : public CWaveletDecompressorBase
{
public:
    explicit CDecompressorCorvane65(int outputFormat);
    ~CDecompressorCorvane65() override;

    VideoFramePtr Decompress(VideoFrame* frame, int width, int& status) override;
    VideoFramePtr ExtractWidth(VideoFrame* frame, int width) override;
    void FreeMemory() override;

private:
    bool Decode(VideoFrame& frame, uint8_t* picture, int width) override;
    bool EnsureCodec(int width, int height);

    std::unique_ptr<wavelet::WxWl3> m_codec;
};

class CDecompressorCorvane71 final : public CWaveletDecompressorBase
{
public:
    explicit CDecompressorCorvane71(int outputFormat);
    ~CDecompressorCorvane71() override;

    VideoFramePtr Decompress(VideoFrame* frame, int width, int& status) override;
    VideoFramePtr ExtractWidth(VideoFrame* frame, int width) override;
    void FreeMemory() override;

private:
    bool Decode(VideoFrame& frame, uint8_t* picture, int width) override;
    bool DecodePart(const uint8_t* part, uint8_t* picture, int width);
    // The 7.1 reduction of one frame of `length` bytes: the reduced frame
    // with its tag appended to `out`; false when nothing was reduced.
    bool Reduce(const uint8_t* part, uint32_t length, int width, std::vector<uint8_t>& out);

    std::unique_ptr<wavelet::Wavelet71decoder> m_codec;
    int m_codecWidth = 0;
    int m_codecHeight = 0;
    std::unique_ptr<wavelet::Wavelet71downscaler> m_downscaler;
};
