#pragma once
// The codecs the archive writers reach from below the media and imaging
// layers: a frame decompressor (compressed VideoFrame -> decoded picture) and
// a frame compressor (decoded picture -> compressed bytes). The layers that
// own the codecs install factories at start-up; without a factory the create
// calls return null and the writer reports the missing codec.
//
// Users: the file recorder (raw frames compressed on the way to disk, reads of
// the file being written rebuilt as a key picture) and the archive reader's
// exact-read rebuild.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/VideoFrame.h"

namespace FrameCodecs {

// A stateful decoder of one stream: predicted frames decode against the
// pictures it decoded before.
class IFrameDecompressor {
public:
    virtual ~IFrameDecompressor() = default;
    // The decoded picture (the caller holds its one reference), or null when
    // the frame cannot be decoded. `width` is the width the caller wants
    // (0: full size). May throw; callers catch.
    virtual VideoFramePtr Decompress(VideoFrame* frame, int width) = 0;
};

// The frame compressor as the archive writers drive it.
class IFrameCompressor {
public:
    virtual ~IFrameCompressor() = default;
    // mode 1 from the writers; version 0 takes the configured default.
    virtual void Init(int mode, int version) = 0;
    // Compresses one picture into the output buffer and returns its size, 0 on
    // failure. key: 1 key frame, 0 the compressor's choice, -1 a key frame
    // without the periodic-key rule. layout: 0 for pictures of format -1, 1
    // for 4:2:0 planes (-3), 2 otherwise. Never throws.
    virtual int Compress(const uint8_t* picture, int codecSetting, int width, int height, int color, int key,
                         int layout) = 0;
    // The bytes of the last compression (valid until the next Compress).
    virtual const uint8_t* GetOutput() const = 0;
    // Set by Init and by callers: the next compressed frame is a key frame.
    virtual int GetKeyRequest() const = 0;
    virtual void SetKeyRequest(int value) = 0;
    // Set by Init for versions that want a key frame every 20 frames.
    virtual int GetPeriodicKey() const = 0;
    virtual int GetVersion() const = 0;
};

using DecompressorFactory = std::function<std::unique_ptr<IFrameDecompressor>()>;
using CompressorFactory = std::function<std::unique_ptr<IFrameCompressor>()>;

// Process-wide install points; an empty function removes the factory. Safe
// to call from any thread.
void SetDecompressorFactory(DecompressorFactory factory);
void SetCompressorFactory(CompressorFactory factory);
// A new codec object, or null when no factory is installed (or it fails).
std::unique_ptr<IFrameDecompressor> CreateDecompressor();
std::unique_ptr<IFrameCompressor> CreateCompressor();

// The compressor version code of a codec name: "MJPEG" 55, "Corvane 3.5"
// 110 (exact, case-sensitive); 0 for an empty or other name.
int CodecVersionFromName(const std::string& name);

}  // namespace FrameCodecs
