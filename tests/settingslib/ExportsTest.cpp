// The ten exports of libCantorel64.so, reached the way clients reach them:
// through dlopen and dlsym of the built library.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include "settingslib/Cantorel64.h"
#include "SettingsTestUtil.h"

using namespace cantorel_test;

namespace {

const char* const kExportNames[] = {
    "GetSettingsInstanceA", "GetSettingsInstanceW", "EnumCulturesA",      "EnumCulturesW",
    "GetCultureDirectoryA", "GetCultureDirectoryW", "GetCurrentCultureA", "GetCurrentCultureW",
    "SetCurrentCultureA",   "SetCurrentCultureW",
};

struct Api {
    decltype(&GetSettingsInstanceW) getSettingsW;
    decltype(&GetSettingsInstanceA) getSettingsA;
    decltype(&EnumCulturesW) enumW;
    decltype(&EnumCulturesA) enumA;
    decltype(&GetCultureDirectoryW) dirW;
    decltype(&GetCultureDirectoryA) dirA;
    decltype(&GetCurrentCultureW) getCultureW;
    decltype(&GetCurrentCultureA) getCultureA;
    decltype(&SetCurrentCultureW) setCultureW;
    decltype(&SetCurrentCultureA) setCultureA;
};

class Exports : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        library_ = ::dlopen(CANTOREL_LIB, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(nullptr, library_) << ::dlerror();
        auto bind = [](const char* name) { return ::dlsym(library_, name); };
        api_.getSettingsW = reinterpret_cast<decltype(api_.getSettingsW)>(bind("GetSettingsInstanceW"));
        api_.getSettingsA = reinterpret_cast<decltype(api_.getSettingsA)>(bind("GetSettingsInstanceA"));
        api_.enumW = reinterpret_cast<decltype(api_.enumW)>(bind("EnumCulturesW"));
        api_.enumA = reinterpret_cast<decltype(api_.enumA)>(bind("EnumCulturesA"));
        api_.dirW = reinterpret_cast<decltype(api_.dirW)>(bind("GetCultureDirectoryW"));
        api_.dirA = reinterpret_cast<decltype(api_.dirA)>(bind("GetCultureDirectoryA"));
        api_.getCultureW = reinterpret_cast<decltype(api_.getCultureW)>(bind("GetCurrentCultureW"));
        api_.getCultureA = reinterpret_cast<decltype(api_.getCultureA)>(bind("GetCurrentCultureA"));
        api_.setCultureW = reinterpret_cast<decltype(api_.setCultureW)>(bind("SetCurrentCultureW"));
        api_.setCultureA = reinterpret_cast<decltype(api_.setCultureA)>(bind("SetCurrentCultureA"));
    }
    static void TearDownTestSuite() {
        if (library_) ::dlclose(library_);
        library_ = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(nullptr, library_);
        ASSERT_NE(nullptr, api_.setCultureA);
    }

    static void* library_;
    static Api api_;
};

void* Exports::library_ = nullptr;
Api Exports::api_{};

std::u16string W(const fs::path& p) { return U16(p.string()); }

const std::string kHeader = "<?xml version=\"1.0\" encoding=\"utf-16\"?>\n";

// product.config holding one Culture entry, or an empty section.
void WriteConfig(const fs::path& dir, const char* culture) {
    std::string text = kHeader + "<cantorel>\n";
    if (culture) text += std::string("\t<add key=\"Culture\" value=\"") + culture + "\"/>\n";
    text += "</cantorel>\n";
    WriteFileString(dir / "product.config", Utf16LeFile(text));
}

std::string DirW(const Api& api, int size, const std::u16string& start, uint32_t* code) {
    std::vector<char16_t> buffer(static_cast<size_t>(size) + 8, u'#');
    *code = api.dirW(buffer.data(), size, start.c_str());
    for (size_t i = static_cast<size_t>(size); i < buffer.size(); ++i)
        EXPECT_EQ(u'#', buffer[i]) << "written past the buffer at " << i;
    if (*code != 0) {
        for (int i = 0; i < size; ++i) EXPECT_EQ(u'#', buffer[static_cast<size_t>(i)]) << i;
        return "<untouched>";
    }
    return U8(buffer.data());
}

struct Collected {
    std::vector<std::string> names;
    std::vector<int32_t> lcids;
    int stopAfter = -1;
};

int Collect(void* user, int32_t lcid, const char* name, const char16_t* native) {
    auto* c = static_cast<Collected*>(user);
    EXPECT_NE(nullptr, native);
    c->names.emplace_back(name);
    c->lcids.push_back(lcid);
    return c->stopAfter < 0 || static_cast<int>(c->names.size()) < c->stopAfter;
}

}  // namespace

TEST_F(Exports, ExactlyTheTenFunctionsAreExported) {
    for (const char* name : kExportNames) EXPECT_NE(nullptr, ::dlsym(library_, name)) << name;
    // Internal functions stay hidden.
    EXPECT_EQ(nullptr, ::dlsym(library_, "_ZN8cantorel15GetCultureTableEPi"));
    EXPECT_EQ(nullptr, ::dlsym(library_, "_ZN8cantorel12DomErrorTextEi"));

    FILE* nm = ::popen("nm -D --defined-only '" CANTOREL_LIB "' 2>/dev/null", "r");
    ASSERT_NE(nullptr, nm);
    std::set<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, nm)) {
        char address[64], type[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3) exported.insert(name);
    }
    const int status = ::pclose(nm);
    if (exported.empty() && status != 0) GTEST_SKIP() << "nm is not available";
    EXPECT_EQ(std::set<std::string>(std::begin(kExportNames), std::end(kExportNames)), exported);
}

TEST_F(Exports, CultureDirectoryFromTheStoredCulture) {
    TempDir dir;
    const fs::path app = dir.Dir("app");
    const fs::path exe = dir.Dir("app/bin/x64");
    WriteConfig(app, "RU-ru");
    uint32_t code = 1;
    // Folder names are case-sensitive: the table's spelling is used.
    EXPECT_EQ(app.string() + "/Languages64/ru-RU", DirW(api_, 260, W(exe), &code));
    EXPECT_EQ(0u, code);
    // The stored text itself is handed back unchanged.
    char name[32] = {};
    EXPECT_EQ(0u, api_.getCultureW(name, sizeof name, W(exe).c_str()));
    EXPECT_STREQ("RU-ru", name);
}

TEST_F(Exports, CultureDirectoryFromTheInterfaceLanguage) {
    TempDir dir;
    WriteConfig(dir.path(), nullptr);
    uint32_t code = 1;
    {
        ScopedLanguage language("de_DE.UTF-8");
        EXPECT_EQ(dir.str() + "/Languages64/de-DE", DirW(api_, 260, W(dir.path()), &code));
        EXPECT_EQ(0u, code);
    }
    {
        // No matching row: the empty name, that is Languages64 itself.
        ScopedLanguage language("C");
        EXPECT_EQ(dir.str() + "/Languages64/", DirW(api_, 260, W(dir.path()), &code));
        EXPECT_EQ(0u, code);
    }
}

TEST_F(Exports, CultureDirectoryFailures) {
    ScopedLanguage language("en_US.UTF-8");
    TempDir dir;
    const fs::path good = dir.Dir("good");
    WriteConfig(good, "en-US");
    const fs::path unknown = dir.Dir("unknown");
    WriteConfig(unknown, "xx-XX");
    const fs::path tooLong = dir.Dir("toolong");
    WriteConfig(tooLong, std::string(300, 'a').c_str());
    const fs::path broken = dir.Dir("broken");
    WriteFileString(broken / "product.config", Utf16LeFile("<cantorel><add key=\"Culture\""));
    const fs::path none = dir.Dir("a/b/c/d");

    const std::string goodDir = good.string() + "/Languages64/en-US";
    const int exact = static_cast<int>(goodDir.size()) + 1;
    uint32_t code = 0;
    EXPECT_EQ(goodDir, DirW(api_, exact, W(good), &code));
    EXPECT_EQ(0u, code);
    // One character short: refused, nothing written.
    DirW(api_, exact - 1, W(good), &code);
    EXPECT_EQ(513u, code);
    DirW(api_, 0, W(good), &code);
    EXPECT_EQ(513u, code);
    EXPECT_EQ(513u, api_.dirW(nullptr, 260, W(good).c_str()));
    DirW(api_, 260, W(unknown), &code);
    EXPECT_EQ(517u, code);
    DirW(api_, 260, W(tooLong), &code);
    EXPECT_EQ(517u, code);
    DirW(api_, 260, W(none), &code);
    EXPECT_EQ(514u, code);

    // A file that does not parse is reported and the call returns: the
    // process goes on.
    testing::internal::CaptureStdout();
    DirW(api_, 260, W(broken), &code);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(518u, code);
    EXPECT_EQ("XML Parsing error inside file '" + (broken / "product.config").string() +
                  "'.\nWarning: Unmatched end tag\nAt line 1, column 29.\n",
              printed);
}

TEST_F(Exports, NarrowCultureDirectory) {
    ScopedLanguage language("en_US.UTF-8");
    TempDir dir;
    const fs::path app = dir.Dir("приложение");
    WriteConfig(app, "uk-UA");
    const std::string expected = app.string() + "/Languages64/uk-UA";
    char buffer[300];
    EXPECT_EQ(0u, api_.dirA(buffer, sizeof buffer, app.string().c_str()));
    EXPECT_EQ(expected, buffer);

    // Too small in bytes (the path is shorter in characters): refused.
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(513u, api_.dirA(buffer, static_cast<int>(expected.size()), app.string().c_str()));
    EXPECT_EQ('#', buffer[0]);
    EXPECT_EQ(517u, api_.dirA(buffer, sizeof buffer, ""));
    EXPECT_EQ(514u, api_.dirA(buffer, sizeof buffer, dir.Dir("a/b/c/d").string().c_str()));
    EXPECT_EQ('#', buffer[0]);
    EXPECT_EQ(513u, api_.dirA(buffer, 0, app.string().c_str()));
    EXPECT_EQ(513u, api_.dirA(nullptr, 10, app.string().c_str()));
}

TEST_F(Exports, SetThenGetCurrentCulture) {
    ScopedLanguage language("ru_RU.UTF-8");
    TempDir dir;
    const fs::path file = dir.path() / "product.config";
    WriteConfig(dir.path(), nullptr);
    char name[64];

    std::strcpy(name, "?");
    EXPECT_EQ(0u, api_.getCultureW(name, sizeof name, W(dir.path()).c_str()));
    EXPECT_STREQ("ru-RU", name);

    EXPECT_EQ(0u, api_.setCultureW("EN-us", W(dir.path()).c_str()));
    EXPECT_TRUE(SameBytes(Utf16LeFile(kHeader +
                                      "<cantorel>\n"
                                      "\t<add key=\"Culture\" value=\"EN-us\"/>\n"
                                      "</cantorel>\n"),
                          ReadFileString(file)));
    EXPECT_EQ(0u, api_.getCultureW(name, sizeof name, W(dir.path()).c_str()));
    EXPECT_STREQ("EN-us", name);
    EXPECT_EQ(0u, api_.getCultureA(name, sizeof name, dir.str().c_str()));
    EXPECT_STREQ("EN-us", name);

    EXPECT_EQ(0u, api_.setCultureA("de-DE", dir.str().c_str()));
    EXPECT_EQ(0u, api_.getCultureA(name, sizeof name, dir.str().c_str()));
    EXPECT_STREQ("de-DE", name);

    // Refusals leave the file as it is.
    const std::string before = ReadFileString(file);
    EXPECT_EQ(517u, api_.setCultureW("xx-YY", W(dir.path()).c_str()));
    EXPECT_EQ(513u, api_.setCultureW("", W(dir.path()).c_str()));
    EXPECT_EQ(513u, api_.setCultureW(nullptr, W(dir.path()).c_str()));
    EXPECT_EQ(513u, api_.getCultureW(nullptr, 10, W(dir.path()).c_str()));
    EXPECT_EQ(before, ReadFileString(file));

    const fs::path none = dir.Dir("a/b/c/d/e");
    EXPECT_EQ(517u, api_.setCultureW("xx-YY", W(none).c_str()));
    EXPECT_EQ(514u, api_.setCultureW("en-US", W(none).c_str()));
    EXPECT_EQ(514u, api_.getCultureW(name, sizeof name, W(none).c_str()));
}

TEST_F(Exports, CurrentCultureWithAFileThatDoesNotParse) {
    ScopedLanguage language("fr_FR.UTF-8");
    TempDir dir;
    const fs::path file = dir.path() / "product.config";
    WriteFileString(file, "<cantorel>&bogus;</cantorel>");
    char name[16] = {};
    testing::internal::CaptureStdout();
    // Reading passes over the file and falls back on the interface language;
    // writing refuses to replace it.
    EXPECT_EQ(0u, api_.getCultureW(name, sizeof name, W(dir.path()).c_str()));
    EXPECT_EQ(518u, api_.setCultureW("en-US", W(dir.path()).c_str()));
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ("fr-FR", name);
    EXPECT_EQ("<cantorel>&bogus;</cantorel>", ReadFileString(file));
}

TEST_F(Exports, FailedSaveIsReportedBySetCurrentCulture) {
    TempDir dir;
    WriteConfig(dir.path(), "en-US");
    const auto set = api_.setCultureW;
    const std::u16string start = W(dir.path());
    // In a child process, files may not grow past one byte: the write fails.
    auto saveWithoutRoom = [&] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = 1;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::_Exit(set("de-DE", start.c_str()) == 519 ? 0 : 1);
    };
    EXPECT_EXIT(saveWithoutRoom(), ::testing::ExitedWithCode(0), "");
    // The old file is still whole.
    char name[16] = {};
    EXPECT_EQ(0u, api_.getCultureW(name, sizeof name, start.c_str()));
    EXPECT_STREQ("en-US", name);
}

TEST_F(Exports, EnumCultures) {
    TempDir dir;
    dir.Dir("app/Languages64/ru-RU");
    dir.Dir("app/Languages64/de-DE");
    WriteFileString(dir.path() / "app" / "Languages64" / "fr-FR", "a file is not a culture folder");
    WriteFileString(dir.path() / "app" / "product.config", "not parsed by the enumeration");
    const fs::path start = dir.Dir("app/bin");
    const fs::path none = dir.Dir("x/y/z/w");

    Collected all;
    EXPECT_EQ(0u, api_.enumW(Collect, &all, 0, W(none).c_str()));
    ASSERT_EQ(329u, all.names.size());
    EXPECT_EQ("ar", all.names.front());
    EXPECT_EQ(1, all.lcids.front());
    EXPECT_EQ("ff-Latn-SN", all.names.back());

    Collected first;
    first.stopAfter = 1;
    EXPECT_EQ(0u, api_.enumW(Collect, &first, 0, nullptr));
    EXPECT_EQ(1u, first.names.size());

    Collected installed;
    EXPECT_EQ(0u, api_.enumW(Collect, &installed, 1, W(start).c_str()));
    // The invariant culture's folder is Languages64 itself, so it counts as
    // installed whenever that folder exists.
    EXPECT_EQ((std::vector<std::string>{"", "de-DE", "ru-RU"}), installed.names);
    EXPECT_EQ((std::vector<int32_t>{127, 1031, 1049}), installed.lcids);

    Collected narrow;
    EXPECT_EQ(0u, api_.enumA(Collect, &narrow, 1, start.string().c_str()));
    EXPECT_EQ(installed.names, narrow.names);

    Collected missing;
    EXPECT_EQ(514u, api_.enumW(Collect, &missing, 1, W(none).c_str()));
    EXPECT_TRUE(missing.names.empty());
    EXPECT_EQ(513u, api_.enumW(nullptr, nullptr, 0, nullptr));
}

// The settings object is process-wide, so its whole life is one test.
TEST_F(Exports, SharedSettingsObject) {
    TempDir dir;
    const fs::path none = dir.Dir("a/b/c/d");
    const fs::path broken = dir.Dir("broken");
    WriteFileString(broken / "product.config", "");
    const fs::path app = dir.Dir("app");
    WriteConfig(app, "en-US");
    const fs::path other = dir.Dir("other");
    WriteConfig(other, "fr-FR");

    EXPECT_EQ(513u, api_.getSettingsW(nullptr, W(app).c_str()));
    ICantorel* object = reinterpret_cast<ICantorel*>(0x1);
    EXPECT_EQ(514u, api_.getSettingsW(&object, W(none).c_str()));
    EXPECT_EQ(nullptr, object);
    testing::internal::CaptureStdout();
    EXPECT_EQ(518u, api_.getSettingsW(&object, W(broken).c_str()));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(nullptr, object);

    // The first good start directory wins; later ones are ignored.
    ASSERT_EQ(0u, api_.getSettingsW(&object, W(app).c_str()));
    ASSERT_NE(nullptr, object);
    ICantorel* second = nullptr;
    ASSERT_EQ(0u, api_.getSettingsA(&second, other.string().c_str()));
    EXPECT_EQ(object, second);
    second->Release();

    char16_t buffer[300];
    EXPECT_EQ(buffer, object->GetConfigDirectory(buffer, 300));
    EXPECT_EQ(app.string(), U8(buffer));
    EXPECT_EQ(buffer, object->GetValue(u"CULTURE", buffer, 300));
    EXPECT_EQ("en-US", U8(buffer));
    EXPECT_EQ(nullptr, object->GetValue(u"Culture", nullptr, 300));
    std::u16string untouched = u"keep";
    std::copy(untouched.begin(), untouched.end() + 1, buffer);
    object->GetValue(u"missing", buffer, 300);
    EXPECT_EQ("keep", U8(buffer));
    object->GetValue(u"Culture", buffer, 3);
    EXPECT_EQ("en", U8(buffer));

    // Unsaved changes survive a release and reach the next client.
    object->SetValue(u"Theme", u"dark");
    object->Release();
    ICantorel* again = nullptr;
    ASSERT_EQ(0u, api_.getSettingsW(&again, nullptr));
    EXPECT_EQ(object, again);
    again->GetValue(u"Theme", buffer, 300);
    EXPECT_EQ("dark", U8(buffer));
    EXPECT_EQ(0u, again->Save());
    EXPECT_TRUE(SameBytes(Utf16LeFile(kHeader +
                                      "<cantorel>\n"
                                      "\t<add key=\"Culture\" value=\"en-US\"/>\n"
                                      "\t<add key=\"Theme\" value=\"dark\"/>\n"
                                      "</cantorel>\n"),
                          ReadFileString(app / "product.config")));
    again->SetValue(u"Theme", u"light");
    EXPECT_EQ(0u, again->Load());
    again->GetValue(u"Theme", buffer, 300);
    EXPECT_EQ("dark", U8(buffer));
    again->Release();
}

TEST(CantorelHost, LoadsTheLibraryLikeThePlayer) {
    TempDir dir;
    const fs::path app = dir.Dir("app");
    const fs::path exe = dir.Dir("app/bin/x64");
    fs::copy_file(CANTOREL_LIB, app / "libCantorel64.so");
    WriteConfig(app, "ru-RU");

    auto run = [](const fs::path& folder, int* status) {
        const std::string command = "env -u LD_LIBRARY_PATH '" GAVEX_TEST_TOOLS_DIR
                                    "/cantorel_host' '" + folder.string() + "'";
        FILE* out = ::popen(command.c_str(), "r");
        std::string text;
        char chunk[512];
        while (out && std::fgets(chunk, sizeof chunk, out)) text += chunk;
        *status = out ? ::pclose(out) : -1;
        return text;
    };
    int status = -1;
    EXPECT_EQ("result 0\ndirectory " + app.string() + "/Languages64/ru-RU\nlibrary " +
                  (app / "libCantorel64.so").string() + "\n",
              run(exe, &status));
    EXPECT_EQ(0, status);

    // Three parents up is still found; four is not, as the player would not.
    EXPECT_EQ(0, run(dir.Dir("app/bin/x64/more"), &status).rfind("result 0\n", 0));
    const fs::path deep = dir.Dir("app/bin/x64/more/deeper");
    EXPECT_EQ("result 520\n", run(deep, &status));
    EXPECT_NE(0, status);
}
