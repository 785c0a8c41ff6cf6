#pragma once
// Huffman tables, coder states and the sequential (baseline and extended)
// block coders of JPEG (ITU-T T.81 Annex C, F.1.2, F.2.2).
//
// The caller owns four kinds of buffers, sized by the queries below and
// handed to every coding call: an encoder table (per symbol (length << 16) |
// code, right-aligned; length 0 means no code), a decoder table (HUFFVAL,
// an 8-bit lookahead and the mincode / maxcode / valptr lists), an encoder
// state (pending bits and the progressive run and correction bits) and a
// decoder state (pending bits, run and block extent). An encoder state is
// cleared before the first block of a scan and after each flush.
//
// Coded data is a byte pointer, its length and a pointer to a byte position
// that the coder reads on entry and writes back (encoder: bytes already in the
// buffer; decoder: next byte to read). Decoders also take a marker slot: zero
// until the bit reader meets a marker, then the marker's second byte.
//
// Blocks are 64 int16 coefficients in natural order; the coders walk them in
// ZigzagOrder.

#include <cstdint>

#include "imaging/primitives/PrimitiveTypes.h"

// For each zig-zag position, the natural index of that coefficient.
extern const std::int32_t ZigzagOrder[64];

struct HuffmanEncoderSpec {
    std::uint32_t entry[256];
};

struct HuffmanDecoderSpec {
    std::uint16_t values[256];
    std::uint32_t lookahead[256];  // (length << 16) | symbol for codes of 1..8 bits, else 0
    std::int16_t mincode[18];
    std::int16_t maxcode[18];  // -1 for a length without codes
    std::uint16_t valptr[18];
};

struct HuffmanEncoderState {
    std::uint64_t pendingBits;  // right-aligned, oldest bit most significant
    std::int32_t pendingCount;
    std::int32_t endOfBandRun;
    std::uint32_t correctionCount;
    std::uint8_t correctionBits[1024];
};

struct HuffmanDecoderState {
    std::uint64_t pendingBits;  // right-aligned, newest byte in the low bits
    std::int32_t pendingCount;
    std::int32_t endOfBandRun;
    std::int32_t blockExtent;  // one past the last zig-zag position the last block reached
};

static_assert(sizeof(HuffmanEncoderSpec) == 1024);
static_assert(sizeof(HuffmanDecoderSpec) == 1644);
static_assert(sizeof(HuffmanEncoderState) == 1048);
static_assert(sizeof(HuffmanDecoderState) == 24);

// Each stores its size (1024, 1048, 1644, 24); a null pointer -8.
PrimitiveStatus GetHuffmanEncoderSpecSize(std::int32_t* size);
PrimitiveStatus GetHuffmanEncoderStateSize(std::int32_t* size);
PrimitiveStatus GetHuffmanDecoderSpecSize(std::int32_t* size);
PrimitiveStatus GetHuffmanDecoderStateSize(std::int32_t* size);

// bits: 16 code counts for lengths 1..16; values: the symbols in code order.
// A null pointer -8; more than 256 codes -64; for the encoder also codes that
// overrun their length (an all-ones code) -64. The decoder table fails only
// when a short code runs past the lookahead.
PrimitiveStatus InitHuffmanEncoderSpec(const std::uint8_t bits[16], const std::uint8_t* values,
                                       HuffmanEncoderSpec* spec);
PrimitiveStatus InitHuffmanDecoderSpec(const std::uint8_t bits[16], const std::uint8_t* values,
                                       HuffmanDecoderSpec* spec);

// Clear every field; a null pointer -8.
PrimitiveStatus InitHuffmanEncoderState(HuffmanEncoderState* state);
PrimitiveStatus InitHuffmanDecoderState(HuffmanDecoderState* state);

// Appends the low `length` bits of value (1..16) and writes every completed
// byte, an 0xFF followed by a stuffed 0x00. Length 0: -64. Destination full:
// -62, the bytes written so far counted, the state as on entry.
PrimitiveStatus WriteHuffmanBits(std::uint32_t value, std::int32_t length, std::uint8_t* dst,
                                 std::int32_t dstLength, std::int32_t* position, HuffmanEncoderState* state);
// Completes the last partial byte with 1-bits and clears the state.
PrimitiveStatus FlushHuffmanBits(std::uint8_t* dst, std::int32_t dstLength, std::int32_t* position,
                                 HuffmanEncoderState* state);

// Reads bytes until at least 25 bits are pending (FF 00 a data byte, FF FF
// fill, FF xx a marker stored in the slot). -62 when the source ends before
// `needed` bits (or inside FF fill); after a marker, -63 when fewer than
// `needed` bits are pending.
PrimitiveStatus FillHuffmanBits(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                std::int32_t* marker, std::int32_t needed, HuffmanDecoderState* state);
// One symbol; -63 (symbol 0) when no code of up to 16 bits matches.
PrimitiveStatus DecodeHuffmanSymbol(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                    std::int32_t* marker, std::int32_t* symbol, const HuffmanDecoderSpec* spec,
                                    HuffmanDecoderState* state);

// Codes one block: the DC difference from *lastDc (then replaced), the AC
// run/size symbols with ZRL and EOB. With flush non-zero only dst, length,
// position and state are used: the pending bits are completed with 1-bits.
// Checks: dst null -8; dstLength <= 0 -6; position or state null -8; then
// (not flushing) block, lastDc or a table null -8. -64 for a symbol without a
// code, -62 when the destination fills.
PrimitiveStatus EncodeHuffman8x8(const std::int16_t block[64], std::uint8_t* dst, std::int32_t dstLength,
                                 std::int32_t* position, std::int16_t* lastDc, const HuffmanEncoderSpec* dcTable,
                                 const HuffmanEncoderSpec* acTable, HuffmanEncoderState* state, std::int32_t flush);

// Decodes one block. Checks: src null -8; srcLength < 0 -5; any other pointer
// null -8. -62 when the data ends, -63 for a bad code or bits needed after a
// marker, -2 when a run carries a coefficient past position 63 (nothing is
// written outside the block).
PrimitiveStatus DecodeHuffman8x8(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                 std::int16_t block[64], std::int16_t* lastDc, std::int32_t* marker,
                                 const HuffmanDecoderSpec* dcTable, const HuffmanDecoderSpec* acTable,
                                 HuffmanDecoderState* state);

// An AC table of 10-bit lookahead for the common case of a code of up to 8
// bits whose value bits follow within the 10: per 10-bit prefix, (value <<
// 16) | (kind << 8) | (bits taken << 4) | run, kind 0 a coefficient, 1 the
// end of the block, 2 a run of 16 zeros; 0 where the prefix needs the
// general reader.
struct HuffmanFastAcTable {
    std::int32_t entry[1024];
};

// Builds the table from a decoder table; a null pointer -8.
PrimitiveStatus InitHuffmanFastAcTable(const HuffmanDecoderSpec* acTable, HuffmanFastAcTable* fast);

// DecodeHuffman8x8 with a fast AC table built from acTable (the same results,
// statuses and reader state for every input); fast null -8.
PrimitiveStatus DecodeHuffman8x8Fast(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                     std::int16_t block[64], std::int16_t* lastDc, std::int32_t* marker,
                                     const HuffmanDecoderSpec* dcTable, const HuffmanDecoderSpec* acTable,
                                     const HuffmanFastAcTable* fast, HuffmanDecoderState* state);

// The blocks of one MCU in order, block i with lastDc[i] and the tables of
// index i, as that many DecodeHuffman8x8Fast calls give them; stops at the
// first block that fails and returns its status (the blocks after it are left
// as they were). A null pointer among the arrays or their first count entries
// -8, before anything is read.
PrimitiveStatus DecodeHuffmanMcuFast(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                     std::int16_t* const blocks[], std::int32_t count,
                                     std::int16_t* const lastDc[], const HuffmanDecoderSpec* const dcTables[],
                                     const HuffmanDecoderSpec* const acTables[],
                                     const HuffmanFastAcTable* const fastTables[], std::int32_t* marker,
                                     HuffmanDecoderState* state);

// Several MCUs in one call: MCU m's block i at blocks[i] + m * strides[i]
// (strides in coefficients), each as DecodeHuffmanMcuFast decodes it. The
// first MCU is always decoded; each further one only while `mcus` allows and
// at least `reserve` bytes lie ahead of the position, so that a caller that
// refills its buffer before each call sees what it would see with one call
// per MCU. *decoded gets the number of MCUs decoded without a fault; a fault
// ends the call with that MCU's status. Null pointers -8; count outside
// 1..10, mcus below 1 or a negative reserve -5; both before anything is read
// (*decoded 0 where it can be written).
PrimitiveStatus DecodeHuffmanMcusFast(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                      std::int16_t* const blocks[], const std::int32_t strides[], std::int32_t count,
                                      std::int32_t mcus, std::int32_t reserve, std::int32_t* decoded,
                                      std::int16_t* const lastDc[], const HuffmanDecoderSpec* const dcTables[],
                                      const HuffmanDecoderSpec* const acTables[],
                                      const HuffmanFastAcTable* const fastTables[], std::int32_t* marker,
                                      HuffmanDecoderState* state);

// The most bytes one EncodeHuffman8x8 call can add to the buffer, stuffing
// included (a DC code and bits of 32, 63 AC codes and bits of at most 31,
// plus 7 pending bits, every byte possibly stuffed).
inline constexpr std::int32_t kMaxHuffmanBlockBytes = 2 * ((32 + 63 * 31 + 7 + 7) / 8);
