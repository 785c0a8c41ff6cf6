// Byte fixtures of the stored-format tests: comparison with a hex dump of
// both sides on mismatch.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace base_test {

using Bytes = std::vector<uint8_t>;

// Sixteen bytes a line; longer inputs are cut at `limit` bytes and their size
// is given.
inline std::string Hex(const Bytes& bytes, size_t limit = 96)
{
    std::string out;
    char b[8];
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(b, sizeof b, "%s%02x", i % 16 == 0 ? "\n" : " ", bytes[i]);
        out += b;
    }
    if (bytes.size() > limit)
        out += "\n... (" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

}  // namespace base_test

#define EXPECT_BYTES(expected, actual) \
    EXPECT_EQ(expected, actual) << "expected:" << base_test::Hex(expected) << "\nactual:" << base_test::Hex(actual)
