// The culture table, the user's interface language and the current culture.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "settingslib/Cultures.h"
#include "SettingsTestUtil.h"

using namespace cantorel;
using namespace cantorel_test;

TEST(CultureTable, HasTheFixedShape) {
    int count = 0;
    const CultureEntry* t = GetCultureTable(&count);
    ASSERT_EQ(329, count);
    // 66 neutral cultures with ascending LCIDs 1..101, then the invariant row.
    for (int i = 1; i < 66; ++i) EXPECT_LT(t[i - 1].lcid, t[i].lcid) << t[i].name;
    EXPECT_EQ(1, t[0].lcid);
    EXPECT_EQ(101, t[65].lcid);
    EXPECT_STREQ("", t[66].name);
    EXPECT_EQ(127, t[66].lcid);
    // 134 specific cultures in ascending LCID order, then zh-CHT and sr.
    EXPECT_STREQ("ar-SA", t[67].name);
    for (int i = 68; i < 67 + 134; ++i) EXPECT_LT(t[i - 1].lcid, t[i].lcid) << t[i].name;
    EXPECT_STREQ("es-PR", t[200].name);
    EXPECT_STREQ("zh-CHT", t[201].name);
    EXPECT_STREQ("sr", t[202].name);
    EXPECT_STREQ("sr-Cyrl-BA", t[203].name);
    EXPECT_STREQ("ff-Latn-SN", t[328].name);

    std::set<std::string> names;
    std::set<int32_t> lcids;
    for (int i = 0; i < count; ++i) {
        std::string folded;
        for (const char* p = t[i].name; *p; ++p) {
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(*p)) || *p == '-') << t[i].name;
            folded += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
        }
        EXPECT_LE(std::strlen(t[i].name), 14u);
        EXPECT_TRUE(names.insert(folded).second) << "duplicate " << t[i].name;
        EXPECT_TRUE(lcids.insert(t[i].lcid).second) << "duplicate " << t[i].lcid;
        EXPECT_TRUE(t[i].nativeName && *t[i].nativeName) << t[i].name;
    }
}

TEST(CultureTable, KnownRowsAndNativeNames) {
    const struct {
        const char* name;
        int32_t lcid;
        const char* native;
    } rows[] = {
        {"ar", 1, "العربية"},
        {"zh-CHS", 4, "中文(简体)"},
        {"en", 9, "English"},
        {"ru", 25, "русский"},
        {"", 127, "Invariant Language (Invariant Country)"},
        {"en-US", 1033, "English (United States)"},
        {"ru-RU", 1049, "русский (Россия)"},
        {"zh-HK", 3076, "中文(香港特别行政區)"},
        {"zh-CHT", 31748, "中文(繁體)"},
        {"sr", 31770, "srpski"},
        {"ca-ES-valencia", 2051, "valencià (Espanya)"},
        {"ff-Latn-SN", 2151, "Pulaar (Senegaal)"},
    };
    for (const auto& r : rows) {
        const CultureEntry* e = FindCultureByName(r.name);
        ASSERT_NE(nullptr, e) << r.name;
        EXPECT_STREQ(r.name, e->name);
        EXPECT_EQ(r.lcid, e->lcid) << r.name;
        EXPECT_EQ(r.native, U8(e->nativeName)) << r.name;
    }
    EXPECT_STREQ("ru-RU", FindCultureByName("RU-ru")->name);
    EXPECT_STREQ("ca-ES-valencia", FindCultureByName("CA-es-VALENCIA")->name);
    EXPECT_EQ(nullptr, FindCultureByName("ru_RU"));
    EXPECT_EQ(nullptr, FindCultureByName("xx"));
    EXPECT_EQ(nullptr, FindCultureByName(nullptr));
}

TEST(UserUiLanguage, LocaleNamesMapToTableRows) {
    const std::pair<const char*, int> cases[] = {
        {"ru_RU.UTF-8", 1049},
        {"en_US", 1033},
        {"pt_BR.ISO-8859-1", 1046},
        {"zh_HK.UTF-8", 3076},
        {"de", 7},
        {"en_DK.UTF-8", 9},        // no such specific row: the neutral language
        {"sr_RS", 10266},          // glibc's Serbian is Cyrillic
        {"sr_RS@latin", 9242},
        {"uz_UZ@cyrillic", 2115},
        {"uz_UZ.UTF-8", 1091},     // the first scripted row in table order
        {"az_AZ", 1068},
        {"ca_ES.UTF-8@valencia", 2051},
        {"C", 0},
        {"C.UTF-8", 0},
        {"POSIX", 0},
        {"", 0},
        {"zz_ZZ", 0},
    };
    for (const auto& [locale, id] : cases) EXPECT_EQ(id, LanguageIdFromLocaleName(locale)) << locale;
}

TEST(UserUiLanguage, FirstNonEmptyOfLcAllLcMessagesLang) {
    {
        ScopedEnv all("LC_ALL", "de_DE.UTF-8"), messages("LC_MESSAGES", "fr_FR"), lang("LANG", "ru_RU");
        EXPECT_EQ(1031, GetUserUiLanguage());
    }
    {
        ScopedEnv all("LC_ALL", ""), messages("LC_MESSAGES", "fr_FR"), lang("LANG", "ru_RU");
        EXPECT_EQ(1036, GetUserUiLanguage());
    }
    {
        ScopedEnv all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr), lang("LANG", "ru_RU");
        EXPECT_EQ(1049, GetUserUiLanguage());
    }
    {
        ScopedEnv all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr), lang("LANG", nullptr);
        EXPECT_EQ(0, GetUserUiLanguage());
    }
}

namespace {

struct ResolveCase {
    const char* label;
    const char16_t* stored;  // null: no Culture entry
    const char* lang;
    int size;
    uint32_t code;
    const char* name;  // buffer afterwards; the buffer starts as "untouched"
};

const ResolveCase kResolveCases[] = {
    {"stored name kept as written", u"RU-ru", "en_US", 256, 0, "RU-ru"},
    {"stored name not in the table", u"xx-YY", "en_US", 256, 517, "xx-YY"},
    {"stored empty name is the invariant culture", u"", "en_US", 256, 0, ""},
    {"stored name exactly fills the buffer", u"en-US", "C", 6, 0, "en-US"},
    {"stored name longer than the buffer", u"en-US", "C", 5, 517, ""},
    {"interface language", nullptr, "ru_RU.UTF-8", 256, 0, "ru-RU"},
    {"interface language en_US", nullptr, "en_US.UTF-8", 256, 0, "en-US"},
    {"interface language cut to size - 2", nullptr, "en_US.UTF-8", 4, 0, "en"},
    {"interface language in a two-byte buffer", nullptr, "en_US.UTF-8", 2, 0, ""},
    {"interface language in a one-byte buffer", nullptr, "en_US.UTF-8", 1, 0, "untouched"},
    {"no matching interface language", nullptr, "C", 256, 0, "untouched"},
};

}  // namespace

TEST(ResolveCurrentCulture, FromTheSettingsThenTheInterfaceLanguage) {
    for (const ResolveCase& c : kResolveCases) {
        ScopedLanguage language(c.lang);
        SettingsDocument doc(u"/nonexistent");
        doc.SetValue(u"Other", u"x");
        if (c.stored) doc.SetValue(u"Culture", c.stored);
        char buffer[256];
        std::memset(buffer, 0x7F, sizeof buffer);
        std::strcpy(buffer, "untouched");
        EXPECT_EQ(c.code, ResolveCurrentCulture(buffer, c.size, doc)) << c.label;
        EXPECT_STREQ(c.name, buffer) << c.label;
    }
}

TEST(CultureDirectory, ComposedUnderLanguages64AndTestedAsAFolder) {
    TempDir dir;
    dir.Dir("Languages64/de-DE");
    WriteFileString(dir.path() / "Languages64" / "ru-RU", "a file, not a folder");
    const std::u16string config = U16(dir.str());
    EXPECT_EQ(dir.str() + "/Languages64/de-DE", U8(ComposeCultureDirectory(config, "de-DE")));
    EXPECT_EQ(dir.str() + "/Languages64/", U8(ComposeCultureDirectory(config, "")));
    EXPECT_TRUE(IsCultureInstalled(config, *FindCultureByName("de-DE")));
    EXPECT_FALSE(IsCultureInstalled(config, *FindCultureByName("ru-RU")));
    EXPECT_FALSE(IsCultureInstalled(config, *FindCultureByName("fr-FR")));
    EXPECT_TRUE(IsCultureInstalled(config, *FindCultureByName("")));
    EXPECT_FALSE(IsCultureInstalled(U16(dir.str() + "/elsewhere"), *FindCultureByName("")));
}
