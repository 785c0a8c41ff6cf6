#pragma once
// The camera selector: a fixed-width panel at the left of the play page
// with one combo box listing the cameras of the current source. The
// controller fills and selects it; the user's choice goes out through
// CameraChanged.

#include "widgets/QBasePanel.h"
#include "playback/PlaybackGui.h"

class QCustomComboBox;

class QCameraSelectorPanel : public QBasePanel, public playback::ICameraSelector {
    Q_OBJECT

public:
    QCameraSelectorPanel();
    ~QCameraSelectorPanel() override;

    void SetCameras(const std::vector<std::wstring>& names) override;
    // Exact, case-sensitive match; the first of equal names. An unknown
    // name changes nothing.
    void SelectCamera(const std::wstring& name) override;

    QCustomComboBox* ComboBox() const { return comboBox; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void currentIndexChanged(const QString& text);

private:
    QCustomComboBox* comboBox;
};
