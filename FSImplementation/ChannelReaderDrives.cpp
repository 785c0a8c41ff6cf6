// A channel of the recorder's archive, read through the archive engine's
// command entry: each read hands the engine a new frame of the channel with
// the read's parameter text in m_sFileId and gets the frame back filled.

#include "FSImplementation/ChannelReader.h"
#include "archive/fs/FileSystem.h"
#include "archive/fs/IPlayer.h"

namespace Storage {

namespace pt = boost::posix_time;

VindaraDrivesChannelReader::VindaraDrivesChannelReader(boost::shared_ptr<FileSystem> fileSystem, int channel)
    : ChannelReader(channel, fileSystem->GetChannelInfo(channel).name, fileSystem->GetChannelInfo(channel)),
      m_fileSystem(std::move(fileSystem))
{
}

VindaraDrivesChannelReader::~VindaraDrivesChannelReader() = default;

VideoFramePtr VindaraDrivesChannelReader::Execute(unsigned code, const std::string& parameter)
{
    VideoFramePtr frame(new VideoFrame(std::string(), m_channel), false);
    frame->m_sFileId = parameter;
    std::string error;
    if (m_fileSystem->ExecuteCommand(std::string(), frame.get(), code, {}, -1, 0, &error) == 0)
        return {};
    return frame;
}

VideoFramePtr VindaraDrivesChannelReader::FetchFrame(bool forward)
{
    if (forward) {
        if (VideoFramePtr frame = Execute(QOR_FS::ARCH_FRAME_NEXT, std::string()))
            return frame;
        return Execute(QOR_FS::ARCH_FRAME_FIRST, "next");
    }
    if (VideoFramePtr frame = Execute(QOR_FS::ARCH_FRAME_PREV, std::string()))
        return frame;
    return Execute(QOR_FS::ARCH_FRAME_LAST, "prev");
}

VideoFramePtr VindaraDrivesChannelReader::FetchFrameAt(const pt::ptime& time)
{
    // The archive is asked in its index's time.
    return Execute(QOR_FS::ARCH_FRAME_TIME, "time " + InstantToTss(time + m_shift).ToString(true, true));
}

VideoFramePtr VindaraDrivesChannelReader::FetchFirstFrame()
{
    return Execute(QOR_FS::ARCH_FRAME_FIRST, "first");
}

void VindaraDrivesChannelReader::GetRecordDays(std::vector<boost::gregorian::date>& days)
{
    m_fileSystem->GetRecordDays(m_channel, days);
}

void VindaraDrivesChannelReader::ReadDayIntervals(const boost::gregorian::date& day, std::vector<pt::time_period>& periods)
{
    std::vector<FileSystem::DayEntry> entries;
    m_fileSystem->GetDayEntries(m_channel, day, entries);
    for (const FileSystem::DayEntry& entry : entries)
        periods.emplace_back(entry.first, entry.second + pt::microseconds(1));
}

IPlayInfo* VindaraDrivesChannelReader::GetPlayInfo()
{
    return m_fileSystem->GetPlayInfo(m_channel);
}

void VindaraDrivesChannelReader::GetExportFiles(const pt::time_period& period, std::vector<std::string>& files)
{
    m_fileSystem->GetEntries(m_channel, InstantToTss(period.begin()), InstantToTss(period.last() + pt::microseconds(1)),
                             files);
}

}  // namespace Storage
