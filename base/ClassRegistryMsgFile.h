// MsgFile: a message that carries a whole file (its name, times and
// contents) and recreates the file where it is read. Registered with the
// class registry as "MsgFile", schema 2.
//
// Stored form (schema 2; platform/Archive.h encodings):
//   text    the embedded message as one text (Msg::FormatText), carrying
//           "visited_slaves": the computers the message has passed through
//   text    target name (Windows form: '\' separators; a leading '\' means
//           "below the receiving program's folder", a leading '*' is dropped)
//   uint32  size; 0 ends the object here
//   3 x (uint32 low, uint32 high)   creation, last-access and last-write
//           times as file times (100 ns units since 1601-01-01 UTC)
//   size bytes of contents (written in pieces of at most 30720 bytes)
//   int32   the sender's status, always 1
// A stream written before schema 2 has no message text.
//
// On this platform a received target is made local by turning '\' into '/';
// a target naming a parent folder ("..") is refused like a name without a
// folder, so that a received message cannot write outside the folders it
// names. The creation time cannot be set on Linux: the file gets its access
// and write times only (its birth time, where the file system keeps one, is
// sent).
#pragma once

#include <cstdint>
#include <string>

#include "base/Messages.h"
#include "base/NetObject.h"

namespace QorLog {
class CDebug;
}

class MsgFile : public CNetObject
{
public:
    static constexpr unsigned kSchema = 2;

    // Empty source: status 0.
    MsgFile();
    // Sends `source`: when it contains the program's folder path, the target
    // is the source without that many leading characters, else empty. The
    // source is opened as it is, else as the program's folder followed by
    // it (the source then changes to that path); the status is 1 when either
    // opens and its times can be read, else 0.
    explicit MsgFile(const std::string& source);

    const char* GetClassName() const override { return "MsgFile"; }
    unsigned GetSchema() const override { return kSchema; }
    // Storing always writes schema 2. Loading recreates the file; file
    // failures set the status to 0 and are logged at error level, archive
    // errors (a truncated stream) throw platform::ArchiveException.
    void Serialize(platform::Archive& archive) override;

    // Adds the computer (upper-cased, cut to 100 characters) to
    // "visited_slaves" unless it is there already.
    void AddVisited(const std::string& computer);
    void AddVisited() { AddVisited(ThisComputerName()); }
    bool IsVisited(const std::string& computer) const;
    static std::string ThisComputerName();

    // Errors go to this logger; null (the default) is the process logger.
    void SetLogger(QorLog::CDebug* logger) { m_log = logger; }

    int32_t m_nStatus = 0;
    std::string m_strTarget;
    std::string m_strSource;
    uint64_t m_ftCreation = 0;
    uint64_t m_ftLastAccess = 0;
    uint64_t m_ftLastWrite = 0;
    uint32_t m_nSize = 0;
    Msg m_msg;

private:
    void Store(platform::Archive& archive);
    void Load(platform::Archive& archive);
    bool ReadTimes(const std::string& path);
    QorLog::CDebug* Log() const;

    QorLog::CDebug* m_log = nullptr;
};

// Creates every missing folder of the path, one level after another; true
// when the folder exists afterwards. "\\server\share\..." starts after the
// share, "C:\..." after the drive's root; "\\server" and "\\server\share"
// alone fail. Both '\' and '/' separate; the path is cut to 260 characters.
bool CreateDirectoryPath(const std::string& path);

// File-time conversions (100 ns since 1601-01-01 UTC <-> seconds and
// nanoseconds since 1970).
uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);
void UnixFromFileTime(uint64_t fileTime, int64_t& seconds, int64_t& nanoseconds);
