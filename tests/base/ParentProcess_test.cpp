// Path of the parent process's executable.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CapturedLog.h"

#include "base/Log.h"
#include "base/ParentProcess.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// A folder and registry store of the test's own, and a private logger at
// message level whose lines are caught.
class ParentProcessTest : public ::testing::Test
{
protected:
    // The text after the line prefix of every caught line, in order.
    std::vector<std::string> Messages()
    {
        std::vector<std::string> texts;
        for (std::string line : m_captured.TakeLines()) {
            if (!line.empty() && line.back() == '\n')
                line.pop_back();
            const size_t end = line.find("] ", line.rfind("[TID="));
            texts.push_back(end == std::string::npos ? line : line.substr(line.find(']', end + 2) + 2));
        }
        return texts;
    }

    // A process tree under m_dir/proc: self/stat naming `ppid` and, when
    // `target` is not empty, <ppid>/exe linking to it.
    std::string FakeProc(const std::string& stat, long ppid, const std::string& target)
    {
        const std::string root = m_dir + "/proc";
        fs::create_directories(root + "/self");
        std::ofstream(root + "/self/stat", std::ios::binary) << stat;
        if (ppid > 0) {
            fs::create_directories(root + "/" + std::to_string(ppid));
            if (!target.empty())
                fs::create_symlink(target, root + "/" + std::to_string(ppid) + "/exe");
        }
        return root;
    }

    // A private logger at message level whose lines are caught.
    gavex_test::CapturedLog m_captured{"parentproc", 2, "SOFTWARE\\ParentProcessTest"};
    const std::string m_dir = m_captured.dir();
    QorLog::CDebug* const m_log = m_captured.logger();
};

std::string SelfExe()
{
    return fs::read_symlink("/proc/self/exe").string();
}

// Runs the tool directly (no shell in between, so this process is its
// parent) and returns its output; `status` gets its exit status.
std::string RunChild(const std::string& program, int& status)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<char> path(program.begin(), program.end());
    path.push_back('\0');
    char* argv[] = {path.data(), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string out;
    if (rc == 0) {
        char buffer[4096];
        for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
            out.append(buffer, static_cast<size_t>(n));
        waitpid(pid, &status, 0);
    } else {
        status = -1;
    }
    close(fds[0]);
    return out;
}

} // namespace

TEST_F(ParentProcessTest, ChildFindsThisTestProgram)
{
    int status = 0;
    const std::string out = RunChild(std::string(GAVEX_TEST_TOOLS_DIR) + "/pp_print_parent", status);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    const std::string self = SelfExe();
    EXPECT_EQ(out, self + "\n" + self + "\n");
}

TEST_F(ParentProcessTest, ThisProcessFindsItsOwnParent)
{
    ParentProcessLocator locator("/proc", m_log);
    const std::string expected = fs::read_symlink("/proc/" + std::to_string(getppid()) + "/exe").string();
    EXPECT_EQ(locator.GetPath(), expected);
    EXPECT_EQ(GetParentProcessPath(), expected);
}

TEST_F(ParentProcessTest, SuccessIsCachedAndLoggedOnce)
{
    // The command name holds blanks and parentheses: fields count from the
    // last ')'. The path holds non-ASCII letters and comes back as UTF-8.
    const std::string target = "/opt/Vidéo Spieler/Gavex_player";
    const std::string root = FakeProc("4321 (we (ird) name) S 777 4321 4321 0 -1", 777, target);
    ParentProcessLocator locator(root, m_log);
    EXPECT_EQ(locator.GetPath(), target);
    EXPECT_EQ(Messages(), (std::vector<std::string>{"Getting parent process path",
                                                    "Parent process path: " + target}));

    // The cache holds even when the parent is gone afterwards.
    fs::remove_all(root + "/777");
    EXPECT_EQ(locator.GetPath(), target);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ParentProcessTest, FailuresAreLoggedAndRetried)
{
    const struct {
        const char* what;
        std::string stat;
        long ppidDir;     // folder made for this id (0: none)
        bool withExe;
        const char* failure;
    } cases[] = {
        {"no stat", "", 0, false, "Failed to create toolhelp snapshot"},
        {"no parenthesis", "12 comm S 99", 0, false, "Failed to create toolhelp snapshot"},
        {"parent id 0", "12 (init) S 0 0", 0, false, "Failed to create toolhelp snapshot"},
        {"parent gone", "12 (cat) S 99 1", 0, false, "Failed to open parent process"},
        {"no exe link", "12 (cat) S 99 1", 99, false, "Failed to get parent process path"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::error_code ec;
        fs::remove_all(m_dir + "/proc", ec);
        const std::string root = FakeProc(c.stat, c.ppidDir, "");
        if (c.stat.empty())
            fs::remove(root + "/self/stat");
        ParentProcessLocator locator(root, m_log);
        EXPECT_EQ(locator.GetPath(), "");
        EXPECT_EQ(Messages(), (std::vector<std::string>{"Getting parent process path", c.failure}));
        // Nothing was cached: the next call looks again.
        EXPECT_EQ(locator.GetPath(), "");
        EXPECT_EQ(Messages(), (std::vector<std::string>{"Getting parent process path", c.failure}));
    }

    // Once the parent's executable can be read, the retry succeeds.
    std::error_code ec;
    fs::remove_all(m_dir + "/proc", ec);
    const std::string root = FakeProc("12 (cat) S 99 1", 99, "");
    ParentProcessLocator locator(root, m_log);
    EXPECT_EQ(locator.GetPath(), "");
    fs::create_symlink("/usr/bin/parent", root + "/99/exe");
    EXPECT_EQ(locator.GetPath(), "/usr/bin/parent");
}
