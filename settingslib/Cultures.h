#pragma once
// The table of user-interface cultures, the current culture and the folder
// that holds a culture's resources.
#include <cstdint>

#include "settingslib/SettingsDocument.h"

namespace cantorel {

struct CultureEntry {
    int32_t lcid;
    const char* name;              // ASCII, at most 14 characters; one row is empty
    const char16_t* nativeName;    // the culture's name in its own language
};

inline constexpr int kCultureCount = 329;
inline constexpr char16_t kCultureFolderName[] = u"Languages64";

// The first of kCultureCount rows, in their fixed order.
const CultureEntry* GetCultureTable(int* count);
// The first row whose name equals `name` (ASCII case ignored), or null.
const CultureEntry* FindCultureByName(const char* name);

// Maps a POSIX locale name ("ru_RU.UTF-8", "sr_RS@latin", "de") to the
// language identifier of the matching table row; 0 when none matches or the
// locale is "C"/"POSIX".
uint16_t LanguageIdFromLocaleName(const char* locale);
// The user's interface language: the first non-empty of LC_ALL, LC_MESSAGES
// and LANG, mapped as above.
uint16_t GetUserUiLanguage();

// Writes the current culture into `name` (`size` bytes): the document's
// "Culture" entry as stored (0, or 517 when it is not in the table or does
// not fit with its terminator), else the name of the row matching the user's
// interface language, cut to size - 2 characters (0 even when no row
// matches; the buffer is then left as it was).
uint32_t ResolveCurrentCulture(char* name, int size, const SettingsDocument& document);

// configDir + "/Languages64/" + culture.
WString ComposeCultureDirectory(WStringView configDir, const char* culture);
// True when the culture's folder exists as a directory under configDir.
bool IsCultureInstalled(WStringView configDir, const CultureEntry& entry);

}  // namespace cantorel
