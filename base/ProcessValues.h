// Process-wide values that later code takes for granted, set up by one call
// at the very start of main, before any other thread exists:
//
//   int main(int argc, char** argv) { InitProcessValues(); ... }
//
// Order (each step may rely on the ones before it):
//   1. the crash handler, installed with ShowCrashMessage 0 (its switches are
//      still unset, so a first run stores FullDump "0"); deleted at exit;
//   2. g_ffmpegThreadCount from FFTHREADCOUNT of "SOFTWARE\QOR\Vindara\Video";
//   3. g_userDocumentsToken (a constant);
//   4.-6. the crash switches ShowCrashMessage, ReportWindowsLogEvent and
//      FullDump from the product root key (each 1 when missing or empty);
//   7. the time-zone bias stamped into new frames, taken once.
// Later calls do nothing.
#pragma once

#include <cstdint>

class MiniDumper;

// Decoder threads for FFmpeg; 1 until set up, and when the value is missing
// or empty.
extern int32_t g_ffmpegThreadCount;

// Placeholder for the user's documents folder in configured paths.
inline constexpr const wchar_t* g_userDocumentsToken = L"%USER_DOCUMENTS_PATH%";

void InitProcessValues();

// FFTHREADCOUNT as InitProcessValues reads it.
int32_t ReadFfmpegThreadCount();

// The crash handler installed by InitProcessValues (null before).
MiniDumper* GetProcessCrashHandler();
