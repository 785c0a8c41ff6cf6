#include "media/MediaFileRecord.h"

#include <algorithm>
#include <ctime>
#include <iterator>
#include <locale>
#include <sstream>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/format.hpp>
#include <boost/lexical_cast.hpp>
#include <boost/regex.hpp>

#include "archive/fs/RecInfo.h"
#include "media/FFmpegSource.h"
#include "platform/TextCodec.h"
#include "platform/TimeZone.h"
#include "render/Lenses.h"

const char* const kMediaFileNamePattern =
    "(?<channelName>.+) (?<year>[0-9]{4})-(?<month>[0-9]{2})-(?<day>[0-9]{2}) "
    "(?<hour>[0-9]{2})-(?<min>[0-9]{2})-(?<sec>[0-9]{2})_(?<fraction>[0-9]{3})";

namespace {

namespace pt = boost::posix_time;

const pt::ptime kEpoch(boost::gregorian::date(1970, 1, 1));

std::vector<std::string> SortedUnique(std::vector<std::string> items)
{
    std::sort(items.begin(), items.end());
    items.erase(std::unique(items.begin(), items.end()), items.end());
    return items;
}

// The first of `streams` that is also in `list`; empty when none.
std::string FirstListed(const std::vector<std::string>& streams, const std::vector<std::string>& list)
{
    for (const std::string& s : streams)
        if (std::find(list.begin(), list.end(), s) != list.end())
            return s;
    return {};
}

}  // namespace

int64_t ParseRecInfoTime(const std::string& text, const std::string& format, char separator, bool keepAsUtc,
                         bool* valid)
{
    if (valid != nullptr)
        *valid = true;
    if (text.empty())
        return 0;
    int64_t result = 0;
    try {
        pt::ptime value(pt::not_a_date_time);
        {
            auto* facet = new pt::time_input_facet(format);
            facet->time_duration_format("%O:%M:%S%F");
            std::istringstream in(text);
            in.imbue(std::locale(std::locale::classic(), facet));
            in >> value;
        }
        if (value.is_special()) {
            // Read as the recorder would, this would be the special tick
            // count / 1000: a span over millennia. Such a time is refused.
            if (valid != nullptr)
                *valid = false;
            return 0;
        }
        if (!keepAsUtc)
            value = utils::LocalPtimeToUtc(value);
        result = (value - kEpoch).total_microseconds() / 1000;
        const size_t at = text.find(separator);
        if (at != std::string::npos) {
            const int64_t fraction = boost::lexical_cast<int64_t>(text.substr(at + 1));
            // Milliseconds of one second: anything else is no time of the
            // text's second, and summing it could overflow.
            if (fraction < 0 || fraction > 999) {
                if (valid != nullptr)
                    *valid = false;
                return 0;
            }
            result += fraction;
        }
    } catch (const std::exception&) {
        // The result reached so far stands.
    }
    return result;
}

int32_t ParseLensType(const std::string& text)
{
    return render::LensTypeOfText(text);
}

int32_t ParseTimeZoneOffset(const std::string& text)
{
    // Zones lie within a day of UTC; a larger offset is no zone, and its
    // product would overflow.
    constexpr int32_t kMaxZoneMinutes = 24 * 60;
    const int32_t minutes = boost::lexical_cast<int32_t>(text);
    if (minutes < -kMaxZoneMinutes || minutes > kMaxZoneMinutes)
        throw boost::bad_lexical_cast();
    const int32_t seconds = minutes * 60;
    int32_t local = 0;
    if (platform::tz::OffsetAt(static_cast<int64_t>(std::time(nullptr)), &local) && local == seconds)
        return 0;
    return seconds;
}

namespace filters {

std::vector<boost::shared_ptr<TITLES::TitleSettings>> FindTitleSettingsForStreams(
    const VindaraFileSystem::AviCamData& camera, const std::vector<std::string>& streams)
{
    std::vector<boost::shared_ptr<TITLES::TitleSettings>> found;
    for (const std::string& name : streams) {
        const auto it = std::find_if(camera.titles.begin(), camera.titles.end(),
                                     [&](const TITLES::TitleSettings& t) { return t.title_id == name; });
        if (it != camera.titles.end())
            found.push_back(boost::shared_ptr<TITLES::TitleSettings>(new TITLES::TitleSettings(*it)));
    }
    return found;
}

namespace {

void AddCameraRecords(const MediaFileRecord& file, const VindaraFileSystem::AviCamData& camera,
                      std::vector<MediaFileRecord>& records, utils::TimeConverter& converter, int32_t shift)
{
    const std::vector<std::string> cameraText = SortedUnique(camera.text);
    for (const VindaraFileSystem::RecordItem& item : camera.records) {
        std::vector<std::string> streams = item.streams;
        std::sort(streams.begin(), streams.end());
        bool beginValid = false;
        bool endValid = false;
        const int64_t begin = ParseRecInfoTime(item.start, "%Y-%m-%dT%H-%M-%S", '.', true, &beginValid);
        const int64_t end = ParseRecInfoTime(item.end, "%Y-%m-%dT%H-%M-%S", '.', true, &endValid);
        const std::string video = FirstListed(streams, camera.video);
        if (video.empty() || !beginValid || !endValid || begin >= end)
            continue;

        MediaFileRecord record = file;
        record.start = begin;
        record.length = end - begin;
        record.timeShift = shift;
        const std::string& id = camera.id.empty() ? camera.name : camera.id;
        const std::string& name = camera.name.empty() ? camera.id : camera.name;
        record.id = platform::Utf8ToWide(id);
        record.name = platform::Utf8ToWide(name);
        record.videoStreamTitle = video;
        record.textStreams.clear();
        std::set_intersection(streams.begin(), streams.end(), cameraText.begin(), cameraText.end(),
                              std::back_inserter(record.textStreams));
        record.textStreams = SortedUnique(record.textStreams);
        record.titleSettings = FindTitleSettingsForStreams(camera, record.textStreams);
        record.audioStreamTitle = FirstListed(streams, camera.audio);
        record.hasAudio = !record.audioStreamTitle.empty();
        utils::AddInterval(converter.ArchivePeriods(), {begin, end - begin});
        record.camera = CameraViewSettings{};
        record.camera.lens = ParseLensType(camera.settings.lens);
        record.camera.position = camera.settings.position;
        record.camera.display = camera.settings.display;
        record.camera.x = camera.settings.x;
        record.camera.y = camera.settings.y;
        record.camera.w = camera.settings.w;
        record.camera.h = camera.settings.h;
        records.push_back(std::move(record));
    }
}

}  // namespace

void ReadRecInfoRecords(const std::string& comment, const MediaFileRecord& file,
                        std::vector<MediaFileRecord>& records)
{
    VindaraFileSystem::AviFileData data;
    int32_t shift = 0;
    try {
        if (!VindaraFileSystem::ReadRecInfo(comment, data))
            return;
        shift = ParseTimeZoneOffset(data.time_zone);
    } catch (const std::exception&) {
        // A zone that does not read leaves the recording in this computer's.
    }
    utils::TimeConverter converter;
    const size_t first = records.size();
    for (const VindaraFileSystem::AviCamData& camera : data.camera)
        AddCameraRecords(file, camera, records, converter, shift);
    converter.RebuildContinuous();
    // Every record of the file shares the file's periods.
    for (size_t i = first; i < records.size(); ++i) {
        records[i].converter.Clear();
        records[i].converter.ArchivePeriods() = converter.GetArchivePeriods();
        records[i].converter.RebuildContinuous();
    }
}

void ReadMediaFileRecords(FFmpegVideoSource& source, const MediaFileRecord& file,
                          std::vector<MediaFileRecord>& records)
{
    if (!source.Open(file.path, ""))
        return;
    const size_t before = records.size();
    ReadRecInfoRecords(source.GetFormatMetadata("comment"), file, records);
    if (records.size() != before)
        return;

    MediaFileRecord record = file;
    int64_t start = 0;
    const std::string name = platform::WideToUtf8(file.name);
    static const boost::regex pattern(kMediaFileNamePattern);
    boost::smatch match;
    if (boost::regex_search(name, match, pattern)) {
        record.name = platform::Utf8ToWide(match["channelName"].str());
        const std::string text = (boost::format("%1%-%2%-%3% %4%-%5%-%6%_%7%") % match["year"] % match["month"] %
                                  match["day"] % match["hour"] % match["min"] % match["sec"] % match["fraction"])
                                     .str();
        start = ParseRecInfoTime(text, "%Y-%m-%d %H-%M-%S", '_', false);
    }
    record.id = record.name;
    const int64_t duration = source.PtsToMilliseconds(source.GetFullEndPts());
    record.converter.Clear();
    utils::MergeCloseIntervals({{start, duration}}, record.converter, 1);
    record.converter.RebuildContinuous();
    record.start = start;
    record.length = duration;
    record.hasAudio = source.IsOpen() && source.HasBestStream(1);  // AVMEDIA_TYPE_AUDIO
    records.push_back(std::move(record));
}

}  // namespace filters
