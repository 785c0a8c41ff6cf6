#pragma once
// A small memory file system mounted on a temporary folder for the life of
// the object, for tests of full disks. Mounting needs root (or a user
// namespace); a test checks mounted() and skips where it failed.

#include <sys/mount.h>

#include <string>

#include "support/TempDir.h"

namespace gavex_test {

class ScopedTmpfs {
public:
    // size as mount(8) takes it: "2m", "8m".
    ScopedTmpfs(const std::string& tag, const std::string& size) : m_dir(tag)
    {
        const std::string options = "size=" + size;
        m_mounted = ::mount("tmpfs", m_dir.path().c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~ScopedTmpfs()
    {
        if (m_mounted)
            ::umount2(m_dir.path().c_str(), MNT_DETACH);
    }
    ScopedTmpfs(const ScopedTmpfs&) = delete;
    ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;

    bool mounted() const { return m_mounted; }
    const std::string& path() const { return m_dir.path(); }

private:
    TempDir m_dir;
    bool m_mounted = false;
};

}  // namespace gavex_test
