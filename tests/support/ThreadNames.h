#pragma once
// The threads of this test process by name, for tests that check which
// workers an object starts.

#include <dirent.h>

#include <fstream>
#include <string>

namespace gavex_test {

// Threads of this process whose name is `name` (the kernel keeps 15
// characters of a thread's name).
inline int CountThreadsNamed(const std::string& name)
{
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
            std::string line;
            if (std::getline(comm, line) && line == name)
                ++count;
        }
        ::closedir(dir);
    }
    return count;
}

}  // namespace gavex_test
