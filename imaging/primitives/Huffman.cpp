#include "imaging/primitives/Huffman.h"

#include <cstring>

#include "imaging/primitives/detail/HuffmanBits.h"
#include "imaging/primitives/detail/UniformTable.h"

const std::int32_t ZigzagOrder[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

namespace primitives_detail {

PrimitiveStatus WriteBits(std::uint32_t value, std::int32_t length, std::uint8_t* dst, std::int32_t dstLength,
                          std::int32_t* position, HuffmanEncoderState* state)
{
    if (length <= 0)
        return PrimitiveStatusCode::BadHuffmanTable;
    std::uint64_t bits = (state->pendingBits << length) | (value & ((1u << length) - 1));
    std::int32_t count = state->pendingCount + length;
    std::int32_t pos = *position;
    while (count >= 8) {
        const auto byte = static_cast<std::uint8_t>(bits >> (count - 8));
        if (pos >= dstLength) {
            *position = pos;
            return PrimitiveStatusCode::CodedBufferExhausted;
        }
        dst[pos++] = byte;
        if (byte == 0xFF) {
            if (pos >= dstLength) {
                *position = pos;
                return PrimitiveStatusCode::CodedBufferExhausted;
            }
            dst[pos++] = 0;
        }
        count -= 8;
    }
    *position = pos;
    state->pendingBits = bits & ((std::uint64_t{1} << count) - 1);
    state->pendingCount = count;
    return PrimitiveStatusCode::Ok;
}

PrimitiveStatus FlushBits(std::uint8_t* dst, std::int32_t dstLength, std::int32_t* position,
                          HuffmanEncoderState* state)
{
    PrimitiveStatus status = PrimitiveStatusCode::Ok;
    if (state->pendingCount > 0)
        status = WriteBits(0x7F, 7, dst, dstLength, position, state);
    std::memset(state, 0, sizeof(*state));
    return status;
}

PrimitiveStatus FillBits(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                         std::int32_t* marker, std::int32_t needed, HuffmanDecoderState* state)
{
    if (*marker != 0)
        return state->pendingCount < needed ? PrimitiveStatusCode::HuffmanRange : PrimitiveStatusCode::Ok;
    std::int32_t pos = *position;
    while (state->pendingCount < 25) {
        if (pos >= srcLength) {
            *position = pos;
            return state->pendingCount < needed ? PrimitiveStatusCode::CodedBufferExhausted
                                                : PrimitiveStatusCode::Ok;
        }
        std::uint8_t byte = src[pos++];
        if (byte == 0xFF) {
            for (;;) {
                if (pos >= srcLength) {
                    *position = pos;
                    return PrimitiveStatusCode::CodedBufferExhausted;
                }
                const std::uint8_t next = src[pos++];
                if (next == 0x00)
                    break;
                if (next == 0xFF)
                    continue;
                *marker = next;
                *position = pos;
                return state->pendingCount < needed ? PrimitiveStatusCode::HuffmanRange : PrimitiveStatusCode::Ok;
            }
        }
        state->pendingBits = (state->pendingBits << 8) | byte;
        state->pendingCount += 8;
    }
    *position = pos;
    return PrimitiveStatusCode::Ok;
}

namespace {

inline std::uint32_t TakeBits(HuffmanDecoderState* state, std::int32_t n)
{
    state->pendingCount -= n;
    return static_cast<std::uint32_t>(state->pendingBits >> state->pendingCount) & ((1u << n) - 1);
}

}  // namespace

PrimitiveStatus DecodeSymbol(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                             std::int32_t* marker, std::int32_t* symbol, const HuffmanDecoderSpec* spec,
                             HuffmanDecoderState* state)
{
    std::int32_t length = 9;
    if (state->pendingCount < 8) {
        const PrimitiveStatus status = FillBits(src, srcLength, position, marker, 0, state);
        if (status != PrimitiveStatusCode::Ok)
            return status;
    }
    if (state->pendingCount < 8) {
        length = 1;
    } else {
        const auto next8 = static_cast<std::uint32_t>(state->pendingBits >> (state->pendingCount - 8)) & 0xFF;
        const std::uint32_t entry = spec->lookahead[next8];
        if (entry != 0) {
            state->pendingCount -= static_cast<std::int32_t>(entry >> 16);
            *symbol = static_cast<std::int32_t>(entry & 0xFFFF);
            return PrimitiveStatusCode::Ok;
        }
    }
    if (state->pendingCount < length) {
        const PrimitiveStatus status = FillBits(src, srcLength, position, marker, length, state);
        if (status != PrimitiveStatusCode::Ok)
            return status;
    }
    std::uint32_t code = TakeBits(state, length);
    for (std::int32_t l = length; l <= 16; ++l) {
        const std::int32_t maxcode = spec->maxcode[l];
        if (maxcode != -1 && code <= static_cast<std::uint16_t>(maxcode)) {
            *symbol = spec->values[static_cast<std::uint16_t>(spec->valptr[l] + code -
                                                              static_cast<std::uint16_t>(spec->mincode[l])) &
                                   0xFF];
            return PrimitiveStatusCode::Ok;
        }
        if (l == 16)
            break;
        if (state->pendingCount < 1) {
            const PrimitiveStatus status = FillBits(src, srcLength, position, marker, 1, state);
            if (status != PrimitiveStatusCode::Ok)
                return status;
        }
        code = (code << 1) | TakeBits(state, 1);
    }
    *symbol = 0;
    return PrimitiveStatusCode::HuffmanRange;
}

namespace {

using Status = PrimitiveStatus;
namespace Code = PrimitiveStatusCode;

// Code lengths of T.81 Figure C.1; 0 ends the list. Fails with -64 when more
// than 256 codes are counted.
Status ListLengths(const std::uint8_t bits[16], std::uint8_t lengths[257], std::int32_t* total)
{
    std::int32_t k = 0;
    for (int l = 1; l <= 16; ++l) {
        if (k + bits[l - 1] > 256)
            return Code::BadHuffmanTable;
        for (int i = 0; i < bits[l - 1]; ++i)
            lengths[k++] = static_cast<std::uint8_t>(l);
    }
    lengths[k] = 0;
    *total = k;
    return Code::Ok;
}

// Codes of T.81 Figure C.2; with checkOverrun, -64 when a length's codes run
// into its all-ones code.
Status AssignCodes(const std::uint8_t lengths[257], std::uint16_t codes[256], bool checkOverrun)
{
    std::uint32_t code = 0;
    std::int32_t k = 0;
    std::int32_t size = lengths[0];
    while (lengths[k] != 0) {
        while (lengths[k] == size) {
            codes[k++] = static_cast<std::uint16_t>(code++);
        }
        if (checkOverrun && code >= (1u << size))
            return Code::BadHuffmanTable;
        do {
            code <<= 1;
            ++size;
        } while (lengths[k] != 0 && lengths[k] != size);
    }
    return Code::Ok;
}

Status InitEncoderSpec(const std::uint8_t bits[16], const std::uint8_t* values, HuffmanEncoderSpec* spec)
{
    if (bits == nullptr || values == nullptr || spec == nullptr)
        return Code::NullPointer;
    std::memset(spec, 0, sizeof(*spec));
    std::uint8_t lengths[257];
    std::uint16_t codes[256];
    std::int32_t total = 0;
    Status status = ListLengths(bits, lengths, &total);
    if (status != Code::Ok)
        return status;
    status = AssignCodes(lengths, codes, true);
    if (status != Code::Ok)
        return status;
    for (std::int32_t k = 0; k < total; ++k)
        spec->entry[values[k]] = (static_cast<std::uint32_t>(lengths[k]) << 16) | codes[k];
    return Code::Ok;
}

Status InitDecoderSpec(const std::uint8_t bits[16], const std::uint8_t* values, HuffmanDecoderSpec* spec)
{
    if (bits == nullptr || values == nullptr || spec == nullptr)
        return Code::NullPointer;
    std::memset(spec, 0, sizeof(*spec));
    std::uint8_t lengths[257];
    std::uint16_t codes[256];
    std::int32_t total = 0;
    Status status = ListLengths(bits, lengths, &total);
    if (status != Code::Ok)
        return status;
    AssignCodes(lengths, codes, false);
    std::int32_t k = 0;
    for (int l = 1; l <= 16; ++l) {
        if (bits[l - 1] == 0) {
            spec->maxcode[l] = -1;
            continue;
        }
        spec->valptr[l] = static_cast<std::uint16_t>(k);
        spec->mincode[l] = static_cast<std::int16_t>(codes[k]);
        for (int i = 0; i < bits[l - 1]; ++i, ++k)
            spec->values[k] = values[k];
        spec->maxcode[l] = static_cast<std::int16_t>(codes[k - 1]);
    }
    spec->maxcode[0] = -1;
    spec->maxcode[17] = -1;
    for (k = 0; k < total && lengths[k] <= 8; ++k) {
        const int shift = 8 - lengths[k];
        const std::uint32_t first = static_cast<std::uint32_t>(codes[k]) << shift;
        for (std::uint32_t i = 0; i < (1u << shift); ++i) {
            if (first + i > 255)
                return Code::BadHuffmanTable;
            spec->lookahead[first + i] = (static_cast<std::uint32_t>(lengths[k]) << 16) | values[k];
        }
    }
    return Code::Ok;
}

Status EncoderSpecSize(std::int32_t* size)
{
    if (size == nullptr)
        return Code::NullPointer;
    *size = sizeof(HuffmanEncoderSpec);
    return Code::Ok;
}
Status EncoderStateSize(std::int32_t* size)
{
    if (size == nullptr)
        return Code::NullPointer;
    *size = sizeof(HuffmanEncoderState);
    return Code::Ok;
}
Status DecoderSpecSize(std::int32_t* size)
{
    if (size == nullptr)
        return Code::NullPointer;
    *size = sizeof(HuffmanDecoderSpec);
    return Code::Ok;
}
Status DecoderStateSize(std::int32_t* size)
{
    if (size == nullptr)
        return Code::NullPointer;
    *size = sizeof(HuffmanDecoderState);
    return Code::Ok;
}

Status ClearEncoderState(HuffmanEncoderState* state)
{
    if (state == nullptr)
        return Code::NullPointer;
    std::memset(state, 0, sizeof(*state));
    return Code::Ok;
}

Status ClearDecoderState(HuffmanDecoderState* state)
{
    if (state == nullptr)
        return Code::NullPointer;
    std::memset(state, 0, sizeof(*state));
    return Code::Ok;
}

using SizeQuery = Status(std::int32_t*);
constexpr auto kEncoderSpecSize = UniformTable<SizeQuery>(&EncoderSpecSize);
constexpr auto kEncoderStateSize = UniformTable<SizeQuery>(&EncoderStateSize);
constexpr auto kDecoderSpecSize = UniformTable<SizeQuery>(&DecoderSpecSize);
constexpr auto kDecoderStateSize = UniformTable<SizeQuery>(&DecoderStateSize);
constexpr auto kInitEncoderSpec =
    UniformTable<Status(const std::uint8_t*, const std::uint8_t*, HuffmanEncoderSpec*)>(&InitEncoderSpec);
constexpr auto kInitDecoderSpec =
    UniformTable<Status(const std::uint8_t*, const std::uint8_t*, HuffmanDecoderSpec*)>(&InitDecoderSpec);
constexpr auto kClearEncoderState = UniformTable<Status(HuffmanEncoderState*)>(&ClearEncoderState);
constexpr auto kClearDecoderState = UniformTable<Status(HuffmanDecoderState*)>(&ClearDecoderState);

}  // namespace
}  // namespace primitives_detail

using namespace primitives_detail;

PrimitiveStatus GetHuffmanEncoderSpecSize(std::int32_t* size) { return DispatchCall(kEncoderSpecSize, size); }
PrimitiveStatus GetHuffmanEncoderStateSize(std::int32_t* size) { return DispatchCall(kEncoderStateSize, size); }
PrimitiveStatus GetHuffmanDecoderSpecSize(std::int32_t* size) { return DispatchCall(kDecoderSpecSize, size); }
PrimitiveStatus GetHuffmanDecoderStateSize(std::int32_t* size) { return DispatchCall(kDecoderStateSize, size); }

PrimitiveStatus InitHuffmanEncoderSpec(const std::uint8_t bits[16], const std::uint8_t* values,
                                       HuffmanEncoderSpec* spec)
{
    return DispatchCall(kInitEncoderSpec, bits, values, spec);
}

PrimitiveStatus InitHuffmanDecoderSpec(const std::uint8_t bits[16], const std::uint8_t* values,
                                       HuffmanDecoderSpec* spec)
{
    return DispatchCall(kInitDecoderSpec, bits, values, spec);
}

PrimitiveStatus InitHuffmanEncoderState(HuffmanEncoderState* state) { return DispatchCall(kClearEncoderState, state); }
PrimitiveStatus InitHuffmanDecoderState(HuffmanDecoderState* state) { return DispatchCall(kClearDecoderState, state); }

PrimitiveStatus WriteHuffmanBits(std::uint32_t value, std::int32_t length, std::uint8_t* dst,
                                 std::int32_t dstLength, std::int32_t* position, HuffmanEncoderState* state)
{
    if (dst == nullptr || position == nullptr || state == nullptr)
        return PrimitiveStatusCode::NullPointer;
    if (length > 16)
        return PrimitiveStatusCode::HuffmanRange;
    return WriteBits(value, length, dst, dstLength, position, state);
}

PrimitiveStatus FlushHuffmanBits(std::uint8_t* dst, std::int32_t dstLength, std::int32_t* position,
                                 HuffmanEncoderState* state)
{
    if (dst == nullptr || position == nullptr || state == nullptr)
        return PrimitiveStatusCode::NullPointer;
    return FlushBits(dst, dstLength, position, state);
}

PrimitiveStatus FillHuffmanBits(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                std::int32_t* marker, std::int32_t needed, HuffmanDecoderState* state)
{
    if (src == nullptr || position == nullptr || marker == nullptr || state == nullptr)
        return PrimitiveStatusCode::NullPointer;
    return FillBits(src, srcLength, position, marker, needed, state);
}

PrimitiveStatus DecodeHuffmanSymbol(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                    std::int32_t* marker, std::int32_t* symbol, const HuffmanDecoderSpec* spec,
                                    HuffmanDecoderState* state)
{
    if (src == nullptr || position == nullptr || marker == nullptr || symbol == nullptr || spec == nullptr ||
        state == nullptr)
        return PrimitiveStatusCode::NullPointer;
    return DecodeSymbol(src, srcLength, position, marker, symbol, spec, state);
}
