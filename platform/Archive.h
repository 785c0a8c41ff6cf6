// Byte archive over a platform::File: the serialisation encoding of the
// messaging and frame objects.
//
// Encoding (all numbers little-endian, signed values two's complement):
// - 8/16/32/64-bit integers and doubles: their bytes as they are.
// - Text: a length prefix, then the bytes, no terminator.
//     length < 255            : 1 byte
//     255 .. 65533            : 0xFF, uint16 length
//     65534 .. 4294967294     : 0xFF, uint16 0xFFFF, uint32 length
//     longer                  : 0xFF, uint16 0xFFFF, uint32 0xFFFFFFFF, uint64
//   A stored text that begins 0xFF, uint16 0xFFFE is UTF-16: a length prefix
//   of the same scheme follows, counting 16-bit units, then the units. It is
//   read as UTF-8 (the narrow encoding on this platform).
// - Count (map sizes): uint16 when < 0xFFFF; else 0xFFFF and uint32 when
//   < 0xFFFFFFFF; else 0xFFFFFFFF and uint64.
// - Bulk data: the bytes as they are (written in pieces of at most 30720
//   bytes, which does not show in the stream).
//
// Errors are platform::ArchiveException: endOfFile for a short read or a
// length that runs past the end of the data, readOnly for a write into a
// loading archive, writeOnly for a read from a storing archive.
//
// The archive does not own the file and keeps no buffer of its own: every
// call reads or writes the file at its current position, so callers may mix
// archive calls with direct file access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/File.h"

namespace platform {

// A stored object whose bytes contradict themselves (a damaged compressed
// block, a count larger than the data): cause genericException, with a text
// saying what was wrong.
class ArchiveFormatException : public ArchiveException {
public:
    ArchiveFormatException(std::string fileName, std::string detail);
    const char* what() const noexcept override { return m_text.c_str(); }
    std::string GetErrorMessage() const override { return m_text; }
    const std::string& Detail() const { return m_detail; }

private:
    std::string m_detail;
    std::string m_text;
};

class Archive {
public:
    enum Mode { store = 0, load = 1 };

    // The file must outlive the archive.
    Archive(File& file, Mode mode);

    bool IsLoading() const { return m_mode == load; }
    bool IsStoring() const { return m_mode == store; }
    File& GetFile() const { return m_file; }

    // Schema stored with the object being read by class; kNoSchema when the
    // object is not read by class. The class reader sets it before calling
    // the object's Serialize and resets it afterwards.
    static constexpr unsigned kNoSchema = 0xFFFFFFFF;
    unsigned GetObjectSchema() const { return m_objectSchema; }
    void SetObjectSchema(unsigned schema) { m_objectSchema = schema; }

    // Bytes from the current position to the end of the file.
    uint64_t Remaining() const;

    // Raw bytes.
    void Write(const void* data, size_t size);
    // Reads exactly size bytes; endOfFile when fewer remain.
    void Read(void* data, size_t size);

    // Raises ArchiveFormatException; for callers that find their own bytes
    // inconsistent.
    [[noreturn]] void ThrowFormatError(const std::string& what) const;

    void WriteString(const std::string& text);
    std::string ReadString();
    void WriteCount(uint64_t count);
    uint64_t ReadCount();

    Archive& operator<<(uint8_t v) { return WriteValue(v); }
    Archive& operator<<(int8_t v) { return WriteValue(v); }
    Archive& operator<<(uint16_t v) { return WriteValue(v); }
    Archive& operator<<(int16_t v) { return WriteValue(v); }
    Archive& operator<<(uint32_t v) { return WriteValue(v); }
    Archive& operator<<(int32_t v) { return WriteValue(v); }
    Archive& operator<<(uint64_t v) { return WriteValue(v); }
    Archive& operator<<(int64_t v) { return WriteValue(v); }
    Archive& operator<<(double v) { return WriteValue(v); }
    Archive& operator<<(float v) { return WriteValue(v); }
    Archive& operator<<(const std::string& v) { WriteString(v); return *this; }

    Archive& operator>>(uint8_t& v) { return ReadValue(v); }
    Archive& operator>>(int8_t& v) { return ReadValue(v); }
    Archive& operator>>(uint16_t& v) { return ReadValue(v); }
    Archive& operator>>(int16_t& v) { return ReadValue(v); }
    Archive& operator>>(uint32_t& v) { return ReadValue(v); }
    Archive& operator>>(int32_t& v) { return ReadValue(v); }
    Archive& operator>>(uint64_t& v) { return ReadValue(v); }
    Archive& operator>>(int64_t& v) { return ReadValue(v); }
    Archive& operator>>(double& v) { return ReadValue(v); }
    Archive& operator>>(float& v) { return ReadValue(v); }
    Archive& operator>>(std::string& v) { v = ReadString(); return *this; }

    // Largest piece written to the file in one call.
    static constexpr size_t kMaxPiece = 30720;

private:
    template <typename T>
    Archive& WriteValue(T v) {
        unsigned char bytes[sizeof(T)];
        StoreLE(bytes, v);
        Write(bytes, sizeof(T));
        return *this;
    }
    template <typename T>
    Archive& ReadValue(T& v) {
        unsigned char bytes[sizeof(T)];
        Read(bytes, sizeof(T));
        LoadLE(bytes, v);
        return *this;
    }
    // Byte order is fixed (little-endian) whatever the host's.
    template <typename T>
    static void StoreLE(unsigned char* out, T v) {
        using U = std::conditional_t<sizeof(T) == 1, uint8_t,
                  std::conditional_t<sizeof(T) == 2, uint16_t,
                  std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
        U u;
        std::memcpy(&u, &v, sizeof(T));
        for (size_t i = 0; i < sizeof(T); ++i) out[i] = static_cast<unsigned char>(u >> (8 * i));
    }
    template <typename T>
    static void LoadLE(const unsigned char* in, T& v) {
        using U = std::conditional_t<sizeof(T) == 1, uint8_t,
                  std::conditional_t<sizeof(T) == 2, uint16_t,
                  std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
        U u = 0;
        for (size_t i = 0; i < sizeof(T); ++i) u |= static_cast<U>(static_cast<U>(in[i]) << (8 * i));
        std::memcpy(&v, &u, sizeof(T));
    }

    uint64_t ReadLengthAfterMarker();
    [[noreturn]] void ThrowEndOfFile() const;

    File& m_file;
    Mode m_mode;
    unsigned m_objectSchema = kNoSchema;
};

// Encoding helpers on plain byte vectors, for fixtures and in-memory use.
void AppendStringBytes(std::vector<uint8_t>& out, const std::string& text);
void AppendCountBytes(std::vector<uint8_t>& out, uint64_t count);

}  // namespace platform
