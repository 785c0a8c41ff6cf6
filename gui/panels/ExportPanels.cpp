#include "gui/panels/ExportPanels.h"

#include <algorithm>

#include <QGridLayout>
#include <QMetaObject>
#include <QSpacerItem>

#include "config/QApplicationSettings.h"
#include "config/ResourcePaths.h"
#include "widgets/SkinResources.h"

Storage::ExportTask TaskFromVariant(const QVariant& value)
{
    if (value.userType() == qMetaTypeId<Storage::ExportTask>())
        return value.value<Storage::ExportTask>();
    return Storage::ExportTask();
}

QExportPanel::QExportPanel() : rollBox(new QRollBox(std::make_shared<ExtendedRollBoxList>()))
{
    rollBox->setParent(this);
    rollBox->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    rollBox->CurrentChanged.connect([this](int) { CurrentTaskChanged(); });
    rollBox->SettingsClicked.connect([this](int index) { TaskSelected(index); });
}

void QExportPanel::AddChannel(const std::wstring& id, const std::wstring& name)
{
    const int index = rollBox->CurrentIndex();
    if (index == -1)
        return;
    const std::shared_ptr<IRollBoxList>& list = rollBox->GetList();
    RollBoxItem item;
    item.AddEntry(QString::fromStdWString(name), QString::fromStdWString(id));
    item.data = list->Item(index).data;
    list->SetItem(index, item);
}

void QExportPanel::SetTaskInterval(const boost::posix_time::ptime& from, const boost::posix_time::ptime& to)
{
    const int index = rollBox->CurrentIndex();
    if (index == -1)
        return;
    const std::shared_ptr<IRollBoxList>& list = rollBox->GetList();
    Storage::ExportTask task = TaskFromVariant(list->Item(index).data);
    task.row = index;
    task.FromTime = from;
    task.ToTime = to;
    list->SetItemData(index, QVariant::fromValue(task));
}

void QExportPanel::SetCurrentTask(const Storage::ExportTask& task)
{
    const int index = rollBox->CurrentIndex();
    if (index == -1)
        return;
    rollBox->GetList()->SetItemData(index, QVariant::fromValue(task));
}

void QExportPanel::GetTask(int row, Storage::ExportTask& task)
{
    const std::shared_ptr<IRollBoxList>& list = rollBox->GetList();
    if (row < 0 || row >= list->Count())
        return;
    const RollBoxItem& item = list->Item(row);
    if (item.entries.empty())
        return;
    task = TaskFromVariant(item.data);
    // The row the task is in now: rows move when tasks above are deleted,
    // and progress is reported to this row.
    task.row = row;
    for (const RollBoxEntry& entry : item.entries) {
        const std::string id = entry.value.toString().toStdString();
        if (std::find(task.ChannelIds.begin(), task.ChannelIds.end(), id) == task.ChannelIds.end())
            task.ChannelIds.push_back(id);
    }
}

int QExportPanel::CountTasks()
{
    int count = 0;
    for (int row = 0; row < ItemCount(); ++row) {
        Storage::ExportTask task;
        GetTask(row, task);
        count += task.ChannelIds.empty() ? 0 : 1;
    }
    return count;
}

void QExportPanel::ResetTasks()
{
    const std::shared_ptr<IRollBoxList>& list = rollBox->GetList();
    rollBox->DisconnectList();
    list->Clear();
    rollBox->SelectItem(0, false);
    // Media exports have per-task settings; native copies do not.
    rollBox->editable = !QApplicationSettings::Instance().Live.SourceNativeVideo;
    rollBox->ConnectList();
    list->ItemsChanged();
    list->ListChanged();
}

void QExportPanel::PostProgressItem(int row, int percent)
{
    QMetaObject::invokeMethod(this, "SetProgressItem", Qt::AutoConnection, Q_ARG(int, row), Q_ARG(int, percent));
}

void QExportPanel::PostSelectTask(int row)
{
    QMetaObject::invokeMethod(this, "SelectTask", Qt::AutoConnection, Q_ARG(int, row));
}

void QExportPanel::SelectTask(int index)
{
    rollBox->SelectItem(index, true);
}

void QExportPanel::SetProgressItem(int index, int percent)
{
    const std::shared_ptr<IRollBoxList>& list = rollBox->GetList();
    // The list may have changed since the report was queued.
    if (index < 0 || index >= list->Count())
        return;
    list->SetItemProgress(index, percent);
    list->SetItemDone(index, percent == 100 ? 1 : 0);
}

void QExportPanel::resizeEvent(QResizeEvent*)
{
    const QRect area = rect().adjusted(5, 5, -5, -5);
    const int h = rollBox->height();
    rollBox->setGeometry(area.left(), area.top() + (area.height() - h) / 2, area.width(), h);
}

QExportControlPanel::QExportControlPanel()
    : header(new QLabel(tr("Export"), this)),
      allTasks(new QPushButton(tr("All tasks"), this)),
      currentTask(new QPushButton(tr("Current task"), this)),
      progress(new QCustomProgressBar()),
      cancel(new QPushButton(this)),
      message(new QLabel(this))
{
    setObjectName("ExportControlPanel");
    header->setObjectName("Header");
    allTasks->setObjectName("AllTasks");
    currentTask->setObjectName("CurrentTask");
    progress->setParent(this);
    progress->setObjectName("ExportProgress");
    cancel->setObjectName("Cancel");
    // A cross reads as "stop" at the button's small size.
    cancel->setText(QStringLiteral("\u2715"));
    cancel->setToolTip(tr("Cancel the export"));
    message->setObjectName("lblMessage");

    auto* grid = new QGridLayout(this);
    grid->setMargin(0);
    grid->setContentsMargins(0, 5, 0, 5);
    grid->addWidget(header, 0, 0, 1, 4, Qt::AlignHCenter | Qt::AlignVCenter);
    grid->addItem(new QSpacerItem(30, 0, QSizePolicy::Fixed, QSizePolicy::Maximum), 1, 0);
    grid->addWidget(allTasks, 1, 1);
    grid->addWidget(currentTask, 1, 2);
    grid->addItem(new QSpacerItem(30, 0, QSizePolicy::Fixed, QSizePolicy::Maximum), 1, 3);
    progress->setMaximumHeight(5);
    progress->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    grid->addWidget(progress, 2, 1, 1, 2);
    grid->addWidget(cancel, 2, 3);
    grid->addWidget(message, 3, 0, 1, 4);

    connect(this, &QExportControlPanel::OnProcessed, progress, &QCustomProgressBar::setValue);
    connect(this, &QExportControlPanel::OnComplete, this, &QExportControlPanel::onComplete);
    message->hide();
    cancel->setEnabled(false);
    ApplyStyleSheet(ApplicationDirectory(), this, "ExportControlPanel.css");
    QMetaObject::connectSlotsByName(this);
}

void QExportControlPanel::PostMessage(const std::string& text)
{
    InvokeSetMessage(this, text);
}

void QExportControlPanel::StartRun()
{
    cancel->setEnabled(true);
    message->hide();
    progress->show();
    cancel->show();
}

void QExportControlPanel::on_AllTasks_clicked()
{
    StartRun();
    ExportAllTasksClicked();
}

void QExportControlPanel::on_CurrentTask_clicked()
{
    StartRun();
    ExportCurrentTaskClicked();
}

void QExportControlPanel::on_Cancel_clicked()
{
    cancel->setEnabled(false);
    CancelExportClicked();
}

void QExportControlPanel::onComplete()
{
    cancel->setEnabled(false);
}

void QExportControlPanel::setMessage(const QString& text)
{
    message->setVisible(!text.isEmpty());
    progress->setVisible(text.isEmpty());
    cancel->setVisible(text.isEmpty());
    message->setText(text);
}

void InvokeSetMessage(QObject* panel, const std::string& text)
{
    QMetaObject::invokeMethod(panel, "setMessage", Qt::AutoConnection,
                              Q_ARG(QString, QString::fromLocal8Bit(text.c_str())));
}
