// The video a portable player carries, found by the start-up's check of the
// parent process or of the file the executable option names: the sources
// read it from that file, whatever the parent process is.
#include <gtest/gtest.h>

#include "MediaTestSupport.h"
#include "config/QApplicationSettings.h"
#include "media/MediaFileVideoSource.h"
#include "media/SourceConfiguration.h"
#include "support/MediaFiles.h"
#include "support/TempDir.h"

using gavex_test::ReadFileBytes;
using gavex_test::TempDir;
using gavex_test::WriteFileBytes;

namespace {

// Started from a shell with "--executable <file>": the parent process is the
// shell, and the video is in the named file, with or without ".exe".
TEST(PortableSource, CarriedVideoIsReadFromTheCheckedFileNotTheParent)
{
    mediatest::UseRegistry("portable-sources", "");
    TempDir dir("portable-source");
    const std::string clip = dir / "clip.mkv";
    std::vector<std::string> args = gavex_test::TestVideoInput(1);
    args.insert(args.end(), {"-c:v", "mpeg4", clip});
    ASSERT_TRUE(gavex_test::RunFfmpeg(args));
    std::vector<uint8_t> player = {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'};
    player.insert(player.end(), kEmbeddedVideoMarker, kEmbeddedVideoMarker + kEmbeddedVideoMarkerSize);
    player.insert(player.end(), 16, 0);
    const std::vector<uint8_t> video = ReadFileBytes(clip);
    player.insert(player.end(), video.begin(), video.end());

    QApplicationSettings& settings = QApplicationSettings::Instance();
    settings.Live = SettingsProfile{};
    settings.Live.SourceMode = ISourceConfiguration::AVI_FILES;
    for (const char* name : {"player.exe", "portable player"}) {
        SCOPED_TRACE(name);
        const std::string path = dir / name;
        WriteFileBytes(path, player);
        // As the start-up checks: the parent is the shell, the option names
        // the file (made absolute against the start folder).
        settings.SetParentPathForCheck("/bin/sh");
        int64_t offset = 0;
        EmbeddedVideoKey key{};
        ASSERT_TRUE(settings.GetEmbeddedVideo(offset, key, path));
        EXPECT_EQ(settings.GetEmbeddedVideoPath(), path);

        SourceConfiguration config;
        config.SetupWithDefaults("", ISourceConfiguration::AVI_FILES);
        const auto sources = config.GetVideoSources();
        ASSERT_EQ(sources.size(), 1u) << mediatest::LogCapture::Instance().Text();
        auto* source = dynamic_cast<filters::VideoSource*>(sources[0].get());
        ASSERT_NE(source, nullptr);
        ASSERT_EQ(source->GetRecords().size(), 1u);
        EXPECT_EQ(source->GetRecords()[0].path, path);
        EXPECT_GT(source->GetRecords()[0].length, 0) << "the carried clip was read";
    }
    // A check that found nothing names no file.
    settings.SetParentPathForCheck("/bin/sh");
    int64_t offset = 0;
    EmbeddedVideoKey key{};
    EXPECT_FALSE(settings.GetEmbeddedVideo(offset, key, clip));
    EXPECT_EQ(settings.GetEmbeddedVideoPath(), "");
}

}  // namespace
