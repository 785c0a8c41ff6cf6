// The record commands of the player interface (delete, bookmark, protect)
// until their real bodies land with the record-command code (which brings
// archive/fs/RecordCommands.h): each fails, and says so in the log, without
// touching the archive.

#if !__has_include("archive/fs/RecordCommands.h")

#include "archive/fs/FileSystem.h"
#include "base/Log.h"
#include "base/VideoFrame.h"

namespace {

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

void LogUnsupported(const char* command, int camera) {
    QOR_LOG_ERROR(Log(), "[FILESYSTEM] %s for camera %d failed: record commands are not supported yet", command,
                  camera);
}

}  // namespace

bool FileSystem::DeleteRecord(VideoFrame* frame) {
    LogUnsupported("DeleteRecord", frame ? frame->m_nChan : -1);
    return false;
}

bool FileSystem::BookmarkRecords(const std::string& /*slaveId*/, VideoFrame* frame, bool /*add*/, bool /*protect*/) {
    LogUnsupported("BookmarkRecords", frame ? frame->m_nChan : -1);
    return false;
}

bool FileSystem::ProtectRecord(const std::string& /*slaveId*/, VideoFrame* frame, bool /*protect*/) {
    LogUnsupported("ProtectRecord", frame ? frame->m_nChan : -1);
    return false;
}

bool FileSystem::DeleteRecords(int camera, const boost::posix_time::ptime& /*from*/,
                               const boost::posix_time::ptime& /*to*/) {
    LogUnsupported("DeleteRecords", camera);
    return false;
}

std::string FileSystem::GetBookmarks(int camera) {
    LogUnsupported("GetBookmarks", camera);
    return std::string();
}

#endif  // record-command code not present
