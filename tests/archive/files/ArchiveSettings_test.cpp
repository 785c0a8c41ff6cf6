#include "archive/files/ArchiveSettings.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <boost/archive/archive_exception.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/TempDir.h"

namespace {

const std::string kData = std::string(GAVEX_SOURCE_DIR) + "/tests/archive/files/data/volumes/";

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// First differing line of two texts, for a readable failure.
std::string FirstDifference(const std::string& a, const std::string& b) {
    std::istringstream la(a), lb(b);
    std::string x, y;
    for (int line = 1;; ++line) {
        const bool ga = static_cast<bool>(std::getline(la, x));
        const bool gb = static_cast<bool>(std::getline(lb, y));
        if (!ga && !gb) return "identical lines (whitespace at the end?)";
        if (x != y || ga != gb) return "line " + std::to_string(line) + ":\n  got:      " + x + "\n  expected: " + y;
    }
}

void FillGoldenRecord(Settings& settings) {
    settings.GetChannel(5).name = L"Hof S\u00fcd";
    TITLES::TitleSettings title;
    title.font_name = "Arial";
    title.font_size = 14;
    title.x = 0.1;
    title.y = 0.2;
    title.w = 0.3;
    title.h = 0.4;
    title.title_name = L"Zeit";
    title.title_id = "t1";
    ChannelInfo& five = settings.GetChannel(5);
    five.titles.push_back(title);
    five.sync.SyncedTime = "2022-05-27 14:00:00";
    five.sync.SyncedSourceId = "src";
    five.sync.SyncedSourceType = "drive";
    five.RotateAngle = 90;
    settings.GetChannel(2);  // a default record: name "2"
}

TEST(ArchiveSettingsTest, SavedBytesMatchTheGoldenFile) {
    gavex_test::TempDir dir{"settings"};
    Settings settings;
    FillGoldenRecord(settings);
    settings.Save(dir.path() + "/Settings.xml");
    const std::string got = gavex_test::ReadFileString(dir.path() + "/Settings.xml");
    const std::string expected = gavex_test::ReadFileString(kData + "settings_golden.xml");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(got, expected) << FirstDifference(got, expected);
}

TEST(ArchiveSettingsTest, RoundTrip) {
    gavex_test::TempDir dir{"settings"};
    const std::string path = dir.path() + "/Settings.xml";
    Settings saved;
    FillGoldenRecord(saved);
    saved.GetChannel(9).name = L"\u0421\u043a\u043b\u0430\u0434 \u5009\u5eab";
    saved.Save(path);

    Settings loaded;
    loaded.Load(path);
    EXPECT_EQ(loaded.GetChannelIds(), (std::vector<int32_t>{2, 5, 9}));
    const ChannelInfo five = loaded.GetChannelInfo(5);
    EXPECT_EQ(five.name, L"Hof S\u00fcd");
    ASSERT_EQ(five.titles.size(), 1u);
    EXPECT_EQ(five.titles[0].x, 0.1);
    EXPECT_EQ(five.titles[0].y, 0.2);
    EXPECT_EQ(five.titles[0].w, 0.3);
    EXPECT_EQ(five.titles[0].h, 0.4);
    EXPECT_EQ(five.titles[0].font_color, 0xFFFFFFFFu);
    EXPECT_EQ(five.titles[0].title_name, L"Zeit");
    EXPECT_EQ(five.sync.SyncedSourceType, "drive");
    EXPECT_EQ(five.RotateAngle, 90);
    EXPECT_EQ(loaded.GetChannelInfo(9).name, saved.GetChannelInfo(9).name);
}

TEST(ArchiveSettingsTest, EmptyRecord) {
    gavex_test::TempDir dir{"settings"};
    const std::string path = dir.path() + "/Settings.xml";
    Settings empty;
    empty.Save(path);
    const std::string text = gavex_test::ReadFileString(path);
    EXPECT_NE(text.find("<channels class_id=\"1\" tracking_level=\"0\" version=\"0\">\n\t\t<count>0</count>"),
              std::string::npos)
        << text;
    Settings loaded;
    loaded.Load(path);
    EXPECT_EQ(loaded.GetChannelCount(), 0u);
}

TEST(ArchiveSettingsTest, HandWrittenFileMergesFirstComeFirstKept) {
    Settings settings;
    settings.GetChannel(-1).name = L"already here";
    settings.Load(kData + "settings_handwritten.xml");
    EXPECT_EQ(settings.GetChannelIds(), (std::vector<int32_t>{-1, 3}));
    // Of two records of channel 3 the first wins.
    EXPECT_EQ(settings.GetChannelInfo(3).name, L"Einfahrt");
    EXPECT_EQ(settings.GetChannelInfo(3).RotateAngle, 180);
    // A channel present before the load keeps its entry.
    EXPECT_EQ(settings.GetChannelInfo(-1).name, L"already here");

    Settings fresh;
    fresh.Load(kData + "settings_handwritten.xml");
    const ChannelInfo store = fresh.GetChannelInfo(-1);
    EXPECT_EQ(store.name, L"\u041b\u0430\u0433\u0435\u0440");
    ASSERT_EQ(store.titles.size(), 1u);
    EXPECT_EQ(store.titles[0].font_color, 255u);
    EXPECT_EQ(store.titles[0].x, 0.5);
    EXPECT_EQ(store.titles[0].h, 1.0);
    EXPECT_EQ(store.titles[0].title_id, "pos");
}

TEST(ArchiveSettingsTest, DefaultsAndRemoval) {
    gavex_test::TempDir dir{"settings"};
    Settings settings;
    const ChannelInfo absent = settings.GetChannelInfo(12);
    EXPECT_EQ(absent.id, 12);
    EXPECT_EQ(absent.name, L"12");
    EXPECT_EQ(ChannelInfo(-7).name, L"-7");
    EXPECT_EQ(settings.GetChannelCount(), 0u);
    settings.GetChannel(12);
    EXPECT_EQ(settings.GetChannelCount(), 1u);
    settings.Save(dir.path() + "/s.xml");
    EXPECT_NE(gavex_test::ReadFileString(dir.path() + "/s.xml").find("<name>12</name>"), std::string::npos);
    settings.RemoveChannel(12);
    settings.RemoveChannel(13);
    EXPECT_EQ(settings.GetChannelCount(), 0u);

    const TITLES::TitleSettings title;
    EXPECT_EQ(title.font_name, "Courier New");
    EXPECT_EQ(title.font_size, 12u);
    EXPECT_EQ(title.x, 0.05);
    EXPECT_EQ(title.w, 0.8);
}

TEST(ArchiveSettingsTest, BrokenFilesRaiseArchiveErrors) {
    gavex_test::TempDir dir{"settings"};
    Settings settings;
    EXPECT_THROW(settings.Load(dir.path() + "/missing.xml"), std::exception);
    EXPECT_THROW(settings.Save(dir.path() + "/no/such/folder/Settings.xml"), std::exception);

    const std::string golden = gavex_test::ReadFileString(kData + "settings_golden.xml");
    struct Case {
        const char* what;
        std::string text;
        size_t channelsAfter;
    } cases[] = {
        {"not XML", "hello", 0},
        {"cut inside channels", golden.substr(0, golden.find("<id>5</id>")), 0},
        {"wrong class version", [&] {
             std::string t = golden;
             t.replace(t.find("<info class_id=\"0\" tracking_level=\"0\" version=\"0\">"),
                       std::string("<info class_id=\"0\" tracking_level=\"0\" version=\"0\">").size(),
                       "<info class_id=\"0\" tracking_level=\"0\" version=\"7\">");
             return t;
         }(), 0},
        // A fault after "channels" was read keeps its channels.
        {"no closing info tag", golden.substr(0, golden.find("</info>")), 2},
        // Ended the process from the archive's destructor before.
        {"no closing root tag", golden.substr(0, golden.rfind("</boost_serialization>")), 2},
        {"an element after info", [&] {
             std::string t = golden;
             return t.insert(t.rfind("</boost_serialization>"), "<more>1</more>");
         }(), 2},
        {"end tag of 100000 characters", [&] {
             std::string t = golden;
             return t.replace(t.find("</name>"), 7, "</name" + std::string(100000, 'n') + ">");
         }(), 0},
        {"NUL inside a name", [&] {
             std::string t = golden;
             return t.insert(t.find("</name>"), std::string(1, '\0'));
         }(), 0},
    };
    for (const auto& c : cases) {
        const std::string path = dir.path() + "/broken.xml";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
        Settings target;
        EXPECT_THROW(target.Load(path), std::exception) << c.what;
        EXPECT_EQ(target.GetChannelCount(), c.channelsAfter) << c.what;
    }
}

TEST(ArchiveSettingsTest, SaveReplacesTheFileWhole) {
    gavex_test::TempDir dir{"settings"};
    const std::string path = dir.path() + "/Settings.xml";
    std::ofstream(path) << std::string(100000, ' ');  // longer than what replaces it
    Settings settings;
    settings.GetChannel(3).name = L"Hof";
    settings.Save(path);
    Settings loaded;
    loaded.Load(path);
    EXPECT_EQ(loaded.GetChannelInfo(3).name, L"Hof");
    // Written aside and renamed: nothing else is left in the folder.
    EXPECT_EQ(ListFolder(dir.path()), std::vector<std::string>{"Settings.xml"});

    // A save that cannot complete leaves what was there.
    const std::string folderPath = dir.path() + "/taken";
    ASSERT_EQ(::mkdir(folderPath.c_str(), 0755), 0);
    EXPECT_THROW(settings.Save(folderPath), std::exception);
    EXPECT_EQ(ListFolder(dir.path()), (std::vector<std::string>{"Settings.xml", "taken"}));
}

TEST(ArchiveSettingsTest, SettingsFileIsFoundInAnyCase) {
    gavex_test::TempDir dir{"settings"};
    EXPECT_EQ(ArchiveSettingsPath(dir.path()), dir.path() + "/Settings.xml");
    std::ofstream(dir.path() + "/SETTINGS.XML") << "";
    EXPECT_EQ(ArchiveSettingsPath(dir.path()), dir.path() + "/SETTINGS.XML");
}

}  // namespace
