#include "archive/files/ArchiveCrc.h"

#include <array>

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        table[i] = value;
    }
    return table;
}

// Built at compile time; shared by the writer and every reader.
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

} // namespace

uint32_t ArchiveCrc32(const void* data, size_t size, uint32_t crc)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i)
        crc = (crc >> 8) ^ kCrcTable[(crc ^ bytes[i]) & 0xFF];
    return crc;
}
