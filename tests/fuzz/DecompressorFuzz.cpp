// Compressed frames of every format tag through the decompressor front, as
// the player decodes archive frames. The input is split into frames: one byte
// choosing the tag, one byte of flags (key byte, key frame, half width, reset,
// drain), then a payload up to the next "FRAM" separator. The codec add-on
// built with the program decodes the codec-pack formats.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "base/VideoFrame.h"
#include "media/Decompressor.h"

#ifndef GAVEX_FUZZ_ADDON_DIR
#define GAVEX_FUZZ_ADDON_DIR ""
#endif

namespace {

constexpr const char* kTags[] = {"JPEG", "JPG1", "MPG4", "JP2K", "BSCH", "XVID", "H263", "H264",
                                 "I264", "IHIK", "S264", "T264", "H265", "MPG2", "xPNG"};

void PointRegistryAtTheAddon() {
    std::ofstream out(gavexfuzz::WorkDir() + "/reg/machine.reg", std::ios::trunc);
    out << "[SOFTWARE\\GavexSoft\\Addons\\Brastel1]\n\"Modules\"=\"" << GAVEX_FUZZ_ADDON_DIR << "\"\n";
}

VideoFramePtr MakeFrame(const std::string& payload, const uint8_t* tag, bool keyByte, bool key) {
    VideoFramePtr frame(new VideoFrame(std::string(), 1), false);
    const uint32_t size = uint32_t(payload.size()) + (keyByte ? 5 : 4);
    frame->AllocData(size);
    if (!payload.empty()) std::memcpy(frame->m_pData, payload.data(), payload.size());
    uint8_t* tail = frame->m_pData + payload.size();
    if (keyByte) *tail++ = key ? 1 : 0;
    std::memcpy(tail, tag, 4);
    frame->m_cbData = size;
    frame->m_nFormat = FrameFormatCompressed;
    frame->m_bColor = 1;
    frame->m_nWidth = 352;
    frame->m_nHeight = 288;
    return frame;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        PointRegistryAtTheAddon();
        return true;
    }();
    (void)ready;
    CDecompressor decompressor;
    const std::string input = gavexfuzz::Text(data, size);
    size_t at = 0;
    for (int frames = 0; at + 2 <= input.size() && frames < 32; ++frames) {
        const uint8_t choice = static_cast<uint8_t>(input[at]);
        const uint8_t flags = static_cast<uint8_t>(input[at + 1]);
        at += 2;
        size_t end = input.find("FRAM", at);
        if (end == std::string::npos) end = input.size();
        const std::string payload = input.substr(at, end - at);
        at = end + 4;
        uint8_t tag[4];
        const size_t tagCount = sizeof kTags / sizeof kTags[0];
        if (choice % (tagCount + 1) < tagCount) {
            std::memcpy(tag, kTags[choice % (tagCount + 1)], 4);
        } else {
            // The wavelet and other numbered codes: "I+v" and the code + 48.
            std::memcpy(tag, "I+v", 3);
            tag[3] = static_cast<uint8_t>(choice);
        }
        VideoFramePtr frame = MakeFrame(payload, tag, (flags & 1) != 0, (flags & 2) != 0);
        VideoFramePtr picture = decompressor.Decompress(frame.get(), (flags & 4) ? 176 : 0);
        if (flags & 8) decompressor.Reset();
        if (flags & 16)
            while (decompressor.Drain(0) != nullptr) {
            }
    }
    // The end of the stream: what the codec holds back comes out.
    while (decompressor.Drain(0) != nullptr) {
    }
    return 0;
}
