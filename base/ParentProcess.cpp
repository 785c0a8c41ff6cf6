#include "base/ParentProcess.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <vector>

#include "base/Log.h"

ParentProcessLocator::ParentProcessLocator(std::string procRoot, QorLog::CDebug* logger)
    : m_procRoot(std::move(procRoot)), m_logger(logger)
{
}

QorLog::CDebug* ParentProcessLocator::Logger() const
{
    return m_logger ? m_logger : getDefaultDebugInstance();
}

long ParentProcessLocator::ReadParentId() const
{
    std::ifstream in(m_procRoot + "/self/stat", std::ios::binary);
    if (!in)
        return 0;
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // "pid (comm) state ppid ...": the command name may hold blanks and
    // parentheses, so the fields are counted from the last ')'.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    const char* p = stat.c_str() + close + 1;
    while (*p == ' ')
        ++p;
    if (*p == '\0')
        return 0;
    ++p; // state
    char* end = nullptr;
    errno = 0;
    const long ppid = std::strtol(p, &end, 10);
    if (end == p || errno != 0 || ppid <= 0)
        return 0;
    return ppid;
}

std::string ParentProcessLocator::GetPath()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_path.empty())
        return m_path;

    QorLog::CDebug* log = Logger();
    log->Message("Getting parent process path");
    const long ppid = ReadParentId();
    if (ppid == 0) {
        log->Message("Failed to create toolhelp snapshot");
        return m_path;
    }
    const std::string entry = m_procRoot + "/" + std::to_string(ppid);
    struct stat st{};
    if (::stat(entry.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        log->Message("Failed to open parent process");
        return m_path;
    }
    // Linux paths are byte strings; the product's paths are UTF-8, so the
    // link's bytes are the answer as they are.
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t got = ::readlink((entry + "/exe").c_str(), buffer.data(), buffer.size());
    if (got <= 0 || static_cast<size_t>(got) >= buffer.size()) {
        log->Message("Failed to get parent process path");
        return m_path;
    }
    m_path.assign(buffer.data(), static_cast<size_t>(got));
    log->Message("Parent process path: %s", m_path.c_str());
    return m_path;
}

std::string GetParentProcessPath()
{
    // Constructed on first use; the logger is resolved at each lookup.
    static ParentProcessLocator locator;
    return locator.GetPath();
}
