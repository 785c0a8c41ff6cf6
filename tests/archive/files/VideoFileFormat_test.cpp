#include "archive/files/VideoFileFormat.h"
#include "platform/File.h"
#include "support/ArchiveFileWriter.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::vector<ArchiveFrame> ThreeFrames()
{
    return MakeSyntheticFrames(3, 1700000000000, 200, 2, 16);
}

struct KeyCase {
    const char* name;
    std::function<std::vector<uint8_t>()> build;
    int expectedKey;
};

TEST(VideoFileFormatTest, ReaderKeyFromSizeAndTrailer)
{
    auto withOptions = [](ArchiveFileOptions o) { return [o] { return BuildArchiveFile(ThreeFrames(), o); }; };
    ArchiveFileOptions binary;
    binary.index = IndexForm::Binary;
    ArchiveFileOptions none;
    none.index = IndexForm::None;
    ArchiveFileOptions typeThree;
    typeThree.storedType = 3;
    ArchiveFileOptions typeSeven;
    typeSeven.storedType = 7;
    ArchiveFileOptions badCrc;
    badCrc.badChecksum = true;
    ArchiveFileOptions lengthBeyondFile;
    lengthBeyondFile.blobLength = 1 << 20;
    ArchiveFileOptions withId;
    withId.archiveId = 7;

    const KeyCase cases[] = {
        {"empty file", [] { return std::vector<uint8_t>{}; }, kReaderNull},
        {"3 bytes", [] { return std::vector<uint8_t>(3, 1); }, kReaderNull},
        {"4 bytes", [] { return std::vector<uint8_t>(4, 1); }, kReaderNull},
        {"5 bytes", [] { return std::vector<uint8_t>{1, 0, 0, 0, 0}; }, kReaderCached},
        {"10 bytes", [] { return std::vector<uint8_t>(10, 0); }, kReaderCached},
        {"20 bytes", [] { return std::vector<uint8_t>(20, 0xFA); }, kReaderCached},
        {"portable index", withOptions({}), kReaderIndexedPortable},
        {"portable index with id header", withOptions(withId), kReaderIndexedPortable},
        {"binary index", withOptions(binary), kReaderIndexedSimple},
        {"no index", withOptions(none), kReaderCached},
        {"stored type 3", withOptions(typeThree), kReaderNull},
        {"stored type 7", withOptions(typeSeven), kReaderNull},
        {"checksum off", withOptions(badCrc), kReaderCached},
        {"blob length beyond the file, checksum right", withOptions(lengthBeyondFile), kReaderCached},
        {"21 bytes: empty blob and trailer with L 0",
         [] {
             std::vector<uint8_t> f;
             const auto t = EncodeIndexTrailer(0, 2);
             f.assign(t.begin(), t.end());
             f.insert(f.end(), {1, 0, 0, 0, 0});
             return f;
         },
         kReaderIndexedPortable},
    };
    ArchiveTempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.File("case.__01");
        WriteBytes(path, c.build());
        EXPECT_EQ(detectVideoFileType(path), c.expectedKey) << c.name;
    }
    EXPECT_EQ(detectVideoFileType(dir.File("missing._01")), kReaderNull);
}

TEST(VideoFileFormatTest, EveryCheckedTrailerByteMatters)
{
    const std::vector<uint8_t> good = BuildArchiveFile(ThreeFrames());
    const size_t trailerStart = good.size() - 21;
    ArchiveTempDir dir;
    const std::string path = dir.File("f._01");
    for (size_t i = 0; i < 16; ++i) {
        std::vector<uint8_t> bad = good;
        bad[trailerStart + i] ^= (i == 4) ? 0x03 : 0x01; // byte 4: stored type 2 -> 1
        WriteBytes(path, bad);
        EXPECT_EQ(detectVideoFileType(path), kReaderCached) << "trailer byte " << i;
    }
}

TEST(VideoFileFormatTest, TrailerBytesRoundTrip)
{
    const IndexTrailer t = IndexTrailer::Make(1234, kStoredIndexPortable);
    const auto bytes = t.Bytes();
    const auto reference = EncodeIndexTrailer(1234, 2);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), std::vector<uint8_t>(reference.begin(), reference.end()));
    const IndexTrailer parsed = IndexTrailer::Parse(bytes.data());
    EXPECT_EQ(parsed.blobLength, 1234);
    EXPECT_EQ(parsed.storedType, 2);
    EXPECT_TRUE(parsed.IsValidFor(1234 + 21));
    EXPECT_FALSE(parsed.IsValidFor(1234 + 20));
}

TEST(VideoFileFormatTest, FrameCountAndCloseFlagValidity)
{
    const struct {
        uint64_t count;
        uint32_t flag;
        bool valid;
    } cases[] = {{0, 0, false}, {1, 0, true}, {1, 1, true}, {100000, 0, true}, {100001, 0, false}, {5, 2, false}, {5, 255, false}};
    for (const auto& c : cases)
        EXPECT_EQ(IsValidFileTrailer(c.count, c.flag), c.valid) << c.count << "/" << c.flag;
}

// The final data the recorder appends is byte for byte what the independent
// test writer produces for the same frames, with and without an id header.
TEST(VideoFileFormatTest, FinalDataMatchesTheReferenceWriter)
{
    for (bool idHeader : {false, true}) {
        ArchiveFileOptions o;
        if (idHeader)
            o.archiveId = 42;
        o.closeFlag = 1;
        std::vector<StoredEntry> entries;
        const auto reference = BuildArchiveFile(ThreeFrames(), o, &entries);

        // Everything before the index: header and frame records.
        ArchiveFileOptions none = o;
        none.index = IndexForm::None;
        auto records = BuildArchiveFile(ThreeFrames(), none);
        records.resize(records.size() - 5);

        platform::MemFile file(records);
        FramesIndex index;
        for (const auto& e : entries)
            index.push_back({e.time, e.offset, e.key});
        AppendVideoFileFinalData(file, 3, 1, index);
        const std::vector<uint8_t> written(file.Data(), file.Data() + file.Size());
        EXPECT_EQ(written, reference) << "id header " << idHeader;
    }
}

} // namespace
