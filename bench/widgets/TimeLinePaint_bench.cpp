// Painting the plain time line (the export strip with durations) over
// 10,000 recorded intervals, at the fit-everything zoom and at the 3-second
// zoom. The reference fills the same visible band rectangles with the same
// tile through a plain QPainter, which is the least any painting of those
// bands costs. Counter "ratio" is ours / reference (above 1: ours costs that
// many times the bare fill, for the gaps, ticks, labels and durations too).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cstdlib>
#include <vector>

#include "config/ApplicationTexts.h"
#include "widgets/QTimeLineControl.h"

namespace {

using Clock = std::chrono::steady_clock;

QApplication& App() {
    static int argc = 1;
    static char name[] = "bench_timeline";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    return *app;
}

std::shared_ptr<utils::TimeConverter> TenThousandIntervals() {
    auto converter = std::make_shared<utils::TimeConverter>();
    // One gap of each class in turn.
    const int64_t gaps[] = {30000, 600000, 7200000, 2 * 86400000LL};
    int64_t start = 1677664800000;
    for (int i = 0; i < 10000; ++i) {
        // Minute clips, and every 25th a two-hour stretch: at the fit zoom only
        // the long ones are a pixel wide or more.
        const int64_t length = i % 25 == 0 ? 7200000 : 60000;
        converter->ArchivePeriods().push_back({start, length});
        start += length + gaps[i % 4];
    }
    converter->RebuildContinuous();
    return converter;
}

void BM_PaintTimeLineBesideTileFill(benchmark::State& state) {
    App();
    TextStyleRecord style("United");
    style.bandOffset = 2;
    style.textColour = Qt::white;
    style.showDurations = true;
    style.tickFormat = TimeFormatWithFraction();
    style.edgeFormat = TimeFormatShort();
    QTimeLineControl line(style);
    line.resize(1600, line.minimumHeight());
    const QImage tile(TimeLineImagePath("United", "archiveVideoTimeLine"));
    if (line.height() == 0 || tile.isNull()) {
        state.SkipWithError("the skin is missing beside the program");
        return;
    }
    const auto intervals = TenThousandIntervals();
    line.SetIntervals(intervals);
    line.SetZoom(line.ClampZoom(state.range(0) ? 1e9 : 0));
    const auto& list = intervals->GetArchivePeriods();
    line.SetPosition(list[5000].start + 1800000);

    // The visible band rectangles, cut to the strip.
    const QRect strip = line.StripRect();
    const int top = 2 + (strip.height() - tile.height()) / 2;
    std::vector<QRect> bands;
    double x = strip.left() - line.Position() + strip.width() / 2;
    for (std::size_t i = 0; i < list.size() && x <= strip.right(); ++i) {
        const double width = timeline::BandWidth(list[i], line.Scale());
        const QRectF band = QRectF(x, top, width, tile.height()).intersected(QRectF(strip));
        if (!band.isEmpty()) bands.push_back(band.toAlignedRect());
        if (i + 1 < list.size()) x += width + line.GapImage(i).width();
    }

    QImage image(line.size(), QImage::Format_ARGB32_Premultiplied);
    double ours = 0, reference = 0;
    for (auto _ : state) {
        const auto a = Clock::now();
        line.render(&image);
        const auto b = Clock::now();
        {
            QPainter painter(&image);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QBrush(tile));
            for (const QRect& band : bands) {
                painter.setBrushOrigin(band.topLeft());
                painter.drawRect(band);
            }
        }
        const auto c = Clock::now();
        ours += std::chrono::duration<double>(b - a).count();
        reference += std::chrono::duration<double>(c - b).count();
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["ratio"] = reference > 0 ? ours / reference : 0;
    state.counters["ours_us"] = ours / static_cast<double>(state.iterations()) * 1e6;
    state.counters["reference_us"] = reference / static_cast<double>(state.iterations()) * 1e6;
    state.counters["bands"] = static_cast<double>(bands.size());
    state.SetLabel(state.range(0) ? "3-second zoom" : "whole range");
}

BENCHMARK(BM_PaintTimeLineBesideTileFill)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
