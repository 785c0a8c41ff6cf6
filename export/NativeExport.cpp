#include "export/NativeExport.h"

#include <algorithm>
#include <stdexcept>
#include <tuple>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>
#include <boost/lexical_cast/bad_lexical_cast.hpp>

#include "FSImplementation/FSInfo.h"
#include "FSImplementation/VindaraFileSystemFactory.h"
#include "archive/files/ArchiveSettings.h"
#include "base/Tss.h"
#include "export/ExportErrors.h"

namespace Storage {

namespace bfs = boost::filesystem;
namespace pt = boost::posix_time;

namespace {

const pt::ptime kUnixEpoch(boost::gregorian::date(1970, 1, 1));
constexpr int64_t kArchiveOffsetMs = 11644473600000LL;

// The archive's round trip of a task time through the local time stamp,
// normalised to the zone offset in force now.
pt::ptime NormalizedTaskTime(const pt::ptime& time)
{
    if (time.is_special())
        return time;
    const int64_t unixMs = (time - kUnixEpoch).total_microseconds() / 1000;
    TSS stamp;
    stamp.FromUtcMilliseconds(static_cast<uint64_t>(unixMs + kArchiveOffsetMs));
    if (!(stamp == TSS{}))
        stamp = stamp.NormalizeLocalTime();
    const int64_t back = static_cast<int64_t>(stamp.ToUtcMilliseconds()) - kArchiveOffsetMs;
    return kUnixEpoch + pt::milliseconds(back);
}

bfs::path Normal(const std::string& text)
{
    std::string slashes = text;
    std::replace(slashes.begin(), slashes.end(), '\\', '/');
    bfs::path p = bfs::absolute(bfs::path(slashes)).lexically_normal();
    // "a/b/" and "a/b/." name the folder a/b.
    while (!p.empty() && (p.filename() == "." || p.filename().empty()) && p.has_parent_path() &&
           p != p.root_path())
        p = p.parent_path();
    return p;
}

uint32_t U32(const std::vector<uint8_t>& bytes, size_t at)
{
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// The entries of an index file at the destination, in any stored version;
// none when it cannot be read.
std::vector<IndexEntry> ReadExistingIndex(const std::string& path)
{
    std::vector<IndexEntry> entries;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return entries;
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(file);
    if (bytes.size() < 4)
        return entries;
    const uint32_t version = U32(bytes, 0);
    if (version != INDEX_VERSION_1 && version != INDEX_VERSION_2 && version != INDEX_VERSION_3)
        return entries;
    const size_t body = IndexBodySize(version);
    const size_t size = body + IndexCameraIdSize(version);
    for (size_t at = 4; at + size <= bytes.size(); at += size) {
        IndexEntry e;
        uint64_t beginMs = 0, endMs = 0;
        if (version != INDEX_VERSION_1) {
            beginMs = U32(bytes, at + 13);
            endMs = U32(bytes, at + 17);
        }
        e.entry.begin = uint64_t(U32(bytes, at)) * 1000 + beginMs;
        e.entry.end = uint64_t(U32(bytes, at + 4)) * 1000 + endMs;
        e.entry.fileId = U32(bytes, at + 8);
        e.entry.volumeIndex = bytes[at + 12];
        e.cameraId = version == INDEX_VERSION_3
                         ? static_cast<int32_t>(U32(bytes, at + body))
                         : static_cast<int32_t>(bytes[at + body] | bytes[at + body + 1] << 8);
        entries.push_back(e);
    }
    return entries;
}

void RenameAll(const std::vector<std::pair<std::string, std::string>>& written)
{
    for (const auto& [temp, final] : written)
        bfs::rename(temp, final);
}

void RemoveAll(const std::vector<std::pair<std::string, std::string>>& written)
{
    for (const auto& entry : written) {
        boost::system::error_code ec;
        bfs::remove(entry.first, ec);
    }
}

}  // namespace

std::string DayIndexName(const std::string& dayFolder)
{
    std::string name = bfs::path(dayFolder).filename().string();
    name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == '-' || c == ' '; }), name.end());
    return bfs::path(name).stem().string();
}

bool PathWithin(const std::string& inner, const std::string& outer)
{
    const bfs::path in = Normal(inner), out = Normal(outer);
    auto i = in.begin();
    for (auto o = out.begin(); o != out.end(); ++o, ++i) {
        if (i == in.end() || *i != *o)
            return false;
    }
    return true;
}

// --- common native engine -----------------------------------------------------

VindaraFileSystemNativeExport::VindaraFileSystemNativeExport(boost::shared_ptr<IVindaraFileSystem> fileSystem)
    : m_fileSystem(std::move(fileSystem))
{
    m_copier.connect([this](double step, const Storage::ExportTask& task) { AddProgressStep(step, task); });
}

void VindaraFileSystemNativeExport::ExportTask(const Storage::ExportTask& task, const bfs::path& destination)
{
    ResetProgress();
    std::vector<std::string> files;
    CollectChannelFiles(task, files);
    if (files.empty()) {
        SetLastExportError(kExportCodeNoFiles);
        throw std::runtime_error("No video files to export");
    }
    std::set<std::string> sourceFolders;
    AddFilesToCopy(files, sourceFolders, destination);
    AddStaleFiles(sourceFolders, destination);
    m_copier.Copy(task);
    SetProgress(100, task);
}

void VindaraFileSystemNativeExport::CollectChannelFiles(const Storage::ExportTask& task,
                                                        std::vector<std::string>& files)
{
    const pt::time_period period(NormalizedTaskTime(task.FromTime), NormalizedTaskTime(task.ToTime));
    if (task.ChannelIds.empty())
        return;
    const double step = 15.0 / static_cast<double>(task.ChannelIds.size());
    for (const std::string& id : task.ChannelIds) {
        boost::shared_ptr<IChannelReader> reader;
        try {
            reader = m_fileSystem->CreateChannelReader(id);
        } catch (const boost::bad_lexical_cast&) {
            throw std::runtime_error(str(boost::format("Channel %s is not a channel number") % id));
        }
        auto* exporter = dynamic_cast<IChannelExporter*>(reader.get());
        if (exporter == nullptr)
            throw std::runtime_error(str(boost::format("Failed to create channel reader for channel %s") % id));
        exporter->GetExportFiles(period, files);
        AddProgressStep(step, task);
    }
}

bool VindaraFileSystemNativeExport::CheckDestination(const std::string& destination,
                                                     const std::vector<Storage::ExportTask>&)
{
    bool refused = destination.empty();
    for (const std::string& root : SourceRoots()) {
        if (refused)
            break;
        if (!root.empty())
            refused = PathWithin(destination, root) || PathWithin(root, destination);
    }
    if (refused)
        ReportError(ExportErrorSameFolder, kExportCodeSameFolder, "Destination and source paths are the same");
    return !refused;
}

void VindaraFileSystemNativeExport::Finish(const bfs::path&)
{
    m_copier.channelSet.clear();
}

void VindaraFileSystemNativeExport::AddStaleFiles(const std::set<std::string>&, const bfs::path&) {}

std::vector<std::string> VindaraFileSystemNativeExport::SourceRoots()
{
    std::vector<std::string> roots;
    for (const std::string& item : FSInfo::splitPaths(m_fileSystem->GetPath()))
        roots.push_back(item);
    return roots;
}

// --- exported files and folders -------------------------------------------------

VindaraFilesNativeExport::VindaraFilesNativeExport(boost::shared_ptr<IVindaraFileSystem> fileSystem)
    : VindaraFileSystemNativeExport(std::move(fileSystem))
{
    if (!m_fileSystem)
        throw std::logic_error("Null filesystem");
    if (!m_fileSystem->IsOpened())
        m_fileSystem->Initialize(false);
}

void VindaraFilesNativeExport::AddFilesToCopy(const std::vector<std::string>& files,
                                              std::set<std::string>& sourceFolders, const bfs::path& destination)
{
    for (const std::string& file : files) {
        std::string target;
        DestinationPath(file, destination, target, sourceFolders);
        m_copier.AddFile(file, target);
    }
}

void VindaraFilesNativeExport::DestinationPath(const bfs::path& source, const bfs::path& destination,
                                               std::string& result, std::set<std::string>&)
{
    result = (destination / source.filename()).string();
}

// --- recorder archive on drives -------------------------------------------------

VindaraDrivesNativeExport::VindaraDrivesNativeExport(boost::shared_ptr<IVindaraFileSystem> fileSystem)
    : VindaraFilesNativeExport(std::move(fileSystem))
{
    m_roots = FSInfo::splitPaths(m_fileSystem->GetPath());
}

std::string VindaraDrivesNativeExport::DestinationVolume(const bfs::path& videoFolder,
                                                         const bfs::path& destination) const
{
    const bfs::path folder = Normal(videoFolder.string());
    // An archive folder that is a volume root itself (no VIDEO folder) names
    // the volume; otherwise the folder holding VIDEO does.
    bool isRoot = false;
    for (const std::string& root : m_roots)
        isRoot = isRoot || (!root.empty() && Normal(root) == folder);
    std::string name = (isRoot ? folder.filename() : folder.parent_path().filename()).string();
    name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == ':' || c == '/'; }), name.end());
    if (name.empty() || name == ".")
        name = "volume";
    return (destination / name).string();
}

void VindaraDrivesNativeExport::DestinationPath(const bfs::path& source, const bfs::path& destination,
                                                std::string& result, std::set<std::string>& sourceFolders)
{
    const bfs::path day = source.parent_path();
    sourceFolders.insert(day.string());
    result = (bfs::path(DestinationVolume(day.parent_path(), destination)) / "VIDEO" / day.filename() /
              source.filename())
                 .string();
}

void VindaraDrivesNativeExport::AddStaleFiles(const std::set<std::string>& sourceFolders,
                                              const bfs::path& destination)
{
    // A fast index left by an earlier export would hide the new files. The
    // settings file is not removed here: Finish replaces it, merged.
    for (const std::string& folder : sourceFolders) {
        const bfs::path day(folder);
        m_copier.filesToRemove.push_back((bfs::path(DestinationVolume(day.parent_path(), destination)) / "VIDEO" /
                                          "INDEX" / (DayIndexName(day.filename().string()) + ".ndx"))
                                             .string());
    }
}

void VindaraDrivesNativeExport::Prepare(const bfs::path& destination)
{
    m_copier.filesToCreate.push_back((destination / ".volumes").string());
}

void VindaraDrivesNativeExport::Finish(const bfs::path& destination)
{
    std::vector<std::pair<std::string, std::string>> written;
    try {
        WriteIndexFiles(destination, written);
        WriteSettings(destination, written);
        RenameAll(written);
    } catch (...) {
        RemoveAll(written);
        m_copier.channelSet.clear();
        throw;
    }
    m_copier.channelSet.clear();
}

void VindaraDrivesNativeExport::WriteIndexFiles(const bfs::path& destination,
                                                std::vector<std::pair<std::string, std::string>>& written)
{
    IndexEntryMap sourceEntries;
    for (const Storage::ExportTask& task : Tasks())
        m_fileSystem->GetIndexEntries(task.ChannelIds, pt::time_period(task.FromTime, task.ToTime), sourceEntries);

    // Destination index file -> its entries (several source keys may share one).
    std::map<std::string, std::vector<IndexEntry>> byIndex;
    for (const auto& [key, list] : sourceEntries) {
        const bfs::path day = bfs::path(key).parent_path();
        const std::string index = (bfs::path(DestinationVolume(day.parent_path(), destination)) / "VIDEO" /
                                   "INDEX" / (DayIndexName(day.filename().string()) + ".idx"))
                                      .string();
        auto& entries = byIndex[index];
        entries.insert(entries.end(), list.begin(), list.end());
    }
    for (auto& [index, entries] : byIndex) {
        // An earlier export's entries of the day stay listed.
        const std::vector<IndexEntry> existing = ReadExistingIndex(index);
        entries.insert(entries.end(), existing.begin(), existing.end());
        const auto key = [](const IndexEntry& e) { return std::make_tuple(e.entry.begin, e.entry.end, e.cameraId); };
        std::stable_sort(entries.begin(), entries.end(),
                         [&](const IndexEntry& a, const IndexEntry& b) { return key(a) < key(b); });
        entries.erase(std::unique(entries.begin(), entries.end(),
                                  [&](const IndexEntry& a, const IndexEntry& b) { return key(a) == key(b); }),
                      entries.end());
        bfs::create_directories(bfs::path(index).parent_path());
        const std::string temp = ExportTempPath(index);
        written.emplace_back(temp, index);
        m_fileSystem->WriteIndexFile(temp, entries);
        boost::system::error_code ec;
        const uint64_t size = bfs::file_size(temp, ec);
        if (ec || size != 4 + 25 * entries.size())
            throw bfs::filesystem_error("Saving index file failed", temp,
                                        ec ? ec : boost::system::errc::make_error_code(boost::system::errc::io_error));
    }
}

void VindaraDrivesNativeExport::WriteSettings(const bfs::path& destination,
                                              std::vector<std::pair<std::string, std::string>>& written)
{
    for (const std::string& root : m_roots) {
        if (root.empty())
            continue;
        const bfs::path sourceFolder =
            root.find("VIDEO") != std::string::npos ? bfs::path(root) : bfs::path(root) / "VIDEO";
        const std::string source = ArchiveSettingsPath(Normal(sourceFolder.string()).string());
        const bfs::path video = bfs::path(DestinationVolume(Normal(sourceFolder.string()), destination)) / "VIDEO";
        if (!bfs::exists(video))
            continue;
        Settings settings;
        if (bfs::exists(source))
            settings.Load(source);
        for (int32_t id : settings.GetChannelIds())
            if (m_copier.channelSet.count(id) == 0)
                settings.RemoveChannel(id);
        // The channels of an earlier export into this folder stay.
        const std::string target = ArchiveSettingsPath(video.string());
        if (bfs::exists(target))
            settings.Load(target);
        const std::string temp = ExportTempPath(target);
        written.emplace_back(temp, target);
        settings.Save(temp);
    }
}

boost::shared_ptr<BasePlayerExport> CreateNativeExport(boost::shared_ptr<IVindaraFileSystem> fileSystem)
{
    if (boost::dynamic_pointer_cast<VindaraDrivesFS>(fileSystem))
        return boost::shared_ptr<BasePlayerExport>(new VindaraDrivesNativeExport(fileSystem));
    return boost::shared_ptr<BasePlayerExport>(new VindaraFilesNativeExport(fileSystem));
}

}  // namespace Storage
