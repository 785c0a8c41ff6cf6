#include "app/GavexPlayer.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QRect>
#include <QWidget>
#include <boost/format.hpp>

#include "app/CommandLine.h"
#include "app/ExitCodes.h"
#include "app/InstanceChecker.h"
#include "app/MessageBox.h"
#include "app/ShellIntegration.h"
#include "widgets/SkinResources.h"
#include "config/ApplicationTexts.h"
#include "config/QApplicationSettings.h"
#include "config/QLocalizer.h"
#include "config/QOemSettings.h"
#include "config/StartOptions.h"
#include "base/Log.h"
#include "base/ParentProcess.h"
#include "base/StringConv.h"
#include "media/Decoder.h"
#include "media/FFmpegSource.h"
#include "media/SourceConfiguration.h"
#include "playback/IPlayersController.h"

void QtMessageToDebugOutput(QtMsgType /*type*/, const QMessageLogContext& /*context*/, const QString& message)
{
    getDefaultDebugInstance()->Trace("%s", (message + "\n").toLocal8Bit().constData());
}

GavexPlayer::GavexPlayer(ControllerFactory controllerFactory, MainWindowFactory windowFactory)
    : m_controllerFactory(std::move(controllerFactory)), m_windowFactory(std::move(windowFactory))
{
}

GavexPlayer::~GavexPlayer() = default;

void GavexPlayer::SetPasswordPrompt(PasswordPrompt prompt)
{
    m_passwordPrompt = std::move(prompt);
}

int GavexPlayer::Run(int argc, char** argv)
{
    InitInstance(argc, argv);
    return ExitInstance();
}

int GavexPlayer::ExitInstance()
{
    filters::Decoder::ClearDecompressors();
    std::lock_guard<std::mutex> lock(m_lock);
    return m_exitCode;
}

void GavexPlayer::close(int errorCode)
{
    getDefaultDebugInstance()->Message("GavexPlayer::close. ErrorCode = %d.", errorCode);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_exitCode = errorCode;
        m_closed = true;
    }
    m_wake.notify_one();
}

int GavexPlayer::InitInstance(int argc, char** argv)
{
    auto finish = [this](int code) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_exitCode = code;
        return code;
    };
    // Without a display Qt runs offscreen: messages go to stderr and the
    // windowed mode refuses to start.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::vector<std::string> arguments(argv, argv + argc);
    QApplication application(argc, argv);
    // Before any widget: the skin's "Verdana" is the shipped font.
    RegisterSkinFonts(ApplicationDirectory());

    QLocalizer::Instance().SetResolver(std::make_shared<QLocalizerPathResolver>());
    QLocalizer::Instance().LoadTranslations();

    // The first use loads the settings file and, with its first log line,
    // creates the process-wide logger.
    QApplicationSettings::Instance();

    const std::string modulePath =
        WStringToString((boost::wformat(L"%1%/%2%") % GetDataLocation() % DataSubfolder()).str());
    const std::string registryBase = (boost::format("SOFTWARE\\%1%") % WStringToString(RegistryProductKey())).str();
    QorLog::CDebug* log = getDebugInstance(modulePath.c_str(), registryBase.c_str());
    if (log->GetLevel() == 0)
        log->SetLevel(4);
    for (const std::string& note : QApplicationSettings::Instance().LoadNotes)
        log->Warning("%s", note.c_str());

    QOemSettings& oem = QOemSettings::Instance();
    if (QFile::exists(oem.FilePath))
        oem.Load();
    else
        oem.ShowAllVideoSource = true;

    filters::InitFFmpeg();
    const std::string commandLine = JoinCommandLine(arguments);
    log->Message("Start. CommandLine: %s", commandLine.c_str());
    qInstallMessageHandler(QtMessageToDebugOutput);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_exitCode = 0;
        m_closed = false;
    }

    const CommandLineResult parsed = ParseCommandLine(commandLine);
    if (parsed.help || parsed.rejected) {
        QString text;
        if (parsed.rejected)
            text = QString::fromLocal8Bit(parsed.error.c_str()) + "\n\n";
        text += QString::fromLocal8Bit(CommandLineHelpText().c_str());
        ShowMessageBox(QMessageBox::Information, text);
        return finish(parsed.rejected ? kExitBadCommandLine : 0);
    }
    if (parsed.dump)
        std::printf("%d", std::stoi("dumpTest"));  // an exception nothing catches: the crash handler's test
    StartOptions options = parsed.options;
    const std::vector<std::string> forwarded = WithAbsolutePaths(arguments);

    if (!IntegrateWithShell(options.portable))
        QOR_LOG_ERROR(log, "%s", QLocalizer::tr("Failed to integrate with Windows shell!").toLocal8Bit().constData());
    if (options.portable && !options.source.empty())
        options.portable = false;
    // The executable option names a file against the folder the program was
    // started in (or the launcher's folder), before that folder changes.
    if (!options.executable.empty())
        options.executable = ResolvePortablePath(GetParentProcessPath(), options.executable);

    QDir::setCurrent(QCoreApplication::applicationDirPath());
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() + "/plugins");

    if (const int refused = CheckPortablePlayer(options); refused != 0)
        return finish(refused);

    if (!options.extract.empty())
        return finish(RunExtract(options));
    if (!options.destination.empty())
        return finish(RunWindowless(options));
    // A running instance reads the line in its own folder: relative paths
    // go to it made absolute against the folder this one was started in.
    return finish(RunWindowed(options, QString::fromLocal8Bit(JoinCommandLine(forwarded).c_str())));
}

int GavexPlayer::CheckPortablePlayer(const StartOptions& options)
{
    QApplicationSettings& settings = QApplicationSettings::Instance();
    int64_t offset = 0;
    EmbeddedVideoKey key{};
    if (!settings.GetEmbeddedVideo(offset, key, options.executable))
        return 0;
    key = settings.GetEmbeddedVideoKey();
    const bool protectedVideo = std::any_of(key.begin(), key.end(), [](uint8_t b) { return b != 0; });
    if (protectedVideo) {
        std::optional<QString> password;
        if (m_passwordPrompt) {
            password = m_passwordPrompt();
        } else if (!RunsWithoutDisplay()) {
            bool accepted = false;
            const QString text = QInputDialog::getText(nullptr, ApplicationDisplayName(), PasswordPromptText(),
                                                       QLineEdit::Password, QString(), &accepted,
                                                       Qt::WindowCloseButtonHint, Qt::ImhNone);
            if (accepted)
                password = text;
        }
        if (!password || password->isEmpty())
            return kExitPasswordRefused;
        const QByteArray digest = QCryptographicHash::hash(password->toUtf8(), QCryptographicHash::Md5);
        if (digest.size() != static_cast<int>(key.size()) ||
            !std::equal(key.begin(), key.end(), reinterpret_cast<const uint8_t*>(digest.constData()))) {
            ShowMessageBox(QMessageBox::Critical, InvalidPasswordText());
            return kExitPasswordRefused;
        }
    }
    settings.Live.SourceNativeVideo = false;
    settings.ShowSourceBrowserButton = false;
    settings.Live.ExportVideo = true;
    // A player named by the executable option is not in the folder of the
    // parent process (a shell, say), where a portable start looks for it:
    // without a source of its own the run plays the carried video, a media
    // file, whatever source was remembered. Like a command-line source, it
    // does not replace the remembered sources.
    if (!options.executable.empty() && options.source.empty()) {
        settings.Live.SourceMode = static_cast<int>(ISourceConfiguration::AVI_FILES);
        settings.Live.VideoFolders[ISourceConfiguration::AVI_FILES] = {
            QString::fromStdString(settings.GetEmbeddedVideoPath()).toStdWString()};
        settings.Live.SetChannels({});
        settings.SaveLiveValues = false;
    }
    return 0;
}

int GavexPlayer::RunExtract(const StartOptions& options)
{
    int64_t offset = 0;
    EmbeddedVideoKey key{};
    const std::string& executable = options.executable;
    if (!QApplicationSettings::Instance().GetEmbeddedVideo(offset, key, executable)) {
        std::fprintf(stderr, "No video is carried by '%s'.\n",
                     (executable.empty() ? GetParentProcessPath() : executable).c_str());
        return kExitFailed;
    }
    const std::string source = executable.empty() ? GetParentProcessPath() : executable;
    getDefaultDebugInstance()->Message("Extract video from '%s' to '%s'.", source.c_str(), options.extract.c_str());
    if (!ExtractEmbeddedVideo(source, offset, options.extract)) {
        std::fprintf(stderr, "Could not extract the video of '%s' to '%s'.\n", source.c_str(),
                     options.extract.c_str());
        return kExitFailed;
    }
    return 0;
}

int GavexPlayer::RunWindowless(const StartOptions& options)
{
    QApplicationSettings::Instance().Render = 2;
    std::shared_ptr<IPlayersController> controller = m_controllerFactory ? m_controllerFactory() : nullptr;
    if (!controller) {
        std::fprintf(stderr, "This build has no playback controller: exports and frame saves cannot run.\n");
        return kExitFailed;
    }
    getDefaultDebugInstance()->Message("Windowless mode");
    boost::signals2::scoped_connection completion = controller->Completed.connect([this](int code) { close(code); });
    {
        QWidget hidden;
        controller->Initialize(options, &hidden, QRect());
        // Events are served while waiting, so that a controller that hands
        // work to the GUI thread cannot hold the wait forever.
        std::unique_lock<std::mutex> lock(m_lock);
        while (!m_closed) {
            m_wake.wait_for(lock, std::chrono::milliseconds(20));
            if (m_closed)
                break;
            lock.unlock();
            QCoreApplication::processEvents();
            lock.lock();
        }
    }
    completion.disconnect();
    controller.reset();
    int code = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        code = m_exitCode;
    }
    // The result code can be any export code (1168, an errno value...): the
    // process ends with its one-byte status, the log keeps the code.
    const int status = ExitStatusForResult(code);
    getDefaultDebugInstance()->Message("Windowless run ended with code %d, exit status %d.", code, status);
    return status;
}

int GavexPlayer::RunWindowed(const StartOptions& options, const QString& commandLine)
{
    if (RunsWithoutDisplay()) {
        std::fprintf(stderr,
                     "%s needs a display for its window: set DISPLAY (or run it under xvfb-run). "
                     "Without a display only --extract and --destination runs work.\n",
                     ApplicationDisplayName().toLocal8Bit().constData());
        return kExitFailed;
    }
    if (!m_windowFactory) {
        std::fprintf(stderr, "This build has no main window.\n");
        return kExitFailed;
    }
    auto checker = std::make_unique<QInstanceChecker>();
    if (!checker->Start(commandLine, QApplicationSettings::Instance().Live.SingleAppInstance, options.portable))
        return 0;
    std::unique_ptr<QWidget> window = m_windowFactory(options);
    QObject::connect(checker.get(), SIGNAL(OnCommand(QString)), window.get(), SLOT(OnCommand(QString)));
    window->show();
    // A render device that failed during the first show has posted its
    // report to the window: it is shown (and the window closed) before the
    // loop would start.
    QCoreApplication::sendPostedEvents(window.get(), QEvent::MetaCall);
    if (!window->property("closing").toBool())
        QApplication::exec();
    window.reset();
    checker.reset();
    return 0;
}
