// Makes the wavelet codecs when the libraries opened by name are out of
// reach, and prints what each operation gives and every log line. Run by the
// media tests with the loader told to ignore the program's run path.
#include <cstdio>
#include <memory>
#include <vector>

#include "base/Log.h"
#include "imaging/jpeg/WaveletEncoderFactory.h"
#include "media/Wavelet.h"

int main()
{
    getDefaultDebugInstance()->SetDebugOutputForTesting(
        [](const std::string& line) { std::fputs(line.c_str(), stdout); });
    std::unique_ptr<wavelet::Wavelet3> v35(wavelet::CreateWavelet3(352, 288, -3, 10));
    std::printf("v35=%s\n", v35 ? "made" : "none");

    wavelet::WxWl3 v65(352, 288, -3);
    std::vector<uint8_t> picture(352 * 288 * 3 / 2, 0x40), out(352 * 288 * 2 + 64);
    std::vector<uint8_t> frame(64, 0xFF);
    std::printf("v65 loaded=%d compress=%d decompress=%u levels=%d\n", int(v65.IsLoaded()),
                v65.Compress(picture.data(), out.data(), 3, 1, 1, 5),
                v65.Decompress(frame.data(), picture.data(), 0), v65.GetLevels());
    std::printf("encoders n=%d v=%d z=%d\n",
                int(wavelet::CreateWaveletEncoder('n', 352, 288, -3) != nullptr),
                int(wavelet::CreateWaveletEncoder('v', 352, 288, -3) != nullptr),
                int(wavelet::CreateWaveletEncoder('z', 352, 288, -3) != nullptr));
    std::fflush(stdout);
    return 0;
}
