// The settings file: every element round trip, older versions, the clamps,
// loading with its write-back, and the command line's overrides.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "config/QApplicationSettings.h"
#include "config/StartOptions.h"
#include "support/TempDir.h"

using gavex_test::ReadFileString;
using gavex_test::TempDir;
using gavex_test::WriteFileString;
namespace pt = boost::posix_time;

namespace {

const char* const kElements[] = {
    "PlayCycle", "VideoFolders", "Channels", "WindowLeft", "WindowTop", "WindowWidth", "WindowHeight",
    "State", "Debug", "SourceMode", "VideoSequenceItemViewMode", "SkipFrames", "Render", "Antialiasing",
    "ExportFolder", "ExportTasks", "LastPosition", "Deinterlacing", "Watermark", "Layout", "TopMost",
    "SingleAppInstance", "ShowTitles", "ShowTracks", "ExportVideo", "SourceNativeVideo", "SoundVolume",
    "RememberVideoSource", "LastOpenedPosition", "LastOpenedSource", "AppTitle", "TitlesSettings",
    "CamSettings", "FrameBufferForDecode"};

// Every stored value away from its default.
void FillEveryValue(QApplicationSettings& s)
{
    s.PlayCycle = true;
    s.Debug = true;
    s.SkipFrames = false;
    s.Render = 0;
    s.Deinterlacing = true;
    s.Antialiasing = false;
    s.Watermark = false;
    s.State = 2;
    s.WindowLeft = 11;
    s.WindowTop = 12;
    s.WindowWidth = 800;
    s.WindowHeight = 600;
    s.VideoSequenceItemViewMode = 0;
    s.SoundVolume = 42;
    s.RememberVideoSource = false;
    s.AppTitle = L"Überwachung";
    s.SetTitlesSettings({{}, {TitleSetting{false}, TitleSetting{true}}});
    SettingsProfile& p = s.Live;
    p.VideoFolders[1] = {L"/media/archive one", L"/mnt/zwei"};
    p.VideoFolders[3] = {L"/home/u/clips"};
    p.SourceMode = 1;
    p.Channels = {L"1", L"7"};
    p.ExportFolder = L"/srv/export/";
    p.SourceNativeVideo = true;
    p.FrameBufferForDecode = 3;
    Storage::ExportTask task;
    task.row = 0;
    task.ChannelIds = {"1", "7"};
    task.FromTime = pt::time_from_string("2024-02-29 23:59:58.250");
    task.ToTime = pt::time_from_string("2024-03-01 00:10:00");
    task.PrefixFileName = "night";
    task.OutputContainer = "mkv";
    p.ExportTasks = {task, Storage::ExportTask{}};
    p.Layout = {3, 0, 1};
    p.TopMost = true;
    p.SingleAppInstance = false;
    p.ShowTitles = false;
    p.ShowTracks = false;
    p.ExportVideo = true;
    p.LastPosition = 1709251198250ull;
    p.CamSettings[L"7"] = CameraSettings{1, 2, 3, 270, QRectF()};
}

void ExpectSameStored(QApplicationSettings& a, QApplicationSettings& b)
{
    EXPECT_EQ(a.PlayCycle, b.PlayCycle);
    EXPECT_EQ(a.Debug, b.Debug);
    EXPECT_EQ(a.SkipFrames, b.SkipFrames);
    EXPECT_EQ(a.Render, b.Render);
    EXPECT_EQ(a.Deinterlacing, b.Deinterlacing);
    EXPECT_EQ(a.Antialiasing, b.Antialiasing);
    EXPECT_EQ(a.Watermark, b.Watermark);
    EXPECT_EQ(a.State, b.State);
    EXPECT_EQ(a.WindowLeft, b.WindowLeft);
    EXPECT_EQ(a.WindowTop, b.WindowTop);
    EXPECT_EQ(a.WindowWidth, b.WindowWidth);
    EXPECT_EQ(a.WindowHeight, b.WindowHeight);
    EXPECT_EQ(a.VideoSequenceItemViewMode, b.VideoSequenceItemViewMode);
    EXPECT_EQ(a.SoundVolume, b.SoundVolume);
    EXPECT_EQ(a.RememberVideoSource, b.RememberVideoSource);
    EXPECT_EQ(a.LastOpenedPosition, b.LastOpenedPosition);
    EXPECT_EQ(a.LastOpenedSource, b.LastOpenedSource);
    EXPECT_EQ(a.AppTitle, b.AppTitle);
    EXPECT_EQ(a.GetTitlesSettings(), b.GetTitlesSettings());
    const SettingsProfile& p = a.Stored;
    const SettingsProfile& q = b.Stored;
    EXPECT_EQ(p.VideoFolders, q.VideoFolders);
    EXPECT_EQ(p.SourceMode, q.SourceMode);
    EXPECT_EQ(p.Channels, q.Channels);
    EXPECT_EQ(p.ExportFolder, q.ExportFolder);
    EXPECT_EQ(p.SourceNativeVideo, q.SourceNativeVideo);
    EXPECT_EQ(p.FrameBufferForDecode, q.FrameBufferForDecode);
    EXPECT_EQ(p.ExportTasks, q.ExportTasks);
    EXPECT_EQ(p.Layout, q.Layout);
    EXPECT_EQ(p.TopMost, q.TopMost);
    EXPECT_EQ(p.SingleAppInstance, q.SingleAppInstance);
    EXPECT_EQ(p.ShowTitles, q.ShowTitles);
    EXPECT_EQ(p.ShowTracks, q.ShowTracks);
    EXPECT_EQ(p.ExportVideo, q.ExportVideo);
    EXPECT_EQ(p.LastPosition, q.LastPosition);
    ASSERT_EQ(p.CamSettings.size(), q.CamSettings.size());
    for (const auto& [id, cam] : p.CamSettings) {
        const CameraSettings& other = q.CamSettings.at(id);
        EXPECT_EQ(std::tie(cam.Lens, cam.Pos, cam.Display, cam.Rotation),
                  std::tie(other.Lens, other.Pos, other.Display, other.Rotation));
    }
}

// A saved file with its class version changed and some elements removed.
std::string Edited(std::string text, int version, const std::vector<std::string>& drop)
{
    text = std::regex_replace(text, std::regex(R"((<Settings [^>]*version=")2("))"), "$01" + std::to_string(version) + "$2");
    for (const std::string& name : drop)
        text = std::regex_replace(text, std::regex("<" + name + "[ >][\\s\\S]*?</" + name + ">\\s*"), "");
    return text;
}

size_t ElementAt(const std::string& text, const std::string& name, size_t from = 0)
{
    const size_t open = text.find("<" + name + ">", from);
    const size_t attributes = text.find("<" + name + " ", from);
    return std::min(open, attributes);
}

std::wstring Wide(const std::string& path)
{
    return std::wstring(path.begin(), path.end());
}

TEST(SettingsFile, EveryElementRoundTripsInOrder)
{
    TempDir dir("settings");
    const std::string path = dir / "player.xml";
    QApplicationSettings written;
    FillEveryValue(written);
    written.CandidateFiles = {Wide(path)};
    written.Save();
    const std::string text = ReadFileString(path);
    ASSERT_NE(text.find("<!DOCTYPE boost_serialization>"), std::string::npos);
    ASSERT_NE(text.find("<Settings class_id=\"0\" tracking_level=\"0\" version=\"2\">"), std::string::npos) << text;
    size_t at = 0;
    for (const char* name : kElements) {
        const size_t found = ElementAt(text, name, at);
        ASSERT_NE(found, std::string::npos) << name << " missing or out of order";
        at = found;
    }
    // The refreshed values are the live ones of the moment of saving.
    EXPECT_EQ(written.LastOpenedSource, "/media/archive one|/mnt/zwei");
    EXPECT_EQ(written.LastOpenedPosition, 1709251198250ull);

    QApplicationSettings read;
    read.CandidateFiles = {Wide(path)};
    read.Load();
    ExpectSameStored(written, read);
    EXPECT_EQ(read.Live.VideoFolders, read.Stored.VideoFolders);
    EXPECT_TRUE(read.SaveLiveValues);
    // The write-back of loading keeps the remembered source and position.
    EXPECT_EQ(read.LastOpenedSource, "/media/archive one|/mnt/zwei");
    EXPECT_EQ(ReadFileString(path), text);
}

TEST(SettingsFile, OlderVersionsLackTheirLaterElements)
{
    TempDir dir("settings");
    QApplicationSettings written;
    FillEveryValue(written);
    written.CandidateFiles = {Wide(dir / "full.xml")};
    written.Save();
    const std::string full = ReadFileString(dir / "full.xml");
    const struct {
        int version;
        std::vector<std::string> drop;
        bool antialiasingRead;
        bool camerasRead;
    } cases[] = {
        {3, {}, true, true},  // a later version reads like the current one
        {2, {}, true, true},
        {1, {"Antialiasing"}, false, true},
        {0, {"Antialiasing", "CamSettings"}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        const std::string path = dir / ("v" + std::to_string(c.version) + ".xml");
        WriteFileString(path, Edited(full, c.version, c.drop));
        QApplicationSettings read;
        read.ReadFile(Wide(path));
        EXPECT_EQ(read.Antialiasing, !c.antialiasingRead) << "false when read, the default true otherwise";
        EXPECT_EQ(read.Stored.CamSettings.size(), c.camerasRead ? 1u : 0u);
        EXPECT_EQ(read.Stored.FrameBufferForDecode, 3) << "the last element is read in every version";
        EXPECT_EQ(read.Stored.ExportTasks, written.Stored.ExportTasks);
    }
    // A file of version 2 with an element missing is not readable.
    WriteFileString(dir / "broken.xml", Edited(full, 2, {"Antialiasing"}));
    QApplicationSettings broken;
    EXPECT_THROW(broken.ReadFile(Wide(dir / "broken.xml")), std::exception);
}

TEST(SettingsFile, SoundVolumeIsClampedOnReading)
{
    TempDir dir("settings");
    QApplicationSettings written;
    written.CandidateFiles = {Wide(dir / "s.xml")};
    for (const auto& [stored, expected] : {std::pair{150, 100}, std::pair{-5, 0}, std::pair{70, 70}}) {
        written.SoundVolume = stored;
        ASSERT_TRUE(written.SaveToFile(Wide(dir / "s.xml")));
        // The written value is the unclamped one.
        EXPECT_NE(ReadFileString(dir / "s.xml").find("<SoundVolume>" + std::to_string(stored) + "</SoundVolume>"),
                  std::string::npos);
        QApplicationSettings read;
        read.ReadFile(Wide(dir / "s.xml"));
        EXPECT_EQ(read.SoundVolume, expected) << stored;
    }
}

TEST(SettingsFile, LoadTakesTheFirstCandidateThatReadsAndWritesBack)
{
    TempDir dir("settings");
    QApplicationSettings written;
    written.Render = 0;
    ASSERT_TRUE(written.SaveToFile(Wide(dir / "second.xml")));
    WriteFileString(dir / "first.xml", "<not a settings file>");

    QApplicationSettings read;
    read.CandidateFiles = {Wide(dir / "first.xml"), Wide(dir / "second.xml")};
    read.Load();
    EXPECT_EQ(read.Render, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "first.xml"));
    EXPECT_EQ(ReadFileString(dir / "first.xml.bad"), "<not a settings file>") << "a file that does not load is set aside";
    // The default export folder: the documents folder, a doubled "/" and the
    // screenshots subfolder; the file keeps the placeholder.
    const std::wstring documents = GetDocumentsLocation();
    EXPECT_EQ(read.Stored.ExportFolder, documents + L"/GavexSoft/GavexPlayer/Export/Screenshots/");
    EXPECT_EQ(read.Live.ExportFolder, read.Stored.ExportFolder);
    read.Save();
    EXPECT_NE(ReadFileString(dir / "second.xml")
                  .find("<ExportFolder>%USER_DOCUMENTS_PATH%/GavexSoft/GavexPlayer/Export/Screenshots/</ExportFolder>"),
              std::string::npos);
    // No temporary file stays behind.
    EXPECT_FALSE(std::filesystem::exists(dir / "second.xml.tmp"));

    // A file that cannot be written over (its temporary cannot be made)
    // stays unchanged and its values are still taken.
    TempDir locked("settings");
    ASSERT_TRUE(written.SaveToFile(Wide(locked / "ro.xml")));
    const std::string before = ReadFileString(locked / "ro.xml");
    std::filesystem::create_directory(locked / "ro.xml.tmp");
    QApplicationSettings readOnly;
    readOnly.Render = 1;
    EXPECT_FALSE(readOnly.SaveToFile(Wide(locked / "ro.xml")));
    readOnly.CandidateFiles = {Wide(locked / "ro.xml")};
    readOnly.Load();
    EXPECT_EQ(readOnly.Render, 0);
    EXPECT_EQ(ReadFileString(locked / "ro.xml"), before);
}

// A damaged file must neither end the process nor fail every later start:
// it is set aside and none of its values are taken.
TEST(SettingsFile, ADamagedFileIsSetAsideAndDefaultsServe)
{
    TempDir dir("settings");
    QApplicationSettings written;
    FillEveryValue(written);
    ASSERT_TRUE(written.SaveToFile(Wide(dir / "full.xml")));
    const std::string full = ReadFileString(dir / "full.xml");
    const size_t lastLine = full.rfind('\n', full.size() - 2) + 1;
    ASSERT_EQ(full.substr(lastLine), "</boost_serialization>\n");
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"last line lost", full.substr(0, lastLine)},
        {"closing tag cut", full.substr(0, full.size() - 4)},
        {"cut in the middle", full.substr(0, full.size() / 2)},
        {"an element's text damaged", std::regex_replace(full, std::regex("<Render>0</Render>"), "<Render>zero</Render>")},
        {"not XML", "\x01\xff<<"},
        {"empty", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / "player.xml";
        WriteFileString(path, c.text);
        QApplicationSettings read;
        read.CandidateFiles = {Wide(path), Wide(dir / "missing.xml")};
        read.Load();
        EXPECT_EQ(read.Render, 1);
        EXPECT_TRUE(read.PlayCycle == false && read.SoundVolume == 100 && read.AppTitle.empty())
            << "no value of the damaged file is taken";
        EXPECT_TRUE(read.Stored.VideoFolders.empty());
        EXPECT_TRUE(read.Live.Layout.empty());
        EXPECT_FALSE(std::filesystem::exists(path)) << "nothing is written at start";
        EXPECT_EQ(ReadFileString(path + ".bad"), c.text);
        ASSERT_EQ(read.LoadNotes.size(), 1u);
        EXPECT_EQ(read.LoadNotes[0].rfind("Settings file '" + path + "' does not load (", 0), 0u) << read.LoadNotes[0];
        EXPECT_NE(read.LoadNotes[0].find("set aside as '" + path + ".bad'"), std::string::npos) << read.LoadNotes[0];
        EXPECT_FALSE(std::filesystem::exists(dir / "missing.xml.bad")) << "a missing file is no damaged one";
        // The next start finds no damaged file, and a save writes a good one.
        read.Render = 0;
        ASSERT_TRUE(read.SaveToFile(Wide(path)));
        QApplicationSettings again;
        again.CandidateFiles = {Wide(path)};
        again.Load();
        EXPECT_EQ(again.Render, 0);
        std::filesystem::remove(path);
    }
    // The file's values are not taken part way either when ReadFile throws.
    WriteFileString(dir / "half.xml", full.substr(0, full.size() / 2));
    QApplicationSettings partly;
    EXPECT_THROW(partly.ReadFile(Wide(dir / "half.xml")), std::exception);
    EXPECT_FALSE(partly.PlayCycle);
    EXPECT_TRUE(partly.Stored.VideoFolders.empty());
}

TEST(SettingsFile, StartOptionsOverrideTheLiveProfile)
{
    TempDir dir("settings");
    WriteFileString(dir / "clip.mkv", "x");
    QApplicationSettings s;
    s.Live.CamSettings[L"5"] = CameraSettings{1, 1, 1, 90, QRectF()};
    s.Live.CamSettings[L"2"] = CameraSettings{};
    s.LastOpenedSource = dir / "clip.mkv";
    s.LastOpenedPosition = 777;

    StartOptions options;
    options.source = dir / "clip.mkv";
    options.channels = {"2", "3"};
    s.ApplyStartOptions(options);
    EXPECT_EQ(s.Live.SourceMode, 2) << "an existing file";
    EXPECT_EQ(s.Live.VideoFolders[2], std::vector<std::wstring>{Wide(dir / "clip.mkv")});
    EXPECT_EQ(s.Live.Channels, (std::vector<std::wstring>{L"2", L"3"}));
    EXPECT_EQ(s.Live.CamSettings.count(L"5"), 0u) << "a camera no longer listed loses its settings";
    EXPECT_EQ(s.Live.CamSettings.count(L"2"), 1u);
    EXPECT_FALSE(s.SaveLiveValues);
    EXPECT_EQ(s.Live.LastPosition, 777u) << "the remembered source resumes";
    EXPECT_EQ(s.GetSourcePaths(), dir / "clip.mkv");

    options.source = dir.path();
    s.ApplyStartOptions(options);
    EXPECT_EQ(s.Live.SourceMode, 1) << "a folder without an archive";
    EXPECT_EQ(s.Live.LastPosition, 0u) << "another source starts at 0";
    options.time = pt::time_from_string("2012-03-05 10:15:00.123");
    s.ApplyStartOptions(options);
    EXPECT_EQ(s.Live.LastPosition, 1330942500123ull);

    // Switches: -1 leaves the setting, 0 and 1 set it.
    EXPECT_TRUE(s.Live.SingleAppInstance);
    StartOptions switches;
    switches.topmost = 1;
    switches.single = 0;
    s.ApplyStartOptions(switches);
    EXPECT_TRUE(s.Live.TopMost);
    EXPECT_FALSE(s.Live.SingleAppInstance);
    EXPECT_TRUE(s.Live.ShowTitles);

    // A destination is the export folder and one task of the options.
    StartOptions exporting;
    exporting.destination = "/srv/out";
    exporting.channels = {"4"};
    exporting.from = pt::time_from_string("2012-03-05 10:00:00");
    exporting.to = pt::time_from_string("2012-03-05 11:00:00");
    s.ApplyStartOptions(exporting);
    EXPECT_EQ(s.Live.ExportFolder, L"/srv/out");
    ASSERT_EQ(s.Live.ExportTasks.size(), 1u);
    EXPECT_EQ(s.Live.ExportTasks[0].ChannelIds, std::vector<std::string>{"4"});
    EXPECT_EQ(s.Live.ExportTasks[0].FromTime, exporting.from);
    EXPECT_EQ(s.Live.ExportTasks[0].ToTime, exporting.to);
    EXPECT_TRUE(s.Live.ExportTasks[0].OutputContainer.empty());
}

}  // namespace
