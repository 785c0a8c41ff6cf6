// Initialisation of the archive engine over temporary drives: synchronous and
// asynchronous runs with their progress and completion, refusals, unusable
// drives, settings files, read-only media, destruction during a run and the
// lock-order situation that must not deadlock.

#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <memory>
#include <mutex>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "archive/files/ArchiveSettings.h"
#include "archive/fs/FileSystem.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"
#include "support/ThreadNames.h"

using ::testing::ElementsAre;
using testsupport::ArchiveTempDir;
using testsupport::ArchiveTree;
using testsupport::LocalUnixMs;

namespace fs = std::filesystem;

namespace {

// Progress values and the completion, as the callbacks report them.
struct InitRecorder {
    std::mutex mutex;
    std::vector<int> progress;
    std::vector<int> states;
    std::set<std::string> roots;
    enginetest::Latch completed;

    FileSystem::ProgressCallback Progress() {
        return [this](int p) {
            std::lock_guard<std::mutex> lock(mutex);
            progress.push_back(p);
        };
    }
    FileSystem::CompletionCallback Completion() {
        return [this](int state, const std::set<std::string>& r) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                states.push_back(state);
                roots = r;
            }
            completed.Set();
        };
    }
};

// 10 after the volumes, the index start-up's own share, 10 after the record
// volume: rising, ending 10 above the start-up's last report.
void ExpectInitProgress(const std::vector<int>& progress) {
    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(progress.front(), 10);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end())) << ::testing::PrintToString(progress);
    EXPECT_EQ(progress.back() - progress[progress.size() - 2], 10);
    EXPECT_LE(progress.back(), 100);
}

bool WaitIdle(FileSystem& engine) {
    for (int i = 0; i < 60000; ++i) {
        if (!engine.IsInitializing()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

class EngineInitTest : public ::testing::Test {
protected:
    EngineInitTest() : zone("Europe/Berlin") {
        enginetest::WriteMachineRegistry("");
        drive1 = dir.File("d1");
        drive2 = dir.File("d2");
    }

    // Cameras 1 and 7 on drive 1 (25 May 2022), camera 7 and the face-capture
    // channel 50001 on drive 2 (26 May 2022, so drive 2 holds the newest).
    void BuildTwoDrives() {
        ArchiveTree a(drive1), b(drive2);
        a.Add({1, 0x10, LocalUnixMs(2022, 5, 25, 10, 0, 0, 0), LocalUnixMs(2022, 5, 25, 10, 15, 0, 0)});
        a.Add({7, 0x11, LocalUnixMs(2022, 5, 25, 11, 0, 0, 0), LocalUnixMs(2022, 5, 25, 11, 5, 0, 0)});
        b.Add({7, 0x12, LocalUnixMs(2022, 5, 26, 9, 0, 0, 0), LocalUnixMs(2022, 5, 26, 9, 30, 0, 0)});
        b.Add({50001, 0x13, LocalUnixMs(2022, 5, 26, 9, 1, 0, 0), LocalUnixMs(2022, 5, 26, 9, 2, 0, 0)});
        a.WriteIndexes();
        b.WriteIndexes();
    }

    enginetest::ScopedTimeZone zone;
    ArchiveTempDir dir;
    std::string drive1, drive2;
};

TEST_F(EngineInitTest, SynchronousInitLoadsEveryDrive) {
    BuildTwoDrives();
    FileSystem engine;
    std::vector<std::string> recordDrive;
    engine.RecordDriveChanged.connect([&](const std::string& text) { recordDrive.push_back(text); });
    InitRecorder rec;
    ASSERT_TRUE(engine.Init({drive1, drive2}, rec.Progress()));
    ExpectInitProgress(rec.progress);
    EXPECT_EQ(engine.GetVolumeCount(), 2u);
    EXPECT_EQ(engine.GetVolumePath(0), drive1 + "/VIDEO");
    EXPECT_THROW(engine.GetVolumePath(2), std::out_of_range);

    std::vector<int> ids;
    engine.GetCameraIds(ids);
    EXPECT_THAT(ids, ElementsAre(1, 7)) << "face-capture channels are not listed";

    // The newest record lies on drive 2: recording would go there.
    EXPECT_EQ(engine.GetRecordVolume(), 1);
    ASSERT_EQ(recordDrive.size(), 1u);
    EXPECT_EQ(recordDrive[0].rfind(drive2 + " (", 0), 0u) << recordDrive[0];
    EXPECT_THAT(recordDrive[0], ::testing::EndsWith("GB free)"));

    // The same set again does nothing at all.
    rec.progress.clear();
    EXPECT_TRUE(engine.Init({drive2, drive1}, rec.Progress()));
    EXPECT_TRUE(rec.progress.empty());
    EXPECT_EQ(engine.GetDrives(), (std::set<std::string>{drive1, drive2}));
}

TEST_F(EngineInitTest, DrivesThatCannotBeUsedAreReportedNotFatal) {
    BuildTwoDrives();
    // A drive below a regular file: its folders can never be created.
    testsupport::WriteFileBytes(dir.File("plain"), {1});
    const std::string bad = dir.File("plain/drive");
    FileSystem engine;
    std::vector<std::pair<int, std::string>> errors;
    std::vector<unsigned long> codes;
    engine.ErrorReported.connect([&](int channel, const char* text, unsigned long code) {
        errors.emplace_back(channel, text);
        codes.push_back(code);
    });

    EXPECT_TRUE(engine.Init({drive1, bad}));
    EXPECT_EQ(engine.GetVolumeCount(), 1u);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], std::make_pair(-1, "Can't create directory: " + bad));
    EXPECT_NE(codes[0], 0u);

    // No drive at all comes up: false, and the set is forgotten so the same
    // set runs again.
    EXPECT_FALSE(engine.Init({bad}));
    EXPECT_EQ(engine.GetVolumeCount(), 0u);
    EXPECT_TRUE(engine.GetDrives().empty());
    EXPECT_FALSE(engine.Init({bad}));
    EXPECT_EQ(errors.size(), 3u);

    // An empty set always re-initialises and yields no volume.
    EXPECT_TRUE(engine.Init({drive1}));
    EXPECT_FALSE(engine.Init({}));
    EXPECT_EQ(engine.GetVolumeCount(), 0u);
}

TEST_F(EngineInitTest, AsynchronousInitReportsProgressAndCompletion) {
    BuildTwoDrives();
    FileSystem engine;
    InitRecorder rec;
    EXPECT_FALSE(engine.Init({drive1, drive2}, rec.Progress(), rec.Completion()));
    ASSERT_TRUE(rec.completed.Wait());
    ASSERT_TRUE(WaitIdle(engine));
    EXPECT_THAT(rec.states, ElementsAre(FileSystem::InitDone));
    EXPECT_EQ(rec.roots, (std::set<std::string>{drive1, drive2}));
    ExpectInitProgress(rec.progress);

    // A run that brings up nothing completes with the no-volume state.
    InitRecorder none;
    EXPECT_FALSE(engine.Init({}, none.Progress(), none.Completion()));
    ASSERT_TRUE(none.completed.Wait());
    ASSERT_TRUE(WaitIdle(engine));
    EXPECT_THAT(none.states, ElementsAre(FileSystem::InitNoVolume));
    EXPECT_TRUE(none.roots.empty());
}

TEST_F(EngineInitTest, InitDuringARunIsRefused) {
    BuildTwoDrives();
    FileSystem engine;
    enginetest::Latch reached, release;
    InitRecorder first;
    auto progress = [&](int p) {
        if (p == 10) {
            reached.Set();
            release.Wait();
        }
    };
    enginetest::RunOrAbort("refused init", [&] {
        EXPECT_FALSE(engine.Init({drive1}, progress, first.Completion()));
        ASSERT_TRUE(reached.Wait());

        InitRecorder second;
        EXPECT_FALSE(engine.Init({drive2}, {}, second.Completion()));
        EXPECT_THAT(second.states, ElementsAre(FileSystem::InitRefused));
        EXPECT_TRUE(second.roots.empty());
        // Without a completion callback the refusal is only the result.
        EXPECT_FALSE(engine.Init({drive2}));

        release.Set();
        ASSERT_TRUE(first.completed.Wait());
        ASSERT_TRUE(WaitIdle(engine));
    });
    EXPECT_THAT(first.states, ElementsAre(FileSystem::InitDone));
    EXPECT_EQ(first.roots, std::set<std::string>{drive1});
}

TEST_F(EngineInitTest, DestructionWaitsForARunningInit) {
    BuildTwoDrives();
    std::atomic<bool> completed{false};
    enginetest::Latch reached;
    enginetest::RunOrAbort("destruction during init", [&] {
        auto engine = std::make_unique<FileSystem>();
        auto progress = [&](int p) {
            if (p == 10) {
                reached.Set();
                // Keeps the run going while the destructor starts.
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        };
        engine->Init({drive1, drive2}, progress, [&](int, const std::set<std::string>&) { completed = true; });
        ASSERT_TRUE(reached.Wait());
        engine.reset();
        EXPECT_TRUE(completed) << "the destructor returned before the run ended";
    });
}

TEST_F(EngineInitTest, NewerSettingsFileWinsPerChannel) {
    BuildTwoDrives();
    // Both drives need records of channels 1 and 2: channels without records
    // are dropped from the settings at start-up.
    ArchiveTree a(drive1), b(drive2);
    a.Add({2, 0x20, LocalUnixMs(2022, 5, 25, 12, 0, 0, 0), LocalUnixMs(2022, 5, 25, 12, 1, 0, 0)});
    a.WriteIndexes();
    {
        Settings older;
        older.GetChannel(1).name = L"old one";
        older.GetChannel(2).name = L"two";
        older.Save(drive1 + "/VIDEO/Settings.xml");
        Settings newer;
        newer.GetChannel(1).name = L"new one";
        newer.Save(drive2 + "/VIDEO/Settings.xml");
        const auto now = fs::file_time_type::clock::now();
        fs::last_write_time(drive1 + "/VIDEO/Settings.xml", now - std::chrono::hours(48));
        fs::last_write_time(drive2 + "/VIDEO/Settings.xml", now - std::chrono::hours(1));
    }
    FileSystem engine;
    ASSERT_TRUE(engine.Init({drive1, drive2}));
    EXPECT_EQ(engine.GetChannelInfo(1).name, L"new one");
    EXPECT_EQ(engine.GetChannelName(2), "two");
    // A channel the settings do not name gets its default record.
    EXPECT_EQ(engine.GetChannelInfo(7).id, 7);
    EXPECT_EQ(engine.GetChannelInfo(7).name, L"7");
}

TEST_F(EngineInitTest, RegistryValuesAndTheFastIndexWriteBack) {
    {
        FileSystem engine;
        EXPECT_TRUE(engine.IsAdaptivePlayer());
        EXPECT_EQ(engine.GetWriteBufferSize(), 1);
        EXPECT_TRUE(engine.UsesFastIndex());
        EXPECT_EQ(engine.GetFreeDriveTestTime(), 0);
    }
    EXPECT_THAT(enginetest::ReadMachineRegistry(), ::testing::HasSubstr("\"FastIndex\"=\"1\""));

    enginetest::WriteMachineRegistry(
        "[SOFTWARE\\QOR\\Vindara\\Video]\n\"AdaptivePlayer\"=\"0\"\n\"WriteBufferSize\"=\"8\"\n"
        "\"FastIndex\"=\"0\"\n[SOFTWARE\\QOR\\Vindara\\Video\\Test]\n\"getFreeDriveTestTime\"=\"3\"\n");
    FileSystem engine;
    EXPECT_FALSE(engine.IsAdaptivePlayer());
    EXPECT_EQ(engine.GetWriteBufferSize(), 8);
    EXPECT_FALSE(engine.UsesFastIndex());
    EXPECT_EQ(engine.GetFreeDriveTestTime(), 3);
    EXPECT_THAT(enginetest::ReadMachineRegistry(), ::testing::HasSubstr("\"FastIndex\"=\"0\""));
}

// Once the values an engine writes back are stored, a new engine leaves the
// settings store as it is: no value is written again unchanged (each write
// replaces the store's file and syncs it).
TEST_F(EngineInitTest, UnchangedRegistryValuesAreNotWrittenAgain) {
    { FileSystem first; }
    const std::string store = enginetest::RegistryDir() + "/machine.reg";
    struct stat before {};
    ASSERT_EQ(::stat(store.c_str(), &before), 0);
    const std::string text = enginetest::ReadMachineRegistry();
    { FileSystem second; }
    struct stat after {};
    ASSERT_EQ(::stat(store.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the store's file was replaced";
    EXPECT_EQ(enginetest::ReadMachineRegistry(), text);
}

// Sorted listing of a folder tree with file sizes, to see that nothing changed.
std::map<std::string, uintmax_t> Snapshot(const std::string& root) {
    std::map<std::string, uintmax_t> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        files[e.path().string()] = e.is_regular_file() ? e.file_size() : 0;
    return files;
}

// A read-only bind mount of a folder, removed on destruction.
class ReadOnlyMount {
public:
    ReadOnlyMount(const std::string& source, const std::string& target) : m_target(target) {
        testsupport::MakeFolders(target);
        if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) return;
        m_mounted = true;
        if (::mount(nullptr, target.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0)
            m_readOnly = true;
    }
    ~ReadOnlyMount() {
        if (m_mounted) ::umount2(m_target.c_str(), MNT_DETACH);
    }
    bool IsReadOnly() const { return m_readOnly; }

private:
    std::string m_target;
    bool m_mounted = false;
    bool m_readOnly = false;
};

using gavex_test::CountThreadsNamed;

// An initialisation waits on no thread it does not need: the titles keeper
// starts no worker while nobody keeps titles, and a second initialisation
// (the fast index now written) reads the same records.
TEST_F(EngineInitTest, InitStartsNoTitlesWorker) {
    BuildTwoDrives();
    FileSystem engine;
    const int before = CountThreadsNamed("TitlesManager");
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_TRUE(engine.Init({drive1, drive2}));
        std::vector<int> ids;
        engine.GetCameraIds(ids);
        EXPECT_THAT(ids, ElementsAre(1, 7));
        EXPECT_EQ(engine.GetRecordVolume(), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(CountThreadsNamed("TitlesManager"), before);
        ASSERT_FALSE(engine.Init({}));
    }
}

TEST_F(EngineInitTest, ReadOnlyArchiveStillOpens) {
    // No PROTECTED folder, no fast index, and the index files of an hour
    // whose folder is gone: loading would create, rewrite and delete.
    ArchiveTree tree(drive1);
    tree.Add({3, 0x30, LocalUnixMs(2022, 5, 25, 10, 0, 0, 0), LocalUnixMs(2022, 5, 25, 10, 15, 0, 0)});
    tree.Add({3, 0x31, LocalUnixMs(2022, 5, 25, 11, 0, 0, 0), LocalUnixMs(2022, 5, 25, 11, 15, 0, 0)});
    tree.WriteIndexes();
    fs::remove_all(drive1 + "/VIDEO/PROTECTED");
    testsupport::WriteFileBytes(drive1 + "/VIDEO/INDEX/01010100.idx", {0x01, 0xAB, 0x00, 0x00});

    const std::string mounted = dir.File("ro");
    ReadOnlyMount mount(drive1, mounted);
    std::string drive = mounted;
    std::string how = "read-only bind mount";
    if (!mount.IsReadOnly()) {
        // No mount permission here. Clearing write bits stops writes for
        // ordinary users only; as root, make the folders the engine would
        // create or write into regular files instead.
        drive = drive1;
        if (geteuid() != 0) {
            how = "write bits cleared";
            for (const auto& e : fs::recursive_directory_iterator(drive1))
                fs::permissions(e.path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                                fs::perm_options::remove);
        } else {
            how = "blocking files in place of folders";
            testsupport::WriteFileBytes(drive1 + "/VIDEO/PROTECTED", {0});
            fs::create_directories(drive1 + "/VIDEO/INDEX/fastIndex.index");
        }
    }
    SCOPED_TRACE(how);
    // The settings store is read-only as well: the FastIndex write-back fails.
    const std::string reg = enginetest::RegistryDir() + "/machine.reg";
    fs::permissions(reg, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);

    const auto before = Snapshot(drive);
    {
        FileSystem engine;
        ASSERT_TRUE(engine.Init({drive}));
        std::vector<int> ids;
        engine.GetCameraIds(ids);
        EXPECT_THAT(ids, ElementsAre(3));
        EXPECT_EQ(engine.FindRecordTime("", 3, "25-05-22", 0), "10:00:00 10:15:00 -\n11:00:00 11:15:00 -\n");
    }
    fs::permissions(reg, fs::perms::owner_write, fs::perm_options::add);
    if (how != "blocking files in place of folders") {
        EXPECT_EQ(Snapshot(drive), before);
    }
    if (how == "write bits cleared") {
        for (const auto& e : fs::recursive_directory_iterator(drive1))
            fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
    }
}

TEST_F(EngineInitTest, NewestRecordIsFoundWithoutLockOrderDeadlock) {
    // While the index start-up ends, another thread (as a deletion would)
    // holds the directories lock and then wants the volumes lock. The
    // initialisation must not hold the volumes lock while it waits for the
    // directories lock.
    BuildTwoDrives();
    FileSystem engine;
    enginetest::Latch go, holding;
    std::thread deletion([&] {
        ASSERT_TRUE(go.Wait());
        SyncLock dirs(engine.DirsLockForTesting());
        holding.Set();
        // Gives the initialisation time to run into the directories lock.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        SyncLock volumes(engine.VolumesLockForTesting());
    });
    auto progress = [&](int p) {
        // The start-up's report: the indexes are loaded, the newest record
        // is looked for next.
        if (p > 10 && !go.IsSet()) {
            go.Set();
            holding.Wait();
        }
    };
    bool ok = false;
    enginetest::RunOrAbort("init against a deletion", [&] {
        ok = engine.Init({drive1, drive2}, progress);
        deletion.join();
    });
    EXPECT_TRUE(ok);
    EXPECT_EQ(engine.GetRecordVolume(), 1);
}

TEST_F(EngineInitTest, HourWindowLimitsWhatIsLoaded) {
    ArchiveTree tree(drive1);
    tree.Add({1, 0x40, LocalUnixMs(2022, 5, 24, 23, 0, 0, 0), LocalUnixMs(2022, 5, 24, 23, 10, 0, 0)});
    tree.Add({1, 0x41, LocalUnixMs(2022, 5, 25, 0, 30, 0, 0), LocalUnixMs(2022, 5, 25, 0, 40, 0, 0)});
    tree.Add({1, 0x42, LocalUnixMs(2022, 5, 26, 0, 30, 0, 0), LocalUnixMs(2022, 5, 26, 0, 40, 0, 0)});
    tree.WriteIndexes();

    using boost::posix_time::ptime;
    FileSystem engine;
    EXPECT_EQ(engine.GetHourWindow(), std::make_pair(0, INT_MAX));
    engine.SetHourWindow({ptime(boost::posix_time::not_a_date_time), ptime(boost::posix_time::pos_infin)});
    EXPECT_EQ(engine.GetHourWindow(), std::make_pair(0, INT_MAX));

    // 25 May 2022 00:00 to 23:59:59.999999 local (UTC+2): the end plus one
    // microsecond is midnight, hour 0 of the next day.
    const ptime first(boost::gregorian::date(2022, 5, 24), boost::posix_time::hours(22));
    const ptime last = first + boost::posix_time::hours(24) - boost::posix_time::microseconds(1);
    engine.SetHourWindow({first, last});
    EXPECT_EQ(engine.GetHourWindow(), std::make_pair(738300 * 24, 738301 * 24));

    ASSERT_TRUE(engine.Init({drive1}));
    std::vector<boost::gregorian::date> days;
    engine.GetRecordDays(1, days);
    EXPECT_THAT(days, ElementsAre(boost::gregorian::date(2022, 5, 25), boost::gregorian::date(2022, 5, 26)))
        << "the window keeps 25 May and the hour 00 of 26 May";
}

TEST(DriveList, SplitAndJoin) {
    struct Case {
        const char* text;
        std::set<std::string> drives;
        const char* joined;
    };
    const Case cases[] = {
        {"C:\\,,D:\\,C:\\", {"C:\\", "D:\\"}, "C:\\,D:\\"},
        {"", {}, ""},
        {",,,", {}, ""},
        {"/mnt/b,/mnt/a", {"/mnt/a", "/mnt/b"}, "/mnt/a,/mnt/b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseDriveList(c.text), c.drives);
        EXPECT_EQ(JoinDriveList(c.drives), c.joined);
    }
}

}  // namespace
