// An archive's Settings.xml. A damaged file is an archive exception; anything
// else is a finding. What loads saves and loads again.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "FuzzSupport.h"
#include "archive/files/ArchiveSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = gavexfuzz::WriteInput("Settings.xml", data, size);
    Settings settings;
    try {
        settings.Load(path);
    } catch (const boost::archive::archive_exception&) {
        return 0;
    }
    const std::string copy = gavexfuzz::WorkDir() + "/Settings.copy.xml";
    settings.Save(copy);
    Settings again;
    again.Load(copy);
    if (again.GetChannelCount() != settings.GetChannelCount()) __builtin_trap();
    return 0;
}
