// Recorder keys and the microphone ids of a channel's settings message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/fs/RecorderIds.h"
#include "base/Messages.h"

namespace {

TEST(RecorderIdsTest, RecorderKey) {
    EXPECT_EQ(MakeRecorderKey(7, "main"), "recorder: channel = 7, id = main");
    EXPECT_EQ(MakeRecorderKey(7, ""), "recorder: channel = 7, id = (null)");
    EXPECT_EQ(MakeRecorderKey(-1, "a b"), "recorder: channel = -1, id = a b");
}

TEST(RecorderIdsTest, MicrophoneIds) {
    using Params = std::vector<std::pair<std::string, std::string>>;
    const struct {
        const char* what;
        Params params;
        std::vector<std::string> ids;
    } cases[] = {
        {"no count: up to the first missing",
         {{"AUDIO.mic_id.0", "m0"}, {"AUDIO.mic_id.1", "m1"}, {"AUDIO.mic_id.3", "m3"}},
         {"m0", "m1"}},
        {"no count: up to the first empty",
         {{"AUDIO.mic_id.0", "m0"}, {"AUDIO.mic_id.1", ""}, {"AUDIO.mic_id.2", "m2"}},
         {"m0"}},
        {"count 3, value 1 empty",
         {{"AUDIO.mic_id.count", "3"}, {"AUDIO.mic_id.0", "a"}, {"AUDIO.mic_id.1", ""}, {"AUDIO.mic_id.2", "c"}},
         {"a", "", "c"}},
        {"count above the values", {{"AUDIO.mic_id.count", "2"}, {"AUDIO.mic_id.0", "a"}}, {"a", ""}},
        {"count 0 reads as none given", {{"AUDIO.mic_id.count", "0"}, {"AUDIO.mic_id.0", "a"}}, {"a"}},
        {"negative count reads as none given", {{"AUDIO.mic_id.count", "-5"}, {"AUDIO.mic_id.0", "a"}}, {"a"}},
        {"count not a number", {{"AUDIO.mic_id.count", "x"}, {"AUDIO.mic_id.0", "a"}}, {"a"}},
        {"nothing", {}, {}},
    };
    for (const auto& c : cases) {
        Msg message;
        for (const auto& [name, value] : c.params) message.SetParam(name, value);
        std::vector<std::string> ids = {"kept"};
        GetAudioMicIds(message, ids);
        std::vector<std::string> expected = {"kept"};
        expected.insert(expected.end(), c.ids.begin(), c.ids.end());
        EXPECT_EQ(ids, expected) << c.what;
    }
}

TEST(RecorderIdsTest, AHugeCountIsBounded) {
    Msg message;
    message.SetParam("AUDIO.mic_id.count", "2147483647");
    std::vector<std::string> ids;
    GetAudioMicIds(message, ids);
    EXPECT_EQ(ids.size(), static_cast<size_t>(kMaxMicIds));
}

}  // namespace
