// Portable players: the marker search, the cached check and the extraction.

#include <gtest/gtest.h>

#include <filesystem>

#include <QCryptographicHash>

#include "config/QApplicationSettings.h"
#include "support/TempDir.h"

using gavex_test::ReadFileBytes;
using gavex_test::TempDir;
using gavex_test::WriteFileBytes;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Marker()
{
    return Bytes(kEmbeddedVideoMarker, kEmbeddedVideoMarker + kEmbeddedVideoMarkerSize);
}

Bytes Key(const char* password)
{
    const QByteArray digest = QCryptographicHash::hash(QByteArray(password), QCryptographicHash::Md5);
    return Bytes(digest.begin(), digest.end());
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

TEST(PortablePlayer, MarkerSearch)
{
    TempDir dir("portable");
    const Bytes key = Key("secret");
    const Bytes video = Text("RIFF-video-bytes");
    const Bytes marker = Marker();
    const Bytes broken(marker.begin(), marker.begin() + 20);
    const struct {
        const char* name;
        Bytes file;
        int64_t offset;  // 0: no video
    } cases[] = {
        {"after launcher bytes", Concat({Text("MZ launcher"), marker, key, video}), 11 + 54 + 16},
        {"a 'G' right before the marker", Concat({Text("xxG"), marker, key, video}), 3 + 54 + 16},
        {"a broken-off copy right before", Concat({broken, marker, key, video}), 20 + 54 + 16},
        {"key and no video byte", Concat({marker, key}), 0},
        {"first complete of two", Concat({marker, key, Text("v"), marker, key, video}), 54 + 16},
        {"a bare key-less marker first", Concat({Text("ab"), marker, Bytes(15, 0)}), 0},
        {"no marker", Text("plain executable"), 0},
        {"empty", {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / "player";
        WriteFileBytes(path, c.file);
        int64_t offset = -1;
        EmbeddedVideoKey found{};
        found.fill(9);
        EXPECT_EQ(QApplicationSettings::FileContainVideo(path, offset, found, false), c.offset > 0);
        EXPECT_EQ(offset, c.offset);
        if (c.offset > 0)
            EXPECT_EQ(Bytes(found.begin(), found.end()), key);
        else
            EXPECT_EQ(found, EmbeddedVideoKey{});
    }
    int64_t offset = 5;
    EmbeddedVideoKey found{};
    EXPECT_FALSE(QApplicationSettings::FileContainVideo(dir / "missing", offset, found, false));
    EXPECT_EQ(offset, 0);
}

TEST(PortablePlayer, OnlyTheFirst50MiBAreSearched)
{
    TempDir dir("portable");
    const int64_t window = kEmbeddedVideoSearchWindow;
    const struct {
        int64_t markerAt;
        bool found;
    } cases[] = {
        {window - 54 - 16, true},  // marker and key inside
        {window - 54 - 4, true},   // key crosses the window's end: read from the file
        {window - 53, false},      // marker crosses the window's end
        {window, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.markerAt);
        Bytes file(static_cast<size_t>(c.markerAt), 0x90);
        const Bytes key = Key("k");
        file = Concat({file, Marker(), key, Text("video")});
        const std::string path = dir / "big";
        WriteFileBytes(path, file);
        int64_t offset = 0;
        EmbeddedVideoKey found{};
        EXPECT_EQ(QApplicationSettings::FileContainVideo(path, offset, found, false), c.found);
        if (c.found) {
            EXPECT_EQ(offset, c.markerAt + 70);
            EXPECT_EQ(Bytes(found.begin(), found.end()), key);
        }
    }
}

TEST(PortablePlayer, CheckIsCachedAndResolvesTheExecutable)
{
    TempDir dir("portable");
    WriteFileBytes(dir / "launcher", Concat({Text("L"), Marker(), Bytes(16, 0), Text("v")}));
    WriteFileBytes(dir / "other", Text("nothing"));
    QApplicationSettings settings;
    settings.SetParentPathForCheck(dir / "launcher");
    int64_t offset = 0;
    EmbeddedVideoKey key{};
    EXPECT_TRUE(settings.GetEmbeddedVideo(offset, key, ""));
    EXPECT_EQ(offset, 71);
    EXPECT_EQ(settings.GetEmbeddedVideoKey(), EmbeddedVideoKey{});
    // The answer is kept: a later call names another file and gets the same.
    EXPECT_TRUE(settings.GetEmbeddedVideo(offset, key, dir / "other"));

    // The executable option: relative to the launcher's folder.
    settings.SetParentPathForCheck(dir / "other");
    EXPECT_TRUE(settings.GetEmbeddedVideo(offset, key, "launcher"));
    // No parent found: no video.
    settings.SetParentPathForCheck("");
    EXPECT_FALSE(settings.GetEmbeddedVideo(offset, key, ""));
}

TEST(PortablePlayer, ResolvePortablePath)
{
    const std::string current = std::filesystem::current_path().string();
    const struct {
        const char* parent;
        const char* executable;
        std::string expected;
    } cases[] = {
        {"/opt/launch/player.exe", "video.exe", "/opt/launch/video.exe"},
        {"/usr/bin/bash", "video.exe", current + "/video.exe"},
        {"C:/Windows/cmd.exe", "sub/video.exe", current + "/sub/video.exe"},
        {"/opt/launch/player.exe", "/abs/video.exe", "/abs/video.exe"},
        {"player.exe", "video.exe", "player.exe"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ResolvePortablePath(c.parent, c.executable), c.expected) << c.parent << " " << c.executable;
}

TEST(PortablePlayer, ExtractionCopiesTheVideoByteForByte)
{
    TempDir dir("portable");
    Bytes video(6 * 1024 * 1024 + 123);  // more than one 5 MiB block
    for (size_t i = 0; i < video.size(); ++i)
        video[i] = static_cast<uint8_t>(i * 31 + (i >> 13));
    const Bytes file = Concat({Text("launcher"), Marker(), Key("pw"), video});
    const std::string player = dir / "player.exe";
    WriteFileBytes(player, file);
    int64_t offset = 0;
    EmbeddedVideoKey key{};
    ASSERT_TRUE(QApplicationSettings::FileContainVideo(player, offset, key, false));

    WriteFileBytes(dir / "out.mkv", Text("an older file that is replaced"));
    ASSERT_TRUE(ExtractEmbeddedVideo(player, offset, "out.mkv")) << "relative: beside the player";
    EXPECT_EQ(ReadFileBytes(dir / "out.mkv"), video);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.mkv.part"));

    // Never over the source; failures leave nothing behind.
    EXPECT_FALSE(ExtractEmbeddedVideo(player, offset, player));
    EXPECT_EQ(ReadFileBytes(player), file);
    EXPECT_FALSE(ExtractEmbeddedVideo(dir / "missing.exe", offset, dir / "x.mkv"));
    EXPECT_FALSE(ExtractEmbeddedVideo(player, offset, dir / "no/such/folder/x.mkv"));
    EXPECT_FALSE(std::filesystem::exists(dir / "x.mkv"));
}

}  // namespace
