#include "app/windows/QMainWnd.h"

#include <QApplication>
#include <QBackingStore>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRectF>
#include <QResizeEvent>
#include <QScreen>
#include <QStyle>
#include <QWindow>
#include <boost/pointer_cast.hpp>

#include "app/CommandLine.h"
#include "app/MessageBox.h"
#include "config/ApplicationTexts.h"
#include "config/QApplicationSettings.h"
#include "config/ResourcePaths.h"
#include "widgets/SkinResources.h"
#include "app/windows/QControlsGuiLayer.h"
#include "base/Log.h"
#include "playback/IPlayersController.h"
#include "render/D3DRendererDevice.h"
#include "render/OGLRendererDevice.h"
#include "render/Renderer.h"

QRect UsableWindowArea(const QList<QRect>& screens, int splitterWidth, int titleBarHeight)
{
    QRect area;
    for (const QRect& screen : screens)
        area = area.united(screen);
    return area.adjusted(splitterWidth, titleBarHeight, -splitterWidth, -splitterWidth);
}

QRect FitWindowIntoArea(const QRect& wanted, const QRect& area)
{
    const QRectF u(area);
    QRectF w(wanted);
    const QPointF lower = u.topLeft() - w.topLeft();
    const QPointF upper = u.bottomRight() - w.bottomRight();
    // Bounded by `upper` last: a window past the bottom-right comes back even
    // when that pushes it past the top-left, where the clip cuts it.
    const QPointF shift(std::min(std::max(0.0, lower.x()), upper.x()), std::min(std::max(0.0, lower.y()), upper.y()));
    w.translate(shift);
    return w.toRect().intersected(area);
}

QMainWnd::QMainWnd(std::shared_ptr<IPlayersController> controller, QControlsGuiLayer* scene,
                   const StartOptions& options)
    : QCustomPaintWindow(scene), m_controller(std::move(controller)), m_options(options), m_layer(scene)
{
    QApplicationSettings& settings = QApplicationSettings::Instance();
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    // Top-most before the native window exists, so that the first show
    // needs no re-show.
    setWindowFlag(Qt::WindowStaysOnTopHint, settings.Live.TopMost);
    PlaceFromSettings();
    if (settings.State != 0)
        setWindowState(Qt::WindowStates(static_cast<int>(settings.State)));
    setWindowTitle(ApplicationDisplayName());
    setWindowIcon(LoadApplicationIcon(ApplicationDirectory() + "/"));

    if (m_controller && m_controller->GetRenderer()) {
        // An OpenGL surface must be chosen before the native window exists:
        // nothing may ask for winId or show the window before this.
        m_controller->GetRenderer()->GetDevice()->PrepareWindow(this);
        // Raised on the render thread: the report runs on the GUI thread.
        m_deviceError = m_controller->GetRenderer()->DeviceError.connect(
            [this] { QMetaObject::invokeMethod(this, "createDeviceErrorHandler", Qt::AutoConnection); });
    }
    if (m_controller) {
        // Shown once the call that opened the source has returned, so the
        // window is up beneath the message and takes the next source.
        m_nothingToPlay = m_controller->NothingToPlay.connect([this](const std::string& text) {
            const QString message = QString::fromStdString(text);
            QMetaObject::invokeMethod(
                this, [message] { ShowMessageBox(QMessageBox::Warning, message); }, Qt::QueuedConnection);
        });
    }
    if (m_layer != nullptr) {
        // The settings panel may have changed TopMost; the next save writes
        // the live values.
        m_settingsHidden = m_layer->Signals().SettingsPanelHidden.connect([this] {
            ApplyTopMost();
            QApplicationSettings::Instance().SaveLiveValues = true;
        });
    }
}

QMainWnd::~QMainWnd()
{
    m_deviceError.disconnect();
    m_settingsHidden.disconnect();
    m_nothingToPlay.disconnect();
}

void QMainWnd::PlaceFromSettings()
{
    const QApplicationSettings& settings = QApplicationSettings::Instance();
    QRect wanted(settings.WindowLeft, settings.WindowTop, settings.WindowWidth, settings.WindowHeight);
    if (wanted.width() == 0 && wanted.height() == 0)
        wanted = QRect(pos(), QSize(kDefaultWidth, kDefaultHeight));
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens.append(screen->geometry());
    const QRect area = UsableWindowArea(screens, style()->pixelMetric(QStyle::PM_SplitterWidth),
                                        style()->pixelMetric(QStyle::PM_TitleBarHeight));
    setGeometry(FitWindowIntoArea(wanted, area));
}

void QMainWnd::ApplyTopMost()
{
    const bool wanted = QApplicationSettings::Instance().Live.TopMost;
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == wanted)
        return;
    // A changed flag hides the window: it is shown again.
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, wanted);
    if (visible)
        show();
}

void QMainWnd::OnFirstShow()
{
    m_firstShown = true;
    ApplyTopMost();
    if (m_controller)
        m_controller->Initialize(m_options, this, rect());
}

void QMainWnd::mousePressEvent(QMouseEvent* event)
{
    if (m_layer != nullptr && !IsClosing()) {
        const int channel = m_layer->Grid().ChannelAt(event->pos());
        if (channel >= 0) {
            if (event->button() == Qt::RightButton)
                m_layer->Grid().ShowItemMenu(channel);
            if (m_controller)
                m_controller->SelectPlayer(static_cast<size_t>(channel));
        }
    }
    QCustomPaintWindow::mousePressEvent(event);
}

void QMainWnd::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (m_layer == nullptr || IsClosing())
        return;
    const int channel = m_layer->Grid().ChannelAt(event->pos());
    if (channel < 0)
        return;
    QChannelsGrid& grid = m_layer->Grid();
    grid.ZoomItem(channel, grid.MaximizedItem() != grid.ItemByChannel(channel), true);
}

QRegion QMainWnd::PaintPresented(const QRegion& region)
{
    const std::shared_ptr<render::Renderer>& renderer = m_controller->GetRenderer();
    const auto device = boost::dynamic_pointer_cast<render::D3DRendererDevice>(renderer->GetDevice());
    if (!device || windowHandle() == nullptr)
        return region;
    // The backing store's image is in the window's own pixel format; the
    // presented picture is copied into it as it is, only where it changed.
    if (!m_store)
        m_store = std::make_unique<QBackingStore>(windowHandle());
    if (m_store->size() != size())
        m_store->resize(size());
    m_store->beginPaint(region);
    QRegion uncovered;
    {
        QPainter painter(m_store->paintDevice());
        uncovered = device->PaintFront(painter, region);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        for (const QRect& rect : uncovered)
            painter.fillRect(rect, Qt::black);
    }
    m_store->endPaint();
    m_store->flush(region);
    return uncovered;
}

void QMainWnd::paintEvent(QPaintEvent* event)
{
    if (!m_controller || !m_controller->GetRenderer())
        return;
    const std::shared_ptr<render::Renderer>& renderer = m_controller->GetRenderer();
    // The OpenGL device draws straight into the surface and posts no
    // paints: every paint here is an expose, which it redraws.
    if (boost::dynamic_pointer_cast<render::OGLRendererDevice>(renderer->GetDevice())) {
        renderer->InvalidateRect(event->rect());
        return;
    }
    // The device's presents post paints of what they changed: those are
    // served from the presented picture alone, so that painting never asks
    // for another render pass. Only a part the picture does not hold (an
    // expose before the first present, a grown window) asks the renderer.
    if (!PaintPresented(event->region()).isEmpty())
        renderer->InvalidateRect(renderer->GetGeometry());
}

void QMainWnd::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    const QSize size = event->size();
    if (size.width() < 1 || size.height() < 1 || !m_controller || !m_controller->GetRenderer())
        return;
    m_controller->GetRenderer()->SetGeometry(QRect(QPoint(0, 0), size));
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QMainWnd::closeEvent(QCloseEvent* event)
{
    if (!m_controller)
        return;
    if (m_controller->RunningExportTasks() > 0) {
        event->ignore();
        return;
    }
    SetClosing();
    QApplicationSettings& settings = QApplicationSettings::Instance();
    settings.State = static_cast<int32_t>(windowState());
    const QRect normal = normalGeometry();
    settings.WindowLeft = normal.left();
    settings.WindowTop = normal.top();
    settings.WindowWidth = normal.right() - normal.left() + 1;
    settings.WindowHeight = normal.bottom() - normal.top() + 1;
    m_controller->SaveState();
    settings.Save();
    m_deviceError.disconnect();
    m_settingsHidden.disconnect();
    m_nothingToPlay.disconnect();
    m_controller.reset();
    event->accept();
}

void QMainWnd::OnCommand(QString command)
{
    if (!m_firstShown)
        return;
    if (command == QLatin1String("shutdown")) {
        close();
        return;
    }
    // A forwarded line never ends this instance: help, dump and rejected
    // lines are logged and dropped.
    const CommandLineResult result = ParseCommandLine(command.toLocal8Bit().toStdString());
    if (result.rejected || result.help) {
        getDefaultDebugInstance()->Message("Forwarded command line ignored: %s", result.error.c_str());
        return;
    }
    if (m_controller)
        m_controller->OpenSource(result.options);
    // To the front, above other windows for the moment.
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    ApplyTopMost();
    activateWindow();
}

void QMainWnd::createDeviceErrorHandler()
{
    ShowMessageBox(QMessageBox::Critical, tr("No Direct3D device."));
    QApplicationSettings::Instance().Save();
    close();
}
