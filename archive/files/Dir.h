#pragma once
// In-memory directory of one camera's archive files, grouped by the hour in
// which each file begins. Hours can be known before their files are: the fast
// index tells which hours hold recordings, and the files of an hour are read
// from the record index files (through the injected hour loader) the first
// time a query needs them.

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "base/Locks.h"
#include "base/Tss.h"

namespace VindaraFileSystem {

// One archive video file.
struct DirEntry {
    uint64_t begin = 0;       // UTC ms since 1970 of the first frame
    uint64_t end = 0;         // UTC ms since 1970 of the last frame
    uint32_t fileId = 0;      // names the file inside its hour folder
    uint8_t volumeIndex = 0;  // position of the volume in the engine's array
    uint8_t isProtected = 0;  // 1 = a protected copy exists
    uint64_t fileSize = 0;    // bytes, 0 when not known
    uint64_t reserved = ~uint64_t(0);
    uint64_t date = 0;        // UTC ms since 1970 of the start of the local hour whose folder holds the file

    // What look-ups return when they find nothing: every field 0 but reserved.
    static DirEntry Empty() { return DirEntry{}; }
    // A real record has both times set.
    bool IsSet() const { return begin != 0 && end != 0; }
    int32_t Hour() const { return static_cast<int32_t>(begin / 3600000ULL); }
};

// Entries are identified by their begin time alone (signed compare).
struct DirEntryLess {
    bool operator()(const DirEntry& a, const DirEntry& b) const {
        return static_cast<int64_t>(a.begin) < static_cast<int64_t>(b.begin);
    }
};

using DirEntrySet = std::set<DirEntry, DirEntryLess>;

// Calendar order of local time stamps (field by field).
struct TssLess {
    bool operator()(const TSS& a, const TSS& b) const;
};
using TssSet = std::set<TSS, TssLess>;
using VolumeCounts = std::map<uint8_t, uint64_t>;

struct HourInfo {
    bool loaded = false;
    DirEntrySet protectedEntries;
    VolumeCounts counts;  // volume index -> number of the hour's entries on it
};

// Reads one hour's entries for the given volumes from the record index files,
// inserts them into `entries` and fills `found` with the number found per
// volume. Runs under the directory's lock.
using HourLoader = std::function<void(int32_t hour, const std::set<uint8_t>& volumes,
                                      DirEntrySet& entries, VolumeCounts& found)>;

// Every operation holds the directory's recursive lock for its whole run,
// including hour loading and the caller's callbacks: a callback may call back
// into the same directory from the same thread but must not wait for another
// thread that uses it. A callback returning false ends a walk at once.
class Dir {
public:
    using EntryCallback = std::function<bool(const DirEntry&)>;
    using HourCallback = std::function<void(int32_t hour, const HourInfo&)>;

    Dir() = default;
    explicit Dir(HourLoader loader) : m_loader(std::move(loader)) {}
    Dir(const Dir&) = delete;
    Dir& operator=(const Dir&) = delete;

    void SetHourLoader(HourLoader loader);

    // false (and nothing changed) when an entry with the same begin exists.
    bool AddEntry(const DirEntry& entry);
    // AddEntry for each entry under one lock; the number added. Entries given
    // in begin order (as an index file lists them) are each placed beside the
    // one before, without a search.
    size_t AddEntries(const std::vector<DirEntry>& entries);
    void RemoveEntry(const DirEntry& entry);
    // Creates the hour record when missing and lists the volume with count 0
    // when it is not listed; an existing count stays.
    void EnsureVolumeCount(int32_t hour, uint8_t volume);
    bool HasHourOnVolume(int32_t hour, uint8_t volume) const;
    bool HasVolumeEntries(uint8_t volume);
    void SetAllHoursLoaded();
    // The local calendar days (time 00:00:00.000) that hold hour records.
    TssSet GetHourTimes() const;

    // volume -1 = every hour record. Loads nothing.
    void ForEachHour(int volume, const HourCallback& cb) const;
    // Entries from `from` to `to` (ms since 1970; swapped when reversed; 0
    // means open-ended), starting with the file that spans `from` if any.
    bool ForEachEntry(uint64_t from, uint64_t to, const EntryCallback& cb);
    bool ForEachEntryBackward(const EntryCallback& cb);
    bool ForEachVolumeEntry(int volume, const EntryCallback& cb);
    bool ForEachHourEntry(int32_t hour, const EntryCallback& cb);
    bool ForEachEntryInHour(int32_t hour, const EntryCallback& cb) { return ForEachHourEntry(hour, cb); }

    DirEntry GetFirstEntry();
    DirEntry GetLastEntry();
    // First entry whose begin >= t.
    DirEntry FindEntry(uint64_t t);
    // Last entry whose begin <= t.
    DirEntry FindEntryBefore(uint64_t t);
    DirEntry GetEntryAt(uint64_t t) { return FindEntryBefore(t); }
    // The entry holding t, or the one nearest to it (the later one on a tie).
    DirEntry FindNearestEntry(uint64_t t);

    size_t EntryCount() const;
    size_t HourCount() const;
    bool IsHourLoaded(int32_t hour) const;

    // Hour loading as the queries do it, public for the engine's bulk loads.
    void LoadHours(const std::set<int32_t>& hours);
    void LoadHoursInRange(uint64_t from, uint64_t to);
    void LoadHoursAround(uint64_t time, bool previous, bool next);

private:
    using Hours = std::map<int32_t, HourInfo>;

    void loadHour(Hours::iterator it);
    // The set entries of one hour in order; false when `cb` stopped the walk.
    bool walkHour(int32_t hour, const EntryCallback& cb);
    // Loads hour records from t's hour onwards until the first entry with
    // begin >= t is known to be in memory.
    void loadForwardFrom(uint64_t t);
    // Loads hour records from t's hour backwards until the last entry with
    // begin <= t (begin < t when strict) is known to be in memory.
    void loadBackwardFrom(uint64_t t, bool strict);

    HourLoader m_loader;
    mutable qormisc::CriticalSection m_lock;
    DirEntrySet m_entries;
    Hours m_hours;
};

}  // namespace VindaraFileSystem
