#pragma once
// The archive's channel settings file "Settings.xml": per channel its display
// name, title overlays, synchronisation data and picture rotation.
//
// The file is a boost serialization wide XML archive (UTF-8 text) whose root
// element "info" holds a Settings object (class version 0):
//   info/channels               vector<ChannelInfo>, ascending id
//   .../item: id, name, titles, SyncedTime, SyncedSourceId, SyncedSourceType,
//             RotateAngle
//   .../titles/item: font_name, font_size, font_color, x, y, w, h,
//             title_name, title_id
// Element names, order, types and class versions are ours; the archive
// library writes the rest (header, class attributes, counts, number texts).

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <boost/archive/archive_exception.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>
#include <boost/serialization/version.hpp>

// Records of a later program version are refused rather than misread.
template <class Archive>
void CheckRecordVersion(const unsigned int version) {
    if (Archive::is_loading::value && version > 0)
        throw boost::archive::archive_exception(boost::archive::archive_exception::unsupported_class_version);
}

namespace TITLES {

// One title overlay of a channel (wide form; the description of exported
// files writes the same record through a narrow archive).
struct TitleSettings {
    std::string font_name = "Courier New";
    uint32_t font_size = 12;
    uint32_t font_color = 0xFFFFFFFFu;
    double x = 0.05;
    double y = 0.05;
    double w = 0.8;
    double h = 0.8;
    std::wstring title_name;
    std::string title_id;

    template <class Archive>
    void serialize(Archive& ar, const unsigned int version) {
        CheckRecordVersion<Archive>(version);
        ar& BOOST_SERIALIZATION_NVP(font_name);
        ar& BOOST_SERIALIZATION_NVP(font_size);
        ar& BOOST_SERIALIZATION_NVP(font_color);
        ar& BOOST_SERIALIZATION_NVP(x);
        ar& BOOST_SERIALIZATION_NVP(y);
        ar& BOOST_SERIALIZATION_NVP(w);
        ar& BOOST_SERIALIZATION_NVP(h);
        ar& BOOST_SERIALIZATION_NVP(title_name);
        ar& BOOST_SERIALIZATION_NVP(title_id);
    }
};

}  // namespace TITLES

// Synchronisation of a channel with another source; stored as given, read by
// the playback code.
struct ChannelSyncInfo {
    std::string SyncedTime;
    std::string SyncedSourceId;
    std::string SyncedSourceType;
};

struct ChannelInfo {
    int32_t id = 0;
    std::wstring name;
    std::vector<TITLES::TitleSettings> titles;
    ChannelSyncInfo sync;
    int32_t RotateAngle = 0;

    ChannelInfo() = default;
    // The default record of a channel: its decimal id as its name.
    explicit ChannelInfo(int32_t channelId);

    template <class Archive>
    void serialize(Archive& ar, const unsigned int version) {
        CheckRecordVersion<Archive>(version);
        ar& BOOST_SERIALIZATION_NVP(id);
        ar& BOOST_SERIALIZATION_NVP(name);
        ar& BOOST_SERIALIZATION_NVP(titles);
        ar& boost::serialization::make_nvp("SyncedTime", sync.SyncedTime);
        ar& boost::serialization::make_nvp("SyncedSourceId", sync.SyncedSourceId);
        ar& boost::serialization::make_nvp("SyncedSourceType", sync.SyncedSourceType);
        ar& BOOST_SERIALIZATION_NVP(RotateAngle);
    }
};

BOOST_CLASS_VERSION(TITLES::TitleSettings, 0)
BOOST_CLASS_VERSION(ChannelInfo, 0)

// The channel records of one archive. Every operation holds the recursive
// lock for its whole run.
class Settings {
public:
    Settings() = default;
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // Writes the whole record (create or truncate). Archive and stream errors
    // (boost::archive::archive_exception, std::exception) reach the caller.
    void Save(const std::string& path) const;
    // Merges the file into the record: ids already present keep their entry,
    // and of two records of one id in the file the first wins. Errors reach
    // the caller; channels read before a failure after "channels" stay.
    void Load(const std::string& path);

    // Reference into the map (a default record is inserted when absent);
    // valid until RemoveChannel of that id or the end of the Settings.
    ChannelInfo& GetChannel(int32_t id);
    ChannelInfo GetChannelInfo(int32_t id) const;
    void RemoveChannel(int32_t id);

    std::vector<int32_t> GetChannelIds() const;
    size_t GetChannelCount() const;

private:
    mutable std::recursive_mutex m_lock;
    std::map<int32_t, ChannelInfo> m_channels;
};

inline constexpr const char* kArchiveSettingsFileName = "Settings.xml";

// folder/Settings.xml, using an existing file's spelling of the name when it
// differs only in case.
std::string ArchiveSettingsPath(const std::string& folder);
