#include "base/Registry.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/RegistryStore.h"

using platform::RegistryScope;
using platform::RegistryStore;
using platform::RegistryValue;

namespace {

bool NeedsWrite(std::uint32_t access) {
    return (access & (RegistryKey::kSetValue | RegistryKey::kCreateSubKey)) != 0;
}

std::uint32_t EffectiveAccess(std::uint32_t access) {
    return access == RegistryKey::kFullAccess ? RegistryKey::kAllAccess : access;
}

}  // namespace

RegistryKey::RegistryKey(const std::string& path, bool create, std::uint32_t access)
    : m_path(path), m_access(access), m_store(RegistryStore::Current()) {
    const std::uint32_t eff = EffectiveAccess(access);
    for (RegistryScope scope : {RegistryScope::Machine, RegistryScope::User}) {
        if (!m_store->KeyExists(scope, path)) continue;
        if (NeedsWrite(eff) && !m_store->IsWritable(scope)) {
            m_openResult = kAccessDenied;
            continue;
        }
        m_openResult = kSuccess;
        m_scope = static_cast<int>(scope);
        break;
    }
    if (m_openResult != kSuccess && create) Create(path);
}

RegistryKey::~RegistryKey() = default;

platform::RegistryScope RegistryKey::GetScope() const { return static_cast<RegistryScope>(m_scope); }

bool RegistryKey::Create(const std::string& path) {
    m_path = path;
    for (RegistryScope scope : {RegistryScope::Machine, RegistryScope::User}) {
        if (!m_store->IsWritable(scope)) continue;
        if (m_store->CreateKey(scope, path)) {
            m_openResult = kSuccess;
            m_scope = static_cast<int>(scope);
            return true;
        }
    }
    m_openResult = kAccessDenied;
    return false;
}

bool RegistryKey::CanWrite() const { return IsOpen() && NeedsWrite(EffectiveAccess(m_access)); }

std::string RegistryKey::ReadString(const std::string& name, const char* defaultValue, std::size_t bufferSize) const {
    std::string value;
    if (IsOpen()) {
        std::string cut = name.substr(0, 259);
        if (auto v = m_store->GetValue(GetScope(), m_path, cut)) {
            std::vector<std::uint8_t> data = v->Data();
            if (data.size() <= bufferSize) {
                std::size_t n = 0;
                while (n < data.size() && data[n] != 0) ++n;
                value.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
            }
        }
    }
    if (!value.empty() || !defaultValue) return value;
    return defaultValue;
}

std::int32_t RegistryKey::ReadInt(const std::string& name, std::int32_t def) const {
    std::string text = ReadString(name, nullptr, 16);
    if (text.empty()) return def;
    long v = std::strtol(text.c_str(), nullptr, 10);
    // The format's numbers are 32-bit: out-of-range texts saturate as a
    // 32-bit strtol does.
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

std::uint32_t RegistryKey::ReadDword(const std::string& name, std::uint32_t def) const {
    if (!IsOpen()) return def;
    auto v = m_store->GetValue(GetScope(), m_path, name.substr(0, 29));
    if (!v) return def;
    std::vector<std::uint8_t> data = v->Data();
    if (data.size() > 4) return def;
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < data.size(); ++i) n |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    return n;
}

bool RegistryKey::WriteInt(const std::string& name, std::int32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", value);
    return WriteString(name, buf);
}

bool RegistryKey::WriteDword(const std::string& name, std::uint32_t value) {
    if (!CanWrite()) return false;
    return m_store->SetValue(GetScope(), m_path, name, RegistryValue::Number(value));
}

bool RegistryKey::WriteString(const std::string& name, const std::string& value) {
    if (!CanWrite()) return false;
    return m_store->SetValue(GetScope(), m_path, name, RegistryValue::Text(value));
}
