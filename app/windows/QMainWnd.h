#pragma once
// The main window, as far as windowed mode needs it so far: its first show
// starts the playback controller on it; commands of other instances close it
// ("shutdown") or open their sources.

#include <memory>

#include <QString>
#include <QWidget>

#include "app/core/StartOptions.h"

class IPlayersController;

class QMainWnd : public QWidget {
    Q_OBJECT
public:
    QMainWnd(std::shared_ptr<IPlayersController> controller, const StartOptions& options);

public slots:
    void OnCommand(QString command);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::shared_ptr<IPlayersController> m_controller;
    StartOptions m_options;
    bool m_initialized = false;
};
