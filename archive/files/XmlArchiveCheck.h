// Checks on a document that a boost XML archive is about to read.
//
// boost's XML input archive is not safe on hostile text: an end tag longer
// than the name it expects reads past that name, a NUL byte inside a text
// makes it append without end, and a document whose elements all read but
// whose closing root tag is missing throws from the archive's destructor
// (ending the process). Every document this process did not write itself is
// checked here first.
//
//   XmlArchiveCheck check = CheckXmlArchive(bytes, "info", kMaxSettingsBytes, {"id", ...});
//   if (check == XmlArchiveCheck::Unsafe) fail;             // never read it
//   { archive(stream, kXmlArchiveFlags); archive >> item;   // may throw
//     if (check == XmlArchiveCheck::Damaged) throw ...; }   // while it lives
//
// Throwing while the archive is still alive makes its destructor skip the
// closing-tag check, so a damaged document keeps what was read before its
// fault and is reported as a failure.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include <boost/archive/basic_archive.hpp>

enum class XmlArchiveCheck {
    Sound,    // well formed: one root "boost_serialization" whose only child
              // is the expected element, nothing but blanks after it
    Damaged,  // safe to read, but cut short or not shaped as expected: what
              // reads before the fault may be kept, the whole is a failure
    Unsafe,   // must not reach the archive at all
};

// `bytes` is the document as stored (UTF-8). `topName` is the name of the
// one element inside the root. `maxBytes` bounds the whole document.
XmlArchiveCheck CheckXmlArchive(const std::string& bytes, const char* topName, size_t maxBytes);

// As above, and Unsafe when an element inside the top one has a name that is
// not in `elementNames`. boost compares an end tag with the name it expects
// by reading as many characters of the expected name as the tag has, past
// that name's end when the tag is longer; a reader of a checked document
// therefore opens its archive with kXmlArchiveFlags, which turns that
// comparison off, and this list stands in for it.
XmlArchiveCheck CheckXmlArchive(const std::string& bytes, const char* topName, size_t maxBytes,
                                std::initializer_list<std::string_view> elementNames);

// The flags of an archive reading a document checked against its names.
inline constexpr unsigned kXmlArchiveFlags = boost::archive::no_xml_tag_checking;

// Reads a whole file into `bytes`; false when it cannot be opened or read, or
// when it is larger than `maxBytes` (then `bytes` is left empty).
bool ReadXmlArchiveFile(const std::string& path, size_t maxBytes, std::string& bytes);

// The document decoded for a wide archive reading from a string stream.
std::wstring XmlArchiveWideText(const std::string& bytes);
