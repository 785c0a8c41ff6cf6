// Logging of the add-on: lines go to the program's logger handed to the entry
// point, when there is one; otherwise they are dropped.
#pragma once

#include <cstdint>

namespace QOR8 {
class ILogger;
}

namespace harnway {

void SetLogger(QOR8::ILogger* logger);

// printf-style line at an SDK level (QOR8::LogLevel); dropped below the
// logger's threshold.
void Log(uint32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));

} // namespace harnway
