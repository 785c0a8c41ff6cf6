#include "settingslib/DomReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

namespace cantorel {

namespace {

enum TokenKind : int {
    kTokText = 0,
    kTokQuoted = 1,
    kTokOpen = 2,          // <
    kTokOpenEnd = 3,       // </
    kTokClose = 4,         // >
    kTokEquals = 5,        // =
    kTokOpenDecl = 6,      // <?
    kTokCloseEmpty = 7,    // />
    kTokRawOpen = 8,       // an opening raw-section delimiter
    kTokEnd = 9,
};

struct Token {
    size_t start = 0;
    size_t length = 0;
    int kind = kTokEnd;
    const DomRawDelimiter* raw = nullptr;
};

struct ReaderState {
    const char16_t* text = nullptr;  // zero-terminated
    const char16_t* pending = nullptr;  // first character of content not yet stored
    size_t pos = 0;
    size_t missingEndTagPos = 0;
    int code = kDomOk;
    const char16_t* pendingEndTag = nullptr;  // name of an end tag closing outer elements
    bool firstCall = true;
};

bool IsSpace(char16_t c) { return c == u'\n' || c == u' ' || c == u'\t' || c == u'\r'; }

bool StartsWithExact(const char16_t* at, const char16_t* prefix) {
    for (; *prefix; ++at, ++prefix)
        if (*at != *prefix) return false;
    return true;
}

constexpr size_t kNotFound = static_cast<size_t>(-1);

// Offset of the first `what` at or after `from` in the terminated text.
size_t FindExact(const char16_t* t, size_t from, const char16_t* what) {
    for (size_t k = from; t[k]; ++k)
        if (StartsWithExact(t + k, what)) return k;
    return kNotFound;
}

Token ReadDomToken(ReaderState& st) {
    const char16_t* t = st.text;
    size_t& p = st.pos;
    while (IsSpace(t[p])) ++p;
    Token tok;
    tok.start = p;
    if (!t[p]) return tok;
    for (const DomRawDelimiter& d : kDomRawDelimiters) {
        if (StartsWithExact(t + p, d.open)) {
            tok.kind = kTokRawOpen;
            tok.raw = &d;
            tok.length = d.openLength;
            p += d.openLength;
            return tok;
        }
    }
    auto single = [&](int kind, size_t length) {
        tok.kind = kind;
        tok.length = length;
        p += length;
        return tok;
    };
    const char16_t c = t[p];
    if (c == u'"' || c == u'\'') {
        size_t j = p + 1;
        while (t[j] && t[j] != c && t[j] != u'<') ++j;
        if (t[j] == c) return single(kTokQuoted, j + 1 - p);
        // No closing quote before markup: an ordinary text starting with it.
    } else if (c == u'/' && t[p + 1] == u'>') {
        return single(kTokCloseEmpty, 2);
    } else if (c == u'<') {
        if (t[p + 1] == u'/') return single(kTokOpenEnd, 2);
        if (t[p + 1] == u'?') return single(kTokOpenDecl, 2);
        return single(kTokOpen, 1);
    } else if (c == u'=') {
        return single(kTokEquals, 1);
    } else if (c == u'>') {
        return single(kTokClose, 1);
    }
    size_t j = p + 1;
    while (t[j] && !IsSpace(t[j]) && t[j] != u'<' && t[j] != u'>' && t[j] != u'=' &&
           !(t[j] == u'/' && t[j + 1] == u'>'))
        ++j;
    tok.kind = kTokText;
    tok.length = j - p;
    p = j;
    if (IsSpace(t[p])) ++p;
    return tok;
}

int DigitValue(char16_t c, int base) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (base == 16 && c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (base == 16 && c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Decodes entities and character references of at most `length` characters.
std::optional<WString> UnescapeDomText(const char16_t* text, size_t length, ReaderState& st) {
    WString out;
    out.reserve(length);
    size_t i = 0;
    while (i < length && text[i]) {
        if (text[i] != u'&') {
            out.push_back(text[i++]);
            continue;
        }
        if (i + 1 < length && text[i + 1] == u'#') {
            size_t j = i + 2;
            int base = 10;
            if (j < length && (text[j] == u'x' || text[j] == u'X')) {
                base = 16;
                ++j;
            }
            uint32_t value = 0;
            for (;; ++j) {
                if (j >= length || !text[j]) {
                    st.code = kDomUnknownEntity;
                    return std::nullopt;
                }
                if (text[j] == u';') break;
                const int digit = DigitValue(text[j], base);
                if (digit < 0) {
                    st.code = kDomUnknownEntity;
                    return std::nullopt;
                }
                value = (value * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit)) & 0xFFFFu;
            }
            if (value == 0) return out;  // a zero code unit ends the text
            out.push_back(static_cast<char16_t>(value));
            i = j + 1;
            continue;
        }
        const DomEntity* found = nullptr;
        for (const DomEntity& e : kDomEntities) {
            if (length - i >= e.length && StartsWithNoCase(WStringView(text + i, e.length), e.text)) {
                found = &e;
                break;
            }
        }
        if (!found) {
            st.code = kDomUnknownEntity;
            return std::nullopt;
        }
        out.push_back(found->character);
        i += found->length;
    }
    return out;
}

// Stores the content between the pending mark and `end` as a text of `node`.
// A text that follows "text, comment" is joined to that text and the comment
// dropped. Returns true on failure (code set).
bool FlushPendingText(const DomNode& node, ReaderState& st, size_t end) {
    if (!st.pending) return false;
    const char16_t* b = st.pending;
    const char16_t* e = st.text + end;
    st.pending = nullptr;
    while (b < e && IsSpace(*b)) ++b;
    while (e > b && IsSpace(e[-1])) --e;
    if (b >= e) return false;
    std::optional<WString> decoded = UnescapeDomText(b, static_cast<size_t>(e - b), st);
    if (!decoded) return true;
    DomNodeRecord& r = *node.get();
    const size_t n = r.order.size();
    if (n >= 2 && (r.order[n - 2] & 3u) == kItemText && (r.order[n - 1] & 3u) == kItemRaw &&
        r.rawSections[r.order[n - 1] >> 2].open == kDomRawDelimiters[kRawComment].open) {
        const size_t textIndex = r.order[n - 2] >> 2;
        RemoveRawSection(node, r.order[n - 1] >> 2);
        r.texts[textIndex] += *decoded;
    } else {
        AppendText(node, std::move(*decoded));
    }
    return false;
}

// Reads a raw section whose opening delimiter was just consumed. Returns true
// on failure (code 7, position left right after the opening delimiter).
bool ParseRawSection(const DomNode& node, ReaderState& st, const DomRawDelimiter& d) {
    const char16_t* t = st.text;
    const size_t contentStart = st.pos;
    size_t contentEnd = kNotFound;
    const char16_t* close = d.close;
    if (&d == &kDomRawDelimiters[kRawDoctype]) {
        size_t j = contentStart;
        while (t[j] && t[j] != u'>' && t[j] != u'<') ++j;
        if (!t[j]) {
            st.code = kDomUnmatchedClearTagEnd;
            return true;
        }
        if (t[j] == u'>')
            contentEnd = j;
        else
            close = kDoctypeSubsetClose;
    }
    if (contentEnd == kNotFound) {
        contentEnd = FindExact(t, contentStart, close);
        if (contentEnd == kNotFound) {
            st.code = kDomUnmatchedClearTagEnd;
            return true;
        }
    }
    st.pos = contentEnd + WLength(close);
    AppendRawSection(node, WString(t + contentStart, contentEnd - contentStart), d.open, close);
    return false;
}

// A name that starts with a quote (one without its closing quote before
// the next markup) cannot be written back: followed by an attribute's
// quoted value it would read as one quoted text. Such a document is refused.
bool StartsWithQuote(const char16_t* t, const Token& tok) {
    return tok.length > 0 && (t[tok.start] == u'"' || t[tok.start] == u'\'');
}

// An element name that, written after its '<', would begin a comment, a
// CDATA section or a document type ("<\n!--" read as an element): it
// could not be written back as an element.
bool OpensRawSection(const char16_t* t, const Token& tok) {
    for (const char16_t* open : {u"!--", u"![CDATA[", u"!DOCTYPE"}) {
        const WStringView prefix(open);
        if (WStringView(t + tok.start, tok.length).substr(0, prefix.size()) == prefix) return true;
    }
    return false;
}

bool MatchEndTagName(const std::optional<WString>& name, const char16_t* at) {
    if (!name) return false;
    for (size_t i = 0; i < name->size(); ++i)
        if (!at[i] || FoldAscii(at[i]) != FoldAscii((*name)[i])) return false;
    const char16_t next = at[name->size()];
    return IsSpace(next) || next == u'/' || next == u'<' || next == u'>' || next == u'=';
}

// Parses the content of `node` (the nameless root starts outside any tag,
// every other node inside its own start tag). Returns true when the element
// was closed, false at the end of the text or on an error.
bool ParseDomElement(const DomNode& node, ReaderState& st) {
    enum class State { Outside, AttributeName, Equals, Value };
    State state = st.firstCall ? State::Outside : State::AttributeName;
    st.firstCall = false;
    DomNodeRecord& r = *node.get();
    const char16_t* t = st.text;
    WString attributeName;

    for (;;) {
        const Token tok = ReadDomToken(st);
        if (tok.kind == kTokEnd) {
            if (!r.declaration && r.parent) {
                st.code = kDomUnmatchedEndTagWarning;
                st.missingEndTagPos = st.pos;
            }
            FlushPendingText(node, st, tok.start);
            return false;
        }
        switch (state) {
        case State::Outside:
            if (tok.kind == kTokOpen || tok.kind == kTokOpenDecl) {
                if (FlushPendingText(node, st, tok.start)) return false;
                const Token name = ReadDomToken(st);
                if (name.kind != kTokText || StartsWithQuote(t, name) || OpensRawSection(t, name)) {
                    st.code = kDomMissingStartTagName;
                    return false;
                }
                WString childName(t + name.start, name.length);
                // "<?name?>": a declaration without attributes ends at its
                // name, as one with attributes ends at the last of them. Read
                // otherwise it would take in everything after it, and the
                // writer's own "<?name?>" would not load back.
                const bool bareDeclaration = tok.kind == kTokOpenDecl && childName.size() > 1 &&
                                             childName.back() == u'?' && t[st.pos] == u'>';
                if (bareDeclaration) childName.pop_back();
                DomNode child = AppendChild(node, std::move(childName), tok.kind == kTokOpenDecl);
                if (bareDeclaration) {
                    ++st.pos;
                    st.pending = t + st.pos;
                    break;
                }
                if (!ParseDomElement(child, st)) return false;
                if (st.pendingEndTag) {
                    if (!r.name) {
                        st.code = kDomUnmatchedEndTag;
                        return false;
                    }
                    if (MatchEndTagName(r.name, st.pendingEndTag)) st.pendingEndTag = nullptr;
                    return true;
                }
            } else if (tok.kind == kTokOpenEnd) {
                if (FlushPendingText(node, st, tok.start)) return false;
                const Token name = ReadDomToken(st);
                if (name.kind != kTokText) {
                    st.code = kDomMissingEndTagName;
                    return false;
                }
                const Token close = ReadDomToken(st);
                if (close.kind != kTokClose) {
                    st.code = kDomMissingEndTagName;
                    return false;
                }
                st.pending = t + st.pos;
                if (!MatchEndTagName(r.name, t + name.start)) {
                    st.code = kDomUnmatchedEndTagWarning;
                    st.missingEndTagPos = st.pos;
                    st.pendingEndTag = t + name.start;
                }
                return true;
            } else if (tok.kind == kTokRawOpen) {
                if (FlushPendingText(node, st, tok.start)) return false;
                if (ParseRawSection(node, st, *tok.raw)) return false;
                st.pending = t + st.pos;
            }
            // Any other token is part of the content.
            break;

        case State::AttributeName:
            if (tok.kind == kTokText && StartsWithQuote(t, tok)) {
                st.code = kDomUnexpectedToken;
                return false;
            } else if (tok.kind == kTokText) {
                attributeName.assign(t + tok.start, tok.length);
                state = State::Equals;
            } else if (tok.kind == kTokClose) {
                st.pending = t + st.pos;
                state = State::Outside;
            } else if (tok.kind == kTokCloseEmpty) {
                st.pending = t + st.pos;
                return true;
            } else {
                st.code = kDomUnexpectedToken;
                return false;
            }
            break;

        case State::Equals:
            if (tok.kind == kTokText && StartsWithQuote(t, tok)) {
                st.code = kDomUnexpectedToken;
                return false;
            } else if (tok.kind == kTokText) {
                AppendAttribute(node, std::move(attributeName), std::nullopt);
                attributeName.assign(t + tok.start, tok.length);
            } else if (tok.kind == kTokClose || tok.kind == kTokCloseEmpty) {
                st.pending = t + st.pos;
                int kind = tok.kind;
                if (r.declaration && !attributeName.empty() && attributeName.back() == u'?') {
                    attributeName.pop_back();
                    // A nested processing instruction ends at its "?>".
                    if (r.parent && r.parent->parent) kind = kTokCloseEmpty;
                }
                if (!attributeName.empty()) AppendAttribute(node, std::move(attributeName), std::nullopt);
                attributeName.clear();
                if (kind == kTokCloseEmpty) return true;
                state = State::Outside;
            } else if (tok.kind == kTokEquals) {
                state = State::Value;
            } else {
                st.code = kDomUnexpectedToken;
                return false;
            }
            break;

        case State::Value:
            if (tok.kind == kTokText || tok.kind == kTokQuoted) {
                WStringView value(t + tok.start, tok.length);
                if (r.declaration && !value.empty() && value.back() == u'?') value.remove_suffix(1);
                if (!attributeName.empty()) {
                    if (tok.kind == kTokQuoted) value = value.substr(1, value.size() - 2);
                    std::optional<WString> decoded = UnescapeDomText(value.data(), value.size(), st);
                    if (!decoded) return false;
                    AppendAttribute(node, std::move(attributeName), std::move(decoded));
                }
                attributeName.clear();
                state = State::AttributeName;
            } else {
                st.code = kDomUnexpectedToken;
                return false;
            }
            break;
        }
    }
}

}  // namespace

DomNode ParseDomText(const char16_t* text, DomParseResult* result) {
    DomParseResult local;
    DomParseResult& res = result ? *result : local;
    res = DomParseResult{};
    if (!text) {
        res.code = kDomNoElements;
        return DomNode();
    }
    ReaderState st;
    st.text = text;
    st.pending = text;
    DomNode root = NewNodeRecord(nullptr, std::nullopt, false);
    ParseDomElement(root, st);

    int code = st.code;
    if ((code == kDomOk || code == kDomUnmatchedEndTagWarning) && root->children.empty())
        code = kDomNoTagWarning;
    DomNode top = root;
    if (root->children.size() == 1 && root->texts.empty() && root->rawSections.empty())
        top = root->children.front();
    root.Reset();  // a single top element is detached from the root here
    if (code != kDomOk && code != kDomUnmatchedEndTagWarning && code != kDomNoTagWarning)
        top.Reset();

    res.code = code;
    if (code != kDomOk) {
        res.line = 1;
        res.column = 1;
        const size_t upTo = code == kDomUnmatchedEndTagWarning ? st.missingEndTagPos : st.pos;
        for (size_t i = 0; i < upTo && text[i]; ++i) {
            if (text[i] == u'\n') {
                ++res.line;
                res.column = 1;
            } else {
                ++res.column;
            }
        }
    }
    return top;
}

namespace {

// UTF-16 without a byte order mark: markup characters are below 256, so their
// zero high bytes sit at odd offsets in little-endian text and at even ones
// in big-endian text.
bool ZerosMostlyEven(const unsigned char* b, size_t n) {
    size_t even = 0, odd = 0;
    for (size_t i = 0; i < n; ++i)
        if (b[i] == 0) ++(i % 2 ? odd : even);
    return even > odd;
}

}  // namespace

WString DecodeDomFileBytes(const std::string& bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    auto utf16 = [&](size_t from, bool bigEndian) {
        WString out;
        out.reserve((n - from + 1) / 2);
        for (size_t i = from; i < n; i += 2) {
            const unsigned lo = b[i];
            const unsigned hi = i + 1 < n ? b[i + 1] : 0;  // an odd last byte pairs with zero
            out.push_back(static_cast<char16_t>(bigEndian ? (lo << 8) | hi : (hi << 8) | lo));
        }
        return out;
    };
    WString text;
    if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE)
        text = utf16(2, false);
    else if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF)
        text = utf16(2, true);
    else if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
        text = Utf8ToUtf16(std::string_view(bytes).substr(3));
    else if (std::memchr(b, 0, n))
        text = utf16(0, ZerosMostlyEven(b, n));  // narrow text holds no zero bytes
    else if (IsValidUtf8(bytes))
        text = Utf8ToUtf16(bytes);
    else
        text = Cp1252ToUtf16(bytes);
    // The document ends at its first zero character.
    const size_t zero = text.find(u'\0');
    if (zero != WString::npos) text.resize(zero);
    return text;
}

DomNode ParseDomFile(WStringView path, DomParseResult* result) {
    DomParseResult local;
    DomParseResult& res = result ? *result : local;
    res = DomParseResult{};
    const std::string native = Utf16ToUtf8(path);
    // Non-blocking so that a FIFO in the file's place cannot hang the caller.
    const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        res.code = kDomFileNotFound;
        return DomNode();
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        res.code = kDomFileNotFound;
        return DomNode();
    }
    std::string bytes;
    bytes.reserve(static_cast<size_t>(info.st_size));
    char chunk[16384];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            res.code = kDomFileNotFound;
            return DomNode();
        }
        if (got == 0) break;
        bytes.append(chunk, static_cast<size_t>(got));
    }
    ::close(fd);
    if (bytes.empty()) {
        res.code = kDomNoData;
        return DomNode();
    }
    const WString text = DecodeDomFileBytes(bytes);
    return ParseDomText(text.c_str(), &res);
}

std::string FormatDomLoadError(WStringView path, const DomParseResult& result) {
    std::string message = "XML Parsing error inside file '";
    message += Utf16ToUtf8(path);
    message += "'.\n";
    message += DomErrorText(result.code);
    message += "\nAt line " + std::to_string(result.line) + ", column " +
               std::to_string(result.column) + ".\n";
    return message;
}

DomNode LoadDomFileOrReport(WStringView path, DomParseResult* result) {
    DomParseResult local;
    DomParseResult& res = result ? *result : local;
    DomNode tree = ParseDomFile(path, &res);
    if (res.code != kDomOk) {
        const std::string message = FormatDomLoadError(path, res);
        std::fputs(message.c_str(), stdout);
        std::fflush(stdout);
        tree.Reset();
    }
    return tree;
}

}  // namespace cantorel
