#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "imaging/jpeg/JpegStreams.h"
#include "imaging/jpeg/JpegTables.h"
#include "imaging/primitives/Huffman.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

// Takes at most `limit` bytes of every write.
class ShortStream : public CBaseStreamOutput {
public:
    explicit ShortStream(std::int32_t limit) : limit_(limit) {}
    JpegStatus Open(const char*) override { return -1; }
    JpegStatus Close() override { return 0; }
    JpegStatus Write(const void* source, std::int32_t length, std::int32_t* count) override
    {
        const std::int32_t n = length < limit_ ? length : limit_;
        const auto* s = static_cast<const std::uint8_t*>(source);
        taken.insert(taken.end(), s, s + n);
        *count = n;
        return n < length ? -4 : 0;
    }
    std::int32_t limit_;
    Bytes taken;
};

}  // namespace

TEST(JpegMemoryStreams, OutputTakesWhatFits)
{
    Bytes block(10, 0xEE);
    CMemBuffOutput out;
    EXPECT_EQ(out.AttachBuffer(nullptr, 10), -3);
    std::int32_t count = -1;
    const std::uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(out.Write(data, 4, &count), -4);  // detached: nothing fits
    EXPECT_EQ(count, 0);
    ASSERT_EQ(out.AttachBuffer(block.data(), 10), 0);
    ASSERT_EQ(out.Write(data, 4, &count), 0);
    EXPECT_EQ(out.Write(data, 10, &count), -4);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(block, (Bytes{1, 2, 3, 4, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(out.Open("x"), -1);
    EXPECT_EQ(out.Close(), 0);
    EXPECT_EQ(out.Position(), 0);
}

TEST(JpegMemoryStreams, InputReadsAndSeeks)
{
    const Bytes block{10, 20, 30, 40, 50};
    CMemBuffInput in;
    EXPECT_EQ(in.AttachBuffer(nullptr, 5), -3);
    ASSERT_EQ(in.AttachBuffer(block.data(), 5), 0);
    EXPECT_EQ(in.Seek(0, 3), -1);
    for (int origin : {0, 1, 2, 3})
        EXPECT_EQ(in.Seek(5, origin), -4) << "origin " << origin;
    EXPECT_EQ(in.Seek(-1, 1), -4);
    ASSERT_EQ(in.Seek(3, 0), 0);
    std::int32_t position = -1;
    in.GetPosition(&position);
    EXPECT_EQ(position, 3);
    std::uint8_t buffer[4] = {};
    std::int32_t count = 0;
    EXPECT_EQ(in.Read(buffer, 4, &count), -4);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(buffer[0], 40);
    ASSERT_EQ(in.Seek(-4, 1), 0);
    in.GetPosition(&position);
    EXPECT_EQ(position, 1);
    ASSERT_EQ(in.Seek(1, 2), 0);  // origin 2 goes to the end
    in.GetPosition(&position);
    EXPECT_EQ(position, 5);
}

TEST(JpegBitStreamOutput, FlushKeepsRoomAndPassesErrorsUp)
{
    Bytes block(8192);
    CMemBuffOutput out;
    out.AttachBuffer(block.data(), 8192);
    CBitStreamOutput writer;
    writer.Attach(&out);
    ASSERT_EQ(writer.Init(4096), 0);
    for (int i = 0; i < 3967; ++i)
        ASSERT_EQ(writer.WriteByte(static_cast<std::uint8_t>(i)), 0);
    ASSERT_EQ(writer.Flush(128), 0);
    EXPECT_EQ(writer.Fill(), 3967);  // 129 bytes free
    ASSERT_EQ(writer.WriteByte(1), 0);
    ASSERT_EQ(writer.Flush(128), 0);
    EXPECT_EQ(writer.Fill(), 0);
    EXPECT_EQ(writer.Total(), 3968);
    ASSERT_EQ(writer.WriteWord(0xABCD), 0);
    ASSERT_EQ(writer.Flush(0), 0);
    EXPECT_EQ(block[3968], 0xAB);
    EXPECT_EQ(block[3969], 0xCD);
    EXPECT_EQ(out.Position(), writer.Total());

    ShortStream shortStream(3);
    CBitStreamOutput shortWriter;
    shortWriter.Attach(&shortStream);
    ASSERT_EQ(shortWriter.Init(16), 0);
    for (int i = 0; i < 5; ++i)
        shortWriter.WriteByte(static_cast<std::uint8_t>(i));
    EXPECT_EQ(shortWriter.Flush(0), -5);
    EXPECT_EQ(shortWriter.Fill(), 5);
    EXPECT_EQ(shortWriter.Total(), 0);
    shortStream.limit_ = 100;
    EXPECT_EQ(shortWriter.Flush(0), 0);
    EXPECT_EQ(shortWriter.Total(), 5);

    // A full buffer is flushed before the next byte; a stream that takes
    // nothing makes that byte fail.
    ShortStream none(0);
    CBitStreamOutput stuck;
    stuck.Attach(&none);
    ASSERT_EQ(stuck.Init(2), 0);
    EXPECT_EQ(stuck.WriteByte(1), 0);
    EXPECT_EQ(stuck.WriteByte(2), 0);
    EXPECT_EQ(stuck.WriteByte(3), -5);
}

TEST(JpegBitStreamInput, ReadsAcrossRefillsAndEnds)
{
    Bytes block(10);
    for (int i = 0; i < 10; ++i)
        block[i] = static_cast<std::uint8_t>(0x10 + i);
    CMemBuffInput in;
    in.AttachBuffer(block.data(), 10);
    CBitStreamInput reader;
    reader.Attach(&in);
    ASSERT_EQ(reader.Init(3), 0);
    std::uint8_t byte = 0;
    std::uint16_t word = 0;
    std::uint32_t dword = 0;
    ASSERT_EQ(reader.ReadByte(&byte), 0);
    EXPECT_EQ(byte, 0x10);
    ASSERT_EQ(reader.ReadByte(&byte), 0);
    ASSERT_EQ(reader.ReadWord(&word), 0);  // bytes 2 and 3: across the refill
    EXPECT_EQ(word, 0x1213);
    ASSERT_EQ(reader.PeekByte(0, &byte), 0);
    EXPECT_EQ(byte, 0x14);
    ASSERT_EQ(reader.ReadDword(&dword), 0);
    EXPECT_EQ(dword, 0x14151617u);
    EXPECT_EQ(reader.Consumed(), 8);
    ASSERT_EQ(reader.Seek(1, 1), 0);
    ASSERT_EQ(reader.ReadByte(&byte), 0);
    EXPECT_EQ(byte, 0x19);
    EXPECT_EQ(reader.ReadByte(&byte), -4);
    EXPECT_EQ(reader.Seek(0, 0), -1);
}

TEST(JpegQuantTables, EncoderTablesByQuality)
{
    std::array<std::uint8_t, 64> raw;
    for (int i = 0; i < 64; ++i)
        raw[i] = static_cast<std::uint8_t>(10 + i);
    for (int quality : {0, 50}) {
        CJPEGEncoderQuantTable table;
        ASSERT_EQ(table.Init8(1, raw.data(), quality), 0);
        EXPECT_TRUE(std::equal(raw.begin(), raw.end(), table.Raw8()));
        EXPECT_EQ(table.Id(), 1);
        EXPECT_TRUE(table.Initialised());
        EXPECT_EQ(table.Reciprocals()[0], 3277);  // 32768 / 10
        EXPECT_EQ(table.FloatReciprocals(), nullptr);
    }
    for (int quality : {100, 120}) {
        CJPEGEncoderQuantTable table;
        ASSERT_EQ(table.Init8(0, raw.data(), quality), 0);
        for (int i = 0; i < 64; ++i)
            EXPECT_EQ(table.Raw8()[i], 1);
    }
    CJPEGEncoderQuantTable failing;
    EXPECT_EQ(failing.Init8(0, raw.data(), -5), -2);
    raw[5] = 0;
    EXPECT_EQ(failing.Init8(0, raw.data(), 0), -2);  // a zero quantiser
    EXPECT_FALSE(failing.Initialised());

    std::array<std::uint16_t, 64> wide;
    for (int i = 0; i < 64; ++i)
        wide[i] = static_cast<std::uint16_t>(1000 + i);
    CJPEGEncoderQuantTable table16;
    ASSERT_EQ(table16.Init16(2, wide.data(), 25), 0);  // factor 200: doubled
    EXPECT_EQ(table16.Raw16()[0], 2000);
    EXPECT_EQ(table16.Precision(), 1);
    EXPECT_EQ(table16.Reciprocals(), nullptr);
    EXPECT_FLOAT_EQ(table16.FloatReciprocals()[8], static_cast<float>(1.0 / 2004));  // natural 8 = zig-zag 2
    ASSERT_EQ(table16.Init16(2, wide.data(), 150), 0);
    EXPECT_EQ(table16.Raw16()[63], 1);
}

TEST(JpegQuantTables, DecoderTables)
{
    std::array<std::uint8_t, 64> raw;
    raw.fill(3);
    raw[2] = 12;
    CJPEGDecoderQuantTable table;
    ASSERT_EQ(table.Init8(0x13, raw.data()), 0);
    EXPECT_EQ(table.Id(), 3);
    EXPECT_EQ(table.Quantisers()[8], 12);
    ASSERT_EQ(table.Widen8To16(), 0);
    EXPECT_EQ(table.Precision(), 1);
    EXPECT_EQ(table.FloatQuantisers()[8], 12.0f);
    EXPECT_EQ(table.FloatQuantisers()[1], 3.0f);
    ASSERT_EQ(table.Narrow16To8(), 0);
    EXPECT_EQ(table.Quantisers()[8], 12);

    std::array<std::uint16_t, 64> wide;
    wide.fill(300);
    wide[2] = 4000;
    ASSERT_EQ(table.Init16(1, wide.data()), 0);
    EXPECT_EQ(table.FloatQuantisers()[8], 4000.0f);
}

TEST(JpegHuffmanTables, CreateInitAndClear)
{
    CJPEGEncoderHuffmanTable table;
    EXPECT_EQ(table.Init(0, 0, kStandardDcLuminance.bits, kStandardDcLuminance.values), -2);  // not created
    ASSERT_EQ(table.Create(), 0);
    ASSERT_EQ(table.Init(0x21, 0x10, kStandardDcLuminance.bits, kStandardDcLuminance.values), 0);
    EXPECT_EQ(table.Id(), 1);
    EXPECT_EQ(table.Class(), 0);
    EXPECT_EQ(table.ValueCount(), 12);
    EXPECT_EQ(table.Spec()->entry[0], (2u << 16) | 0);
    std::uint8_t overfull[16] = {3};
    EXPECT_EQ(table.Init(0, 0, overfull, kStandardDcLuminance.values), -2);
    table.Clear();
    EXPECT_EQ(table.Spec(), nullptr);
    EXPECT_EQ(table.ValueCount(), 0);

    CJPEGDecoderHuffmanTable decoder;
    EXPECT_TRUE(decoder.Empty());
    ASSERT_EQ(decoder.Create(), 0);
    EXPECT_FALSE(decoder.Empty());
    EXPECT_FALSE(decoder.Valid());
    ASSERT_EQ(decoder.Init(1, 1, kStandardAcLuminance.bits, kStandardAcLuminance.values), 0);
    EXPECT_TRUE(decoder.Valid());
    EXPECT_EQ(decoder.Init(1, 1, overfull, kStandardAcLuminance.values), -10);
    decoder.Clear();
    EXPECT_TRUE(decoder.Empty());
    EXPECT_FALSE(decoder.Valid());

    CJPEGEncoderHuffmanState encoderState;
    CJPEGDecoderHuffmanState decoderState;
    EXPECT_EQ(encoderState.Create(), 0);
    EXPECT_EQ(decoderState.Create(), 0);
    EXPECT_NE(encoderState.State(), nullptr);
    EXPECT_NE(decoderState.State(), nullptr);
}

TEST(JpegColorComponent, BuffersFollowTheirGeometry)
{
    CJPEGColorComponent c;
    c.mcuRowLines = 16;
    c.fullStep = 48;
    c.sampledLines = 8;
    c.sampledStep = 24;
    c.blocksPerRow = 6;
    ASSERT_EQ(c.AllocateFull(1), 0);
    ASSERT_EQ(c.AllocateSampled(2), 0);
    ASSERT_EQ(c.AllocateCoefficients(1), 0);
    EXPECT_EQ(c.fullSize, 768);
    EXPECT_EQ(c.fullRows.Size(), 768);
    EXPECT_EQ(c.sampledRows.Size(), 384);
    EXPECT_EQ(c.GetSampledRows(1), c.sampledRows.Data() + 192);
    EXPECT_EQ(c.coefficientRow.Size(), 6 * 128);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(c.fullRows.Data()) % 32, 0u);
    c.fullStep = 0;
    EXPECT_EQ(c.AllocateFull(1), -6);
    EXPECT_EQ(c.fullRows.Data(), nullptr);

    CMemoryBuffer buffer;
    EXPECT_EQ(buffer.Allocate(-1), -6);
    EXPECT_EQ(buffer.Size(), 0);
    ASSERT_EQ(buffer.Allocate(100), 0);
    EXPECT_EQ(buffer.Size(), 100);
    buffer.Free();
    EXPECT_EQ(buffer.Data(), nullptr);
}
