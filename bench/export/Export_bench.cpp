// Exports beside a reference doing the same copy, both in this process on
// the same data and going first by turns; each reports our time, the
// reference's and their ratio (ours / reference, lower is better):
//   Export_Remux1080p   a 10 s window of a 60 s 1080p H.264 file with sound,
//                       re-muxed to MKV by the export engine, beside a
//                       libavformat loop that seeks to the key frame before the
//                       window and copies what the export copies into MKV: the
//                       video, each stream up to its first key frame at or
//                       after the window's end
//   Export_Remux1080pWhole  the same over the file's whole 60 s
//   Export_Native       a recorder archive of 40 MB, every channel, beside a
//                       read()/write() copy of every file of its volume, each
//                       copy synced to disk as the export's file copies are
// Besides the ratio of the means, each reports the minimum and the median of
// the ratios of its alternating pairs.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include <boost/algorithm/string/split.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "FSImplementation/VindaraFileSystemFactory.h"
#include "bench/support/BenchFiles.h"
#include "bench/support/PairRatios.h"
#include "export/FFmpegExport.h"
#include "export/NativeExport.h"
#include "export/WindowlessExport.h"
#include "media/MediaFileVideoSource.h"
#include "platform/TextCodec.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"

namespace {

namespace fsys = std::filesystem;
namespace pt = boost::posix_time;

// Never destroyed, so that the clean-up at exit can still read it.
const std::string& WorkDir()
{
    static const std::string* const dir = [] {
        auto* path = new std::string(fsys::temp_directory_path() / ("gavex-export-bench-" + std::to_string(getpid())));
        fsys::create_directories(*path);
        std::atexit([] { fsys::remove_all(WorkDir()); });
        return path;
    }();
    return *dir;
}

const std::string& MediaFile()
{
    static const std::string path = [] {
        const std::string file = WorkDir() + "/media/Cam 2019-03-04 03-06-00_000.mp4";
        fsys::create_directories(fsys::path(file).parent_path());
        const std::string command =
            "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -f lavfi -i "
            "sine=sample_rate=48000 -t 60 -map 0 -map 1 -c:v libx264 -preset ultrafast -b:v 8M -g 50 -bf 2 "
            "-pix_fmt yuv420p -c:a aac '" + file + "'";
        return std::system(command.c_str()) == 0 ? file : std::string();
    }();
    return path;
}

const pt::ptime& Epoch()
{
    static const pt::ptime epoch(boost::gregorian::date(1970, 1, 1));
    return epoch;
}

// The player's source of the file, as it stands when the user exports from
// it (records read, the file opened for playing); made once, outside the
// timed runs, since the reference has no such source to make either.
struct PlayedFile {
    boost::shared_ptr<filters::VideoSource> source{new filters::VideoSource};
    std::vector<MediaFileRecord> records;
};

const PlayedFile& Played(const std::string& file)
{
    static const PlayedFile played = [&file] {
        PlayedFile p;
        MediaFileRecord record;
        record.path = file;
        record.name = platform::Utf8ToWide(fsys::path(file).stem().string());
        p.source->ReadMediaFile(record, p.records);
        if (!p.records.empty())
            p.source->SetRecords(p.records);
        return p;
    }();
    return played;
}

// Our re-mux of [fromS, toS) seconds of the file into `destination`; the
// export's code.
int OurRemux(const std::string& file, const std::string& destination, int fromS, int toS)
{
    const PlayedFile& played = Played(file);
    if (played.records.empty())
        return -1;
    Storage::ExportTask task;
    task.ChannelIds = {platform::WideToUtf8(played.records.front().id)};
    task.FromTime = Epoch() + pt::milliseconds(played.records.front().start + int64_t(fromS) * 1000);
    task.ToTime = Epoch() + pt::milliseconds(played.records.front().start + int64_t(toS) * 1000);
    task.OutputContainer = "mkv";
    task.PrefixFileName = "Export";
    boost::shared_ptr<Storage::BasePlayerExport> engine(new Storage::FFmpegExport({played.source}));
    return Storage::RunExportToCompletion(engine, destination, {task});
}

// The reference re-mux, the same work as the export's: the video streams
// (the export copies a sound stream only when it carries a title, which the
// test file's has not), from the key frame at or before fromS, each stream
// until its first key frame at or after toS, into an MKV; true when it was
// written.
bool ReferenceRemux(const std::string& file, const std::string& output, int fromS, int toS)
{
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, file.c_str(), nullptr, nullptr) < 0)
        return false;
    AVFormatContext* out = nullptr;
    bool ok = avformat_find_stream_info(in, nullptr) >= 0 &&
              avformat_alloc_output_context2(&out, nullptr, "matroska", output.c_str()) >= 0;
    std::vector<int> outIndex(ok ? in->nb_streams : 0, -1);
    int videoStream = -1;
    for (unsigned i = 0; ok && i < in->nb_streams; ++i) {
        if (in->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
            continue;
        AVStream* stream = avformat_new_stream(out, nullptr);
        ok = stream && avcodec_parameters_copy(stream->codecpar, in->streams[i]->codecpar) >= 0;
        if (ok) {
            stream->codecpar->codec_tag = 0;
            outIndex[i] = stream->index;
            if (videoStream < 0)
                videoStream = int(i);
        }
    }
    ok = ok && videoStream >= 0;
    ok = ok && avio_open(&out->pb, output.c_str(), AVIO_FLAG_WRITE) >= 0;
    ok = ok && avformat_write_header(out, nullptr) >= 0;
    ok = ok && av_seek_frame(in, -1, int64_t(fromS) * AV_TIME_BASE, AVSEEK_FLAG_BACKWARD) >= 0;
    std::vector<bool> finished(outIndex.size(), false);
    size_t left = size_t(std::count_if(outIndex.begin(), outIndex.end(), [](int o) { return o >= 0; }));
    AVPacket* packet = av_packet_alloc();
    while (ok && left > 0 && av_read_frame(in, packet) >= 0) {
        const int s = packet->stream_index;
        if (outIndex[s] < 0 || finished[s]) {
            av_packet_unref(packet);
            continue;
        }
        const AVRational inBase = in->streams[s]->time_base;
        const int64_t time = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        if (time != AV_NOPTS_VALUE && (packet->flags & AV_PKT_FLAG_KEY) &&
            av_compare_ts(time, inBase, toS, AVRational{1, 1}) >= 0) {
            finished[s] = true;
            --left;
            av_packet_unref(packet);
            continue;
        }
        packet->stream_index = outIndex[s];
        av_packet_rescale_ts(packet, inBase, out->streams[packet->stream_index]->time_base);
        packet->pos = -1;
        ok = av_interleaved_write_frame(out, packet) >= 0;
    }
    av_packet_free(&packet);
    if (ok)
        ok = av_write_trailer(out) >= 0;
    if (out && out->pb)
        avio_closep(&out->pb);
    avformat_free_context(out);
    avformat_close_input(&in);
    return ok;
}

// The reference native copy: every file below `from` copied through
// read()/write() in 128 KiB chunks to the same place below `to`, and synced
// (the export's file copy syncs each copy before it counts as done).
bool CopyTree(const fsys::path& from, const fsys::path& to)
{
    static std::vector<char> chunk(128 * 1024);
    for (const auto& entry : fsys::recursive_directory_iterator(from)) {
        const fsys::path target = to / fsys::relative(entry.path(), from);
        if (entry.is_directory()) {
            fsys::create_directories(target);
            continue;
        }
        const int in = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
        const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        bool ok = in >= 0 && out >= 0;
        ssize_t n = 0;
        while (ok && (n = ::read(in, chunk.data(), chunk.size())) > 0)
            ok = ::write(out, chunk.data(), size_t(n)) == n;
        ok = ok && n == 0 && ::fdatasync(out) == 0;
        if (in >= 0)
            ::close(in);
        if (out >= 0)
            ::close(out);
        if (!ok)
            return false;
    }
    return true;
}

// Runs both sides by turns, each into a folder of its own that is emptied
// before every run; `ours` and `reference` say whether they succeeded.
template <class Ours, class Reference>
void Compare(benchmark::State& state, const std::string& out, Ours ours, Reference reference)
{
    double oursTotal = 0, theirsTotal = 0;
    int64_t turn = 0;
    benchfiles::PairRatios pairs;
    for (auto _ : state) {
        fsys::remove_all(out);
        fsys::create_directories(out + "/ours");
        fsys::create_directories(out + "/reference");
        bool oursOk = false, theirsOk = false;
        const auto [a, b] = benchfiles::TimeBothInTurn(
            turn++, [&] { oursOk = ours(out + "/ours"); }, [&] { theirsOk = reference(out + "/reference"); });
        if (!oursOk || !theirsOk) {
            state.SkipWithError(oursOk ? "the reference failed" : "our export failed");
            return;
        }
        oursTotal += a;
        theirsTotal += b;
        pairs.Add(a, b);
        state.SetIterationTime(a);
    }
    fsys::remove_all(out);
    state.counters["ours_s"] = oursTotal / double(state.iterations());
    state.counters["reference_s"] = theirsTotal / double(state.iterations());
    state.counters["ratio"] = oursTotal / theirsTotal;
    pairs.Report(state);
}

void Export_Remux1080p(benchmark::State& state)
{
    if (MediaFile().empty() || Played(MediaFile()).records.empty()) {
        state.SkipWithError("ffmpeg could not make the file");
        return;
    }
    Compare(
        state, WorkDir() + "/remux-out",
        [](const std::string& out) { return OurRemux(MediaFile(), out, 10, 20) == 0; },
        [](const std::string& out) { return ReferenceRemux(MediaFile(), out + "/reference.mkv", 10, 20); });
}
BENCHMARK(Export_Remux1080p)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(6);

void Export_Remux1080pWhole(benchmark::State& state)
{
    if (MediaFile().empty() || Played(MediaFile()).records.empty()) {
        state.SkipWithError("ffmpeg could not make the file");
        return;
    }
    Compare(
        state, WorkDir() + "/remux-whole-out",
        [](const std::string& out) { return OurRemux(MediaFile(), out, 0, 60) == 0; },
        [](const std::string& out) { return ReferenceRemux(MediaFile(), out + "/reference.mkv", 0, 60); });
}
BENCHMARK(Export_Remux1080pWhole)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(6);

void Export_Native(benchmark::State& state)
{
    const std::string volume = WorkDir() + "/archive/d1";
    const int64_t base = testsupport::LocalUnixMs(2026, 3, 14, 10);
    static const bool built = [&] {
        testsupport::ArchiveTree tree(volume);
        for (int camera = 1; camera <= 4; ++camera) {
            for (uint32_t file = 0; file < 5; ++file) {
                const int64_t start = base + file * 600'000 + camera * 1000;
                const auto frames = testsupport::MakeSyntheticFrames(100, start, 200, 25, 20'000);
                testsupport::TreeRecord record{camera, static_cast<uint32_t>(camera * 16 + file), start,
                                               frames.back().unixMs + 200};
                tree.Add(record);
                testsupport::WriteBytes(tree.ArchiveFolder() + "/" + testsupport::LocalHourFolder(start) + "/" +
                                            testsupport::ArchiveFileName(camera, record.fileId),
                                        testsupport::BuildArchiveFile(frames));
            }
        }
        tree.WriteIndexes();
        return true;
    }();
    (void)built;
    auto fs = Storage::CreateVindaraFileSystem(volume);
    if (!fs) {
        state.SkipWithError("the archive does not open");
        return;
    }
    fs->Initialize(false);
    Compare(
        state, WorkDir() + "/native-out",
        [&](const std::string& out) {
            Storage::ExportTask task;
            task.ChannelIds = {"1", "2", "3", "4"};
            task.FromTime = Epoch() + pt::milliseconds(base);
            task.ToTime = Epoch() + pt::milliseconds(base + 3'600'000);
            return Storage::RunExportToCompletion(Storage::CreateNativeExport(fs), out, {task}) == 0;
        },
        [&](const std::string& out) { return CopyTree(volume, out + "/d1"); });
}
BENCHMARK(Export_Native)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(6);

}  // namespace
