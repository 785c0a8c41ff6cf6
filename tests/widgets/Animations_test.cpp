#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "SkinFiles.h"
#include "widgets/KineticTracker.h"
#include "widgets/QBasePanel.h"
#include "widgets/QSpeedBasedAnimation.h"

namespace {

struct EaseCase {
    const char* label;
    double from, to, speed;
    double (*expected)(double p);  // the eased progress
};

void PrintTo(const EaseCase& c, std::ostream* os)
{
    *os << c.label;
}

const char* const kEaseNames[] = {"AtRest", "TwiceTheAverage", "Downwards"};

class SpeedBasedEase : public ::testing::TestWithParam<EaseCase> {};

TEST_P(SpeedBasedEase, FollowsThePolynomialOverTheDuration)
{
    const EaseCase& c = GetParam();
    QObject target;
    target.setProperty("Week", 0.0);
    QSpeedBasedAnimation animation(&target, "Week");
    animation.Start(c.from, c.to, c.speed, 1.0);
    ASSERT_EQ(animation.state(), QAbstractAnimation::Running);
    ASSERT_EQ(animation.duration(), 1000);
    animation.pause();
    for (int ms : {0, 100, 250, 500, 750, 900, 1000}) {
        animation.setCurrentTime(ms);
        const double p = ms / 1000.0;
        EXPECT_NEAR(target.property("Week").toDouble(), c.from + (c.to - c.from) * c.expected(p), 1e-9)
            << "at " << ms << " ms";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Speeds, SpeedBasedEase,
    ::testing::Values(EaseCase{"at rest", 0, 10, 0, [](double p) { return 3 * p * p - 2 * p * p * p; }},
                      EaseCase{"twice the average", 0, 10, 20, [](double p) { return 2 * p - p * p; }},
                      EaseCase{"downwards", 10, 0, -20, [](double p) { return 2 * p - p * p; }}),
    [](const ::testing::TestParamInfo<EaseCase>& info) { return std::string(kEaseNames[info.index]); });

TEST(SpeedBasedAnimation, CoefficientsForTwiceTheAverageSpeed)
{
    QSpeedBasedAnimation animation;
    EXPECT_EQ(animation.Ease(0.5), 0.5) << "default 3p^2 - 2p^3";
    QObject target;
    target.setProperty("Year", 0.0);
    animation.setTargetObject(&target);
    animation.setPropertyName("Year");
    animation.Start(0, 10, 20, 1.0);
    EXPECT_EQ(animation.CoefficientA(), 0);
    EXPECT_EQ(animation.CoefficientB(), -1);
    EXPECT_EQ(animation.CoefficientC(), 2);
}

TEST(SpeedBasedAnimation, RepeatedTargetDoesNotRestartAndEqualEndsDoNotStart)
{
    QObject target;
    target.setProperty("Week", 0.0);
    QSpeedBasedAnimation animation(&target, "Week");
    animation.Start(0, 10, 20, 1.0);
    animation.setCurrentTime(300);
    animation.Start(4, 10, 50, 2.0);
    EXPECT_EQ(animation.currentTime(), 300);
    EXPECT_EQ(animation.duration(), 1000);
    EXPECT_EQ(animation.CoefficientC(), 2);

    animation.Start(5, 5, 20, 0.5);
    EXPECT_EQ(animation.state(), QAbstractAnimation::Stopped);
    EXPECT_EQ(animation.startValue().toDouble(), 5);
    EXPECT_EQ(animation.endValue().toDouble(), 5);
    EXPECT_EQ(animation.duration(), 500);
    EXPECT_EQ(animation.Ease(0.7), 0);
}

class FakeClock {
public:
    KineticTracker::Clock Source()
    {
        return [this] { return now; };
    }
    std::int64_t now = 1'000'000;
};

TEST(KineticTracker, VelocityOverTheLastFiveSamples)
{
    FakeClock clock;
    KineticTracker tracker(clock.Source());
    EXPECT_EQ(tracker.Velocity(), QPointF(0, 0));
    EXPECT_EQ(tracker.ElapsedSpan(), 0);

    tracker.Start({0, 0});
    EXPECT_EQ(tracker.Velocity(), QPointF(0, 0)) << "one sample";
    clock.now += 50;
    tracker.AddSample({100, 0});
    EXPECT_EQ(tracker.ElapsedSpan(), 50);
    EXPECT_EQ(tracker.Velocity(), QPointF(2000, 0));

    // Seven samples: the first two fall out.
    tracker.Start({0, 0});
    for (int i = 1; i <= 6; ++i) {
        clock.now += 10;
        tracker.AddSample({i * (i > 1 ? 10.0 : 1000.0), -5.0 * i});
    }
    EXPECT_EQ(tracker.ElapsedSpan(), 40);
    EXPECT_EQ(tracker.Velocity(), QPointF((60 - 20) / 40.0 * 1000, (-30 + 10) / 40.0 * 1000));

    // Start restarts the timer.
    clock.now += 5000;
    tracker.Start({7, 7});
    clock.now += 20;
    tracker.AddSample({7, 17});
    EXPECT_EQ(tracker.ElapsedSpan(), 20);
    EXPECT_EQ(tracker.Velocity(), QPointF(0, 500));
}

TEST(QBasePanel, HeightFromTheBackgroundWhichIsTiledUnderTheDelimiter)
{
    SkinFiles files;
    QImage background(4, 12, QImage::Format_ARGB32);
    background.fill(QColor(0, 0, 255));
    background.setPixelColor(3, 5, QColor(255, 0, 0));
    {
        const QString path = ResourcePath(ApplicationDirectory(), "Selected_VideoTimeLineBack.png");
        ASSERT_TRUE(background.save(path, "PNG"));
    }
    files.WriteFixed("Selected_VideoTimeLineBack_Panel_Delimiter.png", {2, 12}, QColor(0, 255, 0));
    QBasePanel panel;
    QFile::remove(ResourcePath(ApplicationDirectory(), "Selected_VideoTimeLineBack.png"));
    EXPECT_EQ(panel.minimumHeight(), 12);
    EXPECT_EQ(panel.maximumHeight(), 12);

    panel.resize(20, 12);
    QImage canvas(panel.size(), QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    panel.render(&canvas, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_EQ(canvas.pixelColor(1, 5), QColor(0, 255, 0)) << "delimiter";
    EXPECT_EQ(canvas.pixelColor(2, 5), QColor(0, 0, 255));
    for (int x : {3, 7, 11, 15, 19})
        EXPECT_EQ(canvas.pixelColor(x, 5), QColor(255, 0, 0)) << "tile repeats every 4 px, x " << x;
    EXPECT_EQ(canvas.pixelColor(19, 11), QColor(0, 0, 255));
}

}  // namespace
