#include "settingslib/Cultures.h"

#include <sys/stat.h>

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>

namespace cantorel {

const CultureEntry* FindCultureByName(const char* name) {
    if (!name) return nullptr;
    int count = 0;
    const CultureEntry* table = GetCultureTable(&count);
    for (int i = 0; i < count; ++i)
        if (EqualsNoCase(std::string_view(table[i].name), std::string_view(name))) return &table[i];
    return nullptr;
}

namespace {

const CultureEntry* FindCultureByLcid(int32_t lcid) {
    int count = 0;
    const CultureEntry* table = GetCultureTable(&count);
    for (int i = 0; i < count; ++i)
        if (table[i].lcid == lcid) return &table[i];
    return nullptr;
}

// A row named language-<anything>-region, in table order.
const CultureEntry* FindScriptedCulture(const std::string& language, const std::string& region) {
    int count = 0;
    const CultureEntry* table = GetCultureTable(&count);
    const std::string prefix = language + "-";
    const std::string suffix = "-" + region;
    for (int i = 0; i < count; ++i) {
        const std::string_view name = table[i].name;
        if (name.size() > prefix.size() + suffix.size() &&
            EqualsNoCase(name.substr(0, prefix.size()), prefix) &&
            EqualsNoCase(name.substr(name.size() - suffix.size()), suffix) &&
            name.substr(prefix.size(), name.size() - prefix.size() - suffix.size()).find('-') ==
                std::string_view::npos)
            return &table[i];
    }
    return nullptr;
}

}  // namespace

uint16_t LanguageIdFromLocaleName(const char* locale) {
    if (!locale || !*locale) return 0;
    const std::string text(locale);
    const size_t langEnd = text.find_first_of("_.@");
    std::string language = text.substr(0, langEnd);
    std::string region;
    std::string modifier;
    if (langEnd != std::string::npos && text[langEnd] == '_') {
        const size_t regionEnd = text.find_first_of(".@", langEnd + 1);
        region = text.substr(langEnd + 1, regionEnd == std::string::npos ? std::string::npos
                                                                         : regionEnd - langEnd - 1);
    }
    const size_t at = text.find('@');
    if (at != std::string::npos) modifier = text.substr(at + 1);
    if (language.empty() || language == "C" || language == "POSIX") return 0;
    for (char& c : language) c = FoldAscii(c);
    for (char& c : region)
        if (c >= 'a' && c <= 'z') c = char(c - 32);

    std::string script;
    if (modifier == "latin") script = "Latn";
    else if (modifier == "cyrillic") script = "Cyrl";
    else if (modifier == "devanagari") script = "Deva";
    else if (language == "sr") script = "Cyrl";  // glibc's sr_RS and sr_ME are Cyrillic

    const CultureEntry* row = nullptr;
    if (!region.empty()) {
        if (!modifier.empty() && script.empty())
            row = FindCultureByName((language + "-" + region + "-" + modifier).c_str());
        if (!row && !script.empty())
            row = FindCultureByName((language + "-" + script + "-" + region).c_str());
        if (!row) row = FindCultureByName((language + "-" + region).c_str());
        if (!row) row = FindScriptedCulture(language, region);
    }
    if (!row) row = FindCultureByName(language.c_str());
    if (!row || row->name[0] == '\0') return 0;
    return static_cast<uint16_t>(row->lcid);
}

uint16_t GetUserUiLanguage() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return LanguageIdFromLocaleName(value);
    }
    return 0;
}

uint32_t ResolveCurrentCulture(char* name, int size, const SettingsDocument& document) {
    if (const WString* stored = document.GetValue(u"Culture")) {
        const std::string text = Utf16ToUtf8(*stored);
        // A name that does not fit with its terminator is refused rather than
        // cut or left unterminated.
        if (size <= 0 || text.size() + 1 > static_cast<size_t>(size)) {
            if (size > 0) name[0] = '\0';
            return kResultUnknownCulture;
        }
        std::memcpy(name, text.c_str(), text.size() + 1);
        return FindCultureByName(name) ? kResultOk : kResultUnknownCulture;
    }
    const uint16_t language = GetUserUiLanguage();
    const CultureEntry* row = language ? FindCultureByLcid(language) : nullptr;
    if (row && size >= 2) {
        // Limit of size - 1 bytes including the terminator.
        const size_t room = static_cast<size_t>(size) - 2;
        const size_t length = std::min(std::strlen(row->name), room);
        std::memcpy(name, row->name, length);
        name[length] = '\0';
    }
    return kResultOk;
}

WString ComposeCultureDirectory(WStringView configDir, const char* culture) {
    WString path(configDir);
    path.push_back(u'/');
    path += kCultureFolderName;
    path.push_back(u'/');
    path += Utf8ToUtf16(culture ? culture : "");
    return path;
}

bool IsCultureInstalled(WStringView configDir, const CultureEntry& entry) {
    const WString path = ComposeCultureDirectory(configDir, entry.name);
    if (path.size() + 1 > kMaxPath) return false;
    struct stat info {};
    return ::stat(Utf16ToUtf8(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace cantorel
