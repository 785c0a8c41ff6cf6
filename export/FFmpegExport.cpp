#include "export/FFmpegExport.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>

#include "base/Log.h"
#include "base/StringConv.h"
#include "export/FFmpegException.h"
#include "media/MediaFileVideoSource.h"

namespace Storage {

namespace bfs = boost::filesystem;
namespace pt = boost::posix_time;

namespace {

const pt::ptime kUnixEpoch(boost::gregorian::date(1970, 1, 1));

int64_t UnixMs(const pt::ptime& time)
{
    return time.is_special() ? 0 : (time - kUnixEpoch).total_microseconds() / 1000;
}

// The record a seek to the archive time would open (the last one starting
// by then, else the first).
const MediaFileRecord* RecordAt(const filters::VideoSource& source, int64_t timeMs)
{
    const auto& records = source.GetRecords();
    if (records.empty())
        return nullptr;
    const auto after = std::upper_bound(records.begin(), records.end(), timeMs,
                                        [](int64_t t, const MediaFileRecord& r) { return t < r.start; });
    return after == records.begin() ? &records.front() : &*(after - 1);
}

// The demuxer guesses the decoding times of the first packets after a seek,
// and with B-frames those guesses can lie after the presentation time or go
// back. As a stream copy by FFmpeg does, a decoding time after the
// presentation time becomes the median of the two and the least allowed
// time, and one that goes back is moved up to the least allowed time (one
// past the last unless the muxer takes equal times), the presentation time
// with it when it was not already before.
void KeepDecodingOrder(AVPacket& packet, int64_t& lastDts, bool strict)
{
    const bool known = lastDts != AV_NOPTS_VALUE;
    const int64_t least = known ? lastDts + (strict ? 1 : 0) : AV_NOPTS_VALUE;
    if (packet.dts != AV_NOPTS_VALUE && packet.pts != AV_NOPTS_VALUE && packet.dts > packet.pts) {
        if (known) {
            const int64_t a = packet.pts, b = packet.dts, c = least;
            packet.pts = packet.dts = std::max(std::min(a, b), std::min(std::max(a, b), c));
        } else {
            packet.dts = packet.pts;
        }
    }
    if (packet.dts != AV_NOPTS_VALUE && known && packet.dts < least) {
        if (packet.pts != AV_NOPTS_VALUE && packet.pts >= packet.dts)
            packet.pts = std::max(packet.pts, least);
        packet.dts = least;
    }
    if (packet.dts != AV_NOPTS_VALUE)
        lastDts = packet.dts;
}

// Packets between these many reads check for a cancel.
constexpr int kPacketsPerInterruptionCheck = 64;

}  // namespace

// --- remuxer ----------------------------------------------------------------------

FFmpegRemuxer::~FFmpegRemuxer()
{
    FreeOutput();
    CloseInput();
}

bool FFmpegRemuxer::OpenInput(const std::string& path)
{
    CloseInput();
    if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) {
        input = nullptr;
        return false;
    }
    if (avformat_find_stream_info(input, nullptr) < 0) {
        CloseInput();
        return false;
    }
    return true;
}

void FFmpegRemuxer::CloseInput()
{
    if (input != nullptr)
        avformat_close_input(&input);
}

std::string FFmpegRemuxer::GetMetadata(AVDictionary* dictionary, const std::string& key)
{
    if (dictionary == nullptr)
        return {};
    const AVDictionaryEntry* entry = av_dict_get(dictionary, key.c_str(), nullptr, 0);
    return entry != nullptr && entry->value != nullptr ? entry->value : std::string();
}

void FFmpegRemuxer::SetMetadata(AVDictionary** dictionary, const std::string& key, const std::string& value)
{
    av_dict_set(dictionary, key.c_str(), value.c_str(), 0);
}

void FFmpegRemuxer::StoreError(int error)
{
    char text[1024] = {};
    av_strerror(error, text, sizeof text);
    lastErrorText = text;
    lastError = error;
}

void FFmpegRemuxer::ReportFFmpeg(const std::string& message, int stage)
{
    const std::string text = str(boost::format("%1%.%2%:%3%") % "FFMPEG" % message % lastErrorText);
    if (stage != 0)
        throw utils::FFmpegException(text, lastError, stage);
    getDefaultDebugInstance()->Message("%s", text.c_str());
    lastErrorText.clear();
    lastError = 0;
}

void FFmpegRemuxer::FreeOutput()
{
    if (output != nullptr) {
        if (!(output->oformat->flags & AVFMT_NOFILE))
            avio_closep(&output->pb);
        avformat_free_context(output);
        output = nullptr;
    }
    streamMap.clear();
    windows.clear();
}

void FFmpegRemuxer::Remux(const Storage::ExportTask& task, const ExportWindow& window, const std::string& path)
{
    try {
        CreateOutput(path);
        CreateStreams(window);
        (*this)(10, task);
        OpenOutput();
        (*this)(24, task);
        CopyPackets();
        FreeOutput();
        (*this)(60, task);
        bfs::rename(tempPath, outputPath);
    } catch (...) {
        FreeOutput();
        boost::system::error_code ec;
        if (!tempPath.empty())
            bfs::remove(tempPath, ec);
        outputPath.clear();
        tempPath.clear();
        throw;
    }
    outputPath.clear();
    tempPath.clear();
}

void FFmpegRemuxer::CreateOutput(const std::string& path)
{
    outputPath = path;
    tempPath = path + ".exporting";
    // The format follows the final name's extension.
    if (avformat_alloc_output_context2(&output, nullptr, nullptr, path.c_str()) < 0 || output == nullptr) {
        output = nullptr;
        ReportFFmpeg("Not create output Context: filePath = " + path, 1);
    }
}

void FFmpegRemuxer::CreateStreams(const ExportWindow& window)
{
    streamMap.assign(input->nb_streams, -1);
    int count = 0;
    int seekStream = -1;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* in = input->streams[i];
        bool copy = false;
        switch (in->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
        case AVMEDIA_TYPE_SUBTITLE:
            copy = std::find(window.streamIndexes.begin(), window.streamIndexes.end(), static_cast<int>(i)) !=
                   window.streamIndexes.end();
            break;
        case AVMEDIA_TYPE_AUDIO: {
            const std::string title = GetMetadata(in->metadata, "title");
            copy = !title.empty() &&
                   std::find(window.streamTitles.begin(), window.streamTitles.end(), title) != window.streamTitles.end();
            break;
        }
        default: break;
        }
        if (!copy) {
            ReportFFmpeg(str(boost::format("Skip stream: index[%1%]") % i), 0);
            continue;
        }
        AVStream* out = avformat_new_stream(output, nullptr);
        if (out == nullptr) {
            ReportFFmpeg(str(boost::format("Failed allocating output stream[%1%], inputStream[%2%]") % count % i), 0);
            continue;
        }
        const int copied = avcodec_parameters_copy(out->codecpar, in->codecpar);
        if (copied < 0) {
            StoreError(copied);
            ReportFFmpeg(str(boost::format("Failed to copy codec parameters for stream[%i]") % i), 0);
            continue;
        }
        out->codecpar->codec_tag = 0;  // the input container's tag may mean nothing in the output's
        // Muxers that derive their clock from the stream's rate (AVI) need
        // the input's time base and rate as hints, as a stream copy keeps them.
        out->time_base = in->time_base;
        out->avg_frame_rate = in->avg_frame_rate;
        out->r_frame_rate = in->r_frame_rate;
        const double num = in->time_base.num, den = in->time_base.den;
        StreamWindow w;
        w.start = static_cast<int64_t>(std::floor(den * static_cast<double>(window.startMs) / num / 1000 + 0.5));
        w.end = static_cast<int64_t>(std::floor(static_cast<double>(window.endMs) * den / num / 1000 + 0.5));
        windows[count] = w;
        streamMap[i] = count;
        ++count;
        if (seekStream < 0 || (in->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                               input->streams[seekStream]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO))
            seekStream = static_cast<int>(i);
        SetMetadata(&out->metadata, "title", GetMetadata(in->metadata, "title"));
        ReportFFmpeg(str(boost::format("Create success new output stream[%1%], inputStream[%2%]") % (count - 1) % i),
                     0);
    }
    // One seek, on the first copied video stream (else the first copied
    // stream): a seek on a subtitle or sound stream may land anywhere in the
    // file, the end included, and each seek moves the whole input.
    if (seekStream >= 0) {
        const int64_t start = windows[streamMap[seekStream]].start;
        const int sought = avformat_seek_file(input, seekStream, 0, start, start, 0);
        if (sought < 0) {
            StoreError(sought);
            ReportFFmpeg(str(boost::format("Can't seek to position in input file: stream[%1%] position[%2%]") %
                             seekStream % start),
                         0);
        }
    }
}

void FFmpegRemuxer::OpenOutput()
{
    av_dump_format(output, 0, outputPath.c_str(), 1);
    if (!(output->oformat->flags & AVFMT_NOFILE)) {
        const int opened = avio_open(&output->pb, tempPath.c_str(), AVIO_FLAG_READ_WRITE);
        if (opened < 0) {
            StoreError(opened);
            ReportFFmpeg(str(boost::format("Could not open output file[avio_open] '%s") % outputPath), 2);
        }
    }
    const int written = avformat_write_header(output, nullptr);
    if (written < 0) {
        StoreError(written);
        ReportFFmpeg("Error occurred when opening output file[avformat_write_header]", 3);
    }
    ReportFFmpeg(str(boost::format("Success create and write header in output file %1%") % outputPath), 0);
}

void FFmpegRemuxer::CopyPackets()
{
    AVPacket* packet = av_packet_alloc();
    struct PacketFree {
        AVPacket*& p;
        ~PacketFree() { av_packet_free(&p); }
    } freePacket{packet};
    struct PacketDelete {
        void operator()(AVPacket* p) const { av_packet_free(&p); }
    };
    // Per output stream: the last key frame presented at or before the
    // window's start and the packets decoded after it, held until the window
    // begins. The window's first pictures decode from that key frame; its
    // decoding time may lie before the start (B-frames) even when it is
    // shown exactly at the start.
    std::map<int, std::vector<std::unique_ptr<AVPacket, PacketDelete>>> leadIns;
    size_t finished = 0;
    int read = 0;
    int sinceCheck = 0;
    while ((read = av_read_frame(input, packet)) >= 0) {
        if (++sinceCheck == kPacketsPerInterruptionCheck) {
            sinceCheck = 0;
            boost::this_thread::interruption_point();
        }
        const int i = packet->stream_index;
        if (i < 0 || static_cast<size_t>(i) >= streamMap.size() || streamMap[i] < 0) {
            av_packet_unref(packet);
            continue;
        }
        const int o = streamMap[i];
        StreamWindow& w = windows[o];
        auto& leadIn = leadIns[o];
        // A packet without a decoding time is placed by its presentation
        // time; one with neither keeps the stream's state.
        const int64_t dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        if (w.state != 2 && dts != AV_NOPTS_VALUE) {
            if (dts >= w.end && key) {
                w.state = 2;
                ++finished;
            } else {
                w.state = dts >= w.start ? 1 : 0;
            }
        }
        if (w.state == 0) {
            const bool startsLeadIn = key && pts != AV_NOPTS_VALUE && pts <= w.start;
            if (startsLeadIn)
                leadIn.clear();
            if (startsLeadIn || !leadIn.empty()) {
                leadIn.emplace_back(av_packet_clone(packet));
                if (!leadIn.back())
                    leadIn.clear();  // out of memory: the window starts where it can
            }
        } else {
            if (w.state == 1)
                for (auto& held : leadIn)
                    WritePacket(held.get());
            leadIn.clear();
        }
        if (w.state == 1)
            WritePacket(packet);
        av_packet_unref(packet);
        if (finished == windows.size())
            break;
    }
    if (read < 0) {
        StoreError(read);
        ReportFFmpeg("Failed read frame[av_read_frame]", 0);
    }
    const int trailer = av_write_trailer(output);
    if (trailer < 0) {
        StoreError(trailer);
        ReportFFmpeg("Error writing trailer[av_write_trailer]", 4);
    }
    if (output->pb != nullptr && output->pb->error < 0) {
        StoreError(output->pb->error);
        ReportFFmpeg("Error writing output file", 4);
    }
}

void FFmpegRemuxer::WritePacket(AVPacket* packet)
{
    const AVRational inBase = input->streams[packet->stream_index]->time_base;
    const int o = streamMap[packet->stream_index];
    packet->stream_index = o;
    const AVStream* s = output->streams[o];
    const int64_t d = windows[o].start;
    const auto rounding = static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX);
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts = av_rescale_q_rnd(packet->pts - d, inBase, s->time_base, rounding);
    if (packet->dts != AV_NOPTS_VALUE)
        packet->dts = av_rescale_q_rnd(packet->dts - d, inBase, s->time_base, rounding);
    packet->duration = av_rescale_q(packet->duration, inBase, s->time_base);
    packet->pos = -1;
    KeepDecodingOrder(*packet, windows[o].lastDts, (output->oformat->flags & AVFMT_TS_NONSTRICT) == 0);
    const int written = av_interleaved_write_frame(output, packet);
    if (written < 0) {
        StoreError(written);
        ReportFFmpeg(str(boost::format("Error muxing packet[av_interleaved_write_frame], streamIndex[%1%])") % o), 4);
    }
}

// --- engine -----------------------------------------------------------------------

FFmpegExport::FFmpegExport(const std::vector<boost::shared_ptr<filters::IVideoSource>>& sources)
{
    for (const auto& source : sources)
        if (auto media = boost::dynamic_pointer_cast<filters::VideoSource>(source))
            m_sources.push_back(media);
}

FFmpegExport::~FFmpegExport() = default;

std::string FFmpegExport::OutputFileName(const Storage::ExportTask& task, const bfs::path& destination)
{
    if (!bfs::exists(destination)) {
        getDefaultDebugInstance()->Message("Create output directory for AVI_EXPORT: %s", destination.c_str());
        bfs::create_directories(destination);
    }
    std::ostringstream name;
    name.imbue(std::locale(std::locale::classic(), new pt::time_facet("%Y-%m-%d %H-%M-%S_%f")));
    name << task.PrefixFileName << " " << task.FromTime << "." << task.OutputContainer;
    return (destination / name.str()).string();
}

void FFmpegExport::SelectStreams(const Storage::ExportTask& task, const std::string& inputPath,
                                 ExportWindow& window)
{
    AVFormatContext* input = m_remuxer->Input();
    const int64_t fromMs = UnixMs(task.FromTime);
    for (const std::string& id : task.ChannelIds) {
        const std::wstring wide = StringToWString(id);
        const auto found = std::find_if(m_sources.begin(), m_sources.end(),
                                        [&](const auto& source) { return source->GetId() == wide; });
        if (found == m_sources.end())
            continue;
        const MediaFileRecord* record = RecordAt(**found, fromMs);
        if (record == nullptr || record->path != inputPath)
            continue;
        // The channel's streams in this task's own input, chosen as the
        // source chooses them.
        int video = -1;
        if (record->videoStreamTitle.empty()) {
            video = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        } else {
            for (unsigned i = 0; i < input->nb_streams && video < 0; ++i)
                if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                    FFmpegRemuxer::GetMetadata(input->streams[i]->metadata, "title") == record->videoStreamTitle)
                    video = static_cast<int>(i);
        }
        if (video >= 0)
            window.streamIndexes.push_back(video);
        if (task.OutputContainer != "avi") {
            for (const std::string& title : record->textStreams) {
                for (unsigned i = 0; i < input->nb_streams; ++i) {
                    if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE &&
                        FFmpegRemuxer::GetMetadata(input->streams[i]->metadata, "title") == title) {
                        window.streamIndexes.push_back(static_cast<int>(i));
                        break;
                    }
                }
            }
        }
        if (!record->audioStreamTitle.empty())
            window.streamTitles.push_back(record->audioStreamTitle);
    }
}

void FFmpegExport::ExportTask(const Storage::ExportTask& task, const bfs::path& destination)
{
    ResetProgress();
    if (!m_remuxer) {
        m_remuxer.reset(new FFmpegRemuxer);
        m_remuxer->connect([this](double step, const Storage::ExportTask& t) { AddProgressStep(step, t); });
    }
    ExportWindow window;
    std::string inputPath;
    if (!m_sources.empty()) {
        const filters::VideoSource& first = *m_sources.front();
        const int64_t fromMs = UnixMs(task.FromTime), toMs = UnixMs(task.ToTime);
        window.startMs = first.FindFileTime(fromMs);
        const MediaFileRecord* record = RecordAt(first, fromMs);
        // A window running past its file ends where the file does.
        window.endMs = RecordAt(first, toMs) == record ? first.FindFileTime(toMs)
                                                       : window.startMs + (toMs - fromMs);
        if (record != nullptr)
            inputPath = record->path;
    }
    struct InputCloser {
        FFmpegRemuxer& remuxer;
        ~InputCloser() { remuxer.CloseInput(); }
    } closeInput{*m_remuxer};
    if (inputPath.empty() || !m_remuxer->OpenInput(inputPath))
        throw utils::FFmpegException("FFMPEG.Could not open input file: " + inputPath, AVERROR(ENOENT), 1);
    SelectStreams(task, inputPath, window);
    SetProgress(6, task);
    const std::string outputPath = OutputFileName(task, destination);
    m_remuxer->Remux(task, window, outputPath);
}

void FFmpegExport::ReportError(int kind, int code, const char* message)
{
    ExportError error;
    error.kind = kind;
    error.code = code;
    error.reason = message != nullptr ? message : "";
    Completed(*this, error);
}

}  // namespace Storage
