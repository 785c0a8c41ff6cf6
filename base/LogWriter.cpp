#include "base/LogWriter.h"

#include <chrono>
#include <clocale>
#include <locale.h>

#include "base/Log.h"

namespace QorLog {

LogWriter::LogWriter(CDebug* logger, int32_t flushPeriodMs) : m_logger(logger), m_flushPeriod(flushPeriodMs), m_nextWait(flushPeriodMs) {}

LogWriter::~LogWriter() {
    if (IsRunning()) {
        {
            std::lock_guard<std::mutex> lock(m_eventLock);
            m_stopNowEvent = true;
        }
        m_eventSignal.notify_all();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
        while (IsRunning() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // The base class must not run Run() on a half-destroyed object.
    if (m_stopping.exchange(1) == 0) Stop(false);
}

bool LogWriter::Begin() {
    m_stopping.store(0);
    m_diskFullReported.store(false);
    if (!Start(0, 0, "LogWriter")) return false;
    SetPriority(PriorityBelowNormal);
    return true;
}

void LogWriter::Finish() {
    {
        std::lock_guard<std::mutex> lock(m_eventLock);
        m_finishEvent = true;
    }
    m_eventSignal.notify_all();
    if (m_stopping.exchange(1) == 0) Stop(false);
}

void LogWriter::OnStart() {
    // Character classification by the system's locale on this thread only;
    // the process-wide locale is not the writer's to change.
    m_threadLocale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (m_threadLocale != static_cast<locale_t>(0)) uselocale(m_threadLocale);
}

void LogWriter::OnStop() {
    if (m_threadLocale != static_cast<locale_t>(0)) {
        uselocale(LC_GLOBAL_LOCALE);
        freelocale(m_threadLocale);
        m_threadLocale = static_cast<locale_t>(0);
    }
}

LogWriter::Wake LogWriter::WaitFor(int milliseconds) {
    std::unique_lock<std::mutex> lock(m_eventLock);
    m_eventSignal.wait_for(lock, std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds),
                           [this] { return m_stopNowEvent || m_finishEvent; });
    if (m_stopNowEvent) return Wake::StopNow;
    if (m_finishEvent) return Wake::Finish;
    return Wake::Timeout;
}

// One pass: wait for the period (or the shorter retry while the disk is
// short), then flush. Waiting first means a writer started with the logger
// does not flush an empty queue at once, and the first lines of a program are
// written together.
bool LogWriter::Run() {
    switch (WaitFor(m_nextWait)) {
        case Wake::StopNow:
            m_stopping.store(1);
            m_logger->DebugOutput("LogWriter: WAIT_OBJECT_0 + 0\r\n");
            return false;
        case Wake::Finish:
            m_logger->DebugOutput("LogWriter: WAIT_OBJECT_0 + 1\r\n");
            return false;
        case Wake::Timeout:
            break;
    }
    if (m_logger->HasDiskSpace()) {
        m_diskFullReported.store(false);
        m_logger->Flush();
        m_nextWait = m_flushPeriod;
        return true;
    }
    // The lines are lost; the skipped count does not include them.
    m_logger->DropQueue();
    if (!m_diskFullReported.load()) {
        m_logger->PrintRaw("\n\n\n");
        m_logger->PrintRaw("INSUFFISIENT DISK SPACE!!!");
        m_logger->PrintRaw("\n\n\n");
        m_diskFullReported.store(true);
        m_logger->Flush();
    }
    m_nextWait = kDiskFullRetryMs;
    return true;
}

}  // namespace QorLog
