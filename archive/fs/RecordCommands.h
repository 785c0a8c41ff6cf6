#pragma once
// Record commands of the engine (protect, unprotect, delete) and the time
// conversions they share with the bookmark commands.

#include <cstdint>
#include <string>
#include <vector>

#include "base/Tss.h"

// Unix ms (UTC) of a local time stamp; 0 for an all-zero stamp.
uint64_t LocalTssToUnixMs(const TSS& local);
// The local time stamp of Unix ms.
TSS UnixMsToLocalTss(uint64_t unixMs);
// Local time of words 1 (date) and 2 (time) of a command text such as
// "time 25-05-22 13:45:10.250".
TSS CommandTime(const std::string& text);
