// The controls layer off screen: its layout over the channel grid, the play
// and export modes with their signals, the enabled state, the previous-frame
// fade, the calls that cross threads and the start of an export drag.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <QApplication>
#include <QGraphicsProxyWidget>
#include <QWidget>
#include <boost/make_shared.hpp>

#include "config/QApplicationSettings.h"
#include "widgets/QBasePanel.h"
#include "widgets/QCustomButton.h"
#include "app/windows/QControlsGuiLayer.h"
#include "render/NullRendererDevice.h"
#include "render/Renderer.h"

namespace {

using Slot = QControlsGuiLayer::Slot;

// A time line that is only an address.
class NoTimeLine : public playback::ITimeLineControl {
public:
    void SetIntervals(const std::shared_ptr<utils::TimeConverter>&) override {}
    void ClearIntervals() override {}
    void SetPosition(int64_t) override {}
    void SetCutSelectionMode(playback::ECutSelectionMode) override {}
    void SetSelectionBegin(int64_t) override {}
    void SetSelectionEnd(int64_t) override {}
    void ClearSelection() override {}
};

// A time input as the layer sees one: its selector and its activation.
class FakeTimeInput : public QWidget, public playback::ITimeInputPanel {
public:
    FakeTimeInput() { setFixedSize(150, 40); }
    playback::ITimeLineControl& Selector() override { return selector; }
    int64_t CurrentTime() const override { return 0; }
    bool IsActive() const override { return false; }
    void Activate() override { Activated(); }
    NoTimeLine selector;
};

class ControlsLayerTest : public ::testing::Test {
protected:
    ControlsLayerTest()
    {
        QApplicationSettings::Instance().Live.ExportVideo = true;
        layer = std::make_unique<QControlsGuiLayer>(renderer, [this](Slot slot, QControlsGuiLayer&) -> QWidget* {
            if (slot == Slot::TimeInput1)
                return input1 = new FakeTimeInput;
            if (slot == Slot::TimeInput2)
                return input2 = new FakeTimeInput;
            // The rows' heights, whatever skin the test finds.
            if (slot == Slot::SelectedTimeLine || slot == Slot::UnitedTimeLine) {
                auto* strip = new QWidget;
                strip->setFixedHeight(slot == Slot::SelectedTimeLine ? 60 : 50);
                return strip;
            }
            return nullptr;
        });
        layer->Signals().ExportModeChanged.connect(
            [this](bool exportMode) { events.push_back(exportMode ? "export" : "play"); });
        layer->Signals().ActiveTimeLineChanged.connect([this](playback::ITimeLineControl* timeLine) {
            events.push_back(timeLine == nullptr                ? "none"
                             : timeLine == &input1->selector    ? "input1"
                             : timeLine == &input2->selector    ? "input2"
                                                                : "other");
        });
    }

    static void Spin(int ms)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    int m_argc = 1;
    char m_name[8] = "test";
    char* m_argv[2] = {m_name, nullptr};
    QApplication application{m_argc, m_argv};
    std::shared_ptr<render::Renderer> renderer =
        std::make_shared<render::Renderer>(boost::make_shared<render::NullRendererDevice>());
    FakeTimeInput* input1 = nullptr;
    FakeTimeInput* input2 = nullptr;
    std::unique_ptr<QControlsGuiLayer> layer;
    std::vector<std::string> events;
};

TEST_F(ControlsLayerTest, LaysThePanelsOutAroundTheVideoArea)
{
    layer->Resize(QSize(1200, 800));
    EXPECT_EQ(layer->sceneRect(), QRectF(0, 0, 1200, 800));
    const QRect video = layer->VideoArea();
    EXPECT_EQ(video, layer->Grid().geometry().toRect());
    EXPECT_EQ(video.topLeft(), QPoint(0, 0));
    EXPECT_EQ(video.width(), 1200);
    // Row 2 is as high as its highest panel: the 60 px strip or a skinned one.
    const int row2 = std::max(60, QBasePanel().minimumHeight());
    EXPECT_EQ(video.height(), 800 - row2 - 50) << "the panel rows lie below the video area";
    EXPECT_EQ(layer->ClearRect(), video) << "only the video area is cleared";
    EXPECT_EQ(layer->Control(Slot::ExportControlPanel)->width(), 1199 / 2 - 150 - 80 + 2);
    for (Slot slot : {Slot::SourceBrowser, Slot::SettingsPanel, Slot::ExportTaskSettings})
        EXPECT_EQ(layer->Control(slot)->size(), video.size()) << "the sliding panels cover the video area";

    // The renderer's geometry is the layer's size.
    renderer->SetGeometry(QRect(0, 0, 1000, 700));
    EXPECT_EQ(layer->sceneRect(), QRectF(0, 0, 1000, 700));
    EXPECT_EQ(layer->VideoArea().width(), 1000);
    EXPECT_EQ(layer->Control(Slot::ExportControlPanel)->width(), 999 / 2 - 150 - 80 + 2);
}

TEST_F(ControlsLayerTest, ModesSwitchPagesAndTheActiveTimeInput)
{
    layer->Resize(QSize(1200, 800));
    EXPECT_EQ(layer->CurrentPage(), 0);
    EXPECT_TRUE(layer->Control(Slot::CameraSelector)->isVisible() ||
                layer->Control(Slot::CameraSelector)->graphicsProxyWidget()->isVisible());
    EXPECT_FALSE(layer->Control(Slot::ExportPanel)->graphicsProxyWidget()->isVisible());

    layer->SwitchToExportMode();
    EXPECT_EQ(layer->CurrentPage(), 1);
    EXPECT_TRUE(layer->Grid().ExportMode());
    EXPECT_TRUE(layer->Control(Slot::ExportPanel)->graphicsProxyWidget()->isVisible());
    EXPECT_TRUE(layer->Control(Slot::CameraSelector)->graphicsProxyWidget()->isVisible()) << "sliding out";
    Spin(1100);
    EXPECT_FALSE(layer->Control(Slot::CameraSelector)->graphicsProxyWidget()->isVisible()) << "slid out";
    EXPECT_TRUE(layer->Control(Slot::ExportPanel)->graphicsProxyWidget()->isVisible());
    EXPECT_TRUE(layer->IsTimeInputActive(0));
    EXPECT_EQ(events, (std::vector<std::string>{"export", "input1"}));

    events.clear();
    layer->SwitchToExportMode();
    EXPECT_EQ(events, (std::vector<std::string>{"export"})) << "input 1 is active already";

    events.clear();
    input2->Activate();
    EXPECT_FALSE(layer->IsTimeInputActive(0));
    EXPECT_TRUE(layer->IsTimeInputActive(1));
    EXPECT_EQ(events, (std::vector<std::string>{"input2"}));

    events.clear();
    layer->SwitchToPlayMode();
    EXPECT_EQ(layer->CurrentPage(), 0);
    EXPECT_FALSE(layer->Grid().ExportMode());
    EXPECT_FALSE(layer->IsTimeInputActive(0));
    EXPECT_FALSE(layer->IsTimeInputActive(1));
    EXPECT_EQ(events, (std::vector<std::string>{"play", "none"}));
}

TEST_F(ControlsLayerTest, EnabledStateFollowsItsSixFlags)
{
    layer->SwitchToExportMode();
    events.clear();
    layer->ApplyEnabledState({true, true, false, true, false, false});
    EXPECT_EQ(layer->CurrentPage(), 0) << "export not allowed: back to the play page";
    EXPECT_EQ(events, (std::vector<std::string>{"play", "none"}));
    EXPECT_TRUE(layer->Control(Slot::SelectedTimeLine)->isEnabled());
    EXPECT_TRUE(layer->Control(Slot::ExportPanel)->isEnabled());
    EXPECT_FALSE(input1->isEnabled());
    EXPECT_FALSE(input2->isEnabled());
    EXPECT_FALSE(layer->ShotButton()->isEnabled());
    EXPECT_FALSE(layer->PrintButton()->isEnabled());
    EXPECT_TRUE(layer->Control(Slot::SettingsControlPanel)->isEnabled());

    events.clear();
    layer->ApplyEnabledState({false, false, true, false, true, true});
    EXPECT_TRUE(events.empty()) << "the play page stays";
    for (Slot slot : {Slot::SelectedTimeLine, Slot::UnitedTimeLine, Slot::TimeSelector, Slot::CameraSelector,
                      Slot::PlayControlPanel, Slot::ExportPanel})
        EXPECT_FALSE(layer->Control(slot)->isEnabled()) << static_cast<int>(slot);
    EXPECT_TRUE(input1->isEnabled());
    EXPECT_TRUE(layer->ShotButton()->isEnabled());
    EXPECT_FALSE(layer->Control(Slot::SettingsControlPanel)->isEnabled());

    // The controller's record reaches the widgets through the interface.
    playback::EnabledGui state;
    state.configuration = true;
    layer->Interface()->SetEnabledState(state);
    QCoreApplication::processEvents();
    EXPECT_FALSE(layer->Control(Slot::PlayControlPanel)->isEnabled());
    EXPECT_TRUE(layer->Control(Slot::SettingsControlPanel)->isEnabled());
    state.playback = true;
    state.capture = true;
    layer->Interface()->SetEnabledState(state);
    QCoreApplication::processEvents();
    EXPECT_TRUE(layer->Control(Slot::PlayControlPanel)->isEnabled());
    EXPECT_TRUE(layer->ShotButton()->isEnabled());
}

TEST_F(ControlsLayerTest, PreviousFrameFadeDrivesTheRenderer)
{
    playback::IControlsLayer& controls = *layer->Interface();
    controls.SetPrevFrameAlpha(100);
    EXPECT_EQ(renderer->GetPrevFrameAlpha(), 100);
    EXPECT_EQ(layer->property("PrevFrameAlpha").toInt(), 0) << "the property reads 0";

    controls.StartPrevFrameAlpha();
    Spin(60);
    const int midway = renderer->GetPrevFrameAlpha();
    EXPECT_GT(midway, 0);
    EXPECT_LT(midway, 256);
    controls.StopPrevFrameFade();
    EXPECT_EQ(renderer->GetPrevFrameAlpha(), 255) << "a step shows the new frame alone";
    Spin(100);
    EXPECT_EQ(renderer->GetPrevFrameAlpha(), 255) << "the fade stopped";

    controls.StartPrevFrameAlpha();
    Spin(700);
    EXPECT_EQ(renderer->GetPrevFrameAlpha(), 0) << "faded out after 500 ms";
}

TEST_F(ControlsLayerTest, RequestsReachTheControllerOnTheGuiThread)
{
    int screenshots = 0;
    int prints = 0;
    std::vector<std::pair<int, std::thread::id>> files;
    layer->Signals().ScreenshotRequested.connect([&] { ++screenshots; });
    layer->Signals().PrintRequested.connect([&] { ++prints; });
    layer->Signals().FileOpened.connect([&](int channel) { files.emplace_back(channel, std::this_thread::get_id()); });

    layer->ShotButton()->click();
    layer->PrintButton()->click();
    layer->PrintButton()->click();
    EXPECT_EQ(screenshots, 1);
    EXPECT_EQ(prints, 2);

    std::thread reader([&] { layer->Interface()->PostNewFile(3); });
    reader.join();
    EXPECT_TRUE(files.empty()) << "queued to the GUI thread";
    QCoreApplication::processEvents();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].first, 3);
    EXPECT_EQ(files[0].second, std::this_thread::get_id());
}

TEST_F(ControlsLayerTest, ChangedSceneAreasAreRepaintedOnTheNextTick)
{
    layer->Resize(QSize(1000, 700));
    layer->RenderDirty();
    ASSERT_TRUE(layer->DirtyRects().empty());
    layer->Control(Slot::UnitedTimeLine)->update();
    Spin(100);
    EXPECT_TRUE(layer->DirtyRects().empty()) << "the 16 ms timer repainted them";
    EXPECT_FALSE(layer->LayerImage().isNull());
    EXPECT_EQ(layer->LayerImage().size(), QSize(1000, 700));
}

// Dragging a channel in export mode turns its picture into a snapshot that
// takes over the drag; without a picture or with the export panel off,
// nothing starts.
TEST_F(ControlsLayerTest, ExportDragStartsFromTheChannelsPicture)
{
    std::vector<std::pair<QSize, int>> snapshots;
    layer->SetDragImageFactory([&](const QImage& image, int channel) -> QGraphicsItem* {
        snapshots.emplace_back(image.size(), channel);
        return new QGraphicsRectItem(QRectF(QPointF(0, 0), QSizeF(image.size())));
    });
    renderer->AddPin();
    renderer->AddPin();
    layer->Resize(QSize(1000, 700));
    layer->Grid().CreateItems({}, {});
    layer->SwitchToExportMode();
    layer->RenderDirty();  // the pins take the items' rectangles
    QVideoItem* item = layer->Grid().ItemByChannel(1);
    ASSERT_NE(item, nullptr);
    const QRect pinRect = renderer->GetPin(1)->GetRect();
    ASSERT_FALSE(pinRect.isEmpty());
    const QPointF inside(10, 10);
    const int items = layer->items().size();

    layer->OnItemMoved(item, inside);
    EXPECT_TRUE(snapshots.empty()) << "the renderer has no picture while it does not run";
    EXPECT_EQ(layer->items().size(), items);

    QWidget target;
    renderer->Start(&target, QRect(0, 0, 1000, 700));
    layer->Control(Slot::ExportPanel)->setEnabled(false);
    layer->OnItemMoved(item, inside);
    EXPECT_TRUE(snapshots.empty()) << "the export panel is off";

    layer->Control(Slot::ExportPanel)->setEnabled(true);
    layer->OnItemMoved(item, QPointF(-5000, -5000));
    EXPECT_TRUE(snapshots.empty()) << "outside the channel's picture";

    layer->OnItemMoved(item, inside);
    ASSERT_EQ(snapshots.size(), 1u);
    EXPECT_EQ(snapshots[0].first, pinRect.size());
    EXPECT_EQ(snapshots[0].second, 1);
    EXPECT_EQ(layer->items().size(), items + 1) << "the snapshot is in the scene";
    renderer->Stop();
}

}  // namespace
