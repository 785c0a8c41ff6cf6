#pragma once
// A time line built from the shipped skin's images (copied under the running
// test's name), with the test's rest clock and every signal recorded.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QWheelEvent>

#include <optional>
#include <utility>
#include <vector>

#include "SkinFiles.h"
#include "config/ApplicationTexts.h"
#include "widgets/QCustomButton.h"
#include "widgets/QTimeLineControl.h"
#include "widgets/SkinResources.h"

namespace timeline_test {

using playback::ECutSelectionMode;

// 2023-03-01 10:00:00 UTC, 11:00 in Berlin.
constexpr int64_t kStart = 1677664800000;
constexpr int64_t kDay = 86400000;

inline const char* const kTimeLineImages[] = {
    "VideoTimeLineBack",
    "VideoTimeLineCenterMarker",
    "VideoTimeLineBack_Panel_Delimiter",
    "Background_Left",
    "Background_Center",
    "Background_Right",
    "Shadow_Left",
    "Shadow_Right",
    "archiveVideoTimeLine",
    "hole_sec",
    "hole_min",
    "hole_hour",
    "hole_day",
    "riska_small",
    "riska_medium",
    "riska_big",
    "select_bar_blue",
};

// Five intervals of 3 s, one gap of each class between them.
inline std::shared_ptr<utils::TimeConverter> FiveIntervals() {
    auto converter = std::make_shared<utils::TimeConverter>();
    const int64_t gaps[] = {60000, 60001, kDay, kDay + 1};
    int64_t start = kStart;
    for (int i = 0; i < 5; ++i) {
        converter->ArchivePeriods().push_back({start, 3000});
        if (i < 4) start += 3000 + gaps[i];
    }
    converter->RebuildContinuous();
    return converter;
}

inline void SendMouse(QWidget& widget, QEvent::Type type, QPoint pos) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, pos, widget.mapToGlobal(pos), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

inline void SendWheel(QWidget& widget, QPoint pos, int delta) {
    QWheelEvent event(QPointF(pos), QPointF(widget.mapToGlobal(pos)), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&widget, &event);
}

// Runs an animation to its end, through one step halfway.
inline void Finish(QPropertyAnimation& animation) {
    ASSERT_EQ(animation.state(), QAbstractAnimation::Running);
    animation.setCurrentTime(animation.duration() / 2);
    animation.setCurrentTime(animation.duration());
}

class TimeLineTest : public ::testing::Test {
protected:
    TimeLineTest() {
        static const bool fonts = RegisterSkinFonts(GAVEX_SKIN_ROOT);
        (void)fonts;
    }

    // The shipped skin's images of one style, copied under this test's name.
    std::string CopySkin(const QString& style) {
        const QString shipped = GAVEX_SKIN_ROOT;
        for (const char* name : kTimeLineImages) {
            const QImage image = LoadImageResource(shipped, style + "_" + name);
            if (!image.isNull()) files.WriteImage(style + "_" + name, image);
        }
        for (const char* state : {"normal", "pressed", "hover"})
            for (const char* button : {"rewind_left", "rewind_right"}) {
                const QString name = QString("%1_%2_%3").arg(style, button, state);
                files.WriteImage(name, LoadImageResource(shipped, name));
            }
        return files.Name(style).toStdString();
    }

    std::unique_ptr<QTimeLineControl> United(int width = 1800) {
        TextStyleRecord style(CopySkin("United"));
        style.bandOffset = 2;
        style.textColour = QColor(255, 255, 255, 255);
        style.showDurations = true;
        style.tickFormat = TimeFormatWithFraction();
        style.edgeFormat = TimeFormatShort();
        auto line = std::make_unique<QTimeLineControl>(style, [this] { return now; });
        line->resize(width, line->minimumHeight());
        Record(*line);
        return line;
    }

    std::unique_ptr<QTimeLineControl> Selected(int width = 1900) {
        TextStyleRecord style(CopySkin("Selected"));
        style.framed = true;
        style.navigationButtons = true;
        style.tickFormat = TimeFormatWithFraction();
        style.edgeFormat = TimeFormatShort();
        auto line = std::make_unique<QTimeLineControl>(style, [this] { return now; });
        line->resize(width, line->minimumHeight());
        Record(*line);
        return line;
    }

    void Record(QTimeLineControl& line) {
        line.TimeSelected.connect([this](int64_t t) { selected.push_back(t); });
        line.PositionDragged.connect([this](int64_t t) { dragged.push_back(t); });
        line.CutSelectionChanged.connect([this](ECutSelectionMode mode, int64_t t) { cuts.emplace_back(mode, t); });
    }

    SkinFiles files;
    int64_t now = 1000;
    std::vector<int64_t> selected;
    std::vector<int64_t> dragged;
    std::vector<std::pair<ECutSelectionMode, int64_t>> cuts;
};

}  // namespace timeline_test
