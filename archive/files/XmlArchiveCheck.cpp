#include "archive/files/XmlArchiveCheck.h"

#include <cstring>
#include <fstream>

#include <QString>
#include <QXmlStreamReader>

namespace {

// Longest markup boost is given between a '<' and its '>': far above any tag
// an archive writes (names of a few dozen characters and four attributes).
constexpr size_t kMaxTagBytes = 1024;

bool TagsAreBounded(const std::string& bytes) {
    size_t at = 0;
    while ((at = bytes.find('<', at)) != std::string::npos) {
        const size_t close = bytes.find('>', at);
        const size_t end = close == std::string::npos ? bytes.size() : close;
        if (end - at > kMaxTagBytes) return false;
        if (close == std::string::npos) break;
        at = close + 1;
    }
    return true;
}

bool IsListed(QStringView name, const std::initializer_list<std::string_view>& names) {
    for (const std::string_view listed : names)
        if (name == QLatin1String(listed.data(), static_cast<int>(listed.size()))) return true;
    return false;
}

bool IsBlank(QStringView text) {
    for (const QChar c : text)
        if (!c.isSpace()) return false;
    return true;
}

XmlArchiveCheck CheckXmlArchiveNames(const std::string& bytes, const char* topName, size_t maxBytes,
                                     const std::initializer_list<std::string_view>* elementNames) {
    if (bytes.size() > maxBytes) return XmlArchiveCheck::Unsafe;
    if (std::memchr(bytes.data(), '\0', bytes.size()) != nullptr) return XmlArchiveCheck::Unsafe;
    if (!TagsAreBounded(bytes)) return XmlArchiveCheck::Unsafe;

    // Judged as the text the archives read, UTF-8 whatever the declaration
    // says: a declared encoding the reader would honour (or fail to know and
    // pass bytes through) could hide characters the archive then takes in.
    QXmlStreamReader reader(QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size())));
    const QString top = QString::fromLatin1(topName);
    int depth = 0;
    int topElements = 0;
    bool shaped = true;
    bool rootSeen = false;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            if (depth == 1) {
                if (rootSeen || reader.name() != QLatin1String("boost_serialization")) shaped = false;
                rootSeen = true;
            } else if (depth == 2) {
                if (++topElements > 1 || reader.name() != top) shaped = false;
            } else if (elementNames != nullptr && !IsListed(reader.name(), *elementNames)) {
                return XmlArchiveCheck::Unsafe;
            }
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::Characters:
            if (depth == 1 && !IsBlank(reader.text())) shaped = false;
            break;
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::ProcessingInstruction:
        case QXmlStreamReader::EntityReference:
            // The archive's grammar has no place for these inside the root.
            if (depth >= 1) shaped = false;
            break;
        default:
            break;
        }
    }
    if (reader.hasError()) {
        // A document cut short is what an interrupted save leaves: safe to
        // read as far as it goes. Any other fault is not given to boost.
        return reader.error() == QXmlStreamReader::PrematureEndOfDocumentError ? XmlArchiveCheck::Damaged
                                                                               : XmlArchiveCheck::Unsafe;
    }
    return shaped && rootSeen && topElements == 1 ? XmlArchiveCheck::Sound : XmlArchiveCheck::Damaged;
}

}  // namespace

XmlArchiveCheck CheckXmlArchive(const std::string& bytes, const char* topName, size_t maxBytes) {
    return CheckXmlArchiveNames(bytes, topName, maxBytes, nullptr);
}

XmlArchiveCheck CheckXmlArchive(const std::string& bytes, const char* topName, size_t maxBytes,
                                std::initializer_list<std::string_view> elementNames) {
    return CheckXmlArchiveNames(bytes, topName, maxBytes, &elementNames);
}

bool ReadXmlArchiveFile(const std::string& path, size_t maxBytes, std::string& bytes) {
    bytes.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<unsigned long long>(size) > maxBytes) return false;
    in.seekg(0, std::ios::beg);
    bytes.resize(static_cast<size_t>(size));
    if (size > 0 && !in.read(&bytes[0], size)) {
        bytes.clear();
        return false;
    }
    return true;
}

std::wstring XmlArchiveWideText(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size())).toStdWString();
}
