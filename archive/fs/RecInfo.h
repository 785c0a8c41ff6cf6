#pragma once
// The description of an exported media file ("recinfo"): the recording's time
// zone and, per camera, its id and name, the names of its streams in the
// file, its title overlays, the recorded intervals and its lens and view
// settings. It travels as the text of the file's "comment" metadata entry,
// either as the XML document itself or Base64-encoded; this program only
// reads it.
//
// Document: a boost serialization narrow XML archive, root element "recinfo"
// holding one AviFileData. Element names, their order, their types and the
// class versions below are fixed here; the archive library fixes the rest.
// Fields marked "from version 1" are present only when the stored class
// version of their record is 1 or more.

#include <cstdint>
#include <string>
#include <vector>

#include <boost/archive/archive_exception.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>
#include <boost/serialization/version.hpp>

#include "archive/files/ArchiveSettings.h"

namespace VindaraFileSystem {

namespace detail {
// Records of a later version than this program knows are refused.
template <class Archive>
void CheckMaxVersion(unsigned int version, unsigned int known) {
    if (Archive::is_loading::value && version > known)
        throw boost::archive::archive_exception(boost::archive::archive_exception::unsupported_class_version);
}
}  // namespace detail

// Lens and view of a camera (class version 1).
struct CameraSettings {
    std::string lens;
    int32_t position = 0;
    int32_t display = 0;
    double x = 0, y = 0, w = 0, h = 0;  // from version 1, no element around them

    template <class Archive>
    void serialize(Archive& ar, const unsigned int version) {
        detail::CheckMaxVersion<Archive>(version, 1);
        ar& BOOST_SERIALIZATION_NVP(lens);
        ar& BOOST_SERIALIZATION_NVP(position);
        ar& BOOST_SERIALIZATION_NVP(display);
        if (version >= 1) {
            ar& BOOST_SERIALIZATION_NVP(x);
            ar& BOOST_SERIALIZATION_NVP(y);
            ar& BOOST_SERIALIZATION_NVP(w);
            ar& BOOST_SERIALIZATION_NVP(h);
        }
    }
};

// One recorded interval (class version 0); times as "%Y-%m-%dT%H-%M-%S" with
// an optional "." and milliseconds.
struct RecordItem {
    std::vector<std::string> streams;
    std::string start;
    std::string end;

    template <class Archive>
    void serialize(Archive& ar, const unsigned int version) {
        detail::CheckMaxVersion<Archive>(version, 0);
        ar& BOOST_SERIALIZATION_NVP(streams);
        ar& BOOST_SERIALIZATION_NVP(start);
        ar& BOOST_SERIALIZATION_NVP(end);
    }
};

// One camera of the file (class version 1). The document has the titles
// before the records.
struct AviCamData {
    std::string id;    // UTF-8
    std::string name;  // UTF-8
    std::vector<std::string> video;
    std::vector<std::string> audio;
    std::vector<std::string> text;
    std::vector<RecordItem> records;
    std::vector<TITLES::TitleSettings> titles;
    CameraSettings settings;  // from version 1

    template <class Archive>
    void serialize(Archive& ar, const unsigned int version) {
        detail::CheckMaxVersion<Archive>(version, 1);
        ar& BOOST_SERIALIZATION_NVP(id);
        ar& BOOST_SERIALIZATION_NVP(name);
        ar& BOOST_SERIALIZATION_NVP(video);
        ar& BOOST_SERIALIZATION_NVP(audio);
        ar& BOOST_SERIALIZATION_NVP(text);
        ar& BOOST_SERIALIZATION_NVP(titles);
        ar& BOOST_SERIALIZATION_NVP(records);
        if (version >= 1) ar& BOOST_SERIALIZATION_NVP(settings);
    }
};

// The document's root object (class version 1).
struct AviFileData {
    std::string time_zone;  // from version 1: minutes, local time minus UTC
    std::vector<AviCamData> camera;

    template <class Archive>
    void serialize(Archive& ar, const unsigned int version) {
        detail::CheckMaxVersion<Archive>(version, 1);
        if (version >= 1) ar& BOOST_SERIALIZATION_NVP(time_zone);
        ar& BOOST_SERIALIZATION_NVP(camera);
    }
};

// Reads the document from XML text; throws boost::archive::archive_exception
// (or another std::exception) for a malformed document.
AviFileData ParseRecInfoXml(const std::string& xml);

// Reads a "comment" text: ignored (false) when it has 5 characters or fewer;
// taken as XML when it begins with "<?xml", else Base64-decoded first. false,
// and `out` untouched, when the document cannot be read.
bool ReadRecInfo(const std::string& comment, AviFileData& out);

}  // namespace VindaraFileSystem

BOOST_CLASS_VERSION(VindaraFileSystem::CameraSettings, 1)
BOOST_CLASS_VERSION(VindaraFileSystem::RecordItem, 0)
BOOST_CLASS_VERSION(VindaraFileSystem::AviCamData, 1)
BOOST_CLASS_VERSION(VindaraFileSystem::AviFileData, 1)

// Bytes of a standard Base64 text; characters outside the alphabet ("="
// padding, line breaks, blanks included) are skipped, trailing bits that do
// not fill a byte dropped. Never fails.
std::string Base64DecodeString(const std::string& text);
