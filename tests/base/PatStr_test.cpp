// Pattern string: byte-by-byte search for a fixed marker.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "base/PatStr.h"

namespace {

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// Offsets (one past the last byte) of every match, resetting after each as
// the portable-player check does.
std::vector<size_t> MatchEnds(CPatStr& pattern, const std::string& data)
{
    std::vector<size_t> ends;
    for (size_t i = 0; i < data.size(); ++i) {
        if (pattern.Feed(static_cast<uint8_t>(data[i]))) {
            ends.push_back(i + 1);
            pattern.Reset();
        }
    }
    return ends;
}

} // namespace

TEST(PatStr, MatchesAsTheTableDefines)
{
    const struct {
        std::string pattern;
        std::string data;
        std::vector<size_t> ends;
    } cases[] = {
        {"AAB", "AAB", {3}},
        // A byte that breaks a partial match starts, or continues, a new one.
        {"AAB", "AAAB", {4}},
        {"ABAC", "ABABAC", {6}},
        {"AABAAC", "AABAABAAC", {9}},
        {"AAB", "xAABAAB", {4, 7}},
        {"ABC", "ABABC", {5}},
        {"ABC", "ABXABC", {6}},
        {"Q", "QQxQ", {1, 2, 4}},
        {"ABC", "", {}},
        // Zero bytes are pattern bytes like any other.
        {std::string("A\0B", 3), std::string("A\0BA\0\0B", 7), {3}},
        {std::string("\0\0B", 3), std::string("\0\0\0\0B", 5), {5}},
    };
    for (const auto& c : cases) {
        CPatStr pat(Bytes(c.pattern), static_cast<int32_t>(c.pattern.size()));
        EXPECT_EQ(MatchEnds(pat, c.data), c.ends) << c.pattern << " in " << c.data;
    }
}

TEST(PatStr, BinaryMarkerAtTheStartAndTwiceInARow)
{
    // A 54-byte marker with every byte value class: zero, high bit, repeats.
    std::string marker;
    for (int i = 0; i < 54; ++i)
        marker.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
    marker[5] = '\0';
    marker[6] = static_cast<char>(0xFF);
    CPatStr pat(Bytes(marker), 54);

    // At the very start: state L at byte L - 1.
    for (int i = 0; i < 53; ++i) {
        EXPECT_FALSE(pat.Feed(static_cast<uint8_t>(marker[i])));
        EXPECT_EQ(pat.GetState(), i + 1);
    }
    EXPECT_TRUE(pat.Feed(static_cast<uint8_t>(marker[53])));
    EXPECT_EQ(pat.GetState(), 54);

    // Two copies back to back behind some payload: both found with a reset.
    pat.Reset();
    const std::string data = std::string("payload\xFF\x00", 9) + marker + marker + "tail";
    EXPECT_EQ(MatchEnds(pat, data), (std::vector<size_t>{9 + 54, 9 + 108}));

    // FindEnd gives the offset just after the first match.
    CPatStr again(Bytes(marker), 54);
    EXPECT_EQ(again.FindEnd(Bytes(data), data.size()), 9 + 54);
    EXPECT_EQ(again.FindEnd(Bytes(std::string("AAAA")), 4), -1);
}

TEST(PatStr, FeedingOnAfterAMatchWithoutResetStartsOver)
{
    // The last byte value with the state at L would index past the table.
    const std::string pattern = "\xFF\xFF";
    CPatStr pat(Bytes(pattern), 2);
    EXPECT_FALSE(pat.Feed(0xFF));
    EXPECT_TRUE(pat.Feed(0xFF));
    EXPECT_FALSE(pat.Feed(0xFF));
    EXPECT_EQ(pat.GetState(), 1);
    EXPECT_TRUE(pat.Feed(0xFF));
}

TEST(PatStr, RefusesPatternsTheByteTableCannotHold)
{
    const std::string longPattern(256, 'x');
    EXPECT_THROW(CPatStr(Bytes(longPattern), 256), std::invalid_argument);
    EXPECT_THROW(CPatStr(Bytes(longPattern), 0), std::invalid_argument);
    EXPECT_THROW(CPatStr(nullptr, 3), std::invalid_argument);
    CPatStr longest(Bytes(longPattern), 255);
    EXPECT_EQ(longest.FindEnd(Bytes(longPattern), longPattern.size()), 255);
}

TEST(PatStr, AgreesWithAPlainSearchOnEveryShortText)
{
    // Every text of up to 9 bytes over a two-letter alphabet, against a
    // plain search that resumes just after each match.
    const std::string patterns[] = {"AAB", "ABA", "ABAB", "AABAAB", "BBBA", "A"};
    for (const std::string& pattern : patterns) {
        for (int length = 0; length <= 9; ++length) {
            for (int bits = 0; bits < (1 << length); ++bits) {
                std::string data;
                for (int i = 0; i < length; ++i)
                    data.push_back((bits >> i) & 1 ? 'B' : 'A');
                std::vector<size_t> expected;
                for (size_t at = data.find(pattern); at != std::string::npos;
                     at = data.find(pattern, at + pattern.size()))
                    expected.push_back(at + pattern.size());
                CPatStr pat(Bytes(pattern), static_cast<int32_t>(pattern.size()));
                ASSERT_EQ(MatchEnds(pat, data), expected) << pattern << " in " << data;
            }
        }
    }
}
