#include "archive/files/Volume.h"
#include "archive/files/VolumeFreeSizeChecker.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <string>

#include "support/TempDir.h"

namespace {

bool IsDir(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TSS MakeTss(int y, int mo, int d, int h) {
    TSS t;
    t.wYear = static_cast<uint16_t>(y);
    t.wMonth = static_cast<uint16_t>(mo);
    t.wDay = static_cast<uint16_t>(d);
    t.wHour = static_cast<uint16_t>(h);
    return t;
}

// Restores the process's volume settings after a test changes them.
class VolumeSettingsScope {
public:
    explicit VolumeSettingsScope(const VolumeSettings& s) : m_saved(GetVolumeSettings()) { SetVolumeSettings(s); }
    ~VolumeSettingsScope() { SetVolumeSettings(m_saved); }

private:
    VolumeSettings m_saved;
};

TEST(VolumeNames, ChannelExtensions) {
    struct Case {
        int camera;
        char letter;
        const char* expected;
    } cases[] = {
        {1, '_', "_01"},   {7, '_', "_07"},   {99, '_', "_99"},   {100, '_', "_A0"},
        {195, '_', "_FF"}, {196, '_', "_100"}, {5, 't', "t05"},   {100, 'w', "wA0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatChannelExtension(c.letter, c.camera), c.expected) << c.camera;
        EXPECT_EQ(FormatChannelExtension(c.camera, c.letter), c.expected) << c.camera;
    }
}

TEST(VolumeNames, FilePaths) {
    VolumeSettingsScope settings(VolumeSettings{});
    const Volume volume(false, "/mnt/d/", false);
    struct Case {
        int camera;
        int64_t fileId;
        const char* folder;
        char letter;
        const char* expected;
    } cases[] = {
        {7, 0x1A2F, "27-05-22 14", '_', "/mnt/d/VIDEO/27-05-22 14/1A2F._07"},
        {1, 0, "01-01-50 00", '_', "/mnt/d/VIDEO/01-01-50 00/0._01"},
        {99, 0xFFFFFFFFLL, "27-05-22 14", 't', "/mnt/d/VIDEO/27-05-22 14/FFFFFFFF.t99"},
        {100, 0xABC, "27-05-22 14", '_', "/mnt/d/VIDEO/27-05-22 14/ABC._A0"},
        {196, 16, "27-05-22 14", 'w', "/mnt/d/VIDEO/27-05-22 14/10.w100"},
        {0, 0x1A2F, "27-05-22 14", '_', "/mnt/d/VIDEO/label.iss"},
        {7, -111, "27-05-22 14", '_', "/mnt/d/VIDEO/remote._07"},
        {7, -1, "27-05-22 14", '_', "/mnt/d/VIDEO/writing._07"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(volume.GetFilePath(c.camera, c.fileId, c.folder, c.letter), c.expected) << c.expected;

    EXPECT_EQ(volume.GetWritingFilePath(7, "_2"), "/mnt/d/VIDEO/writing_2._07");
    EXPECT_EQ(volume.GetProtectedFilePath(7, 0x1A2F, MakeTss(2022, 5, 27, 14)),
              "/mnt/d/VIDEO/PROTECTED/27-05-22 14 1A2F._07");
    EXPECT_EQ(volume.GetProtectedFilePath(0, 0x1A2F, MakeTss(2022, 5, 27, 14)), "");
    EXPECT_EQ(volume.GetProtectedFilePath(7, -1, MakeTss(2022, 5, 27, 14)), "");

    // A root without its trailing separator and a volume without VIDEO folder.
    EXPECT_EQ(Volume(false, "/mnt/e", false).GetPath(), "/mnt/e/VIDEO");
    EXPECT_EQ(Volume(false, "/mnt/e/", true).GetPath(), "/mnt/e/");
    EXPECT_EQ(Volume(false, "/mnt/e", true).GetFilePath(3, 1, "27-05-22 14", '_'), "/mnt/e/27-05-22 14/1._03");
}

TEST(VolumeNames, TemporaryWritingFolder) {
    VolumeSettings s;
    s.tempWritingDir = "/var/tmp/rec";
    VolumeSettingsScope settings(s);
    const Volume volume(false, "/mnt/d/", false);
    EXPECT_EQ(volume.GetFilePath(7, -5, "27-05-22 14", '_'), "/var/tmp/rec/writing._07");
    EXPECT_EQ(volume.GetWritingFilePath(7, "x"), "/var/tmp/rec/writingx._07");
    // The remote file stays on the volume.
    EXPECT_EQ(volume.GetFilePath(7, -111, "", '_'), "/mnt/d/VIDEO/remote._07");
}

TEST(VolumeNames, HourFoldersBothWays) {
    struct Case {
        TSS time;
        const char* name;
    } cases[] = {
        {MakeTss(2022, 5, 27, 14), "27-05-22 14"},
        {MakeTss(2000, 1, 1, 0), "01-01-00 00"},
        {MakeTss(2049, 12, 31, 23), "31-12-49 23"},
        {MakeTss(2050, 1, 1, 0), "01-01-50 00"},
        {MakeTss(2099, 6, 15, 9), "15-06-99 09"},
        {MakeTss(2024, 2, 29, 12), "29-02-24 12"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatHourFolderName(c.time), c.name);
        TSS parsed;
        ASSERT_TRUE(ParseHourFolderName(c.name, parsed)) << c.name;
        EXPECT_EQ(parsed, c.time) << c.name;
    }
    const char* rejected[] = {"32-01-22 10", "29-02-23 10", "27-13-22 10", "27-05-22 24", "27-05-2214",
                              "27-05-22 1",  "27-05-22  14", "aa-05-22 14", "",           "27-05-22 14x"};
    for (const char* name : rejected) {
        TSS parsed = MakeTss(2001, 1, 1, 1);
        EXPECT_FALSE(ParseHourFolderName(name, parsed)) << name;
        EXPECT_EQ(parsed, MakeTss(2001, 1, 1, 1)) << name;
    }
    EXPECT_EQ(FormatHourFolderName(MakeTss(9999, 12, 31, 1)), "");
    EXPECT_EQ(FormatHourFolderName(MakeTss(2022, 2, 30, 1)), "");
    EXPECT_EQ(FormatHourFolderName(MakeTss(2022, 2, 3, 25)), "");
}

TEST(VolumeSettingsTest, RegistryValues) {
    struct Case {
        const char *freeMB, *critical, *arch;
        uint32_t expectFree, expectCritical, expectArch;
    } cases[] = {
        {"", "", "", 5000, 1000, 5000},
        {"5000", "6000", "", 6000, 6000, 6000},
        {"8000", "", "", 8000, 1000, 8000},
        {"", "", "300", 5000, 1000, 300},
        // Compared unsigned: -1 is the largest threshold.
        {"-1", "", "", 0xFFFFFFFFu, 1000, 0xFFFFFFFFu},
    };
    for (const auto& c : cases) {
        const VolumeSettings s = MakeVolumeSettings(c.freeMB, c.critical, c.arch, "");
        EXPECT_EQ(s.freeMB, c.expectFree) << c.freeMB << "/" << c.critical;
        EXPECT_EQ(s.freeMBCritical, c.expectCritical);
        EXPECT_EQ(s.archFreeMB, c.expectArch);
    }
}

TEST(VolumeSettingsTest, TemporaryFolderIsEmptiedOrDropped) {
    gavex_test::TempDir dir{"volume"};
    std::ofstream(dir.path() + "/writing._07") << "x";
    std::ofstream(dir.path() + "/other.bin") << "y";
    ::mkdir((dir.path() + "/sub").c_str(), 0755);
    VolumeSettings s = MakeVolumeSettings("", "", "", dir.path());
    PrepareTempWritingDir(s);
    EXPECT_EQ(s.tempWritingDir, dir.path());
    EXPECT_NE(::access((dir.path() + "/writing._07").c_str(), F_OK), 0);
    EXPECT_NE(::access((dir.path() + "/other.bin").c_str(), F_OK), 0);
    EXPECT_TRUE(IsDir(dir.path() + "/sub"));  // sub-folders stay

    VolumeSettings missing = MakeVolumeSettings("", "", "", dir.path() + "/nope");
    PrepareTempWritingDir(missing);
    EXPECT_EQ(missing.tempWritingDir, "");
}

TEST(VolumeFolders, CreateDirectories) {
    gavex_test::TempDir dir{"volume"};
    Volume volume(false, dir.path(), false);
    EXPECT_FALSE(volume.IsAvailable());
    EXPECT_TRUE(volume.CreateDirectories());
    EXPECT_TRUE(IsDir(dir.path() + "/VIDEO/INDEX"));
    EXPECT_TRUE(IsDir(dir.path() + "/VIDEO/PROTECTED"));
    EXPECT_TRUE(volume.IsAvailable());

    // Without the folder name INDEX goes straight under the root.
    gavex_test::TempDir flat{"volume"};
    Volume direct(false, flat.path(), true);
    EXPECT_TRUE(direct.CreateDirectories());
    EXPECT_TRUE(IsDir(flat.path() + "/INDEX"));
    EXPECT_FALSE(IsDir(flat.path() + "/VIDEO"));

    // Only the archive folder can exist: files block both sub-folders.
    gavex_test::TempDir blocked{"volume"};
    ::mkdir((blocked.path() + "/VIDEO").c_str(), 0755);
    std::ofstream(blocked.path() + "/VIDEO/INDEX") << "";
    std::ofstream(blocked.path() + "/VIDEO/PROTECTED") << "";
    Volume partial(false, blocked.path(), false);
    EXPECT_TRUE(partial.CreateDirectories());

    // Nothing can be created under a missing root.
    Volume gone(false, dir.path() + "/missing/deeper", false);
    EXPECT_FALSE(gone.CreateDirectories());
}

TEST(VolumeFolders, FixedNamesAreFoundInAnyCase) {
    gavex_test::TempDir dir{"volume"};
    ::mkdir((dir.path() + "/Video").c_str(), 0755);
    ::mkdir((dir.path() + "/Video/index").c_str(), 0755);
    ::mkdir((dir.path() + "/Video/Protected").c_str(), 0755);
    Volume volume(false, dir.path(), false);
    EXPECT_EQ(volume.GetPath(), dir.path() + "/Video");
    EXPECT_EQ(volume.GetIndexPath(), dir.path() + "/Video/index");
    EXPECT_EQ(volume.GetProtectedPath(), dir.path() + "/Video/Protected");
    EXPECT_TRUE(volume.CreateDirectories());
    // Nothing new was made in upper case beside the existing folders.
    EXPECT_FALSE(IsDir(dir.path() + "/VIDEO"));
    EXPECT_FALSE(IsDir(dir.path() + "/Video/INDEX"));
    EXPECT_EQ(volume.GetFilePath(7, 1, "27-05-22 14", '_'), dir.path() + "/Video/27-05-22 14/1._07");
}

TEST(VolumeFolders, FileCreationTime) {
    gavex_test::TempDir dir{"volume"};
    Volume volume(false, dir.path(), false);
    ASSERT_TRUE(volume.CreateDirectories());
    ::mkdir((dir.path() + "/VIDEO/27-05-22 14").c_str(), 0755);
    const std::string path = volume.GetFilePath(7, 0x1A2F, "27-05-22 14", '_');
    std::ofstream(path) << "data";

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    const TSS t = volume.GetFileTime(7, 0x1A2F, "27-05-22 14");
    EXPECT_EQ(t.wYear, local.tm_year + 1900);
    EXPECT_EQ(t.wMonth, local.tm_mon + 1);
    EXPECT_EQ(t.wDay, local.tm_mday);

    const TSS missing = volume.GetFileTime(7, 0x1A30, "27-05-22 14");
    EXPECT_TRUE(missing == TSS{});
}

// The space available to an unprivileged writer, in MiB, as statvfs gives it.
// Other processes write to the same disk meanwhile: figures are compared
// within a slack.
int StatvfsFreeMB(const std::string& path) {
    struct statvfs st {};
    if (::statvfs(path.c_str(), &st) != 0) return -1;
    return static_cast<int>((static_cast<uint64_t>(st.f_bavail) * st.f_frsize) >> 20);
}
constexpr int kFreeSpaceSlackMB = 512;

TEST(VolumeSpace, MountStateAndFreeSpaceOfATemporaryFolder) {
    gavex_test::TempDir dir{"volume"};
    Volume volume(false, dir.path() + "/", false);
    ASSERT_TRUE(volume.CreateDirectories());
    EXPECT_EQ(GetDriveType(dir.path()), DriveType::Fixed);
    EXPECT_TRUE(volume.IsMounted());
    EXPECT_EQ(volume.GetFreeMB(), -2);

    const int measured = volume.UpdateFreeSpace(false);
    EXPECT_NEAR(measured, StatvfsFreeMB(dir.path()), kFreeSpaceSlackMB);
    EXPECT_EQ(volume.GetFreeMB(), measured);
    EXPECT_EQ(VolumeFreeSizeChecker::GetInstance()->GetFreeMB(dir.path() + "/"), measured);
    // Later updates read the checker's figure.
    EXPECT_EQ(volume.UpdateFreeSpace(false), VolumeFreeSizeChecker::GetInstance()->GetFreeMB(dir.path() + "/"));

    VolumeSettingsScope settings(MakeVolumeSettings("1", "1", "", ""));
    EXPECT_EQ(volume.IsFull(), volume.GetFreeMB() <= 1);
}

TEST(VolumeSpace, TemporaryWritingFolderFreeSpace) {
    gavex_test::TempDir dir{"volume"};
    {
        VolumeSettingsScope none(VolumeSettings{});
        EXPECT_EQ(GetTempWritingDirFreeMB(), -1);
    }
    VolumeSettings s;
    s.tempWritingDir = dir.path();
    {
        VolumeSettingsScope set(s);
        EXPECT_NEAR(GetTempWritingDirFreeMB(), StatvfsFreeMB(dir.path()), kFreeSpaceSlackMB);
    }
    s.tempWritingDir = dir.path() + "/gone";
    VolumeSettingsScope gone(s);
    EXPECT_EQ(GetTempWritingDirFreeMB(), -1);
}

TEST(VolumeSpace, MissingRootCountsAsMountedUntilMeasured) {
    gavex_test::TempDir dir{"volume"};
    Volume volume(false, dir.path() + "/gone/", false);
    EXPECT_EQ(GetDriveType(dir.path() + "/gone/"), DriveType::NoRootDir);
    // The checker has no record of the path yet.
    EXPECT_TRUE(volume.IsMounted());
    EXPECT_FALSE(volume.IsAvailable());
    EXPECT_EQ(volume.UpdateFreeSpace(false), 0);
    EXPECT_EQ(volume.GetFreeMB(), -2);
    // The failed measurement is now the recorded state.
    EXPECT_FALSE(volume.IsMounted());
    EXPECT_EQ(volume.UpdateFreeSpace(true), 0);
}

TEST(VolumeSpace, FullForRecording) {
    const VolumeSettings s = MakeVolumeSettings("5000", "1000", "200", "");
    struct Case {
        bool archive;
        int freeMB;
        bool full;
    } cases[] = {
        {false, 0, true},  {false, 5000, true}, {false, 5001, false},
        {true, 200, true}, {true, 201, false},  {true, 0, true},
    };
    for (const auto& c : cases) EXPECT_EQ(IsVolumeFull(c.archive, c.freeMB, s), c.full) << c.archive << " " << c.freeMB;
}

}  // namespace
