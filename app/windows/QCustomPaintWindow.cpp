#include "app/windows/QCustomPaintWindow.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QShowEvent>
#include <QWheelEvent>

QCustomPaintWindow::QCustomPaintWindow(QGuiLayer* scene) : QMainWindow(nullptr, Qt::WindowFlags()), m_scene(scene)
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_PaintOnScreen);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_MouseTracking);
}

void QCustomPaintWindow::showEvent(QShowEvent* event)
{
    if (!m_firstShowDone) {
        OnFirstShow();
        m_firstShowDone = true;
    }
    QWidget::showEvent(event);
}

void QCustomPaintWindow::mouseMoveEvent(QMouseEvent* event)
{
    QWidget::mouseMoveEvent(event);
}

void QCustomPaintWindow::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
}

void QCustomPaintWindow::mouseReleaseEvent(QMouseEvent* event)
{
    QWidget::mouseReleaseEvent(event);
}

void QCustomPaintWindow::wheelEvent(QWheelEvent* /*event*/) {}

void QCustomPaintWindow::keyPressEvent(QKeyEvent* event)
{
    ForwardKey(event);
}

void QCustomPaintWindow::keyReleaseEvent(QKeyEvent* event)
{
    ForwardKey(event);
}

void QCustomPaintWindow::ForwardKey(QKeyEvent* /*event*/) {}

void QCustomPaintWindow::closeEvent(QCloseEvent* /*event*/)
{
    m_closing = true;
}
