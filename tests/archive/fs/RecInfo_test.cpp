// The description of exported media files: the document read back from the
// XML the archive library writes, its version gates, the Base64 transport and
// the decoder itself.

#include <sstream>

#include <boost/archive/xml_oarchive.hpp>
#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <gtest/gtest.h>

#include "archive/fs/RecInfo.h"

using VindaraFileSystem::AviCamData;
using VindaraFileSystem::AviFileData;
using VindaraFileSystem::ReadRecInfo;

namespace {

AviFileData SampleDocument() {
    AviFileData data;
    data.time_zone = "120";
    AviCamData cam;
    cam.id = "7";
    cam.name = "Tor S\xC3\xBC" "d";
    cam.video = {"video 1", "video 2"};
    cam.audio = {"audio 1"};
    TITLES::TitleSettings title;
    title.title_name = L"Kasse";
    title.title_id = "t1";
    cam.titles = {title};
    VindaraFileSystem::RecordItem record;
    record.streams = {"video 1", "audio 1"};
    record.start = "2022-03-05T14-30-00";
    record.end = "2022-03-05T14-45-00.500";
    cam.records = {record};
    cam.settings.lens = "A0**V";
    cam.settings.position = 2;
    cam.settings.display = 1;
    cam.settings.x = 0.25;
    cam.settings.w = 0.5;
    data.camera = {cam};
    return data;
}

std::string WriteXml(const AviFileData& data) {
    std::ostringstream out;
    {
        boost::archive::xml_oarchive archive(out);
        archive << boost::serialization::make_nvp("recinfo", data);
    }
    return out.str();
}

std::string Base64(const std::string& bytes) {
    std::string encoded;
    CryptoPP::StringSource(bytes, true, new CryptoPP::Base64Encoder(new CryptoPP::StringSink(encoded), true, 76));
    return encoded;
}

void ExpectSample(const AviFileData& got) {
    const AviFileData want = SampleDocument();
    EXPECT_EQ(got.time_zone, "120");
    ASSERT_EQ(got.camera.size(), 1u);
    const AviCamData& c = got.camera[0];
    EXPECT_EQ(c.id, "7");
    EXPECT_EQ(c.name, want.camera[0].name);
    EXPECT_EQ(c.video, want.camera[0].video);
    EXPECT_EQ(c.audio, want.camera[0].audio);
    EXPECT_TRUE(c.text.empty());
    ASSERT_EQ(c.titles.size(), 1u);
    EXPECT_EQ(c.titles[0].title_name, L"Kasse");
    ASSERT_EQ(c.records.size(), 1u);
    EXPECT_EQ(c.records[0].end, "2022-03-05T14-45-00.500");
    EXPECT_EQ(c.settings.lens, "A0**V");
    EXPECT_EQ(c.settings.position, 2);
    EXPECT_DOUBLE_EQ(c.settings.x, 0.25);
    EXPECT_DOUBLE_EQ(c.settings.w, 0.5);
}

TEST(RecInfoTest, ElementsInTheirOrder) {
    const std::string xml = WriteXml(SampleDocument());
    const char* order[] = {"<recinfo", "<time_zone>", "<camera", "<id>", "<name>", "<video", "<audio",
                           "<text", "<titles", "<records", "<settings", "<lens>", "<position>", "<display>",
                           "<x>", "<y>", "<w>", "<h>"};
    size_t at = 0;
    for (const char* element : order) {
        const size_t found = xml.find(element, at);
        ASSERT_NE(found, std::string::npos) << element << "\n" << xml;
        at = found;
    }
}

TEST(RecInfoTest, PlainAndBase64TextsReadTheSame) {
    const std::string xml = WriteXml(SampleDocument());
    AviFileData plain, coded;
    ASSERT_TRUE(ReadRecInfo(xml, plain));
    ExpectSample(plain);
    const std::string base64 = Base64(xml);
    ASSERT_NE(base64.find('\n'), std::string::npos);  // broken into lines
    ASSERT_TRUE(ReadRecInfo(base64, coded));
    ExpectSample(coded);
}

TEST(RecInfoTest, OlderVersionsLackTheirLaterElements) {
    std::string xml = WriteXml(SampleDocument());
    // The root and camera records stored as version 0: no time zone, no
    // settings.
    const auto replace = [&xml](const std::string& from, const std::string& to) {
        const size_t at = xml.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        xml.replace(at, from.size(), to);
    };
    replace("<recinfo class_id=\"0\" tracking_level=\"0\" version=\"1\">", "<recinfo class_id=\"0\" tracking_level=\"0\" version=\"0\">");
    const size_t tz = xml.find("<time_zone>");
    xml.erase(tz, xml.find("</time_zone>") + 12 - tz);
    const size_t item = xml.find("version=\"1\"", xml.find("<item class_id="));
    xml.replace(item, 11, "version=\"0\"");
    const size_t settings = xml.find("<settings");
    xml.erase(settings, xml.find("</settings>") + 11 - settings);

    AviFileData data;
    ASSERT_TRUE(ReadRecInfo(xml, data)) << xml;
    EXPECT_EQ(data.time_zone, "");
    ASSERT_EQ(data.camera.size(), 1u);
    EXPECT_EQ(data.camera[0].settings.lens, "");
    EXPECT_EQ(data.camera[0].records.size(), 1u);
}

TEST(RecInfoTest, TextsThatAreNoDescriptionAreIgnored) {
    AviFileData data;
    data.time_zone = "keep";
    const std::string xml = WriteXml(SampleDocument());
    const std::string cases[] = {
        "<?xml",                                     // five characters only
        "",                                          //
        xml.substr(0, xml.size() / 2),               // cut short
        Base64("not a document at all"),             //
        "<?xml version=\"1.0\"?><other/>",           //
    };
    for (const std::string& text : cases) {
        EXPECT_FALSE(ReadRecInfo(text, data)) << text;
        EXPECT_EQ(data.time_zone, "keep");
    }
}

TEST(RecInfoTest, HostileDocumentsAreRefusedBeforeTheArchiveReadsThem) {
    const std::string xml = WriteXml(SampleDocument());
    const auto with = [&xml](const std::string& from, const std::string& to) {
        std::string text = xml;
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    };
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        // Read past the expected name before; a segmentation fault.
        {"end tag of 100000 characters", with("</time_zone>", "</time_zone" + std::string(100000, 'e') + ">")},
        // Made the archive append without end before.
        {"NUL inside a text", with("<time_zone>120", std::string("<time_zone>1\0" "20", 15))},
        {"no closing root tag", xml.substr(0, xml.rfind("</boost_serialization>"))},
        {"an element after the document", with("</boost_serialization>", "<more/></boost_serialization>")},
        {"comment before the closing root tag", with("</boost_serialization>", "<!-- x --></boost_serialization>")},
        {"mismatched end tag", with("</time_zone>", "</time_zonf>")},
        // boost compared the end tag with "count" past that name's end.
        {"a longer element where count belongs",
         with("<count>1</count>", "<count" + std::string(40, 'x') + ">1</count" + std::string(40, 'x') + ">")},
        {"an element the description has no place for", with("<time_zone>", "<zone/><time_zone>")},
        {"far too long", with("<time_zone>120", "<time_zone>" + std::string(2u << 20, '1'))},
    };
    for (const auto& c : cases) {
        AviFileData data;
        data.time_zone = "keep";
        EXPECT_FALSE(ReadRecInfo(c.text, data)) << c.what;
        EXPECT_FALSE(ReadRecInfo(Base64(c.text), data)) << c.what;
        EXPECT_EQ(data.time_zone, "keep") << c.what;
    }
}

TEST(RecInfoTest, BytesOfAnotherCodePageStillRead) {
    // A description written where the code page is not UTF-8.
    AviFileData document = SampleDocument();
    document.camera[0].name = "Kamera \xC4u\xDF" "en";
    AviFileData data;
    ASSERT_TRUE(ReadRecInfo(WriteXml(document), data));
    EXPECT_EQ(data.camera[0].name, "Kamera \xC4u\xDF" "en");
}

TEST(Base64DecodeTest, SkipsWhatIsNotInTheAlphabet) {
    const std::string bytes("a\0b\xff", 4);
    EXPECT_EQ(Base64DecodeString("YQBi/w=="), bytes);
    EXPECT_EQ(Base64DecodeString(" YQ\r\nBi\n/w= ="), bytes);
    EXPECT_EQ(Base64DecodeString("YQBi/w"), bytes);  // no padding
    EXPECT_EQ(Base64DecodeString("YWJj"), "abc");
    EXPECT_EQ(Base64DecodeString("YWJjZ"), "abc");  // bits that fill no byte are dropped
    EXPECT_EQ(Base64DecodeString("!!!"), "");
    EXPECT_EQ(Base64DecodeString(""), "");
}

}  // namespace
