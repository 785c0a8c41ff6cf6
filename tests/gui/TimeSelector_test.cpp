// The calendar button and the export time input panel: the days that hold
// video, the edits following the position, typed times leaving as one
// archive time, the popup's placement and closing, and panel activation.
// Runs in Europe/Berlin (see main.cpp).
#include <QApplication>
#include <QDateTime>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimerEvent>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "widgets/QCustomCalendar.h"
#include "widgets/TimeEdit.h"
#include "gui/timeline/QTimeSelector.h"

namespace {

using calendar_layout::DayRange;
using calendar_layout::DayRanges;

int64_t LocalMs(int year, int month, int day, int hour, int minute = 0) {
  return QDateTime(QDate(year, month, day), QTime(hour, minute), Qt::LocalTime).toMSecsSinceEpoch();
}

int Day(int year, int month, int day) { return static_cast<int>(QDate(year, month, day).toJulianDay()); }

utils::Interval Span(int64_t from, int64_t to) { return {from, to - from}; }

std::shared_ptr<utils::TimeConverter> Converter(const utils::IntervalList& archive, int offset = 0) {
  auto converter = std::make_shared<utils::TimeConverter>();
  converter->ArchivePeriods() = archive;
  converter->SetTimeZoneOffset(offset);
  return converter;
}

// One hour of video on each of the days 9 to 12 July 2023.
utils::IntervalList JulyDays() {
  utils::IntervalList days;
  for (int day = 9; day <= 12; ++day) days.push_back(Span(LocalMs(2023, 7, day, 10), LocalMs(2023, 7, day, 11)));
  return days;
}

void Record(boost::signals2::signal<void(int64_t)>& signal, std::vector<int64_t>& into) {
  signal.connect([&into](int64_t time) { into.push_back(time); });
}

void Tick(QTimeSelector& selector) {
  QTimerEvent tick(selector.CloseTimerId());
  QCoreApplication::sendEvent(&selector, &tick);
}

void TypeTime(time_edit::QCustomEdit& edit, const QString& digits) {
  edit.setCursorPosition(0);
  for (QChar c : digits) QTest::keyClick(&edit, c.toLatin1());
  QTest::keyClick(&edit, Qt::Key_Return);
}

}  // namespace

TEST(AvailableDayRanges, MergesTouchingDaysAndSplitsAtDaysWithoutVideo) {
  struct Case {
    const char* name;
    utils::IntervalList intervals;
    DayRanges expected;
  };
  const Case cases[] = {
      {"days 10, 11 and 13",
       {Span(LocalMs(2023, 3, 10, 9), LocalMs(2023, 3, 10, 10)), Span(LocalMs(2023, 3, 11, 9), LocalMs(2023, 3, 11, 10)),
        Span(LocalMs(2023, 3, 13, 9), LocalMs(2023, 3, 13, 10))},
       {{Day(2023, 3, 10), 1}, {Day(2023, 3, 13), 0}}},
      {"23:00 to 01:00 covers two days",
       {Span(LocalMs(2023, 3, 10, 23), LocalMs(2023, 3, 11, 1))},
       {{Day(2023, 3, 10), 1}}},
      {"several intervals on one day",
       {Span(LocalMs(2023, 3, 10, 1), LocalMs(2023, 3, 10, 2)), Span(LocalMs(2023, 3, 10, 5), LocalMs(2023, 3, 10, 6))},
       {{Day(2023, 3, 10), 0}}},
      // Local days, not UTC ones: 00:30 in summer is 22:30 UTC the day before.
      {"local midnight in summer",
       {Span(LocalMs(2023, 7, 11, 0, 30), LocalMs(2023, 7, 11, 1))},
       {{Day(2023, 7, 11), 0}}},
      {"before 1970",
       {Span(LocalMs(1969, 7, 20, 21), LocalMs(1969, 7, 20, 23)), Span(LocalMs(1970, 1, 1, 0, 30), LocalMs(1970, 1, 1, 2))},
       {{Day(1969, 7, 20), 0}, {Day(1970, 1, 1), 0}}},
      {"no intervals", {}, {}},
  };
  for (const Case& c : cases) {
    const DayRanges ranges = timeline::AvailableDayRanges(c.intervals);
    ASSERT_EQ(ranges.size(), c.expected.size()) << c.name;
    for (size_t i = 0; i < ranges.size(); ++i) {
      EXPECT_EQ(ranges[i].firstDay, c.expected[i].firstDay) << c.name << " range " << i;
      EXPECT_EQ(ranges[i].extraDays, c.expected[i].extraDays) << c.name << " range " << i;
    }
  }
}

// The selector on a widget strip at the foot of a scene shown in a view, as
// the controls layer holds it, so the mouse reaches the button and the popup
// through the scene.
class TimeSelectorTest : public testing::Test {
 protected:
  TimeSelectorTest() : scene(0, 0, 800, 600), host(new QWidget()) {
    host->resize(800, 60);
    hostProxy = scene.addWidget(host);
    hostProxy->setPos(0, 500);
    view.setScene(&scene);
    view.setFrameShape(QFrame::NoFrame);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setFixedSize(800, 600);
  }
  ~TimeSelectorTest() override { delete hostProxy; }

  QTimeSelector& MakeSelector() {
    auto* selector = new QTimeSelector(&scene, host, QString());
    selector->show();  // the strip is already on show
    return *selector;
  }
  void Show() {
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  }
  void MoveMouseTo(QPointF scenePoint) {
    QTest::mouseMove(view.viewport(), view.mapFromScene(scenePoint));
    QApplication::processEvents();
  }
  QPointF ButtonCentre(const QTimeSelector& selector) const {
    return hostProxy->mapToScene(QRectF(selector.geometry()).center());
  }
  QPointF PopupCentre(QTimeSelector& selector) const {
    return selector.CalendarProxy()->sceneBoundingRect().center();
  }

  QGraphicsScene scene;
  QGraphicsView view;
  QWidget* host;
  QGraphicsProxyWidget* hostProxy = nullptr;
};

TEST_F(TimeSelectorTest, StandAloneSelectorHasItsOwnEditAndAHiddenCalendarAboveThePanels) {
  QTimeSelector& selector = MakeSelector();
  ASSERT_EQ(selector.Edits().size(), 1);
  const time_edit::QCustomEdit* edit = selector.Edits().front();
  EXPECT_EQ(edit->parentWidget(), &selector);
  EXPECT_EQ(edit->pos(), QPoint(30, 1));
  EXPECT_EQ(selector.width(), edit->width() + 50);
  EXPECT_TRUE(selector.isCheckable());
  EXPECT_EQ(selector.focusPolicy(), Qt::StrongFocus);
  ASSERT_NE(selector.CalendarProxy(), nullptr);
  EXPECT_EQ(selector.CalendarProxy()->scene(), &scene);
  EXPECT_EQ(selector.CalendarProxy()->zValue(), 1);
  EXPECT_FALSE(selector.IsPopupOpen());
}

TEST_F(TimeSelectorTest, FirstDayWithVideoIsSelectedAndEarlyArchivesLeaveTheSelectorUsable) {
  QTimeSelector& selector = MakeSelector();
  std::vector<int64_t> selected;
  Record(selector.TimeSelected, selected);

  selector.SetIntervals(Converter(JulyDays(), 3600));
  EXPECT_EQ(selector.Calendar().SelectedDay(), Day(2023, 7, 9));
  EXPECT_EQ(selector.UtcOffset(), 3600);

  // An archive that starts before 1970 (UTC) shows its days; the selector
  // still follows what the user types afterwards.
  ASSERT_NO_THROW(selector.SetIntervals(Converter({Span(LocalMs(1969, 12, 31, 23), LocalMs(1970, 1, 1, 2))})));
  EXPECT_EQ(selector.Calendar().SelectedDay(), Day(1969, 12, 31));
  EXPECT_TRUE(selected.empty());
  selector.SetPosition(LocalMs(1970, 1, 1, 1));
  TypeTime(*selector.Edits().front(), "013000");
  ASSERT_EQ(selected.size(), 1u);
  EXPECT_EQ(selected.front(), LocalMs(1970, 1, 1, 1, 30));
  EXPECT_EQ(selector.CurrentTime(), selected.front());
}

TEST_F(TimeSelectorTest, PositionFillsTheEditsInTheSourceZoneAndTheCalendarByLocalDate) {
  struct Case {
    int offset;
    QString shown;
  };
  // 22:30 UTC on 10 July is 00:30 on 11 July in Berlin (summer time).
  const int64_t time = QDateTime(QDate(2023, 7, 10), QTime(22, 30), Qt::UTC).toMSecsSinceEpoch();
  for (const Case& c : {Case{0, "00:30:00 11/07/2023"}, Case{3600, "23:30:00 10/07/2023"}}) {
    QTimeSelector selector(&scene, host, QString());
    std::vector<int64_t> selected;
    Record(selector.TimeSelected, selected);
    selector.SetIntervals(Converter(JulyDays(), c.offset));

    selector.SetPosition(time);
    EXPECT_EQ(selector.Edits().front()->text(), c.shown) << c.offset;
    EXPECT_EQ(selector.Calendar().SelectedDay(), Day(2023, 7, 11)) << c.offset;
    EXPECT_EQ(selector.CurrentTime(), time);
    EXPECT_TRUE(selected.empty()) << "its own update is not the user's choice";
  }
}

TEST_F(TimeSelectorTest, PositionWaitsWhileTheMouseIsOverTheOpenCalendarOrTheUserTypes) {
  QTimeSelector& selector = MakeSelector();
  selector.move(100, 10);
  Show();
  selector.SetIntervals(Converter(JulyDays()));
  const int64_t first = LocalMs(2023, 7, 10, 10);
  selector.SetPosition(first);
  time_edit::QCustomEdit& edit = *selector.Edits().front();
  const QString shown = edit.text();

  selector.click();
  ASSERT_TRUE(selector.IsPopupOpen());
  MoveMouseTo(PopupCentre(selector));
  ASSERT_TRUE(selector.Calendar().underMouse());
  selector.SetPosition(LocalMs(2023, 7, 12, 10));
  EXPECT_EQ(selector.CurrentTime(), first);
  EXPECT_EQ(edit.text(), shown);
  EXPECT_EQ(selector.Calendar().SelectedDay(), Day(2023, 7, 10));

  // Typing holds the edit, but the position itself is taken.
  MoveMouseTo(ButtonCentre(selector));
  edit.setCursorPosition(0);
  QTest::keyClick(&edit, '0');
  ASSERT_TRUE(edit.IsEditing());
  const QString typing = edit.text();
  selector.SetPosition(LocalMs(2023, 7, 12, 10));
  EXPECT_EQ(edit.text(), typing);
  EXPECT_EQ(selector.CurrentTime(), LocalMs(2023, 7, 12, 10));
  EXPECT_EQ(selector.Calendar().SelectedDay(), Day(2023, 7, 12));
}

TEST_F(TimeSelectorTest, PopupClosesAboutOneSecondAfterTheMouseLeftButtonAndPopup) {
  QTimeSelector& selector = MakeSelector();
  selector.move(100, 10);
  Show();
  selector.click();
  ASSERT_TRUE(selector.IsPopupOpen());
  ASSERT_TRUE(selector.isChecked());
  ASSERT_NE(selector.CloseTimerId(), 0);

  // Over the popup or the button, the watch starts again.
  for (const QPointF& over : {PopupCentre(selector), ButtonCentre(selector)}) {
    MoveMouseTo(QPointF(700, 100));
    for (int i = 0; i < 5; ++i) Tick(selector);
    MoveMouseTo(over);
    for (int i = 0; i < 30; ++i) Tick(selector);
    EXPECT_TRUE(selector.IsPopupOpen());
    EXPECT_EQ(selector.IdleTicks(), 0);
  }
  MoveMouseTo(QPointF(700, 100));
  for (int i = 0; i < 9; ++i) Tick(selector);
  EXPECT_TRUE(selector.IsPopupOpen()) << "0.9 s away";
  Tick(selector);
  EXPECT_FALSE(selector.IsPopupOpen()) << "1 s away";
  EXPECT_FALSE(selector.isChecked());
  EXPECT_EQ(selector.CloseTimerId(), 0);

  // A second click closes it at once.
  selector.click();
  ASSERT_TRUE(selector.IsPopupOpen());
  selector.click();
  EXPECT_FALSE(selector.IsPopupOpen());
  EXPECT_EQ(selector.CloseTimerId(), 0);
}

TEST_F(TimeSelectorTest, PopupOpensAboveTheButtonAndRightAlignsAtTheSceneEdge) {
  QTimeSelector& selector = MakeSelector();
  selector.move(100, 10);
  Show();
  selector.click();
  const QSize calendar = selector.Calendar().size();
  ASSERT_GT(calendar.width(), selector.width());
  EXPECT_EQ(selector.CalendarProxy()->pos(), QPointF(100, 510 - calendar.height()));

  // Moving the open selector moves the popup; crossing the scene's right
  // edge puts the popup's right edge at the button's.
  selector.move(800 - selector.width() - 10, 10);
  ASSERT_GT(selector.x() + calendar.width(), 800);
  EXPECT_EQ(selector.CalendarProxy()->pos(),
            QPointF(selector.x() + selector.width() - calendar.width(), 510 - calendar.height()));
  EXPECT_TRUE(scene.sceneRect().contains(selector.CalendarProxy()->sceneBoundingRect()));

  // A strip moved while the popup was closed places it anew when it opens.
  selector.click();
  hostProxy->setPos(0, 400);
  selector.click();
  EXPECT_EQ(selector.CalendarProxy()->pos().y(), 410 - calendar.height());
}

TEST_F(TimeSelectorTest, EditsDeletedByTheirOwnerAreLeftOut) {
  auto* kept = new time_edit::QCustomEdit(host, TimeEditStyle());
  auto* gone = new time_edit::QCustomEdit(host, TimeEditStyle());
  QTimeSelector selector(&scene, host, "Calendar", {kept, gone});
  selector.SetIntervals(Converter(JulyDays()));
  delete gone;
  EXPECT_EQ(selector.Edits(), QList<time_edit::QCustomEdit*>{kept});
  selector.SetPosition(LocalMs(2023, 7, 10, 10));
  EXPECT_EQ(kept->DateTime().toMSecsSinceEpoch(), LocalMs(2023, 7, 10, 10));
  selector.Calendar().SetCurrentDay(Day(2023, 7, 12), false);
  EXPECT_EQ(kept->DateTime().date(), QDate(2023, 7, 12));
  EXPECT_EQ(selector.CurrentTime(), LocalMs(2023, 7, 12, 10));
}

class TimeInputPanelTest : public testing::Test {
 protected:
  TimeInputPanelTest() : scene(0, 0, 800, 600) {}

  QGraphicsScene scene;
};

TEST_F(TimeInputPanelTest, TypedTimeLeavesOnceAsUtcAndPickedDayMovesBothEdits) {
  QTimeInputPanel panel(&scene, false);
  QTimeSelector& selector = panel.TimeSelector();
  EXPECT_EQ(selector.objectName(), "Calendar");
  ASSERT_EQ(selector.Edits().size(), 2);
  selector.SetIntervals(Converter(JulyDays()));
  selector.SetPosition(LocalMs(2023, 7, 10, 8));
  EXPECT_EQ(panel.TimeEdit().text(), "08:00:00");
  EXPECT_EQ(panel.DateEdit().text(), "10/07/2023");
  EXPECT_EQ(panel.CurrentTime(), LocalMs(2023, 7, 10, 8));

  std::vector<int64_t> selected;
  Record(selector.TimeSelected, selected);
  TypeTime(panel.TimeEdit(), "143000");
  const int64_t typed = QDateTime(QDate(2023, 7, 10), QTime(12, 30), Qt::UTC).toMSecsSinceEpoch();
  ASSERT_EQ(selected.size(), 1u);
  EXPECT_EQ(selected.front(), typed);
  EXPECT_EQ(panel.CurrentTime(), typed);

  // The typed time reached the date edit too, so a day picked in the
  // calendar moves both edits to the same new time, reported once.
  EXPECT_EQ(panel.DateEdit().DateTime(), panel.TimeEdit().DateTime());
  selected.clear();
  selector.Calendar().SetCurrentDay(Day(2023, 7, 12), false);
  EXPECT_EQ(panel.DateEdit().text(), "12/07/2023");
  EXPECT_EQ(panel.TimeEdit().text(), "14:30:00");
  EXPECT_EQ(panel.TimeEdit().DateTime(), panel.DateEdit().DateTime());
  ASSERT_EQ(selected.size(), 1u);
  EXPECT_EQ(selected[0], LocalMs(2023, 7, 12, 14, 30));
}

TEST_F(TimeInputPanelTest, FocusOrAPressActivatesAPanelOnce) {
  QWidget window;
  window.resize(700, 100);
  QTimeInputPanel begin(&scene, false, &window);
  QTimeInputPanel end(&scene, true, &window);
  end.move(begin.width(), 0);
  // What the owner does: one active panel at a time.
  int beginActivations = 0;
  int endActivations = 0;
  begin.Activated.connect([&] { ++beginActivations; end.Deactivate(); });
  end.Activated.connect([&] { ++endActivations; begin.Deactivate(); });
  window.show();
  QApplication::setActiveWindow(&window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  // The window gave its first edit the focus as it opened; start from no
  // active panel.
  begin.Deactivate();
  end.Deactivate();
  beginActivations = endActivations = 0;

  QTest::mouseClick(&end.DateEdit(), Qt::LeftButton);
  EXPECT_TRUE(end.DateEdit().hasFocus());
  EXPECT_TRUE(end.IsActive());
  EXPECT_FALSE(begin.IsActive());
  QTest::mouseClick(&end.TimeEdit(), Qt::LeftButton);
  EXPECT_EQ(endActivations, 1) << "already active";

  begin.TimeSelector().setFocus();
  EXPECT_TRUE(begin.IsActive());
  EXPECT_FALSE(end.IsActive());
  EXPECT_EQ(beginActivations, 1);

  QTest::mousePress(&end, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
  EXPECT_TRUE(end.IsActive());
  EXPECT_FALSE(begin.IsActive());
  EXPECT_EQ(endActivations, 2);

  // The controller activates a panel for the cut edge without any focus.
  begin.Activate();
  begin.Activate();
  EXPECT_EQ(beginActivations, 2);
  EXPECT_FALSE(end.IsActive());
}

TEST_F(TimeInputPanelTest, LayoutMirrorsTheSidesAndPaintsTheActiveArrow) {
  for (bool side : {false, true}) {
    QTimeInputPanel panel(&scene, side);
    const int arrow = panel.ArrowImage(false).width();
    ASSERT_GT(arrow, 0) << "arrow images are part of the skin";
    const QSize t = panel.TimeEdit().size();
    const QSize d = panel.DateEdit().size();
    const QSize s = panel.TimeSelector().size();
    EXPECT_EQ(panel.minimumWidth(), arrow + std::max(t.width(), d.width() + s.width() + 6) + 18);
    EXPECT_EQ(panel.maximumWidth(), panel.minimumWidth());
    panel.resize(panel.minimumWidth(), panel.minimumHeight());
    panel.show();
    QApplication::processEvents();

    // The edits sit above and below the middle, the arrow on the outer side,
    // the calendar button beside the date edit and nothing overlaps.
    const int middle = panel.height() / 2;
    EXPECT_EQ(panel.TimeEdit().geometry().bottom(), middle - 4);
    EXPECT_EQ(panel.DateEdit().y(), middle + 3);
    const QRect arrowRect(panel.ArrowPosition(), panel.ArrowImage(false).size());
    EXPECT_TRUE(panel.rect().contains(arrowRect));
    EXPECT_FALSE(arrowRect.intersects(panel.TimeEdit().geometry()));
    EXPECT_FALSE(arrowRect.intersects(panel.DateEdit().geometry()));
    EXPECT_FALSE(panel.TimeSelector().geometry().intersects(panel.DateEdit().geometry()));
    EXPECT_TRUE(panel.rect().contains(panel.TimeSelector().geometry()));
    if (side)
      EXPECT_LT(arrowRect.right(), panel.DateEdit().x());
    else
      EXPECT_GT(arrowRect.left(), panel.DateEdit().geometry().right());
    EXPECT_NEAR(panel.TimeSelector().geometry().center().y(), panel.DateEdit().geometry().center().y(), 1);

    // The skin's arrows are opaque in their middle.
    const QPoint probe = arrowRect.center();
    const QPoint inImage = probe - arrowRect.topLeft();
    ASSERT_EQ(panel.ArrowImage(false).pixelColor(inImage).alpha(), 255);
    ASSERT_NE(panel.ArrowImage(false).pixelColor(inImage), panel.ArrowImage(true).pixelColor(inImage));
    panel.Deactivate();  // showing it focused its first edit
    EXPECT_EQ(panel.grab().toImage().pixelColor(probe), panel.ArrowImage(false).pixelColor(inImage));
    panel.Activate();
    EXPECT_EQ(panel.grab().toImage().pixelColor(probe), panel.ArrowImage(true).pixelColor(inImage));
  }
}

// In a 12-hour locale the time edit is wider and takes an AM/PM marker; the
// panel still fits its children and a typed afternoon time leaves as UTC.
// The locale is fixed when the program starts, so the test runs itself
// again in en_US.
TEST_F(TimeInputPanelTest, TwelveHourLocaleFitsThePanelAndTakesTypedAfternoonTimes) {
  if (!time_edit::TimeDisplayFormat().contains("AP")) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("GAVEX_TEST_LC_ALL", "en_US.UTF-8");
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    const testing::TestInfo* self = testing::UnitTest::GetInstance()->current_test_info();
    child.start(QCoreApplication::applicationFilePath(),
                {QString("--gtest_filter=%1.%2").arg(self->test_suite_name(), self->name())});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString output = QString::fromLocal8Bit(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
    return;
  }

  QTimeInputPanel panel(&scene, true);
  const QSize t = panel.TimeEdit().size();
  const QSize d = panel.DateEdit().size();
  EXPECT_EQ(panel.minimumWidth(), panel.ArrowImage(false).width() +
                                      std::max(t.width(), d.width() + panel.TimeSelector().width() + 6) + 18);
  panel.resize(panel.minimumWidth(), panel.minimumHeight());
  panel.show();
  QApplication::processEvents();
  EXPECT_TRUE(panel.rect().contains(panel.TimeEdit().geometry()));
  EXPECT_TRUE(panel.rect().contains(panel.TimeSelector().geometry()));

  QTimeSelector& selector = panel.TimeSelector();
  selector.SetIntervals(Converter(JulyDays()));
  selector.SetPosition(LocalMs(2023, 7, 10, 8));
  EXPECT_EQ(panel.TimeEdit().text(), "08:00:00 AM");
  std::vector<int64_t> selected;
  Record(selector.TimeSelected, selected);
  TypeTime(panel.TimeEdit(), "023000PM");
  ASSERT_EQ(selected.size(), 1u) << panel.TimeEdit().text().toStdString();
  EXPECT_EQ(selected.front(), LocalMs(2023, 7, 10, 14, 30));
}
