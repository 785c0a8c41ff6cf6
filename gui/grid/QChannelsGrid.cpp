#include "gui/grid/QChannelsGrid.h"

#include <cmath>
#include <set>
#include <stdexcept>

#include <QCursor>
#include <QGraphicsGridLayout>
#include <QGraphicsScene>
#include <QMenu>

#include "render/RendererPin.h"

namespace {

constexpr double kVideoAspect = 0.75;
constexpr int kRestoreMs = 250;
constexpr int kMaximizeMs = 500;

[[noreturn]] void ThrowNoSuchItem()
{
    throw std::logic_error("No such item");
}

}  // namespace

QChannelsGrid::QChannelsGrid(QGraphicsScene* scene, render::Renderer* renderer)
    : QGraphicsWidget(nullptr), itemScene(scene), hadScene(scene != nullptr), renderer(renderer)
{
    layout = new QGraphicsGridLayout;
    layout->setSpacing(0);
    setLayout(layout);
    connect(this, &QChannelsGrid::onProcessSignal, this, &QChannelsGrid::onProcessSlot);
    if (renderer)
        renderer->SetTitlesProcessor(this);
}

QChannelsGrid::~QChannelsGrid()
{
    if (renderer)
        renderer->SetTitlesProcessor(nullptr);
    // The items call back into the grid: they go with it, unless the scene
    // that held them has already deleted them.
    if (itemScene || !hadScene)
        RemoveItems();
}

int QChannelsGrid::ChannelCount() const
{
    return renderer ? renderer->GetCount() : 0;
}

void QChannelsGrid::CreateItems(const std::vector<int32_t>& storedOrder, const std::vector<render::TitlesPtr>& titles)
{
    RemoveItems();
    Relayout();
    const int n = ChannelCount();
    const std::vector<int32_t> order =
        IsValidLayout(storedOrder, n, rows * columns) ? storedOrder : DefaultOrder(n);
    for (int i = 0; i < n; ++i) {
        render::TitlesPtr set = size_t(i) < titles.size() ? titles[size_t(i)] : render::TitlesPtr();
        if (!set)
            set = renderer->GetPin(i)->GetTitles();
        auto* item = new QVideoItem(this, i, set);
        if (itemScene)
            itemScene->addItem(item);
        item->SetGeometry(CellRect(order[size_t(i)]));
        cells[order[size_t(i)]] = item;
    }
    SetExportMode(exportMode);
}

void QChannelsGrid::RemoveItems()
{
    for (QVideoItem* item : cells) {
        if (!item)
            continue;
        if (item->scene())
            item->scene()->removeItem(item);
        delete item;
    }
    cells.clear();
    columns = 0;
    rows = 0;
}

void QChannelsGrid::Relayout()
{
    const int n = ChannelCount();
    const QRectF content = ContentRect();
    const int c = BestColumnCount(content.width(), content.height(), n);
    const int r = n > 0 ? (n + c - 1) / c : 0;
    if (c != columns || r != rows) {
        columns = c;
        rows = r;
        const QList<QVideoItem*> old = cells;
        cells.clear();
        while (layout->count() > 0) {
            QGraphicsLayoutItem* placeholder = layout->itemAt(0);
            layout->removeAt(0);
            delete placeholder;
        }
        for (int row = 0; row < r; ++row)
            for (int column = 0; column < c; ++column)
                layout->addItem(new QGraphicsWidget, row, column, 1, 1);
        cells = RepackItems(old, r * c);
    }
    // The cells take the widget's current size even when the shape stayed.
    layout->activate();
    layout->setGeometry(QRectF(QPointF(0, 0), size()));
}

QRectF QChannelsGrid::CellRect(int index) const
{
    if (index < 0 || index >= layout->count())
        return QRectF();
    return layout->itemAt(index)->geometry();
}

QRectF QChannelsGrid::ContentRect() const
{
    qreal left = 0, top = 0, right = 0, bottom = 0;
    layout->getContentsMargins(&left, &top, &right, &bottom);
    return rect().adjusted(left, top, -right, -bottom);
}

QVideoItem* QChannelsGrid::ItemByChannel(int channel) const
{
    for (QVideoItem* item : cells)
        if (item && item->Channel() == channel)
            return item;
    return nullptr;
}

int QChannelsGrid::IndexOf(const QVideoItem* item) const
{
    const int index = item ? cells.indexOf(const_cast<QVideoItem*>(item)) : -1;
    if (index < 0)
        ThrowNoSuchItem();
    return index;
}

QVideoItem* QChannelsGrid::MaximizedItem() const
{
    for (QVideoItem* item : cells)
        if (item && item->maximized)
            return item;
    return nullptr;
}

int QChannelsGrid::ChannelAt(const QPoint& point) const
{
    if (!itemScene)
        return -1;
    const QList<QGraphicsItem*> hits =
        itemScene->items(QPointF(point), Qt::IntersectsItemShape, Qt::DescendingOrder, QTransform());
    if (hits.isEmpty())
        return -1;
    auto* item = dynamic_cast<QVideoItem*>(hits.first());
    return item ? item->Channel() : -1;
}

void QChannelsGrid::ShowItemMenu(int channel)
{
    QVideoItem* item = ItemByChannel(channel);
    if (!item)
        ThrowNoSuchItem();
    if (QMenu* menu = item->Menu())
        menu->popup(QCursor::pos());
}

void QChannelsGrid::ZoomItem(int channel, bool maximize, bool animated)
{
    if (ChannelCount() < 2)
        return;
    if (QVideoItem* current = MaximizedItem(); current && (current->Channel() != channel || !maximize)) {
        PlaceItem(current, animated);
        current->maximized = false;
        // The restore has started: its remaining run takes the short time.
        current->MoveAnimation().setDuration(kRestoreMs);
        current->MoveAnimation().setEasingCurve(QEasingCurve::OutCubic);
    }
    QVideoItem* item = ItemByChannel(channel);
    if (!item)
        ThrowNoSuchItem();
    if (maximize && !item->maximized) {
        item->AnimateTo(ContentRect(), animated);
        item->maximized = true;
        item->MoveAnimation().setDuration(kMaximizeMs);
        item->MoveAnimation().setEasingCurve(QEasingCurve::OutCubic);
        BringToFront(item);
    }
    UpdateMovable();
}

void QChannelsGrid::SelectChannel(int32_t channel)
{
    // The selected channel takes the maximised place at once.
    if (MaximizedItem() && ItemByChannel(channel))
        ZoomItem(channel, true, false);
    for (QVideoItem* item : cells)
        if (item)
            item->SetSelected(item->Channel() == channel);
}

void QChannelsGrid::SetExportMode(bool value)
{
    exportMode = value;
    for (QVideoItem* item : cells)
        if (item)
            item->exportMode = value;
    UpdateMovable();
}

void QChannelsGrid::UpdateMovable()
{
    const int n = ChannelCount();
    for (QVideoItem* item : cells) {
        if (!item)
            continue;
        item->setFlag(QGraphicsItem::ItemIsMovable, n >= 2 && !item->maximized && !exportMode);
        item->dragging = false;
    }
}

std::vector<int32_t> QChannelsGrid::GetLayout()
{
    std::vector<int32_t> order;
    const int n = ChannelCount();
    for (int i = 0; i < n; ++i) {
        QVideoItem* item = ItemByChannel(i);
        if (!item)
            ThrowNoSuchItem();
        order.push_back(IndexOf(item));
    }
    return order;
}

bool QChannelsGrid::FadeItem(int32_t channel, int32_t from, int32_t to)
{
    QVideoItem* item = ItemByChannel(channel);
    if (!item)
        return false;
    item->FadeAlpha(from, to);
    return true;
}

void QChannelsGrid::UpdatePinGeometry()
{
    if (!renderer)
        return;
    const int n = renderer->GetCount();
    for (QVideoItem* item : cells) {
        if (!item || !item->geometryChanged)
            continue;
        item->geometryChanged = false;
        const QRectF r = item->sceneBoundingRect();
        const int inset = QVideoItem::PinInset;
        const QRect pinRect(QPoint(int(r.x() + inset), int(r.y() + inset)),
                            QPoint(int(std::ceil(r.x() + inset + (r.width() - 2 * inset))) - 1,
                                   int(std::ceil(r.y() + inset + (r.height() - 2 * inset))) - 1));
        if (item->Channel() < n)
            renderer->GetPin(item->Channel())->SetRect(pinRect);
        renderer->InvalidateRect(renderer->GetGeometry());
    }
    if (pendingFrontChannel != -1) {
        renderer->DrawPinLast(pendingFrontChannel);
        pendingFrontChannel = -1;
    }
}

QRectF QChannelsGrid::Geometry()
{
    return geometry();
}

void QChannelsGrid::DropItem(QVideoItem* item, const QRectF& rect)
{
    const QPointF centre(rect.x() + rect.width() / 2, rect.y() + rect.height() / 2);
    // No early exit: a centre on an edge shared by two cells ends in the later.
    for (int k = 0; k < cells.size(); ++k)
        if (CellRect(k).contains(centre))
            SwapCells(IndexOf(item), k);
}

void QChannelsGrid::SwapCells(int a, int b)
{
    if (a == b)
        return;
    cells.swapItemsAt(a, b);
    // The displaced item moves into the dragged item's former cell; the
    // dragged item follows the mouse until it is released.
    if (cells[a])
        PlaceItem(cells[a], true);
}

void QChannelsGrid::PlaceItem(QVideoItem* item, bool animated)
{
    item->AnimateTo(CellRect(IndexOf(item)), animated);
}

int QChannelsGrid::BringToFront(QVideoItem* item)
{
    for (QVideoItem* other : cells)
        if (other)
            other->setZValue(other == item ? -1 : -2);
    pendingFrontChannel = item->Channel();
    return pendingFrontChannel;
}

render::IChannelManager* QChannelsGrid::GetChannelManager()
{
    return renderer;
}

void QChannelsGrid::TitlesChanged(int channel)
{
    emit onProcessSignal(channel);
}

void QChannelsGrid::onProcessSlot(int channel)
{
    if (channel < 0 || channel >= ChannelCount())
        return;
    if (QVideoItem* item = ItemByChannel(channel))
        item->LayoutTitles();
}

void QChannelsGrid::resizeEvent(QGraphicsSceneResizeEvent* event)
{
    Relayout();
    for (QVideoItem* item : cells)
        if (item)
            item->SetGeometry(item->maximized ? ContentRect() : CellRect(IndexOf(item)));
    QGraphicsWidget::resizeEvent(event);
}

int QChannelsGrid::BestColumnCount(double width, double height, int n)
{
    if (n <= 0)
        return 1;
    int best = 1;
    double bestScore = 0;
    for (int c = 1; c <= n; ++c) {
        const int r = (n + c - 1) / c;
        const double cw = width / c;
        const double ch = height / r;
        if (!(cw > 0 && ch > 0))
            continue;
        const double q = cw * kVideoAspect / ch;
        const double f = std::min(q, 1 / q);
        const double score = cw * ch * f * f;
        if (score > bestScore) {
            bestScore = score;
            best = c;
        }
    }
    return best;
}

bool QChannelsGrid::IsValidLayout(const std::vector<int32_t>& order, int channels, int cellCount)
{
    if (order.size() != size_t(std::max(channels, 0)))
        return false;
    std::set<int32_t> seen;
    for (int32_t cell : order)
        if (cell < 0 || cell >= cellCount || !seen.insert(cell).second)
            return false;
    return true;
}

std::vector<int32_t> QChannelsGrid::DefaultOrder(int channels)
{
    std::vector<int32_t> order;
    for (int i = 0; i < channels; ++i)
        order.push_back(i);
    return order;
}
