#pragma once
// The row of panels below the channel grid as pages of a layout item: one
// page shown at a time, and a horizontal slide from one page to the next.
// The new page comes in from the right while the old one leaves to the
// left; a switch during a slide carries both pages on from where they are.

#include <QGraphicsGridLayout>
#include <QGraphicsLayoutItem>
#include <QList>
#include <QObject>
#include <QPropertyAnimation>
#include <QSharedPointer>

class QPanelSwitcher : public QObject, public QGraphicsLayoutItem {
    Q_OBJECT
    Q_INTERFACES(QGraphicsLayoutItem)
    Q_PROPERTY(double PanelPosition READ PanelPosition WRITE SetPanelPosition)

public:
    QPanelSwitcher();

    // Adds item to row 0 of page at column, creating the pages up to it.
    // Items of a page that is not current are hidden at once.
    void AddItem(QGraphicsLayoutItem* item, int page, int column);
    void SetPageVisible(int page, bool visible);
    void SwitchTo(int page);

    void setGeometry(const QRectF& rect) override;
    // Also drops the pages' cached item hints: the page layouts have no
    // parent layout, so a panel whose size limits changed reaches them
    // only through here.
    void updateGeometry() override;

    // 1.0 at rest; during a switch it runs up to 1.0.
    double PanelPosition() const { return position; }
    void SetPanelPosition(double value);

    int PageCount() const { return pages.size(); }
    int CurrentPage() const { return currentPage; }
    QGraphicsGridLayout* Page(int page) const { return pages.value(page).data(); }
    QPropertyAnimation& Animation() { return animation; }

protected:
    QSizeF sizeHint(Qt::SizeHint which, const QSizeF& constraint = QSizeF()) const override;

private slots:
    void animationFinished();

private:
    QList<QSharedPointer<QGraphicsGridLayout>> pages;
    int currentPage = 0;
    int previousPage = 0;
    QPropertyAnimation animation;
    double directionX = -1.0;
    double directionY = 0.0;
    double position = 1.0;
};
