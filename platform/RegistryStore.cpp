#include "platform/RegistryStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/Dir.h"

namespace platform {

RegistryValue RegistryValue::Text(std::string t) {
    RegistryValue v;
    v.kind = Kind::Text;
    v.text = std::move(t);
    return v;
}

RegistryValue RegistryValue::Number(std::uint32_t n) {
    RegistryValue v;
    v.kind = Kind::Number;
    v.number = n;
    return v;
}

RegistryValue RegistryValue::Binary(std::vector<std::uint8_t> b) {
    RegistryValue v;
    v.kind = Kind::Binary;
    v.bytes = std::move(b);
    return v;
}

std::vector<std::uint8_t> RegistryValue::Data() const {
    switch (kind) {
    case Kind::Text: {
        std::vector<std::uint8_t> d(text.begin(), text.end());
        d.push_back(0);
        return d;
    }
    case Kind::Number:
        return {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
    case Kind::Binary:
        return bytes;
    }
    return {};
}

// ---------------------------------------------------------------------------
namespace {

std::string Fold(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    return out;
}

// Key paths: no leading or trailing separators, no doubled ones.
std::string NormalizeKeyPath(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '\\' || c == '/') {
            if (!out.empty() && out.back() != '\\') out += '\\';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

struct Key {
    std::string path;  // as first written
    std::vector<std::pair<std::string, RegistryValue>> values;

    RegistryValue* Find(const std::string& name) {
        std::string f = Fold(name);
        for (auto& [n, v] : values)
            if (Fold(n) == f) return &v;
        return nullptr;
    }
};

bool ParseQuoted(const std::string& line, std::size_t& i, std::string* out) {
    if (i >= line.size() || line[i] != '"') return false;
    ++i;
    out->clear();
    while (i < line.size()) {
        char c = line[i++];
        if (c == '"') return true;
        if (c == '\\') {
            if (i >= line.size()) return false;
            char e = line[i++];
            switch (e) {
            case '\\': *out += '\\'; break;
            case '"': *out += '"'; break;
            case 'n': *out += '\n'; break;
            case 'r': *out += '\r'; break;
            case 't': *out += '\t'; break;
            default: return false;
            }
        } else {
            *out += c;
        }
    }
    return false;
}

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    out += '"';
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

struct RegistryStore::Contents {
    std::map<std::string, Key> keys;  // by folded path

    Key* FindKey(const std::string& path) {
        auto it = keys.find(Fold(NormalizeKeyPath(path)));
        return it == keys.end() ? nullptr : &it->second;
    }
    bool HasKey(const std::string& path) const {
        std::string f = Fold(NormalizeKeyPath(path));
        if (f.empty()) return !keys.empty();
        auto it = keys.lower_bound(f);
        if (it == keys.end()) return false;
        if (it->first == f) return true;
        return it->first.size() > f.size() && it->first.compare(0, f.size(), f) == 0 && it->first[f.size()] == '\\';
    }
    Key& AddKey(const std::string& path) {
        std::string n = NormalizeKeyPath(path);
        auto [it, inserted] = keys.try_emplace(Fold(n));
        if (inserted) it->second.path = n;
        return it->second;
    }

    bool Parse(const std::string& text, std::string* error);
    std::string Serialize() const;
};

bool RegistryStore::Contents::Parse(const std::string& text, std::string* error) {
    keys.clear();
    Key* current = nullptr;
    std::size_t lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::size_t i = line.find_first_not_of(" \t");
        if (i == std::string::npos || line[i] == ';' || line[i] == '#') continue;
        auto fail = [&](const char* what) {
            *error = "line " + std::to_string(lineNo) + ": " + what;
            keys.clear();
            return false;
        };
        if (line[i] == '[') {
            std::size_t close = line.find_last_of(']');
            if (close == std::string::npos || close <= i + 1) return fail("bad key header");
            if (line.find_first_not_of(" \t", close + 1) != std::string::npos) return fail("text after key header");
            std::string path = NormalizeKeyPath(line.substr(i + 1, close - i - 1));
            if (path.empty()) return fail("empty key path");
            current = &AddKey(path);
            continue;
        }
        if (!current) return fail("value outside a key");
        std::string name;
        if (line[i] == '@') {
            ++i;
        } else if (!ParseQuoted(line, i, &name)) {
            return fail("bad value name");
        }
        if (i >= line.size() || line[i] != '=') return fail("missing '='");
        ++i;
        std::string rest = line.substr(i);
        RegistryValue value;
        if (!rest.empty() && rest[0] == '"') {
            std::size_t k = 0;
            std::string t;
            if (!ParseQuoted(rest, k, &t)) return fail("bad text value");
            if (rest.find_first_not_of(" \t", k) != std::string::npos) return fail("text after value");
            value = RegistryValue::Text(std::move(t));
        } else if (rest.rfind("dword:", 0) == 0) {
            std::string h = rest.substr(6);
            while (!h.empty() && (h.back() == ' ' || h.back() == '\t')) h.pop_back();
            if (h.size() != 8) return fail("dword needs 8 hexadecimal digits");
            std::uint32_t n = 0;
            for (char c : h) {
                int d = HexDigit(c);
                if (d < 0) return fail("bad dword digit");
                n = (n << 4) | static_cast<std::uint32_t>(d);
            }
            value = RegistryValue::Number(n);
        } else if (rest.rfind("hex:", 0) == 0) {
            std::vector<std::uint8_t> bytes;
            std::string h = rest.substr(4);
            while (!h.empty() && (h.back() == ' ' || h.back() == '\t')) h.pop_back();
            std::size_t k = 0;
            while (k < h.size()) {
                if (k + 2 > h.size()) return fail("bad hex byte");
                int a = HexDigit(h[k]), b = HexDigit(h[k + 1]);
                if (a < 0 || b < 0) return fail("bad hex byte");
                bytes.push_back(static_cast<std::uint8_t>(a * 16 + b));
                k += 2;
                if (k < h.size()) {
                    if (h[k] != ',') return fail("bad hex separator");
                    ++k;
                    if (k == h.size()) return fail("bad hex byte");
                }
            }
            value = RegistryValue::Binary(std::move(bytes));
        } else {
            return fail("unknown value kind");
        }
        if (RegistryValue* v = current->Find(name)) *v = std::move(value);
        else current->values.emplace_back(name, std::move(value));
    }
    return true;
}

std::string RegistryStore::Contents::Serialize() const {
    std::string out = "; Gavex settings store\n";
    for (const auto& [folded, key] : keys) {
        out += "\n[" + key.path + "]\n";
        for (const auto& [name, v] : key.values) {
            out += name.empty() ? std::string("@") : Quote(name);
            out += '=';
            switch (v.kind) {
            case RegistryValue::Kind::Text: out += Quote(v.text); break;
            case RegistryValue::Kind::Number: {
                char buf[16];
                std::snprintf(buf, sizeof buf, "dword:%08x", v.number);
                out += buf;
                break;
            }
            case RegistryValue::Kind::Binary: {
                out += "hex:";
                for (std::size_t k = 0; k < v.bytes.size(); ++k) {
                    char buf[4];
                    std::snprintf(buf, sizeof buf, k ? ",%02x" : "%02x", v.bytes[k]);
                    out += buf;
                }
                break;
            }
            }
            out += '\n';
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
struct RegistryStore::ScopeState {
    std::string path;
    bool loaded = false;
    bool broken = false;  // unreadable or unparsable: reads empty, never written
    // Identity of the file state the contents came from.
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    std::string warnedFor;  // identity text of the last state warned about
    Contents contents;
};

namespace {

enum class ReadResult { Missing, Ok, Unreadable, Unparsable };

ReadResult ReadFileText(const std::string& path, std::string* text, int* err) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *err = errno;
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Unreadable;
    }
    text->clear();
    char buf[65536];
    while (true) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            *err = errno;
            ::close(fd);
            return ReadResult::Unreadable;
        }
        if (n == 0) break;
        text->append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ReadResult::Ok;
}

ReadResult LoadContents(const std::string& path, RegistryStore::Contents* contents, std::string* why) {
    std::string text;
    int err = 0;
    ReadResult r = ReadFileText(path, &text, &err);
    if (r == ReadResult::Missing) {
        contents->keys.clear();
        return r;
    }
    if (r == ReadResult::Unreadable) {
        *why = std::strerror(err);
        contents->keys.clear();
        return r;
    }
    if (!contents->Parse(text, why)) return ReadResult::Unparsable;
    return ReadResult::Ok;
}

bool FolderWritable(const std::string& folder) {
    std::string f = folder.empty() ? "." : folder;
    while (!IsDirectory(f)) {
        std::string parent = ParentPath(f);
        if (parent.empty() || parent == f) return false;
        f = parent;
    }
    return ::access(f.c_str(), W_OK) == 0;
}

}  // namespace

RegistryStore::RegistryStore(std::string machinePath, std::string userPath) {
    m_scopes[0] = std::make_unique<ScopeState>();
    m_scopes[0]->path = std::move(machinePath);
    m_scopes[1] = std::make_unique<ScopeState>();
    m_scopes[1]->path = std::move(userPath);
}

RegistryStore::~RegistryStore() = default;

std::shared_ptr<RegistryStore> RegistryStore::Current() {
    static std::mutex mutex;
    static std::shared_ptr<RegistryStore> store;
    static std::string lastKey;
    const char* dir = std::getenv("GAVEX_REGISTRY_DIR");
    std::string machine, user;
    if (dir && *dir) {
        machine = JoinPath(dir, "machine.reg");
        user = JoinPath(dir, "user.reg");
    } else {
        machine = "/etc/gavex/machine.reg";
        const char* xdg = std::getenv("XDG_CONFIG_HOME");
        const char* home = std::getenv("HOME");
        std::string base = (xdg && *xdg) ? std::string(xdg) : JoinPath(home && *home ? home : "/tmp", ".config");
        user = JoinPath(JoinPath(base, "gavex"), "user.reg");
    }
    std::string key = machine + '\n' + user;
    std::lock_guard<std::mutex> lock(mutex);
    if (!store || key != lastKey) {
        store = std::make_shared<RegistryStore>(machine, user);
        lastKey = key;
    }
    return store;
}

const std::string& RegistryStore::Path(RegistryScope scope) const {
    return m_scopes[static_cast<int>(scope)]->path;
}

RegistryStore::ScopeState& RegistryStore::State(RegistryScope scope) {
    ScopeState& s = *m_scopes[static_cast<int>(scope)];
    Refresh(s);
    return s;
}

void RegistryStore::Refresh(ScopeState& s) {
    struct stat st;
    bool exists = ::stat(s.path.c_str(), &st) == 0;
    if (s.loaded && exists == s.exists &&
        (!exists || (st.st_dev == s.dev && st.st_ino == s.ino && st.st_size == s.size &&
                     st.st_mtim.tv_sec == s.mtime.tv_sec && st.st_mtim.tv_nsec == s.mtime.tv_nsec)))
        return;
    s.loaded = true;
    s.exists = exists;
    if (exists) {
        s.dev = st.st_dev;
        s.ino = st.st_ino;
        s.size = st.st_size;
        s.mtime = st.st_mtim;
    }
    std::string why;
    ReadResult r = LoadContents(s.path, &s.contents, &why);
    s.broken = r == ReadResult::Unreadable || r == ReadResult::Unparsable;
    if (s.broken) {
        std::string identity = std::to_string(s.ino) + ':' + std::to_string(s.size) + ':' +
                               std::to_string(s.mtime.tv_sec) + '.' + std::to_string(s.mtime.tv_nsec);
        if (identity != s.warnedFor) {
            s.warnedFor = identity;
            std::fprintf(stderr, "gavex: settings store %s %s (%s); using defaults, not writing to it\n",
                         s.path.c_str(), r == ReadResult::Unreadable ? "cannot be read" : "cannot be parsed",
                         why.c_str());
        }
    }
}

bool RegistryStore::KeyExists(RegistryScope scope, const std::string& keyPath) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return State(scope).contents.HasKey(keyPath);
}

namespace {

bool ScopeWritable(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return (st.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
    return FolderWritable(ParentPath(path));
}

}  // namespace

bool RegistryStore::IsWritable(RegistryScope scope) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ScopeState& s = State(scope);
    return !s.broken && ScopeWritable(s.path);
}

std::optional<RegistryValue> RegistryStore::GetValue(RegistryScope scope, const std::string& keyPath,
                                                     const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Key* key = State(scope).contents.FindKey(keyPath);
    if (!key) return std::nullopt;
    if (RegistryValue* v = key->Find(name)) return *v;
    return std::nullopt;
}

namespace {

// Applies `change` to the scope's file: locks <file>.lock, re-reads the file,
// changes it and replaces it through a temporary file. False (and the file
// untouched) when it cannot be read, parsed or written.
template <class Change>
bool Rewrite(const std::string& path, RegistryStore::Contents* cache, Change change) {
    std::string folder = ParentPath(path);
    if (!folder.empty() && !CreateDirectories(folder)) return false;
    std::string lockPath = path + ".lock";
    int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lockFd < 0) return false;
    while (::flock(lockFd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(lockFd);
            return false;
        }
    }
    bool ok = false;
    RegistryStore::Contents contents;
    std::string why;
    struct stat st;
    bool existed = ::stat(path.c_str(), &st) == 0;
    ReadResult r = LoadContents(path, &contents, &why);
    if (r == ReadResult::Ok || r == ReadResult::Missing) {
        bool changed = change(contents);
        if (!changed) {
            ok = true;
        } else {
            std::string text = contents.Serialize();
            std::string tmp = path + ".tmpXXXXXX";
            int fd = ::mkstemp(tmp.data());
            if (fd >= 0) {
                bool written = true;
                std::size_t done = 0;
                while (done < text.size()) {
                    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
                    if (n < 0 && errno == EINTR) continue;
                    if (n <= 0) {
                        written = false;
                        break;
                    }
                    done += static_cast<std::size_t>(n);
                }
                ::fchmod(fd, existed ? (st.st_mode & 07777) : 0644);
                if (written && ::fsync(fd) != 0) written = false;
                if (::close(fd) != 0) written = false;
                if (written && ::rename(tmp.c_str(), path.c_str()) == 0) ok = true;
                else ::unlink(tmp.c_str());
            }
        }
        if (ok) *cache = std::move(contents);
    }
    ::flock(lockFd, LOCK_UN);
    ::close(lockFd);
    return ok;
}

}  // namespace

bool RegistryStore::CreateKey(RegistryScope scope, const std::string& keyPath) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ScopeState& s = State(scope);
    if (s.broken || !ScopeWritable(s.path) || NormalizeKeyPath(keyPath).empty()) return false;
    bool ok = Rewrite(s.path, &s.contents, [&](Contents& c) {
        if (c.HasKey(keyPath)) return false;
        c.AddKey(keyPath);
        return true;
    });
    s.loaded = false;  // re-stat on the next access
    return ok;
}

bool RegistryStore::SetValue(RegistryScope scope, const std::string& keyPath, const std::string& name,
                             const RegistryValue& value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ScopeState& s = State(scope);
    if (s.broken || !ScopeWritable(s.path) || NormalizeKeyPath(keyPath).empty()) return false;
    // A value the file holds already (as last read, the file unchanged since)
    // is not written again: the rewrite would lock, read, replace and sync
    // the file for nothing.
    if (s.exists)
        if (Key* key = s.contents.FindKey(keyPath))
            if (RegistryValue* v = key->Find(name); v && *v == value) return true;
    bool ok = Rewrite(s.path, &s.contents, [&](Contents& c) {
        Key& key = c.AddKey(keyPath);
        if (RegistryValue* v = key.Find(name)) {
            if (*v == value) return false;
            *v = value;
        } else {
            key.values.emplace_back(name, value);
        }
        return true;
    });
    s.loaded = false;
    return ok;
}

bool RegistryStore::DeleteValue(RegistryScope scope, const std::string& keyPath, const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ScopeState& s = State(scope);
    if (s.broken || !ScopeWritable(s.path)) return false;
    bool found = false;
    bool ok = Rewrite(s.path, &s.contents, [&](Contents& c) {
        Key* key = c.FindKey(keyPath);
        if (!key) return false;
        std::string f = Fold(name);
        for (auto it = key->values.begin(); it != key->values.end(); ++it) {
            if (Fold(it->first) == f) {
                key->values.erase(it);
                found = true;
                return true;
            }
        }
        return false;
    });
    s.loaded = false;
    return ok && found;
}

}  // namespace platform

