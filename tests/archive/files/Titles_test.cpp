#include "archive/files/Titles.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/date_time/posix_time/posix_time.hpp>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "support/TempDir.h"
#include "support/ThreadNames.h"

namespace {

using namespace VindaraFileSystem;
namespace pt = boost::posix_time;

TitleTime At(const char* iso) { return pt::from_iso_string(iso); }

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(TitlesTest, FileNames) {
    struct Case {
        const char* video;
        const char* titles;
    } cases[] = {
        {"/a/27-05-22 14/1A2F._05", "/a/27-05-22 14/1A2F.t05"},
        {"/a/1A2F._1F", "/a/1A2F.t1F"},
        {"/a/x._05/1A2F._05", "/a/x.t05/1A2F._05"},  // the first "._" counts
        {"/a/movie.avi", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(TitlesFilePathFor(c.video), c.titles) << c.video;
}

TEST(TitlesTest, TextInEffectAtATime) {
    ChannelTitles titles;
    EXPECT_EQ(titles.GetText(At("20220527T100000")), "");
    titles.AddText(L"B", At("20220527T100000"), L"b-first");
    titles.AddText(L"A", At("20220527T100000"), L"first");
    titles.AddText(L"A", At("20220527T100005"), L"second \u00e9");
    struct Case {
        const char* time;
        const char* text;
    } cases[] = {
        {"20220527T095959.999999", ""},
        {"20220527T100000", "first"},
        {"20220527T100004.999000", "first"},
        {"20220527T100005", "second \u00e9"},
        {"20230101T000000", "second \u00e9"},
    };
    for (const auto& c : cases) EXPECT_EQ(titles.GetText(At(c.time)), c.text) << c.time;
    // The millisecond form reads the same map.
    const uint64_t ms = static_cast<uint64_t>((At("20220527T100004.999") - At("19700101T000000")).total_milliseconds());
    EXPECT_EQ(titles.GetText(ms), "first");
}

TEST(TitlesTest, FileRoundTripAndSelection) {
    gavex_test::TempDir dir{"titles"};
    const std::string path = dir.path() + "/1A2F.t05";
    ChannelTitles titles;
    titles.AddText(L"A", At("20220527T095000"), L"nine fifty");
    titles.AddText(L"A", At("20220527T100200.250000"), L"ten o two <&>");
    titles.AddText(L"A", At("20220527T102000"), L"ten twenty");
    titles.AddText(L"Z", At("20220527T120000"), L"later stream");
    ASSERT_TRUE(SaveTitlesFile(titles, path, At("20220527T100000"), At("20220527T101000")));
    const std::string text = gavex_test::ReadFileString(path);
    EXPECT_NE(text.find("<Streams class_id="), std::string::npos) << text;
    EXPECT_NE(text.find("<Timestamp>20220527T095000</Timestamp>"), std::string::npos) << text;
    EXPECT_NE(text.find("<Timestamp>20220527T100200.250000</Timestamp>"), std::string::npos) << text;
    EXPECT_EQ(text.find("ten twenty"), std::string::npos);
    // Stream Z has no node in the range, and is written with Count 0... unless
    // its last node before begin counts; it has none before, so its first is.
    EXPECT_EQ(Count(text, "<Stream"), 3u);  // "Streams" and two "Stream"

    ChannelTitles loaded;
    LoadTitlesFile(loaded, path);
    ASSERT_EQ(loaded.StreamCount(), 2u);
    const auto a = loaded.FindStream(L"A");
    ASSERT_TRUE(a);
    ASSERT_EQ(a->nodes.size(), 2u);
    EXPECT_EQ(a->nodes.begin()->second.text, L"nine fifty");
    EXPECT_EQ(a->nodes.rbegin()->first, At("20220527T100200.250000"));
    EXPECT_EQ(a->nodes.rbegin()->second.text, L"ten o two <&>");
    EXPECT_FALSE(a->nodes.rbegin()->second.changed);
}

TEST(TitlesTest, SelectionEndsOneMicrosecondAfterTheRange) {
    gavex_test::TempDir dir{"titles"};
    const std::string path = dir.path() + "/x.t01";
    ChannelTitles titles;
    titles.AddText(L"A", At("20220527T100000"), L"in");
    titles.AddText(L"A", At("20220527T101000.000001"), L"edge");
    titles.AddText(L"A", At("20220527T101000.000002"), L"out");
    ASSERT_TRUE(SaveTitlesFile(titles, path, At("20220527T100000"), At("20220527T101000")));
    ChannelTitles loaded;
    LoadTitlesFile(loaded, path);
    ASSERT_TRUE(loaded.FindStream(L"A"));
    EXPECT_EQ(loaded.FindStream(L"A")->nodes.size(), 2u);
}

TEST(TitlesTest, LoadMergesAndToleratesBrokenFiles) {
    gavex_test::TempDir dir{"titles"};
    const std::string path = dir.path() + "/x.t01";
    ChannelTitles source;
    source.AddText(L"A", At("20220527T100000"), L"from file");
    source.AddText(L"A", At("20220527T100100"), L"second");
    ASSERT_TRUE(SaveTitlesFile(source, path, At("20220527T090000"), At("20220527T110000")));

    ChannelTitles target;
    target.AddText(L"A", At("20220527T100000"), L"in memory");
    target.AddText(L"A", At("20220527T095000"), L"older");
    LoadTitlesFile(target, path);
    const auto a = target.FindStream(L"A");
    ASSERT_EQ(a->nodes.size(), 3u);
    EXPECT_EQ(a->nodes.at(At("20220527T100000")).text, L"from file");

    // Missing file: nothing changes. Broken file: what came before the fault stays.
    LoadTitlesFile(target, dir.path() + "/missing.t01");
    EXPECT_EQ(target.StreamCount(), 1u);
    const std::string text = gavex_test::ReadFileString(path);
    std::ofstream(dir.path() + "/cut.t01", std::ios::binary) << text.substr(0, text.find("<Node>", text.find("<Node")+5));
    ChannelTitles partial;
    LoadTitlesFile(partial, dir.path() + "/cut.t01");
    EXPECT_LE(partial.StreamCount(), 1u);
    std::ofstream(dir.path() + "/junk.t01", std::ios::binary) << "not xml";
    ChannelTitles junk;
    LoadTitlesFile(junk, dir.path() + "/junk.t01");
    EXPECT_EQ(junk.StreamCount(), 0u);
    EXPECT_EQ(junk.GetText(At("20220527T100000")), "");

    // Every stream read, only the closing root tag missing (an interrupted
    // save of another program): ended the process before; now all is kept.
    std::ofstream(dir.path() + "/noroot.t01", std::ios::binary)
        << text.substr(0, text.rfind("</boost_serialization>"));
    ChannelTitles noRoot;
    LoadTitlesFile(noRoot, dir.path() + "/noroot.t01");
    ASSERT_EQ(noRoot.StreamCount(), 1u);
    EXPECT_EQ(noRoot.FindStream(L"A")->nodes.size(), 2u);
    // Unsafe for the archive: refused whole.
    std::string longTag = text;
    longTag.replace(longTag.find("</Node>"), 7, "</Node" + std::string(100000, 'x') + ">");
    std::string withNul = text;
    withNul.insert(withNul.find("from file"), std::string(1, '\0'));
    for (const std::string& bad : {longTag, withNul}) {
        std::ofstream(dir.path() + "/bad.t01", std::ios::binary | std::ios::trunc) << bad;
        ChannelTitles refused;
        LoadTitlesFile(refused, dir.path() + "/bad.t01");
        EXPECT_EQ(refused.StreamCount(), 0u);
    }

    // Reload replaces everything.
    target.Reload(path);
    EXPECT_EQ(target.FindStream(L"A")->nodes.size(), 2u);
}

TEST(TitlesTest, WhatIsSavedLoadsBack) {
    gavex_test::TempDir dir{"titles"};
    const std::string path = dir.path() + "/1A2F.t05";
    const struct {
        std::wstring text;
        std::wstring loaded;  // without the characters XML cannot hold
    } cases[] = {
        {L"plain <&> \"quoted\" 'x'", L"plain <&> \"quoted\" 'x'"},
        {L"tab\tline\nbreak", L"tab\tline\nbreak"},
        {L"caf\u00E9 \U0001F600", L"caf\u00E9 \U0001F600"},
        {std::wstring(L"a\x01" L"b\x1F" L"c\x7F" L"d"), L"ab" L"c\x7F" L"d"},
        {std::wstring(L"e\xFFFE" L"f\xFFFF" L"g"), L"efg"},
        {std::wstring(1, static_cast<wchar_t>(0xD800)) + L"h" + static_cast<wchar_t>(0x110000), L"h"},
    };
    TitleTime at = At("20220527T100000");
    ChannelTitles titles;
    for (const auto& c : cases) {
        titles.AddText(L"A\x02", at, c.text);
        at += pt::seconds(1);
    }
    ASSERT_TRUE(SaveTitlesFile(titles, path, At("20220527T090000"), At("20220527T110000")));
    ChannelTitles loaded;
    LoadTitlesFile(loaded, path);
    const auto stream = loaded.FindStream(L"A");
    ASSERT_TRUE(stream) << gavex_test::ReadFileString(path);
    ASSERT_EQ(stream->nodes.size(), std::size(cases));
    size_t i = 0;
    for (const auto& node : stream->nodes) EXPECT_EQ(node.second.text, cases[i++].loaded) << i;

    // A file declaring another encoding is still read as UTF-8: a control
    // byte in it refuses the file instead of reaching a title.
    std::string other = gavex_test::ReadFileString(path);
    other.replace(other.find("UTF-8"), 5, "UTF-7");
    ChannelTitles utf7;
    std::ofstream(dir.path() + "/utf7.t05", std::ios::binary) << other;
    LoadTitlesFile(utf7, dir.path() + "/utf7.t05");
    EXPECT_EQ(utf7.StreamCount(), 1u) << "the declaration alone changes nothing";
    other.replace(other.find("plain"), 1, "\x01");
    std::ofstream(dir.path() + "/utf7.t05", std::ios::binary | std::ios::trunc) << other;
    ChannelTitles control;
    LoadTitlesFile(control, dir.path() + "/utf7.t05");
    EXPECT_EQ(control.StreamCount(), 0u);
}

TEST(TitlesTest, EmptyChannelFile) {
    gavex_test::TempDir dir{"titles"};
    const std::string path = dir.path() + "/x.t01";
    ChannelTitles empty;
    ASSERT_TRUE(SaveTitlesFile(empty, path, At("20220527T090000"), At("20220527T110000")));
    EXPECT_NE(gavex_test::ReadFileString(path).find("<Count>0</Count>"), std::string::npos);
    ChannelTitles loaded;
    LoadTitlesFile(loaded, path);
    EXPECT_EQ(loaded.StreamCount(), 0u);
    EXPECT_EQ(loaded.GetText(At("20220527T100000")), "");
}

TEST(TitlesTest, ChangedRanges) {
    TitlesStream stream;
    auto add = [&](const char* t, bool changed) { stream.nodes[At(t)] = TitleNode{L"x", changed}; };
    add("20220527T100000", true);
    add("20220527T100100", true);
    add("20220527T100200", false);
    add("20220527T100300", true);
    add("20220527T100400", false);
    add("20220527T100500", true);
    std::vector<TitleRange> ranges;
    stream.CollectChangedRanges(ranges, At("20220527T110000"));
    ASSERT_EQ(ranges.size(), 3u);
    EXPECT_EQ(ranges[0].begin, At("20220527T100000"));
    EXPECT_EQ(ranges[0].end, At("20220527T100200"));
    EXPECT_EQ(ranges[1].begin, At("20220527T100300"));
    EXPECT_EQ(ranges[2].end, At("20220527T110000"));
    EXPECT_TRUE(stream.changed);

    // Overlapping ranges of another stream merge.
    TitlesStream other;
    other.nodes[At("20220527T100100")] = TitleNode{L"y", true};
    other.nodes[At("20220527T100330")] = TitleNode{L"y", false};
    other.CollectChangedRanges(ranges, At("20220527T110000"));
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0].begin, At("20220527T100000"));
    EXPECT_EQ(ranges[0].end, At("20220527T100400"));
}

// An archive engine with one camera directory and files under a folder.
class FakeOwner : public ITitlesOwner {
public:
    explicit FakeOwner(std::string folder) : m_folder(std::move(folder)), m_dir(std::make_shared<Dir>()) {}
    std::shared_ptr<Dir> GetCameraDir(int camera) override { return camera == 0 ? m_dir : nullptr; }
    std::string GetEntryFilePath(int, const DirEntry& entry, char letter) override {
        return m_folder + "/" + std::to_string(entry.fileId) + "." + letter + "00";
    }
    void AddFile(uint32_t id, const char* begin, const char* end) {
        DirEntry e;
        e.fileId = id;
        e.begin = Ms(At(begin));
        e.end = Ms(At(end));
        m_dir->AddEntry(e);
    }
    static uint64_t Ms(const TitleTime& t) {
        return static_cast<uint64_t>((t - At("19700101T000000")).total_milliseconds());
    }
    std::string m_folder;
    std::shared_ptr<Dir> m_dir;
};

TEST(TitlesTest, SaveChangedWritesTheFilesThatCoverChanges) {
    gavex_test::TempDir dir{"titles"};
    FakeOwner owner(dir.path());
    owner.AddFile(1, "20220527T100000", "20220527T101000");
    owner.AddFile(2, "20220527T101000.001", "20220527T102000");
    owner.AddFile(3, "20220527T110000", "20220527T111000");
    ChannelTitles titles(0);
    titles.AddText(L"A", At("20220527T100500"), L"one");
    titles.AddText(L"A", At("20220527T101500"), L"two");
    titles.SaveChanged(owner, At("20220527T130000"));

    EXPECT_NE(gavex_test::ReadFileString(dir.path() + "/1.t00").find("one"), std::string::npos);
    const std::string second = gavex_test::ReadFileString(dir.path() + "/2.t00");
    // The file receives the title in effect at its begin as well.
    EXPECT_NE(second.find("one"), std::string::npos);
    EXPECT_NE(second.find("two"), std::string::npos);
    // The last change is still in effect up to now, so the later file gets it too.
    EXPECT_NE(gavex_test::ReadFileString(dir.path() + "/3.t00").find("two"), std::string::npos);
    EXPECT_FALSE(titles.HasChanges());
    // keepFrom is the end of file 3 (the file in effect 5 minutes before now
    // ended earlier); no node is later, so nothing is dropped yet.
    EXPECT_EQ(titles.FindStream(L"A")->nodes.size(), 2u);

    // A node after keepFrom lets the older ones go, but "two" is still in
    // effect at keepFrom, and the new node (in no file yet) stays changed.
    titles.AddText(L"A", At("20220527T120000"), L"three");
    titles.SaveChanged(owner, At("20220527T130000"));
    const auto a = titles.FindStream(L"A");
    ASSERT_EQ(a->nodes.size(), 2u);
    EXPECT_EQ(a->nodes.begin()->second.text, L"two");
    EXPECT_TRUE(titles.HasChanges());
}

TEST(TitlesTest, AFailedWriteLosesNothing) {
    gavex_test::TempDir dir{"titles"};
    FakeOwner owner(dir.path() + "/missing-folder");
    owner.AddFile(1, "20220527T100000", "20220527T101000");
    ChannelTitles titles(0);
    titles.AddText(L"A", At("20220527T100500"), L"one");
    titles.AddText(L"A", At("20220527T100600"), L"two");
    titles.SaveChanged(owner, At("20220527T130000"));
    EXPECT_TRUE(titles.HasChanges());
    EXPECT_EQ(titles.FindStream(L"A")->nodes.size(), 2u);

    // An existing file survives a failed rewrite untouched.
    gavex_test::TempDir good{"titles"};
    const std::string path = good.path() + "/1.t00";
    std::ofstream(path) << "previous";
    ::chmod(good.path().c_str(), 0555);
    const bool writable = ::access(good.path().c_str(), W_OK) == 0;  // root writes anyway
    const bool saved = SaveTitlesFile(titles, path, At("20220527T100000"), At("20220527T101000"));
    ::chmod(good.path().c_str(), 0755);
    if (!writable) {
        EXPECT_FALSE(saved);
        EXPECT_EQ(gavex_test::ReadFileString(path), "previous");
    }

    // Once the folder exists the titles are written and settled.
    ::mkdir((dir.path() + "/missing-folder").c_str(), 0755);
    titles.SaveChanged(owner, At("20220527T130000"));
    EXPECT_FALSE(titles.HasChanges());
    EXPECT_NE(gavex_test::ReadFileString(dir.path() + "/missing-folder/1.t00").find("two"), std::string::npos);
}

TEST(TitlesTest, NoDirectoryLeavesChangesPending) {
    gavex_test::TempDir dir{"titles"};
    FakeOwner owner(dir.path());
    ChannelTitles titles(5);  // the owner has no directory for camera 5
    titles.AddText(L"A", At("20220527T100500"), L"one");
    titles.SaveChanged(owner, At("20220527T130000"));
    EXPECT_TRUE(titles.HasChanges());
}

using gavex_test::CountThreadsNamed;

// The named worker appears within a few seconds (it names itself once running).
bool WaitForThreadsNamed(const std::string& name, int count) {
    for (int i = 0; i < 500; ++i) {
        if (CountThreadsNamed(name) == count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(TitlesManagerTest, WorkerStartsWithTheFirstChannelAndNotAfterStop) {
    gavex_test::TempDir dir{"titles"};
    FakeOwner owner(dir.path());
    const int before = CountThreadsNamed("TitlesManager");
    {
        TitlesManager unused(&owner, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(CountThreadsNamed("TitlesManager"), before) << "a manager without titles runs no worker";
    }
    TitlesManager manager(&owner, 3600 * 1000);
    auto first = manager.GetChannelTitles(3);
    EXPECT_TRUE(WaitForThreadsNamed("TitlesManager", before + 1));
    EXPECT_EQ(manager.GetChannelTitles(3), first);
    manager.GetChannelTitles(4);
    EXPECT_EQ(CountThreadsNamed("TitlesManager"), before + 1) << "one worker for every channel";
    manager.Stop();
    EXPECT_TRUE(WaitForThreadsNamed("TitlesManager", before));
    manager.GetChannelTitles(5);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(CountThreadsNamed("TitlesManager"), before) << "a stopped manager starts no worker";
}

TEST(TitlesManagerTest, PendingTitlesAreSavedOnStop) {
    gavex_test::TempDir dir{"titles"};
    FakeOwner owner(dir.path());
    const auto now = pt::microsec_clock::universal_time();
    const std::string begin = pt::to_iso_string(now - pt::minutes(20));
    const std::string end = pt::to_iso_string(now - pt::minutes(10));
    owner.AddFile(1, begin.c_str(), end.c_str());
    {
        TitlesManager manager(&owner, 3600 * 1000);  // no periodic round during the test
        auto channel = manager.GetChannelTitles();
        EXPECT_EQ(channel, manager.GetChannelTitles(0));
        channel->AddText(L"A", now - pt::minutes(15), L"pending");
        manager.Stop();
        EXPECT_FALSE(channel->HasChanges());
        manager.Stop();  // a second stop does nothing
    }
    EXPECT_NE(gavex_test::ReadFileString(dir.path() + "/1.t00").find("pending"), std::string::npos);
}

TEST(TitlesManagerTest, WorkerSavesPeriodically) {
    gavex_test::TempDir dir{"titles"};
    FakeOwner owner(dir.path());
    const auto now = pt::microsec_clock::universal_time();
    const std::string begin = pt::to_iso_string(now - pt::minutes(20));
    const std::string end = pt::to_iso_string(now - pt::minutes(10));
    owner.AddFile(1, begin.c_str(), end.c_str());
    TitlesManager manager(&owner, 20);
    auto channel = manager.GetChannelTitles();
    channel->AddText(L"A", now - pt::minutes(15), L"periodic");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (channel->HasChanges() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(channel->HasChanges());
    EXPECT_NE(gavex_test::ReadFileString(dir.path() + "/1.t00").find("periodic"), std::string::npos);
    manager.Stop();
}

}  // namespace
