// A channel that is one exported archive file.

#include <stdexcept>

#include "FSImplementation/ChannelReader.h"
#include "FSImplementation/OrlekVideoFile.h"
#include "archive/fs/SettingsLoader.h"
#include "base/StringConv.h"

namespace Storage {

namespace pt = boost::posix_time;

namespace {

// A time stamp usable as a date and time of day.
bool IsValidStamp(const TSS& t)
{
    return TSS::IsValidDate(t) && t.wHour <= 23 && t.wMinute < 60 && t.wSecond < 60 && t.dwMilliseconds < 1000;
}

TSS Midnight(const boost::gregorian::date& day)
{
    TSS t{};
    t.wYear = static_cast<uint16_t>(day.year());
    t.wMonth = static_cast<uint16_t>(day.month().as_number());
    t.wDay = static_cast<uint16_t>(day.day());
    return t;
}

boost::gregorian::date DateOf(const TSS& t)
{
    return boost::gregorian::date(t.wYear, t.wMonth, t.wDay);
}

}  // namespace

VindaraFileChannelReader::VindaraFileChannelReader(const std::string& path, const std::string& name,
                                                   boost::shared_ptr<VindaraSettingsLoader> settingsLoader)
    : ChannelReader(0, std::wstring(), ChannelInfo(0)),
      m_file(new OrlekVideoFile()),
      m_settingsLoader(std::move(settingsLoader))
{
    if (!m_file->Open(path))
        throw std::runtime_error("failed to open videofile");
    m_channel = m_file->GetCameraId();
    m_name = !name.empty() ? StringToWString(name) : std::to_wstring(m_channel);
    if (m_settingsLoader) {
        m_channelInfo = m_settingsLoader->GetChannel(m_channel);
        m_name = m_channelInfo.name;
    }
}

VindaraFileChannelReader::~VindaraFileChannelReader() = default;

VideoFramePtr VindaraFileChannelReader::FetchFrame(bool forward)
{
    return m_file->Step(forward);
}

VideoFramePtr VindaraFileChannelReader::FetchFrameAt(const pt::ptime& time)
{
    return m_file->SeekTime(InstantToTss(time));
}

VideoFramePtr VindaraFileChannelReader::FetchFirstFrame()
{
    if (m_file->GetReader().GetFrameCount() != 0)
        m_file->SetCurrentFrame(0);
    return m_file->ReadCurrentFrame();
}

void VindaraFileChannelReader::GetRecordDays(std::vector<boost::gregorian::date>& days)
{
    TSS begin{}, end{};
    m_file->GetTimeBounds(begin, end);
    if (!IsValidStamp(begin) || !IsValidStamp(end))
        return;
    for (boost::gregorian::date d = DateOf(begin); d <= DateOf(end); d += boost::gregorian::days(1)) {
        const RecordInterval interval = m_file->GetReader().GetRecordInterval(Midnight(d), false);
        if (!interval.begin.IsEmpty())
            days.push_back(d);
    }
}

void VindaraFileChannelReader::ReadDayIntervals(const boost::gregorian::date& day, std::vector<pt::time_period>& periods)
{
    const RecordInterval interval = m_file->GetReader().GetRecordInterval(Midnight(day), false);
    if (interval.begin.IsEmpty())
        return;
    periods.emplace_back(TssToInstant(interval.begin), TssToInstant(interval.end));
}

IPlayInfo* VindaraFileChannelReader::GetPlayInfo()
{
    return m_file.get();
}

void VindaraFileChannelReader::GetExportFiles(const pt::time_period& period, std::vector<std::string>& files)
{
    TSS begin{}, end{};
    m_file->GetTimeBounds(begin, end);
    if (!IsValidStamp(begin) || !IsValidStamp(end))
        return;
    const pt::ptime first = TssToInstant(begin);
    const pt::ptime last = TssToInstant(end);
    // Overlap: the period neither begins after the file's last instant nor
    // ends before its first.
    if (period.begin() > last || period.last() < first)
        return;
    files.push_back(m_file->GetReader().GetFilePath());
}

}  // namespace Storage
