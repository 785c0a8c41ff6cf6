#include "archive/files/VideoFileFormat.h"

#include "archive/files/ArchiveCrc.h"
#include "platform/File.h"

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace {

void PutLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t GetLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Stored index type -> reader type key; fixed for the life of the process.
const std::map<int32_t, int> kStoredTypeToReaderKey = {
    {1, kReaderIndexedSimple},
    {2, kReaderIndexedPortable},
};

} // namespace

IndexTrailer IndexTrailer::Make(int32_t blobLength, int32_t storedType)
{
    IndexTrailer t;
    t.blobLength = blobLength;
    t.storedType = storedType;
    t.magic = kIndexTrailerMagic;
    t.checksum = t.ComputeChecksum();
    return t;
}

IndexTrailer IndexTrailer::Parse(const uint8_t* bytes16)
{
    IndexTrailer t;
    t.blobLength = static_cast<int32_t>(GetLe32(bytes16));
    t.storedType = static_cast<int32_t>(GetLe32(bytes16 + 4));
    t.magic = GetLe32(bytes16 + 8);
    t.checksum = GetLe32(bytes16 + 12);
    return t;
}

std::array<uint8_t, 16> IndexTrailer::Bytes() const
{
    std::array<uint8_t, 16> b{};
    PutLe32(b.data(), static_cast<uint32_t>(blobLength));
    PutLe32(b.data() + 4, static_cast<uint32_t>(storedType));
    PutLe32(b.data() + 8, magic);
    PutLe32(b.data() + 12, checksum);
    return b;
}

uint32_t IndexTrailer::ComputeChecksum() const
{
    const auto b = Bytes();
    return ArchiveCrc32(b.data(), 12);
}

bool IndexTrailer::IsValidFor(int64_t fileSize) const
{
    return magic == kIndexTrailerMagic && fileSize >= int64_t(blobLength) + kVideoFileTrailerSize
        && checksum == ComputeChecksum();
}

bool IsValidFileTrailer(uint64_t frameCount, uint32_t closeFlag)
{
    return frameCount >= 1 && frameCount <= kMaxFileFrameCount && closeFlag <= 1;
}

std::optional<int> ReaderKeyForStoredType(int32_t storedType)
{
    const auto it = kStoredTypeToReaderKey.find(storedType);
    if (it == kStoredTypeToReaderKey.end())
        return std::nullopt;
    return it->second;
}

int detectVideoFileType(const std::string& path)
{
    platform::File file;
    file.Open(path, platform::File::modeRead | platform::File::typeBinary);
    return detectVideoFileType(file);
}

int detectVideoFileType(const platform::File& file)
{
    int64_t size = -1;
    uint8_t bytes[kIndexTrailerSize];
    try {
        if (file.IsOpen())
            size = static_cast<int64_t>(file.GetLength());
        if (size < kVideoFileTrailerSize)
            return size >= kCountAndFlagSize ? kReaderCached : kReaderNull;
        if (file.ReadAt(static_cast<uint64_t>(size - kVideoFileTrailerSize), bytes, sizeof bytes) != sizeof bytes)
            return kReaderCached;
    } catch (const platform::Exception&) {
        return size >= kCountAndFlagSize ? kReaderCached : kReaderNull;
    }
    const IndexTrailer trailer = IndexTrailer::Parse(bytes);
    if (!trailer.IsValidFor(size))
        return kReaderCached;
    return ReaderKeyForStoredType(trailer.storedType).value_or(kReaderNull);
}

void AppendVideoFileFinalData(platform::File& file, int32_t frameCount, uint8_t closeFlag, const FramesIndex& index)
{
    std::stringstream blob;
    SaveFramesIndex(index, blob);
    const std::string bytes = blob.str();
    file.SeekToEnd();
    file.Write(bytes.data(), bytes.size());
    const auto trailer = IndexTrailer::Make(static_cast<int32_t>(bytes.size()), kStoredIndexPortable).Bytes();
    file.Write(trailer.data(), trailer.size());
    uint8_t count[4];
    PutLe32(count, static_cast<uint32_t>(frameCount));
    file.Write(count, sizeof count);
    file.Write(&closeFlag, 1);
}
