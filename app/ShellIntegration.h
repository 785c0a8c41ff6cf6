#pragma once
// The desktop's "Play with" entry for folders and the file type of the
// archive files "._01" to "._99", both starting this program with its
// source option. Written at every start into the user's data folder
// (XDG_DATA_HOME, else ~/.local/share).

#include <QString>

// The Exec value of the desktop entry: the program in quotes, "--source"
// and the unquoted field code %f for the chosen folder or file.
QString ShellCommand(const QString& programPath);
// Writes "applications/gavexplayer-play-with.desktop" and
// "mime/packages/gavexplayer-archive.xml"; false when either cannot be
// written. With portable set the entries start the portable player (the
// parent process) again.
bool IntegrateWithShell(bool portable);
