#include "media/addon/SvcBaseLayer.h"

#include <cstring>

#include "media/addon/AddonLog.h"

namespace harnway {

namespace {

constexpr uint8_t kPrefixNal = 14;
constexpr uint8_t kSubsetSps = 15;
constexpr uint8_t kSliceExtension = 20;

bool IsSvcFormat(const char* format)
{
    return format && (std::strcmp(format, "S264") == 0 || std::strcmp(format, "T264") == 0);
}

// Offset of the first byte after the next start code (00 00 01) at or after
// `from`, or `size` when there is none.
size_t NextUnitStart(const uint8_t* data, size_t size, size_t from)
{
    for (size_t i = from; i + 3 <= size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)
            return i + 3;
    }
    return size;
}

} // namespace

size_t ExtractH264BaseLayer(const uint8_t* data, size_t size, std::vector<uint8_t>& out)
{
    size_t kept = 0;
    size_t start = NextUnitStart(data, size, 0);
    while (start < size) {
        const size_t next = NextUnitStart(data, size, start);
        // The unit ends where the next start code begins; zero bytes in front
        // of a start code belong to it (trailing_zero_8bits).
        size_t end = next == size ? size : next - 3;
        while (end > start && data[end - 1] == 0 && next != size)
            --end;
        if (end > start) {
            const uint8_t type = data[start] & 0x1F;
            if (type != kPrefixNal && type != kSubsetSps && type != kSliceExtension) {
                static constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
                out.insert(out.end(), kStartCode, kStartCode + 4);
                out.insert(out.end(), data + start, data + end);
                ++kept;
            }
        }
        start = next;
    }
    return kept;
}

bool SvcBaseLayerConverter::IsSupported(MFF::ICompressedBuffer* input, int32_t)
{
    return input && IsSvcFormat(input->GetFormat());
}

MFF::IMultimediaBuffer* SvcBaseLayerConverter::Convert(MFF::ICompressedBuffer* input, int32_t)
{
    if (!input || !m_factory || !IsSvcFormat(input->GetFormat()))
        return nullptr;
    const uint8_t* data = input->GetData();
    const uint32_t size = input->GetSize();
    if (!data || size == 0)
        return nullptr;
    m_work.clear();
    if (ExtractH264BaseLayer(data, size, m_work) == 0) {
        Log(QOR8::LogWarning, "[HARNWAY] %s frame of %u bytes has no base layer",
            input->GetFormat(), size);
        return nullptr;
    }
    MFF::ICompressedBuffer* out = m_factory->CreateCompressedBuffer(
        "H264", uint32_t(m_work.size()), input->GetTimestamp(), input->GetKeyFrameFlag());
    if (!out)
        return nullptr;
    std::memcpy(out->GetData(), m_work.data(), m_work.size());
    return out;
}

} // namespace harnway
