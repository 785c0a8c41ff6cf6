#include "config/FolderBrowser.h"

#include <QDir>

#include "base/FolderChooser.h"

QString BrowseForFolder(const QString& title, const QString& initialFolder, QWidget* parent, bool newStyle)
{
    const QByteArray localTitle = title.toLocal8Bit();
    const QByteArray localFolder = initialFolder.toLocal8Bit();
    CFolderDialog dialog(localTitle.constData(), localFolder.constData(), parent, newStyle);
    if (dialog.Browse() != CFolderDialog::IDOK)
        return QString();
    return ChosenFolderResult(QString::fromLocal8Bit(dialog.GetSelectedPath().c_str()));
}

QString ChosenFolderResult(const QString& chosen)
{
    if (chosen.isEmpty())
        return QString();
    QString path = QDir(chosen).canonicalPath();
    if (path.isEmpty())
        return QString();
    if (!path.endsWith('/'))
        path += '/';
    return path;
}
