// The process's debug log.
//
// Every component logs through QorLog::CDebug: printf-style calls at four
// levels (trace, message, warning, error). A call below the logger's level
// costs one comparison; an enabled call formats one line on the caller's
// stack, puts the line prefix in front of it and appends it to an in-memory
// queue. The LogWriter thread (base/LogWriter.h) empties the queue into the
// log file, which is rotated to a ".BAK" copy and gzip archives.
//
// Typical use:
//   QorLog::CDebug* log = getDebugInstance("", QorLog::kProductRootKey);
//   log->Message("[FS] opened %s", path.c_str());
//   QOR_LOG_ERROR(log, "[FS] read failed: %d", err);
//
// A finished line is data: text that reaches the log through an argument
// ("%s" of a path that contains '%') is written as it is.
//
// Use standard printf conversions (%lld, %llu, PRIu64); the calls are checked
// by the compiler's format attribute.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include <boost/format/format_fwd.hpp>

#include "base/LogForwarding.h"

struct TSS;

namespace QorLog {

// The product's root key in the registry store; logging settings live in its
// "Debug" subkey and a per-executable subkey below that.
inline constexpr const char* kProductRootKey = "SOFTWARE\\QOR\\Vindara";

class LogWriter;

// Explicit settings for a private logger (the archive engine's); they replace
// the registry-read values one for one.
struct DebugSettings {
    int32_t debugTime;      // hours; 0 = never rotate by age
    int32_t debugSize;      // megabytes
    int32_t debugZipDays;   // days archives are kept; 0 = no archives
    int32_t debugOptions;   // 0x0F bits: file, 0xF0 bits: debugger output
    int32_t level;
    int32_t bufferSize;     // bytes per queued line
    int32_t halfBufferSize; // kept for layout compatibility, never read
};

// Queue a raw text; flush and copy the log file.
class ILogDumper {
public:
    virtual void Dump(const char* text) = 0;
    virtual bool FlushAndCopy(const char* targetPath) = 0;

protected:
    ~ILogDumper() = default;
};

class CDebug : public ILogDumper {
public:
    // logDir: folder of the log file, or empty to use the registry's "Path"
    // (default: the executable's folder). registryBase: the product root key.
    // moduleSuffix: appended to the module name (the archive engine passes
    // "."). settings: when given, replaces the registry-read values.
    CDebug(const std::string& logDir, const std::string& registryBase,
           const std::string& moduleSuffix = std::string(),
           const DebugSettings* settings = nullptr);
    virtual ~CDebug();

    CDebug(const CDebug&) = delete;
    CDebug& operator=(const CDebug&) = delete;

    // Level thresholds: Trace 3, Message and PrintRaw 2, Warning, Error,
    // Dump and WriteHeader 1. A level of 0 or less disables everything.
    void Trace(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Message(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Warning(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Formatted text without prefix or added newline (banners, blank lines).
    void PrintRaw(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The same calls for boost::format texts ("%1%"), already formatted.
    void Trace(const boost::format& text);
    void Message(const boost::format& text);
    void Warning(const boost::format& text);

    // Error line of a call site (normally reached through ErrorSite::Report).
    // sourceFile: path as the compiler gives it; only the part after its last
    // separator is shown. timeStamp: the source file's build time stamp.
    void Error(const char* sourceFile, int line, const char* timeStamp,
               const char* format, va_list args) __attribute__((format(printf, 5, 0)));
    // The same with an already formatted text (taken as data).
    void ErrorText(const char* sourceFile, int line, const char* timeStamp,
                   const std::string& text);

    // Queues the text unchanged (no prefix, no filter, no debugger output).
    void Dump(const char* text) override;
    // Writes the queue to the log file; with a target path, copies the log
    // file there (overwriting) and returns whether the copy succeeded.
    bool FlushAndCopy(const char* targetPath) override;
    // Queues the start-up banner (processor, memory, platform, version,
    // computer, user and module).
    void WriteHeader();

    // "[CPU=%04lu][PID=%08lu]:[%s]:[TID=%s]:[%s] [%s %s]" for the calling
    // thread and the given local time.
    std::string FormatLinePrefix(const TSS& time) const;

    // Writes the queued lines to the log file (normally on the writer thread).
    void Flush();

    int GetLevel() const { return m_level.load(std::memory_order_relaxed); }
    // Raising the level above 0 also starts the writer when it is not running.
    void SetLevel(int level);

    const std::string& GetModuleName() const { return m_moduleName; }
    const std::string& GetLogPath() const { return m_logPath; }
    std::string GetBackupPath() const { return m_logPath + ".BAK"; }
    int32_t GetDebugTime() const { return m_debugTime; }
    int32_t GetDebugSize() const { return m_debugSize; }
    int32_t GetDebugZipDays() const { return m_debugZipDays; }
    int32_t GetDebugOptions() const { return m_debugOptions; }
    int32_t GetBufferSize() const { return m_bufferSize; }
    uint64_t GetQueueMaxLines() const { return m_queueMaxLines; }
    int32_t GetFlushPeriod() const { return m_flushPeriod; }
    const std::string& GetFilter() const { return m_filter; }
    size_t GetQueuedLineCount() const;
    bool HasWriter() const;

    // The level: other components read it and may set it directly. Changing
    // it through this member does not start the writer by itself; the first
    // enabled call does (see Enqueue).
    std::atomic<int> m_level{0};

    // Test seams: shift the logger's clock, replace the free-space probe
    // (megabytes free on the log folder's volume) and catch the debugger
    // output. Set before logging starts.
    void SetClockOffsetForTesting(int64_t seconds) { m_clockOffset.store(seconds); }
    void SetFreeSpaceProbeForTesting(std::function<uint64_t(const std::string&)> probe);
    void SetDebugOutputForTesting(std::function<void(const std::string&)> sink);

    // Writes what is queued, sets the level to 0 and stops the writer; later
    // calls do nothing. The destructor does this; the process-wide logger
    // does it at process exit.
    void Shutdown();

    // The logger's receiver side: a Msg "SLAVE" / "CONNECTED" or
    // "DISCONNECTED" starts or stops the sender of that slave; any other
    // object is ignored. The message is borrowed.
    void OnReceive(CNetObject* message) { m_forwarding.OnReceive(message); }
    void RemoveAllAsyncSenders() { m_forwarding.RemoveAllAsyncSenders(); }
    LogForwarding& GetForwarding() { return m_forwarding; }

private:
    friend class LogWriter;

    // Idle until a slave connects: no thread and no socket before that.
    LogForwarding m_forwarding;

    // Appends one finished line (data, never a format) to the queue.
    void Enqueue(const char* text, size_t length);
    void DropQueue();
    void Emit(const char* line, size_t length, bool applyFilter);
    void FormatAndEmit(int threshold, const char* tag, const char* format, va_list args,
                       bool applyFilter) __attribute__((format(printf, 4, 0)));
    void EmitText(int threshold, const char* tag, const std::string& text);
    size_t FormatPrefixTo(char* buffer, size_t size, const TSS& time) const;
    void DebugOutput(const std::string& text) const;
    void EnsureWriter();

    // OpenLogFile takes the file lock and the cross-process lock and opens
    // the file; it returns whether the cross-process lock is owned
    // (fileOpened tells whether the file is open). CloseLogFile, always
    // paired with it, closes, rotates when due and releases both locks.
    bool OpenLogFile(bool& fileOpened);
    void CloseLogFile(bool lockOwned);
    void RotateLogFile();
    void RemoveOldArchives();
    bool HasDiskSpace() const;
    bool WriteToFile(const std::string& text);

    void ReadSettings(const DebugSettings* settings);
    void ChooseLogPath();
    int64_t NowSeconds() const;

    std::string m_logDir;
    std::string m_registryBase;
    std::string m_moduleName;
    std::string m_extension = "log";
    std::string m_logPath;
    std::string m_lockPath;
    std::string m_pathSetting;  // "Path" of the Debug key
    std::string m_exeFolder;

    int32_t m_debugTime = 48;
    int32_t m_debugSize = 100;
    int32_t m_debugZipDays = 2;
    int32_t m_debugOptions = 1;
    int32_t m_bufferSize = 8192;
    int32_t m_halfBufferSize = 4096;
    std::string m_filter;
    std::thread::id m_mainThread;

    uint64_t m_queueMaxLines = 50000;
    int32_t m_flushPeriod = 500;

    // File state, guarded by m_fileLock (in-process) and the lock file
    // (across processes).
    std::recursive_mutex m_fileLock;
    int m_fileFd = -1;
    int m_lockFd = -1;

    mutable std::mutex m_queueLock;
    std::deque<std::string> m_queue;
    int32_t m_skipped = 0;

    // 0 no writer, 1 being started, 2 running, 3 stopped for good.
    std::atomic<int> m_writerState{0};
    mutable std::mutex m_writerLock;
    std::unique_ptr<LogWriter> m_writer;

    std::atomic<int64_t> m_clockOffset{0};
    std::function<uint64_t(const std::string&)> m_freeSpaceProbe;
    std::function<void(const std::string&)> m_debugSink;
};

// Text of a thread or process priority ("NORMAL", "IDLE", ...,
// "UNKNOWN_PRIO.<n>").
std::string PriorityName(int priority);

// Creates every missing folder of the path; 1 when it exists afterwards.
int EnsureDirectoryPath(const std::string& path);
// A new random UUID as 36 upper-case hex characters without braces.
std::string NewGuidString();
// Compresses the source file into the target as one gzip member (level 9,
// 32 KB window). Errors are swallowed; the target may then be missing.
void GzipFile(const std::string& source, const std::string& target);

}  // namespace QorLog

// Process-wide copy of the level read by the registry-configured logger; the
// archive code enables its detailed logging when it is above 1.
extern std::atomic<int> g_debugLevel;

// The process-wide logger, created by the first call; only the first call's
// arguments count. Never null.
QorLog::CDebug* getDebugInstance(const char* logDir, const char* registryBase);
// The creating half of getDebugInstance.
QorLog::CDebug* createDebugInstance(const char* logDir, const char* registryBase);
// getDebugInstance("", QorLog::kProductRootKey): what every component passes.
QorLog::CDebug* getDefaultDebugInstance();

// One error-logging place, filled at the call site (see QOR_ERROR_SITE).
struct ErrorSite {
    QorLog::CDebug* logger;
    const char* sourceFile;
    const char* timeStamp;
    int line;

    void Report(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    void Report(const boost::format& text) const;
};

#define QOR_ERROR_SITE(logger) (ErrorSite{(logger), __FILE__, __TIMESTAMP__, __LINE__})
// Logs an error line naming this source file and line.
#define QOR_LOG_ERROR(logger, ...) QOR_ERROR_SITE(logger).Report(__VA_ARGS__)
