#pragma once
// One product.config file: found by walking up from a start directory,
// loaded into a document tree, read and edited by key, written back when it
// has changed.
//
// File layout as written here (UTF-16LE with BOM, LF, one TAB per level):
//   <?xml version="1.0" encoding="utf-16"?>
//   <cantorel>
//   \t<add key="K" value="V"/>
//   </cantorel>
// The declaration is the top node and the section "cantorel" its child; a
// loaded file keeps everything else it holds when written back.
#include <cstdint>
#include <optional>

#include "settingslib/DomTree.h"

namespace cantorel {

// Longest path, terminator included, that the library handles.
inline constexpr size_t kMaxPath = 4096;

inline constexpr uint32_t kResultOk = 0;
inline constexpr uint32_t kResultBadArgument = 513;
inline constexpr uint32_t kResultNoConfig = 514;
inline constexpr uint32_t kResultUnknownCulture = 517;
inline constexpr uint32_t kResultNotLoadable = 518;
inline constexpr uint32_t kResultNotWritable = 519;
inline constexpr uint32_t kResultNoMemory = 521;

inline constexpr char16_t kConfigFileName[] = u"product.config";

// Appends `name` to `dir` with one '/' between them when needed.
WString JoinPath(WStringView dir, WStringView name);
// The process's current directory, or empty when it cannot be obtained.
WString CurrentDirectory();
// Looks for product.config in `startDir` (the current directory when null or
// empty) and up to three parents. On success `out` is the directory exactly
// as the walk produced it (a trailing '/' given by the caller stays); on
// failure it is empty. Anything of that name counts, directories included.
bool FindConfigDirectory(const char16_t* startDir, WString& out);

class SettingsDocument {
public:
    // A null or empty start directory means the current directory now.
    explicit SettingsDocument(const char16_t* startDir);

    // Finds the configuration directory once and keeps it.
    bool EnsureConfigDirectory();
    const std::optional<WString>& ConfigDirectory() const { return configDir_; }
    const WString& StartDirectory() const { return startDir_; }

    // Rereads the file, dropping unsaved changes: 0, 514 (no file) or 518 (the
    // file does not parse cleanly; its report goes to standard output and no
    // tree is held afterwards).
    uint32_t Load();
    // Writes the tree when modified: 0, 514, or 519 when the file could not
    // be written (the document then stays modified).
    uint32_t Save();

    // The value stored under `key` (case ignored), valid until the tree next
    // changes, or null when there is none.
    const WString* GetValue(const char16_t* key) const;
    // A null value stores an entry without value.
    void SetValue(const char16_t* key, const char16_t* value);

    bool Modified() const { return modified_; }
    const DomNode& Tree() const { return tree_; }

private:
    WString startDir_;
    std::optional<WString> configDir_;
    DomNode tree_;
    bool modified_ = false;
};

// The first "add" child of `section` whose "key" attribute equals `key`
// (case ignored); with a null key, the first "add" child with any key.
DomNode FindAddByKey(const DomNode& section, const char16_t* key);

}  // namespace cantorel
