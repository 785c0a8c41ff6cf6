#include "platform/Dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <wctype.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/TextCodec.h"

namespace platform {

namespace {

locale_t Utf8Locale() {
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return l;
    }();
    return loc;
}

char16_t UpperUnit(char16_t u) {
    if (u < 0x80) return (u >= 'a' && u <= 'z') ? static_cast<char16_t>(u - 32) : u;
    if (u >= 0xD800 && u <= 0xDFFF) return u;
    locale_t loc = Utf8Locale();
    if (!loc) return u;
    wint_t up = towupper_l(static_cast<wint_t>(u), loc);
    return up <= 0xFFFF ? static_cast<char16_t>(up) : u;
}

int CompareFolded(std::string_view a, std::string_view b) {
    // Fast path for ASCII names (the archive's folders and files).
    std::size_t n = std::min(a.size(), b.size());
    bool ascii = true;
    for (std::size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(a[i]);
        auto cb = static_cast<unsigned char>(b[i]);
        if (ca >= 0x80 || cb >= 0x80) {
            ascii = false;
            break;
        }
        if (ca >= 'a' && ca <= 'z') ca -= 32;
        if (cb >= 'a' && cb <= 'z') cb -= 32;
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (ascii) {
        if (a.size() == b.size()) return 0;
        return a.size() < b.size() ? -1 : 1;
    }
    std::u16string ua = Utf8ToUtf16(a), ub = Utf8ToUtf16(b);
    std::size_t m = std::min(ua.size(), ub.size());
    for (std::size_t i = 0; i < m; ++i) {
        char16_t x = UpperUnit(ua[i]), y = UpperUnit(ub[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (ua.size() == ub.size()) return 0;
    return ua.size() < ub.size() ? -1 : 1;
}

}  // namespace

std::string JoinPath(std::string_view a, std::string_view b) {
    if (a.empty()) return std::string(b);
    if (b.empty()) return std::string(a);
    std::string out(a);
    bool aSep = out.back() == '/';
    bool bSep = b.front() == '/';
    if (aSep && bSep) out.append(b.substr(1));
    else if (aSep || bSep) out.append(b);
    else {
        out += '/';
        out.append(b);
    }
    return out;
}

std::string FileNamePart(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    auto pos = path.find_last_of('/');
    if (pos == std::string_view::npos) return std::string(path);
    if (path.size() == 1) return std::string(path);
    return std::string(path.substr(pos + 1));
}

std::string ParentPath(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    auto pos = path.find_last_of('/');
    if (pos == std::string_view::npos) return {};
    if (pos == 0) return "/";
    return std::string(path.substr(0, pos));
}

int CompareNamesWindowsOrder(std::string_view a, std::string_view b) {
    int c = CompareFolded(a, b);
    if (c != 0) return c;
    int r = a.compare(b);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return CompareFolded(a, b) == 0; }

namespace {

std::int64_t UnixMs(const struct statx_timestamp& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

}  // namespace

std::vector<DirEntry> ListDirectory(const std::string& dir, bool* ok) {
    std::vector<DirEntry> out;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) {
        if (ok) *ok = false;
        return out;
    }
    while (struct dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        DirEntry entry;
        entry.name = e->d_name;
        struct statx st;
        if (::statx(dirfd(d), e->d_name, 0, STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_BTIME, &st) == 0) {
            entry.isDirectory = S_ISDIR(st.stx_mode);
            entry.size = entry.isDirectory ? 0 : static_cast<std::uint64_t>(st.stx_size);
            entry.modifiedUnixMs = UnixMs(st.stx_mtime);
            if (st.stx_mask & STATX_BTIME) entry.createdUnixMs = UnixMs(st.stx_btime);
        } else {
            entry.isDirectory = e->d_type == DT_DIR;
        }
        out.push_back(std::move(entry));
    }
    ::closedir(d);
    std::sort(out.begin(), out.end(),
              [](const DirEntry& x, const DirEntry& y) { return CompareNamesWindowsOrder(x.name, y.name) < 0; });
    if (ok) *ok = true;
    return out;
}

std::optional<std::string> FindChildNoCase(const std::string& dir, std::string_view name) {
    std::string exact = JoinPath(dir, name);
    struct stat st;
    if (!name.empty() && ::lstat(exact.c_str(), &st) == 0) return std::string(name);
    bool ok = false;
    for (const DirEntry& e : ListDirectory(dir, &ok))
        if (EqualsNoCase(e.name, name)) return e.name;
    return std::nullopt;
}

bool PathExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDirectories(const std::string& path) {
    if (path.empty()) return false;
    if (IsDirectory(path)) return true;
    std::string parent = ParentPath(path);
    if (!parent.empty() && parent != path && !IsDirectory(parent) && !CreateDirectories(parent)) return false;
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    return errno == EEXIST && IsDirectory(path);
}

}  // namespace platform
