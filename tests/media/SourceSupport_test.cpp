#include "SourceSupport_test.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

#include "MediaTestSupport.h"

namespace sourcetest {

std::string MakeMediaFile(const std::string& name, const std::string& encoderArgs, int seconds)
{
    static std::mutex lock;
    static std::map<std::string, std::string> made;
    std::lock_guard<std::mutex> guard(lock);
    auto it = made.find(name);
    if (it != made.end())
        return it->second;
    const std::string path = mediatest::ScratchDir() + "/" + name;
    const bool ok = mediatest::Run("ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=320x240:rate=25 -t " +
                                   std::to_string(seconds) + " " + encoderArgs + " '" + path + "'");
    made[name] = ok ? path : std::string();
    return made[name];
}

std::string ReferencePictureMd5(const std::string& path, int64_t ms)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", ms / 1000.0);
    const std::string out = path + "." + std::to_string(ms) + ".framemd5";
    if (!mediatest::Run(std::string("ffmpeg -hide_banner -loglevel error -y -ss ") + seconds + " -i '" + path +
                        "' -frames:v 1 -pix_fmt yuv420p -f framemd5 '" + out + "'"))
        return {};
    std::ifstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::string md5 = line.substr(line.find_last_of(',') + 1);
        md5.erase(0, md5.find_first_not_of(' '));
        return md5;
    }
    return {};
}

std::string SampleI420Md5(const render::ImageMediaSample& sample)
{
    const int w = sample.Width();
    const int h = sample.Height();
    const int pitch = sample.Pitch();
    const uint8_t* base = sample.Bytes().data();
    std::vector<uint8_t> i420;
    for (int y = 0; y < h; ++y)
        i420.insert(i420.end(), base + y * pitch, base + y * pitch + w);
    const uint8_t* v = base + pitch * h;
    const uint8_t* u = base + pitch * h * 5 / 4;
    for (const uint8_t* plane : {u, v})
        for (int y = 0; y < h / 2; ++y)
            i420.insert(i420.end(), plane + y * pitch / 2, plane + y * pitch / 2 + w / 2);
    return mediatest::Md5Hex(i420.data(), i420.size());
}

}  // namespace sourcetest
