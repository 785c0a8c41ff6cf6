#pragma once
// The application object: its Run is the program's whole life. It builds the
// Qt application, reads translations, settings, the OEM file and the command
// line, checks for a portable player, runs one of the three modes (extract,
// windowless, windowed) and returns the process's exit code.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <QString>
#include <QWidget>
#include <QtGlobal>

#include "app/ExitCodes.h"

class IPlayersController;
struct StartOptions;

class GavexPlayer {
public:
    using ControllerFactory = std::function<std::shared_ptr<IPlayersController>()>;
    // Builds windowed mode's main window with its playback controller. The
    // window has the slot "OnCommand(QString)" and the bool property
    // "closing", set once it accepted a close.
    using MainWindowFactory = std::function<std::unique_ptr<QWidget>(const StartOptions& options)>;
    // Asks for the portable player's password; nullopt when cancelled.
    using PasswordPrompt = std::function<std::optional<QString>()>;

    // The controller factory serves windowless runs, the window factory the
    // windowed mode; without one that mode cannot run.
    explicit GavexPlayer(ControllerFactory controllerFactory = {}, MainWindowFactory windowFactory = {});
    ~GavexPlayer();

    // InitInstance and ExitInstance: returns the exit status (app/ExitCodes.h).
    int Run(int argc, char** argv);
    // Completion of windowless mode; callable from any thread.
    void close(int errorCode);

    // Replaces the password dialog (tests).
    void SetPasswordPrompt(PasswordPrompt prompt);

private:
    int InitInstance(int argc, char** argv);
    int ExitInstance();
    int RunExtract(const StartOptions& options);
    int RunWindowless(const StartOptions& options);
    int RunWindowed(const StartOptions& options, const QString& commandLine);
    // Step 14: 0 to go on, else the exit code.
    int CheckPortablePlayer(const StartOptions& options);

    ControllerFactory m_controllerFactory;
    MainWindowFactory m_windowFactory;
    PasswordPrompt m_passwordPrompt;
    std::mutex m_lock;
    std::condition_variable m_wake;
    int m_exitCode = 0;
    bool m_closed = false;
};

// The Qt message handler: every message, with a line break, to the log.
void QtMessageToDebugOutput(QtMsgType type, const QMessageLogContext& context, const QString& message);
