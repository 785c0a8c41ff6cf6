#pragma once
// The export mode's panels: the task list (one roll-box item per task, its
// entries the task's channels, its data the task record) and the bar that
// starts, follows and cancels a run. They hold no export logic: the players
// controller connects their signals and reports back through them.

#include <string>

#include <QLabel>
#include <QPushButton>

#include "config/ExportTask.h"
#include "widgets/QBasePanel.h"
#include "widgets/QCustomProgressBar.h"
#include "widgets/QRollBox.h"
#include "playback/PlaybackGui.h"

// The task record an item's data holds; a default task for anything else.
Storage::ExportTask TaskFromVariant(const QVariant& value);

class QExportPanel : public QBasePanel, public playback::IExportPanel {
    Q_OBJECT

public:
    QExportPanel();

    // Each operation on the current task does nothing without a row.
    void AddChannel(const std::wstring& id, const std::wstring& name) override;
    void SetTaskInterval(const boost::posix_time::ptime& from, const boost::posix_time::ptime& to) override;
    // Entries, done flag and progress stay.
    void SetCurrentTask(const Storage::ExportTask& task) override;
    // The record of the row with the row's channels and its row number.
    void GetTask(int row, Storage::ExportTask& task) override;
    int CountTasks() override;
    void ResetTasks() override;

    int CurrentIndex() override { return rollBox->CurrentIndex(); }
    int ItemCount() override { return rollBox->GetList()->Count(); }
    void SelectItem(int row, bool animate) override { rollBox->SelectItem(row, animate); }

    void PostProgressItem(int row, int percent) override;
    void PostSelectTask(int row) override;

    QRollBox& RollBox() { return *rollBox; }

public slots:
    void SelectTask(int index);
    // 100 also marks the task done. A row that is not there is ignored.
    void SetProgressItem(int index, int percent);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QRollBox* rollBox;
};

class QExportControlPanel : public QBasePanel, public playback::IExportControlPanel {
    Q_OBJECT

public:
    QExportControlPanel();

    // From any thread: the Qt signals and the message reach the GUI thread
    // queued.
    void PostProcessed(int percent) override { emit OnProcessed(percent); }
    void PostComplete() override { emit OnComplete(); }
    void PostMessage(const std::string& text) override;

    QCustomProgressBar& Progress() { return *progress; }
    QLabel& Message() { return *message; }
    QPushButton& Cancel() { return *cancel; }

signals:
    void OnProcessed(int percent);
    void OnComplete();

public slots:
    void onComplete();
    // A text replaces the progress bar and Cancel; an empty one brings them
    // back.
    void setMessage(const QString& text);

private slots:
    void on_AllTasks_clicked();
    void on_CurrentTask_clicked();
    void on_Cancel_clicked();

private:
    void StartRun();

    QLabel* header;
    QPushButton* allTasks;
    QPushButton* currentTask;
    QCustomProgressBar* progress;
    QPushButton* cancel;
    QLabel* message;
};

// Calls "setMessage" on the object by name with the local 8-bit text;
// queued when called from another thread.
void InvokeSetMessage(QObject* panel, const std::string& text);
