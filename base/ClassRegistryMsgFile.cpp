#include "base/ClassRegistryMsgFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <vector>

#include "base/Log.h"
#include "base/ModuleDir.h"
#include "platform/Archive.h"

namespace {

constexpr size_t kPiece = 30720;
constexpr size_t kMaxComputerName = 100;
constexpr size_t kMaxPath = 260;
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ull;
constexpr const char* kVisitedParam = "visited_slaves";

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Closes a descriptor at the end of its scope.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() { Close(); }
    void Close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

bool IsDirectory(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool HasParentComponent(const std::string& path)
{
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (path.compare(start, end - start, "..") == 0 && end - start == 2)
            return true;
        start = end + 1;
    }
    return false;
}

void WriteFileTime(platform::Archive& ar, uint64_t time)
{
    ar << static_cast<uint32_t>(time & 0xFFFFFFFFu) << static_cast<uint32_t>(time >> 32);
}

uint64_t ReadFileTime(platform::Archive& ar)
{
    uint32_t low = 0;
    uint32_t high = 0;
    ar >> low >> high;
    return (static_cast<uint64_t>(high) << 32) | low;
}

bool WriteAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

ssize_t ReadSome(int fd, uint8_t* data, size_t size)
{
    for (;;) {
        const ssize_t n = ::read(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

} // namespace

uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds)
{
    return static_cast<uint64_t>(seconds * 10000000 + nanoseconds / 100) + kUnixEpochFileTime;
}

void UnixFromFileTime(uint64_t fileTime, int64_t& seconds, int64_t& nanoseconds)
{
    const int64_t ticks = static_cast<int64_t>(fileTime - kUnixEpochFileTime);
    seconds = ticks / 10000000;
    nanoseconds = (ticks % 10000000) * 100;
    if (nanoseconds < 0) {
        nanoseconds += 1000000000;
        --seconds;
    }
}

bool CreateDirectoryPath(const std::string& path)
{
    std::string p = path.substr(0, kMaxPath);
    std::replace(p.begin(), p.end(), '\\', '/');
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (p.empty())
        return false;

    size_t start = 0;
    if (p.size() >= 2 && p[0] == '/' && p[1] == '/') {
        // Server and share name an existing place; only what follows is made.
        const size_t server = p.find('/', 2);
        if (server == std::string::npos)
            return false;
        const size_t share = p.find('/', server + 1);
        if (share == std::string::npos)
            return false;
        start = share + 1;
    } else if (p.size() >= 2 && p[1] == ':') {
        start = (p.size() > 2 && p[2] == '/') ? 3 : 2;
    } else if (p[0] == '/') {
        start = 1;
    }

    for (size_t sep = p.find('/', start); ; sep = p.find('/', sep + 1)) {
        const std::string level = sep == std::string::npos ? p : p.substr(0, sep);
        if (!level.empty() && !IsDirectory(level) && ::mkdir(level.c_str(), 0777) != 0 &&
            errno != EEXIST)
            return false;
        if (sep == std::string::npos)
            break;
    }
    return IsDirectory(p);
}

MsgFile::MsgFile() = default;

MsgFile::MsgFile(const std::string& source) : m_strSource(source)
{
    const std::string moduleDir = misc_GetModuleDir();
    if (!moduleDir.empty() && m_strSource.find(moduleDir) != std::string::npos)
        m_strTarget = m_strSource.substr(moduleDir.size());
    Fd fd(m_strSource.empty() ? -1 : ::open(m_strSource.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0) {
        m_strSource = moduleDir + m_strSource;
        fd.fd = ::open(m_strSource.c_str(), O_RDONLY | O_CLOEXEC);
    }
    fd.Close();
    m_nStatus = ReadTimes(m_strSource) ? 1 : 0;
}

QorLog::CDebug* MsgFile::Log() const
{
    return m_log ? m_log : getDefaultDebugInstance();
}

std::string MsgFile::ThisComputerName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return std::string();
    return std::string(name).substr(0, kMaxComputerName);
}

bool MsgFile::IsVisited(const std::string& computer) const
{
    const std::string wanted = Upper(computer.substr(0, kMaxComputerName));
    const std::string list = m_msg.GetParam(kVisitedParam);
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start && list.compare(start, end - start, wanted) == 0 && end - start == wanted.size())
            return true;
        start = end + 1;
    }
    return false;
}

void MsgFile::AddVisited(const std::string& computer)
{
    const std::string name = Upper(computer.substr(0, kMaxComputerName));
    const std::string list = m_msg.GetParam(kVisitedParam);
    if (list.empty())
        m_msg.SetParam(kVisitedParam, name);
    else if (!IsVisited(name))
        m_msg.SetParam(kVisitedParam, list + "," + name);
}

bool MsgFile::ReadTimes(const std::string& path)
{
    Fd fd(path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0)
        return false;
    struct statx sx{};
    if (::statx(fd.fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return false;
    m_ftLastAccess = FileTimeFromUnix(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
    m_ftLastWrite = FileTimeFromUnix(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    // Without a birth time the last write is the closest answer.
    m_ftCreation = (sx.stx_mask & STATX_BTIME) != 0
                       ? FileTimeFromUnix(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
                       : m_ftLastWrite;
    return true;
}

void MsgFile::Serialize(platform::Archive& archive)
{
    if (archive.IsStoring())
        Store(archive);
    else
        Load(archive);
}

void MsgFile::Store(platform::Archive& ar)
{
    AddVisited();
    ar << m_msg.FormatText();
    ar << m_strTarget;

    {
        Fd probe(m_strSource.empty() ? -1 : ::open(m_strSource.c_str(), O_RDONLY | O_CLOEXEC));
        if (probe.fd < 0) {
            QOR_LOG_ERROR(Log(), "Failed to open file (%s)", m_strSource.c_str());
            m_nStatus = 0;
        } else if (!ReadTimes(m_strSource)) {
            QOR_LOG_ERROR(Log(), "Failed to get file time (%s)", m_strSource.c_str());
            m_nStatus = 0;
        }
    }

    Fd fd(m_strSource.empty() ? -1 : ::open(m_strSource.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st{};
    // A file of 4 GB or more cannot be announced in the 32-bit size.
    if (fd.fd < 0 || ::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) > 0xFFFFFFFFull) {
        QOR_LOG_ERROR(Log(), "Incorrect source file %s", m_strSource.c_str());
        ar << static_cast<uint32_t>(0);
        return;
    }
    m_nSize = static_cast<uint32_t>(st.st_size);
    ar << m_nSize;
    if (m_nSize == 0) {
        // The reader stops after a size of 0, so nothing more is written:
        // the status word would put every later object out of step.
        QOR_LOG_ERROR(Log(), "Zero length file %s", m_strSource.c_str());
        m_nStatus = 0;
        return;
    }
    WriteFileTime(ar, m_ftCreation);
    WriteFileTime(ar, m_ftLastAccess);
    WriteFileTime(ar, m_ftLastWrite);

    std::vector<uint8_t> piece(kPiece);
    size_t lastPiece = 0;
    uint32_t written = 0;
    while (written < m_nSize) {
        const size_t want = std::min<size_t>(kPiece, m_nSize - written);
        const ssize_t n = ReadSome(fd.fd, piece.data(), want);
        if (n <= 0)
            break;
        ar.Write(piece.data(), static_cast<size_t>(n));
        written += static_cast<uint32_t>(n);
        lastPiece = static_cast<size_t>(n);
    }
    // A file that shrank while it was sent is padded with its last piece
    // (zeros when nothing could be read), so the reader gets the announced
    // number of bytes.
    if (lastPiece == 0) {
        std::fill(piece.begin(), piece.end(), 0);
        lastPiece = piece.size();
    }
    while (written < m_nSize) {
        const size_t n = std::min<size_t>(lastPiece, m_nSize - written);
        ar.Write(piece.data(), n);
        written += static_cast<uint32_t>(n);
    }
    fd.Close();
    ar << static_cast<int32_t>(1);
}

void MsgFile::Load(platform::Archive& ar)
{
    const unsigned schema = ar.GetObjectSchema();
    if (schema == platform::Archive::kNoSchema || schema > 1) {
        const std::string text = ar.ReadString();
        m_msg.SetType(text.substr(0, text.find('|')));
        m_msg.FromText(text);
    }
    ar >> m_strTarget;

    std::string name = m_strTarget;
    if (!name.empty() && name[0] == '*')
        name.erase(0, 1);
    if (name.size() > 1 && name[1] != ':' && name[0] == '\\')
        name = misc_GetModuleDir() + name;
    std::string local = name;
    std::replace(local.begin(), local.end(), '\\', '/');

    const size_t sep = local.rfind('/');
    if (sep == std::string::npos || HasParentComponent(local)) {
        QOR_LOG_ERROR(Log(), "Bad file name %s\n", name.c_str());
        m_nStatus = 0;
        return;
    }
    const std::string folder = sep == 0 ? std::string("/") : local.substr(0, sep);
    if (!CreateDirectoryPath(folder)) {
        QOR_LOG_ERROR(Log(), "Failed to create directory %s\n", folder.c_str());
        m_nStatus = 0;
        return;
    }

    ar >> m_nSize;
    if (m_nSize == 0 || name.empty()) {
        QOR_LOG_ERROR(Log(), "Size %lu or name %s is incorrect", static_cast<unsigned long>(m_nSize),
                      name.c_str());
        return;
    }

    Fd fd(::open(local.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.fd < 0) {
        QOR_LOG_ERROR(Log(), "Failed to create %s", local.c_str());
        m_nStatus = 0;
    }
    m_ftCreation = ReadFileTime(ar);
    m_ftLastAccess = ReadFileTime(ar);
    m_ftLastWrite = ReadFileTime(ar);

    std::vector<uint8_t> piece(kPiece);
    bool writeFailed = false;
    for (uint32_t left = m_nSize; left > 0;) {
        const size_t n = std::min<size_t>(kPiece, left);
        // A truncated stream ends here with the archive's end-of-file error.
        ar.Read(piece.data(), n);
        if (fd.fd >= 0 && !writeFailed && !WriteAll(fd.fd, piece.data(), n))
            writeFailed = true;
        left -= static_cast<uint32_t>(n);
    }
    fd.Close();
    ar >> m_nStatus;
    if (writeFailed) {
        QOR_LOG_ERROR(Log(), "Failed to create %s", local.c_str());
        m_nStatus = 0;
    }

    Fd again(::open(local.c_str(), O_WRONLY | O_CLOEXEC));
    if (again.fd < 0) {
        QOR_LOG_ERROR(Log(), "Failed to open file (%s)", local.c_str());
        m_nStatus = 0;
        return;
    }
    timespec times[2];
    int64_t seconds = 0;
    int64_t nanoseconds = 0;
    UnixFromFileTime(m_ftLastAccess, seconds, nanoseconds);
    times[0] = {static_cast<time_t>(seconds), static_cast<long>(nanoseconds)};
    UnixFromFileTime(m_ftLastWrite, seconds, nanoseconds);
    times[1] = {static_cast<time_t>(seconds), static_cast<long>(nanoseconds)};
    if (::futimens(again.fd, times) != 0) {
        QOR_LOG_ERROR(Log(), "Failed to set file time (%s)", local.c_str());
        m_nStatus = 0;
    }
}
