#include "base/StringConv.h"

#include <QString>

#include <cstdlib>

#include <gtest/gtest.h>

namespace {

TEST(StringConv, NarrowIsUtf8BothWays) {
    const std::pair<std::wstring, std::string> cases[] = {
        {L"", ""},
        {L"Camera 1", "Camera 1"},
        {L"Kamera \u00DC", "Kamera \xC3\x9C"},
        {L"\u041A\u0430\u043C\u0435\u0440\u0430", "\xD0\x9A\xD0\xB0\xD0\xBC\xD0\xB5\xD1\x80\xD0\xB0"},
        {std::wstring{wchar_t(0x1F4F7)}, "\xF0\x9F\x93\xB7"},
        {std::wstring(L"a\0b", 3), std::string("a\0b", 3)},  // embedded NUL converted too
    };
    for (const auto& [wide, narrow] : cases) {
        EXPECT_EQ(WStringToString(wide), narrow);
        EXPECT_EQ(ToNarrowString(wide), narrow);
        EXPECT_EQ(StringToWString(narrow), wide);
    }
    std::vector<std::wstring> wides = {L"a", L"\u00E9", L"c"};
    std::vector<std::string> narrows = WStringVectorToStringVector(wides);
    EXPECT_EQ(narrows, (std::vector<std::string>{"a", "\xC3\xA9", "c"}));
    EXPECT_EQ(StringVectorToWStringVector(narrows), wides);
}

TEST(StringConv, CodePagesReplaceWhatTheyCannotHold) {
    EXPECT_EQ(ToCodePage(L"\u041F\u0440\u0438", 1251), "\xCF\xF0\xE8");
    EXPECT_EQ(FromCodePage("\xCF\xF0\xE8", 1251), L"\u041F\u0440\u0438");
    EXPECT_EQ(ToCodePage(L"a\u6F22b", 1252), "a?b");  // not restored on the way back
    EXPECT_EQ(FromCodePage("a?b", 1252), L"a?b");
    EXPECT_EQ(ToCodePage(L"x", 12345678), "");        // unknown code page: empty
    EXPECT_EQ(FromCodePage("\xFF", CP_UTF8_CODEPAGE), std::wstring{0xFFFD});
}

TEST(StringConv, ArchiveTextGoesThroughTheLegacyCodePage) {
    ::setenv("GAVEX_LEGACY_CODEPAGE", "CP1251", 1);
    EXPECT_EQ(ArchiveTextToString("\xCA\xE0\xEC\xE5\xF0\xE0 2"), "\xD0\x9A\xD0\xB0\xD0\xBC\xD0\xB5\xD1\x80\xD0\xB0 2");
    EXPECT_EQ(StringToArchiveText("\xD0\x9A\xD0\xB0\xD0\xBC\xD0\xB5\xD1\x80\xD0\xB0 2"), "\xCA\xE0\xEC\xE5\xF0\xE0 2");
    ::unsetenv("GAVEX_LEGACY_CODEPAGE");
    EXPECT_EQ(ArchiveTextToString("plain \xC3\xA9"), "plain \xC3\xA9");
}

TEST(StringConv, QStringKeepsUnitsUpToTheFirstNul) {
    const QChar units[] = {QChar('a'), QChar('b'), QChar(0), QChar('c'), QChar('d')};
    EXPECT_EQ(QStringToWString(QString(units, 5)), L"ab");
    EXPECT_EQ(QStringToWString(QString::fromUtf8("\xF0\x9F\x93\xB7 \xC3\xA9")), (std::wstring{wchar_t(0x1F4F7), L' ', 0xE9}));
    EXPECT_EQ(WStringToQString(std::wstring{wchar_t(0x1F4F7), L'x'}), QString::fromUtf8("\xF0\x9F\x93\xB7x"));
    EXPECT_EQ(WStringToQString(std::wstring{wchar_t(0x1F4F7)}).size(), 2);  // a surrogate pair
    EXPECT_TRUE(QStringToWString(QString()).empty());
}

TEST(StringConv, WStringToIntFollowsStoi) {
    EXPECT_EQ(WStringToInt(L" 42abc"), 42);
    EXPECT_EQ(WStringToInt(L"-7"), -7);
    EXPECT_THROW(WStringToInt(L"abc"), std::invalid_argument);
    EXPECT_THROW(WStringToInt(L""), std::invalid_argument);
    EXPECT_THROW(WStringToInt(L"99999999999"), std::out_of_range);
    // A character without a single-byte form narrows to 0xFF, not a digit.
    EXPECT_EQ(NarrowPerCharacter(L"1\u4E002"), "1\xFF" "2");
    EXPECT_EQ(WStringToInt(L"1\u4E002"), 1);
}

}  // namespace
