// Media-file export over files made by the ffmpeg tool (H.264 with
// B-frames, a titled sound stream and a SubRip stream): the streams and
// packet counts of the re-muxed window against ffmpeg's own stream copy of
// it, the output played back through the media-file source, a window that
// starts at the key frame at or before its start, the progress values, the
// output name, and a header that cannot be written.

#include "export/FFmpegExport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>

#include "export/WindowlessExport.h"
#include "media/MediaFileVideoSource.h"
#include "platform/TextCodec.h"
#include "platform/TimeZone.h"
#include "support/MediaFiles.h"
#include "support/TempDir.h"

namespace {

namespace fsys = std::filesystem;
namespace pt = boost::posix_time;

constexpr int64_t kStart = 1551668760000;  // 2019-03-04 03:06:00 UTC
constexpr int kRate = 25;
constexpr int kGop = 25;           // frames: one second
constexpr int kAudioPerSecond = 8;  // AAC frames of 1024 samples at 8 kHz, rounded up

class UtcZone {
public:
    UtcZone()
    {
        setenv("TZ", "UTC", 1);
        tzset();
        platform::tz::Reload();
    }
};

std::string Capture(const std::string& command)
{
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

// Codec type of every stream, in order ("video", "audio", "subtitle").
std::vector<std::string> StreamTypes(const std::string& path)
{
    std::vector<std::string> types;
    std::istringstream lines(
        Capture("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 '" + path + "'"));
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            types.push_back(line);
    return types;
}

// Packets per stream type (ffprobe -show_packets).
std::map<std::string, int> PacketCounts(const std::string& path)
{
    const auto types = StreamTypes(path);
    std::map<std::string, int> counts;
    std::istringstream lines(
        Capture("ffprobe -v error -show_packets -show_entries packet=stream_index -of csv=p=0 '" + path + "'"));
    for (std::string line; std::getline(lines, line);) {
        const size_t index = std::strtoul(line.c_str(), nullptr, 10);
        if (!line.empty() && index < types.size())
            ++counts[types[index]];
    }
    return counts;
}

class RemuxTest : public ::testing::Test {
protected:
    // 10 s of H.264 with B-frames, titled sound "snd" and subtitles "subs"
    // (none in AVI).
    std::string Make(const std::string& container, const std::string& videoCodec = "libx264")
    {
        const std::string srt = m_dir / "subs.srt";
        std::string text;
        for (int i = 0; i < 20; ++i) {
            char line[128];
            std::snprintf(line, sizeof line, "%d\n00:00:%02d,%03d --> 00:00:%02d,%03d\nline %d\n\n", i + 1, i / 2,
                          (i % 2) * 500, i / 2, (i % 2) * 500 + 400, i);
            text += line;
        }
        gavex_test::WriteFileString(srt, text);
        std::vector<std::string> args = gavex_test::TestVideoInput(10, kRate, "160x120");
        const auto sound = gavex_test::TestAudioInput(10);
        args.insert(args.end(), sound.begin(), sound.end());
        const bool subtitles = container != "avi";
        if (subtitles)
            args.insert(args.end(), {"-i", srt});
        args.insert(args.end(), {"-map", "0", "-map", "1"});
        if (subtitles)
            args.insert(args.end(), {"-map", "2", "-c:s", container == "mp4" ? "mov_text" : "srt",
                                     "-metadata:s:s:0", "title=subs"});
        args.insert(args.end(), {"-c:v", videoCodec, "-bf", "2", "-g", std::to_string(kGop)});
        if (videoCodec == "libx264")
            args.insert(args.end(), {"-preset", "ultrafast", "-x264-params", "scenecut=0"});
        args.insert(args.end(),
                    {"-c:a", container == "avi" ? "pcm_s16le" : "aac", "-metadata:s:a:0", "title=snd"});
        const std::string path = m_dir / (videoCodec + "/Cam 2019-03-04 03-06-00_000." + container);
        fsys::create_directories(fsys::path(path).parent_path());
        args.push_back(path);
        EXPECT_TRUE(gavex_test::RunFfmpeg(args)) << container;
        return path;
    }

    boost::shared_ptr<filters::IVideoSource> Source(const std::string& path)
    {
        auto source = boost::shared_ptr<filters::VideoSource>(new filters::VideoSource);
        MediaFileRecord file;
        file.path = path;
        file.name = platform::Utf8ToWide(fsys::path(path).stem().string());
        std::vector<MediaFileRecord> records;
        source->ReadMediaFile(file, records);
        EXPECT_EQ(records.size(), 1u);
        for (MediaFileRecord& record : records) {
            record.audioStreamTitle = "snd";
            if (fsys::path(path).extension() != ".avi")
                record.textStreams = {"subs"};
        }
        source->SetRecords(records);
        return source;
    }

    static Storage::ExportTask Task(const std::string& container, int64_t fromMs, int64_t toMs,
                                    std::vector<std::string> channels = {"Cam"})
    {
        Storage::ExportTask task;
        task.ChannelIds = std::move(channels);
        task.FromTime = pt::ptime(boost::gregorian::date(1970, 1, 1)) + pt::milliseconds(fromMs);
        task.ToTime = pt::ptime(boost::gregorian::date(1970, 1, 1)) + pt::milliseconds(toMs);
        task.OutputContainer = container;
        task.PrefixFileName = "Export";
        return task;
    }

    struct Result {
        Storage::ExportError report;
        std::vector<int> percents;
    };
    Result Export(const boost::shared_ptr<filters::IVideoSource>& source, const Storage::ExportTask& task,
                  const std::string& destination)
    {
        Result result;
        auto engine = boost::shared_ptr<Storage::FFmpegExport>(new Storage::FFmpegExport({source}));
        Storage::RunExportToCompletion(
            engine, destination, {task}, [&](int percent, const Storage::ExportTask&) { result.percents.push_back(percent); },
            [&](const Storage::ExportError& error) { result.report = error; });
        return result;
    }

    UtcZone m_zone;
    gavex_test::TempDir m_dir{"export-remux"};
};

TEST_F(RemuxTest, WindowMatchesFfmpegsStreamCopyAndPlaysBack)
{
    struct Case {
        std::string input, output;
        std::vector<std::string> streams;
        std::string videoCodec = "libx264";
    };
    const std::vector<Case> cases = {
        {"mkv", "mkv", {"video", "audio", "subtitle"}},
        // MP4 keeps no stream titles, and the export picks sound and
        // subtitle streams by title.
        {"mp4", "mp4", {"video"}},
        {"avi", "avi", {"video", "audio"}},
        // An AVI export leaves the subtitles out. (AVI takes H.264 only in
        // Annex B form, which a stream copy from MKV does not give.)
        {"mkv", "avi", {"video", "audio"}, "mpeg4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input + " -> " + c.output);
        const std::string input = Make(c.input, c.videoCodec);
        ASSERT_TRUE(fsys::exists(input));
        const std::string out = m_dir / ("out-" + c.input + "-" + c.output);
        const auto task = Task(c.output, kStart + 3000, kStart + 6000);
        const Result result = Export(Source(input), task, out);
        ASSERT_EQ(result.report.kind, 0) << result.report.reason;
        EXPECT_EQ(result.report.code, 0);
        EXPECT_EQ(result.percents, (std::vector<int>{6, 16, 40, 100}));
        const std::string output = out + "/Export 2019-03-04 03-06-03_000000." + c.output;
        ASSERT_TRUE(fsys::exists(output));
        EXPECT_EQ(std::distance(fsys::directory_iterator(out), fsys::directory_iterator()), 1);
        EXPECT_EQ(StreamTypes(output), c.streams);

        if (c.input == c.output) {
            const std::string reference = m_dir / ("reference." + c.output);
            ASSERT_TRUE(gavex_test::RunFfmpeg({"-ss", "3", "-to", "6", "-i", input, "-map", "0", "-c", "copy",
                                               reference}));
            const auto ours = PacketCounts(output);
            const auto theirs = PacketCounts(reference);
            const std::map<std::string, int> slack = {
                {"video", 2 * kGop}, {"audio", 2 * kAudioPerSecond}, {"subtitle", 4}};
            for (const std::string& type : c.streams) {
                EXPECT_GT(ours.at(type), 0) << type;
                EXPECT_LE(std::abs(ours.at(type) - theirs.at(type)), slack.at(type))
                    << type << ": ours " << ours.at(type) << ", ffmpeg's " << theirs.at(type);
            }
            EXPECT_GE(ours.at("video"), 3 * kRate);  // the whole window
        }

        // The export plays through the media-file source.
        filters::VideoSource player;
        MediaFileRecord file;
        file.path = output;
        file.name = platform::Utf8ToWide(fsys::path(output).stem().string());
        std::vector<MediaFileRecord> records;
        player.ReadMediaFile(file, records);
        ASSERT_EQ(records.size(), 1u);
        player.SetRecords(records);
        int frames = 0;
        while (player.GetCurrentFrame() != nullptr && frames < 1000) {
            ++frames;
            if (player.IsAtEnd())
                break;
            player.NextFrame();
        }
        EXPECT_GE(frames, 3 * kRate - kGop);
        const std::string decoded = Capture("ffprobe -v error -select_streams v -count_frames -show_entries "
                                            "stream=nb_read_frames -of csv=p=0 '" + output + "'");
        EXPECT_GE(std::atoi(decoded.c_str()), 3 * kRate - kGop) << decoded;
    }
}

// The video packets of a file in order: key flag and presentation time in
// seconds.
struct VideoPacket {
    bool key;
    double pts;
};
std::vector<VideoPacket> VideoPackets(const std::string& path)
{
    std::vector<VideoPacket> packets;
    std::istringstream lines(Capture("ffprobe -v error -select_streams v -show_entries packet=pts_time,flags -of csv=p=0 '" +
                                     path + "'"));
    for (std::string line; std::getline(lines, line);) {
        const size_t comma = line.find(',');
        if (comma == std::string::npos)
            continue;
        packets.push_back({line.find('K', comma) != std::string::npos, std::atof(line.substr(0, comma).c_str())});
    }
    return packets;
}

TEST_F(RemuxTest, WindowStartsAtTheLastKeyFrameAtOrBeforeItsStart)
{
    // Key frames every second. The key frame shown at 3 s is decoded before
    // 3 s (B-frames follow it in decoding order), and it is the one a window
    // starting at 3 s or 3.5 s needs.
    struct Case {
        std::string container;
        int64_t startMs;
    };
    const std::vector<Case> cases = {{"mkv", 3000}, {"mkv", 3500}, {"mp4", 3000}, {"mp4", 3500}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.container + " from " + std::to_string(c.startMs));
        const std::string input = Make(c.container);
        const std::string out = m_dir / ("lead-in-" + c.container + "-" + std::to_string(c.startMs));
        const Result result = Export(Source(input), Task(c.container, kStart + c.startMs, kStart + 6000), out);
        ASSERT_EQ(result.report.code, 0) << result.report.reason;
        const std::string output = out + "/" + fsys::directory_iterator(out)->path().filename().string();
        const std::vector<VideoPacket> packets = VideoPackets(output);
        ASSERT_GT(packets.size(), static_cast<size_t>(kGop));
        EXPECT_TRUE(packets.front().key);
        // The whole key-frame interval of 3 s to 4 s, not one before it.
        const auto next = std::find_if(packets.begin() + 1, packets.end(), [](const auto& p) { return p.key; });
        EXPECT_EQ(next - packets.begin(), kGop);
        if (c.container == "mkv") {
            // Every packet decodes. (An MP4 hides the pictures before the
            // window's start from its readers.)
            const std::string decoded = Capture("ffprobe -v error -select_streams v -count_frames -show_entries "
                                                "stream=nb_read_frames -of csv=p=0 '" + output + "'");
            EXPECT_EQ(std::atoi(decoded.c_str()), static_cast<int>(packets.size())) << decoded;
        }
    }
}

TEST_F(RemuxTest, FailedStageIsItsKindAndLeavesNoFile)
{
    struct Case {
        const char* name;
        std::string output;
        std::vector<std::string> channels;
        int kind;
        std::string reasonStart;
        std::vector<int> percents;
    };
    const std::vector<Case> cases = {
        // No channel of the task is played: an output without streams.
        {"header", "mkv", {"Nobody"}, 9,
         "FFMPEG.Error occurred when opening output file[avformat_write_header]:", {6, 16}},
        // AVI refuses H.264 that is not in Annex B form, packet by packet.
        {"packet", "avi", {"Cam"}, 10, "FFMPEG.Error muxing packet[av_interleaved_write_frame], streamIndex[", {6, 16, 40}},
    };
    const std::string input = Make("mkv");
    for (const Case& c : cases) {
        const std::string out = m_dir / (std::string("out-") + c.name);
        const Result result = Export(Source(input), Task(c.output, kStart + 1000, kStart + 2000, c.channels), out);
        EXPECT_EQ(result.report.kind, c.kind) << c.name;
        EXPECT_LT(result.report.code, 0) << c.name;
        EXPECT_EQ(result.report.reason.rfind(c.reasonStart, 0), 0u) << c.name << ": " << result.report.reason;
        EXPECT_EQ(result.percents, c.percents) << c.name;
        EXPECT_TRUE(fsys::is_empty(out)) << c.name;
    }
}

TEST_F(RemuxTest, CancelAfterTheHeaderLeavesNoFile)
{
    const std::string input = Make("mkv");
    const std::string out = m_dir / "out";
    auto engine = boost::shared_ptr<Storage::FFmpegExport>(new Storage::FFmpegExport({Source(input)}));
    std::vector<int> percents;
    engine->TaskProgress.connect([&](const Storage::IPlayerExport& e, int percent, const Storage::ExportTask&) {
        percents.push_back(percent);
        if (percent == 40)
            const_cast<Storage::IPlayerExport&>(e).Cancel();
    });
    Storage::ExportError report;
    Storage::RunExportToCompletion(engine, out, {Task("mkv", kStart + 1000, kStart + 8000)}, {},
                                   [&](const Storage::ExportError& error) { report = error; });
    EXPECT_EQ(report.kind, 1);
    EXPECT_EQ(report.code, 240);
    EXPECT_EQ(report.reason, "Export interrupted");
    EXPECT_EQ(percents, (std::vector<int>{6, 16, 40}));
    EXPECT_TRUE(fsys::is_empty(out));
}

TEST_F(RemuxTest, OutputNameIsPrefixStartTimeAndContainer)
{
    auto task = Task("mkv", 0, 0);
    task.PrefixFileName = "Front door";
    task.FromTime = pt::time_from_string("2024-02-29 23:59:58.123456");
    EXPECT_EQ(Storage::FFmpegExport::OutputFileName(task, m_dir / "new/folder"),
              m_dir / "new/folder/Front door 2024-02-29 23-59-58_123456.mkv");
    EXPECT_TRUE(fsys::is_directory(m_dir / "new/folder"));
}

}  // namespace
