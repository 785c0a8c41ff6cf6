// The crash handler, seen from outside: a child process crashes and leaves
// the dump, the log copy and the system-log line.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/MiniDumper.h"
#include "base/Registry.h"
#include "support/TempDir.h"

namespace {

std::vector<std::string> List(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

struct CrashRun
{
    int termSignal = 0;
    std::string syslogLine;
    std::vector<std::string> files;
};

class MiniDumperTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dumps = m_dir / "dumps";
        m_registry = m_dir / "registry";
        ASSERT_EQ(mkdir(m_dumps.c_str(), 0700), 0);
        ASSERT_EQ(mkdir(m_registry.c_str(), 0700), 0);
        // The test stands in for the system log daemon.
        m_socketPath = m_dir / "log.sock";
        m_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(m_socket, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        ASSERT_LT(m_socketPath.size(), sizeof addr.sun_path);
        std::strcpy(addr.sun_path, m_socketPath.c_str());
        ASSERT_EQ(bind(m_socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }
    void TearDown() override
    {
        if (m_socket >= 0)
            close(m_socket);
    }

    CrashRun Run(const char* how)
    {
        CrashRun run;
        const std::string child = std::string(GAVEX_TEST_TOOLS_DIR) + "/crash_child";
        const pid_t pid = fork();
        if (pid == 0) {
            setenv("GAVEX_REGISTRY_DIR", m_registry.c_str(), 1);
            execl(child.c_str(), child.c_str(), m_dumps.c_str(), m_socketPath.c_str(), "1.2.3.4",
                  how, static_cast<char*>(nullptr));
            _exit(127);
        }
        EXPECT_GT(pid, 0);
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        if (WIFSIGNALED(status))
            run.termSignal = WTERMSIG(status);
        // The child is gone: a line it sent is already queued on the socket.
        {
            char buf[1024];
            const ssize_t n = recv(m_socket, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0)
                run.syslogLine.assign(buf, size_t(n));
        }
        run.files = List(m_dumps);
        return run;
    }

    static std::string Find(const std::vector<std::string>& files, const std::string& suffix)
    {
        for (const auto& f : files)
            if (f.size() > suffix.size() && f.compare(f.size() - suffix.size(), suffix.size(), suffix) == 0)
                return f;
        return {};
    }

    gavex_test::TempDir m_dir{"crash"};
    std::string m_dumps, m_registry, m_socketPath;
    int m_socket = -1;
};

TEST_F(MiniDumperTest, CrashLeavesDumpLogCopyAndSystemLogLine)
{
    const CrashRun run = Run("segv");
    EXPECT_EQ(run.termSignal, SIGSEGV) << "the process dies as it would have";

    const std::string dump = Find(run.files, ".dmp");
    ASSERT_FALSE(dump.empty()) << ::testing::PrintToString(run.files);
    EXPECT_TRUE(std::regex_match(
        dump, std::regex(R"(crash_child\.\d{4}-\d{2}-\d{2}\.\d{2}-\d{2}-\d{2}-x64-1\.2\.3\.4\.dmp)")))
        << dump;
    EXPECT_TRUE(Find(run.files, ".tmp").empty());

    const std::string contents = gavex_test::ReadFileString(m_dumps + "/" + dump);
    EXPECT_NE(contents.find("Signal: 11 (SIGSEGV)"), std::string::npos) << contents.substr(0, 400);
    EXPECT_NE(contents.find("Backtrace:\n"), std::string::npos);
    EXPECT_NE(contents.find("Memory map:\n"), std::string::npos);
    // The map itself is copied: the program's own mapping is listed after the heading.
    EXPECT_NE(contents.find("/crash_child\n", contents.find("Memory map:\n")), std::string::npos);
    EXPECT_NE(contents.find("End of dump\n"), std::string::npos);

    // The log "crash_child.log" is found under the extension "LOG".
    EXPECT_EQ(gavex_test::ReadFileString(m_dumps + "/" + dump + ".dml"), "last log line\n");

    const std::string expected = "<11>crash_child: Application \"crash_child\" abnormal terminated.\r\n"
                                 "Saved dump file to \"" + m_dumps + "/" + dump + "\". ";
    EXPECT_EQ(run.syslogLine, expected);

    // A first start stores FullDump "0" under the product root key.
    setenv("GAVEX_REGISTRY_DIR", m_registry.c_str(), 1);
    {
        RegistryKey key("SOFTWARE\\QOR\\Vindara");
        EXPECT_EQ(key.ReadString("FullDump"), "0");
    }
    unsetenv("GAVEX_REGISTRY_DIR");
}

TEST_F(MiniDumperTest, AbortAndStackOverflowAreCaught)
{
    struct Case
    {
        const char* how;
        int signal;
        const char* name;
    };
    for (const Case c : {Case{"abort", SIGABRT, "SIGABRT"}, Case{"overflow", SIGSEGV, "SIGSEGV"}}) {
        SCOPED_TRACE(c.how);
        const CrashRun run = Run(c.how);
        EXPECT_EQ(run.termSignal, c.signal);
        const std::string dump = Find(run.files, ".dmp");
        ASSERT_FALSE(dump.empty());
        EXPECT_NE(gavex_test::ReadFileString(m_dumps + "/" + dump).find(std::string("(") + c.name + ")"), std::string::npos);
        EXPECT_NE(run.syslogLine.find("Saved dump file to"), std::string::npos);
        std::system(("rm -f '" + m_dumps + "'/*").c_str());
    }
}

TEST_F(MiniDumperTest, DumpThatCannotBeWrittenKeepsItsTemporaryName)
{
    const CrashRun run = Run("fsize");
    EXPECT_EQ(run.termSignal, SIGSEGV);
    EXPECT_TRUE(Find(run.files, ".dmp").empty()) << ::testing::PrintToString(run.files);
    const std::string tmp = Find(run.files, ".tmp");
    ASSERT_FALSE(tmp.empty());
    EXPECT_TRUE(Find(run.files, ".dml").empty());
    const std::string expected = "<11>crash_child: Application \"crash_child\" abnormal terminated.\r\n"
                                 "Failed to save dump file to \"" + m_dumps + "/" + tmp + "\" (error " +
                                 std::to_string(EFBIG) + ").";
    EXPECT_EQ(run.syslogLine, expected);
}

TEST_F(MiniDumperTest, ReportSwitchOffSendsNoLine)
{
    setenv("GAVEX_REGISTRY_DIR", m_registry.c_str(), 1);
    {
        RegistryKey key("SOFTWARE\\QOR\\Vindara", true);
        ASSERT_TRUE(key.WriteString("ReportWindowsLogEvent", "0"));
        ASSERT_TRUE(key.WriteString("DebugExtension", "txt"));
    }
    unsetenv("GAVEX_REGISTRY_DIR");
    {
        std::ofstream log(m_dumps + "/crash_child.TXT");
        log << "text log\n";
    }
    const CrashRun run = Run("segv");
    EXPECT_EQ(run.termSignal, SIGSEGV);
    EXPECT_EQ(run.syslogLine, "");
    const std::string dump = Find(run.files, ".dmp");
    ASSERT_FALSE(dump.empty());
    EXPECT_EQ(gavex_test::ReadFileString(m_dumps + "/" + dump + ".dml"), "text log\n");
}

} // namespace
