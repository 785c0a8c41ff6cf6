#pragma once
// The scene item of one channel in the channel grid. The renderer draws the
// channel's video below the controls layer; the item keeps its rectangle of
// the layer transparent so the video shows through and paints the channel's
// title overlays and the selection frame on top. The grid copies the item's
// rectangle, inset by 4 px, into the channel's renderer pin.
//
// The item lets the user drag the channel to another cell, zoom the picture
// with the wheel, pan a zoomed picture (left drag, or middle drag at any
// zoom), switch recorded titles from its context menu and, in export mode,
// drag the channel out of the grid (the layer's OnItemMoved takes over).
//
// GUI thread only; the titles set's signals from other threads are handed
// over through queued calls.

#include <memory>
#include <vector>

#include <QGraphicsObject>
#include <QPropertyAnimation>
#include <QRectF>
#include <boost/signals2/connection.hpp>

#include "widgets/ZoomAnimation.h"
#include "render/Titles.h"

class QAction;
class QMenu;
class QVideoItem;
struct QVideoItemRelay;

namespace render {
class IChannelManager;
}

// The channel grid as its video items see it.
class IChannelsGrid {
public:
    virtual ~IChannelsGrid() = default;
    // The grid's rectangle in scene coordinates.
    virtual QRectF Geometry() = 0;
    // The dragged item is about to occupy rect: the cell under its centre
    // becomes its cell.
    virtual void DropItem(QVideoItem* item, const QRectF& rect) = 0;
    // Moves the item into its cell.
    virtual void PlaceItem(QVideoItem* item, bool animated) = 0;
    // Lifts the item above the others; returns its channel.
    virtual int BringToFront(QVideoItem* item) = 0;
    // Null without renderer.
    virtual render::IChannelManager* GetChannelManager() = 0;
};

class QVideoItem : public QGraphicsObject, public IZoomTarget {
    Q_OBJECT
    Q_PROPERTY(int Alpha READ Alpha WRITE SetAlpha)
    Q_PROPERTY(QRectF BoundingRect READ BoundingRect WRITE SetGeometry)

public:
    // grid must outlive the item.
    QVideoItem(IChannelsGrid* grid, int channel, const render::TitlesPtr& titles);
    ~QVideoItem() override;

    // Moves and resizes the item to a scene rectangle; a rectangle equal
    // within qFuzzyCompare's tolerance changes nothing.
    virtual void SetGeometry(const QRectF& rect);
    virtual void SetSelected(bool selected);
    bool IsSelected() const { return selected; }
    // Animated moves run the "BoundingRect" animation; otherwise (or when the
    // item is there already) the geometry is set at once.
    void AnimateTo(const QRectF& rect, bool animated);
    // Fades the channel's shade over 1.5 s.
    void FadeAlpha(int from, int to);
    // Lays the title overlays out for the current size and picture and
    // invalidates what moved.
    void LayoutTitles();

    int Channel() const { return channel; }
    int Alpha() const;
    void SetAlpha(int alpha);
    QRectF BoundingRect() const { return sceneBoundingRect(); }

    // Title boxes in item coordinates (bottom left, bottom right).
    QRectF NameRect() const;
    QRectF TimeRect() const;
    // The laid-out titles, in title order.
    std::vector<render::TitleLayout> TitleLayouts() const;

    QPropertyAnimation& MoveAnimation() { return moveAnimation; }
    QPropertyAnimation& AlphaAnimation() { return alphaAnimation; }
    ZoomAnimation& ZoomAnimator() { return zoomAnimator; }
    // The "Titles" menu; null when it could not be made.
    QMenu* Menu() const { return contextMenu.get(); }

    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

    QRectF ComputeZoomRect(const QPointF& from, const QPointF& to, const QSizeF& size) override;
    void SetZoomRect(const QRectF& rect) override;
    QRectF GetZoomRect() const override;

    // Set and cleared by the grid too.
    bool dragging = false;
    bool maximized = false;
    bool geometryChanged = false;
    bool exportMode = false;

    static constexpr int Margin = 10;
    static constexpr int PinInset = 4;
    static const QColor SelectionColour;

public slots:
    void moveAnimationFinished();
    // fromTitles: the menu's check marks follow the titles' visibility;
    // otherwise the titles follow the check marks.
    void EnableTitleOfVideoItem(bool fromTitles);
    void EnableTitleOfVideoItem() { EnableTitleOfVideoItem(false); }
    void AddTitleAction(const QString& name, bool visible);

protected:
    QVariant itemChange(GraphicsItemChange change, const QVariant& value) override;
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;
    void wheelEvent(QGraphicsSceneWheelEvent* event) override;

private:
    struct TitleSlot {
        render::TitlePtr title;
        render::TitleLayout layout;
    };

    // The renderer's view of this channel; null without renderer or pin.
    render::IChannelManager* ChannelManager() const;
    bool IsZoomed() const;
    void Invalidate(const QRectF& rect, bool itemCoordinates);
    void DrawTitle(QPainter& painter, const QRectF& area, size_t index, const QString& text, bool elide);
    void DrawSelectionFrame(QPainter& painter, const QRectF& area);
    void CreateTitlesMenu();

    const int channel;
    IChannelsGrid* const grid;
    double width = -1;
    double height = -1;
    QPropertyAnimation moveAnimation;
    QPropertyAnimation alphaAnimation;
    bool selected = false;
    QPointF pressPoint;
    std::shared_ptr<QMenu> contextMenu;
    ZoomAnimation zoomAnimator;
    render::TitlesPtr titles;
    std::vector<TitleSlot> titleSlots;
    std::shared_ptr<QVideoItemRelay> relay;
    boost::signals2::scoped_connection visibilityConnection;
    boost::signals2::scoped_connection titleAddedConnection;
};
