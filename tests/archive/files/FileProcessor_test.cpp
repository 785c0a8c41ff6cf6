#include "archive/files/FailureReports.h"
#include "archive/files/FileProcessor.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

namespace {

class Owner : public IFileProcessorOwner {
public:
    std::string GetName() const override { return m_name; }
    std::string m_name;
};

class Processor : public FileProcessor {
public:
    using FileProcessor::FileProcessor;
    const char* GetTypeName() const override { return "RECORDER"; }
    bool IsOpen() const override { return false; }
    void SaveFile() override { ++saves; }
    int saves = 0;
};

TEST(FileProcessorTest, PathsOnTheCurrentVolume) {
    SetVolumeSettings(VolumeSettings{});
    Owner owner;
    const std::vector<Volume> volumes = {Volume(false, "/mnt/a/", false), Volume(false, "/mnt/b/", false)};
    Processor p(7, &owner, volumes);
    EXPECT_EQ(p.GetVolumeCount(), 2u);
    EXPECT_EQ(p.GetFilePath(0x1A2F, "27-05-22 14"), "/mnt/a/VIDEO/27-05-22 14/1A2F._07");
    EXPECT_EQ(p.GetFilePath(-1, nullptr), "/mnt/a/VIDEO/writing._07");
    EXPECT_EQ(p.GetWritingFilePath("_x"), "/mnt/a/VIDEO/writing_x._07");
    p.SetVolumeIndex(1);
    EXPECT_EQ(p.GetFilePath(1, ""), "/mnt/b/VIDEO/1._07");

    // No folder given: today's local date, "DD-MM-YY".
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char today[32];
    std::snprintf(today, sizeof today, "%.2d-%.2d-%.2d", local.tm_mday, local.tm_mon + 1, local.tm_year % 100);
    EXPECT_EQ(p.GetFilePath(2, nullptr), std::string("/mnt/b/VIDEO/") + today + "/2._07");

    for (int index : {2, 5, -1}) {
        p.SetVolumeIndex(index);
        EXPECT_EQ(p.GetFilePath(1, "27-05-22 14"), "") << index;
        EXPECT_EQ(p.GetWritingFilePath(""), "") << index;
        EXPECT_EQ(p.GetProtectedFilePath(1), "") << index;
        EXPECT_TRUE(p.GetFileCreationTime(1, "27-05-22 14") == TSS{}) << index;
    }
}

TEST(FileProcessorTest, DateFolderNames) {
    struct Case {
        int y, m, d;
        const char* name;
    } cases[] = {
        {2005, 3, 7, "07-03-05"}, {2022, 5, 27, "27-05-22"}, {2050, 1, 1, "01-01-50"}, {1999, 12, 31, "31-12-99"},
        {1950, 6, 1, "01-06-1950"}, {9999, 1, 1, ""}, {2022, 2, 30, ""}, {0, 0, 0, ""},
    };
    for (const auto& c : cases) {
        TSS t;
        t.wYear = static_cast<uint16_t>(c.y);
        t.wMonth = static_cast<uint16_t>(c.m);
        t.wDay = static_cast<uint16_t>(c.d);
        EXPECT_EQ(FileProcessor::FormatDateFolder(t), c.name) << c.y;
    }
}

TEST(FileProcessorTest, PrefixCloseAndCurrentEntry) {
    Owner owner;
    owner.m_name = "ARCH";
    Processor p(3, &owner, {});
    EXPECT_EQ(p.GetLogPrefix(), "[FILESYSTEM][ARCH][RECORDER]");
    owner.m_name.clear();
    EXPECT_EQ(p.GetLogPrefix(), "[FILESYSTEM][][RECORDER]");

    EXPECT_EQ(p.GetCurrentEntry().fileId, 0xFFFFFFFFu);
    EXPECT_FALSE(p.GetCurrentEntry().IsSet());
    VindaraFileSystem::DirEntry e;
    e.begin = 1;
    e.end = 2;
    e.fileId = 5;
    p.SetCurrentEntry(e);
    p.Close(false);
    EXPECT_EQ(p.saves, 1);
    EXPECT_EQ(p.GetCurrentEntry().fileId, 0xFFFFFFFFu);
    EXPECT_EQ(p.GetCurrentEntry().begin, 0u);
}

TEST(FileProcessorTest, RecorderLimits) {
    struct Case {
        const char* value;
        uint32_t expected;
    } cases[] = {{"", 500}, {"100000", 100000}, {"99999", 99999}, {"-1", 100000}, {"7", 7}, {"0", 0}};
    for (const auto& c : cases) EXPECT_EQ(MakeRecorderLimits(c.value, "", "", "").maxFrames, c.expected) << c.value;
    const RecorderLimits defaults = MakeRecorderLimits("", "", "", "");
    EXPECT_EQ(defaults.maxFramesFaceCapture, 30u);
    EXPECT_EQ(defaults.indexUpdateAttempts, 100);
    EXPECT_EQ(defaults.fileSizeTimeLimit, 0);
    EXPECT_EQ(MakeRecorderLimits("", "200000", "3", "60").maxFramesFaceCapture, 100000u);
    EXPECT_EQ(MakeRecorderLimits("", "", "3", "60").fileSizeTimeLimit, 60);
}

TEST(FailureReportsTest, CauseNames) {
    const char* fileNames[] = {"none",          "generic",       "fileNotFound",  "badPath",   "tooManyOpenFiles",
                               "accessDenied",  "invalidFile",   "removeCurrentDir", "directoryFull", "badSeek",
                               "hardIO",        "sharingViolation", "lockViolation", "diskFull", "endOfFile"};
    for (int cause = 0; cause < 15; ++cause) EXPECT_STREQ(FailureReports::FileCauseName(cause), fileNames[cause]);
    const char* archiveNames[] = {"none", "generic", "readOnly", "endOfFile", "writeOnly", "badIndex", "badClass",
                                  "badSchema"};
    for (int cause = 0; cause < 8; ++cause) EXPECT_STREQ(FailureReports::ArchiveCauseName(cause), archiveNames[cause]);
    for (int cause : {-1, 15, 99}) EXPECT_STREQ(FailureReports::FileCauseName(cause), "Unknown");
    for (int cause : {-1, 8, 99}) EXPECT_STREQ(FailureReports::ArchiveCauseName(cause), "Unknown");
}

TEST(FailureReportsTest, ErrnoReachesTheCauseName) {
    struct Case {
        int err;
        const char* name;
    } cases[] = {{ENOENT, "fileNotFound"}, {EACCES, "accessDenied"}, {ENOSPC, "diskFull"}, {EMFILE, "tooManyOpenFiles"}};
    for (const auto& c : cases) {
        const platform::FileException e(platform::FileException::ErrnoToCause(c.err), c.err, "/x");
        EXPECT_STREQ(FailureReports::FileCauseName(e.m_cause), c.name) << c.err;
    }
}

TEST(FailureReportsTest, ReportTexts) {
    const platform::FileException full(platform::FileException::diskFull, 28, "/v/1._07");
    const platform::FileException badPath(platform::FileException::badPath, 2, "/v/1._07");
    const platform::FileException odd(42, 5, "/v/1._07");
    const platform::ArchiveException eof(platform::ArchiveException::endOfFile, "/v/2._07");
    const std::string prefix = "[FILESYSTEM][][FILEREADER]";
    struct Case {
        std::string got;
        const char* expected;
    } cases[] = {
        {FailureReports::ReaderReadFrameFileError(prefix, "/v/1._07", badPath),
         "[FILESYSTEM][][FILEREADER]::FileReader::doReadFrame(...):\"/v/1._07\" badPath, [2]"},
        {FailureReports::ReaderReadFrameArchiveError(prefix, "/v/1._07", eof),
         "[FILESYSTEM][][FILEREADER]::FileReader::doReadFrame(...):\"/v/1._07\" CArchiveException::endOfFile, \"/v/2._07\""},
        {FailureReports::ReaderCloseError(prefix, "/v/1._07", full), "[FILESYSTEM][][FILEREADER]::FileReader::Close();\"/v/1._07\" [28]"},
        {FailureReports::ReaderOpenFileTimeArchiveError(prefix, eof),
         "[FILESYSTEM][][FILEREADER]::FileReader::openFileTime(...):\"/v/2._07\" CArchiveException, cause = 3"},
        {FailureReports::RecorderReadFrameFileError("", odd), "[FS] ::FileRecorder::doReadFrame(...) error: Unknown, [5]"},
        {FailureReports::RecorderReadFrameArchiveError("", eof),
         "[FS] ::FileRecorder::doReadFrame(...): CArchiveException::endOfFile, \"/v/2._07\""},
        {FailureReports::WriteDiskFullMessage(full, "1._07", 2), "diskFULL: diskFull [28], file = '1._07', attempt = 2"},
        {FailureReports::WriteDiskFullError("[FILESYSTEM][][RECORDER]", 7, "1._07"),
         "[FILESYSTEM][][RECORDER][WRITING] Camera 7 ERROR_DISK_FULL, file: '1._07'"},
        {FailureReports::WriteFileRecError("[P]", 7, badPath, "1._07", 1),
         "[P] FILE_REC_ERROR for camera 7. FILE OPERATION ERROR: badPath [2], file = '1._07', attempt = 1"},
        {FailureReports::WriteFileOperationMessage(badPath, "a%s.b", 1),
         "FILE OPERATION ERROR: badPath [2], file = 'a%s.b', attempt = 1"},
        {FailureReports::WriteFileRecErrorParam(badPath, "1._07", 3), "badPath [2], file = '1._07', attempt = 3"},
        {FailureReports::CloseMoveMessage("/t/writing._07", "/v/1._07"),
         "Can't move file: \"/t/writing._07\" to \"/v/1._07\"."},
        {FailureReports::SaveFileCloseWarning("[P]", "1._07", full),
         "[P] Failed to close file: \"1._07\". Exception: cause = 13, error = 28."},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);

    // An exception with a text, and one without (a subclass whose text is empty).
    struct Silent : platform::FileException {
        using platform::FileException::FileException;
        std::string GetErrorMessage() const override { return std::string(); }
    };
    const Silent silent(platform::FileException::hardIO, 5, "/v/3._07");
    EXPECT_EQ(FailureReports::ExceptionText("", "FileReader::doOpenFile", silent),
              "[FS] ::FileReader::doOpenFile() \"/v/3._07\" exception [5]");
    const std::string withText = FailureReports::ExceptionText("", "FileRecorder::closeInternal", full);
    EXPECT_EQ(withText, "[FS] ::FileRecorder::closeInternal() \"/v/1._07\" exception \"" + full.GetErrorMessage() + "\" [28]");
    EXPECT_FALSE(full.GetErrorMessage().empty());
    EXPECT_EQ(FailureReports::TempRenameError("/a", "/b", full).rfind(
                  "[FILESYSTEM][TEMP] Failed to rename temporary file \"/a\" to \"/b\", error code 28, ", 0),
              0u);
}

}  // namespace
