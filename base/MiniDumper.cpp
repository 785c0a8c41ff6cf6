#include "base/MiniDumper.h"

#include "base/Registry.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <execinfo.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Everything the handler reads lives in fixed static storage, set up before
// any crash can happen; setters copy with bounds.
constexpr size_t kTextMax = 260;     // folder and extension: at most 259 characters
constexpr size_t kNameMax = 4096;    // full file names built at crash time
constexpr size_t kMessageMax = 256;  // system-log text: at most 255 characters

struct CrashState
{
    char dumpDir[kTextMax];
    char exeDir[kTextMax];
    char appName[kTextMax];
    char logExtension[kTextMax];
    char version[64];
    char syslogPath[sizeof(sockaddr_un::sun_path)];
    std::atomic<int> showCrashMessage{0};
    std::atomic<bool> reportEvent{false};
    std::atomic<bool> fullDump{false};
    // Local time = UTC + offset, taken when the settings are set up (the
    // handler cannot call localtime).
    std::atomic<long> utcOffsetSeconds{0};
    // Thread id of the thread writing a dump, 0 when none.
    std::atomic<long> owner{0};
    std::atomic<bool> installed{false};
};

CrashState g_crash;

const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

void CopyBounded(char* dst, size_t cap, const char* src)
{
    size_t n = 0;
    if (src != nullptr)
        for (; src[n] != '\0' && n + 1 < cap; ++n)
            dst[n] = src[n];
    dst[n] = '\0';
}

// --- async-signal-safe text building ---------------------------------------

// Appends to a fixed buffer; remembers when something did not fit.
struct Builder
{
    char* buf;
    size_t cap;
    size_t len = 0;
    bool overflow = false;

    Builder(char* b, size_t c) : buf(b), cap(c) { buf[0] = '\0'; }

    Builder& Add(const char* s)
    {
        for (; *s != '\0'; ++s) {
            if (len + 1 >= cap) {
                overflow = true;
                break;
            }
            buf[len++] = *s;
        }
        buf[len] = '\0';
        return *this;
    }
    Builder& AddChar(char c)
    {
        const char s[2] = {c, '\0'};
        return Add(s);
    }
    // Decimal, zero-padded to `width` digits.
    Builder& AddInt(long value, int width = 0)
    {
        char digits[24];
        int n = 0;
        const bool negative = value < 0;
        unsigned long v = negative ? 0UL - static_cast<unsigned long>(value)
                                   : static_cast<unsigned long>(value);
        do {
            digits[n++] = char('0' + v % 10);
            v /= 10;
        } while (v != 0 && n < 22);
        while (n < width && n < 22)
            digits[n++] = '0';
        if (negative)
            AddChar('-');
        while (n > 0)
            AddChar(digits[--n]);
        return *this;
    }
    Builder& AddHex(uintptr_t value)
    {
        char digits[20];
        int n = 0;
        do {
            digits[n++] = "0123456789abcdef"[value & 15];
            value >>= 4;
        } while (value != 0 && n < 18);
        Add("0x");
        while (n > 0)
            AddChar(digits[--n]);
        return *this;
    }
};

// printf subset of the crash messages: %s takes the next text, %d the number.
void FormatMessage(Builder& out, const char* format, const char* s1, const char* s2, int number)
{
    const char* texts[2] = {s1, s2};
    int nextText = 0;
    for (const char* p = format; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out.Add(nextText < 2 && texts[nextText] != nullptr ? texts[nextText] : "");
            ++nextText;
            ++p;
        } else if (p[0] == '%' && p[1] == 'd') {
            out.AddInt(number);
            ++p;
        } else {
            out.AddChar(*p);
        }
    }
}

// Civil date of a day count since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(long days, long& year, int& month, int& day)
{
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long doe = days - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

// ".%Y-%m-%d.%H-%M-%S" of the local time now.
void AddCrashTime(Builder& out)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const long local = long(now.tv_sec) + g_crash.utcOffsetSeconds.load();
    long days = local / 86400;
    long secs = local % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    long year;
    int month, day;
    CivilFromDays(days, year, month, day);
    out.AddChar('.').AddInt(year, 4).AddChar('-').AddInt(month, 2).AddChar('-').AddInt(day, 2);
    out.AddChar('.').AddInt(secs / 3600, 2).AddChar('-').AddInt(secs / 60 % 60, 2).AddChar('-');
    out.AddInt(secs % 60, 2);
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool WriteText(int fd, const char* text) { return WriteAll(fd, text, strlen(text)); }

// Copies `in` from its position to its end into `out`. False when a write
// fails; a read error just ends the copy.
bool CopyToEnd(int in, int out)
{
    char buf[8192];
    for (;;) {
        const ssize_t r = read(in, buf, sizeof buf);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return true;
        if (!WriteAll(out, buf, size_t(r)))
            return false;
    }
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool EqualNoCase(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (AsciiLower(*a) != AsciiLower(*b))
            return false;
    return *a == *b;
}

// Finds `name` in `folder` without regard to case (as the log's name was
// chosen on a case-insensitive system) through raw directory reads.
bool FindNoCase(const char* folder, const char* name, char* found, size_t cap)
{
    const int dir = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    alignas(8) char buf[4096];
    bool ok = false;
    for (;;) {
        const long n = syscall(SYS_getdents64, dir, buf, sizeof buf);
        if (n <= 0)
            break;
        for (long pos = 0; pos < n;) {
            // struct linux_dirent64: u64 ino, s64 off, u16 reclen, u8 type, name
            unsigned short reclen;
            memcpy(&reclen, buf + pos + 16, sizeof reclen);
            const char* entry = buf + pos + 19;
            if (EqualNoCase(entry, name)) {
                CopyBounded(found, cap, entry);
                ok = strlen(entry) < cap;
                break;
            }
            pos += reclen;
        }
        if (ok)
            break;
    }
    close(dir);
    return ok;
}

// Copies <dump folder>/<app>.<log extension> to <dump path>.dml; failures
// are ignored.
void CopyLogBesideDump(const char* dumpPath)
{
    char target[kNameMax];
    Builder t(target, sizeof target);
    t.Add(dumpPath).Add(".dml");
    char logName[kTextMax * 2];
    Builder n(logName, sizeof logName);
    n.Add(g_crash.appName).AddChar('.').Add(g_crash.logExtension);
    if (t.overflow || n.overflow)
        return;

    // The folder is the dump path up to and including its last separator.
    char folder[kNameMax];
    CopyBounded(folder, sizeof folder, dumpPath);
    char* slash = strrchr(folder, '/');
    if (slash == nullptr)
        return;
    slash[1] = '\0';

    char foundName[256];
    if (!FindNoCase(folder, logName, foundName, sizeof foundName))
        return;
    char source[kNameMax];
    Builder s(source, sizeof source);
    s.Add(folder).Add(foundName);
    if (s.overflow)
        return;

    const int in = open(source, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return;
    const int out = open(target, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out >= 0) {
        CopyToEnd(in, out);
        close(out);
    }
    close(in);
}

// One line to the system log: "<11>" (user facility, error) + the
// application name + ": " + the text, as a datagram to the log socket.
void ReportCrashToSystemLog(const char* message)
{
    char line[kMessageMax + kTextMax + 16];
    Builder b(line, sizeof line);
    b.Add("<11>").Add(g_crash.appName).Add(": ").Add(message);
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    CopyBounded(addr.sun_path, sizeof addr.sun_path, g_crash.syslogPath);
    sendto(fd, line, b.len, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    close(fd);
}

const char* SignalName(int sig)
{
    switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
    }
}

// Dump contents: what the crash was, where, and the memory map. Returns
// false when any write failed (disk full, file size limit).
bool WriteDump(int fd, int sig, const siginfo_t* info)
{
    char head[512];
    Builder h(head, sizeof head);
    h.Add("Application: ").Add(g_crash.appName).Add("\n");
    h.Add("Process: ").AddInt(long(getpid())).Add("\n");
    h.Add("Thread: ").AddInt(long(syscall(SYS_gettid))).Add("\n");
    h.Add("Signal: ").AddInt(sig).Add(" (").Add(SignalName(sig)).Add(")\n");
    if (info != nullptr) {
        h.Add("Code: ").AddInt(info->si_code).Add("\n");
        h.Add("Address: ").AddHex(reinterpret_cast<uintptr_t>(info->si_addr)).Add("\n");
    }
    h.Add("Backtrace:\n");
    bool ok = WriteAll(fd, head, h.len);

    void* frames[128];
    const int depth = backtrace(frames, 128);
    backtrace_symbols_fd(frames, depth, fd);

    ok = WriteText(fd, "Memory map:\n") && ok;
    const int maps = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps >= 0) {
        ok = CopyToEnd(maps, fd) && ok;
        close(maps);
    }
    // backtrace_symbols_fd reports nothing; the closing line shows whether the
    // file still took writes after it.
    ok = WriteText(fd, "End of dump\n") && ok;
    return ok;
}

void WriteCrashReport(int sig, const siginfo_t* info)
{
    char message[kMessageMax];
    Builder msg(message, sizeof message);

    char base[kNameMax];
    Builder b(base, sizeof base);
    b.Add(g_crash.dumpDir);
    if (b.len > 0 && base[b.len - 1] != '/')
        b.AddChar('/');
    b.Add(g_crash.appName);
    AddCrashTime(b);
    b.Add("-x64-").Add(g_crash.version);
    char tmpPath[kNameMax];
    char dumpPath[kNameMax];
    Builder tmp(tmpPath, sizeof tmpPath);
    Builder dmp(dumpPath, sizeof dumpPath);
    tmp.Add(base).Add(".tmp");
    dmp.Add(base).Add(".dmp");
    // Room for the ".dml" of the log copy as well.
    if (b.overflow || tmp.overflow || dmp.overflow || dmp.len + 4 >= sizeof dumpPath) {
        FormatMessage(msg, CrashMessages::kCreateFailed, g_crash.appName, tmpPath, ENAMETOOLONG);
    } else {
        const int fd = open(tmpPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) {
            FormatMessage(msg, CrashMessages::kCreateFailed, g_crash.appName, tmpPath, errno);
        } else {
            errno = 0;
            const bool written = WriteDump(fd, sig, info);
            const int writeError = errno;
            const bool closed = close(fd) == 0;
            if (written && closed) {
                FormatMessage(msg, CrashMessages::kDumpWritten, g_crash.appName, dumpPath, 0);
                // Only a complete dump takes the final name.
                rename(tmpPath, dumpPath);
                CopyLogBesideDump(dumpPath);
            } else {
                FormatMessage(msg, CrashMessages::kDumpFailed, g_crash.appName, tmpPath,
                              writeError != 0 ? writeError : EIO);
            }
        }
    }
    if (g_crash.reportEvent.load())
        ReportCrashToSystemLog(message);
}

void CrashHandler(int sig, siginfo_t* info, void*)
{
    const int savedErrno = errno;
    const long self = long(syscall(SYS_gettid));
    long expected = 0;
    if (g_crash.owner.compare_exchange_strong(expected, self)) {
        WriteCrashReport(sig, info);
    } else if (expected != self) {
        // Another thread is writing the dump; it ends the process.
        for (;;)
            pause();
    }
    // This handler was installed with SA_RESETHAND: the signal now has its
    // default action. Re-raising it (delivered when the handler returns, or
    // by the faulting instruction running again) ends the process as before,
    // with a core dump where the system writes one.
    errno = savedErrno;
    signal(sig, SIG_DFL);
    raise(sig);
}

long CurrentUtcOffset()
{
    const time_t now = time(nullptr);
    tm local{};
    if (localtime_r(&now, &local) == nullptr)
        return 0;
    return local.tm_gmtoff;
}

void SetExecutableNames()
{
    char exe[kNameMax];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        CopyBounded(g_crash.exeDir, sizeof g_crash.exeDir, ".");
        CopyBounded(g_crash.appName, sizeof g_crash.appName, "program");
        return;
    }
    exe[n] = '\0';
    char* slash = strrchr(exe, '/');
    const char* file = slash != nullptr ? slash + 1 : exe;
    char name[kTextMax];
    CopyBounded(name, sizeof name, file);
    if (char* dot = strrchr(name, '.'); dot != nullptr && dot != name)
        *dot = '\0';
    CopyBounded(g_crash.appName, sizeof g_crash.appName, name);
    if (slash != nullptr) {
        *slash = '\0';
        CopyBounded(g_crash.exeDir, sizeof g_crash.exeDir, exe[0] != '\0' ? exe : "/");
    } else {
        CopyBounded(g_crash.exeDir, sizeof g_crash.exeDir, ".");
    }
}

void ApplyFullDump(bool on)
{
    if (!on)
        return;
    // Let the kernel write a core when the re-raised signal ends the process.
    rlimit limit{};
    if (getrlimit(RLIMIT_CORE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_CORE, &limit);
    }
    prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
}

} // namespace

MiniDumper::~MiniDumper() = default;

MiniDumper* InstallCrashHandler(int showCrashMessage)
{
    SetExecutableNames();
    CopyBounded(g_crash.dumpDir, sizeof g_crash.dumpDir, g_crash.exeDir);
    if (g_crash.logExtension[0] == '\0')
        CopyBounded(g_crash.logExtension, sizeof g_crash.logExtension, "LOG");
    if (g_crash.syslogPath[0] == '\0')
        CopyBounded(g_crash.syslogPath, sizeof g_crash.syslogPath, "/dev/log");
    g_crash.utcOffsetSeconds = CurrentUtcOffset();
    g_crash.showCrashMessage = showCrashMessage;

    CrashSettingsKey key;
    if (key.IsOpen()) {
        const std::string fullDump = key.ReadString("FullDump", nullptr, 10240);
        if (fullDump.empty() || std::strtol(fullDump.c_str(), nullptr, 10) == -1)
            key.WriteFullDump(g_crash.fullDump.load() ? 1 : 0);
        const std::string extension = key.ReadString("DebugExtension", "LOG", 260);
        if (!extension.empty())
            SetCrashLogExtension(extension.c_str());
    }

    if (!g_crash.installed.exchange(true)) {
        // backtrace() loads its unwinder on first use, which allocates: do it
        // now, not inside the handler.
        void* warm[4];
        backtrace(warm, 4);

        // The handler must run even when the main thread's stack overflowed
        // (an alternate stack is per thread: other threads get none).
        static char alternateStack[128 * 1024];
        stack_t ss{};
        ss.ss_sp = alternateStack;
        ss.ss_size = sizeof alternateStack;
        sigaltstack(&ss, nullptr);

        struct sigaction action{};
        action.sa_sigaction = &CrashHandler;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        for (int sig : kSignals)
            sigaction(sig, &action, nullptr);
    }
    return new MiniDumper();
}

void SetMiniDumpDirectory(const char* folder)
{
    if (g_crash.exeDir[0] == '\0')
        SetExecutableNames();
    if (folder != nullptr && folder[0] != '\0')
        CopyBounded(g_crash.dumpDir, sizeof g_crash.dumpDir, folder);
    else
        CopyBounded(g_crash.dumpDir, sizeof g_crash.dumpDir, g_crash.exeDir);
}

void SetCrashLogExtension(const char* extension)
{
    if (extension != nullptr && extension[0] != '\0')
        CopyBounded(g_crash.logExtension, sizeof g_crash.logExtension, extension);
}

void SetShowCrashMessage(int value) { g_crash.showCrashMessage = value; }
void SetReportWindowsLogEvent(bool value) { g_crash.reportEvent = value; }

void SetFullDump(bool value)
{
    g_crash.fullDump = value;
    ApplyFullDump(value);
}

void SetCrashFileVersion(const char* version)
{
    CopyBounded(g_crash.version, sizeof g_crash.version, version);
}

void SetCrashSystemLogPath(const char* socketPath)
{
    CopyBounded(g_crash.syslogPath, sizeof g_crash.syslogPath,
                socketPath != nullptr && socketPath[0] != '\0' ? socketPath : "/dev/log");
}

int GetShowCrashMessage() { return g_crash.showCrashMessage.load(); }
bool GetReportWindowsLogEvent() { return g_crash.reportEvent.load(); }
bool GetFullDump() { return g_crash.fullDump.load(); }
std::string GetMiniDumpDirectory() { return g_crash.dumpDir; }
std::string GetCrashLogExtension() { return g_crash.logExtension; }
std::string GetCrashApplicationName()
{
    if (g_crash.appName[0] == '\0')
        SetExecutableNames();
    return g_crash.appName;
}

// --- crash settings in the product root key ----------------------------------

namespace {
constexpr const char kProductRootKey[] = "SOFTWARE\\QOR\\Vindara";

// The switch as a number: strtol of the text, 1 when missing or empty.
long ReadCrashSwitch(const char* name)
{
    CrashSettingsKey key;
    if (!key.IsOpen())
        return 1;
    const std::string text = key.ReadString(name, nullptr, 10240);
    return text.empty() ? 1 : std::strtol(text.c_str(), nullptr, 10);
}
} // namespace

CrashSettingsKey::CrashSettingsKey() : m_strPath(kProductRootKey)
{
    m_key = std::make_unique<RegistryKey>(m_strPath, false, RegistryKey::kFullAccess);
    if (m_key->IsOpen())
        m_nResult = 0;
    else
        Create(m_strPath.c_str());
}

CrashSettingsKey::~CrashSettingsKey() = default;

bool CrashSettingsKey::Create(const char* path)
{
    if (m_key == nullptr)
        m_key = std::make_unique<RegistryKey>(path, false, RegistryKey::kFullAccess);
    const bool ok = m_key->Create(path);
    m_nResult = ok ? 0 : 1;
    return ok;
}

std::string CrashSettingsKey::ReadString(const char* name, const char* defaultValue,
                                         uint32_t bufferSize)
{
    if (!IsOpen())
        return defaultValue != nullptr ? defaultValue : "";
    return m_key->ReadString(name, defaultValue, bufferSize);
}

bool CrashSettingsKey::WriteFullDump(int value)
{
    return IsOpen() && m_key->WriteInt("FullDump", value);
}

int ReadShowCrashMessage() { return int(ReadCrashSwitch("ShowCrashMessage")); }
bool ReadReportWindowsLogEvent() { return ReadCrashSwitch("ReportWindowsLogEvent") != 0; }
bool ReadFullDump() { return ReadCrashSwitch("FullDump") != 0; }
