// The window with the skin the build draws, on a private X server at the
// default size and at 1920 x 1080: every button lies inside the window and
// clear of the others, every button has a look of its own with distinct
// states, and the sliding panels hide the video beneath them completely.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QGraphicsProxyWidget>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <boost/make_shared.hpp>

#include "app/windows/QControlsGuiLayer.h"
#include "app/windows/QMainWnd.h"
#include "app/windows/XvfbDisplay.h"
#include "config/QApplicationSettings.h"
#include "gui/panels/QAbstractConfigurationPanel.h"
#include "playback/IPlayersController.h"
#include "render/D3DRendererDevice.h"
#include "render/Renderer.h"
#include "support/TempDir.h"
#include "widgets/QCustomButton.h"

namespace {

using gavex_test::TempDir;
using gavex_test::XvfbDisplay;
using Slot = QControlsGuiLayer::Slot;

// Starts the renderer on the window; opens nothing.
class IdleController : public IPlayersController {
public:
    explicit IdleController(std::shared_ptr<render::Renderer> renderer) : m_renderer(std::move(renderer)) {}
    void Initialize(const StartOptions&, QWidget* target, const QRect& area) override
    {
        m_renderer->Start(target, area);
    }
    void OpenSource(const StartOptions&) override {}
    void SaveState() override {}
    int RunningExportTasks() const override { return 0; }
    const std::shared_ptr<render::Renderer>& GetRenderer() const override { return m_renderer; }

private:
    std::shared_ptr<render::Renderer> m_renderer;
};

void Settle(int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

struct PlacedButton {
    QAbstractButton* button;
    QRectF rect;  // in scene (= window) coordinates
    QGraphicsProxyWidget* proxy;
};

// The buttons a person can see: those of visible panels, sliding panels
// only while they are out.
std::vector<PlacedButton> VisibleButtons(QControlsGuiLayer& layer)
{
    std::vector<PlacedButton> placed;
    for (QGraphicsItem* item : layer.items()) {
        auto* proxy = qgraphicsitem_cast<QGraphicsProxyWidget*>(item);
        if (proxy == nullptr || !proxy->isVisible() || proxy->widget() == nullptr)
            continue;
        QWidget* panel = proxy->widget();
        if (auto* sliding = qobject_cast<QAbstractConfigurationPanel*>(panel); sliding && !sliding->IsShown())
            continue;
        QList<QAbstractButton*> buttons = panel->findChildren<QAbstractButton*>();
        if (auto* self = qobject_cast<QAbstractButton*>(panel))
            buttons.prepend(self);
        for (QAbstractButton* button : buttons) {
            if (button != panel && !button->isVisibleTo(panel))
                continue;
            const QPoint origin = button == panel ? QPoint() : button->mapTo(panel, QPoint());
            placed.push_back({button, proxy->mapRectToScene(QRectF(origin, QSizeF(button->size()))), proxy});
        }
    }
    return placed;
}

std::string Describe(const QAbstractButton* button)
{
    std::string text = button->metaObject()->className();
    if (!button->objectName().isEmpty())
        text += " '" + button->objectName().toStdString() + "'";
    if (!button->text().isEmpty())
        text += " \"" + button->text().toStdString() + "\"";
    if (const QWidget* parent = button->parentWidget())
        text += std::string(" in ") + parent->metaObject()->className();
    return text;
}

// One state of a skinned button as it paints, at its natural size.
QImage Look(const SkinImageGrid& grid)
{
    QImage image(grid.Size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    grid.Paint(painter, QRectF(image.rect()));
    return image;
}

// Whether the page slid in and the other one is gone (the slide takes a
// second; a loaded machine may deliver its last step later).
bool PageAtRest(QControlsGuiLayer& layer, int page)
{
    const QGraphicsItem* other = layer.Control(page == 0 ? Slot::ExportPanel : Slot::CameraSelector)->graphicsProxyWidget();
    Settle(1000);
    for (int wait = 0; wait < 50 && other->isVisible(); ++wait)
        Settle(100);
    Settle(100);
    return layer.CurrentPage() == page && !other->isVisible();
}

class SkinTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_x.Running());
        m_application = std::make_unique<QApplication>(m_argc, m_argv);
        QApplicationSettings& settings = QApplicationSettings::Instance();
        settings.CandidateFiles = {QString::fromStdString(m_dir / "settings.xml").toStdWString()};
        settings.WindowLeft = 0;
        settings.WindowTop = 0;
        settings.WindowWidth = 0;
        settings.WindowHeight = 0;
        settings.State = 0;
        settings.Live.TopMost = false;
        settings.Live.ExportVideo = true;
        // The video area shows a colour that no panel uses.
        std::filesystem::create_directories(m_dir / "Resources");
        QImage background(16, 16, QImage::Format_RGB32);
        background.fill(kVideo);
        ASSERT_TRUE(background.save(QString::fromStdString(m_dir / "Resources/Back_main.png")));
        m_renderer = std::make_shared<render::Renderer>(boost::make_shared<render::D3DRendererDevice>());
        m_renderer->SetResourceRoot(QString::fromStdString(m_dir.path() + "/"));
    }
    void TearDown() override { m_application.reset(); }

    static int VideoPixels(const QImage& shot, const QRect& area)
    {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                n += shot.pixel(x, y) == kVideo;
        return n;
    }

    // Every visible button inside the window, clear of the other buttons,
    // and clear of the right-hand column unless it belongs to it.
    static void ExpectButtonsPlaced(QControlsGuiLayer& layer, const QSize& window, const std::string& what)
    {
        const std::vector<PlacedButton> buttons = VisibleButtons(layer);
        ASSERT_GE(buttons.size(), 10u) << what;
        const QRectF inside(QPointF(0, 0), QSizeF(window));
        const QGraphicsProxyWidget* column = layer.Control(Slot::SettingsControlPanel)->graphicsProxyWidget();
        const QRectF columnRect = column->sceneBoundingRect();
        for (size_t i = 0; i < buttons.size(); ++i) {
            const PlacedButton& b = buttons[i];
            EXPECT_TRUE(inside.contains(b.rect))
                << what << ": " << Describe(b.button) << " at " << b.rect.x() << "," << b.rect.y() << " "
                << b.rect.width() << "x" << b.rect.height() << " leaves the " << window.width() << "x"
                << window.height() << " window";
            if (b.proxy != column) {
                EXPECT_FALSE(b.rect.intersects(columnRect.adjusted(1, 1, -1, -1)))
                    << what << ": " << Describe(b.button) << " runs under the right-hand column";
            }
            for (size_t j = i + 1; j < buttons.size(); ++j)
                EXPECT_FALSE(b.rect.intersects(buttons[j].rect.adjusted(1, 1, -1, -1)))
                    << what << ": " << Describe(b.button) << " overlaps " << Describe(buttons[j].button);
        }
    }

    static constexpr QRgb kVideo = qRgb(255, 0, 255);
    XvfbDisplay m_x{"1920x1080x24"};
    TempDir m_dir{"skin"};
    int m_argc = 1;
    char m_name[8] = "test";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_application;
    std::shared_ptr<render::Renderer> m_renderer;
};

TEST_F(SkinTest, ButtonsFitTheWindowAtTheDefaultSizeAndAtFullHD)
{
    QControlsGuiLayer layer(m_renderer);
    QMainWnd window(std::make_shared<IdleController>(m_renderer), &layer, StartOptions());
    window.show();
    Settle(500);
    const QSize sizes[] = {window.size(), QSize(1920, 1080), QSize(1200, 800), window.minimumSize()};
    ASSERT_EQ(sizes[0], QSize(1024, 768)) << "the default size";
    for (const QSize& size : sizes) {
        window.setGeometry(QRect(QPoint(0, 0), size));
        Settle(400);
        ASSERT_EQ(layer.sceneRect().size(), QSizeF(size));
        const std::string at = std::to_string(size.width()) + "x" + std::to_string(size.height());
        layer.SwitchToPlayMode();
        ASSERT_TRUE(PageAtRest(layer, 0)) << at;
        ExpectButtonsPlaced(layer, size, at + " play mode");
        layer.SwitchToExportMode();
        ASSERT_TRUE(PageAtRest(layer, 1)) << at;
        ExpectButtonsPlaced(layer, size, at + " export mode");
    }
    window.close();
}

TEST_F(SkinTest, EveryButtonHasItsOwnLookWithDistinctStates)
{
    QControlsGuiLayer layer(m_renderer);
    std::vector<QCustomButton*> buttons;
    for (QGraphicsItem* item : layer.items()) {
        auto* proxy = qgraphicsitem_cast<QGraphicsProxyWidget*>(item);
        if (proxy == nullptr || proxy->widget() == nullptr)
            continue;
        if (auto* self = qobject_cast<QCustomButton*>(proxy->widget()))
            buttons.push_back(self);
        for (QCustomButton* child : proxy->widget()->findChildren<QCustomButton*>())
            buttons.push_back(child);
    }
    ASSERT_GE(buttons.size(), 18u) << "transport, jumps, rewinds, calendars, column, snapshot, print, volume";

    std::vector<std::pair<QCustomButton*, QImage>> looks;
    for (QCustomButton* button : buttons) {
        for (const MultiStateImage::ImageSet& set : button->Image().Sets()) {
            QImage states[3];
            for (int s = 0; s < 3; ++s) {
                ASSERT_FALSE(set[s].IsNull()) << Describe(button) << " state " << s << " has an image";
                states[s] = Look(set[s]);
            }
            EXPECT_NE(states[0], states[1]) << Describe(button) << ": pressed looks like normal";
            EXPECT_NE(states[0], states[2]) << Describe(button) << ": hover looks like normal";
            EXPECT_NE(states[1], states[2]) << Describe(button) << ": hover looks like pressed";
            looks.emplace_back(button, states[0]);
        }
    }
    // Two buttons of one name do one job (the two time inputs' calendars).
    for (size_t i = 0; i < looks.size(); ++i)
        for (size_t j = i + 1; j < looks.size(); ++j) {
            const QString& a = looks[i].first->objectName();
            if (looks[i].first == looks[j].first || (!a.isEmpty() && a == looks[j].first->objectName()))
                continue;
            EXPECT_NE(looks[i].second, looks[j].second)
                << Describe(looks[i].first) << " and " << Describe(looks[j].first) << " look the same";
        }
}

TEST_F(SkinTest, OpenPanelsHideTheVideoBeneathThem)
{
    QControlsGuiLayer layer(m_renderer);
    QMainWnd window(std::make_shared<IdleController>(m_renderer), &layer, StartOptions());
    window.show();
    Settle(500);
    for (const QSize size : {QSize(1024, 768), QSize(1920, 1080)}) {
        window.setGeometry(QRect(QPoint(0, 0), size));
        Settle(600);
        const QRect video = layer.VideoArea();
        ASSERT_FALSE(video.isEmpty());
        const auto grab = [&] { return QGuiApplication::primaryScreen()->grabWindow(window.winId()).toImage(); };
        int before = VideoPixels(grab(), video);
        for (int wait = 0; wait < 50 && before <= video.width() * video.height() / 2; ++wait) {
            Settle(100);
            before = VideoPixels(grab(), video);
        }
        ASSERT_GT(before, video.width() * video.height() / 2) << "the video shows before a panel opens";
        for (const Slot slot : {Slot::SourceBrowser, Slot::SettingsPanel, Slot::ExportTaskSettings}) {
            QWidget* panel = layer.Control(slot);
            ASSERT_TRUE(QMetaObject::invokeMethod(panel, "ShowPanel"));
            // The slide takes 700 ms; the software device may present its
            // last frame of it later at this size.
            Settle(800);
            int through = VideoPixels(grab(), video);
            for (int wait = 0; wait < 40 && through > 0; ++wait) {
                Settle(100);
                through = VideoPixels(grab(), video);
            }
            EXPECT_EQ(through, 0) << panel->metaObject()->className() << " at " << size.width() << "x"
                                  << size.height() << " lets the video through";
            ASSERT_TRUE(QMetaObject::invokeMethod(panel, "HidePanel"));
            // The video is back before the next panel comes.
            int shown = 0;
            for (int wait = 0; wait < 50 && shown < video.width() * video.height() / 2; ++wait) {
                Settle(100);
                shown = VideoPixels(grab(), video);
            }
            ASSERT_GT(shown, video.width() * video.height() / 2) << panel->metaObject()->className() << " went away";
        }
    }
    window.close();
}

}  // namespace
