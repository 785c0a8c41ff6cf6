#include "MediaTestSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/md5.h>
}

#include "base/Log.h"

namespace mediatest {

namespace fs = std::filesystem;

namespace {

struct ScratchFolder {
    std::string path;
    ScratchFolder()
    {
        char pattern[] = "/tmp/gavex_media_XXXXXX";
        const char* made = mkdtemp(pattern);
        path = made ? made : "/tmp";
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (path != "/tmp")
            fs::remove_all(path, ignored);
    }
};

} // namespace

const std::string& ScratchDir()
{
    static ScratchFolder folder;
    return folder.path;
}

std::string UseRegistry(const std::string& name, const std::string& addonFolder)
{
    const std::string dir = ScratchDir() + "/registry_" + name;
    fs::create_directories(dir);
    std::ofstream out(dir + "/machine.reg", std::ios::trunc);
    out << "[SOFTWARE\\QOR\\Vindara\\Debug]\n"
        << "\"DebugLevel\"=\"4\"\n"
        << "\"DebugOptions\"=dword:000000f0\n";
    if (!addonFolder.empty())
        out << "[SOFTWARE\\GavexSoft\\Addons\\Brastel1]\n"
            << "\"Modules\"=\"" << addonFolder << "\"\n";
    out.close();
    setenv("GAVEX_REGISTRY_DIR", dir.c_str(), 1);
    return dir;
}

LogCapture::LogCapture()
{
    getDefaultDebugInstance()->SetDebugOutputForTesting([this](const std::string& line) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_text += line;
    });
}

LogCapture& LogCapture::Instance()
{
    // Never destroyed: the logger's threads may still write lines while the
    // process ends.
    static LogCapture* capture = new LogCapture;
    return *capture;
}

void LogCapture::Clear()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_text.clear();
}

bool LogCapture::Contains(const std::string& text) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_text.find(text) != std::string::npos;
}

std::string LogCapture::Text() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_text;
}

void UseProjectAddon()
{
    UseRegistry("addon", GAVEX_ADDON_DIR);
    LogCapture::Instance();
}

bool Run(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

bool EncodeTestPattern(const std::string& path, int width, int height, int frames,
                       const std::string& encoder, const std::string& args)
{
    return Run("ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=" + std::to_string(width) + "x" +
               std::to_string(height) + ":rate=25 -frames:v " + std::to_string(frames) + " -c:v " + encoder + " " +
               args + " '" + path + "'");
}

bool HasEncoder(const std::string& name)
{
    static const std::string list = [] {
        std::string text;
        if (FILE* pipe = popen("ffmpeg -hide_banner -encoders 2>/dev/null", "r")) {
            char chunk[4096];
            size_t got;
            while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0)
                text.append(chunk, got);
            pclose(pipe);
        }
        return text;
    }();
    return list.find(" " + name + " ") != std::string::npos;
}

std::vector<Packet> ReadPackets(const std::string& path)
{
    std::vector<Packet> packets;
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0)
        return packets;
    if (avformat_find_stream_info(input, nullptr) >= 0) {
        AVPacket* packet = av_packet_alloc();
        while (packet && av_read_frame(input, packet) >= 0) {
            packets.push_back({std::vector<uint8_t>(packet->data, packet->data + packet->size),
                               (packet->flags & AV_PKT_FLAG_KEY) != 0});
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
    }
    avformat_close_input(&input);
    return packets;
}

std::vector<std::string> ReferenceMd5s(const std::string& path, const std::string& pixelFormat)
{
    const std::string out = path + "." + pixelFormat + ".framemd5";
    std::vector<std::string> md5s;
    if (!Run("ffmpeg -hide_banner -loglevel error -y -i '" + path + "' -f framemd5 -pix_fmt " +
             pixelFormat + " '" + out + "'"))
        return md5s;
    std::ifstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t comma = line.find_last_of(',');
        std::string md5 = line.substr(comma + 1);
        md5.erase(0, md5.find_first_not_of(' '));
        md5s.push_back(md5);
    }
    return md5s;
}

std::string Md5Hex(const uint8_t* data, size_t size)
{
    uint8_t digest[16];
    av_md5_sum(digest, data, int(size));
    char hex[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

VideoFramePtr MakeCompressedFrame(const std::vector<uint8_t>& payload, const char* tag,
                                  bool keyFlag, bool key, int width, int height)
{
    VideoFramePtr frame(new VideoFrame(std::string(), 0), false);
    const uint32_t size = uint32_t(payload.size()) + (keyFlag ? 5 : 4);
    frame->AllocData(size);
    if (!payload.empty())
        std::memcpy(frame->m_pData, payload.data(), payload.size());
    uint8_t* tail = frame->m_pData + payload.size();
    if (keyFlag)
        *tail++ = key ? 1 : 0;
    std::memcpy(tail, tag, 4);
    frame->m_cbData = size;
    frame->m_nFormat = FrameFormatCompressed;
    frame->m_bColor = 1;
    frame->m_nWidth = width;
    frame->m_nHeight = height;
    return frame;
}

std::string PictureMd5(const VideoFrame& frame)
{
    if (frame.m_nFormat == FrameFormatCompressed || !frame.m_pData)
        return "";
    std::vector<uint8_t> packed;
    const uint8_t* data = frame.ContiguousData(packed);
    return data ? Md5Hex(data, frame.m_cbData) : "";
}

} // namespace mediatest
