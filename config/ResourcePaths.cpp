#include "config/ResourcePaths.h"

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

QString ImageResourcePath(const QString& root, const QString& name)
{
    return ResourcePath(root, name + ".png");
}

QString BackgroundImagePath(const QString& root)
{
    return ResourcePath(root, "Back_main.png");
}

QString ArrowButtonImagePath(bool right, bool active)
{
    return ResourcePath(ApplicationDirectory(), QString("Arrow_%1_%2.png")
                                                    .arg(right ? "Right" : "Left")
                                                    .arg(active ? "Active" : "Normal"));
}
