#include "widgets/QPanelSwitcher.h"

#include <QGraphicsItem>

namespace {

// Wraps a slide position into (-1, 1] so that an interrupted slide carries
// on in the same direction.
double Wrapped(double value)
{
    return value < -1 ? value + 2 : value;
}

}  // namespace

QPanelSwitcher::QPanelSwitcher()
{
    animation.setTargetObject(this);
    animation.setPropertyName("PanelPosition");
    animation.setDuration(1000);
    animation.setEndValue(1.0);
    connect(&animation, &QAbstractAnimation::finished, this, &QPanelSwitcher::animationFinished);
}

void QPanelSwitcher::AddItem(QGraphicsLayoutItem* item, int page, int column)
{
    while (page >= pages.size()) {
        QSharedPointer<QGraphicsGridLayout> layout(new QGraphicsGridLayout);
        layout->setSpacing(0);
        pages.append(layout);
    }
    pages[page]->addItem(item, 0, column, 1, 1, Qt::Alignment());
    SetPageVisible(page, page == currentPage);
}

void QPanelSwitcher::SetPageVisible(int page, bool visible)
{
    if (page < 0 || page >= pages.size())
        return;
    QGraphicsGridLayout* layout = pages[page].data();
    for (int i = 0; i < layout->count(); ++i) {
        if (QGraphicsItem* graphics = layout->itemAt(i)->graphicsItem())
            graphics->setVisible(visible);
    }
}

void QPanelSwitcher::SwitchTo(int page)
{
    if (page == currentPage)
        return;
    animation.stop();
    animation.setEasingCurve(position != 1.0 ? QEasingCurve::OutQuad : QEasingCurve::InOutQuad);
    position = Wrapped(position - 1);
    SetPageVisible(page, true);
    previousPage = currentPage;
    currentPage = page;
    animation.setStartValue(position);
    animation.start();
}

void QPanelSwitcher::setGeometry(const QRectF& rect)
{
    const auto place = [&](int page, double offset) {
        if (page < 0 || page >= pages.size())
            return;
        const QRectF target(rect.x() + rect.width() * offset * directionX,
                            rect.y() + rect.height() * offset * directionY, rect.width(), rect.height());
        pages[page]->setGeometry(QRectF(target.toRect()));
    };
    if (position != 1.0)
        place(previousPage, Wrapped(position));
    place(currentPage, Wrapped(position - 1));
    QGraphicsLayoutItem::setGeometry(rect);
}

void QPanelSwitcher::updateGeometry()
{
    for (const QSharedPointer<QGraphicsGridLayout>& page : pages)
        page->invalidate();
    QGraphicsLayoutItem::updateGeometry();
}

QSizeF QPanelSwitcher::sizeHint(Qt::SizeHint which, const QSizeF& constraint) const
{
    if (currentPage < 0 || currentPage >= pages.size())
        return QSizeF();
    return pages[currentPage]->effectiveSizeHint(which, constraint);
}

void QPanelSwitcher::SetPanelPosition(double value)
{
    position = value;
    setGeometry(geometry());
}

void QPanelSwitcher::animationFinished()
{
    SetPageVisible(previousPage, false);
}
