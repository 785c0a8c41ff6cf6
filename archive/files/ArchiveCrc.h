#pragma once

#include <cstddef>
#include <cstdint>

// Checksum of the archive video file's index trailer: CRC-32 over the
// reflected polynomial 0xEDB88320 with the register starting at 0 and no final
// inversion (so it differs from the common CRC-32; "abc" gives 0xCA6598D0).
// `crc` carries the register of an earlier call, so data may come in pieces.
uint32_t ArchiveCrc32(const void* data, size_t size, uint32_t crc = 0);
