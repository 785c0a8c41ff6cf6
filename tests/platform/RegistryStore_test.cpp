#include "platform/RegistryStore.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TempDir.h"

using platform::RegistryScope;
using platform::RegistryStore;
using platform::RegistryValue;

namespace {

class RegistryStoreTest : public ::testing::Test {
protected:
    gavex_test::TempDir dir{"platform"};
    std::string machine = dir / "machine.reg";
    std::string user = dir / "user.reg";
};

TEST_F(RegistryStoreTest, WritesTheDocumentedFormat) {
    RegistryStore store(machine, user);
    ASSERT_TRUE(store.SetValue(RegistryScope::User, "SOFTWARE\\QOR\\Vindara\\Video", "MaxFrames",
                               RegistryValue::Text("500")));
    ASSERT_TRUE(store.SetValue(RegistryScope::User, "SOFTWARE\\QOR\\Vindara\\Debug", "Level",
                               RegistryValue::Number(3)));
    ASSERT_TRUE(store.SetValue(RegistryScope::User, "SOFTWARE\\QOR\\Vindara\\Debug", "Path",
                               RegistryValue::Text("C:\\logs \"x\"\n")));
    ASSERT_TRUE(store.SetValue(RegistryScope::User, "SOFTWARE\\QOR\\Vindara\\Debug", "",
                               RegistryValue::Binary({0x01, 0xff, 0x20})));
    EXPECT_EQ(gavex_test::ReadFileString(user),
              "; Gavex settings store\n"
              "\n[SOFTWARE\\QOR\\Vindara\\Debug]\n"
              "\"Level\"=dword:00000003\n"
              "\"Path\"=\"C:\\\\logs \\\"x\\\"\\n\"\n"
              "@=hex:01,ff,20\n"
              "\n[SOFTWARE\\QOR\\Vindara\\Video]\n"
              "\"MaxFrames\"=\"500\"\n");
    EXPECT_FALSE(RegistryStore(machine, user).KeyExists(RegistryScope::Machine, "SOFTWARE"));

    // A fresh store reads back what was written, kinds included.
    RegistryStore again(machine, user);
    EXPECT_EQ(again.GetValue(RegistryScope::User, "SOFTWARE\\QOR\\Vindara\\Debug", "Path"),
              RegistryValue::Text("C:\\logs \"x\"\n"));
    EXPECT_EQ(again.GetValue(RegistryScope::User, "SOFTWARE\\QOR\\Vindara\\Debug", "level"),
              RegistryValue::Number(3));
    EXPECT_EQ(again.GetValue(RegistryScope::User, "SOFTWARE\\QOR\\Vindara\\Debug", ""),
              RegistryValue::Binary({0x01, 0xff, 0x20}));
}

// A value written again unchanged leaves the file alone (no replacement,
// no sync); a changed value, or one another store changed meanwhile, is
// written.
TEST_F(RegistryStoreTest, UnchangedValueIsNotWrittenAgain) {
    const std::string key = "SOFTWARE\\QOR\\Vindara\\Video";
    RegistryStore store(machine, user);
    ASSERT_TRUE(store.SetValue(RegistryScope::Machine, key, "FastIndex", RegistryValue::Text("1")));
    struct stat first {};
    ASSERT_EQ(::stat(machine.c_str(), &first), 0);
    ASSERT_TRUE(store.SetValue(RegistryScope::Machine, key, "fastindex", RegistryValue::Text("1")));
    struct stat second {};
    ASSERT_EQ(::stat(machine.c_str(), &second), 0);
    EXPECT_EQ(second.st_ino, first.st_ino);

    // Another store (another process) sets 0; writing 1 here is a change.
    ASSERT_TRUE(RegistryStore(machine, user).SetValue(RegistryScope::Machine, key, "FastIndex", RegistryValue::Text("0")));
    ASSERT_TRUE(store.SetValue(RegistryScope::Machine, key, "FastIndex", RegistryValue::Text("1")));
    EXPECT_EQ(RegistryStore(machine, user).GetValue(RegistryScope::Machine, key, "FastIndex"), RegistryValue::Text("1"));
    // A number is not the same value as its text.
    ASSERT_TRUE(store.SetValue(RegistryScope::Machine, key, "FastIndex", RegistryValue::Number(1)));
    EXPECT_EQ(RegistryStore(machine, user).GetValue(RegistryScope::Machine, key, "FastIndex"), RegistryValue::Number(1));
}

TEST_F(RegistryStoreTest, ReadsHandWrittenFilesWithoutRegardToCase) {
    gavex_test::WriteFileString(machine,
             "# machine settings\r\n"
             "; comment\n"
             "\n"
             "[Software\\Qor\\Vindara\\Video]\n"
             "  \"ApplyTZCachingFix\"=\"1\"\n"
             "\"UseNuma\"=dword:0000000A\n");
    RegistryStore store(machine, user);
    EXPECT_TRUE(store.KeyExists(RegistryScope::Machine, "SOFTWARE\\QOR\\VINDARA\\VIDEO"));
    EXPECT_TRUE(store.KeyExists(RegistryScope::Machine, "SOFTWARE\\QOR"));  // a parent exists too
    EXPECT_FALSE(store.KeyExists(RegistryScope::Machine, "SOFTWARE\\QO"));
    EXPECT_FALSE(store.KeyExists(RegistryScope::User, "SOFTWARE\\QOR"));
    EXPECT_EQ(store.GetValue(RegistryScope::Machine, "software\\qor\\vindara\\video", "applytzcachingfix"),
              RegistryValue::Text("1"));
    EXPECT_EQ(store.GetValue(RegistryScope::Machine, "SOFTWARE\\QOR\\Vindara\\Video", "UseNuma"),
              RegistryValue::Number(10));
    EXPECT_FALSE(store.GetValue(RegistryScope::Machine, "SOFTWARE\\QOR\\Vindara\\Video", "Missing"));

    // The file is re-read when another writer changes it.
    gavex_test::WriteFileString(machine, "[SOFTWARE\\QOR\\Vindara\\Video]\n\"UseNuma\"=dword:00000001\n\"Extra\"=\"x\"\n");
    EXPECT_EQ(store.GetValue(RegistryScope::Machine, "SOFTWARE\\QOR\\Vindara\\Video", "UseNuma"),
              RegistryValue::Number(1));
}

TEST_F(RegistryStoreTest, DamagedFilesReadEmptyWarnOnceAndAreNeverOverwritten) {
    const std::string cases[] = {
        "[SOFTWARE\\QOR]\n\"Level\"=dword:3\n",        // short number
        "\"Level\"=\"1\"\n",                            // value outside a key
        "[SOFTWARE\\QOR]\n\"Level\"=\"unterminated\n",  // open quote
        "[SOFTWARE\\QOR]\n\"Level\"=\"a\\qb\"\n",       // unknown escape
        "[SOFTWARE\\QOR]\nLevel=1\n",                   // unquoted name
        "[SOFTWARE\\QOR]\n\"Blob\"=hex:0,1\n",           // bad byte
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        gavex_test::WriteFileString(machine, text);
        RegistryStore store(machine, user);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(store.KeyExists(RegistryScope::Machine, "SOFTWARE\\QOR"));
        EXPECT_FALSE(store.GetValue(RegistryScope::Machine, "SOFTWARE\\QOR", "Level"));
        EXPECT_FALSE(store.IsWritable(RegistryScope::Machine));
        EXPECT_FALSE(store.SetValue(RegistryScope::Machine, "SOFTWARE\\QOR", "Level", RegistryValue::Text("2")));
        EXPECT_FALSE(store.CreateKey(RegistryScope::Machine, "SOFTWARE\\Other"));
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.find("cannot be parsed"), err.rfind("cannot be parsed")) << err;  // one warning
        EXPECT_NE(err.find(machine), std::string::npos) << err;
        EXPECT_EQ(gavex_test::ReadFileString(machine), text);
        // The other scope is unaffected.
        EXPECT_TRUE(store.SetValue(RegistryScope::User, "SOFTWARE\\QOR", "Level", RegistryValue::Text("2")));
    }
}

TEST_F(RegistryStoreTest, UnreadableFileReadsEmptyAndIsKept) {
    ASSERT_EQ(::mkdir(machine.c_str(), 0755), 0);  // reading a folder fails
    RegistryStore store(machine, user);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(store.KeyExists(RegistryScope::Machine, "SOFTWARE"));
    EXPECT_FALSE(store.SetValue(RegistryScope::Machine, "SOFTWARE", "x", RegistryValue::Number(1)));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cannot be read"), std::string::npos) << err;
    struct stat st;
    ASSERT_EQ(::stat(machine.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(RegistryStoreTest, FileWithoutWriteBitsIsReadOnlyAndKeepsItsMode) {
    RegistryStore store(machine, user);
    ASSERT_TRUE(store.SetValue(RegistryScope::Machine, "SOFTWARE\\QOR", "a", RegistryValue::Text("1")));
    ASSERT_EQ(::chmod(machine.c_str(), 0640), 0);
    ASSERT_TRUE(store.SetValue(RegistryScope::Machine, "SOFTWARE\\QOR", "b", RegistryValue::Text("2")));
    struct stat st;
    ASSERT_EQ(::stat(machine.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    ASSERT_EQ(::chmod(machine.c_str(), 0444), 0);
    EXPECT_FALSE(store.IsWritable(RegistryScope::Machine));
    EXPECT_FALSE(store.SetValue(RegistryScope::Machine, "SOFTWARE\\QOR", "c", RegistryValue::Text("3")));
    EXPECT_EQ(store.GetValue(RegistryScope::Machine, "SOFTWARE\\QOR", "b"), RegistryValue::Text("2"));
}

TEST_F(RegistryStoreTest, CreatesMissingFoldersAndDeletesValues) {
    std::string deep = dir / "a/b/user.reg";
    RegistryStore store(machine, deep);
    EXPECT_TRUE(store.IsWritable(RegistryScope::User));
    EXPECT_TRUE(store.CreateKey(RegistryScope::User, "SOFTWARE\\QOR\\Vindara\\"));
    EXPECT_TRUE(store.KeyExists(RegistryScope::User, "SOFTWARE\\QOR\\Vindara"));
    EXPECT_TRUE(store.SetValue(RegistryScope::User, "SOFTWARE\\QOR\\Vindara", "x", RegistryValue::Number(7)));
    EXPECT_TRUE(store.DeleteValue(RegistryScope::User, "SOFTWARE\\QOR\\Vindara", "X"));
    EXPECT_FALSE(store.DeleteValue(RegistryScope::User, "SOFTWARE\\QOR\\Vindara", "X"));
    EXPECT_FALSE(store.GetValue(RegistryScope::User, "SOFTWARE\\QOR\\Vindara", "x"));
    EXPECT_TRUE(store.KeyExists(RegistryScope::User, "SOFTWARE\\QOR\\Vindara"));
}

// Two processes writing different values at the same time keep all of them.
TEST_F(RegistryStoreTest, ConcurrentWritersFromTwoProcessesLoseNothing) {
    constexpr int kPerProcess = 40;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            RegistryStore store(machine, user);
            bool ok = true;
            for (int i = 0; i < kPerProcess; ++i)
                ok &= store.SetValue(RegistryScope::User, "SOFTWARE\\QOR",
                                     "p" + std::to_string(c) + "_" + std::to_string(i),
                                     RegistryValue::Number(static_cast<std::uint32_t>(i)));
            ::_exit(ok ? 0 : 1);
        }
        children[c] = pid;
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    RegistryStore store(machine, user);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kPerProcess; ++i)
            EXPECT_EQ(store.GetValue(RegistryScope::User, "SOFTWARE\\QOR", "p" + std::to_string(c) + "_" + std::to_string(i)),
                      RegistryValue::Number(static_cast<std::uint32_t>(i)))
                << c << " " << i;
}

TEST(RegistryStoreLocation, FollowsTheEnvironment) {
    gavex_test::TempDir dir{"platform"};
    ::setenv("GAVEX_REGISTRY_DIR", dir.path().c_str(), 1);
    auto a = RegistryStore::Current();
    EXPECT_EQ(a->Path(RegistryScope::Machine), dir / "machine.reg");
    EXPECT_EQ(a->Path(RegistryScope::User), dir / "user.reg");
    EXPECT_EQ(RegistryStore::Current(), a);
    gavex_test::TempDir other{"platform"};
    ::setenv("GAVEX_REGISTRY_DIR", other.path().c_str(), 1);
    EXPECT_EQ(RegistryStore::Current()->Path(RegistryScope::User), other / "user.reg");
    ::unsetenv("GAVEX_REGISTRY_DIR");
    EXPECT_EQ(RegistryStore::Current()->Path(RegistryScope::Machine), "/etc/gavex/machine.reg");
}

TEST(RegistryValueData, IsWhatTheSystemRegistryHandsOut) {
    EXPECT_EQ(RegistryValue::Text("ab").Data(), (std::vector<std::uint8_t>{'a', 'b', 0}));
    EXPECT_EQ(RegistryValue::Number(0x01020304).Data(), (std::vector<std::uint8_t>{4, 3, 2, 1}));
    EXPECT_EQ(RegistryValue::Binary({9}).Data(), (std::vector<std::uint8_t>{9}));
}

}  // namespace
