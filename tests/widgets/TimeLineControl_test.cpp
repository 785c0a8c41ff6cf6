// The time line widget offscreen: what the user's drags, clicks, flicks,
// wheel turns and jumps emit, and the cut selection. Animations are stepped
// by hand and the rest clock is the test's.

#include <QGraphicsProxyWidget>
#include <QGraphicsScene>

#include "TimeLineFixture.h"

namespace {

using namespace timeline_test;

TEST_F(TimeLineTest, BuildsFromItsSkinAndStartsEmpty) {
    auto line = Selected();
    EXPECT_EQ(line->minimumHeight(), 90);
    EXPECT_EQ(line->maximumHeight(), 90);
    // Framed: 115 px margins minus the left end piece; the frame's centre height.
    EXPECT_EQ(line->StripRect(), QRect(105, 13, 1900 - 210, 64));
    EXPECT_EQ(line->Zoom(), 0.0625);
    EXPECT_EQ(line->PositionToTime(500), 0);
    for (const char* name : {"holeBWD_btn", "holeFWD_btn"})
        EXPECT_NE(line->findChild<QCustomButton*>(name), nullptr) << name;
    auto plain = United();
    EXPECT_EQ(plain->StripRect(), plain->rect());
    EXPECT_EQ(plain->findChild<QCustomButton*>("holeFWD_btn"), nullptr);

    // An empty time line takes no position and a click on it chooses nothing.
    plain->SetPosition(kStart);
    EXPECT_EQ(plain->Position(), 0);
    SendMouse(*plain, QEvent::MouseButtonPress, {300, 20});
    SendMouse(*plain, QEvent::MouseButtonRelease, {300, 20});
    Finish(plain->MoveAnimation());
    EXPECT_TRUE(selected.empty());
    EXPECT_TRUE(dragged.empty());
    EXPECT_FALSE(plain->Dragging());
}

TEST_F(TimeLineTest, LeavesItsSceneProxyWhenDestroyed) {
    QGraphicsScene scene;
    auto line = United();
    QGraphicsProxyWidget* proxy = scene.addWidget(line.get());
    ASSERT_EQ(proxy->widget(), line.get());
    line.reset();
    EXPECT_EQ(proxy->widget(), nullptr);
    EXPECT_EQ(scene.items().size(), 1);

    // A scene that goes first takes its time line with it.
    auto owner = std::make_unique<QGraphicsScene>();
    owner->addWidget(United().release());
    owner.reset();
}

TEST_F(TimeLineTest, SetIntervalsClampsTheZoomAndKeepsThePosition) {
    auto line = United(1600);
    line->SetScrollPosition(42);
    // 15 s at zoom 1 is 3000 px: 1 is inside [1600 / 3000, 1600 / 600].
    line->SetIntervals(FiveIntervals());
    EXPECT_EQ(line->Zoom(), 1.0);
    EXPECT_EQ(line->Position(), 42);
    auto shortList = std::make_shared<utils::TimeConverter>();
    shortList->ArchivePeriods() = {{kStart, 2000}};
    shortList->RebuildContinuous();
    line->SetIntervals(shortList);
    EXPECT_DOUBLE_EQ(line->Zoom(), 1600.0 / 600);
    line->ClearIntervals();
    EXPECT_TRUE(line->Intervals().GetArchivePeriods().empty());
}

TEST_F(TimeLineTest, GapImagesFollowTheGapClass) {
    auto line = United();
    line->SetIntervals(FiveIntervals());
    const QString shipped = GAVEX_SKIN_ROOT;
    const char* expected[] = {"hole_sec", "hole_min", "hole_hour", "hole_day"};
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(line->GapImage(i), LoadImageResource(shipped, QString("United_") + expected[i])) << i;
    // A time in the minute gap lies at the end of band 1 and reads back as its end.
    const auto& list = line->Intervals().GetArchivePeriods();
    const int64_t inGap = utils::IntervalEnd(list[1]) + 30000;
    EXPECT_EQ(line->TimeToPosition(inGap), line->TimeToPosition(utils::IntervalEnd(list[1])));
    EXPECT_EQ(line->PositionToTime(line->TimeToPosition(inGap) + 3), utils::IntervalEnd(list[1]));
}

TEST_F(TimeLineTest, DragEmitsEveryMoveAndOneTimeAfterARest) {
    auto line = United();
    line->SetIntervals(FiveIntervals());
    line->SetPosition(kStart + 1500);
    const double start = line->Position();
    SendMouse(*line, QEvent::MouseButtonPress, {800, 20});
    ASSERT_TRUE(line->Dragging());
    for (int x : {790, 780, 770}) {
        now += 20;
        SendMouse(*line, QEvent::MouseMove, {x, 20});
    }
    // Dragging left moves the strip left: later times come under the cursor.
    EXPECT_EQ(line->Position(), start + 30);
    ASSERT_EQ(dragged.size(), 3u);
    EXPECT_LT(dragged[0], dragged[1]);
    EXPECT_EQ(dragged.back(), line->PositionToTime(start + 30));
    // The controller's position does not move the strip under the hand.
    line->SetPosition(kStart);
    EXPECT_EQ(line->Position(), start + 30);
    EXPECT_TRUE(selected.empty());

    now += 100;
    SendMouse(*line, QEvent::MouseButtonRelease, {770, 20});
    EXPECT_EQ(selected, std::vector<int64_t>{dragged.back()});
    EXPECT_FALSE(line->Dragging());
    EXPECT_NE(line->MoveAnimation().state(), QAbstractAnimation::Running);
}

TEST_F(TimeLineTest, AFlickContinuesHalfASecondAndEmitsAtItsEnd) {
    auto line = United();
    line->SetIntervals(FiveIntervals());
    line->SetPosition(kStart + 1500);
    SendMouse(*line, QEvent::MouseButtonPress, {800, 20});
    for (int x : {790, 780, 770}) {
        now += 20;
        SendMouse(*line, QEvent::MouseMove, {x, 20});
    }
    const double released = line->Position();
    now += 99;  // just short of a rest
    SendMouse(*line, QEvent::MouseButtonRelease, {770, 20});
    EXPECT_TRUE(selected.empty());
    EXPECT_TRUE(line->Dragging());
    // 30 px left in 60 ms: 500 px/s, half a second further on.
    EXPECT_DOUBLE_EQ(line->MoveAnimation().endValue().toDouble(), released + 250);
    const std::size_t moves = dragged.size();
    Finish(line->MoveAnimation());
    EXPECT_GT(dragged.size(), moves);
    EXPECT_EQ(line->Position(), released + 250);
    EXPECT_EQ(selected, std::vector<int64_t>{line->PositionToTime(released + 250)});
    EXPECT_FALSE(line->Dragging());
}

TEST_F(TimeLineTest, AFlickPastTheEndStopsThere) {
    auto line = United();
    line->SetIntervals(FiveIntervals());
    line->SetPosition(utils::IntervalEnd(line->Intervals().GetArchivePeriods().back()) - 100);
    SendMouse(*line, QEvent::MouseButtonPress, {800, 20});
    for (int x : {700, 600}) {
        now += 10;
        SendMouse(*line, QEvent::MouseMove, {x, 20});
    }
    now += 500;
    // Resting, but at the range's end: the strip comes back to the end.
    SendMouse(*line, QEvent::MouseButtonRelease, {600, 20});
    EXPECT_TRUE(selected.empty());
    Finish(line->MoveAnimation());
    const int64_t end = utils::IntervalEnd(line->Intervals().GetArchivePeriods().back());
    EXPECT_EQ(selected, std::vector<int64_t>{end});
}

TEST_F(TimeLineTest, AClickBringsThePointUnderTheCursorAndEmitsOnce) {
    auto line = United();
    line->SetIntervals(FiveIntervals());
    line->SetPosition(kStart + 1000);
    const int64_t clicked = line->PositionToTime(line->Position() + 100);
    // The cursor is at 900; 100 px right of it is 500 ms later at zoom 1.
    SendMouse(*line, QEvent::MouseButtonPress, {1000, 20});
    now += 300;
    SendMouse(*line, QEvent::MouseButtonRelease, {1000, 20});
    EXPECT_TRUE(selected.empty());
    Finish(line->MoveAnimation());
    EXPECT_EQ(selected, std::vector<int64_t>{clicked});
    EXPECT_EQ(clicked, kStart + 1500);

    // A press during an animation stops it and starts a new drag.
    SendMouse(*line, QEvent::MouseButtonPress, {1100, 20});
    SendMouse(*line, QEvent::MouseButtonRelease, {1100, 20});
    ASSERT_EQ(line->MoveAnimation().state(), QAbstractAnimation::Running);
    SendMouse(*line, QEvent::MouseButtonPress, {1100, 20});
    EXPECT_NE(line->MoveAnimation().state(), QAbstractAnimation::Running);
    EXPECT_EQ(selected.size(), 1u);
}

TEST_F(TimeLineTest, WheelZoomKeepsTheTimeUnderTheCursor) {
    auto line = United(1600);
    line->SetIntervals(FiveIntervals());
    line->SetPosition(kStart + 63000 + 1234);
    const int64_t cursor = kStart + 63000 + 1234;
    ASSERT_EQ(line->PositionToTime(line->Position()), cursor);
    const double max = 1600.0 / 600;
    const double expected[] = {2.0, max, max, max / 2};
    const int deltas[] = {120, 120, 120, -120};
    for (int step = 0; step < 4; ++step) {
        SendWheel(*line, {400, 20}, deltas[step]);
        Finish(line->ZoomAnimation());
        EXPECT_DOUBLE_EQ(line->Zoom(), expected[step]) << step;
        EXPECT_EQ(line->PositionToTime(line->Position()), cursor) << step;
    }
    // Down to the fit zoom and no further.
    for (int step = 0; step < 4; ++step) {
        SendWheel(*line, {400, 20}, -120);
        Finish(line->ZoomAnimation());
    }
    EXPECT_DOUBLE_EQ(line->Zoom(), 1600.0 / 3000);
    EXPECT_EQ(line->PositionToTime(line->Position()), cursor);

    // Ignored while dragging.
    SendMouse(*line, QEvent::MouseButtonPress, {800, 20});
    SendWheel(*line, {400, 20}, 120);
    EXPECT_NE(line->ZoomAnimation().state(), QAbstractAnimation::Running);
}

TEST_F(TimeLineTest, CutModeCrossingSwapsTheEdges) {
    auto line = United();
    line->SetIntervals(FiveIntervals());
    line->SetSelectionBegin(kStart + 200);
    line->SetSelectionEnd(kStart + 600);
    line->SetCutSelectionMode(playback::CutSelectionBegin);
    line->SetPosition(kStart + 400);
    EXPECT_EQ(line->SelectionBegin(), kStart + 400);
    EXPECT_TRUE(cuts.empty());

    line->SetPosition(kStart + 800);
    ASSERT_EQ(cuts.size(), 1u);
    EXPECT_EQ(cuts[0], std::make_pair(playback::CutSelectionEnd, kStart + 600));
    EXPECT_EQ(line->CutSelectionMode(), playback::CutSelectionEnd);
    EXPECT_EQ(line->SelectionBegin(), kStart + 600);
    EXPECT_EQ(line->SelectionEnd(), kStart + 800);

    line->SetPosition(kStart + 700);
    EXPECT_EQ(line->SelectionEnd(), kStart + 700);
    line->SetPosition(kStart + 100);
    ASSERT_EQ(cuts.size(), 2u);
    EXPECT_EQ(cuts[1], std::make_pair(playback::CutSelectionBegin, kStart + 600));
    EXPECT_EQ(line->SelectionBegin(), kStart + 100);
    EXPECT_EQ(line->SelectionEnd(), kStart + 600);

    // Mode 0 leaves the selection alone.
    line->SetCutSelectionMode(playback::CutSelectionNone);
    line->SetPosition(kStart + 2500);
    EXPECT_EQ(line->SelectionBegin(), kStart + 100);
    line->ClearSelection();
    EXPECT_EQ(line->SelectionEnd(), 0);
}

TEST_F(TimeLineTest, IntervalJumps) {
    auto line = Selected();
    line->SetIntervals(FiveIntervals());
    const auto list = line->Intervals().GetArchivePeriods();
    auto end = [&](int i) { return utils::IntervalEnd(list[i]); };
    const struct {
        int64_t at;
        std::optional<int64_t> next;
        std::optional<int64_t> previous;
    } cases[] = {
        {list[1].start + 500, end(1), list[1].start}, {end(1), end(2), list[1].start},
        {list[2].start, end(2), list[1].start},       {list[0].start, end(0), std::nullopt},
        {end(4), std::nullopt, list[4].start},
    };
    for (const auto& c : cases) {
        line->SetPosition(c.at);
        ASSERT_EQ(line->PositionToTime(line->Position()), c.at);
        selected.clear();
        line->nextInterval();
        EXPECT_EQ(selected.empty() ? std::nullopt : std::optional(selected[0]), c.next) << c.at;
        selected.clear();
        line->prevInterval();
        EXPECT_EQ(selected.empty() ? std::nullopt : std::optional(selected[0]), c.previous) << c.at;
    }
    // The buttons reach the same slots; jumps leave the position to the controller.
    line->SetPosition(list[1].start + 500);
    selected.clear();
    const double position = line->Position();
    line->findChild<QCustomButton*>("holeFWD_btn")->Press();
    line->findChild<QCustomButton*>("holeBWD_btn")->Press();
    EXPECT_EQ(selected, (std::vector<int64_t>{end(1), list[1].start}));
    EXPECT_EQ(line->Position(), position);
    // Rewind goes to the range's begin.
    line->findChild<QCustomButton*>(QString::fromStdString(line->Style().skinPrefix + "_rewind_left"))->Press();
    EXPECT_EQ(line->MoveAnimation().endValue().toDouble(), 0);
}

}  // namespace
