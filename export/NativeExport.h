#pragma once
// Native exports: the archive files of the chosen channels and windows,
// copied in the archive's own format so that the copy opens again as an
// archive. Exported files and folders are copied flat into the destination;
// the recorder archive on drives keeps its layout (volume, VIDEO, day
// folders) and gets new index files for the exported days, a settings file
// holding the exported channels and the ".volumes" marker.
//
// Exporting into a folder that holds an earlier export keeps that export
// readable: a day's new index keeps the entries already there, the settings
// file its other channels.

#include <set>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "export/BasePlayerExport.h"
#include "export/ExportHelper.h"

namespace Storage {

class IVindaraFileSystem;

class VindaraFileSystemNativeExport : public BasePlayerExport {
public:
    explicit VindaraFileSystemNativeExport(boost::shared_ptr<IVindaraFileSystem> fileSystem);

protected:
    void ExportTask(const Storage::ExportTask& task, const boost::filesystem::path& destination) override;
    // Refuses an empty destination and one equal to, inside or above a
    // source root (whole path components compared).
    bool CheckDestination(const std::string& destination, const std::vector<Storage::ExportTask>& tasks) override;
    void Finish(const boost::filesystem::path& destination) override;

    virtual void CollectChannelFiles(const Storage::ExportTask& task, std::vector<std::string>& files);
    virtual void AddFilesToCopy(const std::vector<std::string>& files, std::set<std::string>& sourceFolders,
                                const boost::filesystem::path& destination) = 0;
    virtual void AddStaleFiles(const std::set<std::string>& sourceFolders,
                               const boost::filesystem::path& destination);
    // The source paths (folders, or a single file) that a destination may
    // neither equal, lie inside nor lie above: a copy above a single file
    // may land on it.
    virtual std::vector<std::string> SourceRoots();

    boost::shared_ptr<IVindaraFileSystem> m_fileSystem;
    ExportHelper m_copier;
};

class VindaraFilesNativeExport : public VindaraFileSystemNativeExport {
public:
    // Throws std::logic_error("Null filesystem"); opens the file system
    // synchronously when it is not open yet.
    explicit VindaraFilesNativeExport(boost::shared_ptr<IVindaraFileSystem> fileSystem);

protected:
    void AddFilesToCopy(const std::vector<std::string>& files, std::set<std::string>& sourceFolders,
                        const boost::filesystem::path& destination) override;
    virtual void DestinationPath(const boost::filesystem::path& source, const boost::filesystem::path& destination,
                                 std::string& result, std::set<std::string>& sourceFolders);
};

class VindaraDrivesNativeExport : public VindaraFilesNativeExport {
public:
    explicit VindaraDrivesNativeExport(boost::shared_ptr<IVindaraFileSystem> fileSystem);

    // The folder of a volume at the destination, named after the volume that
    // holds the source's VIDEO folder (or archive folder).
    std::string DestinationVolume(const boost::filesystem::path& videoFolder,
                                  const boost::filesystem::path& destination) const;

protected:
    void Prepare(const boost::filesystem::path& destination) override;
    void Finish(const boost::filesystem::path& destination) override;
    void AddStaleFiles(const std::set<std::string>& sourceFolders,
                       const boost::filesystem::path& destination) override;
    void DestinationPath(const boost::filesystem::path& source, const boost::filesystem::path& destination,
                         std::string& result, std::set<std::string>& sourceFolders) override;
    std::vector<std::string> SourceRoots() override { return m_roots; }

private:
    void WriteIndexFiles(const boost::filesystem::path& destination,
                         std::vector<std::pair<std::string, std::string>>& written);
    void WriteSettings(const boost::filesystem::path& destination,
                       std::vector<std::pair<std::string, std::string>>& written);

    std::vector<std::string> m_roots;
};

// The drives engine for a recorder archive, the files engine otherwise.
boost::shared_ptr<BasePlayerExport> CreateNativeExport(boost::shared_ptr<IVindaraFileSystem> fileSystem);

// "25-05-22 13" -> "25052213": every '-' and ' ' removed, any extension
// dropped.
std::string DayIndexName(const std::string& dayFolder);
// True when `inner` equals `outer` or lies below it, comparing whole path
// components of the lexically normal absolute paths.
bool PathWithin(const std::string& inner, const std::string& outer);

}  // namespace Storage
