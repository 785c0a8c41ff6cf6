// Registry accessor: the settings keys under "SOFTWARE\QOR\Vindara".
//
// A key is looked for in the machine scope first and in the user scope
// second; once a key is open, every read and write goes to that scope only (a
// value missing under an open machine key is not looked for in the user
// scope). Numbers are stored as decimal text and read back with strtol; a
// missing or empty value gives the caller's default. The accessor never
// throws and logs nothing. The store is platform::RegistryStore (see
// platform/RegistryStore.h for where the files live).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {
class RegistryStore;
enum class RegistryScope;
}

class RegistryKey {
public:
    // Access masks (the system's values, so callers can pass what they always
    // passed). 0 means full access. Writes need kSetValue; the view flags are
    // accepted and have no effect here.
    static constexpr std::uint32_t kFullAccess = 0;
    static constexpr std::uint32_t kQueryValue = 0x0001;
    static constexpr std::uint32_t kSetValue = 0x0002;
    static constexpr std::uint32_t kCreateSubKey = 0x0004;
    static constexpr std::uint32_t kRead = 0x20019;
    static constexpr std::uint32_t kWrite = 0x20006;
    static constexpr std::uint32_t kAllAccess = 0xF003F;
    static constexpr std::uint32_t kWow64_64Key = 0x0100;
    static constexpr std::uint32_t kWow64_32Key = 0x0200;

    // Open results (system status codes).
    static constexpr std::int32_t kSuccess = 0;
    static constexpr std::int32_t kFileNotFound = 2;
    static constexpr std::int32_t kAccessDenied = 5;

    // Opens path (relative to the scope's root) in the machine scope, else the
    // user scope; when neither works and create is set, creates it (Create).
    explicit RegistryKey(const std::string& path, bool create = false, std::uint32_t access = kFullAccess);
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Creates or opens path in the machine scope, else the user scope; the
    // object then refers to it. True on success.
    bool Create(const std::string& path);

    bool IsOpen() const { return m_openResult == kSuccess; }
    std::int32_t GetOpenResult() const { return m_openResult; }
    const std::string& GetPath() const { return m_path; }
    // Which scope the key was opened in (meaningful only when IsOpen()).
    platform::RegistryScope GetScope() const;

    // The value's data, whatever its kind, up to its first zero byte, read
    // into bufferSize bytes; a value that does not fit (a text needs its
    // length plus one), a missing value or a closed key give an empty text.
    // An empty result gives defaultValue when one is passed.
    std::string ReadString(const std::string& name, const char* defaultValue = nullptr,
                           std::size_t bufferSize = 1024) const;
    // ReadString with a 16-byte buffer, then strtol base 10 (leading blanks
    // and a sign allowed; no leading number gives 0); empty gives def.
    std::int32_t ReadInt(const std::string& name, std::int32_t def) const;
    // At most 4 bytes of the value's data as a little-endian number; a
    // missing or longer value, or a closed key, gives def.
    std::uint32_t ReadDword(const std::string& name, std::uint32_t def) const;

    // Stores "%d" of value as text. True on success.
    bool WriteInt(const std::string& name, std::int32_t value);
    // Store a 32-bit number / a text; true on success (callers may ignore it).
    bool WriteDword(const std::string& name, std::uint32_t value);
    bool WriteString(const std::string& name, const std::string& value);

private:
    bool CanWrite() const;

    std::int32_t m_reopen = 0;
    std::int32_t m_openResult = kFileNotFound;
    int m_scope = 0;  // platform::RegistryScope of the open key
    std::string m_path;
    std::uint32_t m_access = kFullAccess;
    std::shared_ptr<platform::RegistryStore> m_store;
};
