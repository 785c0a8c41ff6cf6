// Program folder and system error texts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/ModuleDir.h"

namespace {

TEST(ModuleDir, IsTheFolderOfTheRunningExecutable) {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    ASSERT_GT(n, 0);
    std::string exe(buffer, static_cast<size_t>(n));
    std::string dir = misc_GetModuleDir();
    EXPECT_EQ(dir + "/" + exe.substr(exe.find_last_of('/') + 1), exe);
    EXPECT_NE(dir.back(), '/');
}

TEST(ModuleDir, FolderPartOfAPath) {
    struct Case {
        const char* path;
        const char* dir;
    } cases[] = {
        {"/opt/gavex/bin/player", "/opt/gavex/bin"},
        {"/opt/player", "/opt"},
        {"/player", "error in misc_GetModuleDir1"},  // only the first character separates
        {"player", "error in misc_GetModuleDir1"},
        {"", "error in misc_GetModuleDir1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(ModuleDirFromExecutablePath(c.path), c.dir);
    }
}

TEST(ModuleDir, SystemErrorMessage) {
    EXPECT_EQ(GetSystemErrorMessage(ENOENT), "No such file or directory");
    EXPECT_EQ(GetSystemErrorMessage(ENOSPC), "No space left on device");
    EXPECT_EQ(GetSystemErrorMessage(987654), "");
}

}  // namespace
