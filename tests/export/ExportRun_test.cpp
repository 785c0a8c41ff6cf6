// The players controller's export runs as the user starts them from the
// export panels, over the native fixture archive: the selection follows the
// finished tasks, the overall progress reaches 100 and the run completes;
// a cancel, a run without an engine and empty tasks. Then snapshots and a
// print of the captured scene.

#include "playback/PlayersController.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "NativeFixture.h"
#include "config/QApplicationSettings.h"
#include "config/StartOptions.h"
#include "gui/panels/ExportPanels.h"
#include "widgets/QCustomPrint.h"
#include "export/WindowlessExport.h"
#include "media/SourceConfiguration.h"
#include "playback/AudioPlayer.h"
#include "playback/AudioSink.h"
#include "playback/PlaybackGui.h"
#include "render/Renderer.h"
#include "support/RecordingDevice.h"
#include "support/TempDir.h"
#include "support/SilentSink.h"

namespace {

using namespace exporttest;

using testsupport::SilentSink;

// Runs the GUI thread's events until `done` holds; false when time ran out.
bool RunUntil(const std::function<bool()>& done, int seconds = 60)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void RunFor(int milliseconds)
{
    RunUntil([end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds)] {
        return std::chrono::steady_clock::now() > end;
    });
}

std::unique_ptr<playback::PlayersController> MakeController(const playback::PlaybackGui& gui)
{
    return std::make_unique<playback::PlayersController>(
        gui, playback::MakePlaybackRenderer(boost::make_shared<testsupport::RecordingDevice>()),
        std::make_shared<filters::AudioPlayer>(std::make_unique<SilentSink>()));
}

// The fixture archive opened as the user's native source, exporting into
// "out".
class ExportRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApplication();
        Storage::InstallExportEngineFactory();
        SettingsProfile& live = QApplicationSettings::Instance().Live;
        saved = live;
        live.SourceMode = ISourceConfiguration::DRIVES;
        live.VideoFolders[ISourceConfiguration::DRIVES] = {Wide(archive.first), Wide(archive.second)};
        live.Channels.clear();
        live.SourceNativeVideo = true;
        live.ExportFolder = Wide(out);
    }
    void TearDown() override
    {
        playback::SetExportEngineFactory({});
        QApplicationSettings::Instance().Live = saved;
    }

    void Open(playback::PlayersController& controller)
    {
        StartOptions options;
        options.source = archive.Source();
        controller.Initialize(options, nullptr, QRect(0, 0, 320, 240));
        ASSERT_TRUE(controller.GetFileSystem());
    }

    // Three tasks, one a row: camera 1 and camera 2 of the first volume,
    // camera 1 of the second; the first row selected.
    static void FillTasks(playback::IExportPanel& panel)
    {
        struct Row {
            const wchar_t* channel;
            int64_t from;
        };
        const Row rows[] = {{L"1", Base()}, {L"2", Base()}, {L"1", Base() + 3'600'000}};
        for (int row = 0; row < 3; ++row) {
            panel.SelectItem(row, false);
            panel.AddChannel(rows[row].channel, std::wstring(L"Camera ") + rows[row].channel);
            panel.SetTaskInterval(At(rows[row].from), At(rows[row].from + 3'600'000));
        }
        panel.SelectItem(0, false);
    }

    TwoVolumeArchive archive;
    std::string out = archive.dir / "out";
    SettingsProfile saved;
};

TEST_F(ExportRunTest, AllTasksMoveTheSelectionAndReachAHundredPercent)
{
    auto gui = std::make_shared<playback::HeadlessGui>();
    auto controller = MakeController(playback::HeadlessGui::Bundle(gui));
    Open(*controller);
    gui->ResetTasks();
    FillTasks(*gui);
    gui->ClearCalls();

    controller->ExportAllTasks();
    ASSERT_TRUE(RunUntil([&] { return !gui->Calls("SetEnabledState 1").empty(); })) << "the run never ended";
    EXPECT_EQ(controller->RunningExportTasks(), 0);

    EXPECT_EQ(gui->Calls("SelectItem"), (std::vector<std::string>{"SelectItem 0"}));
    EXPECT_EQ(gui->Calls("SelectTask"), (std::vector<std::string>{"SelectTask 1", "SelectTask 2"}));
    const std::vector<std::string> calls = gui->Calls();
    // Each task's row reaches 100 before the selection moves past it.
    for (const auto& [row, next] : {std::pair{0, "SelectTask 1"}, std::pair{1, "SelectTask 2"}}) {
        const auto done = std::find(calls.begin(), calls.end(), "SetProgressItem " + std::to_string(row) + " 100");
        const auto moved = std::find(calls.begin(), calls.end(), next);
        ASSERT_NE(done, calls.end()) << row;
        EXPECT_LT(done, moved) << row;
    }
    EXPECT_FALSE(gui->Calls("SetProgressItem 2 100").empty());
    const std::vector<std::string> processed = gui->Calls("Processed");
    ASSERT_FALSE(processed.empty());
    EXPECT_EQ(processed.front(), "Processed 0");
    EXPECT_EQ(processed.back(), "Processed 100");
    EXPECT_EQ(gui->Calls("Complete"), (std::vector<std::string>{"Complete"}));
    // A successful run shows no message.
    EXPECT_EQ(gui->Calls("Message"), (std::vector<std::string>{"Message "}));
    EXPECT_EQ(gui->Calls("SetEnabledState"), (std::vector<std::string>{"SetEnabledState 0 0 0 0 0 0", "SetEnabledState 1 1 1 1 1 0"}));

    auto copy = exporttest::Open(out);
    ASSERT_TRUE(copy);
    EXPECT_EQ(Channels(*copy), (std::vector<std::string>{"1", "2"}));
}

TEST_F(ExportRunTest, TasksWithoutChannelsAreSkipped)
{
    auto gui = std::make_shared<playback::HeadlessGui>();
    auto controller = MakeController(playback::HeadlessGui::Bundle(gui));
    Open(*controller);
    gui->ClearCalls();
    controller->StartExport({Task({}, Base(), Base() + 1000, 0), Task({"1"}, Base(), Base() + 3'600'000, 1),
                             Task({}, Base(), Base() + 1000, 2), Task({"2"}, Base(), Base() + 3'600'000, 3)});
    ASSERT_TRUE(RunUntil([&] { return !gui->Calls("SetEnabledState 1").empty(); }));
    // Two tasks ran: the first ends the batch's first half.
    const std::vector<std::string> processed = gui->Calls("Processed");
    EXPECT_EQ(std::count(processed.begin(), processed.end(), "Processed 50"), 1);
    EXPECT_EQ(processed.back(), "Processed 100");
    for (int row : {0, 2})
        EXPECT_TRUE(gui->Calls("SetProgressItem " + std::to_string(row) + " 100").empty()) << row;
    EXPECT_FALSE(gui->Calls("SetProgressItem 3 100").empty());
}

TEST_F(ExportRunTest, OnThePanelsTheRunEndsOnTheLastTaskAllDone)
{
    auto gui = std::make_shared<playback::HeadlessGui>();
    playback::PlaybackGui bundle = playback::HeadlessGui::Bundle(gui);
    auto panel = std::make_shared<QExportPanel>();
    auto control = std::make_shared<QExportControlPanel>();
    panel->resize(300, 90);
    bundle.exportPanel = panel;
    bundle.exportControl = control;
    auto controller = MakeController(bundle);
    Open(*controller);
    panel->ResetTasks();
    FillTasks(*panel);
    ASSERT_EQ(panel->CountTasks(), 3);
    std::vector<int> selected;
    panel->CurrentTaskChanged.connect([&] { selected.push_back(panel->CurrentIndex()); });
    int completed = 0;
    QObject::connect(control.get(), &QExportControlPanel::OnComplete, control.get(), [&] { ++completed; });

    // The user's click: the controller hears the bar and starts the run.
    QMetaObject::invokeMethod(control.get(), "on_AllTasks_clicked");
    EXPECT_TRUE(control->Cancel().isEnabled());
    ASSERT_TRUE(RunUntil([&] { return completed > 0 && controller->RunningExportTasks() == 0; }));
    // The last selection's animation.
    ASSERT_TRUE(RunUntil([&] { return panel->RollBox().MoveAnimation().state() == QAbstractAnimation::Stopped; }));

    EXPECT_EQ(panel->CurrentIndex(), 2);
    ASSERT_FALSE(selected.empty());
    EXPECT_EQ(selected.back(), 2);
    const auto list = panel->RollBox().GetList();
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(list->Item(row).progress, 100) << row;
        EXPECT_EQ(list->Item(row).done, 1) << row;
    }
    EXPECT_EQ(list->Item(3).progress, 0);
    EXPECT_EQ(control->Progress().Value(), 100);
    EXPECT_EQ(completed, 1);
    EXPECT_FALSE(control->Cancel().isEnabled());
    EXPECT_TRUE(control->Message().isHidden());
    EXPECT_FALSE(control->Progress().isHidden());
}

TEST_F(ExportRunTest, ACancelledRunShowsTheReasonInPlaceOfTheProgress)
{
    // The engine is stopped as soon as it reports the first task's progress.
    playback::SetExportEngineFactory([](const boost::shared_ptr<Storage::IVindaraFileSystem>& fs,
                                        const std::vector<boost::shared_ptr<filters::IVideoSource>>& channels) {
        auto engine = Storage::MakeExportEngine(fs, channels);
        Storage::IPlayerExport* raw = engine.get();
        engine->TaskProgress.connect([raw](const Storage::IPlayerExport&, int, const Storage::ExportTask&) {
            raw->Cancel();
        });
        return engine;
    });
    auto gui = std::make_shared<playback::HeadlessGui>();
    playback::PlaybackGui bundle = playback::HeadlessGui::Bundle(gui);
    auto panel = std::make_shared<QExportPanel>();
    auto control = std::make_shared<QExportControlPanel>();
    bundle.exportPanel = panel;
    bundle.exportControl = control;
    auto controller = MakeController(bundle);
    Open(*controller);
    panel->ResetTasks();
    FillTasks(*panel);
    int completed = 0;
    QObject::connect(control.get(), &QExportControlPanel::OnComplete, control.get(), [&] { ++completed; });

    controller->ExportAllTasks();
    ASSERT_TRUE(RunUntil([&] { return completed > 0 && controller->RunningExportTasks() == 0; }));
    RunFor(50);
    EXPECT_EQ(control->Message().text(), "Cancelled by user");
    EXPECT_FALSE(control->Message().isHidden());
    EXPECT_TRUE(control->Progress().isHidden());
    EXPECT_TRUE(control->Cancel().isHidden());
    EXPECT_EQ(gui->Calls("SetEnabledState").back(), "SetEnabledState 1 1 1 1 1 0");
    EXPECT_EQ(panel->RollBox().GetList()->Item(2).done, 0);
}

TEST_F(ExportRunTest, WithoutAnEngineTheRunEndsAsFailedAtOnce)
{
    playback::SetExportEngineFactory(
        [](const auto&, const auto&) { return boost::shared_ptr<Storage::IPlayerExport>(); });
    auto gui = std::make_shared<playback::HeadlessGui>();
    auto controller = MakeController(playback::HeadlessGui::Bundle(gui));
    Open(*controller);
    gui->ResetTasks();
    FillTasks(*gui);
    gui->ClearCalls();

    controller->ExportCurrentTask();
    EXPECT_EQ(controller->RunningExportTasks(), 0);
    EXPECT_EQ(gui->Calls("SetEnabledState"), (std::vector<std::string>{"SetEnabledState 0 0 0 0 0 0", "SetEnabledState 1 1 1 1 1 0"}));
    EXPECT_EQ(gui->Calls("Complete"), (std::vector<std::string>{"Complete"}));
    EXPECT_FALSE(QDir(QString::fromStdString(out)).exists());
}

// Snapshots and prints capture the rendered scene; the recording device
// reads back every pixel in one dark colour.
class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApplication();
        saved = QApplicationSettings::Instance().Live;
    }
    void TearDown() override { QApplicationSettings::Instance().Live = saved; }

    gavex_test::TempDir dir{"export-capture"};
    SettingsProfile saved;
};

TEST_F(CaptureTest, SnapshotsOfOneSecondAreNumberedInsideTheFolder)
{
    const QDateTime stamp(QDate(2026, 3, 14), QTime(10, 20, 30));
    for (const std::string& folder : {dir / "shots", dir / "slashed/"}) {
        SCOPED_TRACE(folder);
        QApplicationSettings::Instance().Live.ExportFolder = Wide(folder);
        auto gui = std::make_shared<playback::HeadlessGui>();
        auto controller = MakeController(playback::HeadlessGui::Bundle(gui));
        controller->GetRenderer()->Start(nullptr, QRect(0, 0, 64, 48));
        controller->SetSnapshotClock([&] { return stamp; });
        controller->SaveScreenshot();
        controller->SaveScreenshot();
        controller->GetRenderer()->Stop();

        EXPECT_EQ(gui->Calls("PrepareCapture").size(), 2u);
        const QDir shots(QString::fromStdString(folder));
        EXPECT_EQ(shots.entryList(QDir::Files, QDir::Name),
                  (QStringList{"14-03-2026 10-20-30 1.jpg", "14-03-2026 10-20-30.jpg"}));
        const QImage image(shots.filePath("14-03-2026 10-20-30.jpg"));
        EXPECT_EQ(image.size(), QSize(64, 48));
    }
    // Nothing landed beside the folders.
    EXPECT_EQ(QDir(QString::fromStdString(dir.path())).entryList(QDir::Files), QStringList());
}

TEST_F(CaptureTest, APrintHasOnePageWithTheSceneAtTheLeft)
{
    const QString pdf = QString::fromStdString(dir / "print.pdf");
    auto gui = std::make_shared<playback::HeadlessGui>();
    playback::PlaybackGui bundle = playback::HeadlessGui::Bundle(gui);
    // The layer prints through the preview's page painting into a PDF in
    // place of showing the preview.
    class Controls final : public playback::IControlsLayer {
    public:
        explicit Controls(QString path) : path(std::move(path)) {}
        void StartPrevFrameAlpha() override {}
        void StopPrevFrameAlpha() override {}
        void StopPrevFrameFade() override {}
        void SetPrevFrameAlpha(int32_t) override {}
        void InvalidateAll() override {}
        void RenderDirty() override {}
        void PostNewFile(int32_t) override {}
        void BrowseSources() override {}
        void PrepareCapture() override { ++prepared; }
        void PrintImage(const QString& printTitle, const QImage& image) override
        {
            title = printTitle;
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(path);
            printer.setPageSize(QPageSize(QPageSize::A4));
            printer.setPageOrientation(QPageLayout::Portrait);
            QCustomPrint print(nullptr, image);
            print.printPreview(&printer);
        }
        QString path;
        QString title;
        int prepared = 0;
    };
    auto controls = std::make_shared<Controls>(pdf);
    bundle.controls = controls;
    auto controller = MakeController(bundle);
    // A scene twice as high as wide: on a portrait page it fills the
    // height and leaves the right of the page blank.
    controller->GetRenderer()->Start(nullptr, QRect(0, 0, 100, 200));
    controller->PrintFrame();
    controller->GetRenderer()->Stop();
    EXPECT_EQ(controls->prepared, 1);
    EXPECT_EQ(controls->title, "Print");
    ASSERT_TRUE(QFile::exists(pdf));

    QProcess info;
    info.start("pdfinfo", {pdf});
    ASSERT_TRUE(info.waitForFinished(30000));
    EXPECT_TRUE(QString::fromUtf8(info.readAllStandardOutput()).contains(QRegularExpression("Pages:\\s+1\\n")));

    const QString prefix = QString::fromStdString(dir / "page");
    QProcess render;
    render.start("pdftoppm", {"-r", "20", "-gray", "-singlefile", pdf, prefix});
    ASSERT_TRUE(render.waitForFinished(30000));
    ASSERT_EQ(render.exitCode(), 0) << render.readAllStandardError().toStdString();
    const QImage page(prefix + ".pgm");
    ASSERT_FALSE(page.isNull());
    const int middle = page.height() / 2;
    EXPECT_LT(qGray(page.pixel(page.width() * 15 / 100, middle)), 60);
    EXPECT_LT(qGray(page.pixel(page.width() * 50 / 100, middle)), 60);
    EXPECT_GT(qGray(page.pixel(page.width() * 90 / 100, middle)), 200);
}

}  // namespace
