// The search for a portable player's video: the marker, then the 16-byte
// key, then at least one byte of video. Checked against a plain search.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <QtGlobal>

#include "FuzzSupport.h"
#include "config/QApplicationSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    (void)quiet;
    const std::string path = gavexfuzz::WriteInput("player", data, size);
    int64_t offset = -1;
    EmbeddedVideoKey key{};
    const bool found = QApplicationSettings::FileContainVideo(path, offset, key, false);

    // The first marker decides: a later one lies even closer to the end.
    const uint8_t* marker = reinterpret_cast<const uint8_t*>(kEmbeddedVideoMarker);
    const uint8_t* at = std::search(data, data + size, marker, marker + kEmbeddedVideoMarkerSize);
    const size_t video = static_cast<size_t>(at - data) + kEmbeddedVideoMarkerSize + key.size();
    const bool expected = at != data + size && video < size;
    if (found != expected) __builtin_trap();
    if (found && (offset != static_cast<int64_t>(video) ||
                  std::memcmp(key.data(), data + video - key.size(), key.size()) != 0))
        __builtin_trap();
    if (!found && offset != 0) __builtin_trap();
    return 0;
}
