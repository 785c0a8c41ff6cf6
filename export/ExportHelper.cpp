#include "export/ExportHelper.h"

#include <sys/statvfs.h>

#include <cerrno>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>

#include "FSImplementation/OrlekVideoFile.h"
#include "base/Log.h"
#include "export/ExportErrors.h"
#include "export/ExportTask.h"

namespace Storage {

namespace bfs = boost::filesystem;

namespace {

// The companion of an archive file: the first "._" of the extension
// replaced by ".w".
bool CompanionPath(const bfs::path& path, bfs::path& companion)
{
    const std::string ext = path.extension().string();
    const size_t at = ext.find("._");
    if (at == std::string::npos)
        return false;
    std::string replaced = ext;
    replaced.replace(at, 2, ".w");
    companion = path;
    companion.replace_extension(replaced);
    return true;
}

uint64_t RoundUp(uint64_t size, uint64_t cluster)
{
    return cluster == 0 ? size : (size + cluster - 1) / cluster * cluster;
}

}  // namespace

std::string ExportTempPath(const std::string& path)
{
    return path + ".exporting";
}

bfs::path ExistingAncestor(const bfs::path& path)
{
    bfs::path p = bfs::absolute(path);
    boost::system::error_code ec;
    while (!p.empty() && !bfs::exists(p, ec))
        p = p.parent_path();
    return p.empty() ? bfs::path("/") : p;
}

uint64_t AvailableSpace(const bfs::path& path)
{
    return bfs::space(ExistingAncestor(path)).available;
}

void ExportHelper::AddFile(const bfs::path& source, const bfs::path& destination)
{
    copyPairs.emplace_back(source, destination);
    bfs::path sourceCompanion, destinationCompanion;
    if (CompanionPath(source, sourceCompanion) && CompanionPath(destination, destinationCompanion)) {
        boost::system::error_code ec;
        if (bfs::exists(sourceCompanion, ec))
            copyPairs.emplace_back(sourceCompanion, destinationCompanion);
    }
}

void ExportHelper::CreateFolders(const bfs::path& folder)
{
    std::vector<std::string> missing;
    for (bfs::path p = folder; !p.empty() && !bfs::exists(p); p = p.parent_path())
        missing.push_back(p.string());
    createdFolders.insert(createdFolders.end(), missing.begin(), missing.end());
    if (!missing.empty())
        bfs::create_directories(folder);
}

uint64_t ExportHelper::getClusterSize(const bfs::path& path)
{
    struct statvfs info {};
    if (::statvfs(ExistingAncestor(path).c_str(), &info) != 0)
        throw bfs::filesystem_error("getClusterSize: GetDiskFreeSpace failed", path,
                                    boost::system::error_code(errno, boost::system::system_category()));
    return info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
}

uint64_t ExportHelper::RequiredSpace() const
{
    if (copyPairs.empty())
        return 0;
    const uint64_t cluster = getClusterSize(copyPairs.front().second.parent_path());
    uint64_t required = 0xA00000;
    for (const auto& [source, destination] : copyPairs) {
        required += RoundUp(bfs::file_size(source), cluster);
        boost::system::error_code ec;
        if (bfs::is_regular_file(destination, ec)) {
            const uint64_t existing = RoundUp(bfs::file_size(destination), cluster);
            required = required > existing ? required - existing : 0;
        }
    }
    return required;
}

void ExportHelper::Copy(const Storage::ExportTask& task)
{
    if (!copyPairs.empty() && AvailableSpace(copyPairs.front().second.parent_path()) < RequiredSpace()) {
        Clear();
        SetLastExportError(kExportCodeDiskFull);
        throw std::runtime_error("disk is full");
    }
    // Temporary file -> its final name, in the order written.
    std::vector<std::pair<std::string, std::string>> written;
    std::vector<std::string> temporaries;
    try {
        if (!copyPairs.empty()) {
            const double step = 70.0 / static_cast<double>(copyPairs.size());
            for (const auto& [source, destination] : copyPairs) {
                CreateFolders(destination.parent_path());
                const std::string temp = ExportTempPath(destination.string());
                temporaries.push_back(temp);
                bfs::copy_file(source, temp, bfs::copy_options::overwrite_existing);
                written.emplace_back(temp, destination.string());
                const int channel = GetArchiveFileCameraId(source.string());
                if (channel != -1)
                    channelSet.insert(channel);
                (*this)(step, task);
            }
        }
        if (!filesToCreate.empty()) {
            const double step = 2.0 / static_cast<double>(filesToCreate.size());
            for (const std::string& file : filesToCreate) {
                CreateFolders(bfs::path(file).parent_path());
                const std::string temp = ExportTempPath(file);
                temporaries.push_back(temp);
                FILE* created = std::fopen(temp.c_str(), "wb");
                if (created != nullptr) {
                    std::fclose(created);
                    written.emplace_back(temp, file);
                    createdFiles.push_back(file);
                }
                (*this)(step, task);
            }
        }
        for (const auto& [temp, final] : written)
            bfs::rename(temp, final);
        for (const std::string& file : filesToRemove) {
            boost::system::error_code ec;
            bfs::remove(file, ec);
        }
    } catch (...) {
        CleanUp(temporaries);
        Clear();
        throw;
    }
    Clear();
}

void ExportHelper::CleanUp(const std::vector<std::string>& temporaries)
{
    try {
        for (const std::string& temp : temporaries)
            bfs::remove(temp);
        for (const std::string& folder : createdFolders)
            bfs::remove_all(folder);
    } catch (const std::exception& e) {
        QOR_LOG_ERROR(getDefaultDebugInstance(), "Failed to remove files after export failure: %s", e.what());
    }
}

void ExportHelper::Clear()
{
    copyPairs.clear();
    filesToCreate.clear();
    filesToRemove.clear();
    createdFiles.clear();
    createdFolders.clear();
}

}  // namespace Storage
