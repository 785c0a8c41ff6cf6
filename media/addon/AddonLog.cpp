#include "media/addon/AddonLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "media/CSdkContract.h"

namespace harnway {

namespace {
std::atomic<QOR8::ILogger*> g_logger{nullptr};
}

void SetLogger(QOR8::ILogger* logger)
{
    g_logger.store(logger);
}

void Log(uint32_t level, const char* format, ...)
{
    QOR8::ILogger* logger = g_logger.load();
    if (!logger || level < logger->GetLogLevel())
        return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    logger->Log(level, text);
}

} // namespace harnway
