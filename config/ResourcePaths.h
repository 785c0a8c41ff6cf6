#pragma once
// Where the skin files live: a "Resources" folder beside the executable.
// Every path here is built from a root directory that ends in "/", in
// practice ApplicationDirectory(). Nothing checks that a file exists.

#include <QString>

// The running executable's folder with "/" appended; computed once and kept
// for the life of the process. The first call belongs on the GUI thread at
// start-up (the cache is filled without a lock).
QString ApplicationDirectory();

QString ResourcesDirectory(const QString& root);
// fileName may contain sub-folders; no extension is added.
QString ResourcePath(const QString& root, const QString& fileName);
// A skin image name has no extension; ".png" is appended.
QString ImageResourcePath(const QString& root, const QString& name);
QString BackgroundImagePath(const QString& root);
// "Arrow_<Right|Left>_<Active|Normal>.png" under the application's resources.
QString ArrowButtonImagePath(bool right, bool active);
