#include "app/windows/QControlsGuiLayer.h"

#include <algorithm>

#include <QCoreApplication>
#include <QEvent>
#include <QGraphicsPixmapItem>
#include <QGraphicsProxyWidget>
#include <QPixmap>
#include <QGraphicsWidget>
#include <QMetaObject>
#include <QTimerEvent>

#include "app/core/QApplicationSettings.h"
#include "app/widgets/QBasePanel.h"
#include "app/widgets/QCustomButton.h"
#include "render/RendererPin.h"

namespace {

constexpr int kSettingsControlPanelWidth = 80;
constexpr int kFadeMs = 500;

int Index(QControlsGuiLayer::Slot slot)
{
    return static_cast<int>(slot);
}

bool IsConfigurationPanel(QControlsGuiLayer::Slot slot)
{
    using Slot = QControlsGuiLayer::Slot;
    return slot == Slot::SourceBrowser || slot == Slot::SettingsPanel || slot == Slot::ExportTaskSettings;
}

// Connects a Qt signal to a slot when both exist (panels that are strips
// have neither).
void ConnectByName(QObject* sender, const char* signal, QObject* receiver, const char* slot)
{
    if (sender == nullptr || receiver == nullptr)
        return;
    const QMetaObject* from = sender->metaObject();
    const QMetaObject* to = receiver->metaObject();
    if (from->indexOfSignal(QMetaObject::normalizedSignature(signal + 1)) < 0 ||
        to->indexOfMethod(QMetaObject::normalizedSignature(slot + 1)) < 0)
        return;
    QObject::connect(sender, signal, receiver, slot);
}

// Until the export panel's own snapshot item is there: a movable
// half-transparent copy of the picture.
QGraphicsItem* DefaultDragImage(const QImage& image, int /*channel*/)
{
    auto* item = new QGraphicsPixmapItem(QPixmap::fromImage(image));
    item->setOpacity(0.5);
    item->setFlag(QGraphicsItem::ItemIsMovable);
    return item;
}

}  // namespace

// ---- ControlsLayerInterface ----

void ControlsLayerInterface::StartPrevFrameAlpha()
{
    if (m_layer)
        m_layer->StartPrevFrameFade();
}

void ControlsLayerInterface::StopPrevFrameAlpha()
{
    if (m_layer)
        m_layer->StopPrevFrameAnimation();
}

void ControlsLayerInterface::StopPrevFrameFade()
{
    if (m_layer)
        m_layer->StopPrevFrameFade();
}

void ControlsLayerInterface::SetPrevFrameAlpha(int32_t alpha)
{
    if (m_layer)
        m_layer->SetPrevFrameAlphaProperty(alpha);
}

void ControlsLayerInterface::InvalidateAll()
{
    if (m_layer)
        m_layer->InvalidateAll();
}

void ControlsLayerInterface::RenderDirty()
{
    if (m_layer)
        m_layer->RenderDirty();
}

void ControlsLayerInterface::PostNewFile(int32_t channel)
{
    if (m_layer)
        QMetaObject::invokeMethod(m_layer, "NewFile", Qt::AutoConnection, Q_ARG(int, channel));
}

void ControlsLayerInterface::SetEnabledState(bool enabled, bool exporting)
{
    if (!m_layer)
        return;
    render::Renderer* renderer = m_layer->GetRenderer();
    const int channels = renderer != nullptr ? renderer->GetCount() : 0;
    const bool c = enabled && channels > 0;
    bool taskHasChannels = false;
    int tasks = 0;
    if (auto* panel = dynamic_cast<playback::IExportPanel*>(m_layer->Control(QControlsGuiLayer::Slot::ExportPanel))) {
        tasks = panel->CountTasks();
        Storage::ExportTask task;
        panel->GetTask(panel->CurrentIndex(), task);
        taskHasChannels = !task.ChannelIds.empty();
    }
    const EnabledGuiFlags flags = {c,
                                   enabled || exporting,
                                   c && taskHasChannels,
                                   c && tasks > 0,
                                   c && channels > 0,
                                   QApplicationSettings::Instance().Live.ExportVideo};
    // From another thread the layer is reached on its own.
    QMetaObject::invokeMethod(m_layer, [layer = m_layer, flags] { layer->ApplyEnabledState(flags); },
                              Qt::AutoConnection);
}

// ---- QControlsGuiLayer ----

QControlsGuiLayer::QControlsGuiLayer(std::shared_ptr<render::Renderer> renderer, ControlsFactory factory)
    : QGuiLayer(renderer.get()),
      m_renderer(std::move(renderer)),
      m_factory(std::move(factory)),
      m_dragImageFactory(DefaultDragImage),
      m_interface(std::make_shared<ControlsLayerInterface>(this)),
      m_grid(this, m_renderer.get()),
      m_fade(this, "PrevFrameAlpha")
{
    EnsureControls();
    m_timer = startTimer(16, Qt::CoarseTimer);
    m_fade.setDuration(kFadeMs);
    m_fade.setStartValue(255);
    m_fade.setEndValue(0);
    m_fade.setEasingCurve(QEasingCurve::InOutQuad);
    if (m_renderer != nullptr) {
        m_renderer->SetLayer(this);
        m_renderer->SetTitlesProcessor(&m_grid);
    }
}

QControlsGuiLayer::~QControlsGuiLayer()
{
    m_interface->Detach();
    m_fade.stop();
    if (m_renderer != nullptr && m_renderer->GetLayer() == this)
        m_renderer->SetLayer(nullptr);
    if (m_renderer != nullptr)
        m_renderer->SetTitlesProcessor(nullptr);
    // The layouts go before the proxies they place.
    delete m_mainGrid;
    m_mainGrid = nullptr;
}

QWidget* QControlsGuiLayer::Control(Slot slot) const
{
    return m_controls[Index(slot)];
}

QWidget* QControlsGuiLayer::Make(Slot slot)
{
    QWidget* widget = m_factory ? m_factory(slot, *this) : nullptr;
    if (widget == nullptr) {
        if (IsConfigurationPanel(slot)) {
            widget = new QWidget;
            widget->hide();
        } else {
            widget = new QBasePanel;
            if (slot == Slot::SettingsControlPanel)
                widget->setFixedWidth(kSettingsControlPanelWidth);
        }
    }
    m_controls[Index(slot)] = widget;
    return widget;
}

QGraphicsProxyWidget* QControlsGuiLayer::AddControl(Slot slot, QWidget* widget)
{
    QGraphicsProxyWidget* proxy = addWidget(widget);
    if (IsConfigurationPanel(slot) && !widget->isVisible())
        proxy->hide();
    return proxy;
}

void QControlsGuiLayer::CreateControls()
{
    setItemIndexMethod(QGraphicsScene::NoIndex);
    m_mainGrid = new QGraphicsGridLayout;
    m_mainGrid->setSpacing(0);

    m_grid.setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding, QSizePolicy::DefaultType);
    m_mainGrid->addItem(&m_grid, 0, 0, 1, 2);

    BuildModePanels();
    BuildTimeLineRow();

    for (Slot slot : {Slot::SourceBrowser, Slot::SettingsPanel, Slot::ExportTaskSettings})
        AddControl(slot, Make(slot));
    QWidget* browser = Control(Slot::SourceBrowser);
    QWidget* settings = Control(Slot::SettingsPanel);
    QWidget* task = Control(Slot::ExportTaskSettings);
    // At most one of the browser and the settings panel is out; the task
    // editor gives way to both.
    ConnectByName(browser, SIGNAL(OnShowPanel()), settings, SLOT(HidePanel()));
    ConnectByName(browser, SIGNAL(OnShowPanel()), task, SLOT(HidePanel()));
    ConnectByName(settings, SIGNAL(OnShowPanel()), browser, SLOT(HidePanel()));
    ConnectByName(settings, SIGNAL(OnShowPanel()), task, SLOT(HidePanel()));
    for (QWidget* panel : {browser, settings, task}) {
        ConnectByName(panel, SIGNAL(OnShowPanel()), this, SLOT(onShowSettingsPanel()));
        ConnectByName(panel, SIGNAL(OnHidePanel()), this, SLOT(onHideSettingsPanel()));
    }

    connect(this, &QGraphicsScene::changed, this, &QControlsGuiLayer::sceneChanged);
    QEvent activate(QEvent::WindowActivate);
    event(&activate);
}

void QControlsGuiLayer::BuildModePanels()
{
    QWidget* exportPanel = Make(Slot::ExportPanel);
    exportPanel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_pages.AddItem(AddControl(Slot::ExportPanel, exportPanel), 1, 0);
    m_pages.AddItem(AddControl(Slot::TimeInput1, Make(Slot::TimeInput1)), 1, 2);
    m_pages.AddItem(AddControl(Slot::TimeInput2, Make(Slot::TimeInput2)), 1, 3);
    for (int i = 0; i < 2; ++i) {
        auto* input = dynamic_cast<playback::ITimeInputPanel*>(Control(i == 0 ? Slot::TimeInput1 : Slot::TimeInput2));
        if (input != nullptr)
            input->Activated.connect([this, i] { SetActiveTimeInput(i); });
    }
    m_pages.AddItem(AddControl(Slot::ExportControlPanel, Make(Slot::ExportControlPanel)), 1, 4);
    m_pages.AddItem(AddControl(Slot::CameraSelector, Make(Slot::CameraSelector)), 0, 0);
    QWidget* selected = Make(Slot::SelectedTimeLine);
    selected->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_pages.AddItem(AddControl(Slot::SelectedTimeLine, selected), 0, 1);
    m_pages.AddItem(AddControl(Slot::PlayControlPanel, Make(Slot::PlayControlPanel)), 0, 2);
    m_mainGrid->addItem(&m_pages, 2, 0);
    m_mainGrid->addItem(AddControl(Slot::SettingsControlPanel, Make(Slot::SettingsControlPanel)), 2, 1);
}

void QControlsGuiLayer::BuildTimeLineRow()
{
    auto* row = new QGraphicsGridLayout;
    QGraphicsProxyWidget* selector = AddControl(Slot::TimeSelector, Make(Slot::TimeSelector));
    m_shotButton = new QCustomButton("shot");
    m_printButton = new QCustomButton("print");
    QGraphicsProxyWidget* shot = addWidget(m_shotButton);
    QGraphicsProxyWidget* print = addWidget(m_printButton);
    row->addItem(selector, 0, 2);
    row->addItem(shot, 0, 3, Qt::AlignVCenter);
    row->addItem(print, 0, 4, Qt::AlignVCenter);
    for (QGraphicsProxyWidget* proxy : {selector, shot, print})
        proxy->setZValue(1.0);
    connect(m_shotButton, &QPushButton::clicked, this, &QControlsGuiLayer::onScreenshot);
    connect(m_printButton, &QPushButton::clicked, this, &QControlsGuiLayer::onPrint);
    const int s = m_shotButton->width();
    row->setColumnSpacing(1, s);
    row->setColumnSpacing(2, s);
    row->setColumnFixedWidth(0, s);
    row->setColumnFixedWidth(1, s);
    m_mainGrid->addItem(row, 3, 0, 1, 3, Qt::AlignHCenter | Qt::AlignBottom);

    QWidget* united = Make(Slot::UnitedTimeLine);
    united->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_mainGrid->addItem(AddControl(Slot::UnitedTimeLine, united), 3, 0, 1, 4);
}

void QControlsGuiLayer::Resize(const QSize& size)
{
    QGuiLayer::Resize(size);
    const int w = size.width();
    const int h = size.height();
    QWidget* exportControl = Control(Slot::ExportControlPanel);
    const int width = (w - 1) / 2 - Control(Slot::TimeInput2)->width() - Control(Slot::SettingsControlPanel)->width() + 2;
    exportControl->setFixedWidth(std::max(0, width));
    m_pages.updateGeometry();
    m_mainGrid->invalidate();
    m_mainGrid->setGeometry(QRectF(0, 0, w, h));
    m_videoArea = m_grid.geometry().toRect();
    // The sliding panels cover the video area exactly.
    for (Slot slot : {Slot::SourceBrowser, Slot::ExportTaskSettings, Slot::SettingsPanel}) {
        QWidget* panel = Control(slot);
        if (!QMetaObject::invokeMethod(panel, "SetArea", Qt::DirectConnection, Q_ARG(QSize, m_videoArea.size())))
            panel->resize(m_videoArea.size());
    }
    SetClearRect(m_videoArea);
}

bool QControlsGuiLayer::RenderDirty()
{
    const bool painted = QGuiLayer::RenderDirty();
    if (painted)
        m_grid.UpdatePinGeometry();
    return painted;
}

void QControlsGuiLayer::OnItemMoved(QGraphicsItem* item, const QPointF& offset)
{
    auto* video = dynamic_cast<QVideoItem*>(item);
    if (video == nullptr || m_renderer == nullptr || !Control(Slot::ExportPanel)->isEnabled())
        return;
    const render::RendererPinPtr pin = m_renderer->GetPin(video->Channel());
    if (!pin)
        return;
    const QRect area = pin->GetRect();
    const QPoint point = (item->pos() + offset).toPoint();
    if (!area.contains(point))
        return;
    // No picture while the device is not ready: no snapshot to drag.
    const QImage picture = m_renderer->RenderToImage(area);
    if (picture.isNull() || picture.width() <= 0 || !m_dragImageFactory)
        return;
    QGraphicsItem* snapshot = m_dragImageFactory(picture, video->Channel());
    if (snapshot == nullptr)
        return;
    snapshot->setPos(area.topLeft());
    MouseRelease(point, Qt::LeftButton);  // ends the video item's drag
    addItem(snapshot);
    MousePress(point, Qt::LeftButton);  // the snapshot, now under the cursor, takes it over
}

void QControlsGuiLayer::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_timer)
        RenderDirty();
    else
        QGuiLayer::timerEvent(event);
}

void QControlsGuiLayer::sceneChanged(const QList<QRectF>& rects)
{
    for (const QRectF& rect : rects)
        if (rect.width() > 0 && rect.height() > 0)
            InvalidateRect(rect);
}

void QControlsGuiLayer::onScreenshot()
{
    m_interface->ScreenshotRequested();
}

void QControlsGuiLayer::onPrint()
{
    m_interface->PrintRequested();
}

void QControlsGuiLayer::onShowSettingsPanel()
{
    m_interface->SettingsPanelShown();
}

void QControlsGuiLayer::onHideSettingsPanel()
{
    QMetaObject::invokeMethod(Control(Slot::SettingsControlPanel), "UncheckButtons", Qt::DirectConnection);
    m_interface->SettingsPanelHidden();
}

void QControlsGuiLayer::NewFile(int channel)
{
    m_interface->FileOpened(channel);
}

void QControlsGuiLayer::RepaintControl(Slot slot)
{
    if (QWidget* widget = Control(slot))
        widget->update();
}

void QControlsGuiLayer::SwitchToPlayMode()
{
    m_pages.SwitchTo(0);
    m_grid.SetExportMode(false);
    m_interface->ExportModeChanged(false);
    for (int i = 0; i < 2; ++i) {
        if (m_timeInputActive[i]) {
            m_timeInputActive[i] = false;
            RepaintControl(i == 0 ? Slot::TimeInput1 : Slot::TimeInput2);
        }
    }
    m_interface->ActiveTimeLineChanged(nullptr);
}

void QControlsGuiLayer::SwitchToExportMode()
{
    m_pages.SwitchTo(1);
    m_grid.SetExportMode(true);
    m_interface->ExportModeChanged(true);
    if (!m_timeInputActive[0]) {
        m_timeInputActive[0] = true;
        auto* input = dynamic_cast<playback::ITimeInputPanel*>(Control(Slot::TimeInput1));
        if (input != nullptr)
            input->Activated();  // runs SetActiveTimeInput(0)
        else
            SetActiveTimeInput(0);
        RepaintControl(Slot::TimeInput1);
    }
}

void QControlsGuiLayer::SetActiveTimeInput(int index)
{
    for (int i = 0; i < 2; ++i) {
        if (i != index && m_timeInputActive[i]) {
            m_timeInputActive[i] = false;
            RepaintControl(i == 0 ? Slot::TimeInput1 : Slot::TimeInput2);
        }
    }
    if (index == 0 || index == 1)
        m_timeInputActive[index] = true;
    playback::ITimeLineControl* timeLine = nullptr;
    if (index == 0 || index == 1)
        if (auto* input = dynamic_cast<playback::ITimeInputPanel*>(Control(index == 0 ? Slot::TimeInput1 : Slot::TimeInput2)))
            timeLine = &input->Selector();
    m_interface->ActiveTimeLineChanged(timeLine);
}

void QControlsGuiLayer::ApplyEnabledState(const EnabledGuiFlags& e)
{
    if (!e[5] && m_pages.CurrentPage() == 1)
        SwitchToPlayMode();
    for (Slot slot : {Slot::SelectedTimeLine, Slot::UnitedTimeLine, Slot::TimeSelector, Slot::CameraSelector,
                      Slot::PlayControlPanel, Slot::ExportPanel})
        Control(slot)->setEnabled(e[0]);
    Control(Slot::TimeInput1)->setEnabled(e[2]);
    Control(Slot::TimeInput2)->setEnabled(e[2]);
    m_shotButton->setEnabled(e[4]);
    m_printButton->setEnabled(e[4]);
    QWidget* exportControl = Control(Slot::ExportControlPanel);
    if (!QMetaObject::invokeMethod(exportControl, "SetButtonsEnabled", Qt::DirectConnection, Q_ARG(bool, e[3]),
                                   Q_ARG(bool, e[2])))
        exportControl->setEnabled(e[2] || e[3]);
    QWidget* settingsControl = Control(Slot::SettingsControlPanel);
    settingsControl->setEnabled(e[1]);
}

void QControlsGuiLayer::PrepareCapture()
{
    QMetaObject::invokeMethod(Control(Slot::TimeSelector), "HidePopup", Qt::DirectConnection);
    QCoreApplication::sendPostedEvents();
    RenderDirty();
}

void QControlsGuiLayer::SetPrevFrameAlphaProperty(int alpha)
{
    if (m_renderer != nullptr)
        m_renderer->SetPrevFrameAlpha(alpha);
}

void QControlsGuiLayer::StartPrevFrameFade()
{
    m_fade.stop();
    m_fade.start();
}

void QControlsGuiLayer::StopPrevFrameAnimation()
{
    m_fade.stop();
}

void QControlsGuiLayer::StopPrevFrameFade()
{
    m_fade.stop();
    if (m_renderer == nullptr)
        return;
    for (int i = 0; i < m_renderer->GetCount(); ++i)
        if (auto pin = boost::dynamic_pointer_cast<render::MediaSamplePin>(m_renderer->GetPin(i)))
            pin->ClearHasFrame();
    m_renderer->SetPrevFrameAlpha(255);
}

void QControlsGuiLayer::InvalidateAll()
{
    InvalidateRect(QRectF());
}
