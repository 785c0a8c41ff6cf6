// The picture of a saved frame or thumbnail: corrected size, opacity,
// rotation and the recorded titles drawn in.
#include <gtest/gtest.h>

#include <cstring>

#include <QGuiApplication>
#include <boost/make_shared.hpp>

#include "config/QApplicationSettings.h"
#include "playback/QtMediaSample.h"
#include "render/Titles.h"

namespace {

using playback::QtMediaSample;

// Titles need fonts, which need a GUI application.
void EnsureGuiApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "test_playback";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
}

// Writes a picture as the decoder does: left half red, right half blue, the
// top-left pixel white; the X byte left at 0.
void Fill(QtMediaSample& sample, QSize size)
{
    int pitch = 0;
    uchar* bits = sample.GetBuffer(size, pitch, false);
    ASSERT_NE(bits, nullptr);
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(bits + y * pitch);
        for (int x = 0; x < size.width(); ++x)
            row[x] = x < size.width() / 2 ? 0x00ff0000u : 0x000000ffu;
    }
    reinterpret_cast<uint32_t*>(bits)[0] = 0x00ffffffu;
    sample.Commit();
}

TEST(QtMediaSample, ComposedSizeCorrectsPixelAspect)
{
    EnsureGuiApplication();
    const struct {
        QSize picture;
        QSize composed;
    } cases[] = {
        {{704, 288}, {768, 576}},    // half height, then PAL widening
        {{704, 576}, {768, 576}},
        {{720, 240}, {720, 480}},
        {{10, 4}, {10, 4}},          // not taller than 4 rows
        {{1920, 1080}, {1920, 1080}},
        {{241, 100}, {241, 200}},    // just above 2.4 times the height
        {{240, 100}, {240, 100}},
    };
    for (const auto& c : cases) {
        QtMediaSample sample;
        Fill(sample, c.picture);
        const QImage composed = sample.ComposeImage(0);
        EXPECT_EQ(composed.size(), c.composed) << c.picture.width() << "x" << c.picture.height();
        EXPECT_EQ(playback::CorrectedPictureSize(c.picture), c.composed);
        EXPECT_EQ(qAlpha(composed.pixel(composed.width() - 1, composed.height() - 1)), 255);
    }
}

TEST(QtMediaSample, RotationTurnsAboutTheCentre)
{
    EnsureGuiApplication();
    QtMediaSample sample;
    Fill(sample, {40, 20});
    const QImage straight = sample.ComposeImage(0);
    ASSERT_EQ(straight.size(), QSize(40, 20));
    EXPECT_EQ(straight.pixel(5, 10), qRgb(255, 0, 0));
    EXPECT_EQ(straight.pixel(0, 0), qRgb(255, 255, 255));

    const QImage turned = sample.ComposeImage(180);
    ASSERT_EQ(turned.size(), QSize(40, 20));
    EXPECT_EQ(turned.pixel(39, 19), qRgb(255, 255, 255));  // the marked corner is now bottom right
    EXPECT_EQ(turned.pixel(5, 10), qRgb(0, 0, 255));       // blue half on the left
    EXPECT_EQ(turned.pixel(35, 10), qRgb(255, 0, 0));

    const QImage quarter = sample.ComposeImage(90);
    EXPECT_EQ(quarter.size(), QSize(20, 40));
    EXPECT_EQ(quarter.pixel(0, 39), qRgb(255, 255, 255));  // counter-clockwise: top left goes to bottom left
}

TEST(QtMediaSample, NoPictureNoImage)
{
    EnsureGuiApplication();
    QtMediaSample sample;
    EXPECT_TRUE(sample.ComposeImage(0).isNull());
    int pitch = 0;
    ASSERT_NE(sample.GetBuffer({8, 8}, pitch, false), nullptr);
    EXPECT_TRUE(sample.ComposeImage(0).isNull());  // a picture never committed is not shown
    EXPECT_EQ(sample.GetBuffer({8, 8}, pitch, true), nullptr);
}

// The recorded titles (index 3 and up) are drawn when titles are on; the
// channel name, time and frame information never are.
TEST(QtMediaSample, RecordedTitlesDrawnIn)
{
    EnsureGuiApplication();
    SettingsProfile& live = QApplicationSettings::Instance().Live;
    const bool saved = live.ShowTitles;
    auto titles = boost::make_shared<render::Titles>(0);
    for (int n = 0; n < 3; ++n)
        titles->SetTitleText(n, L"not drawn");
    render::TitlePtr recorded = titles->GetTitle(3, true, true);
    recorded->SetVisible(true);
    recorded->SetItems({{QRectF(0.5, 0.5, 0.25, 0.25), QColor(0, 255, 0)}});

    auto compose = [&](bool show) {
        live.ShowTitles = show;
        QtMediaSample sample;
        int pitch = 0;
        uchar* bits = sample.GetBuffer({64, 64}, pitch, false);
        std::memset(bits, 0, static_cast<size_t>(pitch) * 64);
        sample.Commit();
        sample.SetTitles(titles);
        EXPECT_EQ(sample.GetTitleEntries().size(), 4u);
        return sample.ComposeImage(0);
    };
    auto greenPixels = [](const QImage& image) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                count += qGreen(image.pixel(x, y)) > 200 && qRed(image.pixel(x, y)) < 50;
        return count;
    };
    auto nonBlackOutside = [](const QImage& image) {
        int count = 0;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 64; ++x)
                count += (image.pixel(x, y) & 0xffffff) != 0;
        return count;
    };
    const QImage shown = compose(true);
    EXPECT_GT(greenPixels(shown), 20);
    EXPECT_EQ(nonBlackOutside(shown), 0);  // titles 0 to 2 stay off the picture
    EXPECT_EQ(greenPixels(compose(false)), 0);
    recorded->SetVisible(false);
    EXPECT_EQ(greenPixels(compose(true)), 0);
    live.ShowTitles = saved;
}

}  // namespace
