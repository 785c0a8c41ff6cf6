#include "playback/SourcePin.h"

#include <atomic>
#include <future>
#include <stdexcept>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "PlaybackTestSupport.h"
#include "config/QApplicationSettings.h"
#include "media/MediaSample.h"
#include "playback/Clocks.h"
#include "playback/RateMeter.h"
#include "playback/TimeSynchronizer.h"
#include "render/Titles.h"
#include "support/RendererPinHost.h"

using playbacktest::Eventually;
using playbacktest::ScriptedSource;
using playbacktest::SimTicks;

namespace {

constexpr int64_t kStart = 1000;
constexpr int64_t kStep = 40;

std::vector<int64_t> Times(int count, int64_t start = kStart, int64_t step = kStep) {
    std::vector<int64_t> t;
    for (int i = 0; i < count; ++i) t.push_back(start + i * step);
    return t;
}

class PinTest : public ::testing::Test {
protected:
    SimTicks ticks;
    std::shared_ptr<utils::Clock> inner = std::make_shared<utils::Clock>(ticks.Source());
    std::shared_ptr<utils::WaitableClock> clock = std::make_shared<utils::WaitableClock>(inner);
    std::shared_ptr<filters::TimeSynchronizer> sync = std::make_shared<filters::TimeSynchronizer>(clock);
    boost::shared_ptr<ScriptedSource> source =
        boost::make_shared<ScriptedSource>(Times(50), std::vector<filters::RecordPeriod>{{kStart, 50 * kStep}});
    filters::VindaraSourcePin pin;
    render::ImageMediaSample sample;
    const int32_t noSize[2] = {-1, -1};

    void SetUp() override { pin.SetSource(source, sync, "OpenGL test device"); }
    void AdvanceClock(int64_t ms) {
        const int64_t target = clock->GetTime() + ms;
        while (clock->GetTime() < target) ticks.Advance(1);
        clock->Poke();
    }
};

// Frames at the renderer pin's size, and back to the defaults afterwards.
struct SettingsGuard {
    SettingsGuard() { QApplicationSettings::Instance().Antialiasing = false; }
    ~SettingsGuard() {
        QApplicationSettings::Instance().Debug = false;
        QApplicationSettings::Instance().Antialiasing = true;
    }
};

}  // namespace

TEST_F(PinTest, DurationSpansTheRecordedPeriods) {
    auto gapped = boost::make_shared<ScriptedSource>(Times(3),
                                                     std::vector<filters::RecordPeriod>{{1000, 500}, {3000, 1000}});
    filters::VindaraSourcePin p;
    EXPECT_EQ(p.GetDuration(), 0);
    EXPECT_FALSE(p.HasSource());
    p.SetSource(gapped, nullptr, "");  // a synchronizer of its own
    EXPECT_TRUE(p.HasSource());
    EXPECT_EQ(p.GetDuration(), 3000);
    ASSERT_NE(p.GetSynchronizer(), nullptr);
    EXPECT_EQ(p.GetSynchronizer()->GetStartPosition(), 1000);
}

TEST_F(PinTest, SeekClampsToTheRecordingAndKeepsTheSourceInsideTheCurrentFrame) {
    struct Case {
        int64_t seek;
        bool moves;
        int64_t position;
    };
    // The source starts at its first frame (1000, next 1040).
    const Case cases[] = {
        {1020, false, 1020}, {1000, false, 1000}, {500, false, 1000},
        {1040, true, 1040},  {9999, true, 3000},
        {3000, true, 3000},  // at the last frame (no next one) the source is always sought
    };
    for (const auto& c : cases) {
        const int before = source->seeks;
        pin.Seek(c.seek);
        EXPECT_EQ(source->seeks - before, c.moves ? 1 : 0) << c.seek;
        EXPECT_EQ(pin.GetPosition(), c.position) << c.seek;
        EXPECT_EQ(sync->GetStartPosition(), c.position) << c.seek;
    }
}

TEST_F(PinTest, PausedAfterASeekShowsFramesUpToTheTargetThenStops) {
    pin.Seek(1130);  // frame 1120
    EXPECT_EQ(pin.ProcessNextFrame(&sample, noSize), 0);
    EXPECT_EQ(sample.Time(), 1120);
    EXPECT_EQ(sample.GetTimeOffset(), 3600);
    EXPECT_EQ(pin.ProcessNextFrame(&sample, noSize), 2);  // 1160 lies beyond the target
    EXPECT_EQ(sample.Time(), 1120);
    EXPECT_EQ(pin.GetPosition(), 1130);

    // Resumed, it plays on from there.
    EXPECT_TRUE(pin.Resume());
    EXPECT_FALSE(pin.Resume());
    AdvanceClock(1000);
    EXPECT_EQ(pin.ProcessNextFrame(&sample, noSize), 0);
    EXPECT_EQ(sample.Time(), 1160);  // the frame the stopped call took
    EXPECT_TRUE(pin.Pause());
    EXPECT_FALSE(pin.Pause());
}

TEST_F(PinTest, AFrameDeclinedWhilePausedIsTheFirstOneShownOnPlay) {
    // Just given its source, paused, nothing pending: the first frame is
    // not shown yet, and not lost either.
    EXPECT_EQ(pin.ProcessNextFrame(&sample, noSize), 2);
    EXPECT_EQ(pin.ProcessNextFrame(&sample, noSize), 2);
    EXPECT_TRUE(pin.Resume());
    AdvanceClock(1000);
    EXPECT_EQ(pin.ProcessNextFrame(&sample, noSize), 0);
    EXPECT_EQ(sample.Time(), kStart);
    EXPECT_EQ(pin.ProcessNextFrame(&sample, noSize), 0);
    EXPECT_EQ(sample.Time(), kStart + kStep);
    pin.Pause();
}

TEST_F(PinTest, StepsBackToTheFrameBeforeTheLastPresentedOne) {
    pin.Seek(1200);
    ASSERT_EQ(pin.ProcessNextFrame(&sample, noSize), 0);
    EXPECT_EQ(pin.GetAdjacentFrameTime(true), 1240);
    EXPECT_EQ(pin.GetAdjacentFrameTime(false), 1160);

    // At the first frame the backward steps do not move: its own time.
    pin.Seek(1000);
    ASSERT_EQ(pin.ProcessNextFrame(&sample, noSize), 0);
    EXPECT_EQ(pin.GetAdjacentFrameTime(false), 1000);
}

TEST_F(PinTest, TitleLineTwoCarriesTheInformationTextOnlyInDebugMode) {
    SettingsGuard guard;
    auto titles = boost::make_shared<render::Titles>();
    pin.SetTitles(titles);
    ASSERT_TRUE(pin.Resume());
    titles->SetTitleText(2, L"stale");
    ASSERT_EQ(pin.ProcessNextFrame(&sample, noSize), 0);
    EXPECT_EQ(titles->FindTitle(2)->GetText(), L"");
    EXPECT_TRUE(sample.IsSigned());
    EXPECT_EQ(source->updateTitles.load(), 1);

    QApplicationSettings::Instance().Debug = true;
    std::wstring text;
    for (int i = 1; i < 30; ++i) {
        AdvanceClock(kStep);
        ASSERT_EQ(pin.ProcessNextFrame(&sample, noSize), 0);
        text = titles->FindTitle(2)->GetText();
    }
    const std::string narrow(text.begin(), text.end());
    EXPECT_NE(narrow.find("Size: 8x8\n"), std::string::npos) << narrow;
    EXPECT_NE(narrow.find("Codec: H264 \n"), std::string::npos) << narrow;
    EXPECT_NE(narrow.find("Compressed size Cur/Max: 2.0/2.0 kBytes\n"), std::string::npos) << narrow;
    EXPECT_NE(narrow.find("Uncompressed size: 0.1 kBytes\n"), std::string::npos) << narrow;
    // Key frames every 25 frames of the source.
    EXPECT_NE(narrow.find("Key frame: No, period: 25\n"), std::string::npos) << narrow;
    EXPECT_NE(narrow.find("Timestamp UTC: 1970-01-01 00:00:02.160000\n"), std::string::npos) << narrow;
    EXPECT_NE(narrow.find("Timestamp source: "), std::string::npos) << narrow;
    EXPECT_EQ(narrow.substr(narrow.size() - 18), "OpenGL test device");
}

TEST_F(PinTest, FastPlayJumpsToTheCommonTimeLineWhenMoreThan50msBehind) {
    struct Case {
        int64_t reference;
        bool jumps;
    };
    const Case cases[] = {{300, true}, {50, false}, {51, true}};
    for (const auto& c : cases) {
        SimTicks t;
        auto in = std::make_shared<utils::Clock>(t.Source());
        auto ck = std::make_shared<utils::WaitableClock>(in);
        auto sy = std::make_shared<filters::TimeSynchronizer>(ck);
        auto src = boost::make_shared<ScriptedSource>(Times(50), std::vector<filters::RecordPeriod>{{kStart, 2000}});
        filters::VindaraSourcePin p;
        p.SetSource(src, sy, "");
        p.SetSkipFrames(true);
        const int other = sy->CreateClient();
        p.Resume();
        sy->Resume(other);
        while (ck->GetTime() - 1000 < c.reference) t.Advance(1);
        ck->SetRate(4.0);
        const int64_t elapsed = ck->GetTime() - 1000;
        // The other channel runs ahead and moves the common time line.
        sy->SetClientTime(other, elapsed, elapsed + 40, false);
        ASSERT_EQ(sy->GetReferenceTime(), elapsed);
        const int seeks = src->seeks;
        render::ImageMediaSample s;
        ASSERT_EQ(p.ProcessNextFrame(&s, noSize), 0) << c.reference;
        EXPECT_EQ(src->seeks - seeks, c.jumps ? 1 : 0) << c.reference;
        if (c.jumps) {
            EXPECT_EQ(src->lastSeek.load(), kStart + elapsed) << c.reference;
            EXPECT_EQ(s.Time(), kStart + elapsed / kStep * kStep) << c.reference;
        } else {
            EXPECT_EQ(s.Time(), kStart);
        }
        p.Pause();
    }
}

namespace {

}  // namespace

TEST_F(PinTest, AFailingFrameFinishesTheClientAndIdlesTheThreadWhichStaysAlive) {
    auto vpin = std::make_shared<filters::VindaraSourcePin>();
    auto other = std::make_shared<filters::VindaraSourcePin>();
    auto src2 = boost::make_shared<ScriptedSource>(Times(50), std::vector<filters::RecordPeriod>{{kStart, 2000}});
    vpin->SetSource(source, sync, "");
    other->SetSource(src2, sync, "");
    testsupport::RendererPinHost host(true, true);  // no memory for pictures
    filters::SourcePin thread(vpin);
    thread.SetRendererPin(host.Pin());
    // Pin 1 is client 0 (the master); pin 2 reports a frame later than the
    // failing pin's, so it waits for the failing pin's turn.
    ASSERT_EQ(vpin->GetClientIndex(), 1);
    sync->Resume(0);
    sync->SetClientFinished(0);
    ASSERT_TRUE(vpin->Resume());
    ASSERT_TRUE(other->Resume());
    auto waiting = std::async(std::launch::async, [&] {
        render::ImageMediaSample s;
        other->Seek(1400);
        return other->ProcessNextFrame(&s, noSize);
    });
    thread.SetState(filters::SourcePin::kRun, false);
    // The failing pin draws its picture when it is due, and fails then; the
    // other pin is no longer held back: its frame is due once the clock
    // reaches it.
    AdvanceClock(1000);
    ASSERT_TRUE(Eventually([&] { return thread.GetState() == filters::SourcePin::kIdle; }));
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), 0);
    // The thread survived: further commands are acknowledged (each pass
    // ends when its frame is due and fails to draw).
    for (int pass = 0; pass < 2; ++pass) {
        auto acknowledged = std::async(std::launch::async, [&] { thread.SetState(filters::SourcePin::kRun, true); });
        ASSERT_TRUE(Eventually([&] {
            AdvanceClock(kStep);
            return acknowledged.wait_for(std::chrono::milliseconds(1)) == std::future_status::ready;
        }));
    }
    EXPECT_EQ(host.Frames(), 0);
    EXPECT_FALSE(host.Pin()->HasFrame());
}

namespace {

// A pin with nothing to deliver whose first pass holds until released.
class HeldPin : public filters::ISourcePin {
public:
    std::atomic<int> passes{0};
    std::promise<void> release;

    bool HasSource() override { return true; }
    void Reset(bool, int64_t) override {}
    int32_t ProcessNextFrame(render::IMediaSample*, const int32_t*) override {
        if (passes++ == 0) m_released.wait();
        return 2;
    }
    int64_t GetCurrentTime() override { return 0; }
    int64_t GetDuration() override { return 0; }
    int64_t GetAdjacentFrameTime(bool) override { return 0; }
    void Seek(int64_t) override {}
    bool Pause() override { return false; }
    bool Resume() override { return false; }

private:
    std::shared_future<void> m_released = release.get_future().share();
};

}  // namespace

TEST_F(PinTest, ACommandToRunDuringADeclinedPassIsServedBeforeTheThreadIdles) {
    // A resume arriving while the thread finishes a pass that declined its
    // frame (paused after a seek) must start another pass: losing it leaves
    // the resumed pin silent and every other channel waiting for it.
    auto held = std::make_shared<HeldPin>();
    testsupport::RendererPinHost host(true, true);
    filters::SourcePin thread(held);
    thread.SetRendererPin(host.Pin());
    thread.SetState(filters::SourcePin::kRun, false);
    ASSERT_TRUE(Eventually([&] { return held->passes == 1; }));
    thread.SetState(filters::SourcePin::kRun, false);
    held->release.set_value();
    ASSERT_TRUE(Eventually([&] { return thread.GetState() == filters::SourcePin::kIdle; }));
    EXPECT_EQ(held->passes, 2);
}

TEST_F(PinTest, ThreadPresentsIntoTheRendererPinAndIdlesWithoutOne) {
    SettingsGuard guard;
    auto vpin = std::make_shared<filters::VindaraSourcePin>();
    vpin->SetSource(source, sync, "");
    filters::SourcePin thread(vpin);
    thread.SetState(filters::SourcePin::kRun, true);  // no renderer pin: idles
    EXPECT_EQ(thread.GetState(), filters::SourcePin::kIdle);

    testsupport::RendererPinHost host;
    const auto renderer = host.Pin();
    renderer->SetRect(QRect(0, 0, 4, 4));  // frames of 4 x 4 pixels
    const auto titles = renderer->GetTitles();
    thread.SetRendererPin(renderer);
    thread.Seek(1200);  // paused: shows the sought frame only
    ASSERT_TRUE(Eventually([&] { return thread.GetState() == filters::SourcePin::kIdle; }));
    EXPECT_EQ(host.Frames(), 1);
    EXPECT_EQ(renderer->GetSample().GetTime(), 1200);
    const render::TexturePtr image = renderer->GetTexture();
    EXPECT_EQ(image->GetImageSize().width(), 4);  // the renderer pin's size

    QApplicationSettings::Instance().Antialiasing = true;
    thread.Seek(1240);
    ASSERT_TRUE(Eventually([&] { return host.Frames() == 2 && thread.GetState() == filters::SourcePin::kIdle; }));
    EXPECT_EQ(image->GetImageSize().width(), 8);  // full size

    render::ImageMediaSample first, second;
    thread.RenderFrameAt(&first, &second, 1400);
    EXPECT_EQ(first.Time(), 1400);
    EXPECT_EQ(second.Time(), 1440);
    EXPECT_EQ(first.GetTitles(), titles);
    EXPECT_EQ(second.GetTitles(), titles);
}

TEST(RateMeter, RatePerSecondOverTheLast30Samples) {
    int64_t now = 0;
    RateMeter meter([&] { return now; });
    meter.Add(1);
    EXPECT_EQ(meter.GetRate(), 0);  // one sample spans nothing
    for (int i = 1; i < 100; ++i) {
        now += 40000;  // 25 per second
        meter.Add(1);
    }
    EXPECT_EQ(meter.GetRate(), 25);
    for (int i = 0; i < 31; ++i) {
        now += 20000;
        meter.Add(1);
    }
    EXPECT_EQ(meter.GetRate(), 50);
    EXPECT_EQ(meter.GetMaximum(), 50);
    for (int i = 0; i < 31; ++i) {
        now += 100000;
        meter.Add(3);
    }
    EXPECT_EQ(meter.GetRate(), 30);
    EXPECT_EQ(meter.GetMaximum(), 50);
}
