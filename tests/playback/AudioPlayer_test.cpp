#include "playback/AudioPlayer.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "support/MediaFiles.h"
#include "support/TempDir.h"

namespace {

using filters::AudioFormat;
using filters::AudioPlayer;
using filters::AudioRequest;

// What the fake output saw and what the test makes it do. Its played time
// is moved by the test; it takes no more than its capacity beyond that.
struct SinkState {
    std::mutex lock;
    std::vector<AudioFormat> created;
    int starts = 0;
    int stops = 0;
    std::vector<uint8_t> bytes;
    int64_t bytesAtStart = 0;
    int32_t capacity = 1 << 20;
    int32_t period = 1024;
    int64_t playedUs = 0;
    bool failCreate = false;
    bool failStart = false;
    bool error = false;
    double volume = -1.0;
    bool started = false;
};

class FakeSink final : public filters::IAudioSink {
public:
    explicit FakeSink(std::shared_ptr<SinkState> state) : m_state(std::move(state)) {}

    bool Create(const AudioFormat& format) override
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        m_state->started = false;
        if (m_state->failCreate)
            return false;
        m_state->created.push_back(format);
        m_format = format;
        return true;
    }
    bool Start() override
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        if (m_state->failStart)
            return false;
        ++m_state->starts;
        m_state->started = true;
        m_state->playedUs = 0;
        m_state->bytesAtStart = static_cast<int64_t>(m_state->bytes.size());
        return true;
    }
    void Stop() override
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        if (m_state->started)
            ++m_state->stops;
        m_state->started = false;
    }
    void Close() override { Stop(); }
    int32_t BytesFree() override
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        const int64_t bytesPerMs =
            static_cast<int64_t>(m_format.channels) * m_format.bytesPerSample * m_format.sampleRate / 1000;
        const int64_t queued = static_cast<int64_t>(m_state->bytes.size()) - m_state->bytesAtStart -
                               m_state->playedUs / 1000 * bytesPerMs;
        return static_cast<int32_t>(std::max<int64_t>(0, m_state->capacity - std::max<int64_t>(0, queued)));
    }
    int32_t PeriodSize() override { return m_state->period; }
    int64_t Write(const uint8_t* data, int64_t size) override
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        m_state->bytes.insert(m_state->bytes.end(), data, data + size);
        return size;
    }
    int64_t ProcessedUSecs() override
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        return m_state->playedUs;
    }
    bool HasError() override
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        return m_state->error;
    }
    void SetVolume(double volume) override
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        m_state->volume = volume;
    }

private:
    std::shared_ptr<SinkState> m_state;
    AudioFormat m_format;
};

// A player on a fake sink and simulated ticks, whose audio passes the test
// runs itself.
struct Rig {
    explicit Rig(bool thread = false)
        : state(std::make_shared<SinkState>())
        , player(std::make_unique<FakeSink>(state), [this] { return ticks.load(); }, thread)
    {
    }
    int64_t Clock() { return player.GetExternalClock()->GetTime(); }
    void Passes(int n)
    {
        for (int i = 0; i < n; ++i)
            player.RunPass();
    }
    size_t Received()
    {
        std::lock_guard<std::mutex> guard(state->lock);
        return state->bytes.size();
    }

    std::atomic<uint32_t> ticks{1000};
    std::shared_ptr<SinkState> state;
    AudioPlayer player;
};

std::string MakeSine(const gavex_test::TempDir& dir, const std::string& name, double seconds, int rate, int channels,
                     const std::vector<std::string>& codec)
{
    const std::string path = dir / name;
    std::vector<std::string> args = {"-f", "lavfi", "-i",
                                     "sine=frequency=440:sample_rate=" + std::to_string(rate) +
                                         ":duration=" + std::to_string(seconds),
                                     "-ac", std::to_string(channels)};
    args.insert(args.end(), codec.begin(), codec.end());
    args.push_back(path);
    EXPECT_TRUE(gavex_test::RunFfmpeg(args)) << path;
    return path;
}

std::vector<uint8_t> DecodeRaw(const gavex_test::TempDir& dir, const std::string& input, const std::string& format)
{
    const std::string out = dir / ("raw-" + format);
    EXPECT_TRUE(gavex_test::RunFfmpeg({"-i", input, "-f", format, out}));
    return gavex_test::ReadFileBytes(out);
}

TEST(ConvertPlanarFloatToS16, ScalesTruncatesAndClips)
{
    const float left[] = {0.5f, -0.5f, 1.5f, -1.5f, 1.0f, -1.0f, 0.00002f, std::numeric_limits<float>::quiet_NaN()};
    const float right[] = {0.25f, 0.0f, 40000.0f, -40000.0f, 0.99999f, -0.99999f, -0.00002f, 0.0f};
    const float* planes[] = {left, right};
    int16_t out[16] = {};
    filters::ConvertPlanarFloatToS16(planes, 2, 8, out);
    const int16_t expected[16] = {16383,  8191,  -16383, 0,      32767, 32767, -32768, -32768,
                                  32767,  32766, -32767, -32766, 0,     0,     0,      0};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(out[i], expected[i]) << "index " << i;
}

// Each format plays in the output format of the table, and the sink gets the
// file's samples interleaved.
TEST(AudioPlayer, SampleFormatsReachTheSinkAsTheTableSays)
{
    gavex_test::TempDir dir("audio-formats");
    struct Case {
        std::string name;
        int rate;
        int channels;
        std::vector<std::string> codec;
        AudioFormat expected;
        std::string raw;  // ffmpeg raw format of the expected samples
        size_t delivered;  // bytes up to the stream's end; 0: all of them
    };
    const std::vector<Case> cases = {
        {"fltp.wv", 48000, 2, {"-c:a", "wavpack", "-sample_fmt", "fltp"}, {2, 48000, 2, true}, "f32le", 0},
        {"s16.wav", 44100, 1, {"-c:a", "pcm_s16le"}, {1, 44100, 2, true}, "s16le", 0},
        // NUT records the last packet's start as the stream's end (7,168 of
        // 8,000 samples).
        {"u8p.nut", 8000, 2, {"-c:a", "pcm_s8_planar"}, {2, 8000, 1, false}, "u8", 7168 * 2},
        {"u8.wav", 8000, 1, {"-c:a", "pcm_u8"}, {1, 8000, 1, false}, "u8", 0},
        {"s32p.wv", 22050, 2, {"-c:a", "wavpack", "-sample_fmt", "s32p"}, {2, 22050, 4, true}, "s32le", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = MakeSine(dir, c.name, 1.0, c.rate, c.channels, c.codec);
        std::vector<uint8_t> expected = DecodeRaw(dir, path, c.raw);
        if (c.raw == "f32le") {
            std::vector<float> samples(expected.size() / 4);
            std::memcpy(samples.data(), expected.data(), samples.size() * 4);
            // Interleaved floats: one plane per sample, channel count 1.
            std::vector<int16_t> converted(samples.size());
            for (size_t i = 0; i < samples.size(); ++i) {
                const float* plane = &samples[i];
                filters::ConvertPlanarFloatToS16(&plane, 1, 1, &converted[i]);
            }
            expected.assign(reinterpret_cast<const uint8_t*>(converted.data()),
                            reinterpret_cast<const uint8_t*>(converted.data() + converted.size()));
        }
        ASSERT_FALSE(expected.empty());
        if (c.delivered != 0)
            expected.resize(c.delivered);

        Rig rig;
        rig.player.Play({path, "", 0, 1000}, {}, true);
        for (int i = 0; i < 50 && rig.Received() < expected.size(); ++i)
            rig.Passes(1);
        std::lock_guard<std::mutex> guard(rig.state->lock);
        ASSERT_EQ(rig.state->created.size(), 1u);
        EXPECT_EQ(rig.state->created[0], c.expected);
        ASSERT_EQ(rig.state->bytes.size(), expected.size());
        EXPECT_TRUE(rig.state->bytes == expected);
        EXPECT_EQ(rig.state->volume, 0.0);
    }
}

TEST(AudioPlayer, SoundShorterThanItsRequest)
{
    gavex_test::TempDir dir("audio-short");
    const std::string file = MakeSine(dir, "ten.wav", 10.0, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string other = MakeSine(dir, "other.wav", 2.0, 8000, 1, {"-c:a", "pcm_s16le"});
    struct Case {
        int64_t start;
        int64_t segmentLength;
        size_t segments;
    };
    // 9,300 ms of sound: the rest of the queue goes and the sound maps onto
    // the full request; 9,600 ms: within the tolerance, kept as it is, and
    // the next file follows it.
    for (const Case& c : {Case{700, 10000, 1}, Case{400, 9600, 2}}) {
        SCOPED_TRACE(c.start);
        Rig rig;
        rig.player.Play({file, "", c.start, 10000}, {other, "", 0, 2000}, true);
        rig.Passes(2);
        const auto segments = rig.player.GetSegments();
        ASSERT_EQ(segments.size(), c.segments);
        EXPECT_EQ(segments[0].outputStart, 0);
        EXPECT_EQ(segments[0].length, c.segmentLength);
        EXPECT_EQ(segments[0].mediaStart, 0);
        EXPECT_EQ(segments[0].requestedLength, 10000);
        if (c.segments == 2) {
            EXPECT_EQ(segments[1].outputStart, 9600);
            EXPECT_EQ(segments[1].length, 2000);
            EXPECT_EQ(segments[1].mediaStart, 10000);
            EXPECT_EQ(segments[1].requestedLength, 2000);
        }

        // Halfway through the sound the clock is halfway through the request.
        rig.state->playedUs = c.segmentLength * 1000 / 2;
        rig.Passes(1);
        EXPECT_EQ(rig.Clock(), c.segmentLength / 2 * 10000 / c.segmentLength);
    }
}

// The clock follows the sink's played time over two files of 30 s, stands
// while the sink stalls, and runs on its own once all sound is out.
TEST(AudioPlayer, ClockFollowsPlayedSound)
{
    gavex_test::TempDir dir("audio-clock");
    const std::string a = MakeSine(dir, "a.wav", 30.0, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string b = MakeSine(dir, "b.wav", 30.0, 8000, 1, {"-c:a", "pcm_s16le"});
    Rig rig;
    rig.state->capacity = 16000;  // one second of sound
    rig.player.Play({a, "", 0, 30000}, {b, "", 0, 30000}, true);
    EXPECT_EQ(rig.Clock(), 0);
    int64_t worst = 0;
    for (int64_t played = 0; played <= 60000; played += 40) {
        {
            std::lock_guard<std::mutex> guard(rig.state->lock);
            rig.state->playedUs = played * 1000;
        }
        rig.ticks += 40;
        rig.Passes(1);
        if (played >= 100 && played < 59000)
            worst = std::max(worst, std::abs(rig.Clock() - played));
        if (played == 20000) {
            // A stall: the sink plays nothing while the ticks go on.
            const int64_t stood = rig.Clock();
            for (int i = 0; i < 25; ++i) {
                rig.ticks += 40;
                rig.Passes(1);
            }
            EXPECT_EQ(rig.Clock(), stood);
        }
    }
    EXPECT_LT(worst, 40) << "drift over one frame";
    EXPECT_EQ(rig.Received(), 60u * 16000u);
    EXPECT_EQ(rig.state->created.size(), 1u);

    // All sound written and the queue empty: the output stops and the clock
    // runs on its own from where the sound left it.
    rig.Passes(3);
    EXPECT_EQ(rig.state->stops, 1);
    const int64_t left = rig.Clock();
    rig.ticks += 500;
    EXPECT_EQ(rig.Clock(), left + 500);
}

TEST(AudioPlayer, SameRequestAgainRestartsNothing)
{
    gavex_test::TempDir dir("audio-same");
    // Longer than the sound decoded ahead, so that the first stays queued.
    const std::string a = MakeSine(dir, "a.wav", 10.0, 48000, 2, {"-c:a", "pcm_s16le"});
    const std::string b = MakeSine(dir, "b.wav", 10.0, 48000, 2, {"-c:a", "pcm_s16le"});
    const std::string c = MakeSine(dir, "c.wav", 10.0, 48000, 2, {"-c:a", "pcm_s16le"});
    Rig rig;
    rig.state->capacity = 16000;
    rig.player.Play({a, "", 0, 10000}, {b, "", 0, 10000}, true);
    rig.Passes(2);
    rig.state->playedUs = 500000;
    rig.Passes(1);
    EXPECT_EQ(rig.Clock(), 500);

    rig.player.Play({a, "", 0, 10000}, {b, "", 0, 10000}, false);
    // The next request becoming the current one restarts nothing either.
    rig.player.Play({b, "", 0, 10000}, {c, "", 0, 10000}, false);
    rig.Passes(2);
    EXPECT_EQ(rig.state->starts, 1);
    EXPECT_EQ(rig.state->stops, 0);
    EXPECT_EQ(rig.Clock(), 500);
    EXPECT_EQ(rig.player.QueuedRequests(), 3u);

    // A restart empties everything; time stands until the new sound plays.
    rig.player.Play({c, "", 1000, 2000}, {}, true);
    rig.ticks += 100;
    rig.Passes(2);
    EXPECT_EQ(rig.state->stops, 1);
    EXPECT_EQ(rig.state->starts, 2);
    EXPECT_EQ(rig.player.QueuedRequests(), 1u);
    EXPECT_EQ(rig.Clock(), 500);
    rig.state->playedUs = 300000;
    rig.Passes(1);
    EXPECT_EQ(rig.Clock(), 800);
}

// Sound that cannot play leaves the pictures on the clock's own time.
TEST(AudioPlayer, SoundThatCannotPlayIsPassedOver)
{
    gavex_test::TempDir dir("audio-fail");
    const std::string good = MakeSine(dir, "good.wav", 3.0, 8000, 1, {"-c:a", "pcm_s16le"});
    const std::string flt = MakeSine(dir, "float.wav", 3.0, 8000, 1, {"-c:a", "pcm_f32le"});
    enum Failure { kNoOutput, kNoStart, kLaterError, kUnknownFormat, kMissingFile };
    for (Failure failure : {kNoOutput, kNoStart, kLaterError, kUnknownFormat, kMissingFile}) {
        SCOPED_TRACE(failure);
        Rig rig;
        rig.state->capacity = 16000;
        rig.state->failCreate = failure == kNoOutput;
        rig.state->failStart = failure == kNoStart;
        const std::string path = failure == kUnknownFormat ? flt
                                 : failure == kMissingFile ? dir / "missing.wav"
                                                           : good;
        rig.player.Play({path, "", 0, 3000}, {}, true);
        rig.Passes(2);
        if (failure == kLaterError) {
            rig.state->playedUs = 300000;
            rig.Passes(1);
            EXPECT_EQ(rig.Clock(), 300);
            rig.state->error = true;
        }
        rig.Passes(2);
        const int64_t now = rig.Clock();
        rig.ticks += 200;
        EXPECT_EQ(rig.Clock(), now + 200) << "the clock does not run on its own";
        EXPECT_EQ(rig.player.QueuedRequests(), 0u);
        if (failure == kUnknownFormat || failure == kMissingFile) {
            EXPECT_TRUE(rig.state->created.empty());
        }
    }
}

// The real audio thread plays, takes a stop and ends with the player.
TEST(AudioPlayer, AudioThreadPlaysAndStops)
{
    gavex_test::TempDir dir("audio-thread");
    const std::string a = MakeSine(dir, "a.wav", 2.0, 8000, 1, {"-c:a", "pcm_s16le"});
    Rig rig(true);
    rig.player.SetVolume(0.5);
    rig.player.Play({a, "", 0, 2000}, {}, true);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (rig.Received() < 32000u && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(rig.Received(), 32000u);
    {
        std::lock_guard<std::mutex> guard(rig.state->lock);
        EXPECT_EQ(rig.state->volume, 0.5);
    }
    rig.player.Stop();
    const int64_t now = rig.Clock();
    rig.ticks += 100;
    EXPECT_EQ(rig.Clock(), now + 100);
}

}  // namespace
