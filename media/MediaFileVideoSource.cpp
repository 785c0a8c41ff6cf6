#include "media/MediaFileVideoSource.h"

#include "config/QApplicationSettings.h"

#include <algorithm>

extern "C" {
#include <libavutil/frame.h>
}

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/format.hpp>

#include "archive/files/ArchiveSettings.h"
#include "base/Log.h"
#include "base/StringConv.h"
#include "base/Tss.h"
#include "media/FileSystemSource.h"
#include "render/Titles.h"
#include "media/Subtitles.h"

namespace filters {

namespace {

constexpr int kFirstSubtitleLine = 3;

const std::wstring kNoText;
const CameraViewSettings kNoCamera;

int64_t ContinuousEnd(const MediaFileRecord& record)
{
    const auto& periods = record.converter.GetContinuousPeriods();
    return periods.empty() ? 0 : utils::IntervalEnd(periods.back());
}

int64_t FirstArchiveStart(const MediaFileRecord& record)
{
    const auto& periods = record.converter.GetArchivePeriods();
    return periods.empty() ? 0 : periods.front().start;
}

int64_t ToLocal(const MediaFileRecord& record, int64_t archiveMs)
{
    return utils::MapTimeBetweenIntervals(archiveMs, record.converter.GetArchivePeriods(),
                                          record.converter.GetContinuousPeriods(), 1);
}

// A subtitle position in pixels as a fraction of the frame's size.
double ToFraction(double value, int32_t size)
{
    const auto k = static_cast<int32_t>(value);
    if (k <= 0 || size <= 0)
        return k;
    return std::min(std::max((k - 0.5) / size, 0.0), 0.9);
}

}  // namespace

VideoSource::VideoSource() : m_frame(new VideoFrame("", 0), false) {}

VideoSource::~VideoSource()
{
    // The frame only borrows the embedded source's picture or packet.
    m_frame->m_pData = nullptr;
}

const std::wstring& VideoSource::GetName() const
{
    return m_records.empty() ? kNoText : m_records.front().name;
}

const std::wstring& VideoSource::GetId() const
{
    return m_records.empty() ? kNoText : m_records.front().id;
}

const CameraViewSettings& VideoSource::GetCameraSettings() const
{
    return m_records.empty() ? kNoCamera : m_records.front().camera;
}

int32_t VideoSource::GetTimeShift()
{
    return m_records.empty() ? 0 : m_records.front().timeShift;
}

bool VideoSource::GetSampleFlag()
{
    return m_current >= 0 && m_records[m_current].isSigned;
}

void VideoSource::ReadMediaFile(const MediaFileRecord& file, std::vector<MediaFileRecord>& records)
{
    ReadMediaFileRecords(m_source, file, records);
}

void VideoSource::SetRecords(const std::vector<MediaFileRecord>& records)
{
    m_records = records;
    m_current = -1;
    m_periods.clear();
    for (const MediaFileRecord& record : m_records)
        for (const RecordPeriod& period : record.converter.GetArchivePeriods())
            utils::AddInterval(m_periods, period);
    OpenRecordAt(0, m_records.empty() ? 0 : FirstArchiveStart(m_records.front()));
}

int32_t VideoSource::FindRecord(int64_t timeMs) const
{
    const auto after = std::upper_bound(m_records.begin(), m_records.end(), timeMs,
                                        [](int64_t t, const MediaFileRecord& r) { return t < r.start; });
    return std::max<int32_t>(static_cast<int32_t>(after - m_records.begin()) - 1, 0);
}

void VideoSource::OpenRecordAt(int32_t index, int64_t timeMs)
{
    if (index < 0 || index >= static_cast<int32_t>(m_records.size()))
        return;
    const MediaFileRecord& record = m_records[index];
    const int64_t local = ToLocal(record, timeMs);
    if (index == m_current) {
        m_source.Seek(static_cast<double>(local));
    } else {
        m_current = index;
        ChangeSignal();
        if (m_source.Open(record.path, record.videoStreamTitle))
            m_source.Seek(static_cast<double>(local));
        // Play of this file stops where the record's material ends, unless
        // the next record goes on in the same file.
        if (IsLastRecord() || m_records[index + 1].path != record.path)
            m_source.LimitDuration(ContinuousEnd(record) - local);
        OpenSubtitleSources(record);
        UpdateTitleSettings();
    }
    UpdateOutputFrame();
}

bool VideoSource::RecordEnded() const
{
    if (!m_source.IsOpen())
        return true;
    return (m_source.IsAtEnd() && m_source.GetQueuedPacketCount() == 0) ||
           m_source.GetCurrentPts() >= m_source.GetEndPts() - 1;
}

bool VideoSource::IsAtEnd()
{
    return m_current < 0 || (IsLastRecord() && RecordEnded());
}

int64_t VideoSource::GetCurrentTime()
{
    if (m_current < 0)
        return 0;
    const MediaFileRecord& record = m_records[m_current];
    return utils::MapTimeBetweenIntervals(LocalTime(), record.converter.GetContinuousPeriods(),
                                          record.converter.GetArchivePeriods(), 0);
}

int64_t VideoSource::GetNextTime()
{
    if (m_current < 0)
        return 0;
    if (RecordEnded() && !IsLastRecord())
        return std::max(FirstArchiveStart(m_records[m_current + 1]), GetCurrentTime());
    const MediaFileRecord& record = m_records[m_current];
    const int64_t next = m_source.PtsToMilliseconds(m_source.NextFrameTime());
    if (next < ContinuousEnd(record) || IsLastRecord())
        return utils::MapTimeBetweenIntervals(next, record.converter.GetContinuousPeriods(),
                                              record.converter.GetArchivePeriods(), 0);
    return FirstArchiveStart(m_records[m_current + 1]);
}

VideoFrame* VideoSource::NextFrame()
{
    if (m_current < 0)
        return m_frame.get();
    if (RecordEnded() && !IsLastRecord()) {
        OpenRecordAt(m_current + 1, GetNextTime());
        return m_frame.get();
    }
    const bool read = m_source.ReadNextFrame();
    if (!read && !IsLastRecord()) {
        // The file ended before the record's end: the next frame is the next
        // record's first, not this last one again.
        OpenRecordAt(m_current + 1, std::max(FirstArchiveStart(m_records[m_current + 1]), GetCurrentTime()));
    } else if (LocalTime() < ContinuousEnd(m_records[m_current]) || IsLastRecord()) {
        UpdateOutputFrame();
    } else {
        OpenRecordAt(m_current + 1, GetCurrentTime());
    }
    return m_frame.get();
}

VideoFrame* VideoSource::PreviousFrame()
{
    if (m_current < 0)
        return m_frame.get();
    const MediaFileRecord& record = m_records[m_current];
    const int64_t pts = m_source.GetCurrentPts();
    const int64_t local = LocalTime();
    const int64_t t = std::max<int64_t>(
        std::min(m_source.PtsToMilliseconds(pts - m_source.FrameDurationPts()), local - 1), 0);
    // The record's first instant in its file: t before it belongs to the
    // record before.
    const int64_t recordStart = ToLocal(record, record.start);
    const bool first = m_current == 0;
    if (!first && (t == local || t < recordStart)) {
        const MediaFileRecord& previous = m_records[m_current - 1];
        // The last millisecond of the previous record: its last frame.
        OpenRecordAt(m_current - 1, previous.start + std::max<int64_t>(previous.length - 1, 0));
    } else {
        m_source.Seek(static_cast<double>(t));
        UpdateOutputFrame();
    }
    return m_frame.get();
}

void VideoSource::Seek(int64_t timeMs)
{
    OpenRecordAt(FindRecord(timeMs), timeMs);
}

int64_t VideoSource::FindFileTime(int64_t timeMs) const
{
    if (m_records.empty())
        return 0;
    return ToLocal(m_records[FindRecord(timeMs)], timeMs);
}

std::string VideoSource::GetStreamTitle() const
{
    return m_current < 0 ? std::string() : m_records[m_current].audioStreamTitle;
}

std::vector<int32_t> VideoSource::GetLinkedStreams() const
{
    std::vector<int32_t> streams;
    for (const auto& source : m_subtitleSources)
        if (const auto* inFile = dynamic_cast<const FFmpegSubtitlesSource*>(source.get()))
            streams.push_back(inFile->GetStreamIndex());
    return streams;
}

void VideoSource::FrameSize(int32_t& width, int32_t& height)
{
    if (m_source.IsPassThrough()) {
        width = m_source.GetWidth();
        height = m_source.GetHeight();
        return;
    }
    const AVFrame* picture = m_source.GetPictureHolder()->picture;
    width = picture != nullptr ? picture->width : 0;
    height = picture != nullptr ? picture->height : 0;
}

void VideoSource::UpdateOutputFrame()
{
    if (!m_source.IsFrameReady())
        return;
    VideoFrame& frame = *m_frame;
    if (m_source.IsPassThrough()) {
        const std::vector<uint8_t>& packet = m_source.GetRawPacket();
        frame.m_pData = packet.empty() ? nullptr : const_cast<uint8_t*>(packet.data());
        frame.m_nFormat = FrameFormatCompressed;
        frame.m_cbData = static_cast<uint32_t>(packet.size());
        frame.m_bColor = 1;
    } else {
        frame.m_pData = reinterpret_cast<uint8_t*>(m_source.GetPictureHolder());
        frame.m_nFormat = FrameFormatFFmpegPicture;
    }
    FrameSize(frame.m_nWidth, frame.m_nHeight);
    frame.m_tssTime = TSS::FromUtc(static_cast<uint64_t>(GetCurrentTime() + static_cast<int64_t>(kArchiveUnixOffsetMs)));
    frame.m_nTotalFrames = static_cast<int32_t>(m_source.GetStreamFrameCount());
    // A stream of unknown frame duration numbers its frames 0.
    const int32_t duration = m_source.FrameDurationPts();
    frame.m_nFrameNumber = duration > 0 ? static_cast<int32_t>(m_source.GetCurrentPts() / duration) : 0;
}

const FrameInfo* VideoSource::GetFrameInfo()
{
    if (!m_source.IsFrameReady())
        return nullptr;
    m_frameInfo.codec = m_source.GetCodecName();
    m_frameInfo.compressedSize = m_source.GetCurrent().size;
    m_frameInfo.keyFrame = m_source.GetCurrent().key;
    return &m_frameInfo;
}

const MediaInfo* VideoSource::GetMediaInfo()
{
    m_mediaInfo.codec = m_source.GetCodecName();
    return m_mediaInfo.codec.empty() ? nullptr : &m_mediaInfo;
}

Storage::PlayFileInfo VideoSource::GetCurrentFileInfo(int which)
{
    namespace pt = boost::posix_time;
    const int32_t index = which == 1 ? m_current + 1 : m_current;
    Storage::PlayFileInfo info;
    if (index < 0 || index >= static_cast<int32_t>(m_records.size()) || !m_records[index].hasAudio)
        return info;
    const MediaFileRecord& record = m_records[index];
    const auto& archive = record.converter.GetArchivePeriods();
    const auto& continuous = record.converter.GetContinuousPeriods();
    info.audioPath = record.path;
    info.streamTitle = record.audioStreamTitle;
    const pt::ptime begin = utils::PtimeFromMilliseconds(archive.empty() ? 0 : archive.front().start);
    pt::ptime end = utils::PtimeFromMilliseconds(archive.empty() ? 0 : utils::IntervalEnd(archive.back()));
    if (!end.is_special())
        end -= pt::time_duration::unit();
    info.period = pt::time_period(begin, end);
    info.startOffset = (continuous.empty() ? 0 : continuous.front().start) * 1000;
    return info;
}

// --- subtitles -------------------------------------------------------------------

void VideoSource::OpenSubtitleSources(const MediaFileRecord& record)
{
    const size_t needed = record.textStreams.size() + record.externalSubtitles.size();
    if (m_subtitleSources.size() >= needed)
        return;
    struct Request {
        std::string file;
        std::string streamId;
        bool external;
    };
    std::vector<Request> requests;
    for (const std::string& title : record.textStreams)
        requests.push_back({record.path, title, false});
    for (const auto& subtitle : record.externalSubtitles)
        if (subtitle->videoStreamIndex == -1 || subtitle->videoStreamIndex == m_source.GetStreamIndex())
            requests.push_back({subtitle->path, subtitle->fileName, true});
    for (size_t i = m_subtitleSources.size(); i < requests.size(); ++i) {
        const Request& request = requests[i];
        boost::shared_ptr<BaseSubtitlesSource> source;
        if (request.external)
            source.reset(new ExternalSubtitlesSource);
        else
            source.reset(new FFmpegSubtitlesSource);
        if (source->Open(request.file, request.streamId))
            m_subtitleSources.push_back(source);
        else
            QOR_LOG_ERROR(getDefaultDebugInstance(),
                          boost::format("Can't open subtitle source: TextStreamFile=%1%, StreamId=%2%") % request.file %
                              request.streamId);
    }
}

void VideoSource::UpdateTitleSettings()
{
    if (!m_titles || m_current < 0)
        return;
    const MediaFileRecord& record = m_records[m_current];
    for (size_t n = 0; n < m_subtitleSources.size(); ++n) {
        const BaseSubtitlesSource& source = *m_subtitleSources[n];
        TITLES::TitleSettings settings;
        bool enabled = true;
        if (source.IsExternal()) {
            enabled = record.textStreams.empty();
        } else {
            // By title id: the settings list skips streams without settings,
            // so its positions need not be the sources'.
            const std::string id = source.GetStreamId();
            for (const auto& candidate : record.titleSettings)
                if (candidate && candidate->title_id == id) {
                    settings = *candidate;
                    break;
                }
        }
        const auto line = m_titles->GetTitle(static_cast<int>(n) + kFirstSubtitleLine, enabled);
        line->ApplySettings(settings);
        line->SetName(source.GetStreamId());
    }
}

void VideoSource::SetTitles(const boost::shared_ptr<render::Titles>& titles)
{
    m_titles = titles;
    UpdateTitleSettings();
}

std::vector<SubtitleEntry> VideoSource::GetSubtitleEntries(size_t n) const
{
    if (m_current >= 0 && QApplicationSettings::Instance().Live.ShowTitles.load()) {
        const MediaFileRecord& record = m_records[m_current];
        const auto line = m_titles->FindTitle(static_cast<int>(n) + kFirstSubtitleLine);
        if (n < record.textStreams.size() + record.externalSubtitles.size() && line && line->IsVisible())
            return FindSubtitleEntriesAt(*m_subtitleSources[n], LocalTime());
    }
    return {SubtitleEntry{}};
}

void VideoSource::UpdateTitles()
{
    if (!m_titles)
        return;
    int32_t width = 0;
    int32_t height = 0;
    FrameSize(width, height);
    const int count = static_cast<int>(m_subtitleSources.size());
    for (int n = 0; n < count; ++n) {
        std::vector<SubtitleEntry> entries = GetSubtitleEntries(static_cast<size_t>(n));
        const int mainIndex = n + kFirstSubtitleLine;
        const auto mainLine = m_titles->GetTitle(mainIndex);
        for (size_t i = 0; i < entries.size(); ++i) {
            SubtitleEntry& entry = entries[i];
            int index = mainIndex;
            boost::shared_ptr<render::Title> line = mainLine;
            if (i > 0) {
                index = count + 2 * n + static_cast<int>(i) + 2;
                line = m_titles->GetTitle(index, mainLine->IsVisible());
                // Listed once: the same extra line serves every frame.
                const auto linked = mainLine->GetLinkedTitles();
                if (std::find(linked.begin(), linked.end(), index) == linked.end())
                    mainLine->AddLinkedTitle(index);
            }
            if (entry.width > 0 && entry.height > 0) {
                const double x = ToFraction(entry.x, width);
                const double w = ToFraction(entry.width, width);
                const double y = ToFraction(entry.y, height);
                const double h = ToFraction(entry.height, height);
                if (w > 0 && h > 0)
                    m_titles->MarkChanged(line->SetPlacement(QRectF(x, y, w, h)));
            }
            entry.text = ApplySubtitleMarkup(*m_titles, index, entry.text);
            if (!ParseTrackRectangles(*m_titles, ToCodePage(entry.text, CP_ACP_CODEPAGE), n))
                m_titles->SetTitleText(index, entry.text);
        }
    }
}

}  // namespace filters
