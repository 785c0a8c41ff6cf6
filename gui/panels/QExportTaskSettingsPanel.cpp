#include "gui/panels/QExportTaskSettingsPanel.h"

#include <QGridLayout>
#include <QLabel>
#include <QSpacerItem>
#include <QVBoxLayout>

#include "widgets/QCustomComboBox.h"
#include "widgets/QCustomInputs.h"

QExportTaskSettingsPanel::QExportTaskSettingsPanel()
    : QAbstractConfigurationPanel("ExportTaskSettingsPanel"),
      containerBox(new QCustomComboBox(nullptr, false, true)),
      prefixEdit(new QCustomLineEdit)
{
    containerBox->addItems({"avi", "mkv"});
    prefixEdit->setObjectName("exportPrefixFileName");
}

void QExportTaskSettingsPanel::BuildContent(QControlsGuiLayer*)
{
    auto* column = new QVBoxLayout;
    column->setContentsMargins(5, 5, 5, 5);
    column->setSpacing(5);
    auto* grid = new QGridLayout;
    auto* prefixLabel = new QLabel(tr("Name prefix of the exported file:"));
    prefixLabel->setObjectName("lblChooseDescribe");
    grid->addWidget(prefixLabel, 0, 0);
    prefixEdit->setFixedWidth(190);
    prefixEdit->setFixedHeight(20);
    prefixEdit->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    prefixEdit->setFocusPolicy(Qt::StrongFocus);
    grid->addWidget(prefixEdit, 1, 0, Qt::AlignLeft);
    auto* containerLabel = new QLabel(tr("Container type:"));
    containerLabel->setObjectName("lblChooseDescribe");
    grid->addWidget(containerLabel, 2, 0);
    grid->addWidget(containerBox, 3, 0, Qt::AlignLeft);
    grid->setColumnMinimumWidth(0, containerBox->width());
    column->addLayout(grid);
    column->addItem(new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Expanding));
    contentLayout->addLayout(column);
    connect(containerBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &QExportTaskSettingsPanel::onSettingChanged);
    connect(prefixEdit, &QLineEdit::textChanged, this, &QExportTaskSettingsPanel::onSettingChanged);
}

void QExportTaskSettingsPanel::onSettingChanged()
{
    SetDataChanged(!prefixEdit->text().isEmpty());
}

void QExportTaskSettingsPanel::LoadData()
{
    // Neither "avi" nor "mkv" leaves the selection as it was.
    containerBox->setCurrentText(QString::fromStdString(task.OutputContainer));
    if (task.PrefixFileName.empty())
        task.PrefixFileName = "Exported " + std::to_string(task.ChannelIds.size());
    prefixEdit->setText(QString::fromStdString(task.PrefixFileName));
}

void QExportTaskSettingsPanel::SaveData()
{
    task.OutputContainer = containerBox->currentText().toStdString();
    task.PrefixFileName = prefixEdit->text().toStdString();
    TaskEdited(task);
}
