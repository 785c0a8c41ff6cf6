#include "WaveletSupport.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <tuple>

#include "MediaTestSupport.h"

namespace wavelettest {

constexpr int kFrames = 8;

double BytesPerPixel(const std::string& pixelFormat)
{
    if (pixelFormat == "yuv420p")
        return 1.5;
    if (pixelFormat == "yuv422p")
        return 2.0;
    return 1.0;
}

const std::vector<uint8_t>& TestPicture(const std::string& pixelFormat, int width, int height, int index)
{
    static std::mutex lock;
    static std::map<std::tuple<std::string, int, int>, std::vector<std::vector<uint8_t>>> cache;
    static const std::vector<uint8_t> none;
    std::lock_guard<std::mutex> hold(lock);
    auto& frames = cache[{pixelFormat, width, height}];
    if (frames.empty()) {
        const std::string path = mediatest::ScratchDir() + "/testsrc2_" + std::to_string(width) + "x" +
                                 std::to_string(height) + "_" + pixelFormat + ".yuv";
        if (!mediatest::Run("ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=" +
                            std::to_string(width) + "x" + std::to_string(height) +
                            ":rate=25 -frames:v " + std::to_string(kFrames) + " -pix_fmt " +
                            pixelFormat + " -f rawvideo '" + path + "'"))
            return none;
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> all((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
        const size_t size = size_t(double(width) * height * BytesPerPixel(pixelFormat));
        for (size_t at = 0; at + size <= all.size(); at += size)
            frames.emplace_back(all.begin() + long(at), all.begin() + long(at + size));
    }
    return index < int(frames.size()) ? frames[size_t(index)] : none;
}

double Psnr(const uint8_t* a, const uint8_t* b, size_t size)
{
    double sum = 0;
    for (size_t i = 0; i < size; ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0)
        return 99;
    return 10 * std::log10(255.0 * 255.0 * double(size) / sum);
}

VideoFramePtr CompressedFrame(const uint8_t* data, size_t size, int width, int height, int colour)
{
    VideoFramePtr frame(new VideoFrame(std::string(), 3), false);
    frame->AllocData(uint32_t(size));
    std::memcpy(frame->m_pData, data, size);
    frame->m_cbData = uint32_t(size);
    frame->m_nFormat = FrameFormatCompressed;
    frame->m_bColor = colour;
    frame->m_nWidth = width;
    frame->m_nHeight = height;
    return frame;
}

} // namespace wavelettest
