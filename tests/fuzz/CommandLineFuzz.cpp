// A command line as a shell, a launcher or a second instance hands it over:
// split, read and converted without ending the process; joined again, its
// arguments split back the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "app/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line = gavexfuzz::Text(data, size);
    const std::vector<std::string> arguments = SplitCommandLine(line);
    if (SplitCommandLine(JoinCommandLine(arguments)) != arguments) __builtin_trap();
    const CommandLineResult result = BuildCommandLineOptions(line);
    if (result.rejected && result.error.empty()) __builtin_trap();
    return 0;
}
