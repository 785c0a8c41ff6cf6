// The application's settings file ("<program>.xml"). A file that does not
// read throws; anything else is a finding. What reads saves and reads again.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "FuzzSupport.h"
#include "config/QApplicationSettings.h"

namespace {

std::wstring Wide(const std::string& path) { return std::wstring(path.begin(), path.end()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = gavexfuzz::WriteInput("Gavex_player.xml", data, size);
    QApplicationSettings settings;
    try {
        settings.ReadFile(Wide(path));
    } catch (const std::exception&) {
        return 0;
    }
    const std::string copy = gavexfuzz::WorkDir() + "/Gavex_player.copy.xml";
    if (!settings.SaveToFile(Wide(copy))) __builtin_trap();
    QApplicationSettings again;
    again.ReadFile(Wide(copy));
    if (again.SoundVolume.load() != settings.SoundVolume.load()) __builtin_trap();
    return 0;
}
