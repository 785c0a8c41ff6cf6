// The source configuration: file classes, single media files and folders of
// them (files made by the ffmpeg tool), subtitle files found beside a media
// file, archive channels through the front ends with the channel filter, and
// the outside signature checker (small shell scripts).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include <QFileInfo>

#include "FSImplementation/VindaraFileSystemFactory.h"
#include "MediaTestSupport.h"
#include "media/MediaFileVideoSource.h"
#include "media/SourceConfiguration.h"
#include "config/QApplicationSettings.h"
#include "platform/TextCodec.h"
#include "support/ArchiveFileWriter.h"
#include "support/MediaFiles.h"
#include "support/TempDir.h"

using gavex_test::TempDir;
using gavex_test::WriteFileString;

namespace {

namespace fs = std::filesystem;

QFileInfo Info(const std::string& path)
{
    return QFileInfo(QString::fromStdString(path));
}

std::vector<std::string> Ids(const std::vector<boost::shared_ptr<filters::IVideoSource>>& sources)
{
    std::vector<std::string> ids;
    for (const auto& source : sources)
        ids.push_back(platform::WideToUtf8(source->GetId()));
    return ids;
}

class SourceConfigurationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mediatest::UseRegistry("sources", "");
        mediatest::LogCapture::Instance().Clear();
        QApplicationSettings& settings = QApplicationSettings::Instance();
        settings.Live = SettingsProfile{};
        settings.Live.SourceMode = ISourceConfiguration::DRIVES;
        settings.RememberVideoSource = true;
        settings.SaveLiveValues = true;
    }

    void MakeMedia(const std::string& relative, double seconds = 1)
    {
        const fs::path path = fs::path(m_dir.path()) / relative;
        fs::create_directories(path.parent_path());
        std::vector<std::string> args = gavex_test::TestVideoInput(seconds);
        args.insert(args.end(), {"-c:v", "mpeg4", path.string()});
        ASSERT_TRUE(gavex_test::RunFfmpeg(args)) << relative;
    }

    // A checker script in `folder` with the given body.
    void MakeChecker(const std::string& folder, const std::string& body)
    {
        fs::create_directories(folder);
        const std::string path = folder + "/watermark";
        WriteFileString(path, "#!/bin/sh\n" + body + "\n");
        ::chmod(path.c_str(), 0755);
    }

    TempDir m_dir{"sources"};
};

TEST_F(SourceConfigurationTest, ClassifiesBySuffix)
{
    for (const char* name : {"a.avi", "b.MKV", "c.mp4", "d.Asf", "e.flv", "f.mov", "g.srt", "h.SRT", "i.txt", "j",
                             "k.mkv.bak"})
        WriteFileString(m_dir / name, "x");
    fs::create_directories(m_dir / "folder.mkv");
    const std::pair<const char*, int> cases[] = {
        {"a.avi", CLASSIFY_MEDIA},      {"b.MKV", CLASSIFY_MEDIA},     {"c.mp4", CLASSIFY_MEDIA},
        {"d.Asf", CLASSIFY_MEDIA},      {"e.flv", CLASSIFY_MEDIA},     {"f.mov", CLASSIFY_MEDIA},
        {"g.srt", CLASSIFY_SUBTITLES},  {"h.SRT", CLASSIFY_SUBTITLES}, {"i.txt", CLASSIFY_OTHER},
        {"j", CLASSIFY_OTHER},          {"k.mkv.bak", CLASSIFY_OTHER}, {"folder.mkv", CLASSIFY_OTHER},
        {"missing.mkv", CLASSIFY_OTHER},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(ClassifySourceFile(Info(m_dir / name)), expected) << name;
}

// Archive sources may be exported; of plain media files only one AVI or MKV
// file, never a folder of them.
TEST_F(SourceConfigurationTest, ExportAllowedBySourceKind)
{
    for (const char* name : {"a.avi", "b.MKV", "c.mp4", "d.mov"})
        WriteFileString(m_dir / name, "x");
    const struct {
        std::string paths;
        ISourceConfiguration::ESourceMode mode;
        bool allowed;
    } cases[] = {
        {m_dir / "a.avi", ISourceConfiguration::SINGLE_FILE, true},
        {m_dir / "b.MKV", ISourceConfiguration::SINGLE_FILE, true},
        {m_dir / "c.mp4", ISourceConfiguration::SINGLE_FILE, false},
        {m_dir / "d.mov", ISourceConfiguration::SINGLE_FILE, false},
        {m_dir.path(), ISourceConfiguration::AVI_FILES, false},
        {m_dir / "a.avi", ISourceConfiguration::AVI_FILES, false},
        {m_dir.path(), ISourceConfiguration::FOLDER, true},
    };
    // One configuration set up again and again: no answer carries over.
    SourceConfiguration config;
    for (const auto& c : cases) {
        config.SetupWithDefaults(c.paths, c.mode);
        EXPECT_EQ(config.IsExportAllowed(), c.allowed) << c.paths << " mode " << c.mode;
    }
}

TEST_F(SourceConfigurationTest, SingleMediaFileHasNoFrontEnd)
{
    MakeMedia("Cam 1 2019-03-04 05-06-07_089.mkv");
    SourceConfiguration config;
    config.SetupWithDefaults(m_dir / "Cam 1 2019-03-04 05-06-07_089.mkv", ISourceConfiguration::SINGLE_FILE);
    EXPECT_FALSE(config.GetFileSystem());
    EXPECT_EQ(config.GetPaths(), m_dir / "Cam 1 2019-03-04 05-06-07_089.mkv");  // '/' kept
    const auto sources = config.GetVideoSources();
    EXPECT_EQ(Ids(sources), std::vector<std::string>{"Cam 1"});
    EXPECT_EQ(config.GetVideoSources()[0], sources[0]);  // made once
    EXPECT_TRUE(config.HasVideo());
    // The mode answered is the settings', not the one given to Setup.
    QApplicationSettings::Instance().Live.SourceMode = ISourceConfiguration::FOLDER;
    EXPECT_EQ(config.GetSourceMode(), ISourceConfiguration::FOLDER);
}

TEST_F(SourceConfigurationTest, MediaFilesOfFilesAndNestedFolders)
{
    MakeMedia("single/Gate 2019-03-04 05-06-00_000.avi");
    MakeMedia("tree/Yard 2019-03-04 05-06-00_000.mp4");
    MakeMedia("tree/a/b/Yard 2019-03-04 05-07-00_000.mkv");
    MakeMedia("tree/a/Door 2019-03-04 05-08-00_000.mov");
    MakeMedia("elsewhere/Other 2019-03-04 05-06-00_000.avi");
    WriteFileString(m_dir / "tree/a/notes.txt", "not media");
    std::string noise(8192, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 2654435761u) >> 13);
    WriteFileString(m_dir / "tree/a/b/noise.mkv", noise);

    SourceConfiguration config;
    config.SetupWithDefaults(m_dir / "single/Gate 2019-03-04 05-06-00_000.avi" + "|" + m_dir / "tree",
                             ISourceConfiguration::AVI_FILES);
    EXPECT_FALSE(config.GetFileSystem());
    const auto sources = config.GetVideoSources();
    // One source per channel, in id order; the Yard files make one channel.
    EXPECT_EQ(Ids(sources), (std::vector<std::string>{"Door", "Gate", "Yard"}));
    auto* yard = dynamic_cast<filters::VideoSource*>(sources[2].get());
    ASSERT_NE(yard, nullptr);
    ASSERT_EQ(yard->GetRecords().size(), 2u);
    EXPECT_LT(yard->GetRecords()[0].start, yard->GetRecords()[1].start);
    EXPECT_EQ(yard->GetRecords()[1].path, m_dir / "tree/a/b/Yard 2019-03-04 05-07-00_000.mkv");
    EXPECT_TRUE(mediatest::LogCapture::Instance().Contains("Can't read media file '" + m_dir / "tree/a/b/noise.mkv"));
}

TEST_F(SourceConfigurationTest, FileNameInTheLegacyCodePage)
{
    setenv("GAVEX_LEGACY_CODEPAGE", "CP1251", 1);
    MakeMedia("\xCA\xE0\xEC 2019-03-04 05-06-00_000.avi");  // "Кам" in Windows-1251
    MakeMedia("\xD0\x94\xD0\xB2\xD0\xBE\xD1\x80 2019-03-04 05-06-00_000.avi");  // "Двор" in UTF-8
    SourceConfiguration config;
    config.SetupWithDefaults(m_dir.path(), ISourceConfiguration::AVI_FILES);
    const auto sources = config.GetVideoSources();
    unsetenv("GAVEX_LEGACY_CODEPAGE");
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources[0]->GetName(), L"\u0414\u0432\u043e\u0440");
    EXPECT_EQ(sources[1]->GetName(), L"\u041a\u0430\u043c");
}

TEST_F(SourceConfigurationTest, FileFfmpegCannotOpenGivesNoSource)
{
    WriteFileString(m_dir / "noise.mkv", std::string(4096, '\x5a'));
    SourceConfiguration config;
    config.SetupWithDefaults(m_dir / "noise.mkv", ISourceConfiguration::SINGLE_FILE);
    EXPECT_TRUE(config.GetVideoSources().empty());
    EXPECT_FALSE(config.HasVideo());
    EXPECT_TRUE(mediatest::LogCapture::Instance().Contains("Can't read media file '" + m_dir / "noise.mkv" + "'"));
}

TEST_F(SourceConfigurationTest, SubtitleFilesBesideTheMediaFile)
{
    MakeMedia("cam.mkv");
    MakeMedia("other/cam.mkv");
    for (const char* name : {"cam.srt", "cam.1.srt", "other.srt", "camera.x.srt", "cam.txt"})
        WriteFileString(m_dir / name, "00:00:00,000 --> 00:00:01,000\ntext\n\n");
    SourceConfiguration config;
    config.SetupWithDefaults(m_dir.path(), ISourceConfiguration::AVI_FILES);
    const auto sources = config.GetVideoSources();
    ASSERT_EQ(Ids(sources), std::vector<std::string>{"cam"});
    auto* cam = dynamic_cast<filters::VideoSource*>(sources[0].get());
    ASSERT_NE(cam, nullptr);
    ASSERT_EQ(cam->GetRecords().size(), 2u);
    for (const MediaFileRecord& record : cam->GetRecords()) {
        std::map<std::string, int32_t> found;
        for (const auto& file : record.externalSubtitles) {
            found[file->fileName] = file->videoStreamIndex;
            EXPECT_EQ(file->path, m_dir / file->fileName);
        }
        if (record.path == m_dir / "cam.mkv") {
            // "camera.x" holds the base name; its last part is no stream number.
            EXPECT_EQ(found, (std::map<std::string, int32_t>{{"cam.srt", -1}, {"cam.1.srt", 1}, {"camera.x.srt", -1}}));
        } else {
            EXPECT_TRUE(found.empty()) << record.path;  // nothing beside the other folder's file
        }
    }
}

class ArchiveChannelsTest : public SourceConfigurationTest {
protected:
    void SetUp() override
    {
        SourceConfigurationTest::SetUp();
        const int64_t start = 1551668760000;
        for (const char* name : {"0001._10", "0002._02", "0003._09"})
            testsupport::WriteBytes(m_dir / name,
                                    testsupport::BuildArchiveFile(testsupport::MakeSyntheticFrames(5, start, 40, 5, 64)));
    }
};

TEST_F(ArchiveChannelsTest, ChannelsInTextOrder)
{
    SourceConfiguration config;
    config.SetupWithDefaults(m_dir.path(), ISourceConfiguration::FOLDER);
    ASSERT_TRUE(config.GetFileSystem());
    EXPECT_TRUE(mediatest::LogCapture::Instance().Contains("Create filesystem (mode != AVI_FILES)."));
    EXPECT_TRUE(config.HasVideo());
    EXPECT_EQ(Ids(config.GetVideoSources()), (std::vector<std::string>{"10", "2", "9"}));
}

TEST_F(ArchiveChannelsTest, ChannelFilterOfTheStartOptions)
{
    QApplicationSettings& settings = QApplicationSettings::Instance();
    settings.Live.SourceMode = ISourceConfiguration::FOLDER;
    settings.Live.VideoFolders[ISourceConfiguration::FOLDER] = {platform::Utf8ToWide(m_dir.path())};
    const struct {
        std::vector<std::wstring> channels;
        std::vector<std::string> ids;
    } cases[] = {
        {{}, {"10", "2", "9"}},  // paths and no list: every channel
        {{L"2"}, {"2"}},
        {{L"9", L"10", L"77"}, {"10", "9"}},
    };
    for (const auto& c : cases) {
        settings.Live.Channels = c.channels;
        SourceConfiguration config{StartOptions{}};
        ASSERT_TRUE(config.GetFileSystem());
        EXPECT_EQ(Ids(config.GetVideoSources()), c.ids);
    }
    // The portable mode takes no paths from the settings: nothing to find.
    StartOptions portable;
    portable.portable = true;
    SourceConfiguration none{portable};
    EXPECT_EQ(none.GetPaths(), "");
    EXPECT_TRUE(none.GetVideoSources().empty());
    // Not remembered and not from the command line: no paths either.
    settings.RememberVideoSource = false;
    settings.Live.Channels.clear();
    EXPECT_EQ(SourceConfiguration{StartOptions{}}.GetPaths(), "");
    settings.SaveLiveValues = false;
    EXPECT_EQ(SourceConfiguration{StartOptions{}}.GetPaths(), m_dir.path());
}

// --- the signature checker ---------------------------------------------------

TEST_F(SourceConfigurationTest, CheckerExitCodeDecides)
{
    WriteFileString(m_dir / "clip.avi", "x");
    const std::string program = m_dir / "bin";
    fs::create_directories(program);
    SignatureCheck check{program, 30000};
    EXPECT_FALSE(CheckSigned(Info(m_dir / "clip.avi"), check));  // no checker

    // In "Modules" beside the program folder; it insists on its command line.
    MakeChecker(m_dir / "Modules",
                "[ \"$1\" = -S ] && [ \"$2\" = QUILTFERNMOSSGLADEBRIDGE ] && [ \"$3\" = -V ] && [ \"$4\" = -v ] && "
                "[ \"$5\" = '" + m_dir / "clip.avi" + "' ] && exit 0\nexit 3");
    EXPECT_TRUE(CheckSigned(Info(m_dir / "clip.avi"), check));
    // One in the program folder comes first.
    MakeChecker(program, "exit 1");
    EXPECT_FALSE(CheckSigned(Info(m_dir / "clip.avi"), check));
    MakeChecker(program, "exit 0");
    EXPECT_TRUE(CheckSigned(Info(m_dir / "clip.avi"), check));
}

TEST_F(SourceConfigurationTest, CheckerRunningTooLongIsKilledAndNotSigned)
{
    WriteFileString(m_dir / "clip.avi", "x");
    const std::string program = m_dir / "bin";
    MakeChecker(program, "echo $$ > '" + m_dir / "pid" + "'\nexec sleep 60");
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(CheckSigned(Info(m_dir / "clip.avi"), SignatureCheck{program, 300}));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(20));
    const std::string pid = gavex_test::ReadFileString(m_dir / "pid");
    ASSERT_FALSE(pid.empty());
    EXPECT_FALSE(fs::exists("/proc/" + pid.substr(0, pid.find('\n'))));  // killed and reaped
}

TEST_F(SourceConfigurationTest, SignedFlagTravelsWithTheFrames)
{
    MakeMedia("signed/Cam 2019-03-04 05-06-00_000.avi");
    MakeMedia("unsigned/Cam 2019-03-04 05-06-00_000.avi");
    MakeChecker(m_dir / "bin", "case \"$5\" in */signed/*) exit 0;; esac\nexit 1");
    for (const char* folder : {"signed", "unsigned"}) {
        SourceConfiguration config;
        config.SetSignatureCheck(SignatureCheck{m_dir / "bin", 30000});
        config.SetupWithDefaults(m_dir / folder, ISourceConfiguration::AVI_FILES);
        const auto sources = config.GetVideoSources();
        ASSERT_EQ(sources.size(), 1u);
        EXPECT_EQ(sources[0]->GetSampleFlag(), std::string(folder) == "signed") << folder;
    }
}

}  // namespace
