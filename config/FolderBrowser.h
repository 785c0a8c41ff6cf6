#pragma once
// The application's folder chooser: the export folder of the settings panel
// and the folder source of the source browser.

#include <QString>

class QWidget;

// Shows the folder dialog (the new style adds the new-folder button) with the
// initial folder preselected. Returns the chosen folder as
// ChosenFolderResult gives it, or an empty string when cancelled.
QString BrowseForFolder(const QString& title, const QString& initialFolder, QWidget* parent, bool newStyle);

// The form a chosen path is returned in: its canonical path ending in "/"
// (the root stays "/"); an empty string stays empty, and so does a path that
// no longer exists.
QString ChosenFolderResult(const QString& chosen);
