#pragma once
// CCompressor: the archive engine's frame encoder. One decoded raw frame (an
// 8-bit grey plane, or planar YUV 4:2:0 or 4:2:2) becomes one compressed
// archive frame in outputBuffer, by version code:
//   55 ('7')  MJPEG: a baseline JPEG image followed by "JPEG"
//   58 (':')  PNG: an 8-bit grey PNG file followed by "PNG"
//   others from 33 up: the wavelet encoders registered from above
//             (imaging/jpeg/WaveletEncoderFactory.h); none registered, or a
//             code no encoder takes, makes every frame fail
//   0..32, 120, 121, 125 and above: every frame fails
// A compressor is used by one thread at a time.
//
// Settings (decimal strings; machine store first, then user):
//   SOFTWARE\QOR\Vindara\Video       CompressorVersion   version when 0 is given (110)
//   SOFTWARE\QOR\Vindara\Debug       DumpYUV             non-zero dumps every raw frame
//   SOFTWARE\QOR\Vindara\Video\MJPEG quality_0..quality_5  JPEG quality of each quality
//                                    index (120, 100, 80, 60, 40, 20), loaded once per
//                                    process; a default is written back.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class JpegCompressorFacade;
class YuvDumper;

namespace wavelet {
class IWaveletEncoder;
}

class CCompressor {
public:
    explicit CCompressor(int version);
    virtual ~CCompressor();
    CCompressor(const CCompressor&) = delete;
    CCompressor& operator=(const CCompressor&) = delete;

    // (Re)initialises the object. keyFlagMode 1 passes the caller's key flag
    // to wavelet encoders, 0 always asks them for a key frame. Version 0 reads
    // CompressorVersion; 122 and 124 become 110.
    void Init(int keyFlagMode, int version);

    // The size of the compressed frame in outputBuffer, or 0. colour 0: only
    // the Y plane; chromaCode 1: 4:2:0, any other: 4:2:2. Width and height
    // 1..12288. Never throws.
    int Compress(const std::uint8_t* frame, int qualityIndex, int width, int height, int colour, int keyFrame,
                 int chromaCode);

    // Deletes the wavelet encoder and frees both buffers.
    void ReleaseCodec();

    int GetVersion() const { return m_version; }
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }

    // Read by the archive writers.
    int codecEnabled = 0;
    int keyFrameNeeded = 0;
    std::uint8_t* outputBuffer = nullptr;

private:
    int CompressFrame(const std::uint8_t* frame, int qualityIndex, int width, int height, int colour, int keyFrame,
                      int chromaCode);
    bool CreateCodec();
    int CompressPng(const std::uint8_t* frame);
    void DumpFrame(const std::uint8_t* frame, int width, int height, int colour, int chromaCode);
    // Bytes of a frame of that layout (Y, then both chroma planes).
    static std::size_t PictureBytes(int width, int height, int colour, int chromaCode);

    int m_width = 0;
    int m_height = 0;
    int m_colour = 0;
    int m_keyFlagMode = 0;
    std::unique_ptr<wavelet::IWaveletEncoder> m_wavelet;
    JpegCompressorFacade* m_jpeg = nullptr;
    int m_qualityIndex = 0;
    int m_chromaMark = 0;
    int m_version = 0;
    std::int64_t m_outputSize = 0;
    std::uint8_t* m_rowBuffer = nullptr;
    std::vector<std::uint8_t> m_waveletInput;  // the encoders may mark the picture they are given
    YuvDumper* m_dumper = nullptr;
};

// The compressor version of a codec name: "MJPEG" 55, "Corvane 3.5" 110
// (exact, case-sensitive); 0 for a null, empty or other name.
int CodecVersionFromName(const char* name);

// Deletes a dump writer (closing its file) and clears the pointer; for
// callers whose compressor construction failed half-way.
void DeleteYuvDumper(YuvDumper** dumper);

namespace FrameCodecs {
class IFrameCompressor;
}

// CCompressor behind the archive writers' codec interface
// (archive/files/FrameCodecs.h).
std::unique_ptr<FrameCodecs::IFrameCompressor> MakeFrameCompressor();
// Installs MakeFrameCompressor as the process's compressor factory.
void InstallFrameCompressor();
