#pragma once
// How the archive file workers report file and archive errors: the cause
// names of platform::FileException / platform::ArchiveException and the one
// fixed line each caught failure is logged as. The workers catch the
// exception, log the line built here and go on with their defined result.

#include <string>

#include "platform/File.h"

namespace FailureReports {

// "none", "generic", "fileNotFound", ... "endOfFile"; "Unknown" otherwise.
const char* FileCauseName(int cause);
// "none", "generic", "readOnly", ... "badSchema"; "Unknown" otherwise.
const char* ArchiveCauseName(int cause);

// The line of FileProcessor::LogException: "[FS] %s::%s() \"%s\" exception
// \"%s\" [%u]" (engine name, operation, file, error text, OS error), or
// without the error text when the exception has none.
std::string ExceptionText(const std::string& fsName, const char* operation, const platform::FileException& e);

// Texts of the file reader's reports; `prefix` is the reader's log prefix,
// `file` the path the frames reader has open.
std::string ReaderReadFrameFileError(const std::string& prefix, const std::string& file,
                                     const platform::FileException& e);
std::string ReaderReadFrameArchiveError(const std::string& prefix, const std::string& file,
                                        const platform::ArchiveException& e);
std::string ReaderCloseError(const std::string& prefix, const std::string& file, const platform::FileException& e);
std::string ReaderOpenFileTimeArchiveError(const std::string& prefix, const platform::ArchiveException& e);

// Texts of the recorder's reports; `fsName` is the file system's name.
std::string RecorderReadFrameFileError(const std::string& fsName, const platform::FileException& e);
std::string RecorderReadFrameArchiveError(const std::string& fsName, const platform::ArchiveException& e);
// " [osError], file = 'name', attempt = n" of the frame-write reports.
std::string WriteDetail(const platform::FileException& e, const std::string& fileName, int attempt);
// "diskFULL: diskFull" + detail.
std::string WriteDiskFullMessage(const platform::FileException& e, const std::string& fileName, int attempt);
std::string WriteDiskFullError(const std::string& prefix, int camera, const std::string& fileName);
std::string WriteFileRecError(const std::string& prefix, int camera, const platform::FileException& e,
                              const std::string& fileName, int attempt);
std::string WriteFileOperationMessage(const platform::FileException& e, const std::string& fileName, int attempt);
// "param0" of the FILE_REC_ERROR event: cause name + detail.
std::string WriteFileRecErrorParam(const platform::FileException& e, const std::string& fileName, int attempt);
std::string TempRenameError(const std::string& from, const std::string& to, const platform::FileException& e);
std::string TempRenameSelfError(const std::string& file, const platform::FileException& e);
std::string CloseMoveMessage(const std::string& from, const std::string& to);
std::string SaveFileCloseWarning(const std::string& prefix, const std::string& file, const platform::FileException& e);

// Logs `text` as one error line of this module, as data (never a format).
void LogErrorLine(const std::string& text);

}  // namespace FailureReports
