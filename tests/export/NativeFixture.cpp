#include "NativeFixture.h"

#include <filesystem>
#include <mutex>

#include <QApplication>
#include <gtest/gtest.h>

#include "archive/files/ArchiveSettings.h"
#include "export/BasePlayerExport.h"
#include "export/NativeExport.h"
#include "export/WindowlessExport.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"

namespace exporttest {

namespace fsys = std::filesystem;

pt::ptime At(int64_t unixMs)
{
    return pt::ptime(boost::gregorian::date(1970, 1, 1)) + pt::milliseconds(unixMs);
}

int64_t Base()
{
    return testsupport::LocalUnixMs(2026, 3, 14, 10);
}

namespace {

void AddRecord(testsupport::ArchiveTree& tree, const std::vector<testsupport::ArchiveFrame>& h264, int camera,
               uint32_t fileId, size_t count, int64_t startMs)
{
    constexpr int64_t kStep = 200;
    std::vector<testsupport::ArchiveFrame> frames(h264.begin(), h264.begin() + static_cast<long>(count));
    for (size_t i = 0; i < frames.size(); ++i)
        frames[i].unixMs = startMs + static_cast<int64_t>(i) * kStep;
    testsupport::TreeRecord record;
    record.camera = camera;
    record.fileId = fileId;
    record.beginMs = startMs;
    record.endMs = frames.back().unixMs + kStep;
    tree.Add(record);
    testsupport::WriteBytes(tree.ArchiveFolder() + "/" + testsupport::LocalHourFolder(startMs) + "/" +
                                testsupport::ArchiveFileName(camera, fileId),
                            testsupport::BuildArchiveFile(frames));
}

void WriteSettings(const std::string& videoFolder)
{
    Settings settings;
    for (int id : {1, 2, 3})
        settings.GetChannel(id);
    settings.Save(videoFolder + "/Settings.xml");
}

}  // namespace

TwoVolumeArchive::TwoVolumeArchive()
{
    const auto h264 = testsupport::GenerateH264Frames(dir.path(), 60, 0, 200, 10);
    if (h264.size() < 60) {
        ADD_FAILURE() << "ffmpeg made no H.264 frames";
        return;
    }
    testsupport::ArchiveTree a(first), b(second);
    AddRecord(a, h264, 1, 0x10, 20, Base());
    AddRecord(a, h264, 2, 0x11, 20, Base() + 1000);
    AddRecord(a, h264, 3, 0x12, 60, Base() + 2000);
    AddRecord(b, h264, 1, 0x20, 20, Base() + 3'600'000);
    AddRecord(b, h264, 2, 0x21, 20, Base() + 3'601'000);
    a.WriteIndexes();
    b.WriteIndexes(0xAB01, 1);
    WriteSettings(a.ArchiveFolder());
    WriteSettings(b.ArchiveFolder());
}

boost::shared_ptr<Storage::IVindaraFileSystem> Open(const std::string& source)
{
    auto fs = Storage::CreateVindaraFileSystem(source);
    EXPECT_TRUE(fs) << source;
    if (fs) {
        fs->Initialize(false);
        EXPECT_TRUE(fs->IsOpened()) << source;
    }
    return fs;
}

std::vector<FrameCopy> ReadChannel(Storage::IVindaraFileSystem& fs, const std::string& channel)
{
    std::vector<FrameCopy> frames;
    auto reader = fs.CreateChannelReader(channel);
    if (!reader)
        return frames;
    VideoFramePtr frame = reader->GetCurrentFrame();
    while (frame) {
        frames.push_back({(Storage::FrameInstant(frame.get()) - At(0)).total_milliseconds(),
                          std::vector<uint8_t>(frame->m_pData, frame->m_pData + frame->m_cbData)});
        if (reader->IsAtEnd())
            break;
        frame = reader->ReadNext(false);
    }
    return frames;
}

std::vector<std::string> Channels(Storage::IVindaraFileSystem& fs)
{
    std::vector<std::string> ids;
    fs.GetChannels(ids);
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::map<std::string, std::vector<uint8_t>> Snapshot(const std::string& folder)
{
    std::map<std::string, std::vector<uint8_t>> files;
    std::error_code ec;
    for (auto it = fsys::recursive_directory_iterator(folder, ec); !ec && it != fsys::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_regular_file())
            files[it->path().string()] = gavex_test::ReadFileBytes(it->path().string());
    return files;
}

std::vector<std::string> Listing(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fsys::recursive_directory_iterator(folder, ec); !ec && it != fsys::recursive_directory_iterator();
         it.increment(ec))
        names.push_back(fsys::relative(it->path(), folder).string() + (it->is_directory() ? "/" : ""));
    std::sort(names.begin(), names.end());
    return names;
}

Storage::ExportTask Task(std::vector<std::string> channels, int64_t fromMs, int64_t toMs, int row)
{
    Storage::ExportTask task;
    task.row = row;
    task.ChannelIds = std::move(channels);
    task.FromTime = At(fromMs);
    task.ToTime = At(toMs);
    return task;
}

ExportRun RunExport(const boost::shared_ptr<Storage::IVindaraFileSystem>& fs, const std::string& destination,
              const std::vector<Storage::ExportTask>& tasks, int cancelAbove)
{
    ExportRun run;
    auto engine = Storage::CreateNativeExport(fs);
    engine->TaskProgress.connect([&](const Storage::IPlayerExport& e, int percent, const Storage::ExportTask& task) {
        run.percents[task.row].push_back(percent);
        if (cancelAbove >= 0 && percent > cancelAbove)
            const_cast<Storage::IPlayerExport&>(e).Cancel();
    });
    Storage::RunExportToCompletion(engine, destination, tasks, {},
                                   [&](const Storage::ExportError& error) { run.report = error; });
    return run;
}

void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "export-tests";
    static char* argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (QCoreApplication::instance() == nullptr)
        new QApplication(argc, argv);
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace exporttest
