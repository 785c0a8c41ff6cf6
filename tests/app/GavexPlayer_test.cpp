// The program's run modes and exit codes.

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include <QCryptographicHash>
#include <QWidget>

#include "app/GavexPlayer.h"
#include "config/QApplicationSettings.h"
#include "config/StartOptions.h"
#include "playback/IPlayersController.h"
#include "support/TempDir.h"

using gavex_test::ReadFileBytes;
using gavex_test::TempDir;
using gavex_test::WriteFileBytes;

namespace {

// Completes from a worker thread with a fixed code, as an export would.
class CompletingController : public IPlayersController {
public:
    explicit CompletingController(int code) : m_code(code) {}
    ~CompletingController() override
    {
        if (m_worker.joinable())
            m_worker.join();
    }
    void Initialize(const StartOptions& options, QWidget* target, const QRect& area) override
    {
        destination = options.destination;
        targetHidden = target != nullptr && !target->isVisible();
        nullArea = area.isNull();
        m_worker = std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            Completed(m_code);
        });
    }
    void OpenSource(const StartOptions&) override {}
    void SaveState() override {}
    int RunningExportTasks() const override { return 0; }

    std::string destination;
    bool targetHidden = false;
    bool nullArea = false;

private:
    int m_code;
    std::thread m_worker;
};

int RunPlayer(GavexPlayer& player, std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "Gavex_player");
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    return player.Run(static_cast<int>(arguments.size()), argv.data());
}

TEST(GavexPlayer, WindowlessRunEndsWithTheControllersCode)
{
    TempDir dir("player");
    std::shared_ptr<CompletingController> controller;
    GavexPlayer player([&] {
        controller = std::make_shared<CompletingController>(22);
        return controller;
    });
    EXPECT_EQ(RunPlayer(player, {"--destination", dir / "out", "--source", dir.path()}), 22);
    ASSERT_TRUE(controller);
    EXPECT_EQ(controller->destination, dir / "out");
    EXPECT_TRUE(controller->targetHidden);
    EXPECT_TRUE(controller->nullArea);
    EXPECT_EQ(QApplicationSettings::Instance().Render, 2) << "the null device";
}

TEST(GavexPlayer, ExtractWinsOverWindowlessAndChecksThePassword)
{
    TempDir dir("player");
    std::vector<uint8_t> video(300000);
    for (size_t i = 0; i < video.size(); ++i)
        video[i] = static_cast<uint8_t>(i ^ (i >> 8));
    const QByteArray key = QCryptographicHash::hash("pässword", QCryptographicHash::Md5);
    std::vector<uint8_t> file = {'M', 'Z', 'G'};
    file.insert(file.end(), kEmbeddedVideoMarker, kEmbeddedVideoMarker + kEmbeddedVideoMarkerSize);
    file.insert(file.end(), key.begin(), key.end());
    file.insert(file.end(), video.begin(), video.end());
    WriteFileBytes(dir / "player.exe", file);

    bool controllerMade = false;
    GavexPlayer player([&] {
        controllerMade = true;
        return std::make_shared<CompletingController>(5);
    });
    int prompts = 0;
    player.SetPasswordPrompt([&]() -> std::optional<QString> {
        ++prompts;
        return QString::fromUtf8("pässword");
    });
    EXPECT_EQ(RunPlayer(player, {"--executable", dir / "player.exe", "--extract", dir / "video.mkv", "--destination",
                           dir / "x"}),
              0);
    EXPECT_EQ(prompts, 1);
    EXPECT_FALSE(controllerMade) << "extract mode wins";
    EXPECT_EQ(ReadFileBytes(dir / "video.mkv"), video);
    QApplicationSettings& settings = QApplicationSettings::Instance();
    EXPECT_FALSE(settings.Live.SourceNativeVideo);
    EXPECT_FALSE(settings.ShowSourceBrowserButton);
    EXPECT_TRUE(settings.Live.ExportVideo);
}

TEST(GavexPlayer, RefusedPasswordsAndRejectedLinesExitNonZero)
{
    TempDir dir("player");
    const QByteArray key = QCryptographicHash::hash("right", QCryptographicHash::Md5);
    std::vector<uint8_t> file = {'L'};
    file.insert(file.end(), kEmbeddedVideoMarker, kEmbeddedVideoMarker + kEmbeddedVideoMarkerSize);
    file.insert(file.end(), key.begin(), key.end());
    file.push_back('v');
    WriteFileBytes(dir / "player.exe", file);
    // Each run checks the file once per process; the answers differ by the
    // prompt only.
    const struct {
        std::optional<QString> password;
        int code;
    } cases[] = {{std::nullopt, kExitPasswordRefused}, {QString(), kExitPasswordRefused},
                 {QString("wrong"), kExitPasswordRefused}};
    for (const auto& c : cases) {
        GavexPlayer player;
        player.SetPasswordPrompt([&] { return c.password; });
        EXPECT_EQ(RunPlayer(player, {"--executable", dir / "player.exe", "--extract", dir / "v.mkv"}), c.code);
        EXPECT_FALSE(std::filesystem::exists(dir / "v.mkv"));
    }
    GavexPlayer player;
    EXPECT_EQ(RunPlayer(player, {"--help"}), 0);
}

// Whatever makes a line unreadable, the program ends at once with status 2
// and says why (offscreen, the message goes to stderr).
TEST(GavexPlayer, RejectedLinesExitWithTheirMessage)
{
    const struct {
        std::vector<std::string> arguments;
        const char* message;
    } cases[] = {
        {{"--no-such-option"}, "unrecognised option '--no-such-option'"},
        {{"-%canonical_option%"}, "unrecognised option '-%canonical_option%'"},
        {{"--source", "x", "--%original_token%"}, "unrecognised option '--%original_token%'"},
        {{"--single", "%value%"}, "the argument ('%value%') for option '--single' is invalid"},
        {{"--time", "\x8c" "11895-03-05"}, "option '--time' is not a time of the form"},
    };
    for (const auto& c : cases) {
        GavexPlayer player;
        testing::internal::CaptureStderr();
        const int status = RunPlayer(player, c.arguments);
        const std::string output = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, kExitBadCommandLine) << c.message;
        EXPECT_NE(output.find(c.message), std::string::npos) << output;
    }
}

// A windowless run's result code can be any export code; the process status
// is one byte, so each result has its own small status and none of them
// reads as a signal (128 + n) or wraps (1168 would reach the shell as 144).
TEST(GavexPlayer, WindowlessResultsEndWithTheirOwnSmallStatus)
{
    const struct {
        int code;
        int status;
    } results[] = {
        {0, kExitOk},
        {22, kExitNothingSaved},
        {55, kExitNoDestination},
        {112, kExitDiskFull},
        {39, kExitDiskFull},
        {143, kExitDestinationOnSource},
        {170, kExitBusy},
        {240, kExitCancelled},
        {1168, kExitNothingToExport},
        {1359, kExitFailedWithoutCode},
        {2, kExitExportFailed},    // a file-system error (errno)
        {256, kExitExportFailed},  // a code of its own
        {-1, kExitExportFailed},
    };
    std::set<int> statuses = {kExitFailed, kExitBadCommandLine, kExitPasswordRefused};
    for (const auto& r : results) {
        EXPECT_EQ(ExitStatusForResult(r.code), r.status) << r.code;
        EXPECT_TRUE(r.status >= 0 && r.status < 126) << r.code;
        statuses.insert(r.status);
    }
    EXPECT_EQ(statuses.size(), 13u) << "one status per result; the two disk-full codes share one";

    TempDir dir("player");
    for (const int code : {1168, 143}) {
        GavexPlayer player([code] { return std::make_shared<CompletingController>(code); });
        EXPECT_EQ(RunPlayer(player, {"--destination", dir / "out", "--source", dir.path()}), ExitStatusForResult(code));
    }
}

TEST(GavexPlayer, ExtractWithoutCarriedVideoFails)
{
    TempDir dir("player");
    WriteFileBytes(dir / "plain.exe", {'M', 'Z'});
    GavexPlayer player;
    EXPECT_EQ(RunPlayer(player, {"--executable", dir / "plain.exe", "--extract", dir / "v.mkv"}), kExitFailed);
    EXPECT_FALSE(std::filesystem::exists(dir / "v.mkv"));
}

TEST(GavexPlayer, WindowedModeNeedsADisplay)
{
    // ctest runs on Qt's offscreen platform: no window can be shown.
    GavexPlayer player;
    EXPECT_EQ(RunPlayer(player, {"--single", "0"}), kExitFailed);
}

}  // namespace
