#include "gui/sources/QNavigationPanel.h"

#include <QDebug>
#include <QGraphicsProxyWidget>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMetaType>
#include <QPushButton>
#include <QRadioButton>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <boost/signals2/shared_connection_block.hpp>

#include "FSImplementation/FSInfo.h"
#include "FSImplementation/VindaraFileSystemFactory.h"
#include "config/QApplicationSettings.h"
#include "config/QOemSettings.h"
#include "config/ResourcePaths.h"
#include "widgets/QCustomInputs.h"
#include "widgets/QCustomProgressBar.h"
#include "widgets/QRollBox.h"
#include "widgets/RollBoxList.h"
#include "widgets/SkinResources.h"
#include "gui/sources/SourceModels.h"
#include "gui/sources/SourceTargetWidgets.h"
#include "gui/sources/VideoSequenceItemInfo.h"
#include "media/Decoder.h"
#include "media/VideoSourceInterfaces.h"
#include "playback/QtMediaSample.h"

Q_DECLARE_METATYPE(boost::shared_ptr<filters::IVideoSource>)

namespace {

constexpr QSize kThumbnailSize(150, 116);

// The first frame of a source, decoded, composed with the channel's rotation
// and scaled for the list; null when there is no frame or it does not decode.
QImage MakeThumbnail(filters::IVideoSource& source, bool deinterlace)
{
    source.Seek(0);
    VideoFrame* frame = source.GetCurrentFrame();
    if (!frame)
        return QImage();
    filters::Decoder decoder;
    playback::QtMediaSample sample;
    decoder.Decode(frame, &sample, deinterlace, filters::TargetSize{});
    const QImage composed = sample.ComposeImage(source.GetCameraSettings().rotation);
    if (composed.isNull())
        return QImage();
    return composed.scaled(kThumbnailSize, Qt::KeepAspectRatio, Qt::FastTransformation);
}

}  // namespace

QNavigationPanel::QNavigationPanel(QWidget* parent, std::function<std::vector<std::string>()> drives)
    : QAbstractConfigurationPanel(QStringLiteral("navigationPanel")), m_driveLister(std::move(drives))
{
    if (parent)
        setParent(parent);
}

QNavigationPanel::~QNavigationPanel()
{
    // The scene's proxy must not reach the panel while it goes.
    if (QGraphicsProxyWidget* proxy = graphicsProxyWidget())
        proxy->setWidget(nullptr);
    // No report of an archive still opening may reach a half-destroyed panel.
    m_fileSystemConnections.clear();
    m_modelConnections.clear();
    m_modeConnection.disconnect();
}

void QNavigationPanel::BuildContent(QControlsGuiLayer*)
{
    QVBoxLayout* content = contentLayout;
    BuildTopPanel(content);
    BuildOptionPanel(content);

    m_videoList = new QCustomListWidget(this);
    m_videoList->setObjectName("lvVideoSequenceItem");
    m_videoList->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_videoList->setResizeMode(QListView::Adjust);
    m_videoList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    content->addWidget(m_videoList);

    connect(this, &QNavigationPanel::OnCompleteProcess, this, &QNavigationPanel::OnCompleteChannel,
            Qt::AutoConnection);
    on_lvVideoSequenceItem_itemSelectionChanged();
    if (!m_models.empty())
        ConnectModels(m_models.begin());
}

void QNavigationPanel::BuildTopPanel(QBoxLayout* content)
{
    auto* top = new QWidget(this);
    top->setObjectName("navigationTopPanel");
    top->setContentsMargins(0, 0, 0, 0);
    top->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    m_topLayout = new QHBoxLayout(top);
    m_topLayout->setContentsMargins(5, 5, 5, 5);

    auto modes = std::make_shared<SimpleRollBoxList>();
    if (QOemSettings::Instance().ShowAllVideoSource) {
        modes->AddItem(tr("Disk"), static_cast<int>(DRIVES));
        modes->AddItem(tr("Folder"), static_cast<int>(FOLDER));
    }
    modes->AddItem(tr("File"), static_cast<int>(SINGLE_FILE));
    modes->AddItem(tr("Video files"), static_cast<int>(AVI_FILES));
    m_modeBox = new QRollBox(modes);
    m_modeBox->setParent(top);
    m_modeBox->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    m_modeConnection = m_modeBox->CurrentChanged.connect([this](int index) { OnModeChanged(index); });
    m_topLayout->addWidget(m_modeBox);

    auto* pages = new QVBoxLayout;
    pages->setContentsMargins(0, 0, 0, 0);
    m_drivesView = new QListView(top);
    m_drivesView->setObjectName("lvSourceItem");
    m_drivesView->setViewMode(QListView::IconMode);
    m_drivesView->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto drives = std::make_shared<model::QDriverModel>(m_driveLister);
    m_noDrivesLabel = new QLabel(tr("No archive volume was found. A mounted volume that holds a VIDEO folder is "
                                    "listed here; open an archive folder from the Folder page."),
                                 top);
    m_noDrivesLabel->setObjectName("lblNoDrives");
    m_noDrivesLabel->setWordWrap(true);
    m_noDrivesLabel->setAlignment(Qt::AlignCenter);
    m_noDrivesLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    // The page shows the list, or the note while the list is empty.
    auto pageShown = std::make_shared<bool>(false);
    const auto showPage = [view = m_drivesView, label = m_noDrivesLabel, model = drives.get(), pageShown] {
        const bool any = model->rowCount() > 0;
        view->setVisible(*pageShown && any);
        label->setVisible(*pageShown && !any);
    };
    m_modelConnections.emplace_back(drives->PageShown.connect([pageShown, showPage] {
        *pageShown = true;
        showPage();
    }));
    m_modelConnections.emplace_back(drives->PageHidden.connect([pageShown, showPage] {
        *pageShown = false;
        showPage();
    }));
    connect(drives.get(), &QAbstractItemModel::modelReset, m_drivesView, showPage);
    connect(drives.get(), &QAbstractItemModel::rowsInserted, m_drivesView, showPage);
    m_models[DRIVES] = drives;
    m_drivesView->setModel(drives.get());
    pages->addWidget(m_drivesView);
    pages->addWidget(m_noDrivesLabel);
    m_drivesView->hide();
    m_noDrivesLabel->hide();
    AddSourceTargetPage(pages, new QFolderSourceTargetWidget(top), tr("Folder with video:"), FOLDER);
    AddSourceTargetPage(pages, new QFileSourceTargetWidget(top), tr("File with video:"), SINGLE_FILE);
    AddSourceTargetPage(pages, new QFolderSourceTargetWidget(top), tr("Video files:"), AVI_FILES);
    m_topLayout->addLayout(pages);

    auto* buttons = new QVBoxLayout;
    m_refreshButton = new QPushButton(tr("Refresh"), top);
    m_refreshButton->setObjectName("refreshButton");
    m_refreshButton->setFlat(true);
    buttons->addWidget(m_refreshButton);
    m_topLayout->addLayout(buttons);

    for (const auto& [mode, sourceModel] : m_models)
        m_modelConnections.emplace_back(
            sourceModel->ReadyChanged.connect([button = m_refreshButton](bool ready) { button->setEnabled(ready); }));
    content->addWidget(top);
}

void QNavigationPanel::BuildOptionPanel(QBoxLayout* content)
{
    auto* options = new QWidget(this);
    options->setObjectName("navigationOptionPanel");
    auto* layout = new QHBoxLayout(options);
    layout->setContentsMargins(8, 0, 8, 0);
    BuildViewModeButtons(layout);
    layout->addItem(new QSpacerItem(16, 0, QSizePolicy::Fixed, QSizePolicy::Minimum));

    m_searchEdit = new QCustomLineEdit(options);
    m_searchEdit->setObjectName("searchEdit");
    m_searchEdit->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_searchEdit->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(m_searchEdit);

    m_progressBar = new QCustomProgressBar;
    m_progressBar->setParent(options);
    m_progressBar->setObjectName("settingProgress");
    m_progressBar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_progressBar->setMaximumHeight(10);
    m_progressBar->resize(10, 10);
    connect(this, &QNavigationPanel::OnProcessed, m_progressBar, &QCustomProgressBar::setValue);
    layout->addWidget(m_progressBar);
    content->addWidget(options);
}

void QNavigationPanel::BuildViewModeButtons(QHBoxLayout* options)
{
    auto* group = new QGroupBox(this);
    group->setObjectName("gbVideoSequenceMode");
    group->setAttribute(Qt::WA_OpaquePaintEvent);
    group->setContentsMargins(0, 0, 0, 0);
    auto* layout = new QHBoxLayout(group);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    m_listButton = new QRadioButton(group);
    m_listButton->setObjectName("listButton");
    m_detailButton = new QRadioButton(group);
    m_detailButton->setObjectName("detailButton");
    for (QRadioButton* button : {m_listButton, m_detailButton}) {
        button->setMinimumSize(25, 22);
        button->setMaximumSize(25, 22);
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        layout->addWidget(button);
    }
    connect(m_listButton, &QRadioButton::toggled, this, &QNavigationPanel::OnListButtonToggled);
    options->addWidget(group);
}

void QNavigationPanel::AddSourceTargetPage(QBoxLayout* layout, QSingleSourceTargetWidget* widget, const QString& text,
                                           int mode)
{
    widget->DescriptionLabel()->setText(text);
    auto sourceModel = std::make_shared<model::SingleSourceTargetModel>(mode);
    m_models[mode] = sourceModel;
    m_targetWidgets[mode] = widget;
    widget->SetModel(sourceModel);
    widget->hide();
    layout->addWidget(widget);
    m_modelConnections.emplace_back(widget->Accepted.connect([this] { ClickDefaultButton(); }));
}

void QNavigationPanel::ConnectModels(ModelMap::const_iterator entry)
{
    for (; entry != m_models.end(); ++entry)
        for (const auto& [mode, other] : m_models)
            if (mode != entry->first)
                m_modelConnections.emplace_back(
                    entry->second->PageShown.connect([target = other.get()] { target->Deactivate(); }));
}

void QNavigationPanel::LoadData()
{
    QApplicationSettings& settings = QApplicationSettings::Instance();
    SelectSourceMode(settings.Live.SourceMode.load());
    OnListButtonToggled(settings.VideoSequenceItemViewMode.load() != 0);
}

void QNavigationPanel::SaveData()
{
    if (m_currentModel)
        m_currentModel->SaveToSettings();
    SourcesApplied(*this);
}

void QNavigationPanel::SetDataChanged(bool changed)
{
    m_dataChanged = changed;
    QAbstractConfigurationPanel::SetDataChanged(changed);
}

void QNavigationPanel::SetRefreshEnabled(bool enabled)
{
    if (m_refreshButton)
        m_refreshButton->setEnabled(enabled);
}

boost::shared_ptr<Storage::IVindaraFileSystem> QNavigationPanel::GetFileSystem()
{
    return m_configuration ? m_configuration->GetFileSystem() : boost::shared_ptr<Storage::IVindaraFileSystem>();
}

std::vector<boost::shared_ptr<filters::IVideoSource>> QNavigationPanel::GetVideoSources()
{
    std::vector<boost::shared_ptr<filters::IVideoSource>> sources;
    if (!m_videoList)
        return sources;
    for (QListWidgetItem* item : m_videoList->selectedItems())
        sources.push_back(item->data(SourceRole).value<boost::shared_ptr<filters::IVideoSource>>());
    return sources;
}

ISourceConfiguration::ESourceMode QNavigationPanel::GetSourceMode()
{
    return static_cast<ESourceMode>(m_currentModel ? m_currentModel->GetSourceMode() : DRIVES);
}

void QNavigationPanel::SelectSourceMode(int mode)
{
    if (!m_modeBox)
        return;
    const int index = m_modeBox->GetList()->IndexOf(mode);
    if (index < 0)
        return;
    {
        // The page is shown once, below, not again by the roll box's report.
        const boost::signals2::shared_connection_block quiet(m_modeConnection);
        m_modeBox->SelectItem(index, false);
    }
    OnModeChanged(index);
}

void QNavigationPanel::OnModeChanged(int index)
{
    if (!m_modeBox)
        return;
    const std::shared_ptr<IRollBoxList>& modes = m_modeBox->GetList();
    if (index < 0 || index >= modes->Count())
        return;
    const QVariant data = modes->Item(index).data;
    if (!data.isValid())
        return;
    const auto found = m_models.find(data.toInt());
    if (found == m_models.end())
        return;
    ClearVideoList();
    m_currentModel = found->second;
    m_currentModel->LoadFromSettings();
    m_currentModel->UpdateState();
    m_progressBar->reset();
}

void QNavigationPanel::ClearVideoList()
{
    m_channels.clear();
    if (m_videoList)
        m_videoList->clear();
}

QString QNavigationPanel::GetSearchText() const
{
    return m_searchEdit ? m_searchEdit->text() : QString();
}

void QNavigationPanel::ClickDefaultButton()
{
    if (m_refreshButton)
        m_refreshButton->click();
}

std::shared_ptr<model::IBaseSourceModel> QNavigationPanel::Model(int mode) const
{
    const auto found = m_models.find(mode);
    return found == m_models.end() ? nullptr : found->second;
}

QSingleSourceTargetWidget* QNavigationPanel::TargetWidget(int mode) const
{
    const auto found = m_targetWidgets.find(mode);
    return found == m_targetWidgets.end() ? nullptr : found->second;
}

void QNavigationPanel::on_refreshButton_clicked()
{
    SetRefreshEnabled(false);
    try {
        // The channels of the previous source go first: Apply must never pair
        // them with the file system opened now.
        ClearVideoList();
        on_lvVideoSequenceItem_itemSelectionChanged();
        m_fileSystemConnections.clear();
        std::vector<std::string> paths;
        bool anyPath = false;
        if (m_currentModel)
            for (const std::wstring& path : m_currentModel->GetPaths()) {
                paths.push_back(QString::fromStdWString(path).toStdString());
                anyPath = anyPath || !path.empty();
            }
        boost::shared_ptr<Storage::IVindaraFileSystem> fileSystem;
        if (anyPath) {
            m_configuration = std::make_unique<SourceConfiguration>();
            m_configuration->SetupWithDefaults(Storage::FSInfo::joinPaths(paths), GetSourceMode());
            on_lvVideoSequenceItem_itemSelectionChanged();
            fileSystem = m_configuration->GetFileSystem();
            SettingsProfile& live = QApplicationSettings::Instance().Live;
            live.SourceNativeVideo = static_cast<bool>(fileSystem);
            live.ExportVideo = m_configuration->IsExportAllowed();
        } else {
            m_configuration.reset();
        }
        if (fileSystem) {
            m_fileSystemConnections.emplace_back(fileSystem->ProgressSignal.connect(
                [this](Storage::IVindaraFileSystem& fs, int percent) { OnFileSystemProgress(fs, percent); }));
            m_fileSystemConnections.emplace_back(fileSystem->CompleteSignal.connect(
                [this](Storage::IVindaraFileSystem& fs, boost::system::system_error& error) {
                    OnFileSystemComplete(fs, error);
                }));
            fileSystem->Initialize(true);
            return;
        }
        OnCompleteChannel(true);
    } catch (const std::exception& e) {
        qDebug() << "Exception:" << e.what();
    }
}

void QNavigationPanel::OnFileSystemProgress(Storage::IVindaraFileSystem&, int percent)
{
    emit OnProcessed(percent);
}

void QNavigationPanel::OnFileSystemComplete(Storage::IVindaraFileSystem&, boost::system::system_error& error)
{
    emit OnCompleteProcess(!error.code());
}

void QNavigationPanel::OnCompleteChannel(bool)
{
    ClearVideoList();
    std::vector<boost::shared_ptr<filters::IVideoSource>> sources;
    if (m_configuration)
        sources = m_configuration->GetVideoSources();
    const bool deinterlace = QApplicationSettings::Instance().Deinterlacing.load();
    for (const auto& source : sources) {
        if (!source)
            continue;
        ChannelListEntry entry{QImage(), source};
        try {
            entry.thumbnail = MakeThumbnail(*source, deinterlace);
        } catch (const std::exception& e) {
            qDebug() << "Exception:" << e.what();
        }
        m_channels.push_back(std::move(entry));
    }
    on_searchEdit_textChanged(GetSearchText());
    m_videoList->selectAll();
    on_lvVideoSequenceItem_itemSelectionChanged();
    SetRefreshEnabled(true);
}

void QNavigationPanel::on_searchEdit_textChanged(const QString& text)
{
    m_videoList->clear();
    for (const ChannelListEntry& entry : m_channels) {
        const QString name = QString::fromStdWString(entry.source->GetName());
        if (!text.isEmpty() && name.indexOf(text, 0, Qt::CaseInsensitive) < 0)
            continue;
        QString info;
        try {
            info = QString::fromStdString(VideoSequenceItemInfo(entry.source).ToString());
        } catch (const std::exception& e) {
            qDebug() << "Exception:" << e.what();
        }
        auto* item = new QListWidgetItem;
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        item->setData(Qt::DecorationRole, entry.thumbnail);
        item->setData(Qt::DisplayRole, name + "\n" + info);
        item->setData(SourceRole, QVariant::fromValue(entry.source));
        m_videoList->addItem(item);
    }
}

void QNavigationPanel::on_lvVideoSequenceItem_itemSelectionChanged()
{
    SetDataChanged(m_videoList && !m_videoList->selectedItems().isEmpty());
}

void QNavigationPanel::OnListButtonToggled(bool checked)
{
    const int mode = checked ? 1 : 0;
    m_videoList->setViewMode(mode == 1 ? QListView::IconMode : QListView::ListMode);
    ApplyStyleSheet(ApplicationDirectory(), m_videoList,
                    mode == 1 ? "SettingPanel_VideoSequence_Icon.css" : "SettingPanel_VideoSequence_List.css");
    m_listButton->setChecked(mode == 1);
    m_detailButton->setChecked(mode == 0);
    QApplicationSettings::Instance().VideoSequenceItemViewMode = mode;
}
