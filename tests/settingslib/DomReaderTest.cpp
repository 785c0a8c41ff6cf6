// The lenient document reader: tokens, structure, entities, raw sections,
// file encodings and the error report.
#include <gtest/gtest.h>

#include "settingslib/DomReader.h"
#include "SettingsTestUtil.h"

using namespace cantorel;
using namespace cantorel_test;

namespace {

std::string RenderFlat(const DomNode& node) {
    if (!node) return "<empty handle>";
    std::u16string out;
    RenderDomNode(*node.get(), out, -1);
    return U8(out);
}

struct TextCase {
    const char* name;
    const char* text;
    int code;
    int line;
    int column;
    const char* rendered;  // the result rendered without layout
};

const TextCase kTextCases[] = {
    {"settings file", "<?xml version=\"1.0\" encoding=\"utf-16\"?>\n<cantorel>\n\t<add key=\"Culture\" value=\"ru-RU\"/>\n</cantorel>\n",
     0, 0, 0, "<?xml version=\"1.0\" encoding=\"utf-16\"?><cantorel><add key=\"Culture\" value=\"ru-RU\"/></cantorel>"},
    {"no declaration", "<cantorel>\n\t<add key=\"Culture\" value=\"ru-RU\"/>\n</cantorel>\n",
     0, 0, 0, "<cantorel><add key=\"Culture\" value=\"ru-RU\"/></cantorel>"},
    {"unquoted and value-less attributes", "<a x=1 flag y='q'>text</A >", 0, 0, 0,
     "<a x=\"1\" flag y=\"q\">text</a>"},
    {"element left open inside a closed one", "<a><b></a>", 1, 1, 11, "<a><b/></a>"},
    {"end tag of another name", "<a></b>", 6, 1, 8, "<empty handle>"},
    {"stray end tag after an empty element", "<a/></b>", 1, 1, 9, "<a/>"},
    {"only an end tag", "</a>", 2, 1, 5, ""},
    {"element open at the end", "<a>\n<b>x", 1, 2, 5, "<a><b>x</b></a>"},
    {"character references and entities", "<a>&#65;&#x41;&#X61;&AMP;&lt;&Quot;&apos;&gt;</a>", 0, 0, 0,
     "<a>AAa&amp;&lt;&quot;&apos;&gt;</a>"},
    {"zero reference ends the text", "<a>x&#;y</a>", 0, 0, 0, "<a>x</a>"},
    {"reference kept modulo 65536", "<a>&#65601;</a>", 0, 0, 0, "<a>A</a>"},
    {"unknown entity", "<a>&nbsp;</a>", 12, 1, 12, "<empty handle>"},
    {"reference without semicolon", "<a>&#65</a>", 12, 1, 10, "<empty handle>"},
    {"bad digit in a reference", "<a v=\"&#6x;\"/>", 12, 1, 13, "<empty handle>"},
    {"comment inside a text joins it", "<a>  x <!--c--> y  </a>", 0, 0, 0, "<a>xy</a>"},
    {"comment between elements is kept", "<a><b/><!--c--><d/></a>", 0, 0, 0, "<a><b/><!--c--><d/></a>"},
    {"unterminated comment", "<a>\n  <!--x", 7, 2, 7, "<empty handle>"},
    {"CDATA kept verbatim", "<a><![CDATA[<&>]]></a>", 0, 0, 0, "<a><![CDATA[<&>]]></a>"},
    {"PRE kept verbatim", "<a><PRE> <b> </PRE></a>", 0, 0, 0, "<a><PRE> <b> </PRE></a>"},
    {"doctype", "<!DOCTYPE html><a/>", 0, 0, 0, "<!DOCTYPE html><a/>"},
    {"doctype with internal subset", "<!DOCTYPE x [<!ENTITY e \"v\">]><a/>", 0, 0, 0,
     "<!DOCTYPE x [<!ENTITY e \"v\">]><a/>"},
    {"unterminated doctype", "<!DOCTYPE x [<!ENTITY", 7, 1, 10, "<empty handle>"},
    {"nested processing instruction closes", "<a><?pi x?></a>", 0, 0, 0, "<a><?pi x?></a>"},
    {"declaration without attributes closes", "<a><?pi?><b/></a>", 0, 0, 0, "<a><?pi?><b/></a>"},
    // Names that start with a quote could not be written back.
    {"attribute name starting with a quote", "<a \"b=1/>", 8, 1, 6, "<empty handle>"},
    {"valueless attribute name starting with a quote", "<a x 'b/>", 8, 1, 8, "<empty handle>"},
    {"element name starting with a quote", "<\"a/>", 4, 1, 4, "<empty handle>"},
    // Element names that, written back, would open a raw section.
    {"element name of a comment's opening", "<a><\n!-- x -->", 4, 2, 5, "<empty handle>"},
    {"element name of a document type's opening", "< !DOCTYPE/>", 4, 1, 11, "<empty handle>"},
    {"element PRE is written with a blank", "<a>< PRE>x</PRE ></a>", 0, 0, 0, "<a><PRE >x</PRE></a>"},
    {"unexpected token in a tag", "<a =x>", 8, 1, 5, "<empty handle>"},
    {"missing start tag name", "<a><>", 4, 1, 6, "<empty handle>"},
    {"missing end tag name", "<a></>", 5, 1, 7, "<empty handle>"},
    {"whitespace only", " \t\r\n ", 2, 2, 2, ""},
    {"empty text", "", 2, 1, 1, ""},
    {"quote without its end is plain text", "<a>\"x</a>", 0, 0, 0, "<a>&quot;x</a>"},
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class DomReaderText : public ::testing::TestWithParam<TextCase> {};

}  // namespace

TEST_P(DomReaderText, ParsesToTreeAndCode) {
    const TextCase& c = GetParam();
    DomParseResult result;
    DomNode top = ParseDomText(U16(c.text).c_str(), &result);
    EXPECT_EQ(c.code, result.code) << DomErrorText(result.code);
    EXPECT_EQ(c.line, result.line);
    EXPECT_EQ(c.column, result.column);
    EXPECT_EQ(c.rendered, RenderFlat(top));
}

INSTANTIATE_TEST_SUITE_P(Cases, DomReaderText, ::testing::ValuesIn(kTextCases),
                         [](const auto& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

TEST(DomReader, DeclarationAtTheTopHoldsEverythingAfterIt) {
    DomParseResult result;
    DomNode top = ParseDomText(u"<?xml version=\"1.0\"?><a/><b/>", &result);
    ASSERT_TRUE(top);
    EXPECT_EQ(0, result.code);
    EXPECT_TRUE(top->declaration);
    EXPECT_EQ(nullptr, top->parent);
    ASSERT_EQ(2u, top->children.size());
    ASSERT_EQ(1u, top->attributes.size());
    EXPECT_EQ(u"1.0", *top->attributes[0].value);
}

TEST(DomReader, NullTextIsCode9) {
    DomParseResult result{5, 5, 5};
    EXPECT_TRUE(ParseDomText(nullptr, &result).IsEmpty());
    EXPECT_EQ(9, result.code);
    EXPECT_EQ(0, result.line);
    EXPECT_EQ(0, result.column);
}

namespace {

struct FileCase {
    const char* name;
    std::string bytes;
};

}  // namespace

TEST(DomReaderFile, EncodingsGiveTheSameTree) {
    const std::string ascii = "<cantorel>\n\t<add key=\"k\" value=\"v\"/>\n</cantorel>\n";
    std::string be("\xFE\xFF", 2);
    for (char c : ascii) be += std::string(1, '\0') + c;
    const FileCase cases[] = {
        {"UTF-16LE with BOM", Utf16LeFile(ascii)},
        {"UTF-16LE without BOM", Utf16LeFile(ascii).substr(2)},
        {"UTF-16BE with BOM", be},
        {"UTF-8 with prefix", "\xEF\xBB\xBF" + ascii},
        {"narrow without prefix", ascii},
    };
    TempDir dir;
    for (const FileCase& c : cases) {
        const auto path = dir.path() / "f.config";
        WriteFileString(path, c.bytes);
        DomParseResult result;
        DomNode top = ParseDomFile(U16(path.string()), &result);
        EXPECT_EQ(0, result.code) << c.name;
        EXPECT_EQ("<cantorel><add key=\"k\" value=\"v\"/></cantorel>", RenderFlat(top)) << c.name;
    }
}

TEST(DomReaderFile, NonAsciiContentInEveryEncoding) {
    // "<a>жé</a>" as UTF-16LE, as UTF-8 and (é only) as Windows-1252.
    TempDir dir;
    const auto path = dir.path() / "f.config";
    const std::string utf16("\xFF\xFE<\0a\0>\0\x36\x04\xE9\0<\0/\0a\0>\0", 20);
    WriteFileString(path, utf16);
    EXPECT_EQ("<a>жé</a>", RenderFlat(ParseDomFile(U16(path.string()), nullptr)));
    WriteFileString(path, "\xEF\xBB\xBF<a>\xD0\xB6\xC3\xA9</a>");
    EXPECT_EQ("<a>жé</a>", RenderFlat(ParseDomFile(U16(path.string()), nullptr)));
    WriteFileString(path, "<a>\xE9\x80</a>");
    EXPECT_EQ("<a>é€</a>", RenderFlat(ParseDomFile(U16(path.string()), nullptr)));
}

TEST(DomReaderFile, FileLevelErrors) {
    TempDir dir;
    const auto empty = dir.path() / "empty.config";
    WriteFileString(empty, "");
    const auto blank = dir.path() / "blank.config";
    WriteFileString(blank, "  \n ");
    const auto folder = dir.Dir("folder.config");
    const struct {
        fs::path path;
        int code;
        int line;
        int column;
    } cases[] = {
        {empty, 3, 0, 0},
        {blank, 2, 2, 2},
        {dir.path() / "missing.config", 10, 0, 0},
        {folder, 10, 0, 0},
    };
    for (const auto& c : cases) {
        DomParseResult result;
        ParseDomFile(U16(c.path.string()), &result);
        EXPECT_EQ(c.code, result.code) << c.path;
        EXPECT_EQ(c.line, result.line) << c.path;
        EXPECT_EQ(c.column, result.column) << c.path;
    }
}

TEST(DomReaderFile, ReportForAFileThatDoesNotParse) {
    TempDir dir;
    const auto path = dir.path() / "bad.config";
    WriteFileString(path, Utf16LeFile("<a>\n  <!--x"));
    testing::internal::CaptureStdout();
    DomParseResult result;
    DomNode tree = LoadDomFileOrReport(U16(path.string()), &result);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(tree.IsEmpty());
    EXPECT_EQ(7, result.code);
    EXPECT_EQ("XML Parsing error inside file '" + path.string() +
                  "'.\nError: Unmatched clear tag end\nAt line 2, column 7.\n",
              printed);
}

TEST(DomReaderFile, WarningsAreReportedAndGiveNoTree) {
    TempDir dir;
    const auto path = dir.path() / "open.config";
    WriteFileString(path, Utf16LeFile("<cantorel><add key=\"Culture\" value=\"de-DE\"/>"));
    testing::internal::CaptureStdout();
    DomParseResult result;
    DomNode tree = LoadDomFileOrReport(U16(path.string()), &result);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(tree.IsEmpty());
    EXPECT_EQ(1, result.code);
    EXPECT_NE(std::string::npos, printed.find("\nWarning: Unmatched end tag\nAt line 1, column 45.\n"))
        << printed;
}
