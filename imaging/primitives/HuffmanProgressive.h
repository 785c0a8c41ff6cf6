#pragma once
// Encoders and decoders of the four kinds of progressive scan (ITU-T T.81
// G.1.2, G.2), one block per call, on the tables, states, bit writer and bit
// reader of Huffman.h.
//
// Each changes the block in place and leaves every position outside its band
// untouched, so that the scans of an image build its blocks up together. The
// end-of-band run is carried from block to block in the decoder state. Ss and
// Se are zig-zag positions (AC scans: 1 <= Ss <= Se <= 63); Al is the
// successive-approximation bit position, 0..13.
//
// Statuses: argument checks -8, -6, -5 (see each line); -62 when the source
// is exhausted, -63 for a bad code or bits needed after a marker, -2 when a
// run carries a coefficient past Se (nothing is written outside the band).
// The state's pending bits and the position are written back on every exit.

#include <cstdint>

#include "imaging/primitives/Huffman.h"

// Only position 0 is written: (last DC + difference) << Al. Checks: source
// null -8; length <= 0 -6; position, block, last DC or marker null -8; Al
// outside 0..13 -5; table or state null -8.
PrimitiveStatus DecodeHuffmanDcFirst(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                     std::int16_t block[64], std::int16_t* lastDc, std::int32_t* marker,
                                     std::int32_t al, const HuffmanDecoderSpec* dcTable, HuffmanDecoderState* state);
// One bit: set bit Al of position 0. Checks as above without last DC and
// table.
PrimitiveStatus DecodeHuffmanDcRefine(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                      std::int16_t block[64], std::int32_t* marker, std::int32_t al,
                                      HuffmanDecoderState* state);
// Checks: source null -8; length < 1 -6; position, block or marker null -8;
// Ss, Se or Al out of range -5; table or state null -8.
PrimitiveStatus DecodeHuffmanAcFirst(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                     std::int16_t block[64], std::int32_t* marker, std::int32_t ss, std::int32_t se,
                                     std::int32_t al, const HuffmanDecoderSpec* acTable, HuffmanDecoderState* state);
PrimitiveStatus DecodeHuffmanAcRefine(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                      std::int16_t block[64], std::int32_t* marker, std::int32_t ss, std::int32_t se,
                                      std::int32_t al, const HuffmanDecoderSpec* acTable,
                                      HuffmanDecoderState* state);

// Encoders. Flush mode (flush non-zero) uses only the destination, its
// length, the position, the state and (AC) the table: the pending end-of-band
// run and correction bits are written, the bits padded with 1-bits and the
// state cleared. Checks as the decoders', destination for source; -63 for a
// DC first category above 11 or an AC first magnitude of more than 11 bits;
// -64 for a symbol without a code; -62 when the destination fills.
PrimitiveStatus EncodeHuffmanDcFirst(const std::int16_t block[64], std::uint8_t* dst, std::int32_t dstLength,
                                     std::int32_t* position, std::int16_t* lastDc, std::int32_t al,
                                     const HuffmanEncoderSpec* dcTable, HuffmanEncoderState* state,
                                     std::int32_t flush);
PrimitiveStatus EncodeHuffmanDcRefine(const std::int16_t block[64], std::uint8_t* dst, std::int32_t dstLength,
                                      std::int32_t* position, std::int32_t al, HuffmanEncoderState* state,
                                      std::int32_t flush);
PrimitiveStatus EncodeHuffmanAcFirst(const std::int16_t block[64], std::uint8_t* dst, std::int32_t dstLength,
                                     std::int32_t* position, std::int32_t ss, std::int32_t se, std::int32_t al,
                                     const HuffmanEncoderSpec* acTable, HuffmanEncoderState* state,
                                     std::int32_t flush);
PrimitiveStatus EncodeHuffmanAcRefine(const std::int16_t block[64], std::uint8_t* dst, std::int32_t dstLength,
                                      std::int32_t* position, std::int32_t ss, std::int32_t se, std::int32_t al,
                                      const HuffmanEncoderSpec* acTable, HuffmanEncoderState* state,
                                      std::int32_t flush);
