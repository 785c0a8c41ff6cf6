#include "widgets/TimeEdit.h"

#include <algorithm>

#include <QCoreApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QTime>

namespace time_edit {

QString DateDisplayFormat() {
  return QCoreApplication::translate("time_edit::QCustomEdit", "dd/MM/yyyy");
}

QString DateInputMask() {
  return QCoreApplication::translate("time_edit::QCustomEdit", "99/99/9999;_");
}

QString TimeDisplayFormat(const QLocale& locale) {
  return EditableTimeFormat(locale.timeFormat(QLocale::LongFormat));
}

QString EditableTimeFormat(const QString& full) {
  // Keep only hour, minute, second and AM/PM tokens with the separators between
  // them; the zone ("t") and anything after the last kept token are dropped.
  QString kept;
  QString pendingSeparator;
  bool inQuote = false;
  for (int i = 0; i < full.size();) {
    const QChar c = full[i];
    if (c == QLatin1Char('\'')) {
      inQuote = !inQuote;
      pendingSeparator += c;  // quoted text stays quoted
      ++i;
      continue;
    }
    int run = 1;
    while (i + run < full.size() && full[i + run] == c) ++run;
    const QString token = full.mid(i, run);
    const bool timeToken = !inQuote && (c == QLatin1Char('h') || c == QLatin1Char('H') ||
                                        c == QLatin1Char('m') || c == QLatin1Char('s'));
    const bool apToken =
        !inQuote && (full.mid(i, 2) == QLatin1String("AP") || full.mid(i, 2) == QLatin1String("ap"));
    if (apToken) {
      if (!kept.isEmpty()) kept += pendingSeparator;
      kept += full.mid(i, 2);
      pendingSeparator.clear();
      i += 2;
    } else if (timeToken) {
      if (!kept.isEmpty()) kept += pendingSeparator;
      kept += token;
      pendingSeparator.clear();
      i += run;
    } else if (!inQuote && c.isLetter()) {
      pendingSeparator.clear();  // a dropped token takes its separator with it
      i += run;
    } else {
      pendingSeparator += token;
      i += run;
    }
  }
  if (!kept.contains(QLatin1String("hh"), Qt::CaseInsensitive)) {
    const int h = kept.indexOf(QLatin1Char('h'), 0, Qt::CaseInsensitive);
    if (h >= 0) kept.insert(h, kept[h]);
  }
  return kept;
}

QString TimeInputMask(const QLocale& locale) {
  const QString format = TimeDisplayFormat(locale);
  const int ap = format.indexOf(QLatin1String("AP"));
  if (ap < 0) return QStringLiteral("99:99:99");
  if (ap == 0) return QStringLiteral("AA 99:99:99");
  return QStringLiteral("99:99:99 AA");
}

QString TimeField::FieldText(const QString& text) const {
  QString result;
  for (const Part& part : parts) result += text.mid(part.position, part.length);
  return result;
}

QString TimeField::ValueText(int value) const {
  if (!texts.isEmpty()) return texts.value(value - minimum);
  const int width = parts.isEmpty() ? 0 : parts.front().length;
  return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
}

int TimeField::TextIndex(const QString& text) const {
  for (int i = 0; i < texts.size(); ++i) {
    const int n = std::min(texts[i].size(), text.size());
    if (texts[i].left(n).compare(text.left(n), Qt::CaseInsensitive) == 0) return i;
  }
  return minimum - 1;
}

bool TimeField::IsValid(const QString& partial) const {
  if (!texts.isEmpty()) {
    const int index = TextIndex(partial);
    return index >= minimum && index <= minimum + range;
  }
  bool ok = false;
  const int a = partial.toInt(&ok);
  if (!ok) return false;
  const int lo = ValueText(minimum).left(partial.size()).toInt();
  const int hi = ValueText(minimum + range).left(partial.size()).toInt();
  return lo <= a && a <= hi;
}

bool TimeField::PartContains(int partIndex, int pos) const {
  const Part& part = parts[partIndex];
  return part.position <= pos && pos < part.position + part.length;
}

bool TimeField::Value(const QString& text, int& value) const {
  const QString fieldText = FieldText(text);
  if (!texts.isEmpty()) {
    value = TextIndex(fieldText);
    return value >= minimum;
  }
  bool ok = false;
  value = fieldText.toInt(&ok);
  return ok;
}

namespace {

struct Limits {
  int minimum;
  int maximum;
};
constexpr Limits kLimits[] = {{1970, 2100}, {1, 12}, {1, 31}, {0, 23}, {0, 59}, {0, 59}};

}  // namespace

QTimeValidator::QTimeValidator(const QString& format, QObject* parent) : QValidator(parent) {
  QStringList fieldTokens = QStringLiteral("yyyy||MM||dd||hh|AP||mm||ss").split(QStringLiteral("||"));
  QString hourFormat;
  if (format.contains(QLatin1String("hh"))) {
    hourFormat = QString(fieldTokens[Hour]).remove(QLatin1Char('|'));
  } else {
    hourFormat = QStringLiteral("HH");
    fieldTokens[Hour] = QStringLiteral("HH|AP");
  }
  for (int h = 0; h < 24; ++h) fields[Hour].texts << QTime(h, 0, 0).toString(hourFormat);

  for (int f = 0; f < fieldTokens.size(); ++f) {
    TimeField& field = fields[f];
    field.minimum = kLimits[f].minimum;
    field.range = kLimits[f].maximum - kLimits[f].minimum;
    for (const QString& token : fieldTokens[f].split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
      const int position = format.indexOf(token);
      if (position >= 0) field.parts.push_back({position, int(token.size())});
    }
  }
}

QValidator::State QTimeValidator::validate(QString& text, int& pos) const {
  State state = Acceptable;
  for (const TimeField& field : fields) {
    if (field.parts.isEmpty()) continue;
    int value = 0;
    if (field.Value(text, value) && value >= field.minimum && value <= field.minimum + field.range)
      continue;
    // Not a finished value: acceptable only as the beginning of one, typed up
    // to the cursor.
    QString prefix;
    State fieldState = Invalid;
    for (int j = 0; j < field.parts.size(); ++j) {
      const TimeField::Part& part = field.parts[j];
      if (field.PartContains(j, pos)) {
        prefix += text.mid(part.position, pos - part.position);
        fieldState = field.IsValid(prefix) ? Intermediate : Invalid;
        break;
      }
      prefix += text.mid(part.position, part.length);
      if (!field.IsValid(prefix)) break;
    }
    if (fieldState == Invalid) return Invalid;
    state = Intermediate;
  }
  return state;
}

void QTimeValidator::StepField(QString& text, int pos, int step) const {
  for (const TimeField& field : fields) {
    bool holds = false;
    for (int j = 0; j < field.parts.size() && !holds; ++j) holds = field.PartContains(j, pos);
    if (!holds) continue;
    int value = 0;
    if (!field.Value(text, value)) value = 0;
    const int maximum = field.minimum + field.range;
    value = std::clamp(value, field.minimum, maximum);
    value = std::clamp(value + step, field.minimum, maximum);
    const QString valueText = field.ValueText(value);
    int offset = 0;
    for (const TimeField::Part& part : field.parts) {
      text.replace(part.position, part.length, valueText.mid(offset, part.length));
      offset += part.length;
    }
    return;
  }
}

QDateTime QTimeValidator::ParseDateTime(const QString& text, const QDateTime& base) const {
  const QDate baseDate = base.date();
  const QTime baseTime = base.time();
  const int baseValues[] = {baseDate.year(), baseDate.month(),  baseDate.day(),
                            baseTime.hour(), baseTime.minute(), baseTime.second()};
  int values[6];
  for (int f = 0; f < 6; ++f) {
    const TimeField& field = fields[f];
    int value = 0;
    if (field.parts.isEmpty() || !field.Value(text, value)) value = baseValues[f];
    values[f] = std::clamp(value, field.minimum, field.minimum + field.range);
  }
  values[Day] = std::min(values[Day], QDate(values[Year], values[Month], 1).daysInMonth());
  QDate date(values[Year], values[Month], values[Day]);
  QTime time(values[Hour], values[Minute], values[Second], 0);
  if (!time.isValid()) time = baseTime;
  if (!date.isValid()) date = baseDate;
  return QDateTime(date, time, Qt::LocalTime);
}

}  // namespace time_edit

TimeEditStyle::TimeEditStyle()
    : baseColour(0, 0, 0, 0),
      textColour(114, 183, 255, 255),
      highlightColour(114, 183, 255, 128),
      highlightedTextColour(255, 0, 255, 255),
      displayFormat(time_edit::TimeDisplayFormat() + QLatin1Char(' ') + time_edit::DateDisplayFormat()),
      inputMask(time_edit::TimeInputMask() + QLatin1Char(' ') + time_edit::DateInputMask()) {}

namespace time_edit {

QCustomEdit::QCustomEdit(QWidget* parent, const TimeEditStyle& editStyle)
    : QLineEdit(parent), validator(editStyle.displayFormat), style(editStyle) {
  setAttribute(Qt::WA_NoSystemBackground);
  setFrame(false);
  QPalette colours = palette();
  colours.setColor(QPalette::Base, style.baseColour);
  colours.setColor(QPalette::Text, style.textColour);
  colours.setColor(QPalette::Highlight, style.highlightColour);
  colours.setColor(QPalette::HighlightedText, style.highlightedTextColour);
  setPalette(colours);
  setInputMask(style.inputMask);
  setValidator(&validator);
  connect(this, &QLineEdit::textEdited, this, &QCustomEdit::onTextEdited);
  connect(this, &QLineEdit::editingFinished, this, &QCustomEdit::onEditingFinished);
  connect(this, &QLineEdit::cursorPositionChanged, this, &QCustomEdit::onCursorPositionChanged);
  connect(this, &QLineEdit::selectionChanged, this, &QCustomEdit::onSelectionChanged);
  SetDateTime(QDateTime::currentDateTime(), 0);
  QFont editFont(QStringLiteral("Verdana"), 10);
  editFont.setStyleStrategy(QFont::PreferAntialias);
  setFont(editFont);
  if (!style.background.IsNull()) {
    const int halfWidth = qRound(style.background.FixedLength(0, false) / 2);
    const int halfHeight = qRound(style.background.FixedLength(1, false) / 2);
    setTextMargins(halfWidth, halfHeight, halfWidth, halfHeight);
  }
}

void QCustomEdit::paintEvent(QPaintEvent* event) {
  if (!style.background.IsNull()) {
    QPainter painter(this);
    (hasFocus() ? style.focusedBackground : style.background).Paint(painter, QRectF(rect()));
  }
  QLineEdit::paintEvent(event);
}

QDateTime QCustomEdit::InShownZone(const QDateTime& value) const {
  return shownOffset != 0 ? value.toOffsetFromUtc(shownOffset) : value.toLocalTime();
}

QDateTime QCustomEdit::FromShownZone(const QDate& date, const QTime& time) const {
  if (shownOffset == 0) return QDateTime(date, time, Qt::LocalTime);
  return QDateTime(date, time, Qt::OffsetFromUTC, shownOffset).toLocalTime();
}

void QCustomEdit::SetDate(QDate date) {
  if (editing) return;
  // Calendar days are local dates; the text keeps its zone.
  SetDateTime(QDateTime(date, dateTime.toLocalTime().time(), Qt::LocalTime), shownOffset);
}

void QCustomEdit::SetDateTime(QDateTime time, int offset) {
  if (editing) return;
  if (time != dateTime) {
    QDateTime value = time;
    emit DateTimeChanged(value);
    dateTime = value;
  } else if (offset == shownOffset) {
    return;
  }
  // The same value in another zone is only shown anew.
  shownOffset = offset;
  const int cursor = cursorPosition();
  setText(InShownZone(dateTime).toString(style.displayFormat));
  setCursorPosition(cursor);
}

void QCustomEdit::onTextEdited(const QString&) { editing = true; }

void QCustomEdit::onEditingFinished() {
  if (!editing) return;
  editing = false;
  // The text shows the shown zone's wall clock: read it back there, with the
  // fields the format lacks taken from the value as shown.
  const QDateTime typed = validator.ParseDateTime(displayText(), InShownZone(dateTime));
  SetDateTime(FromShownZone(typed.date(), typed.time()), shownOffset);
}

void QCustomEdit::KeepCursorOnCharacter() {
  const int length = displayText().size();
  if (!hasSelectedText() && length > 0 && cursorPosition() >= length) setCursorPosition(length - 1);
}

void QCustomEdit::onCursorPositionChanged(int, int) { KeepCursorOnCharacter(); }

void QCustomEdit::onSelectionChanged() { KeepCursorOnCharacter(); }

void QCustomEdit::timerEvent(QTimerEvent* event) {
  if (event->timerId() == timerId) {
    update();
    return;
  }
  QLineEdit::timerEvent(event);
}

void QCustomEdit::mousePressEvent(QMouseEvent* event) {
  if (!hasFocus()) setFocus(Qt::MouseFocusReason);
  QLineEdit::mousePressEvent(event);
}

void QCustomEdit::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
      event->accept();  // characters are only ever overwritten
      return;
    case Qt::Key_Up:
    case Qt::Key_Down: {
      QString text = displayText();
      const int cursor = cursorPosition();
      validator.StepField(text, cursor, event->key() == Qt::Key_Up ? 1 : -1);
      setText(text);
      setCursorPosition(cursor);
      editing = true;
      event->accept();
      return;
    }
    default:
      QLineEdit::keyPressEvent(event);
  }
}

void QCustomEdit::focusInEvent(QFocusEvent* event) {
  if (timerId == 0) timerId = startTimer(100, Qt::CoarseTimer);
  QLineEdit::focusInEvent(event);
  emit OnFocus();
}

void QCustomEdit::focusOutEvent(QFocusEvent* event) {
  if (timerId != 0) {
    killTimer(timerId);
    timerId = 0;
  }
  QLineEdit::focusOutEvent(event);
}

QSize EditTextSize(const QCustomEdit& edit) {
  const QMargins margins = edit.textMargins();
  const QSize text = QFontMetrics(edit.font()).size(Qt::TextSingleLine, edit.Style().displayFormat);
  return QSize(text.width() + margins.left() + margins.right() + 2,
               text.height() + margins.top() + margins.bottom() + 4);
}

}  // namespace time_edit
