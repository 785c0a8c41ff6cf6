// The checks a document passes before a boost XML archive reads it.
#include "archive/files/XmlArchiveCheck.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<!DOCTYPE boost_serialization>\n"
    "<boost_serialization signature=\"serialization::archive\" version=\"18\">\n";

TEST(XmlArchiveCheckTest, SoundDamagedAndUnsafeDocuments) {
    const std::string body = "<info class_id=\"0\" tracking_level=\"0\" version=\"0\"><a>1</a></info>\n";
    const std::string sound = kHead + body + "</boost_serialization>\n";
    const struct {
        const char* what;
        std::string text;
        XmlArchiveCheck expected;
    } cases[] = {
        {"as boost writes it", sound, XmlArchiveCheck::Sound},
        {"cut before the closing root tag", kHead + body, XmlArchiveCheck::Damaged},
        {"cut inside the element", sound.substr(0, sound.find("</a>")), XmlArchiveCheck::Damaged},
        {"another top element", kHead + "<other/>\n</boost_serialization>", XmlArchiveCheck::Damaged},
        {"two top elements", kHead + body + body + "</boost_serialization>", XmlArchiveCheck::Damaged},
        {"text after the element", kHead + body + "x</boost_serialization>", XmlArchiveCheck::Damaged},
        {"comment after the element", kHead + body + "<!--c--></boost_serialization>", XmlArchiveCheck::Damaged},
        {"another root", "<root>" + body + "</root>", XmlArchiveCheck::Damaged},
        {"NUL byte", kHead + "<info><a>1" + std::string(1, '\0') + "</a></info></boost_serialization>",
         XmlArchiveCheck::Unsafe},
        {"end tag of 2000 characters",
         kHead + "<info><a>1</a" + std::string(2000, 'a') + "></info></boost_serialization>", XmlArchiveCheck::Unsafe},
        {"cut inside a long tag", kHead + "<info><a" + std::string(2000, 'a'), XmlArchiveCheck::Unsafe},
        {"mismatched end tag", kHead + "<info><a>1</b></info></boost_serialization>", XmlArchiveCheck::Unsafe},
        {"character reference to zero", kHead + "<info><a>&#0;</a></info></boost_serialization>",
         XmlArchiveCheck::Unsafe},
        {"not XML", "hello", XmlArchiveCheck::Unsafe},
        // The archives read UTF-8 whatever the declaration says.
        {"control byte under a UTF-7 declaration",
         "<?xml version=\"1.0\" encoding=\"UTF-7\"?><boost_serialization><info><a>x\x01y</a></info>"
         "</boost_serialization>",
         XmlArchiveCheck::Unsafe},
        {"UTF-7 text under a UTF-7 declaration is read as it stands",
         "<?xml version=\"1.0\" encoding=\"UTF-7\"?><boost_serialization><info><a>+AAE-</a></info>"
         "</boost_serialization>",
         XmlArchiveCheck::Sound},
    };
    for (const auto& c : cases) EXPECT_EQ(CheckXmlArchive(c.text, "info", 1 << 20), c.expected) << c.what;
    EXPECT_EQ(CheckXmlArchive(sound, "info", sound.size()), XmlArchiveCheck::Sound);

    // With the names the document may hold, any other name inside the top
    // element is unsafe: the archive then reads without comparing names.
    const struct {
        const char* what;
        std::string text;
        XmlArchiveCheck expected;
    } named[] = {
        {"listed names", sound, XmlArchiveCheck::Sound},
        {"longer name", kHead + "<info><ab>1</ab></info></boost_serialization>", XmlArchiveCheck::Unsafe},
        {"unlisted name deeper", kHead + "<info><a><c/></a></info></boost_serialization>", XmlArchiveCheck::Unsafe},
        {"listed, cut short", kHead + "<info><a>1</a>", XmlArchiveCheck::Damaged},
        {"unlisted, cut short", kHead + "<info><b>1", XmlArchiveCheck::Unsafe},
    };
    for (const auto& c : named) EXPECT_EQ(CheckXmlArchive(c.text, "info", 1 << 20, {"a"}), c.expected) << c.what;
    EXPECT_EQ(CheckXmlArchive(sound, "info", sound.size() - 1), XmlArchiveCheck::Unsafe);
}

}  // namespace
