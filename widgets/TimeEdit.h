#pragma once
// Date and time entry: a borderless line edit with an input mask and a
// field-by-field validator. The text shows the time first and the date second;
// every field is located by its token in the display format, so a translated
// date order keeps validation and stepping right.

#include <QColor>
#include <QDateTime>
#include <QLineEdit>
#include <QLocale>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QValidator>
#include <QVector>

#include "widgets/SkinResources.h"

namespace time_edit {

// The translatable date format and its input mask ("dd/MM/yyyy", "99/99/9999;_").
QString DateDisplayFormat();
QString DateInputMask();
// The locale's long time format reduced to its hour, minute, second and AM/PM
// parts (the zone token cannot be typed), with a two-digit hour.
QString TimeDisplayFormat(const QLocale& locale = QLocale::system());
// A QTime format reduced that way.
QString EditableTimeFormat(const QString& longFormat);
// "99:99:99", with "AA " before or " AA" after it when the format has an AM/PM marker.
QString TimeInputMask(const QLocale& locale = QLocale::system());

// One field of the text (year, month, day, hour, minute or second).
struct TimeField {
  struct Part {
    int position = 0;
    int length = 0;
  };
  QVector<Part> parts;  // empty: the format does not show this field
  QStringList texts;    // the hour field only: its 24 texts in hour order
  int minimum = 0;
  int range = 0;  // maximum - minimum

  QString FieldText(const QString& text) const;
  QString ValueText(int value) const;
  // minimum - 1 when no text matches.
  int TextIndex(const QString& text) const;
  // Whether partial can still begin a value within the limits.
  bool IsValid(const QString& partial) const;
  bool PartContains(int partIndex, int pos) const;
  // The field's value in text; false when it is not (yet) a number or text.
  bool Value(const QString& text, int& value) const;
};

class QTimeValidator : public QValidator {
 public:
  enum FieldIndex { Year, Month, Day, Hour, Minute, Second, FieldCount = 7 };

  explicit QTimeValidator(const QString& format, QObject* parent = nullptr);

  State validate(QString& text, int& pos) const override;
  // Steps the field under pos by step, limited to its range (no wrap-around).
  void StepField(QString& text, int pos, int step) const;
  // The local time the text shows; fields the format lacks come from base,
  // an impossible day becomes the last day of its month.
  QDateTime ParseDateTime(const QString& text, const QDateTime& base) const;

  const TimeField& Field(int index) const { return fields[index]; }

 private:
  TimeField fields[FieldCount];
};

}  // namespace time_edit

// The look of a time edit, copied into each edit at construction.
struct TimeEditStyle {
  TimeEditStyle();

  QColor baseColour;
  QColor textColour;
  QColor highlightColour;
  QColor highlightedTextColour;
  QString displayFormat;
  QString inputMask;
  // Drawn behind the text while the edit has no focus; half its fixed size
  // becomes the text margins. Without images the edit paints no background.
  SkinImageGrid background;
  SkinImageGrid focusedBackground;
};

namespace time_edit {

class QCustomEdit : public QLineEdit {
  Q_OBJECT
 public:
  QCustomEdit(QWidget* parent, const TimeEditStyle& style);

  // The value, in local time.
  const QDateTime& DateTime() const { return dateTime; }
  // Seconds east of UTC of the zone the text shows; 0 is local time.
  int ShownOffset() const { return shownOffset; }
  // True from the first typed change or arrow-key step until editing finishes;
  // outside updates are ignored meanwhile.
  bool IsEditing() const { return editing; }
  const TimeEditStyle& Style() const { return style; }

 signals:
  // Carries a copy of every new value before it is stored; a slot may change
  // it, and the changed value is what the edit stores and shows.
  void DateTimeChanged(QDateTime& time);
  void OnFocus();

 public slots:
  // A local date with the value's local time of day; the text keeps its zone.
  void SetDate(QDate date);
  // offset: seconds east of UTC the value is shown in; 0 is local time.
  // What the user types is read back in that same zone.
  void SetDateTime(QDateTime time, int offset = 0);

 protected:
  void timerEvent(QTimerEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private slots:
  void onTextEdited(const QString& text);
  void onEditingFinished();
  void onCursorPositionChanged(int oldPos, int newPos);
  void onSelectionChanged();

 private:
  void KeepCursorOnCharacter();
  // The value as the text shows it, and a shown date and time as a value.
  QDateTime InShownZone(const QDateTime& value) const;
  QDateTime FromShownZone(const QDate& date, const QTime& time) const;

  QTimeValidator validator;
  QDateTime dateTime;
  int timerId = 0;
  bool editing = false;
  TimeEditStyle style;
  int shownOffset = 0;
};

// The size an edit needs to show its style's display format within its margins.
QSize EditTextSize(const QCustomEdit& edit);

}  // namespace time_edit
