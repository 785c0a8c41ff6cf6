// The settings file of an archive copied out of the recorder, found beside
// the opened item.

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "archive/fs/SettingsLoader.h"
#include "support/ArchiveFileWriter.h"

namespace {

TEST(SettingsLoaderTest, FoundTwoLevelsAboveTheOpenedFile) {
    testsupport::ArchiveTempDir dir;
    std::filesystem::create_directories(dir.File("export/cam"));
    {
        Settings settings;
        settings.GetChannel(7).name = L"Door";
        settings.Save(dir.File("export/Settings.xml"));
    }
    const std::string opened = dir.File("export/cam/1A._07");
    EXPECT_EQ(GetPathSettingFile(opened), dir.File("export/Settings.xml"));
    // Backslashes are separators too.
    std::string windowsStyle = opened;
    for (char& c : windowsStyle)
        if (c == '/') c = '\\';
    EXPECT_EQ(GetPathSettingFile(windowsStyle), dir.File("export/Settings.xml"));
    // A folder given without a trailing separator looks one level higher.
    EXPECT_EQ(GetPathSettingFile(dir.File("export/cam")), "");

    Storage::VindaraSettingsLoader loader(opened);
    EXPECT_EQ(loader.GetSettingsPath(), dir.File("export/Settings.xml"));
    EXPECT_EQ(loader.GetChannel(7).name, L"Door");
    EXPECT_EQ(loader.GetChannel(3).name, L"3");
    EXPECT_EQ(loader.GetChannelCount(), 2u);  // the default record is kept
}

TEST(SettingsLoaderTest, MissingOrBrokenFilesGiveDefaults) {
    testsupport::ArchiveTempDir dir;
    std::filesystem::create_directories(dir.File("a/b"));
    Storage::VindaraSettingsLoader none(dir.File("a/b/1._01"));
    EXPECT_EQ(none.GetSettingsPath(), "");
    EXPECT_EQ(none.GetChannel(4).name, L"4");

    std::ofstream(dir.File("a/Settings.xml")) << "<?xml version=\"1.0\"?><boost_serialization><broken";
    Storage::VindaraSettingsLoader broken(dir.File("a/b/1._01"));
    EXPECT_EQ(broken.GetSettingsPath(), dir.File("a/Settings.xml"));
    EXPECT_EQ(broken.GetChannel(4).name, L"4");

    // Cut before the closing root tag, as an interrupted save leaves it: the
    // channels read stay and the loader goes on (it used to end the process).
    Settings written;
    written.GetChannel(4).name = L"Tor";
    written.Save(dir.File("a/Settings.xml"));
    std::string text;
    {
        std::ifstream in(dir.File("a/Settings.xml"), std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::ofstream(dir.File("a/Settings.xml"), std::ios::binary | std::ios::trunc)
        << text.substr(0, text.rfind("</boost_serialization>"));
    Storage::VindaraSettingsLoader cut(dir.File("a/b/1._01"));
    EXPECT_EQ(cut.GetChannel(4).name, L"Tor");
}

}  // namespace
