// The players controller driving a real channel grid: the items it asks for,
// the stored cell order, the titles sets it hands over and the order it saves.

#include <atomic>
#include <thread>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "config/QApplicationSettings.h"
#include "widgets/QGuiLayer.h"
#include "gui/grid/QChannelsGrid.h"
#include "playback/AudioPlayer.h"
#include "playback/PlayersController.h"
#include "playback/PlaybackTestSupport.h"
#include "render/NullRendererDevice.h"
#include "support/SilentSink.h"

namespace {

using playbacktest::ScriptedSource;

constexpr int64_t kT0 = 1'700'000'000'000;

using testsupport::SilentSink;

boost::shared_ptr<ScriptedSource> Source(int64_t start)
{
    std::vector<int64_t> times;
    for (int i = 0; i < 10; ++i)
        times.push_back(start + 40 * i);
    return boost::make_shared<ScriptedSource>(times, std::vector<filters::RecordPeriod>{{start, 400}});
}

TEST(GridWithController, ControllerFillsTheGridAndSavesItsOrder)
{
    auto& layoutSetting = QApplicationSettings::Instance().Live.Layout;
    const std::vector<int32_t> saved = layoutSetting;
    layoutSetting = {2, 0, 1};

    playbacktest::SimTicks ticks;
    auto renderer = playback::MakePlaybackRenderer(boost::make_shared<render::NullRendererDevice>());
    QGuiLayer layer(nullptr);
    layer.Resize(QSize(1200, 400));
    auto grid = std::make_shared<QChannelsGrid>(&layer, renderer.get());
    grid->setGeometry(QRectF(0, 0, 1200, 400));
    playback::PlaybackGui gui = playback::HeadlessGui::Bundle(std::make_shared<playback::HeadlessGui>());
    gui.grid = grid;
    auto audio = std::make_shared<filters::AudioPlayer>(std::make_unique<SilentSink>(), ticks.Source(), false);
    {
        playback::PlayersController controller(gui, renderer, audio);
        std::atomic<bool> stop{false};
        std::thread driver([&] {
            // The players' clock only moves when ticked.
            while (!stop) {
                ticks.Advance(1);
                audio->GetClock()->Poke();
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        controller.BuildPlayers({Source(kT0), Source(kT0 + 100), Source(kT0 + 200)});

        ASSERT_EQ(3, renderer->GetCount());
        EXPECT_EQ(3, layer.items().size());
        EXPECT_EQ((std::vector<int32_t>{2, 0, 1}), grid->GetLayout());
        for (int channel = 0; channel < 3; ++channel) {
            QVideoItem* item = grid->ItemByChannel(channel);
            ASSERT_NE(nullptr, item);
            // The item shows the player's titles: the channel name is there.
            EXPECT_EQ(QString::fromStdWString(controller.GetPlayers()[size_t(channel)]->titles->GetTitle(0)->GetText()),
                      item->TitleLayouts()[0].text);
            EXPECT_EQ(channel == 0, item->IsSelected()) << channel;
        }
        EXPECT_TRUE(grid->FadeItem(2, 0, 150));

        // The user swaps channels 0 and 1 by dragging; the saved order follows.
        const QPoint from = grid->CellRect(2).center().toPoint();
        const QPoint to = grid->CellRect(0).center().toPoint();
        layer.MousePress(from, Qt::LeftButton);
        layer.MouseMove(to, Qt::LeftButton);
        layer.MouseRelease(to, Qt::LeftButton);
        controller.SaveState();
        EXPECT_EQ((std::vector<int32_t>{0, 2, 1}), layoutSetting);

        stop = true;
        driver.join();
    }
    layoutSetting = saved;
}

}  // namespace
