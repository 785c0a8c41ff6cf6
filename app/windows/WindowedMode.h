#pragma once
// Windowed mode's objects: the renderer of the Render setting, the players
// controller over it and the main window that takes the controller over.

#include <memory>

class QWidget;
struct StartOptions;

std::unique_ptr<QWidget> MakeMainWindow(const StartOptions& options);
