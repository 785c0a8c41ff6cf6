#include "archive/files/VolumeFreeSizeChecker.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace {

// Collects notifications and lets the test wait for them.
class Recorder {
public:
    void operator()(const std::string& path, bool mounted) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.emplace_back(path, mounted);
        m_cond.notify_all();
    }
    bool WaitFor(size_t count, std::chrono::seconds limit = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cond.wait_for(lock, limit, [&] { return m_calls.size() >= count; });
    }
    std::vector<std::pair<std::string, bool>> Calls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::vector<std::pair<std::string, bool>> m_calls;
};

const char kMounts[] =
    "sysfs /sys sysfs rw 0 0\n"
    "/dev/sda1 / ext4 rw,relatime 0 0\n"
    "server:/export /mnt/nfs nfs4 rw 0 0\n"
    "//nas/video /mnt/nas cifs rw 0 0\n"
    "//nas/new /mnt/smb smb3 rw 0 0\n"
    "me@host:/data /mnt/ssh fuse.sshfs rw 0 0\n"
    "/dev/sdb1 /mnt/nas/local ext4 rw 0 0\n"
    "/dev/sdc1 /mnt/with\\040blank vfat rw 0 0\n"
    "tmpfs /mnt/nfs tmpfs rw 0 0\n";

TEST(VolumeCheckerDrives, FileSystemTypeFromTheMountTable) {
    struct Case {
        const char* path;
        const char* type;
        bool network;
    } cases[] = {
        {"/home/video", "ext4", false},
        {"/mnt/nas", "cifs", true},
        {"/mnt/nas/VIDEO", "cifs", true},
        {"/mnt/nasty", "ext4", false},  // a prefix that is not a folder boundary
        {"/mnt/nas/local/VIDEO", "ext4", false},
        {"/mnt/smb/x", "smb3", true},
        {"/mnt/ssh/x", "fuse.sshfs", true},
        {"/mnt/with blank/VIDEO", "vfat", false},
        {"/mnt/nfs/x", "tmpfs", false},  // mounted over: the last line wins
    };
    for (const auto& c : cases) {
        const std::string type = FileSystemTypeOf(c.path, kMounts);
        EXPECT_EQ(type, c.type) << c.path;
        EXPECT_EQ(IsNetworkFileSystemType(type), c.network) << c.path;
    }
    for (const char* type : {"nfs", "nfs4", "cifs", "smb3", "smbfs", "sshfs", "fuse.sshfs"})
        EXPECT_TRUE(IsNetworkFileSystemType(type)) << type;
    for (const char* type : {"ext4", "xfs", "btrfs", "vfat", "tmpfs", "overlay", ""})
        EXPECT_FALSE(IsNetworkFileSystemType(type)) << type;
    EXPECT_EQ(FileSystemTypeOf("relative/path", kMounts), "");
}

TEST(VolumeCheckerDrives, LocalAndMissingPaths) {
    gavex_test::TempDir dir{"checker"};
    EXPECT_EQ(GetDriveType(dir.path()), DriveType::Fixed);
    EXPECT_EQ(GetDriveType(dir.path() + "/missing"), DriveType::NoRootDir);
    EXPECT_EQ(GetDriveType(""), DriveType::NoRootDir);
}

TEST(VolumeCheckerDrives, RemovableFromTheBlockDevice) {
    // A sysfs tree in miniature: a USB stick sdb with partition sdb1, a fixed
    // disk sda with partition sda1, device-mapper devices on each partition,
    // and one over another.
    gavex_test::TempDir dir{"sysfs"};
    const std::string sys = dir.path();
    const auto mk = [](const std::string& path) { ASSERT_EQ(::system(("mkdir -p '" + path + "'").c_str()), 0); };
    const auto put = [](const std::string& path, const std::string& text) { gavex_test::WriteFileString(path, text); };
    const auto link = [](const std::string& target, const std::string& at) {
        ASSERT_EQ(::symlink(target.c_str(), at.c_str()), 0) << at;
    };
    const std::string block = sys + "/devices/pci/usb/block";
    mk(block + "/sdb/sdb1");
    put(block + "/sdb/removable", "1\n");
    put(block + "/sdb/sdb1/partition", "1\n");
    mk(block + "/sda/sda1");
    put(block + "/sda/removable", "0\n");
    put(block + "/sda/sda1/partition", "1\n");
    for (const char* dm : {"dm-0", "dm-1", "dm-2"}) {
        mk(sys + "/devices/virtual/block/" + dm + "/slaves");
        put(sys + "/devices/virtual/block/" + std::string(dm) + "/removable", "0\n");
    }
    link(block + "/sdb/sdb1", sys + "/devices/virtual/block/dm-0/slaves/sdb1");
    link(block + "/sda/sda1", sys + "/devices/virtual/block/dm-1/slaves/sda1");
    link(sys + "/devices/virtual/block/dm-0", sys + "/devices/virtual/block/dm-2/slaves/dm-0");
    mk(sys + "/dev/block");
    link(block + "/sdb", sys + "/dev/block/8:16");
    link(block + "/sdb/sdb1", sys + "/dev/block/8:17");
    link(block + "/sda", sys + "/dev/block/8:0");
    link(block + "/sda/sda1", sys + "/dev/block/8:1");
    link(sys + "/devices/virtual/block/dm-0", sys + "/dev/block/254:0");
    link(sys + "/devices/virtual/block/dm-1", sys + "/dev/block/254:1");
    link(sys + "/devices/virtual/block/dm-2", sys + "/dev/block/254:2");

    const struct {
        unsigned major, minor;
        bool removable;
    } cases[] = {
        {8, 16, true}, {8, 17, true}, {8, 0, false}, {8, 1, false},
        {254, 0, true}, {254, 1, false}, {254, 2, true},
        {0, 45, false},  // no block device (tmpfs, btrfs subvolumes)
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsRemovableBlockDevice(sys, c.major, c.minor), c.removable) << c.major << ":" << c.minor;
}

TEST(VolumeChecker, MeasuresAFolder) {
    gavex_test::TempDir dir{"checker"};
    VolumeFreeSizeChecker checker(3600 * 1000);
    EXPECT_EQ(checker.GetDelay(), 3600 * 1000);
    EXPECT_EQ(checker.GetFreeMB(dir.path()), 0);  // never measured
    ASSERT_TRUE(checker.UpdateFreeSpace(dir.path(), false));
    struct statvfs st {};
    ASSERT_EQ(::statvfs(dir.path().c_str(), &st), 0);
    // Others write to the same disk meanwhile: compared within a slack.
    EXPECT_NEAR(checker.GetFreeMB(dir.path()), static_cast<int>((static_cast<uint64_t>(st.f_bavail) * st.f_frsize) >> 20),
                512);
    EXPECT_TRUE(checker.IsMounted(dir.path()));
    // A missing path is unknown (mounted) until measured.
    const std::string gone = dir.path() + "/gone";
    EXPECT_TRUE(checker.IsMounted(gone));
    EXPECT_FALSE(checker.UpdateFreeSpace(gone, false));
    EXPECT_FALSE(checker.IsMounted(gone));
    EXPECT_EQ(checker.GetFreeMB(gone), 0);
}

TEST(VolumeChecker, ReportsStateChangesOnce) {
    gavex_test::TempDir dir{"checker"};
    const std::string path = dir.path() + "/share";
    VolumeFreeSizeChecker checker(5);
    Recorder recorder;
    checker.Subscribe(&recorder, std::ref(recorder));
    // An empty callback is skipped, not called.
    int other = 0;
    checker.Subscribe(&other, VolumeFreeSizeChecker::Callback());

    // A first measurement that fails is reported at once.
    EXPECT_FALSE(checker.UpdateFreeSpace(path, true));
    ASSERT_TRUE(recorder.WaitFor(1));
    // Let several cycles pass: the unchanged state is not reported again.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(recorder.Calls().size(), 1u);

    ::mkdir(path.c_str(), 0755);
    ASSERT_TRUE(recorder.WaitFor(2));
    const auto calls = recorder.Calls();
    EXPECT_EQ(calls[0], std::make_pair(path, false));
    EXPECT_EQ(calls[1], std::make_pair(path, true));

    // After Unsubscribe returns nothing more arrives.
    checker.Unsubscribe(&recorder);
    checker.Unsubscribe(&recorder);
    ::rmdir(path.c_str());
    EXPECT_FALSE(checker.UpdateFreeSpace(path, true));
    EXPECT_EQ(recorder.Calls().size(), 2u);
    EXPECT_EQ(checker.GetSubscriberCount(), 1u);
}

TEST(VolumeChecker, QuietMeasurementsAndFirstSuccessAreNotReported) {
    gavex_test::TempDir dir{"checker"};
    VolumeFreeSizeChecker checker(5);
    Recorder recorder;
    checker.Subscribe(&recorder, std::ref(recorder));
    const std::string missing = dir.path() + "/missing";
    EXPECT_TRUE(checker.UpdateFreeSpace(dir.path(), true));  // first success: silent
    EXPECT_FALSE(checker.UpdateFreeSpace(missing, false));   // quiet: stored only
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(recorder.Calls().empty());
    checker.Unsubscribe(&recorder);
}

TEST(VolumeChecker, CallbacksRunWithoutTheCheckerLock) {
    gavex_test::TempDir dir{"checker"};
    const std::string path = dir.path() + "/share";
    VolumeFreeSizeChecker checker(5);
    std::mutex mutex;
    std::condition_variable cond;
    bool done = false;
    bool otherThreadGotIn = false;
    checker.Subscribe(&checker, [&](const std::string& p, bool) {
        // Another thread must be able to use the checker while a callback runs.
        auto probe = std::async(std::launch::async, [&] { return checker.GetFreeMB(p); });
        const bool answered = probe.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        checker.Subscribe(&mutex, [](const std::string&, bool) {});
        std::lock_guard<std::mutex> lock(mutex);
        otherThreadGotIn = answered;
        done = true;
        cond.notify_all();
    });
    checker.UpdateFreeSpace(path, true);
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(cond.wait_for(lock, std::chrono::seconds(20), [&] { return done; }));
    EXPECT_TRUE(otherThreadGotIn);
}

TEST(VolumeChecker, ProcessInstance) {
    auto first = VolumeFreeSizeChecker::GetInstance();
    auto second = VolumeFreeSizeChecker::GetInstance();
    EXPECT_EQ(first, second);
    EXPECT_TRUE(first->IsRunning());
}

}  // namespace
