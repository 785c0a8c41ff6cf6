// A channel spread over the exported files of a folder tree: the readers
// manager keeps one file reader open and moves it from file to file.

#include <exception>

#include "FSImplementation/ChannelReader.h"
#include "archive/files/FileReader.h"

namespace Storage {

namespace pt = boost::posix_time;

namespace {

const pt::time_duration kOneMicrosecond = pt::microseconds(1);

}  // namespace

// --- VindaraFolderReadersManager --------------------------------------------

VindaraFolderReadersManager::VindaraFolderReadersManager(const FolderFileMap& files)
    : m_files(files), m_current(m_files.end())
{
    if (!m_files.empty())
        First();
}

VindaraFolderReadersManager::~VindaraFolderReadersManager() = default;

boost::shared_ptr<IChannelReader> VindaraFolderReadersManager::OpenReader(FolderFileMap::const_iterator it)
{
    try {
        boost::shared_ptr<VindaraFileChannelReader> reader(
            new VindaraFileChannelReader(it->second, std::string(), boost::shared_ptr<VindaraSettingsLoader>()));
        reader->Init();
        ChangeSignal();
        return reader;
    } catch (const std::exception&) {
        return {};
    }
}

VideoFramePtr VindaraFolderReadersManager::CurrentFrame()
{
    return m_reader ? m_reader->GetCurrentFrame() : VideoFramePtr();
}

VideoFramePtr VindaraFolderReadersManager::First()
{
    if (m_files.empty())
        return CurrentFrame();
    if (m_reader && m_current == m_files.begin()) {
        m_reader->Seek(m_files.begin()->first.begin());
    } else {
        m_current = m_files.begin();
        m_reader = OpenReader(m_current);
    }
    return CurrentFrame();
}

VideoFramePtr VindaraFolderReadersManager::NextFile()
{
    if (m_current == m_files.end())
        return {};
    while (std::next(m_current) != m_files.end()) {
        ++m_current;
        m_reader = OpenReader(m_current);
        if (VideoFramePtr frame = CurrentFrame())
            return frame;
    }
    return {};
}

VideoFramePtr VindaraFolderReadersManager::PreviousFile()
{
    if (m_files.empty() || m_current == m_files.begin() || m_current == m_files.end())
        return {};
    do {
        --m_current;
        m_reader = OpenReader(m_current);
    } while (!CurrentFrame() && m_current != m_files.begin());
    if (!CurrentFrame())
        return {};
    // The instant just past the file leaves its reader on the last frame.
    m_reader->Seek(m_current->first.last() + kOneMicrosecond);
    return CurrentFrame();
}

void VindaraFolderReadersManager::SelectFile(FolderFileMap::const_iterator it)
{
    if (m_files.empty())
        return;
    if (m_reader && m_current == it) {
        m_reader->Seek(it->first.begin());
    } else {
        m_current = it;
        m_reader = OpenReader(it);
    }
}

void VindaraFolderReadersManager::GetExportFiles(const pt::time_period& period, std::vector<std::string>& files)
{
    const pt::ptime first = period.begin();
    const pt::ptime end = period.last() + kOneMicrosecond;
    auto it = m_files.begin();
    while (it != m_files.end() && it->first.last() < first)
        ++it;
    for (; it != m_files.end(); ++it) {
        if (!(it->first.last() < end)) {
            // The bounding file: included when it has begun by the end.
            if (!(end < it->first.begin()))
                files.push_back(it->second);
            break;
        }
        files.push_back(it->second);
    }
}

PlayFileInfo VindaraFolderReadersManager::GetCurrentFileInfo(int which)
{
    if (m_files.empty() || m_current == m_files.end())
        return PlayFileInfo();
    auto it = m_current;
    if (which == 1)
        ++it;
    if (it == m_files.end())
        return PlayFileInfo();
    PlayFileInfo info;
    info.videoPath = it->second;
    info.audioPath = GetCompanionFileName(it->second);
    auto next = std::next(it);
    const pt::ptime until = next != m_files.end() ? next->first.begin() : it->first.end();
    info.period = pt::time_period(it->first.begin(), until);
    info.startOffset = 0;
    return info;
}

// --- VindaraFolderChannelReader ----------------------------------------------

VindaraFolderChannelReader::VindaraFolderChannelReader(const FolderFileMap& files, int channel,
                                                       const std::wstring& name, const ChannelInfo& info)
    : ChannelReader(channel, name, info), m_manager(new VindaraFolderReadersManager(files))
{
}

VindaraFolderChannelReader::~VindaraFolderChannelReader() = default;

VideoFramePtr VindaraFolderChannelReader::FetchFrame(bool forward)
{
    const boost::shared_ptr<IChannelReader>& reader = m_manager->Reader();
    if (forward) {
        if (!reader || reader->IsAtEnd())
            return m_manager->NextFile();
        return reader->ReadNext(false);
    }
    VideoFramePtr current = reader ? reader->GetCurrentFrame() : VideoFramePtr();
    if (current && current->m_nFrameNumber != 0)
        return reader->ReadPrevious(false);
    return m_manager->PreviousFile();
}

VideoFramePtr VindaraFolderChannelReader::FetchFrameAt(const pt::ptime& time)
{
    const pt::ptime t = time + m_shift;
    const FolderFileMap& files = m_manager->Files();
    if (!files.empty()) {
        auto current = m_manager->Current();
        if (current != files.end() && m_manager->Reader() && current->first.begin() <= t &&
            t <= current->first.last()) {
            m_manager->Reader()->Seek(t);
        } else {
            auto it = files.begin();
            while (it != files.end() && it->first.last() < t)
                ++it;
            if (it == files.end())
                it = std::prev(files.end());
            m_manager->SelectFile(it);
            if (m_manager->Reader())
                m_manager->Reader()->Seek(t);
        }
    }
    return m_manager->CurrentFrame();
}

VideoFramePtr VindaraFolderChannelReader::FetchFirstFrame()
{
    return m_manager->First();
}

void VindaraFolderChannelReader::GetRecordDays(std::vector<boost::gregorian::date>& days)
{
    bool any = false;
    boost::gregorian::date last;
    for (const auto& [period, path] : m_manager->Files()) {
        for (boost::gregorian::date d = period.begin().date(); d <= period.end().date(); d += boost::gregorian::days(1)) {
            if (any && d == last)
                continue;
            days.push_back(d);
            last = d;
            any = true;
        }
    }
}

void VindaraFolderChannelReader::ReadDayIntervals(const boost::gregorian::date& day,
                                                  std::vector<pt::time_period>& periods)
{
    for (const auto& [period, path] : m_manager->Files()) {
        const boost::gregorian::date d1 = period.begin().date();
        const boost::gregorian::date d2 = period.end().date();
        if (day == d1 && day == d2) {
            periods.push_back(period);
        } else if (day == d1 || day == d2) {
            // The file crosses midnight: its own index says what lies on this
            // day. A file gone since the scan adds nothing.
            try {
                VindaraFileChannelReader reader(path, std::string(), boost::shared_ptr<VindaraSettingsLoader>());
                reader.Init();
                reader.GetRecordIntervals(day, periods);
            } catch (const std::exception&) {
            }
        }
    }
}

IPlayInfo* VindaraFolderChannelReader::GetPlayInfo()
{
    return m_manager.get();
}

void VindaraFolderChannelReader::GetExportFiles(const pt::time_period& period, std::vector<std::string>& files)
{
    m_manager->GetExportFiles(period, files);
}

}  // namespace Storage
