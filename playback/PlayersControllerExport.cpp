// The players controller's products besides playback: export runs with
// their progress and final report, snapshots and prints of the scene.

#include "playback/PlayersController.h"

#include <cmath>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QMetaObject>
#include <QString>

#include "config/ApplicationTexts.h"
#include "config/QApplicationSettings.h"
#include "config/QLocalizer.h"
#include "base/Log.h"
#include "base/StringConv.h"
#include "render/Renderer.h"

namespace playback {

namespace {

QorLog::CDebug* Log()
{
    return getDefaultDebugInstance();
}

ExportEngineFactory& InstalledExportEngineFactory()
{
    static ExportEngineFactory factory;
    return factory;
}

// The user's text of a report's kind, translated in the application's
// context; kinds 1 to 10.
const char* const kExportReasons[] = {
    QT_TRANSLATE_NOOP("QLocalizer", "Cancelled by user"),
    QT_TRANSLATE_NOOP("QLocalizer", "No space"),
    QT_TRANSLATE_NOOP("QLocalizer", "No destination"),
    QT_TRANSLATE_NOOP("QLocalizer", "Copy error"),
    QT_TRANSLATE_NOOP("QLocalizer", "Destination folder is the same as the source folder"),
    QT_TRANSLATE_NOOP("QLocalizer", "No video"),
    QT_TRANSLATE_NOOP("QLocalizer", "Error create exported file"),
    QT_TRANSLATE_NOOP("QLocalizer", "Open output file error"),
    QT_TRANSLATE_NOOP("QLocalizer", "Write header file error"),
    QT_TRANSLATE_NOOP("QLocalizer", "Write frame error"),
};

const char* const kExportFailed = QT_TRANSLATE_NOOP("QLocalizer", "Export error");

bool ExportSucceeded(const Storage::ExportError& error)
{
    return error.kind == Storage::ExportErrorNone && error.code == 0;
}

// Empty for a successful run; the engine's own reason for a failure of a
// kind without a text of ours, and a text of ours when it gave none: a
// failure never shows as an empty message.
std::string ExportMessage(const Storage::ExportError& error)
{
    constexpr int count = static_cast<int>(sizeof kExportReasons / sizeof kExportReasons[0]);
    if (error.kind >= 1 && error.kind <= count)
        return QLocalizer::tr(kExportReasons[error.kind - 1]).toLocal8Bit().toStdString();
    if (ExportSucceeded(error))
        return std::string();
    return !error.reason.empty() ? error.reason : QLocalizer::tr(kExportFailed).toLocal8Bit().toStdString();
}

}  // namespace

void SetExportEngineFactory(ExportEngineFactory factory)
{
    InstalledExportEngineFactory() = std::move(factory);
}

void PlayersController::ExportAllTasks()
{
    std::vector<Storage::ExportTask> tasks;
    if (m_gui.exportPanel) {
        m_gui.exportPanel->SelectItem(0, true);
        m_gui.exportPanel->GetTasks(tasks);
    }
    StartExport(tasks);
}

void PlayersController::ExportCurrentTask()
{
    std::vector<Storage::ExportTask> tasks;
    if (m_gui.exportPanel) {
        const int row = std::min(m_gui.exportPanel->CurrentIndex(), m_gui.exportPanel->ItemCount() - 1);
        Storage::ExportTask task;
        if (row >= 0)
            m_gui.exportPanel->GetTask(row, task);
        tasks.push_back(task);
    }
    StartExport(tasks);
}

void PlayersController::ResetExportProgress()
{
    if (m_gui.exportPanel) {
        // Every row, not only as many as have channels: a bar left on a row
        // after the tasks were rearranged would tell of work not done.
        const int rows = m_gui.exportPanel->ItemCount();
        for (int row = 0; row < rows; ++row)
            m_gui.exportPanel->PostProgressItem(row, 0);
    }
    if (m_gui.exportControl)
        m_gui.exportControl->PostProcessed(0);
}

void PlayersController::StartExport(const std::vector<Storage::ExportTask>& tasks)
{
    std::vector<Storage::ExportTask> kept;
    for (const Storage::ExportTask& task : tasks)
        if (!task.ChannelIds.empty())
            kept.push_back(task);
    ResetExportProgress();
    const SettingsProfile& live = QApplicationSettings::Instance().Live;
    const auto sources = live.VideoFolders.find(live.SourceMode.load());
    const std::string destination = ToNarrowString(live.ExportFolder);
    const bool haveSources = sources != live.VideoFolders.end() && !sources->second.empty();
    if (!haveSources || m_export || kept.empty() || destination.empty()) {
        if (m_gui.exportControl)
            m_gui.exportControl->PostComplete();
        if (m_windowlessExport)
            Completed(kCompletedFailed);
        return;
    }
    if (m_windowlessExport && !m_fileSystem) {
        // The command line names no container or prefix: those the export
        // panel would give the task.
        for (Storage::ExportTask& task : kept) {
            if (task.OutputContainer.empty())
                task.OutputContainer = GetMediaFileExtension();
            if (task.PrefixFileName.empty())
                task.PrefixFileName = "Exported " + std::to_string(task.ChannelIds.size());
        }
    }
    SetEnabledState(false, false);
    m_taskCount = static_cast<int>(kept.size());
    m_tasksDone = 0;
    m_export = CreateExport();
    if (!m_export) {
        QOR_ERROR_SITE(Log()).Report("Can't get export storage ptr. taskSize = [%i]", static_cast<int>(kept.size()));
        // Nothing will report the end: the run ends here as failed, with the
        // controls given back.
        m_taskCount = 0;
        SetEnabledState(true, false);
        if (m_gui.exportControl)
            m_gui.exportControl->PostComplete();
        if (m_windowlessExport)
            Completed(kCompletedFailed);
        return;
    }
    m_export->TaskProgress.connect(
        [this](const Storage::IPlayerExport& engine, int percent, const Storage::ExportTask& task) {
            OnExportProgress(engine, percent, task);
        });
    m_export->Completed.connect([this](const Storage::IPlayerExport& engine, const Storage::ExportError& error) {
        OnExportFinished(engine, error);
    });
    // Held by the call: a refused start reports (and queues the release of
    // m_export) before Start returns.
    const boost::shared_ptr<Storage::IPlayerExport> engine = m_export;
    engine->Start(destination, kept);
}

boost::shared_ptr<Storage::IPlayerExport> PlayersController::CreateExport()
{
    const ExportEngineFactory& factory = InstalledExportEngineFactory();
    if (!factory)
        return {};
    // A windowless run exports what it opened: an archive natively, media
    // files through their channels.
    const bool native = m_windowlessExport ? static_cast<bool>(m_fileSystem)
                                           : QApplicationSettings::Instance().Live.SourceNativeVideo.load();
    if (native)
        return factory(m_fileSystem, {});
    if (m_channels.empty())
        return {};
    return factory(nullptr, m_channels);
}

void PlayersController::OnExportProgress(const Storage::IPlayerExport&, int percent, const Storage::ExportTask& task)
{
    const int count = m_taskCount;
    const int done = m_tasksDone;
    if (count <= 0)
        return;
    if (m_gui.exportPanel) {
        m_gui.exportPanel->PostProgressItem(task.row, percent);
        if (count > 1 && percent == 100 && done < count - 1)
            m_gui.exportPanel->PostSelectTask(done + 1);
    }
    if (m_gui.exportControl)
        m_gui.exportControl->PostProcessed(static_cast<int>(std::floor((percent / 100.0 + done) / count * 100.0 + 0.5)));
    if (percent == 100)
        ++m_tasksDone;
}

void PlayersController::OnExportFinished(const Storage::IPlayerExport&, const Storage::ExportError& error)
{
    if (ExportSucceeded(error))
        Log()->Message("Export completed.");
    else
        Log()->Message("Export error. Reason: %s. Code: %d.", error.reason.c_str(), static_cast<int>(error.code));
    if (m_gui.exportControl) {
        m_gui.exportControl->PostComplete();
        m_gui.exportControl->PostMessage(ExportMessage(error));
    }
    const int code = static_cast<int>(error.code);
    // The engine's worker is still inside this signal: the engine is
    // released, and the run ended, on the controller's thread.
    QMetaObject::invokeMethod(
        this,
        [this, code] {
            m_export.reset();
            m_taskCount = 0;
            SetEnabledState(true, false);
            if (m_windowlessExport) {
                Completed(code);
            } else if (!QApplicationSettings::Instance().Live.SourceNativeVideo && m_activeTimeLine != nullptr) {
                // A media export paused on the interval: back to the edge
                // being edited.
                const bool begin = m_gui.beginInput && m_activeTimeLine == &m_gui.beginInput->Selector();
                const std::shared_ptr<ITimeInputPanel>& input = begin ? m_gui.beginInput : m_gui.endInput;
                if (input)
                    Seek(ClampToRecorded(input->CurrentTime()));
            }
        },
        Qt::QueuedConnection);
}

QImage PlayersController::CaptureScene()
{
    if (m_gui.controls)
        m_gui.controls->PrepareCapture();
    return m_renderer->RenderToImage(m_renderer->GetGeometry());
}

void PlayersController::SaveScreenshot()
{
    const QImage image = CaptureScene();
    const QDateTime now = m_snapshotClock ? m_snapshotClock() : QDateTime::currentDateTime();
    const QString stamp = now.toString("dd-MM-yyyy hh-mm-ss");
    QString folder = QString::fromStdWString(QApplicationSettings::Instance().Live.ExportFolder);
    if (folder.isEmpty()) {
        Log()->Message("Snapshot not saved: no export folder");
        return;
    }
    QDir().mkpath(folder);
    // The setting may or may not end with a separator; the file goes inside
    // the folder either way.
    if (!folder.endsWith('/'))
        folder += '/';
    QString name;
    for (int n = 0;; ++n) {
        const QString suffix = n == 0 ? QString() : QString(" %1").arg(n);
        name = QString("%1%2%3.jpg").arg(folder, stamp, suffix);
        if (!QFile::exists(name))
            break;
    }
    if (!image.save(name))
        Log()->Message("Snapshot not saved: %s", name.toLocal8Bit().constData());
}

void PlayersController::PrintFrame()
{
    const QImage image = CaptureScene();
    if (m_gui.controls)
        m_gui.controls->PrintImage(PrintDialogTitle(), image);
}

}  // namespace playback
