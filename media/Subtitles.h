#pragma once
// Subtitles of ordinary media files: subtitle streams inside the file (read
// through FFmpeg) and SubRip (".srt") files beside it. A source loads its
// whole stream or file when it is opened into an ordered map from the start
// time (ms from the start of the media file) to the texts starting then; the
// media-file source asks, at each frame, which texts to show. A subtitle stays
// on screen until the next one starts: end times are not used.
//
// Sources are created, opened and queried by the one media-file source that
// owns them, one thread at a time; they have no lock of their own.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "media/FFmpegSource.h"

namespace render {
class Titles;
}

// One subtitle text and its position on the picture in pixels; a width or
// height of 0 carries no position.
struct SubtitleEntry {
    std::wstring text;
    double x = 0, y = 0, width = 0, height = 0;
};

namespace filters {

class BaseSubtitlesSource {
public:
    virtual ~BaseSubtitlesSource() = default;

    // file: UTF-8 path; streamId: the stream title (in-file) or the file name
    // (external). False when nothing could be loaded.
    virtual bool Open(const std::string& file, const std::string& streamId) = 0;
    // 1 for a file beside the media file, 0 for a stream inside it.
    virtual int IsExternal() const = 0;
    virtual std::string GetStreamId() const = 0;

    // Several entries per key, in insertion order.
    using EntryMap = std::multimap<int64_t, SubtitleEntry>;
    const EntryMap& GetEntries() const { return m_entries; }

protected:
    EntryMap m_entries;
};

// A SubRip file.
class ExternalSubtitlesSource : public BaseSubtitlesSource {
public:
    // Opening the open file and id again reads nothing; another file adds its
    // cues to the ones already loaded.
    bool Open(const std::string& file, const std::string& streamId) override;
    int IsExternal() const override { return 1; }
    std::string GetStreamId() const override { return m_streamId; }

private:
    std::string m_filePath;
    std::string m_streamId;
};

// A subtitle stream of a media file, chosen by its "title". The decoder is
// opened but packets are not decoded: their payload is the text. The
// container stays open after loading.
class FFmpegSubtitlesSource : public FFmpegSource, public BaseSubtitlesSource {
public:
    int GetMediaType() const override { return 3; }  // AVMEDIA_TYPE_SUBTITLE
    bool Open(const std::string& file, const std::string& streamId) override
    {
        return FFmpegSource::Open(file, streamId);
    }
    int IsExternal() const override { return 0; }
    std::string GetStreamId() const override { return m_streamTitle; }

protected:
    bool OpenStream(const std::string& title) override;
    void OnStreamReset() override { LoadAllPackets(); }

private:
    void LoadAllPackets();
    bool ReadSubtitlePacket();
};

// Reads the cues of a SubRip file into `entries` (added after any entries of
// the same key). Lines may end in CRLF; a cue without a blank line after it
// at the end of the file is kept. False, with an error logged, when the file
// cannot be opened or read.
bool ParseSrtFile(const std::string& path, BaseSubtitlesSource::EntryMap& entries);
// The start of a "HH:MM:SS,mmm --> ..." time text in ms.
int64_t SrtStartKey(const std::string& timeText);
// The rectangle of "X1:x1 X2:x2 Y1:y1 Y2:y2" after the time text: (x1, y1,
// x2 - x1, y2 - y1), the values taken in that order whatever the labels say;
// all zero when missing or unreadable (the latter logged).
void ParseSrtPosition(const std::string& rest, SubtitleEntry& entry);

}  // namespace filters

// The entries of the greatest key not after `timeMs`, in insertion order;
// empty when every key is after it.
std::vector<SubtitleEntry> FindSubtitleEntriesAt(const filters::BaseSubtitlesSource& source, int64_t timeMs);

// Qt alignment flags of "{\anN}", N = 1..9.
extern const int32_t kSubtitleAlignments[9];

// Applies the markup of a subtitle text ({\anN} at its start, a font tag with
// size, face and color attributes, <b> and <i>) to title line `line` of the
// set (created when missing) and returns the plain text: the text inside the
// font tag with the <b>, </b>, <i> and </i> tags taken out.
std::wstring ApplySubtitleMarkup(render::Titles& titles, int line, const std::wstring& text);
// The number right after `open` at `pos` (its first character and the digits
// that follow it), when `close` comes later; pos moves past `close`. 0 and
// pos unchanged when the tag does not stand exactly at pos.
int ReadMarkupNumber(const std::wstring& text, size_t& pos, const std::wstring& open, const std::wstring& close);
// The text between the first `open` and the next double quote, in the narrow
// code page; false when either is missing.
bool ReadMarkupString(const std::wstring& text, const std::wstring& open, std::string& value);

// Narrow text of a media file (subtitle lines and packets, file names) as
// wide text: UTF-8 when it is valid UTF-8, else the legacy code page.
std::wstring NarrowMediaTextToWide(const std::string& text);
