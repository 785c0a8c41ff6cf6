#include "ReadersTestSupport.h"

#include "archive/files/FramesReaderCached.h"
#include "archive/files/FramesReaderIndexed.h"
#include "archive/files/NullFramesReader.h"
#include "archive/files/VideoFileFormat.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

using namespace testsupport;
using namespace readers_test;

namespace {

struct OpenCase {
    const char* name;
    std::function<std::vector<uint8_t>()> build;
    bool opens;
    int heldType;       // reader held afterwards
    uint64_t frameCount; // when it opens
};

std::vector<uint8_t> Build(ArchiveFileOptions o, size_t frames = 30)
{
    return BuildArchiveFile(SampleFrames(frames), o);
}

ArchiveFileOptions Index(IndexForm form)
{
    ArchiveFileOptions o;
    o.index = form;
    return o;
}

// The first 20 entries only, re-encoded in the file's portable blob.
std::vector<uint8_t> PortableWithShortIndex()
{
    std::vector<StoredEntry> entries;
    BuildArchiveFile(SampleFrames(), {}, &entries);
    entries.resize(20);
    ArchiveFileOptions o;
    o.editBlob = [entries](std::vector<uint8_t>& blob) { blob = EncodePortableIndexBlob(entries); };
    return Build(o);
}

TEST(ReadersOpenTest, ReaderChoiceAndOpeningChecks)
{
    auto with = [](std::function<void(ArchiveFileOptions&)> edit, IndexForm form = IndexForm::Portable) {
        return [edit, form] {
            ArchiveFileOptions o = Index(form);
            edit(o);
            return Build(o);
        };
    };
    const OpenCase cases[] = {
        {"portable index", with([](auto&) {}), true, 3, 30},
        {"binary index", with([](auto&) {}, IndexForm::Binary), true, 2, 30},
        {"no index", with([](auto&) {}, IndexForm::None), true, 1, 30},
        {"checksum off: scanned", with([](auto& o) { o.badChecksum = true; }), true, 1, 30},
        {"stored type 2 read as 1 without a new checksum", with([](auto& o) { o.storedType = 1; o.badChecksum = true; }),
         true, 1, 30},
        {"blob length beyond the file", with([](auto& o) { o.blobLength = 1 << 22; }), true, 1, 30},
        {"stored type 3", with([](auto& o) { o.storedType = 3; }), false, 0, 0},
        {"3-byte file", [] { return std::vector<uint8_t>(3, 0); }, false, 0, 0},
        {"10 bytes, valid count and flag", [] { return std::vector<uint8_t>{9, 9, 9, 9, 9, 1, 0, 0, 0, 0}; }, true, 1, 1},
        {"10 bytes, count 0", [] { return std::vector<uint8_t>(10, 0); }, false, 1, 0},
        {"frame count 0", with([](auto& o) { o.frameCount = 0; }), false, 1, 0},
        {"frame count 100001", with([](auto& o) { o.frameCount = 100001; }), false, 1, 0},
        {"frame count 100000", with([](auto& o) { o.frameCount = 100000; }), true, 3, 30},
        {"close flag 1", with([](auto& o) { o.closeFlag = 1; }), true, 3, 30},
        {"close flag 2", with([](auto& o) { o.closeFlag = 2; }), false, 1, 0},
        {"close flag 2 without index", with([](auto& o) { o.closeFlag = 2; }, IndexForm::None), false, 1, 0},
        {"trailer count below the entries", with([](auto& o) { o.frameCount = 10; }), true, 3, 10},
        {"binary, trailer count below the entries", with([](auto& o) { o.frameCount = 10; }, IndexForm::Binary), true, 2,
         10},
        {"entries below the trailer count", PortableWithShortIndex, true, 3, 20},
    };
    ArchiveTempDir dir;
    const std::string path = dir.File("1A._01");
    for (const auto& c : cases) {
        WriteBytes(path, c.build());
        DynamicFramesReader reader(false);
        EXPECT_EQ(reader.Open(path, 0), c.opens) << c.name;
        EXPECT_EQ(HeldReaderType(reader), c.heldType) << c.name;
        EXPECT_EQ(reader.GetReaderType(), 0) << c.name;
        EXPECT_EQ(reader.IsReady(), c.opens) << c.name;
        if (c.opens) {
            EXPECT_EQ(reader.GetFrameCount(), c.frameCount) << c.name;
        }
    }
}

TEST(ReadersOpenTest, DamagedIndexBlobsFallBackToScanning)
{
    const struct {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> edit;
    } cases[] = {
        {"signature", [](auto& b) { b[2] = 'X'; }},
        {"signature length", [](auto& b) { b[1] = 0x40; }},
        {"library version 10", [](auto& b) { b[25] = 0x0A; }},
        {"entry count beyond the bytes", [](auto& b) { b[30] = 0x7F; }},
        {"entry count of 2^60", [](auto& b) {
             // count 01 1E -> 08 00..00 10
             std::vector<uint8_t> huge = {0x08, 0, 0, 0, 0, 0, 0, 0, 0x10};
             b.erase(b.begin() + 29, b.begin() + 31);
             b.insert(b.begin() + 29, huge.begin(), huge.end());
         }},
        {"oversized first time", [](auto& b) { b[34] = 0x09; }},
        {"empty list", [](auto& b) { b = EncodePortableIndexBlob({}); }},
    };
    const auto frames = SampleFrames();
    ArchiveTempDir dir;
    const std::string path = dir.File("2B._01");
    for (const auto& c : cases) {
        ArchiveFileOptions o;
        o.editBlob = c.edit;
        WriteBytes(path, BuildArchiveFile(frames, o));
        ASSERT_EQ(detectVideoFileType(path), kReaderIndexedPortable) << c.name;
        DynamicFramesReader reader(false);
        ASSERT_TRUE(reader.Open(path, 0)) << c.name;
        EXPECT_EQ(HeldReaderType(reader), 1) << c.name;
        ASSERT_EQ(reader.GetFrameCount(), frames.size()) << c.name;
        auto frame = NewFrame();
        for (uint64_t n : {uint64_t(29), uint64_t(0), uint64_t(15)}) {
            EXPECT_EQ(reader.ReadFrame(*frame, n, false, true, 1.0, false), int64_t(n)) << c.name;
            EXPECT_TRUE(SameFrame(*frame, frames[n])) << c.name << " frame " << n;
        }
    }
}

TEST(ReadersOpenTest, ReaderObjectIsKeptForFilesOfTheSameKindAndUnknownFilesChangeNothing)
{
    ArchiveTempDir dir;
    WriteBytes(dir.File("a._01"), Build({}));
    WriteBytes(dir.File("b._01"), Build({}, 12));
    ArchiveFileOptions typeSeven;
    typeSeven.storedType = 7;
    WriteBytes(dir.File("c._01"), Build(typeSeven));
    WriteBytes(dir.File("d._01"), Build(Index(IndexForm::None)));

    DynamicFramesReader reader(false);
    ASSERT_TRUE(reader.Open(dir.File("a._01"), 0));
    const IFramesReader* first = reader.GetCurrentReader().get();
    ASSERT_TRUE(reader.Open(dir.File("b._01"), 0));
    EXPECT_EQ(reader.GetCurrentReader().get(), first);
    EXPECT_EQ(reader.GetFrameCount(), 12u);

    EXPECT_FALSE(reader.Open(dir.File("c._01"), 0));
    EXPECT_EQ(reader.GetCurrentReader().get(), first);
    EXPECT_TRUE(reader.IsReady());
    EXPECT_EQ(reader.GetFilePath(), dir.File("b._01"));
    EXPECT_EQ(reader.GetFileName(), "b._01");

    ASSERT_TRUE(reader.Open(dir.File("d._01"), 0));
    EXPECT_EQ(HeldReaderType(reader), 1);
    EXPECT_FALSE(reader.Open(dir.File("missing._01"), 0));
    EXPECT_TRUE(reader.IsReady());
}

TEST(ReadersOpenTest, ArchiveIdHeaderMovesTheDataStart)
{
    const auto frames = SampleFrames(5);
    ArchiveTempDir dir;
    const std::string path = dir.File("3C._02");
    const struct {
        IndexForm form;
        std::optional<int32_t> id;
        int32_t wanted;
        uint8_t match;
    } cases[] = {
        {IndexForm::Portable, 7, 7, kHeaderIdMatch},  {IndexForm::Portable, 7, 8, kHeaderIdDiffers},
        {IndexForm::Portable, 7, 0, kHeaderIdMatch},  {IndexForm::Portable, std::nullopt, 7, kHeaderIdNone},
        {IndexForm::None, -1, -1, kHeaderIdMatch},    {IndexForm::None, 7, -1, kHeaderIdDiffers},
        {IndexForm::Binary, 7, 7, kHeaderIdMatch},
    };
    for (const auto& c : cases) {
        ArchiveFileOptions o = Index(c.form);
        o.archiveId = c.id;
        std::vector<StoredEntry> entries;
        WriteBytes(path, BuildArchiveFile(frames, o, &entries));
        EXPECT_EQ(entries[0].offset, c.id ? 8u : 0u);
        DynamicFramesReader reader(false);
        ASSERT_TRUE(reader.Open(path, c.wanted));
        EXPECT_EQ(reader.GetHeaderIdMatch(), c.match);
        auto frame = NewFrame();
        for (uint64_t n = 0; n < frames.size(); ++n) {
            ASSERT_EQ(reader.ReadFrame(*frame, n, false, true, 1.0, false), int64_t(n));
            EXPECT_TRUE(SameFrame(*frame, frames[n])) << n;
        }
        reader.Close();
        EXPECT_EQ(reader.GetHeaderIdMatch(), 0);
        EXPECT_EQ(reader.GetFilePosition(), -1);
    }
}

// Every reader kind reads the same frames by number (forwards, backwards,
// with and without data) and by exact time.
TEST(ReadersReadTest, AllReaderKindsReadTheSameFrames)
{
    const auto frames = SampleFrames();
    ArchiveTempDir dir;
    const struct {
        const char* name;
        IndexForm form;
        bool idHeader;
        int type;
    } cases[] = {
        {"portable", IndexForm::Portable, false, 3},
        {"portable with id header", IndexForm::Portable, true, 3},
        {"binary", IndexForm::Binary, false, 2},
        {"scanning", IndexForm::None, false, 1},
        {"scanning with id header", IndexForm::None, true, 1},
    };
    for (const auto& c : cases) {
        const std::string path = dir.File(std::string(c.name) + "._01");
        ArchiveFileOptions o = Index(c.form);
        if (c.idHeader)
            o.archiveId = 99;
        WriteBytes(path, BuildArchiveFile(frames, o));

        // Forwards then backwards, with data.
        DynamicFramesReader reader(false);
        ASSERT_TRUE(reader.Open(path, 0)) << c.name;
        ASSERT_EQ(HeldReaderType(reader), c.type) << c.name;
        auto frame = NewFrame();
        for (uint64_t n = 0; n < frames.size(); ++n) {
            ASSERT_EQ(reader.ReadFrame(*frame, n, false, true, 1.0, false), int64_t(n)) << c.name;
            EXPECT_TRUE(SameFrame(*frame, frames[n])) << c.name << " forward " << n;
            EXPECT_EQ(reader.GetFrameTime(n), LocalTss(frames[n].unixMs)) << c.name;
        }
        for (uint64_t n = frames.size(); n-- > 0;) {
            ASSERT_EQ(reader.ReadFrame(*frame, n, false, true, 1.0, true), int64_t(n)) << c.name;
            EXPECT_TRUE(SameFrame(*frame, frames[n])) << c.name << " backward " << n;
        }

        // A fresh reader: by time, out of order, first without data.
        DynamicFramesReader byTime(false);
        ASSERT_TRUE(byTime.Open(path, 0));
        for (uint64_t n : {uint64_t(17), uint64_t(3), uint64_t(29), uint64_t(0), uint64_t(18)}) {
            auto f = NewFrame();
            EXPECT_EQ(byTime.ReadFrameAtTime(*f, LocalTss(frames[n].unixMs), false, false), int64_t(n)) << c.name;
            EXPECT_EQ(f->m_tssTime, LocalTss(frames[n].unixMs)) << c.name;
            EXPECT_EQ(byTime.ReadFrameAtTime(*f, LocalTss(frames[n].unixMs), false, true), int64_t(n)) << c.name;
            EXPECT_TRUE(SameFrame(*f, frames[n])) << c.name << " at time of " << n;
        }
        // Beyond the last frame a number reads the last frame.
        EXPECT_EQ(byTime.ReadFrame(*frame, 500, false, true, 1.0, false), 29) << c.name;
        EXPECT_TRUE(SameFrame(*frame, frames[29])) << c.name;
        // Before the first frame.
        EXPECT_EQ(byTime.ReadFrameAtTime(*frame, LocalTss(kStartMs - 60000), false, true), 0) << c.name;
        EXPECT_TRUE(SameFrame(*frame, frames[0])) << c.name;
    }
}

TEST(ReadersReadTest, TimeBetweenAndAfterFrames)
{
    const auto frames = SampleFrames();
    ArchiveTempDir dir;
    const std::string indexed = dir.File("i._01");
    const std::string scanned = dir.File("s._01");
    WriteBytes(indexed, BuildArchiveFile(frames));
    WriteBytes(scanned, BuildArchiveFile(frames, Index(IndexForm::None)));
    const TSS between = LocalTss(frames[10].unixMs + kStepMs / 2);
    const TSS after = LocalTss(frames.back().unixMs + 5000);
    auto frame = NewFrame();

    // The index answers the first frame at or after the time, and the last
    // frame for a time after it.
    DynamicFramesReader a(false);
    ASSERT_TRUE(a.Open(indexed, 0));
    EXPECT_EQ(a.ReadFrameAtTime(*frame, between, false, true), 11);
    EXPECT_EQ(a.ReadFrameAtTime(*frame, after, false, true), 29);
    EXPECT_TRUE(SameFrame(*frame, frames[29]));

    // The scan answers the frame in effect at the time (the earlier one),
    // whether the frames are cached yet or not, and the frame count past
    // the end.
    for (bool warm : {false, true}) {
        DynamicFramesReader b(false);
        ASSERT_TRUE(b.Open(scanned, 0));
        if (warm) {
            EXPECT_EQ(b.ReadFrame(*frame, 29, false, false, 1.0, false), 29);
        }
        EXPECT_EQ(b.ReadFrameAtTime(*frame, between, false, true), 10) << warm;
        EXPECT_TRUE(SameFrame(*frame, frames[10]));
        EXPECT_EQ(b.ReadFrameAtTime(*frame, after, false, false), 30) << warm;
    }
}

TEST(ReadersReadTest, KeyFrameSearch)
{
    const auto frames = SampleFrames(30, 10);
    ArchiveTempDir dir;
    const std::string indexed = dir.File("k._01");
    const std::string scanned = dir.File("ks._01");
    WriteBytes(indexed, BuildArchiveFile(frames));
    WriteBytes(scanned, BuildArchiveFile(frames, Index(IndexForm::None)));
    auto frame = NewFrame();

    DynamicFramesReader a(false);
    ASSERT_TRUE(a.Open(indexed, 0));
    // The scanning reader only searches key frames when it caches them.
    DynamicFramesReader b(true);
    ASSERT_TRUE(b.Open(scanned, 0));
    for (auto* reader : {&a, &b}) {
        EXPECT_EQ(reader->ReadFrame(*frame, 17, true, true, 1.0, false), 10);
        EXPECT_TRUE(SameFrame(*frame, frames[10]));
        EXPECT_EQ(reader->ReadFrame(*frame, 20, true, true, 1.0, false), 20);
        EXPECT_EQ(reader->ReadFrame(*frame, 9, true, true, 1.0, false), 0);
        EXPECT_EQ(reader->ReadFrameAtTime(*frame, LocalTss(frames[25].unixMs), true, true), 20);
        EXPECT_TRUE(SameFrame(*frame, frames[20]));
    }

    // No key frame at or before the wanted one: frame 0 is read all the same.
    auto noKeys = SampleFrames(5, 0);
    for (auto& f : noKeys)
        f.key = false;
    WriteBytes(indexed, BuildArchiveFile(noKeys));
    ASSERT_TRUE(a.Open(indexed, 0));
    EXPECT_EQ(a.ReadFrame(*frame, 3, true, true, 1.0, false), 0);
    EXPECT_TRUE(SameFrame(*frame, noKeys[0]));
}

// A file cut inside a record: the frames before the damage read, the rest
// fail and nothing is invented.
TEST(ReadersReadTest, TruncatedFileYieldsTheFramesBeforeTheDamage)
{
    const auto frames = SampleFrames(10);
    std::vector<StoredEntry> entries;
    auto whole = BuildArchiveFile(frames, {}, &entries);
    const struct {
        const char* name;
        size_t cutAt; // bytes kept before the count and flag are appended
    } cases[] = {
        {"cut inside the data of frame 7", static_cast<size_t>(entries[7].offset + 60)},
        {"cut inside the header of frame 7", static_cast<size_t>(entries[7].offset + 10)},
        {"cut right after the size field of frame 7", static_cast<size_t>(entries[7].offset + 52)},
    };
    ArchiveTempDir dir;
    const std::string path = dir.File("t._01");
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes(whole.begin(), whole.begin() + static_cast<long>(c.cutAt));
        bytes.insert(bytes.end(), {10, 0, 0, 0, 0}); // the count still says 10
        WriteBytes(path, bytes);
        for (bool cachePFrames : {false, true}) {
            DynamicFramesReader reader(cachePFrames);
            ASSERT_TRUE(reader.Open(path, 0)) << c.name;
            ASSERT_EQ(HeldReaderType(reader), 1) << c.name;
            auto frame = NewFrame();
            // Straight to frame 8: the scan stops at frame 7.
            EXPECT_EQ(reader.ReadFrame(*frame, 8, false, true, 1.0, false), -1) << c.name;
            EXPECT_EQ(frame->m_pData, nullptr) << c.name;
            EXPECT_EQ(reader.ReadFrame(*frame, 7, false, true, 1.0, false), -1) << c.name;
            for (uint64_t n = 7; n-- > 0;) {
                ASSERT_EQ(reader.ReadFrame(*frame, n, false, true, 1.0, false), int64_t(n)) << c.name;
                EXPECT_TRUE(SameFrame(*frame, frames[n])) << c.name << " " << n;
            }
            EXPECT_EQ(reader.ReadFrameAtTime(*frame, LocalTss(frames[9].unixMs), false, true), 10) << c.name;
            const auto whole = reader.GetRecordInterval(TSS{}, false);
            EXPECT_EQ(whole.begin, LocalTss(frames[0].unixMs)) << c.name;
            EXPECT_EQ(whole.end, LocalTss(frames[6].unixMs)) << c.name;
            const auto* cached = dynamic_cast<const FramesReaderCached*>(reader.GetCurrentReader().get());
            ASSERT_NE(cached, nullptr);
            EXPECT_EQ(cached->CachedFrameCount(), 7u) << c.name;
        }
    }
}

TEST(ReadersReadTest, DamagedRecordBehindAnIndexIsAFailedRead)
{
    const auto frames = SampleFrames(6);
    std::vector<StoredEntry> entries;
    auto bytes = BuildArchiveFile(frames, {}, &entries);
    bytes[entries[3].offset] = 5; // record header 5
    // Data size far beyond the file.
    bytes[entries[4].offset + 48 + 3] = 0x7F;
    ArchiveTempDir dir;
    const std::string path = dir.File("d._01");
    WriteBytes(path, bytes);
    DynamicFramesReader reader(false);
    ASSERT_TRUE(reader.Open(path, 0));
    ASSERT_EQ(HeldReaderType(reader), 3);
    auto frame = NewFrame();
    EXPECT_EQ(reader.ReadFrame(*frame, 3, false, true, 1.0, false), -1);
    EXPECT_EQ(frame->m_pData, nullptr);
    EXPECT_EQ(reader.ReadFrame(*frame, 4, false, false, 1.0, false), -1);
    EXPECT_EQ(reader.ReadFrame(*frame, 5, false, true, 1.0, false), 5);
    EXPECT_TRUE(SameFrame(*frame, frames[5]));
}

TEST(ReadersReadTest, NullReaderReadsNothing)
{
    NullFramesReader reader;
    auto frame = NewFrame();
    EXPECT_FALSE(reader.Open("/nonexistent._01", 0));
    EXPECT_FALSE(reader.IsReady());
    EXPECT_EQ(reader.ReadFrame(*frame, 0, false, true, 1.0, false), 0);
    EXPECT_EQ(reader.ReadFrameAtTime(*frame, LocalTss(kStartMs), false, true), 0);
    EXPECT_EQ(reader.GetFrameTime(3), TSS{});
    EXPECT_EQ(reader.GetRecordInterval(TSS{}, false).begin, TSS{});
    EXPECT_EQ(reader.GetFilePosition(), -1);
    EXPECT_EQ(reader.GetReaderType(), 0);
    EXPECT_THROW(CreateFramesReaderOfType(4, false), std::logic_error);
    for (int key = 0; key <= 3; ++key)
        EXPECT_EQ(CreateFramesReaderOfType(key, false)->GetReaderType(), key);
}

TEST(ReadersOpenTest, BinaryAndPortableIndexesOfOneFileGiveTheSameEntries)
{
    ArchiveFileOptions idHeader;
    idHeader.archiveId = 3;
    std::vector<StoredEntry> written;
    const auto frames = SampleFrames();
    ArchiveTempDir dir;
    WriteBytes(dir.File("p._01"), BuildArchiveFile(frames, idHeader, &written));
    idHeader.index = IndexForm::Binary;
    WriteBytes(dir.File("b._01"), BuildArchiveFile(frames, idHeader));
    FramesReaderIndexedPortable portable;
    FramesReaderIndexedSimple binary;
    ASSERT_TRUE(portable.Open(dir.File("p._01"), 3));
    ASSERT_TRUE(binary.Open(dir.File("b._01"), 3));
    EXPECT_EQ(portable.GetIndex(), binary.GetIndex());
    ASSERT_EQ(portable.GetIndex().size(), written.size());
    for (size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(portable.GetIndex()[i], FramesIndexEntry(written[i].time, written[i].offset, written[i].key)) << i;
    }
    EXPECT_EQ(portable.GetIndex()[0].offset, 8u);
}

// Randomly damaged files: every open and read ends in a result, never in an
// exception or a crash, and a read either returns a frame of the file or -1.
TEST(ReadersReadTest, RandomlyDamagedFilesFailCleanly)
{
    const auto frames = SampleFrames(12, 4);
    ArchiveTempDir dir;
    const std::string path = dir.File("z._01");
    std::mt19937 rng(99);
    for (int round = 0; round < 300; ++round) {
        ArchiveFileOptions o = Index(round % 3 == 0 ? IndexForm::None : round % 3 == 1 ? IndexForm::Portable
                                                                                          : IndexForm::Binary);
        auto bytes = BuildArchiveFile(frames, o);
        const int edits = 1 + static_cast<int>(rng() % 6);
        for (int e = 0; e < edits; ++e)
            bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
        WriteBytes(path, bytes);
        DynamicFramesReader reader(round % 2 == 0);
        if (!reader.Open(path, 0))
            continue;
        auto frame = NewFrame();
        const uint64_t count = reader.GetFrameCount();
        for (uint64_t n = 0; n < std::min<uint64_t>(count, 20); ++n) {
            const int64_t got = reader.ReadFrame(*frame, n, false, true, 1.0, false);
            EXPECT_TRUE(got == -1 || (got >= 0 && static_cast<uint64_t>(got) < count)) << "round " << round;
        }
        reader.GetRecordInterval(TSS{}, false);
        reader.ReadFrameAtTime(*frame, LocalTss(frames[5].unixMs), false, true);
    }
}

} // namespace
