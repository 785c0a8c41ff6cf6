// Protecting, unprotecting and deleting records through the player
// interface, the paths of a record's files in both places, and the editing of
// hour index files that protection and deletion need.

#include "archive/fs/RecordCommands.h"

#include "base/StringConv.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/format.hpp>

#include "archive/files/VolumePaths.h"
#include "archive/fs/FileSystem.h"
#include "archive/fs/RemoveRecords.h"
#include "base/Log.h"
#include "base/VideoFrame.h"
#include "platform/Dir.h"
#include "platform/File.h"

namespace {

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

bool SameRecord(const IndexEntry& a, const IndexEntry& b) {
    return a.entry.begin == b.entry.begin && a.entry.end == b.entry.end && a.cameraId == b.cameraId;
}

}  // namespace

uint64_t LocalTssToUnixMs(const TSS& local) {
    if (local.IsEmpty()) return 0;
    const uint64_t archiveMs = local.ToUtcMilliseconds();
    return archiveMs > kArchiveUnixOffsetMs ? archiveMs - kArchiveUnixOffsetMs : 0;
}

TSS UnixMsToLocalTss(uint64_t unixMs) { return TSS::FromUtc(unixMs + kArchiveUnixOffsetMs); }

TSS CommandTime(const std::string& text) {
    const std::vector<std::string> words = SplitBlankSeparated(text);
    TSS time{};
    if (words.size() > 1) time.ParseDate(words[1].c_str());
    if (words.size() > 2) time.ParseTime(words[2].c_str());
    return time;
}

std::string FileSystem::GetArchiveFilePath(int camera, const VindaraFileSystem::DirEntry& entry, bool protectedPlace,
                                           char letter) {
    SyncLock lock(m_volumesLock);
    if (entry.volumeIndex >= m_volumes.size()) throw std::invalid_argument("record volume out of range");
    const Volume& volume = m_volumes[entry.volumeIndex];
    if (protectedPlace) return volume.GetProtectedFilePath(camera, entry.fileId, UnixMsToLocalTss(entry.date), letter);
    return volume.GetFilePath(camera, entry.fileId, FormatEntryDate(entry.date), letter);
}

bool FileSystem::ProtectRecord(const std::string& slaveId, VideoFrame* frame, bool protect) {
    if (!frame) return false;
    const TSS time = CommandTime(frame->m_sFileId);
    auto dir = FindCameraDir(frame->m_nChan);
    if (!dir) return false;
    // No readable time names no record (FindEntry(0) would be the first one).
    const uint64_t at = LocalTssToUnixMs(time);
    if (at == 0) return false;
    // FindEntry loads the hours from the asked one on before it answers.
    VindaraFileSystem::DirEntry entry = dir->FindEntry(at);
    return ProtectEntry(slaveId, frame->m_nChan, entry, protect);
}

bool FileSystem::ProtectEntry(const std::string& slaveId, int camera, VindaraFileSystem::DirEntry& entry,
                              bool protect) {
    if (!entry.IsSet() || (entry.isProtected != 0) == protect) return false;
    auto dir = FindCameraDir(camera);
    if (!dir) return false;
    std::string current;
    try {
        current = GetArchiveFilePath(camera, entry, !protect, kVideoLetter);
    } catch (const std::invalid_argument&) {
        return false;
    }

    std::shared_ptr<FileReader> reader = GetReader(slaveId, camera);
    const bool wasOpen = reader->IsCurrentFile(current);
    reader->CloseFile(current.c_str());

    if (!protect) {
        try {
            const std::string hourFolder = platform::JoinPath(GetVolumePath(entry.volumeIndex), FormatEntryDate(entry.date));
            if (!platform::PathExists(hourFolder)) ::mkdir(hourFolder.c_str(), 0777);
        } catch (const std::out_of_range&) {
        }
    }

    if (!MoveArchiveFile(camera, entry, protect, kVideoLetter, protect)) {
        // The record stays where it was, and readable there.
        const char* what = protect ? "Protection" : "Unprotection";
        ReportError(__LINE__, camera,
                    str(boost::format("[FS] %s of record \"%s\" failed; the record stays in place.") % what % current),
                    str(boost::format("%s of record %s failed; the record stays in place.") % what % current), 0);
        if (wasOpen) reader->OpenEntryFile(entry);
        return false;
    }

    dir->RemoveEntry(entry);
    entry.isProtected = protect ? 1 : 0;
    dir->AddEntry(entry);

    MoveArchiveFile(camera, entry, protect, kSoundLetter, true);
    MoveArchiveFile(camera, entry, protect, kTitlesLetter, true);
    SetProtectedMarker(camera, entry, protect);
    if (wasOpen) reader->OpenEntryFile(entry);
    return true;
}

bool FileSystem::MoveArchiveFile(int camera, const VindaraFileSystem::DirEntry& entry, bool protect, char letter,
                                 bool keepOnStaleSource) {
    std::string from;
    std::string to;
    try {
        from = GetArchiveFilePath(camera, entry, !protect, letter);
        to = GetArchiveFilePath(camera, entry, protect, letter);
        platform::File::Rename(from, to);
        return true;
    } catch (const platform::FileException& ex) {
        const std::string text = ex.GetErrorMessage().substr(0, 1024);
        ReportError(__LINE__, camera,
                    str(boost::format("[FS] File %s is not renamed to %s, exception %s") % from % to % text),
                    str(boost::format("File %s is not renamed to %s, exception %s") % from % to % text),
                    static_cast<unsigned long>(ex.m_lOsError));
    } catch (...) {
        return false;
    }

    std::error_code error;
    if (!std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error)) return false;
    if (::unlink(from.c_str()) == 0) return true;
    if (keepOnStaleSource) return true;
    // The source could not be removed: the move counts as failed, so the copy
    // goes again and the record keeps a single place.
    ::unlink(to.c_str());
    return false;
}

void FileSystem::SetProtectedMarker(int camera, const VindaraFileSystem::DirEntry& entry, bool protect) {
    std::string marker;
    try {
        marker = GetArchiveFilePath(camera, entry, false, kVideoLetter) + ".protected";
    } catch (const std::invalid_argument&) {
        return;
    }
    int error = 0;
    if (protect) {
        const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0)
            error = errno;
        else
            ::close(fd);
    } else {
        if (::unlink(marker.c_str()) != 0) error = errno;
        UpdateIndexFiles({IndexEntry{entry, camera}}, false);
    }
    if (error == 0) return;
    ReportError(__LINE__, camera,
                str(boost::format("[FILESYSTEM] Failed to set protected file \"%s\" Error code: %d.") % marker % error),
                str(boost::format("Failed to set protected file %s Error code: %d.") % marker % error),
                static_cast<unsigned long>(error));
}

void FileSystem::UpdateIndexFiles(const std::vector<IndexEntry>& entries, bool remove) {
    std::map<std::string, uint8_t> files;
    {
        SyncLock lock(m_volumesLock);
        for (const auto& item : entries) {
            if (item.entry.volumeIndex >= m_volumes.size()) continue;
            const std::string indexFolder = VolumePaths::ChildNoCase(m_volumes[item.entry.volumeIndex].GetPath(), "INDEX");
            files.emplace(platform::JoinPath(indexFolder, HourFolderToIndexName(FormatEntryDate(item.entry.date))),
                          item.entry.volumeIndex);
        }
    }

    SyncLock lock(m_indexFilesLock);
    for (const auto& [path, volume] : files) {
        // A file that cannot be read in full keeps what could be read.
        std::vector<IndexEntry> loaded;
        LoadIndex(volume, path, loaded);
        const size_t before = loaded.size();
        if (remove) {
            std::erase_if(loaded, [&entries](const IndexEntry& stored) {
                for (const auto& given : entries)
                    if (SameRecord(stored, given)) return true;
                return false;
            });
        } else {
            // Every given record of this hour file that it lacks is appended,
            // whether or not others of them are already there.
            for (const auto& given : entries) {
                if (given.entry.volumeIndex != volume ||
                    HourFolderToIndexName(FormatEntryDate(given.entry.date)) != platform::FileNamePart(path))
                    continue;
                bool present = false;
                for (const auto& stored : loaded)
                    if (SameRecord(stored, given)) present = true;
                if (!present) loaded.push_back(given);
            }
        }
        if (loaded.size() == before) continue;
        if (!SaveIndexFile(path, loaded)) {
            Log()->Warning("[FILESYSTEM][%s] index file \"%s\" not updated.", m_name.c_str(), path.c_str());
            continue;
        }
        std::lock_guard<std::mutex> cacheLock(m_hourIndexCacheLock);
        m_hourIndexCache.erase(path);
    }
}

bool FileSystem::DeleteRecord(VideoFrame* frame) {
    if (!frame) return false;
    TSS time = CommandTime(frame->m_sFileId);
    time.dwMilliseconds = 0;
    return DeleteCameraRecords(frame->m_nChan, LocalTssToUnixMs(time), 0);
}

bool FileSystem::DeleteRecords(int camera, const boost::posix_time::ptime& from, const boost::posix_time::ptime& to) {
    const uint64_t length =
        (from.is_special() || to.is_special()) ? 0 : static_cast<uint64_t>((to - from).total_milliseconds());

    std::vector<std::shared_ptr<FileReader>> taken;
    {
        const std::string suffix = "\\" + std::to_string(camera);
        SyncLock lock(m_readersLock);
        for (auto it = m_readers.begin(); it != m_readers.end();) {
            const std::string& key = it->first;
            if (key.size() >= suffix.size() && key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0) {
                taken.push_back(it->second);
                it = m_readers.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& reader : taken) reader->CloseFile(nullptr);
    taken.clear();

    const uint64_t start = from.is_special() ? 0 : LocalTssToUnixMs(PtimeToTss(from));
    return DeleteCameraRecords(camera, start, length);
}

bool FileSystem::DeleteCameraRecords(int camera, uint64_t beginMs, uint64_t lengthMs) {
    // A begin of 0 (no time given, or one that could not be read) would make
    // the directory walk open-ended and take every record of the camera.
    if (beginMs == 0) return false;
    VolumeDeletions deletions;
    std::vector<IndexEntry> removed;
    if (auto dir = FindCameraDir(camera)) {
        VindaraFileSystem::DirEntrySet chosen;
        dir->ForEachEntry(beginMs, beginMs + lengthMs, [&chosen](const VindaraFileSystem::DirEntry& entry) {
            if (entry.IsSet() && !entry.isProtected) chosen.insert(entry);
            return true;
        });
        if (chosen.empty()) {
            const VindaraFileSystem::DirEntry entry = dir->FindEntry(beginMs);
            if (entry.IsSet() && entry.begin / 1000 == beginMs / 1000 && !entry.isProtected) chosen.insert(entry);
        }
        for (const auto& entry : chosen) {
            dir->RemoveEntry(entry);
            removed.push_back(IndexEntry{entry, camera});
        }
        // Paths are built after the walk: the volumes lock is never held
        // while a directory is walked.
        SyncLock lock(m_volumesLock);
        for (const auto& item : removed) {
            try {
                deletions.Add(item.entry, GetArchiveFilePath(camera, item.entry, false, kVideoLetter));
            } catch (const std::invalid_argument&) {
            }
        }
    }
    if (!removed.empty()) {
        for (const auto& item : removed)
            SendArchDelete(UnixMsToLocalTss(item.entry.begin), camera, static_cast<int64_t>(item.entry.begin),
                           static_cast<int64_t>(item.entry.end));
        UpdateIndexFiles(removed, true);
    }
    ForEachDeletionVolume(deletions, [this](uint8_t v, const VolumeDeletion& part) { DeleteVolumeFiles(v, part); });
    ForEachDeletionVolume(deletions, [this](uint8_t v, const VolumeDeletion& part) { UpdateVolumeIndexes(v, part); });
    return !deletions.Empty();
}
