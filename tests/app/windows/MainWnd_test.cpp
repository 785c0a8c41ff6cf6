// The main window on a private X server: its placement from the stored
// geometry, its first show, its close with the state saved (and the close an
// export refuses), the commands of later instances and the report of a
// render device that cannot be made.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include <QApplication>
#include <QMessageBox>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QGraphicsProxyWidget>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <boost/make_shared.hpp>

#include "app/GavexPlayer.h"
#include "config/QApplicationSettings.h"
#include "widgets/QCustomButton.h"
#include "widgets/QImageItem.h"
#include "gui/panels/QSettingsControlPanel.h"
#include "app/windows/QControlsGuiLayer.h"
#include "app/windows/QMainWnd.h"
#include "gui/timeline/QTimeSelector.h"
#include "platform/D3D9.h"
#include "playback/IPlayersController.h"
#include "render/D3DRendererDevice.h"
#include "render/NullRendererDevice.h"
#include "render/OGLRendererDevice.h"
#include "render/Renderer.h"
#include "support/TempDir.h"
#include "app/windows/XvfbDisplay.h"

namespace {

using gavex_test::TempDir;
using gavex_test::XvfbDisplay;

TEST(WindowGeometry, StoredRectanglesAreMovedAndClippedIntoTheScreens)
{
    const QRect area = UsableWindowArea({QRect(0, 0, 1280, 1024)}, 4, 24);
    EXPECT_EQ(area, QRect(QPoint(4, 24), QPoint(1275, 1019)));
    EXPECT_EQ(UsableWindowArea({QRect(0, 0, 1280, 1024), QRect(1280, 0, 1920, 1080)}, 0, 0),
              QRect(0, 0, 3200, 1080))
        << "screens side by side make one area";

    const struct {
        const char* what;
        QRect wanted;
        QRect placed;
    } cases[] = {
        {"inside stays", QRect(100, 100, 800, 600), QRect(100, 100, 800, 600)},
        {"default size at the origin", QRect(0, 0, 1024, 768), QRect(4, 24, 1024, 768)},
        {"past the top-left comes in", QRect(-200, -100, 800, 600), QRect(4, 24, 800, 600)},
        {"past the bottom-right comes back", QRect(1000, 900, 800, 600), QRect(476, 420, 800, 600)},
        {"on another screen that is gone", QRect(3000, 200, 800, 600), QRect(476, 200, 800, 600)},
        {"larger than the area covers it", QRect(100, 100, 2000, 1500), area},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitWindowIntoArea(c.wanted, area), c.placed) << c.what;
}

// The controller as the window drives it: records the calls; with a
// renderer it starts it on the window.
class RecordingController : public IPlayersController {
public:
    explicit RecordingController(std::shared_ptr<render::Renderer> renderer = nullptr)
        : m_renderer(std::move(renderer))
    {
    }
    void Initialize(const StartOptions& options, QWidget* target, const QRect& area) override
    {
        ++initialized;
        initialSource = options.source;
        this->target = target;
        if (m_renderer)
            m_renderer->Start(target, area);
    }
    void OpenSource(const StartOptions& options) override { opened.push_back(options.source); }
    void SaveState() override
    {
        ++saved;
        QApplicationSettings::Instance().Live.Layout = {3, 2, 1, 0};
    }
    int RunningExportTasks() const override { return exporting; }
    const std::shared_ptr<render::Renderer>& GetRenderer() const override { return m_renderer; }
    void SelectPlayer(size_t index) override { selected.push_back(static_cast<int>(index)); }

    int initialized = 0;
    int saved = 0;
    int exporting = 0;
    std::string initialSource;
    QWidget* target = nullptr;
    std::vector<std::string> opened;
    std::vector<int> selected;

private:
    std::shared_ptr<render::Renderer> m_renderer;
};

class PaintCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
    int paints = 0;
};

// One QApplication on its own X server per test; the settings go to a
// fresh file.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_x.Running());
        m_application = std::make_unique<QApplication>(m_argc, m_argv);
        QApplicationSettings& settings = QApplicationSettings::Instance();
        settings.CandidateFiles = {QString::fromStdString(SettingsPath()).toStdWString()};
        settings.WindowLeft = 0;
        settings.WindowTop = 0;
        settings.WindowWidth = 0;
        settings.WindowHeight = 0;
        settings.State = 0;
        settings.Live.TopMost = false;
        settings.Live.Layout.clear();
    }
    void TearDown() override { m_application.reset(); }

    std::string SettingsPath() const { return m_dir / "settings.xml"; }
    // The file as a fresh settings object reads it.
    std::unique_ptr<QApplicationSettings> ReadBack() const
    {
        auto read = std::make_unique<QApplicationSettings>();
        read->ReadFile(QString::fromStdString(SettingsPath()).toStdWString());
        return read;
    }
    static void Settle(int ms = 200)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    XvfbDisplay m_x;
    TempDir m_dir{"mainwnd"};
    int m_argc = 1;
    char m_name[8] = "test";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_application;
};

TEST_F(WindowTest, PlacesItselfFromTheStoredGeometry)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    ASSERT_EQ(screen, QRect(0, 0, 1280, 1024));
    QApplicationSettings& settings = QApplicationSettings::Instance();
    auto controller = std::make_shared<RecordingController>();

    {
        QMainWnd window(controller, nullptr, StartOptions());
        EXPECT_EQ(window.size(), QSize(1024, 768)) << "nothing stored";
        EXPECT_TRUE(screen.contains(window.geometry()));
        EXPECT_EQ(window.minimumSize(), QSize(960, 540));
    }
    const struct {
        const char* what;
        QRect stored;
        QSize size;
    } cases[] = {
        {"smaller than the minimum", QRect(50, 60, 400, 300), QSize(960, 540)},
        {"beyond the bottom-right", QRect(1200, 900, 1000, 700), QSize(1000, 700)},
        {"larger than the screen", QRect(10, 10, 3000, 2000), QSize()},
    };
    for (const auto& c : cases) {
        settings.WindowLeft = c.stored.left();
        settings.WindowTop = c.stored.top();
        settings.WindowWidth = c.stored.width();
        settings.WindowHeight = c.stored.height();
        QMainWnd window(controller, nullptr, StartOptions());
        EXPECT_TRUE(screen.contains(window.geometry())) << c.what << ": " << window.geometry().x() << ","
                                                        << window.geometry().y();
        if (c.size.isValid())
            EXPECT_EQ(window.size(), c.size) << c.what;
        else
            EXPECT_TRUE(window.width() > 1200 && window.height() > 900) << c.what << ": the whole usable area";
    }
    EXPECT_EQ(controller->initialized, 0) << "nothing starts before the first show";
}

TEST_F(WindowTest, CloseSavesGeometryStateAndLayoutUnlessAnExportRuns)
{
    QApplicationSettings& settings = QApplicationSettings::Instance();
    settings.WindowLeft = 40;
    settings.WindowTop = 50;
    settings.WindowWidth = 1000;
    settings.WindowHeight = 600;
    auto controller = std::make_shared<RecordingController>();
    StartOptions options;
    options.source = "/start";
    QMainWnd window(controller, nullptr, options);
    window.show();
    window.hide();
    window.show();
    Settle();
    EXPECT_EQ(controller->initialized, 1) << "only the first show";
    EXPECT_EQ(controller->initialSource, "/start");
    EXPECT_EQ(controller->target, &window);
    window.resize(1100, 650);
    Settle();

    controller->exporting = 2;
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible()) << "no close while an export runs";
    EXPECT_FALSE(window.IsClosing());
    EXPECT_EQ(controller->saved, 0);
    EXPECT_FALSE(std::filesystem::exists(SettingsPath())) << "nothing written";

    controller->exporting = 0;
    const QRect normal = window.normalGeometry();
    EXPECT_TRUE(window.close());
    EXPECT_TRUE(window.IsClosing());
    EXPECT_FALSE(window.HasController()) << "released at close";
    EXPECT_EQ(controller->saved, 1);
    ASSERT_TRUE(std::filesystem::exists(SettingsPath()));
    auto read = ReadBack();
    EXPECT_EQ(read->WindowLeft, normal.left());
    EXPECT_EQ(read->WindowTop, normal.top());
    EXPECT_EQ(read->WindowWidth, 1100);
    EXPECT_EQ(read->WindowHeight, 650);
    EXPECT_EQ(read->State, 0);
    EXPECT_EQ(read->Stored.Layout, (std::vector<int32_t>{3, 2, 1, 0})) << "the controller's state goes in the file";

    std::filesystem::remove(SettingsPath());
    window.show();
    EXPECT_TRUE(window.close()) << "a second close finds no controller";
    EXPECT_EQ(controller->saved, 1);
    EXPECT_FALSE(std::filesystem::exists(SettingsPath()));
}

TEST_F(WindowTest, MaximisedWindowKeepsItsNormalRectangle)
{
    auto controller = std::make_shared<RecordingController>();
    QMainWnd window(controller, nullptr, StartOptions());
    window.show();
    Settle();
    const QRect normal = window.normalGeometry();
    window.setWindowState(Qt::WindowMaximized);
    Settle();
    EXPECT_TRUE(window.close());
    auto read = ReadBack();
    EXPECT_EQ(read->State, static_cast<int>(Qt::WindowMaximized));
    EXPECT_EQ(QRect(read->WindowLeft, read->WindowTop, read->WindowWidth, read->WindowHeight), normal);

    // Reopened from that file: maximised again.
    QApplicationSettings& settings = QApplicationSettings::Instance();
    settings.State = read->State;
    QMainWnd again(std::make_shared<RecordingController>(), nullptr, StartOptions());
    EXPECT_TRUE(again.windowState().testFlag(Qt::WindowMaximized));
}

TEST_F(WindowTest, CommandsOfLaterInstances)
{
    auto controller = std::make_shared<RecordingController>();
    QMainWnd window(controller, nullptr, StartOptions());
    window.OnCommand("\"prog\" --source /early");
    window.OnCommand("shutdown");
    EXPECT_TRUE(controller->opened.empty()) << "ignored before the first show";
    EXPECT_FALSE(window.IsClosing());

    window.show();
    Settle();
    window.OnCommand("\"prog\" --source /other");
    window.OnCommand("\"prog\" --bogus");
    window.OnCommand("\"prog\" --help");
    window.OnCommand("\"prog\" --dump --source /dumped");
    EXPECT_EQ(controller->opened, (std::vector<std::string>{"/other", "/dumped"}))
        << "rejected lines and help are dropped; the dump switch does nothing here";
    EXPECT_TRUE(window.isVisible());

    controller->exporting = 1;
    window.OnCommand("shutdown");
    EXPECT_TRUE(window.isVisible()) << "no close while an export runs";
    controller->exporting = 0;
    window.OnCommand("shutdown");
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(controller->saved, 1);
}

// A source that gave nothing is reported in a warning box over the window
// once the call that opened it has returned; the window then takes the
// next source.
TEST_F(WindowTest, SourceWithoutChannelsIsReportedOverTheWindow)
{
    auto controller = std::make_shared<RecordingController>();
    QMainWnd window(controller, nullptr, StartOptions());
    window.show();
    Settle();
    QString shownText;
    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    bool shownDuringTheCall = false;
    controller->NothingToPlay("No video from \"/gone\": the path does not exist.");
    shownDuringTheCall = QApplication::activeModalWidget() != nullptr;
    QTimer::singleShot(300, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shownText = box->text();
            shownIcon = box->icon();
            box->done(QMessageBox::Ok);
        }
    });
    Settle(800);
    EXPECT_FALSE(shownDuringTheCall) << "the box waits for the event loop";
    EXPECT_EQ(shownText, "No video from \"/gone\": the path does not exist.");
    EXPECT_EQ(shownIcon, QMessageBox::Warning);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    window.OnCommand("\"prog\" --source /sample");
    EXPECT_EQ(controller->opened, (std::vector<std::string>{"/sample"})) << "the next source is taken";
    window.close();
}

TEST_F(WindowTest, TopMostFollowsTheSetting)
{
    QApplicationSettings& settings = QApplicationSettings::Instance();
    settings.Live.TopMost = true;
    QMainWnd window(std::make_shared<RecordingController>(), nullptr, StartOptions());
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    window.show();
    Settle();
    settings.Live.TopMost = false;
    window.ApplyTopMost();
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(window.isVisible()) << "shown again after the flag changed";
    window.close();
}

TEST_F(WindowTest, PaintsThePresentedPictureWithoutARepaintLoop)
{
    // A background of one colour, which the renderer tiles over the window.
    std::filesystem::create_directories(m_dir / "Resources");
    QImage background(16, 16, QImage::Format_RGB32);
    background.fill(QColor(30, 160, 90));
    ASSERT_TRUE(background.save(QString::fromStdString(m_dir / "Resources/Back_main.png")));
    auto renderer = std::make_shared<render::Renderer>(boost::make_shared<render::D3DRendererDevice>());
    renderer->SetResourceRoot(QString::fromStdString(m_dir.path() + "/"));
    auto controller = std::make_shared<RecordingController>(renderer);
    QMainWnd window(controller, nullptr, StartOptions());
    PaintCounter counter;
    window.installEventFilter(&counter);
    window.show();
    Settle(800);
    const auto device = boost::dynamic_pointer_cast<render::D3DRendererDevice>(renderer->GetDevice());
    const QImage front = device->FrontImage();
    ASSERT_FALSE(front.isNull()) << "the renderer presented into the window";
    const QImage shown = QGuiApplication::primaryScreen()->grabWindow(window.winId()).toImage();
    ASSERT_EQ(shown.size(), window.size());
    const QPoint probe(window.width() / 2, window.height() / 2);
    EXPECT_EQ(QColor(front.pixel(probe)), QColor(30, 160, 90));
    EXPECT_EQ(QColor(shown.pixel(probe)), QColor(30, 160, 90)) << "the X server shows what was presented";
    // Served from the presented picture, paints ask for no further pass.
    Settle(300);
    const int paintsBefore = counter.paints;
    Settle(500);
    EXPECT_LE(counter.paints - paintsBefore, 2) << "no repaint loop";
    window.close();
}

// The user's click travels from the window into the scene: the export mode
// button slides the export page in.
TEST_F(WindowTest, ExportModeButtonSlidesTheExportPageIn)
{
    QApplicationSettings::Instance().Live.ExportVideo = true;
    auto renderer = std::make_shared<render::Renderer>(boost::make_shared<render::NullRendererDevice>());
    QControlsGuiLayer layer(renderer);
    std::vector<bool> modes;
    layer.Signals().ExportModeChanged.connect([&](bool exportMode) { modes.push_back(exportMode); });
    QMainWnd window(std::make_shared<RecordingController>(renderer), &layer, StartOptions());
    window.show();
    Settle();
    ASSERT_EQ(layer.sceneRect().size(), QSizeF(window.size())) << "the layer follows the window";

    using Slot = QControlsGuiLayer::Slot;
    auto* settingsPanel = dynamic_cast<QSettingsControlPanel*>(layer.Control(Slot::SettingsControlPanel));
    ASSERT_NE(settingsPanel, nullptr);
    QCustomButton* button = settingsPanel->ExportModeButton();
    ASSERT_TRUE(button->isEnabled());
    const QPoint centre =
        settingsPanel->graphicsProxyWidget()->mapToScene(QPointF(button->geometry().center())).toPoint();
    QTest::mouseClick(&window, Qt::LeftButton, Qt::NoModifier, centre);
    EXPECT_EQ(modes, (std::vector<bool>{true}));
    EXPECT_EQ(layer.CurrentPage(), 1);
    QWidget* exportPanel = layer.Control(Slot::ExportPanel);
    QWidget* cameras = layer.Control(Slot::CameraSelector);
    EXPECT_TRUE(exportPanel->graphicsProxyWidget()->isVisible());
    EXPECT_TRUE(cameras->graphicsProxyWidget()->isVisible()) << "the play page is still sliding out";
    Settle(1200);
    EXPECT_TRUE(exportPanel->graphicsProxyWidget()->isVisible());
    EXPECT_FALSE(cameras->graphicsProxyWidget()->isVisible()) << "the play page slid out in 1000 ms";
    const QRectF page = exportPanel->graphicsProxyWidget()->geometry();
    EXPECT_EQ(page.left(), 0.0) << "the export page came to rest";
    auto* input1 = dynamic_cast<QTimeInputPanel*>(layer.Control(Slot::TimeInput1));
    ASSERT_NE(input1, nullptr);
    EXPECT_TRUE(input1->IsActive());
    EXPECT_TRUE(layer.IsTimeInputActive(0));
    window.close();
}

// Presses on a channel's picture select its player (the right button also
// opens its menu); a double click maximises it and restores it.
TEST_F(WindowTest, ChannelPressesSelectAndDoubleClicksZoom)
{
    auto renderer = std::make_shared<render::Renderer>(boost::make_shared<render::NullRendererDevice>());
    for (int i = 0; i < 4; ++i)
        renderer->AddPin();
    QControlsGuiLayer layer(renderer);
    auto controller = std::make_shared<RecordingController>(renderer);
    QMainWnd window(controller, &layer, StartOptions());
    window.show();
    Settle();
    QChannelsGrid& grid = layer.Grid();
    grid.CreateItems({}, {});
    Settle();
    const auto centre = [&](int channel) { return grid.ItemByChannel(channel)->sceneBoundingRect().center().toPoint(); };

    QTest::mouseClick(&window, Qt::LeftButton, Qt::NoModifier, centre(2));
    EXPECT_EQ(controller->selected, (std::vector<int>{2}));
    QTest::mouseClick(&window, Qt::RightButton, Qt::NoModifier, centre(3));
    EXPECT_EQ(controller->selected, (std::vector<int>{2, 3}));
    ASSERT_NE(grid.ItemByChannel(3)->Menu(), nullptr);
    EXPECT_TRUE(grid.ItemByChannel(3)->Menu()->isVisible()) << "the channel's menu";
    grid.ItemByChannel(3)->Menu()->hide();
    const QPoint belowTheGrid(window.width() / 2, layer.VideoArea().bottom() + 30);
    QTest::mouseClick(&window, Qt::LeftButton, Qt::NoModifier, belowTheGrid);
    EXPECT_EQ(controller->selected.size(), 2u) << "no channel there";

    QTest::mouseDClick(&window, Qt::LeftButton, Qt::NoModifier, centre(1));
    EXPECT_EQ(grid.MaximizedItem(), grid.ItemByChannel(1));
    Settle(600);
    QTest::mouseDClick(&window, Qt::LeftButton, Qt::NoModifier, centre(1));
    EXPECT_EQ(grid.MaximizedItem(), nullptr) << "restored";
    QTest::mouseDClick(&window, Qt::LeftButton, Qt::NoModifier, belowTheGrid);
    EXPECT_EQ(grid.MaximizedItem(), nullptr);
    window.close();
}

// In export mode a channel dragged from the grid becomes a snapshot that
// flies onto the export panel and reports the channel as an export source.
TEST_F(WindowTest, ChannelDraggedOntoTheExportPanelBecomesAnExportSource)
{
    QApplicationSettings::Instance().Live.ExportVideo = true;
    auto renderer = std::make_shared<render::Renderer>(boost::make_shared<render::NullRendererDevice>());
    for (int i = 0; i < 2; ++i)
        renderer->AddPin();
    QControlsGuiLayer layer(renderer);
    std::vector<int> sources;
    layer.Signals().ExportSourceSelected.connect([&](int channel) { sources.push_back(channel); });
    QMainWnd window(std::make_shared<RecordingController>(renderer), &layer, StartOptions());
    window.show();
    Settle();
    layer.Grid().CreateItems({}, {});
    layer.SwitchToExportMode();
    Settle(1200);
    const QPoint from = layer.Grid().ItemByChannel(1)->sceneBoundingRect().center().toPoint();
    const QPoint to = layer.ExportDropArea().center().toPoint();
    ASSERT_FALSE(layer.ExportDropArea().isEmpty());

    QTest::mousePress(&window, Qt::LeftButton, Qt::NoModifier, from);
    const int steps = 12;
    for (int i = 1; i <= steps; ++i) {
        const QPoint at = from + (to - from) * i / steps;
        QMouseEvent move(QEvent::MouseMove, at, window.mapToGlobal(at), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &move);
        QCoreApplication::processEvents();
    }
    const auto snapshots = [&] {
        int n = 0;
        for (QGraphicsItem* item : layer.items())
            n += dynamic_cast<QImageItem*>(item) != nullptr;
        return n;
    };
    EXPECT_EQ(snapshots(), 1) << "the channel's snapshot took over the drag";
    QTest::mouseRelease(&window, Qt::LeftButton, Qt::NoModifier, to);
    EXPECT_TRUE(sources.empty()) << "reported after the flight";
    Settle(900);
    EXPECT_EQ(sources, (std::vector<int>{1}));
    EXPECT_EQ(snapshots(), 0) << "the snapshot is gone";
    window.close();
}

// A render device that cannot be made: the program says so, saves and ends
// with 0 without running its event loop.
void ExpectDeviceFailureEndsTheProgram(const std::string& settingsPath,
                                       const std::function<render::DevicePtr()>& makeDevice)
{
    // Another run of this test binary may listen under the same name.
    QApplicationSettings::Instance().Live.SingleAppInstance = false;
    QString shownText;
    bool loopRan = false;
    GavexPlayer player({}, [&](const StartOptions& options) -> std::unique_ptr<QWidget> {
        QApplicationSettings::Instance().CandidateFiles = {QString::fromStdString(settingsPath).toStdWString()};
        auto renderer = std::make_shared<render::Renderer>(makeDevice());
        // Answers the modal message box, and notices a loop that runs.
        auto* answer = new QTimer(qApp);
        QObject::connect(answer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shownText = box->text();
                box->done(0);
            }
        });
        answer->start(50);
        QTimer::singleShot(3000, qApp, [&] {
            loopRan = true;
            QCoreApplication::quit();
        });
        return std::make_unique<QMainWnd>(std::make_shared<RecordingController>(renderer), nullptr, options);
    });
    std::string name = "Gavex_player_devicetest_" + std::to_string(::getpid());
    std::vector<char*> argv = {name.data(), nullptr};
    EXPECT_EQ(player.Run(1, argv.data()), 0);
    EXPECT_EQ(shownText, "No Direct3D device.");
    EXPECT_FALSE(loopRan);
    EXPECT_TRUE(std::filesystem::exists(settingsPath)) << "the settings are saved";
}

TEST_F(WindowTest, DeviceThatCannotBeMadeEndsTheProgramWithoutTheLoop)
{
    m_application.reset();  // the program makes its own
    ExpectDeviceFailureEndsTheProgram(SettingsPath(), [] {
        auto d3d = platform::d3d9::Direct3DCreate9(0);
        d3d->refAvailable = false;
        return boost::make_shared<render::D3DRendererDevice>(d3d);
    });
}

// The X server offers no OpenGL to this process (the fixture's display
// turns Qt's GL integration off): the OpenGL device cannot be made.
TEST_F(WindowTest, OpenGLDeviceWithoutGLEndsTheProgramWithoutTheLoop)
{
    m_application.reset();
    ExpectDeviceFailureEndsTheProgram(SettingsPath(), [] { return boost::make_shared<render::OGLRendererDevice>(); });
}

}  // namespace
