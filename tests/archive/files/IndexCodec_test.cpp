#include "archive/files/FramesIndex.h"
#include "archive/files/PortableBinary.h"
#include "support/ArchiveFileWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using boost::archive::archive_exception;
using testsupport::StoredEntry;

namespace {

std::string Hex(const std::vector<uint8_t>& bytes)
{
    std::string out;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        out += (i ? " " : "");
        out += buf;
    }
    return out;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> list)
{
    std::vector<uint8_t> out;
    for (int b : list)
        out.push_back(static_cast<uint8_t>(b));
    return out;
}

std::vector<uint8_t> Save(const FramesIndex& index)
{
    std::stringstream ss;
    SaveFramesIndex(index, ss);
    const std::string s = ss.str();
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::string AsString(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

FramesIndex LoadPortable(const std::vector<uint8_t>& blob)
{
    std::istringstream in(AsString(blob));
    FramesIndex index;
    LoadFramesIndexPortable(in, index);
    return index;
}

FramesIndex LoadBinary(const std::vector<uint8_t>& blob)
{
    std::istringstream in(AsString(blob));
    FramesIndex index;
    LoadFramesIndexBinary(in, index);
    return index;
}

std::vector<StoredEntry> ToStored(const FramesIndex& index)
{
    std::vector<StoredEntry> out;
    for (const auto& e : index)
        out.push_back({e.time, e.offset, e.pFrame});
    return out;
}

const std::vector<uint8_t> kHeader = [] {
    std::vector<uint8_t> h = {0x01, 0x16};
    const std::string sig = "serialization::archive";
    h.insert(h.end(), sig.begin(), sig.end());
    h.insert(h.end(), {0x01, 0x09, 0x00});
    return h;
}();

TEST(PortableIntegerTest, EncodesTheDocumentedExamples)
{
    const struct {
        int64_t value;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {0, Bytes({0x00})},
        {1, Bytes({0x01, 0x01})},
        {22, Bytes({0x01, 0x16})},
        {300, Bytes({0x02, 0x2C, 0x01})},
        {1000, Bytes({0x02, 0xE8, 0x03})},
        {4096, Bytes({0x02, 0x00, 0x10})},
        {11644473600000, Bytes({0x06, 0x00, 0x68, 0xB6, 0x30, 0x97, 0x0A})},
        {-1, Bytes({0xFF, 0x01})},
        {-5, Bytes({0xFF, 0x05})},
        {INT64_MIN, Bytes({0xF8, 0, 0, 0, 0, 0, 0, 0, 0x80})},
    };
    for (const auto& c : cases) {
        std::stringstream ss;
        portable_binary_oarchive ar(ss, PortableArchiveFlags::kNoHeader);
        const size_t flagsByte = 1; // the flags byte is written even without a header
        ar.SaveInteger(c.value);
        const std::string s = ss.str();
        const std::vector<uint8_t> got(s.begin() + flagsByte, s.end());
        EXPECT_EQ(Hex(got), Hex(c.bytes)) << c.value;

        std::istringstream in(s);
        portable_binary_iarchive rd(in, PortableArchiveFlags::kNoHeader);
        EXPECT_EQ(rd.LoadInteger(8), c.value);
    }
}

TEST(PortableIntegerTest, SizeByteWiderThanTheFieldIsRejected)
{
    const struct {
        std::vector<uint8_t> bytes;
        unsigned width;
    } cases[] = {
        {Bytes({0x02, 0x01, 0x00}), 1},           // tracking flag
        {Bytes({0x05, 1, 2, 3, 4, 5}), 4},        // class version
        {Bytes({0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9}), 8}, // time
        {Bytes({0x80}), 8},                       // -128 bytes
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> s = {0x00}; // flags byte
        s.insert(s.end(), c.bytes.begin(), c.bytes.end());
        std::istringstream in(AsString(s));
        portable_binary_iarchive rd(in, PortableArchiveFlags::kNoHeader);
        EXPECT_THROW(rd.LoadInteger(c.width), portable_binary_iarchive_exception) << Hex(c.bytes);
    }
}

TEST(PortableArchiveTest, BothEndianFlagsAreRefused)
{
    std::stringstream ss;
    EXPECT_THROW(portable_binary_oarchive(ss, PortableArchiveFlags::kEndianBig | PortableArchiveFlags::kEndianLittle),
                 portable_binary_oarchive_exception);
}

TEST(IndexCodecTest, SavesGoldenBytes)
{
    std::vector<uint8_t> empty = kHeader;
    empty.insert(empty.end(), {0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(Hex(Save({})), Hex(empty));

    std::vector<uint8_t> two = kHeader;
    two.insert(two.end(), {0x00, 0x00, 0x01 /*size*/, 0x02 /*N*/, 0x00, 0x00, 0x00});
    two.insert(two.end(), {0x00, 0x00, 0x01});                              // time 0, offset 0, key
    two.insert(two.end(), {0x06, 0x00, 0x68, 0xB6, 0x30, 0x97, 0x0A});     // time
    two.insert(two.end(), {0x02, 0x2C, 0x01, 0x00});                        // offset 300, no key
    EXPECT_EQ(Hex(Save({{0, 0, true}, {11644473600000ull, 300, false}})), Hex(two));
}

TEST(IndexCodecTest, StreamThatRefusesBytesIsAnOutputStreamError)
{
    // A stream buffer with room for 10 bytes and no way to grow.
    struct FullBuf : std::streambuf {
        char room[10];
        FullBuf() { setp(room, room + sizeof room); }
    } full;
    std::ostream out(&full);
    try {
        SaveFramesIndex({{1, 2, true}}, out);
        ADD_FAILURE() << "saved into a full stream";
    } catch (const archive_exception& e) {
        EXPECT_EQ(e.code, archive_exception::output_stream_error);
    }
}

TEST(IndexCodecTest, RoundTripsAndMatchesTheIndependentWriter)
{
    FramesIndex index;
    for (uint64_t i = 0; i < 500; ++i)
        index.push_back({1700000000000ull + i * 40, 8 + i * 1234, i % 25 == 0});
    const auto blob = Save(index);
    EXPECT_EQ(Hex(blob), Hex(testsupport::EncodePortableIndexBlob(ToStored(index))));
    EXPECT_EQ(LoadPortable(blob), index);
}

TEST(IndexCodecTest, BinaryAndPortableFormsOfTheSameEntriesDecodeAlike)
{
    const FramesIndex index = {{1700000000000ull, 8, true}, {1700000000040ull, 1100, false}, {1700000000080ull, 2200, true}};
    const auto binary = testsupport::EncodeBinaryIndexBlob(ToStored(index));
    EXPECT_EQ(binary.size(), 62u + 17u * index.size());
    EXPECT_EQ(LoadBinary(binary), index);
    EXPECT_EQ(LoadPortable(testsupport::EncodePortableIndexBlob(ToStored(index))), index);
    EXPECT_TRUE(LoadBinary(testsupport::EncodeBinaryIndexBlob({})).empty());
    EXPECT_EQ(testsupport::EncodeBinaryIndexBlob({}).size(), 57u);
}

TEST(IndexCodecTest, BigEndianFlagReversesMagnitudeBytes)
{
    const FramesIndex index = {{1700000000000ull, 300, true}, {1700000000040ull, 70000, false}};
    const auto blob = testsupport::EncodePortableIndexBlob(ToStored(index), 0x40);
    EXPECT_EQ(LoadPortable(blob), index);
}

TEST(IndexCodecTest, KeyByteIsNormalised)
{
    auto blob = testsupport::EncodePortableIndexBlob({{5, 6, true}});
    blob.back() = 0x07;
    const auto index = LoadPortable(blob);
    ASSERT_EQ(index.size(), 1u);
    EXPECT_TRUE(index[0].pFrame);
}

struct DamageCase {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> edit;
    int code; // archive_exception code
    size_t entriesLeft;
};

TEST(IndexCodecTest, PortableDecodingErrors)
{
    const std::vector<StoredEntry> entries = {{1000, 8, true}, {2000, 100, false}, {3000, 200, false}};
    const DamageCase cases[] = {
        {"signature length 21", [](auto& b) { b[1] = 0x15; }, archive_exception::invalid_signature, 0},
        {"signature length huge", [](auto& b) { b[0] = 0x08; b[1] = 0xFF; }, archive_exception::invalid_signature, 0},
        {"signature text", [](auto& b) { b[2] = 'S'; }, archive_exception::invalid_signature, 0},
        {"library version 10", [](auto& b) { b[25] = 0x0A; }, archive_exception::unsupported_version, 0},
        {"cut in header", [](auto& b) { b.resize(10); }, archive_exception::input_stream_error, 0},
        {"cut after flags", [](auto& b) { b.resize(27); }, archive_exception::input_stream_error, 0},
        {"count beyond the bytes", [](auto& b) { b[30] = 0x7F; }, archive_exception::input_stream_error, 0},
        {"cut inside third entry", [](auto& b) { b.resize(b.size() - 2); }, archive_exception::input_stream_error, 2},
        {"oversized time", [](auto& b) { b[34] = 0x09; }, archive_exception::other_exception, 0},
    };
    for (const auto& c : cases) {
        auto blob = testsupport::EncodePortableIndexBlob(entries);
        c.edit(blob);
        std::istringstream in(AsString(blob));
        FramesIndex index;
        try {
            LoadFramesIndexPortable(in, index);
            ADD_FAILURE() << c.name << ": decoded";
        } catch (const archive_exception& e) {
            EXPECT_EQ(e.code, c.code) << c.name << ": " << e.what();
        }
        EXPECT_EQ(index.size(), c.entriesLeft) << c.name;
    }
}

TEST(IndexCodecTest, HugeCountInEightBytesIsRefusedWithoutReserving)
{
    std::vector<uint8_t> blob = kHeader;
    blob.insert(blob.end(), {0x00, 0x00, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x00, 0x00, 0x00});
    blob.insert(blob.end(), {0x00, 0x00, 0x00});
    EXPECT_THROW(LoadPortable(blob), archive_exception);
    auto binary = testsupport::EncodeBinaryIndexBlob({{1, 2, true}});
    for (int i = 0; i < 8; ++i)
        binary[45 + i] = 0xFF;
    EXPECT_THROW(LoadBinary(binary), archive_exception);
}

TEST(IndexCodecTest, BinaryDecodingErrors)
{
    const std::vector<StoredEntry> entries = {{1000, 8, true}, {2000, 100, false}};
    const struct {
        const char* name;
        size_t at;
        uint8_t value;
        int code;
        const char* detail;
    } cases[] = {
        {"signature length", 0, 21, archive_exception::invalid_signature, nullptr},
        {"signature text", 8, 'S', archive_exception::invalid_signature, nullptr},
        {"library version 10", 30, 10, archive_exception::unsupported_version, nullptr},
        {"size of int 8", 32, 8, archive_exception::incompatible_native_format, "size of int"},
        {"size of long 8", 33, 8, archive_exception::incompatible_native_format, "size of long"},
        {"size of float", 34, 8, archive_exception::incompatible_native_format, "size of float"},
        {"size of double", 35, 4, archive_exception::incompatible_native_format, "size of double"},
        {"endian", 36, 2, archive_exception::incompatible_native_format, "endian setting"},
    };
    for (const auto& c : cases) {
        auto blob = testsupport::EncodeBinaryIndexBlob(entries);
        blob[c.at] = c.value;
        try {
            LoadBinary(blob);
            ADD_FAILURE() << c.name << ": decoded";
        } catch (const archive_exception& e) {
            EXPECT_EQ(e.code, c.code) << c.name;
            if (c.detail) {
                EXPECT_NE(std::string(e.what()).find(c.detail), std::string::npos) << c.name << ": " << e.what();
            }
        }
    }
    auto cut = testsupport::EncodeBinaryIndexBlob(entries);
    cut.resize(cut.size() - 1);
    try {
        LoadBinary(cut);
        ADD_FAILURE() << "short blob decoded";
    } catch (const archive_exception& e) {
        EXPECT_EQ(e.code, archive_exception::input_stream_error);
    }
}

TEST(IndexCodecTest, OlderBinaryLibraryVersionsUseNarrowerFields)
{
    // Library version 5: one version byte, 1-byte class versions, u32 count,
    // u32 item version.
    std::vector<uint8_t> blob = {22, 0, 0, 0, 0, 0, 0, 0};
    const std::string sig = "serialization::archive";
    blob.insert(blob.end(), sig.begin(), sig.end());
    blob.insert(blob.end(), {5, 4, 4, 4, 8, 1, 0, 0, 0});
    blob.insert(blob.end(), {0, 0});                // list tracking, class version
    blob.insert(blob.end(), {1, 0, 0, 0});          // N
    blob.insert(blob.end(), {0, 0, 0, 0});          // item version
    blob.insert(blob.end(), {0, 0});                // entry tracking, class version
    blob.insert(blob.end(), {0xE8, 3, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 1});
    EXPECT_EQ(LoadBinary(blob), (FramesIndex{{1000, 8, true}}));
}

// Damaged blobs (random byte changes and cuts) either decode or raise an
// archive error; nothing else escapes and no count is believed beyond the
// bytes that carry it.
TEST(IndexCodecTest, RandomlyDamagedBlobsFailCleanly)
{
    std::vector<StoredEntry> entries;
    for (uint64_t i = 0; i < 40; ++i)
        entries.push_back({1700000000000ull + i * 40, 8 + i * 900, i % 10 == 0});
    const auto portable = testsupport::EncodePortableIndexBlob(entries);
    const auto binary = testsupport::EncodeBinaryIndexBlob(entries);
    std::mt19937 rng(1234);
    for (int round = 0; round < 3000; ++round) {
        const bool usePortable = round % 2 == 0;
        auto blob = usePortable ? portable : binary;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e)
            blob[rng() % blob.size()] = static_cast<uint8_t>(rng());
        if (rng() % 4 == 0)
            blob.resize(rng() % blob.size());
        std::istringstream in(AsString(blob));
        FramesIndex index;
        try {
            if (usePortable)
                LoadFramesIndexPortable(in, index);
            else
                LoadFramesIndexBinary(in, index);
        } catch (const archive_exception&) {
        }
        EXPECT_LE(index.capacity(), blob.size()) << "round " << round;
    }
}

} // namespace
