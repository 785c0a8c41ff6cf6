#pragma once
// Lossless JPEG (ITU-T T.81 Annex H): prediction differences of one row and
// their reconstruction, and the Huffman coding of the differences.
//
// Rows are 16-bit values; a sample is read as unsigned (a 16-bit sample may
// be 32768 or more), a difference as signed. Differences and samples are
// reduced modulo 2^16. The first row of a scan (or of a restart interval) is predicted from
// the left, its first sample from 2^(P - Pt - 1); other rows use one of the
// seven predictors of Table H.1 (their first sample from the sample above).
// A difference's symbol is its magnitude category 0..16; 16 stands for
// -32768 and has no additional bits.

#include <cstdint>

#include "imaging/primitives/Huffman.h"

// current or differences null -8; width <= 0 -6; precision outside 2..16 or
// pointTransform < 0 -5.
PrimitiveStatus LosslessPredictFirstRow(const std::int16_t* current, std::int16_t* differences, std::int32_t width,
                                        std::int32_t precision, std::int32_t pointTransform);
// A row null -8; width <= 0 -6; predictor outside 1..7 -5.
PrimitiveStatus LosslessPredictRow(const std::int16_t* current, const std::int16_t* previous,
                                   std::int16_t* differences, std::int32_t width, std::int32_t predictor);
PrimitiveStatus LosslessReconstructFirstRow(const std::int16_t* differences, std::int16_t* samples,
                                            std::int32_t width, std::int32_t precision, std::int32_t pointTransform);
PrimitiveStatus LosslessReconstructRow(const std::int16_t* differences, const std::int16_t* previous,
                                       std::int16_t* samples, std::int32_t width, std::int32_t predictor);

// One difference. Checks: destination null -8; length <= 0 -6; position or
// state null -8; flush mode: flush with 1-bits and return; difference or
// table null -8. -64 for a category without a code, -62 when full.
PrimitiveStatus EncodeHuffmanLosslessDiff(const std::int16_t* difference, std::uint8_t* dst, std::int32_t dstLength,
                                          std::int32_t* position, const HuffmanEncoderSpec* table,
                                          HuffmanEncoderState* state, std::int32_t flush);
// Columns in order, one difference of each of the first min(count, 4)
// components per column.
PrimitiveStatus EncodeHuffmanLosslessRow(const std::int16_t* const rows[], std::int32_t width, std::int32_t count,
                                         std::uint8_t* dst, std::int32_t dstLength, std::int32_t* position,
                                         const HuffmanEncoderSpec* const tables[], HuffmanEncoderState* state,
                                         std::int32_t flush);
// Checks: source null -8; length <= 0 -6; position, difference, marker,
// table or state null -8. -62 when the source ends, -63 for a bad code.
PrimitiveStatus DecodeHuffmanLosslessDiff(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                          std::int16_t* difference, std::int32_t* marker,
                                          const HuffmanDecoderSpec* table, HuffmanDecoderState* state);
PrimitiveStatus DecodeHuffmanLosslessRow(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                         std::int16_t* const rows[], std::int32_t width, std::int32_t count,
                                         std::int32_t* marker, const HuffmanDecoderSpec* const tables[],
                                         HuffmanDecoderState* state);
