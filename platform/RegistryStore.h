// File-backed settings store with two scopes, machine and user.
//
// The settings keys of the product ("SOFTWARE\QOR\Vindara", "...\Video",
// "...\Debug") live in two text files, one per scope. Callers look a key up in
// the machine scope first and in the user scope second (RegistryKey in
// base/Registry.h does this); the store itself only answers per scope.
//
// Where the files are:
//   GAVEX_REGISTRY_DIR set:   <dir>/machine.reg and <dir>/user.reg
//   otherwise:                /etc/gavex/machine.reg and
//                             $XDG_CONFIG_HOME/gavex/user.reg
//                             (~/.config/gavex/user.reg without XDG_CONFIG_HOME)
//
// File format (UTF-8 text, one item per line):
//   ; comment            (also '#'); blank lines are ignored
//   [SOFTWARE\QOR\Vindara\Video]
//   "MaxFrames"="500"    text value; escapes inside quotes: \\ \" \n \r \t
//   "Level"=dword:00000003
//                        32-bit number, exactly 8 hexadecimal digits
//   "Blob"=hex:01,ff,20  raw bytes, comma-separated hexadecimal pairs
//   @="..."              the key's unnamed value
// A value line belongs to the last key header above it. Key paths and value
// names compare without regard to ASCII case and keep their spelling. A key
// exists when it has a header of its own or is the parent of one. Any other
// line makes the whole file unparsable.
//
// Failure rules: a file that cannot be read or parsed reads as empty (every
// lookup in that scope misses) and is reported once on stderr; the store then
// refuses every write to that scope, so a damaged file is never replaced by
// less than it held. Writes re-read the file under an advisory lock
// (<file>.lock, flock) and replace it through a temporary file and rename, so
// two processes writing at once keep each other's values.
//
// A scope is writable when its file (or, before it exists, its folder) is
// writable and the file has at least one write permission bit: clearing the
// write bits (chmod a-w) makes a scope read-only even for root.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform {

enum class RegistryScope { Machine = 0, User = 1 };

struct RegistryValue {
    enum class Kind { Text, Number, Binary };
    Kind kind = Kind::Text;
    std::string text;          // Kind::Text (UTF-8, no terminating zero)
    std::uint32_t number = 0;  // Kind::Number
    std::vector<std::uint8_t> bytes;  // Kind::Binary

    static RegistryValue Text(std::string t);
    static RegistryValue Number(std::uint32_t n);
    static RegistryValue Binary(std::vector<std::uint8_t> b);

    // The value's data as the system's registry would hand it out: a text
    // with its terminating zero byte, a number as 4 little-endian bytes, raw
    // bytes unchanged.
    std::vector<std::uint8_t> Data() const;

    bool operator==(const RegistryValue&) const = default;
};

class RegistryStore {
public:
    RegistryStore(std::string machinePath, std::string userPath);
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // The process-wide store for the current value of GAVEX_REGISTRY_DIR (a
    // new store object is made when the variable has changed since the last
    // call, so tests can point it at a folder of their own).
    static std::shared_ptr<RegistryStore> Current();

    const std::string& Path(RegistryScope scope) const;

    bool KeyExists(RegistryScope scope, const std::string& keyPath);
    bool IsWritable(RegistryScope scope);
    // Creates the key (and the file and its folder when missing). True when
    // the key exists afterwards.
    bool CreateKey(RegistryScope scope, const std::string& keyPath);
    // The value, or nothing when the key or value is missing.
    std::optional<RegistryValue> GetValue(RegistryScope scope, const std::string& keyPath,
                                          const std::string& name);
    // Stores the value, creating the key when missing. False when the scope
    // cannot be written (read-only, unreadable or unparsable file, I/O error).
    bool SetValue(RegistryScope scope, const std::string& keyPath, const std::string& name,
                  const RegistryValue& value);
    bool DeleteValue(RegistryScope scope, const std::string& keyPath, const std::string& name);

    struct Contents;  // parsed file; defined in RegistryStore.cpp

private:
    struct ScopeState;
    ScopeState& State(RegistryScope scope);
    void Refresh(ScopeState& s);

    std::mutex m_mutex;
    std::unique_ptr<ScopeState> m_scopes[2];
};

}  // namespace platform
