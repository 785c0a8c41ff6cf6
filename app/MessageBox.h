#pragma once
// Modal messages of the start-up. Without a display (Qt's offscreen or
// minimal platform) the text goes to stderr instead.

#include <QMessageBox>
#include <QString>

void ShowMessageBox(QMessageBox::Icon icon, const QString& text);
// Whether Qt runs without a real display.
bool RunsWithoutDisplay();
