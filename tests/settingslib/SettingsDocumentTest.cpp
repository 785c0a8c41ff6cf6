// Finding, loading, editing and saving product.config.
#include <gtest/gtest.h>

#include <unistd.h>

#include "settingslib/SettingsDocument.h"
#include "SettingsTestUtil.h"

using namespace cantorel;
using namespace cantorel_test;

namespace {

const std::string kHeader = "<?xml version=\"1.0\" encoding=\"utf-16\"?>\n";

std::u16string W(const fs::path& p) { return U16(p.string()); }

// Runs the body with the current directory changed, restoring it afterwards.
class ScopedCwd {
public:
    explicit ScopedCwd(const fs::path& dir) : old_(fs::current_path()) { fs::current_path(dir); }
    ~ScopedCwd() { fs::current_path(old_); }

private:
    fs::path old_;
};

std::string ValueOf(const SettingsDocument& doc, const char16_t* key) {
    const std::u16string* v = doc.GetValue(key);
    return v ? U8(*v) : "<none>";
}

}  // namespace

TEST(FindConfigDirectory, LooksInTheStartDirectoryAndThreeParents) {
    const struct {
        const char* fileIn;  // relative to the temporary root
        const char* found;   // "" when the search fails
    } cases[] = {
        {"a/b/c/d", "a/b/c/d"}, {"a/b/c", "a/b/c"}, {"a/b", "a/b"}, {"a", "a"}, {"", ""},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const fs::path start = dir.Dir("a/b/c/d");
        WriteFileString(dir.path() / c.fileIn / "product.config", "x");
        std::u16string out = u"garbage";
        const bool found = FindConfigDirectory(W(start).c_str(), out);
        const std::string expected = *c.found ? (dir.path() / c.found).string() : "";
        EXPECT_EQ(*c.found != '\0', found) << c.fileIn;
        EXPECT_EQ(expected, U8(out)) << c.fileIn;
    }
}

TEST(FindConfigDirectory, KeepsATrailingSlashAndAcceptsAFolderOfThatName) {
    TempDir dir;
    const fs::path withFile = dir.Dir("one");
    WriteFileString(withFile / "product.config", "x");
    std::u16string out;
    ASSERT_TRUE(FindConfigDirectory(U16(withFile.string() + "/").c_str(), out));
    EXPECT_EQ(withFile.string() + "/", U8(out));

    const fs::path withFolder = dir.Dir("two");
    dir.Dir("two/product.config");
    // x/y do not exist: the walk goes up by text alone.
    ASSERT_TRUE(FindConfigDirectory(W(withFolder / "x" / "y").c_str(), out));
    EXPECT_EQ(withFolder.string(), U8(out));
}

TEST(FindConfigDirectory, NullOrEmptyStartMeansTheCurrentDirectory) {
    TempDir dir;
    const fs::path inner = dir.Dir("p/q");
    WriteFileString(dir.path() / "p" / "product.config", "x");
    ScopedCwd cwd(inner);
    std::u16string out;
    ASSERT_TRUE(FindConfigDirectory(nullptr, out));
    EXPECT_EQ((dir.path() / "p").string(), U8(out));
    ASSERT_TRUE(FindConfigDirectory(u"", out));
    EXPECT_EQ((dir.path() / "p").string(), U8(out));
    SettingsDocument doc(nullptr);
    EXPECT_EQ(inner.string(), U8(doc.StartDirectory()));
}

TEST(SettingsDocument, WithoutAFileLoadAndSaveAre514) {
    TempDir dir;
    SettingsDocument doc(W(dir.Dir("a/b/c/d")).c_str());
    EXPECT_EQ(514u, doc.Load());
    doc.SetValue(u"k", u"v");
    EXPECT_EQ(514u, doc.Save());
    EXPECT_FALSE(doc.ConfigDirectory().has_value());
}

TEST(SettingsDocument, NewDocumentIsWrittenInTheFixedLayout) {
    TempDir dir;
    const fs::path file = dir.path() / "product.config";
    WriteFileString(file, "not even a document");  // overwritten without being read
    SettingsDocument doc(W(dir.path()).c_str());
    doc.SetValue(u"Culture", u"ru-RU");
    doc.SetValue(u"a<b", u"x&\"y'");
    doc.SetValue(u"culture", u"de-DE");  // same entry, key case ignored
    EXPECT_TRUE(doc.Modified());
    ASSERT_EQ(0u, doc.Save());
    EXPECT_FALSE(doc.Modified());
    EXPECT_TRUE(SameBytes(Utf16LeFile(kHeader +
                                      "<cantorel>\n"
                                      "\t<add key=\"Culture\" value=\"de-DE\"/>\n"
                                      "\t<add key=\"a&lt;b\" value=\"x&amp;&quot;y&apos;\"/>\n"
                                      "</cantorel>\n"),
                          ReadFileString(file)));
    // Only the configuration folder's own file was written.
    EXPECT_EQ(1, std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()));
}

TEST(SettingsDocument, LoadedFileIsRewrittenOnlyAfterAChange) {
    TempDir dir;
    const fs::path file = dir.path() / "product.config";
    const std::string original =
        "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<Cantorel>\r\n  <!-- kept -->\r\n"
        "  <ADD KEY=\"CULTURE\" Value=\"en-US\" extra=\"1\"/>\r\n  <add key=\"Other\" value=\"o\"/>\r\n"
        "</Cantorel>\r\n";
    WriteFileString(file, original);
    SettingsDocument doc(W(dir.path()).c_str());
    ASSERT_EQ(0u, doc.Load());
    EXPECT_EQ("en-US", ValueOf(doc, u"Culture"));
    EXPECT_EQ("o", ValueOf(doc, u"OTHER"));
    EXPECT_EQ("<none>", ValueOf(doc, u"missing"));
    ASSERT_EQ(0u, doc.Save());
    EXPECT_TRUE(SameBytes(original, ReadFileString(file)));

    doc.SetValue(u"culture", u"fr-FR");
    ASSERT_EQ(0u, doc.Save());
    EXPECT_TRUE(SameBytes(Utf16LeFile("<?xml version=\"1.0\"?>\n"
                                      "<Cantorel>\n"
                                      "\t<!-- kept -->\n"
                                      "\t<ADD KEY=\"CULTURE\" Value=\"fr-FR\" extra=\"1\"/>\n"
                                      "\t<add key=\"Other\" value=\"o\"/>\n"
                                      "</Cantorel>\n"),
                          ReadFileString(file)));
    // Load drops unsaved changes.
    doc.SetValue(u"Culture", u"it-IT");
    ASSERT_EQ(0u, doc.Load());
    EXPECT_FALSE(doc.Modified());
    EXPECT_EQ("fr-FR", ValueOf(doc, u"Culture"));
}

TEST(SettingsDocument, ALoneSectionElementIsTheSection) {
    // Without a declaration the top node is the section itself: its entries
    // are found and updated in place (not shadowed by a nested section that
    // the next load would never look into).
    TempDir dir;
    const fs::path file = dir.path() / "product.config";
    WriteFileString(file, Utf16LeFile("<cantorel><add key=\"Culture\" value=\"x\"/></cantorel>"));
    SettingsDocument doc(W(dir.path()).c_str());
    ASSERT_EQ(0u, doc.Load());
    EXPECT_EQ("x", ValueOf(doc, u"Culture"));
    doc.SetValue(u"Culture", u"y");
    ASSERT_EQ(0u, doc.Save());
    EXPECT_TRUE(SameBytes(Utf16LeFile(kHeader +
                                      "<cantorel>\n"
                                      "\t<add key=\"Culture\" value=\"y\"/>\n"
                                      "</cantorel>\n"),
                          ReadFileString(file)));
}

TEST(SettingsDocument, EntryLookupRules) {
    TempDir dir;
    WriteFileString(dir.path() / "product.config",
               "<?xml version=\"1.0\"?><cantorel>"
               "<add key/>"                              // key without value: passed over
               "<other key=\"k\" value=\"wrong element\"/>"
               "<add key=\"x\" key=\"K\" value=\"second key attribute\"/>"
               "<add key=\"k\" value=\"later entry\"/>"
               "<add key=\"novalue\"/>"
               "<add key=\"bare\" value/>"
               "</cantorel>");
    SettingsDocument doc(W(dir.path()).c_str());
    ASSERT_EQ(0u, doc.Load());
    EXPECT_EQ("second key attribute", ValueOf(doc, u"k"));
    EXPECT_EQ("<none>", ValueOf(doc, u"novalue"));
    EXPECT_EQ("<none>", ValueOf(doc, u"bare"));
    const DomNode section = FindChildByName(doc.Tree(), u"cantorel");
    EXPECT_EQ(section->children[0].get(), FindAddByKey(section, nullptr).get());
}

TEST(SettingsDocument, NullValueIsWrittenAsABareAttribute) {
    TempDir dir;
    const fs::path file = dir.path() / "product.config";
    WriteFileString(file, "x");
    SettingsDocument doc(W(dir.path()).c_str());
    doc.SetValue(u"k", u"v");
    doc.SetValue(u"k", nullptr);
    EXPECT_EQ("<none>", ValueOf(doc, u"k"));
    ASSERT_EQ(0u, doc.Save());
    EXPECT_TRUE(SameBytes(Utf16LeFile(kHeader + "<cantorel>\n\t<add key=\"k\" value/>\n</cantorel>\n"),
                          ReadFileString(file)));
}

TEST(SettingsDocument, FileThatDoesNotParseIs518AndIsLeftAlone) {
    const char* broken[] = {
        "",                                   // empty
        "   ",                                // no element
        "<cantorel><add key=\"a\" value=\"b\"/>",  // warning: element left open
        "<cantorel>&bogus;</cantorel>",       // error
    };
    for (const char* bytes : broken) {
        TempDir dir;
        const fs::path file = dir.path() / "product.config";
        WriteFileString(file, bytes);
        SettingsDocument doc(W(dir.path()).c_str());
        testing::internal::CaptureStdout();
        EXPECT_EQ(518u, doc.Load()) << bytes;
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(0u, printed.find("XML Parsing error inside file '" + file.string() + "'.\n"))
            << printed;
        EXPECT_TRUE(doc.Tree().IsEmpty());
        EXPECT_EQ("<none>", ValueOf(doc, u"a"));
        EXPECT_EQ(0u, doc.Save());  // nothing modified, nothing written
        EXPECT_EQ(std::string(bytes), ReadFileString(file));
    }
}

TEST(SettingsDocument, FailedSaveIsReportedAndRetried) {
    TempDir dir;
    const fs::path file = dir.path() / "product.config";
    WriteFileString(file, "x");
    SettingsDocument doc(W(dir.path()).c_str());
    doc.SetValue(u"k", u"v");
    // A folder in the file's place cannot be replaced.
    fs::remove(file);
    fs::create_directory(file);
    EXPECT_EQ(519u, doc.Save());
    EXPECT_TRUE(doc.Modified());
    EXPECT_TRUE(fs::is_directory(file));
    fs::remove(file);
    EXPECT_EQ(0u, doc.Save());
    EXPECT_FALSE(doc.Modified());
    EXPECT_TRUE(SameBytes(Utf16LeFile(kHeader + "<cantorel>\n\t<add key=\"k\" value=\"v\"/>\n</cantorel>\n"),
                          ReadFileString(file)));
}

TEST(SettingsDocument, AStoredValueIsReadBackFromEveryLoadableFile) {
    // Whatever loads: SetValue, Save and a fresh Load give the value back.
    const struct {
        const char* what;
        std::string bytes;
    } files[] = {
        {"written by this library", Utf16LeFile(kHeader + "<cantorel>\n\t<add key=\"Culture\" value=\"x\"/>\n</cantorel>\n")},
        {"lone section element", Utf16LeFile("<cantorel><add key=\"Culture\" value=\"x\"/></cantorel>")},
        {"lone section element in UTF-8", "<Cantorel><add key=\"Culture\" value=\"x\"/></Cantorel>"},
        {"UTF-16 without BOM", Utf16LeFile(kHeader + "<cantorel><add key=\"Culture\" value=\"x\"/></cantorel>").substr(2)},
        {"UTF-16 without BOM, no declaration",
         Utf16LeFile("<cantorel><add key=\"Culture\" value=\"x\"/></cantorel>").substr(2)},
        {"UTF-16 big-endian without BOM", [] {
             const std::string le = Utf16LeFile(kHeader + "<cantorel><add key=\"Culture\" value=\"x\"/></cantorel>");
             std::string be;
             for (size_t i = 2; i + 1 < le.size(); i += 2) be += std::string{le[i + 1], le[i]};
             return be;
         }()},
        {"declaration without section", "<?xml version=\"1.0\"?><other a=\"1\"/>"},
        // Files whose first node is not the declaration.
        {"UTF-16 without BOM, element then declaration", Utf16LeFile("<E><?x").substr(2)},
        {"element holding a declaration", "<E><?xml version=\"1.0\"?></E>"},
        {"element holding the section", "<E><cantorel><add key=\"Culture\" value=\"x\"/></cantorel></E>"},
        {"bare declarations", "<?a?><?b?><cantorel/>"},
        {"other element only", "<other a=\"1\"/>"},
        {"other element before the section", "<other/><cantorel><add key=\"Culture\" value=\"x\"/></cantorel>"},
        {"comment before the declaration",
         "<!-- c --><?xml version=\"1.0\"?><cantorel><add key=\"Culture\" value=\"x\"/></cantorel>"},
        {"text before the declaration", "t<?xml version=\"1.0\"?><cantorel/>"},
        {"section holding a declaration", "<cantorel><?x a=\"1\"?><add key=\"Culture\" value=\"x\"/></cantorel>"},
        {"declaration after the section", "<cantorel/><?xml version=\"1.0\"?>"},
        {"two declarations", "<?xml version=\"1.0\"?><?y?><cantorel/>"},
    };
    for (const auto& f : files) {
        TempDir dir;
        const fs::path file = dir.path() / "product.config";
        WriteFileString(file, f.bytes);
        SettingsDocument doc(W(dir.path()).c_str());
        ASSERT_EQ(0u, doc.Load()) << f.what;
        doc.SetValue(u"culture", u"y");
        EXPECT_EQ("y", ValueOf(doc, u"Culture")) << f.what;
        ASSERT_EQ(0u, doc.Save()) << f.what;
        SettingsDocument again(W(dir.path()).c_str());
        testing::internal::CaptureStdout();
        const uint32_t loaded = again.Load();
        const std::string printed = testing::internal::GetCapturedStdout();
        ASSERT_EQ(0u, loaded) << f.what << "\n" << printed << HexDump(ReadFileString(file));
        EXPECT_EQ("y", ValueOf(again, u"Culture")) << f.what << "\n" << HexDump(ReadFileString(file));
    }
}
