#pragma once
// Media-file export: one new media file per task holding the chosen
// channels' streams for the task's window, copied packet by packet without
// decoding. FFmpegExport is the engine; FFmpegRemuxer does the FFmpeg work.
// Like a stream copy by FFmpeg, a window's streams start at their last key
// frame shown at or before its start, and end at the first key frame decoded
// at or after its end.
//
// Each task opens an input of its own on the file that holds its window, so
// the export never touches the format context that playback reads on its
// pin thread. The output is written under a temporary name and renamed in
// when the task succeeds; a failed or cancelled task leaves no file.

#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <boost/signals2/signal.hpp>

#include "export/BasePlayerExport.h"

struct AVDictionary;
struct AVFormatContext;
struct AVPacket;
struct AVStream;

namespace filters {
class IVideoSource;
class VideoSource;
}  // namespace filters

namespace Storage {

struct ExportWindow {
    int64_t startMs = 0;  // media positions in ms
    int64_t endMs = 0;
    std::deque<int> streamIndexes;         // video and subtitle streams to copy
    std::deque<std::string> streamTitles;  // audio streams with these titles are copied
};

struct StreamWindow {
    int64_t start = 0;  // in the input stream's time base
    int64_t end = 0;
    int32_t state = 0;  // 0 before the window, 1 inside, 2 finished
    // The last decoding time written, in the output stream's time base; the
    // least value (FFmpeg's "no time") before the first.
    int64_t lastDts = std::numeric_limits<int64_t>::min();
};

class FFmpegRemuxer : public boost::signals2::signal<void(double, const Storage::ExportTask&)> {
public:
    FFmpegRemuxer() = default;
    ~FFmpegRemuxer();
    FFmpegRemuxer(const FFmpegRemuxer&) = delete;
    FFmpegRemuxer& operator=(const FFmpegRemuxer&) = delete;

    // Opens the input of the next task (closing the previous one); false
    // when the file does not open.
    bool OpenInput(const std::string& path);
    void CloseInput();
    AVFormatContext* Input() const { return input; }

    // The stream copy of one task; throws utils::FFmpegException (stage 1
    // to 4) or boost::thread_interrupted, after removing the partial output.
    void Remux(const Storage::ExportTask& task, const ExportWindow& window, const std::string& path);

    static std::string GetMetadata(AVDictionary* dictionary, const std::string& key);
    static void SetMetadata(AVDictionary** dictionary, const std::string& key, const std::string& value);

private:
    void CreateOutput(const std::string& path);
    void CreateStreams(const ExportWindow& window);
    void OpenOutput();
    void CopyPackets();
    void WritePacket(AVPacket* packet);
    void StoreError(int error);
    // Logs the message (stage 0) or throws it with the stage.
    void ReportFFmpeg(const std::string& message, int stage);
    void FreeOutput();

    std::string outputPath;
    std::string tempPath;
    AVFormatContext* input = nullptr;
    AVFormatContext* output = nullptr;
    std::deque<int> streamMap;
    std::map<int, StreamWindow> windows;
    std::string lastErrorText;
    int32_t lastError = 0;
};

class FFmpegExport : public BasePlayerExport {
public:
    // Keeps the media-file sources (others are ignored); all play one file.
    explicit FFmpegExport(const std::vector<boost::shared_ptr<filters::IVideoSource>>& sources);
    ~FFmpegExport() override;

    // The output name of a task: prefix, blank, start time
    // "%Y-%m-%d %H-%M-%S_%f", point, container.
    static std::string OutputFileName(const Storage::ExportTask& task, const boost::filesystem::path& destination);

protected:
    void ExportTask(const Storage::ExportTask& task, const boost::filesystem::path& destination) override;
    // The message itself is the reason.
    void ReportError(int kind, int code, const char* message) override;

private:
    void SelectStreams(const Storage::ExportTask& task, const std::string& inputPath, ExportWindow& window);

    boost::shared_ptr<FFmpegRemuxer> m_remuxer;
    std::vector<boost::shared_ptr<filters::VideoSource>> m_sources;
};

}  // namespace Storage
