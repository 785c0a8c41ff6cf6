// The reading rules of the channel reader (look-ahead, key-frame skipping,
// seeking, time shift, damaged-archive errors) over an in-memory channel, so
// that every sequence of calls can be checked against a plain model.

#include "FSImplementation/ChannelReader.h"

#include <cstring>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/File.h"
#include "support/ArchiveFileWriter.h"

namespace {

namespace pt = boost::posix_time;
using Storage::ChannelReader;
using Storage::FrameInstant;

struct MemFrame {
    int64_t unixMs;
    bool key;
    bool data = true;
};

VideoFramePtr MakeFrame(const MemFrame& f, int number)
{
    VideoFramePtr frame(new VideoFrame(std::string(), 3), false);
    frame->m_tssTime = TSS::FromUtc(static_cast<uint64_t>(f.unixMs) + kArchiveUnixOffsetMs);
    frame->m_nFrameNumber = number;
    frame->m_nFormat = FrameFormatCompressed;
    if (f.data) {
        const std::vector<uint8_t> bytes = testsupport::MakeH264Frame({0, 0, 1, static_cast<uint8_t>(number)}, f.key);
        EXPECT_TRUE(frame->AllocData(static_cast<uint32_t>(bytes.size())));
        std::memcpy(frame->m_pData, bytes.data(), bytes.size());
        frame->m_cbData = static_cast<uint32_t>(bytes.size());
    }
    return frame;
}

pt::ptime At(int64_t unixMs)
{
    return pt::ptime(boost::gregorian::date(1970, 1, 1)) + pt::milliseconds(unixMs);
}

// A channel held in memory. Its source has a position like a file reader:
// a refused step leaves it where it was; a time read lands on the frame
// holding the time (the first frame for a time before it).
class MemoryReader : public ChannelReader {
public:
    explicit MemoryReader(std::vector<MemFrame> frames, const ChannelInfo& info = ChannelInfo(3),
                          const std::wstring& name = L"")
        : ChannelReader(3, name, info), m_frames(std::move(frames))
    {
    }

    void GetRecordDays(std::vector<boost::gregorian::date>& days) override
    {
        if (!m_frames.empty())
            days.push_back(At(m_frames.front().unixMs).date());
    }
    Storage::IPlayInfo* GetPlayInfo() override { return nullptr; }
    void GetExportFiles(const pt::time_period&, std::vector<std::string>&) override {}

    // What the source's index says (shifted index times).
    int64_t indexShiftMs = 0;
    int fetches = 0;
    int throwAtFetch = -1;  // throws an archive error at that fetch count
    int position = -1;

protected:
    void ReadDayIntervals(const boost::gregorian::date&, std::vector<pt::time_period>& periods) override
    {
        if (!m_frames.empty())
            periods.emplace_back(At(m_frames.front().unixMs + indexShiftMs),
                                 At(m_frames.back().unixMs + indexShiftMs + 1));
    }
    VideoFramePtr FetchFrame(bool forward) override
    {
        Count();
        const int next = position + (forward ? 1 : -1);
        if (next < 0 || next >= static_cast<int>(m_frames.size()))
            return {};
        position = next;
        return MakeFrame(m_frames[position], position);
    }
    VideoFramePtr FetchFrameAt(const pt::ptime& time) override
    {
        Count();
        lastSeekTime = time;
        int found = 0;
        for (size_t i = 0; i < m_frames.size(); ++i) {
            if (At(m_frames[i].unixMs) <= time)
                found = static_cast<int>(i);
        }
        position = found;
        return MakeFrame(m_frames[position], position);
    }
    VideoFramePtr FetchFirstFrame() override
    {
        Count();
        if (m_frames.empty())
            return {};
        position = 0;
        return MakeFrame(m_frames[0], 0);
    }

public:
    pt::ptime lastSeekTime;

private:
    void Count()
    {
        if (fetches++ == throwAtFetch)
            platform::ArchiveException::Throw(platform::ArchiveException::badSchema, "damaged.file");
    }

    std::vector<MemFrame> m_frames;
};

// Frames one second apart from 10:00:00 UTC, with a gap after the fifth;
// `keys` marks key frames.
std::vector<MemFrame> Channel(const std::string& keys)
{
    std::vector<MemFrame> frames;
    int64_t t = 1'700'000'000'000;
    for (size_t i = 0; i < keys.size(); ++i) {
        frames.push_back({t, keys[i] == 'K'});
        t += i == 4 ? 60'000 : 1'000;
    }
    return frames;
}

int Number(const VideoFramePtr& f)
{
    return f ? f->m_nFrameNumber : -1;
}

TEST(ChannelReader, InitHoldsTheFirstFrameAndForwardReadsEndAtTheLastFrame)
{
    const auto frames = Channel("KPPKPPKP");
    MemoryReader reader(frames);
    reader.Init();
    EXPECT_EQ(Number(reader.GetCurrentFrame()), 0);
    EXPECT_EQ(reader.GetNextTime(), At(frames[1].unixMs));
    EXPECT_FALSE(reader.IsAtEnd());
    for (int i = 1; i < 8; ++i) {
        EXPECT_EQ(Number(reader.ReadNext(false)), i);
        EXPECT_EQ(reader.GetCurrentTime(), At(frames[i].unixMs));
    }
    EXPECT_TRUE(reader.IsAtEnd());
    EXPECT_EQ(reader.GetNextTime(), reader.GetCurrentTime());
    EXPECT_EQ(Number(reader.ReadNext(false)), 7);
    EXPECT_TRUE(reader.IsAtEnd());
    // Backward from the end gives every frame again.
    for (int i = 6; i >= 0; --i)
        EXPECT_EQ(Number(reader.ReadPrevious(false)), i);
    EXPECT_EQ(Number(reader.ReadPrevious(false)), 0);  // stays on the first frame
    EXPECT_EQ(Number(reader.ReadNext(false)), 1);
}

TEST(ChannelReader, KeyOnlyReadsSkipToKeyFramesAndKeepTheFrameWhenNoneIsLeft)
{
    MemoryReader reader(Channel("PKPPPKPP"));
    reader.Init();
    EXPECT_EQ(Number(reader.ReadNext(true)), 1);
    EXPECT_EQ(Number(reader.ReadNext(true)), 5);
    // No key frame after 5: the current frame stays; plain frames still
    // follow, and the source was put back so that steps go on from frame 5.
    EXPECT_EQ(Number(reader.ReadNext(true)), 5);
    EXPECT_FALSE(reader.IsAtEnd());
    EXPECT_EQ(Number(reader.ReadNext(false)), 6);
    EXPECT_EQ(Number(reader.ReadNext(false)), 7);
    EXPECT_EQ(Number(reader.ReadNext(true)), 7);
    EXPECT_TRUE(reader.IsAtEnd());
    EXPECT_EQ(Number(reader.ReadPrevious(false)), 6);
    EXPECT_EQ(Number(reader.ReadPrevious(false)), 5);
    EXPECT_EQ(Number(reader.ReadPrevious(false)), 4);
    EXPECT_EQ(Number(reader.ReadPrevious(true)), 1);
    EXPECT_EQ(Number(reader.ReadPrevious(true)), 1);  // frame 0 is no key frame
    EXPECT_EQ(Number(reader.ReadNext(false)), 2);
}

TEST(ChannelReader, SeekLandsOnTheFrameHoldingTheTime)
{
    const auto frames = Channel("KPPKPPKP");
    struct Case {
        const char* what;
        pt::ptime time;
        int expected;
    };
    const Case cases[] = {
        {"exactly on a frame", At(frames[3].unixMs), 3},
        {"between two frames", At(frames[3].unixMs + 400), 3},
        {"in the gap", At(frames[4].unixMs + 30'000), 4},
        {"before the first frame", At(frames[0].unixMs - 5'000), 0},
        {"after the last frame", At(frames[7].unixMs + 5'000), 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryReader reader(frames);
        reader.Init();
        reader.ReadNext(false);
        reader.Seek(c.time);
        EXPECT_EQ(Number(reader.GetCurrentFrame()), c.expected);
        // The next frame after a seek is the one after the frame found.
        const int next = Number(reader.ReadNext(false));
        EXPECT_EQ(next, std::min(c.expected + 1, 7));
    }
}

TEST(ChannelReader, SeekWithinTheCurrentFrameReadsNothing)
{
    const auto frames = Channel("KPPKPPKP");
    MemoryReader reader(frames);
    reader.Init();
    reader.Seek(At(frames[2].unixMs + 100));
    reader.GetNextTime();
    const int before = reader.fetches;
    reader.Seek(At(frames[2].unixMs + 900));
    reader.Seek(At(frames[2].unixMs));
    EXPECT_EQ(reader.fetches, before);
    EXPECT_EQ(Number(reader.GetCurrentFrame()), 2);
    // Special values move nothing either.
    reader.Seek(pt::ptime(pt::not_a_date_time));
    EXPECT_EQ(Number(reader.GetCurrentFrame()), 2);
}

// Any sequence of calls keeps the reader on the frame a plain index model
// says, whatever it has read ahead.
TEST(ChannelReader, RandomCallSequencesMatchAnIndexModel)
{
    for (const std::string keys : {"KPPKPPPPKPKKPPPK", "PPKPPPPKPPKP", "KKKKKK", "P", "PPPPPKPP"}) {
        const auto frames = Channel(keys);
        const int n = static_cast<int>(frames.size());
        MemoryReader reader(frames);
        reader.Init();
        int index = 0;
        std::mt19937 random(static_cast<unsigned>(keys.size()));
        std::ostringstream trail;
        for (int step = 0; step < 3000; ++step) {
            const int op = static_cast<int>(random() % 7);
            trail << op << ' ';
            if (trail.tellp() > 400)
                trail.str("... ");
            switch (op) {
            case 0:
                reader.ReadNext(false);
                index = std::min(index + 1, n - 1);
                break;
            case 1:
                reader.ReadPrevious(false);
                index = std::max(index - 1, 0);
                break;
            case 2: {
                reader.ReadNext(true);
                for (int i = index + 1; i < n; ++i) {
                    if (frames[i].key) {
                        index = i;
                        break;
                    }
                }
                break;
            }
            case 3: {
                reader.ReadPrevious(true);
                for (int i = index - 1; i >= 0; --i) {
                    if (frames[i].key) {
                        index = i;
                        break;
                    }
                }
                break;
            }
            case 4: {
                const int64_t span = frames.back().unixMs - frames.front().unixMs + 10'000;
                const int64_t t = frames.front().unixMs - 5'000 + static_cast<int64_t>(random() % span);
                reader.Seek(At(t));
                trail << "@" << t - frames.front().unixMs << ' ';
                int found = 0;
                for (int i = 0; i < n; ++i) {
                    if (frames[i].unixMs <= t)
                        found = i;
                }
                index = found;
                break;
            }
            case 5:
                ASSERT_EQ(reader.GetNextTime(), At(frames[std::min(index + 1, n - 1)].unixMs))
                    << "keys " << keys << " ops " << trail.str();
                break;
            case 6:
                ASSERT_EQ(reader.IsAtEnd(), index == n - 1) << "keys " << keys << " ops " << trail.str();
                break;
            }
            ASSERT_EQ(Number(reader.GetCurrentFrame()), index) << "keys " << keys << " ops " << trail.str();
        }
    }
}

TEST(ChannelReader, FramesWithoutDataAreNotTakenAsCurrent)
{
    auto frames = Channel("KPPK");
    frames[0].data = false;
    MemoryReader reader(frames);
    reader.Init();
    EXPECT_FALSE(reader.GetCurrentFrame());
    EXPECT_TRUE(reader.GetCurrentTime().is_not_a_date_time());
    EXPECT_EQ(Number(reader.ReadNext(false)), 1);
}

TEST(ChannelReader, ShiftBetweenIndexAndFramesIsMeasuredAndTakenOutOfIntervals)
{
    const auto frames = Channel("KPPK");
    MemoryReader reader(frames);
    reader.indexShiftMs = 3'600'000;
    reader.Init();
    EXPECT_EQ(reader.GetShift(), pt::hours(1));
    std::vector<pt::time_period> periods;
    reader.GetRecordIntervals(At(frames[0].unixMs).date(), periods);
    ASSERT_EQ(periods.size(), 1u);
    EXPECT_EQ(periods[0].begin(), At(frames.front().unixMs));
    EXPECT_EQ(periods[0].end(), At(frames.back().unixMs + 1));
}

TEST(ChannelReader, DamagedArchiveReadsBecomeInvalidArchiveErrors)
{
    // Fetch 0 is the first frame, 1 the look-ahead, 2 the next read.
    MemoryReader reader(Channel("KPPK"));
    reader.throwAtFetch = 3;
    reader.Init();
    reader.ReadNext(false);  // takes the look-ahead, no fetch
    reader.GetNextTime();    // fetch 2
    reader.ReadNext(false);
    EXPECT_THROW(reader.IsAtEnd(), Storage::InvalidArchiveException);

    // During Init, the look-ahead read fails the same way.
    MemoryReader second(Channel("KPPK"));
    second.throwAtFetch = 1;
    EXPECT_THROW(second.Init(), Storage::InvalidArchiveException);

    // The first-frame read's archive error is passed on unchanged.
    MemoryReader third(Channel("KPPK"));
    third.throwAtFetch = 0;
    EXPECT_THROW(third.Init(), platform::ArchiveException);
}

TEST(ChannelReader, NameComesFromTheRecordThenTheGivenNameThenTheNumber)
{
    ChannelInfo named(3);
    named.name = L"Gate \u00e9";
    ChannelInfo unnamed(3);
    unnamed.name.clear();
    struct Case {
        ChannelInfo info;
        std::wstring given;
        std::wstring expected;
    };
    const Case cases[] = {
        {named, L"given", L"Gate \u00e9"},
        {unnamed, L"given", L"given"},
        {unnamed, L"", L"3"},
    };
    for (const Case& c : cases) {
        MemoryReader reader(Channel("K"), c.info, c.given);
        EXPECT_EQ(reader.GetName(), c.expected);
    }
}

}  // namespace
