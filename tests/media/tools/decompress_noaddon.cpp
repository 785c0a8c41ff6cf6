// Decodes one H.264 frame (the payload in the file named by argv[1]) through
// CDecompressor with whatever registry GAVEX_REGISTRY_DIR names, and prints
// the result and every log line. Run by the media tests with no add-on in
// reach: it must end normally.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "base/Log.h"
#include "media/Decompressor.h"

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    getDefaultDebugInstance()->SetDebugOutputForTesting(
        [](const std::string& line) { std::fputs(line.c_str(), stdout); });
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<uint8_t> payload((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    VideoFramePtr frame(new VideoFrame(std::string(), 0), false);
    frame->AllocData(uint32_t(payload.size() + 5));
    std::memcpy(frame->m_pData, payload.data(), payload.size());
    frame->m_pData[payload.size()] = 1;
    std::memcpy(frame->m_pData + payload.size() + 1, "H264", 4);
    frame->m_cbData = uint32_t(payload.size() + 5);
    frame->m_nFormat = FrameFormatCompressed;
    frame->m_bColor = 1;
    frame->m_nWidth = 176;
    frame->m_nHeight = 144;

    CDecompressor decompressor;
    int pictures = 0;
    for (int i = 0; i < 3; ++i)
        if (decompressor.Decompress(frame.get(), 0))
            ++pictures;
    std::printf("pictures=%d\n", pictures);
    std::fflush(stdout);
    return 0;
}
