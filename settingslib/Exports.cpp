// The ten exported functions. Each call except the settings-object requests
// builds its own settings document and discards it before returning.
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "settingslib/Cantorel.h"
#include "settingslib/Cantorel64.h"
#include "settingslib/Cultures.h"
#include "settingslib/SettingsDocument.h"

using namespace cantorel;

namespace {

// Narrow start directories are UTF-8; null stays null (the current directory).
std::optional<WString> WidenStartDir(const char* startDir) {
    if (!startDir) return std::nullopt;
    return Utf8ToUtf16(startDir);
}

const char16_t* OrNull(const std::optional<WString>& text) {
    return text ? text->c_str() : nullptr;
}

// No exception may cross the C interface. The library's own code raises none;
// what the standard library can raise here is an allocation failure.
template <typename F>
uint32_t Guarded(F&& body) {
    try {
        return body();
    } catch (...) {
        return kResultNoMemory;
    }
}

}  // namespace

extern "C" {

uint32_t GetSettingsInstanceW(ICantorel** out, const char16_t* startDir) {
    return Guarded([&] { return CCantorelObjectFactory::Instance().Acquire(out, startDir); });
}

uint32_t GetSettingsInstanceA(ICantorel** out, const char* startDir) {
    return Guarded([&] {
        const std::optional<WString> wide = WidenStartDir(startDir);
        return GetSettingsInstanceW(out, OrNull(wide));
    });
}

uint32_t EnumCulturesW(CultureEnumCallback callback, void* userData, int32_t onlyInstalled,
                       const char16_t* startDir) {
    if (!callback) return kResultBadArgument;
    return Guarded([&] {
        WString configDir;
        if (onlyInstalled && !FindConfigDirectory(startDir, configDir)) return kResultNoConfig;
        int count = 0;
        const CultureEntry* table = GetCultureTable(&count);
        for (int i = 0; i < count; ++i) {
            if (onlyInstalled && !IsCultureInstalled(configDir, table[i])) continue;
            if (callback(userData, table[i].lcid, table[i].name, table[i].nativeName) == 0) break;
        }
        return kResultOk;
    });
}

uint32_t EnumCulturesA(CultureEnumCallback callback, void* userData, int32_t onlyInstalled,
                       const char* startDir) {
    return Guarded([&] {
        const std::optional<WString> wide = WidenStartDir(startDir);
        return EnumCulturesW(callback, userData, onlyInstalled, OrNull(wide));
    });
}

uint32_t GetCurrentCultureW(char* name, int size, const char16_t* startDir) {
    if (!name || size <= 0) return kResultBadArgument;
    return Guarded([&] {
        SettingsDocument document(startDir);
        // A file that does not load is passed over: the culture then comes
        // from the user's interface language.
        if (document.Load() == kResultNoConfig) return kResultNoConfig;
        return ResolveCurrentCulture(name, size, document);
    });
}

uint32_t GetCurrentCultureA(char* name, int size, const char* startDir) {
    return Guarded([&] {
        const std::optional<WString> wide = WidenStartDir(startDir);
        return GetCurrentCultureW(name, size, OrNull(wide));
    });
}

uint32_t SetCurrentCultureW(const char* name, const char16_t* startDir) {
    if (!name || !*name) return kResultBadArgument;
    if (!FindCultureByName(name)) return kResultUnknownCulture;
    return Guarded([&] {
        SettingsDocument document(startDir);
        const uint32_t loaded = document.Load();
        if (loaded != kResultOk) return loaded;
        // The name is stored as the caller wrote it, not in the table's form.
        document.SetValue(u"Culture", Utf8ToUtf16(name).c_str());
        return document.Save();
    });
}

uint32_t SetCurrentCultureA(const char* name, const char* startDir) {
    return Guarded([&] {
        const std::optional<WString> wide = WidenStartDir(startDir);
        return SetCurrentCultureW(name, OrNull(wide));
    });
}

uint32_t GetCultureDirectoryW(char16_t* buffer, int size, const char16_t* startDir) {
    if (!buffer || size <= 0) return kResultBadArgument;
    return Guarded([&] {
        SettingsDocument document(startDir);
        const uint32_t loaded = document.Load();
        if (loaded != kResultOk) return loaded;
        char name[256] = {};
        const uint32_t resolved = ResolveCurrentCulture(name, sizeof name, document);
        if (resolved != kResultOk) return resolved;
        // Folder names are case-sensitive here: use the table's spelling of
        // the culture, whatever case the settings file stores.
        const CultureEntry* row = FindCultureByName(name);
        const WString directory =
            ComposeCultureDirectory(*document.ConfigDirectory(), row ? row->name : name);
        if (directory.size() + 1 > static_cast<size_t>(size)) return kResultBadArgument;
        CopyWide(directory, buffer, size);
        return kResultOk;
    });
}

uint32_t GetCultureDirectoryA(char* buffer, int size, const char* startDir) {
    if (!buffer || size <= 0) return kResultBadArgument;
    return Guarded([&] {
        std::optional<WString> wide;
        if (startDir) {
            wide = Utf8ToUtf16(startDir);
            if (wide->empty()) return kResultUnknownCulture;
        }
        std::unique_ptr<char16_t[]> temporary(new char16_t[static_cast<size_t>(size)]);
        const uint32_t result = GetCultureDirectoryW(temporary.get(), size, OrNull(wide));
        if (result != kResultOk) return result;
        const std::string narrow = Utf16ToUtf8(temporary.get());
        if (narrow.size() + 1 > static_cast<size_t>(size)) return kResultBadArgument;
        std::memcpy(buffer, narrow.c_str(), narrow.size() + 1);
        return kResultOk;
    });
}

}  // extern "C"
