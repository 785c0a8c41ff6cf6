// Prints the processor slot chosen at start-up and the detected best slot.
#include <cstdio>

#include "imaging/primitives/CpuDispatch.h"

int main()
{
    std::printf("%d %d\n", CpuVariantIndex.load(), DetectCpuVariantIndex());
    return 0;
}
