// Program folder and system error text.
#pragma once

#include <string>

// Folder of the running executable, without a trailing separator. Never
// throws: on failure returns "error in misc_GetModuleDir" (the executable
// cannot be found) or "error in misc_GetModuleDir1" (its path has no
// separator after the first character). Separators stay '/' on this
// platform.
std::string misc_GetModuleDir();

// The system's text for an errno value; empty when the system has none.
std::string GetSystemErrorMessage(int code);

// The folder part of an executable path by the rules of misc_GetModuleDir.
std::string ModuleDirFromExecutablePath(const std::string& path);
