#pragma once
// The bit writer, bit reader and symbol decoder without argument checks, for
// the coders that have checked their own arguments.

#include "imaging/primitives/Huffman.h"

namespace primitives_detail {

PrimitiveStatus WriteBits(std::uint32_t value, std::int32_t length, std::uint8_t* dst, std::int32_t dstLength,
                          std::int32_t* position, HuffmanEncoderState* state);
PrimitiveStatus FlushBits(std::uint8_t* dst, std::int32_t dstLength, std::int32_t* position,
                          HuffmanEncoderState* state);
PrimitiveStatus FillBits(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                         std::int32_t* marker, std::int32_t needed, HuffmanDecoderState* state);
PrimitiveStatus DecodeSymbol(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                             std::int32_t* marker, std::int32_t* symbol, const HuffmanDecoderSpec* spec,
                             HuffmanDecoderState* state);


// A code of up to 8 bits read through the table's lookahead from the top 8
// of the `count` pending bits: the symbol, with `count` less the code's
// length. False, with nothing taken, when fewer than 8 bits are pending or
// the code is longer: the caller then goes to DecodeSymbol.
inline bool TakeShortCode(const HuffmanDecoderSpec* spec, std::uint64_t bits, std::int32_t& count,
                          std::int32_t* symbol)
{
    if (count < 8)
        return false;
    const std::uint32_t entry = spec->lookahead[static_cast<std::uint32_t>(bits >> (count - 8)) & 0xFF];
    if (entry == 0)
        return false;
    count -= static_cast<std::int32_t>(entry >> 16);
    *symbol = static_cast<std::int32_t>(entry & 0xFFFF);
    return true;
}

}  // namespace primitives_detail

namespace primitives_detail {

// EncodeHuffman8x8 without its fast path (same contract and bytes).
PrimitiveStatus EncodeHuffman8x8General(const std::int16_t* block, std::uint8_t* dst, std::int32_t length,
                                        std::int32_t* position, std::int16_t* lastDc, const HuffmanEncoderSpec* dc,
                                        const HuffmanEncoderSpec* ac, HuffmanEncoderState* state,
                                        std::int32_t flush);

}  // namespace primitives_detail
