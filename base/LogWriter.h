// The log writer: a thread that empties a logger's queue into its log file
// once per flush period, and guards the disk (with 199 MB or less free the
// queued lines are thrown away and one warning block is written).
//
// Owned by its CDebug; started with Begin, ended with Finish (or the
// destructor). The logger outlives its writer.
#pragma once

#include <locale.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "base/Thread.h"

namespace QorLog {

class CDebug;

class LogWriter : public Thread {
public:
    // The flush period is in milliseconds; 0 flushes continuously.
    LogWriter(CDebug* logger, int32_t flushPeriodMs);
    // A writer still running is told to stop now and waited for at most
    // 1000 ms.
    ~LogWriter() override;

    // Starts the thread ("LogWriter", below-normal priority).
    bool Begin();
    // Normal end: the current wait ends, the thread leaves its loop and is
    // waited for.
    void Finish();

    bool Run() override;
    void OnStart() override;
    void OnStop() override;

    bool DiskFullReported() const { return m_diskFullReported.load(); }

    // Wait while the disk is short.
    static constexpr int kDiskFullRetryMs = 3000;

private:
    enum class Wake { Timeout, StopNow, Finish };
    Wake WaitFor(int milliseconds);

    std::atomic<int32_t> m_stopping{0};
    CDebug* m_logger;
    int32_t m_flushPeriod;
    int32_t m_nextWait;  // used only on the writer's thread

    // Two manual-reset events: once set they stay set.
    std::mutex m_eventLock;
    std::condition_variable m_eventSignal;
    bool m_stopNowEvent = false;
    bool m_finishEvent = false;

    std::atomic<bool> m_diskFullReported{false};
    locale_t m_threadLocale = static_cast<locale_t>(0);
};

}  // namespace QorLog
