#include "widgets/QCustomInputs.h"

void QCustomLineEdit::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    QLineEdit::mousePressEvent(event);
}

void QCustomListWidget::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    QListWidget::mousePressEvent(event);
}
