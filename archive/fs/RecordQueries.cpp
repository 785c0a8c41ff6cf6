// Which records a channel has: the newest one, those of a local day, the days
// that hold any; and the camera directories the answers come from.

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "archive/fs/FileSystem.h"
#include "base/Tss.h"

using VindaraFileSystem::Dir;
using VindaraFileSystem::DirEntry;

namespace {

constexpr uint64_t kDayMs = 86400000;

// Unix ms of local midnight of the date; 0 when the date has no local time.
uint64_t LocalMidnight(const TSS& date) {
    TSS midnight = date.DateOnly();
    const uint64_t archiveMs = midnight.ToUtcMilliseconds();
    return archiveMs > kArchiveUnixOffsetMs ? archiveMs - kArchiveUnixOffsetMs : 0;
}

// [start, end) of the local day of a date, in Unix ms. The end is the next
// local midnight, so days of 23 and 25 hours at the summer-time changes
// neither repeat the next day's first hour nor lose their own last one.
std::pair<uint64_t, uint64_t> LocalDayRange(const TSS& date) {
    const uint64_t start = LocalMidnight(date);
    uint64_t end = start + kDayMs;
    try {
        const boost::gregorian::date next =
            boost::gregorian::date(date.wYear, date.wMonth, date.wDay) + boost::gregorian::days(1);
        TSS nextDay;
        nextDay.wYear = static_cast<uint16_t>(next.year());
        nextDay.wMonth = static_cast<uint16_t>(next.month());
        nextDay.wDay = static_cast<uint16_t>(next.day());
        const uint64_t nextStart = LocalMidnight(nextDay);
        if (nextStart > start) end = nextStart;
    } catch (const std::exception&) {
        // A date the calendar refuses keeps the plain 24 hours.
    }
    return {start, end};
}

// The entries of a local day that begin in it, in order.
std::vector<DirEntry> DayEntries(Dir& dir, const TSS& date) {
    const auto [start, end] = LocalDayRange(date);
    std::vector<DirEntry> entries;
    dir.ForEachEntry(start, end, [&](const DirEntry& e) {
        if (start == 0 || e.begin >= start) entries.push_back(e);
        return true;
    });
    return entries;
}

TSS LocalOf(uint64_t unixMs) {
    TSS t;
    t.FromUtcMilliseconds(unixMs + kArchiveUnixOffsetMs);
    return t;
}

}  // namespace

std::shared_ptr<Dir> FileSystem::GetCameraDir(int camera, bool create) {
    SyncLock lock(m_dirsLock);
    auto found = m_dirs.find(camera);
    if (found != m_dirs.end()) return found->second;
    if (!create) return nullptr;
    // The volumes of the directory's creation: hours of volumes added later
    // are not searched until the directory is made again.
    const VolumePathMap volumes = GetVolumePaths();
    auto dir = std::make_shared<Dir>([link = m_loaderLink, volumes, camera](
                                         int32_t hour, const std::set<uint8_t>& hourVolumes,
                                         VindaraFileSystem::DirEntrySet& entries,
                                         VindaraFileSystem::VolumeCounts& counts) {
        VolumePathMap wanted;
        for (const auto& v : volumes)
            if (hourVolumes.count(v.first)) wanted.insert(v);
        std::shared_lock<std::shared_mutex> lock(link->mutex);
        if (link->engine) link->engine->LoadHourDetail(camera, hour, wanted, entries, counts);
    });
    m_dirs[camera] = dir;
    return dir;
}

std::string FileSystem::FindRecordTime(const std::string& /*slaveId*/, int camera, const char* request, int withMs,
                                       std::shared_ptr<void> handle) {
    handle.reset();
    std::string result;
    auto dir = GetCameraDir(camera, false);
    if (!dir) return result;
    TSS date;
    if (request && *request) date.ParseDate(request);
    if (request && std::string(request) == "last") {
        const DirEntry last = dir->GetLastEntry();
        if (last.IsSet()) LocalOf(last.begin).ToString(result, true, withMs != 0);
    } else if (!date.IsEmpty()) {
        for (const DirEntry& e : DayEntries(*dir, date)) {
            std::string begin, end;
            LocalOf(e.begin).FormatTimeTo(begin, withMs != 0);
            LocalOf(e.end).FormatTimeTo(end, withMs != 0);
            result += begin + " " + end + " " + (e.isProtected ? "+" : "-") + "\n";
        }
    } else {
        for (const TSS& day : dir->GetHourTimes()) result += day.DateString() + "\n";
    }
    return result;
}

void FileSystem::GetRecordHours(int camera, std::vector<boost::gregorian::date>& days) {
    auto dir = GetCameraDir(camera, false);
    if (!dir) return;
    for (const TSS& day : dir->GetHourTimes()) days.emplace_back(day.wYear, day.wMonth, day.wDay);
}

void FileSystem::GetDayEntries(int camera, const boost::gregorian::date& day, std::vector<DayEntry>& entries) {
    auto dir = GetCameraDir(camera, false);
    if (!dir) return;
    TSS date;
    date.wYear = static_cast<uint16_t>(day.year());
    date.wMonth = static_cast<uint16_t>(day.month());
    date.wDay = static_cast<uint16_t>(day.day());
    static const boost::posix_time::ptime epoch(boost::gregorian::date(1970, 1, 1));
    // Straight from UTC: a round trip through local time would move records
    // of the repeated hour at the end of summer time by an hour.
    for (const DirEntry& e : DayEntries(*dir, date)) {
        const auto begin = epoch + boost::posix_time::milliseconds(static_cast<int64_t>(e.begin));
        const auto end = epoch + boost::posix_time::milliseconds(static_cast<int64_t>(e.end));
        entries.emplace_back(begin, end - boost::posix_time::microseconds(1));
    }
}
