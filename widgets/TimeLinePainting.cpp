// The paint handler of the time line. Everything is derived from the
// widget's state on each paint; painting changes nothing. Band, tick and
// selection positions are doubles until they are cut to the strip, so
// positions far beyond the int range never reach a QRect.

#include <QFontMetrics>
#include <QPainter>

#include <cmath>

#include "widgets/QTimeLineControl.h"

namespace {

constexpr QColor kDurationColour(173, 173, 173, 255);

void FillTiled(QPainter& painter, const QRect& rect, const QImage& image) {
    if (image.isNull() || rect.isEmpty()) return;
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(QBrush(image));
    painter.setBrushOrigin(rect.topLeft());
    painter.setPen(Qt::NoPen);
    painter.drawRect(rect);
}

// The whole pixels of a rectangle that lie on the strip; empty when none.
QRect OnStrip(const QRectF& rect, const QRect& strip) {
    const double left = std::max(rect.left(), static_cast<double>(strip.left()));
    const double right = std::min(rect.right(), static_cast<double>(strip.left() + strip.width()));
    const double top = std::max(rect.top(), static_cast<double>(strip.top()));
    const double bottom = std::min(rect.bottom(), static_cast<double>(strip.top() + strip.height()));
    if (right <= left || bottom <= top) return QRect();
    const int x1 = static_cast<int>(std::lround(left));
    const int x2 = static_cast<int>(std::lround(right));
    const int y1 = static_cast<int>(std::lround(top));
    const int y2 = static_cast<int>(std::lround(bottom));
    return QRect(x1, y1, x2 - x1, y2 - y1);
}

// Whether the strip holds a point given in doubles (right and bottom edges
// inclusive, as QRect::contains).
bool StripContains(const QRect& strip, double x, double y) {
    return x >= strip.left() && x <= strip.right() && y >= strip.top() && y <= strip.bottom();
}

bool StripIntersects(const QRect& strip, const QRectF& rect) {
    return QRectF(strip).intersects(rect);
}

int64_t PositiveModulo(int64_t value, int64_t divisor) {
    const int64_t r = value % divisor;
    return r < 0 ? r + divisor : r;
}

QPoint Pixel(double x, double y) {
    return QPoint(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
}

}  // namespace

void QTimeLineControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintBackground(painter);
    PaintIntervals(painter);
    const QRect strip = StripRect();
    if (style.framed) {
        painter.drawImage(strip.topLeft(), frameImages[3]);
        painter.drawImage(QPoint(strip.left() + strip.width() - frameImages[4].width(), strip.top()), frameImages[4]);
    }
    painter.drawImage(QPoint((width() - centreMarker.width()) / 2, strip.top()), centreMarker);
    if (style.showDurations) PaintDurations(painter);
    PaintSelection(painter);
    if (!delimiterOverlay.isNull()) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.drawImage(QPoint(0, 0), delimiterOverlay);
    }
}

void QTimeLineControl::PaintBackground(QPainter& painter) {
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    if (!background.isNull()) FillTiled(painter, rect(), background);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (!style.framed) return;
    const int left = frameImages[0].width();
    QRect inner = StripRect();
    inner.setX(inner.x() + left);
    inner.setWidth(inner.width() - left);
    FillTiled(painter, inner, frameImages[1]);
    painter.drawImage(QPoint(inner.left() - left, inner.top()), frameImages[0]);
    painter.drawImage(QPoint(inner.left() + inner.width(), inner.top()), frameImages[2]);
}

void QTimeLineControl::PaintIntervals(QPainter& painter) {
    const utils::IntervalList& archive = intervals->GetArchivePeriods();
    const QRect strip = StripRect();
    const int holeHeight = gapImages[timeline::GapSeconds].height();
    if (style.framed) {
        const int b = (strip.height() - holeHeight) / 2;
        painter.setClipRect(QRect(strip.x() + 5, strip.y() + b, strip.width() - 10, strip.height() - 2 * b));
    }
    const double scale = Scale();
    const double stripRight = strip.left() + strip.width();
    const int bandHeight = bandImage.height();
    const double bandTop = style.bandOffset + (strip.height() - bandHeight) / 2 + strip.top();
    const double gapTop = (strip.height() - holeHeight) / 2 + style.bandOffset + strip.top();
    const int dayWidth = gapImages[timeline::GapDays].width();

    double x = FirstBandLeft();
    for (std::size_t i = 0; i < archive.size() && x <= stripRight; ++i) {
        const bool last = i + 1 == archive.size();
        const double width = timeline::BandWidth(archive[i], scale);
        const QImage* gap = last ? nullptr : &GapImage(i);
        if (x < stripRight && x + width + dayWidth > strip.left()) {
            // Ticks and labels show only inside a band (a label only in a band
            // wider than itself): a band without width needs no texts formatted.
            if (width > 0) {
                FillTiled(painter, OnStrip(QRectF(x, bandTop, width, bandHeight), strip), bandImage);
                PaintTicks(painter, i, x, bandTop, width);
                PaintEdgeLabels(painter, i, x, width);
            }
            if (!last) {
                const QRectF gapRect(x + width, gapTop, gap->width(), gap->height());
                if (StripIntersects(strip, gapRect)) painter.drawImage(Pixel(x + width, gapTop), *gap);
            }
        }
        if (last) break;
        x += width + gap->width();
    }
    painter.setClipRect(rect());
    painter.setClipping(false);
}

void QTimeLineControl::PaintEdgeLabels(QPainter& painter, std::size_t i, double bandLeft, double bandWidth) {
    const utils::IntervalList& archive = intervals->GetArchivePeriods();
    const QRect strip = StripRect();
    const int bandHeight = bandImage.height();
    const double bandTop = style.bandOffset + (strip.height() - bandHeight) / 2 + strip.top();
    const double bandRight = bandLeft + bandWidth;
    const double stripBottom = strip.top() + strip.height();
    // In the band, or centred below it when the band is the lower image.
    const bool below = bandHeight < gapImages[timeline::GapSeconds].height();
    const QFontMetrics metrics(fonts[1]);
    struct Label {
        bool shown = false;
        QString text;
        QRectF rect;
    };
    auto place = [&](int64_t time, bool atEnd) {
        Label label;
        label.shown = true;
        label.text = FormatTime(time, edgeLocale, fonts[1]);
        const QSize size = metrics.size(Qt::TextSingleLine, label.text);
        const double top = below ? bandTop + bandHeight + (stripBottom - bandTop - bandHeight - size.height()) / 2
                                 : bandTop + (bandHeight - size.height()) / 2;
        const double left = atEnd ? bandRight - size.width() - kTextMargin : bandLeft + kTextMargin;
        label.rect = QRectF(left, top, size.width(), size.height());
        return label;
    };
    const Label begin = i > 0 ? place(archive[i].start, false) : Label();
    const Label end = i + 1 < archive.size() ? place(utils::IntervalEnd(archive[i]), true) : Label();
    const bool apart = !begin.shown || !end.shown ||
                       !begin.rect.adjusted(0, 0, kTextMargin, 0).intersects(end.rect.adjusted(-kTextMargin, 0, 0, 0));
    if (!apart || (end.shown && bandWidth <= end.rect.width())) return;
    painter.setFont(fonts[1]);
    painter.setPen(style.textColour);
    for (const Label* label : {&begin, &end})
        if (label->shown && StripIntersects(strip, label->rect) && bandWidth > label->rect.width())
            painter.drawText(label->rect, Qt::AlignCenter, label->text);
}

void QTimeLineControl::PaintTicks(QPainter& painter, std::size_t i, double bandLeft, double bandTop, double bandWidth) {
    const utils::Interval& interval = intervals->GetArchivePeriods()[i];
    const QRect strip = StripRect();
    const double stripRight = strip.left() + strip.width();
    const double bandRight = bandLeft + bandWidth;
    const double scale = Scale();
    const int64_t step = timeline::MajorTickStep(zoom);
    const double stepPixels = static_cast<double>(step) * scale;
    if (stepPixels <= 0) return;

    const int64_t first = 1000 - PositiveModulo(interval.start, 1000);
    const int64_t firstTime = interval.start + first;
    double x = bandLeft + static_cast<double>(first) * scale;
    int64_t offset = 0;
    if (x < 0) {
        const auto skipped = static_cast<int64_t>(-x / stepPixels);
        x += static_cast<double>(skipped) * stepPixels;
        offset = skipped * step;
    }

    const QImage& small = tickImages[0];
    const QImage& medium = tickImages[1];
    const QImage& big = tickImages[2];
    const double bigTop = strip.top() + (strip.height() - big.height()) / 2;
    const double mediumTop = strip.top() + (strip.height() - medium.height()) / 2;
    auto tick = [&](const QImage& image, double left, double top) {
        if (image.isNull() || !StripContains(strip, left, top) || left <= bandLeft || left >= bandRight) return false;
        painter.drawImage(Pixel(left, top), image);
        return true;
    };

    painter.setFont(fonts[2]);
    painter.setPen(style.textColour);
    const QFontMetrics metrics(fonts[2]);
    QRectF lastLabel;
    for (;; x += stepPixels) {
        const double bigLeft = x - big.width() / 2.0;
        const bool drawn = tick(big, bigLeft, bigTop);
        for (int k = 1; k <= 10; ++k) {
            const double mediumLeft = x + k * stepPixels / 10 - medium.width() / 2.0;
            tick(medium, mediumLeft, mediumTop);
            tick(small, mediumLeft - stepPixels / 20, mediumTop);
        }
        if (drawn) {
            const QString text = FormatTime(firstTime + offset, tickLocale, fonts[2]);
            const QSize size = metrics.size(Qt::TextSingleLine, text);
            const QRectF label(x - size.width() / 2.0, strip.top() + (bandTop - strip.top() - size.height()) / 2,
                               size.width(), size.height());
            if (label.left() > stripRight) break;
            if (StripIntersects(strip, label)) {
                const QRectF widened = label.adjusted(-kTextMargin, 0, kTextMargin, 0);
                if (lastLabel.isNull() || !widened.intersects(lastLabel)) {
                    if (label.left() >= bandLeft && label.right() <= bandRight)
                        painter.drawText(label, Qt::AlignCenter, text);
                    lastLabel = widened;
                }
            }
        } else if (bigLeft > stripRight) {
            break;
        }
        offset += step;
        if (offset >= interval.length) break;
    }
}

void QTimeLineControl::PaintDurations(QPainter& painter) {
    const bool empty = intervals->GetArchivePeriods().empty() && intervals->GetContinuousPeriods().empty();
    const timeline::Durations durations =
        empty ? timeline::Durations() : timeline::DurationsAt(PositionToTime(position), *intervals);
    QSize leftSize, rightSize;
    const QString left = FormatDuration(durations.elapsed, &leftSize);
    const QString right = FormatDuration(durations.remaining, &rightSize);
    painter.setPen(kDurationColour);
    painter.setFont(fonts[0]);
    painter.drawText(QRect(QPoint(kTextMargin, height() - leftSize.height() - kDurationBottomMargin), leftSize),
                     Qt::AlignCenter, left);
    painter.drawText(
        QRect(QPoint(width() - kTextMargin - rightSize.width(), height() - rightSize.height() - kDurationBottomMargin),
              rightSize),
        Qt::AlignCenter, right);
}

void QTimeLineControl::PaintSelection(QPainter& painter) {
    if ((intervals->GetArchivePeriods().empty() && intervals->GetContinuousPeriods().empty()) ||
        selectionImage.isNull() || selectionBegin >= selectionEnd)
        return;
    const QRect strip = StripRect();
    const double x1 = TimeToPosition(selectionBegin);
    const double x2 = TimeToPosition(selectionEnd);
    const QRectF bar(FirstBandLeft() + x1, strip.top(), x2 - x1, selectionImage.height());
    if (bar.left() > strip.left() + strip.width() || bar.right() < strip.left()) return;
    FillTiled(painter, OnStrip(bar, strip), selectionImage);
}

double QTimeLineControl::FirstBandLeft() const {
    const QRect strip = StripRect();
    return strip.left() - position + strip.width() / 2;
}
