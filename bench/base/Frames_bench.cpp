// Frame record reading (the archive read path) and format-tag parsing.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include <unistd.h>

#include "base/VideoFrame.h"
#include "base/frames/FormatTags.h"
#include "platform/File.h"

namespace {

// `count` records of `size` data bytes each, with a short title.
std::vector<uint8_t> Records(int count, uint32_t size)
{
    VideoFramePtr f(new VideoFrame("bench", 1), false);
    f->m_nFormat = 1;
    f->m_bColor = 1;
    f->m_nWidth = 1920;
    f->m_nHeight = 1080;
    f->m_strSubtitles = "Entrance";
    f->AllocData(size);
    std::memset(f->m_pData, 0x5A, size);
    std::memcpy(f->m_pData + size - 4, "H264", 4);
    platform::MemFile out;
    for (int i = 0; i < count; ++i) {
        f->m_nFrameNumber = i;
        f->SerializeFile(out, false);
    }
    return out.TakeBytes();
}

void BM_SerializeFileRead(benchmark::State& state)
{
    const int kFrames = 256;
    const uint32_t size = static_cast<uint32_t>(state.range(0));
    const bool readBody = state.range(1) != 0;
    const std::vector<uint8_t> bytes = Records(kFrames, size);
    VideoFramePtr frame(new VideoFrame(), false);
    for (auto _ : state) {
        platform::MemFile file{std::span<const uint8_t>(bytes)};
        for (int i = 0; i < kFrames; ++i)
            frame->SerializeFile(file, true, readBody);
        benchmark::DoNotOptimize(frame->m_pData);
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.SetBytesProcessed(state.iterations() * int64_t(bytes.size()));
    state.SetLabel(readBody ? "frames/s, body read" : "frames/s, body skipped");
}
BENCHMARK(BM_SerializeFileRead)->Args({4096, 1})->Args({65536, 1})->Args({262144, 1})->Args({65536, 0});

// The same from a disk file (page cache): the fixed part, body and title
// length come in two reads per record, plus the size check against the file.
void BM_SerializeFileReadDisk(benchmark::State& state)
{
    const int kFrames = 256;
    const std::vector<uint8_t> bytes = Records(kFrames, static_cast<uint32_t>(state.range(0)));
    char path[] = "/tmp/frames_bench_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) {
        state.SkipWithError("cannot write the temporary file");
        return;
    }
    close(fd);
    VideoFramePtr frame(new VideoFrame(), false);
    {
        platform::File file(path, platform::File::modeRead);
        for (auto _ : state) {
            file.SeekToBegin();
            for (int i = 0; i < kFrames; ++i)
                frame->SerializeFile(file, true, true);
            benchmark::DoNotOptimize(frame->m_pData);
        }
    }
    unlink(path);
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.SetBytesProcessed(state.iterations() * int64_t(bytes.size()));
    state.SetLabel("frames/s");
}
BENCHMARK(BM_SerializeFileReadDisk)->Arg(65536);

void BM_ParseVideoFormatTag(benchmark::State& state)
{
    const char* tags[] = {"JPEG", "H264", "H265", "xPNG", "I+v\x9e", "ABCD"};
    std::vector<std::vector<uint8_t>> frames;
    for (const char* tag : tags) {
        std::vector<uint8_t> f(64, 0);
        std::memcpy(f.data() + 60, tag, 4);
        frames.push_back(f);
    }
    size_t i = 0;
    for (auto _ : state) {
        const auto& f = frames[i++ % frames.size()];
        benchmark::DoNotOptimize(ParseVideoFormatTag(f.data(), uint32_t(f.size())));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseVideoFormatTag);

} // namespace
