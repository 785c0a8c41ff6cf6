#include "platform/File.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include "support/TempDir.h"

using platform::ArchiveException;
using platform::File;
using platform::FileException;
using platform::MemFile;

namespace {

std::vector<std::uint8_t> Bytes(const char* s) { return std::vector<std::uint8_t>(s, s + std::strlen(s)); }

TEST(File, WritesReadsSeeksAndReportsLength) {
    gavex_test::TempDir dir{"platform"};
    const std::string path = dir / "data.bin";
    {
        File f(path, File::modeCreate | File::modeReadWrite);
        f.Write("0123456789", 10);
        EXPECT_EQ(f.GetLength(), 10u);
        EXPECT_EQ(f.GetPosition(), 10u);
        EXPECT_EQ(f.Seek(-4, File::end), 6u);
        char buf[8] = {};
        EXPECT_EQ(f.Read(buf, 8), 4u);  // short read at the end
        EXPECT_EQ(std::string(buf, 4), "6789");
        EXPECT_EQ(f.Read(buf, 8), 0u);  // at the end
        // Positional reads leave the position alone.
        EXPECT_EQ(f.ReadAt(2, buf, 3), 3u);
        EXPECT_EQ(std::string(buf, 3), "234");
        EXPECT_EQ(f.ReadAt(9, buf, 3), 1u);
        EXPECT_EQ(f.GetPosition(), 10u);
        f.SetLength(3);
        EXPECT_EQ(f.GetLength(), 3u);
        EXPECT_EQ(f.GetFileName(), "data.bin");
        EXPECT_EQ(f.GetFilePath(), path);
        f.Close();
        EXPECT_FALSE(f.IsOpen());
    }
    {
        File f(path, File::modeCreate | File::modeNoTruncate | File::modeWrite);  // keeps the bytes
        EXPECT_EQ(f.GetLength(), 3u);
    }
    {
        File f(path, File::modeCreate | File::modeWrite);  // truncates
        EXPECT_EQ(f.GetLength(), 0u);
    }
}

TEST(File, OpenFailuresCarryCauseErrnoAndName) {
    gavex_test::TempDir dir{"platform"};
    const std::string plain = dir / "plain";
    { File f(plain, File::modeCreate | File::modeWrite); }
    struct Case {
        std::string path;
        int cause;
        int err;
    } cases[] = {
        {dir / "missing", FileException::fileNotFound, ENOENT},
        {plain + "/below", FileException::badPath, ENOTDIR},
        {dir.path(), FileException::accessDenied, EISDIR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        File f;
        FileException error(FileException::none, 0, "");
        EXPECT_FALSE(f.Open(c.path, File::modeRead, &error));
        EXPECT_EQ(error.m_cause, c.cause);
        EXPECT_EQ(error.m_lOsError, c.err);
        EXPECT_EQ(error.m_strFileName, c.path);
        EXPECT_FALSE(f.IsOpen());
        try {
            File g(c.path, File::modeRead);
            ADD_FAILURE() << "no exception";
        } catch (const platform::Exception& e) {  // the common base catches it
            auto* fe = dynamic_cast<const FileException*>(&e);
            ASSERT_NE(fe, nullptr);
            EXPECT_EQ(fe->m_cause, c.cause);
            EXPECT_NE(e.GetErrorMessage().find(c.path), std::string::npos);
        }
    }
}

TEST(File, MisuseThrowsInsteadOfFailingSilently) {
    gavex_test::TempDir dir{"platform"};
    File f(dir / "x", File::modeCreate | File::modeReadWrite);
    try {
        f.Seek(-1, File::begin);
        ADD_FAILURE();
    } catch (const FileException& e) {
        EXPECT_EQ(e.m_cause, FileException::badSeek);
    }
    File ro(dir / "x", File::modeRead);
    try {
        ro.Write("a", 1);
        ADD_FAILURE();
    } catch (const FileException& e) {
        EXPECT_EQ(e.m_cause, FileException::invalidFile);  // EBADF: not open for writing
    }
    File closed;
    char c;
    EXPECT_THROW(closed.Read(&c, 1), FileException);
    EXPECT_THROW(closed.GetLength(), FileException);
    closed.Close();  // closing a closed file is harmless
    try {
        File::Remove(dir / "nothing");
        ADD_FAILURE();
    } catch (const FileException& e) {
        EXPECT_EQ(e.m_cause, FileException::fileNotFound);
    }
    File::Rename(dir / "x", dir / "y");
    EXPECT_THROW(File::Rename(dir / "x", dir / "z"), FileException);
}

TEST(FileException, MapsErrnoToCauses) {
    const std::pair<int, int> table[] = {
        {0, FileException::none},
        {ENOENT, FileException::fileNotFound},
        {ENOTDIR, FileException::badPath},
        {ENAMETOOLONG, FileException::badPath},
        {EMFILE, FileException::tooManyOpenFiles},
        {EACCES, FileException::accessDenied},
        {EROFS, FileException::accessDenied},
        {EBADF, FileException::invalidFile},
        {ESPIPE, FileException::badSeek},
        {EIO, FileException::hardIO},
        {ETXTBSY, FileException::sharingViolation},
        {ENOLCK, FileException::lockViolation},
        {ENOSPC, FileException::diskFull},
        {EPROTO, FileException::genericException},
    };
    for (auto [err, cause] : table) EXPECT_EQ(FileException::ErrnoToCause(err), cause) << err;
}

TEST(ArchiveException, KeepsCauseAndName) {
    try {
        ArchiveException::Throw(ArchiveException::endOfFile, "a._01");
    } catch (const platform::Exception& e) {
        auto& ae = dynamic_cast<const ArchiveException&>(e);
        EXPECT_EQ(ae.m_cause, 3);
        EXPECT_EQ(ae.m_strFileName, "a._01");
        EXPECT_NE(e.GetErrorMessage().find("end of file"), std::string::npos);
    }
}

TEST(MemFile, OwnedStorageGrowsAndFillsGapsWithZeros) {
    MemFile f(4);
    f.Write("abc", 3);
    f.Seek(2, File::current);  // past the end
    f.Write("Z", 1);
    EXPECT_EQ(f.GetLength(), 6u);
    std::vector<std::uint8_t> expected = {'a', 'b', 'c', 0, 0, 'Z'};
    EXPECT_EQ(std::vector<std::uint8_t>(f.Data(), f.Data() + f.Size()), expected);
    f.SeekToBegin();
    char buf[10];
    EXPECT_EQ(f.Read(buf, 10), 6u);
    EXPECT_EQ(f.Read(buf, 10), 0u);
    EXPECT_EQ(f.ReadAt(5, buf, 4), 1u);
    EXPECT_EQ(buf[0], 'Z');
    EXPECT_THROW(f.Seek(-7, File::end), FileException);
    EXPECT_EQ(f.TakeBytes(), expected);
    EXPECT_EQ(f.GetLength(), 0u);
}

TEST(MemFile, BorrowedBuffers) {
    // Fixed: written in place, a write past its end throws and changes nothing.
    std::uint8_t fixed[4] = {1, 2, 3, 4};
    {
        MemFile f(fixed, sizeof fixed);
        f.Seek(1, File::begin);
        f.Write("xy", 2);
        EXPECT_EQ(fixed[1], 'x');
        try {
            f.Write("123", 3);
            ADD_FAILURE();
        } catch (const FileException& e) {
            EXPECT_EQ(e.m_cause, FileException::diskFull);
        }
        EXPECT_EQ(fixed[3], 4);
        EXPECT_EQ(f.GetLength(), 4u);
    }
    // Growable: copied out when it must grow; the borrowed buffer is left alone.
    std::uint8_t small[2] = {7, 8};
    {
        MemFile f(small, sizeof small, 16);
        f.SeekToEnd();
        f.Write("abc", 3);
        f.SeekToBegin();
        f.Write("Q", 1);
        EXPECT_EQ(small[0], 7);
        EXPECT_EQ(f.TakeBytes(), (std::vector<std::uint8_t>{'Q', 8, 'a', 'b', 'c'}));
    }
    // Read-only view.
    const std::vector<std::uint8_t> data = Bytes("frame");
    MemFile view{std::span<const std::uint8_t>(data)};
    char buf[8] = {};
    EXPECT_EQ(view.Read(buf, 8), 5u);
    EXPECT_STREQ(buf, "frame");
    try {
        view.Write("x", 1);
        ADD_FAILURE();
    } catch (const FileException& e) {
        EXPECT_EQ(e.m_cause, FileException::accessDenied);
    }
    EXPECT_THROW(view.SetLength(1), FileException);
    EXPECT_EQ(view.TakeBytes(), data);  // a copy
}

}  // namespace
