// Document tree editing, rendering and the UTF-16 file writer.
#include <gtest/gtest.h>

#include "settingslib/DomTree.h"
#include "SettingsTestUtil.h"

using namespace cantorel;
using namespace cantorel_test;

namespace {

std::u16string Render(const DomNode& node, int format) {
    std::u16string out;
    const size_t n = RenderDomNode(*node.get(), out, format);
    EXPECT_EQ(n, out.size());
    return out;
}

// <?xml ...?> over a section that exercises every layout rule.
DomNode SampleTree() {
    DomNode top = NewDeclarationNode();
    AppendAttribute(top, u"version", u"1.0");
    AppendAttribute(top, u"encoding", u"utf-16");
    DomNode section = AppendChild(top, u"cantorel");
    DomNode add = AppendChild(section, u"add");
    AppendAttribute(add, u"key", u"a<b&c");
    AppendAttribute(add, u"value", u"say \"hi\" 'x' >");
    DomNode note = AppendChild(section, u"note");
    AppendText(note, u"one & two");
    DomNode flag = AppendChild(section, u"flag");
    AppendAttribute(flag, u"enabled", nullptr);
    AppendAttribute(flag, u"", u"dropped");
    AppendRawSection(section, u" c & <kept> ", kDomRawDelimiters[kRawComment].open,
                     kDomRawDelimiters[kRawComment].close);
    DomNode group = AppendChild(section, u"group");
    AppendText(group, u"t1");
    AppendText(group, u"");
    AppendText(group, u"t2");
    return top;
}

}  // namespace

TEST(DomWriter, SavedFileMatchesHandMadeBytes) {
    TempDir dir;
    const auto path = dir.path() / "sample.config";
    ASSERT_EQ(kDomOk, SaveDomFile(SampleTree(), U16(path.string())));

    const std::string expected = Utf16LeFile(
        "<?xml version=\"1.0\" encoding=\"utf-16\"?>\n"
        "<cantorel>\n"
        "\t<add key=\"a&lt;b&amp;c\" value=\"say &quot;hi&quot; &apos;x&apos; &gt;\"/>\n"
        "\t<note>one &amp; two</note>\n"
        "\t<flag enabled/>\n"
        "\t<!-- c & <kept> -->\n"
        "\t<group>\n"
        "\t\tt1\n"
        "\t\tt2\n"
        "\t</group>\n"
        "</cantorel>\n");
    EXPECT_TRUE(SameBytes(expected, ReadFileString(path)));
    // Spot check of the encoding itself, independent of the fixture helper.
    const std::string bytes = ReadFileString(path);
    ASSERT_GE(bytes.size(), 6u);
    EXPECT_EQ(std::string("\xFF\xFE<\0?\0", 6), bytes.substr(0, 6));
}

TEST(DomWriter, ElementTopNodeGetsTheDeclarationLineAndNonAsciiIsLittleEndian) {
    TempDir dir;
    const auto path = dir.path() / "element.config";
    DomNode top = NewNodeRecord(nullptr, std::u16string(u"root"), false);
    DomNode empty = AppendChild(top, u"e");
    AppendText(top, u"\u0436");  // one non-ASCII character
    ASSERT_EQ(kDomOk, SaveDomFile(top, U16(path.string())));
    std::string expected = Utf16LeFile(
        "<?xml version=\"1.0\" encoding=\"utf-16\"?>\n"
        "<root>\n"
        "\t<e/>\n"
        "\t");
    expected += std::string("\x36\x04\n\0", 4);  // U+0436, LF
    expected += Utf16LeFile("</root>\n").substr(2);
    EXPECT_TRUE(SameBytes(expected, ReadFileString(path)));
}

TEST(DomWriter, RenderingWithoutLayout) {
    DomNode a = NewNodeRecord(nullptr, std::u16string(u"a"), false);
    AppendAttribute(a, u"x", u"1");
    AppendChild(a, u"b");
    AppendText(a, u"t<");
    AppendRawSection(a, u"raw", kDomRawDelimiters[kRawCData].open, kDomRawDelimiters[kRawCData].close);
    EXPECT_EQ(u"<a x=\"1\"><b/>t&lt;<![CDATA[raw]]></a>", Render(a, -1));

    DomNode nameless = NewNodeRecord(nullptr, std::nullopt, false);
    AppendChild(nameless, u"c");
    AppendChild(nameless, u"d");
    EXPECT_EQ(u"<c/>\n<d/>\n", Render(nameless, 0));
}

TEST(DomWriter, FileThatCannotBeCreatedIsCode15AndLeavesNoFile) {
    TempDir dir;
    const auto missingFolder = dir.path() / "missing" / "x.config";
    EXPECT_EQ(kDomOpenForWriteFailed, SaveDomFile(SampleTree(), U16(missingFolder.string())));
    const auto folder = dir.Dir("is-a-folder");
    EXPECT_EQ(kDomOpenForWriteFailed, SaveDomFile(SampleTree(), U16(folder.string())));
    EXPECT_TRUE(fs::is_directory(folder));
    // No temporary files stay behind.
    EXPECT_EQ(1, std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()));
}

TEST(DomWriter, SaveReplacesAnExistingFileWhole) {
    TempDir dir;
    const auto path = dir.path() / "product.config";
    WriteFileString(path, std::string(5000, 'x'));
    DomNode top = NewNodeRecord(nullptr, std::u16string(u"r"), false);
    ASSERT_EQ(kDomOk, SaveDomFile(top, U16(path.string())));
    EXPECT_TRUE(SameBytes(Utf16LeFile("<?xml version=\"1.0\" encoding=\"utf-16\"?>\n<r/>\n"),
                          ReadFileString(path)));
}

TEST(DomTree, RemovingARawSectionRenumbersLaterOnesOnly) {
    DomNode n = NewNodeRecord(nullptr, std::u16string(u"n"), false);
    const auto& c = kDomRawDelimiters[kRawComment];
    AppendRawSection(n, u"0", c.open, c.close);
    AppendText(n, u"t");
    AppendRawSection(n, u"1", c.open, c.close);
    AppendChild(n, u"k");
    AppendRawSection(n, u"2", c.open, c.close);
    RemoveRawSection(n, 1);
    EXPECT_EQ((std::vector<uint32_t>{0 * 4 + kItemRaw, 0 * 4 + kItemText, 0 * 4 + kItemChild,
                                     1 * 4 + kItemRaw}),
              n->order);
    EXPECT_EQ(u"<n><!--0-->t<k/><!--2--></n>", Render(n, -1));
}

TEST(DomTree, ChildOutlivesItsParentThroughAHandle) {
    DomNode child;
    {
        DomNode parent = NewNodeRecord(nullptr, std::u16string(u"p"), false);
        child = AppendChild(parent, u"c");
        EXPECT_EQ(parent.get(), child->parent);
        EXPECT_EQ(2, child->refCount);
    }
    EXPECT_EQ(nullptr, child->parent);
    EXPECT_EQ(1, child->refCount);
    EXPECT_EQ(u"c", *child->name);
}

TEST(DomTree, ClearNodeContentUnlinksAndEmptiesSharedDescendants) {
    DomNode top = NewNodeRecord(nullptr, std::u16string(u"top"), false);
    DomNode mid = AppendChild(top, u"mid");
    DomNode leaf = AppendChild(mid, u"leaf");
    AppendAttribute(leaf, u"a", u"1");
    AppendText(top, u"after");

    ClearNodeContent(mid);
    EXPECT_TRUE(top->children.empty());
    EXPECT_EQ((std::vector<uint32_t>{0 * 4 + kItemText}), top->order);
    EXPECT_EQ(nullptr, mid->parent);
    EXPECT_FALSE(mid->name.has_value());
    // The leaf is still held here but its content went with its parent's.
    EXPECT_TRUE(leaf->attributes.empty());
    EXPECT_FALSE(leaf->name.has_value());
    EXPECT_EQ(nullptr, leaf->parent);
}

TEST(DomTree, LookupsAndValueAttribute) {
    DomNode s = NewNodeRecord(nullptr, std::u16string(u"s"), false);
    AppendChild(s, u"Add");
    AppendChild(s, u"other");
    DomNode second = AppendChild(s, u"ADD");
    int position = 0;
    EXPECT_EQ(s->children[0].get(), FindChildByName(s, u"add", &position).get());
    EXPECT_EQ(1, position);
    EXPECT_EQ(second.get(), FindChildByName(s, u"add", &position).get());
    EXPECT_EQ(3, position);
    EXPECT_TRUE(FindChildByName(s, u"add", &position).IsEmpty());
    EXPECT_TRUE(FindChildByName(DomNode(), u"add").IsEmpty());
    EXPECT_EQ(s->children[0].get(), FirstChild(s).get());
    EXPECT_TRUE(AppendChild(s, nullptr).IsEmpty());

    AppendAttribute(second, u"VALUE", u"old");
    SetValueAttribute(second, std::u16string(u"new"));
    SetValueAttribute(s->children[0], std::nullopt);
    EXPECT_EQ(u"<ADD VALUE=\"new\"/>", Render(second, -1));
    EXPECT_EQ(u"<Add value/>", Render(s->children[0], -1));
}

TEST(DomTree, ErrorTexts) {
    const std::pair<int, const char*> cases[] = {
        {0, "No error"},
        {1, "Warning: Unmatched end tag"},
        {3, "Error: No XML data"},
        {10, "Error: File not found"},
        {12, "Error: Unknown character entity"},
        {13, "Error: Character cannot be stored as narrow text."},
        {15, "Error: unable to open file for writing"},
        {16, "Error: cannot write into file"},
        {20, "Error: Decoding buffer is too small"},
        {21, "Unknown"},
        {-1, "Unknown"},
    };
    for (const auto& [code, text] : cases) EXPECT_STREQ(text, DomErrorText(code)) << code;
}
