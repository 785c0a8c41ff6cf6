#pragma once
// One archive drive or folder: its folder layout, the grammar of the file
// names on it and its free space.
//
// Layout below the archive folder (root path + "VIDEO", or the root itself
// for volumes opened on archive folders directly):
//   INDEX/        record index files DDMMYYHH.idx, re-index markers
//                 DDMMYYHH.ndx, the fast index fastIndex.index
//   PROTECTED/    protected copies: "DD-MM-YY HH ID.EXT"
//   DD-MM-YY HH/  one folder per local hour holding the archive files ID.EXT
//   label.iss     the volume label (camera 0)
//   writing[SUFFIX].EXT, remote.EXT   temporary files of a recorder
// ID is the file id in upper-case hex without leading zeros; EXT is the
// channel extension: the type letter ('_' video, 'w' sound, 't' titles) and
// the camera as two decimal digits up to 99, above that camera + 60 in
// upper-case hex (100 -> A0, 195 -> FF, 196 -> 100).
//
// "VIDEO", "INDEX" and "PROTECTED" are found whatever their case on disk;
// paths keep the spelling found.

#include <cstdint>
#include <string>

#include "base/Tss.h"

inline constexpr char kVideoLetter = '_';
inline constexpr char kSoundLetter = 'w';
inline constexpr char kTitlesLetter = 't';

// File id of the recorder's remote temporary file.
inline constexpr int64_t kRemoteFileId = -111;

std::string FormatChannelExtension(char letter, int camera);
inline std::string FormatChannelExtension(int camera, char letter) { return FormatChannelExtension(letter, camera); }

// Hour folder name "DD-MM-YY HH" of a local time; empty for an invalid date
// or time or the year 9999.
std::string FormatHourFolderName(const TSS& localTime);
// Reads "DD-MM-YY HH" back into a local time (minutes and below 0). The two
// year digits always mean 20YY. false for anything else.
bool ParseHourFolderName(const std::string& name, TSS& localTime);

// Module-wide settings of the volumes (read once at start-up).
struct VolumeSettings {
    uint32_t freeMB = 5000;          // threshold of ordinary volumes, >= freeMBCritical
    uint32_t freeMBCritical = 1000;  // the recorder rolls over at or below this
    uint32_t archFreeMB = 5000;      // threshold of volumes with the archive flag
    std::string tempWritingDir;      // empty: recorders write on the volume
};

// The registry values FreeMB, FreeMBCritical, ArchFreeMB and TempWritingDir
// (read through `read`, which gives "" for a missing value) turned into
// settings: FreeMB is raised to FreeMBCritical, ArchFreeMB defaults to the
// result.
VolumeSettings MakeVolumeSettings(const std::string& freeMB, const std::string& freeMBCritical,
                                  const std::string& archFreeMB, const std::string& tempWritingDir);
// The process's settings: on first use read from SOFTWARE\QOR\Vindara\Video
// and the temporary writing folder checked and emptied. A copy: another
// thread may replace the settings at any time.
VolumeSettings GetVolumeSettings();
// Replaces the process's settings (start-up and tests); no folder is touched.
void SetVolumeSettings(const VolumeSettings& settings);
// Drops an inaccessible TempWritingDir (with two warnings) and removes every
// file in an accessible one.
void PrepareTempWritingDir(VolumeSettings& settings);
// Full for recording: free MB 0 or not above the volume kind's threshold
// (compared unsigned).
bool IsVolumeFull(bool archive, int freeMB, const VolumeSettings& settings);
// Free MB of the temporary writing folder; -1 when none is set or unknown.
int GetTempWritingDirFreeMB();

class Volume {
public:
    Volume() = default;
    // noFolder: the root path is itself the archive folder.
    Volume(bool archive, const std::string& rootPath, bool noFolder);

    // The archive folder.
    std::string GetPath() const;
    const std::string& GetRootPath() const { return m_rootPath; }
    const std::string& GetFolderName() const { return m_folderName; }
    bool IsArchive() const { return m_archive; }
    std::string GetIndexPath() const;
    std::string GetProtectedPath() const;
    std::string GetHourFolderPath(const std::string& hourFolder) const;

    // Creates the archive folder, INDEX and PROTECTED where missing (one
    // level each); true when at least one of them exists afterwards.
    bool CreateDirectories();
    bool IsMounted() const;
    bool IsAvailable() const;

    // Free MB (0 when unknown): measured now the first time or when forced,
    // afterwards the checker's last figure.
    int UpdateFreeSpace(bool force);
    // Last known free MB; -2 when not known yet.
    int GetFreeMB() const { return m_freeMB; }
    // Full for recording: free MB 0 or not above the threshold.
    bool IsFull() const;

    // camera 0: label.iss; id -111: remote.EXT; other negative ids:
    // writing.EXT (in TempWritingDir when set); else hourFolder/ID.EXT.
    std::string GetFilePath(int camera, int64_t fileId, const std::string& hourFolder, char letter = kVideoLetter) const;
    std::string GetWritingFilePath(int camera, const std::string& suffix) const;
    // PROTECTED/"DD-MM-YY HH ID.EXT" of an entry's local time; empty for
    // camera 0 or a negative id.
    std::string GetProtectedFilePath(int camera, int64_t fileId, const TSS& entryTime, char letter = kVideoLetter) const;
    // Creation time of the video file as a local time; all zero (and an error
    // logged) when it cannot be read.
    TSS GetFileTime(int camera, int64_t fileId, const std::string& hourFolder) const;
    TSS GetFileCreationTime(int camera, int64_t fileId, const std::string& hourFolder) const {
        return GetFileTime(camera, fileId, hourFolder);
    }

private:
    std::string archiveChild(const char* name) const;

    int m_freeMB = -2;
    std::string m_rootPath;
    bool m_archive = false;
    std::string m_folderName;
};

// Creation time of a file (birth time where the file system keeps it, else
// its modification time) in UTC ms since 1970; false when it cannot be read.
bool GetFileCreationUnixMs(const std::string& path, uint64_t& unixMs, int& error);
