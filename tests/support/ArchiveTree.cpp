#include "support/ArchiveTree.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace testsupport {

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::tm LocalTm(int64_t unixMs) {
    std::time_t t = static_cast<std::time_t>(unixMs / 1000);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

}  // namespace

std::vector<uint8_t> EncodeIdxFile(uint32_t version, const std::vector<IdxRecord>& records) {
    std::vector<uint8_t> out;
    Put32(out, version);
    for (const auto& r : records) {
        Put32(out, r.beginS);
        Put32(out, r.endS);
        Put32(out, r.fileId);
        out.push_back(r.volume);
        if (version != 0xAAFF) {
            Put32(out, r.beginMsPart);
            Put32(out, r.endMsPart);
        }
        if (version == 0xAB01) {
            Put32(out, r.camera);
        } else {
            out.push_back(static_cast<uint8_t>(r.camera));
            out.push_back(static_cast<uint8_t>(r.camera >> 8));
        }
    }
    return out;
}

std::string LocalHourFolder(int64_t unixMs) {
    const std::tm tm = LocalTm(unixMs);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d-%02d-%02d %02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100, tm.tm_hour);
    return buf;
}

std::string LocalIndexName(int64_t unixMs) {
    const std::tm tm = LocalTm(unixMs);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100, tm.tm_hour);
    return buf;
}

std::string ArchiveFileName(int camera, uint32_t fileId) {
    char buf[48];
    if (camera <= 99)
        std::snprintf(buf, sizeof buf, "%X._%02d", fileId, camera);
    else
        std::snprintf(buf, sizeof buf, "%X._%02X", fileId, camera + 60);
    return buf;
}

int64_t LocalUnixMs(int year, int month, int day, int hour, int minute, int second, int ms) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return int64_t(std::mktime(&tm)) * 1000 + ms;
}

void MakeFolders(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    MakeFolders(std::filesystem::path(path).parent_path().string());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

ArchiveTree::ArchiveTree(std::string root, bool videoFolder) : m_root(std::move(root)), m_videoFolder(videoFolder) {
    MakeFolders(IndexFolder());
    MakeFolders(ArchiveFolder() + "/PROTECTED");
}

std::string ArchiveTree::ArchiveFolder() const { return m_videoFolder ? m_root + "/VIDEO" : m_root; }

void ArchiveTree::Add(const TreeRecord& r) {
    const std::string folder = LocalHourFolder(r.beginMs);
    WriteFileBytes(ArchiveFolder() + "/" + folder + "/" + ArchiveFileName(r.camera, r.fileId), {0x00});
    IdxRecord idx;
    idx.beginS = static_cast<uint32_t>(r.beginMs / 1000);
    idx.endS = static_cast<uint32_t>(r.endMs / 1000);
    idx.fileId = r.fileId;
    idx.beginMsPart = static_cast<uint32_t>(r.beginMs % 1000);
    idx.endMsPart = static_cast<uint32_t>(r.endMs % 1000);
    idx.camera = static_cast<uint32_t>(r.camera);
    m_hours[folder].push_back(idx);
}

void ArchiveTree::WriteIndexes(uint32_t version, uint8_t volumeByte) {
    for (auto& hour : m_hours) {
        std::string name;
        for (char c : hour.first)
            if (c != '-' && c != ' ') name += c;
        for (auto& r : hour.second) r.volume = volumeByte;
        WriteFileBytes(IndexFolder() + "/" + name + ".idx", EncodeIdxFile(version, hour.second));
    }
}

size_t ArchiveTree::RecordCount() const {
    size_t n = 0;
    for (const auto& hour : m_hours) n += hour.second.size();
    return n;
}

size_t BuildSyntheticArchive(const std::vector<std::string>& drives, int cameras, int days, int filesPerHour,
                             int year, int month, int day) {
    std::vector<ArchiveTree> trees;
    for (const auto& d : drives) trees.emplace_back(d);
    const int64_t start = LocalUnixMs(year, month, day, 0);
    const int64_t fileMs = 3600000 / filesPerHour;
    uint32_t fileId = 1;
    size_t total = 0;
    for (int h = 0; h < days * 24; ++h) {
        ArchiveTree& tree = trees[static_cast<size_t>(h) % trees.size()];
        const int64_t hourStart = start + int64_t(h) * 3600000;
        for (int c = 1; c <= cameras; ++c)
            for (int f = 0; f < filesPerHour; ++f) {
                const int64_t begin = hourStart + f * fileMs + c * 10;
                tree.Add({c, fileId++, begin, begin + fileMs - 100});
                ++total;
            }
    }
    for (size_t v = 0; v < trees.size(); ++v) trees[v].WriteIndexes(0xAB01, static_cast<uint8_t>(v));
    return total;
}

}  // namespace testsupport
