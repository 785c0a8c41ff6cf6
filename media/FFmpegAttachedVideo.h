#pragma once
// Video carried by a portable player: a copy of the executable with the
// exported video appended behind a fixed 54-byte marker and a 16-byte
// password digest. Only the first 50 MiB of a file are searched.

#include <array>
#include <cstdint>
#include <string>

namespace filters {

inline constexpr char kEmbeddedVideoMarker[] = "GAVEX_NEXT_VIDEO{8F804080-93E9-4EE5-B9DB-47127EB61F32}";
inline constexpr size_t kEmbeddedVideoMarkerSize = sizeof(kEmbeddedVideoMarker) - 1;  // 54
inline constexpr int64_t kEmbeddedVideoSearchWindow = 0x3200000;

using EmbeddedVideoDigest = std::array<uint8_t, 16>;

// The first marker in the window that is followed by the digest and at least
// one more byte: offset = first byte after the digest. Logs "File '%1%'
// contains video at %2%" or "File '%1%' does not contain video". Returns
// offset > 0 (offset 0 when the file cannot be read or holds no marker).
bool FileContainVideo(const std::string& path, int64_t& offset, EmbeddedVideoDigest& digest);

// The answer of FileContainVideo for `path`, or for the parent process's
// executable when path is empty, taken once per process and cached.
bool GetEmbeddedVideo(int64_t& offset, EmbeddedVideoDigest& digest, const std::string& path = {});

}  // namespace filters
