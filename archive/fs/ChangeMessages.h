#pragma once
// Archive change messages: what the engine tells an attached message sink when
// records leave the archive. No sink is attached by this program; whoever
// embeds the engine may attach one (FileSystem::SetMessageSink).

#include <cstddef>
#include <string>

#include "base/Messages.h"
#include "base/Tss.h"

// Receiver of the engine's archive change messages. Calls come on the thread
// of the deleting procedure, possibly several at once.
class IArchiveMessageSink {
public:
    virtual ~IArchiveMessageSink() = default;
    // kind 0: ARCH_DELETE or a recorder's ARCH_NEW; kind 1: DELETE_FILE, a
    // recorder's audio reactions (wrapped into events) and FILE_REC_ERROR.
    virtual void OnMessage(const Event& message, int kind) = 0;
    // A record's video file was deleted; begin and end are local times.
    virtual void OnFileDeleted(int channel, const char* path, const TSS& begin, const TSS& end) = 0;
    // Forwarded unchanged from the recorders.
    virtual void OnRecorderNotification(int /*first*/, int /*second*/) {}
    // A recorder's queue length as its thread takes an entry; the sink keeps
    // its own per-channel limit and mark and raises its queue signal (once,
    // until the mark is cleared) when the length is below the limit.
    virtual void OnRecorderQueue(int /*channel*/, size_t /*length*/) {}
    // A recorder finished a file at `path`; begin and end are local times.
    virtual void OnFileRecorded(int /*channel*/, const char* /*path*/, const TSS& /*begin*/, const TSS& /*end*/) {}
};

// "DD-MM-YY" of a local time (two-digit year: -2000 from 2000, -1900 from 1951
// to 1999, the year itself up to 1950); empty for an empty or invalid date and
// for the year 9999.
std::string FormatMessageDate(const TSS& time);
// "hh:mm:ss.mmm"; empty when a field is out of range.
std::string FormatMessageTime(const TSS& time);
