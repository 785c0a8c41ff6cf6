// Text encodings.
//
// Narrow text in this program is UTF-8; wchar_t is 32 bits, so std::wstring
// holds code points. Stored formats that carry UTF-16 keep it on disk as
// std::u16string. Texts that archives carry in a Windows code page ("ANSI")
// are converted through the legacy code page: the environment variable
// GAVEX_LEGACY_CODEPAGE names it (an iconv name such as "CP1251", or a bare
// Windows code-page number such as "1251"); unset or empty means UTF-8.
//
// Every function is stateless and safe to call from any thread. Invalid input is never an error: an invalid
// UTF-8 or UTF-16 sequence decodes to U+FFFD, and a character that the target
// cannot represent becomes '?' (the code page's default character).
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);
std::wstring Utf8ToWide(std::string_view s);
std::string WideToUtf8(std::wstring_view s);
std::wstring Utf16ToWide(std::u16string_view s);
std::u16string WideToUtf16(std::wstring_view s);

// The iconv name of the legacy code page ("UTF-8" when none is configured).
std::string LegacyCodePageName();
// The iconv name of a Windows code-page number (0 is the legacy code page,
// 65001 UTF-8, 1200 UTF-16LE, other numbers "CP<n>").
std::string CodePageCharset(unsigned codePage);

// Conversions between wide text and a named charset. Empty on an unknown
// charset.
std::string WideToCharset(std::wstring_view s, const std::string& charset);
std::wstring CharsetToWide(std::string_view s, const std::string& charset);

// Legacy code page <-> UTF-8.
std::string LegacyToUtf8(std::string_view s);
std::string Utf8ToLegacy(std::string_view s);

}  // namespace platform
