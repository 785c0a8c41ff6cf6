#pragma once
// Frame codecs for tests, built on FFmpeg's libavcodec and installed behind
// the archive writers' codec interface: a JPEG compressor (the mjpeg encoder)
// standing in for the product's frame compressor, and a decompressor for the
// H.264 and MJPEG frames the test generators make. Decoded pictures are
// 4:2:0 planes (format -3) in one block.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/files/FrameCodecs.h"

namespace testsupport {

std::unique_ptr<FrameCodecs::IFrameCompressor> MakeFfmpegJpegCompressor();
std::unique_ptr<FrameCodecs::IFrameDecompressor> MakeFfmpegDecompressor();

// Installs both for the life of the object and removes them afterwards.
class ScopedTestCodecs {
public:
    explicit ScopedTestCodecs(bool compressor = true, bool decompressor = true);
    ~ScopedTestCodecs();
    ScopedTestCodecs(const ScopedTestCodecs&) = delete;
    ScopedTestCodecs& operator=(const ScopedTestCodecs&) = delete;
};

// Raw 4:2:0 pictures (Y, then U, then V) of ffmpeg's test source, made by the
// ffmpeg tool in workDir; empty when the tool is missing or fails.
std::vector<std::vector<uint8_t>> GenerateYuv420Pictures(const std::string& workDir, int count, int width,
                                                          int height);

// The planes of a JPEG (the data without its four-byte tag) decoded to 4:2:0;
// empty when it does not decode.
std::vector<uint8_t> DecodeJpegToYuv420(const uint8_t* data, size_t size, int& width, int& height);

}  // namespace testsupport
