#pragma once
// The narrow column at the right of the panel row: the source browser and
// settings buttons, which toggle their sliding panels, and the exclusive
// pair of play mode and export mode buttons.

#include <QButtonGroup>
#include <boost/signals2/signal.hpp>

#include "widgets/QBasePanel.h"

class QApplicationSettings;
class QCustomButton;

class ISettingsPanel {
public:
    virtual ~ISettingsPanel() = default;

    boost::signals2::signal<void()> SourceBrowserClicked;
    boost::signals2::signal<void()> SettingsClicked;
    boost::signals2::signal<void()> PlayModeClicked;
    boost::signals2::signal<void()> ExportModeClicked;

    // Unchecks the settings and source browser buttons (a sliding panel
    // started to hide).
    virtual void UncheckButtons() = 0;
};

class QSettingsControlPanel : public QBasePanel, public ISettingsPanel {
    Q_OBJECT

public:
    explicit QSettingsControlPanel(QApplicationSettings& settings);
    ~QSettingsControlPanel() override;

    void UncheckButtons() override;
    // From the controller's enabled state: playback controls, the settings
    // and source browser buttons, and whether export mode is allowed. The
    // export mode button also needs the live export video setting.
    void SetEnabledState(bool playbackControls, bool settingsButtons, bool exportModeAllowed);

    QCustomButton* SourceBrowserButton() const { return sourceBrowserButton; }
    QCustomButton* SettingsButton() const { return settingsButton; }
    QCustomButton* PlayModeButton() const { return playModeButton; }
    QCustomButton* ExportModeButton() const { return exportModeButton; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void onSettings();
    void onSourceBrowser();
    void onPlayMode();
    void onExportMode();

private:
    QApplicationSettings& settings;
    QCustomButton* sourceBrowserButton;
    QCustomButton* settingsButton;
    QCustomButton* playModeButton;
    QCustomButton* exportModeButton;
    QButtonGroup modeGroup;
};
