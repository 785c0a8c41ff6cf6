#pragma once
// One archive video file played on its own (a file exported from the
// recorder's archive): a current frame number, single steps forward and
// backward, seeking by time, and the file's span and paths as play
// information. Used by one thread at a time; holds no lock of its own.

#include <cstdint>
#include <functional>
#include <string>

#include "archive/files/DynamicFramesReader.h"
#include "archive/files/PlayInfo.h"
#include "base/VideoFrame.h"

class OrlekVideoFile : public Storage::IPlayInfo {
public:
    // Why the last Step returned nothing.
    enum StopState : uint8_t {
        NotStopped = 0,
        StoppedAtFirst = 1,  // backward step refused at frame 0
        StoppedAtLast = 2,   // forward step refused at the last frame
    };

    OrlekVideoFile();
    ~OrlekVideoFile() override;

    // Closes the file held and opens `path` (any archive id header accepted).
    // Resets the position and the stop state; file times and camera id are
    // taken from the file (0 when it has none). false (logged) on failure.
    bool Open(const std::string& path);

    // The frame at the current number, read into `frame` when given, else
    // into a new frame. Null while stopped or when no file is ready. The
    // result holds one reference for the caller.
    VideoFramePtr ReadCurrentFrame(VideoFrame* frame = nullptr);
    // One frame forward or backward; null (and the stop state set) at the
    // ends of the file.
    VideoFramePtr Step(bool forward);
    // The frame at a local time (frame 0 before the file, the last frame past
    // it); clears the stop state.
    VideoFramePtr SeekTime(const TSS& time);
    // Times of the first and the last frame (logged when they run backwards);
    // always true.
    bool GetTimeBounds(TSS& begin, TSS& end);

    // which 1: the record for no file; else this file with its companion
    // sound file and its span (UTC).
    Storage::PlayFileInfo GetCurrentFileInfo(int which) override;

    uint64_t GetCurrentFrame() const { return m_currentFrame; }
    void SetCurrentFrame(uint64_t n) { m_currentFrame = n; }
    uint8_t GetStopState() const { return m_stopState; }
    // Creation (begin) and last-write (end) time of the file, local.
    const RecordInterval& GetFileTimes() const { return m_fileTimes; }
    int32_t GetCameraId() const { return m_cameraId; }
    DynamicFramesReader& GetReader() { return m_reader; }
    const DynamicFramesReader& GetReader() const { return m_reader; }

private:
    // Reads into a new frame through `read` (which answers the number read)
    // and takes that number as the current frame.
    VideoFramePtr ReadWith(const std::function<int64_t(VideoFrame&)>& read);

    uint64_t m_currentFrame = 0;
    DynamicFramesReader m_reader;
    uint8_t m_stopState = NotStopped;
    RecordInterval m_fileTimes{};
    int32_t m_cameraId = 0;
};

// Camera number from an archive file's extension: "._05" -> 5, "._A0" -> 100
// (hexadecimal above two decimal digits, minus 60); -1 for a name that is not
// an archive file of any channel.
int32_t GetArchiveFileCameraId(const std::string& path);

// Creation time (begin) and last-write time (end) of a file as local times;
// all zero when they cannot be read.
RecordInterval GetFileTimes(const std::string& path);
