// Screenshots of both time line styles (saved beside the test program),
// checked by the shipped skin's colours in the regions the layout gives and
// by text present in the label rectangles.

#include <QSet>

#include "TimeLineFixture.h"

namespace {

using namespace timeline_test;

QColor SkinColour(const QString& name) {
    return LoadImageResource(GAVEX_SKIN_ROOT, name).pixelColor(0, 0);
}
int SkinWidth(const QString& name) {
    return LoadImageResource(GAVEX_SKIN_ROOT, name).width();
}
int SkinHeight(const QString& name) {
    return LoadImageResource(GAVEX_SKIN_ROOT, name).height();
}

QImage Screenshot(QWidget& widget, const QString& name) {
    const QImage shot = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QString dir = QString(GAVEX_TEST_BINARY_DIR) + "/timeline-screenshots";
    QDir().mkpath(dir);
    EXPECT_TRUE(shot.save(dir + "/" + name + ".png", "PNG"));
    return shot;
}

// Share of the rectangle's pixels in exactly that colour (alpha ignored).
double Share(const QImage& shot, const QRect& rect, const QColor& colour) {
    const QRect r = rect.intersected(shot.rect());
    if (r.isEmpty()) return 0;
    int hits = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) hits += (shot.pixel(x, y) & 0xffffff) == (colour.rgb() & 0xffffff);
    return double(hits) / (r.width() * r.height());
}

// Pixels of text in that colour: antialiased glyphs come within 100 of it
// on every channel. The tick marks' own colours do not count.
int Count(const QImage& shot, const QRectF& rect, const QColor& colour) {
    const QRect r = rect.toAlignedRect().intersected(shot.rect());
    QList<QRgb> ticks;
    for (const char* tick : {"United_riska_small", "United_riska_medium", "United_riska_big"})
        ticks << (SkinColour(tick).rgb() & 0xffffff);
    int hits = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb p = shot.pixel(x, y);
            hits += std::abs(qRed(p) - colour.red()) < 100 && std::abs(qGreen(p) - colour.green()) < 100 &&
                    std::abs(qBlue(p) - colour.blue()) < 100 && !ticks.contains(p & 0xffffff);
        }
    return hits;
}

// Where the bands of FiveIntervals lie at 300 px each, the first at `left`.
std::vector<double> BandLefts(double left, const QString& style) {
    std::vector<double> lefts = {left};
    for (const char* gap : {"hole_sec", "hole_min", "hole_hour", "hole_day"})
        lefts.push_back(lefts.back() + 300 + SkinWidth(style + "_" + gap));
    return lefts;
}

const char* const kGapNames[] = {"hole_sec", "hole_min", "hole_hour", "hole_day"};

TEST_F(TimeLineTest, UnitedShowsBandsGapsLabelsSelectionAndDurations) {
    auto line = United(1800);
    line->SetIntervals(FiveIntervals());
    const auto list = line->Intervals().GetArchivePeriods();
    line->SetZoom(0.5);                  // 3 s = 300 px
    line->SetScrollPosition(900 - 100);  // the first band starts 100 px in
    line->SetSelectionBegin(list[3].start + 1500);
    line->SetSelectionEnd(list[4].start + 1500);
    const QImage shot = Screenshot(*line, "united");
    ASSERT_EQ(shot.size(), QSize(1800, 40));

    const std::vector<double> lefts = BandLefts(100, "United");
    const int bandHeight = SkinHeight("United_archiveVideoTimeLine");
    const int bandTop = 2 + (40 - bandHeight) / 2;
    const QColor band = SkinColour("United_archiveVideoTimeLine");
    for (int i = 0; i < 5; ++i) EXPECT_GT(Share(shot, QRect(int(lefts[i]), bandTop, 300, bandHeight), band), 0.5) << i;
    for (int i = 0; i < 4; ++i) {
        const QString gap = QString("United_") + kGapNames[i];
        const QRect rect(int(lefts[i]) + 300, (40 - SkinHeight("United_hole_sec")) / 2 + 2, SkinWidth(gap),
                         SkinHeight(gap));
        EXPECT_GE(Share(shot, rect, SkinColour(gap)), 0.75) << kGapNames[i];
        // The next band starts right after the gap.
        EXPECT_EQ(Share(shot, QRect(rect.right() + 1, bandTop + bandHeight - 1, 1, 1), band), 1.0) << i;
    }
    EXPECT_EQ(Share(shot, QRect(80, 0, 18, 40), SkinColour("United_VideoTimeLineBack")), 1.0);
    EXPECT_EQ(Share(shot, QRect((1800 - 3) / 2, 0, 3, 40), SkinColour("United_VideoTimeLineCenterMarker")), 1.0);

    // The selection bar along the strip's top, from band 3's middle to band 4's.
    const QColor bar = SkinColour("United_select_bar_blue");
    const QRect selection(int(lefts[3]) + 150, 0, int(lefts[4] - lefts[3]), SkinHeight("United_select_bar_blue"));
    EXPECT_EQ(Share(shot, selection, bar), 1.0);
    EXPECT_EQ(Share(shot, selection.translated(-selection.width(), 0), bar), 0.0);

    // Edge labels: the times on both sides of every gap, white in the band.
    const QColor white(255, 255, 255);
    for (int i = 0; i < 5; ++i) {
        QSize size;
        if (i > 0) {
            const QString text = line->FormatTime(list[i].start, line->EdgeLocale(), line->EdgeFont(), &size);
            const QRectF rect(lefts[i] + 4, bandTop + (bandHeight - size.height()) / 2.0, size.width(), size.height());
            EXPECT_GE(Count(shot, rect, white), 3) << text.toStdString();
        }
        if (i < 4) {
            const QString text =
                line->FormatTime(utils::IntervalEnd(list[i]), line->EdgeLocale(), line->EdgeFont(), &size);
            const QRectF rect(lefts[i] + 300 - size.width() - 4, bandTop + (bandHeight - size.height()) / 2.0,
                              size.width(), size.height());
            EXPECT_GE(Count(shot, rect, white), 3) << text.toStdString();
        }
    }
    EXPECT_EQ(line->FormatTime(list[1].start, line->EdgeLocale(), line->EdgeFont()), "11:01:03");
    // A tick label above band 0, one second in; the tick format adds fractions.
    QSize tickSize;
    EXPECT_EQ(line->FormatTime(kStart + 1000, line->TickLocale(), line->TickFont(), &tickSize), "11:00:01");
    EXPECT_EQ(line->FormatTime(kStart + 1250, line->TickLocale(), line->TickFont()), "11:00:01.250000");
    const QRectF tick(lefts[0] + 100 - tickSize.width() / 2.0, (bandTop - tickSize.height()) / 2.0, tickSize.width(),
                      tickSize.height());
    EXPECT_GE(Count(shot, tick, white), 3);
    // No label text before the first tick.
    EXPECT_EQ(Count(shot, QRectF(lefts[0] + 2, 0, 60, bandTop), white), 0);

    // Durations: 7.78 s elapsed of 15 s, in grey at the bottom corners.
    QSize left, right;
    EXPECT_EQ(line->FormatDuration(7780, &left), "00:00:07");
    line->FormatDuration(7220, &right);
    const QColor grey(173, 173, 173);
    EXPECT_GE(Count(shot, QRectF(4, 40 - left.height() - 2, left.width(), left.height()), grey), 3);
    EXPECT_GE(
        Count(shot, QRectF(1800 - 4 - right.width(), 40 - right.height() - 2, right.width(), right.height()), grey), 3);
    EXPECT_EQ(Count(shot, QRectF(900 - 40, 20, 30, 20), grey), 0);
}

TEST_F(TimeLineTest, SelectedShowsTheFrameAndLabelsBelowTheBands) {
    auto line = Selected(1900);
    line->SetIntervals(FiveIntervals());
    const auto list = line->Intervals().GetArchivePeriods();
    line->SetZoom(0.5);
    const QRect strip = line->StripRect();
    line->SetScrollPosition(strip.left() + strip.width() / 2 - 200);
    line->SetSelectionBegin(list[3].start + 1500);
    line->SetSelectionEnd(list[4].start + 1500);
    const QImage shot = Screenshot(*line, "selected");
    ASSERT_EQ(shot.size(), QSize(1900, 90));

    const std::vector<double> lefts = BandLefts(200, "Selected");
    const int bandHeight = SkinHeight("Selected_archiveVideoTimeLine");
    const int holeHeight = SkinHeight("Selected_hole_sec");
    ASSERT_LT(bandHeight, holeHeight);
    const int bandTop = strip.top() + (strip.height() - bandHeight) / 2;
    const int gapTop = strip.top() + (strip.height() - holeHeight) / 2;
    for (int i = 0; i < 5; ++i)
        EXPECT_GT(
            Share(shot, QRect(int(lefts[i]), bandTop, 300, bandHeight), SkinColour("Selected_archiveVideoTimeLine")),
            0.5)
            << i;
    const QColor frame = SkinColour("Selected_Background_Center");
    for (int i = 0; i < 4; ++i) {
        const QString gap = QString("Selected_") + kGapNames[i];
        const QRect rect(int(lefts[i]) + 300, gapTop, SkinWidth(gap), holeHeight);
        EXPECT_GE(Share(shot, rect, SkinColour(gap)), 0.75) << kGapNames[i];
        if (i < 2) {  // the frame shows above the gap, outside the tick clip
            EXPECT_EQ(Share(shot, QRect(rect.left(), strip.top(), rect.width(), gapTop - strip.top()), frame), 1.0)
                << i;
        }
    }
    // Outside the strip: the panel background, and the jump buttons.
    EXPECT_EQ(Share(shot, QRect(40, 0, 50, 90), SkinColour("Selected_VideoTimeLineBack")), 1.0);
    EXPECT_EQ(Share(shot, QRect((1900 - 3) / 2, strip.top(), 3, strip.height()),
                    SkinColour("Selected_VideoTimeLineCenterMarker")),
              1.0);
    const QRect selection(int(lefts[3]) + 150, strip.top(), int(lefts[4] - lefts[3]), 4);
    EXPECT_EQ(Share(shot, selection, SkinColour("Selected_select_bar_blue")), 1.0);

    // Edge labels in black, centred below the band.
    const QColor black(0, 0, 0);
    const double below = bandTop + bandHeight;
    const double bottom = strip.top() + strip.height();
    for (int i = 1; i < 5; ++i) {
        QSize size;
        line->FormatTime(list[i].start, line->EdgeLocale(), line->EdgeFont(), &size);
        const QRectF rect(lefts[i] + 4, below + (bottom - below - size.height()) / 2, size.width(), size.height());
        EXPECT_GE(Count(shot, rect, black), 3) << i;
    }
    // No durations in this style.
    EXPECT_EQ(Share(shot, QRect(0, 60, 100, 30), QColor(173, 173, 173)), 0.0);
}

TEST_F(TimeLineTest, EdgeLabelsOnlyInBandsThatHoldBothApart) {
    auto line = United(1600);
    auto converter = std::make_shared<utils::TimeConverter>();
    // 300, 100, 50 and 300 px at zoom 0.5, second gaps between them.
    int64_t start = kStart;
    for (int64_t length : {3000, 1000, 500, 3000}) {
        converter->ArchivePeriods().push_back({start, length});
        start += length + 30000;
    }
    converter->RebuildContinuous();
    line->SetIntervals(converter);
    line->SetZoom(0.5);
    line->SetScrollPosition(800 - 100);
    // Reversed, and empty: no bar either way.
    line->SetSelectionBegin(kStart + 2000);
    line->SetSelectionEnd(kStart + 1000);
    const QImage shot = Screenshot(*line, "edge-labels");

    QSize label;
    line->FormatTime(kStart, line->EdgeLocale(), line->EdgeFont(), &label);
    ASSERT_GT(label.width() * 2 + 8, 100);  // two labels cannot share the 100 px band
    const int gap = SkinWidth("United_hole_sec");
    const int bandHeight = SkinHeight("United_archiveVideoTimeLine");
    const int bandTop = 2 + (40 - bandHeight) / 2;
    const struct {
        double left;
        int width;
        bool labels;
    } bands[] = {
        {100, 300, true}, {400.0 + gap, 100, false}, {500.0 + 2 * gap, 50, false}, {550.0 + 3 * gap, 300, true}};
    for (const auto& b : bands)
        EXPECT_EQ(Count(shot, QRectF(b.left, bandTop - 3, b.width, bandHeight + 6), QColor(255, 255, 255)) > 0,
                  b.labels)
            << b.width;
    EXPECT_EQ(Share(shot, shot.rect(), SkinColour("United_select_bar_blue")), 0.0);
}

TEST_F(TimeLineTest, BigTicksStandOneMajorStepApart) {
    auto line = United(1600);
    auto converter = std::make_shared<utils::TimeConverter>();
    converter->ArchivePeriods() = {{kStart, 3600000}};
    converter->RebuildContinuous();
    line->SetIntervals(converter);
    const QImage big = LoadImageResource(GAVEX_SKIN_ROOT, "United_riska_big");
    const QImage band = LoadImageResource(GAVEX_SKIN_ROOT, "United_archiveVideoTimeLine");
    // The row just below the band: only the big ticks reach it.
    const int row = 2 + (40 - band.height()) / 2 + band.height();
    ASSERT_LT(row, (40 - big.height()) / 2 + big.height());
    const struct {
        double zoom;
        int64_t step;
        int pixels;
    } cases[] = {{1.5, 1000, 300}, {0.0625, 16000, 200}, {0.25, 4000, 200}, {0.3, 3000, 180}};
    for (const auto& c : cases) {
        line->SetZoom(c.zoom);
        // Big ticks stand at whole steps after the first whole second; the
        // cursor (which hides what lies under it) half a step after one.
        line->SetPosition(kStart + 1000 + 100 * c.step + c.step / 2);
        const QImage shot = line->grab().toImage().convertToFormat(QImage::Format_RGB32);
        std::vector<int> starts;
        for (int x = 100; x < 1500; ++x)
            if (shot.pixel(x, row) == big.pixel(0, 0) && shot.pixel(x - 1, row) != big.pixel(0, 0)) starts.push_back(x);
        ASSERT_GE(starts.size(), 4u) << c.zoom;
        for (std::size_t i = 1; i < starts.size(); ++i) EXPECT_NEAR(starts[i] - starts[i - 1], c.pixels, 1) << c.zoom;
        const int cursor = 800;
        EXPECT_NE(std::find_if(starts.begin(), starts.end(),
                               [&](int x) { return std::abs(x + 1 - (cursor - c.pixels / 2)) <= 1; }),
                  starts.end())
            << c.zoom;
    }
}

TEST_F(TimeLineTest, ALabelBefore1970Paints) {
    auto line = United(1800);
    auto converter = std::make_shared<utils::TimeConverter>();
    // 1969-12-31 19:59:59.500 UTC, 20:59:59.5 in Berlin.
    const int64_t start = -4 * 3600000 - 500;
    converter->ArchivePeriods() = {{start, 10000}};
    converter->RebuildContinuous();
    line->SetIntervals(converter);
    line->SetZoom(1.0);
    line->SetPosition(start + 2000);  // the band starts 400 px left of the cursor at 900
    QSize size;
    EXPECT_EQ(line->FormatTime(start + 500, line->TickLocale(), line->TickFont(), &size), "21:00:00");
    const QImage shot = Screenshot(*line, "before1970");
    const int bandTop = 2 + (40 - SkinHeight("United_archiveVideoTimeLine")) / 2;
    const QRectF tick(500 + 100 - size.width() / 2.0, (bandTop - size.height()) / 2.0, size.width(), size.height());
    EXPECT_GE(Count(shot, tick, QColor(255, 255, 255)), 3);

    // An explicit offset shifts the labels instead of the local zone.
    converter->SetTimeZoneOffset(-3600);
    EXPECT_EQ(line->FormatTime(start + 500, line->TickLocale(), line->TickFont()), "19:00:00");
}

TEST_F(TimeLineTest, ThreeMonthsAtTheClosestZoomPaintTheBandUnderTheCursor) {
    auto line = United(1600);
    auto converter = std::make_shared<utils::TimeConverter>();
    converter->ArchivePeriods() = {{kStart, 90 * kDay}, {kStart + 90 * kDay + 120000, kDay}};
    converter->RebuildContinuous();
    line->SetIntervals(converter);
    line->SetZoom(line->ClampZoom(100));
    const QImage band = LoadImageResource(GAVEX_SKIN_ROOT, "United_archiveVideoTimeLine");
    const int bandTop = 2 + (40 - band.height()) / 2;
    const struct {
        int64_t at;
        const char* name;
    } cases[] = {{kStart + 89 * kDay, "three-months-inside"},
                 {kStart + 90 * kDay + 120000 + 1000, "three-months-after-gap"}};
    for (const auto& c : cases) {
        line->SetPosition(c.at);
        ASSERT_GT(line->Position(), 2147483648.0);
        const QImage shot = Screenshot(*line, c.name);
        EXPECT_GT(Share(shot, QRect(700, bandTop, 200, band.height()), band.pixelColor(0, 0)), 0.5) << c.name;
    }
    // Right after the gap, the minute gap image lies 1000 ms (533 px) left of the cursor.
    const QImage shot = line->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int gapRight = 800 - int(std::lround(1000 * line->Scale()));
    EXPECT_GE(Share(shot, QRect(gapRight - 8, bandTop, 6, band.height()), SkinColour("United_hole_min")), 0.75);
}

TEST_F(TimeLineTest, AnEmptyLineShowsItsSkinAndZeroDurations) {
    auto line = United(800);
    const QImage shot = Screenshot(*line, "empty");
    QSize size;
    EXPECT_EQ(line->FormatDuration(0, &size), "00:00:00");
    EXPECT_EQ(Share(shot, QRect(200, 0, 100, 40), SkinColour("United_VideoTimeLineBack")), 1.0);
    EXPECT_GE(Count(shot, QRectF(4, 40 - size.height() - 2, size.width(), size.height()), QColor(173, 173, 173)), 3);
    EXPECT_EQ(Share(shot, QRect(0, 0, 800, 40), SkinColour("United_archiveVideoTimeLine")), 0.0);
}

// The build's own skin holds every image both styles load, each flat, and
// the parts a screenshot tells apart each in a colour of its own.
TEST(TimeLineSkin, EveryImageShipsFlatAndTheVisiblePartsDiffer) {
    const QString root = GAVEX_SKIN_ROOT;
    for (const QString style : {"Selected", "United"}) {
        for (const char* name : kTimeLineImages) {
            const bool frame = QString(name).startsWith("Background_") || QString(name).startsWith("Shadow_");
            if (frame && style == "United") continue;
            const QImage image = LoadImageResource(root, style + "_" + name);
            ASSERT_FALSE(image.isNull()) << style.toStdString() << " " << name;
            const QRgb first = image.pixel(0, 0);
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    ASSERT_EQ(image.pixel(x, y), first) << style.toStdString() << " " << name;
        }
        QStringList parts = {"VideoTimeLineBack",
                             "VideoTimeLineCenterMarker",
                             "archiveVideoTimeLine",
                             "hole_sec",
                             "hole_min",
                             "hole_hour",
                             "hole_day",
                             "riska_small",
                             "riska_medium",
                             "riska_big",
                             "select_bar_blue"};
        if (style == "Selected") parts << "Background_Center";
        QSet<QRgb> colours;
        for (const QString& part : parts) colours.insert(SkinColour(style + "_" + part).rgba());
        EXPECT_EQ(colours.size(), parts.size()) << style.toStdString();
        for (const char* button : {"_rewind_left_normal", "_rewind_right_normal"})
            EXPECT_FALSE(LoadImageResource(root, style + button).isNull()) << button;
    }
    for (const char* button : {"holeBWD_btn_normal", "holeFWD_btn_normal"})
        EXPECT_FALSE(LoadImageResource(root, button).isNull()) << button;
}

}  // namespace
