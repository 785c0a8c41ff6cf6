// The byte archive's encoding: integers, text length prefixes with their
// escapes, UTF-16 texts, counts, and the errors of damaged input.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Archive.h"
#include "platform/File.h"
#include "ByteDump.h"

namespace {

using base_test::Bytes;

template <typename F>
Bytes Store(F&& write) {
    platform::MemFile file;
    platform::Archive ar(file, platform::Archive::store);
    write(ar);
    return Bytes(file.Data(), file.Data() + file.Size());
}

int ArchiveCause(const Bytes& bytes, void (*read)(platform::Archive&)) {
    platform::MemFile file{Bytes(bytes)};
    platform::Archive ar(file, platform::Archive::load);
    try {
        read(ar);
    } catch (const platform::ArchiveException& e) {
        return e.m_cause;
    }
    return -1;
}

TEST(Archive, IntegersAreLittleEndian) {
    Bytes bytes = Store([](platform::Archive& ar) {
        ar << uint8_t{0xAB} << int16_t{-2} << uint16_t{0x1234} << int32_t{-1} << uint32_t{0x01020304}
           << int64_t{0x1122334455667788} << uint64_t{1};
    });
    Bytes expected = {0xAB, 0xFE, 0xFF, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01,
                      0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x01, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_BYTES(expected, bytes);

    platform::MemFile file{Bytes(bytes)};
    platform::Archive ar(file, platform::Archive::load);
    uint8_t a;
    int16_t b;
    uint16_t c;
    int32_t d;
    uint32_t e;
    int64_t f;
    uint64_t g;
    ar >> a >> b >> c >> d >> e >> f >> g;
    EXPECT_EQ(a, 0xAB);
    EXPECT_EQ(b, -2);
    EXPECT_EQ(c, 0x1234);
    EXPECT_EQ(d, -1);
    EXPECT_EQ(e, 0x01020304u);
    EXPECT_EQ(f, 0x1122334455667788);
    EXPECT_EQ(g, 1u);
}

// The prefix of each length class, at both ends of the class.
TEST(Archive, TextLengthPrefixes) {
    struct Case {
        size_t length;
        Bytes prefix;
    } cases[] = {
        {0, {0x00}},
        {1, {0x01}},
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {300, {0xFF, 0x2C, 0x01}},
        {65533, {0xFF, 0xFD, 0xFF}},
        {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("length " + std::to_string(c.length));
        std::string text(c.length, 'x');
        for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
        Bytes bytes = Store([&](platform::Archive& ar) { ar << text; });
        ASSERT_EQ(bytes.size(), c.prefix.size() + c.length);
        EXPECT_BYTES(c.prefix, Bytes(bytes.begin(), bytes.begin() + c.prefix.size()));
        Bytes helper;
        platform::AppendStringBytes(helper, text);
        EXPECT_EQ(helper, bytes);

        platform::MemFile file{Bytes(bytes)};
        platform::Archive ar(file, platform::Archive::load);
        EXPECT_EQ(ar.ReadString(), text);
        EXPECT_EQ(ar.Remaining(), 0u);
    }
}

TEST(Archive, SixtyFourBitTextLengthIsRead) {
    // 0xFF, 0xFFFF, 0xFFFFFFFF, then a 64-bit length of 3.
    Bytes bytes = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'};
    platform::MemFile file{Bytes(bytes)};
    platform::Archive ar(file, platform::Archive::load);
    EXPECT_EQ(ar.ReadString(), "abc");
}

TEST(Archive, Utf16TextIsReadAsUtf8) {
    // "Zürich €" plus U+1F600 (a surrogate pair), stored as UTF-16.
    const std::vector<uint16_t> units = {'Z', 0xFC, 'r', 'i', 'c', 'h', ' ', 0x20AC, 0xD83D, 0xDE00};
    Bytes bytes = {0xFF, 0xFE, 0xFF, static_cast<uint8_t>(units.size())};
    for (uint16_t u : units) {
        bytes.push_back(static_cast<uint8_t>(u));
        bytes.push_back(static_cast<uint8_t>(u >> 8));
    }
    bytes.push_back(0x02);  // a second, narrow text follows
    bytes.push_back('o');
    bytes.push_back('k');
    platform::MemFile file{Bytes(bytes)};
    platform::Archive ar(file, platform::Archive::load);
    EXPECT_EQ(ar.ReadString(), "Z\xC3\xBCrich \xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(ar.ReadString(), "ok");
}

// Damaged UTF-16 never fails the read: an unpaired half of a surrogate pair
// becomes U+FFFD and the text around it is kept.
TEST(Archive, UnpairedSurrogatesReadAsReplacementCharacters) {
    struct Case {
        const char* name;
        std::vector<uint16_t> units;
        std::string expected;
    } cases[] = {
        {"lone high", {'a', 0xD83D, 'b'}, "a\xEF\xBF\xBD" "b"},
        {"lone low", {'a', 0xDE00, 'b'}, "a\xEF\xBF\xBD" "b"},
        {"high at the end", {'a', 0xD83D}, "a\xEF\xBF\xBD"},
        {"two highs then low", {0xD83D, 0xD83D, 0xDE00}, "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = {0xFF, 0xFE, 0xFF, static_cast<uint8_t>(c.units.size())};
        for (uint16_t u : c.units) {
            bytes.push_back(static_cast<uint8_t>(u));
            bytes.push_back(static_cast<uint8_t>(u >> 8));
        }
        platform::MemFile file{Bytes(bytes)};
        platform::Archive ar(file, platform::Archive::load);
        EXPECT_EQ(ar.ReadString(), c.expected);
    }
}

TEST(Archive, LongUtf16TextUsesTheEscapedUnitCount) {
    std::u16string text(300, u'\u00E9');
    Bytes bytes = {0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01};
    for (char16_t u : text) {
        bytes.push_back(static_cast<uint8_t>(u));
        bytes.push_back(static_cast<uint8_t>(u >> 8));
    }
    platform::MemFile file{Bytes(bytes)};
    platform::Archive ar(file, platform::Archive::load);
    std::string expected;
    for (int i = 0; i < 300; ++i) expected += "\xC3\xA9";
    EXPECT_EQ(ar.ReadString(), expected);
}

TEST(Archive, Counts) {
    struct Case {
        uint64_t count;
        Bytes bytes;
    } cases[] = {
        {0, {0x00, 0x00}},
        {0xFFFE, {0xFE, 0xFF}},
        {0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
        {0x12345678, {0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12}},
        {0xFFFFFFFFull, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("count " + std::to_string(c.count));
        Bytes bytes = Store([&](platform::Archive& ar) { ar.WriteCount(c.count); });
        EXPECT_BYTES(c.bytes, bytes);
        platform::MemFile file{Bytes(bytes)};
        platform::Archive ar(file, platform::Archive::load);
        EXPECT_EQ(ar.ReadCount(), c.count);
    }
}

TEST(Archive, BulkDataIsWrittenWhole) {
    Bytes data(100000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    Bytes bytes = Store([&](platform::Archive& ar) { ar.Write(data.data(), data.size()); });
    EXPECT_EQ(bytes, data);
    platform::MemFile file{Bytes(bytes)};
    platform::Archive ar(file, platform::Archive::load);
    Bytes back(data.size());
    ar.Read(back.data(), back.size());
    EXPECT_EQ(back, data);
}

// Damaged input: a clear archive error, and never an allocation of the
// claimed size.
TEST(Archive, DamagedInputGivesArchiveErrors) {
    struct Case {
        const char* name;
        Bytes bytes;
        void (*read)(platform::Archive&);
        int cause;
    } cases[] = {
        {"empty text prefix", {}, [](platform::Archive& ar) { ar.ReadString(); }, platform::ArchiveException::endOfFile},
        {"text shorter than its prefix", {0x05, 'a', 'b'}, [](platform::Archive& ar) { ar.ReadString(); },
         platform::ArchiveException::endOfFile},
        {"cut 16-bit length", {0xFF, 0x2C}, [](platform::Archive& ar) { ar.ReadString(); },
         platform::ArchiveException::endOfFile},
        {"huge 32-bit length", {0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF, 'a'},
         [](platform::Archive& ar) { ar.ReadString(); }, platform::ArchiveException::endOfFile},
        {"huge 64-bit length",
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a'},
         [](platform::Archive& ar) { ar.ReadString(); }, platform::ArchiveException::endOfFile},
        {"huge UTF-16 length",
         {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
         [](platform::Archive& ar) { ar.ReadString(); }, platform::ArchiveException::endOfFile},
        {"cut integer", {0x01, 0x02, 0x03},
         [](platform::Archive& ar) {
             uint32_t v;
             ar >> v;
         },
         platform::ArchiveException::endOfFile},
        {"cut count", {0xFF, 0xFF, 0x01}, [](platform::Archive& ar) { ar.ReadCount(); },
         platform::ArchiveException::endOfFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ArchiveCause(c.bytes, c.read), c.cause);
    }
}

TEST(Archive, WrongDirectionIsRefused) {
    platform::MemFile file{Bytes{1, 2, 3, 4}};
    platform::Archive loading(file, platform::Archive::load);
    try {
        loading << uint32_t{1};
        FAIL() << "write into a loading archive";
    } catch (const platform::ArchiveException& e) {
        EXPECT_EQ(e.m_cause, platform::ArchiveException::readOnly);
    }

    platform::MemFile out;
    platform::Archive storing(out, platform::Archive::store);
    try {
        uint32_t v;
        storing >> v;
        FAIL() << "read from a storing archive";
    } catch (const platform::ArchiveException& e) {
        EXPECT_EQ(e.m_cause, platform::ArchiveException::writeOnly);
    }
}

}  // namespace
