// Archive sources on disk, opened through the factory: a recorder archive on
// two folders, an exported folder (with a gap and an overlap between files)
// and an exported file. Each must be classified, list its channels and read
// every channel forward, backward and from a time.

#include "FSImplementation/VindaraFileSystemFactory.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/lexical_cast.hpp>
#include <gtest/gtest.h>

#include "FSImplementation/FSInfo.h"
#include "platform/TimeZone.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"
#include "support/TempDir.h"

namespace {

namespace pt = boost::posix_time;
namespace fsys = std::filesystem;
using Storage::FrameInstant;

pt::ptime At(int64_t unixMs)
{
    return pt::ptime(boost::gregorian::date(1970, 1, 1)) + pt::milliseconds(unixMs);
}

// The frames a channel must give, in time order.
struct Expected {
    std::vector<int64_t> ms;
    std::vector<bool> key;

    void Append(const std::vector<testsupport::ArchiveFrame>& frames)
    {
        for (const auto& f : frames) {
            ms.push_back(f.unixMs);
            key.push_back(f.key);
        }
    }
    size_t size() const { return ms.size(); }
};

// Sets a file's last-write time before the creation time the system gives
// it, as copying does: the folder scan then reads the frames' own times.
void BackdateFile(const std::string& path)
{
    struct timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::vector<testsupport::ArchiveFrame> WriteExportFile(const std::string& path, size_t count, int64_t startMs,
                                                       int64_t stepMs, size_t gop)
{
    fsys::create_directories(fsys::path(path).parent_path());
    auto frames = testsupport::MakeSyntheticFrames(count, startMs, stepMs, gop, 64);
    testsupport::WriteBytes(path, testsupport::BuildArchiveFile(frames));
    BackdateFile(path);
    return frames;
}

// Reads the whole channel both ways and from times between frames, checking
// every frame against the expected list.
void CheckChannel(Storage::IChannelReader& reader, const Expected& e)
{
    const size_t n = e.size();
    ASSERT_GE(n, 2u);
    ASSERT_EQ(reader.GetCurrentTime(), At(e.ms[0]));
    for (size_t i = 1; i < n; ++i)
        ASSERT_EQ(FrameInstant(reader.ReadNext(false).get()), At(e.ms[i])) << "forward to frame " << i;
    EXPECT_TRUE(reader.IsAtEnd());
    EXPECT_EQ(FrameInstant(reader.ReadNext(false).get()), At(e.ms[n - 1]));
    for (size_t i = n - 1; i-- > 0;)
        ASSERT_EQ(FrameInstant(reader.ReadPrevious(false).get()), At(e.ms[i])) << "backward to frame " << i;
    EXPECT_EQ(FrameInstant(reader.ReadPrevious(false).get()), At(e.ms[0]));

    // From a time between two frames: the earlier frame, then back to its key
    // frame, then forward in order through it and on to the next key frame.
    for (size_t j : {n / 3, n / 2 + 1, n - 2}) {
        SCOPED_TRACE("seek next to frame " + std::to_string(j));
        reader.Seek(At(e.ms[j] + 1));
        ASSERT_EQ(reader.GetCurrentTime(), At(e.ms[j]));
        size_t k = j;
        while (k > 0 && !e.key[k])
            --k;
        ASSERT_TRUE(e.key[k]) << "fixture needs a key frame before " << j;
        if (k != j) {
            ASSERT_EQ(FrameInstant(reader.ReadPrevious(true).get()), At(e.ms[k]));
            EXPECT_TRUE(reader.GetCurrentFrame() && reader.GetCurrentFrame()->m_pData);
            for (size_t i = k + 1; i <= j; ++i)
                ASSERT_EQ(FrameInstant(reader.ReadNext(false).get()), At(e.ms[i]));
        }
        size_t next = j + 1;
        while (next < n && !e.key[next])
            ++next;
        if (next < n) {
            EXPECT_EQ(FrameInstant(reader.ReadNext(true).get()), At(e.ms[next]));
        }
    }
    // Before the first frame: the first frame.
    reader.Seek(At(e.ms[0] - 60'000));
    EXPECT_EQ(reader.GetCurrentTime(), At(e.ms[0]));
    EXPECT_EQ(FrameInstant(reader.ReadNext(false).get()), At(e.ms[1]));
}

// Records what a front end reports while it opens.
struct Reports {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> progress;
    bool complete = false;
    int code = -1;
    std::string text;

    explicit Reports(Storage::IVindaraFileSystem& fs)
    {
        fs.ProgressSignal.connect([this](Storage::IVindaraFileSystem&, int percent) {
            std::lock_guard<std::mutex> lock(mutex);
            progress.push_back(percent);
        });
        fs.CompleteSignal.connect([this](Storage::IVindaraFileSystem&, boost::system::system_error& error) {
            std::lock_guard<std::mutex> lock(mutex);
            complete = true;
            code = error.code().value();
            text = error.what();
            changed.notify_all();
        });
    }
    bool WaitComplete()
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(60), [this] { return complete; });
    }
};

std::vector<std::string> Channels(Storage::IVindaraFileSystem& fs)
{
    std::vector<std::string> ids;
    fs.GetChannels(ids);
    return ids;
}

// 2026-03-14 10:00 local time.
int64_t Base()
{
    return testsupport::LocalUnixMs(2026, 3, 14, 10);
}

TEST(FrontEnds, SourcesAreClassifiedByWhatTheyHold)
{
    gavex_test::TempDir dir("frontends-classify");
    fsys::create_directories(dir / "drive/VIDEO");
    fsys::create_directories(dir / "lower/video");
    fsys::create_directories(dir / "indexed/INDEX");
    fsys::create_directories(dir / "settings");
    gavex_test::WriteFileString(dir / "settings/SETTINGS.XML", "<x/>");
    fsys::create_directories(dir / "volumes/a/VIDEO");
    gavex_test::WriteFileString(dir / "volumes/.volumes", "");
    fsys::create_directories(dir / "export/sub");
    gavex_test::WriteFileString(dir / "file._05", "x");

    struct Case {
        std::string path;
        Storage::FileSystemType type;
    };
    const Case cases[] = {
        {dir / "drive", Storage::Drives},       {dir / "lower", Storage::Drives},
        {dir / "indexed", Storage::Drives},     {dir / "settings", Storage::Drives},
        {dir / "volumes", Storage::Drives},     {dir / "export", Storage::Folder},
        {dir / "no-such-folder", Storage::Folder}, {dir / "file._05", Storage::File},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Storage::GetFileSystemType(c.path), c.type) << c.path;
}

TEST(FrontEnds, FactoryPicksTheFrontEndAndItsVolumes)
{
    gavex_test::TempDir dir("frontends-factory");
    fsys::create_directories(dir / "drive/VIDEO");
    fsys::create_directories(dir / "both/VIDEO");
    fsys::create_directories(dir / "both/b1");
    fsys::create_directories(dir / "both/a1");
    gavex_test::WriteFileString(dir / "both/.volumes", "");
    gavex_test::WriteFileString(dir / "both/readme", "");
    fsys::create_directories(dir / "rooted/INDEX");
    fsys::create_directories(dir / "rooted/v1");
    gavex_test::WriteFileString(dir / "rooted/.volumes", "");
    fsys::create_directories(dir / "export");
    gavex_test::WriteFileString(dir / "one._05", "x");

    struct Case {
        std::string source;
        const char* kind;  // "drives", "folder", "file"
        std::string path;
        bool videoFolderRoot = false;
    };
    const std::string d = dir.path();
    const Case cases[] = {
        {d + "/drive", "drives", d + "/drive/"},
        // VIDEO beside .volumes: only the volume folders count.
        {d + "/both", "drives", d + "/both/a1/|" + d + "/both/b1/|" + d + "/both/VIDEO/"},
        {d + "/rooted", "drives", d + "/rooted/|" + d + "/rooted/INDEX/|" + d + "/rooted/v1/", true},
        {d + "/export", "folder", d + "/export/"},
        {d + "/export/", "folder", d + "/export/"},
        {d + "/one._05", "file", d + "/one._05"},
        // Two items make a drive set whatever they are.
        {d + "/one._05|" + d + "/export", "drives", d + "/one._05/|" + d + "/export/"},
        {d + "/drive|", "drives", d + "/drive/|"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        auto fs = Storage::CreateVindaraFileSystem(c.source);
        ASSERT_TRUE(fs);
        EXPECT_EQ(fs->GetPath(), c.path);
        const std::string kind = dynamic_cast<Storage::VindaraDrivesFS*>(fs.get())   ? "drives"
                                 : dynamic_cast<Storage::VindaraFolderFS*>(fs.get()) ? "folder"
                                 : dynamic_cast<Storage::VindaraFileFS*>(fs.get())   ? "file"
                                                                                     : "?";
        EXPECT_EQ(kind, c.kind);
        if (auto* drives = dynamic_cast<Storage::VindaraDrivesFS*>(fs.get())) {
            EXPECT_EQ(drives->IsVideoFolderRoot(), c.videoFolderRoot);
        }
        EXPECT_EQ(fs->GetPath().find('\\'), std::string::npos);
    }
}

TEST(FrontEnds, ExportedFileIsOneChannelReadBothWays)
{
    gavex_test::TempDir dir("frontends-file");
    const std::string path = dir / "1F._07";
    Expected e;
    e.Append(WriteExportFile(path, 40, Base(), 200, 8));

    auto fs = Storage::CreateVindaraFileSystem(path);
    ASSERT_TRUE(fs);
    Reports reports(*fs);
    fs->Initialize(false);
    ASSERT_TRUE(reports.complete);
    EXPECT_EQ(reports.code, 0) << reports.text;
    EXPECT_EQ(reports.progress, std::vector<int>{100});
    EXPECT_TRUE(fs->IsOpened());
    EXPECT_EQ(Channels(*fs), std::vector<std::string>{"7"});
    EXPECT_FALSE(fs->CreateChannelReader("5"));

    auto reader = fs->CreateChannelReader("7");
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->GetName(), L"7");
    CheckChannel(*reader, e);

    std::vector<boost::gregorian::date> days;
    reader->GetRecordDays(days);
    ASSERT_EQ(days.size(), 1u);
    std::vector<pt::time_period> periods;
    reader->GetRecordIntervals(days[0], periods);
    ASSERT_EQ(periods.size(), 1u);
    EXPECT_EQ(periods[0].begin(), At(e.ms.front()));
    EXPECT_EQ(periods[0].end(), At(e.ms.back()));

    auto* exporter = dynamic_cast<Storage::IChannelExporter*>(reader.get());
    ASSERT_NE(exporter, nullptr);
    std::vector<std::string> files;
    exporter->GetExportFiles(pt::time_period(At(e.ms.front() - 1000), At(e.ms.front()) + pt::microseconds(1)), files);
    exporter->GetExportFiles(pt::time_period(At(e.ms.back() + 1), pt::hours(1)), files);
    EXPECT_EQ(files, std::vector<std::string>{path});
}

TEST(FrontEnds, ExportedFolderJoinsFilesAcrossGapsAndDropsOverlaps)
{
    gavex_test::TempDir dir("frontends-folder");
    const int64_t base = Base();
    Expected five;
    // A, then C overlapping A (met after A: dropped), then B in a sub-folder
    // after a gap of 50 s.
    five.Append(WriteExportFile(dir / "0001._05", 20, base, 500, 5));
    WriteExportFile(dir / "0003._05", 10, base + 5'000, 500, 5);
    five.Append(WriteExportFile(dir / "sub/0002._05", 20, base + 60'000, 500, 5));
    Expected hundred;
    hundred.Append(WriteExportFile(dir / "0004._A0", 12, base, 1000, 4));
    gavex_test::WriteFileString(dir / "notes.txt", "not an archive file\n");
    gavex_test::WriteFileString(dir / "0005._G1", "bad camera suffix\n");

    auto fs = Storage::CreateVindaraFileSystem(dir.path());
    ASSERT_TRUE(fs);
    Reports reports(*fs);
    fs->Initialize(false);
    EXPECT_EQ(reports.code, 0) << reports.text;
    EXPECT_EQ(Channels(*fs), (std::vector<std::string>{"100", "5"}));
    auto* folder = dynamic_cast<Storage::VindaraFolderFS*>(fs.get());
    ASSERT_NE(folder, nullptr);
    ASSERT_EQ(folder->Channels().at("5").size(), 2u);
    EXPECT_EQ(folder->Channels().at("5").begin()->second, dir / "0001._05");

    auto reader = fs->CreateChannelReader("5");
    ASSERT_TRUE(reader);
    CheckChannel(*reader, five);
    // Across the gap: forward from A's last frame to B's first, and back.
    reader->Seek(At(five.ms[19]));
    ASSERT_EQ(reader->GetCurrentTime(), At(five.ms[19]));
    EXPECT_EQ(FrameInstant(reader->ReadNext(false).get()), At(five.ms[20]));
    EXPECT_EQ(FrameInstant(reader->ReadPrevious(false).get()), At(five.ms[19]));
    // A time in the gap leaves the last frame before it.
    reader->Seek(At(five.ms[19] + 20'000));
    EXPECT_EQ(reader->GetCurrentTime(), At(five.ms[19]));

    std::vector<pt::time_period> periods;
    reader->GetRecordIntervals(At(base).date(), periods);
    ASSERT_EQ(periods.size(), 2u);
    EXPECT_EQ(periods[0], pt::time_period(At(five.ms[0]), At(five.ms[19])));
    EXPECT_EQ(periods[1], pt::time_period(At(five.ms[20]), At(five.ms[39])));

    // The play information follows the reader from file to file.
    Storage::IPlayInfo* info = reader->GetPlayInfo();
    ASSERT_NE(info, nullptr);
    int changes = 0;
    info->ChangeSignal.connect([&changes] { ++changes; });
    reader->Seek(At(five.ms[5]));
    EXPECT_EQ(info->GetCurrentFileInfo(0).videoPath, dir / "0001._05");
    EXPECT_EQ(info->GetCurrentFileInfo(1).videoPath, dir / "sub/0002._05");
    EXPECT_EQ(info->GetCurrentFileInfo(0).period, pt::time_period(At(five.ms[0]), At(five.ms[20])));
    const int before = changes;
    reader->Seek(At(five.ms[25]));
    EXPECT_EQ(changes, before + 1);
    EXPECT_EQ(info->GetCurrentFileInfo(0).videoPath, dir / "sub/0002._05");
    EXPECT_FALSE(info->GetCurrentFileInfo(1).HasFile());

    // Export files: those holding material in the period; a period ending in
    // the gap leaves B out, one reaching into B takes it.
    struct ExportCase {
        pt::time_period period;
        std::vector<std::string> files;
    };
    const ExportCase exports[] = {
        {pt::time_period(At(five.ms[2]), At(five.ms[19] + 10'000)), {dir / "0001._05"}},
        {pt::time_period(At(five.ms[2]), At(five.ms[21])), {dir / "0001._05", dir / "sub/0002._05"}},
        {pt::time_period(At(five.ms[19] + 1'000), At(five.ms[22])), {dir / "sub/0002._05"}},
        {pt::time_period(At(five.ms[39] + 1'000), pt::hours(1)), {}},
    };
    for (const ExportCase& c : exports) {
        std::vector<std::string> files;
        dynamic_cast<Storage::IChannelExporter&>(*reader).GetExportFiles(c.period, files);
        EXPECT_EQ(files, c.files) << c.period;
    }

    auto other = fs->CreateChannelReader("100");
    ASSERT_TRUE(other);
    CheckChannel(*other, hundred);
    EXPECT_FALSE(fs->CreateChannelReader("6"));
}

TEST(FrontEnds, FolderFileSpanningThreeDaysListsEveryDayButFillsOnlyItsEnds)
{
    gavex_test::TempDir dir("frontends-days");
    const int64_t dayMs = 86'400'000;
    const int64_t lateEvening = testsupport::LocalUnixMs(2026, 3, 14, 23, 59, 0);
    // Frames at 23:59 of day 1, 12:00 of day 2 and 00:00:30 of day 3.
    std::vector<testsupport::ArchiveFrame> frames =
        testsupport::MakeSyntheticFrames(3, lateEvening, 1000, 1, 64);
    frames[1].unixMs = lateEvening + dayMs / 2;
    frames[2].unixMs = lateEvening + dayMs + 90'000;
    testsupport::WriteBytes(dir / "0001._02", testsupport::BuildArchiveFile(frames));
    BackdateFile(dir / "0001._02");

    auto fs = Storage::CreateVindaraFileSystem(dir.path());
    fs->Initialize(false);
    auto reader = fs->CreateChannelReader("2");
    ASSERT_TRUE(reader);
    std::vector<boost::gregorian::date> days;
    reader->GetRecordDays(days);
    const boost::gregorian::date first = At(frames[0].unixMs).date();
    ASSERT_EQ(days.size(), 3u);
    EXPECT_EQ(days[0], first);
    EXPECT_EQ(days[2], first + boost::gregorian::days(2));
    std::vector<pt::time_period> middle;
    reader->GetRecordIntervals(days[1], middle);
    EXPECT_TRUE(middle.empty());
}

TEST(FrontEnds, SourcesThatAreNoArchiveAreRefusedWithTheReason)
{
    gavex_test::TempDir dir("frontends-refused");
    gavex_test::WriteFileString(dir / "notes.txt", "this is not an archive\n");
    struct Case {
        std::string source;
        std::string text;  // part of the completion text
    };
    const Case cases[] = {
        {dir / "notes.txt", "Failed to open file"},
        {dir / "no-such-folder", "no-such-folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        auto fs = Storage::CreateVindaraFileSystem(c.source);
        ASSERT_TRUE(fs);
        Reports reports(*fs);
        fs->Initialize(false);
        ASSERT_TRUE(reports.complete);
        EXPECT_NE(reports.code, 0);
        EXPECT_NE(reports.text.find(c.text), std::string::npos) << reports.text;
        EXPECT_EQ(reports.progress, std::vector<int>{100});
        EXPECT_FALSE(fs->IsOpened());
        EXPECT_TRUE(Channels(*fs).empty());
    }
}

// One record of the recorder's archive: its index entry and its archive file
// in the hour folder. indexShiftMs moves the index times off the frames'.
std::vector<testsupport::ArchiveFrame> AddRecord(testsupport::ArchiveTree& tree, int camera, uint32_t fileId,
                                                 size_t count, int64_t startMs, int64_t stepMs, size_t gop,
                                                 int64_t indexShiftMs = 0)
{
    auto frames = testsupport::MakeSyntheticFrames(count, startMs, stepMs, gop, 64);
    testsupport::TreeRecord record;
    record.camera = camera;
    record.fileId = fileId;
    record.beginMs = startMs + indexShiftMs;
    record.endMs = frames.back().unixMs + stepMs + indexShiftMs;
    tree.Add(record);
    testsupport::WriteBytes(tree.ArchiveFolder() + "/" + testsupport::LocalHourFolder(record.beginMs) + "/" +
                                testsupport::ArchiveFileName(camera, fileId),
                            testsupport::BuildArchiveFile(frames));
    return frames;
}

// Camera 1 on both drives (10:00 on the first, 11:00 on the second) and
// camera 12 at 10:30 on the second.
struct TwoDriveArchive {
    gavex_test::TempDir dir{"frontends-drives"};
    Expected one, twelve;
    std::string first = dir / "d1", second = dir / "d2";

    TwoDriveArchive()
    {
        testsupport::ArchiveTree a(first), b(second);
        one.Append(AddRecord(a, 1, 0x10, 30, Base(), 200, 6));
        one.Append(AddRecord(b, 1, 0x11, 30, Base() + 3'600'000, 200, 6));
        twelve.Append(AddRecord(b, 12, 0x12, 20, Base() + 1'800'000, 500, 5));
        a.WriteIndexes();
        b.WriteIndexes(0xAB01, 1);
    }
};

TEST(FrontEnds, RecorderArchiveOnTwoDrivesReadsEachChannelAcrossFiles)
{
    TwoDriveArchive archive;
    auto fs = Storage::CreateVindaraFileSystem(archive.first + "|" + archive.second);
    ASSERT_TRUE(fs);
    ASSERT_NE(dynamic_cast<Storage::VindaraDrivesFS*>(fs.get()), nullptr);
    EXPECT_EQ(fs->GetPath(), archive.first + "/|" + archive.second + "/");
    Reports reports(*fs);
    fs->Initialize(false);
    ASSERT_TRUE(reports.complete);
    EXPECT_EQ(reports.code, 0) << reports.text;
    EXPECT_EQ(reports.progress, std::vector<int>{100});
    ASSERT_TRUE(fs->IsOpened());
    EXPECT_EQ(Channels(*fs), (std::vector<std::string>{"1", "12"}));

    auto reader = fs->CreateChannelReader("1");
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->GetName(), L"1");
    CheckChannel(*reader, archive.one);

    std::vector<boost::gregorian::date> days;
    reader->GetRecordDays(days);
    ASSERT_EQ(days.size(), 1u);
    std::vector<pt::time_period> periods;
    reader->GetRecordIntervals(days[0], periods);
    ASSERT_EQ(periods.size(), 2u);
    EXPECT_EQ(periods[0].begin(), At(archive.one.ms.front()));
    EXPECT_EQ(periods[1].end(), At(archive.one.ms.back() + 200));

    std::vector<std::string> files;
    dynamic_cast<Storage::IChannelExporter&>(*reader).GetExportFiles(
        pt::time_period(At(Base()), pt::hours(2)), files);
    EXPECT_EQ(files.size(), 2u);

    Storage::IndexEntryMap entries;
    fs->GetIndexEntries({"1", "12"}, pt::time_period(At(Base() - 1000), pt::hours(3)), entries);
    size_t count = 0;
    for (const auto& [key, list] : entries)
        count += list.size();
    EXPECT_EQ(count, 3u);

    auto other = fs->CreateChannelReader("12");
    ASSERT_TRUE(other);
    CheckChannel(*other, archive.twelve);
    EXPECT_THROW(fs->CreateChannelReader("twelve"), boost::bad_lexical_cast);
}

TEST(FrontEnds, RecorderArchiveOpensAsynchronouslyAndReportsOnCompletion)
{
    TwoDriveArchive archive;
    auto fs = Storage::CreateVindaraFileSystem(archive.first + "|" + archive.second);
    ASSERT_TRUE(fs);
    Reports reports(*fs);
    fs->Initialize(true);
    ASSERT_TRUE(reports.WaitComplete());
    EXPECT_EQ(reports.code, 0) << reports.text;
    EXPECT_TRUE(fs->IsOpened());
    EXPECT_EQ(Channels(*fs), (std::vector<std::string>{"1", "12"}));
}

TEST(FrontEnds, SingleArchiveFolderIsADriveOfItsOwn)
{
    TwoDriveArchive archive;
    auto fs = Storage::CreateVindaraFileSystem(archive.first);
    ASSERT_TRUE(fs);
    EXPECT_EQ(fs->GetPath(), archive.first + "/");
    fs->Initialize(false);
    ASSERT_TRUE(fs->IsOpened());
    EXPECT_EQ(Channels(*fs), std::vector<std::string>{"1"});
}

TEST(FrontEnds, SynchronousOpenOfDrivesWithoutAnyVolumeFails)
{
    // Volumes whose folders cannot even be made: their parent is a file.
    gavex_test::TempDir dir("frontends-novolume");
    gavex_test::WriteFileString(dir / "file", "x");
    auto fs = Storage::CreateVindaraFileSystem(dir / "file/a|" + dir / "file/b");
    ASSERT_TRUE(fs);
    Reports reports(*fs);
    fs->Initialize(false);
    ASSERT_TRUE(reports.complete);
    EXPECT_NE(reports.code, 0);
    EXPECT_FALSE(reports.text.empty());
    EXPECT_FALSE(fs->IsOpened());
    EXPECT_TRUE(Channels(*fs).empty());
    EXPECT_FALSE(fs->CreateChannelReader("1"));
}

TEST(FrontEnds, DrivesChannelMeasuresTheShiftBetweenIndexAndFrames)
{
    gavex_test::TempDir dir("frontends-shift");
    testsupport::ArchiveTree tree(dir / "d1");
    Expected e;
    e.Append(AddRecord(tree, 3, 0x20, 20, Base(), 500, 5, 3'600'000));
    tree.WriteIndexes();
    auto fs = Storage::CreateVindaraFileSystem(dir / "d1");
    fs->Initialize(false);
    ASSERT_TRUE(fs->IsOpened());
    auto reader = fs->CreateChannelReader("3");
    ASSERT_TRUE(reader);
    auto* channel = dynamic_cast<Storage::ChannelReader*>(reader.get());
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(channel->GetShift(), pt::hours(1));
    EXPECT_EQ(reader->GetCurrentTime(), At(e.ms.front()));
    std::vector<pt::time_period> periods;
    reader->GetRecordIntervals(At(Base()).date(), periods);
    ASSERT_EQ(periods.size(), 1u);
    EXPECT_EQ(periods[0].begin(), At(e.ms.front()));
}

}  // namespace

namespace {

// Runs a block in a zone and restores the caller's zone afterwards.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        setenv("TZ", zone, 1);
        platform::tz::Reload();
    }
    ~ZoneScope()
    {
        if (m_old)
            setenv("TZ", m_old->c_str(), 1);
        else
            unsetenv("TZ");
        platform::tz::Reload();
    }

private:
    std::optional<std::string> m_old;
};

}  // namespace

// A seek to a time before the first frame leaves every kind of channel on its
// first frame, the readable one, whatever the zone: the epoch itself is
// 01:00 local east of UTC and 19:00 on the day before west of it.
TEST(FrontEnds, SeekBeforeTheFirstFrameGivesTheFirstFrameInAnyZone)
{
    const int64_t first = 1551675967000;  // 2019-03-04 05:06:07 UTC
    const struct {
        const char* name;
        int64_t seekMs;
    } seeks[] = {
        {"the epoch", 0},
        {"a millisecond before the epoch", -1},
        {"an hour after the epoch", 3'600'000},
        {"a day before the first frame", first - 86'400'000},
        {"a millisecond before the first frame", first - 1},
    };
    for (const char* zone : {"UTC", "Europe/Berlin", "Asia/Tokyo", "America/New_York"}) {
        ZoneScope scope(zone);
        gavex_test::TempDir dir("frontends-epoch");
        WriteExportFile(dir / "folder/0001._03", 5, first, 200, 5);
        WriteExportFile(dir / "folder/sub/0002._03", 5, first + 60'000, 200, 5);
        WriteExportFile(dir / "1F._07", 5, first, 200, 5);
        const struct {
            std::string path, channel;
        } sources[] = {{dir / "folder", "3"}, {dir / "1F._07", "7"}};
        for (const auto& source : sources) {
            auto fs = Storage::CreateVindaraFileSystem(source.path);
            ASSERT_TRUE(fs);
            fs->Initialize(false);
            auto reader = fs->CreateChannelReader(source.channel);
            ASSERT_TRUE(reader) << zone << " " << source.path;
            for (const auto& seek : seeks) {
                SCOPED_TRACE(std::string(zone) + ", " + source.path + ", " + seek.name);
                // From the end, so that the seek has to move the reader.
                reader->Seek(At(first + 120'000));
                ASSERT_NE(reader->GetCurrentTime(), At(first));
                reader->Seek(At(seek.seekMs));
                const VideoFramePtr frame = reader->GetCurrentFrame();
                ASSERT_TRUE(frame && frame->m_pData);
                EXPECT_EQ(FrameInstant(frame.get()), At(first));
                EXPECT_EQ(FrameInstant(reader->ReadNext(false).get()), At(first + 200));
            }
        }
    }
}
