#include "archive/files/PortableBinary.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <limits>
#include <ostream>

using boost::archive::archive_exception;

portable_binary_iarchive_exception::portable_binary_iarchive_exception()
    : archive_exception(archive_exception::other_exception)
{
}

const char* portable_binary_iarchive_exception::what() const noexcept
{
    return "integer cannot be represented";
}

portable_binary_oarchive_exception::portable_binary_oarchive_exception()
    : archive_exception(archive_exception::other_exception)
{
}

const char* portable_binary_oarchive_exception::what() const noexcept
{
    return "cannot be both big and little endian";
}

namespace {

std::streambuf& BufferOf(std::ios& stream, archive_exception::exception_code error)
{
    if (!stream.rdbuf())
        throw archive_exception(error);
    return *stream.rdbuf();
}

} // namespace

portable_binary_oarchive::portable_binary_oarchive(std::ostream& out, unsigned flags)
    : m_buf(BufferOf(out, archive_exception::output_stream_error))
    , m_flags(flags)
{
    using namespace PortableArchiveFlags;
    if ((flags & kEndianBig) && (flags & kEndianLittle))
        throw portable_binary_oarchive_exception();
    if (!(flags & kNoHeader)) {
        SaveString(kArchiveSignature);
        SaveInteger(kArchiveLibraryVersion);
    }
    SaveByte(static_cast<uint8_t>(m_flags >> 8));
}

void portable_binary_oarchive::SaveInteger(int64_t value)
{
    uint8_t bytes[9];
    if (value == 0) {
        SaveByte(0);
        return;
    }
    const bool negative = value < 0;
    // Magnitude as unsigned so that INT64_MIN keeps its 8 bytes.
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    int size = 0;
    while (magnitude != 0) {
        bytes[1 + size++] = static_cast<uint8_t>(magnitude & 0xFF);
        magnitude >>= 8;
    }
    if (m_flags & PortableArchiveFlags::kEndianBig)
        std::reverse(bytes + 1, bytes + 1 + size);
    bytes[0] = static_cast<uint8_t>(negative ? -size : size);
    SaveBinary(bytes, 1 + static_cast<size_t>(size));
}

void portable_binary_oarchive::SaveByte(uint8_t value)
{
    SaveBinary(&value, 1);
}

void portable_binary_oarchive::SaveBinary(const void* data, size_t size)
{
    const auto written = m_buf.sputn(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (written != static_cast<std::streamsize>(size))
        throw archive_exception(archive_exception::output_stream_error);
}

void portable_binary_oarchive::SaveString(const std::string& text)
{
    SaveInteger(static_cast<int64_t>(text.size()));
    SaveBinary(text.data(), text.size());
}

portable_binary_iarchive::portable_binary_iarchive(std::istream& in, unsigned flags)
    : m_buf(BufferOf(in, archive_exception::input_stream_error))
    , m_flags(flags)
{
    if (!(flags & PortableArchiveFlags::kNoHeader)) {
        // A signature of any other length is rejected before its bytes are
        // read, so a damaged length never makes us allocate.
        const size_t signatureLength = std::strlen(kArchiveSignature);
        const int64_t length = LoadInteger(8);
        if (length != static_cast<int64_t>(signatureLength))
            throw archive_exception(archive_exception::invalid_signature);
        char signature[32];
        LoadBinary(signature, signatureLength);
        if (std::memcmp(signature, kArchiveSignature, signatureLength) != 0)
            throw archive_exception(archive_exception::invalid_signature);
        const int64_t version = LoadInteger(2);
        if (version > static_cast<int64_t>(kArchiveLibraryVersion))
            throw archive_exception(archive_exception::unsupported_version);
    }
    m_flags = static_cast<unsigned>(LoadByte()) << 8;
}

int64_t portable_binary_iarchive::LoadInteger(unsigned width)
{
    int size = static_cast<int8_t>(LoadByte());
    if (size == 0)
        return 0;
    const bool negative = size < 0;
    if (negative)
        size = -size;
    if (size > static_cast<int>(width))
        throw portable_binary_iarchive_exception();
    uint8_t bytes[8] = {};
    LoadBinary(bytes, static_cast<size_t>(size));
    if (m_flags & PortableArchiveFlags::kEndianBig)
        std::reverse(bytes, bytes + size);
    uint64_t magnitude = 0;
    for (int i = size - 1; i >= 0; --i)
        magnitude = (magnitude << 8) | bytes[i];
    return static_cast<int64_t>(negative ? 0 - magnitude : magnitude);
}

uint8_t portable_binary_iarchive::LoadByte()
{
    const auto c = m_buf.sbumpc();
    if (c == std::char_traits<char>::eof())
        throw archive_exception(archive_exception::input_stream_error);
    return static_cast<uint8_t>(c);
}

void portable_binary_iarchive::LoadBinary(void* data, size_t size)
{
    const auto got = m_buf.sgetn(static_cast<char*>(data), static_cast<std::streamsize>(size));
    if (got != static_cast<std::streamsize>(size))
        throw archive_exception(archive_exception::input_stream_error);
}

size_t portable_binary_iarchive::Remaining() const
{
    return StreamBytesLeft(m_buf);
}

size_t StreamBytesLeft(std::streambuf& buf)
{
    const auto here = buf.pubseekoff(0, std::ios_base::cur, std::ios_base::in);
    if (here == std::streampos(std::streamoff(-1)))
        return std::numeric_limits<size_t>::max();
    const auto end = buf.pubseekoff(0, std::ios_base::end, std::ios_base::in);
    buf.pubseekpos(here, std::ios_base::in);
    if (end == std::streampos(std::streamoff(-1)) || end < here)
        return std::numeric_limits<size_t>::max();
    return static_cast<size_t>(end - here);
}
