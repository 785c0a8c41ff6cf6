#include "settingslib/DomTree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>

namespace cantorel {

const DomRawDelimiter kDomRawDelimiters[4] = {
    {u"<![CDATA[", u"]]>", 9},
    {u"<!DOCTYPE", u">", 9},
    {u"<!--", u"-->", 4},
    {u"<PRE>", u"</PRE>", 5},
};
const char16_t* const kDoctypeSubsetClose = u"]>";

const DomEntity kDomEntities[5] = {
    {u"&amp;", 5, u'&'}, {u"&lt;", 4, u'<'}, {u"&gt;", 4, u'>'},
    {u"&quot;", 6, u'"'}, {u"&apos;", 6, u'\''},
};

const char* DomErrorText(int code) {
    static constexpr const char* kTexts[] = {
        "No error",
        "Warning: Unmatched end tag",
        "Warning: No XML tag found",
        "Error: No XML data",
        "Error: Missing start tag name",
        "Error: Missing end tag name",
        "Error: Unmatched end tag",
        "Error: Unmatched clear tag end",
        "Error: Unexpected token found",
        "Error: No elements found",
        "Error: File not found",
        "Error: Root element not found",
        "Error: Unknown character entity",
        "Error: Character cannot be stored as narrow text.",
        "Error: unable to convert between WideChar and MultiByte chars",
        "Error: unable to open file for writing",
        "Error: cannot write into file",
        "Warning: Encoded text length is not a multiple of 4",
        "Error: Encoded text holds an illegal character",
        "Warning: Encoded text is truncated",
        "Error: Decoding buffer is too small",
    };
    if (code < 0 || code >= static_cast<int>(std::size(kTexts))) return "Unknown";
    return kTexts[code];
}

// ---------------------------------------------------------------- handles

DomNode::DomNode(const DomNode& other) noexcept : rec_(other.rec_) {
    if (rec_) ++rec_->refCount;
}

DomNode& DomNode::operator=(const DomNode& other) noexcept {
    DomNode copy(other);
    std::swap(rec_, copy.rec_);
    return *this;
}

DomNode& DomNode::operator=(DomNode&& other) noexcept {
    DomNode taken(std::move(other));
    std::swap(rec_, taken.rec_);
    return *this;
}

void DomNode::Reset() noexcept {
    DomNodeRecord* r = rec_;
    rec_ = nullptr;
    if (r && --r->refCount == 0) DestroyRecord(r);
}

DomNode DomNode::Adopt(DomNodeRecord* record) noexcept {
    DomNode h;
    h.rec_ = record;
    return h;
}

// ---------------------------------------------------------------- records

namespace {

void RemoveOrderEntry(DomNodeRecord& r, DomItemKind kind, size_t index) {
    const uint32_t entry = static_cast<uint32_t>(index * 4 + kind);
    auto it = std::find(r.order.begin(), r.order.end(), entry);
    if (it == r.order.end()) return;
    it = r.order.erase(it);
    for (; it != r.order.end(); ++it)
        if ((*it & 3u) == kind) *it -= 4;
}

size_t ChildIndex(const DomNodeRecord& parent, const DomNodeRecord* child) {
    for (size_t i = 0; i < parent.children.size(); ++i)
        if (parent.children[i].get() == child) return i;
    return parent.children.size();
}

void ClearContent(DomNodeRecord* r) {
    std::vector<DomNode> children = std::move(r->children);
    r->children.clear();
    for (DomNode& c : children) {
        c->parent = nullptr;
        ClearContent(c.get());
    }
    children.clear();
    r->texts.clear();
    r->rawSections.clear();
    r->attributes.clear();
    r->order.clear();
    r->name.reset();
    r->declaration = false;
}

}  // namespace

void DestroyRecord(DomNodeRecord* r) {
    if (DomNodeRecord* p = r->parent) {
        // The parent's handle is the reference that just ran out; take it out
        // of the parent without lowering the count again.
        const size_t i = ChildIndex(*p, r);
        if (i < p->children.size()) {
            RemoveOrderEntry(*p, kItemChild, i);
            p->children[i].Detach();
            p->children.erase(p->children.begin() + static_cast<std::ptrdiff_t>(i));
        }
        r->parent = nullptr;
    }
    for (DomNode& c : r->children) c->parent = nullptr;
    r->children.clear();
    delete r;
}

void UnlinkFromParent(DomNodeRecord* r) {
    DomNodeRecord* p = r ? r->parent : nullptr;
    if (!p) return;
    const size_t i = ChildIndex(*p, r);
    r->parent = nullptr;
    if (i >= p->children.size()) return;
    RemoveOrderEntry(*p, kItemChild, i);
    DomNode held = std::move(p->children[i]);
    p->children.erase(p->children.begin() + static_cast<std::ptrdiff_t>(i));
    // `held` releases the parent's reference here.
}

DomNode NewNodeRecord(DomNodeRecord* parent, std::optional<WString> name, bool declaration) {
    auto* r = new DomNodeRecord;
    r->name = std::move(name);
    r->declaration = declaration;
    r->parent = parent;
    r->refCount = 1;
    return DomNode::Adopt(r);
}

DomNode NewDeclarationNode() { return NewNodeRecord(nullptr, WString(u"xml"), true); }

DomNode AppendChild(const DomNode& node, WString name, bool declaration) {
    DomNodeRecord* r = node.get();
    if (!r) return DomNode();
    DomNode child = NewNodeRecord(r, std::move(name), declaration);
    r->order.push_back(static_cast<uint32_t>(r->children.size() * 4 + kItemChild));
    r->children.push_back(child);
    return child;
}

DomNode AppendChild(const DomNode& node, const char16_t* name) {
    if (!name) return DomNode();
    return AppendChild(node, WString(name), false);
}

void AppendAttribute(const DomNode& node, WString name, std::optional<WString> value) {
    if (!node) return;
    node->attributes.push_back(DomAttribute{std::move(name), std::move(value)});
}

void AppendAttribute(const DomNode& node, const char16_t* name, const char16_t* value) {
    if (!name) return;
    std::optional<WString> v;
    if (value) v = WString(value);
    AppendAttribute(node, WString(name), std::move(v));
}

void AppendText(const DomNode& node, WString text) {
    DomNodeRecord* r = node.get();
    if (!r) return;
    r->order.push_back(static_cast<uint32_t>(r->texts.size() * 4 + kItemText));
    r->texts.push_back(std::move(text));
}

void AppendRawSection(const DomNode& node, WString content, const char16_t* open,
                      const char16_t* close) {
    DomNodeRecord* r = node.get();
    if (!r) return;
    r->order.push_back(static_cast<uint32_t>(r->rawSections.size() * 4 + kItemRaw));
    r->rawSections.push_back(DomRawSection{std::move(content), open, close});
}

DomAttribute* FindAttribute(const DomNode& node, WStringView name) {
    if (!node) return nullptr;
    for (DomAttribute& a : node->attributes)
        if (EqualsNoCase(a.name, name)) return &a;
    return nullptr;
}

void SetValueAttribute(const DomNode& node, std::optional<WString> value) {
    if (!node) return;
    if (DomAttribute* a = FindAttribute(node, u"value"))
        a->value = std::move(value);
    else
        AppendAttribute(node, WString(u"value"), std::move(value));
}

DomNode FindChildByName(const DomNode& node, WStringView name, int* position) {
    if (!node) return DomNode();
    const auto& children = node->children;
    size_t start = position && *position > 0 ? static_cast<size_t>(*position) : 0;
    for (size_t i = start; i < children.size(); ++i) {
        const DomNodeRecord* c = children[i].get();
        if (c->name && EqualsNoCase(*c->name, name)) {
            if (position) *position = static_cast<int>(i + 1);
            return children[i];
        }
    }
    return DomNode();
}

DomNode FirstChild(const DomNode& node) {
    if (!node || node->children.empty()) return DomNode();
    return node->children.front();
}

void ClearNodeContent(const DomNode& node) {
    if (!node) return;
    DomNode keep = node;  // the record must outlive its unlinking
    UnlinkFromParent(keep.get());
    ClearContent(keep.get());
}

void RemoveRawSection(const DomNode& node, size_t index) {
    DomNodeRecord* r = node.get();
    if (!r || index >= r->rawSections.size()) return;
    RemoveOrderEntry(*r, kItemRaw, index);
    r->rawSections.erase(r->rawSections.begin() + static_cast<std::ptrdiff_t>(index));
}

// ---------------------------------------------------------------- rendering

void EscapeDomText(WStringView text, WString& out) {
    for (char16_t c : text) {
        const DomEntity* e = nullptr;
        for (const DomEntity& entity : kDomEntities)
            if (entity.character == c) e = &entity;
        if (e)
            out.append(e->text, e->length);
        else
            out.push_back(c);
    }
}

// Layout rules: one TAB per depth, LF after every line. `f` is -1 for no
// layout, else the depth; an element holding a single text is written on one
// line (f = -2 inside it). A declaration is never closed: its children follow
// at its own depth.
size_t RenderDomNode(const DomNodeRecord& n, WString& out, int f) {
    const size_t start = out.size();
    const size_t k = n.ItemCount();
    const bool named = n.HasName();
    const int depth = f;
    if (f >= 0 && k == 1 && n.texts.size() == 1 && !n.declaration) f = -2;
    auto tabs = [&out](int count) {
        if (count > 0) out.append(static_cast<size_t>(count), u'\t');
    };

    if (named) {
        tabs(depth);
        out.push_back(u'<');
        if (n.declaration) out.push_back(u'?');
        out += *n.name;
        out.push_back(u' ');
        for (const DomAttribute& a : n.attributes) {
            if (a.name.empty()) continue;
            out += a.name;
            if (a.value) {
                out += u"=\"";
                EscapeDomText(*a.value, out);
                out.push_back(u'"');
            }
            out.push_back(u' ');
        }
        if (n.declaration) {
            out.back() = u'?';
            out.push_back(u'>');
            if (f != -1) out.push_back(u'\n');
        } else if (k > 0) {
            // "<PRE>" would read back as a raw section: the blank stays.
            if (WStringView(out).substr(out.size() - std::min<size_t>(out.size(), 5)) == u"<PRE ") out.push_back(u' ');
            out.back() = u'>';
            if (f >= 0) out.push_back(u'\n');
        } else {
            out.pop_back();
        }
    }

    const int childFormat = f == -1 ? -1 : (named && !n.declaration ? f + 1 : f);
    for (uint32_t entry : n.order) {
        const size_t index = entry >> 2;
        switch (entry & 3u) {
        case kItemText: {
            WString escaped;
            EscapeDomText(n.texts[index], escaped);
            if (escaped.empty()) break;
            if (f >= 0) {
                tabs(f + 1);
                out += escaped;
                out.push_back(u'\n');
            } else {
                out += escaped;
            }
            break;
        }
        case kItemRaw: {
            const DomRawSection& s = n.rawSections[index];
            if (f != -1) tabs(f + 1);
            out += s.open;
            out += s.content;
            out += s.close;
            if (f != -1) out.push_back(u'\n');
            break;
        }
        case kItemChild:
            RenderDomNode(*n.children[index].get(), out, childFormat);
            break;
        default:
            break;
        }
    }

    if (named && !n.declaration) {
        if (k > 0) {
            if (f >= 0) tabs(f);
            out += u"</";
            out += *n.name;
            out.push_back(u'>');
        } else {
            out += u"/>";
        }
        if (f != -1) out.push_back(u'\n');
    }
    return out.size() - start;
}

// ---------------------------------------------------------------- file writer

namespace {

bool WriteAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string TemporaryPathFor(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

}  // namespace

int SaveDomFile(const DomNode& node, WStringView path) {
    if (!node) return kDomOpenForWriteFailed;
    const DomNodeRecord& r = *node.get();
    const bool hasDeclaration =
        r.declaration || (!r.HasName() && !r.children.empty() && r.children.front()->declaration);

    WString text;
    if (!hasDeclaration) text += u"<?xml version=\"1.0\" encoding=\"utf-16\"?>\n";
    RenderDomNode(r, text, 0);

    std::string bytes;
    bytes.reserve(2 + text.size() * 2);
    bytes.push_back(char(0xFF));
    bytes.push_back(char(0xFE));
    for (char16_t c : text) {
        bytes.push_back(char(c & 0xFF));
        bytes.push_back(char(c >> 8));
    }

    const std::string target = Utf16ToUtf8(path);
    const std::string temporary = TemporaryPathFor(target);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return kDomOpenForWriteFailed;
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        (void)::fchmod(fd, old.st_mode & 07777);

    bool ok = WriteAll(fd, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        ::unlink(temporary.c_str());
        return kDomWriteFailed;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temporary.c_str());
        return err == EISDIR ? kDomOpenForWriteFailed : kDomWriteFailed;
    }
    return kDomOk;
}

}  // namespace cantorel
