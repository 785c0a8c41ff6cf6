#include "base/Registry.h"

#include <sys/stat.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/RegistryStore.h"
#include "support/TempDir.h"

using platform::RegistryScope;
using platform::RegistryStore;
using platform::RegistryValue;

namespace {

const char* const kVideo = "SOFTWARE\\QOR\\Vindara\\Video";

// Points the settings store at a fresh folder for the test.
class RegistryKeyTest : public ::testing::Test {
protected:
    RegistryKeyTest() {
        ::setenv("GAVEX_REGISTRY_DIR", m_dir.path().c_str(), 1);
        store = RegistryStore::Current();
    }
    ~RegistryKeyTest() override {
        ::unsetenv("GAVEX_REGISTRY_DIR");
    }
    void Put(RegistryScope scope, const char* key, const char* name, const RegistryValue& v) {
        ASSERT_TRUE(store->SetValue(scope, key, name, v));
    }
    std::string MachinePath() const { return m_dir / "machine.reg"; }
    std::string UserPath() const { return m_dir / "user.reg"; }

    gavex_test::TempDir m_dir{"registry"};
    std::shared_ptr<RegistryStore> store;
};

TEST_F(RegistryKeyTest, MachineScopeFirstUserScopeOnlyWhenTheMachineKeyIsMissing) {
    Put(RegistryScope::Machine, kVideo, "MaxFrames", RegistryValue::Text("700"));
    Put(RegistryScope::User, kVideo, "MaxFrames", RegistryValue::Text("900"));
    Put(RegistryScope::User, kVideo, "UserOnly", RegistryValue::Text("5"));
    Put(RegistryScope::User, "SOFTWARE\\QOR\\Vindara\\Debug", "Level", RegistryValue::Text("3"));

    RegistryKey video(kVideo, false, RegistryKey::kRead | RegistryKey::kWow64_32Key);
    ASSERT_TRUE(video.IsOpen());
    EXPECT_EQ(video.GetScope(), RegistryScope::Machine);
    EXPECT_EQ(video.ReadInt("MaxFrames", 500), 700);
    // The open machine key is the only one read: no fall-through per value.
    EXPECT_EQ(video.ReadInt("UserOnly", -1), -1);

    RegistryKey debug("SOFTWARE\\QOR\\Vindara\\Debug", false, RegistryKey::kRead);
    ASSERT_TRUE(debug.IsOpen());
    EXPECT_EQ(debug.GetScope(), RegistryScope::User);
    EXPECT_EQ(debug.ReadInt("Level", 0), 3);
}

TEST_F(RegistryKeyTest, ReadOnlyMachineScopeSendsFullAccessAndWritesToTheUser) {
    Put(RegistryScope::Machine, kVideo, "MaxFrames", RegistryValue::Text("700"));
    ASSERT_EQ(::chmod(MachinePath().c_str(), 0444), 0);

    RegistryKey readOnly(kVideo, false, RegistryKey::kRead);
    ASSERT_TRUE(readOnly.IsOpen());
    EXPECT_EQ(readOnly.ReadInt("MaxFrames", 0), 700);
    EXPECT_FALSE(readOnly.WriteInt("MaxFrames", 1));  // opened for reading

    RegistryKey missing(kVideo);  // full access: the machine key cannot be opened
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(missing.ReadInt("MaxFrames", 11), 11);
    EXPECT_FALSE(missing.WriteInt("MaxFrames", 1));

    RegistryKey created(kVideo, true);
    ASSERT_TRUE(created.IsOpen());
    EXPECT_EQ(created.GetScope(), RegistryScope::User);
    EXPECT_EQ(created.ReadInt("MaxFrames", 11), 11);  // machine values not seen
    EXPECT_TRUE(created.WriteInt("MaxFrames", 42));
    EXPECT_EQ(store->GetValue(RegistryScope::User, kVideo, "MaxFrames"), RegistryValue::Text("42"));
    EXPECT_EQ(store->GetValue(RegistryScope::Machine, kVideo, "MaxFrames"), RegistryValue::Text("700"));
}

TEST_F(RegistryKeyTest, CreateMakesTheKeyInTheMachineScopeWhenWritable) {
    RegistryKey key("SOFTWARE\\QOR\\Vindara\\Video\\Compression", true);
    ASSERT_TRUE(key.IsOpen());
    EXPECT_EQ(key.GetScope(), RegistryScope::Machine);
    EXPECT_TRUE(key.WriteInt("Quality", -1));
    // Numbers are stored as decimal text, kinds as written.
    EXPECT_TRUE(key.WriteDword("Raw", 7));
    EXPECT_TRUE(key.WriteString("Name", "MJPEG"));
    EXPECT_EQ(gavex_test::ReadFileString(MachinePath()),
              "; Gavex settings store\n"
              "\n[SOFTWARE\\QOR\\Vindara\\Video\\Compression]\n"
              "\"Quality\"=\"-1\"\n"
              "\"Raw\"=dword:00000007\n"
              "\"Name\"=\"MJPEG\"\n");
    EXPECT_EQ(key.ReadInt("Quality", 0), -1);
    EXPECT_EQ(key.ReadDword("Raw", 0), 7u);
    EXPECT_EQ(key.ReadString("Name"), "MJPEG");

    RegistryKey other("SOFTWARE\\Elsewhere");
    EXPECT_FALSE(other.IsOpen());
    EXPECT_TRUE(other.Create("SOFTWARE\\Elsewhere\\Sub"));
    EXPECT_EQ(other.GetPath(), "SOFTWARE\\Elsewhere\\Sub");
    EXPECT_TRUE(RegistryKey("SOFTWARE\\Elsewhere", false, RegistryKey::kRead).IsOpen());
}

TEST_F(RegistryKeyTest, ReadIntFollowsStrtolAndTheSixteenByteBuffer) {
    struct Case {
        RegistryValue value;
        std::int32_t expected;
    } cases[] = {
        {RegistryValue::Text(" 42"), 42},
        {RegistryValue::Text("0x10"), 0},
        {RegistryValue::Text("-5"), -5},
        {RegistryValue::Text("+7 apples"), 7},
        {RegistryValue::Text("abc"), 0},
        {RegistryValue::Text(""), 99},                      // empty: the default
        {RegistryValue::Text("000000000000042"), 42},       // 15 characters fit
        {RegistryValue::Text("0000000000000042"), 99},      // 16 do not
        {RegistryValue::Text("12345678901234567890"), 99},  // 20 do not
        {RegistryValue::Text("99999999999"), 2147483647},   // saturates as a 32-bit strtol
        {RegistryValue::Text("-99999999999"), -2147483647 - 1},
        {RegistryValue::Number(0x3234), 42},  // raw bytes '4' '2' 0 0
        {RegistryValue::Number(3), 0},        // raw byte 3: not a number
        {RegistryValue::Number(0), 99},       // first byte zero: empty
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.kind == RegistryValue::Kind::Text ? c.value.text : std::to_string(c.value.number));
        Put(RegistryScope::Machine, kVideo, "V", c.value);
        RegistryKey key(kVideo, false, RegistryKey::kRead);
        EXPECT_EQ(key.ReadInt("V", 99), c.expected);
    }
    RegistryKey key(kVideo, false, RegistryKey::kRead);
    EXPECT_EQ(key.ReadInt("Missing", 99), 99);
}

TEST_F(RegistryKeyTest, ReadStringAndReadDwordEdges) {
    Put(RegistryScope::Machine, kVideo, "Empty", RegistryValue::Text(""));
    Put(RegistryScope::Machine, kVideo, "Twenty", RegistryValue::Text("abcdefghijklmnopqrst"));
    Put(RegistryScope::Machine, kVideo, "Short", RegistryValue::Text("ab"));
    Put(RegistryScope::Machine, kVideo, "Four", RegistryValue::Text("abcd"));
    Put(RegistryScope::Machine, kVideo, "Dword", RegistryValue::Number(0xDEADBEEF));
    RegistryKey key(kVideo, false, RegistryKey::kRead);

    EXPECT_EQ(key.ReadString("Missing", "def"), "def");
    EXPECT_EQ(key.ReadString("Missing"), "");
    EXPECT_EQ(key.ReadString("Empty", "def"), "def");
    EXPECT_EQ(key.ReadString("Twenty", "def", 16), "def");
    EXPECT_EQ(key.ReadString("Twenty", "def", 21), "abcdefghijklmnopqrst");
    EXPECT_EQ(key.ReadString("twenty", nullptr, 20), "");  // needs room for its zero

    EXPECT_EQ(key.ReadDword("Dword", 1), 0xDEADBEEFu);
    EXPECT_EQ(key.ReadDword("Short", 1), 0x00006261u);  // "ab" and its zero
    EXPECT_EQ(key.ReadDword("Four", 1), 1u);            // longer than 3 characters
    EXPECT_EQ(key.ReadDword("Missing", 1), 1u);

    RegistryKey closed("SOFTWARE\\Nothing", false, RegistryKey::kRead);
    EXPECT_FALSE(closed.IsOpen());
    EXPECT_EQ(closed.ReadString("x", "d"), "d");
    EXPECT_EQ(closed.ReadInt("x", 4), 4);
    EXPECT_EQ(closed.ReadDword("x", 4), 4u);
    EXPECT_FALSE(closed.WriteString("x", "y"));
    EXPECT_FALSE(closed.WriteDword("x", 1));
}

TEST_F(RegistryKeyTest, DamagedStoreGivesDefaultsAndIsNotOverwritten) {
    const std::string damaged = "[SOFTWARE\\QOR\\Vindara\\Video]\n\"MaxFrames\"=dword:12\n";
    gavex_test::WriteFileString(MachinePath(), damaged);
    testing::internal::CaptureStderr();
    RegistryKey key(kVideo, false, RegistryKey::kRead);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.ReadInt("MaxFrames", 500), 500);
    RegistryKey created(kVideo, true);  // lands in the user scope
    EXPECT_EQ(created.GetScope(), RegistryScope::User);
    EXPECT_TRUE(created.WriteInt("MaxFrames", 600));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(gavex_test::ReadFileString(MachinePath()), damaged);
}

}  // namespace
