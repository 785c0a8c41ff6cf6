// CDecompressorImpl: the decompressor of every format code the program has no
// decoder for. It yields no pictures; with the "CheckInputFrame" switch it
// reports frames whose data cannot be read.
#pragma once

#include "media/DecompressorFormat.h"

// Debug switches of the decompressors, read once per process from
// "SOFTWARE\QOR\Vindara\Video".
struct DecompressorDebugSwitches {
    bool checkInputFrame = false;  // "CheckInputFrame", default 0
    bool checkOutputFrame = false; // "CheckOutputFrame", default 0
    bool checkCrc = false;         // "CheckCRC", default 0
    bool extractWidth = true;      // "ExtractWidth", default 1
};
const DecompressorDebugSwitches& GetDecompressorDebugSwitches();

// Whether `size` bytes at `data` can be read as a frame's data: on this
// platform a check of the bounds the frame states.
bool ProbeFrameBuffer(const uint8_t* data, uint32_t size);

class CDecompressorImpl final : public DecompressFormat
{
public:
    CDecompressorImpl();
    ~CDecompressorImpl() override;

    VideoFramePtr Decompress(VideoFrame* frame, int width, int& status) override;
    VideoFramePtr ExtractWidth(VideoFrame*, int) override { return nullptr; }
    VideoFramePtr ConvertToH264(VideoFrame*, int) override { return nullptr; }
    void Reset() override {}
    void FreeMemory() override;
    int GetOutputFormat() override { return 0; }
};
