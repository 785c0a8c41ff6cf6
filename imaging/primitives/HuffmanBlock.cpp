#include <cstring>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "imaging/primitives/Huffman.h"
#include "imaging/primitives/QuantTables.h"
#include "imaging/primitives/detail/HuffmanBits.h"
#include "imaging/primitives/detail/UniformTable.h"

namespace primitives_detail {
namespace {

using Status = PrimitiveStatus;
namespace Code = PrimitiveStatusCode;

// Number of significant bits of |v| (T.81 SSSS).
inline std::int32_t Category(std::int32_t v)
{
    const auto magnitude = static_cast<std::uint32_t>(v < 0 ? -v : v);
    return magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
}

// The low s bits of v, or of v - 1 for a negative v.
inline std::uint32_t AdditionalBits(std::int32_t v, std::int32_t s)
{
    const auto bits = static_cast<std::uint32_t>(v < 0 ? v - 1 : v);
    return s >= 32 ? bits : bits & ((1u << s) - 1);
}

// Code, then additional bits, through the checked bit writer.
Status GeneralBlock(const std::int16_t* block, std::uint8_t* dst, std::int32_t length, std::int32_t* position,
                    std::int16_t* lastDc, const HuffmanEncoderSpec* dc, const HuffmanEncoderSpec* ac,
                    HuffmanEncoderState* state)
{
    auto writeSymbol = [&](const HuffmanEncoderSpec* table, std::int32_t symbol) {
        const std::uint32_t entry = table->entry[symbol];
        if (entry < 0x10000)
            return Code::BadHuffmanTable;
        return WriteBits(entry & 0xFFFF, static_cast<std::int32_t>(entry >> 16), dst, length, position, state);
    };
    const std::int32_t diff = block[0] - *lastDc;
    *lastDc = block[0];
    const std::int32_t s = Category(diff);
    Status status = writeSymbol(dc, s);
    if (status == Code::Ok && s > 0)
        status = WriteBits(AdditionalBits(diff, s), s, dst, length, position, state);
    if (status != Code::Ok)
        return status;
    std::int32_t run = 0;
    for (int k = 1; k < 64; ++k) {
        const std::int32_t v = block[ZigzagOrder[k]];
        if (v == 0) {
            ++run;
            continue;
        }
        for (; run > 15; run -= 16)
            if ((status = writeSymbol(ac, 0xF0)) != Code::Ok)
                return status;
        const std::int32_t size = Category(v);
        if (size > 15)
            return Code::HuffmanRange;
        if ((status = writeSymbol(ac, (run << 4) + size)) != Code::Ok)
            return status;
        if ((status = WriteBits(AdditionalBits(v, size), size, dst, length, position, state)) != Code::Ok)
            return status;
        run = 0;
    }
    if (run > 0)
        return writeSymbol(ac, 0x00);
    return Code::Ok;
}

// Bit n set when natural coefficient n is non-zero.
std::uint64_t NonZeroMaskPortable(const std::int16_t* block)
{
    std::uint64_t mask = 0;
    for (int n = 0; n < 64; ++n)
        mask |= static_cast<std::uint64_t>(block[n] != 0) << n;
    return mask;
}

#if defined(__x86_64__)
std::uint64_t NonZeroMaskSse2(const std::int16_t* block)
{
    const __m128i zero = _mm_setzero_si128();
    std::uint64_t zeros = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i a = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i)), zero);
        const __m128i b = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i + 8)), zero);
        zeros |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(a, b))))
                 << (16 * i);
    }
    return ~zeros;
}
#endif

using NonZeroMaskFunction = std::uint64_t (*)(const std::int16_t*);

// The fast path: the non-zero AC positions as a zig-zag mask, a 64-bit
// accumulator, code and additional bits appended in one step, four bytes
// stored at once when none of them is 0xFF. Returns false, having changed
// nothing the caller sees, when a code is missing, a category is out of
// range, or the room runs short; the general path then redoes the block.
template <NonZeroMaskFunction NonZeroMask>
bool FastBlock(const std::int16_t* block, std::uint8_t* dst, std::int32_t length, std::int32_t* position,
               std::int16_t* lastDc, const HuffmanEncoderSpec* dc, const HuffmanEncoderSpec* ac,
               HuffmanEncoderState* state)
{
    std::uint64_t nonZero = 0;
    for (std::uint64_t natural = NonZeroMask(block) & ~std::uint64_t{1}; natural != 0; natural &= natural - 1)
        nonZero |= std::uint64_t{1} << NaturalToZigzag[__builtin_ctzll(natural)];

    std::uint64_t acc = state->pendingBits;
    std::int32_t count = state->pendingCount;
    std::int32_t pos = *position;

// Appends `bits` (code then additional bits, at most 32) and stores 32 bits
// once 32 are pending.
#define GAVEX_PUT(bits, size)                                                                \
    do {                                                                                     \
        acc = (acc << (size)) | (bits);                                                      \
        count += (size);                                                                     \
        if (count >= 32) {                                                                   \
            if (length - pos < 8)                                                            \
                return false;                                                                \
            count -= 32;                                                                     \
            const auto word = static_cast<std::uint32_t>(acc >> count);                      \
            const std::uint32_t inv = ~word;                                                 \
            if (((inv - 0x01010101u) & ~inv & 0x80808080u) == 0) {                           \
                const std::uint32_t bigEndian = __builtin_bswap32(word);                     \
                std::memcpy(dst + pos, &bigEndian, 4);                                       \
                pos += 4;                                                                    \
            } else {                                                                         \
                for (int shift = 24; shift >= 0; shift -= 8) {                               \
                    const auto byte = static_cast<std::uint8_t>(word >> shift);              \
                    dst[pos++] = byte;                                                       \
                    if (byte == 0xFF)                                                        \
                        dst[pos++] = 0;                                                      \
                }                                                                            \
            }                                                                                \
        }                                                                                    \
    } while (false)

    const std::int32_t diff = block[0] - *lastDc;
    const std::int32_t s = Category(diff);
    const std::uint32_t dcEntry = dc->entry[s];
    if (dcEntry < 0x10000)
        return false;
    GAVEX_PUT((static_cast<std::uint64_t>(dcEntry & 0xFFFF) << s) | (s > 0 ? AdditionalBits(diff, s) : 0),
              static_cast<std::int32_t>(dcEntry >> 16) + s);

    int previous = 0;
    for (std::uint64_t rest = nonZero; rest != 0; rest &= rest - 1) {
        const int k = __builtin_ctzll(rest);
        std::int32_t run = k - previous - 1;
        previous = k;
        if (run > 15) {
            const std::uint32_t zrl = ac->entry[0xF0];
            if (zrl < 0x10000)
                return false;
            for (; run > 15; run -= 16)
                GAVEX_PUT(zrl & 0xFFFF, static_cast<std::int32_t>(zrl >> 16));
        }
        const std::int32_t v = block[ZigzagOrder[k]];
        const std::int32_t size = Category(v);
        if (size > 15)
            return false;
        const std::uint32_t entry = ac->entry[(run << 4) + size];
        if (entry < 0x10000)
            return false;
        GAVEX_PUT((static_cast<std::uint64_t>(entry & 0xFFFF) << size) | AdditionalBits(v, size),
                  static_cast<std::int32_t>(entry >> 16) + size);
    }
    if (previous < 63) {
        const std::uint32_t eob = ac->entry[0x00];
        if (eob < 0x10000)
            return false;
        GAVEX_PUT(eob & 0xFFFF, static_cast<std::int32_t>(eob >> 16));
    }
#undef GAVEX_PUT
    while (count >= 8) {
        if (length - pos < 2)
            return false;
        count -= 8;
        const auto byte = static_cast<std::uint8_t>(acc >> count);
        dst[pos++] = byte;
        if (byte == 0xFF)
            dst[pos++] = 0;
    }
    state->pendingBits = acc & ((std::uint64_t{1} << count) - 1);
    state->pendingCount = count;
    *position = pos;
    *lastDc = block[0];
    return true;
}

template <bool AllowFastPath, NonZeroMaskFunction NonZeroMask = &NonZeroMaskPortable>
Status Encode8x8(const std::int16_t* block, std::uint8_t* dst, std::int32_t length, std::int32_t* position,
                 std::int16_t* lastDc, const HuffmanEncoderSpec* dc, const HuffmanEncoderSpec* ac,
                 HuffmanEncoderState* state, std::int32_t flush)
{
    if (dst == nullptr)
        return Code::NullPointer;
    if (length <= 0)
        return Code::BadSize;
    if (position == nullptr || state == nullptr)
        return Code::NullPointer;
    if (flush != 0)
        return FlushBits(dst, length, position, state);
    if (block == nullptr || lastDc == nullptr || dc == nullptr || ac == nullptr)
        return Code::NullPointer;
    if (AllowFastPath && length - *position >= 24 &&
        FastBlock<NonZeroMask>(block, dst, length, position, lastDc, dc, ac, state))
        return Code::Ok;
    return GeneralBlock(block, dst, length, position, lastDc, dc, ac, state);
}

inline std::int32_t Extend(std::uint32_t bits, std::int32_t s)
{
    return bits < (1u << (s - 1)) ? static_cast<std::int32_t>(bits) - (1 << s) + 1 : static_cast<std::int32_t>(bits);
}

// The bit reader's state in locals for the length of one block. Only the
// common cases run here: refills of whole data bytes (up to 63 bits pending,
// more than FillBits keeps) and codes of up to 8 bits. Markers, the end of
// the data and long codes go through the shared reader, which reads on from
// the same state.
class BlockBits {
public:
    BlockBits(const std::uint8_t* src, std::int32_t length, std::int32_t* position, std::int32_t* marker,
              HuffmanDecoderState* state)
        : src_(src), length_(length), position_(position), marker_(marker), state_(state),
          bits_(state->pendingBits), count_(state->pendingCount), pos_(*position)
    {
    }
    ~BlockBits() { Store(); }

    // At least `needed` bits pending, or the status FillBits gives.
    Status Need(std::int32_t needed) { return count_ >= needed ? Code::Ok : Refill(needed); }

    Status Symbol(const HuffmanDecoderSpec* spec, std::int32_t* symbol)
    {
        if (count_ < 8) {
            const Status status = Refill(0);
            if (status != Code::Ok)
                return status;
        }
        if (TakeShortCode(spec, bits_, count_, symbol))
            return Code::Ok;
        // Long codes, and the last bits before a marker or the end.
        Store();
        const Status status = DecodeSymbol(src_, length_, position_, marker_, symbol, spec, state_);
        Load();
        return status;
    }

    // s (1..16) bits as a signed value (T.81 EXTEND).
    Status Value(std::int32_t s, std::int32_t* value)
    {
        const Status status = Need(s);
        if (status != Code::Ok)
            return status;
        count_ -= s;
        const auto bits = static_cast<std::uint32_t>(bits_ >> count_) & ((1u << s) - 1);
        *value = Extend(bits, s);
        return Code::Ok;
    }

    // One symbol of up to 8 bits and its value bits when 32 bits are at
    // hand (a refill of whole data bytes allowed); false, nothing taken,
    // otherwise.
    bool ShortSymbol(const HuffmanDecoderSpec* spec, std::int32_t* symbol, std::int32_t* value)
    {
        if (count_ < 32 && (!RefillBytes() || count_ < 32))
            return false;
        if (!TakeShortCode(spec, bits_, count_, symbol))
            return false;
        const std::int32_t s = *symbol & 15;
        if (s != 0) {
            count_ -= s;
            *value = Extend(static_cast<std::uint32_t>(bits_ >> count_) & ((1u << s) - 1), s);
        }
        return true;
    }

    // The next 10 bits when 32 are at hand (a refill of whole data bytes
    // allowed), as ShortSymbol requires; false, nothing taken, otherwise.
    bool Peek10(std::uint32_t* prefix)
    {
        if (count_ < 32 && (!RefillBytes() || count_ < 32))
            return false;
        *prefix = static_cast<std::uint32_t>(bits_ >> (count_ - 10)) & 0x3FF;
        return true;
    }
    void Skip(std::int32_t bits) { count_ -= bits; }

private:
    // Up to 63 bits: eight bytes at once when none of those taken is 0xFF,
    // else byte by byte through stuffed bytes, stopping before a marker,
    // which the shared reader then meets. False when it cannot run here.
    bool RefillBytes()
    {
        if (*marker_ != 0 || pos_ + 8 > length_)
            return false;
        const std::int32_t take = (63 - count_) >> 3;
        if (take == 0)
            return true;
        std::uint64_t word = 0;
        std::memcpy(&word, src_ + pos_, 8);
        word = __builtin_bswap64(word);
        const std::uint64_t inv = ~word;
        const std::uint64_t taken = ~std::uint64_t{0} << (64 - 8 * take);
        if ((((inv - 0x0101010101010101u) & ~inv & 0x8080808080808080u) & taken) == 0) {
            bits_ = (bits_ << (8 * take)) | (word >> (64 - 8 * take));
            count_ += 8 * take;
            pos_ += take;
            return true;
        }
        while (count_ <= 55 && pos_ + 1 < length_) {
            const std::uint8_t byte = src_[pos_];
            if (byte == 0xFF) {
                if (src_[pos_ + 1] != 0)
                    break;
                pos_ += 2;
            } else {
                ++pos_;
            }
            bits_ = (bits_ << 8) | byte;
            count_ += 8;
        }
        return true;
    }

    Status Refill(std::int32_t needed)
    {
        if (RefillBytes() && count_ >= needed && count_ >= 8)
            return Code::Ok;
        Store();
        const Status status = FillBits(src_, length_, position_, marker_, needed, state_);
        Load();
        return status;
    }

    void Store()
    {
        state_->pendingBits = bits_;
        state_->pendingCount = count_;
        *position_ = pos_;
    }
    void Load()
    {
        bits_ = state_->pendingBits;
        count_ = state_->pendingCount;
        pos_ = *position_;
    }

    const std::uint8_t* src_;
    std::int32_t length_;
    std::int32_t* position_;
    std::int32_t* marker_;
    HuffmanDecoderState* state_;
    std::uint64_t bits_;
    std::int32_t count_;
    std::int32_t pos_;
};

// Plain stores: a string store's start-up costs more than the whole of
// these 128 bytes.
inline void ClearBlock(std::int16_t* block)
{
#if defined(__x86_64__)
    // Written out: the compiler turns a loop of these back into a string
    // store.
    const __m128i zero = _mm_setzero_si128();
    auto* out = reinterpret_cast<__m128i*>(block);
    _mm_storeu_si128(out + 0, zero);
    _mm_storeu_si128(out + 1, zero);
    _mm_storeu_si128(out + 2, zero);
    _mm_storeu_si128(out + 3, zero);
    _mm_storeu_si128(out + 4, zero);
    _mm_storeu_si128(out + 5, zero);
    _mm_storeu_si128(out + 6, zero);
    _mm_storeu_si128(out + 7, zero);
#else
    std::memset(block, 0, 64 * sizeof(std::int16_t));
#endif
}

// With a fast AC table, AC symbols whose code and value bits fit its prefix
// take one lookup; every other symbol, and every symbol when fewer than 32
// bits are at hand, goes the way it goes without the table (the table's
// entries are exactly what ShortSymbol gives for their prefixes).
// One block from the reader: the block cleared, its DC and AC symbols, and
// the block extent. With a fast AC table, AC symbols whose code and value
// bits fit its prefix take one lookup; every other symbol, and every symbol
// when fewer than 32 bits are at hand, goes the way it goes without the table
// (the table's entries are exactly what ShortSymbol gives for their
// prefixes).
template <bool WithFastTable>
Status DecodeBlockBody(BlockBits& reader, std::int16_t* block, std::int16_t* lastDc, const HuffmanDecoderSpec* dc,
                       const HuffmanDecoderSpec* ac, const HuffmanFastAcTable* fast, HuffmanDecoderState* state)
{
    ClearBlock(block);
    state->blockExtent = 0;
    std::int32_t cursor = 1;
    Status status = Code::Ok;
    std::int32_t symbol = 0;
    std::int32_t difference = 0;
    if (!reader.ShortSymbol(dc, &symbol, &difference)) {
        if ((status = reader.Symbol(dc, &symbol)) != Code::Ok)
            return status;
        if ((symbol & 15) != 0 && (status = reader.Value(symbol & 15, &difference)) != Code::Ok)
            return status;
    }
    if ((symbol & 15) != 0)
        *lastDc = static_cast<std::int16_t>(*lastDc + difference);
    block[0] = *lastDc;

    while (cursor < 64) {
        if constexpr (WithFastTable) {
            std::uint32_t prefix = 0;
            if (reader.Peek10(&prefix)) {
                const std::int32_t entry = fast->entry[prefix];
                if (entry != 0) {
                    reader.Skip((entry >> 4) & 15);
                    const std::int32_t kind = (entry >> 8) & 3;
                    if (kind == 0) {
                        cursor += entry & 15;
                        if (cursor > 63) {
                            status = Code::CorruptData;
                            break;
                        }
                        block[ZigzagOrder[cursor]] = static_cast<std::int16_t>(entry >> 16);
                        ++cursor;
                        continue;
                    }
                    if (kind == 2) {
                        cursor += 16;
                        if (cursor > 64) {
                            status = Code::CorruptData;
                            break;
                        }
                        continue;
                    }
                    break;  // end of block
                }
            }
        }
        std::int32_t value = 0;
        const bool taken = reader.ShortSymbol(ac, &symbol, &value);
        if (!taken && (status = reader.Symbol(ac, &symbol)) != Code::Ok)
            break;
        const std::int32_t run = symbol >> 4;
        const std::int32_t size = symbol & 15;
        if (size != 0) {
            cursor += run;
            if (cursor > 63) {
                status = Code::CorruptData;
                break;
            }
            if (!taken && (status = reader.Value(size, &value)) != Code::Ok)
                break;
            block[ZigzagOrder[cursor]] = static_cast<std::int16_t>(value);
            ++cursor;
        } else if (run == 15) {
            cursor += 16;
            if (cursor > 64) {
                status = Code::CorruptData;
                break;
            }
        } else {
            break;
        }
    }
    state->blockExtent = cursor > 64 ? 64 : cursor;
    return status;
}

template <bool WithFastTable>
Status Decode8x8With(const std::uint8_t* src, std::int32_t length, std::int32_t* position, std::int16_t* block,
                     std::int16_t* lastDc, std::int32_t* marker, const HuffmanDecoderSpec* dc,
                     const HuffmanDecoderSpec* ac, const HuffmanFastAcTable* fast, HuffmanDecoderState* state)
{
    if (src == nullptr)
        return Code::NullPointer;
    if (length < 0)
        return Code::BadArgument;
    if (position == nullptr || block == nullptr || lastDc == nullptr || marker == nullptr || dc == nullptr ||
        ac == nullptr || state == nullptr)
        return Code::NullPointer;
    BlockBits reader(src, length, position, marker, state);
    return DecodeBlockBody<WithFastTable>(reader, block, lastDc, dc, ac, fast, state);
}

Status Decode8x8(const std::uint8_t* src, std::int32_t length, std::int32_t* position, std::int16_t* block,
                 std::int16_t* lastDc, std::int32_t* marker, const HuffmanDecoderSpec* dc,
                 const HuffmanDecoderSpec* ac, HuffmanDecoderState* state)
{
    return Decode8x8With<false>(src, length, position, block, lastDc, marker, dc, ac, nullptr, state);
}

using EncodeFunction = Status(const std::int16_t*, std::uint8_t*, std::int32_t, std::int32_t*, std::int16_t*,
                              const HuffmanEncoderSpec*, const HuffmanEncoderSpec*, HuffmanEncoderState*,
                              std::int32_t);
using DecodeFunction = Status(const std::uint8_t*, std::int32_t, std::int32_t*, std::int16_t*, std::int16_t*,
                              std::int32_t*, const HuffmanDecoderSpec*, const HuffmanDecoderSpec*,
                              HuffmanDecoderState*);

#if defined(__x86_64__)
constexpr EncodeFunction* kEncodeSse2 = &Encode8x8<true, &NonZeroMaskSse2>;
#else
constexpr EncodeFunction* kEncodeSse2 = &Encode8x8<true>;
#endif
constexpr CpuDispatchTable<EncodeFunction> kEncode = {&Encode8x8<true>, &Encode8x8<true>, kEncodeSse2,
                                                      kEncodeSse2,      kEncodeSse2,      kEncodeSse2};
constexpr auto kDecode = UniformTable<DecodeFunction>(&Decode8x8);

}  // namespace

Status DecodeFast8x8(const std::uint8_t* src, std::int32_t length, std::int32_t* position, std::int16_t* block,
                     std::int16_t* lastDc, std::int32_t* marker, const HuffmanDecoderSpec* dc,
                     const HuffmanDecoderSpec* ac, const HuffmanFastAcTable* fast, HuffmanDecoderState* state)
{
    if (fast == nullptr && src != nullptr && length >= 0)
        return Code::NullPointer;
    return Decode8x8With<true>(src, length, position, block, lastDc, marker, dc, ac, fast, state);
}

// The MCU fast path: the bit buffer in registers, most significant bit
// first, refilled eight bytes at a time where no 0xFF byte is among them and
// byte by byte through stuffed bytes otherwise. Every symbol starts with at
// least 32 bits at hand, so a code and its value bits never wait for data.
// It handles data bytes only: at a marker, near the end of the data, at a
// code that no table holds or at a run past the block it gives up, and the
// caller decodes the whole MCU again through the reader of the general path,
// which meets these cases as it always has. Returns true with the blocks,
// the predictors, the position and the state written; false with the
// predictors as on entry and the position and state untouched (the blocks
// may hold anything).
constexpr std::int32_t kFastMcuBlocks = 10;

bool FastMcu(const std::uint8_t* __restrict src, std::int32_t length, std::int32_t* position,
             std::int16_t* const blocks[], std::int32_t count, std::int16_t* const lastDc[],
             const HuffmanDecoderSpec* const dcTables[], const HuffmanDecoderSpec* const acTables[],
             const HuffmanFastAcTable* const fastTables[], const std::int32_t* marker, HuffmanDecoderState* state)
{
    if (*marker != 0 || count > kFastMcuBlocks)
        return false;
    std::int32_t n = state->pendingCount;
    if (n < 0 || n > 63)
        return false;
    std::uint64_t acc = n == 0 ? 0 : state->pendingBits << (64 - n);
    std::int32_t pos = *position;
    std::int16_t saved[kFastMcuBlocks];
    for (std::int32_t i = 0; i < count; ++i)
        saved[i] = *lastDc[i];

    // Up to 56 or more bits; false at a marker or near the end of the data.
    const auto refill = [&]() -> bool {
        if (pos < 0 || length - pos < 16)
            return false;
        std::uint64_t word = 0;
        std::memcpy(&word, src + pos, 8);
        word = __builtin_bswap64(word);
        const std::int32_t take = (63 - n) >> 3;
        const std::uint64_t taken = ~std::uint64_t{0} << (64 - 8 * take);
        const std::uint64_t inv = ~word;
        if ((((inv - 0x0101010101010101u) & ~inv & 0x8080808080808080u) & taken) == 0) {
            acc |= (word & taken) >> n;
            n += 8 * take;
            pos += take;
            return true;
        }
        // At most seven bytes, each at most two in the data: 16 bytes
        // were at hand.
        while (n <= 56) {
            const std::uint8_t byte = src[pos];
            if (byte == 0xFF) {
                if (src[pos + 1] != 0)
                    return false;
                pos += 2;
            } else {
                ++pos;
            }
            acc |= static_cast<std::uint64_t>(byte) << (56 - n);
            n += 8;
        }
        return true;
    };
    // A symbol of any length, 32 bits at hand; false when no code matches.
    const auto symbolOf = [&](const HuffmanDecoderSpec* spec, std::int32_t* symbol) -> bool {
        const std::uint32_t entry = spec->lookahead[acc >> 56];
        if (entry != 0) {
            const auto bits = static_cast<std::int32_t>(entry >> 16);
            acc <<= bits;
            n -= bits;
            *symbol = static_cast<std::int32_t>(entry & 0xFFFF);
            return true;
        }
        for (std::int32_t l = 9; l <= 16; ++l) {
            const auto code = static_cast<std::uint32_t>(acc >> (64 - l));
            const std::int32_t maxcode = spec->maxcode[l];
            if (maxcode != -1 && code <= static_cast<std::uint16_t>(maxcode)) {
                *symbol = spec->values[static_cast<std::uint16_t>(spec->valptr[l] + code -
                                                                  static_cast<std::uint16_t>(spec->mincode[l])) &
                                       0xFF];
                acc <<= l;
                n -= l;
                return true;
            }
        }
        return false;
    };
    // s (1..16) value bits as a signed value.
    const auto valueOf = [&](std::int32_t s) -> std::int32_t {
        const auto bits = static_cast<std::uint32_t>(acc >> (64 - s));
        acc <<= s;
        n -= s;
        return Extend(bits, s);
    };

    std::int32_t extent = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        std::int16_t* __restrict block = blocks[i];
        const std::int32_t* __restrict fast = fastTables[i]->entry;
        const HuffmanDecoderSpec* ac = acTables[i];
        ClearBlock(block);
        if (n < 32 && !refill())
            goto giveUp;
        std::int32_t symbol = 0;
        if (!symbolOf(dcTables[i], &symbol))
            goto giveUp;
        if ((symbol & 15) != 0)
            *lastDc[i] = static_cast<std::int16_t>(*lastDc[i] + valueOf(symbol & 15));
        block[0] = *lastDc[i];
        std::int32_t k = 1;
        while (k < 64) {
            if (n < 32 && !refill())
                goto giveUp;
            const std::int32_t entry = fast[acc >> 54];
            if (entry != 0) {
                const std::int32_t bits = (entry >> 4) & 15;
                acc <<= bits;
                n -= bits;
                const std::int32_t kind = (entry >> 8) & 3;
                if (kind == 0) {
                    k += entry & 15;
                    if (k > 63)
                        goto giveUp;
                    block[ZigzagOrder[k]] = static_cast<std::int16_t>(entry >> 16);
                    ++k;
                    continue;
                }
                if (kind == 2) {
                    k += 16;
                    if (k > 64)
                        goto giveUp;
                    continue;
                }
                break;  // end of block
            }
            if (!symbolOf(ac, &symbol))
                goto giveUp;
            const std::int32_t run = symbol >> 4;
            const std::int32_t size = symbol & 15;
            if (size != 0) {
                k += run;
                if (k > 63)
                    goto giveUp;
                block[ZigzagOrder[k]] = static_cast<std::int16_t>(valueOf(size));
                ++k;
            } else if (run == 15) {
                k += 16;
                if (k > 64)
                    goto giveUp;
            } else {
                break;  // end of block
            }
        }
        extent = k;
    }
    state->pendingBits = n == 0 ? 0 : acc >> (64 - n);
    state->pendingCount = n;
    state->blockExtent = extent;
    *position = pos;
    return true;
giveUp:
    // Every saved value was read on entry, so predictors shared by several
    // blocks get their entry value whatever the order.
    for (std::int32_t i = 0; i < count; ++i)
        *lastDc[i] = saved[i];
    return false;
}

// One MCU of checked arguments: the fast path, else the block reader.
inline Status DecodeCheckedMcu(const std::uint8_t* src, std::int32_t length, std::int32_t* position,
                               std::int16_t* const blocks[], std::int32_t count, std::int16_t* const lastDc[],
                               const HuffmanDecoderSpec* const dc[], const HuffmanDecoderSpec* const ac[],
                               const HuffmanFastAcTable* const fast[], std::int32_t* marker,
                               HuffmanDecoderState* state)
{
    if (FastMcu(src, length, position, blocks, count, lastDc, dc, ac, fast, marker, state))
        return Code::Ok;
    BlockBits reader(src, length, position, marker, state);
    for (std::int32_t i = 0; i < count; ++i) {
        const Status status = DecodeBlockBody<true>(reader, blocks[i], lastDc[i], dc[i], ac[i], fast[i], state);
        if (status != Code::Ok)
            return status;
    }
    return Code::Ok;
}

Status DecodeFastMcu(const std::uint8_t* src, std::int32_t length, std::int32_t* position,
                     std::int16_t* const blocks[], std::int32_t count, std::int16_t* const lastDc[],
                     const HuffmanDecoderSpec* const dc[], const HuffmanDecoderSpec* const ac[],
                     const HuffmanFastAcTable* const fast[], std::int32_t* marker, HuffmanDecoderState* state)
{
    if (src == nullptr)
        return Code::NullPointer;
    if (length < 0)
        return Code::BadArgument;
    if (position == nullptr || blocks == nullptr || lastDc == nullptr || dc == nullptr || ac == nullptr ||
        fast == nullptr || marker == nullptr || state == nullptr)
        return Code::NullPointer;
    for (std::int32_t i = 0; i < count; ++i)
        if (blocks[i] == nullptr || lastDc[i] == nullptr || dc[i] == nullptr || ac[i] == nullptr ||
            fast[i] == nullptr)
            return Code::NullPointer;
    return DecodeCheckedMcu(src, length, position, blocks, count, lastDc, dc, ac, fast, marker, state);
}

Status DecodeFastMcus(const std::uint8_t* src, std::int32_t length, std::int32_t* position,
                      std::int16_t* const blocks[], const std::int32_t strides[], std::int32_t count,
                      std::int32_t mcus, std::int32_t reserve, std::int32_t* decoded, std::int16_t* const lastDc[],
                      const HuffmanDecoderSpec* const dc[], const HuffmanDecoderSpec* const ac[],
                      const HuffmanFastAcTable* const fast[], std::int32_t* marker, HuffmanDecoderState* state)
{
    if (decoded == nullptr)
        return Code::NullPointer;
    *decoded = 0;
    if (src == nullptr || position == nullptr || blocks == nullptr || strides == nullptr || lastDc == nullptr || dc == nullptr || ac == nullptr || fast == nullptr || marker == nullptr ||
        state == nullptr)
        return Code::NullPointer;
    if (length < 0 || mcus < 1 || reserve < 0)
        return Code::BadArgument;
    if (count < 1 || count > kFastMcuBlocks)
        return Code::BadArgument;
    for (std::int32_t i = 0; i < count; ++i)
        if (blocks[i] == nullptr || lastDc[i] == nullptr || dc[i] == nullptr || ac[i] == nullptr ||
            fast[i] == nullptr)
            return Code::NullPointer;
    std::int16_t* at[kFastMcuBlocks];
    for (std::int32_t m = 0; m < mcus; ++m) {
        if (m > 0 && length - *position < reserve)
            break;
        for (std::int32_t i = 0; i < count; ++i)
            at[i] = blocks[i] + static_cast<std::ptrdiff_t>(m) * strides[i];
        const Status status = DecodeCheckedMcu(src, length, position, at, count, lastDc, dc, ac, fast, marker, state);
        if (status != Code::Ok)
            return status;
        ++*decoded;
    }
    return Code::Ok;
}

// The general path alone, for tests that compare the two paths.
Status EncodeHuffman8x8General(const std::int16_t* block, std::uint8_t* dst, std::int32_t length,
                               std::int32_t* position, std::int16_t* lastDc, const HuffmanEncoderSpec* dc,
                               const HuffmanEncoderSpec* ac, HuffmanEncoderState* state, std::int32_t flush)
{
    return Encode8x8<false>(block, dst, length, position, lastDc, dc, ac, state, flush);
}

}  // namespace primitives_detail

PrimitiveStatus EncodeHuffman8x8(const std::int16_t block[64], std::uint8_t* dst, std::int32_t dstLength,
                                 std::int32_t* position, std::int16_t* lastDc, const HuffmanEncoderSpec* dcTable,
                                 const HuffmanEncoderSpec* acTable, HuffmanEncoderState* state, std::int32_t flush)
{
    return DispatchCall(primitives_detail::kEncode, block, dst, dstLength, position, lastDc, dcTable, acTable, state,
                        flush);
}

PrimitiveStatus DecodeHuffman8x8(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                 std::int16_t block[64], std::int16_t* lastDc, std::int32_t* marker,
                                 const HuffmanDecoderSpec* dcTable, const HuffmanDecoderSpec* acTable,
                                 HuffmanDecoderState* state)
{
    return DispatchCall(primitives_detail::kDecode, src, srcLength, position, block, lastDc, marker, dcTable, acTable,
                        state);
}

PrimitiveStatus InitHuffmanFastAcTable(const HuffmanDecoderSpec* acTable, HuffmanFastAcTable* fast)
{
    if (acTable == nullptr || fast == nullptr)
        return PrimitiveStatusCode::NullPointer;
    for (std::uint32_t prefix = 0; prefix < 1024; ++prefix) {
        std::int32_t entry = 0;
        const std::uint32_t lookahead = acTable->lookahead[prefix >> 2];
        if (lookahead != 0) {
            const auto codeLength = static_cast<std::int32_t>(lookahead >> 16);
            const auto symbol = static_cast<std::int32_t>(lookahead & 0xFFFF);
            const std::int32_t run = symbol >> 4;
            const std::int32_t size = symbol & 15;
            const std::int32_t taken = codeLength + size;
            if (size != 0 && taken <= 10) {
                const std::uint32_t bits = (prefix >> (10 - taken)) & ((1u << size) - 1);
                const std::int32_t value = primitives_detail::Extend(bits, size);
                entry = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << 16) | (taken << 4) | run;
            } else if (size == 0 && run == 0) {
                entry = (1 << 8) | (codeLength << 4);
            } else if (size == 0 && run == 15) {
                entry = (2 << 8) | (codeLength << 4);
            }
        }
        fast->entry[prefix] = entry;
    }
    return PrimitiveStatusCode::Ok;
}

PrimitiveStatus DecodeHuffman8x8Fast(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                     std::int16_t block[64], std::int16_t* lastDc, std::int32_t* marker,
                                     const HuffmanDecoderSpec* dcTable, const HuffmanDecoderSpec* acTable,
                                     const HuffmanFastAcTable* fast, HuffmanDecoderState* state)
{
    return primitives_detail::DecodeFast8x8(src, srcLength, position, block, lastDc, marker, dcTable, acTable, fast,
                                            state);
}

PrimitiveStatus DecodeHuffmanMcuFast(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                     std::int16_t* const blocks[], std::int32_t count,
                                     std::int16_t* const lastDc[], const HuffmanDecoderSpec* const dcTables[],
                                     const HuffmanDecoderSpec* const acTables[],
                                     const HuffmanFastAcTable* const fastTables[], std::int32_t* marker,
                                     HuffmanDecoderState* state)
{
    return primitives_detail::DecodeFastMcu(src, srcLength, position, blocks, count, lastDc, dcTables, acTables,
                                            fastTables, marker, state);
}

PrimitiveStatus DecodeHuffmanMcusFast(const std::uint8_t* src, std::int32_t srcLength, std::int32_t* position,
                                      std::int16_t* const blocks[], const std::int32_t strides[], std::int32_t count,
                                      std::int32_t mcus, std::int32_t reserve, std::int32_t* decoded,
                                      std::int16_t* const lastDc[], const HuffmanDecoderSpec* const dcTables[],
                                      const HuffmanDecoderSpec* const acTables[],
                                      const HuffmanFastAcTable* const fastTables[], std::int32_t* marker,
                                      HuffmanDecoderState* state)
{
    return primitives_detail::DecodeFastMcus(src, srcLength, position, blocks, strides, count, mcus, reserve,
                                             decoded, lastDc, dcTables, acTables, fastTables, marker, state);
}
