#include "imaging/primitives/HuffmanStatistics.h"

#include <cstring>

namespace {

using Status = PrimitiveStatus;
namespace Code = PrimitiveStatusCode;

inline std::int32_t Category(std::int32_t v)
{
    std::uint32_t magnitude = static_cast<std::uint32_t>(v < 0 ? -v : v);
    std::int32_t s = 0;
    while (magnitude != 0) {
        ++s;
        magnitude >>= 1;
    }
    return s;
}

// Counts a pending end-of-band run: EOB0 for 1, else EOBr with r = log2.
inline void CountRun(std::int32_t counts[256], HuffmanEncoderState* state)
{
    const std::int32_t run = state->endOfBandRun;
    if (run == 0)
        return;
    const std::int32_t r = Category(run) - 1;
    ++counts[run == 1 ? 0 : (r << 4)];
    state->endOfBandRun = 0;
}

Status CheckAc(const std::int16_t* block, const std::int32_t* counts, std::int32_t ss, std::int32_t se,
               std::int32_t al, HuffmanEncoderState* state, std::int32_t flush, bool* done)
{
    *done = false;
    if (counts == nullptr || state == nullptr)
        return Code::NullPointer;
    if (flush != 0) {
        CountRun(const_cast<std::int32_t*>(counts), state);
        InitHuffmanEncoderState(state);
        *done = true;
        return Code::Ok;
    }
    if (block == nullptr)
        return Code::NullPointer;
    if (ss < 1 || ss > 63 || se < ss || se > 63 || al < 0 || al > 13)
        return Code::BadArgument;
    return Code::Ok;
}

}  // namespace

PrimitiveStatus Gather8x8Statistics(const std::int16_t block[64], std::int32_t dcCounts[256],
                                    std::int32_t acCounts[256], std::int16_t* lastDc)
{
    if (block == nullptr || dcCounts == nullptr || acCounts == nullptr || lastDc == nullptr)
        return Code::NullPointer;
    const std::int32_t diff = block[0] - *lastDc;
    *lastDc = block[0];
    const std::int32_t s = Category(diff);
    if (s > 15)
        return Code::HuffmanRange;
    ++dcCounts[s];
    std::int32_t run = 0;
    for (std::int32_t k = 1; k < 64; ++k) {
        const std::int32_t c = block[ZigzagOrder[k]];
        if (c == 0) {
            ++run;
            continue;
        }
        acCounts[0xF0] += run / 16;
        run %= 16;
        const std::int32_t n = Category(c);
        if (n > 14)
            return Code::HuffmanRange;
        ++acCounts[(run << 4) + n];
        run = 0;
    }
    if (run > 0)
        ++acCounts[0];
    return Code::Ok;
}

PrimitiveStatus GatherDcFirstStatistics(const std::int16_t block[64], std::int32_t counts[256],
                                        std::int16_t* lastDc, std::int32_t al)
{
    if (block == nullptr || counts == nullptr || lastDc == nullptr)
        return Code::NullPointer;
    if (al < 0 || al > 13)
        return Code::BadArgument;
    const std::int32_t v = block[0] >> al;
    const std::int32_t diff = v - *lastDc;
    *lastDc = static_cast<std::int16_t>(v);
    const std::int32_t s = Category(diff);
    if (s > 11)
        return Code::HuffmanRange;
    ++counts[s];
    return Code::Ok;
}

PrimitiveStatus GatherAcFirstStatistics(const std::int16_t block[64], std::int32_t counts[256], std::int32_t ss,
                                        std::int32_t se, std::int32_t al, HuffmanEncoderState* state,
                                        std::int32_t flush)
{
    bool done = false;
    const Status status = CheckAc(block, counts, ss, se, al, state, flush, &done);
    if (status != Code::Ok || done)
        return status;
    std::int32_t r = 0;
    for (std::int32_t k = ss; k <= se; ++k) {
        const std::int32_t c = block[ZigzagOrder[k]];
        const std::int32_t t = (c < 0 ? -c : c) >> al;
        if (t == 0) {
            ++r;
            continue;
        }
        CountRun(counts, state);
        counts[0xF0] += r / 16;
        r %= 16;
        const std::int32_t n = Category(t);
        if (n > 10)
            return Code::HuffmanRange;
        ++counts[(r << 4) + n];
        r = 0;
    }
    if (r > 0 && ++state->endOfBandRun == 32767) {
        ++counts[0xE0];
        state->endOfBandRun = 0;
    }
    return Code::Ok;
}

PrimitiveStatus GatherAcRefineStatistics(const std::int16_t block[64], std::int32_t counts[256], std::int32_t ss,
                                         std::int32_t se, std::int32_t al, HuffmanEncoderState* state,
                                         std::int32_t flush)
{
    bool done = false;
    const Status status = CheckAc(block, counts, ss, se, al, state, flush, &done);
    if (status != Code::Ok || done)
        return status;
    std::int32_t a[64] = {};
    std::int32_t eob = se + 1;
    for (std::int32_t k = ss; k <= se; ++k) {
        const std::int32_t c = block[ZigzagOrder[k]];
        a[k] = (c < 0 ? -c : c) >> al;
        if (a[k] == 1)
            eob = k;
    }
    std::int32_t r = 0, br = 0;
    const auto countPending = [&]() {
        CountRun(counts, state);
        state->correctionCount = 0;
    };
    for (std::int32_t k = ss; k <= se; ++k) {
        if (a[k] == 0) {
            ++r;
            continue;
        }
        while (r > 15 && k <= eob) {
            countPending();
            ++counts[0xF0];
            r -= 16;
            br = 0;
        }
        if (a[k] > 1) {
            ++br;
            continue;
        }
        countPending();
        ++counts[(r << 4) + 1];
        br = 0;
        r = 0;
    }
    if (r > 0 || br > 0) {
        ++state->endOfBandRun;
        state->correctionCount += static_cast<std::uint32_t>(br);
        if (state->correctionCount > 937 || state->endOfBandRun == 32767)
            countPending();
    }
    return Code::Ok;
}

PrimitiveStatus GatherLosslessStatistics(const std::int16_t* difference, std::int32_t counts[256])
{
    if (difference == nullptr || counts == nullptr)
        return Code::NullPointer;
    ++counts[*difference == -32768 ? 16 : Category(*difference)];
    return Code::Ok;
}

std::int32_t* FillVector32(std::int32_t value, std::int32_t* destination, std::uint32_t count)
{
    for (std::uint32_t i = 0; i < count; ++i)
        destination[i] = value;
    return destination;
}

PrimitiveStatus BuildOptimalHuffmanTable(const std::int32_t counts[256], std::uint8_t bits[16],
                                         std::uint8_t values[256])
{
    if (counts == nullptr || bits == nullptr || values == nullptr)
        return Code::NullPointer;
    std::int64_t freq[257];
    for (int i = 0; i < 256; ++i)
        freq[i] = counts[i];
    freq[256] = 1;  // the reserved code point: no real code is all ones
    std::int32_t codesize[257];
    std::int32_t others[257];
    FillVector32(0, codesize, 257);
    FillVector32(-1, others, 257);
    constexpr std::int64_t kNever = 1000000000;
    for (;;) {
        std::int32_t c1 = -1, c2 = -1;
        std::int64_t v = kNever;
        for (std::int32_t i = 0; i <= 256; ++i)
            if (freq[i] > 0 && freq[i] <= v) {
                v = freq[i];
                c1 = i;
            }
        v = kNever;
        for (std::int32_t i = 0; i <= 256; ++i)
            if (freq[i] > 0 && freq[i] <= v && i != c1) {
                v = freq[i];
                c2 = i;
            }
        if (c2 < 0)
            break;
        freq[c1] += freq[c2];
        freq[c2] = 0;
        ++codesize[c1];
        while (others[c1] >= 0) {
            c1 = others[c1];
            ++codesize[c1];
        }
        others[c1] = c2;
        ++codesize[c2];
        while (others[c2] >= 0) {
            c2 = others[c2];
            ++codesize[c2];
        }
    }
    std::int32_t count[33] = {};
    for (std::int32_t i = 0; i <= 256; ++i)
        if (codesize[i] != 0) {
            if (codesize[i] > 32)
                return Code::BadHuffmanTable;
            ++count[codesize[i]];
        }
    for (std::int32_t i = 32; i > 16; --i)
        while (count[i] > 0) {
            std::int32_t j = i - 2;
            while (count[j] == 0)
                --j;
            count[i] -= 2;
            count[i - 1] += 1;
            count[j + 1] += 2;
            count[j] -= 1;
        }
    std::int32_t i = 16;
    while (i > 0 && count[i] == 0)
        --i;
    if (i > 0)
        --count[i];
    for (std::int32_t k = 0; k < 16; ++k)
        bits[k] = static_cast<std::uint8_t>(count[k + 1]);
    std::int32_t p = 0;
    for (std::int32_t length = 1; length <= 32; ++length)
        for (std::int32_t symbol = 0; symbol < 256; ++symbol)
            if (codesize[symbol] == length && p < 256)
                values[p++] = static_cast<std::uint8_t>(symbol);
    return Code::Ok;
}
