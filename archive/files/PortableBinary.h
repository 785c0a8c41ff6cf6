#pragma once

// The portable binary archive of the frame index blob.
//
// Every integer is stored as a "portable integer": one size byte s followed by
// |s| magnitude bytes. The value 0 is the single byte 00; otherwise n is the
// number of significant bytes of |v| (1..8), s = n for v >= 0 and s = -n (as a
// signed byte) for v < 0, and the n bytes are |v| least significant first
// (most significant first when the archive's flags hold kEndianBig).
// Examples: 1 = 01 01, 22 = 01 16, 1000 = 02 E8 03, -1 = FF 01.
// Single bytes and string contents are copied raw.
//
// Header (unless kNoHeader): the signature as a string (portable integer 22 and
// the 22 bytes "serialization::archive"), the library version 9 as a portable
// integer, then one raw byte holding the flags shifted right by 8.
//
// Errors are boost::archive::archive_exception with the serialization
// library's codes (invalid_signature 3, unsupported_version 4,
// input_stream_error 8, output_stream_error 13); an integer too wide for its
// field raises portable_binary_iarchive_exception (code other_exception).

#include <boost/archive/archive_exception.hpp>

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace PortableArchiveFlags {
constexpr unsigned kNoHeader = 0x0001;
constexpr unsigned kEndianBig = 0x4000;
constexpr unsigned kEndianLittle = 0x8000;
} // namespace PortableArchiveFlags

// The archive signature and the library version this system writes and the
// newest it reads.
constexpr const char* kArchiveSignature = "serialization::archive";
constexpr unsigned kArchiveLibraryVersion = 9;

// Bytes between the stream's read position and its end, or SIZE_MAX when the
// stream cannot seek. Decoders use it to refuse counts their bytes cannot hold.
size_t StreamBytesLeft(std::streambuf& buf);

class portable_binary_iarchive_exception : public boost::archive::archive_exception {
public:
    portable_binary_iarchive_exception();
    const char* what() const noexcept override;
};

class portable_binary_oarchive_exception : public boost::archive::archive_exception {
public:
    portable_binary_oarchive_exception();
    const char* what() const noexcept override;
};

class portable_binary_oarchive {
public:
    // Writes the header unless flags hold kNoHeader. Both endian flags at once
    // raise portable_binary_oarchive_exception.
    explicit portable_binary_oarchive(std::ostream& out, unsigned flags = 0);

    void SaveInteger(int64_t value);
    void SaveByte(uint8_t value);
    void SaveBinary(const void* data, size_t size);
    void SaveString(const std::string& text);

    unsigned Flags() const { return m_flags; }

private:
    std::streambuf& m_buf;
    unsigned m_flags;
};

class portable_binary_iarchive {
public:
    // Reads and checks the header unless flags hold kNoHeader, then the flags
    // byte (shifted left by 8 into the archive's flags).
    explicit portable_binary_iarchive(std::istream& in, unsigned flags = 0);

    // Reads a portable integer into a field of `width` bytes (1..8). The value
    // is returned sign-extended; callers store it into the field's type.
    int64_t LoadInteger(unsigned width);
    uint8_t LoadByte();
    void LoadBinary(void* data, size_t size);

    // Bytes left in the stream, or SIZE_MAX when the stream cannot tell.
    size_t Remaining() const;

    unsigned Flags() const { return m_flags; }

private:
    std::streambuf& m_buf;
    unsigned m_flags;
};
