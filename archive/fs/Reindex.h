#pragma once
// Re-indexing an hour folder (or the PROTECTED folder) of a volume from the
// names and times of its archive video files, without any index file.
//
// Names of archive files:
//   hour folder:  ID.EXT              1A2B._05 (camera 5), 1A2B._A0 (camera 100)
//   PROTECTED:    DD-MM-YY HH ID.EXT  "05-03-22 14 1A2B._05"
// ID is the file id in upper-case hex without leading zeros, EXT the video
// channel extension (Volume.h). In an hour folder a name is taken only when it
// is exactly the name the volume would give that camera and id.
//
// Times: a file's begin is its creation time and its end its last-write time
// when the creation time lies inside the hour its folder names. Copies reset
// both times and this platform cannot set a creation time, so otherwise the
// file is opened read-only and its first and last frame records give the
// times; archive files are never written here.

#include <cstdint>
#include <string>

// Camera of a channel extension's number part (the text after "._"): two
// decimal digits are the camera itself, anything else is hexadecimal camera
// + 60 ("A0" -> 100).
int ParseChannelSuffix(const std::string& text);

// Where an archive file's record times came from.
enum class ArchiveTimeSource {
    FileTimes,   // creation time inside the folder's hour, last-write time
    Frames,      // first frame record; last frame record (or the last-write
                 // time when it is plausible)
    Fallback,    // the frames could not be read: the last-write time when it
                 // lies inside the folder's hour, else the hour's start
};

struct ArchiveFileTimes {
    uint64_t begin = 0;  // UTC ms since 1970
    uint64_t end = 0;
    ArchiveTimeSource source = ArchiveTimeSource::FileTimes;
    std::string error;     // why the frames could not be read (Fallback)
    int errorKind = 0;     // 1 memory, 2 file, 3 format (Fallback)
};

// Record times of one archive file whose folder stands for the local hour
// beginning at hourStartUnixMs (0: the hour is not known, so the creation
// time is never trusted). Never throws; the file is only ever opened for
// reading.
ArchiveFileTimes ResolveArchiveFileTimes(const std::string& path, uint64_t hourStartUnixMs);
// The same with the file's creation and last-write times as a folder listing
// gave them (UTC ms since 1970; a creation time of 0 or less: none kept).
ArchiveFileTimes ResolveArchiveFileTimes(const std::string& path, uint64_t hourStartUnixMs, int64_t createdUnixMs,
                                         int64_t modifiedUnixMs);
// The same for the file `name` of the folder open as dirFd, whose size the
// listing gave too (`path` names it in messages).
ArchiveFileTimes ResolveArchiveFileTimes(int dirFd, const std::string& name, const std::string& path,
                                         uint64_t hourStartUnixMs, int64_t createdUnixMs, int64_t modifiedUnixMs,
                                         uint64_t size);

// First frame record's time (UTC ms since 1970) of an archive file. Throws
// platform::FileException / platform::ArchiveException / std::bad_alloc as
// the record reading does.
uint64_t ReadFirstFrameTime(const std::string& path);
// Last frame's time from the file's frame index; false when the file has no
// usable trailer or index.
bool ReadLastFrameTime(const std::string& path, uint64_t& unixMs);

// Whether files can be made and removed in `folder`: false on a file system
// mounted read-only, for a folder without any write permission bit (so a
// write-protected copy stays untouched even for a privileged user) and for
// one the process may not write to. A missing folder gives false.
bool IsFolderWritable(const std::string& folder);
