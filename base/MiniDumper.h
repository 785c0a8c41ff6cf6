// Crash handler: when the process is killed by a fatal signal (SIGSEGV,
// SIGBUS, SIGFPE, SIGILL, SIGABRT) it writes a dump file next to a copy of
// the log, reports the crash to the system log, and lets the process die as
// it would have without the handler.
//
// Files, in the dump folder, named by the local time of the crash:
//   <app>.%Y-%m-%d.%H-%M-%S-x64-<version>.tmp   while being written
//   <app>.%Y-%m-%d.%H-%M-%S-x64-<version>.dmp   once written completely
//   <dump name>.dml                              copy of <app>.<log extension>
// A dump that could not be written completely keeps its .tmp name.
//
// The dump holds what the process can tell about itself from inside a signal
// handler: the signal, the fault address, a backtrace of the crashing thread
// and the process's memory map. With FullDump the kernel also writes a core
// dump when the signal is re-raised (the handler raises the core size limit
// and marks the process dumpable; where the core goes is the system's
// core_pattern).
//
// The handler uses only async-signal-safe calls and fixed buffers; a name
// that does not fit them skips the dump and is reported as a file that could
// not be created.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class RegistryKey;

// The process-wide handler object. Deleting it (at exit) leaves the handler
// installed; it only ends the bookkeeping.
class MiniDumper
{
public:
    virtual ~MiniDumper();
};

// Sets up the crash settings (application name and dump folder from the
// executable, FullDump and DebugExtension from the product root key) and
// installs the signal handlers on an alternate stack. Returns the handler
// object (owned by the caller). A second call returns a new object over the
// same settings.
MiniDumper* InstallCrashHandler(int showCrashMessage);

// A non-empty folder becomes the dump folder (cut to 259 characters); null
// or empty restores the executable's folder.
void SetMiniDumpDirectory(const char* folder);
// A non-empty text becomes the extension of the log copied beside a dump.
void SetCrashLogExtension(const char* extension);
// Stored for fidelity; there is no message box on this platform.
void SetShowCrashMessage(int value);
void SetReportWindowsLogEvent(bool value);
// True makes the kernel write a core dump as well (see above).
void SetFullDump(bool value);
// The version text in the dump name ("" by default: the name then ends in
// "-x64-" before the extension). At most 63 characters.
void SetCrashFileVersion(const char* version);
// The datagram socket the crash line is sent to ("/dev/log" by default).
void SetCrashSystemLogPath(const char* socketPath);

int GetShowCrashMessage();
bool GetReportWindowsLogEvent();
bool GetFullDump();
std::string GetMiniDumpDirectory();
std::string GetCrashLogExtension();
std::string GetCrashApplicationName();

// Start-up readers of the crash switches under the product root key; each
// gives 1 when the value is missing or empty.
int ReadShowCrashMessage();
bool ReadReportWindowsLogEvent();
bool ReadFullDump();

// Small accessor of the product root key used by the crash settings: opens
// it for full access (machine scope, else user scope), creating it when it
// exists in neither.
class CrashSettingsKey
{
public:
    CrashSettingsKey();
    ~CrashSettingsKey();
    CrashSettingsKey(const CrashSettingsKey&) = delete;
    CrashSettingsKey& operator=(const CrashSettingsKey&) = delete;

    bool IsOpen() const { return m_nResult == 0; }
    // The value up to its first zero byte, cut to bufferSize - 1 bytes; the
    // default when the text is empty and a default is given.
    std::string ReadString(const char* name, const char* defaultValue, uint32_t bufferSize);
    // Stores FullDump as the "%d" text of the number.
    bool WriteFullDump(int value);
    bool Create(const char* path);

private:
    int32_t m_nReopen = 0;
    int32_t m_nResult = 1; // 0 when the key is open
    std::unique_ptr<RegistryKey> m_key;
    std::string m_strPath;
};

// The texts the handler writes to the system log (the first %s is the
// application name).
namespace CrashMessages {
inline constexpr const char* kDumpWritten =
    "Application \"%s\" abnormal terminated.\r\nSaved dump file to \"%s\". ";
inline constexpr const char* kDumpFailed =
    "Application \"%s\" abnormal terminated.\r\nFailed to save dump file to \"%s\" (error %d).";
inline constexpr const char* kCreateFailed =
    "Application \"%s\" abnormal terminated.\r\nFailed to create dump file \"%s\" (error %d).";
} // namespace CrashMessages
