#include <cstdio>

#include "base/ProcessValues.h"

int main(int argc, char** argv)
{
    // Process-wide values (crash handler first) come before anything else runs.
    InitProcessValues();
    (void)argc;
    (void)argv;
    std::printf("Gavex Player\n");
    return 0;
}
