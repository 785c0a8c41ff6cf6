#pragma once
// The records of an ordinary media file: each record is one span of one
// channel inside one file, placed on the archive time line. Exported files
// describe their cameras and recorded spans in the "recinfo" text of the
// container's "comment" entry; any other file is one record named and placed
// by its file name ("<channel> YYYY-MM-DD HH-MM-SS_mmm", local time).

#include <cstdint>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "media/TimeConversion.h"
#include "media/VideoSourceInterfaces.h"

namespace TITLES {
struct TitleSettings;
}
namespace VindaraFileSystem {
struct AviCamData;
}

// A SubRip file lying beside a media file.
struct ExternalSubtitleFile {
    std::string path;               // UTF-8
    int32_t videoStreamIndex = -1;  // the video stream it belongs to; -1 for any
    std::string fileName;           // UTF-8
};

struct MediaFileRecord {
    std::wstring id;    // channel identifier
    std::wstring name;  // channel display name
    std::string path;   // the media file, UTF-8
    std::string videoStreamTitle;  // empty: FFmpeg's best video stream
    std::string audioStreamTitle;  // empty: none
    std::vector<std::string> textStreams;  // in-file subtitle stream titles, sorted, unique
    std::vector<boost::shared_ptr<ExternalSubtitleFile>> externalSubtitles;
    // Continuous periods: positions in the file (ms from its start); archive
    // periods: the same spans in ms since 1970 UTC. The zone offset is unused.
    utils::TimeConverter converter;
    bool isSigned = false;  // the file passed the external signature check
    bool hasAudio = false;
    filters::CameraViewSettings camera;
    int32_t timeShift = 0;  // seconds; 0 when the recording's zone is this computer's
    // Title-line settings of textStreams, in their order (may be shorter).
    std::vector<boost::shared_ptr<TITLES::TitleSettings>> titleSettings;
    int64_t start = 0;   // ms since 1970 UTC
    int64_t length = 0;  // ms
};

// The file-name pattern, with named groups channelName, year, month, day,
// hour, min, sec and fraction.
extern const char* const kMediaFileNamePattern;

// A date and time text read with a boost date-time format into ms since
// 1970; unless keepAsUtc the text is local time. The text after the first
// `separator` is added as milliseconds. An empty text gives 0. A text the
// format cannot read, or whose fraction is a number outside 0..999, gives 0
// and clears *valid (when given); a fraction that is not a number only loses
// the fraction.
int64_t ParseRecInfoTime(const std::string& text, const std::string& format, char separator, bool keepAsUtc,
                         bool* valid = nullptr);
// The lens type of a lens text, by the one table in render/Lenses.h.
int32_t ParseLensType(const std::string& text);
// Minutes east of UTC as seconds; 0 when that is this computer's offset now.
// Throws boost::bad_lexical_cast for a text that is not a number or lies
// more than a day (1440 minutes) from UTC.
int32_t ParseTimeZoneOffset(const std::string& text);

namespace filters {

class FFmpegVideoSource;

// The title settings of the camera for each stream name, in order; names
// without settings are skipped.
std::vector<boost::shared_ptr<TITLES::TitleSettings>> FindTitleSettingsForStreams(
    const VindaraFileSystem::AviCamData& camera, const std::vector<std::string>& streams);

// Appends the records of the file (path, base name as name and the signed
// flag are taken from `file`) to `records`: the recinfo records of its
// "comment", else one record from its file name. Nothing when the file does
// not open. The source stays open on the file afterwards.
void ReadMediaFileRecords(FFmpegVideoSource& source, const MediaFileRecord& file,
                          std::vector<MediaFileRecord>& records);
// The recinfo records of a comment text (none for a text of 5 characters or
// fewer, or one that does not parse).
void ReadRecInfoRecords(const std::string& comment, const MediaFileRecord& file,
                        std::vector<MediaFileRecord>& records);

}  // namespace filters
