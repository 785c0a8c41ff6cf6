#pragma once
// In-memory document tree of the settings file, its text rendering and the
// UTF-16 file writer.
//
// A tree is made of reference-counted records reached through DomNode
// handles. A parent holds each child through a handle in its child array; a
// child's pointer back to its parent is not counted. Counts are plain
// integers: one thread at a time uses a tree.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settingslib/TextConv.h"

namespace cantorel {

// Result codes of the reader and the writer; DomErrorText gives their texts.
enum DomError : int {
    kDomOk = 0,
    kDomUnmatchedEndTagWarning = 1,
    kDomNoTagWarning = 2,
    kDomNoData = 3,
    kDomMissingStartTagName = 4,
    kDomMissingEndTagName = 5,
    kDomUnmatchedEndTag = 6,
    kDomUnmatchedClearTagEnd = 7,
    kDomUnexpectedToken = 8,
    kDomNoElements = 9,
    kDomFileNotFound = 10,
    kDomRootNotFound = 11,
    kDomUnknownEntity = 12,
    kDomNarrowTextUnstorable = 13,
    kDomWideNarrowConversion = 14,
    kDomOpenForWriteFailed = 15,
    kDomWriteFailed = 16,
};

const char* DomErrorText(int code);

// Raw sections kept verbatim, in the order the reader tries their openings.
struct DomRawDelimiter {
    const char16_t* open;
    const char16_t* close;
    size_t openLength;
};
enum DomRawKind : int { kRawCData = 0, kRawDoctype = 1, kRawComment = 2, kRawPre = 3 };
// Defined once in the library: raw sections keep pointers to these texts and
// are told apart by them.
extern const DomRawDelimiter kDomRawDelimiters[4];
// Closing delimiter of a document-type declaration with an internal subset.
extern const char16_t* const kDoctypeSubsetClose;

struct DomEntity {
    const char16_t* text;
    size_t length;
    char16_t character;
};
extern const DomEntity kDomEntities[5];

struct DomAttribute {
    WString name;
    std::optional<WString> value;  // absent for an attribute written without value
};

struct DomRawSection {
    WString content;
    const char16_t* open;   // one of the constant delimiter texts above
    const char16_t* close;
};

// Kinds of the entries of a record's order list: index * 4 + kind.
enum DomItemKind : uint32_t { kItemChild = 0, kItemAttribute = 1, kItemText = 2, kItemRaw = 3 };

struct DomNodeRecord;

class DomNode {
public:
    DomNode() noexcept = default;
    DomNode(const DomNode& other) noexcept;
    DomNode(DomNode&& other) noexcept : rec_(other.rec_) { other.rec_ = nullptr; }
    DomNode& operator=(const DomNode& other) noexcept;
    DomNode& operator=(DomNode&& other) noexcept;
    ~DomNode() { Reset(); }

    // Gives up this handle's reference; the record is destroyed at zero.
    void Reset() noexcept;
    // Wraps a record whose count already includes this handle.
    static DomNode Adopt(DomNodeRecord* record) noexcept;

    DomNodeRecord* get() const noexcept { return rec_; }
    DomNodeRecord* operator->() const noexcept { return rec_; }
    bool IsEmpty() const noexcept { return rec_ == nullptr; }
    explicit operator bool() const noexcept { return rec_ != nullptr; }

private:
    friend void UnlinkFromParent(DomNodeRecord* record);
    friend void DestroyRecord(DomNodeRecord* record);
    DomNodeRecord* Detach() noexcept {
        DomNodeRecord* r = rec_;
        rec_ = nullptr;
        return r;
    }
    DomNodeRecord* rec_ = nullptr;
};

struct DomNodeRecord {
    std::optional<WString> name;  // absent only for the parser's nameless root
    bool declaration = false;     // written as <?name ...?>
    DomNodeRecord* parent = nullptr;  // not counted
    std::vector<DomNode> children;
    std::vector<WString> texts;
    std::vector<DomRawSection> rawSections;
    std::vector<DomAttribute> attributes;
    std::vector<uint32_t> order;  // children, texts and raw sections in document order
    int32_t refCount = 0;

    bool HasName() const { return name && !name->empty(); }
    size_t ItemCount() const { return children.size() + texts.size() + rawSections.size(); }
};

// A new record with count 1 and no content. `parent` is recorded but the
// record is not added to it.
DomNode NewNodeRecord(DomNodeRecord* parent, std::optional<WString> name, bool declaration);
// A top node <?xml ...?> without attributes.
DomNode NewDeclarationNode();

// Appends a child element after all existing items and returns a handle to
// it; a null name gives the empty handle. `node` must not be empty.
DomNode AppendChild(const DomNode& node, const char16_t* name);
DomNode AppendChild(const DomNode& node, WString name, bool declaration);
// A null name or the empty handle adds nothing.
void AppendAttribute(const DomNode& node, const char16_t* name, const char16_t* value);
void AppendAttribute(const DomNode& node, WString name, std::optional<WString> value);
void AppendText(const DomNode& node, WString text);
void AppendRawSection(const DomNode& node, WString content, const char16_t* open,
                      const char16_t* close);
// Gives the first attribute named "value" (case ignored) the new value, or
// appends such an attribute.
void SetValueAttribute(const DomNode& node, std::optional<WString> value);
// The first attribute named `name` (case ignored), or null.
DomAttribute* FindAttribute(const DomNode& node, WStringView name);

// The first child at or after *position (0 when null) named `name`, case
// ignored; on a match *position becomes the child's index plus 1.
DomNode FindChildByName(const DomNode& node, WStringView name, int* position = nullptr);
DomNode FirstChild(const DomNode& node);

// Detaches the node from its parent and deletes its whole content, children's
// content included whatever their counts; the record stays while handles
// remain, without name, parent or content.
void ClearNodeContent(const DomNode& node);
// Removes the record from its parent's child array and order list.
void UnlinkFromParent(DomNodeRecord* record);
void RemoveRawSection(const DomNode& node, size_t index);
void DestroyRecord(DomNodeRecord* record);

// Appends the rendering of `node` to `out` and returns its length in
// characters. `format` is -1 for no layout, else the indentation depth.
size_t RenderDomNode(const DomNodeRecord& node, WString& out, int format);
// Appends `text` with the five entity characters escaped.
void EscapeDomText(WStringView text, WString& out);

// Writes the tree as UTF-16LE with a BOM, LF line ends and TAB indentation.
// The bytes go to a temporary file beside `path` that then replaces it, so a
// failed write leaves the old file as it was. Returns 0, 15 or 16.
int SaveDomFile(const DomNode& node, WStringView path);

}  // namespace cantorel
