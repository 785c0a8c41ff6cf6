// CQorLogger: the logger handed to the codec add-on. It forwards the add-on's
// lines to the process logger, mapping the add-on's four levels (trace,
// message, warning, error) onto the logger's calls.
#pragma once

#include <cstdint>

#include "media/CSdkContract.h"

class CQorLogger final : public QOR8::ILogger
{
public:
    void* QueryContractThunk(const char* name) override { return QueryContract(name); }
    // The logger for the run-time type names of QOR8::IContract and
    // QOR8::ILogger; null for any other name or none.
    void* QueryContract(const char* name) override;
    ~CQorLogger() override = default;

    // Lowest add-on level worth sending, from the process logger's level:
    // 4 -> trace, 3 -> message, 2 -> warning, anything else -> errors only.
    uint32_t GetLogLevel() override;
    // "FILE:\\<file>, LINE:<line>, FUNC:<function>, <text>" with every '%' of
    // the text replaced by '*'.
    void LogAt(uint32_t level, const char* file, int32_t line, const char* function,
               const char* text) override;
    // The text is logged as it is (never taken as a format).
    void Log(uint32_t level, const char* text) override;

    // The process-wide instance handed to the add-on; made on first use and
    // never deleted before the process ends.
    static CQorLogger& Instance();
};
