#include "export/BasePlayerExport.h"

#include <cmath>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>

#include "export/ExportErrors.h"
#include "export/FFmpegException.h"

namespace Storage {

namespace bfs = boost::filesystem;

BasePlayerExport::BasePlayerExport()
{
    Progress.connect([this](int percent, const Storage::ExportTask& task) { TaskProgress(*this, percent, task); });
}

BasePlayerExport::~BasePlayerExport()
{
    m_worker.detach();
}

void BasePlayerExport::Start(const std::string& destination, const std::vector<Storage::ExportTask>& tasks)
{
    bool expected = false;
    if (!m_busy.compare_exchange_strong(expected, true)) {
        ReportError(0, kExportCodeBusy, "Cannot start new export: previous tasks are not finished yet");
        return;
    }
    if (!CheckDestination(destination, tasks)) {
        m_busy = false;
        return;
    }
    m_tasks = tasks;
    // The worker waits until it is m_worker, so that a Cancel made at once
    // (even from the worker itself) reaches it.
    std::lock_guard<std::mutex> lock(m_workerLock);
    m_worker.detach();
    m_worker = boost::thread([this, destination] {
        { std::lock_guard<std::mutex> started(m_workerLock); }
        Run(destination);
    });
}

void BasePlayerExport::Cancel()
{
    std::lock_guard<std::mutex> lock(m_workerLock);
    m_worker.interrupt();
}

void BasePlayerExport::Join()
{
    if (m_worker.joinable() && m_worker.get_id() != boost::this_thread::get_id())
        m_worker.join();
}

void BasePlayerExport::ResetProgress()
{
    m_progress = 0;
    m_lastPercent = 0;
}

void BasePlayerExport::SetProgress(double percent, const Storage::ExportTask& task)
{
    m_progress = percent;
    AddProgressStep(0, task);
}

void BasePlayerExport::AddProgressStep(double step, const Storage::ExportTask& task)
{
    m_progress += step;
    const int percent = static_cast<int>(std::floor(m_progress + 0.5));
    if (percent > m_lastPercent && percent <= 100) {
        m_lastPercent = percent;
        Progress(percent, task);
    }
    boost::this_thread::interruption_point();
}

void BasePlayerExport::Prepare(const bfs::path&) {}

bool BasePlayerExport::CheckDestination(const std::string&, const std::vector<Storage::ExportTask>&)
{
    return true;
}

void BasePlayerExport::Finish(const bfs::path&) {}

void BasePlayerExport::ReportError(int kind, int code, const char* message)
{
    ExportError error;
    error.kind = kind;
    error.code = code;
    const std::string text = ExportCodeText(code);
    error.reason = message != nullptr && *message != '\0' ? std::string(message) + ": " + text : text;
    Completed(*this, error);
}

void BasePlayerExport::Run(std::string destinationText)
{
    Started(*this);
    // Codes stored by an earlier batch on this thread are not this batch's.
    SetLastExportError(0);
    int kind = 0;
    int code = 0;
    bool failed = true;
    std::string reason;
    try {
        const bfs::path destination(destinationText);
        // The destination itself may be made by the export; the folder it
        // goes into must be there (an unplugged drive's mount folder is not).
        std::string folder = destinationText;
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        bfs::path root = bfs::path(folder).parent_path();
        if (root.empty())
            root = bfs::current_path();
        if (destination.empty() || !bfs::exists(root)) {
            SetLastExportError(kExportCodeNoDestination);
            throw std::runtime_error("Destination path doesn't exists");
        }
        Prepare(destination);
        for (const Storage::ExportTask& task : m_tasks)
            ExportTask(task, destination);
        Finish(destination);
        failed = false;
    } catch (const boost::thread_interrupted&) {
        kind = ExportErrorCancelled;
        code = kExportCodeCancelled;
        reason = "Export interrupted";
    } catch (const bfs::filesystem_error& e) {
        kind = ExportErrorCopy;
        code = ExportCodeFromErrno(e.code().value());
        reason = e.what();
    } catch (const utils::FFmpegException& e) {
        code = e.ffmpegError;
        reason = e.what();
        switch (e.stage) {
        case 1: kind = ExportErrorCreateFile; break;
        case 2: kind = ExportErrorOpenFile; break;
        case 3: kind = ExportErrorWriteHeader; break;
        case 4: kind = ExportErrorWriteFrame; break;
        default: kind = ExportErrorNone; break;
        }
    } catch (const std::exception& e) {
        code = GetLastExportError();
        reason = e.what();
        switch (code) {
        case kExportCodeNoDestination: kind = ExportErrorNoDestination; break;
        case kExportCodeDiskFull:
        case kExportCodeHandleDiskFull: kind = ExportErrorNoSpace; break;
        case kExportCodeNoFiles: kind = ExportErrorNoVideo; break;
        default: kind = ExportErrorNone; break;
        }
    } catch (...) {
        reason = "Unknown export failure";
    }
    // A failure is never reported as a success, whatever it left behind.
    if (failed)
        code = FailureCode(code);
    // Interruption must not cut the report short.
    boost::this_thread::disable_interruption noInterruption;
    m_busy = false;
    ReportError(kind, code, reason.c_str());
}

}  // namespace Storage
