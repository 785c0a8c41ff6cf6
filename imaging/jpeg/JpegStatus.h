#pragma once
// Result codes of the JPEG classes (a separate set from PrimitiveStatus: the
// same numbers mean different things). The JPEG classes throw nothing.

#include <cstdint>

using JpegStatus = std::int32_t;

namespace JpegStatusCode {
inline constexpr JpegStatus Ok = 0;
inline constexpr JpegStatus NotSupported = -1;     // open by name, seek origin, colour pair, scan form
inline constexpr JpegStatus InternalError = -2;    // an image primitive or a table set-up step failed
inline constexpr JpegStatus BadParameter = -3;     // null block, coding process, table index, image size
inline constexpr JpegStatus BufferExhausted = -4;  // a stream cannot supply or take the bytes asked for
inline constexpr JpegStatus ShortWrite = -5;       // the output stream took fewer bytes than offered
inline constexpr JpegStatus NoMemory = -6;         // an aligned allocation returned null
inline constexpr JpegStatus BadImageData = -7;
inline constexpr JpegStatus BadFrameHeader = -8;
inline constexpr JpegStatus BadQuantTableSegment = -9;
inline constexpr JpegStatus BadHuffmanTableSegment = -10;
inline constexpr JpegStatus BadScanHeader = -11;
inline constexpr JpegStatus BadRestartSegment = -12;
}  // namespace JpegStatusCode
