// The logging contract of the codec add-on's SDK: the program implements
// QOR8::ILogger (CQorLogger, base/QorLogger.h) and hands it to the add-on's
// manager library, which calls it from any of its threads. The slot order of
// both interfaces is fixed by the contract: nothing may be inserted between
// the operations and none may be reordered.
#pragma once

#include <cstdint>

#ifndef GAVEX_SDK_VISIBLE
#define GAVEX_SDK_VISIBLE __attribute__((visibility("default")))
#endif

namespace QOR8 {

// Base contract of the SDK's objects (the logger handed to the add-on).
class GAVEX_SDK_VISIBLE IContract
{
public:
    // Slot 0: forwards to QueryContract (kept for older callers).
    virtual void* QueryContractThunk(const char* name) = 0;
    // Slot 1: the object viewed as the named contract, or null.
    virtual void* QueryContract(const char* name) = 0;
    // Slot 2.
    virtual ~IContract() = default;
};

// Levels of ILogger calls.
enum LogLevel : uint32_t
{
    LogTrace = 0,
    LogMessage = 1,
    LogWarning = 2,
    LogError = 3,
};

class GAVEX_SDK_VISIBLE ILogger : public IContract
{
public:
    // The lowest level that is worth sending; calls below it are dropped.
    virtual uint32_t GetLogLevel() = 0;
    // One line naming its origin. `text` is taken as data, never a format.
    virtual void LogAt(uint32_t level, const char* file, int32_t line, const char* function,
                       const char* text) = 0;
    virtual void Log(uint32_t level, const char* text) = 0;
};

} // namespace QOR8
