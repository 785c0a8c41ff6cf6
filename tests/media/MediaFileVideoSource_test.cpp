// The media-file video source over files made by the ffmpeg tool: a channel
// of three files played across the joins and a gap, H.264 with B-frames in
// each container played to its end, seeks into the gap and before the first
// record, steps back across a join, the audio file record, and the subtitle
// sources on title lines 3 and up.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "MediaTestSupport.h"
#include "media/MediaFileVideoSource.h"
#include "config/QApplicationSettings.h"
#include "render/Titles.h"
#include "media/Subtitles.h"
#include "platform/TextCodec.h"
#include "platform/TimeZone.h"
#include "support/MediaFiles.h"
#include "support/TempDir.h"

using gavex_test::TempDir;

namespace {

constexpr int64_t kStart0 = 1551668760000;  // 2019-03-04 03:06:00 UTC
constexpr int64_t kStart1 = kStart0 + 2000;
constexpr int64_t kStart2 = kStart0 + 10000;

class UtcZone {
public:
    UtcZone()
    {
        setenv("TZ", "UTC", 1);
        tzset();
        platform::tz::Reload();
    }
};

std::string BaseName(const std::string& fileName)
{
    return fileName.substr(0, fileName.rfind('.'));
}

class MediaFileSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mediatest::UseRegistry("mediafile", "");
        mediatest::LogCapture::Instance().Clear();
    }

    // A 10 fps file of `seconds`, with a sine sound when `audio`.
    std::string Make(const std::string& fileName, double seconds, bool audio,
                     const std::vector<std::string>& extra = {}, const std::vector<std::string>& inputs = {})
    {
        std::vector<std::string> args = gavex_test::TestVideoInput(seconds);
        args.insert(args.end(), inputs.begin(), inputs.end());
        if (audio) {
            const auto sound = gavex_test::TestAudioInput(seconds);
            args.insert(args.end(), sound.begin(), sound.end());
            args.insert(args.end(), {"-map", "0", "-map", "1", "-c:a", "pcm_s16le"});
        }
        args.insert(args.end(), {"-c:v", "mpeg4", "-g", "5"});
        args.insert(args.end(), extra.begin(), extra.end());
        const std::string path = m_dir / fileName;
        args.push_back(path);
        EXPECT_TRUE(gavex_test::RunFfmpeg(args)) << fileName;
        return path;
    }

    std::vector<MediaFileRecord> Read(const std::vector<std::string>& fileNames)
    {
        filters::VideoSource reader;
        std::vector<MediaFileRecord> records;
        for (const std::string& fileName : fileNames) {
            MediaFileRecord file;
            file.path = m_dir / fileName;
            file.name = platform::Utf8ToWide(BaseName(fileName));
            reader.ReadMediaFile(file, records);
        }
        return records;
    }

    // The channel "Cam": 0..2 s, 2..4 s, then a gap, 10..12 s. The last file
    // carries no sound.
    void MakeChannel(filters::VideoSource& source)
    {
        Make("Cam 2019-03-04 03-06-00_000.mkv", 2, true);
        Make("Cam 2019-03-04 03-06-02_000.mkv", 2, true);
        Make("Cam 2019-03-04 03-06-10_000.mkv", 2, false);
        const auto records = Read({"Cam 2019-03-04 03-06-00_000.mkv", "Cam 2019-03-04 03-06-02_000.mkv",
                                   "Cam 2019-03-04 03-06-10_000.mkv"});
        ASSERT_EQ(records.size(), 3u);
        source.SetRecords(records);
    }

    UtcZone m_zone;
    TempDir m_dir{"mediafile"};
};

TEST_F(MediaFileSourceTest, PlaysAcrossTheJoins)
{
    filters::VideoSource source;
    MakeChannel(source);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(source.GetName(), L"Cam");
    EXPECT_EQ(source.GetId(), L"Cam");
    ASSERT_EQ(source.GetPeriods().size(), 2u);  // the first two files touch
    EXPECT_EQ(source.GetPeriods()[0], (filters::RecordPeriod{kStart0, 4000}));
    EXPECT_EQ(source.GetPeriods()[1], (filters::RecordPeriod{kStart2, 2000}));
    ASSERT_NE(source.GetFrameInfo(), nullptr);
    EXPECT_EQ(source.GetFrameInfo()->codec, "MPEG4");
    EXPECT_EQ(source.GetCurrentTime(), kStart0);
    EXPECT_EQ(source.GetCurrentRecord(), 0);

    int changes = 0;
    source.ChangeSignal.connect([&] { ++changes; });
    std::vector<int64_t> times = {source.GetCurrentTime()};
    std::vector<int64_t> predicted = {source.GetCurrentTime()};
    std::vector<int32_t> recordOfFrame = {0};
    std::vector<int32_t> frameNumbers = {0};
    while (!source.IsAtEnd() && times.size() < 100) {
        predicted.push_back(source.GetNextTime());
        VideoFrame* frame = source.NextFrame();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->m_nFormat, FrameFormatFFmpegPicture);
        EXPECT_EQ(frame->m_nWidth, 64);
        EXPECT_EQ(frame->m_nHeight, 48);
        frameNumbers.push_back(frame->m_nFrameNumber);
        times.push_back(source.GetCurrentTime());
        recordOfFrame.push_back(source.GetCurrentRecord());
        EXPECT_EQ(filters::FrameTimeMs(*frame), times.back());
    }
    // The end shows when a read finds nothing more: the last frame stays.
    ASSERT_EQ(times.size(), 61u);
    EXPECT_EQ(times[60], times[59]);
    times.pop_back();
    recordOfFrame.pop_back();
    frameNumbers.pop_back();
    for (size_t i = 0; i < frameNumbers.size(); ++i)
        EXPECT_EQ(frameNumbers[i], static_cast<int32_t>(i % 20)) << "frame " << i;
    // The next time is foreseen inside a file and across the join of two
    // touching files; before a gap it is the end of the record's material.
    for (size_t i = 1; i < 60; ++i)
        EXPECT_EQ(predicted[i], i == 40 ? kStart1 + 2000 : times[i]) << "frame " << i;
    std::vector<int64_t> expected;
    std::vector<int32_t> expectedRecords;
    for (int i = 0; i < 60; ++i) {
        if (i >= 40) {
            expected.push_back(kStart2 + (i - 40) * 100);
            expectedRecords.push_back(2);
        } else {
            expected.push_back(kStart0 + i * 100);
            expectedRecords.push_back(i / 20);
        }
    }
    EXPECT_EQ(times, expected);
    EXPECT_EQ(recordOfFrame, expectedRecords);
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(source.IsAtEnd());
}

TEST_F(MediaFileSourceTest, H264WithBFramesPlaysEveryFrameInEveryContainer)
{
    // Two seconds at 10 fps of H.264 with B-frames: AVI keeps decoding times
    // only, the others presentation times too.
    for (const std::string container : {"avi", "mkv", "mp4"}) {
        SCOPED_TRACE(container);
        const std::string fileName = "Cam 2019-03-04 03-06-00_000." + container;
        Make(fileName, 2, false,
             {"-c:v", "libx264", "-bf", "2", "-g", "10", "-preset", "ultrafast", "-x264-params", "scenecut=0"});
        const auto records = Read({fileName});
        ASSERT_EQ(records.size(), 1u);
        filters::VideoSource source;
        source.SetRecords(records);
        std::vector<int64_t> times = {source.GetCurrentTime()};
        ASSERT_NE(source.GetCurrentFrame(), nullptr);
        std::vector<int32_t> frameNumbers = {source.GetCurrentFrame()->m_nFrameNumber};
        while (!source.IsAtEnd() && times.size() < 100) {
            VideoFrame* frame = source.NextFrame();
            ASSERT_NE(frame, nullptr);
            times.push_back(source.GetCurrentTime());
            frameNumbers.push_back(frame->m_nFrameNumber);
        }
        std::vector<int64_t> expected;
        for (int i = 0; i < 20; ++i)
            expected.push_back(kStart0 + i * 100);
        // The last frame may show once more when the end is found by a read.
        if (times.size() == 21 && times[20] == times[19]) {
            times.pop_back();
            frameNumbers.pop_back();
        }
        EXPECT_EQ(times, expected);
        for (size_t i = 0; i < frameNumbers.size(); ++i)
            EXPECT_EQ(frameNumbers[i], static_cast<int32_t>(i)) << "frame " << i;
        std::filesystem::remove(m_dir / fileName);
    }
}

TEST_F(MediaFileSourceTest, SeeksIntoAGapAndBeforeTheFirstRecord)
{
    filters::VideoSource source;
    MakeChannel(source);
    ASSERT_FALSE(HasFatalFailure());
    const struct {
        int64_t seek;
        int32_t record;
        int64_t time;      // of the frame shown
        int64_t fileTime;  // the position in the file
    } cases[] = {
        {kStart1 + 500, 1, kStart1 + 500, 500},
        {kStart2 - 3000, 1, kStart1 + 1900, 1999},  // in the gap: the end of the earlier record
        {kStart0 - 60000, 0, kStart0, 0},           // before everything: the first record's start
        {kStart2 + 1234, 2, kStart2 + 1200, 1234},
        {kStart0 + 1999, 0, kStart0 + 1900, 1999},
    };
    for (const auto& c : cases) {
        source.Seek(c.seek);
        EXPECT_EQ(source.GetCurrentRecord(), c.record) << c.seek - kStart0;
        EXPECT_EQ(source.GetCurrentTime(), c.time) << c.seek - kStart0;
        EXPECT_EQ(source.FindFileTime(c.seek), c.fileTime) << c.seek - kStart0;
    }
    // From the gap the next frame is the next record's first.
    source.Seek(kStart2 - 3000);
    source.NextFrame();
    EXPECT_EQ(source.GetCurrentRecord(), 2);
    EXPECT_EQ(source.GetCurrentTime(), kStart2);
}

TEST_F(MediaFileSourceTest, StepsBackAcrossAJoin)
{
    filters::VideoSource source;
    MakeChannel(source);
    ASSERT_FALSE(HasFatalFailure());
    source.Seek(kStart1 + 100);
    std::vector<int64_t> times;
    for (int i = 0; i < 4; ++i) {
        source.PreviousFrame();
        times.push_back(source.GetCurrentTime());
    }
    EXPECT_EQ(times, (std::vector<int64_t>{kStart1, kStart0 + 1900, kStart0 + 1800, kStart0 + 1700}));
    source.Seek(kStart2);
    source.PreviousFrame();
    EXPECT_EQ(source.GetCurrentRecord(), 1);
    EXPECT_EQ(source.GetCurrentTime(), kStart1 + 1900);
    // At the very first frame a step back stays there.
    source.Seek(kStart0);
    source.PreviousFrame();
    EXPECT_EQ(source.GetCurrentTime(), kStart0);
}

TEST_F(MediaFileSourceTest, TwoRecordsOfOneFilePlayOnWithoutALimit)
{
    // One camera, two items: the file holds 1 s of each, laid end to end.
    VindaraFileSystem::AviFileData data;
    VindaraFileSystem::AviCamData cam;
    cam.id = "3";
    cam.video = {"v"};
    VindaraFileSystem::RecordItem first;
    first.streams = {"v"};
    first.start = "2019-03-04T03-06-00";
    first.end = "2019-03-04T03-06-01";
    VindaraFileSystem::RecordItem second = first;
    second.start = "2019-03-04T03-06-05";
    second.end = "2019-03-04T03-06-06";
    cam.records = {first, second};
    data.camera = {cam};
    Make("two.mkv", 2, false,
         {"-metadata:s:v:0", "title=v", "-metadata", "comment=" + gavex_test::RecInfoXml(data)});
    const auto records = Read({"two.mkv"});
    ASSERT_EQ(records.size(), 2u);
    filters::VideoSource source;
    source.SetRecords(records);
    std::vector<int64_t> times = {source.GetCurrentTime()};
    while (!source.IsAtEnd() && times.size() < 50) {
        source.NextFrame();
        times.push_back(source.GetCurrentTime());
    }
    std::vector<int64_t> expected;
    for (int i = 0; i < 20; ++i)
        expected.push_back(kStart0 + (i < 10 ? i * 100 : 5000 + (i - 10) * 100));
    expected.push_back(expected.back());  // the end shows on the read after the last frame
    EXPECT_EQ(times, expected);
}

TEST_F(MediaFileSourceTest, SoundStreamOfARecInfoRecord)
{
    VindaraFileSystem::AviFileData data;
    VindaraFileSystem::AviCamData cam;
    cam.id = "5";
    cam.video = {"v"};
    cam.audio = {"snd"};
    VindaraFileSystem::RecordItem item;
    item.streams = {"snd", "v"};
    item.start = "2019-03-04T03-06-00";
    item.end = "2019-03-04T03-06-01";
    cam.records = {item};
    data.camera = {cam};
    const std::string path = Make("sound.mkv", 1, true,
                                  {"-metadata:s:v:0", "title=v", "-metadata:s:a:0", "title=snd", "-metadata",
                                   "comment=" + gavex_test::Base64Encode(gavex_test::RecInfoXml(data))});
    filters::VideoSource source;
    source.SetRecords(Read({"sound.mkv"}));
    EXPECT_EQ(source.GetStreamTitle(), "snd");
    const Storage::PlayFileInfo info = source.GetCurrentFileInfo(0);
    EXPECT_EQ(info.audioPath, path);
    EXPECT_EQ(info.streamTitle, "snd");
    EXPECT_EQ(info.period.begin(), utils::PtimeFromMilliseconds(kStart0));
    EXPECT_TRUE(source.GetCurrentFileInfo(1).audioPath.empty());  // no next record
}

TEST_F(MediaFileSourceTest, PassThroughFramesCarryTheirPacket)
{
    const std::string plain = Make("plain.avi", 1, false);
    const std::string tagged = m_dir / "Cam 2019-03-04 03-06-00_000.avi";
    ASSERT_TRUE(gavex_test::RunFfmpeg({"-i", plain, "-c:v", "copy", "-strict", "unofficial", "-tag:v", "VLMR", tagged}));
    const std::vector<mediatest::Packet> packets = mediatest::ReadPackets(plain);
    ASSERT_GE(packets.size(), 2u);
    filters::VideoSource source;
    source.SetRecords(Read({"Cam 2019-03-04 03-06-00_000.avi"}));
    VideoFrame* frame = source.GetCurrentFrame();
    ASSERT_NE(source.GetFrameInfo(), nullptr);
    EXPECT_EQ(source.GetFrameInfo()->codec, "VLMR");
    EXPECT_EQ(source.GetFrameInfo()->compressedSize, static_cast<int32_t>(packets[0].data.size()));
    EXPECT_EQ(frame->m_nFormat, FrameFormatCompressed);
    EXPECT_EQ(frame->m_bColor, 1);
    EXPECT_EQ(frame->m_nWidth, 64);
    EXPECT_EQ(frame->m_nHeight, 48);
    ASSERT_EQ(frame->m_cbData, packets[0].data.size());
    EXPECT_TRUE(std::equal(packets[0].data.begin(), packets[0].data.end(), frame->m_pData));
    frame = source.NextFrame();
    ASSERT_EQ(frame->m_cbData, packets[1].data.size());
    EXPECT_TRUE(std::equal(packets[1].data.begin(), packets[1].data.end(), frame->m_pData));
}

TEST_F(MediaFileSourceTest, PositionedAndStackedSubtitles)
{
    Make("Cam 2019-03-04 03-06-00_000.mkv", 1, false);
    gavex_test::WriteFileString(m_dir / "cam.srt",
                                "1\n00:00:00,000 --> 00:00:01,000 X1:10 X2:110 Y1:20 Y2:70\nupper\n\n"
                                "2\n00:00:00,000 --> 00:00:01,000\nlower\n\n"
                                "3\n00:00:00,500 --> 00:00:01,000\nunattended:mdparam0<10,20,30,40>color0<255>\n\n");
    auto records = Read({"Cam 2019-03-04 03-06-00_000.mkv"});
    ASSERT_EQ(records.size(), 1u);
    auto file = boost::shared_ptr<ExternalSubtitleFile>(new ExternalSubtitleFile);
    file->path = m_dir / "cam.srt";
    file->fileName = "cam.srt";
    records[0].externalSubtitles.push_back(file);
    filters::VideoSource source;
    source.SetRecords(records);
    auto titles = boost::shared_ptr<render::Titles>(new render::Titles);
    source.SetTitles(titles);
    EXPECT_TRUE(titles->GetTitle(3)->IsVisible());  // no text streams: the file's subtitles show
    source.UpdateTitles();
    source.UpdateTitles();
    EXPECT_EQ(titles->GetTitle(3)->GetText(), L"upper");
    // The second entry of the time goes to the first extra line of source 0
    // of 1: 1 + 0 + 1 + 2.
    EXPECT_EQ(titles->GetTitle(4)->GetText(), L"lower");
    EXPECT_EQ(titles->GetTitle(3)->GetLinkedTitles(), std::vector<int>{4});
    const QRectF rect = titles->GetTitle(3)->GetPlacement();
    EXPECT_DOUBLE_EQ(rect.x(), 9.5 / 64);
    EXPECT_DOUBLE_EQ(rect.y(), 19.5 / 48);
    EXPECT_DOUBLE_EQ(rect.width(), 0.9);  // 99.5 / 64 capped
    EXPECT_DOUBLE_EQ(rect.height(), 0.9);
    EXPECT_TRUE(titles->GetTitle(3)->IsChanged());

    // A track text draws rectangles on the source's line instead of text.
    source.Seek(kStart0 + 500);
    source.UpdateTitles();
    const auto items = titles->GetTitle(3)->GetItems();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_DOUBLE_EQ(items[0].rect.x(), 0.1);
    EXPECT_DOUBLE_EQ(items[0].rect.width(), 0.2);
    EXPECT_EQ(items[0].colour.red(), 255);
}

TEST_F(MediaFileSourceTest, AudioFileOfTheCurrentAndNextRecord)
{
    namespace pt = boost::posix_time;
    filters::VideoSource source;
    MakeChannel(source);
    ASSERT_FALSE(HasFatalFailure());
    Storage::PlayFileInfo info = source.GetCurrentFileInfo(0);
    EXPECT_EQ(info.videoPath, "");
    EXPECT_EQ(info.audioPath, m_dir / "Cam 2019-03-04 03-06-00_000.mkv");
    EXPECT_EQ(info.streamTitle, "");
    EXPECT_EQ(info.period.begin(), utils::PtimeFromMilliseconds(kStart0));
    EXPECT_EQ(info.period.end(), utils::PtimeFromMilliseconds(kStart0 + 2000) - pt::time_duration::unit());
    EXPECT_EQ(info.startOffset, 0);
    EXPECT_EQ(source.GetCurrentFileInfo(1).audioPath, m_dir / "Cam 2019-03-04 03-06-02_000.mkv");
    // The next record has no sound; the last has no next.
    source.Seek(kStart1);
    EXPECT_TRUE(source.GetCurrentFileInfo(1).audioPath.empty());
    EXPECT_TRUE(source.GetCurrentFileInfo(1).period.begin().is_not_a_date_time());
    source.Seek(kStart2);
    EXPECT_TRUE(source.GetCurrentFileInfo(0).audioPath.empty());
    EXPECT_TRUE(source.GetCurrentFileInfo(1).audioPath.empty());
}

TEST_F(MediaFileSourceTest, SubtitlesFillTitleLinesFromThree)
{
    gavex_test::WriteFileString(m_dir / "s1.srt", "1\n00:00:00,500 --> 00:00:01,000\n<b>one</b>\n\n");
    gavex_test::WriteFileString(m_dir / "s2.srt", "1\n00:00:00,200 --> 00:00:01,000\n{\\an8}two\n\n");
    gavex_test::WriteFileString(m_dir / "cam.0.srt", "1\n00:00:00,100 --> 00:00:01,000\nexternal\n\n");
    gavex_test::WriteFileString(m_dir / "cam.5.srt", "1\n00:00:00,100 --> 00:00:01,000\nother stream\n\n");

    VindaraFileSystem::AviFileData data;
    VindaraFileSystem::AviCamData cam;
    cam.id = "4";
    cam.name = "Gate";
    cam.video = {"v1"};
    cam.text = {"s1", "s2"};
    TITLES::TitleSettings title;
    title.title_id = "s2";
    title.font_size = 30;
    cam.titles = {title};
    VindaraFileSystem::RecordItem item;
    item.streams = {"v1", "s1", "s2"};
    item.start = "2019-03-04T03-06-00";
    item.end = "2019-03-04T03-06-02";
    cam.records = {item};
    data.camera = {cam};
    Make("cam.mkv", 2, false,
         {"-map", "0", "-map", "1", "-map", "2", "-c:s", "srt",
          "-metadata:s:v:0", "title=v1", "-metadata:s:s:0", "title=s1", "-metadata:s:s:1", "title=s2", "-metadata",
          "comment=" + gavex_test::RecInfoXml(data)},
         {"-i", m_dir / "s1.srt", "-i", m_dir / "s2.srt"});
    auto records = Read({"cam.mkv"});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].textStreams, (std::vector<std::string>{"s1", "s2"}));
    for (const char* name : {"cam.0.srt", "cam.5.srt"}) {
        auto file = boost::shared_ptr<ExternalSubtitleFile>(new ExternalSubtitleFile);
        file->path = m_dir / name;
        file->videoStreamIndex = name[4] - '0';
        file->fileName = name;
        records[0].externalSubtitles.push_back(file);
    }

    filters::VideoSource source;
    source.SetRecords(records);
    ASSERT_EQ(source.GetSubtitleSources().size(), 3u);
    EXPECT_EQ(source.GetSubtitleSources()[2]->GetStreamId(), "cam.0.srt");
    EXPECT_EQ(source.GetLinkedStreams(), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(source.GetStreamTitle(), "");
    EXPECT_EQ(source.GetSelectedStreamIndex(), 0);

    auto titles = boost::shared_ptr<render::Titles>(new render::Titles);
    source.SetTitles(titles);
    EXPECT_EQ(titles->GetTitle(3)->GetName(), "s1");
    EXPECT_EQ(titles->GetTitle(4)->GetName(), "s2");
    EXPECT_EQ(titles->GetTitle(4)->GetFont().pointSize(), 23);  // the recinfo's 30 pixels of s2
    EXPECT_EQ(titles->GetTitle(3)->GetFont().pointSize(), 9);   // s1 has none: the default 12 pixels
    EXPECT_EQ(titles->GetTitle(5)->GetName(), "cam.0.srt");
    // The file has text streams of its own: the external file starts hidden.
    EXPECT_FALSE(titles->GetTitle(5)->IsVisible());

    source.Seek(kStart0 + 600);
    titles->GetTitle(5)->SetVisible(true);
    source.UpdateTitles();
    EXPECT_EQ(titles->GetTitle(3)->GetText(), L"one");
    EXPECT_TRUE(titles->GetTitle(3)->GetFont().bold());
    EXPECT_EQ(titles->GetTitle(4)->GetText(), L"two");
    EXPECT_EQ(titles->GetTitle(4)->GetAlignment(), 0xA4);
    EXPECT_EQ(titles->GetTitle(5)->GetText(), L"external");
    EXPECT_TRUE(titles->IsChanged());

    source.Seek(kStart0 + 300);  // before s1's first cue
    source.UpdateTitles();
    EXPECT_EQ(titles->GetTitle(3)->GetText(), L"one");  // no entry: the line is left as it is
    EXPECT_EQ(titles->GetTitle(4)->GetText(), L"two");

    QApplicationSettings::Instance().Live.ShowTitles = false;
    source.UpdateTitles();
    QApplicationSettings::Instance().Live.ShowTitles = true;
    for (int line = 3; line <= 5; ++line)
        EXPECT_EQ(titles->GetTitle(line)->GetText(), L"") << line;

    // A subtitle file that cannot be read is logged and left out.
    filters::VideoSource broken;
    records[0].textStreams.push_back("missing");
    broken.SetRecords(records);
    EXPECT_TRUE(mediatest::LogCapture::Instance().Contains(
        "Can't open subtitle source: TextStreamFile=" + m_dir / "cam.mkv" + ", StreamId=missing"));
}

}  // namespace
