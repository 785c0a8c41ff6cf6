#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "SlotSweep.h"
#include "imaging/primitives/Huffman.h"
#include "imaging/primitives/detail/HuffmanBits.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

// Tables K.3 and K.5 of T.81.
const std::uint8_t kDcBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const std::uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const std::uint8_t kAcBits[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
const std::uint8_t kAcValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71, 0x14,
    0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09,
    0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a,
    0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65,
    0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88,
    0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9,
    0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
    0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea,
    0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

struct Tables {
    HuffmanEncoderSpec dc{}, ac{};
    HuffmanDecoderSpec dcDecoder{}, acDecoder{};
    Tables()
    {
        EXPECT_EQ(InitHuffmanEncoderSpec(kDcBits, kDcValues, &dc), 0);
        EXPECT_EQ(InitHuffmanEncoderSpec(kAcBits, kAcValues, &ac), 0);
        EXPECT_EQ(InitHuffmanDecoderSpec(kDcBits, kDcValues, &dcDecoder), 0);
        EXPECT_EQ(InitHuffmanDecoderSpec(kAcBits, kAcValues, &acDecoder), 0);
    }
};

// The code of a symbol as text.
std::string Code(const HuffmanEncoderSpec& spec, int symbol)
{
    const std::uint32_t entry = spec.entry[symbol];
    std::string s;
    for (int i = static_cast<int>(entry >> 16) - 1; i >= 0; --i)
        s += ((entry >> i) & 1) != 0 ? '1' : '0';
    return s;
}

// Bits as bytes, the last completed with 1-bits, every FF followed by 00.
Bytes Pack(std::string bits)
{
    while (bits.size() % 8 != 0)
        bits += '1';
    Bytes out;
    for (std::size_t i = 0; i < bits.size(); i += 8) {
        const auto byte = static_cast<std::uint8_t>(std::stoi(bits.substr(i, 8), nullptr, 2));
        out.push_back(byte);
        if (byte == 0xFF)
            out.push_back(0);
    }
    return out;
}

struct Coded {
    PrimitiveStatus status = 0;
    Bytes bytes;
    std::int16_t lastDc = 0;
};

// Codes blocks one after another and flushes.
Coded EncodeBlocks(const std::vector<std::array<std::int16_t, 64>>& blocks, const Tables& t, std::int32_t length = 4096,
                   bool general = false)
{
    Coded c;
    Bytes buffer(static_cast<std::size_t>(length) + 16, 0xEE);
    auto state = std::make_unique<HuffmanEncoderState>();
    InitHuffmanEncoderState(state.get());
    std::int32_t position = 0;
    for (const auto& b : blocks) {
        c.status = general ? primitives_detail::EncodeHuffman8x8General(b.data(), buffer.data(), length, &position,
                                                                        &c.lastDc, &t.dc, &t.ac, state.get(), 0)
                           : EncodeHuffman8x8(b.data(), buffer.data(), length, &position, &c.lastDc, &t.dc, &t.ac,
                                              state.get(), 0);
        if (c.status != 0)
            break;
    }
    if (c.status == 0)
        c.status = EncodeHuffman8x8(nullptr, buffer.data(), length, &position, nullptr, nullptr, nullptr, state.get(), 1);
    EXPECT_EQ(buffer[length], 0xEE) << "written past the buffer";
    buffer.resize(static_cast<std::size_t>(position));
    c.bytes = buffer;
    return c;
}

using Block = std::array<std::int16_t, 64>;

Block WithZigzag(std::initializer_list<std::pair<int, int>> values, int dc = 0)
{
    Block b{};
    b[0] = static_cast<std::int16_t>(dc);
    for (const auto& [k, v] : values)
        b[ZigzagOrder[k]] = static_cast<std::int16_t>(v);
    return b;
}

}  // namespace

TEST(HuffmanTables, SizesAndCodes)
{
    std::int32_t size = 0;
    EXPECT_EQ(GetHuffmanEncoderSpecSize(&size), 0);
    EXPECT_EQ(size, 1024);
    EXPECT_EQ(GetHuffmanEncoderStateSize(&size), 0);
    EXPECT_EQ(size, 1048);
    EXPECT_EQ(GetHuffmanDecoderSpecSize(&size), 0);
    EXPECT_EQ(size, 1644);
    EXPECT_EQ(GetHuffmanDecoderStateSize(&size), 0);
    EXPECT_EQ(size, 24);
    EXPECT_EQ(GetHuffmanEncoderSpecSize(nullptr), -8);

    Tables t;
    EXPECT_EQ(Code(t.dc, 0), "00");
    EXPECT_EQ(Code(t.dc, 11), "111111110");
    EXPECT_EQ(Code(t.ac, 0x00), "1010");
    EXPECT_EQ(Code(t.ac, 0xF0), "11111111001");
}

TEST(HuffmanTables, BitsListsAcceptedAndRefused)
{
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> counts;  // length, count
        PrimitiveStatus encoder, decoder;
    };
    const Case cases[] = {
        {"one of lengths 1 and 2", {{1, 1}, {2, 1}}, 0, 0},
        {"two of length 1", {{1, 2}}, -64, 0},
        {"255 of length 8 and one of 9", {{8, 255}, {9, 1}}, 0, 0},
        {"257 codes", {{8, 255}, {9, 2}}, -64, -64},
        {"three of length 1", {{1, 3}}, -64, -64},
        {"none", {}, 0, 0},
    };
    std::vector<std::uint8_t> values(256);
    for (int i = 0; i < 256; ++i)
        values[i] = static_cast<std::uint8_t>(i);
    for (const Case& c : cases) {
        std::uint8_t bits[16] = {};
        for (const auto& [length, count] : c.counts)
            bits[length - 1] = static_cast<std::uint8_t>(count);
        auto enc = std::make_unique<HuffmanEncoderSpec>();
        auto dec = std::make_unique<HuffmanDecoderSpec>();
        EXPECT_EQ(InitHuffmanEncoderSpec(bits, values.data(), enc.get()), c.encoder) << c.name;
        EXPECT_EQ(InitHuffmanDecoderSpec(bits, values.data(), dec.get()), c.decoder) << c.name;
        if (std::string(c.name) == "one of lengths 1 and 2") {
            EXPECT_EQ(Code(*enc, 0), "0");
            EXPECT_EQ(Code(*enc, 1), "10");
        }
        if (std::string(c.name) == "none") {
            for (std::uint32_t e : enc->entry)
                ASSERT_EQ(e, 0u);
            std::uint8_t out[4];
            std::int32_t position = 0;
            auto state = std::make_unique<HuffmanEncoderState>();
            InitHuffmanEncoderState(state.get());
            std::int16_t lastDc = 0;
            Block zero{};
            EXPECT_EQ(EncodeHuffman8x8(zero.data(), out, 4, &position, &lastDc, enc.get(), enc.get(), state.get(), 0),
                      -64);
            const std::uint8_t data[8] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
            auto dstate = std::make_unique<HuffmanDecoderState>();
            InitHuffmanDecoderState(dstate.get());
            std::int32_t marker = 0, symbol = -1, pos = 0;
            EXPECT_EQ(DecodeHuffmanSymbol(data, 8, &pos, &marker, &symbol, dec.get(), dstate.get()), -63);
            EXPECT_EQ(symbol, 0);
        }
    }
    // A BITS byte cannot count 256 codes of one length; 127 of length 7 and
    // 2 of length 8 likewise use the whole code space, the last code all ones.
    std::uint8_t full[16] = {};
    full[6] = 127;
    full[7] = 2;
    auto enc = std::make_unique<HuffmanEncoderSpec>();
    auto dec = std::make_unique<HuffmanDecoderSpec>();
    EXPECT_EQ(InitHuffmanEncoderSpec(full, values.data(), enc.get()), -64);
    EXPECT_EQ(InitHuffmanDecoderSpec(full, values.data(), dec.get()), 0);
    EXPECT_EQ(InitHuffmanEncoderSpec(nullptr, values.data(), enc.get()), -8);
}

TEST(HuffmanBits, WriterStuffsAndFlushesWithOnes)
{
    auto state = std::make_unique<HuffmanEncoderState>();
    std::uint8_t out[8] = {};
    std::int32_t position = 0;
    InitHuffmanEncoderState(state.get());
    ASSERT_EQ(WriteHuffmanBits(0xFF, 8, out, 8, &position, state.get()), 0);
    EXPECT_EQ(position, 2);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0x00);

    // One byte of room: the FF is written, its stuffing is not.
    position = 7;
    EXPECT_EQ(WriteHuffmanBits(0xFF, 8, out, 8, &position, state.get()), -62);
    EXPECT_EQ(position, 8);
    EXPECT_EQ(WriteHuffmanBits(1, 0, out, 8, &position, state.get()), -64);

    position = 0;
    ASSERT_EQ(WriteHuffmanBits(0x5, 3, out, 8, &position, state.get()), 0);
    ASSERT_EQ(FlushHuffmanBits(out, 8, &position, state.get()), 0);
    EXPECT_EQ(position, 1);
    EXPECT_EQ(out[0], 0xBF);
    position = 0;
    ASSERT_EQ(WriteHuffmanBits(0x7F, 7, out, 8, &position, state.get()), 0);
    ASSERT_EQ(FlushHuffmanBits(out, 8, &position, state.get()), 0);
    EXPECT_EQ(position, 2);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{0xFF, 0x00}));
    EXPECT_EQ(state->pendingCount, 0);
    // Nothing pending: nothing written.
    ASSERT_EQ(FlushHuffmanBits(out, 8, &position, state.get()), 0);
    EXPECT_EQ(position, 2);
}

TEST(HuffmanBits, ReaderHandlesStuffingFillAndMarkers)
{
    auto state = std::make_unique<HuffmanDecoderState>();
    std::int32_t marker = 0, position = 0;
    InitHuffmanDecoderState(state.get());
    const std::uint8_t stuffed[] = {0xFF, 0x00, 0x12};
    ASSERT_EQ(FillHuffmanBits(stuffed, 3, &position, &marker, 16, state.get()), 0);
    EXPECT_EQ(state->pendingCount, 16);
    EXPECT_EQ(state->pendingBits & 0xFFFF, 0xFF12u);
    EXPECT_EQ(position, 3);

    InitHuffmanDecoderState(state.get());
    position = 0;
    const std::uint8_t restart[] = {0xAB, 0xFF, 0xFF, 0xFF, 0xD0, 0x55};
    ASSERT_EQ(FillHuffmanBits(restart, 6, &position, &marker, 8, state.get()), 0);
    EXPECT_EQ(marker, 0xD0);
    EXPECT_EQ(position, 5);
    EXPECT_EQ(state->pendingCount, 8);
    // After the marker: enough pending bits succeed, more fail with -63.
    EXPECT_EQ(FillHuffmanBits(restart, 6, &position, &marker, 8, state.get()), 0);
    EXPECT_EQ(FillHuffmanBits(restart, 6, &position, &marker, 9, state.get()), -63);

    InitHuffmanDecoderState(state.get());
    marker = position = 0;
    const std::uint8_t endsInFf[] = {0x12, 0x34, 0xFF};
    EXPECT_EQ(FillHuffmanBits(endsInFf, 3, &position, &marker, 8, state.get()), -62);
    InitHuffmanDecoderState(state.get());
    position = 0;
    EXPECT_EQ(FillHuffmanBits(endsInFf, 2, &position, &marker, 24, state.get()), -62);
}

TEST(HuffmanBlocks, SymbolSequences)
{
    Tables t;
    const std::string eob = Code(t.ac, 0x00), zrl = Code(t.ac, 0xF0);
    struct Case {
        const char* name;
        std::vector<Block> blocks;
        std::string bits;
    };
    const Case cases[] = {
        {"all zeros", {Block{}}, Code(t.dc, 0) + eob},
        {"only position 63", {WithZigzag({{63, 1}})}, Code(t.dc, 0) + zrl + zrl + zrl + Code(t.ac, 0xE1) + "1"},
        {"32 zeros then a coefficient", {WithZigzag({{33, -2}})}, Code(t.dc, 0) + zrl + zrl + Code(t.ac, 0x02) + "01" + eob},
        {"16 trailing zeros", {WithZigzag({{47, 3}})},
         Code(t.dc, 0) + zrl + zrl + Code(t.ac, 0xE2) + "11" + eob},
        {"diff -1", {WithZigzag({}, -1)}, Code(t.dc, 1) + "0" + eob},
        {"diff 1", {WithZigzag({}, 1)}, Code(t.dc, 1) + "1" + eob},
        {"diff -255", {WithZigzag({}, -255)}, Code(t.dc, 8) + "00000000" + eob},
        {"predictor carried", {WithZigzag({}, 5), WithZigzag({}, 5)},
         Code(t.dc, 3) + "101" + eob + Code(t.dc, 0) + eob},
        {"last coefficient non-zero", {WithZigzag({{1, 1}, {63, -1}})},
         Code(t.dc, 0) + Code(t.ac, 0x01) + "1" + zrl + zrl + zrl + Code(t.ac, 0xD1) + "0"},
    };
    for (std::int32_t slot : primitives_test::SupportedSlots()) {
        primitives_test::ScopedCpuVariant variant(slot);
        for (const Case& c : cases) {
            const Coded coded = EncodeBlocks(c.blocks, t);
            ASSERT_EQ(coded.status, 0) << c.name;
            EXPECT_EQ(coded.bytes, Pack(c.bits)) << c.name;
        }
    }
}

TEST(HuffmanBlocks, FastAndGeneralPathsGiveTheSameBytes)
{
    Tables t;
    std::mt19937 rng(17);
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<Block> blocks(1 + trial % 7);
        for (auto& b : blocks) {
            const int density = static_cast<int>(rng() % 64);
            for (int i = 0; i < 64; ++i) {
                const int magnitude = trial % 5 == 0 ? 1023 : 15;
                b[i] = static_cast<std::int16_t>(static_cast<int>(rng() % 64) < density
                                                     ? static_cast<int>(rng() % (2 * magnitude + 1)) - magnitude
                                                     : 0);
            }
            b[0] = static_cast<std::int16_t>(static_cast<int>(rng() % 2001) - 1000);  // differences of category 11 at most
        }
        const Coded general = EncodeBlocks(blocks, t, 4096, true);
        ASSERT_EQ(general.status, 0);
        Coded fast;
        for (std::int32_t slot : primitives_test::SupportedSlots()) {
            primitives_test::ScopedCpuVariant variant(slot);
            fast = EncodeBlocks(blocks, t);
            ASSERT_EQ(fast.status, 0);
            ASSERT_EQ(fast.bytes, general.bytes) << primitives_test::SlotName(slot) << " trial " << trial;
            EXPECT_EQ(fast.lastDc, general.lastDc);
        }

        // 23 bytes of room before each block: the general path, same bytes.
        Bytes big(8192);
        std::int32_t position = 0;
        std::int16_t lastDc = 0;
        auto state = std::make_unique<HuffmanEncoderState>();
        InitHuffmanEncoderState(state.get());
        for (const auto& b : blocks) {
            Bytes tight(static_cast<std::size_t>(position) + 23);
            std::memcpy(tight.data(), big.data(), static_cast<std::size_t>(position));
            std::int32_t p = position;
            const PrimitiveStatus s = EncodeHuffman8x8(b.data(), tight.data(), static_cast<std::int32_t>(tight.size()),
                                                       &p, &lastDc, &t.dc, &t.ac, state.get(), 0);
            if (s == -62)
                break;  // this block needs more than 23 bytes
            ASSERT_EQ(s, 0);
            std::memcpy(big.data(), tight.data(), static_cast<std::size_t>(p));
            position = p;
        }
        ASSERT_LE(static_cast<std::size_t>(position), fast.bytes.size());
        EXPECT_TRUE(std::equal(big.begin(), big.begin() + position, fast.bytes.begin())) << "trial " << trial;
    }
}

TEST(HuffmanBlocks, ErrorsOfTheEncoder)
{
    Tables t;
    // No ZRL code: the DC code goes out, then -64.
    HuffmanEncoderSpec noZrl = t.ac;
    noZrl.entry[0xF0] = 0;
    Bytes out(64);
    std::int32_t position = 0;
    std::int16_t lastDc = 0;
    auto state = std::make_unique<HuffmanEncoderState>();
    InitHuffmanEncoderState(state.get());
    const Block b = WithZigzag({{20, 1}}, 0);
    EXPECT_EQ(EncodeHuffman8x8(b.data(), out.data(), 64, &position, &lastDc, &t.dc, &noZrl, state.get(), 0), -64);
    EXPECT_EQ(state->pendingCount + 8 * position, 2);

    // A full destination.
    InitHuffmanEncoderState(state.get());
    position = 0;
    const Block busy = WithZigzag({{1, 900}, {2, -900}, {3, 700}, {4, 1000}}, 1500);
    EXPECT_EQ(EncodeHuffman8x8(busy.data(), out.data(), 3, &position, &lastDc, &t.dc, &t.ac, state.get(), 0), -62);

    // Argument checks, and the flush mode with nulls.
    EXPECT_EQ(EncodeHuffman8x8(b.data(), nullptr, 64, &position, &lastDc, &t.dc, &t.ac, state.get(), 0), -8);
    EXPECT_EQ(EncodeHuffman8x8(b.data(), out.data(), 0, &position, &lastDc, &t.dc, &t.ac, state.get(), 0), -6);
    EXPECT_EQ(EncodeHuffman8x8(nullptr, out.data(), 64, &position, &lastDc, &t.dc, &t.ac, state.get(), 0), -8);
    InitHuffmanEncoderState(state.get());
    position = 0;
    ASSERT_EQ(WriteHuffmanBits(0, 2, out.data(), 64, &position, state.get()), 0);
    EXPECT_EQ(EncodeHuffman8x8(nullptr, out.data(), 64, &position, nullptr, nullptr, nullptr, state.get(), 1), 0);
    EXPECT_EQ(position, 1);
    EXPECT_EQ(out[0], 0x3F);
}

TEST(HuffmanBlocks, DecodingGivesTheBlocksBack)
{
    Tables t;
    std::mt19937 rng(23);
    std::vector<Block> blocks(40);
    for (std::size_t n = 0; n < blocks.size(); ++n) {
        Block& b = blocks[n];
        for (int i = 1; i < 64; ++i)
            b[i] = static_cast<std::int16_t>(rng() % 3 == 0 ? static_cast<int>(rng() % 2047) - 1023 : 0);
        b[0] = static_cast<std::int16_t>(static_cast<int>(rng() % 2001) - 1000);
    }
    blocks[3] = WithZigzag({}, 9);         // DC only
    blocks[4] = WithZigzag({{63, 5}}, 9);  // last coefficient at 63
    const Coded coded = EncodeBlocks(blocks, t);
    ASSERT_EQ(coded.status, 0);
    auto state = std::make_unique<HuffmanDecoderState>();
    InitHuffmanDecoderState(state.get());
    std::int32_t position = 0, marker = 0;
    std::int16_t lastDc = 0;
    for (std::size_t n = 0; n < blocks.size(); ++n) {
        Block out;
        ASSERT_EQ(DecodeHuffman8x8(coded.bytes.data(), static_cast<std::int32_t>(coded.bytes.size()), &position,
                                   out.data(), &lastDc, &marker, &t.dcDecoder, &t.acDecoder, state.get()),
                  0)
            << "block " << n;
        ASSERT_EQ(out, blocks[n]) << "block " << n;
        if (n == 3) {
            EXPECT_EQ(state->blockExtent, 1);
        }
        if (n == 4) {
            EXPECT_EQ(state->blockExtent, 64);
        }
    }
    EXPECT_EQ(lastDc, coded.lastDc);
}

// The decoder with its fast AC table against the decoder without it, block by
// block over the same data: coded blocks, the same with random bytes written
// over a part (bad codes, runs past 63, stuffed bytes and markers), and pure
// noise. Statuses, blocks, positions, markers and reader states agree.
TEST(HuffmanBlocks, FastAcTableDecodesAsTheTableAlone)
{
    Tables t;
    auto fast = std::make_unique<HuffmanFastAcTable>();
    ASSERT_EQ(InitHuffmanFastAcTable(&t.acDecoder, fast.get()), 0);
    std::mt19937 rng(41);
    std::vector<Block> blocks(60);
    for (Block& b : blocks) {
        const int density = 1 + static_cast<int>(rng() % 6);
        for (int i = 1; i < 64; ++i)
            b[i] = static_cast<std::int16_t>(rng() % density == 0 ? static_cast<int>(rng() % 63) - 31 : 0);
        if (rng() % 5 == 0)
            b[static_cast<int>(1 + rng() % 63)] = static_cast<std::int16_t>(static_cast<int>(rng() % 2047) - 1023);
        b[0] = static_cast<std::int16_t>(static_cast<int>(rng() % 201) - 100);
    }
    const Coded coded = EncodeBlocks(blocks, t);
    ASSERT_EQ(coded.status, 0);
    for (int variant = 0; variant < 24; ++variant) {
        SCOPED_TRACE("variant " + std::to_string(variant));
        Bytes data = coded.bytes;
        if (variant >= 1 && variant < 20) {
            const std::size_t from = rng() % data.size();
            for (std::size_t i = from; i < std::min(data.size(), from + 1 + rng() % 40); ++i)
                data[i] = static_cast<std::uint8_t>(rng());
        } else if (variant >= 20) {
            for (auto& byte : data)
                byte = static_cast<std::uint8_t>(rng());
        }
        auto plainState = std::make_unique<HuffmanDecoderState>();
        auto fastState = std::make_unique<HuffmanDecoderState>();
        InitHuffmanDecoderState(plainState.get());
        InitHuffmanDecoderState(fastState.get());
        std::int32_t plainPosition = 0, fastPosition = 0, plainMarker = 0, fastMarker = 0;
        std::int16_t plainDc = 0, fastDc = 0;
        const auto length = static_cast<std::int32_t>(data.size());
        for (std::size_t n = 0; n < blocks.size(); ++n) {
            Block plain, quick;
            plain.fill(0x5A5A);
            quick.fill(0x5A5A);
            const PrimitiveStatus expected =
                DecodeHuffman8x8(data.data(), length, &plainPosition, plain.data(), &plainDc, &plainMarker,
                                 &t.dcDecoder, &t.acDecoder, plainState.get());
            const PrimitiveStatus got =
                DecodeHuffman8x8Fast(data.data(), length, &fastPosition, quick.data(), &fastDc, &fastMarker,
                                     &t.dcDecoder, &t.acDecoder, fast.get(), fastState.get());
            ASSERT_EQ(got, expected) << "block " << n;
            ASSERT_EQ(quick, plain) << "block " << n;
            ASSERT_EQ(fastPosition, plainPosition) << "block " << n;
            ASSERT_EQ(fastMarker, plainMarker) << "block " << n;
            ASSERT_EQ(fastDc, plainDc) << "block " << n;
            ASSERT_EQ(fastState->pendingBits, plainState->pendingBits) << "block " << n;
            ASSERT_EQ(fastState->pendingCount, plainState->pendingCount) << "block " << n;
            ASSERT_EQ(fastState->blockExtent, plainState->blockExtent) << "block " << n;
            if (variant == 0) {
                ASSERT_EQ(got, 0);
                ASSERT_EQ(quick, blocks[n]) << "block " << n;
            }
            if (expected != 0)
                break;
        }
    }
    // Whole MCUs of six blocks in one call each give the coded blocks back
    // (one DC predictor, as the blocks were coded).
    {
        auto state = std::make_unique<HuffmanDecoderState>();
        InitHuffmanDecoderState(state.get());
        std::int32_t position = 0, marker = 0;
        std::int16_t predictor = 0;
        std::vector<Block> out(blocks.size());
        for (std::size_t first = 0; first + 6 <= blocks.size(); first += 6) {
            std::int16_t* targets[6];
            std::int16_t* dcs[6];
            const HuffmanDecoderSpec* dcTables[6];
            const HuffmanDecoderSpec* acTables[6];
            const HuffmanFastAcTable* fastTables[6];
            for (int i = 0; i < 6; ++i) {
                targets[i] = out[first + i].data();
                dcs[i] = &predictor;
                dcTables[i] = &t.dcDecoder;
                acTables[i] = &t.acDecoder;
                fastTables[i] = fast.get();
            }
            ASSERT_EQ(DecodeHuffmanMcuFast(coded.bytes.data(), static_cast<std::int32_t>(coded.bytes.size()),
                                           &position, targets, 6, dcs, dcTables, acTables, fastTables, &marker,
                                           state.get()),
                      0)
                << "MCU at block " << first;
        }
        ASSERT_EQ(blocks.size() % 6, 0u);
        for (std::size_t n = 0; n < blocks.size(); ++n)
            ASSERT_EQ(out[n], blocks[n]) << "block " << n;
        const HuffmanFastAcTable* noFast[1] = {nullptr};
        std::int16_t* one[1] = {out[0].data()};
        std::int16_t* dc[1] = {&predictor};
        const HuffmanDecoderSpec* dcTable[1] = {&t.dcDecoder};
        const HuffmanDecoderSpec* acTable[1] = {&t.acDecoder};
        EXPECT_EQ(DecodeHuffmanMcuFast(coded.bytes.data(), 4, &position, one, 1, dc, dcTable, acTable, noFast,
                                       &marker, state.get()),
                  -8);
    }
    Block out;
    std::int32_t position = 0, marker = 0;
    std::int16_t lastDc = 0;
    auto state = std::make_unique<HuffmanDecoderState>();
    InitHuffmanDecoderState(state.get());
    EXPECT_EQ(DecodeHuffman8x8Fast(coded.bytes.data(), 4, &position, out.data(), &lastDc, &marker, &t.dcDecoder,
                                   &t.acDecoder, nullptr, state.get()),
              -8);
    EXPECT_EQ(InitHuffmanFastAcTable(nullptr, fast.get()), -8);
}

// MCUs of six blocks (three predictors, as in 4:2:0) decoded in calls of
// one, three or every MCU against the block reader one block at a time: the
// same blocks, predictors and first fault wherever the data is cut, broken
// or carries a marker, and wherever its 0xFF bytes fall against the
// eight-byte refills (values whose bits are all ones, and the longest codes,
// make many of them, at every alignment over the blocks).
TEST(HuffmanBlocks, McuCallsDecodeAsTheBlockReader)
{
    Tables t;
    auto fast = std::make_unique<HuffmanFastAcTable>();
    ASSERT_EQ(InitHuffmanFastAcTable(&t.acDecoder, fast.get()), 0);
    constexpr int kPerMcu = 6;
    std::mt19937 rng(43);
    std::vector<Block> blocks(kPerMcu * 40);
    for (Block& b : blocks) {
        const int density = 1 + static_cast<int>(rng() % 5);
        for (int i = 1; i < 64; ++i) {
            if (rng() % density != 0)
                continue;
            const int size = 1 + static_cast<int>(rng() % 10);
            const int ones = (1 << size) - 1;
            b[ZigzagOrder[i]] = static_cast<std::int16_t>(rng() % 3 == 0 ? ones : static_cast<int>(rng() % 41) - 20);
        }
        if (rng() % 4 == 0)
            b[ZigzagOrder[63]] = 1023;  // after a long run: the longest codes
        b[0] = static_cast<std::int16_t>(static_cast<int>(rng() % 401) - 200);
    }
    // One predictor per component (blocks 0-3 of each MCU share one, 4 and 5
    // have their own) through the encoder's single predictor: each DC it
    // codes is the previous one plus the component's difference.
    std::vector<Block> differences = blocks;
    {
        std::int16_t previous[3] = {};
        std::int16_t chained = 0;
        for (std::size_t n = 0; n < blocks.size(); ++n) {
            const int k = static_cast<int>(n % kPerMcu) < 4 ? 0 : static_cast<int>(n % kPerMcu) - 3;
            chained = static_cast<std::int16_t>(chained + blocks[n][0] - previous[k]);
            differences[n][0] = chained;
            previous[k] = blocks[n][0];
        }
    }
    Tables single;
    const Coded coded = EncodeBlocks(differences, single, 1 << 16);
    ASSERT_EQ(coded.status, 0);
    const Bytes& valid = coded.bytes;
    ASSERT_GT(std::count(valid.begin(), valid.end(), std::uint8_t{0xFF}), 40);

    struct Variant {
        std::string name;
        Bytes data;
    };
    std::vector<Variant> variants{{"intact", valid}};
    for (std::size_t cut = 0; cut < valid.size(); cut += 1 + cut / 64)
        variants.push_back({"cut at " + std::to_string(cut), Bytes(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(cut))});
    for (std::size_t at = 1; at < valid.size(); at += valid.size() / 9) {
        if (valid[at - 1] == 0xFF)
            ++at;
        Bytes marked = valid;
        marked.insert(marked.begin() + static_cast<std::ptrdiff_t>(at), {0xFF, 0xD3});
        variants.push_back({"marker at " + std::to_string(at), marked});
        Bytes broken = valid;
        for (std::size_t i = at; i < std::min(broken.size(), at + 6); ++i)
            broken[i] = static_cast<std::uint8_t>(rng());
        variants.push_back({"broken at " + std::to_string(at), broken});
    }

    const int mcuCount = static_cast<int>(blocks.size()) / kPerMcu;
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.name);
        const auto length = static_cast<std::int32_t>(v.data.size());
        // The block reader, block by block.
        std::vector<Block> expected(blocks.size());
        for (Block& b : expected)
            b.fill(0x5A5A);
        std::int16_t expectedDc[3] = {};
        PrimitiveStatus expectedStatus = 0;
        int goodMcus = 0;
        {
            auto state = std::make_unique<HuffmanDecoderState>();
            InitHuffmanDecoderState(state.get());
            std::int32_t position = 0, marker = 0;
            for (std::size_t n = 0; n < blocks.size() && expectedStatus == 0; ++n) {
                const int k = static_cast<int>(n % kPerMcu) < 4 ? 0 : static_cast<int>(n % kPerMcu) - 3;
                expectedStatus = DecodeHuffman8x8Fast(v.data.data(), length, &position, expected[n].data(),
                                                      &expectedDc[k], &marker, &t.dcDecoder, &t.acDecoder, fast.get(),
                                                      state.get());
                if (expectedStatus == 0 && n % kPerMcu == kPerMcu - 1)
                    ++goodMcus;
            }
        }
        if (v.name == "intact") {
            ASSERT_EQ(expectedStatus, 0);
            ASSERT_EQ(expected, blocks);
        }
        for (const int perCall : {1, 3, mcuCount}) {
            SCOPED_TRACE("MCUs per call " + std::to_string(perCall));
            std::vector<Block> got(blocks.size());
            for (Block& b : got)
                b.fill(0x5A5A);
            std::int16_t dc[3] = {};
            std::int16_t* const lastDc[kPerMcu] = {&dc[0], &dc[0], &dc[0], &dc[0], &dc[1], &dc[2]};
            const HuffmanDecoderSpec* dcTables[kPerMcu];
            const HuffmanDecoderSpec* acTables[kPerMcu];
            const HuffmanFastAcTable* fastTables[kPerMcu];
            std::int32_t strides[kPerMcu];
            for (int i = 0; i < kPerMcu; ++i) {
                dcTables[i] = &t.dcDecoder;
                acTables[i] = &t.acDecoder;
                fastTables[i] = fast.get();
                strides[i] = kPerMcu * 64;
            }
            auto state = std::make_unique<HuffmanDecoderState>();
            InitHuffmanDecoderState(state.get());
            std::int32_t position = 0, marker = 0;
            PrimitiveStatus status = 0;
            int mcu = 0;
            while (mcu < mcuCount && status == 0) {
                std::int16_t* targets[kPerMcu];
                for (int i = 0; i < kPerMcu; ++i)
                    targets[i] = got[static_cast<std::size_t>(mcu * kPerMcu + i)].data();
                std::int32_t decoded = -1;
                status = DecodeHuffmanMcusFast(v.data.data(), length, &position, targets, strides, kPerMcu,
                                               std::min(perCall, mcuCount - mcu), 0, &decoded, lastDc, dcTables,
                                               acTables, fastTables, &marker, state.get());
                ASSERT_GE(decoded, status == 0 ? 1 : 0);
                mcu += decoded;
            }
            EXPECT_EQ(status, expectedStatus);
            EXPECT_EQ(mcu, status == 0 ? mcuCount : goodMcus);
            for (std::size_t n = 0; n < blocks.size(); ++n)
                ASSERT_EQ(got[n], expected[n]) << "block " << n;
            EXPECT_EQ(std::vector<std::int16_t>(dc, dc + 3), std::vector<std::int16_t>(expectedDc, expectedDc + 3));
        }
    }

    // A reserve ends a call where fewer bytes are left; refused arguments
    // read nothing.
    {
        std::vector<Block> out(blocks.size());
        std::int16_t dc = 0;
        std::int16_t* const lastDc[1] = {&dc};
        const HuffmanDecoderSpec* dcTables[1] = {&t.dcDecoder};
        const HuffmanDecoderSpec* acTables[1] = {&t.acDecoder};
        const HuffmanFastAcTable* fastTables[1] = {fast.get()};
        std::int16_t* targets[1] = {out[0].data()};
        const std::int32_t strides[1] = {64};
        const auto length = static_cast<std::int32_t>(valid.size());
        auto state = std::make_unique<HuffmanDecoderState>();
        InitHuffmanDecoderState(state.get());
        std::int32_t position = 0, marker = 0, decoded = -1;
        ASSERT_EQ(DecodeHuffmanMcusFast(valid.data(), length, &position, targets, strides, 1,
                                        static_cast<std::int32_t>(blocks.size()), length - 40, &decoded, lastDc,
                                        dcTables, acTables, fastTables, &marker, state.get()),
                  0);
        EXPECT_GE(decoded, 1);
        EXPECT_LT(decoded, static_cast<std::int32_t>(blocks.size()));
        EXPECT_GT(position, 40 - 16);
        struct Refusal {
            const char* name;
            std::int32_t count, mcus, reserve;
            bool nullTarget;
            PrimitiveStatus expected;
        };
        const Refusal refusals[] = {
            {"no blocks", 0, 1, 0, false, -5}, {"eleven blocks", 11, 1, 0, false, -5},
            {"no MCUs", 1, 0, 0, false, -5},   {"negative reserve", 1, 1, -1, false, -5},
            {"null block", 1, 1, 0, true, -8},
        };
        for (const Refusal& r : refusals) {
            SCOPED_TRACE(r.name);
            std::int16_t* refusedTargets[1] = {r.nullTarget ? nullptr : out[0].data()};
            std::int32_t at = 0;
            decoded = -1;
            EXPECT_EQ(DecodeHuffmanMcusFast(valid.data(), length, &at, refusedTargets, strides, r.count, r.mcus,
                                            r.reserve, &decoded, lastDc, dcTables, acTables, fastTables, &marker,
                                            state.get()),
                      r.expected);
            EXPECT_EQ(at, 0);
        }
        EXPECT_EQ(DecodeHuffmanMcusFast(valid.data(), length, &position, targets, nullptr, 1, 1, 0, &decoded, lastDc,
                                        dcTables, acTables, fastTables, &marker, state.get()),
                  -8);
    }
}

TEST(HuffmanBlocks, DecoderStopsAtMarkersAndCorruptRuns)
{
    Tables t;
    // DC category 0, then a restart marker before the AC data.
    const std::uint8_t data[] = {0x3F, 0xFF, 0xD3, 0x00};
    auto state = std::make_unique<HuffmanDecoderState>();
    InitHuffmanDecoderState(state.get());
    std::int32_t position = 0, marker = 0;
    std::int16_t lastDc = 0;
    Block out;
    EXPECT_EQ(DecodeHuffman8x8(data, 4, &position, out.data(), &lastDc, &marker, &t.dcDecoder, &t.acDecoder,
                               state.get()),
              -63);
    EXPECT_EQ(marker, 0xD3);

    // Four ZRL codes run past position 63: refused, nothing outside the block.
    std::string bits = Code(t.dc, 0);
    for (int i = 0; i < 4; ++i)
        bits += Code(t.ac, 0xF0);
    bits += Code(t.ac, 0x01) + "1";
    const Bytes corrupt = Pack(bits);
    InitHuffmanDecoderState(state.get());
    position = marker = 0;
    std::array<std::int16_t, 72> guarded;
    guarded.fill(0x5A5A);
    EXPECT_EQ(DecodeHuffman8x8(corrupt.data(), static_cast<std::int32_t>(corrupt.size()), &position, guarded.data() + 4,
                               &lastDc, &marker, &t.dcDecoder, &t.acDecoder, state.get()),
              -2);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(guarded[i], 0x5A5A);
        EXPECT_EQ(guarded[68 + i], 0x5A5A);
    }
    EXPECT_EQ(DecodeHuffman8x8(data, -1, &position, out.data(), &lastDc, &marker, &t.dcDecoder, &t.acDecoder,
                               state.get()),
              -5);
    EXPECT_EQ(DecodeHuffman8x8(data, 0, &position, out.data(), &lastDc, nullptr, &t.dcDecoder, &t.acDecoder,
                               state.get()),
              -8);
}
