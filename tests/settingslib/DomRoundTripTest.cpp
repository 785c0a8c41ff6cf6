// Trees written by the writer read back as the same trees.
#include <gtest/gtest.h>

#include <random>

#include "settingslib/DomReader.h"
#include "SettingsTestUtil.h"

using namespace cantorel;
using namespace cantorel_test;

namespace {

// Builds trees inside the subset that the text layout keeps apart: texts
// without surrounding whitespace, never two texts in a row (they would read
// back as one), never a text right after "text, comment" (the reader joins
// those), raw contents without their closing delimiter.
class TreeGenerator {
public:
    explicit TreeGenerator(uint32_t seed) : rng_(seed) {}

    DomNode Make() {
        DomNode top = NewDeclarationNode();
        AppendAttribute(top, u"version", u"1.0");
        AppendAttribute(top, u"encoding", u"utf-16");
        DomNode section = AppendChild(top, Name().c_str());
        Fill(section, 0);
        return top;
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    std::u16string Name() {
        std::u16string s;
        const int n = 1 + Pick(5);
        for (int i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(u'a' + Pick(26)));
        return s;
    }

    // Any characters, entity characters and non-ASCII included.
    std::u16string Value(bool trimmed) {
        static const char16_t kChars[] = u"ab <>&\"'=/?!-]x\u00e9\u0436\u4e2d\t\n;#";
        std::u16string s;
        const int n = Pick(8);
        for (int i = 0; i < n; ++i) s.push_back(kChars[Pick(static_cast<int>(std::size(kChars)) - 1)]);
        if (trimmed) {
            while (!s.empty() && (s.back() == u' ' || s.back() == u'\t' || s.back() == u'\n')) s.pop_back();
            while (!s.empty() && (s[0] == u' ' || s[0] == u'\t' || s[0] == u'\n')) s.erase(0, 1);
            if (s.empty()) s = u"t";
        }
        return s;
    }

    std::u16string RawContent(const char16_t* close) {
        std::u16string s = Value(false);
        while (s.find(close) != std::u16string::npos || (!s.empty() && s.back() == close[0]))
            s = u"raw";
        return s;
    }

    void Fill(const DomNode& node, int depth) {
        const int attributes = Pick(3);
        for (int i = 0; i < attributes; ++i) {
            if (Pick(4) == 0)
                AppendAttribute(node, Name(), std::nullopt);
            else
                AppendAttribute(node, Name(), Value(false));
        }
        const int items = depth > 3 ? 0 : Pick(5);
        int lastKind = -1;      // kind of the previous item
        bool textThenComment = false;
        for (int i = 0; i < items; ++i) {
            int kind = Pick(3);  // 0 child, 1 text, 2 raw section
            if (kind == 1 && (lastKind == 1 || textThenComment)) kind = 0;
            if (kind == 0) {
                Fill(AppendChild(node, Name().c_str()), depth + 1);
                textThenComment = false;
            } else if (kind == 1) {
                AppendText(node, Value(true));
                textThenComment = false;
            } else {
                const int raw = Pick(3) == 0 ? kRawCData : (Pick(2) ? kRawComment : kRawPre);
                const DomRawDelimiter& d = kDomRawDelimiters[raw];
                AppendRawSection(node, RawContent(d.close), d.open, d.close);
                textThenComment = lastKind == 1 && raw == kRawComment;
            }
            lastKind = kind;
        }
    }

    std::mt19937 rng_;
};

std::u16string Flat(const DomNode& node) {
    std::u16string out;
    if (node) RenderDomNode(*node.get(), out, -1);
    return out;
}

}  // namespace

TEST(DomRoundTrip, GeneratedTreesSurviveWriteAndRead) {
    TempDir dir;
    const auto path = dir.path() / "round.config";
    TreeGenerator generator(20240611);
    for (int i = 0; i < 400; ++i) {
        const DomNode tree = generator.Make();
        DomParseResult result;
        DomNode back;
        if (i < 10) {
            // A few through the file writer and reader themselves.
            ASSERT_EQ(kDomOk, SaveDomFile(tree, U16(path.string())));
            back = ParseDomFile(U16(path.string()), &result);
        } else {
            std::u16string text;
            RenderDomNode(*tree.get(), text, 0);
            back = ParseDomText(text.c_str(), &result);
        }
        ASSERT_EQ(kDomOk, result.code) << "tree " << i << ": " << U8(Flat(tree));
        ASSERT_EQ(U8(Flat(tree)), U8(Flat(back))) << "tree " << i;
    }
}
