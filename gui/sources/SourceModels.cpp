#include "gui/sources/SourceModels.h"

#include <algorithm>

#include <QDir>

#include "FSImplementation/FSInfo.h"
#include "config/QApplicationSettings.h"

namespace model {

namespace {

// The mount point's own name; the root has none and shows as "/".
QString DriveLabel(const QString& root)
{
    const QString name = QDir(root).dirName();
    return name.isEmpty() || root == "/" ? QStringLiteral("/") : name;
}

}  // namespace

void IBaseSourceModel::SaveToSettings()
{
    QApplicationSettings::Instance().Live.VideoFolders[GetSourceMode()] = GetPaths();
}

QDriverModel::QDriverModel(DriveLister drives) : m_lister(std::move(drives))
{
    if (!m_lister)
        m_lister = [] { return Storage::FSInfo::getArchiveDrives(); };
}

int QDriverModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_items.size());
}

QVariant QDriverModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= static_cast<int>(m_items.size()))
        return QVariant();
    const std::shared_ptr<SourceItem>& item = m_items[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return item->label;
    case Qt::CheckStateRole:
        return std::find(m_checked.begin(), m_checked.end(), item) != m_checked.end() ? Qt::Checked : Qt::Unchecked;
    case Qt::UserRole:
        return item->path;
    default:
        return QVariant();
    }
}

bool QDriverModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole)
        return QAbstractListModel::setData(index, value, role);
    if (!index.isValid() || index.row() < 0 || index.row() >= static_cast<int>(m_items.size()))
        return false;
    const std::shared_ptr<SourceItem>& item = m_items[static_cast<size_t>(index.row())];
    if (value.toInt() == Qt::Checked) {
        // A second check of the same drive must not list its path twice.
        if (std::find(m_checked.begin(), m_checked.end(), item) == m_checked.end())
            m_checked.push_back(item);
    } else {
        m_checked.erase(std::remove(m_checked.begin(), m_checked.end(), item), m_checked.end());
    }
    emit dataChanged(index, index);
    ReadyChanged(!m_checked.empty());
    return true;
}

Qt::ItemFlags QDriverModel::flags(const QModelIndex&) const
{
    return Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsUserCheckable | Qt::ItemIsEnabled;
}

std::vector<std::wstring> QDriverModel::GetPaths() const
{
    std::vector<std::wstring> paths;
    for (const auto& item : m_checked)
        paths.push_back(item->path.toStdWString());
    return paths;
}

void QDriverModel::UpdateState()
{
    ReadyChanged(!m_checked.empty());
    PageShown();
}

void QDriverModel::RefreshDrives()
{
    const std::vector<std::string> drives = m_lister();
    beginResetModel();
    m_items.clear();
    m_checked.clear();
    endResetModel();
    for (const std::string& drive : drives) {
        auto item = std::make_shared<SourceItem>();
        item->path = QString::fromStdString(drive);
        item->label = DriveLabel(item->path);
        const int row = static_cast<int>(m_items.size());
        beginInsertRows(QModelIndex(), row, row);
        m_items.push_back(std::move(item));
        endInsertRows();
    }
}

void QDriverModel::LoadFromSettings()
{
    RefreshDrives();
    m_checked.clear();
    const std::vector<std::wstring>& remembered = QApplicationSettings::Instance().Live.VideoFolders[0];
    for (const auto& item : m_items)
        if (std::find(remembered.begin(), remembered.end(), item->path.toStdWString()) != remembered.end())
            m_checked.push_back(item);
    if (!m_items.empty())
        emit dataChanged(index(0), index(static_cast<int>(m_items.size()) - 1));
}

SingleSourceTargetModel::SingleSourceTargetModel(int mode, QString path) : m_path(std::move(path)), m_mode(mode) {}

std::vector<std::wstring> SingleSourceTargetModel::GetPaths() const
{
    return {m_path.toStdWString()};
}

void SingleSourceTargetModel::UpdateState()
{
    ReadyChanged(!m_path.isEmpty());
    PageShown();
}

void SingleSourceTargetModel::LoadFromSettings()
{
    const std::vector<std::wstring>& remembered = QApplicationSettings::Instance().Live.VideoFolders[m_mode];
    if (remembered.empty())
        return;
    m_path = QString::fromStdWString(remembered.front());
    ReadyChanged(!m_path.isEmpty());
    PathChanged(this);
}

void SingleSourceTargetModel::SetPath(const QString& path)
{
    m_path = path;
    ReadyChanged(!m_path.isEmpty());
    PathChanged(this);
}

}  // namespace model
