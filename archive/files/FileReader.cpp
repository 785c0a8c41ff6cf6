#include "archive/files/FileReader.h"

#include "base/StringConv.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <thread>

#include <boost/date_time/gregorian/gregorian_types.hpp>

#include "archive/files/FailureReports.h"
#include "archive/files/FrameCodecs.h"
#include "base/Log.h"
#include "base/Messages.h"
#include "base/Registry.h"
#include "base/VideoFrame.h"
#include "base/frames/FormatTags.h"

namespace {

constexpr const char* kVideoKey = "SOFTWARE\\QOR\\Vindara\\Video";
constexpr uint64_t kNoTime = 0;

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool SameEntry(const VindaraFileSystem::DirEntry& a, const VindaraFileSystem::DirEntry& b) {
    return a.begin == b.begin && a.end == b.end;
}

bool HasData(const VideoFrame* frame) { return frame->m_pData != nullptr && frame->m_cbData != 0; }

// Unix milliseconds of a local time stamp.
uint64_t UnixMsOf(const TSS& t) {
    const uint64_t archive = t.ToUtcMilliseconds();
    return archive >= kArchiveUnixOffsetMs ? archive - kArchiveUnixOffsetMs : 0;
}

// The local time of Unix milliseconds as a plain date-time value.
boost::posix_time::ptime LocalPtimeOf(uint64_t unixMs) {
    const TSS t = TSS::FromUtc(unixMs + kArchiveUnixOffsetMs);
    if (t.IsEmpty() || !t.IsValidDate()) return boost::posix_time::ptime(boost::posix_time::not_a_date_time);
    try {
        return boost::posix_time::ptime(boost::gregorian::date(t.wYear, t.wMonth, t.wDay),
                                        boost::posix_time::hours(t.wHour) + boost::posix_time::minutes(t.wMinute) +
                                            boost::posix_time::seconds(t.wSecond) +
                                            boost::posix_time::milliseconds(t.dwMilliseconds % 1000));
    } catch (const std::exception&) {
        return boost::posix_time::ptime(boost::posix_time::not_a_date_time);
    }
}

std::once_flag g_compressorOnce;
int g_compressorVersion = 55;
std::once_flag g_priorityOnce;
int g_readerPriority = 0;

std::string ReadVideoValue(const char* name) {
    RegistryKey key(kVideoKey, false, RegistryKey::kRead | RegistryKey::kWow64_32Key);
    return key.ReadString(name, "", 32);
}

}  // namespace

// --- process-wide values --------------------------------------------------------

int FileReader::MakeCompressorVersion(const std::string& text) {
    if (text.empty()) return 55;
    const int value = static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
    return value == 122 || value == 124 ? 110 : value;
}

int FileReader::MakeReaderPriority(const std::string& text) {
    if (text.empty()) return 0;
    const int value = static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
    return value > 15 || value < -15 ? 0 : value;
}

int FileReader::GetCompressorVersion() {
    std::call_once(g_compressorOnce, [] { g_compressorVersion = MakeCompressorVersion(ReadVideoValue("CompressorVersion")); });
    return g_compressorVersion;
}

int FileReader::GetReaderPriority() {
    std::call_once(g_priorityOnce, [] { g_readerPriority = MakeReaderPriority(ReadVideoValue("ReaderPriority")); });
    return g_readerPriority;
}

std::string GetCompanionFileName(const std::string& videoPath) {
    const size_t slash = videoPath.find_last_of("/\\");
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = videoPath.rfind('.');
    std::string base = videoPath;
    std::string ext;
    if (dot != std::string::npos && dot >= nameStart) {
        base = videoPath.substr(0, dot);
        ext = videoPath.substr(dot);
    }
    for (char& c : ext)
        if (c == '_') c = 'w';
    if (ext.empty() || ext[0] != '.') ext.insert(ext.begin(), '.');
    const std::string companion = base + ext;
    return FileExists(companion) ? companion : std::string();
}

// --- life --------------------------------------------------------------------------

FileReader::FileReader(IFrameHook* hook, int camera, IFileReaderOwner* owner, const std::vector<Volume>& volumes)
    : FileProcessor(camera, owner, volumes),
      m_framesReader(owner ? owner->GetPFrameMode() : false),
      m_frameHook(hook),
      m_owner(owner) {
    GetCompressorVersion();
}

FileReader::~FileReader() {
    m_paused = false;
    StopPlay();
    if (IsRunning()) Thread::Stop(false);
    SyncLock lock(m_fileLock);
    m_framesReader.Close();
}

bool FileReader::IsOpen() const {
    SyncLock lock(m_fileLock);
    return m_framesReader.IsReady();
}

bool FileReader::playThreadRunning() const { return IsRunning(); }

int FileReader::Pause() {
    m_paused = true;
    return 1;
}

int FileReader::Resume() {
    m_paused = false;
    return 1;
}

void FileReader::SetToken(const std::string& token) {
    SyncLock lock(m_valuesLock);
    m_token = token;
}

std::string FileReader::GetToken() const {
    SyncLock lock(m_valuesLock);
    return m_token;
}

void FileReader::SetSubSlaveId(const std::string& id) {
    SyncLock lock(m_valuesLock);
    m_subSlaveId = id;
}

std::string FileReader::GetSubSlaveId() const {
    SyncLock lock(m_valuesLock);
    return m_subSlaveId;
}

std::string FileReader::GetOpenFilePath() const {
    SyncLock lock(m_fileLock);
    return m_framesReader.IsReady() ? m_framesReader.GetFilePath() : std::string();
}

bool FileReader::isFaceCapture() const {
    return m_owner && m_nChan > m_owner->GetFirstFaceCaptureId();
}

std::shared_ptr<VindaraFileSystem::Dir> FileReader::getDir() const {
    return m_owner ? m_owner->GetCameraDir(m_nChan) : nullptr;
}

void FileReader::sendEvent(IPlayReceiver* receiver, const char* action) const {
    if (!receiver) return;
    Event event(isFaceCapture() ? "CAM_FACECAPTURE" : "CAM", m_nChan, action);
    event.SetParam("token", GetToken());
    const std::string sub = GetSubSlaveId();
    if (!sub.empty()) event.SetParam("sub_slave_id", sub);
    receiver->SendMessage(event, 0);
}

void FileReader::takeEntry(const VindaraFileSystem::DirEntry& entry, const std::string& folder) {
    SetVolumeIndex(entry.volumeIndex);
    m_fileNumber = static_cast<int32_t>(entry.fileId);
    m_hourFolder = folder;
    m_protected = entry.isProtected;
    SetCurrentEntry(entry);
}

void FileReader::closeFramesReader() {
    m_framesReader.Close();
    m_openEntry = VindaraFileSystem::DirEntry::Empty();
}

// --- play -------------------------------------------------------------------------

int FileReader::StartPlay(std::shared_ptr<IPlayReceiver> receiver, int crossFiles, int rateLimit, int value,
                          int noWait, int direction) {
    SyncLock play(m_playLock);
    if (IsRunning()) {
        {
            SyncLock lock(m_receiverLock);
            m_receiver.reset();
        }
        Resume();
        if (IsRunning()) Thread::Stop(false);
    }
    {
        SyncLock lock(m_fileLock);
        m_framesReader.ResetPlayClock();
    }
    {
        SyncLock lock(m_receiverLock);
        m_receiver = std::move(receiver);
        if (m_receiver) {
            std::string sub = GetSubSlaveId();
            m_receiver->FillSubSlaveId(m_nChan, sub);
            SetSubSlaveId(sub);
            m_receiver->SetClientInfo(m_archiveClient, value);
            sendEvent(m_receiver.get(), "NEW_TOKEN");
        }
    }
    Resume();
    m_crossFiles = crossFiles;
    m_noWait = noWait;
    m_rateLimit = rateLimit;
    m_direction = direction;
    m_lastDelay = 0;
    m_throttled = 0;
    m_speed = 1.0;
    // The thread is held at its start until its priority is set: a short play
    // could otherwise end before the priority is given.
    if (!IsOpen() || !Thread::Start(kCreateSuspended, 0, "FileReader")) return 0;
    const bool prioritySet = SetPriority(GetReaderPriority());
    Thread::Resume();
    return prioritySet ? 1 : 0;
}

int FileReader::StopPlay() {
    std::shared_ptr<IPlayReceiver> receiver;
    {
        SyncLock lock(m_receiverLock);
        receiver = std::move(m_receiver);
        m_receiver.reset();
        if (!receiver) return 0;
        receiver->Release();
        receiver->Detached(GetSubSlaveId(), m_nChan);
    }
    if (IsRunning()) {
        Resume();
        Thread::Stop(false);
    }
    sendEvent(receiver.get(), "PLAY_STOPPED");
    return 1;
}

bool FileReader::Run() {
    if (m_paused.load()) {
        SleepMs(10);
        return true;
    }
    const bool forward = m_direction == 0;
    const int code = forward ? ReadNext : ReadPrev;
    const char* word = forward ? "next" : "prev";
    const int codeAfterChange = forward ? ReadNext : ReadLast;

    {
        SyncLock lock(m_receiverLock);
        if (!m_receiver) return false;
        const int queued = m_receiver->GetQueueLength(m_nChan);
        // Back-pressure with hysteresis: wait above 100 queued frames until
        // the receiver is down to 50.
        if (!m_throttled && queued > 100) {
            m_throttled = 1;
            SleepMs(10);
            return true;
        }
        if (m_throttled) {
            if (queued > 50) {
                SleepMs(10);
                return true;
            }
            m_throttled = 0;
        }
    }

    VideoFramePtr frame(new VideoFrame("", m_nChan), false);
    const double speed = m_speed.load();
    int ok = 0;
    uint32_t trailerFlag = 0;
    {
        SyncLock lock(m_fileLock);
        ok = doReadFrame(frame.get(), code, nullptr, 0, speed);
        trailerFlag = m_framesReader.GetTrailerFlag();
    }
    if (!ok && (m_crossFiles || trailerFlag == 1 || !forward)) {
        while (true) {
            SyncLock lock(m_fileLock);
            const int opened = openFile(word, nullptr, ReadTimeAnyHour);
            if (opened == 0) break;
            if (opened == 1 && doReadFrame(frame.get(), codeAfterChange, nullptr, 0, speed)) {
                ok = 1;
                break;
            }
        }
        m_lastDelay = 0;
    }

    if (!ok) {
        bool growing = false;
        if (m_noWait == 0 && m_crossFiles && trailerFlag == 1) {
            if (auto dir = getDir()) {
                SyncLock lock(m_fileLock);
                growing = SameEntry(GetCurrentEntry(), dir->GetLastEntry());
            }
        }
        if (growing) {
            // The newest file of the camera is still being written: look again
            // later instead of ending the play.
            for (int i = 0; i < 100; ++i) {
                SleepMs(10);
                SyncLock lock(m_receiverLock);
                if (!m_receiver) return false;
            }
            return true;
        }
        SyncLock lock(m_receiverLock);
        if (m_receiver) {
            sendEvent(m_receiver.get(), "PLAY_STOP");
            m_receiver->Detached(GetSubSlaveId(), m_nChan);
            m_receiver.reset();
        }
        return false;
    }

    // Rate limit: frames too close to the last delivered one are dropped, and
    // so are predicted frames, so that only independently decodable frames go
    // out.
    if (m_rateLimit > 0) {
        const int d = m_lastDelay;
        const int window = 1000 / m_rateLimit - 10;
        const bool key = IsKeyFrame(frame.get()) != 0;
        if (d > 0 && frame->m_lDelay >= d && frame->m_lDelay <= d + window &&
            frame->m_nFrameNumber != frame->m_nTotalFrames - 1 &&
            (!key || GetVideoFormatFamily(frame.get()) == FamilyPicture))
            return true;
        if (!key && IsInterFrameFormat(frame.get())) return true;
    }

    const std::string sub = GetSubSlaveId();
    if (!sub.empty()) {
        frame->m_strName += "|" + sub;
        SleepMs(1);
    }

    SyncLock lock(m_receiverLock);
    if (!m_receiver) return false;
    // Logs the first and the last frame of each file and the one that crosses
    // its middle. A one-frame file logs its frame once.
    const int t = std::abs(frame->m_nTotalFrames) - 1;
    bool logIt = true;
    int p = 0;
    if (t > 0) {
        p = std::abs(static_cast<int>(frame->m_nFrameNumber * 10000.0 / t));
        logIt = p % 5000 - static_cast<int>(10000.0 / t) < 0;
    }
    if (logIt) {
        const std::string time = frame->m_tssTime.ToString(true, true);
        Log()->Message("%s::FileReader ch=%05d %d%% -> time=%s; file=\"%s\"", GetLogPrefix().c_str(), frame->m_nChan,
                       p / 100, time.c_str(), frame->m_sFileId.c_str());
    }
    frame->m_nTotalFrames = -frame->m_nTotalFrames;
    m_receiver->Deliver(sub, frame.get(), 0);
    m_lastDelay = frame->m_lDelay;
    return true;
}

// --- single reads ---------------------------------------------------------------

int FileReader::ReadFrame(VideoFrame* frame, int code, IPlayReceiver* requester, int value) {
    if (!frame) return 0;
    SyncLock play(m_playLock);
    StopPlay();
    std::string w = frame->m_sFileId;

    if (code == ReadLast && w == "prev" && m_position > 0) {
        frame->m_sFileId.clear();
        code = ReadPrev;
    } else if (m_lastReadCode == ReadNext && code == ReadFirst && w == "next") {
        SyncLock lock(m_fileLock);
        if (m_position + 1 < static_cast<int64_t>(m_framesReader.GetFrameCount())) code = ReadNext;
    }
    m_lastReadCode = code;
    if (w == "prev!") {
        frame->m_sFileId = "prev";
        w = "prev";
    }

    SyncLock file(m_fileLock);
    const std::string text = frame->m_sFileId;
    // The open file's path is built only when a path was asked for.
    const std::string currentPath = text.empty() ? std::string() : GetFilePath(m_fileNumber, m_hourFolder.c_str());
    if (!m_framesReader.IsReady() || (!text.empty() && text != currentPath)) {
        TSS time{};
        if (openFile(text, &time, code) != 1) {
            if (text.empty() || text == currentPath) Close();
            return 0;
        }
        frame->m_tssTime = time;
    }

    if (!doReadFrame(frame, code, requester, value, 1.0)) {
        const bool backwards = w == "prev" || w == "last" || (w.empty() && code == ReadPrev);
        const char* word = backwards ? "prev" : "next";
        bool ok = false;
        while (openFile(word, nullptr, code) == 1) {
            if (doReadFrame(frame, backwards ? ReadLast : code, requester, value, 1.0)) {
                ok = true;
                break;
            }
        }
        if (!ok) return 0;
    }

    if (requester) {
        const std::string sub = GetSubSlaveId();
        if (!sub.empty()) frame->m_strName += "|" + sub;
        if (m_frameHook) {
            frame->AddRef();
            m_frameHook->OnFrame(frame);
        }
        SyncLock lock(m_receiverLock);
        m_lastRequester = requester;
    }

    // The current entry follows the frame read. Where records overlap, the
    // nearest entry to the frame time may be another file's: the entry of the
    // open file is kept then, so that the walk to the adjacent file starts
    // from the file actually played.
    if (auto dir = m_owner ? m_owner->GetCameraDir(frame->m_nChan) : nullptr) {
        const uint64_t t = UnixMsOf(frame->m_tssTime);
        VindaraFileSystem::DirEntry entry = dir->FindNearestEntry(t);
        if (m_openEntry.IsSet() && !SameEntry(entry, m_openEntry) && t >= m_openEntry.begin &&
            t <= m_openEntry.end && m_owner->GetEntryFilePath(m_nChan, m_openEntry, kVideoLetter) ==
                                        m_framesReader.GetFilePath())
            entry = m_openEntry;
        if (entry.IsSet()) takeEntry(entry, EntryFolderOf(entry.date));
    }
    return 1;
}

const std::string& FileReader::EntryFolderOf(uint64_t date) {
    const uint64_t zone = TssTimeZone::UtcToLocalGeneration();
    if (!m_entryFolder.valid || m_entryFolder.date != date || m_entryFolder.zone != zone) {
        m_entryFolder.folder = FormatEntryDate(date);
        m_entryFolder.date = date;
        m_entryFolder.zone = zone;
        m_entryFolder.valid = true;
    }
    return m_entryFolder.folder;
}

int64_t FileReader::readPlain(VideoFrame* frame, int64_t n, double speed, bool backward, bool needPFrame) {
    if (n < 0) return -1;
    return m_framesReader.ReadFrame(*frame, static_cast<uint64_t>(n), needPFrame, true, speed, backward);
}

int FileReader::doReadFrame(VideoFrame* frame, int code, IPlayReceiver* requester, int value, double speed) {
    if (!m_framesReader.IsReady()) return 0;
    try {
        return doReadFrameSwitch(frame, code, requester, value, speed);
    } catch (const platform::FileException& e) {
        FailureReports::LogErrorLine(
            FailureReports::ReaderReadFrameFileError(GetLogPrefix(), m_framesReader.GetFilePath(), e));
    } catch (const platform::ArchiveException& e) {
        FailureReports::LogErrorLine(
            FailureReports::ReaderReadFrameArchiveError(GetLogPrefix(), m_framesReader.GetFilePath(), e));
    }
    try {
        closeFramesReader();
    } catch (const platform::FileException& e) {
        FailureReports::LogErrorLine(
            FailureReports::ReaderCloseError(GetLogPrefix(), m_framesReader.GetFilePath(), e));
    }
    return 0;
}

int FileReader::doReadFrameSwitch(VideoFrame* frame, int code, IPlayReceiver* requester, int value, double speed) {
    const int64_t n = static_cast<int64_t>(m_framesReader.GetFrameCount());
    const std::string path = m_framesReader.GetFilePath();
    auto fallback = [&](int c) { return doReadFrameSwitch(frame, c, requester, 0, 1.0); };
    auto setPosition = [&](int64_t read) {
        if (read >= 0) m_position = static_cast<int>(read);
    };
    const int position = m_position;

    switch (code) {
    case ReadFirst: {
        m_reEncoded = 0;
        m_position = 0;
        setPosition(readPlain(frame, 0));
        if (HasData(frame) && !IsKeyFrame(frame))
            QOR_LOG_ERROR(Log(), "%s First frame is not PFrame. File: %s", GetLogPrefix().c_str(), path.c_str());
        m_firstFrameFormat = GetVideoFrameFormat(frame);
        break;
    }
    case ReadPrev:
        if (position <= 0) return 0;
        setPosition(readPlain(frame, position - 1, speed, true));
        break;
    case ReadPrevExact:
        if (position <= 0) return 0;
        m_position = position - 1;
        if (!readFrameExact(frame, m_position, value)) return fallback(ReadFirst);
        break;
    case ReadNext:
        if (position >= n - 1) return 0;
        m_position = position + 1;
        if (m_reEncoded) {
            if (!readFrameExact(frame, m_position, value)) return fallback(ReadLast);
        } else {
            setPosition(readPlain(frame, m_position, speed));
        }
        break;
    case ReadLast:
        if (position >= n - 1) return 0;
        m_position = static_cast<int>(n - 1);
        if (m_direction != 0) {
            setPosition(readPlain(frame, m_position, speed, true));
        } else if (!readFrameAt(frame, value)) {
            return fallback(ReadFirst);
        }
        break;
    case ReadLastExact:
        if (position >= n - 1) return 0;
        m_position = static_cast<int>(n - 1);
        if (!readFrameExact(frame, value, 0)) return fallback(ReadFirst);
        break;
    case ReadNumber:
    case ReadNumberExact: {
        const int64_t k = frame->m_nFrameNumber;
        if (k >= n || k < 0) return 0;
        m_position = static_cast<int>(k);
        setPosition(readPlain(frame, k));
        const int pos = m_position;
        if (requester && pos > 0 && pos < n && !IsKeyFrame(frame) &&
            (GetVideoFrameFormat(frame) > 'g' || IsInterFrameFormat(frame))) {
            const int r = code == ReadNumberExact ? readFrameExact(frame, pos, value) : readFrameAt(frame, value);
            if (!r) return fallback(ReadFirst);
        }
        break;
    }
    case ReadTimeAnyHour:
    case ReadTimeExact:
    case ReadTime: {
        const TSS t = frame->m_tssTime;
        if (code != ReadTimeAnyHour && t.wHour == 0 && t.wMinute == 0 && t.wSecond == 0) return 0;
        const int64_t k = m_framesReader.ReadFrameAtTime(*frame, t, false, false);
        if (k < 0) return fallback(ReadFirst);
        m_position = static_cast<int>(k);
        const int r = code == ReadTimeExact ? readFrameExact(frame, m_position, value) : readFrameAt(frame, value);
        if (!r) return fallback(ReadFirst);
        break;
    }
    default:
        return 0;
    }

    if ((code == ReadLast || code == ReadNumber) && !HasData(frame)) {
        for (int64_t i = static_cast<int64_t>(m_position) - 1; i >= 0; --i)
            if (readPlain(frame, i) >= 0 && HasData(frame)) break;
    }
    if (!HasData(frame)) return 0;

    frame->m_sFileId = path;
    frame->m_nFrameNumber = m_position;
    frame->m_nTotalFrames = static_cast<int32_t>(n);
    if (m_framesReader.IsReady() && m_framesReader.GetHeaderIdMatch() == kHeaderIdDiffers) {
        // A file recorded under another password plays as a fixed picture.
        frame->FreeData();
        const uint32_t size = static_cast<uint32_t>((frame->m_bColor + 1) * kPasswordImageWidth * kPasswordImageHeight);
        if (!frame->AllocData(size)) return 0;
        std::memset(frame->m_pData, 0, size);
        static const char kText[] = "password error";
        std::memcpy(frame->m_pData, kText, sizeof kText);
        frame->m_cbData = size;
        frame->m_nWidth = kPasswordImageWidth;
        frame->m_nHeight = kPasswordImageHeight;
        frame->m_nFormat = 0;
    }
    return 1;
}

int FileReader::readFrameAt(VideoFrame* frame, int back) {
    m_reEncoded = 0;
    const int64_t read = readPlain(frame, m_position);
    if (read < 0) return 0;
    // The frame read is the position: a time after the last frame of a file
    // read without its index asks for frame "count", and gets count - 1.
    m_position = static_cast<int>(read);
    if (!m_owner || !m_owner->GetPFrameMode()) return 1;

    m_firstFrameFormat = GetVideoFrameFormat(frame);
    const bool key = IsKeyFrame(frame) != 0;
    const bool inter = IsInterFrameFormat(frame) != 0;
    if ((inter && !key) || (inter && back != 0)) {
        const int d = m_position - back;
        const int64_t got = readPlain(frame, d > 0 ? d : 0, 1.0, false, true);
        if (got >= 0) m_position = static_cast<int>(got);
        return d > 0 && IsKeyFrame(frame) ? 1 : 0;
    }
    if (!key && GetVideoFrameFormat(frame) > 'g') {
        VideoFramePtr keyFrame(new VideoFrame("", m_nChan), false);
        readPlain(keyFrame.get(), m_position, 1.0, false, true);
        if (HasData(keyFrame.get())) {
            VideoFramePtr joined = MakeFrameWithKeyHeader(keyFrame.get(), frame);
            if (joined) frame->CopyWithData(*joined);
        } else {
            frame->FreeData();
        }
    }
    return 1;
}

int FileReader::readFrameExact(VideoFrame* frame, int target, int back) {
    m_reEncoded = 0;
    const int64_t read = readPlain(frame, m_position);
    if (read < 0) return 0;
    m_position = static_cast<int>(read);
    const int format = GetVideoFrameFormat(frame);
    if (IsKeyFrame(frame) || (format < 'h' && !IsInterFrameFormat(frame))) return 1;
    const int r = readFrameAt(frame, back);
    if (!(IsInterFrameFormat(frame) && m_position < target)) return r;
    return rebuildExact(frame, target);
}

int FileReader::rebuildExact(VideoFrame* frame, int target) {
    if (!m_decompressor) m_decompressor = FrameCodecs::CreateDecompressor();
    if (!m_decompressor) {
        QOR_LOG_ERROR(Log(), "%s::FileReader can't rebuild frame %d of %s: no frame decompressor is installed",
                      GetLogPrefix().c_str(), target, m_framesReader.GetFilePath().c_str());
        return 0;
    }
    VideoFramePtr picture;
    try {
        picture = m_decompressor->Decompress(frame, 0);
        frame->FreeData();
        while (m_position < target) {
            const int next = m_position + 1;
            if (readPlain(frame, next) < 0) return 0;
            m_position = next;
            picture = m_decompressor->Decompress(frame, 0);
            frame->FreeData();
            if (!picture || !picture->m_pData) return 0;
        }
    } catch (const std::exception& e) {
        QOR_LOG_ERROR(Log(), "%s::FileReader can't rebuild frame %d of %s: %s", GetLogPrefix().c_str(), target,
                      m_framesReader.GetFilePath().c_str(), e.what());
        frame->FreeData();
        return 0;
    }
    if (!picture || !picture->m_pData || picture->m_nWidth <= 0) return 0;

    const int version = GetCompressorVersion();
    if (!m_compressor || m_compressor->GetVersion() != version) {
        m_compressor = FrameCodecs::CreateCompressor();
        if (!m_compressor) {
            QOR_LOG_ERROR(Log(), "%s::FileReader can't rebuild frame %d of %s: no frame compressor is installed",
                          GetLogPrefix().c_str(), target, m_framesReader.GetFilePath().c_str());
            return 0;
        }
        m_compressor->Init(0, version);
    }
    const int layout =
        picture->m_nFormat == FrameFormatOtherColor ? 0 : (picture->m_nFormat == FrameFormatYuv420 ? 1 : 2);
    std::vector<uint8_t> packed;
    const uint8_t* pixels = picture->ContiguousData(packed);
    if (!pixels) return 0;
    int size = 0;
    try {
        size = m_compressor->Compress(pixels, 2, picture->m_nWidth, picture->m_nHeight, picture->m_bColor,
                                      1, layout);
    } catch (const std::exception&) {
        m_compressor.reset();
        return 0;
    }
    if (size <= 0) return 0;
    if (!frame->AllocData(static_cast<uint32_t>(size))) return 0;
    std::memcpy(frame->m_pData, m_compressor->GetOutput(), static_cast<size_t>(size));
    frame->m_cbData = static_cast<uint32_t>(size);
    frame->m_nWidth = picture->m_nWidth;
    frame->m_nHeight = picture->m_nHeight;
    frame->m_nFormat = FrameFormatCompressed;
    m_reEncoded = 1;
    return 1;
}

// --- opening files --------------------------------------------------------------

int FileReader::openFile(const std::string& text, TSS* timeOut, int code) {
    if (text == "first") {
        auto dir = getDir();
        if (!dir) return 0;
        while (true) {
            if (findEntryForTime(TSS{}, 0) == 0) return 0;
            const auto entry = GetCurrentEntry();
            if (doOpenFile(m_fileNumber, m_hourFolder) == 1) {
                m_openEntry = entry;
                return 1;
            }
            dir->RemoveEntry(entry);
        }
    }
    if (text == "prev") return openAdjacentFile(false);
    if (text == "next") return openAdjacentFile(true);
    if (text == "last") {
        auto dir = getDir();
        if (!dir) return 0;
        while (true) {
            if (findLastEntry() == 0) return 0;
            const auto entry = GetCurrentEntry();
            if (doOpenFile(m_fileNumber, m_hourFolder) == 1) {
                m_openEntry = entry;
                return 1;
            }
            dir->RemoveEntry(entry);
        }
    }
    if (text.rfind("time", 0) == 0) return openFileTime(text, timeOut, code);
    if (text.rfind("find", 0) == 0) return 0;

    std::vector<std::string> parts;
    {
        size_t start = 0;
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i == text.size() || text[i] == '/' || text[i] == '\\') {
                if (i > start) parts.push_back(text.substr(start, i - start));
                start = i + 1;
            }
        }
    }
    if (parts.size() < 2) {
        QOR_LOG_ERROR(Log(), "%s::FileReader::openFile(). Incorrect path: %s, this = %p", GetLogPrefix().c_str(),
                      text.c_str(), static_cast<const void*>(this));
        return 0;
    }
    const std::string& name = parts.back();
    const std::string& folder = parts[parts.size() - 2];
    const bool isProtected = folder == "PROTECTED";
    std::string idText = name;
    if (isProtected) {
        const auto words = SplitBlankSeparated(name);
        idText = words.size() > 2 ? words[2] : std::string();
    }
    const int64_t fileId = static_cast<int64_t>(std::strtoul(idText.c_str(), nullptr, 16));
    m_protected = isProtected ? 1 : 0;
    if (doOpenFile(fileId, folder, text) != 1) return 0;

    auto dir = getDir();
    if (!dir) return 1;
    // Find the directory entry of the file from its folder's date and hour.
    const auto words = SplitBlankSeparated(isProtected ? name : folder);
    TSS date{};
    if (words.size() < 2 || !date.ParseDate(words[0].c_str())) return 0;
    date.wHour = static_cast<uint16_t>(std::strtol(words[1].c_str(), nullptr, 10));
    const int64_t hour = static_cast<int64_t>(UnixMsOf(date) / 3600000);
    bool found = false;
    VindaraFileSystem::DirEntry match = VindaraFileSystem::DirEntry::Empty();
    dir->ForEachEntryInHour(static_cast<int32_t>(hour), [&](const VindaraFileSystem::DirEntry& e) {
        if (e.fileId != static_cast<uint32_t>(fileId) || (e.isProtected != 0) != isProtected) return true;
        const std::string entryFolder = FormatEntryDate(e.date);
        if (!isProtected && entryFolder != folder) return true;
        TSS start = TSS::FromUtc(e.begin + kArchiveUnixOffsetMs);
        if (start.wHour != date.wHour) return true;
        TSS startDate = start.DateOnly();
        TSS parsedDate = date.DateOnly();
        if (!IsSameArchiveTime(startDate, parsedDate)) return true;
        match = e;
        found = true;
        return false;
    });
    if (found) {
        takeEntry(match, isProtected ? FormatEntryDate(match.date) : folder);
        m_openEntry = match;
    }
    return found ? 1 : 0;
}

int FileReader::openFileTime(const std::string& text, TSS* timeOut, int code) {
    const auto words = SplitBlankSeparated(text);
    TSS time{};
    const bool dateOk = words.size() > 1 && time.ParseDate(words[1].c_str());
    if (words.size() > 2) time.ParseTime(words[2].c_str());
    if (!dateOk || !time.IsValidDate() || time.wHour > 23 || time.wMinute > 59 || time.wSecond > 59 ||
        time.dwMilliseconds > 999) {
        QOR_LOG_ERROR(Log(), "%s::FileReader can't open file %s. Filename is invalid", GetLogPrefix().c_str(),
                      text.c_str());
        return 0;
    }
    if (timeOut) *timeOut = time;

    if (code == ReadTimeExact || code == ReadTime) {
        const int32_t fileId = m_fileNumber;
        const std::string folder = m_hourFolder;
        findEntryForTime(time, 3);
        if ((m_fileNumber != fileId || m_hourFolder != folder) && m_framesReader.IsReady()) closeFramesReader();
        m_fileNumber = fileId;
        m_hourFolder = folder;
    }
    if (time.wYear < 1975) time.wYear = 1975;
    auto dir = getDir();
    if (!dir) {
        QOR_LOG_ERROR(Log(), "%s::FileReader::GetDir for %d failed", GetLogPrefix().c_str(), m_nChan);
        return 0;
    }
    while (true) {
        int r = findEntryForTime(time, 3);
        if (r == 0) return 0;
        if (r == 1 && code == ReadTime && findEntryForTime(time, 2) == 0) return 0;
        const auto entry = GetCurrentEntry();
        if (doOpenFile(m_fileNumber, m_hourFolder) == 1) {
            m_openEntry = entry;
            break;
        }
        dir->RemoveEntry(entry);
    }

    if (text.find("time_first") == std::string::npos && m_framesReader.IsReady()) {
        try {
            VideoFramePtr scratch(new VideoFrame("", m_nChan), false);
            const int64_t k = m_framesReader.ReadFrameAtTime(*scratch, time, false, false);
            const int64_t count = static_cast<int64_t>(m_framesReader.GetFrameCount());
            if (k >= 0 && k < count && (k != 0 || !TSS::IsEarlier(time, m_framesReader.GetFrameTime(0))))
                m_position = static_cast<int>(k);
            else
                m_position = -1;
        } catch (const platform::FileException& e) {
            LogException(e, "FileReader::openFileTime");
        } catch (const platform::ArchiveException& e) {
            FailureReports::LogErrorLine(FailureReports::ReaderOpenFileTimeArchiveError(GetLogPrefix(), e));
        }
    }
    return 1;
}

int FileReader::findEntryForTime(const TSS& time, int mode) {
    const uint64_t m = UnixMsOf(time);
    ClearCurrentEntry();
    auto dir = getDir();
    if (!dir) return 0;
    while (true) {
        VindaraFileSystem::DirEntry entry;
        bool atOrBeforeEnd = false;
        switch (mode) {
        case 0: entry = dir->FindNearestEntry(m); break;
        case 1: entry = dir->FindEntryBefore(m); break;
        case 2: entry = dir->FindEntry(m); break;
        case 3:
            entry = dir->FindNearestEntry(m);
            atOrBeforeEnd = m <= entry.end;
            break;
        default: return 0;
        }
        if (!entry.IsSet()) return 0;
        std::string folder = FormatEntryDate(entry.date);
        bool found = FileExists(m_owner->GetEntryFilePath(m_nChan, entry, kVideoLetter));
        if (!found) {
            // Older archives keep their files in folders named by the date alone.
            SyncLock lock(m_volumesLock);
            if (entry.volumeIndex < m_volumes.size() && folder.size() >= 8) {
                const std::string shortFolder = folder.substr(0, 8);
                if (FileExists(m_volumes[entry.volumeIndex].GetFilePath(m_nChan, entry.fileId, shortFolder))) {
                    folder = shortFolder;
                    found = true;
                }
            }
        }
        if (!found) {
            dir->RemoveEntry(entry);
            continue;
        }
        takeEntry(entry, folder);
        return mode == 3 && atOrBeforeEnd ? 2 : 1;
    }
}

int FileReader::findLastEntry() {
    ClearCurrentEntry();
    auto dir = getDir();
    if (!dir) return 0;
    const auto entry = dir->GetLastEntry();
    if (!entry.IsSet()) return 0;
    std::string folder = FormatEntryDate(entry.date);
    takeEntry(entry, folder);
    m_currentFileStart = TSS::FromUtc(entry.begin + kArchiveUnixOffsetMs);
    if (FileExists(m_owner->GetEntryFilePath(m_nChan, entry, kVideoLetter))) return 1;
    SyncLock lock(m_volumesLock);
    if (entry.volumeIndex < m_volumes.size() && folder.size() >= 8) {
        const std::string shortFolder = folder.substr(0, 8);
        if (FileExists(m_volumes[entry.volumeIndex].GetFilePath(m_nChan, entry.fileId, shortFolder))) {
            m_hourFolder = shortFolder;
            return 1;
        }
    }
    ClearCurrentEntry();
    return 0;
}

int FileReader::openAdjacentFile(bool forward) {
    auto dir = getDir();
    if (!dir) return 0;
    m_framesReader.ResetPlayClock();
    const bool volumeValid = GetVolumeIndex() >= 0 && static_cast<size_t>(GetVolumeIndex()) < GetVolumeCount();
    if (volumeValid) {
        const auto edge = forward ? dir->GetLastEntry() : dir->GetFirstEntry();
        if (SameEntry(GetCurrentEntry(), edge) && GetCurrentEntry().IsSet()) return 0;
    }
    TSS c{};
    // The walk keeps its own cursor: a file that turns out missing empties
    // the current entry, and the walk must go on past it.
    VindaraFileSystem::DirEntry cursor = GetCurrentEntry();
    while (true) {
        VindaraFileSystem::DirEntry entry = VindaraFileSystem::DirEntry::Empty();
        if (volumeValid && cursor.IsSet())
            entry = forward ? dir->FindEntry(cursor.begin + 1) : dir->FindEntryBefore(cursor.begin - 1);
        c = GetFileCreationTime(m_fileNumber, m_hourFolder);
        if (!entry.IsSet()) break;
        SetVolumeIndex(entry.volumeIndex);
        m_protected = entry.isProtected;
        SetCurrentEntry(entry);
        if (doOpenFile(entry.fileId, FormatEntryDate(entry.date)) == 1) {
            SetCurrentEntry(entry);
            m_openEntry = entry;
            return 1;
        }
        dir->RemoveEntry(entry);
        cursor = entry;
    }
    // No directory entry: try the neighbouring file id in the same folder.
    if (!forward && m_fileNumber == 0) return 0;
    const int32_t next = forward ? m_fileNumber + 1 : m_fileNumber - 1;
    const TSS t = GetFileCreationTime(next, m_hourFolder);
    if (t.IsEmpty()) return 0;
    if (!forward && TSS::IsLater(t, c)) return 0;
    if (forward && TSS::IsEarlier(t, c)) return 0;
    m_fileNumber = next;
    return doOpenFile(next, m_hourFolder);
}

int FileReader::doOpenFile(int64_t fileId, const std::string& folder, const std::string& givenPath) {
    std::string path = givenPath;
    if (path.empty()) path = m_protected ? GetProtectedFilePath(fileId) : GetFilePath(fileId, folder.c_str());
    Log()->Message("%s::FileReader::doOpenFile() filename = %s, this = %p", GetLogPrefix().c_str(), path.c_str(),
                   static_cast<const void*>(this));
    if (m_framesReader.IsReady() && IsCurrentFile(path)) return 1;
    if (!FileExists(path)) {
        QOR_LOG_ERROR(Log(), "%s File does not exist to read: %s", GetLogPrefix().c_str(), path.c_str());
        ClearCurrentEntry();
        return 0;
    }
    try {
        if (m_framesReader.Open(path, -1)) {
            m_fileNumber = static_cast<int32_t>(fileId);
            m_hourFolder = folder;
            m_position = -1;
            m_openEntry = VindaraFileSystem::DirEntry::Empty();
            ChangeSignal();
            return 1;
        }
        QOR_LOG_ERROR(Log(), "%s Can't open file to read: %s, Error = %d", GetLogPrefix().c_str(), path.c_str(), errno);
        closeFramesReader();
        return -1;
    } catch (const platform::FileException& e) {
        LogException(e, "FileReader::doOpenFile");
        try {
            closeFramesReader();
        } catch (const platform::FileException& again) {
            LogException(again, "FileReader::doOpenFile");
        }
        return 0;
    }
}

// --- other operations ---------------------------------------------------------

bool FileReader::IsCurrentFile(const std::string& name) const {
    SyncLock lock(m_fileLock);
    return m_framesReader.IsReady() && m_framesReader.GetFilePath() == name;
}

void FileReader::Close(bool flag) {
    ClearCurrentEntry();
    StopPlay();
    SyncLock lock(m_fileLock);
    FileProcessor::Close(flag);
    closeFramesReader();
}

int FileReader::CloseFile(const char* name) {
    if (name && !IsCurrentFile(name)) return 0;
    Log()->Message("%s::FileReader::CloseFile() name = %s, this = %p", GetLogPrefix().c_str(), name ? name : "",
                   static_cast<const void*>(this));
    Close();
    return 1;
}

int FileReader::OpenEntryFile(const VindaraFileSystem::DirEntry& entry) {
    SyncLock lock(m_fileLock);
    if (m_framesReader.IsReady()) return 1;
    SetVolumeIndex(entry.volumeIndex);
    SetCurrentEntry(entry);
    m_protected = entry.isProtected;
    if (doOpenFile(entry.fileId, FormatEntryDate(entry.date)) == 1) {
        m_openEntry = entry;
        return 1;
    }
    Close();
    return 0;
}

int FileReader::DeleteCurrentFile() {
    if (IsRunning()) return 0;
    // What is deleted is fixed before the reader moves on: the read below
    // changes the current entry and may change the volume.
    VindaraFileSystem::DirEntry entry;
    std::string path;
    {
        SyncLock lock(m_fileLock);
        entry = GetCurrentEntry();
        path = m_framesReader.IsReady() ? m_framesReader.GetFilePath() : GetFilePath(m_fileNumber, m_hourFolder.c_str());
    }
    IPlayReceiver* requester = nullptr;
    {
        SyncLock lock(m_receiverLock);
        requester = m_lastRequester;
    }
    {
        VideoFramePtr frame(new VideoFrame("", m_nChan), false);
        if (!ReadFrame(frame.get(), ReadNext, requester, 0)) {
            VideoFramePtr back(new VideoFrame("", m_nChan), false);
            ReadFrame(back.get(), ReadPrev, requester, 0);
        }
    }
    if (auto dir = getDir(); dir && entry.IsSet()) dir->RemoveEntry(entry);
    if (m_owner && !path.empty()) m_owner->RemoveFile(path.c_str(), 0, 0);
    SyncLock lock(m_fileLock);
    ClearCurrentEntry();
    return 1;
}

std::string FileReader::GetFilePathForTime(std::string& timeText) {
    SyncLock play(m_playLock);
    StopPlay();
    TSS time{};
    if (!timeText.empty()) time.Parse(timeText.c_str());
    SyncLock file(m_fileLock);
    if (findEntryForTime(time, 2) == 0) return std::string();
    std::string path;
    {
        SyncLock lock(m_volumesLock);
        if (m_volumeIndex >= 0 && static_cast<size_t>(m_volumeIndex) < m_volumes.size())
            path = m_volumes[static_cast<size_t>(m_volumeIndex)].GetFilePath(m_nChan, m_fileNumber, m_hourFolder);
    }
    uint64_t unixMs = 0;
    int error = 0;
    if (path.empty() || !GetFileCreationUnixMs(path, unixMs, error)) return std::string();
    timeText = TSS::FromUtc(unixMs + kArchiveUnixOffsetMs).ToString(true, false);
    return path;
}

Storage::PlayFileInfo FileReader::GetCurrentFileInfo(int which) {
    Storage::PlayFileInfo info;
    SyncLock file(m_fileLock);
    if (GetVolumeIndex() < 0 || static_cast<size_t>(GetVolumeIndex()) >= GetVolumeCount()) return info;
    VindaraFileSystem::DirEntry e = GetCurrentEntry();
    if (!e.IsSet()) return info;
    auto dir = getDir();
    if (which == 1) e = dir ? dir->FindEntry(e.begin + 1) : VindaraFileSystem::DirEntry::Empty();
    if (!e.IsSet()) return info;
    const VindaraFileSystem::DirEntry after = dir ? dir->FindEntry(e.begin + 1) : VindaraFileSystem::DirEntry::Empty();
    const uint64_t end = after.IsSet() ? after.begin : e.end;
    {
        SyncLock lock(m_volumesLock);
        if (e.volumeIndex < m_volumes.size())
            info.videoPath = m_volumes[e.volumeIndex].GetFilePath(m_nChan, e.fileId, FormatEntryDate(e.date));
    }
    info.audioPath = GetCompanionFileName(info.videoPath);
    info.period = boost::posix_time::time_period(LocalPtimeOf(e.begin), LocalPtimeOf(end));
    info.startOffset = 0;
    return info;
}
