// The settings store's files. A file that parses answers its values and takes
// a write without losing what it held.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "platform/RegistryStore.h"

using platform::RegistryScope;
using platform::RegistryStore;
using platform::RegistryValue;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string machine = gavexfuzz::WriteInput("fuzz_machine.reg", data, size);
    const std::string user = gavexfuzz::WorkDir() + "/fuzz_user.reg";
    RegistryStore store(machine, user);
    const char* keys[] = {"SOFTWARE\\QOR\\Vindara", "SOFTWARE\\QOR\\Vindara\\Video", "A", ""};
    for (const char* key : keys) {
        store.KeyExists(RegistryScope::Machine, key);
        for (const char* name : {"", "MaxFrames", "Level", "Blob", "a"})
            store.GetValue(RegistryScope::Machine, key, name);
    }
    if (store.SetValue(RegistryScope::Machine, "SOFTWARE\\QOR\\Fuzz", "Value", RegistryValue::Text("x\n\"y\"")) &&
        store.GetValue(RegistryScope::Machine, "SOFTWARE\\QOR\\Fuzz", "Value") != RegistryValue::Text("x\n\"y\""))
        __builtin_trap();
    return 0;
}
