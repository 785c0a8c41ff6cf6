#include "imaging/primitives/Lossless.h"

#include <algorithm>

#include "imaging/primitives/detail/HuffmanBits.h"

namespace {

using Status = PrimitiveStatus;
namespace Code = PrimitiveStatusCode;

inline std::int16_t Low16(std::int32_t v) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(v)); }

// Samples are unsigned P-bit values carried in 16-bit rows: the neighbours
// are read as unsigned so that predictors 5 to 7 halve the same numbers as
// every other decoder does for 16-bit samples at or above 32768.
inline std::int32_t Predict(std::int32_t predictor, std::int16_t a, std::int16_t b, std::int16_t c)
{
    const std::int32_t ra = static_cast<std::uint16_t>(a);
    const std::int32_t rb = static_cast<std::uint16_t>(b);
    const std::int32_t rc = static_cast<std::uint16_t>(c);
    switch (predictor) {
    case 1: return ra;
    case 2: return rb;
    case 3: return rc;
    case 4: return ra + rb - rc;
    case 5: return ra + ((rb - rc) >> 1);
    case 6: return rb + ((ra - rc) >> 1);
    default: return (ra + rb) >> 1;
    }
}

Status CheckFirst(const void* a, const void* b, std::int32_t width, std::int32_t precision, std::int32_t pt)
{
    if (a == nullptr || b == nullptr)
        return Code::NullPointer;
    if (width <= 0)
        return Code::BadSize;
    if (precision < 2 || precision > 16 || pt < 0)
        return Code::BadArgument;
    return Code::Ok;
}

Status CheckRow(const void* a, const void* b, const void* c, std::int32_t width, std::int32_t predictor)
{
    if (a == nullptr || b == nullptr || c == nullptr)
        return Code::NullPointer;
    if (width <= 0)
        return Code::BadSize;
    if (predictor < 1 || predictor > 7)
        return Code::BadArgument;
    return Code::Ok;
}

inline std::int32_t FirstConstant(std::int32_t precision, std::int32_t pt)
{
    return static_cast<std::int32_t>(1u << ((precision - pt - 1) & 31));
}

std::int32_t Category(std::int32_t d)
{
    std::uint32_t magnitude = static_cast<std::uint32_t>(d < 0 ? -d : d);
    std::int32_t s = 0;
    while (magnitude != 0) {
        ++s;
        magnitude >>= 1;
    }
    return s;
}

Status EncodeOne(std::int16_t d, std::uint8_t* dst, std::int32_t length, std::int32_t* position,
                 const HuffmanEncoderSpec* table, HuffmanEncoderState* state)
{
    const std::int32_t s = d == -32768 ? 16 : Category(d);
    const std::uint32_t entry = table->entry[s];
    if ((entry >> 16) == 0)
        return Code::BadHuffmanTable;
    Status status = primitives_detail::WriteBits(entry & 0xFFFF, static_cast<std::int32_t>(entry >> 16), dst, length,
                                                 position, state);
    if (status == Code::Ok && s >= 1 && s <= 15) {
        const std::int32_t bits = d < 0 ? d - 1 : d;
        status = primitives_detail::WriteBits(static_cast<std::uint32_t>(bits) & ((1u << s) - 1), s, dst, length,
                                              position, state);
    }
    return status;
}

Status DecodeOne(const std::uint8_t* src, std::int32_t length, std::int32_t* position, std::int16_t* difference,
                 std::int32_t* marker, const HuffmanDecoderSpec* table, HuffmanDecoderState* state)
{
    std::int32_t s = 0;
    Status status = primitives_detail::DecodeSymbol(src, length, position, marker, &s, table, state);
    if (status != Code::Ok)
        return status;
    if (s == 0) {
        *difference = 0;
        return Code::Ok;
    }
    if (s >= 16) {
        *difference = -32768;
        return Code::Ok;
    }
    if (state->pendingCount < s && (status = primitives_detail::FillBits(src, length, position, marker, s, state)) !=
                                       Code::Ok)
        return status;
    state->pendingCount -= s;
    const auto bits = static_cast<std::uint32_t>(state->pendingBits >> state->pendingCount) & ((1u << s) - 1);
    *difference = Low16(bits < (1u << (s - 1)) ? static_cast<std::int32_t>(bits) - (1 << s) + 1
                                               : static_cast<std::int32_t>(bits));
    return Code::Ok;
}

}  // namespace

PrimitiveStatus LosslessPredictFirstRow(const std::int16_t* current, std::int16_t* differences, std::int32_t width,
                                        std::int32_t precision, std::int32_t pointTransform)
{
    const Status status = CheckFirst(current, differences, width, precision, pointTransform);
    if (status != Code::Ok)
        return status;
    differences[0] = Low16(current[0] - FirstConstant(precision, pointTransform));
    for (std::int32_t i = 1; i < width; ++i)
        differences[i] = Low16(current[i] - current[i - 1]);
    return Code::Ok;
}

PrimitiveStatus LosslessPredictRow(const std::int16_t* current, const std::int16_t* previous,
                                   std::int16_t* differences, std::int32_t width, std::int32_t predictor)
{
    const Status status = CheckRow(current, previous, differences, width, predictor);
    if (status != Code::Ok)
        return status;
    differences[0] = Low16(current[0] - previous[0]);
    for (std::int32_t i = 1; i < width; ++i)
        differences[i] = Low16(current[i] - Predict(predictor, current[i - 1], previous[i], previous[i - 1]));
    return Code::Ok;
}

PrimitiveStatus LosslessReconstructFirstRow(const std::int16_t* differences, std::int16_t* samples,
                                            std::int32_t width, std::int32_t precision, std::int32_t pointTransform)
{
    const Status status = CheckFirst(differences, samples, width, precision, pointTransform);
    if (status != Code::Ok)
        return status;
    samples[0] = Low16(differences[0] + FirstConstant(precision, pointTransform));
    for (std::int32_t i = 1; i < width; ++i)
        samples[i] = Low16(differences[i] + samples[i - 1]);
    return Code::Ok;
}

PrimitiveStatus LosslessReconstructRow(const std::int16_t* differences, const std::int16_t* previous,
                                       std::int16_t* samples, std::int32_t width, std::int32_t predictor)
{
    const Status status = CheckRow(differences, previous, samples, width, predictor);
    if (status != Code::Ok)
        return status;
    samples[0] = Low16(differences[0] + previous[0]);
    for (std::int32_t i = 1; i < width; ++i)
        samples[i] = Low16(differences[i] + Predict(predictor, samples[i - 1], previous[i], previous[i - 1]));
    return Code::Ok;
}

PrimitiveStatus EncodeHuffmanLosslessDiff(const std::int16_t* difference, std::uint8_t* dst, std::int32_t dstLength,
                                          std::int32_t* position, const HuffmanEncoderSpec* table,
                                          HuffmanEncoderState* state, std::int32_t flush)
{
    if (dst == nullptr)
        return Code::NullPointer;
    if (dstLength <= 0)
        return Code::BadSize;
    if (position == nullptr || state == nullptr)
        return Code::NullPointer;
    if (flush != 0)
        return primitives_detail::FlushBits(dst, dstLength, position, state);
    if (difference == nullptr || table == nullptr)
        return Code::NullPointer;
    return EncodeOne(*difference, dst, dstLength, position, table, state);
}

PrimitiveStatus EncodeHuffmanLosslessRow(const std::int16_t* const rows[], std::int32_t width, std::int32_t count,
                                         std::uint8_t* dst, std::int32_t dstLength, std::int32_t* position,
                                         const HuffmanEncoderSpec* const tables[], HuffmanEncoderState* state,
                                         std::int32_t flush)
{
    if (dst == nullptr)
        return Code::NullPointer;
    if (dstLength <= 0)
        return Code::BadSize;
    if (position == nullptr || state == nullptr)
        return Code::NullPointer;
    if (flush != 0)
        return primitives_detail::FlushBits(dst, dstLength, position, state);
    if (rows == nullptr)
        return Code::NullPointer;
    if (width <= 0 || count <= 0)
        return Code::BadSize;
    if (tables == nullptr)
        return Code::NullPointer;
    const std::int32_t n = std::min(count, 4);
    for (std::int32_t j = 0; j < n; ++j)
        if (rows[j] == nullptr || tables[j] == nullptr)
            return Code::NullPointer;
    for (std::int32_t i = 0; i < width; ++i)
        for (std::int32_t j = 0; j < n; ++j) {
            const Status status = EncodeOne(rows[j][i], dst, dstLength, position, tables[j], state);
            if (status != Code::Ok)
                return status;
        }
    return Code::Ok;
}

PrimitiveStatus DecodeHuffmanLosslessDiff(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                          std::int16_t* difference, std::int32_t* marker,
                                          const HuffmanDecoderSpec* table, HuffmanDecoderState* state)
{
    if (src == nullptr)
        return Code::NullPointer;
    if (srcLength <= 0)
        return Code::BadSize;
    if (position == nullptr || difference == nullptr || marker == nullptr || table == nullptr || state == nullptr)
        return Code::NullPointer;
    return DecodeOne(src, srcLength, position, difference, marker, table, state);
}

PrimitiveStatus DecodeHuffmanLosslessRow(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                         std::int16_t* const rows[], std::int32_t width, std::int32_t count,
                                         std::int32_t* marker, const HuffmanDecoderSpec* const tables[],
                                         HuffmanDecoderState* state)
{
    if (src == nullptr)
        return Code::NullPointer;
    if (srcLength <= 0)
        return Code::BadSize;
    if (position == nullptr || rows == nullptr)
        return Code::NullPointer;
    if (width <= 0 || count <= 0)
        return Code::BadSize;
    if (marker == nullptr || tables == nullptr || state == nullptr)
        return Code::NullPointer;
    const std::int32_t n = std::min(count, 4);
    for (std::int32_t j = 0; j < n; ++j)
        if (rows[j] == nullptr || tables[j] == nullptr)
            return Code::NullPointer;
    for (std::int32_t i = 0; i < width; ++i)
        for (std::int32_t j = 0; j < n; ++j) {
            const Status status = DecodeOne(src, srcLength, position, &rows[j][i], marker, tables[j], state);
            if (status != Code::Ok)
                return status;
        }
    return Code::Ok;
}
