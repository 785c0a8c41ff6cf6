// Writes the seed corpora of the fuzz targets into the folder named on the
// command line (tests/fuzz/corpus), from the project's own writers: small
// sound files of every format, a few bytes each.
//
//   fuzz_make_seeds tests/fuzz/corpus
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <boost/archive/xml_oarchive.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "archive/files/ArchiveSettings.h"
#include "archive/files/FastIndex.h"
#include "archive/files/Titles.h"
#include "archive/fs/RecInfo.h"
#include "base/AudioFrame.h"
#include "base/ClassRegistry.h"
#include "base/Messages.h"
#include "base/VideoFrame.h"
#include "platform/Archive.h"
#include "platform/File.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"

namespace fs = std::filesystem;

namespace {

std::string g_root;

void Put(const std::string& target, const std::string& name, const std::string& bytes) {
    fs::create_directories(g_root + "/" + target);
    std::ofstream(g_root + "/" + target + "/" + name, std::ios::binary | std::ios::trunc) << bytes;
}
void Put(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
    Put(target, name, std::string(bytes.begin(), bytes.end()));
}
std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

template <class Object>
std::string ObjectForm(Object& object) {
    platform::MemFile file;
    platform::Archive ar(file, platform::Archive::store);
    object.Serialize(ar);
    return std::string(reinterpret_cast<const char*>(file.Data()), file.Size());
}

constexpr int64_t kStart = 1709632800000;  // 2024-03-05 10:00 UTC

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    g_root = argv[1];
    const std::string scratch = fs::temp_directory_path() / "gavex_fuzz_seeds";
    fs::create_directories(scratch);

    // Archive files: each index form, none, a damaged trailer.
    using testsupport::IndexForm;
    const auto frames = testsupport::MakeSyntheticFrames(6, kStart, 100, 3, 12);
    for (const auto& [name, form] : {std::pair{"portable", IndexForm::Portable}, std::pair{"binary", IndexForm::Binary},
                                     std::pair{"none", IndexForm::None}}) {
        testsupport::ArchiveFileOptions options;
        options.index = form;
        Put("ArchiveFile", name, testsupport::BuildArchiveFile(frames, options));
    }
    testsupport::ArchiveFileOptions withId;
    withId.archiveId = 7;
    withId.badChecksum = true;
    Put("ArchiveFile", "id_badcrc", testsupport::BuildArchiveFile(frames, withId));

    // Index blobs of both forms.
    std::vector<testsupport::StoredEntry> entries;
    for (int i = 0; i < 4; ++i) entries.push_back({uint64_t(kStart + i * 100), uint64_t(8 + i * 40), i == 0});
    Put("IndexBlob", "portable", testsupport::EncodePortableIndexBlob(entries));
    Put("IndexBlob", "binary", testsupport::EncodeBinaryIndexBlob(entries));

    // Record index files of each version.
    const std::vector<testsupport::IdxRecord> records = {
        {uint32_t(kStart / 1000), uint32_t(kStart / 1000 + 60), 0x10, 0, 250, 999, 5},
        {uint32_t(kStart / 1000 + 100), uint32_t(kStart / 1000 + 160), 0x11, 0, 0, 0, 6}};
    for (const uint32_t version : {0xAB01u, 0xAB00u, 0xAAFFu})
        Put("IdxFile", "v" + std::to_string(version & 0xFF), testsupport::EncodeIdxFile(version, records));

    // Fast index.
    {
        std::vector<uint8_t> bytes = BuildFastIndexHeader(uint64_t(kStart));
        for (int i = 0; i < 3; ++i) AppendFastIndexEntryBytes(bytes, {0, 1 + i, int32_t(kStart / 3600000) + i});
        Put("FastIndex", "three_hours", bytes);
    }

    // Settings.xml.
    {
        Settings settings;
        settings.GetChannel(2).name = L"Hof";
        TITLES::TitleSettings title;
        title.title_name = L"Kasse";
        settings.GetChannel(5).titles.push_back(title);
        settings.Save(scratch + "/Settings.xml");
        Put("SettingsXml", "two_channels", ReadAll(scratch + "/Settings.xml"));
    }

    // Titles file.
    {
        using VindaraFileSystem::ChannelTitles;
        ChannelTitles titles(7);
        const auto at = [](const char* text) { return boost::posix_time::from_iso_string(text); };
        titles.AddText(L"A", at("20240305T100000"), L"first");
        titles.AddText(L"B", at("20240305T100100"), L"second <&>");
        SaveTitlesFile(titles, scratch + "/t.t07", at("20240305T090000"), at("20240305T110000"));
        Put("TitlesFile", "two_streams", ReadAll(scratch + "/t.t07"));
    }

    // Description of an exported file.
    {
        VindaraFileSystem::AviFileData data;
        data.time_zone = "120";
        VindaraFileSystem::AviCamData camera;
        camera.id = "7";
        camera.name = "Tor";
        camera.video = {"video 1"};
        VindaraFileSystem::RecordItem record;
        record.streams = {"video 1"};
        record.start = "2024-03-05T10-00-00";
        record.end = "2024-03-05T10-05-00.500";
        camera.records = {record};
        data.camera = {camera};
        std::ostringstream out;
        {
            boost::archive::xml_oarchive archive(out);
            archive << boost::serialization::make_nvp("recinfo", data);
        }
        Put("RecInfo", "one_camera", out.str());
    }

    // Frames and messages in their object forms, and an archive frame record.
    {
        VideoFrame frame("cam", 3);
        frame.AllocData(5);
        std::memcpy(frame.m_pData, "ABCDE", 5);
        frame.m_cbData = 5;
        Put("FrameRecord", "video_frame", ObjectForm(frame));
        AudioFrame audio;
        Put("FrameRecord", "audio_frame", ObjectForm(audio));
        Put("FrameRecord", "archive_record", testsupport::EncodeFrameRecord(frames[1]));

        Msg message;
        message.SetType("CORE");
        message.SetId("7");
        message.SetAction("START");
        message.SetParam("time", "05-03-24 10:00:00");
        message.SetParam("AUDIO.mic_id.count", "1");
        Put("Messages", "message", ObjectForm(message));
        Put("Messages", "params", message.FormatParams());
        Msg::SetCompression(true);
        Put("Messages", "message_zip", ObjectForm(message));
        Msg::SetCompression(false);
        RegisterNetObjectClasses();
        platform::MemFile file;
        platform::Archive ar(file, platform::Archive::store);
        {
            ObjectArchive objects(ar);
            objects.WriteObject(&message);
            objects.WriteObject(&message);
        }
        Put("Messages", "object_twice", std::string(reinterpret_cast<const char*>(file.Data()), file.Size()));
    }

    // Settings store file.
    Put("RegistryStore", "keys",
        "; settings\n[SOFTWARE\\QOR\\Vindara\\Video]\n\"MaxFrames\"=\"500\"\n\"Level\"=dword:00000003\n"
        "\"Blob\"=hex:01,ff,20\n@=\"unnamed \\\"q\\\"\"\n");

    // product.config in the forms the reader meets.
    Put("CantorelReader", "utf8",
        "<?xml version=\"1.0\"?>\n<cantorel>\n\t<add key=\"Culture\" value=\"de-DE\"/>\n</cantorel>\n");
    {
        const std::string text =
            "<?xml version=\"1.0\" encoding=\"utf-16\"?>\n<cantorel>\n\t<add key=\"a\" value=\"&amp;&#x41;\"/>\n\t<!-- "
            "c -->\n</cantorel>\n";
        std::string utf16("\xFF\xFE", 2);
        for (char c : text) utf16 += std::string{c, '\0'};
        Put("CantorelReader", "utf16", utf16);
    }

    // Decompressor: frames of a few tags separated by "FRAM".
    Put("Decompressor", "h264_and_jpeg",
        std::string("\x07\x03", 2) + std::string("\x00\x00\x00\x01\x67\x42\x00\x1e", 8) + "FRAM" +
            std::string("\x00\x00", 2) + std::string("\xFF\xD8\xFF\xE0", 4) + "FRAM" + std::string("\x0F\x08", 2) +
            "x");

    fs::remove_all(scratch);
    return 0;
}
