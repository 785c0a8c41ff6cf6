// The export as a whole program, for the benchmarks to set beside ffmpeg and
// cp. Exits with the report's code.
//   export_bench_run native SOURCE DESTINATION CHANNELS FROM_MS TO_MS
//   export_bench_run remux FILE DESTINATION FROM_S TO_S CONTAINER
// CHANNELS are joined with ","; FROM_MS and TO_MS are Unix ms; FROM_S and
// TO_S are seconds from the media file's start (its name gives the start).

#include <filesystem>
#include <string>

#include <boost/algorithm/string/split.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "FSImplementation/VindaraFileSystemFactory.h"
#include "export/FFmpegExport.h"
#include "export/NativeExport.h"
#include "export/WindowlessExport.h"
#include "media/MediaFileVideoSource.h"
#include "platform/TextCodec.h"

int main(int argc, char** argv)
{
    namespace pt = boost::posix_time;
    const pt::ptime epoch(boost::gregorian::date(1970, 1, 1));
    if (argc < 7)
        return 2;
    const std::string mode = argv[1];
    Storage::ExportTask task;
    boost::shared_ptr<Storage::BasePlayerExport> engine;
    if (mode == "native") {
        auto fs = Storage::CreateVindaraFileSystem(argv[2]);
        if (!fs)
            return 3;
        fs->Initialize(false);
        boost::split(task.ChannelIds, std::string(argv[4]), [](char c) { return c == ','; });
        task.FromTime = epoch + pt::milliseconds(std::stoll(argv[5]));
        task.ToTime = epoch + pt::milliseconds(std::stoll(argv[6]));
        engine = Storage::CreateNativeExport(fs);
    } else if (mode == "remux") {
        auto source = boost::shared_ptr<filters::VideoSource>(new filters::VideoSource);
        MediaFileRecord file;
        file.path = argv[2];
        file.name = platform::Utf8ToWide(std::filesystem::path(file.path).stem().string());
        std::vector<MediaFileRecord> records;
        source->ReadMediaFile(file, records);
        if (records.empty())
            return 3;
        source->SetRecords(records);
        task.ChannelIds = {platform::WideToUtf8(records.front().id)};
        task.FromTime = epoch + pt::milliseconds(records.front().start + std::stoll(argv[4]) * 1000);
        task.ToTime = epoch + pt::milliseconds(records.front().start + std::stoll(argv[5]) * 1000);
        task.OutputContainer = argv[6];
        task.PrefixFileName = "Export";
        engine.reset(new Storage::FFmpegExport({source}));
    } else {
        return 2;
    }
    const int code = Storage::RunExportToCompletion(engine, argv[3], {task});
    return code == 0 ? 0 : 1;
}
