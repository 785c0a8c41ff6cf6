#include "settingslib/SettingsDocument.h"

#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <vector>

#include "settingslib/DomReader.h"

namespace cantorel {

WString JoinPath(WStringView dir, WStringView name) {
    WString path(dir);
    if (!path.empty() && path.back() != u'/') path.push_back(u'/');
    path += name;
    return path;
}

WString CurrentDirectory() {
    std::vector<char> buffer(kMaxPath);
    if (!::getcwd(buffer.data(), buffer.size())) return WString();
    return Utf8ToUtf16(buffer.data());
}

namespace {

bool PathExists(const WString& path) {
    struct stat info {};
    return ::stat(Utf16ToUtf8(path).c_str(), &info) == 0;
}

// One level up: drop one trailing '/', then the last component, then the
// '/' before it. A directory without any '/' becomes empty.
void GoUp(WString& dir) {
    if (dir.empty()) return;
    if (dir.back() == u'/') dir.pop_back();
    const size_t slash = dir.rfind(u'/');
    dir.resize(slash == WString::npos ? 0 : slash);
}

bool IsSectionElement(const DomNodeRecord& node) {
    return node.name && !node.declaration && EqualsNoCase(*node.name, u"cantorel");
}

// The top level of a document is the top node's items when that node is a
// declaration or the reader's nameless root, and the items of every
// declaration found there: the reader makes everything after a declaration
// its children, so a saved file read back nests what the tree held side by
// side. Calls `visit` on each element of that level until it returns true.
template <class Visit>
bool VisitTopLevel(const DomNode& node, const Visit& visit) {
    for (const DomNode& child : node->children) {
        if (child->declaration ? VisitTopLevel(child, visit) : visit(child)) return true;
    }
    return false;
}

bool HoldsTopLevel(const DomNode& tree) { return tree->declaration || !tree->name; }

// The section: the top node itself when it is "cantorel", else the first
// "cantorel" of the top level, else the first "cantorel" child of the first
// other element there (a file whose one element wraps the section; the
// element is at the top level once a declaration is written above it).
DomNode FindSection(const DomNode& tree) {
    if (!tree) return DomNode();
    if (IsSectionElement(*tree.get())) return tree;
    if (!HoldsTopLevel(tree)) return FindChildByName(tree, u"cantorel");
    DomNode found;
    VisitTopLevel(tree, [&found](const DomNode& child) {
        if (!IsSectionElement(*child.get())) return false;
        found = child;
        return true;
    });
    if (found) return found;
    VisitTopLevel(tree, [&found](const DomNode& child) {
        if (!child->name) return false;
        found = FindChildByName(child, u"cantorel");
        return true;
    });
    return found;
}

DomNode NewTopDeclaration() {
    DomNode top = NewDeclarationNode();
    AppendAttribute(top, u"version", u"1.0");
    AppendAttribute(top, u"encoding", u"utf-16");
    return top;
}

}  // namespace

bool FindConfigDirectory(const char16_t* startDir, WString& out) {
    out.clear();
    WString dir = startDir && *startDir ? WString(startDir) : CurrentDirectory();
    for (int level = 0; level < 4; ++level) {
        if (!dir.empty() && PathExists(JoinPath(dir, kConfigFileName))) {
            if (dir.size() + 1 > kMaxPath) return false;
            out = dir;
            return true;
        }
        GoUp(dir);
    }
    return false;
}

SettingsDocument::SettingsDocument(const char16_t* startDir)
    : startDir_(startDir && *startDir ? WString(startDir) : CurrentDirectory()) {}

bool SettingsDocument::EnsureConfigDirectory() {
    if (!configDir_) {
        WString found;
        if (FindConfigDirectory(startDir_.c_str(), found)) configDir_ = std::move(found);
    }
    return configDir_ && !configDir_->empty();
}

uint32_t SettingsDocument::Load() {
    if (!EnsureConfigDirectory()) return kResultNoConfig;
    try {
        const WString path = JoinPath(*configDir_, kConfigFileName);
        if (tree_) {
            ClearNodeContent(tree_);
            tree_.Reset();
        }
        modified_ = false;
        tree_ = LoadDomFileOrReport(path, nullptr);
        return tree_ ? kResultOk : kResultNotLoadable;
    } catch (const std::bad_alloc&) {
        tree_.Reset();
        return kResultNotLoadable;
    }
}

uint32_t SettingsDocument::Save() {
    if (!EnsureConfigDirectory()) return kResultNoConfig;
    if (!modified_) return kResultOk;
    if (!tree_) {
        modified_ = false;
        return kResultOk;
    }
    if (SaveDomFile(tree_, JoinPath(*configDir_, kConfigFileName)) != kDomOk)
        return kResultNotWritable;
    modified_ = false;
    return kResultOk;
}

DomNode FindAddByKey(const DomNode& section, const char16_t* key) {
    if (!section) return DomNode();
    for (const DomNode& child : section->children) {
        if (!child->name || !EqualsNoCase(*child->name, u"add")) continue;
        for (const DomAttribute& a : child->attributes) {
            if (!EqualsNoCase(a.name, u"key")) continue;
            if (!key) return child;
            if (a.value && EqualsNoCase(*a.value, key)) return child;
        }
    }
    return DomNode();
}

const WString* SettingsDocument::GetValue(const char16_t* key) const {
    if (!tree_) return nullptr;
    const DomNode section = FindSection(tree_);
    const DomNode entry = FindAddByKey(section, key);
    const DomAttribute* value = FindAttribute(entry, u"value");
    if (!value || !value->value) return nullptr;
    return &*value->value;
}

void SettingsDocument::SetValue(const char16_t* key, const char16_t* value) {
    if (!tree_) tree_ = NewTopDeclaration();
    DomNode section = FindSection(tree_);
    if (!section) {
        if (!HoldsTopLevel(tree_)) {
            // A file whose one element is not the section: the saved file
            // gains a declaration above that element anyway, so the new
            // section goes beside it, under that declaration, where it is
            // found again once the file is read back.
            DomNode top = NewTopDeclaration();
            tree_->parent = top.get();
            top->order.push_back(static_cast<uint32_t>(top->children.size() << 2) | kItemChild);
            top->children.push_back(tree_);
            tree_ = top;
        }
        section = AppendChild(tree_, u"cantorel");
    }
    DomNode entry = FindAddByKey(section, key);
    if (!entry) {
        entry = AppendChild(section, u"add");
        AppendAttribute(entry, u"key", key);
    }
    std::optional<WString> v;
    if (value) v = WString(value);
    SetValueAttribute(entry, std::move(v));
    modified_ = true;
}

}  // namespace cantorel
