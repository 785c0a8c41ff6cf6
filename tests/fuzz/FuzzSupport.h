// Shared pieces of the fuzz targets: a private folder per process (removed at
// exit) and the registry store pointed into it, so that a target never reads
// or writes the machine's settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace gavexfuzz {

// The process's private folder (created on first use).
const std::string& WorkDir();

// Writes the bytes to WorkDir()/name and returns the path.
std::string WriteInput(const std::string& name, const uint8_t* data, size_t size);

inline std::string Text(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace gavexfuzz
