// The least main window: the controller starts on its first show; commands
// of other instances open sources or close it.

#include <gtest/gtest.h>

#include <QApplication>

#include "app/core/QApplicationSettings.h"
#include "app/windows/QMainWnd.h"
#include "playback/IPlayersController.h"
#include "support/TempDir.h"

namespace {

class RecordingController : public IPlayersController {
public:
    void Initialize(const StartOptions& options, QWidget* target, const QRect&) override
    {
        ++initialized;
        initialSource = options.source;
        this->target = target;
    }
    void OpenSource(const StartOptions& options) override { opened.push_back(options.source); }
    void SaveState() override { ++saved; }
    int RunningExportTasks() const override { return exporting; }

    int initialized = 0;
    int saved = 0;
    int exporting = 0;
    std::string initialSource;
    QWidget* target = nullptr;
    std::vector<std::string> opened;
};

TEST(MainWnd, StartsTheControllerAndFollowsCommands)
{
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    gavex_test::TempDir dir("mainwnd");
    QApplicationSettings::Instance().CandidateFiles = {QString::fromStdString(dir / "s.xml").toStdWString()};

    auto controller = std::make_shared<RecordingController>();
    StartOptions options;
    options.source = "/start";
    QMainWnd window(controller, options);
    EXPECT_EQ(controller->initialized, 0);
    window.show();
    window.hide();
    window.show();
    EXPECT_EQ(controller->initialized, 1) << "only the first show";
    EXPECT_EQ(controller->initialSource, "/start");
    EXPECT_EQ(controller->target, &window);

    window.OnCommand("\"prog\" --source /other");
    window.OnCommand("\"prog\" --bogus");
    window.OnCommand("\"prog\" --help");
    window.OnCommand("\"prog\" --dump --source /dumped");
    EXPECT_EQ(controller->opened, (std::vector<std::string>{"/other", "/dumped"}))
        << "rejected lines and help are dropped; the dump switch does nothing here";
    EXPECT_TRUE(window.isVisible());

    controller->exporting = 2;
    window.OnCommand("shutdown");
    EXPECT_TRUE(window.isVisible()) << "no close while an export runs";
    EXPECT_EQ(controller->saved, 0);
    controller->exporting = 0;
    window.OnCommand("shutdown");
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(controller->saved, 1);
    EXPECT_TRUE(std::filesystem::exists(dir / "s.xml")) << "the settings are saved at close";
}

}  // namespace
