#include "archive/fs/RecInfo.h"

#include <sstream>

#include <boost/archive/xml_iarchive.hpp>
#include <cryptopp/base64.h>
#include <cryptopp/filters.h>

namespace VindaraFileSystem {

AviFileData ParseRecInfoXml(const std::string& xml) {
    std::istringstream in(xml);
    boost::archive::xml_iarchive archive(in);
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
