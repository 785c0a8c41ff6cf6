#include "archive/files/ArchiveSettings.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <boost/archive/xml_wiarchive.hpp>
#include <boost/archive/xml_woarchive.hpp>
#include <boost/serialization/split_member.hpp>

#include "archive/files/VolumePaths.h"
#include "archive/files/XmlArchiveCheck.h"

namespace {

// What the file's "info" element holds. Loading inserts the channels as soon
// as the "channels" element was read, so that a fault further on (a missing
// closing tag) leaves them in place.
struct SettingsRecord {
    std::map<int32_t, ChannelInfo>* target = nullptr;
    std::vector<ChannelInfo> channels;

    template <class Archive>
    void save(Archive& ar, const unsigned int /*version*/) const {
        ar << BOOST_SERIALIZATION_NVP(channels);
    }
    template <class Archive>
    void load(Archive& ar, const unsigned int version) {
        CheckRecordVersion<Archive>(version);
        ar >> BOOST_SERIALIZATION_NVP(channels);
        for (auto& channel : channels) target->emplace(channel.id, channel);
    }
    BOOST_SERIALIZATION_SPLIT_MEMBER()
};

// A settings file of many channels with titles stays far below this.
constexpr size_t kMaxSettingsBytes = 16u << 20;

std::atomic<unsigned> g_saveCounter{0};

}  // namespace

BOOST_CLASS_VERSION(SettingsRecord, 0)

ChannelInfo::ChannelInfo(int32_t channelId) : id(channelId), name(std::to_wstring(channelId)) {}

void Settings::Save(const std::string& path) const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    // Written beside the target and renamed over it, so an interrupted save
    // never leaves a file cut short in place of the old one.
    const std::string temp = path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(g_saveCounter++);
    try {
        std::wofstream stream(temp, std::ios::out | std::ios::trunc);
        SettingsRecord record;
        {
            boost::archive::xml_woarchive archive(stream);
            record.channels.reserve(m_channels.size());
            for (const auto& channel : m_channels) record.channels.push_back(channel.second);
            const SettingsRecord& info = record;
            archive << boost::serialization::make_nvp("info", info);
        }
        stream.close();
        if (!stream)
            throw boost::archive::archive_exception(boost::archive::archive_exception::output_stream_error,
                                                    path.c_str());
        if (std::rename(temp.c_str(), path.c_str()) != 0)
            throw boost::archive::archive_exception(boost::archive::archive_exception::output_stream_error,
                                                    path.c_str());
    } catch (...) {
        std::remove(temp.c_str());
        throw;
    }
}

void Settings::Load(const std::string& path) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    std::string bytes;
    if (!ReadXmlArchiveFile(path, kMaxSettingsBytes, bytes))
        throw boost::archive::archive_exception(boost::archive::archive_exception::input_stream_error,
                                                path.c_str());
    const XmlArchiveCheck check = CheckXmlArchive(
        bytes, "info", kMaxSettingsBytes,
        {"channels", "count", "item_version", "item", "id", "name", "titles", "SyncedTime", "SyncedSourceId",
         "SyncedSourceType", "RotateAngle", "font_name", "font_size", "font_color", "x", "y", "w", "h", "title_name",
         "title_id"});
    if (check == XmlArchiveCheck::Unsafe)
        throw boost::archive::archive_exception(boost::archive::archive_exception::input_stream_error,
                                                path.c_str());
    std::wistringstream stream(XmlArchiveWideText(bytes));
    boost::archive::xml_wiarchive archive(stream, kXmlArchiveFlags);
    SettingsRecord record;
    record.target = &m_channels;
    archive >> boost::serialization::make_nvp("info", record);
    // Thrown while the archive lives, so that its destructor does not check
    // the closing tags of a damaged file (and end the process doing so).
    if (check == XmlArchiveCheck::Damaged)
        throw boost::archive::archive_exception(boost::archive::archive_exception::input_stream_error,
                                                path.c_str());
}

ChannelInfo& Settings::GetChannel(int32_t id) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    auto it = m_channels.find(id);
    if (it == m_channels.end()) it = m_channels.emplace(id, ChannelInfo(id)).first;
    return it->second;
}

ChannelInfo Settings::GetChannelInfo(int32_t id) const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    auto it = m_channels.find(id);
    return it == m_channels.end() ? ChannelInfo(id) : it->second;
}

void Settings::RemoveChannel(int32_t id) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_channels.erase(id);
}

std::vector<int32_t> Settings::GetChannelIds() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    std::vector<int32_t> ids;
    for (const auto& channel : m_channels) ids.push_back(channel.first);
    return ids;
}

size_t Settings::GetChannelCount() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_channels.size();
}

std::string ArchiveSettingsPath(const std::string& folder) {
    return VolumePaths::ChildNoCase(folder, kArchiveSettingsFileName);
}
