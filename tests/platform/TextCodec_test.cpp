#include "platform/TextCodec.h"

#include <cstdlib>

#include <gtest/gtest.h>

using namespace platform;

namespace {

class LegacyCodePage {
public:
    explicit LegacyCodePage(const char* name) {
        if (name) ::setenv("GAVEX_LEGACY_CODEPAGE", name, 1);
        else ::unsetenv("GAVEX_LEGACY_CODEPAGE");
    }
    ~LegacyCodePage() { ::unsetenv("GAVEX_LEGACY_CODEPAGE"); }
};

TEST(TextCodec, RoundTripsBetweenUtf8Utf16AndWide) {
    struct Case {
        std::string utf8;
        std::u16string utf16;
        std::wstring wide;
    } cases[] = {
        {"", u"", L""},
        {"abc", u"abc", L"abc"},
        {"\xC3\x9C" "ber", u"\u00DCber", L"\u00DCber"},
        {"\xD0\x9F\xD1\x80\xD0\xB8", u"\u041F\u0440\u0438", L"\u041F\u0440\u0438"},
        {"\xE2\x82\xAC", u"\u20AC", L"\u20AC"},
        {"\xF0\x9F\x98\x80!", std::u16string{0xD83D, 0xDE00, u'!'}, std::wstring{wchar_t(0x1F600), L'!'}},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3), std::wstring(L"a\0b", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
        EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
        EXPECT_EQ(Utf8ToWide(c.utf8), c.wide);
        EXPECT_EQ(WideToUtf8(c.wide), c.utf8);
        EXPECT_EQ(Utf16ToWide(c.utf16), c.wide);
        EXPECT_EQ(WideToUtf16(c.wide), c.utf16);
    }
}

TEST(TextCodec, InvalidSequencesBecomeReplacementCharacters) {
    EXPECT_EQ(Utf8ToWide("a\xFF" "b"), (std::wstring{L'a', 0xFFFD, L'b'}));
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), (std::wstring{0xFFFD, 0xFFFD}));        // overlong '/'
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), (std::wstring{0xFFFD, 0xFFFD, 0xFFFD}));  // surrogate
    EXPECT_EQ(Utf8ToWide("x\xE2\x82"), (std::wstring{L'x', 0xFFFD, 0xFFFD}));  // cut short
    EXPECT_EQ(Utf16ToWide(std::u16string{0xD800, u'a'}), (std::wstring{0xFFFD, L'a'}));
    EXPECT_EQ(Utf16ToWide(std::u16string{0xDC00}), std::wstring{0xFFFD});
    EXPECT_EQ(WideToUtf8(std::wstring{wchar_t(0x110000)}), "\xEF\xBF\xBD");
    EXPECT_EQ(WideToUtf16(std::wstring{wchar_t(0xD800)}), std::u16string{0xFFFD});
}

TEST(TextCodec, LegacyCodePageConvertsArchiveText) {
    {
        LegacyCodePage cp("1251");
        EXPECT_EQ(LegacyCodePageName(), "CP1251");
        const std::string utf8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 1";  // "Привет 1"
        const std::string legacy = "\xCF\xF0\xE8\xE2\xE5\xF2 1";
        EXPECT_EQ(Utf8ToLegacy(utf8), legacy);
        EXPECT_EQ(LegacyToUtf8(legacy), utf8);
        // Not representable: the default character.
        EXPECT_EQ(Utf8ToLegacy("a\xE6\xBC\xA2" "b"), "a?b");
    }
    {
        LegacyCodePage cp("CP1252");
        EXPECT_EQ(Utf8ToLegacy("caf\xC3\xA9"), "caf\xE9");
        EXPECT_EQ(LegacyToUtf8("\x80"), "\xE2\x82\xAC");
    }
    {
        LegacyCodePage cp(nullptr);
        EXPECT_EQ(LegacyCodePageName(), "UTF-8");
        EXPECT_EQ(LegacyToUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
        EXPECT_EQ(LegacyToUtf8("bad\xFF"), "bad\xEF\xBF\xBD");
    }
    {
        LegacyCodePage cp("NO-SUCH-CHARSET");
        EXPECT_EQ(LegacyToUtf8("abc"), "");
    }
}

TEST(TextCodec, NamesWindowsCodePages) {
    LegacyCodePage cp("CP1250");
    EXPECT_EQ(CodePageCharset(0), "CP1250");
    EXPECT_EQ(CodePageCharset(65001), "UTF-8");
    EXPECT_EQ(CodePageCharset(1200), "UTF-16LE");
    EXPECT_EQ(CodePageCharset(866), "CP866");
    EXPECT_EQ(WideToCharset(L"\u0416", "CP866"), "\x86");
    EXPECT_EQ(CharsetToWide("\x86", "CP866"), L"\u0416");
}

}  // namespace
