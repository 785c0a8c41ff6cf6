#include "gui/sources/VideoSequenceItemInfo.h"

#include <cstdint>
#include <locale>
#include <sstream>

#include <QCoreApplication>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/format.hpp>

#include "base/PtimeConversion.h"
#include "media/Decoder.h"
#include "media/VideoSourceInterfaces.h"

namespace {

std::string Label(const char* text)
{
    return QCoreApplication::translate("VideoSequenceItemInfo", text).toStdString();
}

}  // namespace

VideoSequenceItemInfo::VideoSequenceItemInfo(boost::shared_ptr<filters::IVideoSource> source)
    : m_source(std::move(source))
{
}

std::string VideoSequenceItemInfo::ToString() const
{
    namespace pt = boost::posix_time;
    if (!m_source)
        return std::string();
    VideoFrame* frame = m_source->GetCurrentFrame();
    if (!frame)
        return std::string();
    int32_t width = frame->m_nWidth;
    int32_t height = frame->m_nHeight;
    if (width < 1 || height < 1) {
        filters::Decoder decoder;
        if (const VideoFramePtr decoded = decoder.Decompress(frame)) {
            width = decoded->m_nWidth;
            height = decoded->m_nHeight;
        }
    }

    const std::vector<filters::RecordPeriod>& periods = m_source->GetPeriods();
    int64_t total = 0;
    for (const filters::RecordPeriod& period : periods)
        total += period.length;
    const int64_t begin = periods.empty() ? 0 : periods.front().start;
    const int64_t end = periods.empty() ? 0 : periods.back().start + periods.back().length;

    const filters::MediaInfo* media = m_source->GetMediaInfo();
    if (!media)
        return std::string();
    const int offset = m_source->GetTimeShift();

    std::ostringstream out;
    out.imbue(std::locale(std::locale(), new pt::time_facet("%x %X")));
    out << boost::format("%1%: %2%") % Label("Codec") % media->codec << '\n';
    out << boost::format("%1%: %2%x%3%") % Label("Resolution") % width % height << '\n';
    out << boost::format("%1%: ") % Label("Begin") << utils::ShiftPtime(utils::PtimeFromMilliseconds(begin), offset)
        << '\n';
    out << boost::format("%1%: ") % Label("End") << utils::ShiftPtime(utils::PtimeFromMilliseconds(end), offset)
        << '\n';
    const int64_t seconds = total / 1000;
    out << boost::format("%s: %02d:%02d:%02d (%s)") % Label("Duration") % (seconds / 3600) % (seconds / 60 % 60) %
               (seconds % 60) % Label("h:m:s");
    return out.str();
}
