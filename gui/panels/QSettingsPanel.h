#pragma once
// The settings panel: the application's boolean settings, the export
// folder, the frame buffer for decoding, and the lens, position and display
// of each channel's camera with the switches of its recorded titles.
//
// Each show reloads everything from the settings and the renderer's pins;
// the camera settings are edited in working copies that only Apply stores.
// A title's "Show title" switch acts at once on the live title.

#include <array>
#include <functional>
#include <vector>

#include <QCheckBox>
#include <QLineEdit>
#include <boost/shared_ptr.hpp>

#include "config/QApplicationSettings.h"
#include "gui/panels/QAbstractConfigurationPanel.h"

class QCustomComboBox;
class QGridLayout;

namespace render {
class BasicRenderer;
class Title;
class Titles;
}  // namespace render

class QSettingsPanel : public QAbstractConfigurationPanel {
    Q_OBJECT

public:
    // Indices of the combo boxes and the title box.
    enum Box { CameraBox, TitleBox, LensBox, PositionBox, DisplayBox, FrameBufferBox, ShowTitleBox, BoxCount };
    static constexpr int OptionCount = 10;

    // The renderer gives the channels and their title sets; it must outlive
    // the panel.
    explicit QSettingsPanel(render::BasicRenderer* renderer,
                            QApplicationSettings& settings = QApplicationSettings::Instance());
    ~QSettingsPanel() override;

    // The folder chooser of the "..." button (title, initial folder); an
    // empty result means cancelled.
    std::function<QString(const QString&, const QString&)> chooseFolder;

    QCheckBox& Option(int index) { return options[static_cast<std::size_t>(index)]; }
    QLineEdit& ExportFolderEdit() { return exportFolder; }
    QCustomComboBox* Combo(Box box) const;
    QCheckBox* ShowTitleCheck() const;
    const std::vector<CameraSettings>& WorkingCameraSettings() const { return cameraSettings; }

protected:
    void BuildContent(QControlsGuiLayer* layer) override;
    void LoadData() override;
    void SaveData() override;

private slots:
    void onSettingChanged();
    void onChooseExportDir();
    void currentCameraChanged(int camera);
    void currentTitleChanged(int index);
    void currentLensChanged(int value);
    void currentPosChanged(int value);
    void currentDisplayChanged(int value);
    void showTitleChanged(int state);

private:
    QLayout* BuildCameraGrid();
    QCustomComboBox* AddComboRow(QGridLayout* grid, const QString& label, int row, int column);
    // Recorded title i of channel c (title i + 3 of its set); null when c is
    // no channel or the set has no such title. Never creates titles.
    boost::shared_ptr<render::Title> TitleAt(int c, int i) const;
    // The title listed at item t of the title box.
    boost::shared_ptr<render::Title> ListedTitle(int t) const;
    // The settings each option box edits, in box order.
    std::array<SettingValue<bool>*, OptionCount> OptionSettings();

    std::array<QCheckBox, OptionCount> options;
    QLineEdit exportFolder;
    render::BasicRenderer* renderer;
    QApplicationSettings& settings;
    std::array<QWidget*, BoxCount> boxes{};
    std::vector<boost::shared_ptr<render::Titles>> titleSets;
    std::vector<CameraSettings> cameraSettings;
    // For each title box item, the recorded title index it stands for
    // (titles never announced are not listed).
    std::vector<int> listedTitles;
};
