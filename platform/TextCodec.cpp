#include "platform/TextCodec.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at s[i]; advances i. Invalid, overlong or
// surrogate sequences give U+FFFD and consume one byte.
char32_t DecodeUtf8(std::string_view s, std::size_t& i) {
    auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int len;
    char32_t cp;
    if ((b0 & 0xE0) == 0xC0) { len = 2; cp = b0 & 0x1F; }
    else if ((b0 & 0xF0) == 0xE0) { len = 3; cp = b0 & 0x0F; }
    else if ((b0 & 0xF8) == 0xF0) { len = 4; cp = b0 & 0x07; }
    else { ++i; return kReplacement; }
    if (i + len > s.size()) { ++i; return kReplacement; }
    for (int k = 1; k < len; ++k) {
        auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) { ++i; return kReplacement; }
        cp = (cp << 6) | (b & 0x3F);
    }
    static const char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) { ++i; return kReplacement; }
    i += len;
    return cp;
}

void EncodeUtf8(char32_t cp, std::string& out) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char32_t DecodeUtf16(std::u16string_view s, std::size_t& i) {
    char16_t u = s[i++];
    if (u < 0xD800 || u > 0xDFFF) return u;
    if (u <= 0xDBFF && i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
        char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (s[i] - 0xDC00);
        ++i;
        return cp;
    }
    return kReplacement;
}

void EncodeUtf16(char32_t cp, std::u16string& out) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

bool IsUtf8Name(const std::string& name) {
    std::string n;
    for (char c : name)
        if (c != '-' && c != '_') n += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return n == "UTF8" || n == "CP65001";
}

// Converts between a charset and UTF-32 (host order) with iconv. Characters
// that cannot be encoded become '?', undecodable bytes U+FFFD.
std::string EncodeWith(std::wstring_view s, const std::string& charset, bool* ok) {
    *ok = false;
    iconv_t cd = iconv_open(charset.c_str(), "UTF-32LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string out;
    char buf[64];
    for (wchar_t wc : s) {
        char32_t cp = static_cast<char32_t>(wc);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
        unsigned char in[4] = {static_cast<unsigned char>(cp), static_cast<unsigned char>(cp >> 8),
                               static_cast<unsigned char>(cp >> 16), static_cast<unsigned char>(cp >> 24)};
        char* inp = reinterpret_cast<char*>(in);
        std::size_t inLeft = 4;
        char* outp = buf;
        std::size_t outLeft = sizeof(buf);
        if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<std::size_t>(-1)) {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            out += '?';
            continue;
        }
        out.append(buf, static_cast<std::size_t>(outp - buf));
    }
    char* outp = buf;
    std::size_t outLeft = sizeof(buf);
    iconv(cd, nullptr, nullptr, &outp, &outLeft);
    out.append(buf, static_cast<std::size_t>(outp - buf));
    iconv_close(cd);
    *ok = true;
    return out;
}

std::wstring DecodeWith(std::string_view s, const std::string& charset, bool* ok) {
    *ok = false;
    iconv_t cd = iconv_open("UTF-32LE", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::wstring out;
    std::string tmp(s.size() * 4 + 16, '\0');
    char* inp = const_cast<char*>(s.data());
    std::size_t inLeft = s.size();
    while (inLeft > 0) {
        char* outp = tmp.data();
        std::size_t outLeft = tmp.size();
        std::size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
        std::size_t produced = static_cast<std::size_t>(outp - tmp.data()) / 4;
        for (std::size_t k = 0; k < produced; ++k) {
            auto* p = reinterpret_cast<const unsigned char*>(tmp.data() + 4 * k);
            out += static_cast<wchar_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<char32_t>(p[3]) << 24));
        }
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL (truncated sequence): skip one byte.
            out += static_cast<wchar_t>(kReplacement);
            ++inp;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    *ok = true;
    return out;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) EncodeUtf16(DecodeUtf8(s, i), out);
    return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) EncodeUtf8(DecodeUtf16(s, i), out);
    return out;
}

std::wstring Utf8ToWide(std::string_view s) {
    std::wstring out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) out += static_cast<wchar_t>(DecodeUtf8(s, i));
    return out;
}

std::string WideToUtf8(std::wstring_view s) {
    std::string out;
    out.reserve(s.size());
    for (wchar_t c : s) EncodeUtf8(static_cast<char32_t>(c), out);
    return out;
}

std::wstring Utf16ToWide(std::u16string_view s) {
    std::wstring out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) out += static_cast<wchar_t>(DecodeUtf16(s, i));
    return out;
}

std::u16string WideToUtf16(std::wstring_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (wchar_t c : s) EncodeUtf16(static_cast<char32_t>(c), out);
    return out;
}

std::string LegacyCodePageName() {
    const char* v = std::getenv("GAVEX_LEGACY_CODEPAGE");
    if (!v || !*v) return "UTF-8";
    std::string name = v;
    bool digits = name.find_first_not_of("0123456789") == std::string::npos;
    if (digits) return CodePageCharset(static_cast<unsigned>(std::strtoul(name.c_str(), nullptr, 10)));
    return name;
}

std::string CodePageCharset(unsigned codePage) {
    switch (codePage) {
    case 0: return LegacyCodePageName();
    case 65001: return "UTF-8";
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 20127: return "ASCII";
    case 28591: return "ISO-8859-1";
    default: return "CP" + std::to_string(codePage);
    }
}

std::string WideToCharset(std::wstring_view s, const std::string& charset) {
    if (IsUtf8Name(charset)) return WideToUtf8(s);
    bool ok;
    return EncodeWith(s, charset, &ok);
}

std::wstring CharsetToWide(std::string_view s, const std::string& charset) {
    if (IsUtf8Name(charset)) return Utf8ToWide(s);
    bool ok;
    return DecodeWith(s, charset, &ok);
}

std::string LegacyToUtf8(std::string_view s) {
    std::string cs = LegacyCodePageName();
    if (IsUtf8Name(cs)) return WideToUtf8(Utf8ToWide(s));  // repairs invalid bytes
    return WideToUtf8(CharsetToWide(s, cs));
}

std::string Utf8ToLegacy(std::string_view s) {
    std::string cs = LegacyCodePageName();
    if (IsUtf8Name(cs)) return WideToUtf8(Utf8ToWide(s));
    return WideToCharset(Utf8ToWide(s), cs);
}

}  // namespace platform
