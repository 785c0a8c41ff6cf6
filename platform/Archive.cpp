#include "platform/Archive.h"

#include <algorithm>
#include <utility>

#include "platform/TextCodec.h"

namespace platform {

namespace {

constexpr uint8_t kLongMarker = 0xFF;
constexpr uint16_t kWideMarker = 0xFFFE;
constexpr uint16_t kLength16Max = 0xFFFF;
constexpr uint32_t kLength32Max = 0xFFFFFFFF;

template <typename T>
void AppendLE(std::vector<uint8_t>& out, T v) {
    for (size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
}

// The length prefix of a text (also used after the UTF-16 marker).
void AppendLengthPrefix(std::vector<uint8_t>& out, uint64_t length) {
    if (length < kLongMarker) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    out.push_back(kLongMarker);
    if (length < kLength16Max - 1) {
        AppendLE<uint16_t>(out, static_cast<uint16_t>(length));
        return;
    }
    AppendLE<uint16_t>(out, kLength16Max);
    if (length < kLength32Max) {
        AppendLE<uint32_t>(out, static_cast<uint32_t>(length));
        return;
    }
    AppendLE<uint32_t>(out, kLength32Max);
    AppendLE<uint64_t>(out, length);
}

}  // namespace

void AppendStringBytes(std::vector<uint8_t>& out, const std::string& text) {
    AppendLengthPrefix(out, text.size());
    out.insert(out.end(), text.begin(), text.end());
}

void AppendCountBytes(std::vector<uint8_t>& out, uint64_t count) {
    if (count < kLength16Max) {
        AppendLE<uint16_t>(out, static_cast<uint16_t>(count));
        return;
    }
    AppendLE<uint16_t>(out, kLength16Max);
    if (count < kLength32Max) {
        AppendLE<uint32_t>(out, static_cast<uint32_t>(count));
        return;
    }
    AppendLE<uint32_t>(out, kLength32Max);
    AppendLE<uint64_t>(out, count);
}

Archive::Archive(File& file, Mode mode) : m_file(file), m_mode(mode) {}

uint64_t Archive::Remaining() const {
    uint64_t length = m_file.GetLength();
    uint64_t position = m_file.GetPosition();
    return position < length ? length - position : 0;
}

void Archive::ThrowEndOfFile() const {
    throw ArchiveException(ArchiveException::endOfFile, m_file.GetFilePath());
}

ArchiveFormatException::ArchiveFormatException(std::string fileName, std::string detail)
    : ArchiveException(genericException, std::move(fileName)), m_detail(std::move(detail)) {
    m_text = "damaged archive data";
    if (!m_strFileName.empty()) m_text += " in " + m_strFileName;
    m_text += ": " + m_detail;
}

void Archive::ThrowFormatError(const std::string& what) const {
    throw ArchiveFormatException(m_file.GetFilePath(), what);
}

void Archive::Write(const void* data, size_t size) {
    if (IsLoading()) throw ArchiveException(ArchiveException::readOnly, m_file.GetFilePath());
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        size_t piece = std::min(size, kMaxPiece);
        m_file.Write(bytes, piece);
        bytes += piece;
        size -= piece;
    }
}

void Archive::Read(void* data, size_t size) {
    if (IsStoring()) throw ArchiveException(ArchiveException::writeOnly, m_file.GetFilePath());
    auto* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
        size_t piece = std::min(size, kMaxPiece);
        size_t got = m_file.Read(bytes, piece);
        if (got == 0) ThrowEndOfFile();
        bytes += got;
        size -= got;
    }
}

void Archive::WriteString(const std::string& text) {
    std::vector<uint8_t> prefix;
    AppendLengthPrefix(prefix, text.size());
    Write(prefix.data(), prefix.size());
    Write(text.data(), text.size());
}

// The rest of a length prefix whose first byte was 0xFF.
uint64_t Archive::ReadLengthAfterMarker() {
    uint16_t len16 = 0;
    *this >> len16;
    if (len16 < kLength16Max) return len16;
    uint32_t len32 = 0;
    *this >> len32;
    if (len32 < kLength32Max) return len32;
    uint64_t len64 = 0;
    *this >> len64;
    return len64;
}

std::string Archive::ReadString() {
    uint8_t first = 0;
    *this >> first;
    uint64_t length = first;
    bool wide = false;
    if (first == kLongMarker) {
        uint16_t len16 = 0;
        *this >> len16;
        if (len16 == kWideMarker) {
            // UTF-16 text: a second prefix of the same scheme, in units.
            wide = true;
            uint8_t again = 0;
            *this >> again;
            length = again == kLongMarker ? ReadLengthAfterMarker() : again;
        } else if (len16 < kLength16Max) {
            length = len16;
        } else {
            uint32_t len32 = 0;
            *this >> len32;
            length = len32;
            if (len32 == kLength32Max) *this >> length;
        }
    }
    uint64_t bytes = wide ? length * 2 : length;
    if ((wide && length > UINT64_MAX / 2) || bytes > Remaining()) ThrowEndOfFile();
    if (!wide) {
        std::string text(static_cast<size_t>(bytes), '\0');
        if (bytes > 0) Read(text.data(), text.size());
        return text;
    }
    std::vector<uint8_t> raw(static_cast<size_t>(bytes));
    if (bytes > 0) Read(raw.data(), raw.size());
    std::u16string units(static_cast<size_t>(length), u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
    // Unpaired surrogates become U+FFFD.
    return Utf16ToUtf8(units);
}

void Archive::WriteCount(uint64_t count) {
    std::vector<uint8_t> bytes;
    AppendCountBytes(bytes, count);
    Write(bytes.data(), bytes.size());
}

uint64_t Archive::ReadCount() {
    uint16_t c16 = 0;
    *this >> c16;
    if (c16 != kLength16Max) return c16;
    uint32_t c32 = 0;
    *this >> c32;
    if (c32 != kLength32Max) return c32;
    uint64_t c64 = 0;
    *this >> c64;
    return c64;
}

}  // namespace platform
