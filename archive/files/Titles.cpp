#include "archive/files/Titles.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include <boost/archive/xml_wiarchive.hpp>
#include <boost/archive/xml_woarchive.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/split_member.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/version.hpp>

#include "archive/files/XmlArchiveCheck.h"
#include "base/StringConv.h"
#include "base/Thread.h"

namespace VindaraFileSystem {

namespace {

namespace pt = boost::posix_time;

const TitleTime kEpoch(boost::gregorian::date(1970, 1, 1));

// Nodes a save selected, so the caller can clear their changed flags once the
// file is in place.
using WrittenNodes = std::vector<TitleNode*>;

std::wstring FormatTimestamp(const TitleTime& t) { return pt::to_iso_wstring(t); }

// XML holds no other characters: tab, line feed, carriage return, and the
// code points from blank on except the surrogates, U+FFFE and U+FFFF.
bool XmlCanHold(wchar_t c) {
    const uint32_t u = static_cast<uint32_t>(c);
    if (u < 0x20) return u == 0x09 || u == 0x0A || u == 0x0D;
    if (u >= 0xD800 && u <= 0xDFFF) return false;
    return u != 0xFFFE && u != 0xFFFF && u <= 0x10FFFF;
}

// A text as a file can store it: characters XML cannot hold are left out,
// so that what is saved always loads back.
std::wstring StorableText(const std::wstring& text) {
    std::wstring kept;
    kept.reserve(text.size());
    for (const wchar_t c : text)
        if (XmlCanHold(c)) kept.push_back(c);
    return kept;
}

bool ParseTimestamp(const std::wstring& text, TitleTime& t) {
    if (text == L"+infinity") {
        t = TitleTime(boost::posix_time::pos_infin);
        return true;
    }
    if (text == L"-infinity") {
        t = TitleTime(boost::posix_time::neg_infin);
        return true;
    }
    try {
        t = pt::from_iso_string(WStringToString(text));
        return !t.is_not_a_date_time();
    } catch (const std::exception&) {
        return false;
    }
}

uint64_t ToUnixMs(const TitleTime& t) {
    if (t.is_special() || t <= kEpoch) return 0;
    return static_cast<uint64_t>((t - kEpoch).total_milliseconds());
}

TitleTime FromUnixMs(uint64_t ms) { return kEpoch + pt::milliseconds(static_cast<int64_t>(ms)); }

struct NodeSerializer {
    TitleTime time;
    std::wstring text;

    template <class Archive>
    void save(Archive& ar, const unsigned int) const {
        const std::wstring Timestamp = FormatTimestamp(time);
        ar << BOOST_SERIALIZATION_NVP(Timestamp);
        const std::wstring Text = StorableText(text);
        ar << BOOST_SERIALIZATION_NVP(Text);
    }
    template <class Archive>
    void load(Archive& ar, const unsigned int) {
        std::wstring Timestamp;
        ar >> BOOST_SERIALIZATION_NVP(Timestamp);
        ar >> boost::serialization::make_nvp("Text", text);
        if (!ParseTimestamp(Timestamp, time)) time = TitleTime(boost::posix_time::not_a_date_time);
    }
    BOOST_SERIALIZATION_SPLIT_MEMBER()
};

struct StreamSerializer {
    std::wstring id;
    std::shared_ptr<TitlesStream> stream;
    TitleTime begin;
    TitleTime end;
    WrittenNodes* written = nullptr;

    template <class Archive>
    void save(Archive& ar, const unsigned int) const {
        const std::wstring Id = StorableText(id);
        ar << BOOST_SERIALIZATION_NVP(Id);
        auto& nodes = stream->nodes;
        // The title in effect at begin, or the first node when none is.
        auto from = nodes.upper_bound(begin);
        if (from != nodes.begin()) --from;
        const TitleTime last = end.is_special() ? end : end + pt::microseconds(1);
        auto stop = from;
        int32_t Count = 0;
        while (stop != nodes.end() && !(stop->first > last)) {
            ++stop;
            ++Count;
        }
        ar << BOOST_SERIALIZATION_NVP(Count);
        for (auto it = from; it != stop; ++it) {
            const NodeSerializer Node{it->first, it->second.text};
            ar << BOOST_SERIALIZATION_NVP(Node);
            if (written) written->push_back(&it->second);
        }
    }
    template <class Archive>
    void load(Archive& ar, const unsigned int) {
        ar >> boost::serialization::make_nvp("Id", id);
        stream = std::make_shared<TitlesStream>();
        int32_t Count = 0;
        ar >> BOOST_SERIALIZATION_NVP(Count);
        for (int32_t i = 0; i < Count; ++i) {
            NodeSerializer Node;
            ar >> BOOST_SERIALIZATION_NVP(Node);
            // A node without a usable time cannot be placed; it is dropped.
            if (Node.time.is_not_a_date_time()) continue;
            stream->nodes[Node.time] = TitleNode{Node.text, false};
        }
    }
    BOOST_SERIALIZATION_SPLIT_MEMBER()
};

struct ChannelSerializer {
    ChannelTitles* channel = nullptr;
    TitleTime begin;
    TitleTime end;
    WrittenNodes* written = nullptr;

    template <class Archive>
    void save(Archive& ar, const unsigned int) const {
        const uint64_t Count = channel->streams.size();
        ar << BOOST_SERIALIZATION_NVP(Count);
        for (const auto& entry : channel->streams) {
            const StreamSerializer Stream{entry.first, entry.second, begin, end, written};
            ar << BOOST_SERIALIZATION_NVP(Stream);
        }
    }
    template <class Archive>
    void load(Archive& ar, const unsigned int) {
        uint64_t Count = 0;
        ar >> BOOST_SERIALIZATION_NVP(Count);
        for (uint64_t i = 0; i < Count; ++i) {
            StreamSerializer Stream{std::wstring(), nullptr, begin, end, nullptr};
            ar >> BOOST_SERIALIZATION_NVP(Stream);
            auto existing = channel->streams.find(Stream.id);
            if (existing == channel->streams.end()) {
                channel->streams.emplace(Stream.id, Stream.stream);
                continue;
            }
            for (const auto& node : Stream.stream->nodes) existing->second->nodes[node.first] = node.second;
        }
    }
    BOOST_SERIALIZATION_SPLIT_MEMBER()
};

std::atomic<unsigned> g_tempCounter{0};

}  // namespace
}  // namespace VindaraFileSystem

BOOST_CLASS_VERSION(VindaraFileSystem::NodeSerializer, 0)
BOOST_CLASS_VERSION(VindaraFileSystem::StreamSerializer, 0)
BOOST_CLASS_VERSION(VindaraFileSystem::ChannelSerializer, 0)

namespace VindaraFileSystem {

void TitlesStream::CollectChangedRanges(std::vector<TitleRange>& ranges, const TitleTime& now) {
    auto insert = [&ranges](TitleRange r) {
        auto it = ranges.begin();
        while (it != ranges.end() && it->end < r.begin) ++it;
        // Merge every range that overlaps the new one.
        while (it != ranges.end() && !(r.end < it->begin)) {
            if (it->begin < r.begin) r.begin = it->begin;
            if (r.end < it->end) r.end = it->end;
            it = ranges.erase(it);
        }
        ranges.insert(it, r);
    };
    changed = false;
    bool inRun = false;
    TitleTime runStart;
    for (const auto& node : nodes) {
        if (node.second.changed) {
            if (!inRun) {
                inRun = true;
                changed = true;
                runStart = node.first;
            }
        } else if (inRun) {
            insert(TitleRange{runStart, node.first});
            inRun = false;
        }
    }
    if (inRun) insert(TitleRange{runStart, runStart < now ? now : runStart});
}

std::string ChannelTitles::GetText(const TitleTime& time) const {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (streams.empty()) return std::string();
    const auto& nodes = streams.begin()->second->nodes;
    auto it = nodes.upper_bound(time);
    if (it == nodes.begin()) return std::string();
    return WStringToString(std::prev(it)->second.text);
}

std::string ChannelTitles::GetText(uint64_t unixMs) const { return GetText(FromUnixMs(unixMs)); }

void ChannelTitles::AddText(const std::wstring& streamId, const TitleTime& time, const std::wstring& text) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    auto& stream = streams[streamId];
    if (!stream) stream = std::make_shared<TitlesStream>();
    stream->nodes[time] = TitleNode{text, true};
    stream->changed = true;
}

void ChannelTitles::Clear() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    streams.clear();
}

void ChannelTitles::Reload(const std::string& titlesPath) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    streams.clear();
    LoadTitlesFile(*this, titlesPath);
}

size_t ChannelTitles::StreamCount() const {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return streams.size();
}

std::shared_ptr<TitlesStream> ChannelTitles::FindStream(const std::wstring& id) const {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    auto it = streams.find(id);
    return it == streams.end() ? nullptr : it->second;
}

bool ChannelTitles::HasChanges() const {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    for (const auto& stream : streams)
        for (const auto& node : stream.second->nodes)
            if (node.second.changed) return true;
    return false;
}

namespace {

bool SaveTitlesFileCollecting(ChannelTitles& channel, const std::string& path, const TitleTime& begin,
                              const TitleTime& end, WrittenNodes* written) {
    std::lock_guard<std::recursive_mutex> lock(channel.mutex);
    const std::string temp = path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(g_tempCounter++);
    bool ok = false;
    try {
        std::wofstream stream(temp, std::ios::out | std::ios::trunc);
        if (stream) {
            {
                boost::archive::xml_woarchive archive(stream);
                const ChannelSerializer Streams{&channel, begin, end, written};
                archive << BOOST_SERIALIZATION_NVP(Streams);
            }
            stream.close();
            ok = !stream.fail();
        }
    } catch (const std::exception&) {
        ok = false;
    }
    if (ok) ok = std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) std::remove(temp.c_str());
    return ok;
}

}  // namespace

bool SaveTitlesFile(ChannelTitles& channel, const std::string& path, const TitleTime& begin, const TitleTime& end) {
    return SaveTitlesFileCollecting(channel, path, begin, end, nullptr);
}

void LoadTitlesFile(ChannelTitles& channel, const std::string& path) {
    // An hour's titles of many streams stay far below this.
    constexpr size_t kMaxTitlesBytes = 64u << 20;
    std::lock_guard<std::recursive_mutex> lock(channel.mutex);
    std::string bytes;
    if (!ReadXmlArchiveFile(path, kMaxTitlesBytes, bytes)) return;
    const XmlArchiveCheck check =
        CheckXmlArchive(bytes, "Streams", kMaxTitlesBytes, {"Count", "Stream", "Id", "Node", "Timestamp", "Text"});
    if (check == XmlArchiveCheck::Unsafe) return;
    std::wistringstream stream(XmlArchiveWideText(bytes));
    try {
        boost::archive::xml_wiarchive archive(stream, kXmlArchiveFlags);
        ChannelSerializer Streams{&channel, TitleTime(), TitleTime(), nullptr};
        archive >> BOOST_SERIALIZATION_NVP(Streams);
        // Thrown while the archive lives: its destructor then skips the
        // closing-tag check a damaged file would fail.
        if (check == XmlArchiveCheck::Damaged)
            throw boost::archive::archive_exception(boost::archive::archive_exception::input_stream_error);
    } catch (const std::exception&) {
        // What was read before the fault stays.
    }
}

std::string TitlesFilePathFor(const std::string& videoPath) {
    const size_t at = videoPath.find("._");
    if (at == std::string::npos) return std::string();
    std::string path = videoPath;
    path[at + 1] = 't';
    return path;
}

void ChannelTitles::SaveChanged(ITitlesOwner& owner, const TitleTime& now) {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    std::vector<TitleRange> ranges;
    for (auto& stream : streams)
        if (stream.second->changed) stream.second->CollectChangedRanges(ranges, now);
    if (ranges.empty()) return;
    std::shared_ptr<Dir> dir = owner.GetCameraDir(channelId);
    if (!dir) return;

    // A node is settled only when every file that had to carry it was written.
    std::map<TitleNode*, bool> settled;
    std::set<uint64_t> done;  // files already written this round, by begin
    for (const auto& range : ranges) {
        dir->ForEachEntry(ToUnixMs(range.begin), ToUnixMs(range.end), [&](const DirEntry& entry) {
            if (!done.insert(entry.begin).second) return true;
            const std::string path = owner.GetEntryFilePath(channelId, entry, 't');
            WrittenNodes written;
            const bool ok = !path.empty() && SaveTitlesFileCollecting(*this, path, FromUnixMs(entry.begin),
                                                                       FromUnixMs(entry.end) - pt::microseconds(1),
                                                                       &written);
            for (TitleNode* node : written) {
                auto it = settled.emplace(node, ok).first;
                it->second = it->second && ok;
            }
            return true;
        });
    }
    for (const auto& node : settled)
        if (node.second) node.first->changed = false;

    keepFrom = now - pt::seconds(300);
    const uint64_t keepMs = ToUnixMs(keepFrom);
    const DirEntry current = dir->GetEntryAt(keepMs);
    if (current.begin != 0 && current.end != 0 && current.begin < keepMs)
        keepFrom = FromUnixMs(current.end < keepMs ? current.end : current.begin);

    for (auto& stream : streams) {
        auto& nodes = stream.second->nodes;
        auto later = nodes.upper_bound(keepFrom);
        if (later == nodes.end() || later == nodes.begin()) continue;
        // The last node at or before keepFrom is the title still in effect; it
        // stays, and so does every node not written yet.
        auto inEffect = std::prev(later);
        for (auto it = nodes.begin(); it != inEffect;) {
            if (it->second.changed)
                ++it;
            else
                it = nodes.erase(it);
        }
        stream.second->changed = false;
        for (const auto& node : nodes)
            if (node.second.changed) stream.second->changed = true;
    }
}

class TitlesManager::Worker : public Thread {
public:
    explicit Worker(TitlesManager& manager) : m_manager(manager) {}
    ~Worker() override { Stop(); }
    bool Run() override {
        m_manager.Run();
        return false;
    }

private:
    TitlesManager& m_manager;
};

TitlesManager::TitlesManager(ITitlesOwner* owner, int periodMs) : m_owner(owner), m_periodMs(periodMs) {}

void TitlesManager::StartWorker() {
    std::lock_guard<std::mutex> start(m_workerLock);
    if (m_worker) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_running) return;
    }
    m_worker = std::make_unique<Worker>(*this);
    m_worker->Start(0, 0, "TitlesManager");
}

TitlesManager::~TitlesManager() { Stop(); }

std::shared_ptr<ChannelTitles> TitlesManager::GetChannelTitles() { return GetChannelTitles(0); }

std::shared_ptr<ChannelTitles> TitlesManager::GetChannelTitles(int32_t channel) {
    std::shared_ptr<ChannelTitles> titles;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto& slot = m_channels[channel];
        if (!slot) slot = std::make_shared<ChannelTitles>(channel);
        titles = slot;
    }
    StartWorker();
    return titles;
}

void TitlesManager::SaveAll() {
    std::vector<std::shared_ptr<ChannelTitles>> channels;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& channel : m_channels) channels.push_back(channel.second);
    }
    if (!m_owner) return;
    const TitleTime now = pt::microsec_clock::universal_time();
    for (const auto& channel : channels) channel->SaveChanged(*m_owner, now);
}

void TitlesManager::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto& first = m_channels[0];
    if (!first) first = std::make_shared<ChannelTitles>(0);
    while (m_running) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_periodMs);
        if (m_wake.wait_until(lock, deadline, [this] { return !m_running; })) break;
        lock.unlock();
        SaveAll();
        lock.lock();
    }
}

void TitlesManager::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
    }
    m_wake.notify_all();
    std::unique_ptr<Worker> worker;
    {
        std::lock_guard<std::mutex> start(m_workerLock);
        worker = std::move(m_worker);
    }
    if (worker) {
        worker->Stop();
        worker.reset();
    }
    // Titles changed since the last round are written once the worker is
    // gone (it may have been stopped before its first pass).
    SaveAll();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_channels.clear();
}

}  // namespace VindaraFileSystem
