#include "imaging/primitives/HuffmanProgressive.h"

#include "imaging/primitives/detail/HuffmanBits.h"

namespace {

using Status = PrimitiveStatus;
namespace Code = PrimitiveStatusCode;
using primitives_detail::DecodeSymbol;
using primitives_detail::FillBits;
using primitives_detail::TakeShortCode;

// The bit reader of one call, its pending bits in locals while the call
// runs (written back before the shared reader runs and on leaving), so that
// it reads the stream exactly as the shared reader alone does.
class Bits {
public:
    Bits(const std::uint8_t* src, std::int32_t length, std::int32_t* position, std::int32_t* marker,
         HuffmanDecoderState* state)
        : src_(src), length_(length), position_(position), marker_(marker), state_(state),
          bits_(state->pendingBits), count_(state->pendingCount)
    {
    }
    ~Bits() { Store(); }
    Bits(const Bits&) = delete;
    Bits& operator=(const Bits&) = delete;

    Status Take(std::int32_t n, std::uint32_t* bits)
    {
        if (n == 0) {
            *bits = 0;
            return Code::Ok;
        }
        if (count_ < n) {
            Store();
            const Status status = FillBits(src_, length_, position_, marker_, n, state_);
            Load();
            if (status != Code::Ok)
                return status;
            if (count_ < n)
                return Code::HuffmanRange;
        }
        count_ -= n;
        *bits = static_cast<std::uint32_t>(bits_ >> count_) & ((1u << n) - 1);
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
    // A code of up to 8 bits with 8 bits at hand takes the lookahead here,
    // as the shared decoder would; anything else goes to it.
    Status Symbol(const HuffmanDecoderSpec* spec, std::int32_t* symbol)
    {
        if (TakeShortCode(spec, bits_, count_, symbol))
            return Code::Ok;
        Store();
        const Status status = DecodeSymbol(src_, length_, position_, marker_, symbol, spec, state_);
        Load();
        return status;
    }

private:
    void Store()
    {
        state_->pendingBits = bits_;
        state_->pendingCount = count_;
    }
    void Load()
    {
        bits_ = state_->pendingBits;
        count_ = state_->pendingCount;
    }

    const std::uint8_t* src_;
    std::int32_t length_;
    std::int32_t* position_;
    std::int32_t* marker_;
    HuffmanDecoderState* state_;
    std::uint64_t bits_;
    std::int32_t count_;
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
    Bits bits(src, srcLength, position, marker, state);
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
    Bits bits(src, srcLength, position, marker, state);
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
    Bits bits(src, srcLength, position, marker, state);
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
    Bits bits(src, srcLength, position, marker, state);
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

// ---------------------------------------------------------------------------
// Encoders.

namespace {

using primitives_detail::FlushBits;
using primitives_detail::WriteBits;

inline std::int32_t Bits(std::uint32_t magnitude)
{
    std::int32_t n = 0;
    while (magnitude != 0) {
        ++n;
        magnitude >>= 1;
    }
    return n;
}

struct Writer {
    std::uint8_t* dst;
    std::int32_t length;
    std::int32_t* position;
    HuffmanEncoderState* state;

    Status Symbol(const HuffmanEncoderSpec* table, std::int32_t symbol)
    {
        const std::uint32_t entry = table->entry[symbol];
        if ((entry >> 16) == 0)
            return Code::BadHuffmanTable;
        return WriteBits(entry & 0xFFFF, static_cast<std::int32_t>(entry >> 16), dst, length, position, state);
    }
    Status Raw(std::uint32_t value, std::int32_t n)
    {
        return n == 0 ? Code::Ok : WriteBits(value & ((1u << n) - 1), n, dst, length, position, state);
    }
    // The pending end-of-band run (EOB0 for 1, else EOBr and r bits).
    Status Run(const HuffmanEncoderSpec* table)
    {
        const std::int32_t run = state->endOfBandRun;
        if (run == 0)
            return Code::Ok;
        const std::int32_t r = Bits(static_cast<std::uint32_t>(run)) - 1;
        Status status = Symbol(table, r << 4);
        if (status == Code::Ok)
            status = Raw(static_cast<std::uint32_t>(run), r);
        if (status == Code::Ok)
            state->endOfBandRun = 0;
        return status;
    }
    Status Corrections(std::uint32_t from, std::uint32_t count)
    {
        for (std::uint32_t i = 0; i < count; ++i) {
            const Status status = Raw(state->correctionBits[from + i], 1);
            if (status != Code::Ok)
                return status;
        }
        return Code::Ok;
    }
};

Status CheckEncoder(const std::uint8_t* dst, std::int32_t length, const std::int32_t* position,
                    const HuffmanEncoderState* state)
{
    if (dst == nullptr)
        return Code::NullPointer;
    if (length <= 0)
        return Code::BadSize;
    if (position == nullptr || state == nullptr)
        return Code::NullPointer;
    return Code::Ok;
}

Status AcFlush(Writer& w, const HuffmanEncoderSpec* table)
{
    Status status = w.Run(table);
    if (status == Code::Ok)
        status = w.Corrections(0, w.state->correctionCount);
    const Status flushed = FlushBits(w.dst, w.length, w.position, w.state);
    InitHuffmanEncoderState(w.state);
    return status != Code::Ok ? status : flushed;
}

Status CheckAcEncoder(const std::int16_t* block, std::uint8_t* dst, std::int32_t length, std::int32_t* position,
                      std::int32_t ss, std::int32_t se, std::int32_t al, const HuffmanEncoderSpec* table,
                      HuffmanEncoderState* state, std::int32_t flush, bool* done)
{
    *done = false;
    if (dst == nullptr)
        return Code::NullPointer;
    if (length < 1)
        return Code::BadSize;
    if (position == nullptr || table == nullptr || state == nullptr)
        return Code::NullPointer;
    if (flush != 0) {
        Writer w{dst, length, position, state};
        *done = true;
        return AcFlush(w, table);
    }
    if (block == nullptr)
        return Code::NullPointer;
    if (ss < 1 || ss > 63 || se < ss || se > 63 || al < 0 || al > 13)
        return Code::BadArgument;
    return Code::Ok;
}

}  // namespace

PrimitiveStatus EncodeHuffmanDcFirst(const std::int16_t block[64], std::uint8_t* dst, std::int32_t dstLength,
                                     std::int32_t* position, std::int16_t* lastDc, std::int32_t al,
                                     const HuffmanEncoderSpec* dcTable, HuffmanEncoderState* state,
                                     std::int32_t flush)
{
    Status status = CheckEncoder(dst, dstLength, position, state);
    if (status != Code::Ok)
        return status;
    if (flush != 0)
        return FlushBits(dst, dstLength, position, state);
    if (block == nullptr || lastDc == nullptr)
        return Code::NullPointer;
    if (al < 0 || al > 13)
        return Code::BadArgument;
    if (dcTable == nullptr)
        return Code::NullPointer;
    const std::int32_t v = block[0] >> al;
    const std::int32_t diff = v - *lastDc;
    *lastDc = static_cast<std::int16_t>(v);
    const std::int32_t s = Bits(static_cast<std::uint32_t>(diff < 0 ? -diff : diff));
    if (s > 11)
        return Code::HuffmanRange;
    Writer w{dst, dstLength, position, state};
    if ((status = w.Symbol(dcTable, s)) != Code::Ok)
        return status;
    return w.Raw(static_cast<std::uint32_t>(diff < 0 ? diff - 1 : diff), s);
}

PrimitiveStatus EncodeHuffmanDcRefine(const std::int16_t block[64], std::uint8_t* dst, std::int32_t dstLength,
                                      std::int32_t* position, std::int32_t al, HuffmanEncoderState* state,
                                      std::int32_t flush)
{
    const Status status = CheckEncoder(dst, dstLength, position, state);
    if (status != Code::Ok)
        return status;
    if (flush != 0)
        return FlushBits(dst, dstLength, position, state);
    if (block == nullptr)
        return Code::NullPointer;
    if (al < 0 || al > 13)
        return Code::BadArgument;
    Writer w{dst, dstLength, position, state};
    return w.Raw(static_cast<std::uint32_t>(block[0] >> al) & 1u, 1);
}

PrimitiveStatus EncodeHuffmanAcFirst(const std::int16_t block[64], std::uint8_t* dst, std::int32_t dstLength,
                                     std::int32_t* position, std::int32_t ss, std::int32_t se, std::int32_t al,
                                     const HuffmanEncoderSpec* acTable, HuffmanEncoderState* state,
                                     std::int32_t flush)
{
    bool done = false;
    Status status = CheckAcEncoder(block, dst, dstLength, position, ss, se, al, acTable, state, flush, &done);
    if (status != Code::Ok || done)
        return status;
    Writer w{dst, dstLength, position, state};
    std::int32_t r = 0;
    for (std::int32_t k = ss; k <= se; ++k) {
        const std::int32_t c = block[ZigzagOrder[k]];
        const std::int32_t t = (c < 0 ? -c : c) >> al;
        if (t == 0) {
            ++r;
            continue;
        }
        if ((status = w.Run(acTable)) != Code::Ok)
            return status;
        for (; r > 15; r -= 16)
            if ((status = w.Symbol(acTable, 0xF0)) != Code::Ok)
                return status;
        const std::int32_t n = Bits(static_cast<std::uint32_t>(t));
        if (n > 11)
            return Code::HuffmanRange;
        if ((status = w.Symbol(acTable, (r << 4) + n)) != Code::Ok)
            return status;
        if ((status = w.Raw(static_cast<std::uint32_t>(c > 0 ? t : ~t), n)) != Code::Ok)
            return status;
        r = 0;
    }
    if (r > 0 && ++state->endOfBandRun == 32767)
        return w.Run(acTable);
    return Code::Ok;
}

PrimitiveStatus EncodeHuffmanAcRefine(const std::int16_t block[64], std::uint8_t* dst, std::int32_t dstLength,
                                      std::int32_t* position, std::int32_t ss, std::int32_t se, std::int32_t al,
                                      const HuffmanEncoderSpec* acTable, HuffmanEncoderState* state,
                                      std::int32_t flush)
{
    bool done = false;
    Status status = CheckAcEncoder(block, dst, dstLength, position, ss, se, al, acTable, state, flush, &done);
    if (status != Code::Ok || done)
        return status;
    Writer w{dst, dstLength, position, state};
    std::int32_t a[64] = {};
    std::int32_t eob = se + 1;
    for (std::int32_t k = ss; k <= se; ++k) {
        const std::int32_t c = block[ZigzagOrder[k]];
        a[k] = (c < 0 ? -c : c) >> al;
        if (a[k] == 1)
            eob = k;
    }
    // The pending run and the correction bits of earlier blocks.
    const auto pending = [&]() {
        Status s = w.Run(acTable);
        if (s == Code::Ok)
            s = w.Corrections(0, state->correctionCount);
        if (s == Code::Ok)
            state->correctionCount = 0;
        return s;
    };
    std::uint32_t brStart = state->correctionCount;  // this block's bits follow the earlier ones
    std::uint32_t br = 0;
    std::int32_t r = 0;
    for (std::int32_t k = ss; k <= se; ++k) {
        if (a[k] == 0) {
            ++r;
            continue;
        }
        while (r > 15 && k <= eob) {
            if ((status = pending()) != Code::Ok || (status = w.Symbol(acTable, 0xF0)) != Code::Ok)
                return status;
            r -= 16;
            if ((status = w.Corrections(brStart, br)) != Code::Ok)
                return status;
            brStart = 0;
            br = 0;
        }
        if (a[k] > 1) {
            if (brStart + br >= sizeof(state->correctionBits))
                return Code::CorruptData;
            state->correctionBits[brStart + br++] = static_cast<std::uint8_t>(a[k] & 1);
            continue;
        }
        if ((status = pending()) != Code::Ok || (status = w.Symbol(acTable, (r << 4) + 1)) != Code::Ok)
            return status;
        if ((status = w.Raw(block[ZigzagOrder[k]] < 0 ? 0u : 1u, 1)) != Code::Ok)
            return status;
        if ((status = w.Corrections(brStart, br)) != Code::Ok)
            return status;
        brStart = 0;
        br = 0;
        r = 0;
    }
    if (r > 0 || br > 0) {
        ++state->endOfBandRun;
        // Keep this block's bits right behind the pending ones.
        if (brStart != state->correctionCount)
            for (std::uint32_t i = 0; i < br; ++i)
                state->correctionBits[state->correctionCount + i] = state->correctionBits[brStart + i];
        state->correctionCount += br;
        if (state->endOfBandRun == 32767 || state->correctionCount > 937)
            return pending();
    }
    return Code::Ok;
}
