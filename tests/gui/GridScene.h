#pragma once
// A channel grid over the null-device renderer in an off-screen scene layer:
// one renderer pin per channel, the grid spanning the layer.

#include <QCoreApplication>
#include <QGraphicsSceneMouseEvent>
#include <boost/make_shared.hpp>

#include "widgets/QGuiLayer.h"
#include "gui/grid/QChannelsGrid.h"
#include "render/NullRendererDevice.h"
#include "render/Renderer.h"
#include "render/RendererPin.h"

// Records the export drags the items report.
class DragLayer : public QGuiLayer {
public:
    using QGuiLayer::QGuiLayer;
    void OnItemMoved(QGraphicsItem* item, const QPointF& offset) override
    {
        moved.push_back({item, offset});
    }
    std::vector<std::pair<QGraphicsItem*, QPointF>> moved;
};

struct GridScene {
    GridScene(int channels, const QSize& size, const std::vector<int32_t>& order = {})
    {
        for (int i = 0; i < channels; ++i)
            renderer.AddPin();
        layer.Resize(size);
        grid.setGeometry(QRectF(QPointF(0, 0), QSizeF(size)));
        grid.CreateItems(order, {});
    }

    QVideoItem* Item(int channel)
    {
        QVideoItem* item = grid.ItemByChannel(channel);
        EXPECT_NE(nullptr, item) << channel;
        return item;
    }

    // Runs an item's move animation to its end.
    static void Finish(QVideoItem* item)
    {
        QPropertyAnimation& move = item->MoveAnimation();
        if (move.state() == QAbstractAnimation::Running)
            move.setCurrentTime(move.duration());
    }

    void FinishAll()
    {
        for (QVideoItem* item : grid.Cells())
            if (item)
                Finish(item);
    }

    render::Renderer renderer{boost::make_shared<render::NullRendererDevice>()};
    DragLayer layer{nullptr};
    QChannelsGrid grid{&layer, &renderer};
};
