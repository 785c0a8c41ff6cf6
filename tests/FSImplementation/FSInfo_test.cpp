// Drive enumeration and the "|" path lists.

#include "FSImplementation/FSInfo.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace {

using Storage::FSInfo;

TEST(FSInfo, SplitKeepsEmptyItemsAndJoinRestoresTheText)
{
    struct Case {
        std::string text;
        std::vector<std::string> items;
    };
    const Case cases[] = {
        {"", {""}},
        {"/mnt/a/", {"/mnt/a/"}},
        {"/mnt/a/|/mnt/b/", {"/mnt/a/", "/mnt/b/"}},
        {"/mnt/a/|", {"/mnt/a/", ""}},
        {"|/mnt/b/", {"", "/mnt/b/"}},
        {"a||b", {"a", "", "b"}},
        {"|", {"", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(FSInfo::splitPaths(c.text), c.items);
        EXPECT_EQ(FSInfo::joinPaths(c.items), c.text);
    }
    EXPECT_EQ(FSInfo::joinPaths({}), "");
}

TEST(FSInfo, PseudoAndMemoryFileSystemsAreNotArchiveDrives)
{
    struct Case {
        const char* type;
        bool allowed;
    };
    const Case cases[] = {
        {"ext4", true},  {"xfs", true},      {"btrfs", true},  {"vfat", true},   {"exfat", true},
        {"ntfs", true},  {"fuseblk", true},  {"nfs4", true},   {"cifs", true},   {"iso9660", true},
        {"overlay", true}, {"proc", false},  {"sysfs", false}, {"tmpfs", false}, {"devtmpfs", false},
        {"ramfs", false}, {"cgroup", false}, {"cgroup2", false}, {"devpts", false}, {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FSInfo::isAllowedFileSystemType(c.type), c.allowed) << c.type;
}

TEST(FSInfo, MountedKernelInterfacesAreRefused)
{
    if (std::filesystem::exists("/proc/self")) {
        EXPECT_FALSE(FSInfo::isValidDrive("/proc/"));
    }
    if (std::filesystem::exists("/sys/kernel")) {
        EXPECT_FALSE(FSInfo::isValidDrive("/sys/"));
    }
    EXPECT_FALSE(FSInfo::isValidDrive("/no/such/mount/point/"));
}

TEST(FSInfo, ArchiveDrivesAreValidVolumesHoldingAVideoFolder)
{
    gavex_test::TempDir with("fsinfo-with"), lower("fsinfo-lower"), without("fsinfo-without"), file("fsinfo-file");
    std::filesystem::create_directory(with / "VIDEO");
    std::filesystem::create_directory(lower / "video");
    std::filesystem::create_directory(without / "OTHER");
    gavex_test::WriteFileString(file / "VIDEO", "not a folder");
    // The temporary folder's own volume decides validity; skip when it is a
    // memory file system, where nothing would be listed.
    if (!FSInfo::isValidDrive(with.path()))
        GTEST_SKIP() << "temporary folder lies on a memory file system";

    const std::vector<std::string> drives =
        FSInfo::selectArchiveDrives({with.path(), lower.path() + "/", without.path(), file.path(), "/proc"});
    EXPECT_EQ(drives, (std::vector<std::string>{with.path() + "/", lower.path() + "/"}));
    // Whatever the machine mounts, every listed drive holds the folder.
    for (const std::string& root : FSInfo::getArchiveDrives())
        EXPECT_EQ(root.back(), '/') << root;
}

}  // namespace
