#pragma once
// Keeps the graphics drivers a test process has loaded (Mesa's DRI drivers)
// mapped until the process ends. Mesa unloads a driver when its last display
// goes (eglTerminate, or its exit handlers), which is before the leak check
// runs: the driver's globals, which still hold its one-time allocations, go
// with it, and those allocations would read as leaks of code no longer
// there. Kept loaded, they stay reachable, as in a process that goes on.

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <string>
#include <vector>

namespace testsupport {

inline void KeepGraphicsDriversLoaded()
{
    std::vector<std::string> drivers;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            if (info->dlpi_name != nullptr && std::strstr(info->dlpi_name, "/dri/") != nullptr)
                static_cast<std::vector<std::string>*>(data)->push_back(info->dlpi_name);
            return 0;
        },
        &drivers);
    // Opening a loaded library again with RTLD_NODELETE marks it never to be
    // unmapped; the extra reference is given back at once.
    for (const std::string& path : drivers)
        if (void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE))
            dlclose(handle);
}

}  // namespace testsupport
