// The engine's channel readers: finding and creating them, the frame-read and
// record commands of ExecuteCommand, the nearest-frame read, and closing a
// file in every reader before it is removed.

#include <cstdlib>
#include <vector>

#include <boost/format.hpp>

#include "archive/fs/FileSystem.h"
#include "base/StringConv.h"
#include "base/Log.h"
#include "base/VideoFrame.h"
#include "base/frames/FormatTags.h"

namespace {

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

// "%s\%d": the key of a reader in m_readers.
std::string FormatReaderKey(const std::string& slaveId, int camera) {
    std::string key;
    key.reserve(slaveId.size() + 12);
    key += slaveId;
    key += '\\';
    key += std::to_string(camera);
    return key;
}

// The sub-slave a slave id names: the text between the first and the second
// "!", or the whole id when it holds "|", else none.
std::string SubSlaveIdOf(const std::string& slaveId) {
    const size_t bang = slaveId.find('!');
    if (bang != std::string::npos) {
        const size_t next = slaveId.find('!', bang + 1);
        return slaveId.substr(bang + 1, next == std::string::npos ? std::string::npos : next - bang - 1);
    }
    if (slaveId.find('|') != std::string::npos) return slaveId;
    return std::string();
}

}  // namespace

std::shared_ptr<FileReader> FileSystem::GetReader(const std::string& slaveId, int camera) {
    const std::string key = FormatReaderKey(slaveId, camera);
    SyncLock lock(m_readersLock);
    auto it = m_readers.find(key);
    std::shared_ptr<FileReader> reader;
    if (it != m_readers.end()) {
        reader = it->second;
    } else {
        {
            SyncLock volumes(m_volumesLock);
            reader = std::make_shared<FileReader>(nullptr, camera, this, m_volumes);
        }
        m_readers[key] = reader;
        reader->SetSubSlaveId(SubSlaveIdOf(slaveId));
        Log()->Message("[FILESYSTEM] CreateReader: slave_id %s, subslave_id %s, chan: %d, name %s", slaveId.c_str(),
                       reader->GetSubSlaveId().c_str(), camera, key.c_str());
    }
    Log()->Message("[FILESYSTEM] GetReader: slave_id %s, subslave_id %s, chan: %d, return %s", slaveId.c_str(),
                   reader->GetSubSlaveId().c_str(), camera, key.c_str());
    return reader;
}

size_t FileSystem::GetReaderCount() const {
    SyncLock lock(m_readersLock);
    return m_readers.size();
}

void FileSystem::ClearReaders() {
    std::map<std::string, std::shared_ptr<FileReader>> readers;
    {
        SyncLock lock(m_readersLock);
        readers.swap(m_readers);
    }
    // Readers are stopped outside the lock: stopping waits for play threads.
    for (auto& item : readers) item.second->StopPlay();
}

Storage::IPlayInfo* FileSystem::GetPlayInfo(int camera) {
    std::shared_ptr<FileReader> reader = GetReader("", camera);
    return reader.get();
}

void FileSystem::StopReadingFile(const std::string& path) {
    SyncLock lock(m_readersLock);
    if (m_readers.empty()) return;
    int count = 0;
    for (auto& item : m_readers) {
        if (item.second->IsCurrentFile(path)) ++count;
        item.second->CloseFile(path.c_str());
    }
    Log()->Message(boost::format("[FILESYSTEM] Stoped reading file \"%1%\". Total readers for file: %2%.") % path %
                   count);
}

int FileSystem::ExecuteCommand(const std::string& slaveId, VideoFrame* frame, unsigned code, ReceiverPtr receiver,
                               int passwordCrc, int mode, std::string* error) {
    auto fail = [error](const std::string& text) {
        if (error) *error = text;
        return 0;
    };
    if (GetVolumeCount() == 0) return fail("No mounted volumes");
    if (!frame) return fail("No command frame");

    switch (code) {
    case QOR_FS::ARCH_FRAME_TIME_NEAREST: {
        const auto result = ReadFrameNearest(slaveId, frame, code, receiver, passwordCrc, mode);
        if (!result.first) return fail(result.second);
        return 1;
    }
    case QOR_FS::DELETE_RECORD:
        return DeleteRecord(frame) ? 1 : fail("DeleteRecord error");
    case QOR_FS::BOOKMARK:
        return BookmarkRecords(slaveId, frame, true, true) ? 1 : fail("BookmarkRecords QOR_FS::BOOKMARK error");
    case QOR_FS::UNBOOKMARK:
        return BookmarkRecords(slaveId, frame, false, false) ? 1 : fail("BookmarkRecords QOR_FS::UNBOOKMARK error");
    case QOR_FS::PROTECT:
        return ProtectRecord(slaveId, frame, true) ? 1 : fail("ProtectRecord QOR_FS::PROTECT error");
    case QOR_FS::UNPROTECT:
        return ProtectRecord(slaveId, frame, false) ? 1 : fail("ProtectRecord QOR_FS::UNPROTECT error");
    default:
        break;
    }

    std::shared_ptr<FileReader> reader = GetReader(slaveId, frame->m_nChan);
    reader->SetPasswordCrc(passwordCrc);
    if (code == QOR_FS::CLOSE_READER) {
        const int closed = reader->CloseFile(nullptr);
        if (closed) {
            SyncLock lock(m_readersLock);
            auto it = m_readers.find(FormatReaderKey(slaveId, frame->m_nChan));
            if (it != m_readers.end() && it->second == reader) m_readers.erase(it);
        }
        return closed;
    }

    const int position = reader->GetPosition();
    const std::string request = frame->m_sFileId;
    if (!reader->ReadFrame(frame, static_cast<int>(code), receiver.get(), mode))
        return fail(str(boost::format("FileReader::ReadFrame(1) error, cam = %1%, slave_id = %2%, ret = %3%, "
                                      "fileid = '%4%', dir = %5%.") %
                        frame->m_nChan % slaveId % "false" % request % code));
    if (code == QOR_FS::ARCH_FRAME_LAST && IsInterFrameFormat(frame) && frame->m_nFrameNumber == position &&
        frame->m_sFileId == request) {
        // The last frame of a codec with predicted frames is the one already
        // shown: step on into the next file.
        frame->m_sFileId = "next";
        if (!reader->ReadFrame(frame, QOR_FS::ARCH_FRAME_FIRST, receiver.get(), mode))
            return fail(str(boost::format("FileReader::ReadFrame(2) error, cam = %1%, slave_id = %2%, "
                                          "pframe->m_sFileId = '%3%', dir = %4%.") %
                            frame->m_nChan % slaveId % frame->m_sFileId % 0));
    }
    return 1;
}

std::pair<bool, std::string> FileSystem::ReadFrameNearest(const std::string& slaveId, VideoFrame* frame,
                                                          unsigned code, ReceiverPtr receiver, int passwordCrc,
                                                          int mode) {
    if (!receiver || !frame) return {false, std::string()};
    const std::vector<std::string> words = SplitBlankSeparated(frame->m_sFileId);
    auto word = [&words](size_t i) { return i < words.size() ? words[i] : std::string(); };
    TSS requested{};
    requested.ParseDate(word(1).c_str());
    requested.ParseTime(word(2).c_str());
    const std::string param = word(3);

    VideoFramePtr candidate(new VideoFrame(*frame, true), false);
    candidate->m_tssTime = requested;
    std::shared_ptr<FileReader> reader = GetReader(slaveId, candidate->m_nChan);
    reader->SetPasswordCrc(passwordCrc);
    reader->ReadFrame(candidate.get(), static_cast<int>(code), nullptr, mode);
    // The file the channel's recorder is writing holds the newest frames.
    if (const std::shared_ptr<FileRecorder> recorder = GetRecorder(frame->m_nChan, false, std::string())) {
        VideoFramePtr recorded(new VideoFrame(*frame, true), false);
        recorded->m_tssTime = requested;
        recorder->ReadFrameOfCurrentFile(recorded.get());
    }
    // No frame sink is attached in this program, so a candidate is never
    // delivered.
    return {false, str(boost::format("ReadFrameNearest(ARCH_FRAME_TIME_NEAREST): Not found frame for cam: '%1%', "
                                     "time: '%2%', request param: '%3%'.") %
                       frame->m_nChan % requested.ToIsoString() % param)};
}
