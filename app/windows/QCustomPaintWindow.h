#pragma once
// A top-level window whose whole client area is drawn by the renderer: a
// native surface that Qt never paints, with the mouse, wheel and key input
// forwarded into the scene layer drawn over the video.

#include <QMainWindow>

class QGuiLayer;

class QCustomPaintWindow : public QMainWindow {
public:
    // scene: not owned; may be null (no input is forwarded then).
    explicit QCustomPaintWindow(QGuiLayer* scene);

    bool IsClosing() const { return m_closing; }
    QGuiLayer* Scene() const { return m_scene; }

    // No Qt paint engine: the window is a native surface.
    QPaintEngine* paintEngine() const override { return nullptr; }

protected:
    // Runs once, from the first show event, before the base handler.
    virtual void OnFirstShow() {}

    // Paint events go to paintEvent alone: the main window's own painting
    // (dock separators) would open a painter on the native surface.
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    void SetClosing() { m_closing = true; }

private:
    void ForwardKey(QKeyEvent* event);

    bool m_firstShowDone = false;
    bool m_closing = false;
    QGuiLayer* m_scene;
};
