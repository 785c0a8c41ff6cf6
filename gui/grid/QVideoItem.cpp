#include "gui/grid/QVideoItem.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <mutex>

#include <QAction>
#include <QFontMetricsF>
#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsSceneWheelEvent>
#include <QMenu>
#include <QPainter>

#include "widgets/QGuiLayer.h"
#include "render/BasicRenderer.h"

const QColor QVideoItem::SelectionColour(98, 167, 254);

namespace {

constexpr int kNameHeight = 20;
constexpr int kNameMinWidth = 72;
constexpr int kTimeHeight = 33;
constexpr int kTimeMinWidth = 63;
constexpr int kInfoMaxWidth = 320;
constexpr int kInfoMaxHeight = 205;
constexpr int kTextInset = 3;
constexpr int kExportDragThreshold = 3;
constexpr int kFadeMs = 1500;
constexpr double kZoomedWidth = 1.001;

bool FuzzyEqual(double a, double b)
{
    return std::abs(a - b) * 1000000000000. <= std::min(std::abs(a), std::abs(b));
}

bool FuzzyEqual(const QRectF& a, const QRectF& b)
{
    return FuzzyEqual(a.x(), b.x()) && FuzzyEqual(a.y(), b.y()) && FuzzyEqual(a.width(), b.width()) &&
           FuzzyEqual(a.height(), b.height());
}

double TextWidth(const render::TitlePtr& title, const QString& text)
{
    return QFontMetricsF(title->GetFont()).horizontalAdvance(text);
}

}  // namespace

// The titles set raises its signals on any thread, some with its own lock
// held: they reach the item as queued calls, and never after the item is gone.
struct QVideoItemRelay {
    std::mutex lock;
    QVideoItem* item = nullptr;
};

namespace {

void Post(const std::shared_ptr<QVideoItemRelay>& relay, const std::function<void(QVideoItem*)>& call)
{
    std::lock_guard<std::mutex> guard(relay->lock);
    // A call still queued when the item goes is dropped with it.
    if (QVideoItem* item = relay->item)
        QMetaObject::invokeMethod(item, [item, call] { call(item); }, Qt::QueuedConnection);
}

}  // namespace

QVideoItem::QVideoItem(IChannelsGrid* grid, int channel, const render::TitlesPtr& titles)
    : channel(channel),
      grid(grid),
      moveAnimation(this, "BoundingRect"),
      alphaAnimation(this, "Alpha"),
      zoomAnimator(this, 1.0, 25.0),
      titles(titles)
{
    setFlags(ItemIsMovable | ItemSendsGeometryChanges);
    setZValue(-2);
    moveAnimation.setDuration(500);
    moveAnimation.setEasingCurve(QEasingCurve::OutCubic);
    connect(&moveAnimation, &QPropertyAnimation::finished, this, &QVideoItem::moveAnimationFinished);
    alphaAnimation.setDuration(0);
    alphaAnimation.setEasingCurve(QEasingCurve::InOutQuad);
    for (unsigned i = 0; i < 3; ++i) {
        render::TitlePtr title = titles->GetTitle(i, true, false);
        title->SetFont("Verdana", 9);
        title->SetColor(QColor(0, 0, 0, 255));
    }
    LayoutTitles();
    titles->GetTitle(0)->SetAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    titles->GetTitle(1)->SetAlignment(Qt::AlignRight | Qt::AlignVCenter);
    titles->GetTitle(2)->SetAlignment(Qt::AlignLeft | Qt::AlignTop);

    relay = std::make_shared<QVideoItemRelay>();
    relay->item = this;
    std::shared_ptr<QVideoItemRelay> r = relay;
    visibilityConnection = titles->VisibilityChanged.connect(
        [r](bool fromTitles) { Post(r, [fromTitles](QVideoItem* item) { item->EnableTitleOfVideoItem(fromTitles); }); });
    titleAddedConnection = titles->TitleAdded.connect([r](std::string name, bool visible) {
        const QString text = QString::fromStdString(name);
        Post(r, [text, visible](QVideoItem* item) { item->AddTitleAction(text, visible); });
    });
    CreateTitlesMenu();
}

QVideoItem::~QVideoItem()
{
    visibilityConnection.disconnect();
    titleAddedConnection.disconnect();
    std::lock_guard<std::mutex> guard(relay->lock);
    relay->item = nullptr;
}

render::IChannelManager* QVideoItem::ChannelManager() const
{
    render::IChannelManager* manager = grid ? grid->GetChannelManager() : nullptr;
    if (!manager || channel < 0 || channel >= manager->GetCount())
        return nullptr;
    return manager;
}

void QVideoItem::SetGeometry(const QRectF& rect)
{
    const QRectF current = sceneBoundingRect();
    if (FuzzyEqual(rect, current))
        return;
    Invalidate(current, false);
    prepareGeometryChange();
    width = rect.width();
    height = rect.height();
    LayoutTitles();
    setPos(rect.topLeft());
    geometryChanged = true;
    Invalidate(rect, false);
}

void QVideoItem::SetSelected(bool value)
{
    if (value == selected)
        return;
    Invalidate(boundingRect(), true);
    selected = value;
}

void QVideoItem::AnimateTo(const QRectF& rect, bool animated)
{
    const QRectF current = sceneBoundingRect();
    if (animated && !FuzzyEqual(rect, current)) {
        moveAnimation.stop();
        moveAnimation.setStartValue(current);
        moveAnimation.setEndValue(rect);
        moveAnimation.start();
    } else {
        SetGeometry(rect);
    }
}

void QVideoItem::FadeAlpha(int from, int to)
{
    alphaAnimation.stop();
    alphaAnimation.setStartValue(from);
    alphaAnimation.setEndValue(to);
    alphaAnimation.setDuration(kFadeMs);
    alphaAnimation.start();
}

int QVideoItem::Alpha() const
{
    render::IChannelManager* manager = ChannelManager();
    return manager ? manager->GetShade(channel) : 0;
}

void QVideoItem::SetAlpha(int alpha)
{
    if (render::IChannelManager* manager = ChannelManager())
        manager->SetShade(channel, alpha);
}

QRectF QVideoItem::TimeRect() const
{
    double textWidth = 0;
    if (titleSlots.size() > 1)
        textWidth = TextWidth(titleSlots[1].title, titleSlots[1].layout.text);
    const double w = std::trunc(std::max<double>(kTimeMinWidth, textWidth + 2 * kTextInset));
    return QRectF(width - Margin - w, height - Margin - kTimeHeight, w, kTimeHeight);
}

QRectF QVideoItem::NameRect() const
{
    double textWidth = 0;
    if (!titleSlots.empty())
        textWidth = TextWidth(titleSlots[0].title, titleSlots[0].layout.text);
    const double w =
        std::min(width - TimeRect().width() - 3 * Margin, std::max<double>(textWidth + 2 * kTextInset, kNameMinWidth));
    return QRectF(Margin, height - Margin - kNameHeight, w, kNameHeight);
}

std::vector<render::TitleLayout> QVideoItem::TitleLayouts() const
{
    std::vector<render::TitleLayout> out;
    for (const TitleSlot& slot : titleSlots)
        out.push_back(slot.layout);
    return out;
}

void QVideoItem::LayoutTitles()
{
    const std::vector<render::TitlePtr> all = titles->GetTitles();
    while (titleSlots.size() < all.size()) {
        TitleSlot slot;
        slot.title = titles->GetTitle(unsigned(titleSlots.size()), true, false);
        titleSlots.push_back(std::move(slot));
    }
    QRectF base;
    if (render::IChannelManager* manager = ChannelManager())
        base = manager->GetImageRect(channel).translated(PinInset, PinInset);
    std::vector<QRectF> old;
    for (TitleSlot& slot : titleSlots) {
        old.push_back(slot.layout.bounds);
        slot.title->Layout(slot.layout, base);
    }
    // The three fixed boxes depend on each other's texts: placed once all
    // texts are current.
    if (titleSlots.size() > 1)
        titleSlots[1].layout.bounds = TimeRect();
    if (!titleSlots.empty())
        titleSlots[0].layout.bounds = NameRect();
    if (titleSlots.size() > 2)
        titleSlots[2].layout.bounds =
            QRectF(Margin, Margin, std::min<double>(width - 2 * Margin, kInfoMaxWidth),
                   std::min<double>(height - kTimeHeight - 3 * Margin, kInfoMaxHeight));
    if (!scene())
        return;
    for (size_t i = 0; i < titleSlots.size(); ++i)
        Invalidate(old[i].united(titleSlots[i].layout.bounds), true);
}

QRectF QVideoItem::boundingRect() const
{
    return QRectF(0, 0, width, height);
}

void QVideoItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*)
{
    QRectF area = boundingRect();
    if (auto* layer = qobject_cast<QGuiLayer*>(scene()); layer && layer->IsRepainting())
        area = layer->CurrentRepaintRect().intersected(sceneBoundingRect()).translated(-pos());
    painter->save();
    painter->setCompositionMode(QPainter::CompositionMode_Source);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setBrush(QColor(0, 0, 0, 0));
    painter->setPen(Qt::NoPen);
    painter->drawRect(area);

    std::vector<bool> merged(titleSlots.size(), false);
    for (size_t i = 0; i < titleSlots.size(); ++i) {
        if (merged[i])
            continue;
        const TitleSlot& slot = titleSlots[i];
        QString text = slot.layout.text;
        const bool visible = slot.title->IsVisible();
        if (i >= 3 && visible) {
            const int alignment = slot.title->GetAlignment();
            const QRectF placement = slot.title->GetPlacement();
            const QColor colour = slot.title->GetColor();
            for (size_t j = i + 1; j < titleSlots.size(); ++j) {
                const render::TitlePtr& other = titleSlots[j].title;
                if (merged[j] || !other->IsVisible() || other->GetAlignment() != alignment ||
                    !FuzzyEqual(other->GetPlacement(), placement) || other->GetColor() != colour)
                    continue;
                text += "\n" + titleSlots[j].layout.text;
                merged[j] = true;
            }
        }
        if (i >= 2 && ((text.isEmpty() && slot.layout.items.empty()) || !visible))
            continue;
        DrawTitle(*painter, area, i, text, i == 0);
    }
    if (selected)
        DrawSelectionFrame(*painter, area);
    painter->restore();
}

void QVideoItem::DrawTitle(QPainter& painter, const QRectF& area, size_t index, const QString& text, bool elide)
{
    const TitleSlot& slot = titleSlots[index];
    const QRectF box = slot.layout.bounds;
    if (!box.intersects(area))
        return;
    const bool fixedBox = index <= 2;
    const QRectF textRect = fixedBox ? box.adjusted(kTextInset, kTextInset, -kTextInset, -kTextInset) : box;
    render::TitleLayout layout = slot.layout;
    layout.text = text;
    slot.title->Paint(painter, layout, area, textRect, elide);
    if (!fixedBox)
        return;
    painter.setCompositionMode(QPainter::CompositionMode_DestinationOver);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(QColor(255, 255, 255, 96));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(box, 3, 3);
}

void QVideoItem::DrawSelectionFrame(QPainter& painter, const QRectF& area)
{
    const QRectF inner(PinInset, PinInset, width - 2 * PinInset, height - 2 * PinInset);
    if (inner.contains(area))
        return;
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setClipRect(area, Qt::ReplaceClip);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QBrush(SelectionColour), 4, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.drawRect(QRectF(2, 2, width - 4, height - 4));
}

void QVideoItem::Invalidate(const QRectF& rect, bool itemCoordinates)
{
    if (!scene())
        return;
    if (auto* layer = qobject_cast<QGuiLayer*>(scene()))
        layer->InvalidateRect(rect, itemCoordinates ? this : nullptr);
    else
        scene()->update(itemCoordinates ? rect.translated(scenePos()) : rect);
}

QVariant QVideoItem::itemChange(GraphicsItemChange change, const QVariant& value)
{
    if (change != ItemPositionChange || !scene())
        return QGraphicsObject::itemChange(change, value);
    QPointF position = value.toPointF();
    if ((flags() & ItemIsMovable) && moveAnimation.state() != QAbstractAnimation::Running && grid) {
        const QRectF area = grid->Geometry();
        const QRectF rect(position, QSizeF(width, height));
        if (area.width() > 0 && area.height() > 0 && !area.contains(rect)) {
            const double dx =
                std::min(std::max(0.0, area.left() - rect.x()), area.right() - (rect.x() + rect.width()));
            const double dy =
                std::min(std::max(0.0, area.top() - rect.y()), area.bottom() - (rect.y() + rect.height()));
            position += QPointF(dx, dy);
        }
    }
    geometryChanged = true;
    if (dragging && grid)
        grid->DropItem(this, QRectF(position, QSizeF(width, height)));
    return position;
}

bool QVideoItem::IsZoomed() const
{
    return GetZoomRect().width() > kZoomedWidth;
}

void QVideoItem::mousePressEvent(QGraphicsSceneMouseEvent* event)
{
    const bool zoomed = IsZoomed();
    const Qt::MouseButton button = event->button();
    if (button == Qt::LeftButton && !zoomed) {
        if (flags() & ItemIsMovable) {
            dragging = true;
            moveAnimation.stop();
            if (grid)
                grid->BringToFront(this);
        } else if (exportMode) {
            pressPoint = event->pos();
        }
    }
    if (button == Qt::MiddleButton || (button == Qt::LeftButton && zoomed)) {
        zoomAnimator.OriginAnimation().stop();
        zoomAnimator.ResetZoomOrigin(event->pos());
        zoomAnimator.tracker.Start(event->pos());
    }
    QGraphicsObject::mousePressEvent(event);
    event->accept();
}

void QVideoItem::mouseMoveEvent(QGraphicsSceneMouseEvent* event)
{
    const bool zoomed = IsZoomed();
    const Qt::MouseButtons buttons = event->buttons();
    if ((buttons & Qt::MiddleButton) || ((buttons & Qt::LeftButton) && zoomed)) {
        // Panning moves the picture, not the item.
        zoomAnimator.SetZoomOrigin(event->pos());
        zoomAnimator.tracker.AddSample(event->pos());
        return;
    }
    if ((buttons & Qt::LeftButton) && exportMode && (event->pos() - pressPoint).manhattanLength() > kExportDragThreshold)
        if (auto* layer = qobject_cast<QGuiLayer*>(scene()))
            layer->OnItemMoved(this, event->pos());
    QGraphicsObject::mouseMoveEvent(event);
}

void QVideoItem::mouseReleaseEvent(QGraphicsSceneMouseEvent* event)
{
    const Qt::MouseButton button = event->button();
    if (button == Qt::MiddleButton || (button == Qt::LeftButton && IsZoomed()))
        zoomAnimator.Pan(event->pos());
    if (flags() & ItemIsMovable) {
        dragging = false;
        if (grid)
            grid->PlaceItem(this, true);
    }
    QGraphicsObject::mouseReleaseEvent(event);
}

void QVideoItem::wheelEvent(QGraphicsSceneWheelEvent* event)
{
    zoomAnimator.ZoomAt(event->pos(), event->delta() > 0 ? 1.5 : 2.0 / 3.0);
    QGraphicsObject::wheelEvent(event);
}

QRectF QVideoItem::ComputeZoomRect(const QPointF& from, const QPointF& to, const QSizeF& size)
{
    render::IChannelManager* manager = ChannelManager();
    return manager ? manager->ComputeZoomRect(channel, from, to, size) : QRectF(QPointF(0, 0), size);
}

void QVideoItem::SetZoomRect(const QRectF& rect)
{
    if (render::IChannelManager* manager = ChannelManager())
        manager->SetViewRect(channel, rect);
    LayoutTitles();
}

QRectF QVideoItem::GetZoomRect() const
{
    render::IChannelManager* manager = ChannelManager();
    return manager ? manager->GetViewRect(channel) : QRectF(0, 0, 1, 1);
}

void QVideoItem::moveAnimationFinished()
{
    if (!maximized)
        setZValue(-2);
    moveAnimation.setDuration(maximized ? 250 : 500);
    moveAnimation.setEasingCurve(QEasingCurve::OutCubic);
}

void QVideoItem::EnableTitleOfVideoItem(bool fromTitles)
{
    if (!contextMenu)
        return;
    const int prefix = tr("Caption: ").length();
    const QList<QAction*> actions = contextMenu->actions();
    const auto indexOf = [&](const QAction* action) {
        return action->isSeparator() ? -1 : titles->IndexOfName(action->text().mid(prefix));
    };
    for (QAction* action : actions) {
        const int index = indexOf(action);
        if (index < 0)
            continue;
        render::TitlePtr title = titles->GetTitle(unsigned(index));
        bool visible = false;
        if (fromTitles) {
            visible = title->IsVisible();
            action->setChecked(visible);
        } else {
            visible = action->isChecked();
            title->SetVisible(visible);
        }
        for (int linked : title->GetLinkedTitles()) {
            if (render::TitlePtr other = titles->FindTitle(unsigned(linked)))
                other->SetVisible(visible);
            // A linked title's own entry follows, or a later pass over it
            // would undo the switch.
            for (QAction* other : actions)
                if (other != action && indexOf(other) == linked)
                    other->setChecked(visible);
        }
    }
    Invalidate(boundingRect(), true);
}

void QVideoItem::CreateTitlesMenu()
{
    contextMenu = std::make_shared<QMenu>(QStringLiteral("Titles"));
    const std::vector<render::TitlePtr> all = titles->GetTitles();
    for (size_t i = 3; i < all.size(); ++i)
        if (all[i])
            AddTitleAction(QString::fromStdString(all[i]->GetName()), all[i]->IsVisible());
}

void QVideoItem::AddTitleAction(const QString& name, bool visible)
{
    if (!contextMenu)
        return;
    auto* action = new QAction(tr("Caption: ") + name, this);
    action->setCheckable(true);
    action->setChecked(visible);
    connect(action, &QAction::triggered, this, qOverload<>(&QVideoItem::EnableTitleOfVideoItem));
    contextMenu->addAction(action);
    contextMenu->addSeparator();
}
