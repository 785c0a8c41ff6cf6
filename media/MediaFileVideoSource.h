#pragma once
// filters::VideoSource plays one channel of ordinary media files. Its records
// (MediaFileRecord) may come from several files; each is a span of the
// channel inside one file, placed on the archive time line. The source walks
// the records in time order, plays the current record's file through an
// embedded FFmpegVideoSource and presents the whole channel as an
// IVideoSource in archive time, so the playback chain treats media files and
// archives alike. It tells the audio player which file sounds with the
// pictures (Storage::IPlayInfo), opens the channel's subtitle sources and
// writes their texts into title lines 3 and up (subtitle source n owns line
// n + 3).
//
// Threads: one caller at a time (the source pin's call lock); no lock of its
// own. The export helpers (GetStreamTitle, GetLinkedStreams, FindFileTime,
// GetSelectedStreamIndex) only read state that is fixed after SetRecords or
// changes with the current record. ChangeSignal runs on the thread that moved
// to another record.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "archive/files/PlayInfo.h"
#include "media/FFmpegSource.h"
#include "media/MediaFileRecord.h"
#include "media/VideoSourceInterfaces.h"

struct SubtitleEntry;

namespace filters {

class BaseSubtitlesSource;

class VideoSource : public IVideoSource, public Storage::IPlayInfo {
public:
    VideoSource();
    ~VideoSource() override;
    VideoSource(const VideoSource&) = delete;
    VideoSource& operator=(const VideoSource&) = delete;

    const std::wstring& GetName() const override;
    const std::wstring& GetId() const override;
    const std::vector<RecordPeriod>& GetPeriods() const override { return m_periods; }
    int64_t GetCurrentTime() override;
    int64_t GetNextTime() override;
    // The one output frame, reused for every frame: when decoding it points
    // at the embedded source's picture; in pass-through at its packet bytes.
    // Borrowed, valid until the next call that moves the source.
    VideoFrame* GetCurrentFrame() override { return m_frame.get(); }
    VideoFrame* NextFrame() override;
    VideoFrame* PreviousFrame() override;
    void Seek(int64_t timeMs) override;
    bool IsAtEnd() override;
    Storage::IPlayInfo* GetPlayInfo() override { return this; }
    bool GetSampleFlag() override;
    void SetTitles(const boost::shared_ptr<render::Titles>& titles) override;
    void UpdateTitles() override;
    const CameraViewSettings& GetCameraSettings() const override;
    const FrameInfo* GetFrameInfo() override;
    int32_t GetTimeShift() override;
    // Null while no record's video stream is open.
    const MediaInfo* GetMediaInfo() override;

    // The current record's file (1: the next record's) when it sounds.
    Storage::PlayFileInfo GetCurrentFileInfo(int which) override;

    // The channel's records, in time order, not empty; opens the first record
    // at its start. Called once, before the source joins a chain.
    void SetRecords(const std::vector<MediaFileRecord>& records);
    // Appends the records of one media file (see ReadMediaFileRecords); the
    // embedded source stays open on the file.
    void ReadMediaFile(const MediaFileRecord& file, std::vector<MediaFileRecord>& records);

    // The current record's audio stream title (the export keeps the streams
    // with that title).
    std::string GetStreamTitle() const;
    // The stream indexes of the in-file subtitle sources, in source order.
    std::vector<int32_t> GetLinkedStreams() const;
    // The file-local ms of an archive time, in the record a seek would open.
    int64_t FindFileTime(int64_t timeMs) const;
    // The video stream the embedded source plays.
    int GetSelectedStreamIndex() const { return m_source.GetStreamIndex(); }

    const std::vector<MediaFileRecord>& GetRecords() const { return m_records; }
    int32_t GetCurrentRecord() const { return m_current; }
    const std::vector<boost::shared_ptr<BaseSubtitlesSource>>& GetSubtitleSources() const
    {
        return m_subtitleSources;
    }

private:
    void OpenRecordAt(int32_t index, int64_t timeMs);
    int32_t FindRecord(int64_t timeMs) const;
    bool RecordEnded() const;
    bool IsLastRecord() const { return m_current + 1 >= static_cast<int32_t>(m_records.size()); }
    int64_t LocalTime() const { return m_source.PtsToMilliseconds(m_source.GetCurrentPts()); }
    void UpdateOutputFrame();
    void OpenSubtitleSources(const MediaFileRecord& record);
    void UpdateTitleSettings();
    std::vector<SubtitleEntry> GetSubtitleEntries(size_t n) const;
    void FrameSize(int32_t& width, int32_t& height);

    std::vector<RecordPeriod> m_periods;
    FFmpegVideoSource m_source;
    std::vector<boost::shared_ptr<BaseSubtitlesSource>> m_subtitleSources;
    VideoFramePtr m_frame;
    std::vector<MediaFileRecord> m_records;
    int32_t m_current = -1;
    boost::shared_ptr<render::Titles> m_titles;
    FrameInfo m_frameInfo;
    MediaInfo m_mediaInfo;
};

}  // namespace filters
