#include "app/windows/QControlsGuiLayer.h"

#include <algorithm>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QGraphicsProxyWidget>
#include <QGraphicsWidget>
#include <QMetaObject>
#include <QTimerEvent>

#include "config/QApplicationSettings.h"
#include "widgets/QBasePanel.h"
#include "widgets/QCustomButton.h"
#include "config/ApplicationTexts.h"
#include "gui/panels/QAbstractConfigurationPanel.h"
#include "gui/panels/ExportPanels.h"
#include "gui/panels/QCameraSelectorPanel.h"
#include "widgets/QCustomPrint.h"
#include "gui/panels/QExportTaskSettingsPanel.h"
#include "gui/panels/QSettingsControlPanel.h"
#include "gui/panels/QSettingsPanel.h"
#include "widgets/QTimeLineControl.h"
#include "gui/sources/QNavigationPanel.h"
#include "gui/panels/QAbstractConfigurationPanel.h"
#include "gui/timeline/QPlayControlPanel.h"
#include "gui/timeline/QTimeSelector.h"
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

void ControlsLayerInterface::PrepareCapture()
{
    if (m_layer)
        m_layer->PrepareCapture();
}

void ControlsLayerInterface::PrintImage(const QString& title, const QImage& image)
{
    QCustomPrint print(QApplication::activeWindow(), image);
    print.Print(title, image);
}

void ControlsLayerInterface::BrowseSources()
{
    if (!m_layer)
        return;
    QMetaObject::invokeMethod(
        m_layer,
        [layer = m_layer] {
            auto* panel = dynamic_cast<QAbstractConfigurationPanel*>(layer->Control(QControlsGuiLayer::Slot::SourceBrowser));
            if (panel == nullptr)
                return;
            panel->ShowPanel();
            // The shown page's "..." button.
            for (QAbstractButton* button : panel->findChildren<QAbstractButton*>("btnChooseButton")) {
                if (button->isVisibleTo(panel)) {
                    button->click();
                    break;
                }
            }
        },
        Qt::AutoConnection);
}

QRectF ControlsLayerInterface::ExportDropArea()
{
    return m_layer ? m_layer->ExportDropArea() : QRectF();
}

void ControlsLayerInterface::ExportSourceDropped(int channel)
{
    ExportSourceSelected(channel);
}

void ControlsLayerInterface::SetEnabledState(const playback::EnabledGui& state)
{
    if (!m_layer)
        return;
    const EnabledGuiFlags flags = {state.playback,          state.configuration, state.exportCurrentTask,
                                   state.exportAllTasks,    state.capture,       state.exportVideo};
    // From another thread the layer is reached on its own.
    QMetaObject::invokeMethod(m_layer, [layer = m_layer, flags] { layer->ApplyEnabledState(flags); },
                              Qt::AutoConnection);
}

// ---- QControlsGuiLayer ----

QControlsGuiLayer::QControlsGuiLayer(std::shared_ptr<render::Renderer> renderer, ControlsFactory factory)
    : QGuiLayer(renderer.get()),
      m_renderer(std::move(renderer)),
      m_factory(std::move(factory)),
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
    m_dragImageFactory = [this](const QImage& image, int channel) -> QGraphicsItem* {
        return QImageItem::Create(image, channel, m_interface.get());
    };
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
    delete m_timeLineRow;
    m_timeLineRow = nullptr;
}

QWidget* QControlsGuiLayer::Control(Slot slot) const
{
    return m_controls[Index(slot)];
}

QWidget* QControlsGuiLayer::MakePanel(Slot slot)
{
    switch (slot) {
    case Slot::ExportPanel: return new QExportPanel;
    case Slot::TimeInput1: return new QTimeInputPanel(this, false);
    case Slot::TimeInput2: return new QTimeInputPanel(this, true);
    case Slot::ExportControlPanel: return new QExportControlPanel;
    case Slot::CameraSelector: return new QCameraSelectorPanel;
    case Slot::SelectedTimeLine:
    case Slot::UnitedTimeLine: {
        const bool selected = slot == Slot::SelectedTimeLine;
        TextStyleRecord style(selected ? "Selected" : "United");
        style.framed = selected;
        style.navigationButtons = selected;
        style.bandOffset = selected ? 0 : 2;
        style.textColour = selected ? QColor(0, 0, 0, 255) : QColor(255, 255, 255, 255);
        style.showDurations = !selected;
        style.tickFormat = TimeFormatWithFraction();
        style.edgeFormat = TimeFormatShort();
        return new QTimeLineControl(style);
    }
    case Slot::PlayControlPanel: return new QPlayControlPanel;
    case Slot::SettingsControlPanel: return new QSettingsControlPanel(QApplicationSettings::Instance());
    case Slot::TimeSelector: return new QTimeSelector(this, nullptr, QString());
    case Slot::SourceBrowser: {
        auto* panel = new QNavigationPanel;
        panel->Setup();
        return panel;
    }
    case Slot::SettingsPanel: {
        auto* panel = new QSettingsPanel(m_renderer.get());
        panel->Setup(this);
        return panel;
    }
    case Slot::ExportTaskSettings: {
        auto* panel = new QExportTaskSettingsPanel;
        panel->Setup(this);
        return panel;
    }
    }
    return nullptr;
}

QWidget* QControlsGuiLayer::Make(Slot slot)
{
    QWidget* widget = m_factory ? m_factory(slot, *this) : MakePanel(slot);
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
    if (IsConfigurationPanel(slot)) {
        // Sliding panels wait above the scene; others are hidden until asked.
        proxy->setZValue(2.0);
        if (dynamic_cast<QAbstractConfigurationPanel*>(widget) == nullptr)
            proxy->hide();
    }
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

    if (auto* navigation = dynamic_cast<QNavigationPanel*>(browser)) {
        navigation->SourcesApplied.connect(
            [interface = m_interface](ISourceConfiguration& configuration) { interface->SourcesChosen(configuration); });
    }
    if (auto* buttons = dynamic_cast<ISettingsPanel*>(Control(Slot::SettingsControlPanel))) {
        buttons->SourceBrowserClicked.connect([this] { ToggleConfigurationPanel(Slot::SourceBrowser); });
        buttons->SettingsClicked.connect([this] { ToggleConfigurationPanel(Slot::SettingsPanel); });
        buttons->PlayModeClicked.connect([this] { SwitchToPlayMode(); });
        buttons->ExportModeClicked.connect([this] { SwitchToExportMode(); });
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
    // The row floats over the United time line (a grid cell holds one item):
    // Resize places it there, centred and bottom-aligned.
    m_timeLineRow = row;

    QWidget* united = Make(Slot::UnitedTimeLine);
    united->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_mainGrid->addItem(AddControl(Slot::UnitedTimeLine, united), 3, 0, 1, 4);
}

void QControlsGuiLayer::ToggleConfigurationPanel(Slot slot)
{
    QWidget* panel = Control(slot);
    if (QMetaObject::invokeMethod(panel, "ToggleState", Qt::DirectConnection))
        return;
    // A panel that does not slide: shown over the video area, or hidden.
    QGraphicsProxyWidget* proxy = panel->graphicsProxyWidget();
    const bool show = !proxy->isVisible();
    proxy->setGeometry(QRectF(m_videoArea));
    proxy->setZValue(2.0);
    proxy->setVisible(show);
    panel->setVisible(show);
    if (show)
        onShowSettingsPanel();
    else
        onHideSettingsPanel();
}

QRectF QControlsGuiLayer::ExportDropArea() const
{
    const QWidget* panel = Control(Slot::ExportPanel);
    const QGraphicsProxyWidget* proxy = panel != nullptr ? panel->graphicsProxyWidget() : nullptr;
    return proxy != nullptr ? proxy->sceneBoundingRect() : QRectF();
}

void QControlsGuiLayer::Resize(const QSize& size)
{
    QGuiLayer::Resize(size);
    const int w = size.width();
    const int h = size.height();
    QWidget* exportControl = Control(Slot::ExportControlPanel);
    const int width = (w - 1) / 2 - Control(Slot::TimeInput2)->width() - Control(Slot::SettingsControlPanel)->width() + 2;
    exportControl->setFixedWidth(std::max(0, width));
    // The proxy takes the new width from a posted layout request: delivered
    // now, or the page lays the bar out at its old width and the bar runs
    // under the right-hand column.
    QCoreApplication::sendPostedEvents(exportControl, QEvent::LayoutRequest);
    m_pages.updateGeometry();
    m_mainGrid->invalidate();
    m_mainGrid->setGeometry(QRectF(0, 0, w, h));
    if (QWidget* united = Control(Slot::UnitedTimeLine); united && united->graphicsProxyWidget()) {
        const QRectF line = united->graphicsProxyWidget()->geometry();
        m_timeLineRow->invalidate();
        const QSizeF wanted = m_timeLineRow->effectiveSizeHint(Qt::PreferredSize);
        const double width = std::min(wanted.width(), line.width());
        m_timeLineRow->setGeometry(
            QRectF(line.center().x() - width / 2, line.bottom() - wanted.height(), width, wanted.height()));
    }
    m_videoArea = m_grid.geometry().toRect();
    // The sliding panels cover the video area exactly.
    for (Slot slot : {Slot::SourceBrowser, Slot::ExportTaskSettings, Slot::SettingsPanel}) {
        QWidget* panel = Control(slot);
        if (auto* sliding = dynamic_cast<QAbstractConfigurationPanel*>(panel))
            sliding->SetArea(m_videoArea.size());
        else
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
    if (auto* buttons = dynamic_cast<ISettingsPanel*>(Control(Slot::SettingsControlPanel)))
        buttons->UncheckButtons();
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

void QControlsGuiLayer::UnmarkTimeInput(int index)
{
    m_timeInputActive[index] = false;
    QWidget* widget = Control(index == 0 ? Slot::TimeInput1 : Slot::TimeInput2);
    if (auto* input = dynamic_cast<QTimeInputPanel*>(widget))
        input->Deactivate();
    else if (widget != nullptr)
        widget->update();
}

void QControlsGuiLayer::SwitchToPlayMode()
{
    m_pages.SwitchTo(0);
    m_grid.SetExportMode(false);
    m_interface->ExportModeChanged(false);
    for (int i = 0; i < 2; ++i)
        if (m_timeInputActive[i])
            UnmarkTimeInput(i);
    m_interface->ActiveTimeLineChanged(nullptr);
}

void QControlsGuiLayer::SwitchToExportMode()
{
    m_pages.SwitchTo(1);
    m_grid.SetExportMode(true);
    m_interface->ExportModeChanged(true);
    if (!m_timeInputActive[0]) {
        // The panel marks itself and reports it, which runs
        // SetActiveTimeInput(0).
        if (auto* input = dynamic_cast<playback::ITimeInputPanel*>(Control(Slot::TimeInput1)); input && !input->IsActive())
            input->Activate();
        else
            SetActiveTimeInput(0);
        RepaintControl(Slot::TimeInput1);
    }
}

void QControlsGuiLayer::SetActiveTimeInput(int index)
{
    for (int i = 0; i < 2; ++i)
        if (i != index && m_timeInputActive[i])
            UnmarkTimeInput(i);
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
                      Slot::ExportPanel})
        Control(slot)->setEnabled(e[0]);
    if (auto* play = dynamic_cast<QPlayControlPanel*>(Control(Slot::PlayControlPanel))) {
        play->BackwardButton().setEnabled(e[0]);
        play->PlayPauseButton().setEnabled(e[0]);
        play->ForwardButton().setEnabled(e[0]);
    } else {
        Control(Slot::PlayControlPanel)->setEnabled(e[0]);
    }
    Control(Slot::TimeInput1)->setEnabled(e[2]);
    Control(Slot::TimeInput2)->setEnabled(e[2]);
    m_shotButton->setEnabled(e[4]);
    m_printButton->setEnabled(e[4]);
    QWidget* exportControl = Control(Slot::ExportControlPanel);
    auto* allTasks = exportControl->findChild<QPushButton*>("AllTasks");
    auto* currentTask = exportControl->findChild<QPushButton*>("CurrentTask");
    if (allTasks != nullptr && currentTask != nullptr) {
        allTasks->setEnabled(e[3]);
        currentTask->setEnabled(e[2]);
    } else {
        exportControl->setEnabled(e[2] || e[3]);
    }
    QWidget* settingsControl = Control(Slot::SettingsControlPanel);
    if (auto* settingsPanel = dynamic_cast<QSettingsControlPanel*>(settingsControl))
        settingsPanel->SetEnabledState(e[0], e[1], e[5]);
    else
        settingsControl->setEnabled(e[1]);
}

void QControlsGuiLayer::PrepareCapture()
{
    if (auto* selector = dynamic_cast<QTimeSelector*>(Control(Slot::TimeSelector)))
        selector->setChecked(false);  // closes the calendar and its watch
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
