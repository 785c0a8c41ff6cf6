// The archive channel source over a scripted channel reader: recorded
// periods, start position, and the title lines filled from frame title
// texts (tagged entries, plain texts, track rectangles, switches).
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "FSImplementation/ChannelReader.h"
#include "media/FileSystemSource.h"
#include "config/QApplicationSettings.h"
#include "render/Titles.h"

namespace {

namespace pt = boost::posix_time;
namespace bg = boost::gregorian;

const pt::ptime kEpoch(bg::date(1970, 1, 1));

class ScriptedReader : public Storage::IChannelReader {
public:
    std::wstring GetName() const override { return L"Gate"; }
    void GetRecordDays(std::vector<bg::date>& out) override { out.insert(out.end(), days.begin(), days.end()); }
    void GetRecordIntervals(const bg::date& day, std::vector<pt::time_period>& out) override
    {
        for (const auto& p : periods)
            if (p.begin().date() == day)
                out.push_back(p);
    }
    pt::ptime GetCurrentTime() override { return kEpoch; }
    pt::ptime GetNextTime() override { return kEpoch; }
    void Seek(const pt::ptime& time) override { seekedTo = time; }
    VideoFramePtr ReadNext(bool) override { return current; }
    VideoFramePtr ReadPrevious(bool) override { return current; }
    VideoFramePtr GetCurrentFrame() override { return current; }
    bool IsAtEnd() override { return true; }
    const ChannelInfo& GetChannelInfo() const override { return info; }
    Storage::IPlayInfo* GetPlayInfo() override { return nullptr; }

    std::vector<bg::date> days;
    std::vector<pt::time_period> periods;
    pt::ptime seekedTo;
    VideoFramePtr current;
    ChannelInfo info;
};

VideoFramePtr FrameWithTitle(const std::string& text)
{
    VideoFramePtr frame(new VideoFrame("", 0), false);
    frame->m_strSubtitles = text;
    return frame;
}

std::string Entry(const std::string& id, const std::string& content)
{
    return "\x01" + id + "\x02" + content + "\x03" + id + "\x04";
}

class SourceTitlesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        reader = boost::make_shared<ScriptedReader>();
        reader->info.RotateAngle = 90;
        TITLES::TitleSettings s;
        s.title_id = "cash";
        s.font_size = 20;
        reader->info.titles.push_back(s);
        source = std::make_unique<filters::FileSystemSource>(reader, L"5");
        titles = boost::make_shared<render::Titles>();
        source->SetTitles(titles);
    }
    void TearDown() override
    {
        QApplicationSettings::Instance().Live.ShowTitles = true;
        QApplicationSettings::Instance().Live.ShowTracks = true;
    }
    void Show(const std::string& text)
    {
        reader->current = FrameWithTitle(text);
        source->UpdateTitles();
    }
    std::wstring Line(int index) { return titles->GetTitle(index)->GetText(); }

    boost::shared_ptr<ScriptedReader> reader;
    std::unique_ptr<filters::FileSystemSource> source;
    boost::shared_ptr<render::Titles> titles;
};

TEST(SourcePeriodsTest, PeriodsFromTheReaderAndStartAtTheFirst)
{
    auto reader = boost::make_shared<ScriptedReader>();
    const pt::ptime a(bg::date(2024, 3, 1), pt::hours(10));
    reader->days = {bg::date(2024, 3, 1), bg::date(2024, 3, 2)};
    reader->periods = {pt::time_period(a, a + pt::seconds(90)),
                       pt::time_period(a + pt::hours(20), a + pt::hours(20) + pt::microseconds(1))};
    filters::FileSystemSource source(reader, L"5");
    const int64_t start = (a - kEpoch).total_milliseconds();
    EXPECT_EQ(source.GetPeriods(), (std::vector<filters::RecordPeriod>{{start, 90000}, {start + 72000000, 0}}));
    EXPECT_EQ(reader->seekedTo, a);
    EXPECT_EQ(source.GetName(), L"Gate");
    EXPECT_EQ(source.GetId(), L"5");

    auto empty = boost::make_shared<ScriptedReader>();
    filters::FileSystemSource none(empty, L"6");
    EXPECT_TRUE(none.GetPeriods().empty());
    EXPECT_EQ(empty->seekedTo, kEpoch);
    EXPECT_THROW(filters::FileSystemSource(boost::shared_ptr<Storage::IChannelReader>(), L"7"), std::runtime_error);
}

TEST_F(SourceTitlesTest, SettingsNameTheFirstLinesAndEntriesFollowInOrderOfAppearance)
{
    EXPECT_EQ(titles->GetTitle(3)->GetFont().pointSize(), 15);  // 20 pixels
    Show(Entry("plate", "AB 123") + Entry("cash", "12.50\rEUR"));
    EXPECT_EQ(Line(3), L"12.50\nEUR");  // "cash" came from the settings
    EXPECT_EQ(Line(4), L"AB 123");
    // A malformed entry ends the scan; what came before it stays.
    Show(Entry("cash", "7.00") + "\x01" + "broken");
    EXPECT_EQ(Line(3), L"7.00");
    EXPECT_EQ(Line(4), L"");
    EXPECT_EQ(source->GetCameraSettings().rotation, 90);
}

TEST_F(SourceTitlesTest, PlainTextGoesToTheFirstLineAndRepeatsParseOnce)
{
    Show("hello\\rworld");
    EXPECT_EQ(Line(3), L"hello\nworld");
    titles->TakeChanged();
    titles->SetTitleText(3, L"changed elsewhere");
    Show("hello\\rworld");  // same text: not parsed again
    EXPECT_EQ(Line(3), L"changed elsewhere");
}

TEST_F(SourceTitlesTest, TitlesOffClearsFilledLines)
{
    Show(Entry("cash", "1") + Entry("plate", "2"));
    QApplicationSettings::Instance().Live.ShowTitles = false;
    Show(Entry("cash", "3"));
    EXPECT_EQ(Line(3), L"");
    EXPECT_EQ(Line(4), L"");
}

TEST_F(SourceTitlesTest, DisabledLineIsLeftAlone)
{
    titles->GetTitle(4)->SetVisible(false);
    Show(Entry("cash", "1") + Entry("plate", "2"));
    EXPECT_EQ(Line(3), L"1");
    EXPECT_EQ(Line(4), L"");
}

TEST_F(SourceTitlesTest, TrackRectangles)
{
    struct Case {
        const char* content;
        std::vector<render::TitleItem> items;
    };
    const render::TitleItem red{QRectF(0.1, 0.2, 0.2, 0.2), QColor(255, 0, 0)};
    const render::TitleItem blue{QRectF(0.0, 0.5, 0.5, 0.25), QColor(0, 0, 255)};
    const Case cases[] = {
        {"unattended: mdparam0<10,20,30,40> color0<255>", {red}},
        {"unattended: mdparam0<10,20,30,40> color0<255> mdparam1<0;50;50;75> color1<+16711680>", {red, blue}},
        // A colour that is not a number: the line keeps what it showed.
        {"unattended: mdparam0<0,50,50,75> color0<red>", {red, blue}},
        {"unattended:", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        Show(c.content);
        EXPECT_EQ(titles->GetTitle(3)->GetItems(), c.items);
        EXPECT_EQ(Line(3), L"");
    }
    QApplicationSettings::Instance().Live.ShowTracks = false;
    Show("unattended: mdparam0<1,2,3,4> color0<1>");
    EXPECT_EQ(Line(3), L"unattended: mdparam0<1,2,3,4> color0<1>");
}

}  // namespace
