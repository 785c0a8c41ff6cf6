// The sliding configuration panels and the settings column: the slide, the
// settings panel's load, Cancel and Apply over a settings object and a
// renderer with two channels, and the column's buttons.

#include <QGraphicsProxyWidget>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QPushButton>
#include <QResizeEvent>
#include <QSignalSpy>
#include <QTest>
#include <boost/make_shared.hpp>

#include <gtest/gtest.h>

#include "config/QApplicationSettings.h"
#include "widgets/QCustomButton.h"
#include "widgets/QCustomComboBox.h"
#include "gui/panels/QSettingsControlPanel.h"
#include "gui/panels/QSettingsPanel.h"
#include "render/NullRendererDevice.h"
#include "render/Renderer.h"
#include "render/Titles.h"

namespace {

// The settings each option box edits, in box order.
std::vector<SettingValue<bool>*> OptionValues(QApplicationSettings& s)
{
    return {&s.Debug,        &s.Deinterlacing,   &s.SkipFrames,          &s.Live.TopMost,
            &s.Live.SingleAppInstance, &s.Live.ShowTitles, &s.RememberVideoSource, &s.Antialiasing,
            &s.Watermark,    &s.Live.ShowTracks};
}

QStringList Items(const QComboBox* box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

class SettingsPanelTest : public ::testing::Test {
protected:
    SettingsPanelTest() : renderer(boost::make_shared<render::NullRendererDevice>()), panel(&renderer, settings)
    {
        settings.Live.Channels = {L"cam-a", L"cam-b"};
        settings.Live.ExportFolder = L"/export/";
        settings.Live.FrameBufferForDecode = 3;
        settings.Live.CamSettings[L"cam-a"] = CameraSettings{4, 1, 1, 90, {}};
        // cam-b has no entry yet.
        for (const wchar_t* name : {L"Gate", L"Yard"})
            renderer.AddPin()->GetTitles()->SetTitleText(0, name);
        const bool values[] = {true, false, true, true, false, true, false, false, true, true};
        for (std::size_t i = 0; i < 10; ++i)
            *OptionValues(settings)[i] = values[i];
        panel.Setup(nullptr);
        panel.SetArea(QSize(640, 360));
    }

    QPushButton* Button(const char* name) { return panel.findChild<QPushButton*>(name); }
    QCustomComboBox* Combo(QSettingsPanel::Box box) { return panel.Combo(box); }

    QApplicationSettings settings;
    render::Renderer renderer;
    QSettingsPanel panel;
};

TEST_F(SettingsPanelTest, BuildsTheNamedBoxesAndLensList)
{
    EXPECT_EQ(panel.findChild<QWidget*>("ExportPanel")->parent(), &panel);
    EXPECT_EQ(panel.ExportFolderEdit().objectName(), "lblChooseSource");
    ASSERT_NE(Button("applySettingButton"), nullptr);
    ASSERT_NE(Button("cancelSettingButton"), nullptr);
    EXPECT_FALSE(Button("applySettingButton")->isEnabled());
    EXPECT_EQ(Items(Combo(QSettingsPanel::LensBox)),
              QStringList({"None", "Standard fisheye lens", "Auto calibrated", "A1UST", "A8TRT", "B0QQV", "B4QQV",
                           "B5SST", "B6SST"}));
    EXPECT_EQ(Items(Combo(QSettingsPanel::PositionBox)), QStringList({"Ceiling", "Wall", "Floor"}));
    EXPECT_EQ(Items(Combo(QSettingsPanel::DisplayBox)), QStringList({"PTZ", "Perimeter"}));
    EXPECT_EQ(Items(Combo(QSettingsPanel::FrameBufferBox)), QStringList({"5", "3"}));
    EXPECT_EQ(panel.Option(0).text(), "Is debug");
    EXPECT_EQ(panel.Option(9).text(), "Show tracks");
    // Starts hidden above the scene.
    EXPECT_FALSE(panel.IsShown());
    EXPECT_EQ(panel.geometry(), QRect(0, -360, 640, 360));
}

TEST_F(SettingsPanelTest, ShowLoadsTheSettingsAndTheCameras)
{
    QSignalSpy shown(&panel, &QAbstractConfigurationPanel::OnShowPanel);
    panel.ShowPanel();
    EXPECT_EQ(shown.count(), 1);
    const std::vector<SettingValue<bool>*> values = OptionValues(settings);
    for (int i = 0; i < QSettingsPanel::OptionCount; ++i)
        EXPECT_EQ(panel.Option(i).isChecked(), values[static_cast<std::size_t>(i)]->load()) << "box " << i;
    EXPECT_EQ(panel.ExportFolderEdit().text(), "/export/");
    EXPECT_TRUE(Button("applySettingButton")->isEnabled());
    EXPECT_EQ(Combo(QSettingsPanel::FrameBufferBox)->currentText(), "3");
    EXPECT_EQ(Items(Combo(QSettingsPanel::CameraBox)), QStringList({"Gate", "Yard"}));
    // Channel 0's camera settings fill the boxes; the second camera gets defaults.
    EXPECT_EQ(Combo(QSettingsPanel::LensBox)->currentIndex(), 4);
    EXPECT_EQ(Combo(QSettingsPanel::PositionBox)->currentIndex(), 1);
    EXPECT_EQ(Combo(QSettingsPanel::DisplayBox)->currentIndex(), 1);
    ASSERT_EQ(panel.WorkingCameraSettings().size(), 2u);
    EXPECT_EQ(panel.WorkingCameraSettings()[1].Lens, 0);
    // A second show while shown reloads nothing.
    panel.ShowPanel();
    EXPECT_EQ(shown.count(), 1);
}

TEST_F(SettingsPanelTest, CancelHidesAndTheNextShowReloadsTheStoredSettings)
{
    panel.ShowPanel();
    for (int i = 0; i < QSettingsPanel::OptionCount; ++i)
        panel.Option(i).click();
    panel.ExportFolderEdit().setText("/elsewhere/");
    Combo(QSettingsPanel::FrameBufferBox)->setCurrentIndex(0);
    Combo(QSettingsPanel::LensBox)->setCurrentIndex(2);

    QSignalSpy hidden(&panel, &QAbstractConfigurationPanel::OnHidePanel);
    Button("cancelSettingButton")->click();
    EXPECT_EQ(hidden.count(), 1);
    EXPECT_FALSE(panel.IsShown());
    EXPECT_EQ(settings.Live.ExportFolder, L"/export/");
    EXPECT_EQ(settings.Live.FrameBufferForDecode.load(), 3);
    EXPECT_EQ(settings.Live.CamSettings[L"cam-a"].Lens, 4);

    panel.ShowPanel();
    const std::vector<SettingValue<bool>*> values = OptionValues(settings);
    for (int i = 0; i < QSettingsPanel::OptionCount; ++i)
        EXPECT_EQ(panel.Option(i).isChecked(), values[static_cast<std::size_t>(i)]->load()) << "box " << i;
    EXPECT_EQ(panel.ExportFolderEdit().text(), "/export/");
    EXPECT_EQ(Combo(QSettingsPanel::FrameBufferBox)->currentText(), "3");
    EXPECT_EQ(Combo(QSettingsPanel::LensBox)->currentIndex(), 4);
}

TEST_F(SettingsPanelTest, ApplyStoresEverythingHidesAndUnchecksBothColumnButtons)
{
    // The controls layer's wiring: a hide unchecks the column's buttons.
    QSettingsControlPanel column(settings);
    QObject::connect(&panel, &QAbstractConfigurationPanel::OnHidePanel, [&] { column.UncheckButtons(); });
    column.SettingsButton()->setChecked(true);
    column.SourceBrowserButton()->setChecked(true);
    std::vector<int> visibility;
    for (int i = 0; i < 2; ++i)
        renderer.GetPin(i)->GetTitles()->VisibilityChanged.connect([&visibility, i](bool v) {
            if (v)
                visibility.push_back(i);
        });

    panel.ShowPanel();
    for (int i = 0; i < QSettingsPanel::OptionCount; ++i)
        panel.Option(i).click();
    panel.ExportFolderEdit().setText("/new/folder/");
    Combo(QSettingsPanel::FrameBufferBox)->setCurrentIndex(0);
    Combo(QSettingsPanel::LensBox)->setCurrentIndex(3);
    Combo(QSettingsPanel::CameraBox)->setCurrentIndex(1);
    Combo(QSettingsPanel::LensBox)->setCurrentIndex(8);
    Combo(QSettingsPanel::PositionBox)->setCurrentIndex(2);
    Combo(QSettingsPanel::DisplayBox)->setCurrentIndex(1);

    const bool before[] = {true, false, true, true, false, true, false, false, true, true};
    ASSERT_TRUE(Button("applySettingButton")->isEnabled());
    Button("applySettingButton")->click();

    const std::vector<SettingValue<bool>*> values = OptionValues(settings);
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(values[i]->load(), !before[i]) << "setting " << i;
    EXPECT_EQ(settings.Live.ExportFolder, L"/new/folder/");
    EXPECT_EQ(settings.Live.FrameBufferForDecode.load(), 5);
    const CameraSettings& a = settings.Live.CamSettings[L"cam-a"];
    EXPECT_EQ(a.Lens, 3);
    EXPECT_EQ(a.Pos, 1);
    EXPECT_EQ(a.Rotation, 90);  // fields the panel does not edit are kept
    const CameraSettings& b = settings.Live.CamSettings[L"cam-b"];
    EXPECT_EQ(b.Lens, 8);
    EXPECT_EQ(b.Pos, 2);
    EXPECT_EQ(b.Display, 1);
    EXPECT_EQ(visibility, std::vector<int>({0, 1}));
    EXPECT_FALSE(panel.IsShown());
    EXPECT_FALSE(column.SettingsButton()->isChecked());
    EXPECT_FALSE(column.SourceBrowserButton()->isChecked());
}

TEST_F(SettingsPanelTest, ApplyStaysDisabledWithoutAnExportFolderButCancelWorks)
{
    panel.ShowPanel();
    panel.ExportFolderEdit().clear();
    EXPECT_FALSE(Button("applySettingButton")->isEnabled());
    panel.Option(0).click();
    EXPECT_FALSE(Button("applySettingButton")->isEnabled());
    Button("applySettingButton")->click();
    EXPECT_TRUE(panel.IsShown());
    EXPECT_EQ(settings.Live.ExportFolder, L"/export/");
    Button("cancelSettingButton")->click();
    EXPECT_FALSE(panel.IsShown());
}

TEST_F(SettingsPanelTest, UnofferedValuesAreKept)
{
    // A frame buffer value that is no item leaves the box where it was, and
    // Apply stores that item; a lens value past the list is kept as stored.
    settings.Live.FrameBufferForDecode = 7;
    settings.Live.CamSettings[L"cam-a"].Lens = 42;
    panel.ShowPanel();
    EXPECT_EQ(Combo(QSettingsPanel::FrameBufferBox)->currentText(), "5");
    Button("applySettingButton")->click();
    EXPECT_EQ(settings.Live.FrameBufferForDecode.load(), 5);
    EXPECT_EQ(settings.Live.CamSettings[L"cam-a"].Lens, 42);
}

TEST_F(SettingsPanelTest, RememberSourceShowsCheckedWhileLiveValuesAreNotSaved)
{
    settings.RememberVideoSource = false;
    settings.SaveLiveValues = false;
    panel.ShowPanel();
    EXPECT_TRUE(panel.Option(6).isChecked());
    panel.HidePanel();
    settings.SaveLiveValues = true;
    panel.ShowPanel();
    EXPECT_FALSE(panel.Option(6).isChecked());
}

TEST_F(SettingsPanelTest, FolderChooserFillsTheEditUnlessCancelled)
{
    QString answer = "/chosen/";
    QString asked;
    panel.chooseFolder = [&](const QString&, const QString& initial) {
        asked = initial;
        return answer;
    };
    panel.ShowPanel();
    QPushButton* choose = panel.findChild<QPushButton*>("btnChooseButton");
    ASSERT_NE(choose, nullptr);
    choose->click();
    EXPECT_EQ(asked, "/export/");
    EXPECT_EQ(panel.ExportFolderEdit().text(), "/chosen/");
    answer.clear();
    choose->click();
    EXPECT_EQ(panel.ExportFolderEdit().text(), "/chosen/");
}

TEST_F(SettingsPanelTest, TitleBoxListsAnnouncedRecordedTitlesAndSwitchesThemAtOnce)
{
    render::Titles& titles = *renderer.GetPin(0)->GetTitles();
    titles.GetTitle(3)->SetName("Plates");
    titles.GetTitle(4, true, true);  // created quietly: never announced
    titles.GetTitle(5)->SetName("Counter");
    panel.ShowPanel();
    EXPECT_EQ(Items(Combo(QSettingsPanel::TitleBox)), QStringList({"Plates", "Counter"}));
    EXPECT_TRUE(panel.ShowTitleCheck()->isChecked());

    // The second item is title 5, not the unlisted title 4.
    Combo(QSettingsPanel::TitleBox)->setCurrentIndex(1);
    panel.ShowTitleCheck()->setChecked(false);
    EXPECT_FALSE(titles.FindTitle(5)->IsVisible());
    EXPECT_TRUE(titles.FindTitle(4)->IsVisible());
    EXPECT_TRUE(titles.FindTitle(3)->IsVisible());

    // Cancel does not undo it, and the next show reads it back.
    Button("cancelSettingButton")->click();
    EXPECT_FALSE(titles.FindTitle(5)->IsVisible());
    panel.ShowPanel();
    Combo(QSettingsPanel::TitleBox)->setCurrentIndex(1);
    EXPECT_FALSE(panel.ShowTitleCheck()->isChecked());

    // The other camera has no recorded titles.
    Combo(QSettingsPanel::CameraBox)->setCurrentIndex(1);
    EXPECT_EQ(Combo(QSettingsPanel::TitleBox)->count(), 0);
}

TEST(SettingsPanel, ASourceWithoutChannelsStoresNoCameraSettings)
{
    QApplicationSettings settings;
    settings.Live.ExportFolder = L"/export/";
    render::Renderer renderer(boost::make_shared<render::NullRendererDevice>());
    QSettingsPanel panel(&renderer, settings);
    panel.Setup(nullptr);
    panel.ShowPanel();
    EXPECT_EQ(panel.Combo(QSettingsPanel::CameraBox)->count(), 0);
    panel.Combo(QSettingsPanel::LensBox)->setCurrentIndex(5);
    EXPECT_EQ(panel.Combo(QSettingsPanel::LensBox)->currentIndex(), 5);
    panel.findChild<QPushButton*>("applySettingButton")->click();
    EXPECT_TRUE(settings.Live.CamSettings.empty());
}

TEST(SettingsPanel, PinsWithoutACameraNameAreLeftOut)
{
    QApplicationSettings settings;
    settings.Live.Channels = {L"only"};
    render::Renderer renderer(boost::make_shared<render::NullRendererDevice>());
    for (const wchar_t* name : {L"One", L"Two"})
        renderer.AddPin()->GetTitles()->SetTitleText(0, name);
    QSettingsPanel panel(&renderer, settings);
    panel.Setup(nullptr);
    panel.ShowPanel();
    EXPECT_EQ(Items(panel.Combo(QSettingsPanel::CameraBox)), QStringList({"One"}));
    panel.findChild<QPushButton*>("cancelSettingButton")->click();
}

// A panel with an empty content, for the slide itself.
class EmptyPanel : public QAbstractConfigurationPanel {
public:
    EmptyPanel() : QAbstractConfigurationPanel("Empty") {}
    int loads = 0;

protected:
    void BuildContent(QControlsGuiLayer*) override {}
    void LoadData() override { ++loads; }
};

TEST(ConfigurationPanel, SlidesOverTheAreaAndTurnsRoundWhereItIs)
{
    EmptyPanel panel;
    panel.Setup(nullptr);
    QPropertyAnimation& slide = panel.Animation();
    EXPECT_EQ(slide.duration(), 700);
    EXPECT_EQ(slide.easingCurve().type(), QEasingCurve::InOutCubic);
    panel.SetArea(QSize(400, 300));
    EXPECT_EQ(panel.geometry(), QRect(0, -300, 400, 300));

    panel.ToggleState();
    EXPECT_EQ(panel.loads, 1);
    ASSERT_EQ(slide.state(), QAbstractAnimation::Running);
    slide.setCurrentTime(350);
    const QRect halfway = panel.geometry();
    EXPECT_GT(halfway.y(), -300);
    EXPECT_LT(halfway.y(), 0);

    // Reversed half-way: the slide carries on backwards from where it is.
    panel.ToggleState();
    EXPECT_EQ(slide.state(), QAbstractAnimation::Running);
    EXPECT_EQ(slide.currentTime(), 350);
    EXPECT_EQ(panel.geometry(), halfway);
    slide.setCurrentTime(0);
    EXPECT_EQ(panel.geometry(), QRect(0, -300, 400, 300));

    panel.SetShow(true);
    slide.setCurrentTime(700);
    EXPECT_EQ(panel.geometry(), QRect(0, 0, 400, 300));
    // A resize while shown keeps it over the area.
    panel.SetArea(QSize(500, 200));
    EXPECT_EQ(panel.geometry(), QRect(0, 0, 500, 200));
    EXPECT_EQ(panel.loads, 2);
}

// Clicks and wheel turns on a shown panel stay with it: the item under it
// sees nothing.
TEST(ConfigurationPanel, InputNeverFallsThroughToTheScene)
{
    class Recorder : public QGraphicsRectItem {
    public:
        using QGraphicsRectItem::QGraphicsRectItem;
        int events = 0;

    protected:
        void mousePressEvent(QGraphicsSceneMouseEvent*) override { ++events; }
        void wheelEvent(QGraphicsSceneWheelEvent*) override { ++events; }
    };
    QGraphicsScene scene(0, 0, 400, 300);
    auto* under = new Recorder(0, 0, 400, 300);
    under->setZValue(-2);
    scene.addItem(under);
    auto* panel = new EmptyPanel;
    panel->Setup(nullptr);
    scene.addWidget(panel);
    panel->SetArea(QSize(400, 300));
    panel->ShowPanel();
    panel->Animation().setCurrentTime(700);

    QGraphicsSceneMouseEvent press(QEvent::GraphicsSceneMousePress);
    press.setScenePos(QPointF(200, 150));
    press.setButton(Qt::LeftButton);
    press.setButtons(Qt::LeftButton);
    QCoreApplication::sendEvent(&scene, &press);
    QGraphicsSceneWheelEvent wheel(QEvent::GraphicsSceneWheel);
    wheel.setScenePos(QPointF(200, 150));
    wheel.setDelta(120);
    QCoreApplication::sendEvent(&scene, &wheel);
    EXPECT_EQ(under->events, 0);

    // Hidden above the scene, the item gets them again.
    panel->HidePanel();
    panel->Animation().setCurrentTime(0);
    QCoreApplication::sendEvent(&scene, &wheel);
    EXPECT_EQ(under->events, 1);
}

TEST(SettingsControlPanel, ButtonsRaiseTheirSignalsAndTheModesAreExclusive)
{
    QApplicationSettings settings;
    QSettingsControlPanel column(settings);
    EXPECT_EQ(column.minimumWidth(), 80);
    EXPECT_EQ(column.maximumWidth(), 80);
    std::vector<std::string> heard;
    column.SourceBrowserClicked.connect([&] { heard.push_back("browser"); });
    column.SettingsClicked.connect([&] { heard.push_back("settings"); });
    column.PlayModeClicked.connect([&] { heard.push_back("play"); });
    column.ExportModeClicked.connect([&] { heard.push_back("export"); });
    EXPECT_TRUE(column.PlayModeButton()->isChecked());

    column.SourceBrowserButton()->click();
    column.SettingsButton()->click();
    column.ExportModeButton()->click();
    EXPECT_FALSE(column.PlayModeButton()->isChecked());
    EXPECT_TRUE(column.ExportModeButton()->isChecked());
    column.PlayModeButton()->click();
    EXPECT_EQ(heard, std::vector<std::string>({"browser", "settings", "export", "play"}));
    EXPECT_TRUE(column.PlayModeButton()->isChecked());
    EXPECT_FALSE(column.ExportModeButton()->isChecked());
    EXPECT_TRUE(column.SourceBrowserButton()->isChecked());
    EXPECT_TRUE(column.SettingsButton()->isChecked());
    column.UncheckButtons();
    EXPECT_FALSE(column.SourceBrowserButton()->isChecked());
    EXPECT_FALSE(column.SettingsButton()->isChecked());
    EXPECT_TRUE(column.PlayModeButton()->isChecked());
}

TEST(SettingsControlPanel, EnabledStateFollowsTheControllerAndTheExportSetting)
{
    struct Case {
        bool playback, panels, exportAllowed, exportVideo;
        bool playEnabled, exportEnabled, panelsEnabled;
    };
    const Case cases[] = {
        {true, true, true, true, true, true, true},
        {true, true, true, false, true, false, true},  // export video off: never
        {true, false, false, true, true, false, false},
        {false, true, true, true, false, false, true},
    };
    for (const Case& c : cases) {
        QApplicationSettings settings;
        settings.Live.ExportVideo = c.exportVideo;
        QSettingsControlPanel column(settings);
        column.SetEnabledState(c.playback, c.panels, c.exportAllowed);
        EXPECT_EQ(column.PlayModeButton()->isEnabled(), c.playEnabled);
        EXPECT_EQ(column.ExportModeButton()->isEnabled(), c.exportEnabled);
        EXPECT_EQ(column.SettingsButton()->isEnabled(), c.panelsEnabled);
        EXPECT_EQ(column.SourceBrowserButton()->isEnabled(), c.panelsEnabled);
    }
    QApplicationSettings settings;
    settings.ShowSourceBrowserButton = false;
    QSettingsControlPanel column(settings);
    column.show();
    column.SetEnabledState(true, true, true);
    EXPECT_FALSE(column.SourceBrowserButton()->isVisible());
    EXPECT_TRUE(column.SettingsButton()->isVisible());
}

TEST(SettingsControlPanel, PlacesTheButtonsInTheColumn)
{
    QApplicationSettings settings;
    QSettingsControlPanel column(settings);
    for (QCustomButton* button : {column.SourceBrowserButton(), column.SettingsButton()})
        button->setFixedSize(28, 28);
    column.PlayModeButton()->setFixedSize(34, 30);
    column.ExportModeButton()->setFixedSize(34, 34);
    column.setMinimumHeight(0);
    column.setMaximumHeight(1000);
    column.resize(80, 91);
    QResizeEvent resize(QSize(80, 91), QSize());
    QCoreApplication::sendEvent(&column, &resize);
    // Inner 60 x 75: quarter centre (15, 18.75), three-quarter line 56.25.
    EXPECT_EQ(column.SourceBrowserButton()->pos(), QPoint(11, 12));
    EXPECT_EQ(column.SettingsButton()->pos(), QPoint(11, 50));
    EXPECT_EQ(column.PlayModeButton()->pos(), QPoint(46, 13));
    EXPECT_EQ(column.ExportModeButton()->pos(), QPoint(46, 44));
}

}  // namespace
