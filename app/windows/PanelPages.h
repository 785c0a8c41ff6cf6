#pragma once
// The row of panels below the channel grid, held as pages of which one is
// shown: page 0 the play page, page 1 the export page. A layout item of the
// controls layer's main grid; each page is a grid layout with its panels in
// row 0. Switching shows the new page at once.

#include <QGraphicsGridLayout>
#include <QGraphicsLayoutItem>
#include <QList>
#include <QSharedPointer>

class PanelPages : public QGraphicsLayoutItem {
public:
    PanelPages();

    void AddItem(QGraphicsLayoutItem* item, int page, int column);
    void SwitchTo(int page);
    int CurrentPage() const { return m_current; }
    void SetPageVisible(int page, bool visible);

    void setGeometry(const QRectF& rect) override;

protected:
    QSizeF sizeHint(Qt::SizeHint which, const QSizeF& constraint = QSizeF()) const override;

private:
    QList<QSharedPointer<QGraphicsGridLayout>> m_pages;
    int m_current = 0;
};
