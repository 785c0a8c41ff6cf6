#include "archive/files/FailureReports.h"

#include <cstdarg>
#include <iterator>
#include <cstdio>
#include <vector>

#include "base/Log.h"
#include "base/ModuleDir.h"

namespace FailureReports {

namespace {

const char* const kFileCauses[] = {"none",         "generic",         "fileNotFound",  "badPath",
                                   "tooManyOpenFiles", "accessDenied", "invalidFile",   "removeCurrentDir",
                                   "directoryFull", "badSeek",        "hardIO",        "sharingViolation",
                                   "lockViolation", "diskFull",       "endOfFile"};
const char* const kArchiveCauses[] = {"none",     "generic", "readOnly", "endOfFile",
                                      "writeOnly", "badIndex", "badClass", "badSchema"};

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (size > 0) {
        std::vector<char> buffer(static_cast<size_t>(size) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), static_cast<size_t>(size));
    }
    va_end(args);
    return text;
}

unsigned OsError(const platform::FileException& e) { return static_cast<unsigned>(e.m_lOsError); }

}  // namespace

const char* FileCauseName(int cause) {
    if (cause < 0 || cause >= static_cast<int>(std::size(kFileCauses))) return "Unknown";
    return kFileCauses[cause];
}

const char* ArchiveCauseName(int cause) {
    if (cause < 0 || cause >= static_cast<int>(std::size(kArchiveCauses))) return "Unknown";
    return kArchiveCauses[cause];
}

std::string ExceptionText(const std::string& fsName, const char* operation, const platform::FileException& e) {
    const std::string text = e.GetErrorMessage();
    if (!text.empty())
        return Format("[FS] %s::%s() \"%s\" exception \"%s\" [%u]", fsName.c_str(), operation,
                      e.m_strFileName.c_str(), text.c_str(), OsError(e));
    return Format("[FS] %s::%s() \"%s\" exception [%u]", fsName.c_str(), operation, e.m_strFileName.c_str(),
                  OsError(e));
}

std::string ReaderReadFrameFileError(const std::string& prefix, const std::string& file,
                                     const platform::FileException& e) {
    return Format("%s::FileReader::doReadFrame(...):\"%s\" %s, [%u]", prefix.c_str(), file.c_str(),
                  FileCauseName(e.m_cause), OsError(e));
}

std::string ReaderReadFrameArchiveError(const std::string& prefix, const std::string& file,
                                        const platform::ArchiveException& e) {
    return Format("%s::FileReader::doReadFrame(...):\"%s\" CArchiveException::%s, \"%s\"", prefix.c_str(),
                  file.c_str(), ArchiveCauseName(e.m_cause), e.m_strFileName.c_str());
}

std::string ReaderCloseError(const std::string& prefix, const std::string& file, const platform::FileException& e) {
    return Format("%s::FileReader::Close();\"%s\" [%u]", prefix.c_str(), file.c_str(), OsError(e));
}

std::string ReaderOpenFileTimeArchiveError(const std::string& prefix, const platform::ArchiveException& e) {
    return Format("%s::FileReader::openFileTime(...):\"%s\" CArchiveException, cause = %d", prefix.c_str(),
                  e.m_strFileName.c_str(), e.m_cause);
}

std::string RecorderReadFrameFileError(const std::string& fsName, const platform::FileException& e) {
    return Format("[FS] %s::FileRecorder::doReadFrame(...) error: %s, [%u]", fsName.c_str(), FileCauseName(e.m_cause),
                  OsError(e));
}

std::string RecorderReadFrameArchiveError(const std::string& fsName, const platform::ArchiveException& e) {
    return Format("[FS] %s::FileRecorder::doReadFrame(...): CArchiveException::%s, \"%s\"", fsName.c_str(),
                  ArchiveCauseName(e.m_cause), e.m_strFileName.c_str());
}

std::string WriteDetail(const platform::FileException& e, const std::string& fileName, int attempt) {
    return " [" + std::to_string(e.m_lOsError) + "], file = '" + fileName + "', attempt = " + std::to_string(attempt);
}

std::string WriteDiskFullMessage(const platform::FileException& e, const std::string& fileName, int attempt) {
    return std::string("diskFULL: ") + FileCauseName(e.m_cause) + WriteDetail(e, fileName, attempt);
}

std::string WriteDiskFullError(const std::string& prefix, int camera, const std::string& fileName) {
    return Format("%s[WRITING] Camera %d ERROR_DISK_FULL, file: '%s'", prefix.c_str(), camera, fileName.c_str());
}

std::string WriteFileRecError(const std::string& prefix, int camera, const platform::FileException& e,
                              const std::string& fileName, int attempt) {
    return Format("%s FILE_REC_ERROR for camera %d. FILE OPERATION ERROR: %s%s", prefix.c_str(), camera,
                  FileCauseName(e.m_cause), WriteDetail(e, fileName, attempt).c_str());
}

std::string WriteFileOperationMessage(const platform::FileException& e, const std::string& fileName, int attempt) {
    return std::string("FILE OPERATION ERROR: ") + FileCauseName(e.m_cause) + WriteDetail(e, fileName, attempt);
}

std::string WriteFileRecErrorParam(const platform::FileException& e, const std::string& fileName, int attempt) {
    return FileCauseName(e.m_cause) + WriteDetail(e, fileName, attempt);
}

std::string TempRenameError(const std::string& from, const std::string& to, const platform::FileException& e) {
    return Format("[FILESYSTEM][TEMP] Failed to rename temporary file \"%s\" to \"%s\", error code %d, %s.",
                  from.c_str(), to.c_str(), static_cast<int>(e.m_lOsError),
                  GetSystemErrorMessage(static_cast<int>(e.m_lOsError)).c_str());
}

std::string TempRenameSelfError(const std::string& file, const platform::FileException& e) {
    return Format("[FILESYSTEM][TEMP] Failed to rename temporary file \"%s\", error code %d, %s.", file.c_str(),
                  static_cast<int>(e.m_lOsError), GetSystemErrorMessage(static_cast<int>(e.m_lOsError)).c_str());
}

std::string CloseMoveMessage(const std::string& from, const std::string& to) {
    return "Can't move file: \"" + from + "\" to \"" + to + "\".";
}

std::string SaveFileCloseWarning(const std::string& prefix, const std::string& file, const platform::FileException& e) {
    return Format("%s Failed to close file: \"%s\". Exception: cause = %d, error = %d.", prefix.c_str(), file.c_str(),
                  e.m_cause, static_cast<int>(e.m_lOsError));
}

void LogErrorLine(const std::string& text) { QOR_LOG_ERROR(getDefaultDebugInstance(), "%s", text.c_str()); }

}  // namespace FailureReports
