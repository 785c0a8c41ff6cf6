// Shared helpers of the media tests: a private registry and log capture for
// the test process, streams encoded by the ffmpeg tool at test time, and
// compressed frames wrapped with their format tags.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/VideoFrame.h"

namespace mediatest {

// A folder of its own for this test process, removed at exit.
const std::string& ScratchDir();

// Points the registry store at a fresh folder whose machine scope holds the
// logger settings (every line to the capture below) and, when `addonFolder`
// is not empty, the add-on's "Modules" folder. Returns the folder.
std::string UseRegistry(const std::string& name, const std::string& addonFolder);

// The process logger's lines, captured from the first call on.
class LogCapture
{
public:
    static LogCapture& Instance();
    void Clear();
    bool Contains(const std::string& text) const;
    std::string Text() const;

private:
    LogCapture();
    mutable std::mutex m_lock;
    std::string m_text;
};

// Registry and log capture for decoding through the project's add-on; call
// first in every test that decodes.
void UseProjectAddon();

bool HasEncoder(const std::string& name);

// Runs a shell command; true when it exits with 0.
bool Run(const std::string& command);

// Encodes `frames` frames of ffmpeg's testsrc2 pattern at 25 frames a second
// into `path` with `encoder` and its `args`; true when ffmpeg succeeds.
bool EncodeTestPattern(const std::string& path, int width, int height, int frames,
                       const std::string& encoder, const std::string& args);

struct Packet {
    std::vector<uint8_t> data;
    bool key = false;
};

// The packets (access units) of a raw elementary stream, read by libavformat.
std::vector<Packet> ReadPackets(const std::string& path);

// The md5 column of `ffmpeg -f framemd5` for the stream, as lower-case hex.
std::vector<std::string> ReferenceMd5s(const std::string& path, const std::string& pixelFormat);

// MD5 of a byte range as lower-case hex.
std::string Md5Hex(const uint8_t* data, size_t size);

// A compressed frame holding the payload, then (when `keyFlag` is set) the
// key-frame byte, then the four tag bytes.
VideoFramePtr MakeCompressedFrame(const std::vector<uint8_t>& payload, const char* tag,
                                  bool keyFlag, bool key, int width, int height);

// MD5 of a decoded frame's planes, or "" when it is not a planar picture.
std::string PictureMd5(const VideoFrame& frame);

} // namespace mediatest
