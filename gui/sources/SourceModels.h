#pragma once
// The models behind the source browser's pages: which source mode a page
// stands for, which paths the user chose there, whether that is something to
// open, and how the choice is restored from and stored into the live
// VideoFolders lists of the application settings.
//
// GUI thread only.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QAbstractListModel>
#include <QString>
#include <boost/signals2/signal.hpp>

namespace model {

class IBaseSourceModel {
public:
    boost::signals2::signal<void()> PageShown;
    boost::signals2::signal<void()> PageHidden;
    // True when the model holds something to open.
    boost::signals2::signal<void(bool)> ReadyChanged;

    virtual ~IBaseSourceModel() = default;
    // An ISourceConfiguration::ESourceMode.
    virtual int GetSourceMode() const = 0;
    virtual std::vector<std::wstring> GetPaths() const = 0;
    // Reports readiness, then shows the model's page.
    virtual void UpdateState() = 0;
    virtual void Deactivate() { PageHidden(); }
    virtual void LoadFromSettings() = 0;
    // The live VideoFolders list of the model's mode becomes GetPaths().
    virtual void SaveToSettings();
};

// The mounted volumes that hold an archive, as a checkable list. A drive is
// labelled by the name of its mount point ("/" for the root).
class QDriverModel : public QAbstractListModel, public IBaseSourceModel {
public:
    struct SourceItem {
        QString label;
        QString path;  // the mount point, ending in '/'
    };
    using DriveLister = std::function<std::vector<std::string>()>;

    // `drives` lists the archive drives' roots (UTF-8); by default
    // Storage::FSInfo::getArchiveDrives.
    explicit QDriverModel(DriveLister drives = {});

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    // DisplayRole: label; CheckStateRole: checked or not; UserRole: path.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // CheckStateRole checks (Qt::Checked) or unchecks the drive.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    int GetSourceMode() const override { return 0; }
    // Paths of the checked drives, in the order they were checked.
    std::vector<std::wstring> GetPaths() const override;
    void UpdateState() override;
    // Lists the drives again and checks those remembered in the settings
    // (exact path match); remembered drives that are gone are dropped.
    void LoadFromSettings() override;

    void RefreshDrives();

private:
    DriveLister m_lister;
    std::vector<std::shared_ptr<SourceItem>> m_items;
    std::vector<std::shared_ptr<SourceItem>> m_checked;
};

// One path: an archive folder (mode 1), one file (2) or a folder of plain
// media files (3).
class SingleSourceTargetModel : public IBaseSourceModel {
public:
    explicit SingleSourceTargetModel(int mode, QString path = QString());

    // Raised after the path was set by the user or from the settings.
    boost::signals2::signal<void(const SingleSourceTargetModel*)> PathChanged;

    int GetSourceMode() const override { return m_mode; }
    // Exactly one element, empty when no path is set.
    std::vector<std::wstring> GetPaths() const override;
    void UpdateState() override;
    // Takes the first remembered path of the mode, when there is one.
    void LoadFromSettings() override;

    const QString& GetPath() const { return m_path; }
    // Sets the path and reports ReadyChanged and PathChanged.
    void SetPath(const QString& path);

private:
    QString m_path;
    int m_mode;
};

}  // namespace model
