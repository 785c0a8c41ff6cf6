// Wavelet decoding speed: 1080p 4:2:0 frames (a key frame and nine difference
// frames of ffmpeg's testsrc2 pattern) through CDecompressor at full size and
// at a wanted width of 480, beside zlib's uncompress of the same frames' zlib
// streams (the libraries' payloads are zlib streams per wavelet level).
// Counters: fps of each, "full_over_zlib" and "reduced_over_zlib" (time
// ratios to the uncompress of the whole payload) and "reduced_over_full".
#include <benchmark/benchmark.h>

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/VideoFrame.h"
#include "media/Decompressor.h"
#include "media/Wavelet.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 10;

uint32_t Word(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Material {
    std::string folder;
    std::vector<std::vector<uint8_t>> pictures;

    Material()
    {
        char pattern[] = "/tmp/gavex_wavelet_bench_XXXXXX";
        if (const char* made = mkdtemp(pattern))
            folder = made;
        // A registry of our own: the rate tables must not touch the machine's.
        setenv("GAVEX_REGISTRY_DIR", folder.c_str(), 1);
        const std::string path = folder + "/pictures.yuv";
        const std::string make = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=" +
                                 std::to_string(kWidth) + "x" + std::to_string(kHeight) +
                                 ":rate=25 -frames:v " + std::to_string(kFrames) +
                                 " -pix_fmt yuv420p -f rawvideo '" + path + "'";
        if (std::system(make.c_str()) != 0)
            return;
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t size = size_t(kWidth) * kHeight * 3 / 2;
        for (size_t at = 0; at + size <= all.size(); at += size)
            pictures.emplace_back(all.begin() + long(at), all.begin() + long(at + size));
    }
    ~Material()
    {
        std::error_code ignored;
        if (!folder.empty())
            std::filesystem::remove_all(folder, ignored);
    }
};

Material& TheMaterial()
{
    static Material material;
    return material;
}

struct Encoded {
    std::vector<VideoFramePtr> frames;
    // Each frame's zlib streams: (start, length) within its data.
    std::vector<std::vector<std::pair<uint32_t, uint32_t>>> streams;
};

Encoded Encode(wavelet::Wavelet& codec, uint32_t payloadAt)
{
    Encoded e;
    std::vector<uint8_t> out(size_t(kWidth) * kHeight * 2 + 64);
    for (size_t i = 0; i < TheMaterial().pictures.size(); ++i) {
        std::vector<uint8_t> picture = TheMaterial().pictures[i];
        const int n = codec.Compress(picture.data(), out.data(), 1, 1, i == 0, 5);
        if (n <= 0)
            return {};
        VideoFramePtr frame(new VideoFrame(std::string(), 0), false);
        frame->AllocData(uint32_t(n));
        std::memcpy(frame->m_pData, out.data(), size_t(n));
        frame->m_cbData = uint32_t(n);
        frame->m_nFormat = FrameFormatCompressed;
        frame->m_bColor = 1;
        frame->m_nWidth = kWidth;
        frame->m_nHeight = kHeight;
        // The payload: 20 header bytes, a size per level + 1, then the chunks
        // (a raw length and a zlib stream each).
        const uint8_t* payload = frame->m_pData + payloadAt;
        const int levels = payload[2];
        uint32_t at = payloadAt + 20 + 4 * uint32_t(levels + 1);
        std::vector<std::pair<uint32_t, uint32_t>> chunks;
        for (int j = 0; j <= levels; ++j) {
            const uint32_t size = Word(payload + 20 + 4 * j);
            chunks.emplace_back(at, size);
            at += size;
        }
        e.frames.push_back(frame);
        e.streams.push_back(chunks);
    }
    return e;
}

double DecodeAll(const Encoded& e, int width, int64_t& decoded)
{
    const auto start = std::chrono::steady_clock::now();
    CDecompressor decompressor;
    for (const VideoFramePtr& frame : e.frames) {
        VideoFramePtr picture = decompressor.Decompress(frame.get(), width);
        if (picture && picture->m_nWidth == (width ? width : kWidth))
            ++decoded;
        benchmark::DoNotOptimize(picture);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double UncompressAll(const Encoded& e, std::vector<uint8_t>& scratch, int64_t& ok)
{
    const auto start = std::chrono::steady_clock::now();
    for (size_t f = 0; f < e.frames.size(); ++f) {
        const uint8_t* data = e.frames[f]->m_pData;
        for (const auto& [at, size] : e.streams[f]) {
            uLongf length = Word(data + at);
            if (scratch.size() < length)
                scratch.resize(length);
            if (uncompress(scratch.data(), &length, data + at + 4, size - 4) == Z_OK)
                ++ok;
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Run(benchmark::State& state, wavelet::Wavelet& codec, uint32_t payloadAt)
{
    if (TheMaterial().pictures.size() != size_t(kFrames)) {
        state.SkipWithError("no pictures (is ffmpeg available?)");
        return;
    }
    const Encoded e = Encode(codec, payloadAt);
    if (e.frames.empty()) {
        state.SkipWithError("encoding failed");
        return;
    }
    std::vector<uint8_t> scratch;
    double full = 0, reduced = 0, zlib = 0;
    int64_t decodedFull = 0, decodedReduced = 0, inflated = 0;
    for (auto _ : state) {
        full += DecodeAll(e, 0, decodedFull);
        reduced += DecodeAll(e, 480, decodedReduced);
        zlib += UncompressAll(e, scratch, inflated);
    }
    const double frames = double(state.iterations()) * double(e.frames.size());
    if (decodedFull != int64_t(frames) || decodedReduced != int64_t(frames)) {
        state.SkipWithError("some frames did not decode");
        return;
    }
    size_t bytes = 0;
    for (const VideoFramePtr& f : e.frames)
        bytes += f->m_cbData;
    state.counters["full_fps"] = frames / full;
    state.counters["reduced_fps"] = frames / reduced;
    state.counters["zlib_fps"] = frames / zlib;
    state.counters["full_over_zlib"] = full / zlib;
    state.counters["reduced_over_zlib"] = reduced / zlib;
    state.counters["reduced_over_full"] = reduced / full;
    state.counters["frame_bytes"] = double(bytes) / double(e.frames.size());
}

void BM_Wavelet35_1080p(benchmark::State& state)
{
    std::unique_ptr<wavelet::Wavelet3> codec(wavelet::CreateWavelet3(kWidth, kHeight, -3, 10));
    if (!codec) {
        state.SkipWithError("no 3.5 codec");
        return;
    }
    Run(state, *codec, 22);
}

void BM_Wavelet65_1080p(benchmark::State& state)
{
    wavelet::WxWl3 codec(kWidth, kHeight, -3);
    Run(state, codec, 36);
}

void BM_Wavelet71_1080p(benchmark::State& state)
{
    wavelet::Wavelet71 codec(kWidth, kHeight, 0, -3);
    Run(state, codec, 36);
}

} // namespace

BENCHMARK(BM_Wavelet35_1080p)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Wavelet65_1080p)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Wavelet71_1080p)->Unit(benchmark::kMillisecond)->Iterations(5);
