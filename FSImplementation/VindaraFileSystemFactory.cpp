// Classification of a source string and the three archive front ends.

#include "FSImplementation/VindaraFileSystemFactory.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include <boost/format.hpp>
#include <boost/lexical_cast.hpp>

#include "FSImplementation/FSInfo.h"
#include "FSImplementation/OrlekVideoFile.h"
#include "archive/fs/FileSystem.h"
#include "archive/fs/SettingsLoader.h"
#include "base/Log.h"
#include "base/StringConv.h"
#include "platform/Dir.h"

namespace Storage {

namespace pt = boost::posix_time;
namespace fs = std::filesystem;

namespace {

// The folder holds an entry of that name (without regard to case). Errors
// reading the folder other than its absence throw std::filesystem_error.
bool HasChild(const std::string& folder, const char* name)
{
    if (folder.empty())
        return false;  // not the working folder
    std::error_code ec;
    if (fs::exists(fs::path(folder) / name, ec))
        return true;
    if (!fs::is_directory(folder, ec))
        return false;
    for (fs::directory_iterator it(folder), end; it != end; ++it) {
        if (platform::EqualsNoCase(it->path().filename().string(), name))
            return true;
    }
    return false;
}

// Entries of a folder in the order a Windows folder listing gives them, so
// that scans are the same on every machine. Throws std::filesystem_error.
std::vector<fs::directory_entry> SortedEntries(const std::string& folder)
{
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder), end; it != end; ++it)
        entries.push_back(*it);
    std::sort(entries.begin(), entries.end(), [](const fs::directory_entry& a, const fs::directory_entry& b) {
        return platform::CompareNamesWindowsOrder(a.path().filename().string(), b.path().filename().string()) < 0;
    });
    return entries;
}

pt::ptime InstantOrSpecial(const TSS& time)
{
    return TssToInstant(time);
}

}  // namespace

// --- classification and factory ---------------------------------------------

std::string WithTrailingSeparator(const std::string& path)
{
    if (path.empty() || path.back() == '/')
        return path;
    return path + '/';
}

bool HasIndexOrSettings(const std::string& path)
{
    return HasChild(path, "INDEX") || HasChild(path, "settings.xml");
}

FileSystemType GetFileSystemType(const std::string& path)
{
    try {
        const fs::path p(path);
        if (fs::exists(p) && !fs::is_directory(p))
            return File;
        if (HasChild(path, "VIDEO") || HasChild(path, ".volumes"))
            return Drives;
        if (HasIndexOrSettings(path))
            return Drives;
        return Folder;
    } catch (const std::exception& e) {
        QOR_LOG_ERROR(getDefaultDebugInstance(),
                      boost::format("Failed get the type of fileSystem. Path = %1%, message = %2%") % path % e.what());
        return Unknown;
    }
}

boost::shared_ptr<IVindaraFileSystem> CreateVindaraFileSystem(const std::string& source)
{
    std::vector<std::string> items = FSInfo::splitPaths(source);
    if (items.size() >= 2) {
        for (std::string& item : items)
            item = WithTrailingSeparator(item);
        return boost::shared_ptr<IVindaraFileSystem>(new VindaraDrivesFS(FSInfo::joinPaths(items), false));
    }

    switch (GetFileSystemType(source)) {
    case Folder:
        return boost::shared_ptr<IVindaraFileSystem>(new VindaraFolderFS(WithTrailingSeparator(source)));
    case File:
        return boost::shared_ptr<IVindaraFileSystem>(new VindaraFileFS(source));
    case Drives: {
        std::vector<std::string> volumes;
        bool root = false;
        try {
            root = HasIndexOrSettings(source);
            const bool hasVolumes = HasChild(source, ".volumes");
            if (root || (HasChild(source, "VIDEO") && !hasVolumes))
                volumes.push_back(WithTrailingSeparator(source));
            if (hasVolumes) {
                for (const fs::directory_entry& entry : SortedEntries(source)) {
                    std::error_code ec;
                    if (entry.is_directory(ec))
                        volumes.push_back(WithTrailingSeparator(entry.path().string()));
                }
            }
        } catch (const std::exception& e) {
            QOR_LOG_ERROR(getDefaultDebugInstance(),
                          boost::format("Failed get the type of fileSystem. Path = %1%, message = %2%") % source %
                              e.what());
            return {};
        }
        return boost::shared_ptr<IVindaraFileSystem>(new VindaraDrivesFS(FSInfo::joinPaths(volumes), root));
    }
    case Unknown:
    default:
        QOR_LOG_ERROR(getDefaultDebugInstance(), "Invalid enum(FileSystemType) value");
        return {};
    }
}

// --- shared open sequence ----------------------------------------------------

void VindaraFSInitializer::Initialize(bool async)
{
    bool opened = false;
    std::string message;
    try {
        Open(async);
        opened = true;
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
    }
    // Taken before any handler runs and changes it.
    const int lastError = errno;

    if (!opened) {
        ProgressSignal(*this, 100);
        errno = lastError;
        ReportComplete(false, message);
        return;
    }
    if (!IsAsyncOpen() || !async) {
        ProgressSignal(*this, 100);
        ReportComplete(true, std::string());
    }
}

void VindaraFSInitializer::ReportComplete(bool success, const std::string& message)
{
    int code = 0;
    if (!success) {
        code = errno;
        if (code == 0)
            code = 13;
    }
    boost::system::system_error error(boost::system::error_code(code, boost::system::system_category()), message);
    CompleteSignal(*this, error);
}

// --- one exported file -------------------------------------------------------

VindaraFileFS::VindaraFileFS(const std::string& path) : m_path(path) {}

void VindaraFileFS::Open(bool)
{
    OrlekVideoFile file;
    if (!file.Open(m_path))
        throw std::runtime_error("Failed to open file");
    m_channelId = std::to_string(file.GetCameraId());
    m_settingsLoader.reset(new VindaraSettingsLoader(m_path));
    // Each channel reader opens the file itself.
}

void VindaraFileFS::GetChannels(std::vector<std::string>& ids)
{
    if (!m_channelId.empty())
        ids.push_back(m_channelId);
}

boost::shared_ptr<IChannelReader> VindaraFileFS::CreateChannelReader(const std::string& id)
{
    if (m_channelId.empty() || id != m_channelId)
        return {};
    boost::shared_ptr<VindaraFileChannelReader> reader(
        new VindaraFileChannelReader(m_path, m_channelId, m_settingsLoader));
    reader->Init();
    return reader;
}

// --- a folder of exported files ------------------------------------------------

VindaraFolderFS::VindaraFolderFS(const std::string& path) : m_path(WithTrailingSeparator(path)) {}

void VindaraFolderFS::Open(bool)
{
    m_channels.clear();
    ScanFolder(m_path);
    m_settingsLoader.reset(new VindaraSettingsLoader(m_path));
}

void VindaraFolderFS::ScanFolder(const std::string& folder)
{
    for (const fs::directory_entry& entry : SortedEntries(folder)) {
        const std::string path = entry.path().string();
        if (entry.is_regular_file()) {
            const int32_t id = GetArchiveFileCameraId(path);
            if (id == -1)
                continue;
            RecordInterval times = GetFileTimes(path);
            if (!TSS::IsEarlier(times.begin, times.end)) {
                // Copied files carry no usable times: ask the file's frames.
                OrlekVideoFile file;
                times = RecordInterval{};
                if (file.Open(path))
                    times = file.GetReader().GetRecordInterval(TSS{}, false);
            }
            const pt::ptime begin = InstantOrSpecial(times.begin);
            const pt::ptime end = InstantOrSpecial(times.end);
            if (!(begin < end))
                continue;
            // An overlapping period is an equal key: the first file met stays.
            m_channels[std::to_string(id)].emplace(pt::time_period(begin, end), path);
        } else if (entry.is_directory()) {
            ScanFolder(path);
        }
    }
}

void VindaraFolderFS::GetChannels(std::vector<std::string>& ids)
{
    for (const auto& [id, files] : m_channels)
        ids.push_back(id);
}

boost::shared_ptr<IChannelReader> VindaraFolderFS::CreateChannelReader(const std::string& id)
{
    auto it = m_channels.find(id);
    if (it == m_channels.end())
        return {};
    const int channel = boost::lexical_cast<int>(id);
    const ChannelInfo info = m_settingsLoader ? m_settingsLoader->GetChannel(channel) : ChannelInfo(channel);
    boost::shared_ptr<VindaraFolderChannelReader> reader(
        new VindaraFolderChannelReader(it->second, channel, StringToWString(id), info));
    reader->Init();
    return reader;
}

// --- the recorder's archive on drives --------------------------------------------

VindaraDrivesFS::VindaraDrivesFS(const std::string& drives, bool videoFolderRoot)
    : m_drives(drives),
      m_fileSystem(new FileSystem()),
      m_videoFolderRoot(videoFolderRoot),
      m_period(pt::ptime(pt::neg_infin), pt::ptime(pt::pos_infin))
{
    CompleteSignal.connect([this](IVindaraFileSystem& fs, boost::system::system_error& error) {
        OnComplete(fs, error);
    });
}

// An asynchronous initialisation still running finishes while the engine is
// destroyed (it waits for it); no reader can hold the engine before the
// front end is open, so its completion reaches only this object's lock and
// flag, which outlive the engine member.
VindaraDrivesFS::~VindaraDrivesFS()
{
    CompleteSignal.disconnect_all_slots();
    ProgressSignal.disconnect_all_slots();
}

void VindaraDrivesFS::Open(bool async)
{
    boost::recursive_mutex::scoped_lock lock(m_lock);
    m_opened = false;

    std::string list = m_drives;
    for (char& c : list) {
        if (c == '|')
            c = ',';
    }
    const std::set<std::string> volumes = ParseDriveList(list);
    m_fileSystem->SetHourWindow({m_period.begin(), m_period.last()});

    FileSystem::ProgressCallback progress;
    FileSystem::CompletionCallback completion;
    if (async) {
        progress = [this](int percent) { ProgressSignal(*this, percent); };
        completion = [this](int state, const std::set<std::string>&) {
            if (state == FileSystem::InitRefused)
                errno = 0;
            ReportComplete(state != FileSystem::InitRefused, std::string());
        };
    }
    const bool loaded = m_fileSystem->Init(volumes, progress, completion, m_videoFolderRoot ? 1 : 0);
    if (!async && !loaded)
        throw std::runtime_error("No archive volume could be loaded from '" + m_drives + "'");
}

void VindaraDrivesFS::OnComplete(IVindaraFileSystem&, boost::system::system_error& error)
{
    boost::recursive_mutex::scoped_lock lock(m_lock);
    m_opened = error.code().value() == 0;
}

void VindaraDrivesFS::GetChannels(std::vector<std::string>& ids)
{
    boost::recursive_mutex::scoped_lock lock(m_lock);
    if (!m_opened)
        return;
    std::vector<int> cameras;
    m_fileSystem->GetCameraIds(cameras);
    ids.clear();
    for (int camera : cameras)
        ids.push_back(std::to_string(camera));
}

boost::shared_ptr<IChannelReader> VindaraDrivesFS::CreateChannelReader(const std::string& id)
{
    boost::recursive_mutex::scoped_lock lock(m_lock);
    if (!m_opened)
        return {};
    boost::shared_ptr<VindaraDrivesChannelReader> reader(
        new VindaraDrivesChannelReader(m_fileSystem, boost::lexical_cast<int>(id)));
    reader->Init();
    return reader;
}

void VindaraDrivesFS::GetIndexEntries(const std::vector<std::string>& ids, const pt::time_period& period,
                                      IndexEntryMap& entries)
{
    boost::recursive_mutex::scoped_lock lock(m_lock);
    const pt::ptime begin = period.begin();
    const pt::ptime last = period.last();
    const pt::ptime end = last.is_special() ? last : last + pt::microseconds(1);
    m_fileSystem->CollectIndexEntries(ids, InstantToTss(begin), InstantToTss(end), entries);
}

void VindaraDrivesFS::WriteIndexFile(const std::string& path, const std::vector<IndexEntry>& entries)
{
    m_fileSystem->SaveIndexFile(path, entries);
}

}  // namespace Storage
