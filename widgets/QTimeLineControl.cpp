#include "widgets/QTimeLineControl.h"

#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGraphicsProxyWidget>
#include <QMouseEvent>
#include <QWheelEvent>

#include <boost/date_time/posix_time/posix_time.hpp>

#include <sstream>

#include "config/ResourcePaths.h"
#include "widgets/QCustomButton.h"
#include "base/PtimeConversion.h"

namespace {

int64_t MonotonicMilliseconds() {
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.elapsed();
}

QImage LoadTimeLineImage(const std::string& prefix, const QString& name) {
    return QImage(TimeLineImagePath(prefix, name));
}

std::locale TimeLocale(const QString& format) {
    // The locale owns the facet.
    return std::locale(std::locale(), new boost::posix_time::wtime_facet(format.toStdWString().c_str()));
}

QFont SkinFont(int points) {
    QFont font("Verdana", points, QFont::Normal);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

}  // namespace

QString TimeLineImagePath(const std::string& skinPrefix, const QString& name) {
    return ResourcePath(ApplicationDirectory(), QString("%1_%2.png").arg(QString::fromStdString(skinPrefix), name));
}

QTimeLineControl::QTimeLineControl(const TextStyleRecord& style, Clock clock)
    : style(style),
      fonts{SkinFont(11), SkinFont(10), SkinFont(7)},
      clock(clock ? std::move(clock) : Clock(MonotonicMilliseconds)),
      tracker([this] { return this->clock(); }),
      tickLocale(TimeLocale(style.tickFormat)),
      edgeLocale(TimeLocale(style.edgeFormat)),
      intervals(std::make_shared<utils::TimeConverter>()) {
    const std::string& prefix = style.skinPrefix;
    background = LoadTimeLineImage(prefix, "VideoTimeLineBack");
    centreMarker = LoadTimeLineImage(prefix, "VideoTimeLineCenterMarker");
    delimiterOverlay = LoadTimeLineImage(prefix, "VideoTimeLineBack_Panel_Delimiter");
    if (style.framed) {
        const char* names[] = {"Background_Left", "Background_Center", "Background_Right", "Shadow_Left",
                               "Shadow_Right"};
        for (std::size_t i = 0; i < frameImages.size(); ++i) frameImages[i] = LoadTimeLineImage(prefix, names[i]);
    }
    bandImage = LoadTimeLineImage(prefix, "archiveVideoTimeLine");
    const char* gaps[] = {"hole_sec", "hole_min", "hole_hour", "hole_day"};
    for (std::size_t i = 0; i < gapImages.size(); ++i) gapImages[i] = LoadTimeLineImage(prefix, gaps[i]);
    const char* ticks[] = {"riska_small", "riska_medium", "riska_big"};
    for (std::size_t i = 0; i < tickImages.size(); ++i) tickImages[i] = LoadTimeLineImage(prefix, ticks[i]);
    selectionImage = LoadTimeLineImage(prefix, "select_bar_blue");

    const QString left = QString::fromStdString(prefix + "_rewind_left");
    const QString right = QString::fromStdString(prefix + "_rewind_right");
    rewindLeft = new QCustomButton(left, this);
    rewindLeft->setObjectName(left);
    rewindRight = new QCustomButton(right, this);
    rewindRight->setObjectName(right);
    connect(rewindLeft, &QPushButton::pressed, this, &QTimeLineControl::goBegin);
    connect(rewindRight, &QPushButton::pressed, this, &QTimeLineControl::goEnd);
    if (style.navigationButtons) {
        jumpBackward = new QCustomButton("holeBWD_btn", this);
        jumpBackward->setObjectName("holeBWD_btn");
        jumpForward = new QCustomButton("holeFWD_btn", this);
        jumpForward->setObjectName("holeFWD_btn");
        connect(jumpBackward, &QPushButton::pressed, this, &QTimeLineControl::prevInterval);
        connect(jumpForward, &QPushButton::pressed, this, &QTimeLineControl::nextInterval);
    }

    setAttribute(Qt::WA_NoSystemBackground);
    setMinimumHeight(background.height());
    setMaximumHeight(background.height());

    moveAnimation.setTargetObject(this);
    moveAnimation.setPropertyName("moveAnimationPos");
    moveAnimation.setDuration(1000);
    moveAnimation.setEasingCurve(QEasingCurve::OutCubic);
    connect(&moveAnimation, &QAbstractAnimation::finished, this, &QTimeLineControl::moveAnimationFinished);
    zoomAnimation.setTargetObject(this);
    zoomAnimation.setPropertyName("zoomAnimationPos");
    zoomAnimation.setDuration(500);
    zoomAnimation.setEasingCurve(QEasingCurve::OutCubic);

    ClearIntervals();
    selectionBegin = 0;
    selectionEnd = 0;
    update();
}

QTimeLineControl::~QTimeLineControl() {
    moveAnimation.stop();
    zoomAnimation.stop();
    if (QGraphicsProxyWidget* proxy = graphicsProxyWidget()) proxy->setWidget(nullptr);
}

void QTimeLineControl::SetIntervals(const std::shared_ptr<utils::TimeConverter>& list) {
    ClearIntervals();
    if (list) intervals = list;
    const utils::IntervalList& archive = intervals->GetArchivePeriods();
    if (!archive.empty()) {
        rangeBegin = archive.front().start;
        rangeEnd = utils::IntervalEnd(archive.back());
    }
    zoom = ClampZoom(1.0);
    update();
}

void QTimeLineControl::ClearIntervals() {
    intervals = std::make_shared<utils::TimeConverter>();
    rangeBegin = 0;
    rangeEnd = 0;
    update();
}

void QTimeLineControl::SetPosition(int64_t time) {
    if (dragging) return;
    if (intervals->GetArchivePeriods().empty() && intervals->GetContinuousPeriods().empty()) return;
    SetScrollPosition(TimeToPosition(time));
}

void QTimeLineControl::SetCutSelectionMode(playback::ECutSelectionMode mode) {
    cutMode = mode;
}

void QTimeLineControl::SetSelectionBegin(int64_t time) {
    if (time == selectionBegin) return;
    selectionBegin = time;
    update();
}

void QTimeLineControl::SetSelectionEnd(int64_t time) {
    if (time == selectionEnd) return;
    selectionEnd = time;
    update();
}

void QTimeLineControl::ClearSelection() {
    selectionBegin = 0;
    selectionEnd = 0;
    update();
}

QRect QTimeLineControl::StripRect() const {
    if (!style.framed) return rect();
    const int left = frameImages[0].width();
    const int gap = (height() - frameImages[1].height()) / 2;
    return QRect(115 - left, gap, width() - 230 + 2 * left, height() - 2 * gap);
}

timeline::GapWidths QTimeLineControl::GapImageWidths() const {
    return {gapImages[0].width(), gapImages[1].width(), gapImages[2].width(), gapImages[3].width()};
}

int64_t QTimeLineControl::PositionToTime(double x) const {
    return timeline::PositionToTime(x, intervals->GetArchivePeriods(), Scale(), GapImageWidths());
}

double QTimeLineControl::TimeToPosition(int64_t t) const {
    return timeline::TimeToPosition(t, intervals->GetArchivePeriods(), Scale(), GapImageWidths());
}

const QImage& QTimeLineControl::GapImage(std::size_t interval) const {
    return gapImages[timeline::GapAfter(intervals->GetArchivePeriods(), interval)];
}

double QTimeLineControl::ClampZoom(double z) const {
    return timeline::ClampZoom(z, StripRect().width(), intervals->GetContinuousPeriods());
}

void QTimeLineControl::SetZoom(double z) {
    const int64_t t = PositionToTime(position);
    zoom = z;
    SetScrollPosition(TimeToPosition(t));
    update();
}

void QTimeLineControl::SetScrollPosition(double x) {
    if (x == position) return;
    position = x;
    if (cutMode != playback::CutSelectionNone) {
        const int64_t t = PositionToTime(x);
        int64_t begin = cutMode == playback::CutSelectionBegin ? t : selectionBegin;
        int64_t end = cutMode == playback::CutSelectionBegin ? selectionEnd : t;
        if (end < begin) {
            std::swap(begin, end);
            const int64_t fixedEdge = cutMode == playback::CutSelectionBegin ? selectionEnd : selectionBegin;
            const playback::ECutSelectionMode swapped =
                cutMode == playback::CutSelectionBegin ? playback::CutSelectionEnd : playback::CutSelectionBegin;
            SetCutSelectionMode(swapped);
            CutSelectionChanged(swapped, fixedEdge);
        }
        SetSelectionBegin(begin);
        SetSelectionEnd(end);
    }
    update();
}

void QTimeLineControl::SetDraggedPosition(double x) {
    const int64_t t = PositionToTime(x);
    if (!intervals->GetArchivePeriods().empty() && rangeBegin <= t && t <= rangeEnd) PositionDragged(t);
    SetScrollPosition(x);
}

void QTimeLineControl::AnimateTo(double x) {
    const double first = TimeToPosition(rangeBegin);
    const double last = TimeToPosition(rangeEnd);
    x = std::max(first, std::min(x, last));
    moveAnimation.stop();
    moveAnimation.setStartValue(position);
    moveAnimation.setEndValue(x);
    moveAnimation.start();
}

void QTimeLineControl::AnimateZoom(double z) {
    zoomAnimation.stop();
    zoomAnimation.setStartValue(zoom);
    zoomAnimation.setEndValue(z);
    zoomAnimation.start();
}

void QTimeLineControl::moveAnimationFinished() {
    dragging = false;
    // An empty time line has no time to choose.
    if (!intervals->GetArchivePeriods().empty()) TimeSelected(PositionToTime(position));
}

void QTimeLineControl::nextInterval() {
    const utils::IntervalList& archive = intervals->GetArchivePeriods();
    if (archive.empty()) return;
    const int64_t t = PositionToTime(position);
    const int64_t k = utils::FindIntervalIndex(t, archive);
    const int64_t last = static_cast<int64_t>(archive.size()) - 1;
    for (int64_t j : {k, k + 1}) {
        const int64_t end = utils::IntervalEnd(archive[std::clamp<int64_t>(j, 0, last)]);
        if (t < end) {
            TimeSelected(end);
            return;
        }
    }
}

void QTimeLineControl::prevInterval() {
    const utils::IntervalList& archive = intervals->GetArchivePeriods();
    if (archive.empty()) return;
    const int64_t t = PositionToTime(position);
    const int64_t k = utils::FindIntervalIndex(t, archive);
    const int64_t last = static_cast<int64_t>(archive.size()) - 1;
    for (int64_t j : {k, k - 1}) {
        const int64_t start = archive[std::clamp<int64_t>(j, 0, last)].start;
        if (t > start) {
            TimeSelected(start);
            return;
        }
    }
}

void QTimeLineControl::goBegin() {
    AnimateTo(TimeToPosition(rangeBegin));
}

void QTimeLineControl::goEnd() {
    AnimateTo(TimeToPosition(rangeEnd));
}

void QTimeLineControl::mousePressEvent(QMouseEvent* event) {
    const QRect strip = StripRect();
    if (strip.contains(event->pos())) {
        moveAnimation.stop();
        dragging = true;
        pressActive = true;
        pressOffset = event->pos() - strip.topLeft();
        pressPosition = position;
        lastMoveTime.reset();
        tracker.Start(event->pos());
    }
    event->accept();
}

void QTimeLineControl::mouseMoveEvent(QMouseEvent* event) {
    if (dragging && pressActive) {
        const QRect strip = StripRect();
        const double x = pressOffset.x() + strip.left() - event->pos().x() + pressPosition;
        const int64_t t = PositionToTime(x);
        if (!intervals->GetArchivePeriods().empty() && rangeBegin <= t && t <= rangeEnd) PositionDragged(t);
        SetScrollPosition(x);
        lastMoveTime = clock();
        tracker.AddSample(event->pos());
    }
    QWidget::mouseMoveEvent(event);
}

void QTimeLineControl::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (!dragging || !pressActive) return;
    pressActive = false;
    const QRect strip = StripRect();
    const int d = event->pos().x() - strip.left();
    if (d == pressOffset.x()) {
        AnimateTo(position + d - strip.width() / 2);
        return;
    }
    const bool rested = !lastMoveTime || clock() - *lastMoveTime >= restThreshold;
    const int64_t t = PositionToTime(position);
    if (rested && rangeBegin < t && t < rangeEnd) {
        dragging = false;
        TimeSelected(t);
        return;
    }
    AnimateTo(position - tracker.Velocity().x() * 0.5);
}

void QTimeLineControl::wheelEvent(QWheelEvent* event) {
    if (dragging) {
        event->accept();
        return;
    }
    if (StripRect().contains(event->position().toPoint()))
        AnimateZoom(ClampZoom(zoom * (event->angleDelta().y() > 0 ? 2.0 : 0.5)));
    QWidget::wheelEvent(event);
}

void QTimeLineControl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (jumpBackward && jumpForward) {
        jumpBackward->move(5, (background.height() - jumpBackward->height()) / 2);
        jumpForward->move(width() - jumpForward->width() - 5, (background.height() - jumpForward->height()) / 2);
    }
    const QRect strip = StripRect();
    rewindLeft->move(strip.topLeft());
    rewindRight->move(strip.left() + strip.width() - rewindRight->width(), strip.top());
}

QString QTimeLineControl::FormatTime(int64_t time, const std::locale& locale, const QFont& font, QSize* size) const {
    std::wostringstream stream;
    stream.imbue(locale);
    stream << utils::ShiftPtime(utils::PtimeFromMilliseconds(time), intervals->GetTimeZoneOffset());
    const QString text = QString::fromStdWString(stream.str());
    if (size) *size = QFontMetrics(font).size(Qt::TextSingleLine, text);
    return text;
}

QString QTimeLineControl::FormatDuration(int64_t milliseconds, QSize* size) const {
    const QString text = QString::fromStdString(timeline::FormatDurationText(milliseconds));
    if (size) *size = QFontMetrics(fonts[0]).size(Qt::TextSingleLine, text);
    return text;
}
