// The records of an exported media file, from the description in its
// "comment" (the input as given, and as the body of a declared document), and
// the recorded times read the way the records read them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "media/MediaFileRecord.h"

namespace {

void CheckRecords(const std::string& comment) {
    MediaFileRecord file;
    file.path = gavexfuzz::WorkDir() + "/export.mkv";
    file.name = L"export";
    std::vector<MediaFileRecord> records;
    filters::ReadRecInfoRecords(comment, file, records);
    for (const MediaFileRecord& r : records) {
        // Items whose times do not read, or end before they start, are
        // refused; a zone is at most a day from UTC.
        if (r.length <= 0) __builtin_trap();
        if (r.timeShift < -86400 || r.timeShift > 86400) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = gavexfuzz::Text(data, size);
    CheckRecords(text);
    CheckRecords("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n" + text);
    bool valid = false;
    ParseRecInfoTime(text, "%Y-%m-%dT%H-%M-%S", '.', true, &valid);
    ParseRecInfoTime(text, "%Y-%m-%d %H-%M-%S", '_', false, &valid);
    try {
        ParseTimeZoneOffset(text);
    } catch (const std::exception&) {
    }
    return 0;
}
