#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "imaging/primitives/Huffman.h"
#include "imaging/primitives/HuffmanProgressive.h"

namespace {

// A table of codes of one length (4 bits unless told), 0 upwards, for the
// given symbols.
struct Table {
    HuffmanEncoderSpec encoder{};
    HuffmanDecoderSpec decoder{};
    explicit Table(const std::vector<std::uint8_t>& symbols, int length = 4)
    {
        std::uint8_t bits[16] = {};
        bits[length - 1] = static_cast<std::uint8_t>(symbols.size());
        EXPECT_EQ(InitHuffmanEncoderSpec(bits, symbols.data(), &encoder), 0);
        EXPECT_EQ(InitHuffmanDecoderSpec(bits, symbols.data(), &decoder), 0);
    }
};

// Builds a bit stream from codes and raw bits, flushed with 1-bits.
struct Stream {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(64);
    std::int32_t position = 0;
    HuffmanEncoderState state{};
    void Symbol(const Table& t, std::uint8_t symbol)
    {
        const std::uint32_t entry = t.encoder.entry[symbol];
        ASSERT_NE(entry >> 16, 0u);
        Raw(entry & 0xFFFF, static_cast<std::int32_t>(entry >> 16));
    }
    void Raw(std::uint32_t value, std::int32_t length)
    {
        ASSERT_EQ(WriteHuffmanBits(value, length, bytes.data(), 64, &position, &state), 0);
    }
    std::vector<std::uint8_t> Done()
    {
        EXPECT_EQ(FlushHuffmanBits(bytes.data(), 64, &position, &state), 0);
        // Padding so that the reader's look-ahead finds a marker, not the end.
        bytes.resize(static_cast<std::size_t>(position));
        bytes.insert(bytes.end(), {0xFF, 0xD9});
        return bytes;
    }
};

struct Reader {
    std::vector<std::uint8_t> src;
    std::int32_t position = 0;
    std::int32_t marker = 0;
    HuffmanDecoderState state{};
};

TEST(HuffmanProgressive, DcFirstAndRefinement)
{
    const Table dc({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    // DC 7 and 9 with Al 1 are coded as differences 3 and 1.
    Stream s;
    s.Symbol(dc, 2);
    s.Raw(3, 2);
    s.Symbol(dc, 1);
    s.Raw(1, 1);
    s.Raw(1, 1);  // refinement of the first block
    s.Raw(0, 1);  // refinement of the second block
    Reader r{s.Done()};
    std::int16_t lastDc = 0;
    std::array<std::int16_t, 64> a{}, b{};
    const auto n = static_cast<std::int32_t>(r.src.size());
    ASSERT_EQ(DecodeHuffmanDcFirst(r.src.data(), n, &r.position, a.data(), &lastDc, &r.marker, 1, &dc.decoder, &r.state), 0);
    EXPECT_EQ(a[0], 6);
    ASSERT_EQ(DecodeHuffmanDcFirst(r.src.data(), n, &r.position, b.data(), &lastDc, &r.marker, 1, &dc.decoder, &r.state), 0);
    EXPECT_EQ(b[0], 8);
    EXPECT_EQ(lastDc, 4);
    ASSERT_EQ(DecodeHuffmanDcRefine(r.src.data(), n, &r.position, a.data(), &r.marker, 0, &r.state), 0);
    ASSERT_EQ(DecodeHuffmanDcRefine(r.src.data(), n, &r.position, b.data(), &r.marker, 0, &r.state), 0);
    EXPECT_EQ(a[0], 7);
    EXPECT_EQ(b[0], 8);
}

TEST(HuffmanProgressive, AcFirstCoefficientsAndEndOfBandRuns)
{
    const Table ac({0x00, 0x41, 0x30, 0xF0, 0x12});
    Stream s;
    s.Symbol(ac, 0x41);  // four zeros, then +1
    s.Raw(1, 1);
    s.Symbol(ac, 0x00);  // EOB0
    s.Symbol(ac, 0x30);  // EOB3 with 010: a run of ten blocks
    s.Raw(2, 3);
    Reader r{s.Done()};
    const auto n = static_cast<std::int32_t>(r.src.size());
    std::array<std::int16_t, 64> block{};
    block[0] = 77;  // outside the band: untouched
    ASSERT_EQ(DecodeHuffmanAcFirst(r.src.data(), n, &r.position, block.data(), &r.marker, 1, 63, 2, &ac.decoder, &r.state), 0);
    std::array<std::int16_t, 64> expected{};
    expected[0] = 77;
    expected[ZigzagOrder[5]] = 4;  // 1 << Al
    EXPECT_EQ(block, expected);
    for (int i = 0; i < 10; ++i) {
        std::array<std::int16_t, 64> empty{};
        empty[3] = 5;
        ASSERT_EQ(DecodeHuffmanAcFirst(r.src.data(), n, &r.position, empty.data(), &r.marker, 1, 63, 0, &ac.decoder, &r.state), 0);
        EXPECT_EQ(empty[3], 5);
        EXPECT_EQ(r.state.endOfBandRun, 9 - i);
    }
}

TEST(HuffmanProgressive, AcRefinementCorrectsAndAddsCoefficients)
{
    const Table ac({0x00, 0x11, 0xF0, 0x01});
    Stream s;
    s.Symbol(ac, 0x11);  // one zero, then a new coefficient
    s.Raw(1, 1);         // positive
    s.Raw(1, 1);         // correction of position 1 (already non-zero)
    s.Symbol(ac, 0x00);  // EOB0: the rest of the band only corrects
    s.Raw(0, 1);         // correction of position 7: none
    Reader r{s.Done()};
    const auto n = static_cast<std::int32_t>(r.src.size());
    std::array<std::int16_t, 64> block{};
    block[ZigzagOrder[1]] = -2;
    block[ZigzagOrder[7]] = 2;
    ASSERT_EQ(DecodeHuffmanAcRefine(r.src.data(), n, &r.position, block.data(), &r.marker, 1, 63, 0, &ac.decoder, &r.state), 0);
    EXPECT_EQ(block[ZigzagOrder[1]], -3);
    EXPECT_EQ(block[ZigzagOrder[3]], 1);
    EXPECT_EQ(block[ZigzagOrder[7]], 2);
    EXPECT_EQ(r.state.endOfBandRun, 0);
}

TEST(HuffmanProgressive, ArgumentChecks)
{
    const Table ac({0x00});
    std::array<std::uint8_t, 4> src{0, 0, 0xFF, 0xD9};
    std::array<std::int16_t, 64> block{};
    std::int32_t position = 0, marker = 0;
    HuffmanDecoderState state{};
    struct Case {
        std::int32_t ss, se, al;
        PrimitiveStatus expected;
    };
    const Case cases[] = {{0, 63, 0, -5}, {5, 4, 0, -5}, {1, 64, 0, -5}, {1, 63, 14, -5}, {1, 63, 13, 0}};
    for (const Case& c : cases) {
        position = marker = 0;
        state = {};
        EXPECT_EQ(DecodeHuffmanAcFirst(src.data(), 4, &position, block.data(), &marker, c.ss, c.se, c.al, &ac.decoder, &state),
                  c.expected);
        position = marker = 0;
        state = {};
        EXPECT_EQ(DecodeHuffmanAcRefine(src.data(), 4, &position, block.data(), &marker, c.ss, c.se, c.al, &ac.decoder, &state),
                  c.expected);
    }
    EXPECT_EQ(DecodeHuffmanAcFirst(nullptr, 4, &position, block.data(), &marker, 1, 63, 0, &ac.decoder, &state), -8);
    EXPECT_EQ(DecodeHuffmanAcFirst(src.data(), 0, &position, block.data(), &marker, 1, 63, 0, &ac.decoder, &state), -6);
    EXPECT_EQ(DecodeHuffmanAcFirst(src.data(), 4, &position, block.data(), &marker, 1, 63, 0, nullptr, &state), -8);
    std::int16_t lastDc = 0;
    EXPECT_EQ(DecodeHuffmanDcFirst(src.data(), 4, &position, block.data(), &lastDc, &marker, 14, &ac.decoder, &state), -5);
    EXPECT_EQ(DecodeHuffmanDcFirst(src.data(), 4, &position, block.data(), nullptr, &marker, 0, &ac.decoder, &state), -8);
    EXPECT_EQ(DecodeHuffmanDcRefine(src.data(), 4, &position, block.data(), &marker, 0, nullptr), -8);
    // A run carrying a coefficient past Se fails without writing.
    const Table far({0xF1});
    Stream s;
    s.Symbol(far, 0xF1);
    s.Raw(1, 1);
    Reader r{s.Done()};
    std::array<std::int16_t, 64> untouched{};
    EXPECT_EQ(DecodeHuffmanAcFirst(r.src.data(), static_cast<std::int32_t>(r.src.size()), &r.position, untouched.data(),
                                   &r.marker, 60, 63, 0, &far.decoder, &r.state),
              -2);
    EXPECT_EQ(untouched, (std::array<std::int16_t, 64>{}));
}

TEST(HuffmanProgressive, EncodersWriteWhatTheDecodersRead)
{
    const Table ac({0x00, 0x01, 0x11, 0x21, 0x30, 0x41, 0xF0, 0xE0, 0x12, 0x02});
    const Table dc({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    // Ten empty blocks and the flush: EOB3 and the bits 010.
    std::vector<std::uint8_t> out(256);
    std::int32_t position = 0;
    HuffmanEncoderState state{};
    const std::array<std::int16_t, 64> empty{};
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(EncodeHuffmanAcFirst(empty.data(), out.data(), 256, &position, 1, 63, 0, &ac.encoder, &state, 0), 0);
    EXPECT_EQ(position, 0);
    ASSERT_EQ(EncodeHuffmanAcFirst(nullptr, out.data(), 256, &position, 1, 63, 0, &ac.encoder, &state, 1), 0);
    // Code of 0x30 is 0100 (fifth code), then 010, padded with ones.
    ASSERT_EQ(position, 1);
    EXPECT_EQ(out[0], 0x45);

    // Random blocks through all four scan kinds and back, with a table of
    // 8-bit codes for every symbol but 255.
    std::vector<std::uint8_t> all(255);
    for (int i = 0; i < 255; ++i)
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    const Table full(all, 8);
    std::mt19937 rng(8);
    std::vector<std::array<std::int16_t, 64>> blocks(40);
    for (auto& b : blocks) {
        b.fill(0);
        b[0] = static_cast<std::int16_t>(static_cast<int>(rng() % 400) - 200);
        for (int k = 1; k < 64; ++k)
            if (rng() % 5 == 0)
                b[ZigzagOrder[k]] = static_cast<std::int16_t>(static_cast<int>(rng() % 7) - 3);
    }
    // A script of one component: DC Al 1, AC 1-63 Al 1, DC refine, AC refine.
    struct ScanKind {
        int kind;  // 0 DC first, 1 AC first, 2 DC refine, 3 AC refine
        int al;
    };
    const ScanKind script[] = {{0, 1}, {1, 1}, {2, 0}, {3, 0}};
    std::vector<std::array<std::int16_t, 64>> back(blocks.size());
    for (auto& b : back)
        b.fill(0);
    for (const ScanKind& scan : script) {
        std::vector<std::uint8_t> coded(65536);
        std::int32_t at = 0;
        HuffmanEncoderState es{};
        std::int16_t lastDc = 0;
        for (const auto& b : blocks) {
            PrimitiveStatus r = 0;
            switch (scan.kind) {
            case 0: r = EncodeHuffmanDcFirst(b.data(), coded.data(), 65536, &at, &lastDc, scan.al, &dc.encoder, &es, 0); break;
            case 1: r = EncodeHuffmanAcFirst(b.data(), coded.data(), 65536, &at, 1, 63, scan.al, &full.encoder, &es, 0); break;
            case 2: r = EncodeHuffmanDcRefine(b.data(), coded.data(), 65536, &at, scan.al, &es, 0); break;
            default: r = EncodeHuffmanAcRefine(b.data(), coded.data(), 65536, &at, 1, 63, scan.al, &full.encoder, &es, 0); break;
            }
            ASSERT_EQ(r, 0) << scan.kind;
        }
        const PrimitiveStatus flushed =
            scan.kind == 0 || scan.kind == 2
                ? EncodeHuffmanDcRefine(nullptr, coded.data(), 65536, &at, 0, &es, 1)
                : EncodeHuffmanAcRefine(nullptr, coded.data(), 65536, &at, 1, 63, 0, &full.encoder, &es, 1);
        ASSERT_EQ(flushed, 0);
        coded.resize(static_cast<std::size_t>(at));
        coded.insert(coded.end(), {0xFF, 0xD9});
        Reader r{coded};
        const auto n = static_cast<std::int32_t>(coded.size());
        std::int16_t decodedDc = 0;
        for (auto& b : back) {
            PrimitiveStatus result = 0;
            switch (scan.kind) {
            case 0: result = DecodeHuffmanDcFirst(r.src.data(), n, &r.position, b.data(), &decodedDc, &r.marker, scan.al, &dc.decoder, &r.state); break;
            case 1: result = DecodeHuffmanAcFirst(r.src.data(), n, &r.position, b.data(), &r.marker, 1, 63, scan.al, &full.decoder, &r.state); break;
            case 2: result = DecodeHuffmanDcRefine(r.src.data(), n, &r.position, b.data(), &r.marker, scan.al, &r.state); break;
            default: result = DecodeHuffmanAcRefine(r.src.data(), n, &r.position, b.data(), &r.marker, 1, 63, scan.al, &full.decoder, &r.state); break;
            }
            ASSERT_EQ(result, 0) << scan.kind;
        }
    }
    EXPECT_EQ(back, blocks);
}

}  // namespace
