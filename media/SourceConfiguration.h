#pragma once
// What is being played: the paths the user (or the command line) chose and a
// source mode, turned into video sources. Archive material goes through an
// archive front end, one decoding source per channel; ordinary media files
// are found in the paths, checked for a signature by an outside checker, read
// into records, given the SubRip files beside them and grouped into one
// media-file source per channel.
//
// GUI thread only. A configuration is set up as a whole (Setup); its video
// sources are made on the first request and kept until the next Setup.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "media/MediaFileRecord.h"
#include "config/StartOptions.h"

class QFileInfo;

namespace Storage {
class IVindaraFileSystem;
}
namespace filters {
class IVideoSource;
}

class ISourceConfiguration {
public:
    // Stored as an int in the settings file.
    enum ESourceMode {
        DRIVES = 0,       // the recorder's archive on drives
        FOLDER = 1,       // a folder of exported archive material
        SINGLE_FILE = 2,  // one file: a media container or an exported archive file
        AVI_FILES = 3,    // ordinary media files (folders and files); no front end
    };

    virtual ~ISourceConfiguration() = default;
    // Empty when there is no archive front end.
    virtual boost::shared_ptr<Storage::IVindaraFileSystem> GetFileSystem() = 0;
    virtual std::vector<boost::shared_ptr<filters::IVideoSource>> GetVideoSources() = 0;
    // The application settings' current mode.
    virtual ESourceMode GetSourceMode() = 0;
    // Why this configuration gave no channel, as a sentence for the user;
    // empty when nothing was chosen or the reason is the user's own choice.
    virtual std::string DescribeNoVideo() { return {}; }
};

enum SourceFileClass {
    CLASSIFY_MEDIA = 0,
    CLASSIFY_SUBTITLES = 2,
    CLASSIFY_OTHER = 3,
};

// By the upper-cased suffix of a file: AVI, MKV, MP4, ASF, FLV, MOV are
// media, SRT subtitles; anything else, and what is not a file, other.
int ClassifySourceFile(const QFileInfo& file);
// The same for a path as the file system's bytes (names need not be UTF-8).
int ClassifySourcePath(const std::string& path);

// The outside signature checker: "watermark" in the program folder, else in
// "Modules" beside it. The file counts as signed only when the checker exists,
// finishes within the limit (a checker still running then is killed) and
// exits with 0.
struct SignatureCheck {
    std::string programFolder;  // empty: the running program's folder
    int timeoutMs = 30000;
};
bool CheckSigned(const QFileInfo& file, const SignatureCheck& check = {});
// The same for an absolute path as the file system's bytes.
bool CheckSignedPath(const std::string& path, const SignatureCheck& check = {});

// Why the paths (joined with "|") of a source in `mode` gave no channel: a
// sentence for the user naming the first path at fault and the reason (it
// does not exist, it cannot be read, it holds no archive or media file, its
// media file cannot be opened). Empty when no path was given.
std::string DescribeEmptySource(const std::string& paths, ISourceConfiguration::ESourceMode mode);

class SourceConfiguration : public ISourceConfiguration {
public:
    // No front end, no paths, no channel filter.
    SourceConfiguration();
    // The settings' source (unless the options ask for the portable mode) in
    // the settings' mode, with the channel filter on; a front end is opened
    // synchronously.
    explicit SourceConfiguration(const StartOptions& options);
    ~SourceConfiguration() override;

    // Replaces the configuration: paths joined with "|" ('/' separators).
    void Setup(const std::string& paths, ESourceMode mode, const StartOptions& options);
    void SetupWithDefaults(const std::string& paths, ESourceMode mode);

    boost::shared_ptr<Storage::IVindaraFileSystem> GetFileSystem() override { return m_fileSystem; }
    // A copy of the sources, made on the first call.
    std::vector<boost::shared_ptr<filters::IVideoSource>> GetVideoSources() override;
    ESourceMode GetSourceMode() override;
    // DescribeEmptySource of the paths; when the archive has channels that
    // the channel filter left out, says so.
    std::string DescribeNoVideo() override;
    // Whether there is anything to play (opens the front end).
    bool HasVideo();

    const std::string& GetPaths() const { return m_paths; }
    // Whether what the last Setup chose may be exported: archive sources
    // always; one plain media file only as AVI, MKV or a portable player
    // (EXE); a folder of plain media files not.
    bool IsExportAllowed() const { return m_exportAllowed; }
    // The checker used for the media files from now on.
    void SetSignatureCheck(const SignatureCheck& check) { m_signatureCheck = check; }

private:
    void findVideoChannels();
    void AddMediaFile(const std::string& path, bool forced, std::vector<MediaFileRecord>& files);
    void BuildVideoSources(const std::vector<MediaFileRecord>& files);
    void FindExternalSubtitles(MediaFileRecord& record);

    boost::shared_ptr<Storage::IVindaraFileSystem> m_fileSystem;
    std::vector<boost::shared_ptr<filters::IVideoSource>> m_videoSources;
    std::string m_paths;
    // Subtitle files of a media file's folder and base name.
    std::map<std::wstring, std::vector<boost::shared_ptr<ExternalSubtitleFile>>> m_subtitleCache;
    // The SubRip files of each folder looked at, listed once per build.
    std::map<std::string, std::vector<std::string>> m_folderSubtitles;
    bool m_applyChannelFilter = false;
    bool m_exportAllowed = true;
    SignatureCheck m_signatureCheck;
};
