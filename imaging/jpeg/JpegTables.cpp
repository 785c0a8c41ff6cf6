#include "imaging/jpeg/JpegTables.h"

#include <cstring>
#include <new>

#include "imaging/primitives/AlignedMemory.h"
#include "imaging/primitives/BitDepth.h"
#include "imaging/primitives/Huffman.h"
#include "imaging/primitives/ImageCopy.h"
#include "imaging/primitives/QuantTables.h"

namespace Code = JpegStatusCode;

// Tables K.1 and K.2 as a DQT segment lists them (zig-zag order).
const std::uint8_t kStandardLuminanceQuant[64] = {
    16, 11, 12, 14, 12, 10, 16, 14, 13, 14, 18, 17, 16, 19, 24, 40,
    26, 24, 22, 22, 24, 49, 35, 37, 29, 40, 58, 51, 61, 60, 57, 51,
    56, 55, 64, 72, 92, 78, 64, 68, 87, 69, 55, 56, 80, 109, 81, 87,
    95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99,
};
const std::uint8_t kStandardChrominanceQuant[64] = {
    17, 18, 18, 24, 21, 24, 47, 26, 26, 47, 99, 66, 56, 66, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
};

const StandardHuffmanTable kStandardDcLuminance = {
    {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
};
const StandardHuffmanTable kStandardDcChrominance = {
    {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
};
const StandardHuffmanTable kStandardAcLuminance = {
    {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d},
    {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22,
     0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33,
     0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34,
     0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55,
     0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76,
     0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96,
     0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5,
     0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4,
     0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1,
     0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa},
};
const StandardHuffmanTable kStandardAcChrominance = {
    {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77},
    {0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13,
     0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62,
     0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29,
     0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54,
     0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75,
     0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94,
     0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3,
     0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2,
     0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea,
     0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa},
};

// ---------------------------------------------------------------------------

CMemoryBuffer::~CMemoryBuffer()
{
    Free();
}

JpegStatus CMemoryBuffer::Allocate(std::int32_t size)
{
    Free();
    data_ = static_cast<std::uint8_t*>(AlignedMalloc(size));
    if (data_ == nullptr)
        return Code::NoMemory;
    size_ = size;
    return Code::Ok;
}

void CMemoryBuffer::Free()
{
    AlignedFree(data_);
    data_ = nullptr;
    size_ = 0;
}

// ---------------------------------------------------------------------------

namespace {

// Quality factor of the scaling: 5000 / quality below 50, 200 - 2 x quality
// from 50 on.
std::int32_t QualityFactor(std::int32_t quality)
{
    return quality < 50 ? 5000 / quality : 200 - 2 * quality;
}

}  // namespace

JpegStatus CJPEGEncoderQuantTable::Init8(std::int32_t id, const std::uint8_t raw[64], std::int32_t quality)
{
    initialised_ = 0;
    id_ = id;
    precision_ = 0;
    std::memcpy(raw_, raw, 64);
    if (quality != 0 && ScaleQuantTableByQuality8u(raw_, quality) != 0)
        return Code::InternalError;
    if (InitForwardQuantTable8u(raw_, reinterpret_cast<std::uint16_t*>(working_)) != 0)
        return Code::InternalError;
    initialised_ = 1;
    return Code::Ok;
}

JpegStatus CJPEGEncoderQuantTable::Init16(std::int32_t id, const std::uint16_t raw[64], std::int32_t quality)
{
    initialised_ = 0;
    id_ = id;
    precision_ = 1;
    auto* table = reinterpret_cast<std::uint16_t*>(raw_);
    std::memcpy(table, raw, 128);
    if (quality < 0)
        return Code::InternalError;  // as the 8-bit scaling refuses it
    if (quality != 0) {
        const std::int32_t factor = QualityFactor(quality > 100 ? 100 : quality);
        for (int i = 0; i < 64; ++i) {
            const std::int64_t b = (static_cast<std::int64_t>(factor) * table[i] + 50) / 100;
            table[i] = static_cast<std::uint16_t>(b < 1 ? 1 : b > 65535 ? 65535 : b);
        }
    }
    std::int16_t natural[64];
    if (ZigzagToNatural8x8_16s(reinterpret_cast<const std::int16_t*>(table), natural) != 0)
        return Code::InternalError;
    auto* reciprocals = reinterpret_cast<float*>(working_);
    for (int i = 0; i < 64; ++i)
        reciprocals[i] = static_cast<float>(1.0 / static_cast<std::uint16_t>(natural[i]));
    initialised_ = 1;
    return Code::Ok;
}

const std::uint16_t* CJPEGEncoderQuantTable::Reciprocals() const
{
    return precision_ == 0 ? reinterpret_cast<const std::uint16_t*>(working_) : nullptr;
}

const float* CJPEGEncoderQuantTable::FloatReciprocals() const
{
    return precision_ == 1 ? reinterpret_cast<const float*>(working_) : nullptr;
}

JpegStatus CJPEGDecoderQuantTable::Init8(std::int32_t id, const std::uint8_t raw[64])
{
    initialised_ = 0;
    id_ = id & 15;
    precision_ = 0;
    std::memcpy(raw_, raw, 64);
    if (InitInverseQuantTable8u(raw_, reinterpret_cast<std::uint16_t*>(working_)) != 0)
        return Code::InternalError;
    initialised_ = 1;
    return Code::Ok;
}

JpegStatus CJPEGDecoderQuantTable::Init16(std::int32_t id, const std::uint16_t raw[64])
{
    initialised_ = 0;
    id_ = id & 15;
    precision_ = 1;
    std::memcpy(raw_, raw, 128);
    std::int16_t natural[64];
    if (ZigzagToNatural8x8_16s(reinterpret_cast<const std::int16_t*>(raw_), natural) != 0)
        return Code::InternalError;
    auto* table = reinterpret_cast<float*>(working_);
    for (int i = 0; i < 64; ++i)
        table[i] = static_cast<float>(static_cast<std::uint16_t>(natural[i]));
    initialised_ = 1;
    return Code::Ok;
}

JpegStatus CJPEGDecoderQuantTable::Narrow16To8()
{
    if (ZigzagToNatural8x8_16s(reinterpret_cast<const std::int16_t*>(raw_), reinterpret_cast<std::int16_t*>(working_)) !=
        0)
        return Code::InternalError;
    precision_ = 0;
    return Code::Ok;
}

JpegStatus CJPEGDecoderQuantTable::Widen8To16()
{
    alignas(32) std::int16_t wide[64];
    if (ConvertImage8uTo16sC1(raw_, 8, wide, 16, {8, 8}) != 0)
        return Code::InternalError;
    if (CopyImage16uC1(reinterpret_cast<const std::uint16_t*>(wide), 16, reinterpret_cast<std::uint16_t*>(raw_), 16,
                       {8, 8}) != 0)
        return Code::InternalError;
    std::int16_t natural[64];
    if (ZigzagToNatural8x8_16s(reinterpret_cast<const std::int16_t*>(raw_), natural) != 0)
        return Code::InternalError;
    auto* table = reinterpret_cast<float*>(working_);
    for (int i = 0; i < 64; ++i)
        table[i] = static_cast<float>(static_cast<std::uint16_t>(natural[i]));
    precision_ = 1;
    return Code::Ok;
}

const std::uint16_t* CJPEGDecoderQuantTable::Quantisers() const
{
    return precision_ == 0 ? reinterpret_cast<const std::uint16_t*>(working_) : nullptr;
}

const float* CJPEGDecoderQuantTable::FloatQuantisers() const
{
    return precision_ == 1 ? reinterpret_cast<const float*>(working_) : nullptr;
}

// ---------------------------------------------------------------------------

namespace {

// Copies BITS and as many HUFFVAL bytes as BITS count (at most 256).
void CopyCodes(const std::uint8_t bits[16], const std::uint8_t* values, std::uint8_t bitsOut[16],
               std::uint8_t valuesOut[256])
{
    std::memcpy(bitsOut, bits, 16);
    std::int32_t count = 0;
    for (int i = 0; i < 16; ++i)
        count += bits[i];
    std::memset(valuesOut, 0, 256);
    std::memcpy(valuesOut, values, static_cast<std::size_t>(count > 256 ? 256 : count));
}

}  // namespace

CJPEGEncoderHuffmanTable::~CJPEGEncoderHuffmanTable()
{
    Clear();
}

JpegStatus CJPEGEncoderHuffmanTable::Create()
{
    std::int32_t size = 0;
    if (GetHuffmanEncoderSpecSize(&size) != 0)
        return Code::InternalError;
    AlignedFree(spec_);
    spec_ = static_cast<HuffmanEncoderSpec*>(AlignedMalloc(size));
    return spec_ == nullptr ? Code::NoMemory : Code::Ok;
}

JpegStatus CJPEGEncoderHuffmanTable::Init(std::int32_t id, std::int32_t tableClass, const std::uint8_t bits[16],
                                          const std::uint8_t values[256])
{
    id_ = id & 15;
    class_ = tableClass & 15;
    CopyCodes(bits, values, bits_, values_);
    if (spec_ == nullptr || InitHuffmanEncoderSpec(bits_, values_, spec_) != 0)
        return Code::InternalError;
    return Code::Ok;
}

void CJPEGEncoderHuffmanTable::Clear()
{
    id_ = class_ = 0;
    std::memset(bits_, 0, sizeof(bits_));
    std::memset(values_, 0, sizeof(values_));
    AlignedFree(spec_);
    spec_ = nullptr;
}

std::int32_t CJPEGEncoderHuffmanTable::ValueCount() const
{
    std::int32_t count = 0;
    for (std::uint8_t b : bits_)
        count += b;
    return count;
}

CJPEGDecoderHuffmanTable::~CJPEGDecoderHuffmanTable()
{
    Clear();
}

JpegStatus CJPEGDecoderHuffmanTable::Create()
{
    std::int32_t size = 0;
    if (GetHuffmanDecoderSpecSize(&size) != 0)
        return Code::InternalError;
    AlignedFree(spec_);
    spec_ = static_cast<HuffmanDecoderSpec*>(AlignedMalloc(size));
    empty_ = 0;
    valid_ = 0;
    return spec_ == nullptr ? Code::NoMemory : Code::Ok;
}

JpegStatus CJPEGDecoderHuffmanTable::Init(std::int32_t id, std::int32_t tableClass, const std::uint8_t bits[16],
                                          const std::uint8_t values[256])
{
    id_ = id & 15;
    class_ = tableClass & 15;
    empty_ = 0;
    CopyCodes(bits, values, bits_, values_);
    if (spec_ == nullptr || InitHuffmanDecoderSpec(bits_, values_, spec_) != 0)
        return Code::BadHuffmanTableSegment;
    if (class_ == 1) {
        if (fast_ == nullptr)
            fast_.reset(new (std::nothrow) HuffmanFastAcTable);
        if (fast_ != nullptr)
            InitHuffmanFastAcTable(spec_, fast_.get());
    }
    valid_ = 1;
    return Code::Ok;
}

void CJPEGDecoderHuffmanTable::Clear()
{
    id_ = class_ = 0;
    std::memset(bits_, 0, sizeof(bits_));
    std::memset(values_, 0, sizeof(values_));
    AlignedFree(spec_);
    spec_ = nullptr;
    empty_ = 1;
    valid_ = 0;
}

CJPEGEncoderHuffmanState::~CJPEGEncoderHuffmanState()
{
    AlignedFree(state_);
}

JpegStatus CJPEGEncoderHuffmanState::Create()
{
    std::int32_t size = 0;
    if (GetHuffmanEncoderStateSize(&size) != 0)
        return Code::InternalError;
    AlignedFree(state_);
    state_ = static_cast<HuffmanEncoderState*>(AlignedMalloc(size));
    return state_ == nullptr ? Code::NoMemory : Code::Ok;
}

CJPEGDecoderHuffmanState::~CJPEGDecoderHuffmanState()
{
    AlignedFree(state_);
}

JpegStatus CJPEGDecoderHuffmanState::Create()
{
    std::int32_t size = 0;
    if (GetHuffmanDecoderStateSize(&size) != 0)
        return Code::InternalError;
    AlignedFree(state_);
    state_ = static_cast<HuffmanDecoderState*>(AlignedMalloc(size));
    return state_ == nullptr ? Code::NoMemory : Code::Ok;
}

// ---------------------------------------------------------------------------

namespace {

// n x size in 32 bits, or -1 when it does not fit.
std::int32_t Product(std::int64_t a, std::int64_t b)
{
    const std::int64_t p = a * b;
    return p < 0 || p > INT32_MAX ? -1 : static_cast<std::int32_t>(p);
}

}  // namespace

JpegStatus CJPEGColorComponent::AllocateFull(std::int32_t workers)
{
    fullSize = Product(mcuRowLines, fullStep);
    const std::int32_t bytes = Product(workers, fullSize);
    if (bytes <= 0) {
        fullRows.Free();
        return Code::NoMemory;
    }
    return fullRows.Allocate(bytes);
}

JpegStatus CJPEGColorComponent::AllocateSampled(std::int32_t workers)
{
    sampledSize = Product(sampledLines, sampledStep);
    const std::int32_t bytes = Product(workers, sampledSize);
    if (bytes <= 0) {
        sampledRows.Free();
        return Code::NoMemory;
    }
    return sampledRows.Allocate(bytes);
}

JpegStatus CJPEGColorComponent::AllocateCoefficients(std::int32_t workers)
{
    // 64 int16 coefficients per block of the row.
    const std::int32_t bytes = Product(workers, Product(blocksPerRow, 128));
    if (bytes <= 0) {
        coefficientRow.Free();
        return Code::NoMemory;
    }
    return coefficientRow.Allocate(bytes);
}
