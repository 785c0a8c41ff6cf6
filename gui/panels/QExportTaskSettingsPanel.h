#pragma once
// The sliding panel that edits one export task's file-name prefix and
// output container. The players controller writes the task before the
// panel shows; Apply hands the edited task back through TaskEdited.

#include "config/ExportTask.h"
#include "gui/panels/QAbstractConfigurationPanel.h"
#include "playback/PlaybackGui.h"

class QCustomComboBox;
class QCustomLineEdit;

class QExportTaskSettingsPanel : public QAbstractConfigurationPanel, public playback::IExportTaskSettingsPanel {
    Q_OBJECT

public:
    QExportTaskSettingsPanel();

    void SetTask(const Storage::ExportTask& edited) override { task = edited; }
    void ToggleSlide() override { ToggleState(); }

    QCustomComboBox& Container() { return *containerBox; }
    QCustomLineEdit& Prefix() { return *prefixEdit; }

    // The task being edited.
    Storage::ExportTask task;

protected:
    void BuildContent(QControlsGuiLayer* layer) override;
    // Shows the task; a task without a prefix gets "Exported <channels>".
    void LoadData() override;
    void SaveData() override;

private slots:
    // Apply only with a prefix.
    void onSettingChanged();

private:
    QCustomComboBox* containerBox;
    QCustomLineEdit* prefixEdit;
};
