#include "media/FileSystemSource.h"

#include "config/QApplicationSettings.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/format.hpp>

#include "FSImplementation/ChannelReader.h"
#include "FSImplementation/VindaraFileSystemFactory.h"
#include "base/StringConv.h"
#include "render/Titles.h"

namespace filters {

namespace {

namespace pt = boost::posix_time;

const pt::ptime kEpoch(boost::gregorian::date(1970, 1, 1));

int64_t ToMs(const pt::ptime& t)
{
    return (t - kEpoch).total_microseconds() / 1000;
}

pt::ptime FromMs(int64_t ms)
{
    return kEpoch + pt::milliseconds(ms);
}

// Title lines 0..2 belong to others (the pin's information text is line 2).
constexpr int kFirstTitleLine = 3;

std::string ExtractTaggedValue(const std::string& content, const char* format, int i)
{
    const std::string tag = (boost::format(format) % i).str();
    const size_t at = content.find(tag);
    if (at == std::string::npos)
        return {};
    const size_t begin = at + tag.size();
    const size_t end = content.find('>', begin);
    if (end == std::string::npos)
        return {};
    return content.substr(begin, end - begin);
}

}  // namespace

FileSystemSource::FileSystemSource(const boost::shared_ptr<Storage::IVindaraFileSystem>& frontEnd,
                                   const std::wstring& id)
    : m_id(id)
{
    if (frontEnd)
        m_reader = frontEnd->CreateChannelReader(WStringToString(id));
    if (!m_reader)
        throw std::runtime_error("Cannot create channel");
    Init();
}

FileSystemSource::FileSystemSource(const boost::shared_ptr<Storage::IChannelReader>& reader,
                                   const std::wstring& id)
    : m_id(id), m_reader(reader)
{
    if (!m_reader)
        throw std::runtime_error("Cannot create channel");
    Init();
}

FileSystemSource::~FileSystemSource() = default;

void FileSystemSource::Init()
{
    std::vector<boost::gregorian::date> days;
    m_reader->GetRecordDays(days);
    for (const auto& day : days) {
        std::vector<pt::time_period> intervals;
        m_reader->GetRecordIntervals(day, intervals);
        for (const auto& interval : intervals) {
            const pt::ptime first = interval.begin();
            const pt::ptime last = interval.last();
            RecordPeriod period;
            period.start = ToMs(first);
            period.length = (last + pt::microseconds(1) - first).total_microseconds() / 1000;
            m_periods.push_back(period);
        }
    }
    m_reader->Seek(m_periods.empty() ? kEpoch : FromMs(m_periods.front().start));
    m_name = m_reader->GetName();
    m_cameraSettings.rotation = m_reader->GetChannelInfo().RotateAngle;
}

int64_t FileSystemSource::GetCurrentTime()
{
    const pt::ptime t = m_reader->GetCurrentTime();
    return t.is_special() ? 0 : ToMs(t);
}

int64_t FileSystemSource::GetNextTime()
{
    const pt::ptime t = m_reader->GetNextTime();
    return t.is_special() ? 0 : ToMs(t);
}

// The reader keeps each frame it returns alive until its next move.
VideoFrame* FileSystemSource::GetCurrentFrame()
{
    return m_reader->GetCurrentFrame().get();
}

VideoFrame* FileSystemSource::NextFrame()
{
    return m_reader->ReadNext(false).get();
}

VideoFrame* FileSystemSource::PreviousFrame()
{
    return m_reader->ReadPrevious(false).get();
}

void FileSystemSource::Seek(int64_t timeMs)
{
    m_reader->Seek(FromMs(timeMs));
}

bool FileSystemSource::IsAtEnd()
{
    return m_reader->IsAtEnd();
}

Storage::IPlayInfo* FileSystemSource::GetPlayInfo()
{
    return m_reader->GetPlayInfo();
}

void FileSystemSource::SetTitles(const boost::shared_ptr<render::Titles>& titles)
{
    m_titleIndexes.clear();
    if (titles) {
        for (const auto& settings : m_reader->GetChannelInfo().titles) {
            const int index = GetTitleIndex(settings.title_id);
            titles->GetTitle(index + kFirstTitleLine)->ApplySettings(settings);
        }
    }
    m_titles = titles;
}

int FileSystemSource::GetTitleIndex(const std::string& id)
{
    auto it = m_titleIndexes.find(id);
    if (it != m_titleIndexes.end())
        return it->second;
    const int index = static_cast<int>(m_titleIndexes.size());
    m_titleIndexes.emplace(id, index);
    return index;
}

void FileSystemSource::UpdateTitles()
{
    UpdateTitlesFrom(GetCurrentFrame());
}

void FileSystemSource::UpdateTitlesFrom(const VideoFrame* frame)
{
    if (!m_titles || frame == nullptr)
        return;
    const std::string& text = frame->m_strSubtitles;
    if (text == m_lastTitleText)
        return;
    m_lastTitleText = text;

    int highest = -1;
    if (QApplicationSettings::Instance().Live.ShowTitles.load()) {
        // Entries: 0x01 id 0x02 content 0x03 id 0x04.
        bool found = false;
        size_t pos = 0;
        for (;;) {
            const size_t open = text.find('\x01', pos);
            if (open == std::string::npos)
                break;
            const size_t separator = text.find('\x02', open + 1);
            if (separator == std::string::npos)
                break;
            const std::string id = text.substr(open + 1, separator - open - 1);
            const std::string closing = "\x03" + id + "\x04";
            const size_t close = text.find(closing, separator + 1);
            if (close == std::string::npos)
                break;
            found = true;
            const int index = GetTitleIndex(id);
            if (SetTitleLine(text.substr(separator + 1, close - separator - 1), index))
                highest = std::max(highest, index);
            pos = close + closing.size();
        }
        if (!found && SetTitleLine(text, 0))
            highest = 0;
    }
    for (int index = highest + 1; index < m_titleLineCount; ++index)
        m_titles->SetTitleText(index + kFirstTitleLine, std::wstring());
}

bool FileSystemSource::SetTitleLine(std::string content, int index)
{
    if (!m_titles->GetTitle(index + kFirstTitleLine)->IsVisible())
        return false;
    m_titleLineCount = std::max(m_titleLineCount, index + 1);
    std::replace(content.begin(), content.end(), '\r', '\n');
    for (size_t at = content.find("\\r"); at != std::string::npos; at = content.find("\\r", at + 1))
        content.replace(at, 2, "\n");
    if (ParseTrackRectangles(*m_titles, content, index))
        return true;
    m_titles->SetTitleText(index + kFirstTitleLine, FromCodePage(content, CP_ACP_CODEPAGE));
    return true;
}

bool ParseTrackRectangles(render::Titles& titles, const std::string& content, int index)
{
    if (!QApplicationSettings::Instance().Live.ShowTracks.load())
        return false;
    if (content.rfind("unattended:", 0) != 0)
        return false;
    std::vector<render::TitleItem> items;
    for (int i = 0;; ++i) {
        const std::string a = ExtractTaggedValue(content, "mdparam%1%<", i);
        if (a.empty())
            break;
        const std::string b = ExtractTaggedValue(content, "color%1%<", i);
        if (b.empty())
            break;
        std::istringstream coordinates(a);
        int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        char separator = 0;
        coordinates >> x1 >> separator >> y1 >> separator >> x2 >> separator >> y2;
        // The colour is one signed decimal number, nothing else.
        char* end = nullptr;
        const long long c = std::strtoll(b.c_str(), &end, 10);
        const bool blank = !b.empty() && std::isspace(static_cast<unsigned char>(b[0]));
        if (end == b.c_str() || *end != '\0' || blank)
            return true;
        render::TitleItem item;
        item.rect = QRectF(x1 / 100.0, y1 / 100.0, (x2 - x1) / 100.0, (y2 - y1) / 100.0);
        item.colour = QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                             static_cast<int>((c >> 16) & 0xFF), 255);
        items.push_back(item);
    }
    titles.MarkChanged(titles.GetTitle(index + kFirstTitleLine)->SetItems(items));
    return true;
}

}  // namespace filters
