#include "app/windows/QCustomPaintWindow.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QShowEvent>
#include <QWheelEvent>

#include "widgets/QGuiLayer.h"

QCustomPaintWindow::QCustomPaintWindow(QGuiLayer* scene) : QMainWindow(nullptr, Qt::WindowFlags()), m_scene(scene)
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_PaintOnScreen);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_MouseTracking);
}

bool QCustomPaintWindow::event(QEvent* event)
{
    if (event->type() == QEvent::Paint)
        return QWidget::event(event);
    return QMainWindow::event(event);
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
    if (!m_closing && m_scene != nullptr)
        m_scene->MouseMove(event->pos(), event->buttons(), event->modifiers());
    QWidget::mouseMoveEvent(event);
}

void QCustomPaintWindow::mousePressEvent(QMouseEvent* event)
{
    if (!m_closing && m_scene != nullptr)
        m_scene->MousePress(event->pos(), event->button(), event->modifiers());
    QWidget::mousePressEvent(event);
}

void QCustomPaintWindow::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_closing && m_scene != nullptr)
        m_scene->MouseRelease(event->pos(), event->button(), event->modifiers());
    QWidget::mouseReleaseEvent(event);
}

void QCustomPaintWindow::wheelEvent(QWheelEvent* event)
{
    if (!m_closing && m_scene != nullptr)
        m_scene->Wheel(event->position().toPoint(), event->angleDelta().y(), event->modifiers());
}

void QCustomPaintWindow::keyPressEvent(QKeyEvent* event)
{
    ForwardKey(event);
}

void QCustomPaintWindow::keyReleaseEvent(QKeyEvent* event)
{
    ForwardKey(event);
}

void QCustomPaintWindow::ForwardKey(QKeyEvent* event)
{
    // The scene's own handling takes the key to its focused widget.
    if (!m_closing && m_scene != nullptr)
        static_cast<QObject*>(m_scene)->event(event);
}

void QCustomPaintWindow::closeEvent(QCloseEvent* /*event*/)
{
    m_closing = true;
}
