#pragma once
// The video area: one video item per played channel in a grid of equal
// cells. The grid picks its column count from its size and the channel
// count, remembers which cell holds which channel, swaps channels dragged
// onto another cell, maximises one channel over the whole area, marks the
// selected channel, and keeps the renderer pins' rectangles and draw order
// in step with the items. It is also the renderer's titles processor: a
// titles change reported on the render thread is relayed to the channel's
// item on the GUI thread.
//
// The grid widget and its placeholder cells only hold geometry and are never
// added to the scene; only the video items are scene items. The grid sits at
// the scene's origin, so its coordinates are scene coordinates.

#include <algorithm>
#include <cstdint>
#include <vector>

#include <QGraphicsWidget>
#include <QList>
#include <QPointer>
#include <QRectF>

#include "gui/grid/QVideoItem.h"
#include "playback/PlaybackGui.h"
#include "render/Renderer.h"

class QGraphicsGridLayout;
class QGraphicsScene;

class QChannelsGrid : public QGraphicsWidget,
                      public ::IChannelsGrid,
                      public render::ITitlesProcessor,
                      public playback::IChannelsGrid {
    Q_OBJECT

public:
    // scene receives the items; renderer gives the channels, the pins and
    // the draw order. Either may be null (no items, no pins). Both must
    // outlive the grid.
    QChannelsGrid(QGraphicsScene* scene, render::Renderer* renderer);
    ~QChannelsGrid() override;

    // Rebuilds the grid for the renderer's channels: channel i goes to cell
    // order[i] when the order fits (one distinct cell per channel), else to
    // cell i. titles[i] is channel i's titles set; a channel without one uses
    // its pin's.
    void CreateItems(const std::vector<int32_t>& order, const std::vector<render::TitlesPtr>& titles) override;
    void RemoveItems() override;
    void Relayout();
    QVideoItem* ItemByChannel(int channel) const;
    // The channel of the topmost scene item at point; -1 when that is no
    // video item or there is none.
    int ChannelAt(const QPoint& point) const;
    // Pops the channel's "Titles" menu up at the cursor. Throws
    // std::logic_error "No such item".
    void ShowItemMenu(int channel);
    // Maximises the channel over the content rectangle, or restores it;
    // another maximised channel is restored first. Nothing with fewer than
    // two channels. Throws std::logic_error "No such item".
    void ZoomItem(int channel, bool maximize, bool animated);
    void SelectChannel(int32_t channel) override;
    void SetExportMode(bool exportMode);
    // Channel i's cell index, for every channel. Throws std::logic_error
    // "No such item" for a channel without item.
    std::vector<int32_t> GetLayout() override;
    bool FadeItem(int32_t channel, int32_t from, int32_t to) override;
    // Copies moved items' rectangles into their pins and draws the last
    // lifted channel on top. GUI thread, after each layer repaint.
    void UpdatePinGeometry();

    QRectF Geometry() override;
    void DropItem(QVideoItem* item, const QRectF& rect) override;
    void PlaceItem(QVideoItem* item, bool animated) override;
    int BringToFront(QVideoItem* item) override;
    render::IChannelManager* GetChannelManager() override;

    // Any thread.
    void TitlesChanged(int channel) override;

    int Columns() const { return columns; }
    int Rows() const { return rows; }
    bool ExportMode() const { return exportMode; }
    int PendingFrontChannel() const { return pendingFrontChannel; }
    // One entry per cell, row-major; null for an empty cell.
    const QList<QVideoItem*>& Cells() const { return cells; }
    QRectF CellRect(int index) const;
    // The widget rectangle less the layout's contents margins.
    QRectF ContentRect() const;
    // Cell index of the item. Throws std::logic_error "No such item".
    int IndexOf(const QVideoItem* item) const;
    QVideoItem* MaximizedItem() const;

    // The column count whose cells, of the video aspect 4:3, show the most
    // picture in width x height for n channels; ties keep fewer columns.
    static int BestColumnCount(double width, double height, int n);
    // Moves the items of an old cell list into a new one of `count` cells:
    // an item keeps its index while that cell exists and is not taken by a
    // later item; items beyond the end fill the last cells in their order.
    template <typename T>
    static QList<T*> RepackItems(const QList<T*>& old, int count);
    static bool IsValidLayout(const std::vector<int32_t>& order, int channels, int cells);
    static std::vector<int32_t> DefaultOrder(int channels);

signals:
    void onProcessSignal(int channel);

public slots:
    void onProcessSlot(int channel);

protected:
    void resizeEvent(QGraphicsSceneResizeEvent* event) override;

private:
    int ChannelCount() const;
    void SwapCells(int a, int b);
    void UpdateMovable();

    QPointer<QGraphicsScene> itemScene;
    bool hadScene;
    render::Renderer* renderer;
    int columns = 0;
    int rows = 0;
    int pendingFrontChannel = -1;
    QList<QVideoItem*> cells;
    bool exportMode = false;
    QGraphicsGridLayout* layout;
};

template <typename T>
QList<T*> QChannelsGrid::RepackItems(const QList<T*>& old, int count)
{
    QList<T*> result;
    for (int i = 0; i < count; ++i)
        result.append(nullptr);
    int target = count - 1;
    for (int i = old.size() - 1; i >= 0 && target >= 0; --i) {
        if (!old[i])
            continue;
        const int place = std::min(target, i);
        result[place] = old[i];
        target = place - 1;
    }
    return result;
}
