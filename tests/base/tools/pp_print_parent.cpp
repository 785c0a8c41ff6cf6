// Prints the parent process path twice (the second answer comes from the
// cache) on one line each; exits 1 when it is empty.
#include <cstdio>
#include <string>

#include "base/ParentProcess.h"

int main()
{
    const std::string first = GetParentProcessPath();
    const std::string second = GetParentProcessPath();
    std::printf("%s\n%s\n", first.c_str(), second.c_str());
    return first.empty() ? 1 : 0;
}
