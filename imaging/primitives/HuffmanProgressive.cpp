#include "imaging/primitives/HuffmanProgressive.h"

#include "imaging/primitives/detail/HuffmanBits.h"

namespace {

using Status = PrimitiveStatus;
namespace Code = PrimitiveStatusCode;
using primitives_detail::DecodeSymbol;
using primitives_detail::FillBits;

// The bit reader of one call.
struct Bits {
    const std::uint8_t* src;
    std::int32_t length;
    std::int32_t* position;
    std::int32_t* marker;
    HuffmanDecoderState* state;

    Status Take(std::int32_t n, std::uint32_t* bits)
    {
        if (n == 0) {
            *bits = 0;
            return Code::Ok;
        }
        if (state->pendingCount < n) {
            const Status status = FillBits(src, length, position, marker, n, state);
            if (status != Code::Ok)
                return status;
        }
        state->pendingCount -= n;
        *bits = static_cast<std::uint32_t>(state->pendingBits >> state->pendingCount) & ((1u << n) - 1);
        return Code::Ok;
    }
    Status Extended(std::int32_t n, std::int32_t* value)
    {
        std::uint32_t bits = 0;
        const Status status = Take(n, &bits);
        if (status == Code::Ok)
            *value = bits < (1u << (n - 1)) ? static_cast<std::int32_t>(bits) - (1 << n) + 1
                                             : static_cast<std::int32_t>(bits);
        return status;
    }
    Status Symbol(const HuffmanDecoderSpec* spec, std::int32_t* symbol)
    {
        return DecodeSymbol(src, length, position, marker, symbol, spec, state);
    }
};

inline std::int16_t Low16(std::int32_t v) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(v)); }

Status CheckAc(const std::uint8_t* src, std::int32_t length, const std::int32_t* position, const std::int16_t* block,
               const std::int32_t* marker, std::int32_t ss, std::int32_t se, std::int32_t al,
               const HuffmanDecoderSpec* table, const HuffmanDecoderState* state)
{
    if (src == nullptr)
        return Code::NullPointer;
    if (length < 1)
        return Code::BadSize;
    if (position == nullptr || block == nullptr || marker == nullptr)
        return Code::NullPointer;
    if (ss < 1 || ss > 63 || se < ss || se > 63 || al < 0 || al > 13)
        return Code::BadArgument;
    if (table == nullptr || state == nullptr)
        return Code::NullPointer;
    return Code::Ok;
}

}  // namespace

PrimitiveStatus DecodeHuffmanDcFirst(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                     std::int16_t block[64], std::int16_t* lastDc, std::int32_t* marker,
                                     std::int32_t al, const HuffmanDecoderSpec* dcTable, HuffmanDecoderState* state)
{
    if (src == nullptr)
        return Code::NullPointer;
    if (srcLength <= 0)
        return Code::BadSize;
    if (position == nullptr || block == nullptr || lastDc == nullptr || marker == nullptr)
        return Code::NullPointer;
    if (al < 0 || al > 13)
        return Code::BadArgument;
    if (dcTable == nullptr || state == nullptr)
        return Code::NullPointer;
    Bits bits{src, srcLength, position, marker, state};
    std::int32_t symbol = 0;
    Status status = bits.Symbol(dcTable, &symbol);
    if (status != Code::Ok)
        return status;
    const std::int32_t s = symbol & 15;
    if (s != 0) {
        std::int32_t value = 0;
        if ((status = bits.Extended(s, &value)) != Code::Ok)
            return status;
        *lastDc = Low16(*lastDc + value);
    }
    block[0] = Low16(static_cast<std::int32_t>(static_cast<std::uint32_t>(*lastDc) << al));
    return Code::Ok;
}

PrimitiveStatus DecodeHuffmanDcRefine(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                      std::int16_t block[64], std::int32_t* marker, std::int32_t al,
                                      HuffmanDecoderState* state)
{
    if (src == nullptr)
        return Code::NullPointer;
    if (srcLength <= 0)
        return Code::BadSize;
    if (position == nullptr || block == nullptr || marker == nullptr)
        return Code::NullPointer;
    if (al < 0 || al > 13)
        return Code::BadArgument;
    if (state == nullptr)
        return Code::NullPointer;
    Bits bits{src, srcLength, position, marker, state};
    std::uint32_t bit = 0;
    const Status status = bits.Take(1, &bit);
    if (status == Code::Ok && bit != 0)
        block[0] = static_cast<std::int16_t>(block[0] | (1 << al));
    return status;
}

PrimitiveStatus DecodeHuffmanAcFirst(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                     std::int16_t block[64], std::int32_t* marker, std::int32_t ss, std::int32_t se,
                                     std::int32_t al, const HuffmanDecoderSpec* acTable, HuffmanDecoderState* state)
{
    Status status = CheckAc(src, srcLength, position, block, marker, ss, se, al, acTable, state);
    if (status != Code::Ok)
        return status;
    if (state->endOfBandRun > 0) {
        --state->endOfBandRun;
        return Code::Ok;
    }
    Bits bits{src, srcLength, position, marker, state};
    for (std::int32_t k = ss; k <= se;) {
        std::int32_t symbol = 0;
        if ((status = bits.Symbol(acTable, &symbol)) != Code::Ok)
            return status;
        const std::int32_t r = symbol >> 4, s = symbol & 15;
        if (s != 0) {
            k += r;
            if (k > se)
                return Code::CorruptData;
            std::int32_t value = 0;
            if ((status = bits.Extended(s, &value)) != Code::Ok)
                return status;
            block[ZigzagOrder[k]] = Low16(static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << al));
            ++k;
        } else if (r == 15) {
            k += 16;
        } else {
            std::uint32_t extra = 0;
            if ((status = bits.Take(r, &extra)) != Code::Ok)
                return status;
            state->endOfBandRun = (1 << r) + static_cast<std::int32_t>(extra) - 1;
            break;
        }
    }
    return Code::Ok;
}

PrimitiveStatus DecodeHuffmanAcRefine(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                      std::int16_t block[64], std::int32_t* marker, std::int32_t ss, std::int32_t se,
                                      std::int32_t al, const HuffmanDecoderSpec* acTable,
                                      HuffmanDecoderState* state)
{
    Status status = CheckAc(src, srcLength, position, block, marker, ss, se, al, acTable, state);
    if (status != Code::Ok)
        return status;
    Bits bits{src, srcLength, position, marker, state};
    const std::int32_t p1 = 1 << al;
    const std::int32_t m1 = -(1 << al);
    // A correction bit for a coefficient that is already non-zero.
    const auto correct = [&](std::int16_t& coefficient) {
        std::uint32_t bit = 0;
        const Status s = bits.Take(1, &bit);
        if (s == Code::Ok && bit != 0 && (coefficient & p1) == 0)
            coefficient = Low16(coefficient + (coefficient >= 0 ? p1 : m1));
        return s;
    };
    std::int32_t k = ss;
    if (state->endOfBandRun == 0) {
        for (; k <= se; ++k) {
            std::int32_t symbol = 0;
            if ((status = bits.Symbol(acTable, &symbol)) != Code::Ok)
                return status;
            std::int32_t r = symbol >> 4;
            std::int32_t value = 0;
            if ((symbol & 15) != 0) {
                std::uint32_t bit = 0;
                if ((status = bits.Take(1, &bit)) != Code::Ok)
                    return status;
                value = bit != 0 ? p1 : m1;
            } else if (r != 15) {
                std::uint32_t extra = 0;
                if ((status = bits.Take(r, &extra)) != Code::Ok)
                    return status;
                state->endOfBandRun = (1 << r) + static_cast<std::int32_t>(extra);
                break;
            }
            // Walk to the r-th zero coefficient, correcting non-zero ones.
            for (; k <= se; ++k) {
                std::int16_t& coefficient = block[ZigzagOrder[k]];
                if (coefficient != 0) {
                    if ((status = correct(coefficient)) != Code::Ok)
                        return status;
                } else if (--r < 0) {
                    break;
                }
            }
            if (value != 0) {
                if (k > se)
                    return Code::CorruptData;
                block[ZigzagOrder[k]] = Low16(value);
            }
        }
    }
    if (state->endOfBandRun > 0) {
        for (; k <= se; ++k) {
            std::int16_t& coefficient = block[ZigzagOrder[k]];
            if (coefficient != 0 && (status = correct(coefficient)) != Code::Ok)
                return status;
        }
        --state->endOfBandRun;
    }
    return Code::Ok;
}
