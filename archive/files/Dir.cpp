#include "archive/files/Dir.h"

#include <iterator>
#include <tuple>

namespace VindaraFileSystem {

namespace {
constexpr uint64_t kHourMs = 3600000ULL;

int32_t HourOf(uint64_t ms) { return static_cast<int32_t>(ms / kHourMs); }

DirEntry Probe(uint64_t begin) {
    DirEntry e;
    e.begin = begin;
    return e;
}
}  // namespace

bool TssLess::operator()(const TSS& a, const TSS& b) const {
    return std::tie(a.wYear, a.wMonth, a.wDay, a.wHour, a.wMinute, a.wSecond, a.dwMilliseconds) <
           std::tie(b.wYear, b.wMonth, b.wDay, b.wHour, b.wMinute, b.wSecond, b.dwMilliseconds);
}

void Dir::SetHourLoader(HourLoader loader) {
    SyncLock lock(m_lock);
    m_loader = std::move(loader);
}

bool Dir::AddEntry(const DirEntry& entry) {
    SyncLock lock(m_lock);
    if (!m_entries.insert(entry).second) return false;
    HourInfo& hour = m_hours[entry.Hour()];
    hour.counts[entry.volumeIndex] += 1;
    if (entry.isProtected) hour.protectedEntries.insert(entry);
    return true;
}

size_t Dir::AddEntries(const std::vector<DirEntry>& entries) {
    SyncLock lock(m_lock);
    size_t added = 0;
    auto hint = m_entries.end();
    HourInfo* hour = nullptr;
    int32_t hourNumber = 0;
    for (const DirEntry& entry : entries) {
        const size_t before = m_entries.size();
        const auto placed = m_entries.insert(hint, entry);
        if (m_entries.size() == before) continue;
        hint = std::next(placed);
        ++added;
        if (!hour || entry.Hour() != hourNumber) {
            hourNumber = entry.Hour();
            hour = &m_hours[hourNumber];
        }
        hour->counts[entry.volumeIndex] += 1;
        if (entry.isProtected) hour->protectedEntries.insert(entry);
    }
    return added;
}

void Dir::RemoveEntry(const DirEntry& entry) {
    SyncLock lock(m_lock);
    auto found = m_entries.find(entry);
    // The stored entry knows its volume; the caller's copy may be stale.
    const DirEntry stored = found != m_entries.end() ? *found : entry;
    if (found != m_entries.end()) m_entries.erase(found);
    auto hour = m_hours.find(stored.Hour());
    if (hour == m_hours.end()) return;
    hour->second.protectedEntries.erase(stored);
    auto count = hour->second.counts.find(stored.volumeIndex);
    if (count != hour->second.counts.end()) {
        if (count->second <= 1)
            hour->second.counts.erase(count);
        else
            count->second -= 1;
    }
    if (hour->second.counts.empty()) m_hours.erase(hour);
}

void Dir::EnsureVolumeCount(int32_t hour, uint8_t volume) {
    SyncLock lock(m_lock);
    m_hours[hour].counts.emplace(volume, 0);
}

bool Dir::HasHourOnVolume(int32_t hour, uint8_t volume) const {
    SyncLock lock(m_lock);
    auto it = m_hours.find(hour);
    return it != m_hours.end() && it->second.counts.count(volume) != 0;
}

bool Dir::HasVolumeEntries(uint8_t volume) {
    SyncLock lock(m_lock);
    for (auto it = m_hours.begin(); it != m_hours.end(); ++it) {
        if (it->second.counts.count(volume) == 0) continue;
        loadHour(it);
        auto count = it->second.counts.find(volume);
        return count != it->second.counts.end() && count->second != 0;
    }
    return false;
}

void Dir::SetAllHoursLoaded() {
    SyncLock lock(m_lock);
    for (auto& hour : m_hours) hour.second.loaded = true;
}

TssSet Dir::GetHourTimes() const {
    SyncLock lock(m_lock);
    TssSet days;
    for (const auto& hour : m_hours) {
        TSS day;
        day.FromUtcMilliseconds(static_cast<uint64_t>(hour.first) * kHourMs + kArchiveUnixOffsetMs);
        day.wHour = day.wMinute = day.wSecond = 0;
        day.dwMilliseconds = 0;
        days.insert(day);
    }
    return days;
}

void Dir::ForEachHour(int volume, const HourCallback& cb) const {
    SyncLock lock(m_lock);
    for (const auto& hour : m_hours) {
        if (volume >= 0 && hour.second.counts.count(static_cast<uint8_t>(volume)) == 0) continue;
        cb(hour.first, hour.second);
    }
}

// The walks below hand the callback a copy and find the next entry (and
// hour) again by key after each call: a callback may remove its own entry, or
// add and remove others, through the directory's own calls.

bool Dir::ForEachEntry(uint64_t from, uint64_t to, const EntryCallback& cb) {
    SyncLock lock(m_lock);
    // A `to` of 0 means "to the end", not a time before `from`.
    if (to != 0 && to < from) std::swap(from, to);
    LoadHoursInRange(from, to);
    // The file that spans `from` may begin in an earlier hour.
    if (from != 0) loadBackwardFrom(from, true);

    auto it = from == 0 ? m_entries.begin() : m_entries.lower_bound(Probe(from));
    if (it != m_entries.begin()) {
        auto before = std::prev(it);
        if (before->end >= from) it = before;
    }
    while (it != m_entries.end()) {
        if (to != 0 && static_cast<int64_t>(it->begin) >= static_cast<int64_t>(to)) break;
        const DirEntry current = *it;
        if (!cb(current)) return false;
        it = m_entries.upper_bound(current);
    }
    return true;
}

bool Dir::ForEachEntryBackward(const EntryCallback& cb) {
    SyncLock lock(m_lock);
    auto hour = m_hours.end();
    while (hour != m_hours.begin()) {
        --hour;
        const int32_t number = hour->first;
        loadHour(hour);
        const DirEntry hourStart = Probe(static_cast<uint64_t>(number) * kHourMs);
        auto last = m_entries.lower_bound(Probe(static_cast<uint64_t>(number + 1) * kHourMs));
        while (last != m_entries.lower_bound(hourStart)) {
            --last;
            const DirEntry current = *last;
            if (current.IsSet() && !cb(current)) return false;
            last = m_entries.lower_bound(current);
        }
        hour = m_hours.lower_bound(number);
    }
    return true;
}

bool Dir::ForEachVolumeEntry(int volume, const EntryCallback& cb) {
    SyncLock lock(m_lock);
    for (auto hour = m_hours.begin(); hour != m_hours.end();) {
        const int32_t number = hour->first;
        if (volume < 0 || hour->second.counts.count(static_cast<uint8_t>(volume)) != 0) {
            loadHour(hour);
            const auto walk = [&](const DirEntry& e) {
                return volume >= 0 && e.volumeIndex != static_cast<uint8_t>(volume) ? true : cb(e);
            };
            if (!walkHour(number, walk)) return false;
        }
        hour = m_hours.upper_bound(number);
    }
    return true;
}

bool Dir::ForEachHourEntry(int32_t hour, const EntryCallback& cb) {
    SyncLock lock(m_lock);
    auto record = m_hours.find(hour);
    if (record == m_hours.end()) return true;
    loadHour(record);
    return walkHour(hour, cb);
}

bool Dir::walkHour(int32_t hour, const EntryCallback& cb) {
    auto it = m_entries.lower_bound(Probe(static_cast<uint64_t>(hour) * kHourMs));
    const DirEntry stop = Probe(static_cast<uint64_t>(hour + 1) * kHourMs);
    while (it != m_entries.end() && DirEntryLess()(*it, stop)) {
        const DirEntry current = *it;
        if (current.IsSet() && !cb(current)) return false;
        it = m_entries.upper_bound(current);
    }
    return true;
}

DirEntry Dir::GetFirstEntry() {
    SyncLock lock(m_lock);
    if (m_hours.empty()) return DirEntry::Empty();
    loadHour(m_hours.begin());
    return m_entries.empty() ? DirEntry::Empty() : *m_entries.begin();
}

DirEntry Dir::GetLastEntry() {
    SyncLock lock(m_lock);
    if (m_hours.empty()) return DirEntry::Empty();
    loadHour(std::prev(m_hours.end()));
    return m_entries.empty() ? DirEntry::Empty() : *m_entries.rbegin();
}

DirEntry Dir::FindEntry(uint64_t t) {
    SyncLock lock(m_lock);
    loadForwardFrom(t);
    auto it = m_entries.lower_bound(Probe(t));
    return it == m_entries.end() ? DirEntry::Empty() : *it;
}

DirEntry Dir::FindEntryBefore(uint64_t t) {
    SyncLock lock(m_lock);
    loadBackwardFrom(t, false);
    auto it = m_entries.upper_bound(Probe(t));
    if (it == m_entries.begin()) return DirEntry::Empty();
    return *std::prev(it);
}

DirEntry Dir::FindNearestEntry(uint64_t t) {
    SyncLock lock(m_lock);
    loadBackwardFrom(t, true);
    loadForwardFrom(t);
    auto r = m_entries.lower_bound(Probe(t));
    if (r == m_entries.end()) return m_entries.empty() ? DirEntry::Empty() : *m_entries.rbegin();
    if (r == m_entries.begin() || r->begin == t) return *r;
    const DirEntry& p = *std::prev(r);
    if (p.end >= t || t - p.end < r->begin - t) return p;
    return *r;
}

size_t Dir::EntryCount() const {
    SyncLock lock(m_lock);
    return m_entries.size();
}

size_t Dir::HourCount() const {
    SyncLock lock(m_lock);
    return m_hours.size();
}

bool Dir::IsHourLoaded(int32_t hour) const {
    SyncLock lock(m_lock);
    auto it = m_hours.find(hour);
    return it != m_hours.end() && it->second.loaded;
}

void Dir::loadHour(Hours::iterator it) {
    if (it == m_hours.end() || it->second.loaded || !m_loader) return;
    std::set<uint8_t> volumes;
    for (const auto& count : it->second.counts) volumes.insert(count.first);
    VolumeCounts found;
    const int32_t hour = it->first;
    m_loader(hour, volumes, m_entries, found);
    // The loader may have called back into the directory; look the record up again.
    auto record = m_hours.find(hour);
    if (record == m_hours.end()) record = m_hours.emplace(hour, HourInfo{}).first;
    for (const auto& count : found) record->second.counts[count.first] = count.second;
    // Protected entries of the hour come with the loaded entries.
    auto e = m_entries.lower_bound(Probe(static_cast<uint64_t>(hour) * kHourMs));
    auto stop = m_entries.lower_bound(Probe(static_cast<uint64_t>(hour + 1) * kHourMs));
    for (; e != stop; ++e)
        if (e->isProtected) record->second.protectedEntries.insert(*e);
    record->second.loaded = true;
}

void Dir::LoadHours(const std::set<int32_t>& hours) {
    SyncLock lock(m_lock);
    for (int32_t hour : hours) loadHour(m_hours.find(hour));
}

void Dir::LoadHoursInRange(uint64_t from, uint64_t to) {
    SyncLock lock(m_lock);
    auto first = from == 0 ? m_hours.begin() : m_hours.lower_bound(HourOf(from));
    if (first == m_hours.end()) return;
    Hours::iterator last;
    if (to == 0) {
        last = std::prev(m_hours.end());
    } else {
        last = m_hours.lower_bound(HourOf(to));
        if (last == m_hours.end()) last = std::prev(m_hours.end());
    }
    if (last->first < first->first) return;
    std::set<int32_t> hours;
    for (auto it = first;; ++it) {
        hours.insert(it->first);
        if (it == last) break;
    }
    LoadHours(hours);
}

void Dir::LoadHoursAround(uint64_t time, bool previous, bool next) {
    SyncLock lock(m_lock);
    if (m_hours.empty()) return;
    const int32_t hour = HourOf(time);
    auto anchor = hour == 0 ? m_hours.begin() : m_hours.upper_bound(hour);
    if (anchor == m_hours.end()) anchor = std::prev(m_hours.end());
    std::set<int32_t> hours{anchor->first};
    if (previous && anchor != m_hours.begin()) hours.insert(std::prev(anchor)->first);
    if (next && std::next(anchor) != m_hours.end()) hours.insert(std::next(anchor)->first);
    LoadHours(hours);
}

void Dir::loadForwardFrom(uint64_t t) {
    // Every entry of an hour begins inside it, so once the hours from t's hour
    // up to the hour of the first entry at or after t are loaded, that entry
    // is the true answer.
    int32_t done = -1;
    for (auto it = m_hours.lower_bound(HourOf(t)); it != m_hours.end(); it = m_hours.upper_bound(done)) {
        done = it->first;
        loadHour(it);
        auto found = m_entries.lower_bound(Probe(t));
        if (found != m_entries.end() && found->Hour() <= done) return;
    }
}

void Dir::loadBackwardFrom(uint64_t t, bool strict) {
    auto it = m_hours.upper_bound(HourOf(t));
    while (it != m_hours.begin()) {
        --it;
        const int32_t hour = it->first;
        loadHour(it);
        auto found = strict ? m_entries.lower_bound(Probe(t)) : m_entries.upper_bound(Probe(t));
        if (found != m_entries.begin() && std::prev(found)->Hour() >= hour) return;
        it = m_hours.lower_bound(hour);
    }
}

}  // namespace VindaraFileSystem
