#pragma once
// The player's one top-level window. Its client area is the renderer's
// output; the window ties its own life to the playback controller: geometry
// and top-most state from the settings, the controller's start at the first
// show, no close while an export runs, the state saved at close, the command
// lines of later instances and the report of a render device that cannot be
// made.

#include <memory>

#include <QList>
#include <QRect>
#include <QString>
#include <boost/signals2/connection.hpp>

#include "config/StartOptions.h"
#include "app/windows/QCustomPaintWindow.h"

class IPlayersController;
class QBackingStore;
class QControlsGuiLayer;

// The area a window may cover: the union of the screens, less the frame
// edges (splitter width) and the title bar at the top.
QRect UsableWindowArea(const QList<QRect>& screens, int splitterWidth, int titleBarHeight);
// The wanted rectangle moved into the area (its bottom-right corner first,
// then its top-left), then clipped to it.
QRect FitWindowIntoArea(const QRect& wanted, const QRect& area);

class QMainWnd : public QCustomPaintWindow {
    Q_OBJECT
    Q_PROPERTY(bool closing READ IsClosing)
public:
    static constexpr int kMinimumWidth = 960;
    static constexpr int kMinimumHeight = 540;
    static constexpr int kDefaultWidth = 1024;
    static constexpr int kDefaultHeight = 768;

    // scene: the controls layer drawn over the video (not owned; null for
    // none).
    QMainWnd(std::shared_ptr<IPlayersController> controller, QControlsGuiLayer* scene, const StartOptions& options);
    ~QMainWnd() override;

    // Stays on top of other windows as the TopMost setting says.
    void ApplyTopMost();
    bool HasController() const { return m_controller != nullptr; }

public slots:
    // "shutdown" closes the window; any other text is a command line whose
    // sources are opened here. Ignored before the first show.
    void OnCommand(QString command);
    // The render device could not be made: says so, saves the settings and
    // closes the window.
    Q_INVOKABLE void createDeviceErrorHandler();

protected:
    void OnFirstShow() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void PlaceFromSettings();
    // Paints region from the device's presented picture; returns the part it
    // could not paint.
    QRegion PaintPresented(const QRegion& region);

    std::shared_ptr<IPlayersController> m_controller;
    StartOptions m_options;
    bool m_firstShown = false;
    QControlsGuiLayer* m_layer;
    boost::signals2::scoped_connection m_deviceError;
    boost::signals2::scoped_connection m_settingsHidden;
    boost::signals2::scoped_connection m_nothingToPlay;
    std::unique_ptr<QBackingStore> m_store;
};
