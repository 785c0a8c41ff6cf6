// Decodes one wavelet frame (all of the file named by argv[1], tag included;
// argv[2] x argv[3] its size) through CDecompressor with the debug switches of
// the registry that GAVEX_REGISTRY_DIR names, asks a 6.5 decompressor to
// reduce it to a quarter of its width, and prints the results and every log
// line. The switches are read once per process, hence a program of its own.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "base/Log.h"
#include "media/Decompressor.h"
#include "media/DecompressorWavelet.h"

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    getDefaultDebugInstance()->SetDebugOutputForTesting(
        [](const std::string& line) { std::fputs(line.c_str(), stdout); });
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    VideoFramePtr frame(new VideoFrame(std::string(), 5), false);
    frame->AllocData(uint32_t(data.size()));
    std::memcpy(frame->m_pData, data.data(), data.size());
    frame->m_cbData = uint32_t(data.size());
    frame->m_nFormat = FrameFormatCompressed;
    frame->m_bColor = 1;
    frame->m_nWidth = std::atoi(argv[2]);
    frame->m_nHeight = std::atoi(argv[3]);

    CDecompressor decompressor;
    VideoFramePtr picture = decompressor.Decompress(frame.get(), 0);
    if (picture)
        std::printf("picture=%dx%d\n", picture->m_nWidth, picture->m_nHeight);
    else
        std::printf("picture=none\n");

    CDecompressorCorvane65 reducer(FrameFormatYuv420);
    VideoFramePtr reduced = reducer.ExtractWidth(frame.get(), frame->m_nWidth / 4);
    std::printf("extract=%s\n", !reduced ? "none" : reduced == frame ? "same" : "reduced");
    std::fflush(stdout);
    return 0;
}
