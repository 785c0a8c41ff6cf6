#include "archive/files/FramesReaderFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace {

constexpr std::size_t kBlock = 1024;
constexpr std::size_t kFileSize = 5000;

std::uint8_t ByteAt(std::uint64_t offset) { return static_cast<std::uint8_t>(offset * 7 + offset / 251); }

struct PeekCase {
    const char* what;
    std::uint64_t readFirst;  // bytes read before the peek
    std::uint64_t offset;
    std::size_t count;
    std::size_t expected;
};

// Whatever the block holds, a peek gives the file's bytes, leaves the read
// position alone, and the read that follows still gives the right bytes.
TEST(FramesReaderFilePeek, GivesTheFileBytesWithoutMovingThePosition) {
    gavex_test::TempDir dir("peek");
    const std::string path = dir.path() + "/frames";
    std::vector<std::uint8_t> bytes(kFileSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = ByteAt(i);
    gavex_test::WriteFileBytes(path, bytes);

    const PeekCase cases[] = {
        {"inside the block already read", 10, 20, 4, 4},
        {"ahead of the block, reachable from the position", 1000, 1100, 4, 4},
        {"far from the position", 0, 4000, 8, 8},
        {"behind the position", 3000, 100, 4, 4},
        {"straddling the end of the file", 0, kFileSize - 2, 4, 2},
        {"past the end of the file", 0, kFileSize + 10, 4, 0},
        {"larger than the block", 0, 50, kBlock + 10, kBlock + 10},
    };
    for (const PeekCase& c : cases) {
        SCOPED_TRACE(c.what);
        FramesReaderFile file(kBlock);
        ASSERT_TRUE(file.Open(path, platform::File::modeRead));
        std::vector<std::uint8_t> head(c.readFirst);
        ASSERT_EQ(file.Read(head.data(), head.size()), head.size());

        std::vector<std::uint8_t> peeked(c.count);
        ASSERT_EQ(file.PeekAt(c.offset, peeked.data(), c.count), c.expected);
        for (std::size_t i = 0; i < c.expected; ++i) ASSERT_EQ(peeked[i], ByteAt(c.offset + i)) << i;
        EXPECT_EQ(file.GetPosition(), c.readFirst);

        std::vector<std::uint8_t> next(300);
        ASSERT_EQ(file.Read(next.data(), next.size()), next.size());
        for (std::size_t i = 0; i < next.size(); ++i) ASSERT_EQ(next[i], ByteAt(c.readFirst + i)) << i;
    }
}

}  // namespace

// Opened by its name in an open folder, the file reads as through its path,
// with the length the caller gives; a name that is not there fails with the
// whole path in the error, and a reused reader forgets the file it had.
TEST(FramesReaderFileOpenAt, ReadsByNameInAnOpenFolder) {
    gavex_test::TempDir dir("openat");
    std::vector<std::uint8_t> bytes(kFileSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = ByteAt(i);
    gavex_test::WriteFileBytes(dir.path() + "/frames", bytes);
    const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);

    FramesReaderFile file(kBlock);
    ASSERT_TRUE(file.OpenAt(folder, "frames", dir.path() + "/frames", kFileSize));
    EXPECT_EQ(file.GetLength(), kFileSize);
    std::vector<std::uint8_t> tail(8);
    ASSERT_EQ(file.ReadAt(kFileSize - 8, tail.data(), tail.size()), tail.size());
    EXPECT_EQ(tail, std::vector<std::uint8_t>(bytes.end() - 8, bytes.end()));
    std::vector<std::uint8_t> head(300);
    ASSERT_EQ(file.Read(head.data(), head.size()), head.size());
    EXPECT_EQ(head, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 300));

    platform::FileException error(platform::FileException::none, 0, "");
    EXPECT_FALSE(file.OpenAt(folder, "missing", dir.path() + "/missing", 10, &error));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(error.m_strFileName, dir.path() + "/missing");
    EXPECT_EQ(error.m_lOsError, ENOENT);
    ::close(folder);
}
