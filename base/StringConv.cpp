#include "base/StringConv.h"

#include <QString>

#include <cwchar>
#include <stdexcept>

#include "platform/TextCodec.h"

std::string ToCodePage(const std::wstring& s, unsigned codePage) {
    if (s.empty()) return {};
    if (codePage == CP_ACP_CODEPAGE || codePage == CP_UTF8_CODEPAGE) return platform::WideToUtf8(s);
    return platform::WideToCharset(s, platform::CodePageCharset(codePage));
}

std::wstring FromCodePage(const std::string& s, unsigned codePage) {
    if (s.empty()) return {};
    if (codePage == CP_ACP_CODEPAGE || codePage == CP_UTF8_CODEPAGE) return platform::Utf8ToWide(s);
    return platform::CharsetToWide(s, platform::CodePageCharset(codePage));
}

std::string WStringToString(const std::wstring& s) { return ToCodePage(s, CP_ACP_CODEPAGE); }

std::string ToNarrowString(const std::wstring& s) { return WStringToString(s); }

std::wstring StringToWString(const std::string& s) { return FromCodePage(s, CP_ACP_CODEPAGE); }

std::wstring QStringToWString(const QString& s) {
    const QChar* units = s.constData();
    int n = 0;
    while (n < s.size() && units[n].unicode() != 0) ++n;
    return platform::Utf16ToWide(std::u16string_view(reinterpret_cast<const char16_t*>(units), static_cast<std::size_t>(n)));
}

QString WStringToQString(const std::wstring& s) {
    std::u16string u = platform::WideToUtf16(s);
    return QString(reinterpret_cast<const QChar*>(u.data()), static_cast<int>(u.size()));
}

std::vector<std::string> WStringVectorToStringVector(const std::vector<std::wstring>& v) {
    std::vector<std::string> out;
    out.reserve(v.size());
    for (const auto& s : v) out.push_back(ToNarrowString(s));
    return out;
}

std::vector<std::wstring> StringVectorToWStringVector(const std::vector<std::string>& v) {
    std::vector<std::wstring> out;
    out.reserve(v.size());
    for (const auto& s : v) out.push_back(StringToWString(s));
    return out;
}

std::string NarrowPerCharacter(const std::wstring& s) {
    std::string out;
    out.reserve(s.size());
    for (wchar_t c : s) {
        int b = std::wctob(static_cast<wint_t>(c));
        out += static_cast<char>(b == EOF ? 0xFF : b);
    }
    return out;
}

int WStringToInt(const std::wstring& s) { return std::stoi(NarrowPerCharacter(s), nullptr, 10); }

std::string ArchiveTextToString(const std::string& legacy) { return platform::LegacyToUtf8(legacy); }

std::string StringToArchiveText(const std::string& utf8) { return platform::Utf8ToLegacy(utf8); }

std::vector<std::string> SplitBlankSeparated(const std::string& text)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') ++i;
        if (i >= text.size()) break;
        size_t j = text.find(' ', i);
        if (j == std::string::npos) j = text.size();
        words.push_back(text.substr(i, j - i));
        i = j;
    }
    return words;
}
