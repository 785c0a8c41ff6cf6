#pragma once
// Small helpers of the settings-library tests: temporary folders, file
// bytes, hand-made UTF-16LE fixtures and hex dumps for mismatches.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "support/TempDir.h"

namespace cantorel_test {

namespace fs = std::filesystem;

// A fresh folder removed with everything in it at the end of the test; paths
// are composed with std::filesystem here, hence the wrapper.
class TempDir {
public:
    TempDir() : dir_("cantorel"), path_(dir_.path()) {}

    const fs::path& path() const { return path_; }
    std::string str() const { return dir_.path(); }
    // Creates the folder (and its parents) below this one.
    fs::path Dir(const std::string& relative) const {
        fs::path p = path_ / relative;
        fs::create_directories(p);
        return p;
    }

private:
    gavex_test::TempDir dir_;
    fs::path path_;
};

using gavex_test::ReadFileString;
using gavex_test::WriteFileString;

// BOM FF FE, then each character of an ASCII text as two little-endian bytes.
inline std::string Utf16LeFile(const std::string& ascii) {
    std::string bytes("\xFF\xFE", 2);
    for (char c : ascii) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes;
}

inline std::string HexDump(const std::string& bytes) {
    std::ostringstream out;
    char buf[32];
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i % 16 == 0) {
            std::snprintf(buf, sizeof buf, "%s%04zx:", i ? "\n" : "", i);
            out << buf;
        }
        std::snprintf(buf, sizeof buf, " %02x", static_cast<unsigned char>(bytes[i]));
        out << buf;
    }
    return out.str();
}

inline ::testing::AssertionResult SameBytes(const std::string& expected, const std::string& actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "bytes differ\nexpected (" << expected.size()
                                         << " bytes):\n" << HexDump(expected) << "\nactual ("
                                         << actual.size() << " bytes):\n" << HexDump(actual);
}

// UTF-16 <-> UTF-8 for test texts (no surrogates needed here).
inline std::u16string U16(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        char32_t cp;
        int n;
        if (c < 0x80) { cp = c; n = 1; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
        else { cp = c & 0x0F; n = 3; }
        for (int k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out.push_back(static_cast<char16_t>(cp));
        i += static_cast<size_t>(n);
    }
    return out;
}

inline std::string U8(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// Sets an environment variable for the scope, restoring the old value.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, hadOld_ = true;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (hadOld_) ::setenv(name_.c_str(), old_.c_str(), 1);
        else ::unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::string old_;
    bool hadOld_ = false;
};

// Fixes the interface language: LC_ALL and LC_MESSAGES cleared, LANG set.
struct ScopedLanguage {
    explicit ScopedLanguage(const char* lang)
        : all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr), lang_("LANG", lang) {}
    ScopedEnv all, messages, lang_;
};

}  // namespace cantorel_test
