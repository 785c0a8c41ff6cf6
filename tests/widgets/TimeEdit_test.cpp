#include "widgets/TimeEdit.h"

#include <cstdlib>
#include <string>
#include <vector>

#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using time_edit::QCustomEdit;
using time_edit::QTimeValidator;

namespace {

TEST(TimeFormats, LongTimeFormatKeepsTimePartsOnlyWithTwoDigitHours) {
  EXPECT_EQ(time_edit::TimeDisplayFormat(QLocale("en_GB")), "HH:mm:ss");
  EXPECT_EQ(time_edit::TimeInputMask(QLocale("en_GB")), "99:99:99");
  EXPECT_EQ(time_edit::TimeDisplayFormat(QLocale("en_US")), "hh:mm:ss AP");
  EXPECT_EQ(time_edit::TimeInputMask(QLocale("en_US")), "99:99:99 AA");
  const std::pair<QString, QString> reduced[] = {
      {"HH:mm:ss t", "HH:mm:ss"},         {"h:mm:ss AP t", "hh:mm:ss AP"},
      {"AP h:mm:ss t", "AP hh:mm:ss"},    {"t HH:mm:ss", "HH:mm:ss"},
      {"H:mm:ss", "HH:mm:ss"},            {"HH 'h' mm 'min' ss 's' t", "HH 'h' mm 'min' ss"},
      {"hh:mm:ss.zzz", "hh:mm:ss"},
  };
  for (const auto& [full, kept] : reduced) EXPECT_EQ(time_edit::EditableTimeFormat(full), kept) << full.toStdString();
  // The default style follows the system locale the test runs in (en_GB).
  const TimeEditStyle style;
  EXPECT_EQ(style.displayFormat, "HH:mm:ss dd/MM/yyyy");
  EXPECT_EQ(style.inputMask, "99:99:99 99/99/9999;_");
}

TEST(TimeValidator, LocatesEveryFieldByItsToken) {
  const QTimeValidator twelve("hh:mm:ss AP MM/dd/yyyy");
  const auto& hour = twelve.Field(QTimeValidator::Hour);
  ASSERT_EQ(hour.parts.size(), 2);
  EXPECT_EQ(hour.parts[0].position, 0);
  EXPECT_EQ(hour.parts[1].position, 9);
  EXPECT_EQ(hour.texts.front(), "12AM");
  EXPECT_EQ(hour.texts[13], "01PM");
  EXPECT_EQ(twelve.Field(QTimeValidator::Month).parts[0].position, 12);
  EXPECT_EQ(twelve.Field(QTimeValidator::Day).parts[0].position, 15);

  QString text = "11:30:00 PM 12/24/2023";
  twelve.StepField(text, 1, -1);
  EXPECT_EQ(text, "10:30:00 PM 12/24/2023");
  twelve.StepField(text, 9, -1);  // on the marker: the same field, 10 PM - 1 h
  EXPECT_EQ(text, "09:30:00 PM 12/24/2023");
  const QDateTime base(QDate(2001, 1, 1), QTime(1, 2, 3));
  EXPECT_EQ(twelve.ParseDateTime(text, base), QDateTime(QDate(2023, 12, 24), QTime(21, 30, 0)));

  // A format without seconds takes them from the base value.
  const QTimeValidator noSeconds("HH:mm dd/MM/yyyy");
  EXPECT_TRUE(noSeconds.Field(QTimeValidator::Second).parts.isEmpty());
  EXPECT_EQ(noSeconds.ParseDateTime("07:08 29/02/2023", base),
            QDateTime(QDate(2023, 2, 28), QTime(7, 8, 3)));
}

// The edits' behaviour in a 24-hour and a 12-hour locale, and with a
// translated date order under the same mask.
struct Variant {
  const char* locale;
  const char* dateFormat;
};

void PrintTo(const Variant& v, std::ostream* os) { *os << v.locale << " " << v.dateFormat; }

class CustomEditTest : public testing::TestWithParam<Variant> {
 protected:
  void SetUp() override {
    style.displayFormat = time_edit::TimeDisplayFormat(QLocale(GetParam().locale)) + " " +
                          GetParam().dateFormat;
    style.inputMask = time_edit::TimeInputMask(QLocale(GetParam().locale)) + " " +
                      time_edit::DateInputMask();
    edit = std::make_unique<QCustomEdit>(nullptr, style);
    edit->SetDateTime(QDateTime(QDate(2023, 12, 24), QTime(13, 5, 9)));
  }

  int FieldPosition(int field) const {
    return QTimeValidator(style.displayFormat).Field(field).parts[0].position;
  }
  void TypeAt(int pos, const QString& chars) {
    edit->setCursorPosition(pos);
    for (QChar c : chars) QTest::keyClick(edit.get(), c.toLatin1());
  }
  QString FieldText(int field) const {
    return QTimeValidator(style.displayFormat).Field(field).FieldText(edit->displayText());
  }
  void Enter() { QTest::keyClick(edit.get(), Qt::Key_Return); }
  bool TwelveHour() const { return style.displayFormat.contains("AP"); }

  TimeEditStyle style;
  std::unique_ptr<QCustomEdit> edit;
};

TEST_P(CustomEditTest, ShowsTimeThenDate) {
  const QString date = QString(GetParam().dateFormat) == "MM/dd/yyyy" ? "12/24/2023" : "24/12/2023";
  EXPECT_EQ(edit->displayText(), (TwelveHour() ? "01:05:09 PM " : "13:05:09 ") + date);
  EXPECT_FALSE(edit->IsEditing());
}

TEST_P(CustomEditTest, RefusesFirstDigitsThatCannotLeadToAValue) {
  struct Case {
    int field;
    QString typed;
    QString shown;  // the field's text afterwards
  } cases[] = {
      {QTimeValidator::Day, "4", "24"},      {QTimeValidator::Day, "3", "34"},
      {QTimeValidator::Month, "2", "12"},    {QTimeValidator::Month, "0", "02"},
      {QTimeValidator::Year, "3", "2023"},   {QTimeValidator::Year, "1", "1023"},
      {QTimeValidator::Year, "2101", "2103"}, {QTimeValidator::Year, "2100", "2100"},
      {QTimeValidator::Minute, "6", "05"},   {QTimeValidator::Minute, "5", "55"},
  };
  for (const Case& c : cases) {
    SetUp();
    TypeAt(FieldPosition(c.field), c.typed);
    EXPECT_EQ(FieldText(c.field), c.shown) << "field " << c.field << " typed " << c.typed.toStdString();
  }
}

TEST_P(CustomEditTest, BackspaceAndDeleteRemoveNothing) {
  const QString before = edit->displayText();
  edit->setCursorPosition(4);
  QTest::keyClick(edit.get(), Qt::Key_Backspace);
  QTest::keyClick(edit.get(), Qt::Key_Delete);
  EXPECT_EQ(edit->displayText(), before);
  EXPECT_FALSE(edit->IsEditing());
}

TEST_P(CustomEditTest, ArrowKeysStepTheHourWithoutWrapping) {
  struct Case {
    int hour;
    Qt::Key key;
    int expected;
  } cases[] = {{11, Qt::Key_Up, 12}, {23, Qt::Key_Up, 23}, {0, Qt::Key_Down, 0}, {12, Qt::Key_Down, 11}};
  for (const Case& c : cases) {
    SetUp();
    edit->SetDateTime(QDateTime(QDate(2023, 12, 24), QTime(c.hour, 0, 0)));
    edit->setCursorPosition(FieldPosition(QTimeValidator::Hour));
    QTest::keyClick(edit.get(), c.key);
    EXPECT_TRUE(edit->IsEditing());
    const QString expected = QTime(c.expected, 0, 0).toString(TwelveHour() ? "hh:mm:ss AP" : "HH:mm:ss");
    EXPECT_TRUE(edit->displayText().startsWith(expected)) << edit->displayText().toStdString();
    Enter();
    EXPECT_FALSE(edit->IsEditing());
    EXPECT_EQ(edit->DateTime().time(), QTime(c.expected, 0, 0));
  }
}

TEST_P(CustomEditTest, ImpossibleDayBecomesLastDayOfMonthWithTypedTime) {
  TypeAt(FieldPosition(QTimeValidator::Day), "31");
  TypeAt(FieldPosition(QTimeValidator::Month), "02");
  TypeAt(FieldPosition(QTimeValidator::Minute), "42");
  QSignalSpy changed(edit.get(), &QCustomEdit::DateTimeChanged);
  Enter();
  EXPECT_EQ(edit->DateTime(), QDateTime(QDate(2023, 2, 28), QTime(13, 42, 9)));
  EXPECT_EQ(changed.count(), 1);
  EXPECT_EQ(FieldText(QTimeValidator::Day), "28");
}

TEST_P(CustomEditTest, OutsideUpdatesWaitWhileTheUserTypes) {
  TypeAt(FieldPosition(QTimeValidator::Day), "1");
  ASSERT_TRUE(edit->IsEditing());
  edit->SetDate(QDate(2020, 5, 6));
  edit->SetDateTime(QDateTime(QDate(2021, 1, 1), QTime(1, 1, 1)));
  EXPECT_EQ(FieldText(QTimeValidator::Day), "14");
  EXPECT_EQ(edit->DateTime().date(), QDate(2023, 12, 24));
  Enter();
  EXPECT_EQ(edit->DateTime(), QDateTime(QDate(2023, 12, 14), QTime(13, 5, 9)));
  edit->SetDate(QDate(2020, 5, 6));
  EXPECT_EQ(edit->DateTime(), QDateTime(QDate(2020, 5, 6), QTime(13, 5, 9)));
}

TEST_P(CustomEditTest, IncompleteFieldKeepsEditingUntilCompleted) {
  // A finished field out of range is refused once the cursor leaves it.
  TypeAt(FieldPosition(QTimeValidator::Day), "39");
  EXPECT_EQ(FieldText(QTimeValidator::Day), "34");
  // Typing over a selection blanks the rest of it: "1_" is only a beginning.
  edit->setSelection(FieldPosition(QTimeValidator::Day), 2);
  QTest::keyClick(edit.get(), '1');
  EXPECT_EQ(FieldText(QTimeValidator::Day), "1_");
  // Enter applies nothing and outside updates stay ignored.
  Enter();
  EXPECT_TRUE(edit->IsEditing());
  edit->SetDateTime(QDateTime(QDate(2021, 1, 1), QTime(1, 1, 1)));
  EXPECT_EQ(edit->DateTime(), QDateTime(QDate(2023, 12, 24), QTime(13, 5, 9)));
  TypeAt(FieldPosition(QTimeValidator::Day), "14");
  Enter();
  EXPECT_FALSE(edit->IsEditing());
  EXPECT_EQ(edit->DateTime(), QDateTime(QDate(2023, 12, 14), QTime(13, 5, 9)));
}

TEST_P(CustomEditTest, SameValueDoesNotEmitAndSlotsMayCorrectTheValue) {
  QSignalSpy changed(edit.get(), &QCustomEdit::DateTimeChanged);
  edit->SetDateTime(QDateTime(QDate(2023, 12, 24), QTime(13, 5, 9)));
  EXPECT_EQ(changed.count(), 0);

  QObject::connect(edit.get(), &QCustomEdit::DateTimeChanged, [](QDateTime& t) {
    t = t.addMSecs(1000 - t.time().msec());
  });
  edit->SetDateTime(QDateTime(QDate(2023, 12, 24), QTime(8, 0, 0, 400)));
  EXPECT_EQ(changed.count(), 1);
  EXPECT_EQ(edit->DateTime().time(), QTime(8, 0, 1));
  EXPECT_TRUE(edit->displayText().startsWith(TwelveHour() ? "08:00:01 AM" : "08:00:01"));
}

TEST_P(CustomEditTest, OffsetShowsTheValueInThatZone) {
  edit->SetDateTime(QDateTime(QDate(2023, 7, 1), QTime(10, 0, 0), Qt::UTC), 3600);
  EXPECT_TRUE(edit->displayText().startsWith(TwelveHour() ? "11:00:00 AM" : "11:00:00"))
      << edit->displayText().toStdString();
  // A local value (Berlin summer time, UTC+2) shows at UTC+1 one hour earlier.
  edit->SetDateTime(QDateTime(QDate(2023, 7, 1), QTime(10, 0, 0), Qt::LocalTime), 3600);
  EXPECT_TRUE(edit->displayText().startsWith(TwelveHour() ? "09:00:00 AM" : "09:00:00"))
      << edit->displayText().toStdString();
}

TEST_P(CustomEditTest, CursorNeverRestsAfterTheLastCharacter) {
  edit->setCursorPosition(edit->displayText().size());
  EXPECT_EQ(edit->cursorPosition(), edit->displayText().size() - 1);
}

INSTANTIATE_TEST_SUITE_P(Locales, CustomEditTest,
                         testing::Values(Variant{"en_GB", "dd/MM/yyyy"}, Variant{"en_US", "dd/MM/yyyy"},
                                         Variant{"en_GB", "MM/dd/yyyy"}),
                         [](const testing::TestParamInfo<Variant>& info) {
                           return std::string(info.param.locale) +
                                  (QString(info.param.dateFormat).startsWith("MM") ? "_MonthFirst" : "");
                         });

TEST(TimeEditSize, FitsTheFormatWithinTheMargins) {
  QCustomEdit edit(nullptr, TimeEditStyle());
  edit.setTextMargins(5, 3, 5, 3);
  const QSize size = time_edit::EditTextSize(edit);
  const QSize text = QFontMetrics(edit.font()).size(Qt::TextSingleLine, edit.Style().displayFormat);
  EXPECT_EQ(size, QSize(text.width() + 12, text.height() + 10));
}

// A skinned edit keeps its text inside half the background's fixed size and
// paints the background behind it while unfocused.
TEST(TimeEditSize, SkinnedBackgroundSetsTheMarginsAndIsPainted) {
  // Nine parts: corners of 11 x 5 around stretching edges and centre.
  QList<QImage> parts;
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      QImage part(column == 1 ? 1 : 11, row == 1 ? 1 : 5, QImage::Format_ARGB32);
      part.fill(QColor(10, 200, 30));
      parts.append(part);
    }
  }
  TimeEditStyle style;
  style.background.SetParts(parts, 3);
  style.focusedBackground.SetParts(parts, 3);
  QCustomEdit edit(nullptr, style);
  EXPECT_EQ(edit.textMargins(), QMargins(11, 5, 11, 5));
  const QSize size = time_edit::EditTextSize(edit);
  const QSize text = QFontMetrics(edit.font()).size(Qt::TextSingleLine, edit.Style().displayFormat);
  EXPECT_EQ(size, QSize(text.width() + 24, text.height() + 14));
  edit.resize(size);
  const QImage image = edit.grab().toImage();
  EXPECT_EQ(image.pixelColor(1, 1), QColor(10, 200, 30));
  EXPECT_EQ(image.pixelColor(size.width() - 2, size.height() - 2), QColor(10, 200, 30));

  QCustomEdit plain(nullptr, TimeEditStyle());
  EXPECT_EQ(plain.textMargins(), QMargins());
}

TEST(TimeEditSize, FocusedEditPaintsTheFocusedBackground) {
  auto flat = [](QColor colour) {
    QImage part(40, 20, QImage::Format_ARGB32);
    part.fill(colour);
    return part;
  };
  TimeEditStyle style;
  style.background.SetParts({flat(QColor(10, 200, 30))}, 1);
  style.focusedBackground.SetParts({flat(QColor(200, 10, 30))}, 1);
  QWidget window;
  auto* other = new QLineEdit(&window);
  auto* edit = new QCustomEdit(&window, style);
  edit->move(0, 40);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.activateWindow();
  other->setFocus();
  ASSERT_FALSE(edit->hasFocus());
  EXPECT_EQ(edit->grab().toImage().pixelColor(1, 1), QColor(10, 200, 30));
  edit->setFocus();
  ASSERT_TRUE(edit->hasFocus());
  EXPECT_EQ(edit->grab().toImage().pixelColor(1, 1), QColor(200, 10, 30));
}

}  // namespace

namespace {

TEST(TimeEditFocus, ClickTakesFocusAndFocusIsReported) {
  QWidget window;
  auto* other = new QLineEdit(&window);
  auto* edit = new QCustomEdit(&window, TimeEditStyle());
  edit->move(0, 40);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.activateWindow();
  other->setFocus();
  QSignalSpy focused(edit, &QCustomEdit::OnFocus);
  QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_TRUE(edit->hasFocus());
  EXPECT_EQ(focused.count(), 1);
  // Leaving the edit after typing applies the typed value.
  edit->SetDateTime(QDateTime(QDate(2023, 12, 24), QTime(13, 5, 9)));
  edit->setCursorPosition(0);
  QTest::keyClick(edit, '0');
  ASSERT_TRUE(edit->IsEditing());
  other->setFocus();
  EXPECT_FALSE(edit->IsEditing());
  EXPECT_EQ(edit->DateTime(), QDateTime(QDate(2023, 12, 24), QTime(3, 5, 9)));
}

}  // namespace

namespace {

// Sets the process's time zone for one test and puts the suite's zone back.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) : previous(std::getenv("TZ") ? std::getenv("TZ") : "") {
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    setenv("TZ", previous.c_str(), 1);
    tzset();
  }

 private:
  std::string previous;
};

// What the user types is read in the zone the text shows, so a typed time
// lands on the instant it names whatever the machine's zone and the offset.
// 23:30 UTC lies on the next day at UTC+1 and in Berlin's summer time.
TEST(TimeEditZones, TypedTimeRoundTripsInTheShownZone) {
  const QDateTime value(QDate(2023, 7, 1), QTime(23, 30, 0), Qt::UTC);
  const QString typed = "2023-07-01T23:45:00Z";  // minutes 45 typed
  struct Case {
    const char* zone;
    int offset;
    bool timeOnly;  // the date fields come from the value as shown
    const char* shown;
    const char* shownAfter;
  } cases[] = {
      {"UTC", 0, false, "23:30:00 01/07/2023", "23:45:00 01/07/2023"},
      {"UTC", 3600, false, "00:30:00 02/07/2023", "00:45:00 02/07/2023"},
      {"Europe/Berlin", 0, false, "01:30:00 02/07/2023", "01:45:00 02/07/2023"},
      {"Europe/Berlin", 3600, false, "00:30:00 02/07/2023", "00:45:00 02/07/2023"},
      {"UTC", 3600, true, "00:30:00", "00:45:00"},
      {"Europe/Berlin", 0, true, "01:30:00", "01:45:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " offset " + std::to_string(c.offset) + (c.timeOnly ? " time only" : ""));
    const ZoneScope zone(c.zone);
    TimeEditStyle style;
    style.displayFormat = "HH:mm:ss" + QString(c.timeOnly ? "" : " dd/MM/yyyy");
    style.inputMask = "99:99:99" + QString(c.timeOnly ? "" : " 99/99/9999;_");
    QCustomEdit edit(nullptr, style);
    edit.SetDateTime(value, c.offset);
    EXPECT_EQ(edit.displayText(), c.shown);

    std::vector<QDateTime> changed;
    QObject::connect(&edit, &QCustomEdit::DateTimeChanged, [&changed](QDateTime& t) { changed.push_back(t); });
    edit.setCursorPosition(3);
    QTest::keyClicks(&edit, "45");
    QTest::keyClick(&edit, Qt::Key_Return);
    EXPECT_EQ(edit.DateTime().toUTC().toString(Qt::ISODate), typed);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0].toUTC().toString(Qt::ISODate), typed);
    // The text stays in the zone it was shown in.
    EXPECT_EQ(edit.displayText(), c.shownAfter);
    EXPECT_EQ(edit.ShownOffset(), c.offset);
  }
}

// A calendar day (a local date, with the value's local time of day) leaves
// the text in its zone; the same value given with another offset is only
// shown anew.
TEST(TimeEditZones, DayAndZoneChangesKeepTheShownZone) {
  const ZoneScope zone("Europe/Berlin");
  QCustomEdit edit(nullptr, TimeEditStyle());
  const QDateTime value(QDate(2023, 7, 1), QTime(23, 30, 0), Qt::UTC);
  edit.SetDateTime(value, 3600);
  edit.SetDate(QDate(2023, 7, 5));
  EXPECT_EQ(edit.displayText(), "00:30:00 05/07/2023");
  EXPECT_EQ(edit.DateTime().toUTC().toString(Qt::ISODate), "2023-07-04T23:30:00Z");

  QSignalSpy changed(&edit, &QCustomEdit::DateTimeChanged);
  edit.SetDateTime(edit.DateTime(), 0);
  EXPECT_EQ(changed.count(), 0);
  EXPECT_EQ(edit.displayText(), "01:30:00 05/07/2023");
}

}  // namespace
