#pragma once
// Where the program's resources live: the "Resources" folder beside the
// executable. Every root is a folder path ending in "/".

#include <QString>

// The folder of the running executable, "/"-terminated; computed once.
QString ApplicationDirectory();
QString ResourcesDirectory(const QString& root);
// A file of the resource folder (the name may hold sub-folders).
QString ResourcePath(const QString& root, const QString& fileName);
// The scene background, "Back_main.png".
QString BackgroundImagePath(const QString& root);
