// CQorLogger: the SDK logger handed to the codec add-on. It forwards the
// add-on's lines to the program's logger, mapping the SDK's four levels
// (trace, message, warning, error) onto the logger's Trace, Message, Warning
// and error calls, and tells the add-on which levels are worth sending.
//
// It has no state of its own: the threshold follows the logger's level at
// every call. Thread-safe as far as the logger is.
//
// Ownership: the process-wide instance (Instance) is made on first use and
// lives until the process ends; the add-on only borrows it.
#pragma once

#include <cstdint>

#include "base/QorLoggerContract.h"

namespace QorLog {
class CDebug;
}

class CQorLogger final : public QOR8::ILogger
{
public:
    // logger: the logger used; null means the process-wide logger
    // (getDefaultDebugInstance), looked up at each call.
    explicit CQorLogger(QorLog::CDebug* logger = nullptr) : m_logger(logger) {}

    void* QueryContractThunk(const char* name) override { return QueryContract(name); }
    // This object for the run-time type names of QOR8::IContract and
    // QOR8::ILogger (as typeid spells them); null for any other name or none.
    void* QueryContract(const char* name) override;
    ~CQorLogger() override = default;

    // The lowest SDK level that is logged, from the logger's level
    // (SdkThresholdForLevel).
    uint32_t GetLogLevel() override;
    // Nothing when the text or the function name is missing. Otherwise
    // "FILE:\\<file>, LINE:<line>, FUNC:<function>, <text>" (two backslashes
    // after the colon) with every '%' of the text turned into '*', through Log.
    void LogAt(uint32_t level, const char* file, int32_t line, const char* function,
               const char* text) override;
    // Nothing when the logger's level is 0 or less or the SDK level is below
    // GetLogLevel. The text is logged as it is (never taken as a format).
    // Errors name the source "QorLogger", line 73.
    void Log(uint32_t level, const char* text) override;

    // Logger level -> lowest SDK level logged: 4 -> trace (0), 3 -> message
    // (1), 2 -> warning (2), anything else -> errors only (3). A level of 5
    // or more logs everything in the program but only errors of the add-on.
    static uint32_t SdkThresholdForLevel(int loggerLevel);

    // The process-wide instance handed to the add-on.
    static CQorLogger& Instance();

private:
    QorLog::CDebug* Logger() const;

    QorLog::CDebug* m_logger;
};
