#include "FSImplementation/OrlekVideoFile.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>

#include "archive/files/FileReader.h"
#include "base/Log.h"

namespace {

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

// UTC instant of a local time stamp; not-a-date-time for the empty stamp.
boost::posix_time::ptime UtcPtimeOf(const TSS& t) {
    if (t.IsEmpty()) return boost::posix_time::ptime(boost::posix_time::not_a_date_time);
    const uint64_t archive = t.ToUtcMilliseconds();
    if (archive < kArchiveUnixOffsetMs) return boost::posix_time::ptime(boost::posix_time::not_a_date_time);
    static const boost::posix_time::ptime epoch(boost::gregorian::date(1970, 1, 1));
    return epoch + boost::posix_time::milliseconds(static_cast<int64_t>(archive - kArchiveUnixOffsetMs));
}

TSS LocalOf(const statx_timestamp& t) {
    const uint64_t unixMs = static_cast<uint64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
    return TSS::FromUtc(unixMs + kArchiveUnixOffsetMs);
}

}  // namespace

int32_t GetArchiveFileCameraId(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return -1;
    const std::string ext = name.substr(dot);
    if (ext.size() < 2 || ext.compare(0, 2, "._") != 0) return -1;
    const std::string s = ext.substr(2);
    if (s.empty() || s.size() > 7) return -1;
    bool decimal = true;
    for (unsigned char c : s) {
        if (!std::isxdigit(c)) return -1;
        if (!std::isdigit(c)) decimal = false;
    }
    if (s.size() <= 2 && decimal) return static_cast<int32_t>(std::strtol(s.c_str(), nullptr, 10));
    const long value = std::strtol(s.c_str(), nullptr, 16);
    // Cameras above 99 are written as camera + 60 in hexadecimal, so short
    // hexadecimal names below A0 name no camera: they would give negative
    // numbers or collide with the decimal names of cameras up to 99.
    if (s.size() <= 2 && value < 0xA0) return -1;
    return static_cast<int32_t>(value - 60);
}

RecordInterval GetFileTimes(const std::string& path) {
    RecordInterval times{};
    struct statx stx;
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &stx) != 0) return times;
    if (!(stx.stx_mask & STATX_MTIME)) return times;
    // Without a birth time the file system keeps no creation time; the last
    // write time stands in for it.
    times.begin = LocalOf((stx.stx_mask & STATX_BTIME) ? stx.stx_btime : stx.stx_mtime);
    times.end = LocalOf(stx.stx_mtime);
    return times;
}

OrlekVideoFile::OrlekVideoFile() : m_reader(false) {}

OrlekVideoFile::~OrlekVideoFile() { m_reader.Close(); }

bool OrlekVideoFile::Open(const std::string& path) {
    m_reader.Close();
    m_cameraId = 0;
    m_currentFrame = 0;
    m_stopState = NotStopped;
    m_fileTimes = RecordInterval{};
    errno = 0;
    if (!m_reader.Open(path, 0)) {
        QOR_LOG_ERROR(Log(), "Failed to open videofile %s, error = %d", path.c_str(), errno);
        return false;
    }
    m_fileTimes = ::GetFileTimes(path);
    const int32_t camera = GetArchiveFileCameraId(path);
    m_cameraId = camera == -1 ? 0 : camera;
    return true;
}

VideoFramePtr OrlekVideoFile::ReadCurrentFrame(VideoFrame* frame) {
    if (m_stopState != NotStopped || !m_reader.IsReady()) return nullptr;
    VideoFramePtr result = frame ? VideoFramePtr(frame) : VideoFramePtr(new VideoFrame("", 0), false);
    m_reader.ReadFrame(*result, m_currentFrame, false, true, 1.0, false);
    return result;
}

VideoFramePtr OrlekVideoFile::Step(bool forward) {
    if (forward)
        m_stopState = m_currentFrame + 1 == m_reader.GetFrameCount() ? StoppedAtLast : NotStopped;
    else
        m_stopState = m_currentFrame == 0 ? StoppedAtFirst : NotStopped;
    if (m_stopState != NotStopped || !m_reader.IsReady()) return nullptr;
    const uint64_t target = forward ? m_currentFrame + 1 : m_currentFrame - 1;
    // A backward step is a forward read of the previous frame.
    return ReadWith([this, target](VideoFrame& frame) {
        m_currentFrame = target;
        return m_reader.ReadFrame(frame, target, false, true, 1.0, false);
    });
}

VideoFramePtr OrlekVideoFile::SeekTime(const TSS& time) {
    m_stopState = NotStopped;
    if (!m_reader.IsReady()) return nullptr;
    return ReadWith([this, &time](VideoFrame& frame) { return m_reader.ReadFrameAtTime(frame, time, false, true); });
}

VideoFramePtr OrlekVideoFile::ReadWith(const std::function<int64_t(VideoFrame&)>& read) {
    VideoFramePtr frame(new VideoFrame("", 0), false);
    const int64_t number = read(*frame);
    if (number >= 0) m_currentFrame = static_cast<uint64_t>(number);
    const uint64_t count = m_reader.GetFrameCount();
    if (number >= 0 && count > 0 && static_cast<uint64_t>(number) == count) {
        // A time past the last frame: the last frame stands for it.
        m_currentFrame = count - 1;
        ReadCurrentFrame(frame.get());
    }
    return frame;
}

bool OrlekVideoFile::GetTimeBounds(TSS& begin, TSS& end) {
    const RecordInterval interval = m_reader.GetRecordInterval(TSS{}, false);
    begin = interval.begin;
    end = interval.end;
    if (TSS::IsEarlier(end, begin)) {
        const std::string b = begin.ToString(true, true);
        const std::string e = end.ToString(true, true);
        QOR_LOG_ERROR(Log(), "Incorrect frame direction in file %s. Begin time=%s, end time=%s.",
                      m_reader.GetFileName().c_str(), b.c_str(), e.c_str());
    }
    return true;
}

Storage::PlayFileInfo OrlekVideoFile::GetCurrentFileInfo(int which) {
    Storage::PlayFileInfo info;
    if (which == 1 || !m_reader.IsReady()) return info;
    info.videoPath = m_reader.GetFilePath();
    info.audioPath = GetCompanionFileName(info.videoPath);
    TSS begin, end;
    GetTimeBounds(begin, end);
    info.period = boost::posix_time::time_period(UtcPtimeOf(begin), UtcPtimeOf(end));
    return info;
}
