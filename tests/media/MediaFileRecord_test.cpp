// The records of ordinary media files made by the ffmpeg tool: placed by
// their file name, or described by a recinfo text in their "comment" (plain
// XML or Base64), and the conversions of recinfo values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>

#include <boost/lexical_cast.hpp>

#include "MediaTestSupport.h"
#include "archive/files/ArchiveSettings.h"
#include "media/FFmpegSource.h"
#include "media/MediaFileRecord.h"
#include "platform/Panomorph.h"
#include "platform/TextCodec.h"
#include "platform/TimeZone.h"
#include "render/D3DRendererDevice.h"
#include "render/Dewarper.h"
#include "support/MediaFiles.h"
#include "support/TempDir.h"

using gavex_test::TempDir;

namespace {

constexpr int64_t kItemStart = 1577934245000;  // 2020-01-02 03:04:05 UTC
constexpr int64_t kLaterItem = 1577934600000;  // 2020-01-02 03:10:00 UTC

// A zone without summer time, so that "now" has the same offset all year.
class FixedZone {
public:
    FixedZone()
    {
        const char* old = std::getenv("TZ");
        m_old = old ? old : "";
        m_had = old != nullptr;
        setenv("TZ", "Etc/GMT-3", 1);  // UTC+3
        tzset();
        platform::tz::Reload();
    }
    ~FixedZone()
    {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        platform::tz::Reload();
    }

private:
    std::string m_old;
    bool m_had = false;
};

VindaraFileSystem::RecordItem Item(std::vector<std::string> streams, std::string start, std::string end)
{
    VindaraFileSystem::RecordItem item;
    item.streams = std::move(streams);
    item.start = std::move(start);
    item.end = std::move(end);
    return item;
}

// Two cameras, two good items for the first and one for the second; an item
// whose time does not parse, one without a known video stream and one that
// ends before it starts are skipped.
VindaraFileSystem::AviFileData TwoCameras(const std::string& zone)
{
    VindaraFileSystem::AviFileData data;
    data.time_zone = zone;
    VindaraFileSystem::AviCamData front;
    front.id = "1";
    front.name = "Front";
    front.video = {"v1"};
    front.audio = {"a1"};
    front.text = {"s2", "s1"};
    TITLES::TitleSettings title;
    title.title_id = "s2";
    title.font_size = 20;
    front.titles = {title};
    front.records = {
        Item({"s2", "v1", "a1", "s1", "s2"}, "2020-01-02T03-04-05", "2020-01-02T03-04-06.500"),
        Item({"v1"}, "2020-01-02T03-10-00", "2020-01-02T03-10-01"),
        Item({"v1"}, "2020-01-02T03-20-00", "not a time"),
        Item({"x"}, "2020-01-02T03-30-00", "2020-01-02T03-31-00"),
        Item({"v1"}, "2020-01-02T03-40-00", "2020-01-02T03-39-00"),
    };
    front.settings.lens = "A8TRT";
    front.settings.position = 2;
    front.settings.display = 1;
    front.settings.x = 0.25;
    front.settings.w = 0.5;
    VindaraFileSystem::AviCamData back;
    back.name = "Hof \xC3\xBC";  // no id: the name stands for it
    back.video = {"v2"};
    back.records = {Item({"v2"}, "2020-01-02T03-04-05.200", "2020-01-02T03-04-07")};
    data.camera = {front, back};
    return data;
}

// One record as a line: id, name, start, length, video, audio, text streams,
// hasAudio, time shift, lens.
std::string Describe(const MediaFileRecord& r)
{
    std::ostringstream out;
    out << platform::WideToUtf8(r.id) << "|" << platform::WideToUtf8(r.name) << "|" << r.start << "+" << r.length
        << "|" << r.videoStreamTitle << "|" << r.audioStreamTitle << "|";
    for (const std::string& t : r.textStreams)
        out << t << ",";
    out << "|" << r.hasAudio << "|" << r.timeShift << "|" << r.camera.lens;
    return out.str();
}

std::string Periods(const utils::IntervalList& list)
{
    std::ostringstream out;
    for (const auto& p : list)
        out << p.start << "+" << p.length << " ";
    return out.str();
}

enum class Comment { None, Xml, Base64, FiveCharacters, Broken };

struct RecordCase {
    const char* name;
    const char* file;  // its base name is the caller's name
    Comment comment;
    bool audio;
    std::vector<std::string> records;  // Describe() of each record
};

std::ostream& operator<<(std::ostream& out, const RecordCase& c)
{
    return out << c.name;
}

const std::string kFront = "1|Front|1577934245000+1500|v1|a1|s1,s2,|1|7200|4";
const std::string kFrontLater = "1|Front|1577934600000+1000|v1|||0|7200|4";  // no audio in this item
const std::string kBack = "Hof \xC3\xBC|Hof \xC3\xBC|1577934245200+1800|v2|||0|7200|0";

const RecordCase kRecordCases[] = {
    {"name MKV with audio", "Cam 1 2019-03-04 05-06-07_089.mkv", Comment::None, true,
     {"Cam 1|Cam 1|1551665167089+2000||||1|0|0"}},
    {"name MP4, text after the fraction", "Cam 1 2019-03-04 05-06-07_089 part2.mp4", Comment::None, false,
     {"Cam 1|Cam 1|1551665167089+2000||||0|0|0"}},
    {"name AVI not matching", "clip.avi", Comment::None, true, {"clip|clip|0+2000||||1|0|0"}},
    {"five-character comment", "Yard 2019-03-04 05-06-07_089.mkv", Comment::FiveCharacters, false,
     {"Yard|Yard|1551665167089+2000||||0|0|0"}},
    {"broken recinfo", "Yard 2019-03-04 05-06-07_089.avi", Comment::Broken, false,
     {"Yard|Yard|1551665167089+2000||||0|0|0"}},
    {"recinfo XML in MKV", "export.mkv", Comment::Xml, true, {kFront, kFrontLater, kBack}},
    {"recinfo Base64 in MKV", "export.mkv", Comment::Base64, true, {kFront, kFrontLater, kBack}},
    {"recinfo XML in MP4", "export.mp4", Comment::Xml, false, {kFront, kFrontLater, kBack}},
    {"recinfo Base64 in AVI", "export.avi", Comment::Base64, true, {kFront, kFrontLater, kBack}},
};

class MediaFileRecordTest : public ::testing::TestWithParam<RecordCase> {
protected:
    FixedZone m_zone;
    TempDir m_dir{"records"};
};

TEST_P(MediaFileRecordTest, RecordsOfTheFile)
{
    const RecordCase& c = GetParam();
    std::vector<std::string> args = gavex_test::TestVideoInput(2);
    if (c.audio) {
        const auto audio = gavex_test::TestAudioInput(2);
        args.insert(args.end(), audio.begin(), audio.end());
        args.insert(args.end(), {"-map", "0", "-map", "1", "-c:a", "pcm_s16le"});
    }
    args.insert(args.end(), {"-c:v", "mpeg4"});
    // Time zone 120 minutes east, the computer 180: a shift of 2 hours.
    const std::string xml = gavex_test::RecInfoXml(TwoCameras("120"));
    switch (c.comment) {
    case Comment::None: break;
    case Comment::Xml: args.insert(args.end(), {"-metadata", "comment=" + xml}); break;
    case Comment::Base64: args.insert(args.end(), {"-metadata", "comment=" + gavex_test::Base64Encode(xml)}); break;
    case Comment::FiveCharacters: args.insert(args.end(), {"-metadata", "comment=<?xml"}); break;
    case Comment::Broken: args.insert(args.end(), {"-metadata", "comment=<?xml version=\"1.0\"?><recinfo"}); break;
    }
    const std::string path = m_dir / c.file;
    args.push_back(path);
    ASSERT_TRUE(gavex_test::RunFfmpeg(args));

    MediaFileRecord file;
    file.path = path;
    const std::string base = std::string(c.file).substr(0, std::string(c.file).rfind('.'));
    file.name = platform::Utf8ToWide(base);
    file.isSigned = true;
    filters::FFmpegVideoSource source;
    std::vector<MediaFileRecord> records;
    filters::ReadMediaFileRecords(source, file, records);
    std::vector<std::string> got;
    for (const MediaFileRecord& r : records) {
        got.push_back(Describe(r));
        EXPECT_EQ(r.path, path);
        EXPECT_TRUE(r.isSigned);
    }
    EXPECT_EQ(got, c.records);
    EXPECT_TRUE(source.IsOpen());

    if (c.comment == Comment::Xml || c.comment == Comment::Base64) {
        ASSERT_EQ(records.size(), 3u);
        // The file's periods, shared by every record: the overlapping items
        // merge, the later one stays apart.
        for (const MediaFileRecord& r : records) {
            EXPECT_EQ(Periods(r.converter.GetArchivePeriods()),
                      std::to_string(kItemStart) + "+2000 " + std::to_string(kLaterItem) + "+1000 ");
            EXPECT_EQ(Periods(r.converter.GetContinuousPeriods()), "0+2000 2000+1000 ");
        }
        ASSERT_EQ(records[0].titleSettings.size(), 1u);
        EXPECT_EQ(records[0].titleSettings[0]->font_size, 20u);
        EXPECT_EQ(records[0].camera.position, 2);
        EXPECT_EQ(records[0].camera.display, 1);
        EXPECT_EQ(records[0].camera.x, 0.25);
        EXPECT_EQ(records[0].camera.w, 0.5);
    } else if (!records.empty()) {
        EXPECT_EQ(Periods(records[0].converter.GetArchivePeriods()),
                  std::to_string(records[0].start) + "+" + std::to_string(records[0].length) + " ");
        EXPECT_EQ(Periods(records[0].converter.GetContinuousPeriods()),
                  "0+" + std::to_string(records[0].length) + " ");
    }
}

INSTANTIATE_TEST_SUITE_P(Files, MediaFileRecordTest, ::testing::ValuesIn(kRecordCases));

TEST(MediaFileRecords, FileThatDoesNotOpenGivesNoRecord)
{
    TempDir dir("records");
    const std::string path = dir / "noise.mkv";
    std::string noise(4096, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 7919 + 13) % 251);
    gavex_test::WriteFileString(path, noise);
    MediaFileRecord file;
    file.path = path;
    file.name = L"noise";
    filters::FFmpegVideoSource source;
    std::vector<MediaFileRecord> records;
    filters::ReadMediaFileRecords(source, file, records);
    EXPECT_TRUE(records.empty());
}

TEST(MediaFileRecords, ItemsWithAnOverflowingTimeOrZoneAreRefused)
{
    FixedZone zone;
    const struct {
        const char* zone;
        int32_t shift;  // an unusable zone leaves the recording in this computer's
    } zones[] = {{"120", 7200}, {"99999999", 0}, {"-2147483648", 0}, {"2147483647", 0}};
    for (const auto& z : zones) {
        SCOPED_TRACE(z.zone);
        VindaraFileSystem::AviFileData data = TwoCameras(z.zone);
        auto& items = data.camera[0].records;
        items.push_back(Item({"v1"}, "2020-01-02T04-00-00", "2020-01-02T04-00-01.99999999999999999"));
        items.push_back(Item({"v1"}, "2020-01-02T04-10-00.9223372036854775807", "2020-01-02T04-10-01"));
        items.push_back(Item({"v1"}, "2020-01-02T04-20-00.1000", "2020-01-02T04-20-01"));
        MediaFileRecord file;
        file.path = "/nowhere/export.mkv";
        std::vector<MediaFileRecord> records;
        filters::ReadRecInfoRecords(gavex_test::RecInfoXml(data), file, records);
        std::vector<std::string> got;
        for (const MediaFileRecord& r : records)
            got.push_back(Describe(r));
        const std::string shift = "|" + std::to_string(z.shift) + "|";
        EXPECT_EQ(got, (std::vector<std::string>{
                           "1|Front|1577934245000+1500|v1|a1|s1,s2,|1" + shift + "4",
                           "1|Front|1577934600000+1000|v1|||0" + shift + "4",
                           "Hof \xC3\xBC|Hof \xC3\xBC|1577934245200+1800|v2|||0" + shift + "0",
                       }));
    }
}

TEST(MediaFileRecords, RecInfoTimes)
{
    FixedZone zone;
    const struct {
        const char* text;
        const char* format;
        char separator;
        bool keep;
        int64_t result;
        bool valid;
    } cases[] = {
        {"", "%Y-%m-%dT%H-%M-%S", '.', true, 0, true},
        {"2020-01-02T03-04-05", "%Y-%m-%dT%H-%M-%S", '.', true, kItemStart, true},
        {"2020-01-02T03-04-05.5", "%Y-%m-%dT%H-%M-%S", '.', true, kItemStart + 5, true},
        {"2020-01-02T03-04-05.123", "%Y-%m-%dT%H-%M-%S", '.', true, kItemStart + 123, true},
        {"2020-01-02T06-04-05.123", "%Y-%m-%dT%H-%M-%S", '.', false, kItemStart + 123, true},  // local UTC+3
        {"2020-01-02 06-04-05_089", "%Y-%m-%d %H-%M-%S", '_', false, kItemStart + 89, true},
        {"2020-01-02T03-04-05.x", "%Y-%m-%dT%H-%M-%S", '.', true, kItemStart, true},  // the fraction is lost
        {"2020-01-02T03-04-05.999", "%Y-%m-%dT%H-%M-%S", '.', true, kItemStart + 999, true},
        // A fraction that is no millisecond of the second refuses the time
        // (the largest would overflow the sum).
        {"2020-01-02T03-04-05.1000", "%Y-%m-%dT%H-%M-%S", '.', true, 0, false},
        {"2020-01-02T03-04-05.-1", "%Y-%m-%dT%H-%M-%S", '.', true, 0, false},
        {"2020-01-02T03-04-05.9223372036854775807", "%Y-%m-%dT%H-%M-%S", '.', true, 0, false},
        {"2020-01-02 06-04-05_99999999999", "%Y-%m-%d %H-%M-%S", '_', false, 0, false},
        {"garbage", "%Y-%m-%dT%H-%M-%S", '.', true, 0, false},
        {"2020-13-02T03-04-05", "%Y-%m-%dT%H-%M-%S", '.', true, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        bool valid = !c.valid;
        EXPECT_EQ(ParseRecInfoTime(c.text, c.format, c.separator, c.keep, &valid), c.result);
        EXPECT_EQ(valid, c.valid);
    }
}

TEST(MediaFileRecords, LensTypesAndZones)
{
    const std::pair<const char*, int32_t> lenses[] = {
        {"", 0},      {"Standart", 1}, {"AutoCalibrated", 2}, {"A0**V", 0}, {"A1UST", 3}, {"A8TRT", 4},
        {"B0QQV", 5}, {"B4QQV", 6},    {"B5SST", 7},          {"B6SST", 8}, {"b6sst", 0}, {"Standard", 0},
    };
    for (const auto& [text, type] : lenses)
        EXPECT_EQ(ParseLensType(text), type) << text;

    FixedZone zone;
    EXPECT_EQ(ParseTimeZoneOffset("180"), 0);  // this computer's zone
    EXPECT_EQ(ParseTimeZoneOffset("120"), 7200);
    EXPECT_EQ(ParseTimeZoneOffset("-300"), -18000);
    EXPECT_EQ(ParseTimeZoneOffset("0"), 0);
    EXPECT_ANY_THROW(ParseTimeZoneOffset("abc"));
    EXPECT_EQ(ParseTimeZoneOffset("1440"), 86400);
    EXPECT_EQ(ParseTimeZoneOffset("-1440"), -86400);
    // Beyond a day: no zone, and minutes times 60 would overflow.
    for (const char* far : {"1441", "-1441", "35791395", "-35791395", "2147483647", "-2147483648"}) {
        SCOPED_TRACE(far);
        EXPECT_THROW(ParseTimeZoneOffset(far), boost::bad_lexical_cast);
    }
}

// A camera of the lens library that notes the lens it is given.
class LensNotingCamera : public platform::panomorph::ICamera3D {
public:
    static inline std::string lensSet;

    int SetLens(const std::string& code) override
    {
        lensSet = code;
        return 0;
    }
    int SetVideoParams(const platform::panomorph::Buffer&, const platform::panomorph::Buffer&, int, int,
                       int) override
    {
        return 0;
    }
    int GetACS() override { return 0; }
    int GetPTZ3DModel(const platform::panomorph::Vertex*&, int&, const unsigned*&, int&) override { return -1; }
    int GetPerimetric3DModel(const platform::panomorph::Vertex*&, int&, const unsigned*&, const unsigned*&,
                             int&) override
    {
        return -1;
    }
};

TEST(MediaFileRecords, TheLensNamedInAFileIsTheLensDrawn)
{
    platform::panomorph::SetCamera3DFactory([] { return std::make_unique<LensNotingCamera>(); });
    const QImage frame = [] {
        QImage f(64, 64, QImage::Format_RGB32);
        f.fill(Qt::white);
        return f;
    }();
    const std::vector<std::string>& codes = render::SupportedLensList();
    for (size_t i = 0; i < codes.size(); ++i) {
        SCOPED_TRACE(codes[i]);
        const int32_t type = ParseLensType(codes[i]);
        // Only the first code has no stored type: the settings offer the rest.
        EXPECT_EQ(type == 0, i == 0);
        if (type == 0)
            continue;
        LensNotingCamera::lensSet.clear();
        render::D3DRendererDevice device;
        render::Dewarper dewarper;
        dewarper.lens = type;
        dewarper.Rebuild(frame, device);
        EXPECT_EQ(LensNotingCamera::lensSet, codes[i]);
    }
    platform::panomorph::SetCamera3DFactory(nullptr);
}

}  // namespace
