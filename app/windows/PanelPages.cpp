#include "app/windows/PanelPages.h"

#include <QGraphicsItem>

PanelPages::PanelPages()
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void PanelPages::AddItem(QGraphicsLayoutItem* item, int page, int column)
{
    while (page >= m_pages.size()) {
        auto layout = QSharedPointer<QGraphicsGridLayout>::create();
        layout->setSpacing(0);
        m_pages.append(layout);
    }
    m_pages[page]->addItem(item, 0, column, 1, 1);
    SetPageVisible(page, page == m_current);
    updateGeometry();
}

void PanelPages::SetPageVisible(int page, bool visible)
{
    if (page < 0 || page >= m_pages.size())
        return;
    const QGraphicsGridLayout& layout = *m_pages[page];
    for (int i = 0; i < layout.count(); ++i)
        if (QGraphicsItem* item = layout.itemAt(i)->graphicsItem())
            item->setVisible(visible);
}

void PanelPages::SwitchTo(int page)
{
    if (page == m_current || page < 0 || page >= m_pages.size())
        return;
    SetPageVisible(m_current, false);
    m_current = page;
    SetPageVisible(page, true);
    updateGeometry();
    setGeometry(geometry());
}

void PanelPages::setGeometry(const QRectF& rect)
{
    QGraphicsLayoutItem::setGeometry(rect);
    if (m_current < m_pages.size())
        m_pages[m_current]->setGeometry(rect);
}

QSizeF PanelPages::sizeHint(Qt::SizeHint which, const QSizeF& constraint) const
{
    if (m_current < m_pages.size())
        return m_pages[m_current]->effectiveSizeHint(which, constraint);
    return QSizeF(0, 0);
}
