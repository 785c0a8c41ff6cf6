// The recorder's buffered disk file: block size settings, whole-block disk
// writes, a block retried after a failed write, and the forced close.

#include <cstring>
#include <numeric>

#include <gtest/gtest.h>

#include "archive/files/FileBuffered.h"
#include "base/Locks.h"
#include "support/TempDir.h"

namespace {

std::vector<uint8_t> Bytes(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

constexpr unsigned kCreate = platform::File::modeCreate | platform::File::modeWrite;

// Disk writes fail as scripted: a failing write puts the first half of the
// block on disk, then reports the disk full.
class ScriptedFile : public CFileBuffered {
public:
    ScriptedFile(qormisc::SyncObject* lock, const std::string& size, const std::string& memFile)
        : CFileBuffered(lock, size, memFile) {}
    std::vector<bool> failures;  // one per disk write, true = fail
    size_t diskWrites = 0;

protected:
    void WriteToDisk(const void* data, std::size_t count) override {
        const bool fail = diskWrites < failures.size() && failures[diskWrites];
        ++diskWrites;
        if (!fail) {
            CFileBuffered::WriteToDisk(data, count);
            return;
        }
        platform::File::Write(data, count / 2);
        platform::FileException::Throw(platform::FileException::diskFull, 28, m_path);
    }
};

TEST(FileBufferedTest, BlockSizeAndModeFollowTheSettings) {
    struct Case {
        const char* size;
        const char* memFile;
        bool buffered;
        uint32_t block;
    };
    const Case cases[] = {
        {"", "", true, 0x100000},        {"0", "-1", true, 0x100000},   {"64", "", true, 0x2000000},
        {"2048", "", true, 0x2000000},   {"4096", "", true, 0x100000},  {"3", "", true, 3 * 0x100000},
        {"1", "0", false, 0x100000},     {"1", "1", false, 0x100000},
    };
    for (const Case& c : cases) {
        qormisc::CriticalSection lock;
        CFileBuffered file(&lock, c.size, c.memFile);
        EXPECT_EQ(file.IsBuffered(), c.buffered) << c.size << " / " << c.memFile;
        EXPECT_EQ(file.GetBlockSize(), c.block) << c.size << " / " << c.memFile;
    }
}

TEST(FileBufferedTest, BytesReachTheDiskInWholeBlocksAndAtClose) {
    gavex_test::TempDir dir;
    qormisc::CriticalSection lock;
    ScriptedFile file(&lock, "1", "");
    ASSERT_TRUE(file.Open(dir / "f", kCreate));
    const auto a = Bytes(600000, 1), b = Bytes(600000, 2), c = Bytes(3000000, 3);
    file.Write(a.data(), a.size());
    EXPECT_EQ(file.diskWrites, 0u);
    EXPECT_EQ(file.GetPosition(), a.size());
    file.Write(b.data(), b.size());  // the block reaches 1 MiB
    EXPECT_EQ(file.diskWrites, 1u);
    EXPECT_EQ(gavex_test::ReadFileBytes(dir / "f").size(), a.size() + b.size());
    file.Write(c.data(), c.size());  // one write larger than the block goes out whole
    EXPECT_EQ(file.diskWrites, 2u);
    file.Write(a.data(), 10);
    EXPECT_EQ(file.GetPosition(), a.size() + b.size() + c.size() + 10);
    file.Close();
    EXPECT_EQ(file.diskWrites, 3u);
    std::vector<uint8_t> expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    expected.insert(expected.end(), c.begin(), c.end());
    expected.insert(expected.end(), a.begin(), a.begin() + 10);
    EXPECT_EQ(gavex_test::ReadFileBytes(dir / "f"), expected);
    EXPECT_EQ(file.GetPosition(), 0u);
}

TEST(FileBufferedTest, ABlockRetriedAfterAPartialWriteGivesAnUnbrokenRun) {
    for (const char* memFile : {"", "0"}) {
        SCOPED_TRACE(*memFile ? "unbuffered" : "buffered");
        gavex_test::TempDir dir;
        qormisc::CriticalSection lock;
        ScriptedFile file(&lock, "1", memFile);
        file.failures = {false, true, true, false};
        ASSERT_TRUE(file.Open(dir / "f", kCreate));
        const auto first = Bytes(0x100000, 5), second = Bytes(0x100000, 9), third = Bytes(1000, 13);
        file.Write(first.data(), first.size());
        std::vector<uint8_t> expected = first;
        const bool buffered = *memFile == 0;
        if (buffered) {
            // The second block fails after its data was taken: no error yet.
            file.Write(second.data(), second.size());
            EXPECT_EQ(file.GetPosition(), 2u * 0x100000);
            // The next write retries the block first; it fails again, and
            // the new data is refused.
            EXPECT_THROW(file.Write(third.data(), third.size()), platform::FileException);
            EXPECT_EQ(file.GetPosition(), 2u * 0x100000);
            file.Write(third.data(), third.size());
            expected.insert(expected.end(), second.begin(), second.end());
        } else {
            // Unbuffered: the writer seeks back to where the write began.
            for (int attempt = 0; attempt < 2; ++attempt) {
                const uint64_t at = file.GetPosition();
                EXPECT_THROW(file.Write(second.data(), second.size()), platform::FileException);
                file.Seek(static_cast<int64_t>(at), platform::File::begin);
            }
            file.Write(second.data(), second.size());
            expected.insert(expected.end(), second.begin(), second.end());
            file.Write(third.data(), third.size());
        }
        expected.insert(expected.end(), third.begin(), third.end());
        file.Close();
        EXPECT_EQ(gavex_test::ReadFileBytes(dir / "f"), expected);
    }
}

TEST(FileBufferedTest, ForceCloseDropsTheBlock) {
    gavex_test::TempDir dir;
    qormisc::CriticalSection lock;
    CFileBuffered file(&lock, "1", "");
    ASSERT_TRUE(file.Open(dir / "f", kCreate));
    const auto data = Bytes(5000, 1);
    file.Write(data.data(), data.size());
    CFileBuffered::ForceClose(file);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(gavex_test::ReadFileBytes(dir / "f").empty());
    // Reopened, it starts from nothing.
    ASSERT_TRUE(file.Open(dir / "g", kCreate));
    EXPECT_EQ(file.GetPosition(), 0u);
    file.Close();
}

}  // namespace
