#include "archive/files/ArchiveCrc.h"
#include "support/ArchiveFileWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct CrcCase {
    const char* name;
    std::string bytes;
    uint32_t expected;
};

TEST(ArchiveCrcTest, KnownValues)
{
    const CrcCase cases[] = {
        {"empty", "", 0x00000000u},
        {"abc", "abc", 0xCA6598D0u},
        // A zero register with no inversion leaves leading zero bytes invisible.
        {"zeros", std::string(4, '\0'), 0x00000000u},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ArchiveCrc32(c.bytes.data(), c.bytes.size()), c.expected) << c.name;
}

TEST(ArchiveCrcTest, MatchesBitwiseReferenceAndChainsAcrossPieces)
{
    std::vector<uint8_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + 3);
    const uint32_t whole = ArchiveCrc32(data.data(), data.size());
    EXPECT_EQ(whole, testsupport::ReferenceArchiveCrc(data.data(), data.size()));
    const uint32_t first = ArchiveCrc32(data.data(), 333);
    EXPECT_EQ(ArchiveCrc32(data.data() + 333, data.size() - 333, first), whole);
}

} // namespace
