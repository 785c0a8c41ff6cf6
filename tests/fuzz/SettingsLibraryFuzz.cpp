// The settings library's product.config: loaded, a value stored and saved,
// then loaded again. What loads takes the value, and the library's own file
// loads back with it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzSupport.h"
#include "settingslib/SettingsDocument.h"

using namespace cantorel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        // Load reports a file that does not parse on standard output.
        return std::freopen("/dev/null", "w", stdout) != nullptr;
    }();
    (void)quiet;
    gavexfuzz::WriteInput("product.config", data, size);
    const WString dir = Utf8ToUtf16(gavexfuzz::WorkDir());
    SettingsDocument doc(dir.c_str());
    if (doc.Load() != kResultOk) return 0;
    doc.SetValue(u"Culture", u"de-DE");
    const WString* set = doc.GetValue(u"culture");
    if (!set || *set != u"de-DE") __builtin_trap();
    if (doc.Save() != kResultOk) __builtin_trap();
    SettingsDocument again(dir.c_str());
    if (again.Load() != kResultOk) __builtin_trap();
    const WString* read = again.GetValue(u"Culture");
    if (!read || *read != u"de-DE") __builtin_trap();
    return 0;
}
