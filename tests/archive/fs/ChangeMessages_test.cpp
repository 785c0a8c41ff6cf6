// Archive change messages handed to an attached sink: ARCH_DELETE from the
// record commands and from ring cleaning, DELETE_FILE for a record without a
// sound companion, and the file-deleted notification.

#include <mutex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "HousekeepingFixture.h"
#include "archive/fs/ChangeMessages.h"

using namespace housekeeping;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

struct Sent {
    std::string type, id, action;
    Msg::Params params;
    int kind;
};
struct Deleted {
    int channel;
    std::string path;
    TSS begin, end;
};

class RecordingSink : public IArchiveMessageSink {
public:
    void OnMessage(const Event& message, int kind) override {
        std::lock_guard<std::mutex> lock(mutex);
        messages.push_back({message.GetType(), message.GetId(), message.GetAction(), message.GetParams(), kind});
    }
    void OnFileDeleted(int channel, const char* path, const TSS& begin, const TSS& end) override {
        std::lock_guard<std::mutex> lock(mutex);
        deleted.push_back({channel, path, begin, end});
    }
    std::mutex mutex;
    std::vector<Sent> messages;
    std::vector<Deleted> deleted;
};

TSS Local(int year, int month, int day, int hour, int minute, int second, int ms) {
    TSS t{};
    t.wYear = static_cast<uint16_t>(year);
    t.wMonth = static_cast<uint16_t>(month);
    t.wDay = static_cast<uint16_t>(day);
    t.wHour = static_cast<uint16_t>(hour);
    t.wMinute = static_cast<uint16_t>(minute);
    t.wSecond = static_cast<uint16_t>(second);
    t.dwMilliseconds = static_cast<uint32_t>(ms);
    return t;
}

TEST(ChangeMessageTextTest, DateAndTimeTexts) {
    const struct {
        TSS time;
        const char* date;
        const char* clock;
    } cases[] = {
        {Local(2023, 4, 5, 7, 8, 9, 10), "05-04-23", "07:08:09.010"},
        {Local(1999, 12, 31, 23, 59, 59, 999), "31-12-99", "23:59:59.999"},
        {Local(1950, 1, 2, 0, 0, 0, 0), "02-01-1950", "00:00:00.000"},
        {Local(9999, 1, 2, 24, 0, 0, 0), "", ""},
        {Local(2023, 2, 30, 12, 60, 0, 0), "", ""},
        {Local(0, 0, 0, 12, 0, 0, 1000), "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatMessageDate(c.time), c.date) << c.date;
        EXPECT_EQ(FormatMessageTime(c.time), c.clock) << c.clock;
    }
}

class ChangeMessagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(engine.Init(archive.Drives()));
        engine.SetMessageSink(sink);
    }

    Archive archive;
    FileSystem engine;
    std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
};

TEST_F(ChangeMessagesTest, ArchDeleteCarriesTheRecordAndItsRange) {
    const TSS at = Local(2023, 4, 5, 7, 8, 9, 10);
    const int64_t from = At(7, 8, 9, 10);
    const int64_t to = At(7, 9, 0, 0);
    engine.SendArchDelete(at, 50001, from, to);
    engine.SendArchDelete(at, 50000, 0, 0);
    engine.SendArchDelete(at, 7, from, 0);
    ASSERT_EQ(sink->messages.size(), 3u);

    const Sent& ranged = sink->messages[0];
    EXPECT_EQ(ranged.type, "CAM_FACECAPTURE");
    EXPECT_EQ(ranged.id, "50001");
    EXPECT_EQ(ranged.action, "ARCH_DELETE");
    EXPECT_EQ(ranged.kind, 0);
    EXPECT_EQ(ranged.params, (Msg::Params{{"fs", engine.GetName()},
                                          {"date", "05-04-23"},
                                          {"hour", "07"},
                                          {"time", "07:08:09.010"},
                                          {"manual", "1"},
                                          {"fromTime", TSS::FromUtc(from + kArchiveUnixOffsetMs).ToIsoString()},
                                          {"toTime", TSS::FromUtc(to + kArchiveUnixOffsetMs).ToIsoString()}}));

    EXPECT_EQ(sink->messages[1].type, "CAM");
    EXPECT_EQ(sink->messages[1].params,
              (Msg::Params{{"fs", engine.GetName()}, {"date", "05-04-23"}, {"hour", "07"}}));
    EXPECT_EQ(sink->messages[2].params.count("time"), 1u);
    EXPECT_EQ(sink->messages[2].params.count("fromTime"), 0u);
}

TEST_F(ChangeMessagesTest, DeleteRecordSendsArchDeleteAndTheFileDeletedNotification) {
    const Record& r = archive.Get(4);
    ASSERT_EQ(Command(engine, 2, QOR_FS::DELETE_RECORD, TimeText(r.beginMs)), 1);
    ASSERT_EQ(sink->messages.size(), 1u);  // camera 2 has no audio line: no DELETE_FILE
    const Sent& sent = sink->messages[0];
    EXPECT_EQ(sent.id, "2");
    EXPECT_EQ(sent.params.at("date"), "05-03-24");
    EXPECT_EQ(sent.params.at("hour"), "10");
    EXPECT_EQ(sent.params.at("time"), "10:30:00.000");
    EXPECT_EQ(sent.params.at("manual"), "1");
    EXPECT_EQ(sent.params.at("toTime"), TSS::FromUtc(r.beginMs + 1900 + kArchiveUnixOffsetMs).ToIsoString());

    ASSERT_EQ(sink->deleted.size(), 1u);
    EXPECT_EQ(sink->deleted[0].channel, 2);
    EXPECT_EQ(sink->deleted[0].path, archive.Path(4));
    EXPECT_EQ(sink->deleted[0].begin, Local(2024, 3, 5, 10, 30, 0, 0));
    EXPECT_EQ(sink->deleted[0].end, Local(2024, 3, 5, 10, 30, 1, 0));
}

TEST_F(ChangeMessagesTest, DeleteFileGoesToTheChannelsAudioLineWhenNoSoundCompanionWasDeleted) {
    engine.SetChannelAudioMics(1, {"MIC7", "MIC8"});
    const std::string withSound = archive.HourFolder(archive.Get(2).beginMs) + "/2.w01";
    gavex_test::WriteFileString(withSound, "s");
    ASSERT_TRUE(engine.RemoveFile(archive.Path(2).c_str(), 0, 0));
    EXPECT_THAT(sink->messages, IsEmpty());
    EXPECT_THAT(sink->deleted, IsEmpty());  // no times given

    ASSERT_TRUE(engine.RemoveFile(archive.Path(1).c_str(), 0, 0));
    ASSERT_EQ(sink->messages.size(), 1u);
    const Sent& sent = sink->messages[0];
    EXPECT_EQ(sent.kind, 1);
    EXPECT_EQ(sent.type, "CORE");
    EXPECT_EQ(sent.action, "DO_REACT");
    EXPECT_EQ(sent.params.at("source_type"), "OLXA_LINE");
    EXPECT_EQ(sent.params.at("source_id"), "MIC7");
    EXPECT_EQ(sent.params.at("action"), "DELETE_FILE");

    Msg::Params reaction;
    for (int i = 0; i < 2; ++i)
        reaction[sent.params.at("param" + std::to_string(i) + "_name")] = sent.params.at("param" + std::to_string(i) + "_val");
    EXPECT_EQ(reaction, (Msg::Params{{"cam", "1"}, {"file", archive.Path(1)}}));

    // Without a sink nothing is sent.
    engine.SetMessageSink(nullptr);
    ASSERT_TRUE(engine.RemoveFile(archive.Path(3).c_str(), 10, 20));
    EXPECT_EQ(sink->messages.size(), 1u);
}

TEST_F(ChangeMessagesTest, RingCleaningSendsOneDateAndHourMessagePerCamera) {
    ASSERT_EQ(engine.deleteOtherFile(), 0);
    ASSERT_EQ(sink->messages.size(), 2u);
    for (const auto& sent : sink->messages) {
        EXPECT_EQ(sent.params, (Msg::Params{{"fs", engine.GetName()}, {"date", "05-03-24"}, {"hour", "10"}}));
        EXPECT_EQ(sent.action, "ARCH_DELETE");
    }
    EXPECT_EQ(sink->messages[0].id, "1");
    EXPECT_EQ(sink->messages[1].id, "2");
    EXPECT_EQ(sink->deleted.size(), 3u);
}

}  // namespace
