// Channels played in real time through source pins, pin threads and one
// synchronizer on simulated time: decoding of the channels overlaps, and a
// pin that cannot keep up skips frames instead of slowing the time line.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "PlaybackTestSupport.h"
#include "playback/Clocks.h"
#include "playback/SourcePin.h"
#include "playback/TimeSynchronizer.h"
#include "render/MemoryTexture.h"
#include "render/RendererPin.h"
#include "support/RendererPinHost.h"

using playbacktest::ClockDriver;
using playbacktest::Eventually;
using playbacktest::ScriptedSource;
using playbacktest::SimTicks;

namespace {

constexpr int64_t kStart = 1'000'000;
constexpr int64_t kStep = 40;

std::vector<int64_t> Times(int count) {
    std::vector<int64_t> t;
    for (int i = 0; i < count; ++i) t.push_back(kStart + i * kStep);
    return t;
}

// Lets the k-th call of every member through only once all members have
// made their k-th call. A member left alone gives up after a while (real
// time) and the meeting is counted as missed, so that a pipeline that
// decodes one channel after another fails instead of hanging.
class Rendezvous {
public:
    explicit Rendezvous(int members) : m_members(members) {}

    void Arrive(int member) {
        std::unique_lock<std::mutex> lock(m_lock);
        const size_t k = m_calls[size_t(member)]++;
        if (m_arrived.size() <= k) m_arrived.resize(k + 1, 0);
        if (++m_arrived[k] == m_members) m_cond.notify_all();
        if (!m_cond.wait_for(lock, std::chrono::seconds(3), [&] { return m_arrived[k] >= m_members; })) {
            ++m_missed;
            m_arrived[k] = m_members;  // the others of this meeting go too
            m_cond.notify_all();
        }
    }
    int Missed() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_missed;
    }
    size_t Meetings() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_arrived.size();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_cond;
    const int m_members;
    std::vector<size_t> m_calls = std::vector<size_t>(size_t(m_members), 0);
    std::vector<int> m_arrived;
    int m_missed = 0;
};

// A source that decodes as it moves on (as the media-file source does): its
// step to the next frame is where a pin spends its decoding time.
class DecodingScriptedSource : public ScriptedSource {
public:
    DecodingScriptedSource(const std::vector<int64_t>& times, Rendezvous& meeting, int member)
        : ScriptedSource(times, {{times.front(), int64_t(times.size()) * kStep}}), m_meeting(meeting),
          m_member(member) {}
    VideoFrame* NextFrame() override {
        if (!IsAtEnd()) m_meeting.Arrive(m_member);
        return ScriptedSource::NextFrame();
    }

private:
    Rendezvous& m_meeting;
    const int m_member;
};

// Frames whose every pixel tells which frame of the recording they are
// (1 for the first), so that a picture in a texture can be named.
class NumberedSource : public ScriptedSource {
public:
    explicit NumberedSource(const std::vector<int64_t>& times)
        : ScriptedSource(times, {{times.front(), int64_t(times.size()) * kStep}}) {}
    VideoFrame* GetCurrentFrame() override { return Numbered(ScriptedSource::GetCurrentFrame()); }
    VideoFrame* NextFrame() override { return Numbered(ScriptedSource::NextFrame()); }

private:
    VideoFrame* Numbered(VideoFrame* frame) {
        if (frame) std::memset(frame->m_pData, int((GetCurrentTime() - kStart) / kStep + 1), frame->m_cbData);
        return frame;
    }
};

// A sample texture that notes the clock's time and the picture's number at
// each commit: the moment the picture on screen changes.
class CommitLog : public render::MemoryTexture {
public:
    explicit CommitLog(std::shared_ptr<utils::WaitableClock> clock)
        : MemoryTexture(QSize(16, 16), true), m_clock(std::move(clock)) {}
    void Commit() override {
        MemoryTexture::Commit();
        const std::vector<uchar> bytes = Bytes();
        std::lock_guard<std::mutex> lock(m_entriesLock);
        m_entries.emplace_back(m_clock->GetTime(), bytes.empty() ? -1 : int(bytes[0]));
    }
    std::vector<std::pair<int64_t, int>> Entries() {
        std::lock_guard<std::mutex> lock(m_entriesLock);
        return m_entries;
    }

private:
    const std::shared_ptr<utils::WaitableClock> m_clock;
    std::mutex m_entriesLock;
    std::vector<std::pair<int64_t, int>> m_entries;  // (clock time, picture number)
};

struct Channel {
    std::shared_ptr<filters::VindaraSourcePin> pin;
    std::unique_ptr<testsupport::RendererPinHost> host;
    boost::shared_ptr<render::MediaSamplePin> renderer;
    std::unique_ptr<filters::SourcePin> thread;
    std::mutex lock;
    std::vector<std::pair<int64_t, int64_t>> shown;  // (clock time, frame time)
};

class RealTimePlay : public ::testing::Test {
protected:
    SimTicks ticks;
    std::shared_ptr<utils::Clock> inner = std::make_shared<utils::Clock>(ticks.Source());
    std::shared_ptr<utils::WaitableClock> clock = std::make_shared<utils::WaitableClock>(inner);
    std::shared_ptr<filters::TimeSynchronizer> sync = std::make_shared<filters::TimeSynchronizer>(clock);
    std::vector<std::unique_ptr<Channel>> channels;
    std::unique_ptr<ClockDriver> driver;

    void TearDown() override {
        for (auto& ch : channels) ch->thread.reset();
        driver.reset();
    }

    Channel& AddChannel(const boost::shared_ptr<filters::IVideoSource>& source) {
        channels.push_back(std::make_unique<Channel>());
        Channel& ch = *channels.back();
        ch.pin = std::make_shared<filters::VindaraSourcePin>();
        ch.pin->SetSource(source, sync, "");
        ch.host = std::make_unique<testsupport::RendererPinHost>();
        ch.renderer = ch.host->Pin();
        ch.host->onFrame = [this, &ch] {
            std::lock_guard<std::mutex> lock(ch.lock);
            ch.shown.emplace_back(clock->GetTime(), ch.renderer->GetSample().GetTime());
        };
        ch.thread = std::make_unique<filters::SourcePin>(ch.pin);
        ch.thread->SetRendererPin(ch.renderer);
        return ch;
    }

    void PlayToTheEnd() {
        driver = std::make_unique<ClockDriver>(ticks, clock, 0);
        for (auto& ch : channels) ch->pin->Resume();
        for (auto& ch : channels) ch->thread->SetState(filters::SourcePin::kRun, false);
        ASSERT_TRUE(Eventually(
            [&] {
                return std::all_of(channels.begin(), channels.end(),
                                   [](const auto& ch) { return ch->thread->GetState() == filters::SourcePin::kIdle; });
            },
            std::chrono::seconds(60)))
            << sync->Describe();
    }
};

}  // namespace

// Each channel's step to its next frame (its decoding) meets the other
// channels' steps to the same frame: none waits for another to finish
// decoding before it starts its own. Every frame is still presented, in
// time order per channel.
TEST_F(RealTimePlay, ChannelsDecodeTheirNextFramesAtTheSameTime) {
    constexpr int kChannels = 4;
    constexpr int kFrames = 12;
    Rendezvous meeting(kChannels);
    for (int c = 0; c < kChannels; ++c)
        AddChannel(boost::make_shared<DecodingScriptedSource>(Times(kFrames), meeting, c));
    PlayToTheEnd();

    EXPECT_EQ(meeting.Missed(), 0) << "a channel decoded alone";
    EXPECT_EQ(meeting.Meetings(), size_t(kFrames - 1));
    for (auto& ch : channels) {
        std::lock_guard<std::mutex> lock(ch->lock);
        ASSERT_FALSE(ch->shown.empty());
        for (size_t i = 1; i < ch->shown.size(); ++i) {
            EXPECT_GT(ch->shown[i].second, ch->shown[i - 1].second);
            EXPECT_GE(ch->shown[i].first, ch->shown[i - 1].first);
        }
        EXPECT_EQ(ch->shown.back().second, Times(kFrames).back());
        EXPECT_EQ(int64_t(ch->shown.size()) + ch->pin->GetSkippedFrames(), kFrames);
    }
}

// The device takes 100 ms of clock time for each picture, longer than the
// 40 ms between frames. The time line runs with the clock at every speed
// once the first frame past the start has set it:
// each picture shown is the one due when it was taken, the frames between
// are skipped and counted, and the recording lasts its own length of clock
// time, not the device's time for every frame.
TEST_F(RealTimePlay, ASlowDeviceMakesThePinSkipLateFramesNotSlowTheTimeLine) {
    struct Case {
        double rate;
        uint32_t deviceTicks;  // real milliseconds a picture takes
    };
    for (const Case& c : {Case{1.0, 100}, Case{2.0, 100}, Case{0.5, 200}}) {
        SCOPED_TRACE(c.rate);
        TearDown();
        channels.clear();
        sync = std::make_shared<filters::TimeSynchronizer>(clock);
        clock->SetRate(c.rate);
        constexpr int kFrames = 100;  // 4 s of recording
        auto source = boost::make_shared<ScriptedSource>(
            Times(kFrames), std::vector<filters::RecordPeriod>{{kStart, kFrames * kStep}});
        Channel& ch = AddChannel(source);
        std::vector<int64_t> timeLine;  // the pin's play time when a picture is taken
        ch.host->onFrame = [this, &ch, c, &timeLine] {
            const int64_t takenAt = clock->GetTime();
            const int64_t played = ch.pin->GetCurrentTime();
            ticks.Advance(c.deviceTicks);
            std::lock_guard<std::mutex> lock(ch.lock);
            ch.shown.emplace_back(takenAt, ch.renderer->GetSample().GetTime());
            timeLine.push_back(played);
        };
        const int64_t played0 = clock->GetTime();
        PlayToTheEnd();
        const int64_t devicePerFrame = int64_t(c.deviceTicks * c.rate);

        std::lock_guard<std::mutex> lock(ch.lock);
        ASSERT_GE(ch.shown.size(), 3u);
        // The first frame past the start sets the time line; from then on
        // it is the clock's.
        const int64_t anchor = ch.shown[1].first - (ch.shown[1].second - kStart);
        for (size_t i = 1; i < ch.shown.size(); ++i) {
            const auto& [taken, frame] = ch.shown[i];
            // Never shown before due; nor behind the clock by a whole frame,
            // but for the last one, which has no later frame to give way to.
            EXPECT_LE(frame - kStart, taken - anchor) << "frame " << frame - kStart;
            if (i + 1 < ch.shown.size()) {
                EXPECT_GE(frame - kStart, taken - anchor - kStep) << "frame " << frame - kStart;
                // The time line shows the clock's time.
                EXPECT_EQ(timeLine[i] - kStart, taken - anchor) << "frame " << frame - kStart;
            }
        }
        // The whole recording took its own length (plus the first and last
        // pictures).
        EXPECT_LE(clock->GetTime() - played0, kFrames * kStep + 2 * devicePerFrame);
        const int64_t shown = int64_t(ch.shown.size());
        EXPECT_LE(shown, kFrames * kStep / devicePerFrame + 2);
        EXPECT_EQ(shown + ch.pin->GetSkippedFrames(), kFrames);
        EXPECT_GT(ch.pin->GetSkippedFrames(), kFrames / 2);
    }
}

// The sample's picture is what the screen shows: a pin that has its next
// frame ready early must not put it there before it is due. At x1 on an idle
// machine every frame reaches the sample once, in order, exactly when due,
// and none is skipped.
TEST_F(RealTimePlay, EachFrameReachesTheSampleOnceInOrderWhenDue) {
    constexpr int kFrames = 25;
    Channel& ch = AddChannel(boost::make_shared<NumberedSource>(Times(kFrames)));
    auto log = boost::make_shared<CommitLog>(clock);
    ch.renderer->GetSample().SetTexture(log);
    PlayToTheEnd();

    std::lock_guard<std::mutex> lock(ch.lock);
    const std::vector<std::pair<int64_t, int>> commits = log->Entries();
    ASSERT_EQ(int(ch.shown.size()), kFrames);
    ASSERT_EQ(int(commits.size()), kFrames);
    EXPECT_EQ(ch.pin->GetSkippedFrames(), 0);
    const int64_t anchor = ch.shown.front().first;
    for (int k = 0; k < kFrames; ++k) {
        const auto& [committedAt, number] = commits[size_t(k)];
        EXPECT_EQ(number, k + 1) << "commit " << k;
        EXPECT_EQ(committedAt, anchor + k * kStep) << "picture " << number << " replaced the one on screen";
        EXPECT_EQ(ch.shown[size_t(k)].second, Times(kFrames)[size_t(k)]);
        EXPECT_EQ(ch.shown[size_t(k)].first, anchor + k * kStep);
    }
}
