// The transport panel: play and pause, frame steps while paused, speed steps
// while playing with their badge, the badge click back to normal speed, and
// the volume.
#include <QApplication>
#include <QPropertyAnimation>
#include <QSlider>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "widgets/QAudioSlider.h"
#include "widgets/QCustomButton.h"
#include "gui/timeline/QPlayControlPanel.h"

namespace {

// Every signal of the panel as one line of text, in order.
class PanelRecorder {
 public:
  explicit PanelRecorder(QPlayControlPanel& panel) {
    panel.PlayClicked.connect([this] { calls.push_back("play"); });
    panel.PauseClicked.connect([this] { calls.push_back("pause"); });
    panel.StepBackwardClicked.connect([this] { calls.push_back("back"); });
    panel.StepForwardClicked.connect([this] { calls.push_back("forward"); });
    panel.SpeedChanged.connect([this](double speed) { calls.push_back("speed " + std::to_string(speed)); });
    panel.VolumeChanged.connect([this](int volume) { calls.push_back("volume " + std::to_string(volume)); });
  }
  std::vector<std::string> Take() { return std::exchange(calls, {}); }

 private:
  std::vector<std::string> calls;
};

std::string Speed(double speed) { return "speed " + std::to_string(speed); }

class PlayControlPanelTest : public testing::Test {
 protected:
  PlayControlPanelTest() : recorder(panel) {
    panel.resize(panel.minimumWidth(), panel.minimumHeight());
    panel.show();
    QApplication::processEvents();
  }

  QPlayControlPanel panel;
  PanelRecorder recorder;
};

}  // namespace

TEST_F(PlayControlPanelTest, PlayPauseButtonAndSetPlayingReportTheSameWay) {
  EXPECT_EQ(panel.width(), 120);
  panel.PlayPauseButton().click();
  EXPECT_TRUE(panel.PlayPauseButton().isChecked());
  panel.PlayPauseButton().click();
  EXPECT_EQ(recorder.Take(), (std::vector<std::string>{"play", "pause"}));

  panel.SetPlaying(true);
  panel.SetPlaying(true);
  panel.SetPlaying(false);
  panel.SetPlaying(false);
  EXPECT_EQ(recorder.Take(), (std::vector<std::string>{"play", "pause"})) << "only changes report";
}

TEST_F(PlayControlPanelTest, StepButtonsStepFramesWhilePausedAndChangeSpeedWhilePlaying) {
  panel.ForwardButton().click();
  panel.BackwardButton().click();
  EXPECT_EQ(recorder.Take(), (std::vector<std::string>{"forward", "back"}));
  EXPECT_EQ(panel.Speed(), 1.0);
  EXPECT_TRUE(panel.ForwardButton().autoRepeat());
  EXPECT_TRUE(panel.BackwardButton().autoRepeat());

  struct Step {
    QCustomButton& button;
    double speed;
    const char* badge;
  };
  panel.SetPlaying(true);
  recorder.Take();
  EXPECT_EQ(QPlayControlPanel::BadgeText(panel.Speed()), "x 1");
  const Step steps[] = {
      {panel.ForwardButton(), 2, "x 2"},          {panel.ForwardButton(), 4, "x 4"},
      {panel.ForwardButton(), 8, "x 8"},          {panel.ForwardButton(), 16, "x 16"},
      {panel.ForwardButton(), 16, "x 16"},  // the end stays put but still reports
      {panel.BackwardButton(), 8, "x 8"},         {panel.BackwardButton(), 4, "x 4"},
      {panel.BackwardButton(), 2, "x 2"},         {panel.BackwardButton(), 1, "x 1"},
      {panel.BackwardButton(), 0.5, "x1/2"},      {panel.BackwardButton(), 0.25, "x1/4"},
      {panel.BackwardButton(), 0.125, "x1/8"},    {panel.BackwardButton(), 0.0625, "x1/16"},
      {panel.BackwardButton(), 0.0625, "x1/16"},
  };
  for (const Step& step : steps) {
    step.button.click();
    EXPECT_EQ(recorder.Take(), std::vector<std::string>{Speed(step.speed)}) << step.badge;
    EXPECT_EQ(panel.Speed(), step.speed);
    EXPECT_EQ(QPlayControlPanel::BadgeText(panel.Speed()), step.badge);
  }

  // The speed outlasts a pause; paused, the buttons step frames again.
  panel.ForwardButton().click();
  panel.SetPlaying(false);
  panel.ForwardButton().click();
  panel.SetPlaying(true);
  panel.ForwardButton().click();
  EXPECT_EQ(recorder.Take(), (std::vector<std::string>{Speed(0.125), "pause", "forward", "play", Speed(0.25)}));
}

TEST_F(PlayControlPanelTest, BadgeShowsWhilePlayingAndAClickOnItResetsTheSpeed) {
  const QRect badge = panel.BadgeRect();
  ASSERT_FALSE(badge.isEmpty()) << "the badge image is part of the skin";
  const QRect play = panel.PlayPauseButton().geometry();
  EXPECT_EQ(badge.left(), play.left());
  EXPECT_GT(badge.top(), play.bottom());
  EXPECT_LE(badge.bottom(), panel.height() - 1);

  // Paused: no badge, whatever the speed.
  const QColor badgeColour(30, 90, 160);
  const QPoint corner = badge.topLeft() + QPoint(1, 1);
  EXPECT_NE(panel.grab().toImage().pixelColor(corner), badgeColour);

  panel.SetPlaying(true);
  panel.ForwardButton().click();
  panel.ForwardButton().click();
  recorder.Take();
  const QImage shown = panel.grab().toImage();
  EXPECT_EQ(shown.pixelColor(corner), badgeColour);
  int white = 0;
  for (int y = badge.top(); y <= badge.bottom(); ++y)
    for (int x = badge.left(); x <= badge.right(); ++x)
      if (shown.pixelColor(x, y).lightness() > 200) ++white;
  EXPECT_GT(white, 5) << "the speed text is drawn in white";

  // Outside the badge nothing happens; on it the speed goes back to 1, and
  // at 1 a click does nothing.
  QTest::mouseClick(&panel, Qt::LeftButton, Qt::NoModifier, QPoint(badge.left() - 3, badge.center().y()));
  EXPECT_TRUE(recorder.Take().empty());
  QTest::mouseClick(&panel, Qt::LeftButton, Qt::NoModifier, badge.center());
  EXPECT_EQ(recorder.Take(), std::vector<std::string>{Speed(1)});
  EXPECT_EQ(panel.Speed(), 1.0);
  QTest::mouseClick(&panel, Qt::LeftButton, Qt::NoModifier, badge.center());
  EXPECT_TRUE(recorder.Take().empty());

  // The controller's reset reports even at 1.
  panel.ResetSpeed();
  EXPECT_EQ(recorder.Take(), std::vector<std::string>{Speed(1)});
}

TEST_F(PlayControlPanelTest, ButtonsInARowWithTheVolumeCentredAboveThem) {
  const QRect b = panel.BackwardButton().geometry();
  const QRect p = panel.PlayPauseButton().geometry();
  const QRect f = panel.ForwardButton().geometry();
  EXPECT_EQ(b.topLeft(), QPoint(5, (panel.height() - b.height()) / 2));
  EXPECT_EQ(p.topLeft(), QPoint(b.right() + 1, b.top()));
  EXPECT_EQ(f.topLeft(), QPoint(p.right() + 1, b.top()));
  const QRect s = panel.VolumeSlider().geometry();
  EXPECT_LE(std::abs(s.center().x() - panel.width() / 2), 1);
  EXPECT_LE(s.bottom(), f.top());
  EXPECT_TRUE(panel.rect().contains(s)) << "the volume control fits the panel";
  EXPECT_TRUE(panel.rect().contains(f));
}

TEST_F(PlayControlPanelTest, VolumeFromTheSliderAndSlidToTheStoredValue) {
  panel.VolumeSlider().Slider()->setValue(40);
  EXPECT_EQ(recorder.Take(), std::vector<std::string>{"volume 40"});

  panel.SetVolume(90);
  QPropertyAnimation& slide = panel.VolumeSlider().Animation();
  slide.setCurrentTime(slide.duration());
  EXPECT_EQ(panel.VolumeSlider().Slider()->value(), 90);
  const std::vector<std::string> calls = recorder.Take();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "volume 90");
}
