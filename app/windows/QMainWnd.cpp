#include "app/windows/QMainWnd.h"

#include <QCloseEvent>

#include "app/CommandLine.h"
#include "app/core/ApplicationTexts.h"
#include "app/core/QApplicationSettings.h"
#include "base/Log.h"
#include "playback/IPlayersController.h"

QMainWnd::QMainWnd(std::shared_ptr<IPlayersController> controller, const StartOptions& options)
    : m_controller(std::move(controller)), m_options(options)
{
    setWindowTitle(ApplicationDisplayName());
}

void QMainWnd::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_initialized)
        return;
    m_initialized = true;
    if (m_controller)
        m_controller->Initialize(m_options, this, rect());
}

void QMainWnd::OnCommand(QString command)
{
    if (command == QLatin1String("shutdown")) {
        close();
        return;
    }
    // A forwarded line never ends this instance: help, dump and rejected
    // lines are logged and dropped.
    const CommandLineResult result = ParseCommandLine(command.toLocal8Bit().toStdString());
    if (result.rejected || result.help) {
        getDefaultDebugInstance()->Message("Forwarded command line ignored: %s", result.error.c_str());
        return;
    }
    if (m_controller)
        m_controller->OpenSource(result.options);
}

void QMainWnd::closeEvent(QCloseEvent* event)
{
    if (m_controller && m_controller->RunningExportTasks() > 0) {
        event->ignore();
        return;
    }
    if (m_controller)
        m_controller->SaveState();
    QApplicationSettings::Instance().Save();
    event->accept();
}
