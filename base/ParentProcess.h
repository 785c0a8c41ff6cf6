// Path of the executable of the process that started this one.
#pragma once

#include <mutex>
#include <string>

namespace QorLog {
class CDebug;
}

// The full path (UTF-8) of the parent process's executable; empty when it
// cannot be found. Looked up once: a successful answer is kept for the rest
// of the process and later calls return it without logging; after a failure
// the next call tries again. Safe on any thread (calls are serialised).
//
// The lookup logs "Getting parent process path", then "Parent process path:
// %s" or one of "Failed to create toolhelp snapshot" (this process's status
// cannot be read), "Failed to open parent process" (the parent's entry is
// gone or not accessible), "Failed to get parent process path" (its
// executable link cannot be read), all at message level.
//
// A parent that has ended and whose id was reused gives that other process's
// path; this is not detected.
std::string GetParentProcessPath();

// The lookup behind GetParentProcessPath over a process file system mounted
// at procRoot ("/proc"), with its own cache and lock. The logger is the
// process-wide one when null.
class ParentProcessLocator
{
public:
    explicit ParentProcessLocator(std::string procRoot = "/proc", QorLog::CDebug* logger = nullptr);

    std::string GetPath();

private:
    QorLog::CDebug* Logger() const;
    // Parent id from <procRoot>/self/stat; 0 when it cannot be read.
    long ReadParentId() const;

    std::mutex m_lock;
    std::string m_procRoot;
    QorLog::CDebug* m_logger;
    std::string m_path;
};
