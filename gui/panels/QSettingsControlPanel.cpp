#include "gui/panels/QSettingsControlPanel.h"

#include <QGraphicsProxyWidget>

#include "config/QApplicationSettings.h"
#include "widgets/QCustomButton.h"

namespace {

QCustomButton* MakeButton(const QString& skin, QWidget* parent)
{
    auto* button = new QCustomButton(skin, parent);
    // Without a checked look of its own, a checked button shows its pressed look.
    button->setCheckable(true);
    return button;
}

}  // namespace

QSettingsControlPanel::QSettingsControlPanel(QApplicationSettings& settings)
    : settings(settings),
      sourceBrowserButton(MakeButton(QStringLiteral("Browser_btn"), this)),
      settingsButton(MakeButton(QStringLiteral("Setting_btn"), this)),
      playModeButton(MakeButton(QStringLiteral("Select_TimeLine"), this)),
      exportModeButton(MakeButton(QStringLiteral("Select_Export"), this))
{
    setMinimumWidth(80);
    setMaximumWidth(80);
    playModeButton->setChecked(true);
    connect(settingsButton, &QPushButton::clicked, this, &QSettingsControlPanel::onSettings);
    connect(sourceBrowserButton, &QPushButton::clicked, this, &QSettingsControlPanel::onSourceBrowser);
    connect(playModeButton, &QPushButton::clicked, this, &QSettingsControlPanel::onPlayMode);
    connect(exportModeButton, &QPushButton::clicked, this, &QSettingsControlPanel::onExportMode);
    modeGroup.setExclusive(true);
    modeGroup.addButton(playModeButton);
    modeGroup.addButton(exportModeButton);
}

QSettingsControlPanel::~QSettingsControlPanel()
{
    // The scene's proxy must not delete this panel a second time.
    if (QGraphicsProxyWidget* proxy = graphicsProxyWidget())
        proxy->setWidget(nullptr);
}

void QSettingsControlPanel::onSourceBrowser()
{
    SourceBrowserClicked();
}

void QSettingsControlPanel::onSettings()
{
    SettingsClicked();
}

void QSettingsControlPanel::onPlayMode()
{
    PlayModeClicked();
}

void QSettingsControlPanel::onExportMode()
{
    ExportModeClicked();
}

void QSettingsControlPanel::UncheckButtons()
{
    settingsButton->setChecked(false);
    sourceBrowserButton->setChecked(false);
}

void QSettingsControlPanel::SetEnabledState(bool playbackControls, bool settingsButtons, bool exportModeAllowed)
{
    playModeButton->setEnabled(playbackControls);
    exportModeButton->setEnabled(playbackControls && exportModeAllowed && settings.Live.ExportVideo);
    settingsButton->setEnabled(settingsButtons);
    sourceBrowserButton->setEnabled(settingsButtons);
    sourceBrowserButton->setVisible(settings.ShowSourceBrowserButton);
}

void QSettingsControlPanel::resizeEvent(QResizeEvent* event)
{
    QBasePanel::resizeEvent(event);
    const int w = width();
    const int h = height();
    const double iw = w - 20;
    const double ih = h - 16;
    const int x = static_cast<int>((iw / 2 - sourceBrowserButton->width()) / 2 + 10);
    sourceBrowserButton->move(x, static_cast<int>((ih / 2 - sourceBrowserButton->height()) / 2 + 8));
    settingsButton->move(x, static_cast<int>(ih * 3 / 4 - settingsButton->height() / 2 + 8));
    const int d = (h - playModeButton->height() - exportModeButton->height()) / 2;
    playModeButton->move(w - playModeButton->width(), d);
    exportModeButton->move(w - exportModeButton->width(), h - exportModeButton->height() - d);
}
