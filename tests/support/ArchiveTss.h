// The archive's local time stamp of a test frame as a TSS, for comparing
// frames read back with the frames written.
#pragma once

#include <cstdint>

#include "base/Tss.h"
#include "support/ArchiveFileWriter.h"

namespace testsupport {

inline TSS LocalTss(int64_t unixMs)
{
    const LocalStamp s = LocalStampOf(unixMs);
    TSS t;
    t.wYear = s.year;
    t.wMonth = s.month;
    t.wDay = s.day;
    t.wHour = s.hour;
    t.wMinute = s.minute;
    t.wSecond = s.second;
    t.dwMilliseconds = s.millisecond;
    return t;
}

} // namespace testsupport
