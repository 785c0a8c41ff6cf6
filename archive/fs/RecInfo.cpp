#include "archive/fs/RecInfo.h"

#include <sstream>

#include <boost/archive/xml_iarchive.hpp>
#include <cryptopp/base64.h>
#include <cryptopp/filters.h>

#include "archive/files/XmlArchiveCheck.h"

namespace VindaraFileSystem {

AviFileData ParseRecInfoXml(const std::string& xml) {
    // A media file's metadata field: a description stays far below this.
    constexpr size_t kMaxRecInfoBytes = 1u << 20;
    // The narrow archive takes bytes as they are (a description written on a
    // machine with another code page is not UTF-8), so the shape is checked on
    // a copy whose bytes above 127 stand in as one plain letter each.
    std::string shape = xml;
    for (char& c : shape)
        if (static_cast<unsigned char>(c) >= 0x80) c = 'x';
    const XmlArchiveCheck check = CheckXmlArchive(
        shape, "recinfo", kMaxRecInfoBytes,
        {"time_zone", "camera", "count", "item_version", "item", "id", "name", "video", "audio", "text", "titles",
         "records", "settings", "lens", "position", "display", "x", "y", "w", "h", "streams", "start", "end",
         "font_name", "font_size", "font_color", "title_name", "title_id"});
    if (check != XmlArchiveCheck::Sound)
        throw boost::archive::archive_exception(boost::archive::archive_exception::input_stream_error);
    std::istringstream in(xml);
    boost::archive::xml_iarchive archive(in, kXmlArchiveFlags);
    AviFileData data;
    archive >> boost::serialization::make_nvp("recinfo", data);
    return data;
}

bool ReadRecInfo(const std::string& comment, AviFileData& out) {
    if (comment.size() <= 5) return false;
    const std::string xml = comment.compare(0, 5, "<?xml") == 0 ? comment : Base64DecodeString(comment);
    try {
        out = ParseRecInfoXml(xml);
        return true;
    } catch (const std::exception&) {
        // The description is optional: the file plays without it.
        return false;
    }
}

}  // namespace VindaraFileSystem

std::string Base64DecodeString(const std::string& text) {
    CryptoPP::Base64Decoder decoder;
    decoder.Put(reinterpret_cast<const CryptoPP::byte*>(text.data()), text.size());
    decoder.MessageEnd();
    const CryptoPP::lword size = decoder.MaxRetrievable();
    std::string bytes(static_cast<size_t>(size), '\0');
    if (size > 0) decoder.Get(reinterpret_cast<CryptoPP::byte*>(&bytes[0]), bytes.size());
    return bytes;
}
