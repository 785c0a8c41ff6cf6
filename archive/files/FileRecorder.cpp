#include "archive/files/FileRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include <boost/format.hpp>

#include "archive/files/FailureReports.h"
#include "archive/files/FrameCodecs.h"
#include "archive/files/VideoFileFormat.h"
#include "archive/files/Volume.h"
#include "base/Log.h"
#include "base/Messages.h"
#include "base/PerfCounters.h"
#include "base/Registry.h"
#include "base/Utilities.h"
#include "base/frames/FormatTags.h"

namespace {

constexpr const char* kVideoKey = "SOFTWARE\\QOR\\Vindara\\Video";
constexpr size_t kPartHeadSize = 1000000;
constexpr int kFormat100 = 100;

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

std::atomic<uint32_t> g_renameCounter{0};

// Frames of an engine without an owner share this lock.
qormisc::CriticalSection& StandaloneRecordingLock() {
    static qormisc::CriticalSection lock;
    return lock;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

uint32_t MonotonicTicks() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool HasData(const VideoFrame* frame) { return frame->m_pData != nullptr && frame->m_cbData != 0; }

int LayoutOf(int format) { return format == -1 ? 0 : format == -3 ? 1 : 2; }

std::string ErrnoText(int err) { return std::strerror(err); }

// The first "._" turned into ".w"; false unless exactly one is present.
bool AudioCompanion(std::string& path) {
    const size_t pos = path.find("._");
    if (pos == std::string::npos || path.find("._", pos + 1) != std::string::npos) return false;
    path[pos + 1] = 'w';
    return true;
}

std::string FirstAudioCompanion(std::string path) {
    const size_t pos = path.find("._");
    if (pos != std::string::npos) path[pos + 1] = 'w';
    return path;
}

uint64_t UnixMsOf(const TSS& local) {
    const uint64_t archive = local.ToUtcMilliseconds();
    return archive > kUnixEpochArchiveMs ? archive - kUnixEpochArchiveMs : 0;
}

bool AllZeroDate(const TSS& t) { return t.wDay == 0 && t.wMonth == 0 && t.wYear == 0; }

// "DDMMYYHH.idx" of an hour folder "DD-MM-YY HH".
std::string IndexFileName(const std::string& hourFolder) {
    std::string name;
    for (char c : hourFolder)
        if (c != '-' && c != ' ') name += c;
    return name + ".idx";
}

int32_t ReadVideoInt(RegistryKey& key, const char* name, int32_t def) {
    const std::string text = key.ReadString(name, "", 32);
    return text.empty() ? def : static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

// Sets the access and modification times of a file to a local time stamp.
void SetFileTimes(const std::string& path, const TSS& end, const std::string& prefix) {
    const uint64_t ms = UnixMsOf(end);
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(ms / 1000);
    times[0].tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    times[1] = times[0];
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        const int err = errno;
        QOR_LOG_ERROR(Log(), "%s [ERROR]: SetFileTime -  Error code: %d, %s.", prefix.c_str(), err,
                      ErrnoText(err).c_str());
    }
}

// Copies source to target byte for byte; false (with errno) on failure.
int CopyFile(const std::string& source, const std::string& target) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return err;
    }
    std::vector<char> buffer(1 << 20);
    int err = 0;
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        if (got == 0) break;
        ssize_t done = 0;
        while (done < got) {
            const ssize_t put = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR) continue;
                err = errno;
                break;
            }
            done += put;
        }
        if (err) break;
    }
    if (::close(out) != 0 && !err) err = errno;
    ::close(in);
    return err;
}

// Lists the processes that hold a folder open (lsof +D) into the diagnosis
// log; nothing when lsof is not installed.
void WriteMoveDiagnosis(const std::string& source, const std::string& destination, const std::string& errorText) {
    const char* lsof = nullptr;
    for (const char* candidate : {"/usr/bin/lsof", "/usr/sbin/lsof", "/bin/lsof"})
        if (::access(candidate, X_OK) == 0) {
            lsof = candidate;
            break;
        }
    if (!lsof) return;
    namespace fs = std::filesystem;
    const std::string sourceFolder = fs::path(source).parent_path().string();
    const std::string logPath = str(boost::format("%1%/move_errors.log") % sourceFolder);
    FILE* log = std::fopen(logPath.c_str(), "a");
    if (!log) return;
    TSS now;
    now.SetLocalNow();
    char when[64];
    std::snprintf(when, sizeof when, "%04d-%02d-%02dT%02d:%02d:%02d", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    std::fputs(str(boost::format("[%1%] %2% \n") % when % errorText).c_str(), log);
    for (const std::string& folder : {sourceFolder, fs::path(destination).parent_path().string()}) {
        std::fputs(str(boost::format("Info for: %1%\n") % folder).c_str(), log);
        std::fflush(log);
        std::string command = std::string(lsof) + " +D '";
        for (char c : folder) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
        command += "' 2>&1";
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char line[4096];
            size_t got;
            while ((got = std::fread(line, 1, sizeof line, pipe)) > 0) std::fwrite(line, 1, got, log);
            ::pclose(pipe);
        }
    }
    std::fclose(log);
}

}  // namespace

int MoveFileReplacing(const std::string& source, const std::string& destination) {
    if (::rename(source.c_str(), destination.c_str()) == 0) return 0;
    if (errno != EXDEV) return errno;
    // Another file system: copy beside the destination, then replace it in
    // one rename so the destination is never half written.
    const std::string temporary = destination + ".moving";
    int err = CopyFile(source, temporary);
    if (!err && ::rename(temporary.c_str(), destination.c_str()) != 0) err = errno;
    if (err) {
        ::unlink(temporary.c_str());
        return err;
    }
    ::unlink(source.c_str());
    return 0;
}

// --- MoveFilesThread -------------------------------------------------------

MoveFilesThread::MoveFilesThread(FileRecorder* recorder) : m_recorder(recorder) {}

MoveFilesThread::~MoveFilesThread() {
    Stop(false);
    // Files still waiting are moved now rather than left under their
    // numbered temporary names.
    Run();
}

void MoveFilesThread::Add(const std::string& numberedPath, Job job) {
    {
        SyncLock lock(m_moveLock);
        m_moveMap[numberedPath] = std::move(job);
    }
    if (!IsRunning() && Start(kCreateSuspended, 0, nullptr)) {
        SetPriority(PriorityAboveNormal);
        Resume();
    }
}

size_t MoveFilesThread::Pending() const {
    SyncLock lock(m_moveLock);
    return m_moveMap.size();
}

bool MoveFilesThread::Run() {
    if (m_held && !StopRequested()) {
        SleepMs(10);
        return true;
    }
    for (;;) {
        const auto started = std::chrono::steady_clock::now();
        std::string temporary;
        Job job;
        {
            SyncLock lock(m_moveLock);
            if (!m_moveMap.empty()) {
                temporary = m_moveMap.begin()->first;
                job = std::move(m_moveMap.begin()->second);
                m_moveMap.erase(m_moveMap.begin());
            }
        }
        if (temporary.empty() || job.destination.empty()) {
            if (!StopRequested() && IsRunning() && GetThreadId() == CurrentThreadId()) SleepMs(10);
            return true;
        }
        const int err = MoveFileReplacing(temporary, job.destination);
        if (err == 0 && !AllZeroDate(job.end)) SetFileTimes(job.destination, job.end, "[FILESYSTEM][TEMP]");
        if (err != 0) {
            QOR_LOG_ERROR(Log(),
                          "[FILESYSTEM][TEMP] Failed to move temporary video writing file: from \"%s\" to \"%s\". "
                          "Error code: %d, %s.",
                          temporary.c_str(), job.destination.c_str(), err, ErrnoText(err).c_str());
            IRecorderOwner* owner = m_recorder ? m_recorder->GetRecorderOwner() : nullptr;
            if (owner) owner->OnTempFileMoveFailed(m_recorder->GetChannel(), temporary, job.destination, err);
            // The video stays under its temporary name; the record that named
            // the destination is taken back with its empty placeholder.
            QOR_LOG_ERROR(Log(), "[FILESYSTEM][TEMP] Recorded file kept as \"%s\".", temporary.c_str());
            ::unlink(job.destination.c_str());
            if (owner) owner->RemoveRecordedEntry(m_recorder->GetChannel(), job.entry);
        }
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
        if (took > 2000)
            Log()->Warning("------> CALCTIME(%s) %lu ms - %s", "[FILESYSTEM][RAM::DISK]", static_cast<unsigned long>(took),
                           "[FILESYSTEM][RAM::DISK] <><><><> Temporary file copying procedure takes too long.");
    }
}

// --- FileRecorder: construction and queue ------------------------------------

const char* FileRecorder::FileErrorCauseName(int cause) {
    static const char* const names[] = {"none",        "generic",          "fileNotFound",  "badPath",
                                        "tooManyOpenFiles", "accessDenied", "invalidFile", "removeCurrentDir",
                                        "directoryFull", "badSeek",        "hardIO",        "sharingViolation",
                                        "lockViolation", "diskFull",       "endOfFile"};
    return cause >= 0 && cause <= 14 ? names[cause] : "Unknown";
}

FileRecorder::FileRecorder(int channel, IRecorderOwner* owner, const std::vector<Volume>& volumes,
                           const std::string& subChannelId)
    : FileProcessor(channel, owner, volumes),
      m_owner(owner),
      m_moveThread(this),
      m_file(std::make_unique<CFileBuffered>(owner ? &owner->GetRecordingLock() : &StandaloneRecordingLock())),
      m_subChannelId(subChannelId),
      m_limits(GetRecorderLimits()) {
    const std::string prefix = GetLogPrefix();
    {
        RegistryKey key(kVideoKey);
        m_useMemFile = ReadVideoInt(key, "MemFile", -1) > 0;
        m_optimizeMemory = ReadVideoInt(key, "OptimizeMemory", 1) > 0;
        const int32_t limit = static_cast<int32_t>(FrameLimit());
        const int32_t mpeg = ReadVideoInt(key, "MpegWritingQueueSize", limit);
        const int32_t mjpeg = ReadVideoInt(key, "MJpegWritingQueueSize", limit);
        m_nWritingQueueSize = std::max(mpeg, mjpeg);
        m_nWritingQueueSize = ReadVideoInt(key, "WritingQueueSize", m_nWritingQueueSize);
    }
    m_writeBufferSize = owner ? owner->GetWriteBufferSize() : 1;
    Log()->Message("%s [WritingQueueSize] m_nWritingQueueSize = %d.", prefix.c_str(), m_nWritingQueueSize);
    Log()->Message("%s [MemFile] m_useMemFile = %s.", prefix.c_str(), m_useMemFile ? "true" : "false");
    Log()->Message("%s [WriteBufferSize] m_writeBufferSize = %d.", prefix.c_str(), m_writeBufferSize);
    Log()->Message("%s [OptimizeMemory] m_optimizeMemory = %s.", prefix.c_str(), m_optimizeMemory ? "true" : "false");
    const std::string name = owner ? owner->GetName() : std::string();
    m_framesIn = GetFramesCounter(str(boost::format("[%s][FileRecorder][%d][%s][IN]") % name % channel % subChannelId));
    m_framesOut =
        GetFramesCounter(str(boost::format("[%s][FileRecorder][%d][%s][OUT]") % name % channel % subChannelId));
}

FileRecorder::~FileRecorder() {
    {
        SyncLock lock(m_queueLock);
        m_queue.clear();
        m_stop = 1;
    }
    Thread::Stop(false);
    if (IsOpen()) Close(false);
    // m_moveThread's destructor moves what is still waiting.
}

void FileRecorder::Enqueue(VideoFrame* frame) {
    if (!frame) return;
    SyncLock lock(m_queueLock);
    m_queue.emplace_back(frame);
    if (m_framesIn && HasData(frame)) m_framesIn->AddFrame(frame);
}

size_t FileRecorder::QueueLength() const {
    SyncLock lock(m_queueLock);
    return m_queue.size();
}

int FileRecorder::SetCodecName(int codecId, const char* name) {
    m_codecId = codecId;
    m_codecName = name && *name ? name : "Corvane";
    return 1;
}

std::vector<std::string> FileRecorder::GetAudioMics() const {
    SyncLock lock(m_keyFrameLock);
    return m_audioMics;
}

int FileRecorder::SetAudioMics(const std::vector<std::string>& mics) {
    SyncLock lock(m_keyFrameLock);
    if (!m_audioMics.empty() && m_audioFileOpen == 1 && mics != m_audioMics) {
        SendAudioStop(GetWritingPath(), GetDestinationPath(m_fileNumber), false);
        m_audioFileOpen = 0;
    }
    m_audioMics = mics;
    return 1;
}

uint32_t FileRecorder::Ticks() const { return m_ticks ? m_ticks() : MonotonicTicks(); }

uint32_t FileRecorder::FrameLimit() const {
    if (m_owner && m_nChan < m_owner->GetFirstFaceCaptureId()) return m_limits.maxFrames;
    return m_limits.maxFramesFaceCapture;
}

std::string FileRecorder::EventType() const {
    return m_owner && m_owner->GetFirstFaceCaptureId() < m_nChan ? "CAM_FACECAPTURE" : "CAM";
}

void FileRecorder::SendEvent(const std::string& action, const std::string& text) {
    if (!m_owner || !m_owner->HasMessageSink()) return;
    Event message(EventType(), m_nChan, action);
    message.SetParam("param0", text);
    m_owner->SendRecorderMessage(message, 1);
}

bool FileRecorder::VolumeUsable() const {
    SyncLock lock(m_volumesLock);
    return m_volumeIndex >= 0 && static_cast<size_t>(m_volumeIndex) < m_volumes.size() &&
           m_volumes[static_cast<size_t>(m_volumeIndex)].IsAvailable();
}

void FileRecorder::MarkVolumeLost() {
    if (!m_volumeLost && !VolumeUsable()) {
        m_volumeLost = true;
        VolumeStateChanged(m_nChan, false);
    }
}

std::string FileRecorder::GetDestinationPath(int64_t number) const { return GetFilePath(number, m_hourFolder.c_str()); }

platform::File* FileRecorder::GetCurrentFile() {
    if (m_useMemFile) return m_memFile.get();
    return m_file.get();
}

bool FileRecorder::FileIsOpen() { return m_useMemFile ? m_memFile != nullptr : m_file->IsOpen(); }

uint32_t FileRecorder::NextRenameNumberForTesting() { return g_renameCounter.load(); }
void FileRecorder::ResetRenameCounterForTesting() { g_renameCounter = 0; }

// --- the recording thread ----------------------------------------------------

bool FileRecorder::Run() {
    if (m_volumeLost) {
        if (VolumeUsable()) {
            m_volumeLost = false;
            VolumeStateChanged(m_nChan, true);
            SyncLock lock(m_volumesLock);
            m_volumes[static_cast<size_t>(m_volumeIndex)].CreateDirectories();
        }
        SleepMs(10);
        return true;
    }
    VideoFramePtr frame;
    bool last = false;
    size_t n = 0;
    {
        SyncLock lock(m_queueLock);
        n = m_queue.size();
        if (n > 1 || (n == 1 && !HasData(m_queue.front().get()))) {
            frame = m_queue.front();
            m_queue.pop_front();
            last = HasData(frame.get()) && !m_queue.empty() && !HasData(m_queue.front().get());
        }
    }
    if (m_owner && m_owner->HasMessageSink()) m_owner->OnRecorderQueue(m_nChan, n);
    if (!frame) {
        SleepMs(10);
        return true;
    }
    if (frame->m_nExtra != 0 && frame->m_nFormat != kFormat100) {
        // A stream header: prefixes later pass-through frames, never written.
        SyncLock lock(m_keyFrameLock);
        m_keyFrame = frame;
        m_keyHeaderNeeded = 1;
        return true;
    }
    if (HasData(frame.get())) return WriteFrame(frame.get(), last);
    if (IsOpen()) {
        if (frame->m_strName.empty()) {
            // Discard the file of this run.
            {
                SyncLock lock(m_fileLock);
                FileProcessor::Close(false);
            }
            const std::string path = GetWritingPath();
            if (::unlink(path.c_str()) != 0 && errno != ENOENT)
                Log()->Warning("%s Failed to delete \"%s\". Error code: %d.", GetLogPrefix().c_str(), path.c_str(),
                               errno);
        } else {
            Close(false);
        }
        SyncLock lock(m_keyFrameLock);
        m_keyFrame.reset();
    }
    return true;
}

bool FileRecorder::CheckTempWritingDir() {
    if (m_useMemFile) return true;
    int freeMB = GetTempWritingDirFreeMB();
    for (int i = 0; i < 100 && freeMB != -1 && freeMB < 100 && !StopRequested(); ++i) {
        SleepMs(100);
        freeMB = GetTempWritingDirFreeMB();
    }
    if (freeMB == -1 || freeMB >= 100) return true;
    Log()->Message("%s Temporary writing dir \"%s\" is full. Only %dMB left free. Please clean it.",
                   GetLogPrefix().c_str(), GetVolumeSettings().tempWritingDir.c_str(), freeMB);
    if (m_owner && m_owner->HasMessageSink()) {
        Event message("CAM", m_nChan, "FILE_REC_ERROR");
        message.SetParam("param0", "Temporary directory disk is full. Recording is stop.");
        m_owner->SendRecorderMessage(message, 1);
    }
    return false;
}

bool FileRecorder::createNextFile(bool restart, const TSS& time) {
    SyncLock fileLock(m_fileLock);
    SyncLock recordingLock(m_owner ? &m_owner->GetRecordingLock() : &StandaloneRecordingLock());
    m_openTick = Ticks();
    Log()->Message("%s::FileRecorder::createNextFile() m_nChan = %d, time = %s",
                   m_owner ? m_owner->GetName().c_str() : "", m_nChan, time.ToIsoString().c_str());
    if (!CheckTempWritingDir()) return false;
    if (m_driveChanged && m_owner) {
        m_driveChanged = 0;
        SetVolumeIndex(m_owner->GetRecordVolume());
        m_hourFolder.clear();
    }
    try {
        while (GetVolumeCount() != 0) {
            const int s = GetVolumeIndex();
            {
                SyncLock lock(m_volumesLock);
                if (s < 0 || static_cast<size_t>(s) >= m_volumes.size()) break;
                Volume& volume = m_volumes[static_cast<size_t>(s)];
                if (!volume.IsMounted()) break;
                if (!IsVolumeFull(volume.IsArchive(), volume.UpdateFreeSpace(false), GetVolumeSettings())) break;
            }
            if (!m_owner) break;
            if (!m_owner->ChangeRecordDrive(false)) return false;
            if (!m_driveChanged) break;
            if (m_owner->GetRecordVolume() == s) {
                std::string root;
                {
                    SyncLock lock(m_volumesLock);
                    root = m_volumes[static_cast<size_t>(s)].GetRootPath();
                }
                QOR_LOG_ERROR(Log(), "[FILESYSTEM] Disk Free Space < 100MB; disk=%s", root.c_str());
                return false;
            }
            m_driveChanged = 0;
            SetVolumeIndex(m_owner->GetRecordVolume());
            m_hourFolder.clear();
        }
    } catch (...) {
        QOR_LOG_ERROR(Log(), "[FS][WRITING] Error while trying to select next disk for writing, possible archive "
                             "corruption. Please reindex filesystem.");
        m_volumeLost = true;
        return false;
    }
    m_maxFileNumber = std::max(m_maxFileNumber, static_cast<uint32_t>(m_fileNumber));
    m_writingPath = GetWritingPath();
    platform::File* file = nullptr;
    if (m_useMemFile) {
        m_memFile = std::make_unique<platform::MemFile>(0xA00000);
        if (m_optimizeMemory && !m_keptBuffer.empty()) {
            std::vector<uint8_t> reuse = std::move(m_keptBuffer);
            reuse.clear();
            m_memFile = std::make_unique<platform::MemFile>(std::move(reuse));
        }
        file = m_memFile.get();
    } else {
        platform::FileException error(0, 0, m_writingPath);
        if (m_writingPath.empty() ||
            !m_file->Open(m_writingPath,
                          platform::File::modeCreate | platform::File::modeWrite | platform::File::shareDenyNone,
                          &error)) {
            const int err = static_cast<int>(error.m_lOsError);
            QOR_LOG_ERROR(Log(), "%s Failed to create file: \"%s\". Error code: %d, %s.", GetLogPrefix().c_str(),
                          m_writingPath.c_str(), err, ErrnoText(err).c_str());
            MarkVolumeLost();
            return false;
        }
        file = m_file.get();
    }
    m_recordsEnd = 0;
    if (m_passwordCrc != 0) {
        int32_t header[2] = {kArchiveIdHeaderMark, m_passwordCrc};
        try {
            file->Write(header, sizeof header);
        } catch (const platform::FileException& e) {
            ReportException(e, "FileRecorder::createNextFile");
            if (!m_useMemFile) CFileBuffered::ForceClose(*m_file);
            m_memFile.reset();
            return false;
        }
        m_recordsEnd = sizeof header;
    }
    m_frameCount = 0;
    m_index.clear();
    m_timeStart = TSS{};
    m_timeEnd = TSS{};
    if (!GetAudioMics().empty()) SendAudioStart(restart, time);
    return true;
}

void FileRecorder::UpdateHourFolder(const TSS& time) {
    const std::string name = FormatHourFolderName(time);
    if (name.empty()) return;
    std::string archive;
    {
        SyncLock lock(m_volumesLock);
        if (m_volumeIndex < 0 || static_cast<size_t>(m_volumeIndex) >= m_volumes.size()) return;
        archive = m_volumes[static_cast<size_t>(m_volumeIndex)].GetPath();
    }
    namespace fs = std::filesystem;
    const std::string folder = archive + "/" + name;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        if (!fs::create_directory(folder, ec) && !fs::is_directory(folder))
            Log()->Warning("%s Failed to create directory:\"%s\". Error code: %d.", GetLogPrefix().c_str(),
                           folder.c_str(), ec.value());
        m_hourFolder = name;
        if (name != m_lastHourFolder) m_fileNumber = 0;
        std::string indexFolder;
        {
            SyncLock lock(m_volumesLock);
            indexFolder = m_volumes[static_cast<size_t>(m_volumeIndex)].GetIndexPath();
        }
        const std::string indexPath = indexFolder + "/" + IndexFileName(name);
        const int fd = ::open(indexPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) ::close(fd);
    } else if (name != m_hourFolder) {
        m_hourFolder = name;
        if (name != m_lastHourFolder) m_fileNumber = 0;
        const std::string ext = FormatChannelExtension(kVideoLetter, m_nChan);
        SyncLock lock(m_volumesLock);
        for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
            std::string file = it->path().filename().string();
            static const std::string kProtected = ".protected";
            if (file.size() > kProtected.size() && file.compare(file.size() - kProtected.size(), kProtected.size(),
                                                                kProtected) == 0)
                file.resize(file.size() - kProtected.size());
            const size_t dot = file.find('.');
            if (dot == std::string::npos || dot == 0) continue;
            const std::string fileExt = file.substr(dot + 1);
            const bool matches = m_nChan == 0 ? fileExt.size() > 1 && fileExt[0] == kVideoLetter : fileExt == ext;
            if (!matches) continue;
            char* end = nullptr;
            const std::string number = file.substr(0, dot);
            const unsigned long h = std::strtoul(number.c_str(), &end, 16);
            if (end == number.c_str() || *end != '\0') continue;
            m_fileNumber = std::max<int64_t>(m_fileNumber, static_cast<int64_t>(h) + 1);
        }
    }
    m_lastHourFolder = name;
}

// --- writing a frame -----------------------------------------------------------

bool FileRecorder::CompressPicture(VideoFramePtr& w, bool keyFlag, bool last) {
    if (!m_compressor) {
        m_compressor = FrameCodecs::CreateCompressor();
        if (!m_compressor) {
            QOR_LOG_ERROR(Log(), "%s No frame compressor is available for codec \"%s\"; frame %d of camera %d is "
                                 "not recorded.",
                          GetLogPrefix().c_str(), m_codecName.c_str(), w->m_nFrameNumber, m_nChan);
            return false;
        }
        m_compressor->Init(1, FrameCodecs::CodecVersionFromName(m_codecName));
    }
    if (m_compressor->GetKeyRequest() ||
        (m_compressor->GetPeriodicKey() && w->m_nFrameNumber % 20 == 0))
        keyFlag = true;
    int keyArgument = keyFlag ? 1 : 0;
    if (!m_compressor->GetPeriodicKey() &&
        (last || static_cast<uint32_t>(w->m_nFrameNumber) + 1 == FrameLimit()))
        keyArgument = -1;
    int n = 0;
    try {
        std::vector<uint8_t> packed;
        if (const uint8_t* pixels = w->ContiguousData(packed))
            n = m_compressor->Compress(pixels, m_codecId, w->m_nWidth, w->m_nHeight, w->m_bColor, keyArgument,
                                       LayoutOf(w->m_nFormat));
    } catch (...) {
        n = 0;
    }
    m_compressor->SetKeyRequest(0);
    w->FreeData();
    if (n <= 0 || !w->AllocData(static_cast<uint32_t>(n))) {
        w->m_cbData = 0;
        QOR_LOG_ERROR(Log(), "%s Frame %d of camera %d could not be compressed and is not recorded.",
                      GetLogPrefix().c_str(), w->m_nFrameNumber, m_nChan);
        return false;
    }
    std::memcpy(w->m_pData, m_compressor->GetOutput(), static_cast<size_t>(n));
    w->m_cbData = static_cast<uint32_t>(n);
    w->m_nFormat = FrameFormatCompressed;
    return true;
}

VideoFramePtr FileRecorder::PrepareFormat100(VideoFrame* received, int32_t receivedNumber, VideoFramePtr w, bool last,
                                             bool& ok) {
    ok = true;
    if (m_partHead.empty()) m_partHead.resize(kPartHeadSize);
    const uint32_t tail = static_cast<uint32_t>(std::max(0, received->m_nExtra));
    const uint32_t headLength = received->m_cbData > tail ? received->m_cbData - tail : 0;
    auto keepHead = [&] {
        // A head larger than the kept buffer grows it.
        if (headLength > m_partHead.size()) m_partHead.resize(headLength);
        std::memcpy(m_partHead.data(), received->m_pData, headLength);
        m_partHeadLength = static_cast<int32_t>(headLength);
    };
    std::vector<uint8_t> data;
    const bool continuing = w->m_nFrameNumber != 0 && receivedNumber == m_partFrameNumber + 1;
    if (continuing) {
        if (static_cast<uint32_t>(w->m_nFrameNumber) + 1 >= FrameLimit() || last) {
            data.assign(m_partHead.begin(), m_partHead.begin() + m_partHeadLength);
            if (!data.empty()) data.back() = 0x43;
        } else {
            keepHead();
            data.assign(received->m_pData + headLength, received->m_pData + received->m_cbData);
        }
    } else {
        keepHead();
        data.assign(received->m_pData, received->m_pData + headLength);
    }
    VideoFramePtr out(new VideoFrame(*w, true), false);
    out->FreeData();
    out->m_cbData = 0;
    if (data.empty() || !out->AllocData(static_cast<uint32_t>(data.size()))) {
        ok = false;
        return out;
    }
    std::memcpy(out->m_pData, data.data(), data.size());
    out->m_cbData = static_cast<uint32_t>(data.size());
    out->m_nExtra = 0;
    out->m_nFormat = FrameFormatCompressed;
    m_partFrameNumber = receivedNumber;
    return out;
}

bool FileRecorder::WriteFrame(VideoFrame* frame, bool last) {
    if (!FileIsOpen() && !createNextFile(false, frame->m_tssTime)) return false;
    const bool inter = IsInterFrameFormat(frame) != 0;
    const int32_t code = GetVideoFrameFormat(frame);
    const bool key = IsKeyFrame(frame) != 0;

    bool change = false;
    if (code != m_formatCode && m_formatCode != 0) {
        {
            SyncLock lock(m_keyFrameLock);
            m_keyFrame.reset();
        }
        // Predicted frames of a new format wait for its first key frame.
        if (m_frameCount != 0 && inter && !key) return true;
        change = true;
    }
    if (code != m_formatCode) m_formatCode = code;

    bool low = false;
    {
        SyncLock lock(m_volumesLock);
        if (m_volumeIndex >= 0 && static_cast<size_t>(m_volumeIndex) < m_volumes.size()) {
            Volume& volume = m_volumes[static_cast<size_t>(m_volumeIndex)];
            if (volume.IsMounted()) {
                const int freeMB = volume.UpdateFreeSpace(false);
                low = freeMB == 0 || static_cast<uint32_t>(freeMB) <= GetVolumeSettings().freeMBCritical;
            }
        }
    }
    bool roll = change || low || TSS::IsEarlier(frame->m_tssTime, m_timeEnd);
    if (m_limits.fileSizeTimeLimit != 0) {
        const int32_t elapsed = static_cast<int32_t>(Ticks() - m_openTick);
        if (std::abs(elapsed) / 1000 >= m_limits.fileSizeTimeLimit) roll = true;
    }
    const bool full = m_frameCount >= FrameLimit();
    if (full && !last) roll = true;
    // A file never ends before its first frame, and only a frame that can
    // begin a file starts the next one.
    if ((roll || full) && m_frameCount != 0 && (!inter || key)) {
        Close(roll);
        if (!createNextFile(true, frame->m_tssTime)) return false;
    }

    // The frame's own number (the sender's count) before it becomes its
    // place in the file.
    const int32_t receivedNumber = frame->m_nFrameNumber;
    VideoFramePtr w(frame);
    if (frame->m_nFormat == FrameFormatCompressed && m_codecId >= 0 && m_owner && m_owner->GetName() == "ARCH") {
        if (!m_decompressor) m_decompressor = FrameCodecs::CreateDecompressor();
        VideoFramePtr decoded;
        try {
            if (m_decompressor) decoded = m_decompressor->Decompress(frame, frame->m_nWidth);
        } catch (...) {
            decoded.reset();
        }
        if (decoded && HasData(decoded.get())) w = decoded;
    }
    w->m_nFrameNumber = static_cast<int32_t>(m_frameCount);

    if (frame->m_nFormat == kFormat100) {
        bool ok = true;
        w = PrepareFormat100(frame, receivedNumber, w, last, ok);
        if (!ok) return false;
    }

    bool keyFlag = last || w->m_nFrameNumber == 0 || static_cast<uint32_t>(w->m_nFrameNumber) + 1 == m_limits.maxFrames;
    if (w->m_nFormat > 0) {
        if (code >= 'h') {
            if ((m_compressor && !m_compressor->GetKeyRequest()) || m_keyHeaderNeeded) keyFlag = true;
            if (IsKeyFrame(w.get())) {
                m_keyHeaderNeeded = 0;
                SyncLock lock(m_keyFrameLock);
                m_keyFrame = w;
            } else if (keyFlag) {
                m_keyHeaderNeeded = 0;
                SyncLock lock(m_keyFrameLock);
                SyncLock lock2(m_keyFrameLock2);
                if (m_keyFrame) {
                    VideoFramePtr prefixed = MakeFrameWithKeyHeader(m_keyFrame.get(), w.get());
                    if (prefixed && HasData(prefixed.get())) w = prefixed;
                }
            }
        }
        if (m_compressor) m_compressor->SetKeyRequest(1);
    } else if (m_codecId != 0) {
        if (w.get() == frame) {
            // The queue's frame keeps its picture; compress a copy.
            w = VideoFramePtr(new VideoFrame(*frame, true), false);
            w->m_nFrameNumber = static_cast<int32_t>(m_frameCount);
        }
        if (!CompressPicture(w, keyFlag, last)) return true;
    }
    if (!HasData(w.get())) return true;  // never a record without data

    // One record, one write: a retry after a failed write starts where the
    // record began.
    platform::MemFile& record = m_record;
    record.SetLength(0);
    record.Seek(0, platform::File::begin);
    w->SerializeFile(record, false);
    uint64_t position = 0;
    for (int attempt = 1;; ++attempt) {
        try {
            SyncLock lock(m_fileLock);
            platform::File* file = GetCurrentFile();
            position = file->GetPosition();
            file->Write(record.Data(), record.Size());
            break;
        } catch (const platform::FileException& e) {
            const std::string details =
                str(boost::format(" [%1%], file = '%2%', attempt = %3%") % e.m_lOsError % m_writingPath % attempt);
            const char* cause = FileErrorCauseName(e.m_cause);
            auto seekBack = [&] {
                try {
                    SyncLock lock(m_fileLock);
                    GetCurrentFile()->Seek(static_cast<int64_t>(position), platform::File::begin);
                } catch (const platform::FileException&) {
                }
            };
            if (e.m_cause == platform::FileException::diskFull) {
                Log()->Message("diskFULL: %s%s", cause, details.c_str());
                if (attempt < m_diskFullAttempts && CheckTempWritingDir()) {
                    QOR_LOG_ERROR(Log(), "%s[WRITING] Camera %d ERROR_DISK_FULL, file: '%s'", GetLogPrefix().c_str(),
                                  m_nChan, m_writingPath.c_str());
                    if (m_owner) m_owner->ChangeRecordDrive(true);
                    seekBack();
                    continue;
                }
                seekBack();
                return false;
            }
            QOR_LOG_ERROR(Log(), "%s FILE_REC_ERROR for camera %d. FILE OPERATION ERROR: %s%s", GetLogPrefix().c_str(),
                          frame->m_nChan, cause, details.c_str());
            Log()->Message("FILE OPERATION ERROR: %s%s", cause, details.c_str());
            SendEvent("FILE_REC_ERROR", std::string(cause) + details);
            if (!VolumeUsable() || e.m_cause == platform::FileException::badPath) {
                if (!m_useMemFile) m_file->Abort();
                MarkVolumeLost();
            }
            return false;
        }
    }
    if (m_framesOut) m_framesOut->AddFrame(w.get());
    if (m_owner) m_owner->CountFrameOut(w.get());
    m_recordsEnd = position + record.Size();

    if (m_frameCount == 0) {
        m_timeStart = frame->m_tssTime;
        UpdateHourFolder(m_timeStart);
    }
    m_timeEnd = frame->m_tssTime;
    m_index.push_back(MakeFramesIndexEntry(w->m_tssTime, position, IsKeyFrame(w.get()) != 0));
    ++m_frameCount;
    return true;
}

// --- finishing a file ------------------------------------------------------------

void FileRecorder::Close(bool flag) {
    SyncLock fileLock(m_fileLock);
    SyncLock recordingLock(m_owner ? &m_owner->GetRecordingLock() : &StandaloneRecordingLock());
    closeInternal(flag);
}

bool FileRecorder::WriteFinalData(platform::File& file, uint32_t count, uint8_t flag) {
    try {
        AppendVideoFileFinalData(file, static_cast<int32_t>(count), flag, m_index);
        // The final data must reach the disk before the file counts as
        // finished.
        file.Flush();
        return true;
    } catch (const platform::FileException& e) {
        QOR_LOG_ERROR(Log(), "FileRecorder::WriteFinalData() - exception: error = %d", static_cast<int>(e.m_lOsError));
    } catch (const std::exception& e) {
        QOR_LOG_ERROR(Log(), "FileRecorder::WriteFinalData() - exception: error = %d, cause = %s", errno, e.what());
    }
    return false;
}

bool FileRecorder::FinishFile(bool flag, bool& finalDataWritten) {
    finalDataWritten = false;
    if (!FileIsOpen()) return false;
    platform::File& file = *GetCurrentFile();
    finalDataWritten = WriteFinalData(file, m_frameCount, flag ? 1 : 0);
    if (!finalDataWritten) {
        // Keep what reached the disk readable: cut it back to whole records
        // and end it with the frame count and close flag only (readers then
        // walk the records). Cutting frees the space the tail needs.
        try {
            if (!m_useMemFile) m_file->SalvageBlock();
            const uint64_t length = file.GetLength();
            // Record ends, front to back; only whole records are kept.
            std::vector<uint64_t> ends;
            for (size_t i = 0; i < m_index.size(); ++i) {
                const uint64_t recordEnd = i + 1 < m_index.size() ? m_index[i + 1].offset : m_recordsEnd;
                if (recordEnd > length) break;
                ends.push_back(recordEnd);
            }
            const uint64_t dataStart = m_passwordCrc != 0 ? kArchiveIdHeaderSize : 0;
            for (;;) {
                const uint64_t end = ends.empty() ? dataStart : ends.back();
                const uint32_t whole = static_cast<uint32_t>(ends.size());
                try {
                    file.SetLength(end);
                    file.Seek(static_cast<int64_t>(end), platform::File::begin);
                    uint8_t tail[5];
                    std::memcpy(tail, &whole, 4);
                    tail[4] = flag ? 1 : 0;
                    file.Write(tail, sizeof tail);
                } catch (const platform::FileException& e) {
                    // No room even for the tail: give up one more record.
                    if (e.m_cause != platform::FileException::diskFull || ends.empty()) throw;
                    ends.pop_back();
                    continue;
                }
                m_frameCount = whole;
                m_index.resize(whole);
                QOR_LOG_ERROR(Log(), "%s File \"%s\" kept without its index: %u frames.", GetLogPrefix().c_str(),
                              m_writingPath.c_str(), whole);
                break;
            }
        } catch (const platform::FileException& e) {
            ReportException(e, "FileRecorder::FinishFile");
        }
    }
    SaveFile();
    return true;
}

void FileRecorder::ReserveDestinationFile(std::string& path) {
    for (int attempt = 0;; ++attempt) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            return;
        }
        const int err = errno;
        if (err != EEXIST || attempt >= 11) {
            QOR_LOG_ERROR(Log(), "%s Can't create destination %s file, error:%d, %s.", GetLogPrefix().c_str(),
                          path.c_str(), err, ErrnoText(err).c_str());
            platform::FileException::ThrowErrno(err, path);
        }
        ++m_fileNumber;
        path = GetDestinationPath(m_fileNumber);
    }
}

void FileRecorder::KeepFailedFile(const std::string& source, const char* why) {
    // The recording stays beside its temporary name, out of the way of the
    // next file, which would otherwise overwrite it.
    const std::string kept = source + "." + std::to_string(g_renameCounter++);
    if (::rename(source.c_str(), kept.c_str()) == 0)
        QOR_LOG_ERROR(Log(), "%s %s; the recorded file is kept as \"%s\".", GetLogPrefix().c_str(), why, kept.c_str());
    else
        QOR_LOG_ERROR(Log(), "%s %s; the recorded file stays at \"%s\" (error %d).", GetLogPrefix().c_str(), why,
                      source.c_str(), errno);
}

void FileRecorder::MoveToArchive(const std::string& source, const std::string& destination,
                                 const VindaraFileSystem::DirEntry& entry) {
    const std::string& temp = GetVolumeSettings().tempWritingDir;
    if (!temp.empty() && source.find(temp) != std::string::npos) {
        SyncLock lock(m_moveThread.GetLock());
        const std::string numbered = source + "." + std::to_string(g_renameCounter++);
        try {
            platform::File::Rename(source, numbered);
        } catch (const platform::FileException& e) {
            const int err = static_cast<int>(e.m_lOsError);
            QOR_LOG_ERROR(Log(), "[FILESYSTEM][TEMP] Failed to rename temporary file \"%s\", error code %d, %s.",
                          source.c_str(), err, ErrnoText(err).c_str());
            throw;
        }
        m_moveThread.Add(numbered, MoveFilesThread::Job{destination, entry, m_timeEnd});
        return;
    }
    const int err = MoveFileReplacing(source, destination);
    if (err == 0) return;
    const std::string text =
        str(boost::format("[FILESYSTEM][TEMP] Failed to move file: from \"%s\" to \"%s\". Error code: %d, %s.") %
            source % destination % err % ErrnoText(err));
    QOR_LOG_ERROR(Log(), "%s", text.c_str());
    WriteMoveDiagnosis(source, destination, text);
    platform::FileException::ThrowErrno(err, source);
}

void FileRecorder::SendAudioStart(bool restart, const TSS& time) {
    const std::vector<std::string> mics = GetAudioMics();
    if (m_owner && m_owner->HasMessageSink() && !mics.empty()) {
        React react("OLXA_LINE", mics.front(), restart ? "RECORD_RESTART" : "RECORD_START");
        react.SetParam("cam", m_nChan);
        react.SetParam("file", FirstAudioCompanion(m_writingPath));
        TSS now;
        now.SetLocalNow();
        now.dwMilliseconds = 0;
        react.SetParam("sending_time", now.ToString());
        react.SetParam("time_start", time.ToString());
        for (size_t i = 0; i < mics.size(); ++i) react.SetParam(str(boost::format("AUDIO.mic.%d") % i), mics[i]);
        Event message;
        message.FromReact(react);
        m_owner->SendRecorderMessage(message, 1);
    }
    m_audioFileOpen = 1;
}

void FileRecorder::SendAudioStop(const std::string& source, const std::string& destination, bool withMs) {
    if (!m_owner || !m_owner->HasMessageSink() || m_audioMics.empty()) return;
    React react("OLXA_LINE", m_audioMics.front(), "RECORD_STOP");
    react.SetParam("cam", m_nChan);
    react.SetParam("src", FirstAudioCompanion(source));
    react.SetParam("dst", FirstAudioCompanion(destination));
    TSS now;
    now.SetLocalNow();
    if (!withMs) now.dwMilliseconds = 0;
    react.SetParam("sending_time", now.ToString());
    react.SetParam("time_start", m_timeStart.ToString());
    react.SetParam("time_end", m_timeEnd.ToString());
    Event message;
    message.FromReact(react);
    m_owner->SendRecorderMessage(message, 1);
}

void FileRecorder::closeInternal(bool flag) {
    const std::string prefix = GetLogPrefix();
    if (!m_useMemFile && m_file->IsOpen() && !m_file->BlockUsed()) {
        uint64_t length = 0;
        try {
            length = m_file->GetLength();
        } catch (const platform::FileException&) {
        }
        if (length == 0) {
            try {
                m_file->Close();
            } catch (const platform::FileException& e) {
                ReportException(e, "FileRecorder::closeInternal");
                CFileBuffered::ForceClose(*m_file);
            }
            m_frameCount = 0;
            m_index.clear();
            return;
        }
    }
    const std::string source = GetWritingPath();
    uint64_t fileSize = 0;
    if (!m_useMemFile) {
        bool finalData = false;
        if (!FinishFile(flag, finalData)) return;
        struct stat st {};
        if (::stat(source.c_str(), &st) == 0) fileSize = static_cast<uint64_t>(st.st_size);
    } else {
        bool finalData = false;
        if (!FinishFile(flag, finalData)) return;
        if (m_saveFailed) return;  // nothing of this file reached its destination
    }
    if (AllZeroDate(m_timeStart)) return;

    if (!m_useMemFile) UpdateHourFolder(m_timeStart);
    std::string destination = m_useMemFile ? m_writingPath : GetDestinationPath(m_fileNumber);

    VindaraFileSystem::DirEntry entry;
    entry.begin = UnixMsOf(m_timeStart);
    entry.end = UnixMsOf(m_timeEnd);
    entry.volumeIndex = static_cast<uint8_t>(GetVolumeIndex());
    entry.isProtected = 0;
    {
        TSS hour;
        if (ParseHourFolderName(m_hourFolder, hour)) entry.date = UnixMsOf(hour);
    }
    try {
        if (!m_useMemFile) {
            ReserveDestinationFile(destination);
            entry.fileId = static_cast<uint32_t>(m_fileNumber);
            try {
                MoveToArchive(source, destination, entry);
            } catch (const platform::FileException&) {
                ::unlink(destination.c_str());
                throw;
            }
        } else {
            entry.fileId = static_cast<uint32_t>(m_fileNumber);
            struct stat st {};
            if (::stat(destination.c_str(), &st) == 0) fileSize = static_cast<uint64_t>(st.st_size);
        }
    } catch (const platform::FileException& e) {
        Log()->Message("Can't move file: \"%s\" to \"%s\".", source.c_str(), destination.c_str());
        if (!m_useMemFile) KeepFailedFile(source, "The file could not take its place in the archive");
        return;
    }
    entry.fileSize = fileSize;

    if (::access(destination.c_str(), F_OK) == 0) SetFileTimes(destination, m_timeEnd, prefix);

    {
        SyncLock lock(m_keyFrameLock);
        if (!m_audioMics.empty()) {
            std::string a = source, b = destination;
            if (AudioCompanion(a) && AudioCompanion(b))
                SendAudioStop(source, destination, true);
            else
                QOR_LOG_ERROR(Log(), "%s bad file(s): %s - %s", m_owner ? m_owner->GetName().c_str() : "",
                              FirstAudioCompanion(source).c_str(), FirstAudioCompanion(destination).c_str());
        }
        m_audioFileOpen = 0;
    }

    std::string archiveFolder;
    std::string indexFolder;
    {
        SyncLock lock(m_volumesLock);
        if (m_volumeIndex >= 0 && static_cast<size_t>(m_volumeIndex) < m_volumes.size()) {
            archiveFolder = m_volumes[static_cast<size_t>(m_volumeIndex)].GetPath();
            indexFolder = m_volumes[static_cast<size_t>(m_volumeIndex)].GetIndexPath();
        }
    }
    if (m_owner) {
        m_owner->AddRecordedEntry(m_nChan, entry, archiveFolder);
        m_owner->AppendRecordIndexEntry(indexFolder + "/" + IndexFileName(m_hourFolder), m_nChan, entry, destination);
        if (m_owner->HasMessageSink()) {
            Event message(EventType(), m_nChan, "ARCH_NEW");
            message.SetParam("fs", m_owner->GetName());
            message.SetParam("file", destination);
            message.SetParam("datetime", m_timeEnd.DateString() + " " + m_timeEnd.TimeString());
            message.SetParam("time1", m_timeStart.ToString());
            message.SetParam("time2", m_timeEnd.ToString());
            message.SetParam("subChanId", m_subChannelId);
            int space = 0;
            {
                SyncLock lock(m_volumesLock);
                for (Volume& volume : m_volumes) space += volume.UpdateFreeSpace(false);
            }
            message.SetParam("hd_space", space);
            m_owner->SendRecorderMessage(message, 0);
            m_owner->OnFileRecorded(m_nChan, destination, m_timeStart, m_timeEnd);
        }
    }
    ++m_fileNumber;
}

void FileRecorder::SaveFile() {
    const std::string prefix = GetLogPrefix();
    m_saveFailed = false;
    if (!m_useMemFile) {
        try {
            if (m_file->IsOpen()) {
                if (::access(m_file->GetFilePath().c_str(), F_OK) == 0)
                    m_file->Close();
                else
                    Log()->Warning("%s Failed to close file \"%s\". Error code: %d.", prefix.c_str(),
                                   m_file->GetFilePath().c_str(), errno);
            }
        } catch (const platform::FileException& e) {
            Log()->Warning("%s Failed to close file: \"%s\". Exception: cause = %d, error = %d.", prefix.c_str(),
                           m_writingPath.c_str(), e.m_cause, static_cast<int>(e.m_lOsError));
        }
        if (m_file->IsOpen()) CFileBuffered::ForceClose(*m_file);
        m_frameCount = 0;
        m_index.clear();
        return;
    }
    if (m_memFile) {
        UpdateHourFolder(m_timeStart);
        m_writingPath = GetDestinationPath(m_fileNumber);
        std::vector<uint8_t> bytes = m_memFile->TakeBytes();
        m_memFile.reset();
        const size_t size = bytes.size();
        bool written = false;
        try {
            ReserveDestinationFile(m_writingPath);
            const int fd = ::open(m_writingPath.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0) {
                const int err = errno;
                QOR_LOG_ERROR(Log(), "%s Failed to create file: \"%s\". Error code: %d, %s.", prefix.c_str(),
                              m_writingPath.c_str(), err, ErrnoText(err).c_str());
                MarkVolumeLost();
            } else {
                // The whole size is reserved at once so that a full volume is
                // met before the first byte is written and the record drive
                // can change first; the file ends at exactly `size` whether
                // or not the reservation succeeds, since the writes below
                // cover every byte.
                if (size > 0) {
                    const int reserved = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
                    if (reserved == ENOSPC) {
                        QOR_LOG_ERROR(Log(), "%s[WRITING] Camera %d ERROR_DISK_FULL (memFile, SetFilePointerEx)",
                                      prefix.c_str(), m_nChan);
                        if (m_owner) m_owner->ChangeRecordDrive(true);
                    }
                }
                const size_t step =
                    m_writeBufferSize < 1 ? size : static_cast<size_t>(m_writeBufferSize) * 1048576u;
                size_t n = std::min(step, size);
                Log()->Message("%s[WRITING] Camera %d start writing (%s) [step %0.2f MB] ...", prefix.c_str(), m_nChan,
                               m_writingPath.c_str(), static_cast<double>(n) / 1048576.0);
                const auto t0 = std::chrono::steady_clock::now();
                size_t done = 0;
                int diskFullRetries = 0;
                bool failed = false;
                while (done < size) {
                    n = std::min(n, size - done);
                    const ssize_t put = ::pwrite(fd, bytes.data() + done, n, static_cast<off_t>(done));
                    if (put > 0) {
                        done += static_cast<size_t>(put);
                        continue;
                    }
                    const int err = put < 0 ? errno : ENOSPC;
                    if (err == EINTR) continue;
                    if (err == ENOSPC && ++diskFullRetries < m_diskFullAttempts) {
                        QOR_LOG_ERROR(Log(), "%s[WRITING] Camera %d ERROR_DISK_FULL (memFile)", prefix.c_str(), m_nChan);
                        if (m_owner) m_owner->ChangeRecordDrive(true);
                        continue;
                    }
                    QOR_LOG_ERROR(Log(), "%s [ERROR]: WriteFile - %s", prefix.c_str(), ErrnoText(err).c_str());
                    SendEvent("FILE_REC_ERROR", ErrnoText(err));
                    failed = true;
                    break;
                }
                ::close(fd);
                written = !failed;
                uint64_t queued = QueueLength();
                m_maxQueueLength = std::max(m_maxQueueLength, queued);
                const double ms = std::max<double>(
                    1.0, static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - t0)
                                                 .count()));
                const double speed = static_cast<double>(done) / (ms / 1000.0) / 1048576.0;
                static std::mutex historyLock;
                static std::vector<double> history;
                double average = 0;
                {
                    std::lock_guard<std::mutex> lock(historyLock);
                    history.push_back(speed);
                    if (history.size() > 500) history.erase(history.begin(), history.end() - 500);
                    for (double v : history) average += v;
                    average /= static_cast<double>(history.size());
                }
                const bool alarm =
                    m_lastSaveSpeed > 0 && (speed > 10 * m_lastSaveSpeed || speed < m_lastSaveSpeed / 10);
                m_lastSaveSpeed = speed;
                Log()->Message("%s[WRITING]%s Camera %d, save file \"%s\", size = %0.2f MB, time = %llu ms, speed = "
                               "%0.2f MB/sec(avg %0.2f), write buffer = %0.2f MB, queue left %llu (max %llu)",
                               prefix.c_str(), alarm ? "[ALARM_SAVE_SPEED]" : "", m_nChan, m_writingPath.c_str(),
                               static_cast<double>(done) / 1048576.0, static_cast<unsigned long long>(ms), speed,
                               average, static_cast<double>(n) / 1048576.0, static_cast<unsigned long long>(queued),
                               static_cast<unsigned long long>(m_maxQueueLength));
            }
        } catch (const platform::FileException& e) {
            Log()->Warning("%s Failed to close file: \"%s\". Exception: cause = %d, error = %d.", prefix.c_str(),
                           m_writingPath.c_str(), e.m_cause, static_cast<int>(e.m_lOsError));
        }
        if (!written) {
            // No empty or partial placeholder is left to be indexed.
            ::unlink(m_writingPath.c_str());
            m_saveFailed = true;
        }
        if (m_optimizeMemory) {
            bytes.clear();
            m_keptBuffer = std::move(bytes);
        }
    }
    m_frameCount = 0;
    m_index.clear();
}

// --- reading the file being written -----------------------------------------------

bool FileRecorder::ReadFrameOfCurrentFile(VideoFrame* frame) {
    SyncLock lock(m_fileLock);
    if (m_useMemFile) {
        if (!m_memFile) return false;
        const uint64_t position = m_memFile->GetPosition();
        m_memFile->Seek(0, platform::File::begin);
        doReadFrame(frame, *m_memFile);
        m_memFile->Seek(static_cast<int64_t>(position), platform::File::begin);
    } else {
        if (!m_file->IsOpen()) return false;
        try {
            m_file->Flush();
        } catch (const platform::FileException& e) {
            ReportException(e, "FileRecorder::ReadFrameOfCurrentFile");
        }
        platform::File reader;
        if (!reader.Open(GetWritingPath(), platform::File::modeRead | platform::File::shareDenyNone)) return false;
        doReadFrame(frame, reader);
    }
    return frame->m_cbData != 0 && frame->m_pData != nullptr;
}

void FileRecorder::doReadFrame(VideoFrame* frame, platform::File& file) {
    const std::string fsName = m_owner ? m_owner->GetName() : std::string();
    std::istringstream words(frame->m_sFileId);
    std::string word0, date, time;
    words >> word0 >> date >> time;
    TSS requested{};
    requested.ParseDate(date.c_str());
    requested.ParseTime(time.c_str());
    if (!requested.IsValidDate()) return;
    try {
        file.Seek(m_passwordCrc != 0 ? kArchiveIdHeaderSize : 0, platform::File::begin);
        uint64_t keyPosition = 0;
        int keyNumber = -1;
        int found = -1;
        const int readable = static_cast<int>(m_frameCount) - 1;  // the newest record may be incomplete
        for (int i = 0; i < readable; ++i) {
            const uint64_t position = file.GetPosition();
            frame->SerializeFile(file, true);
            found = i;
            if (IsKeyFrame(frame)) {
                keyPosition = position;
                keyNumber = i;
            }
            if (TSS::IsLater(frame->m_tssTime, requested) || frame->m_tssTime == requested) break;
        }
        if (found < 0) {
            file.SeekToEnd();
            return;
        }
        const int32_t code = ParseVideoFormatTag(frame->m_pData, frame->m_cbData);
        if (code == 0)
            QOR_LOG_ERROR(Log(), "[DECOMPRESSOR] Video format version is undefined or not supported yet.");
        if (!IsKeyFrame(frame) && (IsInterFrameFormat(frame) || code > 0x67)) {
            // Decode from the last key frame up to and including the found
            // frame, and hand that picture back as a key frame.
            VideoFramePtr picture;
            if (keyNumber >= 0) {
                file.Seek(static_cast<int64_t>(keyPosition), platform::File::begin);
                if (!m_decompressor) m_decompressor = FrameCodecs::CreateDecompressor();
                try {
                    for (int i = keyNumber; i <= found && m_decompressor; ++i) {
                        frame->SerializeFile(file, true);
                        if (!HasData(frame)) break;
                        VideoFramePtr decoded = m_decompressor->Decompress(frame, 0);
                        if (!decoded) break;
                        picture = decoded;
                    }
                } catch (const platform::Exception&) {
                    throw;
                } catch (...) {
                    picture.reset();
                }
            }
            frame->FreeData();
            frame->m_cbData = 0;
            if (picture && HasData(picture.get()) && picture->m_nWidth > 0) {
                if (!m_mjpegCompressor) {
                    m_mjpegCompressor = FrameCodecs::CreateCompressor();
                    if (m_mjpegCompressor) m_mjpegCompressor->Init(1, FrameCodecs::CodecVersionFromName("MJPEG"));
                }
                int n = 0;
                if (m_mjpegCompressor) {
                    try {
                        std::vector<uint8_t> packed;
                        if (const uint8_t* pixels = picture->ContiguousData(packed))
                            n = m_mjpegCompressor->Compress(pixels, 1, picture->m_nWidth, picture->m_nHeight,
                                                            picture->m_bColor, 1, LayoutOf(picture->m_nFormat));
                    } catch (...) {
                        n = 0;
                    }
                }
                if (n > 0 && frame->AllocData(static_cast<uint32_t>(n))) {
                    std::memcpy(frame->m_pData, m_mjpegCompressor->GetOutput(), static_cast<size_t>(n));
                    frame->m_cbData = static_cast<uint32_t>(n);
                    frame->m_nWidth = picture->m_nWidth;
                    frame->m_nHeight = picture->m_nHeight;
                    frame->m_nFormat = FrameFormatCompressed;
                }
            }
        }
        frame->m_nTotalFrames = static_cast<int32_t>(m_frameCount);
        file.SeekToEnd();
    } catch (const platform::FileException& e) {
        QOR_LOG_ERROR(Log(), "%s", FailureReports::RecorderReadFrameFileError(fsName, e).c_str());
    } catch (const platform::ArchiveException& e) {
        QOR_LOG_ERROR(Log(), "%s", FailureReports::RecorderReadFrameArchiveError(fsName, e).c_str());
    }
}
