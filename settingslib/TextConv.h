#pragma once
// Text conversions and comparisons shared by the settings library.
//
// Wide text is UTF-16 throughout; narrow text is UTF-8. Comparisons that the
// library calls "case ignored" fold ASCII letters only, as the C locale's
// case-insensitive comparison does, so results never depend on the locale.
#include <string>
#include <string_view>

namespace cantorel {

using WString = std::u16string;
using WStringView = std::u16string_view;

// Invalid sequences become U+FFFD; supplementary characters become pairs.
WString Utf8ToUtf16(std::string_view bytes);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(WStringView text);
bool IsValidUtf8(std::string_view bytes);
// Windows-1252, the narrow code page assumed for files with no UTF-8 prefix
// that are not valid UTF-8.
WString Cp1252ToUtf16(std::string_view bytes);

inline char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }
inline char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

bool EqualsNoCase(WStringView a, WStringView b);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(WStringView text, WStringView prefix);

// Length of a zero-terminated UTF-16 text; 0 for null.
size_t WLength(const char16_t* text);

}  // namespace cantorel
