// The controls layer's work per 16 ms tick over the channel grid at
// 1920 x 1080, with 16 and 64 titled channels, each beside a reference in
// this process doing the same painting, the two going first by turns:
//  - one item moved, then the dirty rectangles repainted and the pins
//    updated (the tick), beside QGraphicsScene::render of the same scene
//    clipped to the moved item's old and new rectangles;
//  - a repaint of the whole layer, beside QGraphicsScene::render of the
//    whole scene.
// Both references paint into an image of the layer's size and format.
// Counter "ratio" is ours / reference (below 1: ours is faster).
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include <QApplication>
#include <QPainter>
#include <boost/make_shared.hpp>

#include "widgets/QGuiLayer.h"
#include "gui/grid/QChannelsGrid.h"
#include "render/NullRendererDevice.h"
#include "render/Renderer.h"
#include "render/RendererPin.h"
#include "bench/support/BenchFiles.h"

namespace {

constexpr QSize kSize(1920, 1080);

void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "bench_gui";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static QApplication application(argc, argv);
    }
}

struct Scene {
    explicit Scene(int channels)
    {
        for (int i = 0; i < channels; ++i) {
            render::RendererPinPtr pin = renderer.AddPin();
            pin->GetTitles()->SetTitleText(0, L"Camera " + std::to_wstring(i + 1));
            pin->GetTitles()->SetTitleText(1, L"2026-12-11 06:00:00.000");
        }
        layer.Resize(kSize);
        grid.setGeometry(QRectF(QPointF(0, 0), QSizeF(kSize)));
        grid.CreateItems({}, {});
        grid.SelectChannel(0);
        grid.UpdatePinGeometry();
        for (int i = 0; i < channels; ++i)
            grid.onProcessSlot(i);
        layer.RenderDirty();
    }

    render::Renderer renderer{boost::make_shared<render::NullRendererDevice>()};
    QGuiLayer layer{nullptr};
    QChannelsGrid grid{&layer, &renderer};
};

void Report(benchmark::State& state, double ours, double reference)
{
    const double n = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = benchmark::Counter(n > 0 ? ours / n * 1000 : 0);
    state.counters["reference_ms"] = benchmark::Counter(n > 0 ? reference / n * 1000 : 0);
    state.counters["ratio"] = benchmark::Counter(reference > 0 ? ours / reference : 0);
}

void BM_LayerTickAfterOneMove_vs_SceneRender(benchmark::State& state)
{
    EnsureApplication();
    Scene scene(static_cast<int>(state.range(0)));
    QImage reference(kSize, QImage::Format_ARGB32_Premultiplied);
    QVideoItem* moved = scene.grid.ItemByChannel(1);
    const QRectF home = scene.grid.CellRect(1);
    int step = 0;
    double ours = 0, theirs = 0;
    int64_t turn = 0;
    for (auto _ : state) {
        // The item a user drags moves a few pixels per tick.
        const QRectF before = moved->sceneBoundingRect();
        moved->SetGeometry(home.translated((++step % 2) * 7, 0));
        const QRectF dirty = before.united(moved->sceneBoundingRect()).toAlignedRect();
        const auto [a, b] = benchfiles::TimeBothInTurn(
            turn++,
            [&] {
                scene.layer.RenderDirty();
                scene.grid.UpdatePinGeometry();
            },
            [&] {
                QPainter painter(&reference);
                painter.setClipRect(dirty);
                painter.setCompositionMode(QPainter::CompositionMode_Source);
                painter.fillRect(dirty, Qt::transparent);
                painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
                scene.layer.render(&painter, dirty, dirty, Qt::IgnoreAspectRatio);
                painter.end();
                benchmark::ClobberMemory();
            });
        ours += a;
        theirs += b;
        state.SetIterationTime(a);
    }
    Report(state, ours, theirs);
}
BENCHMARK(BM_LayerTickAfterOneMove_vs_SceneRender)->Arg(16)->Arg(64)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FullRepaint_vs_SceneRender(benchmark::State& state)
{
    EnsureApplication();
    Scene scene(static_cast<int>(state.range(0)));
    QImage reference(kSize, QImage::Format_ARGB32_Premultiplied);
    double ours = 0, theirs = 0;
    int64_t turn = 0;
    for (auto _ : state) {
        const auto [a, b] = benchfiles::TimeBothInTurn(
            turn++,
            [&] {
                scene.layer.InvalidateRect(QRectF());
                scene.layer.RenderDirty();
            },
            [&] {
                reference.fill(Qt::transparent);
                QPainter painter(&reference);
                scene.layer.render(&painter, QRectF(reference.rect()), scene.layer.sceneRect(), Qt::KeepAspectRatio);
                painter.end();
                benchmark::ClobberMemory();
            });
        ours += a;
        theirs += b;
        state.SetIterationTime(a);
    }
    Report(state, ours, theirs);
}

BENCHMARK(BM_FullRepaint_vs_SceneRender)->Arg(16)->Arg(64)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
