#include "base/Log.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <boost/format.hpp>

#include "base/LogWriter.h"
#include "base/ModuleDir.h"
#include "base/Registry.h"
#include "base/Tss.h"

std::atomic<int> g_debugLevel{0};

namespace QorLog {

namespace {

// Longest line a logging call produces (the rest is cut).
constexpr size_t kMaxLine = 8191;
// Longest text handed to the debugger output in one piece.
constexpr size_t kMaxDebugOutput = 4095;

constexpr int32_t kDefaultBufferSize = 8192;
// Lines longer than this are cut whatever DebugBufferSize says.
constexpr int32_t kMaxBufferSize = 1 << 20;
constexpr uint64_t kMinQueueLines = 50000;
// Bound on the queue whatever DebugQueueMaxLines says.
constexpr uint64_t kMaxQueueLines = 2000000;

constexpr uint64_t kMinFreeMegabytes = 199;
constexpr int kLockWaitMs = 3010;

// The log file's own record of when it was started; file systems without
// user attributes fall back to the inode's birth time.
constexpr const char kCreatedAttr[] = "user.gavex.created";

std::string ExecutablePath() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string ToLower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string ModuleNameFromPath(const std::string& exePath, const std::string& suffix) {
    std::string name = ToLower(exePath);
    size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.erase(dot);
    return name + suffix;
}

std::string FileNameOfSource(const char* path) {
    if (path == nullptr) return std::string();
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p)
        if (*p == '\\' || *p == '/') name = p + 1;
    return name;
}

uint64_t WorkingSetMegabytes() {
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return 0;
    unsigned long long size = 0, resident = 0;
    int got = std::fscanf(f, "%llu %llu", &size, &resident);
    std::fclose(f);
    if (got != 2) return 0;
    return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) / 1048576u;
}

// Windows priority values for this platform's nice values, so that lines
// read the same on both: a thread's nice maps to a thread priority, the
// process's (its first thread's) to a priority class.
// The inverse of Thread::SetPriority's choice of nice values (idle 19,
// lowest 10, below normal 5, above normal -5, highest -10, time critical -20).
int ThreadPriorityFromNice(int nice) {
    if (nice >= 15) return -15;
    if (nice >= 10) return -2;
    if (nice > 0) return -1;
    if (nice == 0) return 0;
    if (nice >= -5) return 1;
    if (nice >= -10) return 2;
    return 15;
}

int PriorityClassFromNice(int nice) {
    int policy = sched_getscheduler(0);
    if (policy == SCHED_FIFO || policy == SCHED_RR) return 256;
    if (nice <= -15) return 128;
    if (nice < 0) return 32768;
    if (nice == 0) return 32;
    if (nice < 10) return 16384;
    return 64;
}

int NiceOf(pid_t who) {
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(who));
    return errno != 0 ? 0 : nice;
}

// Copies up to the limit; returns the new end.
size_t AppendTo(char* buffer, size_t pos, size_t limit, const char* text, size_t length) {
    size_t n = std::min(length, limit > pos ? limit - pos : 0);
    std::memcpy(buffer + pos, text, n);
    return pos + n;
}

int64_t ReadCreationTime(int fd) {
    char value[32];
    ssize_t n = fgetxattr(fd, kCreatedAttr, value, sizeof(value) - 1);
    if (n > 0) {
        value[n] = '\0';
        return std::strtoll(value, nullptr, 10);
    }
    struct statx sx {};
    if (statx(fd, "", AT_EMPTY_PATH, STATX_BTIME | STATX_MTIME, &sx) == 0) {
        if ((sx.stx_mask & STATX_BTIME) != 0) return sx.stx_btime.tv_sec;
        return sx.stx_mtime.tv_sec;
    }
    struct stat st {};
    return fstat(fd, &st) == 0 ? st.st_mtime : 0;
}

void WriteCreationTime(int fd, int64_t seconds) {
    std::string value = std::to_string(seconds);
    fsetxattr(fd, kCreatedAttr, value.data(), value.size(), 0);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ParentFolder(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// A layered setting: the Debug key's value (default def), written back there,
// then the executable key's value with that as its default.
int32_t ReadLayeredInt(RegistryKey& debugKey, RegistryKey& exeKey, const char* name, int32_t def) {
    int32_t value = debugKey.ReadInt(name, def);
    debugKey.WriteInt(name, value);
    return exeKey.ReadInt(name, value);
}

uint32_t ReadLayeredDword(RegistryKey& debugKey, RegistryKey& exeKey, const char* name, uint32_t def) {
    uint32_t value = debugKey.ReadDword(name, def);
    debugKey.WriteDword(name, value);
    return exeKey.ReadDword(name, value);
}

std::string ReadLayeredString(RegistryKey& debugKey, RegistryKey& exeKey, const char* name,
                              const std::string& def) {
    std::string value = debugKey.ReadString(name, def.c_str(), 10240);
    debugKey.WriteString(name, value);
    return exeKey.ReadString(name, value.c_str(), 10240);
}

// 0 stays 0; any other value below the minimum becomes the minimum.
int32_t AtLeastUnlessZero(int32_t value, int32_t minimum) {
    return value != 0 && value < minimum ? minimum : value;
}

int32_t SaneBufferSize(int32_t value) {
    if (value < 100) return kDefaultBufferSize;
    return std::min(value, kMaxBufferSize);
}

uint64_t SaneQueueMaxLines(int64_t value) {
    if (value < 0) return kMaxQueueLines;
    if (value == 0) return 0;
    return std::clamp<uint64_t>(static_cast<uint64_t>(value), kMinQueueLines, kMaxQueueLines);
}

std::string OsReleaseValue(const std::string& key) {
    std::ifstream in("/etc/os-release");
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size() + 1, key + "=") != 0) continue;
        std::string value = line.substr(key.size() + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return std::string();
}

std::string OrNA(const std::string& text) { return text.empty() ? std::string("n/a") : text; }

std::string ArchitectureName(const std::string& machine) {
    if (machine == "x86_64") return "AMD64";
    if (machine == "i386") return "i386";
    if (machine == "i486") return "i486";
    if (machine == "i586") return "i586";
    if (machine == "i686") return "i586Pro";
    if (machine.rfind("mips", 0) == 0) return "mips";
    if (machine == "alpha") return "alpha";
    if (machine.rfind("ppc", 0) == 0) return "ppc";
    if (machine == "ia64") return "iA64";
    return std::string();
}

unsigned long CpuMegahertz() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("cpu MHz", 0) != 0) continue;
        size_t colon = line.find(':');
        if (colon == std::string::npos) break;
        return static_cast<unsigned long>(std::strtod(line.c_str() + colon + 1, nullptr));
    }
    return 0;
}

std::string UserName() {
    struct passwd* pw = getpwuid(geteuid());
    if (pw != nullptr && pw->pw_name != nullptr) return pw->pw_name;
    const char* env = std::getenv("USER");
    return env != nullptr ? env : "";
}

// The common application-data folder of this platform (per user).
std::string CommonAppDataFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && *state != '\0') return state;
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') return std::string(home) + "/.local/state";
    return "/var/tmp";
}

int LocalTimeFields(int64_t seconds, struct tm& out) {
    time_t t = static_cast<time_t>(seconds);
    return localtime_r(&t, &out) != nullptr ? 1 : 0;
}

}  // namespace

std::string PriorityName(int priority) {
    switch (priority) {
        case 0:
        case 32:
            return "NORMAL";
        case 1:
        case 32768:
            return "ABOVE_NORMAL";
        case 2:
            return "HIGHEST";
        case 15:
            return "TIME_CRITICAL";
        case 64:
        case -15:
            return "IDLE";
        case 128:
            return "HIGH";
        case 256:
            return "REALTIME";
        case 16384:
        case -1:
            return "BELOW_NORMAL";
        case -2:
            return "LOWEST";
        default:
            return (boost::format("UNKNOWN_PRIO.%1%") % priority).str();
    }
}

int EnsureDirectoryPath(const std::string& path) {
    if (path.empty()) return 0;
    if (IsFolder(path)) return 1;
    // Walk the components from the left, creating what is missing.
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        std::string prefix = path.substr(0, pos);
        if (prefix.empty() || IsFolder(prefix)) continue;
        if (mkdir(prefix.c_str(), 0777) != 0 && !IsFolder(prefix)) return 0;
    }
    return IsFolder(path) ? 1 : 0;
}

std::string NewGuidString() {
    std::random_device rd;
    std::mt19937_64 gen((static_cast<uint64_t>(rd()) << 32) ^ rd() ^
                        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    uint8_t bytes[16];
    for (size_t i = 0; i < sizeof(bytes); i += 8) {
        uint64_t v = gen();
        std::memcpy(bytes + i, &v, 8);
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // variant 1
    char text[37];
    std::snprintf(text, sizeof(text),
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9],
                  bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

void GzipFile(const std::string& source, const std::string& target) {
    FILE* in = std::fopen(source.c_str(), "rb");
    if (in == nullptr) return;
    FILE* out = std::fopen(target.c_str(), "wb");
    if (out == nullptr) {
        std::fclose(in);
        return;
    }
    z_stream zs{};
    // 15 window bits + 16: a gzip wrapper around the deflate stream.
    bool ok = deflateInit2(&zs, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    if (ok) {
        std::vector<unsigned char> inBuf(65536), outBuf(65536);
        int flush = Z_NO_FLUSH;
        do {
            size_t got = std::fread(inBuf.data(), 1, inBuf.size(), in);
            if (std::ferror(in)) {
                ok = false;
                break;
            }
            flush = std::feof(in) ? Z_FINISH : Z_NO_FLUSH;
            zs.next_in = inBuf.data();
            zs.avail_in = static_cast<uInt>(got);
            do {
                zs.next_out = outBuf.data();
                zs.avail_out = static_cast<uInt>(outBuf.size());
                int res = deflate(&zs, flush);
                if (res == Z_STREAM_ERROR) {
                    ok = false;
                    break;
                }
                size_t have = outBuf.size() - zs.avail_out;
                if (have > 0 && std::fwrite(outBuf.data(), 1, have, out) != have) {
                    ok = false;
                    break;
                }
            } while (zs.avail_out == 0);
        } while (ok && flush != Z_FINISH);
        deflateEnd(&zs);
    }
    std::fclose(in);
    if (std::fclose(out) != 0) ok = false;
    // An incomplete archive is worse than none.
    if (!ok) std::remove(target.c_str());
}

CDebug::CDebug(const std::string& logDir, const std::string& registryBase, const std::string& moduleSuffix,
               const DebugSettings* settings)
    : m_logDir(logDir), m_registryBase(registryBase) {
    m_mainThread = std::this_thread::get_id();
    m_moduleName = ModuleNameFromPath(ExecutablePath(), moduleSuffix);

    ReadSettings(settings);
    ChooseLogPath();

    DebugOutput((boost::format("Process '%1%': write log to: '%2%' and using registry: '%3%'") % m_moduleName %
                 m_logPath % m_registryBase)
                    .str());

    // With no rotation by age every run starts a new log.
    if (m_debugTime == 0 && FileExists(m_logPath)) unlink(m_logPath.c_str());

    // Writers of one log file take turns through an advisory lock on a file
    // beside it (other processes of the same program share it).
    if (!m_logPath.empty()) {
        m_lockPath = m_logPath + ".lock";
        m_lockFd = open(m_lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        bool existed = false;
        if (m_lockFd < 0 && errno == EEXIST) {
            existed = true;
            m_lockFd = open(m_lockPath.c_str(), O_RDWR | O_CLOEXEC);
        }
        if (existed && m_lockFd >= 0 && GetLevel() != 0) {
            // Another process may have left the log due for rotation.
            bool opened = false;
            bool owned = OpenLogFile(opened);
            CloseLogFile(owned);
        }
    }

    if (GetLevel() > 0) EnsureWriter();
}

CDebug::~CDebug() {
    // Senders end with the logger, before its writer stops.
    m_forwarding.RemoveAllAsyncSenders();
    Shutdown();
    if (m_lockFd >= 0) close(m_lockFd);
}

void CDebug::Shutdown() {
    // The writer goes first, so that the final flush below is the last one.
    std::unique_ptr<LogWriter> writer;
    {
        std::lock_guard<std::mutex> lock(m_writerLock);
        m_writerState.store(3);
        writer = std::move(m_writer);
    }
    if (writer) writer->Finish();
    writer.reset();
    Flush();
    m_level.store(0);
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_queue.clear();
}

void CDebug::ReadSettings(const DebugSettings* settings) {
    const std::string debugPath = m_registryBase + "\\Debug";
    RegistryKey debugKey(debugPath, true, RegistryKey::kFullAccess);
    RegistryKey exeKey(debugPath + "\\" + m_moduleName, true, RegistryKey::kFullAccess);

    if (settings != nullptr) {
        m_debugTime = settings->debugTime;
        m_debugSize = settings->debugSize;
        m_debugZipDays = settings->debugZipDays;
        m_debugOptions = settings->debugOptions;
        m_level.store(settings->level);
        m_bufferSize = SaneBufferSize(settings->bufferSize);
        m_halfBufferSize = settings->halfBufferSize;
    } else {
        m_debugTime = AtLeastUnlessZero(ReadLayeredInt(debugKey, exeKey, "DebugTime", 48), 48);
        m_bufferSize = SaneBufferSize(
            static_cast<int32_t>(ReadLayeredDword(debugKey, exeKey, "DebugBufferSize", kDefaultBufferSize)));
        m_halfBufferSize = m_bufferSize / 2;
        m_debugSize = AtLeastUnlessZero(ReadLayeredInt(debugKey, exeKey, "DebugSize", 100), 100);
        m_debugZipDays = AtLeastUnlessZero(ReadLayeredInt(debugKey, exeKey, "DebugZipDays", 2), 2);
        m_debugOptions = static_cast<int32_t>(ReadLayeredDword(debugKey, exeKey, "DebugOptions", 1));

        RegistryKey baseKey(m_registryBase, false, RegistryKey::kRead | RegistryKey::kWow64_32Key);
        int32_t base = baseKey.ReadInt("Debug", 0);
        int32_t level = ReadLayeredInt(debugKey, exeKey, "DebugLevel", base);
        m_level.store(level);
        g_debugLevel.store(level);
    }

    m_extension = ReadLayeredString(debugKey, exeKey, "DebugExtension", "log");
    m_queueMaxLines = SaneQueueMaxLines(ReadLayeredInt(debugKey, exeKey, "DebugQueueMaxLines", 50000));
    m_flushPeriod = AtLeastUnlessZero(ReadLayeredInt(debugKey, exeKey, "DebugFlushPeriod", 500), 500);
    m_filter = exeKey.ReadString("Filter", "", 10240);

    // Paths are case-sensitive here: the folder keeps its spelling.
    std::string exeFolder = misc_GetModuleDir();
    m_pathSetting = debugKey.ReadString("Path", exeFolder.c_str(), 10240);
    m_exeFolder = exeFolder;
}

void CDebug::ChooseLogPath() {
    const std::string fileName = m_moduleName + "." + m_extension;
    std::string folder = m_pathSetting;
    if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    if (!EnsureDirectoryPath(folder)) folder = m_exeFolder;

    if (!m_logDir.empty()) {
        m_logPath = m_logDir + "/" + fileName;
        return;
    }

    // The folder must be writable: try a scratch file and remove it again.
    std::string probe = folder + "/" + NewGuidString();
    int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        close(fd);
        unlink(probe.c_str());
        m_logPath = folder + "/" + fileName;
        return;
    }

    std::string common = CommonAppDataFolder() + "/GavexSoft/Vindara";
    if (EnsureDirectoryPath(common)) {
        m_logPath = common + "/" + fileName;
        return;
    }
    m_logPath.clear();
}

int64_t CDebug::NowSeconds() const {
    return static_cast<int64_t>(std::time(nullptr)) + m_clockOffset.load(std::memory_order_relaxed);
}

void CDebug::SetFreeSpaceProbeForTesting(std::function<uint64_t(const std::string&)> probe) {
    m_freeSpaceProbe = std::move(probe);
}

void CDebug::SetDebugOutputForTesting(std::function<void(const std::string&)> sink) {
    m_debugSink = std::move(sink);
}

void CDebug::DebugOutput(const std::string& text) const {
    if (m_debugSink) {
        m_debugSink(text);
        return;
    }
    // The debugger output of this platform is the standard error stream, used
    // only when the options ask for it.
    if ((m_debugOptions & 0xF0) != 0) std::fwrite(text.data(), 1, text.size(), stderr);
}

std::string CDebug::FormatLinePrefix(const TSS& time) const {
    char buffer[256];
    size_t n = FormatPrefixTo(buffer, sizeof(buffer), time);
    return std::string(buffer, n);
}

namespace {

// What the prefix shows of the calling thread. The system calls behind it
// cost more than the rest of a logging call, so each thread keeps them for a
// second (priorities may change; ids change only in a forked child).
struct ThreadFacts {
    unsigned long pid = 0;
    unsigned long tid = 0;
    const char* processPriority = "NORMAL";
    const char* threadPriority = "NORMAL";
    std::string unknownProcess, unknownThread;  // texts of unlisted values
    int64_t refreshedMs = INT64_MIN;
    int generation = -1;
};

std::atomic<int> g_forkGeneration{0};

void ForkedChild() { g_forkGeneration.fetch_add(1); }

int64_t CoarseMilliseconds() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

const char* PriorityText(int priority, std::string& unknown) {
    unknown = PriorityName(priority);
    return unknown.c_str();
}

const ThreadFacts& CurrentThreadFacts() {
    static const int registered = pthread_atfork(nullptr, nullptr, ForkedChild);
    (void)registered;
    thread_local ThreadFacts facts;
    const int generation = g_forkGeneration.load(std::memory_order_relaxed);
    const int64_t now = CoarseMilliseconds();
    if (facts.generation != generation || now - facts.refreshedMs >= 1000) {
        facts.pid = static_cast<unsigned long>(getpid());
        facts.tid = static_cast<unsigned long>(gettid());
        facts.processPriority =
            PriorityText(PriorityClassFromNice(NiceOf(static_cast<pid_t>(facts.pid))), facts.unknownProcess);
        facts.threadPriority =
            PriorityText(ThreadPriorityFromNice(NiceOf(static_cast<pid_t>(facts.tid))), facts.unknownThread);
        facts.generation = generation;
        facts.refreshedMs = now;
    }
    return facts;
}

}  // namespace

size_t CDebug::FormatPrefixTo(char* buffer, size_t size, const TSS& time) const {
    int cpu = sched_getcpu();
    if (cpu < 0) cpu = 0;
    const ThreadFacts& facts = CurrentThreadFacts();
    char date[32] = "";
    char clock[32] = "";
    time.FormatDate(date, true);
    time.FormatTime(clock, true);
    int n = std::snprintf(buffer, size, "[CPU=%04lu][PID=%08lu]:[%s]:[TID=%08lu%s]:[%s] [%s %s]",
                          static_cast<unsigned long>(cpu), facts.pid, facts.processPriority, facts.tid,
                          std::this_thread::get_id() == m_mainThread ? "(MAIN)" : "", facts.threadPriority,
                          date, clock);
    if (n < 0) return 0;
    return std::min(static_cast<size_t>(n), size - 1);
}

void CDebug::FormatAndEmit(int threshold, const char* tag, const char* format, va_list args,
                           bool applyFilter) {
    if (GetLevel() < threshold) return;
    TSS now;
    now.SetLocalNow();
    char line[kMaxLine + 2];
    size_t pos = FormatPrefixTo(line, sizeof(line), now);
    pos = AppendTo(line, pos, kMaxLine, tag, std::strlen(tag));
    // The caller's text is formatted on its own, so that what its arguments
    // carry is never read as a format.
    if (pos < kMaxLine) {
        int w = std::vsnprintf(line + pos, kMaxLine + 1 - pos, format, args);
        if (w > 0) pos = std::min(pos + static_cast<size_t>(w), kMaxLine);
    }
    pos = AppendTo(line, pos, kMaxLine, "\n", 1);
    Emit(line, pos, applyFilter);
}

void CDebug::EmitText(int threshold, const char* tag, const std::string& text) {
    if (GetLevel() < threshold) return;
    TSS now;
    now.SetLocalNow();
    char line[kMaxLine + 2];
    size_t pos = FormatPrefixTo(line, sizeof(line), now);
    pos = AppendTo(line, pos, kMaxLine, tag, std::strlen(tag));
    pos = AppendTo(line, pos, kMaxLine, text.data(), text.size());
    pos = AppendTo(line, pos, kMaxLine, "\n", 1);
    Emit(line, pos, true);
}

void CDebug::Emit(const char* line, size_t length, bool applyFilter) {
    const int32_t options = m_debugOptions;
    if ((options & 0x0F) != 0) {
        bool pass = !applyFilter || m_filter.empty() ||
                    std::string_view(line, length).find(m_filter) != std::string_view::npos;
        if (pass) Enqueue(line, length);
    }
    if ((options & 0xF0) != 0) {
        if (length > kMaxDebugOutput)
            DebugOutput(std::string(line, kMaxDebugOutput) + "\n");
        else
            DebugOutput(std::string(line, length));
    }
}

void CDebug::Trace(const char* format, ...) {
    if (GetLevel() < 3) return;
    va_list args;
    va_start(args, format);
    FormatAndEmit(3, " ", format, args, true);
    va_end(args);
}

void CDebug::Message(const char* format, ...) {
    if (GetLevel() < 2) return;
    va_list args;
    va_start(args, format);
    FormatAndEmit(2, " ", format, args, true);
    va_end(args);
}

void CDebug::Warning(const char* format, ...) {
    if (GetLevel() < 1) return;
    va_list args;
    va_start(args, format);
    FormatAndEmit(1, " !WARNING! ", format, args, true);
    va_end(args);
}

void CDebug::Trace(const boost::format& text) {
    if (GetLevel() < 3) return;
    EmitText(3, " ", text.str());
}

void CDebug::Message(const boost::format& text) {
    if (GetLevel() < 2) return;
    EmitText(2, " ", text.str());
}

void CDebug::Warning(const boost::format& text) {
    if (GetLevel() < 1) return;
    EmitText(1, " !WARNING! ", text.str());
}

void CDebug::PrintRaw(const char* format, ...) {
    if (GetLevel() < 2) return;
    char text[kMaxLine + 1];
    va_list args;
    va_start(args, format);
    int w = std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    if (w < 0) return;
    Emit(text, std::min(static_cast<size_t>(w), kMaxLine), true);
}

void CDebug::Error(const char* sourceFile, int line, const char* timeStamp, const char* format,
                   va_list args) {
    if (GetLevel() < 1) return;
    char text[kMaxLine + 1];
    int w = std::vsnprintf(text, sizeof(text), format, args);
    if (w < 0) w = 0;
    ErrorText(sourceFile, line, timeStamp, std::string(text, std::min(static_cast<size_t>(w), kMaxLine)));
}

void CDebug::ErrorText(const char* sourceFile, int line, const char* timeStamp, const std::string& text) {
    if (GetLevel() < 1) return;
    TSS now;
    now.SetLocalNow();
    char buffer[kMaxLine + 2];
    size_t pos = FormatPrefixTo(buffer, sizeof(buffer), now);
    pos = AppendTo(buffer, pos, kMaxLine, " #* ERROR *# ", 13);
    pos = AppendTo(buffer, pos, kMaxLine, text.data(), text.size());
    char tail[512];
    int t = std::snprintf(tail, sizeof(tail), " (file:%s line:%d ver:%s memory:%" PRIu64 " MB)\n",
                          FileNameOfSource(sourceFile).c_str(), line, timeStamp != nullptr ? timeStamp : "",
                          WorkingSetMegabytes());
    if (t > 0) pos = AppendTo(buffer, pos, kMaxLine, tail, std::min(static_cast<size_t>(t), sizeof(tail) - 1));
    // The filter never hides errors.
    Emit(buffer, pos, false);
}

void CDebug::Dump(const char* text) {
    if (GetLevel() < 1 || text == nullptr) return;
    Enqueue(text, std::strlen(text));
}

void CDebug::WriteHeader() {
    if (GetLevel() == 0 || (m_debugOptions & 0x0F) == 0) return;
    const std::string rule = std::string(117, '=') + "\n";
    auto queue = [this](const std::string& text) { Enqueue(text.data(), text.size()); };

    struct utsname un {};
    uname(&un);
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    const uint64_t ramMb = static_cast<uint64_t>(sysconf(_SC_PHYS_PAGES)) *
                           static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) / 1048576u;
    const std::string cpuText =
        (boost::format("%1% x %2% %3% MHz") % cpus % ArchitectureName(un.machine) % CpuMegahertz()).str();
    const std::string ramText = (boost::format("%1% MB") % ramMb).str();

    std::string product = OsReleaseValue("PRETTY_NAME");
    if (product.empty()) product = OsReleaseValue("NAME");
    const std::string platformText = (boost::format("OS: %1%, VER: %2%, BLD: %3%, TYP: %4%, EDT: %5%, MPS: %6%.") %
                                      OrNA(product) % OrNA(OsReleaseValue("VERSION_ID")) % OrNA(un.release) %
                                      OrNA(un.sysname) % OrNA(OsReleaseValue("VARIANT_ID")) % OrNA(un.version))
                                         .str();

    const std::string exe = ExecutablePath();
    std::string exeDate, exeTime;
    struct stat st {};
    struct tm tmv {};
    if (!exe.empty() && stat(exe.c_str(), &st) == 0 && LocalTimeFields(st.st_mtime, tmv)) {
        char d[32], t[32];
        std::snprintf(d, sizeof(d), "%.2d-%.2d-%.2d", tmv.tm_mday, tmv.tm_mon + 1,
                      tmv.tm_year + 1900 >= 2000 ? tmv.tm_year - 100 : tmv.tm_year);
        std::snprintf(t, sizeof(t), "%.2d:%.2d:%.2d", tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
        exeDate = d;
        exeTime = t;
    }
    char host[256] = "";
    gethostname(host, sizeof(host) - 1);

    queue(rule);
    queue("CPU: " + cpuText + ", RAM: " + ramText + "\n");
    queue("Platform: " + platformText + "\n");
    // The executable carries no version resource here: the version is empty.
    const std::string version;
    queue("Version: " + version + " (" + exeDate + " " + exeTime + ")");
    queue("\n");
    queue(std::string("Computer: ") + host + ", User: " + UserName() + ", Module: " + exe);
    queue("\n");
    queue(rule);
}

void CDebug::SetLevel(int level) {
    m_level.store(level);
    if (level > 0) EnsureWriter();
}

size_t CDebug::GetQueuedLineCount() const {
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_queue.size();
}

bool CDebug::HasWriter() const { return m_writerState.load() == 2; }

void CDebug::EnsureWriter() {
    if (m_writerState.load(std::memory_order_acquire) != 0) return;
    int expected = 0;
    // Only one caller starts the writer; a line logged while it starts (by the
    // thread code itself) finds the state 1 and goes on.
    if (!m_writerState.compare_exchange_strong(expected, 1)) return;
    auto writer = std::make_unique<LogWriter>(this, m_flushPeriod);
    bool started = writer->Begin();
    std::lock_guard<std::mutex> lock(m_writerLock);
    if (m_writerState.load() != 1) return;  // being destroyed
    if (started) {
        m_writer = std::move(writer);
        m_writerState.store(2, std::memory_order_release);
    } else {
        // No thread: the lines reach the file at the next FlushAndCopy or at
        // the end.
        m_writerState.store(3, std::memory_order_release);
    }
}

void CDebug::Enqueue(const char* text, size_t length) {
    if (GetLevel() <= 0) return;
    if (m_writerState.load(std::memory_order_relaxed) != 2) EnsureWriter();
    // Built before the lock is taken, so logging threads hold it only to
    // append.
    std::string line(text, std::min(length, static_cast<size_t>(m_bufferSize - 1)));
    std::lock_guard<std::mutex> lock(m_queueLock);
    if (m_queue.size() > m_queueMaxLines) {
        m_queue.pop_front();
        ++m_skipped;
    }
    m_queue.push_back(std::move(line));
}

void CDebug::DropQueue() {
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_queue.clear();
}

void CDebug::Flush() {
    if (GetLevel() <= 0) return;
    std::deque<std::string> lines;
    int32_t skipped = 0;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (m_queue.empty()) return;
        lines.swap(m_queue);
        skipped = m_skipped;
        m_skipped = 0;
    }
    bool opened = false;
    bool owned = OpenLogFile(opened);
    if (opened) {
        std::string batch;
        if (skipped != 0) {
            batch = (boost::format("\n##### Log queue overflow (max size:%1%). %2% log lines skipped #####\n\n") %
                     m_queueMaxLines % skipped)
                        .str();
        }
        for (const std::string& line : lines) {
            batch += line;
            if (batch.size() >= 65536) {
                if (!WriteToFile(batch)) {
                    batch.clear();
                    break;
                }
                batch.clear();
            }
        }
        if (!batch.empty()) WriteToFile(batch);
    }
    CloseLogFile(owned);
}

bool CDebug::WriteToFile(const std::string& text) {
    // Text mode of the log: every "\n" is written as CR LF.
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    const char* p = out.data();
    size_t left = out.size();
    while (left > 0) {
        ssize_t w = write(m_fileFd, p, left);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        left -= static_cast<size_t>(w);
    }
    return true;
}

bool CDebug::OpenLogFile(bool& fileOpened) {
    fileOpened = false;
    m_fileLock.lock();
    if (GetLevel() < 1) return false;

    bool owned = true;
    if (m_lockFd >= 0) {
        owned = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockWaitMs);
        for (;;) {
            if (flock(m_lockFd, LOCK_EX | LOCK_NB) == 0) {
                owned = true;
                break;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) {
                DebugOutput((boost::format("CDebug ownership of the mutex object error (%1%)\n") % errno).str());
                return false;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                DebugOutput("CDebug cannot get mutex ownership due to time-out\n");
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    m_fileFd = m_logPath.empty() ? -1 : open(m_logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (m_fileFd < 0) {
        const int err = m_logPath.empty() ? ENOENT : errno;
        DebugOutput((boost::format("CDebug Can't open LOG output file (%1%) %2%\n") % m_logPath %
                     GetSystemErrorMessage(err))
                        .str());
        return owned;
    }
    struct stat st {};
    if (fstat(m_fileFd, &st) != 0) {
        DebugOutput((boost::format("CDebug Can't Seek LOG output file (%1%) %2%\n") % m_logPath %
                     GetSystemErrorMessage(errno))
                        .str());
    } else if (st.st_size == 0) {
        WriteCreationTime(m_fileFd, NowSeconds());
    }
    fileOpened = true;
    return owned;
}

void CDebug::CloseLogFile(bool lockOwned) {
    if (m_fileFd >= 0) {
        struct stat st {};
        bool lengthRead = fstat(m_fileFd, &st) == 0;
        bool rotate = false;
        if (GetLevel() > 0 && lengthRead) {
            const uint64_t length = static_cast<uint64_t>(st.st_size);
            if (length > static_cast<uint64_t>(std::max(m_debugSize, 0)) * 1048576u) {
                rotate = true;
            } else if (m_debugTime != 0) {
                const int64_t ageHours = (NowSeconds() - ReadCreationTime(m_fileFd)) / 3600;
                rotate = ageHours > m_debugTime;
            }
        }
        close(m_fileFd);
        m_fileFd = -1;
        if (lengthRead && st.st_size == 0)
            unlink(m_logPath.c_str());
        else if (rotate)
            RotateLogFile();
    }
    if (lockOwned && m_lockFd >= 0) flock(m_lockFd, LOCK_UN);
    m_fileLock.unlock();
}

void CDebug::RotateLogFile() {
    const std::string backup = GetBackupPath();
    if (FileExists(backup)) {
        if (m_debugZipDays != 0) {
            RemoveOldArchives();
            struct tm tmv {};
            if (LocalTimeFields(NowSeconds(), tmv)) {
                char name[64];
                std::snprintf(name, sizeof(name), ".%04d-%02d-%02dT%02d-%02d-%02d.GZ", tmv.tm_year + 1900,
                              tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
                GzipFile(backup, m_logPath + name);
            }
        }
        unlink(backup.c_str());
    }
    std::rename(m_logPath.c_str(), backup.c_str());
}

void CDebug::RemoveOldArchives() {
    const std::string folder = ParentFolder(m_logPath);
    const std::string stem = m_logPath.substr(m_logPath.find_last_of('/') + 1) + ".";
    const int64_t now = NowSeconds();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        std::error_code typeError;
        if (entry.is_directory(typeError)) continue;
        const std::string name = entry.path().filename().string();
        // The archive search pattern: "<log name>.*.GZ".
        if (name.size() < stem.size() + 3 || name.compare(0, stem.size(), stem) != 0 ||
            name.compare(name.size() - 3, 3, ".GZ") != 0)
            continue;
        // The time stamp is the third dot-separated field of the name.
        size_t first = name.find('.');
        size_t second = first == std::string::npos ? first : name.find('.', first + 1);
        if (second == std::string::npos) continue;
        size_t third = name.find('.', second + 1);
        std::string stamp = name.substr(second + 1, third == std::string::npos ? third : third - second - 1);
        if (stamp.size() != 19) continue;
        auto num = [&stamp](size_t pos, size_t len) {
            return static_cast<int>(std::strtol(stamp.substr(pos, len).c_str(), nullptr, 10));
        };
        struct tm tmv {};
        tmv.tm_year = num(0, 4) - 1900;
        tmv.tm_mon = num(5, 2) - 1;
        tmv.tm_mday = num(8, 2);
        tmv.tm_hour = num(11, 2);
        tmv.tm_min = num(14, 2);
        tmv.tm_sec = num(17, 2);
        tmv.tm_isdst = -1;
        const time_t when = mktime(&tmv);
        if (when == static_cast<time_t>(-1)) continue;
        // An archive dated in the future (the clock was set back) is kept.
        if (when > now) continue;
        if (static_cast<uint64_t>(now - when) * 1000u > static_cast<uint64_t>(m_debugZipDays) * 86400000u)
            unlink((folder + "/" + name).c_str());
    }
}

bool CDebug::HasDiskSpace() const {
    const std::string folder = m_logPath.empty() ? std::string() : ParentFolder(m_logPath);
    uint64_t freeMb = 0;
    if (m_freeSpaceProbe) {
        freeMb = m_freeSpaceProbe(folder);
    } else {
        // The volume of the log folder, or of its nearest existing parent
        // (a folder given by the caller is not created in advance).
        std::string probe = folder;
        struct statvfs sv {};
        while (!probe.empty()) {
            if (statvfs(probe.c_str(), &sv) == 0) {
                freeMb = static_cast<uint64_t>(sv.f_bavail) * sv.f_frsize / 1048576u;
                break;
            }
            if (probe == "/" || probe == ".") break;
            probe = ParentFolder(probe);
        }
    }
    return freeMb > kMinFreeMegabytes;
}

bool CDebug::FlushAndCopy(const char* targetPath) {
    Flush();
    if (targetPath == nullptr) return true;
    std::lock_guard<std::recursive_mutex> lock(m_fileLock);
    std::error_code ec;
    return std::filesystem::copy_file(m_logPath, targetPath, std::filesystem::copy_options::overwrite_existing,
                                      ec) &&
           !ec;
}

}  // namespace QorLog

namespace {

std::recursive_mutex& GetterLock() {
    static std::recursive_mutex lock;
    return lock;
}

// At process exit the process-wide logger writes what is left and stops its
// writer; the object itself is not freed, so a late line from another
// static's destructor finds level 0 and is dropped safely. The holder is made
// after the logger, so it is destroyed before anything the logger's
// construction set up.
struct ProcessLoggerExit {
    QorLog::CDebug* instance;
    ~ProcessLoggerExit() { instance->Shutdown(); }
};

QorLog::CDebug* g_ownedInstance = nullptr;
std::atomic<QorLog::CDebug*> g_cachedInstance{nullptr};

}  // namespace

QorLog::CDebug* createDebugInstance(const char* logDir, const char* registryBase) {
    std::lock_guard<std::recursive_mutex> lock(GetterLock());
    if (g_ownedInstance == nullptr) {
        g_ownedInstance = new QorLog::CDebug(logDir != nullptr ? logDir : "",
                                             registryBase != nullptr ? registryBase : "");
        static ProcessLoggerExit atExit{g_ownedInstance};
        (void)atExit;
    }
    return g_ownedInstance;
}

QorLog::CDebug* getDebugInstance(const char* logDir, const char* registryBase) {
    // Every logging component calls this; once the logger exists it is one
    // atomic load.
    QorLog::CDebug* cached = g_cachedInstance.load(std::memory_order_acquire);
    if (cached != nullptr) return cached;
    std::lock_guard<std::recursive_mutex> lock(GetterLock());
    cached = g_cachedInstance.load(std::memory_order_relaxed);
    if (cached == nullptr) {
        cached = createDebugInstance(logDir, registryBase);
        g_cachedInstance.store(cached, std::memory_order_release);
    }
    return cached;
}

QorLog::CDebug* getDefaultDebugInstance() { return getDebugInstance("", QorLog::kProductRootKey); }

void ErrorSite::Report(const char* format, ...) const {
    if (logger == nullptr || logger->GetLevel() < 1) return;
    va_list args;
    va_start(args, format);
    logger->Error(sourceFile, line, timeStamp, format, args);
    va_end(args);
}

void ErrorSite::Report(const boost::format& text) const {
    if (logger == nullptr || logger->GetLevel() < 1) return;
    logger->ErrorText(sourceFile, line, timeStamp, text.str());
}
