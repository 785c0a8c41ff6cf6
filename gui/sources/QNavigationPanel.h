#pragma once
// The source browser, a sliding configuration panel: the user rolls to a
// kind of source (archive drives, an archive folder, one exported file, a
// folder of media files), chooses the drives or the path, presses Refresh to
// open the source and list its channels with a thumbnail and a description,
// narrows the list with a search text, selects channels and presses Apply.
// Applying hands the panel itself, as an ISourceConfiguration, to whoever
// builds the players from it; Cancel only hides, as every show reloads the
// page from the settings.
//
// GUI thread, except that an archive opened asynchronously reports its
// progress and completion from its worker; those arrive here as queued Qt
// signals.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QImage>
#include <boost/shared_ptr.hpp>
#include <boost/signals2/connection.hpp>
#include <boost/signals2/signal.hpp>
#include <boost/system/system_error.hpp>

#include "gui/panels/QAbstractConfigurationPanel.h"
#include "media/SourceConfiguration.h"

class QLabel;
class QBoxLayout;
class QHBoxLayout;
class QListView;
class QPushButton;
class QRadioButton;
class QRollBox;
class QCustomLineEdit;
class QCustomListWidget;
class QCustomProgressBar;
class QSingleSourceTargetWidget;

namespace model {
class IBaseSourceModel;
class QDriverModel;
}  // namespace model

class QNavigationPanel : public QAbstractConfigurationPanel, public ISourceConfiguration {
    Q_OBJECT

public:
    // One listed channel: its thumbnail (null when its first frame could not
    // be read or decoded) and its source.
    struct ChannelListEntry {
        QImage thumbnail;
        boost::shared_ptr<filters::IVideoSource> source;
    };
    // The list role that carries an item's source.
    static constexpr int SourceRole = Qt::UserRole + 1;

    // `drives` lists the archive drives (see model::QDriverModel).
    explicit QNavigationPanel(QWidget* parent = nullptr, std::function<std::vector<std::string>()> drives = {});
    ~QNavigationPanel() override;

    // Raised by SaveData (Apply) with the panel.
    boost::signals2::signal<void(ISourceConfiguration&)> SourcesApplied;

    // Re-selects the page of the live SourceMode and the stored view mode
    // (before every show).
    void LoadData() override;
    // Stores the current page's paths and applies the selected channels.
    void SaveData() override;
    // Apply is possible while at least one channel is selected.
    void SetDataChanged(bool changed) override;
    bool IsDataChanged() const { return m_dataChanged; }
    virtual void SetRefreshEnabled(bool enabled);

    // The archive of the last refresh; empty for plain media files.
    boost::shared_ptr<Storage::IVindaraFileSystem> GetFileSystem() override;
    // The sources of the selected list items, in the list's selection order.
    std::vector<boost::shared_ptr<filters::IVideoSource>> GetVideoSources() override;
    ESourceMode GetSourceMode() override;

    // Shows the page of the mode when the mode chooser offers it.
    void SelectSourceMode(int mode);
    void OnModeChanged(int index);
    void ClearVideoList();
    QString GetSearchText() const;
    void ClickDefaultButton();

    // The pages' models by mode, and the widgets, for the controls layer
    // and for tests.
    std::shared_ptr<model::IBaseSourceModel> Model(int mode) const;
    std::shared_ptr<model::IBaseSourceModel> CurrentModel() const { return m_currentModel; }
    QSingleSourceTargetWidget* TargetWidget(int mode) const;
    QRollBox* ModeChooser() const { return m_modeBox; }
    QCustomListWidget* VideoList() const { return m_videoList; }
    QCustomLineEdit* SearchEdit() const { return m_searchEdit; }
    QPushButton* RefreshButton() const { return m_refreshButton; }
    QCustomProgressBar* ProgressBar() const { return m_progressBar; }
    QListView* DrivesView() const { return m_drivesView; }
    // Stands in for the drive list on the Disk page while no volume is found.
    QLabel* NoDrivesLabel() const { return m_noDrivesLabel; }
    const std::vector<ChannelListEntry>& Channels() const { return m_channels; }

signals:
    void OnProcessed(int percent);
    void OnCompleteProcess(bool success);

public slots:
    void OnListButtonToggled(bool checked);
    void OnCompleteChannel(bool success);

private slots:
    void on_refreshButton_clicked();
    void on_lvVideoSequenceItem_itemSelectionChanged();
    void on_searchEdit_textChanged(const QString& text);

protected:
    void BuildContent(QControlsGuiLayer* layer) override;

private:
    using ModelMap = std::map<int, std::shared_ptr<model::IBaseSourceModel>>;

    void BuildTopPanel(QBoxLayout* content);
    void BuildOptionPanel(QBoxLayout* content);
    void BuildViewModeButtons(QHBoxLayout* options);
    void AddSourceTargetPage(QBoxLayout* layout, QSingleSourceTargetWidget* widget, const QString& text, int mode);
    void ConnectModels(ModelMap::const_iterator entry);
    void OnFileSystemProgress(Storage::IVindaraFileSystem& fileSystem, int percent);
    void OnFileSystemComplete(Storage::IVindaraFileSystem& fileSystem, boost::system::system_error& error);

    std::shared_ptr<model::IBaseSourceModel> m_currentModel;
    ModelMap m_models;
    std::map<int, QSingleSourceTargetWidget*> m_targetWidgets;
    QHBoxLayout* m_topLayout = nullptr;
    QCustomProgressBar* m_progressBar = nullptr;
    QCustomLineEdit* m_searchEdit = nullptr;
    QCustomListWidget* m_videoList = nullptr;
    QRollBox* m_modeBox = nullptr;
    boost::signals2::scoped_connection m_modeConnection;
    QListView* m_drivesView = nullptr;
    QLabel* m_noDrivesLabel = nullptr;
    std::vector<ChannelListEntry> m_channels;
    QRadioButton* m_listButton = nullptr;
    QRadioButton* m_detailButton = nullptr;
    QPushButton* m_refreshButton = nullptr;
    // The source opened by the last refresh; null before any, and after a
    // refresh without a path.
    std::unique_ptr<SourceConfiguration> m_configuration;
    std::function<std::vector<std::string>()> m_driveLister;
    std::vector<boost::signals2::scoped_connection> m_modelConnections;
    std::vector<boost::signals2::scoped_connection> m_fileSystemConnections;
    bool m_dataChanged = false;
};
