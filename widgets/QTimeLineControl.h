#pragma once
// The horizontal time strip: recorded intervals as bands on a strip that
// scrolls under a fixed centre cursor, with fixed-width gap images between
// them, ticks and labels. The user drags (with a flick), clicks, zooms with
// the wheel and jumps; in a cut mode one edge of the export selection
// follows the cursor. The controller drives it through ITimeLineControl and
// hears the user through its three signals.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QPropertyAnimation>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <locale>
#include <memory>
#include <optional>
#include <string>

#include "widgets/KineticTracker.h"
#include "widgets/TimeLineGeometry.h"
#include "playback/PlaybackGui.h"

class QCustomButton;
class QPainter;

// Skin and behaviour of one of the two time lines.
struct TextStyleRecord {
    explicit TextStyleRecord(std::string skinPrefix = std::string()) : skinPrefix(std::move(skinPrefix)) {}

    // Side margins, end pieces, shadows, and ticks clipped to the gap height.
    bool framed = false;
    // The two buttons that jump across gaps.
    bool navigationButtons = false;
    // Added to the vertical position of the bands and gap images.
    int bandOffset = 0;
    // Pen of tick labels and interval edge labels.
    QColor textColour = QColor(0, 0, 0, 255);
    // The elapsed and remaining durations at the bottom corners.
    bool showDurations = false;
    // boost date-time formats of tick labels and interval edge labels.
    QString tickFormat;
    QString edgeFormat;
    // First part of every skin image and button name.
    std::string skinPrefix;
};

// "<prefix>_<name>.png" in the resources.
QString TimeLineImagePath(const std::string& skinPrefix, const QString& name);

class QTimeLineControl : public QWidget, public playback::ITimeLineControl {
    Q_OBJECT
    Q_PROPERTY(double moveAnimationPos READ AnimationPos WRITE SetDraggedPosition)
    Q_PROPERTY(double zoomAnimationPos READ AnimationPos WRITE SetZoom)

public:
    // Milliseconds from a monotonic source; only differences matter.
    using Clock = std::function<int64_t()>;

    // The default clock is the process's monotonic timer.
    explicit QTimeLineControl(const TextStyleRecord& style, Clock clock = Clock());
    ~QTimeLineControl() override;

    void SetIntervals(const std::shared_ptr<utils::TimeConverter>& intervals) override;
    void ClearIntervals() override;
    void SetPosition(int64_t time) override;
    void SetCutSelectionMode(playback::ECutSelectionMode mode) override;
    void SetSelectionBegin(int64_t time) override;
    void SetSelectionEnd(int64_t time) override;
    void ClearSelection() override;

    // The strip the bands scroll in: the widget, or inside the frame's margins.
    QRect StripRect() const;
    double Scale() const { return zoom * timeline::kZoomScale; }
    int64_t PositionToTime(double x) const;
    double TimeToPosition(int64_t t) const;
    const QImage& GapImage(std::size_t interval) const;
    double ClampZoom(double z) const;
    void SetZoom(double z);
    void SetScrollPosition(double x);
    // An animation step: the dragged signal, then the position.
    void SetDraggedPosition(double x);
    // Moves to x, kept within the recorded range, over the move animation.
    void AnimateTo(double x);
    void AnimateZoom(double z);

    double Position() const { return position; }
    double Zoom() const { return zoom; }
    bool Dragging() const { return dragging; }
    playback::ECutSelectionMode CutSelectionMode() const { return cutMode; }
    int64_t SelectionBegin() const { return selectionBegin; }
    int64_t SelectionEnd() const { return selectionEnd; }
    const utils::TimeConverter& Intervals() const { return *intervals; }
    const TextStyleRecord& Style() const { return style; }
    // The animations, for callers that step them.
    QPropertyAnimation& MoveAnimation() { return moveAnimation; }
    QPropertyAnimation& ZoomAnimation() { return zoomAnimation; }

    // The label text of a time (shifted by the display offset) and its size.
    QString FormatTime(int64_t time, const std::locale& locale, const QFont& font, QSize* size = nullptr) const;
    QString FormatDuration(int64_t milliseconds, QSize* size = nullptr) const;
    const std::locale& TickLocale() const { return tickLocale; }
    const std::locale& EdgeLocale() const { return edgeLocale; }
    const QFont& DurationFont() const { return fonts[0]; }
    const QFont& EdgeFont() const { return fonts[1]; }
    const QFont& TickFont() const { return fonts[2]; }

    static constexpr int kRestThresholdMs = 100;
    static constexpr int kTextMargin = 4;
    static constexpr int kDurationBottomMargin = 2;

public slots:
    void moveAnimationFinished();
    void nextInterval();
    void prevInterval();
    void goBegin();
    void goEnd();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    double AnimationPos() const { return 0; }
    timeline::GapWidths GapImageWidths() const;
    // Left edge of the first band in widget pixels.
    double FirstBandLeft() const;

    void PaintBackground(QPainter& painter);
    void PaintIntervals(QPainter& painter);
    // The band of interval i lies at bandLeft .. bandLeft + bandWidth in widget
    // pixels; ticks and labels outside it are not drawn.
    void PaintTicks(QPainter& painter, std::size_t i, double bandLeft, double bandTop, double bandWidth);
    void PaintEdgeLabels(QPainter& painter, std::size_t i, double bandLeft, double bandWidth);
    void PaintDurations(QPainter& painter);
    void PaintSelection(QPainter& painter);

    TextStyleRecord style;
    QImage background;
    QImage centreMarker;
    QImage delimiterOverlay;
    // Background_Left, Background_Center, Background_Right, Shadow_Left, Shadow_Right.
    std::array<QImage, 5> frameImages;
    QImage bandImage;
    // Indexed by timeline::GapClass.
    std::array<QImage, 4> gapImages;
    QCustomButton* jumpBackward = nullptr;
    QCustomButton* jumpForward = nullptr;
    QPoint pressOffset;
    double pressPosition = 0;
    bool dragging = false;
    // A press on the strip whose release is still to come.
    bool pressActive = false;
    double zoom = 0.0625;
    int64_t rangeEnd = 0;
    int64_t rangeBegin = 0;
    double position = 0;
    // 11, 10 and 7 point: durations, edge labels, tick labels.
    std::array<QFont, 3> fonts;
    // small, medium, big.
    std::array<QImage, 3> tickImages;
    Clock clock;
    KineticTracker tracker;
    std::locale tickLocale;
    std::locale edgeLocale;
    QCustomButton* rewindLeft = nullptr;
    QCustomButton* rewindRight = nullptr;
    playback::ECutSelectionMode cutMode = playback::CutSelectionNone;
    int64_t selectionBegin = 0;
    int64_t selectionEnd = 0;
    QImage selectionImage;
    // Clock time of the last drag move; none before the first move of a drag.
    std::optional<int64_t> lastMoveTime;
    QPropertyAnimation moveAnimation;
    int restThreshold = kRestThresholdMs;
    QPropertyAnimation zoomAnimation;
    std::shared_ptr<utils::TimeConverter> intervals;
};
