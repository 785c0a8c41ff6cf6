#pragma once
// Symbol statistics of the Huffman coders and optimal tables from them
// (ITU-T T.81 Annex K.2).
//
// The gatherers count symbols exactly as the coders would emit them into
// tables of 256 int32 counters (the caller clears them; the gatherers only
// add). The progressive AC gatherers keep their end-of-band run (and the
// correction-bit count) in an encoder state, as the encoders do, and count
// the last run in flush mode.

#include <cstdint>

#include "imaging/primitives/Huffman.h"

// Sequential block (natural order). A pointer null -8; a DC category above 15
// or an AC category above 14 -63 (counts made so far stay).
PrimitiveStatus Gather8x8Statistics(const std::int16_t block[64], std::int32_t dcCounts[256],
                                    std::int32_t acCounts[256], std::int16_t* lastDc);
// DC first scan of a progressive image; Al outside 0..13 -5; a category
// above 11 -63.
PrimitiveStatus GatherDcFirstStatistics(const std::int16_t block[64], std::int32_t counts[256],
                                        std::int16_t* lastDc, std::int32_t al);
// AC scans of a progressive image. counts or state null -8; flush mode:
// count a pending run, clear the state, return; block null -8; Ss, Se or Al
// out of range -5; a magnitude of more than 10 bits (first scans) -63.
PrimitiveStatus GatherAcFirstStatistics(const std::int16_t block[64], std::int32_t counts[256], std::int32_t ss,
                                        std::int32_t se, std::int32_t al, HuffmanEncoderState* state,
                                        std::int32_t flush);
PrimitiveStatus GatherAcRefineStatistics(const std::int16_t block[64], std::int32_t counts[256], std::int32_t ss,
                                         std::int32_t se, std::int32_t al, HuffmanEncoderState* state,
                                         std::int32_t flush);
// One lossless difference (categories 0..16).
PrimitiveStatus GatherLosslessStatistics(const std::int16_t* difference, std::int32_t counts[256]);
// BITS (code counts of lengths 1..16) and HUFFVAL (symbols by increasing
// length, then value) of the optimal code for the counts, lengths limited to
// 16 and the all-ones code left free. A pointer null -8; a length above 32
// before limiting -64.
PrimitiveStatus BuildOptimalHuffmanTable(const std::int32_t counts[256], std::uint8_t bits[16],
                                         std::uint8_t values[256]);
// Stores value into count consecutive elements; returns destination.
std::int32_t* FillVector32(std::int32_t value, std::int32_t* destination, std::uint32_t count);
