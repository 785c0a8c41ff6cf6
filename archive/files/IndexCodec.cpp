// Encoders and decoders of the frame index blob.
//
// Portable form (stored type 2), as written with flags 0:
//   01 16 "serialization::archive"   signature
//   01 09                            library version 9
//   00                               flags byte
//   00 00                            list: tracking flag, class version
//   N                                entry count (portable integer)
//   00                               item version
//   00 00                            entry class: tracking flag, class version
//                                    (only when N >= 1, before the first entry)
//   N x { time, offset, key byte }   time and offset portable, key raw
//
// Binary form (stored type 1; boost binary archive written on a little-endian
// machine with 8-byte sizes, read only):
//   u64 22, "serialization::archive", library version v (see LoadVersion),
//   sizes of int/long/float/double 04 04 04 08, i32 1 (byte order),
//   list tracking u8 and class version, N, item version u32 (v >= 4),
//   entry tracking u8 and class version before the first entry,
//   N x { u64 time, u64 offset, u8 key }.
// For v = 9 a blob of N entries is 62 + 17 N bytes (57 when N = 0).

#include "archive/files/FramesIndex.h"
#include "archive/files/PortableBinary.h"
#include "base/Tss.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <limits>
#include <ostream>

using boost::archive::archive_exception;

namespace {

// Reserve no more than this many entries when the stream cannot tell its size.
constexpr size_t kBlindReserveLimit = 65536;

void ReserveFor(FramesIndex& index, uint64_t count, size_t bytesLeft)
{
    if (bytesLeft == std::numeric_limits<size_t>::max())
        index.reserve(static_cast<size_t>(std::min<uint64_t>(count, kBlindReserveLimit)));
    else
        index.reserve(static_cast<size_t>(count));
}

// Fixed-width little-endian reads of the binary form.
class BinaryReader {
public:
    explicit BinaryReader(std::streambuf& buf)
        : m_buf(buf)
    {
    }

    void Read(void* data, size_t size)
    {
        if (m_buf.sgetn(static_cast<char*>(data), static_cast<std::streamsize>(size)) != static_cast<std::streamsize>(size))
            throw archive_exception(archive_exception::input_stream_error);
    }

    uint64_t ReadUnsigned(size_t width)
    {
        uint8_t bytes[8] = {};
        Read(bytes, width);
        uint64_t value = 0;
        for (size_t i = width; i-- > 0;)
            value = (value << 8) | bytes[i];
        return value;
    }

    int Bump() { return m_buf.sbumpc(); }
    int Peek() { return m_buf.sgetc(); }
    std::streambuf& Buf() { return m_buf; }

private:
    std::streambuf& m_buf;
};

// Width in bytes of a class version in the binary form of library version v.
size_t BinaryClassVersionWidth(unsigned v)
{
    if (v >= 8)
        return 4;
    if (v == 7)
        return 1;
    if (v == 6)
        return 2;
    if (v >= 3)
        return 1;
    return 4;
}

// The library version byte and the padding the serialization library's
// versions put after it.
unsigned LoadBinaryVersion(BinaryReader& in)
{
    const int v = in.Bump();
    if (v == std::char_traits<char>::eof())
        throw archive_exception(archive_exception::input_stream_error);
    if (v == 6) {
        in.Bump();
    } else if (v == 7) {
        if (in.Peek() == 0)
            in.Bump();
    } else if (v >= 8) {
        in.Bump();
    }
    if (static_cast<unsigned>(v) > kArchiveLibraryVersion)
        throw archive_exception(archive_exception::unsupported_version);
    return static_cast<unsigned>(v);
}

} // namespace

FramesIndexEntry MakeFramesIndexEntry(const TSS& time, uint64_t offset, bool pFrame)
{
    return FramesIndexEntry(time.ToUtcMilliseconds() - kUnixEpochArchiveMs, offset, pFrame);
}

void SaveFramesIndex(const FramesIndex& index, std::ostream& out)
{
    portable_binary_oarchive ar(out, 0);
    ar.SaveInteger(0); // list tracking flag
    ar.SaveInteger(0); // list class version
    ar.SaveInteger(static_cast<int64_t>(index.size()));
    ar.SaveInteger(0); // item version
    if (!index.empty()) {
        ar.SaveInteger(0); // entry tracking flag
        ar.SaveInteger(0); // entry class version
    }
    for (const auto& entry : index) {
        ar.SaveInteger(static_cast<int64_t>(entry.time));
        ar.SaveInteger(static_cast<int64_t>(entry.offset));
        ar.SaveByte(entry.pFrame ? 1 : 0);
    }
}

void LoadFramesIndexPortable(std::istream& in, FramesIndex& index)
{
    index.clear();
    portable_binary_iarchive ar(in, 0);
    ar.LoadInteger(1); // list tracking flag
    ar.LoadInteger(4); // list class version
    const auto count = static_cast<uint64_t>(ar.LoadInteger(8));
    ar.LoadInteger(4); // item version (the reader keeps library version 9)
    if (count == 0)
        return;

    // Smallest entry: 00 time, 00 offset, key byte; plus the entry class
    // information before the first one.
    const size_t left = ar.Remaining();
    if (left != std::numeric_limits<size_t>::max() && (left < 2 || count > (left - 2) / 3))
        throw archive_exception(archive_exception::input_stream_error);
    ReserveFor(index, count, left);

    ar.LoadInteger(1); // entry tracking flag
    ar.LoadInteger(4); // entry class version
    for (uint64_t i = 0; i < count; ++i) {
        FramesIndexEntry entry;
        entry.time = static_cast<uint64_t>(ar.LoadInteger(8));
        entry.offset = static_cast<uint64_t>(ar.LoadInteger(8));
        entry.pFrame = ar.LoadByte() != 0;
        index.push_back(entry);
    }
}

void LoadFramesIndexBinary(std::istream& in, FramesIndex& index)
{
    index.clear();
    if (!in.rdbuf())
        throw archive_exception(archive_exception::input_stream_error);
    BinaryReader rd(*in.rdbuf());

    // Signature: a short read or another length is an invalid signature; the
    // signature bytes are read only for the expected length.
    const size_t signatureLength = std::strlen(kArchiveSignature);
    try {
        if (rd.ReadUnsigned(8) != signatureLength)
            throw archive_exception(archive_exception::invalid_signature);
        char signature[32];
        rd.Read(signature, signatureLength);
        if (std::memcmp(signature, kArchiveSignature, signatureLength) != 0)
            throw archive_exception(archive_exception::invalid_signature);
    } catch (const archive_exception& e) {
        if (e.code == archive_exception::input_stream_error)
            throw archive_exception(archive_exception::invalid_signature);
        throw;
    }
    const unsigned v = LoadBinaryVersion(rd);

    // Native format of the writer: sizes of int, long, float, double, then
    // the byte order. Archives come from a 64-bit Windows build.
    static const struct {
        uint8_t size;
        const char* what;
    } kSizes[] = {{4, "size of int"}, {4, "size of long"}, {4, "size of float"}, {8, "size of double"}};
    for (const auto& expected : kSizes) {
        if (rd.ReadUnsigned(1) != expected.size)
            throw archive_exception(archive_exception::incompatible_native_format, expected.what);
    }
    if (static_cast<int32_t>(rd.ReadUnsigned(4)) != 1)
        throw archive_exception(archive_exception::incompatible_native_format, "endian setting");

    const size_t versionWidth = BinaryClassVersionWidth(v);
    rd.ReadUnsigned(1);            // list tracking flag
    rd.ReadUnsigned(versionWidth); // list class version
    const uint64_t count = rd.ReadUnsigned(v >= 6 ? 8 : 4);
    if (v >= 4)
        rd.ReadUnsigned(4); // item version
    if (count == 0)
        return;

    constexpr size_t kEntrySize = 17;
    const size_t left = StreamBytesLeft(rd.Buf());
    const size_t classInfo = 1 + versionWidth;
    if (left != std::numeric_limits<size_t>::max() && (left < classInfo || count > (left - classInfo) / kEntrySize))
        throw archive_exception(archive_exception::input_stream_error);
    ReserveFor(index, count, left);

    rd.ReadUnsigned(1);            // entry tracking flag
    rd.ReadUnsigned(versionWidth); // entry class version
    for (uint64_t i = 0; i < count; ++i) {
        uint8_t raw[kEntrySize];
        rd.Read(raw, kEntrySize);
        FramesIndexEntry entry;
        for (int b = 7; b >= 0; --b) {
            entry.time = (entry.time << 8) | raw[b];
            entry.offset = (entry.offset << 8) | raw[8 + b];
        }
        entry.pFrame = raw[16] != 0;
        index.push_back(entry);
    }
}
