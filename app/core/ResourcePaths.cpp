#include "app/core/ResourcePaths.h"

#include <QCoreApplication>

QString ApplicationDirectory()
{
    static const QString directory = QCoreApplication::applicationDirPath() + "/";
    return directory;
}

QString ResourcesDirectory(const QString& root)
{
    return root + "Resources" + "/";
}

QString ResourcePath(const QString& root, const QString& fileName)
{
    return ResourcesDirectory(root) + fileName;
}

QString BackgroundImagePath(const QString& root)
{
    return ResourcePath(root, "Back_main.png");
}
