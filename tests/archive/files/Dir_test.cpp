#include "archive/files/Dir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <tuple>
#include <vector>

namespace {

using VindaraFileSystem::Dir;
using VindaraFileSystem::DirEntry;
using VindaraFileSystem::DirEntrySet;
using VindaraFileSystem::VolumeCounts;

constexpr uint64_t H = 3600000;        // one hour in ms
constexpr uint64_t kBase = 460000 * H;  // an hour number well inside 2022

DirEntry Entry(uint64_t begin, uint64_t end, uint32_t id, uint8_t volume = 0, bool isProtected = false) {
    DirEntry e;
    e.begin = begin;
    e.end = end;
    e.fileId = id;
    e.volumeIndex = volume;
    e.isProtected = isProtected ? 1 : 0;
    e.date = begin / H * H;
    return e;
}

// Files: [0h+0..0h+10m] id1, [0h+20m..0h+30m] id2, [1h+50m..2h+5m] id3
// (spans the hour change), [5h..5h+10m] id4.
std::vector<DirEntry> Sample() {
    const uint64_t M = 60000;
    return {Entry(kBase, kBase + 10 * M, 1), Entry(kBase + 20 * M, kBase + 30 * M, 2),
            Entry(kBase + H + 50 * M, kBase + 2 * H + 5 * M, 3), Entry(kBase + 5 * H, kBase + 5 * H + 10 * M, 4)};
}

void Fill(Dir& dir) {
    for (const auto& e : Sample()) ASSERT_TRUE(dir.AddEntry(e));
}

// A loader that serves entries from a fake record index and counts calls.
struct FakeIndex {
    std::map<int32_t, std::vector<DirEntry>> byHour;
    std::vector<int32_t> loads;

    VindaraFileSystem::HourLoader Loader() {
        return [this](int32_t hour, const std::set<uint8_t>& volumes, DirEntrySet& entries, VolumeCounts& found) {
            loads.push_back(hour);
            for (const auto& e : byHour[hour]) {
                if (!volumes.count(e.volumeIndex)) continue;
                entries.insert(e);
                found[e.volumeIndex] += 1;
            }
        };
    }
};

TEST(DirTest, FindsOnAHandfulOfEntries) {
    Dir dir;
    Fill(dir);
    const uint64_t M = 60000;
    struct Case {
        const char* what;
        uint64_t t;
        uint32_t atOrAfter, before, nearest;
    } cases[] = {
        {"before everything", kBase - H, 1, 0, 1},
        {"exact begin", kBase + 20 * M, 2, 2, 2},
        {"inside a file", kBase + 5 * M, 2, 1, 1},
        {"closer to the end of 1", kBase + 14 * M, 2, 1, 1},
        {"closer to the begin of 2", kBase + 16 * M, 2, 1, 2},
        {"halfway: the later file", kBase + 15 * M, 2, 1, 2},
        {"inside 3 across the hour", kBase + 2 * H + M, 4, 3, 3},
        {"after everything", kBase + 9 * H, 0, 4, 4},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dir.FindEntry(c.t).fileId, c.atOrAfter) << c.what;
        EXPECT_EQ(dir.FindEntryBefore(c.t).fileId, c.before) << c.what;
        EXPECT_EQ(dir.GetEntryAt(c.t).fileId, c.before) << c.what;
        EXPECT_EQ(dir.FindNearestEntry(c.t).fileId, c.nearest) << c.what;
    }
    EXPECT_EQ(dir.GetFirstEntry().fileId, 1u);
    EXPECT_EQ(dir.GetLastEntry().fileId, 4u);
}

TEST(DirTest, EmptyDirectoryAnswersTheEmptyEntry) {
    Dir dir;
    const DirEntry last = dir.GetLastEntry();
    EXPECT_EQ(last.begin, 0u);
    EXPECT_EQ(last.fileId, 0u);
    EXPECT_EQ(last.reserved, ~uint64_t(0));
    EXPECT_FALSE(dir.FindNearestEntry(kBase).IsSet());
    EXPECT_FALSE(dir.FindEntry(0).IsSet());
}

std::vector<uint32_t> Walk(Dir& dir, uint64_t from, uint64_t to) {
    std::vector<uint32_t> ids;
    dir.ForEachEntry(from, to, [&](const DirEntry& e) {
        ids.push_back(e.fileId);
        return true;
    });
    return ids;
}

TEST(DirTest, Walks) {
    Dir dir;
    Fill(dir);
    const uint64_t M = 60000;
    using V = std::vector<uint32_t>;
    EXPECT_EQ(Walk(dir, 0, 0), (V{1, 2, 3, 4}));
    // Starting inside a file starts with that file; reversed bounds walk the same.
    EXPECT_EQ(Walk(dir, kBase + 25 * M, kBase + 3 * H), (V{2, 3}));
    EXPECT_EQ(Walk(dir, kBase + 3 * H, kBase + 25 * M), (V{2, 3}));
    // A file that began in the previous hour and spans `from`.
    EXPECT_EQ(Walk(dir, kBase + 2 * H + M, 0), (V{3, 4}));
    EXPECT_EQ(Walk(dir, kBase + 6 * H, 0), V{});

    V stopped;
    dir.ForEachEntry(0, 0, [&](const DirEntry& e) {
        stopped.push_back(e.fileId);
        return e.fileId < 2;
    });
    EXPECT_EQ(stopped, (V{1, 2}));

    V backward;
    dir.ForEachEntryBackward([&](const DirEntry& e) {
        backward.push_back(e.fileId);
        return true;
    });
    EXPECT_EQ(backward, (V{4, 3, 2, 1}));

    V hour0;
    dir.ForEachHourEntry(static_cast<int32_t>(kBase / H), [&](const DirEntry& e) {
        hour0.push_back(e.fileId);
        return true;
    });
    EXPECT_EQ(hour0, (V{1, 2}));
}

TEST(DirTest, EntriesWithoutTimesAreSkippedByVolumeHourAndBackwardWalks) {
    Dir dir;
    Fill(dir);
    DirEntry open = Entry(kBase + 40 * 60000, 0, 9);
    ASSERT_TRUE(dir.AddEntry(open));
    int volumeWalk = 0, backward = 0, hourWalk = 0;
    dir.ForEachVolumeEntry(-1, [&](const DirEntry& e) { return ++volumeWalk, e.fileId != 9; });
    dir.ForEachEntryBackward([&](const DirEntry& e) { return ++backward, e.fileId != 9; });
    dir.ForEachHourEntry(static_cast<int32_t>(kBase / H), [&](const DirEntry& e) { return ++hourWalk, e.fileId != 9; });
    EXPECT_EQ(volumeWalk, 4);
    EXPECT_EQ(backward, 4);
    EXPECT_EQ(hourWalk, 2);
    EXPECT_EQ(Walk(dir, 0, 0), (std::vector<uint32_t>{1, 2, 9, 3, 4}));
}

TEST(DirTest, AddAndRemoveKeepTheHourRecords) {
    Dir dir;
    const int32_t hour = static_cast<int32_t>(kBase / H);
    ASSERT_TRUE(dir.AddEntry(Entry(kBase, kBase + 1000, 1, 0, true)));
    EXPECT_FALSE(dir.AddEntry(Entry(kBase, kBase + 5000, 2, 1)));
    EXPECT_EQ(dir.EntryCount(), 1u);
    EXPECT_TRUE(dir.HasHourOnVolume(hour, 0));
    EXPECT_FALSE(dir.HasHourOnVolume(hour, 1));
    uint64_t count = 0;
    size_t protectedCount = 0;
    dir.ForEachHour(-1, [&](int32_t, const VindaraFileSystem::HourInfo& info) {
        count = info.counts.at(0);
        protectedCount = info.protectedEntries.size();
    });
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(protectedCount, 1u);

    dir.RemoveEntry(Entry(kBase, 0, 1));
    EXPECT_EQ(dir.EntryCount(), 0u);
    EXPECT_EQ(dir.HourCount(), 0u);
    EXPECT_TRUE(dir.GetHourTimes().empty());
}

TEST(DirTest, HourTimesListLocalDays) {
    Dir dir;
    Fill(dir);
    const auto days = dir.GetHourTimes();
    ASSERT_FALSE(days.empty());
    for (const auto& day : days) {
        EXPECT_EQ(day.wHour, 0);
        EXPECT_EQ(day.dwMilliseconds, 0u);
    }
    // The independent reference: the C library's local date of each hour.
    std::set<std::tuple<int, int, int>> expected;
    for (const auto& e : Sample()) {
        const std::time_t t = static_cast<std::time_t>(e.begin / 1000);
        std::tm local{};
        ::localtime_r(&t, &local);
        expected.emplace(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    }
    std::set<std::tuple<int, int, int>> got;
    for (const auto& day : days) got.emplace(day.wYear, day.wMonth, day.wDay);
    EXPECT_EQ(got, expected);
}

TEST(DirTest, HoursLoadOnDemand) {
    FakeIndex index;
    for (const auto& e : Sample()) index.byHour[e.Hour()].push_back(e);
    Dir dir(index.Loader());
    // What the fast index gives: the hours and their volumes, no entries.
    for (const auto& hour : index.byHour) dir.EnsureVolumeCount(hour.first, 0);
    EXPECT_EQ(dir.EntryCount(), 0u);
    EXPECT_FALSE(dir.IsHourLoaded(static_cast<int32_t>(kBase / H)));

    // The first entry at or after a time in an unloaded hour is found.
    EXPECT_EQ(dir.FindEntry(kBase + 60000).fileId, 2u);
    EXPECT_TRUE(dir.IsHourLoaded(static_cast<int32_t>(kBase / H)));
    EXPECT_FALSE(dir.IsHourLoaded(static_cast<int32_t>(kBase / H) + 5));
    // The file spanning the hour change is found from the later hour.
    EXPECT_EQ(dir.FindNearestEntry(kBase + 2 * H + 60000).fileId, 3u);
    EXPECT_EQ(dir.FindEntryBefore(kBase + 4 * H).fileId, 3u);

    EXPECT_EQ(dir.GetLastEntry().fileId, 4u);
    EXPECT_EQ(dir.GetFirstEntry().fileId, 1u);
    // Every hour was read from the index once, however often it was needed.
    EXPECT_EQ(std::set<int32_t>(index.loads.begin(), index.loads.end()).size(), index.loads.size());
    EXPECT_TRUE(dir.HasVolumeEntries(0));
    EXPECT_FALSE(dir.HasVolumeEntries(3));

    // An hour listed by the fast index but holding nothing keeps count 0.
    FakeIndex empty;
    Dir sparse(empty.Loader());
    sparse.EnsureVolumeCount(7, 2);
    EXPECT_FALSE(sparse.HasVolumeEntries(2));
    EXPECT_TRUE(sparse.HasHourOnVolume(7, 2));
}

TEST(DirTest, NoLoaderSeesOnlyAddedEntries) {
    Dir dir;
    dir.EnsureVolumeCount(static_cast<int32_t>(kBase / H) + 3, 0);
    ASSERT_TRUE(dir.AddEntry(Entry(kBase, kBase + 1000, 1)));
    EXPECT_EQ(dir.FindEntry(kBase + 2000).fileId, 0u);
    EXPECT_EQ(dir.FindNearestEntry(kBase + 2000).fileId, 1u);
    dir.SetAllHoursLoaded();
    EXPECT_TRUE(dir.IsHourLoaded(static_cast<int32_t>(kBase / H) + 3));
}

TEST(DirTest, CallbacksMayCallBackIntoTheDirectory) {
    Dir dir;
    Fill(dir);
    std::vector<uint32_t> removed;
    dir.ForEachVolumeEntry(0, [&](const DirEntry& e) {
        if (e.fileId == 2) {
            const uint32_t fileId = e.fileId;
            dir.RemoveEntry(e);
            removed.push_back(fileId);
            return false;
        }
        return true;
    });
    EXPECT_EQ(removed, std::vector<uint32_t>{2});
    EXPECT_EQ(dir.EntryCount(), 3u);
}

TEST(DirTest, CallbacksMayRemoveTheirOwnEntryAndGoOn) {
    // Every walk, a callback that removes each entry it is given and asks
    // for more: each entry is seen once, and the directory ends empty.
    using Walk = std::function<bool(Dir&, const Dir::EntryCallback&)>;
    const struct {
        const char* what;
        Walk walk;
    } walks[] = {
        {"forward", [](Dir& d, const Dir::EntryCallback& cb) { return d.ForEachEntry(0, 0, cb); }},
        {"backward", [](Dir& d, const Dir::EntryCallback& cb) { return d.ForEachEntryBackward(cb); }},
        {"every volume", [](Dir& d, const Dir::EntryCallback& cb) { return d.ForEachVolumeEntry(-1, cb); }},
    };
    for (const auto& w : walks) {
        Dir dir;
        Fill(dir);
        const size_t count = dir.EntryCount();
        std::set<uint32_t> seen;
        EXPECT_TRUE(w.walk(dir, [&](const DirEntry& e) {
            EXPECT_TRUE(seen.insert(e.fileId).second) << w.what << " saw " << e.fileId << " twice";
            dir.RemoveEntry(e);
            return true;
        })) << w.what;
        EXPECT_EQ(seen.size(), count) << w.what;
        EXPECT_EQ(dir.EntryCount(), 0u) << w.what;
        EXPECT_EQ(dir.HourCount(), 0u) << w.what;
    }
    Dir dir;
    Fill(dir);
    const int32_t hour = static_cast<int32_t>(kBase / H);
    size_t hourSeen = 0;
    EXPECT_TRUE(dir.ForEachHourEntry(hour, [&](const DirEntry& e) {
        ++hourSeen;
        dir.RemoveEntry(e);
        return true;
    }));
    EXPECT_GT(hourSeen, 0u);
    EXPECT_TRUE(dir.ForEachHourEntry(hour, [](const DirEntry&) { return false; }));  // nothing left
}

}  // namespace

namespace {

// What a directory holds: every entry (begin, id, volume, protected) and
// every hour's counts and protected entries.
struct DirContents {
    std::vector<std::tuple<uint64_t, uint32_t, int, int>> entries;
    std::map<int32_t, std::pair<std::map<uint8_t, uint64_t>, size_t>> hours;
    bool operator==(const DirContents& o) const { return entries == o.entries && hours == o.hours; }
};

DirContents ContentsOf(Dir& dir) {
    DirContents c;
    dir.ForEachEntry(0, 0, [&c](const DirEntry& e) {
        c.entries.emplace_back(e.begin, e.fileId, int(e.volumeIndex), int(e.isProtected));
        return true;
    });
    dir.ForEachHour(-1, [&c](int32_t hour, const VindaraFileSystem::HourInfo& info) {
        c.hours[hour] = {std::map<uint8_t, uint64_t>(info.counts.begin(), info.counts.end()),
                         info.protectedEntries.size()};
    });
    return c;
}

// Adding a list at once leaves the directory as adding its entries one by
// one does, whatever their order, with entries already there or repeated.
TEST(DirAddEntriesTest, SameAsAddingOneByOne) {
    const uint64_t M = 60000;
    const std::vector<DirEntry> present = {Entry(kBase + 20 * M, kBase + 30 * M, 2)};
    const struct {
        const char* name;
        std::vector<DirEntry> entries;
    } cases[] = {
        {"in order over three hours",
         {Entry(kBase, kBase + M, 1), Entry(kBase + 40 * M, kBase + 50 * M, 3, 1),
          Entry(kBase + H, kBase + H + M, 4, 0, true), Entry(kBase + 3 * H, kBase + 3 * H + M, 5)}},
        {"out of order", {Entry(kBase + 3 * H, kBase + 3 * H + M, 5), Entry(kBase, kBase + M, 1),
                          Entry(kBase + H, kBase + H + M, 4, 1, true), Entry(kBase + 10 * M, kBase + 11 * M, 6)}},
        {"repeats and the entry already there",
         {Entry(kBase, kBase + M, 1), Entry(kBase, kBase + 2 * M, 7), Entry(kBase + 20 * M, kBase + 30 * M, 8),
          Entry(kBase + H, kBase + H + M, 4)}},
        {"nothing", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Dir one, all;
        for (const auto& e : present) {
            one.AddEntry(e);
            all.AddEntry(e);
        }
        size_t addedOne = 0;
        for (const auto& e : c.entries) addedOne += one.AddEntry(e) ? 1 : 0;
        EXPECT_EQ(all.AddEntries(c.entries), addedOne);
        EXPECT_EQ(ContentsOf(all), ContentsOf(one));
    }
}

}  // namespace
