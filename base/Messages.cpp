#include "base/Messages.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <stdexcept>

#include "platform/Archive.h"

namespace {

std::atomic<bool> g_compressMessages{false};

constexpr const char kZipType[] = "zip_msg";
constexpr size_t kMaxParamName = 100;

// Field n of a text split at '|' (fields may be empty); false when the text
// has fewer fields.
bool ExtractField(const std::string& text, size_t n, std::string& field) {
    size_t start = 0;
    for (size_t i = 0; i < n; ++i) {
        size_t bar = text.find('|', start);
        if (bar == std::string::npos) return false;
        start = bar + 1;
    }
    size_t end = text.find('|', start);
    field = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    return true;
}

}  // namespace

Msg& Msg::operator=(const Msg& other) {
    if (this != &other) {
        CNetObject::operator=(other);
        m_type = other.m_type;
        m_id = other.m_id;
        m_action = other.m_action;
        m_params = other.m_params;
    }
    return *this;
}

void Msg::SetParam(const std::string& name, int value) { m_params[name] = std::to_string(value); }

void Msg::SetParam(const std::string& name, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%g", value);
    std::string text(buffer);
    // The text must not depend on a locale with a decimal comma.
    for (char& c : text)
        if (c == ',') c = '.';
    m_params[name] = text;
}

void Msg::SetParam(const std::string& name, const std::string& value) { m_params[name] = value; }

void Msg::SetParam(const std::string& name, const char* value) {
    m_params[name] = value != nullptr ? value : "";
}

std::string Msg::GetParam(const std::string& name) const {
    auto it = m_params.find(name);
    return it == m_params.end() ? std::string() : it->second;
}

std::string Msg::FormatParams() const {
    std::string out;
    for (const auto& [name, value] : m_params) {
        if (!out.empty()) out += ',';
        out += name;
        out += '<';
        out += value;
        out += '>';
    }
    return out;
}

void Msg::ParseParams(const std::string& text) {
    m_params.clear();
    const size_t len = text.size();
    size_t pos = 0;
    while (pos < len) {
        size_t open = text.find('<', pos);
        size_t nameEnd = open == std::string::npos ? len : open;
        std::string name;
        if (nameEnd - pos > kMaxParamName) {
            // A too long name is cut; the character after the cut is skipped
            // as if it were the '<'.
            name = text.substr(pos, kMaxParamName);
            pos += kMaxParamName + 1;
        } else {
            name = text.substr(pos, nameEnd - pos);
            pos = nameEnd + 1;
        }
        if (pos > len) pos = len;

        // The value runs to the '>' that balances the opening '<'.
        size_t start = pos;
        int depth = 1;
        while (pos < len) {
            char c = text[pos];
            if (c == '<') {
                ++depth;
            } else if (c == '>') {
                if (--depth == 0) break;
            }
            ++pos;
        }
        std::string value = text.substr(start, pos - start);
        if (pos < len) ++pos;  // the closing '>'
        if (pos < len) ++pos;  // the separator
        m_params[name] = value;
    }
}

std::string Msg::FormatText() const {
    return m_type + "|" + m_id + "|" + m_action + "|" + FormatParams();
}

bool Msg::FromText(const std::string& text) {
    std::string id;
    std::string action;
    if (!ExtractField(text, 1, id) || !ExtractField(text, 2, action)) return false;
    m_id = id;
    m_action = action;
    m_params.clear();
    // Parameters follow the third '|', when there is text after it.
    size_t bar = text.find('|');
    bar = text.find('|', bar + 1);
    bar = text.find('|', bar + 1);
    if (bar != std::string::npos && bar + 1 < text.size()) ParseParams(text.substr(bar + 1));
    return true;
}

void Msg::SetCompression(bool on) { g_compressMessages.store(on); }

bool Msg::GetCompression() { return g_compressMessages.load(); }

void Msg::Serialize(platform::Archive& ar) {
    if (ar.IsStoring()) {
        if (GetCompression()) {
            std::string text = FormatText();
            std::vector<uint8_t> packed;
            ZlibHelper::Compress(reinterpret_cast<const uint8_t*>(text.data()), text.size(), packed);
            if (packed.size() < text.size()) {
                ar << std::string(kZipType);
                ar << static_cast<uint32_t>(packed.size());
                ar.Write(packed.data(), packed.size());
                return;
            }
        }
        ar << m_type << m_id << m_action;
        ar.WriteCount(m_params.size());
        for (const auto& [name, value] : m_params) ar << name << value;
        return;
    }

    std::string type = ar.ReadString();
    if (type == kZipType) {
        uint32_t size = 0;
        ar >> size;
        if (size > ar.Remaining())
            ar.ThrowFormatError("zip_msg size " + std::to_string(size) + " runs past the end of the data");
        std::vector<uint8_t> packed(size);
        ar.Read(packed.data(), packed.size());
        std::vector<uint8_t> unpacked;
        if (!ZlibHelper::Decompress(packed.data(), packed.size(), unpacked))
            ar.ThrowFormatError("zip_msg holds a damaged zlib stream");
        std::string text(unpacked.begin(), unpacked.end());
        std::string field;
        ExtractField(text, 0, field);
        m_type = field;
        FromText(text);
        return;
    }

    m_type = type;
    ar >> m_id >> m_action;
    uint64_t count = ar.ReadCount();
    // Every pair takes at least two bytes (two empty texts).
    if (count > ar.Remaining() / 2)
        ar.ThrowFormatError("parameter count " + std::to_string(count) + " runs past the end of the data");
    for (uint64_t i = 0; i < count; ++i) {
        std::string name = ar.ReadString();
        std::string value = ar.ReadString();
        m_params[name] = value;
    }
}

Event::Event(const std::string& type, int id, const std::string& action)
    : Msg(type, std::to_string(id), action) {}

void Event::FromReact(const React& react) {
    m_type = "CORE";
    m_id.clear();
    m_action = "DO_REACT";
    SetParam("source_type", react.GetType());
    SetParam("source_id", react.GetId());
    SetParam("action", react.GetAction());
    int i = 0;
    for (const auto& [name, value] : react.GetParams()) {
        std::string stem = "param" + std::to_string(i);
        SetParam(stem + "_name", name);
        SetParam(stem + "_val", value);
        ++i;
    }
    SetParam("params", i);
}

namespace ZlibHelper {

void Compress(const uint8_t* input, size_t length, std::vector<uint8_t>& output) {
    output.clear();
    z_stream zs{};
    if (deflateInit2(&zs, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("zlib deflateInit2 failed");
    constexpr size_t kStep = 131072;
    zs.next_in = const_cast<Bytef*>(input);
    size_t remaining = length;
    int res = Z_OK;
    do {
        // zlib counts in 32 bits; feed very large inputs in slices.
        uInt slice = static_cast<uInt>(std::min<size_t>(remaining, 1u << 30));
        if (zs.avail_in == 0 && remaining > 0) {
            zs.avail_in = slice;
            remaining -= slice;
        }
        size_t have = output.size();
        output.resize(have + kStep);
        zs.next_out = output.data() + have;
        zs.avail_out = static_cast<uInt>(kStep);
        res = deflate(&zs, remaining == 0 && zs.avail_in == 0 ? Z_FINISH : Z_NO_FLUSH);
        output.resize(have + kStep - zs.avail_out);
        if (res != Z_OK && res != Z_STREAM_END && res != Z_BUF_ERROR) {
            deflateEnd(&zs);
            throw std::runtime_error("zlib deflate failed");
        }
    } while (res != Z_STREAM_END);
    deflateEnd(&zs);
}

bool Decompress(const uint8_t* input, size_t length, std::vector<uint8_t>& output, size_t maxOutput) {
    output.clear();
    z_stream zs{};
    if (inflateInit2(&zs, 15) != Z_OK) return false;
    zs.next_in = const_cast<Bytef*>(input);
    size_t remaining = length;
    bool ok = false;
    for (;;) {
        if (zs.avail_in == 0 && remaining > 0) {
            uInt slice = static_cast<uInt>(std::min<size_t>(remaining, 1u << 30));
            zs.avail_in = slice;
            remaining -= slice;
        }
        uint8_t chunk[16384];
        zs.next_out = chunk;
        zs.avail_out = sizeof(chunk);
        int res = inflate(&zs, Z_NO_FLUSH);
        size_t produced = sizeof(chunk) - zs.avail_out;
        if (output.size() + produced > maxOutput) break;
        output.insert(output.end(), chunk, chunk + produced);
        if (res == Z_STREAM_END) {
            // Bytes after the end of the stream make the message unreadable.
            ok = zs.avail_in == 0 && remaining == 0;
            break;
        }
        if (res != Z_OK) break;  // corrupt data, or no progress possible
        if (produced == 0 && zs.avail_in == 0 && remaining == 0) break;  // truncated
    }
    inflateEnd(&zs);
    if (!ok) output.clear();
    return ok;
}

}  // namespace ZlibHelper
