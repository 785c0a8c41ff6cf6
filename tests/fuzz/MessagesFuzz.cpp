// Messages as they arrive from another process: the object form of messages,
// events and reacts (plain and zip form), an object read by class through the
// class registry, and the parameter text form.
#include <cstddef>
#include <cstdint>
#include <span>

#include "FuzzSupport.h"
#include "base/ClassRegistry.h"
#include "base/Messages.h"
#include "platform/Archive.h"
#include "platform/File.h"

namespace {

template <class Message>
void LoadObjectForm(const uint8_t* data, size_t size) {
    platform::MemFile file{std::span<const uint8_t>(data, size)};
    platform::Archive ar(file, platform::Archive::load);
    Message* message = new Message();
    try {
        message->Serialize(ar);
        message->FormatParams();
    } catch (const platform::Exception&) {
    }
    message->Release();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool registered = [] {
        RegisterNetObjectClasses();
        return true;
    }();
    (void)registered;
    LoadObjectForm<Msg>(data, size);
    LoadObjectForm<Event>(data, size);
    LoadObjectForm<React>(data, size);
    {
        platform::MemFile file{std::span<const uint8_t>(data, size)};
        platform::Archive ar(file, platform::Archive::load);
        try {
            ObjectArchive objects(ar);
            // Messages only: a file message would write its file.
            if (CNetObject* object = objects.ReadObject("Msg")) object->Release();
        } catch (const platform::Exception&) {
        }
    }
    Msg parsed;
    parsed.ParseParams(gavexfuzz::Text(data, size));
    Msg again;
    again.ParseParams(parsed.FormatParams());
    return 0;
}
